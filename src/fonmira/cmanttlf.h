// Call records of a telephone line to the local SNMP agent: start and end of incoming and
// outgoing calls as key=value texts. No lock: the entity calls it under its own.
#pragma once

#include <time.h>

#include <cstdint>

#include "ceventosrec.h"

class CMantTlf : public CEventosRec {
public:
    enum { REG_ENTRANTE = 2309, REG_FIN_ENTRANTE = 2310, REG_SALIENTE = 2311, REG_FIN_SALIENTE = 2312 };
    enum { MAX_TEXTO = 64, MAX_NUMEROS = 8 };

    // The destination is szDestino of the record, or szIdRed on AB lines.
    void Inicializa(const char* szNombreLinea, int32_t iTipoIfLinea, const char* szDestinoLinea);
    void FijaId(int32_t iRecurso) { FijaIdEventos(iRecurso); }

    // The numbers, their length and the priority are taken but not written in the record.
    void LlamadaEntrante(const char* pcNumeros, int iLong, int iPrioridad, time_t tAhora, uint32_t uiTicks);
    void LlamadaSaliente(const char* pcNumeros, int iLong, int iPrioridad, time_t tAhora, uint32_t uiTicks);
    void FinLlamadaEntrante(time_t tAhora, uint32_t uiTicks);
    void FinLlamadaSaliente(time_t tAhora, uint32_t uiTicks);

private:
    void Inicio(int iCodigo, const char* szLog, time_t tAhora, uint32_t uiTicks);
    void Fin(int iCodigo, const char* szLog, time_t tAhora, uint32_t uiTicks);

    char szNombre[MAX_TEXTO + 1] = "";
    int32_t iTipoIf = -1;
    char szDestino[MAX_TEXTO + 1] = "";
    uint32_t uiInicio = 0;  // board ticks at the last start record, either direction
};
