// A flood of requests from one peer costs that peer, not the calls of another.
#include "agente_prueba.h"

#include <gtest/gtest.h>

namespace {

using std::vector;

// Counted as they come: a predicate walking 20,000 recorded events at each one would be the
// bottleneck of the test.
std::atomic<int> g_opciones{0}, g_liberadas{0};

TEST(InundacionSip, CallsConnectAndEndCleanlyDuringAnOptionsFlood) {
  AgentePrueba ua([](eXosip_event_t *ev) {
    if (ev->type == EXOSIP_MESSAGE_NEW) {
      eXosip_message_send_answer(ev->tid, 200, nullptr);
      ++g_opciones;
    }
    if (ev->type == EXOSIP_CALL_INVITE) Responde200(ev->tid);
    g_liberadas += ev->type == EXOSIP_CALL_RELEASED;
  });
  ASSERT_TRUE(ua.Ok());
  Sipp inundacion({"-sf", DirEscenarios() + "uac_options.xml", "-r", "1000", "-m", "20000", "-timeout", "60s",
                   "127.0.0.1:5060"},
                  5071);
  ASSERT_TRUE(ua.Espera([](const vector<EventoSip> &) { return g_opciones >= 1000; }, 15000))
      << "the flood did not start";
  Sipp llamadas({"-sn", "uac", "-m", "10", "-r", "1", "-d", "500", "-timeout", "50s", "127.0.0.1:5060"}, 5072);
  EXPECT_EQ(llamadas.Espera(60000), 0) << llamadas.Log();
  bool durante = inundacion.Espera(0) == -1;  // the flood was still on when the calls ended
  EXPECT_TRUE(durante);
  ASSERT_TRUE(ua.Espera([](const vector<EventoSip> &) { return g_liberadas >= 10; }, 30000)) << g_liberadas;
  auto ev = ua.Eventos();
  EXPECT_EQ(CuentaTipo(ev, EXOSIP_CALL_INVITE), 10);
  EXPECT_EQ(CuentaTipo(ev, EXOSIP_CALL_ACK), 10);
  EXPECT_EQ(CuentaTipo(ev, EXOSIP_CALL_CLOSED), 10);
  EXPECT_EQ(CuentaTipo(ev, EXOSIP_CALL_RELEASED), 10);
  EXPECT_EQ(eXosip_call_get_infos(nullptr, 0), 0);
}

}  // namespace
