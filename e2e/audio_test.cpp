// A call from a SIP peer to the telephone line of the combined example talks both ways: a sine
// injected into the line's time slot reaches the peer's RTP, and a sine in the peer's RTP is
// played to the line, each decoded with the law the call agreed on; on hold and back the audio
// follows the directions the peer asks for.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <mutex>
#include <thread>

#include "audio_prueba.h"
#include "placa_e2e.h"
#include "sipp.h"

namespace {

using namespace e2e;
using namespace audio_prueba;
using Reloj = std::chrono::steady_clock;

constexpr int kCanalTelefono = 49;     // time slot of line module 1 (module + 48)
constexpr uint16_t kPuertoPar = 7078;  // the peer's RTP port in uac_audio.xml's offer
constexpr int kPico = 8000;            // about -12 dB below full scale
const char kTrazaSipp[] = "/mnt/ramfs/sipp_mensajes.log";
const char kInyeccion[] = "/mnt/ramfs/seno.pcm";
const char kCaptura[] = "/mnt/ramfs/linea.pcm";
const char kTonoRetencion[] = "/mnt/ramfs/tonoreten.pcm";  // the line's local tone on hold

uint32_t Lee32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

// The peer's RTP end: a real socket on the offered port (and RTCP beside it), keeping every
// payload that arrives and where it came from.
class ExtremoRtp {
public:
    ExtremoRtp() {
        for (int i = 0; i < 2; i++) {
            fd[i] = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(static_cast<uint16_t>(kPuertoPar + i));
            bOk = bOk && fd[i] >= 0 && bind(fd[i], reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        }
        if (bOk) tHilo = std::thread([this] { Recibe(); });
    }
    ~ExtremoRtp() {
        bFin = true;
        if (tHilo.joinable()) tHilo.join();
        for (int f : fd)
            if (f >= 0) close(f);
    }
    bool Ok() const { return bOk; }
    size_t Paquetes() {
        std::lock_guard<std::mutex> l(tMutex);
        return vCabeceras.size();
    }
    Reloj::time_point Ultimo() {
        std::lock_guard<std::mutex> l(tMutex);
        return tUltimo;
    }
    // Header of each packet received, in order of arrival, and where it came from.
    struct Cabecera {
        int iPayload;
        uint16_t uiSecuencia;
        uint32_t uiTs, uiSsrc;
        sockaddr_in origen;
    };
    std::vector<Cabecera> Cabeceras(size_t iDesde) {
        std::lock_guard<std::mutex> l(tMutex);
        return iDesde < vCabeceras.size() ? std::vector<Cabecera>(vCabeceras.begin() + static_cast<long>(iDesde), vCabeceras.end())
                                          : std::vector<Cabecera>();
    }
    // The RTCP compound packets received.
    std::vector<std::string> Rtcp() {
        std::lock_guard<std::mutex> l(tMutex);
        return vRtcp;
    }
    // The payloads received from iDesde on, in order of arrival.
    std::string Carga(size_t iDesde = 0) {
        std::lock_guard<std::mutex> l(tMutex);
        return iDesde < sCarga.size() ? sCarga.substr(iDesde) : std::string();
    }
    size_t BytesCarga() {
        std::lock_guard<std::mutex> l(tMutex);
        return sCarga.size();
    }
    void Envia(const std::vector<uint8_t>& v, const sockaddr_in& dst) {
        sendto(fd[0], v.data(), v.size(), 0, reinterpret_cast<const sockaddr*>(&dst), sizeof dst);
    }

private:
    void Recibe() {
        uint8_t ac[2048];
        while (!bFin) {
            pollfd p[2] = {{fd[0], POLLIN, 0}, {fd[1], POLLIN, 0}};
            if (poll(p, 2, 100) <= 0) continue;
            if (p[1].revents & POLLIN) {
                const ssize_t n = recv(fd[1], ac, sizeof ac, 0);
                std::lock_guard<std::mutex> l(tMutex);
                if (n > 0) vRtcp.emplace_back(reinterpret_cast<const char*>(ac), static_cast<size_t>(n));
            }
            if (!(p[0].revents & POLLIN)) continue;
            sockaddr_in origen{};
            socklen_t iLargo = sizeof origen;
            const ssize_t n = recvfrom(fd[0], ac, sizeof ac, 0, reinterpret_cast<sockaddr*>(&origen), &iLargo);
            const size_t i = n > 0 ? CargaRtp(ac, static_cast<size_t>(n)) : 0;
            if (i == 0) continue;
            std::lock_guard<std::mutex> l(tMutex);
            vCabeceras.push_back({ac[1] & 0x7F, static_cast<uint16_t>(ac[2] << 8 | ac[3]), Lee32(ac + 4), Lee32(ac + 8), origen});
            tUltimo = Reloj::now();
            sCarga.append(reinterpret_cast<const char*>(ac + i), static_cast<size_t>(n) - i);
        }
    }
    int fd[2] = {-1, -1};
    bool bOk = true;
    std::atomic<bool> bFin{false};
    std::thread tHilo;
    std::mutex tMutex;  // guards what was received
    std::vector<Cabecera> vCabeceras;
    std::vector<std::string> vRtcp;
    Reloj::time_point tUltimo;
    std::string sCarga;
};

// The board's side of the call from its last SDP answer (in sipp's message trace): address,
// RTP port and the payload type it chose.
struct RespuestaSdp {
    std::string sIp;
    int iPuerto = 0, iPayload = -1;
};
RespuestaSdp LeeRespuesta(const std::string& sTraza) {
    RespuestaSdp r;
    const size_t i200 = sTraza.rfind("SIP/2.0 200 OK");
    if (i200 == std::string::npos) return r;
    const size_t iC = sTraza.find("c=IN IP4 ", i200), iM = sTraza.find("m=audio ", i200);
    if (iC == std::string::npos || iM == std::string::npos) return r;
    r.sIp = sTraza.substr(iC + 9, sTraza.find_first_of("\r\n", iC) - iC - 9);
    if (std::sscanf(sTraza.c_str() + iM, "m=audio %d RTP/AVP %d", &r.iPuerto, &r.iPayload) != 2) r.iPayload = -1;
    return r;
}

double RmsDe(int iPico) { return iPico / std::sqrt(2.0); }
double DbDe(int iPico) { return 20 * std::log10(iPico / 32768.0); }

size_t Veces(const std::string& s, const std::string& sTexto) {
    size_t n = 0;
    for (size_t i = s.find(sTexto); i != std::string::npos; i = s.find(sTexto, i + 1)) n++;
    return n;
}

class AudioLlamada : public ::testing::Test {
protected:
    void TearDown() override {
        if (HasFailure())
            std::printf("%s\nsipp:\n%s\n%s\n", p.Informe().c_str(), pruebas::LeeTodo(kTrazaSipp).c_str(),
                        sipp ? sipp->Log().c_str() : "");
    }
    bool Suena() { return p.placa->Slic(kTelefono).find(" ring=1 ") != std::string::npos; }
    // The line's log says sTexto once more than it had said when iVeces was counted.
    static bool LineaDiceOtraVez(const std::string& sTexto, size_t iVeces, int iMs) {
        return EsperaQue([&] { return Veces(CPlaca::LogRecurso(kTelefono), sTexto) > iVeces; }, iMs);
    }

    // One second of dHz in the peer's RTP, in packets of iMuestras paced like a real end's.
    void EnviaSeno(int iLey, const sockaddr_in& placa, double dHz, size_t iMuestras = kBloque) {
        const std::string sSeno = Seno(iLey, dHz, kPico, kMuestrasPorSegundo);
        auto tPaquete = Reloj::now();
        for (size_t i = 0; i * iMuestras < sSeno.size(); i++) {
            const auto* pCarga = reinterpret_cast<const uint8_t*>(sSeno.data()) + i * iMuestras;
            const size_t n = std::min(iMuestras, sSeno.size() - i * iMuestras);
            rtp.Envia(PaqueteRtp(iLey, uiSecuencia++, uiTs, uiSsrc, pCarga, n), placa);
            uiTs += static_cast<uint32_t>(n);
            tPaquete += std::chrono::microseconds(n * 125);
            std::this_thread::sleep_until(tPaquete);
        }
    }
    // The line plays a second of dHz, in the call's law, at the level it was sent.
    void OyeTono(LectorCaptura& linea, int iLey, double dHz) {
        std::string sOido;
        Tono t;
        EXPECT_TRUE(EsperaQue([&] {
            sOido += linea.Nuevo();
            t = BuscaTono(Decodifica(iLey, sOido), RmsDe(kPico) / 2);
            // Half of it at least: on a loaded machine packets bunch up, and the line's 40 ms of
            // play-out buffer and its trimmer drop what overflows.
            return t.iMuestras >= kMuestrasPorSegundo / 2;
        }, 10000)) << dHz << " Hz at the line: " << t.iMuestras << " samples of " << sOido.size();
        EXPECT_NEAR(t.dHz, dHz, 10);
        EXPECT_NEAR(t.dDb, DbDe(kPico), 2);
    }
    void SenoALaLinea(int iLey, const sockaddr_in& placa, double dHz, size_t iMuestras = kBloque) {
        LectorCaptura linea(p.placa->Socket(), kCanalTelefono, kCaptura);
        EnviaSeno(iLey, placa, dHz, iMuestras);
        OyeTono(linea, iLey, dHz);
    }
    // uac_audio_retiene.xml takes its next step (a re-INVITE) when an INFO of its dialog arrives.
    void SiguientePaso() {
        const std::string sTraza = pruebas::LeeTodo(kTrazaSipp);
        const size_t i = sTraza.find("Call-ID: ");
        ASSERT_NE(i, std::string::npos);
        const std::string sCallId = sTraza.substr(i + 9, sTraza.find_first_of("\r\n", i) - i - 9);
        const std::string sPaso = std::to_string(++iPaso);
        const std::string sInfo = "INFO sip:sipp@127.0.0.1:5070 SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:7090;branch=z9hG4bK-paso" +
                                  sPaso + "\r\nFrom: <sip:prueba@127.0.0.1>;tag=paso\r\nTo: <sip:sipp@127.0.0.1>\r\n"
                                  "Call-ID: " + sCallId + "\r\nCSeq: " + sPaso +
                                  " INFO\r\nMax-Forwards: 70\r\nContent-Length: 0\r\n\r\n";
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(5070);
        const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        ASSERT_EQ(sendto(fd, sInfo.data(), sInfo.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a),
                  static_cast<ssize_t>(sInfo.size()));
        close(fd);
    }
    bool RtpCallado() {
        return EsperaQue([&] { return Reloj::now() - rtp.Ultimo() > std::chrono::milliseconds(500); }, 10000);
    }
    // The peer puts the call on hold, first only sending: the line stops sending and still
    // hears it, in packets longer than its own; then with no audio either way: the line hears
    // its local hold tone and not the peer. Taken back, the line sends and hears the peer again.
    // Each re-INVITE's answer keeps the call's payload type and port.
    void RetieneYRecupera(int iLey, const sockaddr_in& placa) {
        auto paso = [&] {
            const size_t iRespuestas = Veces(pruebas::LeeTodo(kTrazaSipp), "SIP/2.0 200 OK");
            SiguientePaso();
            EXPECT_TRUE(EsperaQue([&] { return Veces(pruebas::LeeTodo(kTrazaSipp), "SIP/2.0 200 OK") > iRespuestas; }, 10000))
                << "re-INVITE not answered";
            const RespuestaSdp r = LeeRespuesta(pruebas::LeeTodo(kTrazaSipp));
            EXPECT_EQ(r.iPayload, iLey);
            EXPECT_EQ(r.iPuerto, ntohs(placa.sin_port));
        };
        paso();
        EXPECT_TRUE(RtpCallado()) << "the line still sends on hold";
        SenoALaLinea(iLey, placa, 600, 240);  // 30 ms packets, as some phones send

        // 400 Hz repeats every 20 samples: the player's blocks of 160 join without a seam.
        std::ofstream(kTonoRetencion, std::ios::binary | std::ios::trunc) << Seno(iLey, 400, kPico, kMuestrasPorSegundo);
        paso();
        {
            LectorCaptura linea(p.placa->Socket(), kCanalTelefono, kCaptura);
            EnviaSeno(iLey, placa, 600);
            OyeTono(linea, iLey, 400);
        }

        const size_t iPaquetes = rtp.Paquetes();
        paso();
        EXPECT_TRUE(EsperaQue([&] { return rtp.Paquetes() > iPaquetes + 10; }, 10000)) << "no RTP after the hold";
        for (const auto& c : rtp.Cabeceras(iPaquetes)) ASSERT_EQ(c.iPayload, iLey);
        // Many phones come back from hold as a new source, numbered and timed afresh.
        uiSsrc++;
        uiSecuencia = static_cast<uint16_t>(uiSecuencia + 20000);
        uiTs += 0x12345678;
        SenoALaLinea(iLey, placa, 440);
    }

    // A call offering the payload types sOferta, answered by lifting the handset: a sine each
    // way, judged in the law the board chose (iLey), and the handset put down.
    void Conversa(const std::string& sOferta, int iLey, bool bRetiene = false) {
        const std::string sLog = CPlaca::LogRecurso(kTelefono);
        const size_t iConv = Veces(sLog, "CENTTLF[1]: Pasa a Conv (1)"), iFin = Veces(sLog, "CENTTLF[1]: Fin llamada ");
        const size_t iPaquetes = rtp.Paquetes();
        unlink(kTrazaSipp);
        sipp = std::make_unique<Sipp>(std::vector<std::string>{
            "-sf", DirFuente() + (bRetiene ? "uac_audio_retiene.xml" : "uac_audio.xml"), "-key", "carga", sOferta, "-m",
            "1", "-s", "TLF-01", "-trace_msg", "-message_file", kTrazaSipp, "127.0.0.1:5060"});
        ASSERT_TRUE(EsperaQue([&] { return Suena(); }, 40000)) << "the line never rang";
        p.placa->Descuelga(kTelefono);
        // The hardware layer watches the handset 20 s after its start.
        ASSERT_TRUE(LineaDiceOtraVez("CENTTLF[1]: Pasa a Conv (1)", iConv, 40000));
        RespuestaSdp sdp;
        ASSERT_TRUE(EsperaQue([&] { return (sdp = LeeRespuesta(pruebas::LeeTodo(kTrazaSipp))).iPayload >= 0; }, 10000))
            << "no SDP answer";
        ASSERT_EQ(sdp.iPayload, iLey);
        sockaddr_in placa{};
        placa.sin_family = AF_INET;
        placa.sin_port = htons(static_cast<uint16_t>(sdp.iPuerto));
        ASSERT_EQ(inet_pton(AF_INET, sdp.sIp.c_str(), &placa.sin_addr), 1) << sdp.sIp;
        // The line's session is up once its RTP reaches the peer.
        ASSERT_TRUE(EsperaQue([&] { return rtp.Paquetes() > iPaquetes; }, 10000)) << "no RTP from the line";

        // Line to peer: one second of 1020 Hz into the time slot, which carries the call's law.
        const size_t iAntes = rtp.BytesCarga();
        std::ofstream(kInyeccion, std::ios::binary | std::ios::trunc) << Seno(iLey, 1020, kPico, kMuestrasPorSegundo);
        p.placa->Inyecta(kCanalTelefono, kInyeccion);
        Tono t;
        EXPECT_TRUE(EsperaQue([&] {
            t = BuscaTono(Decodifica(iLey, rtp.Carga(iAntes)), RmsDe(kPico) / 2);
            return t.iMuestras >= 7000;
        }, 10000)) << "tone in RTP: " << t.iMuestras << " samples";
        EXPECT_NEAR(t.dHz, 1020, 10);
        EXPECT_NEAR(t.dDb, DbDe(kPico), 2);

        SenoALaLinea(iLey, placa, 440);

        // The line's stream as a peer's jitter buffer needs it: one source, from the port of the
        // answer (the address is the route's: loopback here), in the agreed payload type,
        // numbered and timed without a gap.
        const std::vector<ExtremoRtp::Cabecera> v = rtp.Cabeceras(iPaquetes);
        ASSERT_GT(v.size(), 50u);
        int iFallos = 0;
        for (size_t i = 0; i < v.size() && iFallos < 5; i++) {
            const bool bBien = v[i].iPayload == iLey && v[i].uiSsrc == v[0].uiSsrc &&
                               v[i].origen.sin_port == placa.sin_port &&
                               (i == 0 || (static_cast<uint16_t>(v[i].uiSecuencia - v[i - 1].uiSecuencia) == 1 &&
                                           v[i].uiTs - v[i - 1].uiTs == kBloque));
            if (!bBien) {
                iFallos++;
                ADD_FAILURE() << "packet " << i << ": payload " << v[i].iPayload << " ssrc " << v[i].uiSsrc << " seq "
                              << v[i].uiSecuencia << " ts " << v[i].uiTs << " from port " << ntohs(v[i].origen.sin_port);
            }
        }

        if (bRetiene) RetieneYRecupera(iLey, placa);

        // The handset goes down: BYE to the peer, the session ends and its RTP stops.
        p.placa->Cuelga(kTelefono);
        EXPECT_EQ(sipp->Espera(30000), 0) << sipp->Log();
        EXPECT_TRUE(LineaDiceOtraVez("CENTTLF[1]: Fin llamada ", iFin, 10000));
        EXPECT_TRUE(RtpCallado()) << "RTP still flows after the call";
    }

    void ArrancaLinea() {
        ASSERT_TRUE(p.Arranca());
        ASSERT_TRUE(CPlaca::RecursoDice(kTelefono, "CENTTLF[1]:Recurso DSP configurado", 40000)) << "line not up";
        ASSERT_TRUE(rtp.Ok()) << "RTP port " << kPuertoPar << " taken";
    }
    // A call offering sOferta is refused with 415 and never rings the line.
    void Rechazada(const std::string& sOferta) {
        unlink(kTrazaSipp);
        sipp = std::make_unique<Sipp>(std::vector<std::string>{"-sf", DirFuente() + "uac_audio.xml", "-key", "carga",
                                                               sOferta, "-m", "1", "-s", "TLF-01", "-trace_msg",
                                                               "-message_file", kTrazaSipp, "127.0.0.1:5060"});
        EXPECT_TRUE(EsperaQue([] { return pruebas::LeeTodo(kTrazaSipp).find("SIP/2.0 415") != std::string::npos; }, 10000))
            << "offer " << sOferta << " not refused";
        EXPECT_FALSE(Suena());
        EXPECT_NE(sipp->Espera(10000), 0) << sipp->Log();
    }

    CPlaca p;
    ExtremoRtp rtp;
    uint16_t uiSecuencia = 0;  // of the peer's stream, across calls
    uint32_t uiTs = 0, uiSsrc = 0x0E2A0D10;
    int iPaso = 0;
    std::unique_ptr<Sipp> sipp;
};

// The telephone line speaks A-law only: an offer without A-law is refused, and the line stays
// free for the next call.
TEST_F(AudioLlamada, SineCrossesTheCallBothWaysInALaw) {
    ArrancaLinea();
    Conversa("8 0", kPcma);
    if (HasFatalFailure()) return;
    Rechazada("0");
}

// The line's own preference decides the law, not the offer's order.
TEST_F(AudioLlamada, HoldAndBackKeepTheAudioOfTheCall) {
    SOLO_EN_E2E();
    ArrancaLinea();
    Conversa("0 8", kPcma, true);
    // The line's reports: each compound opens with a sender or receiver report from a source
    // that sent RTP.
    std::vector<uint32_t> vFuentes;
    for (const auto& c : rtp.Cabeceras(0)) vFuentes.push_back(c.uiSsrc);
    const std::vector<std::string> vRtcp = rtp.Rtcp();
    EXPECT_FALSE(vRtcp.empty()) << "no RTCP from the line";
    for (const std::string& r : vRtcp) {
        ASSERT_GE(r.size(), 8u);
        const auto* b = reinterpret_cast<const uint8_t*>(r.data());
        const uint32_t uiSsrc = Lee32(b + 4);
        EXPECT_EQ(b[0] >> 6, 2);
        EXPECT_TRUE(b[1] == 200 || b[1] == 201) << int(b[1]);
        EXPECT_NE(std::find(vFuentes.begin(), vFuentes.end(), uiSsrc), vFuentes.end()) << uiSsrc;
    }
}

}  // namespace
