#include "cmarcador.h"

#include "comun/ganchosipc.h"
#include "comun/nlog.h"
#include "hardware/hardware.h"
#include "libdsp.h"

namespace {
constexpr uint32_t CLASE_TLF = 0x08;
constexpr int CODEC_SLIC = 8;
constexpr uint32_t TICKS_ANTES_DE_MARCAR = 50;  // 500 ms
constexpr int US_TICK = 10000;
}  // namespace

uint32_t CMarcador::Convierte(const char* szTexto, uint8_t* pucCodigos) {
    uint32_t n = 0;
    for (int i = 0; i < MAX_CARACTERES && szTexto[i] != '\0'; ++i) {
        const char c = szTexto[i];
        uint8_t uc;
        if (c >= '0' && c <= '9')
            uc = static_cast<uint8_t>(c - '0');
        else if (c == '*')
            uc = 10;
        else if (c == '#')
            uc = 11;
        else if (c >= 'A' && c <= 'D')
            uc = static_cast<uint8_t>(12 + (c - 'A'));
        else if (c == 'p' || c == ',')
            uc = PAUSA;
        else
            break;
        pucCodigos[n++] = uc;
        // The first digit is always followed by a pause.
        if (n == 1) pucCodigos[n++] = PAUSA;
    }
    return n;
}

int CMarcador::Marca(const char* szTexto, int32_t iRecursoDsp, int iCanalHost, int iRec) {
    if (hwHaySlic() == 0 && (uiEstado == REPOSO || uiEstado == RESTAURANDO)) {
        // Without a SLIC the digits go out on the line's slot instead of the board's audio.
        hwDesabilitaTxCanalAudio(iCanalHost);
        if (ldspTomaCanalIfTx(iRecursoDsp, iCanalHost) != 0)
            NLOG::Log(NLOG::ERROR, "CENTTLF: Error en ldspTomaCanalIfTx(%d, %d)", iRecursoDsp, iCanalHost);
        if (ldspTomaCodecIfTx(iRecursoDsp, CODEC_SLIC) != 0)
            NLOG::Log(NLOG::ERROR, "CENTTLF[%d]:Error en ldspTomaCodecIfTx(%d, %d)", iRec, iRecursoDsp, CODEC_SLIC);
    }
    uiNumCodigos = Convierte(szTexto, aucCodigos);
    if (uiNumCodigos > MAX_CODIGOS_DSP) {
        NLOG::Log(NLOG::ERROR, "CENTTLF[%d]: Marca con %u codigos; se marcan %d", iRec, uiNumCodigos,
                  static_cast<int>(MAX_CODIGOS_DSP));
        uiNumCodigos = MAX_CODIGOS_DSP;
    }
    uiEstado = ESPERA_INICIO;
    uiInicio = hwDameTiempo() + TICKS_ANTES_DE_MARCAR;
    return 500000;
}

int CMarcador::PasoMarcador(uint32_t uiAhora, int32_t iRecursoDsp, int iCanalHost) {
    switch (uiEstado) {
    case ESPERA_INICIO: {
        const int32_t iFalta = static_cast<int32_t>(uiInicio - uiAhora);
        if (iFalta > 0) return iFalta * US_TICK;
        IpcTraza(CLASE_TLF, "Llama a ldspMarcaDtmf ");
        for (uint32_t i = 0; i < uiNumCodigos; ++i) IpcTraza(CLASE_TLF, "%i-", aucCodigos[i]);
        if (ldspMarcaDtmf(iRecursoDsp, reinterpret_cast<const char*>(aucCodigos), static_cast<int32_t>(uiNumCodigos)) != 0)
            NLOG::Log(NLOG::ERROR, "CENTTLF:Error en ldspMarcaDtmf(%d)", iRecursoDsp);
        uiEstado = MARCANDO;
        return 3000000;
    }
    case MARCANDO:
        if (hwHaySlic() == 0 && ldspTomaCanalIfTx(iRecursoDsp, -1) != 0)
            NLOG::Log(NLOG::ERROR, "CENTTLF:Error en ldspTomaCanalIfTx(-1) recDSP:%d", iRecursoDsp);
        uiEstado = RESTAURANDO;
        return 100000;
    case RESTAURANDO:
        if (hwHaySlic() == 0) hwHabilitaTxCanalAudio(iCanalHost);
        uiEstado = REPOSO;
        return 0;
    default:
        return 0;
    }
}
