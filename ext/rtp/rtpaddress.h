// Base of the transport addresses handed to and by the RTP session.
#ifndef JRTP_RTPADDRESS_H
#define JRTP_RTPADDRESS_H

namespace jrtplib {

class RTPAddress {
public:
    enum AddressType { IPv4Address, IPv6Address, UserDefinedAddress };

    virtual ~RTPAddress() {}
    AddressType GetAddressType() const { return addresstype; }
    virtual RTPAddress *CreateCopy() const = 0;
    // Same host and same port.
    virtual bool IsSameAddress(const RTPAddress *addr) const = 0;
    // Same host, whatever the port.
    virtual bool IsFromSameHost(const RTPAddress *addr) const = 0;

protected:
    explicit RTPAddress(AddressType t) : addresstype(t) {}
    RTPAddress(const RTPAddress &) = default;
    RTPAddress &operator=(const RTPAddress &) = default;

private:
    AddressType addresstype;
};

}  // namespace jrtplib

using jrtplib::RTPAddress;

#endif
