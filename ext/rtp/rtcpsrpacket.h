// RTCP sender report (RFC 3550 section 6.4.1).
#ifndef JRTP_RTCPSRPACKET_H
#define JRTP_RTCPSRPACKET_H

#include "rtcprrpacket.h"
#include "rtptimeutilities.h"

namespace jrtplib {

class RTCPSRPacket : public RTCPPacket, public RTCPReportBlocks<RTCPSRPacket, 28> {
public:
    RTCPSRPacket(uint8_t *d, size_t len, size_t contentlen) : RTCPPacket(SR, d, len, contentlen)
    {
        knownformat = contentlen >= 28 && 28 + 24 * size_t(Count()) <= contentlen;
    }
    uint32_t GetSenderSSRC() const { return knownformat ? rtpLee32(data + 4) : 0; }
    RTPNTPTime GetNTPTimestamp() const
    {
        return knownformat ? RTPNTPTime(rtpLee32(data + 8), rtpLee32(data + 12)) : RTPNTPTime();
    }
    // Host byte order.
    uint32_t GetRTPTimestamp() const { return knownformat ? rtpLee32(data + 16) : 0; }
    uint32_t GetSenderPacketCount() const { return knownformat ? rtpLee32(data + 20) : 0; }
    uint32_t GetSenderOctetCount() const { return knownformat ? rtpLee32(data + 24) : 0; }
    int GetReceptionReportCount() const { return knownformat ? Count() : 0; }
};

}  // namespace jrtplib

using jrtplib::RTCPSRPacket;

#endif
