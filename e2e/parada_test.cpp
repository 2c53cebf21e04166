// The core's end, asked for by SIGTERM, SIGINT or the console's F while lines are in calls: the
// callers get their BYE, the core leaves with status 0 and no process of the board is left
// running. The test outlives the core, so its sandbox stays open and a process left behind would
// still be there to see. The sanitizer build ends the core through main, so that LeakSanitizer
// looks at it too.
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "comun/tests/proceso_hijo.h"
#include "placa_e2e.h"
#include "procesos_placa.h"
#include "sipp.h"
#include "troncales_e2e.h"

namespace {

using namespace e2e;

// The board's processes still running anywhere in the sandbox (an orphan is no descendant of
// the test any more), one "pid name" each.
std::string ProcesosDeLaPlaca() {
    const std::set<std::string> sPlaca = {"lintaro", "fonmira", "kalvesk", "dremson", "sopwent", "norbeck", "plenwat", "tuskev"};
    std::string s;
    for (const auto& e : placa_procesos::Descendientes(1))
        if (sPlaca.count(e.sNombre)) s += std::to_string(e.iPid) + " " + e.sNombre + "\n";
    return s;
}

// sipp calls user sServicio from sOrigen on its own SIP and media ports and keeps the call up
// until the board's BYE.
std::unique_ptr<Sipp> LlamaHastaBye(const std::string& sServicio, const std::string& sOrigen, const std::string& sAsunto,
                                    int iPuerto) {
    return std::make_unique<Sipp>(std::vector<std::string>{"-sf", DirFuente() + "uac_hasta_bye.xml", "-m", "1", "-s",
                                                           sServicio, "-key", "origen", sOrigen, "-key", "asunto",
                                                           sAsunto, "-mp", std::to_string(6000 + (iPuerto - 5070) * 50),
                                                           "127.0.0.1:5060"},
                                  iPuerto);
}

// A call to the hot line from its remote end: the line calls its far end through the DSP, which
// the test makes answer, and the line answers the caller.
std::unique_ptr<Sipp> LlamadaALaLineaCaliente(CPlaca& p) {
    // The line's idle state has reached the core: before it a call finds it unavailable.
    EXPECT_TRUE(CPlaca::NucleoDice("mantEnvia: V,N08,4,LC-01,1,", 40000));
    const int iCanal = central_dsp::CanalConProtocolo(*p.placa, 1);
    auto sipp = LlamaHastaBye("LC-01", "LC-02@192.0.2.24", "IA call", 5072);
    EXPECT_TRUE(CPlaca::RecursoDice(kCaliente, "CENTLC[4]: ldspLlama()= 0", 10000)) << sipp->Log();
    central_dsp::Evento(*p.placa, iCanal, "libre");
    EXPECT_TRUE(CPlaca::NucleoDice("CSUPEREC[4]: Traplic_ACK", 10000)) << sipp->Log();
    return sipp;
}

struct Manera {
    const char* szNombre;
    std::function<void(CPlaca&)> fPara;
};

// The board up with its hot line in a call; its state is printed when a test failed.
template <class T>
class EnLlamada : public ::testing::TestWithParam<T> {
protected:
    void TearDown() override {
        if (this->HasFailure() && p.placa)
            std::printf("%s\ncore output:\n%s\n", p.Informe().c_str(), p.nucleo.Salida().c_str());
    }
    std::unique_ptr<Sipp> Arranca() {
        if (!p.Arranca()) {
            ADD_FAILURE() << "the board did not start";
            return nullptr;
        }
        auto sipp = LlamadaALaLineaCaliente(p);
        EXPECT_NE(ProcesosDeLaPlaca(), "");
        return sipp;
    }
    CPlaca p;
};

class Parada : public EnLlamada<Manera> {
protected:
    void SetUp() override { setenv("VK_SALIDA_LIMPIA", "1", 1); }
};

TEST_P(Parada, CallerGetsItsByeAndNoProcessOfTheBoardOutlivesTheCore) {
    auto sipp = Arranca();
    ASSERT_FALSE(HasFailure());
    GetParam().fPara(p);
    EXPECT_EQ(p.nucleo.EsperaFin(20000), 0);
    EXPECT_EQ(ProcesosDeLaPlaca(), "");
    EXPECT_EQ(sipp->Espera(5000), 0) << sipp->Log();
    EXPECT_EQ(p.nucleo.Salida().find("LeakSanitizer"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Maneras, Parada,
                         ::testing::Values(Manera{"Sigterm", [](CPlaca& p) { kill(p.nucleo.Pid(), SIGTERM); }},
                                           Manera{"Sigint", [](CPlaca& p) { kill(p.nucleo.Pid(), SIGINT); }},
                                           Manera{"ConsolaF", [](CPlaca& p) { p.consola->Orden("F"); }}),
                         [](const ::testing::TestParamInfo<Manera>& i) { return i.param.szNombre; });

// A fault ends the core at once, without the orderly release, but its children must not outlive
// it: a new core would find them holding the lines and the queues.
class ParadaPorFallo : public EnLlamada<int> {};

TEST_P(ParadaPorFallo, NoProcessOfTheBoardOutlivesTheCore) {
    auto sipp = Arranca();
    ASSERT_FALSE(HasFailure());
    kill(p.nucleo.Pid(), GetParam());
    EXPECT_EQ(p.nucleo.EsperaFin(20000), 255);
    // Killed children may take a moment to be gone once their parent has left.
    EXPECT_TRUE(EsperaQue([] { return ProcesosDeLaPlaca().empty(); }, 5000)) << ProcesosDeLaPlaca();
}

INSTANTIATE_TEST_SUITE_P(Senales, ParadaPorFallo, ::testing::Values(SIGSEGV, SIGHUP),
                         [](const ::testing::TestParamInfo<int>& i) { return "Senal" + std::to_string(i.param); });

// Every line of the combined example in a call when SIGTERM comes: each caller gets its BYE and
// nothing of the board is left. Prints how long the stop took.
class ParadaLarga : public ::testing::Test {
protected:
    void SetUp() override { SOLO_EN_E2E(); }
    void TearDown() override {
        if (HasFailure() && p.placa)
            std::printf("%s\nDSP commands:\n%s\nrecords:\n%s\n", p.Informe().c_str(), p.placa->Dsp("comandos").c_str(),
                        LeeTodo(kRegistros).c_str());
    }
    const std::string kRegistros = "/mnt/ramfs/snmpagent.out";
    pruebas_proceso::CProcesoHijo agente;
    CPlaca p;
};

TEST_F(ParadaLarga, EveryLineInACallGetsItsByeAndTheStopTime) {
    using namespace troncales_e2e;
    agente.Arranca({pruebas::DirBuild() + "/sim/snmpagent/snmpagent"}, kRegistros);
    ASSERT_TRUE(p.Arranca());
    std::vector<std::unique_ptr<Sipp>> vLlamadas;
    vLlamadas.push_back(LlamadaALaLineaCaliente(p));
    int iPuerto = 5074;
    for (const Troncal* t : {&kTroncalR2, &kTroncalN5}) {
        const int c = EnServicio(*p.placa, *t, kRegistros);
        ASSERT_GE(c, 0) << t->szNombre;
        vLlamadas.push_back(LlamaHastaBye(t->szLejano, "400003@127.0.0.1", "DA/IDA call", iPuerto));
        iPuerto += 2;
        ASSERT_TRUE(EsperaQue([&] { return Tomas(*p.placa, *t, c, "400003") > 0; }, 20000)) << vLlamadas.back()->Log();
        ASSERT_TRUE(Contesta(*p.placa, *t, c));
        ASSERT_TRUE(CPlaca::NucleoDice("CSUPEREC[" + std::to_string(t->iRec) + "]: Traplic_ACK", 20000))
            << vLlamadas.back()->Log();
    }
    vLlamadas.push_back(LlamaHastaBye("TLF-01", "sipp@127.0.0.1", "IA call", 5070));
    ASSERT_TRUE(EsperaQue([&] { return p.placa->Slic(kTelefono).find(" ring=1 ") != std::string::npos; }, 20000));
    p.placa->Descuelga(kTelefono);
    // The hardware layer watches the handset 20 s after its start.
    ASSERT_TRUE(CPlaca::RecursoDice(kTelefono, "CENTTLF[1]: Pasa a Conv (1)", 40000));
    ASSERT_TRUE(CPlaca::NucleoDice("CSUPEREC[1]: Traplic_ACK", 10000)) << vLlamadas.back()->Log();

    const auto t0 = std::chrono::steady_clock::now();
    kill(p.nucleo.Pid(), SIGTERM);
    EXPECT_EQ(p.nucleo.EsperaFin(30000), 0);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0);
    EXPECT_EQ(ProcesosDeLaPlaca(), "");
    for (auto& s : vLlamadas) EXPECT_EQ(s->Espera(5000), 0) << s->Log();
    const std::string sLog = CPlaca::LogNucleo();
    const size_t i = sLog.find("MAIN: Placa detenida en ");
    std::printf("stop: SIGTERM to exit %lld ms; the core's own count: %s\n", static_cast<long long>(ms.count()),
                i == std::string::npos ? "none" : sLog.substr(i, sLog.find('\n', i) - i).c_str());
}

}  // namespace
