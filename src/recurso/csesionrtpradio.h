// RTP session of a WG-67 (ED-137) radio session: every packet carries the radio header
// extension with the signalling state, optionally followed by one block (report, value or
// timing); keep-alives carry it between voice packets, and a round trip of timing blocks
// measures the network delay for the climax-delay compensation.
//
// One class, two roles: the PTT side sends PTT type, value blocks and timing requests and
// reads squelch, reports and timing replies; the squelch side sends squelch and reports,
// answers timing requests and reads PTT type, flags, values and requests.
//
// Times are 8 kHz samples (125 us); 23-bit times are the sample clock modulo 2^23.
// No lock: the owner serialises every call, as for CSesionRTP.
#pragma once

#include <cstdint>

#include "csesionrtp.h"

class CSesionRTPRadio : public CSesionRTP {
public:
    static constexpr uint16_t ID_EXTENSION_MODO1 = 0x0167;  // 6-bit PTT-id layout, with blocks
    static constexpr uint16_t ID_EXTENSION_MODO0 = 0x0067;  // 4-bit PTT-id layout
    static constexpr uint8_t PAYLOAD_KEEPALIVE = 123;
    static constexpr int32_t MAX_PALABRAS = 4;
    static constexpr uint32_t MASCARA_23 = 0x7FFFFF;
    // Block types of mode 1.
    enum { BLOQUE_NINGUNO = 0, BLOQUE_INFORME = 1, BLOQUE_VALOR = 2, BLOQUE_TIPO3 = 3, BLOQUE_TIMING = 4 };

    // Climax-delay estimate from the last timing request and its reply.
    struct EstimadorClimax {
        int32_t iIdRecurso = 0;
        uint32_t uiFijo1 = 0, uiFijo2 = 0;    // fixed delays
        int32_t iRetardo = 0, iRetardoCopia = 0;
        int32_t iModoAbsoluto = 0;            // sent in the request
        int32_t iAbsolutoRespuesta = 0;       // sent in replies
        int32_t iPeticionPendiente = -1;      // bit 23 of the last request received, -1 none
        uint32_t uiT1 = 0;                    // when the last request was sent
        uint32_t uiT3 = 0;                    // when its reply arrived
        uint32_t uiT1Recibido = 0;            // from a request, or echoed in a reply
        int32_t iAbsolutoEco = 0;
        uint32_t uiLlegadaPeticion = 0;       // full sample time
        uint32_t uiAuxiliar = 0;
        uint32_t uiT2 = 0;                    // the peer's arrival time of the request
        uint16_t usRetornoEnviado = 0;
        uint16_t usValor3 = 0, usValor4 = 0;  // local values sent in replies
        uint16_t usRetornoRecibido = 0, usValor3Recibido = 0, usValor4Recibido = 0;
        uint16_t usCerrojoValor4 = 0xFFFF;    // until the first value 4 (or a local type-2 value)
        uint8_t ucValorT2Enviado = 0, ucValorT2Recibido = 0;
        uint32_t uiTsPeticion = 0;            // RTP timestamp of the packet with the last request

        void Reinicia();
        // The delay after a matching reply, from the recorded times and values.
        void Calcula();
    };

    CSesionRTPRadio();
    ~CSesionRTPRadio() override;

    // Setters (times in milliseconds where said).
    void FijaTipoPtt(int32_t iTipo);  // 0-4; a change sends at the next tick
    void FijaSquelch(int32_t iOn) { iSquelch = iOn ? 1 : 0; }
    void FijaPttId(int32_t iId) { iPttId = iId & 0x3F; }
    void FijaBit21(int32_t v) { iBit21 = v ? 1 : 0; }
    void FijaBit20(int32_t v) { iBit20 = v ? 1 : 0; }
    void FijaInformeA(int32_t v) { iInformeA = v; }
    void FijaInformeB(int32_t v) { iInformeB = v; }
    void FijaFlagX(int32_t v) { iFlagX = v ? 1 : 0; }
    void FijaFlagY(int32_t v) { iFlagY = v ? 1 : 0; }
    void FijaCampoC(int32_t v) { iCampoC = v; }
    void FijaCampoD(int32_t v) { iCampoD = v; }
    void FijaValorTipo3(uint8_t v);    // also makes a type-3 block due
    void FijaValorTipo2(uint8_t v);    // also handed to the estimator
    void FijaIdRecurso(int32_t v);
    void FijaRetardosFijos(uint32_t uiMs1, uint32_t uiMs2);
    void FijaValores34(uint32_t uiMs3, uint32_t uiMs4);
    void FijaPeriodoKeepAlive(int32_t v) { iPeriodoKA = v; }
    void FijaMultiplicadorKeepAlive(int32_t v) { iMultiplicadorKA = v; }
    void FijaRecargaKeepAlive(int32_t v) { iRecargaKA = v; }
    void FijaTipo3Extendido(int32_t v) { iTipo3Extendido = v ? 1 : 0; }
    void FijaTiming(int32_t v) { iTiming = v ? 1 : 0; }
    void FijaModo(int32_t v) { iModo = v ? 1 : 0; }
    void Set_TipoCompCld(int32_t iTipo);

    // Getters.
    int32_t DameTipoPttRecibido() const { return iTipoPttRx; }
    int32_t DameSquelch() const { return iSquelch; }
    int32_t DameBit21Recibido() const { return iBit21Rx; }
    int32_t DamePttIdRecibido() const { return iPttIdRx; }
    int32_t DameInformeA() const { return iInformeA; }
    int32_t DameInformeB() const { return iInformeB; }
    int32_t DamePttId() const { return iPttId; }
    uint8_t DameValorTipo2Recibido() const { return ucValorT2Rx; }
    int32_t DameRetardo() const { return sEstimador.iRetardo; }
    int32_t ModoAbsolutoEnUso() const { return sEstimador.iModoAbsoluto && sEstimador.iAbsolutoEco; }
    uint32_t DameTsPeticion() const { return sEstimador.uiTsPeticion; }
    uint32_t DameT1() const { return sEstimador.uiT1; }
    int32_t DameCuentaKeepAlive() const { return iCuentaKA; }
    const EstimadorClimax& DameEstimador() const { return sEstimador; }
    int32_t LeeCambio();              // read and clear
    uint8_t LeeValorTipo3Recibido();  // read, then 255 (none)

    // Sends: PTT side, then squelch side. 0 or the RTP layer's error.
    int EnviaAudio(const void* pDatos, int32_t iLongitud);
    int EnviaKeepAlive();
    int EnviaAudioSq(const void* pDatos, int32_t iLongitud);
    int EnviaKeepAliveSq(int32_t iTipo);

    // Next packet of the current source with its extension read; null when none. The
    // caller hands it back with DeletePacket.
    RTPPacket* RecibePaquete();
    RTPPacket* RecibePaqueteSq();

    // Ticks of the owner: -1 when the countdown was already 0, else what is left. A
    // keep-alive countdown that runs out sends a keep-alive.
    int32_t TickKeepAlive(int32_t iTranscurrido);
    int32_t TickKeepAliveSq(int32_t iTranscurrido);
    int32_t TickRecepcion(int32_t iTranscurrido);

    void MarcaEnviando() { iEnviando = 1; }
    // Answers a pending timing request: 0 sent, 1 not sent.
    int RespondeTiming();
    // SSRC of the current source (0 when none).
    uint32_t DameInfoFuente();

    // Builds the extension of a send (big-endian bytes, at most MAX_PALABRAS words) and returns
    // its word count. Building is part of sending: a timing request stores its T1, a type-3
    // block clears its due flag.
    int32_t ConstruyePtt(int32_t iTipoBloque, uint8_t* pucExt);
    int32_t ConstruyeSq(int32_t iTipoBloque, uint8_t* pucExt);

    // Sample clock (modulo 2^23); replaceable in tests.
    typedef uint32_t (*FnReloj)();
    void FijaReloj(FnReloj fn) { fnReloj = fn; }

private:
    uint16_t IdExtension() const { return iModo ? ID_EXTENSION_MODO1 : ID_EXTENSION_MODO0; }
    uint32_t Ahora() const;
    int32_t EligeBloqueSq(bool bKeepAlive) const;
    int Envia(const void* pDatos, int32_t iLongitud, bool bKeepAlive, const uint8_t* pucExt, int32_t iPalabras);
    int32_t Descuenta(int32_t& iCuenta, int32_t iTranscurrido);
    void RecargaRecepcion() { iCuentaRecepcion = iPeriodoKA * iMultiplicadorKA; }
    // Reads the first word common to both sides; false when the packet has no extension.
    bool LeeCabecera(const RTPPacket* p, uint32_t& uiPalabra);
    void LeeRespuestaTiming(const uint8_t* pucExt);
    void LeePeticionTiming(const uint8_t* pucExt, uint32_t uiTs);
    template <class T>
    void Actualiza(T& campo, T valor) {
        if (campo != valor) {
            campo = valor;
            iCambio = 1;
        }
    }

    int32_t iTipoPtt = 0;
    int32_t iTipoPttRx = 0;
    int32_t iSquelch = 0;
    int32_t iInformeA = -1, iInformeB = -1;
    int32_t iCambio = 0;
    int32_t iTipo3Pendiente = 0;
    int32_t iBit21Rx = 0, iBit21 = 0, iBit20 = 0;
    int32_t iPttId = 0, iPttIdRx = 0;
    uint8_t ucValorT2 = 0, ucValorT2Rx = 0;
    int32_t iIdRecurso = 0;
    EstimadorClimax sEstimador;
    uint8_t ucTipo3Rx = 255, ucTipo3 = 0;
    int32_t iTipo3Extendido = 0, iTiming = 0;
    int32_t iCuentaKA = 0, iCuentaRecepcion = 0;
    int32_t iMultiplicadorKA = 0, iPeriodoKA = 0, iRecargaKA = 0, iContadorKA = 0;
    int32_t iFlagX = 0, iFlagY = 0, iCampoC = 0, iCampoD = 0;
    FnReloj fnReloj = nullptr;
};
