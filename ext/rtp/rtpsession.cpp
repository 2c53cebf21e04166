#include "rtpsession.h"

#include <errno.h>
#include <poll.h>
#include <sys/random.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "rtpendian.h"

namespace jrtplib {

namespace {
constexpr size_t IPUDPHEADERS = 28;  // counted in the average RTCP size (RFC 3550 section 6.2)
constexpr double COMPENSATION = 2.71828 - 1.5;  // RFC 3550 appendix A.7
constexpr int MAXREPORTBLOCKS = 31;
constexpr size_t MINPACKETSIZE = 64;

uint32_t Intervalo65536(const RTPTime &d)
{
    int64_t us = d.GetMicroSecondsTotal();
    return us <= 0 ? 0 : uint32_t((uint64_t(us) << 16) / 1000000);
}
}  // namespace

RTPSession::RTPSession(RTPMemoryManager *) {}

RTPSession::~RTPSession()
{
    Destroy();
    while (freelist) {
        RTPPacket *p = freelist;
        freelist = p->next;
        delete p;
    }
    delete[] sendbuf;
    delete[] rtcpbuf;
    delete[] rtcpoutbuf;
    for (RTPPacket *p : batch)
        delete p;
}

uint32_t RTPSession::Random32()
{
    // xorshift64*: fast and good enough for RTCP jitter; identifiers come from getrandom.
    rngstate ^= rngstate >> 12;
    rngstate ^= rngstate << 25;
    rngstate ^= rngstate >> 27;
    return uint32_t((rngstate * 0x2545F4914F6CDD1Dull) >> 32);
}

int RTPSession::Create(const RTPSessionParams &sessparams, const RTPTransmissionParams *transparams,
                       RTPTransmitter::TransmissionProtocol proto)
{
    if (created)
        return ERR_RTP_SESSION_ALREADYCREATED;
    if (proto == RTPTransmitter::UserDefinedProto)
        return ERR_RTP_SESSION_USERDEFINEDTRANSMITTERNOTSUPPORTED;
    if (proto != RTPTransmitter::IPv4UDPProto)
        return ERR_RTP_SESSION_BADPROTOCOL;
    if (!(sessparams.GetOwnTimestampUnit() > 0))
        return ERR_RTP_SESSION_TSUNITNOTSET;
    size_t maxp = sessparams.GetMaximumPacketSize();
    if (maxp < MINPACKETSIZE || maxp > 65507)
        return ERR_RTP_SESSION_BADMAXPACKETSIZE;
    RTPUDPv4TransmissionParams porDefecto;
    const RTPUDPv4TransmissionParams *tp4 = &porDefecto;
    if (transparams) {
        if (transparams->GetTransmissionProtocol() != RTPTransmitter::IPv4UDPProto)
            return ERR_RTP_SESSION_BADTRANSMISSIONPARAMS;
        tp4 = static_cast<const RTPUDPv4TransmissionParams *>(transparams);
    }
    int r = transmitter.Create(*tp4);
    if (r < 0)
        return r;

    params = sessparams;
    tsunit = sessparams.GetOwnTimestampUnit();
    if (maxp != maxpacksize) {
        delete[] sendbuf;
        delete[] rtcpoutbuf;
        sendbuf = new uint8_t[maxp];
        rtcpoutbuf = new uint8_t[maxp];
        maxpacksize = maxp;
    }
    if (!rtcpbuf)
        rtcpbuf = new uint8_t[RTCPBUFSIZE];
    for (RTPPacket *&p : batch)
        if (!p)
            p = new RTPPacket(PACKETCAPACITY);
    sources.reserve(8);

    uint32_t azar[4];
    if (getrandom(azar, sizeof azar, 0) != ssize_t(sizeof azar)) {
        uint64_t t = uint64_t(RTPTime::CurrentTime().GetMicroSecondsTotal());
        azar[0] = uint32_t(t) ^ uint32_t(getpid()) * 2654435761u;
        azar[1] = uint32_t(t >> 32) * 40503u ^ uint32_t(uintptr_t(this));
        azar[2] = azar[0] * 69069u + 1;
        azar[3] = azar[1] * 1664525u + 1013904223u;
    }
    ssrc = azar[0];
    seqnr = uint16_t(azar[1]);
    timestamp = azar[2];
    rngstate = (uint64_t(azar[3]) << 32 | azar[1]) | 1;
    own.ssrc = ssrc;
    lastsentts = timestamp;
    sentsincereport = false;
    packetcount = octetcount = 0;
    defptset = defmarkset = defincset = false;
    current = NOSOURCE;
    numqueued = 0;

    std::string c = sessparams.GetCNAME();
    if (c.empty()) {
        char host[64] = "localhost";
        gethostname(host, sizeof host - 1);
        host[sizeof host - 1] = 0;
        const char *user = getenv("LOGNAME");
        c = std::string(user && *user ? user : "rtp") + "@" + host;
    }
    cnamelen = std::min(c.size(), sizeof cname);
    std::memcpy(cname, c.data(), cnamelen);

    RTPTime ahora = Now();
    tp = ahora;
    initial = true;
    // First estimate: an RR and an SDES with the CNAME (section 6.3.2).
    avgrtcpsize = double(8 + ((8 + 2 + cnamelen + 4) & ~size_t(3)) + IPUDPHEADERS);
    created = true;
    tn = ahora;
    tn += RTPTime(RTCPInterval(true));
    return 0;
}

void RTPSession::Destroy()
{
    if (!created)
        return;
    transmitter.Destroy();
    for (RTPSourceData *s : sources) {
        while (s->queuehead) {
            RTPPacket *p = s->queuehead;
            s->queuehead = p->next;
            FreePacket(p);
        }
        delete s;
    }
    sources.clear();
    current = NOSOURCE;
    numqueued = 0;
    created = false;
}

void RTPSession::BYEDestroy(const RTPTime &, const void *reason, size_t reasonlength)
{
    if (!created)
        return;
    SendRTCP(Now(), true, reason, reasonlength);
    Destroy();
}

int RTPSession::AddDestination(const RTPAddress &addr)
{
    if (!created)
        return ERR_RTP_SESSION_NOTCREATED;
    if (addr.GetAddressType() != RTPAddress::IPv4Address)
        return ERR_RTP_UDPV4TRANS_INVALIDADDRESSTYPE;
    return transmitter.AddDestination(static_cast<const RTPIPv4Address &>(addr));
}

int RTPSession::DeleteDestination(const RTPAddress &addr)
{
    if (!created)
        return ERR_RTP_SESSION_NOTCREATED;
    if (addr.GetAddressType() != RTPAddress::IPv4Address)
        return ERR_RTP_UDPV4TRANS_INVALIDADDRESSTYPE;
    return transmitter.DeleteDestination(static_cast<const RTPIPv4Address &>(addr));
}

RTPTransmissionInfo *RTPSession::GetTransmissionInfo()
{
    return created ? transmitter.GetTransmissionInfo() : nullptr;
}

int RTPSession::SetDefaultPayloadType(uint8_t pt)
{
    if (!created)
        return ERR_RTP_SESSION_NOTCREATED;
    if (pt > 127 || (pt >= 72 && pt <= 76))
        return ERR_RTP_SESSION_BADPAYLOADTYPE;
    defpt = pt;
    defptset = true;
    return 0;
}

int RTPSession::SetDefaultMark(bool m)
{
    if (!created)
        return ERR_RTP_SESSION_NOTCREATED;
    defmark = m;
    defmarkset = true;
    return 0;
}

int RTPSession::SetDefaultTimestampIncrement(uint32_t inc)
{
    if (!created)
        return ERR_RTP_SESSION_NOTCREATED;
    definc = inc;
    defincset = true;
    return 0;
}

int RTPSession::IncrementTimestamp(uint32_t inc)
{
    if (!created)
        return ERR_RTP_SESSION_NOTCREATED;
    timestamp += inc;
    return 0;
}

int RTPSession::IncrementTimestampDefault()
{
    if (!created)
        return ERR_RTP_SESSION_NOTCREATED;
    if (!defincset)
        return ERR_RTP_SESSION_NODEFAULTVALUES;
    timestamp += definc;
    return 0;
}

int RTPSession::SendPacket(const void *data, size_t len)
{
    if (created && !(defptset && defmarkset && defincset))
        return ERR_RTP_SESSION_NODEFAULTVALUES;
    return SendRTP(data, len, defpt, defmark, definc, false, 0, nullptr, 0);
}

int RTPSession::SendPacket(const void *data, size_t len, uint8_t pt, bool mark, uint32_t timestampinc)
{
    return SendRTP(data, len, pt, mark, timestampinc, false, 0, nullptr, 0);
}

int RTPSession::SendPacketEx(const void *data, size_t len, uint16_t hdrextID, const void *hdrextdata,
                             size_t numhdrextwords)
{
    if (created && !(defptset && defmarkset && defincset))
        return ERR_RTP_SESSION_NODEFAULTVALUES;
    return SendRTP(data, len, defpt, defmark, definc, true, hdrextID, hdrextdata, numhdrextwords);
}

int RTPSession::SendPacketEx(const void *data, size_t len, uint8_t pt, bool mark, uint32_t timestampinc,
                             uint16_t hdrextID, const void *hdrextdata, size_t numhdrextwords)
{
    return SendRTP(data, len, pt, mark, timestampinc, true, hdrextID, hdrextdata, numhdrextwords);
}

int RTPSession::SendRTP(const void *data, size_t len, uint8_t pt, bool mark, uint32_t inc, bool ext, uint16_t extid,
                        const void *extdata, size_t extwords)
{
    if (!created)
        return ERR_RTP_SESSION_NOTCREATED;
    if (pt > 127 || (pt >= 72 && pt <= 76))
        return ERR_RTP_SESSION_BADPAYLOADTYPE;
    if (ext && (extwords > 0xffff || (extwords > 0 && !extdata)))
        return ERR_RTP_SESSION_BADEXTENSION;
    size_t cabecera = 12 + (ext ? 4 + 4 * extwords : 0);
    if (cabecera + len > maxpacksize)
        return ERR_RTP_SESSION_PACKETTOOBIG;
    uint8_t *b = sendbuf;
    b[0] = uint8_t(0x80 | (ext ? 0x10 : 0));
    b[1] = uint8_t((mark ? 0x80 : 0) | pt);
    rtpPon16(b + 2, seqnr);
    rtpPon32(b + 4, timestamp);
    rtpPon32(b + 8, ssrc);
    if (ext) {
        rtpPon16(b + 12, extid);
        rtpPon16(b + 14, uint16_t(extwords));
        if (extwords)
            std::memcpy(b + 16, extdata, 4 * extwords);
    }
    if (len)
        std::memcpy(b + cabecera, data, len);
    int r = transmitter.SendRTPData(b, cabecera + len);
    if (r < 0)
        return r;
    lastsentts = timestamp;
    lastsendtime = Now();
    timestamp += inc;
    seqnr++;
    packetcount++;
    octetcount += uint32_t(len);
    sentsincereport = true;
    return 0;
}

int RTPSession::Poll()
{
    if (!created)
        return ERR_RTP_SESSION_NOTCREATED;
    RTPTime ahora = Now();
    int r = ReceiveRTP(ahora);
    if (r < 0)
        return r;
    // RTCP comes every few seconds: while RTP keeps arriving, look at its socket only now and
    // then. A caller woken by RTCP alone finds no RTP and so reads it at once.
    RTPTime desde = ahora;
    desde -= lastrtcpcheck;
    if (r == 0 || desde >= RTPTime(0.1) || desde < RTPTime(0.0)) {
        lastrtcpcheck = ahora;
        r = ReceiveRTCP(ahora);
        if (r < 0)
            return r;
    }
    return CheckRTCP(ahora);
}

int RTPSession::WaitForIncomingData(const RTPTime &delay, bool *dataavailable)
{
    if (!created)
        return ERR_RTP_SESSION_NOTCREATED;
    pollfd f[2] = {{transmitter.GetRTPSocket(), POLLIN, 0}, {transmitter.GetRTCPSocket(), POLLIN, 0}};
    int64_t ms = (delay.GetMicroSecondsTotal() + 999) / 1000;
    int r = poll(f, 2, int(std::max<int64_t>(0, std::min<int64_t>(ms, 1 << 30))));
    if (r < 0 && errno != EINTR)
        return ERR_RTP_UDPV4TRANS_RECEIVEERROR;
    if (dataavailable)
        *dataavailable = r > 0;
    return 0;
}

RTPPacket *RTPSession::TakeFreePacket()
{
    if (freelist) {
        RTPPacket *p = freelist;
        freelist = p->next;
        numfree--;
        p->next = nullptr;
        return p;
    }
    return new RTPPacket(PACKETCAPACITY);
}

void RTPSession::FreePacket(RTPPacket *p)
{
    if (numfree >= MAXFREE || p->capacity != PACKETCAPACITY) {
        delete p;
        return;
    }
    p->next = freelist;
    freelist = p;
    numfree++;
}

void RTPSession::DeletePacket(RTPPacket *p)
{
    if (p)
        FreePacket(p);
}

int RTPSession::ReceiveRTP(const RTPTime &now)
{
    int leidos = 0;
    for (;;) {
        uint8_t *bufs[RECVBATCH];
        size_t lens[RECVBATCH];
        RTPIPv4Address from[RECVBATCH];
        bool trunc[RECVBATCH];
        for (size_t i = 0; i < RECVBATCH; i++) {
            if (!batch[i])
                batch[i] = TakeFreePacket();
            bufs[i] = batch[i]->packet;
        }
        int n = transmitter.Receive(false, bufs, PACKETCAPACITY, RECVBATCH, lens, from, trunc);
        if (n < 0)
            return n;
        for (int i = 0; i < n; i++) {
            // Past the queue limit datagrams are still read, and dropped.
            if (trunc[i] || numqueued >= MAXQUEUED) {
                dropped++;
                continue;
            }
            RTPPacket *p = batch[i];
            batch[i] = nullptr;
            ProcessRTP(p, lens[i], from[i], now);
        }
        leidos += n;
        if (n < int(RECVBATCH))
            return leidos;
    }
}

size_t RTPSession::FindSource(uint32_t s) const
{
    for (size_t i = 0; i < sources.size(); i++)
        if (sources[i]->ssrc == s)
            return i;
    return NOSOURCE;
}

RTPSourceData *RTPSession::NewSource(uint32_t s, bool isown)
{
    if (sources.size() >= MAXSOURCES)
        return nullptr;
    RTPSourceData *d = new RTPSourceData(s, isown);
    sources.push_back(d);
    OnNewSource(d);
    return d;
}

void RTPSession::RemoveSource(size_t i)
{
    RTPSourceData *s = sources[i];
    OnRemoveSource(s);
    while (s->queuehead) {
        RTPPacket *p = s->queuehead;
        s->queuehead = p->next;
        numqueued--;
        FreePacket(p);
    }
    sources.erase(sources.begin() + ptrdiff_t(i));
    if (current != NOSOURCE && current >= i)
        current = current == i ? NOSOURCE : current - 1;
    delete s;
}

void RTPSession::ChangeSSRC()
{
    // RFC 3550 section 8.2: leave with the old identifier, go on with a fresh one.
    SendRTCP(Now(), true, "SSRC collision", 14);
    uint32_t nuevo;
    do
        nuevo = Random32();
    while (nuevo == ssrc || FindSource(nuevo) != NOSOURCE);
    ssrc = nuevo;
    own.ssrc = ssrc;
    packetcount = octetcount = 0;
    sentsincereport = false;
}

void RTPSession::ProcessRTP(RTPPacket *p, size_t len, const RTPIPv4Address &from, const RTPTime &now)
{
    if (p->Parse(len) < 0) {
        dropped++;
        FreePacket(p);
        return;
    }
    p->receivetime = now;
    bool esPropio = false;
    if (p->ssrc == ssrc) {
        if (transmitter.ComesFromThisTransmitter(from, false)) {
            if (!params.AcceptOwnPackets()) {
                FreePacket(p);
                return;
            }
            esPropio = true;
        } else {
            OnSSRCCollision(&own, &from, true);
            ChangeSSRC();
        }
    }
    size_t i = FindSource(p->ssrc);
    RTPSourceData *s = i == NOSOURCE ? NewSource(p->ssrc, esPropio) : sources[i];
    if (!s) {
        dropped++;
        FreePacket(p);
        return;
    }
    if (s->hasrtpaddr && !s->rtpaddr.IsSameAddress(&from)) {
        // Two parties with one identifier, or a loop (section 8.2): keep the first.
        OnSSRCCollision(s, &from, true);
        dropped++;
        FreePacket(p);
        return;
    }
    if (!s->hasrtpaddr) {
        s->rtpaddr = from;
        s->hasrtpaddr = true;
    }
    p->extseqnr = s->ActualizaSecuencia(uint16_t(p->extseqnr));
    double llegada = double(now.GetMicroSecondsTotal()) * 1e-6 / tsunit;
    s->ActualizaJitter(uint32_t(uint64_t(std::fmod(llegada, 4294967296.0))), p->timestamp);
    s->issender = true;
    s->rtpsincereport = true;
    s->lastrtptime = now;
    s->lastheard = now;
    OnRTPPacket(p, now, &from);
    p->next = nullptr;
    if (s->queuetail && s->queuehead)
        s->queuetail->next = p;
    else
        s->queuehead = p;
    s->queuetail = p;
    numqueued++;
}

int RTPSession::ReceiveRTCP(const RTPTime &now)
{
    for (;;) {
        size_t len;
        RTPIPv4Address from;
        bool trunc;
        uint8_t *buf = rtcpbuf;
        int n = transmitter.Receive(true, &buf, RTCPBUFSIZE, 1, &len, &from, &trunc);
        if (n <= 0)
            return n;
        if (trunc || rtcpin.Parse(rtcpbuf, len) < 0) {
            dropped++;
            continue;
        }
        ProcessRTCP(from, now);
        rtcpin.Clear();
    }
}

RTPSourceData *RTPSession::SourceForRTCP(uint32_t s, const RTPIPv4Address &from, const RTPTime &now)
{
    bool esPropio = false;
    if (s == ssrc) {
        if (transmitter.ComesFromThisTransmitter(from, true)) {
            if (!params.AcceptOwnPackets())
                return nullptr;
            esPropio = true;
        } else {
            OnSSRCCollision(&own, &from, false);
            ChangeSSRC();
        }
    }
    size_t i = FindSource(s);
    RTPSourceData *d = i == NOSOURCE ? NewSource(s, esPropio) : sources[i];
    if (!d)
        return nullptr;
    if (d->hasrtcpaddr && !d->rtcpaddr.IsSameAddress(&from)) {
        OnSSRCCollision(d, &from, false);
        return nullptr;
    }
    if (!d->hasrtcpaddr) {
        d->rtcpaddr = from;
        d->hasrtcpaddr = true;
    }
    d->lastheard = now;
    return d;
}

void RTPSession::ProcessRTCP(const RTPIPv4Address &from, const RTPTime &now)
{
    avgrtcpsize = (double(rtcpin.GetCompoundPacketLength() + IPUDPHEADERS) + 15.0 * avgrtcpsize) / 16.0;
    OnRTCPCompoundPacket(&rtcpin, now, &from);
    rtcpin.GotoFirstPacket();
    while (RTCPPacket *p = rtcpin.GetNextPacket()) {
        if (!p->IsKnownFormat()) {
            OnUnknownPacketFormat(p, now, &from);
            continue;
        }
        switch (p->GetPacketType()) {
        case RTCPPacket::SR: {
            RTCPSRPacket *sr = static_cast<RTCPSRPacket *>(p);
            RTPSourceData *s = SourceForRTCP(sr->GetSenderSSRC(), from, now);
            if (!s)
                break;
            s->sr.hasinfo = true;
            s->sr.ntp = sr->GetNTPTimestamp();
            s->sr.rtpts = sr->GetRTPTimestamp();
            s->sr.packets = sr->GetSenderPacketCount();
            s->sr.octets = sr->GetSenderOctetCount();
            s->sr.received = now;
            for (int i = 0; i < sr->GetReceptionReportCount(); i++)
                if (sr->GetSSRC(i) == ssrc)
                    s->rr = {true, sr->GetFractionLost(i), sr->GetLostPacketCount(i),
                             sr->GetExtendedHighestSequenceNumber(i), sr->GetJitter(i), sr->GetLSR(i), sr->GetDLSR(i),
                             now};
            break;
        }
        case RTCPPacket::RR: {
            RTCPRRPacket *rr = static_cast<RTCPRRPacket *>(p);
            RTPSourceData *s = SourceForRTCP(rr->GetSenderSSRC(), from, now);
            if (!s)
                break;
            for (int i = 0; i < rr->GetReceptionReportCount(); i++)
                if (rr->GetSSRC(i) == ssrc)
                    s->rr = {true, rr->GetFractionLost(i), rr->GetLostPacketCount(i),
                             rr->GetExtendedHighestSequenceNumber(i), rr->GetJitter(i), rr->GetLSR(i), rr->GetDLSR(i),
                             now};
            break;
        }
        case RTCPPacket::SDES: {
            RTCPSDESPacket *sd = static_cast<RTCPSDESPacket *>(p);
            for (bool c = sd->GotoFirstChunk(); c; c = sd->GotoNextChunk()) {
                RTPSourceData *s = SourceForRTCP(sd->GetChunkSSRC(), from, now);
                if (!s)
                    continue;
                for (bool it = sd->GotoFirstItem(); it; it = sd->GotoNextItem()) {
                    size_t l = sd->GetItemLength();
                    const uint8_t *d = sd->GetItemData();
                    if (sd->GetItemType() == RTCPSDESPacket::CNAME) {
                        if (s->cnamelen > 0 && (s->cnamelen != l || std::memcmp(s->cname, d, l) != 0)) {
                            OnCNAMECollision(s, &from, d, l);
                        } else {
                            std::memcpy(s->cname, d, l);
                            s->cnamelen = l;
                        }
                    } else if (sd->GetItemType() == RTCPSDESPacket::NOTE) {
                        std::memcpy(s->note, d, l);
                        s->notelen = l;
                        s->notetime = now;
                    }
                }
            }
            break;
        }
        case RTCPPacket::BYE: {
            RTCPBYEPacket *bye = static_cast<RTCPBYEPacket *>(p);
            for (int i = 0; i < bye->GetSSRCCount(); i++) {
                size_t k = FindSource(bye->GetSSRC(i));
                if (k == NOSOURCE || sources[k]->receivedbye || sources[k]->ownssrc)
                    continue;
                RTPSourceData *s = sources[k];
                s->receivedbye = true;
                s->byetime = now;
                s->byereasonlen = bye->GetReasonLength();
                if (s->byereasonlen)
                    std::memcpy(s->byereason, bye->GetReasonData(), s->byereasonlen);
                OnBYEPacket(s);
            }
            break;
        }
        case RTCPPacket::APP: OnAPPPacket(static_cast<RTCPAPPPacket *>(p), now, &from); break;
        case RTCPPacket::Unknown: OnUnknownPacketType(p, now, &from); break;
        }
    }
}

void RTPSession::CountMembers(int &members, int &senders) const
{
    members = 1;
    senders = sentsincereport ? 1 : 0;
    for (const RTPSourceData *s : sources) {
        if (s->ownssrc || s->receivedbye)
            continue;
        members++;
        if (s->issender)
            senders++;
    }
}

double RTPSession::RTCPInterval(bool randomised) const
{
    // RFC 3550 appendix A.7.
    int members, senders;
    CountMembers(members, senders);
    double minimo = params.GetMinimumRTCPTransmissionInterval().GetDouble();
    if (randomised && initial && params.GetUseHalfRTCPIntervalAtStartup())
        minimo /= 2;
    double bw = params.GetSessionBandwidth() * params.GetControlTrafficFraction();
    int n = members;
    if (senders > 0 && senders <= members * 0.25) {
        if (sentsincereport) {
            bw *= 0.25;
            n = senders;
        } else {
            bw *= 0.75;
            n -= senders;
        }
    }
    double t = bw > 0 ? avgrtcpsize * n / bw : minimo;
    if (t < minimo)
        t = minimo;
    if (!randomised)
        return t;
    double u = double(const_cast<RTPSession *>(this)->Random32()) / 4294967296.0;
    return t * (u + 0.5) / COMPENSATION;
}

int RTPSession::CheckRTCP(const RTPTime &now)
{
    if (now < tn)
        return 0;
    RTPTime t(RTCPInterval(true));
    RTPTime siguiente = tp;
    siguiente += t;
    if (siguiente <= now) {
        // Timer reconsideration (section 6.3.6): send only when the recomputed interval has passed.
        CheckTimeouts(now);
        int r = SendRTCP(now, false, nullptr, 0);
        tp = now;
        initial = false;
        tn = now;
        tn += RTPTime(RTCPInterval(true));
        return r;
    }
    tn = siguiente;
    return 0;
}

void RTPSession::CheckTimeouts(const RTPTime &now)
{
    double td = RTCPInterval(false);
    for (size_t i = sources.size(); i-- > 0;) {
        RTPSourceData *s = sources[i];
        RTPTime desde = now;
        if (s->receivedbye) {
            desde -= s->byetime;
            if (desde.GetDouble() > params.GetBYETimeoutMultiplier() * td) {
                OnBYETimeout(s);
                RemoveSource(i);
            }
            continue;
        }
        desde -= s->lastheard;
        if (desde.GetDouble() > params.GetSourceTimeoutMultiplier() * td) {
            OnTimeout(s);
            RemoveSource(i);
            continue;
        }
        RTPTime rtp = now;
        rtp -= s->lastrtptime;
        if (s->issender && rtp.GetDouble() > 2 * td)
            s->issender = false;
        RTPTime nota = now;
        nota -= s->notetime;
        if (s->notelen && nota.GetDouble() > params.GetNoteTimeoutMultiplier() * td) {
            s->notelen = 0;
            OnNoteTimeout(s);
        }
    }
}

int RTPSession::SendRTCP(const RTPTime &now, bool bye, const void *reason, size_t reasonlen)
{
    uint8_t *b = rtcpoutbuf;
    size_t sdes = (8 + 2 + cnamelen + 4) & ~size_t(3);
    size_t byelen = 0;
    if (bye) {
        reasonlen = std::min<size_t>(reasonlen, 255);
        byelen = 8 + (reasonlen ? (1 + reasonlen + 3) & ~size_t(3) : 0);
    }
    bool sr = sentsincereport && !bye;
    size_t fijo = sr ? 28 : 8;
    if (fijo + sdes + byelen > maxpacksize)
        return ERR_RTP_SESSION_PACKETTOOBIG;
    size_t off = fijo;
    int bloques = 0;
    if (!bye) {
        for (RTPSourceData *s : sources) {
            if (!s->rtpsincereport || s->ownssrc || bloques == MAXREPORTBLOCKS ||
                off + 24 + sdes > maxpacksize)
                continue;
            uint8_t *q = b + off;
            // RFC 3550 appendix A.3.
            uint32_t extmax = s->cycles + s->maxseq;
            uint32_t esperados = extmax - s->baseseq + 1;
            int64_t perdidos = int64_t(esperados) - int64_t(s->received);
            perdidos = std::max<int64_t>(-0x800000, std::min<int64_t>(0x7fffff, perdidos));
            uint32_t espInt = esperados - s->expectedprior;
            uint32_t recInt = s->received - s->receivedprior;
            s->expectedprior = esperados;
            s->receivedprior = s->received;
            int64_t perdInt = int64_t(espInt) - int64_t(recInt);
            uint8_t fraccion = (espInt == 0 || perdInt <= 0) ? 0 : uint8_t(std::min<int64_t>(255, (perdInt << 8) / espInt));
            rtpPon32(q, s->ssrc);
            q[4] = fraccion;
            rtpPon24(q + 5, uint32_t(perdidos) & 0xffffff);
            rtpPon32(q + 8, extmax);
            rtpPon32(q + 12, s->jitter >> 4);
            uint32_t lsr = 0, dlsr = 0;
            if (s->sr.hasinfo) {
                lsr = (s->sr.ntp.GetMSW() << 16) | (s->sr.ntp.GetLSW() >> 16);
                RTPTime d = now;
                d -= s->sr.received;
                dlsr = Intervalo65536(d);
            }
            rtpPon32(q + 16, lsr);
            rtpPon32(q + 20, dlsr);
            s->rtpsincereport = false;
            off += 24;
            bloques++;
        }
    }
    b[0] = uint8_t(0x80 | bloques);
    b[1] = sr ? 200 : 201;
    rtpPon16(b + 2, uint16_t(off / 4 - 1));
    rtpPon32(b + 4, ssrc);
    if (sr) {
        RTPNTPTime ntp = now.GetNTPTime();
        RTPTime d = now;
        d -= lastsendtime;
        rtpPon32(b + 8, ntp.GetMSW());
        rtpPon32(b + 12, ntp.GetLSW());
        rtpPon32(b + 16, lastsentts + uint32_t(int64_t(d.GetDouble() / tsunit)));
        rtpPon32(b + 20, packetcount);
        rtpPon32(b + 24, octetcount);
    }
    uint8_t *q = b + off;
    std::memset(q, 0, sdes);
    q[0] = 0x81;
    q[1] = 202;
    rtpPon16(q + 2, uint16_t(sdes / 4 - 1));
    rtpPon32(q + 4, ssrc);
    q[8] = 1;  // CNAME
    q[9] = uint8_t(cnamelen);
    std::memcpy(q + 10, cname, cnamelen);
    off += sdes;
    if (bye) {
        q = b + off;
        std::memset(q, 0, byelen);
        q[0] = 0x81;
        q[1] = 203;
        rtpPon16(q + 2, uint16_t(byelen / 4 - 1));
        rtpPon32(q + 4, ssrc);
        if (reasonlen) {
            q[8] = uint8_t(reasonlen);
            std::memcpy(q + 9, reason, reasonlen);
        }
        off += byelen;
    }
    if (sr)
        sentsincereport = false;
    int r = transmitter.SendRTCPData(b, off);
    avgrtcpsize = (double(off + IPUDPHEADERS) + 15.0 * avgrtcpsize) / 16.0;
    if (r < 0)
        return r;
    if (rtcpout.Parse(b, off) == 0) {
        OnSendRTCPCompoundPacket(&rtcpout);
        rtcpout.Clear();
    }
    return 0;
}

bool RTPSession::GotoFirstSource()
{
    current = sources.empty() ? NOSOURCE : 0;
    return current != NOSOURCE;
}

bool RTPSession::GotoNextSource()
{
    if (current == NOSOURCE || current + 1 >= sources.size()) {
        current = NOSOURCE;
        return false;
    }
    current++;
    return true;
}

bool RTPSession::GotoFirstSourceWithData()
{
    for (size_t i = 0; i < sources.size(); i++)
        if (sources[i]->queuehead) {
            current = i;
            return true;
        }
    current = NOSOURCE;
    return false;
}

bool RTPSession::GotoNextSourceWithData()
{
    if (current != NOSOURCE)
        for (size_t i = current + 1; i < sources.size(); i++)
            if (sources[i]->queuehead) {
                current = i;
                return true;
            }
    current = NOSOURCE;
    return false;
}

RTPSourceData *RTPSession::GetCurrentSourceInfo() { return current == NOSOURCE ? nullptr : sources[current]; }

RTPSourceData *RTPSession::GetSourceInfo(uint32_t s)
{
    size_t i = FindSource(s);
    return i == NOSOURCE ? nullptr : sources[i];
}

RTPPacket *RTPSession::GetNextPacket()
{
    if (current == NOSOURCE)
        return nullptr;
    RTPSourceData *s = sources[current];
    RTPPacket *p = s->queuehead;
    if (!p)
        return nullptr;
    s->queuehead = p->next;
    if (!s->queuehead)
        s->queuetail = nullptr;
    p->next = nullptr;
    numqueued--;
    return p;
}

int RTPSession::SetSessionBandwidth(double bw)
{
    params.SetSessionBandwidth(bw);
    return 0;
}

RTPTime RTPSession::GetRTCPDelay()
{
    if (!created)
        return RTPTime(0.0);
    RTPTime d = tn;
    d -= Now();
    return d < RTPTime(0.0) ? RTPTime(0.0) : d;
}

}  // namespace jrtplib
