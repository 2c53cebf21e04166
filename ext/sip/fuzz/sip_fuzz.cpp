// libFuzzer entry: datagrams (separated by NUL bytes) into the stack's message entry point,
// with an application that answers whatever is reported.
#include "../exosip_internal.h"

#include <osipparser2/osip_port.h>

#include <cstring>

namespace {

const char kSdp[] = "v=0\r\no=- 0 0 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\nm=audio 5004 RTP/AVP 8\r\n";

void Atiende(eXosip_event_t *ev) {
  if (ev->request) {
    if (sdp_message_t *s = eXosip_get_sdp_info(ev->request)) {
      eXosip_get_audio_connection(s);
      eXosip_get_audio_media(s);
      sdp_message_free(s);
    }
  }
  if (ev->did > 0) {
    if (sdp_message_t *s = eXosip_get_remote_sdp(ev->did)) sdp_message_free(s);
  }
  osip_message_t *a = nullptr;
  switch (ev->type) {
    case EXOSIP_CALL_INVITE:
    case EXOSIP_CALL_REINVITE:
      if (eXosip_call_build_answer(ev->tid, 200, &a) == 0) {
        osip_message_set_body(a, kSdp, strlen(kSdp));
        osip_message_set_content_type(a, "application/sdp");
        eXosip_call_send_answer(ev->tid, 200, a);
      }
      break;
    case EXOSIP_CALL_MESSAGE_NEW:
      eXosip_call_send_answer(ev->tid, 200, nullptr);
      break;
    case EXOSIP_MESSAGE_NEW:
      eXosip_message_send_answer(ev->tid, 200, nullptr);
      break;
    case EXOSIP_IN_SUBSCRIPTION_NEW:
      eXosip_insubscription_send_answer(ev->tid, 200, nullptr);
      if (eXosip_insubscription_build_notify(ev->did, EXOSIP_SUBCRSTATE_ACTIVE, 0, &a) == 0)
        eXosip_insubscription_send_request(ev->did, a);
      break;
    default:
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  for (int i = 0; i < END_TRACE_LEVEL; ++i) osip_trace_disable_level(static_cast<osip_trace_level_t>(i));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (eXosip_init() != 0) return 0;
  exo::inject_datagrams(reinterpret_cast<const char *>(data), size, "127.0.0.1", 5080, [] {
    while (eXosip_event_t *ev = eXosip_event_get()) {
      Atiende(ev);
      eXosip_event_free(ev);
    }
  });
  eXosip_quit();
  return 0;
}
