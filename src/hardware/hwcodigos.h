// Request words of the board drivers, as the drivers define them (PowerPC encoding: read
// requests 0x4004TTNN return the value, write requests 0x8004TTNN take the value itself).
// Written out literally: x86's _IOR/_IOW put the direction bits elsewhere.
#pragma once

#include <cstdint>

namespace hwcod {

// /dev/esdiscretas, type 'E' (0x45)
constexpr uint32_t E0_ESTADO = 0x40044500;
constexpr uint32_t E3_ENTRADA = 0x40044503;
constexpr uint32_t E6 = 0x40044506;
constexpr uint32_t E7_TIEMPO = 0x40044507;
constexpr uint32_t E8_ID_SLOT = 0x40044508;
constexpr uint32_t E10_INDICE = 0x8004450A;
constexpr uint32_t E11_TIPO = 0x4004450B;
constexpr uint32_t E12_ID_SLOT2 = 0x4004450C;
constexpr uint32_t E14_MODO_SLOTS = 0x4004450E;
constexpr uint32_t E15_ESTADO_FA = 0x4004450F;
constexpr uint32_t E16_LADO = 0x40044510;
constexpr uint32_t E16_RESET_DSP = 0x80044510;
// /dev/esdiscretas, type 'S' (0x53)
constexpr uint32_t S0_LED1 = 0x80045300;
constexpr uint32_t S1_CONECTA = 0x80045301;
constexpr uint32_t S2_DESCONECTA = 0x80045302;
constexpr uint32_t S3_ACTIVA = 0x80045303;
constexpr uint32_t S4_DESACTIVA = 0x80045304;
constexpr uint32_t S8_TX_ON = 0x80045308;
constexpr uint32_t S9_TX_OFF = 0x80045309;
constexpr uint32_t S13_LED0 = 0x8004530D;
constexpr uint32_t S14_LED2 = 0x8004530E;
constexpr uint32_t S17_RX_ON = 0x80045311;
constexpr uint32_t S18_RX_OFF = 0x80045312;
constexpr uint32_t S19_ENTORNO = 0x80045313;
// /dev/rtimer, type 'R' (0x52)
constexpr uint32_t R0_CUENTA = 0x40045200;
constexpr uint32_t R1_DIVISOR = 0x40045201;
constexpr uint32_t R3 = 0x40045203;
// /dev/mtifm%d, type 'M' (0x4D)
constexpr uint32_t M1_MODO = 0x80044D01;
constexpr uint32_t M2_CONV = 0x80044D02;
constexpr uint32_t M2_LEE_MODO = 0x40044D02;
constexpr uint32_t M3_RING = 0x80044D03;
constexpr uint32_t M5_LINEA = 0x80044D05;
constexpr uint32_t M6 = 0x80044D06;
constexpr uint32_t M10 = 0x80044D0A;
constexpr uint32_t M14 = 0x80044D0E;
constexpr uint32_t M16_LEE_TS_TX = 0x40044D10;
constexpr uint32_t M17_LEE_TS_RX = 0x40044D11;
constexpr uint32_t M19 = 0x80044D13;
constexpr uint32_t M19_LEE_GAN_RX = 0x40044D13;
constexpr uint32_t M20_CODEC = 0x80044D14;
constexpr uint32_t M20_LEE_GAN_TX = 0x40044D14;
constexpr uint32_t M21_TS_TX = 0x80044D15;
constexpr uint32_t M22_TS_RX = 0x80044D16;
constexpr uint32_t M22_LEE_VERSION = 0x40044D16;
constexpr uint32_t M23 = 0x80044D17;
constexpr uint32_t M23_LEE = 0x40044D17;
constexpr uint32_t M24_GAN_RX = 0x80044D18;
constexpr uint32_t M25_GAN_TX = 0x80044D19;
constexpr uint32_t M26_RESET = 0x80044D1A;
constexpr uint32_t M29_SILENCIO_RX = 0x80044D1D;
// /dev/pcm%d, type 'P' (0x50)
constexpr uint32_t P1 = 0x80045001;
constexpr uint32_t P3_ESTADO = 0x40045003;
constexpr uint32_t P4 = 0x80045004;
constexpr uint32_t P5_ABRE = 0x80045005;
constexpr uint32_t P6_MUESTRAS = 0x40045006;
constexpr uint32_t P10 = 0x4004500A;

// /dev/hpidsp, type 'H' (0x48)
constexpr uint32_t H1_RELOJ = 0x40044801;       // the driver's millisecond clock
constexpr uint32_t H7_NIVEL_COLA = 0x40044807;  // value 0: bytes queued for sending; 1: the other queue
constexpr uint32_t H8_FASE = 0x40044808;        // boot phase of the DSP (1 and 2 ask for an image)
constexpr uint32_t H5_DIRECCION = 0x80044805;   // address of the next DSP memory write
constexpr uint32_t H9_PASO = 0x80044809;        // start of a boot step
constexpr uint32_t H11_ARRANCA = 0x8004480B;    // an image has been written: start it
constexpr uint32_t H12_FASE2 = 0x8004480C;      // before the phase-2 image
constexpr uint32_t H13_PREPARA = 0x8004480D;    // once, when the boot-loader starts

// Read-back offsets of the line-module gains.
constexpr int OFFSET_GAN_RX = 243;
constexpr int OFFSET_GAN_TX = 134;

}  // namespace hwcod
