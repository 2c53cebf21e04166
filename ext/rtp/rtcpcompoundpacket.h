// An RTCP compound packet (RFC 3550 section 6.1), checked as in its appendix A.2 and split
// into its packets.
#ifndef JRTP_RTCPCOMPOUNDPACKET_H
#define JRTP_RTCPCOMPOUNDPACKET_H

#include <cstddef>
#include <cstdint>
#include <new>

#include "rtcpapppacket.h"
#include "rtcpbyepacket.h"
#include "rtcppacket.h"
#include "rtcprrpacket.h"
#include "rtcpsdespacket.h"
#include "rtcpsrpacket.h"

namespace jrtplib {

class RTPSession;

class RTCPCompoundPacket {
public:
    static constexpr size_t MAXPACKETS = 32;

    // Copies and checks one datagram; GetCreationError() tells whether it is valid.
    RTCPCompoundPacket(const uint8_t *data, size_t len);
    ~RTCPCompoundPacket();
    RTCPCompoundPacket(const RTCPCompoundPacket &) = delete;
    RTCPCompoundPacket &operator=(const RTCPCompoundPacket &) = delete;

    int GetCreationError() const { return error; }
    uint8_t *GetCompoundPacketData() const { return data; }
    size_t GetCompoundPacketLength() const { return length; }

    void GotoFirstPacket() { current = 0; }
    // The next packet in wire order, or null past the last.
    RTCPPacket *GetNextPacket() { return current < numpackets ? Slot(current++) : nullptr; }

private:
    friend class RTPSession;

    RTCPCompoundPacket() = default;
    // Parses bytes owned by the caller.
    int Parse(uint8_t *d, size_t len);
    void Clear();
    RTCPPacket *Slot(size_t i) { return std::launder(reinterpret_cast<RTCPPacket *>(&slots[i])); }

    static_assert(sizeof(RTCPSRPacket) == sizeof(RTCPPacket) && sizeof(RTCPRRPacket) == sizeof(RTCPPacket) &&
                      sizeof(RTCPSDESPacket) == sizeof(RTCPPacket) && sizeof(RTCPBYEPacket) == sizeof(RTCPPacket) &&
                      sizeof(RTCPAPPPacket) == sizeof(RTCPPacket) && sizeof(RTCPUnknownPacket) == sizeof(RTCPPacket),
                  "every RTCP packet kind fits one slot");
    struct alignas(RTCPPacket) Hueco {
        unsigned char b[sizeof(RTCPPacket)];
    };

    uint8_t *data = nullptr;
    size_t length = 0;
    bool owndata = false;
    int error = 0;
    Hueco slots[MAXPACKETS];
    size_t numpackets = 0;
    size_t current = 0;
};

}  // namespace jrtplib

using jrtplib::RTCPCompoundPacket;

#endif
