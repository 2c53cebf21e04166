#include "centrec.h"

#include <sys/eventfd.h>
#include <sys/select.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "ccontextorecurso.h"
#include "cmezclador.h"
#include "comun/ctemporizador.h"
#include "comun/ganchosipc.h"
#include "comun/gestormutex.h"
#include "comun/hilo.h"
#include "comun/nlog.h"
#include "comun/trazapid.h"
#include "comun/vigilanciahilos.h"
#include "cplayfile.h"
#include "csesionrtp.h"
#include "hardware/hardware.h"
#include "rtpudpv4transmitter.h"
#include "libdsp.h"

namespace {
constexpr int TIPO_HW_RX_TRAS_TX = 0x200000;
constexpr int CANALES_MEZCLADOR = 4;
constexpr int MUESTRAS_MEZCLADOR = 320;
constexpr int CODEC_SLIC = 8;
constexpr int MODO_SLIC_REPOSO = 2;
constexpr int MUESTRAS_BLOQUE = 160;       // 20 ms of G.711
constexpr int PASADAS_REFRESCO = 50;       // watchdog refresh, in passes
constexpr int PERIODO_VIGILANCIA_MS = 10000;
constexpr int MAX_PASADAS_RAPIDAS_AUDIO = 500;
constexpr int MAX_PASADAS_RAPIDAS_RED = 50;
constexpr int CANAL_MAXIMO_SESION = 14;    // channels are the indices of the session table
constexpr uint32_t CLASE_RTP = 0x80;
const char* const TONO_RETENCION = "/mnt/ramfs/tonoreten.pcm";
const char* const ASZ_TONOS[] = {nullptr,
                                 "/mnt/ramfs/tonofuera.pcm",
                                 "/mnt/ramfs/progresion.pcm",
                                 "/mnt/ramfs/onhook.pcm",
                                 "/mnt/ramfs/congestion_1.pcm",
                                 "/mnt/ramfs/ocupado.pcm"};

// Microseconds of the monotonic clock: the board's microsecond timer wraps within a second,
// too soon to measure a pass of the audio loop.
uint32_t MicrosMonotonicos() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<uint32_t>(static_cast<uint64_t>(t.tv_sec) * 1000000u + static_cast<uint64_t>(t.tv_nsec) / 1000u);
}

// Wall clock in 8 kHz samples (wraps).
uint32_t RelojEnMuestras() {
    timespec t;
    clock_gettime(CLOCK_REALTIME, &t);
    return static_cast<uint32_t>(static_cast<uint64_t>(t.tv_sec) * 8000u + static_cast<uint64_t>(t.tv_nsec) / 125000u);
}

// The audio threads print their stack to the console, as every real-time thread of the board.
void PintaAtributos(const char* szTitulo) {
    pthread_attr_t a;
    if (pthread_getattr_np(pthread_self(), &a) != 0) {
        IpcPrintf("pthread_getattr_np\n");
        return;
    }
    void* pPila = nullptr;
    size_t iTam = 0;
    pthread_attr_getstack(&a, &pPila, &iTam);
    pthread_attr_destroy(&a);
    int iLocal = 0;
    IpcPrintf("Thread attributes %s:\n", szTitulo);
    IpcPrintf("\tStack address = %p\n\tStack size = 0x%zx bytes\n\tStack pointer = %p\n", pPila, iTam,
              static_cast<void*>(&iLocal));
}

int Tid() { return static_cast<int>(syscall(SYS_gettid)); }
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
        NLOG::Log(NLOG::ERROR, "%s[%d] - Error creando hilo supervisor HW", pContexto->szPalabra, iRec);
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

void CEntidadRC::CreaCerrojos(int iNumRec) {
    char szNombre[48];
    snprintf(szNombre, sizeof szNombre, "CEntidadRC[%d].tMutexGlobal", iNumRec);
    CreaMutex(szNombre, &tMutexGlobal, nullptr);
    snprintf(szNombre, sizeof szNombre, "CEntidadRC[%d].tMutexAudio", iNumRec);
    CreaMutex(szNombre, &tMutexAudio, nullptr);
    snprintf(szNombre, sizeof szNombre, "CEntidadRC[%d].tMutexAudioRed", iNumRec);
    CreaMutex(szNombre, &tMutexAudioRed, nullptr);
    pthread_cond_init(&tCondAudioRed, nullptr);
}

int CEntidadRC::Inicia(int iNumRec) {
    const char* p = pContexto->szPalabra;
    iDespiertaRed = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (iDespiertaRed < 0) NLOG::Log(NLOG::ERROR, "%s[%d]: Error %d eventfd", p, iNumRec, errno);
    pTemporizador->Inicia(CTemporizador::MAX_TEMPORIZADORES);

    iTipoIfHw = 0;
    int iTipoIf;
    {
        cfgCerrojo c(&pContexto->tMutexConfig);
        cfgConfigRecurso* r = &pContexto->sRegistro;
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
        if (e == -3) IpcPrintf("%s\n", strerror(errno));
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

    // Without its audio threads the line stays unstarted: no hardware start, no session.
    if (CreaHiloSuelto(nullptr, sHiloAudio, this) != 0) {
        NLOG::Log(NLOG::ERROR, "%s[%d] - Error creando hilo Audio", p, iRec);
        return -6;
    }
    if (CreaHiloSuelto(nullptr, sHiloRed, this) != 0) {
        NLOG::Log(NLOG::ERROR, "%s[%d] - Error creando hilo AudioDesdeRed", p, iRec);
        return -6;
    }
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
    const char* p = pContexto->szPalabra;
    {
        cfgCerrojo c(&tMutexGlobal);
        iHwArrancado = 0;
        iEstadoHw = HW_ARRANCANDO;
    }
    const cfgConfigRecurso r = pContexto->CopiaRegistro();
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

void CEntidadRC::PasosSlotsDsp(PasoDsp asPasos[NUM_PASOS_SLOTS_DSP]) const {
    asPasos[0] = {"ldspTomaCanalIfRx", ldspTomaCanalIfRx, iSlotTx};
    asPasos[1] = {"ldspTomaCanalIfTx", ldspTomaCanalIfTx, iSlotTx};
    asPasos[2] = {"ldspTomaCanalHostRx", ldspTomaCanalHostRx, iSlotRx};
    asPasos[3] = {"ldspTomaCanalHostTx", ldspTomaCanalHostTx, iSlotRx};
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
    const cfgConfigRecurso r = pContexto->CopiaRegistro();
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


void CEntidadRC::AplicaGanancias() {
    const cfgConfigRecurso r = pContexto->CopiaRegistro();
    const char* p = pContexto->szPalabra;
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
        NLOG::Log(NLOG::ERROR, "%s[%d]: Error hwSlicGananciaTx(%d,%d)", pContexto->szPalabra, iRec, iModulo, g);
}

void CEntidadRC::AjustaGananciaRx(int iModo, int iGanancia) {
    const int g = iModo == 1 ? 0 : iGanancia;
    if (hwSlicGananciaRx(iModulo, g) != 0)
        NLOG::Log(NLOG::ERROR, "%s[%d]: Error hwSlicGananciaRx(%d,%d)", pContexto->szPalabra, iRec, iModulo, g);
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

// ---- Audio: session attachment, local tones, the two audio threads ----------------------

int CEntidadRC::ConectaSesion(int iCanal, CSesionRTP* pSesion, int32_t iTx, int32_t iRx) {
    if (!iIniciada) return -1;
    if (!pSesion) return -2;
    if (pPlayFile) pPlayFile->Cierra();
    // Socket numbers are read before the lock: the session is not yet seen by the threads.
    int iSocketRtp = -1, iSocketRtcp = -1;
    if (iRx != -1) {
        RTPTransmissionInfo* pInfo = pSesion->GetTransmissionInfo();
        if (auto* pUdp = dynamic_cast<RTPUDPv4TransmissionInfo*>(pInfo)) {
            iSocketRtp = pUdp->GetRTPSocket();
            iSocketRtcp = pUdp->GetRTCPSocket();
        }
        pSesion->DeleteTransmissionInfo(pInfo);
    }
    {
        cfgCerrojo c(&tMutexAudio);
        iTonoLocal = 0;
        if (iTx != -1) {
            iTxActivo = 1;
            pTxSesion = pSesion;
            iTxCanal = iCanal;
        }
        if (iRx != -1) {
            if (pRxSesion) NLOG::Log(NLOG::ERROR, "%d- Datos RTP corruptos", iRec);
            pRxSesion = pSesion;
            iRxCanal = iCanal;
            iRxSocketRtp = iSocketRtp;
            iRxSocketRtcp = iSocketRtcp;
            iRxActivo = 1;
        }
        // The line keeps its own law (A-law, codec 8 of the line module), and so do the
        // entity's codecs: the session converts to and from the payload's law on the wire.
        iCodec = iTx != -1 ? iTx : iRx;
        pSesion->FijaLeyLinea(CSesionRTP::PAYLOAD_PCMA);
    }
    cfgCerrojo c(&tMutexAudioRed);
    pthread_cond_broadcast(&tCondAudioRed);
    return 0;
}

int CEntidadRC::ModificaSesion(int iCanal, int32_t iTx, int32_t iRx) {
    if (iCanal < 0 || (iTx != -1 && iRx != -1 && iTx != iRx)) return -1;
    int iEsRx;
    {
        cfgCerrojo c(&tMutexAudio);
        if (iCanal != iTxCanal && iCanal != iRxCanal) return -1;
        if (iCanal == iTxCanal) iTxActivo = iTx != -1 ? 1 : 0;
        iEsRx = iCanal == iRxCanal;
        if (iEsRx) {
            iRxActivo = iRx != -1 ? 1 : 0;
            iTonoLocal = iRx != -1 ? 0 : 1;
        }
    }
    if (iEsRx && pPlayFile) {
        if (iRx != -1)
            pPlayFile->Cierra();
        else
            pPlayFile->Abre(TONO_RETENCION, MUESTRAS_BLOQUE);
    }
    cfgCerrojo c(&tMutexAudioRed);
    pthread_cond_broadcast(&tCondAudioRed);
    return 0;
}

// Any channel of the session table is detached, so that no thread keeps a session that
// mrecFinSesion is about to delete.
int CEntidadRC::DesconectaSesion(int iCanal) {
    if (!iIniciada) return -1;
    if (iCanal < 0 || iCanal > CANAL_MAXIMO_SESION) return -2;
    if (pPlayFile) pPlayFile->Cierra();
    int iResultado = 0;
    {
        cfgCerrojo c(&tMutexAudio);
        iTonoLocal = 0;
        if (iCanal != iTxCanal && iCanal != iRxCanal) {
            NLOG::Log(NLOG::ERROR, "Datos RTP corruptos iMiNumCanal=%i iCanal=%i", iRec, iCanal);
            iResultado = -1;
        }
        if (iCanal == iTxCanal) {
            iTxActivo = 0;
            pTxSesion = nullptr;
            iTxCanal = -1;
        }
        if (iCanal == iRxCanal) {
            iRxActivo = 0;
            pRxSesion = nullptr;
            iRxCanal = -1;
            iRxSocketRtp = iRxSocketRtcp = -1;
        }
    }
    // Also for a channel not attached: a session replaced as receiver may still be waited on.
    SueltaSocketsRed();
    return iResultado;
}

void CEntidadRC::SueltaSocketsRed() {
    cfgCerrojo c(&tMutexAudioRed);
    pthread_cond_broadcast(&tCondAudioRed);
    if (!iEsperaSockets) return;
    const uint64_t uiUno = 1;
    if (iDespiertaRed < 0 || write(iDespiertaRed, &uiUno, sizeof uiUno) != sizeof uiUno) return;
    // The thread may wait again on the sockets still attached: what counts is that the wait
    // that might hold the detached ones has ended.
    const uint32_t uiEspera = uiEsperasRed;
    timespec t;
    clock_gettime(CLOCK_REALTIME, &t);
    t.tv_sec += 1;
    while (uiEsperasRed == uiEspera)
        if (pthread_cond_timedwait(&tCondAudioRed, &tMutexAudioRed, &t) == ETIMEDOUT) break;
}

void CEntidadRC::GeneraTono(int iTono) {
    if (!pPlayFile || iTono < 0 || iTono > 5) return;
    if (iTono == 0)
        pPlayFile->Cierra();
    else
        pPlayFile->Abre(ASZ_TONOS[iTono], MUESTRAS_BLOQUE);
}

int CEntidadRC::EvtMuestrasPlayFile(int, int iCuenta, const uint8_t* pucMuestras) {
    if (iCuenta <= 0 || !pucMuestras) return 0;
    iCuenta = std::min(iCuenta, MUESTRAS_BLOQUE);
    int iModo;
    {
        cfgCerrojo c(&tMutexAudio);
        iModo = iModoMezcla;
        if (iModo > 1 && pMezclador) {
            int32_t aiMuestras[MUESTRAS_BLOQUE];
            oDecodificador.Decodifica(pucMuestras, aiMuestras, iCuenta);
            pMezclador->MeteMuestras(iCanalMezclador, aiMuestras, iCuenta, nullptr);
            return 0;
        }
    }
    int n = iCuenta;
    hwEnviaMuestras(sRecortador.iCanal, pucMuestras, &n);
    return 0;
}

// Window and time in 10 ms board ticks (hwDameTiempo) on every caller: 80 ticks = 800 ms.
int CEntidadRC::RecortaRetardo(int iCuenta, uint32_t uiTiempo) {
    Recortador& r = sRecortador;
    if (static_cast<int32_t>(uiTiempo - r.uiUltima) <= r.iVentana) {
        r.iPendientes += hwDameNumMuestras(r.iCanal);
    } else {
        hwDameNumMuestras(r.iCanal);
        r.iPendientes = 0;
    }
    r.uiUltima = uiTiempo;
    if (iCuenta <= 0 || r.iPendientes <= 0) return iCuenta;
    if (hwLeeEstadoPcm(r.iCanal) <= r.iLimite) return iCuenta;
    if (iCuenta > r.iPendientes) {
        const int n = iCuenta - r.iPendientes;
        r.iPendientes = 0;
        return n;
    }
    r.iPendientes -= iCuenta;
    return 0;
}

void CEntidadRC::NombresHilosAudio(const char** pszAudio, const char** pszRed) const {
    // Named after the build, as the thread trace files of the three programs show them.
    const char* p = pContexto->szPalabra;
    if (p && p[0] == 'T') {
        *pszAudio = "CEntTF audio TF";
        *pszRed = "CEntTF audio red";
    } else if (p && p[0] == 'L') {
        *pszAudio = "CEntLC audio LC";
        *pszRed = "CEntLC audio red";
    } else {
        *pszAudio = "CEntR2N5 audio ";
        *pszRed = "CEntR2N5 audio red";
    }
}

void* CEntidadRC::sHiloAudio(void* pObjeto) {
    static_cast<CEntidadRC*>(pObjeto)->HiloAudio();
    return nullptr;
}

void* CEntidadRC::sHiloRed(void* pObjeto) {
    static_cast<CEntidadRC*>(pObjeto)->HiloRed();
    return nullptr;
}

void CEntidadRC::HiloAudio() {
    const char *szNombre, *szRed;
    NombresHilosAudio(&szNombre, &szRed);
    PintaAtributos("Hilo audio");
    TrazaPid(szNombre, iRec, "src/recurso/centrec");
    NLOG::Log(NLOG::INFO, "%s[%i] pid=%i", szNombre, iRec, Tid());
    const int iVigia = RegistraHilo(szNombre, iRec, PERIODO_VIGILANCIA_MS, hwDameTiempo());
    if (FijaPrioridadHilo(2) != 0) IpcTraza(CLASE_RTP, "%d-ERROR en cambio prioridad a 1 error=%i\n", iRec, errno);

    // Buffers of the loop: nothing is allocated per pass.
    uint8_t aucLinea[MUESTRAS_BLOQUE];
    int32_t aiMezcla[MUESTRAS_BLOQUE];
    uint8_t aucSalida[MUESTRAS_BLOQUE];
    uint32_t uiEsperado = RelojEnMuestras();
    uint32_t uiAnterior = MicrosMonotonicos();
    int iRapidas = 0, iPasadas = 0;
    // A missing time slot is logged when the read's outcome changes, not on every pass.
    int iUltimoFallo = 0, iUltimasMuestras = MUESTRAS_BLOQUE;
    for (;;) {
        int n = MUESTRAS_BLOQUE;
        const int e = hwDameMuestras(iSlotRx, aucLinea, &n);
        const uint32_t uiAhora = MicrosMonotonicos();
        const uint32_t uiDelta = uiAhora - uiAnterior;
        uiAnterior = uiAhora;
        if (uiDelta < 1000) {
            if (++iRapidas > MAX_PASADAS_RAPIDAS_AUDIO) break;
        } else {
            iRapidas = 0;
        }
        if (e != 0 || n <= 0) {
            if (e != iUltimoFallo || n != iUltimasMuestras)
                NLOG::Log(NLOG::INFO, "CentRec[%d]: hwDameMuestras noOK (%i) Muestras %i\n", iRec, e, n);
            iUltimoFallo = e;
            iUltimasMuestras = n;
            DuermeMs(20);
        } else {
            iUltimoFallo = 0;
            iUltimasMuestras = MUESTRAS_BLOQUE;
        }
        hwCompruebaEntrada(iModulo, 0);
        if (uiDelta > 10 && uiDelta <= 99999 && (uiDelta < 15000 || uiDelta > 25000))
            NLOG::Log(NLOG::INFO, "CENT[%d]: ERROR delta %d ", iRec, static_cast<int>(uiDelta));

        cfgCerrojo c(&tMutexAudio);
        if (e == 0 && n > 0 && iTxActivo && pTxSesion) {
            const int r = pTxSesion->EnviaMuestrasLinea(aucLinea, n);
            if (r < 0) {
                iTxActivo = 0;
                pTxSesion->PasaSilencio(static_cast<uint32_t>(n));
                NLOG::Log(NLOG::ERROR, "%d-Sesion[%d] Error %d en SendPacket (%s)", iRec, iTxCanal, r,
                          RTPGetErrorString(r).c_str());
            }
        } else if (pTxSesion) {
            // The line's clock ran on for the pass (a failed read slept a block's time).
            pTxSesion->PasaSilencio(e == 0 && n > 0 ? static_cast<uint32_t>(n) : MUESTRAS_BLOQUE);
        }
        if (pMezclador && iModoMezcla > 1) {
            int32_t m = MUESTRAS_BLOQUE;
            pMezclador->Mezcla(aiMezcla, m, &uiEsperado, RelojEnMuestras());
            if (m <= 0) {
                uiEsperado = RelojEnMuestras();
                RecortaRetardo(0, hwDameTiempo());
            } else {
                int w = RecortaRetardo(m, hwDameTiempo());
                if (w > 0) {
                    oCodificador.Codifica(aiMezcla, aucSalida, w);
                    hwEnviaMuestras(sRecortador.iCanal, aucSalida, &w);
                }
                uiEsperado += static_cast<uint32_t>(m);
            }
        }
        if (++iPasadas >= PASADAS_REFRESCO) {
            iPasadas = 0;
            RefrescaHilo(iVigia, hwDameTiempo());
        }
    }
    NLOG::Log(NLOG::ERROR, "Hilo Audio FALLA !!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!");
    IpcPrintf("ERROR: Hilo Audio FALLA !!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!\n");
    exit(1);
}

void CEntidadRC::HiloRed() {
    const char *szAudio, *szNombre;
    NombresHilosAudio(&szAudio, &szNombre);
    PintaAtributos("Hilo RED");
    TrazaPid(szNombre, iRec, "src/recurso/centrec");
    NLOG::Log(NLOG::INFO, "%s[%i] pid=%i", szNombre, iRec, Tid());
    const int iVigia = RegistraHilo(szNombre, iRec, PERIODO_VIGILANCIA_MS, hwDameTiempo());
    if (FijaPrioridadHilo(2) != 0)
        NLOG::Log(NLOG::ERROR, "%d-ERROR en cambio prioridad a 1 error=%i", iRec, errno);

    uint32_t uiAnterior = MicrosMonotonicos();
    int iRapidas = 0, iContadas = 0;
    for (;;) {
        int iActivo, iRtp, iRtcp;
        {
            // Taken together with the flag, so a detach either finds the thread waiting
            // on these sockets or finds them gone.
            cfgCerrojo cr(&tMutexAudioRed);
            {
                cfgCerrojo c(&tMutexAudio);
                iActivo = iRxActivo && pRxSesion && iRxSocketRtp >= 0;
                iRtp = iRxSocketRtp;
                iRtcp = iRxSocketRtcp;
            }
            iEsperaSockets = iActivo;
            if (!iActivo) {
                timespec t;
                clock_gettime(CLOCK_REALTIME, &t);
                t.tv_nsec += 500 * 1000000L;
                if (t.tv_nsec >= 1000000000L) {
                    t.tv_sec += 1;
                    t.tv_nsec -= 1000000000L;
                }
                pthread_cond_timedwait(&tCondAudioRed, &tMutexAudioRed, &t);
            }
        }
        if (!iActivo) {
            iContadas += PASADAS_REFRESCO;
        } else {
            fd_set sLectura;
            FD_ZERO(&sLectura);
            FD_SET(iRtp, &sLectura);
            if (iRtcp >= 0) FD_SET(iRtcp, &sLectura);
            int iMaximo = std::max(iRtp, iRtcp);
            if (iDespiertaRed >= 0) {
                FD_SET(iDespiertaRed, &sLectura);
                iMaximo = std::max(iMaximo, iDespiertaRed);
            }
            timeval tEspera{0, 500000};
            int r = select(iMaximo + 1, &sLectura, nullptr, nullptr, &tEspera);
            const int iErrno = errno;
            {
                cfgCerrojo cr(&tMutexAudioRed);
                iEsperaSockets = 0;
                ++uiEsperasRed;
                pthread_cond_broadcast(&tCondAudioRed);
            }
            if (r > 0 && iDespiertaRed >= 0 && FD_ISSET(iDespiertaRed, &sLectura)) {
                uint64_t uiCuenta;
                const ssize_t n = read(iDespiertaRed, &uiCuenta, sizeof uiCuenta);  // empties the counter
                (void)n;
                // Woken for a detach: the sockets may be gone, look again.
                if (!FD_ISSET(iRtp, &sLectura) && (iRtcp < 0 || !FD_ISSET(iRtcp, &sLectura))) continue;
            }
            errno = iErrno;
            const uint32_t uiAhora = MicrosMonotonicos();
            if (uiAhora - uiAnterior < 1000) {
                if (++iRapidas > MAX_PASADAS_RAPIDAS_RED) {
                    iRapidas = 0;
                    IpcPrintf("Hilo Red SocketRtp %d, .SocketRtcp %d\n", iRtp, iRtcp);
                    NLOG::Log(NLOG::INFO, "Hilo Red SocketRtp %d, .SocketRtcp %d", iRtp, iRtcp);
                    DuermeMs(20);
                }
            } else {
                iRapidas = 0;
            }
            uiAnterior = uiAhora;
            if (r < 0) {
                // The session may have been closed under the wait: its sockets went with it.
                NLOG::Log(NLOG::ERROR, "%d-Error %d en select RTP", iRec, errno);
                DuermeMs(20);
                iContadas += PASADAS_REFRESCO;
            } else if (r == 0) {
                NLOG::Log(NLOG::INFO, "%d-Timeout en select RTP", iRec);
                cfgCerrojo c(&tMutexAudio);
                if (iRxActivo && pRxSesion) pRxSesion->Poll();
                iContadas += PASADAS_REFRESCO;
            } else {
                const uint32_t uiTick = hwDameTiempo();
                cfgCerrojo c(&tMutexAudio);
                if (iRxActivo && pRxSesion) {
                    const int e = pRxSesion->Poll();
                    if (e != 0) IpcPrintf("POLL result =%i\n", e);
                    pRxSesion->BeginDataAccess();
                    if (pRxSesion->GotoFirstSourceWithData()) {
                        do {
                            RTPPacket* pPaquete;
                            while ((pPaquete = pRxSesion->GetNextPacket()) != nullptr) {
                                if (!iTonoLocal) RecibePaquete(iCanalMezclador, pPaquete, uiTick, iModoMezcla);
                                pRxSesion->DeletePacket(pPaquete);
                            }
                        } while (pRxSesion->GotoNextSourceWithData());
                    }
                    pRxSesion->EndDataAccess();
                }
                ++iContadas;
            }
        }
        if (iContadas >= PASADAS_REFRESCO) {
            iContadas = 0;
            RefrescaHilo(iVigia, hwDameTiempo());
        }
    }
}

void CEntidadRC::RecibePaquete(int iCanalMezcla, RTPPacket* pPaquete, uint32_t uiTick, int iModo) {
    uint8_t aucPieza[MUESTRAS_BLOQUE];
    int32_t aiMuestras[MUESTRAS_BLOQUE];
    const int32_t iLongitud = static_cast<int32_t>(pPaquete->GetPayloadLength());
    for (int32_t iDesde = 0; iDesde < iLongitud; iDesde += MUESTRAS_BLOQUE) {
        int32_t n = pRxSesion->MuestrasParaLinea(pPaquete, iDesde, aucPieza, MUESTRAS_BLOQUE);
        if (n <= 0) break;
        if (iModo < 2) {
            int w = RecortaRetardo(n, uiTick);
            if (w > 0) hwEnviaMuestras(sRecortador.iCanal, aucPieza, &w);
        } else if (pMezclador) {
            oDecodificador.Decodifica(aucPieza, aiMuestras, n);
            pMezclador->MeteMuestras(iCanalMezcla, aiMuestras, n, nullptr);
        }
    }
}
