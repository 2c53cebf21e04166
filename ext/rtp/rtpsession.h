// An RTP session over UDP/IPv4 (RFC 3550): sends and receives RTP, keeps the table of
// sources, and sends RTCP compound packets at the RFC's interval from Poll.
//
// There is no background thread and no lock: the owner calls Poll and the data-access
// calls, and serialises every call on one session.
#ifndef JRTP_RTPSESSION_H
#define JRTP_RTPSESSION_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "rtcpcompoundpacket.h"
#include "rtperrors.h"
#include "rtpipv4address.h"
#include "rtppacket.h"
#include "rtpsessionparams.h"
#include "rtpsourcedata.h"
#include "rtptimeutilities.h"
#include "rtpudpv4transmitter.h"

namespace jrtplib {

// Allocation is plain new/delete here; the type exists for the constructor's signature.
class RTPMemoryManager;

class RTPSession {
public:
    explicit RTPSession(RTPMemoryManager *mgr = nullptr);
    virtual ~RTPSession();
    RTPSession(const RTPSession &) = delete;
    RTPSession &operator=(const RTPSession &) = delete;

    int Create(const RTPSessionParams &sessparams, const RTPTransmissionParams *transparams = nullptr,
               RTPTransmitter::TransmissionProtocol proto = RTPTransmitter::IPv4UDPProto);
    // The protocol as a plain number (0 IPv4 over UDP), as callers that keep it in an int pass it.
    int Create(const RTPSessionParams &sessparams, const RTPTransmissionParams *transparams, int proto)
    {
        return Create(sessparams, transparams, RTPTransmitter::TransmissionProtocol(proto));
    }
    // Closes the sockets and forgets every source; sends no BYE.
    void Destroy();
    // Sends a BYE (with an optional reason) and then destroys the session.
    void BYEDestroy(const RTPTime &maxwaittime, const void *reason, size_t reasonlength);
    bool IsActive() const { return created; }
    uint32_t GetLocalSSRC() const { return ssrc; }

    int AddDestination(const RTPAddress &addr);
    int DeleteDestination(const RTPAddress &addr);
    void ClearDestinations() { transmitter.ClearDestinations(); }

    // Sockets of the session (RTPUDPv4TransmissionInfo); free it with DeleteTransmissionInfo.
    RTPTransmissionInfo *GetTransmissionInfo();
    void DeleteTransmissionInfo(RTPTransmissionInfo *inf) { delete inf; }

    // Each send stamps the current timestamp, then advances it by the increment.
    int SendPacket(const void *data, size_t len);
    int SendPacket(const void *data, size_t len, uint8_t pt, bool mark, uint32_t timestampinc);
    // With a header extension: profile-defined id and numhdrextwords 32-bit words sent as
    // given (the caller lays them out in network order).
    int SendPacketEx(const void *data, size_t len, uint16_t hdrextID, const void *hdrextdata, size_t numhdrextwords);
    int SendPacketEx(const void *data, size_t len, uint8_t pt, bool mark, uint32_t timestampinc, uint16_t hdrextID,
                     const void *hdrextdata, size_t numhdrextwords);
    int SetDefaultPayloadType(uint8_t pt);
    int SetDefaultMark(bool m);
    int SetDefaultTimestampIncrement(uint32_t timestampinc);
    int IncrementTimestamp(uint32_t inc);
    int IncrementTimestampDefault();

    // Reads every pending RTP and RTCP datagram, then sends RTCP and times out sources when due.
    int Poll();
    // Waits until a socket of the session is readable or the delay has passed.
    int WaitForIncomingData(const RTPTime &delay, bool *dataavailable = nullptr);

    void BeginDataAccess() {}
    void EndDataAccess() {}
    bool GotoFirstSource();
    bool GotoNextSource();
    bool GotoFirstSourceWithData();
    bool GotoNextSourceWithData();
    RTPSourceData *GetCurrentSourceInfo();
    RTPSourceData *GetSourceInfo(uint32_t ssrc);
    // Next packet of the current source, oldest first; hand it back with DeletePacket.
    RTPPacket *GetNextPacket();
    void DeletePacket(RTPPacket *p);

    int SetSessionBandwidth(double bw);
    // Time left until the next RTCP check.
    RTPTime GetRTCPDelay();

    // Datagrams dropped: malformed, truncated, colliding or beyond the queue limit.
    uint64_t GetDroppedPacketCount() const { return dropped; }
    // Replaces the wall clock (tests); null restores it.
    void SetTimeSource(RTPTime (*now)(void *ctx), void *ctx)
    {
        clock = now;
        clockctx = ctx;
    }

protected:
    // Call-backs, empty by default, in this order.
    virtual RTPTransmitter *NewUserDefinedTransmitter() { return nullptr; }
    virtual void OnRTPPacket(RTPPacket *, const RTPTime &, const RTPAddress *) {}
    virtual void OnRTCPCompoundPacket(RTCPCompoundPacket *, const RTPTime &, const RTPAddress *) {}
    virtual void OnSSRCCollision(RTPSourceData *, const RTPAddress *, bool /*isrtp*/) {}
    virtual void OnCNAMECollision(RTPSourceData *, const RTPAddress *, const uint8_t *, size_t) {}
    virtual void OnNewSource(RTPSourceData *) {}
    virtual void OnRemoveSource(RTPSourceData *) {}
    virtual void OnTimeout(RTPSourceData *) {}
    virtual void OnBYETimeout(RTPSourceData *) {}
    virtual void OnAPPPacket(RTCPAPPPacket *, const RTPTime &, const RTPAddress *) {}
    virtual void OnUnknownPacketType(RTCPPacket *, const RTPTime &, const RTPAddress *) {}
    virtual void OnUnknownPacketFormat(RTCPPacket *, const RTPTime &, const RTPAddress *) {}
    virtual void OnNoteTimeout(RTPSourceData *) {}
    virtual void OnBYEPacket(RTPSourceData *) {}
    virtual void OnSendRTCPCompoundPacket(RTCPCompoundPacket *) {}

private:
    static constexpr size_t PACKETCAPACITY = 2048;  // largest RTP datagram taken
    static constexpr size_t RECVBATCH = 16;
    static constexpr size_t MAXQUEUED = 1024;  // packets waiting to be read, all sources
    static constexpr size_t MAXFREE = 64;      // packets kept for reuse
    static constexpr size_t MAXSOURCES = 256;
    static constexpr size_t RTCPBUFSIZE = 4096;
    static constexpr size_t NOSOURCE = size_t(-1);

    RTPTime Now() const { return clock ? clock(clockctx) : RTPTime::CurrentTime(); }
    uint32_t Random32();
    int SendRTP(const void *data, size_t len, uint8_t pt, bool mark, uint32_t inc, bool ext, uint16_t extid,
                const void *extdata, size_t extwords);
    int ReceiveRTP(const RTPTime &now);  // datagrams read, or an error
    int ReceiveRTCP(const RTPTime &now);
    void ProcessRTP(RTPPacket *p, size_t len, const RTPIPv4Address &from, const RTPTime &now);
    void ProcessRTCP(const RTPIPv4Address &from, const RTPTime &now);
    RTPSourceData *SourceForRTCP(uint32_t s, const RTPIPv4Address &from, const RTPTime &now);
    RTPSourceData *NewSource(uint32_t s, bool own);
    size_t FindSource(uint32_t s) const;
    void RemoveSource(size_t index);
    void ChangeSSRC();
    RTPPacket *TakeFreePacket();
    void FreePacket(RTPPacket *p);
    int CheckRTCP(const RTPTime &now);
    double RTCPInterval(bool randomised) const;
    void CountMembers(int &members, int &senders) const;
    void CheckTimeouts(const RTPTime &now);
    int SendRTCP(const RTPTime &now, bool bye, const void *reason, size_t reasonlen);

    RTPUDPv4Transmitter transmitter;
    bool created = false;
    RTPSessionParams params;
    double tsunit = 0;
    size_t maxpacksize = 0;

    uint32_t ssrc = 0;
    uint16_t seqnr = 0;
    uint32_t timestamp = 0;
    uint32_t lastsentts = 0;
    RTPTime lastsendtime;
    bool sentsincereport = false;
    uint32_t packetcount = 0, octetcount = 0;
    uint8_t defpt = 0;
    bool defmark = false;
    uint32_t definc = 0;
    bool defptset = false, defmarkset = false, defincset = false;
    uint8_t *sendbuf = nullptr;
    size_t sendbufsize = 0;

    RTPSourceData own{0, true};
    std::vector<RTPSourceData *> sources;
    size_t current = NOSOURCE;
    RTPPacket *freelist = nullptr;
    size_t numfree = 0;
    size_t numqueued = 0;
    RTPPacket *batch[RECVBATCH] = {};  // empty packets the next read fills, kept between polls

    uint8_t *rtcpbuf = nullptr;     // received compound (RTCPBUFSIZE)
    uint8_t *rtcpoutbuf = nullptr;  // compound being sent (maxpacksize)
    RTCPCompoundPacket rtcpin;
    RTCPCompoundPacket rtcpout;
    uint8_t cname[255];
    size_t cnamelen = 0;
    RTPTime tp, tn;
    RTPTime lastrtcpcheck;
    double avgrtcpsize = 0;
    bool initial = true;

    uint64_t rngstate = 0;
    uint64_t dropped = 0;
    RTPTime (*clock)(void *) = nullptr;
    void *clockctx = nullptr;
};

}  // namespace jrtplib

using jrtplib::RTPMemoryManager;
using jrtplib::RTPSession;

#endif
