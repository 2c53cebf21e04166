// Fixed-size FIFO of equal-sized frames. No lock: one owner.
#pragma once

#include <cstdint>
#include <cstdio>

class CColaTramas {
public:
    CColaTramas(int32_t iCapacidad, int32_t iTamTrama);
    ~CColaTramas();
    CColaTramas(const CColaTramas&) = delete;
    CColaTramas& operator=(const CColaTramas&) = delete;

    void Vacia();
    int Mete(const void* pTrama);  // 0, or -1 for a null frame or a full queue
    int Saca(void* pDst);          // 0, or -1 for a null destination or an empty queue
    int32_t Total() const { return iTotalTramas; }
    int32_t Libres() const { return iMaxTramas - iTotalTramas; }
    void DameInfo(uint8_t*& pAlmacen, int32_t& iTotal) const;
    void Pinta(int (*salida)(const char*, ...) = printf) const;

private:
    int32_t iMaxTramas;
    int32_t iTamTrama;
    int32_t iTotalTramas = 0;
    uint8_t* pCola;
    uint8_t* pInCola;
    uint8_t* pOutCola;
};
