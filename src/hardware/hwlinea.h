// Line modules (SLIC) over /dev/mtifm%d and audio devices over /dev/pcm%d: the second half
// of the hardware layer (hardware.h), with the same result convention. Every call needs
// IniciaHardware first.
#pragma once

#include <cstdint>

class CComeventos;
class CTemporizador;

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
