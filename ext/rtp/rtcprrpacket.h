// RTCP receiver report (RFC 3550 section 6.4.2).
#ifndef JRTP_RTCPRRPACKET_H
#define JRTP_RTCPRRPACKET_H

#include "rtcppacket.h"
#include "rtpendian.h"

namespace jrtplib {

// The report block fields, common to SR and RR, at a given offset of the first block.
class RTCPReportBlocks {
protected:
    static uint32_t BlockSSRC(const uint8_t *b, int i) { return rtpLee32(b + 24 * i); }
    static uint8_t BlockFraction(const uint8_t *b, int i) { return b[24 * i + 4]; }
    static int32_t BlockLost(const uint8_t *b, int i)
    {
        uint32_t v = rtpLee24(b + 24 * i + 5);
        return (v & 0x800000) ? int32_t(v | 0xff000000u) : int32_t(v);
    }
    static uint32_t BlockExtSeq(const uint8_t *b, int i) { return rtpLee32(b + 24 * i + 8); }
    static uint32_t BlockJitter(const uint8_t *b, int i) { return rtpLee32(b + 24 * i + 12); }
    static uint32_t BlockLSR(const uint8_t *b, int i) { return rtpLee32(b + 24 * i + 16); }
    static uint32_t BlockDLSR(const uint8_t *b, int i) { return rtpLee32(b + 24 * i + 20); }
};

class RTCPRRPacket : public RTCPPacket, private RTCPReportBlocks {
public:
    RTCPRRPacket(uint8_t *d, size_t len, size_t contentlen) : RTCPPacket(RR, d, len, contentlen)
    {
        knownformat = contentlen >= 8 && 8 + 24 * size_t(Count()) <= contentlen;
    }
    uint32_t GetSenderSSRC() const { return knownformat ? rtpLee32(data + 4) : 0; }
    int GetReceptionReportCount() const { return knownformat ? Count() : 0; }
    // Index must be below GetReceptionReportCount(); others read 0.
    uint32_t GetSSRC(int i) const { return Ok(i) ? BlockSSRC(data + 8, i) : 0; }
    uint8_t GetFractionLost(int i) const { return Ok(i) ? BlockFraction(data + 8, i) : 0; }
    int32_t GetLostPacketCount(int i) const { return Ok(i) ? BlockLost(data + 8, i) : 0; }
    uint32_t GetExtendedHighestSequenceNumber(int i) const { return Ok(i) ? BlockExtSeq(data + 8, i) : 0; }
    uint32_t GetJitter(int i) const { return Ok(i) ? BlockJitter(data + 8, i) : 0; }
    uint32_t GetLSR(int i) const { return Ok(i) ? BlockLSR(data + 8, i) : 0; }
    uint32_t GetDLSR(int i) const { return Ok(i) ? BlockDLSR(data + 8, i) : 0; }

private:
    bool Ok(int i) const { return i >= 0 && i < GetReceptionReportCount(); }
};

}  // namespace jrtplib

using jrtplib::RTCPRRPacket;

#endif
