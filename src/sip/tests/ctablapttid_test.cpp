// PTT-id table of a radio resource and the URI helpers of the SIP side.
#include "sip/ctablapttid.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(CTablaPttId, IdsAreTheLowestFreeSlotsWithinTheSize) {
    CTablaPttId t;
    t.FijaTamano(2);
    EXPECT_EQ(t.Anade("sip:a@10.0.0.1"), 1);
    EXPECT_EQ(t.Anade("sip:b@10.0.0.2"), 2);
    EXPECT_EQ(t.Anade("sip:a@10.0.0.1"), 1);  // already present
    EXPECT_EQ(t.Anade("sip:c@10.0.0.3"), 0);  // no usable slot
    EXPECT_EQ(t.BorraId(1), 0);
    EXPECT_EQ(t.BorraId(1), -1);
    EXPECT_EQ(t.BorraId(0), -1);
    EXPECT_EQ(t.Anade("sip:c@10.0.0.3"), 1);
    t.FijaTamano(16);  // 16 or more leaves the size as it was
    EXPECT_EQ(t.DameTamano(), 2);
    t.FijaTamano(-1);  // no room at all
    EXPECT_EQ(t.Anade("sip:d@10.0.0.4"), 0);
}

TEST(CTablaPttId, DumpAndNetworkSearch) {
    CTablaPttId t;
    t.Anade("sip:a@192.168.1.10:5060");
    t.Anade("<sip:b@192.168.2.20>");
    char texto[256] = "";
    t.Vuelca(texto);
    EXPECT_STREQ(texto, "1,sip:a@192.168.1.10:5060\r\n2,<sip:b@192.168.2.20>\r\n");
    EXPECT_EQ(t.BuscaPorIp("sip:x@192.168.1.99"), 1);
    EXPECT_EQ(t.BuscaPorIp("sip:y@192.168.2.1;transport=udp"), 2);
    EXPECT_EQ(t.BuscaPorIp("sip:z@192.168.3.1"), -1);
    EXPECT_EQ(t.BuscaPorNombre("sip:a@192.168.1.10:5060"), 1);
    EXPECT_EQ(t.BorraNombre("sip:a@192.168.1.10:5060"), 0);
    EXPECT_EQ(t.BuscaPorNombre("sip:a@192.168.1.10:5060"), -1);
}

TEST(UriSip, UserPartsAndComparison) {
    char u[128] = "sip:123456@10.1.1.1:5060;user=phone";
    SacaUsuarioUri(u);
    EXPECT_STREQ(u, "sip:123456@10.1.1.1");
    char o[64];
    CopiaUsuarioUri("sip:operador@10.1.1.1", o);
    EXPECT_STREQ(o, "operador");
    std::string largo = "sip:" + std::string(80, 'x') + "@h";
    CopiaUsuarioUri(largo.c_str(), o);
    EXPECT_EQ(std::strlen(o), 59u);
    EXPECT_EQ(ComparaUri("sip:a@h", "sip:a@h"), 0);
    EXPECT_EQ(ComparaUri("sip:a@h", "sip:b@h"), -1);
    EXPECT_EQ(ComparaUri("a@h", "a@h"), -1);
    EXPECT_EQ(EsUriSip("<sip:a@h>"), 0);
    EXPECT_EQ(EsUriSip("tel:123"), -1);
}

}  // namespace
