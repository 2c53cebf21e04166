#include "comun/vigilanciahilos.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "ficheros_pruebas.h"
#include "comun/ganchosipc.h"
#include "comun/gestormutex.h"
#include "comun/nlog.h"
#include "comun/trazapid.h"
#include "comun/uptime.h"

namespace {

using ficheros_pruebas::LeeTodo;

std::string gConsola;
int Consola(const char* texto) {
    gConsola += texto;
    return static_cast<int>(std::string(texto).size());
}
std::string gLog;
void CapturaLog(int nivel, const char* texto) { gLog += std::to_string(nivel) + ":" + texto + "|"; }

TEST(VigilanciaHilos, LateFromTheTickAFullPeriodHasPassed) {
    struct Caso {
        uint32_t marca;
        uint32_t ahora;
        int resultado;
    };
    // Period 10000 ms = 1000 ticks; the counter may wrap between stamp and check.
    const Caso casos[] = {
        {5000, 5999, 1},
        {5000, 6000, 0},
        {5000, 4000, 1},
        {0xFFFFFF00u, 0xFFFFFF00u + 999u, 1},
        {0xFFFFFF00u, 0xFFFFFF00u + 1000u, 0},
        {0xFFFFFFFFu, 998u, 1},
        {0xFFFFFFFFu, 999u, 0},
    };
    for (const Caso& c : casos) {
        IniciaVigilanciaHilos();
        ASSERT_EQ(RegistraHilo("Audio", 3, 10000, c.marca), 0);
        EXPECT_EQ(CompruebaHilos(c.ahora), c.resultado) << c.marca << " " << c.ahora;
    }
}

TEST(VigilanciaHilos, RefreshMovesTheStampAndBadIndexesAreIgnored) {
    IniciaVigilanciaHilos();
    int i = RegistraHilo("Red", 1, 1000, 0);
    RefrescaHilo(i, 90);
    RefrescaHilo(-1, 0);
    RefrescaHilo(32, 0);
    EXPECT_EQ(CompruebaHilos(189), 1);
    EXPECT_EQ(CompruebaHilos(190), 0);
}

TEST(VigilanciaHilos, ThirtySecondRegistrationFails) {
    IniciaVigilanciaHilos();
    for (int i = 0; i < 31; i++) EXPECT_EQ(RegistraHilo("h", i, 1000, 0), i);
    EXPECT_EQ(RegistraHilo("h", 31, 1000, 0), -1);
    EXPECT_EQ(RegistraHilo("h", 32, 1000, 0), -1);
}

TEST(VigilanciaHilos, ConcurrentRegistrationsAreWholeWhenChecked) {
    IniciaVigilanciaHilos();
    std::vector<std::thread> h;
    for (int t = 0; t < 8; t++)
        h.emplace_back([t] {
            for (int i = 0; i < 4; i++) RegistraHilo("NombreLargoDeHiloDeTreintaYDos!!", t, 100000, 0);
        });
    for (int k = 0; k < 200; k++) CompruebaHilos(5);
    for (auto& x : h) x.join();
    EXPECT_EQ(CompruebaHilos(10000), 0);  // every entry late now
    gLog.clear();
    NLOG::FijaCaptura(CapturaLog);
    PintaHilosSinRefrescar(0);
    NLOG::FijaCaptura(nullptr);
    // 31 entries, every name whole (32 characters).
    size_t n = 0;
    for (size_t p = 0; (p = gLog.find(" *    NombreLargoDeHiloDeTreintaYDos!![", p)) != std::string::npos; p++) n++;
    EXPECT_EQ(n, 31u);
}

TEST(VigilanciaHilos, ReportListsLateAndNeverCheckedThreads) {
    IniciaVigilanciaHilos();
    FijaGanchoTextoIpc(Consola);
    int audio = RegistraHilo("Audio", 3, 10000, 0);
    RegistraHilo("Superv", 4, 12000, 0);
    int tonos = RegistraHilo("NombreDeHiloMuyLargoDeMasDeTreintaYDosCaracteres", 5, 50000, 0);
    EXPECT_EQ(CompruebaHilos(1100), 0);  // Audio late, Superv on time, tonos on time
    RefrescaHilo(tonos, 1100);
    int nuevo = RegistraHilo("Nuevo", 6, 1000, 1100);  // never checked
    (void)audio;
    (void)nuevo;
    NLOG::FijaCaptura(CapturaLog);
    PintaHilosSinRefrescar(1);
    NLOG::FijaCaptura(nullptr);
    EXPECT_EQ(gConsola, " * Hilos que no han refrescado:\n *    Audio[3]\n *    Nuevo[6]\n");
    EXPECT_EQ(gLog, "1:Hilos que no han refrescado|1: *    Audio[3]|1: *    Nuevo[6]|");
    gConsola.clear();
    PintaHilosSinRefrescar(0);
    EXPECT_EQ(gConsola, "");
    FijaGanchoTextoIpc(nullptr);
}

TEST(TrazaPid, WritesOneLinePerThread) {
    EXPECT_EQ(TrazaPid("antes", 0, "x"), -1);
    ASSERT_EQ(AbreTrazaPid("/var/velkord.pid"), 0);
    EXPECT_EQ(TrazaPid("Supervisor proceso", 3, "src/vortik/csuperec"), 0);
    EXPECT_EQ(TrazaPid("Publica", 0, "src/vortik/publica"), 0);
    std::string pid = std::to_string(getpid());
    EXPECT_EQ(LeeTodo("/var/velkord.pid"), " PID " + pid + " -> Supervisor proceso (3) \t- src/vortik/csuperec\n PID " +
                                               pid + " -> Publica (0) \t- src/vortik/publica\n");
    // Reopening truncates.
    ASSERT_EQ(AbreTrazaPid("/var/velkord.pid"), 0);
    EXPECT_EQ(LeeTodo("/var/velkord.pid"), "");
    EXPECT_EQ(AbreTrazaPid("/no/existe/x.pid"), -1);
    EXPECT_EQ(TrazaPid("despues", 0, "x"), -1);
}

TEST(Uptime, ReadsMillisecondsSinceBoot) {
    EXPECT_GT(uptUpTime(), 0u);  // opened on first use when main did not
    ASSERT_EQ(uptInicia(), 1);
    EXPECT_EQ(ListaMutex(2, nullptr), 1);  // "Uptime::tMutex", created once
    uint32_t a = uptUpTime();
    double s = 0;
    std::ifstream("/proc/uptime") >> s;
    uint32_t b = uptUpTime();
    EXPECT_LE(a, static_cast<uint32_t>(s * 1000) + 10);
    EXPECT_GE(b + 10, static_cast<uint32_t>(s * 1000));
}

TEST(Uptime, TextTable) {
    struct Caso {
        const char* texto;
        uint32_t ms;
    };
    const Caso casos[] = {
        {"12345.67 9999.00\n", 12345670u},
        {"0.01 0.00", 10u},
        {"7 1.00", 7000u},
        {"", 0u},
        {"basura", 0u},
        // Past 24.8 days: unsigned, no overflow.
        {"2500000.50 1.0", 2500000500u},
        {"4294968.00 1.0", 4294968000u - 4294967296u},
    };
    for (const Caso& c : casos) EXPECT_EQ(uptDeTexto(c.texto), c.ms) << c.texto;
}

}  // namespace
