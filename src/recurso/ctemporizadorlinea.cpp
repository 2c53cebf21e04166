#include "ctemporizadorlinea.h"

std::atomic<uint32_t> CTemporizadorLinea::uiUltimoArmado{0};

int CTemporizadorLinea::Arma(int32_t iTicks, FnTemporizador fn, uintptr_t a1, int iTipo) {
    Cancela();
    uiArmado = ++uiUltimoArmado;
    uiDueno = a1;
    const int r = pTemporizador->Arma(iTicks, fn, a1, static_cast<uintptr_t>(iTipo), uiArmado);
    iSlot = r < 0 ? static_cast<int>(SIN_TEMPORIZADOR) : r;
    return r;
}

void CTemporizadorLinea::Cancela() {
    if (iSlot == SIN_TEMPORIZADOR) return;
    // By the arming's own arguments: the slot may belong to another timer once this one fired.
    pTemporizador->Cancela(iSlot, uiDueno, uiArmado);
    iSlot = SIN_TEMPORIZADOR;
}

bool CTemporizadorLinea::Vence(uint32_t uiNumero) {
    if (iSlot == SIN_TEMPORIZADOR || uiNumero != uiArmado) return false;
    iSlot = SIN_TEMPORIZADOR;
    return true;
}
