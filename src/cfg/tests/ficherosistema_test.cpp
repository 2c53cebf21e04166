// The configuration side file: written whole under its fixed name, read back as a 65-byte
// block, zero-filled where the file had nothing.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "cfg/ficherosistema.h"

namespace {

std::string Bloque(const char* ruta) {
    char bloque[TAM_BLOQUE_GENERAL];
    memset(bloque, 0x55, sizeof bloque);
    cfgLeeFicheroSistema(ruta, bloque);
    return std::string(bloque, sizeof bloque);
}

TEST(FicheroSistema, BlockWrittenIsReadBackZeroFilled) {
    ASSERT_TRUE(cfgEscribeFicheroSistema("203.0.113.9"));
    std::string esperado("203.0.113.9");
    esperado.resize(TAM_BLOQUE_GENERAL, '\0');
    EXPECT_EQ(Bloque(FicheroConfigSistema), esperado);
}

TEST(FicheroSistema, TextOfSixtyFiveOrMoreKeepsItsFirstSixtyFiveBytes) {
    const std::string largo(100, 'a');
    ASSERT_TRUE(cfgEscribeFicheroSistema(largo.c_str()));
    EXPECT_EQ(Bloque(FicheroConfigSistema), std::string(TAM_BLOQUE_GENERAL, 'a'));
}

TEST(FicheroSistema, ShortOrMissingFileGivesZerosWhereNothingWasRead) {
    const char* corto = "/var/st_config_corto.txt";
    FILE* f = fopen(corto, "w");
    ASSERT_NE(f, nullptr);
    fputs("10.1", f);
    fclose(f);
    std::string esperado("10.1");
    esperado.resize(TAM_BLOQUE_GENERAL, '\0');
    EXPECT_EQ(Bloque(corto), esperado);
    EXPECT_EQ(Bloque("/var/no_existe"), std::string(TAM_BLOQUE_GENERAL, '\0'));
}

}  // namespace
