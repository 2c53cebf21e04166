// Configuration manager.
#include "cgescfg.h"

#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <vector>

#include "comun/hilo.h"
#include "cconfig.h"
#include "cfg/cfgimagen.h"
#include "comun/gestormutex.h"
#include "comun/nlog.h"
#include "comun/trazapid.h"

CGestorCfg& oGestorCfg = *new CGestorCfg;

namespace {

// Set by the agent's signal, taken (and cleared) by the manager's thread at the start of a pass.
static_assert(std::atomic<int>::is_always_lock_free);
std::atomic<int> gFlgCambio{0};

bool Igual(const char* a, const char* b, std::size_t n) { return std::strncmp(a, b, n) == 0; }

// Plans compared as sets: same number of entries before the first empty key, and every image
// entry found (by key) and equal in the live plan. Each live entry answers for one image entry
// only, so that a plan repeating a key cannot hide a change behind an equal twin.
template <typename T, typename FnClave, typename FnIgual>
bool ConjuntoDistinto(const T* vivo, const T* imagen, int iMax, FnClave clave, FnIgual igual) {
    auto cuenta = [&](const T* p) {
        int n = 0;
        while (n < iMax && clave(p[n])[0] != '\0') n++;
        return n;
    };
    int n = cuenta(vivo);
    if (n != cuenta(imagen)) return true;
    std::vector<bool> usado(n, false);
    for (int i = 0; i < n; i++) {
        int j = 0;
        while (j < n && (usado[j] || !Igual(clave(vivo[j]), clave(imagen[i]), 64) || !igual(&vivo[j], &imagen[i])))
            j++;
        if (j == n) return true;
        usado[j] = true;
    }
    return false;
}

// Plans compared entry by entry, up to where both sides have ended.
template <typename T, typename FnFin, typename FnDistinto>
bool SecuenciaDistinta(const T* vivo, const T* imagen, int iMax, FnFin fin, FnDistinto distinto) {
    for (int i = 0; i < iMax && !(fin(vivo[i]) && fin(imagen[i])); i++)
        if (distinto(&vivo[i], &imagen[i])) return true;
    return false;
}

void LogFlags(const char* pTexto, const uint8_t* aucFlg) {
    char ac[CFG_NUM_RECURSOS + 1];
    for (int i = 0; i < CFG_NUM_RECURSOS; i++) ac[i] = static_cast<char>('0' + (aucFlg[i] ? 1 : 0));
    ac[CFG_NUM_RECURSOS] = '\0';
    NLOG::Log(NLOG::INFO, "%s%s", pTexto, ac);
}

}  // namespace

CGestorCfg::CGestorCfg()
    : iIniciado(0),
      iEstado(ESTADO_NO_INICIADO),
      poCfg(nullptr),
      pMemoria(nullptr),
      iIdMemoria(-1),
      pDirVirtual(nullptr),
      poEventos(nullptr),
      aucFlgRecursoExisteRem{},
      tHilo(),
      tMutex(),
      uiPeriodoUs(1000000),
      uiCambiosAtendidos(0) {
    for (int& t : aiTareas) t = TAREA_NINGUNA;
    for (int& t : aiTareasRecurso) t = TAREA_NINGUNA;
}

// Only sets the flag: it may run in a signal handler, where logging could deadlock on the
// logger's lock.
void CGestorCfg::AvisaCambio() { gFlgCambio.store(1); }

// The manager lives until the process exits; its thread is never stopped.
CGestorCfg::~CGestorCfg() {}

int CGestorCfg::AccesoMemoria(void** ppDireccion, int* piId) {
    int id = shmget(kClaveMemoria, CFG_TAM_IMAGEN, 0666);
    if (id < 0) {
        std::perror("shmget");
        return 1;
    }
    void* p = shmat(id, nullptr, SHM_RDONLY);
    if (p == reinterpret_cast<void*>(-1)) {
        std::perror("shmat");
        return 1;
    }
    *ppDireccion = p;
    if (piId) *piId = id;
    return 0;
}

int CGestorCfg::Inicia(CCONFIG* poConfig, char* pBufDirVirtual, CEventos* poSumidero) {
    if (iIniciado || !poConfig || !pBufDirVirtual || !poSumidero) return -2;
    CreaMutex("CGestorCfg.tMutex", &tMutex, nullptr);
    // Cleared before the image is first read: a signal after that read calls for a pass.
    gFlgCambio.store(0);
    poCfg = poConfig;
    pCopia = std::make_unique<cfgImagenPasarela>();
    void* pSegmento = nullptr;
    if (AccesoMemoria(&pSegmento, &iIdMemoria) != 0) {
        NLOG::Log(NLOG::ERROR, "Error Acceso a memoria compartida\n");
    } else {
        NLOG::Log(NLOG::INFO, "Acceso a memoria compartida OK\n");
        cfgCerrojo cerrojo(&tMutex);
        std::memcpy(static_cast<void*>(pCopia.get()), pSegmento, CFG_TAM_IMAGEN);
        {
            cfgCerrojo cerrojoCfg(&poCfg->tMutex);
            poCfg->CopiaImagen(pCopia.get());
            poCfg->CopiaDirVirtual(pBufDirVirtual);
        }
        pMemoria = pSegmento;
    }
    pDirVirtual = pBufDirVirtual;
    poEventos = poSumidero;
    {
        cfgCerrojo cerrojo(&tMutex);
        iEstado = ESTADO_CONFIG_LOCAL;
        iIniciado = 1;
    }
    if (CreaHiloSuelto(&tHilo, sSupervisa, this) != 0) {
        NLOG::Log(NLOG::ERROR, "Error creando hilo");
        return -2;
    }
    return 0;
}

void* CGestorCfg::sSupervisa(void* pGestor) {
    static_cast<CGestorCfg*>(pGestor)->Supervisa();
    return nullptr;
}

void CGestorCfg::Supervisa() {
    TrazaPid("Superv Gestor config", 0, "src/vortik/cgescfg");
    NLOG::Log(NLOG::INFO, "Arrancado hilo supervisor del gestor de config");
    FijaPrioridadHilo(1);
    for (;;) {
        usleep(uiPeriodoUs);
        cfgCerrojo cerrojo(&tMutex);
        Pasada();
    }
}

void CGestorCfg::Pasada() {
    if (iEstado == ESTADO_CONFIG_LOCAL) {
        NLOG::Log(NLOG::INFO, "procesa config local ");
        ProcesaConfigLocal();
        EjecutaTareas();
        iEstado = ESTADO_SIGUE_IMAGEN;
        return;
    }
    if (iEstado != ESTADO_SIGUE_IMAGEN) return;
    // Taken before the pass: a signal that arrives during it calls for another pass.
    if (gFlgCambio.exchange(0) == 0) return;
    NLOG::Log(NLOG::INFO, "Memoria compartida modificada \n");
    // The agent may have removed the segment and created another behind the key: the one still
    // attached is only waiting to be freed and never changes again.
    if (pMemoria != nullptr && shmget(kClaveMemoria, CFG_TAM_IMAGEN, 0666) != iIdMemoria) {
        NLOG::Log(NLOG::INFO, "CGESCFG: segmento %d sustituido", iIdMemoria);
        shmdt(pMemoria);
        pMemoria = nullptr;
        iIdMemoria = -1;
    }
    if (pMemoria == nullptr) {
        void* p = nullptr;
        if (AccesoMemoria(&p, &iIdMemoria) != 0) {
            NLOG::Log(NLOG::ERROR, "NO encuentra memoria compartida");
            return;
        }
        NLOG::Log(NLOG::INFO, "Acceso a memoria compartida");
        pMemoria = p;
    }
    Compara();
    EjecutaTareas();
    uiCambiosAtendidos++;
}

void CGestorCfg::ProcesaConfigLocal() {
    aiTareas[T_GENERAL] = TAREA_GENERAL;
    aiTareas[T_VIRTUAL] = TAREA_VIRTUAL;
    aiTareas[T_SIP] = TAREA_SIP;
    aiTareas[T_SINCRO] = TAREA_SINCRO;
    aiTareas[T_SNMP] = TAREA_SNMP;
    aiTareas[T_PLANES] = TAREA_PLANES;
    poCfg->MarcaPosiciones();
    for (int i = 0; i < CFG_NUM_RECURSOS; i++)
        aiTareasRecurso[i] = poCfg->aucFlgRecursoExiste[i] ? TAREA_ARRANCA : TAREA_NINGUNA;
    if (poCfg->iCfgModoSistema == 0) aiTareas[T_MULTICAST] = TAREA_MULTICAST;
}

void CGestorCfg::ComparaPlanes() {
    const cfgImagenPasarela& v = *poCfg;
    const cfgImagenPasarela& m = *pCopia;
    bool bPlanes = false;

    const bool bAts = SecuenciaDistinta(v.asPlanAts, m.asPlanAts, CFG_NUM_CENTRALES,
                                        [](const Central& e) { return e.centralpropia == CFG_FIN_PLAN_ATS; },
                                        cfgDistintoPlanAts);
    if (bAts) {
        NLOG::Log(NLOG::INFO, "CGESCFG: Plan ATS ha cambiado");
        bPlanes = true;
    }
    if (ConjuntoDistinto(v.asDireccionamientoIp, m.asDireccionamientoIp, CFG_NUM_DIRECCIONES_IP,
                         [](const DireccionIp& e) { return e.idhost; }, cfgIgualDireccionIp))
        NLOG::Log(NLOG::INFO, "CGESCFG: Plan direccionamiento IP ha cambiado");  // no task of its own
    const bool bTroncales = SecuenciaDistinta(v.asTroncales, m.asTroncales, CFG_NUM_TRONCALES,
                                              [](const Troncal& e) { return e.idtroncal[0] == '\0'; },
                                              cfgDistintoTroncal);
    if (bTroncales) {
        NLOG::Log(NLOG::INFO, "CGESCFG: Plan troncales ha cambiado");
        bPlanes = true;
    }
    const bool bRedes = SecuenciaDistinta(v.asRedes, m.asRedes, CFG_NUM_REDES,
                                          [](const Red& e) { return e.prefijo == CFG_FIN_PLAN_REDES; }, cfgDistintoRed);
    if (bRedes) {
        NLOG::Log(NLOG::INFO, "CGESCFG: Plan redes ha cambiado");
        bPlanes = true;
    }
    if (ConjuntoDistinto(v.asAsignacionUsuarios, m.asAsignacionUsuarios, CFG_NUM_ASIGNACIONES_USUARIO,
                         [](const AsignacionUsuario& e) { return e.idusuario; }, cfgIgualAsignacionUsuario)) {
        NLOG::Log(NLOG::INFO, "CGESCFG: Plan asignacion usuarios ha cambiado");
        bPlanes = true;
    }
    if (ConjuntoDistinto(v.asAsignacionRecursos, m.asAsignacionRecursos, CFG_NUM_ASIGNACIONES_RECURSO,
                         [](const AsignacionRecurso& e) { return e.idrecurso; }, cfgIgualAsignacionRecurso)) {
        NLOG::Log(NLOG::INFO, "CGESCFG: Plan asignacion recursos ha cambiado");
        bPlanes = true;
    }
    if (ConjuntoDistinto(v.asDireccionamientoSip, m.asDireccionamientoSip, CFG_NUM_DIRECCIONES_SIP,
                         [](const DireccionSip& e) { return e.idusuario; }, cfgIgualDireccionSip)) {
        NLOG::Log(NLOG::INFO, "CGESCFG: Plan direccionamiento SIP ha cambiado");
        bPlanes = true;
    }
    if (bPlanes) aiTareas[T_PLANES] = TAREA_PLANES;

    if (!Igual(v.acGrupoMulticast, m.acGrupoMulticast, sizeof v.acGrupoMulticast) ||
        v.uiPuertoMulticast != m.uiPuertoMulticast) {
        aiTareas[T_MULTICAST] = TAREA_MULTICAST;
        NLOG::Log(NLOG::INFO, "CGESCFG: Parametros multicast han cambiado");
    }
}

void CGestorCfg::ComparaGenerales() {
    const cfgImagenPasarela& v = *poCfg;
    const cfgImagenPasarela& m = *pCopia;
    if (!Igual(v.acIdConfig, m.acIdConfig, 166) || !Igual(v.szNombre, m.szNombre, 64)) {
        aiTareas[T_GENERAL] = TAREA_GENERAL;
        NLOG::Log(NLOG::INFO, "CGESCFG: Parametros generales de la qln han cambiado");
    }
    if (!Igual(v.szDirVirtual, m.szDirVirtual, sizeof v.szDirVirtual)) {
        aiTareas[T_VIRTUAL] = TAREA_VIRTUAL;
        NLOG::Log(NLOG::INFO, "CGESCFG: Parametros Virtual han cambiado");
    }
    bool bSip = v.iSipPuertoLocal != m.iSipPuertoLocal || v.iSipPeriodoSuperv != m.iSipPeriodoSuperv;
    for (int i = 0; i < 3; i++)
        bSip = bSip || !Igual(v.szDirSipRegistrar[i], m.szDirSipRegistrar[i], 64) ||
               !Igual(v.szDirSipProxy[i], m.szDirSipProxy[i], 64);
    if (bSip) {
        aiTareas[T_SIP] = TAREA_SIP;
        NLOG::Log(NLOG::INFO, "CGESCFG: Parametros SIP han cambiado");
    }
    NLOG::Log(NLOG::INFO, "ComparaParamsSincro ");
    bool bSincro = v.iModoSincronizacion != m.iModoSincronizacion;
    for (int i = 0; i < 3; i++) bSincro = bSincro || !Igual(v.szDirSrvNtp[i], m.szDirSrvNtp[i], 64);
    if (bSincro) {
        aiTareas[T_SINCRO] = TAREA_SINCRO;
        NLOG::Log(NLOG::INFO, "CGESCFG: Parametros sincronizacion han cambiado");
    }
}

void CGestorCfg::Compara() {
    if (pMemoria == nullptr) return;
    // One copy of the segment, normalised as the take-over will leave it: the agent may be
    // rewriting the segment meanwhile, and a raw image never equals a normalised one.
    std::memcpy(static_cast<void*>(pCopia.get()), pMemoria, CFG_TAM_IMAGEN);
    const int iModoImagen = cfgModoSistemaDe(pCopia.get());
    cfgNormalizaImagen(pCopia.get(), iModoImagen);

    if (poCfg->iCfgModoSistema == 0) ComparaPlanes();
    ComparaGenerales();

    poCfg->MarcaPosiciones();
    LogFlags("poCfg->aucFlgRecursoExiste= ", poCfg->aucFlgRecursoExiste);
    cfgMarcaPosiciones(pCopia.get(), aucFlgRecursoExisteRem);
    LogFlags("poPasaRem->aucFlgRecursoExiste= ", aucFlgRecursoExisteRem);
    for (int i = 0; i < CFG_NUM_RECURSOS; i++) {
        const bool bVivo = poCfg->aucFlgRecursoExiste[i] != 0;
        const bool bImagen = aucFlgRecursoExisteRem[i] != 0;
        const cfgConfigRecurso* a = &poCfg->asRecursos[i];
        const cfgConfigRecurso* b = &pCopia->asRecursos[i];
        if (!bVivo && !bImagen)
            aiTareasRecurso[i] = TAREA_NINGUNA;
        else if (!bVivo)
            aiTareasRecurso[i] = TAREA_ARRANCA;
        else if (!bImagen)
            aiTareasRecurso[i] = TAREA_DETIENE;
        else if (cfgDistintoRecurso(a, b))
            aiTareasRecurso[i] = TAREA_RECONFIGURA;
        else if (cfgDistintoColateral(a, b))
            aiTareasRecurso[i] = TAREA_COLATERALES;
        else
            aiTareasRecurso[i] = TAREA_NINGUNA;
        if (aiTareasRecurso[i] != TAREA_NINGUNA)
            NLOG::Log(NLOG::INFO, "CGESCFG: Parametros de recurso %d han cambiado", i);
    }

    // Take the normalised copy over (normalising twice would undo types 15 and 16).
    cfgCerrojo cerrojo(&poCfg->tMutex);
    const std::size_t kMutex = sizeof pCopia->acRanuraMutex;
    std::memcpy(reinterpret_cast<uint8_t*>(static_cast<cfgImagenPasarela*>(poCfg)) + kMutex,
                reinterpret_cast<const uint8_t*>(pCopia.get()) + kMutex, CFG_TAM_IMAGEN - kMutex);
    ModoSistemaLocal = iModoImagen;
}

void CGestorCfg::EjecutaTareas() {
    struct {
        int iTarea;
        void (CEventos::*pEvento)();
    } const kOrden[] = {
        {T_MULTICAST, &CEventos::EvtReiniciaMulticast}, {T_GENERAL, &CEventos::EvtReiniciaParamsQLN},
        {T_VIRTUAL, &CEventos::EvtReiniciaVirtual},     {T_SIP, &CEventos::EvtReiniciaSip},
        {T_SINCRO, &CEventos::EvtReiniciaSincro},       {T_SNMP, &CEventos::EvtReiniciaSnmp},
        {T_PLANES, &CEventos::EvtReconfiguraEncamina},
    };
    for (const auto& o : kOrden) {
        if (aiTareas[o.iTarea] != TAREA_NINGUNA) {
            aiTareas[o.iTarea] = TAREA_NINGUNA;
            (poEventos->*o.pEvento)();
        }
    }
    for (int i = 0; i < CFG_NUM_RECURSOS; i++) {
        switch (aiTareasRecurso[i]) {
        case TAREA_ARRANCA: poEventos->EvtArrancaRecurso(i); break;
        case TAREA_DETIENE: poEventos->EvtDetieneRecurso(i); break;
        case TAREA_RECONFIGURA: poEventos->EvtReconfiguraRecurso(i); break;
        case TAREA_COLATERALES: poEventos->EvtReconfiguraColaterales(i); break;
        default: break;
        }
        aiTareasRecurso[i] = TAREA_NINGUNA;
    }
}
