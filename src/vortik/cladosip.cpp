#include "cladosip.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ccolateral.h"
#include "cconfig.h"
#include "comun/nlog.h"
#include "comun/texto.h"
#include "comun/uri.h"
#include "copcionesradio.h"
#include "ipc/cola.h"
#include "red/tcpcons.h"
#include "sip/cgestorllamada.h"
#include "sip/cpasagus.h"
#include "sip/encaminauri.h"

// What the incoming checks read of the record, copied under the configuration mutex.
struct CLadoSip::DatosRecurso {
    int iTipoIf, iTipo, iTipoRadio, iRestriccion;
    char acDestino[sizeof cfgConfigRecurso::szDestino];
    char acUriRemota[sizeof cfgColateral::szUriRemota];
    char aacNegra[8][81], aacBlanca[8][81];
};

namespace {

constexpr int32_t TICKS_RESPUESTA = 50;      // 5 s for the first answer of a call towards SIP
constexpr int32_t TICKS_FINAL = 400;         // 40 s for the final answer after ringing
constexpr int32_t TICKS_CONFIRMACION = 150;  // 15 s for the resource process to confirm
constexpr int32_t TICKS_REFER = 10;          // the NOTIFY of a failed transfer goes 1 s later

struct FilaFallo {
    int iEstado;
    CLadoSip::CausaFallo sCausa;
};

// SIP status -> motivo for the line, progression code for the call manager.
const FilaFallo kFalloSip[] = {
    {400, {210, 6}}, {401, {210, 6}}, {402, {210, 6}}, {403, {210, 6}}, {407, {210, 6}}, {413, {210, 6}},
    {414, {210, 6}}, {416, {210, 6}}, {420, {210, 6}}, {421, {210, 6}}, {423, {210, 6}}, {481, {210, 6}},
    {482, {210, 6}}, {483, {210, 6}}, {491, {210, 6}}, {493, {210, 6}}, {404, {205, 2}}, {405, {205, 2}},
    {406, {205, 2}}, {410, {205, 2}}, {415, {205, 2}}, {484, {205, 2}}, {485, {205, 2}}, {488, {205, 2}},
    {501, {205, 2}}, {604, {205, 2}}, {606, {205, 2}}, {408, {204, 7}}, {487, {204, 7}}, {480, {202, 3}},
    {486, {202, 3}}, {600, {202, 3}}, {603, {202, 3}}, {503, {206, 5}},
};
const CLadoSip::CausaFallo kFalloSipOtro = {203, 4};

// QSIG lines: an ITU-T Q.850 cause, always progression 6.
const FilaFallo kFalloQsig[] = {
    {404, {1, 6}},   {485, {1, 6}},   {604, {1, 6}},   {487, {16, 6}},  {486, {17, 6}},  {600, {17, 6}},
    {480, {18, 6}},  {401, {21, 6}},  {402, {21, 6}},  {403, {21, 6}},  {603, {21, 6}},  {410, {22, 6}},
    {482, {25, 6}},  {483, {25, 6}},  {484, {28, 6}},  {502, {38, 6}},  {405, {63, 6}},  {488, {65, 6}},
    {606, {65, 6}},  {406, {79, 6}},  {407, {79, 6}},  {415, {79, 6}},  {501, {79, 6}},  {408, {102, 6}},
    {504, {102, 6}}, {413, {127, 6}}, {414, {127, 6}}, {416, {127, 6}}, {420, {127, 6}}, {421, {127, 6}},
    {423, {127, 6}}, {505, {127, 6}}, {513, {127, 6}},
};
const CLadoSip::CausaFallo kFalloQsigOtro = {41, 6};

template <size_t N>
CLadoSip::CausaFallo Busca(const FilaFallo (&tabla)[N], int iEstado, CLadoSip::CausaFallo otro) {
    for (const auto& f : tabla)
        if (f.iEstado == iEstado) return f.sCausa;
    return otro;
}

using DatosRecurso = CLadoSip::DatosRecurso;

DatosRecurso LeeRecurso(CCONFIG* poCfg, const cfgConfigRecurso* r) {
    DatosRecurso d{};
    d.iTipoIf = d.iTipoRadio = -1;
    if (r == nullptr || poCfg == nullptr) return d;
    cfgCerrojo c(&poCfg->tMutex);
    d.iTipoIf = r->iTipoIf;
    d.iTipo = r->iTipo;
    // The type part is a union: the radio kind means something on radio records only.
    d.iTipoRadio = r->iTipoIf == TIPOIF_RADIO ? r->uParam.radio.iTipoRadio : -1;
    d.iRestriccion = r->iRestriccion;
    CopiaCampo(d.acDestino, r->szDestino);
    CopiaCampo(d.acUriRemota, r->sColateral.szUriRemota);
    for (int i = 0; i < 8; ++i) {
        CopiaCampo(d.aacNegra[i], r->listanegra[i]);
        CopiaCampo(d.aacBlanca[i], r->listablanca[i]);
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

// ---- Object ------------------------------------------------------------------------------------

CLadoSip::CLadoSip()
    : poMiPasaGus(nullptr), poGestorLlamada(nullptr), poOpcionesRadio(nullptr), iIdUsuarioSip(-1), poSup(nullptr),
      poSesiones(nullptr), iRecurso(-1), poCfg(nullptr), psRegistro(nullptr), iRefersPendientes(0) {}

CLadoSip::~CLadoSip() { delete poOpcionesRadio; }

void CLadoSip::IniciaSip(CSupervisor* poSupervisor, CTablaSesiones* poTabla, int iRec, CCONFIG* poConfig,
                         CPasaGus* poPasaGus, CGestorLlamada* poGestor) {
    poSup = poSupervisor;
    poSesiones = poTabla;
    iRecurso = iRec;
    poCfg = poConfig;
    psRegistro = &poConfig->asRecursos[iRec];
    poMiPasaGus = poPasaGus;
    poGestorLlamada = poGestor;
    poOpcionesRadio = new COpcionesRadio(iRec);
    iIdUsuarioSip = -1;
}

CLadoSip::Identidad CLadoSip::DameIdentidad() {
    Identidad id;
    cfgCerrojo c(&poCfg->tMutex);
    std::snprintf(id.acNombre, sizeof id.acNombre, "%.*s", static_cast<int>(sizeof id.acNombre - 1), psRegistro->nombre);
    std::snprintf(id.acFid, sizeof id.acFid, "%.*s", static_cast<int>(sizeof id.acFid - 1), psRegistro->szDestino);
    id.iTipoIf = psRegistro->iTipoIf;
    return id;
}

int CLadoSip::NivelConsola() {
    cfgCerrojo c(&poCfg->tMutex);
    return poCfg->iNivelConsola;
}

// ---- PTT ids -------------------------------------------------------------------------------------

void CLadoSip::LiberaPttIdSesion(InfoSesion* s) {
    if (s == nullptr || (s->iTipoSesion & 0xF0) != 0x10 || s->iPttId <= 0) return;
    int r;
    {
        cfgCerrojo l(poSesiones->Mutex());
        r = oTablaPttId.BorraId(s->iPttId);
    }
    // Freed once: a second release of the same record finds no id to give back.
    s->iPttId = 0;
    if (r < 0) NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]:Error liberando PTT-id", iRecurso);
    if (poMiPasaGus) poMiPasaGus->NotificaKeyIn(iIdUsuarioSip);
}

int CLadoSip::VuelcaPttId(char* szLista, size_t uiTam) {
    // Vuelca writes at most 15 lines of an id and a 64-character URI.
    char ac[CTablaPttId::MAX_PTT_ID * (CTablaPttId::LON_URI + 8) + 4] = {};
    {
        cfgCerrojo l(poSesiones->Mutex());
        oTablaPttId.Vuelca(ac);
    }
    if (ac[0] == '\0') std::strcpy(ac, "\r\n");
    size_t n = std::strlen(ac);
    if (szLista == nullptr || n >= uiTam) return -1;
    std::memcpy(szLista, ac, n + 1);
    return static_cast<int>(n);
}

int CLadoSip::DameListaPttId(char* szLista, size_t uiTam) {
    if (poSup == nullptr || poSup->HijoConfigurado() != 1 || DameIdentidad().iTipoIf != TIPOIF_RADIO) return -1;
    return VuelcaPttId(szLista, uiTam);
}

// ---- Shared helpers ----------------------------------------------------------------------------

void CLadoSip::LlenaDireccionSesion(const InfoSesion* s, DireccionSesion* d) {
    std::memset(d, 0, sizeof *d);
    d->iParametro = s->iTipoSipMapeado;
    d->iPayloadForzado = s->iPayloadForzado;
    d->iPayload = s->iPayload;
    d->iPuertoLocal = s->iPuertoLocal;
    d->uiDirRemota = s->oDirRemota.direccion;
    CopiaCampo(d->acDirRemota, s->oDirRemota.texto);
    d->iPuertoRemoto = s->iPuertoRemoto;
    // A collateral session's marker (-2, -3) is no call of the line.
    d->idllam = s->idllam >= 0 ? s->idllam : -1;
    d->iIndiceColateral = s->iIndiceColateral;
}

// A session or call that its guard cannot watch is ended at once (its confirmation, looked up
// under the same lock, then finds nothing): the caller refuses it as one that could not be sent.
template <class FEnvia, class FFin>
int CLadoSip::EnviaVigilado(int32_t* piId, int32_t* piGuarda, int iCodigo, FEnvia fEnvia, FFin fFin) {
    std::shared_ptr<Cola> canal = poSup->CanalHijo();
    if (!canal) return -1;
    cfgCerrojo l(poSesiones->Mutex());
    int32_t id = -1;
    if (fEnvia(*canal, &id) < 0 || id < 0) return -1;
    poSup->CancelaGuarda(piGuarda);
    *piGuarda = poSup->ArmaGuarda(TICKS_CONFIRMACION, iCodigo, id);
    if (*piGuarda < 0) {
        fFin(*canal, id);
        return -1;
    }
    *piId = id;
    return 0;
}

int CLadoSip::EnviaNuevaSesion(const DireccionSesion* d, InfoSesion* s) {
    return EnviaVigilado(
        &s->idsesion, &s->iTempSesion, GUARDA_SESION,
        [d](Cola& c, int32_t* pid) { return c.EnviaNuevaSesionId(d, pid); },
        [](Cola& c, int32_t id) { c.EnviaFinSesion(id); });
}

int CLadoSip::EnviaLlamadaSaliente(const DatosLlamada* d, InfoSesion* s) {
    return EnviaVigilado(
        &s->idllam, &s->iTempLlamada, GUARDA_LLAMADA,
        [d](Cola& c, int32_t* pid) { return c.EnviaLlamadaSalienteId(d, pid); },
        [](Cola& c, int32_t id) { c.EnviaFinLlamadaCausa(id, 0); });
}

int CLadoSip::EnviaFinSesion(int32_t idsesion) {
    if (idsesion < 0) return -1;
    std::shared_ptr<Cola> canal = poSup->CanalHijo();
    return canal ? canal->EnviaFinSesion(idsesion) : -1;
}

int CLadoSip::EnviaFinLlamada(int32_t idllam, int32_t iCausa) {
    if (idllam < 0) return -1;
    std::shared_ptr<Cola> canal = poSup->CanalHijo();
    return canal ? canal->EnviaFinLlamadaCausa(idllam, iCausa) : -1;
}

int CLadoSip::ColocaLlamada(DatosLlamadaGestor* pl, InfoSesion* s, int idllam) {
    int puerto = -1;
    int cid;
    {
        // The answer events look the call up under the same lock.
        cfgCerrojo l(poSesiones->Mutex());
        cid = ModoSistemaLocal != 0
                  ? poMiPasaGus->LanzaLlamadaSip(iIdUsuarioSip, pl, &puerto)
                  : (poGestorLlamada ? poGestorLlamada->EncaminaLlamada(iIdUsuarioSip, pl, &puerto) : -1);
        if (cid < 0) return cid;
        s->cid = cid;
        s->idllam = idllam;
        s->iPuertoLocal = puerto;
        poSup->CancelaGuarda(&s->iTempAux);
        s->iTempAux = poSup->ArmaGuarda(TICKS_RESPUESTA, GUARDA_RESPUESTA, cid);
        if (s->iTempAux >= 0) return cid;
    }
    // Unwatched, an unanswered call would hold the line for good: it ends now, and the caller's
    // release gives back its port and its routing.
    CierraSip(cid, 0);
    return -1;
}

void CLadoSip::PayloadsPorDireccion(int iDireccion, int iPayload, DireccionSesion* d) {
    switch (iDireccion) {
    case 0: d->iPayloadForzado = d->iPayload = iPayload; break;
    case 1: d->iPayloadForzado = -1; d->iPayload = iPayload; break;
    case 2: d->iPayloadForzado = iPayload; d->iPayload = -1; break;
    default: d->iPayloadForzado = d->iPayload = -1; break;
    }
}

// Without a cause the session just ends; with one the cause travels in the BYE.
void CLadoSip::CierraSip(int cid, int iCausa) {
    if (cid < 0 || poMiPasaGus == nullptr) return;
    const int r = iCausa == 0 ? poMiPasaGus->FinalizaSesion(iIdUsuarioSip, cid)
                              : poMiPasaGus->CierraSesion(iIdUsuarioSip, cid, iCausa);
    if (r < 0)
        NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: Gus::Trata_Close_Session(%d) devolvio error %d", iRecurso, cid, r);
}

// ---- Status maps and the failure path ----------------------------------------------------------

CLadoSip::CausaFallo CLadoSip::CausaFalloSip(int iEstado) {
    return Busca(kFalloSip, iEstado, kFalloSipOtro);
}

CLadoSip::CausaFallo CLadoSip::CausaFalloSipQsig(int iEstado) {
    return Busca(kFalloQsig, iEstado, kFalloQsigOtro);
}

int CLadoSip::Tr_Fallo_Llamada(InfoSesion* s, int iEstado) {
    if (s == nullptr) {
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:Tr_Fallo_Llamada no infosesion ", iRecurso);
        return -1;
    }
    // A call the SIP side offered to the line (its caller gave up, or its dialog failed) ends:
    // no other destination is tried and the line is not refused; the clean-up that follows
    // releases the line, the routing and the port.
    if ((s->iTipoSesion & 0x0F) == 1) {
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:Tr_Fallo_Llamada llamada entrante cid=%d motivo %i", iRecurso, s->cid,
                  iEstado);
        return -1;
    }
    InfoSesion* otra = nullptr;
    if (s->idllam >= 0) {
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:Tr_Fallo_Llamada %i motivo %i", iRecurso, s->idllam, iEstado);
        poSup->CancelaGuarda(&s->iTempAux);
        const CausaFallo c = DameIdentidad().iTipoIf == TIPOIF_ATSQSIG ? CausaFalloSipQsig(iEstado) : CausaFalloSip(iEstado);
        if (ModoSistemaLocal == 0 && poGestorLlamada) {
            const int nuevo = poGestorLlamada->ProgresionLlamada(iIdUsuarioSip, s->cid, c.iProgresion, &s->iPuertoLocal);
            if (nuevo >= 0) {
                s->cid = nuevo;
                s->iTempAux = poSup->ArmaGuarda(TICKS_RESPUESTA, GUARDA_RESPUESTA, nuevo);
                if (s->iTempAux >= 0) return 0;
                // Unwatched, the new attempt ends now and the line hears the failure.
                CierraSip(nuevo, 0);
            }
        }
        for (InfoSesion* o = poSesiones->BuscaSiguientePorIdLlamada(nullptr, s->idllam); o;
             o = poSesiones->BuscaSiguientePorIdLlamada(o, s->idllam))
            if (o != s) {
                otra = o;
                break;
            }
        if (otra == nullptr) {
            std::shared_ptr<Cola> canal = poSup->CanalHijo();
            if (!canal)
                NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:canal Hijo no encontrado", iRecurso);
            else if (canal->EnviaRechazaLlamada(s->idllam, c.iMotivo) < 0)
                NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Error rechaza llamada motivo %d ", iRecurso, iEstado);
            else
                NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: rechaza llamada motivo %d ", iRecurso, iEstado);
        }
    } else {
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:Error en CSupervisorRecurso::Tr_Fallo_Llamada", iRecurso);
    }
    if (s->iCidRefer >= 0 && s->iGestorTransferencia == -1) {
        if (otra) {
            if (otra->iGestorTransferencia == 1)
                otra->iGestorTransferencia = otra->iCidRefer = -1;
            else
                NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: Error, la llamada no es gestor de la trf ", iRecurso);
        }
        if (poMiPasaGus) poMiPasaGus->NotificaRefer(iIdUsuarioSip, s->iCidRefer, "SIP/2.0 503 Service Unavailable");
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:Transferencia no realizada( %d )", iRecurso, s->iCidRefer);
    }
    return -1;
}

void CLadoSip::VenceRespuestaSip(int iCodigo, int cid) {
    switch (iCodigo) {
    case GUARDA_RESPUESTA: {
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Vence Respuesta StartCall", iRecurso);
        InfoSesion* s = BuscaCid(cid);
        if (s == nullptr) {
            NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: Vence start call info not found", iRecurso);
            return;
        }
        if (s->iTempAux == -1) return;
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Cierra cid %d", iRecurso, cid);
        CierraSip(cid, 0);
        s->iTempAux = -1;
        if (Tr_Fallo_Llamada(s, 408) == -1) poSup->LiberaInfoSesion(s);
        return;
    }
    case GUARDA_FINAL: {
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Vence Outgoing Call Answer", iRecurso);
        InfoSesion* s = BuscaCid(cid);
        if (s == nullptr) {
            NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Vence Outgoing Call Answer cid %d info not found", iRecurso, cid);
            return;
        }
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Anula la llamada  cid %d ", iRecurso, cid);
        CierraSip(cid, 0);
        s->iTempAux = -1;
        Funcion_LimpiaSesion(s);
        return;
    }
    default:
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:Codigo desconocido en VenceTemp_Respuesta (%i)", iRecurso, iCodigo);
    }
}

void CLadoSip::VenceRefer(int32_t iDialogo) {
    --iRefersPendientes;
    if (poMiPasaGus) poMiPasaGus->NotificaRefer(iIdUsuarioSip, iDialogo, "SIP/2.0 603 Declined");
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:Transferencia no realizada(%d)", iRecurso, iDialogo);
}

// ---- Clean-ups ---------------------------------------------------------------------------------

void CLadoSip::CierraSesionCompleta(InfoSesion* s, int iCausa) {
    if (s == nullptr) return;
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: CierraSesionCompleta cid=%d causa=%d", iRecurso, s->cid, iCausa);
    if (s->cid >= 0 && poMiPasaGus) {
        const int r = poMiPasaGus->CierraSesion(iIdUsuarioSip, s->cid, iCausa);
        if (r < 0)
            NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: Trata_Close_Session(%d) devolvio error %d", iRecurso, s->cid, r);
    }
    const int32_t idllam = s->idllam, idsesion = s->idsesion;
    poSup->LiberaInfoSesion(s);
    if (idllam >= 0 && EnviaFinLlamada(idllam, 0) < 0) NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: Error finllamada", iRecurso);
    if (idsesion >= 0 && EnviaFinSesion(idsesion) < 0) NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: Error fin sesion", iRecurso);
}

void CLadoSip::Funcion_LimpiaSesion(InfoSesion* s) {
    if (s == nullptr) return;
    if (s->idsesion >= 0) {
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Funcion_LimpiaSesion: fin sesion %i", iRecurso, s->idsesion);
        if (EnviaFinSesion(s->idsesion) < 0) NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Error fin sesion", iRecurso);
        s->idsesion = -1;
    }
    if (s->idllam >= 0 && poSesiones->CuentaPorIdLlamada(s->idllam) == 1) {
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Funcion_LimpiaSesion: FinLLamada %i", iRecurso, s->idllam);
        if (EnviaFinLlamada(s->idllam, 0) < 0) NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:Error fin llamada ", iRecurso);
    }
    poSup->LiberaInfoSesion(s);
}

void CLadoSip::LimpiaSesionPorCid(int cid) { Funcion_LimpiaSesion(BuscaCid(cid)); }

// A call placed towards SIP gets its id under the session table's lock; its first events wait for it here.
InfoSesion* CLadoSip::BuscaCid(int cid) {
    cfgCerrojo l(poSesiones->Mutex());
    return poSesiones->BuscaPorCid(cid);
}

void CLadoSip::Abortallamada(int cid) {
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:Abortallamada( %d )", iRecurso, cid);
    InfoSesion* s = BuscaCid(cid);
    if (s == nullptr) {
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: No encuentra infosesion cid=%i", iRecurso, cid);
        return;
    }
    if (s->idsesion >= 0 && EnviaFinSesion(s->idsesion) < 0)
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Error fin sesion (%i)", iRecurso, s->idsesion);
    if (s->idllam >= 0 && EnviaFinLlamada(s->idllam, 0) < 0)
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Error fin llamada idllam=%i", iRecurso, s->idllam);
    // The bridge aborts a call whose port and routing it ends itself.
    s->iPuertoLocal = -1;
    s->cid = -1;
    poSup->LiberaInfoSesion(s);
}

// ---- SIP events --------------------------------------------------------------------------------

void CLadoSip::Traplic_Update(DatosEventoSip*) { NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:Traplic_Update", iRecurso); }
void CLadoSip::Traplic_ACK(DatosEventoSip*) { NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Traplic_ACK", iRecurso); }
void CLadoSip::Traplic_Redirect(DatosEventoSip*) {
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: CSupervisorRecurso::Traplic_Redirect", iRecurso);
}
void CLadoSip::Traplic_Notify(DatosEventoSip*) { NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:Traplic_Notify", iRecurso); }

void CLadoSip::Traplic_Respuesta_for_Options() { poSup->Colateral().RespuestaOptions(); }

int32_t CLadoSip::Traplic_Options() { return poSup->DameEstadoRecurso() == RECURSO_NO_DISPONIBLE ? -1 : 0; }

void CLadoSip::Traplic_Invite(DatosEventoSip* e) {
    if (e == nullptr || poMiPasaGus == nullptr) return;
    // A line not in service yet (its process not configured, or not available) is refused with
    // 207, 503 on the SIP side, whatever its type: 203 would answer 500, a fault of the board.
    if (poSup->HijoConfigurado() != 1) {
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: CSUPEREC todavia no inicializado", iRecurso);
        poMiPasaGus->RechazaLlamada(iIdUsuarioSip, e->cid, 207);
        return;
    }
    if (poSup->EnReserva()) {
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:CSUPEREC  no PRINCIPAL", iRecurso);
        poMiPasaGus->RechazaLlamada(iIdUsuarioSip, e->cid, 229);
        return;
    }
    const int tipoIf = DameIdentidad().iTipoIf;
    if (poSup->DameEstadoRecurso() == RECURSO_NO_DISPONIBLE) {
        poMiPasaGus->RechazaLlamada(iIdUsuarioSip, e->cid, 207);
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Rechaza llamada Recurso no disponible ", iRecurso);
        return;
    }
    switch (tipoIf) {
    case TIPOIF_RADIO: TrataInviteRadio(e, 16); break;
    case TIPOIF_DATOS: TrataInviteRadio(e, 32); break;
    case TIPOIF_LCEN: case TIPOIF_BC: case TIPOIF_BL: case TIPOIF_AB: case TIPOIF_ATSR2: case TIPOIF_ATSN5:
    case TIPOIF_ATSQSIG: case TIPOIF_EYM_PP: case TIPOIF_EYM_MARC:
        TrataInviteGeneral(e);
        break;
    default:
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Tipo de IF de recurso desconocido!", iRecurso);
        poMiPasaGus->RechazaLlamada(iIdUsuarioSip, e->cid, 203);
    }
}

void CLadoSip::Traplic_Call_Proceeding(DatosEventoSip* e) {
    if (e == nullptr) return;
    if (InfoSesion* s = BuscaCid(e->cid)) poSup->CancelaGuarda(&s->iTempAux);
}

void CLadoSip::Traplic_Ringing(DatosEventoSip* e) {
    if (e == nullptr) return;
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: RINGING: reason %s", iRecurso, e->acRazon);
    InfoSesion* s = BuscaCid(e->cid);
    if (s == nullptr) {
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: InfoSesion no localizada cid = %d", iRecurso, e->cid);
        CierraSip(e->cid, 0);
        return;
    }
    poSup->CancelaGuarda(&s->iTempAux);
    const int tipoIf = DameIdentidad().iTipoIf;
    const bool troncal = tipoIf == TIPOIF_ATSR2 || tipoIf == TIPOIF_ATSN5 || tipoIf == TIPOIF_ATSQSIG;
    std::shared_ptr<Cola> canal = poSup->CanalHijo();
    int r = 0;
    if (std::strcmp(e->acRazon, "Queued") == 0) {
        if (troncal && s->idllam >= 0) r = canal ? canal->EnviaRingingMotivo(s->idllam, 1) : -1;
    } else if (std::strcmp(e->acRazon, "Intrusion in progress") == 0) {
        if (troncal && s->idllam >= 0) r = canal ? canal->EnviaInfoLlamada(s->idllam, 3) : -1;
    } else {
        s->iTempAux = poSup->ArmaGuarda(TICKS_FINAL, GUARDA_FINAL, s->cid);
        if (s->iTempAux < 0) {
            // No final answer could ever end this ringing: the call ends now, as when it would.
            CierraSip(s->cid, 0);
            Funcion_LimpiaSesion(s);
            return;
        }
        if (s->idllam >= 0) r = canal ? canal->EnviaRingingMotivo(s->idllam, 0) : -1;
    }
    if (r < 0) NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: Error Ringing", iRecurso);
}

void CLadoSip::Traplic_Call_Answer(DatosEventoSip* e) {
    if (e == nullptr) return;
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:Traplic_Call_Answer", iRecurso);
    InfoSesion* s = BuscaCid(e->cid);
    if (s == nullptr) {
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:InfoSesion no localizada cid = %d", iRecurso, e->cid);
        return;
    }
    const Identidad id = DameIdentidad();
    s->iEsFoco = std::strstr(e->acContacto, "isfocus") ? 1 : 0;
    if (id.iTipoIf == TIPOIF_LCEN && s->idllam >= 0)
        if (std::shared_ptr<Cola> canal = poSup->CanalHijo()) canal->EnviaAceptaLlamada(s->idllam);
    poSup->CancelaGuarda(&s->iTempAux);
    // Legs of one line call offered to several targets: the first answer ends the others. The
    // radio and BL collateral markers (-2, -3) are no call: their sessions stay.
    if (s->iCidRefer == -1 && s->idllam >= 0) {
        for (InfoSesion* o = poSesiones->BuscaSiguientePorIdLlamada(nullptr, s->idllam); o;
             o = poSesiones->BuscaSiguientePorIdLlamada(o, s->idllam)) {
            if (o == s) continue;
            NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Trata_close_Session cid = %d", iRecurso, o->cid);
            CierraSip(o->cid, 0);
            poSup->LiberaInfoSesion(o);
        }
    }
    e->iPuertoLocal = s->iPuertoLocal;
    s->iPayloadForzado = e->iPayload;
    s->iPayload = (id.iTipoIf == TIPOIF_LCEN || std::strcmp(e->acSubject, "IA call") == 0) ? -1 : e->iPayload;
    s->iPuertoRemoto = e->iPuertoRemoto;
    s->oDirRemota.TomaTexto(e->acDirRemota);
    s->iPttId = e->iPttId;
    DireccionSesion d;
    LlenaDireccionSesion(s, &d);
    d.iPttId = s->iPttId;
    d.iRtpHe = 1;
    d.iStandby = e->iTipoSesion == 3 ? 1 : 0;
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Envio nueva sesion poCanalHijo=%i,payload=%i, puertoremoto=%i, puertolocal=%i pttid=%i",
              iRecurso, poSup->CanalHijo() ? 1 : 0, s->iPayload, s->iPuertoRemoto, s->iPuertoLocal, s->iPttId);
    s->iTipoSesion = 2;
    s->iSesionPedida = 1;
    if (s->iCidRefer >= 0 && s->iGestorTransferencia == -1) {
        if (poMiPasaGus) poMiPasaGus->NotificaRefer(iIdUsuarioSip, s->iCidRefer, "SIP/2.0 200 Ok");
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Transferencia realizada( %d )", iRecurso, s->iCidRefer);
        InfoSesion* viejo = s->idllam >= 0 ? poSesiones->BuscaPorIdLlamada(s->idllam) : nullptr;
        if (viejo && viejo != s) {
            NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Trata_close_Session cid = %d", iRecurso, viejo->cid);
            CierraSip(viejo->cid, 0);
            if (viejo->idsesion >= 0) {
                if (!poSup->CanalHijo())
                    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:canal Hijo no encontrado", iRecurso);
                else if (EnviaFinSesion(viejo->idsesion) < 0)
                    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Error fin sesion %i", iRecurso, viejo->idsesion);
            }
            // The release gives the old leg's port back to the pool, then clears it: the new
            // leg took a port of its own.
            poSup->LiberaInfoSesion(viejo);
        }
        s->iCidRefer = -1;
    }
    if (id.iTipoIf == TIPOIF_RADIO) {
        poSup->SesionRadioActiva(id.acNombre, s->acDestino, s->iReposo);
        poSup->Colateral().MarcaCambioEmplazamiento(s->iIndiceColateral);
    }
    if (s->idsesion >= 0) {
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: sesion ya establecida. procede de un reinvite", iRecurso);
        return;
    }
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Resesion procede de un reinvite psInfoSesion->idsesion %i", iRecurso,
              s->idsesion);
    if (EnviaNuevaSesion(&d, s) < 0) {
        CierraSesionCompleta(s, 0);
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Nueva sesion no establecida", iRecurso);
    }
}

void CLadoSip::Traplic_Reinvite(DatosEventoSip* e) {
    if (e == nullptr) return;
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: CSupervisorRecurso::Traplic_Reinvite", iRecurso);
    InfoSesion* s = BuscaCid(e->cid);
    if (s == nullptr) {
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: No encuentra infosesion cid=%i", iRecurso, e->cid);
        return;
    }
    DireccionSesion d;
    LlenaDireccionSesion(s, &d);
    PayloadsPorDireccion(e->iDirRemota, e->iPayload, &d);
    d.iStandby = s->iReposo = e->iTipoSesion == 3 ? 1 : 0;
    poSup->Colateral().iCambioColateral = 1;
    NLOG::Log(NLOG::INFO,
              "CSUPEREC[%d]: Envio modifica sesion poCanalHijo=%i,payload=%i, puertoremoto=%i, puertolocal=%i, MainStandby =%i",
              iRecurso, poSup->CanalHijo() ? 1 : 0, d.iPayload, d.iPuertoRemoto, d.iPuertoLocal, d.iStandby);
    std::shared_ptr<Cola> canal = poSup->CanalHijo();
    if (s->idsesion < 0 || !canal || canal->EnviaModificaSesion(s->idsesion, &d) < 0) {
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Error modifica sesion ", iRecurso);
        CierraSesionCompleta(s, 0);
    }
}

void CLadoSip::Traplic_Info(DatosEventoSip* e, const char* szCuerpo) {
    if (e == nullptr) return;
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Traplic_Info", iRecurso);
    InfoSesion* s = BuscaCid(e->cid);
    if (s == nullptr) {
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:  InfoSesion no localizada cid = %d", iRecurso, e->cid);
        return;
    }
    const char* p = szCuerpo ? std::strstr(szCuerpo, "tones: ") : nullptr;
    if (p == nullptr) {
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: traplic_info texto no coincide = %s", iRecurso, szCuerpo ? szCuerpo : "");
        return;
    }
    std::memset(s->acDestino, 0, sizeof s->acDestino);
    CopiaCampo(s->acDestino, p + 7, 63);
    DatosLlamada dl;
    std::memset(&dl, 0, sizeof dl);
    CopiaCampo(dl.acDestino, s->acDestino);
    int32_t id = -1;
    std::shared_ptr<Cola> canal = poSup->CanalHijo();
    if (canal) {
        cfgCerrojo l(poSesiones->Mutex());
        if (canal->EnviaLlamadaSalienteId(&dl, &id) >= 0 && id >= 0) s->idllam = id;
    }
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: poCanalHijo->LlamadaSaliente() = %s", iRecurso, s->acDestino);
}

void CLadoSip::Traplic_InfoIntrusionInProgress(DatosEventoSip* e) {
    TrataIntrusion(e, 6, "CSUPEREC[%d]: Traplic_InfoIntrusionInProgress", false);
}
void CLadoSip::Traplic_InfoIntrusionIsEfective(DatosEventoSip* e) {
    TrataIntrusion(e, 4, "CSUPEREC[%d]: Traplic_InfoIntrusionInProgress", false);
}
void CLadoSip::Traplic_InfoEndofIntrusion(DatosEventoSip* e) {
    TrataIntrusion(e, 5, "CSUPEREC[%d]: Traplic_InfoIntrusionInProgress", true);
}
void CLadoSip::Traplic_InfoIntrusionInminente(DatosEventoSip* e) {
    TrataIntrusion(e, 7, "CSUPEREC[%d]: Traplic_InfoIntrusionInminente", false);
}

void CLadoSip::TrataIntrusion(DatosEventoSip* e, int iMotivo, const char* szLog, bool bFin) {
    const int n = iRecurso;
    NLOG::Log(NLOG::INFO, szLog, n);
    InfoSesion* s = e ? BuscaCid(e->cid) : nullptr;
    if (s == nullptr) {
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: InfoSesion no localizada cid = %d", n, e ? e->cid : -1);
        return;
    }
    std::shared_ptr<Cola> canal = poSup->CanalHijo();
    if (!canal) {
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: canal Hijo no encontrado", n);
        return;
    }
    if (s->idllam < 0 || canal->EnviaInfoLlamada(s->idllam, iMotivo) < 0) {
        if (bFin)
            NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: enviando evento a recurso", n);
        else
            NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Error enviando evento a recurso sesion %i", n, s->idsesion);
    }
}

void CLadoSip::Traplic_Refer(DatosEventoSip* e) {
    if (e == nullptr || poMiPasaGus == nullptr) return;
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:Traplic_Refer", iRecurso);
    InfoSesion* s = BuscaCid(e->cid);
    if (s == nullptr) {
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:InfoSesion no localizada cid = %d", iRecurso, e->cid);
        return;
    }
    if (e->acReferTo[0] == '\0') return;
    const Identidad id = DameIdentidad();
    DatosLlamadaGestor pl;
    std::memset(&pl, 0, sizeof pl);
    CopiaCampo(pl.UsuOrigen, id.acNombre, 64);
    CopiaCampo(pl.NumOrigen, e->acRemoto, 80);
    CopiaCampo(pl.NumDestino, e->acReferTo, 80);
    CopiaCampo(pl.ReferredBy, e->acReferredBy, 64);
    CopiaCampo(pl.Replaces, e->acReplaces, 80);
    pl.ucPrioridad = e->incomming_priority ? e->incomming_priority : 2;
    pl.tipo = id.iTipoIf == TIPOIF_LCEN ? 1 : 2;
    const int dialogo = e->did;
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: transferencia a %s\nreferredby: %s\nreplaces:%s\ndid:%i", iRecurso,
              pl.NumDestino, pl.ReferredBy, pl.Replaces, dialogo);
    InfoSesion* n;
    {
        cfgCerrojo l(poSesiones->Mutex());
        n = poSesiones->Asigna();
    }
    if (n == nullptr) return;
    int puerto = -1;
    const int cid = ModoSistemaLocal != 0 ? poMiPasaGus->LanzaLlamadaSip(iIdUsuarioSip, &pl, &puerto)
                                          : (poGestorLlamada ? poGestorLlamada->EncaminaLlamada(iIdUsuarioSip, &pl, &puerto) : -1);
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: REFER encamina llamada cid = %i\n", iRecurso, cid);
    if (cid < 0) {
        // The NOTIFY goes a second later from the timer thread: this thread serves every SIP event.
        // At most one waits per record, the share of the timers kept for it; beyond, or
        // without a timer, it goes at once.
        const bool espera = ++iRefersPendientes <= CTablaSesiones::MAX_INFO_SESION && poSup->ArmaGuarda(TICKS_REFER, GUARDA_REFER, dialogo) >= 0;
        if (!espera) {
            --iRefersPendientes;
            poMiPasaGus->NotificaRefer(iIdUsuarioSip, dialogo, "SIP/2.0 603 Declined");
            NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:Transferencia no realizada(%d)", iRecurso, dialogo);
        }
        n->iPuertoLocal = -1;
        poSup->LiberaInfoSesion(n);
        return;
    }
    s->iGestorTransferencia = 1;
    s->iCidRefer = dialogo;
    n->idllam = s->idllam;
    n->iPuertoLocal = puerto;
    n->iGestorTransferencia = -1;
    n->iCidRefer = dialogo;
    CopiaCampo(n->acDestino, pl.NumDestino, 80);
    n->ucPrioridad = pl.ucPrioridad;
    n->cid = cid;
}

void CLadoSip::Traplic_Closed(DatosEventoSip* e) {
    if (e == nullptr) return;
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: CSupervisorRecurso::Traplic_Closed", iRecurso);
    InfoSesion* s = BuscaCid(e->cid);
    if (s == nullptr) {
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: No encuentra infosesion cid=%i", iRecurso, e->cid);
        return;
    }
    LiberaPttIdSesion(s);
    if (s->idsesion >= 0) {
        if (EnviaFinSesion(s->idsesion) < 0) NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Error fin sesion", iRecurso);
        s->idsesion = -1;
    }
    if (s->iGestorTransferencia != 1 && s->idllam >= 0 && EnviaFinLlamada(s->idllam, 0) < 0)
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Error fin llamada idllam=%i", iRecurso, s->idllam);
    poSup->Colateral().iCambioColateral = 1;
    poSup->LiberaInfoSesion(s);
}

// A failed leg that the call manager does not take on is cleaned up by its record: a failed new
// attempt may have given the record another cid.
void CLadoSip::FalloLlamada(InfoSesion* s, int iEstadoSip) {
    if (Tr_Fallo_Llamada(s, iEstadoSip) == -1) Funcion_LimpiaSesion(s);
}

void CLadoSip::Traplic_Released(DatosEventoSip* e) {
    if (e == nullptr) return;
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Traplic_Released", iRecurso);
    FalloLlamada(BuscaCid(e->cid), 487);
}

void CLadoSip::Traplic_Request_Failure(DatosEventoSip* e) {
    if (e == nullptr) return;
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Traplic_Request_Failure", iRecurso);
    InfoSesion* s = BuscaCid(e->cid);
    if (s == nullptr) return;
    FalloLlamada(s, e->iCodigo);
}

void CLadoSip::Traplic_Server_Failure(DatosEventoSip* e) {
    if (e == nullptr) return;
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:CSupervisorRecurso::Traplic_Server_Failure", iRecurso);
    FalloLlamada(BuscaCid(e->cid), e->iCodigo);
}

void CLadoSip::Traplic_Global_Failure(DatosEventoSip* e) {
    if (e == nullptr) return;
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Traplic_Global_Failure", iRecurso);
    FalloLlamada(BuscaCid(e->cid), e->iCodigo);
}

void CLadoSip::Traplic_Call_No_Answer(DatosEventoSip* e) {
    if (e == nullptr) return;
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:Traplic_Call_No_Answer", iRecurso);
    LimpiaSesionPorCid(e->cid);
}

// ---- Look-ups of the bridge --------------------------------------------------------------------

int32_t CLadoSip::DameParamRadio() {
    CCONFIG* c = poCfg;
    if (psRegistro == nullptr || c == nullptr) return -1;
    cfgCerrojo l(&c->tMutex);
    if (psRegistro->iTipoIf != TIPOIF_RADIO) return -1;
    return psRegistro->uParam.radio.iMetodoBss;
}

namespace {
// Decimal text-to-integer of at most n characters (a range bound has no terminator).
long Numero(const char* p, size_t n) {
    char ac[16] = {};
    std::memcpy(ac, p, n < sizeof ac - 1 ? n : sizeof ac - 1);
    return std::strtol(ac, nullptr, 10);
}
}  // namespace

int CLadoSip::EnRangos(const char* szNumero, bool bOrigen) {
    CCONFIG* c = poCfg;
    if (psRegistro == nullptr || c == nullptr || szNumero == nullptr) return -1;
    const long n = std::strtol(szNumero, nullptr, 10);
    cfgCerrojo l(&c->tMutex);
    if (psRegistro->iTipoIf != TIPOIF_ATSR2 && psRegistro->iTipoIf != TIPOIF_ATSN5) return -1;
    const cfgRangoTexto* r = bOrigen ? psRegistro->uParam.r2n5.asRangosOrg : psRegistro->uParam.r2n5.asRangosDst;
    for (int i = 0; i < 4; ++i)
        if (Numero(r[i].desde, sizeof r[i].desde) <= n && n <= Numero(r[i].hasta, sizeof r[i].hasta)) return 0;
    return -1;
}

int CLadoSip::EnRangosOperador(const char* szNumero) { return EnRangos(szNumero, false); }
int CLadoSip::EnRangosPrivilegiados(const char* szNumero) { return EnRangos(szNumero, true); }

// ---- Incoming calls ----------------------------------------------------------------------------

int CLadoSip::CompruebaListaUri(const char* szUri) { return ListaUri(LeeRecurso(poCfg, psRegistro), szUri ? szUri : ""); }

int CLadoSip::CompruebaOrigenRemoto(const char* szUri) {
    const DatosRecurso d = LeeRecurso(poCfg, psRegistro);
    return (d.acUriRemota[0] == '\0' || std::strcmp(d.acUriRemota, szUri ? szUri : "") == 0) ? 0 : -1;
}

// The level 0-4 the line is handed for a call from SIP, from the Max-Forwards it arrived with:
// the fewer forwards left, the more hops behind it.
int CLadoSip::MapeaValorLlamada(int v) {
    if (v < 7) return 4;
    if (v <= 10) return 3;
    if (v <= 15) return 2;
    if (v <= 18) return 1;
    return 0;
}

// Refusals before a record is taken: a local radio takes no call, the subject and priority
// must be a radio call's, an RX-only session cannot ask to transmit. The motivo, or 0.
int CLadoSip::RechazoPrevioRadio(const DatosRecurso& d, const DatosEventoSip* e) {
    const int n = iRecurso;
    const int cid = e->cid;
    if (d.iTipoIf == TIPOIF_RADIO && d.iTipoRadio >= 0 && d.iTipoRadio <= 3) {
        NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: llamada entrante cid=%i para un recurso radio local", n, cid);
        return 203;
    }
    const uint8_t prio = e->incomming_priority;
    if (std::strstr(e->acSubject, "radio") == nullptr || (prio != 1 && prio != 3)) {
        NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: llamada entrante cid=%i para un recurso radio mal subject=%s prio=%d", n, cid,
                  e->acSubject, prio);
        return 227;
    }
    if (e->iTipoSesion == 1 && std::strstr(e->txrxmode, "Tx")) {
        NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: Rechazada llamada entrante cid=%i (access mode no match)", n, cid);
        return 226;
    }
    return 0;
}

// Refusals of the record's caller, in this order: access mode, restriction lists, the options
// file's permissions and streams, the frequency, coupling. The motivo, or 0.
int CLadoSip::RechazoAdmisionRadio(const DatosRecurso& d, const DatosEventoSip* e, const InfoSesion* s) {
    const int n = iRecurso;
    const int cid = e->cid;
    const uint8_t prio = e->incomming_priority;
    if (e->iTipoSesion == 1 && (d.iTipo == 1 || d.iTipo == 3)) {
        NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: Rechazada llamada entrante cid=%i (access mode no match)", n, cid);
        return 226;
    }
    if (ListaUri(d, e->acRemoto) != 0) {
        NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: origen no permitido cid=%i", n, cid);
        std::printf("CSUPEREC[%d]: origen no permitido cid=%i\n", n, cid);
        return 214;
    }
    if (poOpcionesRadio && poOpcionesRadio->DamePermissionsCheck() == 1) {
        char usuario[64] = {};
        CopiaUsuarioUri(e->acRemoto, usuario);
        if (poOpcionesRadio->CompruebaPermiso(usuario, prio == 1 ? 1 : 0) != 0) {
            NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: Uri no permitida en la lista cid=%i", n, cid);
            return 214;
        }
    }
    if (poOpcionesRadio && poOpcionesRadio->DameMultipleStreamsBlocked() == 1) {
        int r;
        {
            cfgCerrojo l(poSesiones->Mutex());
            r = oTablaPttId.BuscaPorIp(e->acRemoto);
        }
        if (r != -1) {
            NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: No permite multiples sesiones del mismo SCV cid=%i", n, cid);
            return 228;
        }
    }
    if (e->fid[0] != '\0' && d.acDestino[0] != '0' && std::strcmp(d.acDestino, "id.desconocido.destino.rk82") != 0 &&
        std::strncmp(d.acDestino, "PAIRED", 6) != 0 && std::strncmp(e->fid, d.acDestino, 64) != 0) {
        NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: No coincide la frecuencia configurada con el fid cid=%i", n, cid);
        return 222;
    }
    if (e->iTipoSesion == 2) {
        for (auto& o : *poSesiones)
            if (&o != s && o.cid >= 0 && o.iTipoSesionSip == 2) {
                NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: Rechazada llamada entrante cid=%i (coupling not allowed)", n, cid);
                return 225;
            }
    }
    return 0;
}

// The record and the new session's record of an accepted radio call.
void CLadoSip::PreparaSesionRadio(const DatosEventoSip* e, int iTipo, int iPttId, InfoSesion* s, DireccionSesion* ds) {
    const int n = iRecurso;
    const int cid = e->cid;
    const uint8_t prio = e->incomming_priority;
    s->iPuertoLocal = e->iPuertoLocal;
    s->iPuertoRemoto = e->iPuertoRemoto;
    s->oDirRemota.TomaTexto(e->acDirRemota);
    s->ucPrioridad = prio;
    s->iRtphe = e->rtphe;
    s->iTipoSesionSip = e->iTipoSesion;
    s->iReposo = e->iTipoSesion == 3 ? 1 : 0;
    s->iTipoSesion = iTipo | 1;
    s->iPttId = iPttId >= 1 ? iPttId : 0;
    s->idllam = -1;
    s->iTipoSipMapeado = 0;
    s->iPayloadForzado = s->iPayload = e->iPayload;
    LlenaDireccionSesion(s, ds);
    ds->iPttId = s->iPttId;
    ds->iRtpHe = e->rtphe;
    ds->iModoBss = e->bss == 0 ? 0 : (e->bss == 1 ? 1 : 2);
    ds->iPttRep = e->ptt_rep;
    ds->iPrioridad = prio;
    ds->iStandby = s->iReposo;
    NLOG::Log(NLOG::INFO,
              "CSUPEREC[%d]: Envio nueva sesion poCanalHijo=%i ,payload=%i, puertoremoto=%i, dirremota=%s, puertolocal=%i", n,
              poSup->CanalHijo() ? 1 : 0, s->iPayload, s->iPuertoRemoto, s->oDirRemota.texto, s->iPuertoLocal);
    CopiaCampo(s->Origen, e->acRemoto, 80);
    s->cid = cid;
}

void CLadoSip::TrataInviteRadio(DatosEventoSip* e, int iTipo) {
    const int n = iRecurso;
    const int cid = e->cid;
    const DatosRecurso d = LeeRecurso(poCfg, psRegistro);
    auto Rechaza = [&](int motivo, InfoSesion* s) {
        poMiPasaGus->RechazaLlamada(iIdUsuarioSip, cid, motivo);
        if (s) poSup->LiberaInfoSesion(s);
    };
    if (const int motivo = RechazoPrevioRadio(d, e)) return Rechaza(motivo, nullptr);
    InfoSesion* s;
    {
        cfgCerrojo l(poSesiones->Mutex());
        s = poSesiones->Asigna();
    }
    if (s == nullptr) {
        NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: No Info sesiones libres para llamada entrante cid=%i", n, cid);
        return Rechaza(201, nullptr);
    }
    if (const int motivo = RechazoAdmisionRadio(d, e, s)) return Rechaza(motivo, s);
    // Room. A PTT id this call added is given back by every later refusal: refused callers
    // must not fill the table.
    int pttId = 0;
    bool pttNuevo = false;
    bool hayHueco = true;
    if (iTipo == 16) {
        cfgCerrojo l(poSesiones->Mutex());
        pttNuevo = oTablaPttId.BuscaPorNombre(e->acRemoto) < 1;
        pttId = oTablaPttId.Anade(e->acRemoto);
        if (pttId < 1) pttNuevo = false;
        int enUso = 0;
        for (auto& o : *poSesiones)
            if (o.cid >= 0) ++enUso;
        const int maximo = poOpcionesRadio ? poOpcionesRadio->DameMaxSessions() : 12;
        hayHueco = pttId >= 1 && enUso < maximo;
    }
    auto DevuelvePtt = [&] {
        if (!pttNuevo) return;
        cfgCerrojo l(poSesiones->Mutex());
        oTablaPttId.BorraId(pttId);
        pttNuevo = false;
    };
    const bool preemption = !hayHueco && iTipo == 16 && poOpcionesRadio && poOpcionesRadio->DamePreemption() == 1;
    if (!hayHueco && !preemption) {
        NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: No puedo alojar PTT-ID/sesion para llamada entrante cid=%i", n, cid);
        DevuelvePtt();
        return Rechaza(201, s);
    }
    DireccionSesion ds;
    PreparaSesionRadio(e, iTipo, pttId, s, &ds);
    if (preemption) {
        s->iPreemption = 1;
        std::shared_ptr<Cola> canal = poSup->CanalHijo();
        if (!canal) {
            NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: Canal Hijo no encontrado", n);
            return;
        }
        // A wait that no guard would end could hold the record for good: no room then.
        s->iTempSesion = poSup->ArmaGuarda(TICKS_CONFIRMACION, GUARDA_PREEMPTION, cid);
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

void CLadoSip::TrataInviteGeneral(DatosEventoSip* e) {
    const int n = iRecurso;
    const int cid = e->cid;
    const DatosRecurso d = LeeRecurso(poCfg, psRegistro);
    char origen[81] = {}, destino[81] = {};
    if (SacaNumeroUri(e->acRemoto, origen, 79) < 0) CopiaCampo(origen, e->acRemoto, 80);
    uint8_t prio = e->incomming_priority ? e->incomming_priority : 2;
    if (SacaNumeroUri(e->acLocal, destino, 79) < 0) {
        if (d.iTipoIf == TIPOIF_AB) {
            destino[0] = '\0';
            NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Rechaza llamada No hay numero a marcar ", n);
        } else {
            CopiaCampo(destino, e->acLocal, 80);
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
        cfgCerrojo l(poSesiones->Mutex());
        s = poSesiones->Asigna();
    }
    if (s == nullptr) {
        poMiPasaGus->RechazaLlamada(iIdUsuarioSip, cid, 201);
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Rechaza llamada No hay Infosesiones libres ", n);
        return;
    }
    CopiaCampo(s->Origen, e->acRemoto, 80);
    ::SacaUsuarioUri(s->Origen);  // the bridge's helper: cuts after user and host
    if (!troncal && d.iTipoIf != TIPOIF_ATSQSIG && CompruebaOrigenRemoto(s->Origen) != 0) {
        poMiPasaGus->RechazaLlamada(iIdUsuarioSip, cid, 214);
        poSup->LiberaInfoSesion(s);
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:origen no permitido cid=%i", n, cid);
        return;
    }
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:Envio llamada  poCanalHijo=%i prioridad=%i\n", n, poSup->CanalHijo() ? 1 : 0, prio);
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
    CopiaCampo(s->acDestino, e->acLocal, 80);
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
        poSup->LiberaInfoSesion(s);
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Llamada Saliente no establecida", n);
        return;
    }
    NLOG::Log(NLOG::INFO, "---------------------------------(2)--psInfoSesion->Origen %s", s->Origen);
    NLOG::Log(NLOG::INFO, "---------psInfoSesion->idllam %i ", s->idllam);
}

void CLadoSip::Traplic_Replaces(int cidSustituido, DatosEventoSip* e) {
    if (e == nullptr || poMiPasaGus == nullptr) return;
    const int n = iRecurso;
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:Traplic_Replaces-TLF", n);
    InfoSesion* viejo = BuscaCid(cidSustituido);
    if (viejo == nullptr) {
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Traplic_Replaces InfoSesion no localizada cid = %d", n, cidSustituido);
        poMiPasaGus->RechazaSustitucion(iIdUsuarioSip, e->cid);
        return;
    }
    InfoSesion* s;
    {
        cfgCerrojo l(poSesiones->Mutex());
        s = poSesiones->Asigna();
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
    poSup->Espera(500000);
    s->iTipoSesion = 1;
    s->iSesionPedida = 1;
    s->cid = e->cid;
    const int r = EnviaNuevaSesion(&ds, s);
    if (r >= 0 && (NivelConsola() & 0x8000)) TcpCons::Printf("Nueva sesion enviada \n");
    if (r < 0) {
        poMiPasaGus->RechazaLlamada(iIdUsuarioSip, e->cid, 0);
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Error modifica sesion ", n);
        poSup->LiberaInfoSesion(s);
        return;
    }
    CierraSesionCompleta(viejo, 0);
}
