#include "rtcpcompoundpacket.h"

#include <cstring>

#include "rtperrors.h"

namespace jrtplib {

RTCPCompoundPacket::RTCPCompoundPacket(const uint8_t *d, size_t len)
{
    uint8_t *copia = new uint8_t[len ? len : 1];
    if (len)
        std::memcpy(copia, d, len);
    error = Parse(copia, len);
    owndata = true;
}

RTCPCompoundPacket::~RTCPCompoundPacket()
{
    Clear();
    if (owndata)
        delete[] data;
}

void RTCPCompoundPacket::Clear()
{
    for (size_t i = 0; i < numpackets; i++)
        Slot(i)->~RTCPPacket();
    numpackets = 0;
    current = 0;
}

int RTCPCompoundPacket::Parse(uint8_t *d, size_t len)
{
    Clear();
    data = d;
    length = len;
    size_t off = 0;
    while (off < len) {
        if (len - off < 4)
            break;
        uint8_t *h = d + off;
        if ((h[0] >> 6) != 2)
            break;
        size_t plen = (size_t(rtpLee16(h + 2)) + 1) * 4;
        if (plen > len - off)
            break;
        size_t contenido = plen;
        if (h[0] & 0x20) {
            // Only the last packet of a compound may be padded.
            if (off + plen != len)
                break;
            size_t relleno = h[plen - 1];
            if (relleno == 0 || relleno > plen - 4)
                break;
            contenido = plen - relleno;
        }
        if (numpackets == MAXPACKETS)
            break;
        void *hueco = &slots[numpackets];
        switch (h[1]) {
        case 200: new (hueco) RTCPSRPacket(h, plen, contenido); break;
        case 201: new (hueco) RTCPRRPacket(h, plen, contenido); break;
        case 202: new (hueco) RTCPSDESPacket(h, plen, contenido); break;
        case 203: new (hueco) RTCPBYEPacket(h, plen, contenido); break;
        case 204: new (hueco) RTCPAPPPacket(h, plen, contenido); break;
        default: new (hueco) RTCPUnknownPacket(h, plen, contenido); break;
        }
        numpackets++;
        off += plen;
    }
    if (off != len || numpackets == 0) {
        Clear();
        return ERR_RTP_RTCPCOMPOUND_INVALIDPACKET;
    }
    return 0;
}

}  // namespace jrtplib
