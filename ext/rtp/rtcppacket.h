// One packet of an RTCP compound packet. The concrete kinds read their fields straight from
// the compound's bytes, so they all have this class's size and live in fixed slots.
#ifndef JRTP_RTCPPACKET_H
#define JRTP_RTCPPACKET_H

#include <cstddef>
#include <cstdint>

namespace jrtplib {

class RTCPPacket {
public:
    enum PacketType { SR, RR, SDES, BYE, APP, Unknown };

    virtual ~RTCPPacket() {}
    // False for a packet of a known type whose contents do not fit its length.
    bool IsKnownFormat() const { return knownformat; }
    PacketType GetPacketType() const { return packettype; }
    uint8_t *GetPacketData() const { return data; }
    // Length on the wire, padding included.
    size_t GetPacketLength() const { return length; }

protected:
    RTCPPacket(PacketType t, uint8_t *d, size_t len, size_t contentlen)
        : packettype(t), data(d), length(len), contentlength(contentlen)
    {
    }
    // Count field of the first header byte (reception reports, chunks, SSRCs or APP subtype).
    int Count() const { return data[0] & 0x1f; }

    PacketType packettype;
    uint8_t *data;
    size_t length;
    size_t contentlength;  // without padding
    bool knownformat = true;
    size_t cursor1 = 0;  // iteration state of the kinds that walk their contents
    size_t cursor2 = 0;
};

}  // namespace jrtplib

using jrtplib::RTCPPacket;

#endif
