// Transport kinds, and the bases of transport parameters and transport information.
#ifndef JRTP_RTPTRANSMITTER_H
#define JRTP_RTPTRANSMITTER_H

namespace jrtplib {

class RTPTransmitter {
public:
    enum TransmissionProtocol { IPv4UDPProto, IPv6UDPProto, UserDefinedProto };

    virtual ~RTPTransmitter() {}
};

class RTPTransmissionParams {
public:
    virtual ~RTPTransmissionParams() {}
    RTPTransmitter::TransmissionProtocol GetTransmissionProtocol() const { return protocol; }

protected:
    explicit RTPTransmissionParams(RTPTransmitter::TransmissionProtocol p) : protocol(p) {}

private:
    RTPTransmitter::TransmissionProtocol protocol;
};

class RTPTransmissionInfo {
public:
    virtual ~RTPTransmissionInfo() {}
    RTPTransmitter::TransmissionProtocol GetTransmissionProtocol() const { return protocol; }

protected:
    explicit RTPTransmissionInfo(RTPTransmitter::TransmissionProtocol p) : protocol(p) {}

private:
    RTPTransmitter::TransmissionProtocol protocol;
};

}  // namespace jrtplib

using jrtplib::RTPTransmissionInfo;
using jrtplib::RTPTransmissionParams;
using jrtplib::RTPTransmitter;

#endif
