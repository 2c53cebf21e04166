// Test-call bookkeeping of an ATS trunk: when calls are due, which incoming calls are test
// calls, and what the configured numbers become.
#include "cgestorllamadasprueba.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr uint32_t T0 = 0xFFFFF000u;  // near the wrap of the board clock

std::string Numeros(const CGestorLlamadasPrueba& g) {
    char acLocal[6], acRemoto[6];
    int n = 64, iCategoria = 0;
    g.DameNumeros(&n, acLocal, acRemoto, &iCategoria);
    std::string s;
    for (int i = 0; i < n; ++i) s += static_cast<char>('0' + acLocal[i]);
    s += "/";
    for (int i = 0; i < n; ++i) s += static_cast<char>('0' + acRemoto[i]);
    return s + "/" + std::to_string(iCategoria);
}

const char kLocal[] = {1, 1, 1, 1, 1, 1};
const char kRemoto[] = {2, 2, 2, 2, 2, 2};
const char kOtro[] = {3, 0, 0, 0, 0, 1};

TEST(CGestorLlamadasPrueba, UnknownStateCallsAtOnceAndSixNinesByDefault) {
    CGestorLlamadasPrueba g;
    g.Configura("", "111111", "222222");  // not enabled: the numbers stay 999999
    EXPECT_EQ(Numeros(g), "999999/999999/4");
    EXPECT_EQ(g.DameEstado(), 1u);
    EXPECT_EQ(g.HayQueLlamar(T0), 1);
}

// The configuration fields are six characters without terminator: never read past them.
TEST(CGestorLlamadasPrueba, NumbersAreReadAsAtMostSixCharactersStoppingAtTheTerminator) {
    struct Caso {
        const char* szLocal;
        const char* szRemoto;
        const char* szEsperado;
    } casos[] = {
        {"111111", "222222", "111111/222222/4"},
        {"1234567890", "22", "123456/220000/4"},
        {"", "5", "999999/500000/4"},
    };
    for (const Caso& c : casos) {
        CGestorLlamadasPrueba g;
        g.Configura("TRONCAL", c.szLocal, c.szRemoto);
        EXPECT_EQ(Numeros(g), c.szEsperado) << c.szLocal;
    }
}

TEST(CGestorLlamadasPrueba, IncomingCallsAreSortedIntoTestCallsAndOrdinaryOnes) {
    struct Caso {
        const char* szNombre;
        const char* pcOrigen;
        const char* pcDestino;
        int iCategoria;
        int iResultado;
        uint32_t uiEstado;  // DameEstado afterwards
    } casos[] = {
        {"WellAddressedTestCall", kRemoto, kLocal, 4, 2, 1},
        {"WrongCategory", kRemoto, kLocal, 2, 2, 1},
        {"FromTheRemoteNumberToAnother", kRemoto, kOtro, 4, 2, 1},
        {"ToTheLocalNumberFromAnother", kOtro, kLocal, 4, 2, 1},
        {"OrdinaryCallProvesTheLine", kOtro, kOtro, 4, 0, 0},
    };
    for (const Caso& c : casos) {
        CGestorLlamadasPrueba g;
        g.Configura("T", "111111", "222222");
        EXPECT_EQ(g.EvaluaEntrante(6, c.pcOrigen, c.pcDestino, c.iCategoria, T0), c.iResultado) << c.szNombre;
        EXPECT_EQ(g.DameEstado(), c.uiEstado) << c.szNombre;
    }
}

TEST(CGestorLlamadasPrueba, AfterASuccessTheNextCallIsDueFortyMinutesLater) {
    CGestorLlamadasPrueba g;
    g.Configura("T", "111111", "222222");
    const uint32_t uiIntervalo = g.LlamadaSalienteOk(T0);
    EXPECT_GE(uiIntervalo, 360000u - 59999u);
    EXPECT_LE(uiIntervalo, 360000u + 59999u);
    EXPECT_EQ(g.DameEstado(), 0u);
    EXPECT_TRUE(g.PruebaCorrecta());
    EXPECT_EQ(g.HayQueLlamar(T0 + 239999), 0);
    EXPECT_EQ(g.HayQueLlamar(T0 + 240000), 1);
}

TEST(CGestorLlamadasPrueba, FailuresCountUpAndRetryEveryFiveSeconds) {
    CGestorLlamadasPrueba g;
    g.Configura("T", "111111", "222222");
    for (uint32_t i = 1; i <= 4; ++i) EXPECT_EQ(g.LlamadaSalienteFallida(T0 + i), i);
    EXPECT_EQ(g.DameEstado(), 4u);
    EXPECT_EQ(g.HayQueLlamar(T0 + 4 + 499), 0);
    EXPECT_EQ(g.HayQueLlamar(T0 + 4 + 500), 1);
    g.ReintentaPronto(T0 + 10);
    EXPECT_EQ(g.DameEstado(), 0u);
    EXPECT_EQ(g.DameProximaLlamada(), T0 + 510);
    g.Reinicia();
    EXPECT_EQ(g.DameEstado(), 1u);
}

}  // namespace
