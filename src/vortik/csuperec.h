// CSupervisorRecurso: the core's supervisor of one line resource. The core builds 16 of them
// (aoSupervisorRecurso, one per position 0-15) that live until exit. Each starts the resource
// program of its line, hands it its configuration, watches it through its IPC channel, kills,
// reaps and restarts it, registers the resource as a SIP user and keeps the table of the
// resource's sessions.
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
#include <cstdint>
#include <memory>

#include "comun/cdireccionip.h"
#include "cfg/cfgpasarela.h"
#include "sip/ctablapttid.h"
#include "sip/crecursosip.h"
#include "sip/datoseventosip.h"
#include "comun/tablacontadores.h"

class CCONFIG;
class CPasaGus;
class CGestorLlamada;
class COpcionesRadio;
class CColateral;
class Cola;
struct DatosLlamada;
struct NotificacionEstado;

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

// One session or call of the resource.
struct InfoSesion {
    int32_t cid;          // SIP call id; -1 free, -2 being filled
    int32_t idsesion;     // IPC session id with the child; -1 none
    int32_t idllam;       // IPC call id with the child; -1 none
    int32_t iTempSesion;  // timer slots; -1 none
    int32_t iTempLlamada;
    int32_t iTempAux;
    int32_t iSesionPedida;
    int32_t iLlamadaPedida;
    int32_t iPreemption;
    int32_t iTipoSesion;  // low nibble 1 answer SIP, 2 tell the child; 10h radio with PTT id
    int32_t iIndiceColateral;
    int32_t iReposo;
    int32_t iEsFoco;
    char Origen[81];
    char acDestino[81];
    uint8_t ucPrioridad;
    int32_t iTipoSipMapeado;
    int32_t iTipoLlamada;
    int32_t iPayloadForzado;
    int32_t iPayload;
    int32_t iRtphe;
    int32_t iPuertoLocal;  // -1 none
    CDireccionIp oDirRemota;
    int32_t iPuertoRemoto;
    int32_t iPttId;
    int32_t iGestorTransferencia;
    int32_t iCidRefer;
    int32_t iTipoSesionSip;  // 0 Radio-TxRx, 1 Radio-RxOnly, 2 Coupling, 3 Radio-Idle

    void Reinicia();
};

class CSupervisorRecurso : public CRecursoSip {
public:
    // What a supervisor tells the rest of the core; the core's is CEventosSuperec. The calls come
    // from the supervisor's thread with no lock of the supervisor held.
    class CEventos {
    public:
        // A new child channel, before the supervisor uses it: the core's handlers go in.
        virtual void EvtCanalHijo(Cola* poCanal) { (void)poCanal; }
        // The child of the position was launched, or was killed and reaped.
        virtual void EvtHijoLanzado(int iRecurso) { (void)iRecurso; }
        virtual void EvtHijoMatado(int iRecurso) { (void)iRecurso; }
        // Pid of the DSP service, -1 when none.
        virtual int DamePidDsp() { return -1; }
        // A session of a radio resource ended.
        virtual void EvtFinSesionRadio(const char* szNombre, const char* szUri, int iReposo) {
            (void)szNombre;
            (void)szUri;
            (void)iReposo;
        }

    protected:
        ~CEventos() = default;
    };

    enum { MAX_INFO_SESION = 12, NUM_CONTADORES = 6, LON_LISTA_PTT_ID = 2000 };
    enum { ESTADO_NO_INICIADO = 0, ESTADO_PARADO = 1, ESTADO_EN_MARCHA = 2 };

    CSupervisorRecurso();
    explicit CSupervisorRecurso(int iNoUsado);
    virtual ~CSupervisorRecurso();
    CSupervisorRecurso(const CSupervisorRecurso&) = delete;
    CSupervisorRecurso& operator=(const CSupervisorRecurso&) = delete;

    // Virtual slots 2-25: the SIP events of the resource's user.
    void Traplic_Respuesta_for_Options() override;
    void Traplic_Call_Proceeding(DatosEventoSip* psSesion) override;
    void Traplic_Ringing(DatosEventoSip* psSesion) override;
    void Traplic_Released(DatosEventoSip* psSesion) override;
    void Traplic_Request_Failure(DatosEventoSip* psSesion) override;
    void Traplic_Global_Failure(DatosEventoSip* psSesion) override;
    void Traplic_Server_Failure(DatosEventoSip* psSesion) override;
    void Traplic_Invite(DatosEventoSip* psSesion) override;
    void Traplic_Replaces(int cidSustituido, DatosEventoSip* psSesion) override;
    void Traplic_Update(DatosEventoSip* psSesion) override;
    void Traplic_Closed(DatosEventoSip* psSesion) override;
    void Traplic_ACK(DatosEventoSip* psSesion) override;
    void Traplic_Info(DatosEventoSip* psSesion, const char* szCuerpo) override;
    void Traplic_InfoIntrusionInProgress(DatosEventoSip* psSesion) override;
    void Traplic_InfoIntrusionIsEfective(DatosEventoSip* psSesion) override;
    void Traplic_InfoEndofIntrusion(DatosEventoSip* psSesion) override;
    void Traplic_InfoIntrusionInminente(DatosEventoSip* psSesion) override;
    void Traplic_Redirect(DatosEventoSip* psSesion) override;
    void Traplic_Reinvite(DatosEventoSip* psSesion) override;
    void Traplic_Call_Answer(DatosEventoSip* psSesion) override;
    void Traplic_Notify(DatosEventoSip* psSesion) override;
    void Traplic_Call_No_Answer(DatosEventoSip* psSesion) override;
    void Traplic_Refer(DatosEventoSip* psSesion) override;
    int32_t Traplic_Options() override;

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
    // The child's channel fell silent.
    void NotifHijoMuerto();

    // Session table. The caller holds tMutexSesion around AsignaInfoSesion; finds take no lock.
    InfoSesion* AsignaInfoSesion();
    void LiberaInfoSesion(InfoSesion* psInfo);
    InfoSesion* BuscaInfoSesionPorCid(int cid);
    InfoSesion* BuscaInfoSesionPorIdSesion(int idsesion);
    InfoSesion* BuscaInfoSesionPorIdLlamada(int idllam);
    InfoSesion* BuscaInfoSesionPorColateral(int iIndice);
    InfoSesion* BuscaInfoSesionPorTipoSesion(int iTipoSesionSip);
    InfoSesion* BuscaInfoSesionPorLlamadaYDestino(int idllam, const char* szDestino);
    InfoSesion* BuscaInfoSesionPorOrigen(const char* szOrigen);
    InfoSesion* BuscaInfoSesionPreemption();
    InfoSesion* BuscaSiguienteInfoSesionPorIdLlamada(InfoSesion* psPrevia, int idllam);
    int CuentaInfoSesionPorIdLlamada(int idllam);
    int CuentaInfoSesionesOcupadas();
    void LiberaPttIdSesion(InfoSesion* psInfo);

    // Session clean-up on both sides with a cause.
    void CierraSesionCompleta(InfoSesion* psInfo, int iCausa);

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
    const char* DameListaPttId();
    int DameListaPttId(char* szLista, size_t uiTam) override;
    void Abortallamada(int cid) override;
    int32_t DameParamRadio() override;
    int EnRangosOperador(const char* szNumero) override;
    int EnRangosPrivilegiados(const char* szNumero) override;
    int EnviaCodigoDebug(uint8_t ucSubcomando, uint8_t ucValor);

    // Queries.
    int DameNumRecurso() const { return iMiNumRecurso; }
    pid_t DamePidHijo() const { return iPidHijo.load(); }
    // ESTADO_PARADO once a stop has been carried out whole (the child killed and reaped).
    int DameEstado() const { return iEstado; }
    // Passes of the supervisor's thread so far.
    uint32_t DamePasadas() const { return uiPasadas.load(); }
    int DameIdUsuarioSip() const { return iIdUsuarioSip; }
    int HijoConfigurado() const { return iHijoConfigurado; }
    // Program for the record's interface type (and name, for RRC radios): the /usr/bin path and
    // the current-directory path; null when the type has no program.
    static const char* ProgramaDe(const cfgConfigRecurso* psRec, int iEnCurso);

    // Fields.
    int32_t iMiNumRecurso;
    std::atomic<int32_t> iPidHijo;  // read without lock by the child-channel handlers
    InfoSesion asInfoSesion[MAX_INFO_SESION];
    std::atomic<int32_t> iEstado;
    int32_t iHijoConfigurado;
    int32_t iIndiceWatchdog;
    int32_t iIdUsuarioSip;
    int32_t iModoMantenimiento, iTipoBucle, iEmplazamientoBucle, iBuclePendiente;
    int32_t iTempBucle;
    uint8_t ucEstadoPublicado;
    uint32_t uiFlagsColateral[2];
    cfgConfigRecurso* psConfig;
    CPasaGus* poMiPasaGus;
    CGestorLlamada* poGestorLlamada;
    CTablaPttId oTablaPttId;
    COpcionesRadio* poOpcionesRadio;
    CColateral* poColateral;
    uint8_t aucEqActivoTXRX[6];
    int32_t iEstadoColateral;
    int32_t aiColateralTemp[4];  // timer id first; -1 none
    int32_t iModoReserva;
    uint32_t uiCalidadNtp;
    int32_t iHaySesiones;
    int32_t iCambioColateral;
    int32_t aiCambioEmplazamiento[3];
    int32_t iPresenciaModulo;
    int32_t iTipoIfAnterior;
    int32_t iColateralCfgA, iColateralCfgB;
    int32_t iCambioCfgColateral;
    TablaContadores* poContadores;
    // The child's channel. Taken under tMutexGlobal and used outside it; the supervisor's thread
    // closes it once no send holds it any more.
    std::shared_ptr<Cola> poCanalHijo;
    pthread_mutex_t tMutexGlobal;  // poCanalHijo, countdowns, start/stop requests with iEstado
    pthread_mutex_t tMutexSesion;  // taking and freeing InfoSesion records
    pthread_t tHilo;
    std::atomic<int32_t> iPeticionArranque;
    std::atomic<int32_t> iPeticionParada;
    std::atomic<int32_t> iHijoMuerto;
    std::atomic<int32_t> iReconfigurar;
    int32_t iReconfigurarColaterales;
    uint32_t uiInfoSlot;
    char acListaPttId[LON_LISTA_PTT_ID];
    int32_t iSlicOk;

private:
    // Name, FID and interface type of the record, copied under the configuration mutex.
    struct Identidad {
        char acNombre[sizeof(cfgConfigRecurso::nombre)];
        char acFid[sizeof(cfgConfigRecurso::szDestino)];
        int iTipoIf;
    };
    Identidad DameIdentidad();
    // The child's channel for one send, or null.
    std::shared_ptr<Cola> CanalHijo();
    static void* sSupervisor(void* pSuper);
    void Supervisor();
    int LanzaHijo();
    void CompruebaHijoVivo();
    void ConfiguraHijo();
    void Filicidio();
    void CargaEqActivo();
    void GuardaCfgColateral();
    void Espera(uint32_t uiMicrosegundos);

    uint32_t uiTicksCanal;  // channel ticks of the thread's life (watch starts at the sixth)
    std::atomic<uint32_t> uiPasadas;
    int32_t iHijoTerminado;  // the child already exited and was reaped by the pass
};

// The sink of every supervisor (null: one that does nothing). Once, before the first Inicia.
void superecFijaEventos(CSupervisorRecurso::CEventos* poEventos);

// The 16 resource supervisors, indexed by position. Never destroyed: their threads run until
// the process ends.
extern CSupervisorRecurso (&aoSupervisorRecurso)[CFG_NUM_RECURSOS];
