#include "rtpsourcedata.h"

namespace jrtplib {

namespace {
constexpr uint32_t SEQMOD = 1u << 16;
constexpr uint16_t MAXDROPOUT = 3000;
constexpr uint16_t MAXMISORDER = 100;
}  // namespace

uint32_t RTPSourceData::ActualizaSecuencia(uint16_t seq)
{
    received++;
    if (!seqinit) {
        seqinit = true;
        baseseq = seq;
        maxseq = seq;
        badseq = SEQMOD + 1;
        cycles = 0;
        return seq;
    }
    uint16_t udelta = uint16_t(seq - maxseq);
    if (udelta < MAXDROPOUT) {
        if (seq < maxseq)
            cycles += SEQMOD;
        maxseq = seq;
        return cycles + seq;
    }
    if (udelta <= SEQMOD - MAXMISORDER) {
        // A big jump: the source restarted when two packets in a row agree (A.1).
        if (seq == badseq) {
            baseseq = seq;
            maxseq = seq;
            badseq = SEQMOD + 1;
            cycles = 0;
            received = 1;
            expectedprior = receivedprior = 0;
        } else {
            badseq = (uint32_t(seq) + 1) & (SEQMOD - 1);
        }
        return cycles + seq;
    }
    // Duplicate or late packet; one from before the last wrap belongs to the previous cycle.
    if (seq > maxseq && cycles >= SEQMOD)
        return cycles - SEQMOD + seq;
    return cycles + seq;
}

void RTPSourceData::ActualizaJitter(uint32_t llegada, uint32_t timestamp)
{
    uint32_t t = llegada - timestamp;
    if (hastransit) {
        // |D| in unsigned arithmetic: a difference of -2^31 has no signed magnitude.
        uint32_t d = t - transit;
        if (int32_t(d) < 0)
            d = 0u - d;
        jitter += d - ((jitter + 8) >> 4);
    }
    hastransit = true;
    transit = t;
}

int32_t RTPSourceData::INF_GetNumPacketsLost() const
{
    if (!seqinit)
        return 0;
    uint32_t esperados = cycles + maxseq - baseseq + 1;
    return int32_t(esperados - received);
}

}  // namespace jrtplib
