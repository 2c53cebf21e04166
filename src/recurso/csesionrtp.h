// RTP audio session of a resource process: G.711 at 8 kHz between one local port and one
// remote address and port.
//
// The line's PCM device has a law of its own (A-law on this board). The session carries the
// law of its payload type on the wire (0 mu-law, 8 A-law) and converts at this boundary, so
// everything on the line side (PCM bytes, tone files, the entity's codecs) stays in the
// device's law whatever the session negotiated.
//
// No lock: the line entity serialises every call on a session under its audio lock.
#pragma once

#include <cstdint>

#include "rtpsession.h"

class CSesionRTP : public RTPSession {
public:
    // (SR context, NTP time of the report in timestamp units, RTP timestamp of the report)
    typedef void (*FnCallbackSR)(uint32_t uiContexto, uint32_t uiNtp, uint32_t uiRtp);

    static constexpr int32_t PAYLOAD_PCMU = 0;
    static constexpr int32_t PAYLOAD_PCMA = 8;
    static constexpr int32_t TIPO_IF_RADIO = 0;
    // The remote address text lies in bytes 20-39 of the session record.
    static constexpr int32_t LON_MAX_DIRECCION = 20;

    CSesionRTP();
    ~CSesionRTP() override;

    // Interface type of the process's resource (iTipoIf): radio sessions send with a
    // timestamp increment of 0. Set once the configuration is known.
    static void FijaTipoInterfaz(int32_t iTipoIf);

    // Opens the sockets on the local port and adds the remote end. The remote address must
    // be four dotted fields of 0-255 and both ports in range, else nothing is opened.
    // Payload type -1: none yet (an inactive offer); nothing can be sent until FijaPayload.
    // 0, or -1 (traced); on -1 the caller deletes the session.
    int Crea(int32_t iPuertoLocal, const char* szDirRemota, int32_t iPuertoRemoto, int32_t iPayload,
             int32_t iFrecuencia, int32_t iIncremento, int32_t iModo);
    int CreaSesion(int32_t iModo, const RTPSessionParams& sParametros, const RTPTransmissionParams* psTransmision,
                   int iProtocolo);

    void FijaCallbackSR(FnCallbackSR fn, uint32_t uiContexto);
    // Last sender report of the current source; both 0 (result 0) when it sent none.
    int DameUltimoSR(uint32_t& uiNtp, uint32_t& uiRtp);
    // NTP time (seconds since 1900, binary fraction) in timestamp units, wrapping.
    uint32_t NtpEnUnidades(uint32_t uiSegundos, uint32_t uiFraccion) const;

    // Default payload type of a session created without one: 0, or -1 (not 0-127).
    int FijaPayload(int32_t iPayload);

    // Law of the line's PCM bytes: PAYLOAD_PCMA (the default) or PAYLOAD_PCMU.
    void FijaLeyLinea(int32_t iPayloadLinea);
    // Sends n bytes of line audio as one packet of the default payload type.
    int EnviaMuestrasLinea(const uint8_t* pucMuestras, int32_t n);
    // n samples of the line went by unsent (receive-only, a failed read): the timestamp
    // keeps to the sampling clock across the pause and the next packet carries the marker,
    // so that a receiver's jitter buffer sees a new talkspurt and not a late packet.
    void PasaSilencio(uint32_t n);
    // The packet's payload from byte iDesde on, in the line's law (at most iCapacidad bytes);
    // the count written. A payload type other than G.711 is copied as it is.
    int32_t MuestrasParaLinea(const RTPPacket* pPaquete, int32_t iDesde, uint8_t* pucDestino,
                              int32_t iCapacidad) const;

    // Countdowns in the owner's units: -1 when already 0, else what is left.
    void FijaCuentaA(uint32_t v) { uiCuentaA = v; }
    void FijaCuentaB(uint32_t v) { uiCuentaB = v; }
    void FijaCuentaC(uint32_t v) { uiCuentaC = v; }
    void FijaCuentaD(uint32_t v) { uiCuentaD = v; }
    uint32_t DameCuentaD() const { return uiCuentaD; }
    int32_t DescuentaA(uint32_t uiTranscurrido);
    int32_t DescuentaB(uint32_t uiTranscurrido);
    int32_t DescuentaC(uint32_t uiTranscurrido);

    int32_t DameModo() const { return iModo; }
    uint32_t DameFrecuencia() const { return uiFrecuencia; }
    uint32_t DameFraccionNtpUnidad() const { return uiFraccionNtpUnidad; }
    uint8_t DamePayload() const { return ucPayload; }

protected:
    void OnRTCPCompoundPacket(RTCPCompoundPacket* pCompuesto, const RTPTime& tRecepcion,
                              const RTPAddress* pOrigen) override;

    uint32_t uiContextoSR = 0;
    double dUnidadTs = 1.0 / 8000.0;  // seconds per timestamp unit
    FnCallbackSR fnCallbackSR = nullptr;
    uint32_t uiFrecuencia = 8000;       // timestamp units per second
    uint32_t uiFraccionNtpUnidad = 0;   // 2^32 x the unit, truncated
    int32_t iModo = 0;                  // layout of the radio header extension
    uint32_t uiCuentaA = 0, uiCuentaB = 0, uiCuentaC = 0, uiCuentaD = 0;
    int32_t iEnviando = 0;

private:
    static int32_t Descuenta(uint32_t& uiCuenta, uint32_t uiTranscurrido);
    void Traza(const char* szPrefijo, int iError);
    int Envia(const uint8_t* puc, size_t n);

    uint8_t ucPayload = PAYLOAD_PCMA;   // default payload type of the session
    bool bTienePayload = false;
    uint32_t uiIncremento = 0;          // timestamp units per packet sent
    bool bTrasPausa = false;            // the next packet opens a talkspurt
    int32_t iLeyLinea = PAYLOAD_PCMA;
    uint8_t aucEnvio[1500];             // a send converted to the wire's law
};
