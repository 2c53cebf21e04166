#include "ccodecg711.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <vector>

namespace {

// Reference written from the standard's definition: each law is a table of 128 quantisation
// intervals per sign, given by their decision levels; a code's output is its interval's mid
// point. Inputs are 16-bit; the standard's linear codes are their top 13 (A-law) or 14
// (mu-law) bits, negative values taken in one's complement as in the ITU-T reference code.
struct Ley {
    int32_t desplazamiento;  // 16-bit input to the law's magnitude scale
    int32_t sesgo;           // mu-law works on magnitude + 33
    int32_t inferior[129];   // lower decision level of each magnitude interval (sentinel last)
};

Ley LeyA() {
    Ley l{4, 0, {}};
    // Segments 0 and 1: 16 steps of 1 each; segment s >= 2: 16 steps of 2^(s-1) from 16 << (s-1).
    for (int32_t c = 0; c < 128; c++) {
        int32_t s = c >> 4, q = c & 15;
        l.inferior[c] = s == 0 ? q : (16 + q) << (s - 1);
    }
    l.inferior[128] = 2048;
    return l;
}

Ley LeyMu() {
    Ley l{2, 33, {}};
    // Segment s: 16 steps of 2^(s+1) from 32 << s (on magnitude + 33).
    for (int32_t c = 0; c < 128; c++) l.inferior[c] = (32 + 2 * (c & 15)) << (c >> 4);
    l.inferior[128] = 8192;
    return l;
}

int32_t Magnitud(const Ley& l, int32_t v) {
    int32_t m = (v < 0 ? -v - 1 : v) >> l.desplazamiento;
    return std::min(m + l.sesgo, l.inferior[128] - 1);
}

// Index (0-127) of the interval that holds the magnitude.
int32_t Intervalo(const Ley& l, int32_t m) {
    int32_t c = 0;
    while (l.inferior[c + 1] <= m) c++;
    return c;
}

uint8_t RefCodificaA(int32_t v) {
    static const Ley l = LeyA();
    int32_t c = Intervalo(l, Magnitud(l, v));
    return static_cast<uint8_t>((c | (v >= 0 ? 0x80 : 0)) ^ 0x55);  // even bits inverted
}

uint8_t RefCodificaMu(int32_t v) {
    static const Ley l = LeyMu();
    int32_t c = Intervalo(l, Magnitud(l, v));
    return static_cast<uint8_t>((0x7F - c) | (v >= 0 ? 0x80 : 0));  // magnitude bits inverted
}

int32_t RefDecodificaA(uint8_t b) {
    static const Ley l = LeyA();
    int32_t c = (b ^ 0x55) & 0x7F;
    int32_t medio2 = l.inferior[c] + l.inferior[c + 1];  // twice the mid point
    int32_t v = medio2 << (l.desplazamiento - 1);
    return (b & 0x80) ? v : -v;
}

int32_t RefDecodificaMu(uint8_t b) {
    static const Ley l = LeyMu();
    int32_t c = 0x7F - (b & 0x7F);
    int32_t medio2 = l.inferior[c] + l.inferior[c + 1] - 2 * l.sesgo;
    int32_t v = medio2 << (l.desplazamiento - 1);
    return (b & 0x80) ? v : -v;
}

struct Caso {
    const char* nombre;
    bool bLeyA;
    uint8_t (*codifica)(int32_t);
    int32_t (*decodifica)(uint8_t);
};

const Caso kLeyes[] = {{"A-law", true, RefCodificaA, RefDecodificaA},
                       {"mu-law", false, RefCodificaMu, RefDecodificaMu}};

CCodecG711 Codec(bool bLeyA) {
    CCodecG711 c;
    if (!bLeyA) c.UsaLeyMu();
    return c;
}

TEST(CCodecG711, EveryInputEncodesAsTheStandardSays) {
    std::vector<int32_t> entrada(65536);
    for (int32_t i = 0; i < 65536; i++) entrada[i] = i - 32768;
    std::vector<uint8_t> salida(65536);
    for (const auto& ley : kLeyes) {
        SCOPED_TRACE(ley.nombre);
        CCodecG711 c = Codec(ley.bLeyA);
        c.Codifica(entrada.data(), salida.data(), 65536);
        int32_t fallos = 0;
        for (int32_t i = 0; i < 65536; i++)
            if (salida[i] != ley.codifica(entrada[i]) && ++fallos <= 5)
                ADD_FAILURE() << "input " << entrada[i] << ": " << int(salida[i]) << " expected "
                              << int(ley.codifica(entrada[i]));
        EXPECT_EQ(fallos, 0);
    }
}

TEST(CCodecG711, EveryCodeDecodesAsTheStandardSaysAndSurvivesARoundTrip) {
    std::vector<uint8_t> codigos(256);
    for (int32_t i = 0; i < 256; i++) codigos[i] = static_cast<uint8_t>(i);
    for (const auto& ley : kLeyes) {
        SCOPED_TRACE(ley.nombre);
        CCodecG711 c = Codec(ley.bLeyA);
        std::vector<int32_t> lineal(256), otra(256);
        std::vector<uint8_t> recodificado(256);
        c.Decodifica(codigos.data(), lineal.data(), 256);
        c.Codifica(lineal.data(), recodificado.data(), 256);
        c.Decodifica(recodificado.data(), otra.data(), 256);
        for (int32_t i = 0; i < 256; i++) {
            EXPECT_EQ(lineal[i], ley.decodifica(static_cast<uint8_t>(i))) << "code " << i;
            EXPECT_EQ(otra[i], lineal[i]) << "code " << i;
        }
        std::vector<float> flotante(256);
        c.DecodificaFloat(codigos.data(), flotante.data(), 256);
        for (int32_t i = 0; i < 256; i++) EXPECT_EQ(flotante[i], static_cast<float>(lineal[i]));
    }
}

TEST(CCodecG711, KnownCodesOfBothLaws) {
    struct Muestra {
        bool bLeyA;
        int32_t v;
        uint8_t esperado;
    };
    const Muestra casos[] = {{true, 0, 0xD5},       {false, 0, 0xFF},     {true, -32768, 0x2A},
                             {true, 32767, 0xAA},   {false, -1, 0x7F},    {false, 32767, 0x80},
                             {false, -32768, 0x00}, {true, -1, 0x55}};
    for (const auto& m : casos) {
        CCodecG711 c = Codec(m.bLeyA);
        uint8_t b = 0;
        c.Codifica(&m.v, &b, 1);
        EXPECT_EQ(b, m.esperado) << (m.bLeyA ? "A " : "mu ") << m.v;
    }
}

TEST(CCodecG711, OnlyTheLow16BitsOfASampleCount) {
    for (const auto& ley : kLeyes) {
        SCOPED_TRACE(ley.nombre);
        CCodecG711 c = Codec(ley.bLeyA);
        const int32_t fuera[] = {65636, 100, INT32_MAX, -1, INT32_MIN, 0, -40000, 25536};
        uint8_t b[8];
        c.Codifica(fuera, b, 8);
        EXPECT_EQ(b[0], b[1]);
        EXPECT_EQ(b[2], b[3]);
        EXPECT_EQ(b[4], b[5]);
        EXPECT_EQ(b[6], b[7]);
    }
}

TEST(CCodecG711, FloatsAreTruncatedAndNeverIndexOutsideTheTable) {
    for (const auto& ley : kLeyes) {
        SCOPED_TRACE(ley.nombre);
        CCodecG711 c = Codec(ley.bLeyA);
        const float f[] = {-0.9f, 1234.99f, 65636.0f, 1e20f, -1e20f, NAN, INFINITY, -INFINITY};
        uint8_t b[8];
        c.CodificaFloat(f, b, 8);
        EXPECT_EQ(b[0], ley.codifica(0));
        EXPECT_EQ(b[1], ley.codifica(1234));
        EXPECT_EQ(b[2], ley.codifica(100));
        EXPECT_EQ(b[3], ley.codifica(32767));
        EXPECT_EQ(b[4], ley.codifica(-32768));
        EXPECT_EQ(b[5], ley.codifica(0));
        EXPECT_EQ(b[6], ley.codifica(32767));
        EXPECT_EQ(b[7], ley.codifica(-32768));
    }
}

TEST(CCodecG711, NewCodecUsesALawAndSwitchesAtRunTime) {
    CCodecG711 c;
    EXPECT_TRUE(c.EsLeyA());
    c.UsaLeyMu();
    EXPECT_FALSE(c.EsLeyA());
    int32_t v = 0;
    uint8_t b = 0;
    c.Codifica(&v, &b, 1);
    EXPECT_EQ(b, 0xFF);
    c.UsaLeyA();
    c.Codifica(&v, &b, 1);
    EXPECT_EQ(b, 0xD5);
}

}  // namespace
