// Records of a resource process for the local SNMP agent, the one implementation of every line
// entity: history records ("V,H00") queued through the process's one event-record client, and
// the notifications "V,N07" (state) and "V,R02" (loop test) sent as datagrams of their own.
// CMANTATS adds the call statistics of an ATS trunk: the start and end of every call as a
// record of key=value pairs joined by "|". No lock: the line entity calls it under its own.
#pragma once

#include <cstdint>
#include <ctime>

class CContextoRecurso;

// The resource's identity in the records.
struct IdEventos {
    int32_t iRec = -1;
    char szRec[12] = "";
};

class CMANTATS {
public:
    enum { MAX_REGISTRO = 199, MAX_DIGITOS = 8 };
    enum { EVT_ENTRANTE = 2300, EVT_FIN_ENTRANTE = 2301, EVT_SALIENTE = 2302, EVT_FIN_SALIENTE = 2303 };

    IdEventos sId;

    // Process start-up: texts "?", interface type -1, identity and the client's thread. The
    // context's record gives the agent's port and, until Configura, the name and type.
    void Inicia(CContextoRecurso& contexto);
    void Configura(const char* szNombre, int iTipoIf, const char* szTexto, const char* szCorto,
                   const char* szTroncal);
    // Call records: digit values, at most 8 of each are written.
    void LlamadaEntrante(const char* pcOrigen, const char* pcDestino, int iCuenta, int iPrioridad, int iResultado,
                         int iTra, int iCh, time_t tFecha, uint32_t uiAhora);
    void LlamadaSaliente(const char* pcOrigen, const char* pcDestino, int iCuenta, int iPrioridad, int iResultado,
                         int iTra, int iCh, time_t tFecha, uint32_t uiAhora);
    void FinLlamadaEntrante(int iCh, time_t tFecha, uint32_t uiAhora);
    void FinLlamadaSaliente(int iCh, time_t tFecha, uint32_t uiAhora);

    // The record texts, for whoever sends them and for the tests.
    int FormateaInicio(char* pcTexto, const char* pcOrigen, const char* pcDestino, int iCuenta, int iPrioridad,
                       int iResultado, int iTra, int iCh) const;
    int FormateaFin(char* pcTexto, int iCh, uint32_t uiInicio, uint32_t uiAhora) const;

    bool Configurado() const { return bConfigurado; }
    const char* Nombre() const { return acNombre; }
    int TipoIf() const { return iTipoIf; }
    const char* TextoRadio() const { return acTexto; }
    CContextoRecurso* Contexto() const { return pContexto; }

private:
    void Inicio(int iCodigo, const char* szTraza, uint32_t* puiInicio, const char* pcOrigen, const char* pcDestino,
                int iCuenta, int iPrioridad, int iResultado, int iTra, int iCh, time_t tFecha, uint32_t uiAhora);
    void Fin(int iCodigo, const char* szTraza, uint32_t uiInicio, int iCh, time_t tFecha, uint32_t uiAhora);

    CContextoRecurso* pContexto = nullptr;
    bool bConfigurado = false;
    char acNombre[65] = "?";
    int iTipoIf = -1;
    char acTexto[65] = "?";
    char acCorto[33] = "?";
    char acTroncal[33] = "?";
    uint32_t uiInicioEntrante = 0;
    uint32_t uiInicioSaliente = 0;
};

// The process's one object.
CMANTATS& Mantats();

// Stores the number; the first call in the process starts the history thread.
int FijaIdEventos(IdEventos* pId, int iRec);
// The records carry the name and interface type given to CMANTATS::Configura (the trunk), or,
// while it has none, those of the live resource record (telephone and hot-line processes).
// History record: the resource name, then the texts given (null or empty ends them).
int Evento(IdEventos* pId, int iCodigo, const char* szTexto1, const char* szTexto2);
// One datagram to the agent on the loopback address (the record's port, 65000 when 0).
int EnviaMant(IdEventos* pId, const char* pcTexto, int iLong);
int EnviaEstadoRecurso(IdEventos* pId, uint32_t uiTiempo, int iFlag, int b, int c);
int EnviaEstadoRecurso(IdEventos* pId, uint32_t uiTiempo, int b, int c);  // in service
int EnviaEstadoRecurso(IdEventos* pId, uint32_t uiTiempo);                // out of service
int EnviaBucleFallido(IdEventos* pId);
int EnviaBucle(IdEventos* pId, int iTipoBucle, const uint8_t aucEnviado[2], const uint8_t aucRecibido[2],
               int iMedida);
