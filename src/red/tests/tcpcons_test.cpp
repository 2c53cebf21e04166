#include "red/tcpcons.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Reloj = std::chrono::steady_clock;
const int kPuerto = 19710;

template <class F>
bool EsperaQue(F f, int iMs = 5000) {
    auto tFin = Reloj::now() + std::chrono::milliseconds(iMs);
    while (!f()) {
        if (Reloj::now() > tFin) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// A terminal client on loopback.
class Terminal {
public:
    Terminal() {
        iFd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in sa = {};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(kPuerto);
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bConectado = connect(iFd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
    }
    ~Terminal() {
        if (iFd >= 0) close(iFd);
    }
    void Envia(const std::string& s) { ASSERT_EQ(send(iFd, s.data(), s.size(), MSG_NOSIGNAL), (ssize_t)s.size()); }
    // Bytes that arrive until iMax are read or nothing more comes for iMs; keep-alive NULs
    // are dropped unless bConNul.
    std::string Lee(size_t iMax, int iMs = 1000, bool bConNul = false) {
        std::string s;
        while (s.size() < iMax) {
            pollfd p = {iFd, POLLIN, 0};
            if (poll(&p, 1, iMs) <= 0) break;
            char ac[4096];
            ssize_t n = recv(iFd, ac, std::min(sizeof ac, iMax - s.size()), 0);
            if (n <= 0) {
                bCerradoPorServidor = true;
                break;
            }
            for (ssize_t i = 0; i < n; ++i)
                if (bConNul || ac[i] != '\0') s += ac[i];
        }
        return s;
    }
    // True when the server closes the connection within iMs.
    bool Cerrada(int iMs) {
        auto tFin = Reloj::now() + std::chrono::milliseconds(iMs);
        while (!bCerradoPorServidor && Reloj::now() < tFin) Lee(1 << 20, 100);
        return bCerradoPorServidor;
    }
    void CierraConReset() {
        linger l = {1, 0};
        setsockopt(iFd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        close(iFd);
        iFd = -1;
    }
    void Cierra() {
        close(iFd);
        iFd = -1;
    }
    bool bConectado = false;

private:
    int iFd = -1;
    bool bCerradoPorServidor = false;
};

// Connects n clients in order, each accepted before the next connects.
std::vector<std::unique_ptr<Terminal>> Conecta(int n) {
    std::vector<std::unique_ptr<Terminal>> v;
    for (int i = 0; i < n; ++i) {
        v.push_back(std::make_unique<Terminal>());
        EXPECT_TRUE(v.back()->bConectado);
        EXPECT_TRUE(EsperaQue([&] { return TcpCons::NumeroConexiones() == i + 1; }));
    }
    return v;
}

std::atomic<uint32_t> gAhora{100000};
uint32_t RelojFalso() { return gAhora; }

std::string LeeLinea(int iTam = 64) {
    std::vector<char> v(static_cast<size_t>(iTam), 'Z');
    TcpCons::LeeLinea(v.data(), iTam);
    return v.data();
}

class TcpConsTest : public ::testing::Test {
protected:
    void SetUp() override {
        TcpCons::FijaReloj(RelojFalso);
        ASSERT_EQ(TcpCons::Inicia(kPuerto), 0);
    }
};

TEST_F(TcpConsTest, SixthClientGetsRefusalAndIsClosed) {
    auto v = Conecta(5);
    Terminal oSexto;
    ASSERT_TRUE(oSexto.bConectado);
    std::string s = oSexto.Lee(100, 3000, true);
    EXPECT_EQ(s, std::string("Demasiadas conexiones entrantes.\n\r", 35));
    EXPECT_TRUE(oSexto.Cerrada(1000));
    EXPECT_EQ(TcpCons::NumeroConexiones(), 5);
    TcpCons::Printf("a todos %d\n", 5);
    for (auto& t : v) EXPECT_EQ(t->Lee(10), "a todos 5\n");
}

TEST_F(TcpConsTest, OnlyInputConnectionFeedsLinesAndNextTakesOverWhenItLeaves) {
    auto v = Conecta(2);
    v[1]->Envia(std::string("segundo\0", 8));
    v[0]->Envia(std::string("primero\0", 8));
    EXPECT_EQ(LeeLinea(), "primero");
    v[0]->Cierra();
    ASSERT_TRUE(EsperaQue([] { return TcpCons::NumeroConexiones() == 1; }));
    v[1]->Envia(std::string("ahora\0", 6));
    EXPECT_EQ(LeeLinea(), "ahora");
}

TEST_F(TcpConsTest, EachNulEndsOneCommandAndLoneNulIsIgnored) {
    auto v = Conecta(1);
    v[0]->Envia(std::string("v\r\0o 8000\r\0", 11));
    EXPECT_EQ(LeeLinea(), "v\r");
    EXPECT_EQ(LeeLinea(), "o 8000\r");
    v[0]->Envia(std::string("\0", 1));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // a receive of its own
    v[0]->Envia(std::string("h\0", 2));
    EXPECT_EQ(LeeLinea(), "h");
}

TEST_F(TcpConsTest, UnfinishedLineEndsWithItsConnection) {
    struct Caso {
        const char* szQue;
        bool bSegundoYaConectado;  // the next operator is the second connection, not a new one
    };
    for (const Caso& c : {Caso{"new client", false}, Caso{"second client takes over", true}}) {
        auto v = Conecta(c.bSegundoYaConectado ? 2 : 1);
        v[0]->Envia(std::string("E1\0I3", 5));
        uint32_t uiPrimera = 0;
        char ac[64];
        ASSERT_NE(TcpCons::LeeLinea(ac, sizeof ac, &uiPrimera), nullptr);
        EXPECT_STREQ(ac, "E1") << c.szQue;
        v[0]->Cierra();
        ASSERT_TRUE(EsperaQue([&] { return TcpCons::NumeroConexiones() == (c.bSegundoYaConectado ? 1 : 0); }));
        if (!c.bSegundoYaConectado) {
            v.push_back(std::make_unique<Terminal>());
            ASSERT_TRUE(EsperaQue([] { return TcpCons::NumeroConexiones() == 1; }));
        }
        v.back()->Envia(std::string("E\0", 2));
        EXPECT_NE(TcpCons::ConexionSiguienteLinea(), uiPrimera) << c.szQue;
        uint32_t uiSegunda = 0;
        ASSERT_NE(TcpCons::LeeLinea(ac, sizeof ac, &uiSegunda), nullptr);
        EXPECT_STREQ(ac, "E") << c.szQue;
        EXPECT_NE(uiSegunda, uiPrimera) << c.szQue;
        v.back()->Cierra();
        ASSERT_TRUE(EsperaQue([] { return TcpCons::NumeroConexiones() == 0; }));
    }
}

TEST_F(TcpConsTest, LineIsCutToCallersSizeAndFullBufferIsOneLine) {
    auto v = Conecta(1);
    v[0]->Envia(std::string("abcdefg\0xy\0", 11));
    EXPECT_EQ(LeeLinea(5), "abcd");
    EXPECT_EQ(LeeLinea(), "xy");
    // 200 bytes without NUL: the first 128 fill the buffer, the rest is dropped.
    std::string s;
    for (int i = 0; i < 200; ++i) s += static_cast<char>('a' + i % 26);
    v[0]->Envia(s);
    EXPECT_EQ(LeeLinea(256), s.substr(0, 128));
    v[0]->Envia(std::string("z\0", 2));
    EXPECT_EQ(LeeLinea(), "z");
}

TEST_F(TcpConsTest, ClientSilentPastSixSecondsIsDropped) {
    auto v = Conecta(2);  // both with their last input at 100000
    gAhora = 105000;
    v[0]->Envia(std::string("a\0", 2));
    EXPECT_EQ(LeeLinea(), "a");
    gAhora = 106001;  // 6001 ms since the second's last input, 1001 since the first's
    v[0]->Envia(std::string("b\0", 2));
    EXPECT_EQ(LeeLinea(), "b");
    EXPECT_TRUE(v[1]->Cerrada(4000));
    EXPECT_EQ(TcpCons::NumeroConexiones(), 1);
    gAhora = 111000;  // 6000 ms since the first's last input: not more than the limit
    v[1].reset();
    v.push_back(std::make_unique<Terminal>());
    ASSERT_TRUE(EsperaQue([] { return TcpCons::NumeroConexiones() == 2; }));
    v.back()->Envia("x");  // wakes the receive thread, which then checks the limit
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(TcpCons::NumeroConexiones(), 2);
    TcpCons::Printf("sigue\n");
    EXPECT_EQ(v[0]->Lee(6), "sigue\n");
}

TEST_F(TcpConsTest, OutputIsCutAt1023Characters) {
    auto v = Conecta(1);
    std::string sLargo(2000, 'x');
    EXPECT_EQ(TcpCons::Printf("%s", sLargo.c_str()), 2000);
    EXPECT_EQ(v[0]->Lee(5000, 500), std::string(1023, 'x'));
}

TEST_F(TcpConsTest, TrazaPrintsOnlyClassesInTheMask) {
    auto v = Conecta(1);
    TcpCons::FijaMascaraTraza(0x40);
    EXPECT_EQ(TcpCons::Traza(0x8000, "debug\n"), 0);
    EXPECT_EQ(TcpCons::Traza(0x8040, "sip %x\n", 0x40), 7);
    errno = ENOENT;
    TcpCons::TrazaPerror(0x100, "dsp");
    TcpCons::TrazaPerror(0xFFFF, "abre");
    EXPECT_EQ(v[0]->Lee(100, 500), std::string("sip 40\nabre: ") + strerror(ENOENT) + "\n");
}

TEST_F(TcpConsTest, PerrorOfLongTextIsTheTextCut) {
    auto v = Conecta(1);
    std::string s(1030, 'p');
    TcpCons::Perror(s.c_str());
    EXPECT_EQ(v[0]->Lee(5000, 500), std::string(1023, 'p'));
}

TEST_F(TcpConsTest, ClientThatNeverReadsBlocksNobody) {
    auto v = Conecta(2);  // the first never reads
    std::atomic<bool> bFin{false};
    std::atomic<size_t> iRecibidos{0};
    std::thread tLector([&] {
        while (!bFin) iRecibidos += v[1]->Lee(1 << 20, 50).size();
    });
    std::string sLinea(1000, 'L');
    long lPeorMs = 0;
    auto t0 = Reloj::now();
    for (int i = 0; i < 20000; ++i) {
        auto t = Reloj::now();
        TcpCons::Printf("%s\n", sLinea.c_str());
        lPeorMs = std::max<long>(
            lPeorMs, std::chrono::duration_cast<std::chrono::milliseconds>(Reloj::now() - t).count());
    }
    auto lTotalMs = std::chrono::duration_cast<std::chrono::milliseconds>(Reloj::now() - t0).count();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    bFin = true;
    tLector.join();
    EXPECT_LT(lPeorMs, 500);
    EXPECT_LT(lTotalMs, 10000);
    EXPECT_GT(iRecibidos.load(), 1000000u);
    EXPECT_EQ(TcpCons::NumeroConexiones(), 2);  // a full buffer loses text, not the client
}

bool Abierto(int fd) { return fcntl(fd, F_GETFD) != -1; }

TEST_F(TcpConsTest, VanishedClientIsRemovedWithoutSigpipeAndItsNumberClosedOnce) {
    for (int iRonda = 0; iRonda < 10; ++iRonda) {
        auto v = Conecta(1);
        v[0]->CierraConReset();
        // Writers and the receive thread race to remove it.
        for (int i = 0; i < 200 && TcpCons::NumeroConexiones() > 0; ++i) TcpCons::Printf("eco %d\n", i);
        ASSERT_TRUE(EsperaQue([] { return TcpCons::NumeroConexiones() == 0; }));
        // The freed numbers go to new files, which nobody else may close.
        int aiTubo[2];
        ASSERT_EQ(pipe(aiTubo), 0);
        for (int i = 0; i < 20; ++i) TcpCons::Printf("mas %d\n", i);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_TRUE(Abierto(aiTubo[0]) && Abierto(aiTubo[1]));
        close(aiTubo[0]);
        close(aiTubo[1]);
    }
}

TEST_F(TcpConsTest, CierraStopsNewConnections) {
    TcpCons::Cierra();
    TcpCons::Cierra();
    Terminal o;
    EXPECT_FALSE(o.bConectado);
}

TEST(TcpConsInicio, BusyPortGivesMinusThreeAndALaterRetryWorks) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa = {};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(kPuerto);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    ASSERT_EQ(listen(fd, 1), 0);
    EXPECT_EQ(TcpCons::Inicia(kPuerto), -3);
    close(fd);
    EXPECT_EQ(TcpCons::Inicia(kPuerto), 0);
    TcpCons::FijaMascaraTraza(0);
    EXPECT_EQ(TcpCons::Inicia(kPuerto), 0);  // a second start keeps one set of threads
    EXPECT_EQ(TcpCons::MascaraTraza(), 0xFFFFFFFFu);
    Terminal o;
    EXPECT_TRUE(o.bConectado);
    EXPECT_TRUE(EsperaQue([] { return TcpCons::NumeroConexiones() == 1; }));
}

// The first start of the process: descriptor 0 may be anyone's socket by then (a daemon's
// standard input is closed), and the start must leave it whole.
TEST(TcpConsInicio, FirstStartLeavesDescriptorZeroAlone) {
    const int iUdp = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(iUdp, 0);
    ASSERT_EQ(dup2(iUdp, 0), 0);
    close(iUdp);
    ASSERT_EQ(TcpCons::Inicia(kPuerto), 0);
    sockaddr_in sa = {};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(9);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(sendto(0, "x", 1, 0, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 1) << std::strerror(errno);
}

int Hilos() {
    int n = 0;
    DIR* d = opendir("/proc/self/task");
    while (readdir(d)) ++n;
    closedir(d);
    return n;
}

TEST(TcpConsInicio, PortZeroUsesStandardStreamsAndStartsNoThread) {
    int iAntes = Hilos();
    ASSERT_EQ(TcpCons::Inicia(0), 0);
    EXPECT_EQ(Hilos(), iAntes);
    testing::internal::CaptureStdout();
    EXPECT_EQ(TcpCons::Printf("hola %d\n", 1), 7);
    TcpCons::FijaMascaraTraza(0x8000);
    TcpCons::Traza(0x40, "no\n");
    TcpCons::Traza(0x8000, "si\n");
    fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "hola 1\nsi\n");

    int aiTubo[2];
    ASSERT_EQ(pipe(aiTubo), 0);
    ASSERT_EQ(write(aiTubo[1], "orden\n", 6), 6);
    close(aiTubo[1]);
    ASSERT_GE(dup2(aiTubo[0], STDIN_FILENO), 0);
    close(aiTubo[0]);
    clearerr(stdin);
    EXPECT_EQ(LeeLinea(), "orden\n");
}

}  // namespace
