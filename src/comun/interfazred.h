// Address and hardware address of a network interface.
#pragma once

#include <cstdint>

// IPv4 address (network byte order) of interface nombre; when it has none, that of
// "bond0"; 0 when neither has one.
uint32_t DameIpInterfaz(const char* nombre);
// Clears 8 bytes at mac, then copies the 6-byte MAC address and 2 further bytes of the
// interface's hardware address; -1 on failure, >= 0 on success.
int DameMacInterfaz(const char* nombre, uint8_t mac[8]);
