#include "comun/uri.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "comun/cdireccionip.h"
#include "comun/interfazred.h"

namespace {

TEST(SacaNumeroUri, OrdinaryAndHostileInputs) {
    struct Caso {
        const char* uri;
        int maximo;
        int resultado;
        const char* numero;
    };
    const Caso casos[] = {
        {"sip:5678@gw.example", 30, 4, "5678"},
        {"<sip:5678@gw.example>", 30, 4, "5678"},
        {"5678@gw", 30, 4, "5678"},
        {"sip:56a8@gw", 30, 4, "56A8"},
        {"sip:abcd#*,p0@gw", 30, 9, "ABCD#*,p0"},
        {"sip:56x8@gw", 30, -1, nullptr},
        {"sip:56e8@gw", 30, -1, nullptr},
        {"sip:@gw", 30, -1, nullptr},
        {"@gw", 30, -1, nullptr},
        {"", 30, -1, nullptr},
        {"sip:", 30, -1, nullptr},
        {"<sip:", 30, -1, nullptr},
        {"sips:1234@gw", 30, -1, nullptr},
        {"sip:123456789@gw", 4, 4, "1234"},
        {"sip:1234", 30, 4, "1234"},
        {"sip:1234", 0, -1, nullptr},
    };
    for (const Caso& c : casos) {
        std::string destino(static_cast<size_t>(c.maximo) + 1, '#');
        int r = SacaNumeroUri(c.uri, &destino[0], c.maximo);
        EXPECT_EQ(r, c.resultado) << c.uri;
        if (c.numero && r >= 0) {
            EXPECT_STREQ(destino.c_str(), c.numero) << c.uri;
        }
    }
    char d[8];
    EXPECT_EQ(SacaNumeroUri(nullptr, d, 7), -1);
}

TEST(SacaNumeroUri, ReadsNoFurtherThanMaximoOfAnUnterminatedText) {
    // Exactly 8 bytes, no terminator: under the sanitizer any read past them fails.
    std::unique_ptr<char[]> uri(new char[8]);
    memcpy(uri.get(), "12345678", 8);
    char destino[9];
    EXPECT_EQ(SacaNumeroUri(uri.get(), destino, 8), 8);
    EXPECT_STREQ(destino, "12345678");
}

TEST(SacaDominioUri, AlwaysTerminatesItsOutput) {
    struct Caso {
        const char* uri;
        const char* dominio;
    };
    const Caso casos[] = {
        {"sip:123@192.0.2.1", "192.0.2.1"},
        {"192.0.2.7", "192.0.2.7"},
        {"sip:1@un.dominio.muy.largo.example", "un.dominio.muy.largo.example"},
        {"sip:1@123456789012345678", "12345678901234567"},
        {"a@b@c", "b@c"},
        {"sip:1@", ""},
    };
    for (const Caso& c : casos) {
        // Exactly the documented 18 bytes, filled with garbage first.
        std::unique_ptr<char[]> d(new char[LON_DOMINIO_URI]);
        memset(d.get(), 'Z', LON_DOMINIO_URI);
        testing::internal::CaptureStdout();
        SacaDominioUri(c.uri, d.get());
        std::string impreso = testing::internal::GetCapturedStdout();
        std::string esperado(c.dominio);
        if (esperado.size() > LON_DOMINIO_URI - 1) esperado.resize(LON_DOMINIO_URI - 1);
        EXPECT_EQ(std::string(d.get()), esperado) << c.uri;
        EXPECT_EQ(impreso, "SACA dominio URI " + esperado + "\n");
    }
    char d[4] = "abc";
    SacaDominioUri("", d);
    EXPECT_STREQ(d, "abc");
    SacaDominioUri("x@yz", d, 2);
    EXPECT_STREQ(d, "y");
}

TEST(SacaUltimoOcteto, AlwaysTerminatesItsOutput) {
    struct Caso {
        const char* texto;
        int resultado;
        const char* octeto;
    };
    const Caso casos[] = {
        {"192.0.2.23", 0, "23"},
        {"1.2.3.", 0, ""},
        {"a.b.c.0123456789abcdefghij", 0, "0123456789abcd"},
        {"1.2.3.4.5", 0, "4.5"},
        {"1.2.3", -1, nullptr},
        {"", -1, nullptr},
        {"...", 0, ""},
    };
    for (const Caso& c : casos) {
        std::unique_ptr<char[]> d(new char[LON_ULTIMO_OCTETO]);
        memset(d.get(), 'Z', LON_ULTIMO_OCTETO);
        EXPECT_EQ(SacaUltimoOcteto(c.texto, d.get()), c.resultado) << c.texto;
        if (c.octeto) {
            EXPECT_STREQ(d.get(), c.octeto) << c.texto;
        }
    }
    EXPECT_EQ(SacaUltimoOcteto(nullptr, nullptr), -1);
}

TEST(CDireccionIp, ValueAndText) {
    CDireccionIp d;
    EXPECT_EQ(d.direccion, 0u);
    EXPECT_STREQ(d.texto, "0.0.0.0");
    d.TomaValor(0xC0000217u);
    EXPECT_STREQ(d.texto, "192.0.2.23");
    d.TomaValor(0xFFFFFFFFu);
    EXPECT_STREQ(d.texto, "255.255.255.255");
    EXPECT_EQ(d.TomaTexto("10.1.2.3"), 0);
    EXPECT_EQ(d.direccion, 0x0A010203u);
    EXPECT_STREQ(d.texto, "10.1.2.3");
    for (const char* malo : {"1.2.3", "", "a.b.c.d", "300.1.1.1", "-1.2.3.4", "1.2.3.4.5", "1.2.3.4x", " 1.2.3.4",
                             "1..2.3", "+1.2.3.4", "1.2.3.0004", "1.2.3.256", "1.2.3."}) {
        EXPECT_EQ(d.TomaTexto(malo), -1) << malo;
        EXPECT_EQ(d.direccion, 0x0A010203u) << malo;
        EXPECT_STREQ(d.texto, "10.1.2.3") << malo;
    }
    EXPECT_EQ(d.TomaTexto(nullptr), -1);
}

TEST(InterfazRed, AddressFallsBackToBond0) {
    struct Caso {
        const char* nombre;
        const char* ip;
    };
    const Caso casos[] = {
        {"eth0", "192.0.2.23"},
        {"bond0", "198.51.100.23"},
        {"eth0-peer", "198.51.100.23"},  // up, no address
        {"nada0", "198.51.100.23"},
        {"un-nombre-de-interfaz-demasiado-largo", "198.51.100.23"},
        {"lo", "127.0.0.1"},
    };
    for (const Caso& c : casos) {
        uint32_t ip = DameIpInterfaz(c.nombre);
        char texto[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &ip, texto, sizeof texto);
        EXPECT_STREQ(texto, c.ip) << c.nombre;
    }
}

TEST(InterfazRed, HardwareAddress) {
    uint8_t mac[8];
    memset(mac, 0xAA, sizeof mac);
    EXPECT_EQ(DameMacInterfaz("nada0", mac), -1);
    for (uint8_t b : mac) EXPECT_EQ(b, 0);
    ASSERT_GE(DameMacInterfaz("eth0", mac), 0);
    EXPECT_NE(0, mac[0] | mac[1] | mac[2] | mac[3] | mac[4] | mac[5]);
    ASSERT_GE(DameMacInterfaz("lo", mac), 0);
    EXPECT_EQ(0, mac[0] | mac[1] | mac[2] | mac[3] | mac[4] | mac[5]);
}

}  // namespace
