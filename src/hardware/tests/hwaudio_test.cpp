// Audio devices through the simulated board: pacing of reads, injected audio, and what a
// process plays towards the line as another process captures it.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>

#include "hardware/hwlinea.h"
#include "hwpruebas.h"

using namespace hwpruebas;

namespace {

std::string LeeFichero(const std::string& s) {
    std::ifstream f(s, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

TEST_F(PlacaSimulada, AudioArgumentChecks) {
    EXPECT_EQ(hwAbreTimeslot(64), -2);
    EXPECT_EQ(hwAbreTimeslot(-1), -2);
    uint8_t ac[160];
    int n = 160;
    EXPECT_EQ(hwDameMuestras(3, ac, &n), -3);  // not open
    ASSERT_EQ(hwAbreTimeslot(3), 0);
    n = 0;
    EXPECT_EQ(hwEnviaMuestras(3, ac, &n), 0);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(placa->Diario().find("/dev/pcm3 write"), std::string::npos);  // nothing written
    EXPECT_EQ(hwCierraTimeslot(3), 0);
    EXPECT_EQ(hwCierraTimeslot(3), -3);
}

TEST_F(PlacaSimulada, EveryAudioCallRefusesAChannelOutsideTheBoard) {
    // The channels at both ends are open: a call that let -1 or 64 through would reach a device
    // or read a descriptor beside the table.
    ASSERT_EQ(hwAbreTimeslot(0), 0);
    ASSERT_EQ(hwAbreTimeslot(63), 0);
    uint8_t ac[160] = {};
    struct Llamada {
        const char* szNombre;
        std::function<int(int)> f;
        int iEsperado;
    };
    const Llamada llamadas[] = {
        {"hwAbreTimeslot", [](int c) { return hwAbreTimeslot(c); }, -2},
        {"hwCierraTimeslot", [](int c) { return hwCierraTimeslot(c); }, -2},
        {"hwEnviaMuestras", [&](int c) { int n = 160; return hwEnviaMuestras(c, ac, &n); }, -2},
        {"hwDameMuestras", [&](int c) { int n = 160; return hwDameMuestras(c, ac, &n); }, -2},
        {"hwEscribePcmP4", [](int c) { return hwEscribePcmP4(c, 1); }, -2},
        {"hwLeePcmP10", [](int c) { return hwLeePcmP10(c); }, -2},
        {"hwEscribePcmP1", [](int c) { return hwEscribePcmP1(c); }, -2},
        {"hwLeeEstadoPcm", [](int c) { return hwLeeEstadoPcm(c); }, -2},
        {"hwDameNumMuestras", [](int c) { return hwDameNumMuestras(c); }, 0},  // failures read as none
    };
    const std::string sAntes = placa->Diario();
    for (const Llamada& l : llamadas)
        for (int c : {-1, 64}) EXPECT_EQ(l.f(c), l.iEsperado) << l.szNombre << "(" << c << ")";
    EXPECT_EQ(placa->Diario(), sAntes) << "no request reached a device";
    // The open channels were left alone.
    EXPECT_EQ(hwCierraTimeslot(0), 0);
    EXPECT_EQ(hwCierraTimeslot(63), 0);
}

TEST_F(PlacaSimulada, ReadsArePacedAtEightThousandBytesPerSecond) {
    ASSERT_EQ(hwAbreTimeslot(10), 0);
    uint8_t ac[160];
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < 100; i++) {
        int n = 160;
        ASSERT_EQ(hwDameMuestras(10, ac, &n), 0);
        ASSERT_EQ(n, 160);
    }
    double dMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_NEAR(dMs, 2000.0, 40.0);
}

TEST_F(PlacaSimulada, InjectedPatternComesBackByteForByteThenSilence) {
    std::string sPatron;
    for (int i = 0; i < 480; i++) sPatron += static_cast<char>((i * 7 + 3) & 0xFF);
    std::ofstream("/mnt/ramfs/patron.g711", std::ios::binary) << sPatron;
    ASSERT_EQ(hwAbreTimeslot(12), 0);
    ASSERT_EQ(hwAbreTimeslot(13), 0);
    placa->Inyecta(12, "/mnt/ramfs/patron.g711");
    std::string sLeido;
    for (int i = 0; i < 4; i++) {
        uint8_t ac[160];
        int n = 160;
        ASSERT_EQ(hwDameMuestras(12, ac, &n), 0);
        sLeido.append(reinterpret_cast<char*>(ac), static_cast<size_t>(n));
    }
    EXPECT_EQ(sLeido.substr(0, 480), sPatron);
    EXPECT_EQ(sLeido.substr(480), std::string(160, '\xD5'));
    uint8_t ac[160];
    int n = 160;
    ASSERT_EQ(hwDameMuestras(13, ac, &n), 0);  // the other channel only had silence
    EXPECT_EQ(std::string(reinterpret_cast<char*>(ac), 160), std::string(160, '\xD5'));
}

TEST_F(PlacaSimulada, WhatOneProcessPlaysAnotherCaptures) {
    const std::string sCaptura = "/mnt/ramfs/captura.g711";
    placa->Captura(20, sCaptura);
    std::string sDatos;
    for (int i = 0; i < 800; i++) sDatos += static_cast<char>(i & 0xFF);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        int n = 800;
        int r = hwAbreTimeslot(20) == 0 ? hwEnviaMuestras(20, reinterpret_cast<const uint8_t*>(sDatos.data()), &n) : -1;
        _exit(r == 0 && n == 800 ? 0 : 1);
    }
    int st = 0;
    waitpid(pid, &st, 0);
    ASSERT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
    // 800 bytes leave for the line in 100 ms.
    ASSERT_TRUE(Espera([&] { return LeeFichero(sCaptura).size() >= 800; }));
    EXPECT_EQ(LeeFichero(sCaptura), sDatos);
}

TEST_F(PlacaSimulada, QueueLevelAndSampleCountFollowTheRing) {
    ASSERT_EQ(hwAbreTimeslot(30), 0);
    EXPECT_EQ(hwLeeEstadoPcm(30), 0);
    std::string s(1600, '\x55');
    int n = 1600;
    ASSERT_EQ(hwEnviaMuestras(30, reinterpret_cast<const uint8_t*>(s.data()), &n), 0);
    EXPECT_EQ(n, 1600);
    int iNivel = hwLeeEstadoPcm(30);
    EXPECT_GT(iNivel, 1400);
    EXPECT_LE(iNivel, 1600);
    hwDameNumMuestras(30);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    int iDrenadas = hwDameNumMuestras(30);
    EXPECT_NEAR(iDrenadas, 400, 120);
    EXPECT_NEAR(hwLeeEstadoPcm(30), iNivel - 400, 160);
    ASSERT_TRUE(Espera([&] { return hwLeeEstadoPcm(30) == 0; }));
    // A full ring takes what fits: one second of audio.
    std::string sLargo(9000, '\x11');
    n = 9000;
    ASSERT_EQ(hwEnviaMuestras(30, reinterpret_cast<const uint8_t*>(sLargo.data()), &n), 0);
    EXPECT_EQ(n, 8000);
}

}  // namespace
