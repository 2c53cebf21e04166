#include "cprotocolodsphost.h"

#include <cstring>

#include "mensajesdsp.h"

CProtocoloDspHost::CProtocoloDspHost()
    : iPeriodoLatido(0), iProximoLatido(0), iTimeoutEnlace(0), iLimiteEnlace(0), iEnlaceOk(0), iLongLatido(0),
      iIniciado(0) {
    std::memset(acLatido, 0, sizeof(acLatido));
    std::memset(acRx, 0, sizeof(acRx));
}

void CProtocoloDspHost::Reset() {
    dsp::Pon16(acLatido, dsp::CMD_LATIDO);
    dsp::Pon16(acLatido + 2, dsp::CANAL_LATIDO);
    iLongLatido = dsp::LONG_CABECERA;
}

int CProtocoloDspHost::Inicia(int iPeriodo, int iTimeout) {
    Reset();
    iPeriodoLatido = iPeriodo;
    iTimeoutEnlace = iTimeout;
    // iProximoLatido stays 0: until something is sent the heartbeat counts as due.
    iIniciado = 1;
    return 0;
}

int CProtocoloDspHost::EnviaTrama(uint32_t uiAhora) {
    iProximoLatido = uiAhora + static_cast<uint32_t>(iPeriodoLatido);
    int iLong = iLongLatido;
    return Escribe(&iLong, acLatido);
}

int CProtocoloDspHost::Recibe(uint32_t uiAhora) {
    if (!iIniciado) return -2;
    int iLong = 0;
    Lee(&iLong, acRx);
    // Unsigned, so an error reported as a negative length is refused too.
    uint32_t uiLong = static_cast<uint32_t>(iLong);
    if (uiLong >= static_cast<uint32_t>(dsp::LONG_MINIMA) && uiLong <= static_cast<uint32_t>(dsp::LONG_MAXIMA)) {
        iLimiteEnlace = uiAhora + static_cast<uint32_t>(iTimeoutEnlace);
        if (iEnlaceOk.exchange(1) == 0) EvtEnlaceOk(uiAhora);
        if (dsp::Lee16(acRx) != dsp::CMD_LATIDO) {
            int iMas = 0;
            ProcesaMensaje(acRx, iLong, &iMas);
            if (iMas) TrasMensaje();
        }
    }
    return iLong;
}

void CProtocoloDspHost::RevisaTiempos(uint32_t uiAhora) {
    if (DiferenciaReloj(iProximoLatido, uiAhora) <= 0) EnviaTrama(uiAhora);
    if (iEnlaceOk == 1 && DiferenciaReloj(iLimiteEnlace, uiAhora) <= 0 && iEnlaceOk.exchange(0) == 1)
        EvtEnlaceCaido(uiAhora);
}

void CProtocoloDspHost::FuerzaCaida(uint32_t uiAhora) {
    if (iEnlaceOk.exchange(0) == 1) EvtEnlaceCaido(uiAhora);
}

int CProtocoloDspHost::EnviaMensaje(const uint8_t* pucMensaje, int iCuenta, uint32_t uiAhora) {
    iProximoLatido = uiAhora + static_cast<uint32_t>(iPeriodoLatido);
    int iLong = iCuenta;
    return Escribe(&iLong, pucMensaje);
}

int CProtocoloDspHost::EnviaCorto(uint16_t usCodigo, uint16_t usCanal, uint32_t uiAhora) {
    // On the stack: commands are sent from several threads at once.
    uint8_t acCorto[dsp::LONG_CABECERA];
    dsp::Pon16(acCorto, usCodigo);
    dsp::Pon16(acCorto + 2, usCanal);
    return EnviaMensaje(acCorto, dsp::LONG_CABECERA, uiAhora);
}
