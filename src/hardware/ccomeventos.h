// Events of a line entity: what the hardware layer and the DSP client deliver to the
// object that owns a line. Every handler does nothing and answers -1 unless a line entity
// overrides it. The slot order is fixed: the hardware layer and the entities rely on it.
#pragma once

#include <cstdint>

class CComeventos {
public:
    // Discrete input of the module (first input bank).
    virtual int EvtSquelchOn() { return -1; }
    virtual int EvtReservado1() { return -1; }
    virtual int EvtSquelchOff() { return -1; }
    virtual int EvtReservado3() { return -1; }
    // Second input bank.
    virtual int EvtEntradaActiva() { return -1; }
    virtual int EvtEntradaInactiva() { return -1; }
    // Line-module supervision (argument: the module).
    virtual int EvtDetRing(int /*iModulo*/) { return -1; }
    virtual int EvtDetFinRing(int /*iModulo*/) { return -1; }
    virtual int EvtCierreBucle(int /*iModulo*/) { return -1; }
    virtual int EvtBucleAbierto(int /*iModulo*/) { return -1; }
    virtual int EvtDetLlamadaEyM(int /*iModulo*/) { return -1; }
    virtual int EvtDetFinLlamadaEyM(int /*iModulo*/) { return -1; }
    virtual int EvtFalloSlic(int /*iModulo*/, int /*iEstado*/) { return -1; }
    virtual int EvtReservado13() { return -1; }
    // Tone player: encoded G.711 samples, one byte each.
    virtual int EvtMuestrasPlayFile(int /*iValor*/, int /*iCuenta*/, const uint8_t* /*pucMuestras*/) { return -1; }
    // DSP client.
    virtual int EvtDspRecursoCreado(int /*iIdRecurso*/) { return -1; }
    virtual int EvtDspLiberaRecurso() { return -1; }
    virtual int EvtDspDigitoDtmf(uint8_t /*ucDigito*/, int /*iValor*/) { return -1; }
    virtual int EvtDspSelcal(uint8_t /*ucDigito*/, int /*iValor*/) { return -1; }
    virtual int EvtDspCallerId(int /*iLongitud*/, const char* /*szTexto*/) { return -1; }
    virtual int EvtDspVoxTx(int /*iDetectado*/, int /*iNivel*/) { return -1; }
    virtual int EvtDspVoxRx(int /*iDetectado*/, int /*iNivel*/) { return -1; }
    virtual int EvtDspCallProgress(int /*iValor*/) { return -1; }
    virtual int EvtDspEvento84(int /*iValor*/) { return -1; }
    virtual int EvtDspBucle(int /*iValor1*/, int /*iValor2*/) { return -1; }
    virtual int EvtDspErrorInterno(int /*iValor*/) { return -1; }
    virtual int EvtDspReposo() { return -1; }
    virtual int EvtDspLlamadoLibre() { return -1; }
    virtual int EvtDspLlamadoOcupado() { return -1; }
    virtual int EvtDspLlamadoDescuelga() { return -1; }
    // Incoming line call: priority, then the origin and destination digits with their counts.
    virtual int EvtDspLlamadaEntrante(int /*iPrioridad*/, const char* /*pcOrigen*/, int /*iLongOrigen*/,
                                      const char* /*pcDestino*/, int /*iLongDestino*/) { return -1; }
    virtual int EvtDspLlamadaLiberada(int /*iCausa*/) { return -1; }
    virtual int EvtDspCongestion() { return -1; }
    virtual int EvtDspFueraServicio() { return -1; }
    virtual int EvtDspConversacionInterrumpida() { return -1; }
    virtual int EvtDspLineaBloqueada() { return -1; }
    virtual int EvtDspTimeout() { return -1; }
    virtual int EvtDspErrorProtocolo() { return -1; }
};
