#include "procesodsp.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>

#include "comun/gestormutex.h"
#include "comun/hilo.h"
#include "comun/nlog.h"
#include "comun/trazapid.h"
#include "comun/uptime.h"
#include "comun/vigilanciahilos.h"
#include "consoladsp.h"
#include "contextodsp.h"
#include "cserviciosdsp.h"
#include "hardware/hardware.h"
#include "ipcdremson.h"

namespace {
constexpr unsigned int PASO_ESPERA_MS = 1000;
constexpr unsigned int PASO_BUCLE_MS = 2000;
constexpr unsigned int TROZO_SUENO_MS = 100;
constexpr int32_t TICKS_COMPROBACION = 2000;  // board ticks of 10 ms: 20 s
constexpr int GRUPO_SLOTS_DSP = 3;
constexpr int SLOT_DSP = 3;
constexpr int PCM_DSP = 62;
constexpr int PCM_AUX_DSP = 63;

std::atomic<int> giSalir{0};
std::atomic<int> giArranque{0};
std::atomic<int> giFdVivo{-1};

// Sleeps up to ms, waking early when the exit flag is set.
void Duerme(unsigned int uiMs) {
    for (unsigned int t = 0; t < uiMs && !giSalir; t += TROZO_SUENO_MS) DuermeMs(TROZO_SUENO_MS);
}

void CanalRecursoCreado() { giArranque = 1; }

void PadreMuerto(int32_t) {
    if (DspNivelConsola() & 0xFFFF) std::printf("DREMSON - A padre muerto, hijo suicida\n");
    NLOG::Log(NLOG::ERROR, "DREMSON - A padre muerto, hijo suicida");
    giSalir = 1;
}

void PideSalida() { giSalir = 1; }
bool SalidaPedida() { return giSalir != 0; }
}  // namespace

// Never destroyed: its threads run until the process ends.
CServiciosDsp& oDremson = *new CServiciosDsp;

void EntregaContextoDsp() {
    static const ContextoDsp kContexto = {&oDremson, CanalRecursoCreado, PadreMuerto, PideSalida, SalidaPedida};
    oDremson.FijaAvisoEstado(DspEnviaEstadoDsp);
    IpcDremson::FijaContexto(&kContexto);
    FijaContextoConsolaDsp(&kContexto);
}

void FijaDescriptorVivo(int iFd) { giFdVivo = iFd; }

void ArrancaServicios() {
    AbreTrazaPid("/var/dremson.pid");
    TrazaPid("maindsp", 0, "src/dremson/maindsp");
    IniciaVigilanciaHilos();
    uptInicia();
    std::printf("%s V.%d.%d.%d   (Build:%s)\n\n", NOMBRE_DREMSON, VERSION_DREMSON[0], VERSION_DREMSON[1],
                VERSION_DREMSON[2], BUILD_DREMSON);
    if (IniciaHardware() != 0) NLOG::Log(NLOG::ERROR, "DREMSON: no se puede iniciar el hardware");
    IniciaMutexConsolaDsp();
    IpcDremson::Inicia();
    hwDesconectaGrupoSlots(GRUPO_SLOTS_DSP);
    std::printf("DREMSON: Configurado slot %d  para DSP%d\n", SLOT_DSP, 0);
    std::fflush(stdout);
    int r = oDremson.NuevoDsp(SLOT_DSP, PCM_DSP, PCM_AUX_DSP);
    // The service runs on: every DSP request then answers that there is no DSP.
    if (r != 0) NLOG::Log(NLOG::ERROR, "DREMSON: NuevoDsp = %d", r);
}

bool EsperaPrimerRecurso() {
    giSalir = 0;
    while (!giArranque && !giSalir) {
        DspEnviaSinConfig();
        DuermeMs(PASO_ESPERA_MS);
        // A core that dies now must not leave this service driving the DSP beside the
        // service its successor starts.
        IpcDremson::TemporizaPadre();
    }
    return !giSalir;
}

void BuclePrincipalDsp() {
    giSalir = 0;
    uint32_t t0 = hwDameTiempo();
    bool bFrescos = false;
    while (!giSalir) {
        Duerme(PASO_BUCLE_MS);
        if (giSalir) break;
        IpcDremson::Temporiza();
        if (giSalir) break;
        uint32_t t = hwDameTiempo();
        if (static_cast<int32_t>(t - t0 - TICKS_COMPROBACION) >= 0) {
            t0 = t;
            if (CompruebaHilos(t0) == 0) {
                PintaHilosSinRefrescar(0);
                bFrescos = false;
            } else {
                bFrescos = true;
            }
        }
        int iFd = giFdVivo;
        if (iFd >= 0 && bFrescos) {
            const uint8_t uc = 0;
            if (write(iFd, &uc, 1) != 1) {
                // A watchdog that went away stays gone: one line, no byte any more.
                NLOG::Log(NLOG::ERROR, "DREMSON: no se puede escribir el byte de vida en %d", iFd);
                giFdVivo = -1;
            }
        }
    }
}
