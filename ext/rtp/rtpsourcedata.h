// What the session knows of one synchronisation source: addresses, reception statistics
// (RFC 3550 appendix A.1, A.3, A.8), its last sender and receiver reports and SDES items.
#ifndef JRTP_RTPSOURCEDATA_H
#define JRTP_RTPSOURCEDATA_H

#include <cstddef>
#include <cstdint>

#include "rtpipv4address.h"
#include "rtptimeutilities.h"

namespace jrtplib {

class RTPPacket;
class RTPSession;

class RTPSourceData {
public:
    uint32_t GetSSRC() const { return ssrc; }
    bool IsOwnSSRC() const { return ownssrc; }
    bool IsCSRC() const { return false; }
    bool IsValidated() const { return true; }
    bool IsActive() const { return !receivedbye; }
    // Sent RTP since the last two RTCP intervals.
    bool IsSender() const { return issender; }
    bool HasData() const { return queuehead != nullptr; }
    bool ReceivedBYE() const { return receivedbye; }
    uint8_t *GetBYEReason(size_t *len) const
    {
        *len = byereasonlen;
        return const_cast<uint8_t *>(byereason);
    }
    RTPTime GetBYETime() const { return byetime; }
    // Null until a packet of that kind arrived from the source.
    const RTPAddress *GetRTPDataAddress() const { return hasrtpaddr ? &rtpaddr : nullptr; }
    const RTPAddress *GetRTCPDataAddress() const { return hasrtcpaddr ? &rtcpaddr : nullptr; }

    // Last sender report of the source.
    bool SR_HasInfo() const { return sr.hasinfo; }
    RTPNTPTime SR_GetNTPTimestamp() const { return sr.ntp; }
    uint32_t SR_GetRTPTimestamp() const { return sr.rtpts; }
    uint32_t SR_GetPacketCount() const { return sr.packets; }
    uint32_t SR_GetByteCount() const { return sr.octets; }
    RTPTime SR_GetReceiveTime() const { return sr.received; }

    // The source's last report block about us.
    bool RR_HasInfo() const { return rr.hasinfo; }
    double RR_GetFractionLost() const { return double(rr.fraction) / 256.0; }
    int32_t RR_GetPacketsLost() const { return rr.lost; }
    uint32_t RR_GetExtendedHighestSequenceNumber() const { return rr.extseq; }
    uint32_t RR_GetJitter() const { return rr.jitter; }
    uint32_t RR_GetLastSRTimestamp() const { return rr.lsr; }
    RTPTime RR_GetDelaySinceLastSR() const
    {
        return RTPTime::FromMicroSeconds(int64_t((uint64_t(rr.dlsr) * 1000000) >> 16));
    }
    RTPTime RR_GetReceiveTime() const { return rr.received; }

    // Our reception statistics of the source.
    uint32_t INF_GetNumPacketsReceived() const { return received; }
    uint32_t INF_GetExtendedHighestSequenceNumber() const { return cycles + maxseq; }
    int32_t INF_GetNumPacketsLost() const;
    // Interarrival jitter in timestamp units.
    uint32_t INF_GetJitter() const { return jitter >> 4; }
    RTPTime INF_GetLastRTPPacketTime() const { return lastrtptime; }
    RTPTime INF_GetLastMessageTime() const { return lastheard; }

    uint8_t *SDES_GetCNAME(size_t *len) const
    {
        *len = cnamelen;
        return const_cast<uint8_t *>(cname);
    }
    uint8_t *SDES_GetNote(size_t *len) const
    {
        *len = notelen;
        return const_cast<uint8_t *>(note);
    }

private:
    friend class RTPSession;

    RTPSourceData(uint32_t s, bool own) : ssrc(s), ownssrc(own) {}
    RTPSourceData(const RTPSourceData &) = delete;
    RTPSourceData &operator=(const RTPSourceData &) = delete;

    // Updates the sequence statistics; returns the packet's extended sequence number.
    uint32_t ActualizaSecuencia(uint16_t seq);
    void ActualizaJitter(uint32_t llegada, uint32_t timestamp);

    struct InfoSR {
        bool hasinfo = false;
        RTPNTPTime ntp;
        uint32_t rtpts = 0, packets = 0, octets = 0;
        RTPTime received;
    };
    struct InfoRR {
        bool hasinfo = false;
        uint8_t fraction = 0;
        int32_t lost = 0;
        uint32_t extseq = 0, jitter = 0, lsr = 0, dlsr = 0;
        RTPTime received;
    };

    uint32_t ssrc;
    bool ownssrc;
    bool issender = false;
    bool receivedbye = false;
    bool hasrtpaddr = false, hasrtcpaddr = false;
    RTPIPv4Address rtpaddr, rtcpaddr;
    RTPTime byetime, lastheard, lastrtptime, notetime;
    uint8_t byereason[255];
    size_t byereasonlen = 0;
    uint8_t cname[255];
    size_t cnamelen = 0;
    uint8_t note[255];
    size_t notelen = 0;
    InfoSR sr;
    InfoRR rr;

    // Appendix A.1 state.
    bool seqinit = false;
    uint16_t maxseq = 0;
    uint32_t baseseq = 0, badseq = 0, cycles = 0, received = 0;
    uint32_t expectedprior = 0, receivedprior = 0;
    bool rtpsincereport = false;  // sent RTP since our last report: gets a report block
    // Appendix A.8 state.
    bool hastransit = false;
    uint32_t transit = 0, jitter = 0;

    RTPPacket *queuehead = nullptr, *queuetail = nullptr;
};

}  // namespace jrtplib

using jrtplib::RTPSourceData;

#endif
