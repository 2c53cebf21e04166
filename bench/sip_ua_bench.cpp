// sipp's UAC with the ED-137 headers (Subject, Priority, WG67-Version, session timer, SDP) at a
// fixed rate against the core's SIP user agent, answering every call with 200 and SDP through
// an application that accepts them all, and against the layer's bare agent of sip_bench: the
// same calls each, in one run. --ritmo=N and --llamadas=N change the load (100 cps, 3000
// calls); the ratio line comes last.
#include "agenteprueba.h"
#include "cargasipp.h"
#include "sip/caplic.h"
#include "sip/cgus.h"
#include "red/tcpcons.h"
#include "sip/csipua.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

int g_ritmo = 100;
int g_llamadas = 3000;
ResultadoCarga g_agente, g_capa;

uint32_t Ticks() {
  using namespace std::chrono;
  return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count() / 10);
}

// The application behind the user agent: accepts every call, ignores every other event.
class AceptaTodo : public Cgus, public Caplic {
 public:
  ~AceptaTodo() {
    if (DameSipua()) DameSipua()->Para();
  }
  void Traplic_Invite(int u, DatosEventoSip *p) override {
    if (p) EnviaOk(u, p->cid, 5004);
  }
  void Traplic_Call_Proceeding(int, DatosEventoSip *) override {}
  void Traplic_Ringing(int, DatosEventoSip *) override {}
  void Traplic_Released(int, DatosEventoSip *) override {}
  void Traplic_Request_Failure(int, DatosEventoSip *) override {}
  void Traplic_Global_Failure(int, DatosEventoSip *) override {}
  void Traplic_Server_Failure(int, DatosEventoSip *) override {}
  void Traplic_Replaces(int, int, DatosEventoSip *) override {}
  void Traplic_Update(int, DatosEventoSip *) override {}
  void Traplic_Closed(int, DatosEventoSip *) override {}
  void Traplic_ACK(int, DatosEventoSip *) override {}
  void Traplic_Info(int, DatosEventoSip *, const char *) override {}
  void Traplic_InfoIntrusionInProgress(int, DatosEventoSip *) override {}
  void Traplic_InfoIntrusionIsEfective(int, DatosEventoSip *) override {}
  void Traplic_InfoEndofIntrusion(int, DatosEventoSip *) override {}
  void Traplic_InfoIntrusionInminente(int, DatosEventoSip *) override {}
  void Traplic_Redirect(int, DatosEventoSip *) override {}
  void Traplic_Reinvite(int, DatosEventoSip *) override {}
  void Traplic_Call_Answer(int, DatosEventoSip *) override {}
  void Traplic_Notify(int, DatosEventoSip *) override {}
  void Traplic_WG67_Key_In_Subscription(int, int, int, int) override {}
  void Traplic_Call_No_Answer(int, DatosEventoSip *) override {}
  void Traplic_Refer(int, DatosEventoSip *) override {}
  int32_t Traplic_Options(int, DatosEventoSip *) override { return 0; }
  void Traplic_Call_Message_Answered(int, DatosEventoSip *) override {}
  void Traplic_Respuesta_for_Options(int, DatosEventoSip *) override {}
};

ResultadoCarga Carga() {
  return CargaSipp(g_ritmo, g_llamadas, getpid(), true, {"-sf", VK_ESCENARIO_ED137, "-s", "ua"});
}

void Publica(benchmark::State &st, const ResultadoCarga &r) {
  st.counters["cps"] = r.cps();
  st.counters["failed"] = r.fallidas;
  st.counters["p99_ms"] = r.p99_ms;
  st.counters["cpu_s"] = r.cpu_s;
}

void BM_SipAgenteUsuario(benchmark::State &st) {
  for (auto _ : st) {
    CSipua::FijaReloj(&Ticks);  // no board here
    TcpCons::FijaMascaraTraza(0);  // the console trace of each call is not part of its cost
    AceptaTodo ap;
    const int32_t codecs[] = {8, 0};
    if (ap.Inicia_Sipua_Gus("ua", SIP_USR_TELEFONO, codecs, 2, "127.0.0.1", "127.0.0.1", 0, &ap, 1) < 0 ||
        !ap.DameSipua()->Arrancado()) {
      st.SkipWithError("the user agent did not start");
      return;
    }
    g_agente = Carga();
  }
  Publica(st, g_agente);
}

void BM_SipCapa(benchmark::State &st) {
  for (auto _ : st) {
    AgentePrueba ua(
        [](eXosip_event_t *ev) {
          if (ev->type == EXOSIP_CALL_INVITE) Responde200(ev->tid);
        },
        5060, false);
    g_capa = Carga();
  }
  Publica(st, g_capa);
}

BENCHMARK(BM_SipAgenteUsuario)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_SipCapa)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

double UsPorLlamada(const ResultadoCarga &r) { return r.correctas > 0 ? r.cpu_s * 1e6 / r.correctas : 0; }

void Informa(const char *nombre, const ResultadoCarga &r) {
  printf("%s_cps=%.1f ok=%d failed=%d p99_ms=%.2f cpu_us_per_call=%.1f (%d calls at %d cps offered)\n", nombre,
         r.cps(), r.correctas, r.fallidas, r.p99_ms, UsPorLlamada(r), g_llamadas, g_ritmo);
}

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  for (int i = 1; i < argc; ++i) {
    if (strncmp(argv[i], "--ritmo=", 8) == 0) g_ritmo = std::max(1, atoi(argv[i] + 8));
    if (strncmp(argv[i], "--llamadas=", 11) == 0) g_llamadas = std::max(1, atoi(argv[i] + 11));
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  Informa("sip_ua", g_agente);
  Informa("sip_layer", g_capa);
  printf("sip_ua_cpu_ratio_vs_layer=%.2f\n", UsPorLlamada(g_capa) > 0 ? UsPorLlamada(g_agente) / UsPorLlamada(g_capa) : 0.0);
  printf("sip_ua_cps_ratio_vs_layer=%.3f\n", g_capa.cps() > 0 ? g_agente.cps() / g_capa.cps() : 0.0);
  return 0;
}
