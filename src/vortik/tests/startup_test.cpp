// The core's start-up contract as its parent sees it: the version switch, the pipe bytes, the
// thread trace file, the signals, and what its children inherit.
#include <sys/socket.h>
#include <sys/syscall.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include "csimboard.h"
#include "mainvortik.h"
#include "nucleo_proceso.h"
#include "nucleo_pruebas.h"

namespace {

using pruebas::CNucleo;
using pruebas::EsperaQue;

class Arranque : public ::testing::Test {
protected:
    void SetUp() override {
        placa = simboard::CSimBoard::Arranca();
        ASSERT_TRUE(placa);
        pruebas::InstalaProgramas();
    }
    std::unique_ptr<simboard::CSimBoard> placa;
    CNucleo nucleo;
};

TEST_F(Arranque, VersionSwitchPrintsTheVersionAndExitsWithoutALog) {
    for (const char* s : {"/V", "/v"}) {
        CNucleo n;
        n.Arranca({s});
        EXPECT_EQ(n.EsperaFin(5000), 255);
        EXPECT_EQ(n.Salida(), " zq4m-qln   V1.0.0 (QUARVELD 2017-01-20 09:03:24)\n");
    }
    EXPECT_NE(access("/var/velkord.pid", F_OK), 0);
    EXPECT_NE(access("/mnt/ramfs/plog.csv", F_OK), 0);
}

TEST(Argumentos, SwitchesPipeAndIgnoredFirstArgument) {
    struct {
        std::vector<const char*> v;
        int iTubo;
        uint32_t uiNivel;
        int iVersion;
    } const casos[] = {
        {{"velkord", "7"}, 7, 0, 0},
        {{"velkord", "/V"}, -1, 0, 1},
        {{"velkord", "/Vx"}, 0, 0, 0},  // not a switch: read as a descriptor
        {{"velkord", "/CONSOLA:ff"}, -1, 0xFF, 0},
        {{"velkord", "/consola:8000"}, -1, 0x8000, 0},
        {{"velkord", "7", "/CONSOLA:ff"}, -1, 0xFF, 0},
        {{"velkord", "/V", "7"}, -1, 0, 0},
        {{"velkord"}, -1, 0, 0},
    };
    for (const auto& c : casos) {
        ArgumentosPasarela a;
        LeeArgumentos(static_cast<int>(c.v.size()), const_cast<char**>(c.v.data()), &a);
        EXPECT_EQ(a.iTubo, c.iTubo) << c.v.back();
        EXPECT_EQ(a.uiNivelConsola, c.uiNivel) << c.v.back();
        EXPECT_EQ(a.ucVersion, c.iVersion) << c.v.back();
    }
}

TEST_F(Arranque, PipeGetsTheStartUpBytesThenOneOrMorePerPass) {
    nucleo.Arranca({"@"}, true);
    auto v = nucleo.LeeTubo(6000);
    ASSERT_GE(v.size(), 12u);
    std::string sTiempos;
    for (const auto& b : v) sTiempos += std::to_string(b.first) + " ";
    SCOPED_TRACE(sTiempos);
    for (const auto& b : v) EXPECT_EQ(b.second, 0);
    // Start-up: four bytes in its stages, one when the multicast reception starts (the
    // built-in configuration runs in system mode 0) and one after it. The loop then sleeps
    // 250 ms, writes its own byte and at once that of its first pass, then passes 250 ms apart.
    EXPECT_GE(v[6].first - v[5].first, 240);
    EXPECT_LT(v[7].first - v[6].first, 150);
    EXPECT_GE(v[8].first - v[7].first, 240);
    // Two and a half seconds of passes: ten passes and one or two sub-period bytes.
    int n = 0;
    for (const auto& b : v)
        if (b.first > v[7].first && b.first <= v[7].first + 2500) n++;
    EXPECT_GE(n, 7);  // fewer when a loaded machine delays the passes
    EXPECT_LE(n, 13);
    EXPECT_TRUE(nucleo.Vivo());
}

TEST_F(Arranque, TraceFileStartsWithTheMainThreadOfTheCore) {
    nucleo.Arranca({});
    ASSERT_TRUE(nucleo.SalidaContiene("Vortik QLN arrancado", 10000));
    const std::string s = pruebas::LeeTodo("/var/velkord.pid");
    EXPECT_EQ(s.rfind(" PID " + std::to_string(nucleo.Pid()) + " -> main (0) \t- src/vortik/main\n", 0), 0u) << s;
    // The supervisor threads write their lines as they start.
    EXPECT_TRUE(EsperaQue(
        [] {
            return pruebas::LeeTodo("/var/velkord.pid").find(" -> Supervisor proceso (15) \t- src/vortik/csuperec\n") !=
                   std::string::npos;
        },
        5000));
}

TEST_F(Arranque, WithTwoArgumentsTheFirstIsNotReadAsThePipe) {
    nucleo.Arranca({"@", "/CONSOLA:ff"}, true);
    ASSERT_TRUE(nucleo.SalidaContiene("MAIN: Consola en el puerto 19710 con nivel ff", 10000));
    EXPECT_TRUE(nucleo.LeeTubo(1500).empty());
    EXPECT_TRUE(nucleo.Vivo());
}

TEST_F(Arranque, SigtermEndsTheCoreFromTheSignalThread) {
    nucleo.Arranca({});
    ASSERT_TRUE(nucleo.SalidaContiene("Vortik QLN arrancado", 10000));
    kill(nucleo.Pid(), SIGTERM);
    EXPECT_EQ(nucleo.EsperaFin(6000), 0);
    EXPECT_NE(nucleo.Salida().find("mainGestorSenales SIGTERM 15"), std::string::npos);
}

// A stop that was asked for is a success for the parent; faults and unexpected signals are not.
TEST_F(Arranque, RequestedStopsEndTheCoreWithStatusZero) {
    struct {
        const char* szNombre;
        int (*fPide)(pid_t);  // a console connection to close afterwards, or -1
        const char* szLinea;
    } const casos[] = {
        {"SIGINT", [](pid_t p) { return kill(p, SIGINT) * 0 - 1; }, "mainGestorSenales SIGINT 2"},
        {"consola F",
         [](pid_t) {
             sockaddr_in a{};
             a.sin_family = AF_INET;
             a.sin_port = htons(19710);
             a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
             // The console starts listening a little after the banner: try until it answers.
             int s = -1;
             for (int i = 0; i < 200 && s < 0; ++i) {
                 s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
                 if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
                     close(s);
                     s = -1;
                     usleep(50000);
                 }
             }
             const char ac[] = "F";  // a terminal's line: the text and a NUL
             if (s < 0 || send(s, ac, sizeof ac, 0) < 0) std::perror("consola");
             return s;
         },
         "MAIN: ---------------- Sale de MAinSupervisorLento"},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.szNombre);
        CNucleo n;
        n.Arranca({});
        ASSERT_TRUE(n.SalidaContiene("Vortik QLN arrancado", 10000));
        const int iConexion = c.fPide(n.Pid());
        EXPECT_EQ(n.EsperaFin(6000), 0);
        EXPECT_NE(n.Salida().find(c.szLinea), std::string::npos);
        if (iConexion >= 0) close(iConexion);
    }
}

TEST_F(Arranque, UnexpectedSignalEndsTheCoreButSigpipeSigchldAndWindowChangesDoNot) {
    nucleo.Arranca({});
    ASSERT_TRUE(nucleo.SalidaContiene("Vortik QLN arrancado", 10000));
    kill(nucleo.Pid(), SIGPIPE);
    kill(nucleo.Pid(), SIGCHLD);
    kill(nucleo.Pid(), SIGWINCH);
    kill(nucleo.Pid(), SIGURG);
    EXPECT_EQ(nucleo.EsperaFin(700), -1);
    kill(nucleo.Pid(), SIGHUP);
    EXPECT_EQ(nucleo.EsperaFin(3000), 255);
    EXPECT_NE(nucleo.Salida().find("Recibida Señal 1..."), std::string::npos);
}

TEST_F(Arranque, SegmentationFaultIsReportedWithItsBacktraceThenTheCoreEnds) {
    nucleo.Arranca({});
    ASSERT_TRUE(nucleo.SalidaContiene("Vortik QLN arrancado", 10000));
    kill(nucleo.Pid(), SIGSEGV);
    EXPECT_EQ(nucleo.EsperaFin(6000), 255);
    const std::string s = nucleo.Salida();
    EXPECT_NE(s.find("********* SEGMENTATION FAULT *********"), std::string::npos);
    EXPECT_NE(s.find("BACKTRACE:"), std::string::npos);
}

TEST_F(Arranque, RoleSignalsAreServedByTheLoop) {
    pruebas::CAgenteSnmp agente;
    nucleo.Arranca({});
    ASSERT_TRUE(nucleo.SalidaContiene("Vortik QLN arrancado", 10000));
    EXPECT_EQ(agente.Espera("V,N04", 3000), "V,N04,1,2");  // principal from the start
    kill(nucleo.Pid(), SIGUSR2);
    EXPECT_EQ(agente.Espera("V,N04", 3000), "V,N04,2,1");
    kill(nucleo.Pid(), SIGUSR1);
    EXPECT_EQ(agente.Espera("V,N04", 3000), "V,N04,1,2");
    EXPECT_TRUE(nucleo.Vivo());
}

TEST_F(Arranque, ConsoleClientThatGoesAwayDoesNotEndTheCore) {
    nucleo.Arranca({});
    ASSERT_TRUE(nucleo.SalidaContiene("Vortik QLN arrancado", 10000));
    for (int i = 0; i < 3; i++) {
        int s = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(19710);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        const char ac[] = "X\n";
        ASSERT_EQ(send(s, ac, sizeof ac, 0), static_cast<ssize_t>(sizeof ac));
        close(s);
    }
    // The answer and the keep-alive bytes go to closed connections.
    EXPECT_EQ(nucleo.EsperaFin(3000), -1);
}

TEST_F(Arranque, BusyConsolePortIsRetriedOnTheFixedPortWhateverTheConfiguredOne) {
    {
        std::ofstream f("/mnt/ramfs/descripcion.ini");
        f << "[GENERAL]\nszNombre=PASARELA-PRUEBA\niPuertoConsola=19999\niDual=0\n";
    }
    const std::string sAgente = pruebas::DirBuild() + "/sim/cfgagent/cfgagent escribe /mnt/ramfs/descripcion.ini --sin-senal";
    ASSERT_EQ(std::system(sAgente.c_str()), 0);
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);  // not inherited by the core
    int uno = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &uno, sizeof uno);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(19710);
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(s, 1), 0);
    nucleo.Arranca({});
    ASSERT_TRUE(nucleo.SalidaContiene("MAIN: Puerto consola 19999 - cambiado a 19710", 10000));
    ASSERT_TRUE(nucleo.SalidaContiene("MAIN-zq4m-qln: Error -3 en tcpcInicia(19710)", 10000));
    close(s);
    EXPECT_TRUE(nucleo.SalidaContiene("MAIN-: tcpcInicia(19710) ok", 5000)) << nucleo.Salida();
    int c = socket(AF_INET, SOCK_STREAM, 0);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    close(c);
}

// The core as a launcher started through posix_spawn, system() or popen() leaves it: with the
// C library's own signal 32 ignored, which its sigaction cannot undo.
void IgnoraSenal32(bool bIgnora) {
    unsigned long alAccion[8] = {};
    alAccion[0] = bIgnora ? reinterpret_cast<unsigned long>(SIG_IGN) : 0;  // handler comes first here
    ASSERT_EQ(syscall(SYS_rt_sigaction, 32, alAccion, nullptr, _NSIG / 8), 0);
}

TEST_F(Arranque, ChildrenInheritNeitherDescriptorsNorBlockedSignals) {
    IgnoraSenal32(true);
    nucleo.Arranca({"@"}, true);
    IgnoraSenal32(false);
    const std::string sNucleo = pruebas::LeeTodo("/proc/" + std::to_string(nucleo.Pid()) + "/status");
    const size_t iIgn = sNucleo.find("SigIgn:\t");
    ASSERT_NE(iIgn, std::string::npos);
    ASSERT_TRUE(std::strtoull(sNucleo.c_str() + iIgn + 8, nullptr, 16) & (1ULL << 31)) << sNucleo;
    const std::string sDiario = "/mnt/ramfs/standin/diario";
    ASSERT_TRUE(EsperaQue([&] { return pruebas::LeeTodo(sDiario).find(" senales ") != std::string::npos; }, 10000));
    std::istringstream is(pruebas::LeeTodo(sDiario));
    std::string sLinea;
    int iHijo = -1;
    while (std::getline(is, sLinea)) {
        std::istringstream l(sLinea);
        int pid;
        std::string sQue, sFds;
        l >> pid >> sQue >> sFds;
        if (sQue == "fds") {
            EXPECT_EQ(sFds, "-") << sLinea;
        }
        // The masks as the child saw them on entry (its line follows "fds"): read later from
        // /proc, they may catch the child inside pthread_create, which blocks every signal.
        if (sQue == "senales") {
            EXPECT_EQ(sLinea, std::to_string(pid) + " senales 0000000000000000 0000000000000000");
            iHijo = pid;
        }
    }
    ASSERT_GT(iHijo, 0);
}

}  // namespace
