// SIP bridge: joins the SIP front end to the gateway's resources. It registers each resource
// as a SIP user, and forwards the SIP events of a user to the resource's supervisor. This build
// has no SIP user agent: registrations and call operations log that SIP is not available and
// fail, so the core runs everything but SIP.
#pragma once

#include <pthread.h>

#include <cstdint>

#include "sip/caplic.h"
#include "sip/crecursosip.h"
#include "sip/cgestorllamada.h"
#include "sip/cgus.h"

struct NotificacionEstado;

// The calls of the supervisors are virtual so the core's tests can record them.
class CPasaGus : public Cgus, public Caplic, public CGestorLlamada::CEventos {
public:
    enum { MAX_RECURSOS = 16 };

    CPasaGus();
    virtual ~CPasaGus();

    // Registry of resources (tMutex held for the whole call).
    virtual int AltaRecurso(CRecursoSip* poSuper, const char* szNombre, int iTipoIf, int iEnableRegistro);
    virtual int ActualizaRecurso(CRecursoSip* poSuper, const char* szNombre, int iTipoIf, int iFlagQsig);
    virtual int BajaRecurso(CRecursoSip* poSuper);

    // Calls of a user.
    virtual int RechazaLlamada(int iUsuario, int cid, int iMotivo);
    virtual int EnviaRinging(int iUsuario, int cid);
    virtual int EnviaSessionProgress(int iUsuario, int cid);
    virtual int RespondeIntWarning(int iUsuario, int cid, int iModo);
    virtual int EnviaInfo(int iUsuario, int cid, int iTipo, const char* szTexto);
    virtual int EnviaInfoBasico(int iUsuario, int cid, int iTipo);
    virtual int AceptaLlamada(int iUsuario, int cid, int iPuertoLocal);
    virtual int AceptaLlamadaConModo(int iUsuario, int cid, int iPuertoLocal, int iPttId);
    virtual int LanzaLlamadaSip(int iUsuario, DatosLlamadaGestor* psPeticion, int* piPuertoLocal);
    virtual int DevuelveLocalPort(int iUsuario, int cid, int iPuerto);
    virtual int NotificaKeyIn(int iUsuario);
    virtual int NotificaRefer(int iUsuario, int iDialogo, const char* szLineaEstado);
    virtual int NumSuscriptores(int iUsuario);
    virtual int NumSuscriptoresPR();
    virtual int EligeSuscripcion(int iUsuario);
    virtual int ActualizaEstadoUsuario(int iUsuario, int iRecurso, const NotificacionEstado* psEstado);
    virtual void PintaDatosRecurso();
    virtual void PintaDatosExosip();
    int DameNumRecursos() const { return iNumRecursos; }

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
    struct DatosRecurso {
        int32_t iIdUsrGus;  // -1: free entry
        char nombre[65];
        CRecursoSip* posuperec;
        int32_t tipo;
    } asRecursos[MAX_RECURSOS];
    int32_t iSipArrancado;
    int32_t iNumRecursos;
    CGestorLlamada* pGestorLlamada;
};

// The core's SIP bridge and call manager. Never destroyed: the supervisors' threads use them until
// the process has ended, static destructors included.
extern CPasaGus& oPasaGus;
extern CGestorLlamada& oGestorLlamada;
