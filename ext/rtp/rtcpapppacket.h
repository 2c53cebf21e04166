// RTCP APP (RFC 3550 section 6.7).
#ifndef JRTP_RTCPAPPPACKET_H
#define JRTP_RTCPAPPPACKET_H

#include "rtcppacket.h"
#include "rtpendian.h"

namespace jrtplib {

class RTCPAPPPacket : public RTCPPacket {
public:
    RTCPAPPPacket(uint8_t *d, size_t len, size_t contentlen) : RTCPPacket(APP, d, len, contentlen)
    {
        knownformat = contentlen >= 12;
    }
    uint8_t GetSubType() const { return uint8_t(Count()); }
    uint32_t GetSSRC() const { return knownformat ? rtpLee32(data + 4) : 0; }
    // Four ASCII characters, not terminated.
    uint8_t *GetName() const { return knownformat ? data + 8 : nullptr; }
    uint8_t *GetAPPData() const { return knownformat && contentlength > 12 ? data + 12 : nullptr; }
    size_t GetAPPDataLength() const { return knownformat ? contentlength - 12 : 0; }
};

class RTCPUnknownPacket : public RTCPPacket {
public:
    RTCPUnknownPacket(uint8_t *d, size_t len, size_t contentlen) : RTCPPacket(Unknown, d, len, contentlen) {}
    // Second header byte: the RTCP packet type.
    uint8_t GetType() const { return data[1]; }
};

}  // namespace jrtplib

using jrtplib::RTCPAPPPacket;
using jrtplib::RTCPUnknownPacket;

#endif
