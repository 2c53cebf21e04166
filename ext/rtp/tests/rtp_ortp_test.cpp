// Interworking with oRTP, an RTP stack this layer shares no code with.
#include <gtest/gtest.h>
#include <ortp/ortp.h>

#include <cstring>

#include "rtpprueba.h"

using namespace prueba;

namespace {

class ConOrtp : public ::testing::Test {
protected:
    void SetUp() override
    {
        ortp_init();
        ortp_set_log_level_mask(NULL, ORTP_FATAL);
        o = rtp_session_new(RTP_SESSION_SENDRECV);
        rtp_session_set_scheduling_mode(o, 0);
        rtp_session_set_blocking_mode(o, 0);
        rtp_session_enable_jitter_buffer(o, FALSE);
        rtp_session_set_symmetric_rtp(o, FALSE);
        ASSERT_EQ(0, rtp_session_set_local_addr(o, "127.0.0.1", 5006, 5007));
        ASSERT_EQ(0, rtp_session_set_remote_addr(o, "127.0.0.1", 5004));
        rtp_session_set_payload_type(o, 8);
        ASSERT_EQ(0, CreaSesion(s, 5004, 5006));
    }
    void TearDown() override
    {
        rtp_session_destroy(o);
        ortp_exit();
    }
    RtpSession *o = nullptr;
    SesionEspia s;
};

TEST_F(ConOrtp, AudioFlowsBothWays)
{
    // oRTP to this layer.
    uint8_t audio[160];
    for (uint32_t i = 0; i < 50; i++) {
        std::memset(audio, int(i), sizeof audio);
        ASSERT_GT(rtp_session_send_with_ts(o, audio, sizeof audio, 1000 + 160 * i), 0);
    }
    auto r = s.Recibe(50);
    ASSERT_EQ(50u, r.size());
    for (uint32_t i = 0; i < 50; i++) {
        EXPECT_EQ(1000 + 160 * i, r[i].ts - r[0].ts + 1000);
        EXPECT_EQ(uint16_t(r[0].seq + i), r[i].seq);
        ASSERT_EQ(160u, r[i].payload.size());
        EXPECT_EQ(uint8_t(i), r[i].payload[0]);
    }
    EXPECT_EQ(1u, s.nuevas.size());

    // This layer to oRTP.
    for (int i = 0; i < 50; i++) {
        std::memset(audio, 100 + i, sizeof audio);
        ASSERT_EQ(0, s.SendPacket(audio, sizeof audio));
    }
    std::vector<std::pair<uint16_t, uint32_t>> vistos;
    for (int vuelta = 0; vuelta < 400 && vistos.size() < 50; vuelta++) {
        mblk_t *m = rtp_session_recvm_with_ts(o, 0xffffffff);
        if (!m) {
            s.WaitForIncomingData(RTPTime(0.005));
            continue;
        }
        unsigned char *payload;
        int l = rtp_get_payload(m, &payload);
        EXPECT_EQ(160, l);
        EXPECT_EQ(8, rtp_get_payload_type(m));
        EXPECT_EQ(uint8_t(100 + vistos.size()), payload[0]);
        vistos.emplace_back(rtp_get_seqnumber(m), rtp_get_timestamp(m));
        freemsg(m);
    }
    ASSERT_EQ(50u, vistos.size());
    for (size_t i = 1; i < vistos.size(); i++) {
        EXPECT_EQ(uint16_t(vistos[0].first + i), vistos[i].first);
        EXPECT_EQ(vistos[0].second + 160 * i, vistos[i].second);
    }
}

TEST_F(ConOrtp, SenderReportsOfOrtpAreRead)
{
    rtp_session_set_rtcp_report_interval(o, 50);
    uint8_t audio[160] = {};
    uint32_t ts = 0;
    // oRTP reports on its own wall clock: send at the 20 ms pace for up to 8 s.
    RTPTime fin = RTPTime::CurrentTime();
    fin += RTPTime(8.0);
    while (s.srEnCompuestos == 0 && RTPTime::CurrentTime() < fin) {
        rtp_session_send_with_ts(o, audio, sizeof audio, ts += 160);
        RTPTime::Wait(RTPTime(0.02));
        s.Poll();
        std::vector<SesionEspia::Recibido> basura;
        s.LeeTodo(basura);
    }
    EXPECT_GE(s.srEnCompuestos, 1);
    ASSERT_EQ(1u, s.nuevas.size());
    RTPSourceData *f = s.GetSourceInfo(s.nuevas[0]);
    ASSERT_NE(nullptr, f);
    EXPECT_TRUE(f->SR_HasInfo());
    EXPECT_EQ(0u, s.GetDroppedPacketCount());
}

}  // namespace
