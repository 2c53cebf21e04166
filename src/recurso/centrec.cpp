#include "centrec.h"

#include <unistd.h>

#include <cstdio>

#include "cmezclador.h"
#include "comun/ctemporizador.h"
#include "comun/ganchosipc.h"
#include "comun/gestormutex.h"
#include "comun/hilo.h"
#include "comun/nlog.h"
#include "comun/trazapid.h"
#include "cplayfile.h"
#include "hardware/hardware.h"
#include "ipcrec.h"
#include "mainrecurso.h"

namespace {
constexpr int TIPO_HW_RX_TRAS_TX = 0x200000;
constexpr int CANALES_MEZCLADOR = 4;
constexpr int MUESTRAS_MEZCLADOR = 320;
constexpr int CODEC_SLIC = 8;
constexpr int MODO_SLIC_REPOSO = 2;

// The record as the entity reads it: a copy taken under the configuration lock.
cfgConfigRecurso Registro() {
    cfgCerrojo c(mrecMutexConfig());
    return *mrecRegistro();
}
}  // namespace

CEntidadRC::CEntidadRC() {
    pTemporizador = new CTemporizador;
    oCodificador.UsaLeyA();
}

CEntidadRC::~CEntidadRC() {
    delete pTemporizador;
    if (pMezclador) {
        if (iCanalMezclador >= 0) pMezclador->CierraCanal(iCanalMezclador);
        delete pMezclador;
    }
    delete pPlayFile;
}

int CEntidadRC::Arranca(int iNumRec) {
    int r = Inicia(iNumRec);
    if (r != 0) return r;
    if (CreaHiloSuelto(nullptr, sSupervisor, this) != 0) {
        NLOG::Log(NLOG::ERROR, "%s[%d] - Error creando hilo supervisor HW", mrecPalabra(), iRec);
        return -6;
    }
    return 0;
}

// Hardware supervision of the common entity: the channel entities run their own.
void* CEntidadRC::sSupervisor(void* pObjeto) {
    CEntidadRC* e = static_cast<CEntidadRC*>(pObjeto);
    TrazaPid("Supervisor HW", e->iRec, "src/recurso/centrec");
    for (;;) {
        int us = e->SupervisaHW();
        DuermeMs(static_cast<unsigned>(us / 1000));
    }
    return nullptr;
}

int CEntidadRC::Inicia(int iNumRec) {
    const char* p = mrecPalabra();
    char szNombre[48];
    snprintf(szNombre, sizeof szNombre, "CEntidadRC[%d].tMutexGlobal", iNumRec);
    CreaMutex(szNombre, &tMutexGlobal, nullptr);
    snprintf(szNombre, sizeof szNombre, "CEntidadRC[%d].tMutexAudio", iNumRec);
    CreaMutex(szNombre, &tMutexAudio, nullptr);
    snprintf(szNombre, sizeof szNombre, "CEntidadRC[%d].tMutexAudioRed", iNumRec);
    CreaMutex(szNombre, &tMutexAudioRed, nullptr);
    pthread_cond_init(&tCondAudioRed, nullptr);
    pTemporizador->Inicia(CTemporizador::MAX_TEMPORIZADORES);

    iTipoIfHw = 0;
    int iTipoIf;
    {
        cfgCerrojo c(mrecMutexConfig());
        cfgConfigRecurso* r = mrecRegistro();
        if (r->iCfgModoSistema == 0) {
            iRespuestaInmediata = 0;
            if (r->iFlgUsarDiffServ == 1) {
                if (r->iTipoIf == TIPOIF_BL) {
                    iTipoIfHw = 1;
                } else if (r->iTipoIf == TIPOIF_BC) {
                    r->iTipoIf = TIPOIF_AB;
                    r->iFlgUsarDiffServ = 2;
                } else if (r->iTipoIf == TIPOIF_EYM_PP) {
                    iTipoIfHw = 2;
                }
                iRespuestaInmediata = 1;
            }
        }
        iTipoIf = r->iTipoIf;
        iModulo = r->iSlot * 4 + r->iDispositivo;
    }
    iTerminada = 0;
    {
        cfgCerrojo c(&tMutexGlobal);
        iEstadoHw = HW_PARADO;
        iReconfigurado = 0;
    }
    iPasadas = 0;
    {
        cfgCerrojo c(&tMutexAudio);
        iTonoLocal = 0;
    }
    iRec = iNumRec;
    iSlotTx = iModulo * 4 + 1;
    iSlotRx = hwDameTipoHw() == TIPO_HW_RX_TRAS_TX ? iSlotTx + 2 : iModulo + 48;

    int iCanal;
    switch (iTipoIf) {
    case TIPOIF_LCEN: case TIPOIF_ATSR2: case TIPOIF_ATSN5: iCanal = iSlotRx; break;
    case TIPOIF_BC: case TIPOIF_BL: case TIPOIF_AB: iCanal = HaySlic() ? iSlotRx : iSlotTx; break;
    case TIPOIF_EYM_PP: case TIPOIF_EYM_MARC: iCanal = iSlotTx; break;
    default: iCanal = iSlotRx; break;  // not a line of these programs: opened as a trunk's
    }
    int e = hwAbreTimeslot(iCanal);
    if (e != 0) {
        DuermeMs(500);
        e = hwAbreTimeslot(iCanal);
    }
    if (e == 0) {
        NLOG::Log(NLOG::INFO, "%s[%d]:                                       OK en hwAbreTimeslot(%d)", p, iRec,
                  iCanal);
    } else {
        NLOG::Log(NLOG::ERROR, "%s[%d]: Error %d en hwAbreTimeslot(%d)", p, iRec, e, iCanal);
        if (e == -3) ipcrecTrazaErrno(nullptr);
    }
    iSlotRx = iCanal;
    if (iCanal == iSlotTx) {
        if ((e = hwHabilitaTxCanalAudio(iSlotTx)) != 0)
            NLOG::Log(NLOG::ERROR, "%s[%d]: Error %d hwHabilitaTxCanalAudio(%d)", p, iRec, e, iSlotTx);
        if ((e = hwHabilitaRxCanalAudio(iSlotRx)) != 0)
            NLOG::Log(NLOG::ERROR, "%s[%d]: Error %d hwHabilitaRxCanalAudio(%d)", p, iRec, e, iSlotRx);
    } else {
        if ((e = hwDesabilitaTxCanalAudio(iSlotTx)) != 0)
            NLOG::Log(NLOG::ERROR, "%s[%d]: Error %d hwDesabilitaTxCanalAudio(%d)", p, iRec, e, iSlotTx);
        if ((e = hwDesabilitaRxCanalAudio(iSlotRx)) != 0)
            NLOG::Log(NLOG::ERROR, "%s[%d]: Error %d hwDesabilitaRxCanalAudio(%d)", p, iRec, e, iSlotRx);
    }

    {
        cfgCerrojo c(&tMutexAudio);
        iModoMezcla = 2;
        NLOG::Log(NLOG::INFO, "%s[%d]: Arranca mezclador tlf ", p, iRec);
        pMezclador = new CMezclador(CANALES_MEZCLADOR, MUESTRAS_MEZCLADOR);
        iCanalMezclador = pMezclador->AbreCanal();
        if (iCanalMezclador < 0) NLOG::Log(NLOG::ERROR, "%s[%d]: Error Arranca Canal mezclador", p, iRec);
        sRecortador.iCanal = iSlotRx;
        sRecortador.iVentana = 800 / 10;
        sRecortador.iLimite = 320;
        sRecortador.iPendientes = 0;
    }

    hwRegistraEventosEntrada(iModulo, this);
    if (hwIniciaSlic(iModulo, MODO_SLIC_REPOSO, 0, 0, 0) != 0)
        NLOG::Log(NLOG::ERROR, "CENTREC[%d]: Error  hwIniciaSlic(%d)", iRec, iModulo);

    // The audio and network threads come with the RTP sessions.
    pPlayFile = new CPlayFile;
    if (pPlayFile->Arranca(iRec, this) != 0)
        NLOG::Log(NLOG::ERROR, "%s[%d] - Error creando hilo PlayFile", p, iRec);
    int r = hwRegistraEventosSlic(iModulo, this, nullptr);
    if (r != 0) NLOG::Log(NLOG::ERROR, "%s[%d]: Error %d hwRegistraEventosSlic(%d)", p, iRec, r, iModulo);
    iIniciada = 1;
    return 0;
}

void CEntidadRC::ArrancaHW() {
    if (!iIniciada) return;
    const char* p = mrecPalabra();
    {
        cfgCerrojo c(&tMutexGlobal);
        iHwArrancado = 0;
        iEstadoHw = HW_ARRANCANDO;
    }
    const cfgConfigRecurso r = Registro();
    NLOG::Log(NLOG::INFO, "%s[%d]:ArrancaHW(%d) tipoif %d", p, iRec, iModulo, r.iTipoIf);
    int iModo = 0, p2 = 0, p3 = 0, p4 = 0;
    switch (r.iTipoIf) {
    case TIPOIF_BC: iModo = 2; break;
    case TIPOIF_BL:
        iModo = iTipoIfHw == 1 ? 0 : 1;
        NLOG::Log(NLOG::INFO, "Arrancahw BL  iTipoIfHw %i", iTipoIfHw);
        break;
    case TIPOIF_AB: iModo = 3; break;
    case TIPOIF_EYM_PP:
    case TIPOIF_EYM_MARC:
        if (r.iTipoIf == TIPOIF_EYM_PP && iTipoIfHw == 2) break;
        iModo = 4;
        p2 = r.uParam.tlf.eTypeEyM;
        p3 = r.uParam.tlf.iLadoEyM;
        p4 = r.uParam.tlf.iModoEyM;
        break;
    default: break;  // LCEN, ATS-R2, ATS-N5: mode 0
    }
    if (hwIniciaSlic(iModulo, iModo, p2, p3, p4) < 0) {
        NLOG::Log(NLOG::ERROR, "%s[%d]: Error hwIniciaSlic(%d)", p, iRec, iModulo);
        cfgCerrojo c(&tMutexGlobal);
        iHwArrancado = 0;
        iEstadoHw = HW_PARADO;
        return;
    }
    DuermeMs(100);
    if (hwSlicTs(iModulo, iSlotTx) != 0) NLOG::Log(NLOG::ERROR, "%s[%d]: Error hwSlicTs(%d,%d)", p, iRec, iModulo, iSlotTx);
    if (hwSlicCodec(iModulo, CODEC_SLIC) != 0)
        NLOG::Log(NLOG::ERROR, "%s[%d]: Error hwSlicCodec(%d,%d)", p, iRec, iModulo, CODEC_SLIC);
    if (r.iSelGananciaAgcTx == 0 && hwSlicGananciaTx(iModulo, r.iGananciaAgcTx) != 0)
        NLOG::Log(NLOG::ERROR, "%s[%d]: Error hwSlicGananciaTx(%d,%d)\n", p, iRec, iModulo, r.iGananciaAgcTx);
    if (r.iSelGananciaAgcRx == 0 && hwSlicGananciaRx(iModulo, r.iGananciaAgcRx) != 0)
        NLOG::Log(NLOG::ERROR, "%s[%d]: Error hwSlicGananciaRx(%d,%d)\n", p, iRec, iModulo, r.iGananciaAgcRx);
    NLOG::Log(NLOG::INFO, "%s[%d]: FIN ArrancaHW(%d)", p, iRec, iModulo);
    cfgCerrojo c(&tMutexGlobal);
    iHwArrancado = 1;
    iReconfigurado = 1;
}

int CEntidadRC::SupervisaHW() {
    if (hwDimePresenciaModulo(iModulo / 4) != 1 || iTerminada) return 200000;
    int iArrancado, iEstado;
    {
        cfgCerrojo c(&tMutexGlobal);
        iArrancado = iHwArrancado;
        iEstado = iEstadoHw;
    }
    if (iArrancado == 1) {
        ++iPasadas;
        switch (hwCompruebaSlic(iModulo)) {
        case -6:
            NLOG::Log(NLOG::ERROR, " CENTRC[%d]:HW_ERR_PARAMS iNumReconfigSlic=%d ", iRec, iNumReconfigSlic);
            if (++iNumReconfigSlic < 4) {
                iPasadas = 0;
                return 6000000;
            }
            ArrancaHW();
            iNumReconfigSlic = 0;
            iPasadas = 0;
            return 1000000;
        case -1: {
            NLOG::Log(NLOG::ERROR, " CENTRC[%d]: HW_NO_INICIADO ", iRec);
            ++iFallos;
            iPasadas = 0;
            cfgCerrojo c(&tMutexGlobal);
            iHwArrancado = 0;
            iEstadoHw = HW_PARADO;
            return 6000000;
        }
        default: {
            cfgCerrojo c(&tMutexGlobal);
            if (iNumReconfigSlic != 0) {
                iNumReconfigSlic = 0;
                iReconfigurado = 1;
            }
            iEstadoHw = HW_EN_MARCHA;
        }
            AplicaGanancias();
            return iPasadas < 6 ? 6000000 : 12000000;
        }
    }
    if (iEstado == HW_PARADO) {
        iPasadas = 0;
        NLOG::Log(NLOG::INFO, " CENTRC[%d]: CONFIGURA  %i", iRec, iModulo);
        ArrancaHW();
        return 1000000;
    }
    return 6000000;
}

void CEntidadRC::FalloHw() {
    {
        cfgCerrojo c(&tMutexGlobal);
        if (iEstadoHw == HW_PARADO) return;
        iEstadoHw = HW_PARADO;
        iHwArrancado = 0;
    }
    NLOG::Log(NLOG::ERROR, "CENTRC[%d]: Fallo hw(%d)", iRec, iModulo);
}

int CEntidadRC::HwOk() {
    cfgCerrojo c(&tMutexGlobal);
    return iEstadoHw == HW_EN_MARCHA ? 1 : 0;
}

int CEntidadRC::DameEstadoHw() {
    cfgCerrojo c(&tMutexGlobal);
    return iEstadoHw;
}

int CEntidadRC::HaySlic() {
    const cfgConfigRecurso r = Registro();
    if (r.iTipoIf == TIPOIF_BL && r.uParam.tlf.iDetectVox == 1) return 1;
    return hwHaySlic() == 1 ? 1 : 0;
}

void CEntidadRC::Termina() {
    printf("-----------------------TRAZA Termina\n");
    fflush(stdout);
    if (iTerminada.exchange(1)) return;
    // Before its start the entity has no module of its own: module 0 may be another line's.
    if (!iIniciada) return;
    if (hwIniciaSlic(iModulo, MODO_SLIC_REPOSO, 0, 0, 0) != 0)
        NLOG::Log(NLOG::ERROR, "CENTTLF[%d]: Error Termina hwIniciaSlic(%d)", iRec, iModulo);
    NLOG::Log(NLOG::INFO, "CENTTLF[%d]: Terminahw(%d)", iRec, iModulo);
}

int CEntidadRC::EvtFalloSlic(int, int) {
    NLOG::Log(NLOG::ERROR, "CENTRC[%d]: EvtFalloSlic(%d)", iRec, iModulo);
    cfgCerrojo c(&tMutexGlobal);
    if (iEstadoHw != HW_ARRANCANDO) {
        iEstadoHw = HW_PARADO;
        iHwArrancado = 0;
        iPasadas = 0;
    }
    return 0;
}

// Tone samples go to the line through the audio threads, which come with the RTP sessions.
int CEntidadRC::EvtMuestrasPlayFile(int, int, const uint8_t*) { return 0; }

void CEntidadRC::AplicaGanancias() {
    const cfgConfigRecurso r = Registro();
    const char* p = mrecPalabra();
    if (r.iSelGananciaAgcTx == 0 && r.iGananciaAgcTx != iGananciaTxAplicada) {
        if (hwSlicGananciaTx(iModulo, r.iGananciaAgcTx) == 0)
            iGananciaTxAplicada = r.iGananciaAgcTx;
        else
            NLOG::Log(NLOG::ERROR, "%s[%d]: Error hwSlicGananciaTx(%d,%d)", p, iRec, iModulo, r.iGananciaAgcTx);
    }
    if (r.iSelGananciaAgcRx == 0 && r.iGananciaAgcRx != iGananciaRxAplicada) {
        if (hwSlicGananciaRx(iModulo, r.iGananciaAgcRx) == 0)
            iGananciaRxAplicada = r.iGananciaAgcRx;
        else
            NLOG::Log(NLOG::ERROR, "%s[%d]: Error hwSlicGananciaRx(%d,%d)\n", p, iRec, iModulo, r.iGananciaAgcRx);
    }
}

void CEntidadRC::AjustaGananciaTx(int iModo, int iGanancia) {
    const int g = iModo == 1 ? 0 : iGanancia;
    if (hwSlicGananciaTx(iModulo, g) != 0)
        NLOG::Log(NLOG::ERROR, "%s[%d]: Error hwSlicGananciaTx(%d,%d)", mrecPalabra(), iRec, iModulo, g);
}

void CEntidadRC::AjustaGananciaRx(int iModo, int iGanancia) {
    const int g = iModo == 1 ? 0 : iGanancia;
    if (hwSlicGananciaRx(iModulo, g) != 0)
        NLOG::Log(NLOG::ERROR, "%s[%d]: Error hwSlicGananciaRx(%d,%d)", mrecPalabra(), iRec, iModulo, g);
}

// The common entity has no line protocol: it takes no call.
int CEntidadRC::LlamadaSaliente(int32_t, const char*, const char*, int) { return -1; }
int CEntidadRC::FinLlamada(int32_t) { return -1; }
int CEntidadRC::Ringing() { return -1; }
int CEntidadRC::AceptaLlamada() { return -1; }
int CEntidadRC::RechazaLlamada(int32_t, int) { return -1; }
int CEntidadRC::InfoLlamada(int32_t, int) { return -1; }
void CEntidadRC::CambioConfigIf(CambiosConfig*) {}
void CEntidadRC::CambioConfigGeneral(CambiosConfig*) {}
void CEntidadRC::AplicaConfig(const CambiosConfig&) {}

void CEntidadRC::PintaEstado() {
    IpcPrintf("   Modulo %d  SlotTx %d  SlotRx %d  EstadoHw %d\n", iModulo, iSlotTx, iSlotRx, DameEstadoHw());
}

void CEntidadRC::Debug(int32_t) {}

// Local tones come with the audio threads; until then the request is only noted.
void CEntidadRC::GeneraTono(int iTono) {
    if (iTono < 0 || iTono > 5) return;
    NLOG::Log(NLOG::INFO, "%s[%d]: GeneraTono(%d)", mrecPalabra(), iRec, iTono);
}
