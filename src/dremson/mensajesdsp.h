// Codes of the host-DSP messages. Every message: u16 code, u16 DSP channel, then its
// parameters (single bytes, or 16-bit words), all little-endian, 4 to 64 bytes in all.
#pragma once

#include <cstdint>

#include "ipc/comandosdsp.h"

namespace dsp {

constexpr int LONG_CABECERA = 4;   // code and channel
constexpr int LONG_MINIMA = 4;
constexpr int LONG_MAXIMA = 64;
// The driver takes every command with 4 more bytes than the message (no defined value).
constexpr int EXTRA_ESCRITURA = 4;

// Channels of the DSP: line channels 0-15; the others are the link's own.
constexpr int NUM_CANALES = 16;
constexpr uint16_t CANAL_LATIDO = 0xFFFF;
constexpr uint16_t CANAL_HOLA = 0;
constexpr uint16_t CANAL_SONDA = 17;  // a channel the DSP does not have: it answers with an error
                                      // (the keep-alive probe is CMD_DESCUELGA on it)

// Host to DSP: the link's own commands, the channel's grant and release, the console's echo
// canceller for reception, then the commands of the resource processes (ipc/comandosdsp.h).
enum eComando : uint16_t {
    CMD_LATIDO = 0x0000,
    CMD_HOLA = 0x0001,
    CMD_ARRANCA_RECURSO = 0x0003,
    CMD_LIBERA_RECURSO = 0x0004,
    CMD_SELEC_CANCEL_ECO_RX = 0x011f,
#define VK_CMD_DSP(a, ldsp, nombre, NOMBRE, cola, manejador, metodo, dsp, forma) CMD_##NOMBRE = dsp,
    VK_COMANDOS_DSP(VK_CMD_DSP, _)
#undef VK_CMD_DSP
};

// Every command code once.
constexpr uint16_t CODIGOS_COMANDO[] = {
    CMD_LATIDO, CMD_HOLA, CMD_ARRANCA_RECURSO, CMD_LIBERA_RECURSO, CMD_SELEC_CANCEL_ECO_RX,
#define VK_CODIGO_DSP(a, ldsp, nombre, NOMBRE, cola, manejador, metodo, dsp, forma) CMD_##NOMBRE,
    VK_COMANDOS_DSP(VK_CODIGO_DSP, _)
#undef VK_CODIGO_DSP
};
constexpr bool CodigosComandoUnicos() {
    constexpr int n = sizeof(CODIGOS_COMANDO) / sizeof(CODIGOS_COMANDO[0]);
    for (int i = 0; i < n; i++)
        for (int j = i + 1; j < n; j++)
            if (CODIGOS_COMANDO[i] == CODIGOS_COMANDO[j]) return false;
    return true;
}
static_assert(CodigosComandoUnicos(), "a DSP command code given twice");

// DSP to host.
enum eEvento : uint16_t {
    DSPRK82_EVT_ERROR_EN_CMD = 0x8000,
    DSPRK82_EVT_DTMF = 0x8010,
    DSPRK82_EVT_SELCAL = 0x8011,
    DSPRK82_EVT_CALLER_ID = 0x8012,
    DSPRK82_EVT_VAD_TX = 0x8013,
    DSPRK82_EVT_VAD_RX = 0x8014,
    DSPRK82_EVT_CALL_PROGRESS = 0x8015,
    DSPRK82_EVT_8016 = 0x8016,  // no name of its own: forwarded as IPC code 84
    DSPRK82_EVT_ERROR_INTERNO = 0x8017,
    DSPRK82_EVT_BUCLE = 0x8018,
    DSPRK82_EVT_LOG = 0x8019,
    DSPRK82_EVT_REPOSO = 0x8020,
    DSPRK82_EVT_LIBRE = 0x8021,
    DSPRK82_EVT_OCUPADO = 0x8022,
    DSPRK82_EVT_LLAMADA_ENTRANTE = 0x8023,
    DSPRK82_EVT_LIBERADA = 0x8024,
    DSPRK82_EVT_CONGESTION = 0x8025,
    DSPRK82_EVT_FUERA_DE_SERVICIO = 0x8026,
    DSPRK82_EVT_CONVERS_INTERRUMPIDA = 0x8027,
    DSPRK82_EVT_LINEA_BLOQUEADA = 0x8028,
    DSPRK82_EVT_TIMEOUT = 0x8029,
    DSPRK82_EVT_ERROR_PROTOCOLO = 0x802a,
    DSPRK82_EVT_TOMA_DE_LINEA = 0x802b,
    DSPRK82_EVT_LLAMADO_DESCUELGA = 0x802c,
};

// Bits that sort an event into its group; an event with neither is a command error.
constexpr uint16_t EVT_BASE = 0x8000;
constexpr uint16_t EVT_GRUPO_1 = 0x0010;
constexpr uint16_t EVT_GRUPO_2 = 0x0020;

// Release cause that means the conversation was interrupted.
constexpr uint8_t CAUSA_INTERRUMPIDA = 3;

// Room for digits: a dialling command is code, channel, count, digits.
constexpr int MAX_DIGITOS_MARCA = LONG_MAXIMA - 5;           // 59
constexpr int MAX_DIGITOS_LLAMA = LONG_MAXIMA - 7;           // 57, origin and destination together
constexpr int MAX_DIGITOS_INTERVENCION = LONG_MAXIMA - 8;    // 56
constexpr int NUM_CONFIG_LCEN = 22;

inline uint16_t Lee16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline void Pon16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v & 0xFF);
    p[1] = static_cast<uint8_t>(v >> 8);
}

}  // namespace dsp
