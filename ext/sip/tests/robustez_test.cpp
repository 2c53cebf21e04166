// Malformed datagrams and floods on the SIP port: answered as RFC 3261 says or dropped,
// the stack stays alive and bounded.
#include "agente_prueba.h"

#include <gtest/gtest.h>

#include <random>

namespace {

void Atiende(eXosip_event_t *ev) {
  if (ev->type == EXOSIP_MESSAGE_NEW) eXosip_message_send_answer(ev->tid, 200, nullptr);
  if (ev->type == EXOSIP_CALL_INVITE) eXosip_call_send_answer(ev->tid, 488, nullptr);
}

// The stack still answers an OPTIONS after whatever came before.
void SigueVivo(Crudo &c, const std::string &id) {
  c.Envia(Peticion("OPTIONS", "vivo" + id));
  for (int i = 0; i < 20; ++i) {
    std::string r = c.Recibe();
    ASSERT_FALSE(r.empty()) << "no answer after " << id;
    if (r.find("Call-ID: vivo" + id) != std::string::npos) {
      EXPECT_EQ(r.rfind("SIP/2.0 200", 0), 0u) << r;
      return;
    }
  }
  FAIL() << "no answer to the OPTIONS after " << id;
}

TEST(RobustezSip, SurvivesMalformedDatagrams) {
  AgentePrueba ua(Atiende);
  ASSERT_TRUE(ua.Ok());
  Crudo c;
  std::mt19937 rnd(7);
  std::string basura(1500, '\0');
  for (auto &ch : basura) ch = static_cast<char>(rnd());
  std::string invite = Peticion("INVITE", "trunc", "Content-Type: application/sdp\r\n", "v=0\r\n");
  struct Caso {
    const char *nombre;
    std::string datos;
  } casos[] = {
      {"vacio", ""},
      {"crlf", "\r\n\r\n"},
      {"basura", basura},
      {"truncado", invite.substr(0, 70)},
      {"sin_call_id", "INVITE sip:ua@127.0.0.1 SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:5080;branch=z9hG4bKa\r\n"
                      "From: <sip:x@h>;tag=1\r\nTo: <sip:ua@h>\r\nCSeq: 1 INVITE\r\nContent-Length: 0\r\n\r\n"},
      {"sin_via", "OPTIONS sip:ua@127.0.0.1 SIP/2.0\r\nFrom: <sip:x@h>;tag=1\r\nTo: <sip:ua@h>\r\n"
                  "Call-ID: sv\r\nCSeq: 1 OPTIONS\r\n\r\n"},
      {"largo_excesivo", Peticion("INVITE", "cl1", "Content-Type: application/sdp\r\nContent-Length: 99999\r\n",
                                  "v=0\r\n")},
      {"largo_negativo", Peticion("INVITE", "cl2", "Content-Type: application/sdp\r\nContent-Length: -5\r\n", "v=0")},
      {"sdp_roto", Peticion("INVITE", "sdp1", "Content-Type: application/sdp\r\n", "v=garbage\r\nm=\r\nc=IN\r\n")},
      {"gigante", "OPTIONS sip:a@b SIP/2.0\r\nX: " + std::string(60000, 'a') + "\r\n\r\n"},
      {"respuesta_sin_cabeceras", "SIP/2.0 200 OK\r\n\r\n"},
      {"respuesta_suelta", "SIP/2.0 200 OK\r\nVia: SIP/2.0/UDP 127.0.0.1:5060;branch=z9hG4bKnone\r\n"
                           "From: <sip:a@b>;tag=1\r\nTo: <sip:c@d>;tag=2\r\nCall-ID: nada\r\n"
                           "CSeq: 1 INVITE\r\nContent-Length: 0\r\n\r\n"},
      {"ack_suelto", Peticion("ACK", "ack1")},
      {"bye_sin_dialogo", Peticion("BYE", "bye1", "", "", "")},
      {"cseq_raro", Peticion("OPTIONS", "cs1", "", "", "OPTIONS x")},
  };
  for (auto &caso : casos) {
    c.Envia(caso.datos);
    SigueVivo(c, caso.nombre);
  }
}

TEST(RobustezSip, RequestWhoseCSeqNamesAnotherMethodGets400) {
  AgentePrueba ua(Atiende);
  ASSERT_TRUE(ua.Ok());
  Crudo c;
  c.Envia(Peticion("OPTIONS", "mal1", "", "", "INVITE"));
  std::string r = c.Recibe();
  EXPECT_EQ(r.rfind("SIP/2.0 400", 0), 0u) << r;
  EXPECT_TRUE(ua.Eventos().empty());
}

TEST(RobustezSip, ByeOutsideAnyDialogGets481) {
  AgentePrueba ua(Atiende);
  ASSERT_TRUE(ua.Ok());
  Crudo c;
  c.Envia(Peticion("BYE", "b481", "", ""));
  std::string r = c.Recibe();
  EXPECT_EQ(r.rfind("SIP/2.0 481", 0), 0u) << r;
}

TEST(RobustezSip, InviteFloodKeepsCallsBounded) {
  AgentePrueba ua(nullptr);  // nobody answers: every call stays open
  ASSERT_TRUE(ua.Ok());
  Crudo c;
  int rechazos = 0;
  for (int i = 0; i < 1200; ++i) {
    c.Envia(Peticion("INVITE", "flood" + std::to_string(i)));
    if (i % 50 == 49) {  // pace the sender a little and drain the answers
      for (std::string r = c.Recibe(5); !r.empty(); r = c.Recibe(5)) rechazos += r.rfind("SIP/2.0 503", 0) == 0;
    }
  }
  for (std::string r = c.Recibe(300); !r.empty(); r = c.Recibe(300)) rechazos += r.rfind("SIP/2.0 503", 0) == 0;
  int llamadas = eXosip_call_get_infos(nullptr, 0);
  EXPECT_LE(llamadas, 512);
  EXPECT_GT(llamadas, 400);
  EXPECT_GE(rechazos, 1200 - llamadas - 50);
}

}  // namespace

namespace {

TEST(RobustezSip, SubscriptionNotRefreshedIsReleasedAtItsExpiry) {
  AgentePrueba ua([](eXosip_event_t *ev) {
    if (ev->type == EXOSIP_IN_SUBSCRIPTION_NEW) eXosip_insubscription_send_answer(ev->tid, 200, nullptr);
  });
  ASSERT_TRUE(ua.Ok());
  Crudo c;
  c.Envia(Peticion("SUBSCRIBE", "sub1", "Event: WG67 P/R\r\nExpires: 1\r\n"));
  std::string r = c.Recibe();
  EXPECT_EQ(r.rfind("SIP/2.0 200", 0), 0u) << r;
  EXPECT_NE(r.find("Expires: 1"), std::string::npos) << r;
  ASSERT_TRUE(ua.EsperaTipo(EXOSIP_IN_SUBSCRIPTION_RELEASED, 4000));
  auto ev = ua.Eventos();
  ASSERT_EQ(ev.size(), 2u);
  EXPECT_EQ(ev[1].nid, ev[0].nid);
  EXPECT_EQ(ev[1].did, ev[0].did);
  // a SUBSCRIBE without Event is refused with 489
  c.Envia(Peticion("SUBSCRIBE", "sub2", "Expires: 60\r\n"));
  r = c.Recibe();
  EXPECT_EQ(r.rfind("SIP/2.0 489", 0), 0u) << r;
}

}  // namespace

namespace {

TEST(RobustezSip, InviteRetransmittedAfterThe200IsNotASecondCall) {
  AgentePrueba ua([](eXosip_event_t *ev) {
    if (ev->type == EXOSIP_CALL_INVITE) Responde200(ev->tid);
  });
  ASSERT_TRUE(ua.Ok());
  Crudo c;
  std::string inv = Peticion("INVITE", "retr1");
  c.Envia(inv);
  ASSERT_TRUE(ua.EsperaTipo(EXOSIP_CALL_INVITE));
  int doscientos = 0;
  for (std::string r = c.Recibe(300); !r.empty(); r = c.Recibe(300)) doscientos += r.rfind("SIP/2.0 200", 0) == 0;
  EXPECT_GE(doscientos, 1);
  c.Envia(inv);
  bool otra = false;
  for (std::string r = c.Recibe(300); !r.empty(); r = c.Recibe(300)) otra |= r.rfind("SIP/2.0 200", 0) == 0;
  EXPECT_TRUE(otra);  // answered again with the 2xx
  EXPECT_EQ(ua.Tipos(), (std::vector<int>{EXOSIP_CALL_INVITE}));
  EXPECT_EQ(eXosip_call_get_infos(nullptr, 0), 1);
}

// Nobody waits for events: the stack's own timers still answer and retransmit on time.
TEST(RobustezSip, TimersRunWhileNoOneWaitsForEvents) {
  ASSERT_EQ(eXosip_init(), 0);
  ASSERT_EQ(eXosip_listen_addr(17, nullptr, 5060, 2, 0), 0);
  Crudo c;
  c.Envia(Peticion("INVITE", "solo1"));
  EXPECT_EQ(c.Recibe(1000).rfind("SIP/2.0 100", 0), 0u);  // Trying, from the stack itself
  osip_message_t *o = nullptr;
  ASSERT_EQ(eXosip_options_build_request(&o, "<sip:x@127.0.0.1:5080>", "<sip:ua@127.0.0.1:5060>", nullptr), 0);
  ASSERT_GT(eXosip_options_send_request(o), 0);
  auto t0 = std::chrono::steady_clock::now();
  int opciones = 0;
  while (opciones < 2) {
    std::string r = c.Recibe(1000);
    if (r.empty()) break;
    opciones += r.rfind("OPTIONS ", 0) == 0;
  }
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_EQ(opciones, 2);  // the first send and its retransmission after T1
  EXPECT_GE(ms, 400);
  EXPECT_LT(ms, 1500);
  eXosip_quit();
}

// Another stack already on the SIP port (even one that allows address reuse): the listen fails.
TEST(RobustezSip, ListenFailsWhileAnotherStackHoldsThePort) {
  int otro = socket(AF_INET, SOCK_DGRAM, 0);
  int uno = 1;
  setsockopt(otro, SOL_SOCKET, SO_REUSEADDR, &uno, sizeof uno);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(5060);
  ASSERT_EQ(bind(otro, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
  ASSERT_EQ(eXosip_init(), 0);
  EXPECT_NE(eXosip_listen_addr(17, nullptr, 5060, 2, 0), 0);
  eXosip_quit();
  close(otro);
  ASSERT_EQ(eXosip_init(), 0);
  EXPECT_EQ(eXosip_listen_addr(17, nullptr, 5060, 2, 0), 0);  // free again
  eXosip_quit();
}

}  // namespace
