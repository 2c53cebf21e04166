// A line entity's timers on a timer object ticked by the test. An expiry is handed to the
// owner as the timer thread does, and the owner may take it late (its lock is busy): what
// happened to the timer meanwhile decides whether the expiry still counts.
#include "ctemporizadorlinea.h"

#include <gtest/gtest.h>

#include <vector>

#include "comun/tests/cfuenteparada.h"

namespace {

// Expiries as the timer thread hands them over: owner, kind, arming. Taken by the test.
struct Expiracion {
    uintptr_t uiDueno;
    int iTipo;
    uint32_t uiArmado;
};
std::vector<Expiracion> gvExpiraciones;

uintptr_t Anota(uintptr_t a1, uintptr_t a2, uintptr_t a3) {
    gvExpiraciones.push_back({a1, static_cast<int>(a2), static_cast<uint32_t>(a3)});
    return 0;
}

class TemporizadorLinea : public ::testing::Test {
protected:
    void SetUp() override {
        gvExpiraciones.clear();
        oTemporizador.Inicia(CTemporizador::MAX_TEMPORIZADORES, &oFuente);
    }
    void Avanza(int n) {
        for (int i = 0; i < n; i++) oTemporizador.Tick();
    }
    // The last expiry handed over, taken by the owner now.
    bool Toma(CTemporizadorLinea& t) { return !gvExpiraciones.empty() && t.Vence(gvExpiraciones.back().uiArmado); }

    pruebas::CFuenteParada oFuente;  // outlives the timer, which wakes it when destroyed
    CTemporizador oTemporizador;
    CTemporizadorLinea a{&oTemporizador}, b{&oTemporizador};
};

TEST_F(TemporizadorLinea, ItsExpiryCountsOnceAndLetsTheSlotGo) {
    ASSERT_EQ(a.Arma(2, Anota, 7, 4), 0);
    EXPECT_TRUE(a.Armado());
    Avanza(3);
    ASSERT_EQ(gvExpiraciones.size(), 1u);
    EXPECT_EQ(gvExpiraciones[0].uiDueno, 7u);
    EXPECT_EQ(gvExpiraciones[0].iTipo, 4);
    EXPECT_TRUE(Toma(a));
    EXPECT_FALSE(a.Armado());
    EXPECT_FALSE(Toma(a));
}

TEST_F(TemporizadorLinea, AnExpiryOvertakenByACancelOrANewArmingIsIgnored) {
    a.Arma(1, Anota, 7, 1);
    Avanza(2);
    a.Cancela();
    EXPECT_FALSE(Toma(a));

    a.Arma(1, Anota, 7, 1);
    Avanza(2);
    a.Arma(5, Anota, 7, 2);
    EXPECT_FALSE(Toma(a));
    EXPECT_TRUE(a.Armado());
    Avanza(6);
    ASSERT_EQ(gvExpiraciones.size(), 3u);
    EXPECT_EQ(gvExpiraciones.back().iTipo, 2);
    EXPECT_TRUE(Toma(a));
}

// a fired and its owner has not taken the expiry yet when b takes the freed slot: cancelling
// a then must leave b armed.
TEST_F(TemporizadorLinea, CancellingAfterTheExpirySparesTheTimerThatTookTheSlot) {
    const int iSlot = a.Arma(1, Anota, 7, 1);
    Avanza(2);
    ASSERT_EQ(b.Arma(3, Anota, 7, 2), iSlot);
    a.Cancela();
    EXPECT_FALSE(Toma(a));
    Avanza(4);
    ASSERT_EQ(gvExpiraciones.size(), 2u);
    EXPECT_EQ(gvExpiraciones.back().iTipo, 2);
    EXPECT_TRUE(Toma(b));
}

}  // namespace
