#include "red/csocketaddress.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>

#include "red/socket_error.h"

namespace {

struct CasoTexto {
    const char* szHost;
    const char* szDireccion;
    bool bValida;
};

class TextoDeHost : public ::testing::TestWithParam<CasoTexto> {};

TEST_P(TextoDeHost, GivesAddressAndKeepsText) {
    const CasoTexto& c = GetParam();
    CSocketAddress o(c.szHost, 65000);
    EXPECT_EQ(CSocketAddress::TextoPuntos(o.Address()), c.szDireccion);
    EXPECT_EQ(o.HostText(), c.szHost);
    EXPECT_EQ(o.Port(), 65000);
    EXPECT_EQ(o.IsValid(), c.bValida);
    EXPECT_EQ(o.SockAddrIn().sin_family, AF_INET);
}

INSTANTIATE_TEST_SUITE_P(Especiales, TextoDeHost,
                         ::testing::Values(CasoTexto{"<localhost>", "127.0.0.1", true},
                                           CasoTexto{"127.0.0.1", "127.0.0.1", true},
                                           CasoTexto{"<any>", "0.0.0.0", true},
                                           CasoTexto{"<broadcast>", "255.255.255.255", false},
                                           CasoTexto{"<none>", "255.255.255.255", false},
                                           CasoTexto{"192.0.2.23", "192.0.2.23", true}));

TEST(CSocketAddress, NullHostIsNone) {
    CSocketAddress o(static_cast<const char*>(nullptr), 0);
    EXPECT_EQ(o.HostText(), "<none>");
    EXPECT_FALSE(o.IsValid());
    EXPECT_EQ(o.Port(), 0);
}

TEST(CSocketAddress, SpecialTextsAreCaseSensitive) {
    EXPECT_THROW(CSocketAddress("<LOCALHOST>", 1), socket_error);
}

TEST(CSocketAddress, BuiltFromSockaddrNamesSpecialAddresses) {
    struct {
        const char* szDireccion;
        const char* szTexto;
    } casos[] = {{"127.0.0.1", "<localhost>"},
                 {"0.0.0.0", "<any>"},
                 {"255.255.255.255", "<broadcast>"},
                 {"10.1.2.3", "10.1.2.3"}};
    for (auto& c : casos) {
        sockaddr_in sa = {};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(9);
        inet_pton(AF_INET, c.szDireccion, &sa.sin_addr);
        CSocketAddress o(sa);
        EXPECT_EQ(o.HostText(), c.szTexto);
        EXPECT_EQ(o.Port(), 9);
    }
}

TEST(CSocketAddress, EqualityComparesPortAndText) {
    EXPECT_NE(CSocketAddress("127.0.0.1", 65000), CSocketAddress("<localhost>", 65000));
    EXPECT_NE(CSocketAddress("<broadcast>", 9), CSocketAddress("<none>", 9));
    EXPECT_EQ(CSocketAddress("<broadcast>", 9).Address(), CSocketAddress("<none>", 9).Address());
    EXPECT_EQ(CSocketAddress("<localhost>", 1), CSocketAddress(std::string("<localhost>"), 1));
    EXPECT_NE(CSocketAddress("<localhost>", 1), CSocketAddress("<localhost>", 2));
}

TEST(CSocketAddress, HostOrderWordGivesDottedText) {
    CSocketAddress o(0xC0000217u, 5060);
    EXPECT_EQ(o.HostText(), "192.0.2.23");
    EXPECT_EQ(o.Port(), 5060);
    EXPECT_EQ(ntohl(o.Address()), 0xC0000217u);
}

TEST(CSocketAddress, NameIsLookedUpAndOfficialNameKept) {
    CSocketAddress o("localhost", 7);
    EXPECT_EQ(CSocketAddress::TextoPuntos(o.Address()), "127.0.0.1");
    EXPECT_EQ(o.HostName(), "localhost");
}

TEST(CSocketAddress, DottedAllOnesGoesThroughTheLookUp) {
    CSocketAddress o("255.255.255.255", 7);
    EXPECT_FALSE(o.IsValid());
    EXPECT_EQ(o.HostText(), "255.255.255.255");
}

TEST(CSocketAddress, ReverseLookUpReplacesText) {
    CSocketAddress o("127.0.0.1", 7);
    EXPECT_EQ(o.HostName(), "localhost");
    EXPECT_EQ(o.HostText(), "localhost");
}

TEST(CSocketAddress, UnknownHostThrowsGethostbyname) {
    try {
        CSocketAddress o("no-such-host.invalid", 1);
        FAIL() << "no exception";
    } catch (const socket_error& e) {
        EXPECT_EQ(e.error(), 0);
        EXPECT_STREQ(e.std::runtime_error::what(), "gethostbyname");
        EXPECT_EQ(std::string(e.what()).rfind("LSE(0) gethostbyname: ", 0), 0u) << e.what();
    }
}

TEST(CSocketAddress, FailedReverseLookUpThrowsGethostbyaddr) {
    CSocketAddress o("192.0.2.99", 1);
    try {
        o.HostName();
        FAIL() << "no exception";
    } catch (const socket_error& e) {
        EXPECT_EQ(e.error(), 0);
        EXPECT_EQ(std::string(e.what()).rfind("LSE(0) gethostbyaddr: ", 0), 0u) << e.what();
    }
}

TEST(CSocketAddress, ServiceGivesItsPort) {
    CSocketAddress o("discard", "udp", "<localhost>");
    EXPECT_EQ(o.Port(), 9);
    EXPECT_EQ(o.HostText(), "<localhost>");
    try {
        CSocketAddress x("no-such-service", "udp", "<localhost>");
        FAIL() << "no exception";
    } catch (const socket_error& e) {
        EXPECT_EQ(std::string(e.what()).rfind("LSE(0) getservbyname: ", 0), 0u) << e.what();
    }
}

TEST(WinError, MessageIsBuiltOnceFromSourceNumberTextAndSystemText) {
    win_error w(98, "bind");
    EXPECT_EQ(std::string(w.what()), std::string("LINUX(98) bind: ") + strerror(98));
    const char* p = w.what();
    EXPECT_EQ(p, w.what());
    socket_error s("socket");
    EXPECT_EQ(s.error(), 0);
    EXPECT_EQ(std::string(s.what()), std::string("LSE(0) socket: ") + strerror(0));
    const win_error& base = s;
    EXPECT_STREQ(base.source(), "LSE");
}

}  // namespace
