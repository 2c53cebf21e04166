// sipp's standard UAC at a fixed rate, first against a minimal auto-answering user agent on
// the SIP layer, then against sipp's own UAS, the same number of calls each. Reports calls per
// second completed without failure and the INVITE-to-200 p99; the ratio line comes last.
#include "agente_prueba.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace {

constexpr int kLlamadas = 3000;
constexpr int kRitmo = 300;  // calls per second offered by sipp

struct Resultado {
  double cps = 0;
  int fallidas = -1;
  int correctas = 0;
  double p99_ms = 0;
};
Resultado g_capa, g_sipp;

int Contador(const std::string &log, const char *nombre) {
  size_t pos = log.rfind(nombre);
  if (pos == std::string::npos) return -1;
  std::string linea = log.substr(pos, log.find('\n', pos) - pos);
  size_t ultimo = linea.rfind('|');
  return ultimo == std::string::npos ? -1 : atoi(linea.c_str() + ultimo + 1);
}

double P99(pid_t pid) {
  std::ifstream f("/tmp/uac_" + std::to_string(pid) + "_rtt.csv");
  std::vector<double> v;
  std::string l;
  while (std::getline(f, l)) {
    size_t a = l.find(';');
    if (a == std::string::npos || !isdigit(static_cast<unsigned char>(l[0]))) continue;
    v.push_back(atof(l.c_str() + a + 1));
  }
  if (v.empty()) return -1;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(v.size() * 0.99))];
}

// Runs sipp's UAC against whatever listens on 127.0.0.1:5060.
Resultado Carga() {
  auto t0 = std::chrono::steady_clock::now();
  Sipp uac({"-sn", "uac", "-r", std::to_string(kRitmo), "-m", std::to_string(kLlamadas), "-trace_rtt", "-rtt_freq",
            "1", "-timeout", "120s", "127.0.0.1:5060"},
           5070);
  int rc = uac.Espera(150000);
  double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::ifstream f("/tmp/sipp_5070.log");
  std::string log((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  Resultado r;
  r.correctas = Contador(log, "Successful call");
  r.fallidas = Contador(log, "Failed call");
  if (rc != 0 && r.fallidas == 0) r.fallidas = kLlamadas - std::max(0, r.correctas);
  r.cps = r.correctas > 0 ? r.correctas / s : 0;
  r.p99_ms = P99(uac.Pid());
  return r;
}

void Publica(benchmark::State &st, const Resultado &r) {
  st.counters["cps"] = r.cps;
  st.counters["failed"] = r.fallidas;
  st.counters["p99_ms"] = r.p99_ms;
}

void BM_SipCapaAutoRespuesta(benchmark::State &st) {
  for (auto _ : st) {
    AgentePrueba ua([](eXosip_event_t *ev) {
      if (ev->type == EXOSIP_CALL_INVITE) Responde200(ev->tid);
    });
    g_capa = Carga();
  }
  Publica(st, g_capa);
}

void BM_SippUas(benchmark::State &st) {
  for (auto _ : st) {
    Sipp uas({"-sn", "uas", "-timeout", "150s"}, 5060);
    g_sipp = Carga();
  }
  Publica(st, g_sipp);
}

BENCHMARK(BM_SipCapaAutoRespuesta)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_SippUas)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  printf("sip_layer_cps=%.1f failed=%d p99_ms=%.2f (%d calls at %d cps offered)\n", g_capa.cps, g_capa.fallidas,
         g_capa.p99_ms, kLlamadas, kRitmo);
  printf("sipp_uas_cps=%.1f failed=%d p99_ms=%.2f\n", g_sipp.cps, g_sipp.fallidas, g_sipp.p99_ms);
  printf("sip_cps_ratio_vs_sipp_uas=%.3f\n", g_sipp.cps > 0 ? g_capa.cps / g_sipp.cps : 0.0);
  return 0;
}
