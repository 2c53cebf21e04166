// Timer object: one-shot timers (32 unless the owner needs more) driven by a tick thread of its
// own (100 ms).
// Call-backs run on the tick thread with the timer lock released; their slot is
// already free, so they may re-arm it.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <memory>

typedef uintptr_t (*FnTemporizador)(uintptr_t a1, uintptr_t a2, uintptr_t a3);

// Where the tick thread waits for its next tick: 100 ms of real time by default; tests
// give one that they step by hand.
class CFuenteTicks {
public:
    virtual ~CFuenteTicks() {}
    virtual void EsperaTick() = 0;
    // Wakes EsperaTick for good when the object is being destroyed.
    virtual void Despierta() {}
};

class CTemporizador {
public:
    enum { MAX_TEMPORIZADORES = 32, MS_TICK = 100 };

    // An object of at most uiCapacidad slots: 32, or the worst case of an owner that needs more.
    explicit CTemporizador(unsigned int uiCapacidad = MAX_TEMPORIZADORES);
    // Stops the tick thread (a process-wide object lives until exit and never gets here).
    ~CTemporizador();
    CTemporizador(const CTemporizador&) = delete;
    CTemporizador& operator=(const CTemporizador&) = delete;

    // n slots (at most the capacity); starts the tick thread over fuente, or over 100 ms sleeps
    // when fuente is null (the object does not own fuente).
    void Inicia(unsigned int n, CFuenteTicks* fuente = nullptr);
    // Arms the lowest free slot to fire after ticks; returns the slot, or -1 when all
    // are armed. Equal expiries fire in the order they were armed. Between ticks, n ticks
    // fire on the (n+1)-th tick (0 or less on the next); from a call-back the tick under
    // way counts, so n fires n ticks later (0 or less: on the next tick as well).
    int Arma(int32_t ticks, FnTemporizador callback, uintptr_t a1, uintptr_t a2, uintptr_t a3);
    // 0 when the slot was armed and is now free; 1 when it was not armed or out of range.
    int Cancela(int slot);
    // As Cancela, only while the slot still holds the timer armed with these first and third
    // arguments: an owner whose timer has fired meanwhile never cancels the one that took the
    // slot since.
    int Cancela(int slot, uintptr_t a1, uintptr_t a3);

    // One tick: fires every expired timer, then counts the head down. The tick thread
    // calls it; public for owners that drive time themselves.
    void Tick();

private:
    struct Ranura {
        uint8_t ucArmado;
        uint32_t uIndice;
        int32_t iDelta;  // ticks after the previous slot of the list (head: still to wait)
        FnTemporizador pCallback;
        uintptr_t a1, a2, a3;
        Ranura* pSiguiente;
    };

    static void* Hilo(void* objeto);
    void Libera(Ranura& r);
    int CancelaSi(int slot, bool bCompara, uintptr_t a1, uintptr_t a3);

    const uint32_t uCapacidad;
    uint32_t uNumero;
    Ranura* pCabeza;
    std::unique_ptr<Ranura[]> asRanuras;  // uCapacidad slots, never moved: the list links them
    pthread_mutex_t tMutex;  // guards the slots and the list
    pthread_t tHilo;
    bool bHiloCreado;
    bool bEnTick;  // a tick is firing timers (guarded by tMutex)
    std::atomic<bool> bParar;
    CFuenteTicks* pFuente;
};
