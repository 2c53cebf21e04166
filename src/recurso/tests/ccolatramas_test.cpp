#include "ccolatramas.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "salida_capturada.h"

namespace {

using Trama = std::array<uint8_t, 5>;

Trama Numerada(int i) { return {uint8_t(i), uint8_t(i + 1), uint8_t(i + 2), uint8_t(i + 3), uint8_t(i + 4)}; }

TEST(CColaTramas, FramesComeOutInOrderAcrossTheEndOfTheStorage) {
    CColaTramas q(3, 5);
    int metidas = 0, sacadas = 0;
    for (int ronda = 0; ronda < 10; ronda++) {
        while (q.Libres() > 0) ASSERT_EQ(q.Mete(Numerada(metidas++).data()), 0);
        for (int k = 0; k < 1 + ronda % 3; k++) {
            Trama t{};
            ASSERT_EQ(q.Saca(t.data()), 0);
            ASSERT_EQ(t, Numerada(sacadas++));
        }
        ASSERT_EQ(q.Total(), metidas - sacadas);
    }
}

TEST(CColaTramas, FullAndEmptyQueuesRefuseWithoutChange) {
    CColaTramas q(2, 5);
    Trama t = Numerada(1);
    EXPECT_EQ(q.Saca(t.data()), -1);
    EXPECT_EQ(q.Mete(nullptr), -1);
    EXPECT_EQ(q.Mete(t.data()), 0);
    EXPECT_EQ(q.Saca(nullptr), -1);
    EXPECT_EQ(q.Mete(Numerada(2).data()), 0);
    EXPECT_EQ(q.Mete(Numerada(3).data()), -1);
    EXPECT_EQ(q.Total(), 2);
    EXPECT_EQ(q.Libres(), 0);
    Trama s{};
    EXPECT_EQ(q.Saca(s.data()), 0);
    EXPECT_EQ(s, Numerada(1));
    q.Vacia();
    EXPECT_EQ(q.Total(), 0);
    EXPECT_EQ(q.Saca(s.data()), -1);
}

TEST(CColaTramas, QueueWithoutStorageHoldsNothing) {
    CColaTramas q(0, 5);
    uint8_t* p = reinterpret_cast<uint8_t*>(1);
    int32_t total = -1;
    q.DameInfo(p, total);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(total, 0);
    EXPECT_EQ(q.Libres(), 0);
    EXPECT_EQ(q.Mete(Numerada(0).data()), -1);
}


TEST(CColaTramas, PrintShowsPositionsAndCounts) {
    CColaTramas q(4, 5);
    q.Mete(Numerada(0).data());
    uint8_t* p = nullptr;
    int32_t total = 0;
    q.DameInfo(p, total);
    unsigned base = static_cast<unsigned>(reinterpret_cast<uintptr_t>(p));
    SalidaCapturada().clear();
    q.Pinta(CapturaSalida);
    char esperado[160];
    snprintf(esperado, sizeof esperado, "pCola =%x, pInCola =%x, pOutCola =%x, iTotalTramas=%i, iMaxTramas=%i\n",
             base, base + 5, base, 1, 4);
    EXPECT_EQ(SalidaCapturada(), esperado);
}

}  // namespace
