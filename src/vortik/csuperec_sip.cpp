// CSupervisorRecurso: the SIP dialog events of the resource's user, the failure path of calls
// placed towards SIP, the SIP-side guards, transfers by REFER and the session clean-ups the
// other parts share. The handlers run on the SIP event thread and the guards on the timer
// thread, beside the child-event handlers: the session table's lock is held only to find, take or place a
// record, the child channel is taken under tMutexGlobal, never both at once.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cconfig.h"
#include "csuperec.h"
#include "comun/nlog.h"
#include "comun/uri.h"
#include "ipc/cola.h"
#include "sip/cgestorllamada.h"
#include "sip/cpasagus.h"
#include "sip/ctablapttid.h"
#include "sip/encaminauri.h"
#include "temporizadorvortik.h"

namespace {

// Guard codes of the supervisor's timers beside the SIP ones (0-3).
enum { GUARDA_LLAMADA = 5, GUARDA_SESION = 15, GUARDA_PREEMPTION = 29, GUARDA_REFER = 100 };
constexpr int32_t TICKS_RESPUESTA = 50;      // 5 s for the first answer of a call towards SIP
constexpr int32_t TICKS_FINAL = 400;         // 40 s for the final answer after ringing
constexpr int32_t TICKS_CONFIRMACION = 150;  // 15 s for the resource process to confirm
constexpr int32_t TICKS_REFER = 10;          // the NOTIFY of a failed transfer goes 1 s later

struct FilaFallo {
    int iEstado;
    CSupervisorRecurso::CausaFallo sCausa;
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
const CSupervisorRecurso::CausaFallo kFalloSipOtro = {203, 4};

// QSIG lines: an ITU-T Q.850 cause, always progression 6.
const FilaFallo kFalloQsig[] = {
    {404, {1, 6}},   {485, {1, 6}},   {604, {1, 6}},   {487, {16, 6}},  {486, {17, 6}},  {600, {17, 6}},
    {480, {18, 6}},  {401, {21, 6}},  {402, {21, 6}},  {403, {21, 6}},  {603, {21, 6}},  {410, {22, 6}},
    {482, {25, 6}},  {483, {25, 6}},  {484, {28, 6}},  {502, {38, 6}},  {405, {63, 6}},  {488, {65, 6}},
    {606, {65, 6}},  {406, {79, 6}},  {407, {79, 6}},  {415, {79, 6}},  {501, {79, 6}},  {408, {102, 6}},
    {504, {102, 6}}, {413, {127, 6}}, {414, {127, 6}}, {416, {127, 6}}, {420, {127, 6}}, {421, {127, 6}},
    {423, {127, 6}}, {505, {127, 6}}, {513, {127, 6}},
};
const CSupervisorRecurso::CausaFallo kFalloQsigOtro = {41, 6};

template <size_t N>
CSupervisorRecurso::CausaFallo Busca(const FilaFallo (&tabla)[N], int iEstado, CSupervisorRecurso::CausaFallo otro) {
    for (const auto& f : tabla)
        if (f.iEstado == iEstado) return f.sCausa;
    return otro;
}

// Copies a record text into a fixed field, always terminated.
template <size_t N>
void Copia(char (&destino)[N], const char* origen, size_t maximo = N - 1) {
    std::snprintf(destino, N, "%.*s", static_cast<int>(maximo < N - 1 ? maximo : N - 1), origen ? origen : "");
}

}  // namespace

// ---- Shared helpers ----------------------------------------------------------------------------

int CSupervisorRecurso::ArmaGuarda(int32_t iTicks, int iCodigo, int32_t iId) {
    const int r = poTemporizador ? poTemporizador->Arma(iTicks, sVenceGuarda, reinterpret_cast<uintptr_t>(this),
                                                        static_cast<uintptr_t>(iCodigo),
                                                        static_cast<uintptr_t>(static_cast<intptr_t>(iId)))
                                 : -1;
    if (r < 0) NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: sin temporizador para la guarda %d de %d", iMiNumRecurso, iCodigo, iId);
    return r;
}

void CSupervisorRecurso::CancelaTemp(int32_t* piSlot) {
    const int32_t slot = __atomic_exchange_n(piSlot, -1, __ATOMIC_ACQ_REL);
    if (slot >= 0 && poTemporizador) poTemporizador->Cancela(slot);
}

// The slot of a fired guard is free already: its word is cleared before anything else, so no
// later cancel reaches the timer of whoever takes the slot next.
uintptr_t CSupervisorRecurso::sVenceGuarda(uintptr_t a1, uintptr_t a2, uintptr_t a3) {
    CSupervisorRecurso* p = reinterpret_cast<CSupervisorRecurso*>(a1);
    const int codigo = static_cast<int>(a2);
    const int32_t id = static_cast<int32_t>(static_cast<intptr_t>(a3));
    switch (codigo) {
    case GUARDA_SESION: {
        if (InfoSesion* s = p->oSesiones.BuscaPorIdSesion(id)) s->iTempSesion = -1;
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Vence temp espera diagnostico", p->iMiNumRecurso);
        p->EvtDiagnostico(GUARDA_SESION, id, 204);
        break;
    }
    case GUARDA_LLAMADA: {
        if (InfoSesion* s = p->oSesiones.BuscaPorIdLlamada(id)) s->iTempLlamada = -1;
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Vence temp espera diagnostico", p->iMiNumRecurso);
        p->EvtDiagnostico(GUARDA_LLAMADA, id, 204);
        break;
    }
    case GUARDA_PREEMPTION:
        if (InfoSesion* s = p->oSesiones.BuscaPreemption()) s->iTempSesion = -1;
        p->VenceTemp_Preemption();
        break;
    case GUARDA_REFER:
        --p->iRefersPendientes;
        if (p->poMiPasaGus) p->poMiPasaGus->NotificaRefer(p->iIdUsuarioSip, id, "SIP/2.0 603 Declined");
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:Transferencia no realizada(%d)", p->iMiNumRecurso, id);
        break;
    default:
        p->VenceTemp_Respuesta(codigo, id);
        break;
    }
    return 0;
}

void CSupervisorRecurso::LlenaDireccionSesion(const InfoSesion* s, DireccionSesion* d) {
    std::memset(d, 0, sizeof *d);
    d->iParametro = s->iTipoSipMapeado;
    d->iPayloadForzado = s->iPayloadForzado;
    d->iPayload = s->iPayload;
    d->iPuertoLocal = s->iPuertoLocal;
    d->uiDirRemota = s->oDirRemota.direccion;
    Copia(d->acDirRemota, s->oDirRemota.texto);
    d->iPuertoRemoto = s->iPuertoRemoto;
    // A collateral session's marker (-2, -3) is no call of the line.
    d->idllam = s->idllam >= 0 ? s->idllam : -1;
    d->iIndiceColateral = s->iIndiceColateral;
}

// A session or call that its guard cannot watch is ended at once (its confirmation, looked up
// under the same lock, then finds nothing): the caller refuses it as one that could not be sent.
int CSupervisorRecurso::EnviaNuevaSesion(const DireccionSesion* d, InfoSesion* s) {
    std::shared_ptr<Cola> canal = CanalHijo();
    if (!canal) return -1;
    cfgCerrojo l(oSesiones.Mutex());
    int32_t id = -1;
    if (canal->EnviaNuevaSesionId(d, &id) < 0 || id < 0) return -1;
    CancelaTemp(&s->iTempSesion);
    s->iTempSesion = ArmaGuarda(TICKS_CONFIRMACION, GUARDA_SESION, id);
    if (s->iTempSesion < 0) {
        canal->EnviaFinSesion(id);
        return -1;
    }
    s->idsesion = id;
    return 0;
}

int CSupervisorRecurso::EnviaLlamadaSaliente(const DatosLlamada* d, InfoSesion* s) {
    std::shared_ptr<Cola> canal = CanalHijo();
    if (!canal) return -1;
    cfgCerrojo l(oSesiones.Mutex());
    int32_t id = -1;
    if (canal->EnviaLlamadaSalienteId(d, &id) < 0 || id < 0) return -1;
    CancelaTemp(&s->iTempLlamada);
    s->iTempLlamada = ArmaGuarda(TICKS_CONFIRMACION, GUARDA_LLAMADA, id);
    if (s->iTempLlamada < 0) {
        canal->EnviaFinLlamadaCausa(id, 0);
        return -1;
    }
    s->idllam = id;
    return 0;
}

int CSupervisorRecurso::EnviaFinSesion(int32_t idsesion) {
    if (idsesion < 0) return -1;
    std::shared_ptr<Cola> canal = CanalHijo();
    return canal ? canal->EnviaFinSesion(idsesion) : -1;
}

int CSupervisorRecurso::EnviaFinLlamada(int32_t idllam, int32_t iCausa) {
    if (idllam < 0) return -1;
    std::shared_ptr<Cola> canal = CanalHijo();
    return canal ? canal->EnviaFinLlamadaCausa(idllam, iCausa) : -1;
}

int CSupervisorRecurso::ColocaLlamada(DatosLlamadaGestor* pl, InfoSesion* s, int idllam) {
    int puerto = -1;
    int cid;
    {
        // The answer events look the call up under the same lock.
        cfgCerrojo l(oSesiones.Mutex());
        cid = ModoSistemaLocal != 0
                  ? poMiPasaGus->LanzaLlamadaSip(iIdUsuarioSip, pl, &puerto)
                  : (poGestorLlamada ? poGestorLlamada->EncaminaLlamada(iIdUsuarioSip, pl, &puerto) : -1);
        if (cid < 0) return cid;
        s->cid = cid;
        s->idllam = idllam;
        s->iPuertoLocal = puerto;
        CancelaTemp(&s->iTempAux);
        s->iTempAux = ArmaGuarda(TICKS_RESPUESTA, 1, cid);
        if (s->iTempAux >= 0) return cid;
    }
    // Unwatched, an unanswered call would hold the line for good: it ends now, and the caller's
    // release gives back its port and its routing.
    CierraSip(cid, 0);
    return -1;
}

void CSupervisorRecurso::PayloadsPorDireccion(int iDireccion, int iPayload, DireccionSesion* d) {
    switch (iDireccion) {
    case 0: d->iPayloadForzado = d->iPayload = iPayload; break;
    case 1: d->iPayloadForzado = -1; d->iPayload = iPayload; break;
    case 2: d->iPayloadForzado = iPayload; d->iPayload = -1; break;
    default: d->iPayloadForzado = d->iPayload = -1; break;
    }
}

// Without a cause the session just ends; with one the cause travels in the BYE.
void CSupervisorRecurso::CierraSip(int cid, int iCausa) {
    if (cid < 0 || poMiPasaGus == nullptr) return;
    const int r = iCausa == 0 ? poMiPasaGus->FinalizaSesion(iIdUsuarioSip, cid)
                              : poMiPasaGus->CierraSesion(iIdUsuarioSip, cid, iCausa);
    if (r < 0)
        NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: Gus::Trata_Close_Session(%d) devolvio error %d", iMiNumRecurso, cid, r);
}

// ---- Status maps and the failure path ----------------------------------------------------------

CSupervisorRecurso::CausaFallo CSupervisorRecurso::CausaFalloSip(int iEstado) {
    return Busca(kFalloSip, iEstado, kFalloSipOtro);
}

CSupervisorRecurso::CausaFallo CSupervisorRecurso::CausaFalloSipQsig(int iEstado) {
    return Busca(kFalloQsig, iEstado, kFalloQsigOtro);
}

int CSupervisorRecurso::Tr_Fallo_Llamada(InfoSesion* s, int iEstado) {
    if (s == nullptr) {
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:Tr_Fallo_Llamada no infosesion ", iMiNumRecurso);
        return -1;
    }
    // A call the SIP side offered to the line (its caller gave up, or its dialog failed) ends:
    // no other destination is tried and the line is not refused; the clean-up that follows
    // releases the line, the routing and the port.
    if ((s->iTipoSesion & 0x0F) == 1) {
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:Tr_Fallo_Llamada llamada entrante cid=%d motivo %i", iMiNumRecurso, s->cid,
                  iEstado);
        return -1;
    }
    InfoSesion* otra = nullptr;
    if (s->idllam >= 0) {
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:Tr_Fallo_Llamada %i motivo %i", iMiNumRecurso, s->idllam, iEstado);
        CancelaTemp(&s->iTempAux);
        const CausaFallo c = DameIdentidad().iTipoIf == TIPOIF_ATSQSIG ? CausaFalloSipQsig(iEstado) : CausaFalloSip(iEstado);
        if (ModoSistemaLocal == 0 && poGestorLlamada) {
            const int nuevo = poGestorLlamada->ProgresionLlamada(iIdUsuarioSip, s->cid, c.iProgresion, &s->iPuertoLocal);
            if (nuevo >= 0) {
                s->cid = nuevo;
                s->iTempAux = ArmaGuarda(TICKS_RESPUESTA, 1, nuevo);
                if (s->iTempAux >= 0) return 0;
                // Unwatched, the new attempt ends now and the line hears the failure.
                CierraSip(nuevo, 0);
            }
        }
        for (InfoSesion* o = oSesiones.BuscaSiguientePorIdLlamada(nullptr, s->idllam); o;
             o = oSesiones.BuscaSiguientePorIdLlamada(o, s->idllam))
            if (o != s) {
                otra = o;
                break;
            }
        if (otra == nullptr) {
            std::shared_ptr<Cola> canal = CanalHijo();
            if (!canal)
                NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:canal Hijo no encontrado", iMiNumRecurso);
            else if (canal->EnviaRechazaLlamada(s->idllam, c.iMotivo) < 0)
                NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Error rechaza llamada motivo %d ", iMiNumRecurso, iEstado);
            else
                NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: rechaza llamada motivo %d ", iMiNumRecurso, iEstado);
        }
    } else {
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:Error en CSupervisorRecurso::Tr_Fallo_Llamada", iMiNumRecurso);
    }
    if (s->iCidRefer >= 0 && s->iGestorTransferencia == -1) {
        if (otra) {
            if (otra->iGestorTransferencia == 1)
                otra->iGestorTransferencia = otra->iCidRefer = -1;
            else
                NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: Error, la llamada no es gestor de la trf ", iMiNumRecurso);
        }
        if (poMiPasaGus) poMiPasaGus->NotificaRefer(iIdUsuarioSip, s->iCidRefer, "SIP/2.0 503 Service Unavailable");
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:Transferencia no realizada( %d )", iMiNumRecurso, s->iCidRefer);
    }
    return -1;
}

void CSupervisorRecurso::VenceTemp_Respuesta(int iCodigo, int cid) {
    switch (iCodigo) {
    case CColateral::GUARDA_OPTIONS:
        poColateral->VenceOptions();
        return;
    case 1: {
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Vence Respuesta StartCall", iMiNumRecurso);
        InfoSesion* s = BuscaCid(cid);
        if (s == nullptr) {
            NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: Vence start call info not found", iMiNumRecurso);
            return;
        }
        if (s->iTempAux == -1) return;
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Cierra cid %d", iMiNumRecurso, cid);
        CierraSip(cid, 0);
        s->iTempAux = -1;
        if (Tr_Fallo_Llamada(s, 408) == -1) LiberaInfoSesion(s);
        return;
    }
    case 2: {
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Vence Outgoing Call Answer", iMiNumRecurso);
        InfoSesion* s = BuscaCid(cid);
        if (s == nullptr) {
            NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Vence Outgoing Call Answer cid %d info not found", iMiNumRecurso, cid);
            return;
        }
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Anula la llamada  cid %d ", iMiNumRecurso, cid);
        CierraSip(cid, 0);
        s->iTempAux = -1;
        Funcion_LimpiaSesion(s);
        return;
    }
    case CColateral::GUARDA_BUCLE:
        poColateral->VenceBucle();
        return;
    default:
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:Codigo desconocido en VenceTemp_Respuesta (%i)", iMiNumRecurso, iCodigo);
    }
}

// ---- Clean-ups ---------------------------------------------------------------------------------

void CSupervisorRecurso::CierraSesionCompleta(InfoSesion* s, int iCausa) {
    if (s == nullptr) return;
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: CierraSesionCompleta cid=%d causa=%d", iMiNumRecurso, s->cid, iCausa);
    if (s->cid >= 0 && poMiPasaGus) {
        const int r = poMiPasaGus->CierraSesion(iIdUsuarioSip, s->cid, iCausa);
        if (r < 0)
            NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: Trata_Close_Session(%d) devolvio error %d", iMiNumRecurso, s->cid, r);
    }
    const int32_t idllam = s->idllam, idsesion = s->idsesion;
    LiberaInfoSesion(s);
    if (idllam >= 0 && EnviaFinLlamada(idllam, 0) < 0) NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: Error finllamada", iMiNumRecurso);
    if (idsesion >= 0 && EnviaFinSesion(idsesion) < 0) NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: Error fin sesion", iMiNumRecurso);
}

void CSupervisorRecurso::Funcion_LimpiaSesion(InfoSesion* s) {
    if (s == nullptr) return;
    if (s->idsesion >= 0) {
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Funcion_LimpiaSesion: fin sesion %i", iMiNumRecurso, s->idsesion);
        if (EnviaFinSesion(s->idsesion) < 0) NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Error fin sesion", iMiNumRecurso);
        s->idsesion = -1;
    }
    if (s->idllam >= 0 && oSesiones.CuentaPorIdLlamada(s->idllam) == 1) {
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Funcion_LimpiaSesion: FinLLamada %i", iMiNumRecurso, s->idllam);
        if (EnviaFinLlamada(s->idllam, 0) < 0) NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:Error fin llamada ", iMiNumRecurso);
    }
    LiberaInfoSesion(s);
}

void CSupervisorRecurso::LimpiaSesionPorCid(int cid) { Funcion_LimpiaSesion(BuscaCid(cid)); }

// A call placed towards SIP gets its id under the session table's lock; its first events wait for it here.
InfoSesion* CSupervisorRecurso::BuscaCid(int cid) {
    cfgCerrojo l(oSesiones.Mutex());
    return oSesiones.BuscaPorCid(cid);
}

void CSupervisorRecurso::Abortallamada(int cid) {
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:Abortallamada( %d )", iMiNumRecurso, cid);
    InfoSesion* s = BuscaCid(cid);
    if (s == nullptr) {
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: No encuentra infosesion cid=%i", iMiNumRecurso, cid);
        return;
    }
    if (s->idsesion >= 0 && EnviaFinSesion(s->idsesion) < 0)
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Error fin sesion (%i)", iMiNumRecurso, s->idsesion);
    if (s->idllam >= 0 && EnviaFinLlamada(s->idllam, 0) < 0)
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Error fin llamada idllam=%i", iMiNumRecurso, s->idllam);
    // The bridge aborts a call whose port and routing it ends itself.
    s->iPuertoLocal = -1;
    s->cid = -1;
    LiberaInfoSesion(s);
}

// ---- SIP events --------------------------------------------------------------------------------

void CSupervisorRecurso::Traplic_Update(DatosEventoSip*) { NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:Traplic_Update", iMiNumRecurso); }
void CSupervisorRecurso::Traplic_ACK(DatosEventoSip*) { NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Traplic_ACK", iMiNumRecurso); }
void CSupervisorRecurso::Traplic_Redirect(DatosEventoSip*) {
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: CSupervisorRecurso::Traplic_Redirect", iMiNumRecurso);
}
void CSupervisorRecurso::Traplic_Notify(DatosEventoSip*) { NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:Traplic_Notify", iMiNumRecurso); }

void CSupervisorRecurso::Traplic_Respuesta_for_Options() { poColateral->RespuestaOptions(); }

int32_t CSupervisorRecurso::Traplic_Options() { return DameEstadoRecurso() == RECURSO_NO_DISPONIBLE ? -1 : 0; }

void CSupervisorRecurso::Traplic_Invite(DatosEventoSip* e) {
    if (e == nullptr || poMiPasaGus == nullptr) return;
    // A line not in service yet (its process not configured, or not available) is refused with
    // 207, 503 on the SIP side, whatever its type: 203 would answer 500, a fault of the board.
    if (iHijoConfigurado != 1) {
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: CSUPEREC todavia no inicializado", iMiNumRecurso);
        poMiPasaGus->RechazaLlamada(iIdUsuarioSip, e->cid, 207);
        return;
    }
    if (iModoReserva) {
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:CSUPEREC  no PRINCIPAL", iMiNumRecurso);
        poMiPasaGus->RechazaLlamada(iIdUsuarioSip, e->cid, 229);
        return;
    }
    const int tipoIf = DameIdentidad().iTipoIf;
    if (DameEstadoRecurso() == RECURSO_NO_DISPONIBLE) {
        poMiPasaGus->RechazaLlamada(iIdUsuarioSip, e->cid, 207);
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Rechaza llamada Recurso no disponible ", iMiNumRecurso);
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
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Tipo de IF de recurso desconocido!", iMiNumRecurso);
        poMiPasaGus->RechazaLlamada(iIdUsuarioSip, e->cid, 203);
    }
}

void CSupervisorRecurso::Traplic_Call_Proceeding(DatosEventoSip* e) {
    if (e == nullptr) return;
    if (InfoSesion* s = BuscaCid(e->cid)) CancelaTemp(&s->iTempAux);
}

void CSupervisorRecurso::Traplic_Ringing(DatosEventoSip* e) {
    if (e == nullptr) return;
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: RINGING: reason %s", iMiNumRecurso, e->acRazon);
    InfoSesion* s = BuscaCid(e->cid);
    if (s == nullptr) {
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: InfoSesion no localizada cid = %d", iMiNumRecurso, e->cid);
        CierraSip(e->cid, 0);
        return;
    }
    CancelaTemp(&s->iTempAux);
    const int tipoIf = DameIdentidad().iTipoIf;
    const bool troncal = tipoIf == TIPOIF_ATSR2 || tipoIf == TIPOIF_ATSN5 || tipoIf == TIPOIF_ATSQSIG;
    std::shared_ptr<Cola> canal = CanalHijo();
    int r = 0;
    if (std::strcmp(e->acRazon, "Queued") == 0) {
        if (troncal && s->idllam >= 0) r = canal ? canal->EnviaRingingMotivo(s->idllam, 1) : -1;
    } else if (std::strcmp(e->acRazon, "Intrusion in progress") == 0) {
        if (troncal && s->idllam >= 0) r = canal ? canal->EnviaInfoLlamada(s->idllam, 3) : -1;
    } else {
        s->iTempAux = ArmaGuarda(TICKS_FINAL, 2, s->cid);
        if (s->iTempAux < 0) {
            // No final answer could ever end this ringing: the call ends now, as when it would.
            CierraSip(s->cid, 0);
            Funcion_LimpiaSesion(s);
            return;
        }
        if (s->idllam >= 0) r = canal ? canal->EnviaRingingMotivo(s->idllam, 0) : -1;
    }
    if (r < 0) NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: Error Ringing", iMiNumRecurso);
}

void CSupervisorRecurso::Traplic_Call_Answer(DatosEventoSip* e) {
    if (e == nullptr) return;
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:Traplic_Call_Answer", iMiNumRecurso);
    InfoSesion* s = BuscaCid(e->cid);
    if (s == nullptr) {
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:InfoSesion no localizada cid = %d", iMiNumRecurso, e->cid);
        return;
    }
    const Identidad id = DameIdentidad();
    s->iEsFoco = std::strstr(e->acContacto, "isfocus") ? 1 : 0;
    if (id.iTipoIf == TIPOIF_LCEN && s->idllam >= 0)
        if (std::shared_ptr<Cola> canal = CanalHijo()) canal->EnviaAceptaLlamada(s->idllam);
    CancelaTemp(&s->iTempAux);
    // Legs of one line call offered to several targets: the first answer ends the others. The
    // radio and BL collateral markers (-2, -3) are no call: their sessions stay.
    if (s->iCidRefer == -1 && s->idllam >= 0) {
        for (InfoSesion* o = oSesiones.BuscaSiguientePorIdLlamada(nullptr, s->idllam); o;
             o = oSesiones.BuscaSiguientePorIdLlamada(o, s->idllam)) {
            if (o == s) continue;
            NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Trata_close_Session cid = %d", iMiNumRecurso, o->cid);
            CierraSip(o->cid, 0);
            LiberaInfoSesion(o);
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
              iMiNumRecurso, CanalHijo() ? 1 : 0, s->iPayload, s->iPuertoRemoto, s->iPuertoLocal, s->iPttId);
    s->iTipoSesion = 2;
    s->iSesionPedida = 1;
    if (s->iCidRefer >= 0 && s->iGestorTransferencia == -1) {
        if (poMiPasaGus) poMiPasaGus->NotificaRefer(iIdUsuarioSip, s->iCidRefer, "SIP/2.0 200 Ok");
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Transferencia realizada( %d )", iMiNumRecurso, s->iCidRefer);
        InfoSesion* viejo = s->idllam >= 0 ? oSesiones.BuscaPorIdLlamada(s->idllam) : nullptr;
        if (viejo && viejo != s) {
            NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Trata_close_Session cid = %d", iMiNumRecurso, viejo->cid);
            CierraSip(viejo->cid, 0);
            if (viejo->idsesion >= 0) {
                if (!CanalHijo())
                    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:canal Hijo no encontrado", iMiNumRecurso);
                else if (EnviaFinSesion(viejo->idsesion) < 0)
                    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Error fin sesion %i", iMiNumRecurso, viejo->idsesion);
            }
            // The release gives the old leg's port back to the pool, then clears it: the new
            // leg took a port of its own.
            LiberaInfoSesion(viejo);
        }
        s->iCidRefer = -1;
    }
    if (id.iTipoIf == TIPOIF_RADIO) {
        Eventos_SesionRadioActiva(id.acNombre, s->acDestino, s->iReposo);
        poColateral->MarcaCambioEmplazamiento(s->iIndiceColateral);
    }
    if (s->idsesion >= 0) {
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: sesion ya establecida. procede de un reinvite", iMiNumRecurso);
        return;
    }
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Resesion procede de un reinvite psInfoSesion->idsesion %i", iMiNumRecurso,
              s->idsesion);
    if (EnviaNuevaSesion(&d, s) < 0) {
        CierraSesionCompleta(s, 0);
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Nueva sesion no establecida", iMiNumRecurso);
    }
}

void CSupervisorRecurso::Traplic_Reinvite(DatosEventoSip* e) {
    if (e == nullptr) return;
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: CSupervisorRecurso::Traplic_Reinvite", iMiNumRecurso);
    InfoSesion* s = BuscaCid(e->cid);
    if (s == nullptr) {
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: No encuentra infosesion cid=%i", iMiNumRecurso, e->cid);
        return;
    }
    DireccionSesion d;
    LlenaDireccionSesion(s, &d);
    PayloadsPorDireccion(e->iDirRemota, e->iPayload, &d);
    d.iStandby = s->iReposo = e->iTipoSesion == 3 ? 1 : 0;
    poColateral->iCambioColateral = 1;
    NLOG::Log(NLOG::INFO,
              "CSUPEREC[%d]: Envio modifica sesion poCanalHijo=%i,payload=%i, puertoremoto=%i, puertolocal=%i, MainStandby =%i",
              iMiNumRecurso, CanalHijo() ? 1 : 0, d.iPayload, d.iPuertoRemoto, d.iPuertoLocal, d.iStandby);
    std::shared_ptr<Cola> canal = CanalHijo();
    if (s->idsesion < 0 || !canal || canal->EnviaModificaSesion(s->idsesion, &d) < 0) {
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Error modifica sesion ", iMiNumRecurso);
        CierraSesionCompleta(s, 0);
    }
}

void CSupervisorRecurso::Traplic_Info(DatosEventoSip* e, const char* szCuerpo) {
    if (e == nullptr) return;
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Traplic_Info", iMiNumRecurso);
    InfoSesion* s = BuscaCid(e->cid);
    if (s == nullptr) {
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:  InfoSesion no localizada cid = %d", iMiNumRecurso, e->cid);
        return;
    }
    const char* p = szCuerpo ? std::strstr(szCuerpo, "tones: ") : nullptr;
    if (p == nullptr) {
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: traplic_info texto no coincide = %s", iMiNumRecurso, szCuerpo ? szCuerpo : "");
        return;
    }
    std::memset(s->acDestino, 0, sizeof s->acDestino);
    Copia(s->acDestino, p + 7, 63);
    DatosLlamada dl;
    std::memset(&dl, 0, sizeof dl);
    Copia(dl.acDestino, s->acDestino);
    int32_t id = -1;
    std::shared_ptr<Cola> canal = CanalHijo();
    if (canal) {
        cfgCerrojo l(oSesiones.Mutex());
        if (canal->EnviaLlamadaSalienteId(&dl, &id) >= 0 && id >= 0) s->idllam = id;
    }
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: poCanalHijo->LlamadaSaliente() = %s", iMiNumRecurso, s->acDestino);
}

// The intrusion INFOs, one motivo each towards the line.
static void TrataIntrusion(CSupervisorRecurso* p, DatosEventoSip* e, int iMotivo, const char* szLog, bool bFin);

void CSupervisorRecurso::Traplic_InfoIntrusionInProgress(DatosEventoSip* e) {
    TrataIntrusion(this, e, 6, "CSUPEREC[%d]: Traplic_InfoIntrusionInProgress", false);
}
void CSupervisorRecurso::Traplic_InfoIntrusionIsEfective(DatosEventoSip* e) {
    TrataIntrusion(this, e, 4, "CSUPEREC[%d]: Traplic_InfoIntrusionInProgress", false);
}
void CSupervisorRecurso::Traplic_InfoEndofIntrusion(DatosEventoSip* e) {
    TrataIntrusion(this, e, 5, "CSUPEREC[%d]: Traplic_InfoIntrusionInProgress", true);
}
void CSupervisorRecurso::Traplic_InfoIntrusionInminente(DatosEventoSip* e) {
    TrataIntrusion(this, e, 7, "CSUPEREC[%d]: Traplic_InfoIntrusionInminente", false);
}

static void TrataIntrusion(CSupervisorRecurso* p, DatosEventoSip* e, int iMotivo, const char* szLog, bool bFin) {
    const int n = p->iMiNumRecurso;
    NLOG::Log(NLOG::INFO, szLog, n);
    InfoSesion* s = e ? p->BuscaCid(e->cid) : nullptr;
    if (s == nullptr) {
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: InfoSesion no localizada cid = %d", n, e ? e->cid : -1);
        return;
    }
    std::shared_ptr<Cola> canal;
    {
        cfgCerrojo l(&p->tMutexGlobal);
        canal = p->poCanalHijo;
    }
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

void CSupervisorRecurso::Traplic_Refer(DatosEventoSip* e) {
    if (e == nullptr || poMiPasaGus == nullptr) return;
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:Traplic_Refer", iMiNumRecurso);
    InfoSesion* s = BuscaCid(e->cid);
    if (s == nullptr) {
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:InfoSesion no localizada cid = %d", iMiNumRecurso, e->cid);
        return;
    }
    if (e->acReferTo[0] == '\0') return;
    const Identidad id = DameIdentidad();
    DatosLlamadaGestor pl;
    std::memset(&pl, 0, sizeof pl);
    Copia(pl.UsuOrigen, id.acNombre, 64);
    Copia(pl.NumOrigen, e->acRemoto, 80);
    Copia(pl.NumDestino, e->acReferTo, 80);
    Copia(pl.ReferredBy, e->acReferredBy, 64);
    Copia(pl.Replaces, e->acReplaces, 80);
    pl.ucPrioridad = e->incomming_priority ? e->incomming_priority : 2;
    pl.tipo = id.iTipoIf == TIPOIF_LCEN ? 1 : 2;
    const int dialogo = e->did;
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: transferencia a %s\nreferredby: %s\nreplaces:%s\ndid:%i", iMiNumRecurso,
              pl.NumDestino, pl.ReferredBy, pl.Replaces, dialogo);
    InfoSesion* n;
    {
        cfgCerrojo l(oSesiones.Mutex());
        n = oSesiones.Asigna();
    }
    if (n == nullptr) return;
    int puerto = -1;
    const int cid = ModoSistemaLocal != 0 ? poMiPasaGus->LanzaLlamadaSip(iIdUsuarioSip, &pl, &puerto)
                                          : (poGestorLlamada ? poGestorLlamada->EncaminaLlamada(iIdUsuarioSip, &pl, &puerto) : -1);
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: REFER encamina llamada cid = %i\n", iMiNumRecurso, cid);
    if (cid < 0) {
        // The NOTIFY goes a second later from the timer thread: this thread serves every SIP event.
        // At most one waits per record, the share of the timers kept for it; beyond, or
        // without a timer, it goes at once.
        const bool espera = ++iRefersPendientes <= MAX_INFO_SESION && ArmaGuarda(TICKS_REFER, GUARDA_REFER, dialogo) >= 0;
        if (!espera) {
            --iRefersPendientes;
            poMiPasaGus->NotificaRefer(iIdUsuarioSip, dialogo, "SIP/2.0 603 Declined");
            NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:Transferencia no realizada(%d)", iMiNumRecurso, dialogo);
        }
        n->iPuertoLocal = -1;
        LiberaInfoSesion(n);
        return;
    }
    s->iGestorTransferencia = 1;
    s->iCidRefer = dialogo;
    n->idllam = s->idllam;
    n->iPuertoLocal = puerto;
    n->iGestorTransferencia = -1;
    n->iCidRefer = dialogo;
    Copia(n->acDestino, pl.NumDestino, 80);
    n->ucPrioridad = pl.ucPrioridad;
    n->cid = cid;
}

void CSupervisorRecurso::Traplic_Closed(DatosEventoSip* e) {
    if (e == nullptr) return;
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: CSupervisorRecurso::Traplic_Closed", iMiNumRecurso);
    InfoSesion* s = BuscaCid(e->cid);
    if (s == nullptr) {
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: No encuentra infosesion cid=%i", iMiNumRecurso, e->cid);
        return;
    }
    LiberaPttIdSesion(s);
    if (s->idsesion >= 0) {
        if (EnviaFinSesion(s->idsesion) < 0) NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Error fin sesion", iMiNumRecurso);
        s->idsesion = -1;
    }
    if (s->iGestorTransferencia != 1 && s->idllam >= 0 && EnviaFinLlamada(s->idllam, 0) < 0)
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Error fin llamada idllam=%i", iMiNumRecurso, s->idllam);
    poColateral->iCambioColateral = 1;
    LiberaInfoSesion(s);
}

// A failed leg that the call manager does not take on is cleaned up by its record: a failed new
// attempt may have given the record another cid.
void CSupervisorRecurso::FalloLlamada(InfoSesion* s, int iEstadoSip) {
    if (Tr_Fallo_Llamada(s, iEstadoSip) == -1) Funcion_LimpiaSesion(s);
}

void CSupervisorRecurso::Traplic_Released(DatosEventoSip* e) {
    if (e == nullptr) return;
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Traplic_Released", iMiNumRecurso);
    FalloLlamada(BuscaCid(e->cid), 487);
}

void CSupervisorRecurso::Traplic_Request_Failure(DatosEventoSip* e) {
    if (e == nullptr) return;
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Traplic_Request_Failure", iMiNumRecurso);
    InfoSesion* s = BuscaCid(e->cid);
    if (s == nullptr) return;
    FalloLlamada(s, e->iCodigo);
}

void CSupervisorRecurso::Traplic_Server_Failure(DatosEventoSip* e) {
    if (e == nullptr) return;
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:CSupervisorRecurso::Traplic_Server_Failure", iMiNumRecurso);
    FalloLlamada(BuscaCid(e->cid), e->iCodigo);
}

void CSupervisorRecurso::Traplic_Global_Failure(DatosEventoSip* e) {
    if (e == nullptr) return;
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Traplic_Global_Failure", iMiNumRecurso);
    FalloLlamada(BuscaCid(e->cid), e->iCodigo);
}

void CSupervisorRecurso::Traplic_Call_No_Answer(DatosEventoSip* e) {
    if (e == nullptr) return;
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:Traplic_Call_No_Answer", iMiNumRecurso);
    LimpiaSesionPorCid(e->cid);
}

// ---- Look-ups of the bridge --------------------------------------------------------------------

int32_t CSupervisorRecurso::DameParamRadio() {
    CCONFIG* c = superecDameConfig();
    if (psConfig == nullptr || c == nullptr) return -1;
    cfgCerrojo l(&c->tMutex);
    if (psConfig->iTipoIf != TIPOIF_RADIO) return -1;
    return psConfig->uParam.radio.iMetodoBss;
}

namespace {
// Decimal text-to-integer of at most n characters (a range bound has no terminator).
long Numero(const char* p, size_t n) {
    char ac[16] = {};
    std::memcpy(ac, p, n < sizeof ac - 1 ? n : sizeof ac - 1);
    return std::strtol(ac, nullptr, 10);
}
}  // namespace

// Both bounds belong to the range; only trunk records carry the ranges.
static int EnRangos(CSupervisorRecurso* p, const char* szNumero, bool bOrigen) {
    CCONFIG* c = superecDameConfig();
    if (p->psConfig == nullptr || c == nullptr || szNumero == nullptr) return -1;
    const long n = std::strtol(szNumero, nullptr, 10);
    cfgCerrojo l(&c->tMutex);
    if (p->psConfig->iTipoIf != TIPOIF_ATSR2 && p->psConfig->iTipoIf != TIPOIF_ATSN5) return -1;
    const cfgRangoTexto* r = bOrigen ? p->psConfig->uParam.r2n5.asRangosOrg : p->psConfig->uParam.r2n5.asRangosDst;
    for (int i = 0; i < 4; ++i)
        if (Numero(r[i].desde, sizeof r[i].desde) <= n && n <= Numero(r[i].hasta, sizeof r[i].hasta)) return 0;
    return -1;
}

int CSupervisorRecurso::EnRangosOperador(const char* szNumero) { return EnRangos(this, szNumero, false); }
int CSupervisorRecurso::EnRangosPrivilegiados(const char* szNumero) { return EnRangos(this, szNumero, true); }
