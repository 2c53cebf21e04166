// A received RTP packet, parsed in place (RFC 3550 section 5.1).
#ifndef JRTP_RTPPACKET_H
#define JRTP_RTPPACKET_H

#include <cstddef>
#include <cstdint>

#include "rtptimeutilities.h"

namespace jrtplib {

class RTPSession;

class RTPPacket {
public:
    // Copies and parses one datagram; GetCreationError() tells whether it is a valid RTP packet.
    RTPPacket(const uint8_t *data, size_t len);
    ~RTPPacket();
    RTPPacket(const RTPPacket &) = delete;
    RTPPacket &operator=(const RTPPacket &) = delete;

    int GetCreationError() const { return error; }

    bool HasExtension() const { return hasextension; }
    bool HasMarker() const { return hasmarker; }
    int GetCSRCCount() const { return numcsrcs; }
    uint32_t GetCSRC(int num) const;
    uint8_t GetPayloadType() const { return payloadtype; }
    uint16_t GetSequenceNumber() const { return uint16_t(extseqnr); }
    // Sequence number with the wrap count of its source in the upper 16 bits.
    uint32_t GetExtendedSequenceNumber() const { return extseqnr; }
    uint32_t GetTimestamp() const { return timestamp; }
    uint32_t GetSSRC() const { return ssrc; }

    uint8_t *GetPacketData() const { return packet; }
    size_t GetPacketLength() const { return packetlength; }
    uint8_t *GetPayloadData() const { return packet + payloadoffset; }
    size_t GetPayloadLength() const { return payloadlength; }

    // Header extension: profile-defined id, its data and the data length in bytes
    // (the length word on the wire counts 32-bit words).
    uint16_t GetExtensionID() const { return extid; }
    uint8_t *GetExtensionData() const { return hasextension ? packet + extoffset : nullptr; }
    size_t GetExtensionLength() const { return extlength; }

    RTPTime GetReceiveTime() const { return receivetime; }

private:
    friend class RTPSession;

    explicit RTPPacket(size_t capacity);
    int Parse(size_t len);

    uint8_t *packet = nullptr;
    size_t capacity = 0;
    size_t packetlength = 0;
    int error = 0;
    bool hasextension = false;
    bool hasmarker = false;
    int numcsrcs = 0;
    uint8_t payloadtype = 0;
    uint32_t extseqnr = 0;
    uint32_t timestamp = 0;
    uint32_t ssrc = 0;
    size_t payloadoffset = 0;
    size_t payloadlength = 0;
    uint16_t extid = 0;
    size_t extoffset = 0;
    size_t extlength = 0;
    RTPTime receivetime;
    RTPPacket *next = nullptr;  // link of the session's queues
};

}  // namespace jrtplib

using jrtplib::RTPPacket;

#endif
