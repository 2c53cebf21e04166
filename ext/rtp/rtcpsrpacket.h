// RTCP sender report (RFC 3550 section 6.4.1).
#ifndef JRTP_RTCPSRPACKET_H
#define JRTP_RTCPSRPACKET_H

#include "rtcprrpacket.h"
#include "rtptimeutilities.h"

namespace jrtplib {

class RTCPSRPacket : public RTCPPacket, private RTCPReportBlocks {
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
    uint32_t GetSSRC(int i) const { return Ok(i) ? BlockSSRC(data + 28, i) : 0; }
    uint8_t GetFractionLost(int i) const { return Ok(i) ? BlockFraction(data + 28, i) : 0; }
    int32_t GetLostPacketCount(int i) const { return Ok(i) ? BlockLost(data + 28, i) : 0; }
    uint32_t GetExtendedHighestSequenceNumber(int i) const { return Ok(i) ? BlockExtSeq(data + 28, i) : 0; }
    uint32_t GetJitter(int i) const { return Ok(i) ? BlockJitter(data + 28, i) : 0; }
    uint32_t GetLSR(int i) const { return Ok(i) ? BlockLSR(data + 28, i) : 0; }
    uint32_t GetDLSR(int i) const { return Ok(i) ? BlockDLSR(data + 28, i) : 0; }

private:
    bool Ok(int i) const { return i >= 0 && i < GetReceptionReportCount(); }
};

}  // namespace jrtplib

using jrtplib::RTCPSRPacket;

#endif
