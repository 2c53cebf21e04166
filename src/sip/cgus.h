// SIP front end: the only road between the gateway application and the SIP user agent. Down:
// registers the resources as SIP users, places, answers, refuses, modifies and ends calls,
// sends OPTIONS and SUBSCRIBE. Up: every event code of the user agent becomes one operation of
// the application interface Caplic, with a copy of the session concerned.
#pragma once

#include <cstdint>

class Caplic;
class CSipua;

int TrataEventoSip(int iUsuario, int iCodigo, int cid, int iValor4, intptr_t iValor5);

// Radio call parameters handed to IniciaLlamada (may be absent).
struct ParamLlamadaRadio {
    int32_t iLibre;
    int32_t iTipoSesion;  // 0 Radio, 1 Radio-Rxonly, 2 Coupling, 3 Radio-Idle
    char acParamTo[64];
    char acParamFrom[64];
    uint8_t prio;
    char acReferredBy[64];
    char acReplaces[81];
    char fid[64];
    uint8_t bss;  // 0-3
};

class Cgus {
public:
    enum { MAX_USUARIOS = 64, PUERTO_SIP = 5060 };

    Cgus();
    ~Cgus();
    Cgus(const Cgus&) = delete;
    Cgus& operator=(const Cgus&) = delete;

    // iModoSistema: the configuration's iCfgModoSistema; non-zero gives the plain URI parameters.
    // The first user is registered as AltaUsuarioSip registers the others.
    int Inicia_Sipua_Gus(const char* szNombre, int iTipo, const int32_t* piCodecs, int iNumCodecs,
                         const char* szDirLocal, const char* szDirFija, int iOpcion, Caplic* poAplic,
                         int iModoSistema = 0, const char* szClave = nullptr);
    // iOpcion: the user is registered (REGISTER) when non-zero, with szClave as its password.
    int AltaUsuarioSip(const char* szNombre, int iTipo, const int32_t* piCodecs, int iNumCodecs, int iOpcion,
                       const char* szClave = nullptr);
    int ActualizaAltaUsuarioSip(const char* szNombre, int iTipo, const int32_t* piCodecs, int iNumCodecs,
                                int iOpcion);
    int BajaUsuarioSip(const char* szNombre, int iIndice);
    int ActualizaParamSip(int iPeriodo);
    int FijaServidoresSip(const char (*aszRegistrar)[65], int iNum, const char (*aszProxy)[65]);

    int IniciaLlamada(int iUsuario, const char* szFrom, const char* szTo, const char* szUriPeticion,
                      const char* szPuertoLocal, const char* szSubject, int iPrioridad,
                      const ParamLlamadaRadio* psRadio);
    int EnviaOptions(const char* szFrom, const char* szTo, int iTipo);
    int CambiaTipoSesion(int iUsuario, int cid, int iTipoSesion, int iPrioridad);
    int EnviaOk(int iUsuario, int cid, int iPuertoLocal);
    int FinalizaSesion(int iUsuario, int cid);
    int CierraSesion(int iUsuario, int cid, int iMotivo);
    int RespondeCodigo(int iUsuario, int cid, int iCodigoSip);
    int RespondeLlamada(int iUsuario, int cid, int iIndiceRespuesta);
    int RechazaConCausa(int iUsuario, int cid, int iMotivo);
    int EnviaInfo(int iUsuario, int cid, const char* szTipoContenido, const char* szCuerpo);
    int Suscribe(int iUsuario, const char* szTo, const char* szFrom, const char* szEvento, int iExpira);

    // The user agent, null until SIP has been started.
    CSipua* DameSipua() const { return poSipua; }

protected:
    int RegistraUsuario(const char* szNombre, int iTipo, const int32_t* piCodecs, int iNumCodecs, int iOpcion,
                        const char* szClave, const char* szLogAlta, const char* szLogError);
    friend int TrataEventoSip(int, int, int, int, intptr_t);
    CSipua* poSipua;
    Caplic* poAplic;
    int32_t iPuertoSip;
    char acDirLocal[65];
    struct UsuarioGus {
        char acNombre[65];
        int32_t iIndice;  // -1: free
    } asUsuarios[MAX_USUARIOS];
};

// Event call-back of the user agent; 0, or Traplic_Options's result for code 61. iValor5 is a
// number or, for an INFO (code 55), the body text.
int TrataEventoSip(int iUsuario, int iCodigo, int cid, int iValor4, intptr_t iValor5);

// Stops the SIP stack (at the core's exit): the supervision loop first, then eXosip_quit.
void SipParaPila();
