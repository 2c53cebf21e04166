// Vocabulary of the IPC channel (Cola): operation codes, the records that travel in the
// payloads and the handler forms that Cola::Despacha calls.
//
// Payload words are 32-bit integers in the board's own byte order, packed without
// padding (some sit at odd offsets); texts travel as a word count followed by the bytes,
// without terminator. Every field is copied with memcpy at its offset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "cfg/cfgpasarela.h"

// Operation codes (the first byte of the message text).
enum eCodigoCola : uint8_t {
    COD_NULO = 0,  // never sent by a typed sender; the dispatcher drops it (wakes a closing end)
    COD_LATIDO = 1,
    COD_RESET = 2,
    COD_PINTA_ESTADISTICAS = 3,
    COD_TOMA_CONFIG = 4,
    COD_LLAMADA_SALIENTE = 5,
    COD_LLAMADA_ENTRANTE = 6,
    COD_FIN_LLAMADA = 7,
    COD_RINGING = 8,
    COD_ACEPTA_LLAMADA = 9,
    COD_RECHAZA_LLAMADA = 11,
    COD_INTERVENCION = 13,
    COD_ABORTA_INTERVENCION = 14,
    COD_NUEVA_SESION = 15,
    COD_MODIFICA_SESION = 16,
    COD_FIN_SESION = 17,
    COD_NIVEL_CONSOLA = 18,
    COD_NIVEL_INCIDENCIAS = 19,
    COD_MODO_TEST = 20,
    COD_CONVERSACION_INTERRUMPIDA = 21,
    COD_SIN_CONFIG = 22,
    COD_MENSAJE23 = 23,
    COD_TRAZA = 24,
    COD_DIAGNOSTICO = 25,
    COD_CREA_CANAL_HERMANO = 26,
    COD_NOTIFICA_ESTADO_RECURSO = 27,
    COD_INFO_LLAMADA = 28,
    COD_FIN_SESION_PREEMPTION = 29,
    COD_ARRANCA_RECURSO = 30,
    COD_LIBERA_RECURSO = 31,
    COD_TOMA_CANAL_IF_TX = 32,
    COD_TOMA_CANAL_IF_RX = 33,
    COD_TOMA_CANAL_HOST_TX = 34,
    COD_TOMA_CANAL_HOST_RX = 35,
    COD_QUITA_CANAL_HOST_RX = 36,
    COD_TOMA_CODEC_IF_TX = 37,
    COD_TOMA_CODEC_IF_RX = 38,
    COD_TOMA_CODEC_HOST_TX = 39,
    COD_TOMA_CODEC_HOST_RX = 40,
    COD_TOMA_PROTOCOLO = 41,
    COD_SELEC_CAG_TX = 42,
    COD_SELEC_CAG_RX = 43,
    COD_SELEC_VOX_TX = 44,
    COD_SELEC_VOX_RX = 45,
    COD_SELEC_DET_CALL_PROGRESS = 46,
    COD_SELEC_DET_DTMF = 47,
    COD_SELEC_DET_CALLER_ID = 48,
    COD_SELEC_BSS = 49,
    COD_GENERA_SECUENCIA_TONOS_TX = 50,
    COD_GENERA_SECUENCIA_TONOS_RX = 51,
    COD_MARCA_DTMF = 52,
    COD_MARCA_SELCAL = 53,
    COD_MARCA_CCIR = 54,
    COD_DSP_RECURSO_CREADO = 55,
    COD_SELEC_CANCEL_ECO_TX = 56,
    COD_ANALIZA_BUCLE = 57,
    COD_LLAMA = 60,
    COD_DESCUELGA = 61,
    COD_LIBERA = 62,
    COD_RESPONDE_LIBRE = 63,
    COD_RESPONDE_OCUPADO = 64,
    COD_RESPONDE_CONGESTION = 65,
    COD_RESPONDE_FUERA_DE_SERVICIO = 66,
    COD_INTERVENCION_PRIORIDAD = 67,
    COD_FIN_INTERVENCION = 68,
    COD_APARCA = 69,
    COD_DESAPARCA = 70,
    COD_TOMA_CONFIG_LCEN = 71,
    COD_TOMA_CONFIG_R2 = 72,
    COD_TOMA_CONFIG_N5 = 73,
    COD_BLOQUEA_LINEA = 74,
    COD_DIGITO_DTMF = 80,
    COD_SELCAL = 81,
    COD_CALLER_ID = 82,
    COD_CALL_PROGRESS = 83,
    COD_DSP_EVENTO84 = 84,
    COD_ERROR_INTERNO = 85,
    COD_DSP_REPOSO = 86,
    COD_DSP_CONVERSACION_INTERRUMPIDA = 87,
    COD_DSP_LINEA_BLOQUEADA = 88,
    COD_ESTADO_DSP = 89,
    COD_DSP_TIMEOUT = 90,
    COD_DSP_ERROR_PROTOCOLO = 91,
    COD_BUCLE = 92,
    COD_TERMINA = 93,
    COD_DEBUG = 254,
};

// Frame limits: 1 code byte plus at most 5635 payload bytes.
constexpr int MAX_CARGA_COLA = 5635;
constexpr int MAX_TEXTO_COLA = MAX_CARGA_COLA + 1;

// Sizes of the blocks that travel whole.
constexpr int TAM_REGISTRO_RECURSO = 5244;  // resource record of cfgConfigPasarela
constexpr int TAM_BLOQUE_GENERAL = 65;      // szDirVirtual, through the side file of code 4
constexpr int TAM_BLOQUE_LCEN = 88;
constexpr int TAM_BLOQUE_R2N5 = 8;
constexpr int TAM_TRAZA_COLA = 512;  // code 24 carries at most 511 characters

// Side file through which the general block of code 4 travels.
constexpr const char* FicheroConfigSistema = "/var/st_config_sistema.txt";

// The resource record travels byte for byte in code 4.
static_assert(sizeof(cfgConfigRecurso) == TAM_REGISTRO_RECURSO, "resource record is 5,244 bytes");
static_assert(std::is_trivially_copyable<cfgConfigRecurso>::value, "copied with memcpy");

// Call record of codes 5, 6 and 13.
struct DatosLlamada {
    char acOrigen[81];      // zero-terminated, at most 80 characters
    char acDestino[81];     // empty (first byte 0): nothing to dial
    uint8_t ucPrioridad;
    uint8_t ucLibre;        // not set by anybody
    int32_t iTipoSip;       // SIP call type mapped for the resource process
    int32_t iTipoLlamada;   // 1 "IA call", else 2
    int32_t iNumeracionQsig;
};
static_assert(sizeof(DatosLlamada) == 176, "call record is 176 bytes");
static_assert(offsetof(DatosLlamada, acDestino) == 81, "");
static_assert(offsetof(DatosLlamada, ucPrioridad) == 162, "");
static_assert(offsetof(DatosLlamada, iTipoSip) == 164, "");
static_assert(offsetof(DatosLlamada, iTipoLlamada) == 168, "");
static_assert(offsetof(DatosLlamada, iNumeracionQsig) == 172, "");

// Session record of codes 15 and 16. The remote address is the value and its dotted
// text, as the address class carries them.
struct DireccionSesion {
    int32_t iParametro;        // session parameter copied from the core's session entry
    int32_t iPayloadForzado;   // -1: use iPayload
    int32_t iPayload;
    int32_t iPuertoLocal;
    uint32_t uiDirRemota;      // IPv4 address in host order
    char acDirRemota[17];      // its dotted text, zero-terminated
    uint8_t aucLibre[3];
    int32_t iPuertoRemoto;
    int32_t idllam;            // call the session belongs to
    int32_t iPttId;
    int32_t iRtpHe;            // bit 0 goes to the RTP session
    int32_t iPrioridad;
    int32_t iStandby;          // 1: Radio-Idle session
    int32_t iModoBss;
    int32_t iPttRep;
    int32_t iIndiceColateral;
};
static_assert(sizeof(DireccionSesion) == 76, "session record is 76 bytes");
static_assert(offsetof(DireccionSesion, uiDirRemota) == 16, "");
static_assert(offsetof(DireccionSesion, acDirRemota) == 20, "");
static_assert(offsetof(DireccionSesion, iPuertoRemoto) == 40, "");
static_assert(offsetof(DireccionSesion, idllam) == 44, "");
static_assert(offsetof(DireccionSesion, iRtpHe) == 52, "");
static_assert(offsetof(DireccionSesion, iIndiceColateral) == 72, "");

// State record of code 27, filled by the line entity.
struct NotificacionEstado {
    uint8_t ucIndice;     // channel slot index (0 from the line entities)
    uint8_t ucEstado;     // 0, 1, 2, 10: cannot take calls
    uint8_t aucLibre[2];
    int32_t iValor;       // goes with states 1 and 2
    int32_t aiExtra[2];
    int32_t iServicio;    // 1: hardware running
};
static_assert(sizeof(NotificacionEstado) == 20, "state record is 20 bytes");
static_assert(offsetof(NotificacionEstado, iValor) == 4, "");
static_assert(offsetof(NotificacionEstado, aiExtra) == 8, "");
static_assert(offsetof(NotificacionEstado, iServicio) == 16, "");

// Handler forms. "peer" is the receiving end's peer id, never a value from the frame.
// Pointers are valid only during the call.
typedef void (*TpEvtSinArgs)();
typedef void (*TpEvtPeer)(int32_t peer);
typedef void (*TpEvtUnEntero)(int32_t peer, int32_t a);
typedef void (*TpEvtDosEnteros)(int32_t peer, int32_t a, int32_t b);
typedef void (*TpEvtTresEnteros)(int32_t peer, int32_t a, int32_t b, int32_t c);
typedef void (*TpEvtValor)(int32_t valor);
typedef void (*TpEvtLlamada)(int32_t peer, int32_t id, DatosLlamada* datos);
typedef void (*TpEvtSesion)(int32_t peer, int32_t id, DireccionSesion* dir);
typedef void (*TpEvtBloque)(int32_t peer, int32_t id, uint8_t* bloque);
typedef void (*TpEvtEstado)(int32_t peer, NotificacionEstado* estado);
typedef void (*TpEvtBytes)(int32_t peer, int32_t id, uint8_t* bytes, int32_t n);
typedef void (*TpEvtTexto)(int32_t peer, char* texto);
typedef void (*TpEvtDiagnostico)(int32_t peer, uint8_t comando, int32_t id, int32_t resultado);
typedef void (*TpEvtCreaCanal)(int32_t pid, uint8_t modo);
typedef void (*TpEvtEnteroByteEntero)(int32_t peer, int32_t id, uint8_t b, int32_t valor);
typedef void (*TpEvtLlama)(int32_t peer, int32_t id, int32_t prioridad, uint8_t* origen,
                           int32_t nOrigen, uint8_t* destino, int32_t nDestino);
typedef void (*TpEvtIntervencionPrioridad)(int32_t peer, int32_t id, int32_t prioridad,
                                           uint8_t* origen, int32_t nOrigen, uint8_t* destino,
                                           int32_t nDestino, int32_t c);
typedef void (*TpEvtMensaje23)(int32_t peer, uint8_t a, int32_t b, char* texto1, int32_t c,
                               char* texto2, int32_t d, int32_t e, uint8_t f);
// General block (65 bytes, zero-filled when the side file could not be read) and the
// resource record.
typedef void (*TpEvtTomaConfig)(char* bloque, cfgConfigRecurso* registro);
// No-activity call-back, with the silent peer's id.
typedef void (*TpProcesoSinActividad)(int32_t peer);
