// The tone files as the line entities read them: whole cadences of the right frequency.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "comun/tests/ficheros_pruebas.h"
#include "recurso/ccodecg711.h"

namespace {

struct Caso {
    const char* szFichero;
    int iMuestras;     // one whole cadence
    double dHz;        // of the first burst
    int iMsPrimero;    // length of the first burst
};

std::vector<int32_t> Decodifica(const std::string& s, bool bMu) {
    CCodecG711 c;
    if (bMu) c.UsaLeyMu();
    std::vector<int32_t> v(s.size());
    c.Decodifica(reinterpret_cast<const uint8_t*>(s.data()), v.data(), static_cast<int32_t>(s.size()));
    return v;
}

TEST(Tonos, EveryFileHoldsOneCadenceOfItsToneInTheChosenLaw) {
    const Caso casos[] = {
        {"/mnt/ramfs/tonofuera.pcm", 8000, 425, 1000},   {"/mnt/ramfs/progresion.pcm", 36000, 425, 1500},
        {"/mnt/ramfs/onhook.pcm", 1600, 1400, 100},      {"/mnt/ramfs/congestion_1.pcm", 9600, 425, 200},
        {"/mnt/ramfs/ocupado.pcm", 3200, 425, 200},      {"/mnt/ramfs/tonoreten.pcm", 16000, 1400, 200},
    };
    const std::string sPrograma = std::string(std::getenv("VK_BUILD_DIR") ? std::getenv("VK_BUILD_DIR") : ".") +
                                  "/sim/tonos/tonos";
    for (bool bMu : {false, true}) {
        ASSERT_EQ(std::system((sPrograma + (bMu ? " --mu" : "")).c_str()), 0);
        for (const Caso& c : casos) {
            SCOPED_TRACE(std::string(c.szFichero) + (bMu ? " mu" : " A"));
            const std::vector<int32_t> v = Decodifica(ficheros_pruebas::LeeTodo(c.szFichero), bMu);
            ASSERT_EQ(static_cast<int>(v.size()), c.iMuestras);
            // Frequency of the first burst by its zero crossings, and silence right after it.
            const int n = c.iMsPrimero * 8;
            int iCruces = 0;
            for (int i = 1; i < n; i++) iCruces += (v[i - 1] < 0) != (v[i] < 0);
            EXPECT_NEAR(iCruces / 2.0 / (n / 8000.0), c.dHz, c.dHz * 0.02);
            if (n < c.iMuestras) {
                EXPECT_LT(std::abs(v[n + 10]), 64);
            }
        }
    }
    EXPECT_NE(std::system((sPrograma + " --ley-x").c_str()), 0);
}

}  // namespace
