// The telephone and hot-line programs under the real core: the configuration agent's examples
// give the core its lines, the core starts the programs and the DSP service, and each line
// gets its DSP channel through the core and works on the simulated board.
#include <gtest/gtest.h>


#include "csimboard.h"
#include "nucleo_proceso.h"

namespace {

using pruebas::EsperaQue;

class LineasBajoElNucleo : public ::testing::Test {
protected:
    void SetUp() override {
        placa = simboard::CSimBoard::Arranca();
        ASSERT_TRUE(placa);
        pruebas::InstalaProgramas();
        pruebas::ConfiguraLogs();
    }
    void TearDown() override {
        if (HasFailure())
            std::printf("core:\n%s\nlinea:\n%s\n", nucleo.Salida().c_str(), pruebas::LogRecurso(iRec).c_str());
    }
    void Arranca(const std::string& sEjemplo, int iRecurso) {
        iRec = iRecurso;
        ASSERT_EQ(pruebas::EscribeEjemplo(sEjemplo), 0) << sEjemplo;
        nucleo.Arranca({});
    }
    bool LogContiene(const std::string& s, int iMs) {
        return EsperaQue([&] { return pruebas::LogRecurso(iRec).find(s) != std::string::npos; }, iMs);
    }

    std::unique_ptr<simboard::CSimBoard> placa;
    pruebas::CNucleo nucleo;
    int iRec = 0;
};

TEST_F(LineasBajoElNucleo, BcTelephoneOfTheExampleOffersACallWhenTheHandsetIsLifted) {
    Arranca("telefono_bc.ini", 1);
    ASSERT_TRUE(LogContiene("CENTTLF[1]: iTipoIf 2", 30000));
    ASSERT_TRUE(LogContiene("CENTTLF[1]:Recurso DSP configurado", 30000));
    // The hardware layer watches the handset 20 s after its start.
    placa->Descuelga(1);
    EXPECT_TRUE(LogContiene("CENTTLF[1]: Envia llamada entrante ", 40000));
}

TEST_F(LineasBajoElNucleo, HotLineOfTheExampleComesIntoServiceOnItsDspChannel) {
    Arranca("linea_caliente.ini", 4);
    ASSERT_TRUE(LogContiene("CENTLC[4]:Recurso DSP configurado", 30000));
    EXPECT_TRUE(LogContiene("CENTLC[4]: EvtDspReposo", 10000));
}

// The trunk examples: lintaro takes its DSP resource through the core's DSP service and sets
// the signalling protocol of its kind and side.
TEST_F(LineasBajoElNucleo, R2TrunkOfTheExampleSetsItsSignallingOnItsDspResource) {
    Arranca("ats_r2.ini", 8);
    EXPECT_TRUE(LogContiene("CENTR2N5[8]: ProtocoloRecurso DSP configurado(3) lado= 0", 40000));
}

TEST_F(LineasBajoElNucleo, N5TrunkOfTheExampleSetsItsSignallingOnItsDspResource) {
    Arranca("ats_n5.ini", 12);
    EXPECT_TRUE(LogContiene("CENTR2N5[12]: ProtocoloRecurso DSP configurado(6) lado= 1", 40000));
}

}  // namespace
