#include "sip/poollocalport.h"

#include "red/tcpcons.h"

namespace {
const uint32_t kTrazaDebug = 0x8000;
}

PoolLocalPort::PoolLocalPort() : iUltimoLiberado(0) { IniciaPool(); }

void PoolLocalPort::IniciaPool() {
    iPuertoBase = PUERTO_BASE;
    iNumPuertos = NUM_PUERTOS;
    for (int i = 0; i < NUM_PUERTOS; i++) {
        aiEnUso[i] = 0;
        aiCid[i] = CID_PENDIENTE;
    }
}

int PoolLocalPort::Indice(int iPuerto) const {
    if (iPuerto < iPuertoBase) return -1;
    const int i = (iPuerto - iPuertoBase) / 2;
    return i < iNumPuertos ? i : -1;
}

int PoolLocalPort::AsignaLocalPort(int32_t cid) {
    for (int k = 1; k <= iNumPuertos; k++) {
        const int i = (iUltimoLiberado + k) % iNumPuertos;
        if (aiEnUso[i]) continue;
        aiEnUso[i] = 1;
        aiCid[i] = cid;
        return iPuertoBase + 2 * i;
    }
    return -1;
}

void PoolLocalPort::Libera(int i) {
    aiEnUso[i] = 0;
    aiCid[i] = CID_PENDIENTE;
    TcpCons::Traza(kTrazaDebug, "       LIBERA Localport %i\n", iPuertoBase + 2 * i);
    iUltimoLiberado = i;
}

int PoolLocalPort::LiberaLocalPort(int iPuerto, int32_t cid) {
    const int i = Indice(iPuerto);
    if (i < 0 || !aiEnUso[i] || aiCid[i] != cid) return -1;
    Libera(i);
    return 0;
}

int PoolLocalPort::LiberaPuertoDeCid(int32_t cid) {
    for (int i = 0; i < iNumPuertos; i++)
        if (aiEnUso[i] && aiCid[i] == cid) {
            Libera(i);
            return iPuertoBase + 2 * i;
        }
    return -1;
}

int PoolLocalPort::CambiaDueno(int iPuerto, int32_t cid) {
    const int i = Indice(iPuerto);
    if (i < 0) return -1;
    aiEnUso[i] = 1;
    aiCid[i] = cid;
    return 0;
}

int PoolLocalPort::Libres() const {
    int n = 0;
    for (int i = 0; i < iNumPuertos; i++) n += !aiEnUso[i];
    return n;
}
