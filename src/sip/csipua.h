// SIP user agent of the core on the eXosip2 stack: owns the stack, the supervision loop that
// waits for its events, drives its automatic actions, registers the users when that is
// switched on and ends sessions whose session timer runs out, the dispatcher of those events,
// and the requests and answers it sends. It holds the table of SIP users (one per configured
// resource, ctablausuariossip.h) and the table of SIP sessions (ctablasesionessip.h); the
// header readers are in cabecerassip.h. Everything it learns goes up through one application
// call-back with an event code (CodigoEventoSip); requests and answers go down through the
// SIP_* operations. One object per process.
#pragma once

#include <eXosip2/eXosip.h>

#include <atomic>
#include <cstdint>

#include "sip/ctablasesionessip.h"
#include "sip/ctablausuariossip.h"
#include "sip/sesionsip.h"

// Event codes reported to the application: the stack's event numbers for the events passed on,
// and the user agent's own.
enum CodigoEventoSip {
    SIPEV_INFO = 55,
    SIPEV_INTRUSION_EN_CURSO = 56,
    SIPEV_INTRUSION_EFECTIVA = 57,
    SIPEV_FIN_INTRUSION = 58,
    SIPEV_INTRUSION_INMINENTE = 59,
    SIPEV_REFER = 60,
    SIPEV_OPTIONS = 61
};

// (user index, event code, cid, did, datum: a number or a text pointer as the code says).
typedef int (*LlamadaAplicacionSip)(int iUsuario, int iCodigo, int cid, int did, intptr_t iDato);

// Options of an outgoing call; any may be empty.
struct OpcionesLlamada {
    char acMaxForwards[9];
    char acParamFrom[65];
    char acParamTo[65];
    uint8_t prio;
    char acReferredBy[65];
    char acReplaces[82];
    char fid[65];
    int32_t iTipoSesion;
    uint8_t bss;
};

class CSipua {
public:
    enum {
        MAX_USUARIOS = CTablaUsuariosSip::MAX_USUARIOS,
        MAX_SESIONES = CTablaSesionesSip::MAX_SESIONES,
        PERIODO_MINIMO = 90
    };

    // iModoPlano non-zero: URI parameters "user=" / "prio=", else "rk82rs=" / "rk82prio=".
    CSipua(const char* szIp, int iPuerto, const char* szUserAgent, const char* szDominio,
           LlamadaAplicacionSip fnAplicacion, int iNoLeido1, int iNoLeido2, int iModoPlano);
    ~CSipua();
    CSipua(const CSipua&) = delete;
    CSipua& operator=(const CSipua&) = delete;

    int Inicia_Sipua(const char* szIp, int iPuerto, const char* szUserAgent, LlamadaAplicacionSip fnAplicacion);
    bool Arrancado() const { return bArrancado.load(); }
    // Supervision loop: waits for a stopped stack to start again, then handles events until Para.
    void SupervisorSIPUA();
    // Ends the supervision loop (waiting for it) and stops the stack.
    void Para();
    // Tick source of the supervision (10 ms ticks); hwDameTiempo unless a test sets its own.
    static void FijaReloj(uint32_t (*fnTicks)());

    // Users.
    int AltaUsuario(const char* szNombre, const int32_t* piCodecs, int iNum, int iTipo, int iRegistrar,
                    const char* szClave = nullptr);
    int ActualizaUsuario(const char* szNombre, const int32_t* piCodecs, int iNum, int iTipo);
    int BajaUsuario(int iIndice);
    int BuscaUsuario(const char* szNombre);
    bool DameUsuario(int iIndice, UsuarioSipua* psCopia);
    void ListaUsuarios();
    int PonServidores(const char* pRegistrar, const char* pProxy);  // 3 x 65 bytes each
    int PonPeriodoSesion(int iSegundos);
    int DamePeriodoSesion() const { return iPeriodoSesion.load(); }
    void ActivaRegistro(int iActiva) { ucRegistro.store(iActiva ? 1 : 0); }

    // Sessions, read and written as whole copies.
    int LeeSesion(int cid, SesionSip* psCopia);
    int LeeSesionPorCallId(SesionSip* psCopia, const char* szCallId);
    int EscribeSesion(SesionSip* psSesion);
    int PonUsuarioSesion(int cid, int iUsuario);

    // NOTIFY of incoming subscriptions.
    int NotificaDialogo(int did, const char* szEvento, const char* szCuerpo);
    int NotificaSuscripcion(int nid, const char* szEvento, const char* szCuerpo);

    // Requests and answers.
    int SIP_Start_Call(int iUsuario, const char* szUriPeticion, const char* szFrom, const char* szTo,
                       const char* szSubject, const char* szRuta, const char* szPuerto, void* pReferencia,
                       const char* szPrioridad, uint8_t ucSelectorCodec, uint8_t ucMsa,
                       const OpcionesLlamada* psOpciones);
    int SIP_Start_Options(const char* szFrom, const char* szTo, const char* szRuta, int iTipoUsuario);
    int SIP_Close_Session(int iUsuario, int cid, int iEstado = 0, int iRazon = -1);
    int RespondeInvite(int cid, int iEstado);
    int RespondeInviteConRazon(int cid, int iEstado, int iRazon);
    int SIP_Envia_Respuesta_OK(int cid, int iNoLeido, const char* szPuerto);
    int SIP_Answer_Call(int iUsuario, int cid, const char* szPuerto);
    int Retiene(int iUsuario, int cid);
    int Recupera(int iUsuario, int cid);
    int SIP_Cambia_Tipo_Sesion(int iUsuario, int cid, int iTipoSesion, const char* szPrioridad);
    int EnviaInfo(int iUsuario, int cid, const char* szTipo, const char* szCuerpo);
    int SIP_Envia_UPDATE(const SesionSip* psSesion);
    int SIP_Envia_UPDATE(int cid);
    int SuscribeSip(const char* szTo, const char* szFrom, const char* szRuta, const char* szEvento, int iExpira);
    int RefrescaSuscripcion(int did, const char* szEvento, int iExpira);
    int EnviaNotifyRefer(int did, const char* szSipfrag);

    // One event of the stack; always frees it. 0, or -1 (null event, no session of its cid).
    int SIP_TrataEvento(eXosip_event_t* psEvento);
    // Counts the session timers down by iMs and ends the sessions that expire.
    void TemporizaSesiones(int iMs);

    // WG67-Version text of a user (type table), of the default, or null for a type without one.
    const char* TextoVersionWG67(int iUsuario, const char* szDefecto);
    const char* PonVersionWG67(int iUsuario, osip_message_t* psMensaje, const char* szDefecto);
    void PonVersionWG67Llamada(int cid, osip_message_t* psMensaje, const char* szDefecto);

    // Remote SDP into the session's media fields, with the codec list or none.
    void LeeSdpRemoto(sdp_message_t* psSdp, SesionSip* psSesion, ListaCodecs* psCodecs);
    int LeeSdpRemotoLlamada(SesionSip* psSesion, int iUsuario);
    // The user an INVITE or SUBSCRIBE is for, -1 when none; USUARIO_RECHAZADO when the request
    // was refused (answered 400) for what it lacks.
    enum { USUARIO_RECHAZADO = -3 };
    int UsuarioDeInvite(eXosip_event_t* psEvento);

private:
    struct DatosMediaSip;

    int ArrancaPila();
    void RegistraSipua();
    void RegistroCorrecto(eXosip_event_t* e);
    void RegistroFallido(eXosip_event_t* e);
    void ExpiraSesion(int iUsuario, int cid, int did);
    int Informa(int iUsuario, int iCodigo, int cid, int did, intptr_t iDato);
    int UsuarioDeSesion(eXosip_event_t* e);

    // The steps of SIP_TrataEvento.
    int UsuarioDelEvento(eXosip_event_t* e, int* piUsuario);
    void DespachaEvento(eXosip_event_t* e, int iUsuario);
    void GuardaFallo(eXosip_event_t* e);

    // Dispatcher handlers (supervisor thread).
    int TrataInviteEntrante(eXosip_event_t* e, int iUsuario);
    bool RechazaSinIdentificadores(eXosip_event_t* e);
    static void CopiaSdpRemoto(SesionSip* psDestino, const SesionSip& sOrigen);
    void TrataSuscripcionEntrante(int iUsuario, eXosip_event_t* e);
    int TrataProceeding(eXosip_event_t* e, int iUsuario, bool bTid);
    int TrataRespuestaOk(eXosip_event_t* e, int iUsuario);
    void ArmaTemporizadorRespuesta(eXosip_event_t* e);
    int sipSession_modified(eXosip_event_t* e);
    int sipSession_ack(eXosip_event_t* e);
    void TrataMensajeDialogo(eXosip_event_t* e, int iUsuario);
    void TrataMensajeFuera(eXosip_event_t* e, int iUsuario);
    int TrEvt_Options(eXosip_event_t* e);
    void TrataRefer(eXosip_event_t* e, int iUsuario);
    int RespondeEnDialogo(eXosip_event_t* e, int iEstado, bool bMetodos = false);
    int RespondeUpdate(eXosip_event_t* e);
    // A refresh received (UPDATE or re-INVITE, RFC 4028): the expiry of a session that has a
    // timer starts again; one without keeps none.
    void ArmaRefrescoUpdate(int cid);
    void ProcesaOkDeUpdate(eXosip_event_t* e);
    int GuardaTextoNotify(eXosip_event_t* e);
    void FinDeSesion(eXosip_event_t* e, bool bPorDialogo);
    void LeeMedia(sdp_message_t* psRemoto, sdp_message_t* psLocal, bool bPayloadRemoto, DatosMediaSip* psMedia);
    void CopiaMedia(const DatosMediaSip& m, int cid);
    void MediaDeLaRespuesta(eXosip_event_t* e);
    int RechazaIntervaloCorto(int tid);
    int PonCuerpoOferta(osip_message_t* m, SesionSip* s, int iUsuario, const char* szPuerto,
                        const char* szSubject, uint8_t ucSelector, uint8_t ucMsa, const OpcionesLlamada* op);

    std::atomic<LlamadaAplicacionSip> fnAplicacion;
    std::atomic<int> iPeriodoSesion;
    int32_t iModoUri;
    const char* szParamUsuario;
    const char* szParamPrioridad;
    char acMiIp[65];
    char acDominio[65];
    char acUserAgent[129];
    int32_t iPuertoSip;
    std::atomic<uint8_t> ucRegistro;

    CTablaUsuariosSip oUsuarios;
    CTablaSesionesSip oSesiones;

    std::atomic<bool> bArrancado;
    std::atomic<bool> bParar;
    std::atomic<bool> bEnBucle;
};

// The process's user agent (the first one built), for the stack's call-backs.
extern std::atomic<CSipua*> gpoSipua;
