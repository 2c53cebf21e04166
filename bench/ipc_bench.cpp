// IPC channel: round trip of a small message between two processes through Cola ends
// and their handlers, against the same exchange with bare msgsnd/msgrcv on the same
// queue and message types; and one-way messages per second through Cola.
//
// The receive thread's flood guard pauses 20 ms after 501 receipts each less than
// 500 us apart: a sustained back-to-back exchange measures that guard, not the channel.
// The round trips are therefore timed in bursts of 400 with an idle millisecond between
// bursts (not timed), for both sides alike; the sustained figures are printed too. The ratio
// compares the handler chain (the parent's handler sends the next request) with bare
// msgsnd/msgrcv; the exchange driven from a third thread is printed beside it: its extra
// cost is the hand-over between that thread and the receive thread, not the channel.
#include <benchmark/benchmark.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "ipc/cola.h"

namespace {

const int kRafaga = 400;

pid_t pidEcoCola = -1, pidEcoCrudo = -1;

// ---- Child processes ----

Cola* pEco = nullptr;
std::atomic<bool> bFin{false};
std::atomic<int32_t> iRecibidos{0};
void EcoDescuelga(int32_t, int32_t id) { pEco->EnviaRespondeLibre(id); }
void EcoLibera(int32_t, int32_t) { iRecibidos.fetch_add(1, std::memory_order_relaxed); }
void EcoOcupado(int32_t, int32_t) { pEco->EnviaRespondeCongestion(iRecibidos.load()); }
void EcoTermina(int32_t) { bFin = true; }

int MainEcoCola() {
    pEco = new Cola(getppid(), COLA_HIJO, 0, getpid());
    pEco->RegistraDescuelga(EcoDescuelga);
    pEco->RegistraLibera(EcoLibera);
    pEco->RegistraRespondeOcupado(EcoOcupado);
    pEco->RegistraEvtTermina(EcoTermina);
    while (!bFin) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    pEco->Termina();
    delete pEco;
    return 0;
}

int MainEcoCrudo() {
    int q = msgget(CLAVE_COLA_PADRE_HIJO, IPC_CREAT | 0666);
    const long rx = getpid();
    const long tx = static_cast<long>(getpid()) * 10000 + getppid() % 10000;
    MensajeCola m;
    for (;;) {
        ssize_t n = msgrcv(q, &m, sizeof m.texto, rx, 0);
        if (n < 0) continue;
        if (m.texto[0] == COD_TERMINA) return 0;
        m.mtype = tx;
        m.texto[0] = COD_RESPONDE_LIBRE;
        msgsnd(q, &m, n, IPC_NOWAIT);
    }
}

pid_t Lanza(const char* modo) {
    pid_t p = fork();
    if (p == 0) {
        execl("/proc/self/exe", "ipc_bench", modo, static_cast<char*>(nullptr));
        _exit(3);
    }
    return p;
}

// ---- Parent side ----

Cola* pCola = nullptr;
std::atomic<int32_t> iRespuestas{0};
std::atomic<int32_t> iCuenta{-1};
// Handler chain: while a burst runs, the parent's handler sends the next request itself, so a
// round trip is two sends and two receipts through the ends and their handlers, as the
// bare exchange is two msgsnd and two msgrcv; the benchmark thread only waits for the burst.
std::atomic<bool> bCadena{false};
std::atomic<int32_t> iPendientes{0};
std::mutex tMutexCadena;
std::condition_variable tCondCadena;
bool bCadenaHecha = false;
void Respuesta(int32_t, int32_t id) {
    if (!bCadena.load(std::memory_order_acquire)) {
        iRespuestas.fetch_add(1, std::memory_order_release);
        return;
    }
    if (iPendientes.fetch_sub(1, std::memory_order_acq_rel) > 1) {
        pCola->EnviaDescuelga(id + 1);
        return;
    }
    std::lock_guard<std::mutex> l(tMutexCadena);
    bCadenaHecha = true;
    tCondCadena.notify_one();
}
void Cuenta(int32_t, int32_t n) { iCuenta.store(n, std::memory_order_release); }

void IdaYVueltaCola() {
    int32_t antes = iRespuestas.load(std::memory_order_acquire);
    pCola->EnviaDescuelga(antes);
    while (iRespuestas.load(std::memory_order_acquire) == antes) {
    }
}

int iCrudo = -1;
void IdaYVueltaCrudo() {
    static const long tx = pidEcoCrudo;
    static const long rx = static_cast<long>(pidEcoCrudo) * 10000 + getpid() % 10000;
    MensajeCola m;
    m.mtype = tx;
    m.texto[0] = COD_DESCUELGA;
    int32_t v = 7;
    memcpy(&m.texto[1], &v, 4);
    msgsnd(iCrudo, &m, 5, IPC_NOWAIT);
    while (msgrcv(iCrudo, &m, sizeof m.texto, rx, 0) < 0) {
    }
}

// One iteration = one burst of kRafaga round trips; an idle millisecond (not timed) follows.
void RafagaCola() {
    std::unique_lock<std::mutex> l(tMutexCadena);
    bCadenaHecha = false;
    iPendientes.store(kRafaga, std::memory_order_release);
    bCadena.store(true, std::memory_order_release);
    pCola->EnviaDescuelga(0);
    tCondCadena.wait(l, [] { return bCadenaHecha; });
    bCadena.store(false, std::memory_order_release);
}
void RafagaCrudo() {
    for (int i = 0; i < kRafaga; i++) IdaYVueltaCrudo();
}
template <void (*F)()>
void PorRafagas(benchmark::State& st) {
    for (auto _ : st) {
        F();
        st.PauseTiming();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        st.ResumeTiming();
    }
    st.SetItemsProcessed(st.iterations() * kRafaga);
}
void BM_RafagaCrudo(benchmark::State& st) { PorRafagas<RafagaCrudo>(st); }
void BM_RafagaCola(benchmark::State& st) { PorRafagas<RafagaCola>(st); }

template <void (*F)()>
void Rafagas(benchmark::State& st) {
    int n = 0;
    for (auto _ : st) {
        F();
        if (++n == kRafaga) {
            n = 0;
            st.PauseTiming();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            st.ResumeTiming();
        }
    }
}

template <void (*F)()>
void Seguido(benchmark::State& st) {
    for (auto _ : st) F();
}

void BM_RttCola(benchmark::State& st) { Rafagas<IdaYVueltaCola>(st); }
void BM_RttCrudoSeguido(benchmark::State& st) { Seguido<IdaYVueltaCrudo>(st); }
void BM_RttColaSeguido(benchmark::State& st) { Seguido<IdaYVueltaCola>(st); }

// One-way: windows of messages, each closed by a request that answers the count; the
// burst form leaves an idle millisecond (not timed) after each window.
int32_t iTotalEnviados = 0;  // the peer counts across both one-way benchmarks

template <int kVentana, bool kPausa>
void UnaVia(benchmark::State& st) {
    int32_t& total = iTotalEnviados;
    for (auto _ : st) {
        for (int i = 0; i < kVentana; i++) pCola->EnviaLibera(i);
        total += kVentana;
        iCuenta = -1;
        pCola->EnviaRespondeOcupado(0);
        while (iCuenta.load(std::memory_order_acquire) != total) {
        }
        if (kPausa) {
            st.PauseTiming();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            st.ResumeTiming();
        }
    }
    st.SetItemsProcessed(st.iterations() * kVentana);
}
void BM_UnaViaCola(benchmark::State& st) { UnaVia<1000, false>(st); }
void BM_UnaViaColaRafagas(benchmark::State& st) { UnaVia<kRafaga, true>(st); }

// Medians of interleaved repetitions: other work on the machine moves single runs a lot.
BENCHMARK(BM_RafagaCrudo)->Iterations(50)->Repetitions(7);
BENCHMARK(BM_RafagaCola)->Iterations(50)->Repetitions(7);
BENCHMARK(BM_RttCola)->Iterations(20000)->Repetitions(7);
BENCHMARK(BM_RttCrudoSeguido)->Iterations(20000);
BENCHMARK(BM_RttColaSeguido)->Iterations(20000);
BENCHMARK(BM_UnaViaCola)->Iterations(20);
BENCHMARK(BM_UnaViaColaRafagas)->Iterations(100);

class Informe : public benchmark::ConsoleReporter {
public:
    double Tiempo(const char* nombre) const {
        for (auto& r : vResultados)
            if (r.benchmark_name() == nombre) return r.GetAdjustedRealTime();
        return 0;
    }
    double PorSegundo(const char* nombre) const {
        for (auto& r : vResultados)
            if (r.benchmark_name() == nombre) {
                auto it = r.counters.find("items_per_second");
                return it == r.counters.end() ? 0 : double(it->second);
            }
        return 0;
    }
    void ReportRuns(const std::vector<Run>& runs) override {
        vResultados.insert(vResultados.end(), runs.begin(), runs.end());
        ConsoleReporter::ReportRuns(runs);
    }

private:
    std::vector<Run> vResultados;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && strcmp(argv[1], "--eco-cola") == 0) return MainEcoCola();
    if (argc > 1 && strcmp(argv[1], "--eco-crudo") == 0) return MainEcoCrudo();

    pidEcoCrudo = Lanza("--eco-crudo");
    pidEcoCola = Lanza("--eco-cola");
    pCola = new Cola(pidEcoCola, COLA_PADRE, 0, getpid());
    pCola->RegistraRespondeLibre(Respuesta);
    pCola->RegistraRespondeCongestion(Cuenta);
    iCrudo = msgget(CLAVE_COLA_PADRE_HIJO, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // children ready

    // Repetitions of the two round trips alternate, so that load from elsewhere hits both.
    std::vector<char*> args(argv, argv + argc);
    char intercala[] = "--benchmark_enable_random_interleaving=true";
    args.push_back(intercala);
    int nargs = static_cast<int>(args.size());
    benchmark::Initialize(&nargs, args.data());
    Informe informe;
    benchmark::RunSpecifiedBenchmarks(&informe);
    benchmark::Shutdown();

    pCola->EnviaTermina();
    MensajeCola m;
    m.mtype = pidEcoCrudo;
    m.texto[0] = COD_TERMINA;
    msgsnd(iCrudo, &m, 1, 0);
    waitpid(pidEcoCola, nullptr, 0);
    waitpid(pidEcoCrudo, nullptr, 0);
    delete pCola;

    const double crudo = informe.Tiempo("BM_RafagaCrudo/iterations:50/repeats:7_median") / kRafaga;
    const double cola = informe.Tiempo("BM_RafagaCola/iterations:50/repeats:7_median") / kRafaga;
    const double colaHilo = informe.Tiempo("BM_RttCola/iterations:20000/repeats:7_median");
    const double crudoS = informe.Tiempo("BM_RttCrudoSeguido/iterations:20000");
    const double colaS = informe.Tiempo("BM_RttColaSeguido/iterations:20000");
    printf("ipc_rtt_raw_ns=%.0f ipc_rtt_cola_ns=%.0f (bursts of %d, the handler sends the next request)\n",
           crudo, cola, kRafaga);
    printf("ipc_rtt_app_thread_raw_ns=%.0f ipc_rtt_app_thread_cola_ns=%.0f (a third thread sends and waits)\n",
           crudo, colaHilo);
    printf("ipc_rtt_sustained_raw_ns=%.0f ipc_rtt_sustained_cola_ns=%.0f (flood guard active)\n",
           crudoS, colaS);
    printf("ipc_one_way_msgs_per_s=%.0f (bursts of %d) %.0f (sustained, flood guard active)\n",
           informe.PorSegundo("BM_UnaViaColaRafagas/iterations:100"), kRafaga,
           informe.PorSegundo("BM_UnaViaCola/iterations:20"));
    if (crudo > 0) printf("ipc_rtt_ratio_vs_raw=%.2f\n", cola / crudo);
    return 0;
}
