// Test user agent on the SIP layer and a sipp child process, for the tests and the benchmark.
#ifndef AGENTE_PRUEBA_H
#define AGENTE_PRUEBA_H

#include <eXosip2/eXosip.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
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

  explicit AgentePrueba(Manejador h, int puerto = 5060) : manejador_(std::move(h)) {
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
      std::lock_guard<std::mutex> lk(m_);
      eventos_.push_back(e);
      cv_.notify_all();
    }
  }
  Manejador manejador_;
  bool ok_ = false;
  std::atomic<bool> fin_{false};
  std::thread hilo_;
  std::mutex m_;
  std::condition_variable cv_;
  std::vector<EventoSip> eventos_;
};

// sipp as a child process; its screen output goes to a file under /tmp.
class Sipp {
 public:
  explicit Sipp(const std::vector<std::string> &args, int puerto = 5070) : puerto_(puerto) {
    log_ = "/tmp/sipp_" + std::to_string(puerto) + ".log";
    pid_ = fork();
    if (pid_ == 0) {
      int fd = open(log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(fd, 1);
      dup2(fd, 2);
      int nul = open("/dev/null", O_RDONLY);
      dup2(nul, 0);
      if (chdir("/tmp") != 0) _exit(126);
      std::vector<std::string> a = {"sipp", "-i", "127.0.0.1", "-p", std::to_string(puerto), "-nostdin",
                                    "-trace_err", "-error_file", "/tmp/sipp_" + std::to_string(puerto) + "_err.log"};
      a.insert(a.end(), args.begin(), args.end());
      std::vector<char *> argv;
      for (auto &s : a) argv.push_back(const_cast<char *>(s.c_str()));
      argv.push_back(nullptr);
      execvp("sipp", argv.data());
      _exit(127);
    }
    // ready once its port is bound
    char hex[8];
    snprintf(hex, sizeof hex, ":%04X", puerto);
    for (int i = 0; i < 300; ++i) {
      std::ifstream f("/proc/net/udp");
      std::string l;
      bool listo = false;
      while (std::getline(f, l))
        if (l.find(hex) != std::string::npos && l.find(hex) < 20) listo = true;
      if (listo) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ~Sipp() {
    if (pid_ > 0 && !terminado_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  // Exit code of sipp (0: every call succeeded), -1 on timeout.
  int Espera(int ms = 20000) {
    for (int i = 0; i < ms / 10; ++i) {
      int st = 0;
      if (waitpid(pid_, &st, WNOHANG) == pid_) {
        terminado_ = true;
        return WIFEXITED(st) ? WEXITSTATUS(st) : -2;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
  }
  pid_t Pid() const { return pid_; }
  std::string Log() const {
    std::ifstream f(log_);
    std::string s((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    std::ifstream e("/tmp/sipp_" + std::to_string(puerto_) + "_err.log");
    s += std::string((std::istreambuf_iterator<char>(e)), std::istreambuf_iterator<char>());
    return s.size() > 6000 ? s.substr(s.size() - 6000) : s;
  }

 private:
  int puerto_;
  pid_t pid_ = -1;
  bool terminado_ = false;
  std::string log_;
};

inline const char *SdpPrueba() {
  return "v=0\r\no=- 0 0 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\n"
         "m=audio 5004 RTP/AVP 8\r\na=rtpmap:8 PCMA/8000\r\n";
}

// Answers an INVITE or re-INVITE with 200 and the test SDP.
inline void Responde200(int tid) {
  osip_message_t *a = nullptr;
  if (eXosip_call_build_answer(tid, 200, &a) != 0) return;
  osip_message_set_body(a, SdpPrueba(), strlen(SdpPrueba()));
  osip_message_set_content_type(a, "application/sdp");
  eXosip_call_send_answer(tid, 200, a);
}

inline void EnviaAck(int did) {
  osip_message_t *ack = nullptr;
  if (eXosip_call_build_ack(did, &ack) == 0) eXosip_call_send_ack(did, ack);
}

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

// A bare UDP socket on 127.0.0.1:5080 that talks to the stack on 5060.
class Crudo {
 public:
  Crudo() {
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(5080);
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

#endif
