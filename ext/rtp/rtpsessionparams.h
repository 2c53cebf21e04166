// Parameters of an RTP session that do not depend on the transport.
#ifndef JRTP_RTPSESSIONPARAMS_H
#define JRTP_RTPSESSIONPARAMS_H

#include <cstddef>
#include <string>

#include "rtptimeutilities.h"

namespace jrtplib {

class RTPSessionParams {
public:
    // Seconds per timestamp unit (1/8000 for G.711); must be set before Create.
    int SetOwnTimestampUnit(double tsunit)
    {
        owntsunit = tsunit;
        return 0;
    }
    double GetOwnTimestampUnit() const { return owntsunit; }

    // Accept packets carrying our own SSRC that come from our own transport address.
    void SetAcceptOwnPackets(bool accept) { acceptown = accept; }
    bool AcceptOwnPackets() const { return acceptown; }

    // Largest RTP or RTCP datagram sent, header included.
    int SetMaximumPacketSize(size_t max)
    {
        maxpacksize = max;
        return 0;
    }
    size_t GetMaximumPacketSize() const { return maxpacksize; }

    // No background thread exists here: the owner calls Poll. Asking for one is accepted and ignored.
    int SetUsePollThread(bool) { return 0; }

    // Bytes per second of the whole session; RTCP takes the control fraction of it.
    void SetSessionBandwidth(double sessbw) { sessionbandwidth = sessbw; }
    double GetSessionBandwidth() const { return sessionbandwidth; }
    void SetControlTrafficFraction(double frac) { controlfrac = frac; }
    double GetControlTrafficFraction() const { return controlfrac; }
    void SetMinimumRTCPTransmissionInterval(const RTPTime &t) { mininterval = t; }
    RTPTime GetMinimumRTCPTransmissionInterval() const { return mininterval; }
    void SetUseHalfRTCPIntervalAtStartup(bool usehalf) { usehalfatstartup = usehalf; }
    bool GetUseHalfRTCPIntervalAtStartup() const { return usehalfatstartup; }

    // A source silent for this many deterministic RTCP intervals is removed.
    void SetSourceTimeoutMultiplier(double m) { sourcetimeoutmul = m; }
    double GetSourceTimeoutMultiplier() const { return sourcetimeoutmul; }
    // Time a source that said BYE is kept, in RTCP intervals.
    void SetBYETimeoutMultiplier(double m) { byetimeoutmul = m; }
    double GetBYETimeoutMultiplier() const { return byetimeoutmul; }
    void SetNoteTimeoutMultiplier(double m) { notetimeoutmul = m; }
    double GetNoteTimeoutMultiplier() const { return notetimeoutmul; }

    // CNAME of the SDES items; empty means user@host.
    void SetCNAME(const std::string &s) { cname = s; }
    std::string GetCNAME() const { return cname; }

private:
    double owntsunit = -1.0;
    bool acceptown = false;
    size_t maxpacksize = 1400;
    double sessionbandwidth = 10000.0;
    double controlfrac = 0.05;
    RTPTime mininterval = RTPTime(5, 0);
    bool usehalfatstartup = true;
    double sourcetimeoutmul = 5.0;
    double byetimeoutmul = 1.0;
    double notetimeoutmul = 25.0;
    std::string cname;
};

}  // namespace jrtplib

using jrtplib::RTPSessionParams;

#endif
