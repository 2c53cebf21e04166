#include "ccodecg711.h"

#include <cmath>

namespace {

struct TablasLey {
    uint8_t aucCodifica[65536];
    int32_t aiDecodifica[256];
};

// ITU-T G.711 A-law with the segment search; negative inputs in one's complement.
uint8_t CodificaA(int32_t v) {
    static const int32_t aiFinSegmento[8] = {0x1F, 0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF};
    int32_t mascara = 0xD5;
    int32_t x = v >> 3;
    if (v < 0) {
        mascara = 0x55;
        x = ~x;
    }
    int32_t seg = 0;
    while (seg < 8 && x > aiFinSegmento[seg]) seg++;
    if (seg == 8) return static_cast<uint8_t>(0x7F ^ mascara);
    int32_t val = (seg << 4) | ((seg < 2 ? x >> 1 : x >> seg) & 0x0F);
    return static_cast<uint8_t>(val ^ mascara);
}

int32_t DecodificaA(uint8_t b) {
    int32_t a = b ^ 0x55;
    int32_t t = (a & 0x0F) << 4;
    int32_t seg = (a & 0x70) >> 4;
    if (seg == 0) {
        t += 8;
    } else {
        t += 0x108;
        if (seg > 1) t <<= seg - 1;
    }
    return (a & 0x80) ? t : -t;
}

// ITU-T G.711 mu-law (14-bit, bias 33). The magnitude of a negative input is its one's
// complement: -1 lies in the first interval below zero (7Fh), not in the second.
uint8_t CodificaMu(int32_t v) {
    static const int32_t aiFinSegmento[8] = {0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF, 0x1FFF};
    int32_t mascara = 0xFF;
    int32_t x = v >> 2;
    if (v < 0) {
        mascara = 0x7F;
        x = ~x;
    }
    if (x > 8159) x = 8159;
    x += 33;
    int32_t seg = 0;
    while (seg < 8 && x > aiFinSegmento[seg]) seg++;
    if (seg == 8) return static_cast<uint8_t>(0x7F ^ mascara);
    return static_cast<uint8_t>(((seg << 4) | ((x >> (seg + 1)) & 0x0F)) ^ mascara);
}

int32_t DecodificaMu(uint8_t b) {
    int32_t u = ~b & 0xFF;
    int32_t t = (((u & 0x0F) << 3) + 132) << ((u & 0x70) >> 4);
    return (u & 0x80) ? 132 - t : t - 132;
}

void Rellena(TablasLey& t, uint8_t (*codifica)(int32_t), int32_t (*decodifica)(uint8_t)) {
    for (int32_t i = 0; i < 65536; i++) t.aucCodifica[i] = codifica(static_cast<int16_t>(i));
    for (int32_t i = 0; i < 256; i++) t.aiDecodifica[i] = decodifica(static_cast<uint8_t>(i));
}

// The "built" flags are function statics: filled once per process even if two threads ask first.
const TablasLey& TablasA() {
    static TablasLey t;
    static const bool bHecha = (Rellena(t, CodificaA, DecodificaA), true);
    (void)bHecha;
    return t;
}

const TablasLey& TablasMu() {
    static TablasLey t;
    static const bool bHecha = (Rellena(t, CodificaMu, DecodificaMu), true);
    (void)bHecha;
    return t;
}

uint16_t Indice(int32_t v) { return static_cast<uint16_t>(static_cast<uint32_t>(v)); }

int32_t Trunca(float f) {
    if (std::isnan(f)) return 0;
    if (f >= 2147483648.0f) return 32767;
    if (f < -2147483648.0f) return -32768;
    return static_cast<int32_t>(f);
}

}  // namespace

void CCodecG711::UsaLeyA() {
    pucTablaCodifica = TablasA().aucCodifica;
    piTablaDecodifica = TablasA().aiDecodifica;
}

void CCodecG711::UsaLeyMu() {
    pucTablaCodifica = TablasMu().aucCodifica;
    piTablaDecodifica = TablasMu().aiDecodifica;
}

bool CCodecG711::EsLeyA() const { return pucTablaCodifica == TablasA().aucCodifica; }

void CCodecG711::Codifica(const int32_t* piMuestras, uint8_t* pucBytes, int32_t n) {
    const uint8_t* pTabla = pucTablaCodifica;  // byte stores may alias the member: read it once
    for (int32_t i = 0; i < n; i++) pucBytes[i] = pTabla[Indice(piMuestras[i])];
}

void CCodecG711::Decodifica(const uint8_t* pucBytes, int32_t* piMuestras, int32_t n) {
    for (int32_t i = 0; i < n; i++) piMuestras[i] = piTablaDecodifica[pucBytes[i]];
}

void CCodecG711::CodificaFloat(const float* pfMuestras, uint8_t* pucBytes, int32_t n) {
    const uint8_t* pTabla = pucTablaCodifica;
    for (int32_t i = 0; i < n; i++) pucBytes[i] = pTabla[Indice(Trunca(pfMuestras[i]))];
}

void CCodecG711::DecodificaFloat(const uint8_t* pucBytes, float* pfMuestras, int32_t n) {
    for (int32_t i = 0; i < n; i++) pfMuestras[i] = static_cast<float>(piTablaDecodifica[pucBytes[i]]);
}
