// The configuration dump: the built-in configuration against its golden file, and the limits of
// the dump's sections.
#include "volcadocfg.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "comun/tests/ficheros_pruebas.h"

namespace {

std::string Dato(const char* nombre) {
    std::string f = __FILE__;
    return f.substr(0, f.rfind('/')) + "/datos/" + nombre;
}

std::size_t Cuenta(const std::string& texto, const std::string& trozo) {
    std::size_t n = 0;
    for (std::size_t k = texto.find(trozo); k != std::string::npos; k = texto.find(trozo, k + 1)) n++;
    return n;
}

class Volcado : public ::testing::Test {
protected:
    void SetUp() override {
        mkdir("/mnt/ramfs/var", 0755);
        cfg = std::make_unique<cfgConfigPasarela>();
    }
    std::string Vuelca() {
        unlink(VolcadoConfig);
        mainPintaCfg(cfg.get());
        return ficheros_pruebas::LeeTodo(VolcadoConfig);
    }
    std::unique_ptr<cfgConfigPasarela> cfg;
};

TEST_F(Volcado, BuiltInConfigurationMatchesItsGoldenFile) {
    CargaConfigPrueba(cfg.get());
    EXPECT_EQ(Vuelca(), ficheros_pruebas::LeeTodo(Dato("volcado_prueba.txt")));
}

TEST_F(Volcado, IpSectionStopsAtThirtyTwoEntries) {
    for (int i = 0; i < 40; i++) {
        std::snprintf(cfg->asDireccionamientoIp[i].idhost, 64, "H%02d", i);
        std::snprintf(cfg->asDireccionamientoIp[i].dirip1, 64, "192.0.2.%d", i);
    }
    std::string v = Vuelca();
    EXPECT_EQ(Cuenta(v, "\n idhost= "), 32u);
    EXPECT_NE(v.find("\n idhost= H31 (192.0.2.31) () tipo=0"), std::string::npos);
    EXPECT_EQ(v.find("H32"), std::string::npos);
}

TEST_F(Volcado, LongSectionsStopWhereTheBlockIsFull) {
    // 256 user assignments of about 150 bytes each cannot fit in one 2,048-byte block.
    for (int i = 0; i < 256; i++) {
        std::memset(cfg->asAsignacionUsuarios[i].idusuario, 'u', 63);
        std::snprintf(cfg->asAsignacionUsuarios[i].idhost, 64, "host%03d", i);
    }
    std::string v = Vuelca();
    std::size_t n = Cuenta(v, "\n idusuario= u");
    EXPECT_GT(n, 0u);
    EXPECT_LT(n * 90, 2048u);
    EXPECT_NE(v.find("\n plan asignacion recursos:"), std::string::npos);
}

TEST_F(Volcado, NoResourcesGivesOnlyTheGeneralBlocks) {
    cfg->iNumRecursos = 0;
    std::string v = Vuelca();
    EXPECT_EQ(v.find("---- Recurso"), std::string::npos);
    EXPECT_NE(v.find("\n plan direccionamiento sip:\n"), std::string::npos);
    // Plans that begin with their end marker show only their titles.
    EXPECT_NE(v.find("\n direccionamientoip:\n troncales:\n redes:\n plan asignacion usuarios:"), std::string::npos);
}

TEST_F(Volcado, APositionNamedTwiceIsWrittenOnce) {
    cfg->iNumRecursos = 3;
    cfg->LocalizadorRecurso[0] = {0, 2};
    cfg->LocalizadorRecurso[1] = {0, 2};
    cfg->LocalizadorRecurso[2] = {3, 3};
    std::string v = Vuelca();
    EXPECT_EQ(Cuenta(v, "---- Recurso 2 - "), 1u);
    EXPECT_EQ(Cuenta(v, "---- Recurso 15 - "), 1u);
    EXPECT_EQ(Cuenta(v, "---- Recurso"), 2u);
}

TEST_F(Volcado, HostileCountsAndUnterminatedTextsStayInsideTheRecord) {
    cfg->iNumRecursos = 1000;
    cfgConfigRecurso& r = cfg->asRecursos[0];
    r.PonTipoIf(TIPOIF_ATSR2);
    r.uParam.r2n5.iNumRangosOperador = 1 << 30;
    r.uParam.r2n5.iNumRangosDirectosPriv = 1 << 30;
    r.size_aListaEnlacesExternos = -3;
    std::memset(r.nombre, 'N', sizeof r.nombre);
    std::memset(cfg->szNombre, 'Q', sizeof cfg->szNombre);
    std::string v = Vuelca();
    EXPECT_NE(v.find(" szNombre=" + std::string(65, 'Q') + "\n"), std::string::npos);
    EXPECT_NE(v.find("---- Recurso 0 - " + std::string(68, 'N') + ":\n"), std::string::npos);
    EXPECT_NE(v.find("Lista Enlaces externos: (-3)\n"), std::string::npos);
}

}  // namespace
