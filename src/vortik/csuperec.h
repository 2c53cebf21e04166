// CSupervisorRecurso: the core's supervisor of one line resource. The core builds 16 of them
// (aoSupervisorRecurso, one per position 0-15) that live until exit. Each starts the resource
// program of its line, hands it its configuration, watches it through its IPC channel, kills,
// reaps and restarts it, and registers the resource as a SIP user. Its pieces, one pair each:
// the session table (CTablaSesiones, ctablasesiones.h), the SIP side the bridge calls
// (CLadoSip, cladosip.h, which the supervisor is), the collateral duties (CColateral,
// ccolateral.h) and the events it tells the core (CEventosRecurso, ceventosrecurso.h). Its own
// files: csuperec.cpp (thread, child, requests, guards, maintenance) and csuperec_hijo.cpp (the
// child's events).
//
// Use from the core's start-up, in this order:
//   superecFijaConfig(&oConfig);                 // the live configuration (once)
//   superecFijaEventos(&oEventosSuperec);        // the rest of the core (ceventossuperec.h)
//   IpcVortik::Inicia();                         // child-channel handlers (ipcvortik.h)
//   aoSupervisorRecurso[i].Inicia(i, &oPasaGus, iCfgModoSistema == 0 ? &oGestorLlamada : nullptr);
//   CSuperDsp::Inicia();                          // superdsp.h
// and from the configuration sinks ArrancaRecurso / DetieneRecurso / ReconfiguraRecurso. The
// supervisors reach the child-channel handlers, the DSP service supervisor and maintenance only
// through the CEventos sink they are given.
//
// Children get as their third argument, and the channels use as the core's own id, the core's
// process id (getpid(), the value the thread trace file shows for every core thread).
#pragma once

#include <pthread.h>
#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "cfg/cfgpasarela.h"
#include "sip/ctablapttid.h"
#include "sip/crecursosip.h"
#include "sip/cgestorllamada.h"
#include "sip/datoseventosip.h"
#include "comun/tablacontadores.h"
#include "ccolateral.h"
#include "cladosip.h"
#include "ceventosrecurso.h"
#include "ctablasesiones.h"
#include "ipc/mensajescola.h"

// The call record the supervisors hand the bridge and the call manager (the 576-byte record of
// an outgoing call), by the name the call manager gives it.

class CCONFIG;
class CPasaGus;
class CGestorLlamada;
class COpcionesRadio;
class Cola;

// The live configuration read by the supervisors and the DSP service supervisor.
void superecFijaConfig(CCONFIG* poCfg);
CCONFIG* superecDameConfig();
// The configuration's console level iNivelConsola (read under the configuration mutex), 0 without
// configuration.
int32_t superecNivelConsola();

// Fixed waits of the supervisors (launch staggering, the pauses of a kill), in microseconds.
// Tests install a shorter sleep; null restores the real one.
typedef void (*FnEspera)(uint32_t uiMicrosegundos);
void superecFijaEspera(FnEspera pfEspera);

class CSupervisorRecurso : public CLadoSip, private CLadoSip::CSupervisor, private CColateral::CSupervisor {
public:
    // What a supervisor tells the rest of the core (ceventosrecurso.h).
    using CEventos = CEventosRecurso;

    enum { MAX_INFO_SESION = CTablaSesiones::MAX_INFO_SESION, NUM_CONTADORES = 6, LON_LISTA_PTT_ID = 2000 };
    // Guards one supervisor may hold at once on the core's timer object: three per session
    // record (session, call and answer), the OPTIONS answer, the loop test, and one delayed
    // answer to a refused transfer per record.
    enum { MAX_GUARDAS = MAX_INFO_SESION * 3 + 2 + MAX_INFO_SESION };
    enum { ESTADO_NO_INICIADO = 0, ESTADO_PARADO = 1, ESTADO_EN_MARCHA = 2, ESTADO_TERMINADO = 3 };

    CSupervisorRecurso();
    explicit CSupervisorRecurso(int iNoUsado);
    virtual ~CSupervisorRecurso();
    CSupervisorRecurso(const CSupervisorRecurso&) = delete;
    CSupervisorRecurso& operator=(const CSupervisorRecurso&) = delete;

    // Guard expiries (timer thread): the answer guards of the SIP side (CLadoSip), the OPTIONS
    // answer and the loop test (CColateral).
    void VenceTemp_Respuesta(int iCodigo, int cid);
    void VenceTemp_Preemption();
    void IntentaLLamadaEsperaPreemption();
    // Maintenance orders of the SNMP agent, carried out by the collateral duties (ccolateral.h).
    void TomaModoRadio(int iModo);
    void ActivaBucleRadio(int iTipo, int iEmplazamiento);
    // Switch-over order: 0 done, -1 bad arguments, -2 the target has no session.
    int FijaEquipoActivo(int iEmplazamiento, int iSentido, int iEquipo);
    // State byte of the resource's last state record from its process; not available
    // (RECURSO_NO_DISPONIBLE) until its process has told one, and again once it died.
    int DameEstadoRecurso() const override {
        std::lock_guard<std::mutex> l(tMutexEstado);
        return sEstadoRecurso.ucEstado;
    }
    // Guard timers: the slot of the armed guard, or -1 (logged: no timer free); the callback gets
    // the supervisor, the code and the id. CancelaTemp frees the slot word before it cancels, so
    // a slot is never cancelled twice nor after it fired.
    int ArmaGuarda(int32_t iTicks, int iCodigo, int32_t iId) override;
    static void CancelaTemp(int32_t* piSlot);

    // 0, or -1: already initialised, no bridge, no call manager in routing mode, resource out
    // of 0-15, no configuration (superecFijaConfig), thread not created.
    int Inicia(int iRecurso, CPasaGus* poPasaGus, CGestorLlamada* poGestor);
    // Requests of the configuration sinks; -1 before Inicia, else 0. Start and stop requests end
    // in the state of the last one, whatever the thread is doing when they come: a stop then a
    // start restarts the child, a start then a stop leaves the resource stopped.
    int ArrancaRecurso();
    int DetieneRecurso();
    int ReconfiguraRecurso();
    int ReconfiguraColaterales();
    // True while the requests served and pending leave the resource stopped (never started, its
    // start refused, or a stop the last request).
    bool QuedaParado();
    // The child's channel fell silent.
    void NotifHijoMuerto();
    // The core is ending: the thread ends the resource's calls (BYE towards their peers, the end
    // of each call and session towards the line), tells the process to put its line at rest,
    // kills and reaps it and ends, in ESTADO_TERMINADO. Returns at once; nothing is started again.
    void Termina();

    // Frees a record: its PTT id, port, routing and guards go back, then the table clears it.
    void LiberaInfoSesion(InfoSesion* psInfo) override;
    int CuentaInfoSesionPorIdLlamada(int idllam) { return oSesiones.CuentaPorIdLlamada(idllam); }
    int CuentaInfoSesionesOcupadas() { return oSesiones.CuentaOcupadas(); }

    // Session clean-up on both sides with a cause (CLadoSip's).
    void CierraSesionCompleta(InfoSesion* psInfo, int iCausa) override { CLadoSip::CierraSesionCompleta(psInfo, iCausa); }

    // Events of the child (through the core's child-channel handlers).
    void EvtReset();
    void EvtSinConfig();
    void EvtFinSesion(int idsesion, int iValor);
    void EvtLlamadaEntrante(int idllam, DatosLlamada* psDatos);
    void EvtRinging(int idllam, int iMotivo);
    void EvtAceptaLlamada(int idllam);
    void EvtRechazaLlamada(int idllam, int iMotivo);
    void EvtFinLlamada(int idllam, int iCausa);
    void EvtConversacionInterrumpida(int idllam);
    void EvtDiagnostico(uint8_t ucCodigo, int iId, int iResultado);
    void EvtNotificaEstadoRecurso(NotificacionEstado* psEstado);
    void EvtInfoLlamada(int idllam, int iMotivo, int idllamAux);

    // Maintenance operations and helpers.
    void TomaPidDsp(int iPid);
    void TomaNivelConsola(int iNivel);
    void TomaCalidadNtp(uint32_t uiCalidad);
    void PasoaReserva();
    void PasoaPrincipal();
    void RefrescaEstado();
    int DameSlicOk() const { return iSlicOk; }
    void SupervisaSlic();
    void InfoHwSlot();
    // Text dump for the sessions file; returns the length written.
    int PintaInfo(char* szBuf, int iTam);
    void PintaInfoConsola();
    int EnviaCodigoDebug(uint8_t ucSubcomando, uint8_t ucValor) override;

    // Queries.
    int DameNumRecurso() const { return iMiNumRecurso; }
    pid_t DamePidHijo() const { return iPidHijo.load(); }
    // ESTADO_PARADO once a stop has been carried out whole (the child killed and reaped).
    int DameEstado() const { return iEstado; }
    // Passes of the supervisor's thread so far.
    uint32_t DamePasadas() const { return uiPasadas.load(); }
    int DameIdUsuarioSip() const override { return iIdUsuarioSip; }
    int HijoConfigurado() const override { return iHijoConfigurado; }
    // Program for the record's interface type (and name, for RRC radios): the /usr/bin path and
    // the current-directory path; null when the type has no program.
    static const char* ProgramaDe(const cfgConfigRecurso* psRec, int iEnCurso);

    // Fields.
    int32_t iMiNumRecurso;
    std::atomic<int32_t> iPidHijo;  // read without lock by the child-channel handlers
    CTablaSesiones oSesiones;
    std::atomic<int32_t> iEstado;
    std::atomic<int32_t> iHijoConfigurado;  // set by the supervisor, read by the call handlers
    int32_t iIndiceWatchdog;
    std::atomic<uint8_t> ucEstadoPublicado;  // set by the child channel, read by the supervisor
    cfgConfigRecurso* psConfig;
    CColateral* poColateral;  // from Inicia on
    std::atomic<int32_t> iModoReserva;  // set by the main/standby switch, read by every thread
    uint32_t uiCalidadNtp;
    int32_t iPresenciaModulo;
    int32_t iTipoIfAnterior;
    TablaContadores* poContadores;
    // The child's channel. Taken under tMutexGlobal and used outside it; the supervisor's thread
    // closes it once no send holds it any more.
    std::shared_ptr<Cola> poCanalHijo;
    pthread_mutex_t tMutexGlobal;  // poCanalHijo, countdowns, start/stop requests with iEstado
    pthread_t tHilo;
    std::atomic<int32_t> iPeticionArranque;
    std::atomic<int32_t> iPeticionParada;
    std::atomic<int32_t> iHijoMuerto;
    std::atomic<int32_t> iReconfigurar;
    uint32_t uiInfoSlot;
    std::atomic<int32_t> iSlicOk;  // set by the supervisor, read by the board's supervision loop
    NotificacionEstado sEstadoRecurso;  // last state record of the process
    // Guards sEstadoRecurso: the child's channel writes it, the supervisor's thread resets it
    // when the process is lost, the SIP thread reads it for OPTIONS and INVITEs.
    mutable std::mutex tMutexEstado;

private:
    // The child's channel for one send, or null.
    std::shared_ptr<Cola> CanalHijo() override;
    static void* sSupervisor(void* pSuper);
    void Supervisor();
    // One pass of the thread's loop: the second's duties (watchdog, channel tick), a stopped
    // resource (start it when asked, watch its SLIC), a running one (its child, its collateral
    // duties, a stop asked).
    void PasoDeSegundo();
    void PasoParado();
    void PasoEnMarcha();
    void LanzaEscalonado();
    void DeberesColaterales();
    int LanzaHijo();
    void CompruebaHijoVivo();
    void ConfiguraHijo();
    void Filicidio();
    void FinHijo();
    // Every session in use cleaned up on both sides.
    void CierraSesiones();
    // Kills and reaps the child (this supervisor's own live one only) and takes its channel.
    std::shared_ptr<Cola> MataHijo(pid_t pid);
    static void CierraCanal(std::shared_ptr<Cola> canal);
    // The line is gone: not available to OPTIONS, INVITEs, the collateral duties and the
    // publication until its next process tells its state.
    void PierdeEstadoRecurso();
    void Espera(uint32_t uiMicrosegundos) override;
    // Real time, cut short by Termina.
    void EsperaReal(uint32_t uiMicrosegundos);
    void SesionRadioActiva(const char* szNombre, const char* szUri, int iReposo) override;
    CColateral& Colateral() override { return *poColateral; }
    CEventos& Sumidero() override;
    CPasaGus* PasaGus() override { return poMiPasaGus; }
    bool EnReserva() const override { return iModoReserva != 0; }
    int EstadoPublicado() const override { return ucEstadoPublicado; }
    void CancelaGuarda(int32_t* piSlot) override { CancelaTemp(piSlot); }
    void FijaPeriodoOptions(uint32_t uiMicrosegundos) override;
    static uintptr_t sVenceGuarda(uintptr_t a1, uintptr_t a2, uintptr_t a3);
    // The collateral duties' calls, placed and ended by the SIP side.
    void LlenaDireccionSesion(const InfoSesion* psInfo, DireccionSesion* psDir) override {
        CLadoSip::LlenaDireccionSesion(psInfo, psDir);
    }
    int ColocaLlamada(DatosLlamadaGestor* psPeticion, InfoSesion* psInfo, int idllam) override {
        return CLadoSip::ColocaLlamada(psPeticion, psInfo, idllam);
    }
    // Answers with 200 OK the incoming SIP call of a session the line has answered.
    void ContestaSip(const InfoSesion* s);

    uint32_t uiTicksCanal;  // channel ticks of the thread's life (watch starts at the sixth)
    std::atomic<uint32_t> uiPasadas;
    int32_t iHijoTerminado;  // the child already exited and was reaped by the pass
    std::atomic<int32_t> iTerminar;  // the core is ending
    std::mutex tMutexEspera;         // pairs with tCondEspera: Termina wakes the thread's waits
    std::condition_variable tCondEspera;
};

// The sink of every supervisor (null: one that does nothing). Once, before the first Inicia.
void superecFijaEventos(CSupervisorRecurso::CEventos* poEventos);

// The 16 resource supervisors, indexed by position. Never destroyed: their threads run until
// the process ends.
extern CSupervisorRecurso (&aoSupervisorRecurso)[CFG_NUM_RECURSOS];
