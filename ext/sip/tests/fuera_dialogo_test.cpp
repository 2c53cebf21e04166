// OPTIONS, subscriptions and registration against sipp on loopback.
#include "agente_prueba.h"

#include <gtest/gtest.h>

namespace {

using std::vector;

std::string Escenario(const char *f) { return DirEscenarios() + f; }

// Subscribes to sipp's service on 5070; returns the sid (< 1 on failure).
int SuscribeASipp(const char *evento, int expira) {
  osip_message_t *s = nullptr;
  if (eXosip_subscribe_build_initial_request(&s, "<sip:service@127.0.0.1:5070>", "<sip:ua@127.0.0.1:5060>", nullptr,
                                             evento, expira) != 0)
    return -1;
  osip_message_set_header(s, "Accept", "application/pidf+xml");
  return eXosip_subscribe_send_initial_request(s);
}

TEST(FueraDialogoSip, AnswersOptionsFromSipp) {
  AgentePrueba ua([](eXosip_event_t *ev) {
    if (ev->type == EXOSIP_MESSAGE_NEW && MSG_IS_OPTIONS(ev->request)) {
      osip_message_t *a = nullptr;
      ASSERT_EQ(eXosip_message_build_answer(ev->tid, 200, &a), 0);
      osip_message_set_header(a, "WG67-Version", "legacy-eu.01");
      eXosip_message_send_answer(ev->tid, 200, a);
    }
  });
  ASSERT_TRUE(ua.Ok());
  Sipp sipp({"-sf", Escenario("uac_options.xml"), "-m", "1", "127.0.0.1:5060"});
  EXPECT_EQ(sipp.Espera(), 0) << sipp.Log();
  ASSERT_TRUE(ua.EsperaTipo(EXOSIP_MESSAGE_NEW));
  auto ev = ua.Eventos();
  EXPECT_EQ(ev[0].cid, 0);
  EXPECT_GT(ev[0].tid, 0);
}

TEST(FueraDialogoSip, OptionsToSippIsAnswered) {
  AgentePrueba ua(nullptr);
  ASSERT_TRUE(ua.Ok());
  Sipp sipp({"-sf", Escenario("uas_options.xml"), "-m", "1"});
  osip_message_t *o = nullptr;
  ASSERT_EQ(eXosip_options_build_request(&o, "<sip:service@127.0.0.1:5070>", "<sip:ua@127.0.0.1>", nullptr), 0);
  int tid = eXosip_options_send_request(o);
  ASSERT_GT(tid, 0);
  ASSERT_TRUE(ua.EsperaTipo(EXOSIP_MESSAGE_ANSWERED));
  auto ev = ua.Eventos();
  ASSERT_EQ(ev.size(), 1u);
  EXPECT_EQ(ev[0].tid, tid);
  EXPECT_EQ(ev[0].status, 200);
  EXPECT_EQ(sipp.Espera(), 0) << sipp.Log();
}

// Event headers of every NOTIFY the stack sends.
std::atomic<int> g_notifies{0}, g_eventos_notify{0};
void CuentaEventosNotify(osip_message_t *m, int) {
  if (!MSG_IS_NOTIFY(m)) return;
  ++g_notifies;
  osip_header_t *h = nullptr;
  for (int pos = 0; (pos = osip_message_header_get_byname(m, "Event", pos, &h)) >= 0; ++pos) ++g_eventos_notify;
}

TEST(FueraDialogoSip, IncomingSubscriptionNotifiedAndEndedByUnsubscribe) {
  g_notifies = 0;
  g_eventos_notify = 0;
  AgentePrueba ua([](eXosip_event_t *ev) {
    if (ev->type != EXOSIP_IN_SUBSCRIPTION_NEW) return;
    eXosip_insubscription_send_answer(ev->tid, 200, nullptr);
    osip_header_t *exp = nullptr;
    osip_message_header_get_byname(ev->request, "Expires", 0, &exp);
    bool fin = exp && exp->hvalue && atoi(exp->hvalue) == 0;
    osip_message_t *n = nullptr;
    ASSERT_EQ(eXosip_insubscription_build_notify(ev->did, fin ? EXOSIP_SUBCRSTATE_TERMINATED : EXOSIP_SUBCRSTATE_ACTIVE,
                                                 fin ? TIMEOUT : 0, &n),
              0);
    osip_message_set_header(n, "Event", "WG67 KEY-IN");  // as the user agent names it itself
    osip_message_set_body(n, "1,radio\r\n", 9);
    osip_message_set_content_type(n, "text/plain");
    eXosip_insubscription_send_request(ev->did, n);
  });
  ASSERT_TRUE(ua.Ok());
  eXosip_set_cbsip_message(CuentaEventosNotify);
  Sipp sipp({"-sf", Escenario("uac_suscribe.xml"), "-m", "1", "127.0.0.1:5060"});
  EXPECT_EQ(sipp.Espera(), 0) << sipp.Log();
  ASSERT_TRUE(ua.EsperaTipo(EXOSIP_IN_SUBSCRIPTION_RELEASED));
  EXPECT_EQ(ua.Tipos(), (vector<int>{EXOSIP_IN_SUBSCRIPTION_NEW, EXOSIP_NOTIFICATION_ANSWERED,
                                     EXOSIP_IN_SUBSCRIPTION_NEW, EXOSIP_NOTIFICATION_ANSWERED,
                                     EXOSIP_IN_SUBSCRIPTION_RELEASED}));
  auto ev = ua.Eventos();
  EXPECT_GT(ev[0].did, 0);
  EXPECT_GT(ev[0].nid, 0);
  EXPECT_EQ(ev[0].ss_status, EXOSIP_SUBCRSTATE_PENDING);
  EXPECT_EQ(ev[2].ss_status, EXOSIP_SUBCRSTATE_ACTIVE);  // the state of the last NOTIFY
  for (auto &e : ev) {
    EXPECT_EQ(e.cid, 0);
    EXPECT_EQ(e.did, ev[0].did);
    EXPECT_EQ(e.nid, ev[0].nid);
  }
  EXPECT_GE(g_notifies.load(), 2);
  EXPECT_EQ(g_eventos_notify.load(), g_notifies.load());  // one Event each
}

// A subscription asked for years is granted an hour at the most: the answer says how long.
TEST(FueraDialogoSip, IncomingSubscriptionIsGrantedAnHourAtMost) {
  AgentePrueba ua(AceptaSuscripcion);
  ASSERT_TRUE(ua.Ok());
  Crudo c;
  for (auto [pedido, concedido] : {std::pair<const char *, const char *>{"2000000000", "3600"}, {"60", "60"}}) {
    const std::string id = std::string("larga") + pedido;
    c.Envia(Peticion("SUBSCRIBE", id, std::string("Event: WG67 KEY-IN\r\nExpires: ") + pedido + "\r\n"));
    std::string r;
    for (int i = 0; i < 20 && r.rfind("SIP/2.0 200", 0) != 0; ++i) r = c.Recibe();
    EXPECT_EQ(Cabecera(r, "Expires"), std::string("Expires: ") + concedido + "\r\n") << r;
  }
}

TEST(FueraDialogoSip, OutgoingSubscriptionAnsweredAndNotified) {
  AgentePrueba ua(nullptr);
  ASSERT_TRUE(ua.Ok());
  Sipp sipp({"-sf", Escenario("uas_notifica.xml"), "-m", "1"});
  int sid = SuscribeASipp("WG67 KEY-IN", 60);
  ASSERT_GT(sid, 0);
  ASSERT_TRUE(ua.EsperaTipo(EXOSIP_SUBSCRIPTION_NOTIFY));
  EXPECT_EQ(sipp.Espera(), 0) << sipp.Log();
  auto ev = ua.Eventos();
  ASSERT_EQ(ua.Tipos(), (vector<int>{EXOSIP_SUBSCRIPTION_ANSWERED, EXOSIP_SUBSCRIPTION_NOTIFY}));
  EXPECT_EQ(ev[0].sid, sid);
  EXPECT_EQ(ev[1].sid, sid);
  EXPECT_GT(ev[0].did, 0);
  EXPECT_EQ(ev[1].did, ev[0].did);
  EXPECT_EQ(ev[1].ss_status, EXOSIP_SUBCRSTATE_ACTIVE);
}

TEST(FueraDialogoSip, RegisterResentWithDigestAfterChallenge) {
  AgentePrueba ua([](eXosip_event_t *ev) {
    if (ev->type != EXOSIP_REGISTRATION_FAILURE) return;
    // other users' credentials stand beside: the request's own user is the one taken
    eXosip_add_authentication_info("4511102", "4511102", "9173", "", "");
    eXosip_add_authentication_info("4511103", "4511103", "9173", "", "asterisk");
    eXosip_add_authentication_info("4511101", "4511101", "QWZ", "", "asterisk");
    osip_message_t *r = nullptr;
    if (eXosip_register_build_register(ev->rid, 20, &r) == 0) eXosip_register_send_register(ev->rid, r);
  });
  ASSERT_TRUE(ua.Ok());
  Sipp sipp({"-sf", Escenario("uas_registro.xml"), "-m", "1"});
  osip_message_t *r = nullptr;
  int rid = eXosip_register_build_initial_register("sip:4511101@127.0.0.1", "sip:127.0.0.1:5070", "4511101", 20, &r);
  ASSERT_GT(rid, 0);
  osip_message_set_contact(r, "<sip:4511101@127.0.0.1:5060>");
  ASSERT_EQ(eXosip_register_send_register(rid, r), 0);
  ASSERT_TRUE(ua.EsperaTipo(EXOSIP_REGISTRATION_SUCCESS));
  EXPECT_EQ(ua.Tipos(), (vector<int>{EXOSIP_REGISTRATION_FAILURE, EXOSIP_REGISTRATION_SUCCESS}));
  for (auto &e : ua.Eventos()) EXPECT_EQ(e.rid, rid);
  EXPECT_EQ(sipp.Espera(), 0) << sipp.Log();
}

}  // namespace

namespace {

TEST(FueraDialogoSip, AutomaticRefreshRenewsOutgoingSubscriptionBeforeItExpires) {
  AgentePrueba ua(nullptr);
  ASSERT_TRUE(ua.Ok());
  std::atomic<bool> fin{false};
  std::thread refresco([&] {  // as the user agent's supervisor does between events
    while (!fin) {
      eXosip_automatic_refresh();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  Sipp sipp({"-sf", Escenario("uas_refresco.xml"), "-m", "1"});
  int sid = SuscribeASipp("WG67 P/R", 2);
  ASSERT_GT(sid, 0);
  EXPECT_TRUE(ua.EsperaTipo(EXOSIP_SUBSCRIPTION_NOTIFY, 5000));
  fin = true;
  refresco.join();
  EXPECT_EQ(sipp.Espera(), 0) << sipp.Log();
  EXPECT_EQ(ua.Tipos(), (vector<int>{EXOSIP_SUBSCRIPTION_ANSWERED, EXOSIP_SUBSCRIPTION_ANSWERED,
                                     EXOSIP_SUBSCRIPTION_NOTIFY}));
  for (auto &e : ua.Eventos()) EXPECT_EQ(e.sid, sid);
  EXPECT_EQ(ua.Eventos().back().ss_status, EXOSIP_SUBCRSTATE_TERMINATED);
}

// The user agent's own refresh: it adds Accept, Event and Expires to the built request; the
// peer sees one Event and one Expires, the new ones.
TEST(FueraDialogoSip, RefreshBuiltByTheAgentCarriesItsOwnEventAndExpiresOnce) {
  AgentePrueba ua(nullptr);
  ASSERT_TRUE(ua.Ok());
  Sipp sipp({"-sf", Escenario("uas_refresco_pedido.xml"), "-m", "1"});
  int sid = SuscribeASipp("WG67 KEY-IN", 60);
  ASSERT_GT(sid, 0);
  ASSERT_TRUE(ua.EsperaTipo(EXOSIP_SUBSCRIPTION_NOTIFY));
  int did = ua.Eventos().back().did;
  osip_message_t *r = nullptr;
  ASSERT_EQ(eXosip_subscribe_build_refresh_request(did, &r), 0);
  osip_message_set_header(r, "Accept", "application/pidf+xml");
  osip_message_set_header(r, "Event", "WG67 KEY-IN");
  osip_message_set_header(r, "Expires", "30");
  ASSERT_EQ(eXosip_subscribe_send_refresh_request(did, r), 0);
  EXPECT_EQ(sipp.Espera(), 0) << sipp.Log();
  ASSERT_TRUE(ua.Espera([](const vector<EventoSip> &v) { return v.size() >= 3; }));
  EXPECT_EQ(ua.Tipos(), (vector<int>{EXOSIP_SUBSCRIPTION_ANSWERED, EXOSIP_SUBSCRIPTION_NOTIFY,
                                     EXOSIP_SUBSCRIPTION_ANSWERED}));
  for (auto &e : ua.Eventos()) EXPECT_EQ(e.sid, sid);
}

// A user name alone as contact binds that user at the stack's own address.
TEST(FueraDialogoSip, RegisterWithAUserNameAsContactBindsItHere) {
  AgentePrueba ua(nullptr);
  ASSERT_TRUE(ua.Ok());
  ASSERT_EQ(eXosip_set_option(EXOSIP_OPT_SET_IPV4_FOR_GATEWAY, "127.0.0.1"), 0);
  Crudo registrador;
  osip_message_t *r = nullptr;
  int rid = eXosip_register_build_initial_register("sip:4511101@127.0.0.1", "sip:127.0.0.1:5080", "4511101", 20, &r);
  ASSERT_GT(rid, 0);
  ASSERT_EQ(eXosip_register_send_register(rid, r), 0);
  std::string peticion = registrador.Recibe();
  EXPECT_EQ(peticion.rfind("REGISTER sip:127.0.0.1:5080 SIP/2.0\r\n", 0), 0u) << peticion;
  EXPECT_NE(peticion.find("\r\nContact: <sip:4511101@127.0.0.1:5060>\r\n"), std::string::npos) << peticion;
  EXPECT_NE(peticion.find("\r\nExpires: 20\r\n"), std::string::npos) << peticion;
}

}  // namespace
