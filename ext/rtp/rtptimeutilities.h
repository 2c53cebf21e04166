// Wall-clock time of the RTP layer (microseconds since 1970) and the NTP form of RTCP.
#ifndef JRTP_RTPTIMEUTILITIES_H
#define JRTP_RTPTIMEUTILITIES_H

#include <cstdint>
#include <ctime>

namespace jrtplib {

// NTP seconds of 1970-01-01 (NTP counts from 1900).
constexpr uint32_t RTP_NTPTIMEOFFSET = 2208988800u;

class RTPNTPTime {
public:
    RTPNTPTime(uint32_t m = 0, uint32_t l = 0) : msw(m), lsw(l) {}
    uint32_t GetMSW() const { return msw; }
    uint32_t GetLSW() const { return lsw; }

private:
    uint32_t msw;
    uint32_t lsw;
};

class RTPTime {
public:
    static RTPTime CurrentTime()
    {
        timespec ts;
        clock_gettime(CLOCK_REALTIME, &ts);
        return FromMicroSeconds(int64_t(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000);
    }
    static RTPTime FromMicroSeconds(int64_t us)
    {
        RTPTime t;
        t.usec = us;
        return t;
    }
    static void Wait(const RTPTime &delay)
    {
        if (delay.usec <= 0)
            return;
        timespec ts{time_t(delay.usec / 1000000), long(delay.usec % 1000000) * 1000};
        while (nanosleep(&ts, &ts) != 0) {
        }
    }

    RTPTime(double t = 0) : usec(int64_t(t * 1e6 + (t < 0 ? -0.5 : 0.5))) {}
    RTPTime(uint32_t seconds, uint32_t microseconds) : usec(int64_t(seconds) * 1000000 + microseconds) {}
    explicit RTPTime(const RTPNTPTime &ntp)
        : usec((int64_t(ntp.GetMSW()) - RTP_NTPTIMEOFFSET) * 1000000 + ((uint64_t(ntp.GetLSW()) * 1000000) >> 32))
    {
    }

    uint32_t GetSeconds() const { return uint32_t(usec / 1000000); }
    uint32_t GetMicroSeconds() const { return uint32_t(usec % 1000000); }
    double GetDouble() const { return double(usec) / 1e6; }
    int64_t GetMicroSecondsTotal() const { return usec; }
    RTPNTPTime GetNTPTime() const
    {
        uint32_t sec = uint32_t(usec / 1000000) + RTP_NTPTIMEOFFSET;
        uint32_t frac = uint32_t((uint64_t(usec % 1000000) << 32) / 1000000);
        return RTPNTPTime(sec, frac);
    }

    RTPTime &operator-=(const RTPTime &t)
    {
        usec -= t.usec;
        return *this;
    }
    RTPTime &operator+=(const RTPTime &t)
    {
        usec += t.usec;
        return *this;
    }
    bool operator<(const RTPTime &t) const { return usec < t.usec; }
    bool operator>(const RTPTime &t) const { return usec > t.usec; }
    bool operator<=(const RTPTime &t) const { return usec <= t.usec; }
    bool operator>=(const RTPTime &t) const { return usec >= t.usec; }

private:
    int64_t usec;
};

}  // namespace jrtplib

using jrtplib::RTPNTPTime;
using jrtplib::RTPTime;

#endif
