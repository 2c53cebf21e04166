// A resource process played by the test: the child's end of a real channel of queue 1 under a
// made-up pid, and the supervisor's end registered as the core registers its children's.
#pragma once

#include <unistd.h>

#include <memory>

#include "cconfig.h"
#include "csuperec.h"
#include "ipc/cola.h"
#include "ipcvortik.h"

namespace pruebas {

struct HijoFalso {
    std::shared_ptr<Cola> poNucleo;
    std::unique_ptr<Cola> poHijo;

    // fRegistra(Cola&) puts the child's handlers in before the supervisor can send.
    template <typename F>
    void Conecta(CSupervisorRecurso& sup, int32_t pidFalso, F fRegistra) {
        poHijo.reset(new Cola(getpid(), COLA_HIJO, 0, pidFalso));
        fRegistra(*poHijo);
        poNucleo = std::make_shared<Cola>(pidFalso, COLA_PADRE, 0, getpid());
        IpcVortik::RegistraCallbacks(poNucleo.get());
        cfgCerrojo l(&sup.tMutexGlobal);
        sup.poCanalHijo = poNucleo;
        sup.iPidHijo = pidFalso;
    }
};

}  // namespace pruebas
