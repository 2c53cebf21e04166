#include <gtest/gtest.h>
#include <sys/socket.h>

#include <cstring>

#include "rtpendian.h"
#include "rtpprueba.h"

using namespace prueba;

namespace {

// A datagram if one is waiting, else empty (loopback delivers during sendto).
std::vector<uint8_t> SiHay(const SocketCrudo &s)
{
    std::vector<uint8_t> b(65536);
    ssize_t n = recv(s.fd, b.data(), b.size(), MSG_DONTWAIT);
    b.resize(n > 0 ? size_t(n) : 0);
    return b;
}

struct Compuesto {
    explicit Compuesto(const std::vector<uint8_t> &d) : c(d.data(), d.size()) {}
    RTCPPacket *Busca(RTCPPacket::PacketType t)
    {
        c.GotoFirstPacket();
        while (RTCPPacket *p = c.GetNextPacket())
            if (p->GetPacketType() == t)
                return p;
        return nullptr;
    }
    RTCPCompoundPacket c;
};

class RTCPConReloj : public ::testing::Test {
protected:
    void SetUp() override
    {
        s.SetTimeSource(&Reloj::Lee, &reloj);
        ASSERT_EQ(0, CreaSesion(s, 5004, 5010));
    }
    // Advances the clock in 10 ms steps, polling, until a compound leaves; returns its time.
    double SiguienteCompuesto(std::vector<uint8_t> &d, double limite = 20)
    {
        for (double t = 0; t < limite; t += 0.01) {
            reloj.Avanza(0.01);
            s.Poll();
            d = SiHay(rtcp);
            if (!d.empty())
                return t + 0.01;
        }
        return -1;
    }
    Reloj reloj;
    SocketCrudo rtp{5010}, rtcp{5011};
    SesionEspia s;
};

TEST_F(RTCPConReloj, ReportsComeAtTheIntervalOfATwoPartySession)
{
    std::vector<uint8_t> d;
    // RFC 3550 A.7: minimum 5 s (2.5 s for the first), times [0.5, 1.5] / (e - 3/2).
    double primero = SiguienteCompuesto(d);
    EXPECT_GE(primero, 2.5 * 0.5 / 1.21828 - 0.02);
    EXPECT_LE(primero, 2.5 * 1.5 / 1.21828 + 0.02);
    double suma = 0;
    for (int i = 0; i < 60; i++) {
        double t = SiguienteCompuesto(d);
        EXPECT_GE(t, 5 * 0.5 / 1.21828 - 0.02);
        EXPECT_LE(t, 5 * 1.5 / 1.21828 + 0.02);
        suma += t;
    }
    // Reconsideration brings the mean back to about the deterministic 5 s.
    EXPECT_NEAR(5.0, suma / 60, 0.8);
}

TEST_F(RTCPConReloj, ReceiverReportUntilWeSendThenSenderReport)
{
    std::vector<uint8_t> d;
    ASSERT_GT(SiguienteCompuesto(d), 0);
    {
        Compuesto c(d);
        ASSERT_EQ(0, c.c.GetCreationError());
        auto *rr = static_cast<RTCPRRPacket *>(c.Busca(RTCPPacket::RR));
        ASSERT_NE(nullptr, rr);
        EXPECT_EQ(s.GetLocalSSRC(), rr->GetSenderSSRC());
        EXPECT_EQ(nullptr, c.Busca(RTCPPacket::SR));
        auto *sdes = static_cast<RTCPSDESPacket *>(c.Busca(RTCPPacket::SDES));
        ASSERT_NE(nullptr, sdes);
        ASSERT_TRUE(sdes->GotoFirstChunk());
        EXPECT_EQ(s.GetLocalSSRC(), sdes->GetChunkSSRC());
        ASSERT_TRUE(sdes->GotoFirstItem());
        EXPECT_EQ(RTCPSDESPacket::CNAME, sdes->GetItemType());
        EXPECT_NE(nullptr, std::memchr(sdes->GetItemData(), '@', sdes->GetItemLength()));
    }
    uint8_t audio[160] = {};
    for (int i = 0; i < 10; i++)
        s.SendPacket(audio, sizeof audio);
    auto primero = rtp.Recibe();
    uint32_t ts0 = jrtplib::rtpLee32(primero.data() + 4);
    int64_t envio = reloj.us;
    ASSERT_GT(SiguienteCompuesto(d), 0);
    {
        Compuesto c(d);
        auto *sr = static_cast<RTCPSRPacket *>(c.Busca(RTCPPacket::SR));
        ASSERT_NE(nullptr, sr);
        EXPECT_EQ(10u, sr->GetSenderPacketCount());
        EXPECT_EQ(1600u, sr->GetSenderOctetCount());
        RTPTime t(sr->GetNTPTimestamp());
        EXPECT_NEAR(double(reloj.us) / 1e6, t.GetDouble(), 1e-5);
        // Last packet stamped ts0 + 9 * 160 at 'envio'; the report extrapolates to its own time.
        double esperado = 9 * 160 + double(reloj.us - envio) / 125.0;
        EXPECT_NEAR(esperado, double(uint32_t(sr->GetRTPTimestamp() - ts0)), 1.0);
    }
    // Nothing sent since: back to RR.
    ASSERT_GT(SiguienteCompuesto(d), 0);
    Compuesto c(d);
    EXPECT_EQ(nullptr, c.Busca(RTCPPacket::SR));
    EXPECT_NE(nullptr, c.Busca(RTCPPacket::RR));
    EXPECT_EQ(3, s.compuestosEnviados);
}

TEST(RTCP, SessionsExchangeReportsAboutEachOther)
{
    ParConReloj<> par;
    ASSERT_EQ(0, par.Crea());
    Reloj &reloj = par.reloj;
    SesionEspia &a = par.a, &b = par.b;
    uint8_t audio[160] = {};
    // Until each side has a report of the other that refers to one of its own SRs (60 s at most).
    auto informado = [](SesionEspia &x, SesionEspia &y) {
        RTPSourceData *f = x.GetSourceInfo(y.GetLocalSSRC());
        return f && f->RR_HasInfo() && f->RR_GetLastSRTimestamp() != 0;
    };
    for (int i = 0; i < 3000 && !(informado(a, b) && informado(b, a)); i++) {
        reloj.Avanza(0.02);
        a.SendPacket(audio, sizeof audio);
        if (i % 3 != 1)  // b is silent every third tick; its timestamp still runs
            b.SendPacket(audio, sizeof audio);
        else
            b.IncrementTimestampDefault();
        a.Poll();
        b.Poll();
        std::vector<SesionEspia::Recibido> basura;
        a.LeeTodo(basura);
        b.LeeTodo(basura);
    }
    RTPSourceData *deB = a.GetSourceInfo(b.GetLocalSSRC());
    RTPSourceData *deA = b.GetSourceInfo(a.GetLocalSSRC());
    ASSERT_NE(nullptr, deB);
    ASSERT_NE(nullptr, deA);
    EXPECT_TRUE(deA->SR_HasInfo());
    EXPECT_TRUE(deB->SR_HasInfo());
    EXPECT_GE(a.srEnCompuestos, 1);
    // a's report about b is in b's table, with what b sent.
    ASSERT_TRUE(deA->RR_HasInfo());
    EXPECT_EQ(0, deA->RR_GetPacketsLost());
    ASSERT_TRUE(deB->RR_HasInfo());
    EXPECT_EQ(0, deB->RR_GetPacketsLost());
    EXPECT_NE(0u, deA->RR_GetLastSRTimestamp());
    char cname[64];
    size_t l;
    uint8_t *c = deA->SDES_GetCNAME(&l);
    ASSERT_GT(l, 0u);
    std::memcpy(cname, c, l);
    EXPECT_NE(nullptr, std::memchr(cname, '@', l));
    EXPECT_EQ(0u, a.GetDroppedPacketCount() + b.GetDroppedPacketCount());
}

// An SR with one report block, an RR and an SDES, all from SSRC 0x11223344.
std::vector<uint8_t> CompuestoSrRr(uint32_t ssrc = 0x11223344)
{
    std::vector<uint8_t> v = {0x81, 200, 0, 12};
    Pon32(v, ssrc);
    Pon32(v, 0xe8000000);  // NTP seconds
    Pon32(v, 0x80000000);  // half a second
    Pon32(v, 123456);      // RTP timestamp
    Pon32(v, 10);
    Pon32(v, 1600);
    for (int i = 0; i < 6; i++)
        Pon32(v, 0x55);  // a report block about someone else
    v.insert(v.end(), {0x80, 201, 0, 1});
    Pon32(v, ssrc);
    v.insert(v.end(), {0x81, 202, 0, 3});
    Pon32(v, ssrc);
    v.insert(v.end(), {1, 3, 'a', '@', 'b', 0, 0, 0});
    return v;
}

TEST(RTCP, CompoundWithSenderAndReceiverReportShowsOneSenderReport)
{
    SesionEspia s;
    ASSERT_EQ(0, CreaSesion(s, 5004, 5010));
    SocketCrudo par(5011);
    par.Envia(5005, CompuestoSrRr());
    s.Drena();
    EXPECT_EQ(1, s.compuestosRecibidos);
    EXPECT_EQ(1, s.srEnCompuestos);
    ASSERT_EQ(std::vector<uint32_t>{0x11223344}, s.nuevas);
    RTPSourceData *f = s.GetSourceInfo(0x11223344);
    ASSERT_TRUE(f->SR_HasInfo());
    EXPECT_EQ(0xe8000000u, f->SR_GetNTPTimestamp().GetMSW());
    EXPECT_EQ(0x80000000u, f->SR_GetNTPTimestamp().GetLSW());
    EXPECT_EQ(123456u, f->SR_GetRTPTimestamp());
    EXPECT_FALSE(f->RR_HasInfo());  // the block was not about us
    size_t l;
    uint8_t *c = f->SDES_GetCNAME(&l);
    EXPECT_EQ("a@b", std::string(reinterpret_cast<char *>(c), l));
}

TEST(RTCP, UnknownTypesAppAndMalformedPacketsReachTheirCallBacks)
{
    SesionEspia s;
    ASSERT_EQ(0, CreaSesion(s, 5004, 5010));
    SocketCrudo par(5011);
    std::vector<uint8_t> v = {0x80, 201, 0, 1};
    Pon32(v, 0x99);
    v.insert(v.end(), {0x81, 205, 0, 2});  // transport feedback: unknown here
    Pon32(v, 0x99);
    Pon32(v, 0x98);
    v.insert(v.end(), {0x83, 204, 0, 3});  // APP subtype 3
    Pon32(v, 0x99);
    v.insert(v.end(), {'T', 'E', 'S', 'T'});
    Pon32(v, 7);
    v.insert(v.end(), {0x82, 201, 0, 1});  // RR claiming two blocks in 8 bytes
    Pon32(v, 0x99);
    par.Envia(5005, v);
    s.Drena();
    EXPECT_EQ(1, s.compuestosRecibidos);
    EXPECT_EQ(1, s.desconocidos);
    EXPECT_EQ(1, s.apps);
    EXPECT_EQ(1, s.malformados);
    EXPECT_EQ(0u, s.GetDroppedPacketCount());
}

TEST(RTCP, CnameChangeOfAKnownSourceIsACollision)
{
    SesionEspia s;
    ASSERT_EQ(0, CreaSesion(s, 5004, 5010));
    SocketCrudo par(5011);
    auto v = CompuestoSrRr();
    par.Envia(5005, v);
    v[v.size() - 5] = 'x';
    par.Envia(5005, v);
    s.Drena();
    EXPECT_EQ(1, s.cnameColisiones);
}

TEST_F(RTCPConReloj, ByeIsReportedThenTheSourceGoesAfterTheByeTimeout)
{
    SocketCrudo par(5013);
    par.Envia(5004, PaqueteRtp(0, 1, 1, 0x77));
    s.Drena(2);
    std::vector<uint8_t> v = {0x80, 201, 0, 1};
    Pon32(v, 0x77);
    v.insert(v.end(), {0x81, 203, 0, 2});
    Pon32(v, 0x77);
    v.insert(v.end(), {3, 'f', 'i', 'n'});
    SocketCrudo parRtcp(5014);
    parRtcp.Envia(5005, v);
    s.Drena(2);
    ASSERT_EQ(std::vector<uint32_t>{0x77}, s.byes);
    RTPSourceData *f = s.GetSourceInfo(0x77);
    ASSERT_TRUE(f->ReceivedBYE());
    size_t l;
    uint8_t *r = f->GetBYEReason(&l);
    EXPECT_EQ("fin", std::string(reinterpret_cast<char *>(r), l));
    std::vector<uint8_t> d;
    for (int i = 0; i < 5 && s.byeTimeouts.empty(); i++)
        SiguienteCompuesto(d);
    EXPECT_EQ(std::vector<uint32_t>{0x77}, s.byeTimeouts);
    EXPECT_EQ(std::vector<uint32_t>{0x77}, s.quitadas);
    EXPECT_EQ(nullptr, s.GetSourceInfo(0x77));
}

TEST_F(RTCPConReloj, SilentSourceTimesOutAndItsPacketsGo)
{
    SocketCrudo par(5013);
    par.Envia(5004, PaqueteRtp(0, 1, 1, 0x77));
    s.Drena(2);
    ASSERT_NE(nullptr, s.GetSourceInfo(0x77));
    std::vector<uint8_t> d;
    // Five deterministic intervals (5 s minimum) without a word.
    for (int i = 0; i < 12 && s.timeouts.empty(); i++)
        SiguienteCompuesto(d);
    EXPECT_EQ(std::vector<uint32_t>{0x77}, s.timeouts);
    EXPECT_EQ(std::vector<uint32_t>{0x77}, s.quitadas);
    EXPECT_FALSE(s.GotoFirstSourceWithData());
}

TEST(RTCP, DestroySendsNoByeButByeDestroyDoes)
{
    SocketCrudo par(5011);
    {
        RTPSession s;
        ASSERT_EQ(0, CreaSesion(s, 5004, 5010));
        s.SendPacket("x", 1);
        s.Destroy();
        EXPECT_TRUE(SiHay(par).empty());
    }
    RTPSession s;
    ASSERT_EQ(0, CreaSesion(s, 5004, 5010));
    uint32_t ssrc = s.GetLocalSSRC();
    s.BYEDestroy(RTPTime(1.0), "adios", 5);
    auto d = SiHay(par);
    Compuesto c(d);
    ASSERT_EQ(0, c.c.GetCreationError());
    auto *bye = static_cast<RTCPBYEPacket *>(c.Busca(RTCPPacket::BYE));
    ASSERT_NE(nullptr, bye);
    EXPECT_EQ(ssrc, bye->GetSSRC(0));
    EXPECT_EQ(5u, bye->GetReasonLength());
    EXPECT_FALSE(s.IsActive());
}

}  // namespace
