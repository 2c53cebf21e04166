// Test helper: a program run as a real child of the test, its standard output and error in a
// file; killed and reaped when the helper goes, so no test leaves a process behind.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "comun/tests/ficheros_pruebas.h"

namespace pruebas_proceso {

class CProcesoHijo {
public:
    CProcesoHijo() = default;
    CProcesoHijo(const CProcesoHijo&) = delete;
    CProcesoHijo& operator=(const CProcesoHijo&) = delete;
    ~CProcesoHijo() { Mata(); }

    // Runs vArgv[0] with the rest as its arguments. iEntrada: descriptor for its standard
    // input (-1: /dev/null); aiHeredados stay open in it; sDirectorio: its working
    // directory (empty: the test's).
    pid_t Arranca(const std::vector<std::string>& vArgv, const std::string& sFicheroSalida, int iEntrada = -1,
                  const std::vector<int>& aiHeredados = {}, const std::string& sDirectorio = "") {
        sSalida = sFicheroSalida;
        std::vector<char*> argv;
        for (const auto& a : vArgv) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        iEstado = -1;
        iPid = fork();
        if (iPid == 0) {
            int fd = open(sSalida.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(fd, 1);
            dup2(fd, 2);
            dup2(iEntrada >= 0 ? iEntrada : open("/dev/null", O_RDONLY), 0);
            for (int h : aiHeredados) fcntl(h, F_SETFD, 0);
            if (!sDirectorio.empty() && chdir(sDirectorio.c_str()) != 0) _exit(120);
            execv(argv[0], argv.data());
            _exit(121);
        }
        return iPid;
    }
    // Kills and reaps it if it still runs.
    void Mata() {
        if (iPid > 0 && Vivo()) {
            kill(iPid, SIGKILL);
            waitpid(iPid, nullptr, 0);
            iEstado = 0;
        }
    }
    pid_t Pid() const { return iPid; }
    bool Vivo() {
        if (iEstado != -1) return false;
        int st;
        if (waitpid(iPid, &st, WNOHANG) == iPid) {
            iEstado = st;
            return false;
        }
        return true;
    }
    // Exit status, 1000 + signal when killed, or -1 while it still runs after iMs.
    int EsperaFin(int iMs) {
        const auto tFin = std::chrono::steady_clock::now() + std::chrono::milliseconds(iMs);
        while (Vivo() && std::chrono::steady_clock::now() < tFin) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (Vivo()) return -1;
        return WIFEXITED(iEstado) ? WEXITSTATUS(iEstado) : 1000 + WTERMSIG(iEstado);
    }
    std::string Salida() const { return ficheros_pruebas::LeeTodo(sSalida); }

private:
    pid_t iPid = -1;
    int iEstado = -1;
    std::string sSalida;
};

}  // namespace pruebas_proceso
