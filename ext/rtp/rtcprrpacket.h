// RTCP receiver report (RFC 3550 section 6.4.2).
#ifndef JRTP_RTCPRRPACKET_H
#define JRTP_RTCPRRPACKET_H

#include "rtcppacket.h"
#include "rtpendian.h"

namespace jrtplib {

// Reception report blocks (24 bytes each) starting at byte OFF of the packet; common to SR
// and RR. Adds no data, so every packet kind keeps the size of RTCPPacket.
template <class P, size_t OFF>
class RTCPReportBlocks {
public:
    uint32_t GetSSRC(int i) const { return Campo32(i, 0); }
    uint8_t GetFractionLost(int i) const { return Ok(i) ? Bloque(i)[4] : 0; }
    int32_t GetLostPacketCount(int i) const
    {
        uint32_t v = Ok(i) ? rtpLee24(Bloque(i) + 5) : 0;
        return (v & 0x800000) ? int32_t(v | 0xff000000u) : int32_t(v);
    }
    uint32_t GetExtendedHighestSequenceNumber(int i) const { return Campo32(i, 8); }
    uint32_t GetJitter(int i) const { return Campo32(i, 12); }
    uint32_t GetLSR(int i) const { return Campo32(i, 16); }
    uint32_t GetDLSR(int i) const { return Campo32(i, 20); }

private:
    // Index must be below GetReceptionReportCount(); others read 0.
    bool Ok(int i) const { return i >= 0 && i < static_cast<const P *>(this)->GetReceptionReportCount(); }
    const uint8_t *Bloque(int i) const { return static_cast<const P *>(this)->GetPacketData() + OFF + 24 * i; }
    uint32_t Campo32(int i, size_t off) const { return Ok(i) ? rtpLee32(Bloque(i) + off) : 0; }
};

class RTCPRRPacket : public RTCPPacket, public RTCPReportBlocks<RTCPRRPacket, 8> {
public:
    RTCPRRPacket(uint8_t *d, size_t len, size_t contentlen) : RTCPPacket(RR, d, len, contentlen)
    {
        knownformat = contentlen >= 8 && 8 + 24 * size_t(Count()) <= contentlen;
    }
    uint32_t GetSenderSSRC() const { return knownformat ? rtpLee32(data + 4) : 0; }
    int GetReceptionReportCount() const { return knownformat ? Count() : 0; }
};

}  // namespace jrtplib

using jrtplib::RTCPRRPacket;

#endif
