#include "sip/cpasagus.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

#include "comun/cdireccionip.h"
#include "comun/nlog.h"
#include "hardware/hardware.h"
#include "red/tcpcons.h"
#include "sip/csipua.h"
#include "sip/encaminauri.h"

CPasaGus& oPasaGus = *new CPasaGus;
CGestorLlamada& oGestorLlamada = *new CGestorLlamada;

namespace {

const int kTrazaSip = 0x40;

std::atomic<uint32_t (*)()> gfnTicksPasaGus{&hwDameTiempo};

// The front end's kind of user and codec list by interface type.
void TipoYCodecs(int iTipoIf, int* piTipo, int32_t* piCodecs, int* piNum) {
    *piNum = 1;
    piCodecs[0] = 8;
    switch (iTipoIf) {
    case TIPOIF_RADIO: case TIPOIF_DATOS: *piTipo = SIP_USR_RADIO; break;
    case TIPOIF_LCEN: *piTipo = SIP_USR_LCEN; break;
    case TIPOIF_ATSR2: *piTipo = SIP_USR_ATSR2; break;
    case TIPOIF_ATSN5: *piTipo = SIP_USR_ATSN5; break;
    case TIPOIF_ATSQSIG:
        *piTipo = SIP_USR_TELEFONO;
        piCodecs[1] = 15;
        *piNum = 2;
        break;
    default: *piTipo = SIP_USR_NINGUNO; break;
    }
}

}  // namespace

uint32_t CPasaGus::Ahora() { return gfnTicksPasaGus.load()(); }

CPasaGus::CPasaGus()
    : iEstadoPR(0), iSipArrancado(0), iNumRecursos(0), pGestorLlamada(nullptr), poPublica(nullptr) {
    for (auto& r : asRecursos) {
        r.iIdUsrGus = -1;
        r.nombre[0] = '\0';
        r.posuperec = nullptr;
        r.tipo = -1;
        std::memset(r.asEstado, 0, sizeof r.asEstado);
    }
    // A global built before main: the named-mutex registry may not be set up yet.
    pthread_mutex_init(&tMutex, nullptr);
    pthread_mutex_init(&tMutexSuscripciones, nullptr);
    sPool.IniciaPool();
}

CPasaGus::~CPasaGus() = default;

void CPasaGus::Inicia(CGestorLlamada* poGestor, CPublicacion* poPub) {
    poPublica = poPub;
    pGestorLlamada = ModoSistema() == 0 ? poGestor : nullptr;
}

void CPasaGus::FijaReloj(uint32_t (*fnTicks)()) { gfnTicksPasaGus.store(fnTicks ? fnTicks : &hwDameTiempo); }

CPasaGus::DatosCfg CPasaGus::LeeCfg() {
    DatosCfg d;
    std::memset(&d, 0, sizeof d);
    cfgConfigPasarela* poCfg = sipDameConfig();
    if (!poCfg) return d;
    pthread_mutex_lock(&poCfg->tMutex);
    d.iModoSistema = poCfg->iCfgModoSistema;
    d.iNivelConsola = poCfg->iNivelConsola;
    d.iSipPeriodoSuperv = poCfg->iSipPeriodoSuperv;
    std::snprintf(d.szNombre, sizeof d.szNombre, "%.64s", poCfg->szNombre);
    std::snprintf(d.szDirVirtual, sizeof d.szDirVirtual, "%.64s", poCfg->szDirVirtual);
    for (int i = 0; i < 3; i++) {
        std::snprintf(d.aszRegistrar[i], sizeof d.aszRegistrar[i], "%.63s", poCfg->szDirSipRegistrar[i]);
        std::snprintf(d.aszProxy[i], sizeof d.aszProxy[i], "%.63s", poCfg->szDirSipProxy[i]);
    }
    pthread_mutex_unlock(&poCfg->tMutex);
    return d;
}

int CPasaGus::ModoSistema() { return sipModoSistema(); }

// ---- Registry -----------------------------------------------------------------------------------

int CPasaGus::AltaRecurso(CRecursoSip* poSuper, const char* szNombre, int iTipoIf, int iEnableRegistro,
                          const char* szClave) {
    if (!szNombre) szNombre = "";
    NLOG::Log(NLOG::INFO, " CPasaGus: Comienza Alta recurso %s porec=%lx", szNombre,
              static_cast<unsigned long>(reinterpret_cast<uintptr_t>(poSuper)));
    const DatosCfg cfg = LeeCfg();
    pthread_mutex_lock(&tMutex);
    if (cfg.iNivelConsola & kTrazaSip)
        NLOG::Log(NLOG::INFO, "CPASAGUS: AltaRecurso( %lx, %s, %d )",
                  static_cast<unsigned long>(reinterpret_cast<uintptr_t>(poSuper)), szNombre, iTipoIf);
    if (iNumRecursos >= MAX_RECURSOS) {
        NLOG::Log(NLOG::ERROR, " CPasaGus: Rebasado maximo de recursos %i", MAX_RECURSOS);
        pthread_mutex_unlock(&tMutex);
        return -1;
    }
    int iTipo;
    int32_t aiCodecs[2];
    int iNumCodecs;
    TipoYCodecs(iTipoIf, &iTipo, aiCodecs, &iNumCodecs);
    int res = -1;
    if (iSipArrancado) {
        NLOG::Log(NLOG::INFO, "CPASAGUS: AddSIPURI( %s )", szNombre);
        res = AltaUsuarioSip(szNombre, iTipo, aiCodecs, iNumCodecs, iEnableRegistro, szClave);
    } else {
        const uint32_t uiIp = DameIpPropia("eth0");
        if (uiIp == 0) {
            NLOG::Log(NLOG::ERROR, " CPasaGus: Error Alta recurso. No IP");
        } else {
            CDireccionIp oIp;
            oIp.TomaValor(uiIp);
            NLOG::Log(NLOG::INFO, "CPASAGUS: Set_Tipo_Gestor_IP_IPSrv( %s )", oIp.texto);
            res = Inicia_Sipua_Gus(szNombre, iTipo, aiCodecs, iNumCodecs, oIp.texto, cfg.szDirVirtual,
                                   iEnableRegistro, this, cfg.iModoSistema, szClave);
            ActualizaParamSip(cfg.iSipPeriodoSuperv);
        }
    }
    if (res >= 0) {
        NLOG::Log(NLOG::INFO, "CPASAGUS: Recurso añadido( %s )", szNombre);
        if (!iSipArrancado) {
            FijaServidoresSip(cfg.aszRegistrar, 3, cfg.aszProxy);
            iSipArrancado = 1;
        }
        DatosRecurso* r = nullptr;
        for (auto& e : asRecursos)
            if (!e.posuperec) {
                r = &e;
                break;
            }
        if (!r) {
            NLOG::Log(NLOG::ERROR, " CPasaGus: Lista de recursos corrupta");
        } else {
            r->posuperec = poSuper;
            std::snprintf(r->nombre, sizeof r->nombre, "%.64s", szNombre);
            r->iIdUsrGus = res;
            r->tipo = iTipoIf;
            std::memset(r->asEstado, 0, sizeof r->asEstado);
            for (auto& e : r->asEstado) e.ucEstado = 10;
            pthread_mutex_lock(&tMutexSuscripciones);
            r->ListaKeyIn.Vacia();
            pthread_mutex_unlock(&tMutexSuscripciones);
            // Only a registration that holds an entry counts: the supervisor retries a refused
            // one, which must not use up the 16 places.
            ++iNumRecursos;
        }
    } else {
        NLOG::Log(NLOG::ERROR, " CPasaGus: devolvio error al anadir recurso");
    }
    NLOG::Log(NLOG::INFO, " CPasaGus:AltaRecurso %s", szNombre);
    pthread_mutex_unlock(&tMutex);
    return res;
}

int CPasaGus::ActualizaRecurso(CRecursoSip*, const char* szNombre, int iTipoIf, int iFlagQsig) {
    if (!szNombre) return -1;
    int32_t aiCodecs[2] = {8, 15};
    int iNum = 1;
    if (iTipoIf == TIPOIF_ATSQSIG) {
        if (iFlagQsig == 1) iNum = 2;
        else aiCodecs[0] = 15;
    }
    const int iKind = iTipoIf == TIPOIF_RADIO || iTipoIf == TIPOIF_DATOS ? 0 : 1;
    pthread_mutex_lock(&tMutex);
    const int res = ActualizaAltaUsuarioSip(szNombre, iKind, aiCodecs, iNum, iKind);
    pthread_mutex_unlock(&tMutex);
    if (res >= 0) NLOG::Log(NLOG::INFO, " CPasaGus: Actualiza user SIP %s", szNombre);
    else NLOG::Log(NLOG::ERROR, " CPasaGus: error al Actualizar recurso %s", szNombre);
    return res;
}

int CPasaGus::BajaRecurso(CRecursoSip* poSuper) {
    pthread_mutex_lock(&tMutex);
    DatosRecurso* r = nullptr;
    for (auto& e : asRecursos)
        if (poSuper && e.posuperec == poSuper) {
            r = &e;
            break;
        }
    if (!r) {
        pthread_mutex_unlock(&tMutex);
        NLOG::Log(NLOG::ERROR, " CPasaGus: Intento de baja recurso no conocido");
        return -1;
    }
    NLOG::Log(NLOG::INFO, "CPASAGUS: Baja recurso %s", r->nombre);
    r->posuperec = nullptr;
    const int iUsuario = r->iIdUsrGus;
    r->iIdUsrGus = -1;
    --iNumRecursos;
    const int res = BajaUsuarioSip(r->nombre, iUsuario);
    pthread_mutex_unlock(&tMutex);
    return res;
}

int CPasaGus::BuscaRecursoPorUsuario(int iUsuario) {
    if (iUsuario < 0) return -1;
    for (int i = 0; i < MAX_RECURSOS; i++)
        if (asRecursos[i].posuperec && asRecursos[i].iIdUsrGus == iUsuario) return i;
    return -1;
}

int CPasaGus::BuscaRecursoPorNombre(const char* szNombre) {
    if (!szNombre) return -1;
    for (int i = 0; i < MAX_RECURSOS; i++)
        if (!std::strcmp(asRecursos[i].nombre, szNombre)) return i;
    return -1;
}

int CPasaGus::BuscaRecursoActivo(const char* szNombre) {
    if (!szNombre) return -1;
    for (int i = 0; i < MAX_RECURSOS; i++)
        if (asRecursos[i].posuperec && !std::strcmp(asRecursos[i].nombre, szNombre)) return i;
    return -1;
}

CRecursoSip* CPasaGus::DameSupervisor(int iUsuario) {
    const int i = BuscaRecursoPorUsuario(iUsuario);
    return i < 0 ? nullptr : asRecursos[i].posuperec;
}

int CPasaGus::DameUsuarioDeSupervisor(CRecursoSip* poSuper) {
    for (auto& r : asRecursos)
        if (poSuper && r.posuperec == poSuper) return r.iIdUsrGus;
    return -1;
}

int CPasaGus::DameRecursoDeSupervisor(CRecursoSip* poSuper, char* szNombre) {
    for (int i = 0; i < MAX_RECURSOS; i++)
        if (poSuper && asRecursos[i].posuperec == poSuper) {
            if (szNombre) std::snprintf(szNombre, 65, "%.64s", asRecursos[i].nombre);
            return i;
        }
    return -1;
}

int CPasaGus::DameNombreDeUsuario(int iUsuario, char* szNombre) {
    const int i = BuscaRecursoPorUsuario(iUsuario);
    if (i >= 0 && szNombre) std::snprintf(szNombre, 65, "%.64s", asRecursos[i].nombre);
    return i;
}

int CPasaGus::LocalizaRecursoAts(const char* szUsuario) {
    cfgConfigPasarela* poCfg = sipDameConfig();
    if (!poCfg || !szUsuario) return -1;
    char acUri[sizeof(cfgColateral::szUriRemota) + 1] = "";
    char acNombre[65] = "";
    int iTipoIf = -1;
    pthread_mutex_lock(&poCfg->tMutex);
    for (const auto& rec : poCfg->asRecursos) {
        if ((rec.iTipoIf == TIPOIF_ATSR2 || rec.iTipoIf == TIPOIF_ATSN5 || rec.iTipoIf == TIPOIF_ATSQSIG) &&
            rec.sColateral.szUriRemota[0]) {
            std::snprintf(acUri, sizeof acUri, "%.*s", static_cast<int>(sizeof acUri - 1), rec.sColateral.szUriRemota);
            std::snprintf(acNombre, sizeof acNombre, "%.64s", rec.nombre);
            iTipoIf = rec.iTipoIf;
            break;
        }
    }
    pthread_mutex_unlock(&poCfg->tMutex);
    if (!acUri[0]) return -1;
    char acUsuario[51];
    ExtraeUsuarioUri(acUri, acUsuario);
    if (std::strcmp(acUsuario, szUsuario) != 0) return -1;
    NLOG::Log(NLOG::DEBUG, "Recurso localizado itf=%i", iTipoIf);
    const int i = BuscaRecursoActivo(acNombre);
    return i < 0 ? -1 : asRecursos[i].iIdUsrGus;
}

void CPasaGus::QuitaPuertoUri(char* szUri) {
    if (!szUri || !szUri[0]) return;
    const size_t n = std::strlen(szUri);
    // Past "sip:" and at least six characters (a display name may come first): the first ':'
    // from there on opens the port.
    const char* szSip = std::strstr(szUri, "sip:");
    size_t iDesde = 0;
    if (szSip) iDesde = std::max<size_t>(6, static_cast<size_t>(szSip - szUri) + 4);
    if (iDesde >= n) return;
    char* p = std::strchr(szUri + iDesde, ':');
    if (p) *p = '\0';
}

void CPasaGus::ExtraeUsuarioUri(const char* szUri, char* szUsuario) {
    char acUsuario[60];
    CopiaUsuarioUri(szUri, acUsuario);
    std::snprintf(szUsuario, 51, "%.50s", acUsuario);
}

// ---- SIP events forwarded to the supervisor of the user ---------------------------------------------

#define VK_REENVIA(evento, ...)                                                                         \
    CRecursoSip* s = DameSupervisor(iUsuario);                                                          \
    if (!s) {                                                                                           \
        __VA_ARGS__;                                                                                    \
        return;                                                                                         \
    }                                                                                                   \
    s->evento(psSesion)

void CPasaGus::Traplic_Call_Proceeding(int iUsuario, DatosEventoSip* psSesion) {
    VK_REENVIA(Traplic_Call_Proceeding,
               NLOG::Log(NLOG::ERROR, " CPasaGus: GUS entrego Id-Usr (%i) no valido a Traplic_Call_Proceeding()", iUsuario));
}
void CPasaGus::Traplic_Ringing(int iUsuario, DatosEventoSip* psSesion) {
    VK_REENVIA(Traplic_Ringing,
               NLOG::Log(NLOG::ERROR, " CPasaGus: GUS entrego Id-Usr (%i) no valido a Traplic_Ringing()", iUsuario));
}
void CPasaGus::Traplic_Released(int iUsuario, DatosEventoSip* psSesion) {
    VK_REENVIA(Traplic_Released,
               NLOG::Log(NLOG::ERROR, " CPasaGus: GUS entrego Id-Usr (%i) no valido a Traplic_Released()", iUsuario));
}
void CPasaGus::Traplic_Request_Failure(int iUsuario, DatosEventoSip* psSesion) {
    VK_REENVIA(Traplic_Request_Failure,
               NLOG::Log(NLOG::ERROR, " CPasaGus: GUS entrego Id-Usr (%i) no valido a Traplic_Request_Failure()", iUsuario));
}
void CPasaGus::Traplic_Global_Failure(int iUsuario, DatosEventoSip* psSesion) {
    VK_REENVIA(Traplic_Global_Failure,
               NLOG::Log(NLOG::ERROR, " CPasaGus: GUS entrego Id-Usr (%i) no valido a Traplic_Global_Failure()", iUsuario));
}
void CPasaGus::Traplic_Server_Failure(int iUsuario, DatosEventoSip* psSesion) {
    VK_REENVIA(Traplic_Server_Failure,
               NLOG::Log(NLOG::ERROR, " CPasaGus: GUS entrego Id-Usr (%i) no valido a Traplic_Server_Failure()", iUsuario));
}
void CPasaGus::Traplic_Update(int iUsuario, DatosEventoSip* psSesion) {
    VK_REENVIA(Traplic_Update,
               NLOG::Log(NLOG::ERROR, "CPasaGus:GUS entrego Id-Usr (%i) no valido a Traplic_Update()", iUsuario));
}
void CPasaGus::Traplic_Closed(int iUsuario, DatosEventoSip* psSesion) {
    VK_REENVIA(Traplic_Closed, NLOG::Log(NLOG::INFO, "GUS entrego Id-Usr no valido a Traplic_Closed %i", iUsuario));
}
void CPasaGus::Traplic_ACK(int iUsuario, DatosEventoSip* psSesion) {
    VK_REENVIA(Traplic_ACK, NLOG::Log(NLOG::INFO, "GUS entrego Id-Usr no valido a Traplic_ACK() %i", iUsuario));
}
void CPasaGus::Traplic_InfoIntrusionInProgress(int iUsuario, DatosEventoSip* psSesion) {
    VK_REENVIA(Traplic_InfoIntrusionInProgress,
               NLOG::Log(NLOG::INFO, "GUS entrego Id-Usr no valido a Traplic_InfoIntrusionInProgress() %i", iUsuario));
}
void CPasaGus::Traplic_InfoIntrusionIsEfective(int iUsuario, DatosEventoSip* psSesion) {
    VK_REENVIA(Traplic_InfoIntrusionIsEfective,
               NLOG::Log(NLOG::INFO, "GUS entrego Id-Usr no valido a Traplic_InfoIntrusionIsEfective() %i", iUsuario));
}
void CPasaGus::Traplic_InfoEndofIntrusion(int iUsuario, DatosEventoSip* psSesion) {
    VK_REENVIA(Traplic_InfoEndofIntrusion,
               NLOG::Log(NLOG::INFO, "GUS entrego Id-Usr no valido a Traplic_InfoEndofIntrusion() %i", iUsuario));
}
void CPasaGus::Traplic_InfoIntrusionInminente(int iUsuario, DatosEventoSip* psSesion) {
    VK_REENVIA(Traplic_InfoIntrusionInminente,
               NLOG::Log(NLOG::INFO, "GUS entrego Id-Usr no valido a Traplic_InfoIntrusionInminente() %i", iUsuario));
}
void CPasaGus::Traplic_Redirect(int iUsuario, DatosEventoSip* psSesion) {
    VK_REENVIA(Traplic_Redirect, NLOG::Log(NLOG::INFO, "GUS entrego Id-Usr no valido a Traplic_Redirect() %i", iUsuario));
}
void CPasaGus::Traplic_Reinvite(int iUsuario, DatosEventoSip* psSesion) {
    VK_REENVIA(Traplic_Reinvite, NLOG::Log(NLOG::INFO, "GUS entrego Id-Usr no valido a Traplic_Reinvite() %i", iUsuario));
}
void CPasaGus::Traplic_Call_Answer(int iUsuario, DatosEventoSip* psSesion) {
    VK_REENVIA(Traplic_Call_Answer,
               NLOG::Log(NLOG::INFO, "GUS entrego Id-Usr no valido a Traplic_Call_Answer() %i", iUsuario));
}
void CPasaGus::Traplic_Notify(int iUsuario, DatosEventoSip* psSesion) {
    VK_REENVIA(Traplic_Notify, NLOG::Log(NLOG::INFO, "GUS entrego Id-Usr no valido a Traplic_Notify() %i", iUsuario));
}
void CPasaGus::Traplic_Call_No_Answer(int iUsuario, DatosEventoSip* psSesion) {
    VK_REENVIA(Traplic_Call_No_Answer,
               NLOG::Log(NLOG::INFO, "GUS entrego Id-Usr no valido a Traplic_Call_No_Answer() %i", iUsuario));
}
void CPasaGus::Traplic_Refer(int iUsuario, DatosEventoSip* psSesion) {
    VK_REENVIA(Traplic_Refer,
               NLOG::Log(NLOG::ERROR, "CPasaGus:GUS entrego Id-Usr (%i) no valido a Traplic_Refer()", iUsuario));
}
#undef VK_REENVIA

void CPasaGus::Traplic_Info(int iUsuario, DatosEventoSip* psSesion, const char* szCuerpo) {
    CRecursoSip* s = DameSupervisor(iUsuario);
    if (!s) {
        NLOG::Log(NLOG::INFO, "GUS entrego Id-Usr no valido a Traplic_Info() %i", iUsuario);
        return;
    }
    s->Traplic_Info(psSesion, szCuerpo);
}

int32_t CPasaGus::Traplic_Options(int iUsuario, DatosEventoSip*) {
    CRecursoSip* s = DameSupervisor(iUsuario);
    if (!s) {
        NLOG::Log(NLOG::INFO, "GUS entrego Id-Usr no valido a Traplic_Options %i", iUsuario);
        return -1;
    }
    return s->Traplic_Options();
}

void CPasaGus::Traplic_Call_Message_Answered(int, DatosEventoSip*) {}

void CPasaGus::Traplic_Respuesta_for_Options(int iUsuario, DatosEventoSip*) {
    CRecursoSip* s = DameSupervisor(iUsuario);
    if (!s) {
        NLOG::Log(NLOG::ERROR, " CPasaGus: GUS entrego Id-Usr (%i) no valido a Traplic_Respuesta_for_Options()", iUsuario);
        return;
    }
    s->Traplic_Respuesta_for_Options();
}

// Every way out answers the INVITE: an unanswered one would hold its session for good.
void CPasaGus::Traplic_Replaces(int iUsuario, int cidSustituido, DatosEventoSip* psSesion) {
    if (!psSesion) return;
    CRecursoSip* s = DameSupervisor(iUsuario);
    if (!s) {
        RechazaSustitucion(iUsuario, psSesion->cid);
        return;
    }
    NLOG::Log(NLOG::INFO, "CPasaGus:GUS entrego Id-Usr a Traplic_Replaces()");
    const int iPuerto = AsignaPuerto(psSesion->cid);
    if (iPuerto < 1) {
        RechazaLlamada(iUsuario, psSesion->cid, 201);
        NLOG::Log(NLOG::ERROR, " CPasaGus: no hay puertos RTP libres");
        return;
    }
    psSesion->iPuertoLocal = iPuerto;
    if (DameSipua()) DameSipua()->EscribeSesion(psSesion);
    s->Traplic_Replaces(cidSustituido, psSesion);
}

int32_t CPasaGus::AbortaInterrupcion(const char* szInterrumpido, const char* szLiberado, int cid) {
    const int iInterrumpido = BuscaRecursoPorNombre(szInterrumpido);
    NLOG::Log(NLOG::INFO, " CPasaGus: Abortando interrupcion rec %i cid en curso %i", iInterrumpido, cid);
    CRecursoSip* poInterrumpido = iInterrumpido >= 0 ? asRecursos[iInterrumpido].posuperec : nullptr;
    if (poInterrumpido) poInterrumpido->Abortallamada(cid);
    const int iLiberado = BuscaRecursoActivo(szLiberado);
    CRecursoSip* poLiberado = iLiberado >= 0 ? asRecursos[iLiberado].posuperec : nullptr;
    SesionSip s;
    if (!poLiberado || !DameSipua() || DameSipua()->LeeSesion(cid, &s) != 0) {
        NLOG::Log(NLOG::ERROR, " CPasaGus: Abortando interrupcion sin recurso liberado %s o sin sesion %i",
                  szLiberado ? szLiberado : "", cid);
        return 0;
    }
    s.canal = -1;
    DameSipua()->EscribeSesion(&s);
    s.iUsuario = asRecursos[iLiberado].iIdUsrGus;
    DameSipua()->PonUsuarioSesion(cid, s.iUsuario);
    NLOG::Log(NLOG::INFO, " CPasaGus:Traplic_invite::cid_encurso=%i  sSesion.incomming_priority=%i\n", cid,
              s.incomming_priority);
    poLiberado->Traplic_Invite(&s);
    return 0;
}

// ---- Answers towards SIP ----------------------------------------------------------------------------

int CPasaGus::AceptaLlamada(int iUsuario, int cid, int iPuertoLocal) {
    NLOG::Log(NLOG::INFO, "GUS Acepta llamada user=%i", iUsuario);
    return EnviaOk(iUsuario, cid, iPuertoLocal);
}

int CPasaGus::AceptaLlamadaConModo(int iUsuario, int cid, int iPuertoLocal, int iPttId) {
    SesionSip s;
    if (DameSipua() && DameSipua()->LeeSesion(cid, &s) == 0) {
        s.iRadio = 1;
        s.iPttId = iPttId;
        DameSipua()->EscribeSesion(&s);
    }
    return AceptaLlamada(iUsuario, cid, iPuertoLocal);
}

int CPasaGus::EnviaRinging(int iUsuario, int cid) { return RespondeLlamada(iUsuario, cid, 1); }

int CPasaGus::EnviaSessionProgress(int iUsuario, int cid) { return RespondeCodigo(iUsuario, cid, 183); }

int CPasaGus::NotificaRefer(int, int iDialogo, const char* szLineaEstado) {
    return DameSipua() ? DameSipua()->EnviaNotifyRefer(iDialogo, szLineaEstado) : -1;
}

int CPasaGus::RespondeIntWarning(int iUsuario, int cid, int iModo) {
    if (iModo == 2 || iModo == 3) {
        if (ModoSistema() == 0 && pGestorLlamada) pGestorLlamada->ActualizaFlagIntWarning(iUsuario, cid, iModo == 2);
        return RespondeLlamada(iUsuario, cid, iModo == 2 ? 13 : 14);
    }
    return RespondeLlamada(iUsuario, cid, 0);
}

int CPasaGus::EnviaInfo(int iUsuario, int cid, int iTipo, const char* szTexto) {
    char acCuerpo[64];
    const char* szTipo = "text/plain";
    switch (iTipo) {
    case 1: std::snprintf(acCuerpo, sizeof acCuerpo, "Interruption is impending"); break;
    case 2: std::snprintf(acCuerpo, sizeof acCuerpo, "Interruption Terminated"); break;
    case 4: std::snprintf(acCuerpo, sizeof acCuerpo, "Intrusion is Efective"); break;
    case 5: std::snprintf(acCuerpo, sizeof acCuerpo, "End of Intrusion"); break;
    case 6: std::snprintf(acCuerpo, sizeof acCuerpo, "Intrusion is impending"); break;
    case 10: std::snprintf(acCuerpo, sizeof acCuerpo, "Intruido por %.32s", szTexto ? szTexto : ""); break;
    case 11:
        std::snprintf(acCuerpo, sizeof acCuerpo, "%.50s", szTexto ? szTexto : "");
        szTipo = "application/selcall";
        break;
    default: return -1;
    }
    NLOG::Log(NLOG::INFO, "Info_Session: %s", acCuerpo);
    return Cgus::EnviaInfo(iUsuario, cid, szTipo, acCuerpo);
}

int CPasaGus::EnviaInfoBasico(int iUsuario, int cid, int iTipo) { return EnviaInfo(iUsuario, cid, iTipo, nullptr); }
