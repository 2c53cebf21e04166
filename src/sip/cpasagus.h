// SIP bridge: joins the SIP front end to the gateway's resources. It registers each resource
// as a SIP user (the first registration starts the SIP user agent), forwards the SIP events of
// a user to the resource's supervisor, admits incoming calls, places outgoing legs with a local
// RTP port of its pool, serves the WG67 subscriptions and keeps the states the resources
// publish. One object per process.
#pragma once

#include <pthread.h>

#include <cstdint>

#include "cfg/cfgpasarela.h"
#include "ipc/mensajescola.h"
#include "sip/caplic.h"
#include "sip/cgestorllamada.h"
#include "sip/cgus.h"
#include "sip/crecursosip.h"
#include "sip/listasuscripciones.h"
#include "sip/poollocalport.h"

// The 20-byte state record a resource process publishes, one per channel slot.
typedef NotificacionEstado sEstadoPublicado;

// The calls of the supervisors are virtual so the core's tests can record them.
class CPasaGus : public Cgus, public Caplic, public CGestorLlamada::CEventos {
public:
    enum { MAX_RECURSOS = 16, NUM_RANURAS = 3, USUARIO_GESTOR = 17 };

    // The core's state publication, which the stored states are forwarded to.
    class CPublicacion {
    public:
        // Kind 1 line resource, 2 hot line; 0, or -1 for a resource not in the publication.
        virtual int ActualizaPublica(const char* szNombre, const uint8_t* pRegistro, int iTipo, int iValor) = 0;
        virtual void Despierta() = 0;

    protected:
        ~CPublicacion() = default;
    };

    CPasaGus();
    virtual ~CPasaGus();

    // What the bridge uses of the core, once at start-up after the configuration has been handed
    // to the SIP side (sipFijaConfig): the call manager (kept only in routing mode) and the
    // state publication (null: nothing is published).
    void Inicia(CGestorLlamada* poGestor, CPublicacion* poPublica);
    // Tick source of the subscription expiries (10 ms ticks); hwDameTiempo unless a test sets
    // its own (null restores it).
    static void FijaReloj(uint32_t (*fnTicks)());

    // Registry of resources (tMutex held for the whole call).
    // szClave: the resource's configured password, which answers a challenged REGISTER.
    virtual int AltaRecurso(CRecursoSip* poSuper, const char* szNombre, int iTipoIf, int iEnableRegistro,
                            const char* szClave = nullptr);
    virtual int ActualizaRecurso(CRecursoSip* poSuper, const char* szNombre, int iTipoIf, int iFlagQsig);
    virtual int BajaRecurso(CRecursoSip* poSuper);

    // Calls of a user.
    virtual int RechazaLlamada(int iUsuario, int cid, int iMotivo);
    // An INVITE whose Replaces names no call of this gateway: 481 (RFC 3891), its port back.
    virtual int RechazaSustitucion(int iUsuario, int cid);
    virtual int EnviaRinging(int iUsuario, int cid);
    virtual int EnviaSessionProgress(int iUsuario, int cid);
    virtual int RespondeIntWarning(int iUsuario, int cid, int iModo);
    virtual int EnviaInfo(int iUsuario, int cid, int iTipo, const char* szTexto);
    virtual int EnviaInfoBasico(int iUsuario, int cid, int iTipo);
    virtual int AceptaLlamada(int iUsuario, int cid, int iPuertoLocal);
    virtual int AceptaLlamadaConModo(int iUsuario, int cid, int iPuertoLocal, int iPttId);
    // SIP call id (>= 0) or -1; *piPuertoLocal is the port the call holds, -1 after a failure.
    virtual int LanzaLlamadaSip(int iUsuario, DatosLlamadaGestor* psDatos, int* piPuertoLocal);
    virtual int DevuelveLocalPort(int iUsuario, int cid, int iPuerto);
    virtual int NotificaKeyIn(int iUsuario);
    virtual int NotificaRefer(int iUsuario, int iDialogo, const char* szLineaEstado);
    virtual int NumSuscriptores(int iUsuario);
    virtual int NumSuscriptoresPR();
    virtual int EligeSuscripcion(int iUsuario);
    virtual int ActualizaEstadoUsuario(int iUsuario, int iValor, const sEstadoPublicado* psEstado);
    virtual void PintaDatosRecurso();
    virtual void PintaDatosExosip();
    // The same lines, without their ends, to the log at information level.
    void PintaDatosExosipLog();
    int DameNumRecursos() const { return iNumRecursos; }

    int IniciaLlamadaSip(int iUsuario, const char* szUriPeticion, const char* szFrom, const char* szTo,
                         const char* szSubject, int iPrioridad, int* piPuertoLocal, const ParamLlamadaRadio* psExtra);
    int DameUriLocal(char* szUri, const char* szNombre);
    static int PrioridadSip(int iPrioridad);
    // Q.850 cause to SIP status; -1 when not a cause.
    static int CausaASip(int iCausa);
    int NotificaPR(int iReserva);
    int SuscribePR();
    // Cuts the port off a URI in place.
    static void QuitaPuertoUri(char* szUri);
    // User part of a URI (after "sip:", up to '@', at most 50 characters) into 51 bytes.
    static void ExtraeUsuarioUri(const char* szUri, char* szUsuario);
    // Free local RTP ports (under tMutex).
    int PuertosLibres();

    // Registry look-ups (no lock; first match in index order).
    int BuscaRecursoPorUsuario(int iUsuario);
    int BuscaRecursoPorNombre(const char* szNombre);
    int BuscaRecursoActivo(const char* szNombre);
    CRecursoSip* DameSupervisor(int iUsuario);
    int DameUsuarioDeSupervisor(CRecursoSip* poSuper);
    int DameRecursoDeSupervisor(CRecursoSip* poSuper, char* szNombre);
    int DameNombreDeUsuario(int iUsuario, char* szNombre);
    int LocalizaRecursoAts(const char* szUsuario);
    // 0 none, 1 idle entry, 2 busy candidate, 3 numbers refused by a resource.
    int LocalizaRecursoReposo(int iTipo, int iPrimero, const char* szDestino, const char* szOrigen, int iPrioridad,
                              int* piRecurso, int* piPrioridad);

    // Caplic
    void Traplic_Call_Proceeding(int iUsuario, DatosEventoSip* psSesion) override;
    void Traplic_Ringing(int iUsuario, DatosEventoSip* psSesion) override;
    void Traplic_Released(int iUsuario, DatosEventoSip* psSesion) override;
    void Traplic_Request_Failure(int iUsuario, DatosEventoSip* psSesion) override;
    void Traplic_Global_Failure(int iUsuario, DatosEventoSip* psSesion) override;
    void Traplic_Server_Failure(int iUsuario, DatosEventoSip* psSesion) override;
    void Traplic_Invite(int iUsuario, DatosEventoSip* psSesion) override;
    void Traplic_Replaces(int iUsuario, int cidSustituido, DatosEventoSip* psSesion) override;
    void Traplic_Update(int iUsuario, DatosEventoSip* psSesion) override;
    void Traplic_Closed(int iUsuario, DatosEventoSip* psSesion) override;
    void Traplic_ACK(int iUsuario, DatosEventoSip* psSesion) override;
    void Traplic_Info(int iUsuario, DatosEventoSip* psSesion, const char* szCuerpo) override;
    void Traplic_InfoIntrusionInProgress(int iUsuario, DatosEventoSip* psSesion) override;
    void Traplic_InfoIntrusionIsEfective(int iUsuario, DatosEventoSip* psSesion) override;
    void Traplic_InfoEndofIntrusion(int iUsuario, DatosEventoSip* psSesion) override;
    void Traplic_InfoIntrusionInminente(int iUsuario, DatosEventoSip* psSesion) override;
    void Traplic_Redirect(int iUsuario, DatosEventoSip* psSesion) override;
    void Traplic_Reinvite(int iUsuario, DatosEventoSip* psSesion) override;
    void Traplic_Call_Answer(int iUsuario, DatosEventoSip* psSesion) override;
    void Traplic_Notify(int iUsuario, DatosEventoSip* psSesion) override;
    void Traplic_WG67_Key_In_Subscription(int iUsuario, int iSuscripcion, int iDialogo, int iExpiraMs) override;
    void Traplic_Call_No_Answer(int iUsuario, DatosEventoSip* psSesion) override;
    void Traplic_Refer(int iUsuario, DatosEventoSip* psSesion) override;
    int32_t Traplic_Options(int iUsuario, DatosEventoSip* psSesion) override;
    void Traplic_Call_Message_Answered(int iUsuario, DatosEventoSip* psSesion) override;
    void Traplic_Respuesta_for_Options(int iUsuario, DatosEventoSip* psSesion) override;

    // CGestorLlamada::CEventos
    int32_t AbortaInterrupcion(const char* szInterrumpido, const char* szLiberado, int cid) override;

    pthread_mutex_t tMutex;  // guards the resource registry and the port pool

private:
    // The SIP stack's calls, one dump line at a time (without its end).
    void RecorreDatosExosip(void (*fnLinea)(const char* szLinea));

    struct DatosRecurso {
        int32_t iIdUsrGus;  // -1: free entry
        char nombre[65];
        CRecursoSip* posuperec;
        ListaSuscripciones ListaKeyIn;
        int32_t tipo;
        sEstadoPublicado asEstado[NUM_RANURAS];
    };
    // What the bridge reads of the configuration, copied under its mutex.
    struct DatosCfg {
        int32_t iModoSistema;
        int32_t iNivelConsola;
        int32_t iSipPeriodoSuperv;
        char szNombre[65];
        char szDirVirtual[65];
        char aszRegistrar[3][65];
        char aszProxy[3][65];
    };
    DatosCfg LeeCfg();
    static uint32_t Ahora();
    int ModoSistema();
    int AsignaPuerto(int32_t cid);
    void LiberaPuerto(int iPuerto, int32_t cid);
    // What a refused incoming call holds (its routed record and its port) goes back.
    void SueltaRechazada(int cid);
    // Registry entry of an incoming call that names no user, chosen by the call manager or
    // among the trunks; -1 with the call refused.
    int EligeRecursoEncaminado(DatosEventoSip* psSesion, DatosLlamadaGestor* psDatos);
    int EligeRecursoTroncal(DatosEventoSip* psSesion, DatosLlamadaGestor* psDatos);
    // Numbers and Subject of an incoming call into psDatos; false with the call refused.
    bool LeeNumerosEntrantes(DatosEventoSip* psSesion, DatosLlamadaGestor* psDatos);
    int EligeEstadoRepresentativo(const DatosRecurso& r) const;
    // Under tMutexSuscripciones: the list of a user (-1: the gateway's P/R list).
    ListaSuscripciones* ListaDe(int iUsuario);
    // Live subscribers of a list (-1: P/R), after purging the expired ones.
    int CuentaSuscriptores(int iUsuario);
    // Slot 0 of an entry's published states, copied under their lock.
    sEstadoPublicado EstadoRanura0(int i);
    // The body of the user's KEY-IN notifications into acCuerpo ("\n\r" when it has none).
    void CuerpoKeyIn(CRecursoSip* poSuper, char* acCuerpo, size_t uiTam);

    PoolLocalPort sPool;
    DatosRecurso asRecursos[MAX_RECURSOS];
    ListaSuscripciones ListaPR;
    int32_t iEstadoPR;
    int32_t iSipArrancado;
    int32_t iNumRecursos;
    CGestorLlamada* pGestorLlamada;
    CPublicacion* poPublica;
    pthread_mutex_t tMutexSuscripciones;  // guards the KEY-IN lists, the P/R list and asEstado
};

// The core's SIP bridge and call manager. Never destroyed: the supervisors' threads use them until
// the process has ended, static destructors included.
extern CPasaGus& oPasaGus;
extern CGestorLlamada& oGestorLlamada;
