// Stand-in for a program the core starts: a resource program (<name> <resource> <level>
// <core id>) or, under the name dremson, the DSP service (<level> <core id>). It speaks the
// core's channel: heartbeat every 2 s, asks for its configuration until it arrives, takes it,
// tells a resource in service (state record, state 0) as a line program does, and ends when the
// core ends or goes silent, or on EvtTermina.
//
// Every event goes as one line into the journal <VK_STANDIN_DIR>/diario (default /tmp):
//   "<pid> arranque <name> <args...>", "<pid> config <resource> <name> <iTipoIf>",
//   "<pid> hermano <pid> <mode>", "<pid> nivel <level>", "<pid> debug <sub> <value>",
//   "<pid> termina", "<pid> fin", and at start "<pid> fds <list>" with the descriptors above 2
//   it inherited ("-" for none), and "<pid> senales <SigBlk> <SigIgn>" as /proc shows them.
// Behaviour, from the file <dir>/modo_<resource> (modo_dremson for the DSP service), else
// VK_STANDIN_MODO, else normal:
//   sale   exits at once;   falla  crashes (SIGSEGV) at start;
//   mudo   stops its heartbeat (and ignores EvtTermina) once configured, or after 2 s;
//   radio  a radio program with room for every call: publishes itself idle every second and
//          confirms each session the core opens ("<pid> sesion <id>").
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ipc/cola.h"

namespace {
std::string gDiario;
std::atomic<bool> gbConfigurado{false};
std::atomic<bool> gbFin{false};
bool gbMudo = false;
Cola* gpCanal = nullptr;  // set before the channel's handlers can run

void Anota(const char* formato, ...) __attribute__((format(printf, 1, 2)));
void Anota(const char* formato, ...) {
    char linea[512];
    int n = std::snprintf(linea, sizeof linea, "%d ", static_cast<int>(getpid()));
    va_list ap;
    va_start(ap, formato);
    int m = std::vsnprintf(linea + n, sizeof linea - static_cast<size_t>(n) - 1, formato, ap);
    va_end(ap);
    size_t l = std::strlen(linea);
    (void)m;
    linea[l++] = '\n';
    int fd = open(gDiario.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return;
    ssize_t w = write(fd, linea, l);  // one write per line: lines of several children never mix
    (void)w;
    close(fd);
}

// Descriptors above 2 inherited from the core, as "3,7" or "-".
std::string Heredados() {
    std::string r;
    DIR* d = opendir("/proc/self/fd");
    if (!d) return "?";
    int propio = dirfd(d);
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] == '.') continue;
        int fd = std::atoi(e->d_name);
        if (fd <= 2 || fd == propio) continue;
        if (!r.empty()) r += ",";
        r += e->d_name;
    }
    closedir(d);
    return r.empty() ? "-" : r;
}

// Blocked and ignored signal masks, as /proc/self/status gives them.
std::string Senales() {
    std::string blk = "?", ign = "?";
    std::FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return "? ?";
    char l[256];
    while (std::fgets(l, sizeof l, f)) {
        char v[64];
        if (std::sscanf(l, "SigBlk: %63s", v) == 1) blk = v;
        if (std::sscanf(l, "SigIgn: %63s", v) == 1) ign = v;
    }
    std::fclose(f);
    return blk + " " + ign;
}

std::string LeeModo(const std::string& dir, const std::string& clave) {
    std::string ruta = dir + "/modo_" + clave;
    if (FILE* f = std::fopen(ruta.c_str(), "r")) {
        char b[32] = {};
        size_t n = std::fread(b, 1, sizeof b - 1, f);
        std::fclose(f);
        std::string m(b, n);
        while (!m.empty() && (m.back() == '\n' || m.back() == ' ')) m.pop_back();
        return m;
    }
    const char* e = std::getenv("VK_STANDIN_MODO");
    return e ? e : "normal";
}

void TomaConfig(char*, cfgConfigRecurso* r) {
    char nombre[sizeof r->nombre + 1] = {};
    std::memcpy(nombre, r->nombre, sizeof r->nombre);
    Anota("config %d %s %d", r->iSlot * 4 + r->iDispositivo, nombre[0] ? nombre : "-", r->iTipoIf);
    gbConfigurado = true;
}
void CreaCanalHermano(int32_t pid, uint8_t modo) {
    Anota("hermano %d %d", pid, modo);
    gbConfigurado = true;  // the DSP service's configuration is the list of resource pids
}
void Termina(int32_t) {
    Anota("termina");
    if (!gbMudo) gbFin = true;
}
void NivelConsola(int32_t nivel) { Anota("nivel %d", nivel); }
void Debug(int32_t, int32_t palabra) {
    uint8_t b[4];
    std::memcpy(b, &palabra, sizeof b);
    Anota("debug %d %d", b[0], b[1]);
}
void NuevaSesion(int32_t, int32_t id, DireccionSesion*) {
    Anota("sesion %d", id);
    gpCanal->EnviaDiagnostico(15, id, 0);
}
void CoreSilencioso(int32_t) {
    Anota("core silencioso");
    gbFin = true;
}
}  // namespace

int main(int argc, char** argv) {
    const char* base = std::strrchr(argv[0], '/');
    std::string nombre = base ? base + 1 : argv[0];
    const char* d = std::getenv("VK_STANDIN_DIR");
    std::string dir = d && *d ? d : "/tmp";
    gDiario = dir + "/diario";

    std::string linea = "arranque " + nombre;
    for (int i = 1; i < argc; ++i) linea += std::string(" ") + argv[i];
    Anota("%s", linea.c_str());
    Anota("fds %s", Heredados().c_str());
    Anota("senales %s", Senales().c_str());

    bool dsp = nombre == "dremson";
    if ((dsp && argc < 3) || (!dsp && argc < 4)) {
        Anota("argumentos");
        return 2;
    }
    std::string clave = dsp ? "dremson" : argv[1];
    int32_t core = std::atoi(argv[dsp ? 2 : 3]);
    std::string modo = LeeModo(dir, clave);
    if (modo == "sale") {
        Anota("sale");
        return 0;
    }
    if (modo == "falla") {
        Anota("falla");
        signal(SIGSEGV, SIG_DFL);
        raise(SIGSEGV);
    }
    gbMudo = modo == "mudo";
    pid_t padre = getppid();

    Cola canal(core, COLA_HIJO, 0, static_cast<int32_t>(getpid()));
    canal.RegistraEvtTomaConfig(TomaConfig);
    canal.RegistraEvtCreaCanalHermano(CreaCanalHermano);
    canal.RegistraEvtTermina(Termina);
    canal.RegistraEvtNivelConsola(NivelConsola);
    canal.RegistraDebug(Debug);
    canal.FijaLatido(2, CoreSilencioso);
    const bool radio = modo == "radio";
    gpCanal = &canal;
    if (radio) canal.RegistraEvtNuevaSesion(NuevaSesion);

    canal.EnviaLatido();  // watched from the start, even when it falls silent at once
    int segundos = 0;
    bool callado = false;
    bool enServicio = dsp;  // the DSP service has no line state to tell
    while (!gbFin) {
        if (getppid() != padre) {
            Anota("core terminado");
            break;
        }
        if (gbMudo && !callado && (gbConfigurado || segundos >= 2)) {
            Anota("mudo");
            callado = true;
        }
        if (!callado) {
            canal.Temporiza(1);
            if (!gbConfigurado) canal.EnviaSinConfig();
            if (gbConfigurado && !enServicio) {
                NotificacionEstado e{};
                enServicio = canal.EnviaNotificaEstadoRecurso(&e) >= 0;
            }
        }
        if (radio && gbConfigurado) {
            NotificacionEstado e{};
            e.iServicio = 1;
            canal.EnviaNotificaEstadoRecurso(&e);
        }
        for (int i = 0; i < 10 && !gbFin; ++i) usleep(100000);
        ++segundos;
    }
    Anota("fin");
    return 0;
}
