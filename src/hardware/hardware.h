// Hardware access layer of the board: discrete I/O, time slots and board clocks over
// /dev/esdiscretas and /dev/rtimer, line modules over /dev/mtifm%d and audio over /dev/pcm%d.
// One instance per process; every program calls IniciaHardware at start-up. Results: 0 success,
// negative failure (-1 not initialised or device unavailable, -2 bad index, -5/-8/-9 bad
// argument, -6 bad mode or check mismatch, -7 driver refusal).
// The devices are reached through CDispositivos (hardware/cdispositivos.h): the real drivers, or
// the simulated board whose socket the environment setting VK_SIMBOARD names.
#pragma once

#include <cstdint>

class CComeventos;
class CTemporizador;

// Set-up and time.
int IniciaHardware();
uint32_t hwDameTiempo();      // 10 ms ticks, free-running; compare by signed 32-bit difference
uint32_t hwDameTiempoMs();    // microseconds (despite the name); wraps with the 16-bit counter
int hwEscribeRtimer(int iValor);

// Board identity and status.
int hwLeeEstado();
int hwDimeHwOk();
int hwHaySlic();
int hwLeeEstadoFA();
int hwLeeModoSlots();
int hwLeeLR();
int hwDameTipoHw();           // board type word (E11)
int hwDimePresenciaModulo(int iModulo);
int hwDimeIdHwSlot(int iSlot, uint32_t* puiPalabra);

// Discrete outputs, LEDs, dual environment, DSP reset line.
void hwActivaSalidaCanal(int iCanal);
void hwDesactivaSalidaCanal(int iCanal);
void hwFijaSalidaCanal(int iCanal, int iActiva);
void hwFijaSalidaCanalB(int iCanal, int iActiva);
void hwConectaEntorno();
void hwDesconectaEntorno();
void hwEnciendeLed(int iLed);
void hwApagaLed(int iLed);
int hwResetDsp();
int hwResetDspForzado();

// Switch points and audio slots.
int hwConectaSlot(int i);
int hwDesconectaSlot(int i);
int hwEscribeIndiceE10(int i);
int hwConectaGrupoSlots(int iGrupo);
int hwDesconectaGrupoSlots(int iGrupo);
int hwHabilitaTxCanalAudio(int iSlot);
int hwDesabilitaTxCanalAudio(int iSlot);
int hwHabilitaRxCanalAudio(int iSlot);
int hwDesabilitaRxCanalAudio(int iSlot);

// Compression of channel B.
int hwHabilitaCompresion_CanalB(int a, int c, int b);
int hwDeshabilitaCompresion_CanalB(int a, int c, int b);

// Discrete input notification.
int hwRegistraEventosEntrada(int iEntrada, CComeventos* pObjeto);
int hwCompruebaEntrada(int iEntrada, int iForzar);
int hwMarcaEntrada(int iEntrada);
void hwSupervisorEntradas();   // body of the thread "Supervisor entradas/salidas"

// Line modules (SLIC), 0 to 15.
int hwAbreSlic(int iModulo);
int hwCierraSlic(int iModulo);
int hwIniciaSlic(int iModulo, int iModo, int p2, int p3, int p4);
int hwConfiguraSlic(int iModulo);
int hwCompruebaModoSlic(int iModulo);
int hwCompruebaSlic(int iModulo);
int hwSupervisaSlic(int iModulo);
int hwSlicTs(int iModulo, int iTs);
int hwSlicGananciaTx(int iModulo, int iGanancia);
int hwSlicGananciaRx(int iModulo, int iGanancia);
int hwSlicCodec(int iModulo, int iCodec);
int hwSilenciaRxSlic(int iModulo);
int hwRestauraRxSlic(int iModulo);
int hwEscribeM14(int iModulo, int iValor);
int hwResetSlic(int iModulo);
int hwActivaLineaSlic(int iModulo);
int hwDesactivaLineaSlic(int iModulo);
int hwArrancaRingSlic(int iModulo);
int hwParaRingSlic(int iModulo);
int hwModoNormalSlic(int iModulo);
int hwActivaRingSlic(int iModulo);
int hwDesactivaRingSlic(int iModulo);
int hwPasaAConvSlic(int iModulo);
int hwPasaAReposoSlic(int iModulo);
int hwPasaAConvTipo2();
int hwPasaAConvTipo4();
// Starts the thread "Supervisor estado slic" once per process; one supervised module per process.
int hwRegistraEventosSlic(int iModulo, CComeventos* pManejador, CTemporizador* pTemporizador);
void hwTrazaEstadoSlic(int iEstado);

// State word bits of a line module.
enum : uint16_t {
    MTIFM_EST_REPOSO = 0x0000,
    MTIFM_EST_BUCLE_CERRADO = 0x0001,
    MTIFM_EST_RINGING = 0x0002,
    MTIFM_EST_INVERSION_POL = 0x0004,
    MTIFM_EST_SIG_GROUND = 0x0008,
    MTIFM_ERR_M_REV_CURR_LOAD = 0x0010,
    MTIFM_ERR_M_NORM_CURR_LOAD = 0x0020,
    MTIFM_ERR_E_REV_CURR_LOAD = 0x0040,
    MTIFM_ERR_E_NORM_CURR_LOAD = 0x0080,
    MTIFM_ERR_ACCESO_DISPOSITIVO = 0x0100,
    MTIFM_ERR_RESET = 0x0200,
};

// Audio devices /dev/pcm0 to /dev/pcm63 (G.711, 8,000 bytes per second).
int hwAbreTimeslot(int iCanal);
int hwCierraTimeslot(int iCanal);
int hwEnviaMuestras(int iCanal, const uint8_t* pucDatos, int* piLongitud);
int hwDameMuestras(int iCanal, uint8_t* pucDatos, int* piLongitud);
int hwEscribePcmP4(int iCanal, int iValor);
int hwLeePcmP10(int iCanal);
int hwEscribePcmP1(int iCanal);
int hwDameNumMuestras(int iCanal);
int hwLeeEstadoPcm(int iCanal);
