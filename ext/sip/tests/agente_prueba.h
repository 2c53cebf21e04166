// Helpers of the layer's tests: calls into sipp, the scenario folder and a bare UDP peer.
#ifndef AGENTE_PRUEBA_H
#define AGENTE_PRUEBA_H

#include "agenteprueba.h"
#include "sipp.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

// Places a call to sipp's UAS on 127.0.0.1:5070; returns the cid. The stack's lock is held
// until the cid is known, as the user agent does before storing it.
inline int LlamaASipp(const char *subject = "prueba", const char *session_expires = nullptr,
                      const char *to = "<sip:service@127.0.0.1:5070>") {
  eXosip_lock();
  struct Suelta {
    ~Suelta() { eXosip_unlock(); }
  } suelta;
  osip_message_t *inv = nullptr;
  if (eXosip_call_build_initial_invite(&inv, to, "<sip:ua@127.0.0.1:5060>", nullptr, subject) != 0)
    return -1;
  osip_message_set_body(inv, SdpPrueba(), strlen(SdpPrueba()));
  osip_message_set_content_type(inv, "application/sdp");
  if (session_expires) {
    osip_message_set_header(inv, "Supported", "timer");
    osip_message_set_header(inv, "Session-Expires", session_expires);
  }
  return eXosip_call_send_initial_invite(inv);
}

inline std::string DirEscenarios() {
  std::string f = __FILE__;
  return f.substr(0, f.rfind('/') + 1);
}

// A bare UDP socket on 127.0.0.1:5080 (or another port) that talks to the stack on 5060.
class Crudo {
 public:
  explicit Crudo(int puerto = 5080) {
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(puerto));
    inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
    bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a);
    int buf = 4 << 20;
    setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &buf, sizeof buf);
  }
  ~Crudo() { close(fd_); }
  void Envia(const std::string &s) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(5060);
    inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
    sendto(fd_, s.data(), s.size(), 0, reinterpret_cast<sockaddr *>(&a), sizeof a);
  }
  // Next datagram received, or "" after ms.
  std::string Recibe(int ms = 2000) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0) return "";
    char b[65536];
    ssize_t n = recv(fd_, b, sizeof b, 0);
    return n > 0 ? std::string(b, n) : "";
  }

 private:
  int fd_;
};

inline std::string Peticion(const std::string &metodo, const std::string &callid, const std::string &extra = "",
                     const std::string &cuerpo = "", const std::string &cseq_metodo = "") {
  std::string m = metodo + " sip:ua@127.0.0.1:5060 SIP/2.0\r\n"
                  "Via: SIP/2.0/UDP 127.0.0.1:5080;branch=z9hG4bK" + callid + "\r\n"
                  "From: <sip:x@127.0.0.1:5080>;tag=1" + callid + "\r\n"
                  "To: <sip:ua@127.0.0.1:5060>\r\n"
                  "Call-ID: " + callid + "\r\n"
                  "CSeq: 1 " + (cseq_metodo.empty() ? metodo : cseq_metodo) + "\r\n"
                  "Contact: <sip:x@127.0.0.1:5080>\r\n"
                  "Max-Forwards: 70\r\n" + extra;
  if (extra.find("Content-Length") == std::string::npos)
    m += "Content-Length: " + std::to_string(cuerpo.size()) + "\r\n";
  return m + "\r\n" + cuerpo;
}

// The header lines of a request that an answer copies.
inline std::string Cabecera(const std::string &peticion, const char *nombre) {
  size_t i = peticion.find(std::string("\r\n") + nombre + ":");
  if (i == std::string::npos) return "";
  size_t f = peticion.find("\r\n", i + 2);
  return peticion.substr(i + 2, f - i - 2) + "\r\n";
}

// Answers a request received by the bare socket with that status (and extra header lines).
inline void Contesta(Crudo &c, const std::string &peticion, int estado, const std::string &extra = "") {
  std::string para = Cabecera(peticion, "To");
  if (estado > 100 && para.find(";tag=") == std::string::npos) para.insert(para.size() - 2, ";tag=f1");
  std::string r = "SIP/2.0 " + std::to_string(estado) + " Respuesta\r\n" + Cabecera(peticion, "Via") +
                  Cabecera(peticion, "From") + para + Cabecera(peticion, "Call-ID") + Cabecera(peticion, "CSeq");
  if (estado >= 300 && estado < 400) r += "Contact: <sip:otro@127.0.0.1:5080>\r\n";
  c.Envia(r + extra + "Content-Length: 0\r\n\r\n");
}

// Next request received whose method is that one (skips ACKs and retransmissions of others).
inline std::string Espera(Crudo &c, const std::string &metodo) {
  for (int i = 0; i < 20; ++i) {
    std::string r = c.Recibe();
    if (r.empty() || r.rfind(metodo + " ", 0) == 0) return r;
  }
  return "";
}

// Events of that type seen (of that call, when cid is given).
inline int CuentaTipo(const std::vector<EventoSip> &v, int tipo, int cid = 0) {
  int n = 0;
  for (auto &e : v) n += e.tipo == tipo && (cid == 0 || e.cid == cid);
  return n;
}

// Accepts an incoming subscription and notifies it active at once.
inline void AceptaSuscripcion(eXosip_event_t *ev) {
  if (ev->type != EXOSIP_IN_SUBSCRIPTION_NEW) return;
  eXosip_insubscription_send_answer(ev->tid, 200, nullptr);
  osip_message_t *n = nullptr;
  if (eXosip_insubscription_build_notify(ev->did, EXOSIP_SUBCRSTATE_ACTIVE, 0, &n) == 0)
    eXosip_insubscription_send_request(ev->did, n);
}

#endif
