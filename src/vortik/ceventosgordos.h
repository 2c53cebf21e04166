// The core's sink of the configuration manager's change events: it starts, stops and
// reconfigures the resource supervisors, restarts time synchronisation, SIP parameters and the
// maintenance exchange, and asks the supervision loop for a new configuration dump.
#pragma once

#include "cgescfg.h"

class CEventosGordos : public CGestorCfg::CEventos {
public:
    void EvtReset() override;
    void EvtReiniciaParamsQLN() override;
    void EvtReiniciaVirtual() override;
    void EvtReiniciaSip() override;
    void EvtReiniciaSincro() override;
    void EvtReiniciaSnmp() override;
    void EvtReconfiguraEncamina() override;
    void EvtArrancaRecurso(int n) override;
    void EvtDetieneRecurso(int n) override;
    void EvtReconfiguraRecurso(int n) override;
    void EvtReconfiguraColaterales(int n) override;
    void EvtReiniciaMulticast() override;

    // The same operations with their results (0 done, -1 refused).
    int ArrancaRecurso(int n);
    int ReconfiguraRecurso(int n);
    int ReiniciaSincro();
};

extern CEventosGordos oEventosGordos;

// Forgets the last time-synchronisation set-up (start-up), so the next event restarts it.
void ReiniciaMemoriaSincro();
// Espera of the synchronisation restart (1 s between ntpdate and ntpd); for tests.
void FijaEsperaSincro(void (*fEspera)(unsigned int uiMs));
