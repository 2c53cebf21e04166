// CTemporizadorLinea: one timer of a line entity (a state, tone or ringback timer) on the
// entity's timer object. The timer object hands out the lowest free slot, so a slot number
// kept after its timer fired soon names another timer: this one lets its slot go as the timer
// fires or is cancelled, and numbers each arming, so that an expiry already on its way when
// the timer was cancelled or armed again is told apart and ignored.
//
// No lock of its own: the owner calls it under the lock that guards the owner's state, the
// expiry included.
#pragma once

#include <atomic>
#include <cstdint>

#include "comun/ctemporizador.h"

class CTemporizadorLinea {
public:
    enum { SIN_TEMPORIZADOR = 33 };

    explicit CTemporizadorLinea(CTemporizador* pTemporizador) : pTemporizador(pTemporizador) {}
    CTemporizadorLinea(const CTemporizadorLinea&) = delete;
    CTemporizadorLinea& operator=(const CTemporizadorLinea&) = delete;

    // Cancels the arming before, then fn(a1, iTipo, number of this arming) fires on the timer
    // thread after iTicks ticks. The slot, or -1 when the timer object is full.
    int Arma(int32_t iTicks, FnTemporizador fn, uintptr_t a1, int iTipo);
    void Cancela();
    // First step of an expiry: true when uiArmado is the arming in force, whose slot is let
    // go; false for an arming cancelled or replaced since, whose expiry the owner ignores.
    bool Vence(uint32_t uiArmado);
    bool Armado() const { return iSlot != SIN_TEMPORIZADOR; }

private:
    // Process-wide, so that no two armings of one owner's timers share a number.
    static std::atomic<uint32_t> uiUltimoArmado;

    CTemporizador* pTemporizador;
    int iSlot = SIN_TEMPORIZADOR;
    uintptr_t uiDueno = 0;
    uint32_t uiArmado = 0;
};
