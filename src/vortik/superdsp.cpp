#include "superdsp.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "comun/hilo.h"
#include "ipc/cola.h"
#include "csuperec.h"
#include "hardware/hardware.h"
#include "ipcvortik.h"
#include "comun/nlog.h"
#include "procesohijo.h"
#include "red/tcpcons.h"
#include "comun/trazapid.h"
#include "comun/vigilanciahilos.h"

namespace {
const char* const kRutaDremson = "/usr/bin/dremson";
constexpr int NUM_DSP = 4;

std::atomic<int32_t> giPid{-1};
std::atomic<int32_t> giHijoMuerto{0};
std::atomic<int32_t> giPeticionConfig{0};
std::atomic<int32_t> giTerminar{0};  // the core is ending: the service is not started again
int32_t giArrancado = 0;
std::atomic<int32_t> gaiEstadoDsp[NUM_DSP];
pthread_t gtHilo;
int32_t giIndiceWatchdog = -1;
bool gbTerminado = false;  // the child already exited and was reaped by the supervisor

// The channel: the supervisor thread creates and deletes it; resource supervisors send on it.
Cola* gpoCanal = nullptr;
pthread_mutex_t gtCanal = PTHREAD_MUTEX_INITIALIZER;  // guards gpoCanal and every send on it

class CCanal {
public:
    CCanal() { pthread_mutex_lock(&gtCanal); }
    ~CCanal() { pthread_mutex_unlock(&gtCanal); }
    CCanal(const CCanal&) = delete;
    CCanal& operator=(const CCanal&) = delete;
    Cola* operator->() const { return gpoCanal; }
    explicit operator bool() const { return gpoCanal != nullptr; }
};

void EnviaPids() {
    CCanal c;
    if (!c) return;
    for (int n = 0; n < CFG_NUM_RECURSOS; ++n) {
        int32_t pid = aoSupervisorRecurso[n].iPidHijo.load();
        if (pid <= 0) continue;
        if (c->EnviaCreaCanalHermano(pid, 3) < 0)
            NLOG::Log(NLOG::ERROR, "CSUPERDSP: Error asignando PID %i de recurso %i", pid, n);
    }
}

void LanzaHijo(int32_t p) {
    char a1[16], a2[16];
    std::snprintf(a1, sizeof a1, "%d", superecNivelConsola());
    std::snprintf(a2, sizeof a2, "%d", p);
    const char* args[2] = {a1, a2};
    NLOG::Log(NLOG::INFO, "CSUPERDSP: Ejecutando %s %s %s\n", kRutaDremson, a1, a2);
    gbTerminado = false;
    ResultadoLanza r = phLanza(&kRutaDremson, 1, args, 2);
    if (r.pid < 0) {
        // No child: the next second tries again.
        NLOG::Log(NLOG::ERROR, "CSUPERDSP: Error %d en fork", errno);
        giHijoMuerto = 1;
        return;
    }
    if (r.iEjecutada < 0)
        NLOG::Log(NLOG::ERROR, "CSUPERDSP: Error %d ejecutando %s. ", r.aiErrno[0], kRutaDremson);
    giPid = r.pid;
    NLOG::Log(NLOG::INFO, "CSUPERDSP: Creado proceso %d.", static_cast<int>(r.pid));
    Cola* canal = new Cola(r.pid, COLA_PADRE, 0, p);
    if (canal->DameCola() < 0) {
        delete canal;
        NLOG::Log(NLOG::ERROR, "CSUPERDSP: ERROR creando canal de comunicacion con proceso hijo %d.\n\r",
                  static_cast<int>(r.pid));
        giHijoMuerto = 1;
        return;
    }
    IpcVortik::VaciaUnaVez(canal);
    canal->FijaLatido(2, CSuperDsp::EvtHijoMuerto);
    canal->RegistraEvtReset(CSuperDsp::EvtReset);
    canal->RegistraEvtTraza(CSuperDsp::EvtTraza);
    canal->RegistraEvtMensaje23(CSuperDsp::EvtMensaje23);
    canal->RegistraEvtSinConfig(CSuperDsp::EvtSinConfig);
    canal->RegistraEvtEstadoDsp(CSuperDsp::EvtEstadoDsp);
    {
        CCanal c;
        gpoCanal = canal;
    }
    for (auto& s : aoSupervisorRecurso) s.TomaPidDsp(r.pid);
    EnviaPids();
}

void Filicidio() {
    int32_t pid = giPid;
    NLOG::Log(NLOG::INFO, "CSUPERDSP: Filicidio PID %d\n", pid);
    // Only the core's own live child; never kill(-1) or kill(0).
    if (!gbTerminado && pid > 0) {
        int r = phMataYRecoge(pid);
        if (r == -2) NLOG::Log(NLOG::ERROR, "CSUPERDSP: Error en waitpid %d. ", errno);
    }
    gbTerminado = false;
    giPid = -1;
    Cola* canal;
    {
        CCanal c;
        canal = gpoCanal;
        gpoCanal = nullptr;
    }
    delete canal;
    giHijoMuerto = 0;
}

void* Supervisor(void*) {
    FijaPrioridadHilo(1);
    TrazaPid("Supervisor dremson", 0, "src/vortik/superdsp");
    int32_t p = static_cast<int32_t>(getpid());
    NLOG::Log(NLOG::INFO, "CSUPERDSP: Arrancado hilo supervisor de dremson %i", p);
    giIndiceWatchdog = RegistraHilo("Supervisor dremson", 0, 2000, hwDameTiempo());
    LanzaHijo(p);
    RefrescaHilo(giIndiceWatchdog, hwDameTiempo());
    while (!giTerminar) {
        DuermeMs(1000);
        if (giTerminar) break;
        RefrescaHilo(giIndiceWatchdog, hwDameTiempo());
        {
            CCanal c;
            if (c) c->Temporiza(1);
        }
        // A child that dies before its first heartbeat is not watched by its channel.
        int32_t pid = giPid;
        if (pid > 0 && !gbTerminado && phRecogeSiTermino(pid) == 1) {
            NLOG::Log(NLOG::ERROR, "CSUPERDSP: proceso %d terminado", pid);
            gbTerminado = true;
            giHijoMuerto = 1;
        }
        if (giHijoMuerto) {
            Filicidio();
            RefrescaHilo(giIndiceWatchdog, hwDameTiempo());
            LanzaHijo(p);
        } else if (giPeticionConfig) {
            bool hay;
            {
                CCanal c;
                hay = static_cast<bool>(c);
            }
            if (!hay) {
                NLOG::Log(NLOG::ERROR, "CSUPERDSP:No puedo configurara dremson. poCanalHijo=NULL");
            } else {
                giPeticionConfig = 0;
                EnviaPids();
                NLOG::Log(NLOG::INFO, "CSUPERDSP: dremson configurado");
            }
        }
    }
    return nullptr;
}
}  // namespace

namespace CSuperDsp {

int Inicia() {
    if (giArrancado) return 0;
    for (auto& e : gaiEstadoDsp) e = 0;
    giPid = -1;
    giHijoMuerto = 0;
    {
        CCanal c;
        gpoCanal = nullptr;
    }
    NLOG::Log(NLOG::INFO, "SUPERDSP: creando hilo supervisor de dremson");
    if (pthread_create(&gtHilo, nullptr, Supervisor, nullptr) != 0) {
        NLOG::Log(NLOG::ERROR, "SUPERDSP: Error creando hilo supervisor de dremson\n");
        return -1;
    }
    giArrancado = 1;
    return 0;
}

void Termina() { giTerminar = 1; }

int DamePid() { return giPid; }

void EnviaPidRecurso(int n) {
    if (n < 0 || n >= CFG_NUM_RECURSOS) return;
    int32_t pid = aoSupervisorRecurso[n].iPidHijo.load();
    if (pid <= 0) return;
    CCanal c;
    if (c && c->EnviaCreaCanalHermano(pid, 3) < 0)
        NLOG::Log(NLOG::ERROR, "SUPERDSP: Error asignando PID %i de recurso %i", pid, n);
}

int DameEstadoDsp(int i) { return i >= 0 && i < NUM_DSP ? gaiEstadoDsp[i].load() : 0; }

void EvtHijoMuerto(int32_t id) {
    if (id == giPid) {
        NLOG::Log(NLOG::ERROR, "SUPERDSP: EvtHijoMuerto %d\n", id);
        giHijoMuerto = 1;
    } else {
        NLOG::Log(NLOG::ERROR, "SUPERDSP: EvtHijoMuerto con PID %d desconocido!!!\n", id);
    }
}

void EvtReset(int32_t) { NLOG::Log(NLOG::INFO, "sdspEvtReset"); }

void EvtSinConfig(int32_t) {
    NLOG::Log(NLOG::INFO, "CSUPERDSP: EvtSinConfig\n");
    giPeticionConfig = 1;
}

void EvtEstadoDsp(int32_t id, int32_t dsp, int32_t estado) {
    if (id != giPid) {
        NLOG::Log(NLOG::INFO, "SUPERDSP: EvtEstadoDsp con PID %d desconocido!!!\n", id);
        return;
    }
    NLOG::Log(NLOG::INFO, "SUPERDSP: EvtEstadoDsp(%d)=%d\n", dsp, estado);
    if (dsp >= 0 && dsp < NUM_DSP) gaiEstadoDsp[dsp] = estado != 0 ? 1 : 0;
}

void EvtTraza(int32_t, char* szTexto) {
    if (szTexto) TcpCons::Printf("%s", szTexto);
}

void EvtMensaje23(int32_t, uint8_t, int32_t, char*, int32_t, char*, int32_t, int32_t, uint8_t) {}

}  // namespace CSuperDsp
