// Start-up of the core: command line and the fixed order in which the core's objects come up.
#include "mainvortik.h"

#include <fcntl.h>
#include <mcheck.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "cconfig.h"
#include "ceventosdual.h"
#include "ceventosencamina.h"
#include "ceventospasagus.h"
#include "ceventosgordos.h"
#include "ceventossuperec.h"
#include "cgescfg.h"
#include "cgestordual.h"
#include "comun/gestormutex.h"
#include "comun/hilo.h"
#include "hardware/hardware.h"
#include "ipc/cola.h"
#include "ipcvortik.h"
#include "mainparada.h"
#include "mainsenales.h"
#include "multicast.h"
#include "comun/nlog.h"
#include "comun/trazapid.h"
#include "comun/uptime.h"
#include "comun/vigilanciahilos.h"
#include "consolamirso.h"
#include "sip/cpasagus.h"
#include "sip/encaminauri.h"
#include "csuperec.h"
#include "hardware/hardware.h"
#include "ipcvortik.h"
#include "mainsenales.h"
#include "mainsupervisor.h"
#include "multicast.h"
#include "red/tcpcons.h"
#include "superdsp.h"
#include "temporizadorvortik.h"
#include "versionvortik.h"
#include "volcadocfg.h"

namespace {
// The configuration manager's copy of szDirVirtual.
char acDirVirtual[65];

// The call manager places its outgoing legs through the SIP bridge.
int LanzaPorPasaGus(int iUsuario, DatosLlamadaGestor* psDatos, int* piPuertoLocal) {
    return oPasaGus.LanzaLlamadaSip(iUsuario, psDatos, piPuertoLocal);
}
}  // namespace

int EsArgConsola(const char* texto, ArgumentosPasarela* pArgs) {
    if (std::strncmp(texto, "/CONSOLA:", 9) == 0 || std::strncmp(texto, "/consola:", 9) == 0) {
        unsigned int ui = 0;
        if (std::sscanf(texto + 9, "%x", &ui) == 1) pArgs->uiNivelConsola = ui;
        return 1;
    }
    // The whole text: "/Vx" is not the switch.
    if (std::strcmp(texto, "/V") == 0 || std::strcmp(texto, "/v") == 0) {
        pArgs->ucVersion = 1;
        return 1;
    }
    return 0;
}

void LeeArgumentos(int argc, char** argv, ArgumentosPasarela* pArgs) {
    pArgs->iTubo = -1;
    if (argc == 2) {
        if (EsArgConsola(argv[1], pArgs) == 0) pArgs->iTubo = std::atoi(argv[1]);
    } else if (argc > 2) {
        for (int i = 2; i < argc; i++) EsArgConsola(argv[i], pArgs);
    }
}

int mainInicia(uint32_t uiNivelConsola) {
    ReiniciaMemoriaSincro();
    AbreTrazaPid("/var/velkord.pid");
    TrazaPid("main", 0, "src/vortik/main");
    TrazaPid("Senales", 0, "src/vortik/main");
    IniciaGestorMutex();
    IniciaVigilanciaHilos();
    uptInicia();

    // Sized for the worst case: every supervisor holding all its guards at once, with the
    // redundancy manager's two timers (VRRP start, supervision) and the publication's ageing.
    constexpr unsigned kTemporizadores = CFG_NUM_RECURSOS * CSupervisorRecurso::MAX_GUARDAS + 2 + 1;
    poTemporizador = new CTemporizador(kTemporizadores);
    poTemporizador->Inicia(kTemporizadores);

    NLOG::Log(NLOG::INFO, "%s", kBuild);
    IpcVortik::Inicia();
    std::printf("%s   V%d.%d.%d  (Build: %s) %s\n\n", kNombreVersion, kVersionMayor, kVersionMenor, kVersionRevision,
                kBuild, "VERSION MIRSO");
    NLOG::Log(NLOG::INFO, "Vortik QLN Unificada iniciando");
    mainEscribeTubo();

    IniciaHardware();
    Cola::FijaRelojRafaga(hwRelojUs);
    NLOG::Log(NLOG::INFO, "CPU LADO %c", hwLeeLR() != 0 ? 'R' : 'I');

    oConfigPasarela.Inicia();
    CargaConfigPrueba(&oConfigPasarela);
    superecFijaConfig(&oConfigPasarela);
    sipFijaConfig(&oConfigPasarela);
    superecFijaEventos(&oEventosSuperec);
    mainEscribeTubo();

    const int iModo = oConfigPasarela.iCfgModoSistema;
    oGestorLlamada.FijaLanzador(LanzaPorPasaGus);
    // Before the supervisors: their first registration starts the SIP user agent.
    oPasaGus.Inicia(iModo == 0 ? &oGestorLlamada : nullptr, &oEventosPasaGus);
    for (int i = 0; i < CFG_NUM_RECURSOS; i++)
        aoSupervisorRecurso[i].Inicia(i, &oPasaGus, iModo == 0 ? &oGestorLlamada : nullptr);
    mainEscribeTubo();

    if (oGestorCfg.Inicia(&oConfigPasarela, acDirVirtual, &oEventosGordos) != 0) {
        std::printf("MAIN: No se puede iniciar el gestor de configuracion.\n");
        NLOG::Log(NLOG::ERROR, "MAIN: No se puede iniciar el gestor de configuracion.");
        return -1;
    }
    if (oConfigPasarela.iCfgModoSistema == 0) {
        ArrancaMulticast();
        mainEscribeTubo();
    }
    CSuperDsp::Inicia();
    mainEscribeTubo();

    int iNivel, iPuerto;
    {
        cfgCerrojo cerrojo(&oConfigPasarela.tMutex);
        if (uiNivelConsola != 0) oConfigPasarela.iNivelConsola = static_cast<int32_t>(uiNivelConsola);
        iNivel = oConfigPasarela.iNivelConsola;
        iPuerto = oConfigPasarela.iPuertoConsola;
    }
    if (iPuerto != kPuertoConsola) {
        NLOG::Log(NLOG::INFO, "MAIN: Puerto consola %d - cambiado a %i", iPuerto, kPuertoConsola);
        iPuerto = kPuertoConsola;
    }
    // The loop starts the console thread too, once a retry opens the TCP console.
    mainFijaArrancaConsola(ArrancaConsola);
    const int r = tcpcInicia(iPuerto);
    if (r != 0) {
        giEstadoConsola = 1;
        NLOG::Log(NLOG::INFO, "MAIN-%s: Error %d en tcpcInicia(%d)", kNombreVersion, r, iPuerto);
    } else {
        giEstadoConsola = 2;
        TcpCons::FijaMascaraTraza(static_cast<uint32_t>(iNivel));
        NLOG::Log(NLOG::INFO, "MAIN: Consola en el puerto %d con nivel %x\n", iPuerto, iNivel);
        ArrancaConsola();
    }

    char acNombre[65];
    int iDual;
    {
        cfgCerrojo cerrojo(&oConfigPasarela.tMutex);
        std::snprintf(acNombre, sizeof acNombre, "%.64s", oConfigPasarela.szNombre);
        iDual = oConfigPasarela.iDual;
    }
    std::printf(" INICIA szNombre=%s\n", acNombre);
    if (iDual != 1 && oConfigPasarela.iCfgModoSistema == 0)
        for (auto& s : aoSupervisorRecurso) s.PasoaPrincipal();
    oGestorDual.Inicia(&oEventosDual, acNombre, iDual);
    oGestorLlamada.Inicia(&oEventosEncamina);
    NLOG::Log(NLOG::INFO, "Vortik QLN arrancado");
    return 0;
}

int mainVelkord(int argc, char** argv) {
    mtrace();
    ArgumentosPasarela sArgs;
    LeeArgumentos(argc, argv, &sArgs);
    if (sArgs.ucVersion) {
        std::printf(" %s   V%d.%d.%d (%s)\n", kNombreVersion, kVersionMayor, kVersionMenor, kVersionRevision, kBuild);
        return -1;
    }
    mainFijaTubo(sArgs.iTubo);
    // The children must not inherit the parent's watchdog pipe.
    if (sArgs.iTubo >= 0) fcntl(sArgs.iTubo, F_SETFD, FD_CLOEXEC);

    pObjetoLog = new CIniciaLog("_pelm.log");
    NLOG::Log(NLOG::INFO, "ARRANQUE VORTIK");
    const AccionesSenales sAcciones = {mainParar, mainPideRol};
    mainInstalaSenales(&sAcciones);
    tArranque = std::time(nullptr);
    FijaPrioridadHilo(1);
    if (mainInicia(sArgs.uiNivelConsola) != 0) {
        // Status 0 as the start-up has it, without destroying globals under running threads.
        std::fflush(stdout);
        _exit(0);
    }
    mainEscribeTubo();
    for (auto& s : aoSupervisorRecurso) s.RefrescaEstado();
    MainSupervisorLento();
    mainDetienePlaca();
    std::fflush(stdout);
    // A stop asked for (console, configuration agent, SIGINT/SIGTERM) is a success; one that a
    // fault asked for is not.
    const int iEstado = mainEstadoSalida();
#if defined(__SANITIZE_ADDRESS__)
    // Tests of the sanitizer build may end the core through main, so that LeakSanitizer looks at
    // it. exit() then destroys nothing the threads still running use: the process-wide objects
    // are never destroyed.
    if (std::getenv("VK_SALIDA_LIMPIA") != nullptr) return iEstado;
#endif
    // Not through exit(): threads that are still running use the globals until the end.
    _exit(iEstado);
}
