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

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "placa_e2e.h"
#include "sipp.h"

namespace {

using namespace e2e;

const char kTrazaSipp[] = "/mnt/ramfs/sipp_mensajes.log";
constexpr int kPuertoAudio = 40000;  // media port of the callers' offers (uac_*.xml)
constexpr int kPuertoAgenteSnmp = 65000;  // where the core sends its event records

// What the board sends to one UDP port of the test: the RTP to the caller's media port, the
// records to the SNMP agent's port.
class CReceptorUdp {
public:
    explicit CReceptorUdp(int iPuerto = kPuertoAudio) {
        fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(iPuerto);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) std::perror("bind");
    }
    ~CReceptorUdp() { close(fd); }
    // True when n datagrams of at least iMin bytes (12: an RTP header) arrive within iMs;
    // iPuertoBoard keeps the sender's port, sRecibido what they carried.
    bool Llegan(int n, int iMs, ssize_t iMin = 12) {
        return Espera(iMs, [&](const char*, ssize_t l) { return l >= iMin && --n == 0; });
    }
    // True when a datagram carrying s arrives within iMs.
    bool LlegaTexto(const std::string& s, int iMs) {
        return Espera(iMs, [&](const char* ac, ssize_t l) { return std::string(ac, l).find(s) != std::string::npos; });
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
    std::string sRecibido;

private:
    template <typename F>
    bool Espera(int iMs, F fBasta) {
        const auto fin = std::chrono::steady_clock::now() + std::chrono::milliseconds(iMs);
        for (;;) {
            const auto resta = std::chrono::duration_cast<std::chrono::milliseconds>(fin - std::chrono::steady_clock::now());
            if (resta.count() <= 0) return false;
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(resta.count())) != 1) continue;
            char ac[1500];
            sockaddr_in de{};
            socklen_t l = sizeof de;
            const ssize_t n = recvfrom(fd, ac, sizeof ac, 0, reinterpret_cast<sockaddr*>(&de), &l);
            if (n < 0) continue;
            iPuertoBoard = ntohs(de.sin_port);
            if (sRecibido.size() < 100000) sRecibido.append(ac, n).append("\n");
            if (fBasta(ac, n)) return true;
        }
    }
    int fd = -1;
};

// The live processes whose command line starts with sInicio ("kalvesk 4 ").
std::vector<int> Procesos(const std::string& sInicio) {
    std::vector<int> v;
    if (DIR* d = opendir("/proc")) {
        while (dirent* e = readdir(d)) {
            const int p = std::atoi(e->d_name);
            if (p > 0 && pruebas::LineaDeOrdenes(p).rfind(sInicio, 0) == 0) v.push_back(p);
        }
        closedir(d);
    }
    return v;
}
// Open descriptors of a process, one "fd -> what" a line.
std::string ListaDescriptores(int iPid) {
    std::string s;
    const std::string sDir = "/proc/" + std::to_string(iPid) + "/fd/";
    if (DIR* d = opendir(sDir.c_str())) {
        while (dirent* e = readdir(d)) {
            if (e->d_name[0] == '.') continue;
            char ac[256];
            const ssize_t n = readlink((sDir + e->d_name).c_str(), ac, sizeof ac - 1);
            s += std::string(e->d_name) + " -> " + std::string(ac, n > 0 ? n : 0) + "\n";
        }
        closedir(d);
    }
    return s;
}
int Descriptores(int iPid) {
    const std::string s = ListaDescriptores(iPid);
    return static_cast<int>(std::count(s.begin(), s.end(), '\n'));
}
int PidDe(const std::string& sInicio) {
    const std::vector<int> v = Procesos(sInicio);
    return v.empty() ? -1 : v.back();
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

// The lines of the combined example: program, SIP user and what the line logs once its DSP
// resource is configured.
struct Linea {
    int iRec;
    const char* szPrograma;  // command line start of its resource process
    const char* szUsuario;
    const char* szConfigurada;
};
const Linea kLineas[] = {
    {kTelefono, "fonmira 1 ", "TLF-01", "CENTTLF[1]:Recurso DSP configurado"},
    {kCaliente, "kalvesk 4 ", "LC-01", "CENTLC[4]:Recurso DSP configurado"},
    {kR2, "lintaro 8 ", "R2-01", "CENTR2N5[8]: ProtocoloRecurso DSP configurado"},
    {kN5, "lintaro 12 ", "N5-01", "CENTR2N5[12]: ProtocoloRecurso DSP configurado"},
};
const Linea& LineaDe(int iRec) {
    for (const Linea& l : kLineas)
        if (l.iRec == iRec) return l;
    return kLineas[0];
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
    // DSP channels in use, as the simulated DSP counts them.
    int CanalesDspAsignados() {
        const std::string s = p.placa->Dsp("canales");
        int n = 0;
        for (size_t i = s.find(" asignado "); i != std::string::npos; i = s.find(" asignado ", i + 1)) n++;
        return n;
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
    // Every line's DSP resource configured (again, after the log sizes in aiAntes).
    static void TodasConfiguradas(const std::vector<size_t>& aiAntes, int iMs) {
        for (size_t i = 0; i < std::size(kLineas); i++)
            EXPECT_TRUE(LineaDiceDesde(kLineas[i].iRec, kLineas[i].szConfigurada, i < aiAntes.size() ? aiAntes[i] : 0, iMs))
                << kLineas[i].szUsuario;
    }
    static std::vector<size_t> TamanosLogs() {
        std::vector<size_t> v;
        for (const Linea& l : kLineas) v.push_back(CPlaca::LogRecurso(l.iRec).size());
        return v;
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
    // The simulated DSP given a fault order: the core hears that the DSP went down and came
    // back (the board's one DSP sits in slot 3), and the lines, which lost their DSP channels
    // with the link, take new ones.
    void DspCaeYVuelve(const std::string& sOrden) {
        const size_t iNucleo = CPlaca::LogNucleo().size();
        TodasConfiguradas({}, 30000);
        p.placa->Dsp(sOrden);
        ASSERT_TRUE(NucleoDiceDesde("SUPERDSP: EvtEstadoDsp(3)=0", iNucleo, 10000));
        const size_t iCaida = Busca(CPlaca::LogNucleo(), "SUPERDSP: EvtEstadoDsp(3)=0", iNucleo);
        const std::vector<size_t> aiLineas = TamanosLogs();
        EXPECT_TRUE(NucleoDiceDesde("SUPERDSP: EvtEstadoDsp(3)=1", iCaida, 20000));
        TodasConfiguradas(aiLineas, 30000);
        LineaLibre();
    }
    // The DSP fails (fFalla) while the telephone line is in a call: the line takes a new DSP
    // resource and the call goes on.
    template <typename F>
    void FallaDspEnLlamada(F fFalla) {
        CReceptorUdp audio;
        auto sipp = LlamaYDescuelga("uac_espera_bye.xml");
        ASSERT_TRUE(audio.Llegan(10, 5000));
        const size_t iTelefono = CPlaca::LogRecurso(kTelefono).size();
        fFalla();
        EXPECT_TRUE(LineaDiceDesde(kTelefono, "CENTTLF[1]:Recurso DSP configurado", iTelefono, 30000));
        EXPECT_TRUE(audio.Llegan(25, 5000));
        p.placa->Cuelga(kTelefono);
        EXPECT_EQ(sipp->Espera(30000), 0) << sipp->Log();
        LineaLibre();
    }
    // The resource process of line iRec killed while the telephone line is in a call.
    void MuereOtraLineaEnLlamada(int iRec) {
        const Linea& l = LineaDe(iRec);
        ASSERT_TRUE(CPlaca::RecursoDice(l.iRec, l.szConfigurada, 30000)) << l.szUsuario;
        CReceptorUdp audio;
        auto sipp = LlamaYDescuelga("uac_espera_bye.xml");
        ASSERT_TRUE(audio.Llegan(10, 5000));
        const size_t iNucleo = CPlaca::LogNucleo().size();
        const size_t iLinea = CPlaca::LogRecurso(l.iRec).size();

        CReceptorUdp agente(kPuertoAgenteSnmp);
        ASSERT_GT(MataYEsperaOtro(l.szPrograma), 0);
        // Its loss told to the SNMP agent, its SIP user taken out and registered again, its line
        // configured again.
        EXPECT_TRUE(agente.LlegaTexto("V,N07," + std::to_string(l.iRec) + ",-,9,0,0,0,0,-", 30000)) << agente.sRecibido;
        EXPECT_TRUE(Registrado(l.szUsuario, iNucleo, 30000));
        EXPECT_TRUE(LineaDiceDesde(l.iRec, l.szConfigurada, iLinea, 30000));

        // The telephone call lived through it: audio still comes, and it ends cleanly.
        EXPECT_TRUE(audio.Llegan(25, 5000));
        EXPECT_EQ(Busca(CPlaca::LogRecurso(kTelefono), "Fin llamada", 0), std::string::npos);
        p.placa->Cuelga(kTelefono);
        EXPECT_EQ(sipp->Espera(30000), 0) << sipp->Log();
        LineaLibre();
    }
    static bool Registrado(const std::string& sUsuario, size_t iNucleo, int iMs) {
        return NucleoDiceDesde("alta en el subsistema SIP nombre nuevorec= " + sUsuario, iNucleo, iMs);
    }
    // A resource or DSP process killed without warning (or hung, with SIGSTOP): the core starts
    // a new one.
    int MataYEsperaOtro(const std::string& sInicio, int iSenal = SIGKILL) {
        const int iViejo = PidDe(sInicio);
        EXPECT_GT(iViejo, 0) << sInicio;
        if (iViejo <= 0) return -1;
        kill(iViejo, iSenal);
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

// Scenarios too long for `make test`: skipped before the board starts.
class FallosLargos : public Fallos {
protected:
    void SetUp() override {
        SOLO_EN_E2E();
        Fallos::SetUp();
    }
};

TEST_F(FallosLargos, KilledHotLineProcessRestartsAndRegistersWhileTheTelephoneCallGoesOn) {
    MuereOtraLineaEnLlamada(kCaliente);
}

TEST_F(FallosLargos, KilledTrunkProcessRestartsAndRegistersWhileTheTelephoneCallGoesOn) {
    MuereOtraLineaEnLlamada(kR2);
}

TEST_F(Fallos, KilledDspServiceRestartsAndTheLinesTakeCallsAgain) {
    TodasConfiguradas({}, 30000);
    const size_t iNucleo = CPlaca::LogNucleo().size();
    const std::vector<size_t> aiLineas = TamanosLogs();
    ASSERT_GT(MataYEsperaOtro("dremson "), 0);
    EXPECT_TRUE(NucleoDiceDesde("CSUPERDSP: Filicidio PID", iNucleo, 20000));
    TodasConfiguradas(aiLineas, 30000);
    LineaLibre();
}

TEST_F(Fallos, SilentDspIsReportedDownAndComesBack) { DspCaeYVuelve("silencio 1"); }

TEST_F(FallosLargos, DspIgnoringProbesIsResetAndComesBack) {
    DspCaeYVuelve("ignorasondas 1");
}

TEST_F(FallosLargos, DspBackInItsFirstBootPhaseIsReportedDownAndComesBack) {
    DspCaeYVuelve("fase1");
}

TEST_F(FallosLargos, HungHotLineProcessIsKilledAndRestarted) {
    const Linea& l = LineaDe(kCaliente);
    ASSERT_TRUE(CPlaca::RecursoDice(l.iRec, l.szConfigurada, 30000));
    const size_t iNucleo = CPlaca::LogNucleo().size();
    const size_t iLinea = CPlaca::LogRecurso(l.iRec).size();
    ASSERT_GT(MataYEsperaOtro(l.szPrograma, SIGSTOP), 0);
    EXPECT_TRUE(Registrado(l.szUsuario, iNucleo, 40000));
    EXPECT_TRUE(LineaDiceDesde(l.iRec, l.szConfigurada, iLinea, 40000));
    EXPECT_EQ(Procesos(l.szPrograma).size(), 1u);
}

TEST_F(FallosLargos, HungDspServiceIsKilledAndRestarted) {
    TodasConfiguradas({}, 30000);
    const std::vector<size_t> aiLineas = TamanosLogs();
    const int iDescriptores = Descriptores(p.nucleo.Pid());
    const std::string sDescriptores = ListaDescriptores(p.nucleo.Pid());
    ASSERT_GT(MataYEsperaOtro("dremson ", SIGSTOP), 0);
    TodasConfiguradas(aiLineas, 40000);
    EXPECT_TRUE(pruebas::EsperaQue([&] { return Descriptores(p.nucleo.Pid()) == iDescriptores; }, 10000))
        << ListaDescriptores(p.nucleo.Pid()) << "before:\n" << sDescriptores;
    EXPECT_EQ(Procesos("dremson ").size(), 1u);
    LineaLibre();
}

TEST_F(FallosLargos, SessionTimerEndsTheCallOfAVanishedCaller) {
    CReceptorUdp audio;
    auto sipp = LlamaYDescuelga("uac_sesion_90.xml");
    ASSERT_TRUE(audio.Llegan(10, 5000));
    const int iPuertoRtp = audio.iPuertoBoard;
    ASSERT_TRUE(PuertoUdpAbierto(iPuertoRtp));
    const auto t0 = std::chrono::steady_clock::now();
    const size_t iTelefono = CPlaca::LogRecurso(kTelefono).size();
    kill(sipp->Pid(), SIGKILL);

    const size_t iNucleo = CPlaca::LogNucleo().size();
    // Session-Expires 90 s, never refreshed.
    EXPECT_TRUE(LineaDiceDesde(kTelefono, "FIN llamada", iTelefono, 150000));
    // The call manager forgot the call.
    EXPECT_TRUE(NucleoDiceDesde("FinEncaminaLlamada idcall", iNucleo, 5000));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::seconds(60));
    EXPECT_TRUE(audio.Calla(2000));
    EXPECT_TRUE(pruebas::EsperaQue([&] { return !PuertoUdpAbierto(iPuertoRtp); }, 10000)) << iPuertoRtp;
    p.placa->Cuelga(kTelefono);
    EXPECT_TRUE(LineaDiceDesde(kTelefono, "CENTTLF[1]: bucle Abierto(1)", iTelefono, 10000));
    LineaLibre();
}

TEST_F(FallosLargos, DspServiceKilledDuringACallLeavesTheCallUp) {
    FallaDspEnLlamada([&] { ASSERT_GT(MataYEsperaOtro("dremson "), 0); });
}

TEST_F(FallosLargos, DspSilentDuringACallLeavesTheCallUp) {
    FallaDspEnLlamada([&] { p.placa->Dsp("silencio 1"); });
}

TEST_F(FallosLargos, CallerVanishingWhileTheLineRingsStopsTheRinging) {
    auto sipp = Llama("uac_sesion_90.xml");
    ASSERT_TRUE(pruebas::EsperaQue([&] { return Suena(); }, 40000)) << sipp->Log();
    kill(sipp->Pid(), SIGKILL);
    EXPECT_TRUE(pruebas::EsperaQue([&] { return !Suena(); }, 150000));
    LineaLibre();
}

TEST_F(FallosLargos, KilledLineProcessEndsItsCallWithBye) {
    CReceptorUdp audio;
    auto sipp = LlamaYDescuelga("uac_espera_bye.xml");
    ASSERT_TRUE(audio.Llegan(10, 5000));
    const size_t iNucleo = CPlaca::LogNucleo().size();
    const size_t iTelefono = CPlaca::LogRecurso(kTelefono).size();
    ASSERT_GT(MataYEsperaOtro("fonmira 1 "), 0);
    EXPECT_EQ(sipp->Espera(60000), 0) << sipp->Log();
    p.placa->Cuelga(kTelefono);
    EXPECT_TRUE(Registrado("TLF-01", iNucleo, 30000));
    EXPECT_TRUE(LineaDiceDesde(kTelefono, "CENTTLF[1]:Recurso DSP configurado", iTelefono, 30000));
    LineaLibre();
}

TEST_F(FallosLargos, SessionRefreshedByTheCallerOutlivesItsFirstInterval) {
    auto sipp = LlamaYDescuelga("uac_sesion_refrescada.xml");
    EXPECT_EQ(sipp->Espera(200000), 0) << sipp->Log();
    EXPECT_EQ(CPlaca::LogNucleo().find("sesion expired"), std::string::npos);
}

TEST_F(FallosLargos, ProcessKilledAgainWhileItRestartsComesBack) {
    const Linea& l = LineaDe(kCaliente);
    TodasConfiguradas({}, 30000);
    const int iDescriptores = Descriptores(p.nucleo.Pid());
    const std::string sDescriptores = ListaDescriptores(p.nucleo.Pid());
    const int iCanalesDsp = CanalesDspAsignados();
    ASSERT_GT(MataYEsperaOtro(l.szPrograma), 0);
    ASSERT_GT(MataYEsperaOtro(l.szPrograma), 0);
    // What is logged from here on comes from the third process.
    const size_t iNucleo = CPlaca::LogNucleo().size();
    const size_t iLinea = CPlaca::LogRecurso(l.iRec).size();
    EXPECT_TRUE(Registrado(l.szUsuario, iNucleo, 40000));
    EXPECT_TRUE(LineaDiceDesde(l.iRec, l.szConfigurada, iLinea, 40000));
    // The core keeps nothing of the children it lost.
    EXPECT_TRUE(pruebas::EsperaQue([&] { return Descriptores(p.nucleo.Pid()) == iDescriptores; }, 10000))
        << ListaDescriptores(p.nucleo.Pid()) << "before:\n" << sDescriptores;
    // Nor does the DSP service: the dead processes' DSP channels are free again.
    EXPECT_TRUE(pruebas::EsperaQue([&] { return CanalesDspAsignados() == iCanalesDsp; }, 30000))
        << p.placa->Dsp("canales") << iCanalesDsp << " assigned before";
    // One process for the line: none left over from the killed starts.
    EXPECT_EQ(Procesos(l.szPrograma).size(), 1u);
}

TEST_F(FallosLargos, DspServiceKilledAgainWhileItRestartsComesBack) {
    TodasConfiguradas({}, 30000);
    const int iDescriptores = Descriptores(p.nucleo.Pid());
    const std::string sDescriptores = ListaDescriptores(p.nucleo.Pid());
    ASSERT_GT(MataYEsperaOtro("dremson "), 0);
    ASSERT_GT(MataYEsperaOtro("dremson "), 0);
    // What the lines log from here on comes from the third DSP service.
    TodasConfiguradas(TamanosLogs(), 40000);
    EXPECT_TRUE(pruebas::EsperaQue([&] { return Descriptores(p.nucleo.Pid()) == iDescriptores; }, 10000))
        << ListaDescriptores(p.nucleo.Pid()) << "before:\n" << sDescriptores;
    EXPECT_EQ(Procesos("dremson ").size(), 1u);
    LineaLibre();
}

}  // namespace
