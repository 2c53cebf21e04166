// Audio on both sides of a line, for tests and benches: the RTP packets of the remote end and
// the line's time slot on the simulated board (what is injected into it and what it plays).
// The G.711 laws here are the textbook formulas, independent of the system's codec tables, so
// a test can judge the system's audio with them.
#pragma once

#include <sys/types.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "csimboard.h"

namespace audio_prueba {

constexpr int kMuestrasPorSegundo = 8000;
constexpr int kBloque = 160;  // 20 ms, one RTP packet
constexpr int kCabeceraRtp = 12;
constexpr int kPcmu = 0, kPcma = 8;

// Offset of the payload in an RTP packet of n bytes (CSRC list and header extension skipped);
// 0 when the packet is too short to carry one.
inline size_t CargaRtp(const uint8_t* p, size_t n) {
    if (n <= kCabeceraRtp) return 0;
    size_t i = kCabeceraRtp + 4u * (p[0] & 0x0F);
    if ((p[0] & 0x10) && n >= i + 4) i += 4 + 4u * (p[i + 2] << 8 | p[i + 3]);
    return n > i ? i : 0;
}

// An RTP packet, version 2, no marker, no padding.
inline std::vector<uint8_t> PaqueteRtp(int iPayload, uint16_t uiSecuencia, uint32_t uiTs, uint32_t uiSsrc,
                                       const uint8_t* pCarga, size_t n) {
    std::vector<uint8_t> v(kCabeceraRtp + n);
    v[0] = 0x80;
    v[1] = static_cast<uint8_t>(iPayload & 0x7F);
    v[2] = static_cast<uint8_t>(uiSecuencia >> 8);
    v[3] = static_cast<uint8_t>(uiSecuencia);
    for (int b = 0; b < 4; b++) {
        v[4 + b] = static_cast<uint8_t>(uiTs >> (24 - 8 * b));
        v[8 + b] = static_cast<uint8_t>(uiSsrc >> (24 - 8 * b));
    }
    std::copy(pCarga, pCarga + n, v.begin() + kCabeceraRtp);
    return v;
}

// G.711 byte to a 16-bit-range sample.
inline int DecodificaAlaw(uint8_t a) {
    a ^= 0x55;
    const int iSeg = (a & 0x70) >> 4;
    int t = (a & 0x0F) << 4;
    t += iSeg == 0 ? 8 : 0x108;
    if (iSeg > 1) t <<= iSeg - 1;
    return (a & 0x80) ? t : -t;
}
inline int DecodificaMulaw(uint8_t u) {
    u = static_cast<uint8_t>(~u);
    int t = (((u & 0x0F) << 3) + 0x84) << ((u & 0x70) >> 4);
    return (u & 0x80) ? 0x84 - t : t - 0x84;
}
inline int Decodifica(int iPayload, uint8_t b) { return iPayload == kPcmu ? DecodificaMulaw(b) : DecodificaAlaw(b); }
// The byte whose decoded value is nearest to v: encoding by its definition, not by a table.
inline uint8_t Codifica(int iPayload, int v) {
    int iMejor = 0, iDist = 1 << 30;
    for (int b = 0; b < 256; b++) {
        const int d = std::abs(Decodifica(iPayload, static_cast<uint8_t>(b)) - v);
        if (d < iDist) iDist = d, iMejor = b;
    }
    return static_cast<uint8_t>(iMejor);
}
inline std::vector<int> Decodifica(int iPayload, const std::string& s) {
    std::vector<int> v;
    v.reserve(s.size());
    for (unsigned char c : s) v.push_back(Decodifica(iPayload, c));
    return v;
}

// n samples of a sine of dHz and peak amplitude iPico, encoded.
inline std::string Seno(int iPayload, double dHz, int iPico, size_t n) {
    const double kPi = 3.14159265358979323846;
    std::string s(n, '\0');
    for (size_t i = 0; i < n; i++)
        s[i] = static_cast<char>(Codifica(
            iPayload, static_cast<int>(std::lround(iPico * std::sin(2 * kPi * dHz * static_cast<double>(i) / kMuestrasPorSegundo)))));
    return s;
}

// A tone found in decoded audio: the longest run of 20 ms blocks louder than a threshold, less
// its first and last block (which may hold its edges); frequency by zero crossings, level as
// RMS in dB relative to a full-scale sine's RMS.
struct Tono {
    size_t iMuestras = 0;
    double dHz = 0, dDb = -200;
};
inline double Rms(const int* p, size_t n) {
    double d = 0;
    for (size_t i = 0; i < n; i++) d += static_cast<double>(p[i]) * p[i];
    return n ? std::sqrt(d / static_cast<double>(n)) : 0;
}
inline Tono BuscaTono(const std::vector<int>& v, double dRmsMinimo) {
    const size_t iBloques = v.size() / kBloque;
    size_t iMejor = 0, iLargo = 0;
    for (size_t b = 0; b < iBloques;) {
        size_t e = b;
        while (e < iBloques && Rms(&v[e * kBloque], kBloque) >= dRmsMinimo) e++;
        if (e - b > iLargo) iLargo = e - b, iMejor = b;
        b = e == b ? b + 1 : e;
    }
    Tono t;
    if (iLargo < 3) return t;
    const int* p = &v[(iMejor + 1) * kBloque];
    t.iMuestras = (iLargo - 2) * kBloque;
    int iCruces = 0;
    for (size_t i = 1; i < t.iMuestras; i++) iCruces += (p[i - 1] < 0) != (p[i] < 0);
    t.dHz = iCruces / 2.0 * kMuestrasPorSegundo / static_cast<double>(t.iMuestras);
    t.dDb = 20 * std::log10(Rms(p, t.iMuestras) / (32768 / std::sqrt(2.0)) + 1e-12);
    return t;
}

// What a channel of the simulated board plays to its line, read from its capture file as it
// grows. One reader per thread: each has a client of the board of its own.
class LectorCaptura {
public:
    LectorCaptura(const std::string& sSocket, int iCanal, const std::string& sFichero)
        : oPlaca(sSocket), sOrden("pcm " + std::to_string(iCanal)), sFichero(sFichero) {
        oPlaca.Captura(iCanal, sFichero);
    }
    // The bytes played since the last call. Asking the channel's state first makes the board
    // drain into the capture what is due by now.
    std::string Nuevo() {
        oPlaca.Orden(sOrden);
        std::ifstream f(sFichero, std::ios::binary);
        f.seekg(static_cast<std::streamoff>(iLeido));
        std::string s((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        iLeido += s.size();
        return s;
    }

private:
    simboard::CSimBoard oPlaca;
    std::string sOrden, sFichero;
    size_t iLeido = 0;
};

}  // namespace audio_prueba
