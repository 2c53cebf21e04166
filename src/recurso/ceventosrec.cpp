#include "ceventosrec.h"

#include <cstdio>
#include <exception>
#include <cstring>
#include <string>

#include "cfg/cfgpasarela.h"
#include "comun/nlog.h"
#include "mainrecurso.h"
#include "red/cudpsocket.h"
#include "red/histclient.h"

namespace {
// Lives until exit: records may still be queued while the process ends.
HistClient& Historico() {
    static HistClient& h = *new HistClient;
    return h;
}

// The record's name, the interface type, the port word and the radio words, read under the
// configuration lock.
struct DatosRegistro {
    char szNombre[65];
    int32_t iTipoIf;
    int32_t iPuerto;
    int32_t iTipoRadio;
};

DatosRegistro LeeRegistro() {
    DatosRegistro d{};
    cfgCerrojo c(mrecMutexConfig());
    const cfgConfigRecurso* r = mrecRegistro();
    memcpy(d.szNombre, r->nombre, 64);
    d.iTipoIf = r->iTipoIf;
    d.iPuerto = r->iSnmpPuertoRemoto;
    d.iTipoRadio = r->uParam.radio.iTipoRadio;
    return d;
}
}  // namespace

int CEventosRec::FijaIdEventos(int32_t iRec) {
    iRecurso = iRec;
    snprintf(acRecurso, sizeof acRecurso, "%i", iRec);
    static bool bArrancado = false;
    if (!bArrancado) {
        bArrancado = true;
        Historico().Start();
    }
    return 0;
}

int CEventosRec::Evento(int iCodigo, const char* szTexto1, const char* szTexto2) {
    if (szTexto1)
        NLOG::Log(NLOG::INFO, "Evento: %d %s", iCodigo, szTexto1);
    else
        NLOG::Log(NLOG::INFO, "Evento: %d", iCodigo);
    const DatosRegistro d = LeeRegistro();
    Historico().AnadeHistorico(iCodigo, d.szNombre, szTexto1 ? szTexto1 : "", szTexto1 && szTexto2 ? szTexto2 : "",
                               "");
    return 0;
}

int CEventosRec::EnviaMant(const char* pcTexto, int iLong) {
    const DatosRegistro d = LeeRegistro();
    const int iPuerto = d.iPuerto == 0 ? PUERTO_AGENTE : d.iPuerto;
    // The socket classes throw: a record that cannot leave is lost, the caller goes on.
    try {
        CUDPSocket oSocket;
        oSocket.SendTo(pcTexto, static_cast<size_t>(iLong), CSocketAddress("127.0.0.1", iPuerto));
    } catch (const std::exception& e) {
        NLOG::Log(NLOG::ERROR, "Evento: no se envia al agente (%s)", e.what());
        return -1;
    }
    return 0;
}

int CEventosRec::EnviaEstadoRecurso(int iFlag, int32_t b, int32_t c) {
    const DatosRegistro d = LeeRegistro();
    char acTexto[200];
    int n;
    if (d.iTipoIf == TIPOIF_RADIO)
        n = snprintf(acTexto, sizeof acTexto, "V,N07,%i,%s,%i,%i,%i,%x,%d,%s", iRecurso, d.szNombre, d.iTipoIf, iFlag,
                     b, static_cast<unsigned>(c), d.iTipoRadio, "-");
    else
        n = snprintf(acTexto, sizeof acTexto, "V,N07,%i,%s,%i,%i,%i,%x,%d,%s", iRecurso, d.szNombre, d.iTipoIf, iFlag,
                     b, static_cast<unsigned>(c), 9, "-");
    if (n < 0) return -1;
    if (n >= static_cast<int>(sizeof acTexto)) n = sizeof acTexto - 1;
    return EnviaMant(acTexto, n);
}
