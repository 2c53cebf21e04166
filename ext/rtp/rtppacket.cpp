#include "rtppacket.h"

#include <cstring>

#include "rtpendian.h"
#include "rtperrors.h"

namespace jrtplib {

RTPPacket::RTPPacket(const uint8_t *data, size_t len) : packet(new uint8_t[len ? len : 1]), capacity(len)
{
    if (len)
        std::memcpy(packet, data, len);
    error = Parse(len);
}

RTPPacket::RTPPacket(size_t cap) : packet(new uint8_t[cap]), capacity(cap) {}

RTPPacket::~RTPPacket() { delete[] packet; }

uint32_t RTPPacket::GetCSRC(int num) const
{
    if (num < 0 || num >= numcsrcs)
        return 0;
    return rtpLee32(packet + 12 + 4 * num);
}

int RTPPacket::Parse(size_t len)
{
    packetlength = len;
    hasextension = false;
    extlength = 0;
    extid = 0;
    payloadlength = 0;
    if (len < 12 || len > capacity)
        return ERR_RTP_PACKET_INVALIDPACKET;
    const uint8_t *p = packet;
    if ((p[0] >> 6) != 2)
        return ERR_RTP_PACKET_INVALIDPACKET;
    // Types 72-76 with the marker would read as RTCP SR..APP (RFC 5761 section 4).
    uint8_t pt = p[1] & 0x7f;
    if (pt >= 72 && pt <= 76)
        return ERR_RTP_PACKET_INVALIDPACKET;
    size_t cabecera = 12 + 4 * size_t(p[0] & 0x0f);
    if (cabecera > len)
        return ERR_RTP_PACKET_INVALIDPACKET;
    bool ext = (p[0] & 0x10) != 0;
    size_t extdatos = 0;
    if (ext) {
        if (cabecera + 4 > len)
            return ERR_RTP_PACKET_INVALIDPACKET;
        extdatos = 4 * size_t(rtpLee16(p + cabecera + 2));
        if (cabecera + 4 + extdatos > len)
            return ERR_RTP_PACKET_INVALIDPACKET;
        extid = rtpLee16(p + cabecera);
        extoffset = cabecera + 4;
        extlength = extdatos;
        cabecera += 4 + extdatos;
    }
    size_t relleno = 0;
    if (p[0] & 0x20) {
        relleno = p[len - 1];
        if (relleno == 0 || cabecera + relleno > len)
            return ERR_RTP_PACKET_INVALIDPACKET;
    }
    hasextension = ext;
    hasmarker = (p[1] & 0x80) != 0;
    numcsrcs = p[0] & 0x0f;
    payloadtype = pt;
    extseqnr = rtpLee16(p + 2);
    timestamp = rtpLee32(p + 4);
    ssrc = rtpLee32(p + 8);
    payloadoffset = cabecera;
    payloadlength = len - cabecera - relleno;
    return 0;
}

}  // namespace jrtplib
