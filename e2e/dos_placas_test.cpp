// Two boards on one LAN (scripts/sandbox-pair): side A runs the combined example, side B its
// neighbour (placa_vecina.ini, hot line LC-02, the far end of A's LC-01). Each side is this
// program again, running LadoPlaca.Placa with VK_PAR_LADO set; the sides meet through marker
// files in a directory of the shared /tmp.
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "placa_e2e.h"

namespace {

using namespace e2e;

constexpr int kMsPaso = 90000;  // one step of a side on a loaded machine

std::string Dir() { return std::getenv("VK_PAR_DIR") ? std::getenv("VK_PAR_DIR") : "/tmp"; }
void Marca(const std::string& s) { std::ofstream(Dir() + "/" + s) << "1"; }
bool HayMarca(const std::string& s) { return access((Dir() + "/" + s).c_str(), F_OK) == 0; }

class CLado {
public:
    explicit CLado(char c) : cLado(c), cOtro(c == 'A' ? 'B' : 'A') {}
    ~CLado() {
        if (::testing::Test::HasFailure()) {
            Marca(std::string("fallo") + cLado);
            std::printf("side %c console:\n%s\n%s\n", cLado, p.consola ? p.consola->Texto().c_str() : "",
                        p.Informe().c_str());
        }
    }
    // The other side's marker; false at once when the other side has failed.
    bool EsperaOtro(const std::string& s, int iMs = kMsPaso) {
        return EsperaQue([&] { return HayMarca(s + cOtro) || HayMarca(std::string("fallo") + cOtro); }, iMs) &&
               HayMarca(s + cOtro);
    }
    void Hecho(const std::string& s) { Marca(s + cLado); }

    // The board starts on sEjemplo, its hot line comes into service and its console shows the
    // other board's hot line sLinea, idle, under the other's name sPasarela.
    void Arranca(const std::string& sEjemplo, const std::string& sPasarela, const std::string& sLinea) {
        ASSERT_TRUE(p.Arranca(sEjemplo));
        ASSERT_TRUE(CPlaca::RecursoDice(kCaliente, "CENTLC[4]:Recurso DSP configurado", kMsPaso));
        ASSERT_TRUE(TablaMuestra({"\nQLN=" + sPasarela + ":  version=", "REC " + sLinea + " estado 0 prioridad 0\n"}))
            << cLado << " never saw " << sPasarela;
    }

    // The console's table of other gateways (command P) matches every pattern.
    bool TablaMuestra(const std::vector<std::string>& vPatrones, int iMs = kMsPaso) {
        std::vector<std::regex> vRe;
        for (const std::string& s : vPatrones) vRe.emplace_back(s);
        const auto fin = std::chrono::steady_clock::now() + std::chrono::milliseconds(iMs);
        do {
            const size_t iDesde = p.consola->Texto().size();
            p.consola->Orden("P");
            const bool bVisto = EsperaQue(
                [&] {
                    const std::string s = p.consola->Texto().substr(iDesde);
                    for (const std::regex& r : vRe)
                        if (!std::regex_search(s, r)) return false;
                    return true;
                },
                1000);
            if (bVisto) return true;
        } while (std::chrono::steady_clock::now() < fin);
        return false;
    }
    // DSP channel of the hot line: the one running the LCEN line protocol.
    int CanalLinea() {
        std::istringstream ss(p.placa->Dsp("canales"));
        std::string l;
        while (std::getline(ss, l)) {
            std::istringstream c(l);
            int iCanal;
            std::string sAsignado, sProtocolo;
            if (c >> iCanal >> sAsignado >> sProtocolo && sAsignado == "asignado" && sProtocolo == "protocolo=1")
                return iCanal;
        }
        return -1;
    }
    void EventoLinea(const std::string& s) { p.placa->Dsp("evento " + std::to_string(CanalLinea()) + " " + s); }
    // The hot line's log says s after what it held when the step began.
    bool LineaDice(const std::string& s, int iMs = kMsPaso) {
        return EsperaQue([&] { return CPlaca::LogRecurso(kCaliente).find(s, iDesde) != std::string::npos; }, iMs);
    }
    void NuevoPaso() { iDesde = CPlaca::LogRecurso(kCaliente).size(); }
    // The other board's call placed on this line: the line's far end (the simulated DSP)
    // answers, and both sides mark the call connected as sMarca.
    void Contesta(const std::string& sMarca) {
        ASSERT_TRUE(LineaDice("CENTLC[4]: ldspLlama()= ")) << "the other board's call never came";
        EventoLinea("libre");
        ASSERT_TRUE(LineaDice("CENTLC[4]: Evt Libre Acepta llamada(", 10000));
        Hecho(sMarca);
        ASSERT_TRUE(EsperaOtro(sMarca));
    }

    char cLado, cOtro;
    CPlaca p;
    size_t iDesde = 0;
};

// Board A: its hot line LC-01 is seized, the call reaches LC-02 of board B, then A's line is
// released; then B's call comes to LC-01, is answered, and A's line ends it. A's telephone
// handset goes up so that it publishes a priority.
void LadoA() {
    CLado l('A');
    ASSERT_NO_FATAL_FAILURE(l.Arranca("placa_completa.ini", "PASARELA-VECINA", "LC-02"));
    // An off-hook handset is published with priority 1 once the hardware watches it (20 s).
    l.p.placa->Descuelga(kTelefono);
    l.Hecho("visto");
    ASSERT_TRUE(l.EsperaOtro("visto"));

    l.EventoLinea("entrante 0 - -");
    ASSERT_TRUE(l.LineaDice("CENTLC[4]: AceptaLlamada (")) << "B never answered";
    // B's line is busy with A's call, and A's table shows it.
    EXPECT_TRUE(l.TablaMuestra({"REC LC-02 estado 1 prioridad 0\n"}));
    l.Hecho("conectada");
    ASSERT_TRUE(l.EsperaOtro("conectada"));

    l.NuevoPaso();
    l.EventoLinea("liberada 0");
    ASSERT_TRUE(l.LineaDice("CENTLC[4]: Fin llamada RX("));
    ASSERT_TRUE(l.EsperaOtro("libre"));

    // B's call: this line is rung, answers, and ends the call itself.
    ASSERT_NO_FATAL_FAILURE(l.Contesta("conectada2"));
    l.EventoLinea("liberada 0");
    EXPECT_TRUE(l.LineaDice("CENTLC[4]: Fin llamada TX("));
    EXPECT_TRUE(l.EsperaOtro("fin"));
    EXPECT_TRUE(l.p.nucleo.Vivo());
}

// Board B: sees A's lines, answers A's call on LC-02 and sees it cleared from A's side; then
// calls A from LC-02 and sees A end that call.
void LadoB() {
    CLado l('B');
    ASSERT_NO_FATAL_FAILURE(l.Arranca("placa_vecina.ini", "PASARELA-E2E", "LC-01"));
    l.Hecho("visto");
    ASSERT_TRUE(l.EsperaOtro("visto"));

    ASSERT_NO_FATAL_FAILURE(l.Contesta("conectada"));

    ASSERT_TRUE(l.LineaDice("CENTLC[4]: Fin LlamSaliente (")) << "A's release never came";
    l.NuevoPaso();
    l.Hecho("libre");

    l.EventoLinea("entrante 0 - -");
    ASSERT_TRUE(l.LineaDice("CENTLC[4]: AceptaLlamada (")) << "A never answered";
    l.Hecho("conectada2");
    ASSERT_TRUE(l.EsperaOtro("conectada2"));
    EXPECT_TRUE(l.LineaDice("CENTLC[4]: Fin LlamEntrante (")) << "A's end of the call never came";
    // A's off-hook telephone, with its priority as A's line process gave it.
    EXPECT_TRUE(l.TablaMuestra({"REC TLF-01 estado [0-9]+ prioridad 1\n"})) << "A's telephone priority";
    EXPECT_TRUE(l.p.nucleo.Vivo());
    l.Hecho("fin");
}

TEST(LadoPlaca, Placa) {
    const char* szLado = std::getenv("VK_PAR_LADO");
    if (szLado == nullptr) GTEST_SKIP() << "one board of DosPlacas; runs under scripts/sandbox-pair";
    if (szLado[0] == 'A')
        LadoA();
    else
        LadoB();
}

// Both boards, each in its own sandbox, on one veth link; the status of the pair.
int EjecutaPar() {
    char acPropio[4096] = {};
    if (readlink("/proc/self/exe", acPropio, sizeof acPropio - 1) <= 0) return -1;
    const std::string sScript = DirFuente() + "../scripts/sandbox-pair";
    // /tmp is shared by every test of the run, and process ids repeat across sandboxes.
    char acDir[] = "/tmp/dosplacas.XXXXXX";
    if (mkdtemp(acDir) == nullptr) return -1;
    setenv("VK_PAR_DIR", acDir, 1);
    const std::string sLado = std::string(acPropio) + " --gtest_filter=LadoPlaca.Placa";
    const int r = std::system(("timeout 280 " + sScript + " " + sLado + " -- " + sLado).c_str());
    std::system((std::string("rm -rf ") + acDir).c_str());
    return r;
}

TEST(DosPlacas, EachBoardSeesTheOthersStatesAndTheirHotLinesCallEachOther) {
    SOLO_EN_E2E();
    EXPECT_EQ(EjecutaPar(), 0);
}

}  // namespace
