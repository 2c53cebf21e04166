#include "ccolatramas.h"

#include <cstring>
#include <new>

CColaTramas::CColaTramas(int32_t iCapacidad, int32_t iTam)
    : iMaxTramas(0), iTamTrama(iTam > 0 ? iTam : 0), pCola(nullptr) {
    if (iCapacidad > 0 && iTamTrama > 0)
        pCola = new (std::nothrow) uint8_t[static_cast<size_t>(iCapacidad) * static_cast<size_t>(iTamTrama)];
    if (pCola) iMaxTramas = iCapacidad;
    pInCola = pOutCola = pCola;
}

CColaTramas::~CColaTramas() { delete[] pCola; }

void CColaTramas::Vacia() {
    iTotalTramas = 0;
    pInCola = pOutCola = pCola;
}

int CColaTramas::Mete(const void* pTrama) {
    if (!pTrama || iTotalTramas >= iMaxTramas) return -1;
    uint8_t* pFin = pCola + static_cast<size_t>(iMaxTramas) * iTamTrama;
    if (pInCola >= pFin) pInCola = pCola;
    memcpy(pInCola, pTrama, iTamTrama);
    pInCola += iTamTrama;
    if (pInCola >= pFin) pInCola = pCola;
    iTotalTramas++;
    return 0;
}

int CColaTramas::Saca(void* pDst) {
    if (!pDst || iTotalTramas <= 0) return -1;
    uint8_t* pFin = pCola + static_cast<size_t>(iMaxTramas) * iTamTrama;
    if (pOutCola >= pFin) pOutCola = pCola;
    memcpy(pDst, pOutCola, iTamTrama);
    pOutCola += iTamTrama;
    if (pOutCola >= pFin) pOutCola = pCola;
    iTotalTramas--;
    return 0;
}

void CColaTramas::DameInfo(uint8_t*& pAlmacen, int32_t& iTotal) const {
    pAlmacen = pCola;
    iTotal = iTotalTramas;
}

void CColaTramas::Pinta(int (*salida)(const char*, ...)) const {
    // The board's pointers were 32-bit words; the low word is enough to tell them apart.
    auto palabra = [](const uint8_t* p) { return static_cast<unsigned>(reinterpret_cast<uintptr_t>(p)); };
    salida("pCola =%x, pInCola =%x, pOutCola =%x, iTotalTramas=%i, iMaxTramas=%i\n", palabra(pCola),
           palabra(pInCola), palabra(pOutCola), iTotalTramas, iMaxTramas);
}
