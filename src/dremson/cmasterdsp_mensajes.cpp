// The DSP master's command builders and event dispatch.
#include <cstring>

#include "cmasterdsp.h"
#include "comun/nlog.h"
#include "trazadsp.h"

using namespace dsp;

// ---- Commands -----------------------------------------------------------------------------

int CMasterDsp::EnviaComando(uint16_t usCodigo, int iCanal, const uint8_t* pucParametros, int iNum) {
    if (iEnlace == 0) return ERR_ENLACE_CAIDO;
    // The message, then the 4 bytes of no value that the driver's count includes.
    uint8_t aucMensaje[LONG_MAXIMA + EXTRA_ESCRITURA] = {0};
    Pon16(aucMensaje, usCodigo);
    Pon16(aucMensaje + 2, static_cast<uint16_t>(iCanal));
    if (iNum > 0) std::memcpy(aucMensaje + LONG_CABECERA, pucParametros, static_cast<size_t>(iNum));
    return EnviaMensaje(aucMensaje, LONG_CABECERA + iNum + EXTRA_ESCRITURA, DameReloj());
}

int CMasterDsp::EnviaComando1(uint16_t usCodigo, int iCanal, int a) {
    const uint8_t auc[1] = {static_cast<uint8_t>(a)};
    return EnviaComando(usCodigo, iCanal, auc, 1);
}

int CMasterDsp::EnviaComando2(uint16_t usCodigo, int iCanal, int a, int b) {
    const uint8_t auc[2] = {static_cast<uint8_t>(a), static_cast<uint8_t>(b)};
    return EnviaComando(usCodigo, iCanal, auc, 2);
}

int CMasterDsp::EnviaDigitos(uint16_t usCodigo, const char* szNombre, int iCanal, const uint8_t* pucDigitos, int iNum) {
    if (!pucDigitos || iNum < 0) iNum = 0;
    if (iNum > MAX_DIGITOS_MARCA) {
        NLOG::Log(NLOG::ERROR, "DREMSON[%d]: %s con %d digitos; se envian %d", iCanal, szNombre, iNum, MAX_DIGITOS_MARCA);
        iNum = MAX_DIGITOS_MARCA;
    }
    uint8_t aucParametros[1 + MAX_DIGITOS_MARCA];
    aucParametros[0] = static_cast<uint8_t>(iNum);
    if (iNum > 0) std::memcpy(aucParametros + 1, pucDigitos, static_cast<size_t>(iNum));
    return EnviaComando(usCodigo, iCanal, aucParametros, 1 + iNum);
}

int CMasterDsp::EnviaLlamada(uint16_t usCodigo, const char* szNombre, int iCanal, int iPrioridad,
                             const uint8_t* pucOrigen, int iLongOrigen, const uint8_t* pucDestino, int iLongDestino,
                             const int* piValor) {
    if (!pucOrigen || iLongOrigen < 0) iLongOrigen = 0;
    if (!pucDestino || iLongDestino < 0) iLongDestino = 0;
    const int iMax = piValor ? MAX_DIGITOS_INTERVENCION : MAX_DIGITOS_LLAMA;
    if (iLongOrigen + iLongDestino > iMax) {
        // The destination routes the call: it keeps its digits first, the origin gets the rest.
        int iDestino = iLongDestino < iMax ? iLongDestino : iMax;
        int iOrigen = iLongOrigen < iMax - iDestino ? iLongOrigen : iMax - iDestino;
        NLOG::Log(NLOG::ERROR, "DREMSON[%d]: %s con %d+%d digitos; se envian %d+%d", iCanal, szNombre, iLongOrigen,
                  iLongDestino, iOrigen, iDestino);
        iLongOrigen = iOrigen;
        iLongDestino = iDestino;
    }
    uint8_t aucParametros[LONG_MAXIMA - LONG_CABECERA];
    int n = 0;
    aucParametros[n++] = static_cast<uint8_t>(iPrioridad);
    aucParametros[n++] = static_cast<uint8_t>(iLongOrigen);
    aucParametros[n++] = static_cast<uint8_t>(iLongDestino);
    if (iLongOrigen > 0) std::memcpy(aucParametros + n, pucOrigen, static_cast<size_t>(iLongOrigen));
    n += iLongOrigen;
    if (iLongDestino > 0) std::memcpy(aucParametros + n, pucDestino, static_cast<size_t>(iLongDestino));
    n += iLongDestino;
    if (piValor) aucParametros[n++] = static_cast<uint8_t>(*piValor);
    return EnviaComando(usCodigo, iCanal, aucParametros, n);
}

int CMasterDsp::ArrancaRecurso(int c) { return EnviaComando(CMD_ARRANCA_RECURSO, c); }
int CMasterDsp::LiberaRecurso(int c) { return EnviaComando(CMD_LIBERA_RECURSO, c); }

// The commands by form: the message each form writes.
#define MAESTRO_SIN_VALOR(METODO, CODIGO) \
    int CMasterDsp::METODO(int c) { return EnviaComando(CODIGO, c); }
#define MAESTRO_SIN_VALOR_ANOTADO MAESTRO_SIN_VALOR
#define MAESTRO_VALOR(METODO, CODIGO) \
    int CMasterDsp::METODO(int c, int v) { return EnviaComando1(CODIGO, c, v); }
#define MAESTRO_DOS_VALORES(METODO, CODIGO) \
    int CMasterDsp::METODO(int c, int a, int b) { return EnviaComando2(CODIGO, c, a, b); }
#define MAESTRO_BUCLE(METODO, CODIGO)                                                              \
    int CMasterDsp::METODO(int c, int iNivel, int iDuracion, int iFrecuencia) {                    \
        const uint8_t auc[3] = {static_cast<uint8_t>(iNivel), static_cast<uint8_t>(iDuracion),     \
                                static_cast<uint8_t>(iFrecuencia)};                                \
        return EnviaComando(CODIGO, c, auc, 3);                                                    \
    }
#define MAESTRO_DIGITOS(METODO, CODIGO)                                       \
    int CMasterDsp::METODO(int c, const uint8_t* pucDigitos, int iNum) {      \
        return EnviaDigitos(CODIGO, #METODO, c, pucDigitos, iNum);            \
    }
#define MAESTRO_LLAMA(METODO, CODIGO)                                                                         \
    int CMasterDsp::METODO(int c, int iPrioridad, const uint8_t* pucOrigen, int iLongOrigen,                  \
                           const uint8_t* pucDestino, int iLongDestino) {                                     \
        return EnviaLlamada(CODIGO, #METODO, c, iPrioridad, pucOrigen, iLongOrigen, pucDestino, iLongDestino, \
                            nullptr);                                                                         \
    }
#define MAESTRO_INTERVENCION(METODO, CODIGO)                                                                  \
    int CMasterDsp::METODO(int c, int iPrioridad, const uint8_t* pucOrigen, int iLongOrigen,                  \
                           const uint8_t* pucDestino, int iLongDestino, int iValor) {                         \
        return EnviaLlamada(CODIGO, #METODO, c, iPrioridad, pucOrigen, iLongOrigen, pucDestino, iLongDestino, \
                            &iValor);                                                                         \
    }
#define MAESTRO_BLOQUE_LCEN(METODO, CODIGO)                                                     \
    int CMasterDsp::METODO(int c, const int32_t* piConfig) {                                    \
        uint8_t aucParametros[2 * NUM_CONFIG_LCEN];                                             \
        for (int i = 0; i < NUM_CONFIG_LCEN; i++)                                               \
            Pon16(aucParametros + 2 * i, static_cast<uint16_t>(piConfig[i]));                   \
        return EnviaComando(CODIGO, c, aucParametros, sizeof(aucParametros));                   \
    }
#define MAESTRO_COMANDO(a, ldsp, nombre, NOMBRE, cola, manejador, metodo, dsp, forma) \
    MAESTRO_##forma(metodo, CMD_##NOMBRE)

VK_COMANDOS_DSP(MAESTRO_COMANDO, _)
MAESTRO_VALOR(SelecCancelEcoRx, CMD_SELEC_CANCEL_ECO_RX)

// The DSP takes no R2 or N5 block: nothing is sent.
int CMasterDsp::TomaConfigR2(int /*c*/, const int32_t* /*piConfig*/) {
    return iEnlace == 0 ? ERR_ENLACE_CAIDO : ERR_DISPOSITIVO;
}
int CMasterDsp::TomaConfigN5(int /*c*/, const int32_t* /*piConfig*/) {
    return iEnlace == 0 ? ERR_ENLACE_CAIDO : ERR_DISPOSITIVO;
}

// ---- Events -------------------------------------------------------------------------------

namespace {

struct Evento {
    uint16_t usCodigo;
    const char* szNombre;
    int iParametros;  // bytes the event needs after code and channel
};

// Every event the host decodes, with the bytes it reads. The incoming call needs its two
// digit strings as well (checked on their lengths).
const Evento kEventos[] = {
    {DSPRK82_EVT_DTMF, "DSPRK82_EVT_DTMF", 2},
    {DSPRK82_EVT_SELCAL, "DSPRK82_EVT_SELCAL", 0},
    {DSPRK82_EVT_CALLER_ID, "DSPRK82_EVT_CALLER_ID", 0},
    {DSPRK82_EVT_VAD_TX, "DSPRK82_EVT_VAD_TX", 2},
    {DSPRK82_EVT_VAD_RX, "DSPRK82_EVT_VAD_RX", 2},
    {DSPRK82_EVT_CALL_PROGRESS, "DSPRK82_EVT_CALL_PROGRESS", 0},
    {DSPRK82_EVT_8016, nullptr, 1},
    {DSPRK82_EVT_ERROR_INTERNO, "DSPRK82_EVT_ERROR_INTERNO", 0},
    {DSPRK82_EVT_BUCLE, "DSPRK82_EVT_BUCLE", 4},
    {DSPRK82_EVT_LOG, "LOG", 5},
    {DSPRK82_EVT_REPOSO, "DSPRK82_EVT_REPOSO", 0},
    {DSPRK82_EVT_LIBRE, "DSPRK82_EVT_LIBRE", 0},
    {DSPRK82_EVT_OCUPADO, "DSPRK82_EVT_OCUPADO", 0},
    {DSPRK82_EVT_LLAMADA_ENTRANTE, "DSPRK82_EVT_LLAMADA_ENTRANTE", 3},
    {DSPRK82_EVT_LIBERADA, "DSPRK82_EVT_LIBERADA", 1},
    {DSPRK82_EVT_CONGESTION, "DSPRK82_EVT_CONGESTION", 0},
    {DSPRK82_EVT_FUERA_DE_SERVICIO, "DSPRK82_EVT_FUERA_DE_SERVICIO", 0},
    {DSPRK82_EVT_CONVERS_INTERRUMPIDA, "DSPRK82_EVT_CONVERS_INTERRUMPIDA", 0},
    {DSPRK82_EVT_LINEA_BLOQUEADA, "DSPRK82_EVT_LINEA_BLOQUEADA", 0},
    {DSPRK82_EVT_TIMEOUT, "DSPRK82_EVT_TIMEOUT", 0},
    {DSPRK82_EVT_ERROR_PROTOCOLO, "DSPRK82_EVT_ERROR_PROTOCOLO", 0},
    {DSPRK82_EVT_TOMA_DE_LINEA, "DSPRK82_EVT_TOMA_DE_LINEA", 0},
    {DSPRK82_EVT_LLAMADO_DESCUELGA, "DSPRK82_EVT_LLAMADO_DESCUELGA", 0},
};

const Evento* BuscaEvento(uint16_t usCodigo) {
    for (const Evento& e : kEventos)
        if (e.usCodigo == usCodigo) return &e;
    return nullptr;
}

}  // namespace

int CMasterDsp::ProcesaMensaje(const uint8_t* pucMensaje, int iLong, int* piMas) {
    *piMas = 0;
    uint16_t usCodigo = Lee16(pucMensaje);
    int iCanal = Lee16(pucMensaje + 2);
    if (usCodigo < EVT_BASE) return 0;
    if (!(usCodigo & EVT_GRUPO_1) && !(usCodigo & EVT_GRUPO_2)) {
        // The command-error event: the answer to the keep-alive probe.
        iEsperaRespuesta = 0;
        iReintentos = 0;
        return ERR_DISPOSITIVO;
    }
    // Codes of either group outside the catalogue (0x8030 has both group bits) are unknown.
    const Evento* e = BuscaEvento(usCodigo);
    if (!e) {
        TrazaDsp("DREMSON[%d]: RX MENSAJE DESCONOCIDO %X <<<<\n", iCanal, usCodigo);
        return 0;
    }
    const uint8_t* p = pucMensaje + LONG_CABECERA;
    int iParametros = iLong - LONG_CABECERA;
    int iNecesarios = e->iParametros;
    if (usCodigo == DSPRK82_EVT_LLAMADA_ENTRANTE && iParametros >= iNecesarios) iNecesarios += p[1] + p[2];
    if (iParametros < iNecesarios) {
        // Whatever lies past the message in the buffer is an older message's: never read it.
        NLOG::Log(NLOG::ERROR, "DREMSON[%d]: evento %X de %d bytes, necesita %d; se descarta", iCanal, usCodigo, iLong,
                  LONG_CABECERA + iNecesarios);
        return 0;
    }
    Despacha(usCodigo, e->szNombre, iCanal, p);
    return 0;
}

void CMasterDsp::Despacha(uint16_t usCodigo, const char* szNombre, int iCanal, const uint8_t* p) {
    CEventos* s = pServicios;
    switch (usCodigo) {
        case DSPRK82_EVT_8016:
            if (s) s->EvtDspEvento84(iDsp, iCanal, p[0]);
            return;
        case DSPRK82_EVT_BUCLE:
            NLOG::Log(NLOG::INFO, "DREMSON[%d]:DSPRK82_EVT_BUCLE: %i %i %i %i ", iCanal, p[0], p[1], p[2], p[3]);
            if (s) s->EvtBucle(iDsp, iCanal, p[0], p[1], p[2], p[3]);
            return;
        case DSPRK82_EVT_LOG:
            NLOG::Log(NLOG::INFO, "DREMSON[%d]:LOG: %i %i %i %i %i", iCanal, p[0], p[1], p[2], p[3], p[4]);
            return;
        default:
            break;
    }
    TrazaDsp("DREMSON[%d]: %s\n", iCanal, szNombre);
    if (!s) return;
    switch (usCodigo) {
        case DSPRK82_EVT_DTMF: s->EvtDigitoDtmf(iDsp, iCanal, p[0], p[1]); break;
        case DSPRK82_EVT_VAD_TX: s->EvtVoxTx(iDsp, iCanal, p[0], p[1]); break;
        case DSPRK82_EVT_VAD_RX: s->EvtVoxRx(iDsp, iCanal, p[0], p[1]); break;
        case DSPRK82_EVT_REPOSO: s->EvtReposo(iDsp, iCanal); break;
        case DSPRK82_EVT_LIBRE: s->EvtLlamadoLibre(iDsp, iCanal); break;
        case DSPRK82_EVT_OCUPADO: s->EvtLlamadoOcupado(iDsp, iCanal); break;
        case DSPRK82_EVT_LLAMADA_ENTRANTE: {
            int iLongOrigen = p[1], iLongDestino = p[2];
            s->EvtLlamadaEntrante(iDsp, iCanal, p[0], p + 3, iLongOrigen, p + 3 + iLongOrigen, iLongDestino);
            break;
        }
        case DSPRK82_EVT_LIBERADA:
            if (p[0] == CAUSA_INTERRUMPIDA)
                s->EvtConversacionInterrumpida(iDsp, iCanal);
            else
                s->EvtLlamadaLiberada(iDsp, iCanal, p[0]);
            break;
        case DSPRK82_EVT_CONGESTION: s->EvtCongestion(iDsp, iCanal); break;
        case DSPRK82_EVT_FUERA_DE_SERVICIO: s->EvtFueraServicio(iDsp, iCanal); break;
        case DSPRK82_EVT_CONVERS_INTERRUMPIDA: s->EvtConversacionInterrumpida(iDsp, iCanal); break;
        case DSPRK82_EVT_LINEA_BLOQUEADA: s->EvtLineaBloqueada(iDsp, iCanal); break;
        case DSPRK82_EVT_TIMEOUT: s->EvtTimeout(iDsp, iCanal); break;
        case DSPRK82_EVT_ERROR_PROTOCOLO: s->EvtErrorProtocolo(iDsp, iCanal); break;
        case DSPRK82_EVT_LLAMADO_DESCUELGA: s->EvtLlamadoDescuelga(iDsp, iCanal); break;
        default: break;  // traced only: selcal, caller id, call progress, internal error, line seizure
    }
}
