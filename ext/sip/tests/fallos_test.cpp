// Provisional and failure answers from a peer: each raises its own event once, with the ids
// of what it answers, and a call that fails is released once.
#include "agente_prueba.h"

#include <gtest/gtest.h>

namespace {

using std::vector;

struct Caso {
  const char *metodo;
  int provisional;  // 0: none
  int estado;
  vector<int> eventos;
};

int Envia(const char *metodo) {
  const char *para = "<sip:x@127.0.0.1:5080>", *de = "<sip:ua@127.0.0.1:5060>";
  if (strcmp(metodo, "INVITE") == 0) return LlamaASipp("prueba", nullptr, para);
  osip_message_t *m = nullptr;
  if (strcmp(metodo, "SUBSCRIBE") == 0) {
    if (eXosip_subscribe_build_initial_request(&m, para, de, nullptr, "WG67 KEY-IN", 60) != 0) return -1;
    return eXosip_subscribe_send_initial_request(m);
  }
  if (eXosip_options_build_request(&m, para, de, nullptr) != 0) return -1;
  return eXosip_options_send_request(m);
}

TEST(FallosSip, EachAnswerClassRaisesItsEventOnce) {
  const Caso casos[] = {
      {"INVITE", 100, 302, {EXOSIP_CALL_PROCEEDING, EXOSIP_CALL_REDIRECTED, EXOSIP_CALL_RELEASED}},
      {"INVITE", 0, 404, {EXOSIP_CALL_REQUESTFAILURE, EXOSIP_CALL_RELEASED}},
      {"INVITE", 0, 503, {EXOSIP_CALL_SERVERFAILURE, EXOSIP_CALL_RELEASED}},
      {"INVITE", 0, 603, {EXOSIP_CALL_GLOBALFAILURE, EXOSIP_CALL_RELEASED}},
      {"OPTIONS", 0, 404, {EXOSIP_MESSAGE_REQUESTFAILURE}},
      {"SUBSCRIBE", 100, 302, {EXOSIP_SUBSCRIPTION_PROCEEDING, EXOSIP_SUBSCRIPTION_REDIRECTED}},
      {"SUBSCRIBE", 0, 404, {EXOSIP_SUBSCRIPTION_REQUESTFAILURE}},
      {"SUBSCRIBE", 0, 503, {EXOSIP_SUBSCRIPTION_SERVERFAILURE}},
      {"SUBSCRIBE", 0, 603, {EXOSIP_SUBSCRIPTION_GLOBALFAILURE}},
  };
  for (const auto &caso : casos) {
    SCOPED_TRACE(std::string(caso.metodo) + " " + std::to_string(caso.estado));
    AgentePrueba ua(nullptr);
    ASSERT_TRUE(ua.Ok());
    Crudo c;
    int id = Envia(caso.metodo);
    ASSERT_GT(id, 0);
    std::string peticion = Espera(c, caso.metodo);
    ASSERT_FALSE(peticion.empty());
    if (caso.provisional) Contesta(c, peticion, caso.provisional);
    Contesta(c, peticion, caso.estado);
    size_t n = caso.eventos.size();
    ASSERT_TRUE(ua.Espera([n](const vector<EventoSip> &v) { return v.size() >= n; }, 5000)) << ua.Tipos().size();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // nothing more comes
    EXPECT_EQ(ua.Tipos(), caso.eventos);
    auto ev = ua.Eventos();
    const std::string metodo = caso.metodo;
    for (auto &e : ev) EXPECT_EQ(metodo == "INVITE" ? e.cid : metodo == "SUBSCRIBE" ? e.sid : e.tid, id);
    size_t k = caso.provisional ? 1 : 0;
    EXPECT_EQ(ev[0].status, caso.provisional ? caso.provisional : caso.estado);
    EXPECT_EQ(ev[k].status, caso.estado);
    if (metodo == "INVITE") {
      EXPECT_EQ(Espera(c, "ACK").rfind("ACK ", 0), 0u);  // the failure is acknowledged
      EXPECT_EQ(eXosip_call_get_infos(nullptr, 0), 0);
    }
  }
}

// A NOTIFY of an incoming subscription refused with 6xx.
TEST(FallosSip, NotifyRefusedGloballyIsReported) {
  AgentePrueba ua(AceptaSuscripcion);
  ASSERT_TRUE(ua.Ok());
  Crudo c;
  c.Envia(Peticion("SUBSCRIBE", "sus603", "Event: WG67 KEY-IN\r\nExpires: 60\r\n"));
  std::string notify = Espera(c, "NOTIFY");
  ASSERT_FALSE(notify.empty());
  Contesta(c, notify, 603);
  ASSERT_TRUE(ua.EsperaTipo(EXOSIP_NOTIFICATION_GLOBALFAILURE, 5000));
  auto ev = ua.Eventos();
  ASSERT_EQ(ua.Tipos(), (vector<int>{EXOSIP_IN_SUBSCRIPTION_NEW, EXOSIP_NOTIFICATION_GLOBALFAILURE}));
  EXPECT_EQ(ev[1].did, ev[0].did);
  EXPECT_EQ(ev[1].nid, ev[0].nid);
  EXPECT_EQ(ev[1].status, 603);
}

}  // namespace
