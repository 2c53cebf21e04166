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
// hwDameTiempoMs, or the monotonic clock's microseconds on a board without the timer; the
// clock each program hands the IPC channel's flood guard (Cola::FijaRelojRafaga).
uint32_t hwRelojUs();
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

// Line modules and audio devices (hwlinea.cpp).
#include "hardware/hwlinea.h"
