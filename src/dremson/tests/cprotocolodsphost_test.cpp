// The link layer on an in-memory transport and a clock the test sets: the heartbeat when the
// host is silent, the size filter, the link coming up on any accepted message and falling
// after the timeout, each transition reported once, across the clock's wrap.
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "cprotocolodsphost.h"

namespace {

class CEnlacePrueba : public CProtocoloDspHost {
public:
    using CProtocoloDspHost::iProximoLatido;
    std::deque<std::string> dEntrada;   // what the next reads return ("" = nothing, "-" = error)
    std::vector<std::string> asSalida;  // every write
    std::vector<std::string> asProcesados;
    std::vector<std::string> asTransiciones;
    int iTrasMensaje = 0;
    bool bPideMas = false;

protected:
    int Lee(int* piLong, uint8_t* p) override {
        *piLong = 0;
        if (dEntrada.empty()) return 0;
        std::string s = dEntrada.front();
        dEntrada.pop_front();
        if (s == "-") {
            *piLong = -1;
            return 0;
        }
        s.copy(reinterpret_cast<char*>(p), s.size());
        *piLong = static_cast<int>(s.size());
        return 0;
    }
    int Escribe(int* piLong, const uint8_t* p) override {
        asSalida.emplace_back(reinterpret_cast<const char*>(p), static_cast<size_t>(*piLong));
        return 0;
    }
    int ProcesaMensaje(const uint8_t* p, int n, int* piMas) override {
        asProcesados.emplace_back(reinterpret_cast<const char*>(p), static_cast<size_t>(n));
        *piMas = bPideMas;
        return 0;
    }
    int TrasMensaje() override { return ++iTrasMensaje; }
    void EvtEnlaceOk(uint32_t t) override { asTransiciones.push_back("ok " + std::to_string(t)); }
    void EvtEnlaceCaido(uint32_t t) override { asTransiciones.push_back("caido " + std::to_string(t)); }
};

const std::string kLatido("\x00\x00\xff\xff", 4);
// An event of n bytes (code 0x8010, then ones).
std::string Mensaje(size_t n) {
    std::string s(n, '\x01');
    if (n > 0) s[0] = 0x10;
    if (n > 1) s[1] = '\x80';
    return s;
}

class Enlace : public ::testing::TestWithParam<uint32_t> {
protected:
    void SetUp() override { ASSERT_EQ(e.Inicia(50, 500), 0); }
    uint32_t T(uint32_t ms) const { return GetParam() + ms; }  // the test's clock, from its origin
    CEnlacePrueba e;
};

// Every case at two clock origins: from 0, and astride the wrap.
INSTANTIATE_TEST_SUITE_P(Origen, Enlace, ::testing::Values(0u, 0xFFFFFF00u));

TEST_P(Enlace, HeartbeatAfterAPeriodOfHostSilenceOnly) {
    e.EnviaMensaje(reinterpret_cast<const uint8_t*>("\x01\x00\x00\x00"), 4, T(0));
    for (uint32_t t = 40; t <= 2000; t += 40) {
        e.EnviaMensaje(reinterpret_cast<const uint8_t*>("\x05\x00\x01\x00\x07"), 5, T(t));
        e.RevisaTiempos(T(t + 20));
    }
    for (const auto& s : e.asSalida) EXPECT_NE(s, kLatido);
    e.RevisaTiempos(T(2000 + 49));
    EXPECT_NE(e.asSalida.back(), kLatido);
    e.RevisaTiempos(T(2000 + 50));
    EXPECT_EQ(e.asSalida.back(), kLatido);
    e.RevisaTiempos(T(2000 + 99));
    e.RevisaTiempos(T(2000 + 100));
    EXPECT_EQ(e.asSalida.size(), 1 + 50 + 2u);
}

TEST_P(Enlace, SizeFilterAndDispatch) {
    struct Caso {
        std::string sMensaje;
        int iResultado;
        bool bRefresca;
        bool bProcesado;
    };
    const Caso kCasos[] = {
        {Mensaje(4), 4, true, true},   {Mensaje(64), 64, true, true}, {Mensaje(3), 3, false, false},
        {Mensaje(65), 65, false, false}, {"-", -1, false, false},      {"", 0, false, false},
        {kLatido, 4, true, false},      {std::string("\x00\x00\x05\x00\x01\x01", 6), 6, true, false},
    };
    for (const Caso& c : kCasos) {
        SCOPED_TRACE(c.sMensaje.size());
        CEnlacePrueba x;
        x.Inicia(50, 500);
        x.dEntrada.push_back(c.sMensaje);
        EXPECT_EQ(x.Recibe(T(10)), c.iResultado);
        EXPECT_EQ(x.EnlaceOk(), c.bRefresca);
        EXPECT_EQ(x.asProcesados.size(), c.bProcesado ? 1u : 0u);
        if (c.bProcesado) {
            EXPECT_EQ(x.asProcesados[0], c.sMensaje);
        }
    }
}

TEST_P(Enlace, UpOnTheFirstAcceptedMessageDownAfterTheTimeoutEachOnce) {
    e.dEntrada = {kLatido};
    e.Recibe(T(100));
    e.RevisaTiempos(T(599));
    EXPECT_TRUE(e.EnlaceOk());
    e.RevisaTiempos(T(600));
    e.RevisaTiempos(T(700));
    EXPECT_FALSE(e.EnlaceOk());
    e.FuerzaCaida(T(710));  // already down: nothing
    e.dEntrada = {Mensaje(6), Mensaje(6)};
    e.Recibe(T(800));
    e.Recibe(T(900));
    e.FuerzaCaida(T(950));
    e.FuerzaCaida(T(960));
    EXPECT_EQ(e.asTransiciones, (std::vector<std::string>{"ok " + std::to_string(T(100)), "caido " + std::to_string(T(600)),
                                                          "ok " + std::to_string(T(800)), "caido " + std::to_string(T(950))}));
}

TEST_P(Enlace, TrasMensajeOnlyWhenAsked) {
    e.dEntrada = {Mensaje(6), Mensaje(6)};
    e.Recibe(T(1));
    EXPECT_EQ(e.iTrasMensaje, 0);
    e.bPideMas = true;
    e.Recibe(T(2));
    EXPECT_EQ(e.iTrasMensaje, 1);
}

TEST(EnlaceSinIniciar, RefusesToReceiveAndSendsAHeartbeatAtOnceOnceStarted) {
    CEnlacePrueba e;
    e.dEntrada = {Mensaje(6)};
    EXPECT_EQ(e.Recibe(0), -2);
    EXPECT_TRUE(e.asProcesados.empty());
    e.Inicia(50, 500);
    e.RevisaTiempos(10);  // nothing sent yet: the heartbeat is due
    ASSERT_EQ(e.asSalida.size(), 1u);
    EXPECT_EQ(e.asSalida[0], kLatido);
    EXPECT_EQ(e.iProximoLatido.load(), 60u);
    e.EnviaCorto(0x0120, 17, 20);
    EXPECT_EQ(e.asSalida.back(), std::string("\x20\x01\x11\x00", 4));
}

}  // namespace
