#include "comun/ctemporizador.h"

#include <cstdio>
#include <cstring>

#include "comun/hilo.h"

namespace {
class FuenteReal : public CFuenteTicks {
public:
    void EsperaTick() override { DuermeMs(CTemporizador::MS_TICK); }
};
// Never destroyed: a process-wide timer's tick thread still waits on it while exit runs the
// static destructors.
CFuenteTicks& gFuenteReal = *new FuenteReal;
}  // namespace

CTemporizador::CTemporizador(unsigned int uiCapacidad)
    : uCapacidad(uiCapacidad > 0 ? uiCapacidad : 1), uNumero(0), pCabeza(nullptr), asRanuras(new Ranura[uCapacidad]()),
      tHilo(0), bHiloCreado(false), bEnTick(false), bParar(false), pFuente(nullptr) {
    pthread_mutex_init(&tMutex, nullptr);
}

CTemporizador::~CTemporizador() {
    if (bHiloCreado) {
        bParar = true;
        pFuente->Despierta();
        pthread_join(tHilo, nullptr);
    }
    pthread_mutex_destroy(&tMutex);
}

void CTemporizador::Inicia(unsigned int n, CFuenteTicks* fuente) {
    pthread_mutex_lock(&tMutex);
    uNumero = n <= uCapacidad ? n : uCapacidad;
    pCabeza = nullptr;
    for (uint32_t i = 0; i < uCapacidad; i++) Libera(asRanuras[i]);
    pthread_mutex_unlock(&tMutex);
    if (bHiloCreado) return;
    pFuente = fuente ? fuente : &gFuenteReal;
    if (pthread_create(&tHilo, nullptr, &CTemporizador::Hilo, this) != 0) {
        printf("Error creando hilo Temporizador  \n");
        return;
    }
    bHiloCreado = true;
}

int CTemporizador::Arma(int32_t ticks, FnTemporizador callback, uintptr_t a1, uintptr_t a2, uintptr_t a3) {
    pthread_mutex_lock(&tMutex);
    Ranura* r = nullptr;
    for (uint32_t i = 0; i < uNumero; i++) {
        if (!asRanuras[i].ucArmado) {
            r = &asRanuras[i];
            r->uIndice = i;
            break;
        }
    }
    if (!r) {
        pthread_mutex_unlock(&tMutex);
        return -1;
    }
    r->ucArmado = 1;
    r->pCallback = callback;
    r->a1 = a1;
    r->a2 = a2;
    r->a3 = a3;
    r->pSiguiente = nullptr;
    // Walk past every slot that expires no later: equal expiries keep arming order.
    // A count below zero fires on the next tick, like 0; kept at 0 so that no delta in
    // the list is negative (a negative head would delay its successors).
    int32_t resto = ticks > 0 ? ticks : 0;
    // Armed while a tick fires timers: 0 would fire again within that same tick (a
    // call-back re-arming itself with 0 would never let the tick end).
    if (bEnTick && resto < 1) resto = 1;
    Ranura** enlace = &pCabeza;
    while (*enlace && (*enlace)->iDelta <= resto) {
        resto -= (*enlace)->iDelta;
        enlace = &(*enlace)->pSiguiente;
    }
    r->iDelta = resto;
    r->pSiguiente = *enlace;
    if (r->pSiguiente) r->pSiguiente->iDelta -= resto;
    *enlace = r;
    int slot = static_cast<int>(r->uIndice);
    pthread_mutex_unlock(&tMutex);
    return slot;
}

int CTemporizador::Cancela(int slot) { return CancelaSi(slot, false, 0, 0); }

int CTemporizador::Cancela(int slot, uintptr_t a1, uintptr_t a3) { return CancelaSi(slot, true, a1, a3); }

int CTemporizador::CancelaSi(int slot, bool bCompara, uintptr_t a1, uintptr_t a3) {
    if (slot < 0 || static_cast<uint32_t>(slot) >= uCapacidad) return 1;
    pthread_mutex_lock(&tMutex);
    Ranura* r = &asRanuras[slot];
    Ranura** enlace = &pCabeza;
    while (*enlace && *enlace != r) enlace = &(*enlace)->pSiguiente;
    if (!r->ucArmado || *enlace == nullptr || (bCompara && (r->a1 != a1 || r->a3 != a3))) {
        pthread_mutex_unlock(&tMutex);
        return 1;
    }
    // The successor takes over the delta, so the other timers keep their expiry.
    *enlace = r->pSiguiente;
    if (r->pSiguiente) r->pSiguiente->iDelta += r->iDelta;
    Libera(*r);
    pthread_mutex_unlock(&tMutex);
    return 0;
}

void CTemporizador::Libera(Ranura& r) { memset(&r, 0, sizeof r); }

void CTemporizador::Tick() {
    pthread_mutex_lock(&tMutex);
    bEnTick = true;
    // Expiry is tested before the decrement: n ticks fire on the (n+1)-th tick.
    while (pCabeza && pCabeza->iDelta <= 0) {
        Ranura* r = pCabeza;
        pCabeza = r->pSiguiente;
        FnTemporizador cb = r->pCallback;
        uintptr_t a1 = r->a1, a2 = r->a2, a3 = r->a3;
        Libera(*r);
        pthread_mutex_unlock(&tMutex);
        if (cb) cb(a1, a2, a3);
        pthread_mutex_lock(&tMutex);
    }
    if (pCabeza) pCabeza->iDelta--;
    bEnTick = false;
    pthread_mutex_unlock(&tMutex);
}

void* CTemporizador::Hilo(void* objeto) {
    CTemporizador* t = static_cast<CTemporizador*>(objeto);
    FijaPrioridadHilo(1);
    for (;;) {
        t->pFuente->EsperaTick();
        if (t->bParar) break;
        t->Tick();
    }
    return nullptr;
}
