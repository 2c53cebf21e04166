// Supervision of real child processes: the test process is the core (its resource supervisors,
// child-channel handlers and DSP service supervisor) and the children are the real DSP service
// and resource programs installed in the sandbox's /usr/bin, with the stand-in sim/standin under
// the names of the programs that are not part of the system (radio). The real programs are seen
// through their logs and /proc, the stand-ins through their journal; the fixed waits of the
// supervisors run twenty times faster.
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cconfig.h"
#include "ceventossuperec.h"
#include "sip/cpasagus.h"
#include "csuperec.h"
#include "ipc/cola.h"
#include "ipcvortik.h"
#include "nucleo_proceso.h"
#include "comun/nlog.h"
#include "procesohijo.h"
#include "superdsp.h"

namespace {

// Never destroyed: the supervisor threads use them until the process ends.
CCONFIG& gCfg = *new CCONFIG;
std::mutex& gMutexLog = *new std::mutex;
std::vector<std::string>& gLog = *new std::vector<std::string>;  // guarded by gMutexLog

void Captura(int, const char* texto) {
    std::lock_guard<std::mutex> l(gMutexLog);
    gLog.emplace_back(texto);
}

void EsperaCorta(uint32_t us) { std::this_thread::sleep_for(std::chrono::microseconds(us / 20)); }

// A gate on the 5 s wait of a stop (Filicidio): while it is closed, a stopping supervisor stays
// there, after it told its child to end and before it removes the SIP user and kills the child.
struct Puerta {
    std::mutex m;
    std::condition_variable cv;
    bool bCerrada = false;
    int iEsperando = 0;
    int iLlamadas = 0;  // waits of the supervisors so far
};
Puerta& gPuerta = *new Puerta;

void EsperaConPuerta(uint32_t us) {
    {
        std::unique_lock<std::mutex> l(gPuerta.m);
        ++gPuerta.iLlamadas;
        gPuerta.cv.notify_all();
        if (us == 5000000 && gPuerta.bCerrada) {
            ++gPuerta.iEsperando;
            gPuerta.cv.notify_all();
            gPuerta.cv.wait(l, [] { return !gPuerta.bCerrada; });
            --gPuerta.iEsperando;
        }
    }
    EsperaCorta(us);
}
void CierraPuerta() {
    std::lock_guard<std::mutex> l(gPuerta.m);
    gPuerta.bCerrada = true;
}
void AbrePuerta() {
    std::lock_guard<std::mutex> l(gPuerta.m);
    gPuerta.bCerrada = false;
    gPuerta.cv.notify_all();
}
// Opens the gate as the very last step of the process's exit, after every static object's
// destructor, and lets the supervisor held there go on until its next wait.
std::atomic<bool> gbAbreAlSalir{false};
__attribute__((destructor)) void AbreAlSalir() {
    if (!gbAbreAlSalir) return;
    std::unique_lock<std::mutex> l(gPuerta.m);
    const int n = gPuerta.iLlamadas;
    gPuerta.bCerrada = false;
    gPuerta.cv.notify_all();
    gPuerta.cv.wait_for(l, std::chrono::seconds(20), [&] { return gPuerta.iLlamadas > n; });
}

// True once n supervisors wait at the closed gate.
bool EsperanEnPuerta(int n, int segundos) {
    std::unique_lock<std::mutex> l(gPuerta.m);
    return gPuerta.cv.wait_for(l, std::chrono::seconds(segundos), [&] { return gPuerta.iEsperando >= n; });
}

// Another process of the machine, not started by the supervisors: it waits to be killed.
pid_t ProcesoAjeno() {
    pid_t p = fork();
    if (p == 0) {
        pause();
        _exit(0);
    }
    return p;
}
void TerminaAjeno(pid_t p) {
    kill(p, SIGKILL);
    waitpid(p, nullptr, 0);
}

struct Arranque {
    int pid;
    std::string linea;  // "<name> <args...>"
};

class Nucleo : public ::testing::Test {
public:
    // Polls a condition on real processes; false after the limit.
    static bool Hasta(const std::function<bool()>& f, int segundos) {
        auto fin = std::chrono::steady_clock::now() + std::chrono::seconds(segundos);
        while (std::chrono::steady_clock::now() < fin) {
            if (f()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return f();
    }

protected:
    void SetUp() override {
        char plantilla[] = "/tmp/standinXXXXXX";
        ASSERT_NE(mkdtemp(plantilla), nullptr);
        sDir = plantilla;
        setenv("VK_STANDIN_DIR", sDir.c_str(), 1);
        const char* b = std::getenv("VK_BUILD_DIR");
        ASSERT_NE(b, nullptr) << "VK_BUILD_DIR";
        sStandin = std::string(b) + "/sim/standin/standin";
        ASSERT_EQ(access(sStandin.c_str(), X_OK), 0) << sStandin;
        NLOG::FijaCaptura(Captura);
        pruebas::ConfiguraLogs();
        superecFijaEspera(EsperaCorta);
        {
            cfgCerrojo c(&gCfg.tMutex);
            gCfg.iNivelConsola = 0x10;
            for (int i = 0; i < CFG_NUM_RECURSOS; ++i) {
                std::snprintf(gCfg.asRecursos[i].nombre, sizeof gCfg.asRecursos[i].nombre, "REC%02d", i);
                gCfg.asRecursos[i].iTipoIf = TIPOIF_AB;
            }
        }
        superecFijaConfig(&gCfg);
        superecFijaEventos(&oEventosSuperec);
        IpcVortik::Inicia();
    }

    void TearDown() override {
        if (!HasFailure()) return;
        std::lock_guard<std::mutex> l(gMutexLog);
        for (const auto& s : gLog) std::printf("log: %s\n", s.c_str());
        for (const auto& s : Diario()) std::printf("diario: %s\n", s.c_str());
        for (int r = 0; r < CFG_NUM_RECURSOS; ++r) {
            const std::string sLog = pruebas::LogRecurso(r);
            if (!sLog.empty()) std::printf("log rec%d:\n%s\n", r, sLog.c_str());
        }
    }

    void Instala(const std::string& programa) {
        std::string ruta = "/usr/bin/" + programa;
        unlink(ruta.c_str());
        ASSERT_EQ(symlink(pruebas::RutaPrograma(programa).c_str(), ruta.c_str()), 0) << ruta;
    }
    void Modo(const std::string& clave, const std::string& modo) {
        std::ofstream(sDir + "/modo_" + clave) << modo << "\n";
    }
    void TipoIf(int rec, int tipo) {
        cfgCerrojo c(&gCfg.tMutex);
        gCfg.asRecursos[rec].iTipoIf = tipo;
    }
    void Arranca(int rec) {
        ASSERT_EQ(aoSupervisorRecurso[rec].Inicia(rec, &oPasaGus, &oGestorLlamada), 0);
        ASSERT_EQ(aoSupervisorRecurso[rec].ArrancaRecurso(), 0);
    }

    std::vector<std::string> Diario() {
        std::vector<std::string> v;
        std::ifstream f(sDir + "/diario");
        for (std::string l; std::getline(f, l);) v.push_back(l);
        return v;
    }
    // Journal lines "<pid> <resto>" whose rest begins with the prefix.
    std::vector<Arranque> Lineas(const std::string& prefijo) {
        std::vector<Arranque> r;
        for (const auto& l : Diario()) {
            size_t e = l.find(' ');
            if (e == std::string::npos) continue;
            std::string resto = l.substr(e + 1);
            if (resto.compare(0, prefijo.size(), prefijo) == 0) r.push_back({std::atoi(l.c_str()), resto});
        }
        return r;
    }
    bool HayLinea(int pid, const std::string& texto) {
        for (const auto& l : Diario())
            if (l == std::to_string(pid) + " " + texto) return true;
        return false;
    }
    int CuentaLog(const std::string& texto) {
        std::lock_guard<std::mutex> l(gMutexLog);
        int n = 0;
        for (const auto& s : gLog)
            if (s.find(texto) != std::string::npos) ++n;
        return n;
    }
    // Children started for the resource, in order, as the supervisor logged them.
    std::vector<int> Creados(int rec) {
        const std::string sPrefijo = "CSUPEREC[" + std::to_string(rec) + "]: Creado proceso ";
        std::vector<int> v;
        std::lock_guard<std::mutex> l(gMutexLog);
        for (const auto& s : gLog)
            if (s.compare(0, sPrefijo.size(), sPrefijo) == 0) v.push_back(std::atoi(s.c_str() + sPrefijo.size()));
        return v;
    }
    // The resource process took its record (logged with its pid).
    static bool Configurado(int rec, int pid, const std::string& sPalabra, int tipoIf) {
        char acInicio[64];
        std::snprintf(acInicio, sizeof acInicio, "%s[%d]: configuracion REC%02d iTipoIf %d modulo ", sPalabra.c_str(),
                      rec, rec, tipoIf);
        const std::string sFin = ", pid " + std::to_string(pid);
        std::istringstream is(pruebas::LogRecurso(rec));
        for (std::string l; std::getline(is, l);)
            if (l.find(acInicio) != std::string::npos && l.size() >= sFin.size() &&
                l.compare(l.size() - sFin.size(), sFin.size(), sFin) == 0)
                return true;
        return false;
    }
    // The targets of a process's descriptors ("pipe:[123]", "/dev/null" ...).
    static std::vector<std::string> Descriptores(int pid) {
        std::vector<std::string> v;
        const std::string sDir = "/proc/" + std::to_string(pid) + "/fd";
        if (DIR* d = opendir(sDir.c_str())) {
            while (dirent* e = readdir(d)) {
                char destino[256];
                ssize_t n = readlink((sDir + "/" + e->d_name).c_str(), destino, sizeof destino - 1);
                if (n > 0) v.emplace_back(destino, static_cast<size_t>(n));
            }
            closedir(d);
        }
        return v;
    }
    // "SigBlk SigIgn" of a process as /proc shows them.
    static std::string Mascaras(int pid) {
        std::istringstream is(pruebas::LeeTodo("/proc/" + std::to_string(pid) + "/status"));
        std::string l, blk = "?", ign = "?";
        while (std::getline(is, l)) {
            if (l.compare(0, 7, "SigBlk:") == 0) blk = l.substr(l.find_first_not_of(" \t", 7));
            if (l.compare(0, 7, "SigIgn:") == 0) ign = l.substr(l.find_first_not_of(" \t", 7));
        }
        return blk + " " + ign;
    }
    // The DSP service opened its channel to the resource process: a DSP request sent in that
    // process's name is answered (with no DSP on this board: a refusal, LiberaRecurso).
    static bool ServicioAtiende(int iPidDsp, int iPidRecurso) {
        static std::atomic<int> giRespuestas{0};
        giRespuestas = 0;
        Cola c(iPidDsp, COLA_HERMANO_CLIENTE, 0, iPidRecurso);
        c.RegistraLiberaRecurso([](int32_t, int32_t) { giRespuestas++; });
        // Requests sent before the service has the channel are lost: ask again.
        return Hasta([&] {
            c.EnviaArrancaRecurso(0);
            return giRespuestas > 0;
        }, 10);
    }
    // Reaped: no process, not even a zombie, answers to the pid.
    static bool Recogido(int pid) { return kill(pid, 0) != 0 && errno == ESRCH; }

    std::string sDir;
    std::string sStandin;
};

std::string Args(int rec, int nivel) {
    return std::to_string(rec) + " " + std::to_string(nivel) + " " + std::to_string(getpid());
}

TEST_F(Nucleo, RestartsChildThatStopsHeartbeatWithSameArgumentsAndTellsTheDspService) {
    Instala("fonmira");
    pruebas::InstalaDremson();
    // A descriptor the core did not mark close-on-exec must not reach the child.
    int tubo[2];
    ASSERT_EQ(pipe(tubo), 0);
    char acTubo[64] = {};
    ASSERT_GT(readlink(("/proc/self/fd/" + std::to_string(tubo[0])).c_str(), acTubo, sizeof acTubo - 1), 0);
    // Nor a signal the core blocks (for its signal thread) or ignores: the supervisor thread
    // inherits this thread's mask.
    sigset_t bloqueadas;
    sigemptyset(&bloqueadas);
    sigaddset(&bloqueadas, SIGTERM);
    sigaddset(&bloqueadas, SIGUSR1);
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &bloqueadas, nullptr), 0);
    signal(SIGPIPE, SIG_IGN);
    // The SNMP agent's port: the kill is reported there.
    int agente = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in d{};
    d.sin_family = AF_INET;
    d.sin_port = htons(65000);
    d.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(agente, reinterpret_cast<sockaddr*>(&d), sizeof d), 0);
    ASSERT_EQ(CSuperDsp::Inicia(), 0);
    Arranca(2);

    ASSERT_TRUE(Hasta([&] { return !Creados(2).empty(); }, 20));
    const int primero = Creados(2)[0];
    ASSERT_TRUE(Hasta([&] { return Configurado(2, primero, "TLF ", TIPOIF_AB); }, 20));
    EXPECT_EQ(pruebas::LineaDeOrdenes(primero), "fonmira " + Args(2, 0x10));
    for (const auto& s : Descriptores(primero)) EXPECT_NE(s, acTubo);
    // Read until steady: a thread being created blocks every signal for a moment.
    EXPECT_TRUE(Hasta([&] { return Mascaras(primero) == "0000000000000000 0000000000000000"; }, 10))
        << Mascaras(primero);
    // Frozen, the child stops its heartbeat: the core kills it and starts it again.
    ASSERT_EQ(kill(primero, SIGSTOP), 0);
    ASSERT_TRUE(Hasta([&] { return Creados(2).size() >= 2; }, 60));
    const int segundo = Creados(2)[1];
    EXPECT_EQ(pruebas::LineaDeOrdenes(segundo), "fonmira " + Args(2, 0x10));
    EXPECT_TRUE(Hasta([&] { return Configurado(2, segundo, "TLF ", TIPOIF_AB); }, 20));
    EXPECT_TRUE(Recogido(primero));
    EXPECT_GE(CuentaLog("CSUPEREC[2]::NotifHijoMuerto"), 1);
    EXPECT_GE(CuentaLog("CSUPEREC[2]:Filicidio PID " + std::to_string(primero)), 1);
    char registro[64] = {};
    timeval t{5, 0};
    setsockopt(agente, SOL_SOCKET, SO_RCVTIMEO, &t, sizeof t);
    EXPECT_GT(recv(agente, registro, sizeof registro - 1, 0), 0);
    EXPECT_STREQ(registro, "V,N07,2,-,9,0,0,0,0,-");
    close(agente);

    int dsp = CSuperDsp::DamePid();
    ASSERT_GT(dsp, 0);
    EXPECT_TRUE(Hasta([&] {
        return pruebas::LogDremson().find("IPCDREMSON: Asignado PID " + std::to_string(segundo) + " de recurso") !=
               std::string::npos;
    }, 10));
    // The resource processes learn the DSP service's pid when configured.
    EXPECT_TRUE(Hasta([&] {
        return pruebas::LogRecurso(2).find("IPCREC[2]: canal con el servicio DSP " + std::to_string(dsp) +
                                           " (0), pid " + std::to_string(segundo)) != std::string::npos;
    }, 10));
    close(tubo[0]);
    close(tubo[1]);
}

// Children that die at once: the radio program's stand-in made to exit or crash (the resource
// programs of the system never do), or no program installed at all.
struct CasoMuerte {
    const char* nombre;
    const char* programa;
    int tipoIf;
    const char* modo;  // nullptr: the program is not installed
};

void PrintTo(const CasoMuerte& c, std::ostream* os) { *os << c.nombre; }

class MuerteTemprana : public Nucleo, public ::testing::WithParamInterface<CasoMuerte> {};

TEST_P(MuerteTemprana, ChildDeadBeforeItsFirstHeartbeatIsReapedAndRelaunched) {
    const CasoMuerte& c = GetParam();
    TipoIf(1, c.tipoIf);
    if (c.modo) {
        Instala(c.programa);
        Modo("1", c.modo);
    }
    Arranca(1);
    ASSERT_TRUE(Hasta([&] { return CuentaLog("CSUPEREC[1]: Creado proceso") >= 3; }, 30));
    std::vector<int> pids = Creados(1);
    ASSERT_GE(pids.size(), 3u);
    EXPECT_TRUE(Recogido(pids[0]));
    EXPECT_TRUE(Recogido(pids[1]));
    if (c.modo) {
        auto a = Lineas(std::string("arranque ") + c.programa);
        ASSERT_GE(a.size(), 2u);
        EXPECT_EQ(a[1].linea, std::string("arranque ") + c.programa + " " + Args(1, 0x10));
    } else {
        EXPECT_GE(CuentaLog(std::string("Ejecutando en directorio en curso ./") + c.programa + " " + Args(1, 0x10)), 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Casos, MuerteTemprana,
                         ::testing::Values(CasoMuerte{"SaleEnseguida", "sopwent", TIPOIF_RADIO, "sale"},
                                           CasoMuerte{"Revienta", "sopwent", TIPOIF_RADIO, "falla"},
                                           CasoMuerte{"ProgramaAusente", "fonmira", TIPOIF_AB, nullptr}),
                         [](const ::testing::TestParamInfo<CasoMuerte>& i) { return std::string(i.param.nombre); });

TEST_F(Nucleo, StopWithoutChildSignalsNoOtherProcess) {
    pid_t ajeno = ProcesoAjeno();
    ASSERT_GT(ajeno, 0);
    TipoIf(4, TIPOIF_IO);  // a type without program: the resource runs without a child
    Arranca(4);
    ASSERT_TRUE(Hasta([&] { return CuentaLog("CSUPEREC[4]: tipo de interfaz 10 sin programa") >= 1; }, 10));
    ASSERT_EQ(aoSupervisorRecurso[4].DetieneRecurso(), 0);
    ASSERT_TRUE(Hasta([&] { return CuentaLog("CSUPEREC[4]:MATADO") >= 1; }, 20));
    EXPECT_EQ(aoSupervisorRecurso[4].DameEstado(), CSupervisorRecurso::ESTADO_PARADO);
    EXPECT_EQ(aoSupervisorRecurso[4].DamePidHijo(), -1);
    EXPECT_EQ(kill(ajeno, 0), 0);
    EXPECT_EQ(waitpid(ajeno, nullptr, WNOHANG), 0);
    TerminaAjeno(ajeno);
}

TEST_F(Nucleo, StopDuringRestartKillsOnlyTheOwnChild) {
    TipoIf(5, TIPOIF_RADIO);  // its program's stand-in exits at once
    Instala("sopwent");
    Modo("5", "sale");
    pid_t ajeno = ProcesoAjeno();
    ASSERT_GT(ajeno, 0);
    Arranca(5);
    ASSERT_TRUE(Hasta([&] { return CuentaLog("CSUPEREC[5]: proceso") >= 1; }, 20));
    ASSERT_EQ(aoSupervisorRecurso[5].DetieneRecurso(), 0);
    ASSERT_TRUE(Hasta([&] { return aoSupervisorRecurso[5].DameEstado() == CSupervisorRecurso::ESTADO_PARADO &&
                                   aoSupervisorRecurso[5].DamePidHijo() == -1; },
                      20));
    for (const auto& a : Lineas("arranque sopwent")) EXPECT_TRUE(Recogido(a.pid));
    EXPECT_EQ(waitpid(ajeno, nullptr, WNOHANG), 0);
    TerminaAjeno(ajeno);
}

// Requests that come while a stop is being carried out: the supervisor ends in the state the
// last one asks for, and a stop with a start after it restarts the child.
TEST_F(Nucleo, RequestsWhileStoppingEndInTheStateOfTheLastOne) {
    struct {
        const char* szPeticiones;  // A start, D stop, in order
        int iEstado;
        size_t nArranques;
    } const casos[] = {
        {"AD", CSupervisorRecurso::ESTADO_PARADO, 1},
        {"DAD", CSupervisorRecurso::ESTADO_PARADO, 1},
        {"A", CSupervisorRecurso::ESTADO_EN_MARCHA, 2},
        {"ADA", CSupervisorRecurso::ESTADO_EN_MARCHA, 2},
    };
    // The radio program's stand-in: what is tested is the supervisor, seen through the journal.
    Instala("sopwent");
    superecFijaEspera(EsperaConPuerta);
    int rec = 12;
    for (const auto& c : casos) {
        SCOPED_TRACE(c.szPeticiones);
        CSupervisorRecurso& s = aoSupervisorRecurso[rec];
        const std::string sArranque = "arranque sopwent " + Args(rec, 0x10);
        auto Arranques = [&] {
            size_t n = 0;
            for (const auto& a : Lineas("arranque sopwent"))
                if (a.linea == sArranque) ++n;
            return n;
        };
        TipoIf(rec, TIPOIF_RADIO);
        Arranca(rec);
        ASSERT_TRUE(Hasta([&] { return !Lineas("config " + std::to_string(rec)).empty(); }, 20));
        CierraPuerta();
        ASSERT_EQ(s.DetieneRecurso(), 0);
        ASSERT_TRUE(EsperanEnPuerta(1, 20));
        for (const char* p = c.szPeticiones; *p; ++p) ASSERT_EQ(*p == 'A' ? s.ArrancaRecurso() : s.DetieneRecurso(), 0);
        AbrePuerta();
        if (c.iEstado == CSupervisorRecurso::ESTADO_PARADO) {
            ASSERT_TRUE(Hasta([&] { return s.DameEstado() == CSupervisorRecurso::ESTADO_PARADO; }, 20));
            // Three more passes of the thread: a stale start would have launched by then.
            const uint32_t n = s.DamePasadas();
            ASSERT_TRUE(Hasta([&] { return s.DamePasadas() >= n + 3; }, 20));
            EXPECT_EQ(s.DameEstado(), CSupervisorRecurso::ESTADO_PARADO);
            EXPECT_EQ(s.DamePidHijo(), -1);
        } else {
            ASSERT_TRUE(Hasta([&] { return Arranques() == c.nArranques && s.DamePidHijo() > 0; }, 20));
            EXPECT_EQ(s.DameEstado(), CSupervisorRecurso::ESTADO_EN_MARCHA);
        }
        EXPECT_EQ(Arranques(), c.nArranques);
        ++rec;
    }
}

// The process ends while a supervisor is between telling its child to end and removing its SIP
// user: what the supervisor uses outlives the static objects of the process.
TEST_F(Nucleo, ExitDuringAStopLeavesTheSupervisorWhatItUses) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    Instala("sopwent");
    TipoIf(13, TIPOIF_RADIO);
    EXPECT_EXIT(
        {
            superecFijaEspera(EsperaConPuerta);
            CSupervisorRecurso& s = aoSupervisorRecurso[13];
            if (s.Inicia(13, &oPasaGus, &oGestorLlamada) != 0 || s.ArrancaRecurso() != 0) std::_Exit(2);
            if (!Hasta([&] { return !Lineas("config 13").empty(); }, 20)) std::_Exit(3);
            CierraPuerta();
            s.DetieneRecurso();
            if (!EsperanEnPuerta(1, 20)) std::_Exit(4);
            gbAbreAlSalir = true;
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(Nucleo, NewInterfaceTypeRestartsTheChildWithItsProgram) {
    Instala("fonmira");
    Instala("lintaro");
    Arranca(0);
    ASSERT_TRUE(Hasta([&] { return !Creados(0).empty(); }, 20));
    const int viejo = Creados(0)[0];
    ASSERT_TRUE(Hasta([&] { return Configurado(0, viejo, "TLF ", TIPOIF_AB); }, 20));
    TipoIf(0, TIPOIF_ATSR2);
    ASSERT_EQ(aoSupervisorRecurso[0].ReconfiguraRecurso(), 0);
    ASSERT_TRUE(Hasta([&] { return Creados(0).size() >= 2 && Configurado(0, Creados(0)[1], "R2N5", TIPOIF_ATSR2); }, 20));
    EXPECT_EQ(Creados(0).size(), 2u);
    EXPECT_EQ(pruebas::LineaDeOrdenes(Creados(0)[1]), "lintaro " + Args(0, 0x10));
    EXPECT_TRUE(Recogido(viejo));
}

// Flags only: the types have no program, so no child is started.
TEST_F(Nucleo, TypeChangeKillsOnlyWhenTheTypeWasRecorded) {
    struct {
        bool bParada;
        int iMuerto;
    } casos[] = {{false, 1}, {true, 0}};
    int rec = 6;
    for (const auto& c : casos) {
        TipoIf(rec, TIPOIF_2BD);
        Arranca(rec);
        if (c.bParada) aoSupervisorRecurso[rec].DetieneRecurso();
        TipoIf(rec, TIPOIF_30BD);
        aoSupervisorRecurso[rec].ReconfiguraRecurso();
        EXPECT_EQ(aoSupervisorRecurso[rec].iHijoMuerto.load(), c.iMuerto) << "parada " << c.bParada;
        ++rec;
    }
}

TEST_F(Nucleo, RequestsBeforeIniciaFailAndIniciaRunsOnce) {
    CSupervisorRecurso& s = aoSupervisorRecurso[9];
    EXPECT_EQ(s.ArrancaRecurso(), -1);
    EXPECT_EQ(s.DetieneRecurso(), -1);
    EXPECT_EQ(s.ReconfiguraRecurso(), -1);
    EXPECT_EQ(s.ReconfiguraColaterales(), -1);
    EXPECT_EQ(aoSupervisorRecurso[10].Inicia(16, &oPasaGus, &oGestorLlamada), -1);
    EXPECT_EQ(aoSupervisorRecurso[10].Inicia(10, nullptr, &oGestorLlamada), -1);
    EXPECT_EQ(s.Inicia(9, &oPasaGus, &oGestorLlamada), 0);
    EXPECT_EQ(s.Inicia(9, &oPasaGus, &oGestorLlamada), -1);
    EXPECT_EQ(IpcVortik::BuscaSupervisor(-1), -1);
    EXPECT_EQ(IpcVortik::BuscaSupervisor(0), -1);
}

TEST_F(Nucleo, InfoDumpListsSessionsAndStopsAtTheBufferEnd) {
    CSupervisorRecurso& s = aoSupervisorRecurso[11];
    TipoIf(11, TIPOIF_LCEN);
    {
        cfgCerrojo c(&gCfg.tMutex);
        std::strcpy(gCfg.asRecursos[11].szDestino, "FID11");
    }
    ASSERT_EQ(s.Inicia(11, &oPasaGus, &oGestorLlamada), 0);
    s.oSesiones.asInfoSesion[2].idsesion = 10002;
    std::strcpy(s.oSesiones.asInfoSesion[2].Origen, "sip:a@1.2.3.4");
    std::strcpy(s.oSesiones.asInfoSesion[2].acDestino, "sip:b@5.6.7.8");
    s.oSesiones.asInfoSesion[2].iPuertoLocal = 5000;
    s.oSesiones.asInfoSesion[2].iPuertoRemoto = 6000;
    s.oSesiones.asInfoSesion[2].iReposo = 1;
    const std::string esperado =
        "    Nombre=REC11\n    FID=FID11\n    modo funcionamiento: NORMAL\n   Estado Colateral = 0\n"
        "  ids=10002  Origen= sip:a@1.2.3.4    Destino= sip:b@5.6.7.8    Plocal= 5000  PRemoto= 6000  Estado= I\n";
    char buf[1024];
    EXPECT_EQ(s.PintaInfo(buf, sizeof buf), static_cast<int>(esperado.size()));
    EXPECT_EQ(std::string(buf), esperado);
    // A buffer too short for the session line keeps the lines before it.
    EXPECT_EQ(s.PintaInfo(buf, 100), 87);
    EXPECT_EQ(std::string(buf), esperado.substr(0, 87));
    EXPECT_EQ(CuentaLog("CSUPEREC: PintaInfo Desborda buff"), 1);
}

TEST_F(Nucleo, DspStatesComeOnlyFromTheDspService) {
    pruebas::InstalaDremson();
    ASSERT_EQ(CSuperDsp::Inicia(), 0);
    ASSERT_TRUE(Hasta([] { return CSuperDsp::DamePid() > 0; }, 10));
    int pid = CSuperDsp::DamePid();
    // Its configuration request is served even with no resource process to announce.
    EXPECT_TRUE(Hasta([&] { return CuentaLog("CSUPERDSP: dremson configurado") >= 1; }, 10));
    CSuperDsp::EvtEstadoDsp(pid, 0, -5);
    CSuperDsp::EvtEstadoDsp(pid, 4, 1);
    CSuperDsp::EvtEstadoDsp(pid, -1, 1);
    CSuperDsp::EvtEstadoDsp(pid + 1, 1, 1);
    EXPECT_EQ(CSuperDsp::DameEstadoDsp(0), 1);
    EXPECT_EQ(CSuperDsp::DameEstadoDsp(1), 0);
    EXPECT_EQ(CSuperDsp::DameEstadoDsp(4), 0);
    EXPECT_EQ(CSuperDsp::DameEstadoDsp(-1), 0);
    CSuperDsp::EvtEstadoDsp(pid, 0, 0);
    EXPECT_EQ(CSuperDsp::DameEstadoDsp(0), 0);
    EXPECT_EQ(CSuperDsp::Inicia(), 0);  // a second call does nothing
    EXPECT_EQ(CSuperDsp::DamePid(), pid);
}

TEST_F(Nucleo, SilentDspServiceIsRestartedAndResourcesLearnItsNewPid) {
    pruebas::InstalaDremson();
    Instala("fonmira");
    ASSERT_EQ(CSuperDsp::Inicia(), 0);
    Arranca(3);
    ASSERT_TRUE(Hasta([] { return CSuperDsp::DamePid() > 0; }, 10));
    int viejo = CSuperDsp::DamePid();
    // Running (its heartbeat announced), then stopped: it falls silent on its channel.
    ASSERT_TRUE(Hasta([] { return aoSupervisorRecurso[3].DamePidHijo() > 0; }, 10));
    ASSERT_TRUE(ServicioAtiende(viejo, aoSupervisorRecurso[3].DamePidHijo()));
    ASSERT_EQ(kill(viejo, SIGSTOP), 0);
    ASSERT_TRUE(Hasta([&] { return CSuperDsp::DamePid() > 0 && CSuperDsp::DamePid() != viejo; }, 40));
    int nuevo = CSuperDsp::DamePid();
    EXPECT_TRUE(Recogido(viejo));
    // The new service runs with the same arguments.
    std::string argumentos;
    ASSERT_TRUE(Hasta([&] {
        argumentos = pruebas::LeeTodo("/proc/" + std::to_string(nuevo) + "/cmdline");
        return argumentos.find("dremson") != std::string::npos;
    }, 10));
    EXPECT_EQ(argumentos, std::string("/usr/bin/dremson\0" "16\0", 20) + std::to_string(getpid()) + std::string(1, '\0'));
    int hijo = aoSupervisorRecurso[3].DamePidHijo();
    ASSERT_GT(hijo, 0);
    EXPECT_TRUE(Hasta([&] {
        return pruebas::LogRecurso(3).find("IPCREC[3]: canal con el servicio DSP " + std::to_string(nuevo) +
                                           " (0), pid " + std::to_string(hijo)) != std::string::npos;
    }, 10));
}

TEST_F(Nucleo, DspServiceThatCannotRunIsReapedAndRelaunched) {
    ASSERT_EQ(CSuperDsp::Inicia(), 0);  // no /usr/bin/dremson
    ASSERT_TRUE(Hasta([] { return CSuperDsp::DamePid() > 0; }, 10));
    int viejo = CSuperDsp::DamePid();
    ASSERT_TRUE(Hasta([&] { return CSuperDsp::DamePid() > 0 && CSuperDsp::DamePid() != viejo; }, 10));
    EXPECT_TRUE(Recogido(viejo));
    EXPECT_GE(CuentaLog("CSUPERDSP: Error 2 ejecutando /usr/bin/dremson. "), 1);
}

// A DSP service that exits at once is reaped and relaunched every second, while a resource
// supervisor keeps sending on the channel being deleted and recreated. The stand-in plays the
// service here: the real one has no way to exit at once.
TEST_F(Nucleo, DspServiceThatExitsAtOnceIsRelaunchedWhileResourcesSendToIt) {
    Instala("dremson");
    Instala("fonmira");
    Modo("dremson", "sale");
    Arranca(7);
    ASSERT_TRUE(Hasta([] { return aoSupervisorRecurso[7].DamePidHijo() > 0; }, 10));
    ASSERT_EQ(CSuperDsp::Inicia(), 0);
    std::atomic<bool> fin{false};
    std::thread envia([&] {
        while (!fin) CSuperDsp::EnviaPidRecurso(7);
    });
    bool relanzado = Hasta([&] { return Lineas("arranque dremson").size() >= 3; }, 15);
    fin = true;
    envia.join();
    EXPECT_TRUE(relanzado);
    for (const auto& a : Lineas("arranque dremson")) {
        if (a.pid != CSuperDsp::DamePid()) {
            EXPECT_TRUE(Recogido(a.pid)) << a.pid;
        }
    }
}

TEST(ProcesoHijo, SignalsAndReapsOnlyOwnLiveChildren) {
    pid_t ajeno = ProcesoAjeno();
    ASSERT_GT(ajeno, 0);
    for (pid_t p : {static_cast<pid_t>(-1), static_cast<pid_t>(0), getpid(), ajeno}) {
        EXPECT_EQ(phMataYRecoge(p), -1) << p;
        EXPECT_EQ(phRecogeSiTermino(p), -1) << p;
    }
    EXPECT_EQ(waitpid(ajeno, nullptr, WNOHANG), 0);

    const char* rutas[] = {"/no/existe", "/bin/sleep"};
    const char* args[] = {"30"};
    ResultadoLanza r = phLanza(rutas, 2, args, 1);
    ASSERT_GT(r.pid, 0);
    EXPECT_EQ(r.aiErrno[0], ENOENT);
    EXPECT_EQ(r.iEjecutada, 1);
    EXPECT_EQ(phRecogeSiTermino(r.pid), 0);
    EXPECT_EQ(phMataYRecoge(r.pid), 0);
    EXPECT_TRUE(kill(r.pid, 0) != 0 && errno == ESRCH);
    EXPECT_EQ(phMataYRecoge(r.pid), -1);  // reaped: never signalled again

    const char* nada[] = {"/no/existe"};
    ResultadoLanza f = phLanza(nada, 1, args, 1);
    ASSERT_GT(f.pid, 0);
    EXPECT_EQ(f.iEjecutada, -1);
    ASSERT_TRUE(Nucleo::Hasta([&] { return phRecogeSiTermino(f.pid) == 1; }, 5));

    TerminaAjeno(ajeno);
}

}  // namespace
