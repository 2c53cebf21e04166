// Audio path of one line through a real resource process (fonmira) on the simulated board,
// over 60 s of a call: the bench is the core (session messages on the real queue) and the
// remote RTP end on loopback. Every 100 ms a marked 20 ms block enters the line's PCM and
// another leaves as RTP towards the line; the latency of each is the time until its RTP
// packet arrives, and until it appears in what the line's PCM played (the board's capture,
// polled every millisecond). The CPU of the process during the call, less
// its CPU with the line idle, is the cost of one active session.
// Last three lines: line_to_rtp_ms_p99=N, rtp_to_line_ms_p99=N, cpu_pct_per_session=N.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "audio_prueba.h"
#include "csimboard.h"
#include "proceso_recurso.h"

namespace {

using namespace pruebas_recurso;
using std::chrono::microseconds;
using std::chrono::milliseconds;

constexpr int REC = 3;
constexpr int CANAL_LINEA = 51;  // PCM channel of line module 3
constexpr uint16_t PUERTO_LOCAL = 5004;
constexpr uint16_t PUERTO_REMOTO = 7000;
constexpr int SEGUNDOS_LLAMADA = 60;
constexpr int SEGUNDOS_REPOSO = 10;
constexpr int BLOQUE = 160;
constexpr int PAQUETES_POR_MARCA = 5;  // one marked block every 100 ms
constexpr uint8_t MARCA = 0xA0, FIN_MARCA = 0xA1, RELLENO = 0x2A;
const char* const INYECCION = "/mnt/ramfs/marca.pcm";
const char* const CAPTURA = "/mnt/ramfs/linea.pcm";

// A block starting MARCA, k (two bytes), FIN_MARCA: its number k, or -1.
int Marca(const uint8_t* p, size_t n) {
    if (n < 4 || p[0] != MARCA || p[3] != FIN_MARCA) return -1;
    return p[1] << 8 | p[2];
}

std::vector<uint8_t> BloqueMarcado(int k) {
    std::vector<uint8_t> v(BLOQUE, RELLENO);
    v[0] = MARCA;
    v[1] = static_cast<uint8_t>(k >> 8);
    v[2] = static_cast<uint8_t>(k);
    v[3] = FIN_MARCA;
    return v;
}

// Times (steady clock) by marker number, written by one thread, read at the end.
struct Tiempos {
    std::mutex tMutex;  // guards m
    std::map<int, Reloj::time_point> m;
    void Anota(int k, Reloj::time_point t) {
        std::lock_guard<std::mutex> l(tMutex);
        m.emplace(k, t);
    }
};

double Percentil99(std::vector<double> v) {
    if (v.empty()) return -1;
    std::sort(v.begin(), v.end());
    return v[static_cast<size_t>(std::ceil(0.99 * static_cast<double>(v.size()))) - 1];
}

std::vector<double> Latencias(Tiempos& a, Tiempos& b) {
    std::vector<double> v;
    std::lock_guard<std::mutex> la(a.tMutex);
    std::lock_guard<std::mutex> lb(b.tMutex);
    for (const auto& e : a.m) {
        auto it = b.m.find(e.first);
        if (it != b.m.end()) v.push_back(std::chrono::duration<double, std::milli>(it->second - e.second).count());
    }
    return v;
}

// User + system CPU of a process, in seconds.
double CpuDe(pid_t iPid) {
    std::ifstream f("/proc/" + std::to_string(iPid) + "/stat");
    std::string s((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    std::istringstream is(s.substr(s.rfind(')') + 2));
    std::string campo;
    unsigned long long ut = 0, st = 0;
    for (int i = 3; i <= 15 && is >> campo; i++) {
        if (i == 14) ut = std::stoull(campo);
        if (i == 15) st = std::stoull(campo);
    }
    return static_cast<double>(ut + st) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

struct Resultado {
    double dLineaRtp = -1, dRtpLinea = -1, dCpu = -1;
    size_t iMuestrasLineaRtp = 0, iMuestrasRtpLinea = 0;
};
Resultado gsResultado;
std::unique_ptr<simboard::CSimBoard> gpPlaca;

int Llamada(Resultado& r) {
    CHijoRecurso hijo;
    hijo.Arranca("fonmira", REC, 0);
    if (!EsperaQue([] { return !Buzon::Global().De(COD_SIN_CONFIG).empty(); }, 10000)) return -1;
    hijo.Configura(LineaTelefono());
    if (!hijo.LogContiene("FIN ArrancaHW(3)", 15000)) return -2;

    // The line idle: what the process costs without a session.
    const double dCpu0 = CpuDe(hijo.Pid());
    std::this_thread::sleep_for(std::chrono::seconds(SEGUNDOS_REPOSO));
    const double dCpuReposo = (CpuDe(hijo.Pid()) - dCpu0) / SEGUNDOS_REPOSO;

    int s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(PUERTO_REMOTO);
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return -3;
    timeval tv{0, 100000};
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);

    DireccionSesion d{};
    d.iPayloadForzado = 8;
    d.iPayload = 8;
    d.iPuertoLocal = PUERTO_LOCAL;
    std::strcpy(d.acDirRemota, "127.0.0.1");
    d.iPuertoRemoto = PUERTO_REMOTO;
    int32_t id = -1;
    hijo.Canal().EnviaNuevaSesionId(&d, &id);
    if (!EsperaQue([id] {
            for (const auto& m : Buzon::Global().De(COD_DIAGNOSTICO))
                if (m.a == 15 && m.b == id) return m.c == 0;
            return false;
        }, 5000))
        return -4;

    Tiempos inyectados, recibidos, enviados, oidos;
    std::atomic<bool> bFin{false};
    // RTP from the process: the marked blocks of the line.
    std::thread hRecibe([&] {
        uint8_t ac[1500];
        while (!bFin) {
            ssize_t n = recv(s, ac, sizeof ac, 0);
            const auto t = Reloj::now();
            const size_t iCab = n > 0 ? audio_prueba::CargaRtp(ac, static_cast<size_t>(n)) : 0;
            if (iCab == 0) continue;
            const int k = Marca(ac + iCab, static_cast<size_t>(n) - iCab);
            if (k >= 0) recibidos.Anota(k, t);
        }
    });
    // What the line played: the capture file, read as it grows; only its thread uses the reader.
    audio_prueba::LectorCaptura oLinea(gpPlaca->Socket(), CANAL_LINEA, CAPTURA);
    std::thread hEscucha([&] {
        std::string sVisto;
        while (!bFin) {
            const std::string sNuevo = oLinea.Nuevo();
            const auto t = Reloj::now();
            // Keep three bytes of the last read: a marker may straddle two reads.
            sVisto = sVisto.substr(sVisto.size() > 3 ? sVisto.size() - 3 : 0) + sNuevo;
            for (size_t i = 0; i + 4 <= sVisto.size(); i++) {
                const int k = Marca(reinterpret_cast<const uint8_t*>(sVisto.data()) + i, 4);
                if (k >= 0) oidos.Anota(k, t);
            }
            std::this_thread::sleep_for(milliseconds(1));
        }
    });
    // The remote end's stream towards the line, every 20 ms, and the marks into the line.
    const double dCpu1 = CpuDe(hijo.Pid());
    const auto tInicio = Reloj::now();
    sockaddr_in dst{};
    dst.sin_family = AF_INET;
    dst.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    dst.sin_port = htons(PUERTO_LOCAL);
    const int iPaquetes = SEGUNDOS_LLAMADA * 50;
    auto t = tInicio;
    for (int i = 0; i < iPaquetes; i++) {
        const int k = i / PAQUETES_POR_MARCA;
        const bool bMarcado = i % PAQUETES_POR_MARCA == 0;
        std::vector<uint8_t> carga = bMarcado ? BloqueMarcado(k) : std::vector<uint8_t>(BLOQUE, RELLENO);
        const std::vector<uint8_t> paquete = audio_prueba::PaqueteRtp(
            8, static_cast<uint16_t>(i), static_cast<uint32_t>(i) * BLOQUE, 0x5A5A0000u, carga.data(), BLOQUE);
        if (bMarcado) enviados.Anota(k, Reloj::now());
        sendto(s, paquete.data(), paquete.size(), 0, reinterpret_cast<const sockaddr*>(&dst), sizeof dst);
        if (bMarcado) {
            // Into the line half a packet later, so the two directions do not share a moment.
            std::this_thread::sleep_until(t + milliseconds(10));
            const std::vector<uint8_t> m = BloqueMarcado(k);
            std::ofstream(INYECCION, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(m.data()), BLOQUE);
            gpPlaca->Inyecta(CANAL_LINEA, INYECCION);
            inyectados.Anota(k, Reloj::now());
        }
        t += milliseconds(20);
        std::this_thread::sleep_until(t);
    }
    std::this_thread::sleep_for(milliseconds(300));  // the last marks on their way
    const double dSegundos = std::chrono::duration<double>(Reloj::now() - tInicio).count();
    const double dCpuLlamada = (CpuDe(hijo.Pid()) - dCpu1) / dSegundos;
    bFin = true;
    hRecibe.join();
    hEscucha.join();
    close(s);
    hijo.Canal().EnviaFinSesion(id);

    const std::vector<double> vLineaRtp = Latencias(inyectados, recibidos);
    const std::vector<double> vRtpLinea = Latencias(enviados, oidos);
    r.iMuestrasLineaRtp = vLineaRtp.size();
    r.iMuestrasRtpLinea = vRtpLinea.size();
    r.dLineaRtp = Percentil99(vLineaRtp);
    r.dRtpLinea = Percentil99(vRtpLinea);
    r.dCpu = std::max(0.0, (dCpuLlamada - dCpuReposo) * 100.0);
    return 0;
}

void BM_LlamadaDeUnMinuto(benchmark::State& st) {
    for (auto _ : st) {
        if (Llamada(gsResultado) != 0) st.SkipWithError("the resource process or its session did not start");
    }
    st.counters["line_to_rtp_ms_p99"] = gsResultado.dLineaRtp;
    st.counters["rtp_to_line_ms_p99"] = gsResultado.dRtpLinea;
    st.counters["marks_line_to_rtp"] = static_cast<double>(gsResultado.iMuestrasLineaRtp);
    st.counters["marks_rtp_to_line"] = static_cast<double>(gsResultado.iMuestrasRtpLinea);
    st.counters["cpu_pct_per_session"] = gsResultado.dCpu;
}
BENCHMARK(BM_LlamadaDeUnMinuto)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
    // The resource program and the board daemon of this build tree (bench/ is one level down).
    char ac[4096];
    ssize_t n = readlink("/proc/self/exe", ac, sizeof ac - 1);
    std::string sExe = n > 0 ? std::string(ac, static_cast<size_t>(n)) : std::string();
    std::string sBuild = sExe.substr(0, sExe.rfind('/'));
    sBuild = sBuild.substr(0, sBuild.rfind('/'));
    setenv("VK_BUILD_DIR", sBuild.c_str(), 1);
    ConfiguraLog();
    gpPlaca = simboard::CSimBoard::Arranca("/mnt/ramfs/simboard.sock");
    if (!gpPlaca) {
        fprintf(stderr, "audio_path_bench: the simulated board did not start\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    printf("line_to_rtp_ms_p99=%.1f\nrtp_to_line_ms_p99=%.1f\ncpu_pct_per_session=%.2f\n", gsResultado.dLineaRtp,
           gsResultado.dRtpLinea, gsResultado.dCpu);
    fflush(stdout);
    _exit(0);  // the daemon and the resource process die with their parent
}
