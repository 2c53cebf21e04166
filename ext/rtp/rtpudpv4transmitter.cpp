#include "rtpudpv4transmitter.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "rtperrors.h"

namespace jrtplib {

namespace {
constexpr size_t MAXBATCH = 16;

int AbreSocket(uint32_t bindip, uint16_t port, int sndbuf, int rcvbuf, uint8_t ttl, int errbind)
{
    int s = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (s < 0)
        return ERR_RTP_UDPV4TRANS_CANTCREATESOCKET;
    int ttlval = ttl;
    if (setsockopt(s, SOL_SOCKET, SO_SNDBUF, &sndbuf, sizeof sndbuf) != 0 ||
        setsockopt(s, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf) != 0 ||
        setsockopt(s, IPPROTO_IP, IP_MULTICAST_TTL, &ttlval, sizeof ttlval) != 0) {
        close(s);
        return ERR_RTP_UDPV4TRANS_CANTSETSOCKETOPTION;
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(bindip);
    if (bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        close(s);
        return errbind;
    }
    return s;
}
}  // namespace

int RTPUDPv4Transmitter::Create(const RTPUDPv4TransmissionParams &params)
{
    if (params.GetPortbase() % 2 != 0)
        return ERR_RTP_UDPV4TRANS_PORTBASENOTEVEN;
    Destroy();
    int r = AbreSocket(params.GetBindIP(), params.GetPortbase(), params.GetRTPSendBuffer(),
                       params.GetRTPReceiveBuffer(), params.GetMulticastTTL(), ERR_RTP_UDPV4TRANS_CANTBINDRTPSOCKET);
    if (r < 0)
        return r;
    rtpsock = r;
    r = AbreSocket(params.GetBindIP(), uint16_t(params.GetPortbase() + 1), params.GetRTCPSendBuffer(),
                   params.GetRTCPReceiveBuffer(), params.GetMulticastTTL(), ERR_RTP_UDPV4TRANS_CANTBINDRTCPSOCKET);
    if (r < 0) {
        Destroy();
        return r;
    }
    rtcpsock = r;
    portbase = params.GetPortbase();
    numdest = 0;
    numlocalips = 0;
    if (params.GetBindIP() != 0) {
        localips[numlocalips++] = params.GetBindIP();
    } else {
        ifaddrs *lista = nullptr;
        if (getifaddrs(&lista) == 0) {
            for (ifaddrs *i = lista; i && numlocalips < MAXLOCALIPS; i = i->ifa_next)
                if (i->ifa_addr && i->ifa_addr->sa_family == AF_INET)
                    localips[numlocalips++] = ntohl(reinterpret_cast<sockaddr_in *>(i->ifa_addr)->sin_addr.s_addr);
            freeifaddrs(lista);
        }
        if (numlocalips == 0)
            localips[numlocalips++] = INADDR_LOOPBACK;
    }
    return 0;
}

void RTPUDPv4Transmitter::Destroy()
{
    if (rtpsock >= 0)
        close(rtpsock);
    if (rtcpsock >= 0)
        close(rtcpsock);
    rtpsock = rtcpsock = -1;
    numdest = 0;
}

RTPUDPv4TransmissionInfo *RTPUDPv4Transmitter::GetTransmissionInfo() const
{
    std::list<uint32_t> ips(localips, localips + numlocalips);
    return new RTPUDPv4TransmissionInfo(ips, rtpsock, rtcpsock);
}

int RTPUDPv4Transmitter::AddDestination(const RTPIPv4Address &addr)
{
    for (size_t i = 0; i < numdest; i++)
        if (dest[i].sin_addr.s_addr == htonl(addr.GetIP()) && dest[i].sin_port == htons(addr.GetPort()))
            return ERR_RTP_UDPV4TRANS_ALREADYINDESTLIST;
    if (numdest == MAXDESTINATIONS)
        return ERR_RTP_UDPV4TRANS_DESTLISTFULL;
    sockaddr_in &d = dest[numdest++];
    std::memset(&d, 0, sizeof d);
    d.sin_family = AF_INET;
    d.sin_addr.s_addr = htonl(addr.GetIP());
    d.sin_port = htons(addr.GetPort());
    return 0;
}

int RTPUDPv4Transmitter::DeleteDestination(const RTPIPv4Address &addr)
{
    for (size_t i = 0; i < numdest; i++)
        if (dest[i].sin_addr.s_addr == htonl(addr.GetIP()) && dest[i].sin_port == htons(addr.GetPort())) {
            dest[i] = dest[--numdest];
            return 0;
        }
    return ERR_RTP_UDPV4TRANS_NOSUCHENTRY;
}

int RTPUDPv4Transmitter::Send(int sock, uint16_t portoffset, const void *data, size_t len)
{
    for (size_t i = 0; i < numdest; i++) {
        sockaddr_in d = dest[i];
        d.sin_port = htons(uint16_t(ntohs(d.sin_port) + portoffset));
        if (sendto(sock, data, len, 0, reinterpret_cast<sockaddr *>(&d), sizeof d) < 0) {
            if (errno == EBADF || errno == ENOTSOCK || errno == EFAULT || errno == EINVAL || errno == EMSGSIZE)
                return ERR_RTP_UDPV4TRANS_SENDERROR;
            sendfailures++;
        }
    }
    return 0;
}

int RTPUDPv4Transmitter::Receive(bool rtcp, uint8_t *const *bufs, size_t bufsize, size_t n, size_t *lens,
                                 RTPIPv4Address *from, bool *truncated)
{
    if (n > MAXBATCH)
        n = MAXBATCH;
    mmsghdr msgs[MAXBATCH];
    iovec iov[MAXBATCH];
    sockaddr_in src[MAXBATCH];
    for (size_t i = 0; i < n; i++) {
        iov[i].iov_base = bufs[i];
        iov[i].iov_len = bufsize;
        std::memset(&msgs[i], 0, sizeof msgs[i]);
        msgs[i].msg_hdr.msg_iov = &iov[i];
        msgs[i].msg_hdr.msg_iovlen = 1;
        msgs[i].msg_hdr.msg_name = &src[i];
        msgs[i].msg_hdr.msg_namelen = sizeof src[i];
    }
    int r;
    do
        r = recvmmsg(rtcp ? rtcpsock : rtpsock, msgs, unsigned(n), MSG_DONTWAIT, nullptr);
    while (r < 0 && errno == EINTR);
    if (r < 0)
        return (errno == EAGAIN || errno == EWOULDBLOCK || errno == ECONNREFUSED) ? 0 : ERR_RTP_UDPV4TRANS_RECEIVEERROR;
    for (int i = 0; i < r; i++) {
        lens[i] = msgs[i].msg_len;
        truncated[i] = (msgs[i].msg_hdr.msg_flags & MSG_TRUNC) != 0 || msgs[i].msg_len > bufsize;
        from[i].SetIP(ntohl(src[i].sin_addr.s_addr));
        from[i].SetPort(ntohs(src[i].sin_port));
    }
    return r;
}

bool RTPUDPv4Transmitter::ComesFromThisTransmitter(const RTPIPv4Address &addr, bool rtcp) const
{
    if (addr.GetPort() != uint16_t(portbase + (rtcp ? 1 : 0)))
        return false;
    for (size_t i = 0; i < numlocalips; i++)
        if (localips[i] == addr.GetIP())
            return true;
    return (addr.GetIP() >> 24) == 127;
}

}  // namespace jrtplib
