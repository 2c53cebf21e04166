// tonos [--mu]
// Writes the tone files a board is installed with into /mnt/ramfs: one byte per sample at
// 8 kHz, A-law (mu-law with --mu), each file one whole cadence so that playing it in a loop
// gives the tone without a click. Exits 1 when a file cannot be written.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "recurso/ccodecg711.h"

namespace {

constexpr int kMuestrasPorSegundo = 8000;
constexpr double kAmplitud = 5000.0;  // about -16 dBm0

struct Tramo {
    int iMs;      // length of this piece of the cadence
    double dHz;   // 0 for silence
};
struct Tono {
    const char* szFichero;
    std::vector<Tramo> vCadencia;
};

// Dial, ringing, far-end-gone, congestion, busy and hold tones.
const Tono kTonos[] = {
    {"/mnt/ramfs/tonofuera.pcm", {{1000, 425}}},
    {"/mnt/ramfs/progresion.pcm", {{1500, 425}, {3000, 0}}},
    {"/mnt/ramfs/onhook.pcm", {{100, 1400}, {100, 0}}},
    {"/mnt/ramfs/congestion_1.pcm", {{200, 425}, {200, 0}, {200, 425}, {600, 0}}},
    {"/mnt/ramfs/ocupado.pcm", {{200, 425}, {200, 0}}},
    {"/mnt/ramfs/tonoreten.pcm", {{200, 1400}, {1800, 0}}},
};

bool Escribe(const Tono& t, CCodecG711& codec) {
    std::vector<int32_t> v;
    for (const Tramo& tr : t.vCadencia) {
        const int n = tr.iMs * kMuestrasPorSegundo / 1000;
        // Each burst starts at phase zero, so it also ends near zero for whole-period lengths.
        for (int i = 0; i < n; i++)
            v.push_back(tr.dHz > 0 ? static_cast<int32_t>(std::lround(
                                         kAmplitud * std::sin(2.0 * M_PI * tr.dHz * i / kMuestrasPorSegundo)))
                                   : 0);
    }
    std::vector<uint8_t> b(v.size());
    codec.Codifica(v.data(), b.data(), static_cast<int32_t>(v.size()));
    FILE* f = std::fopen(t.szFichero, "wb");
    if (!f) {
        std::perror(t.szFichero);
        return false;
    }
    const bool bOk = std::fwrite(b.data(), 1, b.size(), f) == b.size();
    return std::fclose(f) == 0 && bOk;
}

}  // namespace

int main(int argc, char** argv) {
    CCodecG711 codec;
    if (argc > 1 && std::strcmp(argv[1], "--mu") == 0) codec.UsaLeyMu();
    else if (argc > 1) {
        std::fprintf(stderr, "usage: tonos [--mu]\n");
        return 2;
    }
    int iRc = 0;
    for (const Tono& t : kTonos)
        if (!Escribe(t, codec)) iRc = 1;
    return iRc;
}
