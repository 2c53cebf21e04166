#include "sip/temporizadorsesion.h"

namespace {
// Seconds the answer to our own refresh may take.
const int32_t kEsperaRx200okS = 400;
}  // namespace

void TemporizadorSesion::Reinicia() {
    iTxUpdate = iSessionExpires = iRx200ok = iExpiraciones = iValorSessionExpires = 0;
}

int32_t TemporizadorSesion::DescuentaSessionExpires(int32_t iMs) {
    if (iSessionExpires == 0) return -1;
    iSessionExpires = iMs >= iSessionExpires ? 0 : iSessionExpires - iMs;
    return iSessionExpires;
}

int32_t TemporizadorSesion::DescuentaRx200ok(int32_t iMs) {
    if (iRx200ok == 0) return -1;
    if (iMs >= iRx200ok) {
        iRx200ok = 0;
        iExpiraciones++;
    } else {
        iRx200ok -= iMs;
    }
    return iRx200ok;
}

int32_t TemporizadorSesion::DescuentaTxupdate(int32_t iMs) {
    if (iTxUpdate == 0) return -1;
    if (iMs >= iTxUpdate) {
        iTxUpdate = 0;
        SetTmpRx200ok(kEsperaRx200okS);
    } else {
        iTxUpdate -= iMs;
    }
    return iTxUpdate;
}
