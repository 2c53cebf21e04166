#include "ccolamuestras.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <random>
#include <vector>

namespace {

constexpr int32_t CAP = 320;
constexpr int32_t RELLENO = -7777777;  // never a sample value of these tests

std::vector<int32_t> Rampa(int32_t desde, int32_t n) {
    std::vector<int32_t> v(n);
    for (int32_t i = 0; i < n; i++) v[i] = desde + i;
    return v;
}

std::vector<int32_t> Contenido(const CColaMuestras& q) {
    std::vector<int32_t> v;
    for (int32_t i = 0; i < q.Muestras(); i++) v.push_back(q.DameMuestra(i));
    return v;
}

void CompruebaIndices(const CColaMuestras& q) {
    int32_t cap = q.Capacidad();
    ASSERT_GE(q.Muestras(), 0);
    ASSERT_LE(q.Muestras(), cap);
    ASSERT_EQ(q.Libres(), cap - q.Muestras());
    ASSERT_GE(q.IndiceLectura(), 0);
    ASSERT_LT(q.IndiceLectura(), cap);
    ASSERT_GE(q.IndiceEscritura(), 0);
    ASSERT_LT(q.IndiceEscritura(), cap);
    // From the read index to the write index inclusive: the count (modulo the capacity).
    int32_t span = ((q.IndiceEscritura() - q.IndiceLectura() + 1) % cap + cap) % cap;
    ASSERT_EQ(span, q.Muestras() % cap);
}

// A synchronised queue of `k` samples whose head time is `ts`; sample values are their times.
void Llena(CColaMuestras& q, uint32_t ts, int32_t k) {
    q.FijaRelleno(RELLENO);
    q.Sincroniza(ts);
    auto b = Rampa(static_cast<int32_t>(ts), k);
    int32_t n = k;
    ASSERT_EQ(q.InsertaTs(b.data(), n, ts), 0);
    ASSERT_EQ(q.Muestras(), k);
}

TEST(CColaMuestras, NewQueueWritesFirstSampleAtTheStartOfItsStorage) {
    CColaMuestras q(CAP);
    EXPECT_EQ(q.IndiceEscritura(), CAP - 1);
    EXPECT_EQ(q.Muestras(), 0);
    CompruebaIndices(q);
    int32_t s = 42, n = 1;
    q.Inserta(&s, n);
    EXPECT_EQ(q.IndiceLectura(), 0);
    EXPECT_EQ(q.IndiceEscritura(), 0);
    // Fill exactly to capacity: everything comes back in order.
    auto b = Rampa(1, CAP - 1);
    n = CAP - 1;
    q.Inserta(b.data(), n);
    std::vector<int32_t> out(CAP);
    n = CAP;
    q.Extrae(out.data(), n);
    ASSERT_EQ(n, CAP);
    EXPECT_EQ(out[0], 42);
    EXPECT_EQ(out[CAP - 1], CAP - 1);
}

TEST(CColaMuestras, ResetHoldsExactlyTheGivenSamples) {
    CColaMuestras q(CAP);
    auto b = Rampa(10, 7);
    q.Reinicia(b.data(), 7);
    EXPECT_EQ(Contenido(q), b);
    EXPECT_EQ(q.IndiceLectura(), 0);
    EXPECT_EQ(q.IndiceEscritura(), 6);
    EXPECT_EQ(q.Descarta(100), 7);
    CompruebaIndices(q);
}

// A block longer than the capacity keeps only its newest capacity samples, in every put form.
TEST(CColaMuestras, OversizedBlockKeepsItsNewestSamplesInEveryPutForm) {
    enum Forma { ORDEN, TS_VACIA, TS_SINCRONIZADA };
    for (Forma f : {ORDEN, TS_VACIA, TS_SINCRONIZADA}) {
        SCOPED_TRACE(f);
        CColaMuestras q(CAP);
        if (f == TS_SINCRONIZADA) Llena(q, 1000, 100);
        auto b = Rampa(5000, CAP + 77);
        int32_t n = CAP + 77;
        uint32_t ts = 1100;
        if (f == ORDEN)
            q.Inserta(b.data(), n);
        else
            q.InsertaTs(b.data(), n, ts);
        EXPECT_EQ(n, CAP);
        EXPECT_EQ(Contenido(q), Rampa(5077, CAP));
        if (f != ORDEN) {
            EXPECT_EQ(q.DameTsCola(), ts + 77);
        }
        CompruebaIndices(q);
    }
}

TEST(CColaMuestras, ArrivalOrderDropsOldestOrKeepsThemWhenAsked) {
    for (int32_t guarda : {0, 1}) {
        CColaMuestras q(CAP);
        q.FijaGuardaAntiguas(guarda);
        auto a = Rampa(0, 300);
        auto b = Rampa(300, 50);
        int32_t n = 300;
        q.Inserta(a.data(), n);
        n = 50;
        q.Inserta(b.data(), n);
        if (guarda) {
            EXPECT_EQ(n, 20);
            EXPECT_EQ(Contenido(q), Rampa(0, 320));
        } else {
            EXPECT_EQ(n, 50);
            EXPECT_EQ(Contenido(q), Rampa(30, 320));
        }
    }
}

struct CasoTs {
    const char* nombre;
    int32_t desplazamiento;  // block time - head time (head 1000, 100 samples held)
    int32_t n;
    std::vector<int32_t> esperado;  // content after the put (RELLENO marks fill)
    uint32_t cabeza;
    int32_t balance;
    int32_t nDevuelto;
};

std::vector<int32_t> Une(std::initializer_list<std::vector<int32_t>> partes) {
    std::vector<int32_t> r;
    for (auto& p : partes) r.insert(r.end(), p.begin(), p.end());
    return r;
}

std::vector<int32_t> Relleno(int32_t n) { return std::vector<int32_t>(n, RELLENO); }

TEST(CColaMuestras, TimestampedPutPlacesBlocksWhereTheirTimeSays) {
    // Block values are 100000 + their time, queue values are their time.
    auto B = [](uint32_t ts, int32_t n) { return Rampa(100000 + static_cast<int32_t>(ts), n); };
    const std::vector<CasoTs> casos = {
        {"exactly at the tail", 100, 40, Une({Rampa(1000, 100), B(1100, 40)}), 1000, 0, 40},
        {"gap after the tail is filled", 110, 40, Une({Rampa(1000, 100), Relleno(10), B(1110, 40)}), 1000, 10, 40},
        {"inside overwrites", 20, 30, Une({Rampa(1000, 20), B(1020, 30), Rampa(1050, 50)}), 1000, 0, 30},
        {"same window resets", 0, 100, B(1000, 100), 1000, 0, 100},
        {"overlap end grows the tail", 80, 60, Une({Rampa(1000, 80), B(1080, 60)}), 1000, 0, 60},
        {"overlap end beyond capacity drops oldest", 90, 300, Une({Rampa(1070, 20), B(1090, 300)}), 1070, -70, 300},
        {"overlap start moves the head back", -30, 50, Une({B(970, 50), Rampa(1020, 80)}), 970, 0, 50},
        {"overlap start past the tail resets", -30, 200, B(970, 200), 970, 0, 200},
        {"before the head with a gap", -50, 20, Une({B(950, 20), Relleno(30), Rampa(1000, 100)}), 950, 30, 20},
        {"before the head, gap plus count reach capacity: dropped", -240, 20, Rampa(1000, 100), 1000, 0, 0},
        {"after the tail, gap plus block reach capacity: reset", 200, 220, B(1200, 220), 1200, -100, 220},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nombre);
        CColaMuestras q(CAP);
        Llena(q, 1000, 100);
        uint32_t ts = 1000 + c.desplazamiento;
        auto b = B(ts, c.n);
        int32_t n = c.n;
        EXPECT_EQ(q.InsertaTs(b.data(), n, ts), 0);
        EXPECT_EQ(n, c.nDevuelto);
        EXPECT_EQ(Contenido(q), c.esperado);
        EXPECT_EQ(q.DameTsCola(), c.cabeza);
        EXPECT_EQ(q.DameBalance(), c.balance);
        EXPECT_EQ(q.Sincronizada(), 1);
        CompruebaIndices(q);
    }
}

TEST(CColaMuestras, JumpOfMoreThanOneBufferFallsBackToArrivalOrder) {
    for (int32_t salto : {100 + CAP + 1, -(CAP + 1) - 40}) {
        SCOPED_TRACE(salto);
        CColaMuestras q(CAP);
        Llena(q, 1000, 100);
        auto b = Rampa(9000, 40);
        int32_t n = 40;
        q.InsertaTs(b.data(), n, 1000 + salto);
        EXPECT_EQ(q.Sincronizada(), 0);
        EXPECT_EQ(Contenido(q), Une({Rampa(1000, 100), b}));
        // Unsynchronised, later timestamps are ignored until it is synchronised again.
        n = 10;
        q.InsertaTs(b.data(), n, 1000);
        EXPECT_EQ(q.Muestras(), 150);
        q.Sincroniza(5000);
        EXPECT_EQ(q.Muestras(), 0);
        EXPECT_EQ(q.DameBalance(), 0);
        EXPECT_EQ(q.DameTsCola(), 5000u);
    }
}

TEST(CColaMuestras, SynchronisingASynchronisedQueueOnlyMovesItsHeadTime) {
    CColaMuestras q(CAP);
    Llena(q, 1000, 100);
    q.Sincroniza(2000);
    EXPECT_EQ(q.Muestras(), 100);
    EXPECT_EQ(q.DameTsCola(), 2000u);
}

struct CasoExtrae {
    const char* nombre;
    int32_t desplazamiento;  // asked time - head time (head 1000, 100 samples held)
    int32_t n;
    std::vector<int32_t> esperado;
    uint32_t cabeza;
    int32_t balance;
    int32_t sincronizada;
};

TEST(CColaMuestras, TimestampedTakeFollowsTheAskedTime) {
    const std::vector<CasoExtrae> casos = {
        {"at the head", 0, 30, Rampa(1000, 30), 1030, 0, 1},
        {"late head skips", 20, 30, Rampa(1020, 30), 1050, -20, 1},
        {"late head, short: the newest are taken", 90, 30, Rampa(1070, 30), 1100, -70, 1},
        {"late head, asking more than held: all", 90, 160, Rampa(1000, 100), 1100, 0, 1},
        {"early request starts with fill", -10, 30, Une({Relleno(10), Rampa(1000, 20)}), 1020, 10, 1},
        {"early request, capped at count plus fill", -10, 200, Une({Relleno(10), Rampa(1000, 100)}), 1100, 10, 1},
        {"request ending before the head: nothing", -40, 40, {}, 1000, 0, 1},
        {"far jump: plain take, synchronisation lost", CAP + 1, 30, Rampa(1000, 30), 1030, 0, 0},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nombre);
        CColaMuestras q(CAP);
        Llena(q, 1000, 100);
        std::vector<int32_t> out(c.n + 1, 0);
        int32_t n = c.n;
        q.ExtraeTs(out.data(), n, 1000 + c.desplazamiento);
        out.resize(n);
        EXPECT_EQ(out, c.esperado);
        EXPECT_EQ(q.DameTsCola(), c.cabeza);
        EXPECT_EQ(q.DameBalance(), c.balance);
        EXPECT_EQ(q.Sincronizada(), c.sincronizada);
        CompruebaIndices(q);
    }
}

TEST(CColaMuestras, QueueWithoutStorageRefusesPuts) {
    CColaMuestras q(0);
    int32_t s = 1, n = 1;
    EXPECT_EQ(q.Inserta(&s, n), -1);
    EXPECT_EQ(n, 0);
    n = 1;
    EXPECT_EQ(q.InsertaTs(&s, n, 0), -1);
    EXPECT_EQ(n, 0);
    n = 1;
    EXPECT_EQ(q.Extrae(&s, n), 0);
    EXPECT_EQ(n, 0);
}

// Random puts and takes, in and out of synchronisation and across the 2^32 wrap of the
// sample clock, checked after every operation against what the times say.
class ModeloAleatorio {
public:
    explicit ModeloAleatorio(uint32_t semilla) : rnd(semilla), q(CAP) { q.FijaRelleno(RELLENO); }

    void Paso() {
        antes = Contenido(q);
        cabeza = q.DameTsCola();
        sinc = q.Sincronizada();
        balance = q.DameBalance();
        int op = Uniforme(0, 99);
        if (op < 45)
            PonTs();
        else if (op < 50)
            Pon();
        else if (op < 85)
            TomaTs();
        else if (op < 92)
            Toma();
        else if (op < 97)
            Sincroniza();
        else
            Descarta();
        CompruebaIndices(q);
    }

private:
    int32_t Uniforme(int32_t a, int32_t b) { return std::uniform_int_distribution<int32_t>(a, b)(rnd); }
    std::vector<int32_t> Bloque(int32_t n) {
        std::vector<int32_t> b(n);
        for (auto& v : b) v = ++valor;
        return b;
    }
    int32_t Desplazamiento() {
        int r = Uniforme(0, 99);
        if (r < 3) return Uniforme(-5000, 5000);
        return Uniforme(-CAP - 60, CAP + 60);
    }
    // Value held for time t before the operation, if it was in the window.
    bool Antes(uint32_t t, int32_t& v) const {
        int32_t i = static_cast<int32_t>(t - cabeza);
        if (i < 0 || i >= static_cast<int32_t>(antes.size())) return false;
        v = antes[i];
        return true;
    }
    void CompruebaFifo(const std::vector<int32_t>& agregado) {
        std::vector<int32_t> todo = antes;
        todo.insert(todo.end(), agregado.begin(), agregado.end());
        if (static_cast<int32_t>(todo.size()) > CAP) todo.erase(todo.begin(), todo.end() - CAP);
        ASSERT_EQ(Contenido(q), todo);
    }

    void PonTs() {
        int32_t n = Uniforme(1, 100) <= 5 ? Uniforme(CAP, CAP + 100) : Uniforme(1, 200);
        uint32_t ts = cabeza + static_cast<uint32_t>(static_cast<int32_t>(antes.size()) + Desplazamiento());
        auto b = Bloque(n);
        int32_t nn = n;
        ASSERT_EQ(q.InsertaTs(b.data(), nn, ts), 0);
        if (antes.empty()) {
            int32_t k = std::min(n, CAP);
            ASSERT_EQ(Contenido(q), std::vector<int32_t>(b.end() - k, b.end()));
            ASSERT_EQ(q.DameTsCola(), ts + static_cast<uint32_t>(n - k));
            ASSERT_EQ(q.Sincronizada(), 1);
            return;
        }
        if (!sinc || !q.Sincronizada()) {
            ASSERT_EQ(q.Sincronizada(), 0);
            CompruebaFifo(std::vector<int32_t>(b.end() - std::min(n, CAP), b.end()));
            return;
        }
        if (nn == 0) {  // dropped: nothing changed
            ASSERT_EQ(Contenido(q), antes);
            ASSERT_EQ(q.DameTsCola(), cabeza);
            return;
        }
        // Every time in the new window holds the block's sample, else its old one, else fill.
        uint32_t c = q.DameTsCola();
        for (int32_t i = 0; i < q.Muestras(); i++) {
            uint32_t t = c + static_cast<uint32_t>(i);
            int32_t j = static_cast<int32_t>(t - ts);
            int32_t esperado = RELLENO;
            if (j >= 0 && j < n)
                esperado = b[j];
            else
                Antes(t, esperado);
            ASSERT_EQ(q.DameMuestra(i), esperado) << "time " << t;
        }
        // The newest sample of the block is never lost.
        int32_t ultimo = static_cast<int32_t>(ts + static_cast<uint32_t>(n - 1) - c);
        ASSERT_GE(ultimo, 0);
        ASSERT_LT(ultimo, q.Muestras());
    }

    void Pon() {
        int32_t n = Uniforme(1, 400);
        auto b = Bloque(n);
        ASSERT_EQ(q.Inserta(b.data(), n), 0);
        ASSERT_EQ(q.Sincronizada(), 0);
        CompruebaFifo(std::vector<int32_t>(b.end() - n, b.end()));
    }

    void TomaTs() {
        int32_t pedido = Uniforme(1, 250);
        uint32_t ts = cabeza + static_cast<uint32_t>(Desplazamiento());
        std::vector<int32_t> out(pedido);
        int32_t n = pedido;
        q.ExtraeTs(out.data(), n, ts);
        ASSERT_LE(n, pedido);
        out.resize(n);
        if (!sinc || !q.Sincronizada() || antes.empty()) {
            ASSERT_EQ(out, std::vector<int32_t>(antes.begin(), antes.begin() + n));
            ASSERT_EQ(n, std::min<int32_t>(pedido, antes.size()));
            return;
        }
        // Fill stands exactly for the asked times before the head.
        int32_t d = static_cast<int32_t>(ts - cabeza);
        int32_t relleno = n > 0 && d < 0 ? -d : 0;
        ASSERT_LE(relleno, n);
        for (int32_t i = 0; i < relleno; i++) ASSERT_EQ(out[i], RELLENO);
        int32_t tomadas = n - relleno;
        uint32_t inicio = q.DameTsCola() - static_cast<uint32_t>(tomadas);
        int32_t saltadas = static_cast<int32_t>(inicio - cabeza);
        ASSERT_GE(saltadas, 0);
        for (int32_t i = 0; i < tomadas; i++) {
            int32_t v = 0;
            ASSERT_TRUE(Antes(inicio + static_cast<uint32_t>(i), v));
            ASSERT_EQ(out[relleno + i], v);
        }
        ASSERT_EQ(q.Muestras(), static_cast<int32_t>(antes.size()) - saltadas - tomadas);
        ASSERT_EQ(q.DameBalance() - balance, relleno - saltadas);
        if (relleno > 0) {
            ASSERT_EQ(saltadas, 0);
        } else if (n > 0 && inicio != ts) {
            // Not the asked time: only when the queue could not give n from there, and then
            // the newest samples are played.
            ASSERT_EQ(saltadas + tomadas, static_cast<int32_t>(antes.size()));
        }
    }

    void Toma() {
        int32_t pedido = Uniforme(1, 250);
        std::vector<int32_t> out(pedido);
        int32_t n = pedido;
        q.Extrae(out.data(), n);
        out.resize(n);
        ASSERT_EQ(out, std::vector<int32_t>(antes.begin(), antes.begin() + n));
        ASSERT_EQ(q.DameTsCola(), cabeza + static_cast<uint32_t>(n));
    }

    void Sincroniza() {
        uint32_t ts = cabeza + static_cast<uint32_t>(Uniforme(-400, 400));
        q.Sincroniza(ts);
        ASSERT_EQ(q.Sincronizada(), 1);
        ASSERT_EQ(q.DameTsCola(), ts);
        if (!sinc) {
            ASSERT_EQ(q.Muestras(), 0);
            ASSERT_EQ(q.DameBalance(), 0);
        } else {
            ASSERT_EQ(Contenido(q), antes);
        }
    }

    void Descarta() {
        int32_t k = Uniforme(0, 400);
        int32_t quitadas = q.Descarta(k);
        ASSERT_EQ(quitadas, std::min<int32_t>(k, antes.size()));
        ASSERT_EQ(Contenido(q), std::vector<int32_t>(antes.begin() + quitadas, antes.end()));
        ASSERT_EQ(q.DameTsCola(), cabeza + static_cast<uint32_t>(quitadas));
    }

    std::mt19937 rnd;
    CColaMuestras q;
    int32_t valor = 0;
    std::vector<int32_t> antes;
    uint32_t cabeza = 0;
    int32_t sinc = 0;
    int32_t balance = 0;

public:
    void Empieza(uint32_t ts) { q.Sincroniza(ts); }
};

TEST(CColaMuestras, RandomOperationsKeepTimesSamplesAndIndicesConsistent) {
    for (uint32_t semilla = 1; semilla <= 10; semilla++) {
        SCOPED_TRACE(semilla);
        ModeloAleatorio m(semilla);
        m.Empieza(0xFFFFF000u);  // crosses the wrap of the sample clock
        for (int paso = 0; paso < 3000; paso++) {
            m.Paso();
            if (HasFatalFailure()) return;
        }
    }
}

}  // namespace
