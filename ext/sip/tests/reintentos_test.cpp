// What the layer sends again by itself against sipp on loopback: refused re-INVITEs, UPDATEs
// and SUBSCRIBEs through eXosip_default_action, and accepted registrations through
// eXosip_automatic_refresh.
#include "agente_prueba.h"

#include <gtest/gtest.h>

namespace {

using std::vector;
using Reloj = std::chrono::steady_clock;

std::string Escenario(const char *f) { return DirEscenarios() + f; }

// Runs the automatic refresh as the user agent's supervisor does between events.
class Refresco {
 public:
  Refresco()
      : hilo_([this] {
          while (!fin_) {
            eXosip_automatic_refresh();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
          }
        }) {}
  ~Refresco() {
    fin_ = true;
    hilo_.join();
  }

 private:
  std::atomic<bool> fin_{false};
  std::thread hilo_;
};

// Messages seen by the hook: received (tid < 0) and sent, with their time.
struct Visto {
  bool recibido;
  std::string que;  // method, or the status in decimal
  Reloj::time_point t;
};
std::mutex g_m;
std::vector<Visto> g_vistos;
void Anota(osip_message_t *m, int tid) {
  std::lock_guard<std::mutex> lk(g_m);
  g_vistos.push_back({tid < 0, MSG_IS_REQUEST(m) ? m->sip_method : std::to_string(m->status_code), Reloj::now()});
}
// Time of the first message seen after `desde` that matches.
Reloj::time_point Primero(bool recibido, const std::string &que, Reloj::time_point desde = {}) {
  std::lock_guard<std::mutex> lk(g_m);
  for (auto &v : g_vistos)
    if (v.recibido == recibido && v.que == que && v.t > desde) return v.t;
  return {};
}

int RequestDialogo(int did, const char *metodo) {
  osip_message_t *m = nullptr;
  if (eXosip_call_build_request(did, metodo, &m) != 0) return -1;
  osip_message_set_header(m, "Supported", "timer");
  osip_message_set_header(m, "Session-Expires", "90;refresher=uac");
  if (!strcmp(metodo, "INVITE")) {
    osip_message_set_body(m, SdpPrueba(), strlen(SdpPrueba()));
    osip_message_set_content_type(m, "application/sdp");
  }
  return eXosip_call_send_request(did, m);
}

// The call's re-INVITE gets 491 then 422 (Min-SE 120), its UPDATE 422 (Min-SE 150) then 491:
// each is sent again by the default action, the 491 ones after the delay of the Call-ID's
// owner (2.1 to 4 s), the 422 ones at once with Session-Expires raised to the Min-SE.
TEST(ReintentosSip, RefusedReinviteAndUpdateAreSentAgainByTheDefaultAction) {
  {
    std::lock_guard<std::mutex> lk(g_m);
    g_vistos.clear();
  }
  static std::atomic<int> contestadas{0};
  contestadas = 0;
  AgentePrueba ua([](eXosip_event_t *ev) {
    eXosip_default_action(ev);
    if (ev->type == EXOSIP_CALL_ANSWERED) {
      EnviaAck(ev->did);
      RequestDialogo(ev->did, ++contestadas == 1 ? "INVITE" : "UPDATE");
    }
    if (ev->type == EXOSIP_CALL_MESSAGE_ANSWERED && ev->request && MSG_IS_UPDATE(ev->request))
      eXosip_call_terminate(ev->cid, ev->did);
  });
  ASSERT_TRUE(ua.Ok());
  eXosip_set_cbsip_message(Anota);
  Sipp sipp({"-sf", Escenario("uas_rechazos.xml"), "-m", "1"});
  int cid = LlamaASipp();
  ASSERT_GT(cid, 0);
  ASSERT_TRUE(ua.EsperaTipo(EXOSIP_CALL_RELEASED, 20000));
  EXPECT_EQ(sipp.Espera(), 0) << sipp.Log();
  EXPECT_EQ(ua.Tipos(), (vector<int>{EXOSIP_CALL_ANSWERED, EXOSIP_CALL_MESSAGE_REQUESTFAILURE,
                                     EXOSIP_CALL_MESSAGE_REQUESTFAILURE, EXOSIP_CALL_ANSWERED,
                                     EXOSIP_CALL_MESSAGE_REQUESTFAILURE, EXOSIP_CALL_MESSAGE_REQUESTFAILURE,
                                     EXOSIP_CALL_MESSAGE_ANSWERED, EXOSIP_CALL_MESSAGE_ANSWERED,
                                     EXOSIP_CALL_RELEASED}));
  vector<int> estados;
  for (auto &e : ua.Eventos())
    if (e.tipo == EXOSIP_CALL_MESSAGE_REQUESTFAILURE) estados.push_back(e.status);
  EXPECT_EQ(estados, (vector<int>{491, 422, 422, 491}));
  auto ms = [](Reloj::duration d) { return std::chrono::duration_cast<std::chrono::milliseconds>(d).count(); };
  for (const char *metodo : {"INVITE", "UPDATE"}) {
    SCOPED_TRACE(metodo);
    Reloj::time_point recibido = Primero(true, "491");
    if (!strcmp(metodo, "UPDATE")) recibido = Primero(true, "491", recibido);
    ASSERT_NE(recibido, Reloj::time_point{});
    Reloj::time_point otra = Primero(false, metodo, recibido);
    ASSERT_NE(otra, Reloj::time_point{});
    EXPECT_GE(ms(otra - recibido), 2100);
    EXPECT_LE(ms(otra - recibido), 4500);
  }
}

TEST(ReintentosSip, ChallengedSubscribeIsSentAgainWithCredentials) {
  AgentePrueba ua([](eXosip_event_t *ev) { eXosip_default_action(ev); });
  ASSERT_TRUE(ua.Ok());
  eXosip_add_authentication_info("ua", "ua", "clave", "", "pasarela");
  Sipp sipp({"-sf", Escenario("uas_suscribe_reto.xml"), "-m", "1"});
  osip_message_t *s = nullptr;
  ASSERT_EQ(eXosip_subscribe_build_initial_request(&s, "<sip:service@127.0.0.1:5070>", "<sip:ua@127.0.0.1:5060>",
                                                   nullptr, "WG67 KEY-IN", 60),
            0);
  int sid = eXosip_subscribe_send_initial_request(s);
  ASSERT_GT(sid, 0);
  ASSERT_TRUE(ua.EsperaTipo(EXOSIP_SUBSCRIPTION_ANSWERED)) << sipp.Log();
  EXPECT_EQ(sipp.Espera(), 0) << sipp.Log();
  EXPECT_EQ(ua.Tipos(), (vector<int>{EXOSIP_SUBSCRIPTION_REQUESTFAILURE, EXOSIP_SUBSCRIPTION_ANSWERED}));
  auto ev = ua.Eventos();
  EXPECT_EQ(ev[0].status, 401);
  EXPECT_EQ(ev[1].status, 200);
  for (auto &e : ev) EXPECT_EQ(e.sid, sid);
  EXPECT_GT(ev[1].did, 0);
}

// The registrar grants 2 s to our Contact (20 s in Expires): the layer sends the refresh in
// the same registration (Call-ID, CSeq 2) at nine tenths of the 2 s.
TEST(ReintentosSip, AcceptedRegistrationIsRefreshedBeforeItsContactExpires) {
  AgentePrueba ua(nullptr);
  ASSERT_TRUE(ua.Ok());
  Refresco refresco;
  Sipp sipp({"-sf", Escenario("uas_registro_refresco.xml"), "-m", "1"});
  osip_message_t *r = nullptr;
  int rid = eXosip_register_build_initial_register("sip:4511101@127.0.0.1", "sip:127.0.0.1:5070", "4511101", 20, &r);
  ASSERT_GT(rid, 0);
  ASSERT_EQ(eXosip_register_send_register(rid, r), 0);
  ASSERT_TRUE(ua.Espera([](const vector<EventoSip> &v) { return CuentaTipo(v, EXOSIP_REGISTRATION_SUCCESS) >= 2; }))
      << sipp.Log();
  EXPECT_EQ(sipp.Espera(), 0) << sipp.Log();
  auto ev = ua.Eventos();
  ASSERT_EQ(ua.Tipos(), (vector<int>{EXOSIP_REGISTRATION_SUCCESS, EXOSIP_REGISTRATION_SUCCESS}));
  for (auto &e : ev) EXPECT_EQ(e.rid, rid);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(ev[1].t - ev[0].t).count();
  EXPECT_GE(ms, 1600);
  EXPECT_LE(ms, 2000);
}

}  // namespace
