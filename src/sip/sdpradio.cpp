#include "sip/sdpradio.h"

#include <eXosip2/eXosip.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "comun/nlog.h"
#include "comun/texto.h"
#include "red/tcpcons.h"

namespace {

const uint32_t kTrazaSip = 0x40;

const char kCabecera[] = "v=0\r\no=ZIREZO 0 0 IN IP4 %s\r\ns=conversation\r\nc=IN IP4 %s\r\nt=0 0\r\n";

sdp_media_t* Media(sdp_message_t* s, int i) {
    return static_cast<sdp_media_t*>(osip_list_get(&s->m_medias, i));
}

bool EsAudio(const sdp_media_t* m) { return m->m_media && ComparaSinMayusculas(m->m_media, "audio") == 0; }

// Field and value texts handed to the parser: allocated copies of at most 32 characters.
char* Copia32(const char* s) {
    char ac[33];
    std::snprintf(ac, sizeof ac, "%s", s);
    return osip_strdup(ac);
}

void CambiaCampo(sdp_attribute_t* a, const char* szNuevo) {
    osip_free(a->a_att_field);
    a->a_att_field = Copia32(szNuevo);
}

// Rewrites the direction attributes of one list: those named in aszDe become szA; true when
// the list held any direction attribute at all.
bool ReescribeDirecciones(osip_list_t* l, const char* const* aszDe, int n, const char* szA) {
    bool bAlguna = false;
    for (int i = 0; i < osip_list_size(l); i++) {
        auto* a = static_cast<sdp_attribute_t*>(osip_list_get(l, i));
        if (!a || !a->a_att_field) continue;
        const char* f = a->a_att_field;
        if (!std::strcmp(f, "sendonly") || !std::strcmp(f, "recvonly") || !std::strcmp(f, "sendrecv")) bAlguna = true;
        for (int k = 0; k < n; k++)
            if (!std::strcmp(f, aszDe[k])) {
                CambiaCampo(a, szA);
                break;
            }
    }
    return bAlguna;
}

int DireccionDeLista(osip_list_t* l) {
    for (int i = 0; i < osip_list_size(l); i++) {
        auto* a = static_cast<sdp_attribute_t*>(osip_list_get(l, i));
        if (!a || !a->a_att_field) continue;
        if (!std::strcmp(a->a_att_field, "sendonly")) return SDP_SENDONLY;
        if (!std::strcmp(a->a_att_field, "recvonly")) return SDP_RECVONLY;
        if (!std::strcmp(a->a_att_field, "sendrecv")) return SDP_SENDRECV;
        if (!std::strcmp(a->a_att_field, "inactive")) return SDP_INACTIVE;
    }
    return -1;
}

// A refused media: port 0, the protocol as received and a blank before CR LF.
void MediaRechazada(const sdp_media_t* m, CuerpoSdp& c) {
    c.Anade("m=");
    c.Anade(m->m_media ? m->m_media : "");
    c.Anade(" 0 ");
    c.Anade(m->m_proto ? m->m_proto : "");
    c.Anade(" \r\n");
}

// Where the origin line of a body begins; npos when it has none.
size_t LineaOrigen(const std::string& t) {
    if (t.compare(0, 2, "o=") == 0) return 0;
    const size_t i = t.find("\no=");
    return i == std::string::npos ? i : i + 1;
}

// The description as the parser writes it back, without its origin line.
std::string SinOrigen(sdp_message_t* s) {
    char* sz = nullptr;
    if (!s || sdp_message_to_str(s, &sz) != 0 || !sz) return "";
    std::string t(sz);
    osip_free(sz);
    const size_t i = LineaOrigen(t);
    if (i == std::string::npos) return t;
    const size_t f = t.find('\n', i);
    return t.erase(i, f == std::string::npos ? std::string::npos : f - i + 1);
}

// The origin's version that follows the last body's for a new one.
std::string VersionSiguiente(sdp_message_t* psAnterior, sdp_message_t* psNuevo) {
    unsigned long long n = std::strtoull(psAnterior->o_sess_version ? psAnterior->o_sess_version : "0", nullptr, 10);
    if (SinOrigen(psAnterior) != SinOrigen(psNuevo)) ++n;
    return std::to_string(n);
}

int PonCuerpo(osip_message_t* m, const CuerpoSdp& c) {
    if (osip_message_set_body(m, c.Texto(), c.Longitud()) != 0) return -1;
    return osip_message_set_content_type(m, "application/sdp") == 0 ? 0 : -1;
}

}  // namespace

bool CuerpoSdp::AnadeN(const char* s, size_t n) {
    if (bDesbordado) return false;
    if (iLong + n >= sizeof acTexto) {
        bDesbordado = true;
        return false;
    }
    std::memcpy(acTexto + iLong, s, n);
    iLong += n;
    acTexto[iLong] = '\0';
    return true;
}

bool CuerpoSdp::Anade(const char* s) { return AnadeN(s, std::strlen(s)); }

bool CuerpoSdp::Formatea(const char* szFormato, ...) {
    char ac[256];  // one attribute line at a time
    va_list ap;
    va_start(ap, szFormato);
    int n = std::vsnprintf(ac, sizeof ac, szFormato, ap);
    va_end(ap);
    if (n < 0 || n >= static_cast<int>(sizeof ac)) {
        bDesbordado = true;
        return false;
    }
    return AnadeN(ac, static_cast<size_t>(n));
}

CuerpoSdp& sdp_atributos_radio(const SesionSip* s, CuerpoSdp& c) {
    switch (s->iTipoSesion) {
    case 1: c.Anade("a=type:Radio-Rxonly\r\n"); break;
    case 2: c.Anade("a=type:Coupling\r\n"); break;
    case 3: c.Anade("a=type:Radio-Idle\r\n"); break;
    case 0:
        if (s->acTipo[0]) {
            c.Anade("a=type:");
            c.AnadeN(s->acTipo, strnlen(s->acTipo, sizeof s->acTipo));
            c.Anade("\r\n");
        } else {
            c.Anade("a=type:Radio\r\n");
        }
        break;
    default: break;
    }
    if (s->bss == 2 || s->bss == 3) c.Anade("a=bss:QX7N\r\n");
    if (s->bss == 1 || s->bss == 2) c.Anade("a=bss:RSSI\r\n");
    c.Formatea("a=ptt_rep:%d\r\n", s->ptt_rep < 4 ? s->ptt_rep : 3);
    if (s->iPttId > 0) c.Formatea("a=ptt-id:%04d\r\n", s->iPttId);
    if (s->fid[0]) c.Formatea("a=fid:%.32s\r\n", s->fid);
    if (s->rtphe == 1) c.Anade("a=rtphe:1\r\n");
    c.Anade("a=R2S-KeepAlivePeriod:200\r\n");
    c.Anade("a=R2S-KeepAliveMultiplier:10\r\n");
    if (s->txrxmode[0]) c.Formatea("a=txrxmode:%.16s\r\n", s->txrxmode);
    if (s->sigtime[0]) c.Formatea("a=sigtime:%.16s\r\n", s->sigtime);
    return c;
}

int sdp_texto_respuesta_radio(const SesionSip* s, sdp_message_t* r, const char* szPuerto, const char* szDir,
                              CuerpoSdp& c) {
    if (!r) {
        NLOG::Log(NLOG::ERROR, "No remote SDP body found for call");
        return -1;
    }
    c.Formatea(kCabecera, szDir, szDir);
    const bool bRadio = s->iRadio == 1;
    int iDirUltima = SDP_SENDRECV;
    for (int i = 0; i < osip_list_size(&r->m_medias); i++) {
        sdp_media_t* m = Media(r, i);
        if (!m) return -1;
        if (!EsAudio(m)) {
            MediaRechazada(m, c);
            continue;
        }
        c.Formatea("m=%s %.5s RTP/AVP ", m->m_media, szPuerto);
        if (bRadio) c.Anade("123 ");
        if (s->iPayload >= 0) c.Formatea("%i", s->iPayload);
        c.Anade("\r\n");
        if (bRadio) c.Anade("a=rtpmap:123 R2S/8000\r\n");
        if (s->iPayload == 0) c.Anade("a=rtpmap:0 PCMU/8000\r\n");
        if (s->iPayload == 8) c.Anade("a=rtpmap:8 PCMA/8000\r\n");
        if (s->iPayload == 15) c.Anade("a=rtpmap:15 G728/8000\r\n");
    }
    if (sdp_media_t* m = Media(r, osip_list_size(&r->m_medias) - 1)) iDirUltima = sdp_dame_direccion(r, m);
    if (bRadio) {
        sdp_atributos_radio(s, c);
        c.Anade("a=sendrecv\r\n");
    } else if (iDirUltima == SDP_SENDONLY) {
        c.Anade("a=recvonly\r\n");
    } else if (iDirUltima == SDP_RECVONLY) {
        c.Anade("a=sendonly\r\n");
    } else {
        c.Anade("a=sendrecv\r\n");
    }
    if (c.Desbordado()) {
        NLOG::Log(NLOG::ERROR, "sdp_complete_message_new. Desbordado buf");
        return -1;
    }
    return 0;
}

int sdp_complete_message_new(const SesionSip* s, sdp_message_t* r, osip_message_t* msg, const char* szPuerto,
                             const char* szDir, sdp_message_t* psAnterior) {
    if (!r) {
        NLOG::Log(NLOG::ERROR, "No remote SDP body found for call");
        return -1;
    }
    if (!msg) {
        NLOG::Log(NLOG::ERROR, "No message to complete");
        return -1;
    }
    CuerpoSdp c;
    if (sdp_texto_respuesta_radio(s, r, szPuerto, szDir, c) != 0) return -1;
    if (sdp_version_en_dialogo(c, psAnterior) != 0) return -1;
    return PonCuerpo(msg, c);
}

int sdp_version_en_dialogo(CuerpoSdp& c, sdp_message_t* psAnterior) {
    if (!psAnterior) return 0;
    sdp_message_t* n = sdp_lee_texto(c.Texto());
    if (!n) return 0;
    const std::string sVersion = VersionSiguiente(psAnterior, n);
    sdp_message_free(n);
    // The version is the third word of the origin line.
    const std::string t = c.Texto();
    const size_t i = LineaOrigen(t);
    if (i == std::string::npos) return 0;
    const size_t iId = t.find(' ', i);
    const size_t iVersion = iId == std::string::npos ? iId : t.find(' ', iId + 1);
    const size_t iFin = iVersion == std::string::npos ? iVersion : t.find(' ', iVersion + 1);
    if (iFin == std::string::npos) return 0;
    CuerpoSdp nuevo;
    nuevo.AnadeN(t.data(), iVersion + 1);
    nuevo.Anade(sVersion.c_str());
    nuevo.Anade(t.c_str() + iFin);
    if (nuevo.Desbordado()) {
        NLOG::Log(NLOG::ERROR, "sdp_complete_message_new. Desbordado buf");
        return -1;
    }
    c = nuevo;
    return 0;
}

int sdp_version_editada(sdp_message_t* l, int did) {
    sdp_message_t* a = l ? eXosip_get_local_sdp(did) : nullptr;
    if (!a) return 0;
    const std::string sVersion = VersionSiguiente(a, l);
    sdp_message_free(a);
    osip_free(l->o_sess_version);
    l->o_sess_version = osip_strdup(sVersion.c_str());
    return 0;
}

int sdp_texto_200ok(sdp_message_t* r, const char* szPuerto, const char* szDir, CuerpoSdp& c) {
    if (!r) return -1;
    c.Formatea(kCabecera, szDir, szDir);
    for (int i = 0; i < osip_list_size(&r->m_medias); i++) {
        sdp_media_t* m = Media(r, i);
        if (!m) return -1;
        if (!EsAudio(m)) {
            MediaRechazada(m, c);
            continue;
        }
        char acLista[16] = "";
        bool b0 = false, b8 = false;
        for (int k = 0; k < osip_list_size(&m->m_payloads); k++) {
            auto* p = static_cast<const char*>(osip_list_get(&m->m_payloads, k));
            if (!p) continue;
            if (!std::strcmp(p, "0") && !b0) {
                b0 = true;
                std::strcat(acLista, "0 ");
            } else if (!std::strcmp(p, "8") && !b8) {
                b8 = true;
                std::strcat(acLista, "8 ");
            }
        }
        if (!b0 && !b8) {
            c.Anade("m=audio");
            c.Anade(" 0 RTP/AVP \r\n");
            return -1;
        }
        c.Formatea("m=%s %.5s RTP/AVP %s\r\n", m->m_media, szPuerto, acLista);
        TcpCons::Traza(kTrazaSip, "remote sdp port: %s length: %d\n", m->m_port ? m->m_port : "",
                       static_cast<int>(c.Longitud()));
        if (b0) c.Anade("a=rtpmap:0 PCMU/8000\r\n");
        if (b8) c.Anade("a=rtpmap:8 PCMA/8000\r\n");
    }
    if (c.Desbordado()) {
        NLOG::Log(NLOG::ERROR, "sdp_complete_200ok_new. Desbordado buf");
        return -1;
    }
    return 0;
}

int sdp_complete_200ok_new(int did, osip_message_t* msg, const char* szPuerto) {
    sdp_message_t* r = eXosip_get_remote_sdp(did);
    if (!r || !msg) {
        if (r) sdp_message_free(r);
        return -1;
    }
    char acIp[65];
    eXosip_guess_localip(2, acIp, sizeof acIp);
    CuerpoSdp c;
    int res = sdp_texto_200ok(r, szPuerto, RecortaBlancos(acIp), c);
    sdp_message_free(r);
    if (res == 0) {
        sdp_message_t* a = eXosip_get_local_sdp(did);
        res = sdp_version_en_dialogo(c, a);
        if (a) sdp_message_free(a);
    }
    return res == 0 ? PonCuerpo(msg, c) : -1;
}

int sdp_pon_sendrecv(sdp_message_t* s) {
    static const char* const kDe[] = {"sendonly", "recvonly"};
    ReescribeDirecciones(&s->a_attributes, kDe, 2, "sendrecv");
    for (int i = 0; i < osip_list_size(&s->m_medias); i++)
        if (sdp_media_t* m = Media(s, i)) ReescribeDirecciones(&m->a_attributes, kDe, 2, "sendrecv");
    return 0;
}

int sdp_pon_sendonly(sdp_message_t* s) {
    static const char* const kDe[] = {"recvonly", "sendrecv"};
    bool bAlguna = ReescribeDirecciones(&s->a_attributes, kDe, 2, "sendonly");
    for (int i = 0; i < osip_list_size(&s->m_medias); i++)
        if (sdp_media_t* m = Media(s, i)) bAlguna = ReescribeDirecciones(&m->a_attributes, kDe, 2, "sendonly") || bAlguna;
    if (!bAlguna) sdp_message_a_attribute_add(s, -1, Copia32("sendonly"), nullptr);
    return 0;
}

int sdp_dame_direccion(sdp_message_t* s, sdp_media_t* m) {
    int d = m ? DireccionDeLista(&m->a_attributes) : -1;
    if (d < 0 && s) d = DireccionDeLista(&s->a_attributes);
    return d < 0 ? SDP_SENDRECV : d;
}

const char* sdp_dame_atributo(sdp_message_t* s, sdp_media_t* m, const char* szCampo) {
    const char* apsz[2];
    return sdp_dame_atributos(s, m, szCampo, 1, apsz) > 0 ? apsz[0] : nullptr;
}

int sdp_dame_atributos(sdp_message_t* s, sdp_media_t* m, const char* szCampo, int iMax, const char** apsz) {
    int n = 0;
    osip_list_t* listas[2] = {m ? &m->a_attributes : nullptr, s ? &s->a_attributes : nullptr};
    for (osip_list_t* l : listas) {
        if (!l) continue;
        for (int i = 0; i < osip_list_size(l) && n < iMax; i++) {
            auto* a = static_cast<sdp_attribute_t*>(osip_list_get(l, i));
            if (!a || !a->a_att_field) continue;
            if (l == listas[1]) NLOG::Log(NLOG::DEBUG, "a_att_field = %s", a->a_att_field);
            if (!std::strcmp(a->a_att_field, szCampo)) apsz[n++] = a->a_att_value ? a->a_att_value : "";
        }
    }
    apsz[n] = nullptr;
    return n;
}

int _sdp_modifica_tipo_sesion(sdp_message_t* s, int iTipo, const int32_t* piPayloads, int iNum) {
    NLOG::Log(NLOG::DEBUG, "_sdp_modifica_tipo_sesion");
    const char* szTipo = iTipo == 1 ? "Radio-Rxonly" : iTipo == 2 ? "Coupling" : iTipo == 3 ? "Radio-Idle" : "Radio";
    int iMediaTipo = -1, iMediaRtpmap = -1;
    for (int i = 0; i < osip_list_size(&s->a_attributes); i++) {
        auto* a = static_cast<sdp_attribute_t*>(osip_list_get(&s->a_attributes, i));
        if (a && a->a_att_field) NLOG::Log(NLOG::DEBUG, "rcvsnd=%s", a->a_att_field);
    }
    for (int i = 0; i < osip_list_size(&s->m_medias); i++) {
        sdp_media_t* m = Media(s, i);
        if (!m) continue;
        for (int k = 0; k < osip_list_size(&m->a_attributes); k++) {
            auto* a = static_cast<sdp_attribute_t*>(osip_list_get(&m->a_attributes, k));
            if (!a || !a->a_att_field) continue;
            NLOG::Log(NLOG::DEBUG, "1.rcvsnd=%s", a->a_att_field);
            if (!std::strcmp(a->a_att_field, "type")) iMediaTipo = i;
            if (!std::strcmp(a->a_att_field, "rtpmap")) iMediaRtpmap = i;
        }
    }
    if (iMediaTipo >= 0) {
        NLOG::Log(NLOG::DEBUG, "type = %s", szTipo);
        char acType[] = "type";
        sdp_message_a_attribute_del(s, iMediaTipo, acType);
        sdp_message_a_attribute_add(s, iMediaTipo, Copia32("type"), Copia32(szTipo));
    }
    if (iMediaRtpmap >= 0) {
        char acRtpmap[] = "rtpmap";
        sdp_message_a_attribute_del(s, iMediaRtpmap, acRtpmap);
        sdp_message_a_attribute_add(s, iMediaRtpmap, Copia32("rtpmap"), Copia32("123 R2S/8000"));
        if (iTipo != 3)
            for (int k = 0; k < iNum; k++) {
                const char* v = piPayloads[k] == 0 ? "0 PCMU/8000" : piPayloads[k] == 8 ? "8 PCMA/8000"
                              : piPayloads[k] == 15 ? "15 G728/8000" : piPayloads[k] == 18 ? "18 G729/8000" : nullptr;
                if (v) sdp_message_a_attribute_add(s, iMediaRtpmap, Copia32("rtpmap"), Copia32(v));
            }
    }
    int iUltima = -1;
    for (int i = 0; i < osip_list_size(&s->m_medias); i++) {
        sdp_media_t* m = Media(s, i);
        if (!m || osip_list_size(&m->m_payloads) == 0) continue;
        iUltima = i;
        while (osip_list_size(&m->m_payloads) > 0)
            if (sdp_message_m_payload_del(s, i, 0) != 0) return -1;
    }
    if (iUltima < 0) return 0;
    if (iTipo != 3)
        for (int k = 0; k < iNum; k++) {
            char ac[16];
            std::snprintf(ac, sizeof ac, "%d", piPayloads[k]);
            sdp_message_m_payload_add(s, iUltima, osip_strdup(ac));
        }
    sdp_message_m_payload_add(s, iUltima, osip_strdup("123"));
    return 0;
}

sdp_message_t* sdp_lee_texto(const char* szTexto) {
    sdp_message_t* s = nullptr;
    if (!szTexto || sdp_message_init(&s) != 0) return nullptr;
    if (sdp_message_parse(s, szTexto) != 0) {
        sdp_message_free(s);
        return nullptr;
    }
    return s;
}
