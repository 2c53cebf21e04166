// Host side of the message link with one DSP, whatever carries the bytes: the heartbeat
// sent when the host has been silent for a period, the link state decided from what is
// received, the size filter on received messages and the hand-over of each accepted one.
// The transport and the meaning of messages are the derived class's.
//
// Times are milliseconds of a clock the caller passes in; every deadline is tested on the
// signed difference deadline - now, so the clock may wrap.
#pragma once

#include <atomic>
#include <cstdint>

class CProtocoloDspHost {
public:
    CProtocoloDspHost();
    virtual ~CProtocoloDspHost() = default;

    // period: heartbeat after this much host silence; timeout: link down after this much
    // silence of the DSP (both ms). 0.
    int Inicia(int iPeriodo, int iTimeout);
    // One read and, when accepted, its dispatch: the length read, or -2 before Inicia.
    int Recibe(uint32_t uiAhora);
    // Heartbeat and link timeout; to be called often (every 20 ms).
    void RevisaTiempos(uint32_t uiAhora);
    void FuerzaCaida(uint32_t uiAhora);
    // The only way a message leaves: count is what the transport writes. What Escribe returns.
    int EnviaMensaje(const uint8_t* pucMensaje, int iCuenta, uint32_t uiAhora);
    // Code and channel alone.
    int EnviaCorto(uint16_t usCodigo, uint16_t usCanal, uint32_t uiAhora);

    bool EnlaceOk() const { return iEnlaceOk == 1; }

protected:
    virtual void Reset();
    virtual int EnviaTrama(uint32_t uiAhora);
    virtual int TrasMensaje() { return 0; }
    // One message into pucBuffer (room for TAM_RX); *piLong out = bytes read.
    virtual int Lee(int* piLong, uint8_t* pucBuffer) = 0;
    // *piLong in = bytes to write, out = bytes written.
    virtual int Escribe(int* piLong, const uint8_t* pucBuffer) = 0;
    // Sets *piMas to ask for TrasMensaje.
    virtual int ProcesaMensaje(const uint8_t* pucMensaje, int iLong, int* piMas) = 0;
    virtual void EvtEnlaceOk(uint32_t /*uiAhora*/) {}
    virtual void EvtEnlaceCaido(uint32_t /*uiAhora*/) {}

    static constexpr int TAM_LATIDO = 82;
    static constexpr int TAM_RX = 1002;

    int32_t iPeriodoLatido;
    // Written by every sending thread (commands come without the service lock): a lost
    // update only moves the next heartbeat by less than a period.
    std::atomic<uint32_t> iProximoLatido;
    int32_t iTimeoutEnlace;
    uint32_t iLimiteEnlace;
    // Also cleared by FuerzaCaida from the boot thread, outside the caller's lock: each
    // transition is taken with an exchange so that it is reported exactly once.
    std::atomic<int32_t> iEnlaceOk;
    int32_t iLongLatido;
    uint8_t acLatido[TAM_LATIDO];
    uint8_t acRx[TAM_RX];
    int32_t iIniciado;
};

// Signed difference of two clock times: negative or zero once a has been reached by b.
inline int32_t DiferenciaReloj(uint32_t a, uint32_t b) { return static_cast<int32_t>(a - b); }
