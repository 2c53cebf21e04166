// sipp as a child process, for the layer's tests and the SIP benchmark.
#ifndef SIPP_H
#define SIPP_H

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

// sipp as a child process; its screen output goes to a file under /tmp.
class Sipp {
 public:
  explicit Sipp(const std::vector<std::string> &args, int puerto = 5070) : puerto_(puerto) {
    log_ = "/tmp/sipp_" + std::to_string(puerto) + ".log";
    // sipp runs in /tmp: a scenario named relative to the test's directory (a compiler cache
    // may give __FILE__ so) is made absolute first.
    std::vector<std::string> argumentos(args);
    for (size_t i = 1; i < argumentos.size(); ++i) {
      if (argumentos[i - 1] != "-sf" || argumentos[i].empty() || argumentos[i][0] == '/') continue;
      if (char *p = realpath(argumentos[i].c_str(), nullptr)) {
        argumentos[i] = p;
        free(p);
      }
    }
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
      a.insert(a.end(), argumentos.begin(), argumentos.end());
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
  // Exit code of sipp (0: every call succeeded), -1 on timeout. Sleeps until sipp ends: the
  // process measured by the SIP benchmark is this one, so it must not wake up to poll.
  int Espera(int ms = 20000) {
    if (terminado_) return estado_;
    int fd = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
    if (fd >= 0) {
      pollfd p{fd, POLLIN, 0};
      while (poll(&p, 1, ms) < 0 && errno == EINTR) {
      }
      close(fd);
    }
    for (int i = 0; i <= ms / 10; ++i) {  // without pidfd: every 10 ms
      int st = 0;
      if (waitpid(pid_, &st, WNOHANG) == pid_) {
        terminado_ = true;
        estado_ = WIFEXITED(st) ? WEXITSTATUS(st) : -2;
        return estado_;
      }
      if (fd >= 0) break;
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
  int estado_ = -1;
  std::string log_;
};

#endif
