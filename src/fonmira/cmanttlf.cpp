#include "cmanttlf.h"

#include <cstdio>
#include <cstring>

#include "comun/nlog.h"
#include "comun/tiempo.h"

namespace {
void Copia(char* szDestino, const char* szOrigen, size_t n) {
    strncpy(szDestino, szOrigen ? szOrigen : "", n);
    szDestino[n] = '\0';
}
}  // namespace

void CMantTlf::Inicializa(const char* szNombreLinea, int32_t iTipoIfLinea, const char* szDestinoLinea) {
    Copia(szNombre, szNombreLinea, MAX_TEXTO);
    iTipoIf = iTipoIfLinea;
    Copia(szDestino, szDestinoLinea, MAX_TEXTO);
}

void CMantTlf::Inicio(int iCodigo, const char* szLog, time_t tAhora, uint32_t uiTicks) {
    uiInicio = uiTicks;
    char acTexto[200];
    snprintf(acTexto, sizeof acTexto, "%s=%d%s%s=%s", "IF", iTipoIf, "|", "DS", szDestino);
    char acFecha[40];
    FormateaFechaHora(tAhora, acFecha, sizeof acFecha);
    NLOG::Log(NLOG::INFO, szLog, DameRecurso(), acTexto);
    Evento(iCodigo, acTexto, acFecha);
}

void CMantTlf::Fin(int iCodigo, const char* szLog, time_t tAhora, uint32_t uiTicks) {
    const uint32_t uiDuracion = (uiTicks - uiInicio) / 100;
    char acTexto[200];
    snprintf(acTexto, sizeof acTexto, "%s=%d%s%s=%s%s%s=%07d", "IF", iTipoIf, "|", "DS", szDestino, "|", "DL",
             static_cast<int>(uiDuracion));
    char acFecha[40];
    FormateaFechaHora(tAhora, acFecha, sizeof acFecha);
    NLOG::Log(NLOG::INFO, szLog, DameRecurso(), acTexto);
    Evento(iCodigo, acTexto, acFecha);
}

void CMantTlf::LlamadaEntrante(const char*, int, int, time_t tAhora, uint32_t uiTicks) {
    Inicio(REG_ENTRANTE, "CMANTTLF[%d]: Llamada entrante %s\n", tAhora, uiTicks);
}
void CMantTlf::LlamadaSaliente(const char*, int, int, time_t tAhora, uint32_t uiTicks) {
    Inicio(REG_SALIENTE, "CMANTTLF[%d]: Llamada saliente %s\n", tAhora, uiTicks);
}
void CMantTlf::FinLlamadaEntrante(time_t tAhora, uint32_t uiTicks) {
    Fin(REG_FIN_ENTRANTE, "CMANTTLF[%d]: Fin llamada entrante de duracion %s s.\n", tAhora, uiTicks);
}
void CMantTlf::FinLlamadaSaliente(time_t tAhora, uint32_t uiTicks) {
    Fin(REG_FIN_SALIENTE, "CMANTTLF[%d]: Fin llamada saliente de duracion %s s.\n", tAhora, uiTicks);
}
