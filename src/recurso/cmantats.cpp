#include "cmantats.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "ccontextorecurso.h"
#include "cfg/cfgpasarela.h"
#include "comun/ganchosipc.h"
#include "comun/gestormutex.h"
#include "comun/nlog.h"
#include "comun/tiempo.h"
#include "red/csocketaddress.h"
#include "red/cudpsocket.h"
#include "red/histclient.h"

namespace {
constexpr uint32_t CLASE_ATS = 0x10;
constexpr int PUERTO_AGENTE = 65000;
const char* const kResultados[] = {"L", "O", "F", "C"};

HistClient& Cliente() {
    static HistClient& o = *new HistClient;  // its thread runs until the process ends
    return o;
}

// Cut to the destination's size, always terminated.
void Copia(char* pcDestino, size_t n, const char* szOrigen) {
    if (n == 0) return;
    const size_t l = szOrigen ? strnlen(szOrigen, n - 1) : 0;
    memcpy(pcDestino, szOrigen ? szOrigen : "", l);
    pcDestino[l] = '\0';
}

// Digit values as the characters '0'-'9'.
std::string Digitos(const char* pc, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += static_cast<char>('0' + pc[i]);
    return s;
}

int Puerto() {
    CContextoRecurso& x = *Mantats().Contexto();
    cfgCerrojo c(&x.tMutexConfig);
    const int p = x.sRegistro.iSnmpPuertoRemoto;
    return p == 0 ? PUERTO_AGENTE : p;
}

struct Identidad {
    char szNombre[65];
    int32_t iTipoIf;
};

// The trunk's configured name is its own copy; the live record is read under the configuration
// lock, as a new configuration may rename it.
Identidad LeeIdentidad() {
    Identidad d{};
    const CMANTATS& m = Mantats();
    if (m.Configurado()) {
        Copia(d.szNombre, sizeof d.szNombre, m.Nombre());
        d.iTipoIf = m.TipoIf();
        return d;
    }
    CContextoRecurso& x = *m.Contexto();
    cfgCerrojo c(&x.tMutexConfig);
    memcpy(d.szNombre, x.sRegistro.nombre, sizeof d.szNombre - 1);
    d.iTipoIf = x.sRegistro.iTipoIf;
    return d;
}
}  // namespace

CMANTATS& Mantats() {
    static CMANTATS o;
    return o;
}

int FijaIdEventos(IdEventos* pId, int iRec) {
    pId->iRec = iRec;
    snprintf(pId->szRec, sizeof pId->szRec, "%i", iRec);
    // The frame and the entity's call records both set an identity: one thread per process.
    static const bool bArrancado = (Cliente().Start(), true);
    (void)bArrancado;
    return 0;
}

int Evento(IdEventos*, int iCodigo, const char* szTexto1, const char* szTexto2) {
    const bool bTexto1 = szTexto1 != nullptr && szTexto1[0] != '\0';
    if (bTexto1)
        NLOG::Log(NLOG::INFO, "Evento: %d %s", iCodigo, szTexto1);
    else
        NLOG::Log(NLOG::INFO, "Evento: %d", iCodigo);
    Cliente().AnadeHistorico(iCodigo, LeeIdentidad().szNombre, bTexto1 ? szTexto1 : "",
                             bTexto1 && szTexto2 ? szTexto2 : "", "");
    return 0;
}

// A failed send loses the record: it is logged here, and the caller goes on.
int EnviaMant(IdEventos* pId, const char* pcTexto, int iLong) {
    try {
        CUDPSocket oSocket;
        oSocket.SendTo(pcTexto, static_cast<size_t>(iLong), CSocketAddress("127.0.0.1", Puerto()));
    } catch (const std::exception& e) {
        NLOG::Log(NLOG::ERROR, "EnviaMant[%d]: %s", pId->iRec, e.what());
        return -1;
    }
    return 0;
}

int EnviaEstadoRecurso(IdEventos* pId, uint32_t, int iFlag, int b, int c) {
    const Identidad d = LeeIdentidad();
    char ac[256];
    int n;
    if (d.iTipoIf == TIPOIF_RADIO) {
        int32_t iPrimera;
        {
            CContextoRecurso& x = *Mantats().Contexto();
            cfgCerrojo l(&x.tMutexConfig);
            memcpy(&iPrimera, x.sRegistro.uParam.aucBytes, sizeof iPrimera);
        }
        n = snprintf(ac, sizeof ac, "V,N07,%i,%s,%i,%i,%i,%x,%d,%s", pId->iRec, d.szNombre, d.iTipoIf, iFlag, b,
                     static_cast<unsigned>(c), iPrimera, Mantats().TextoRadio());
    } else {
        n = snprintf(ac, sizeof ac, "V,N07,%i,%s,%i,%i,%i,%x,%d,%s", pId->iRec, d.szNombre, d.iTipoIf, iFlag, b,
                     static_cast<unsigned>(c), 9, "-");
    }
    return EnviaMant(pId, ac, n);
}
int EnviaEstadoRecurso(IdEventos* pId, uint32_t t, int b, int c) { return EnviaEstadoRecurso(pId, t, 1, b, c); }
int EnviaEstadoRecurso(IdEventos* pId, uint32_t t) { return EnviaEstadoRecurso(pId, t, 0, 0, 0); }

int EnviaBucleFallido(IdEventos* pId) {
    char ac[80];
    int n = snprintf(ac, sizeof ac, "V,R02,%i,No se ha podido realizar el bucle", pId->iRec);
    return EnviaMant(pId, ac, n + 1);
}

int EnviaBucle(IdEventos* pId, int iTipo, const uint8_t aucEnviado[2], const uint8_t aucRecibido[2], int iMedida) {
    char acBucle[48];
    if (iTipo == 0)
        snprintf(acBucle, sizeof acBucle, "Bucle OFF");
    else if (iTipo == 1)
        snprintf(acBucle, sizeof acBucle, "Bucle Local Simple");
    else if (iTipo & 0x20)
        snprintf(acBucle, sizeof acBucle, "Bucle Local FD Emplazamiento %d", (iTipo & 15) + 1);
    else
        snprintf(acBucle, sizeof acBucle, "Bucle OFF");
    const int iRetardo = 5 * iMedida >= 41 ? 5 * iMedida - 40 : 0;
    char ac[256];
    int n = snprintf(ac, sizeof ac,
                     "V,R02,%i, %s:\nTono enviado: nivel %i dBm duracion %d sg \nTono recibido: nivel %i dBm duracion "
                     "%d sg retardo %d ms",
                     pId->iRec, acBucle, aucEnviado[0] - 256, aucEnviado[1], aucRecibido[0] - 256, aucRecibido[1],
                     iRetardo);
    return EnviaMant(pId, ac, n + 1);
}

void CMANTATS::Inicia(CContextoRecurso& contexto) {
    pContexto = &contexto;
    Copia(acNombre, sizeof acNombre, "?");
    Copia(acTexto, sizeof acTexto, "?");
    Copia(acCorto, sizeof acCorto, "?");
    Copia(acTroncal, sizeof acTroncal, "?");
    iTipoIf = -1;
    bConfigurado = false;
    FijaIdEventos(&sId, contexto.iRec);
}

void CMANTATS::Configura(const char* szNombre, int iTipo, const char* szTexto, const char* szCorto,
                         const char* szTroncal) {
    Copia(acNombre, sizeof acNombre, szNombre);
    iTipoIf = iTipo;
    Copia(acTexto, sizeof acTexto, szTexto);
    Copia(acCorto, sizeof acCorto, szCorto);
    Copia(acTroncal, sizeof acTroncal, szTroncal);
    bConfigurado = true;
}

int CMANTATS::FormateaInicio(char* pc, const char* pcOrigen, const char* pcDestino, int iCuenta, int iPrioridad,
                             int iResultado, int iTra, int iCh) const {
    const size_t TAM = MAX_REGISTRO + 1;
    if (iCuenta > MAX_DIGITOS) iCuenta = MAX_DIGITOS;
    if (iCuenta < 0) iCuenta = 0;
    if (iResultado < 0 || iResultado > 3) iResultado = 3;  // the table has four rows
    int n = snprintf(pc, TAM, "%s=%d%s%s=%s%s%s=", "IF", iTipoIf, "|", "TRO", acTroncal, "|", "NO");
    if (n < 0 || static_cast<size_t>(n) >= TAM) return static_cast<int>(strlen(pc));
    const std::string sOrigen = Digitos(pcOrigen, iCuenta), sDestino = Digitos(pcDestino, iCuenta);
    auto Anade = [&](const char* sz) {
        const size_t libre = TAM - static_cast<size_t>(n);
        if (strlen(sz) < libre) n += snprintf(pc + n, libre, "%s", sz);
    };
    Anade(sOrigen.c_str());
    char ac[TAM];
    snprintf(ac, sizeof ac, "%s%s=", "|", "ND");
    Anade(ac);
    Anade(sDestino.c_str());
    snprintf(ac, sizeof ac, "%s%s=%d%s%s=%s%s%s=%d%s%s=%d", "|", "PR", iPrioridad, "|", "EST", kResultados[iResultado],
             "|", "TRA", iTra & 0xFF, "|", "CH", iCh);
    Anade(ac);
    return n;
}

int CMANTATS::FormateaFin(char* pc, int iCh, uint32_t uiInicio, uint32_t uiAhora) const {
    return snprintf(pc, MAX_REGISTRO + 1, "%s=%d%s%s=%s%s%s=%d%s%s=%07d", "IF", iTipoIf, "|", "TRO", acTroncal, "|",
                    "CH", iCh, "|", "DL", static_cast<int>((uiAhora - uiInicio) / 100));
}

void CMANTATS::Inicio(int iCodigo, const char* szTraza, uint32_t* puiInicio, const char* pcOrigen,
                      const char* pcDestino, int iCuenta, int iPrioridad, int iResultado, int iTra, int iCh,
                      time_t tFecha, uint32_t uiAhora) {
    *puiInicio = uiAhora;
    IpcTraza(CLASE_ATS, szTraza, sId.iRec);
    char acRegistro[MAX_REGISTRO + 1];
    FormateaInicio(acRegistro, pcOrigen, pcDestino, iCuenta, iPrioridad, iResultado, iTra, iCh);
    char acFecha[32] = "";
    FormateaFechaHora(tFecha, acFecha, sizeof acFecha);
    Evento(&sId, iCodigo, acRegistro, acFecha);
}

void CMANTATS::Fin(int iCodigo, const char* szTraza, uint32_t uiInicio, int iCh, time_t tFecha, uint32_t uiAhora) {
    IpcTraza(CLASE_ATS, szTraza, sId.iRec);
    char acRegistro[MAX_REGISTRO + 1];
    FormateaFin(acRegistro, iCh, uiInicio, uiAhora);
    char acFecha[32] = "";
    FormateaFechaHora(tFecha, acFecha, sizeof acFecha);
    Evento(&sId, iCodigo, acRegistro, acFecha);
}

void CMANTATS::LlamadaEntrante(const char* o, const char* d, int n, int p, int r, int tra, int ch, time_t t,
                               uint32_t a) {
    Inicio(EVT_ENTRANTE, "CMANTATS[%d]: Llamada entrante\n", &uiInicioEntrante, o, d, n, p, r, tra, ch, t, a);
}
void CMANTATS::LlamadaSaliente(const char* o, const char* d, int n, int p, int r, int tra, int ch, time_t t,
                               uint32_t a) {
    Inicio(EVT_SALIENTE, "CMANTATS[%d]: Llamada saliente\n", &uiInicioSaliente, o, d, n, p, r, tra, ch, t, a);
}
void CMANTATS::FinLlamadaEntrante(int ch, time_t t, uint32_t a) {
    Fin(EVT_FIN_ENTRANTE, "CMANTATS[%d]: Fin llamada entrante.\n", uiInicioEntrante, ch, t, a);
}
void CMANTATS::FinLlamadaSaliente(int ch, time_t t, uint32_t a) {
    Fin(EVT_FIN_SALIENTE, "CMANTATS[%d]: Fin llamada saliente.\n", uiInicioSaliente, ch, t, a);
}
