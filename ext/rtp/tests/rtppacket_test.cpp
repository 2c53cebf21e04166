#include <gtest/gtest.h>

#include "rtpprueba.h"

using namespace prueba;

namespace {

std::vector<uint8_t> ConExtension(uint16_t palabras, size_t reales)
{
    auto p = PaqueteRtp(0, 1, 2, 3, {});
    p[0] |= 0x10;
    p.insert(p.end(), {0x01, 0x67, uint8_t(palabras >> 8), uint8_t(palabras)});
    p.insert(p.end(), 4 * reales, 0xab);
    return p;
}

std::vector<uint8_t> ConRelleno(uint8_t relleno, size_t payload)
{
    auto p = PaqueteRtp(0, 1, 2, 3, std::vector<uint8_t>(payload, 0x11));
    p[0] |= 0x20;
    p.back() = relleno;
    return p;
}

struct CasoRtp {
    const char *nombre;
    std::vector<uint8_t> datos;
    bool valido;
    size_t payload;
};

TEST(RTPPacket, ParsesValidAndRefusesMalformedDatagrams)
{
    auto con2Csrc = PaqueteRtp(0, 1, 2, 3, {9, 9});
    con2Csrc[0] |= 2;
    auto csrcCortos = PaqueteRtp(0, 1, 2, 3, {1, 2, 3, 4});
    csrcCortos[0] |= 2;
    std::vector<uint8_t> v1 = PaqueteRtp(0, 1, 2, 3);
    v1[0] = 0x40;
    std::vector<CasoRtp> casos = {
        {"plain", PaqueteRtp(0, 1, 2, 3, {1, 2, 3}), true, 3},
        {"empty payload", PaqueteRtp(123, 1, 2, 3, {}), true, 0},
        {"extension of two words", ConExtension(2, 2), true, 0},
        {"empty extension", ConExtension(0, 0), true, 0},
        {"padding", ConRelleno(4, 10), true, 6},
        {"two CSRCs", [&] { auto p = con2Csrc; p.insert(p.begin() + 12, 8, 0); return p; }(), true, 2},
        {"short header", std::vector<uint8_t>(11, 0x80), false, 0},
        {"version 1", v1, false, 0},
        {"RTCP type range", PaqueteRtp(72 | 0x80, 1, 2, 3), false, 0},
        {"CSRCs past the end", csrcCortos, false, 0},
        {"extension header cut", [] { auto p = PaqueteRtp(0, 1, 2, 3, {1, 2}); p[0] |= 0x10; return p; }(), false, 0},
        {"extension length past the end", ConExtension(3, 2), false, 0},
        {"extension length 0xffff", ConExtension(0xffff, 1), false, 0},
        {"padding longer than the packet", ConRelleno(200, 10), false, 0},
        {"padding of zero", ConRelleno(0, 10), false, 0},
    };
    for (const auto &c : casos) {
        RTPPacket p(c.datos.data(), c.datos.size());
        EXPECT_EQ(c.valido, p.GetCreationError() == 0) << c.nombre;
        if (c.valido) {
            EXPECT_EQ(c.payload, p.GetPayloadLength()) << c.nombre;
        }
    }
    RTPPacket e(casos[2].datos.data(), casos[2].datos.size());
    EXPECT_TRUE(e.HasExtension());
    EXPECT_EQ(0x0167, e.GetExtensionID());
    EXPECT_EQ(8u, e.GetExtensionLength());
    EXPECT_EQ(0xab, e.GetExtensionData()[7]);
    RTPPacket c(casos[5].datos.data(), casos[5].datos.size());
    EXPECT_EQ(2, c.GetCSRCCount());
}

TEST(RTPPacket, SessionDropsAndCountsMalformedDatagrams)
{
    SesionEspia s;
    ASSERT_EQ(0, CreaSesion(s, 5004, 5010));
    SocketCrudo f;
    f.Envia(5004, ConExtension(3, 2));
    f.Envia(5004, ConRelleno(200, 10));
    f.Envia(5004, std::vector<uint8_t>(5, 0x80));
    f.Envia(5004, std::vector<uint8_t>(3000, 0x80));  // longer than any packet taken
    f.Envia(5004, PaqueteRtp(0, 1, 2, 3, {7}));
    auto r = s.Recibe(1);
    s.Drena(3);
    ASSERT_EQ(1u, r.size());
    EXPECT_EQ(7, r[0].payload[0]);
    EXPECT_EQ(4u, s.GetDroppedPacketCount());
}

struct CasoRtcp {
    const char *nombre;
    std::vector<uint8_t> datos;
    bool valido;
};

std::vector<uint8_t> Rr(uint8_t cuenta = 0, uint16_t longitud = 1)
{
    std::vector<uint8_t> v = {uint8_t(0x80 | cuenta), 201, uint8_t(longitud >> 8), uint8_t(longitud)};
    Pon32(v, 0x42);
    return v;
}

TEST(RTCPCompoundPacket, RefusesCompoundsWhoseLengthsDoNotAddUp)
{
    auto dosRr = Rr();
    auto otro = Rr();
    dosRr.insert(dosRr.end(), otro.begin(), otro.end());
    auto rellenoEnMedio = dosRr;
    rellenoEnMedio[0] |= 0x20;
    const std::vector<uint8_t> rellenoFinal = {0xa0, 201, 0, 2, 0, 0, 0, 0x42, 0, 0, 0, 4};
    const std::vector<uint8_t> rellenoExcesivo = {0xa0, 201, 0, 2, 0, 0, 0, 0x42, 0, 0, 0, 9};
    auto version1 = Rr();
    version1[0] = 0x40;
    std::vector<CasoRtcp> casos = {
        {"one RR", Rr(), true},
        {"two RRs", dosRr, true},
        {"padded last packet", rellenoFinal, true},
        {"empty", {}, false},
        {"three bytes", {0x80, 201, 0}, false},
        {"length past the datagram", Rr(0, 2), false},
        {"length short of the datagram", [] { auto v = Rr(); v.push_back(0); return v; }(), false},
        {"padding not on the last packet", rellenoEnMedio, false},
        {"padding longer than the packet", rellenoExcesivo, false},
        {"version 1", version1, false},
    };
    for (const auto &c : casos) {
        RTCPCompoundPacket p(c.datos.data(), c.datos.size());
        EXPECT_EQ(c.valido, p.GetCreationError() == 0) << c.nombre;
    }
    // Known type, bad contents: the compound stands, the packet is of unknown format.
    auto rrCorto = Rr(1, 1);
    RTCPCompoundPacket p(rrCorto.data(), rrCorto.size());
    ASSERT_EQ(0, p.GetCreationError());
    RTCPPacket *q = p.GetNextPacket();
    ASSERT_NE(nullptr, q);
    EXPECT_FALSE(q->IsKnownFormat());
    EXPECT_EQ(0, static_cast<RTCPRRPacket *>(q)->GetReceptionReportCount());
}

TEST(RTCPCompoundPacket, SdesItemsAreWalkedChunkByChunk)
{
    std::vector<uint8_t> v = {0x82, 202, 0, 5};
    Pon32(v, 1);
    v.insert(v.end(), {1, 2, 'a', 'b', 7, 1, 'n', 0});  // CNAME, NOTE, END
    Pon32(v, 2);
    v.insert(v.end(), {1, 1, 'c', 0});
    RTCPCompoundPacket p(v.data(), v.size());
    ASSERT_EQ(0, p.GetCreationError());
    auto *s = static_cast<RTCPSDESPacket *>(p.GetNextPacket());
    ASSERT_TRUE(s->IsKnownFormat());
    std::vector<std::pair<uint32_t, std::string>> vistos;
    for (bool c = s->GotoFirstChunk(); c; c = s->GotoNextChunk())
        for (bool i = s->GotoFirstItem(); i; i = s->GotoNextItem())
            vistos.emplace_back(s->GetChunkSSRC(), std::to_string(s->GetItemType()) + ":" +
                                                       std::string(reinterpret_cast<char *>(s->GetItemData()), s->GetItemLength()));
    EXPECT_EQ((std::vector<std::pair<uint32_t, std::string>>{{1, "1:ab"}, {1, "7:n"}, {2, "1:c"}}), vistos);
    // An item running past its packet makes the SDES of unknown format.
    v[9] = 40;
    RTCPCompoundPacket malo(v.data(), v.size());
    ASSERT_EQ(0, malo.GetCreationError());
    EXPECT_FALSE(malo.GetNextPacket()->IsKnownFormat());
}

TEST(RTCPCompoundPacket, SessionDropsAndCountsBadCompounds)
{
    SesionEspia s;
    ASSERT_EQ(0, CreaSesion(s, 5004, 5010));
    SocketCrudo f;
    f.Envia(5005, Rr(0, 2));
    f.Envia(5005, {0x80, 201, 0});
    f.Envia(5005, std::vector<uint8_t>(5000, 0x80));
    f.Envia(5005, Rr());
    s.Drena(5);
    EXPECT_EQ(1, s.compuestosRecibidos);
    EXPECT_EQ(3u, s.GetDroppedPacketCount());
}

}  // namespace

namespace {

// Mutated copies of valid datagrams thrown at both ports: every one is either taken or
// dropped and counted, and nothing reads past a datagram (ASan watches). RTP_SEMILLA and
// RTP_VUELTAS in the environment choose another seed and a longer run.
TEST(RTPSession, SurvivesMutatedRtpAndRtcp)
{
    SesionEspia s;
    ASSERT_EQ(0, CreaSesion(s, 5004, 5010));
    SocketCrudo f;
    std::vector<uint8_t> rtcp = {0x81, 200, 0, 12};
    for (int i = 0; i < 12; i++)
        Pon32(rtcp, 0x01020304u * uint32_t(i + 1));
    rtcp.insert(rtcp.end(), {0x81, 202, 0, 3, 0, 0, 0, 9, 1, 3, 'a', '@', 'b', 0, 0, 0});
    rtcp.insert(rtcp.end(), {0x81, 203, 0, 2, 0, 0, 0, 9, 3, 'f', 'i', 'n'});
    std::vector<uint8_t> rtp = PaqueteRtp(0, 1, 2, 9, std::vector<uint8_t>(20, 0x33));
    rtp[0] |= 0x10;
    rtp.insert(rtp.begin() + 12, {0x01, 0x67, 0x00, 0x01, 0x21, 0x40, 0, 0});
    uint32_t semilla = getenv("RTP_SEMILLA") ? uint32_t(atoi(getenv("RTP_SEMILLA"))) : 12345;
    auto azar = [&] { return (semilla = semilla * 1103515245u + 12345u) >> 16; };
    int vueltas = getenv("RTP_VUELTAS") ? atoi(getenv("RTP_VUELTAS")) : 2000;
    for (int i = 0; i < vueltas; i++) {
        auto d = (i % 2) ? rtcp : rtp;
        for (int k = 0, n = int(azar() % 4) + 1; k < n; k++)
            d[azar() % d.size()] ^= uint8_t(1u << (azar() % 8));
        if (azar() % 4 == 0)
            d.resize(azar() % d.size());
        f.Envia((i % 2) ? 5005 : 5004, d);
        if (i % 50 == 49) {
            s.Drena(2);
            std::vector<SesionEspia::Recibido> r;
            s.LeeTodo(r);
        }
    }
    s.Drena(5);
    EXPECT_GT(s.GetDroppedPacketCount(), 0u);
    EXPECT_GT(s.paquetesRtp + s.compuestosRecibidos, 0);
    EXPECT_EQ(0, s.SendPacket("x", 1));
    EXPECT_EQ(0, s.Poll());
}

}  // namespace
