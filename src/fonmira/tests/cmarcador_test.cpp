// Dial codes of the DTMF dialler: digits, keys, pauses, the pause after the first digit, the
// first character that cannot be dialled, and the longest number taken.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cmarcador.h"

namespace {

struct CasoMarca {
    std::string sTexto;
    std::vector<uint8_t> vCodigos;
};

constexpr uint8_t P = CMarcador::PAUSA;

TEST(Marcador, TurnsTheTextIntoDialCodes) {
    const CasoMarca casos[] = {
        {"123", {1, P, 2, 3}},
        {"12x4", {1, P, 2}},
        {"p5", {P, P, 5}},
        {"0*#ABCD,9", {0, P, 10, 11, 12, 13, 14, 15, P, 9}},
        {"", {}},
        {"x1", {}},
    };
    for (const CasoMarca& c : casos) {
        uint8_t auc[CMarcador::MAX_CODIGOS] = {};
        const uint32_t n = CMarcador::Convierte(c.sTexto.c_str(), auc);
        EXPECT_EQ(std::vector<uint8_t>(auc, auc + n), c.vCodigos) << c.sTexto;
    }
}

TEST(Marcador, TakesAtMostSixtyFourCharacters) {
    const std::string s(70, '5');
    uint8_t auc[CMarcador::MAX_CODIGOS + 8] = {};
    EXPECT_EQ(CMarcador::Convierte(s.c_str(), auc), 65u);
    EXPECT_EQ(auc[65], 0);  // nothing written past the codes
}

}  // namespace
