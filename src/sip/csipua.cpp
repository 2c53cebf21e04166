// The user agent's stack and supervision loop, the REGISTER of its users, and its doors to the
// user and session tables and to the WG67-Version texts.
#include "sip/csipua.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "comun/hilo.h"
#include "comun/nlog.h"
#include "comun/trazapid.h"
#include "hardware/hardware.h"
#include "sip/cabecerassip.h"
#include "sip/suscripciones.h"

std::atomic<CSipua*> gpoSipua{nullptr};

namespace {

std::atomic<uint32_t (*)()> gfnTicks{&hwDameTiempo};

const int kRegistroExpira = 20;           // seconds asked of the registrar
const uint32_t kReintentoRegistro = 30000;  // ticks: 300 s after a build failure
const int kRondasOciosas = 25;              // 20 ms rounds without an event before the automatic actions
const int kRondasParado = 50;               // rounds without a tick before the stall is logged
const int kReintentoPilaMs = 1000;          // a stopped stack is started again this often

void TrazaOsip(const char* fi, int li, osip_trace_level_t level, const char* chfr, va_list ap) {
    (void)fi;
    (void)li;
    (void)level;
    char ac[1024];
    std::vsnprintf(ac, sizeof ac, chfr, ap);
    NLOG::Log(NLOG::INFO, "%s", ac);
}

void QuitaEspacios(char* s) {
    char* d = s;
    for (; *s; s++)
        if (*s != ' ') *d++ = *s;
    *d = '\0';
}

// Adds the WG67-Version of the session's user to each message the stack sends (lock of the
// stack held). The Subject of a message received (tid < 0), or sent on transaction 1, sets the
// text used for calls without a user; a received message is left as it came.
void AnadeVersionWG67Mensaje(osip_message_t* m, int tid) {
    static char acTexto[64] = "";
    if (!m) return;
    if (tid == 1 || tid < 0) {
        char ac[81];
        if (sipLeeAsunto(m, ac, sizeof ac) >= 0) {
            if (!std::strcmp(ac, "radio")) std::snprintf(acTexto, sizeof acTexto, "radio.01");
            else if (!std::strcmp(ac, "DA/IDA call")) std::snprintf(acTexto, sizeof acTexto, "legacy-eu.01");
            else if (!std::strcmp(ac, "IA call"))
                std::snprintf(acTexto, sizeof acTexto, "legacy-eu.01;gateway=\"ATS-LCEN\"");
        }
    }
    if (tid <= 0) return;
    eXosip_call_t* jc = nullptr;
    eXosip_dialog_t* jd = nullptr;
    osip_transaction_t* tr = nullptr;
    CSipua* ua = gpoSipua.load();
    if (_eXosip_call_transaction_find(tid, &jc, &jd, &tr) == 0 && jc && jc->c_id > 0 && ua)
        ua->PonVersionWG67Llamada(jc->c_id, m, acTexto[0] ? acTexto : nullptr);
}

}  // namespace

void CSipua::FijaReloj(uint32_t (*fn)()) { gfnTicks.store(fn ? fn : &hwDameTiempo); }

CSipua::CSipua(const char* szIp, int iPuerto, const char* szUserAgent, const char* szDominio,
               LlamadaAplicacionSip fn, int, int, int iModoPlano)
    : fnAplicacion(nullptr), iPeriodoSesion(PERIODO_MINIMO), iModoUri(iModoPlano ? 1 : 0),
      szParamUsuario(iModoPlano ? "user=" : "rk82rs="), szParamPrioridad(iModoPlano ? "prio=" : "rk82prio="),
      acMiIp{}, acDominio{}, acUserAgent{}, iPuertoSip(iPuerto), ucRegistro(0), bArrancado(false), bParar(false),
      bEnBucle(false) {
    CSipua* pNadie = nullptr;
    gpoSipua.compare_exchange_strong(pNadie, this);
    Inicia_Sipua(szIp, iPuerto, szUserAgent, fn);
    ucRegistro.store(0);
    std::snprintf(acDominio, sizeof acDominio, "%.64s", szDominio ? szDominio : "");
}

CSipua::~CSipua() {
    Para();
    CSipua* pYo = this;
    gpoSipua.compare_exchange_strong(pYo, nullptr);
}

int CSipua::Inicia_Sipua(const char* szIp, int iPuerto, const char* szUserAgent, LlamadaAplicacionSip fn) {
    oUsuarios.Vacia();
    osip_trace_initialize_func(static_cast<osip_trace_level_t>(4), &TrazaOsip);
    oSesiones.Limpia();
    IniciaSuscripciones();
    std::snprintf(acUserAgent, sizeof acUserAgent, "%s", szUserAgent ? szUserAgent : "");
    std::snprintf(acMiIp, sizeof acMiIp, "%.64s", szIp ? szIp : "");
    iPuertoSip = iPuerto;
    // The call-back is kept even when the stack does not start: the supervision loop starts it
    // again later, and the users added meanwhile must not be lost.
    fnAplicacion.store(fn);
    return ArrancaPila();
}

int CSipua::ArrancaPila() {
    int res = eXosip_init();
    if (res != 0) {
        NLOG::Log(NLOG::ERROR, "ERROR iniciando eXosip %i", res);
        return -1;
    }
    std::printf("--------------------------------------------------------acUserAgent=%s\n", acUserAgent);
    eXosip_set_user_agent(acUserAgent);
    res = eXosip_listen_addr(17, nullptr, iPuertoSip, 2, 0);
    if (acMiIp[0]) eXosip_set_option(EXOSIP_OPT_SET_IPV4_FOR_GATEWAY, acMiIp);
    int iUno = 1;
    eXosip_set_option(EXOSIP_OPT_DONT_SEND_101, &iUno);
    if (res != 0) {
        eXosip_quit();
        NLOG::Log(NLOG::ERROR,
                  " \n ------------------EXOSIP  could not initialize transport layer (%i) sipport %i !!!!!!\n", res,
                  iPuertoSip);
        DuermeMs(1000);
        return -1;
    }
    eXosip_set_cbsip_message(&AnadeVersionWG67Mensaje);
    NLOG::Log(NLOG::INFO, "\n ------------------------ Fin Inicia_Sipua -----------------------");
    bArrancado.store(true);
    return 0;
}

int CSipua::Informa(int iUsuario, int iCodigo, int cid, int did, intptr_t iDato) {
    LlamadaAplicacionSip fn = fnAplicacion.load();
    return fn ? fn(iUsuario, iCodigo, cid, did, iDato) : 0;
}

void CSipua::SupervisorSIPUA() {
    bEnBucle.store(true);
    uint32_t uiAnterior = gfnTicks.load()();
    TrazaPid("SIP-UA Hilo supervisor", 0, "src/sip/csipua");
    FijaPrioridadHilo(1);
    int iOcioso = 0, iParado = 0;
    while (!bParar.load()) {
        if (!bArrancado.load()) {
            // Never wait on a stopped stack: start it again, at a slow pace.
            for (int i = 0; i < kReintentoPilaMs / 20 && !bParar.load(); i++) DuermeMs(20);
            if (bParar.load()) break;
            NLOG::Log(NLOG::INFO, "SIPUA: reintento de arranque de la pila SIP, puerto %i", iPuertoSip);
            ArrancaPila();
            uiAnterior = gfnTicks.load()();
            continue;
        }
        eXosip_event_t* e = eXosip_event_wait(0, 20);
        if (e) SIP_TrataEvento(e);
        if (!e && iOcioso < kRondasOciosas) {
            iOcioso++;
        } else {
            iOcioso = 0;
            eXosip_automatic_action();
            eXosip_automatic_refresh();
            if (ucRegistro.load()) RegistraSipua();
        }
        const uint32_t uiAhora = gfnTicks.load()();
        uint32_t uiTranscurrido = uiAhora - uiAnterior;
        if (uiAhora < uiAnterior) uiTranscurrido = uiAhora - uiAnterior - 1;
        TemporizaSesiones(static_cast<int>(uiTranscurrido * 10));
        uiAnterior = uiAhora;
        if (uiTranscurrido == 0) {
            if (++iParado >= kRondasParado) {
                NLOG::Log(NLOG::INFO, "SupervisorSIPUA EMBUCLADO   !!!!!!!!!!!!!!!!!!!!!!!!!!!");
                DuermeMs(20);
                iParado = 0;
            }
        } else {
            iParado = 0;
        }
    }
    bEnBucle.store(false);
}

void CSipua::Para() {
    bParar.store(true);
    for (int i = 0; i < 300 && bEnBucle.load(); i++) DuermeMs(10);
    if (bArrancado.exchange(false)) eXosip_quit();
}

// ---- Users ---------------------------------------------------------------------------------

int CSipua::AltaUsuario(const char* szNombre, const int32_t* piCodecs, int iNum, int iTipo, int iRegistrar,
                        const char* szClave) {
    return oUsuarios.Alta(szNombre, piCodecs, iNum, iTipo, iRegistrar, szClave, gfnTicks.load()());
}

int CSipua::ActualizaUsuario(const char* szNombre, const int32_t* piCodecs, int iNum, int iTipo) {
    return oUsuarios.Actualiza(szNombre, piCodecs, iNum, iTipo);
}

int CSipua::BajaUsuario(int iIndice) {
    if (iIndice < 0 || iIndice >= MAX_USUARIOS) return -2;
    CTablaSesionesSip::SesionQueAcaba aFin[MAX_SESIONES];
    const int n = oSesiones.DeUsuario(iIndice, aFin);
    for (int i = 0; i < n; i++) ExpiraSesion(iIndice, aFin[i].cid, aFin[i].did);
    oUsuarios.Baja(iIndice);
    return 0;
}

int CSipua::BuscaUsuario(const char* szNombre) { return oUsuarios.Busca(szNombre); }

bool CSipua::DameUsuario(int i, UsuarioSipua* psCopia) { return oUsuarios.Dame(i, psCopia); }

void CSipua::ListaUsuarios() { oUsuarios.Lista(); }

int CSipua::PonServidores(const char* pRegistrar, const char* pProxy) {
    oUsuarios.FijaServidores(pRegistrar, pProxy);
    return 0;
}

int CSipua::PonPeriodoSesion(int iSegundos) {
    iPeriodoSesion.store(iSegundos < PERIODO_MINIMO ? PERIODO_MINIMO : iSegundos);
    return 0;
}

// ---- REGISTER ------------------------------------------------------------------------------

void CSipua::RegistraSipua() {
    for (int i = 0; i < MAX_USUARIOS; i++) {
        UsuarioSipua u;
        char acRegistrarUri[81], acFrom[81];
        if (!oUsuarios.DameParaRegistro(i, &u, acRegistrarUri, sizeof acRegistrarUri) || !u.ucRegistrar) continue;
        std::snprintf(acFrom, sizeof acFrom, "sip:%.40s@%.34s", u.acNombre, acDominio);
        const uint32_t uiAhora = gfnTicks.load()();
        if (static_cast<int32_t>(uiAhora - u.uiProximoRegistro) < 0) continue;
        // Waiting for the answer, or registered: the stack refreshes what it got accepted.
        if (u.iEstadoRegistro == SIP_REGEST_REGISTRANDO || u.iEstadoRegistro == SIP_REGEST_OK) continue;
        osip_message_t* reg = nullptr;
        int rid = u.iRid;
        int iNuevoEstado = SIP_REGEST_REGISTRANDO;
        uint32_t uiProximo = u.uiProximoRegistro;
        bool bEnvia = false;
        if (u.iEstadoRegistro == SIP_REGEST_REPOSO) {
            NLOG::Log(NLOG::DEBUG, "Manda primer register");
            char acContacto[65];
            std::snprintf(acContacto, sizeof acContacto, "%.64s", u.acNombre);
            rid = eXosip_register_build_initial_register(acFrom, acRegistrarUri, acContacto, kRegistroExpira, &reg);
            if (rid < 1) {
                NLOG::Log(NLOG::ERROR, "Error en eXosip_register_build_initial_register %d", rid);
                uiProximo = uiAhora + kReintentoRegistro;
                iNuevoEstado = u.iEstadoRegistro;
            } else {
                NLOG::Log(NLOG::DEBUG, "REgistrando");
                char ac[81];
                std::snprintf(ac, sizeof ac, "<sip:%.40s@%.28s:5060>", u.acNombre, acMiIp);
                QuitaEspacios(ac);
                osip_contact_t* c = nullptr;
                while (osip_message_get_contact(reg, 0, &c) >= 0 && c) {
                    osip_list_remove(&reg->contacts, 0);
                    osip_contact_free(c);
                    c = nullptr;
                }
                osip_message_set_contact(reg, ac);
                bEnvia = true;
            }
        } else {
            // Configured credentials only: a user without a password is not re-sent.
            if (!u.acClave[0]) {
                NLOG::Log(NLOG::ERROR, "SIPUA: usuario %s sin clave para el registro", u.acNombre);
                uiProximo = uiAhora + kReintentoRegistro;
                iNuevoEstado = u.iEstadoRegistro;
            } else {
                int r = eXosip_add_authentication_info(u.acNombre, u.acNombre, u.acClave, "", nullptr);
                NLOG::Log(NLOG::INFO, "Manda  register add auth =%i iRefRegistro=%i", r, rid);
                if (eXosip_register_build_register(rid, kRegistroExpira, &reg) < 0) {
                    NLOG::Log(NLOG::ERROR, "Error en eXosip_register_build_register %d", rid);
                    uiProximo = uiAhora + kReintentoRegistro;
                    iNuevoEstado = u.iEstadoRegistro;
                } else {
                    bEnvia = true;
                }
            }
        }
        oUsuarios.AnotaRegistro(i, u.acNombre, iNuevoEstado, uiProximo, rid);
        if (bEnvia) {
            int res = eXosip_register_send_register(rid, reg);
            NLOG::Log(NLOG::DEBUG, "SIPUA: eXosip_register_send_register()=%d", res);
        }
    }
}

void CSipua::RegistroCorrecto(eXosip_event_t* e) {
    // The stack refreshes an accepted registration itself (eXosip_automatic_refresh).
    const int iUsuario = oUsuarios.FijaEstadoPorRid(e->rid, SIP_REGEST_OK, e->response != nullptr);
    NLOG::Log(NLOG::INFO, "TR REGISTRATION SUCCESS %i iuser=%i", e->rid, iUsuario);
}

void CSipua::RegistroFallido(eXosip_event_t* e) {
    oUsuarios.FijaEstadoPorRid(e->rid, SIP_REGEST_DENEGADO);
    ListaUsuarios();
}

// ---- Sessions ------------------------------------------------------------------------------

int CSipua::LeeSesion(int cid, SesionSip* psCopia) { return oSesiones.Lee(cid, psCopia); }

int CSipua::LeeSesionPorCallId(SesionSip* psCopia, const char* szCallId) {
    return oSesiones.LeePorCallId(psCopia, szCallId);
}

int CSipua::EscribeSesion(SesionSip* p) { return oSesiones.Escribe(p); }

int CSipua::PonUsuarioSesion(int cid, int iUsuario) { return oSesiones.PonUsuario(cid, iUsuario); }

void CSipua::TemporizaSesiones(int iMs) {
    CTablaSesionesSip::SesionQueAcaba aFin[MAX_SESIONES];
    const int n = oSesiones.Temporiza(iMs, aFin);
    for (int i = 0; i < n; i++) ExpiraSesion(aFin[i].iUsuario, aFin[i].cid, aFin[i].did);
}

void CSipua::ExpiraSesion(int iUsuario, int cid, int did) {
    NLOG::Log(NLOG::INFO, "Finaliza sesion: sesion expired cid=%d ", cid);
    Informa(iUsuario, EXOSIP_CALL_CLOSED, cid, did, 0);
    SIP_Close_Session(iUsuario, cid, 0, -1);
}

// ---- WG67-Version texts --------------------------------------------------------------------

const char* CSipua::TextoVersionWG67(int iUsuario, const char* szDefecto) {
    return oUsuarios.TextoVersionWG67(iUsuario, szDefecto);
}

const char* CSipua::PonVersionWG67(int iUsuario, osip_message_t* m, const char* szDefecto) {
    const char* t = TextoVersionWG67(iUsuario, szDefecto);
    if (!t) return nullptr;
    osip_header_t* h = nullptr;
    if (m && osip_message_header_get_byname(m, "WG67-Version", 0, &h) < 0) osip_message_set_header(m, "WG67-Version", t);
    return t;
}

void CSipua::PonVersionWG67Llamada(int cid, osip_message_t* m, const char* szDefecto) {
    if (cid == 0) return;
    PonVersionWG67(oSesiones.UsuarioDe(cid), m, szDefecto);
}

int CSipua::NotificaDialogo(int did, const char* szEvento, const char* szCuerpo) {
    return EnviaNotifyTexto(did, szEvento, szCuerpo);
}

int CSipua::NotificaSuscripcion(int nid, const char* szEvento, const char* szCuerpo) {
    return EnviaNotifyTextoNid(nid, szEvento, szCuerpo);
}
