// G.711 codec, A-law or mu-law switchable at run time, through process-wide tables that are
// built once, on first use.
#pragma once

#include <cstdint>

#include "ccodec.h"

class CCodecG711 : public CCodec {
public:
    CCodecG711() { UsaLeyA(); }
    virtual ~CCodecG711() = default;

    void UsaLeyA();
    void UsaLeyMu();
    bool EsLeyA() const;

    // Only the low 16 bits of a sample count: 65636 encodes like 100.
    void Codifica(const int32_t* piMuestras, uint8_t* pucBytes, int32_t n) override;
    void Decodifica(const uint8_t* pucBytes, int32_t* piMuestras, int32_t n) override;
    // Truncated toward zero; values beyond the 32-bit range saturate to the 16-bit range.
    void CodificaFloat(const float* pfMuestras, uint8_t* pucBytes, int32_t n) override;
    void DecodificaFloat(const uint8_t* pucBytes, float* pfMuestras, int32_t n) override;

private:
    const uint8_t* pucTablaCodifica;   // 65,536 entries, by the low 16 bits of a sample
    const int32_t* piTablaDecodifica;  // 256 entries, by code
};
