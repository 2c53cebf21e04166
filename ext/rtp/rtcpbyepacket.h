// RTCP BYE (RFC 3550 section 6.6).
#ifndef JRTP_RTCPBYEPACKET_H
#define JRTP_RTCPBYEPACKET_H

#include "rtcppacket.h"
#include "rtpendian.h"

namespace jrtplib {

class RTCPBYEPacket : public RTCPPacket {
public:
    RTCPBYEPacket(uint8_t *d, size_t len, size_t contentlen) : RTCPPacket(BYE, d, len, contentlen)
    {
        size_t fin = 4 + 4 * size_t(Count());
        knownformat = fin <= contentlen && (fin == contentlen || fin + 1 + data[fin] <= contentlen);
    }
    int GetSSRCCount() const { return knownformat ? Count() : 0; }
    uint32_t GetSSRC(int i) const { return (i >= 0 && i < GetSSRCCount()) ? rtpLee32(data + 4 + 4 * i) : 0; }
    bool HasReasonForLeaving() const { return knownformat && ReasonOffset() < contentlength && data[ReasonOffset()] > 0; }
    size_t GetReasonLength() const { return HasReasonForLeaving() ? data[ReasonOffset()] : 0; }
    uint8_t *GetReasonData() const { return HasReasonForLeaving() ? data + ReasonOffset() + 1 : nullptr; }

private:
    size_t ReasonOffset() const { return 4 + 4 * size_t(Count()); }
};

}  // namespace jrtplib

using jrtplib::RTCPBYEPacket;

#endif
