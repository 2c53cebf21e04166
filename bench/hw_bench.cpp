// Hardware layer over the simulated board: one request's round trip (the board tick), and
// the pacing of 500 consecutive 20 ms audio reads. Last line: pcm_pacing_p99_us=N, the 99th
// percentile of |read interval - 20 ms| in microseconds.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

#include "csimboard.h"
#include "hardware/hardware.h"

namespace {

std::unique_ptr<simboard::CSimBoard> pPlaca;

void BM_PeticionTick(benchmark::State& st) {
    for (auto _ : st) benchmark::DoNotOptimize(hwDameTiempo());
}
BENCHMARK(BM_PeticionTick);

void BM_PeticionMicrosegundos(benchmark::State& st) {
    for (auto _ : st) benchmark::DoNotOptimize(hwDameTiempoMs());
}
BENCHMARK(BM_PeticionMicrosegundos);

void BM_CompruebaSlic(benchmark::State& st) {
    hwIniciaSlic(0, 1, 0, 0, 0);
    for (auto _ : st) benchmark::DoNotOptimize(hwCompruebaSlic(0));  // six requests
}
BENCHMARK(BM_CompruebaSlic);

int64_t PercentilPacing(int iLecturas) {
    hwAbreTimeslot(1);
    uint8_t ac[160];
    int n = 160;
    hwDameMuestras(1, ac, &n);  // the pace starts here
    std::vector<int64_t> desv;
    auto t = std::chrono::steady_clock::now();
    for (int i = 0; i < iLecturas; i++) {
        n = 160;
        hwDameMuestras(1, ac, &n);
        auto t1 = std::chrono::steady_clock::now();
        int64_t us = std::chrono::duration_cast<std::chrono::microseconds>(t1 - t).count();
        desv.push_back(std::llabs(us - 20000));
        t = t1;
    }
    std::sort(desv.begin(), desv.end());
    return desv[static_cast<size_t>(std::ceil(0.99 * static_cast<double>(desv.size()))) - 1];
}

}  // namespace

int main(int argc, char** argv) {
    pPlaca = simboard::CSimBoard::Arranca("/mnt/ramfs/simboard.sock");
    if (!pPlaca || IniciaHardware() != 0) {
        fprintf(stderr, "hw_bench: the simulated board did not start\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    int64_t p99 = PercentilPacing(500);
    printf("pcm_pacing_p99_us=%lld\n", static_cast<long long>(p99));
    fflush(stdout);
    _exit(0);  // the daemon dies with its parent
}
