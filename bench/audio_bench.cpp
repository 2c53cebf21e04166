// One 20 ms frame of one line as its audio thread sees it: four channels of 160 received
// G.711 samples decoded and queued, mixed (loud enough to be scaled) and encoded for the
// line; and G.711 encode and decode of 160 samples. Prints "audio_frame_ns=N" and
// "g711_160_ns=N" (the slower direction) last: medians, in nanoseconds.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "ccodecg711.h"
#include "cmezclador.h"

namespace {

constexpr int32_t TRAMA = 160;
constexpr int32_t CANALES = 4;

// Loud speech-like codes: four channels of these always sum past the clipping peak.
std::vector<uint8_t> Codigos(int32_t semilla) {
    std::vector<uint8_t> v(TRAMA);
    uint32_t x = 2463534242u + semilla;
    for (auto& b : v) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(0xA0 | (x & 0x1F));  // positive A-law codes of segments 6 and 7
    }
    return v;
}

void BM_TramaAudio(benchmark::State& st) {
    CMezclador oMezclador(CANALES, 320);
    for (int32_t i = 0; i < CANALES; i++) oMezclador.AbreCanal();
    CCodecG711 oDecodificador, oCodificador;
    std::vector<uint8_t> aucRed[CANALES];
    for (int32_t i = 0; i < CANALES; i++) aucRed[i] = Codigos(i);
    int32_t aiLineal[TRAMA], aiMezcla[TRAMA];
    uint8_t aucLinea[TRAMA];
    uint32_t ts = 0;
    for (auto _ : st) {
        for (int32_t i = 0; i < CANALES; i++) {
            oDecodificador.Decodifica(aucRed[i].data(), aiLineal, TRAMA);
            int32_t n = TRAMA;
            oMezclador.MeteMuestras(i, aiLineal, n, nullptr);
        }
        int32_t n = TRAMA;
        oMezclador.Mezcla(aiMezcla, n, &ts, ts);
        oCodificador.Codifica(aiMezcla, aucLinea, n);
        ts += static_cast<uint32_t>(n);
        benchmark::DoNotOptimize(aucLinea);
        if (n != TRAMA) st.SkipWithError("short mix");
    }
}

void BM_G711Codifica(benchmark::State& st) {
    CCodecG711 oCodec;
    int32_t aiLineal[TRAMA];
    for (int32_t i = 0; i < TRAMA; i++) aiLineal[i] = (i * 409) % 65536 - 32768;
    uint8_t aucBytes[TRAMA];
    for (auto _ : st) {
        oCodec.Codifica(aiLineal, aucBytes, TRAMA);
        benchmark::DoNotOptimize(aucBytes);
        benchmark::ClobberMemory();
    }
}

void BM_G711Decodifica(benchmark::State& st) {
    CCodecG711 oCodec;
    auto aucBytes = Codigos(9);
    int32_t aiLineal[TRAMA];
    for (auto _ : st) {
        oCodec.Decodifica(aucBytes.data(), aiLineal, TRAMA);
        benchmark::DoNotOptimize(aiLineal);
        benchmark::ClobberMemory();
    }
}

BENCHMARK(BM_TramaAudio)->Repetitions(9)->DisplayAggregatesOnly(true);
BENCHMARK(BM_G711Codifica)->Repetitions(9)->DisplayAggregatesOnly(true);
BENCHMARK(BM_G711Decodifica)->Repetitions(9)->DisplayAggregatesOnly(true);

// Keeps the median real time (ns) of each benchmark while printing as usual.
class Medianas : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median")
                m[r.run_name.function_name] = r.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> m;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    Medianas informe;
    benchmark::RunSpecifiedBenchmarks(&informe);
    double cod = informe.m["BM_G711Codifica"], dec = informe.m["BM_G711Decodifica"];
    printf("g711_codifica_160_ns=%.0f\ng711_decodifica_160_ns=%.0f\n", cod, dec);
    printf("audio_frame_ns=%.0f\n", informe.m["BM_TramaAudio"]);
    printf("g711_160_ns=%.0f\n", cod > dec ? cod : dec);
    return 0;
}
