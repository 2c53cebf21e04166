// RTP over UDP/IPv4: RTP on the port base, RTCP on the port base + 1.
#ifndef JRTP_RTPUDPV4TRANSMITTER_H
#define JRTP_RTPUDPV4TRANSMITTER_H

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <list>

#include "rtpipv4address.h"
#include "rtptransmitter.h"

namespace jrtplib {

class RTPUDPv4TransmissionParams : public RTPTransmissionParams {
public:
    RTPUDPv4TransmissionParams() : RTPTransmissionParams(RTPTransmitter::IPv4UDPProto) {}

    // Local RTP port; must be even. Host byte order, like the bind address.
    void SetPortbase(uint16_t pbase) { portbase = pbase; }
    uint16_t GetPortbase() const { return portbase; }
    void SetBindIP(uint32_t ip) { bindIP = ip; }
    uint32_t GetBindIP() const { return bindIP; }
    void SetMulticastTTL(uint8_t ttl) { mcastTTL = ttl; }
    uint8_t GetMulticastTTL() const { return mcastTTL; }
    void SetRTPSendBuffer(int s) { rtpsendbuf = s; }
    void SetRTPReceiveBuffer(int s) { rtprecvbuf = s; }
    void SetRTCPSendBuffer(int s) { rtcpsendbuf = s; }
    void SetRTCPReceiveBuffer(int s) { rtcprecvbuf = s; }
    int GetRTPSendBuffer() const { return rtpsendbuf; }
    int GetRTPReceiveBuffer() const { return rtprecvbuf; }
    int GetRTCPSendBuffer() const { return rtcpsendbuf; }
    int GetRTCPReceiveBuffer() const { return rtcprecvbuf; }

private:
    uint16_t portbase = 5000;
    uint32_t bindIP = 0;
    uint8_t mcastTTL = 1;
    int rtpsendbuf = 32768;
    int rtprecvbuf = 32768;
    int rtcpsendbuf = 32768;
    int rtcprecvbuf = 32768;
};

class RTPUDPv4TransmissionInfo : public RTPTransmissionInfo {
public:
    RTPUDPv4TransmissionInfo(const std::list<uint32_t> &iplist, int rtpsock, int rtcpsock)
        : RTPTransmissionInfo(RTPTransmitter::IPv4UDPProto), localIPlist(iplist), rtpsocket(rtpsock),
          rtcpsocket(rtcpsock)
    {
    }
    std::list<uint32_t> GetLocalIPList() const { return localIPlist; }
    int GetRTPSocket() const { return rtpsocket; }
    int GetRTCPSocket() const { return rtcpsocket; }

private:
    std::list<uint32_t> localIPlist;
    int rtpsocket;
    int rtcpsocket;
};

// The session's transport: two non-blocking sockets and a fixed list of destinations.
class RTPUDPv4Transmitter : public RTPTransmitter {
public:
    static constexpr size_t MAXDESTINATIONS = 32;
    static constexpr size_t MAXLOCALIPS = 16;

    RTPUDPv4Transmitter() = default;
    ~RTPUDPv4Transmitter() override { Destroy(); }
    RTPUDPv4Transmitter(const RTPUDPv4Transmitter &) = delete;
    RTPUDPv4Transmitter &operator=(const RTPUDPv4Transmitter &) = delete;

    int Create(const RTPUDPv4TransmissionParams &params);
    void Destroy();
    bool IsCreated() const { return rtpsock >= 0; }
    int GetRTPSocket() const { return rtpsock; }
    int GetRTCPSocket() const { return rtcpsock; }
    uint16_t GetPortbase() const { return portbase; }
    RTPUDPv4TransmissionInfo *GetTransmissionInfo() const;

    int AddDestination(const RTPIPv4Address &addr);
    int DeleteDestination(const RTPIPv4Address &addr);
    void ClearDestinations() { numdest = 0; }

    // Sends to every destination (RTCP to the destination's port + 1). Transient losses
    // (full buffer, unreachable peer) are counted, not returned: UDP may lose packets anyway.
    int SendRTPData(const void *data, size_t len) { return Send(rtpsock, 0, data, len); }
    int SendRTCPData(const void *data, size_t len) { return Send(rtcpsock, 1, data, len); }
    uint64_t GetSendFailures() const { return sendfailures; }

    // Reads up to n pending datagrams of one socket into bufs (each bufsize bytes long).
    // Returns how many were read (0 when none), or a negative error. A datagram longer than
    // bufsize is reported with truncated[i] set.
    int Receive(bool rtcp, uint8_t *const *bufs, size_t bufsize, size_t n, size_t *lens, RTPIPv4Address *from,
                bool *truncated);

    // The datagram came from this session's own socket (own packets and loops).
    bool ComesFromThisTransmitter(const RTPIPv4Address &addr, bool rtcp) const;

private:
    int Send(int sock, uint16_t portoffset, const void *data, size_t len);

    int rtpsock = -1;
    int rtcpsock = -1;
    uint16_t portbase = 0;
    sockaddr_in dest[MAXDESTINATIONS];
    size_t numdest = 0;
    uint32_t localips[MAXLOCALIPS];
    size_t numlocalips = 0;
    uint64_t sendfailures = 0;
};

}  // namespace jrtplib

using jrtplib::RTPUDPv4TransmissionInfo;
using jrtplib::RTPUDPv4TransmissionParams;
using jrtplib::RTPUDPv4Transmitter;

#endif
