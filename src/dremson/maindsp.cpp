// dremson: the DSP service. Started by the core as "dremson <trace mask> <core id>" (a third
// argument, when present, is a descriptor of the core's watchdog that receives the liveness
// byte); "dremson /MENU" runs it stand-alone with its console on the standard streams.
#include <fcntl.h>
#include <mcheck.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "comun/hilo.h"
#include "comun/nlog.h"
#include "consoladsp.h"
#include "ipcdremson.h"
#include "procesodsp.h"
#include "red/tcpcons.h"

namespace {
constexpr int PUERTO_CONSOLA = 19720;

void IgnoraSenal(int) {}

// Only a descriptor above the standard streams, open and handed over on purpose.
int DescriptorVivo(const char* sz) {
    char* pFin = nullptr;
    long l = std::strtol(sz, &pFin, 10);
    if (*sz == '\0' || *pFin != '\0' || l <= 2 || l > 65535) return -1;
    int iFd = static_cast<int>(l);
    if (fcntl(iFd, F_GETFD) < 0) return -1;
    fcntl(iFd, F_SETFD, FD_CLOEXEC);
    return iFd;
}
}  // namespace

int main(int argc, char** argv) {
    mtrace();
    // Whole lines on the standard output even when it is a file (the core's, a console).
    setvbuf(stdout, nullptr, _IOLBF, 0);
    FijaPrioridadHilo(1);
    if (argc < 2) {
        std::printf(" %s     V%d.%d.%d  (%s)\n", NOMBRE_DREMSON, VERSION_DREMSON[0], VERSION_DREMSON[1],
                    VERSION_DREMSON[2], BUILD_DREMSON);
        return 1;
    }
    const bool bMenu = std::strncmp(argv[1], "/MENU", 5) == 0 || std::strncmp(argv[1], "/menu", 5) == 0;
    if (argc == 2 && !bMenu) return 0;

    struct sigaction sa {};
    sa.sa_handler = IgnoraSenal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGALRM, &sa, nullptr);
    sigaction(SIGUSR1, &sa, nullptr);
    // A console client or watchdog that goes away must not end the service.
    signal(SIGPIPE, SIG_IGN);
    EntregaContextoDsp();

    if (bMenu) {
        ArrancaServicios();
        ArrancaConsolaDsp();
        BuclePrincipalDsp();
        std::fflush(stdout);
        std::_Exit(0);
    }

    DspFijaNivelConsola(static_cast<uint32_t>(std::atoi(argv[1])));
    const int iPidNucleo = std::atoi(argv[2]);
    if (iPidNucleo < 0) {
        std::printf("Error en datos de arranque. PID_VORTIK=%d\n", iPidNucleo);
        return -1;
    }
    if (argc > 3) FijaDescriptorVivo(DescriptorVivo(argv[3]));
    pObjetoLog = new CIniciaLog("_dsp.log");
    NLOG::Log(NLOG::INFO, "ARRANQUE Servidor DSP");
    CreaCanalPadre(iPidNucleo);
    ArrancaServicios();
    if (TcpCons::Inicia(PUERTO_CONSOLA) == 0) TcpCons::FijaMascaraTraza(0xFFFF);
    if (EsperaPrimerRecurso()) {
        ArrancaConsolaDsp();
        BuclePrincipalDsp();
    }
    std::printf("DREMSON: Saliendo\n");
    std::fflush(stdout);
    NLOG::Log(NLOG::INFO, "DREMSON: Saliendo");
    CierraCanalPadre();
    // The DSP threads never end: leave without running the destructors they still use.
    std::_Exit(0);
}
