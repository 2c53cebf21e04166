// sipp's standard UAC against a minimal auto-answering user agent on the SIP layer and against
// sipp's own UAS, in one run:
//  - CPU per call and resident memory at 300 calls/s for 60 s (each side in a fresh process
//    state: these run first);
//  - 3000 calls at 300 calls/s: calls per second completed and the INVITE-to-200 p99;
//  - stepped rates of 30 s each; a step is passed with every call completed, the first step
//    failed ends the series.
// --paso=S and --cpu=S shorten the steps and the CPU run for quick runs; the ratio lines come last.
#include "agenteprueba.h"
#include "cargasipp.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr int kLlamadas = 3000;
constexpr int kRitmo = 300;
constexpr int kPasos[] = {300, 600, 1000, 1500, 2000, 3000};
int g_paso_s = 30;
int g_cpu_s = 60;

struct Serie {
  ResultadoCarga carga, cpu;
  int max_cps = 0;
  std::vector<std::pair<int, ResultadoCarga>> pasos;
};
Serie g_capa, g_sipp;

using Carga = ResultadoCarga (*)(pid_t);

// Runs the load against a fresh responder: the layer's agent in this process, or sipp's UAS.
ResultadoCarga CapaCon(Carga carga) {
  AgentePrueba ua(
      [](eXosip_event_t *ev) {
        if (ev->type == EXOSIP_CALL_INVITE) Responde200(ev->tid);
      },
      5060, false);
  return carga(getpid());
}

ResultadoCarga SippCon(Carga carga) {
  Sipp uas({"-sn", "uas"}, 5060);
  return carga(uas.Pid());
}

void Publica(benchmark::State &st, const ResultadoCarga &r) {
  st.counters["cps"] = r.cps();
  st.counters["failed"] = r.fallidas;
  st.counters["p99_ms"] = r.p99_ms;
  st.counters["cpu_s"] = r.cpu_s;
  st.counters["rss_mib"] = r.rss_mib_final;
}

template <ResultadoCarga (*Contra)(Carga)>
void Cpu(benchmark::State &st, Serie &s) {
  for (auto _ : st)
    s.cpu = Contra([](pid_t pid) { return CargaSipp(kRitmo, kRitmo * g_cpu_s, pid); });
  Publica(st, s.cpu);
}

template <ResultadoCarga (*Contra)(Carga)>
void Ritmo300(benchmark::State &st, Serie &s) {
  for (auto _ : st) s.carga = Contra([](pid_t pid) { return CargaSipp(kRitmo, kLlamadas, pid, true); });
  Publica(st, s.carga);
}

// The rate of the step being run (a captureless load function cannot take it otherwise).
int g_ritmo_paso = 0;

template <ResultadoCarga (*Contra)(Carga)>
void Pasos(benchmark::State &st, Serie &s) {
  for (auto _ : st) {
    for (int ritmo : kPasos) {
      g_ritmo_paso = ritmo;
      ResultadoCarga r = Contra([](pid_t pid) { return CargaSipp(g_ritmo_paso, g_ritmo_paso * g_paso_s, pid); });
      s.pasos.emplace_back(ritmo, r);
      if (!r.Limpia(ritmo * g_paso_s)) break;
      s.max_cps = ritmo;
    }
  }
  st.counters["max_cps"] = s.max_cps;
}

void BM_SipCapaCpu(benchmark::State &st) { Cpu<CapaCon>(st, g_capa); }
void BM_SippUasCpu(benchmark::State &st) { Cpu<SippCon>(st, g_sipp); }
void BM_SipCapaAutoRespuesta(benchmark::State &st) { Ritmo300<CapaCon>(st, g_capa); }
void BM_SippUas(benchmark::State &st) { Ritmo300<SippCon>(st, g_sipp); }
void BM_SipCapaPasos(benchmark::State &st) { Pasos<CapaCon>(st, g_capa); }
void BM_SippUasPasos(benchmark::State &st) { Pasos<SippCon>(st, g_sipp); }

BENCHMARK(BM_SipCapaCpu)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_SippUasCpu)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_SipCapaAutoRespuesta)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_SippUas)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_SipCapaPasos)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_SippUasPasos)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

double UsPorLlamada(const ResultadoCarga &r) { return r.correctas > 0 ? r.cpu_s * 1e6 / r.correctas : 0; }

void Informa(const char *nombre, const Serie &s) {
  for (auto &[ritmo, r] : s.pasos)
    printf("%s_step cps_offered=%d ok=%d failed=%d cps=%.1f cpu_s=%.2f rss_mib=%.1f %s\n", nombre, ritmo, r.correctas,
           r.fallidas, r.cps(), r.cpu_s, r.rss_mib_final, r.Limpia(ritmo * g_paso_s) ? "passed" : "failed");
  printf("%s_at_300cps ok=%d failed=%d cpu_us_per_call=%.1f rss_mib_32s=%.1f rss_mib_end=%.1f (%d s)\n", nombre,
         s.cpu.correctas, s.cpu.fallidas, UsPorLlamada(s.cpu), s.cpu.rss_mib_32s, s.cpu.rss_mib_final, g_cpu_s);
}

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  for (int i = 1; i < argc; ++i) {
    if (strncmp(argv[i], "--paso=", 7) == 0) g_paso_s = std::max(1, atoi(argv[i] + 7));
    if (strncmp(argv[i], "--cpu=", 6) == 0) g_cpu_s = std::max(1, atoi(argv[i] + 6));
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  Informa("sip_layer", g_capa);
  Informa("sipp_uas", g_sipp);
  printf("sip_layer_cps=%.1f failed=%d p99_ms=%.2f (%d calls at %d cps offered)\n", g_capa.carga.cps(),
         g_capa.carga.fallidas, g_capa.carga.p99_ms, kLlamadas, kRitmo);
  printf("sipp_uas_cps=%.1f failed=%d p99_ms=%.2f\n", g_sipp.carga.cps(), g_sipp.carga.fallidas, g_sipp.carga.p99_ms);
  printf("sip_max_cps=%d sipp_uas_max_cps=%d (steps of %d s)\n", g_capa.max_cps, g_sipp.max_cps, g_paso_s);
  printf("sip_cps_ratio_vs_sipp_uas=%.3f\n", g_sipp.carga.cps() > 0 ? g_capa.carga.cps() / g_sipp.carga.cps() : 0.0);
  printf("sip_max_cps_ratio_vs_sipp_uas=%.3f\n",
         g_sipp.max_cps > 0 ? static_cast<double>(g_capa.max_cps) / g_sipp.max_cps : 0.0);
  double us_capa = UsPorLlamada(g_capa.cpu), us_sipp = UsPorLlamada(g_sipp.cpu);
  printf("sip_cpu_us_per_call=%.1f\n", us_capa);
  printf("sip_cpu_ratio_vs_sipp_uas=%.2f\n", us_sipp > 0 ? us_capa / us_sipp : 0.0);
  printf("sip_rss_mib_at_300cps=%.1f\n", g_capa.cpu.rss_mib_final);
  return 0;
}
