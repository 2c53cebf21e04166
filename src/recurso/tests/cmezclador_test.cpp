#include "cmezclador.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "salida_capturada.h"

namespace {

std::vector<int32_t> Constante(int32_t v, int32_t n) { return std::vector<int32_t>(n, v); }

std::vector<int32_t> Rampa(int32_t desde, int32_t n) {
    std::vector<int32_t> v(n);
    for (int32_t i = 0; i < n; i++) v[i] = desde + i;
    return v;
}

void Mete(CMezclador& m, int32_t canal, const std::vector<int32_t>& b, const uint32_t* pTs = nullptr) {
    int32_t n = static_cast<int32_t>(b.size());
    ASSERT_EQ(m.MeteMuestras(canal, b.data(), n, pTs), static_cast<int32_t>(b.size()));
}

std::vector<int32_t> Mezcla(CMezclador& m, int32_t n, uint32_t* pTs = nullptr, uint32_t ahora = 0) {
    std::vector<int32_t> out(std::max(n, 1));
    m.Mezcla(out.data(), n, pTs, ahora);
    out.resize(n);
    return out;
}

TEST(CMezclador, ClippingSumsAreScaledDownOnlyAbove32000) {
    struct Caso {
        std::vector<int32_t> a, b, esperado;
    };
    const std::vector<Caso> casos = {
        // Peak exactly 32000 (either sign): untouched.
        {{16000, -16000, 7, 1}, {16000, -16000, -3, 0}, {32000, -32000, 4, 1}},
        // Peak 40000: every sample times 32000/40000, truncated toward zero.
        {{20000, -20000, 1000, -3, 1}, {20000, 0, 2, 0, 0}, {32000, -16000, 801, -2, 0}},
    };
    for (const auto& c : casos) {
        CMezclador m(4, 320);
        int32_t a = m.AbreCanal(), b = m.AbreCanal();
        Mete(m, a, c.a);
        Mete(m, b, c.b);
        EXPECT_EQ(Mezcla(m, 160), c.esperado);
    }
}

TEST(CMezclador, OneCallDeliversAtMost1120Samples) {
    CMezclador m(1, 2000);
    int32_t c = m.AbreCanal();
    Mete(m, c, Rampa(0, 2000));
    EXPECT_EQ(Mezcla(m, 2000), Rampa(0, 1120));
    EXPECT_EQ(m.MuestrasCanal(c), 880);
}

TEST(CMezclador, MixIsAsLongAsTheFullestChannelAndPadsTheOthers) {
    CMezclador m(4, 320);
    int32_t a = m.AbreCanal(), b = m.AbreCanal();
    Mete(m, a, Constante(10, 100));
    Mete(m, b, Constante(1, 50));
    auto out = Mezcla(m, 160);
    ASSERT_EQ(out.size(), 100u);
    EXPECT_EQ(out[49], 11);
    EXPECT_EQ(out[50], 10);
    EXPECT_EQ(Mezcla(m, 160).size(), 0u);
    m.CierraCanal(a);
    m.CierraCanal(b);
    EXPECT_EQ(Mezcla(m, 160).size(), 0u);
}

TEST(CMezclador, BurstNeverLeavesMoreThanTheChannelCapacityQueued) {
    CMezclador m(4, 320);
    int32_t c = m.AbreCanal();
    for (int32_t i = 0; i < 13; i++) {
        Mete(m, c, Rampa(i * 160, 160));
        ASSERT_LE(m.MuestrasCanal(c), 320);
    }
    // The newest audio is what stays.
    EXPECT_EQ(Mezcla(m, 320), Rampa(11 * 160, 320));
}

TEST(CMezclador, ChannelsOpenLowestFirstAndBadChannelsAreRefused) {
    CMezclador m(20, 320);  // capped at 16
    EXPECT_EQ(m.NumCanales(), 16);
    for (int32_t i = 0; i < 16; i++) EXPECT_EQ(m.AbreCanal(), i);
    EXPECT_EQ(m.AbreCanal(), -1);
    m.CierraCanal(5);
    EXPECT_EQ(m.CanalesActivos(), 15);
    auto b = Constante(1, 10);
    int32_t n = 10;
    EXPECT_EQ(m.MeteMuestras(5, b.data(), n, nullptr), 0);
    n = 10;
    EXPECT_EQ(m.MeteMuestras(16, b.data(), n, nullptr), 0);
    EXPECT_EQ(m.CanalSincronizado(5), -1);
    EXPECT_EQ(m.AbreCanal(), 5);
}

TEST(CMezclador, OffsetMapsASourcesTimesOntoTheLocalClock) {
    CMezclador m(4, 320);
    int32_t c = m.AbreCanal();
    const uint32_t remoto = 0xFFFFFF00u, local = 5000;  // the source's clock wraps meanwhile
    m.FijaOffset(c, remoto, local);
    EXPECT_EQ(m.CanalSincronizado(c), 1);
    uint32_t ts1 = remoto + 160, ts0 = remoto;
    Mete(m, c, Rampa(160, 160), &ts1);  // arrives first, plays second
    Mete(m, c, Rampa(0, 160), &ts0);
    uint32_t ts = local;
    EXPECT_EQ(Mezcla(m, 320, &ts, local), Rampa(0, 320));
    EXPECT_EQ(ts, local);
}

TEST(CMezclador, ChangedOffsetMovesWhatIsQueuedWithIt) {
    CMezclador m(4, 320);
    int32_t c = m.AbreCanal();
    m.FijaOffset(c, 100, 1000);
    uint32_t t = 100;
    Mete(m, c, Rampa(0, 80), &t);
    m.FijaOffset(c, 100, 1040);  // the source now plays 40 samples later
    t = 180;
    Mete(m, c, Rampa(80, 80), &t);
    uint32_t ts = 1040;
    EXPECT_EQ(Mezcla(m, 160, &ts, 1040), Rampa(0, 160));
    EXPECT_EQ(ts, 1040u);
}

TEST(CMezclador, PlayoutTimeFollowsTheQueuedAudio) {
    struct Caso {
        const char* nombre;
        uint32_t pedido;
        uint32_t elegido;
    };
    // Channel heads 1000 (100 samples) and 1040 (200 samples), 80 samples wanted:
    // earliest head 1000, best 1000 + 100 - 80 = 1020.
    const std::vector<Caso> casos = {
        {"inside the window: kept", 1010, 1010},
        {"below the earliest head: raised", 900, 1000},
        {"above the best: lowered", 1100, 1020},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nombre);
        CMezclador m(4, 320);
        int32_t a = m.AbreCanal(), b = m.AbreCanal();
        m.FijaOffset(a, 1000, 1000);
        m.FijaOffset(b, 1040, 1040);
        uint32_t ta = 1000, tb = 1040;
        Mete(m, a, Constante(1, 100), &ta);
        Mete(m, b, Constante(2, 200), &tb);
        uint32_t ts = c.pedido;
        Mezcla(m, 80, &ts, 1050);
        EXPECT_EQ(ts, c.elegido);
    }
}

TEST(CMezclador, SingleChannelPlaysFromItsHead) {
    CMezclador m(4, 320);
    int32_t a = m.AbreCanal();
    m.FijaOffset(a, 1000, 1000);
    uint32_t ta = 1000;
    Mete(m, a, Rampa(0, 100), &ta);
    uint32_t ts = 1234;
    EXPECT_EQ(Mezcla(m, 50, &ts, 1000), Rampa(0, 50));
    EXPECT_EQ(ts, 1000u);
}

TEST(CMezclador, ChannelsWhoseHeadIsOlderThanTheCapacityAreLeftOutOfThePlayoutChoice) {
    CMezclador m(4, 320);
    int32_t viejo = m.AbreCanal(), joven = m.AbreCanal();
    m.FijaOffset(viejo, 1000, 1000);
    m.FijaOffset(joven, 5000, 5000);
    uint32_t tv = 1000, tj = 5000;
    Mete(m, viejo, Constante(1, 100), &tv);
    Mete(m, joven, Constante(2, 100), &tj);
    uint32_t ts = 0;  // below both heads
    Mezcla(m, 160, &ts, 5100);
    EXPECT_EQ(ts, 5000u);  // the stale head 1000 does not pull the play-out back
}

TEST(CMezclador, SelectedChannelIsDeliveredAloneAndTheOthersKeepPace) {
    CMezclador m(4, 320);
    int32_t a = m.AbreCanal(), b = m.AbreCanal();
    Mete(m, a, Rampa(0, 100));
    Mete(m, b, Rampa(1000, 100));
    std::vector<int32_t> out(160);
    int32_t n = 160;
    EXPECT_EQ(m.SacaSeleccionado(out.data(), n, nullptr, 0), 0);  // nothing selected
    EXPECT_EQ(m.Selecciona(4, 0), -1);
    EXPECT_EQ(m.Selecciona(b, 7), 0);
    n = 40;
    EXPECT_EQ(m.SacaSeleccionado(out.data(), n, nullptr, 0), 40);
    out.resize(40);
    EXPECT_EQ(out, Rampa(1000, 40));
    EXPECT_EQ(m.MuestrasCanal(a), 60);
    // Selecting another channel empties the previous one.
    EXPECT_EQ(m.Selecciona(a, 0), 0);
    EXPECT_EQ(m.MuestrasCanal(b), 0);
    EXPECT_EQ(m.DameSeleccionado(), a);
    m.Deselecciona();
    EXPECT_EQ(m.DameSeleccionado(), -1);
    EXPECT_EQ(m.MuestrasCanal(a), 0);
}


TEST(CMezclador, StatisticsListTheActiveChannels) {
    CMezclador m(4, 320);
    m.AbreCanal();
    int32_t b = m.AbreCanal();
    m.FijaOffset(b, 100, 300);
    uint32_t ts = 100;
    Mete(m, b, Constante(0, 10), &ts);
    m.CierraCanal(0);
    SalidaCapturada().clear();
    m.Estadisticas(4000000000u, CapturaSalida);
    EXPECT_EQ(SalidaCapturada(), "1/4 canales.. TSlocal = 4000000000\n"
                        "Id\tTSoffset\tSinc\tsinCola\tmuestrasCola\ttsCola\tBalanceCola\n" +
                            std::string(74, '-') + "\n" +
                            "01\t        200\t1\t1\t         10\t        300\t    0\n");
}

}  // namespace
