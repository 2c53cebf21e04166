// Line modules through the simulated board: start in every mode, read-back checks, line
// controls, and the supervisor thread that turns state words into line-entity events.
#include <sstream>

#include "comun/ctemporizador.h"
#include "comun/ganchosipc.h"
#include "comun/tests/cfuenteparada.h"
#include "hardware/hwlinea.h"
#include "hwpruebas.h"

using namespace hwpruebas;

namespace {

// Value of one field ("modo=", "ring=" ...) of the board's dump of a module.
std::string Campo(simboard::CSimBoard& placa, int m, const std::string& sCampo) {
    std::istringstream is(placa.Slic(m));
    for (std::string w; is >> w;)
        if (w.compare(0, sCampo.size() + 1, sCampo + "=") == 0) return w.substr(sCampo.size() + 1);
    return "?";
}

struct CasoModo {
    int iModo, p2, p3, p4;
    const char* szM1;  // value the module must have been given
};

class ModosSlic : public PlacaSimulada, public ::testing::WithParamInterface<CasoModo> {};

TEST_P(ModosSlic, StartsChecksDetectsMismatchAndRecovers) {
    const CasoModo& c = GetParam();
    const int m = 5;
    ASSERT_EQ(hwIniciaSlic(m, c.iModo, c.p2, c.p3, c.p4), 0);
    EXPECT_EQ(Campo(*placa, m, "modo"), c.szM1);
    EXPECT_EQ(Campo(*placa, m, "resets"), "1");
    EXPECT_EQ(hwSlicTs(m, 21), 0);
    EXPECT_EQ(hwSlicGananciaTx(m, 3), 0);
    EXPECT_EQ(hwSlicGananciaRx(m, -4), 0);
    EXPECT_EQ(hwSlicCodec(m, 8), 0);
    EXPECT_EQ(hwCompruebaSlic(m), 0);
    EXPECT_EQ(hwCompruebaModoSlic(m), 0);

    placa->Orden("desajuste " + std::to_string(m));
    EXPECT_EQ(hwCompruebaSlic(m), -6);
    EXPECT_TRUE(HayLinea("HW COMPRUEBA SLIC 5  modo"));
    EXPECT_EQ(hwCompruebaSlic(m), 0);  // the mismatch rewrote the configuration
    EXPECT_EQ(Campo(*placa, m, "tstx"), "21");
    EXPECT_EQ(Campo(*placa, m, "gantx"), "3");
}

INSTANTIATE_TEST_SUITE_P(TodosLosModos, ModosSlic,
                         ::testing::Values(CasoModo{0, 0, 0, 0, "20"}, CasoModo{1, 0, 0, 0, "1"},
                                           CasoModo{2, 0, 0, 0, "2"}, CasoModo{3, 0, 0, 0, "1"},
                                           CasoModo{4, 2, 0, 1, "23"}, CasoModo{4, 0, 0, 0, "10"},
                                           CasoModo{4, 4, 1, 1, "30"}, CasoModo{5, 0, 0, 0, "9"}),
                         [](const ::testing::TestParamInfo<CasoModo>& i) {
                             return "modo" + std::to_string(i.param.iModo) + "_M1_" + i.param.szM1;
                         });

TEST_F(PlacaSimulada, StartRejectsBadModuleModeAndModeFourParameters) {
    EXPECT_EQ(hwIniciaSlic(16, 1, 0, 0, 0), -2);
    EXPECT_EQ(hwIniciaSlic(-1, 1, 0, 0, 0), -2);
    EXPECT_EQ(hwIniciaSlic(0, 6, 0, 0, 0), -6);
    EXPECT_EQ(hwIniciaSlic(0, -1, 0, 0, 0), -6);
    // E&M parameters come from configuration: outside the table they are refused.
    EXPECT_EQ(hwIniciaSlic(0, 4, 5, 0, 0), -6);
    EXPECT_EQ(hwIniciaSlic(0, 4, -1, 0, 0), -6);
    EXPECT_EQ(hwIniciaSlic(0, 4, 0, 0, 2), -6);
    EXPECT_EQ(Campo(*placa, 0, "resets"), "0");
    EXPECT_EQ(hwAbreSlic(-1), -1);
    EXPECT_EQ(hwCompruebaSlic(16), -1);
    EXPECT_EQ(hwCompruebaSlic(-3), -1);
    EXPECT_EQ(hwCompruebaSlic(2), -1);  // never started
    CEntidadGrabadora e;
    EXPECT_EQ(hwRegistraEventosSlic(16, &e, nullptr), -2);
    EXPECT_EQ(hwRegistraEventosSlic(-1, &e, nullptr), -2);
}

TEST_F(PlacaSimulada, StartConnectsTheSwitchPointAndSetsTheModuleOutputs) {
    ASSERT_EQ(hwIniciaSlic(6, 1, 0, 0, 0), 0);
    EXPECT_EQ(placa->Puntos(), (std::vector<uint32_t>{6}));
    EXPECT_EQ(placa->Salidas(), (std::vector<uint32_t>{164}));
    placa->Orden("falloapertura 7 1");
    EXPECT_EQ(hwIniciaSlic(7, 1, 0, 0, 0), -7);
    placa->Orden("rechaza 0x80045301 1");
    EXPECT_EQ(hwIniciaSlic(8, 1, 0, 0, 0), -7);
}

TEST_F(PlacaSimulada, VersionSeventeenIsStartedWithItsWarning) {
    placa->Orden("version 3 17");
    std::string sTraza;
    static std::string* psTraza = &sTraza;
    FijaGanchoTextoIpc([](const char* s) {
        *psTraza += s;
        return 0;
    });
    FijaMascaraTrazaIpc(CLASE_TRAZA_DEBUG);
    EXPECT_EQ(hwIniciaSlic(3, 2, 0, 0, 0), 0);
    EXPECT_TRUE(HayLinea("OJO. Iniciado slic 3 cuya version no es 0Fh ni 10h"));
    EXPECT_NE(sTraza.find("OJO. Iniciado slic 3 cuya version 17 no es 0Fh ni 10h"), std::string::npos);
    EXPECT_EQ(hwCompruebaSlic(3), 0);
    sTraza.clear();
    hwTrazaEstadoSlic(0x0101);
    EXPECT_EQ(sTraza, " >>>>>> Nuevo estado: MTIFM_ERR_ACCESO_DISPOSITIVO MTIFM_EST_BUCLE_CERRADO \n");
    FijaGanchoTextoIpc(nullptr);
}

TEST_F(PlacaSimulada, MutedReceivePathIsNotCompared) {
    ASSERT_EQ(hwIniciaSlic(2, 1, 0, 0, 0), 0);
    placa->Orden("rechaza 0x80044D18 1");  // the gain never reaches the module
    EXPECT_EQ(hwSlicGananciaRx(2, 5), -7);
    EXPECT_EQ(hwSilenciaRxSlic(2), 0);
    EXPECT_EQ(hwCompruebaSlic(2), 0);
    placa->Orden("rechaza 0x80044D18 1");
    EXPECT_EQ(hwRestauraRxSlic(2), -7);
    EXPECT_EQ(hwCompruebaSlic(2), -6);
    EXPECT_TRUE(HayLinea("HW COMPRUEBA SLIC 2 rx 0 (5)"));
}

TEST_F(PlacaSimulada, LineControlsReachTheModule) {
    const int m = 9;
    ASSERT_EQ(hwIniciaSlic(m, 1, 0, 0, 0), 0);
    EXPECT_EQ(hwArrancaRingSlic(m), 0);
    EXPECT_EQ(Campo(*placa, m, "modo"), "2");
    EXPECT_EQ(Campo(*placa, m, "ring"), "1");
    EXPECT_EQ(Campo(*placa, m, "m10"), "0");
    EXPECT_EQ(hwCompruebaSlic(m), 0);  // ringing mode is the one in force
    EXPECT_EQ(hwParaRingSlic(m), 0);
    EXPECT_EQ(Campo(*placa, m, "ring"), "0");
    EXPECT_EQ(Campo(*placa, m, "modo"), "1");
    EXPECT_EQ(hwPasaAConvSlic(m), 0);
    EXPECT_EQ(Campo(*placa, m, "conv"), "1");
    EXPECT_EQ(hwPasaAReposoSlic(m), 0);
    EXPECT_EQ(Campo(*placa, m, "conv"), "0");
    EXPECT_EQ(hwActivaLineaSlic(m), 0);
    EXPECT_EQ(Campo(*placa, m, "linea"), "1");
    EXPECT_EQ(hwResetSlic(m), 0);
    EXPECT_EQ(Campo(*placa, m, "resets"), "2");
    EXPECT_EQ(hwCompruebaSlic(m), 0);
    EXPECT_EQ(hwCierraSlic(m), 0);
    EXPECT_EQ(hwCierraSlic(m), -1);
    EXPECT_EQ(hwCompruebaSlic(m), -1);  // back to its set-up state
}

TEST_F(PlacaSimulada, StandAloneModuleCheckPutsItInRingingMode) {
    EXPECT_EQ(hwSupervisaSlic(16), -2);
    EXPECT_EQ(hwSupervisaSlic(4), 0);
    EXPECT_EQ(Campo(*placa, 4, "modo"), "2");
    EXPECT_EQ(placa->Puntos(), (std::vector<uint32_t>{4}));
    placa->Orden("desajuste 4");
    EXPECT_EQ(hwSupervisaSlic(4), 0);  // it writes the mode again first
    placa->Orden("rechaza 0x80044D01 1");
    placa->Orden("desajuste 4");
    EXPECT_EQ(hwSupervisaSlic(4), -6);
    EXPECT_TRUE(HayLinea("HW COMPRUEBA SLIC 4  modo 1002 (2) "));
}

TEST_F(PlacaSimulada, SupervisorTurnsStateWordsIntoEventsInOrder) {
    const int m = 6;
    CEntidadGrabadora e;
    ASSERT_EQ(hwIniciaSlic(m, 1, 0, 0, 0), 0);
    ASSERT_EQ(hwRegistraEventosSlic(m, &e, nullptr), 0);
    placa->Palabra(m, 0x0003);
    ASSERT_TRUE(Espera([&] { return e.Cuantos() >= 2; }));
    placa->Palabra(m, 0x0000);
    ASSERT_TRUE(Espera([&] { return e.Cuantos() >= 4; }));
    placa->OcupaEyM(m);
    ASSERT_TRUE(Espera([&] { return e.Cuantos() >= 5; }));
    placa->LiberaEyM(m);
    ASSERT_TRUE(Espera([&] { return e.Cuantos() >= 6; }));
    placa->Orden("fallo " + std::to_string(m));
    ASSERT_TRUE(Espera([&] { return e.Cuantos() >= 7; }));
    placa->Orden("finfallo " + std::to_string(m));
    placa->Descuelga(m);
    ASSERT_TRUE(Espera([&] { return e.Cuantos() >= 8; }));
    EXPECT_EQ(e.Eventos(), (std::vector<std::string>{"DetRing(6)", "CierreBucle(6)", "DetFinRing(6)",
                                                     "BucleAbierto(6)", "DetLlamadaEyM(6)", "DetFinLlamadaEyM(6)",
                                                     "FalloSlic(6,256)", "CierreBucle(6)"}));
    EXPECT_TRUE(HayLinea("Leo supervision Slic canal 6 muestras=1 buf=3"));
}

// Ticks given until the entity has n events (at most 20); -1 when they never come.
int TicksHasta(CTemporizador& t, CEntidadGrabadora& e, size_t n) {
    for (int i = 1; i <= 20; i++) {
        t.Tick();
        if (e.Cuantos() >= n) return i;
    }
    return -1;
}

TEST_F(PlacaSimulada, DebounceTimerFiltersShortChangesAndWaitsLongerAfterRinging) {
    const int m = 1;
    CEntidadGrabadora e;
    // Never destroyed: the supervisor thread may still arm on it while the process ends.
    CTemporizador* t = new CTemporizador();
    t->Inicia(32, new pruebas::CFuenteParada());
    ASSERT_EQ(hwIniciaSlic(m, 1, 0, 0, 0), 0);
    ASSERT_EQ(hwRegistraEventosSlic(m, &e, t), 0);
    // The supervisor logs each word once its timer is armed.
    auto leidas = [&](int n) { return Espera([&] { return CuentaLineas("Leo supervision Slic canal 1 ") >= n; }); };

    // Loop closed and opened again within the debounce time: nothing reaches the entity.
    placa->Descuelga(m);
    ASSERT_TRUE(leidas(1));
    placa->Cuelga(m);
    ASSERT_TRUE(leidas(2));
    for (int i = 0; i < 10; i++) t->Tick();
    EXPECT_EQ(e.Cuantos(), 0u);

    placa->Descuelga(m);
    ASSERT_TRUE(leidas(3));
    int iNormal = TicksHasta(*t, e, 1);
    EXPECT_GE(iNormal, 2);
    EXPECT_EQ(e.Eventos().back(), "CierreBucle(1)");

    ASSERT_EQ(hwParaRingSlic(m), 0);
    placa->Cuelga(m);
    ASSERT_TRUE(leidas(4));
    EXPECT_EQ(TicksHasta(*t, e, 2), iNormal + 3);  // 5 ticks instead of 2, once
    placa->Descuelga(m);
    ASSERT_TRUE(leidas(5));
    EXPECT_EQ(TicksHasta(*t, e, 3), iNormal);
}

}  // namespace
