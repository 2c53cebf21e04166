// The whole board as real processes (simulated board, core, resource processes, DSP service,
// stand-ins) on a description of 16 BC telephone lines, in the sandbox:
//  - CPU of all the board's processes over a window with the 16 lines idle, and with 4 calls in
//    conversation (sipp callers echoing the line's RTP, handsets lifted); RSS of them together;
//  - INVITE to 180 on one line: sipp's UAC with the ED-137 headers, one call at a time, each
//    cancelled once it rings.
// --llamadas=N and --ventana=S shorten the runs. Last lines: board_cpu_pct_idle=N,
// board_cpu_pct_4calls=N, board_rss_mib=N, invite_to_180_ms_p50=N, invite_to_180_ms_p99=N.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "csimboard.h"
#include "nucleo_proceso.h"
#include "procesos_placa.h"
#include "sipp.h"

namespace {

using pruebas::EsperaQue;

constexpr int kLineas = 16;
constexpr int kConversaciones = 4;
constexpr int kLineaTiempos = 1;  // the line of the INVITE-to-180 calls
int g_llamadas = 500;
const char kTraza[] = "/tmp/system_bench_sipp.log";
int g_ventana_s = 30;

struct Resultado {
    double dCpuReposo = -1, dCpu4 = -1, dRss = -1, dP50 = -1, dP99 = -1;
    int iCorrectas = 0, iFallidas = 0;
};
Resultado g_r;
std::unique_ptr<simboard::CSimBoard> g_placa;
pruebas::CNucleo g_nucleo;
bool g_lista = false;

std::string DirSoporte() {
    const std::string f = __FILE__;
    return f.substr(0, f.rfind('/') + 1) + "soporte/";
}
std::string Servicio(int iLinea) {
    char ac[16];
    std::snprintf(ac, sizeof ac, "TLF-%02d", iLinea);
    return ac;
}
bool Suena(int iLinea) { return g_placa->Slic(iLinea).find(" ring=1 ") != std::string::npos; }
bool LineaDice(int iLinea, const std::string& s, int iMs) {
    return EsperaQue([&] { return pruebas::LogRecurso(iLinea).find(s) != std::string::npos; }, iMs);
}

// CPU of the board's processes over the window, in % of one core.
double CpuVentana() {
    const auto vAntes = placa_procesos::Descendientes(getpid());
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(g_ventana_s));
    const auto vDespues = placa_procesos::Descendientes(getpid());
    const double dS = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::map<std::string, double> mPorNombre;
    for (const auto& p : vDespues)
        for (const auto& a : vAntes)
            if (a.iPid == p.iPid) mPorNombre[p.sNombre] += (p.dCpuS - a.dCpuS) * 100.0 / dS;
    for (const auto& e : mPorNombre) std::fprintf(stderr, "  cpu_pct %s=%.1f\n", e.first.c_str(), e.second);
    return placa_procesos::CpuEntre(vAntes, vDespues) * 100.0 / dS;
}

bool ArrancaPlaca() {
    g_placa = simboard::CSimBoard::Arranca();
    if (!g_placa) return false;
    pruebas::InstalaProgramas();
    pruebas::ConfiguraLogs();
    const std::string sOrden = pruebas::DirBuild() + "/sim/cfgagent/cfgagent escribe " + DirSoporte() +
                               "placa_16_telefonos.ini --sin-senal";
    if (std::system(sOrden.c_str()) != 0) return false;
    g_nucleo.Arranca({});
    for (int i = 0; i < kLineas; i++)
        if (!LineaDice(i, "CENTTLF[" + std::to_string(i) + "]:Recurso DSP configurado", 90000)) {
            std::fprintf(stderr, "system_bench: line %d did not come up\n", i);
            return false;
        }
    return true;
}

void BM_PlacaEnReposo(benchmark::State& st) {
    for (auto _ : st) {
        if (!g_lista) {
            st.SkipWithError("the board did not start");
            break;
        }
        g_r.dCpuReposo = CpuVentana();
    }
    st.counters["cpu_pct"] = g_r.dCpuReposo;
}

// INVITE to 180 of every call, in ms, from sipp's message trace (its own response times come
// in steps of its 4 ms clock): the first INVITE sent and the first 180 received per Call-ID.
std::vector<double> Tiempos(const std::string& sTraza) {
    std::ifstream f(sTraza);
    std::map<std::string, double> mInvite, m180;
    double dT = 0;
    enum { NADA, ENVIADO, RECIBIDO } eDir = NADA;
    std::string sPrimera;
    for (std::string l; std::getline(f, l);) {
        if (l.rfind("----------------------------------------------- ", 0) == 0) {
            // "... 2026-12-09 05:41:07.996028": seconds of the day
            const size_t p = l.rfind(' ');
            int h = 0, m = 0;
            double sg = 0;
            if (p != std::string::npos && std::sscanf(l.c_str() + p + 1, "%d:%d:%lf", &h, &m, &sg) == 3)
                dT = h * 3600.0 + m * 60.0 + sg;
            eDir = NADA;
            sPrimera.clear();
        } else if (l.rfind("UDP message sent", 0) == 0) {
            eDir = ENVIADO;
        } else if (l.rfind("UDP message received", 0) == 0) {
            eDir = RECIBIDO;
        } else if (eDir != NADA && sPrimera.empty() && !l.empty()) {
            sPrimera = l;
        } else if (eDir != NADA && l.rfind("Call-ID:", 0) == 0) {
            const std::string sId = l.substr(8);
            if (eDir == ENVIADO && sPrimera.rfind("INVITE ", 0) == 0) mInvite.emplace(sId, dT);
            if (eDir == RECIBIDO && sPrimera.rfind("SIP/2.0 180", 0) == 0) m180.emplace(sId, dT);
        }
    }
    std::vector<double> v;
    for (const auto& e : m180) {
        const auto it = mInvite.find(e.first);
        if (it != mInvite.end()) v.push_back((e.second - it->second) * 1000.0);
    }
    return v;
}
double Percentil(std::vector<double> v, double p) {
    if (v.empty()) return -1;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(std::ceil(p * static_cast<double>(v.size()))) - 1)];
}

void BM_InviteA180(benchmark::State& st) {
    for (auto _ : st) {
        if (!g_lista) {
            st.SkipWithError("the board did not start");
            break;
        }
        Sipp uac({"-sf", DirSoporte() + "uac_180_cancel.xml", "-s", Servicio(kLineaTiempos), "-m",
                  std::to_string(g_llamadas), "-l", "1", "-r", "20", "-trace_msg", "-message_file", kTraza, "-timeout",
                  std::to_string(g_llamadas + 60) + "s", "-timeout_error", "127.0.0.1:5060"},
                 5070);
        uac.Espera((g_llamadas + 80) * 1000);
        const std::string sLog = uac.Log();
        auto Contador = [&](const char* n) {
            const size_t p = sLog.rfind(n);
            if (p == std::string::npos) return -1;
            const std::string l = sLog.substr(p, sLog.find('\n', p) - p);
            return std::atoi(l.c_str() + l.rfind('|') + 1);
        };
        g_r.iCorrectas = Contador("Successful call");
        g_r.iFallidas = Contador("Failed call");
        if (g_r.iFallidas != 0 || g_r.iCorrectas != g_llamadas) {
            std::fprintf(stderr, "%s\n", sLog.substr(0, 6000).c_str());
            const std::string sNucleo = pruebas::LeeTodo("/mnt/ramfs/vk_pelm.log");
            const size_t i = sNucleo.find("Traplic_Invite");
            std::fprintf(stderr, "core:\n%s\n", sNucleo.substr(i == std::string::npos ? 0 : i, 20000).c_str());
            std::fprintf(stderr, "line:\n%s\n", pruebas::LogRecurso(kLineaTiempos).c_str());
        }
        std::vector<double> v = Tiempos(kTraza);
        std::sort(v.begin(), v.end());
        const auto iLentas = std::count_if(v.begin(), v.end(), [](double d) { return d > 20.0; });
        std::fprintf(stderr, "invite_to_180: %zu calls, %ld over 20 ms, slowest:", v.size(), static_cast<long>(iLentas));
        for (size_t i = v.size() > 8 ? v.size() - 8 : 0; i < v.size(); i++) std::fprintf(stderr, " %.1f", v[i]);
        std::fprintf(stderr, "\n");
        g_r.dP50 = Percentil(v, 0.50);
        g_r.dP99 = Percentil(v, 0.99);
    }
    st.counters["ok"] = g_r.iCorrectas;
    st.counters["failed"] = g_r.iFallidas;
    st.counters["p50_ms"] = g_r.dP50;
    st.counters["p99_ms"] = g_r.dP99;
}

void BM_CuatroConversaciones(benchmark::State& st) {
    for (auto _ : st) {
        if (!g_lista) {
            st.SkipWithError("the board did not start");
            break;
        }
        std::vector<std::unique_ptr<Sipp>> vSipp;
        bool bEnConversacion = true;
        for (int i = 1; i <= kConversaciones; i++) {
            vSipp.push_back(std::make_unique<Sipp>(
                std::vector<std::string>{"-sf", DirSoporte() + "../../src/fonmira/tests/uac_linea_cuelga.xml",
                                         "-s", Servicio(i), "-m", "1", "-mp", std::to_string(6000 + 10 * i),
                                         "-rtp_echo", "127.0.0.1:5060"},
                5070 + i));
            if (!EsperaQue([&] { return Suena(i); }, 20000)) bEnConversacion = false;
            g_placa->Descuelga(i);
            if (!LineaDice(i, "CENTTLF[" + std::to_string(i) + "]: Pasa a Conv (" + std::to_string(i) + ")", 40000))
                bEnConversacion = false;
        }
        if (!bEnConversacion) {
            st.SkipWithError("the calls did not reach conversation");
            break;
        }
        std::this_thread::sleep_for(std::chrono::seconds(2));  // the RTP streams settle
        g_r.dCpu4 = CpuVentana();
        g_r.dRss = placa_procesos::RssTotal(placa_procesos::Descendientes(getpid()));
        for (int i = 1; i <= kConversaciones; i++) g_placa->Cuelga(i);
        for (auto& s : vSipp) s->Espera(30000);
    }
    st.counters["cpu_pct"] = g_r.dCpu4;
    st.counters["rss_mib"] = g_r.dRss;
}

BENCHMARK(BM_PlacaEnReposo)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_CuatroConversaciones)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_InviteA180)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
    // The programs of this build tree (bench/ is one level down).
    char ac[4096];
    const ssize_t n = readlink("/proc/self/exe", ac, sizeof ac - 1);
    std::string sBuild = n > 0 ? std::string(ac, static_cast<size_t>(n)) : std::string();
    sBuild = sBuild.substr(0, sBuild.rfind('/'));
    sBuild = sBuild.substr(0, sBuild.rfind('/'));
    setenv("VK_BUILD_DIR", sBuild.c_str(), 1);
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--llamadas=", 11) == 0) g_llamadas = std::max(1, std::atoi(argv[i] + 11));
        if (std::strncmp(argv[i], "--ventana=", 10) == 0) g_ventana_s = std::max(1, std::atoi(argv[i] + 10));
    }
    benchmark::Initialize(&argc, argv);
    g_lista = ArrancaPlaca();
    if (!g_lista) std::fprintf(stderr, "system_bench: the board did not start\n%s\n", g_nucleo.Salida().c_str());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::printf("invite_to_180_calls ok=%d failed=%d\n", g_r.iCorrectas, g_r.iFallidas);
    std::printf("board_cpu_pct_idle=%.1f\nboard_cpu_pct_4calls=%.1f\nboard_rss_mib=%.1f\n", g_r.dCpuReposo, g_r.dCpu4,
                g_r.dRss);
    std::printf("invite_to_180_ms_p50=%.1f\ninvite_to_180_ms_p99=%.1f\n", g_r.dP50, g_r.dP99);
    std::fflush(stdout);
    _exit(0);  // the board's processes die with the sandbox
}
