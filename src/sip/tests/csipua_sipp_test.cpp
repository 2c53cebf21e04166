// The user agent against sipp on loopback with the ED-137 headers: the gateway's INVITE as
// sipp receives it, reliable provisional answers, the ACK, the session timer and a call into
// the gateway.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include "agente_sip_prueba.h"
#include "comun/nlog.h"

namespace {

std::string Fichero(const std::string& ruta) {
    std::ifstream f(ruta);
    return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

// The first message of the trace that begins with sInicio.
std::string MensajeTraza(const std::string& traza, const std::string& sInicio) {
    size_t p = traza.find("\n" + sInicio);
    if (p == std::string::npos) return "";
    size_t fin = traza.find("\n-------", p);
    return traza.substr(p + 1, fin == std::string::npos ? std::string::npos : fin - p - 1);
}

std::string Minusculas(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

class AgenteSipp : public ::testing::Test {
protected:
    void SetUp() override { CSipua::FijaReloj(&TicksPrueba); }
    void Arranca(int iModo) {
        const int32_t codecs[] = {8, 0};
        ASSERT_EQ(ap.Inicia_Sipua_Gus("ua", SIP_USR_TELEFONO, codecs, 2, "127.0.0.1", "127.0.0.1", 0, &ap, iModo), 0);
        iRadio = ap.AltaUsuarioSip("radio1", SIP_USR_RADIO, codecs, 2, 0);
        ASSERT_GE(iRadio, 0);
    }
    AplicPrueba ap;
    int iRadio = -1;
    const std::string sTraza = "/tmp/uas_ed137_msgs.log";
};

TEST_F(AgenteSipp, GatewayInviteCarriesTheEd137HeadersAndRadioBlock) {
    Arranca(0);
    Sipp sipp({"-sf", DirEscenariosSip() + "uas_ed137.xml", "-m", "1", "-trace_msg", "-message_file", sTraza, "-key",
               "temporizador", "Session-Expires: 90;refresher=uac"});
    ParamLlamadaRadio p{};
    p.prio = 4;
    std::strcpy(p.acParamTo, "rad1");
    std::strcpy(p.acParamFrom, "r1");
    std::strcpy(p.fid, "118.000");
    p.bss = 1;
    const int cid = ap.IniciaLlamada(iRadio, "sip:radio1@127.0.0.1", "sip:rad@127.0.0.1:5070",
                                     "sip:rad@127.0.0.1:5070", "5004", "radio", 1, &p);
    ASSERT_GT(cid, 0);
    ASSERT_TRUE(ap.Espera("Traplic_Call_Answer"));
    EXPECT_GE(ap.Cuenta("Traplic_Ringing"), 1);
    EXPECT_EQ(ap.Ultima("Traplic_Call_Answer").iUsuario, iRadio);
    EXPECT_EQ(ap.CierraSesion(iRadio, cid, 229), 0);
    EXPECT_EQ(sipp.Espera(), 0) << sipp.Log();
    const std::string traza = Fichero(sTraza);
    const std::string inv = MensajeTraza(traza, "INVITE sip:rad@127.0.0.1:5070;rk82rs=rad1;rk82prio=4 SIP/2.0");
    ASSERT_FALSE(inv.empty()) << traza;
    const std::string cab = Minusculas(inv.substr(0, inv.find("\r\n\r\n") + 2));
    for (const char* sz : {"\r\nsubject: radio\r\n", "\r\npriority: emergency\r\n", "\r\nmax-forwards: 20\r\n",
                           "\r\nwg67-version: radio.01\r\n", "\r\nsupported: 100rel\r\n",
                           "\r\nuser-agent: zq4m-qln/1.0.0\r\n", "\r\nvia: sip/2.0/udp 127.0.0.1",
                           "\r\nto: <sip:rad@127.0.0.1:5070;rk82rs=rad1;rk82prio=4>\r\n",
                           "\r\nfrom: <sip:radio1@127.0.0.1;rk82rs=r1>;tag=", "sip:radio1@127.0.0.1",
                           "\r\ncontent-type: application/sdp\r\n"})
        EXPECT_NE(cab.find(sz), std::string::npos) << sz << "\n" << inv;
    EXPECT_EQ(cab.find("session-expires"), std::string::npos) << inv;
    const std::string sdp = inv.substr(inv.find("\r\n\r\n") + 4);
    EXPECT_EQ(sdp.substr(0, sdp.find("m=")),
              "v=0\r\no=SIPUA 0 0 IN IP4 127.0.0.1\r\ns=conversation\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\n");
    EXPECT_NE(sdp.find("m=audio 5004 RTP/AVP 8 0 123\r\na=rtpmap:0 PCMU/8000\r\na=rtpmap:8 PCMA/8000\r\n"
                       "a=rtpmap:123 R2S/8000\r\na=sendrecv\r\na=type:Radio\r\na=bss:RSSI\r\na=ptt_rep:0\r\n"
                       "a=fid:118.000\r\na=rtphe:1\r\na=R2S-KeepAlivePeriod:200\r\n"
                       "a=R2S-KeepAliveMultiplier:10\r\n"),
              std::string::npos)
        << sdp;
    EXPECT_FALSE(MensajeTraza(traza, "PRACK ").empty()) << traza;
    const std::string ack = Minusculas(MensajeTraza(traza, "ACK "));
    EXPECT_NE(ack.find("\r\nwg67-version: radio.01\r\n"), std::string::npos) << ack;
    const std::string bye = MensajeTraza(traza, "BYE ");
    EXPECT_NE(bye.find("WG-67; cause=2008; text=\"QLN standby mode\""), std::string::npos) << bye;
}

TEST_F(AgenteSipp, ExpiredSessionTimerEndsTheSessionWithItsBye) {
    Arranca(1);
    Sipp sipp({"-sf", DirEscenariosSip() + "uas_ed137.xml", "-m", "1", "-trace_msg", "-message_file", sTraza, "-key",
               "temporizador", "Session-Expires: 90;refresher=uac"});
    const int cid = ap.IniciaLlamada(0, "sip:ua@127.0.0.1", "sip:b@127.0.0.1:5070", "sip:b@127.0.0.1:5070", "5006",
                                     "IA call", 4, nullptr);
    ASSERT_GT(cid, 0);
    ASSERT_TRUE(ap.Espera("Traplic_Call_Answer"));
    EXPECT_EQ(ap.Cuenta("Traplic_Closed"), 0);
    AdelantoTicks() += 9100;  // 91 s: past the 90 s of Session-Expires
    ASSERT_TRUE(ap.Espera("Traplic_Closed"));
    EXPECT_EQ(ap.Ultima("Traplic_Closed").s.cid, cid);
    EXPECT_EQ(sipp.Espera(), 0) << sipp.Log();
    const std::string traza = Fichero(sTraza);
    const std::string inv = MensajeTraza(traza, "INVITE ");
    EXPECT_NE(Minusculas(inv).find("\r\nsession-expires: 90;refresher=uac\r\n"), std::string::npos) << inv;
    EXPECT_NE(Minusculas(inv).find("\r\npriority: urgent\r\n"), std::string::npos) << inv;  // IA calls are urgent
    EXPECT_NE(Minusculas(MensajeTraza(traza, "ACK ")).find("\r\nwg67-version: phone.01\r\n"), std::string::npos);
    EXPECT_FALSE(MensajeTraza(traza, "BYE ").empty()) << traza;
}

// A peer that takes no session timer answers without Session-Expires: the call has no expiry,
// and ends only when one side ends it.
TEST_F(AgenteSipp, AnswerWithoutSessionExpiresLeavesTheCallWithoutExpiry) {
    Arranca(1);
    Sipp sipp({"-sf", DirEscenariosSip() + "uas_ed137.xml", "-m", "1", "-trace_msg", "-message_file", sTraza, "-key",
               "temporizador", "Supported: 100rel"});
    const int cid = ap.IniciaLlamada(0, "sip:ua@127.0.0.1", "sip:b@127.0.0.1:5070", "sip:b@127.0.0.1:5070", "5006",
                                     "IA call", 4, nullptr);
    ASSERT_GT(cid, 0);
    ASSERT_TRUE(ap.Espera("Traplic_Call_Answer"));
    AdelantoTicks() += 9100;  // 91 s: past the 90 s the INVITE offered
    // A window of supervision passes (tens of milliseconds each) in which the call must live.
    EXPECT_FALSE(ap.Espera("Traplic_Closed", 1, 1500));
    EXPECT_EQ(ap.CierraSesion(0, cid, 0), 0);
    EXPECT_EQ(sipp.Espera(), 0) << sipp.Log();
    EXPECT_FALSE(MensajeTraza(Fichero(sTraza), "BYE ").empty());
}

TEST_F(AgenteSipp, AnswersAnEd137CallFromSipp) {
    Arranca(1);
    Sipp sipp({"-sf", DirEscenariosSip() + "uac_ed137.xml", "-m", "1", "-s", "ua", "127.0.0.1:5060"});
    EXPECT_EQ(sipp.Espera(), 0) << sipp.Log();
    // The session ends with the BYE: the stack's release that follows finds none and is dropped.
    ASSERT_TRUE(ap.Espera("Traplic_Closed"));
    EXPECT_EQ(ap.Nombres(), (std::vector<std::string>{"Traplic_Invite", "Traplic_ACK", "Traplic_Closed"}));
    auto inv = ap.Ultima("Traplic_Invite");
    EXPECT_EQ(inv.iUsuario, 0);
    EXPECT_EQ(inv.s.incomming_priority, 2);
    EXPECT_EQ(inv.s.iPayload, 8);
    EXPECT_STREQ(inv.s.acSessionExpires, "120");
}

}  // namespace

namespace {

// The registrar grants 2 s: the stack refreshes the registration with the credentials of the
// challenge; the agent sends only the first REGISTER and the one that answers the challenge,
// even with its clock far past the grant.
TEST(RegistroSip, RegistersWithTheConfiguredPasswordAndTheStackRefreshes) {
    CSipua::FijaReloj(&TicksPrueba);
    static std::atomic<int> iEnviosAgente{0};
    iEnviosAgente = 0;
    NLOG::FijaCaptura([](int, const char* sz) {
        if (std::strstr(sz, "SIPUA: eXosip_register_send_register()=")) iEnviosAgente++;
    });
    AplicPrueba ap;
    const int32_t codecs[] = {8};
    ASSERT_EQ(ap.Inicia_Sipua_Gus("ua", SIP_USR_TELEFONO, codecs, 1, "127.0.0.1", "127.0.0.1", 0, &ap, 1), 0);
    Sipp sipp({"-sf", DirEscenariosSip() + "uas_registro_clave.xml", "-m", "1"});
    char acRegistrar[3][65] = {"127.0.0.1:5070", "", ""};
    ap.FijaServidoresSip(acRegistrar, 3, acRegistrar);
    const int iRadio = ap.AltaUsuarioSip("radio1", SIP_USR_RADIO, codecs, 1, 1, "clave-radio1");
    ASSERT_GE(iRadio, 0);
    ap.DameSipua()->ActivaRegistro(1);
    UsuarioSipua u{};
    auto EsperaEstado = [&](int iEstado) {
        for (int i = 0; i < 1000; i++) {
            if (ap.DameSipua()->DameUsuario(iRadio, &u) && u.iEstadoRegistro == iEstado) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    };
    ASSERT_TRUE(EsperaEstado(SIP_REGEST_OK)) << sipp.Log();
    AdelantoTicks() += 1700;  // the agent's clock past what it asked (20 s): still not its turn
    EXPECT_EQ(sipp.Espera(), 0) << sipp.Log();  // the scenario ends with the refresh accepted
    EXPECT_TRUE(EsperaEstado(SIP_REGEST_OK));
    EXPECT_EQ(iEnviosAgente.load(), 2);
    NLOG::FijaCaptura(nullptr);
    UsuarioSipua ua{};
    ASSERT_TRUE(ap.DameSipua()->DameUsuario(0, &ua));
    EXPECT_EQ(ua.iEstadoRegistro, SIP_REGEST_REPOSO);  // not to be registered
}

}  // namespace

namespace {

TEST(RegistroSip, UserWithoutPasswordIsNotSentAgainAfterAChallenge) {
    CSipua::FijaReloj(&TicksPrueba);
    static std::atomic<bool> bSinClave{false};
    NLOG::FijaCaptura([](int, const char* sz) {
        if (std::strstr(sz, "SIPUA: usuario radio1 sin clave para el registro")) bSinClave = true;
    });
    AplicPrueba ap;
    const int32_t codecs[] = {8};
    ASSERT_EQ(ap.Inicia_Sipua_Gus("radio1", SIP_USR_RADIO, codecs, 1, "127.0.0.1", "127.0.0.1", 1, &ap, 1), 0);
    Sipp sipp({"-sf", DirEscenariosSip() + "uas_registro_reto.xml", "-m", "1"});
    char acRegistrar[3][65] = {"127.0.0.1:5070", "", ""};
    ap.FijaServidoresSip(acRegistrar, 3, acRegistrar);
    ap.DameSipua()->ActivaRegistro(1);
    EXPECT_EQ(sipp.Espera(), 0) << sipp.Log();
    for (int i = 0; i < 500 && !bSinClave; i++) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(bSinClave);
    UsuarioSipua u{};
    ASSERT_TRUE(ap.DameSipua()->DameUsuario(0, &u));
    EXPECT_EQ(u.iEstadoRegistro, SIP_REGEST_DENEGADO);
}

}  // namespace
