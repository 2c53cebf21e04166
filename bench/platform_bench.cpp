// NLOG::Log of a 100-byte record to a rolling file against the same line written
// straight through spdlog's rotating sink; arm+cancel of a timer. Prints
// "log_ratio_vs_spdlog=R" (median of ours / median of spdlog's) last.
#include <benchmark/benchmark.h>
#include <spdlog/details/log_msg.h>
#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/rotating_file_sink.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "comun/ctemporizador.h"
#include "comun/nlog.h"

namespace {

const size_t kTamano = 5 * 1024 * 1024;
const std::string kMensaje(100, 'm');

void BM_NlogLog(benchmark::State& st) {
    for (auto _ : st) NLOG::Log(NLOG::INFO, "%s", kMensaje.c_str());
}

void BM_SpdlogRotatingSink(benchmark::State& st) {
    static auto sink = [] {
        auto s = std::make_shared<spdlog::sinks::rotating_file_sink_mt>("/mnt/ramfs/bench_spdlog.csv", kTamano, 2);
        s->set_formatter(std::make_unique<spdlog::pattern_formatter>("%v"));
        return s;
    }();
    // The line our logger writes for the same record, already formatted.
    static const std::string linea = "2026/12/08;19:36:34.123;INFO;123456;NLOG::Log@208;\"" + kMensaje + "\"";
    spdlog::details::log_msg msg("bench", spdlog::level::info, spdlog::string_view_t(linea));
    for (auto _ : st) {
        sink->log(msg);
        sink->flush();
    }
}

uintptr_t Nada(uintptr_t, uintptr_t, uintptr_t) { return 0; }

void BM_TemporizadorArmaCancela(benchmark::State& st) {
    static CTemporizador temp;
    static bool iniciado = false;
    if (!iniciado) {
        temp.Inicia(32);
        iniciado = true;
    }
    // Others armed ahead: the arming walk is at its longest with 31.
    int otros[32];
    for (int i = 0; i < st.range(0); i++) otros[i] = temp.Arma(100000 + i, Nada, 0, 0, 0);
    for (auto _ : st) {
        int s = temp.Arma(200000, Nada, 1, 2, 3);
        benchmark::DoNotOptimize(s);
        temp.Cancela(s);
    }
    for (int i = 0; i < st.range(0); i++) temp.Cancela(otros[i]);
}

BENCHMARK(BM_NlogLog)->Iterations(20000)->Repetitions(31)->DisplayAggregatesOnly(true);
BENCHMARK(BM_SpdlogRotatingSink)->Iterations(20000)->Repetitions(31)->DisplayAggregatesOnly(true);
BENCHMARK(BM_TemporizadorArmaCancela)->Arg(0)->Arg(31)->Repetitions(5)->DisplayAggregatesOnly(true);

// Keeps the median time of each benchmark while printing as usual: CPU time of the
// thread (system time of the write included), steadier than wall time on a busy machine.
class Informe : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median")
                mMedianas[r.run_name.function_name] = r.GetAdjustedCPUTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> mMedianas;
};

}  // namespace

int main(int argc, char** argv) {
    std::ofstream("/mnt/ramfs/plog.conf")
        << "FILENAME=/mnt/ramfs/bench_nlog\nFILESIZE=" << kTamano << "\nNUMOFFILES=3\nTO_STANDARD_OUTPUT=false\n";
    pObjetoLog = new CIniciaLog(".csv");
    // Repetitions of the two loggers interleaved, so that a change in the machine's load
    // falls on both sides of the ratio.
    std::vector<char*> args(argv, argv + argc);
    char intercala[] = "--benchmark_enable_random_interleaving=true";
    args.insert(args.begin() + 1, intercala);
    int nargs = static_cast<int>(args.size());
    benchmark::Initialize(&nargs, args.data());
    Informe informe;
    benchmark::RunSpecifiedBenchmarks(&informe);
    double nuestro = informe.mMedianas["BM_NlogLog"];
    double spd = informe.mMedianas["BM_SpdlogRotatingSink"];
    if (spd > 0) printf("log_ratio_vs_spdlog=%.2f\n", nuestro / spd);
    return 0;
}
