#include "sip/csipua.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "comun/hilo.h"
#include "comun/nlog.h"
#include "comun/trazapid.h"
#include "hardware/hardware.h"
#include "sip/suscripciones.h"

std::atomic<CSipua*> gpoSipua{nullptr};

namespace {

std::atomic<uint32_t (*)()> gfnTicks{&hwDameTiempo};

const char* const kVersionWG67[] = {"radio.01", "phone.01", "legacy-eu.01;gateway=\"ATS-R2\"",
                                    "legacy-eu.01;gateway=\"ATS-N5\"", "legacy-eu.01;gateway=\"ATS-LCEN\"", nullptr};

const char* const kRazones[] = {
    "WG-67; cause=2000; text=\"session pre-emption\"",
    "WG-67; cause=2001; text=\"missing R2S KeepAlive\"",
    "WG-67; cause=2002; text=\"fid does not match\"",
    "WG-67; cause=2003; text=\"radio in maintenance mode\"",
    "WG-67; cause=2004; text=\"internal error\"",
    "WG-67; cause=2005; text=\"coupling not allowed\"",
    "WG-67; cause=2006; text=\"radio access mode doesn't match\"",
    "WG-67; cause=2007; text=\"Parameter error\"",
    "WG-67; cause=2008; text=\"QLN standby mode\"",
    "WG-67; cause=1001; text=\"Emergency - Forced Release\""};

const char* const kEstadosRegistro[] = {"SIP_REGEST_REPOSO", "SIP_REGEST_REGISTRANDO", "SIP_REGEST_DENEGADO",
                                        "SIP_REGEST_OK"};

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
        if (CSipua::LeeAsunto(m, ac, sizeof ac) >= 0) {
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

void ListaCodecs::Fija(const int32_t* p, int n) {
    std::memset(aiPayload, 0, sizeof aiPayload);
    iNum = n < 0 ? 0 : n > MAX_CODECS ? MAX_CODECS : n;
    if (p) std::memcpy(aiPayload, p, sizeof(int32_t) * iNum);
    ReiniciaMarca();
}

void ListaCodecs::Marca(int32_t iPayload) {
    for (int i = 0; i < iNum; i++)
        if (aiPayload[i] == iPayload) {
            if (iMejor < 0 || i < iMejor) {
                iMejor = i;
                iElegido = iPayload;
            }
            return;
        }
}

bool ListaCodecs::Contiene(int32_t iPayload) const {
    for (int i = 0; i < iNum; i++)
        if (aiPayload[i] == iPayload) return true;
    return false;
}

void CSipua::FijaReloj(uint32_t (*fn)()) { gfnTicks.store(fn ? fn : &hwDameTiempo); }

CSipua::CSipua(const char* szIp, int iPuerto, const char* szUserAgent, const char* szDominio,
               LlamadaAplicacionSip fn, int, int, int iModoPlano)
    : fnAplicacion(nullptr), iPeriodoSesion(PERIODO_MINIMO), iModoUri(iModoPlano ? 1 : 0),
      szParamUsuario(iModoPlano ? "user=" : "rk82rs="), szParamPrioridad(iModoPlano ? "prio=" : "rk82prio="),
      acMiIp{}, acDominio{}, acUserAgent{}, iPuertoSip(iPuerto), acRegistrar{}, acProxy{}, ucRegistro(0),
      iNumUsuarios(0), bArrancado(false), bParar(false), bEnBucle(false) {
    CSipua* pNadie = nullptr;
    gpoSipua.compare_exchange_strong(pNadie, this);
    std::memset(asUsuarios, 0, sizeof asUsuarios);
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
    {
        std::lock_guard<std::mutex> lk(tMutexUsuarios);
        std::memset(asUsuarios, 0, sizeof asUsuarios);
        iNumUsuarios = 0;
    }
    osip_trace_initialize_func(static_cast<osip_trace_level_t>(4), &TrazaOsip);
    {
        std::lock_guard<std::mutex> lk(tMutexSesiones);
        LimpiaSesiones();
    }
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
    if (!szNombre || !szNombre[0]) return -2;
    std::lock_guard<std::mutex> lk(tMutexUsuarios);
    for (int i = 0; i < MAX_USUARIOS; i++) {
        UsuarioSipua& u = asUsuarios[i];
        if (u.acNombre[0]) continue;
        std::memset(&u, 0, sizeof u);
        std::snprintf(u.acNombre, sizeof u.acNombre, "%.128s", szNombre);
        u.sCodecs.Fija(piCodecs, iNum);
        u.iTipo = iTipo;
        u.ucRegistrar = static_cast<uint8_t>(iRegistrar ? 1 : 0);
        u.uiProximoRegistro = gfnTicks.load()();
        u.iEstadoRegistro = SIP_REGEST_REPOSO;
        u.iRid = 0;
        std::snprintf(u.acClave, sizeof u.acClave, "%.64s", szClave ? szClave : "");
        iNumUsuarios++;
        return i;
    }
    return -4;
}

int CSipua::ActualizaUsuario(const char* szNombre, const int32_t* piCodecs, int iNum, int iTipo) {
    if (!szNombre || !szNombre[0]) return -2;
    const int i = BuscaUsuario(szNombre);
    if (i < 0) return -4;
    std::lock_guard<std::mutex> lk(tMutexUsuarios);
    asUsuarios[i].sCodecs.Fija(piCodecs, iNum);
    asUsuarios[i].iTipo = iTipo;
    return i;
}

int CSipua::BajaUsuario(int iIndice) {
    if (iIndice < 0 || iIndice >= MAX_USUARIOS) return -2;
    struct {
        int cid, did;
    } aFin[MAX_SESIONES];
    int n = 0;
    {
        std::lock_guard<std::mutex> lk(tMutexSesiones);
        for (auto& s : asSesiones)
            if (s.iMarca != 0 && s.cid > 0 && s.iUsuario == iIndice) aFin[n++] = {s.cid, s.did};
    }
    for (int i = 0; i < n; i++) ExpiraSesion(iIndice, aFin[i].cid, aFin[i].did);
    std::lock_guard<std::mutex> lk(tMutexUsuarios);
    if (asUsuarios[iIndice].acNombre[0]) {
        asUsuarios[iIndice].acNombre[0] = '\0';
        asUsuarios[iIndice].ucRegistrar = 0;
        if (iNumUsuarios > 0) iNumUsuarios--;
    }
    return 0;
}

int CSipua::BuscaUsuario(const char* szNombre) {
    if (!szNombre) return -1;
    std::lock_guard<std::mutex> lk(tMutexUsuarios);
    // Records are freed anywhere in the table: look through all of them.
    for (int i = 0; i < MAX_USUARIOS; i++)
        if (asUsuarios[i].acNombre[0] && !std::strcmp(asUsuarios[i].acNombre, szNombre)) return i;
    return -1;
}

bool CSipua::DameUsuario(int i, UsuarioSipua* psCopia) {
    if (i < 0 || i >= MAX_USUARIOS) return false;
    std::lock_guard<std::mutex> lk(tMutexUsuarios);
    if (!asUsuarios[i].acNombre[0]) return false;
    if (psCopia) *psCopia = asUsuarios[i];
    return true;
}

bool CSipua::CodecsDeUsuario(int i, ListaCodecs* psCopia, int* piTipo) {
    UsuarioSipua u;
    if (!DameUsuario(i, &u)) return false;
    if (psCopia) *psCopia = u.sCodecs;
    if (piTipo) *piTipo = u.iTipo;
    return true;
}

void CSipua::ListaUsuarios() {
    std::lock_guard<std::mutex> lk(tMutexUsuarios);
    for (int i = 0; i < MAX_USUARIOS; i++) {
        const UsuarioSipua& u = asUsuarios[i];
        if (!u.acNombre[0]) continue;
        const int e = u.iEstadoRegistro >= 0 && u.iEstadoRegistro <= 3 ? u.iEstadoRegistro : 0;
        NLOG::Log(NLOG::INFO, "SIPUsuario %i - %s estado: %s rid: %i", i, u.acNombre, kEstadosRegistro[e], u.iRid);
    }
}

int CSipua::PonServidores(const char* pRegistrar, const char* pProxy) {
    std::lock_guard<std::mutex> lk(tMutexUsuarios);
    for (int i = 0; i < 3; i++) {
        if (pRegistrar) std::snprintf(acRegistrar[i], sizeof acRegistrar[i], "%.64s", pRegistrar + 65 * i);
        if (pProxy) std::snprintf(acProxy[i], sizeof acProxy[i], "%.64s", pProxy + 65 * i);
    }
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
        {
            std::lock_guard<std::mutex> lk(tMutexUsuarios);
            u = asUsuarios[i];
            std::snprintf(acRegistrarUri, sizeof acRegistrarUri, "sip:%s", acRegistrar[0]);
            std::snprintf(acFrom, sizeof acFrom, "sip:%.40s@%.34s", u.acNombre, acDominio);
        }
        if (!u.acNombre[0] || !u.ucRegistrar) continue;
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
        {
            std::lock_guard<std::mutex> lk(tMutexUsuarios);
            UsuarioSipua& r = asUsuarios[i];
            if (!std::strcmp(r.acNombre, u.acNombre)) {
                r.iEstadoRegistro = iNuevoEstado;
                r.uiProximoRegistro = uiProximo;
                if (rid > 0) r.iRid = rid;
            }
        }
        if (bEnvia) {
            int res = eXosip_register_send_register(rid, reg);
            NLOG::Log(NLOG::DEBUG, "SIPUA: eXosip_register_send_register()=%d", res);
        }
    }
}

void CSipua::RegistroCorrecto(eXosip_event_t* e) {
    std::lock_guard<std::mutex> lk(tMutexUsuarios);
    int iUsuario = -1;
    for (int i = 0; i < MAX_USUARIOS; i++)
        if (asUsuarios[i].acNombre[0] && asUsuarios[i].iRid == e->rid) {
            iUsuario = i;
            break;
        }
    NLOG::Log(NLOG::INFO, "TR REGISTRATION SUCCESS %i iuser=%i", e->rid, iUsuario);
    // The stack refreshes an accepted registration itself (eXosip_automatic_refresh).
    if (e->response && iUsuario >= 0) asUsuarios[iUsuario].iEstadoRegistro = SIP_REGEST_OK;
}

void CSipua::RegistroFallido(eXosip_event_t* e) {
    {
        std::lock_guard<std::mutex> lk(tMutexUsuarios);
        for (auto& u : asUsuarios)
            if (u.acNombre[0] && u.iRid == e->rid) {
                u.iEstadoRegistro = SIP_REGEST_DENEGADO;
                break;
            }
    }
    ListaUsuarios();
}

// ---- Sessions ------------------------------------------------------------------------------

SesionSip* CSipua::NuevaSesionEntrante(int cid) {
    for (auto& s : asSesiones)
        if (s.iMarca == 0) {
            std::memset(static_cast<void*>(&s), 0, sizeof s);
            s.oTemporizador.Reinicia();
            s.cid = cid;
            s.did = -1;
            s.iUsuario = -1;  // not user 0: a session refused before it is handed out belongs to nobody
            s.iMarca = -1;
            s.iPttId = -1;
            s.canal = -1;
            s.iPuertoRemoto = -1;
            s.iPayload = -1;
            return &s;
        }
    return nullptr;
}

SesionSip* CSipua::NuevaSesionSaliente() {
    SesionSip* s = NuevaSesionEntrante(-1);
    if (s) s->iUsuario = -1;
    return s;
}

SesionSip* CSipua::BuscaSesion(int cid) {
    for (auto& s : asSesiones)
        if (s.iMarca != 0 && s.cid == cid) return &s;
    return nullptr;
}

SesionSip* CSipua::BuscaSesionDialogo(int cid, int did) {
    for (auto& s : asSesiones)
        if (s.iMarca != 0 && s.cid == cid && s.did == did) return &s;
    return nullptr;
}

SesionSip* CSipua::BuscaSesionPorCallId(const char* szCallId) {
    for (auto& s : asSesiones)
        if (s.iMarca != 0 && !std::strcmp(s.acCallId, szCallId)) return &s;
    return nullptr;
}

void CSipua::LiberaSesion(SesionSip* s) {
    s->iMarca = 0;
    s->cid = -1;
}

void CSipua::LimpiaSesiones() {
    std::memset(static_cast<void*>(asSesiones), 0, sizeof asSesiones);
    for (auto& s : asSesiones) s.oTemporizador.Reinicia();
}

int CSipua::LeeSesion(int cid, SesionSip* psCopia) {
    std::lock_guard<std::mutex> lk(tMutexSesiones);
    SesionSip* s = BuscaSesion(cid);
    if (!s) return -1;
    *psCopia = *s;
    return 0;
}

int CSipua::LeeSesionPorCallId(SesionSip* psCopia, const char* szCallId) {
    if (!szCallId) return -1;
    std::lock_guard<std::mutex> lk(tMutexSesiones);
    SesionSip* s = BuscaSesionPorCallId(szCallId);
    if (!s) return -1;
    *psCopia = *s;
    return 0;
}

int CSipua::EscribeSesion(SesionSip* p) {
    std::lock_guard<std::mutex> lk(tMutexSesiones);
    SesionSip* s = BuscaSesion(p->cid);
    if (!s) return -1;
    p->cid = s->cid;
    p->did = s->did;
    p->tid = s->tid;
    p->iUsuario = s->iUsuario;
    *s = *p;
    return 0;
}

int CSipua::PonUsuarioSesion(int cid, int iUsuario) {
    std::lock_guard<std::mutex> lk(tMutexSesiones);
    SesionSip* s = BuscaSesion(cid);
    if (!s) return -1;
    s->iUsuario = iUsuario;
    return 0;
}

void CSipua::TemporizaSesiones(int iMs) {
    struct {
        int iUsuario, cid, did;
    } aFin[MAX_SESIONES];
    int n = 0;
    {
        std::lock_guard<std::mutex> lk(tMutexSesiones);
        for (auto& s : asSesiones) {
            if (s.iMarca == 0 || s.cid <= 0) continue;
            const int r1 = s.oTemporizador.DescuentaSessionExpires(iMs);
            const int r2 = s.oTemporizador.DescuentaRx200ok(iMs);
            if (r1 == 0 || r2 == 0) aFin[n++] = {s.iUsuario, s.cid, s.did};
        }
    }
    for (int i = 0; i < n; i++) ExpiraSesion(aFin[i].iUsuario, aFin[i].cid, aFin[i].did);
}

void CSipua::ExpiraSesion(int iUsuario, int cid, int did) {
    NLOG::Log(NLOG::INFO, "Finaliza sesion: sesion expired cid=%d ", cid);
    Informa(iUsuario, EXOSIP_CALL_CLOSED, cid, did, 0);
    SIP_Close_Session(iUsuario, cid, 0, -1);
}

// ---- WG67-Version and Reason texts ---------------------------------------------------------

const char* CSipua::TextoRazon(int i) { return i >= 0 && i <= 9 ? kRazones[i] : nullptr; }

void CSipua::PonMetodosAceptados(osip_message_t* m) {
    // SUBSCRIBE opens a subscription outside calls; every other method is answered in a call.
    if (m) osip_message_set_header(m, "Allow", "INVITE, ACK, CANCEL, BYE, OPTIONS, UPDATE, INFO, PRACK, REFER, NOTIFY, "
                                               "SUBSCRIBE, MESSAGE");
}

bool CSipua::PonSessionExpires(osip_message_t* m, const SesionSip& s) {
    if (!m || !std::strstr(s.acSupported, "timer") || !s.acSessionExpires[0]) return false;
    char ac[64];
    std::snprintf(ac, sizeof ac, "%.49s;refresher=uac", s.acSessionExpires);
    osip_message_set_header(m, "Require", "timer");
    osip_message_set_header(m, "Session-Expires", ac);
    return true;
}

const char* CSipua::TextoVersionWG67(int iUsuario, const char* szDefecto) {
    if (iUsuario < 0) return szDefecto ? szDefecto : "legacy-eu.01";
    int iTipo = 0;
    if (!CodecsDeUsuario(iUsuario, nullptr, &iTipo)) return szDefecto ? szDefecto : "legacy-eu.01";
    if (iTipo < 0 || iTipo > 5) iTipo = 0;
    return kVersionWG67[iTipo];
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
    int iUsuario = -1;
    {
        std::lock_guard<std::mutex> lk(tMutexSesiones);
        if (SesionSip* s = BuscaSesion(cid)) iUsuario = s->iUsuario;
    }
    PonVersionWG67(iUsuario, m, szDefecto);
}

int CSipua::NotificaDialogo(int did, const char* szEvento, const char* szCuerpo) {
    return EnviaNotifyTexto(did, szEvento, szCuerpo);
}

int CSipua::NotificaSuscripcion(int nid, const char* szEvento, const char* szCuerpo) {
    return EnviaNotifyTextoNid(nid, szEvento, szCuerpo);
}
