// Switch-over state file: reads, rewrites and concurrent writers.
#include "cgest.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "comun/cficheroini.h"
#include "comun/nlog.h"
#include "comun/tests/ficheros_pruebas.h"

namespace {

const char* const kRuta = "/home/rk82qln/EstadosConmutacion.ini";

std::mutex gMutexLog;
std::vector<std::string> gLog;
void Captura(int, const char* texto) {
    std::lock_guard<std::mutex> l(gMutexLog);
    gLog.push_back(texto);
}

class Conmutacion : public ::testing::Test {
protected:
    void SetUp() override { mkdir("/home/rk82qln", 0755); }
    void Fichero(const std::string& texto) { ficheros_pruebas::Escribe(kRuta, texto); }
};

TEST_F(Conmutacion, ReadsActiveSides) {
    Fichero("\n[RECURSO-5]\nEMP0-ActivoTX=A\nEMP0-ActivoRX=b\nEMP1-ActivoTX=\nEMP2-ActivoRX=B\n");
    Cgest g;
    EXPECT_EQ(g.Inicia(), 0);
    EXPECT_EQ(g.LeeActivoTx(5, 0), 0);
    EXPECT_EQ(g.LeeActivoRx(5, 0), 1);   // lower case b is B
    EXPECT_EQ(g.LeeActivoTx(5, 1), -1);  // empty
    EXPECT_EQ(g.LeeActivoRx(5, 2), 1);
    EXPECT_EQ(g.LeeActivoTx(4, 0), -1);  // absent
}

TEST_F(Conmutacion, MissingFileIsLoggedAndAWriteCreatesIt) {
    NLOG::FijaCaptura(Captura);
    unlink(kRuta);
    Cgest g;
    g.Inicia();
    NLOG::FijaCaptura(nullptr);
    EXPECT_EQ(gLog, std::vector<std::string>{"Cgest: No encuentra fichero /home/rk82qln/EstadosConmutacion.ini"});
    EXPECT_EQ(g.LeeActivoTx(0, 0), -1);
    EXPECT_EQ(g.EscribeActivoTx(0, 0, 1), 0);
    EXPECT_EQ(g.LeeActivoTx(0, 0), 1);
    EXPECT_EQ(ficheros_pruebas::LeeTodo(kRuta), "\n[RECURSO-0]\nEMP0-ActivoTX=B\n");
}

TEST_F(Conmutacion, WriteAddsItsSectionAndKeepsTheOthers) {
    Fichero("\n[RECURSO-1]\nEMP0-ActivoRX=B\nEMP0-ActivoTX=A\n");
    Cgest g;
    g.Inicia();
    EXPECT_EQ(g.EscribeActivoTx(5, 2, 7), 0);
    EXPECT_EQ(g.LeeActivoTx(5, 2), 1);  // seen without another Inicia
    EXPECT_EQ(ficheros_pruebas::LeeTodo(kRuta), "\n[RECURSO-1]\nEMP0-ActivoRX=B\nEMP0-ActivoTX=A\n\n[RECURSO-5]\nEMP2-ActivoTX=B\n");
    g.EscribeActivoTx(5, 2, 0);
    EXPECT_EQ(g.LeeActivoTx(5, 2), 0);
}

TEST_F(Conmutacion, ReadBeforeIniciaLoadsTheFile) {
    Fichero("\n[RECURSO-3]\nEMP1-ActivoRX=B\n");
    Cgest g;
    EXPECT_EQ(g.LeeActivoRx(3, 1), 1);
}

TEST_F(Conmutacion, ConcurrentWritersKeepTheFileWellFormed) {
    unlink(kRuta);
    Cgest g;
    g.Inicia();
    std::atomic<bool> fin{false};
    std::atomic<int> malformados{0};
    // An outside reader of the file never meets half a file.
    std::thread lector([&] {
        const std::regex linea(R"(|\[RECURSO-\d+\]|EMP\d-Activo(TX|RX)=[AB])");
        while (!fin) {
            std::istringstream s(ficheros_pruebas::LeeTodo(kRuta));
            std::string l;
            while (std::getline(s, l))
                if (!std::regex_match(l, linea)) malformados++;
        }
    });
    std::vector<std::thread> escritores;
    for (int t = 0; t < 8; t++)
        escritores.emplace_back([&g, t] {
            for (int i = 0; i < 40; i++) {
                g.EscribeActivoTx(t, i % 3, i & 1);
                g.EscribeActivoRx(t, i % 3, (i + 1) & 1);
            }
        });
    for (auto& e : escritores) e.join();
    fin = true;
    lector.join();
    EXPECT_EQ(malformados, 0);
    CFicheroIni ini;
    ini.Lee(kRuta);
    for (int t = 0; t < 8; t++) {
        // The last write of each key: i = 39 for emplacement 0, 38 for 2, 37 for 1.
        EXPECT_EQ(ini.DameValor("RECURSO-" + std::to_string(t), "EMP0-ActivoTX", ""), "B");
        EXPECT_EQ(ini.DameValor("RECURSO-" + std::to_string(t), "EMP2-ActivoTX", ""), "A");
        EXPECT_EQ(ini.DameValor("RECURSO-" + std::to_string(t), "EMP1-ActivoRX", ""), "A");
    }
}

}  // namespace
