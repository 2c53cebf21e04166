#include "csesionrtpradio.h"

#include <cstring>

#include "comun/ganchosipc.h"
#include "comun/nlog.h"
#include "comun/tiempo.h"

namespace {

// Extension words go on the wire big-endian, whatever the host.
void PonPalabra(uint8_t* p, uint32_t w) {
    p[0] = static_cast<uint8_t>(w >> 24);
    p[1] = static_cast<uint8_t>(w >> 16);
    p[2] = static_cast<uint8_t>(w >> 8);
    p[3] = static_cast<uint8_t>(w);
}

uint32_t LeePalabra(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

uint32_t Lee23(const uint8_t* p) { return (uint32_t(p[0] & 0x7F) << 16) | (uint32_t(p[1]) << 8) | p[2]; }

uint16_t Lee16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

void Pon16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

// A 23-bit time with a flag in bit 23, as three bytes.
void Pon24(uint8_t* p, uint32_t uiTiempo, int32_t iBit23) {
    p[0] = static_cast<uint8_t>((iBit23 ? 0x80 : 0) | ((uiTiempo >> 16) & 0x7F));
    p[1] = static_cast<uint8_t>(uiTiempo >> 8);
    p[2] = static_cast<uint8_t>(uiTiempo);
}

// First word of mode 1 with a block: marker bit 16, type, length and the block's first byte.
uint32_t Bloque(int32_t iTipo, int32_t iLongitud, uint8_t ucPrimero) {
    return (1u << 16) | (uint32_t(iTipo & 0xF) << 12) | (uint32_t(iLongitud & 0xF) << 8) | ucPrimero;
}

uint8_t Informe(int32_t iB, int32_t iA) { return static_cast<uint8_t>(((iB & 0x1F) << 3) | (iA & 0x7)); }

// A received PTT type of 5-7 is not one of the profile's.
int32_t TipoPtt(uint32_t w) {
    int32_t t = static_cast<int32_t>(w >> 29);
    return t > 4 ? 0 : t;
}

// The block announced by the first word, when the extension holds all of it: its type,
// else BLOQUE_NINGUNO.
int32_t TipoBloque(uint32_t w, size_t iLongitudExt, int32_t iMinimo) {
    if (!(w & (1u << 16))) return CSesionRTPRadio::BLOQUE_NINGUNO;
    int32_t iLongitud = static_cast<int32_t>((w >> 8) & 0xF);
    if (iLongitud < iMinimo || static_cast<size_t>(3 + iLongitud) > iLongitudExt) return CSesionRTPRadio::BLOQUE_NINGUNO;
    return static_cast<int32_t>((w >> 12) & 0xF);
}

}  // namespace

void CSesionRTPRadio::EstimadorClimax::Reinicia() { *this = EstimadorClimax(); }

void CSesionRTPRadio::EstimadorClimax::Calcula() {
    // Differences of the 23-bit clock are taken modulo 2^23, so a wrap between the request
    // and its reply does not turn into a delay of half an hour.
    uint32_t uiSuma = uiFijo1 + uiFijo2 + usValor3Recibido + usValor4Recibido;
    if (iModoAbsoluto && iAbsolutoEco)
        uiSuma += (uiT2 - uiT1) & MASCARA_23;
    else
        uiSuma += ((uiT3 - uiT1 - usRetornoRecibido) & MASCARA_23) >> 1;
    iRetardo = static_cast<int32_t>(uiSuma);
    iRetardoCopia = iRetardo;
}

CSesionRTPRadio::CSesionRTPRadio() { sEstimador.Reinicia(); }

CSesionRTPRadio::~CSesionRTPRadio() = default;

uint32_t CSesionRTPRadio::Ahora() const {
    if (fnReloj) return fnReloj() & MASCARA_23;
    uint32_t t = 0;
    DameTiempoMuestras(&t);
    return t & MASCARA_23;
}

void CSesionRTPRadio::FijaTipoPtt(int32_t iTipo) {
    if (iTipo < 0 || iTipo > 4 || iTipo == iTipoPtt) return;
    iTipoPtt = iTipo;
    iCuentaKA = 1;
}

void CSesionRTPRadio::FijaValorTipo3(uint8_t v) {
    ucTipo3 = v;
    iTipo3Pendiente = 1;
}

void CSesionRTPRadio::FijaValorTipo2(uint8_t v) {
    ucValorT2 = v;
    sEstimador.ucValorT2Enviado = v;
    sEstimador.usCerrojoValor4 = 0;
}

void CSesionRTPRadio::FijaIdRecurso(int32_t v) {
    iIdRecurso = v;
    sEstimador.iIdRecurso = v;
}

void CSesionRTPRadio::FijaRetardosFijos(uint32_t uiMs1, uint32_t uiMs2) {
    sEstimador.uiFijo1 = uiMs1 * 8;
    sEstimador.uiFijo2 = uiMs2 * 8;
}

void CSesionRTPRadio::FijaValores34(uint32_t uiMs3, uint32_t uiMs4) {
    sEstimador.usValor3 = static_cast<uint16_t>(uiMs3 * 8);
    sEstimador.usValor4 = static_cast<uint16_t>(uiMs4 * 8);
}

void CSesionRTPRadio::Set_TipoCompCld(int32_t iTipo) {
    NLOG::Log(NLOG::INFO, "%i- Set_TipoCompCld %i Temporalmente solo TIPO_COMP_CLD_RELATIVO", iIdRecurso, iTipo);
    sEstimador.iModoAbsoluto = 0;
    sEstimador.iAbsolutoRespuesta = 0;
}

int32_t CSesionRTPRadio::LeeCambio() {
    int32_t r = iCambio;
    iCambio = 0;
    return r;
}

uint8_t CSesionRTPRadio::LeeValorTipo3Recibido() {
    uint8_t r = ucTipo3Rx;
    ucTipo3Rx = 255;
    return r;
}

int32_t CSesionRTPRadio::ConstruyePtt(int32_t iTipoBloque, uint8_t* pucExt) {
    memset(pucExt, 0, MAX_PALABRAS * 4);
    uint32_t w = uint32_t(iTipoPtt & 0x7) << 29;
    if (!iModo) {
        w |= (uint32_t(iPttId & 0xF) << 24) | 1u;  // bit 22 clear: PTT side
        PonPalabra(pucExt, w);
        return 1;
    }
    w |= uint32_t(iPttId & 0x3F) << 22;
    if (iTipoPtt != 0 && iTiming) {
        sEstimador.ucValorT2Enviado = ucValorT2;
        PonPalabra(pucExt, w | Bloque(BLOQUE_VALOR, 1, ucValorT2));
        return 1;
    }
    if (iTipoBloque == BLOQUE_TIMING) {
        sEstimador.uiT1 = Ahora();
        PonPalabra(pucExt, w | Bloque(BLOQUE_TIMING, 3, 0));
        Pon24(pucExt + 3, sEstimador.uiT1, sEstimador.iModoAbsoluto);
        return 2;
    }
    PonPalabra(pucExt, w);
    return 1;
}

int32_t CSesionRTPRadio::ConstruyeSq(int32_t iTipoBloque, uint8_t* pucExt) {
    memset(pucExt, 0, MAX_PALABRAS * 4);
    uint32_t w = (uint32_t(iTipoPtt & 0x7) << 29) | (uint32_t(iSquelch & 1) << 28);
    if (!iModo) {
        w |= (uint32_t(iPttId & 0xF) << 24) | (1u << 22) | (0x1u << 18) | (0xBu << 14) |
             (uint32_t(iInformeB & 0xFF) << 6) | (uint32_t(iInformeA & 0x7) << 3) | 1u;
        PonPalabra(pucExt, w);
        return 1;
    }
    w |= (uint32_t(iPttId & 0x3F) << 22) | (uint32_t(iBit21 & 1) << 21) | (uint32_t(iBit20 & 1) << 20);
    switch (iTipoBloque) {
        case BLOQUE_TIPO3:
            iTipo3Pendiente = 0;
            if (iTipo3Extendido && (iFlagX || iFlagY)) {
                if (iInformeA == -1) iInformeA = 0;
                PonPalabra(pucExt, w | Bloque(BLOQUE_TIPO3, 4, ucTipo3));
                pucExt[4] = static_cast<uint8_t>((iFlagX ? 0x80 : 0) | (iFlagY ? 0x40 : 0));
                pucExt[5] = Informe(iInformeB, iInformeA);
                pucExt[6] = Informe(iCampoD, iCampoC);
                return 2;
            }
            PonPalabra(pucExt, w | Bloque(BLOQUE_TIPO3, 1, ucTipo3));
            return 1;
        case BLOQUE_INFORME:
            if (iSquelch && iInformeA != -1) w |= Bloque(BLOQUE_INFORME, 1, Informe(iInformeB, iInformeA));
            PonPalabra(pucExt, w);
            return 1;
        case BLOQUE_TIMING: {
            EstimadorClimax& e = sEstimador;
            PonPalabra(pucExt, w | Bloque(BLOQUE_TIMING, 12, 0));
            Pon24(pucExt + 3, e.uiT1Recibido, e.iAbsolutoRespuesta);
            Pon24(pucExt + 6, e.uiLlegadaPeticion, 0);
            e.usRetornoEnviado = static_cast<uint16_t>((Ahora() - e.uiLlegadaPeticion) & MASCARA_23);
            Pon16(pucExt + 9, e.usRetornoEnviado);
            Pon16(pucExt + 11, e.usValor3);
            Pon16(pucExt + 13, e.usValor4);
            return 4;
        }
        default:
            PonPalabra(pucExt, w);
            return 1;
    }
}

int32_t CSesionRTPRadio::EligeBloqueSq(bool bKeepAlive) const {
    bool bFlags = iFlagX || iFlagY;
    if (iTipo3Pendiente || (bFlags && (bKeepAlive || iSquelch))) return BLOQUE_TIPO3;
    return BLOQUE_INFORME;
}

int CSesionRTPRadio::Envia(const void* pDatos, int32_t iLongitud, bool bKeepAlive, const uint8_t* pucExt,
                           int32_t iPalabras) {
    size_t n = iLongitud > 0 ? static_cast<size_t>(iLongitud) : 0;
    int r = bKeepAlive ? SendPacketEx(nullptr, 0, PAYLOAD_KEEPALIVE, false, 0, IdExtension(), pucExt,
                                      static_cast<size_t>(iPalabras))
                       : SendPacketEx(pDatos, n, IdExtension(), pucExt, static_cast<size_t>(iPalabras));
    iCuentaKA = iRecargaKA;
    return r;
}

int CSesionRTPRadio::EnviaAudio(const void* pDatos, int32_t iLongitud) {
    if (!iModo) {
        int r = SendPacket(pDatos, iLongitud > 0 ? static_cast<size_t>(iLongitud) : 0);
        iCuentaKA = iRecargaKA;
        return r;
    }
    uint8_t aucExt[MAX_PALABRAS * 4];
    int32_t n = ConstruyePtt(iLongitud == 0 && iTiming ? BLOQUE_TIMING : BLOQUE_NINGUNO, aucExt);
    return Envia(pDatos, iLongitud, false, aucExt, n);
}

int CSesionRTPRadio::EnviaKeepAlive() {
    int32_t iTipo = BLOQUE_NINGUNO;
    if (iTiming && ++iContadorKA >= 7) {
        iContadorKA = 0;
        iTipo = BLOQUE_TIMING;
    }
    uint8_t aucExt[MAX_PALABRAS * 4];
    int32_t n = ConstruyePtt(iTipo, aucExt);
    return Envia(nullptr, 0, true, aucExt, n);
}

int CSesionRTPRadio::EnviaAudioSq(const void* pDatos, int32_t iLongitud) {
    uint8_t aucExt[MAX_PALABRAS * 4];
    int32_t n = ConstruyeSq(EligeBloqueSq(false), aucExt);
    return Envia(pDatos, iLongitud, false, aucExt, n);
}

int CSesionRTPRadio::EnviaKeepAliveSq(int32_t iTipo) {
    uint8_t aucExt[MAX_PALABRAS * 4];
    int32_t n = ConstruyeSq(iTipo == BLOQUE_TIMING ? BLOQUE_TIMING : EligeBloqueSq(true), aucExt);
    return Envia(nullptr, 0, true, aucExt, n);
}

bool CSesionRTPRadio::LeeCabecera(const RTPPacket* p, uint32_t& uiPalabra) {
    // Other profiles' extensions (RFC 8285 and the like) are not radio state.
    if (!p->HasExtension() || p->GetExtensionLength() < 4 ||
        (p->GetExtensionID() != ID_EXTENSION_MODO1 && p->GetExtensionID() != ID_EXTENSION_MODO0))
        return false;
    RecargaRecepcion();
    uiPalabra = LeePalabra(p->GetExtensionData());
    return true;
}

RTPPacket* CSesionRTPRadio::RecibePaquete() {
    RTPPacket* p = GetNextPacket();
    uint32_t w = 0;
    if (!p || !LeeCabecera(p, w)) return p;
    Actualiza(iTipoPttRx, TipoPtt(w));
    Actualiza(iSquelch, static_cast<int32_t>((w >> 28) & 1));
    Actualiza(iPttIdRx, static_cast<int32_t>(iModo ? (w >> 22) & 0x3F : (w >> 24) & 0xF));
    if (!iModo) return p;
    const uint8_t* pucExt = p->GetExtensionData();
    size_t iLongitudExt = p->GetExtensionLength();
    if (TipoBloque(w, iLongitudExt, 1) == BLOQUE_INFORME) {
        Actualiza(iInformeA, static_cast<int32_t>(pucExt[3] & 0x7));
        Actualiza(iInformeB, static_cast<int32_t>(pucExt[3] >> 3));
    } else if (TipoBloque(w, iLongitudExt, 12) == BLOQUE_TIMING) {
        LeeRespuestaTiming(pucExt);
    }
    return p;
}

void CSesionRTPRadio::LeeRespuestaTiming(const uint8_t* pucExt) {
    EstimadorClimax& e = sEstimador;
    uint32_t uiT1 = Lee23(pucExt + 3);
    if (uiT1 != e.uiT1) return;  // not the answer to our last request
    e.uiT1Recibido = uiT1;
    e.iAbsolutoEco = pucExt[3] >> 7;
    e.uiT2 = Lee23(pucExt + 6);
    e.uiT3 = Ahora();
    e.usRetornoRecibido = Lee16(pucExt + 9);
    e.usValor3Recibido = Lee16(pucExt + 11);
    if (e.usCerrojoValor4 == 0xFFFF) {
        e.usValor4Recibido = Lee16(pucExt + 13);
        e.usCerrojoValor4 = e.usValor4Recibido;
    }
    e.Calcula();
}

RTPPacket* CSesionRTPRadio::RecibePaqueteSq() {
    RTPPacket* p = GetNextPacket();
    uint32_t w = 0;
    if (!p || !LeeCabecera(p, w)) return p;
    Actualiza(iTipoPttRx, TipoPtt(w));
    Actualiza(iBit21Rx, static_cast<int32_t>((w >> 21) & 1));
    if (!iModo) return p;
    const uint8_t* pucExt = p->GetExtensionData();
    size_t iLongitudExt = p->GetExtensionLength();
    int32_t iTipo = TipoBloque(w, iLongitudExt, 1);
    int32_t iLongitud = static_cast<int32_t>((w >> 8) & 0xF);
    if (iTipo == BLOQUE_TIPO3 && iLongitud == 1) {
        uint8_t v = pucExt[3];
        if (v == ucTipo3Rx)
            iTipo3Pendiente = 1;
        else
            ucTipo3Rx = v;
        IpcPrintf(" Saca TYPE 3- ");
        IpcPrintf(" Saca length 1 -");
        IpcPrintf("RrcOrden = %d %d %d %d %d %d %d %d Total %d\n", (ucTipo3Rx >> 7) & 1, (ucTipo3Rx >> 6) & 1,
                  (ucTipo3Rx >> 5) & 1, (ucTipo3Rx >> 4) & 1, (ucTipo3Rx >> 3) & 1, (ucTipo3Rx >> 2) & 1,
                  (ucTipo3Rx >> 1) & 1, ucTipo3Rx & 1, ucTipo3Rx);
    } else if (iTipo == BLOQUE_VALOR) {
        Actualiza(ucValorT2Rx, pucExt[3]);
        sEstimador.ucValorT2Recibido = pucExt[3];
    } else if (iTipo == BLOQUE_TIMING && iLongitud >= 3) {
        LeePeticionTiming(pucExt, p->GetTimestamp());
        RespondeTiming();
    }
    return p;
}

void CSesionRTPRadio::LeePeticionTiming(const uint8_t* pucExt, uint32_t uiTs) {
    EstimadorClimax& e = sEstimador;
    e.uiT1Recibido = Lee23(pucExt + 3);
    e.iPeticionPendiente = pucExt[3] >> 7;
    e.uiLlegadaPeticion = Ahora();
    e.uiTsPeticion = uiTs;
}

int CSesionRTPRadio::RespondeTiming() {
    if (iEnviando || iSquelch || sEstimador.iPeticionPendiente < 0) return 1;
    sEstimador.iPeticionPendiente = -1;
    iCuentaKA = 0;
    EnviaKeepAliveSq(BLOQUE_TIMING);
    iCuentaKA = 220;
    return 0;
}

int32_t CSesionRTPRadio::Descuenta(int32_t& iCuenta, int32_t iTranscurrido) {
    if (iCuenta <= 0) return -1;
    iCuenta = iTranscurrido >= iCuenta ? 0 : iCuenta - iTranscurrido;
    return iCuenta;
}

int32_t CSesionRTPRadio::TickKeepAlive(int32_t iTranscurrido) {
    int32_t r = Descuenta(iCuentaKA, iTranscurrido);
    if (r == 0) EnviaKeepAlive();
    return r;
}

int32_t CSesionRTPRadio::TickKeepAliveSq(int32_t iTranscurrido) {
    iEnviando = 0;
    int32_t r = Descuenta(iCuentaKA, iTranscurrido);
    if (r == 0) EnviaKeepAliveSq(BLOQUE_NINGUNO);
    return r;
}

int32_t CSesionRTPRadio::TickRecepcion(int32_t iTranscurrido) { return Descuenta(iCuentaRecepcion, iTranscurrido); }

uint32_t CSesionRTPRadio::DameInfoFuente() {
    RTPSourceData* s = GetCurrentSourceInfo();
    return s ? s->GetSSRC() : 0;
}
