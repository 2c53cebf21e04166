// The HPI bench console against the simulated DSP's device: what each command prints, which
// requests reach the driver, and what an empty line repeats.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "comun/tests/ficheros_pruebas.h"
#include "consolahpi.h"
#include "csimboard.h"
#include "hardware/cdispositivos.h"

namespace {

// The console's output (standard output: its TCP console is off here) while it runs one line.
class ConsolaHpi : public ::testing::Test {
protected:
    void SetUp() override {
        placa = simboard::CSimBoard::Arranca();
        ASSERT_TRUE(placa);
        iFd = DameDispositivos().Abre("/dev/hpidsp", O_RDWR);
        ASSERT_GE(iFd, 0);
    }
    std::string Ejecuta(const std::string& s, int* piFin = nullptr) {
        std::fflush(stdout);
        int iGuardado = dup(1);
        FILE* f = std::fopen("/mnt/ramfs/hpi.out", "w");
        dup2(fileno(f), 1);
        int r = EjecutaComandoHpi(iFd, s.c_str());
        std::fflush(stdout);
        dup2(iGuardado, 1);
        close(iGuardado);
        std::fclose(f);
        if (piFin) *piFin = r;
        return ficheros_pruebas::LeeTodo("/mnt/ramfs/hpi.out");
    }
    std::unique_ptr<simboard::CSimBoard> placa;
    int iFd = -1;
};

TEST_F(ConsolaHpi, CommandsPrintTheirLinesAndReachTheDriver) {
    EXPECT_EQ(Ejecuta("K"), "dime fase\n");
    EXPECT_EQ(Ejecuta("i80001000"), "escribe registro HPI_REG_HPIA = 80001000\n");
    EXPECT_NE(placa->Dsp("arranque").find("direccion 0x80001000"), std::string::npos) << placa->Dsp("arranque");
    // A register the simulated driver does not have: its error, no value.
    EXPECT_EQ(Ejecuta("A").compare(0, 7, "Error: "), 0);
    EXPECT_NE(Ejecuta("?").find("Pruebas Driver HPI"), std::string::npos);
    int iFin = 0;
    EXPECT_EQ(Ejecuta("F", &iFin), "");
    EXPECT_EQ(iFin, 1);
}

TEST_F(ConsolaHpi, EmptyLineRepeatsOnlyTheHelpOrAnUnknownCommand) {
    const std::string sPista = "Escribe \"?\" para la ayuda, anda.\n";
    EXPECT_EQ(Ejecuta("x"), sPista);
    EXPECT_EQ(Ejecuta("\n"), sPista);
    EXPECT_NE(Ejecuta("?").find("Pruebas Driver HPI"), std::string::npos);
    EXPECT_NE(Ejecuta("").find("Pruebas Driver HPI"), std::string::npos);
    EXPECT_EQ(Ejecuta("K"), "dime fase\n");
    EXPECT_EQ(Ejecuta("\n"), "");
}

}  // namespace
