// A resource program as a real child of the test, which plays the core on the real queue:
// it owns the core's end of the channel, keeps its heartbeat going until told to fall
// silent, and records every message the child sends.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "comun/tests/ficheros_pruebas.h"
#include "comun/tests/proceso_hijo.h"
#include "ipc/cola.h"

namespace pruebas_recurso {

using Reloj = std::chrono::steady_clock;

inline std::string DirBuild() {
    const char* p = std::getenv("VK_BUILD_DIR");
    return p ? p : ".";
}

template <typename F>
bool EsperaQue(F fCond, int iMs) {
    auto fin = Reloj::now() + std::chrono::milliseconds(iMs);
    while (Reloj::now() < fin) {
        if (fCond()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return fCond();
}

// One message from the child.
struct Mensaje {
    Reloj::time_point t;
    int iCodigo;
    int32_t a, b, c;
    std::string sTexto;
};

// The messages of the child, filled by the fake core's handlers (plain function pointers).
struct Buzon {
    std::mutex tMutex;  // guards vMensajes
    std::vector<Mensaje> vMensajes;

    void Anota(int iCodigo, int32_t a = 0, int32_t b = 0, int32_t c = 0, const std::string& s = "") {
        std::lock_guard<std::mutex> l(tMutex);
        vMensajes.push_back({Reloj::now(), iCodigo, a, b, c, s});
    }
    std::vector<Mensaje> De(int iCodigo) {
        std::lock_guard<std::mutex> l(tMutex);
        std::vector<Mensaje> v;
        for (const auto& m : vMensajes)
            if (m.iCodigo == iCodigo) v.push_back(m);
        return v;
    }
    std::string Trazas() {
        std::string s;
        for (const auto& m : De(COD_TRAZA)) s += m.sTexto;
        return s;
    }
    static Buzon& Global() {
        static Buzon& b = *new Buzon;  // handlers may run while the test ends
        return b;
    }
};

inline void RxSinConfig(int32_t) { Buzon::Global().Anota(COD_SIN_CONFIG); }
inline void RxDiagnostico(int32_t, uint8_t c, int32_t a, int32_t b) { Buzon::Global().Anota(COD_DIAGNOSTICO, c, a, b); }
inline void RxTraza(int32_t, char* t) { Buzon::Global().Anota(COD_TRAZA, 0, 0, 0, t ? t : ""); }
inline void RxReset(int32_t) { Buzon::Global().Anota(COD_RESET); }

// Writes the logging configuration: the child's log is /mnt/ramfs/rec_rec<N>.log.
inline void ConfiguraLog() {
    std::ofstream("/mnt/ramfs/plog.conf") << "FILEFORMAT=txt\nFILENAME=/mnt/ramfs/rec\nFILESIZE=10000000\n"
                                             "NUMOFFILES=0\nTO_STANDARD_OUTPUT=false\n";
}

// An AB telephone line on line module 3 (its PCM channel is 51), in direct mode.
inline cfgConfigRecurso LineaTelefono() {
    cfgConfigRecurso r;
    std::strcpy(r.nombre, "TLF-03");
    r.iTipo = 2;
    r.iTipoIf = TIPOIF_AB;
    r.iSlot = 0;
    r.iDispositivo = 3;
    r.iCfgModoSistema = 1;
    return r;
}

class CHijoRecurso {
public:
    // Starts the program with (iRec, uiMascara, this process's pid) and opens the core's end.
    void Arranca(const std::string& sPrograma, int iRec, uint32_t uiMascara) {
        iRecurso = iRec;
        const std::string sRuta = DirBuild() + "/src/" + sPrograma + "/" + sPrograma;
        std::vector<std::string> args = {sRuta, std::to_string(iRec), std::to_string(uiMascara),
                                         std::to_string(getpid())};
        const pid_t iPid = Lanza(args);
        pCanal = new Cola(iPid, COLA_PADRE, 0, getpid());
        pCanal->FijaLatido(2, SinActividad);
        pCanal->RegistraEvtSinConfig(RxSinConfig);
        pCanal->RegistraEvtDiagnostico(RxDiagnostico);
        pCanal->RegistraEvtTraza(RxTraza);
        pCanal->RegistraEvtReset(RxReset);
        hLatido = std::thread([this] {
            while (!bFin) {
                if (!bMudo) pCanal->Temporiza(0);
                std::this_thread::sleep_for(std::chrono::seconds(1));
            }
        });
    }
    // Runs the program with these arguments alone; its output goes to /mnt/ramfs/salida.
    pid_t Lanza(const std::vector<std::string>& args) { return oProceso.Arranca(args, "/mnt/ramfs/salida"); }
    ~CHijoRecurso() {
        bFin = true;
        if (hLatido.joinable()) hLatido.join();
        oProceso.Mata();
        delete pCanal;
    }

    // The core falls silent: no more heartbeats.
    void Calla() { bMudo = true; }
    Cola& Canal() { return *pCanal; }
    pid_t Pid() const { return oProceso.Pid(); }
    bool Vivo() { return oProceso.Vivo(); }
    // Exit status, 1000 + signal when killed, -1 when still running after iMs.
    int EsperaFin(int iMs) { return oProceso.EsperaFin(iMs); }
    std::string Log() const {
        return ficheros_pruebas::LeeTodo("/mnt/ramfs/rec_rec" + std::to_string(iRecurso) + ".log");
    }
    bool LogContiene(const std::string& s, int iMs) {
        return EsperaQue([&] { return Log().find(s) != std::string::npos; }, iMs);
    }
    // Lines of the log that hold s.
    size_t VecesEnLog(const std::string& s) const {
        const std::string l = Log();
        size_t n = 0;
        for (size_t p = l.find(s); p != std::string::npos; p = l.find(s, p + 1)) ++n;
        return n;
    }
    static std::string Salida() { return ficheros_pruebas::LeeTodo("/mnt/ramfs/salida"); }

    // Sends the record as the core does (the general block through the side file).
    void Configura(const cfgConfigRecurso& r) {
        char general[TAM_BLOQUE_GENERAL] = "192.0.2.23";
        pCanal->EnviaTomaConfig(general, &r);
    }

private:
    static void SinActividad(int32_t) {}

    int iRecurso = 0;
    pruebas_proceso::CProcesoHijo oProceso;
    Cola* pCanal = nullptr;
    std::thread hLatido;
    std::atomic<bool> bFin{false};
    std::atomic<bool> bMudo{false};
};

}  // namespace pruebas_recurso
