#include "cplayfile.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "hardware/ccomeventos.h"
#include "comun/nlog.h"

namespace {

using Reloj = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Line entity stand-in: records every block the player hands on, with its arrival time.
class Dueno : public CComeventos {
public:
    struct Bloque {
        Reloj::time_point t;
        int valor;
        std::vector<uint8_t> bytes;
    };

    int EvtMuestrasPlayFile(int iValor, int iCuenta, const uint8_t* pucMuestras) override {
        std::lock_guard<std::mutex> l(m);
        asBloques.push_back({Reloj::now(), iValor, std::vector<uint8_t>(pucMuestras, pucMuestras + iCuenta)});
        cv.notify_all();
        return 0;
    }
    // Waits (at most 5 s) until k blocks have come; returns a copy of them.
    std::vector<Bloque> Espera(size_t k) {
        std::unique_lock<std::mutex> l(m);
        cv.wait_for(l, 5s, [&] { return asBloques.size() >= k; });
        return asBloques;
    }
    size_t Cuenta() {
        std::lock_guard<std::mutex> l(m);
        return asBloques.size();
    }

private:
    std::mutex m;
    std::condition_variable cv;
    std::vector<Bloque> asBloques;
};

std::mutex gmLog;
std::vector<std::string> gasLog;
void CapturaLog(int nivel, const char* texto) {
    std::lock_guard<std::mutex> l(gmLog);
    gasLog.push_back(std::to_string(nivel) + ":" + texto);
}
int CuentaLog(const std::string& linea) {
    std::lock_guard<std::mutex> l(gmLog);
    int n = 0;
    for (const auto& s : gasLog) n += s == linea;
    return n;
}

std::string Fichero(const char* nombre, const std::vector<uint8_t>& bytes) {
    std::string ruta = std::string("/mnt/ramfs/") + nombre;
    FILE* f = fopen(ruta.c_str(), "w");
    EXPECT_NE(f, nullptr) << ruta;
    if (f) {
        if (!bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
    }
    return ruta;
}

std::vector<uint8_t> Patron(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; i++) v[i] = static_cast<uint8_t>(i * 7 + 3);
    return v;
}

class CPlayFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        NLOG::FijaCaptura(CapturaLog);
        ASSERT_EQ(oPlayer.Arranca(7, &oDueno), 0);
    }
    void TearDown() override { NLOG::FijaCaptura(nullptr); }

    Dueno oDueno;  // declared first: outlives the player's thread
    CPlayFile oPlayer;
};

TEST_F(CPlayFileTest, DeliversTheFileInOrderAt160SamplesPer20MsRewindingToCompleteBlocks) {
    const auto patron = Patron(1000);  // not a multiple of the block: blocks span the rewind
    ASSERT_EQ(oPlayer.Abre(Fichero("patron.pcm", patron).c_str(), 160), 0);
    auto bloques = oDueno.Espera(101);
    ASSERT_GE(bloques.size(), 101u);
    size_t pos = 0;
    for (size_t b = 0; b < 101; b++) {
        ASSERT_EQ(bloques[b].valor, 7);
        ASSERT_EQ(bloques[b].bytes.size(), 160u) << "block " << b;
        for (uint8_t byte : bloques[b].bytes) ASSERT_EQ(byte, patron[pos++ % patron.size()]) << "block " << b;
    }
    // 100 blocks of 160 samples after the first: 2 s of audio at 8 kHz.
    double s = std::chrono::duration<double>(bloques[100].t - bloques[0].t).count();
    EXPECT_NEAR(s, 2.0, 0.04);
    EXPECT_EQ(CuentaLog("0:CPlayFile: abre /mnt/ramfs/patron.pcm"), 1);
}

TEST_F(CPlayFileTest, FileShorterThanABlockIsCompletedByOneRewindThenDeliveredShort) {
    const auto cien = Patron(100);
    ASSERT_EQ(oPlayer.Abre(Fichero("cien.pcm", cien).c_str(), 160), 0);
    auto bloques = oDueno.Espera(1);
    oPlayer.Cierra();
    ASSERT_GE(bloques.size(), 1u);
    std::vector<uint8_t> esperado(cien);
    esperado.insert(esperado.end(), cien.begin(), cien.begin() + 60);
    EXPECT_EQ(bloques[0].bytes, esperado);

    const auto cincuenta = Patron(50);
    testing::internal::CaptureStdout();
    size_t antes = oDueno.Cuenta();
    ASSERT_EQ(oPlayer.Abre(Fichero("cincuenta.pcm", cincuenta).c_str(), 160), 0);
    bloques = oDueno.Espera(antes + 1);
    oPlayer.Cierra();
    std::this_thread::sleep_for(30ms);  // let a block in flight land
    std::string salida = testing::internal::GetCapturedStdout();
    ASSERT_GE(bloques.size(), antes + 1);
    esperado = cincuenta;
    esperado.insert(esperado.end(), cincuenta.begin(), cincuenta.end());
    EXPECT_EQ(bloques[antes].bytes, esperado);
    EXPECT_GE(CuentaLog("1:Error leyendo fichero. 160-100\n"), 1);
    EXPECT_NE(salida.find("Leidas 100 muestras\n\r"), std::string::npos);
}

TEST_F(CPlayFileTest, EmptyFileIsLoggedOnceAndDeliversNothing) {
    ASSERT_EQ(oPlayer.Abre(Fichero("vacio.pcm", {}).c_str(), 160), 0);
    std::this_thread::sleep_for(200ms);  // ten passes at the real-time rate
    EXPECT_EQ(CuentaLog("1:Error leyendo fichero. 160-0\n"), 1);
    EXPECT_EQ(oDueno.Cuenta(), 0u);
}

TEST_F(CPlayFileTest, OpeningAnotherFileReplacesTheOneThatPlays) {
    ASSERT_EQ(oPlayer.Abre(Fichero("a.pcm", std::vector<uint8_t>(480, 0xAA)).c_str(), 160), 0);
    oDueno.Espera(2);
    ASSERT_EQ(oPlayer.Abre(Fichero("b.pcm", std::vector<uint8_t>(480, 0xBB)).c_str(), 160), 0);
    size_t tras = oDueno.Cuenta();
    auto bloques = oDueno.Espera(tras + 4);
    ASSERT_GE(bloques.size(), tras + 4);
    // At most the block already read when Abre came is still of the old file.
    for (size_t b = tras + 1; b < bloques.size(); b++)
        EXPECT_EQ(bloques[b].bytes, std::vector<uint8_t>(160, 0xBB)) << "block " << b;
}

TEST_F(CPlayFileTest, PauseHoldsThePositionAndResumeGoesOn) {
    const auto patron = Patron(1600);
    ASSERT_EQ(oPlayer.Abre(Fichero("pausa.pcm", patron).c_str(), 160), 0);
    oDueno.Espera(2);
    oPlayer.Pausa();
    std::this_thread::sleep_for(30ms);  // a block in flight may still land
    size_t parados = oDueno.Cuenta();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(oDueno.Cuenta(), parados);
    oPlayer.Reanuda();
    auto bloques = oDueno.Espera(parados + 1);
    ASSERT_GE(bloques.size(), parados + 1);
    EXPECT_EQ(bloques[parados].bytes, std::vector<uint8_t>(patron.begin() + 160 * parados,
                                                           patron.begin() + 160 * (parados + 1)));
}

TEST_F(CPlayFileTest, RefusalsOfStartAndOpen) {
    EXPECT_EQ(oPlayer.Arranca(7, &oDueno), -2);
    CPlayFile otro;
    EXPECT_EQ(otro.Arranca(1, nullptr), -1);
    EXPECT_EQ(oPlayer.Abre(Fichero("grande.pcm", Patron(500)).c_str(), 161), -1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(oPlayer.Abre("/mnt/ramfs/no_existe.pcm", 160), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\n PUM!  No se puede abrir /mnt/ramfs/no_existe.pcm\n");
    std::this_thread::sleep_for(60ms);
    EXPECT_EQ(oDueno.Cuenta(), 0u);
}

TEST(CPlayFile, DestroyingAPlayingPlayerStopsItsThread) {
    Dueno oDueno;
    {
        CPlayFile oPlayer;
        ASSERT_EQ(oPlayer.Arranca(3, &oDueno), 0);
        ASSERT_EQ(oPlayer.Abre(Fichero("fin.pcm", Patron(320)).c_str(), 160), 0);
        oDueno.Espera(1);
    }
    size_t k = oDueno.Cuenta();
    std::this_thread::sleep_for(60ms);
    EXPECT_EQ(oDueno.Cuenta(), k);
}

}  // namespace
