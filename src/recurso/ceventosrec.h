// The event records of a channel entity's call-record object (CMantTlf, CMantLcen), under the
// entity's resource number: calls into the process's one implementation (cmantats.h).
#pragma once

#include <cstdint>

#include "cmantats.h"

class CEventosRec {
public:
    int FijaIdEventos(int32_t iRecurso) { return ::FijaIdEventos(&sId, iRecurso); }
    int Evento(int iCodigo, const char* szTexto1 = nullptr, const char* szTexto2 = nullptr) {
        return ::Evento(&sId, iCodigo, szTexto1, szTexto2);
    }
    // "V,N07": in service with the state and its value, or out of service.
    int EnviaEnServicio(int32_t b, int32_t c) { return EnviaEstadoRecurso(&sId, 0, b, c); }
    int EnviaFueraServicio() { return EnviaEstadoRecurso(&sId, 0); }

    int32_t DameRecurso() const { return sId.iRec; }

private:
    IdEventos sId;
};
