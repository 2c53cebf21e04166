#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "red/cudpsocket.h"
#include "red/histclient.h"

namespace {

std::string Programa() {
    const char* d = getenv("VK_BUILD_DIR");
    return std::string(d ? d : ".") + "/sim/snmpagent/snmpagent";
}

// The stand-in running as a child, its standard output on a pipe.
class Agente {
public:
    explicit Agente(std::vector<std::string> vArgs) {
        int aiTubo[2];
        EXPECT_EQ(pipe(aiTubo), 0);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, aiTubo[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&fa, aiTubo[0]);
        std::string sProg = Programa();
        std::vector<char*> argv{&sProg[0]};
        for (auto& s : vArgs) argv.push_back(&s[0]);
        argv.push_back(nullptr);
        EXPECT_EQ(posix_spawn(&iPid, sProg.c_str(), &fa, nullptr, argv.data(), environ), 0) << sProg;
        posix_spawn_file_actions_destroy(&fa);
        close(aiTubo[1]);
        iSalida = aiTubo[0];
    }
    ~Agente() {
        kill(iPid, SIGTERM);
        waitpid(iPid, nullptr, 0);
        close(iSalida);
    }
    // Next output line (without its line feed), empty after iMs without one.
    std::string Linea(int iMs = 3000) {
        for (;;) {
            size_t p = sBuffer.find('\n');
            if (p != std::string::npos) {
                std::string s = sBuffer.substr(0, p);
                sBuffer.erase(0, p + 1);
                return s;
            }
            pollfd pf = {iSalida, POLLIN, 0};
            if (poll(&pf, 1, iMs) <= 0) return "";
            char ac[4096];
            ssize_t n = read(iSalida, ac, sizeof ac);
            if (n <= 0) return "";
            sBuffer.append(ac, static_cast<size_t>(n));
        }
    }
    int Fin() {
        int st = 0;
        waitpid(iPid, &st, 0);
        iPid = -1;
        return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    }

private:
    pid_t iPid = -1;
    int iSalida = -1;
    std::string sBuffer;
};

std::string Texto(const std::string& sLinea) { return sLinea.size() > 13 ? sLinea.substr(13) : ""; }

TEST(SnmpAgent, PrintsEveryRecordWithItsTime) {
    Agente oAgente({});
    // Probe until the agent listens.
    CUDPSocket oSonda;
    std::string s;
    for (int i = 0; i < 100 && s.empty(); ++i) {
        oSonda.SendTo("sonda", 5, CSocketAddress("127.0.0.1", HistClient::PUERTO_AGENTE));
        s = oAgente.Linea(50);
    }
    ASSERT_EQ(Texto(s), "sonda");
    while (!oAgente.Linea(100).empty()) {
    }

    HistClient oCliente;
    oCliente.FijaPausaMs(1);
    oCliente.AnadeHistorico(3, "a", "b", "c", "d");
    oCliente.EncolaN08(false);
    oCliente.Start();
    std::string l1 = oAgente.Linea(), l2 = oAgente.Linea();
    oCliente.Para();
    oCliente.Espera();
    EXPECT_TRUE(std::regex_match(l1, std::regex(R"(\d\d:\d\d:\d\d\.\d\d\d V,H00,3,a:b:c:d)"))) << l1;
    EXPECT_EQ(Texto(l2), "C,N08,1");
}

std::atomic<int> gComandos{0};
std::string gUltimo;
void Recoge(int, const char* sz) {
    gUltimo = sz;
    ++gComandos;
}

TEST(SnmpAgent, SendDeliversCommandToCorePort) {
    HistClient oCore(true);
    oCore.TomaCallbackRx(Recoge);
    oCore.Start();
    // The core's client binds its port once its thread runs.
    for (int i = 0; i < 50 && gComandos == 0; ++i) {
        Agente oEnvia({"send", "A,T00"});
        EXPECT_EQ(oEnvia.Fin(), 0);
        for (int j = 0; j < 20 && gComandos == 0; ++j) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    oCore.Para();
    oCore.Espera();
    ASSERT_GT(gComandos.load(), 0);
    EXPECT_EQ(gUltimo, "A,T00");
}

TEST(SnmpAgent, SendWithTimePrintsTheAnswers) {
    CUDPSocket oCore(CSocketAddress("127.0.0.1", HistClient::PUERTO_MANT));
    Agente oAgente({"send", "A,T10", "3000"});
    char ac[64] = {};
    ASSERT_TRUE(oCore.WaitRead(3000));
    CSocketAddress oOrigen;
    ASSERT_EQ(oCore.RecvFrom(ac, sizeof ac, &oOrigen), 5);
    EXPECT_STREQ(ac, "A,T10");
    EXPECT_EQ(oOrigen.Port(), HistClient::PUERTO_AGENTE);
    const char kRespuesta[] = "V,R00,Estado: 1\nSlots: 1\n";
    oCore.SendTo(kRespuesta, sizeof kRespuesta - 1, CSocketAddress("127.0.0.1", HistClient::PUERTO_AGENTE));
    EXPECT_EQ(Texto(oAgente.Linea()), "V,R00,Estado: 1");
    EXPECT_EQ(oAgente.Linea(), "Slots: 1");
}

}  // namespace
