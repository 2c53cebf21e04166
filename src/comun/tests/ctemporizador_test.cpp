#include "comun/ctemporizador.h"

#include <gtest/gtest.h>
#include <semaphore.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <random>
#include <thread>
#include <vector>

namespace {

// Tick source stepped by the test: Avanza runs exactly one tick on the timer thread.
class FuenteManual : public CFuenteTicks {
public:
    FuenteManual() {
        sem_init(&tSigue, 0, 0);
        sem_init(&tHecho, 0, 0);
    }
    ~FuenteManual() override {
        sem_destroy(&tSigue);
        sem_destroy(&tHecho);
    }
    void EsperaTick() override {
        sem_post(&tHecho);
        if (!bParar) sem_wait(&tSigue);
    }
    void Despierta() override {
        bParar = true;
        sem_post(&tSigue);
    }
    // Waits until the timer thread waits for its first tick.
    void Arranca() { sem_wait(&tHecho); }
    void Avanza() {
        iTick++;
        sem_post(&tSigue);
        sem_wait(&tHecho);
    }
    int iTick = 0;

private:
    sem_t tSigue, tHecho;
    std::atomic<bool> bParar{false};
};

struct Disparo {
    uintptr_t id;
    int tick;
    bool operator==(const Disparo& o) const { return id == o.id && tick == o.tick; }
};

// Written by call-backs on the timer thread, read by the test after Avanza returns.
std::vector<Disparo> gDisparos;
FuenteManual* gFuente = nullptr;

uintptr_t Anota(uintptr_t id, uintptr_t, uintptr_t) {
    gDisparos.push_back({id, gFuente->iTick});
    return 0;
}

class Temporizador : public ::testing::Test {
protected:
    void SetUp() override {
        gDisparos.clear();
        gFuente = &oFuente;
    }
    void Inicia(unsigned n) {
        oTemp.Inicia(n, &oFuente);
        oFuente.Arranca();
    }
    void Avanza(int n) {
        for (int i = 0; i < n; i++) oFuente.Avanza();
    }
    FuenteManual oFuente;  // outlives the timer thread
    CTemporizador oTemp;
};

TEST_F(Temporizador, FiresOnTheTickAfterItsCount) {
    Inicia(32);
    oTemp.Arma(10, Anota, 1, 0, 0);
    oTemp.Arma(4, Anota, 2, 0, 0);
    oTemp.Arma(0, Anota, 3, 0, 0);
    oTemp.Arma(-7, Anota, 4, 0, 0);
    Avanza(12);
    std::vector<Disparo> esperado = {{3, 1}, {4, 1}, {2, 5}, {1, 11}};
    EXPECT_EQ(gDisparos, esperado);
}

TEST_F(Temporizador, EqualExpiriesFireInArmingOrder) {
    Inicia(32);
    oTemp.Arma(5, Anota, 1, 0, 0);
    Avanza(2);
    oTemp.Arma(3, Anota, 2, 0, 0);
    oTemp.Arma(5, Anota, 3, 0, 0);
    Avanza(10);
    std::vector<Disparo> esperado = {{1, 6}, {2, 6}, {3, 8}};
    EXPECT_EQ(gDisparos, esperado);
}

TEST_F(Temporizador, CancellingTheHeadKeepsTheOthersExpiry) {
    Inicia(32);
    int a = oTemp.Arma(3, Anota, 1, 0, 0);
    oTemp.Arma(5, Anota, 2, 0, 0);
    EXPECT_EQ(oTemp.Cancela(a), 0);
    EXPECT_EQ(oTemp.Cancela(a), 1);
    Avanza(8);
    std::vector<Disparo> esperado = {{2, 6}};
    EXPECT_EQ(gDisparos, esperado);
}

// The slot of a fired timer goes to the next one armed: cancelling by the old arguments
// leaves the new owner armed.
TEST_F(Temporizador, CancelByArgumentsSparesTheTimerThatTookTheSlot) {
    Inicia(32);
    const int a = oTemp.Arma(1, Anota, 1, 0, 7);
    Avanza(2);
    EXPECT_EQ(oTemp.Arma(3, Anota, 2, 0, 8), a);
    EXPECT_EQ(oTemp.Cancela(a, 1, 7), 1);
    EXPECT_EQ(oTemp.Cancela(a, 2, 7), 1);
    Avanza(4);
    std::vector<Disparo> esperado = {{1, 2}, {2, 6}};
    EXPECT_EQ(gDisparos, esperado);
    EXPECT_EQ(oTemp.Arma(3, Anota, 3, 0, 9), a);
    EXPECT_EQ(oTemp.Cancela(a, 3, 9), 0);
}

TEST_F(Temporizador, SlotCountIsCappedAndFullObjectRefuses) {
    struct Caso {
        unsigned capacidad, pedidos;
        int slots;
    };
    for (Caso c : {Caso{32, 40, 32}, Caso{32, 32, 32}, Caso{32, 5, 5}, Caso{900, 1000, 900}, Caso{900, 803, 803}}) {
        FuenteManual f;  // outlives the timer thread
        CTemporizador t(c.capacidad);
        t.Inicia(c.pedidos, &f);
        f.Arranca();
        for (int i = 0; i < c.slots; i++) EXPECT_EQ(t.Arma(100, Anota, 0, 0, 0), i);
        EXPECT_EQ(t.Arma(100, Anota, 0, 0, 0), -1) << c.pedidos;
        EXPECT_EQ(t.Cancela(c.slots), 1);
        EXPECT_EQ(t.Cancela(-1), 1);
        EXPECT_EQ(t.Cancela(3), 0);
        EXPECT_EQ(t.Arma(1, Anota, 0, 0, 0), 3);
    }
}

// Call-backs that act on their own timer object from the timer thread.
struct Reentrada {
    CTemporizador* pTemp;
    int iTicks;
    int iVeces;
    int iSlot;
    std::vector<int> aSlots;
    std::vector<int> aTicks;
    int iCancelaPropio = -2;
};

uintptr_t Rearma(uintptr_t p, uintptr_t, uintptr_t) {
    Reentrada* r = reinterpret_cast<Reentrada*>(p);
    r->aTicks.push_back(gFuente->iTick);
    r->iCancelaPropio = r->pTemp->Cancela(r->iSlot);
    if (--r->iVeces > 0) {
        r->iSlot = r->pTemp->Arma(r->iTicks, Rearma, p, 0, 0);
        r->aSlots.push_back(r->iSlot);
    }
    return 0;
}

TEST_F(Temporizador, CallbackReArmsItsOwnSlot) {
    Inicia(32);
    Reentrada r{&oTemp, 3, 4, 0, {}, {}};
    r.iSlot = oTemp.Arma(3, Rearma, reinterpret_cast<uintptr_t>(&r), 0, 0);
    Avanza(20);
    // The tick under way counts for a timer armed from a call-back: period 3.
    EXPECT_EQ(r.aTicks, (std::vector<int>{4, 7, 10, 13}));
    EXPECT_EQ(r.aSlots, (std::vector<int>{0, 0, 0}));
    // The slot of a running call-back is already free.
    EXPECT_EQ(r.iCancelaPropio, 1);
}

TEST_F(Temporizador, CallbackReArmingWithZeroFiresOnTheNextTick) {
    Inicia(32);
    Reentrada r{&oTemp, 0, 3, 0, {}, {}};
    r.iSlot = oTemp.Arma(0, Rearma, reinterpret_cast<uintptr_t>(&r), 0, 0);
    Avanza(5);
    EXPECT_EQ(r.aTicks, (std::vector<int>{1, 2, 3}));
}

// Reference model: a timer armed between ticks, after T ticks, with n fires on tick
// T + max(n, 0) + 1; equal ticks fire in arming order; the lowest free slot is taken.
TEST_F(Temporizador, RandomArmAndCancelMatchTheModel) {
    struct Modelo {
        bool armado = false;
        int tick = 0;
        long seq = 0;
        uintptr_t id = 0;
    };
    Inicia(32);
    std::mt19937 rnd(12345);
    Modelo m[32];
    long seq = 0;
    uintptr_t siguienteId = 1;
    std::vector<Disparo> esperado;
    for (int paso = 0; paso < 400; paso++) {
        int ops = static_cast<int>(rnd() % 6);
        for (int o = 0; o < ops; o++) {
            if (rnd() % 3 != 0) {
                int n = static_cast<int>(rnd() % 12) - 2;
                int libre = -1;
                for (int i = 0; i < 32 && libre < 0; i++)
                    if (!m[i].armado) libre = i;
                uintptr_t id = siguienteId++;
                int slot = oTemp.Arma(n, Anota, id, 0, 0);
                ASSERT_EQ(slot, libre) << "paso " << paso;
                if (libre >= 0) m[libre] = {true, oFuente.iTick + std::max(n, 0) + 1, seq++, id};
            } else {
                int s = static_cast<int>(rnd() % 34) - 1;
                int esperadoCancela = (s >= 0 && s < 32 && m[s].armado) ? 0 : 1;
                ASSERT_EQ(oTemp.Cancela(s), esperadoCancela) << "paso " << paso << " slot " << s;
                if (esperadoCancela == 0) m[s].armado = false;
            }
        }
        Avanza(1);
        std::vector<Modelo*> vencen;
        for (Modelo& x : m)
            if (x.armado && x.tick == oFuente.iTick) vencen.push_back(&x);
        std::sort(vencen.begin(), vencen.end(), [](Modelo* a, Modelo* b) { return a->seq < b->seq; });
        for (Modelo* x : vencen) {
            esperado.push_back({x->id, x->tick});
            x->armado = false;
        }
        ASSERT_EQ(gDisparos, esperado) << "paso " << paso;
    }
    EXPECT_GT(esperado.size(), 300u);
}

std::atomic<int> gReales{0};
uintptr_t CuentaReal(uintptr_t, uintptr_t, uintptr_t) {
    gReales++;
    return 0;
}

TEST(TemporizadorReal, TicksEveryHundredMilliseconds) {
    CTemporizador t;
    t.Inicia(2);
    auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(t.Arma(1, CuentaReal, 0, 0, 0), 0);
    while (gReales == 0 && std::chrono::steady_clock::now() - t0 < std::chrono::seconds(5))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_EQ(gReales, 1);
    EXPECT_GE(ms, 100);
    EXPECT_LT(ms, 1000);
}

}  // namespace
