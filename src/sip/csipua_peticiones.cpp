// Requests and answers of the user agent: ED-137 calls with their inline SDP offer, answers,
// ends with a WG-67 Reason, hold and resume, session type changes, INFO, UPDATE, OPTIONS,
// SUBSCRIBE and the NOTIFY of a REFER. The session lock is taken only to find or update a
// session, never across a send.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "comun/nlog.h"
#include "sip/cabecerassip.h"
#include "sip/csipua.h"
#include "sip/sdpradio.h"

namespace {

void QuitaEspacios(char* s) {
    char* d = s;
    for (; *s; s++)
        if (*s != ' ') *d++ = *s;
    *d = '\0';
}

bool Empieza(const char* s, const char* p) { return s && !std::strncmp(s, p, std::strlen(p)); }

// The first Via's host becomes the gateway's own address.
void PonHostVia(osip_message_t* m, const char* szIp) {
    osip_via_t* v = nullptr;
    if (!m || osip_message_get_via(m, 0, &v) < 0 || !v) return;
    char ac[66];
    std::snprintf(ac, sizeof ac, "%.65s", szIp);
    osip_free(v->host);
    v->host = osip_strdup(ac);
}

const char* LineaDireccion(uint8_t ucMsa) {
    switch (ucMsa) {
    case 0: case 12: case 32: case 52: case 72: return "sendrecv\r\n";
    case 1: case 11: case 30: case 31: case 51: case 71: return "sendonly\r\n";
    case 2: case 10: case 50: case 70: return "recvonly\r\n";
    default:
        NLOG::Log(NLOG::INFO, "MSA NO VALIDO : %d", ucMsa);
        return "sendrecv\r\n";
    }
}

}  // namespace

// SDP offer of an outgoing call; 0, or -1 when it cannot be written within its buffer.
int CSipua::PonCuerpoOferta(osip_message_t* inv, SesionSip* s, int iUsuario, const char* szPuerto,
                            const char* szSubject, uint8_t ucSelector, uint8_t ucMsa, const OpcionesLlamada* op) {
    CuerpoSdp c;
    c.Formatea("v=0\r\no=SIPUA 0 0 IN IP4 %s\r\ns=conversation\r\nc=IN IP4 %s\r\nt=0 0\r\n", acMiIp, acMiIp);
    if (c.Longitud() + 506 >= 1536) {
        NLOG::Log(NLOG::ERROR, "CSipua: SIP_Start_Call. Desbordado buffer tmp");
        return -1;
    }
    ListaCodecs l;
    int iTipo = 0;
    const bool bUsuario = iUsuario >= 0 && oUsuarios.Codecs(iUsuario, &l, &iTipo);
    char acM[64];
    if (bUsuario && l.iNum > 0) {
        int n = std::snprintf(acM, sizeof acM, "m=audio %s RTP/AVP", szPuerto);
        for (int i = 0; i < l.iNum && n > 0 && n < static_cast<int>(sizeof acM); i++)
            n += std::snprintf(acM + n, sizeof acM - n, " %i", l.aiPayload[i]);
        if (iTipo == SIP_USR_RADIO && n > 0 && n < static_cast<int>(sizeof acM))
            n += std::snprintf(acM + n, sizeof acM - n, " 123");
        if (n < 0 || n >= static_cast<int>(sizeof acM)) return -1;
    } else if (!bUsuario && (ucSelector == 0 || ucSelector == 1 || ucSelector == 10 || ucSelector == 11)) {
        const char* szPrimero = ucSelector <= 1 ? " 8" : " 96";
        const char* szSegundo = ucSelector == 1 ? " 15" : ucSelector == 11 ? " 98" : "";
        std::snprintf(acM, sizeof acM, "m=audio %s RTP/AVP 123%s%s", szPuerto, szPrimero, szSegundo);
    } else {
        NLOG::Log(NLOG::ERROR, "CSipua: SIP_Start_Call sin codecs (usuario %d selector %d)", iUsuario, ucSelector);
        return -1;
    }
    c.Anade(acM);
    c.Anade("\r\n");
    if (bUsuario) {
        if (l.Contiene(0)) c.Anade("a=rtpmap:0 PCMU/8000\r\n");
        if (l.Contiene(8)) c.Anade("a=rtpmap:8 PCMA/8000\r\n");
        if (l.Contiene(15)) c.Anade("a=rtpmap:15 G728/8000\r\n");
        if (iTipo == SIP_USR_RADIO) c.Anade("a=rtpmap:123 R2S/8000\r\n");
    }
    c.Formatea("a=%.31s", LineaDireccion(ucMsa));
    if (Empieza(szSubject, "radio")) {
        s->iPttId = -1;
        s->rtphe = 1;
        if (op && op->fid[0]) CopiaTextoSip(s->fid, sizeof s->fid, op->fid);
        if (op) s->bss = op->bss;
        s->ptt_rep = 0;
        sdp_atributos_radio(s, c);
    }
    if (c.Desbordado()) {
        NLOG::Log(NLOG::ERROR, "CSipua: SIP_Start_Call. Desbordado buffer tmp");
        return -1;
    }
    osip_message_set_body(inv, c.Texto(), c.Longitud());
    osip_message_set_content_type(inv, "application/sdp");
    return 0;
}

int CSipua::SIP_Start_Call(int iUsuario, const char* szUri, const char* szFrom, const char* szTo,
                           const char* szSubject, const char* szRuta, const char* szPuerto, void* pRef,
                           const char* szPrioridad, uint8_t ucSelector, uint8_t ucMsa, const OpcionesLlamada* op) {
    SesionSip* s;
    {
        std::lock_guard<std::mutex> lk(oSesiones.Mutex());
        s = oSesiones.NuevaSaliente();
        if (!s) return -1;
        // Known before the INVITE leaves: an answer may overtake the return of the send.
        s->iUsuario = iUsuario;
        s->iPuertoLocal = szPuerto ? std::atoi(szPuerto) : 0;
        CopiaTextoSip(s->acLocal, sizeof s->acLocal, szFrom);
        if (op) s->iTipoSesion = op->iTipoSesion;
    }
    auto Libera = [&] {
        std::lock_guard<std::mutex> lk(oSesiones.Mutex());
        oSesiones.Libera(s);
    };
    char acFrom[170], acTo[170], acSubject[81], acRuta[256];
    std::snprintf(acFrom, sizeof acFrom, "<%.80s", szFrom ? szFrom : "");
    std::snprintf(acTo, sizeof acTo, "<%.80s", szTo ? szTo : "");
    if (op && op->acParamFrom[0] && std::strlen(acFrom) + 1 + std::strlen(szParamUsuario) + std::strlen(op->acParamFrom) <= 160) {
        std::strcat(acFrom, ";");
        std::strcat(acFrom, szParamUsuario);
        std::strcat(acFrom, op->acParamFrom);
    }
    if (op && op->acParamTo[0] && std::strlen(acTo) + 1 + std::strlen(szParamUsuario) + std::strlen(op->acParamTo) <= 160) {
        std::strcat(acTo, ";");
        std::strcat(acTo, szParamUsuario);
        std::strcat(acTo, op->acParamTo);
        if (iModoUri == 0 && op->prio != 0) {
            char ac[32];
            std::snprintf(ac, sizeof ac, ";%s%d", szParamPrioridad, op->prio);
            if (std::strlen(acTo) + std::strlen(ac) <= 160) std::strcat(acTo, ac);
        }
    }
    std::strcat(acFrom, ">");
    std::strcat(acTo, ">");
    CopiaTextoSip(acSubject, sizeof acSubject, szSubject);
    CopiaTextoSip(acRuta, sizeof acRuta, szRuta);
    QuitaEspacios(acTo);
    QuitaEspacios(acSubject);
    QuitaEspacios(acFrom);
    QuitaEspacios(acRuta);
    osip_message_t* inv = nullptr;
    NLOG::Log(NLOG::INFO, "eXosip_call_build_initial_invite, req_uri: %s, to: %s, from %s subject %s\n",
              szUri ? szUri : "", acTo, acFrom, szSubject ? szSubject : "");
    if (eXosip_call_build_initial_invite(&inv, acTo, acFrom, acRuta[0] ? acRuta : nullptr, szSubject) != 0 || !inv) {
        Libera();
        NLOG::Log(NLOG::ERROR, "Error eXosip_call_build_initial_invite, req_uri: %s, to: %s, from %s subject %s\n",
                  szUri ? szUri : "", acTo, acFrom, szSubject ? szSubject : "");
        return -1;
    }
    PonHostVia(inv, acMiIp);
    osip_contact_t* c = nullptr;
    if (osip_message_get_contact(inv, 0, &c) >= 0 && c) {
        osip_list_remove(&inv->contacts, 0);
        osip_contact_free(c);
    }
    char acContacto[81];
    CopiaTextoSip(acContacto, sizeof acContacto, szFrom);
    QuitaEspacios(acContacto);
    osip_message_set_contact(inv, acContacto);
    PonVersionWG67(iUsuario, inv, nullptr);
    char acCallId[81] = "";
    char* sz = nullptr;
    if (inv->call_id && osip_call_id_to_str(inv->call_id, &sz) == 0 && sz) {
        CopiaTextoSip(acCallId, sizeof acCallId, sz);
        osip_free(sz);
    } else {
        NLOG::Log(NLOG::ERROR, "CSipua::SIP_Start_Call osip_call_id_to_str");
    }
    SesionSip sOferta;
    {
        std::lock_guard<std::mutex> lk(oSesiones.Mutex());
        CopiaTextoSip(s->acCallId, sizeof s->acCallId, acCallId);
        sOferta = *s;
    }
    if (PonCuerpoOferta(inv, &sOferta, iUsuario, szPuerto ? szPuerto : "0", szSubject, ucSelector, ucMsa, op) != 0) {
        osip_message_free(inv);
        Libera();
        return -1;
    }
    {
        std::lock_guard<std::mutex> lk(oSesiones.Mutex());
        s->iPttId = sOferta.iPttId;
        s->rtphe = sOferta.rtphe;
        CopiaTextoSip(s->fid, sizeof s->fid, sOferta.fid);
        s->bss = sOferta.bss;
        s->ptt_rep = sOferta.ptt_rep;
    }
    if (szPrioridad && szPrioridad[0]) osip_message_set_header(inv, "priority", szPrioridad);
    if (Empieza(szSubject, "IA call") || Empieza(szSubject, "DA/IDA call") || Empieza(szSubject, "SCIP-DATOS")) {
        char ac[32];
        std::snprintf(ac, sizeof ac, "%d;refresher=uac", iPeriodoSesion.load());
        osip_message_set_header(inv, "Supported", "timer");
        osip_message_set_header(inv, "Session-Expires", ac);
    } else {
        osip_message_set_header(inv, "Supported", "100rel");
    }
    if (op && op->acMaxForwards[0]) {
        osip_header_t* h = nullptr;
        if (osip_message_header_get_byname(inv, "max-forwards", 0, &h) >= 0 && h) {
            char ac[9];
            CopiaTextoSip(ac, sizeof ac, op->acMaxForwards);
            osip_free(h->hvalue);
            h->hvalue = osip_strdup(ac);
        } else {
            osip_message_set_header(inv, "Max-Forwards", op->acMaxForwards);
        }
    }
    if (op && op->acReferredBy[0]) osip_message_set_header(inv, "Referred-By", op->acReferredBy);
    if (op && op->acReplaces[0]) osip_message_set_header(inv, "Replaces", op->acReplaces);
    // The stack's lock is held until the cid is stored: no answer is handled before. One that
    // still finds the session without its cid is matched by Call-ID (SIP_TrataEvento).
    eXosip_lock();
    const int cid = eXosip_call_send_initial_invite(inv);
    if (cid < 1) {
        eXosip_unlock();
        Libera();
        return cid;
    }
    eXosip_call_set_reference(cid, pRef);
    {
        std::lock_guard<std::mutex> lk(oSesiones.Mutex());
        if (s->iMarca != 0 && (s->cid == -1 || s->cid == cid)) s->cid = cid;
    }
    eXosip_unlock();
    return cid;
}

int CSipua::SIP_Start_Options(const char* szFrom, const char* szTo, const char* szRuta, int iTipo) {
    osip_message_t* m = nullptr;
    if (eXosip_options_build_request(&m, szTo, szFrom, szRuta && szRuta[0] ? szRuta : nullptr) != 0 || !m) {
        NLOG::Log(NLOG::ERROR, "CSipua::SIP_Start_Options ");
        return -1;
    }
    static const char* const kTextos[] = {"radio.01", "phone.01", "legacy-eu.01;gateway=\"ATS-R2\"",
                                          "legacy-eu.01;gateway=\"ATS-N5\"", "legacy-eu.01;gateway=\"ATS-LCEN\""};
    osip_message_set_header(m, "WG67-Version", iTipo >= 0 && iTipo <= 4 ? kTextos[iTipo] : "legacy-eu.01");
    PonHostVia(m, acMiIp);
    return eXosip_options_send_request(m);
}

int CSipua::SIP_Close_Session(int, int cid, int iEstado, int iRazon) {
    NLOG::Log(NLOG::INFO, "SIP_Close_Session: acMiIp %s", acMiIp);
    int did = -1, iUsuario = -1;
    {
        std::lock_guard<std::mutex> lk(oSesiones.Mutex());
        SesionSip* s = oSesiones.Busca(cid);
        if (!s) return -1;
        did = s->did;
        iUsuario = s->iUsuario;
    }
    const char* szVersion = iUsuario >= 0 ? TextoVersionWG67(iUsuario, nullptr) : nullptr;
    return eXosip_call_terminate_with_text(cid, did, iEstado, sipTextoRazon(iRazon), acMiIp, szVersion, acUserAgent,
                                           nullptr);
}

int CSipua::RespondeInvite(int cid, int iEstado) {
    int tid;
    {
        std::lock_guard<std::mutex> lk(oSesiones.Mutex());
        SesionSip* s = oSesiones.Busca(cid);
        if (!s) return -1;
        tid = s->tid;
    }
    return eXosip_call_send_answer(tid, iEstado, nullptr);
}

int CSipua::RespondeInviteConRazon(int cid, int iEstado, int iRazon) {
    int tid;
    {
        std::lock_guard<std::mutex> lk(oSesiones.Mutex());
        SesionSip* s = oSesiones.Busca(cid);
        if (!s) return -1;
        tid = s->tid;
    }
    const char* szRazon = sipTextoRazon(iRazon);
    if (szRazon) NLOG::Log(NLOG::DEBUG, "texto..: %s  ", szRazon);
    return eXosip_call_send_answer_with_reason(tid, iEstado, nullptr, szRazon);
}

int CSipua::SIP_Envia_Respuesta_OK(int cid, int, const char* szPuerto) {
    SesionSip s;
    if (LeeSesion(cid, &s) != 0) return -1;
    osip_message_t* a = nullptr;
    if (eXosip_call_build_answer(s.tid, 200, &a) != 0 || !a) return 0;
    char acContacto[81];
    std::snprintf(acContacto, sizeof acContacto, "<sip:%s@%s:5060>",
                  a->to && a->to->url && a->to->url->username ? a->to->url->username : "", acMiIp);
    QuitaEspacios(acContacto);
    osip_contact_t* c = nullptr;
    while (osip_message_get_contact(a, 0, &c) >= 0 && c) {
        osip_list_remove(&a->contacts, 0);
        osip_contact_free(c);
        c = nullptr;
    }
    osip_message_set_contact(a, acContacto);
    osip_message_set_header(a, "Require", "100rel");
    osip_message_set_header(a, "RSeq", "1");
    const bool bTimer = sipPonSessionExpires(a, s);
    sipPonMetodosAceptados(a);
    sdp_message_t* r = eXosip_get_remote_sdp(s.did);
    if (!r) NLOG::Log(NLOG::ERROR, "SIP_Envia_Respuesta_OK: remote SDP null");
    sdp_message_t* anterior = eXosip_get_local_sdp(s.did);
    const int res = sdp_complete_message_new(&s, r, a, szPuerto ? szPuerto : "0", acMiIp, anterior);
    if (anterior) sdp_message_free(anterior);
    if (r) sdp_message_free(r);
    if (res != 0) {
        osip_message_free(a);
        eXosip_call_send_answer(s.tid, 415, nullptr);
        return 0;
    }
    eXosip_call_send_answer(s.tid, 200, a);
    std::lock_guard<std::mutex> lk(oSesiones.Mutex());
    SesionSip* p = oSesiones.Busca(cid);
    if (!p) return 0;
    NLOG::Log(NLOG::INFO, "SIP_Envia_Respuesta_OK: subject %s", p->acSubject);
    if (bTimer && std::strcmp(p->acSubject, "radio") != 0) {
        p->oTemporizador.SetSessionExpires(1800);
        NLOG::Log(NLOG::DEBUG, "actualizo tmptxupdate temSE =%i", p->oTemporizador.GetSessionExpires());
        p->oTemporizador.SetTmpTxupdate(p->oTemporizador.GetSessionExpires() / 2);
    }
    p->iPuertoLocal = szPuerto ? std::atoi(szPuerto) : 0;
    return 0;
}

int CSipua::SIP_Answer_Call(int, int cid, const char* szPuerto) {
    SesionSip s;
    if (LeeSesion(cid, &s) != 0) return -1;
    osip_message_t* a = nullptr;
    if (eXosip_call_build_answer(s.tid, 200, &a) != 0 || !a) {
        eXosip_call_send_answer(s.tid, 400, nullptr);
        return 0;
    }
    if (sdp_complete_200ok_new(s.did, a, szPuerto ? szPuerto : "0") != 0) {
        osip_message_free(a);
        eXosip_call_send_answer(s.tid, 415, nullptr);
        return 0;
    }
    sipPonMetodosAceptados(a);
    eXosip_call_send_answer(s.tid, 200, a);
    std::lock_guard<std::mutex> lk(oSesiones.Mutex());
    if (SesionSip* p = oSesiones.Busca(cid)) {
        p->oTemporizador.SetTmpTxupdate(p->oTemporizador.GetSessionExpires() / 2);
        NLOG::Log(NLOG::DEBUG, "(SIP_Answer_Call) actualizo tmptxupdate temSE =%i",
                  p->oTemporizador.GetSessionExpires());
        NLOG::Log(NLOG::DEBUG, "SIP_Answer_Call:SetTmpTxupdate");
    }
    return 0;
}

namespace {

// Re-INVITE in the dialog with the dialog's local SDP edited by fnEdita.
int ReinviteConSdp(int did, int (*fnEdita)(sdp_message_t*)) {
    sdp_message_t* l = eXosip_get_local_sdp(did);
    if (!l) return -1;
    osip_message_t* m = nullptr;
    if (eXosip_call_build_request(did, "INVITE", &m) != 0 || !m) {
        sdp_message_free(l);
        return -1;
    }
    osip_message_set_header(m, "Supported", "100rel");
    char* sz = nullptr;
    if (fnEdita(l) != 0 || sdp_version_editada(l, did) != 0 || sdp_message_to_str(l, &sz) != 0 || !sz) {
        sdp_message_free(l);
        osip_message_free(m);
        return -1;
    }
    sdp_message_free(l);
    osip_message_set_body(m, sz, std::strlen(sz));
    osip_free(sz);
    osip_message_set_content_type(m, "application/sdp");
    return eXosip_call_send_request(did, m);
}

}  // namespace

int CSipua::Retiene(int, int cid) {
    SesionSip s;
    if (LeeSesion(cid, &s) != 0) return -1;
    return ReinviteConSdp(s.did, &sdp_pon_sendonly);
}

int CSipua::Recupera(int, int cid) {
    SesionSip s;
    if (LeeSesion(cid, &s) != 0) return -1;
    return ReinviteConSdp(s.did, &sdp_pon_sendrecv);
}

int CSipua::SIP_Cambia_Tipo_Sesion(int iUsuario, int cid, int iTipoSesion, const char* szPrioridad) {
    SesionSip s;
    if (LeeSesion(cid, &s) != 0) {
        NLOG::Log(NLOG::DEBUG, "no encontrada sesion ");
        return -1;
    }
    sdp_message_t* l = eXosip_get_local_sdp(s.did);
    if (!l) {
        NLOG::Log(NLOG::DEBUG, "no local_sdp ");
        return -1;
    }
    osip_message_t* m = nullptr;
    if (eXosip_call_build_request(s.did, "INVITE", &m) != 0 || !m) {
        sdp_message_free(l);
        NLOG::Log(NLOG::DEBUG, "error build reinvite ");
        return -1;
    }
    osip_message_set_header(m, "subject", "radio");
    if (szPrioridad && szPrioridad[0]) osip_message_set_header(m, "priority", szPrioridad);
    osip_message_set_header(m, "Supported", "100rel");
    NLOG::Log(NLOG::DEBUG, "Voy a _sdp_modifica_tipo_sesion");
    ListaCodecs lc;
    if (!oUsuarios.Codecs(iUsuario, &lc)) lc.Fija(nullptr, 0);
    char* sz = nullptr;
    if (_sdp_modifica_tipo_sesion(l, iTipoSesion, lc.aiPayload, lc.iNum) != 0 || sdp_version_editada(l, s.did) != 0 ||
        sdp_message_to_str(l, &sz) != 0 || !sz) {
        sdp_message_free(l);
        osip_message_free(m);
        NLOG::Log(NLOG::DEBUG, "error modifica tipo ");
        return -1;
    }
    sdp_message_free(l);
    NLOG::Log(NLOG::DEBUG, "SIP_Cambia_Tipo_Sesion 4");
    osip_message_set_body(m, sz, std::strlen(sz));
    osip_free(sz);
    osip_message_set_content_type(m, "application/sdp");
    return eXosip_call_send_request(s.did, m);
}

int CSipua::EnviaInfo(int, int cid, const char* szTipo, const char* szCuerpo) {
    SesionSip s;
    if (LeeSesion(cid, &s) != 0) return -1;
    osip_message_t* m = nullptr;
    int r = eXosip_call_build_info(s.did, &m);
    if (r != 0 || !m) return r != 0 ? r : -1;
    if (szTipo && szTipo[0]) osip_message_set_content_type(m, szTipo);
    if (szCuerpo) osip_message_set_body(m, szCuerpo, strnlen(szCuerpo, 1000));
    return eXosip_call_send_request(s.did, m);
}

int CSipua::SIP_Envia_UPDATE(const SesionSip* s) {
    if (!s) return -1;
    NLOG::Log(NLOG::DEBUG, "SIP_Envia_UPDATE");
    osip_message_t* m = nullptr;
    int r = eXosip_call_build_update(s->did, &m);
    if (r != 0 || !m) return r != 0 ? r : -1;
    NLOG::Log(NLOG::DEBUG, "SIP_Envia_UPDATE-2");
    PonHostVia(m, acMiIp);
    if (s->acSessionExpires[0]) osip_message_set_header(m, "Session-Expires", s->acSessionExpires);
    if (eXosip_call_send_request(s->did, m) != 0) NLOG::Log(NLOG::ERROR, "SIP_Envia_UPDATE");
    return r;
}

int CSipua::SIP_Envia_UPDATE(int cid) {
    NLOG::Log(NLOG::DEBUG, "CSIPUA: SIP_Envia_UPDATE UPDATE  cid:%d ", cid);
    SesionSip s;
    if (LeeSesion(cid, &s) != 0) return -1;
    NLOG::Log(NLOG::DEBUG, "CSIPUA: Fin SIP_Envia_UPDATE UPDATE  cid:%d ", cid);
    return SIP_Envia_UPDATE(&s);
}

int CSipua::SuscribeSip(const char* szTo, const char* szFrom, const char* szRuta, const char* szEvento, int iExpira) {
    char acTo[256], acFrom[256], acRuta[256];
    CopiaTextoSip(acTo, sizeof acTo, szTo);
    CopiaTextoSip(acFrom, sizeof acFrom, szFrom);
    CopiaTextoSip(acRuta, sizeof acRuta, szRuta);
    QuitaEspacios(acTo);
    QuitaEspacios(acFrom);
    QuitaEspacios(acRuta);
    osip_message_t* m = nullptr;
    if (eXosip_subscribe_build_initial_request(&m, acTo, acFrom, acRuta[0] ? acRuta : nullptr, szEvento, iExpira) != 0 ||
        !m)
        return -1;
    osip_message_set_header(m, "Accept", "application/pidf+xml");
    return eXosip_subscribe_send_initial_request(m);
}

int CSipua::RefrescaSuscripcion(int did, const char* szEvento, int iExpira) {
    osip_message_t* m = nullptr;
    int r = eXosip_subscribe_build_refresh_request(did, &m);
    if (r != 0 || !m) return r != 0 ? r : -1;
    char ac[16];
    std::snprintf(ac, sizeof ac, "%d", iExpira);
    osip_message_set_header(m, "Accept", "application/pidf+xml");
    osip_message_set_header(m, "Event", szEvento ? szEvento : "");
    osip_message_set_header(m, "Expires", ac);
    return eXosip_subscribe_send_refresh_request(did, m);
}

int CSipua::EnviaNotifyRefer(int did, const char* szSipfrag) {
    osip_message_t* n = nullptr;
    int r = eXosip_call_build_notify(did, EXOSIP_SUBCRSTATE_TERMINATED, &n);
    if (r != 0 || !n) {
        NLOG::Log(NLOG::ERROR, "Error en eXosip_call_build_notify %i %i", did, r);
        return r != 0 ? r : -1;
    }
    osip_message_set_header(n, "Event", "refer");
    osip_message_set_content_type(n, "message/sipfrag");
    if (szSipfrag) osip_message_set_body(n, szSipfrag, std::strlen(szSipfrag));
    return eXosip_call_send_request(did, n);
}
