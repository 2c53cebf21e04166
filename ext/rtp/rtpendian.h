// Big-endian field access for the wire formats, byte by byte (no alignment or host-order assumption).
#ifndef JRTP_RTPENDIAN_H
#define JRTP_RTPENDIAN_H

#include <cstdint>

namespace jrtplib {

inline uint16_t rtpLee16(const uint8_t *p) { return uint16_t((p[0] << 8) | p[1]); }
inline uint32_t rtpLee24(const uint8_t *p) { return (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2]; }
inline uint32_t rtpLee32(const uint8_t *p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
inline void rtpPon16(uint8_t *p, uint16_t v)
{
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}
inline void rtpPon24(uint8_t *p, uint32_t v)
{
    p[0] = uint8_t(v >> 16);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v);
}
inline void rtpPon32(uint8_t *p, uint32_t v)
{
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

}  // namespace jrtplib

#endif
