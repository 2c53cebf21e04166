// Subscriptions: presence bodies, reading received NOTIFY bodies, and incoming SUBSCRIBE
// requests from a bare peer on loopback.
#include "sip/suscripciones.h"

#include <gtest/gtest.h>

#include "agente_sip_prueba.h"

namespace {

TEST(Presencia, BodiesByStatus) {
    char ac[1024];
    CuerpoPresencia(6, "sip:a@b", ac, sizeof ac);
    EXPECT_STREQ(ac,
                 "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<presence xmlns=\"urn:ietf:params:xml:ns:pidf\"\n"
                 "\t\t  xmlns:es=\"urn:ietf:params:xml:ns:pidf:status:rpid-status\"\n\t\t  entity=\"sip:a@b\">\n"
                 "<tuple id=\"sg89ae\">\n<status>\n<basic>open</basic>\n<es:activities>\n"
                 "  <es:activity>on-the-phone</es:activity>\n</es:activities>\n</status>\n"
                 "<contact priority=\"0.8\">sip:a@b</contact>\n<note>on the phone</note>\n</tuple>\n</presence>");
    CuerpoPresencia(2, "sip:a@b", ac, sizeof ac);
    EXPECT_STREQ(ac,
                 "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<presence xmlns=\"urn:ietf:params:xml:ns:pidf\"\n"
                 "\t\t  entity=\"sip:a@b\">\n<tuple id=\"sg89ae\">\n<status>\n<basic>open</basic>\n</status>\n"
                 "<contact priority=\"0.8\">sip:a@b</contact>\n<note>online</note>\n</tuple>\n</presence>");
    CuerpoPresencia(8, "sip:a@b", ac, sizeof ac);
    EXPECT_STREQ(ac,
                 "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<presence xmlns=\"urn:ietf:params:xml:ns:pidf\"\n"
                 "xmlns:es=\"urn:ietf:params:xml:ns:pidf:status:rpid-status\"\nentity=\"sip:a@b\">\n"
                 "<tuple id=\"sg89ae\">\n<status>\n<basic>closed</basic>\n<es:activities>\n"
                 "  <es:activity>permanent-absence</es:activity>\n</es:activities>\n</status>\n</tuple>\n\n"
                 "</presence>\n");
}

TEST(Presencia, ReceivedNotifyBodies) {
    struct Caso {
        int iEstado;
        const char* szTipo;
        const char* szCuerpo;
        int iResultado, iPresencia;
    } casos[] = {
        {2, "application/pidf+xml", "<basic>open</basic><es:activity>meal</es:activity>", 0, 7},
        {2, "application/pidf+xml", "<basic>Closed</basic>", 0, 8},
        {2, "application/pidf+xml", "<basic>open</basic></status><note>busy</note>", 0, 2},
        {2, "application/xpidf+xml", "<atom><status status=\"berightback\"/>", 0, 4},
        {2, "text/plain", "online", -1, 0},
        {1, "application/pidf+xml", "<basic>open</basic>", 0, 1},
        {3, "application/pidf+xml", "<basic>open</basic>", 0, 0},
    };
    parser_init();
    for (auto& c : casos) {
        std::string t = std::string("NOTIFY sip:a@b SIP/2.0\r\nVia: SIP/2.0/UDP 1.2.3.4;branch=z9hG4bK1\r\n"
                                    "From: <sip:b@c>;tag=1\r\nTo: <sip:a@b>;tag=2\r\nCall-ID: n1\r\nCSeq: 1 NOTIFY\r\n"
                                    "Content-Type: ") +
                        c.szTipo + "\r\nContent-Length: " + std::to_string(std::strlen(c.szCuerpo)) + "\r\n\r\n" +
                        c.szCuerpo;
        osip_message_t* m = nullptr;
        osip_message_init(&m);
        ASSERT_EQ(osip_message_parse(m, t.c_str(), t.size()), 0);
        eXosip_event_t e{};
        e.request = m;
        Suscripcion r{};
        r.iEstado = c.iEstado;
        EXPECT_EQ(LeeEstadoNotify(&r, &e), c.iResultado) << c.szCuerpo;
        EXPECT_EQ(r.iEstadoPresencia, c.iPresencia) << c.szCuerpo;
        osip_message_free(m);
    }
}

std::string Suscribe(const std::string& sCallId, const std::string& sEvento, int iExpira,
                     const std::string& sTagTo = "", int iCSeq = 1) {
    return "SUBSCRIBE sip:ua@127.0.0.1:5060 SIP/2.0\r\n"
           "Via: SIP/2.0/UDP 127.0.0.1:5080;branch=z9hG4bK" + sCallId + std::to_string(iCSeq) + "\r\n"
           "From: <sip:x@127.0.0.1:5080>;tag=1" + sCallId + "\r\n"
           "To: <sip:ua@127.0.0.1:5060>" + (sTagTo.empty() ? "" : ";tag=" + sTagTo) + "\r\n"
           "Call-ID: " + sCallId + "\r\nCSeq: " + std::to_string(iCSeq) + " SUBSCRIBE\r\n"
           "Contact: <sip:x@127.0.0.1:5080>\r\nMax-Forwards: 70\r\nEvent: " + sEvento + "\r\n"
           "Expires: " + std::to_string(iExpira) + "\r\nContent-Length: 0\r\n\r\n";
}

// Datagrams from the agent within ms: the answers to sCallId and its NOTIFY requests.
std::vector<std::string> Recoge(Crudo& c, const std::string& sCallId, int ms) {
    std::vector<std::string> v;
    auto fin = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < fin) {
        std::string r = c.Recibe(50);
        if (!r.empty() && r.find("Call-ID: " + sCallId + "\r\n") != std::string::npos) v.push_back(r);
    }
    return v;
}

std::string Primero(const std::vector<std::string>& v, const std::string& sInicio) {
    for (auto& m : v)
        if (m.compare(0, sInicio.size(), sInicio) == 0) return m;
    return "";
}

class SuscripcionEntrante : public ::testing::Test {
protected:
    void SetUp() override {
        CSipua::FijaReloj(&TicksPrueba);
        const int32_t codecs[] = {8};
        ASSERT_EQ(ap.Inicia_Sipua_Gus("ua", SIP_USR_RADIO, codecs, 1, "127.0.0.1", "127.0.0.1", 0, &ap, 1), 0);
    }
    AplicPrueba ap;
    Crudo crudo;
};

TEST_F(SuscripcionEntrante, KeyInIsAnsweredWithoutNotifyAndReported) {
    crudo.Envia(Suscribe("k1", "WG67 KEY-IN", 600));
    auto v = Recoge(crudo, "k1", 500);
    std::string ok = Primero(v, "SIP/2.0 200");
    ASSERT_FALSE(ok.empty());
    EXPECT_TRUE(Primero(v, "NOTIFY").empty());
    ASSERT_TRUE(ap.Espera("Traplic_WG67_Key_In_Subscription"));
    auto o = ap.Ultima("Traplic_WG67_Key_In_Subscription");
    EXPECT_EQ(o.iUsuario, 0);
    EXPECT_EQ(o.iValor3, 600000);
    InSuscripcion r;
    ASSERT_TRUE(BuscaInSuscripcion(o.iValor1, &r));
    // The bridge's Key-In list goes out as text/plain in the subscription.
    EXPECT_EQ(ap.DameSipua()->NotificaSuscripcion(o.iValor1, "WG67 KEY-IN", "1,sip:a@b\r\n"), 0);
    std::string n = Primero(Recoge(crudo, "k1", 500), "NOTIFY");
    EXPECT_EQ(Valor(n, "Content-Type"), "text/plain") << n;
    EXPECT_EQ(n.substr(n.size() - 11), "1,sip:a@b\r\n") << n;
    // Unsubscribe: expiry 0 ends it.
    crudo.Envia(Suscribe("k1", "WG67 KEY-IN", 0, TagTo(ok), 2));
    ASSERT_TRUE(ap.Espera("Traplic_WG67_Key_In_Subscription", 2));
    EXPECT_EQ(ap.Ultima("Traplic_WG67_Key_In_Subscription").iValor3, -1);
}

TEST_F(SuscripcionEntrante, OtherPackagesGetAPendingNotify) {
    for (const char* szEvento : {"WG67 P/R", "presence"}) {
        const std::string id = szEvento[0] == 'W' ? "pr1" : "pres1";
        crudo.Envia(Suscribe(id, szEvento, 600));
        auto v = Recoge(crudo, id, 500);
        EXPECT_FALSE(Primero(v, "SIP/2.0 200").empty()) << szEvento;
        std::string n = Primero(v, "NOTIFY");
        EXPECT_EQ(Valor(n, "Subscription-State").substr(0, 7), "pending") << n;
        EXPECT_EQ(n.find("\r\n\r\n") + 4, n.size()) << "no body\n" << n;
    }
    EXPECT_EQ(ap.Cuenta("Traplic_WG67_Key_In_Subscription"), 1);  // P/R only
}

TEST_F(SuscripcionEntrante, HundredAndFirstSubscriptionIsRefused) {
    for (int i = 0; i < MAX_SUSCRIPCIONES; i++) crudo.Envia(Suscribe("s" + std::to_string(i), "WG67 KEY-IN", 600));
    ASSERT_TRUE(ap.Espera("Traplic_WG67_Key_In_Subscription", MAX_SUSCRIPCIONES, 20000));
    EXPECT_EQ(CuentaInSuscripciones(), MAX_SUSCRIPCIONES);
    crudo.Envia(Suscribe("s100", "WG67 KEY-IN", 600));
    EXPECT_TRUE(Primero(Recoge(crudo, "s100", 700), "SIP/2.0 200").empty());
    EXPECT_EQ(ap.Cuenta("Traplic_WG67_Key_In_Subscription"), MAX_SUSCRIPCIONES);
}

}  // namespace
