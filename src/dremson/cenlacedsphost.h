// Host side of the message link with a DSP reached over an unreliable byte stream: the same
// messages as CMasterDsp, each carried in a byte-stuffed frame with a CRC and a sequence
// number, acknowledged by the other side and written again until it is (at most a few
// times). Abstract: a derived class supplies the transport (Lee, Escribe, HayEspacio,
// BytesDisponibles) and the meaning of messages (ProcesaMensaje).
//
// Frame: 0xFE, body, 0xFF. Body: CRC (u16 LE), sequence (u16 LE), message; every body byte
// 0xFD, 0xFE or 0xFF goes out preceded by 0xFD. The CRC is CRC-16/CCITT-FALSE over the
// sequence and the message. Data frames carry the number of their retransmission slot as
// the sequence; an acknowledgement is message 0x0002 on channel 0 with the sequence acked.
//
// Like its base, it takes no lock: the owner serialises every call on one object.
#pragma once

#include <cstdint>

#include "cprotocolodsphost.h"

class CEnlaceDspHost : public CProtocoloDspHost {
public:
    static constexpr int NUM_RANURAS = 24;
    static constexpr int TAM_ANILLO = 64;
    static constexpr int MAX_CUERPO = 512;
    static constexpr int MAX_TRAMA = 138;  // 64-byte message, every body byte escaped, the two flags
    static constexpr uint8_t INICIO = 0xFE;
    static constexpr uint8_t FIN = 0xFF;
    static constexpr uint8_t ESCAPE = 0xFD;
    static constexpr uint16_t CMD_ACUSE = 0x0002;
    static constexpr int ERR_ANILLO_LLENO = -3;

    CEnlaceDspHost();
    ~CEnlaceDspHost() override;
    CEnlaceDspHost(const CEnlaceDspHost&) = delete;
    CEnlaceDspHost& operator=(const CEnlaceDspHost&) = delete;

    // Timeout and maximum count of the retransmissions; heartbeat period and link timeout as
    // in the base (ms). 0, or -1 when the pool cannot be created.
    int Inicia(int iTimeoutRetx, int iMaxEscrituras, int iPeriodo, int iTimeout);
    // A message of 4 to 64 bytes: written in a frame at once, or kept in the transmit ring
    // while the transport has no room or every slot waits for its acknowledgement. What the
    // write returns; 0 when kept; -3 with the ring full; -1 for a bad message.
    int EnviaMensaje(const uint8_t* pucMensaje, int iLong, uint32_t uiAhora);
    int EnviaCorto(uint16_t usCodigo, uint16_t usCanal, uint32_t uiAhora);
    // Reads what waits, handles every whole frame in it, retransmits, drains the ring and
    // runs the base's timers. The bytes read, or -2 before Inicia.
    int Recibe(uint32_t uiAhora);
    uint32_t LeeErroresCrc(bool bBorra);
    // Empties the transmit ring and frees every slot.
    void Vacia();

    // CRC-16/CCITT-FALSE.
    static uint16_t Crc16(const uint8_t* puc, int n, uint16_t usCrc = 0xFFFF);

protected:
    void Reset() override;
    int TrasMensaje() override { return 0; }
    // 1 when n bytes can be written now.
    virtual int HayEspacio(int n) = 0;
    // Bytes waiting to be read.
    virtual int BytesDisponibles() = 0;

private:
    struct Ranura {
        uint32_t uiTiempo;     // time of the last write
        uint32_t uiEscrituras;  // writes so far; 0 = free
    };
    struct Pool {
        Ranura asRanuras[NUM_RANURAS];
        int iUltima;   // slot taken last
        int iEnUso;
        uint32_t uiTiempoMasVieja;
        int iMasVieja;  // -1 when none is in use
        uint32_t uiTimeout;
        uint32_t uiMaximo;
    };
    struct EntradaAnillo {
        uint32_t uiLong;
        uint8_t auc[64];
    };

    // Frame of a body (CRC computed here) into pucTrama; its length.
    static int ConstruyeTrama(uint16_t usSecuencia, const uint8_t* pucMensaje, int iLong, uint8_t* pucTrama);
    int EscribeTrama(const uint8_t* pucTrama, int iLong);
    // Slot taken for a new frame, or -1.
    int TomaRanura(uint32_t uiAhora);
    void LiberaRanura(int i);
    void BuscaMasVieja();
    // Sends a message that has room and a slot.
    int EnviaAhora(const uint8_t* pucMensaje, int iLong, uint32_t uiAhora);
    bool PuedeEnviar(int iLong);
    // Consumes bytes into the body; sets *pbTrama when one frame is complete. Bytes consumed.
    int Analiza(const uint8_t* puc, int n, bool* pbTrama);
    void TrataTrama(uint32_t uiAhora);
    void Retransmite(uint32_t uiAhora);
    void VaciaAnillo(uint32_t uiAhora);

    int iLeeAnillo = 0, iEscribeAnillo = 0, iCuentaAnillo = 0;
    EntradaAnillo asAnillo[TAM_ANILLO];
    Pool* pPool = nullptr;
    uint8_t aacTramas[NUM_RANURAS][MAX_TRAMA];
    int aiLongTramas[NUM_RANURAS];
    uint8_t acCuerpo[MAX_CUERPO];
    enum { CAZANDO, DENTRO, ESCAPADO } eEstado = CAZANDO;
    int iLongCuerpo = 0;
    uint32_t uiErroresCrc = 0;
    uint8_t acAcuse[4];
    uint8_t acTrama[MAX_TRAMA];
};
