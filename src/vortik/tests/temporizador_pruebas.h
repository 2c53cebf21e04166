// The core's timer object stepped by the test: its own thread never ticks, Avanza ticks on
// the test's thread (call-backs run there).
#pragma once

#include "comun/ctemporizador.h"
#include "comun/tests/cfuenteparada.h"
#include "temporizadorvortik.h"

namespace pruebas {

// Installs itself as poTemporizador while it lives.
class CTemporizadorManual {
public:
    explicit CTemporizadorManual(unsigned int n = 32) {
        oTemporizador.Inicia(n, &oFuente);
        poTemporizador = &oTemporizador;
    }
    ~CTemporizadorManual() { poTemporizador = nullptr; }
    void Avanza(int iTicks) {
        for (int i = 0; i < iTicks; i++) oTemporizador.Tick();
    }
    CTemporizador& Objeto() { return oTemporizador; }

private:
    CFuenteParada oFuente;  // outlives the timer, which wakes it when destroyed
    CTemporizador oTemporizador;
};

}  // namespace pruebas
