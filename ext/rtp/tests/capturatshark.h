// tshark as an outside judge of what went on the wire: a capture on loopback that is ready
// once dumpcap says so, and the decoded fields of every captured frame.
#ifndef CAPTURATSHARK_H
#define CAPTURATSHARK_H

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace prueba {

// dumpcap capturing n datagrams that match the filter on loopback into a file. dumpcap rather
// than tshark: it loads no dissectors, so it is ready soon even on a busy machine.
class Captura {
public:
    // Limit of each wait on the capture: it only bounds one that hangs.
    static constexpr int LIMITE_S = 60;

    Captura(int n, const std::string &filtro, const std::string &fichero) : fichero(fichero)
    {
        int tubo[2];
        if (pipe(tubo) != 0)
            return;
        pid = fork();
        if (pid == 0) {
            dup2(tubo[1], 2);
            close(tubo[0]);
            close(tubo[1]);
            int nulo = open("/dev/null", O_WRONLY);
            dup2(nulo, 1);
            std::string c = std::to_string(n);
            execlp("dumpcap", "dumpcap", "-i", "lo", "-f", filtro.c_str(), "-c", c.c_str(), "-w", fichero.c_str(),
                   (char *)nullptr);
            _exit(127);
        }
        close(tubo[1]);
        salida = tubo[0];
        // Ready once dumpcap names its file: the filter is in place and the file open by then, so
        // packets sent from then on are captured. dumpcap ending (end of the pipe) stops the wait.
        std::string texto;
        const auto limite = std::chrono::steady_clock::now() + std::chrono::seconds(LIMITE_S);
        while (texto.find("File: ") == std::string::npos) {
            const auto resta =
                std::chrono::duration_cast<std::chrono::milliseconds>(limite - std::chrono::steady_clock::now());
            pollfd p{salida, POLLIN, 0};
            if (resta.count() <= 0 || poll(&p, 1, int(resta.count())) <= 0)
                break;
            char b[256];
            ssize_t l = read(salida, b, sizeof b);
            if (l <= 0)
                break;
            texto.append(b, size_t(l));
        }
        listo = texto.find("File: ") != std::string::npos;
        if (!listo)
            fprintf(stderr, "dumpcap: %s\n", texto.c_str());
    }
    // Waits for dumpcap to stop after its count.
    bool Termina()
    {
        const auto limite = std::chrono::steady_clock::now() + std::chrono::seconds(LIMITE_S);
        while (std::chrono::steady_clock::now() < limite) {
            int st;
            if (waitpid(pid, &st, WNOHANG) == pid) {
                pid = -1;
                return WIFEXITED(st) && WEXITSTATUS(st) == 0;
            }
            usleep(10000);
        }
        return false;
    }
    ~Captura()
    {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
        // Open until dumpcap ends: it reports its counts there as it goes.
        if (salida >= 0)
            close(salida);
    }
    // One map of field to value per captured frame; repeated fields joined with ','.
    // decodifica: tshark's "-d" options that name the protocols of the ports.
    std::vector<std::map<std::string, std::string>> Decodifica(const std::string &decodifica,
                                                              const std::vector<std::string> &campos) const
    {
        std::string cmd = "tshark -r " + fichero + " " + decodifica +
                          " -T fields -E separator=';' -E occurrence=a -E aggregator=,";
        for (const auto &c : campos)
            cmd += " -e " + c;
        cmd += " 2>/dev/null";
        std::vector<std::map<std::string, std::string>> r;
        FILE *f = popen(cmd.c_str(), "r");
        char linea[4096];
        while (f && fgets(linea, sizeof linea, f)) {
            std::string l(linea);
            if (!l.empty() && l.back() == '\n')
                l.pop_back();
            std::map<std::string, std::string> m;
            std::stringstream ss(l);
            std::string v;
            for (const auto &c : campos) {
                std::getline(ss, v, ';');
                m[c] = v;
            }
            r.push_back(m);
        }
        if (f)
            pclose(f);
        return r;
    }

    // The text of one of tshark's statistics ("-z" value) over the capture.
    std::string Estadistica(const std::string &decodifica, const std::string &z) const
    {
        std::string r;
        FILE *f = popen(("tshark -r " + fichero + " " + decodifica + " -q -z " + z + " 2>/dev/null").c_str(), "r");
        char linea[4096];
        while (f && fgets(linea, sizeof linea, f))
            r += linea;
        if (f)
            pclose(f);
        return r;
    }

    bool listo = false;

private:
    std::string fichero;
    pid_t pid = -1;
    int salida = -1;
};

}  // namespace prueba

#endif
