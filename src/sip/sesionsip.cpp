#include "sip/sesionsip.h"

void ListaCodecs::Fija(const int32_t* p, int n) {
    std::memset(aiPayload, 0, sizeof aiPayload);
    iNum = n < 0 ? 0 : n > MAX_CODECS ? MAX_CODECS : n;
    if (p) std::memcpy(aiPayload, p, sizeof(int32_t) * iNum);
    ReiniciaMarca();
}

void ListaCodecs::Marca(int32_t iPayload) {
    for (int i = 0; i < iNum; i++)
        if (aiPayload[i] == iPayload) {
            if (iMejor < 0 || i < iMejor) {
                iMejor = i;
                iElegido = iPayload;
            }
            return;
        }
}

bool ListaCodecs::Contiene(int32_t iPayload) const {
    for (int i = 0; i < iNum; i++)
        if (aiPayload[i] == iPayload) return true;
    return false;
}
