// The board on the combined example comes up whole: every child runs configured, every line is a
// SIP user of the board, and the board publishes the states of its lines in service.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "placa_e2e.h"
#include "sipp.h"

namespace {

using namespace e2e;

// The combined example names no multicast group: the board publishes to the default one, on
// the port after the default reception port.
const char kGrupo[] = "239.192.71.1";
const uint16_t kPuertoPublicacion = 1001;

uint32_t Palabra(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
std::string Nombre(const uint8_t* p) { return std::string(reinterpret_cast<const char*>(p), strnlen(reinterpret_cast<const char*>(p), 32)); }

struct Publicado {
    uint32_t uiCategoria;
    uint32_t uiEstado;
};

// A member of the publication group, as another gateway listens to it.
class Grupo {
public:
    Grupo() {
        s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        int uno = 1;
        setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &uno, sizeof uno);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(kPuertoPublicacion);
        EXPECT_EQ(bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        ip_mreq m{};
        inet_pton(AF_INET, kGrupo, &m.imr_multiaddr);
        EXPECT_EQ(setsockopt(s, IPPROTO_IP, IP_ADD_MEMBERSHIP, &m, sizeof m), 0);
    }
    ~Grupo() { close(s); }
    // The entries of the next packet sent by gateway szPasarela within iMs; empty when none came.
    std::map<std::string, Publicado> Paquete(const std::string& sPasarela, int iMs) {
        const auto fin = std::chrono::steady_clock::now() + std::chrono::milliseconds(iMs);
        for (;;) {
            const auto resto = std::chrono::duration_cast<std::chrono::milliseconds>(fin - std::chrono::steady_clock::now());
            pollfd p{s, POLLIN, 0};
            if (resto.count() <= 0 || poll(&p, 1, static_cast<int>(resto.count())) != 1) return {};
            uint8_t b[2048];
            const ssize_t n = recv(s, b, sizeof b, 0);
            if (n < 48 || Palabra(b) != 1 || Nombre(b + 4) != sPasarela) continue;
            const uint32_t uiEntradas = Palabra(b + 40);
            if (uiEntradas > 16 || 48 + 60 * uiEntradas != static_cast<size_t>(n)) {
                ADD_FAILURE() << "packet of " << n << " bytes with " << uiEntradas << " entries";
                return {};
            }
            std::map<std::string, Publicado> m;
            for (uint32_t i = 0; i < uiEntradas; i++) {
                const uint8_t* e = b + 48 + 60 * i;
                m[Nombre(e)] = Publicado{Palabra(e + 36), Palabra(e + 44)};
            }
            return m;
        }
    }

private:
    int s = -1;
};

class Arranque : public ::testing::Test {
protected:
    void TearDown() override {
        if (HasFailure()) std::printf("%s\n", p.Informe().c_str());
    }
    Grupo grupo;
    CPlaca p;
};

TEST_F(Arranque, EveryLineOfTheCombinedExampleStartsIsASipUserAndIsPublished) {
    ASSERT_TRUE(p.Arranca());
    // The DSP service runs configured, and each resource process configured its line on a DSP
    // channel of it.
    EXPECT_TRUE(CPlaca::NucleoDice("CSUPERDSP: dremson configurado", 40000));
    EXPECT_TRUE(CPlaca::RecursoDice(kTelefono, "CENTTLF[1]:Recurso DSP configurado", 40000));
    EXPECT_TRUE(CPlaca::RecursoDice(kCaliente, "CENTLC[4]:Recurso DSP configurado", 40000));
    EXPECT_TRUE(CPlaca::RecursoDice(kR2, "CENTR2N5[8]: ProtocoloRecurso DSP configurado", 40000));
    EXPECT_TRUE(CPlaca::RecursoDice(kN5, "CENTR2N5[12]: ProtocoloRecurso DSP configurado", 40000));
    // Telephone, hot and trunk lines clear their registration flag: no line REGISTERs with a
    // registrar; each is a user of the board's own user agent.
    for (const char* szUsuario : {"TLF-01", "LC-01", "R2-01", "N5-01"})
        EXPECT_TRUE(CPlaca::NucleoDice(std::string("CPASAGUS: Recurso añadido( ") + szUsuario + " )", 20000))
            << szUsuario;
    // The user agent answers for a line while it is in service. The trunks are not: their test
    // calls find no far end here.
    for (const char* szUsuario : {"TLF-01", "LC-01"}) {
        EXPECT_TRUE(EsperaQue(
            [&] {
                Sipp sipp({"-sf", DirFuente() + "../ext/sip/tests/uac_options.xml", "-m", "1", "-s", szUsuario,
                           "-recv_timeout", "2000", "127.0.0.1:5060"});
                return sipp.Espera(10000) == 0;
            },
            30000))
            << szUsuario;
    }
    // Lines in service are published: the hot line with category 2 (state only), the telephone
    // line with 1, idle.
    std::map<std::string, Publicado> m;
    EXPECT_TRUE(EsperaQue(
        [&] {
            m = grupo.Paquete("PASARELA-E2E", 6000);
            return m.count("TLF-01") && m.count("LC-01");
        },
        30000));
    EXPECT_EQ(m["TLF-01"].uiCategoria, 1u);
    EXPECT_EQ(m["TLF-01"].uiEstado, 0u);
    EXPECT_EQ(m["LC-01"].uiCategoria, 2u);
    EXPECT_NE(m["LC-01"].uiEstado, 10u);
    EXPECT_TRUE(p.nucleo.Vivo());
}

}  // namespace
