// User agent on the SIP layer that hands every event to one handler and keeps a record of
// them; the layer's tests and the SIP benchmark both drive it.
#ifndef AGENTEPRUEBA_H
#define AGENTEPRUEBA_H

#include <eXosip2/eXosip.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// One event as the tests see it.
struct EventoSip {
  int tipo, cid, did, tid, sid, nid, rid, ss_status, status;
  std::string metodo;
  std::chrono::steady_clock::time_point t;
};

class AgentePrueba {
 public:
  using Manejador = std::function<void(eXosip_event_t *)>;

  // Without registra, events are handled and not kept (long runs of the benchmark).
  explicit AgentePrueba(Manejador h, int puerto = 5060, bool registra = true)
      : manejador_(std::move(h)), registra_(registra) {
    ok_ = eXosip_init() == 0 && eXosip_listen_addr(17, nullptr, puerto, 2, 0) == 0;
    eXosip_set_user_agent("prueba/1.0");
    hilo_ = std::thread([this] { Bucle(); });
  }
  ~AgentePrueba() {
    fin_ = true;
    hilo_.join();
    eXosip_quit();
  }
  bool Ok() const { return ok_; }

  // Waits until pred holds on the events seen so far.
  bool Espera(const std::function<bool(const std::vector<EventoSip> &)> &pred, int ms = 10000) {
    std::unique_lock<std::mutex> lk(m_);
    return cv_.wait_for(lk, std::chrono::milliseconds(ms), [&] { return pred(eventos_); });
  }
  bool EsperaTipo(int tipo, int ms = 10000) {
    return Espera([tipo](const std::vector<EventoSip> &v) {
      for (auto &e : v)
        if (e.tipo == tipo) return true;
      return false;
    }, ms);
  }
  std::vector<EventoSip> Eventos() {
    std::lock_guard<std::mutex> lk(m_);
    return eventos_;
  }
  std::vector<int> Tipos() {
    std::vector<int> t;
    for (auto &e : Eventos()) t.push_back(e.tipo);
    return t;
  }

 private:
  void Bucle() {
    while (!fin_) {
      eXosip_event_t *ev = eXosip_event_wait(0, 20);
      if (!ev) continue;
      EventoSip e{ev->type, ev->cid, ev->did, ev->tid, ev->sid, ev->nid, ev->rid, ev->ss_status,
                  ev->response ? ev->response->status_code : 0,
                  ev->request && ev->request->sip_method ? ev->request->sip_method : "",
                  std::chrono::steady_clock::now()};
      if (manejador_) manejador_(ev);
      eXosip_event_free(ev);
      if (!registra_) continue;
      std::lock_guard<std::mutex> lk(m_);
      eventos_.push_back(e);
      cv_.notify_all();
    }
  }
  Manejador manejador_;
  bool registra_;
  bool ok_ = false;
  std::atomic<bool> fin_{false};
  std::thread hilo_;
  std::mutex m_;
  std::condition_variable cv_;
  std::vector<EventoSip> eventos_;
};

inline const char *SdpPrueba() {
  return "v=0\r\no=- 0 0 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\n"
         "m=audio 5004 RTP/AVP 8\r\na=rtpmap:8 PCMA/8000\r\n";
}

// Answers an INVITE or re-INVITE with 200 and the test SDP.
// Built and sent under one hold of the stack's lock, as an application does.
inline void Responde200(int tid) {
  eXosip_lock();
  osip_message_t *a = nullptr;
  if (eXosip_call_build_answer(tid, 200, &a) == 0) {
    osip_message_set_body(a, SdpPrueba(), strlen(SdpPrueba()));
    osip_message_set_content_type(a, "application/sdp");
    eXosip_call_send_answer(tid, 200, a);
  }
  eXosip_unlock();
}

inline void EnviaAck(int did) {
  osip_message_t *ack = nullptr;
  if (eXosip_call_build_ack(did, &ack) == 0) eXosip_call_send_ack(did, ack);
}

#endif
