// The SIP bridge between sipp (or a bare socket) on loopback and recording resources: incoming
// calls admitted and handed over with a pool port, refusals and their SIP answers, no port or
// routing record left behind by refused calls, an outgoing leg, the WG67 subscriptions and
// the published states.
#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <iterator>

#include "comun/nlog.h"
#include "red/tcpcons.h"
#include "pasagus_prueba.h"

namespace {

std::mutex gMutexLog;
std::vector<std::string> gLog;

void CapturaLog(int, const char* sz) {
    std::lock_guard<std::mutex> lk(gMutexLog);
    gLog.emplace_back(sz);
}
int CuentaLog(const std::string& s) {
    std::lock_guard<std::mutex> lk(gMutexLog);
    int n = 0;
    for (auto& l : gLog) n += l.find(s) != std::string::npos;
    return n;
}

std::string Fichero(const std::string& ruta) {
    std::ifstream f(ruta);
    return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

template <typename F>
bool EsperaQue(F f, int ms = 10000) {
    for (int i = 0; i < ms / 10; i++) {
        if (f()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return f();
}

std::string Invite(const std::string& sCallId, const std::string& sTo, const std::string& sFrom,
                   const std::string& sSubject, bool bSdp, const std::string& sExtra = "") {
    const std::string sCuerpo = bSdp ? SdpOferta("8") : "";
    return "INVITE " + sTo + " SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:5080;branch=z9hG4bK" + sCallId +
           "\r\nFrom: <" + sFrom + ">;tag=1" + sCallId + "\r\nTo: <" + sTo + ">\r\nCall-ID: " + sCallId +
           "\r\nCSeq: 1 INVITE\r\nContact: <sip:x@127.0.0.1:5080>\r\nMax-Forwards: 70\r\nSubject: " + sSubject +
           "\r\n" + sExtra + (bSdp ? "Content-Type: application/sdp\r\n" : "") +
           "Content-Length: " + std::to_string(sCuerpo.size()) + "\r\n\r\n" + sCuerpo;
}

class PublicacionPrueba : public CPasaGus::CPublicacion {
public:
    struct Llamada {
        std::string sNombre;
        sEstadoPublicado e;
        int iTipo, iValor;
    };
    std::vector<Llamada> v;
    int iDespiertas = 0;
    int ActualizaPublica(const char* sz, const uint8_t* p, int iTipo, int iValor) override {
        Llamada l{sz, {}, iTipo, iValor};
        std::memcpy(&l.e, p, sizeof l.e);
        v.push_back(l);
        return 0;
    }
    void Despierta() override { ++iDespiertas; }
};

class Puente : public ::testing::Test {
protected:
    void SetUp() override {
        NLOG::FijaCaptura(&CapturaLog);
        CSipua::FijaReloj(&TicksPrueba);
        CPasaGus::FijaReloj(&TicksPrueba);
        ConfigPrueba(0);
        pg.Inicia(&gestor, &publica);
        for (RecursoPrueba* r : {&rd, &tlf}) {
            r->poPasaGus = &pg;
            r->poGestor = &gestor;
        }
        rd.iUsuario = pg.AltaRecurso(&rd, "RD-01", TIPOIF_RADIO, 0);
        ASSERT_EQ(rd.iUsuario, 0);
        tlf.iUsuario = pg.AltaRecurso(&tlf, "TLF-03", TIPOIF_BC, 0);
        ASSERT_EQ(tlf.iUsuario, 1);
        gestor.sDestino = "TLF-03";
    }
    void TearDown() override { NLOG::FijaCaptura(nullptr); }
    // 26 calls "lleno<n>" that the radio takes and holds, and their ports with them.
    void OcupaLosPuertos(Crudo& c) {
        rd.eAccion = RecursoPrueba::CALLA;
        for (int i = 0; i < 26; i++) c.Envia(Invite("lleno" + std::to_string(i), "sip:RD-01@127.0.0.1:5060",
                                                    "sip:abc@127.0.0.1:5080", "radio", true));
        ASSERT_TRUE(rd.Espera("Traplic_Invite", 26));
        ASSERT_EQ(pg.PuertosLibres(), 0);
    }

    RecursoPrueba rd, tlf;
    GestorPrueba gestor;
    PublicacionPrueba publica;
    PasaGusPrueba pg;  // last: it goes first, and the SIP thread with it
};

TEST_F(Puente, FirstRegistrationStartsTheUserAgentAndLaterOnesOnlyAddUsers) {
    ASSERT_NE(pg.DameSipua(), nullptr);
    EXPECT_EQ(pg.DameNumRecursos(), 2);
    EXPECT_EQ(pg.DameSipua()->DamePeriodoSesion(), 120);
    EXPECT_EQ(pg.DameSipua()->BuscaUsuario("TLF-03"), 1);
    EXPECT_EQ(pg.BajaRecurso(&tlf), 0);
    EXPECT_EQ(pg.DameNumRecursos(), 1);
    EXPECT_EQ(pg.BajaRecurso(&tlf), -1);
    EXPECT_EQ(CuentaLog(" CPasaGus: Intento de baja recurso no conocido"), 1);
}

TEST_F(Puente, RefusedRegistrationsDoNotUseUpThePlaces) {
    RecursoPrueba otros[14];
    // The user agent refuses a user without a name: none of these holds a place.
    for (int i = 0; i < 20; i++) EXPECT_LT(pg.AltaRecurso(&otros[0], "", TIPOIF_RADIO, 0), 0);
    for (int i = 0; i < 14; i++)
        EXPECT_GE(pg.AltaRecurso(&otros[i], ("R-" + std::to_string(i)).c_str(), TIPOIF_RADIO, 0), 0) << i;
    EXPECT_EQ(pg.DameNumRecursos(), 16);
    RecursoPrueba uno;
    EXPECT_EQ(pg.AltaRecurso(&uno, "R-16", TIPOIF_RADIO, 0), -1);
    EXPECT_EQ(CuentaLog(" CPasaGus: Rebasado maximo de recursos 16"), 1);
    for (auto& r : otros) pg.BajaRecurso(&r);  // they go before the bridge
}

TEST_F(Puente, InviteToAResourceUserIsHandedOverWithAPoolPort) {
    Sipp sipp({"-sf", DirEscenariosSip() + "uac_ats.xml", "-m", "1", "-s", "RD-01", "127.0.0.1:5060"});
    EXPECT_EQ(sipp.Espera(), 0) << sipp.Log();
    ASSERT_TRUE(rd.Espera("Traplic_Closed"));
    const SesionSip s = rd.Ultimo("Traplic_Invite");
    EXPECT_EQ(s.iPuertoLocal, 5006);
    EXPECT_EQ(s.canal, -1);
    EXPECT_EQ(s.iUsuario, rd.iUsuario);
    EXPECT_STREQ(s.acLocal, "sip:RD-01@127.0.0.1");  // its port cut off
    EXPECT_EQ(tlf.Cuenta("Traplic_Invite"), 0);
    EXPECT_EQ(pg.PuertosLibres(), 26);
}

TEST_F(Puente, RefusalsAnswerTheirSipStatusAndHoldNothing) {
    struct Caso {
        const char* szTo;
        const char* szFrom;
        const char* szSubject;
        bool bSdp;
        int iModo;
        const char* szDestino;  // where routing sends numbers
        int iMotivoRecurso;     // refusal of the resource that takes the call
        int iEstado;
    };
    const Caso casos[] = {
        {"sip:TLF-03@127.0.0.1:5060", "sip:abc@127.0.0.1:5080", "x", true, 0, "TLF-03", 202, 486},
        {"sip:TLF-03@127.0.0.1:5060", "sip:abc@127.0.0.1:5080", "x", true, 0, "TLF-03", 16, 603},
        {"sip:TLF-03@127.0.0.1:5060", "sip:abc@127.0.0.1:5080", "x", true, 0, "TLF-03", 17, 486},
        {"sip:TLF-03@127.0.0.1:5060", "sip:abc@127.0.0.1:5080", "x", true, 0, "TLF-03", 21, 603},
        {"sip:TLF-03@127.0.0.1:5060", "sip:abc@127.0.0.1:5080", "x", true, 0, "TLF-03", 201, 480},
        {"sip:TLF-03@127.0.0.1:5060", "sip:abc@127.0.0.1:5080", "x", true, 0, "TLF-03", 204, 408},
        {"sip:TLF-03@127.0.0.1:5060", "sip:abc@127.0.0.1:5080", "x", true, 0, "TLF-03", 207, 503},
        {"sip:TLF-03@127.0.0.1:5060", "sip:abc@127.0.0.1:5080", "x", true, 0, "TLF-03", 205, 404},
        {"sip:TLF-03@127.0.0.1:5060", "sip:abc@127.0.0.1:5080", "x", true, 0, "TLF-03", 220, 603},
        {"sip:TLF-03@127.0.0.1:5060", "sip:abc@127.0.0.1:5080", "x", true, 0, "TLF-03", 230, 488},
        {"sip:TLF-03@127.0.0.1:5060", "sip:abc@127.0.0.1:5080", "x", true, 0, "TLF-03", 208, 500},
        // Numbers: no number in From; 5 digits outside radio and IA calls; 4 digits in a radio
        // call pass, are routed and fail on the missing SDP.
        {"sip:123456@127.0.0.1:5060", "sip:xyz@127.0.0.1:5080", "DA/IDA call", true, 0, "TLF-03", 0, 404},
        {"sip:123456@127.0.0.1:5060", "sip:12345@127.0.0.1:5080", "DA/IDA call", true, 0, "TLF-03", 0, 500},
        {"sip:1234@127.0.0.1:5060", "sip:4321@127.0.0.1:5080", "radio", false, 0, "TLF-03", 0, 488},
        // Routing to a resource that is not registered; trunk mode without trunks.
        {"sip:123456@127.0.0.1:5060", "sip:654321@127.0.0.1:5080", "DA/IDA call", true, 0, "NADIE", 0, 500},
        {"sip:123456@127.0.0.1:5060", "sip:654321@127.0.0.1:5080", "DA/IDA call", true, 1, "TLF-03", 0, 503},
    };
    Crudo c;
    tlf.eAccion = RecursoPrueba::RECHAZA;
    int n = 0;
    for (const Caso& k : casos) {
        ConfigPrueba(k.iModo);
        gestor.sDestino = k.szDestino;
        tlf.iMotivo = k.iMotivoRecurso;
        const std::string sCallId = "rechazo" + std::to_string(++n);
        c.Envia(Invite(sCallId, k.szTo, k.szFrom, k.szSubject, k.bSdp));
        EXPECT_EQ(Estado(RespuestaFinal(c, sCallId)), k.iEstado) << n << " " << k.szTo << " " << k.iMotivoRecurso;
    }
    EXPECT_EQ(pg.PuertosLibres(), 26);
    EXPECT_EQ(gestor.Ocupadas(), 0);
}

TEST_F(Puente, RoutedCallIsRefusedWith480WhenNoPortIsFreeAndItsRecordIsReleased) {
    Crudo c;
    ASSERT_NO_FATAL_FAILURE(OcupaLosPuertos(c));
    c.Envia(Invite("sinpuerto", "sip:123456@127.0.0.1:5060", "sip:654321@127.0.0.1:5080", "DA/IDA call", true));
    EXPECT_EQ(Estado(RespuestaFinal(c, "sinpuerto")), 480);
    EXPECT_EQ(gestor.Ocupadas(), 0);
    EXPECT_TRUE(EsperaQue([] { return CuentaLog(" CPasaGus: no hay puertos RTP libres") == 1; }));
}

TEST_F(Puente, ThirtyRefusedCallsLeaveNoPortNorRecordAndTheNextCallConnects) {
    tlf.eAccion = RecursoPrueba::RECHAZA;
    tlf.iMotivo = 202;
    {
        Sipp sipp({"-sf", DirEscenariosSip() + "uac_ats_rechazo.xml", "-m", "30", "-r", "30", "-s", "123456",
                   "127.0.0.1:5060"});
        EXPECT_EQ(sipp.Espera(30000), 0) << sipp.Log();
    }
    EXPECT_EQ(tlf.Cuenta("Traplic_Invite"), 30);
    EXPECT_EQ(pg.PuertosLibres(), 26);
    EXPECT_EQ(gestor.Ocupadas(), 0);
    tlf.eAccion = RecursoPrueba::ACEPTA;
    Sipp sipp({"-sf", DirEscenariosSip() + "uac_ats.xml", "-m", "1", "-s", "123456", "127.0.0.1:5060"});
    EXPECT_EQ(sipp.Espera(), 0) << sipp.Log();
    ASSERT_TRUE(tlf.Espera("Traplic_Closed"));
    EXPECT_EQ(tlf.Ultimo("Traplic_Invite").iUsuario, tlf.iUsuario);
    EXPECT_EQ(pg.PuertosLibres(), 26);
    EXPECT_EQ(gestor.Ocupadas(), 0);
}

// An INVITE whose Replaces names no call of the gateway (none at all, or one of no resource),
// or that finds no free port, gets its answer and holds nothing: more of them than the user
// agent has sessions, and the next call connects.
TEST_F(Puente, ReplacesThatCannotBeServedIsAnsweredAndHoldsNothing) {
    Crudo c;
    ASSERT_NO_FATAL_FAILURE(OcupaLosPuertos(c));
    // A call of no resource: an outgoing one of a user no resource holds, not yet answered.
    int iPuerto = 7000;
    const int cidAjena = pg.IniciaLlamadaSip(9, "sip:nadie@127.0.0.1:5099", "sip:x@192.0.2.23", "sip:nadie@127.0.0.1:5099",
                                             "radio", 3, &iPuerto, nullptr);
    SesionSip sAjena;
    ASSERT_EQ(pg.DameSipua()->LeeSesion(cidAjena, &sAjena), 0);
    struct Caso {
        std::string sReplaces;
        int iEstado;
    } casos[] = {{"nadie@192.0.2.9;to-tag=1;from-tag=2", 481}, {sAjena.acCallId, 481}, {"lleno3%3Bto-tag%3D1", 480}};
    for (const Caso& k : casos)
        for (int i = 0; i < 40; i++) {
            const std::string sCallId = "sustituye" + std::to_string(k.iEstado) + "-" + std::to_string(i);
            c.Envia(Invite(sCallId, "sip:RD-01@127.0.0.1:5060", "sip:abc@127.0.0.1:5080", "radio", true,
                           "Replaces: " + k.sReplaces + "\r\n"));
            ASSERT_EQ(Estado(RespuestaFinal(c, sCallId)), k.iEstado) << k.sReplaces << " " << i;
        }
    EXPECT_EQ(rd.Cuenta("Traplic_Replaces"), 0);
    EXPECT_TRUE(EsperaQue([] { return CuentaLog(" CPasaGus: no hay puertos RTP libres") == 40; }));
    EXPECT_EQ(pg.PuertosLibres(), 0);
    // The held calls end: their ports come back and a call connects.
    for (int i = 0; i < 26; i++) {
        SesionSip s;
        ASSERT_EQ(pg.DameSipua()->LeeSesionPorCallId(&s, ("lleno" + std::to_string(i)).c_str()), 0);
        pg.RechazaLlamada(rd.iUsuario, s.cid, 202);
    }
    rd.eAccion = RecursoPrueba::ACEPTA;
    Sipp sipp({"-sf", DirEscenariosSip() + "uac_ats.xml", "-m", "1", "-s", "RD-01", "127.0.0.1:5060"});
    EXPECT_EQ(sipp.Espera(), 0) << sipp.Log();
}

TEST_F(Puente, OutgoingLegLeavesAsAnInviteWithAPoolPort) {
    const std::string sTraza = "/tmp/uas_llamada_msgs.log";
    Sipp sipp({"-sf", DirEscenariosSip() + "uas_llamada.xml", "-m", "1", "-trace_msg", "-message_file", sTraza});
    DatosLlamadaGestor d{};
    std::strcpy(d.UsuOrigen, "RD-01");
    std::strcpy(d.NumDestino, "<sip:rad@127.0.0.1:5070;user=phone>");
    d.tipo = 3;
    d.ucPrioridad = 1;
    int iPuerto = -1;
    const int cid = pg.LanzaLlamadaSip(rd.iUsuario, &d, &iPuerto);
    ASSERT_GE(cid, 0);
    EXPECT_EQ(iPuerto, 5006);
    ASSERT_TRUE(rd.Espera("Traplic_Call_Answer"));
    EXPECT_EQ(pg.FinalizaSesion(rd.iUsuario, cid), 0);
    EXPECT_EQ(sipp.Espera(), 0) << sipp.Log();
    const std::string traza = Fichero(sTraza);
    const size_t i = traza.find("INVITE sip:rad@127.0.0.1:5070");
    ASSERT_NE(i, std::string::npos) << traza;
    const std::string inv = traza.substr(i, traza.find("\n-----", i) - i);
    EXPECT_NE(inv.find("m=audio 5006 "), std::string::npos) << inv;
    EXPECT_NE(inv.find("sip:RD-01@192.0.2.23"), std::string::npos) << inv;
    EXPECT_NE(inv.find("Subject: radio"), std::string::npos) << inv;
    EXPECT_EQ(inv.find("user=phone"), std::string::npos) << inv;
    EXPECT_EQ(pg.PuertosLibres(), 25);
    pg.DevuelveLocalPort(rd.iUsuario, cid, iPuerto);
    EXPECT_EQ(pg.PuertosLibres(), 26);
}

// The console's dump of the stack's calls and its log variant: the same lines, the log's
// without their ends.
TEST_F(Puente, StackDumpGoesToTheConsoleAndTheSameLinesToTheLog) {
    Sipp sipp({"-sf", DirEscenariosSip() + "uas_llamada.xml", "-m", "1"});
    DatosLlamadaGestor d{};
    std::strcpy(d.UsuOrigen, "RD-01");
    std::strcpy(d.NumDestino, "<sip:rad@127.0.0.1:5070>");
    d.tipo = 3;
    int iPuerto = -1;
    const int cid = pg.LanzaLlamadaSip(rd.iUsuario, &d, &iPuerto);
    ASSERT_GE(cid, 0);
    ASSERT_TRUE(rd.Espera("Traplic_Call_Answer"));
    TcpCons::Inicia(0);  // the console on the standard output
    ::testing::internal::CaptureStdout();
    pg.PintaDatosExosip();
    std::fflush(stdout);
    const std::string sConsola = ::testing::internal::GetCapturedStdout();
    size_t uiDesde;
    {
        std::lock_guard<std::mutex> lk(gMutexLog);
        uiDesde = gLog.size();
    }
    pg.PintaDatosExosipLog();
    const size_t i = sConsola.find("   Datos de eXoSip:\n");
    const size_t f = sConsola.find("\n", sConsola.find("      llamadas (", i));
    ASSERT_NE(f, std::string::npos) << sConsola;
    const std::string sVolcado = sConsola.substr(i, f + 1 - i);
    EXPECT_EQ(sVolcado.find("   Datos de eXoSip:\n      Llamadas:\n         cid=" + std::to_string(cid) + "\n"), 0u) << sVolcado;
    EXPECT_NE(sVolcado.find("            did="), std::string::npos) << sVolcado;
    EXPECT_NE(sVolcado.find("      llamadas (1)\n"), std::string::npos) << sVolcado;
    // Other threads log meanwhile: the dump's lines come in order among them.
    std::string sLog;
    {
        std::lock_guard<std::mutex> lk(gMutexLog);
        size_t k = uiDesde;
        for (size_t a = 0, b; a < sVolcado.size(); a = b + 1) {
            b = sVolcado.find('\n', a);
            const std::string sLinea = sVolcado.substr(a, b - a);
            while (k < gLog.size() && gLog[k] != sLinea) ++k;
            if (k == gLog.size()) break;
            sLog += gLog[k++] + "\n";
        }
    }
    EXPECT_EQ(sLog, sVolcado);
    EXPECT_EQ(pg.FinalizaSesion(rd.iUsuario, cid), 0);
    EXPECT_EQ(sipp.Espera(), 0) << sipp.Log();
    pg.DevuelveLocalPort(rd.iUsuario, cid, iPuerto);
}

TEST_F(Puente, FailedPlacementReturnsItsPortAndClearsTheCallersVariable) {
    DatosLlamadaGestor d{};
    std::strcpy(d.UsuOrigen, "RD-01");
    std::strcpy(d.NumDestino, "sip:");  // no URI the stack can build an INVITE to
    d.tipo = 2;
    int iPuerto = -1;
    EXPECT_EQ(pg.LanzaLlamadaSip(rd.iUsuario, &d, &iPuerto), -1);
    EXPECT_EQ(iPuerto, -1);
    EXPECT_EQ(pg.PuertosLibres(), 26);
    // A destination number without an address places nothing and takes no port.
    std::strcpy(d.NumDestino, "123456");
    std::strcpy(d.UsuDestino, "TLF-09");
    EXPECT_EQ(pg.LanzaLlamadaSip(rd.iUsuario, &d, &iPuerto), -1);
    EXPECT_EQ(pg.PuertosLibres(), 26);
}

// The body of the last NOTIFY that sipp received (its Content-Length bytes), as its message
// trace shows it.
std::string CuerpoUltimoNotify(const std::string& sTraza) {
    const std::string t = Fichero(sTraza);
    const size_t i = t.rfind("NOTIFY sip:");
    if (i == std::string::npos) return "<none>";
    const size_t c = t.find("\r\n\r\n", i);
    const std::string sCabecera = t.substr(i, c - i);
    const size_t l = sCabecera.find("Content-Length:");
    if (c == std::string::npos || l == std::string::npos) return "<none>";
    return t.substr(c + 4, std::strtoul(sCabecera.c_str() + l + 15, nullptr, 10));
}

TEST_F(Puente, KeyInAndPrSubscribersGetTheirNotifyBodies) {
    struct Caso {
        const char* szEscenario;
        const char* szUsuario;
        const char* szEvento;
        const char* szCuerpo;
    };
    const Caso casos[] = {
        {"uac_suscripcion.xml", "RD-01", "WG67 KEY-IN", "1,sip:a@192.0.2.1\r\n"},
        {"uac_suscripcion.xml", "TLF-03", "WG67 KEY-IN", "\n\r"},  // no PTT-id list
        {"uac_suscripcion_pr.xml", "pasarela", "WG67 P/R", "QLN PRINCIPAL"},
    };
    rd.sListaPttId = "1,sip:a@192.0.2.1\r\n";
    const std::string sTraza = "/tmp/suscripcion_msgs.log";
    for (const Caso& c : casos) {
        unlink(sTraza.c_str());
        Sipp sipp({"-sf", DirEscenariosSip() + c.szEscenario, "-m", "1", "-s", c.szUsuario, "-key", "evento",
                   c.szEvento, "-trace_msg", "-message_file", sTraza, "127.0.0.1:5060"});
        EXPECT_EQ(sipp.Espera(), 0) << sipp.Log();
        EXPECT_EQ(CuerpoUltimoNotify(sTraza), c.szCuerpo) << c.szUsuario;
    }
    EXPECT_EQ(pg.NumSuscriptores(rd.iUsuario), 1);
    EXPECT_EQ(pg.NumSuscriptores(tlf.iUsuario), 1);
    EXPECT_EQ(pg.NumSuscriptoresPR(), 1);
}

TEST_F(Puente, SubscriptionRefreshKeepsItsExpiryAndPurgeFreesIt) {
    pg.Traplic_WG67_Key_In_Subscription(rd.iUsuario, 1, 999, 1000);  // 110 ticks
    AdelantoTicks() += 100;
    pg.Traplic_WG67_Key_In_Subscription(rd.iUsuario, 1, 999, 600000);
    EXPECT_EQ(pg.NumSuscriptores(rd.iUsuario), 1);
    AdelantoTicks() += 11;
    EXPECT_EQ(pg.NumSuscriptores(rd.iUsuario), 0);
    EXPECT_EQ(CuentaLog("Purga suscripcion 0"), 1);
    pg.Traplic_WG67_Key_In_Subscription(rd.iUsuario, 1, 999, 1000);
    EXPECT_EQ(pg.NumSuscriptores(rd.iUsuario), 1);
    pg.Traplic_WG67_Key_In_Subscription(rd.iUsuario, 1, 999, -1);
    EXPECT_EQ(pg.NumSuscriptores(rd.iUsuario), 0);
    EXPECT_EQ(CuentaLog("Fin de suscripcion WG67_Key_In 0-1"), 1);
    pg.Traplic_WG67_Key_In_Subscription(rd.iUsuario, 7, 999, -1);
    EXPECT_EQ(CuentaLog("Fin de suscripcion WG67_Key_In que no existia 0-7"), 1);
}

TEST_F(Puente, FiftyFirstSubscriberIsRefused) {
    for (int nid = 1; nid <= 51; nid++) pg.Traplic_WG67_Key_In_Subscription(-1, nid, 999, 600000);
    EXPECT_EQ(pg.NumSuscriptoresPR(), 50);
    EXPECT_EQ(CuentaLog("No puedo guardar suscripcion WG67_Key_In -1, 51"), 1);
    EXPECT_EQ(CuentaLog("Suscripcion WG67_Key_In OK -1-51"), 0);
    EXPECT_EQ(CuentaLog("Suscripcion WG67_Key_In OK -1-50"), 1);
    pg.Traplic_WG67_Key_In_Subscription(-1, 3, 999, -1);
    EXPECT_EQ(CuentaLog("Fin de suscripcion WG67_P_R nid=3"), 1);
    pg.Traplic_WG67_Key_In_Subscription(-1, 51, 999, 600000);
    EXPECT_EQ(pg.NumSuscriptoresPR(), 50);
}

TEST_F(Puente, PublishedStatesAreStoredPerSlotAndForwardedByInterfaceType) {
    RecursoPrueba qsig, lcen;
    const int iQsig = pg.AltaRecurso(&qsig, "QS-05", TIPOIF_ATSQSIG, 0);
    const int iLcen = pg.AltaRecurso(&lcen, "LC-06", TIPOIF_LCEN, 0);
    auto Registro = [](int iRanura, int iEstado, int iPrio, int iPalabra) {
        sEstadoPublicado e{};
        e.ucIndice = static_cast<uint8_t>(iRanura);
        e.ucEstado = static_cast<uint8_t>(iEstado);
        e.iValor = iPrio;
        e.aiExtra[1] = iPalabra;
        return e;
    };
    struct Caso {
        int iUsuario;
        sEstadoPublicado e;
        size_t uiPublicadas;  // total after the record
        int iTipo;            // of the last publication
        int iPrioPublicada;
        int iPalabraPublicada;
    };
    const Caso casos[] = {
        {rd.iUsuario, Registro(0, 1, 3, 0), 0, 0, 0, 0},   // radio: stored, never published
        {tlf.iUsuario, Registro(0, 1, 3, 0), 1, 1, 3, 0},
        {tlf.iUsuario, Registro(0, 1, 3, 0), 1, 1, 3, 0},  // unchanged: nothing
        {tlf.iUsuario, Registro(3, 1, 3, 0), 1, 1, 3, 0},  // slot 3: ignored
        {iLcen, Registro(0, 1, 2, 0), 2, 2, 2, 0},
        {iQsig, Registro(0, 1, 4, 0), 3, 1, 4, 0},
        {iQsig, Registro(1, 1, 2, 9), 4, 1, 2, 9},
        {iQsig, Registro(2, 1, 2, 9), 5, 1, 2, 9},         // equal to slot 1: the earlier stays
        {iQsig, Registro(2, 1, 2, 10), 6, 1, 2, 10},       // a greater word wins
    };
    int n = 0;
    for (const Caso& c : casos) {
        ++n;
        pg.ActualizaEstadoUsuario(c.iUsuario, 7, &c.e);
        ASSERT_EQ(publica.v.size(), c.uiPublicadas) << n;
        EXPECT_EQ(publica.iDespiertas, static_cast<int>(c.uiPublicadas)) << n;
        if (publica.v.empty()) continue;
        EXPECT_EQ(publica.v.back().iTipo, c.iTipo) << n;
        EXPECT_EQ(publica.v.back().iValor, 7) << n;
        EXPECT_EQ(publica.v.back().e.iValor, c.iPrioPublicada) << n;
        EXPECT_EQ(publica.v.back().e.aiExtra[1], c.iPalabraPublicada) << n;
    }
    EXPECT_EQ(pg.EligeSuscripcion(iQsig), 2);
    EXPECT_EQ(pg.EligeSuscripcion(rd.iUsuario), 0);  // the busy slot; the others never published
    const sEstadoPublicado sLibre = Registro(1, 0, 0, 0);
    pg.ActualizaEstadoUsuario(rd.iUsuario, 7, &sLibre);
    EXPECT_EQ(pg.EligeSuscripcion(rd.iUsuario), -1);  // a channel is free
    EXPECT_EQ(pg.ActualizaEstadoUsuario(9, 7, &casos[0].e), -1);
    EXPECT_EQ(CuentaLog("Id-Usr no valido 9"), 1);
    pg.BajaRecurso(&qsig);  // they go before the bridge
    pg.BajaRecurso(&lcen);
}

}  // namespace

namespace {

TEST_F(Puente, EventsOfAUserReachItsResourceAndOfAnUnknownUserAreOnlyLogged) {
    SesionSip s{};
    s.cid = 42;
    pg.Traplic_Ringing(tlf.iUsuario, &s);
    pg.Traplic_Closed(rd.iUsuario, &s);
    pg.Traplic_Info(rd.iUsuario, &s, "texto");
    EXPECT_EQ(tlf.Cuenta("Traplic_Ringing"), 1);
    EXPECT_EQ(tlf.Ultimo("Traplic_Ringing").cid, 42);
    EXPECT_EQ(rd.Cuenta("Traplic_Closed"), 1);
    EXPECT_EQ(rd.Cuenta("Traplic_Info"), 1);
    EXPECT_EQ(pg.Traplic_Options(rd.iUsuario, nullptr), 0);
    EXPECT_EQ(pg.Traplic_Options(9, nullptr), -1);
    pg.Traplic_Ringing(9, &s);
    pg.Traplic_Closed(-1, &s);
    pg.Traplic_Respuesta_for_Options(9, nullptr);
    EXPECT_EQ(CuentaLog(" CPasaGus: GUS entrego Id-Usr (9) no valido a Traplic_Ringing()"), 1);
    EXPECT_EQ(CuentaLog("GUS entrego Id-Usr no valido a Traplic_Closed -1"), 1);
    EXPECT_EQ(CuentaLog("GUS entrego Id-Usr no valido a Traplic_Options 9"), 1);
    EXPECT_EQ(CuentaLog(" CPasaGus: GUS entrego Id-Usr (9) no valido a Traplic_Respuesta_for_Options()"), 1);
    EXPECT_EQ(rd.Cuenta("Traplic_Respuesta_for_Options") + tlf.Cuenta("Traplic_Respuesta_for_Options"), 0);
}

TEST_F(Puente, AbortedInterruptionChecksItsResourcesAndItsSession) {
    // Unknown resources or a session the user agent does not hold: nothing is handed over.
    EXPECT_EQ(pg.AbortaInterrupcion("NADIE", "TLF-03", 77), 0);
    EXPECT_EQ(pg.AbortaInterrupcion("RD-01", "NADIE", 77), 0);
    EXPECT_EQ(pg.AbortaInterrupcion("RD-01", "TLF-03", 77), 0);
    EXPECT_EQ(rd.Cuenta("Abortallamada"), 2);
    EXPECT_EQ(rd.Ultimo("Abortallamada").cid, 77);
    EXPECT_EQ(tlf.Cuenta("Traplic_Invite"), 0);
}

TEST_F(Puente, AbortedInterruptionMovesTheCallToTheFreedResource) {
    rd.eAccion = RecursoPrueba::CALLA;
    Crudo c;
    c.Envia(Invite("interrumpe", "sip:RD-01@127.0.0.1:5060", "sip:abc@127.0.0.1:5080", "radio", true));
    ASSERT_TRUE(rd.Espera("Traplic_Invite"));
    const int cid = rd.Ultimo("Traplic_Invite").cid;
    EXPECT_EQ(pg.AbortaInterrupcion("RD-01", "TLF-03", cid), 0);
    ASSERT_TRUE(tlf.Espera("Traplic_Invite"));
    const SesionSip s = tlf.Ultimo("Traplic_Invite");
    EXPECT_EQ(s.cid, cid);
    EXPECT_EQ(s.iUsuario, tlf.iUsuario);
    EXPECT_EQ(s.canal, -1);
    EXPECT_EQ(rd.Ultimo("Abortallamada").cid, cid);
    SesionSip sUa{};
    ASSERT_EQ(pg.DameSipua()->LeeSesion(cid, &sUa), 0);
    EXPECT_EQ(sUa.iUsuario, tlf.iUsuario);
}

}  // namespace

namespace {

// Trunk mode: a call by number goes to an idle ATS-R2 line, else an idle ATS-N5 one, else the
// busy line with the greater priority value (ATS-N5 on equal values).
TEST_F(Puente, TrunkModeChoosesAmongTheTrunksByStateAndPriority) {
    RecursoPrueba r2, n5;
    for (RecursoPrueba* r : {&r2, &n5}) {
        r->poPasaGus = &pg;
        r->iOperador = 0;  // every number in its operator ranges
    }
    r2.iUsuario = pg.AltaRecurso(&r2, "R2-07", TIPOIF_ATSR2, 0);
    n5.iUsuario = pg.AltaRecurso(&n5, "N5-08", TIPOIF_ATSN5, 0);
    ConfigPrueba(1);
    auto Publica = [&](RecursoPrueba& r, int iEstado, int iPrio) {
        sEstadoPublicado e{};
        e.ucEstado = static_cast<uint8_t>(iEstado);
        e.iValor = iPrio;
        pg.ActualizaEstadoUsuario(r.iUsuario, 0, &e);
    };
    struct Caso {
        int iEstadoR2, iPrioR2, iEstadoN5, iPrioN5;
        bool bOperador;  // the numbers lie in the lines' ranges
        const char* szElegido;
        int iEstado;  // SIP answer when none is chosen
    };
    const Caso casos[] = {
        {0, 0, 0, 0, true, "R2-07", 200},
        {1, 3, 0, 0, true, "N5-08", 200},
        {1, 4, 1, 3, true, "R2-07", 200},
        {1, 3, 1, 3, true, "N5-08", 200},
        {10, 0, 10, 0, true, "", 503},
        {0, 0, 0, 0, false, "", 500},  // numbers outside every range: not authorised
    };
    Crudo c;
    int n = 0;
    for (const Caso& k : casos) {
        ++n;
        Publica(r2, k.iEstadoR2, k.iPrioR2);
        Publica(n5, k.iEstadoN5, k.iPrioN5);
        r2.iOperador = n5.iOperador = k.bOperador ? 0 : -1;
        const int iAntesR2 = r2.Cuenta("Traplic_Invite"), iAntesN5 = n5.Cuenta("Traplic_Invite");
        const std::string sCallId = "troncal" + std::to_string(n);
        c.Envia(Invite(sCallId, "sip:123456@127.0.0.1:5060", "sip:654321@127.0.0.1:5080", "DA/IDA call", true));
        EXPECT_EQ(Estado(RespuestaFinal(c, sCallId)), k.iEstado) << n;
        EXPECT_EQ(r2.Cuenta("Traplic_Invite") - iAntesR2, std::string(k.szElegido) == "R2-07" ? 1 : 0) << n;
        EXPECT_EQ(n5.Cuenta("Traplic_Invite") - iAntesN5, std::string(k.szElegido) == "N5-08" ? 1 : 0) << n;
    }
    EXPECT_TRUE(EsperaQue([] { return CuentaLog(" CPasaGus: Origen o destino no autorizado") == 1; }));
    pg.BajaRecurso(&r2);  // they go before the bridge
    pg.BajaRecurso(&n5);
}

// The resource's own password answers the registrar's challenge, whether the resource is the
// first one (it starts the user agent) or a later one.
class RegistroRecurso : public ::testing::TestWithParam<bool> {};

TEST_P(RegistroRecurso, TheConfiguredPasswordAnswersTheRegistrarsChallenge) {
    const bool bPrimero = GetParam();
    CSipua::FijaReloj(&TicksPrueba);
    ConfigPrueba(0);
    GestorPrueba gestor;
    PasaGusPrueba pg;
    pg.Inicia(&gestor, nullptr);
    RecursoPrueba otro, rd;
    for (RecursoPrueba* r : {&otro, &rd}) r->poPasaGus = &pg;
    if (!bPrimero) {
        ASSERT_EQ(pg.AltaRecurso(&otro, "TLF-03", TIPOIF_BC, 0, "T12"), 0);
    }
    const int iUsuario = pg.AltaRecurso(&rd, "RD-09", TIPOIF_RADIO, 1, "RD09-clave9");
    ASSERT_EQ(iUsuario, bPrimero ? 0 : 1);
    Sipp sipp({"-sf", DirEscenariosSip() + "uas_registro_recurso.xml", "-m", "1"});
    char acRegistrar[3][65] = {"127.0.0.1:5070", "", ""};
    pg.FijaServidoresSip(acRegistrar, 3, acRegistrar);
    pg.DameSipua()->ActivaRegistro(1);
    UsuarioSipua u{};
    EXPECT_TRUE(EsperaQue([&] { return pg.DameSipua()->DameUsuario(iUsuario, &u) && u.iEstadoRegistro == SIP_REGEST_OK; }))
        << sipp.Log();
    EXPECT_EQ(sipp.Espera(), 0) << sipp.Log();
    if (!bPrimero) {
        ASSERT_TRUE(pg.DameSipua()->DameUsuario(0, &u));
        EXPECT_EQ(u.iEstadoRegistro, SIP_REGEST_REPOSO) << "a resource whose registration is off is not sent";
    }
}

INSTANTIATE_TEST_SUITE_P(PrimeroYSiguiente, RegistroRecurso, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& i) { return i.param ? "First" : "Later"; });

}  // namespace
