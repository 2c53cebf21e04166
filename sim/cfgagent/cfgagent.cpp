// Stand-in for the configuration agent: writes a configuration image, built from a readable
// description, into the shared-memory segment and tells the core with signal 40; or dumps the
// image in the segment back to the same description form.
//
//   cfgagent escribe DESCRIPCION [--pid N | --sin-senal]
//   cfgagent vuelca [FICHERO]
#include <signal.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>

#include "cfg/cfgpasarela.h"
#include "descripcion.h"

namespace {

const key_t kClave = 0x047BC021;
const int kSenal = 40;
const char* const kTrazaNucleo = "/var/velkord.pid";

int Uso() {
    std::fprintf(stderr,
                 "uso: cfgagent escribe DESCRIPCION [--pid N | --sin-senal]\n"
                 "     cfgagent vuelca [FICHERO]\n");
    return 2;
}

// The core's pid: the first line of its thread trace file, " PID %d -> ...".
int PidNucleo() {
    FILE* f = std::fopen(kTrazaNucleo, "r");
    if (f == nullptr) return -1;
    int pid = -1;
    if (std::fscanf(f, " PID %d", &pid) != 1) pid = -1;
    std::fclose(f);
    return pid;
}

int Escribe(const std::string& descripcion, int pid, bool bSenal) {
    auto cfg = std::make_unique<cfgConfigPasarela>();
    std::string error;
    if (!LeeDescripcion(descripcion, cfg.get(), &error)) {
        std::fprintf(stderr, "cfgagent: %s\n", error.c_str());
        return 1;
    }
    int id = shmget(kClave, CFG_TAM_IMAGEN, IPC_CREAT | 0666);
    if (id < 0) {
        std::perror("cfgagent: shmget");
        return 1;
    }
    void* p = shmat(id, nullptr, 0);
    if (p == reinterpret_cast<void*>(-1)) {
        std::perror("cfgagent: shmat");
        return 1;
    }
    const cfgImagenPasarela* img = cfg.get();
    std::memcpy(p, img, CFG_TAM_IMAGEN);
    std::memset(p, 0, sizeof img->acRanuraMutex);  // the image's mutex slot carries nothing
    shmdt(p);
    if (!bSenal) return 0;
    if (pid <= 0) pid = PidNucleo();
    if (pid <= 0) {
        std::fprintf(stderr, "cfgagent: sin pid del nucleo en %s\n", kTrazaNucleo);
        return 1;
    }
    if (kill(pid, kSenal) != 0) {
        std::perror("cfgagent: kill");
        return 1;
    }
    return 0;
}

int Vuelca(const char* fichero) {
    int id = shmget(kClave, CFG_TAM_IMAGEN, 0);
    if (id < 0) {
        std::perror("cfgagent: shmget");
        return 1;
    }
    void* p = shmat(id, nullptr, SHM_RDONLY);
    if (p == reinterpret_cast<void*>(-1)) {
        std::perror("cfgagent: shmat");
        return 1;
    }
    auto img = std::make_unique<cfgImagenPasarela>();
    std::memcpy(static_cast<void*>(img.get()), p, CFG_TAM_IMAGEN);
    shmdt(p);
    if (fichero == nullptr) {
        EscribeDescripcion(*img, std::cout);
        return 0;
    }
    std::ofstream f(fichero);
    EscribeDescripcion(*img, f);
    return f ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Uso();
    std::string orden = argv[1];
    if (orden == "escribe" && argc >= 3) {
        int pid = -1;
        bool bSenal = true;
        for (int i = 3; i < argc; i++) {
            if (std::strcmp(argv[i], "--sin-senal") == 0)
                bSenal = false;
            else if (std::strcmp(argv[i], "--pid") == 0 && i + 1 < argc)
                pid = std::atoi(argv[++i]);
            else
                return Uso();
        }
        return Escribe(argv[2], pid, bSenal);
    }
    if (orden == "vuelca" && argc <= 3) return Vuelca(argc == 3 ? argv[2] : nullptr);
    return Uso();
}
