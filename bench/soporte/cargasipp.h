// sipp's standard UAC as the load of a benchmark, and what a process spends meanwhile
// (CPU time and resident memory from /proc).
#ifndef CARGASIPP_H
#define CARGASIPP_H

#include "sipp.h"

#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

// CPU seconds (user + system) and resident MiB of a process at one moment.
struct MuestraProceso {
  double cpu_s = 0;
  double rss_mib = 0;
};

inline MuestraProceso Muestra(pid_t pid) {
  MuestraProceso m;
  std::string dir = "/proc/" + std::to_string(pid);
  std::ifstream st(dir + "/stat");
  std::string s((std::istreambuf_iterator<char>(st)), std::istreambuf_iterator<char>());
  size_t p = s.rfind(')');  // the command name may hold spaces
  if (p != std::string::npos) {
    std::vector<std::string> campos;
    std::string c;
    for (size_t i = p + 2; i <= s.size(); ++i) {
      if (i == s.size() || s[i] == ' ') {
        campos.push_back(c);
        c.clear();
      } else {
        c += s[i];
      }
    }
    if (campos.size() > 12)  // utime and stime: fields 14 and 15 of the line
      m.cpu_s = (atof(campos[11].c_str()) + atof(campos[12].c_str())) / sysconf(_SC_CLK_TCK);
  }
  std::ifstream status(dir + "/status");
  for (std::string l; std::getline(status, l);)
    if (l.rfind("VmRSS:", 0) == 0) m.rss_mib = atof(l.c_str() + 6) / 1024.0;
  return m;
}

struct ResultadoCarga {
  int correctas = 0;
  int fallidas = 0;
  double segundos = 0;
  double p99_ms = -1;          // INVITE to 200, with rtt
  double cpu_s = 0;            // of the process watched, during the load
  double rss_mib_32s = 0;      // of the process watched, 32 s into the load (0: shorter load)
  double rss_mib_final = 0;
  double cps() const { return segundos > 0 ? correctas / segundos : 0; }
  bool Limpia(int llamadas) const { return fallidas == 0 && correctas == llamadas; }
};

// Last value of a counter line of sipp's final screen ("Successful call | ... | 3000").
inline int ContadorSipp(const std::string &log, const char *nombre) {
  size_t pos = log.rfind(nombre);
  if (pos == std::string::npos) return -1;
  std::string linea = log.substr(pos, log.find('\n', pos) - pos);
  size_t ultimo = linea.rfind('|');
  return ultimo == std::string::npos ? -1 : atoi(linea.c_str() + ultimo + 1);
}

// sipp names its rtt file after the scenario: "uac" for its standard UAC, else the file's name.
inline double P99Sipp(const std::vector<std::string> &escenario, pid_t pid) {
  std::string nombre = "uac";
  if (escenario.size() > 1 && escenario[0] == "-sf") {
    nombre = escenario[1].substr(escenario[1].rfind('/') + 1);
    nombre = nombre.substr(0, nombre.rfind(".xml"));
  }
  std::ifstream f("/tmp/" + nombre + "_" + std::to_string(pid) + "_rtt.csv");
  std::vector<double> v;
  for (std::string l; std::getline(f, l);) {
    size_t a = l.find(';');
    if (a == std::string::npos || !isdigit(static_cast<unsigned char>(l[0]))) continue;
    v.push_back(atof(l.c_str() + a + 1));
  }
  if (v.empty()) return -1;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(v.size() * 0.99))];
}

// sipp's UAC from 127.0.0.1:5070 against whatever listens on 127.0.0.1:5060: `llamadas` calls
// offered at `ritmo` per second; `vigilado` is the process whose CPU and memory are sampled.
// `escenario`: sipp's arguments naming the scenario (its standard UAC unless given).
inline ResultadoCarga CargaSipp(int ritmo, int llamadas, pid_t vigilado, bool rtt = false,
                                const std::vector<std::string> &escenario = {"-sn", "uac"}) {
  int limite_s = llamadas / ritmo + 40;
  std::vector<std::string> args = escenario;
  args.insert(args.end(), {"-r", std::to_string(ritmo), "-m", std::to_string(llamadas), "-timeout",
                           std::to_string(limite_s) + "s", "-timeout_error"});
  if (rtt) args.insert(args.end(), {"-trace_rtt", "-rtt_freq", "1"});
  args.push_back("127.0.0.1:5060");
  MuestraProceso antes = Muestra(vigilado);
  ResultadoCarga r;
  std::atomic<bool> fin{false};
  std::thread muestreo([&] {
    auto t0 = std::chrono::steady_clock::now();
    while (!fin) {
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
      double rss = Muestra(vigilado).rss_mib;
      if (r.rss_mib_32s == 0 && std::chrono::steady_clock::now() - t0 >= std::chrono::seconds(32)) r.rss_mib_32s = rss;
    }
  });
  auto t0 = std::chrono::steady_clock::now();
  Sipp uac(args, 5070);
  int rc = uac.Espera((limite_s + 20) * 1000);
  r.segundos = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  MuestraProceso despues = Muestra(vigilado);
  fin = true;
  muestreo.join();
  r.cpu_s = despues.cpu_s - antes.cpu_s;
  r.rss_mib_final = despues.rss_mib;
  std::ifstream f("/tmp/sipp_5070.log");
  std::string log((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  r.correctas = std::max(0, ContadorSipp(log, "Successful call"));
  r.fallidas = std::max(0, ContadorSipp(log, "Failed call"));
  if (rc != 0 || r.correctas + r.fallidas < llamadas) r.fallidas = std::max(r.fallidas, llamadas - r.correctas);
  if (rtt) r.p99_ms = P99Sipp(escenario, uac.Pid());
  return r;
}

#endif
