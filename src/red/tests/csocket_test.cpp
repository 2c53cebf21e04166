#include "red/csocket.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <memory>
#include <thread>

#include "red/ctcpserversocket.h"
#include "red/ctcpsocket.h"
#include "red/cudpsocket.h"

namespace {

using Reloj = std::chrono::steady_clock;

int CuentaDescriptores() {
    int n = 0;
    DIR* d = opendir("/proc/self/fd");
    while (readdir(d)) ++n;
    closedir(d);
    return n;
}

template <class F>
void EsperaError(F&& f, int iNumero, const char* szTexto) {
    try {
        f();
        ADD_FAILURE() << "no exception for " << szTexto;
    } catch (const socket_error& e) {
        EXPECT_EQ(e.error(), iNumero) << szTexto;
        EXPECT_STREQ(e.std::runtime_error::what(), szTexto);
        EXPECT_EQ(std::string(e.what()).rfind(std::string("LSE(") + std::to_string(iNumero) + ") " + szTexto + ": ", 0),
                  0u)
            << e.what();
    }
}

// A connected pair on loopback: [0] the client, [1] the accepted side.
struct Par {
    CTCPServerSocket oServidor{CSocketAddress("<localhost>", 0)};
    std::unique_ptr<CTCPSocket> pCliente;
    std::unique_ptr<CTCPSocket> pAceptado;
    Par() {
        oServidor.Listen(1);
        pCliente = std::make_unique<CTCPSocket>(CSocketAddress("<localhost>", oServidor.LocalAddress().Port()));
        pAceptado.reset(oServidor.AcceptSocket(1));
    }
};

TEST(CSocket, OperationsOnClosedSocketThrowTheirNameWithOne) {
    CUDPSocket o;
    o.Close();
    o.Close();  // nothing happens
    char ac[4] = {};
    socklen_t l = sizeof(int);
    int v = 1;
    fd_set s;
    FD_ZERO(&s);
    CSocketAddress dest("<localhost>", 9);
    EsperaError([&] { o.SendTo(ac, 1, dest); }, 1, "SendTo");
    EsperaError([&] { o.RecvFrom(ac, 1); }, 1, "RecvFrom");
    EsperaError([&] { o.Connect(dest); }, 1, "Connect");
    EsperaError([&] { o.Send(ac, 1); }, 1, "Send");
    EsperaError([&] { o.Recv(ac, 1); }, 1, "Recv");
    EsperaError([&] { o.SetSockOpt(SOL_SOCKET, SO_BROADCAST, &v, l); }, 1, "SetSockOpt");
    EsperaError([&] { o.GetSockOpt(SOL_SOCKET, SO_BROADCAST, &v, &l); }, 1, "GetSockOpt");
    EsperaError([&] { o.Select(&s, nullptr, nullptr, 0); }, 1, "Select");
    EXPECT_EQ(o.LocalAddress().HostText(), "<none>");
}

TEST(CSocket, BindToBusyPortThrowsWithErrnoAndLeaksNothing) {
    CUDPSocket oOcupa(CSocketAddress("<localhost>", 0));
    int iPuerto = oOcupa.LocalAddress().Port();
    int iAntes = CuentaDescriptores();
    EsperaError([&] { CUDPSocket o(CSocketAddress("<localhost>", iPuerto)); }, EADDRINUSE, "bind");
    EXPECT_EQ(CuentaDescriptores(), iAntes);
    EXPECT_EQ(std::string(socket_error(98, "bind").what()), std::string("LSE(98) bind: ") + strerror(98));
}

TEST(CUDPSocket, DatagramCarriesBytesAndSender) {
    CUDPSocket oRx(CSocketAddress("<localhost>", 0));
    CUDPSocket oTx(CSocketAddress("<localhost>", 0));
    EXPECT_EQ(oRx.LocalAddress().HostText(), "<localhost>");
    oTx.SendTo("hola", 4, CSocketAddress("<localhost>", oRx.LocalAddress().Port()));
    char ac[16] = {};
    CSocketAddress oOrigen;
    ASSERT_EQ(oRx.RecvFrom(ac, sizeof ac, &oOrigen), 4);
    EXPECT_STREQ(ac, "hola");
    EXPECT_EQ(oOrigen, CSocketAddress("<localhost>", oTx.LocalAddress().Port()));
}

TEST(CUDPSocket, PortConstructorBindsToAnyAddress) {
    CUDPSocket o(65000, false);
    EXPECT_EQ(o.LocalAddress(), CSocketAddress("<any>", 65000));
}

TEST(CUDPSocket, BroadcastFlagSetsTheOption) {
    int v = 0;
    socklen_t l = sizeof v;
    CUDPSocket oSi(true);
    oSi.GetSockOpt(SOL_SOCKET, SO_BROADCAST, &v, &l);
    EXPECT_EQ(v, 1);
    CUDPSocket oNo;
    oNo.GetSockOpt(SOL_SOCKET, SO_BROADCAST, &v, &l);
    EXPECT_EQ(v, 0);
    oNo.EnableBroadcast();
    oNo.GetSockOpt(SOL_SOCKET, SO_BROADCAST, &v, &l);
    EXPECT_EQ(v, 1);
}

TEST(CSocket, RecvTimeoutTakesEffect) {
    CUDPSocket o(CSocketAddress("<localhost>", 0));
    ASSERT_EQ(o.SetRecvTimeout(1), 0);
    char c;
    auto t0 = Reloj::now();
    EXPECT_LT(o.RecvFrom(&c, 1), 0);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Reloj::now() - t0).count();
    EXPECT_GE(ms, 900);
    EXPECT_LT(ms, 3000);
}

TEST(CSocket, SelectSplitsMillisecondsAndWaitsWithoutLimitWhenNegative) {
    CUDPSocket o(CSocketAddress("<localhost>", 0));
    auto t0 = Reloj::now();
    EXPECT_FALSE(o.WaitRead(1500));
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Reloj::now() - t0).count();
    EXPECT_GE(ms, 1450);
    EXPECT_LT(ms, 2500);

    CUDPSocket oTx;
    std::thread t([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        oTx.SendTo("x", 1, CSocketAddress("<localhost>", o.LocalAddress().Port()));
    });
    EXPECT_TRUE(o.WaitRead(-1));
    t.join();
    EXPECT_TRUE(o.WaitWrite(0));
}

TEST(CTCPSocket, ReadReassemblesSplitInput) {
    Par p;
    EXPECT_EQ(p.pCliente->PeerAddress(), CSocketAddress("<localhost>", p.oServidor.LocalAddress().Port()));
    char ac[11] = {};
    auto f = std::async(std::launch::async, [&] { return p.pAceptado->Read(ac, 10); });
    ASSERT_EQ(p.pCliente->Write("0123", 4), 4);
    EXPECT_EQ(f.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    ASSERT_EQ(p.pCliente->Write("456789", 6), 6);
    EXPECT_EQ(f.get(), 10);
    EXPECT_STREQ(ac, "0123456789");
}

TEST(CTCPSocket, ReadThrowsWhenPeerClosesEarly) {
    Par p;
    ASSERT_EQ(p.pCliente->Write("0123", 4), 4);
    p.pCliente->Close();
    char ac[10];
    EsperaError([&] { p.pAceptado->Read(ac, 10); }, 2, "Read");
}

TEST(CTCPSocket, SendToVanishedPeerReturnsErrorWithoutSignal) {
    Par p;
    p.pAceptado->Close();
    std::string s(65536, 'x');
    int r = 0;
    for (int i = 0; i < 50 && r >= 0; ++i) r = p.pCliente->Send(s.data(), s.size());
    EXPECT_LT(r, 0);  // still alive: no SIGPIPE
}

TEST(CTCPServerSocket, AcceptZeroOnFreshSocketListensFirst) {
    CTCPServerSocket oServ(CSocketAddress("<localhost>", 0));
    int iPuerto = oServ.LocalAddress().Port();
    std::thread t([&] {
        for (int i = 0; i < 200; ++i) {
            CTCPSocket c;
            if (c.Connect(CSocketAddress("<localhost>", iPuerto))) {
                c.Write("k", 1);
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    int fd = oServ.Accept(0);
    t.join();
    CTCPSocket oAceptado(fd);
    char c = 0;
    EXPECT_EQ(oAceptado.Read(&c, 1), 1);
    EXPECT_EQ(c, 'k');
}

TEST(CTCPServerSocket, AcceptIntoReplacesTheDescriptor) {
    CTCPServerSocket oServ(CSocketAddress("<localhost>", 0));
    oServ.Listen(5);
    oServ.Listen(5);
    CTCPSocket oCliente(CSocketAddress("<localhost>", oServ.LocalAddress().Port()));
    CTCPSocket oDestino;
    oServ.AcceptInto(oDestino, 5);
    EXPECT_TRUE(oDestino.IsOpen());
    oCliente.Write("ab", 2);
    char ac[3] = {};
    oDestino.Read(ac, 2);
    EXPECT_STREQ(ac, "ab");
}

TEST(CTCPServerSocket, ReopenGivesAFreshSocket) {
    CTCPServerSocket oServ(CSocketAddress("<localhost>", 0));
    oServ.Listen(3);
    oServ.Reopen();
    EXPECT_TRUE(oServ.IsOpen());
    oServ.Bind(CSocketAddress("<localhost>", 0));
    std::thread t([&] {
        for (int i = 0; i < 200; ++i) {
            CTCPSocket c;
            if (c.Connect(CSocketAddress("<localhost>", oServ.LocalAddress().Port()))) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    std::unique_ptr<CTCPSocket> p(oServ.AcceptSocket(3));
    t.join();
    EXPECT_TRUE(p->IsOpen());
}

}  // namespace
