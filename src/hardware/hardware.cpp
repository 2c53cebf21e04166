// Hardware layer, board half: set-up, clocks, identity and status, discrete outputs, switch
// points and audio slots, compression outputs and discrete inputs on /dev/esdiscretas.
#include "hardware/hardware.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

#include "comun/ganchosipc.h"
#include "comun/gestormutex.h"
#include "hardware/ccomeventos.h"
#include "hardware/hwcodigos.h"
#include "hardware/hwinterno.h"
#include "comun/nlog.h"
#include "comun/hilo.h"
#include "comun/tiempo.h"
#include "comun/trazapid.h"

using namespace hwint;
using namespace hwcod;

namespace hwint {

EstadoHw& Hw() {
    static EstadoHw* p = new EstadoHw();  // threads may still use it during exit
    return *p;
}

int PideR(int iFd, uint32_t uiCodigo, uint32_t uiValor, uint32_t* puiResultado) {
    if (iFd < 0) return -1;
    return Disp().Peticion(iFd, uiCodigo, uiValor, puiResultado);
}

int32_t Pide(int iFd, uint32_t uiCodigo, uint32_t uiValor) {
    uint32_t uiRes = 0;
    if (PideR(iFd, uiCodigo, uiValor, &uiRes) < 0) return -1;
    return static_cast<int32_t>(uiRes);
}

int PideEscritura(int iFd, uint32_t uiCodigo, uint32_t uiValor) {
    uint32_t uiRes = 0;
    if (PideR(iFd, uiCodigo, uiValor, &uiRes) < 0 || static_cast<int32_t>(uiRes) < 0) return -7;
    return 0;
}

static void EsperaReal(uint32_t uiMicros) {
    timespec t{static_cast<time_t>(uiMicros / 1000000), static_cast<long>(uiMicros % 1000000) * 1000};
    while (nanosleep(&t, &t) < 0 && errno == EINTR) {
    }
}

static std::atomic<FnEsperaHw> pEspera{EsperaReal};

void Espera(uint32_t uiMicros) { pEspera.load()(uiMicros); }

}  // namespace hwint

void hwFijaEspera(FnEsperaHw pFuncion) { pEspera = pFuncion ? pFuncion : EsperaReal; }

namespace {

const char* const DEV_DISCRETAS = "/dev/esdiscretas";
const char* const DEV_RTIMER = "/dev/rtimer";

int FdDiscretas() { return Hw().iFdDiscretas.load(); }

int Escribe(uint32_t uiCodigo, uint32_t uiValor) { return PideEscritura(FdDiscretas(), uiCodigo, uiValor); }

void AvisoSinReloj() {
    static std::atomic<bool> bAvisado{false};
    if (!bAvisado.exchange(true))
        NLOG::Log(NLOG::ERROR, "hardware: reloj de placa no disponible: %s o %s sin abrir (IniciaHardware)",
                  DEV_DISCRETAS, DEV_RTIMER);
}

// Only async-signal-safe calls here: a fixed text through write(2).
void ManejadorSigbus(int) {
    static const char kTexto[] = " >>>> Atencion a la senal Tack error \n";
    ssize_t n = ::write(STDERR_FILENO, kTexto, sizeof(kTexto) - 1);
    (void)n;
}

// Stores a level read; true when it changed.
bool GuardaNivel(Entrada& e, int iValor) {
    if (e.iValor == iValor) return false;
    e.iValor = iValor;
    e.bCambiada = true;
    return true;
}

int LeeEntrada(int iIndice) { return Pide(FdDiscretas(), E3_ENTRADA, static_cast<uint32_t>(iIndice)); }

int NotificaBanco1(CComeventos* p, int iNivel) {
    if (!p) return -1;
    return iNivel ? p->EvtSquelchOn() : p->EvtSquelchOff();
}

int NotificaBanco2(CComeventos* p, int iNivel) {
    if (!p) return -1;
    return iNivel ? p->EvtEntradaActiva() : p->EvtEntradaInactiva();
}

}  // namespace

int IniciaHardware() {
    static std::mutex tInicio;  // one set-up per process even when two threads race
    std::lock_guard<std::mutex> l(tInicio);
    EstadoHw& hw = Hw();
    if (hw.iIniciado) return 0;

    CDispositivos& d = Disp();
    if (hw.iFdDiscretas < 0) {
        int fd = d.Abre(DEV_DISCRETAS, O_RDWR);
        if (fd < 0) {
            int e = errno;
            NLOG::Log(NLOG::ERROR, "Error abre esdiscretas");
            if (d.EsSimulada())
                NLOG::Log(NLOG::ERROR, "hardware: la placa simulada (%s) no responde: %s", VK_SIMBOARD, strerror(e));
            else
                NLOG::Log(NLOG::ERROR, "hardware: sin hardware: %s: %s y %s no fijado", DEV_DISCRETAS, strerror(e),
                          VK_SIMBOARD);
            return -1;
        }
        hw.iFdDiscretas = fd;
    }
    int fd = hw.iFdDiscretas;

    hw.uiTipoPlaca = static_cast<uint32_t>(Pide(fd, E11_TIPO));
    IpcTraza(CLASE_TRAZA_DEBUG, "----------------------------------------Version HW  %X\n", hw.uiTipoPlaca);
    Pide(fd, E6);

    int fdR = d.Abre(DEV_RTIMER, O_RDWR);
    if (fdR >= 0) {
        hw.uiDivisorRtimer = static_cast<uint32_t>(Pide(fdR, R1_DIVISOR));
        hw.iFdRtimer = fdR;
    }

    ReiniciaTablasLinea();
    for (int k = 0; k < NUM_ENTRADAS; k++) {
        hw.asBanco1[k] = Entrada{0, false, nullptr};
        hw.asBanco2[k] = Entrada{0, false, nullptr};
    }
    for (int k = 0; k < NUM_ENTRADAS; k++) GuardaNivel(hw.asBanco1[k], LeeEntrada(k));
    if (hw.uiTipoPlaca == TIPO_PLACA_1400000)
        for (int k = 0; k < NUM_ENTRADAS; k++) GuardaNivel(hw.asBanco2[k], LeeEntrada(16 + k));

    CreaMutex("Hardware::tMutex", &hw.tMutex, nullptr);

    struct sigaction sa {};
    sa.sa_handler = ManejadorSigbus;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGBUS, &sa, nullptr);

    hw.iIniciado = 1;
    NLOG::Log(NLOG::INFO, "hardware.c iniciado");
    return 0;
}

uint32_t hwDameTiempo() {
    uint32_t uiTicks = 0;
    if (PideR(FdDiscretas(), E7_TIEMPO, 0, &uiTicks) < 0) {
        AvisoSinReloj();
        return 0xFFFFFFFFu;
    }
    return uiTicks;
}

uint32_t hwDameTiempoMs() {
    EstadoHw& hw = Hw();
    uint32_t uiCuenta = 0;
    if (hw.uiDivisorRtimer == 0 || PideR(hw.iFdRtimer, R0_CUENTA, 0, &uiCuenta) < 0) {
        AvisoSinReloj();
        return 0xFFFFFFFFu;
    }
    // 65535 x 1,000,000 does not fit in 32 bits: compute in 64.
    uint64_t ullMicros = static_cast<uint64_t>(65535u - (uiCuenta & 0xFFFFu)) * 1000000u / hw.uiDivisorRtimer;
    return static_cast<uint32_t>(ullMicros);
}

uint32_t hwRelojUs() {
    uint32_t uiMicros = hwDameTiempoMs();
    return uiMicros != 0xFFFFFFFFu ? uiMicros : MicrosMonotonicos();
}

int hwEscribeRtimer(int iValor) {
    int fd = Hw().iFdRtimer;
    if (fd < 0) return -1;
    return Pide(fd, R3, static_cast<uint32_t>(iValor));
}

int hwLeeEstado() { return Iniciado() ? Pide(FdDiscretas(), E0_ESTADO) : -1; }

int hwDimeHwOk() {
    if (!Iniciado()) return -1;
    int e = Pide(FdDiscretas(), E0_ESTADO);
    return (e != -1 && (e & 0x4)) ? 1 : 0;
}

int hwHaySlic() {
    if (!Iniciado()) return -1;
    int e = Pide(FdDiscretas(), E0_ESTADO);
    if (e == -1) return -1;
    return (e & 0x1) ? 0 : 1;
}

int hwLeeEstadoFA() { return Iniciado() ? Pide(FdDiscretas(), E15_ESTADO_FA) : -1; }

int hwLeeModoSlots() { return Iniciado() ? Pide(FdDiscretas(), E14_MODO_SLOTS) : -1; }

int hwDameTipoHw() { return Iniciado() ? static_cast<int>(Hw().uiTipoPlaca) : -1; }

int hwLeeLR() {
    EstadoHw& hw = Hw();
    if (hw.iFdDiscretas < 0) {
        int fd = Disp().Abre(DEV_DISCRETAS, O_RDWR);
        if (fd < 0) {
            NLOG::Log(NLOG::ERROR, "Error abre esdiscretas");
            return -1;
        }
        int iEsperado = -1;
        if (!hw.iFdDiscretas.compare_exchange_strong(iEsperado, fd)) Disp().Cierra(fd);
    }
    int iLado = Pide(FdDiscretas(), E16_LADO);
    NLOG::Log(NLOG::INFO, "hwLeeLR: lado %i", iLado);
    return iLado;
}

int hwDimePresenciaModulo(int iModulo) {
    if (!Iniciado()) return -1;
    if (iModulo < 0 || iModulo > 3) return 0;
    if (Hw().uiTipoPlaca != TIPO_PLACA_10000) return 1;
    return LeeEntrada(128 + 4 * iModulo) == 0 ? 1 : 0;
}

int hwDimeIdHwSlot(int iSlot, uint32_t* puiPalabra) {
    if (!Iniciado() || iSlot < 0 || iSlot > 3 || !puiPalabra) return -1;
    int fd = FdDiscretas();
    uint32_t e8 = static_cast<uint32_t>(Pide(fd, E8_ID_SLOT, static_cast<uint32_t>(iSlot)));
    uint32_t uiPalabra;
    if (Hw().uiTipoPlaca == TIPO_PLACA_1400000) {
        uiPalabra = e8;
    } else {
        uint32_t a = (e8 >> 26) & 0x7;
        uint32_t b = (e8 >> 29) & 0x7;
        uint32_t e12 = static_cast<uint32_t>(Pide(fd, E12_ID_SLOT2, static_cast<uint32_t>(iSlot)));
        uiPalabra = (e12 & 0xF0000000u) | (b << 21) | (a << 18) | ((a & 0x3) << 16);
    }
    *puiPalabra = uiPalabra;
    return static_cast<int>(uiPalabra >> 16);
}

// ---- Outputs -----------------------------------------------------------------------------

namespace {
bool CanalSalidaValido(int iCanal) { return Iniciado() && iCanal >= 0 && iCanal < 16; }
int SalidaCanal(int iCanal) { return Hw().uiTipoPlaca == TIPO_PLACA_10000 ? iCanal : 32 + iCanal; }
const int kPuntosEntorno[] = {1, 5, 9, 13};
const int kSalidasEntorno[] = {209, 213, 217, 221};
}  // namespace

void hwActivaSalidaCanal(int iCanal) {
    if (CanalSalidaValido(iCanal)) Escribe(S3_ACTIVA, static_cast<uint32_t>(SalidaCanal(iCanal)));
}

void hwDesactivaSalidaCanal(int iCanal) {
    if (CanalSalidaValido(iCanal)) Escribe(S4_DESACTIVA, static_cast<uint32_t>(SalidaCanal(iCanal)));
}

void hwFijaSalidaCanal(int iCanal, int iActiva) {
    if (!CanalSalidaValido(iCanal) || Hw().uiTipoPlaca != TIPO_PLACA_1400000) return;
    Escribe(iActiva ? S3_ACTIVA : S4_DESACTIVA, static_cast<uint32_t>(iCanal));
}

void hwFijaSalidaCanalB(int iCanal, int iActiva) {
    if (!CanalSalidaValido(iCanal) || Hw().uiTipoPlaca != TIPO_PLACA_1400000) return;
    Escribe(iActiva ? S3_ACTIVA : S4_DESACTIVA, static_cast<uint32_t>(16 + iCanal));
}

void hwConectaEntorno() {
    if (!Iniciado() || Hw().uiTipoPlaca != TIPO_PLACA_10000) return;
    Escribe(S19_ENTORNO, 1);
    for (int p : kPuntosEntorno) Escribe(S1_CONECTA, static_cast<uint32_t>(p));
    for (int s : kSalidasEntorno) Escribe(S3_ACTIVA, static_cast<uint32_t>(s));
}

void hwDesconectaEntorno() {
    if (!Iniciado() || Hw().uiTipoPlaca != TIPO_PLACA_10000) return;
    Escribe(S19_ENTORNO, 0);
    for (int p : kPuntosEntorno) Escribe(S2_DESCONECTA, static_cast<uint32_t>(p));
    for (int s : kSalidasEntorno) Escribe(S4_DESACTIVA, static_cast<uint32_t>(s));
}

namespace {
void Led(int iLed, uint32_t uiValor) {
    if (!Iniciado()) return;
    switch (iLed) {
        case 0: Escribe(S13_LED0, uiValor); break;
        case 1: Escribe(S0_LED1, uiValor); break;
        case 2: Escribe(S14_LED2, uiValor); break;
        default: break;
    }
}
}  // namespace

void hwEnciendeLed(int iLed) { Led(iLed, 9); }
void hwApagaLed(int iLed) { Led(iLed, 0); }

int hwResetDspForzado() {
    if (!Iniciado()) return -1;
    if (Escribe(E16_RESET_DSP, 0) == 0) Escribe(E16_RESET_DSP, 1);
    return 0;
}

int hwResetDsp() {
    if (!Iniciado()) return -1;
    int e = Pide(FdDiscretas(), E0_ESTADO);
    if (e == -1 || (e & 0x1)) return -1;
    return hwResetDspForzado();
}

// ---- Switch points and audio slots --------------------------------------------------------

namespace {
int PuntoConmutacion(uint32_t uiCodigo, int i) {
    if (!Iniciado()) return -1;
    if (i < 0 || i > 15) return -2;
    return Escribe(uiCodigo, static_cast<uint32_t>(i));
}

int GrupoSlots(uint32_t uiCodigo, int g) {
    if (!Iniciado()) return -1;
    if (g < 0 || g > 3) return -5;
    for (int i = 0; i < 4; i++) Escribe(uiCodigo, static_cast<uint32_t>(4 * g + i));
    return 0;
}

bool SlotAudioValido(int iSlot) { return Iniciado() && iSlot >= 0 && iSlot < 64; }
}  // namespace

int hwConectaSlot(int i) { return PuntoConmutacion(S1_CONECTA, i); }
int hwDesconectaSlot(int i) { return PuntoConmutacion(S2_DESCONECTA, i); }
int hwEscribeIndiceE10(int i) { return PuntoConmutacion(E10_INDICE, i); }
int hwConectaGrupoSlots(int g) { return GrupoSlots(S1_CONECTA, g); }
int hwDesconectaGrupoSlots(int g) { return GrupoSlots(S2_DESCONECTA, g); }

int hwHabilitaTxCanalAudio(int iSlot) {
    if (!SlotAudioValido(iSlot)) return -1;
    if (Escribe(S8_TX_ON, static_cast<uint32_t>(iSlot)) < 0) return -7;
    IpcTraza(CLASE_TRAZA_DEBUG, "HABILITANDO SLOT CANAL AUDIO:%d i##################\n", iSlot);
    return 0;
}

int hwDesabilitaTxCanalAudio(int iSlot) {
    if (!SlotAudioValido(iSlot)) return -1;
    IpcTraza(CLASE_TRAZA_DEBUG, "DESHABILITANDO SLOT CANAL AUDIO:%d i##################\n", iSlot);
    if (Escribe(S9_TX_OFF, static_cast<uint32_t>(iSlot)) < 0) {
        IpcTraza(CLASE_TRAZA_DEBUG, "DESHABILITANDO SLOT CANAL AUDIO:%d i##################\n", iSlot);
        return -7;
    }
    IpcTraza(CLASE_TRAZA_DEBUG, "DESHABILITADO SLOT CANAL AUDIO:%d i##################\n", iSlot);
    return 0;
}

int hwHabilitaRxCanalAudio(int iSlot) {
    if (!SlotAudioValido(iSlot)) return -1;
    return Escribe(S17_RX_ON, static_cast<uint32_t>(iSlot));
}

int hwDesabilitaRxCanalAudio(int iSlot) {
    if (!SlotAudioValido(iSlot)) return -1;
    if (Pide(FdDiscretas(), E14_MODO_SLOTS) != 0x200000) return 0;
    IpcTraza(CLASE_TRAZA_DEBUG, "DESHABILITANDO RX SLOT CANAL AUDIO:%d i##################\n", iSlot);
    if (Escribe(S18_RX_OFF, static_cast<uint32_t>(iSlot)) < 0) {
        IpcTraza(CLASE_TRAZA_DEBUG, "DESHABILITANDO RX SLOT CANAL AUDIO:%d i##################\n", iSlot);
        return -7;
    }
    IpcTraza(CLASE_TRAZA_DEBUG, "DESHABILITADO SLOT CANAL AUDIO:%d i##################\n", iSlot);
    return 0;
}

// ---- Compression of channel B ------------------------------------------------------------

namespace {
const int kSalidasCompresion[24] = {48, 49, 52, 53, 56, 57, 60, 61, 64, 65, 68, 69,
                                    72, 73, 76, 77, 32, 33, 36, 37, 40, 41, 44, 45};

// Output of the compression table, or the error code of a bad argument.
int SalidaCompresion(int a, int c, int b, int* piIndice) {
    if (!Iniciado()) return -1;
    if (a < 0 || a > 3) return -5;
    if (c < 0 || c > 1) return -8;
    if (b < 0 || b > 2) return -9;
    *piIndice = (b * 4 + a) * 2 + c;
    return kSalidasCompresion[*piIndice];
}
}  // namespace

int hwHabilitaCompresion_CanalB(int a, int c, int b) {
    int iIndice = 0;
    int iSalida = SalidaCompresion(a, c, b, &iIndice);
    if (iSalida < 0) return iSalida;
    IpcTraza(CLASE_TRAZA_DEBUG, " indice E/S = %i\n", iSalida);
    Escribe(S4_DESACTIVA, static_cast<uint32_t>(iSalida));
    return 0;
}

int hwDeshabilitaCompresion_CanalB(int a, int c, int b) {
    int iIndice = 0;
    int iSalida = SalidaCompresion(a, c, b, &iIndice);
    if (iSalida < 0) return iSalida;
    IpcTraza(CLASE_TRAZA_DEBUG, " hwDeshabilitaCompresion_CanalB indice E/S = %i\n", iSalida);
    uint32_t uiRes = 0;
    if (PideR(FdDiscretas(), S3_ACTIVA, static_cast<uint32_t>(iSalida), &uiRes) < 0)
        IpcTraza(CLASE_TRAZA_DEBUG, " ERROR hwDeshabilitaCompresion_CanalB error=%i indice= %i valor= %i\n", errno,
                 iSalida, iIndice);
    else
        IpcTraza(CLASE_TRAZA_DEBUG, " hwDeshabilitaCompresion_CanalB indice= %i valor= %i\n", iSalida,
                 static_cast<int>(uiRes));
    return 0;
}

// ---- Discrete inputs ---------------------------------------------------------------------

int hwRegistraEventosEntrada(int iEntrada, CComeventos* pObjeto) {
    if (!Iniciado()) return -1;
    if (!pObjeto) return -6;
    if (iEntrada < 0 || iEntrada >= NUM_ENTRADAS) return -2;
    EstadoHw& hw = Hw();
    pthread_mutex_lock(&hw.tMutex);
    hw.asBanco1[iEntrada].pManejador = pObjeto;
    hw.asBanco2[iEntrada].pManejador = pObjeto;
    hw.asBanco1[iEntrada].bCambiada = true;  // the next pass reports the current level
    pthread_mutex_unlock(&hw.tMutex);
    return 0;
}

int hwCompruebaEntrada(int iEntrada, int iForzar) {
    if (!Iniciado()) return -1;
    if (iEntrada < 0 || iEntrada >= NUM_ENTRADAS) return -2;
    EstadoHw& hw = Hw();
    Entrada& e = hw.asBanco1[iEntrada];
    pthread_mutex_lock(&hw.tMutex);
    CComeventos* p = e.pManejador;
    pthread_mutex_unlock(&hw.tMutex);
    if (!p) return 0;
    int iLeido = LeeEntrada(iEntrada);
    if (iLeido == -1 && !iForzar) return 0;  // unreadable: keep the last level
    int iNivel = iForzar ? 1 : iLeido;
    pthread_mutex_lock(&hw.tMutex);
    bool bNotifica = iNivel != e.iValor || e.bCambiada;
    if (bNotifica) {
        e.iValor = iNivel;
        e.bCambiada = false;
    }
    pthread_mutex_unlock(&hw.tMutex);
    return bNotifica ? NotificaBanco1(p, iNivel) : 0;
}

int hwMarcaEntrada(int iEntrada) {
    if (!Iniciado()) return -1;
    if (iEntrada < 0 || iEntrada >= NUM_ENTRADAS) return -2;
    EstadoHw& hw = Hw();
    pthread_mutex_lock(&hw.tMutex);
    hw.asBanco1[iEntrada].bCambiada = true;
    pthread_mutex_unlock(&hw.tMutex);
    return 0;
}

namespace {
volatile sig_atomic_t iSenalEntradas = 0;
volatile sig_atomic_t iSenalReleer = 0;
void ManejadorSigio(int) { iSenalEntradas = 1; }
void ManejadorSigusr1(int) { iSenalReleer = 1; }

// Notifies one bank-1 entry; the changed flag stays set while nobody took the event.
void PasaEntradaBanco1(int k) {
    EstadoHw& hw = Hw();
    pthread_mutex_lock(&hw.tMutex);
    CComeventos* p = hw.asBanco1[k].pManejador;
    int iNivel = hw.asBanco1[k].iValor;
    pthread_mutex_unlock(&hw.tMutex);
    int r = NotificaBanco1(p, iNivel);
    pthread_mutex_lock(&hw.tMutex);
    hw.asBanco1[k].bCambiada = (!p || r != 0);
    pthread_mutex_unlock(&hw.tMutex);
}

// Reads every input of a bank; true when any level changed.
bool LeeTodoBanco(Entrada* asBanco, int iBase) {
    EstadoHw& hw = Hw();
    bool bAlguna = false;
    for (int k = 0; k < NUM_ENTRADAS; k++) {
        int v = LeeEntrada(iBase + k);
        pthread_mutex_lock(&hw.tMutex);
        bAlguna |= GuardaNivel(asBanco[k], v);
        pthread_mutex_unlock(&hw.tMutex);
    }
    return bAlguna;
}

void PasaCompleta() {
    EstadoHw& hw = Hw();
    LeeTodoBanco(hw.asBanco1, 0);
    for (int k = 0; k < NUM_ENTRADAS; k++) PasaEntradaBanco1(k);
    if (hw.uiTipoPlaca == TIPO_PLACA_1400000) {
        LeeTodoBanco(hw.asBanco2, 16);
        for (int k = 0; k < NUM_ENTRADAS; k++) {
            pthread_mutex_lock(&hw.tMutex);
            CComeventos* p = hw.asBanco2[k].pManejador;
            int iNivel = hw.asBanco2[k].iValor;
            hw.asBanco2[k].bCambiada = p != nullptr;
            pthread_mutex_unlock(&hw.tMutex);
            NotificaBanco2(p, iNivel);
        }
    }
}

void NotificaCambiadas(Entrada* asBanco, int (*Notifica)(CComeventos*, int)) {
    EstadoHw& hw = Hw();
    for (int k = 0; k < NUM_ENTRADAS; k++) {
        pthread_mutex_lock(&hw.tMutex);
        bool b = asBanco[k].bCambiada;
        CComeventos* p = asBanco[k].pManejador;
        int iNivel = asBanco[k].iValor;
        asBanco[k].bCambiada = false;
        pthread_mutex_unlock(&hw.tMutex);
        if (b) Notifica(p, iNivel);
    }
}
}  // namespace

void hwSupervisorEntradas() {
    EstadoHw& hw = Hw();
    FijaPrioridadHilo(1);
    TrazaPid("Supervisor entradas/salidas", 0, "src/hardware");

    struct sigaction sa {};
    sigemptyset(&sa.sa_mask);
    sa.sa_handler = ManejadorSigio;
    sigaction(SIGIO, &sa, nullptr);
    sa.sa_handler = ManejadorSigusr1;
    sigaction(SIGUSR1, &sa, nullptr);
    // The signals stay blocked except inside sigsuspend, so one that arrives between the
    // test of the flags and the wait is not lost.
    sigset_t sBloqueo, sEspera;
    sigemptyset(&sBloqueo);
    sigaddset(&sBloqueo, SIGIO);
    sigaddset(&sBloqueo, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &sBloqueo, &sEspera);
    sigdelset(&sEspera, SIGIO);
    sigdelset(&sEspera, SIGUSR1);
    // Notification goes to this thread, not to whichever thread of the process.
    if (Disp().ActivaAviso(FdDiscretas()) < 0)
        NLOG::Log(NLOG::ERROR, "hwSupervisorEntradas: sin aviso de entradas: %s", strerror(errno));

    PasaCompleta();
    for (;;) {
        if (!iSenalEntradas && !iSenalReleer) sigsuspend(&sEspera);
        bool bEntradas = iSenalEntradas != 0;
        bool bReleer = iSenalReleer != 0;
        iSenalEntradas = 0;
        iSenalReleer = 0;
        if (bReleer) {
            PasaCompleta();
            continue;
        }
        if (bEntradas) {
            for (int k = 0; k < NUM_ENTRADAS; k++) {
                pthread_mutex_lock(&hw.tMutex);
                bool bManejador = hw.asBanco1[k].pManejador != nullptr;
                pthread_mutex_unlock(&hw.tMutex);
                if (!bManejador) continue;
                int v = LeeEntrada(k);
                pthread_mutex_lock(&hw.tMutex);
                GuardaNivel(hw.asBanco1[k], v);
                pthread_mutex_unlock(&hw.tMutex);
            }
            NotificaCambiadas(hw.asBanco1, NotificaBanco1);
            if (hw.uiTipoPlaca == TIPO_PLACA_1400000 && LeeTodoBanco(hw.asBanco2, 16))
                NotificaCambiadas(hw.asBanco2, NotificaBanco2);
            continue;
        }
        NotificaCambiadas(hw.asBanco1, NotificaBanco1);
    }
}
