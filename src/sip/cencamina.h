// ATS router: the routing of one call over the ATS numbering plan. It finds the centrals that
// own the origin and destination numbers, walks the destination central's routes, their trunks
// and the trunks' lines, and hands out one line (a resource name) at a time with the priority
// the outgoing call gets on that route. It also lists the candidate lines for the check of the
// published states, and picks a busy line whose call a priority-1 call may interrupt.
//
// The router reads its own copy of four configuration tables (CargaTablasEncamina), under the
// tables' lock; a CEncamina object itself has no lock: its owner (the call manager) serialises
// the calls.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cfg/cfgpasarela.h"
#include "ipc/mensajescola.h"

// One line offered to the check of the published states, filled by the call manager's sink.
struct CandidatoEncamina {
    uint8_t ucTipoIf;  // 5 ATS-R2, 6 ATS-N5, 7 ATS-QSIG, other
    char acNombre[67];
    // Laid out as the state record a resource process publishes: ucEstado 0 idle, 1 busy,
    // 2 offered or interrupted, 10 not published; iValor the priority of its call; aiExtra[1]
    // the word that orders interruptible calls.
    NotificacionEstado asEstado[3];
};
static_assert(sizeof(CandidatoEncamina) == 128, "candidate record is 128 bytes");
static_assert(offsetof(CandidatoEncamina, acNombre) == 1 && offsetof(CandidatoEncamina, asEstado) == 68);

// What the router is told of the caller.
struct BloqueLlamante {
    char UsuOrigen[64];
    int32_t tipoLlamante;  // 0, 2 or 3 (transit)
    int32_t iPrioridad;
    int32_t iContTransitos;
};

// Copies the four routing tables of the configuration into the router's own (the caller holds
// the configuration mutex).
int CargaTablasEncamina(const Central* psPlanAts, const Troncal* psTroncales, const Red* psRedes,
                        const DireccionSip* psDireccionamientoSip);

// Look-ups over the router's tables; the caller holds the tables' lock (CEncamina does).
// First 6 characters of a number text, decimal (leading blanks and a sign accepted).
int NumeroAts(const char* szTexto);
const Rango* BuscaRango(int iNumero, const Rango* psRangos, int iNum);
const Central* DameCentralNumero(int iNumero, uint32_t* piPrivilegiado);
const Troncal* DameTroncal(const char* szId);
const Troncal* BuscaTroncalDeLinea(const char* szRecurso);
// 0 and the host identifier (65 bytes) of the SIP plan's entry holding the ATS number, or -9.
int DameHostCentral(char* szHost, int iNumero);

class CEncamina {
public:
    CEncamina();

    // 0 started; 1 origin number owned by no central (not started); -2 bad number, -4 caller
    // kind, -5 destination central unknown, -14 origin and destination in the same central.
    int Inicia(const char* szOrigen, const char* szDestino, const BloqueLlamante* psLlamante);
    // Number of candidate records, written to psLista when given (at most iMax); -1 when not
    // started.
    int DameListaCandidatos(CandidatoEncamina* psLista, int iMax);
    // Number of lines whose call a priority-1 call may interrupt; -1 when not started.
    int DameListaInterrumpibles(CandidatoEncamina* psLista, int iMax);
    // The next free line (szNombre of 65 bytes) and its priority; 0, -1 not started, -8 bad
    // step, -9 none left.
    int DameRecursoPrioridad(char* szNombre, int* piPrioridad, int iNum, const CandidatoEncamina* psLista);
    // A busy line to interrupt and its state slot; 0, -1 not started, -4 no privileged number,
    // -8 no records, -9 none.
    int DameRecInterrupcionPorPrioridad(char* szNombre, int* piRanura, int iNum, const CandidatoEncamina* psLista);
    // After a failure of the line handed out last: 0 the next query goes on from it; -1 the
    // walk restarts (codes 0 and 6) or the router is not started; -6 another line's failure.
    int Progresa(const char* szNombre, int iCodigo);

    int Iniciado() const { return iIniciado; }

private:
    int AnalizaLineasTroncal(int iPaso, char* szNombre);
    int PrioridadRuta(int* piPrioridad);
    bool TroncalUtilizable(const Troncal* psTroncal) const;
    bool HayRutaDirecta() const;
    int PrioridadBase() const;

    int32_t tipoLlamante;
    int32_t iPrioridad;
    int32_t iPrioridadTransito;
    uint32_t iContTransitos;
    const Central* psCentralDestino;
    const Central* psCentralOrigen;
    uint32_t iRuta, iTroncal, iLinea;
    uint32_t iIniciado;
    char acUltimoRecurso[64 + 1];
    uint32_t iOrigenPrivilegiado;
    uint32_t iDestinoPrivilegiado;
    int32_t iNumOrigen, iNumDestino;
    uint32_t iProgresion;
    const Troncal* psTroncalEntrada;
};
