// The layer's RTP and RTCP as decoded by tshark, a dissector written by others.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>

#include "capturatshark.h"
#include "rtpprueba.h"

using namespace prueba;

namespace {

const char *DECODIFICA = "-d udp.port==5006,rtp -d udp.port==5005,rtcp -d udp.port==5007,rtcp";

std::string Hex(uint32_t v)
{
    char b[16];
    snprintf(b, sizeof b, "0x%08x", v);
    return b;
}

TEST(RTPWire, TsharkDecodesHeadersExtensionAndReports)
{
    Captura cap(5, "udp portrange 5004-5007", "/tmp/rtp_wire.pcap");
    ASSERT_TRUE(cap.listo);
    ParConReloj<> par;
    ASSERT_EQ(0, par.Crea());
    Reloj &reloj = par.reloj;
    SesionEspia &a = par.a, &b = par.b;
    uint8_t audio[160] = {};
    // A radio word: PTT type 1 in bits 31-29, PTT-id 5 in bits 27-22.
    const uint8_t radio[4] = {0x21, 0x40, 0x00, 0x00};
    ASSERT_EQ(0, a.SendPacketEx(audio, sizeof audio, 0x0167, radio, 1));
    ASSERT_EQ(0, a.SendPacket(audio, sizeof audio));
    ASSERT_EQ(0, a.SendPacket(audio, sizeof audio));
    b.Drena(3);
    int64_t horaSr = 0;
    for (int i = 0; i < 1000 && (a.compuestosEnviados == 0 || b.compuestosEnviados == 0); i++) {
        reloj.Avanza(0.01);
        if (a.compuestosEnviados == 0) {
            a.Poll();
            horaSr = reloj.us;
        }
        if (b.compuestosEnviados == 0)
            b.Poll();
    }
    ASSERT_TRUE(cap.Termina());

    auto f = cap.Decodifica(
        DECODIFICA, {"udp.dstport", "rtp.version", "rtp.p_type", "rtp.seq", "rtp.timestamp", "rtp.ssrc",
                     "rtp.ext.profile", "rtp.ext.len", "rtp.ext.ed137a.ptt_type", "rtp.ext.ed137a.ptt_id",
                     "rtcp.version", "rtcp.pt", "rtcp.rc", "rtcp.senderssrc", "rtcp.timestamp.ntp.msw",
                     "rtcp.timestamp.rtp", "rtcp.sender.packetcount", "rtcp.sender.octetcount",
                     "rtcp.ssrc.identifier", "rtcp.ssrc.ext_high", "rtcp.sdes.type", "rtcp.sdes.text",
                     "rtcp.length_check", "_ws.expert.message"});
    if (getenv("RTP_WIRE_DUMP"))
        for (auto &m : f)
            for (auto &[k, v] : m)
                printf("%s=%s\n", k.c_str(), v.c_str());
    ASSERT_EQ(5u, f.size());
    std::vector<std::map<std::string, std::string>> rtp, rtcpA, rtcpB;
    for (auto &m : f)
        (m["udp.dstport"] == "5006" ? rtp : m["udp.dstport"] == "5007" ? rtcpA : rtcpB).push_back(m);
    ASSERT_EQ(3u, rtp.size());
    ASSERT_EQ(1u, rtcpA.size());
    ASSERT_EQ(1u, rtcpB.size());
    for (size_t i = 0; i < 3; i++) {
        EXPECT_EQ("2", rtp[i]["rtp.version"]);
        EXPECT_EQ("8", rtp[i]["rtp.p_type"]);
        EXPECT_EQ(Hex(a.GetLocalSSRC()), rtp[i]["rtp.ssrc"]);
        EXPECT_EQ(std::stoul(rtp[0]["rtp.seq"]) + i, std::stoul(rtp[i]["rtp.seq"]) + (i && rtp[i]["rtp.seq"] == "0" ? 65536 : 0));
        EXPECT_EQ(uint32_t(std::stoul(rtp[0]["rtp.timestamp"]) + 160 * i), uint32_t(std::stoul(rtp[i]["rtp.timestamp"])));
    }
    EXPECT_EQ("0x0167", rtp[0]["rtp.ext.profile"]);
    EXPECT_EQ("1", rtp[0]["rtp.ext.len"]);
    EXPECT_EQ("1", rtp[0]["rtp.ext.ed137a.ptt_type"]);
    EXPECT_EQ("5", rtp[0]["rtp.ext.ed137a.ptt_id"]);
    EXPECT_EQ("", rtp[1]["rtp.ext.profile"]);

    auto &sr = rtcpA[0];
    EXPECT_EQ("2,2", sr["rtcp.version"]);
    EXPECT_EQ("200,202", sr["rtcp.pt"]);
    EXPECT_EQ(Hex(a.GetLocalSSRC()), sr["rtcp.senderssrc"]);
    EXPECT_EQ("3", sr["rtcp.sender.packetcount"]);
    EXPECT_EQ("480", sr["rtcp.sender.octetcount"]);
    EXPECT_EQ(std::to_string(uint32_t(horaSr / 1000000 + 2208988800u)), sr["rtcp.timestamp.ntp.msw"].substr(0, 10));
    EXPECT_EQ("1", sr["rtcp.sdes.type"].substr(0, 1));
    EXPECT_NE(std::string::npos, sr["rtcp.sdes.text"].find('@'));

    auto &rr = rtcpB[0];
    EXPECT_EQ("201,202", rr["rtcp.pt"]);
    EXPECT_EQ("1", rr["rtcp.rc"].substr(0, 1));
    EXPECT_EQ(Hex(b.GetLocalSSRC()), rr["rtcp.senderssrc"]);
    // The report block about a, then the SDES chunk of b.
    EXPECT_EQ(Hex(a.GetLocalSSRC()) + "," + Hex(b.GetLocalSSRC()), rr["rtcp.ssrc.identifier"]);
    EXPECT_EQ(std::to_string(std::stoul(rtp[2]["rtp.seq"])), rr["rtcp.ssrc.ext_high"]);
    for (auto *m : {&sr, &rr}) {
        EXPECT_EQ("1", (*m)["rtcp.length_check"]);
        EXPECT_EQ("", (*m)["_ws.expert.message"]);
    }
}

}  // namespace
