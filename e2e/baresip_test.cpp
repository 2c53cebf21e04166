// The board calls a plain SIP phone. In sim/cfgagent/ejemplos/telefono_sip.ini the gateway places
// its calls straight to each line's remote URI (no numbering plan), and both lines have the
// same far end: baresip at sip:telefono@127.0.0.1:5062, which answers by itself (or rings until
// its user hangs up) and sends a sine read from a file. Seizing a line calls the phone;
// releasing it sends BYE.
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <glob.h>
#include <linux/if_ether.h>
#include <net/if.h>
#include <netinet/ip.h>
#include <netinet/udp.h>
#include <netpacket/packet.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "placa_e2e.h"

namespace {

using namespace e2e;

const std::string kDirTelefono = "/mnt/ramfs/baresip";
constexpr int kPuertoTelefono = 5062;
constexpr int kPuertoConsola = 5555;  // baresip's command console

// An 8 kHz mono 16-bit WAV file with a sine of iHz lasting iSegundos.
void EscribeSeno(const std::string& sFichero, int iHz, int iSegundos) {
    const uint32_t n = 8000u * static_cast<uint32_t>(iSegundos);
    std::string s;
    auto u32 = [&](uint32_t v) { s.append(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](uint16_t v) { s.append(reinterpret_cast<const char*>(&v), 2); };
    s += "RIFF";
    u32(36 + 2 * n);
    s += "WAVEfmt ";
    // PCM, one channel, 8000 Hz, 16000 bytes a second, 2-byte frames of 16 bits.
    u32(16);
    u16(1);
    u16(1);
    u32(8000);
    u32(16000);
    u16(2);
    u16(16);
    s += "data";
    u32(2 * n);
    for (uint32_t i = 0; i < n; i++) u16(static_cast<uint16_t>(static_cast<int16_t>(8000 * std::sin(2 * M_PI * iHz * i / 8000.0))));
    std::ofstream(sFichero, std::ios::binary) << s;
}

// baresip as a child: one account that answers by itself (or rings until its user hangs up),
// a sine from a file as its microphone, no audio hardware, a command console, and the SIP
// trace on its output.
class Telefono {
public:
    // bContesta: answers every call by itself; else it rings until told.
    explicit Telefono(bool bContesta = true) {
        mkdir(kDirTelefono.c_str(), 0755);
        // baresip hangs up when its source file ends: the sine outlasts every call here.
        EscribeSeno(kDirTelefono + "/seno.wav", 1000, 150);
        std::ofstream(kDirTelefono + "/config")
            << "poll_method epoll\n"
               "sip_listen 127.0.0.1:" << kPuertoTelefono << "\n"
               "sip_trans_def udp\n"
               "audio_source aufile," << kDirTelefono << "/seno.wav\n"
               "audio_alert none\n"
               "ausrc_srate 8000\n"
               "ausrc_channels 1\n"
               "rtcp_mux no\n"
               "module_path /usr/lib/baresip/modules\n"
               "module g711.so\n"
               "module aufile.so\n"
               "module sndfile.so\n"
               "snd_path " << kDirTelefono << "\n"
               "module cons.so\n"
               "cons_listen 127.0.0.1:" << kPuertoConsola << "\n"
               "module_app account.so\n"
               "module_app menu.so\n";
        std::ofstream(kDirTelefono + "/accounts")
            << "<sip:telefono@127.0.0.1:" << kPuertoTelefono << ">;regint=0;answermode="
            << (bContesta ? "auto" : "manual") << ";audio_codecs=PCMA,PCMU\n";
        iPid = fork();
        if (iPid == 0) {
            int fd = open((kDirTelefono + "/salida.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(fd, 1);
            dup2(fd, 2);
            int nul = open("/dev/null", O_RDONLY);
            dup2(nul, 0);
            execlp("baresip", "baresip", "-f", kDirTelefono.c_str(), "-s", static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~Telefono() {
        if (iPid <= 0) return;
        kill(iPid, SIGTERM);
        if (!EsperaQue([&] { return waitpid(iPid, nullptr, WNOHANG) == iPid; }, 3000)) {
            kill(iPid, SIGKILL);
            waitpid(iPid, nullptr, 0);
        }
    }
    std::string Salida() const { return LeeTodo(kDirTelefono + "/salida.log"); }
    // The phone's user hangs up, or refuses a ringing call.
    void Cuelga() const {
        const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(kPuertoConsola);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const char kOrden[] = "/hangup\n";
        sendto(fd, kOrden, sizeof kOrden - 1, 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
        close(fd);
    }
    bool Dice(const std::string& s, int iMs) const {
        return EsperaQue([&] { return Salida().find(s) != std::string::npos; }, iMs);
    }
    // Bytes of the audio baresip decoded from the RTP it received (its sndfile dump).
    size_t AudioRecibido() const {
        glob_t g{};
        size_t n = 0;
        if (glob((kDirTelefono + "/*dec*.wav").c_str(), 0, nullptr, &g) == 0)
            for (size_t i = 0; i < g.gl_pathc; i++) {
                struct stat st {};
                if (stat(g.gl_pathv[i], &st) == 0) n += static_cast<size_t>(st.st_size);
            }
        globfree(&g);
        return n;
    }

private:
    pid_t iPid = -1;
};

// RTP packets on the loopback (all local traffic crosses it), counted by direction relative
// to one UDP port.
class ContadorRtp {
public:
    ContadorRtp() {
        fd = socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, htons(ETH_P_IP));
        if (fd < 0) return;
        sockaddr_ll a{};
        a.sll_family = AF_PACKET;
        a.sll_protocol = htons(ETH_P_IP);
        a.sll_ifindex = static_cast<int>(if_nametoindex("lo"));
        if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return;
        timeval t{0, 100000};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &t, sizeof t);
        tHilo = std::thread([this] { Lee(); });
    }
    ~ContadorRtp() {
        bFin = true;
        if (tHilo.joinable()) tHilo.join();
        if (fd >= 0) close(fd);
    }
    bool Activo() const { return tHilo.joinable(); }
    // Counts anew for this port.
    void Vigila(int iPuerto) {
        iPuertoVigilado = iPuerto;
        iDesde = iHacia = 0;
    }
    int DesdePuerto() const { return iDesde; }
    int HaciaPuerto() const { return iHacia; }

private:
    void Lee() {
        uint8_t ac[2048];
        while (!bFin) {
            sockaddr_ll de{};
            socklen_t l = sizeof de;
            const ssize_t n = recvfrom(fd, ac, sizeof ac, 0, reinterpret_cast<sockaddr*>(&de), &l);
            // A loopback packet shows once as sent and once as received: count it once.
            if (n < 20 || de.sll_pkttype == PACKET_OUTGOING) continue;
            const iphdr* ip = reinterpret_cast<const iphdr*>(ac);
            const size_t iIp = ip->ihl * 4u;
            if (ip->protocol != IPPROTO_UDP || static_cast<size_t>(n) < iIp + 8 + 12) continue;
            const udphdr* u = reinterpret_cast<const udphdr*>(ac + iIp);
            if ((ac[iIp + 8] & 0xC0) != 0x80) continue;  // RTP version 2
            const int p = iPuertoVigilado;
            if (p <= 0) continue;
            if (ntohs(u->source) == p) iDesde++;
            if (ntohs(u->dest) == p) iHacia++;
        }
    }
    int fd = -1;
    std::thread tHilo;
    std::atomic<bool> bFin{false};
    std::atomic<int> iPuertoVigilado{0};
    std::atomic<int> iDesde{0}, iHacia{0};
};

// The DSP channel of the hot line: the one running line protocol 1.
int CanalDspLinea(simboard::CSimBoard& placa) {
    std::istringstream in(placa.Dsp("canales"));
    std::string l;
    while (std::getline(in, l))
        if (l.find(" asignado protocolo=1 ") != std::string::npos) return std::atoi(l.c_str());
    return -1;
}

// The RTP port that the first INVITE in baresip's SIP trace offers (the board's); baresip's
// answers to OPTIONS carry SDPs of their own.
int PuertoOfrecido(const std::string& sTraza) {
    const size_t i = sTraza.find("INVITE sip:");
    std::smatch m;
    if (i != std::string::npos && std::regex_search(sTraza.begin() + static_cast<long>(i), sTraza.end(), m,
                                                    std::regex("m=audio ([0-9]+) RTP/AVP")))
        return std::stoi(m[1]);
    return -1;
}

size_t Cuenta(const std::string& s, const std::string& sTrozo) {
    size_t n = 0;
    for (size_t i = s.find(sTrozo); i != std::string::npos; i = s.find(sTrozo, i + 1)) n++;
    return n;
}

constexpr int kModuloTelefono = 1;

class Baresip : public ::testing::Test {
protected:
    void Arranca(bool bContesta = true) {
        ASSERT_TRUE(rtp.Activo()) << "no packet socket on lo";
        ASSERT_EQ(access("/usr/bin/baresip", X_OK), 0) << "no baresip: scripts/install-deps installs it";
        pTelefono = std::make_unique<Telefono>(bContesta);
        ASSERT_TRUE(pTelefono->Dice("baresip is ready", 10000)) << pTelefono->Salida();
        ASSERT_TRUE(p.Arranca("telefono_sip.ini"));
    }
    void TearDown() override {
        if (HasFailure() && pTelefono) std::printf("phone:\n%s\n%s\n", pTelefono->Salida().c_str(), p.Informe().c_str());
    }
    // The n-th call of resource iRec reached the phone and was answered: what the phone's
    // trace shows of it from iDesde on, and the board's RTP port it offered, now watched.
    std::string Contestada(int iRec, size_t n, size_t iDesde) {
        const std::string sContestada = "CSUPEREC[" + std::to_string(iRec) + "]:Traplic_Call_Answer";
        EXPECT_TRUE(EsperaQue([&] { return Cuenta(CPlaca::LogNucleo(), sContestada) >= n; }, 15000))
            << pTelefono->Salida();
        const std::string s = pTelefono->Salida().substr(iDesde);
        const int iPuertoPlaca = PuertoOfrecido(s);
        EXPECT_GT(iPuertoPlaca, 0) << s;
        rtp.Vigila(iPuertoPlaca);
        return s;
    }
    bool ByeDesde(size_t iDesde) {
        return EsperaQue([&] { return pTelefono->Salida().find("BYE sip:", iDesde) != std::string::npos; }, 10000);
    }

    ContadorRtp rtp;
    std::unique_ptr<Telefono> pTelefono;
    CPlaca p;
};

// A hot line's call is an IA call: the board offers sendonly, so its audio goes one way. Two
// calls in a row: the second proves that the first one's session, port and records were
// given back.
TEST_F(Baresip, SeizedHotLineCallsThePhoneSendsItsAudioAndReleasesWithBye) {
    SOLO_EN_E2E();
    ASSERT_NO_FATAL_FAILURE(Arranca());
    ASSERT_TRUE(CPlaca::RecursoDice(kCaliente, "CENTLC[4]: EvtDspReposo", 40000));
    const int iCanal = CanalDspLinea(*p.placa);
    ASSERT_GE(iCanal, 0) << p.placa->Dsp("canales");
    const std::string sCanal = std::to_string(iCanal);
    for (size_t n = 1; n <= 2 && !HasFailure(); n++) {
        SCOPED_TRACE("call " + std::to_string(n));
        const size_t iInicio = pTelefono->Salida().size();
        p.placa->Dsp("evento " + sCanal + " entrante 0 - -");
        const std::string sLlamada = Contestada(kCaliente, n, iInicio);
        EXPECT_NE(sLlamada.find("INVITE sip:telefono@127.0.0.1:5062 "), std::string::npos) << sLlamada;
        EXPECT_NE(sLlamada.find("Subject: IA call"), std::string::npos) << sLlamada;
        EXPECT_NE(sLlamada.find("a=sendonly"), std::string::npos) << sLlamada;
        EXPECT_TRUE(EsperaQue([&] { return rtp.DesdePuerto() >= 50; }, 15000)) << "board->phone " << rtp.DesdePuerto();
        p.placa->Dsp("evento " + sCanal + " liberada 0");
        EXPECT_TRUE(ByeDesde(iInicio));
        EXPECT_TRUE(EsperaQue(
            [&] { return Cuenta(CPlaca::LogRecurso(kCaliente), "CENTLC[4]: Fin llamada RX(") >= n; }, 5000));
    }
}

// A telephone's call is a DA/IDA call: audio both ways, and baresip decodes the board's.
TEST_F(Baresip, LiftedHandsetCallsThePhoneTalksBothWaysAndHangsUpWithBye) {
    // Once in a full suite on a loaded machine the loopback packet count stayed at zero while
    // baresip decoded the board's audio: the count, not the call, is unsure under load.
    SOLO_EN_E2E();
    ASSERT_NO_FATAL_FAILURE(Arranca());
    ASSERT_TRUE(CPlaca::RecursoDice(kTelefono, "CENTTLF[1]:Recurso DSP configurado", 40000));
    const size_t iInicio = pTelefono->Salida().size();
    // The hardware layer watches the handset 20 s after its start.
    p.placa->Descuelga(kModuloTelefono);
    ASSERT_TRUE(CPlaca::RecursoDice(kTelefono, "CENTTLF[1]: Envia llamada entrante ", 40000));
    const std::string sLlamada = Contestada(kTelefono, 1, iInicio);
    EXPECT_NE(sLlamada.find("Subject: DA/IDA call"), std::string::npos) << sLlamada;
    EXPECT_NE(sLlamada.find("a=sendrecv"), std::string::npos) << sLlamada;
    EXPECT_TRUE(EsperaQue([&] { return rtp.DesdePuerto() >= 50 && rtp.HaciaPuerto() >= 50; }, 15000))
        << "board->phone " << rtp.DesdePuerto() << ", phone->board " << rtp.HaciaPuerto();
    EXPECT_TRUE(EsperaQue([&] { return pTelefono->AudioRecibido() > 8000; }, 5000)) << "baresip decoded no audio";
    p.placa->Cuelga(kModuloTelefono);
    EXPECT_TRUE(ByeDesde(iInicio));
}

// The phone's user hangs up first: the line hears the end of the call, and once its handset is
// down it is free for the next call.
TEST_F(Baresip, PhoneHangingUpEndsTheLinesCall) {
    SOLO_EN_E2E();
    ASSERT_NO_FATAL_FAILURE(Arranca());
    ASSERT_TRUE(CPlaca::RecursoDice(kTelefono, "CENTTLF[1]:Recurso DSP configurado", 40000));
    size_t iInicio = pTelefono->Salida().size();
    p.placa->Descuelga(kModuloTelefono);
    ASSERT_TRUE(CPlaca::RecursoDice(kTelefono, "CENTTLF[1]: Envia llamada entrante ", 40000));
    Contestada(kTelefono, 1, iInicio);
    ASSERT_TRUE(EsperaQue([&] { return rtp.HaciaPuerto() >= 10; }, 15000));
    pTelefono->Cuelga();
    EXPECT_TRUE(EsperaQue([&] { return pTelefono->Salida().find("BYE sip:", iInicio) != std::string::npos; }, 5000));
    EXPECT_TRUE(CPlaca::RecursoDice(kTelefono, "FIN llamada 3", 10000));
    p.placa->Cuelga(kModuloTelefono);
    EXPECT_TRUE(CPlaca::RecursoDice(kTelefono, "CENTTLF[1]: bucle Abierto(1)", 10000));

    iInicio = pTelefono->Salida().size();
    p.placa->Descuelga(kModuloTelefono);
    Contestada(kTelefono, 2, iInicio);
    p.placa->Cuelga(kModuloTelefono);
    EXPECT_TRUE(ByeDesde(iInicio));
}

// The phone refuses the call: the line is told (busy) and, once its handset is down, calls again.
TEST_F(Baresip, PhoneRefusingTheCallFreesTheLine) {
    SOLO_EN_E2E();
    ASSERT_NO_FATAL_FAILURE(Arranca(false));
    ASSERT_TRUE(CPlaca::RecursoDice(kTelefono, "CENTTLF[1]:Recurso DSP configurado", 40000));
    for (size_t n = 1; n <= 2 && !HasFailure(); n++) {
        SCOPED_TRACE("call " + std::to_string(n));
        const size_t iInicio = pTelefono->Salida().size();
        p.placa->Descuelga(kModuloTelefono);
        ASSERT_TRUE(EsperaQue(
            [&] { return pTelefono->Salida().find("SIP/2.0 180 Ringing", iInicio) != std::string::npos; }, 40000));
        pTelefono->Cuelga();
        EXPECT_TRUE(EsperaQue(
            [&] { return Cuenta(CPlaca::LogRecurso(kTelefono), "CENTTLF[1]: RechazaLlamada (") >= n; }, 10000));
        p.placa->Cuelga(kModuloTelefono);
        EXPECT_TRUE(EsperaQue(
            [&] { return Cuenta(CPlaca::LogRecurso(kTelefono), "CENTTLF[1]: bucle Abierto(1)") >= n; }, 10000));
    }
}

// Nobody at the phone's address: the board gives up on the call, the line is told and, once its
// handset is down, free for the next call.
TEST_F(Baresip, UnreachablePhoneFreesTheLine) {
    SOLO_EN_E2E();
    ASSERT_TRUE(p.Arranca("telefono_sip.ini"));
    ASSERT_TRUE(CPlaca::RecursoDice(kTelefono, "CENTTLF[1]:Recurso DSP configurado", 40000));
    for (size_t n = 1; n <= 2 && !HasFailure(); n++) {
        SCOPED_TRACE("call " + std::to_string(n));
        p.placa->Descuelga(kModuloTelefono);
        EXPECT_TRUE(EsperaQue(
            [&] { return Cuenta(CPlaca::LogRecurso(kTelefono), "CENTTLF[1]: RechazaLlamada (") >= n; }, 60000))
            << p.Informe();
        p.placa->Cuelga(kModuloTelefono);
        EXPECT_TRUE(EsperaQue(
            [&] { return Cuenta(CPlaca::LogRecurso(kTelefono), "CENTTLF[1]: bucle Abierto(1)") >= n; }, 10000));
    }
}

// More calls in a row than the board has RTP ports (26) and SIP sessions (30): each call gives
// back what it took.
TEST_F(Baresip, ManyHotLineCallsInARowEachGiveBackTheirSessionAndPort) {
    SOLO_EN_E2E();
    ASSERT_NO_FATAL_FAILURE(Arranca());
    ASSERT_TRUE(CPlaca::RecursoDice(kCaliente, "CENTLC[4]: EvtDspReposo", 40000));
    const std::string sCanal = std::to_string(CanalDspLinea(*p.placa));
    for (size_t n = 1; n <= 32 && !HasFailure(); n++) {
        SCOPED_TRACE("call " + std::to_string(n));
        p.placa->Dsp("evento " + sCanal + " entrante 0 - -");
        ASSERT_TRUE(EsperaQue([&] { return Cuenta(CPlaca::LogNucleo(), "CSUPEREC[4]:Traplic_Call_Answer") >= n; }, 15000));
        p.placa->Dsp("evento " + sCanal + " liberada 0");
        ASSERT_TRUE(EsperaQue([&] { return Cuenta(pTelefono->Salida(), ": session closed: ") >= n; }, 10000));
        ASSERT_TRUE(EsperaQue(
            [&] { return Cuenta(CPlaca::LogRecurso(kCaliente), "CENTLC[4]: Fin llamada RX(") >= n; }, 5000));
    }
}

// The phone refuses the hot line's call: the line, answered at once on seizure, plays the
// rejection tone until its far end releases, and is then free for the next call.
TEST_F(Baresip, PhoneRefusingTheHotLinesCallFreesTheLine) {
    SOLO_EN_E2E();
    ASSERT_NO_FATAL_FAILURE(Arranca(false));
    ASSERT_TRUE(CPlaca::RecursoDice(kCaliente, "CENTLC[4]: EvtDspReposo", 40000));
    const std::string sCanal = std::to_string(CanalDspLinea(*p.placa));
    for (size_t n = 1; n <= 2 && !HasFailure(); n++) {
        SCOPED_TRACE("call " + std::to_string(n));
        const size_t iInicio = pTelefono->Salida().size();
        p.placa->Dsp("evento " + sCanal + " entrante 0 - -");
        ASSERT_TRUE(EsperaQue(
            [&] { return pTelefono->Salida().find("SIP/2.0 180 Ringing", iInicio) != std::string::npos; }, 15000));
        pTelefono->Cuelga();
        EXPECT_TRUE(EsperaQue(
            [&] { return Cuenta(CPlaca::LogRecurso(kCaliente), "CENTLC[4]: DSP_GeneraTono(3-") >= n; }, 10000));
        p.placa->Dsp("evento " + sCanal + " liberada 0");
        EXPECT_TRUE(EsperaQue(
            [&] { return Cuenta(CPlaca::LogRecurso(kCaliente), "CENTLC[4]: Fin llamada RX(") >= n; }, 5000));
    }
}

// The board watches the hot line's far end with OPTIONS: the phone going away and coming back
// is seen both ways, and the line's received audio is muted while the phone is away.
TEST_F(Baresip, HotLineWatchesThePhoneWithOptions) {
    SOLO_EN_E2E();
    ASSERT_NO_FATAL_FAILURE(Arranca());
    auto Veces = [](const std::string& s) { return Cuenta(CPlaca::LogNucleo(), "CSUPEREC[4]: Supervision Options " + s); };
    auto VecesLinea = [](const std::string& s) { return Cuenta(CPlaca::LogRecurso(kCaliente), s); };
    ASSERT_TRUE(EsperaQue([&] { return Veces("OK") == 1; }, 40000));
    // The first answer may come before the line's process has started its line: it hears it
    // once the line is in service.
    ASSERT_TRUE(CPlaca::RecursoDice(kCaliente, "CENTLC[4]: EvtDspReposo", 40000));
    EXPECT_TRUE(EsperaQue([&] { return VecesLinea("Si SLIC RX") >= 1; }, 10000));
    pTelefono.reset();
    EXPECT_TRUE(EsperaQue([&] { return Veces("NOOK") == 1; }, 20000));
    EXPECT_TRUE(EsperaQue([&] { return VecesLinea("No SLIC RX") >= 1; }, 5000));
    pTelefono = std::make_unique<Telefono>();
    EXPECT_TRUE(EsperaQue([&] { return Veces("OK") == 2; }, 20000));
    EXPECT_TRUE(EsperaQue([&] { return VecesLinea("Si SLIC RX") >= 2; }, 5000));

    // The line's process dies and is started again: the phone never went away, and the new
    // process hears that it is there.
    int iPid = -1;
    if (DIR* d = opendir("/proc")) {
        while (dirent* e = readdir(d))
            if (pruebas::LineaDeOrdenes(std::atoi(e->d_name)).rfind("kalvesk 4 ", 0) == 0) iPid = std::atoi(e->d_name);
        closedir(d);
    }
    ASSERT_GT(iPid, 0);
    kill(iPid, SIGKILL);
    EXPECT_TRUE(EsperaQue([&] { return VecesLinea("CENTLC[4]: EvtDspReposo") >= 2; }, 60000));
    EXPECT_TRUE(EsperaQue([&] { return VecesLinea("Si SLIC RX") >= 3; }, 10000));
}

}  // namespace
