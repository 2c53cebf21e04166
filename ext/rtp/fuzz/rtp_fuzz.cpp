// libFuzzer entry: the RTP and RTCP parsers on arbitrary datagrams, every accessor walked.
#include <cstddef>
#include <cstdint>

#include "rtcpcompoundpacket.h"
#include "rtppacket.h"

namespace {
volatile uint32_t sumidero;

void Lee(const uint8_t *p, size_t n)
{
    uint32_t s = 0;
    for (size_t i = 0; i < n; i++)
        s += p[i];
    sumidero = sumidero + s;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    RTPPacket rtp(data, size);
    if (rtp.GetCreationError() == 0) {
        Lee(rtp.GetPayloadData(), rtp.GetPayloadLength());
        if (rtp.HasExtension())
            Lee(rtp.GetExtensionData(), rtp.GetExtensionLength());
        for (int i = 0; i < rtp.GetCSRCCount(); i++)
            sumidero = sumidero + rtp.GetCSRC(i);
    }
    RTCPCompoundPacket c(data, size);
    if (c.GetCreationError() != 0)
        return 0;
    while (RTCPPacket *p = c.GetNextPacket()) {
        Lee(p->GetPacketData(), p->GetPacketLength());
        switch (p->GetPacketType()) {
        case RTCPPacket::SR: {
            auto *sr = static_cast<RTCPSRPacket *>(p);
            sumidero = sumidero + sr->GetNTPTimestamp().GetLSW() + sr->GetRTPTimestamp();
            for (int i = 0; i < sr->GetReceptionReportCount() + 1; i++)
                sumidero = sumidero + sr->GetSSRC(i) + uint32_t(sr->GetLostPacketCount(i)) + sr->GetDLSR(i);
            break;
        }
        case RTCPPacket::RR: {
            auto *rr = static_cast<RTCPRRPacket *>(p);
            for (int i = 0; i < rr->GetReceptionReportCount() + 1; i++)
                sumidero = sumidero + rr->GetSSRC(i) + rr->GetJitter(i) + rr->GetLSR(i);
            break;
        }
        case RTCPPacket::SDES: {
            auto *sd = static_cast<RTCPSDESPacket *>(p);
            for (bool k = sd->GotoFirstChunk(); k; k = sd->GotoNextChunk()) {
                sumidero = sumidero + sd->GetChunkSSRC();
                for (bool it = sd->GotoFirstItem(); it; it = sd->GotoNextItem())
                    Lee(sd->GetItemData(), sd->GetItemLength());
            }
            break;
        }
        case RTCPPacket::BYE: {
            auto *b = static_cast<RTCPBYEPacket *>(p);
            for (int i = 0; i < b->GetSSRCCount(); i++)
                sumidero = sumidero + b->GetSSRC(i);
            if (b->HasReasonForLeaving())
                Lee(b->GetReasonData(), b->GetReasonLength());
            break;
        }
        case RTCPPacket::APP: {
            auto *a = static_cast<RTCPAPPPacket *>(p);
            if (a->IsKnownFormat()) {
                Lee(a->GetName(), 4);
                if (a->GetAPPData())
                    Lee(a->GetAPPData(), a->GetAPPDataLength());
            }
            break;
        }
        case RTCPPacket::Unknown: sumidero = sumidero + static_cast<RTCPUnknownPacket *>(p)->GetType(); break;
        }
    }
    return 0;
}
