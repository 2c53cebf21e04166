// Resource process: start-up, waiting for the configuration, the one-second supervision loop
// and the handling of a new configuration.
#include "mainrecurso.h"

#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "ccontextorecurso.h"
#include "centrec.h"
#include "cmantats.h"
#include "csesionrtp.h"
#include "cfg/cfgimagen.h"
#include "comun/ganchosipc.h"
#include "comun/gestormutex.h"
#include "comun/hilo.h"
#include "comun/nlog.h"
#include "comun/trazapid.h"
#include "comun/uptime.h"
#include "comun/vigilanciahilos.h"
#include "hardware/hardware.h"
#include "ipc/cola.h"
#include "ipcrec.h"
#include "libdsp.h"
#include "sesionrec.h"

namespace {

constexpr int VERSION_MAYOR = 0, VERSION_MENOR = 0, VERSION_REVISION = 1;
constexpr const char* kBuild = "QUARVELD 2017-01-20 09:03:24";
constexpr uint32_t CLASES_LINEA = 0x3E;
constexpr uint32_t CLASES_TODAS = 0xFFFF;
constexpr int MAX_MODULOS = 4;

// The process's context, handed to the entity, the sessions, the channel and the records;
// never destroyed: threads read it at exit.
CContextoRecurso& gContexto = *new CContextoRecurso;
std::atomic<int> giNivelIncidencias{3};
int giConfigRecibida = 0;         // guarded by gContexto.tMutexConfig
std::atomic<int> giTermina{0};
int giPropio = -1;
int giPidNucleo = -1;
time_t gtArranque = 0;
int giNumModulos = 0;
int gaiIdModulo[MAX_MODULOS] = {-1, -1, -1, -1};
int gaiResultadoModulo[MAX_MODULOS] = {-1, -1, -1, -1};
// The entity's start against a new configuration applied to it from the channel's thread;
// taken before the context's configuration lock.
pthread_mutex_t gtMutexArranque;
cfgConfigRecurso& gsRegistro = gContexto.sRegistro;  // the frame's short name for it
char gacGeneral[TAM_BLOQUE_GENERAL];

void Bloquea() { pthread_mutex_lock(&gContexto.tMutexConfig); }
void Desbloquea() { pthread_mutex_unlock(&gContexto.tMutexConfig); }

// Next whole second on the monotonic clock: SIGALRM of an interval timer could be taken by
// any thread of the process and the loop would never wake.
void DuermeHasta(timespec& tSiguiente) {
    tSiguiente.tv_sec += 1;
    timespec ahora;
    clock_gettime(CLOCK_MONOTONIC, &ahora);
    if (tSiguiente.tv_sec < ahora.tv_sec - 1 || tSiguiente.tv_sec > ahora.tv_sec + 2) {
        // Far behind (a stopped process) or ahead: start counting again from now.
        tSiguiente = ahora;
        tSiguiente.tv_sec += 1;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &tSiguiente, nullptr) == EINTR) {
    }
}

void BuclePrincipal() {
    FijaPrioridadHilo(1);
    timespec tSiguiente;
    clock_gettime(CLOCK_MONOTONIC, &tSiguiente);
    while (!giTermina) {
        uint32_t ahora = hwDameTiempo();
        if (CompruebaHilos(ahora) == 0) {
            PintaHilosSinRefrescar(0);
            ListaMutex(1, nullptr);
        }
        // The entity's own line module: its card is slot module / 4 (not the resource
        // number / 4, which names another card whenever the positions are not in order).
        for (int i = 0; i < giNumModulos; ++i) {
            if (hwDimePresenciaModulo(gContexto.pEntidad->DameModulo() / 4) != 1) {
                gaiResultadoModulo[i] = -1;
                gContexto.pEntidad->FalloHw();
                gaiIdModulo[i] = -1;
            }
        }
        ipcrecTemporiza();
        ldspTemporiza();
        if (giTermina) break;
        DuermeHasta(tSiguiente);
    }
}

}  // namespace

void mrecFijaNivelIncidencias(int iNivel) { giNivelIncidencias = iNivel; }

int mrecMain(int argc, char** argv, CEntidadRC& entidad, const ProgramaRecurso& programa) {
    gContexto.szPalabra = programa.szPalabra;
    gContexto.pEntidad = &entidad;
    entidad.FijaContexto(gContexto);
    FijaPrioridadHilo(1);
    if (argc < 4) {
        printf(" Recurso %s V%d.%d.%d  (%s)\n", gContexto.szPalabra, VERSION_MAYOR, VERSION_MENOR, VERSION_REVISION,
               kBuild);
        printf("\n");
        return 0;
    }
    gContexto.iRec = -1;
    FijaMascaraTrazaIpc(0);
    giNivelIncidencias = 3;
    giConfigRecibida = 0;
    giPropio = static_cast<int>(getpid());
    giTermina = 0;
    gContexto.iRec = atoi(argv[1]);
    FijaMascaraTrazaIpc(static_cast<uint32_t>(atoi(argv[2])));
    giPidNucleo = atoi(argv[3]);
    if (gContexto.iRec < 0 || giPidNucleo < 0) {
        printf("Error en datos de arranque. REC=%d, PID_VORTIK=%d\n", gContexto.iRec, giPidNucleo);
        return -1;
    }

    char szSufijo[32];
    snprintf(szSufijo, sizeof szSufijo, "_rec%d.log", gContexto.iRec);
    pObjetoLog = new CIniciaLog(szSufijo);
    NLOG::Log(NLOG::INFO, "ARRANQUE Recurso %s", szSufijo);

    if (CreaMutex("tMutexConfRecurso", &gContexto.tMutexConfig, nullptr) != 0 ||
        CreaMutex("tMutexArranque", &gtMutexArranque, nullptr) != 0) {
        if (DameMascaraTrazaIpc() & CLASES_TODAS)
            printf("%s[%d]: Error creando mutex de configuracion.\n", gContexto.szPalabra, gContexto.iRec);
        return -1;
    }
    char szTraza[64];
    snprintf(szTraza, sizeof szTraza, programa.szTrazaPid, gContexto.iRec);
    AbreTrazaPid(szTraza);
    TrazaPid("Recurso_X. Funcion main()", gContexto.iRec, "src/recurso/main_x");
    IniciaVigilanciaHilos();
    uptInicia();
    giPropio = static_cast<int>(getpid());

    Mantats().Inicia(gContexto);
    sesrecInicia(gContexto, ipcrecEnviaDiagnostico);
    gtArranque = time(nullptr);
    IniciaHardware();
    Cola::FijaRelojRafaga(hwRelojUs);
    entidad.CreaCerrojos(gContexto.iRec);
    ipcrecFijaContexto(gContexto, {mrecTomaConfig, mrecPadreMuerto, mrecPintaEstadisticas, mrecFijaNivelIncidencias});
    ipcrecIniciaCanal(giPidNucleo);
    ldspInicia();
    if (DameMascaraTrazaIpc() % 65535 != 0)
        printf("%s[%d] V%d.%d.%d  (%s)\n", gContexto.szPalabra, gContexto.iRec, VERSION_MAYOR, VERSION_MENOR,
               VERSION_REVISION, kBuild);

    // The channel is ticked while waiting too: a core that dies before sending the
    // configuration would otherwise leave the process waiting for ever.
    Bloquea();
    for (int iPaso = 1; !giConfigRecibida && !giTermina; ++iPaso) {
        Desbloquea();
        ipcrecEnviaSinConfig();
        DuermeMs(500);
        if (iPaso % 2 == 0) ipcrecTemporiza();
        Bloquea();
    }
    Desbloquea();

    if (!giTermina) {
        IpcTraza(CLASES_LINEA, "%s[%d]: CFG OK\n", gContexto.szPalabra, gContexto.iRec);
        giNumModulos = 1;
        cfgCerrojo c(&gtMutexArranque);
        entidad.Arranca(gContexto.iRec);
    }

    BuclePrincipal();

    NLOG::Log(NLOG::INFO, "Saliendo (%d)", gContexto.iRec);
    IpcTraza(CLASES_TODAS, "%s[%d]-Saliendo\n", gContexto.szPalabra, gContexto.iRec);
    ipcrecCierraCanal();
    // Line supervision, timers and the tone player still run on their threads: the static
    // objects they use must not be destroyed under them.
    fflush(nullptr);
    _exit(0);
}

int mrecTomaConfig(const char* pcGeneral, const cfgConfigRecurso* pNuevo) {
    cfgCerrojo c(&gtMutexArranque);
    memcpy(gacGeneral, pcGeneral, sizeof gacGeneral);
    Bloquea();
    if (!giConfigRecibida) {
        memcpy(&gsRegistro, pNuevo, sizeof gsRegistro);
        giConfigRecibida = 1;
        Desbloquea();
        // Known from here on; a later change of it is a total change that restarts the process.
        CSesionRTP::FijaTipoInterfaz(pNuevo->iTipoIf);
        char szNombre[sizeof pNuevo->nombre + 1] = {};
        memcpy(szNombre, pNuevo->nombre, sizeof pNuevo->nombre);
        // With the pid: restarts of one resource share its log file.
        NLOG::Log(NLOG::INFO, "%s[%d]: configuracion %s iTipoIf %d modulo %d, pid %d", gContexto.szPalabra,
                  gContexto.iRec, szNombre, pNuevo->iTipoIf, pNuevo->iSlot * 4 + pNuevo->iDispositivo, giPropio);
        return 0;
    }
    CambiosConfig sCambios;
    switch (mrecCompruebaConfigGeneral(pNuevo)) {
    case -2:
        NLOG::Log(NLOG::INFO, "mrecCompruebaConfigGeneral Cambio parcial");
        gContexto.pEntidad->CambioConfigIf(&sCambios);
        break;
    case -1:
        NLOG::Log(NLOG::INFO, "mrecCompruebaConfigGeneral Cambio total");
        giTermina = 1;
        break;
    default:
        break;
    }
    switch (mrecCompruebaConfigRec(pNuevo)) {
    case 0:
        NLOG::Log(NLOG::INFO, "mrecCompruebaConfigRec cambio nulo");
        break;
    case -2:
        NLOG::Log(NLOG::INFO, "mrecCompruebaConfigRec Cambio parcial");
        gContexto.pEntidad->CambioConfigGeneral(&sCambios);
        break;
    default:
        break;
    }
    if (mrecCompruebaConfigIf(pNuevo) == -2) {
        NLOG::Log(NLOG::INFO, "mrecCompruebaConfigIf Cambio parcial");
        gContexto.pEntidad->CambioConfigIf(&sCambios);
    }
    memcpy(&gsRegistro, pNuevo, sizeof gsRegistro);
    if (!giTermina) {
        Desbloquea();
        gContexto.pEntidad->AplicaConfig(sCambios);
    } else {
        Desbloquea();
    }
    return 0;
}

int mrecCompruebaConfigGeneral(const cfgConfigRecurso* n) {
    const cfgConfigRecurso& v = gsRegistro;
    int r = 0;
    if (cfgDistintoGeneralRecurso(&v, n)) {
        // The entity's start may have turned a BC line into its AB form: not a change.
        const bool bAjustado = v.iCfgModoSistema == 0 && n->iTipoIf == TIPOIF_BC && n->iFlgUsarDiffServ == 1 &&
                               v.iTipoIf == TIPOIF_AB && v.iFlgUsarDiffServ == 2;
        r = -1;
        if (strncmp(v.nombre, n->nombre, 64) != 0) {
            NLOG::Log(NLOG::INFO, "mrecCompruebaConfigGeneral: Cambia szNombre");
        } else if (v.iTipo != n->iTipo) {
            NLOG::Log(NLOG::INFO, "mrecCompruebaConfigGeneral: Cambia iTipo %i->%i", v.iTipo, n->iTipo);
        } else if (!bAjustado && v.iTipoIf != n->iTipoIf) {
            NLOG::Log(NLOG::INFO, "mrecCompruebaConfigGeneral: Cambia iTipoIf %i->%i", v.iTipoIf, n->iTipoIf);
        } else if (!bAjustado && v.iFlgUsarDiffServ != n->iFlgUsarDiffServ) {
            NLOG::Log(NLOG::INFO, "mrecCompruebaConfigGeneral: Cambia iFlgUsarDiffServ %i->%i", v.iFlgUsarDiffServ,
                      n->iFlgUsarDiffServ);
        } else if (v.iSlot != n->iSlot) {
            NLOG::Log(NLOG::INFO, "mrecCompruebaConfigGeneral: Cambia iSlot %i->%i", v.iSlot, n->iSlot);
        } else if (v.iDispositivo != n->iDispositivo) {
            NLOG::Log(NLOG::INFO, "mrecCompruebaConfigGeneral: Cambia iDispositivo %i->%i", v.iDispositivo,
                      n->iDispositivo);
        } else if (strncmp(v.szDestino, n->szDestino, 64) != 0) {
            char a[65] = {}, b[65] = {};
            memcpy(a, v.szDestino, 64);
            memcpy(b, n->szDestino, 64);
            NLOG::Log(NLOG::INFO, "mrecCompruebaConfigGeneral: Cambia szDestino %s->%s", a, b);
        } else {
            r = -2;
        }
    }
    if (v.iTipoIf == TIPOIF_RADIO) {
        if (v.uParam.radio.iTipoRadio != n->uParam.radio.iTipoRadio) {
            NLOG::Log(NLOG::INFO, "mrecCompruebaConfigGeneral: Cambia iTipoRadio %i->%i", v.uParam.radio.iTipoRadio,
                      n->uParam.radio.iTipoRadio);
            r = -1;
        } else if (v.uParam.radio.iPrecisionAudio != n->uParam.radio.iPrecisionAudio) {
            NLOG::Log(NLOG::INFO, "mrecCompruebaConfigGeneral: Cambia iPrecisionAudio %i->%i",
                      v.uParam.radio.iPrecisionAudio, n->uParam.radio.iPrecisionAudio);
            r = -1;
        }
    }
    return r;
}

int mrecCompruebaConfigRec(const cfgConfigRecurso* n) {
    static const char* const kNombres[] = {"iSelGananciaAgcTx", "iGananciaAgcTx", "iSelGananciaAgcRx",
                                           "iGananciaAgcRx", "iHaySupresionSilencio", "iTamanoRtp",
                                           "iCodecPreferido", "iBufferJitterMin", "iBufferJitterMax"};
    if (n->iTipo < 0 || n->iTipo > 6) return 0;
    const int32_t* v = gsRegistro.BloqueAudio();
    const int32_t* w = n->BloqueAudio();
    // Data resources carry only the rate in the first word.
    const int iPalabras = n->iTipo <= 3 ? 9 : 1;
    int r = 0;
    for (int i = 0; i < iPalabras; ++i) {
        if (v[i] == w[i]) continue;
        if (iPalabras == 9) NLOG::Log(NLOG::INFO, "Cambia %s %i", kNombres[i], w[i]);
        r = -2;
    }
    return r;
}

int mrecCompruebaConfigIf(const cfgConfigRecurso* n) {
    size_t n_bytes = 0;
    switch (n->iTipoIf) {
    case TIPOIF_RADIO: n_bytes = 1444; break;
    case TIPOIF_LCEN: n_bytes = 104; break;
    case TIPOIF_BC: case TIPOIF_BL: case TIPOIF_AB: case TIPOIF_EYM_PP: case TIPOIF_EYM_MARC: n_bytes = 84; break;
    case TIPOIF_ATSR2: case TIPOIF_ATSN5: n_bytes = 788; break;
    case TIPOIF_ATSQSIG: n_bytes = 8; break;
    default: return 0;
    }
    return memcmp(gsRegistro.uParam.aucBytes, n->uParam.aucBytes, n_bytes) == 0 ? 0 : -2;
}

void mrecPadreMuerto() {
    if (DameMascaraTrazaIpc() & CLASES_TODAS)
        printf("%s[%d] - A padre muerto, hijo suicida\n", gContexto.szPalabra, gContexto.iRec);
    giTermina = 1;
}

void mrecPintaEstadisticas() {
    char szNombre[sizeof gsRegistro.nombre + 1] = {};
    Bloquea();
    memcpy(szNombre, gsRegistro.nombre, sizeof gsRegistro.nombre);
    Desbloquea();
    IpcPrintf("    Recurso %s V%d.%d.%d operativo desde %s", gContexto.szPalabra, VERSION_MAYOR, VERSION_MENOR,
              VERSION_REVISION, ctime(&gtArranque));
    IpcPrintf("    Buid: %s\n", kBuild);
    IpcPrintf("   NOMBRE  %s\n", szNombre);
    gContexto.pEntidad->PintaEstado();
    IpcPrintf("\nLista de mutex bloqueados:   ");
    if (ListaMutex(1, IpcPrintf) == 0) IpcPrintf("<Ninguno>\n");
}

int mrecCompruebaHw(int iModulo) {
    if (iModulo < 0 || iModulo >= MAX_MODULOS) return 0;
    uint32_t uiId = 0;
    if (hwDimeIdHwSlot(gContexto.pEntidad->DameModulo() / 4, &uiId) < 0) {
        NLOG::Log(NLOG::ERROR, "NO se ha podido leer hwDimeIdHwSlot `iNumRecurso=%i`", gContexto.iRec);
        return 0;
    }
    const int iId = static_cast<int>(uiId);
    if (iId == gaiIdModulo[iModulo]) return 1;
    gaiIdModulo[iModulo] = iId;
    const int iIdHw = static_cast<int>((uiId >> 18) & 0x7);
    const int iTipoIf = gsRegistro.iTipoIf;
    int r;
    if ((iTipoIf >= 0 && iTipoIf <= 6) || iTipoIf == 13 || iTipoIf == 14)
        r = iIdHw == 1 ? 0 : -1;
    else if (iTipoIf == 7)
        r = iIdHw == 2 ? 0 : -1;
    else if (iTipoIf >= 8 && iTipoIf <= 11)
        r = 0;
    else
        r = -1;
    if (r != 0)
        NLOG::Log(NLOG::ERROR, "%s[%d]: HW %i no disponible o incorrecto.", gContexto.szPalabra, gContexto.iRec,
                  iModulo);
    NLOG::Log(NLOG::INFO, "%s[%d]:  SW=%d  IDHW=%d  REVHW=%d  REVFW=%d", gContexto.szPalabra, gContexto.iRec,
              static_cast<int>(uiId >> 28), iIdHw, static_cast<int>((uiId >> 16) & 0x3),
              static_cast<int>((uiId >> 21) & 0x7F));
    if (r != gaiResultadoModulo[iModulo]) {
        gaiResultadoModulo[iModulo] = r;
        if (r == 0)
            gContexto.pEntidad->ArrancaHW();
        else
            gContexto.pEntidad->FalloHw();
    }
    return 1;
}

int mrecModoPaired() { return strncmp(gsRegistro.szDestino, "PAIRED", 6) == 0 ? 4 : 2; }
