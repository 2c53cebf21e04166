// Forwarding of the DSP's events to the resource process that owns each channel. The handlers
// run on the boot/receive thread with tMutex held: the message is sent under it, the trace
// (and an incoming call's automatic answer) with it released.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "cserviciosdsp.h"
#include "ipc/cola.h"
#include "trazadsp.h"

bool CServiciosDsp::Destino(int iDsp, int iCanal, int32_t* pidRecurso, Cola** ppCanal) {
    Cola* p = ObtenCanalIpcRecurso(iDsp, static_cast<uint16_t>(iCanal));
    if (!p) return false;
    *pidRecurso = asListaDsp[0].aiIdRecurso[static_cast<uint16_t>(iCanal)];
    *ppCanal = p;
    return true;
}

void CServiciosDsp::NingunaLlamadaEspera(int iDsp, int iCanal) {
    if (iDsp == 0 && static_cast<uint16_t>(iCanal) < NUM_CANALES)
        asListaDsp[0].aiIndicadores[static_cast<uint16_t>(iCanal)] &= ~IND_LLAMADA_ESPERA;
}

void CServiciosDsp::TrazaEvento(bool bEnviado, const char* szFormato, ...) {
    char ac[256];
    va_list ap;
    va_start(ap, szFormato);
    vsnprintf(ac, sizeof(ac), szFormato, ap);
    va_end(ap);
    Suelta();
    TrazaDsp("%s", ac);
    if (!bEnviado) TrazaDsp("CDREMSON-> ERROR. Recurso DSP no existe\n");
    Toma();
}

void CServiciosDsp::EvtDigitoDtmf(int iDsp, int iCanal, int iDigito, int iValor) {
    int32_t id;
    Cola* p;
    bool b = Destino(iDsp, iCanal, &id, &p);
    if (b) p->EnviaDigitoDtmf(id, static_cast<uint8_t>(iDigito), iValor);
    TrazaEvento(b, "CDREMSON::EvtDigitoDtmf( %d, %d, %d, %d)\n", iDsp, iCanal, iDigito, iValor);
}

void CServiciosDsp::EvtVoxTx(int iDsp, int iCanal, int a, int b) {
    int32_t id;
    Cola* p;
    bool bEnviado = Destino(iDsp, iCanal, &id, &p);
    if (bEnviado) p->EnviaSelecVoxTx(id, a, b);
    TrazaEvento(bEnviado, "CDREMSON::EvtVoxTx( %d, %d, %d, %d)\n", iDsp, iCanal, a, b);
}

void CServiciosDsp::EvtVoxRx(int iDsp, int iCanal, int a, int b) {
    int32_t id;
    Cola* p;
    bool bEnviado = Destino(iDsp, iCanal, &id, &p);
    if (bEnviado) p->EnviaSelecVoxRx(id, a, b);
    TrazaEvento(bEnviado, "CDREMSON::EvtVoxRx( %d, %d, %d, %d)\n", iDsp, iCanal, a, b);
}

void CServiciosDsp::EvtDspEvento84(int iDsp, int iCanal, int iValor) {
    int32_t id;
    Cola* p;
    bool b = Destino(iDsp, iCanal, &id, &p);
    if (b) p->EnviaDspEvento84(id, iValor);
    TrazaEvento(b, "CDREMSON::EvtDspEvento84( %d, %d, %d)\n", iDsp, iCanal, iValor);
}

void CServiciosDsp::EvtBucle(int iDsp, int iCanal, int a, int b, int c, int d) {
    int32_t id;
    Cola* p;
    bool bEnviado = Destino(iDsp, iCanal, &id, &p);
    // b in the most significant byte, c in the next; a is not forwarded.
    uint32_t uiEmpaquetado = (static_cast<uint32_t>(b & 0xFF) << 24) | (static_cast<uint32_t>(c & 0xFF) << 16);
    if (bEnviado) p->EnviaBucle(id, static_cast<int32_t>(uiEmpaquetado), d);
    TrazaEvento(bEnviado, "CDREMSON::EvtBucle( %d, %d, %d, %d, %d, %d)\n", iDsp, iCanal, a, b, c, d);
}

// Events without values: one IPC sender each.
#define DSP_EVENTO(NOMBRE, ENVIO)                                                 \
    void CServiciosDsp::NOMBRE(int iDsp, int iCanal) {                            \
        int32_t id;                                                               \
        Cola* p;                                                                  \
        bool b = Destino(iDsp, iCanal, &id, &p);                                  \
        if (b) p->ENVIO(id);                                                      \
        TrazaEvento(b, "CDREMSON::" #NOMBRE "( %d, %d)\n", iDsp, iCanal);         \
    }

DSP_EVENTO(EvtLlamadoLibre, EnviaRespondeLibre)
DSP_EVENTO(EvtLlamadoOcupado, EnviaRespondeOcupado)
DSP_EVENTO(EvtConversacionInterrumpida, EnviaDspConversacionInterrumpida)
DSP_EVENTO(EvtCongestion, EnviaRespondeCongestion)
DSP_EVENTO(EvtFueraServicio, EnviaRespondeFueraDeServicio)
DSP_EVENTO(EvtLineaBloqueada, EnviaDspLineaBloqueada)
DSP_EVENTO(EvtTimeout, EnviaDspTimeout)
DSP_EVENTO(EvtErrorProtocolo, EnviaDspErrorProtocolo)
DSP_EVENTO(EvtLlamadoDescuelga, EnviaDescuelga)

void CServiciosDsp::EvtReposo(int iDsp, int iCanal) {
    // No call waits any more, owner or not; cleared before the owner hears of it, which may
    // choose an answer at once.
    NingunaLlamadaEspera(iDsp, iCanal);
    int32_t id;
    Cola* p;
    bool b = Destino(iDsp, iCanal, &id, &p);
    if (b) p->EnviaDspReposo(id);
    TrazaEvento(b, "CDREMSON::EvtReposo( %d, %d)\n", iDsp, iCanal);
}

void CServiciosDsp::EvtLlamadaLiberada(int iDsp, int iCanal, int iCausa) {
    NingunaLlamadaEspera(iDsp, iCanal);
    int32_t id;
    Cola* p;
    bool b = Destino(iDsp, iCanal, &id, &p);
    if (b) p->EnviaFinLlamadaCausa(id, iCausa);
    TrazaEvento(b, "CDREMSON::EvtLlamadaLiberada( %d, %d, %d)\n", iDsp, iCanal, iCausa);
}

void CServiciosDsp::EvtLlamadaEntrante(int iDsp, int iCanal, int iPrioridad, const uint8_t* pucOrigen,
                                       int iLongOrigen, const uint8_t* pucDestino, int iLongDestino) {
    const uint16_t usCanal = static_cast<uint16_t>(iCanal);
    // Dropped whole: no message, no answer, no change to the table.
    if (iDsp != 0 || usCanal >= NUM_CANALES) return;
    if (!pucOrigen) iLongOrigen = 0;
    if (!pucDestino) iLongDestino = 0;
    EntradaDsp& e = asListaDsp[0];
    const int iRespuesta = e.aiRespuestas[usCanal];
    // Without an automatic answer the call waits; marked before the owner hears of it, which
    // may choose an answer at once.
    const bool bEspera = iRespuesta < RESPUESTA_LIBRE || iRespuesta > RESPUESTA_FUERA_SERVICIO;
    if (bEspera) e.aiIndicadores[usCanal] |= IND_LLAMADA_ESPERA;
    int32_t id;
    Cola* p;
    bool b = Destino(iDsp, iCanal, &id, &p);
    if (b) p->EnviaLlama(id, iPrioridad, pucOrigen, iLongOrigen, pucDestino, iLongDestino);
    int32_t idRecurso = e.aiIdRecurso[usCanal];
    Suelta();
    char acOrigen[31] = {0}, acDestino[31] = {0};
    if (iLongOrigen > 0) std::memcpy(acOrigen, pucOrigen, static_cast<size_t>(iLongOrigen < 30 ? iLongOrigen : 30));
    if (iLongDestino > 0)
        std::memcpy(acDestino, pucDestino, static_cast<size_t>(iLongDestino < 30 ? iLongDestino : 30));
    TrazaDsp("CDREMSON::EvtLlamadaEntrante(iDsp=%d, Recurso=%d, Prioridad=%d, Origen=%s, Destino=%s )\n", iDsp,
             idRecurso, iPrioridad, acOrigen, acDestino);
    if (!b) TrazaDsp("CDREMSON-> ERROR. Recurso DSP no existe\n");
    static const char* const kRespuestas[] = {nullptr, "LIBRE", "OCUPADO", "CONGESTION", "FUERA DE SERVICIO"};
    switch (iRespuesta) {
        case RESPUESTA_NINGUNA: break;
        case RESPUESTA_LIBRE:
        case RESPUESTA_OCUPADO:
        case RESPUESTA_CONGESTION:
        case RESPUESTA_FUERA_SERVICIO:
            TrazaDsp("CDREMSON: Respuesta automatica %s. DSP=%d, Recurso=%d\n", kRespuestas[iRespuesta], iDsp,
                     idRecurso);
            if (iRespuesta == RESPUESTA_LIBRE) RespondeLibre(idRecurso);
            if (iRespuesta == RESPUESTA_OCUPADO) RespondeOcupado(idRecurso);
            if (iRespuesta == RESPUESTA_CONGESTION) RespondeCongestion(idRecurso);
            if (iRespuesta == RESPUESTA_FUERA_SERVICIO) RespondeFueraDeServicio(idRecurso);
            break;
        default:
            TrazaDsp("CDREMSON: Respuesta automatica %d corrupta. DSP=%d, Recurso=%d\n", iRespuesta, iDsp, idRecurso);
            break;
    }
    Toma();
}
