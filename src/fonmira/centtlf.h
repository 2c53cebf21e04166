// CEntidadTelef: line entity of an analogue telephone (BC, BL, AB) or E&M line. The line
// hardware signals the line (ring, loop, E&M wires); the DSP resource carries the audio
// channels, voice detection and the DTMF dialler. Seizing the line offers a call to the core.
//
// Threads: the core channel (call control), the SLIC supervisor and the audio thread (line
// events), the DSP channel (DSP events), the timer thread and the entity's supervisor.
// tMutexGlobal guards the call state and the countdown slots; tMutexRecDsp the DSP resource,
// taken after tMutexGlobal when both are held.
#pragma once

#include <pthread.h>

#include <cstdint>

#include "centrec.h"
#include "cmanttlf.h"
#include "cmarcador.h"
#include "comun/tablacontadores.h"
#include "ctemporizadorlinea.h"
#include "ipc/mensajescola.h"

class CEntidadTelef : public CEntidadRC {
public:
    enum eEstadoTlf { RESOSO = 1, LLAMADA_ENTRANTE = 3, CONVERSACION = 4, LLAMADA_SALIENTE = 5, PENDIENTE_CUELGUE = 6 };
    enum eEstadoIf { IF_REPOSO = 0, IF_DESCOLGADO = 1, IF_GENERANDO_RING = 2, IF_DETECTANDO_RING = 3 };
    enum eTono { TONO_NINGUNO = 0, TONO_FUERA = 1, TONO_PROGRESION = 2, TONO_CUELGUE = 3, TONO_CONGESTION = 4,
                 TONO_OCUPADO = 5 };

    CEntidadTelef();
    ~CEntidadTelef() override;

    int Arranca(int iRec) override;
    // 0, or -5 when the supervisor thread cannot be created.
    int Inicia(int iRec);
    // 0; -3 the line is ringing; -4 busy.
    int LlamadaSaliente(int32_t idLlamada, const char* szOrigen, const char* szDestino, int iPrioridad) override;
    // 0, or -2 when it is not the current call.
    int FinLlamada(int32_t idLlamada) override;
    int Ringing() override { return 0; }
    int AceptaLlamada() override;
    int RechazaLlamada(int32_t idLlamada, int iMotivo) override;
    int InfoLlamada(int32_t, int) override { return 0; }
    void CambioConfigIf(CambiosConfig* pCambios) override;
    void CambioConfigGeneral(CambiosConfig* pCambios) override;
    void AplicaConfig(const CambiosConfig& sCambios) override;
    void PintaEstado() override;
    void Debug(int32_t iValor) override;

    int EvtSquelchOn() override;
    int EvtSquelchOff() override;
    int EvtDetRing(int iModulo) override;
    int EvtDetFinRing(int iModulo) override;
    int EvtCierreBucle(int iModulo) override;
    int EvtBucleAbierto(int iModulo) override;
    int EvtDetLlamadaEyM(int iModulo) override;
    int EvtDetFinLlamadaEyM(int iModulo) override;
    int EvtDspRecursoCreado(int iIdRecurso) override;
    int EvtDspLiberaRecurso() override;
    int EvtDspVoxRx(int iDetectado, int iNivel) override;

private:
    enum eContador { CNT_DSP, CNT_RING_BL, CNT_2, CNT_3, CNT_MARCADOR, CNT_PUBLICA, CNT_HW, CNT_7, CNT_CUELGUE,
                     NUM_CONTADORES };
    enum eTemporizador { TMP_INACTIVIDAD = 1, TMP_ENTRANTE = 2 };

    static void* sSupervisorTelef(void* pObjeto);
    static uintptr_t sVence(uintptr_t pObjeto, uintptr_t iTipo, uintptr_t uiArmado);
    void SupervisorCEntidadTelef();
    void Vence(int iTipo, uint32_t uiArmado);

    void GestionaRecursoDsp();
    void ConfiguraRecursoDsp();
    void CompruebaHw();
    // The caller holds tMutexGlobal.
    void PublicaEstadoBloqueado();
    void PublicaEstado();
    void PasaAConversacion();
    int VenceRingBL();
    void FinPendienteCuelgue();
    void GeneraRingOn();
    void GeneraRingOff();
    void HwPasaAConv();
    void HwPasaAReposoBloqueado();
    void HwPasaAReposo();
    void FinLocal();
    // Offers the seizure of the line to the core as a call (state 3). Under tMutexGlobal.
    void OfreceLlamadaEntrante();
    void CancelaTempEntrante();
    void AplicaVox();
    void RegistroFin(bool bSaliente);

    int32_t iRecursoDsp = -1;
    uint32_t iIdPeticionDsp = 0;
    uint32_t iConfigurarDsp = 0;
    CMarcador oMarcador;
    TablaContadores oContadores{};
    pthread_mutex_t tMutexRecDsp;
    int iEstadoTLF = RESOSO;
    int iEstadoIF = IF_REPOSO;
    NotificacionEstado sPublicado{};
    char acOrigen[65] = "";
    char acDestino[65] = "";
    int iPrioridad = 0;
    int32_t idLlamada = -1;
    int iSaliente = 0;
    int iForzarRegistro = 0;
    CTemporizadorLinea oTempInactividad{pTemporizador};
    CTemporizadorLinea oTempEntrante{pTemporizador};

    // Taken at the start: the process restarts when they change.
    int iTipoIf = 0;
    int iModoSistema = 0;
    int iVigilancia = -1;
    int iUltimoHwVisto = -1;
    bool bPrimerArranque = true;
    // Line and gain values last applied, compared with a new record.
    cfgParamTlf sTlfAplicado{};
    int32_t aiGananciasAplicadas[4] = {};
    CMantTlf oMant;
};
