// State shared by the two halves of the hardware layer (board and line modules/audio).
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>

#include "hardware/cdispositivos.h"

class CComeventos;
class CTemporizador;

namespace hwint {

constexpr int NUM_ENTRADAS = 16;
constexpr int NUM_MODULOS = 16;
constexpr int NUM_CANALES_PCM = 64;
constexpr uint32_t TIPO_PLACA_10000 = 0x10000;
constexpr uint32_t TIPO_PLACA_1400000 = 0x1400000;

struct Entrada {
    int iValor;
    bool bCambiada;
    CComeventos* pManejador;
};

struct ModuloSlic {
    std::atomic<int> iFd{-1};
    int iModo = -1;
    std::atomic<int> iIniciado{0};
    int iEstado = 0;
    int iCambios = 0;
    int iTimeslot = -1;
    int iCodec = 8;
    // The gains and the muting are set by the entity's configuration and by its state
    // publication, on different threads.
    std::atomic<int> iGananciaTx{0};
    std::atomic<int> iGananciaRx{0};
    int iFiltro = 2;
    int iModoConfigurado = 0;
    std::atomic<int> iRxSilenciado{0};
    CComeventos* pManejador = nullptr;
    int iRanura = -1;
    CTemporizador* pTemporizador = nullptr;
    int p2 = 0, p3 = 0, p4 = 0;
};

struct EstadoHw {
    EstadoHw() {
        for (auto& f : aiFdPcm) f = -1;
    }
    std::atomic<int> iIniciado{0};
    std::atomic<int> iFdDiscretas{-1};
    std::atomic<int> iFdRtimer{-1};
    uint32_t uiTipoPlaca = 0;
    uint32_t uiDivisorRtimer = 0;
    Entrada asBanco1[NUM_ENTRADAS] = {};
    Entrada asBanco2[NUM_ENTRADAS] = {};
    pthread_mutex_t tMutex = PTHREAD_MUTEX_INITIALIZER;  // handler registration, debounce timers
    ModuloSlic asModulos[NUM_MODULOS];
    std::atomic<int> iModuloSupervisado{-1};
    bool bSupervisorSlic = false;
    std::atomic<int> aiFdPcm[NUM_CANALES_PCM];
};

EstadoHw& Hw();
inline CDispositivos& Disp() { return DameDispositivos(); }
inline bool Iniciado() { return Hw().iIniciado.load() != 0; }

// One request on a descriptor; the value read (bit 31 included), or -1 when refused.
int32_t Pide(int iFd, uint32_t uiCodigo, uint32_t uiValor = 0);
// As Pide, but tells a refusal apart from a value: 0 or -1.
int PideR(int iFd, uint32_t uiCodigo, uint32_t uiValor, uint32_t* puiResultado);
// Plain write request: 0, or -7 when the driver refuses it or answers a negative result.
int PideEscritura(int iFd, uint32_t uiCodigo, uint32_t uiValor);

// Clears the line-module and audio tables (start-up).
void ReiniciaTablasLinea();

// Waits of the layer in microseconds; tests shorten them.
void Espera(uint32_t uiMicros);

}  // namespace hwint

// Test hook: replaces how the layer waits (start-up delays of the supervisors, retries).
typedef void (*FnEsperaHw)(uint32_t uiMicros);
void hwFijaEspera(FnEsperaHw pFuncion);
