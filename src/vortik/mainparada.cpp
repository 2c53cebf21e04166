#include "mainparada.h"

#include <chrono>

#include "comun/hilo.h"
#include "comun/nlog.h"
#include "csuperec.h"
#include "procesohijo.h"
#include "sip/cgus.h"
#include "superdsp.h"

namespace {
// The supervisors end in about a second; one still busy after this is left to the final kill.
constexpr int kMsSupervisores = 5000;
// The wait for children other threads are killing when the final kill comes.
constexpr int kMsRecogida = 1000;

bool Terminado(const CSupervisorRecurso& s) {
    const int e = s.DameEstado();
    return e == CSupervisorRecurso::ESTADO_TERMINADO || e == CSupervisorRecurso::ESTADO_NO_INICIADO;
}
}  // namespace

void mainDetienePlaca() {
    const auto t0 = std::chrono::steady_clock::now();
    auto Ms = [&t0] {
        return static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count());
    };
    NLOG::Log(NLOG::INFO, "MAIN: Deteniendo la placa");
    for (auto& s : aoSupervisorRecurso) s.Termina();
    for (bool bTodos = false; !bTodos && Ms() < kMsSupervisores;) {
        bTodos = true;
        for (const auto& s : aoSupervisorRecurso) bTodos = bTodos && Terminado(s);
        if (!bTodos) DuermeMs(10);
    }
    for (const auto& s : aoSupervisorRecurso)
        if (!Terminado(s))
            NLOG::Log(NLOG::ERROR, "MAIN: El supervisor del recurso %d no ha terminado", s.DameNumRecurso());
    SipParaPila();
    CSuperDsp::Termina();
    const int n = phTerminaTodos(kMsRecogida);
    NLOG::Log(NLOG::INFO, "MAIN: Placa detenida en %d ms, %d procesos muertos al final", Ms(), n);
}
