// Event records of a resource process to the local SNMP agent: history records ("V,H00")
// queued through the process's HistClient thread, and the state notification ("V,N07") sent
// at once by UDP. One object per process; the call-record objects of the channel entities
// are built on it.
#pragma once

#include <cstdint>

class CEventosRec {
public:
    enum { PUERTO_AGENTE = 65000, TAM_TEXTO_REC = 16 };

    // Stores the resource number and starts the history thread (once per process). 0.
    int FijaIdEventos(int32_t iRecurso);
    // History record: the resource name, then the texts that are given. 0.
    int Evento(int iCodigo, const char* szTexto1 = nullptr, const char* szTexto2 = nullptr);
    // One datagram to the agent on the loopback address. 0, or -1 when it could not be sent.
    int EnviaMant(const char* pcTexto, int iLong);
    // "V,N07": the state of the resource (flag 1 in service, 0 out of service).
    int EnviaEstadoRecurso(int iFlag, int32_t b, int32_t c);
    int EnviaEnServicio(int32_t b, int32_t c) { return EnviaEstadoRecurso(1, b, c); }
    int EnviaFueraServicio() { return EnviaEstadoRecurso(0, 0, 0); }

    int32_t DameRecurso() const { return iRecurso; }

private:
    int32_t iRecurso = -1;
    char acRecurso[TAM_TEXTO_REC] = "";
};
