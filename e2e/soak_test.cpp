// The board on the combined example under calls without pause for VK_E2E_SOAK_MIN minutes
// (default 10): the telephone line called by sipp and answered with its handset, the hot line
// called by sipp and answering on its own. No call may fail, and no process of the board may
// grow: resident memory (on a build without the address sanitizer) and open descriptors (its
// connections to the simulated board aside) at the end within 5 % of what they were after the
// first minute (both taken with the lines at rest).
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <map>
#include <sstream>
#include <thread>

#include "../src/lintaro/tests/central_dsp.h"
#include "placa_e2e.h"
#include "procesos_placa.h"
#include "sipp.h"

namespace {

using namespace e2e;
using Reloj = std::chrono::steady_clock;

// Texts of a log from byte iDesde on; a log that shrank (rotated) is read from its start.
std::string Desde(const std::string& sLog, size_t iDesde) { return iDesde <= sLog.size() ? sLog.substr(iDesde) : sLog; }

// One line's loop of calls: each pass places and ends one call and says whether it went right.
// The loop stops at a pause request between calls, so that the board can be measured at rest.
class CBucle {
public:
    CBucle(std::string sNombre, std::function<bool()> fLlamada) : sNombre(std::move(sNombre)), fLlamada(std::move(fLlamada)) {}
    void Arranca() {
        hHilo = std::thread([this] {
            while (!bFin) {
                if (bPausa) {
                    bEnPausa = true;
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                    continue;
                }
                bEnPausa = false;
                iHechas++;
                if (!fLlamada()) {
                    iFallidas++;
                    std::printf("soak: %s call %d failed\n", sNombre.c_str(), iHechas.load());
                }
            }
            bEnPausa = true;
        });
    }
    void Pausa(bool b) {
        bPausa = b;
        if (!b) bEnPausa = false;
    }
    bool EnPausa() const { return bEnPausa; }
    void Termina() {
        bFin = true;
        if (hHilo.joinable()) hHilo.join();
    }
    ~CBucle() { Termina(); }

    const std::string sNombre;
    std::atomic<int> iHechas{0}, iFallidas{0};

private:
    std::function<bool()> fLlamada;
    std::thread hHilo;
    std::atomic<bool> bFin{false}, bPausa{false}, bEnPausa{false};
};

// The last lines of a log, for a failed call's report.
std::string Cola(const std::string& sLog, int iLineas = 40) {
    size_t i = sLog.size();
    for (int n = 0; n <= iLineas && i > 0; n++) i = sLog.rfind('\n', i - 1);
    return i == std::string::npos ? sLog : sLog.substr(i);
}

// The telephone line: sipp calls it, the handset is lifted while it rings and put down once the
// answer has reached SIP; the line sends BYE.
bool LlamadaTelefono(simboard::CSimBoard& oPlaca) {
    const size_t iLinea = CPlaca::LogRecurso(kTelefono).size();
    const size_t iNucleo = CPlaca::LogNucleo().size();
    Sipp sipp({"-sf", DirFuente() + "../src/fonmira/tests/uac_linea_cuelga.xml", "-m", "1", "-s", "TLF-01", "-mp", "6000",
               "-timeout", "60s", "-timeout_error", "127.0.0.1:5060"},
              5070);
    auto Dice = [](const std::function<std::string()>& fLog, size_t iDesde, const std::string& s, int iMs) {
        return EsperaQue([&] { return Desde(fLog(), iDesde).find(s) != std::string::npos; }, iMs);
    };
    auto Linea = [] { return CPlaca::LogRecurso(kTelefono); };
    bool bBien = EsperaQue([&] { return oPlaca.Slic(kTelefono).find(" ring=1 ") != std::string::npos; }, 10000);
    oPlaca.Descuelga(kTelefono);
    // The hardware layer watches the handset 20 s after its start: the first call waits for it.
    bBien = bBien && Dice(Linea, iLinea, "CENTTLF[1]: Pasa a Conv (1)", 40000);
    bBien = bBien && Dice(CPlaca::LogNucleo, iNucleo, "CSUPEREC[1]: Traplic_ACK", 10000);
    oPlaca.Cuelga(kTelefono);
    bBien = sipp.Espera(30000) == 0 && bBien;
    // At rest again before the next call.
    bBien = Dice(Linea, iLinea, "CENTTLF[1]: Fin llamada ", 10000) && bBien;
    if (!bBien)
        std::printf("soak: telephone call:\n%s\ncore:\n%s\nline:\n%s\n", sipp.Log().c_str(), Cola(CPlaca::LogNucleo()).c_str(),
                    Cola(CPlaca::LogRecurso(kTelefono)).c_str());
    return bBien;
}

// The hot line takes calls from its remote end only and calls its far end through the DSP: the
// far end (the simulated DSP) reports it free, which answers the call, sipp ends the call after a second, and the far end goes
// back to rest.
bool LlamadaLineaCaliente(simboard::CSimBoard& oPlaca) {
    const int iCanal = central_dsp::CanalConProtocolo(oPlaca, 1);
    const size_t iLinea = CPlaca::LogRecurso(kCaliente).size();
    auto Dice = [&](const std::string& s, int iMs) {
        return EsperaQue([&] { return Desde(CPlaca::LogRecurso(kCaliente), iLinea).find(s) != std::string::npos; }, iMs);
    };
    Sipp sipp({"-sf", DirFuente() + "uac_linea_caliente.xml", "-m", "1", "-s", "LC-01", "-mp", "6100", "-timeout",
               "30s", "-timeout_error", "127.0.0.1:5060"},
              5072);
    bool bBien = iCanal >= 0 && Dice("CENTLC[4]: ldspLlama()= 0", 10000);
    if (bBien) oPlaca.Dsp("evento " + std::to_string(iCanal) + " libre");
    bBien = sipp.Espera(40000) == 0 && bBien;
    if (bBien && !Dice("CENTLC[4]: EvtDspReposo", 3000)) {
        oPlaca.Dsp("evento " + std::to_string(iCanal) + " reposo");
        bBien = Dice("CENTLC[4]: EvtDspReposo", 5000);
    }
    if (!bBien)
        std::printf("soak: hot line call:\n%s\ncore:\n%s\nline:\n%s\nDSP:\n%s\n", sipp.Log().c_str(),
                    Cola(CPlaca::LogNucleo()).c_str(), Cola(CPlaca::LogRecurso(kCaliente)).c_str(),
                    oPlaca.Dsp("canales").c_str());
    return bBien;
}

int Minutos() {
    const char* p = std::getenv("VK_E2E_SOAK_MIN");
    return p && std::atoi(p) > 0 ? std::atoi(p) : 10;
}

// What each descriptor of a process points to, one per line.
std::string ListaDescriptores(pid_t iPid) {
    std::string s;
    for (const auto& l : placa_procesos::Descriptores(iPid)) s += l + "\n";
    return s;
}

// The board measured with every loop paused between calls: per process the least of a few
// samples, so that a descriptor or a buffer of the moment (a client of the simulated board, a
// socket the audio thread closes on its next pass) does not count as growth. pListas: the
// descriptors of each process in a sample with the counts returned.
std::vector<placa_procesos::Proceso> EnReposo(std::vector<CBucle*> vBucles, std::map<pid_t, std::string>* pListas) {
    for (auto* b : vBucles) b->Pausa(true);
    EsperaQue([&] { return std::all_of(vBucles.begin(), vBucles.end(), [](CBucle* b) { return b->EnPausa(); }); },
              120000);
    // Resident memory: the least of the samples. Descriptors: the count seen most often, since
    // some are closed and opened again now and then (a trunk's test call, a reconnection) and a
    // single sample may fall on either side of that; the process's own apart from its
    // connections to the simulated board, which stand in for the board's device drivers.
    std::map<pid_t, placa_procesos::Proceso> m;
    std::map<pid_t, std::map<std::pair<int, int>, int>> mVecesFds;
    std::map<pid_t, std::map<std::pair<int, int>, std::string>> mListas;
    for (int i = 0; i < 10; i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        for (const auto& e : placa_procesos::Descendientes(getpid())) {
            const std::pair<int, int> par{e.iFds - e.iFdsPlaca, e.iFdsPlaca};
            if (mVecesFds[e.iPid][par]++ == 0) mListas[e.iPid][par] = ListaDescriptores(e.iPid);
            auto it = m.find(e.iPid);
            if (it == m.end()) {
                m[e.iPid] = e;
                continue;
            }
            it->second.dRssMib = std::min(it->second.dRssMib, e.dRssMib);
        }
    }
    for (auto* b : vBucles) b->Pausa(false);
    std::vector<placa_procesos::Proceso> v;
    for (auto& e : m) {
        const auto& veces = mVecesFds[e.first];
        const auto par = std::max_element(veces.begin(), veces.end(), [](const auto& a, const auto& b) {
                             return a.second < b.second;
                         })->first;
        e.second.iFds = par.first;
        e.second.iFdsPlaca = par.second;
        (*pListas)[e.first] = mListas[e.first][par];
        v.push_back(e.second);
    }
    return v;
}

bool Dentro(double dFinal, double dInicial) { return std::fabs(dFinal - dInicial) <= 0.05 * dInicial; }

// The address sanitizer's allocator holds memory of its own (quarantine, per-thread caches,
// shadow) that grows under load whatever the program does: resident memory means something
// only on a build without it. Descriptors and calls are judged on every build.
#ifdef __SANITIZE_ADDRESS__
constexpr bool kJuzgaMemoria = false;
#else
constexpr bool kJuzgaMemoria = true;
#endif

TEST(Soak, EveryLineCallsWithoutPauseAndNoProcessGrowsNorFails) {
    SOLO_EN_E2E();
    // The address sanitizer's quarantine keeps freed memory resident up to its size: with it,
    // every process of a sanitized build would seem to grow for the first hundreds of MiB.
    const char* pAsan = std::getenv("ASAN_OPTIONS");
    setenv("ASAN_OPTIONS", (std::string(pAsan ? pAsan : "") + ":quarantine_size_mb=0").c_str(), 1);
    CPlaca p;
    ASSERT_TRUE(p.Arranca());
    ASSERT_TRUE(CPlaca::RecursoDice(kTelefono, "CENTTLF[1]:Recurso DSP configurado", 60000)) << p.Informe();
    ASSERT_TRUE(CPlaca::RecursoDice(kCaliente, "CENTLC[4]: EvtDspReposo", 60000)) << p.Informe();
    simboard::CSimBoard oPlaca(p.placa->Socket());  // the telephone loop's own client

    CBucle oTelefono("telephone", [&] { return LlamadaTelefono(oPlaca); });
    simboard::CSimBoard oPlacaLc(p.placa->Socket());  // the hot line loop's own client
    // In service at the core once the line's first published state reached it: the first call
    // it takes starts the count.
    ASSERT_TRUE(EsperaQue([&] { return LlamadaLineaCaliente(oPlacaLc); }, 60000)) << p.Informe();
    CBucle oCaliente("hot line", [&] { return LlamadaLineaCaliente(oPlacaLc); });
    std::vector<CBucle*> vBucles = {&oTelefono, &oCaliente};
    const auto tInicio = Reloj::now();
    for (auto* b : vBucles) b->Arranca();

    std::this_thread::sleep_until(tInicio + std::chrono::minutes(1));
    std::map<pid_t, std::string> mFdsMinuto, mFdsFinal;
    const auto vMinuto = EnReposo(vBucles, &mFdsMinuto);
    // The trend, minute by minute, for telling a leak from a level that settles.
    for (int iMin = 2; iMin <= Minutos(); iMin++) {
        std::this_thread::sleep_until(tInicio + std::chrono::minutes(iMin));
        std::string sRss = "soak: minute " + std::to_string(iMin) + " rss_mib", sFds = " fds";
        for (const auto& e : placa_procesos::Descendientes(getpid())) {
            char ac[64];
            std::snprintf(ac, sizeof ac, " %s=%.2f", e.sNombre.c_str(), e.dRssMib);
            sRss += ac;
            sFds += " " + e.sNombre + "=" + std::to_string(e.iFds - e.iFdsPlaca) + "+" + std::to_string(e.iFdsPlaca);
        }
        std::printf("%s%s\n", sRss.c_str(), sFds.c_str());
        std::fflush(stdout);
    }
    const auto vFinal = EnReposo(vBucles, &mFdsFinal);
    for (auto* b : vBucles) b->Termina();

    std::map<pid_t, placa_procesos::Proceso> mFinal;
    for (const auto& e : vFinal) mFinal[e.iPid] = e;
    std::printf("soak: %d min%s\n", Minutos(), kJuzgaMemoria ? "" : " (sanitized build: resident memory shown, not judged)");
    for (const auto& a : vMinuto) {
        const auto it = mFinal.find(a.iPid);
        const bool bVivo = it != mFinal.end();
        const placa_procesos::Proceso f = bVivo ? it->second : placa_procesos::Proceso{};
        std::printf("soak: %-10s pid %-5d rss_mib 1min=%.2f end=%.2f  fds 1min=%d end=%d  board connections "
                    "1min=%d end=%d\n",
                    a.sNombre.c_str(), a.iPid, a.dRssMib, f.dRssMib, a.iFds, f.iFds, a.iFdsPlaca, f.iFdsPlaca);
        // Any change is shown, also one within the margin: a single descriptor more is a leak
        // that a longer run would show.
        if (bVivo && (f.iFds != a.iFds || f.iFdsPlaca != a.iFdsPlaca))
            std::printf("soak: %s descriptors after 1 min:\n%sat the end:\n%s", a.sNombre.c_str(),
                        mFdsMinuto[a.iPid].c_str(), mFdsFinal[a.iPid].c_str());
        EXPECT_TRUE(bVivo) << a.sNombre << " " << a.iPid << " died";
        // The simulated board stands in for the hardware: its journal of device requests fills
        // up to its bound, and the test's own clients come and go; it is shown, not judged.
        if (!bVivo || a.sNombre == "simboard" || a.sNombre == "sipp") continue;
        if (kJuzgaMemoria) {
            EXPECT_TRUE(Dentro(f.dRssMib, a.dRssMib)) << a.sNombre << " rss " << a.dRssMib << " -> " << f.dRssMib;
        }
        EXPECT_TRUE(Dentro(f.iFds, a.iFds)) << a.sNombre << " fds " << a.iFds << " -> " << f.iFds << "\nafter 1 min:\n"
                                            << mFdsMinuto[a.iPid] << "at the end:\n"
                                            << mFdsFinal[a.iPid];
        // One board connection per device call under way at once: never more than threads.
        EXPECT_LE(f.iFdsPlaca, f.iHilos) << a.sNombre << " board connections";
    }
    int iHechas = 0, iFallidas = 0;
    for (auto* b : vBucles) {
        std::printf("soak: %s calls placed=%d failed=%d\n", b->sNombre.c_str(), b->iHechas.load(), b->iFallidas.load());
        iHechas += b->iHechas;
        iFallidas += b->iFallidas;
    }
    std::printf("soak: calls placed=%d failed=%d\n", iHechas, iFallidas);
    EXPECT_GT(oTelefono.iHechas.load(), 0);
    EXPECT_GT(oCaliente.iHechas.load(), 0);
    EXPECT_EQ(iFallidas, 0);
    EXPECT_TRUE(p.nucleo.Vivo());
}

}  // namespace
