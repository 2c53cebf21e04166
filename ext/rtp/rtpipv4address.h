// IPv4 address and port, both in host byte order.
#ifndef JRTP_RTPIPV4ADDRESS_H
#define JRTP_RTPIPV4ADDRESS_H

#include <cstdint>

#include "rtpaddress.h"

namespace jrtplib {

class RTPIPv4Address : public RTPAddress {
public:
    RTPIPv4Address(uint32_t ip = 0, uint16_t port = 0) : RTPAddress(IPv4Address), ip(ip), port(port) {}
    // Address bytes in network order (ip[0] is the most significant).
    RTPIPv4Address(const uint8_t ip[4], uint16_t port = 0)
        : RTPAddress(IPv4Address),
          ip((uint32_t(ip[0]) << 24) | (uint32_t(ip[1]) << 16) | (uint32_t(ip[2]) << 8) | ip[3]),
          port(port)
    {
    }

    void SetIP(uint32_t i) { ip = i; }
    void SetPort(uint16_t p) { port = p; }
    uint32_t GetIP() const { return ip; }
    uint16_t GetPort() const { return port; }

    RTPAddress *CreateCopy() const override { return new RTPIPv4Address(ip, port); }
    bool IsSameAddress(const RTPAddress *addr) const override
    {
        if (!addr || addr->GetAddressType() != IPv4Address)
            return false;
        const RTPIPv4Address *a = static_cast<const RTPIPv4Address *>(addr);
        return a->ip == ip && a->port == port;
    }
    bool IsFromSameHost(const RTPAddress *addr) const override
    {
        if (!addr || addr->GetAddressType() != IPv4Address)
            return false;
        return static_cast<const RTPIPv4Address *>(addr)->ip == ip;
    }

private:
    uint32_t ip;
    uint16_t port;
};

}  // namespace jrtplib

using jrtplib::RTPIPv4Address;

#endif
