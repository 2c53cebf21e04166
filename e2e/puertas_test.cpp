// Malformed input at every door of the running board: SIP, the RTP ports of a call, the two
// consoles, the agent port, the publication group and the configuration image. After each case
// no process of the board has died or been replaced, the sanitizers said nothing, and the door
// still answers a well-formed request.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "cfg/cfgpasarela.h"
#include "placa_e2e.h"
#include "procesos_placa.h"
#include "sip_e2e.h"

namespace {

using namespace e2e;

constexpr uint16_t kPuertoConsola = 19710;
constexpr uint16_t kPuertoConsolaDsp = 19720;
constexpr uint16_t kPuertoMant = 65001;    // agent commands to the core
constexpr uint16_t kPuertoAgente = 65000;  // the core's records to the agent
constexpr uint16_t kPuertoPublica = 1001;  // default group port 1000, plus one
const char kGrupo[] = "239.192.71.1";
const char kNombrePlaca[] = "PASARELA-E2E";
constexpr key_t kClaveImagen = 0x047BC021;

Bytes Aleatorio(size_t n, uint32_t uiSemilla) {
    std::mt19937 g(uiSemilla);
    Bytes s(n, '\0');
    for (auto& c : s) c = static_cast<char>(g() & 0xFF);
    return s;
}

int ConectaTcp(uint16_t usPuerto) {
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Direccion("127.0.0.1", usPuerto);
    if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(s);
        return -1;
    }
    return s;
}

void EnviaTcp(int s, const Bytes& b) {
    size_t i = 0;
    while (i < b.size()) {
        pollfd p{s, POLLOUT, 0};
        if (poll(&p, 1, 2000) != 1) return;  // a console that does not read drops the rest
        ssize_t n = send(s, b.data() + i, b.size() - i, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n <= 0) return;
        i += static_cast<size_t>(n);
    }
}

// What arrives on s until the text holds sBusca or iMs pass.
std::string LeeHasta(int s, const std::string& sBusca, int iMs) {
    std::string sTexto;
    EsperaQue(
        [&] {
            pollfd p{s, POLLIN, 0};
            while (poll(&p, 1, 0) == 1) {
                char ac[4096];
                ssize_t n = recv(s, ac, sizeof ac, MSG_DONTWAIT);
                if (n <= 0) break;
                sTexto.append(ac, static_cast<size_t>(n));
            }
            return sTexto.find(sBusca) != std::string::npos;
        },
        iMs);
    return sTexto;
}

// ---- Publication packets -----------------------------------------------------------------------

void Pon32(Bytes& b, size_t i, uint32_t v) {
    if (b.size() < i + 4) b.resize(i + 4, '\0');
    for (int k = 0; k < 4; k++) b[i + k] = static_cast<char>(v >> (24 - 8 * k));
}

Bytes Publicacion(const std::string& sPasarela, uint32_t n, const std::string& sRecurso, size_t iEntradas) {
    Bytes b(48 + 60 * iEntradas, '\0');
    Pon32(b, 0, 1);
    b.replace(4, sPasarela.size(), sPasarela);
    Pon32(b, 40, n);
    Pon32(b, 44, 7);
    for (size_t e = 0; e < iEntradas; e++) {
        const size_t o = 48 + 60 * e;
        const std::string sNombre = sRecurso + (e ? std::to_string(e) : "");
        b.replace(o, sNombre.size(), sNombre);
        Pon32(b, o + 36, 1);
        Pon32(b, o + 40, 1);
        Pon32(b, o + 44, 2);
    }
    return b;
}

// ---- The board and its checks ------------------------------------------------------------------

// One malformed input and the check of the door it went to.
struct Caso {
    const char* szNombre;
    std::function<void()> fAtaque;
    std::function<bool()> fContesta;
    bool bLargo = false;
};

// Console lines, each ended as a terminal ends it, in one text.
std::vector<Bytes> Lineas(const std::vector<std::string>& v) {
    Bytes r;
    for (auto& s : v) r += s + "\r" + '\0';
    return {r};
}
// Binary input without the bytes that start the consoles' stop and reset commands.
Bytes BinarioConsola(size_t n, uint32_t uiSemilla) {
    Bytes b = Aleatorio(n, uiSemilla);
    for (auto& c : b)
        if (c != '\0' && std::strchr("FfRrZzNn$", c)) c = 'x';
    return b;
}

class Puertas : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(placa.Arranca());
        // The console's input is the first connection: the cases' own ones must get it.
        placa.consola.reset();
        ASSERT_TRUE(CPlaca::RecursoDice(kTelefono, "CENTTLF[1]:Recurso DSP configurado", 40000)) << placa.Informe();
        ASSERT_TRUE(EsperaQue([&] { return Procesos().size() >= 6; }, 20000));
        iSip = SocketUdp(kPuertoUac);
        iAgente = SocketUdp(kPuertoAgente);
        iAtaque = SocketUdp();
        iPublica = SocketUdp(kPuertoPublica);
        ip_mreq m{};
        inet_pton(AF_INET, kGrupo, &m.imr_multiaddr);
        ASSERT_EQ(setsockopt(iPublica, IPPROTO_IP, IP_ADD_MEMBERSHIP, &m, sizeof m), 0);
        mProcesos = Procesos();
    }
    void TearDown() override {
        for (int s : {iSip, iAgente, iAtaque, iPublica})
            if (s >= 0) close(s);
        if (HasFailure()) std::printf("%s\nstdout/stderr:\n%s\n", placa.Informe().c_str(), placa.nucleo.Salida().c_str());
    }

    // The core and every process below it, pid -> command line.
    std::map<int, std::string> Procesos() {
        // Shell commands the core runs now and then are not part of the board.
        static const std::set<std::string> kProgramas{"velkord", "lintaro", "fonmira", "kalvesk", "dremson",
                                                      "sopwent", "norbeck", "plenwat", "tuskev", "standin"};
        std::vector<pid_t> vPids{placa.nucleo.Pid()};
        for (const auto& e : placa_procesos::Descendientes(placa.nucleo.Pid(), {})) vPids.push_back(e.iPid);
        std::map<int, std::string> m;
        for (pid_t p : vPids) {
            const std::string sLinea = pruebas::LineaDeOrdenes(p);
            if (kProgramas.count(sLinea.substr(0, sLinea.find(' ')))) m[p] = sLinea;
        }
        return m;
    }
    static std::multiset<std::string> Programas(const std::map<int, std::string>& m) {
        std::multiset<std::string> s;
        for (auto& [p, sLinea] : m) s.insert(sLinea);
        return s;
    }
    // Nothing died, nothing was restarted, the sanitizers said nothing.
    void NadieCayo() {
        EXPECT_TRUE(placa.nucleo.Vivo());
        EXPECT_EQ(Procesos(), mProcesos);
        EXPECT_TRUE(placa.SanitizersCallados()) << placa.nucleo.Salida();
    }

    bool SipContesta() {
        static int iN = 0;
        const std::string sCallId = "opciones" + std::to_string(++iN);
        EnviaUdp(iSip, "127.0.0.1", kPuertoSip, Peticion("OPTIONS", "TLF-01", sCallId, sCallId, 1));
        return !RecibeUdp(iSip, 5000, [&](const Bytes& b) {
                    return CodigoSip(b) >= 200 && Cabecera(b, "Call-ID") == sCallId;
                }).empty();
    }
    // An INVITE to the telephone line, then what ends it: CANCEL while it rings, ACK of a
    // refusal, ACK and BYE of an answer. The final answer's code, 0 when none came.
    int Invita(const std::string& sCuerpo, const std::string& sExtra = "") {
        static int iN = 0;
        const std::string sId = "invita" + std::to_string(++iN);
        auto Respuesta = [&](int iMs) {
            return RecibeUdp(iSip, iMs, [&](const Bytes& b) {
                return CodigoSip(b) >= 180 && Cabecera(b, "Call-ID") == sId && Cabecera(b, "CSeq") == "1 INVITE";
            });
        };
        auto EnDialogo = [&](const std::string& sMetodo, int iCSeq, const std::string& sRama, const Bytes& r) {
            return CambiaCabecera(Peticion(sMetodo, "TLF-01", sId, sRama, iCSeq), "To", Cabecera(r, "To"));
        };
        EnviaUdp(iSip, "127.0.0.1", kPuertoSip, Peticion("INVITE", "TLF-01", sId, sId, 1, sCuerpo, sExtra));
        Bytes r = Respuesta(3000);
        if (CodigoSip(r) > 0 && CodigoSip(r) < 200) {
            EnviaUdp(iSip, "127.0.0.1", kPuertoSip, Peticion("CANCEL", "TLF-01", sId, sId, 1));
            r = RecibeUdp(iSip, 5000, [&](const Bytes& b) {
                return CodigoSip(b) >= 200 && Cabecera(b, "Call-ID") == sId && Cabecera(b, "CSeq") == "1 INVITE";
            });
        }
        if (CodigoSip(r) >= 300) EnviaUdp(iSip, "127.0.0.1", kPuertoSip, EnDialogo("ACK", 1, sId, r));
        if (CodigoSip(r) == 200) {
            EnviaUdp(iSip, "127.0.0.1", kPuertoSip, EnDialogo("ACK", 1, sId + "a", r));
            EnviaUdp(iSip, "127.0.0.1", kPuertoSip, EnDialogo("BYE", 2, sId + "b", r));
        }
        return CodigoSip(r);
    }
    // One connection: sOrden, and whether sRespuesta came back (the connection must be the
    // console's input one, i.e. no other is open).
    static bool ConsolaDice(uint16_t usPuerto, const std::string& sOrden, const std::string& sRespuesta) {
        int s = ConectaTcp(usPuerto);
        if (s < 0) return false;
        // Input of a connection that is not yet the input one is dropped: say it again until
        // the connections before it have gone.
        bool b = false;
        for (int i = 0; i < 6 && !b; i++) {
            EnviaTcp(s, sOrden + '\0');
            b = LeeHasta(s, sRespuesta, 250).find(sRespuesta) != std::string::npos;
        }
        close(s);
        return b;
    }
    static bool ConsolaContesta(uint16_t usPuerto) {
        return EsperaQue([&] { return ConsolaDice(usPuerto, "?", "Muestra la ayuda."); }, 20000);
    }
    bool AgenteContesta() {
        return EsperaQue(
            [&] {
                EnviaUdp(iAtaque, "127.0.0.1", kPuertoMant, "A,T00");
                return !RecibeUdp(iAgente, 2500, [](const Bytes& b) { return b.rfind("V,R00,Estado", 0) == 0; })
                            .empty();
            },
            10000);
    }
    // A gateway's publication reaches the core's table (console command P shows it). A full
    // table makes room when its gateways age out, 15 s at most.
    bool RecibePublicaciones() {
        static int iN = 0;
        const std::string sPasarela = "PUERTA-" + std::to_string(++iN);
        return EsperaQue(
            [&] {
                EnviaUdp(iAtaque, kGrupo, kPuertoPublica, Publicacion(sPasarela, 1, "REC-1", 1));
                return ConsolaDice(kPuertoConsola, "P", "QLN=" + sPasarela + ":");
            },
            25000);
    }
    // The board's own publication, after the attacks.
    bool Publica() {
        return !RecibeUdp(iPublica, 8000, [](const Bytes& b) {
                    return b.size() >= 48 && b.compare(0, 4, std::string("\0\0\0\1", 4)) == 0 &&
                           b.compare(4, sizeof kNombrePlaca, std::string(kNombrePlaca, sizeof kNombrePlaca)) == 0;
                }).empty();
    }
    // Every door answers; the board publishes.
    void TodasContestan() {
        NadieCayo();
        EXPECT_TRUE(SipContesta());
        EXPECT_TRUE(ConsolaContesta(kPuertoConsola));
        EXPECT_TRUE(ConsolaContesta(kPuertoConsolaDsp));
        EXPECT_TRUE(AgenteContesta());
        EXPECT_TRUE(RecibePublicaciones());
        EXPECT_TRUE(Publica());
    }

    // Datagrams sent one after the other.
    void Rafaga(const char* szIp, uint16_t usPuerto, const std::vector<Bytes>& v) {
        for (auto& b : v) EnviaUdp(iAtaque, szIp, usPuerto, b);
    }
    // More connections than the console takes, each with a line, then all closed.
    static void MuchasConexiones(uint16_t usPuerto) {
        std::vector<int> v;
        for (int i = 0; i < 12; i++) {
            v.push_back(ConectaTcp(usPuerto));
            EnviaTcp(v.back(), "1234" + std::string(1, '\0'));
        }
        for (int s : v) close(s);
    }
    // Each text on a connection of its own, then closed (half-closed first when bMedio).
    static void EnConexiones(uint16_t usPuerto, const std::vector<Bytes>& v, bool bMedio = false) {
        for (auto& b : v) {
            int s = ConectaTcp(usPuerto);
            ASSERT_GE(s, 0);
            EnviaTcp(s, b);
            if (bMedio) {
                shutdown(s, SHUT_WR);
                LeeHasta(s, "\x01\x02", 300);
            }
            close(s);
        }
    }

    // Every door's malformed inputs; the long ones (bLargo) wait on the board's slow timers.
    std::vector<Caso> Casos() {
        const std::string sInvite = Peticion("INVITE", "NADIE", "trunca", "trunca", 1, Sdp());
        auto Sip = [&](const std::vector<Bytes>& v) { return [&, v] { Rafaga("127.0.0.1", kPuertoSip, v); }; };
        auto SipOk = [&] { return SipContesta(); };
        auto Consola = [](uint16_t p, const std::vector<Bytes>& v, bool bMedio = false) {
            return [p, v, bMedio] { EnConexiones(p, v, bMedio); };
        };
        auto ConsolaOk = [](uint16_t p) { return [p] { return ConsolaContesta(p); }; };
        auto Agente = [&](const std::vector<Bytes>& v) { return [&, v] { Rafaga("127.0.0.1", kPuertoMant, v); }; };
        auto AgenteOk = [&] { return AgenteContesta(); };
        auto Grupo = [&](const std::vector<Bytes>& v) { return [&, v] { Rafaga(kGrupo, kPuertoPublica, v); }; };
        auto GrupoOk = [&] { return RecibePublicaciones(); };
        std::vector<Bytes> vLlena;
        for (int i = 0; i < 70; i++) vLlena.push_back(Publicacion("LLENA-" + std::to_string(i), 20, "R", 20));
        std::vector<Bytes> vCortas;
        for (size_t n = 1; n < 48; n += 5) vCortas.push_back(Publicacion("CORTA", 16, "R", 16).substr(0, n));
        Bytes sSinNul = Publicacion("", 2, "", 2);
        std::fill(sSinNul.begin() + 4, sSinNul.begin() + 40, 'A');
        std::fill(sSinNul.begin() + 48, sSinNul.begin() + 84, 'B');
        std::fill(sSinNul.begin() + 108, sSinNul.end(), 'C');

        return {
            {"SIP truncated request", Sip({sInvite.substr(0, sInvite.size() / 2), sInvite.substr(0, 20), "INVITE",
                                           "INVITE sip:TLF-01@127.0.0.1 SIP/2.0\r\nVia:"}), SipOk},
            {"SIP binary garbage", Sip({Aleatorio(1, 1), Aleatorio(1400, 2), Aleatorio(9000, 3), Bytes(2000, '\0')}),
             SipOk},
            {"SIP oversized request",
             Sip({Peticion("INVITE", "TLF-01", "grande", "grande", 1, Sdp(), "Subject: " + Bytes(60000, 'x') + "\r\n"),
                  Peticion("OPTIONS", "TLF-01", "vias", "vias", 1, "",
                           [] {
                               std::string s;
                               for (int i = 0; i < 2000; i++) s += "Via: SIP/2.0/UDP 10.0.0.1:5060;branch=z9hG4bK" +
                                                                   std::to_string(i) + "\r\n";
                               return s;
                           }()),
                  Peticion("OPTIONS", Bytes(30000, 'u'), Bytes(20000, 'c'), "largo", 1)}),
             SipOk},
            {"SIP bad headers",
             Sip({"INVITE\r\n\r\n", "INVITE sip: SIP/2.0\r\n\r\n", "OPTIONS sip:TLF-01@127.0.0.1 SIP/9.9\r\n\r\n",
                  Peticion("OPTIONS", "TLF-01", "sincseq", "sincseq", 1, "", "CSeq: x y z\r\n"),
                  "OPTIONS sip:TLF-01@127.0.0.1 SIP/2.0\r\nCall-ID: sinvia\r\nCSeq: 1 OPTIONS\r\n\r\n",
                  "INVITE sip:TLF-01@127.0.0.1 SIP/2.0\r\nVia: basura\r\nFrom: <<<\r\nTo: >>>\r\nCall-ID:\r\n"
                  "CSeq: 99999999999999999999 INVITE\r\nMax-Forwards: -1\r\nContent-Length: abc\r\n\r\n",
                  Peticion("INVITE", "TLF-01", "sinpuntos", "sinpuntos", 1, Sdp(), "Cabecera sin dos puntos\r\n"),
                  Peticion("INVITE", "TLF-01", Bytes("nul\0nul", 7), "nul", 1, Sdp(), Bytes("X-Nul: a\0b\r\n", 11)),
                  Peticion("BYE", "TLF-01", "sindialogo", "sindialogo", 1),
                  Peticion("ACK", "TLF-01", "sindialogo", "sindialogo", 1),
                  Peticion("CANCEL", "TLF-01", "sindialogo", "sindialogo", 1)}),
             SipOk},
            {"SIP bad SDP",
             [&] {
                 const std::string sBase = "v=0\r\no=e2e 1 1 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\n";
                 std::string sCodecs;
                 for (int i = 0; i < 300; i++) sCodecs += " " + std::to_string(i % 128);
                 for (const std::string& sSdp : std::vector<std::string>{Sdp("99999999"), Sdp("-5"), Sdp("0"), Sdp("abc"), Sdp("7000", "999 -1 abc"), Sdp("7000", ""),
                       Sdp("7000", sCodecs), sBase, "v=0\r\n", Aleatorio(700, 19),
                       "v=0\r\nc=IN IP4 999.999.999.999\r\nm=audio 7000 RTP/AVP 8\r\n",
                       "v=0\r\nc=IN IP6 ::1\r\nm=audio 7000 RTP/AVP 8\r\n",
                       sBase + "m=video 7000 RTP/AVP 96\r\nm=audio 7002 RTP/AVP 8\r\n",
                       sBase + "m=audio 7000 RTP/AVP 8\r\na=rtpmap:8 " + Bytes(5000, 'p') + "\r\n",
                       sBase + "m=audio 7000 RTP/AVP 8\r\n" + [] {
                           std::string s;
                           for (int i = 0; i < 1500; i++) s += "a=x" + std::to_string(i) + "\r\n";
                           return s;
                       }(),
                       Bytes("v=0\nm=audio 7000 RTP/AVP 8\0\nc=IN IP4 127.0.0.1\n", 46)})
                     Invita(sSdp);
             },
             SipOk},
            {"SIP bad ED-137 headers",
             [&] {
                 for (const std::string& sExtra : std::vector<std::string>{"Supported: timer\r\nSession-Expires: 99999999\r\n", "Supported: timer\r\nSession-Expires: -9\r\n",
                       "Supported: timer\r\nSession-Expires: 2147483648;refresher=uac\r\n",
                       "Supported: timer\r\nSession-Expires: \r\n", "Supported: timer\r\nSession-Expires: x\r\n",
                       "Priority: " + Bytes(3000, 'e') + "\r\n", "Subject: \r\n", "WG67-Version: " + Bytes(2000, 'v') + "\r\n",
                       "Replaces: ;;;\r\nReferred-By: <\r\nP-Asserted-Identity: >\r\n", "Max-Forwards: 99999999999\r\n",
                       "Expires: -1\r\n"})
                     Invita(Sdp(), sExtra);
             },
             SipOk},
            {"SIP bad subscriptions",
             [&] {
                 int i = 0;
                 for (const std::string& sExtra : std::vector<std::string>{
                          "Event: WG67 KEY-IN\r\nExpires: 99999999\r\n", "Event: WG67 P/R\r\nExpires: 2147483\r\n",
                          "Event: WG67 KEY-IN\r\nExpires: -5\r\n", "Event: WG67 KEY-IN\r\nExpires: x\r\n",
                          "Event: " + Bytes(3000, 'k') + "\r\nExpires: 60\r\n", "Event: presence\r\nExpires: 99999999\r\n"}) {
                     const std::string sId = "suscribe" + std::to_string(++i);
                     EnviaUdp(iSip, "127.0.0.1", kPuertoSip, Peticion("SUBSCRIBE", "TLF-01", sId, sId, 1, "", sExtra));
                 }
             },
             SipOk},
            {"SIP flood of dialogs and subscriptions",
             [&] {
                 std::vector<Bytes> v;
                 for (int i = 0; i < 300; i++) {
                     const std::string sId = "inunda" + std::to_string(i);
                     v.push_back(Peticion("INVITE", "NADIE", sId, sId, 1, Sdp()));
                     v.push_back(Peticion("SUBSCRIBE", "TLF-01", sId + "s", sId + "s", 1, "",
                                          "Event: WG67 KEY-IN\r\nExpires: 3600\r\n"));
                     v.push_back(Peticion("OPTIONS", "TLF-01", sId + "o", sId + "o", 1));
                 }
                 Rafaga("127.0.0.1", kPuertoSip, v);
             },
             SipOk, true},
            {"SIP huge Content-Length",
             Sip({Peticion("INVITE", "TLF-01", "cl1", "cl1", 1, Sdp(), "", "999999999"),
                  Peticion("INVITE", "TLF-01", "cl2", "cl2", 1, Sdp(), "", "4294967296"),
                  Peticion("INVITE", "TLF-01", "cl3", "cl3", 1, Sdp(), "", "-1"),
                  Peticion("OPTIONS", "TLF-01", "cl4", "cl4", 1, "", "", "2147483648")}),
             SipOk},
            {"SIP stray and bad responses",
             Sip({"SIP/2.0 200 OK\r\nVia: SIP/2.0/UDP 127.0.0.1:5060;branch=z9hG4bKnada\r\nCall-ID: nada\r\n"
                  "CSeq: 1 INVITE\r\nContent-Length: 0\r\n\r\n",
                  "SIP/2.0 99999999999 X\r\n\r\n", "SIP/2.0\r\n\r\n", "SIP/2.0 180\r\n\r\n"}),
             SipOk},
            {"core console garbage commands",
             Consola(kPuertoConsola, Lineas({"12345", "#$%&", "O99999999999999999", "Ox", "O-5", "E-1", "E99999",
                                             "I-2147483648", "M99", "D99Dxx", "D-1P5", "Dxx", "B-1", "U", "P", "A"})),
             ConsolaOk(kPuertoConsola)},
            {"core console long lines and binary",
             Consola(kPuertoConsola, {Bytes(100000, 'x') + '\0', BinarioConsola(20000, 4),
                                      [] {
                                          std::string s;
                                          for (int i = 0; i < 3000; i++) s += "xyz" + std::string(1, '\0');
                                          return s;
                                      }()}),
             ConsolaOk(kPuertoConsola)},
            {"core console half-closed connections", Consola(kPuertoConsola, {"", "?", Bytes(500, 'x'), "O"}, true),
             ConsolaOk(kPuertoConsola), true},
            {"core console many connections", [] { MuchasConexiones(kPuertoConsola); }, ConsolaOk(kPuertoConsola), true},
            {"DSP console garbage commands",
             Consola(kPuertoConsolaDsp, Lineas({"12345", "#$%&", "Q-1", "Q99999", "B-5", "B70000", "O-1", "O4096",
                                                "LF-9", "LF99999", "RL-1", "RO99999", "RB", "W-1", "K-1", "S", "L",
                                                "E", "ETx", "I"})),
             ConsolaOk(kPuertoConsolaDsp)},
            {"DSP console dialogs answered with garbage",
             Consola(kPuertoConsolaDsp,
                     Lineas({"T1", "-1", "99999", "abc", "70000", "C99999", "-9", "255", "x", "2147483647", "D1",
                             Bytes(40, '9') + "#*ABCDxyz", "LS1", "-3", Bytes(40, '7'), "abc", "W99999", "99", "", "",
                             "K1", "7", "99", "-1", "P-4", "-77", "V1", "5", "-1", "9", "99999", "X70000", "3", "Y1",
                             "-1", "-1", "99999999", "ET1", "42", "M-1", "7", "SL1", "-99999", "abc", "999999999",
                             "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12", "13", "14", "15", "16",
                             "17", "18", "19", "20", "I"})),
             ConsolaOk(kPuertoConsolaDsp)},
            {"DSP console long lines and binary",
             Consola(kPuertoConsolaDsp, {Bytes(100000, 'x') + '\0', BinarioConsola(20000, 5)}),
             ConsolaOk(kPuertoConsolaDsp)},
            {"DSP console half-closed connections", Consola(kPuertoConsolaDsp, {"", "?", Bytes(500, 'x')}, true),
             ConsolaOk(kPuertoConsolaDsp), true},
            {"DSP console many connections", [] { MuchasConexiones(kPuertoConsolaDsp); }, ConsolaOk(kPuertoConsolaDsp), true},
            {"agent short datagrams", Agente({"", "A", "A,", "A,T0", "A,T01", "A,T01,", "A,T03,", "A,T04,", "C,"}),
             AgenteOk},
            {"agent oversized datagrams",
             Agente({"A,T01," + Bytes(600, 'x'), "A,T03," + Bytes(600, '9'), Aleatorio(60000, 6),
                     "A,T01,TLF-01," + Bytes(5000, '7') + ",TX,1"}),
             AgenteOk},
            {"agent garbage datagrams",
             Agente({Aleatorio(512, 7), "A,T03,99999999999,1", "A,T03,-7,1", "A,T04,16,1,1", "A,T04,-1,2,3",
                     "A,T01,TLF-01,99999,TX,1", "A,T01,TLF-01,-1,RX,1", "A,T01,,,,", "A,T01,x,y", "A,T01,TLF-01,0,TRX,1",
                     Bytes("A,T03,\0,\0", 10)}),
             AgenteOk},
            {"publication truncated records", Grupo(vCortas), GrupoOk},
            {"publication garbage records",
             Grupo({Aleatorio(1024, 8), Publicacion("ENORME", 0xFFFFFFFFu, "R", 1), sSinNul, Aleatorio(3, 9)}), GrupoOk},
            {"publication oversized records",
             Grupo({Publicacion("GRANDE", 16, "R", 16) + Aleatorio(3000, 10), Aleatorio(9000, 11),
                    Publicacion("GRANDE2", 1000, "R", 1000)}),
             GrupoOk},
            {"publication table overflow", Grupo(vLlena), GrupoOk, true},
        };
    }
    // Each case, then its door's check; the rest after the first that fails.
    void Recorre(const std::vector<Caso>& v, bool bLargos) {
        for (const Caso& c : v) {
            if (c.bLargo != bLargos) continue;
            SCOPED_TRACE(c.szNombre);
            c.fAtaque();
            NadieCayo();
            EXPECT_TRUE(c.fContesta());
            if (HasFailure()) return;
        }
    }

    CPlaca placa;
    std::map<int, std::string> mProcesos;
    int iSip = -1, iAgente = -1, iAtaque = -1, iPublica = -1;
};

TEST_F(Puertas, EveryDoorStillAnswersAfterMalformedInput) {
    Recorre(Casos(), false);
    TodasContestan();
}

// RTP packets (version 2 unless said) of a session.
Bytes Rtp(uint8_t ucPrimero, uint8_t ucSegundo, size_t n, const Bytes& sResto = "") {
    Bytes b(12, '\0');
    b[0] = static_cast<char>(ucPrimero);
    b[1] = static_cast<char>(ucSegundo);
    b[8] = 0x12;  // SSRC
    b += sResto;
    if (b.size() < n) b.resize(n, '\x55');
    return b;
}

std::vector<Bytes> RtpMalformados() {
    return {"", Bytes(1, '\x80'), Bytes(11, '\x80'), Rtp(0x00, 8, 172), Rtp(0x40, 8, 172), Rtp(0xC0, 8, 172),
            Rtp(0x8F, 8, 12),                                   // 15 CSRC announced, none there
            Rtp(0x8F, 8, 40),                                   // 15 CSRC, not all there
            Rtp(0x90, 8, 16, Bytes("\xBE\xDE\xFF\xFF", 4)),     // extension longer than the packet
            Rtp(0x90, 8, 14),                                   // extension header cut
            Rtp(0xA0, 8, 20, Bytes(7, '\0') + '\xFF'),          // padding longer than the packet
            Rtp(0xA0, 8, 12), Rtp(0x80, 0x7F, 172), Aleatorio(172, 12), Aleatorio(1500, 13), Aleatorio(60000, 14)};
}

std::vector<Bytes> RtcpMalformados() {
    return {"", Bytes(3, '\x81'), Bytes("\x81\xC8\xFF\xFF", 4) + Bytes(24, '\0'),  // SR longer than sent
            Bytes("\x9F\xC9\x00\x01", 4) + Bytes(4, '\0'),                        // 31 reports, none there
            Bytes("\x81\xCA\x00\x03", 4) + Bytes("\0\0\0\x12\x01\xFF", 6) + Bytes(6, 'a'),  // SDES item past the end
            Bytes("\x9F\xCB\x00\x01", 4) + Bytes(4, '\0'),                        // BYE of 31 sources
            Bytes("\x81\xCB\x00\x02", 4) + Bytes("\0\0\0\x12\xFF", 5) + Bytes(3, 'r'),  // reason past the end
            Bytes("\x80\xCC\x00\x01", 4) + Bytes(4, '\0'),                        // APP without its name
            Bytes("\xA1\xC8\x00\x06", 4) + Bytes(23, '\0') + '\xFF',               // padding past the start
            Bytes("\x81\xC8\x00\x00", 4), Aleatorio(100, 15), Aleatorio(1500, 16)};
}

// A call from the test's SIP socket to the telephone line, answered by lifting the handset:
// the board's RTP port, 0 when the call did not reach conversation.
struct Llamada {
    std::string sCallId = "rtp-llamada";
    std::string sTo;
    int iPuertoRtp = 0;
    std::string sDirRtp;
};

TEST_F(Puertas, SlowDoorsRtpPortsAndConfigurationImageSurviveMalformedInput) {
    SOLO_EN_E2E();
    Recorre(Casos(), true);
    const int iRtpLocal = 7000;
    int iMedios = SocketUdp(iRtpLocal);
    Llamada l;
    EnviaUdp(iSip, "127.0.0.1", kPuertoSip, Peticion("INVITE", "TLF-01", l.sCallId, "inv1", 1, Sdp()));
    ASSERT_TRUE(EsperaQue([&] { return placa.placa->Slic(kTelefono).find(" ring=1 ") != std::string::npos; }, 40000));
    placa.placa->Descuelga(kTelefono);
    const Bytes b200 = RecibeUdp(iSip, 40000, [&](const Bytes& b) {
        return CodigoSip(b) == 200 && Cabecera(b, "Call-ID") == l.sCallId;
    });
    ASSERT_FALSE(b200.empty());
    l.sTo = Cabecera(b200, "To");
    const size_t iM = b200.find("m=audio ");
    ASSERT_NE(iM, std::string::npos) << b200;
    l.iPuertoRtp = std::atoi(b200.c_str() + iM + 8);
    const size_t iC = b200.find("c=IN IP4 ");
    ASSERT_NE(iC, std::string::npos) << b200;
    l.sDirRtp = b200.substr(iC + 9, b200.find_first_of("\r\n", iC) - iC - 9);
    ASSERT_GT(l.iPuertoRtp, 0);
    auto EnDialogo = [&](const std::string& sMetodo, int iCSeq, const std::string& sRama,
                         const std::string& sCuerpo = "", const std::string& sExtra = "") {
        return CambiaCabecera(Peticion(sMetodo, "TLF-01", l.sCallId, sRama, iCSeq, sCuerpo, sExtra), "To", l.sTo);
    };
    EnviaUdp(iSip, "127.0.0.1", kPuertoSip, EnDialogo("ACK", 1, "ack1"));
    // The board's audio reaches the caller: the session is up.
    auto RtpLlega = [&] { return !RecibeUdp(iMedios, 3000, [](const Bytes& b) { return b.size() >= 12; }).empty(); };
    ASSERT_TRUE(RtpLlega());
    mProcesos = Procesos();

    const std::vector<Caso> vRtp = {
        {"RTP port malformed packets", [&] {
             // From the address the call's SDP gave, which the session expects.
             for (auto& b : RtpMalformados()) EnviaUdp(iMedios, l.sDirRtp.c_str(), l.iPuertoRtp, b);
         }, RtpLlega},
        {"RTCP port malformed packets", [&] {
             for (auto& b : RtcpMalformados()) EnviaUdp(iMedios, l.sDirRtp.c_str(), l.iPuertoRtp + 1, b);
         }, RtpLlega},
        {"SIP malformed requests inside the call",
         [&] {
             int iCSeq = 1;
             auto Envia = [&](const std::string& sMetodo, const std::string& sCuerpo, const std::string& sExtra) {
                 const std::string sRama = "dentro" + std::to_string(++iCSeq);
                 EnviaUdp(iSip, "127.0.0.1", kPuertoSip, EnDialogo(sMetodo, iCSeq, sRama, sCuerpo, sExtra));
                 const std::string sCSeq = std::to_string(iCSeq) + " " + sMetodo;
                 const Bytes r = RecibeUdp(iSip, 3000, [&](const Bytes& b) {
                     return CodigoSip(b) >= 200 && Cabecera(b, "CSeq") == sCSeq;
                 });
                 if (sMetodo == "INVITE" && CodigoSip(r) >= 200)
                     EnviaUdp(iSip, "127.0.0.1", kPuertoSip, EnDialogo("ACK", iCSeq, sRama + (CodigoSip(r) < 300 ? "a" : "")));
             };
             Envia("INVITE", Sdp("7000", "999 -1 abc"), "");
             Envia("INVITE", Aleatorio(600, 20), "");
             Envia("INVITE", "v=0\r\nc=IN IP4 999.1.1.1\r\nm=audio 7000 RTP/AVP 8\r\n", "");
             Envia("UPDATE", "", "Supported: timer\r\nSession-Expires: 99999999\r\n");
             Envia("INFO", Aleatorio(300, 21), "");
             Envia("REFER", "", "Refer-To: <<<" + Bytes(2000, 'r') + "\r\n");
             Envia("NOTIFY", "", "Event: WG67 KEY-IN\r\nSubscription-State: basura;expires=-1\r\n");
             Envia("OPTIONS", "", "");
         },
         RtpLlega},
    };
    for (const Caso& c : vRtp) {
        SCOPED_TRACE(c.szNombre);
        c.fAtaque();
        NadieCayo();
        EXPECT_TRUE(c.fContesta());
        EXPECT_EQ(CPlaca::LogRecurso(kTelefono).find("Fin llamada"), std::string::npos);
    }
    // The call still ends as calls end.
    EnviaUdp(iSip, "127.0.0.1", kPuertoSip, EnDialogo("BYE", 50, "bye50"));
    EXPECT_FALSE(RecibeUdp(iSip, 10000, [&](const Bytes& b) {
                     return CodigoSip(b) == 200 && Cabecera(b, "CSeq") == "50 BYE";
                 }).empty());
    placa.placa->Cuelga(kTelefono);
    close(iMedios);

    // The configuration image, as the agent writes it or as anyone may leave it in the segment.
    const std::string sEjemplos = DirFuente() + "../sim/cfgagent/ejemplos/";
    const std::string sAgente = pruebas::DirBuild() + "/sim/cfgagent/cfgagent escribe ";
    auto Segmento = [](const std::function<void(uint8_t*)>& fEscribe) {
        int id = shmget(kClaveImagen, CFG_TAM_IMAGEN, 0666);
        ASSERT_GE(id, 0);
        void* p = shmat(id, nullptr, 0);
        ASSERT_NE(p, reinterpret_cast<void*>(-1));
        fEscribe(static_cast<uint8_t*>(p));
        shmdt(p);
    };
    auto Senal = [&] { kill(placa.nucleo.Pid(), 40); };
    auto Descripcion = [&](const std::string& sTexto) {
        const std::string f = "/mnt/ramfs/descripcion_mala.ini";
        if (FILE* pf = std::fopen(f.c_str(), "w")) {
            std::fputs(sTexto.c_str(), pf);
            std::fclose(pf);
        }
        return std::system((sAgente + f + " --pid " + std::to_string(placa.nucleo.Pid()) + " >/dev/null 2>&1").c_str());
    };
    int iVersion = 0;
    // A valid description, told apart by its identifier, is taken: the dump of the live
    // configuration shows it.
    auto TomaValida = [&] {
        const std::string sId = "CFG-E2E-VALIDA-" + std::to_string(++iVersion);
        std::string sIni = LeeTodo(sEjemplos + "placa_completa.ini");
        const size_t i = sIni.find("acIdConfig=");
        sIni.replace(i, sIni.find('\n', i) - i, "acIdConfig=" + sId);
        if (Descripcion(sIni) != 0) return false;
        return EsperaQue([&] { return LeeTodo("/mnt/ramfs/var/cfg").find(sId) != std::string::npos; }, 15000);
    };
    ASSERT_TRUE(TomaValida());
    const Bytes sValida = [&] {
        Bytes b(CFG_TAM_IMAGEN, '\0');
        Segmento([&](uint8_t* p) { std::memcpy(&b[0], p, CFG_TAM_IMAGEN); });
        return b;
    }();
    const std::vector<Caso> vCfg = {
        {"image truncated",
         [&] {
             Segmento([&](uint8_t* p) { std::memset(p + CFG_TAM_IMAGEN / 3, 0, CFG_TAM_IMAGEN - CFG_TAM_IMAGEN / 3); });
             Senal();
         },
         TomaValida},
        {"image garbage",
         [&] {
             const Bytes b = Aleatorio(CFG_TAM_IMAGEN, 17);
             Segmento([&](uint8_t* p) { std::memcpy(p, b.data(), b.size()); });
             Senal();
         },
         TomaValida},
        {"image with counts and texts out of bounds",
         [&] {
             Segmento([&](uint8_t* p) {
                 std::memcpy(p, sValida.data(), sValida.size());
                 auto* img = reinterpret_cast<cfgImagenPasarela*>(p);
                 img->iNumRecursos = 0x7FFFFFFF;
                 for (auto& r : img->asRecursos) {
                     r.size_aListaEnlacesExternos = -5;
                     std::memset(r.nombre, 'N', sizeof r.nombre);
                     std::memset(r.szUriLocal, 'U', sizeof r.szUriLocal);
                     r.iSlot = 1000;
                     r.iDispositivo = -3;
                 }
                 std::memset(img->szNombre, 'P', sizeof img->szNombre);
                 std::memset(img->acGrupoMulticast, '9', sizeof img->acGrupoMulticast);
             });
             Senal();
         },
         TomaValida},
        {"segment of the wrong size",
         [&] {
             shmctl(shmget(kClaveImagen, CFG_TAM_IMAGEN, 0666), IPC_RMID, nullptr);
             int id = shmget(kClaveImagen, 4096, IPC_CREAT | 0666);
             EXPECT_GE(id, 0);
             Senal();
             EXPECT_TRUE(CPlaca::NucleoDice("NO encuentra memoria compartida", 10000));
             shmctl(id, IPC_RMID, nullptr);
         },
         TomaValida},
        {"agent tool on a garbage description",
         [&] {
             Descripcion("[GENERAL]\nszNombre=" + Bytes(500, 'n') + "\niNumRecursos=99999\n[RECURSO-99]\nnombre=X\n"
                         "[RECURSO-1]\niTipoIf=77\nnombre=" + Bytes(300, 'r') + "\niSlot=-4\n[RECURSO-\n=\n" +
                         BinarioConsola(3000, 18) + "\n");
         },
         TomaValida},
    };
    for (const Caso& c : vCfg) {
        SCOPED_TRACE(c.szNombre);
        c.fAtaque();
        // Resources come and go with the configuration: only the core must stay.
        EXPECT_TRUE(placa.nucleo.Vivo());
        EXPECT_TRUE(c.fContesta());
        EXPECT_TRUE(placa.SanitizersCallados()) << placa.nucleo.Salida();
        if (HasFailure()) break;
    }
    // Malformed answers to the board's own requests: the hot line's far end, supervised with
    // OPTIONS, answers them with garbage.
    const int iColateral = SocketUdp(5071);
    {
        std::string sIni = LeeTodo(sEjemplos + "placa_completa.ini");
        const std::string sUri = "szUriRemota=sip:LC-02@192.0.2.24";
        sIni.replace(sIni.find(sUri), sUri.size(),
                     "szUriRemota=sip:LC-02@127.0.0.1:5071\nisuperv_options=1\nitm_superv_options=1");
        ASSERT_EQ(Descripcion(sIni), 0);
    }
    const std::vector<std::pair<std::string, std::string>> vRespuestas = {
        {"200 OK", "Content-Length: 99999\r\n"},
        {"99999 X", ""},
        {"200 OK", "Contact: <<<\r\nExpires: 99999999999\r\n"},
        {"302 Moved", "Contact: " + Bytes(3000, 'c') + "\r\n"},
        {"401 Unauthorized", "WWW-Authenticate: Digest realm=\"abc,nonce=\r\n"},
        {"407 Proxy Authentication Required", "Proxy-Authenticate: Digest ,,,,,\r\n"},
        {"401 Unauthorized", "WWW-Authenticate: Digest realm=\"r\", nonce=\"" + Bytes(5000, 'n') + "\"\r\n"},
        {"200 OK", "X: " + Bytes(60000, 'x') + "\r\n"},
        {"183 Progress", "Content-Type: application/sdp\r\n"},
        {"200 OK", ""},
    };
    for (const auto& [sEstado, sExtra] : vRespuestas) {
        SCOPED_TRACE(sEstado + " " + sExtra.substr(0, 60));
        sockaddr_in aDe{};
        socklen_t lDe = sizeof aDe;
        std::string sPeticion;
        ASSERT_TRUE(EsperaQue(
            [&] {
                pollfd pf{iColateral, POLLIN, 0};
                if (poll(&pf, 1, 100) != 1) return false;
                char ac[65536];
                ssize_t n = recvfrom(iColateral, ac, sizeof ac, 0, reinterpret_cast<sockaddr*>(&aDe), &lDe);
                sPeticion.assign(ac, n > 0 ? static_cast<size_t>(n) : 0);
                return sPeticion.rfind("OPTIONS ", 0) == 0;
            },
            20000));
        std::string r = "SIP/2.0 " + sEstado + "\r\n";
        for (const char* szCab : {"Via", "From", "Call-ID", "CSeq"}) r += std::string(szCab) + ": " + Cabecera(sPeticion, szCab) + "\r\n";
        r += "To: " + Cabecera(sPeticion, "To") + ";tag=colateral\r\n" + sExtra;
        if (sExtra.find("Content-Length") == std::string::npos) r += "Content-Length: 0\r\n";
        r += "\r\n";
        sendto(iColateral, r.data(), r.size(), 0, reinterpret_cast<sockaddr*>(&aDe), lDe);
        EXPECT_TRUE(placa.nucleo.Vivo());
        if (HasFailure()) break;
    }
    close(iColateral);
    {
        EXPECT_TRUE(placa.SanitizersCallados()) << placa.nucleo.Salida();
    }
    ASSERT_TRUE(TomaValida());

    // Back on the example: the same programs run again, and every door answers.
    EXPECT_TRUE(EsperaQue([&] { return Programas(Procesos()) == Programas(mProcesos); }, 40000));
    mProcesos = Procesos();
    TodasContestan();
}

}  // namespace
