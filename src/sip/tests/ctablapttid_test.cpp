// PTT-id table of a radio resource.
#include "sip/ctablapttid.h"

#include <gtest/gtest.h>


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

TEST(CTablaPttId, NetworkSearchComparesTheThirdOctetWhole) {
    const struct {
        const char* szBuscada;
        int iId;
    } kCasos[] = {
        {"sip:x@10.1.2.9", 1},       // same network as the first party
        {"sip:x@10.1.20.9", 2},      // 10.1.2 is not a prefix of 10.1.20
        {"sip:x@10.1.200.9", -1},
        {"sip:x@10.1.2", -1},        // two dots: no network
        {"sip:x@host", -1},
        {"", -1},
    };
    CTablaPttId t;
    t.Anade("sip:a@10.1.2.1");
    t.Anade("sip:b@10.1.20.1");
    for (const auto& k : kCasos) EXPECT_EQ(t.BuscaPorIp(k.szBuscada), k.iId) << k.szBuscada;
    CTablaPttId u;
    u.Anade("sip:a@10.1.20.1");
    EXPECT_EQ(u.BuscaPorIp("sip:x@10.1.2.9"), -1) << "the held host is compared with its dot too";
}

TEST(CTablaPttId, ALoweredSizeHidesTheSlotsBeyondItFromSearchesAndTheDump) {
    CTablaPttId t;
    t.Anade("sip:a@10.0.0.1");
    t.Anade("sip:b@10.0.1.1");
    t.Anade("sip:c@10.0.2.1");
    t.FijaTamano(2);
    const struct {
        const char* szUri;
        int iPorNombre, iPorIp;
    } kCasos[] = {
        {"sip:a@10.0.0.1", 1, 1},
        {"sip:b@10.0.1.1", 2, 2},
        {"sip:c@10.0.2.1", -1, -1},  // slot 3 lies beyond the size
    };
    for (const auto& k : kCasos) {
        EXPECT_EQ(t.BuscaPorNombre(k.szUri), k.iPorNombre) << k.szUri;
        EXPECT_EQ(t.BuscaPorIp(k.szUri), k.iPorIp) << k.szUri;
    }
    char texto[256] = "";
    t.Vuelca(texto);
    EXPECT_STREQ(texto, "1,sip:a@10.0.0.1\r\n2,sip:b@10.0.1.1\r\n");
    EXPECT_EQ(t.BorraId(3), 0) << "an id held beyond the size is still freed";
    t.FijaTamano(15);
    char despues[256] = "";
    t.Vuelca(despues);
    EXPECT_STREQ(despues, "1,sip:a@10.0.0.1\r\n2,sip:b@10.0.1.1\r\n");
}

}  // namespace
