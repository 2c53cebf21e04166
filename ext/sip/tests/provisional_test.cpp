// The 100 to an incoming INVITE: sent only when the application has not answered within
// 200 ms (RFC 3261 17.2.1).
#include "agente_prueba.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

namespace {

using Reloj = std::chrono::steady_clock;

std::atomic<int> g_tid{0};

// Everything the bare peer receives until an answer of that class, or "" if none comes.
std::vector<std::string> HastaRespuesta(Crudo &c, const char *clase) {
  std::vector<std::string> v;
  for (std::string r = c.Recibe(3000); !r.empty(); r = c.Recibe(3000)) {
    v.push_back(r);
    if (r.rfind(clase, 0) == 0) return v;
  }
  v.push_back("");
  return v;
}

TEST(ProvisionalSip, InviteAnsweredAtOnceGetsNo100) {
  AgentePrueba ua([](eXosip_event_t *ev) {
    if (ev->type == EXOSIP_CALL_INVITE) Responde200(ev->tid);
  });
  ASSERT_TRUE(ua.Ok());
  Crudo c;
  c.Envia(Peticion("INVITE", "pronto1", "Content-Type: application/sdp\r\n", SdpPrueba()));
  auto v = HastaRespuesta(c, "SIP/2.0 200");
  ASSERT_EQ(v.back().rfind("SIP/2.0 200", 0), 0u) << v.back();
  for (std::string r = c.Recibe(500); !r.empty(); r = c.Recibe(500)) v.push_back(r);
  for (auto &r : v) EXPECT_NE(r.rfind("SIP/2.0 100", 0), 0u) << r;
}

TEST(ProvisionalSip, InviteNotAnsweredWithin200MsGets100ThenTheAnswer) {
  AgentePrueba ua([](eXosip_event_t *ev) {
    if (ev->type == EXOSIP_CALL_INVITE) g_tid = ev->tid;
  });
  ASSERT_TRUE(ua.Ok());
  Crudo c;
  auto t0 = Reloj::now();
  c.Envia(Peticion("INVITE", "tarde1", "Content-Type: application/sdp\r\n", SdpPrueba()));
  auto v = HastaRespuesta(c, "SIP/2.0 100");
  ASSERT_EQ(v.size(), 1u) << v.back();  // nothing before it
  ASSERT_EQ(v[0].rfind("SIP/2.0 100", 0), 0u);
  EXPECT_GE(Reloj::now() - t0, std::chrono::milliseconds(200));
  ASSERT_TRUE(ua.EsperaTipo(EXOSIP_CALL_INVITE));
  Responde200(g_tid);
  v = HastaRespuesta(c, "SIP/2.0 200");
  EXPECT_EQ(v.back().rfind("SIP/2.0 200", 0), 0u) << v.back();
  for (auto &r : v) EXPECT_NE(r.rfind("SIP/2.0 100", 0), 0u) << "a second 100";
}

}  // namespace
