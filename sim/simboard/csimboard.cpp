#include "csimboard.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "hardware/cdispositivos.h"
#include "hardware/cdispositivossim.h"

namespace simboard {

namespace {
std::string ProgramaDaemon() {
    const char* szBuild = std::getenv("VK_BUILD_DIR");
    if (szBuild && *szBuild) return std::string(szBuild) + "/sim/simboard/simboard";
    // Beside the running program, or in the build tree's sim/ from a sibling folder (bench/).
    char ac[4096];
    ssize_t n = readlink("/proc/self/exe", ac, sizeof(ac) - 1);
    std::string s = n > 0 ? std::string(ac, static_cast<size_t>(n)) : std::string();
    std::string sDir = s.substr(0, s.rfind('/') + 1);
    for (const std::string& c : {sDir + "simboard", sDir + "../sim/simboard/simboard"})
        if (access(c.c_str(), X_OK) == 0) return c;
    return sDir + "simboard";
}
}  // namespace

CSimBoard::CSimBoard(const std::string& sSocketPlaca) : sSocket(sSocketPlaca), pCliente(new CDispositivosSim(sSocketPlaca)) {}

CSimBoard::~CSimBoard() {
    pCliente.reset();
    if (iPid > 0) {
        kill(iPid, SIGTERM);
        bool bRecogido = false;
        for (int i = 0; i < 2000 && !bRecogido; i++) {
            bRecogido = waitpid(iPid, nullptr, WNOHANG) == iPid;
            if (!bRecogido) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (!bRecogido) {
            kill(iPid, SIGKILL);
            waitpid(iPid, nullptr, 0);
        }
    }
}

std::unique_ptr<CSimBoard> CSimBoard::Arranca(const std::string& sSocket) {
    std::string sPrograma = ProgramaDaemon();
    pid_t iPadre = getpid();
    pid_t pid = fork();
    if (pid < 0) return nullptr;
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);  // never outlive the test that started it
        if (getppid() != iPadre) _exit(1);
        execl(sPrograma.c_str(), "simboard", sSocket.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    setenv(VK_SIMBOARD, sSocket.c_str(), 1);
    std::unique_ptr<CSimBoard> p(new CSimBoard(sSocket));
    p->iPid = pid;
    auto tLimite = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    std::string s;
    while (p->pCliente->Control("tick", &s) < 0) {
        if (std::chrono::steady_clock::now() > tLimite || waitpid(pid, nullptr, WNOHANG) == pid) return nullptr;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return p;
}

std::string CSimBoard::Orden(const std::string& sOrden) {
    std::string s;
    if (pCliente->Control(sOrden, &s) < 0) throw std::runtime_error("simboard: " + sOrden + ": " + s);
    return s;
}

uint32_t CSimBoard::Valor(const std::string& sOrden) {
    return static_cast<uint32_t>(std::stoull(Orden(sOrden), nullptr, 0));
}

std::vector<uint32_t> CSimBoard::Lista(const std::string& sOrden) {
    std::istringstream is(Orden(sOrden));
    std::vector<uint32_t> v;
    for (uint32_t x; is >> x;) v.push_back(x);
    return v;
}

std::vector<uint32_t> CSimBoard::Leds() { return Lista("leds"); }

std::string CSimBoard::Comandos() const {
    std::ifstream f(sSocket + ".comandos");
    return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

}  // namespace simboard
