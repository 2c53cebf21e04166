// The core's supervision loop driven pass by pass with board ticks given by the test, on the
// simulated board, with the SNMP agent's port and the parent's pipe as real endpoints.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cgestordual.h"
#include "csimboard.h"
#include "hardware/hardware.h"
#include "cconfig.h"
#include "mainsupervisor.h"
#include "nucleo_pruebas.h"

namespace {

class Supervision : public ::testing::Test {
protected:
    void SetUp() override {
        placa = simboard::CSimBoard::Arranca();
        ASSERT_TRUE(placa);
        ASSERT_EQ(IniciaHardware(), 0);
        ASSERT_EQ(pipe2(aiTubo, O_NONBLOCK | O_CLOEXEC), 0);
        mainFijaTubo(aiTubo[1]);
        ASSERT_TRUE(agente.Abierto());
        mkdir("/mnt/ramfs/var", 0755);
    }
    void TearDown() override {
        mainFijaTubo(-1);
        close(aiTubo[0]);
        close(aiTubo[1]);
    }
    int BytesTubo() {
        char ac[64];
        int n = 0;
        ssize_t r;
        while ((r = read(aiTubo[0], ac, sizeof ac)) > 0) n += static_cast<int>(r);
        return n;
    }
    // One pass every 250 ms of board time (25 ticks).
    void Pasa(int iPasadas) {
        for (int i = 0; i < iPasadas; i++) {
            uiAhora += 25;
            mainPasadaSupervision(uiAhora);
        }
    }
    static void Escribe(const char* szRuta, const std::string& s) {
        std::ofstream f(szRuta, std::ios::trunc);
        f << s;
    }

    std::unique_ptr<simboard::CSimBoard> placa;
    pruebas::CAgenteSnmp agente;
    int aiTubo[2] = {-1, -1};
    uint32_t uiAhora = 0;
};

TEST_F(Supervision, PipeGetsOneBytePerPassAndOneMorePerLanAndTwoSecondSubPeriod) {
    mainIniciaSupervision(uiAhora);
    std::vector<int> vBytes;
    for (int i = 0; i < 40; i++) {
        Pasa(1);
        vBytes.push_back(BytesTubo());
    }
    for (int i = 0; i < 40; i++) {
        const uint32_t t = 25u * (i + 1);
        const int iEsperado = 1 + (t % 200 == 0 ? 1 : 0) + (t % 500 == 0 ? 1 : 0);
        EXPECT_EQ(vBytes[i], iEsperado) << "pass at tick " << t;
    }
}

TEST_F(Supervision, SubPeriodsFollowTheTickCounterAcrossItsWrap) {
    uiAhora = 0xFFFFFF00u;
    mainIniciaSupervision(uiAhora);
    Pasa(7);  // 175 ticks: not yet 2 s
    EXPECT_EQ(BytesTubo(), 7);
    Pasa(1);  // 200 ticks after the stamp, past the wrap
    EXPECT_EQ(BytesTubo(), 2);
}

TEST_F(Supervision, PowerSupplyStateIsTakenAfterFourEqualReadings) {
    mainIniciaSupervision(uiAhora);
    placa->Fuente(1);
    agente.Recibe(50);
    for (int i = 1; i <= 3; i++) {
        Pasa(40);  // one 10 s sub-period
        for (const auto& s : agente.Recibe(50)) EXPECT_NE(s.rfind("V,N03", 0), 0u) << "reading " << i;
    }
    Pasa(40);
    EXPECT_EQ(agente.Espera("V,N03", 500), "V,N03,0,1");
    EXPECT_EQ(sEstadoSupervision.iEstadoFA, 1);
    placa->Fuente(0);
    Pasa(120);
    EXPECT_EQ(agente.Espera("V,N03", 100), "");
    Pasa(40);
    EXPECT_EQ(agente.Espera("V,N03", 500), "V,N03,1,1");
}

TEST_F(Supervision, RefreshReportsAnUnknownPowerSupplyAsUnknownNotAsFault) {
    mainIniciaSupervision(uiAhora);
    agente.Recibe(50);
    mainRefrescaMant();
    EXPECT_EQ(agente.Espera("V,N03", 500), "V,N03,2,1");
}

struct CasoNtp {
    const char* szTexto;  // null: no file
    int iEstado;
    int iCalidad;
};

TEST(InformeNtp, FirstCharactersGiveStateAndQuality) {
    const CasoNtp casos[] = {
        {"0 ms", 1, 1}, {"-0.3", 1, 1}, {"-", 2, 2}, {"-7", 1, 2}, {"3", 1, 2}, {"9", 1, 2},
        {"", 2, 2},     {"n", 2, 2},    {"x", 2, 2}, {nullptr, 2, 2},
    };
    for (const auto& c : casos) {
        std::remove("/mnt/ramfs/ntpq_prueba");
        if (c.szTexto) {
            std::ofstream f("/mnt/ramfs/ntpq_prueba");
            f << c.szTexto;
        }
        int e = 0, q = 0;
        mainLeeEstadoNtp("/mnt/ramfs/ntpq_prueba", &e, &q);
        EXPECT_EQ(e, c.iEstado) << (c.szTexto ? c.szTexto : "(none)");
        EXPECT_EQ(q, c.iCalidad) << (c.szTexto ? c.szTexto : "(none)");
    }
}

TEST_F(Supervision, NotSynchronisedIsTakenOnlyOnTheSecondReadingInARow) {
    std::snprintf(oConfigPasarela.szDirSrvNtp[2], 64, "%s", "192.0.2.1");
    mainIniciaSupervision(uiAhora);
    Escribe(kFicheroNtp, "0");
    Pasa(8);
    EXPECT_EQ(agente.Espera("V,N05", 500), "V,N05,1");
    Escribe(kFicheroNtp, "n");
    Pasa(8);
    EXPECT_EQ(agente.Espera("V,N05", 100), "");
    EXPECT_EQ(sEstadoSupervision.iEstadoNtp, 1);
    Pasa(8);
    EXPECT_EQ(agente.Espera("V,N05", 500), "V,N05,2");
}

TEST_F(Supervision, NoNtpServerGivesStateZero) {
    for (auto& s : oConfigPasarela.szDirSrvNtp) s[0] = '\0';
    mainIniciaSupervision(uiAhora);
    Pasa(8);
    EXPECT_EQ(agente.Espera("V,N05", 500), "V,N05,0");
}

TEST_F(Supervision, LedTwoTogglesEveryThreeSecondsWithoutResourcesAndDsp) {
    oConfigPasarela.iNumRecursos = 0;
    mainIniciaSupervision(uiAhora);
    std::vector<uint32_t> v;
    for (int i = 0; i < 24; i++) {
        Pasa(1);
        v.push_back(placa->Leds().at(2));
    }
    for (int i = 0; i < 24; i++) EXPECT_EQ(v[i] != 0, i < 12) << "step " << i;
}

TEST_F(Supervision, LedTwoFlashesAtStepsZeroAndSixWithOneResourceAndNoDsp) {
    oConfigPasarela.iNumRecursos = 1;
    mainIniciaSupervision(uiAhora);
    for (int i = 0; i < 12; i++) {
        Pasa(1);
        EXPECT_EQ(placa->Leds().at(2) != 0, i == 0 || i == 6) << "step " << i;
    }
}

TEST_F(Supervision, RoleFileContainedInPrincipalPromotesAReserveBoard) {
    oConfigPasarela.iDual = 1;
    oGestorDual.Inicia(nullptr, "PASARELA", 1);
    ASSERT_EQ(oGestorDual.DameEstadoDual(), 1);
    mainIniciaSupervision(uiAhora);
    Escribe(kFicheroCpuMode, "");
    Pasa(8);
    EXPECT_EQ(oGestorDual.DameEstadoDual(), 1);
    Escribe(kFicheroCpuMode, "RESERVA");
    Pasa(8);
    EXPECT_EQ(oGestorDual.DameEstadoDual(), 1);
    Escribe(kFicheroCpuMode, "PRIN");
    Pasa(8);
    EXPECT_EQ(oGestorDual.DameEstadoDual(), 0);
}

TEST_F(Supervision, RefreshCountdownFiresOnceFifteenSubPeriodsAfterTheLastChange) {
    pruebas::CCapturaLog log;
    mainIniciaSupervision(uiAhora);
    mainPideRefrescoMant();
    Pasa(8 * 5);
    mainPideRefrescoMant();
    Pasa(8 * 14);
    EXPECT_EQ(log.Cuenta("refresca recursos mantenimiento"), 0);
    Pasa(8);
    EXPECT_EQ(log.Cuenta("refresca recursos mantenimiento"), 1);
    Pasa(8 * 20);
    EXPECT_EQ(log.Cuenta("refresca recursos mantenimiento"), 1);
}

TEST_F(Supervision, ConfigurationDumpIsWrittenByTheTenSecondPassWhenAsked) {
    std::remove("/mnt/ramfs/var/cfg");
    mainIniciaSupervision(uiAhora);
    Pasa(40);
    EXPECT_NE(access("/mnt/ramfs/var/cfg", F_OK), 0);
    mainPideVolcado();
    Pasa(40);
    EXPECT_EQ(access("/mnt/ramfs/var/cfg", F_OK), 0);
}

TEST(NombresTipo, EveryAcceptedInterfaceTypeHasARow) {
    const char* esperados[] = {"RADIO", "LCEN", "BC", "BL",     "AB",       "ATSR2", "ATSN5", "ATSQSIG", "2B+D",
                               "30B+D", "IO",   "DATOS", "RRC", "EYM_PP", "EYM_MARC", "",      ""};
    for (int i = 0; i <= 16; i++) EXPECT_STREQ(mainNombreTipoIf(i), esperados[i]) << i;
    EXPECT_STREQ(mainNombreTipoIf(17), "");
    EXPECT_STREQ(mainNombreTipoIf(-1), "");
    EXPECT_STREQ(mainNombreTipo(3), "AUDIO_HF_TX");
    EXPECT_STREQ(mainNombreTipo(7), "");
}

}  // namespace
