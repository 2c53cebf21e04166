// CEntidadRC: the common line entity of a resource process. It owns the line hardware of
// its resource (line module, time slots, PCM device), supervises it, and holds what every
// channel entity shares (mixer, codecs, timers, tone player). The trunk, telephone and
// hot-line entities derive from it and override the call operations and the DSP events.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>

#include "hardware/ccomeventos.h"
#include "ccodecg711.h"

class CContextoRecurso;
class CMezclador;
class CPlayFile;
struct PasoDsp;
class CSesionRTP;
namespace jrtplib {
class RTPPacket;
}
using jrtplib::RTPPacket;
class CTemporizador;

// Changes found in a new configuration: bit words the channel entity fills and applies.
struct CambiosConfig {
    uint32_t uiGeneral = 0;
    uint32_t uiInterfaz = 0;
};

class CEntidadRC : public CComeventos {
public:
    enum { HW_PARADO = 0, HW_EN_MARCHA = 1, HW_ARRANCANDO = 2 };

    CEntidadRC();
    virtual ~CEntidadRC();
    CEntidadRC(const CEntidadRC&) = delete;
    CEntidadRC& operator=(const CEntidadRC&) = delete;

    // The process's context, handed by the start-up before anything else reaches the entity.
    void FijaContexto(CContextoRecurso& contexto) { pContexto = &contexto; }

    // Start of the line once configured, called by main. The common entity runs Inicia and
    // its own hardware supervision thread; a channel entity replaces both with its own.
    virtual int Arranca(int iRec);

    // The common locks. The frame creates them before the core's channel runs: a message
    // (a debug word right after the configuration) may reach the entity before its line starts.
    void CreaCerrojos(int iRec);
    // 0, or -6 when a thread cannot be created.
    int Inicia(int iRec);
    void ArrancaHW();
    // One pass; returns the wait in microseconds before the next.
    int SupervisaHW();
    void FalloHw();
    int HwOk();
    int HaySlic();
    // EvtTermina from the core: the line goes back to rest for good; the process runs on.
    virtual void Termina();
    int EvtFalloSlic(int iModulo, int iEstado) override;
    int EvtMuestrasPlayFile(int iValor, int iCuenta, const uint8_t* pucMuestras) override;
    void AplicaGanancias();
    void AjustaGananciaTx(int iModo, int iGanancia);
    void AjustaGananciaRx(int iModo, int iGanancia);

    // ---- Operations of the channel entity (the common entity has no line protocol) ----
    // Call control from the core; non-zero refuses.
    virtual int LlamadaSaliente(int32_t idLlamada, const char* szOrigen, const char* szDestino,
                                int iPrioridad);
    virtual int FinLlamada(int32_t idLlamada);
    virtual int Ringing();
    virtual int AceptaLlamada();
    virtual int RechazaLlamada(int32_t idLlamada, int iMotivo);
    virtual int InfoLlamada(int32_t idLlamada, int iMotivo);
    // Configuration changes: noted while the new record is compared, applied after.
    virtual void CambioConfigIf(CambiosConfig* pCambios);
    virtual void CambioConfigGeneral(CambiosConfig* pCambios);
    virtual void AplicaConfig(const CambiosConfig& sCambios);
    // State lines of the statistics print.
    virtual void PintaEstado();
    // Debug word from the core's console.
    virtual void Debug(int32_t iValor);

    // ---- Audio: attachment of the process's RTP sessions, local tones ----
    // iTx / iRx: payload type to send / receive, -1 for none.
    // 0; -1 not started; -2 no session.
    int ConectaSesion(int iCanal, CSesionRTP* pSesion, int32_t iTx, int32_t iRx);
    // 0, or -1 for a channel not attached or payload types that disagree.
    int ModificaSesion(int iCanal, int32_t iTx, int32_t iRx);
    // 0; -1 not started or channel not attached.
    int DesconectaSesion(int iCanal);
    // 0 stops the tone; 1 out of service, 2 progress, 3 on-hook, 4 congestion, 5 busy.
    void GeneraTono(int iTono);
    // Play-out trimmer: how many of iCuenta samples to write at uiTiempo (10 ms board ticks).
    int RecortaRetardo(int iCuenta, uint32_t uiTiempo);

    enum { NUM_PASOS_SLOTS_DSP = 4 };
    // The DSP channel's time slots as the line is wired: the line side (If) on the slot the
    // line module drives, the host side on the PCM channel of the audio threads.
    void PasosSlotsDsp(PasoDsp asPasos[NUM_PASOS_SLOTS_DSP]) const;

    // Queries for the frame and the tests.
    int DameModulo() const { return iModulo; }
    int DameSlotRx() const { return iSlotRx; }
    int DameEstadoHw();
    int Iniciada() const { return iIniciada.load(); }

protected:
    static void* sSupervisor(void* pObjeto);
    static void* sHiloAudio(void* pObjeto);
    static void* sHiloRed(void* pObjeto);
    // "Hilo Audio": paced by the PCM device, line -> RTP and mixer -> line every 20 ms.
    void HiloAudio();
    // "AudioDesdeRed": RTP -> mixer.
    void HiloRed();
    // Under tMutexAudio.
    void RecibePaquete(int iCanalMezcla, RTPPacket* pPaquete, uint32_t uiTick, int iModo);
    // Wakes the network thread and waits until it no longer waits on detached sockets.
    void SueltaSocketsRed();
    // Audio thread names of the build (thread trace file and watchdog).
    void NombresHilosAudio(const char** pszAudio, const char** pszRed) const;

    CContextoRecurso* pContexto = nullptr;
    int iRec = -1;
    std::atomic<int> iIniciada{0};
    // Guarded by tMutexGlobal.
    int iEstadoHw = HW_PARADO;
    int iReconfigurado = 0;
    int iHwArrancado = 0;
    // Guarded by tMutexAudio: the attachment, the local-tone flag (and the mixer below).
    int iTonoLocal = 0;
    int iTxActivo = 0;
    int iTxCanal = -1;
    CSesionRTP* pTxSesion = nullptr;
    int iRxActivo = 0;
    int iRxCanal = -1;
    CSesionRTP* pRxSesion = nullptr;
    int iRxSocketRtp = -1;
    int iRxSocketRtcp = -1;
    int32_t iCodec = -1;
    // Guarded by tMutexAudioRed: the network thread is waiting on the Rx sockets. A socket
    // closed under that wait stays bound until the wait ends, so a detach wakes the thread
    // (iDespiertaRed, an eventfd) and waits for it before the session may go.
    int iEsperaSockets = 0;
    uint32_t uiEsperasRed = 0;  // socket waits ended so far
    int iDespiertaRed = -1;
    // Touched by the supervision thread only.
    int iPasadas = 0;
    int iNumReconfigSlic = 0;
    int iFallos = 0;
    std::atomic<int> iTerminada{0};
    int iTipoIfHw = 0;
    int iRespuestaInmediata = 0;
    int iModulo = 0;
    int iSlotTx = 0;
    int iSlotRx = 0;
    int iGananciaTxAplicada = 0;
    int iGananciaRxAplicada = 0;
    CMezclador* pMezclador = nullptr;
    int iCanalMezclador = -1;
    int iModoMezcla = 0;
    struct Recortador {
        int iCanal = -1;
        uint32_t uiUltima = 0;
        int iVentana = 0;
        int iPendientes = 0;
        int iLimite = -1;
    } sRecortador;
    CCodecG711 oCodificador;
    CCodecG711 oDecodificador;
    pthread_mutex_t tMutexGlobal;
    pthread_mutex_t tMutexAudio;
    pthread_mutex_t tMutexAudioRed;
    pthread_cond_t tCondAudioRed;
    CTemporizador* pTemporizador = nullptr;
    CPlayFile* pPlayFile = nullptr;
};
