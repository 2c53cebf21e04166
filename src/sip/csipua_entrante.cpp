// The incoming side of the user agent: the screening of an incoming INVITE (its user, its
// headers, the session it takes), the reading of a remote SDP and incoming subscriptions.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "comun/nlog.h"
#include "comun/texto.h"
#include "sip/cabecerassip.h"
#include "sip/csipua.h"
#include "sip/sdpradio.h"
#include "sip/suscripciones.h"

namespace {

const int kMinSE = 90;  // seconds: the shortest session interval accepted

int Responde(int tid, int iEstado) { return eXosip_call_send_answer(tid, iEstado, nullptr); }

}  // namespace

int CSipua::RechazaIntervaloCorto(int tid) {
    osip_message_t* a = nullptr;
    int res = eXosip_call_build_answer(tid, 422, &a);
    if (res != 0) return res;
    char ac[16];
    std::snprintf(ac, sizeof ac, "%d", kMinSE);
    osip_message_set_header(a, "Min-SE", ac);
    return eXosip_call_send_answer(tid, 422, a);
}

// The first two checks of an INVITE or SUBSCRIBE: true when it was refused with 400.
bool CSipua::RechazaSinIdentificadores(eXosip_event_t* e) {
    if (!e->request) {
        Responde(e->tid, 400);
        NLOG::Log(NLOG::ERROR, "NULL = pEvent->request");
        return true;
    }
    if (e->did < 1 && e->cid < 1) {
        Responde(e->tid, 400);
        NLOG::Log(NLOG::ERROR, "ERROR did/cid");
        return true;
    }
    return false;
}

int CSipua::UsuarioDeInvite(eXosip_event_t* e) {
    if (RechazaSinIdentificadores(e)) return USUARIO_RECHAZADO;
    const osip_uri_t* ru = e->request->req_uri;
    if (!ru || !ru->username) {
        Responde(e->tid, 400);
        NLOG::Log(NLOG::ERROR, "No puedo obtener To: de peticion recibida");
        return USUARIO_RECHAZADO;
    }
    char acUsuario[81];
    CopiaTextoSip(acUsuario, sizeof acUsuario, ru->username);
    int iUsuario = BuscaUsuario(acUsuario);
    if (iUsuario >= 0) return iUsuario;
    char* szTo = nullptr;
    if (!e->request->to || osip_to_to_str(e->request->to, &szTo) != 0 || !szTo) return -1;
    char acTo[256];
    CopiaTextoSip(acTo, sizeof acTo, szTo);
    osip_free(szTo);
    if (const char* p = std::strstr(acTo, szParamUsuario)) {
        p += std::strlen(szParamUsuario);
        const char* fin = std::strchr(p, ';');
        if (!fin) fin = std::strchr(p, '>');
        if (fin) {
            char acNombre[256];
            std::snprintf(acNombre, sizeof acNombre, "%.*s", static_cast<int>(fin - p), p);
            iUsuario = BuscaUsuario(acNombre);
            NLOG::Log(NLOG::INFO, " CSIPUA: Busca recurso %s, iuser=%i\n", acNombre, iUsuario);
        }
    }
    return iUsuario;
}

int CSipua::TrataInviteEntrante(eXosip_event_t* e, int iUsuario) {
    if (RechazaSinIdentificadores(e)) return -1;
    osip_message_t* m = e->request;
    osip_contact_t* c = nullptr;
    if (osip_message_get_contact(m, 0, &c) < 0 || !c) {
        Responde(e->tid, 400);
        NLOG::Log(NLOG::ERROR, "ERROR header missing");
        return -1;
    }
    if (!m->content_length || !m->content_length->value) {
        Responde(e->tid, 400);
        NLOG::Log(NLOG::ERROR, "ERROR Content-Length missing");
        return -1;
    }
    if (!m->cseq) {
        Responde(e->tid, 400);
        NLOG::Log(NLOG::ERROR, "ERROR Content-Length missing");
        return -1;
    }
    // Everything read from the request before the session is taken.
    char acSubject[81], acSe[82], acCallId[81] = "", acPrioridad[81], acPai[82], acMf[33], acReferredBy[82],
        acReplaces[82], acRemoto[81] = "", acLocal[81] = "";
    const bool bAsunto = sipLeeAsunto(m, acSubject, sizeof acSubject) >= 0;
    const bool bTimer = std::strcmp(acSubject, "radio") != 0 && sipBuscaSupported(m, "timer") >= 0;
    const bool bSe = sipLeeSessionExpires(m, acSe, sizeof acSe) >= 0;
    if (char* p = std::strchr(acSe, ';')) *p = '\0';
    char* sz = nullptr;
    if (m->call_id && osip_call_id_to_str(m->call_id, &sz) == 0 && sz) {
        CopiaTextoSip(acCallId, sizeof acCallId, sz);
        osip_free(sz);
    } else {
        NLOG::Log(NLOG::ERROR, "CSipua::SIP_Start_Call osip_call_id_to_str");
    }
    sipLeePrioridad(m, acPrioridad, sizeof acPrioridad);
    if (m->from && m->from->url && osip_uri_to_str(m->from->url, &sz) == 0 && sz) {
        CopiaTextoSip(acRemoto, sizeof acRemoto, sz);
        osip_free(sz);
    }
    if (m->to && osip_to_to_str(m->to, &sz) == 0 && sz) {
        const char* p = std::strchr(sz, '<');
        if (p) {
            const char* fin = std::strchr(p + 1, '>');
            std::snprintf(acLocal, sizeof acLocal, "%.*s", fin ? static_cast<int>(fin - p - 1) : 80, p + 1);
        } else {
            CopiaTextoSip(acLocal, sizeof acLocal, sz);
        }
        osip_free(sz);
    }
    sipLeeCabecera(m, "P-Asserted-Identity", acPai, sizeof acPai);
    sipLeeCabecera(m, "Max-Forwards", acMf, sizeof acMf);
    sipLeeCabecera(m, "Referred-By", acReferredBy, sizeof acReferredBy);
    sipLeeCabecera(m, "Replaces", acReplaces, sizeof acReplaces);

    std::unique_lock<std::mutex> lk(oSesiones.Mutex());
    SesionSip* s = oSesiones.NuevaEntrante(e->cid);
    if (!s) {
        lk.unlock();
        Responde(e->tid, 480);
        NLOG::Log(NLOG::INFO, "SIPUA: Lista de llamadas llena");
        return -1;
    }
    CopiaTextoSip(s->acSubject, sizeof s->acSubject, acSubject);
    if (bTimer) {
        CopiaTextoSip(s->acSupported, sizeof s->acSupported, "timer");
        if (bSe) {
            CopiaTextoSip(s->acSessionExpires, sizeof s->acSessionExpires, acSe);
            const int iSe = std::atoi(acSe);
            if (iSe < kMinSE) {
                // The session stays marked until the stack releases the call.
                s->tid = e->tid;
                lk.unlock();
                RechazaIntervaloCorto(e->tid);
                return -1;
            }
            s->oTemporizador.SetSessionExpires(iSe);
            s->oTemporizador.SetTmpSessionExpires(iSe);
        }
    }
    s->cid = e->cid;
    s->did = e->did;
    s->tid = e->tid;
    s->iUsuario = iUsuario;
    CopiaTextoSip(s->acCallId, sizeof s->acCallId, acCallId);
    CopiaTextoSip(s->acPrioridad, sizeof s->acPrioridad, acPrioridad);
    if (!bAsunto) {
        oSesiones.Libera(s);
        lk.unlock();
        Responde(e->tid, 400);
        NLOG::Log(NLOG::ERROR, "Invite no subject and priority");
        return -1;
    }
    CopiaTextoSip(s->acDescripcion, sizeof s->acDescripcion, e->textinfo);
    if (e->response) {
        s->iCodigo = e->response->status_code;
        CopiaTextoSip(s->acRazon, sizeof s->acRazon, e->response->reason_phrase);
    }
    CopiaTextoSip(s->acRemoto, sizeof s->acRemoto, acRemoto);
    CopiaTextoSip(s->acLocal, sizeof s->acLocal, acLocal);
    CopiaTextoSip(s->acPAsserted, sizeof s->acPAsserted, acPai);
    s->iMaxForwards = std::atoi(acMf);
    if (const char* p = std::strstr(s->acLocal, szParamPrioridad))
        s->incomming_priority = static_cast<uint8_t>(std::atoi(p + std::strlen(szParamPrioridad)));
    CopiaTextoSip(s->acReferredBy, sizeof s->acReferredBy, acReferredBy);
    CopiaTextoSip(s->acReplaces, sizeof s->acReplaces, acReplaces);
    s->iMarca = e->type;
    SesionSip sCopia = *s;
    lk.unlock();

    sdp_message_t* sdp = eXosip_get_sdp_info(m);
    if (!sdp) {
        NLOG::Log(NLOG::ERROR, "missing SDP in INVITE request");
    } else {
        ListaCodecs l;
        const bool bLista = iUsuario >= 0 && oUsuarios.Codecs(iUsuario, &l);
        LeeSdpRemoto(sdp, &sCopia, bLista ? &l : nullptr);
        sdp_message_free(sdp);
        lk.lock();
        SesionSip* t = oSesiones.Busca(e->cid);
        if (t) CopiaSdpRemoto(t, sCopia);
        if (sCopia.iPayload < 0) {
            if (t) oSesiones.Libera(t);
            lk.unlock();
            NLOG::Log(NLOG::ERROR, "Seleccion de codec no valida");
            Responde(e->tid, 415);
            return -1;
        }
        lk.unlock();
    }
    return 0;
}

void CSipua::CopiaSdpRemoto(SesionSip* d, const SesionSip& o) {
    std::memcpy(d->acDirRemota, o.acDirRemota, sizeof d->acDirRemota);
    d->iPuertoRemoto = o.iPuertoRemoto;
    d->iPayload = o.iPayload;
    d->iTipoSesion = o.iTipoSesion;
    std::memcpy(d->acTipo, o.acTipo, sizeof d->acTipo);
    d->rtphe = o.rtphe;
    std::memcpy(d->txrxmode, o.txrxmode, sizeof d->txrxmode);
    std::memcpy(d->sigtime, o.sigtime, sizeof d->sigtime);
    std::memcpy(d->fid, o.fid, sizeof d->fid);
    d->ptt_rep = o.ptt_rep;
    d->bss = o.bss;
}

void CSipua::LeeSdpRemoto(sdp_message_t* sdp, SesionSip* s, ListaCodecs* l) {
    sdp_connection_t* c = eXosip_get_audio_connection(sdp);
    sdp_media_t* m = eXosip_get_audio_media(sdp);
    if (!c || !c->c_addr) {
        s->acDirRemota[0] = '\0';
        s->iPuertoRemoto = -1;
        s->iPayload = -1;
        NLOG::Log(NLOG::INFO, "No se indica IP de audio en SDP");
        return;
    }
    std::snprintf(s->acDirRemota, sizeof s->acDirRemota, "%.49s", c->c_addr);
    if (m && m->m_port) {
        s->iPuertoRemoto = std::atoi(m->m_port);
    } else {
        NLOG::Log(NLOG::INFO, "No se indican datos del codec de audio");
        s->iPuertoRemoto = -1;
    }
    if (l) {
        l->ReiniciaMarca();
        for (int i = 0; m && i < osip_list_size(&m->m_payloads); i++)
            if (auto* p = static_cast<const char*>(osip_list_get(&m->m_payloads, i))) l->Marca(std::atoi(p));
        s->iPayload = l->iElegido;
    } else {
        s->iPayload = 8;
    }
    const char* v = sdp_dame_atributo(sdp, m, "rtphe");
    s->rtphe = v ? std::atoi(v) : 0;
    s->iTipoSesion = 0;
    s->acTipo[0] = '\0';
    if ((v = sdp_dame_atributo(sdp, m, "type"))) {
        if (!ComparaSinMayusculas(v, "Radio-TxRx")) CopiaTextoSip(s->acTipo, sizeof s->acTipo, "Radio-TxRx");
        else if (!ComparaSinMayusculas(v, "Radio")) CopiaTextoSip(s->acTipo, sizeof s->acTipo, "Radio");
        else if (!ComparaSinMayusculas(v, "Radio-RxOnly")) s->iTipoSesion = 1;
        else if (!ComparaSinMayusculas(v, "Coupling")) s->iTipoSesion = 2;
        else if (!ComparaSinMayusculas(v, "Radio-Idle")) s->iTipoSesion = 3;
    }
    v = sdp_dame_atributo(sdp, m, "txrxmode");
    CopiaTextoSip(s->txrxmode, sizeof s->txrxmode, v);
    v = sdp_dame_atributo(sdp, m, "sigtime");
    CopiaTextoSip(s->sigtime, sizeof s->sigtime, v);
    v = sdp_dame_atributo(sdp, m, "fid");
    CopiaTextoSip(s->fid, sizeof s->fid, v);
    v = sdp_dame_atributo(sdp, m, "ptt_rep");
    s->ptt_rep = static_cast<uint8_t>(v ? std::atoi(v) : 0);
    const char* apsz[5];
    const int n = sdp_dame_atributos(sdp, m, "bss", 4, apsz);
    s->bss = n > 0 ? 1 : 0;
    for (int i = 0; i < n; i++)
        if (!strcasecmp(apsz[i], "QX7N")) s->bss = 3;
}

int CSipua::LeeSdpRemotoLlamada(SesionSip* s, int iUsuario) {
    sdp_message_t* sdp = eXosip_get_remote_sdp(s->did);
    if (!sdp) {
        NLOG::Log(NLOG::ERROR, "missing SDP in INVITE request");
        return -2;
    }
    ListaCodecs l;
    const bool bLista = iUsuario >= 0 && oUsuarios.Codecs(iUsuario, &l);
    LeeSdpRemoto(sdp, s, bLista ? &l : nullptr);
    sdp_message_free(sdp);
    return s->iPayload >= 0 ? 0 : -1;
}

void CSipua::TrataSuscripcionEntrante(int iUsuario, eXosip_event_t* e) {
    char ac[33];
    const int iExpira = sipLeeCabecera(e->request, "Expires", ac, sizeof ac) == 0 ? std::atoi(ac) : 600;
    InSuscripcion r;
    const int res = AceptaInSuscripcion(e, &r, iExpira, iUsuario);
    if (res < 0) return;
    char acEv[64];
    sipLeeCabecera(e->request, "event", acEv, sizeof acEv);
    if (strcasecmp(acEv, "WG67 KEY-IN") != 0 && strcasecmp(acEv, "WG67 P/R") != 0) return;
    if (res == 0 || res == 1) Informa(iUsuario, EXOSIP_IN_SUBSCRIPTION_NEW, r.nid, r.did, iExpira);
    else if (res == 2) Informa(iUsuario, EXOSIP_IN_SUBSCRIPTION_RELEASED, r.nid, r.did, -1);
}
