// The resource programs as real processes on the simulated board, with the test as their
// core on the real queue: start-up, configuration, answers to the core's requests, end.
#include <sys/msg.h>

#include <gtest/gtest.h>

#include "csimboard.h"
#include "proceso_recurso.h"

namespace {

using namespace pruebas_recurso;
using std::chrono::milliseconds;

constexpr int REC = 3;
constexpr uint32_t MASCARA_LINEA = 0x10;

cfgConfigRecurso Telefono() {
    cfgConfigRecurso r;
    std::strcpy(r.nombre, "TLF-03");
    r.iTipo = 2;
    r.iTipoIf = TIPOIF_AB;
    r.iSlot = 0;
    r.iDispositivo = 3;  // line module 3
    r.iCfgModoSistema = 1;
    r.iSelGananciaAgcTx = 0;
    r.iGananciaAgcTx = 5;
    r.iSelGananciaAgcRx = 0;
    r.iGananciaAgcRx = 6;
    return r;
}

class ProcesoRecurso : public ::testing::Test {
protected:
    void SetUp() override {
        ConfiguraLog();
        placa = simboard::CSimBoard::Arranca();
        ASSERT_TRUE(placa);
    }
    void TearDown() override {
        if (HasFailure()) std::printf("log:\n%s\nsalida:\n%s\ntrazas:\n%s\n", hijo.Log().c_str(),
                                      CHijoRecurso::Salida().c_str(), Buzon::Global().Trazas().c_str());
    }
    // Started and configured; the line module runs in the mode of its type.
    void ArrancaConfigurado(const cfgConfigRecurso& r) {
        hijo.Arranca("fonmira", REC, MASCARA_LINEA);
        ASSERT_TRUE(EsperaQue([] { return !Buzon::Global().De(COD_SIN_CONFIG).empty(); }, 5000));
        hijo.Configura(r);
        ASSERT_TRUE(hijo.LogContiene("FIN ArrancaHW(3)", 10000));
    }
    // Whether the last mode read of line module 3 in the board's recent journal found the mode
    // written (the module is checked every few seconds: a good check is otherwise silent).
    bool UltimaLecturaModoBuena() {
        const std::string d = placa->Diario();
        const size_t p = d.rfind("/dev/mtifm3 ioctl 0x40044D02 ");
        const size_t q = p == std::string::npos ? p : d.find("-> ", p);
        return q != std::string::npos && d.compare(q, 7, "-> 0x1\n") == 0;
    }
    size_t Diagnosticos() { return Buzon::Global().De(COD_DIAGNOSTICO).size(); }
    bool Diagnostico(int iCodigo, int32_t id, int32_t iResultado, int iMs) {
        return EsperaQue([&] {
            for (const auto& m : Buzon::Global().De(COD_DIAGNOSTICO))
                if (m.a == iCodigo && m.b == id && m.c == iResultado) return true;
            return false;
        }, iMs);
    }

    std::unique_ptr<simboard::CSimBoard> placa;
    CHijoRecurso hijo;
};

TEST_F(ProcesoRecurso, AnnouncesEveryHalfSecondUntilConfiguredThenStartsItsLine) {
    hijo.Arranca("fonmira", REC, MASCARA_LINEA);
    ASSERT_TRUE(EsperaQue([] { return Buzon::Global().De(COD_SIN_CONFIG).size() >= 4; }, 6000));
    auto v = Buzon::Global().De(COD_SIN_CONFIG);
    for (size_t i = 1; i < v.size(); ++i) {
        auto ms = std::chrono::duration_cast<milliseconds>(v[i].t - v[i - 1].t).count();
        EXPECT_GE(ms, 400) << i;
        EXPECT_LE(ms, 1500) << i;
    }
    hijo.Configura(Telefono());
    ASSERT_TRUE(EsperaQue([] { return Buzon::Global().Trazas().find("TLF [3]: CFG OK\n") != std::string::npos; },
                          5000));
    const size_t n = Buzon::Global().De(COD_SIN_CONFIG).size();
    std::this_thread::sleep_for(milliseconds(1200));  // the announcements must have stopped
    EXPECT_LE(Buzon::Global().De(COD_SIN_CONFIG).size(), n + 1);

    // AB line: the module is put at rest (register value 2), then started in mode 3 (the
    // driver writes 1) on its time slot 13 with codec 8 (written as 0). The mode is written
    // first: the slot, codec and gains are there once the start is over.
    ASSERT_TRUE(hijo.LogContiene("FIN ArrancaHW(3)", 10000)) << hijo.Log();
    ASSERT_TRUE(EsperaQue([&] { return placa->Slic(3).find("modo=1 ") != std::string::npos; }, 10000))
        << placa->Slic(3);
    const std::string slic = placa->Slic(3);
    EXPECT_NE(slic.find("tstx=13 "), std::string::npos) << slic;
    EXPECT_NE(slic.find("codec=0 "), std::string::npos) << slic;
    EXPECT_NE(slic.find("gantx=5 "), std::string::npos) << slic;
    EXPECT_NE(slic.find("ganrx=6 "), std::string::npos) << slic;

    EXPECT_NE(hijo.Log().find("ARRANQUE Recurso _rec3.log"), std::string::npos);
    const std::string traza = ficheros_pruebas::LeeTodo("/var/fonmira_03.pid");
    EXPECT_NE(traza.find(" PID " + std::to_string(hijo.Pid()) + " -> Recurso_X. Funcion main() (3) \t- src/recurso/main_x\n"),
              std::string::npos)
        << traza;
    EXPECT_TRUE(hijo.Vivo());
}

TEST_F(ProcesoRecurso, EndsWithZeroAboutSixSecondsAfterTheCoreFallsSilent) {
    ArrancaConfigurado(Telefono());
    hijo.Calla();
    const auto t0 = Reloj::now();
    EXPECT_EQ(hijo.EsperaFin(15000), 0);
    const auto ms = std::chrono::duration_cast<milliseconds>(Reloj::now() - t0).count();
    EXPECT_GE(ms, 4000);  // the last heartbeat may be up to a second old
    EXPECT_LE(ms, 9000);
    EXPECT_NE(hijo.Log().find("Saliendo (3)"), std::string::npos);
}

TEST_F(ProcesoRecurso, EndsWhileWaitingForItsConfigurationWhenTheCoreFallsSilent) {
    hijo.Arranca("kalvesk", REC, MASCARA_LINEA);
    ASSERT_TRUE(EsperaQue([] { return !Buzon::Global().De(COD_SIN_CONFIG).empty(); }, 5000));
    hijo.Calla();
    EXPECT_EQ(hijo.EsperaFin(15000), 0);
    EXPECT_EQ(hijo.Log().find("FIN ArrancaHW"), std::string::npos);
}

struct CasoCambio {
    const char* nombre;
    void (*fCambia)(cfgConfigRecurso&);
    bool bReinicia;       // total change: the process ends (and the core starts it again)
    const char* szLinea;  // logged by the comparison
};

void PrintTo(const CasoCambio& c, std::ostream* os) { *os << c.nombre; }

class CambioConfigRecurso : public ProcesoRecurso, public ::testing::WithParamInterface<CasoCambio> {};

TEST_P(CambioConfigRecurso, ANewRecordRestartsTheProcessOnlyWhenItMust) {
    const CasoCambio& c = GetParam();
    cfgConfigRecurso r = Telefono();
    ArrancaConfigurado(r);
    c.fCambia(r);
    hijo.Configura(r);
    ASSERT_TRUE(hijo.LogContiene(c.szLinea, 5000));
    if (c.bReinicia) {
        EXPECT_EQ(hijo.EsperaFin(5000), 0);
        EXPECT_NE(hijo.Log().find("mrecCompruebaConfigGeneral Cambio total"), std::string::npos);
    } else {
        EXPECT_EQ(hijo.EsperaFin(2500), -1);
        EXPECT_EQ(hijo.Log().find("Cambio total"), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Casos, CambioConfigRecurso,
    ::testing::Values(
        CasoCambio{"Identico", [](cfgConfigRecurso&) {}, false, "mrecCompruebaConfigRec cambio nulo"},
        CasoCambio{"GananciaRx", [](cfgConfigRecurso& r) { r.iGananciaAgcRx = 9; }, false, "Cambia iGananciaAgcRx 9"},
        CasoCambio{"ParteDeLinea", [](cfgConfigRecurso& r) { r.uParam.tlf.iUmbralVox = 77; }, false,
                   "mrecCompruebaConfigIf Cambio parcial"},
        CasoCambio{"Slot", [](cfgConfigRecurso& r) { r.iSlot = 1; }, true, "mrecCompruebaConfigGeneral: Cambia iSlot 0->1"},
        CasoCambio{"Nombre", [](cfgConfigRecurso& r) { std::strcpy(r.nombre, "TLF-99"); }, true,
                   "mrecCompruebaConfigGeneral: Cambia szNombre"},
        CasoCambio{"TipoIf", [](cfgConfigRecurso& r) { r.iTipoIf = TIPOIF_BL; }, true,
                   "mrecCompruebaConfigGeneral: Cambia iTipoIf 4->3"}),
    [](const ::testing::TestParamInfo<CasoCambio>& i) { return std::string(i.param.nombre); });

// A BC line under system mode 0 with the flag 1 is worked as an AB line: the record the
// process holds says so, and the core's unchanged record is not a change of type.
TEST_F(ProcesoRecurso, BcLineWorkedAsAbIsNotRestartedByTheSameRecord) {
    cfgConfigRecurso r = Telefono();
    r.iTipoIf = TIPOIF_BC;
    r.iCfgModoSistema = 0;
    r.iFlgUsarDiffServ = 1;
    ArrancaConfigurado(r);
    // Mode 3 (AB, written as 1), not mode 2 of a BC line.
    EXPECT_TRUE(EsperaQue([&] { return placa->Slic(3).find("modo=1 ") != std::string::npos; }, 10000));
    hijo.Configura(r);
    ASSERT_TRUE(hijo.LogContiene("mrecCompruebaConfigRec cambio nulo", 5000));
    EXPECT_EQ(hijo.EsperaFin(2500), -1);
    EXPECT_EQ(hijo.Log().find("Cambio total"), std::string::npos);
}

TEST_F(ProcesoRecurso, EveryRequestOfTheCoreIsAnsweredAndAMalformedOneIsDropped) {
    ArrancaConfigurado(Telefono());
    Cola& q = hijo.Canal();
    // A call-request frame cut short, straight onto the queue.
    struct {
        long mtype;
        uint8_t texto[8];
    } corto = {q.TipoEnvio(), {COD_LLAMADA_SALIENTE, 1, 2, 3, 4, 5, 6, 7}};
    ASSERT_EQ(msgsnd(q.DameCola(), &corto, sizeof corto.texto, IPC_NOWAIT), 0);

    DatosLlamada d{};
    std::strcpy(d.acOrigen, "318001");
    std::strcpy(d.acDestino, "318002");
    int32_t idPrimera = -1, idLlamada = -1;
    ASSERT_GE(q.EnviaLlamadaSalienteId(&d, &idPrimera), 0);
    EXPECT_TRUE(Diagnostico(5, idPrimera, 0, 5000));
    // The line is busy with the first: the second is refused, not left unanswered.
    ASSERT_GE(q.EnviaLlamadaSalienteId(&d, &idLlamada), 0);
    EXPECT_TRUE(Diagnostico(5, idLlamada, 207, 5000));
    DireccionSesion s{};
    s.iPayload = 8;
    s.iPayloadForzado = -1;
    s.iPuertoLocal = 4000;
    // A field above 255: the session is not created, never half-parsed.
    std::strcpy(s.acDirRemota, "192.0.2.256");
    s.iPuertoRemoto = 4002;
    int32_t idSesion = -1;
    ASSERT_GE(q.EnviaNuevaSesionId(&s, &idSesion), 0);
    EXPECT_TRUE(Diagnostico(15, idSesion, 203, 5000));
    EXPECT_EQ(Diagnosticos(), 3u);  // nothing for the cut frame

    ASSERT_EQ(q.EnviaPintaEstadisticas(), 0);
    ASSERT_TRUE(EsperaQue([] { return Buzon::Global().Trazas().find("<Ninguno>\n") != std::string::npos; }, 5000));
    const std::string t = Buzon::Global().Trazas();
    EXPECT_NE(t.find("    Recurso TLF  V0.0.1 operativo desde "), std::string::npos);
    EXPECT_NE(t.find("    Buid: QUARVELD 2017-01-20 09:03:24\n"), std::string::npos);
    EXPECT_NE(t.find("   NOMBRE  TLF-03\n"), std::string::npos);
    EXPECT_NE(t.find("IPCREC[3]: EvtLlamadaSaliente\n"), std::string::npos);
    EXPECT_NE(t.find("TLF [3]: Rechaza Llam Saliente Rec Ocupado\n"), std::string::npos);
    EXPECT_TRUE(hijo.Vivo());
}

TEST_F(ProcesoRecurso, ConsoleLevelZeroSilencesTheTracesButNotTheAnswers) {
    ArrancaConfigurado(Telefono());
    Cola& q = hijo.Canal();
    ASSERT_EQ(q.EnviaNivelConsola(0), 0);
    DatosLlamada d{};
    int32_t id = -1;
    ASSERT_GE(q.EnviaLlamadaSalienteId(&d, &id), 0);
    ASSERT_TRUE(Diagnostico(5, id, 0, 5000));
    EXPECT_NE(Buzon::Global().Trazas().find("IPCREC[3]: EvtNivelConsola\n"), std::string::npos);
    EXPECT_EQ(Buzon::Global().Trazas().find("EvtLlamadaSaliente"), std::string::npos);
}

TEST_F(ProcesoRecurso, TerminaPutsTheLineAtRestOnceAndTheProcessRunsOn) {
    ArrancaConfigurado(Telefono());
    ASSERT_TRUE(EsperaQue([&] { return placa->Slic(3).find("modo=1 ") != std::string::npos; }, 10000));
    Cola& q = hijo.Canal();
    ASSERT_EQ(q.EnviaTermina(), 0);
    ASSERT_EQ(q.EnviaTermina(), 0);
    ASSERT_TRUE(EsperaQue([] {
        const std::string s = CHijoRecurso::Salida();
        return s.find("TRAZA Termina") != s.rfind("TRAZA Termina");
    }, 5000));
    EXPECT_NE(placa->Slic(3).find("modo=2 "), std::string::npos) << placa->Slic(3);
    const std::string log = hijo.Log();
    EXPECT_EQ(log.find("Terminahw(3)"), log.rfind("Terminahw(3)"));
    EXPECT_NE(log.find("Terminahw(3)"), std::string::npos);
    EXPECT_EQ(hijo.EsperaFin(1500), -1);
}

// Before its configuration the process has no line module: EvtTermina must not reset module
// 0, which may be another resource's line.
TEST_F(ProcesoRecurso, TerminaBeforeTheConfigurationTouchesNoLineModule) {
    hijo.Arranca("fonmira", REC, MASCARA_LINEA);
    ASSERT_TRUE(EsperaQue([] { return !Buzon::Global().De(COD_SIN_CONFIG).empty(); }, 5000));
    ASSERT_EQ(hijo.Canal().EnviaTermina(), 0);
    ASSERT_TRUE(EsperaQue([] { return CHijoRecurso::Salida().find("TRAZA Termina") != std::string::npos; }, 5000));
    EXPECT_NE(placa->Slic(0).find("modo=- "), std::string::npos) << placa->Slic(0);
    EXPECT_EQ(hijo.Log().find("Terminahw"), std::string::npos);
    EXPECT_TRUE(hijo.Vivo());
}

// A line module whose parameters read back wrong is put right by the hardware layer at each
// check; only the fourth mismatch in a row restarts the line hardware, once.
TEST_F(ProcesoRecurso, FourthSlicParameterMismatchInARowRestartsTheLineOnce) {
    ArrancaConfigurado(Telefono());
    auto Veces = [&](const std::string& s) { return hijo.VecesEnLog(s); };
    const size_t nArranques = Veces("FIN ArrancaHW(3)");
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(Veces("FIN ArrancaHW(3)"), nArranques) << i;
        placa->Orden("desajuste 3");
        ASSERT_TRUE(hijo.LogContiene("HW_ERR_PARAMS iNumReconfigSlic=" + std::to_string(i) + " ", 20000)) << i;
    }
    EXPECT_TRUE(EsperaQue([&] { return Veces("FIN ArrancaHW(3)") == nArranques + 1; }, 10000));
    placa->Orden("desajuste 3");
    EXPECT_TRUE(EsperaQue([&] { return Veces("HW_ERR_PARAMS iNumReconfigSlic=0 ") == 2; }, 20000));
    EXPECT_EQ(Veces("FIN ArrancaHW(3)"), nArranques + 1);
}

// Three mismatches and then a good read restart nothing: the count starts again.
TEST_F(ProcesoRecurso, GoodSlicReadAfterThreeMismatchesStartsTheCountAgain) {
    ArrancaConfigurado(Telefono());
    auto Veces = [&](const std::string& s) { return hijo.VecesEnLog(s); };
    const size_t nArranques = Veces("FIN ArrancaHW(3)");
    for (int i = 0; i < 3; ++i) {
        placa->Orden("desajuste 3");
        ASSERT_TRUE(hijo.LogContiene("HW_ERR_PARAMS iNumReconfigSlic=" + std::to_string(i) + " ", 20000)) << i;
    }
    ASSERT_TRUE(EsperaQue([&] { return UltimaLecturaModoBuena(); }, 20000));
    placa->Orden("desajuste 3");
    EXPECT_TRUE(EsperaQue([&] { return Veces("HW_ERR_PARAMS iNumReconfigSlic=0 ") == 2; }, 20000));
    EXPECT_EQ(Veces("FIN ArrancaHW(3)"), nArranques);
}

// With the automatic gain selected the receive gain is the module's own: neither the start nor
// the update at each good read writes the configured one.
TEST_F(ProcesoRecurso, SelectedAutomaticGainIsNeverWrittenToTheLineModule) {
    cfgConfigRecurso r = Telefono();
    r.iSelGananciaAgcRx = 1;
    ArrancaConfigurado(r);
    ASSERT_TRUE(EsperaQue([&] { return UltimaLecturaModoBuena(); }, 20000));
    placa->Orden("desajuste 3");  // its repair writes the gains the hardware layer was given
    ASSERT_TRUE(hijo.LogContiene("HW_ERR_PARAMS iNumReconfigSlic=0 ", 20000));
    const std::string slic = placa->Slic(3);
    EXPECT_NE(slic.find("gantx=5 "), std::string::npos) << slic;
    EXPECT_EQ(slic.find("ganrx=6 "), std::string::npos) << slic;
}

struct CasoFalloSlic {
    const char* nombre;
    bool bArrancando;  // every mode read refused: every check mismatches, the line stays starting
};

void PrintTo(const CasoFalloSlic& c, std::ostream* os) { *os << c.nombre; }

class FalloSlic : public ProcesoRecurso, public ::testing::WithParamInterface<CasoFalloSlic> {};

// A failure reported by the line module stops a running line, which the next pass starts
// again; while a start is under way it changes nothing.
TEST_P(FalloSlic, ModuleFailureRestartsTheLineUnlessItIsStarting) {
    const bool bArrancando = GetParam().bArrancando;
    if (bArrancando) placa->Orden("rechaza 0x40044D02");
    ArrancaConfigurado(Telefono());
    if (bArrancando) {
        ASSERT_TRUE(hijo.LogContiene("HW_ERR_PARAMS", 20000));
    }
    auto Veces = [&](const std::string& s) { return hijo.VecesEnLog(s); };
    placa->Orden("fallo 3");
    ASSERT_TRUE(hijo.LogContiene("CENTRC[3]: EvtFalloSlic(3)", 40000));
    const size_t nChequeos = Veces("HW_ERR_PARAMS");
    // The next pass either starts the line again or checks it again.
    ASSERT_TRUE(EsperaQue([&] { return Veces(" CONFIGURA  3") > 1 || Veces("HW_ERR_PARAMS") > nChequeos; }, 20000));
    EXPECT_EQ(Veces(" CONFIGURA  3"), bArrancando ? 1u : 2u);
}

INSTANTIATE_TEST_SUITE_P(Casos, FalloSlic,
                         ::testing::Values(CasoFalloSlic{"EnMarcha", false}, CasoFalloSlic{"Arrancando", true}),
                         [](const ::testing::TestParamInfo<CasoFalloSlic>& i) { return std::string(i.param.nombre); });

// Presence is read on the card that holds the entity's own line module (module / 4), not on
// the card that the resource number / 4 would name: resource 5 here works module 3, card 0.
TEST_F(ProcesoRecurso, ModulePresenceIsReadOnTheCardOfItsOwnLineModule) {
    placa->Orden("tipo 65536");      // a board that reports its cards' presence
    placa->Orden("presencia 1 0");   // card 1 (resource 5 / 4) missing
    hijo.Arranca("fonmira", 5, MASCARA_LINEA);
    ASSERT_TRUE(EsperaQue([] { return !Buzon::Global().De(COD_SIN_CONFIG).empty(); }, 5000));
    hijo.Configura(Telefono());
    ASSERT_TRUE(hijo.LogContiene("FIN ArrancaHW(3)", 10000));
    EXPECT_EQ(hijo.Log().find("Fallo hw"), std::string::npos);
    placa->Orden("presencia 0 0");  // its own card goes
    EXPECT_TRUE(hijo.LogContiene("CENTRC[5]: Fallo hw(3)", 5000));
}

struct CasoArgumentos {
    const char* nombre;
    std::vector<std::string> args;
    int iSalida;
    const char* szTexto;
};

void PrintTo(const CasoArgumentos& c, std::ostream* os) { *os << c.nombre; }

class Argumentos : public ::testing::TestWithParam<CasoArgumentos> {};

TEST_P(Argumentos, BadOrMissingArgumentsEndAtOnce) {
    const CasoArgumentos& c = GetParam();
    CHijoRecurso hijo;
    std::vector<std::string> args = {DirBuild() + "/src/lintaro/lintaro"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    hijo.Lanza(args);
    EXPECT_EQ(hijo.EsperaFin(10000), c.iSalida);
    EXPECT_EQ(CHijoRecurso::Salida(), c.szTexto);
}

INSTANTIATE_TEST_SUITE_P(
    Casos, Argumentos,
    ::testing::Values(
        CasoArgumentos{"DosArgumentos", {"1", "16"}, 0, " Recurso R2N5 V0.0.1  (QUARVELD 2017-01-20 09:03:24)\n\n"},
        CasoArgumentos{"RecursoNegativo", {"-1", "16", "77"}, 255, "Error en datos de arranque. REC=-1, PID_VORTIK=77\n"},
        CasoArgumentos{"NucleoNegativo", {"2", "16", "-5"}, 255, "Error en datos de arranque. REC=2, PID_VORTIK=-5\n"}),
    [](const ::testing::TestParamInfo<CasoArgumentos>& i) { return std::string(i.param.nombre); });

}  // namespace
