// Peers that misbehave: what they send or where they point must not crash the layer, stall
// it or keep a call held for good.
#include "agente_prueba.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>

namespace {

using std::vector;

std::string ConContacto(std::string peticion, const std::string &contacto) {
  const std::string viejo = "Contact: <sip:x@127.0.0.1:5080>";
  return peticion.replace(peticion.find(viejo), viejo.size(), "Contact: " + contacto);
}

// The 2xx is never ACKed, so the layer hangs up after 64*T1; its BYE cannot leave
// (203.0.113.0/24 has no route here, .invalid never resolves).
TEST(ParesHostilesSip, CallWhoseByeCannotBeSentIsReleasedOnce) {
  AgentePrueba ua([](eXosip_event_t *ev) {
    if (ev->type == EXOSIP_CALL_INVITE) Responde200(ev->tid);
  });
  ASSERT_TRUE(ua.Ok());
  Crudo c;
  c.Envia(ConContacto(Peticion("INVITE", "sinruta"), "<sip:t@203.0.113.77:5998>"));
  c.Envia(ConContacto(Peticion("INVITE", "sinnombre"), "<sip:t@nohost.invalid:5998>"));
  ASSERT_TRUE(ua.Espera([](const vector<EventoSip> &v) { return CuentaTipo(v, EXOSIP_CALL_INVITE) == 2; }));
  ASSERT_TRUE(ua.Espera([](const vector<EventoSip> &v) { return CuentaTipo(v, EXOSIP_CALL_RELEASED) >= 2; }, 45000))
      << eXosip_call_get_infos(nullptr, 0) << " calls held";
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // nothing more comes
  auto ev = ua.Eventos();
  for (auto &e : ev) {
    if (e.tipo != EXOSIP_CALL_INVITE) continue;
    EXPECT_EQ(CuentaTipo(ev, EXOSIP_CALL_RELEASED, e.cid), 1);
  }
  EXPECT_EQ(eXosip_call_get_infos(nullptr, 0), 0);
}

std::atomic<int> g_remota{-1}, g_info{-1};

TEST(ParesHostilesSip, OfferTheSdpParserCannotReadSafelyIsRefused) {
  struct Caso {
    const char *nombre;
    std::string cuerpo;
    bool valida;
  } casos[] = {
      {"m_sin_formatos_lf", "v=0\r\no=- 0 0 IN IP4 127.0.0.1\r\ns=-\r\nt=0 0\r\nm=audio 5004 RTP/AVP\n", false},
      {"linea_sin_tipo", "v=0\r\nbasura\r\nm=audio 5004 RTP/AVP 8\r\n", false},
      {"solo_lf", "v=0\no=- 0 0 IN IP4 127.0.0.1\ns=-\nt=0 0\nm=audio 5004 RTP/AVP 8\n", true},
      {"correcta", SdpPrueba(), true},
  };
  AgentePrueba ua([](eXosip_event_t *ev) {
    if (ev->type != EXOSIP_CALL_INVITE) return;
    sdp_message_t *r = eXosip_get_remote_sdp(ev->did);
    sdp_message_t *i = eXosip_get_sdp_info(ev->request);
    g_remota = r != nullptr;
    g_info = i != nullptr;
    if (r) sdp_message_free(r);
    if (i) sdp_message_free(i);
    eXosip_call_send_answer(ev->tid, r ? 200 : 488, nullptr);
  });
  ASSERT_TRUE(ua.Ok());
  Crudo c;
  int n = 0;
  for (auto &caso : casos) {
    SCOPED_TRACE(caso.nombre);
    g_remota = g_info = -1;
    c.Envia(Peticion("INVITE", std::string("sdp") + caso.nombre, "Content-Type: application/sdp\r\n", caso.cuerpo));
    ++n;
    ASSERT_TRUE(ua.Espera([n](const vector<EventoSip> &v) { return CuentaTipo(v, EXOSIP_CALL_INVITE) == n; }));
    ASSERT_TRUE(ua.Espera([n](const vector<EventoSip> &) { return g_info >= 0; }));
    EXPECT_EQ(g_remota, caso.valida);
    EXPECT_EQ(g_info, caso.valida);
  }
}

std::mutex g_mu;
int g_updates = 0;
void CuentaUpdates(osip_message_t *m, int) {
  std::lock_guard<std::mutex> lk(g_mu);
  g_updates += m->sip_method && strcmp(m->sip_method, "UPDATE") == 0;
}

TEST(ParesHostilesSip, HugeSessionIntervalNamingUsRefresherSendsNoUpdate) {
  for (const char *se : {"5000000;refresher=uac", "99999999999999999999;refresher=uac"}) {
    SCOPED_TRACE(se);
    g_updates = 0;
    AgentePrueba ua([](eXosip_event_t *ev) {
      if (ev->type == EXOSIP_CALL_ANSWERED) EnviaAck(ev->did);
    });
    ASSERT_TRUE(ua.Ok());
    eXosip_set_cbsip_message(CuentaUpdates);
    Crudo c;
    int cid = LlamaASipp("prueba", "90;refresher=uac", "<sip:x@127.0.0.1:5080>");
    ASSERT_GT(cid, 0);
    std::string inv = Espera(c, "INVITE");
    ASSERT_FALSE(inv.empty());
    Contesta(c, inv, 200, std::string("Session-Expires: ") + se + "\r\nContact: <sip:x@127.0.0.1:5080>\r\n");
    ASSERT_TRUE(ua.EsperaTipo(EXOSIP_CALL_ANSWERED, 5000));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // a storm would show by now
    std::lock_guard<std::mutex> lk(g_mu);
    EXPECT_EQ(g_updates, 0);
  }
}

TEST(ParesHostilesSip, NameInAContactDoesNotStallTheStack) {
  Crudo dns_mudo(53);  // a name server that never answers: a look-up waits for its time-outs
  std::ofstream("/etc/resolv.conf") << "nameserver 127.0.0.1\noptions timeout:5 attempts:2\n";
  AgentePrueba ua([](eXosip_event_t *ev) {
    if (ev->type == EXOSIP_MESSAGE_NEW) eXosip_message_send_answer(ev->tid, 200, nullptr);
    AceptaSuscripcion(ev);
  });
  ASSERT_TRUE(ua.Ok());
  Crudo c;
  for (int i = 0; i < 2; ++i) {
    std::string id = std::to_string(i);
    c.Envia(ConContacto(Peticion("SUBSCRIBE", "nombre" + id, "Event: WG67 KEY-IN\r\nExpires: 60\r\n"),
                        "<sip:t@peer.example.org:5996>"));
    ASSERT_TRUE(ua.Espera([i](const vector<EventoSip> &v) { return CuentaTipo(v, EXOSIP_IN_SUBSCRIPTION_NEW) > i; }));
    auto t0 = std::chrono::steady_clock::now();
    c.Envia(Peticion("OPTIONS", "tras" + id));
    std::string r;
    do r = c.Recibe(3000);
    while (!r.empty() && r.find("Call-ID: tras" + id) == std::string::npos);
    EXPECT_EQ(r.rfind("SIP/2.0 200", 0), 0u) << r;
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(1000));
  }
  // The NOTIFY that could not leave ends the subscription it was for.
  EXPECT_TRUE(ua.Espera([](const vector<EventoSip> &v) { return CuentaTipo(v, EXOSIP_IN_SUBSCRIPTION_RELEASED) == 2; }));
}

}  // namespace
