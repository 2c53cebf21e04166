#include "csesionrtp.h"

#include <dirent.h>
#include <gtest/gtest.h>

#include <cstring>

#include "rtp_pruebas.h"

using namespace prueba;

namespace {

constexpr uint16_t PUERTO = 5004;
constexpr uint16_t PUERTO_PAR = 5006;
// Two G.711 quantisations (each within one step of 256 at this level) of a sine of amplitude 8000.
constexpr int32_t TOLERANCIA = 400;

struct Ley {
    const char* nombre;
    int32_t iPayload;    // on the wire
    int32_t iLeyLinea;   // of the line's PCM bytes
};
const Ley LEYES[] = {{"PCMA sobre linea A", 8, 8}, {"PCMU sobre linea A", 0, 8}, {"PCMA sobre linea mu", 8, 0},
                     {"PCMU sobre linea mu", 0, 0}};

int CreaSesion(CSesionRTP& s, int32_t iPayload, const char* szRemota = "127.0.0.1") {
    return s.Crea(PUERTO, szRemota, PUERTO_PAR, iPayload, 8000, 160, 0);
}

TEST(CSesionRTP, SendsLineAudioAsTheLawOfItsPayloadTypeIn160ByteBlocksOf20Ms) {
    CSesionRTP::FijaTipoInterfaz(2);
    for (const Ley& l : LEYES) {
        SCOPED_TRACE(l.nombre);
        CSesionRTP s;
        Par par;
        ASSERT_EQ(0, par.Crea(PUERTO_PAR, PUERTO));
        ASSERT_EQ(0, CreaSesion(s, l.iPayload));
        s.FijaLeyLinea(l.iLeyLinea);
        std::vector<int32_t> seno = Seno(1600);
        std::vector<uint8_t> linea = Codifica(seno, l.iLeyLinea == 8);
        for (int i = 0; i < 10; i++) ASSERT_EQ(0, s.EnviaMuestrasLinea(&linea[static_cast<size_t>(i) * 160], 160));
        std::vector<RTPPacket*> r = Recibe(par, 10);
        ASSERT_EQ(10u, r.size());
        for (size_t i = 0; i < r.size(); i++) {
            RTPPacket* p = r[i];
            EXPECT_EQ(l.iPayload, p->GetPayloadType());
            ASSERT_EQ(160u, p->GetPayloadLength());
            EXPECT_EQ(uint16_t(r[0]->GetSequenceNumber() + i), p->GetSequenceNumber());
            EXPECT_EQ(r[0]->GetTimestamp() + 160 * i, p->GetTimestamp());
            std::vector<int32_t> esperado(seno.begin() + static_cast<long>(i * 160),
                                          seno.begin() + static_cast<long>(i * 160 + 160));
            EXPECT_LE(DiferenciaMaxima(esperado, Decodifica(p->GetPayloadData(), 160, l.iPayload == 8)), TOLERANCIA);
            // Read in the other law the same bytes are far off: the law on the wire is the payload's.
            EXPECT_GT(DiferenciaMaxima(esperado, Decodifica(p->GetPayloadData(), 160, l.iPayload != 8)), 1000);
            if (l.iPayload == l.iLeyLinea) {
                EXPECT_EQ(0, memcmp(p->GetPayloadData(), &linea[i * 160], 160)) << "same law: bytes untouched";
            }
        }
        for (RTPPacket* p : r) par.DeletePacket(p);
    }
}

TEST(CSesionRTP, HandsReceivedAudioToTheLineInTheLineLaw) {
    CSesionRTP::FijaTipoInterfaz(2);
    for (const Ley& l : LEYES) {
        SCOPED_TRACE(l.nombre);
        CSesionRTP s;
        Par par;
        ASSERT_EQ(0, par.Crea(PUERTO_PAR, PUERTO, static_cast<uint8_t>(l.iPayload)));
        ASSERT_EQ(0, CreaSesion(s, l.iPayload));
        s.FijaLeyLinea(l.iLeyLinea);
        std::vector<int32_t> seno = Seno(480);
        std::vector<uint8_t> red = Codifica(seno, l.iPayload == 8);
        for (int i = 0; i < 3; i++) ASSERT_EQ(0, par.SendPacket(&red[static_cast<size_t>(i) * 160], 160));
        std::vector<RTPPacket*> r = Recibe(s, 3);
        ASSERT_EQ(3u, r.size());
        for (size_t i = 0; i < r.size(); i++) {
            uint8_t linea[200];
            ASSERT_EQ(160, s.MuestrasParaLinea(r[i], 0, linea, sizeof linea));
            std::vector<int32_t> esperado(seno.begin() + static_cast<long>(i * 160),
                                          seno.begin() + static_cast<long>(i * 160 + 160));
            EXPECT_LE(DiferenciaMaxima(esperado, Decodifica(linea, 160, l.iLeyLinea == 8)), TOLERANCIA);
            if (l.iPayload == l.iLeyLinea) {
                EXPECT_EQ(0, memcmp(linea, &red[i * 160], 160));
            }
            // Pieces of the payload: only what fits, from where asked, nothing past its end.
            uint8_t trozo[100];
            EXPECT_EQ(100, s.MuestrasParaLinea(r[i], 0, trozo, sizeof trozo));
            EXPECT_EQ(0, memcmp(trozo, linea, 100));
            EXPECT_EQ(60, s.MuestrasParaLinea(r[i], 100, trozo, sizeof trozo));
            EXPECT_EQ(0, memcmp(trozo, linea + 100, 60));
            EXPECT_EQ(0, s.MuestrasParaLinea(r[i], 160, trozo, sizeof trozo));
            EXPECT_EQ(0, s.MuestrasParaLinea(r[i], -1, trozo, sizeof trozo));
            s.DeletePacket(r[i]);
        }
    }
}

TEST(CSesionRTP, RadioInterfaceSendsWithTimestampIncrementZero) {
    struct Caso {
        int32_t iTipoIf;
        uint32_t uiIncremento;
    };
    for (Caso c : {Caso{0, 0}, Caso{2, 160}, Caso{1, 160}}) {
        SCOPED_TRACE(c.iTipoIf);
        CSesionRTP::FijaTipoInterfaz(c.iTipoIf);
        CSesionRTP s;
        Par par;
        ASSERT_EQ(0, par.Crea(PUERTO_PAR, PUERTO));
        ASSERT_EQ(0, CreaSesion(s, 8));
        uint8_t b[160] = {};
        ASSERT_EQ(0, s.SendPacket(b, 160));
        ASSERT_EQ(0, s.SendPacket(b, 160));
        std::vector<RTPPacket*> r = Recibe(par, 2);
        ASSERT_EQ(2u, r.size());
        EXPECT_EQ(c.uiIncremento, r[1]->GetTimestamp() - r[0]->GetTimestamp());
        EXPECT_FALSE(r[0]->HasMarker());
        for (RTPPacket* p : r) par.DeletePacket(p);
    }
}

TEST(CSesionRTP, RemoteAddressMustBeFourFieldsOf0To255) {
    Salidas salidas;
    for (const char* malo : {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.-4", "1.2.3.4x", " 1.2.3.4", "a.b.c.d",
                             "1..2.3", "127.0.0.1:5006", "12345678901234567890123"}) {
        SCOPED_TRACE(malo);
        Salidas::Limpia();
        CSesionRTP s;
        EXPECT_EQ(-1, CreaSesion(s, 8, malo));
        EXPECT_FALSE(s.IsActive());
        EXPECT_NE(std::string::npos, Salidas::Texto().find("PUM! CSesionRTP::Crea->")) << Salidas::Texto();
    }
    // Nothing of a refused session holds the port.
    CSesionRTP s;
    EXPECT_EQ(0, CreaSesion(s, 8, "127.0.0.1"));
    // The text may fill its 20 bytes with no terminating zero.
    char acLleno[24];
    memset(acLleno, '1', sizeof acLleno);
    CSesionRTP s2;
    EXPECT_EQ(-1, s2.Crea(PUERTO + 10, acLleno, PUERTO_PAR, 8, 8000, 160, 0));
    EXPECT_EQ(-1, s2.Crea(PUERTO + 10, nullptr, PUERTO_PAR, 8, 8000, 160, 0));
}

TEST(CSesionRTP, PortsOutOfRangeFailTheSession) {
    Salidas salidas;
    struct Caso {
        int32_t iLocal, iRemoto;
    };
    for (Caso c : {Caso{0, 5006}, Caso{70004, 5006}, Caso{-2, 5006}, Caso{5004, 0}, Caso{5004, 65536}}) {
        SCOPED_TRACE(std::to_string(c.iLocal) + " " + std::to_string(c.iRemoto));
        CSesionRTP s;
        EXPECT_EQ(-1, s.Crea(c.iLocal, "127.0.0.1", c.iRemoto, 8, 8000, 160, 0));
        EXPECT_FALSE(s.IsActive());
    }
}

TEST(CSesionRTP, CreationFailureIsTracedWithTheLibraryText) {
    Salidas salidas;
    CSesionRTP a, b;
    ASSERT_EQ(0, CreaSesion(a, 8));
    Salidas::Limpia();
    EXPECT_EQ(-1, CreaSesion(b, 8));
    std::string t = Salidas::Texto();
    EXPECT_EQ(0u, t.find("PUM! CSesionRTP::Crea->")) << t;
    EXPECT_NE(std::string::npos, t.find(" (error -13)\n")) << t;
    Salidas::Limpia();
    CSesionRTP c;
    EXPECT_EQ(-1, c.Crea(PUERTO + 1, "127.0.0.1", PUERTO_PAR, 8, 8000, 160, 0));  // odd port
    EXPECT_NE(std::string::npos, Salidas::Texto().find(" (error -11)\n")) << Salidas::Texto();
}

TEST(CSesionRTP, TimestampUnitGives8000HzAndItsNtpFraction) {
    CSesionRTP s;
    ASSERT_EQ(0, CreaSesion(s, 8));
    EXPECT_EQ(8000u, s.DameFrecuencia());
    EXPECT_EQ(536870u, s.DameFraccionNtpUnidad());
    EXPECT_EQ(8u, s.DamePayload());
    // 10.5 s after 1970: 84,000 units; the 1900 epoch is moved to 1970.
    EXPECT_EQ(84000u, s.NtpEnUnidades(2208988800u + 10, 0x80000000u));
    EXPECT_EQ(0u, s.NtpEnUnidades(2208988800u, 0));
}

// SR (28 bytes) of source 0x11223344 with NTP seconds and fraction and an RTP timestamp,
// followed by an RR of the same source.
std::vector<uint8_t> CompuestoSrRr(uint32_t uiSeg, uint32_t uiFrac, uint32_t uiRtp) {
    std::vector<uint8_t> d = {0x80, 200, 0, 6, 0x11, 0x22, 0x33, 0x44};
    for (uint32_t v : {uiSeg, uiFrac, uiRtp, 5u, 800u})
        for (int k = 3; k >= 0; k--) d.push_back(static_cast<uint8_t>(v >> (8 * k)));
    for (uint8_t b : {0x80, 201, 0, 1, 0x11, 0x22, 0x33, 0x44}) d.push_back(b);
    return d;
}

struct LlamadaSR {
    uint32_t ctx, ntp, rtp;
};
std::vector<LlamadaSR> gLlamadas;
void AlSR(uint32_t c, uint32_t n, uint32_t r) { gLlamadas.push_back({c, n, r}); }

TEST(CSesionRTP, SenderReportCallsTheCallbackOncePerSR) {
    Salidas salidas;
    gLlamadas.clear();
    CSesionRTP s;
    ASSERT_EQ(0, CreaSesion(s, 8));
    // Without a call-back reports are ignored.
    ASSERT_TRUE(EnviaUdp(PUERTO + 1, CompuestoSrRr(2208988800u + 10, 0x80000000u, 4321)));
    SondeaHasta(s, [] { return !Salidas::Texto().empty(); }, 0.5);
    EXPECT_EQ("", Salidas::Texto());

    s.FijaCallbackSR(AlSR, 77);
    ASSERT_TRUE(EnviaUdp(PUERTO + 1, CompuestoSrRr(2208988800u + 10, 0x80000000u, 4321)));
    SondeaHasta(s, [] { return !gLlamadas.empty(); });
    ASSERT_EQ(1u, gLlamadas.size());
    EXPECT_EQ(77u, gLlamadas[0].ctx);
    EXPECT_EQ(84000u, gLlamadas[0].ntp);
    EXPECT_EQ(4321u, gLlamadas[0].rtp);
    EXPECT_EQ(" RX RTCP SR - NTP = 2208988810-2147483648 (84000), RTP = 4321\n", Salidas::Texto());

    // The same report is then the source's last one.
    uint32_t uiNtp = 1, uiRtp = 1;
    ASSERT_TRUE(s.GotoFirstSource());
    EXPECT_EQ(0, s.DameUltimoSR(uiNtp, uiRtp));
    EXPECT_EQ(84000u, uiNtp);
    EXPECT_EQ(4321u, uiRtp);
}

TEST(CSesionRTP, LastSenderReportIsZeroWhenTheSourceSentNone) {
    CSesionRTP s;
    Par par;
    ASSERT_EQ(0, par.Crea(PUERTO_PAR, PUERTO));
    ASSERT_EQ(0, CreaSesion(s, 8));
    uint8_t b[160] = {};
    ASSERT_EQ(0, par.SendPacket(b, 160));
    std::vector<RTPPacket*> r = Recibe(s, 1);
    ASSERT_EQ(1u, r.size());
    s.DeletePacket(r[0]);
    uint32_t uiNtp = 9, uiRtp = 9;
    ASSERT_TRUE(s.GotoFirstSource());
    EXPECT_EQ(0, s.DameUltimoSR(uiNtp, uiRtp));
    EXPECT_EQ(0u, uiNtp);
    EXPECT_EQ(0u, uiRtp);
}

TEST(CSesionRTP, CountdownsReachZeroOnceAndAReloadsC) {
    CSesionRTP s;
    EXPECT_EQ(-1, s.DescuentaA(1));
    s.FijaCuentaA(100);
    EXPECT_EQ(60, s.DescuentaA(40));
    EXPECT_EQ(0, s.DescuentaA(60));
    EXPECT_EQ(-1, s.DescuentaA(1));
    EXPECT_EQ(300, s.DescuentaC(100));  // A reaching 0 set C to 400
    s.FijaCuentaB(10);
    EXPECT_EQ(0, s.DescuentaB(25));
    EXPECT_EQ(-1, s.DescuentaB(0));
    s.FijaCuentaD(7);
    EXPECT_EQ(7u, s.DameCuentaD());
}

}  // namespace

namespace {

size_t DescriptoresAbiertos() {
    size_t n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d)) n++;
        closedir(d);
    }
    return n;
}

// A hundred rounds show any descriptor a round leaves behind (and LeakSanitizer any memory)
// while staying quick on a loaded machine.
TEST(CSesionRTP, FifteenSessionsOpenedAndClosedAHundredTimesLeaveNoDescriptor) {
    constexpr int MAX_SESIONES = 15;
    size_t iAntes = DescriptoresAbiertos();
    for (int vuelta = 0; vuelta < 100; vuelta++) {
        CSesionRTP* ap[MAX_SESIONES];
        for (int i = 0; i < MAX_SESIONES; i++) {
            ap[i] = new CSesionRTP;
            ASSERT_EQ(0, ap[i]->Crea(PUERTO + 2 * i, "127.0.0.1", PUERTO_PAR + 100, 8, 8000, 160, 0)) << vuelta;
        }
        if (vuelta == 0) {
            EXPECT_EQ(iAntes + 2 * MAX_SESIONES, DescriptoresAbiertos());
        }
        for (CSesionRTP* p : ap) {
            p->Destroy();
            delete p;
        }
    }
    EXPECT_EQ(iAntes, DescriptoresAbiertos());
}

}  // namespace
