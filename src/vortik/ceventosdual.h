// The core's sink of the redundancy manager's role changes.
#pragma once

#include "cgestordual.h"

class CEventosDual : public CGestorDual::CEventos {
public:
    // iEstado 0 principal, 1 reserve.
    int EvtCambioEstadoDual(int iEstado) override;
};

extern CEventosDual oEventosDual;
