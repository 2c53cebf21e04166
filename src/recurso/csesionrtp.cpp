#include "csesionrtp.h"

#include <cstdio>
#include <cstring>

#include "ccodecg711.h"
#include "comun/cdireccionip.h"
#include "comun/ganchosipc.h"
#include "comun/nlog.h"

namespace {

int32_t giTipoIf = -1;

// Byte of one G.711 law to the other, through the linear value: built once per process.
struct Transcodificacion {
    uint8_t aucAMu[256];
    uint8_t aucMuA[256];
};

const Transcodificacion& Tablas() {
    static const Transcodificacion t = [] {
        Transcodificacion r;
        CCodecG711 a, mu;
        mu.UsaLeyMu();
        uint8_t aucCodigos[256];
        int32_t aiLineal[256];
        for (int i = 0; i < 256; i++) aucCodigos[i] = static_cast<uint8_t>(i);
        a.Decodifica(aucCodigos, aiLineal, 256);
        mu.Codifica(aiLineal, r.aucAMu, 256);
        mu.Decodifica(aucCodigos, aiLineal, 256);
        a.Codifica(aiLineal, r.aucMuA, 256);
        return r;
    }();
    return t;
}

// The conversion table between two payload types, or null when none is needed or known.
const uint8_t* Conversion(int32_t iDesde, int32_t iHacia) {
    if (iDesde == CSesionRTP::PAYLOAD_PCMA && iHacia == CSesionRTP::PAYLOAD_PCMU) return Tablas().aucAMu;
    if (iDesde == CSesionRTP::PAYLOAD_PCMU && iHacia == CSesionRTP::PAYLOAD_PCMA) return Tablas().aucMuA;
    return nullptr;
}

// Seconds between the NTP era (1900) and 1970.
constexpr uint32_t DESFASE_NTP = 2208988800u;

}  // namespace

CSesionRTP::CSesionRTP() : RTPSession(nullptr) {}

CSesionRTP::~CSesionRTP() = default;

void CSesionRTP::FijaTipoInterfaz(int32_t iTipoIf) { giTipoIf = iTipoIf; }

void CSesionRTP::Traza(const char* szPrefijo, int iError) {
    char acTexto[128];
    snprintf(acTexto, sizeof acTexto, "%s%s", szPrefijo, RTPGetErrorString(iError).c_str());
    IpcTraza(0x3E, "%s (error %d)\n", acTexto, iError);
}

int CSesionRTP::Crea(int32_t iPuertoLocal, const char* szDirRemota, int32_t iPuertoRemoto, int32_t iPayload,
                     int32_t iFrecuencia, int32_t iIncremento, int32_t iModoExt) {
    // The record comes from another process: the text may lack its terminating zero.
    char acDireccion[LON_MAX_DIRECCION + 1] = {};
    if (szDirRemota) strncpy(acDireccion, szDirRemota, LON_MAX_DIRECCION);
    CDireccionIp sRemota;
    if (sRemota.TomaTexto(acDireccion) != 0 || iPuertoRemoto <= 0 || iPuertoRemoto > 65535 || iPuertoLocal <= 0 ||
        iPuertoLocal > 65534 || iFrecuencia <= 0 || iPayload < -1 || iPayload > 127) {
        IpcTraza(0x3E, "PUM! CSesionRTP::Crea-> destino no valido %s:%d puerto local %d payload %d\n", acDireccion,
                 iPuertoRemoto, iPuertoLocal, iPayload);
        return -1;
    }

    RTPSessionParams sParametros;
    // In double: through single precision the rate would come back as 7999 Hz.
    sParametros.SetOwnTimestampUnit(1.0 / static_cast<double>(iFrecuencia));
    sParametros.SetAcceptOwnPackets(true);
    RTPUDPv4TransmissionParams sTransmision;
    sTransmision.SetPortbase(static_cast<uint16_t>(iPuertoLocal));
    int r = CreaSesion(iModoExt, sParametros, &sTransmision, 0);
    if (r < 0) {
        Traza("PUM! CSesionRTP::Crea->", r);
        return -1;
    }
    if (iPayload >= 0) FijaPayload(iPayload);
    uiIncremento = giTipoIf == TIPO_IF_RADIO ? 0 : static_cast<uint32_t>(iIncremento);
    SetDefaultTimestampIncrement(uiIncremento);
    SetDefaultMark(false);
    r = AddDestination(RTPIPv4Address(sRemota.direccion, static_cast<uint16_t>(iPuertoRemoto)));
    if (r < 0) {
        Traza("PUM! CSesionRTP::AddDestination->", r);
        return -1;
    }
    return 0;
}

int CSesionRTP::CreaSesion(int32_t iModoExt, const RTPSessionParams& sParametros,
                           const RTPTransmissionParams* psTransmision, int iProtocolo) {
    iModo = iModoExt;
    dUnidadTs = sParametros.GetOwnTimestampUnit();
    if (dUnidadTs > 0 && dUnidadTs < 1.0) {
        // Rounded: 1 / (1 / 8000) may come back a hair below 8000.
        uiFrecuencia = static_cast<uint32_t>(1.0 / dUnidadTs + 0.5);
        uiFraccionNtpUnidad = static_cast<uint32_t>(dUnidadTs * 4294967296.0);
    } else {
        uiFrecuencia = dUnidadTs > 0 ? static_cast<uint32_t>(dUnidadTs) : 0;
        uiFraccionNtpUnidad = 0;
    }
    return Create(sParametros, psTransmision, iProtocolo);
}

void CSesionRTP::FijaCallbackSR(FnCallbackSR fn, uint32_t uiContexto) {
    fnCallbackSR = fn;
    uiContextoSR = uiContexto;
}

uint32_t CSesionRTP::NtpEnUnidades(uint32_t uiSegundos, uint32_t uiFraccion) const {
    uint32_t uiParte = uiFraccionNtpUnidad ? uiFraccion / uiFraccionNtpUnidad : 0;
    return (uiSegundos - DESFASE_NTP) * uiFrecuencia + uiParte;
}

void CSesionRTP::OnRTCPCompoundPacket(RTCPCompoundPacket* pCompuesto, const RTPTime&, const RTPAddress*) {
    if (!fnCallbackSR || !pCompuesto) return;
    pCompuesto->GotoFirstPacket();
    while (RTCPPacket* p = pCompuesto->GetNextPacket()) {
        if (!p->IsKnownFormat() || p->GetPacketType() != RTCPPacket::SR) continue;
        RTCPSRPacket* pSr = static_cast<RTCPSRPacket*>(p);
        RTPNTPTime sNtp = pSr->GetNTPTimestamp();
        uint32_t uiT = NtpEnUnidades(sNtp.GetMSW(), sNtp.GetLSW());
        uint32_t uiRtp = pSr->GetRTPTimestamp();
        IpcPrintf(" RX RTCP SR - NTP = %u-%u (%u), RTP = %u\n", sNtp.GetMSW(), sNtp.GetLSW(), uiT, uiRtp);
        fnCallbackSR(uiContextoSR, uiT, uiRtp);
    }
}

int CSesionRTP::DameUltimoSR(uint32_t& uiNtp, uint32_t& uiRtp) {
    uiNtp = 0;
    uiRtp = 0;
    RTPSourceData* pFuente = GetCurrentSourceInfo();
    if (!pFuente || !pFuente->SR_HasInfo()) return 0;
    RTPNTPTime sNtp = pFuente->SR_GetNTPTimestamp();
    uiNtp = NtpEnUnidades(sNtp.GetMSW(), sNtp.GetLSW());
    uiRtp = pFuente->SR_GetRTPTimestamp();
    NLOG::Log(NLOG::INFO, " RX RTCP SR - NTP = %u-%u (%u), RTP = %u\n", sNtp.GetMSW(), sNtp.GetLSW(), uiNtp, uiRtp);
    return 0;
}

int CSesionRTP::FijaPayload(int32_t iPayload) {
    if (iPayload < 0 || iPayload > 127 || SetDefaultPayloadType(static_cast<uint8_t>(iPayload)) < 0) return -1;
    ucPayload = static_cast<uint8_t>(iPayload);
    bTienePayload = true;
    return 0;
}

void CSesionRTP::FijaLeyLinea(int32_t iPayloadLinea) { iLeyLinea = iPayloadLinea; }

int CSesionRTP::EnviaMuestrasLinea(const uint8_t* pucMuestras, int32_t n) {
    const uint8_t* pucTabla = Conversion(iLeyLinea, ucPayload);
    if (!pucTabla) return Envia(pucMuestras, n > 0 ? static_cast<size_t>(n) : 0);
    if (n < 0 || static_cast<size_t>(n) > sizeof aucEnvio) return ERR_RTP_SESSION_PACKETTOOBIG;
    for (int32_t i = 0; i < n; i++) aucEnvio[i] = pucTabla[pucMuestras[i]];
    return Envia(aucEnvio, static_cast<size_t>(n));
}

int CSesionRTP::Envia(const uint8_t* puc, size_t n) {
    if (!bTrasPausa) return SendPacket(puc, n);
    if (!bTienePayload) return ERR_RTP_SESSION_NODEFAULTVALUES;
    const int r = SendPacket(puc, n, ucPayload, true, uiIncremento);
    if (r >= 0) bTrasPausa = false;
    return r;
}

void CSesionRTP::PasaSilencio(uint32_t n) {
    // A radio session's timestamp does not advance (increment 0): neither does its pause.
    if (uiIncremento != 0) IncrementTimestamp(n);
    bTrasPausa = true;
}

int32_t CSesionRTP::MuestrasParaLinea(const RTPPacket* pPaquete, int32_t iDesde, uint8_t* pucDestino,
                                      int32_t iCapacidad) const {
    if (!pPaquete || !pucDestino || iCapacidad <= 0 || iDesde < 0) return 0;
    size_t iLongitud = pPaquete->GetPayloadLength();
    if (static_cast<size_t>(iDesde) >= iLongitud) return 0;
    iLongitud -= static_cast<size_t>(iDesde);
    int32_t n = iLongitud < static_cast<size_t>(iCapacidad) ? static_cast<int32_t>(iLongitud) : iCapacidad;
    const uint8_t* pucOrigen = pPaquete->GetPayloadData() + iDesde;
    const uint8_t* pucTabla = Conversion(pPaquete->GetPayloadType(), iLeyLinea);
    if (!pucTabla) {
        memcpy(pucDestino, pucOrigen, static_cast<size_t>(n));
        return n;
    }
    for (int32_t i = 0; i < n; i++) pucDestino[i] = pucTabla[pucOrigen[i]];
    return n;
}

int32_t CSesionRTP::Descuenta(uint32_t& uiCuenta, uint32_t uiTranscurrido) {
    if (uiCuenta == 0) return -1;
    uiCuenta = uiTranscurrido >= uiCuenta ? 0 : uiCuenta - uiTranscurrido;
    return static_cast<int32_t>(uiCuenta);
}

int32_t CSesionRTP::DescuentaA(uint32_t uiTranscurrido) {
    int32_t r = Descuenta(uiCuentaA, uiTranscurrido);
    if (r == 0) uiCuentaC = 400;
    return r;
}

int32_t CSesionRTP::DescuentaB(uint32_t uiTranscurrido) { return Descuenta(uiCuentaB, uiTranscurrido); }

int32_t CSesionRTP::DescuentaC(uint32_t uiTranscurrido) { return Descuenta(uiCuentaC, uiTranscurrido); }
