// Faults on the running board: a resource process or the DSP service killed, the DSP falling
// silent, a SIP peer that vanishes in the middle of a call. The board must mend itself and lose
// neither the calls nor the resources of the lines that were not hit.
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "placa_e2e.h"
#include "sipp.h"

namespace {

using namespace e2e;

const char kTrazaSipp[] = "/mnt/ramfs/sipp_mensajes.log";
constexpr int kPuertoAudio = 40000;  // media port of the callers' offers (uac_*.xml)

// The RTP the board sends to the caller's media port.
class CAudioLlamante {
public:
    CAudioLlamante() {
        fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(kPuertoAudio);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) std::perror("bind");
    }
    ~CAudioLlamante() { close(fd); }
    // True when n packets arrive within iMs; iPuertoBoard keeps the sender's port.
    bool Llegan(int n, int iMs) {
        const auto fin = std::chrono::steady_clock::now() + std::chrono::milliseconds(iMs);
        while (n > 0) {
            const auto resta = std::chrono::duration_cast<std::chrono::milliseconds>(fin - std::chrono::steady_clock::now());
            if (resta.count() <= 0) return false;
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(resta.count())) != 1) continue;
            char ac[1500];
            sockaddr_in de{};
            socklen_t l = sizeof de;
            if (recvfrom(fd, ac, sizeof ac, 0, reinterpret_cast<sockaddr*>(&de), &l) >= 12) {
                iPuertoBoard = ntohs(de.sin_port);
                n--;
            }
        }
        return true;
    }
    // True when nothing arrives for iMs (what was queued before is dropped first).
    bool Calla(int iMs) {
        char ac[1500];
        while (recv(fd, ac, sizeof ac, MSG_DONTWAIT) > 0) {
        }
        pollfd p{fd, POLLIN, 0};
        return poll(&p, 1, iMs) == 0;
    }
    int iPuertoBoard = -1;

private:
    int fd = -1;
};

// The pid of the live process whose command line starts with sInicio ("kalvesk 4 "); -1 none.
int PidDe(const std::string& sInicio) {
    int iPid = -1;
    if (DIR* d = opendir("/proc")) {
        while (dirent* e = readdir(d)) {
            const int p = std::atoi(e->d_name);
            if (p > 0 && pruebas::LineaDeOrdenes(p).rfind(sInicio, 0) == 0) iPid = p;
        }
        closedir(d);
    }
    return iPid;
}

// True while some socket is bound to the UDP port.
bool PuertoUdpAbierto(int iPuerto) {
    char hex[8];
    std::snprintf(hex, sizeof hex, ":%04X", iPuerto);
    for (const char* f : {"/proc/net/udp", "/proc/net/udp6"}) {
        std::ifstream in(f);
        std::string l;
        while (std::getline(in, l)) {
            const size_t i = l.find(hex);
            if (i != std::string::npos && i < 40 && l.find(':') < i) return true;
        }
    }
    return false;
}

// Where a log has grown since iAntes (the whole log when it was started again).
std::string::size_type Busca(const std::string& sLog, const std::string& s, size_t iAntes) {
    return sLog.find(s, sLog.size() < iAntes ? 0 : iAntes);
}

class Fallos : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(p.Arranca());
        ASSERT_TRUE(CPlaca::RecursoDice(kTelefono, "CENTTLF[1]:Recurso DSP configurado", 40000)) << p.Informe();
    }
    void TearDown() override {
        if (HasFailure())
            std::printf("%s\nsipp:\n%s\n", p.Informe().c_str(), pruebas::LeeTodo(kTrazaSipp).c_str());
    }
    bool Suena() { return p.placa->Slic(kTelefono).find(" ring=1 ") != std::string::npos; }
    std::unique_ptr<Sipp> Llama(const std::string& sEscenario) {
        return std::make_unique<Sipp>(std::vector<std::string>{"-sf", DirFuente() + sEscenario, "-m", "1", "-s",
                                                               "TLF-01", "-trace_msg", "-message_file", kTrazaSipp,
                                                               "127.0.0.1:5060"});
    }
    // sipp calls the telephone line and the test answers by lifting the handset.
    std::unique_ptr<Sipp> LlamaYDescuelga(const std::string& sEscenario) {
        const size_t iAntes = CPlaca::LogRecurso(kTelefono).size();
        auto sipp = Llama(sEscenario);
        EXPECT_TRUE(pruebas::EsperaQue([&] { return Suena(); }, 40000)) << sipp->Log();
        p.placa->Descuelga(kTelefono);
        // The hardware layer watches the handset 20 s after its start.
        EXPECT_TRUE(LineaDiceDesde(kTelefono, "CENTTLF[1]: Pasa a Conv (1)", iAntes, 40000));
        return sipp;
    }
    static bool LineaDiceDesde(int iRec, const std::string& s, size_t iAntes, int iMs) {
        return pruebas::EsperaQue([&] { return Busca(CPlaca::LogRecurso(iRec), s, iAntes) != std::string::npos; }, iMs);
    }
    static bool NucleoDiceDesde(const std::string& s, size_t iAntes, int iMs) {
        return pruebas::EsperaQue([&] { return Busca(CPlaca::LogNucleo(), s, iAntes) != std::string::npos; }, iMs);
    }
    // Idle again: a new call rings the line and gets the first free session record of the core.
    void LineaLibre() {
        const size_t iAntes = p.consola->Texto().size();
        auto sipp = Llama("../src/fonmira/tests/uac_linea_cuelga.xml");
        EXPECT_TRUE(pruebas::EsperaQue([&] { return Suena(); }, 10000)) << sipp->Log();
        EXPECT_TRUE(pruebas::EsperaQue(
            [&] { return p.consola->Texto().find("CSUPEREC[1]: infosesion=0\n", iAntes) != std::string::npos; }, 5000))
            << p.consola->Texto();
    }
    // A resource or DSP process killed without warning: the core starts a new one.
    int MataYEsperaOtro(const std::string& sInicio) {
        const int iViejo = PidDe(sInicio);
        EXPECT_GT(iViejo, 0) << sInicio;
        if (iViejo <= 0) return -1;
        kill(iViejo, SIGKILL);
        int iNuevo = -1;
        EXPECT_TRUE(pruebas::EsperaQue(
            [&] {
                iNuevo = PidDe(sInicio);
                return iNuevo > 0 && iNuevo != iViejo;
            },
            60000))
            << sInicio;
        return iNuevo;
    }

    CPlaca p;
};

TEST_F(Fallos, KilledHotLineProcessRestartsWhileTheTelephoneCallGoesOn) {
    SOLO_EN_E2E();
    ASSERT_TRUE(CPlaca::RecursoDice(kCaliente, "CENTLC[4]:Recurso DSP configurado", 20000)) << p.Informe();
    CAudioLlamante audio;
    auto sipp = LlamaYDescuelga("uac_espera_bye.xml");
    ASSERT_TRUE(audio.Llegan(10, 5000));
    const size_t iNucleo = CPlaca::LogNucleo().size();
    const size_t iCaliente = CPlaca::LogRecurso(kCaliente).size();

    ASSERT_GT(MataYEsperaOtro("kalvesk 4 "), 0);
    // Registered and configured again.
    EXPECT_TRUE(NucleoDiceDesde("alta en el subsistema SIP nombre nuevorec= LC-01", iNucleo, 30000));
    EXPECT_TRUE(LineaDiceDesde(kCaliente, "CENTLC[4]:Recurso DSP configurado", iCaliente, 30000));

    // The telephone call lived through it: audio still comes, and it ends cleanly.
    EXPECT_TRUE(audio.Llegan(25, 5000));
    EXPECT_EQ(Busca(CPlaca::LogRecurso(kTelefono), "Fin llamada", 0), std::string::npos);
    p.placa->Cuelga(kTelefono);
    EXPECT_EQ(sipp->Espera(30000), 0) << sipp->Log();
    LineaLibre();
}

TEST_F(Fallos, KilledDspServiceRestartsAndTheLinesTakeCallsAgain) {
    const size_t iNucleo = CPlaca::LogNucleo().size();
    const size_t iTelefono = CPlaca::LogRecurso(kTelefono).size();
    ASSERT_GT(MataYEsperaOtro("dremson "), 0);
    EXPECT_TRUE(NucleoDiceDesde("CSUPERDSP: Filicidio PID", iNucleo, 20000));
    EXPECT_TRUE(LineaDiceDesde(kTelefono, "CENTTLF[1]:Recurso DSP configurado", iTelefono, 30000));
    LineaLibre();
}

TEST_F(Fallos, SilentDspIsReportedDownAndComesBack) {
    // The board's one DSP sits in slot 3: the core keeps its state under that number.
    const size_t iNucleo = CPlaca::LogNucleo().size();
    p.placa->Dsp("silencio 1");
    ASSERT_TRUE(NucleoDiceDesde("SUPERDSP: EvtEstadoDsp(3)=0", iNucleo, 10000));
    const size_t iCaida = Busca(CPlaca::LogNucleo(), "SUPERDSP: EvtEstadoDsp(3)=0", iNucleo);
    const size_t iTelefono = CPlaca::LogRecurso(kTelefono).size();
    EXPECT_TRUE(NucleoDiceDesde("SUPERDSP: EvtEstadoDsp(3)=1", iCaida, 20000));
    // The lines lost their DSP channels with the link and take new ones.
    EXPECT_TRUE(LineaDiceDesde(kTelefono, "CENTTLF[1]:Recurso DSP configurado", iTelefono, 20000));
    LineaLibre();
}

TEST_F(Fallos, SessionTimerEndsTheCallOfAVanishedCaller) {
    SOLO_EN_E2E();
    CAudioLlamante audio;
    auto sipp = LlamaYDescuelga("uac_sesion_90.xml");
    ASSERT_TRUE(audio.Llegan(10, 5000));
    const int iPuertoRtp = audio.iPuertoBoard;
    ASSERT_TRUE(PuertoUdpAbierto(iPuertoRtp));
    const auto t0 = std::chrono::steady_clock::now();
    const size_t iTelefono = CPlaca::LogRecurso(kTelefono).size();
    kill(sipp->Pid(), SIGKILL);

    // Session-Expires 90 s, never refreshed.
    EXPECT_TRUE(LineaDiceDesde(kTelefono, "FIN llamada", iTelefono, 150000));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::seconds(60));
    EXPECT_TRUE(audio.Calla(2000));
    EXPECT_TRUE(pruebas::EsperaQue([&] { return !PuertoUdpAbierto(iPuertoRtp); }, 10000)) << iPuertoRtp;
    p.placa->Cuelga(kTelefono);
    EXPECT_TRUE(LineaDiceDesde(kTelefono, "CENTTLF[1]: bucle Abierto(1)", iTelefono, 10000));
    LineaLibre();
}

}  // namespace
