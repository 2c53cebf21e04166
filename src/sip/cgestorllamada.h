// Call manager: routing of calls over the ATS numbering plan (routing mode, iCfgModoSistema 0).
// This build has no SIP side: routing requests log that SIP is not available and fail.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cfg/cfgpasarela.h"

// The call data exchanged by the bridge, the resource supervisors and the call manager.
struct DatosLlamadaGestor {
    char UsuOrigen[81];
    char UsuDestino[81];
    char NumOrigen[81];
    char NumDestino[81];
    uint8_t ucPrioridad;
    int32_t iContTransitos;
    int32_t tipo;          // 1 LCEN, 2 general, 3 radio, 4 data
    int32_t canal;
    int32_t tipoLlamante;  // 2 general, 3 QSIG
    int32_t iTipoSesionRadio;
    char ReferredBy[81];  // 81 wide: Replaces starts at 429
    char Replaces[81];
    char Fid[65];
    uint8_t ucModoBss;
};
static_assert(sizeof(DatosLlamadaGestor) == 576, "call-target record is 576 bytes");
static_assert(offsetof(DatosLlamadaGestor, ucPrioridad) == 324 && offsetof(DatosLlamadaGestor, iContTransitos) == 328);
static_assert(offsetof(DatosLlamadaGestor, tipo) == 332 && offsetof(DatosLlamadaGestor, canal) == 336);
static_assert(offsetof(DatosLlamadaGestor, tipoLlamante) == 340 && offsetof(DatosLlamadaGestor, iTipoSesionRadio) == 344);
static_assert(offsetof(DatosLlamadaGestor, ReferredBy) == 348 && offsetof(DatosLlamadaGestor, Replaces) == 429);
static_assert(offsetof(DatosLlamadaGestor, Fid) == 510 && offsetof(DatosLlamadaGestor, ucModoBss) == 575);

// Published-state request record, filled by the core's sink from the other gateways' states.
struct PeticionEstadoPublicado {
    uint8_t ucTipoIf;
    char acNombre[67];
    struct Ranura {
        uint8_t ucLibre;
        uint8_t ucEstado;
        uint8_t aucLibre[2];
        uint32_t auiPalabras[4];
    } asRanura[3];
};
static_assert(sizeof(PeticionEstadoPublicado) == 128, "published-state request is 128 bytes");
static_assert(offsetof(PeticionEstadoPublicado, asRanura) == 68);

// One routed call, owned by the session that holds it.
class LlamadaGestor {
public:
    virtual ~LlamadaGestor() = default;
};

class CGestorLlamada {
public:
    class CEventos {
    public:
        virtual int32_t AbortaInterrupcion(const char* szInterrumpido, const char* szLiberado, int cid) {
            (void)szInterrumpido;
            (void)szLiberado;
            (void)cid;
            return 0;
        }
        virtual int32_t EvtPetListaDeEstadosPublicados(uint8_t ucNum, PeticionEstadoPublicado* psLista) {
            (void)ucNum;
            (void)psLista;
            return 0;
        }

    protected:
        ~CEventos() = default;
    };

    CGestorLlamada();
    virtual ~CGestorLlamada();
    CGestorLlamada(const CGestorLlamada&) = delete;
    CGestorLlamada& operator=(const CGestorLlamada&) = delete;

    int Inicia(CEventos* poSumidero);
    // SIP call id of the first attempt, or negative.
    virtual int EncaminaLlamada(int iUsuario, DatosLlamadaGestor* psDatos, int* piPuertoLocal);
    // SIP call id of a new attempt, or -1.
    virtual int ProgresionLlamada(int iUsuario, int cidFallido, int iCodigo, int* piPuertoLocal);
    virtual int FinEncaminaLlamada(int iUsuario, int cid);
    // An incoming call whose resource routing chooses: the record index, or negative.
    virtual int EncaminaLlamadaEntrante(int iUsuario, DatosLlamadaGestor* psDatos, int cid, CEventos* poSumidero);
    virtual int DameDatosLlamada(int iIndice, DatosLlamadaGestor* psDatos);
    virtual int ActualizaFlagIntWarning(int iUsuario, int cid, int iFlag);
    void AvisoLiberacion() {}
    // The caller holds the configuration mutex.
    int CargaTablasEncamina(const Central* psPlanAts, const Troncal* psTroncales, const Red* psRedes,
                            const DireccionSip* psDireccionamientoSip);
    // Output of at least 65 bytes; 0 or -1.
    int BuscaDireccionPorNombre(const char* szNombre, char* szDireccion);
    virtual int BuscaRecursoPorNumeroAts(char* szNombre, const char* szNumero);

    CEventos* DameSumidero() const { return poEventos; }

private:
    CEventos* poEventos;
};
