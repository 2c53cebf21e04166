// Signals that the core has no use for end it with its log line, whichever way they are handled
// inside (the fault signals through their own handler, the others through the signal thread);
// the bus-error signal is the board's and leaves it running.
#include <signal.h>

#include <gtest/gtest.h>

#include <string>

#include "csimboard.h"
#include "nucleo_proceso.h"

namespace {

class Senales : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        placa = simboard::CSimBoard::Arranca();
        ASSERT_TRUE(placa);
        pruebas::InstalaProgramas();
        nucleo.Arranca({});
        ASSERT_TRUE(nucleo.SalidaContiene("Vortik QLN arrancado", 10000));
    }
    std::unique_ptr<simboard::CSimBoard> placa;
    pruebas::CNucleo nucleo;
};

TEST_P(Senales, UnexpectedSignalEndsTheCoreWithItsLogLine) {
    const int iSenal = GetParam();
    kill(nucleo.Pid(), iSenal);
    EXPECT_EQ(nucleo.EsperaFin(3000), 255);
    EXPECT_NE(nucleo.Salida().find("Recibida Señal " + std::to_string(iSenal) + "..."), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Inesperadas, Senales, ::testing::Values(SIGALRM, SIGFPE, SIGQUIT),
                         [](const ::testing::TestParamInfo<int>& i) { return "Senal" + std::to_string(i.param); });

TEST_F(Senales, BusErrorOfTheBoardLeavesTheCoreRunning) {
    kill(nucleo.Pid(), SIGBUS);
    EXPECT_TRUE(nucleo.SalidaContiene(" >>>> Atencion a la senal Tack error", 3000));
    EXPECT_EQ(nucleo.EsperaFin(700), -1);
}

}  // namespace
