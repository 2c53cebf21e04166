// Call records of a hot line to the local SNMP agent: start and end of the incoming and of
// the outgoing call, each measured from its own start. The entity decides when to call.
#pragma once

#include <pthread.h>
#include <time.h>

#include <cstdint>

#include "ceventosrec.h"

class CMantLcen : public CEventosRec {
public:
    enum { REG_ENTRANTE = 2305, REG_FIN_ENTRANTE = 2306, REG_SALIENTE = 2307, REG_FIN_SALIENTE = 2308 };

    void Inicia(int32_t iRecurso);
    void RegistraLlamadaEntrante(time_t tAhora, uint32_t uiTicks);
    void RegistraFinLlamadaEntrante(time_t tAhora, uint32_t uiTicks);
    void RegistraLlamadaSaliente(time_t tAhora, uint32_t uiTicks);
    void RegistraFinLlamadaSaliente(time_t tAhora, uint32_t uiTicks);

private:
    // Duration in whole seconds since uiInicio, as "%d".
    static void Duracion(uint32_t uiInicio, uint32_t uiTicks, char* acTexto, size_t n);

    pthread_mutex_t tMutex;  // named for the mutex list; the records do not take it
    uint32_t uiInicioEntrante = 0;
    uint32_t uiInicioSaliente = 0;
};
