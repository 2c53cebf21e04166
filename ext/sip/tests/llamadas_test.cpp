// Calls against sipp on loopback: the events the user agent relies on, once each, in order.
#include "agente_prueba.h"

#include <gtest/gtest.h>

namespace {

using std::vector;

int CuentaTipo(const vector<EventoSip> &v, int tipo) {
  int n = 0;
  for (auto &e : v) n += e.tipo == tipo;
  return n;
}

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
  int cid;
  {
    eXosip_lock();
    cid = LlamaASipp();
    eXosip_unlock();
  }
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
