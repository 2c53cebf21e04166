// State publication: packet bytes, versions, received packets, ageing, standby, all through the
// real multicast socket of the sandbox's eth0 where bytes cross a boundary.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cgestordual.h"
#include "cconfig.h"
#include "multicast.h"
#include "publica.h"
#include "red/tcpcons.h"
#include "temporizador_pruebas.h"

namespace {

const char* const kGrupo = "239.1.2.3";
const int kPuerto = 4000;  // packets go to port 4001

std::vector<uint8_t> Palabra(uint32_t v) {
    return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
            static_cast<uint8_t>(v)};
}
void Anade(std::vector<uint8_t>& v, const std::vector<uint8_t>& w) { v.insert(v.end(), w.begin(), w.end()); }
std::vector<uint8_t> Nombre(const std::string& s) {
    std::vector<uint8_t> v(36, 0);
    std::memcpy(v.data(), s.data(), s.size() < 32 ? s.size() : 32);
    return v;
}

struct Entrada {
    std::string sNombre;
    uint32_t uiCategoria, uiVersion, uiEstado, uiPrioridad, uiDato2, uiDato3;
};
// A packet as another gateway sends it; n is written as given.
std::vector<uint8_t> Paquete(uint32_t uiTipo, const std::string& sQln, uint32_t n, uint32_t uiVersion,
                             const std::vector<Entrada>& vEntradas) {
    std::vector<uint8_t> v;
    Anade(v, Palabra(uiTipo));
    Anade(v, Nombre(sQln));
    Anade(v, Palabra(n));
    Anade(v, Palabra(uiVersion));
    for (const Entrada& e : vEntradas) {
        Anade(v, Nombre(e.sNombre));
        for (uint32_t w : {e.uiCategoria, e.uiVersion, e.uiEstado, e.uiPrioridad, e.uiDato2, e.uiDato3})
            Anade(v, Palabra(w));
    }
    return v;
}
int Aplica(CPublica& p, const std::vector<uint8_t>& v) {
    return p.ActualizaInfoEstado(v.data(), static_cast<int>(v.size()));
}
// The bridge's 20-byte state record, in host order as a resource process sends it.
std::vector<uint8_t> Registro(uint8_t ucEstado, uint32_t uiPrioridad, uint32_t uiDato2, uint32_t uiDato3) {
    std::vector<uint8_t> v(20, 0);
    v[1] = ucEstado;
    std::memcpy(&v[4], &uiPrioridad, 4);
    std::memcpy(&v[8], &uiDato2, 4);
    std::memcpy(&v[12], &uiDato3, 4);
    return v;
}

class Publica : public ::testing::Test {
protected:
    void SetUp() override {
        TcpCons::Inicia(0);
        cfgCerrojo c(&oConfigPasarela.tMutex);
        oConfigPasarela.PonNombre("QLN-PROPIA");
        oConfigPasarela.iCfgModoSistema = 0;
        std::snprintf(oConfigPasarela.acGrupoMulticast, sizeof oConfigPasarela.acGrupoMulticast, "%s", kGrupo);
        oConfigPasarela.uiPuertoMulticast = kPuerto;
    }
    // A socket joined to the group on the publication port.
    int Receptor(const char* szGrupo = kGrupo, int iPuerto = kPuerto) {
        int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        int uno = 1;
        setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &uno, sizeof uno);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(iPuerto + 1));
        EXPECT_EQ(bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        ip_mreq m{};
        inet_pton(AF_INET, szGrupo, &m.imr_multiaddr);
        EXPECT_EQ(setsockopt(s, IPPROTO_IP, IP_ADD_MEMBERSHIP, &m, sizeof m), 0);
        return s;
    }
    static std::vector<uint8_t> Recibe(int s, int iMs) {
        pollfd p{s, POLLIN, 0};
        if (poll(&p, 1, iMs) != 1) return {};
        uint8_t buf[2048];
        ssize_t n = recv(s, buf, sizeof buf, 0);
        return n > 0 ? std::vector<uint8_t>(buf, buf + n) : std::vector<uint8_t>{};
    }
    std::vector<uint8_t> Construye(CPublica& p) {
        std::vector<uint8_t> v(PUB_TAM_BUFFER);
        v.resize(static_cast<size_t>(p.ConstruyePaquetePublica(v.data())));
        return v;
    }
};

TEST_F(Publica, PacketHoldsPublishedEntriesInNetworkOrderAndSkipsUnpublishedOnes) {
    CPublica p("QLN-PROPIA", false);
    ASSERT_EQ(p.ActualizaPublica("RD-01", Registro(3, 0x01020304, 0x0A0B0C0D, 7).data(), 1, 0), 0);
    ASSERT_EQ(p.AltaRecurso("SIN-ESTADO", 1, 1), 0);  // state 10: not in the packet
    ASSERT_EQ(p.ActualizaPublica("LC-02", Registro(5, 99, 98, 97).data(), 2, 2), 0);

    const std::vector<uint8_t> v = Construye(p);
    std::vector<uint8_t> esperado;
    Anade(esperado, Palabra(1));
    Anade(esperado, Nombre("QLN-PROPIA"));
    Anade(esperado, Palabra(2));
    Anade(esperado, Palabra(1));  // first build after construction: version 1
    Anade(esperado, Nombre("RD-01"));
    for (uint32_t w : {1u, 1u, 3u, 0x01020304u, 0x0A0B0C0Du, 7u}) Anade(esperado, Palabra(w));
    Anade(esperado, Nombre("LC-02"));
    for (uint32_t w : {2u, 1u, 5u, 0u, 0u, 0u}) Anade(esperado, Palabra(w));  // category 2: state only
    EXPECT_EQ(v, esperado);
}

TEST_F(Publica, VersionsAdvanceOnlyWithChangesAndOncePerBuild) {
    CPublica p("QLN-PROPIA", false);
    p.ActualizaPublica("RD-01", Registro(3, 1, 2, 3).data(), 1, 0);
    std::vector<uint8_t> v = Construye(p);
    ASSERT_EQ(v.size(), 108u);
    const uint32_t uiTabla = p.DameVersion();
    EXPECT_EQ(Construye(p), v) << "no change, same packet";
    EXPECT_EQ(p.DameVersion(), uiTabla);

    p.ActualizaPublica("RD-01", Registro(4, 1, 2, 3).data(), 1, 0);
    p.ActualizaPublica("RD-01", Registro(6, 1, 2, 3).data(), 1, 0);
    v = Construye(p);
    EXPECT_EQ(p.DameVersion(), uiTabla + 1);
    EXPECT_EQ(std::vector<uint8_t>(v.begin() + 88, v.begin() + 92), Palabra(2)) << "entry version";
    EXPECT_EQ(std::vector<uint8_t>(v.begin() + 92, v.begin() + 96), Palabra(6));

    p.ActualizaPublica("RD-01", Registro(10, 1, 2, 3).data(), 1, 0);  // back to unpublished
    v = Construye(p);
    EXPECT_EQ(v.size(), 48u);
    EXPECT_EQ(p.DameVersion(), uiTabla + 2);
}

TEST_F(Publica, ReceivedPacketsAreAppliedOrDroppedByWhatTheyHold) {
    CPublica p("QLN-PROPIA", false);
    const Entrada a{"RD-A", 1, 4, 3, 2, 5, 6}, b{"RD-B", 2, 1, 7, 0, 0, 0};
    RegistroPasarela r;

    // New gateway.
    ASSERT_EQ(Aplica(p, Paquete(1, "QLN-X", 2, 11, {a, b})), 0);
    ASSERT_TRUE(p.DamePasarela("QLN-X", &r));
    EXPECT_EQ(r.uiVersion, 11u);
    EXPECT_EQ(r.iVida, PUB_VIDA);
    const EntradaPublica* e = p.DameEstadoRecurso("QLN-X", "RD-A");
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->uiEstado, 3u);
    EXPECT_EQ(e->uiPrioridad, 2u);
    EXPECT_EQ(e->uiDato3, 6u) << "host order";

    // Update: RD-A changes, RD-B is no longer listed and goes.
    Entrada a2 = a;
    a2.uiEstado = 9;
    ASSERT_EQ(Aplica(p, Paquete(1, "QLN-X", 1, 12, {a2})), 0);
    EXPECT_EQ(p.DameEstadoRecurso(nullptr, "RD-A")->uiEstado, 9u);
    EXPECT_EQ(p.DameEstadoRecurso(nullptr, "RD-B"), nullptr);

    struct Caso {
        const char* szQue;
        std::vector<uint8_t> v;
    };
    std::vector<uint8_t> corto = Paquete(1, "QLN-X", 0, 13, {});
    corto.resize(10);
    const std::vector<Caso> vIgnorados = {
        {"wrong type", Paquete(2, "QLN-X", 1, 13, {b})},
        {"10 bytes", corto},
        {"empty sender name", Paquete(1, "", 1, 13, {b})},
    };
    for (const Caso& c : vIgnorados) {
        EXPECT_EQ(Aplica(p, c.v), -1) << c.szQue;
        ASSERT_TRUE(p.DamePasarela("QLN-X", &r));
        EXPECT_EQ(r.uiVersion, 12u) << c.szQue;
        EXPECT_EQ(p.DameEstadoRecurso(nullptr, "RD-B"), nullptr) << c.szQue;
    }

    // A count far beyond the datagram: only the entries it holds are read.
    ASSERT_EQ(Aplica(p, Paquete(1, "QLN-Y", 1000, 1, {a, b})), 0);
    ASSERT_TRUE(p.DamePasarela("QLN-Y", &r));
    int iEntradas = 0;
    for (const EntradaPublica& x : r.asEntradas) iEntradas += x.acNombre[0] != '\0';
    EXPECT_EQ(iEntradas, 2);

    // A removal by name frees the entry.
    EXPECT_EQ(p.BajaInfoEstadoRecurso("QLN-Y", "RD-B"), 0);
    EXPECT_EQ(p.BajaInfoEstadoRecurso("QLN-Y", "RD-B"), -1);
    EXPECT_EQ(p.BajaInfoEstadoRecurso("QLN-NADIE", "RD-A"), -1);
}

TEST_F(Publica, PacketOfMoreThanSixteenEntriesAppliesTheFirstSixteen) {
    CPublica p("QLN-PROPIA", false);
    std::vector<Entrada> v;
    for (int i = 0; i < 25; i++) v.push_back({"RD-" + std::to_string(i), 1, 1, 3, 0, 0, 0});
    const std::vector<uint8_t> paquete = Paquete(1, "QLN-X", 25, 1, v);
    ASSERT_EQ(paquete.size(), 1548u);
    ASSERT_EQ(Aplica(p, paquete), 0);
    RegistroPasarela r;
    ASSERT_TRUE(p.DamePasarela("QLN-X", &r));
    for (int i = 0; i < 16; i++) EXPECT_STREQ(r.asEntradas[i].acNombre, ("RD-" + std::to_string(i)).c_str());
    EXPECT_EQ(p.DameEstadoRecurso("QLN-X", "RD-16"), nullptr);
    EXPECT_EQ(p.DameEstadoRecurso("QLN-X", "RD-24"), nullptr);
}

TEST_F(Publica, LookUpWithoutGatewayTakesTheFirstInTableOrder) {
    CPublica p("QLN-PROPIA", false);
    Aplica(p, Paquete(1, "QLN-1", 1, 1, {{"RD-C", 1, 1, 3, 0, 0, 0}}));
    Aplica(p, Paquete(1, "QLN-2", 1, 1, {{"RD-C", 1, 1, 4, 0, 0, 0}}));
    EXPECT_EQ(p.DameEstadoRecurso(nullptr, "RD-C")->uiEstado, 3u);
    EXPECT_EQ(p.DameEstadoRecurso("", "RD-C")->uiEstado, 3u);
    EXPECT_EQ(p.DameEstadoRecurso("QLN-2", "RD-C")->uiEstado, 4u);
    EXPECT_EQ(p.DameEstadoRecurso("QLN-3", "RD-C"), nullptr);
    // Names count on 32 characters.
    const std::string sLargo(32, 'L');
    Aplica(p, Paquete(1, "QLN-1", 1, 2, {{sLargo + "-uno", 1, 1, 5, 0, 0, 0}}));
    EXPECT_EQ(p.DameEstadoRecurso(nullptr, (sLargo + "-dos").c_str())->uiEstado, 5u);
}

TEST_F(Publica, SixtyFifthGatewayIsDroppedUntilOneAgesOut) {
    pruebas::CTemporizadorManual t;
    CPublica p("QLN-PROPIA", false);
    for (int i = 0; i < PUB_MAX_PASARELAS; i++)
        ASSERT_EQ(Aplica(p, Paquete(1, "QLN-" + std::to_string(i), 0, 1, {})), 0);
    EXPECT_EQ(Aplica(p, Paquete(1, "QLN-64", 0, 1, {})), -1);
    RegistroPasarela r;
    EXPECT_FALSE(p.DamePasarela("QLN-64", &r));

    ASSERT_EQ(p.ArmaEnvejecimiento(), 0);
    for (int i = 1; i < PUB_MAX_PASARELAS; i++) Aplica(p, Paquete(1, "QLN-" + std::to_string(i), 0, 1, {}));
    t.Avanza(31);  // one ageing pass: all at 4
    for (int i = 1; i < PUB_MAX_PASARELAS; i++) Aplica(p, Paquete(1, "QLN-" + std::to_string(i), 0, 1, {}));
    t.Avanza(30 * 4);  // QLN-0 reaches 0
    EXPECT_FALSE(p.DamePasarela("QLN-0", &r));
    EXPECT_EQ(Aplica(p, Paquete(1, "QLN-64", 0, 1, {})), 0);
}

TEST_F(Publica, SilentGatewayIsGoneFifteenSecondsAfterItsLastPacket) {
    pruebas::CTemporizadorManual t;
    CPublica p("QLN-PROPIA", false);
    ASSERT_EQ(p.ArmaEnvejecimiento(), 0);
    ASSERT_EQ(Aplica(p, Paquete(1, "QLN-X", 0, 1, {})), 0);
    RegistroPasarela r;
    t.Avanza(150);  // 15 s less one tick: four passes
    ASSERT_TRUE(p.DamePasarela("QLN-X", &r));
    EXPECT_EQ(r.iVida, 1);
    t.Avanza(1);
    EXPECT_FALSE(p.DamePasarela("QLN-X", &r));

    // One packet every 12 s keeps a gateway.
    for (int i = 0; i < 5; i++) {
        Aplica(p, Paquete(1, "QLN-Y", 0, 1, {}));
        t.Avanza(120);
        EXPECT_TRUE(p.DamePasarela("QLN-Y", &r)) << i;
    }
}

TEST_F(Publica, AgeingThatCouldNotBeArmedIsArmedAtTheNextPass) {
    pruebas::CTemporizadorManual t(1);
    const int iOtro = t.Objeto().Arma(1000, [](uintptr_t, uintptr_t, uintptr_t) -> uintptr_t { return 0; }, 0, 0, 0);
    ASSERT_EQ(iOtro, 0);
    CPublica p("QLN-PROPIA", false);
    EXPECT_EQ(p.ArmaEnvejecimiento(), -1);
    EXPECT_EQ(p.DameTempEnvejece(), -1);
    p.PasadaPublica();
    EXPECT_EQ(p.DameTempEnvejece(), -1) << "table still full";
    t.Objeto().Cancela(iOtro);
    p.PasadaPublica();
    EXPECT_EQ(p.DameTempEnvejece(), 0);
    // Fired and re-armed in the slot it freed: the slot is ours again, never a stale number.
    t.Avanza(31);
    EXPECT_EQ(p.DameTempEnvejece(), 0);
}

TEST_F(Publica, PacketsGoToTheGroupOnlyWhilePrincipalButVersionsAdvanceInStandby) {
    const int s = Receptor();
    CPublica p("QLN-PROPIA", false);
    p.ActualizaPublica("RD-01", Registro(3, 1, 2, 3).data(), 1, 0);
    p.PasadaPublica();
    std::vector<uint8_t> v = Recibe(s, 2000);
    ASSERT_EQ(v.size(), 108u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(v.data()) + 4), "QLN-PROPIA");

    oGestorDual.iEstadoDual = 1;  // standby
    const uint32_t uiAntes = p.DameVersion();
    p.ActualizaPublica("RD-01", Registro(4, 1, 2, 3).data(), 1, 0);
    p.PasadaPublica();
    EXPECT_TRUE(Recibe(s, 300).empty());
    EXPECT_EQ(p.DameVersion(), uiAntes + 1);

    oGestorDual.iEstadoDual = 0;
    {
        cfgCerrojo c(&oConfigPasarela.tMutex);
        oConfigPasarela.iCfgModoSistema = 1;
    }
    p.PasadaPublica();
    EXPECT_TRUE(Recibe(s, 300).empty());
    close(s);
}

TEST_F(Publica, WithoutConfiguredGroupPacketsGoToTheGroupReceptionListensOn) {
    {
        cfgCerrojo c(&oConfigPasarela.tMutex);
        oConfigPasarela.acGrupoMulticast[0] = '\0';
    }
    const int s = Receptor(kGrupoMulticastDefecto, PUERTO_MULTICAST_DEFECTO);
    CPublica p("QLN-PROPIA", false);
    p.ActualizaPublica("RD-01", Registro(3, 1, 2, 3).data(), 1, 0);
    p.PasadaPublica();
    EXPECT_EQ(Recibe(s, 2000).size(), 108u);
    close(s);
}

TEST_F(Publica, UnusableConfiguredGroupOrPortSendsWhereReceptionIs) {
    const int s = Receptor(kGrupoMulticastDefecto, PUERTO_MULTICAST_DEFECTO);
    CPublica p("QLN-PROPIA", false);
    p.ActualizaPublica("RD-01", Registro(3, 1, 2, 3).data(), 1, 0);
    struct Caso {
        const char* szGrupo;
        uint32_t uiPuerto;
    };
    const Caso casos[] = {{"300.1.2.3", kPuerto}, {"192.0.2.9", kPuerto}, {kGrupo, 65535}, {kGrupo, 70000}};
    for (const Caso& c : casos) {
        {
            cfgCerrojo cerrojo(&oConfigPasarela.tMutex);
            std::snprintf(oConfigPasarela.acGrupoMulticast, sizeof oConfigPasarela.acGrupoMulticast, "%s",
                          c.szGrupo);
            oConfigPasarela.uiPuertoMulticast = c.uiPuerto;
        }
        p.PasadaPublica();
        EXPECT_EQ(Recibe(s, 2000).size(), 108u) << c.szGrupo << ":" << c.uiPuerto;
    }
    close(s);
}

TEST_F(Publica, ThreadSendsAtOnceWhenWokenEvenIfTheWakeUpCameFirst) {
    const int s = Receptor();
    pruebas::CTemporizadorManual t;
    CPublica p("QLN-PROPIA");
    p.ActualizaPublica("RD-01", Registro(3, 1, 2, 3).data(), 1, 0);
    // The wake-up may come before the thread waits: it must not be lost.
    p.Despierta();
    std::vector<uint8_t> v = Recibe(s, 2500);
    ASSERT_EQ(v.size(), 108u);
    p.ActualizaPublica("RD-01", Registro(4, 1, 2, 3).data(), 1, 0);
    p.Despierta();
    v = Recibe(s, 2500);
    ASSERT_EQ(v.size(), 108u);
    EXPECT_EQ(v[95], 4);
    close(s);
}

}  // namespace
