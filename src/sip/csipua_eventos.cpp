// The one entry of the stack's events: finds the user and the session, lets the stack do its
// default work, answers what the user agent answers by itself, keeps the session current and
// reports to the application with an event code.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "comun/nlog.h"
#include "sip/cabecerassip.h"
#include "sip/csipua.h"
#include "sip/sdpradio.h"
#include "sip/suscripciones.h"

struct CSipua::DatosMediaSip {
    bool bLeido;        // both SDPs were there
    char acDirRemota[65];
    int32_t iPuertoRemoto;
    int32_t iPuertoLocal;
    bool bPayload;
    int32_t iPayload;
    bool bDirecciones;
    int32_t iDirRemota;
    int32_t iDirLocal;
    int32_t rtphe;
    int32_t iPttId;
    int32_t ptt_rep;
};

namespace {

bool EsMetodo(const osip_message_t* m, const char* szMetodo) {
    return m && MSG_IS_REQUEST(m) && m->sip_method && !std::strcmp(m->sip_method, szMetodo);
}

// Text of a parsed header (Call-ID, From, To) into ac; empty when there is none.
template <typename T>
void ComoTexto(const T* h, int (*fnTexto)(const T*, char**), char* ac, size_t n) {
    ac[0] = '\0';
    char* sz = nullptr;
    if (h && fnTexto(h, &sz) == 0 && sz) {
        CopiaTextoSip(ac, n, sz);
        osip_free(sz);
    }
}

void CallIdDe(const osip_message_t* m, char* ac, size_t n) { ComoTexto(m ? m->call_id : nullptr, &osip_call_id_to_str, ac, n); }
void FromComoTexto(const osip_message_t* m, char* ac, size_t n) { ComoTexto(m ? m->from : nullptr, &osip_from_to_str, ac, n); }
void ToComoTexto(const osip_message_t* m, char* ac, size_t n) { ComoTexto(m ? m->to : nullptr, &osip_to_to_str, ac, n); }

// Replaces every occurrence of szDe by szA (not longer) in place, until none is left.
void SustituyeTexto(char* s, const char* szDe, const char* szA) {
    const size_t nDe = std::strlen(szDe), nA = std::strlen(szA);
    for (char* p = std::strstr(s, szDe); p; p = std::strstr(s, szDe)) {
        std::memcpy(p, szA, nA);
        std::memmove(p + nA, p + nDe, std::strlen(p + nDe) + 1);
    }
}

const char* PrimerPayload(sdp_media_t* m) {
    for (int i = 0; m && i < osip_list_size(&m->m_payloads); i++) {
        auto* p = static_cast<const char*>(osip_list_get(&m->m_payloads, i));
        if (p && std::strcmp(p, "123") != 0) return p;
    }
    return nullptr;
}

int Espejo(int iRemota) { return iRemota == SDP_SENDONLY ? SDP_RECVONLY : iRemota == SDP_RECVONLY ? SDP_SENDONLY : 0; }

}  // namespace

int CSipua::SIP_TrataEvento(eXosip_event_t* e) {
    if (!e) return -1;
    if (e->type > EXOSIP_NOTIFICATION_GLOBALFAILURE) NLOG::Log(NLOG::INFO, "<desconocido> (%d)", e->type);
    int iUsuario = -1;
    const int r = UsuarioDelEvento(e, &iUsuario);
    eXosip_default_action(e);
    eXosip_automatic_refresh();
    if (r == 0) DespachaEvento(e, iUsuario);
    eXosip_event_free(e);
    return r == 1 ? 0 : r;
}

// The user an event is for (-1 none): 0 to hand the event on, 1 for an INVITE or SUBSCRIBE
// refused already (nothing of it may reach the application: a line would ring for it), -1 for
// an event of no session.
int CSipua::UsuarioDelEvento(eXosip_event_t* e, int* piUsuario) {
    switch (e->type) {
    case EXOSIP_CALL_INVITE:
    case EXOSIP_IN_SUBSCRIPTION_NEW:
        *piUsuario = UsuarioDeInvite(e);
        return *piUsuario == USUARIO_RECHAZADO ? 1 : 0;
    case EXOSIP_REGISTRATION_SUCCESS:
    case EXOSIP_REGISTRATION_FAILURE:
    case EXOSIP_MESSAGE_NEW:
    case EXOSIP_MESSAGE_ANSWERED:
    case EXOSIP_IN_SUBSCRIPTION_RELEASED:
        return 0;
    default:
        *piUsuario = UsuarioDeSesion(e);
        return *piUsuario == -2 ? -1 : 0;
    }
}

// The status and reason of a failed request, kept in its session for the application.
void CSipua::GuardaFallo(eXosip_event_t* e) {
    std::lock_guard<std::mutex> lk(oSesiones.Mutex());
    if (SesionSip* s = oSesiones.Busca(e->cid)) {
        s->iCodigo = e->response ? e->response->status_code : 0;
        if (e->response) CopiaTextoSip(s->acRazon, sizeof s->acRazon, e->response->reason_phrase);
    }
}

void CSipua::DespachaEvento(eXosip_event_t* e, int iUsuario) {
    const int cid = e->cid, did = e->did;
    switch (e->type) {
    case EXOSIP_REGISTRATION_SUCCESS:
        RegistroCorrecto(e);
        break;
    case EXOSIP_REGISTRATION_FAILURE:
        RegistroFallido(e);
        break;
    case EXOSIP_CALL_INVITE:
        if (TrataInviteEntrante(e, iUsuario) == 0) Informa(iUsuario, e->type, cid, did, 0);
        break;
    case EXOSIP_CALL_REINVITE:
        if (sipSession_modified(e) != -3) Informa(iUsuario, e->type, cid, did, 0);
        break;
    case EXOSIP_CALL_NOANSWER:
        Informa(iUsuario, e->type, cid, did, 0);
        break;
    case EXOSIP_CALL_PROCEEDING:
        TrataProceeding(e, iUsuario, false);
        Informa(iUsuario, e->type, cid, did, 0);
        break;
    case EXOSIP_CALL_RINGING:
        TrataProceeding(e, iUsuario, true);
        Informa(iUsuario, e->type, cid, did, 0);
        break;
    case EXOSIP_CALL_ANSWERED:
        if (TrataRespuestaOk(e, iUsuario) == 0) {
            ArmaTemporizadorRespuesta(e);
            Informa(iUsuario, e->type, cid, did, 0);
        }
        break;
    case EXOSIP_CALL_REDIRECTED:
        FinDeSesion(e, true);
        Informa(iUsuario, e->type, cid, did, 0);
        break;
    case EXOSIP_CALL_REQUESTFAILURE: {
        const int iEstado = e->response ? e->response->status_code : 0;
        GuardaFallo(e);
        if (iEstado == 401 || iEstado == 407 || iEstado == 422) break;  // the stack asks again
        Informa(iUsuario, e->type, cid, did, 0);
        FinDeSesion(e, false);
        break;
    }
    case EXOSIP_CALL_SERVERFAILURE:
    case EXOSIP_CALL_GLOBALFAILURE: {
        GuardaFallo(e);
        Informa(iUsuario, e->type, cid, did, 0);
        FinDeSesion(e, false);
        break;
    }
    case EXOSIP_CALL_ACK:
        Informa(iUsuario, e->type, cid, did, 0);
        sipSession_ack(e);
        break;
    case EXOSIP_CALL_MESSAGE_NEW:
        TrataMensajeDialogo(e, iUsuario);
        break;
    case EXOSIP_CALL_MESSAGE_ANSWERED:
        if (EsMetodo(e->request, "UPDATE") && e->response && e->response->status_code == 200) ProcesaOkDeUpdate(e);
        break;
    case EXOSIP_CALL_CLOSED:
    case EXOSIP_CALL_RELEASED:
        Informa(iUsuario, e->type, cid, did, 0);
        FinDeSesion(e, false);
        break;
    case EXOSIP_MESSAGE_NEW:
        TrataMensajeFuera(e, iUsuario);
        break;
    case EXOSIP_MESSAGE_ANSWERED:
        if (EsMetodo(e->request, "OPTIONS")) {
            if (iUsuario == -1 && e->request->from && e->request->from->url && e->request->from->url->username)
                iUsuario = BuscaUsuario(e->request->from->url->username);
            Informa(iUsuario, e->type, cid, did, 0);
        }
        break;
    case EXOSIP_SUBSCRIPTION_PROCEEDING:
        SuscripcionEnCurso(e);
        break;
    case EXOSIP_SUBSCRIPTION_ANSWERED:
        SuscripcionAceptada(e);
        break;
    case EXOSIP_SUBSCRIPTION_REDIRECTED:
    case EXOSIP_SUBSCRIPTION_SERVERFAILURE:
    case EXOSIP_SUBSCRIPTION_GLOBALFAILURE:
        SuscripcionTerminada(e);
        break;
    case EXOSIP_SUBSCRIPTION_REQUESTFAILURE:
        if (e->response && (e->response->status_code == 401 || e->response->status_code == 407))
            NLOG::Log(NLOG::DEBUG, "EXOSIP_SUBSCRIPTION_REQUESTFAILURE");
        SuscripcionFallida(e);
        break;
    case EXOSIP_SUBSCRIPTION_NOTIFY: {
        char acEv[64];
        sipLeeCabecera(e->request, "event", acEv, sizeof acEv);
        if (!strcasecmp(acEv, "WG67 KEY-IN")) {
            const int c = GuardaTextoNotify(e);
            if (c > 0) Informa(iUsuario, e->type, c, 0, 0);
        }
        NotifyRecibido(e);
        break;
    }
    case EXOSIP_IN_SUBSCRIPTION_NEW:
        TrataSuscripcionEntrante(iUsuario, e);
        break;
    case EXOSIP_IN_SUBSCRIPTION_RELEASED: {
        InSuscripcion r;
        if (LiberaInSuscripcion(e, &r) == 0) Informa(r.iUsuario, e->type, r.nid, r.did, 0);
        break;
    }
    default:
        break;
    }
}

// User of the session of the event's cid; -2 when there is none. An answer that overtakes
// the caller of SIP_Start_Call (its cid not stored yet) finds the session by its Call-ID.
int CSipua::UsuarioDeSesion(eXosip_event_t* e) {
    std::lock_guard<std::mutex> lk(oSesiones.Mutex());
    SesionSip* s = oSesiones.Busca(e->cid);
    if (!s && e->cid > 0) {
        char ac[81];
        CallIdDe(e->request ? e->request : e->response, ac, sizeof ac);
        if (ac[0] && (s = oSesiones.BuscaSinCidPorCallId(ac))) s->cid = e->cid;
    }
    if (!s) return -2;
    NLOG::Log(NLOG::DEBUG, "SIP_TrataEvento cid %i iuser %i", e->cid, s->iUsuario);
    return s->iUsuario;
}

// Frees the session of the event's cid (of its dialog when bPorDialogo).
void CSipua::FinDeSesion(eXosip_event_t* e, bool bPorDialogo) {
    std::lock_guard<std::mutex> lk(oSesiones.Mutex());
    SesionSip* s = bPorDialogo ? oSesiones.BuscaDialogo(e->cid, e->did) : nullptr;
    if (!s) s = oSesiones.Busca(e->cid);
    if (s) oSesiones.Libera(s);
}

int CSipua::TrataProceeding(eXosip_event_t* e, int iUsuario, bool bRinging) {
    (void)iUsuario;
    {
        std::lock_guard<std::mutex> lk(oSesiones.Mutex());
        SesionSip* s = oSesiones.Busca(e->cid);
        if (!s) s = oSesiones.NuevaEntrante(e->cid);
        if (!s) return -1;
        s->cid = e->cid;
        s->did = e->did;
        if (bRinging) s->tid = e->tid;
        CopiaTextoSip(s->acDescripcion, sizeof s->acDescripcion, e->textinfo);
        if (e->response) {
            s->iCodigo = e->response->status_code;
            CopiaTextoSip(s->acRazon, sizeof s->acRazon, e->response->reason_phrase);
        }
        FromComoTexto(e->request, s->acRemoto, sizeof s->acRemoto);
        s->iMarca = e->type;
    }
    if (!bRinging) return 0;
    char ac[33];
    if (e->response && sipLeeCabecera(e->response, "RSeq", ac, sizeof ac) == 0 && ac[0]) {
        NLOG::Log(NLOG::INFO, "CSipua: sipSession_ringing Envia prack tid= %i", e->tid);
        osip_message_t* p = nullptr;
        if (eXosip_call_build_prack(e->tid, &p) != 0 || !p) {
            NLOG::Log(NLOG::ERROR, "CSipua: sipSession_ringing Error build prack tid= %i", e->tid);
        } else if (eXosip_call_send_prack(e->tid, p) != 0) {
            NLOG::Log(NLOG::ERROR, "CSipua: sipSession_ringing Error Envia prack tid= %i", e->tid);
        } else {
            NLOG::Log(NLOG::INFO, "CSipua: sipSession_ringing Envia prack tid= %i", e->tid);
        }
    }
    MediaDeLaRespuesta(e);
    return 0;
}

int CSipua::TrataRespuestaOk(eXosip_event_t* e, int iUsuario) {
    if (e->cid < 1 && e->did < 1) return -1;
    {
        std::lock_guard<std::mutex> lk(oSesiones.Mutex());
        SesionSip* s = oSesiones.Busca(e->cid);
        if (s) {
            if (s->iMarca != -1) iUsuario = s->iUsuario;
            else s->iUsuario = iUsuario;
        } else {
            s = oSesiones.NuevaEntrante(e->cid);
            if (!s) return -1;
            s->iUsuario = iUsuario;
        }
        s->cid = e->cid;
        s->did = e->did;
        CopiaTextoSip(s->acDescripcion, sizeof s->acDescripcion, e->textinfo);
        if (e->response) {
            s->iCodigo = e->response->status_code;
            CopiaTextoSip(s->acRazon, sizeof s->acRazon, e->response->reason_phrase);
            osip_contact_t* c = nullptr;
            char* sz = nullptr;
            if (osip_message_get_contact(e->response, 0, &c) >= 0 && c && osip_contact_to_str(c, &sz) == 0 && sz) {
                CopiaTextoSip(s->acContacto, sizeof s->acContacto, sz);
                osip_free(sz);
            }
        }
        ToComoTexto(e->request, s->acRemoto, sizeof s->acRemoto);
        s->iMarca = e->type;
    }
    osip_message_t* ack = nullptr;
    if (eXosip_call_build_ack(e->did, &ack) != 0 || !ack) {
        NLOG::Log(NLOG::ERROR, "Cannot build ACK for call");
    } else {
        osip_via_t* v = nullptr;
        if (osip_message_get_via(ack, 0, &v) >= 0 && v) {
            osip_free(v->host);
            char ac[66];
            std::snprintf(ac, sizeof ac, "%.65s", acMiIp);
            v->host = osip_strdup(ac);
        }
        PonVersionWG67(iUsuario, ack, nullptr);
        NLOG::Log(NLOG::DEBUG, "eXosip_call_send_ack!");
        if (eXosip_call_send_ack(e->did, ack) != 0) NLOG::Log(NLOG::ERROR, "Error send ACK for call");
    }
    MediaDeLaRespuesta(e);
    return 0;
}

void CSipua::ArmaTemporizadorRespuesta(eXosip_event_t* e) {
    char acSe[82];
    if (!e->request || sipBuscaSupported(e->request, "timer") < 0 ||
        sipLeeSessionExpires(e->request, acSe, sizeof acSe) < 0)
        return;
    // A 2xx without Session-Expires is a peer that takes no session timer: the call has no
    // expiry, and counting one down would cut a plain phone's call after the interval.
    char acSeRespuesta[82];
    if (!e->response || sipLeeSessionExpires(e->response, acSeRespuesta, sizeof acSeRespuesta) < 0) return;
    if (char* p = std::strchr(acSe, ';')) *p = '\0';
    int n = std::atoi(acSe);
    if (n == 0) n = 3;
    std::lock_guard<std::mutex> lk(oSesiones.Mutex());
    if (SesionSip* s = oSesiones.Busca(e->cid)) {
        CopiaTextoSip(s->acSessionExpires, sizeof s->acSessionExpires, acSe);
        s->oTemporizador.SetSessionExpires(n);
        s->oTemporizador.SetTmpRx200ok(n);
        NLOG::Log(NLOG::DEBUG, "SIP_TrataEvento:SetTmpRx200ok");
    }
}

// -3: refused (no common codec), so nothing is reported.
int CSipua::sipSession_modified(eXosip_event_t* e) {
    SesionSip sCopia;
    {
        std::lock_guard<std::mutex> lk(oSesiones.Mutex());
        SesionSip* s = oSesiones.BuscaDialogo(e->cid, e->did);
        if (!s) return -1;
        s->tid = e->tid;
        CopiaTextoSip(s->acDescripcion, sizeof s->acDescripcion, e->textinfo);
        if (e->response) {
            s->iCodigo = e->response->status_code;
            CopiaTextoSip(s->acRazon, sizeof s->acRazon, e->response->reason_phrase);
        }
        FromComoTexto(e->request, s->acRemoto, sizeof s->acRemoto);
        s->iMarca = e->type;
        sCopia = *s;
    }
    osip_message_t* a = nullptr;
    if (eXosip_call_build_answer(e->tid, 200, &a) != 0 || !a) {
        eXosip_call_send_answer(e->tid, 400, nullptr);
        return -1;
    }
    // A re-INVITE refreshes the session as an UPDATE does (RFC 4028): the same answer.
    sipPonSessionExpires(a, sCopia);
    sipPonMetodosAceptados(a);
    sdp_message_t* oferta = e->request ? eXosip_get_sdp_info(e->request) : nullptr;
    if (oferta) {
        ListaCodecs l;
        const bool bLista = sCopia.iUsuario >= 0 && oUsuarios.Codecs(sCopia.iUsuario, &l);
        LeeSdpRemoto(oferta, &sCopia, bLista ? &l : nullptr);
        if (sCopia.iPayload < 0) {
            // As an initial INVITE would be: never a 200 whose m-line carries no payload.
            sdp_message_free(oferta);
            osip_message_free(a);
            NLOG::Log(NLOG::ERROR, "Seleccion de codec no valida");
            eXosip_call_send_answer(e->tid, 488, nullptr);
            return -3;
        }
        {
            std::lock_guard<std::mutex> lk(oSesiones.Mutex());
            if (SesionSip* s = oSesiones.BuscaDialogo(e->cid, e->did)) CopiaSdpRemoto(s, sCopia);
        }
        char acPuerto[16];
        std::snprintf(acPuerto, sizeof acPuerto, "%d", sCopia.iPuertoLocal);
        sdp_message_t* anterior = eXosip_get_local_sdp(e->did);
        const int r = sdp_complete_message_new(&sCopia, oferta, a, acPuerto, acMiIp, anterior);
        if (anterior) sdp_message_free(anterior);
        sdp_message_free(oferta);
        if (r != 0) {
            osip_message_free(a);
            eXosip_call_send_answer(e->tid, 415, nullptr);
            return -1;
        }
    }
    if (eXosip_call_send_answer(e->tid, 200, a) == 0) ArmaRefrescoUpdate(e->cid);
    sdp_message_t* r = eXosip_get_remote_sdp(e->did);
    sdp_message_t* l = eXosip_get_local_sdp(e->did);
    if (r && l) {
        DatosMediaSip m;
        LeeMedia(r, l, true, &m);
        CopiaMedia(m, e->cid);
    } else if (r) {
        // Without a local SDP only the directions follow the remote.
        const int iRemota = sdp_dame_direccion(r, eXosip_get_audio_media(r));
        std::lock_guard<std::mutex> lk(oSesiones.Mutex());
        if (SesionSip* s = oSesiones.Busca(e->cid)) {
            s->iDirRemota = iRemota;
            if (s->iDirLocal != 0 && iRemota == 0) s->iDirLocal = 0;
            else if (s->iDirLocal == 0) s->iDirLocal = Espejo(iRemota);
        }
    }
    if (r) sdp_message_free(r);
    if (l) sdp_message_free(l);
    return 0;
}

int CSipua::sipSession_ack(eXosip_event_t* e) {
    {
        std::lock_guard<std::mutex> lk(oSesiones.Mutex());
        SesionSip* s = oSesiones.Busca(e->cid);
        if (!s || s->did != e->did) return -1;
    }
    sdp_message_t* r = eXosip_get_remote_sdp(e->did);
    sdp_message_t* l = eXosip_get_local_sdp(e->did);
    if (!r) NLOG::Log(NLOG::ERROR, "sipSession_ack: remote SDP null");
    if (r && l) {
        DatosMediaSip m;
        LeeMedia(r, l, false, &m);
        CopiaMedia(m, e->cid);
    }
    if (r) sdp_message_free(r);
    if (l) sdp_message_free(l);
    std::lock_guard<std::mutex> lk(oSesiones.Mutex());
    if (SesionSip* s = oSesiones.Busca(e->cid)) s->iMarca = e->type;
    return 0;
}

void CSipua::LeeMedia(sdp_message_t* r, sdp_message_t* l, bool bPayloadRemoto, DatosMediaSip* p) {
    std::memset(p, 0, sizeof *p);
    if (!r || !l) return;
    p->bLeido = true;
    sdp_connection_t* c = eXosip_get_audio_connection(r);
    CopiaTextoSip(p->acDirRemota, sizeof p->acDirRemota, c ? c->c_addr : nullptr);
    sdp_media_t* mr = eXosip_get_audio_media(r);
    sdp_media_t* ml = eXosip_get_audio_media(l);
    p->iPuertoRemoto = mr && mr->m_port ? std::atoi(mr->m_port) : 0;
    p->iPuertoLocal = ml && ml->m_port ? std::atoi(ml->m_port) : 0;
    if (p->iPuertoRemoto > 0 && p->acDirRemota[0]) {
        if (const char* pl = PrimerPayload(bPayloadRemoto ? mr : ml)) {
            p->bPayload = true;
            p->iPayload = std::atoi(pl);
        }
    }
    if (p->bPayload && p->iPuertoRemoto > 0 && p->iPuertoLocal > 0) {
        p->bDirecciones = true;
        p->iDirRemota = sdp_dame_direccion(r, mr);
        p->iDirLocal = sdp_dame_direccion(l, ml);
        if (p->iDirLocal == 0) p->iDirLocal = Espejo(p->iDirRemota);
    }
    const char* v = sdp_dame_atributo(r, mr, "rtphe");
    p->rtphe = v ? std::atoi(v) : 0;
    v = sdp_dame_atributo(r, mr, "ptt-id");
    p->iPttId = v ? std::atoi(v) : 0;
    NLOG::Log(NLOG::DEBUG, "tmp (pttid ) = %s pttid = %i", v ? v : "", p->iPttId);
    v = sdp_dame_atributo(r, mr, "ptt_rep");
    p->ptt_rep = v ? std::atoi(v) : 0;
}

void CSipua::CopiaMedia(const DatosMediaSip& m, int cid) {
    if (!m.bLeido) return;
    std::lock_guard<std::mutex> lk(oSesiones.Mutex());
    SesionSip* s = oSesiones.Busca(cid);
    if (!s) return;
    CopiaTextoSip(s->acDirRemota, sizeof s->acDirRemota, m.acDirRemota);
    s->iPuertoRemoto = m.iPuertoRemoto;
    if (m.bPayload) s->iPayload = m.iPayload;
    if (m.bDirecciones) {
        s->iDirLocal = m.iDirLocal;
        s->iDirRemota = m.iDirRemota;
    }
    s->rtphe = m.rtphe;
    s->iPttId = m.iPttId;
    s->ptt_rep = static_cast<uint8_t>(m.ptt_rep);
}

int CSipua::RespondeEnDialogo(eXosip_event_t* e, int iEstado, bool bMetodos) {
    if (e->cid < 1 || e->did < 1) return -1;
    osip_message_t* a = nullptr;
    int r = eXosip_call_build_answer(e->tid, iEstado, &a);
    if (r != 0) return r;
    if (bMetodos) sipPonMetodosAceptados(a);
    return eXosip_call_send_answer(e->tid, iEstado, a);
}

void CSipua::TrataMensajeDialogo(eXosip_event_t* e, int iUsuario) {
    osip_message_t* m = e->request;
    if (!m || !MSG_IS_REQUEST(m) || !m->sip_method) return;
    const char* szMetodo = m->sip_method;
    if (!std::strcmp(szMetodo, "OPTIONS") || !std::strcmp(szMetodo, "MESSAGE")) {
        if (!std::strcmp(szMetodo, "MESSAGE")) NLOG::Log(NLOG::INFO, "MSG_IS_MESSAGE: tid %i", e->tid);
        NLOG::Log(NLOG::DEBUG, "CSIPUA: OK OPTIONS SendAnswerCall cid:%d did:%d", e->cid, e->did);
        RespondeEnDialogo(e, 200, !std::strcmp(szMetodo, "OPTIONS"));
        NLOG::Log(NLOG::DEBUG, "CSIPUA: Fin OK OPTIONS SendAnswerCall cid:%d did:%d", e->cid, e->did);
    } else if (!std::strcmp(szMetodo, "REFER")) {
        TrataRefer(e, iUsuario);
    } else if (!std::strcmp(szMetodo, "UPDATE")) {
        NLOG::Log(NLOG::DEBUG, "CSIPUA: OK UPDATE SendAnswerCall cid:%d did:%d", e->cid, e->did);
        RespondeUpdate(e);
        NLOG::Log(NLOG::DEBUG, "CSIPUA: Fin OK UPDATE SendAnswerCall cid:%d did:%d", e->cid, e->did);
        ArmaRefrescoUpdate(e->cid);
    } else if (!std::strcmp(szMetodo, "NOTIFY")) {
        RespondeEnDialogo(e, 200);
    } else if (!std::strcmp(szMetodo, "INFO")) {
        if (e->cid == 0) {
            eXosip_call_send_answer(e->tid, 400, nullptr);
            return;
        }
        RespondeEnDialogo(e, 200);
        if (!fnAplicacion.load()) return;
        static const char* const kIntrusiones[] = {"Intrusion in progress", "Intrusion is Efective",
                                                   "End of Intrusion", "Intrusion is impending"};
        char acUltimo[101] = "";
        osip_body_t* b = nullptr;
        for (int i = 0; osip_message_get_body(m, i, &b) >= 0 && b; i++, b = nullptr) {
            const char* t = b->body ? b->body : "";
            for (int k = 0; k < 4; k++)
                if (!std::strcmp(t, kIntrusiones[k])) {
                    Informa(iUsuario, SIPEV_INTRUSION_EN_CURSO + k, e->cid, e->did, 0);
                    return;
                }
            std::snprintf(acUltimo, sizeof acUltimo, "%.100s", t);
        }
        Informa(iUsuario, SIPEV_INFO, e->cid, e->did, reinterpret_cast<intptr_t>(acUltimo));
    } else {
        // Every request gets its answer: one left open would hold its transaction for good.
        NLOG::Log(NLOG::INFO, "CSIPUA: metodo %.16s no aceptado en la llamada cid:%d", szMetodo, e->cid);
        RespondeEnDialogo(e, 405, true);
    }
}

void CSipua::TrataMensajeFuera(eXosip_event_t* e, int iUsuario) {
    (void)iUsuario;
    osip_message_t* m = e->request;
    if (!m || !MSG_IS_REQUEST(m) || !m->sip_method) return;
    const char* szMetodo = m->sip_method;
    if (!std::strcmp(szMetodo, "REFER")) {
        if (e->tid > 0) eXosip_message_send_answer(e->tid, 200, nullptr);
    } else if (!std::strcmp(szMetodo, "NOTIFY")) {
        if (e->tid > 0) eXosip_message_send_answer(e->tid, 501, nullptr);
    } else if (!std::strcmp(szMetodo, "OPTIONS")) {
        TrEvt_Options(e);
    } else if (!std::strcmp(szMetodo, "INFO")) {
        eXosip_message_send_answer(e->tid, 501, nullptr);
    } else if (!std::strcmp(szMetodo, "MESSAGE")) {
        NLOG::Log(NLOG::INFO, "MSG_IS_MESSAGE: tid %i", e->tid);
        eXosip_message_send_answer(e->tid, 200, nullptr);
    } else {
        osip_message_t* a = nullptr;
        if (eXosip_message_build_answer(e->tid, 405, &a) == 0 && a) {
            sipPonMetodosAceptados(a);
            eXosip_message_send_answer(e->tid, 405, a);
        }
    }
}

int CSipua::TrEvt_Options(eXosip_event_t* e) {
    NLOG::Log(NLOG::INFO, "TrEvt_Options");
    const osip_message_t* m = e->request;
    int iUsuario = -1;
    if (m->to && m->to->url && m->to->url->username) iUsuario = BuscaUsuario(m->to->url->username);
    int iEstado = 503;
    if (iUsuario >= 0) iEstado = Informa(iUsuario, SIPEV_OPTIONS, e->cid, e->did, 0) >= 0 ? 200 : 503;
    if (e->tid <= 0) {
        NLOG::Log(NLOG::ERROR, "TrEvt_Options: tid < 0");
        return -1;
    }
    osip_message_t* a = nullptr;
    int r = eXosip_options_build_answer(e->tid, iEstado, &a);
    if (r != 0 || !a) return -1;
    const char* t = TextoVersionWG67(iUsuario, nullptr);
    osip_message_set_header(a, "WG67-Version", t ? t : "legacy-eu.01");
    sipPonMetodosAceptados(a);
    return eXosip_options_send_answer(e->tid, iEstado, a);
}

void CSipua::TrataRefer(eXosip_event_t* e, int iUsuario) {
    if (RespondeEnDialogo(e, 202) != 0) return;
    osip_message_t* n = nullptr;
    if (eXosip_call_build_notify(e->did, EXOSIP_SUBCRSTATE_ACTIVE, &n) == 0 && n) {
        osip_message_set_header(n, "Event", "refer");
        osip_message_set_content_type(n, "message/sipfrag");
        osip_message_set_body(n, "SIP/2.0 100 Trying", 18);
        eXosip_call_send_request(e->did, n);
    }
    char acReferTo[82], acReferredBy[82];
    sipLeeCabecera(e->request, "Refer-To", acReferTo, sizeof acReferTo);
    sipLeeCabecera(e->request, "Referred-By", acReferredBy, sizeof acReferredBy);
    char acReplaces[82] = "";
    if (const char* p = std::strstr(acReferTo, "Replaces=")) {
        p += 9;
        const char* fin = std::strchr(p, '&');
        if (!fin) fin = std::strchr(p, '>');
        if (fin) {
            std::snprintf(acReplaces, sizeof acReplaces, "%.*s", static_cast<int>(fin - p > 80 ? 80 : fin - p), p);
            SustituyeTexto(acReplaces, "%3B", ";");
            SustituyeTexto(acReplaces, "%3D", "=");
            SustituyeTexto(acReplaces, "%40", "@");
        }
    }
    if (char* q = std::strchr(acReferTo, '?')) {
        q[0] = '>';
        q[1] = '\0';
    }
    {
        std::lock_guard<std::mutex> lk(oSesiones.Mutex());
        if (SesionSip* s = oSesiones.Busca(e->cid)) {
            CopiaTextoSip(s->acReferTo, sizeof s->acReferTo, acReferTo);
            CopiaTextoSip(s->acReferredBy, sizeof s->acReferredBy, acReferredBy);
            CopiaTextoSip(s->acReplaces, sizeof s->acReplaces, acReplaces);
        }
    }
    Informa(iUsuario, SIPEV_REFER, e->cid, e->did, 0);
}

int CSipua::RespondeUpdate(eXosip_event_t* e) {
    if (e->cid < 1 || e->did < 1) return -1;
    SesionSip sCopia;
    std::memset(static_cast<void*>(&sCopia), 0, sizeof sCopia);
    {
        std::lock_guard<std::mutex> lk(oSesiones.Mutex());
        if (SesionSip* s = oSesiones.Busca(e->cid)) {
            CopiaTextoSip(sCopia.acSupported, sizeof sCopia.acSupported, s->acSupported);
            CopiaTextoSip(sCopia.acSessionExpires, sizeof sCopia.acSessionExpires, s->acSessionExpires);
        }
    }
    osip_message_t* a = nullptr;
    int r = eXosip_call_build_answer(e->tid, 200, &a);
    if (r != 0) return r;
    sipPonSessionExpires(a, sCopia);
    return eXosip_call_send_answer(e->tid, 200, a);
}

void CSipua::ArmaRefrescoUpdate(int cid) {
    std::lock_guard<std::mutex> lk(oSesiones.Mutex());
    SesionSip* s = oSesiones.Busca(cid);
    // A session that negotiated no timer has no expiry: a peer's UPDATE or re-INVITE that
    // changes its media must not give it one.
    if (!s || !s->acSessionExpires[0]) return;
    const int n = s->oTemporizador.GetSessionExpires();
    s->oTemporizador.SetTmpSessionExpires(n != 0 ? n : iPeriodoSesion.load());
}

void CSipua::ProcesaOkDeUpdate(eXosip_event_t* e) {
    std::lock_guard<std::mutex> lk(oSesiones.Mutex());
    if (SesionSip* s = oSesiones.Busca(e->cid)) {
        s->oTemporizador.SetTmpRx200ok(s->oTemporizador.GetSessionExpires());
        NLOG::Log(NLOG::DEBUG, "ProcesaOkDeUpdate:SetTmpTxupdate");
    }
}

int CSipua::GuardaTextoNotify(eXosip_event_t* e) {
    osip_content_type_t* ct = e->request ? osip_message_get_content_type(e->request) : nullptr;
    if (!ct || !ct->type || !ct->subtype || strcasecmp(ct->type, "text") || strcasecmp(ct->subtype, "plain"))
        return -1;
    osip_body_t* b = nullptr;
    if (osip_message_get_body(e->request, 0, &b) < 0 || !b || !b->body) return -1;
    char acFrom[256];
    FromComoTexto(e->request, acFrom, sizeof acFrom);
    if (char* p = std::strchr(acFrom, '>')) p[1] = '\0';
    std::lock_guard<std::mutex> lk(oSesiones.Mutex());
    SesionSip* s = oSesiones.BuscaPorRemoto(acFrom);
    if (!s) return -1;
    CopiaTextoSip(s->acTextoNotify, sizeof s->acTextoNotify, b->body);
    return s->cid;
}

// The media of a session from the answer's SDP and the request's offer.
void CSipua::MediaDeLaRespuesta(eXosip_event_t* e) {
    sdp_message_t* r = e->response ? eXosip_get_sdp_info(e->response) : nullptr;
    sdp_message_t* l = e->request ? eXosip_get_sdp_info(e->request) : nullptr;
    DatosMediaSip m;
    LeeMedia(r, l, true, &m);
    CopiaMedia(m, e->cid);
    if (r) sdp_message_free(r);
    if (l) sdp_message_free(l);
}
