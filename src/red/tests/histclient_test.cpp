#include "red/histclient.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Reloj = std::chrono::steady_clock;

struct Datagrama {
    std::string sTexto;
    Reloj::time_point tLlegada;
    int iPuertoOrigen = 0;
};

// Stands where the SNMP agent listens.
class AgenteFalso {
public:
    AgenteFalso() : oSocket(CSocketAddress("127.0.0.1", HistClient::PUERTO_AGENTE)) {}
    // Next datagram, or an empty text after ms without one.
    Datagrama Recibe(int iMs = 3000) {
        Datagrama d;
        if (!oSocket.WaitRead(iMs)) return d;
        char ac[2048];
        CSocketAddress oOrigen;
        int n = oSocket.RecvFrom(ac, sizeof ac, &oOrigen);
        d.tLlegada = Reloj::now();
        if (n > 0) d.sTexto.assign(ac, static_cast<size_t>(n));
        d.iPuertoOrigen = oOrigen.Port();
        return d;
    }

private:
    CUDPSocket oSocket;
};

// Stops and waits for the client at the end of each test.
struct Cliente : HistClient {
    using HistClient::HistClient;
    ~Cliente() override {
        Para();
        Espera();
    }
};

long Ms(Reloj::duration d) { return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(d).count()); }

TEST(HistClient, RecordTextsLeaveOnePerDatagramInOrder) {
    AgenteFalso oAgente;
    Cliente o;
    o.FijaPausaMs(1);
    o.AnadeHistorico(3, "a", "b", "c", "d");
    o.AnadeHistorico(2101, "a", "", "x", "");
    o.AnadeHistorico(7, "", "b", "c", "d");
    o.AnadeHistorico(5, "", "x", "", "");
    o.AnadeHistorico(-2147483647 - 1, "t", "u", "", "v");
    o.EncolaT00();
    o.EncolaT02();
    o.EncolaN08(true);
    o.EncolaN08(false);
    o.Start();
    for (const char* sz : {"V,H00,3,a:b:c:d", "V,H00,2101,a", "V,H00,7,", "V,H00,5,", "V,H00,-2147483648,t:u",
                           "C,T00", "C,T02", "C,N08,0", "C,N08,1"})
        EXPECT_EQ(oAgente.Recibe().sTexto, sz);
    EXPECT_EQ(o.Pendientes(), 0u);
}

TEST(HistClient, ResourceProcessSendsOneRecordEvery100Ms) {
    AgenteFalso oAgente;
    Cliente o;
    o.EncolaT00();
    o.EncolaT00();
    o.EncolaT00();
    o.Start();
    std::vector<Datagrama> v;
    for (int i = 0; i < 3; ++i) v.push_back(oAgente.Recibe());
    for (int i = 1; i < 3; ++i) {
        EXPECT_EQ(v[i].sTexto, "C,T00");
        EXPECT_GE(Ms(v[i].tLlegada - v[i - 1].tLlegada), 90);
        EXPECT_LT(Ms(v[i].tLlegada - v[i - 1].tLlegada), 600);
    }
}

TEST(HistClient, CoreSendsFromCommandPortAboutEvery1100MsWhileAgentSilent) {
    AgenteFalso oAgente;
    Cliente o(true);
    o.EncolaT02();
    o.EncolaT02();
    o.EncolaT02();
    o.Start();
    std::vector<Datagrama> v;
    for (int i = 0; i < 3; ++i) v.push_back(oAgente.Recibe());
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(v[i].sTexto, "C,T02");
        EXPECT_EQ(v[i].iPuertoOrigen, HistClient::PUERTO_MANT);
    }
    for (int i = 1; i < 3; ++i) {
        EXPECT_GE(Ms(v[i].tLlegada - v[i - 1].tLlegada), 1000);
        EXPECT_LT(Ms(v[i].tLlegada - v[i - 1].tLlegada), 2000);
    }
}

TEST(HistClient, NoRecordLostWithProducersOnSeveralThreads) {
    AgenteFalso oAgente;
    Cliente o;
    o.FijaPausaMs(1);
    o.Start();
    const int kHilos = 8, kPorHilo = 100;
    std::vector<std::thread> vHilos;
    for (int h = 0; h < kHilos; ++h)
        vHilos.emplace_back([&o, h] {
            for (int i = 0; i < kPorHilo; ++i) o.AnadeHistorico(h, std::to_string(i), "", "", "");
        });
    std::vector<int> vSiguiente(kHilos, 0);
    int iTotal = 0;
    for (; iTotal < kHilos * kPorHilo; ++iTotal) {
        Datagrama d = oAgente.Recibe();
        if (d.sTexto.empty()) break;
        int h = -1, i = -1;
        ASSERT_EQ(sscanf(d.sTexto.c_str(), "V,H00,%d,%d", &h, &i), 2) << d.sTexto;
        ASSERT_TRUE(h >= 0 && h < kHilos);
        EXPECT_EQ(i, vSiguiente[h]) << "order of producer " << h;
        vSiguiente[h] = i + 1;
    }
    for (auto& t : vHilos) t.join();
    EXPECT_EQ(iTotal, kHilos * kPorHilo);
}

std::mutex gMutexRx;
std::vector<std::pair<int, std::string>> gRecibidos;

void Recoge(int iLong, const char* szTexto) {
    std::lock_guard<std::mutex> l(gMutexRx);
    gRecibidos.emplace_back(iLong, szTexto);
}

// Waits for the call-back to have been called n times.
bool EsperaComandos(size_t n, int iMs = 3000) {
    for (int i = 0; i < iMs / 10; ++i) {
        {
            std::lock_guard<std::mutex> l(gMutexRx);
            if (gRecibidos.size() >= n) return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

void EnviaComando(const std::string& s, const char* szHost) {
    CUDPSocket oAgente;
    oAgente.SendTo(s.data(), s.size(), CSocketAddress(szHost, HistClient::PUERTO_MANT));
}

// The client binds its port once its thread runs: repeat the first command until it arrives.
void EnviaPrimerComando(const std::string& s) {
    {
        std::lock_guard<std::mutex> l(gMutexRx);
        gRecibidos.clear();
    }
    for (int i = 0; i < 30 && !EsperaComandos(1, 100); ++i) EnviaComando(s, "127.0.0.1");
}

TEST(HistClient, LongCommandReachesCallBackCutTo512Bytes) {
    Cliente o(true);
    o.TomaCallbackRx(Recoge);
    o.Start();
    std::string s(600, 'x');
    memcpy(&s[0], "A,T00", 5);
    EnviaPrimerComando(s);
    std::lock_guard<std::mutex> l(gMutexRx);
    ASSERT_FALSE(gRecibidos.empty());
    EXPECT_EQ(gRecibidos[0].first, 512);
    EXPECT_EQ(gRecibidos[0].second, s.substr(0, 512));
}

TEST(HistClient, CommandPortAnswersOnlyOnLoopback) {
    Cliente o(true);
    o.TomaCallbackRx(Recoge);
    o.Start();
    EnviaPrimerComando("A,T10");
    ASSERT_TRUE(EsperaComandos(1));
    // The board's own LAN address reaches no command port.
    EnviaComando("A,T01,radio,0,TX,1", "192.0.2.23");
    EnviaComando("A,T00", "127.0.0.1");
    ASSERT_TRUE(EsperaComandos(2));
    std::lock_guard<std::mutex> l(gMutexRx);
    EXPECT_EQ(gRecibidos.back().second, "A,T00");
    for (auto& r : gRecibidos) EXPECT_NE(r.second, "A,T01,radio,0,TX,1");
}

TEST(HistClient, CoreStillSendsWhenCommandPortIsTaken) {
    CUDPSocket oOcupa(CSocketAddress("127.0.0.1", HistClient::PUERTO_MANT));
    AgenteFalso oAgente;
    Cliente o(true);
    o.EncolaN08(true);
    o.EncolaN08(false);
    o.Start();
    Datagrama d1 = oAgente.Recibe();
    Datagrama d2 = oAgente.Recibe();
    EXPECT_EQ(d1.sTexto, "C,N08,0");
    EXPECT_EQ(d2.sTexto, "C,N08,1");
    EXPECT_NE(d1.iPuertoOrigen, HistClient::PUERTO_MANT);
    // The receive time-out still paces the loop.
    EXPECT_GE(Ms(d2.tLlegada - d1.tLlegada), 1000);
}

}  // namespace

namespace {

// A global client is destroyed at exit while its thread runs.
TEST(HistClient, DestroyedWhileRunningStopsItsThreadFirst) {
    AgenteFalso oAgente;
    auto t0 = Reloj::now();
    {
        HistClient o(true);
        o.EncolaT00();
        o.Start();
        EXPECT_EQ(oAgente.Recibe().sTexto, "C,T00");
        o.EncolaT02();
    }
    EXPECT_LT(Ms(Reloj::now() - t0), 3000);
    {
        HistClient o;
        o.Start();  // destroyed before its thread may even have begun
    }
}

}  // namespace
