#include "comun/ordenbytes.h"

uint16_t InvierteOrden16(uint16_t v) { return static_cast<uint16_t>((v >> 8) | (v << 8)); }
uint32_t InvierteOrden32(uint32_t v) { return __builtin_bswap32(v); }

void InvierteBytes(uint8_t* b, int n) {
    if (!b || n < 1 || n > 255) return;
    for (int i = 0, j = n - 1; i < j; i++, j--) {
        uint8_t t = b[i];
        b[i] = b[j];
        b[j] = t;
    }
}

namespace {
constexpr bool kHostBig = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__;
}

uint16_t HostABig16(uint16_t v) { return kHostBig ? v : InvierteOrden16(v); }
uint32_t HostABig32(uint32_t v) { return kHostBig ? v : InvierteOrden32(v); }
uint16_t BigAHost16(uint16_t v) { return HostABig16(v); }
uint32_t BigAHost32(uint32_t v) { return HostABig32(v); }
uint16_t HostALittle16(uint16_t v) { return kHostBig ? InvierteOrden16(v) : v; }
uint32_t HostALittle32(uint32_t v) { return kHostBig ? InvierteOrden32(v) : v; }
uint16_t LittleAHost16(uint16_t v) { return HostALittle16(v); }
uint32_t LittleAHost32(uint32_t v) { return HostALittle32(v); }
