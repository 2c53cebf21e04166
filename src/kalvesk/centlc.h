// CEntidadLC: line entity of a hot line (LCEN). The DSP runs the line protocol; the entity
// keeps two half-calls, the one it places on the line (TX) and the one the far end places
// (RX), and turns DSP line events into call control towards the core and back. When both
// ends seize at once the outgoing call is taken as answered.
//
// Threads: the core channel (call control), the DSP channel (line events), the timer thread
// and the entity's supervisor. tMutex guards the half-calls and the call ids; tMutexGlobal
// (taken after tMutex) the countdown slots; tMutexRecDsp the DSP resource.
#pragma once

#include <pthread.h>

#include <cstdint>

#include "centrec.h"
#include "cmantlcen.h"
#include "comun/tablacontadores.h"
#include "ctemporizadorlinea.h"
#include "ipc/mensajescola.h"

class CEntidadLC : public CEntidadRC {
public:
    enum eEstadoRx { RX_FUERA_SERVICIO = 0, RX_REPOSO = 1, RX_ENTRANTE = 2, RX_CONVERSACION = 3 };
    enum eEstadoTx { TX_FUERA_SERVICIO = 0, TX_REPOSO = 1, TX_SALIENTE = 2, TX_CONVERSACION = 3, TX_TONOS = 4 };
    enum { NUM_VALORES_LCEN = 22, EVENTO_FIN_ENTRANTE = 2200 };
    // Line parameters handed to the DSP, always these.
    static const int32_t kaiConfigLcen[NUM_VALORES_LCEN];

    CEntidadLC();
    ~CEntidadLC() override;

    int Arranca(int iRec) override;
    // 0, or -6 when the supervisor thread cannot be created.
    int Inicia(int iRec);
    // 0; -4 busy; -5 out of service.
    int LlamadaSaliente(int32_t idLlamada, const char* szOrigen, const char* szDestino, int iPrioridad) override;
    int FinLlamada(int32_t idLlamada) override;
    int Ringing() override { return 0; }
    int AceptaLlamada() override;
    int RechazaLlamada(int32_t idLlamada, int iMotivo) override;
    int InfoLlamada(int32_t, int) override { return 0; }
    void CambioConfigIf(CambiosConfig* pCambios) override;
    void CambioConfigGeneral(CambiosConfig* pCambios) override;
    void AplicaConfig(const CambiosConfig& sCambios) override;
    void PintaEstado() override;
    // The core's debug word: EstadoColSip.
    void Debug(int32_t iValor) override;

    int EvtDspRecursoCreado(int iIdRecurso) override;
    int EvtDspLiberaRecurso() override;
    int EvtDspReposo() override;
    int EvtDspLlamadoLibre() override;
    int EvtDspLlamadoOcupado() override;
    int EvtDspLlamadaEntrante(int iPrioridad, const char* pcOrigen, int iLongOrigen, const char* pcDestino,
                              int iLongDestino) override;
    int EvtDspLlamadaLiberada(int iCausa) override;
    int EvtDspConversacionInterrumpida() override;
    int EvtDspFueraServicio() override;
    int EvtDspErrorProtocolo() override;

private:
    enum eContador { CNT_0, CNT_1, CNT_2, CNT_3, CNT_DSP, CNT_PUBLICA, CNT_HW, NUM_CONTADORES };
    enum eTemporizador { TMP_RESPUESTA = 1, TMP_TONO = 2, TMP_DOBLE_TOMA = 9 };

    static void* sSupervisorLC(void* pObjeto);
    static uintptr_t sVence(uintptr_t pObjeto, uintptr_t iTipo, uintptr_t uiArmado);
    void SupervisorCEntidadLC();
    void VenceTemporizador(int iTipo, uint32_t uiArmado);
    void GestionaRecursoDsp();
    void ConfiguraRecursoDsp();
    void PublicaEstado();
    void SilenciaSegunColateral();
    void BorraPublica();
    int32_t RecursoDsp();
    // Under tMutex.
    void FinLlamadas();
    void RechazoSaliente(int iMotivo);
    void LiberadaPorElRemoto();
    void AceptaSaliente(int32_t id, const char* szLog);
    void OfreceEntrante();

    // Line commands: a failure is logged and the state machine goes on.
    void DSP_LLama();
    void DSP_Libera();
    void DSP_RespondeLibre();
    void DSP_RespondeOcupado();
    void DSP_GeneraTono(int iSecuencia);
    void DSP_FinTono();

    int32_t iRecursoDsp = -1;
    uint32_t iIdPeticionDsp = 0;
    uint32_t iConfigurarDsp = 0;
    TablaContadores oContadores{};
    pthread_mutex_t tMutex;
    pthread_mutex_t tMutexRecDsp;
    int iEstadoRX_LC = RX_FUERA_SERVICIO;
    int iEstadoTX_LC = TX_FUERA_SERVICIO;
    NotificacionEstado sPublicado{};
    uint32_t EstadoColateralSIP = 0;
    uint32_t iColateralPublicado = static_cast<uint32_t>(-1);
    int32_t idTx = -1;
    int32_t idRx = -1;
    CTemporizadorLinea oTempEstado{pTemporizador};  // the answer timer
    CTemporizadorLinea oTempTono{pTemporizador};    // the end of a rejection tone
    uint32_t iForzarRegistro = 0;
    int32_t iUltimoEstadoHw = -1;

    bool bPrimerArranque = true;
    int iModoSistema = 0;
    int iVigilancia = -1;
    int32_t iRespuestaAplicada = 0;
    int32_t aiGananciasAplicadas[4] = {};
    CMantLcen oMant;
};
