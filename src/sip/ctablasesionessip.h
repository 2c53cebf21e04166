// CTablaSesionesSip: the SIP sessions of the user agent, thirty fixed records keyed by the
// stack's cid. The finders and the records they point to are used with Mutex() held, briefly,
// and never across a call into the stack; the other methods take the lock themselves and hand
// out copies.
#pragma once

#include <mutex>

#include "sip/sesionsip.h"

class CTablaSesionesSip {
public:
    enum { MAX_SESIONES = 30 };

    // A session that ends outside the stack's events (its timer ran out, its user was removed).
    struct SesionQueAcaba {
        int iUsuario, cid, did;
    };

    CTablaSesionesSip();
    CTablaSesionesSip(const CTablaSesionesSip&) = delete;
    CTablaSesionesSip& operator=(const CTablaSesionesSip&) = delete;

    std::mutex& Mutex() { return tMutexSesiones; }

    // Under Mutex().
    SesionSip* NuevaEntrante(int cid);
    SesionSip* NuevaSaliente();
    SesionSip* Busca(int cid);
    SesionSip* BuscaDialogo(int cid, int did);
    SesionSip* BuscaPorCallId(const char* szCallId);
    // An outgoing session still without its cid (-1) whose INVITE had that Call-ID.
    SesionSip* BuscaSinCidPorCallId(const char* szCallId);
    // The session with that peer (From of its requests).
    SesionSip* BuscaPorRemoto(const char* szRemoto);
    void Libera(SesionSip* psSesion);

    // Taking the lock.
    void Limpia();
    int Lee(int cid, SesionSip* psCopia);
    int LeePorCallId(SesionSip* psCopia, const char* szCallId);
    // The whole record but its keys (cid, did, tid, user), which go back into psSesion.
    int Escribe(SesionSip* psSesion);
    int PonUsuario(int cid, int iUsuario);
    // User of the session of cid, -1 when unknown or there is none.
    int UsuarioDe(int cid);
    // The sessions of a user into aFin (MAX_SESIONES); how many.
    int DeUsuario(int iUsuario, SesionQueAcaba* aFin);
    // Counts the session timers down by iMs; the sessions whose timer has just run out into
    // aFin (MAX_SESIONES); how many.
    int Temporiza(int iMs, SesionQueAcaba* aFin);

private:
    std::mutex tMutexSesiones;  // guards the session table
    SesionSip asSesiones[MAX_SESIONES];
};
