// Pool of the local RTP ports of the gateway's SIP sessions: the even ports 5004-5054. Each port
// remembers the SIP call id of the session that holds it, so only that session gives it back
// and two sessions never share a port. No lock of its own: the bridge holds its tMutex around
// every call.
#pragma once

#include <cstdint>

struct PoolLocalPort {
    enum { NUM_PUERTOS = 26, PUERTO_BASE = 5004 };
    // Owner of a port taken for a call whose cid is not known yet.
    static constexpr int32_t CID_PENDIENTE = INT32_MIN;

    int32_t aiEnUso[NUM_PUERTOS];  // 0 free, 1 in use
    int32_t iPuertoBase;
    int32_t iNumPuertos;
    int32_t iUltimoLiberado;       // index released last; the search starts just after it
    int32_t aiCid[NUM_PUERTOS];    // holder of each port in use

    PoolLocalPort();
    void IniciaPool();
    // The next free port after the one released last (circular), held by cid; -1 when none.
    int AsignaLocalPort(int32_t cid);
    // Frees the port when cid holds it; 0 freed, -1 not a pool port or not held by cid.
    int LiberaLocalPort(int iPuerto, int32_t cid);
    // Frees the port that cid holds, if any; the port or -1.
    int LiberaPuertoDeCid(int32_t cid);
    // Hands a port over to cid (taking it when free); -1 for a port outside the pool.
    int CambiaDueno(int iPuerto, int32_t cid);
    int Libres() const;

private:
    int Indice(int iPuerto) const;
    void Libera(int i);
};
