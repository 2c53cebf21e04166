#include "sip/suscripciones.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <strings.h>

#include "comun/texto.h"
#include "red/tcpcons.h"
#include "sip/sesionsip.h"

namespace {

std::mutex gMutexSuscripciones;  // guards both tables
InSuscripcion gasEntrantes[MAX_SUSCRIPCIONES];
Suscripcion gasSalientes[MAX_SUSCRIPCIONES];

std::string ValorCabecera(const osip_message_t* m, const char* szNombre) {
    osip_header_t* h = nullptr;
    if (!m || osip_message_header_get_byname(m, szNombre, 0, &h) < 0 || !h || !h->hvalue) return "";
    return h->hvalue;
}

bool EsPaquete(const eXosip_event_t* e, const char* szPaquete) {
    std::string v = ValorCabecera(e->request, "event");
    return !v.empty() && strcasecmp(v.c_str(), szPaquete) == 0;
}

InSuscripcion* BuscaEntrante(int nid) {
    for (auto& r : gasEntrantes)
        if (r.iMarca != 0 && r.nid == nid) return &r;
    return nullptr;
}

Suscripcion* BuscaSaliente(int sid, int did) {
    for (auto& r : gasSalientes)
        if (r.iMarca != 0 && r.sid == sid && r.did == did) return &r;
    return nullptr;
}

Suscripcion* BuscaOTomaSaliente(eXosip_event_t* e, bool* pbNueva) {
    *pbNueva = false;
    if (Suscripcion* r = BuscaSaliente(e->sid, e->did)) return r;
    if (e->did < 1) return nullptr;
    for (auto& r : gasSalientes)
        if (r.iMarca == 0) {
            std::memset(&r, 0, sizeof r);
            r.sid = e->sid;
            r.did = e->did;
            *pbNueva = true;
            return &r;
        }
    return nullptr;
}

void AnotaRespuesta(Suscripcion* r, eXosip_event_t* e) {
    r->iEstado = e->ss_status;
    r->iRazon = e->ss_reason;
    CopiaTextoSip(r->acEvento, sizeof r->acEvento, e->textinfo);
    if (e->response) {
        r->iCodigo = e->response->status_code;
        CopiaTextoSip(r->acRazon, sizeof r->acRazon, e->response->reason_phrase);
    }
    char* szTo = nullptr;
    if (e->request && e->request->to && osip_to_to_str(e->request->to, &szTo) == 0 && szTo) {
        CopiaTextoSip(r->acUriRemota, sizeof r->acUriRemota, szTo);
        osip_free(szTo);
    }
    r->iMarca = e->type;
}

int Responde(int tid, int iCodigo) {
    osip_message_t* a = nullptr;
    if (eXosip_insubscription_build_answer(tid, iCodigo, &a) != 0) return -1;
    return eXosip_insubscription_send_answer(tid, iCodigo, a);
}

}  // namespace

void CuerpoPresencia(int iPresencia, const char* szUri, char* ac, size_t n) {
    static const char* const kActividad[] = {"", "", "", "busy", "in-transit", "away", "on-the-phone", "meal"};
    static const char* const kNota[] = {"", "", "online", "busy", "be right back", "away", "on the phone",
                                        "out to lunch"};
    if (iPresencia >= 2 && iPresencia <= 7) {
        const bool bActividad = iPresencia >= 3;
        char acActividad[160] = "";
        if (bActividad)
            std::snprintf(acActividad, sizeof acActividad, "<es:activities>\n  <es:activity>%s</es:activity>\n</es:activities>\n",
                          kActividad[iPresencia]);
        std::snprintf(ac, n,
                      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<presence xmlns=\"urn:ietf:params:xml:ns:pidf\"\n"
                      "%s"
                      "\t\t  entity=\"%s\">\n"
                      "<tuple id=\"sg89ae\">\n<status>\n<basic>open</basic>\n"
                      "%s"
                      "</status>\n<contact priority=\"0.8\">%s</contact>\n<note>%s</note>\n</tuple>\n</presence>",
                      bActividad ? "\t\t  xmlns:es=\"urn:ietf:params:xml:ns:pidf:status:rpid-status\"\n" : "", szUri,
                      acActividad, szUri, kNota[iPresencia]);
    } else {
        std::snprintf(ac, n,
                      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<presence xmlns=\"urn:ietf:params:xml:ns:pidf\"\n"
                      "xmlns:es=\"urn:ietf:params:xml:ns:pidf:status:rpid-status\"\n"
                      "entity=\"%s\">\n"
                      "<tuple id=\"sg89ae\">\n<status>\n<basic>closed</basic>\n"
                      "<es:activities>\n  <es:activity>permanent-absence</es:activity>\n</es:activities>\n"
                      "</status>\n</tuple>\n\n</presence>\n",
                      szUri);
    }
}

int AceptaInSuscripcion(eXosip_event_t* e, InSuscripcion* psCopia, int iExpira, int iUsuario) {
    if (!e) return -1;
    const bool bKeyIn = EsPaquete(e, "WG67 KEY-IN");
    const bool bPR = EsPaquete(e, "WG67 P/R");
    std::unique_lock<std::mutex> lk(gMutexSuscripciones);
    InSuscripcion* r = BuscaEntrante(e->nid);
    if (!r) {
        for (auto& x : gasEntrantes)
            if (x.iMarca == 0) {
                r = &x;
                break;
            }
        if (!r || (e->did < 1 && e->nid < 1)) return -1;
        std::memset(r, 0, sizeof *r);
        r->nid = e->nid;
        r->did = e->did;
        r->tid = e->tid;
        r->iUsuario = iUsuario;
        r->iMarca = -1;  // held while answered without the lock
        lk.unlock();
        const bool bEnviado = Responde(e->tid, 200) == 0;
        if (bEnviado && !bKeyIn) EnviaNotifyEstado(e->did, EXOSIP_SUBCRSTATE_PENDING, 0, EXOSIP_NOTIFY_AWAY);
        lk.lock();
        r->iEstadoPresencia = 0;
        r->iEstado = e->ss_status;
        r->iRazon = e->ss_reason;
        CopiaTextoSip(r->acEvento, sizeof r->acEvento, e->textinfo);
        r->iMarca = e->type;
        if (psCopia) *psCopia = *r;
        return 0;
    }
    r->tid = e->tid;
    r->iEstado = e->ss_status;
    r->iRazon = e->ss_reason;
    r->iUsuario = iUsuario;
    int iCodigo = 202;
    bool bLibera = false;
    if (iExpira == 0 && r->iEstado == EXOSIP_SUBCRSTATE_ACTIVE) {
        iCodigo = 200;
        bLibera = true;
    }
    if (r->iEstado == EXOSIP_SUBCRSTATE_TERMINATED) {
        iCodigo = 200;
        bLibera = true;
    }
    const InSuscripcion sCopia = *r;
    if (psCopia) *psCopia = sCopia;
    if (bLibera) r->iMarca = 0;
    lk.unlock();
    if (Responde(e->tid, iCodigo) == 0 && !bKeyIn && !bPR)
        EnviaNotifyEstado(sCopia.did, sCopia.iEstado, sCopia.iRazon, sCopia.iEstadoPresencia);
    return iExpira == 0 ? 2 : 1;
}

int EnviaNotifyEstado(int did, int iEstado, int iRazon, int iPresencia) {
    osip_message_t* n = nullptr;
    int res = eXosip_insubscription_build_notify(did, iEstado, iRazon, &n);
    if (res != 0 || !n) return res != 0 ? res : -1;
    char* szUri = nullptr;
    if (iEstado == EXOSIP_SUBCRSTATE_ACTIVE && n->from && n->from->url &&
        osip_uri_to_str(n->from->url, &szUri) == 0 && szUri) {
        char ac[1024];
        CuerpoPresencia(iPresencia, szUri, ac, sizeof ac);
        osip_free(szUri);
        osip_message_set_body(n, ac, std::strlen(ac));
        osip_message_set_content_type(n, "application/pidf+xml");
    }
    return eXosip_insubscription_send_request(did, n);
}

int EnviaNotifyTexto(int did, const char* szEvento, const char* szTexto) {
    osip_message_t* n = nullptr;
    int res = eXosip_insubscription_build_notify(did, EXOSIP_SUBCRSTATE_ACTIVE, 0, &n);
    if (res != 0 || !n) return res != 0 ? res : -1;
    osip_message_set_header(n, "Event", szEvento ? szEvento : "");
    osip_message_set_content_type(n, "text/plain");
    if (szTexto) osip_message_set_body(n, szTexto, std::strlen(szTexto));
    return eXosip_insubscription_send_request(did, n);
}

int EnviaNotifyTextoNid(int nid, const char* szEvento, const char* szTexto) {
    InSuscripcion s;
    if (!BuscaInSuscripcion(nid, &s)) return -1;
    return EnviaNotifyTexto(s.did, szEvento, szTexto);
}

int LiberaInSuscripcion(eXosip_event_t* e, InSuscripcion* psCopia) {
    std::lock_guard<std::mutex> lk(gMutexSuscripciones);
    InSuscripcion* r = e ? BuscaEntrante(e->nid) : nullptr;
    if (!r) return -1;
    r->iEstadoPresencia = 0;
    r->iEstado = e->ss_status;
    r->iRazon = e->ss_reason;
    if (psCopia) *psCopia = *r;
    r->iMarca = 0;
    return 0;
}

bool BuscaInSuscripcion(int nid, InSuscripcion* psCopia) {
    std::lock_guard<std::mutex> lk(gMutexSuscripciones);
    InSuscripcion* r = BuscaEntrante(nid);
    if (r && psCopia) *psCopia = *r;
    return r != nullptr;
}

int CuentaInSuscripciones() {
    std::lock_guard<std::mutex> lk(gMutexSuscripciones);
    int n = 0;
    for (auto& r : gasEntrantes) n += r.iMarca != 0;
    return n;
}

bool DameInSuscripcion(int n, InSuscripcion* psCopia) {
    std::lock_guard<std::mutex> lk(gMutexSuscripciones);
    for (auto& r : gasEntrantes)
        if (r.iMarca != 0 && n-- == 0) {
            if (psCopia) *psCopia = r;
            return true;
        }
    return false;
}

void IniciaSuscripciones() {
    std::lock_guard<std::mutex> lk(gMutexSuscripciones);
    std::memset(gasSalientes, 0, sizeof gasSalientes);
}

int SuscripcionEnCurso(eXosip_event_t* e) {
    std::lock_guard<std::mutex> lk(gMutexSuscripciones);
    bool bNueva;
    Suscripcion* r = BuscaOTomaSaliente(e, &bNueva);
    if (!r) return -1;
    r->iEstadoPresencia = 0;
    AnotaRespuesta(r, e);
    return 0;
}

int SuscripcionAceptada(eXosip_event_t* e) {
    std::lock_guard<std::mutex> lk(gMutexSuscripciones);
    bool bNueva;
    Suscripcion* r = BuscaOTomaSaliente(e, &bNueva);
    if (!r) return -1;
    if (bNueva) r->iEstadoPresencia = 0;
    AnotaRespuesta(r, e);
    TcpCons::Traza(0x40, "Acepted subscription did %d sid %d\n", e->did, e->sid);
    return 0;
}

int SuscripcionTerminada(eXosip_event_t* e) {
    std::lock_guard<std::mutex> lk(gMutexSuscripciones);
    Suscripcion* r = BuscaSaliente(e->sid, e->did);
    if (!r) return -1;
    AnotaRespuesta(r, e);
    r->iMarca = 0;
    return 0;
}

int SuscripcionFallida(eXosip_event_t* e) {
    // Authentication follows a 401 or 407: the record stays as it is.
    if (e->response && (e->response->status_code == 401 || e->response->status_code == 407)) return 0;
    return SuscripcionTerminada(e);
}

int NotifyRecibido(eXosip_event_t* e) {
    std::lock_guard<std::mutex> lk(gMutexSuscripciones);
    bool bNueva;
    Suscripcion* r = BuscaOTomaSaliente(e, &bNueva);
    if (!r) return -1;
    r->iEstadoPresencia = 0;
    r->iEstado = e->ss_status;
    r->iRazon = e->ss_reason;
    CopiaTextoSip(r->acEvento, sizeof r->acEvento, e->textinfo);
    r->iMarca = EXOSIP_SUBSCRIPTION_NOTIFY;
    return LeeEstadoNotify(r, e);
}

bool BuscaSuscripcion(int sid, Suscripcion* psCopia) {
    std::lock_guard<std::mutex> lk(gMutexSuscripciones);
    for (auto& r : gasSalientes)
        if (r.iMarca != 0 && r.sid == sid) {
            if (psCopia) *psCopia = r;
            return true;
        }
    return false;
}

int LeeEstadoNotify(Suscripcion* r, eXosip_event_t* e) {
    if (r->iEstado == EXOSIP_SUBCRSTATE_TERMINATED) {
        r->iEstadoPresencia = EXOSIP_NOTIFY_UNKNOWN;
        return 0;
    }
    if (r->iEstado == EXOSIP_SUBCRSTATE_PENDING) {
        r->iEstadoPresencia = EXOSIP_NOTIFY_PENDING;
        return 0;
    }
    osip_content_type_t* ct = e->request ? osip_message_get_content_type(e->request) : nullptr;
    osip_body_t* b = nullptr;
    if (!ct || !ct->type || !ct->subtype || osip_message_get_body(e->request, 0, &b) < 0 || !b || !b->body)
        return -1;
    const char* p = b->body;
    if (!strcasecmp(ct->type, "application") && !strcasecmp(ct->subtype, "xpidf+xml")) {
        static const struct {
            const char* sz;
            int iEstado;
        } kPalabras[] = {{"online", 2}, {"busy", 3}, {"berightback", 4}, {"away", 5}, {"onthephone", 6},
                         {"outtolunch", 7}};
        for (; *p; p++)
            for (auto& k : kPalabras)
                if (!std::strncmp(p, k.sz, std::strlen(k.sz))) {
                    r->iEstadoPresencia = k.iEstado;
                    return 0;
                }
        return 0;
    }
    if (!strcasecmp(ct->type, "application") && !strcasecmp(ct->subtype, "pidf+xml")) {
        static const struct {
            const char* sz;
            int iEstado;
        } kActividades[] = {{"away", 5}, {"meal", 7}, {"in-transit", 4}, {"busy", 3}, {"on-the-phone", 6}};
        bool bAbierto = false;
        for (; *p; p++) {
            if (!bAbierto) {
                if (!strncasecmp(p, "closed", 6)) {
                    r->iEstadoPresencia = EXOSIP_NOTIFY_CLOSED;
                    return 0;
                }
                if (!strncasecmp(p, "open", 4)) {
                    r->iEstadoPresencia = EXOSIP_NOTIFY_ONLINE;
                    bAbierto = true;
                }
                continue;
            }
            if (!std::strncmp(p, "/status", 7)) return 0;
            for (auto& k : kActividades)
                if (!std::strncmp(p, k.sz, std::strlen(k.sz))) {
                    r->iEstadoPresencia = k.iEstado;
                    return 0;
                }
        }
        return 0;
    }
    return -1;
}
