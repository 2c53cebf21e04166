// The DSP commands a resource process asks the DSP service for. Each travels as one IPC
// message to the service, whose handler has the DSP master write one DSP command on the
// resource's channel.
//
// One row per command, in the order of the IPC handler table:
//   X(a, client call, IPC name, IPC code name, IPC code, service handler, master method,
//     DSP code, form)
// (a: passed through to X untouched, for lists built inside other lists.) The client calls
// (libdsp.h), the typed senders and IPC catalogue rows (cola.h, mensajescola.h), the service's
// handlers (ipcdremson.cpp), its command wrappers (cserviciosdsp.h), the master's commands
// and the DSP code enumeration (cmasterdsp.h, mensajesdsp.h) are derived from it. A new
// command of an existing form is a row here; a new form is a VK_*_<form> macro in each of them.
// Outside the list: the grant and release of a channel (they open and close a resource id),
// the R2 and N5 blocks (the DSP takes no message for them) and the echo canceller for
// reception (the console's only).
//
// Forms (what follows the resource id):
//   SIN_VALOR          nothing
//   SIN_VALOR_ANOTADO  nothing; the service's handler also writes its name to the log
//   VALOR              one value, one byte on the DSP
//   DOS_VALORES        two values, one byte each
//   BUCLE              level (signed top byte) and duration (next byte) packed in a word, then
//                      the frequency; three bytes on the DSP
//   DIGITOS            counted digits; count and digits on the DSP
//   LLAMA              priority, counted origin, counted destination
//   INTERVENCION       as LLAMA, then one value
//   BLOQUE_LCEN        the 22 words of the hot-line block, 16 bits each on the DSP
#pragma once

#define VK_COMANDOS_DSP(X, a) \
    X(a, ldspTomaCanalIfTx,           TomaCanalIfTx,           TOMA_CANAL_IF_TX,           32, ipcsdTomaCanalIfTx,           TomaCanalIfTx,           0x0005, VALOR)             \
    X(a, ldspTomaCanalIfRx,           TomaCanalIfRx,           TOMA_CANAL_IF_RX,           33, ipcsdTomaCanalIfRx,           TomaCanalIfRx,           0x0006, VALOR)             \
    X(a, ldspTomaCanalHostTx,         TomaCanalHostTx,         TOMA_CANAL_HOST_TX,         34, ipcsdTomaCanalHostTx,         TomaCanalHostTx,         0x0007, VALOR)             \
    X(a, ldspTomaCanalHostRx,         TomaCanalHostRx,         TOMA_CANAL_HOST_RX,         35, ipcsdTomaCanalHostRx,         TomaCanalHostRx,         0x0008, VALOR)             \
    X(a, ldspQuitaCanalHostRx,        QuitaCanalHostRx,        QUITA_CANAL_HOST_RX,        36, ipcsdQuitaCanalHostRx,        QuitaCanalHostRx,        0x0009, VALOR)             \
    X(a, ldspTomaCodecIfTx,           TomaCodecIfTx,           TOMA_CODEC_IF_TX,           37, ipcsdTomaCodecIfTx,           TomaCodecIfTx,           0x000a, VALOR)             \
    X(a, ldspTomaCodecIfRx,           TomaCodecIfRx,           TOMA_CODEC_IF_RX,           38, ipcsdTomaCodecIfRx,           TomaCodecIfRx,           0x000b, VALOR)             \
    X(a, ldspTomaCodecHostTx,         TomaCodecHostTx,         TOMA_CODEC_HOST_TX,         39, ipcsdTomaCodecHostTx,         TomaCodecHostTx,         0x000c, VALOR)             \
    X(a, ldspTomaCodecHostRx,         TomaCodecHostRx,         TOMA_CODEC_HOST_RX,         40, ipcsdTomaCodecHostRx,         TomaCodecHostRx,         0x000d, VALOR)             \
    X(a, ldspTomaProtocolo,           TomaProtocolo,           TOMA_PROTOCOLO,             41, ipcsdTomaProtocolo,           TomaProtocolo,           0x0110, VALOR)             \
    X(a, ldspSelecCancelEcoTx,        SelecCancelEcoTx,        SELEC_CANCEL_ECO_TX,        56, ipcsdSelecCancelEcoTx,        SelecCancelEcoTx,        0x011e, VALOR)             \
    X(a, ldspSelecCagTx,              SelecCagTx,              SELEC_CAG_TX,               42, ipcsdSelecCagTx,              SelecCagTx,              0x0112, DOS_VALORES)       \
    X(a, ldspSelecCagRx,              SelecCagRx,              SELEC_CAG_RX,               43, ipcsdSelecCagRx,              SelecCagRx,              0x0111, DOS_VALORES)       \
    X(a, ldspSelecVoxTx,              SelecVoxTx,              SELEC_VOX_TX,               44, ipcsdSelecVoxTx,              SelecVoxTx,              0x0114, DOS_VALORES)       \
    X(a, ldspSelecVoxRx,              SelecVoxRx,              SELEC_VOX_RX,               45, ipcsdSelecVoxRx,              SelecVoxRx,              0x0113, DOS_VALORES)       \
    X(a, ldspSelecDetCallProgress,    SelecDetCallProgress,    SELEC_DET_CALL_PROGRESS,    46, ipcsdSelecDetCallProgress,    SelecDetCallProgress,    0x0115, DOS_VALORES)       \
    X(a, ldspSelecDetDtmf,            SelecDetDtmf,            SELEC_DET_DTMF,             47, ipcsdSelecDetDtmf,            SelecDetDtmf,            0x0116, VALOR)             \
    X(a, ldspSelecDetCallerID,        SelecDetCallerID,        SELEC_DET_CALLER_ID,        48, ipcsdSelecDetCallerID,        SelecDetCallerID,        0x0117, VALOR)             \
    X(a, ldspSelecBss,                SelecBss,                SELEC_BSS,                  49, ipcsdSelecBss,                SelecBss,                0x0118, VALOR)             \
    X(a, ldspGeneraSecuenciaTonosTx,  GeneraSecuenciaTonosTx,  GENERA_SECUENCIA_TONOS_TX,  50, ipcsdGeneraSecuenciaTonosTx,  GeneraSecuenciaTonosTx,  0x0119, DOS_VALORES)       \
    X(a, ldspGeneraSecuenciaTonosRx,  GeneraSecuenciaTonosRx,  GENERA_SECUENCIA_TONOS_RX,  51, ipcsdGeneraSecuenciaTonosRx,  GeneraTonoCallProgRx,    0x011a, DOS_VALORES)       \
    X(a, ldspAnalizaBucle,            AnalizaBucle,            ANALIZA_BUCLE,              57, ipcsdAnalizaBucle,            SelecBucle,              0x0130, BUCLE)             \
    X(a, ldspMarcaDtmf,               MarcaDtmf,               MARCA_DTMF,                 52, ipcsdMarcaDtmf,               MarcaDtmf,               0x011b, DIGITOS)           \
    X(a, ldspMarcaSelcal,             MarcaSelcal,             MARCA_SELCAL,               53, ipcsdMarcaSelcal,             MarcaSelcal,             0x011c, DIGITOS)           \
    X(a, ldspMarcaCcir,               MarcaCcir,               MARCA_CCIR,                 54, ipcsdMarcaCcir,               MarcaCcir,               0x011d, DIGITOS)           \
    X(a, ldspLlama,                   Llama,                   LLAMA,                      60, ipcsdLlama,                   Llama,                   0x0121, LLAMA)             \
    X(a, ldspDescuelga,               Descuelga,               DESCUELGA,                  61, ipcsdDescuelga,               Descuelga,               0x0120, SIN_VALOR)         \
    X(a, ldspLibera,                  Libera,                  LIBERA,                     62, ipcsdLibera,                  Libera,                  0x0123, SIN_VALOR)         \
    X(a, ldspRespondeLibre,           RespondeLibre,           RESPONDE_LIBRE,             63, ipcsdRespondeLibre,           RespondeLibre,           0x0124, SIN_VALOR)         \
    X(a, ldspRespondeOcupado,         RespondeOcupado,         RESPONDE_OCUPADO,           64, ipcsdRespondeOcupado,         RespondeOcupado,         0x0125, SIN_VALOR)         \
    X(a, ldspRespondeCongestion,      RespondeCongestion,      RESPONDE_CONGESTION,        65, ipcsdRespondeCongestion,      RespondeCongestion,      0x0126, SIN_VALOR)         \
    X(a, ldspRespondeFueraDeServicio, RespondeFueraDeServicio, RESPONDE_FUERA_DE_SERVICIO, 66, ipcsdRespondeFueraDeServicio, RespondeFueraDeServicio, 0x0127, SIN_VALOR)         \
    X(a, ldspIntervencion,            IntervencionPrioridad,   INTERVENCION_PRIORIDAD,     67, ipcsdIntervencionPrioridad,   IntervencionPrioridad,   0x0128, INTERVENCION)      \
    X(a, ldspFinIntervencion,         FinIntervencion,         FIN_INTERVENCION,           68, ipcsdFinIntervencion,         FinIntervencion,         0x0129, SIN_VALOR_ANOTADO) \
    X(a, ldspAparca,                  Aparca,                  APARCA,                     69, ipcsdAparca,                  Aparca,                  0x012a, SIN_VALOR)         \
    X(a, ldspDesaparca,               Desaparca,               DESAPARCA,                  70, ipcsdDesaparca,               Desaparca,               0x012b, SIN_VALOR)         \
    X(a, ldspBloquea,                 BloqueaLinea,            BLOQUEA_LINEA,              74, ipcsdBloqueaLinea,            Bloquea,                 0x0122, SIN_VALOR)         \
    X(a, ldspTomaConfigLCEN,          TomaConfigLCEN,          TOMA_CONFIG_LCEN,           71, ipcsdTomaConfigLCEN,          TomaConfigLCEN,          0x012c, BLOQUE_LCEN)

// The payload form and handler type of each form in the IPC catalogue.
#define VK_FORMA_COLA_SIN_VALOR UNO
#define VK_FORMA_COLA_SIN_VALOR_ANOTADO UNO
#define VK_FORMA_COLA_VALOR DOS
#define VK_FORMA_COLA_DOS_VALORES TRES
#define VK_FORMA_COLA_BUCLE TRES
#define VK_FORMA_COLA_DIGITOS CONTADOS
#define VK_FORMA_COLA_LLAMA LLAMA
#define VK_FORMA_COLA_INTERVENCION INTERVENCION
#define VK_FORMA_COLA_BLOQUE_LCEN LCEN
#define VK_TIPO_COLA_SIN_VALOR TpEvtUnEntero
#define VK_TIPO_COLA_SIN_VALOR_ANOTADO TpEvtUnEntero
#define VK_TIPO_COLA_VALOR TpEvtDosEnteros
#define VK_TIPO_COLA_DOS_VALORES TpEvtTresEnteros
#define VK_TIPO_COLA_BUCLE TpEvtTresEnteros
#define VK_TIPO_COLA_DIGITOS TpEvtBytes
#define VK_TIPO_COLA_LLAMA TpEvtLlama
#define VK_TIPO_COLA_INTERVENCION TpEvtIntervencionPrioridad
#define VK_TIPO_COLA_BLOQUE_LCEN TpEvtBloque
