// The core as a SIP user agent: once a configured resource's process has asked for its
// configuration, the resource is a SIP user on port 5060 that answers OPTIONS, and an INVITE to
// it reaches the bridge's admission and is answered.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "csimboard.h"
#include "nucleo_proceso.h"

namespace {

using pruebas::EsperaQue;

const char kConfig[] =
    "[GENERAL]\nszNombre=PASARELA-PRUEBA\nszDirCPU0=192.0.2.23\nszDirVirtual=192.0.2.23\n"
    "acIdConfig=CFG-PRUEBA\niDual=0\niNivelConsola=65535\niPuertoConsola=19710\n"
    "[RECURSO-0]\nnombre=RD-01\niTipo=2\niTipoIf=0\nszUriLocal=sip:RD-01@192.0.2.23\n";

// A SIP peer on 127.0.0.1:5090 that sends requests to the core and reads its answers.
class Par {
public:
    Par() {
        iSocket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(5090);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(iSocket, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    ~Par() { close(iSocket); }
    void Envia(const std::string& s) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(5060);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sendto(iSocket, s.data(), s.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    // Status of the first final answer with that Call-ID within iMs; 0 when none came.
    int Final(const std::string& sCallId, int iMs) {
        auto fin = std::chrono::steady_clock::now() + std::chrono::milliseconds(iMs);
        pollfd p{iSocket, POLLIN, 0};
        while (std::chrono::steady_clock::now() < fin) {
            if (poll(&p, 1, 50) != 1) continue;
            char ac[4096];
            const ssize_t n = recv(iSocket, ac, sizeof ac - 1, 0);
            if (n <= 12) continue;
            const std::string r(ac, static_cast<size_t>(n));
            if (r.compare(0, 8, "SIP/2.0 ") != 0 || r.find("Call-ID: " + sCallId + "\r\n") == std::string::npos)
                continue;
            const int iEstado = std::atoi(r.c_str() + 8);
            if (iEstado >= 200) return iEstado;
        }
        return 0;
    }

private:
    int iSocket = -1;
};

std::string Peticion(const std::string& sMetodo, const std::string& sUsuario, const std::string& sCallId,
                     const std::string& sCuerpo = "") {
    return sMetodo + " sip:" + sUsuario + "@127.0.0.1:5060 SIP/2.0\r\n"
           "Via: SIP/2.0/UDP 127.0.0.1:5090;branch=z9hG4bK" + sCallId + "\r\n"
           "From: <sip:654321@127.0.0.1:5090>;tag=t" + sCallId + "\r\n"
           "To: <sip:" + sUsuario + "@127.0.0.1:5060>\r\n"
           "Call-ID: " + sCallId + "\r\nCSeq: 1 " + sMetodo + "\r\n"
           "Contact: <sip:654321@127.0.0.1:5090>\r\nMax-Forwards: 70\r\nSubject: radio\r\n" +
           (sCuerpo.empty() ? "" : "Content-Type: application/sdp\r\n") +
           "Content-Length: " + std::to_string(sCuerpo.size()) + "\r\n\r\n" + sCuerpo;
}

class SipNucleo : public ::testing::Test {
protected:
    void SetUp() override {
        placa = simboard::CSimBoard::Arranca();
        ASSERT_TRUE(placa);
        pruebas::InstalaProgramas();
        pruebas::ConfiguraLogs();
        {
            std::ofstream f("/mnt/ramfs/descripcion.ini", std::ios::trunc);
            f << kConfig;
        }
        const std::string sAgente =
            pruebas::DirBuild() + "/sim/cfgagent/cfgagent escribe /mnt/ramfs/descripcion.ini --sin-senal";
        ASSERT_EQ(std::system(sAgente.c_str()), 0);
        nucleo.Arranca({});
        ASSERT_TRUE(nucleo.SalidaContiene("Vortik QLN arrancado", 10000));
    }
    // Asks with OPTIONS until the resource's user answers 200.
    bool UsuarioRegistrado(int iMs) {
        int n = 0;
        return EsperaQue(
            [&] {
                const std::string sCallId = "opciones" + std::to_string(++n);
                par.Envia(Peticion("OPTIONS", "RD-01", sCallId));
                return par.Final(sCallId, 500) == 200;
            },
            iMs);
    }

    std::unique_ptr<simboard::CSimBoard> placa;
    pruebas::CNucleo nucleo;
    Par par;
};

TEST_F(SipNucleo, ConfiguredResourceIsASipUserThatAnswersOptions) {
    ASSERT_TRUE(UsuarioRegistrado(20000)) << nucleo.Salida();
    par.Envia(Peticion("OPTIONS", "NADIE", "opciones-nadie"));
    EXPECT_EQ(par.Final("opciones-nadie", 3000), 503);
}

TEST_F(SipNucleo, InviteToTheResourceReachesTheBridgeAndIsAnswered) {
    ASSERT_TRUE(UsuarioRegistrado(20000)) << nucleo.Salida();
    const std::string sSdp = "v=0\r\no=- 0 0 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\n"
                             "m=audio 6000 RTP/AVP 8\r\n";
    par.Envia(Peticion("INVITE", "RD-01", "llamada1", sSdp));
    EXPECT_GE(par.Final("llamada1", 5000), 200);
    EXPECT_TRUE(EsperaQue(
        [] { return pruebas::LeeTodo("/mnt/ramfs/vk_pelm.log").find(" CPasaGus: Traplic_Invite priority") != std::string::npos; },
        5000))
        << pruebas::LeeTodo("/mnt/ramfs/vk_pelm.log");
}

}  // namespace
