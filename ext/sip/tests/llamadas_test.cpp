// Calls against sipp on loopback: the events the user agent relies on, once each, in order.
#include "agente_prueba.h"

#include <gtest/gtest.h>

#include <map>

namespace {

using std::vector;

// Answers incoming calls with 180 then 200, and every in-dialog request with 200.
void AtiendeLlamadas(eXosip_event_t *ev) {
  switch (ev->type) {
    case EXOSIP_CALL_INVITE:
      eXosip_call_send_answer(ev->tid, 180, nullptr);
      Responde200(ev->tid);
      break;
    case EXOSIP_CALL_REINVITE:
      Responde200(ev->tid);
      break;
    case EXOSIP_CALL_MESSAGE_NEW: {
      osip_message_t *a = nullptr;
      if (eXosip_call_build_answer(ev->tid, 200, &a) == 0) eXosip_call_send_answer(ev->tid, 200, a);
      break;
    }
    case EXOSIP_MESSAGE_NEW:
      eXosip_message_send_answer(ev->tid, 200, nullptr);
      break;
    case EXOSIP_CALL_ANSWERED:
      EnviaAck(ev->did);
      break;
    default:
      break;
  }
}

TEST(LlamadasSip, AnswersSippStandardUac) {
  AgentePrueba ua(AtiendeLlamadas);
  ASSERT_TRUE(ua.Ok());
  Sipp sipp({"-sn", "uac", "-m", "1", "-d", "100", "127.0.0.1:5060"});
  EXPECT_EQ(sipp.Espera(), 0) << sipp.Log();
  ASSERT_TRUE(ua.EsperaTipo(EXOSIP_CALL_RELEASED));
  auto ev = ua.Eventos();
  ASSERT_EQ(ua.Tipos(), (vector<int>{EXOSIP_CALL_INVITE, EXOSIP_CALL_ACK, EXOSIP_CALL_CLOSED, EXOSIP_CALL_RELEASED}));
  int cid = ev[0].cid, did = ev[0].did;
  EXPECT_GT(cid, 0);
  EXPECT_GT(did, 0);  // the dialog exists when the INVITE is reported
  for (auto &e : ev) {
    EXPECT_EQ(e.cid, cid);
    EXPECT_EQ(e.did, did);
  }
  eXosip_call_info_t info[4];
  EXPECT_EQ(eXosip_call_get_infos(info, 4), 0);  // nothing of the call is left
}

TEST(LlamadasSip, PlacesCallIntoSippStandardUasAndHangsUp) {
  AgentePrueba ua(AtiendeLlamadas);
  ASSERT_TRUE(ua.Ok());
  Sipp sipp({"-sn", "uas", "-m", "1"});
  int cid = LlamaASipp();
  ASSERT_GT(cid, 0);
  ASSERT_TRUE(ua.EsperaTipo(EXOSIP_CALL_ANSWERED));
  auto ans = ua.Eventos().back();
  EXPECT_EQ(ans.cid, cid);
  sdp_message_t *remoto = eXosip_get_remote_sdp(ans.did);
  ASSERT_NE(remoto, nullptr);
  EXPECT_NE(eXosip_get_audio_media(remoto), nullptr);
  sdp_message_free(remoto);
  EXPECT_EQ(eXosip_call_terminate(cid, ans.did), 0);
  ASSERT_TRUE(ua.EsperaTipo(EXOSIP_CALL_RELEASED));
  EXPECT_EQ(sipp.Espera(), 0) << sipp.Log();
  auto ev = ua.Eventos();
  EXPECT_EQ(CuentaTipo(ev, EXOSIP_CALL_RINGING), 1);
  EXPECT_EQ(CuentaTipo(ev, EXOSIP_CALL_ANSWERED), 1);
  EXPECT_EQ(CuentaTipo(ev, EXOSIP_CALL_RELEASED), 1);
  EXPECT_EQ(ev.back().tipo, EXOSIP_CALL_RELEASED);
  for (auto &e : ev) EXPECT_EQ(e.cid, cid);
}

}  // namespace

namespace {

std::string Escenario(const char *f) { return DirEscenarios() + f; }

TEST(LlamadasSip, CancelBeforeAnswerGives487AndReleasesOnce) {
  AgentePrueba ua([](eXosip_event_t *ev) {
    if (ev->type == EXOSIP_CALL_INVITE) eXosip_call_send_answer(ev->tid, 180, nullptr);
  });
  ASSERT_TRUE(ua.Ok());
  Sipp sipp({"-sf", Escenario("uac_cancela.xml"), "-m", "1", "127.0.0.1:5060"});
  EXPECT_EQ(sipp.Espera(), 0) << sipp.Log();
  ASSERT_TRUE(ua.EsperaTipo(EXOSIP_CALL_RELEASED));
  EXPECT_EQ(ua.Tipos(), (vector<int>{EXOSIP_CALL_INVITE, EXOSIP_CALL_CANCELLED, EXOSIP_CALL_RELEASED}));
  auto ev = ua.Eventos();
  EXPECT_EQ(ev[1].cid, ev[0].cid);
  EXPECT_EQ(ev[2].did, ev[0].did);
}

TEST(LlamadasSip, InfoAndReinviteInDialogThenByeFromSipp) {
  AgentePrueba ua(AtiendeLlamadas);
  ASSERT_TRUE(ua.Ok());
  Sipp sipp({"-sf", Escenario("uac_dialogo.xml"), "-m", "1", "127.0.0.1:5060"});
  EXPECT_EQ(sipp.Espera(), 0) << sipp.Log();
  ASSERT_TRUE(ua.EsperaTipo(EXOSIP_CALL_RELEASED));
  EXPECT_EQ(ua.Tipos(), (vector<int>{EXOSIP_CALL_INVITE, EXOSIP_CALL_ACK, EXOSIP_CALL_MESSAGE_NEW,
                                     EXOSIP_CALL_REINVITE, EXOSIP_CALL_ACK, EXOSIP_CALL_CLOSED,
                                     EXOSIP_CALL_RELEASED}));
  auto ev = ua.Eventos();
  EXPECT_EQ(ev[2].metodo, "INFO");
  for (auto &e : ev) EXPECT_EQ(e.did, ev[0].did);
}

TEST(LlamadasSip, HangsUpWithWg67ReasonInTheBye) {
  AgentePrueba ua([](eXosip_event_t *ev) {
    AtiendeLlamadas(ev);
    if (ev->type == EXOSIP_CALL_ACK)
      eXosip_call_terminate_with_text(ev->cid, ev->did, 0, "WG-67; cause=2004; text=\"internal error\"",
                                      "127.0.0.1", "phone.01", "prueba/2", nullptr);
  });
  ASSERT_TRUE(ua.Ok());
  Sipp sipp({"-sf", Escenario("uac_bye_del_agente.xml"), "-m", "1", "127.0.0.1:5060"});
  EXPECT_EQ(sipp.Espera(), 0) << sipp.Log();
  ASSERT_TRUE(ua.EsperaTipo(EXOSIP_CALL_RELEASED));
  EXPECT_EQ(ua.Tipos(), (vector<int>{EXOSIP_CALL_INVITE, EXOSIP_CALL_ACK, EXOSIP_CALL_MESSAGE_ANSWERED,
                                     EXOSIP_CALL_RELEASED}));
}

std::atomic<int> g_doscientos{0};
void CuentaDoscientos(osip_message_t *m, int) {
  if (MSG_IS_RESPONSE(m) && m->status_code == 200 && m->cseq && strcmp(m->cseq->method, "INVITE") == 0)
    ++g_doscientos;
}

TEST(LlamadasSip, Retransmits200UntilTheWithheldAckArrives) {
  g_doscientos = 0;
  AgentePrueba ua([](eXosip_event_t *ev) {
    AtiendeLlamadas(ev);
    if (ev->type == EXOSIP_CALL_ACK) eXosip_call_terminate(ev->cid, ev->did);
  });
  ASSERT_TRUE(ua.Ok());
  eXosip_set_cbsip_message(CuentaDoscientos);
  Sipp sipp({"-sf", Escenario("uac_sin_ack.xml"), "-m", "1", "127.0.0.1:5060"});
  EXPECT_EQ(sipp.Espera(), 0) << sipp.Log();
  ASSERT_TRUE(ua.EsperaTipo(EXOSIP_CALL_RELEASED));
  // first 200 and its retransmissions after 500 ms and 1.5 s, none after the ACK
  EXPECT_EQ(g_doscientos.load(), 3);
  auto ev = ua.Eventos();
  int acks = 0;
  for (auto &e : ev) acks += e.tipo == EXOSIP_CALL_ACK;
  EXPECT_EQ(acks, 1);
}

TEST(LlamadasSip, ReliableProvisionalIsAnsweredWithPrack) {
  AgentePrueba ua([](eXosip_event_t *ev) {
    if (ev->type == EXOSIP_CALL_RINGING) {
      osip_message_t *prack = nullptr;
      if (eXosip_call_build_prack(ev->tid, &prack) == 0) eXosip_call_send_prack(ev->tid, prack);
    }
    if (ev->type == EXOSIP_CALL_ANSWERED) {
      EnviaAck(ev->did);
      eXosip_call_terminate(ev->cid, ev->did);
    }
  });
  ASSERT_TRUE(ua.Ok());
  Sipp sipp({"-sf", Escenario("uas_prack.xml"), "-m", "1"});
  int cid = LlamaASipp();
  ASSERT_GT(cid, 0);
  ASSERT_TRUE(ua.EsperaTipo(EXOSIP_CALL_RELEASED));
  EXPECT_EQ(sipp.Espera(), 0) << sipp.Log();
  auto t = ua.Tipos();
  EXPECT_EQ(t.front(), EXOSIP_CALL_RINGING);
  EXPECT_EQ(t.back(), EXOSIP_CALL_RELEASED);
  EXPECT_EQ(CuentaTipo(ua.Eventos(), EXOSIP_CALL_ANSWERED), 1);
}

std::mutex g_m;
std::vector<std::chrono::steady_clock::time_point> g_updates;
void AnotaUpdates(osip_message_t *m, int) {
  if (MSG_IS_REQUEST(m) && strcmp(m->sip_method, "UPDATE") == 0) {
    std::lock_guard<std::mutex> lk(g_m);
    g_updates.push_back(std::chrono::steady_clock::now());
  }
}

TEST(LlamadasSip, RefresherSendsUpdateWithinHalfTheSessionInterval) {
  g_updates.clear();
  AgentePrueba ua([](eXosip_event_t *ev) {
    if (ev->type == EXOSIP_CALL_ANSWERED) EnviaAck(ev->did);
  });
  ASSERT_TRUE(ua.Ok());
  eXosip_set_cbsip_message(AnotaUpdates);
  Sipp sipp({"-sf", Escenario("uas_temporizador.xml"), "-m", "1"});
  int cid = LlamaASipp("IA call", "2;refresher=uac");
  ASSERT_GT(cid, 0);
  ASSERT_TRUE(ua.Espera([](const vector<EventoSip> &v) { return CuentaTipo(v, EXOSIP_CALL_MESSAGE_ANSWERED) >= 2; }));
  auto ev = ua.Eventos();
  EXPECT_EQ(eXosip_call_terminate(cid, ev[0].did), 0);
  ASSERT_TRUE(ua.EsperaTipo(EXOSIP_CALL_RELEASED));
  EXPECT_EQ(sipp.Espera(), 0) << sipp.Log();
  std::chrono::steady_clock::time_point answered;
  for (auto &e : ev)
    if (e.tipo == EXOSIP_CALL_ANSWERED) answered = e.t;
  std::lock_guard<std::mutex> lk(g_m);
  ASSERT_GE(g_updates.size(), 2u);
  auto ms = [](auto d) { return std::chrono::duration_cast<std::chrono::milliseconds>(d).count(); };
  EXPECT_LE(ms(g_updates[0] - answered), 1000);
  EXPECT_LE(ms(g_updates[1] - g_updates[0]), 1100);
  EXPECT_GE(ms(g_updates[1] - g_updates[0]), 850);
}

}  // namespace

namespace {

std::mutex g_mh;
std::vector<std::pair<int, int>> g_visto;  // (status or 0 for requests, cid found)
void PonVersion(osip_message_t *m, int tid) {
  eXosip_call_t *jc = nullptr;
  eXosip_dialog_t *jd = nullptr;
  osip_transaction_t *tr = nullptr;
  int cid = 0;
  if (tid > 0 && _eXosip_call_transaction_find(tid, &jc, &jd, &tr) == 0 && jc && jc->c_id > 0) {
    cid = jc->c_id;
    osip_header_t *h = nullptr;
    if (osip_message_header_get_byname(m, "WG67-Version", 0, &h) < 0) osip_message_set_header(m, "WG67-Version", "phone.01");
  }
  std::lock_guard<std::mutex> lk(g_mh);
  g_visto.emplace_back(m->status_code, cid);
}

TEST(LlamadasSip, MessageHookFindsTheCallOfEachTransaction) {
  g_visto.clear();
  static eXosip_call_info_t info[4];
  static int n_info;
  AgentePrueba ua([](eXosip_event_t *ev) {
    if (ev->type == EXOSIP_CALL_INVITE) n_info = eXosip_call_get_infos(info, 4);
    AtiendeLlamadas(ev);
  });
  ASSERT_TRUE(ua.Ok());
  eXosip_set_cbsip_message(PonVersion);
  Sipp sipp({"-sn", "uac", "-m", "1", "-d", "100", "127.0.0.1:5060"});
  EXPECT_EQ(sipp.Espera(), 0) << sipp.Log();
  ASSERT_TRUE(ua.EsperaTipo(EXOSIP_CALL_RELEASED));
  auto ev = ua.Eventos();
  ASSERT_EQ(n_info, 1);
  EXPECT_EQ(info[0].cid, ev[0].cid);
  EXPECT_EQ(info[0].inc_tid, ev[0].tid);
  EXPECT_EQ(info[0].out_tid, -1);
  ASSERT_EQ(info[0].ndialogs, 1);
  EXPECT_EQ(info[0].dialogs[0].did, ev[0].did);
  EXPECT_EQ(info[0].dialogs[0].state, 0);
  std::lock_guard<std::mutex> lk(g_mh);
  std::map<int, int> cid_por_status(g_visto.begin(), g_visto.end());
  EXPECT_EQ(cid_por_status[180], ev[0].cid);
  EXPECT_EQ(cid_por_status[200], ev[0].cid);
}

// Received messages reach the hook too, before the stack handles them, with the negative id of
// their transaction: the INVITE and its ACK that of the INVITE, the BYE its own.
TEST(LlamadasSip, MessageHookSeesReceivedMessagesWithTheirTransaction) {
  g_visto.clear();
  static std::vector<std::pair<std::string, int>> recibidos;  // (method or status, tid)
  recibidos.clear();
  AgentePrueba ua(AtiendeLlamadas);
  ASSERT_TRUE(ua.Ok());
  eXosip_set_cbsip_message([](osip_message_t *m, int tid) {
    if (tid >= 0) return;
    std::lock_guard<std::mutex> lk(g_mh);
    recibidos.emplace_back(MSG_IS_REQUEST(m) ? m->sip_method : std::to_string(m->status_code), tid);
  });
  Sipp sipp({"-sn", "uac", "-m", "1", "-d", "100", "127.0.0.1:5060"});
  EXPECT_EQ(sipp.Espera(), 0) << sipp.Log();
  ASSERT_TRUE(ua.EsperaTipo(EXOSIP_CALL_RELEASED));
  int tid = ua.Eventos()[0].tid;
  std::lock_guard<std::mutex> lk(g_mh);
  ASSERT_EQ(recibidos.size(), 3u);
  EXPECT_EQ(recibidos[0], std::make_pair(std::string("INVITE"), -tid));
  EXPECT_EQ(recibidos[1], std::make_pair(std::string("ACK"), -tid));
  EXPECT_EQ(recibidos[2].first, "BYE");
  EXPECT_LT(recibidos[2].second, 0);
  EXPECT_NE(recibidos[2].second, -tid);
}

}  // namespace

namespace {

TEST(LlamadasSip, HoldReinviteFromTheAgentIsAnsweredAndAcked) {
  static std::atomic<int> respuestas{0};
  respuestas = 0;
  AgentePrueba ua([](eXosip_event_t *ev) {
    if (ev->type != EXOSIP_CALL_ANSWERED) return;
    EnviaAck(ev->did);
    if (++respuestas == 1) {  // hold: the dialog's local SDP turned sendonly
      sdp_message_t *local = eXosip_get_local_sdp(ev->did);
      ASSERT_NE(local, nullptr);
      sdp_message_a_attribute_add(local, -1, osip_strdup("sendonly"), nullptr);
      char *texto = nullptr;
      sdp_message_to_str(local, &texto);
      sdp_message_free(local);
      osip_message_t *re = nullptr;
      ASSERT_EQ(eXosip_call_build_request(ev->did, "INVITE", &re), 0);
      osip_message_set_body(re, texto, strlen(texto));
      osip_message_set_content_type(re, "application/sdp");
      osip_free(texto);
      eXosip_call_send_request(ev->did, re);
    } else {
      eXosip_call_terminate(ev->cid, ev->did);
    }
  });
  ASSERT_TRUE(ua.Ok());
  Sipp sipp({"-sf", Escenario("uas_reinvite.xml"), "-m", "1"});
  int cid = LlamaASipp();
  ASSERT_GT(cid, 0);
  ASSERT_TRUE(ua.EsperaTipo(EXOSIP_CALL_RELEASED));
  EXPECT_EQ(sipp.Espera(), 0) << sipp.Log();
  EXPECT_EQ(ua.Tipos(), (vector<int>{EXOSIP_CALL_ANSWERED, EXOSIP_CALL_ANSWERED, EXOSIP_CALL_MESSAGE_ANSWERED,
                                     EXOSIP_CALL_RELEASED}));
  auto ev = ua.Eventos();
  EXPECT_EQ(ev[1].did, ev[0].did);
  EXPECT_EQ(ev[1].metodo, "INVITE");
}

}  // namespace

namespace {

TEST(LlamadasSip, AnswerWithReasonAndTerminateOfUnansweredCalls) {
  static std::string conexion;
  static int puerto;
  AgentePrueba ua([](eXosip_event_t *ev) {
    if (ev->type != EXOSIP_CALL_INVITE) return;
    if (sdp_message_t *sdp = eXosip_get_sdp_info(ev->request)) {
      conexion = eXosip_get_audio_connection(sdp)->c_addr;
      puerto = atoi(eXosip_get_audio_media(sdp)->m_port);
      sdp_message_free(sdp);
    }
    osip_header_t *h = nullptr;
    osip_message_header_get_byname(ev->request, "Subject", 0, &h);
    if (h && strcmp(h->hvalue, "razon") == 0)
      eXosip_call_send_answer_with_reason(ev->tid, 603, nullptr, "WG-67; cause=2008; text=\"QLN standby mode\"");
    else
      eXosip_call_terminate_with_text(ev->cid, ev->did, 486, "WG-67; cause=2000; text=\"session pre-emption\"",
                                      "127.0.0.1", "phone.01", "prueba", nullptr);
  });
  ASSERT_TRUE(ua.Ok());
  Crudo c;
  const std::string sdp = "v=0\r\no=- 0 0 IN IP4 10.1.2.3\r\ns=-\r\nc=IN IP4 10.1.2.3\r\nt=0 0\r\nm=audio 7000 RTP/AVP 8\r\n";
  c.Envia(Peticion("INVITE", "raz1", "Subject: razon\r\nContent-Type: application/sdp\r\n", sdp));
  std::string r;
  while ((r = c.Recibe()).rfind("SIP/2.0 1", 0) == 0) {
  }
  EXPECT_EQ(r.rfind("SIP/2.0 603", 0), 0u) << r;
  EXPECT_NE(r.find("Reason: WG-67; cause=2008; text=\"QLN standby mode\""), std::string::npos) << r;
  EXPECT_EQ(conexion, "10.1.2.3");
  EXPECT_EQ(puerto, 7000);
  c.Envia(Peticion("INVITE", "raz2", "Subject: otra\r\n"));
  while ((r = c.Recibe()).rfind("SIP/2.0 1", 0) == 0 || r.find("raz1") != std::string::npos) {
  }
  EXPECT_EQ(r.rfind("SIP/2.0 486", 0), 0u) << r;
  EXPECT_NE(r.find("cause=2000"), std::string::npos) << r;
  EXPECT_NE(r.find("WG67-Version: phone.01"), std::string::npos) << r;
  ASSERT_TRUE(ua.Espera([](const vector<EventoSip> &v) { return CuentaTipo(v, EXOSIP_CALL_RELEASED) == 2; }));
  EXPECT_EQ(ua.Tipos(), (vector<int>{EXOSIP_CALL_INVITE, EXOSIP_CALL_RELEASED, EXOSIP_CALL_INVITE,
                                     EXOSIP_CALL_RELEASED}));
}

}  // namespace

namespace {

std::atomic<int> g_acks{0};
void CuentaAcks(osip_message_t *m, int) {
  if (MSG_IS_REQUEST(m) && strcmp(m->sip_method, "ACK") == 0) ++g_acks;
}

TEST(LlamadasSip, RepeatedOkIsAckedAgainWithoutASecondAnswered) {
  g_acks = 0;
  AgentePrueba ua([](eXosip_event_t *ev) {
    if (ev->type == EXOSIP_CALL_ANSWERED) EnviaAck(ev->did);
  });
  ASSERT_TRUE(ua.Ok());
  eXosip_set_cbsip_message(CuentaAcks);
  Sipp sipp({"-sf", Escenario("uas_200_repetido.xml"), "-m", "1"});
  int cid = LlamaASipp();
  ASSERT_GT(cid, 0);
  ASSERT_TRUE(ua.EsperaTipo(EXOSIP_CALL_ANSWERED));
  for (int i = 0; i < 300 && g_acks < 2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(g_acks.load(), 2);
  auto ev = ua.Eventos();
  EXPECT_EQ(eXosip_call_terminate(cid, ev[0].did), 0);
  ASSERT_TRUE(ua.EsperaTipo(EXOSIP_CALL_RELEASED));
  EXPECT_EQ(sipp.Espera(), 0) << sipp.Log();
  // sipp answers the repeated ACK with its 200 at once: that echo is not acknowledged again
  EXPECT_EQ(g_acks.load(), 2);
  EXPECT_EQ(ua.Tipos(), (vector<int>{EXOSIP_CALL_ANSWERED, EXOSIP_CALL_MESSAGE_ANSWERED, EXOSIP_CALL_RELEASED}));
}

}  // namespace

namespace {

std::atomic<int> g_byes{0};
void CuentaByes(osip_message_t *m, int) {
  if (MSG_IS_REQUEST(m) && strcmp(m->sip_method, "BYE") == 0) ++g_byes;
}

TEST(LlamadasSip, SecondDialogOfAForkedInviteIsAckedAndEnded) {
  g_byes = 0;
  AgentePrueba ua([](eXosip_event_t *ev) {
    if (ev->type == EXOSIP_CALL_ANSWERED) EnviaAck(ev->did);
  });
  ASSERT_TRUE(ua.Ok());
  eXosip_set_cbsip_message(CuentaByes);
  Sipp sipp({"-sf", Escenario("uas_bifurcado.xml"), "-m", "1"});
  int cid = LlamaASipp();
  ASSERT_GT(cid, 0);
  ASSERT_TRUE(ua.EsperaTipo(EXOSIP_CALL_ANSWERED));
  for (int i = 0; i < 300 && g_byes < 1; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(g_byes.load(), 1);  // the fork's dialog
  auto ev = ua.Eventos();
  EXPECT_EQ(eXosip_call_terminate(cid, ev[0].did), 0);
  ASSERT_TRUE(ua.EsperaTipo(EXOSIP_CALL_RELEASED));
  EXPECT_EQ(sipp.Espera(), 0) << sipp.Log();
  EXPECT_EQ(ua.Tipos(), (vector<int>{EXOSIP_CALL_ANSWERED, EXOSIP_CALL_MESSAGE_ANSWERED, EXOSIP_CALL_RELEASED}));
}

}  // namespace

namespace {

// The user agent calls eXosip_default_action for every event; after a 401 or a 422 it sends
// the INVITE again, with credentials or with the peer's Min-SE, in the same call.
TEST(LlamadasSip, DefaultActionResendsChallengedOrTooShortInvite) {
  struct Caso {
    const char *escenario;
    int estado;
  } casos[] = {{"uas_autentica.xml", 401}, {"uas_intervalo.xml", 422}};
  for (auto &caso : casos) {
    SCOPED_TRACE(caso.escenario);
    AgentePrueba ua([](eXosip_event_t *ev) {
      eXosip_default_action(ev);
      if (ev->type == EXOSIP_CALL_ANSWERED) {
        EnviaAck(ev->did);
        eXosip_call_terminate(ev->cid, ev->did);
      }
    });
    ASSERT_TRUE(ua.Ok());
    eXosip_add_authentication_info("ua", "ua", "clave", "", "pasarela");
    Sipp sipp({"-sf", Escenario(caso.escenario), "-m", "1"});
    int cid = LlamaASipp("IA call", "90;refresher=uac");
    ASSERT_GT(cid, 0);
    ASSERT_TRUE(ua.EsperaTipo(EXOSIP_CALL_RELEASED));
    EXPECT_EQ(sipp.Espera(), 0) << sipp.Log();
    EXPECT_EQ(ua.Tipos(), (vector<int>{EXOSIP_CALL_REQUESTFAILURE, EXOSIP_CALL_ANSWERED,
                                       EXOSIP_CALL_MESSAGE_ANSWERED, EXOSIP_CALL_RELEASED}));
    auto ev = ua.Eventos();
    EXPECT_EQ(ev[0].status, caso.estado);
    for (auto &e : ev) EXPECT_EQ(e.cid, cid);
  }
}

TEST(LlamadasSip, ChallengeWithoutCredentialsReleasesTheCall) {
  AgentePrueba ua([](eXosip_event_t *ev) { eXosip_default_action(ev); });
  ASSERT_TRUE(ua.Ok());
  Sipp sipp({"-sf", Escenario("uas_autentica.xml"), "-m", "1", "-timeout", "2s"});
  int cid = LlamaASipp();
  ASSERT_GT(cid, 0);
  ASSERT_TRUE(ua.EsperaTipo(EXOSIP_CALL_RELEASED));
  EXPECT_EQ(ua.Tipos(), (vector<int>{EXOSIP_CALL_REQUESTFAILURE, EXOSIP_CALL_RELEASED}));
}

// NOTIFY of the implicit subscription of a REFER, as the user agent sends it.
void NotificaRefer(int did, int estado, const char *sipfrag) {
  osip_message_t *n = nullptr;
  ASSERT_EQ(eXosip_call_build_notify(did, estado, &n), 0);
  osip_message_set_header(n, "Event", "refer");
  osip_message_set_content_type(n, "message/sipfrag");
  osip_message_set_body(n, sipfrag, strlen(sipfrag));
  EXPECT_EQ(eXosip_call_send_request(did, n), 0);
}

TEST(LlamadasSip, ReferInTheDialogIsNotifiedActiveThenTerminated) {
  AgentePrueba ua([](eXosip_event_t *ev) {
    if (ev->type != EXOSIP_CALL_MESSAGE_NEW || !ev->request || !MSG_IS_REFER(ev->request)) {
      AtiendeLlamadas(ev);
    } else {
      osip_message_t *a = nullptr;
      ASSERT_EQ(eXosip_call_build_answer(ev->tid, 202, &a), 0);
      ASSERT_EQ(eXosip_call_send_answer(ev->tid, 202, a), 0);
      NotificaRefer(ev->did, EXOSIP_SUBCRSTATE_ACTIVE, "SIP/2.0 100 Trying");
      NotificaRefer(ev->did, EXOSIP_SUBCRSTATE_TERMINATED, "SIP/2.0 200 OK");
    }
  });
  ASSERT_TRUE(ua.Ok());
  Sipp sipp({"-sf", Escenario("uac_refer.xml"), "-m", "1", "127.0.0.1:5060"});
  EXPECT_EQ(sipp.Espera(), 0) << sipp.Log();
  ASSERT_TRUE(ua.EsperaTipo(EXOSIP_CALL_RELEASED));
  EXPECT_EQ(ua.Tipos(), (vector<int>{EXOSIP_CALL_INVITE, EXOSIP_CALL_ACK, EXOSIP_CALL_MESSAGE_NEW,
                                     EXOSIP_CALL_MESSAGE_ANSWERED, EXOSIP_CALL_MESSAGE_ANSWERED,
                                     EXOSIP_CALL_CLOSED, EXOSIP_CALL_RELEASED}));
  auto ev = ua.Eventos();
  EXPECT_EQ(ev[2].metodo, "REFER");
  EXPECT_EQ(ev[3].metodo, "NOTIFY");
  for (auto &e : ev) EXPECT_EQ(e.did, ev[0].did);
}

// The gateway address set as option goes into the Via and Contact of what the stack sends.
TEST(LlamadasSip, GatewayAddressOptionIsWrittenIntoViaAndContact) {
  AgentePrueba ua(nullptr);
  ASSERT_TRUE(ua.Ok());
  int uno = 1;
  EXPECT_EQ(eXosip_set_option(EXOSIP_OPT_SET_IPV4_FOR_GATEWAY, "192.0.2.23"), 0);
  EXPECT_EQ(eXosip_set_option(EXOSIP_OPT_DONT_SEND_101, &uno), 0);
  EXPECT_NE(eXosip_set_option(EXOSIP_OPT_SET_IPV4_FOR_GATEWAY, "no-es-ip"), 0);
  char ip[64] = "";
  EXPECT_EQ(eXosip_guess_localip(2, ip, sizeof ip), 0);
  EXPECT_STREQ(ip, "192.0.2.23");
  Crudo c;
  osip_message_t *o = nullptr;
  ASSERT_EQ(eXosip_options_build_request(&o, "<sip:x@127.0.0.1:5080>", "<sip:ua@127.0.0.1:5060>", nullptr), 0);
  EXPECT_GT(eXosip_options_send_request(o), 0);
  std::string r = c.Recibe();
  EXPECT_EQ(r.rfind("OPTIONS sip:x@127.0.0.1:5080 SIP/2.0\r\n", 0), 0u) << r;
  EXPECT_NE(r.find("\r\nVia: SIP/2.0/UDP 192.0.2.23:5060;"), std::string::npos) << r;
  osip_message_t *inv = nullptr;
  ASSERT_EQ(eXosip_call_build_initial_invite(&inv, "<sip:x@127.0.0.1:5080>", "<sip:ua@127.0.0.1:5060>", nullptr,
                                             "prueba"),
            0);
  EXPECT_GT(eXosip_call_send_initial_invite(inv), 0);
  r = c.Recibe();
  EXPECT_EQ(r.rfind("INVITE sip:x@127.0.0.1:5080 SIP/2.0\r\n", 0), 0u) << r;
  EXPECT_NE(r.find("\r\nVia: SIP/2.0/UDP 192.0.2.23:5060;"), std::string::npos) << r;
  EXPECT_NE(r.find("@192.0.2.23:5060"), std::string::npos) << r;  // Contact
}

// Nobody answers at all: after the INVITE transaction's timeout (64 T1, 32 s) the call ends
// on its own, once.
TEST(LlamadasSip, UnansweredInviteTimesOutAndReleasesTheCallOnce) {
  AgentePrueba ua(nullptr);
  ASSERT_TRUE(ua.Ok());
  Crudo mudo;  // takes the INVITE and its retransmissions, says nothing
  int cid = LlamaASipp("prueba", nullptr, "<sip:x@127.0.0.1:5080>");
  ASSERT_GT(cid, 0);
  EXPECT_EQ(mudo.Recibe().rfind("INVITE ", 0), 0u);
  ASSERT_TRUE(ua.EsperaTipo(EXOSIP_CALL_RELEASED, 40000));
  EXPECT_EQ(ua.Tipos(), (vector<int>{EXOSIP_CALL_NOANSWER, EXOSIP_CALL_RELEASED}));
  for (auto &e : ua.Eventos()) EXPECT_EQ(e.cid, cid);
  EXPECT_EQ(eXosip_call_get_infos(nullptr, 0), 0);
}

// The agent ends its own call while it rings: CANCEL with the Reason, 487, released once.
TEST(LlamadasSip, RingingOutgoingCallEndedByTheAgentIsCancelledWithTheReason) {
  AgentePrueba ua([](eXosip_event_t *ev) {
    if (ev->type == EXOSIP_CALL_RINGING)
      eXosip_call_terminate_with_text(ev->cid, ev->did, 0, "WG-67; cause=2000; text=\"session pre-emption\"",
                                      "127.0.0.1", "phone.01", "prueba", nullptr);
  });
  ASSERT_TRUE(ua.Ok());
  Sipp sipp({"-sf", Escenario("uas_cancelado.xml"), "-m", "1"});
  int cid = LlamaASipp();
  ASSERT_GT(cid, 0);
  EXPECT_EQ(sipp.Espera(), 0) << sipp.Log();
  ASSERT_TRUE(ua.EsperaTipo(EXOSIP_CALL_RELEASED));
  EXPECT_EQ(ua.Tipos(), (vector<int>{EXOSIP_CALL_RINGING, EXOSIP_CALL_REQUESTFAILURE, EXOSIP_CALL_RELEASED}));
  for (auto &e : ua.Eventos()) EXPECT_EQ(e.cid, cid);
  EXPECT_EQ(ua.Eventos()[1].status, 487);
  EXPECT_EQ(eXosip_call_get_infos(nullptr, 0), 0);
}

}  // namespace
