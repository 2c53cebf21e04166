#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "rtpprueba.h"

using namespace prueba;

namespace {

size_t DescriptoresAbiertos()
{
    size_t n = 0;
    DIR *d = opendir("/proc/self/fd");
    while (dirent *e = readdir(d))
        n += e->d_name[0] != '.';
    closedir(d);
    return n;
}

TEST(RTPSession, ThousandPacketsEachWayArriveInOrderWithTimestamps)
{
    SesionEspia a, b;
    ASSERT_EQ(0, CreaSesion(a, 5004, 5006));
    ASSERT_EQ(0, CreaSesion(b, 5006, 5004));
    std::vector<SesionEspia::Recibido> enB, enA;
    uint8_t audio[160];
    for (int i = 0; i < 1000; i++) {
        std::memset(audio, uint8_t(i), sizeof audio);
        ASSERT_EQ(0, a.SendPacket(audio, sizeof audio));
        ASSERT_EQ(0, b.SendPacket(audio, sizeof audio));
        if (i % 50 == 49) {
            // Read as we go: the socket buffers hold only so many datagrams.
            auto rb = b.Recibe(50), ra = a.Recibe(50);
            enB.insert(enB.end(), rb.begin(), rb.end());
            enA.insert(enA.end(), ra.begin(), ra.end());
        }
    }
    for (auto *r : {&enA, &enB}) {
        ASSERT_EQ(1000u, r->size());
        for (size_t i = 1; i < r->size(); i++) {
            EXPECT_EQ(uint16_t((*r)[0].seq + i), (*r)[i].seq);
            EXPECT_EQ((*r)[0].ts + 160 * uint32_t(i), (*r)[i].ts);
            EXPECT_EQ(uint8_t(i), (*r)[i].payload[0]);
            ASSERT_EQ(160u, (*r)[i].payload.size());
        }
    }
    EXPECT_EQ(a.GetLocalSSRC(), enB[0].ssrc);
    EXPECT_EQ(b.GetLocalSSRC(), enA[0].ssrc);
    EXPECT_EQ(std::vector<uint32_t>{a.GetLocalSSRC()}, b.nuevas);
    EXPECT_EQ(1000, b.paquetesRtp);
    EXPECT_EQ(0u, a.GetDroppedPacketCount() + b.GetDroppedPacketCount());
}

TEST(RTPSession, IdentifiersSequenceAndTimestampStartAtRandom)
{
    SocketCrudo par(5010);
    std::vector<uint32_t> ssrcs, tss;
    std::vector<uint16_t> seqs;
    for (int i = 0; i < 4; i++) {
        RTPSession s;
        ASSERT_EQ(0, CreaSesion(s, 5004, 5010));
        ASSERT_EQ(0, s.SendPacket("x", 1));
        auto d = par.Recibe();
        ASSERT_EQ(13u, d.size());
        seqs.push_back(uint16_t(d[2] << 8 | d[3]));
        tss.push_back(uint32_t(d[4]) << 24 | uint32_t(d[5]) << 16 | uint32_t(d[6]) << 8 | d[7]);
        ssrcs.push_back(uint32_t(d[8]) << 24 | uint32_t(d[9]) << 16 | uint32_t(d[10]) << 8 | d[11]);
        EXPECT_EQ(s.GetLocalSSRC(), ssrcs.back());
    }
    auto distintos = [](auto v) {
        std::sort(v.begin(), v.end());
        return std::unique(v.begin(), v.end()) == v.end();
    };
    EXPECT_TRUE(distintos(ssrcs));
    EXPECT_TRUE(distintos(tss));
    EXPECT_TRUE(distintos(seqs));
}

TEST(RTPSession, LongFormSendsTypeMarkAndIncrementGiven)
{
    SocketCrudo par(5010);
    RTPSession s;
    ASSERT_EQ(0, CreaSesion(s, 5004, 5010));
    // Radio keep-alive: empty payload, type 123, no marker, timestamp unchanged.
    const uint8_t ext[4] = {0x20, 0x00, 0x00, 0x00};
    ASSERT_EQ(0, s.SendPacketEx(nullptr, 0, 123, false, 0, 0x0167, ext, 1));
    ASSERT_EQ(0, s.SendPacket("ab", 2, 0, true, 40));
    ASSERT_EQ(0, s.SendPacket("cd", 2));
    auto k = par.Recibe(), m = par.Recibe(), n = par.Recibe();
    ASSERT_EQ(20u, k.size());
    EXPECT_EQ(0x90, k[0]);
    EXPECT_EQ(123, k[1]);
    EXPECT_EQ((std::vector<uint8_t>{0x01, 0x67, 0x00, 0x01, 0x20, 0, 0, 0}), std::vector<uint8_t>(k.begin() + 12, k.end()));
    ASSERT_EQ(14u, m.size());
    EXPECT_EQ(0x80, m[1]);
    EXPECT_TRUE(std::equal(k.begin() + 4, k.begin() + 8, m.begin() + 4));  // increment 0 kept the timestamp
    uint32_t tsm = uint32_t(m[4]) << 24 | uint32_t(m[5]) << 16 | uint32_t(m[6]) << 8 | m[7];
    uint32_t tsn = uint32_t(n[4]) << 24 | uint32_t(n[5]) << 16 | uint32_t(n[6]) << 8 | n[7];
    EXPECT_EQ(tsm + 40, tsn);
    EXPECT_EQ(8, n[1]);
    EXPECT_EQ(uint16_t((k[2] << 8 | k[3]) + 2), uint16_t(n[2] << 8 | n[3]));
}

TEST(RTPSession, HeaderExtensionRoundTripsWithIdAndWords)
{
    SesionEspia a, b;
    ASSERT_EQ(0, CreaSesion(a, 5004, 5006));
    ASSERT_EQ(0, CreaSesion(b, 5006, 5004));
    const uint8_t words[8] = {0x40, 0x41, 0x02, 0x03, 0xa1, 0xb2, 0xc3, 0xd4};
    ASSERT_EQ(0, a.SendPacketEx("voz", 3, 0x0067, words, 2));
    ASSERT_EQ(0, a.SendPacket("sin", 3));
    std::vector<std::pair<bool, std::vector<uint8_t>>> vistos;
    for (int i = 0; i < 200 && vistos.size() < 2; i++) {
        b.WaitForIncomingData(RTPTime(0.01));
        b.Poll();
        if (b.GotoFirstSourceWithData())
            while (RTPPacket *p = b.GetNextPacket()) {
                std::vector<uint8_t> e;
                if (p->HasExtension()) {
                    EXPECT_EQ(0x0067, p->GetExtensionID());
                    e.assign(p->GetExtensionData(), p->GetExtensionData() + p->GetExtensionLength());
                }
                EXPECT_EQ(3u, p->GetPayloadLength());
                vistos.emplace_back(p->HasExtension(), e);
                b.DeletePacket(p);
            }
    }
    ASSERT_EQ(2u, vistos.size());
    EXPECT_TRUE(vistos[0].first);
    EXPECT_EQ(std::vector<uint8_t>(words, words + 8), vistos[0].second);
    EXPECT_FALSE(vistos[1].first);
    EXPECT_TRUE(vistos[1].second.empty());
}

TEST(RTPSession, SendingRefusesWhatCannotBeSent)
{
    RTPSession s;
    EXPECT_EQ(ERR_RTP_SESSION_NOTCREATED, s.SendPacket("x", 1));
    EXPECT_EQ(ERR_RTP_SESSION_NOTCREATED, s.Poll());
    RTPSessionParams sp;
    RTPUDPv4TransmissionParams tp;
    tp.SetPortbase(5004);
    EXPECT_EQ(ERR_RTP_SESSION_TSUNITNOTSET, s.Create(sp, &tp));
    sp.SetOwnTimestampUnit(1.0 / 8000);
    tp.SetPortbase(5005);
    EXPECT_EQ(ERR_RTP_UDPV4TRANS_PORTBASENOTEVEN, s.Create(sp, &tp));
    tp.SetPortbase(5004);
    EXPECT_EQ(ERR_RTP_SESSION_USERDEFINEDTRANSMITTERNOTSUPPORTED, s.Create(sp, &tp, RTPTransmitter::UserDefinedProto));
    EXPECT_EQ(ERR_RTP_SESSION_BADPROTOCOL, s.Create(sp, &tp, 1));
    ASSERT_EQ(0, s.Create(sp, &tp, 0));
    EXPECT_EQ(ERR_RTP_SESSION_ALREADYCREATED, s.Create(sp, &tp));
    EXPECT_EQ(ERR_RTP_SESSION_NODEFAULTVALUES, s.SendPacket("x", 1));
    std::vector<uint8_t> grande(1400);
    EXPECT_EQ(ERR_RTP_SESSION_PACKETTOOBIG, s.SendPacket(grande.data(), grande.size(), 0, false, 160));
    EXPECT_EQ(ERR_RTP_SESSION_BADPAYLOADTYPE, s.SendPacket("x", 1, 200, false, 160));
    EXPECT_EQ(ERR_RTP_UDPV4TRANS_ALREADYINDESTLIST,
              (s.AddDestination(RTPIPv4Address(INADDR_LOOPBACK, 6000)), s.AddDestination(RTPIPv4Address(INADDR_LOOPBACK, 6000))));
    // The port pair is taken: a second session on it fails and leaves nothing open.
    RTPSession otra;
    size_t antes = DescriptoresAbiertos();
    EXPECT_EQ(ERR_RTP_UDPV4TRANS_CANTBINDRTPSOCKET, otra.Create(sp, &tp));
    EXPECT_EQ(antes, DescriptoresAbiertos());
    EXPECT_FALSE(otra.IsActive());
}

TEST(RTPSession, ErrorTextsNameEveryCode)
{
    EXPECT_EQ("The port base must be an even number", RTPGetErrorString(ERR_RTP_UDPV4TRANS_PORTBASENOTEVEN));
    for (int c = -1; c >= ERR_RTP_SESSION_BADPAYLOADTYPE; c--)
        EXPECT_NE("Unknown error code", RTPGetErrorString(c)) << c;
    EXPECT_EQ("Unknown error code", RTPGetErrorString(-9999));
}

TEST(RTPSession, TransmissionInfoGivesTheSocketsBoundToThePortPair)
{
    RTPSession s;
    ASSERT_EQ(0, CreaSesion(s, 5004, 5006));
    RTPTransmissionInfo *inf = s.GetTransmissionInfo();
    ASSERT_NE(nullptr, inf);
    ASSERT_EQ(RTPTransmitter::IPv4UDPProto, inf->GetTransmissionProtocol());
    auto *u = static_cast<RTPUDPv4TransmissionInfo *>(inf);
    for (auto [fd, puerto] : {std::pair{u->GetRTPSocket(), 5004}, std::pair{u->GetRTCPSocket(), 5005}}) {
        sockaddr_in a{};
        socklen_t l = sizeof a;
        ASSERT_EQ(0, getsockname(fd, reinterpret_cast<sockaddr *>(&a), &l));
        EXPECT_EQ(puerto, ntohs(a.sin_port));
        EXPECT_TRUE(fcntl(fd, F_GETFL) & O_NONBLOCK);
    }
    s.DeleteTransmissionInfo(inf);
}

TEST(RTPSession, CreateDestroyCyclesLeakNoDescriptors)
{
    size_t antes = DescriptoresAbiertos();
    for (int ciclo = 0; ciclo < 1000; ciclo++) {
        RTPSession *s[15];
        for (int i = 0; i < 15; i++) {
            s[i] = new RTPSession();
            ASSERT_EQ(0, CreaSesion(*s[i], uint16_t(5004 + 2 * i), uint16_t(5006 + 2 * i)));
        }
        s[0]->SendPacket("x", 1);
        s[1]->Poll();
        for (int i = 0; i < 15; i++) {
            s[i]->Destroy();
            delete s[i];
        }
    }
    EXPECT_EQ(antes, DescriptoresAbiertos());
    // The same object created again reuses its buffers.
    RTPSession s;
    for (int ciclo = 0; ciclo < 100; ciclo++) {
        ASSERT_EQ(0, CreaSesion(s, 5004, 5006));
        s.Destroy();
    }
    EXPECT_EQ(antes, DescriptoresAbiertos());
}

TEST(RTPSession, PacketsKeptPastDestroyCanStillBeDeleted)
{
    SesionEspia a, b;
    ASSERT_EQ(0, CreaSesion(a, 5004, 5006));
    ASSERT_EQ(0, CreaSesion(b, 5006, 5004));
    a.SendPacket("x", 1);
    a.SendPacket("y", 1);
    RTPPacket *p = nullptr;
    for (int i = 0; i < 200 && !p; i++) {
        b.WaitForIncomingData(RTPTime(0.01));
        b.Poll();
        if (b.GotoFirstSourceWithData())
            p = b.GetNextPacket();
    }
    ASSERT_NE(nullptr, p);
    b.Destroy();  // the second packet is still queued
    EXPECT_EQ('x', p->GetPayloadData()[0]);
    b.DeletePacket(p);
}

TEST(RTPSession, OwnPacketsAreAcceptedOnlyWhenAsked)
{
    for (bool acepta : {true, false}) {
        SesionEspia s;
        RTPSessionParams sp;
        sp.SetOwnTimestampUnit(1.0 / 8000);
        sp.SetAcceptOwnPackets(acepta);
        RTPUDPv4TransmissionParams tp;
        tp.SetPortbase(5004);
        ASSERT_EQ(0, s.Create(sp, &tp));
        s.AddDestination(RTPIPv4Address(INADDR_LOOPBACK, 5004));
        s.SendPacket("x", 1, 0, false, 160);
        s.Drena();
        EXPECT_EQ(acepta ? 1 : 0, s.paquetesRtp);
        EXPECT_EQ(0, s.colisiones);
        if (acepta) {
            ASSERT_TRUE(s.GotoFirstSourceWithData());
            EXPECT_TRUE(s.GetCurrentSourceInfo()->IsOwnSSRC());
        }
    }
}

TEST(RTPSession, CollisionWithOwnIdentifierChangesItAndSendsBye)
{
    SesionEspia s;
    ASSERT_EQ(0, CreaSesion(s, 5004, 5010));
    SocketCrudo par(5010), parRtcp(5011);
    uint32_t viejo = s.GetLocalSSRC();
    SocketCrudo intruso;
    intruso.Envia(5004, PaqueteRtp(0, 1, 2, viejo));
    s.Drena();
    EXPECT_EQ(1, s.colisiones);
    EXPECT_EQ(1, s.colisionesRtp);
    EXPECT_NE(viejo, s.GetLocalSSRC());
    // The other party keeps the identifier and its packet is delivered.
    EXPECT_EQ(1, s.paquetesRtp);
    EXPECT_NE(nullptr, s.GetSourceInfo(viejo));
    auto bye = parRtcp.Recibe();
    ASSERT_GE(bye.size(), 16u);
    RTCPCompoundPacket c(bye.data(), bye.size());
    ASSERT_EQ(0, c.GetCreationError());
    bool vistoBye = false;
    while (RTCPPacket *p = c.GetNextPacket())
        if (p->GetPacketType() == RTCPPacket::BYE)
            vistoBye = static_cast<RTCPBYEPacket *>(p)->GetSSRC(0) == viejo;
    EXPECT_TRUE(vistoBye);
    s.SendPacket("x", 1);
    auto d = par.Recibe();
    ASSERT_EQ(13u, d.size());
    EXPECT_EQ(s.GetLocalSSRC(), uint32_t(d[8]) << 24 | uint32_t(d[9]) << 16 | uint32_t(d[10]) << 8 | d[11]);
}

TEST(RTPSession, SecondPartyWithAKnownIdentifierIsDroppedAsCollision)
{
    SesionEspia s;
    ASSERT_EQ(0, CreaSesion(s, 5004, 5010));
    SocketCrudo uno, otro;
    uno.Envia(5004, PaqueteRtp(0, 1, 2, 0x1234));
    s.Drena();
    otro.Envia(5004, PaqueteRtp(0, 2, 3, 0x1234));
    s.Drena();
    EXPECT_EQ(1, s.colisiones);
    EXPECT_EQ(1, s.paquetesRtp);
    EXPECT_EQ(1u, s.GetDroppedPacketCount());
}

TEST(RTPSession, EveryPacketOfEverySourceIsDelivered)
{
    SesionEspia s;
    ASSERT_EQ(0, CreaSesion(s, 5004, 5010));
    SocketCrudo f1, f2, f3;
    for (uint16_t i = 0; i < 5; i++) {
        f1.Envia(5004, PaqueteRtp(0, uint16_t(100 + i), i, 1));
        f2.Envia(5004, PaqueteRtp(0, uint16_t(60000 + 7 * i), i, 2));  // gaps and a jump: still delivered
        f3.Envia(5004, PaqueteRtp(8, uint16_t(i), i, 3));
    }
    auto r = s.Recibe(15);
    EXPECT_EQ(15u, r.size());
    EXPECT_EQ((std::vector<uint32_t>{1, 2, 3}), s.nuevas);
}

TEST(RTPSession, PacketsQueueUpWhileUnreadAndStopAtTheLimit)
{
    SesionEspia s;
    ASSERT_EQ(0, CreaSesion(s, 5004, 5010));
    int v = 1 << 20;
    RTPUDPv4TransmissionInfo *inf = static_cast<RTPUDPv4TransmissionInfo *>(s.GetTransmissionInfo());
    setsockopt(inf->GetRTPSocket(), SOL_SOCKET, SO_RCVBUF, &v, sizeof v);
    s.DeleteTransmissionInfo(inf);
    SocketCrudo f;
    for (int tanda = 0; tanda < 12; tanda++) {
        for (uint16_t i = 0; i < 100; i++)
            f.Envia(5004, PaqueteRtp(0, uint16_t(tanda * 100 + i), i, 7, {1, 2, 3}));
        s.Drena(2);
    }
    s.Drena(5);
    std::vector<SesionEspia::Recibido> r;
    s.LeeTodo(r);
    EXPECT_EQ(1024u, r.size());
    EXPECT_EQ(1200u - 1024u, s.GetDroppedPacketCount());
}

}  // namespace
