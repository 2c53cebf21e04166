// Call manager: the calls the gateway routes over the ATS numbering plan (routing mode,
// iCfgModoSistema 0). A call enters either as an incoming SIP call whose resource must be chosen
// (the bridge) or as a call from a line to place towards another resource or gateway (the
// resource supervisors). For an ATS number it builds a router (CEncamina), has the sink fill in
// the states that the gateways publish, takes the best free line by priority (or, for a
// priority-1 call, a line whose call may be interrupted) and, when asked, places the outgoing
// leg. When a call ends its resources are offered to calls waiting to interrupt them.
//
// Entered from the SIP event thread and the supervisors' threads: the 16 records are guarded by
// tMutex, which is never held across a call into the sink or the SIP side.
#pragma once

#include <pthread.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "sip/cencamina.h"

// The call data exchanged by the bridge, the resource supervisors and the call manager. A
// number field holds a number (no "sip:") or a SIP URI.
struct DatosLlamadaGestor {
    char UsuOrigen[81];
    char UsuDestino[81];
    char NumOrigen[81];
    char NumDestino[81];
    uint8_t ucPrioridad;
    int32_t iContTransitos;
    int32_t tipo;  // 1 "IA call", 2 "DA/IDA call", 3 "radio", 4 "SCIP-DATOS"
    int32_t canal;  // state slot of the line whose call is interrupted; -1 none
    int32_t tipoLlamante;  // 0, 2 or 3 (transit)
    int32_t iTipoSesionRadio;
    char ReferredBy[81];
    char Replaces[81];
    char Fid[65];
    uint8_t ucModoBss;
};
static_assert(sizeof(DatosLlamadaGestor) == 576, "call data is 576 bytes");
static_assert(offsetof(DatosLlamadaGestor, ucPrioridad) == 324 && offsetof(DatosLlamadaGestor, iContTransitos) == 328);
static_assert(offsetof(DatosLlamadaGestor, tipo) == 332 && offsetof(DatosLlamadaGestor, canal) == 336);
static_assert(offsetof(DatosLlamadaGestor, tipoLlamante) == 340 && offsetof(DatosLlamadaGestor, iTipoSesionRadio) == 344);
static_assert(offsetof(DatosLlamadaGestor, ReferredBy) == 348 && offsetof(DatosLlamadaGestor, Replaces) == 429);
static_assert(offsetof(DatosLlamadaGestor, Fid) == 510 && offsetof(DatosLlamadaGestor, ucModoBss) == 575);

class CGestorLlamada {
public:
    enum { MAX_LLAMADAS = 16, LON_TEXTO = 64 };

    class CEventos {
    public:
        // A resource that an incoming call was interrupting has been freed: the call (cid) moves
        // from szInterrumpido to szLiberado. Overridden by the bridge.
        virtual int32_t AbortaInterrupcion(const char* szInterrumpido, const char* szLiberado, int cid) {
            (void)szInterrumpido;
            (void)szLiberado;
            (void)cid;
            return 0;
        }
        // Fills each record's state slots from the published states (10 where nobody publishes
        // the line). Overridden by the core.
        virtual int32_t EvtPetListaDeEstadosPublicados(uint8_t ucNum, CandidatoEncamina* psLista) {
            (void)ucNum;
            (void)psLista;
            return 0;
        }

    protected:
        ~CEventos() = default;
    };

    // Places an outgoing leg: the bridge's LanzaLlamadaSip (user index, call data, in/out local
    // port) -> cid or -1.
    typedef int (*FnLanzaLlamada)(int iUsuario, DatosLlamadaGestor* psDatos, int* piPuertoLocal);

    CGestorLlamada();
    virtual ~CGestorLlamada();
    CGestorLlamada(const CGestorLlamada&) = delete;
    CGestorLlamada& operator=(const CGestorLlamada&) = delete;

    int Inicia(CEventos* poSumidero);
    // The placement of outgoing legs, wired by the core's start-up; without one a leg fails.
    void FijaLanzador(FnLanzaLlamada fLanza);

    // Routes a call. With a port variable the leg is placed: its cid or a negative value; without,
    // the record index. Negative: -1 failure, -8 no free record, -9 no free line, or the router's
    // code. A failure leaves no record behind.
    virtual int EncaminaLlamada(int iUsuario, DatosLlamadaGestor* psDatos, int* piPuertoLocal);
    // An incoming call (cid) to route: the record index, or negative. The record keeps the cid
    // and the sink that is told when the call must move (AbortaInterrupcion).
    virtual int EncaminaLlamadaEntrante(int iUsuario, DatosLlamadaGestor* psDatos, int cid, CEventos* poSumidero);
    // After the leg of cid failed: the next line. With a port variable its leg is placed (cid);
    // without, the record index; -1 when the call cannot progress. Never interrupts a call.
    virtual int ProgresionLlamada(int iUsuario, int cid, int iCodigo, int* piPuertoLocal);
    // End of the call of cid: its record is freed and its resources are offered to waiting calls.
    // 0, or -1 when no call has that cid.
    virtual int FinEncaminaLlamada(int iUsuario, int cid);
    virtual int ActualizaFlagIntWarning(int iUsuario, int cid, int iFlag);
    // The routed call of a record (priority: the chosen one); 0, or -1 for an unused record.
    virtual int DameDatosLlamada(int iIndice, DatosLlamadaGestor* psDatos);

    // Record look-ups: index or -1.
    int BuscaLlamada(int iId);
    int BuscaLlamadaPorCid(int cid);
    int BuscaLlamadaConCandidato(const char* szNombre, int iDesde);
    int NumLlamadas();

    CEventos* DameSumidero() const { return poEventos; }

private:
    struct LlamadaGestor {
        int32_t iIndice;  // -1 free
        uint32_t uiSerie;  // tells a reused record from the call it held
        int32_t iEncaminada;
        int32_t iCid;
        char UsuOrigen[LON_TEXTO];
        char UsuDestino[LON_TEXTO];
        char NumOrigen[LON_TEXTO];
        char NumDestino[LON_TEXTO];
        char ReferredBy[LON_TEXTO];
        char Replaces[LON_TEXTO];
        char Fid[LON_TEXTO];
        uint8_t ucPrioridad;
        int32_t iContTransitos;
        int32_t tipo;
        int32_t canal;
        int32_t tipoLlamante;
        int32_t iTipoSesionRadio;
        uint8_t ucModoBss;
        uint8_t ucPrioridadEncaminada;
        int32_t iFlagIntWarning;
        std::vector<CandidatoEncamina> asCandidatos;
        std::vector<CandidatoEncamina> asInterrumpibles;
        std::unique_ptr<CEncamina> poEncamina;
        CEventos* poEventos;

        void Reinicia();
    };

    // With tMutex held.
    int NuevaLlamada();
    void BorraLlamada(int iIndice);
    int EsCandidato(const LlamadaGestor& r, const char* szNombre) const;
    int IniciaEncamina(LlamadaGestor& r, const DatosLlamadaGestor* psDatos, int iModo);
    int DameRecursoPrioridad(LlamadaGestor& r, char* szNombre, int* piPrioridad);
    int DameRecInterrupcionPorPrioridad(LlamadaGestor& r, char* szNombre, int* piCanal);
    int SiguienteDestino(LlamadaGestor& r, int iCodigo);
    void DatosDe(const LlamadaGestor& r, DatosLlamadaGestor* psDatos) const;

    // Without tMutex: each takes it briefly around the record.
    // Has the sink fill the states of the record's lists; false when the record no longer holds
    // the call of uiSerie.
    bool PideEstados(int iIndice, uint32_t uiSerie, bool bInterrumpibles);
    int LanzaLlamada(int iIndice, int iUsuario, int iPrioridad, int* piPuertoLocal, bool bBorraSiFalla);
    void OfreceRecursoLiberado(const char* szNombre);

    LlamadaGestor asLlamadas[MAX_LLAMADAS];
    CEventos* poEventos;
    FnLanzaLlamada fLanzaLlamada;
    uint32_t uiSerie;
    pthread_mutex_t tMutex;  // guards asLlamadas and uiSerie
};
