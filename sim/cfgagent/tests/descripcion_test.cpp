// The agent's description: every example reads, dumps and reads back to the same image.
#include "descripcion.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

namespace {

std::string Ejemplos() {
    std::string f = __FILE__;
    return f.substr(0, f.rfind('/')) + "/../ejemplos/";
}

// Tests of one run share /tmp: each file gets a name of its own.
std::string Escribe(const std::string& nombre, const std::string& texto) {
    std::string plantilla = "/tmp/" + nombre + ".XXXXXX";
    int fd = mkstemp(&plantilla[0]);
    if (fd >= 0) close(fd);
    std::ofstream(plantilla) << texto;
    return plantilla;
}

void IdaYVuelta(const std::string& ruta) {
    auto a = std::make_unique<cfgConfigPasarela>();
    std::string error;
    ASSERT_TRUE(LeeDescripcion(ruta, a.get(), &error)) << error;
    std::ostringstream texto;
    EscribeDescripcion(*a, texto);
    auto b = std::make_unique<cfgConfigPasarela>();
    ASSERT_TRUE(LeeDescripcion(Escribe("vuelta.ini", texto.str()), b.get(), &error)) << error;
    const uint8_t* pa = reinterpret_cast<const uint8_t*>(static_cast<cfgImagenPasarela*>(a.get()));
    const uint8_t* pb = reinterpret_cast<const uint8_t*>(static_cast<cfgImagenPasarela*>(b.get()));
    std::size_t i = 24;
    while (i < CFG_TAM_IMAGEN && pa[i] == pb[i]) i++;
    EXPECT_EQ(i, CFG_TAM_IMAGEN) << ruta << ": first difference at offset " << i << "\n" << texto.str();
}

TEST(cfgDescripcion, EveryExampleRoundTrips) {
    for (const char* e : {"radio.ini", "telefono_bc.ini", "linea_caliente.ini", "ats_r2.ini", "ats_n5.ini",
                          "placa_vecina.ini"})
        IdaYVuelta(Ejemplos() + e);
}

TEST(cfgDescripcion, ExampleFieldsLandInTheImage) {
    auto c = std::make_unique<cfgConfigPasarela>();
    std::string error;
    ASSERT_TRUE(LeeDescripcion(Ejemplos() + "ats_r2.ini", c.get(), &error)) << error;
    EXPECT_EQ(c->iNumRecursos, 1);
    EXPECT_EQ(c->LocalizadorRecurso[0].iSlot, 2);
    EXPECT_EQ(c->LocalizadorRecurso[0].iDispositivo, 0);
    const cfgConfigRecurso& r = c->asRecursos[8];
    EXPECT_EQ(r.iTipoIf, TIPOIF_ATSR2);
    EXPECT_EQ(r.iSlot, 2);
    EXPECT_EQ(std::string(r.uParam.r2n5.ntest_local, 6), "111111");
    EXPECT_EQ(r.uParam.r2n5.aiTiempos[0], 125);  // trunk defaults under the description
    EXPECT_EQ(r.uParam.r2n5.asMisRangosOperador[0].iHasta, 199999);
    EXPECT_EQ(c->asPlanAts[1].centralpropia, CFG_CENTRAL_AJENA);
    EXPECT_EQ(c->asPlanAts[2].centralpropia, CFG_FIN_PLAN_ATS);
    EXPECT_EQ(c->asPlanAts[1].asRutas[1].tipo, CFG_FIN_RUTAS);
    EXPECT_STREQ(c->asTroncales[0].miembros[0].id, "R2-01");
    EXPECT_EQ(c->asTroncales[1].idtroncal[0], '\0');
}

TEST(cfgDescripcion, HostileValuesAreCarriedAsGiven) {
    std::string ruta = Escribe("hostil.ini",
                               "[GENERAL]\niNumRecursos=20\nLocalizadorRecurso=7-0 0-1 3-9\n"
                               "[RECURSO-1]\niTipoIf=5\niNumRangosOperador=100000\nsize_aListaEnlacesExternos=99999\n"
                               "[RECURSO-2]\niTipoIf=99\n");
    auto c = std::make_unique<cfgConfigPasarela>();
    std::string error;
    ASSERT_TRUE(LeeDescripcion(ruta, c.get(), &error)) << error;
    EXPECT_EQ(c->iNumRecursos, 20);
    EXPECT_EQ(c->LocalizadorRecurso[0].iSlot, 7);
    EXPECT_EQ(c->LocalizadorRecurso[2].iDispositivo, 9);
    EXPECT_EQ(c->asRecursos[1].uParam.r2n5.iNumRangosOperador, 100000);
    EXPECT_EQ(c->asRecursos[2].iTipoIf, 99);
    IdaYVuelta(ruta);
}

TEST(cfgDescripcion, UnknownFieldsAndSectionsAreRefused) {
    auto c = std::make_unique<cfgConfigPasarela>();
    std::string error;
    EXPECT_FALSE(LeeDescripcion(Escribe("mal1.ini", "[RECURSO-0]\niTipoRadi=4\n"), c.get(), &error));
    EXPECT_NE(error.find("iTipoRadi"), std::string::npos);
    EXPECT_FALSE(LeeDescripcion(Escribe("mal2.ini", "[RECURSO-16]\n"), c.get(), &error));
    EXPECT_FALSE(LeeDescripcion("/tmp/no-existe.ini", c.get(), &error));
}

}  // namespace
