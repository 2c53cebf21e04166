// Byte order. The original target was big-endian: code that mixes network and host
// order must say which it means, with the explicit helpers below.
#pragma once

#include <cstdint>

// Unconditional swaps.
uint16_t InvierteOrden16(uint16_t v);
uint32_t InvierteOrden32(uint32_t v);
// Reverses the first n bytes in place (n from 1 to 255; other values do nothing).
void InvierteBytes(uint8_t* buffer, int n);

// Host order to and from big-endian (network) and little-endian.
uint16_t HostABig16(uint16_t v);
uint32_t HostABig32(uint32_t v);
uint16_t BigAHost16(uint16_t v);
uint32_t BigAHost32(uint32_t v);
uint16_t HostALittle16(uint16_t v);
uint32_t HostALittle32(uint32_t v);
uint16_t LittleAHost16(uint16_t v);
uint32_t LittleAHost32(uint32_t v);
