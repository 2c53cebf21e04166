// The dremson program as the core starts it: its command line, the wait for the first resource
// process, its console on TCP 19720, the end when the core falls silent and the liveness byte.
// The test process plays the core (its end of the channel) over the real queue; the DSP is
// the simulated board's. The last test runs the real core, which restarts the service.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cmasterdsp.h"
#include "comun/tests/ficheros_pruebas.h"
#include "comun/tests/proceso_hijo.h"
#include "csimboard.h"
#include "ipc/cola.h"

namespace {

using ficheros_pruebas::LeeTodo;

std::string DirBuild() {
    const char* p = std::getenv("VK_BUILD_DIR");
    return p ? p : ".";
}

bool EsperaQue(const std::function<bool()>& f, int iMs) {
    auto fin = std::chrono::steady_clock::now() + std::chrono::milliseconds(iMs);
    while (std::chrono::steady_clock::now() < fin) {
        if (f()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return f();
}

// What the test's core end receives from the service.
std::mutex gtMutex;
std::vector<std::string> gasRecibidos;  // guarded by gtMutex
void Anota(const std::string& s) {
    std::lock_guard<std::mutex> l(gtMutex);
    gasRecibidos.push_back(s);
}
int Cuenta(const std::string& s) {
    std::lock_guard<std::mutex> l(gtMutex);
    int n = 0;
    for (const auto& r : gasRecibidos) n += r == s;
    return n;
}

// A program run as a child in /mnt/ramfs, its standard output and error in a file.
class CProceso : public pruebas_proceso::CProcesoHijo {
public:
    // iEntrada: descriptor for its standard input (-1: /dev/null); aiHeredados stay open in it.
    void Arranca(const std::string& sPrograma, const std::vector<std::string>& vArgs, const std::string& sSalida,
                 int iEntrada = -1, const std::vector<int>& aiHeredados = {}) {
        std::vector<std::string> v{sPrograma};
        v.insert(v.end(), vArgs.begin(), vArgs.end());
        CProcesoHijo::Arranca(v, sSalida, iEntrada, aiHeredados, "/mnt/ramfs");
    }
    bool SalidaContiene(const std::string& s, int iMs) {
        return EsperaQue([&] { return Salida().find(s) != std::string::npos; }, iMs);
    }
};

std::string Dremson() { return DirBuild() + "/src/dremson/dremson"; }

struct CasoLinea {
    std::vector<std::string> vArgs;
    int iSalida;
    const char* szTexto;
};

TEST(LineaDeOrdenes, VersionNothingOrABadCoreIdEndTheProgramAtOnce) {
    const CasoLinea casos[] = {
        {{}, 1, " Dremson      V0.0.2  (QUARVELD 2017-01-20 09:03:24)\n"},
        {{"16"}, 0, ""},
        {{"/MENUX"}, -1, nullptr},  // stand-alone: runs on
        {{"16", "-1"}, 255, "Error en datos de arranque. PID_VORTIK=-1\n"},
    };
    for (const CasoLinea& c : casos) {
        CProceso p;
        p.Arranca(Dremson(), c.vArgs, "/mnt/ramfs/dremson.out");
        EXPECT_EQ(p.EsperaFin(c.szTexto ? 10000 : 1000), c.iSalida) << (c.vArgs.empty() ? "" : c.vArgs[0]);
        if (c.szTexto) {
            EXPECT_EQ(p.Salida(), c.szTexto);
        }
    }
}

TEST(LineaDeOrdenes, StandAloneModeTakesItsConsoleFromTheStandardInput) {
    auto placa = simboard::CSimBoard::Arranca();
    ASSERT_TRUE(placa);
    int tubo[2];
    ASSERT_EQ(pipe(tubo), 0);
    CProceso p;
    p.Arranca(Dremson(), {"/menu"}, "/mnt/ramfs/dremson.out", tubo[0]);
    close(tubo[0]);
    ASSERT_TRUE(p.SalidaContiene("Build: QUARVELD 2017-01-20 09:03:24\n", 10000)) << p.Salida();
    const std::string s = "h\nQ4\nF\n";
    ASSERT_EQ(write(tubo[1], s.data(), s.size()), static_cast<ssize_t>(s.size()));
    EXPECT_EQ(p.EsperaFin(10000), 0) << p.Salida();
    const std::string sSalida = p.Salida();
    EXPECT_NE(sSalida.find("Escribe \"?\" para la ayuda, anda.\n"), std::string::npos) << sSalida;
    EXPECT_NE(sSalida.find("oDremson.LiberaRecurso( 4 ) = -203\n"), std::string::npos) << sSalida;
    EXPECT_NE(sSalida.find("Parando dremson...\n"), std::string::npos) << sSalida;
    EXPECT_EQ(sSalida.find("DREMSON: Saliendo"), std::string::npos) << sSalida;
    close(tubo[1]);
}

// The service started by the test as its core, with the simulated board and the DSP images.
class Servicio : public ::testing::Test {
protected:
    static constexpr int32_t PID_RECURSO = 50001;
    void SetUp() override {
        {
            std::lock_guard<std::mutex> l(gtMutex);
            gasRecibidos.clear();
        }
        placa = simboard::CSimBoard::Arranca();
        ASSERT_TRUE(placa);
        for (const char* f : {CMasterDsp::FICHERO_FASE1, CMasterDsp::FICHERO_FASE2})
            std::ofstream(f, std::ios::binary) << std::string(1500, '\x5a');
    }
    void Arranca(std::vector<std::string> vExtra = {}, int iEntrada = -1, std::vector<int> aiHeredados = {}) {
        std::vector<std::string> v{"16", std::to_string(getpid())};
        v.insert(v.end(), vExtra.begin(), vExtra.end());
        p.Arranca(Dremson(), v, "/mnt/ramfs/dremson.out", iEntrada, aiHeredados);
        nucleo.reset(new Cola(p.Pid(), COLA_PADRE, 0, static_cast<int32_t>(getpid())));
        nucleo->RegistraEvtSinConfig([](int32_t) { Anota("SinConfig"); });
        nucleo->RegistraEvtEstadoDsp([](int32_t, int32_t d, int32_t e) {
            Anota("EstadoDsp(" + std::to_string(d) + "," + std::to_string(e) + ")");
        });
        nucleo->FijaLatido(2, nullptr);
    }
    // The core's tick: keeps its heartbeat going while the test waits.
    bool EsperaLatiendo(const std::function<bool()>& f, int iMs) {
        auto siguiente = std::chrono::steady_clock::now();
        return EsperaQue([&] {
            if (std::chrono::steady_clock::now() >= siguiente) {
                nucleo->Temporiza(1);
                siguiente += std::chrono::seconds(1);
            }
            return f();
        }, iMs);
    }
    // A resource process announced: the service leaves its start-up wait. Announced after the
    // first "no configuration", as the core does: the service's handlers are in place then.
    void AnunciaRecurso() {
        ASSERT_TRUE(EsperaLatiendo([] { return Cuenta("SinConfig") >= 1; }, 10000));
        nucleo->EnviaCreaCanalHermano(PID_RECURSO, COLA_HERMANO_SERVIDOR);
    }

    std::unique_ptr<simboard::CSimBoard> placa;
    CProceso p;
    std::unique_ptr<Cola> nucleo;
};

TEST_F(Servicio, CoreThatDiesDuringTheStartUpWaitEndsTheService) {
    Arranca();
    ASSERT_TRUE(EsperaQue([] { return Cuenta("SinConfig") >= 2; }, 10000));
    // The core's end stops: no heartbeat any more (limit 6 s, ticked once a second).
    nucleo.reset();
    EXPECT_EQ(p.EsperaFin(20000), 0) << p.Salida();
    const std::string s = p.Salida();
    EXPECT_NE(s.find("DREMSON - A padre muerto, hijo suicida\n"), std::string::npos) << s;
    EXPECT_NE(s.find("DREMSON: Saliendo\n"), std::string::npos) << s;
}

TEST_F(Servicio, CoreThatDiesWhileTheServiceRunsEndsIt) {
    Arranca();
    ASSERT_TRUE(EsperaLatiendo([] { return Cuenta("EstadoDsp(3,1)") >= 1; }, 10000));
    AnunciaRecurso();
    int n = Cuenta("SinConfig");
    // Announced: no more "no configuration" once the announcement is handled.
    EXPECT_FALSE(EsperaLatiendo([&] { return Cuenta("SinConfig") > n + 1; }, 2500));
    nucleo.reset();
    EXPECT_EQ(p.EsperaFin(30000), 0) << p.Salida();
    EXPECT_NE(p.Salida().find("DREMSON: Saliendo\n"), std::string::npos);
}

// A TCP client of the console: lines as a terminal sends them (text, line end, NUL).
class CConsola {
public:
    bool Conecta(int iMs) {
        return EsperaQue([&] {
            fd = socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in d{};
            d.sin_family = AF_INET;
            d.sin_port = htons(19720);
            d.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (connect(fd, reinterpret_cast<sockaddr*>(&d), sizeof d) == 0) return true;
            close(fd);
            fd = -1;
            return false;
        }, iMs);
    }
    ~CConsola() {
        if (fd >= 0) close(fd);
    }
    void Envia(const std::string& s) {
        std::string m = s + "\n";
        send(fd, m.c_str(), m.size() + 1, MSG_NOSIGNAL);
    }
    // Reads until the text arrives; everything read is kept, the text and what precedes it consumed.
    bool Espera(const std::string& s, int iMs = 5000) {
        auto fin = std::chrono::steady_clock::now() + std::chrono::milliseconds(iMs);
        for (;;) {
            size_t i = sRecibido.find(s);
            if (i != std::string::npos) {
                sRecibido.erase(0, i + s.size());
                return true;
            }
            int ms = static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(fin - std::chrono::steady_clock::now()).count());
            if (ms <= 0) return false;
            pollfd pf{fd, POLLIN, 0};
            if (poll(&pf, 1, ms) != 1) return false;
            char ac[512];
            ssize_t r = recv(fd, ac, sizeof ac, 0);
            if (r <= 0) return false;
            for (ssize_t k = 0; k < r; k++)
                if (ac[k] != '\0') sRecibido += ac[k];
        }
    }
    std::string sRecibido;
    int fd = -1;
};

TEST_F(Servicio, ConsoleCommandsOverTcp) {
    Arranca();
    ASSERT_TRUE(EsperaLatiendo([] { return Cuenta("EstadoDsp(3,1)") >= 1; }, 10000));
    AnunciaRecurso();
    CConsola c;
    ASSERT_TRUE(c.Conecta(5000));
    c.Envia("?");
    ASSERT_TRUE(c.Espera("   \"N\"        -> Arranca nuevo recurso.\n")) << c.sRecibido;
    c.Envia("N");
    ASSERT_TRUE(c.Espera("ID HOST que se desea asignar al recurso:\n"));
    c.Envia("7");
    ASSERT_TRUE(c.Espera("oDremson.ArrancaRecurso( 7 ) = 0\n")) << c.sRecibido;
    placa->Dsp("borra");
    c.Envia("P7");
    ASSERT_TRUE(c.Espera(" 0=Ninguno  1=LCEN  3=R2(A)  4=R2(B)  5=N5(A)  6=N5(B)\nProtocolo de linea:\n"));
    c.Envia("1");
    EXPECT_TRUE(c.Espera("oDremson.TomaProtocolo(7,1)=0\n"));
    // An empty line repeats the command with its dialog.
    c.Envia("");
    ASSERT_TRUE(c.Espera("Protocolo de linea:\n"));
    c.Envia("3");
    EXPECT_TRUE(c.Espera("oDremson.TomaProtocolo(7,3)=0\n"));
    // The hot-line block: every prompt left empty sends the proposed values.
    c.Envia("SL7");
    for (int i = 0; i < 22; i++) {
        ASSERT_TRUE(c.Espera("]\n")) << i;
        c.Envia("");
    }
    EXPECT_TRUE(c.Espera(" oDremson.TomaConfigLCEN( 7,....)=0\n")) << c.sRecibido;
    c.Envia("T7");
    for (const char* s : {"1", "2", "3", "4"}) {
        ASSERT_TRUE(c.Espera(":\n"));
        c.Envia(s);
    }
    EXPECT_TRUE(c.Espera("oDremson.TomaCanalHostRx(4)=0\n")) << c.sRecibido << p.Salida();
    c.Envia("D7");
    ASSERT_TRUE(c.Espera("Digitos:\n"));
    c.Envia("1*#A");
    EXPECT_TRUE(c.Espera("oDremson.MarcaDtmf(4, ...)=0\n")) << c.sRecibido;
    const std::vector<std::string> vComandos = {
        "9: 10 01 00 00 01", "9: 10 01 00 00 03",
        "52: 2c 01 00 00 f6 ff ce ff 14 00 64 00 14 00 e8 03 28 00 28 00 a0 00 3c 00 64 00 88 13 70 17 50 00 96 00 "
        "28 00 3c 00 14 00 82 00 14 00 82 00 c8 00",
        "9: 05 00 00 00 01", "9: 06 00 00 00 02", "9: 07 00 00 00 03", "9: 08 00 00 00 04",
        "13: 1b 01 00 00 04 01 0a 0b 0c"};
    std::vector<std::string> vRecibidos;
    std::istringstream is(placa->Dsp("comandos"));
    for (std::string l; std::getline(is, l);) vRecibidos.push_back(l);
    EXPECT_EQ(vRecibidos, vComandos);
    // Busy as the automatic answer: an incoming call gets it at once.
    placa->Dsp("borra");
    c.Envia("RO7");
    c.Envia("?");
    ASSERT_TRUE(c.Espera("Build: "));
    placa->Dsp("evento 0 entrante 1 12 34");
    EXPECT_TRUE(EsperaQue([&] { return placa->Dsp("comandos") == "8: 25 01 00 00\n"; }, 5000));
    c.Envia("Q7");
    EXPECT_TRUE(c.Espera("oDremson.LiberaRecurso( 7 ) = 0\n"));
    c.Envia("Q7");
    EXPECT_TRUE(c.Espera("oDremson.LiberaRecurso( 7 ) = -203\n"));
    c.Envia("f");
    EXPECT_TRUE(c.Espera("Escribe \"?\" para la ayuda, anda.\n"));
    uint32_t uiResets = placa->PulsosResetDsp();
    c.Envia("Z");
    EXPECT_TRUE(EsperaQue([&] { return placa->PulsosResetDsp() > uiResets; }, 5000));
    c.Envia("F");
    EXPECT_TRUE(c.Espera("Parando dremson...\n"));
    EXPECT_EQ(p.EsperaFin(10000), 0);
    EXPECT_NE(p.Salida().find("DREMSON: Saliendo\n"), std::string::npos);
}

TEST_F(Servicio, LivenessByteGoesOnlyToTheDescriptorHandedOver) {
    int aiEntrada[2], aiVivo[2];
    ASSERT_EQ(pipe(aiEntrada), 0);
    ASSERT_EQ(pipe(aiVivo), 0);
    // Its standard input is a pipe it could write to: nothing may arrive there.
    Arranca({std::to_string(aiVivo[1])}, aiEntrada[1], {aiVivo[1]});
    close(aiEntrada[1]);
    close(aiVivo[1]);
    AnunciaRecurso();
    // The first watchdog check comes 20 s into the main loop.
    auto HayByte = [](int fd) {
        pollfd pf{fd, POLLIN, 0};
        return poll(&pf, 1, 0) == 1;
    };
    ASSERT_TRUE(EsperaLatiendo([&] { return HayByte(aiVivo[0]); }, 40000)) << p.Salida();
    uint8_t b = 1;
    EXPECT_EQ(read(aiVivo[0], &b, 1), 1);
    EXPECT_EQ(b, 0);
    EXPECT_FALSE(HayByte(aiEntrada[0]));
    EXPECT_TRUE(p.Vivo());
    close(aiEntrada[0]);
    close(aiVivo[0]);
}

// The real core with the real service; the other programs are the stand-in.
TEST(NucleoReal, KilledOrSilentServiceIsRestartedAndTheDspLinkComesBack) {
    auto placa = simboard::CSimBoard::Arranca();
    ASSERT_TRUE(placa);
    for (const char* f : {CMasterDsp::FICHERO_FASE1, CMasterDsp::FICHERO_FASE2})
        std::ofstream(f, std::ios::binary) << std::string(2000, '\x33');
    const std::string sStandin = DirBuild() + "/sim/standin/standin";
    for (const char* n : {"lintaro", "fonmira", "kalvesk", "sopwent", "norbeck", "plenwat", "tuskev"}) {
        std::string d = std::string("/usr/bin/") + n;
        unlink(d.c_str());
        ASSERT_EQ(symlink(sStandin.c_str(), d.c_str()), 0);
    }
    unlink("/usr/bin/dremson");
    ASSERT_EQ(symlink(Dremson().c_str(), "/usr/bin/dremson"), 0);
    mkdir("/mnt/ramfs/standin", 0755);
    setenv("VK_STANDIN_DIR", "/mnt/ramfs/standin", 1);
    mkdir("/mnt/ramfs/var", 0755);
    CProceso nucleo;
    nucleo.Arranca(DirBuild() + "/src/vortik/velkord", {}, "/mnt/ramfs/velkord.out");
    auto Enlaces = [&] {
        const std::string s = nucleo.Salida();
        int n = 0;
        for (size_t i = s.find("SUPERDSP: EvtEstadoDsp(3)=1"); i != std::string::npos;
             i = s.find("SUPERDSP: EvtEstadoDsp(3)=1", i + 1))
            n++;
        return n;
    };
    // The service's pid, from its thread trace file.
    auto PidServicio = [] {
        const std::string s = LeeTodo("/var/dremson.pid");
        size_t i = s.find(" -> maindsp");
        return i == std::string::npos ? -1 : std::atoi(s.c_str() + 5);
    };
    ASSERT_TRUE(EsperaQue([&] { return Enlaces() >= 1 && PidServicio() > 0; }, 20000)) << nucleo.Salida();
    const int iPrimero = PidServicio();
    ASSERT_EQ(kill(iPrimero, SIGKILL), 0);
    ASSERT_TRUE(EsperaQue([&] { return Enlaces() >= 2 && PidServicio() > 0 && PidServicio() != iPrimero; }, 20000))
        << nucleo.Salida();
    // Stopped: its channel falls silent.
    const int iSegundo = PidServicio();
    ASSERT_EQ(kill(iSegundo, SIGSTOP), 0);
    ASSERT_TRUE(EsperaQue([&] { return Enlaces() >= 3 && PidServicio() > 0 && PidServicio() != iSegundo; }, 40000))
        << nucleo.Salida();
    EXPECT_NE(kill(iPrimero, 0), 0);
    EXPECT_NE(kill(iSegundo, 0), 0);
    EXPECT_TRUE(nucleo.Vivo());
}

}  // namespace
