#include "cenlacedsphost.h"

#include <cstring>
#include <new>

#include "comun/nlog.h"
#include "mensajesdsp.h"

namespace {
constexpr int LONG_SECUENCIA = 4;  // CRC and sequence before the message
constexpr uint32_t TIMEOUT_RETX_DEFECTO = 1000;
constexpr uint32_t MAX_ESCRITURAS_DEFECTO = 3;
}  // namespace

CEnlaceDspHost::CEnlaceDspHost() {
    dsp::Pon16(acAcuse, CMD_ACUSE);
    dsp::Pon16(acAcuse + 2, 0);
    std::memset(aiLongTramas, 0, sizeof(aiLongTramas));
}

CEnlaceDspHost::~CEnlaceDspHost() { delete pPool; }

uint16_t CEnlaceDspHost::Crc16(const uint8_t* puc, int n, uint16_t usCrc) {
    for (int i = 0; i < n; i++) {
        usCrc = static_cast<uint16_t>(usCrc ^ (puc[i] << 8));
        for (int b = 0; b < 8; b++)
            usCrc = static_cast<uint16_t>(usCrc & 0x8000 ? (usCrc << 1) ^ 0x1021 : usCrc << 1);
    }
    return usCrc;
}

int CEnlaceDspHost::ConstruyeTrama(uint16_t usSecuencia, const uint8_t* pucMensaje, int iLong, uint8_t* pucTrama) {
    uint8_t acCuerpoTx[LONG_SECUENCIA + dsp::LONG_MAXIMA + dsp::EXTRA_ESCRITURA];
    dsp::Pon16(acCuerpoTx + 2, usSecuencia);
    std::memcpy(acCuerpoTx + LONG_SECUENCIA, pucMensaje, static_cast<size_t>(iLong));
    int iCuerpo = LONG_SECUENCIA + iLong;
    dsp::Pon16(acCuerpoTx, Crc16(acCuerpoTx + 2, iCuerpo - 2));
    int n = 0;
    pucTrama[n++] = INICIO;
    for (int i = 0; i < iCuerpo; i++) {
        uint8_t b = acCuerpoTx[i];
        if (b == ESCAPE || b == INICIO || b == FIN) pucTrama[n++] = ESCAPE;
        pucTrama[n++] = b;
    }
    pucTrama[n++] = FIN;
    return n;
}

void CEnlaceDspHost::Reset() {
    // The heartbeat: sequence 0, code 0, channel 0xFFFF and 4 bytes of no value.
    uint8_t acMensaje[dsp::LONG_CABECERA + 4] = {0};
    dsp::Pon16(acMensaje, dsp::CMD_LATIDO);
    dsp::Pon16(acMensaje + 2, dsp::CANAL_LATIDO);
    iLongLatido = ConstruyeTrama(0, acMensaje, sizeof(acMensaje), acLatido);
}

int CEnlaceDspHost::Inicia(int iTimeoutRetx, int iMaxEscrituras, int iPeriodo, int iTimeout) {
    CProtocoloDspHost::Inicia(iPeriodo, iTimeout);
    if (!pPool) pPool = new (std::nothrow) Pool;
    if (!pPool) {
        iIniciado = 0;
        return -1;
    }
    Vacia();
    pPool->uiTimeout = iTimeoutRetx > 0 ? static_cast<uint32_t>(iTimeoutRetx) : TIMEOUT_RETX_DEFECTO;
    pPool->uiMaximo = iMaxEscrituras > 0 ? static_cast<uint32_t>(iMaxEscrituras) : MAX_ESCRITURAS_DEFECTO;
    eEstado = CAZANDO;
    iLongCuerpo = 0;
    return 0;
}

void CEnlaceDspHost::Vacia() {
    iLeeAnillo = iEscribeAnillo = iCuentaAnillo = 0;
    if (!pPool) return;
    std::memset(pPool->asRanuras, 0, sizeof(pPool->asRanuras));
    pPool->iUltima = 0;  // so the first frame gets sequence 1
    pPool->iEnUso = 0;
    pPool->iMasVieja = -1;
    pPool->uiTiempoMasVieja = 0;
}

uint32_t CEnlaceDspHost::LeeErroresCrc(bool bBorra) {
    uint32_t ui = uiErroresCrc;
    if (bBorra) uiErroresCrc = 0;
    return ui;
}

int CEnlaceDspHost::EscribeTrama(const uint8_t* pucTrama, int iLong) {
    int n = iLong;
    return Escribe(&n, pucTrama);
}

int CEnlaceDspHost::TomaRanura(uint32_t uiAhora) {
    if (!pPool || pPool->iEnUso >= NUM_RANURAS) return -1;
    for (int k = 1; k <= NUM_RANURAS; k++) {
        int i = (pPool->iUltima + k) % NUM_RANURAS;
        if (pPool->asRanuras[i].uiEscrituras != 0) continue;
        pPool->asRanuras[i] = {uiAhora, 1};
        pPool->iUltima = i;
        pPool->iEnUso++;
        if (pPool->iEnUso == 1) {
            pPool->iMasVieja = i;
            pPool->uiTiempoMasVieja = uiAhora;
        }
        return i;
    }
    return -1;
}

void CEnlaceDspHost::LiberaRanura(int i) {
    if (!pPool || i < 0 || i >= NUM_RANURAS || pPool->asRanuras[i].uiEscrituras == 0) return;
    pPool->asRanuras[i] = {0, 0};
    pPool->iEnUso--;
    BuscaMasVieja();
}

void CEnlaceDspHost::BuscaMasVieja() {
    // Times compared relative to the previous oldest, so the clock may wrap.
    int iMejor = -1;
    int32_t iMejorDif = 0;
    for (int i = 0; i < NUM_RANURAS; i++) {
        if (pPool->asRanuras[i].uiEscrituras == 0) continue;
        int32_t d = DiferenciaReloj(pPool->asRanuras[i].uiTiempo, pPool->uiTiempoMasVieja);
        if (iMejor < 0 || d < iMejorDif) {
            iMejor = i;
            iMejorDif = d;
        }
    }
    pPool->iMasVieja = iMejor;
    if (iMejor >= 0) pPool->uiTiempoMasVieja = pPool->asRanuras[iMejor].uiTiempo;
}

bool CEnlaceDspHost::PuedeEnviar(int iLong) {
    return pPool && pPool->iEnUso < NUM_RANURAS && HayEspacio(2 * iLong + 2) == 1;
}

int CEnlaceDspHost::EnviaAhora(const uint8_t* pucMensaje, int iLong, uint32_t uiAhora) {
    int i = TomaRanura(uiAhora);
    if (i < 0) return -1;
    aiLongTramas[i] = ConstruyeTrama(static_cast<uint16_t>(i), pucMensaje, iLong, aacTramas[i]);
    iProximoLatido = uiAhora + static_cast<uint32_t>(iPeriodoLatido);
    return EscribeTrama(aacTramas[i], aiLongTramas[i]);
}

int CEnlaceDspHost::EnviaMensaje(const uint8_t* pucMensaje, int iLong, uint32_t uiAhora) {
    if (!pucMensaje || iLong < dsp::LONG_MINIMA || iLong > dsp::LONG_MAXIMA) return -1;
    if (iCuentaAnillo == 0 && PuedeEnviar(iLong)) return EnviaAhora(pucMensaje, iLong, uiAhora);
    // Behind what already waits, so messages keep their order.
    if (iCuentaAnillo >= TAM_ANILLO) return ERR_ANILLO_LLENO;
    EntradaAnillo& e = asAnillo[iEscribeAnillo];
    e.uiLong = static_cast<uint32_t>(iLong);
    std::memcpy(e.auc, pucMensaje, static_cast<size_t>(iLong));
    iEscribeAnillo = (iEscribeAnillo + 1) % TAM_ANILLO;
    iCuentaAnillo++;
    return 0;
}

int CEnlaceDspHost::EnviaCorto(uint16_t usCodigo, uint16_t usCanal, uint32_t uiAhora) {
    VaciaAnillo(uiAhora);
    uint8_t acCorto[dsp::LONG_CABECERA];
    dsp::Pon16(acCorto, usCodigo);
    dsp::Pon16(acCorto + 2, usCanal);
    return EnviaMensaje(acCorto, dsp::LONG_CABECERA, uiAhora);
}

void CEnlaceDspHost::VaciaAnillo(uint32_t uiAhora) {
    while (iCuentaAnillo > 0) {
        EntradaAnillo& e = asAnillo[iLeeAnillo];
        if (!PuedeEnviar(static_cast<int>(e.uiLong))) return;
        if (EnviaAhora(e.auc, static_cast<int>(e.uiLong), uiAhora) < 0) return;
        iLeeAnillo = (iLeeAnillo + 1) % TAM_ANILLO;
        iCuentaAnillo--;
    }
}

int CEnlaceDspHost::Analiza(const uint8_t* puc, int n, bool* pbTrama) {
    *pbTrama = false;
    int i = 0;
    while (i < n && !*pbTrama) {
        uint8_t b = puc[i++];
        switch (eEstado) {
            case CAZANDO:
                if (b == INICIO) {
                    eEstado = DENTRO;
                    iLongCuerpo = 0;
                }
                break;
            case DENTRO:
                if (b == INICIO) {
                    iLongCuerpo = 0;
                } else if (b == FIN) {
                    *pbTrama = true;
                    eEstado = CAZANDO;
                } else if (b == ESCAPE) {
                    eEstado = ESCAPADO;
                } else if (iLongCuerpo < MAX_CUERPO) {
                    acCuerpo[iLongCuerpo++] = b;
                } else {
                    NLOG::Log(NLOG::ERROR, "ENLACEDSP: trama de mas de %d bytes descartada", MAX_CUERPO);
                    eEstado = CAZANDO;
                }
                break;
            case ESCAPADO:
                if (iLongCuerpo < MAX_CUERPO) {
                    acCuerpo[iLongCuerpo++] = b;
                    eEstado = DENTRO;
                } else {
                    NLOG::Log(NLOG::ERROR, "ENLACEDSP: trama de mas de %d bytes descartada", MAX_CUERPO);
                    eEstado = CAZANDO;
                }
                break;
        }
    }
    return i;
}

void CEnlaceDspHost::TrataTrama(uint32_t uiAhora) {
    if (iLongCuerpo < LONG_SECUENCIA) return;
    if (dsp::Lee16(acCuerpo) != Crc16(acCuerpo + 2, iLongCuerpo - 2)) {
        if (uiErroresCrc != 0xFFFFFFFFu) uiErroresCrc++;
        return;
    }
    iLimiteEnlace = uiAhora + static_cast<uint32_t>(iTimeoutEnlace);
    if (iEnlaceOk.exchange(1) == 0) EvtEnlaceOk(uiAhora);
    const int iMensaje = iLongCuerpo - LONG_SECUENCIA;
    if (iMensaje < dsp::LONG_CABECERA) return;
    const uint16_t usSecuencia = dsp::Lee16(acCuerpo + 2);
    const uint8_t* pucMensaje = acCuerpo + LONG_SECUENCIA;
    const uint16_t usCodigo = dsp::Lee16(pucMensaje);
    if (usCodigo == CMD_ACUSE) {
        LiberaRanura(usSecuencia);
        return;
    }
    if (usCodigo == dsp::CMD_LATIDO) return;
    // Acknowledged at once and never repeated: the sender repeats the data frame instead.
    int n = ConstruyeTrama(usSecuencia, acAcuse, sizeof(acAcuse), acTrama);
    EscribeTrama(acTrama, n);
    int iMas = 0;
    ProcesaMensaje(pucMensaje, iMensaje, &iMas);
    if (iMas) TrasMensaje();
}

void CEnlaceDspHost::Retransmite(uint32_t uiAhora) {
    for (int k = 0; k < NUM_RANURAS && pPool->iMasVieja >= 0; k++) {
        int i = pPool->iMasVieja;
        Ranura& r = pPool->asRanuras[i];
        if (DiferenciaReloj(uiAhora, r.uiTiempo) < static_cast<int32_t>(pPool->uiTimeout)) return;
        if (++r.uiEscrituras > pPool->uiMaximo) {
            NLOG::Log(NLOG::ERROR, "ENLACEDSP: trama %d sin acuse tras %u envios, descartada", i, pPool->uiMaximo);
            LiberaRanura(i);
            continue;
        }
        r.uiTiempo = uiAhora;
        iProximoLatido = uiAhora + static_cast<uint32_t>(iPeriodoLatido);
        EscribeTrama(aacTramas[i], aiLongTramas[i]);
        BuscaMasVieja();
    }
}

int CEnlaceDspHost::Recibe(uint32_t uiAhora) {
    if (!iIniciado || !pPool) return -2;
    int iLeidos = 0;
    int iDisponibles = BytesDisponibles();
    if (iDisponibles > 0) {
        int n = iDisponibles < TAM_RX ? iDisponibles : TAM_RX;
        Lee(&n, acRx);
        if (n > TAM_RX) n = TAM_RX;
        iLeidos = n;
        for (int i = 0; i < n;) {
            bool bTrama;
            i += Analiza(acRx + i, n - i, &bTrama);
            if (bTrama) TrataTrama(uiAhora);
        }
    }
    Retransmite(uiAhora);
    VaciaAnillo(uiAhora);
    RevisaTiempos(uiAhora);
    return iLeidos;
}
