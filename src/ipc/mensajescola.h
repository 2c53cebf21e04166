// Vocabulary of the IPC channel (Cola): the records that travel in the payloads, the payload
// forms with the handler each one calls, and the catalogue of operation codes.
//
// Payload words are 32-bit integers in the board's own byte order, packed without
// padding (some sit at odd offsets); texts travel as a word count followed by the bytes,
// without terminator. Every field is copied with memcpy at its offset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "cfg/cfgpasarela.h"
#include "cfg/ficherosistema.h"
#include "ipc/comandosdsp.h"

// Frame limits: 1 code byte plus at most 5635 payload bytes.
constexpr int MAX_CARGA_COLA = 5635;
constexpr int MAX_TEXTO_COLA = MAX_CARGA_COLA + 1;

// Sizes of the blocks that travel whole.
constexpr int TAM_REGISTRO_RECURSO = 5244;  // resource record of cfgConfigPasarela
constexpr int TAM_BLOQUE_LCEN = 88;
constexpr int TAM_BLOQUE_R2N5 = 8;
constexpr int TAM_TRAZA_COLA = 512;  // code 24 carries at most 511 characters

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

// Payload forms: how Cola::Despacha unpacks a payload. Each form has one handler type; a row
// that pairs a form with another type does not compile.
enum class FormaCola : uint8_t {
    SIN_ARGS,      // nothing
    PEER,          // nothing
    UNO,           // word
    DOS,           // word, word
    TRES,          // word, word, word
    VALOR,         // word, handed over without the peer
    LLAMADA,       // word, call record
    SESION,        // word, session record
    LCEN,          // word, 88-byte block
    R2N5,          // word, 8-byte block
    ESTADO,        // state record
    CONTADOS,      // word, counted bytes
    TEXTO,         // the payload itself, as a zero-terminated text
    DIAGNOSTICO,   // byte, word, word
    CREA_CANAL,    // word, byte, without the peer
    DIGITO,        // word, byte, word
    LLAMA,         // word, word, counted bytes, counted bytes
    INTERVENCION,  // as LLAMA, then a word
    MENSAJE23,     // byte, word, counted text, word, counted text, word, word, byte
    CONFIG,        // counted side-file name, resource record; the handler gets the file's block
};

// The catalogue: one row per operation code that has a handler, in the order of the handler
// table: X(setter, name, code, form, handler type). The code enumeration, the setters, the
// handler table and the dispatch are derived from it (a code given twice does not compile);
// a new message is a row here and its typed sender (cola.h, cola_envia.cpp). The DSP
// commands' rows come from their own list (comandosdsp.h).
#define VK_COLA_COMANDO_DSP(X, ldsp, nombre, NOMBRE, cola, manejador, metodo, dsp, forma) \
    X(Registra##nombre, NOMBRE, cola, VK_FORMA_COLA_##forma, VK_TIPO_COLA_##forma)

#define VK_CATALOGO_COLA(X) \
    X(RegistraEvtReset,                       RESET,                         2,   PEER,         TpEvtPeer)                  \
    X(RegistraEvtTermina,                     TERMINA,                       93,  PEER,         TpEvtPeer)                  \
    X(RegistraEvtSinConfig,                   SIN_CONFIG,                    22,  PEER,         TpEvtPeer)                  \
    X(RegistraEvtPintaEstadisticas,           PINTA_ESTADISTICAS,            3,   SIN_ARGS,     TpEvtSinArgs)               \
    X(RegistraEvtTomaConfig,                  TOMA_CONFIG,                   4,   CONFIG,       TpEvtTomaConfig)            \
    X(RegistraEvtLlamadaSaliente,             LLAMADA_SALIENTE,              5,   LLAMADA,      TpEvtLlamada)               \
    X(RegistraEvtLlamadaEntrante,             LLAMADA_ENTRANTE,              6,   LLAMADA,      TpEvtLlamada)               \
    X(RegistraEvtFinLlamada,                  FIN_LLAMADA,                   7,   DOS,          TpEvtDosEnteros)            \
    X(RegistraEvtConversacionInterrumpida,    CONVERSACION_INTERRUMPIDA,     21,  UNO,          TpEvtUnEntero)              \
    X(RegistraEvtRinging,                     RINGING,                       8,   DOS,          TpEvtDosEnteros)            \
    X(RegistraEvtAceptaLlamada,               ACEPTA_LLAMADA,                9,   DOS,          TpEvtDosEnteros)            \
    X(RegistraEvtRechazaLlamada,              RECHAZA_LLAMADA,               11,  DOS,          TpEvtDosEnteros)            \
    X(RegistraEvtIntervencion,                INTERVENCION,                  13,  LLAMADA,      TpEvtLlamada)               \
    X(RegistraEvtAbortaIntervencion,          ABORTA_INTERVENCION,           14,  UNO,          TpEvtUnEntero)              \
    X(RegistraEvtNuevaSesion,                 NUEVA_SESION,                  15,  SESION,       TpEvtSesion)                \
    X(RegistraEvtModificaSesion,              MODIFICA_SESION,               16,  SESION,       TpEvtSesion)                \
    X(RegistraEvtFinSesion,                   FIN_SESION,                    17,  DOS,          TpEvtDosEnteros)            \
    X(RegistraEvtFinSesionPreemption,         FIN_SESION_PREEMPTION,         29,  VALOR,        TpEvtValor)                 \
    X(RegistraEvtNivelConsola,                NIVEL_CONSOLA,                 18,  VALOR,        TpEvtValor)                 \
    X(RegistraEvtNivelIncidencias,            NIVEL_INCIDENCIAS,             19,  VALOR,        TpEvtValor)                 \
    X(RegistraEvtModoTest,                    MODO_TEST,                     20,  VALOR,        TpEvtValor)                 \
    X(RegistraEvtMensaje23,                   MENSAJE23,                     23,  MENSAJE23,    TpEvtMensaje23)             \
    X(RegistraEvtTraza,                       TRAZA,                         24,  TEXTO,        TpEvtTexto)                 \
    X(RegistraEvtDiagnostico,                 DIAGNOSTICO,                   25,  DIAGNOSTICO,  TpEvtDiagnostico)           \
    X(RegistraEvtCreaCanalHermano,            CREA_CANAL_HERMANO,            26,  CREA_CANAL,   TpEvtCreaCanal)             \
    X(RegistraEvtNotificaEstadoRecurso,       NOTIFICA_ESTADO_RECURSO,       27,  ESTADO,       TpEvtEstado)                \
    X(RegistraEvtInfoLlamada,                 INFO_LLAMADA,                  28,  TRES,         TpEvtTresEnteros)           \
    X(RegistraArrancaRecurso,                 ARRANCA_RECURSO,               30,  DOS,          TpEvtDosEnteros)            \
    X(RegistraEvtDspRecursoCreado,            DSP_RECURSO_CREADO,            55,  UNO,          TpEvtUnEntero)              \
    X(RegistraLiberaRecurso,                  LIBERA_RECURSO,                31,  UNO,          TpEvtUnEntero)              \
    VK_COMANDOS_DSP(VK_COLA_COMANDO_DSP, X)                                                                                        \
    X(RegistraTomaConfigR2,                   TOMA_CONFIG_R2,                72,  R2N5,         TpEvtBloque)                \
    X(RegistraTomaConfigN5,                   TOMA_CONFIG_N5,                73,  R2N5,         TpEvtBloque)                \
    X(RegistraEvtDigitoDtmf,                  DIGITO_DTMF,                   80,  DIGITO,       TpEvtEnteroByteEntero)      \
    X(RegistraEvtSelcal,                      SELCAL,                        81,  DIGITO,       TpEvtEnteroByteEntero)      \
    X(RegistraEvtCallerId,                    CALLER_ID,                     82,  CONTADOS,     TpEvtBytes)                 \
    X(RegistraEvtCallProgress,                CALL_PROGRESS,                 83,  DOS,          TpEvtDosEnteros)            \
    X(RegistraEvtDspEvento84,                 DSP_EVENTO84,                  84,  DOS,          TpEvtDosEnteros)            \
    X(RegistraEvtBucle,                       BUCLE,                         92,  TRES,         TpEvtTresEnteros)           \
    X(RegistraEvtErrorInterno,                ERROR_INTERNO,                 85,  DOS,          TpEvtDosEnteros)            \
    X(RegistraEvtDspReposo,                   DSP_REPOSO,                    86,  UNO,          TpEvtUnEntero)              \
    X(RegistraEvtDspConversacionInterrumpida, DSP_CONVERSACION_INTERRUMPIDA, 87,  UNO,          TpEvtUnEntero)              \
    X(RegistraEvtDspLineaBloqueada,           DSP_LINEA_BLOQUEADA,           88,  UNO,          TpEvtUnEntero)              \
    X(RegistraEvtDspTimeout,                  DSP_TIMEOUT,                   90,  UNO,          TpEvtUnEntero)              \
    X(RegistraEvtDspErrorProtocolo,           DSP_ERROR_PROTOCOLO,           91,  UNO,          TpEvtUnEntero)              \
    X(RegistraEvtEstadoDsp,                   ESTADO_DSP,                    89,  DOS,          TpEvtDosEnteros)            \
    X(RegistraDebug,                          DEBUG,                         254, UNO,          TpEvtUnEntero)

// Operation codes (the first byte of the message text). Codes 0 and 1 belong to the channel
// itself: 0 wakes a closing end's receive thread and is dropped; 1 is the heartbeat.
enum eCodigoCola : uint8_t {
    COD_NULO = 0,
    COD_LATIDO = 1,
#define VK_CODIGO_COLA(registra, nombre, codigo, forma, tipo) COD_##nombre = codigo,
    VK_CATALOGO_COLA(VK_CODIGO_COLA)
#undef VK_CODIGO_COLA
};
