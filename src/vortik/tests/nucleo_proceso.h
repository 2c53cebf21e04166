// The core as a real process in the test's sandbox, with the simulated board, the real DSP
// service, the resource programs and the stand-in under the names of the programs that are not
// part of the system.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "comun/tests/ficheros_pruebas.h"

namespace pruebas {

inline std::string DirBuild() {
    const char* p = std::getenv("VK_BUILD_DIR");
    return p ? p : ".";
}

using ficheros_pruebas::LeeTodo;

// The DSP service: the real program, which boots the simulated DSP from the images in /var.
inline void InstalaDremson() {
    const std::string sDremson = DirBuild() + "/src/dremson/dremson";
    unlink("/usr/bin/dremson");
    if (symlink(sDremson.c_str(), "/usr/bin/dremson") != 0) std::perror("symlink");
    for (const char* f : {"/var/boot-hpi.bin", "/var/qln6747.bin"}) {
        FILE* p = std::fopen(f, "wb");
        if (!p) {
            std::perror(f);
            continue;
        }
        for (int i = 0; i < 2048; i++) std::fputc((i * 7 + 3) & 0xFF, p);
        std::fclose(p);
    }
}

// The resource programs of this system as built; the stand-in under the names of the others
// (radio, QSIG, data, RRC), its journal in /mnt/ramfs/standin.
inline bool EsProgramaDelSistema(const std::string& sNombre) {
    return sNombre == "lintaro" || sNombre == "fonmira" || sNombre == "kalvesk";
}
inline std::string RutaPrograma(const std::string& sNombre) {
    return EsProgramaDelSistema(sNombre) ? DirBuild() + "/src/" + sNombre + "/" + sNombre
                                         : DirBuild() + "/sim/standin/standin";
}
inline void InstalaProgramas() {
    for (const char* n : {"lintaro", "fonmira", "kalvesk", "sopwent", "norbeck", "plenwat", "tuskev"}) {
        const std::string sDestino = std::string("/usr/bin/") + n;
        unlink(sDestino.c_str());
        if (symlink(RutaPrograma(n).c_str(), sDestino.c_str()) != 0) std::perror("symlink");
    }
    InstalaDremson();
    mkdir("/mnt/ramfs/standin", 0755);
    setenv("VK_STANDIN_DIR", "/mnt/ramfs/standin", 1);
    mkdir("/mnt/ramfs/var", 0755);
}

// The board's configuration written by the configuration agent from one of its examples
// (sim/cfgagent/ejemplos); the agent's exit status.
inline int EscribeEjemplo(const std::string& sEjemplo) {
    const std::string f = __FILE__;
    const std::string sEjemplos = f.substr(0, f.rfind('/')) + "/../../../sim/cfgagent/ejemplos/";
    return std::system((DirBuild() + "/sim/cfgagent/cfgagent escribe " + sEjemplos + sEjemplo + " --sin-senal").c_str());
}

// Text logs: the core's and each resource process's (/mnt/ramfs/vk_rec<N>.log) apart.
inline void ConfiguraLogs() {
    if (FILE* f = std::fopen("/mnt/ramfs/plog.conf", "w")) {
        std::fputs("FILEFORMAT=txt\nFILENAME=/mnt/ramfs/vk\nFILESIZE=10000000\nNUMOFFILES=0\n", f);
        std::fclose(f);
    }
}
inline std::string LogRecurso(int iRec) { return LeeTodo("/mnt/ramfs/vk_rec" + std::to_string(iRec) + ".log"); }
// The DSP service's log.
inline std::string LogDremson() { return LeeTodo("/mnt/ramfs/vk_dsp.log"); }

// The command line of a live process as "<program name> <arguments...>"; "" when gone.
inline std::string LineaDeOrdenes(int iPid) {
    std::string s = LeeTodo("/proc/" + std::to_string(iPid) + "/cmdline");
    std::string r;
    size_t i = 0;
    for (bool bPrimero = true; i < s.size(); bPrimero = false) {
        size_t f = s.find('\0', i);
        if (f == std::string::npos) f = s.size();
        std::string a = s.substr(i, f - i);
        if (bPrimero) a = a.substr(a.rfind('/') == std::string::npos ? 0 : a.rfind('/') + 1);
        r += (r.empty() ? "" : " ") + a;
        i = f + 1;
    }
    return r;
}
// Live processes whose command line is sLinea, in pid order.
inline std::vector<int> ProcesosCon(const std::string& sLinea) {
    std::vector<int> v;
    if (DIR* d = opendir("/proc")) {
        while (dirent* e = readdir(d)) {
            int p = std::atoi(e->d_name);
            if (p > 0 && LineaDeOrdenes(p) == sLinea) v.push_back(p);
        }
        closedir(d);
    }
    std::sort(v.begin(), v.end());
    return v;
}

// Polls until fCond() holds or iMs pass.
template <typename F>
bool EsperaQue(F fCond, int iMs) {
    auto fin = std::chrono::steady_clock::now() + std::chrono::milliseconds(iMs);
    while (std::chrono::steady_clock::now() < fin) {
        if (fCond()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return fCond();
}

class CNucleo {
public:
    // Starts velkord with the arguments; with bTubo, argument "@" is replaced by the number of
    // the pipe's write end. Output goes to /mnt/ramfs/velkord.out.
    void Arranca(std::vector<std::string> vArgs, bool bTubo = false) {
        if (bTubo && pipe(aiTubo) != 0) std::perror("pipe");
        const std::string sPrograma = DirBuild() + "/src/vortik/velkord";
        for (auto& a : vArgs)
            if (a == "@") a = std::to_string(aiTubo[1]);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(sPrograma.c_str()));
        for (auto& a : vArgs) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        iPid = fork();
        if (iPid == 0) {
            int fd = open("/mnt/ramfs/velkord.out", O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(fd, 1);
            dup2(fd, 2);
            if (chdir("/mnt/ramfs") != 0) _exit(120);
            if (bTubo) close(aiTubo[0]);
            execv(argv[0], argv.data());
            _exit(121);
        }
        if (bTubo) {
            close(aiTubo[1]);
            aiTubo[1] = -1;
        }
    }
    ~CNucleo() {
        if (iPid > 0 && Vivo()) {
            kill(iPid, SIGKILL);
            int st;
            waitpid(iPid, &st, 0);
        }
        if (aiTubo[0] >= 0) close(aiTubo[0]);
    }
    pid_t Pid() const { return iPid; }
    bool Vivo() {
        if (iEstado != -1) return false;
        int st;
        pid_t r = waitpid(iPid, &st, WNOHANG);
        if (r == iPid) {
            iEstado = st;
            return false;
        }
        return true;
    }
    // Exit status (WEXITSTATUS), or -1 when still running after iMs.
    int EsperaFin(int iMs) {
        if (!EsperaQue([&] { return !Vivo(); }, iMs)) return -1;
        return WIFEXITED(iEstado) ? WEXITSTATUS(iEstado) : 1000 + WTERMSIG(iEstado);
    }
    std::string Salida() const { return LeeTodo("/mnt/ramfs/velkord.out"); }
    bool SalidaContiene(const std::string& s, int iMs) {
        return EsperaQue([&] { return Salida().find(s) != std::string::npos; }, iMs);
    }
    // Pipe bytes with their arrival times (ms since the call) until iMs pass.
    std::vector<std::pair<int, uint8_t>> LeeTubo(int iMs) {
        std::vector<std::pair<int, uint8_t>> v;
        auto t0 = std::chrono::steady_clock::now();
        auto fin = t0 + std::chrono::milliseconds(iMs);
        pollfd p{aiTubo[0], POLLIN, 0};
        for (;;) {
            auto ahora = std::chrono::steady_clock::now();
            if (ahora >= fin) break;
            int ms = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(fin - ahora).count());
            if (poll(&p, 1, ms) != 1) break;
            uint8_t b;
            if (read(aiTubo[0], &b, 1) != 1) break;
            auto t = std::chrono::steady_clock::now() - t0;
            v.emplace_back(static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(t).count()), b);
        }
        return v;
    }

private:
    pid_t iPid = -1;
    int iEstado = -1;
    int aiTubo[2] = {-1, -1};
};

}  // namespace pruebas
