// CSupervisorRecurso: calls that come from SIP. A radio or data resource opens an RTP session
// with its process at once; a line resource places a call on its line and the session follows
// when the line answers. Every refusal answers the INVITE through the bridge with an internal
// reason that the bridge maps to the SIP answer.
#include <cstdio>
#include <cstring>
#include <string>

#include "cconfig.h"
#include "copcionesradio.h"
#include "csuperec.h"
#include "comun/nlog.h"
#include "comun/texto.h"
#include "comun/uri.h"
#include "ipc/cola.h"
#include "red/tcpcons.h"
#include "sip/cpasagus.h"
#include "sip/ctablapttid.h"
#include "sip/encaminauri.h"
#include "temporizadorvortik.h"

namespace {
constexpr int32_t TICKS_CONFIRMACION = 150;  // 15 s: the wait of a radio call for preemption
constexpr int GUARDA_PREEMPTION = 29;

template <size_t N>
void Copia(char (&destino)[N], const char* origen, size_t maximo = N - 1) {
    std::snprintf(destino, N, "%.*s", static_cast<int>(maximo < N - 1 ? maximo : N - 1), origen ? origen : "");
}

// What the incoming checks read of the record, copied under the configuration mutex.
struct DatosRecurso {
    int iTipoIf, iTipo, iTipoRadio, iRestriccion;
    char acDestino[sizeof cfgConfigRecurso::szDestino];
    char acUriRemota[sizeof cfgColateral::szUriRemota];
    char aacNegra[8][81], aacBlanca[8][81];
};

DatosRecurso LeeRecurso(const cfgConfigRecurso* r) {
    DatosRecurso d{};
    d.iTipoIf = d.iTipoRadio = -1;
    if (r == nullptr || superecDameConfig() == nullptr) return d;
    cfgCerrojo c(&superecDameConfig()->tMutex);
    d.iTipoIf = r->iTipoIf;
    d.iTipo = r->iTipo;
    // The type part is a union: the radio kind means something on radio records only.
    d.iTipoRadio = r->iTipoIf == TIPOIF_RADIO ? r->uParam.radio.iTipoRadio : -1;
    d.iRestriccion = r->iRestriccion;
    Copia(d.acDestino, r->szDestino);
    Copia(d.acUriRemota, r->sColateral.szUriRemota);
    for (int i = 0; i < 8; ++i) {
        Copia(d.aacNegra[i], r->listanegra[i]);
        Copia(d.aacBlanca[i], r->listablanca[i]);
    }
    return d;
}

int ListaUri(const DatosRecurso& d, const char* uri) {
    switch (d.iRestriccion) {
    case 0:
        return 0;
    case 1:
        for (int i = 0; i < 8; ++i) {
            if (d.aacNegra[i][0] == '\0') return 0;
            std::printf("%i- %s\n", i, d.aacNegra[i]);
            std::printf("%i- uri %s uri_lista %s\n", i, uri, d.aacNegra[i]);
            if (ComparaUri(uri, d.aacNegra[i]) == 0) return -1;
        }
        return 0;
    case 2:
        for (int i = 0; i < 8; ++i) {
            if (d.aacBlanca[i][0] == '\0') return -1;
            std::printf("%i- %s\n", i, d.aacBlanca[i]);
            std::printf("%i- uri %s uri_lista %s\n", i, uri, d.aacBlanca[i]);
            if (ComparaUri(uri, d.aacBlanca[i]) == 0) return 0;
        }
        return -1;
    default:
        return -1;
    }
}
}  // namespace

int CSupervisorRecurso::CompruebaListaUri(const char* szUri) { return ListaUri(LeeRecurso(psConfig), szUri ? szUri : ""); }

int CSupervisorRecurso::CompruebaOrigenRemoto(const char* szUri) {
    const DatosRecurso d = LeeRecurso(psConfig);
    return (d.acUriRemota[0] == '\0' || std::strcmp(d.acUriRemota, szUri ? szUri : "") == 0) ? 0 : -1;
}

// The level 0-4 the line is handed for a call from SIP, from the Max-Forwards it arrived with:
// the fewer forwards left, the more hops behind it.
int CSupervisorRecurso::MapeaValorLlamada(int v) {
    if (v < 7) return 4;
    if (v <= 10) return 3;
    if (v <= 15) return 2;
    if (v <= 18) return 1;
    return 0;
}

void CSupervisorRecurso::TrataInviteRadio(DatosEventoSip* e, int iTipo) {
    const int n = iMiNumRecurso;
    const int cid = e->cid;
    const DatosRecurso d = LeeRecurso(psConfig);
    auto Rechaza = [&](int motivo, InfoSesion* s) {
        poMiPasaGus->RechazaLlamada(iIdUsuarioSip, cid, motivo);
        if (s) LiberaInfoSesion(s);
    };
    if (d.iTipoIf == TIPOIF_RADIO && d.iTipoRadio >= 0 && d.iTipoRadio <= 3) {
        NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: llamada entrante cid=%i para un recurso radio local", n, cid);
        return Rechaza(203, nullptr);
    }
    const uint8_t prio = e->incomming_priority;
    if (std::strstr(e->acSubject, "radio") == nullptr || (prio != 1 && prio != 3)) {
        NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: llamada entrante cid=%i para un recurso radio mal subject=%s prio=%d", n, cid,
                  e->acSubject, prio);
        return Rechaza(227, nullptr);
    }
    if (e->iTipoSesion == 1 && std::strstr(e->txrxmode, "Tx")) {
        NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: Rechazada llamada entrante cid=%i (access mode no match)", n, cid);
        return Rechaza(226, nullptr);
    }
    InfoSesion* s;
    {
        cfgCerrojo l(oSesiones.Mutex());
        s = oSesiones.Asigna();
    }
    if (s == nullptr) {
        NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: No Info sesiones libres para llamada entrante cid=%i", n, cid);
        return Rechaza(201, nullptr);
    }
    if (e->iTipoSesion == 1 && (d.iTipo == 1 || d.iTipo == 3)) {
        NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: Rechazada llamada entrante cid=%i (access mode no match)", n, cid);
        return Rechaza(226, s);
    }
    if (ListaUri(d, e->acRemoto) != 0) {
        NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: origen no permitido cid=%i", n, cid);
        std::printf("CSUPEREC[%d]: origen no permitido cid=%i\n", n, cid);
        return Rechaza(214, s);
    }
    if (poOpcionesRadio && poOpcionesRadio->DamePermissionsCheck() == 1) {
        char usuario[64] = {};
        CopiaUsuarioUri(e->acRemoto, usuario);
        if (poOpcionesRadio->CompruebaPermiso(usuario, prio == 1 ? 1 : 0) != 0) {
            NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: Uri no permitida en la lista cid=%i", n, cid);
            return Rechaza(214, s);
        }
    }
    if (poOpcionesRadio && poOpcionesRadio->DameMultipleStreamsBlocked() == 1) {
        int r;
        {
            cfgCerrojo l(oSesiones.Mutex());
            r = oTablaPttId.BuscaPorIp(e->acRemoto);
        }
        if (r != -1) {
            NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: No permite multiples sesiones del mismo SCV cid=%i", n, cid);
            return Rechaza(228, s);
        }
    }
    if (e->fid[0] != '\0' && d.acDestino[0] != '0' && std::strcmp(d.acDestino, "id.desconocido.destino.rk82") != 0 &&
        std::strncmp(d.acDestino, "PAIRED", 6) != 0 && std::strncmp(e->fid, d.acDestino, 64) != 0) {
        NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: No coincide la frecuencia configurada con el fid cid=%i", n, cid);
        return Rechaza(222, s);
    }
    if (e->iTipoSesion == 2) {
        for (auto& o : oSesiones)
            if (&o != s && o.cid >= 0 && o.iTipoSesionSip == 2) {
                NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: Rechazada llamada entrante cid=%i (coupling not allowed)", n, cid);
                return Rechaza(225, s);
            }
    }
    // Room. A PTT id this call added is given back by every later refusal: refused callers
    // must not fill the table.
    int pttId = 0;
    bool pttNuevo = false;
    bool hayHueco = true;
    if (iTipo == 16) {
        cfgCerrojo l(oSesiones.Mutex());
        pttNuevo = oTablaPttId.BuscaPorNombre(e->acRemoto) < 1;
        pttId = oTablaPttId.Anade(e->acRemoto);
        if (pttId < 1) pttNuevo = false;
        int enUso = 0;
        for (auto& o : oSesiones)
            if (o.cid >= 0) ++enUso;
        const int maximo = poOpcionesRadio ? poOpcionesRadio->DameMaxSessions() : 12;
        hayHueco = pttId >= 1 && enUso < maximo;
    }
    auto DevuelvePtt = [&] {
        if (!pttNuevo) return;
        cfgCerrojo l(oSesiones.Mutex());
        oTablaPttId.BorraId(pttId);
        pttNuevo = false;
    };
    const bool preemption = !hayHueco && iTipo == 16 && poOpcionesRadio && poOpcionesRadio->DamePreemption() == 1;
    if (!hayHueco && !preemption) {
        NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: No puedo alojar PTT-ID/sesion para llamada entrante cid=%i", n, cid);
        DevuelvePtt();
        return Rechaza(201, s);
    }
    s->iPuertoLocal = e->iPuertoLocal;
    s->iPuertoRemoto = e->iPuertoRemoto;
    s->oDirRemota.TomaTexto(e->acDirRemota);
    s->ucPrioridad = prio;
    s->iRtphe = e->rtphe;
    s->iTipoSesionSip = e->iTipoSesion;
    s->iReposo = e->iTipoSesion == 3 ? 1 : 0;
    s->iTipoSesion = iTipo | 1;
    s->iPttId = pttId >= 1 ? pttId : 0;
    s->idllam = -1;
    s->iTipoSipMapeado = 0;
    s->iPayloadForzado = s->iPayload = e->iPayload;
    DireccionSesion ds;
    LlenaDireccionSesion(s, &ds);
    ds.iPttId = s->iPttId;
    ds.iRtpHe = e->rtphe;
    ds.iModoBss = e->bss == 0 ? 0 : (e->bss == 1 ? 1 : 2);
    ds.iPttRep = e->ptt_rep;
    ds.iPrioridad = prio;
    ds.iStandby = s->iReposo;
    NLOG::Log(NLOG::INFO,
              "CSUPEREC[%d]: Envio nueva sesion poCanalHijo=%i ,payload=%i, puertoremoto=%i, dirremota=%s, puertolocal=%i", n,
              CanalHijo() ? 1 : 0, s->iPayload, s->iPuertoRemoto, s->oDirRemota.texto, s->iPuertoLocal);
    Copia(s->Origen, e->acRemoto, 80);
    s->cid = cid;
    if (preemption) {
        s->iPreemption = 1;
        std::shared_ptr<Cola> canal = CanalHijo();
        if (!canal) {
            NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: Canal Hijo no encontrado", n);
            return;
        }
        // A wait that no guard would end could hold the record for good: no room then.
        s->iTempSesion = ArmaGuarda(TICKS_CONFIRMACION, GUARDA_PREEMPTION, cid);
        if (s->iTempSesion < 0) {
            s->iTipoSesion = 0;
            DevuelvePtt();
            return Rechaza(201, s);
        }
        canal->EnviaFinSesionPreemption(s->ucPrioridad);
        return;
    }
    s->iSesionPedida = 1;
    if (EnviaNuevaSesion(&ds, s) < 0) {
        NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: Nueva sesion no establecida", n);
        s->iTipoSesion = 0;
        DevuelvePtt();
        return Rechaza(203, s);
    }
}

void CSupervisorRecurso::TrataInviteGeneral(DatosEventoSip* e) {
    const int n = iMiNumRecurso;
    const int cid = e->cid;
    const DatosRecurso d = LeeRecurso(psConfig);
    char origen[81] = {}, destino[81] = {};
    if (SacaNumeroUri(e->acRemoto, origen, 79) < 0) Copia(origen, e->acRemoto, 80);
    uint8_t prio = e->incomming_priority ? e->incomming_priority : 2;
    if (SacaNumeroUri(e->acLocal, destino, 79) < 0) {
        if (d.iTipoIf == TIPOIF_AB) {
            destino[0] = '\0';
            NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Rechaza llamada No hay numero a marcar ", n);
        } else {
            Copia(destino, e->acLocal, 80);
        }
    }
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]::TrataInviteGeneral , origen=%s, destino = %s\n", n, origen, destino);
    const bool troncal = d.iTipoIf == TIPOIF_ATSR2 || d.iTipoIf == TIPOIF_ATSN5;
    if (troncal) {
        AsciiHexANibbles(reinterpret_cast<uint8_t*>(origen), static_cast<int>(std::strlen(origen)));
        AsciiHexANibbles(reinterpret_cast<uint8_t*>(destino), static_cast<int>(std::strlen(destino)));
    }
    InfoSesion* s;
    {
        cfgCerrojo l(oSesiones.Mutex());
        s = oSesiones.Asigna();
    }
    if (s == nullptr) {
        poMiPasaGus->RechazaLlamada(iIdUsuarioSip, cid, 201);
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Rechaza llamada No hay Infosesiones libres ", n);
        return;
    }
    Copia(s->Origen, e->acRemoto, 80);
    ::SacaUsuarioUri(s->Origen);  // the bridge's helper: cuts after user and host
    if (!troncal && d.iTipoIf != TIPOIF_ATSQSIG && CompruebaOrigenRemoto(s->Origen) != 0) {
        poMiPasaGus->RechazaLlamada(iIdUsuarioSip, cid, 214);
        LiberaInfoSesion(s);
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:origen no permitido cid=%i", n, cid);
        return;
    }
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:Envio llamada  poCanalHijo=%i prioridad=%i\n", n, CanalHijo() ? 1 : 0, prio);
    s->iLlamadaPedida = 1;
    s->iTipoSesion = 1;
    s->idsesion = -1;
    s->iTipoSipMapeado = MapeaValorLlamada(e->iMaxForwards);
    s->iTipoLlamada = std::strcmp(e->acSubject, "IA call") == 0 ? 1 : 2;
    s->iPayloadForzado = d.iTipoIf == TIPOIF_LCEN ? -1 : e->iPayload;
    s->iPayload = e->iPayload;
    s->iPuertoLocal = e->iPuertoLocal;
    s->iPuertoRemoto = e->iPuertoRemoto;
    s->oDirRemota.TomaTexto(e->acDirRemota);
    s->ucPrioridad = prio;
    Copia(s->acDestino, e->acLocal, 80);
    DatosLlamada dl;
    std::memset(&dl, 0, sizeof dl);
    std::memcpy(dl.acOrigen, origen, sizeof dl.acOrigen - 1);
    std::memcpy(dl.acDestino, destino, sizeof dl.acDestino - 1);
    dl.ucPrioridad = prio;
    dl.iTipoSip = s->iTipoSipMapeado;
    dl.iTipoLlamada = s->iTipoLlamada;
    // A priority-1 call on a QSIG line carries the channel the bridge chose to interrupt; every
    // other call the session's own numbering word, the INVITE's Max-Forwards.
    dl.iNumeracionQsig = d.iTipoIf == TIPOIF_ATSQSIG && prio == 1 ? e->canal : e->iMaxForwards;
    s->cid = cid;
    if (EnviaLlamadaSaliente(&dl, s) < 0) {
        poMiPasaGus->RechazaLlamada(iIdUsuarioSip, cid, 203);
        LiberaInfoSesion(s);
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Llamada Saliente no establecida", n);
        return;
    }
    NLOG::Log(NLOG::INFO, "---------------------------------(2)--psInfoSesion->Origen %s", s->Origen);
    NLOG::Log(NLOG::INFO, "---------psInfoSesion->idllam %i ", s->idllam);
}

void CSupervisorRecurso::Traplic_Replaces(int cidSustituido, DatosEventoSip* e) {
    if (e == nullptr || poMiPasaGus == nullptr) return;
    const int n = iMiNumRecurso;
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:Traplic_Replaces-TLF", n);
    InfoSesion* viejo = BuscaCid(cidSustituido);
    if (viejo == nullptr) {
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Traplic_Replaces InfoSesion no localizada cid = %d", n, cidSustituido);
        poMiPasaGus->RechazaSustitucion(iIdUsuarioSip, e->cid);
        return;
    }
    InfoSesion* s;
    {
        cfgCerrojo l(oSesiones.Mutex());
        s = oSesiones.Asigna();
    }
    if (s == nullptr) {
        poMiPasaGus->RechazaLlamada(iIdUsuarioSip, e->cid, 201);
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Rechaza llamada No hay Infosesiones libres ", n);
        return;
    }
    s->iPayloadForzado = s->iPayload = e->iPayload;
    s->iPuertoLocal = e->iPuertoLocal;
    s->iPuertoRemoto = e->iPuertoRemoto;
    s->oDirRemota.TomaTexto(e->acDirRemota);
    std::memcpy(s->Origen, viejo->Origen, sizeof s->Origen);
    std::memcpy(s->acDestino, viejo->acDestino, sizeof s->acDestino);
    s->ucPrioridad = viejo->ucPrioridad;
    s->idllam = viejo->idllam;
    s->iTipoSipMapeado = viejo->iTipoSipMapeado;
    s->iTipoLlamada = viejo->iTipoLlamada;
    s->iIndiceColateral = viejo->iIndiceColateral;
    DireccionSesion ds;
    LlenaDireccionSesion(s, &ds);
    PayloadsPorDireccion(e->iDirRemota, e->iPayload, &ds);
    ds.iStandby = e->iTipoSesion == 3 ? 1 : 0;
    ds.iPttRep = e->ptt_rep;
    viejo->idllam = -1;
    if (viejo->idsesion >= 0) {
        if (EnviaFinSesion(viejo->idsesion) < 0) NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Error fin sesion (%i)", n, viejo->idsesion);
        viejo->idsesion = -1;
    }
    // The resource process frees the old session before it takes the new one.
    Espera(500000);
    s->iTipoSesion = 1;
    s->iSesionPedida = 1;
    s->cid = e->cid;
    const int r = EnviaNuevaSesion(&ds, s);
    if (r >= 0 && (superecNivelConsola() & 0x8000)) TcpCons::Printf("Nueva sesion enviada \n");
    if (r < 0) {
        poMiPasaGus->RechazaLlamada(iIdUsuarioSip, e->cid, 0);
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Error modifica sesion ", n);
        LiberaInfoSesion(s);
        return;
    }
    CierraSesionCompleta(viejo, 0);
}
