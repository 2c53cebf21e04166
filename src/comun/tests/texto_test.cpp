#include "comun/texto.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "comun/ordenbytes.h"

namespace {

TEST(Bcd, Conversions) {
    EXPECT_EQ(BcdABinario(0x42), 42);
    EXPECT_EQ(BcdABinario(0x09), 9);
    const uint8_t b[] = {0x12, 0x34, 0x56};
    EXPECT_EQ(BcdANumero(b, 3), 123456u);
    EXPECT_EQ(BcdANumero(b, 0), 0u);
    struct Caso {
        uint16_t valor;
        uint16_t bcd;
    };
    for (Caso c : {Caso{9999, 0x9999}, Caso{4096, 0x4096}, Caso{0, 0}, Caso{12345, 0x2345}, Caso{65535, 0x5535}})
        EXPECT_EQ(BinarioABcd(c.valor), c.bcd) << c.valor;
    uint8_t d[5];
    DescomponeDecimal(12345, d);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(d), 5), std::string("\1\2\3\4\5", 5));
    DescomponeDecimal(100000, d);
    EXPECT_EQ(d[0], 10);
    EXPECT_EQ(d[4], 0);
}

TEST(Hex, NibblesBothWays) {
    uint8_t b[] = {'0', '9', 'A', 'F', 'a', 'f', 'G', ' '};
    AsciiHexANibbles(b, sizeof b);
    const uint8_t esperado[] = {0, 9, 10, 15, 10, 15, 0, 0};
    EXPECT_EQ(memcmp(b, esperado, sizeof b), 0);
    const uint8_t n[] = {0, 9, 10, 15, 16, 255};
    char t[7] = {};
    NibblesAAsciiHex(n, t, 6);
    EXPECT_STREQ(t, "09AF00");
}

TEST(Texto, BoundedLengthTrimAndCase) {
    char a[] = "hola";
    EXPECT_EQ(LongitudAcotada(a, 10), 4);
    char b[] = "holamundo";
    EXPECT_EQ(LongitudAcotada(b, 4), 4);
    EXPECT_STREQ(b, "hola");
    char c[] = "ab";
    EXPECT_EQ(LongitudAcotada(c, 2), 2);
    EXPECT_EQ(LongitudAcotada(c, 0), 0);
    EXPECT_STREQ(c, "");

    struct Caso {
        const char* entrada;
        const char* salida;
    };
    for (Caso k : {Caso{"  a b  ", "a b"}, Caso{"    ", ""}, Caso{"", ""}, Caso{"\tx \t ", "\tx \t"}, Caso{"x", "x"}}) {
        std::string s(k.entrada);
        EXPECT_STREQ(RecortaBlancos(&s[0]), k.salida) << k.entrada;
    }
    char m[] = "abz-\xf1" "1{";
    char* fin = PasaAMayusculas(m);
    EXPECT_STREQ(m, "ABZ-\xf1" "1{");
    EXPECT_EQ(fin, m + strlen(m));
}

TEST(Texto, CompareWithoutCaseOverFiftyCharacters) {
    std::string base(50, 'q');
    struct Caso {
        std::string a, b;
        int signo;
    };
    const Caso casos[] = {
        {"Hola", "hOLA", 0}, {"a", "b", -1}, {"b", "A", 1}, {"abc", "ab", 1}, {"", "", 0},
        {base + "x", base + "Y", 0},  // differ only after the 50th
        {"[", "a", 1},                // against the upper-cased "A"
    };
    for (const Caso& c : casos) {
        int r = ComparaSinMayusculas(c.a.c_str(), c.b.c_str());
        int s = r < 0 ? -1 : (r > 0 ? 1 : 0);
        EXPECT_EQ(s, c.signo) << c.a << " " << c.b;
    }
}

TEST(OrdenBytes, SwapsAndExplicitOrders) {
    EXPECT_EQ(InvierteOrden16(0x1234), 0x3412);
    EXPECT_EQ(InvierteOrden32(0x12345678u), 0x78563412u);
    uint8_t b[] = {1, 2, 3, 4, 5};
    InvierteBytes(b, 3);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(b), 5), std::string("\3\2\1\4\5", 5));
    InvierteBytes(b, 0);
    InvierteBytes(b, 256);
    EXPECT_EQ(b[0], 3);

    uint32_t v = HostABig32(0x01020304u);
    uint8_t m[4];
    memcpy(m, &v, 4);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(m), 4), std::string("\1\2\3\4", 4));
    v = HostALittle32(0x01020304u);
    memcpy(m, &v, 4);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(m), 4), std::string("\4\3\2\1", 4));
    uint16_t w = HostABig16(0x0102);
    memcpy(m, &w, 2);
    EXPECT_EQ(m[0], 1);
    w = HostALittle16(0x0102);
    memcpy(m, &w, 2);
    EXPECT_EQ(m[0], 2);
    EXPECT_EQ(BigAHost32(HostABig32(0xCAFEBABEu)), 0xCAFEBABEu);
    EXPECT_EQ(LittleAHost32(HostALittle32(0xCAFEBABEu)), 0xCAFEBABEu);
    EXPECT_EQ(BigAHost16(HostABig16(0xBEEF)), 0xBEEF);
    EXPECT_EQ(LittleAHost16(HostALittle16(0xBEEF)), 0xBEEF);
}

}  // namespace
