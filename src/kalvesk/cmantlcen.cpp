#include "cmantlcen.h"

#include <cstdio>

#include "comun/gestormutex.h"
#include "comun/tiempo.h"

void CMantLcen::Inicia(int32_t iRecurso) {
    char szNombre[32];
    snprintf(szNombre, sizeof szNombre, "CMantLcen[%02d].tMutex", iRecurso);
    CreaMutex(szNombre, &tMutex, nullptr);
    FijaIdEventos(iRecurso);
}

void CMantLcen::Duracion(uint32_t uiInicio, uint32_t uiTicks, char* acTexto, size_t n) {
    snprintf(acTexto, n, "%d", static_cast<int>((uiTicks - uiInicio) / 100));
}

void CMantLcen::RegistraLlamadaEntrante(time_t tAhora, uint32_t uiTicks) {
    uiInicioEntrante = uiTicks;
    char acFecha[40];
    FormateaFechaHora(tAhora, acFecha, sizeof acFecha);
    Evento(REG_ENTRANTE, acFecha);
}

void CMantLcen::RegistraFinLlamadaEntrante(time_t tAhora, uint32_t uiTicks) {
    char acFecha[40], acDuracion[16];
    FormateaFechaHora(tAhora, acFecha, sizeof acFecha);
    Duracion(uiInicioEntrante, uiTicks, acDuracion, sizeof acDuracion);
    printf("CMANTLC: Fin llamada entrante: %s | %s\n", acDuracion, acFecha);
    Evento(REG_FIN_ENTRANTE, acDuracion, acFecha);
}

void CMantLcen::RegistraLlamadaSaliente(time_t tAhora, uint32_t uiTicks) {
    uiInicioSaliente = uiTicks;
    char acFecha[40];
    FormateaFechaHora(tAhora, acFecha, sizeof acFecha);
    Evento(REG_SALIENTE, acFecha);
}

void CMantLcen::RegistraFinLlamadaSaliente(time_t tAhora, uint32_t uiTicks) {
    char acFecha[40], acDuracion[16];
    FormateaFechaHora(tAhora, acFecha, sizeof acFecha);
    Duracion(uiInicioSaliente, uiTicks, acDuracion, sizeof acDuracion);
    Evento(REG_FIN_SALIENTE, acDuracion, acFecha);
}
