// Names, numbers and URIs: configuration look-ups, the routing file encamina.ini and the URI
// texts.
#include "sip/encaminauri.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

namespace {

template <size_t N>
void Pon(char (&ac)[N], const char* sz) {
    std::snprintf(ac, N, "%s", sz);
}

class Configuracion : public ::testing::Test {
protected:
    void SetUp() override {
        c = std::make_unique<cfgConfigPasarela>();
        c->iCfgModoSistema = 0;
        Pon(c->szDirVirtual, "192.0.2.100");
        Pon(c->szDirCPU0, "192.0.2.100");
        Pon(c->szDirCPU1, "192.0.2.101");
        Pon(c->asDireccionamientoIp[0].idhost, "PASARELA-A");
        Pon(c->asDireccionamientoIp[0].dirip1, "10.1.1.1");
        Pon(c->asDireccionamientoIp[1].idhost, "SIN-DIRECCION");
        Pon(c->asDireccionamientoIp[5].idhost, "PASARELA-B");
        Pon(c->asDireccionamientoIp[5].dirip1, "10.2.2.2");
        Pon(c->asAsignacionUsuarios[3].idusuario, "operador");
        Pon(c->asAsignacionUsuarios[3].idhost, "PASARELA-B");
        Pon(c->asAsignacionRecursos[700].idrecurso, "R2-LINEA");
        Pon(c->asAsignacionRecursos[700].idhost, "PASARELA-A");
        Pon(c->asAsignacionRecursos[701].idrecurso, "operador");
        Pon(c->asAsignacionRecursos[701].idhost, "PASARELA-A");
        DireccionSip& d0 = c->asDireccionamientoSip[0];
        Pon(d0.idusuario, "pasarelaC");
        d0.abonados[0] = {3, "300001"};
        d0.abonados[1] = {3, "300002"};
        d0.abonados[2].iPrefijo = 255;
        d0.abonados[3] = {3, "399999"};  // after the end of its list
        DireccionSip& d1 = c->asDireccionamientoSip[1];
        Pon(d1.idusuario, "sin-numeros");
        d1.abonados[0].iPrefijo = 255;
        DireccionSip& d3 = c->asDireccionamientoSip[3];  // after the first empty entry
        Pon(d3.idusuario, "oculta");
        d3.abonados[0] = {3, "500001"};
        sipFijaConfig(c.get());
    }
    void TearDown() override { sipFijaConfig(nullptr); }

    std::unique_ptr<cfgConfigPasarela> c;
};

TEST_F(Configuracion, AddressOfANameInRoutingMode) {
    char ac[65];
    EXPECT_EQ(BuscaDireccionPorNombre("PASARELA-B", ac), 0);
    EXPECT_STREQ(ac, "10.2.2.2");
    EXPECT_EQ(BuscaDireccionPorNombre("SIN-DIRECCION", ac), -1);
    EXPECT_EQ(BuscaDireccionPorNombre("PASARELA", ac), -1);
    EXPECT_EQ(BuscaDireccionPorNombre("PASARELA-AB", ac), -1);
}

TEST_F(Configuracion, VirtualAddressForAnyNameOutsideRoutingMode) {
    c->iCfgModoSistema = 1;
    char ac[65];
    EXPECT_EQ(BuscaDireccionPorNombre("NADIE", ac), 0);
    EXPECT_STREQ(ac, "192.0.2.100");
    EXPECT_EQ(BuscaDireccionUsuario("operador", ac), -1);
}

TEST_F(Configuracion, UserAddressGoesThroughItsAssignedHost) {
    char ac[65];
    EXPECT_EQ(BuscaNombreAsignado("operador", ac), 0);
    EXPECT_STREQ(ac, "PASARELA-B") << "user assignments come before resource assignments";
    EXPECT_EQ(BuscaDireccionUsuario("operador", ac), 0);
    EXPECT_STREQ(ac, "10.2.2.2");
    EXPECT_EQ(BuscaDireccionUsuario("R2-LINEA", ac), 0);
    EXPECT_STREQ(ac, "10.1.1.1");
    EXPECT_EQ(BuscaDireccionUsuario("desconocido", ac), -1);
    EXPECT_EQ(BuscaNombreAsignado("", ac), -1);
}

TEST_F(Configuracion, SipPlanNumbersAndResources) {
    char ac[65];
    EXPECT_EQ(BuscaNumeroSip("pasarelaC", ac), 0);
    EXPECT_STREQ(ac, "300001");
    EXPECT_EQ(BuscaNumeroSip("sin-numeros", ac), -1);
    EXPECT_EQ(BuscaRecursoPorNumeroAts(ac, "300002"), 0);
    EXPECT_STREQ(ac, "pasarelaC");
    EXPECT_EQ(BuscaRecursoPorNumeroAts(ac, "3000027"), 0) << "six digits compared";
    EXPECT_EQ(BuscaRecursoPorNumeroAts(ac, "399999"), -1) << "read only up to the end of the list";
    EXPECT_EQ(BuscaRecursoPorNumeroAts(ac, "500001"), -1) << "the plan ends at the first empty entry";
}

TEST_F(Configuracion, OwnAddressAndTheOtherBoardsUri) {
    EXPECT_EQ(DameIpPropia("eth0"), 0xC0000264u);
    char ac[81];
    EXPECT_EQ(DameUriPropia("QLN", ac), 0);
    EXPECT_STREQ(ac, "sip:QLN@192.0.2.101") << "the board at CPU0's address names CPU1";
    Pon(c->szDirVirtual, "192.0.2.101");
    EXPECT_EQ(DameUriPropia("QLN", ac), 0);
    EXPECT_STREQ(ac, "sip:QLN@192.0.2.100");
    Pon(c->szDirVirtual, "no es una direccion");
    EXPECT_EQ(DameIpPropia(nullptr), 0u);
    EXPECT_EQ(EsDireccionCpu0Distinta(), 1);  // the sandbox's eth0 is 192.0.2.23
    Pon(c->szDirCPU0, "192.0.2.23");
    EXPECT_EQ(EsDireccionCpu0Distinta(), 0);
}

TEST(SinConfiguracion, LookUpsFail) {
    char ac[81];
    EXPECT_EQ(BuscaDireccionPorNombre("X", ac), -1);
    EXPECT_EQ(BuscaRecursoPorNumeroAts(ac, "300001"), -1);
    EXPECT_EQ(DameIpPropia("eth0"), 0u);
    EXPECT_EQ(DameUriPropia("X", ac), -1);
}

// ---- encamina.ini ----

class FicheroRutas : public ::testing::Test {
protected:
    void SetUp() override {
        char ac[] = "/tmp/encaminaXXXXXX";
        ASSERT_NE(mkdtemp(ac), nullptr);
        sDir = ac;
        ASSERT_EQ(chdir(ac), 0);
        std::ofstream(FicheroEncamina) << "[ATS-SIP]\n"
                                          "200001=sip:200001@10.2.2.2;\n"
                                          "200002=sip:200002@10.2.2.2\n"
                                          "200003=;\n"
                                          "200004=sip:" + std::string(100, 'x') + "@h;\n"
                                          "URIdefault=sip:defecto@10.9.9.9;resto\n"
                                          "[SIP-ATS]\n"
                                          "300001=R2-01,R2-02,N5-01;\n"
                                          "300002=R2-03;\n"
                                          "300003=R2-04\n";
    }
    std::string sDir;
};

TEST_F(FicheroRutas, ValuesCountUpToTheirSemicolon) {
    char ac[128];
    EXPECT_EQ(BuscaUriAts("200001", ac, sizeof ac), 0);
    EXPECT_STREQ(ac, "sip:200001@10.2.2.2");
    EXPECT_EQ(BuscaUriAts("200002", ac, sizeof ac), -1) << "no ';': absent";
    EXPECT_EQ(BuscaUriAts("200003", ac, sizeof ac), -1) << "empty";
    EXPECT_EQ(BuscaUriAts("299999", ac, sizeof ac), -1);
    EXPECT_EQ(BuscaURIDefecto(ac, sizeof ac), 0);
    EXPECT_STREQ(ac, "sip:defecto@10.9.9.9");
    EXPECT_EQ(BuscaRecursoAts("300001", ac, sizeof ac), 3);
    EXPECT_STREQ(ac, "R2-01,R2-02,N5-01");
    EXPECT_EQ(BuscaRecursoAts("300002", ac, sizeof ac), 1);
    EXPECT_EQ(BuscaRecursoAts("300003", ac, sizeof ac), 0) << "no ';': absent";
    EXPECT_EQ(BuscaRecursoAts("399999", ac, sizeof ac), 0);
}

TEST_F(FicheroRutas, LongValuesAreCutToTheCallersBuffer) {
    char ac[32];
    std::memset(ac, 'Z', sizeof ac);
    EXPECT_EQ(BuscaUriAts("200004", ac, 20), 0);
    EXPECT_EQ(std::strlen(ac), 19u);
    EXPECT_EQ(ac[20], 'Z');
    EXPECT_EQ(BuscaURIDefecto(ac, 8), 0);
    EXPECT_STREQ(ac, "sip:def");
}

TEST_F(FicheroRutas, MissingFileFindsNothing) {
    ASSERT_EQ(std::remove(FicheroEncamina), 0);
    char ac[64];
    EXPECT_EQ(BuscaURIDefecto(ac, sizeof ac), -1);
    EXPECT_EQ(BuscaRecursoAts("300001", ac, sizeof ac), 0);
}

// ---- URI texts ----

TEST(UriTexto, SacaUsuarioUri) {
    const struct {
        const char* szEntrada;
        const char* szSalida;
    } kCasos[] = {
        {"sip:123456@10.1.1.1:5060;user=phone", "sip:123456@10.1.1.1"},
        {"sip:usuario@host:5060", "sip:usuario@host"},
        {"sip:usuario@host;transport=udp", "sip:usuario@host"},
        {"<sip:a@h:5060>", "<sip:a@h"},
        {"sip:a@h", "sip:a@h"},
        {"1234;x", "1234"},
        {"12:34", "12"},
        {"", ""},
        {"sip:", "sip:"},  // shorter than seven characters: nothing past its end is read
        {"sip:a", "sip:a"},
        {"sip:ab", "sip:ab"},
    };
    for (const auto& k : kCasos) {
        // Exactly the text's bytes on the heap, so a read past its end shows under ASan.
        std::unique_ptr<char[]> p(new char[std::strlen(k.szEntrada) + 1]);
        std::strcpy(p.get(), k.szEntrada);
        SacaUsuarioUri(p.get());
        EXPECT_STREQ(p.get(), k.szSalida) << k.szEntrada;
    }
}

TEST(UriTexto, SacaNumeroTel) {
    const struct {
        const char* szEntrada;
        int iResultado;
        const char* szNumero;
    } kCasos[] = {
        {"tel:123abc", 3, "123"}, {"<tel:0320001>", 7, "0320001"}, {"tel:", -1, ""},
        {"tel:abc", -1, ""},      {"456", 3, "456"},               {"tel:12345678901234567890123", 15, "123456789012345"},
    };
    for (const auto& k : kCasos) {
        char ac[16];
        EXPECT_EQ(SacaNumeroTel(k.szEntrada, ac, sizeof ac), k.iResultado) << k.szEntrada;
        EXPECT_STREQ(ac, k.szNumero) << k.szEntrada;
    }
}

TEST(UriTexto, UserPartTestsAndComparison) {
    char o[64];
    CopiaUsuarioUri("sip:operador@10.1.1.1", o);
    EXPECT_STREQ(o, "operador");
    CopiaUsuarioUri("operador", o);
    EXPECT_STREQ(o, "operador");
    const std::string sLargo = "sip:" + std::string(80, 'x') + "@h";
    CopiaUsuarioUri(sLargo.c_str(), o);
    EXPECT_EQ(std::strlen(o), 59u);

    const struct {
        const char* a;
        const char* b;
        int r;
    } kCompara[] = {{"sip:a@h", "sip:a@h", 0},
                    {"sip:a@h", "sip:b@h", -1},
                    {"a@h", "a@h", -1},
                    {"tel:123", "tel:123", -1},
                    {"<sip:a@h>", "<sip:a@h>", 0}};
    for (const auto& k : kCompara) EXPECT_EQ(ComparaUri(k.a, k.b), k.r) << k.a << " " << k.b;
    EXPECT_EQ(EsUriSip("<sip:a@h>"), 0);
    EXPECT_EQ(EsUriSip("tel:123"), -1);
    EXPECT_EQ(EsUriTel("<tel:123>"), 0);
    EXPECT_EQ(EsUriTel("sip:123@h"), -1);
    EXPECT_EQ(EsUriSip(nullptr), -1);
}

}  // namespace
