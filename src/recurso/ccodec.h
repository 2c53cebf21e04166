// Codec interface of the audio path: 32-bit linear samples (16-bit range) to and from the
// 8-bit bytes carried in RTP.
#pragma once

#include <cstdint>

class CCodec {
public:
    virtual void Codifica(const int32_t* piMuestras, uint8_t* pucBytes, int32_t n) = 0;
    virtual void Decodifica(const uint8_t* pucBytes, int32_t* piMuestras, int32_t n) = 0;
    virtual void CodificaFloat(const float* pfMuestras, uint8_t* pucBytes, int32_t n) = 0;
    virtual void DecodificaFloat(const uint8_t* pucBytes, float* pfMuestras, int32_t n) = 0;

protected:
    ~CCodec() = default;  // never owned through the interface
};
