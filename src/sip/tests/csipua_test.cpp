// The user agent against a bare SIP peer on loopback: screening of incoming INVITEs, priority
// derivation, in-dialog requests (INFO, REFER, re-INVITE), requests outside dialogs, start on
// a busy port and malformed datagrams.
#include <gtest/gtest.h>

#include <netinet/in.h>

#include <map>

#include "agente_sip_prueba.h"
#include "comun/nlog.h"

namespace {

std::mutex gmLog;
std::vector<std::string> gvLog;
void CapturaLog(int, const char* sz) {
    std::lock_guard<std::mutex> lk(gmLog);
    gvLog.push_back(sz);
}
bool EnLog(const std::string& s) {
    std::lock_guard<std::mutex> lk(gmLog);
    for (auto& l : gvLog)
        if (l.find(s) != std::string::npos) return true;
    return false;
}
bool EsperaLog(const std::string& s, int ms = 10000) {
    for (int i = 0; i < ms / 10; i++) {
        if (EnLog(s)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// A request from the bare socket (127.0.0.1:5080) to the agent's user "ua".
std::string Mensaje(const std::string& sMetodo, const std::string& sCallId, const std::string& sExtra,
                    const std::string& sCuerpo = "", const std::string& sTagTo = "", int iCSeq = 1,
                    const std::string& sMaxForwards = "70", const std::string& sUsuario = "ua") {
    static int iRama = 0;
    std::string m = sMetodo + " sip:" + sUsuario + "@127.0.0.1:5060 SIP/2.0\r\n"
                    "Via: SIP/2.0/UDP 127.0.0.1:5080;branch=z9hG4bK" + sCallId + std::to_string(++iRama) + "\r\n"
                    "From: <sip:x@127.0.0.1:5080>;tag=1" + sCallId + "\r\n"
                    "To: <sip:" + sUsuario + "@127.0.0.1:5060>" + (sTagTo.empty() ? "" : ";tag=" + sTagTo) + "\r\n"
                    "Call-ID: " + sCallId + "\r\n"
                    "CSeq: " + std::to_string(iCSeq) + " " + (sMetodo == "ACK" ? "ACK" : sMetodo) + "\r\n"
                    "Contact: <sip:x@127.0.0.1:5080>\r\n"
                    "Max-Forwards: " + sMaxForwards + "\r\n" + sExtra +
                    "Content-Length: " + std::to_string(sCuerpo.size()) + "\r\n\r\n" + sCuerpo;
    return m;
}

std::string Invite(const std::string& sCallId, const std::string& sExtra, const std::string& sPayloads = "8",
                   const std::string& sMaxForwards = "70") {
    return Mensaje("INVITE", sCallId, "Content-Type: application/sdp\r\n" + sExtra, SdpOferta(sPayloads), "", 1,
                   sMaxForwards);
}

class AgenteSip : public ::testing::Test {
protected:
    void SetUp() override {
        NLOG::FijaCaptura(&CapturaLog);
        CSipua::FijaReloj(&TicksPrueba);
    }
    void Arranca(int iModo = 1) {
        const int32_t codecs[] = {8, 0};
        ASSERT_EQ(ap.Inicia_Sipua_Gus("ua", SIP_USR_TELEFONO, codecs, 2, "127.0.0.1", "127.0.0.1", 0, &ap, iModo), 0);
        ASSERT_TRUE(ap.DameSipua()->Arrancado());
    }
    // Call "ua" from the bare socket, answered by the application; returns the agent's To tag.
    std::string Dialogo(const std::string& sCallId) {
        crudo.Envia(Invite(sCallId, "Subject: IA call\r\n"));
        std::string r = RespuestaFinal(crudo, sCallId);
        EXPECT_EQ(Estado(r), 200) << r;
        std::string tag = TagTo(r);
        crudo.Envia(Mensaje("ACK", sCallId, "", "", tag));
        EXPECT_TRUE(ap.Espera("Traplic_ACK"));
        return tag;
    }
    AplicPrueba ap;
    Crudo crudo;
};

TEST_F(AgenteSip, ScreensIncomingInvites) {
    Arranca();
    struct Caso {
        const char* szNombre;
        std::string sExtra, sPayloads;
        int iEstado;
        const char* szDebeContener;
        const char* szNoDebeContener;
    } casos[] = {
        {"se89", "Subject: IA call\r\nSupported: timer\r\nSession-Expires: 89\r\n", "8", 422, "Min-SE: 90\r\n", ""},
        {"se90", "Subject: IA call\r\nSupported: timer\r\nSession-Expires: 90\r\n", "8", 200,
         "Session-Expires: 90;refresher=uac\r\n", ""},
        {"se120", "Subject: IA call\r\nSupported: timer\r\nSession-Expires: 120;refresher=uac\r\n", "8", 200,
         "Require: timer\r\n", ""},
        {"orden", "Subject: IA call\r\n", "0 8", 200, "m=audio 5004 RTP/AVP 8\r\na=rtpmap:8 PCMA/8000\r\n", "PCMU"},
        {"g729", "Subject: IA call\r\n", "18", 415, "", ""},
        {"sinsubject", "Priority: urgent\r\n", "8", 400, "", ""},
        {"radio", "Subject: radio\r\nSupported: timer\r\nSession-Expires: 30\r\n", "8", 200, "", "Session-Expires"},
    };
    for (auto& c : casos) {
        crudo.Envia(Invite(c.szNombre, c.sExtra, c.sPayloads));
        std::string r = RespuestaFinal(crudo, c.szNombre);
        EXPECT_EQ(Estado(r), c.iEstado) << c.szNombre << "\n" << r;
        if (*c.szDebeContener) {
            EXPECT_NE(r.find(c.szDebeContener), std::string::npos) << c.szNombre << "\n" << r;
        }
        if (*c.szNoDebeContener) {
            EXPECT_EQ(r.find(c.szNoDebeContener), std::string::npos) << c.szNombre << "\n" << r;
        }
    }
    EXPECT_TRUE(EsperaLog("Seleccion de codec no valida"));
    EXPECT_TRUE(EsperaLog("Invite no subject and priority"));
    auto se120 = ap.Ultima("Traplic_Invite");
    EXPECT_STREQ(se120.s.acSubject, "radio");
}

// An INVITE for no user of the agent: its answer carries the WG67-Version that the message hook
// learnt from the Subject of the INVITE received.
TEST_F(AgenteSip, AnswerToAnInviteForNoUserTakesTheVersionOfItsSubject) {
    Arranca();
    struct Caso {
        const char* szSubject;
        const char* szVersion;
    } casos[] = {{"radio", "radio.01"}, {"IA call", "legacy-eu.01;gateway=\"ATS-LCEN\""}};
    for (auto& c : casos) {
        const std::string sCallId = std::string("sinusuario") + (c.szSubject[0] == 'r' ? "r" : "i");
        crudo.Envia(Mensaje("INVITE", sCallId, std::string("Content-Type: application/sdp\r\nSubject: ") + c.szSubject +
                                                   "\r\n",
                            SdpOferta("8"), "", 1, "70", "nadie"));
        const std::string r = RespuestaFinal(crudo, sCallId);
        EXPECT_EQ(Valor(r, "WG67-Version"), c.szVersion) << r;
    }
}

// An INVITE refused 400 for a Request-URI without a user never reaches the application, even
// when its To names a user: the call it would make has already been refused.
TEST_F(AgenteSip, InviteRefusedForItsRequestUriReachesNoOperation) {
    Arranca();
    std::string s = Invite("sinusuario", "Subject: IA call\r\n");
    s.replace(0, s.find(" SIP/2.0"), "INVITE sip:127.0.0.1:5060");
    crudo.Envia(s.replace(s.find("To: <sip:ua@127.0.0.1:5060>"), 27, "To: <sip:x@127.0.0.1;user=ua>"));
    EXPECT_EQ(Estado(RespuestaFinal(crudo, "sinusuario")), 400);
    Dialogo("despues");  // handled after it
    EXPECT_EQ(ap.Cuenta("Traplic_Invite"), 1);
}

TEST_F(AgenteSip, ThirtyFirstConcurrentInviteGets480) {
    ap.bContesta = false;
    Arranca();
    for (int i = 0; i < CSipua::MAX_SESIONES; i++) crudo.Envia(Invite("lleno" + std::to_string(i), "Subject: IA call\r\n"));
    ASSERT_TRUE(ap.Espera("Traplic_Invite", CSipua::MAX_SESIONES));
    crudo.Envia(Invite("lleno30", "Subject: IA call\r\n"));
    EXPECT_EQ(Estado(RespuestaFinal(crudo, "lleno30")), 480);
    EXPECT_TRUE(EsperaLog("SIPUA: Lista de llamadas llena"));
}

TEST_F(AgenteSip, DerivesThePriorityOfAnIncomingCall) {
    ap.bContesta = false;
    Arranca();
    struct Caso {
        const char* szPrioridad;
        const char* szMaxForwards;
        const char* szSubject;
        int iEsperada;
    } casos[] = {
        {"normal", "10", "radio", 3}, {"normal", "10", "IA call", 8}, {"normal", "11", "IA call", 3},
        {"non-urgent", "70", "DA/IDA call", 4}, {"", "70", "IA call", 1}, {"emergency", "5", "radio", 1},
    };
    int n = 0;
    for (auto& c : casos) {
        std::string extra = std::string("Subject: ") + c.szSubject + "\r\n";
        if (*c.szPrioridad) extra += std::string("Priority: ") + c.szPrioridad + "\r\n";
        crudo.Envia(Invite("prio" + std::to_string(n), extra, "8", c.szMaxForwards));
        ASSERT_TRUE(ap.Espera("Traplic_Invite", ++n));
        EXPECT_EQ(ap.Ultima("Traplic_Invite").s.incomming_priority, c.iEsperada)
            << c.szPrioridad << " " << c.szMaxForwards << " " << c.szSubject;
    }
}

TEST_F(AgenteSip, InfoBodiesMapToTheirOperations) {
    Arranca();
    std::string tag = Dialogo("info1");
    struct Caso {
        std::string sCuerpo;
        const char* szOperacion;
    } casos[] = {
        {"Intrusion in progress", "Traplic_InfoIntrusionInProgress"},
        {"Intrusion is Efective", "Traplic_InfoIntrusionIsEfective"},
        {"End of Intrusion", "Traplic_InfoEndofIntrusion"},
        {"Intrusion is impending", "Traplic_InfoIntrusionInminente"},
        {"Signal=5\r\nDuration=250\r\n", "Traplic_Info"},
    };
    int iCSeq = 2;
    for (auto& c : casos) {
        const size_t n = ap.Operaciones().size();
        crudo.Envia(Mensaje("INFO", "info1", "Content-Type: application/dtmf-relay\r\n", c.sCuerpo, tag, iCSeq++));
        EXPECT_EQ(Estado(RespuestaFinal(crudo, "info1")), 200);
        ASSERT_TRUE(ap.Espera(c.szOperacion)) << c.szOperacion;
        auto ops = ap.Operaciones();
        ASSERT_EQ(ops.size(), n + 1) << "one operation per INFO";
        EXPECT_EQ(ops.back().sNombre, c.szOperacion);
    }
    EXPECT_EQ(ap.Ultima("Traplic_Info").sTexto, "Signal=5\r\nDuration=250\r\n");
}

TEST_F(AgenteSip, ReferIsAcceptedNotifiedAndItsReplacesDecoded) {
    Arranca();
    std::string tag = Dialogo("refer1");
    crudo.Envia(Mensaje("REFER", "refer1",
                        "Refer-To: <sip:b@127.0.0.1?Replaces=ab%40h%3Bto-tag%3D1%3Bfrom-tag%3D2&X=y>\r\n"
                        "Referred-By: <sip:c@127.0.0.1>\r\n",
                        "", tag, 2));
    std::string notify;
    bool b202 = false;
    for (int i = 0; i < 50 && (notify.empty() || !b202); i++) {
        std::string r = crudo.Recibe(100);
        if (r.compare(0, 6, "NOTIFY") == 0) notify = r;
        if (r.compare(0, 11, "SIP/2.0 202") == 0) b202 = true;
    }
    EXPECT_TRUE(b202);
    EXPECT_EQ(Valor(notify, "Event"), "refer") << notify;
    EXPECT_EQ(Valor(notify, "Content-Type"), "message/sipfrag") << notify;
    EXPECT_EQ(notify.substr(notify.size() - 18), "SIP/2.0 100 Trying") << notify;
    ASSERT_TRUE(ap.Espera("Traplic_Refer"));
    auto o = ap.Ultima("Traplic_Refer");
    EXPECT_STREQ(o.s.acReplaces, "ab@h;to-tag=1;from-tag=2");
    EXPECT_STREQ(o.s.acReferTo, "<sip:b@127.0.0.1>");
    EXPECT_STREQ(o.s.acReferredBy, "<sip:c@127.0.0.1>");
}

TEST_F(AgenteSip, ReinviteWithoutCommonCodecIsRefusedLikeAnInitialOne) {
    Arranca();
    std::string tag = Dialogo("reinv1");
    crudo.Envia(Mensaje("INVITE", "reinv1", "Content-Type: application/sdp\r\n", SdpOferta("18"), tag, 2));
    std::string r = RespuestaFinal(crudo, "reinv1");
    EXPECT_EQ(Estado(r), 488) << r;
    crudo.Envia(Mensaje("ACK", "reinv1", "", "", tag, 2));
    crudo.Envia(Mensaje("INVITE", "reinv1", "Content-Type: application/sdp\r\n", SdpOferta("0"), tag, 3));
    r = RespuestaFinal(crudo, "reinv1");
    EXPECT_EQ(Estado(r), 200) << r;
    EXPECT_NE(r.find("m=audio 5004 RTP/AVP 0\r\n"), std::string::npos) << r;
    ASSERT_TRUE(ap.Espera("Traplic_Reinvite"));
    EXPECT_EQ(ap.Cuenta("Traplic_Reinvite"), 1);
    EXPECT_EQ(ap.Ultima("Traplic_Reinvite").s.iPayload, 0);
}

TEST_F(AgenteSip, RequestsOutsideDialogs) {
    Arranca();
    struct Caso {
        std::string sMensaje;
        const char* szCallId;
        int iEstado;
        const char* szVersion;
    } casos[] = {
        {Mensaje("INFO", "f1", "Content-Type: text/plain\r\n", "x"), "f1", 501, nullptr},
        {Mensaje("NOTIFY", "f2", "Event: x\r\n"), "f2", 501, nullptr},
        {Mensaje("OPTIONS", "f3", ""), "f3", 200, "phone.01"},
        {Mensaje("OPTIONS", "f4", "", "", "", 1, "70", "nadie"), "f4", 503, "legacy-eu.01"},
        {Mensaje("PUBLISH", "f5", ""), "f5", 405, nullptr},
    };
    for (auto& c : casos) {
        crudo.Envia(c.sMensaje);
        std::string r = RespuestaFinal(crudo, c.szCallId);
        EXPECT_EQ(Estado(r), c.iEstado) << r;
        if (c.szVersion) {
            EXPECT_EQ(Valor(r, "WG67-Version"), c.szVersion) << r;
        }
    }
    EXPECT_EQ(ap.Cuenta("Traplic_Options"), 1);
    ap.iOptions = -1;
    crudo.Envia(Mensaje("OPTIONS", "f6", ""));
    EXPECT_EQ(Estado(RespuestaFinal(crudo, "f6")), 503);
}

TEST_F(AgenteSip, StackStartedAgainOnceItsPortIsFree) {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(5060);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    const int32_t codecs[] = {8};
    EXPECT_EQ(ap.Inicia_Sipua_Gus("ua", SIP_USR_TELEFONO, codecs, 1, "127.0.0.1", "127.0.0.1", 0, &ap, 1), 0);
    EXPECT_FALSE(ap.DameSipua()->Arrancado());
    EXPECT_TRUE(EnLog("could not initialize transport layer"));
    ASSERT_TRUE(EsperaLog("SIPUA: reintento de arranque de la pila SIP"));
    close(fd);
    for (int i = 0; i < 500 && !ap.DameSipua()->Arrancado(); i++) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(ap.DameSipua()->Arrancado());
    // The user given while the stack was down is there.
    crudo.Envia(Mensaje("OPTIONS", "arranca", ""));
    EXPECT_EQ(Estado(RespuestaFinal(crudo, "arranca")), 200);
}

TEST_F(AgenteSip, MalformedDatagramsLeaveTheAgentAnswering) {
    Arranca();
    const std::string inv = Invite("malo", "Subject: IA call\r\n");
    const std::string casos[] = {
        "",
        std::string("\0\1\2\3\xff", 5),
        "INVITE sip:ua@127.0.0.1 SIP/2.0\r\n\r\n",
        inv.substr(0, inv.size() / 2),
        Mensaje("INVITE", "malo2", "Content-Type: application/sdp\r\nSubject: IA call\r\n", "v=0\r\nm=audio x RTP/AVP\r\nc=IN"),
        Mensaje("INVITE", "malo3", "Content-Type: application/sdp\r\nSubject: IA call\r\nSupported: timer\r\nSession-Expires: -5\r\n",
                SdpOferta("")),
        Mensaje("INVITE", "malo4", "Subject: radio\r\nContent-Type: application/sdp\r\n", "v=0\r\nc=IN IP4\r\nm=audio\r\n"),
        Mensaje("INVITE", "malo5", "Subject: " + std::string(3000, 'a') + "\r\nPriority: " + std::string(500, 'b') + "\r\n",
                SdpOferta("8")),
        Mensaje("SUBSCRIBE", "malo6", "Event: WG67 KEY-IN\r\nExpires: abc\r\n"),
        Mensaje("REFER", "malo7", "Refer-To: <sip:a?Replaces=" + std::string(200, '%') + ">\r\n"),
        Mensaje("BYE", "noexiste", "", "", "zz", 2),
    };
    for (auto& c : casos) crudo.Envia(c);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    crudo.Envia(Mensaje("OPTIONS", "sigue", ""));
    EXPECT_EQ(Estado(RespuestaFinal(crudo, "sigue")), 200);
}

TEST_F(AgenteSip, UserTableHoldsSixteenUsers) {
    Arranca();
    const int32_t codecs[] = {8};
    for (int i = 1; i < CSipua::MAX_USUARIOS; i++)
        EXPECT_EQ(ap.AltaUsuarioSip(("u" + std::to_string(i)).c_str(), SIP_USR_TELEFONO, codecs, 1, 0), i);
    EXPECT_EQ(ap.AltaUsuarioSip("u16", SIP_USR_TELEFONO, codecs, 1, 0), -4);
    EXPECT_EQ(ap.DameSipua()->BuscaUsuario("u16"), -1);
    EXPECT_EQ(ap.DameSipua()->AltaUsuario("", codecs, 1, 0, 0), -2);
    EXPECT_EQ(ap.BajaUsuarioSip("u5", 5), 0);
    EXPECT_EQ(ap.AltaUsuarioSip("u16", SIP_USR_TELEFONO, codecs, 1, 0), 5);  // the freed record
    EXPECT_EQ(ap.DameSipua()->BuscaUsuario("u16"), 5);
    struct {
        int iPedido, iPeriodo;
    } periodos[] = {{60, 90}, {90, 90}, {120, 120}};
    for (auto& p : periodos) {
        EXPECT_EQ(ap.ActualizaParamSip(p.iPedido), 0);
        EXPECT_EQ(ap.DameSipua()->DamePeriodoSesion(), p.iPeriodo);
    }
}

TEST_F(AgenteSip, RemovingAUserEndsItsSessionsReportedFirst) {
    Arranca();
    std::string tag = Dialogo("baja1");
    EXPECT_EQ(ap.BajaUsuarioSip("ua", 0), 0);
    ASSERT_TRUE(ap.Espera("Traplic_Closed"));
    std::string bye;
    for (int i = 0; i < 50 && bye.empty(); i++) {
        std::string r = crudo.Recibe(100);
        if (r.compare(0, 4, "BYE ") == 0) bye = r;
    }
    EXPECT_FALSE(bye.empty());
    EXPECT_EQ(ap.DameSipua()->BuscaUsuario("ua"), -1);
    crudo.Envia(Mensaje("OPTIONS", "sinusuario", ""));
    EXPECT_EQ(Estado(RespuestaFinal(crudo, "sinusuario")), 503);
}

// The user table is written by the front end while the supervision thread reads it.
TEST_F(AgenteSip, UsersAddedAndRemovedWhileRequestsArrive) {
    Arranca();
    std::atomic<bool> fin{false};
    std::thread altas([&] {
        const int32_t codecs[] = {8};
        while (!fin) {
            for (int i = 1; i < 8; i++) ap.AltaUsuarioSip(("u" + std::to_string(i)).c_str(), SIP_USR_TELEFONO, codecs, 1, 0);
            for (int i = 1; i < 8; i++) ap.BajaUsuarioSip(("u" + std::to_string(i)).c_str(), i);
        }
    });
    for (int i = 0; i < 40; i++) {
        const std::string id = "carrera" + std::to_string(i);
        crudo.Envia(Mensaje("OPTIONS", id, "", "", "", 1, "70", "u" + std::to_string(1 + i % 7)));
        const int e = Estado(RespuestaFinal(crudo, id));
        EXPECT_TRUE(e == 200 || e == 503) << e;
    }
    fin = true;
    altas.join();
    crudo.Envia(Mensaje("OPTIONS", "final", ""));
    EXPECT_EQ(Estado(RespuestaFinal(crudo, "final")), 200);
}

// Mutations of well-formed requests and answers (bytes flipped, cut, repeated) into the agent's
// port: its dispatcher sees whatever the stack lets through, and it keeps answering.
TEST_F(AgenteSip, MutatedDatagramsNeverStopTheAgent) {
    Arranca();
    const std::string semillas[] = {
        Invite("m1", "Subject: radio\r\nPriority: urgent\r\nSupported: timer\r\nSession-Expires: 90\r\n"
                     "Replaces: abc%3Bto-tag%3D1\r\nReferred-By: <sip:r@h>\r\n", "0 8 123"),
        Invite("m2", "Subject: IA call\r\n", "8") + "a=type:Radio-TxRx\r\na=bss:QX7N\r\na=fid:1\r\na=ptt_rep:2\r\n",
        Mensaje("SUBSCRIBE", "m3", "Event: WG67 KEY-IN\r\nExpires: 60\r\n"),
        Mensaje("REFER", "m4", "Refer-To: <sip:b@h?Replaces=a%40h%3Bto-tag%3D1&X=y>\r\n", "", "t", 2),
        Mensaje("INFO", "m5", "Content-Type: text/plain\r\n", "End of Intrusion", "t", 2),
        Mensaje("NOTIFY", "m6", "Event: WG67 KEY-IN\r\nSubscription-State: active\r\nContent-Type: text/plain\r\n",
                "1,sip:a@b\r\n", "t", 2),
        Mensaje("OPTIONS", "m7", ""),
        "SIP/2.0 200 OK\r\nVia: SIP/2.0/UDP 127.0.0.1:5060;branch=z9hG4bKx\r\nFrom: <sip:a@b>;tag=1\r\n"
        "To: <sip:c@d>;tag=2\r\nCall-ID: m8\r\nCSeq: 1 INVITE\r\nRSeq: 1\r\nContent-Length: 0\r\n\r\n",
    };
    uint32_t x = 12345;
    auto Azar = [&x](uint32_t n) {
        x = x * 1103515245u + 12345u;
        return (x >> 8) % n;
    };
    for (int i = 0; i < 3000; i++) {
        std::string m = semillas[Azar(sizeof semillas / sizeof semillas[0])];
        const int n = 1 + static_cast<int>(Azar(6));
        for (int k = 0; k < n && !m.empty(); k++) {
            const size_t p = Azar(static_cast<uint32_t>(m.size()));
            switch (Azar(4)) {
            case 0: m[p] = static_cast<char>(Azar(256)); break;
            case 1: m.resize(p); break;
            case 2: m.insert(p, m.substr(p, Azar(64))); break;
            default: m.erase(p, Azar(16)); break;
            }
        }
        crudo.Envia(m);
        if (i % 200 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    for (int i = 0; i < 3 ; i++) {
        const std::string id = "vivo" + std::to_string(i);
        crudo.Envia(Mensaje("OPTIONS", id, ""));
        if (Estado(RespuestaFinal(crudo, id, 3000)) == 200) return;
    }
    ADD_FAILURE() << "the agent no longer answers";
}

TEST_F(AgenteSip, HoldResumeAndSessionTypeReinvites) {
    Arranca();
    Dialogo("retiene1");
    const int cid = ap.Ultima("Traplic_ACK").s.cid;
    auto Reinvite = [&]() {
        for (int i = 0; i < 50; i++) {
            std::string r = crudo.Recibe(100);
            if (r.compare(0, 7, "INVITE ") == 0) {
                std::string ok = "SIP/2.0 200 OK\r\n";
                for (const char* h : {"Via", "From", "To", "Call-ID", "CSeq"}) ok += std::string(h) + ": " + Valor(r, h) + "\r\n";
                const std::string sdp = SdpOferta("8");
                ok += "Contact: <sip:x@127.0.0.1:5080>\r\nContent-Type: application/sdp\r\nContent-Length: " +
                      std::to_string(sdp.size()) + "\r\n\r\n" + sdp;
                crudo.Envia(ok);
                return r;
            }
        }
        return std::string();
    };
    ASSERT_GE(ap.DameSipua()->Retiene(0, cid), 0);
    std::string r = Reinvite();
    EXPECT_NE(r.find("a=sendonly"), std::string::npos) << r;
    EXPECT_EQ(r.find("a=sendrecv"), std::string::npos) << r;
    ASSERT_GE(ap.DameSipua()->Recupera(0, cid), 0);
    r = Reinvite();
    EXPECT_NE(r.find("a=sendrecv"), std::string::npos) << r;
    ASSERT_GE(ap.CambiaTipoSesion(0, cid, 1, 1), 0);
    r = Reinvite();
    EXPECT_NE(r.find("m=audio 5004 RTP/AVP 8 0 123\r\n"), std::string::npos) << r;
    EXPECT_NE(r.find("a=rtpmap:123 R2S/8000"), std::string::npos) << r;
    EXPECT_EQ(Valor(r, "Subject"), "radio") << r;
}

// A hold refused 491 (the peer's re-INVITE crossed ours) goes again by the stack's default action
// within the 2 s of the side that did not open the call; the application hears of no failure.
TEST_F(AgenteSip, HoldRefusedWithRequestPendingIsSentAgain) {
    Arranca();
    Dialogo("retiene491");
    const int cid = ap.Ultima("Traplic_ACK").s.cid;
    auto Reinvite = [&](int iEstado) {
        for (int i = 0; i < 40; i++) {
            std::string r = crudo.Recibe(100);
            if (r.compare(0, 7, "INVITE ") != 0) continue;
            std::string a = "SIP/2.0 " + std::to_string(iEstado) + " Respuesta\r\n";
            for (const char* h : {"Via", "From", "To", "Call-ID", "CSeq"}) a += std::string(h) + ": " + Valor(r, h) + "\r\n";
            const std::string sdp = iEstado == 200 ? SdpOferta("8") : "";
            a += "Contact: <sip:x@127.0.0.1:5080>\r\n";
            if (!sdp.empty()) a += "Content-Type: application/sdp\r\n";
            crudo.Envia(a + "Content-Length: " + std::to_string(sdp.size()) + "\r\n\r\n" + sdp);
            return r;
        }
        return std::string();
    };
    ASSERT_GE(ap.DameSipua()->Retiene(0, cid), 0);
    const std::string r1 = Reinvite(491);
    ASSERT_FALSE(r1.empty());
    const std::string r2 = Reinvite(200);
    ASSERT_FALSE(r2.empty()) << "not sent again";
    EXPECT_GT(std::atoi(Valor(r2, "CSeq").c_str()), std::atoi(Valor(r1, "CSeq").c_str()));
    EXPECT_NE(r2.find("a=sendonly"), std::string::npos) << r2;
    EXPECT_EQ(ap.Cuenta("Traplic_Request_Failure"), 0);
}

// A session timer refreshed by re-INVITE (RFC 4028) as by UPDATE: the answer carries the
// Session-Expires and the expiry starts again. A session without a timer gets none from them.
TEST_F(AgenteSip, RefreshByReinviteOrUpdateRestartsTheExpiryOfATimedSessionOnly) {
    Arranca();
    struct Caso {
        std::string sMetodo;
        bool bTemporizador;
    } casos[] = {{"INVITE", true}, {"UPDATE", true}, {"INVITE", false}, {"UPDATE", false}};
    int iCerradas = 0;
    for (const Caso& k : casos) {
        const std::string sId = "refresco-" + k.sMetodo + (k.bTemporizador ? "-t" : "");
        SCOPED_TRACE(sId);
        const std::string sTimer = k.bTemporizador ? "Supported: timer\r\nSession-Expires: 90\r\n" : "";
        crudo.Envia(Invite(sId, "Subject: IA call\r\n" + sTimer));
        const std::string r = RespuestaA(crudo, sId, "1 INVITE");
        ASSERT_EQ(Estado(r), 200) << r;
        const std::string sTag = TagTo(r);
        crudo.Envia(Mensaje("ACK", sId, "", "", sTag));
        AdelantoTicks() += 4500;
        const bool bInvite = k.sMetodo == "INVITE";
        crudo.Envia(Mensaje(k.sMetodo, sId, sTimer + (bInvite ? "Content-Type: application/sdp\r\n" : ""),
                            bInvite ? SdpOferta("8") : "", sTag, 2));
        const std::string r2 = RespuestaA(crudo, sId, "2 " + k.sMetodo);
        ASSERT_EQ(Estado(r2), 200) << r2;
        EXPECT_EQ(Valor(r2, "Session-Expires"), k.bTemporizador ? "90;refresher=uac" : "") << r2;
        if (bInvite) crudo.Envia(Mensaje("ACK", sId, "", "", sTag, 2));
        AdelantoTicks() += 5000;  // 50 s after the refresh, 95 s after the call began
        EXPECT_FALSE(ap.Espera("Traplic_Closed", iCerradas + 1, 1500));
        AdelantoTicks() += 180000;  // past any expiry
        if (!k.bTemporizador) {
            EXPECT_FALSE(ap.Espera("Traplic_Closed", iCerradas + 1, 1500));
            crudo.Envia(Mensaje("BYE", sId, "", "", sTag, 3));
        }
        EXPECT_TRUE(ap.Espera("Traplic_Closed", ++iCerradas));
    }
}

// The Allow of the answers to INVITE and OPTIONS lists what the agent answers: each of those
// methods is answered, any other is refused 405 with the same list.
TEST_F(AgenteSip, AllowListsTheMethodsTheAgentAnswers) {
    Arranca();
    crudo.Envia(Invite("metodos", "Subject: IA call\r\n"));
    const std::string r = RespuestaA(crudo, "metodos", "1 INVITE");
    const std::string sAllow = Valor(r, "Allow");
    ASSERT_FALSE(sAllow.empty()) << r;
    const std::string sTag = TagTo(r);
    crudo.Envia(Mensaje("ACK", "metodos", "", "", sTag));
    crudo.Envia(Mensaje("OPTIONS", "opciones-metodos", ""));
    EXPECT_EQ(Valor(RespuestaA(crudo, "opciones-metodos", "1 OPTIONS"), "Allow"), sAllow);
    const std::map<std::string, std::string> mExtra = {
        {"INVITE", "Content-Type: application/sdp\r\n"}, {"REFER", "Refer-To: <sip:b@127.0.0.1>\r\n"},
        {"NOTIFY", "Event: refer\r\nSubscription-State: active\r\n"}, {"SUBSCRIBE", "Event: WG67 KEY-IN\r\n"},
        {"PRACK", "RAck: 1 1 INVITE\r\n"}};
    int iCSeq = 1;
    std::string sMetodos = sAllow + ", PUBLISH";
    for (size_t i = 0; i < sMetodos.size();) {
        const size_t f = std::min(sMetodos.find(", ", i), sMetodos.size());
        const std::string m = sMetodos.substr(i, f - i);
        i = f + 2;
        if (m == "ACK" || m == "BYE") continue;
        SCOPED_TRACE(m);
        const auto e = mExtra.find(m);
        const std::string sExtra = e == mExtra.end() ? "" : e->second;
        std::string sId = "metodos", sCSeq = std::to_string(++iCSeq) + " " + m;
        if (m == "CANCEL") {  // of a pending INVITE
            ap.bContesta = false;
            sId = "metodos-cancel";
            sCSeq = "1 CANCEL";
            std::string sInvite = Invite(sId, "Subject: IA call\r\n");
            crudo.Envia(sInvite);
            ASSERT_TRUE(ap.Espera("Traplic_Invite", 2));
            sInvite.replace(0, 6, "CANCEL");
            sInvite.replace(sInvite.find("1 INVITE"), 8, "1 CANCEL");
            crudo.Envia(sInvite.substr(0, sInvite.find("Content-Type")) + "Content-Length: 0\r\n\r\n");
        } else if (m == "SUBSCRIBE") {  // outside calls
            sId = "metodos-subscribe";
            sCSeq = "1 SUBSCRIBE";
            crudo.Envia(Mensaje(m, sId, sExtra));
        } else {
            crudo.Envia(Mensaje(m, "metodos", sExtra, m == "INVITE" ? SdpOferta("8") : "", sTag, iCSeq));
        }
        const std::string a = RespuestaA(crudo, sId, sCSeq);
        if (m == "CANCEL") {
            EXPECT_EQ(Estado(RespuestaA(crudo, sId, "1 INVITE")), 487);
        }
        if (m == "PUBLISH") {
            EXPECT_EQ(Estado(a), 405) << a;
            EXPECT_EQ(Valor(a, "Allow"), sAllow) << a;
        } else {
            EXPECT_TRUE(Estado(a) >= 200 && Estado(a) < 300) << a;
        }
        if (m == "INVITE") {
            EXPECT_EQ(Valor(a, "Allow"), sAllow) << a;
            crudo.Envia(Mensaje("ACK", "metodos", "", "", sTag, iCSeq));
        }
    }
    crudo.Envia(Mensaje("BYE", "metodos", "", "", sTag, ++iCSeq));
    EXPECT_EQ(Estado(RespuestaA(crudo, "metodos", std::to_string(iCSeq) + " BYE")), 200);
}

// The peer holds and resumes the call (sendrecv, sendonly, sendrecv) and refreshes it unchanged;
// the gateway holds and resumes it too: the origin's version of the gateway's bodies grows with
// each change of the description and only then (RFC 3264 8).
TEST_F(AgenteSip, OriginVersionGrowsWhenTheDescriptionChanges) {
    Arranca();
    const std::string sOferta = SdpOferta("8");
    crudo.Envia(Invite("origen", "Subject: IA call\r\n"));
    std::string r = RespuestaA(crudo, "origen", "1 INVITE");
    const std::string sTag = TagTo(r);
    crudo.Envia(Mensaje("ACK", "origen", "", "", sTag));
    auto Origen = [](const std::string& m) {
        const size_t i = m.find("\r\no=");
        return i == std::string::npos ? std::string() : m.substr(i + 2, m.find("\r\n", i + 2) - i - 2);
    };
    EXPECT_EQ(Origen(r), "o=ZIREZO 0 0 IN IP4 127.0.0.1") << r;
    const std::pair<std::string, const char*> reinvites[] = {{sOferta + "a=sendonly\r\n", "o=ZIREZO 0 1 IN IP4 127.0.0.1"},
                                                             {sOferta + "a=sendonly\r\n", "o=ZIREZO 0 1 IN IP4 127.0.0.1"},
                                                             {sOferta + "a=sendrecv\r\n", "o=ZIREZO 0 2 IN IP4 127.0.0.1"}};
    int iCSeq = 1;
    for (const auto& [sCuerpo, szOrigen] : reinvites) {
        crudo.Envia(Mensaje("INVITE", "origen", "Content-Type: application/sdp\r\n", sCuerpo, sTag, ++iCSeq));
        r = RespuestaA(crudo, "origen", std::to_string(iCSeq) + " INVITE");
        EXPECT_EQ(Origen(r), szOrigen) << r;
        crudo.Envia(Mensaje("ACK", "origen", "", "", sTag, iCSeq));
    }
    const int cid = ap.Ultima("Traplic_ACK").s.cid;
    const std::pair<int (CSipua::*)(int, int), const char*> propios[] = {{&CSipua::Retiene, "o=ZIREZO 0 3 IN IP4 127.0.0.1"},
                                                                      {&CSipua::Recupera, "o=ZIREZO 0 4 IN IP4 127.0.0.1"}};
    for (const auto& [fnCambio, szOrigen] : propios) {
        ASSERT_GE((ap.DameSipua()->*fnCambio)(0, cid), 0);
        std::string inv;
        for (int i = 0; i < 50 && inv.compare(0, 7, "INVITE ") != 0; i++) inv = crudo.Recibe(100);
        EXPECT_EQ(Origen(inv), szOrigen) << inv;
        std::string ok = "SIP/2.0 200 OK\r\n";
        for (const char* h : {"Via", "From", "To", "Call-ID", "CSeq"}) ok += std::string(h) + ": " + Valor(inv, h) + "\r\n";
        crudo.Envia(ok + "Contact: <sip:x@127.0.0.1:5080>\r\nContent-Type: application/sdp\r\nContent-Length: " +
                    std::to_string(sOferta.size()) + "\r\n\r\n" + sOferta);
    }
}

TEST(EventosSip, EachCodeReachesItsOperation) {
    struct AplicSola : AplicPrueba {
        AplicSola() { poAplic = this; }
    } ap;
    struct Caso {
        int iCodigo;
        const char* szOperacion;
    } casos[] = {
        {5, "Traplic_Invite"}, {6, "Traplic_Reinvite"}, {7, "Traplic_Call_No_Answer"},
        {8, "Traplic_Call_Proceeding"}, {9, "Traplic_Ringing"}, {10, "Traplic_Call_Answer"},
        {11, "Traplic_Redirect"}, {12, ""}, {13, "Traplic_Server_Failure"}, {14, "Traplic_Global_Failure"},
        {15, "Traplic_ACK"}, {20, "Traplic_Call_Message_Answered"}, {25, "Traplic_Closed"}, {26, ""},
        {29, "Traplic_Respuesta_for_Options"}, {31, "Traplic_Respuesta_for_Options"}, {43, "Traplic_Notify"},
        {45, "Traplic_WG67_Key_In_Subscription"}, {46, "Traplic_WG67_Key_In_Subscription"},
        {54, "Traplic_Update"}, {55, "Traplic_Info"}, {56, "Traplic_InfoIntrusionInProgress"},
        {57, "Traplic_InfoIntrusionIsEfective"}, {58, "Traplic_InfoEndofIntrusion"},
        {59, "Traplic_InfoIntrusionInminente"}, {60, "Traplic_Refer"}, {61, "Traplic_Options"},
        {1, ""}, {27, ""}, {62, ""},
    };
    const char szCuerpo[] = "Signal=1";
    for (auto& c : casos) {
        const size_t n = ap.Operaciones().size();
        const int r = TrataEventoSip(3, c.iCodigo, 7, 600, c.iCodigo == 55 ? reinterpret_cast<intptr_t>(szCuerpo) : 600);
        auto ops = ap.Operaciones();
        if (!*c.szOperacion) {
            EXPECT_EQ(ops.size(), n) << "code " << c.iCodigo;
            EXPECT_EQ(r, 0);
            continue;
        }
        ASSERT_EQ(ops.size(), n + 1) << "code " << c.iCodigo;
        EXPECT_EQ(ops.back().sNombre, c.szOperacion) << "code " << c.iCodigo;
        EXPECT_EQ(ops.back().iUsuario, 3);
    }
    EXPECT_EQ(ap.Ultima("Traplic_Info").sTexto, "Signal=1");
    auto ops = ap.Operaciones();
    int k = 0;
    for (auto& o : ops)
        if (o.sNombre == "Traplic_WG67_Key_In_Subscription") {
            EXPECT_EQ(o.iValor3, k++ == 0 ? 600000 : -1);
            EXPECT_EQ(o.iValor1, 7);
            EXPECT_EQ(o.iValor2, 600);
        }
    ap.iOptions = -3;
    EXPECT_EQ(TrataEventoSip(0, 61, 0, 0, 0), -3);
}

}  // namespace
