// The whole board in the test's sandbox: the simulated board, the configuration written by the
// configuration agent, the core with its children (resource processes, DSP service, stand-in for
// the outside programs) and the operator console's trace.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "csimboard.h"
#include "nucleo_proceso.h"
#include "traza_consola.h"

// Scenarios too long for `make test`: scripts/e2e sets VK_E2E and runs them.
#define SOLO_EN_E2E()                                                          \
    do {                                                                       \
        if (!std::getenv("VK_E2E")) GTEST_SKIP() << "run by scripts/e2e only"; \
    } while (0)

namespace e2e {

using pruebas::EsperaQue;
using pruebas::LeeTodo;

// Resources of the combined example (sim/cfgagent/ejemplos/placa_completa.ini), each on the
// board module of its number.
constexpr int kTelefono = 1;  // TLF-01, BC telephone
constexpr int kCaliente = 4;  // LC-01, hot line
constexpr int kR2 = 8;        // R2-01, ATS-R2 trunk
constexpr int kN5 = 12;       // N5-01, ATS-N5 trunk

inline std::string DirFuente() {
    const std::string f = __FILE__;
    return f.substr(0, f.rfind('/') + 1);
}

// Text of one of the configuration agent's examples, for a scenario that adds to it.
inline std::string Ejemplo(const std::string& sEjemplo) {
    return LeeTodo(DirFuente() + "../sim/cfgagent/ejemplos/" + sEjemplo);
}

class CPlaca {
public:
    // Starts the board on the configuration agent's example sEjemplo, or on the description
    // at the absolute path sEjemplo; false when a step fails.
    bool Arranca(const std::string& sEjemplo = "placa_completa.ini") {
        placa = simboard::CSimBoard::Arranca();
        if (!placa) return false;
        pruebas::InstalaProgramas();
        pruebas::ConfiguraLogs();
        if (std::system((pruebas::DirBuild() + "/sim/tonos/tonos").c_str()) != 0) return false;
        const int r = sEjemplo.compare(0, 1, "/") != 0
                          ? pruebas::EscribeEjemplo(sEjemplo)
                          : std::system((pruebas::DirBuild() + "/sim/cfgagent/cfgagent escribe " + sEjemplo +
                                         " --sin-senal").c_str());
        if (r != 0) return false;
        nucleo.Arranca({});
        consola = std::make_unique<pruebas::TrazaConsola>();
        return true;
    }
    static std::string LogNucleo() { return LeeTodo("/mnt/ramfs/vk_pelm.log"); }
    static std::string LogRecurso(int iRec) { return pruebas::LogRecurso(iRec); }
    static bool RecursoDice(int iRec, const std::string& s, int iMs) {
        return EsperaQue([&] { return LogRecurso(iRec).find(s) != std::string::npos; }, iMs);
    }
    static bool NucleoDice(const std::string& s, int iMs) {
        return EsperaQue([&] { return LogNucleo().find(s) != std::string::npos; }, iMs);
    }
    // What the logs say, for a failed scenario's report.
    std::string Informe() const {
        std::string s = "core:\n" + LogNucleo();
        for (int i : {kTelefono, kCaliente, kR2, kN5}) s += "\nresource " + std::to_string(i) + ":\n" + LogRecurso(i);
        return s + "\nDSP service:\n" + pruebas::LogDremson();
    }

    std::unique_ptr<simboard::CSimBoard> placa;
    pruebas::CNucleo nucleo;
    std::unique_ptr<pruebas::TrazaConsola> consola;
};

}  // namespace e2e
