// CEntidadR2N5: the line entity of an ATS-R2 or ATS-N5 trunk. The DSP service carries the
// line signalling; this entity keeps the trunk's call state, turns the core's call control
// into DSP line commands and DSP line events into call control towards the core, proves an
// idle trunk with periodic test calls and keeps its call records.
//
// Threads: the core channel's receive thread (call control), the DSP channel's (line
// events), the base timer list's (timers) and the entity's supervisor. tMutexGlobal guards
// the state, the calls and the countdown slots; tMutexRecDsp the DSP resource ids; when both
// are held tMutexGlobal is taken first.
#pragma once

#include <pthread.h>

#include <cstdint>

#include "centrec.h"
#include "cgestorllamadasprueba.h"
#include "ctemporizadorlinea.h"
#include "comun/tablacontadores.h"
#include "ipc/mensajescola.h"

class CEntidadR2N5 : public CEntidadRC {
public:
    enum {
        FUERADESERVICIO = 0, REPOSO = 1, PETICION_ENTRANTE = 2, ENTRANTE = 3, CONVERSACION = 4, SALIENTE = 5,
        SALIENTE_PRUEBA = 6, BLOQUEO = 7, INTERRUPCION_AVISO = 8, INTERRUPCION_BLOQUEO = 9, LIBERANDO = 10
    };
    enum { MAX_DIGITOS = 64, DIGITOS_TRONCAL = 6 };
    enum { REC_OCUPADO = -4, REC_FUERA_SERVICIO = -5, ERROR_HILO = -6 };

    struct DatosLlamada {
        char acOrigen[MAX_DIGITOS];   // digit values
        char acDestino[MAX_DIGITOS];
        uint32_t iPrioridad;
        int32_t iIdLlamada;  // -1: none, or a test call
        uint32_t iSaliente;
    };

    CEntidadR2N5();
    ~CEntidadR2N5() override;

    int Arranca(int iRec) override;
    int Inicia(int iRec);

    int LlamadaSaliente(int32_t idLlamada, const char* pcOrigen, const char* pcDestino, int iPrioridad) override;
    int FinLlamada(int32_t idLlamada) override;
    int Ringing() override;
    int AceptaLlamada() override;
    int RechazaLlamada(int32_t idLlamada, int iMotivo) override;
    int InfoLlamada(int32_t idLlamada, int iMotivo) override;
    void CambioConfigIf(CambiosConfig* pCambios) override;
    void CambioConfigGeneral(CambiosConfig* pCambios) override;
    void AplicaConfig(const CambiosConfig& sCambios) override;
    void PintaEstado() override;
    void Debug(int32_t iValor) override { EvtDepuracion(iValor); }
    void EvtDepuracion(int32_t iValor);

    int EvtDspRecursoCreado(int iIdRecurso) override;
    int EvtDspLiberaRecurso() override;
    int EvtDspReposo() override;
    int EvtDspLlamadoLibre() override;
    int EvtDspLlamadoOcupado() override;
    int EvtDspLlamadoDescuelga() override;
    int EvtDspLlamadaEntrante(int iPrioridad, const char* pcOrigen, int iLongOrigen, const char* pcDestino,
                              int iLongDestino) override;
    int EvtDspLlamadaLiberada(int iCausa) override;
    int EvtDspCongestion() override;
    int EvtDspFueraServicio() override;
    int EvtDspConversacionInterrumpida() override;
    int EvtDspLineaBloqueada() override;
    int EvtDspTimeout() override;
    int EvtDspErrorProtocolo() override;

private:
    enum { SLOT_DSP = 1, SLOT_PUBLICA = 2, SLOT_PRUEBA = 3, SLOT_HW = 4, NUM_SLOTS = 5 };
    enum eRespuesta { R_LIBRE, R_OCUPADO, R_CONGESTION, R_FUERA };

    static void* sSupervisorR2N5(void* pObjeto);
    void SupervisorCEntidadR2N5();
    static uintptr_t sVence(uintptr_t a1, uintptr_t a2, uintptr_t a3);
    void Vence(int iTipo, uint32_t uiArmado);

    // Everything below runs under tMutexGlobal unless it says otherwise.
    void GestionaRecursoDsp();
    int ConfiguraRecursoDsp();
    void PublicaEstado();
    void PublicaEstadoLibre();  // takes tMutexGlobal itself
    int CodigoPublicado();
    void LanzaLlamadaPrueba();
    void LlamadaPruebaSalienteOk();
    void LlamadaPruebaSalienteFallida();
    void PasaRecursoR2N5AReposo(int iCausa);
    void ProcesaLlamadaPendiente();
    void LiberaLlamada();
    void RespondeRechazo(int iMotivo);
    void RechazaLlamadaSaliente(int iMotivo, int iResultado);
    void Promociona();
    void RespuestaSaliente(eRespuesta e);
    void FinInterruptWarning();
    void VenceRingback();
    void EventoProtocolo(int iCodigoR2, int iCodigoN5);

    void ArmaEstado(int iTipo, int32_t iTicks);
    void CancelaEstado();
    void LimpiaPublica() { if (oContadores.n > SLOT_PUBLICA) oContadores.contadores[SLOT_PUBLICA] = 0; }
    void FinLlamadaNucleo(int32_t id, int iCausa);
    void RechazaAlNucleo(int iMotivo);

    int DSP_Orden(int (*fOrden)(int32_t), const char* szNombre, const char* szOrden);
    void TrazaEvento(const char* szEvento, int iValor);
    int DSP_LLama(const DatosLlamada& d);
    int DSP_IntervencionPrioridad(const DatosLlamada& d, int iAviso);
    int DSP_FinIntervencionPrioridad();
    int DSP_Libera();
    int DSP_RespondeLibre();
    int DSP_RespondeOcupado();
    int DSP_RespondeFueraDeServicio();
    int DSP_RespondeCongestion();
    int DSP_Bloquea();
    int DSP_Descuelga();
    int DSP_GeneraTono(int iSecuencia, int iCuenta);
    int DSP_InterruptWarning();
    int DSP_Ringback();
    int DSP_FinSecuencia();
    void TempDSP_Ringback();
    int Recurso();
    void ErrorDsp(int e, const char* szComando);

    bool EsN5() const { return iTipoIf == TIPOIF_ATSN5; }
    bool ConRegistros() const { return iCfgModoSistema == 0; }
    int EnRangos(const char* pc, int n, int iLista1, const char* szTexto1, const char* szTexto2) const;
    int NumeroEsMio(const char* pc, int n) const;
    int NumeroEsDirecto(const char* pc, int n) const;
    void RegistroEntrante(int iResultado);
    void RegistroSaliente(int iResultado);
    void RegistroFin();
    void LeeConfig();
    CambiosConfig Cambios(const cfgConfigRecurso& sNuevo) const;

    // Guarded by tMutexRecDsp.
    int32_t iRecursoDsp = -1;
    uint32_t iIdPeticionDsp = 0;
    uint32_t iConfigurarDsp = 0;
    // Guarded by tMutexGlobal.
    int32_t estado_dualidad = -1;
    uint32_t EstadoColateralSIP = 0;
    uint32_t iColateralPublicado = 0;
    TablaContadores oContadores{};
    pthread_mutex_t tMutex;
    pthread_mutex_t tMutexRecDsp;
    pthread_t tSupervisor{};
    int iEstado = REPOSO;
    NotificacionEstado sEstadoPublicado{};
    uint32_t iForzarRegistro = 0;
    DatosLlamada sLlamada{};
    DatosLlamada sLlamadaInterrupcion{};
    DatosLlamada sLlamadaPendiente{};
    uint32_t iLlamadaPendiente = 0;
    uint32_t iInterrupcionAbortada = 0;
    int32_t iUltimoEstadoHw = -1;
    CTemporizadorLinea oTempEstado{pTemporizador};
    CTemporizadorLinea oTempRingback{pTemporizador};
    CGestorLlamadasPrueba oGestorPruebas;
    int iArrancada = 0;
    // Copied from the record under the configuration lock (LeeConfig).
    int iTipoIf = TIPOIF_ATSR2;
    int iCfgModoSistema = 0;
    int iLado = 0;
    int iT_Release = 0;
    int iT_Int_Warning = 0;
    int isuperv_options = 0;
    int iNumRangos[4] = {};
    cfgParRango asRangos[4][CFG_MAX_RANGOS_DIRECTOS_PRIV] = {};
    char acNombre[65] = "";
    cfgConfigRecurso sAplicada;  // the record of the last start or reconfiguration
};
