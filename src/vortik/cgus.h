// SIP front end: the road between the gateway application and the SIP user agent (users,
// calls, answers, OPTIONS, subscriptions). This build has no SIP user agent: every operation
// logs that SIP is not available and fails.
#pragma once

#include <cstdint>

class Caplic;
class CSipua;

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

    int Inicia_Sipua_Gus(const char* szNombre, int iTipo, const int32_t* piCodecs, int iNumCodecs,
                         const char* szDirLocal, const char* szDirFija, int iOpcion, Caplic* poAplic);
    int AltaUsuarioSip(const char* szNombre, int iTipo, const int32_t* piCodecs, int iNumCodecs, int iOpcion);
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

protected:
    CSipua* poSipua;
    Caplic* poAplic;
    int32_t iPuertoSip;
    char acDirLocal[65];
    struct UsuarioGus {
        char acNombre[65];
        int32_t iIndice;  // -1: free
    } asUsuarios[MAX_USUARIOS];
};

// Event call-back of the user agent; 0, or Traplic_Options's result for code 61.
int TrataEventoSip(int iUsuario, int iCodigo, int cid, int iValor4, int iValor5);
