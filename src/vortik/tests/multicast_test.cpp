// Multicast reception on the sandbox's eth0: the receiving thread follows the configured group
// and port, applies what arrives, and hands the pair partner's packets to the redundancy manager.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "cgestordual.h"
#include "cconfig.h"
#include "multicast.h"
#include "nucleo_pruebas.h"
#include "publica.h"
#include "red/tcpcons.h"
#include "temporizador_pruebas.h"

namespace {

const char* const kGrupo = "239.1.2.3";

void EsperaCorta(unsigned int uiMs) { usleep((uiMs < 20 ? uiMs : 20) * 1000); }

bool Espera(const std::function<bool()>& f, int iMs = 8000) {
    const auto fin = std::chrono::steady_clock::now() + std::chrono::milliseconds(iMs);
    while (!f()) {
        if (std::chrono::steady_clock::now() > fin) return false;
        usleep(20000);
    }
    return true;
}

std::vector<uint8_t> Paquete(const char* szQln, const char* szRecurso) {
    std::vector<uint8_t> v(108, 0);
    v[3] = 1;
    std::memcpy(&v[4], szQln, std::strlen(szQln));
    v[43] = 1;
    v[47] = 1;
    std::memcpy(&v[48], szRecurso, std::strlen(szRecurso));
    v[48 + 39] = 1;
    v[48 + 47] = 3;
    return v;
}

void EnviaGrupo(const std::vector<uint8_t>& v, int iPuerto, const char* szGrupo = kGrupo) {
    int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in d{};
    d.sin_family = AF_INET;
    d.sin_port = htons(static_cast<uint16_t>(iPuerto));
    inet_pton(AF_INET, szGrupo, &d.sin_addr);
    sendto(s, v.data(), v.size(), 0, reinterpret_cast<sockaddr*>(&d), sizeof d);
    close(s);
}

void FijaPuerto(uint32_t uiPuerto) {
    cfgCerrojo c(&oConfigPasarela.tMutex);
    oConfigPasarela.uiPuertoMulticast = uiPuerto;
}

void FijaGrupo(const char* szGrupo, uint32_t uiPuerto) {
    cfgCerrojo c(&oConfigPasarela.tMutex);
    std::snprintf(oConfigPasarela.acGrupoMulticast, sizeof oConfigPasarela.acGrupoMulticast, "%s", szGrupo);
    oConfigPasarela.uiPuertoMulticast = uiPuerto;
}

std::string GrupoActual() {
    char ac[65];
    uint16_t us;
    mcastDameGrupo(ac, &us);
    return ac;
}

class Multicast : public ::testing::Test {
protected:
    void SetUp() override {
        TcpCons::Inicia(0);
        mcastFijaEspera(EsperaCorta);
        {
            cfgCerrojo c(&oConfigPasarela.tMutex);
            oConfigPasarela.PonNombre("QLN-PROPIA");
            oConfigPasarela.iCfgModoSistema = 0;
            std::snprintf(oConfigPasarela.acGrupoMulticast, sizeof oConfigPasarela.acGrupoMulticast, "%s", kGrupo);
            oConfigPasarela.uiPuertoMulticast = 4000;
        }
    }
    void Arranca() {
        ArrancaMulticast();
        ASSERT_NE(poPublica, nullptr);
        ASSERT_TRUE(Espera([] { return mcastDamePuerto() == 4001; }));
    }
    static bool Conoce(const char* szQln) {
        RegistroPasarela r;
        return poPublica->DamePasarela(szQln, &r);
    }
    // Never destroyed: the publisher ArrancaMulticast starts arms it from its thread until the
    // process ends.
    pruebas::CTemporizadorManual& t = *new pruebas::CTemporizadorManual;
};

TEST_F(Multicast, OwnLoopedBackPacketsFillTheTableButOnlyAPartnerReachesTheRedundancyManager) {
    oGestorDual.Inicia(nullptr, "QLN-PROPIA", 0);
    oGestorDual.idualidad = 1;
    Arranca();
    poPublica->Despierta();
    EXPECT_TRUE(Espera([] { return Conoce("QLN-PROPIA"); }));
    EXPECT_FALSE(oGestorDual.bVrrpPendiente) << "the board's own packet is not a partner";

    // The same name from another board of the pair: the partner publishes, so it is principal.
    const std::vector<uint8_t> v = Paquete("QLN-PROPIA", "RD-P");
    mcastTrataPaquete(v.data(), static_cast<int>(v.size()), inet_addr("192.0.2.23"));
    EXPECT_FALSE(oGestorDual.bVrrpPendiente);
    mcastTrataPaquete(v.data(), static_cast<int>(v.size()), inet_addr("192.0.2.24"));
    EXPECT_TRUE(oGestorDual.bVrrpPendiente);
    // Another gateway's packet is only applied.
    oGestorDual.bVrrpPendiente = false;
    const std::vector<uint8_t> w = Paquete("QLN-OTRA", "RD-O");
    mcastTrataPaquete(w.data(), static_cast<int>(w.size()), inet_addr("192.0.2.24"));
    EXPECT_FALSE(oGestorDual.bVrrpPendiente);
    EXPECT_TRUE(Conoce("QLN-OTRA"));
}

TEST_F(Multicast, NothingReachesTheRedundancyManagerBeforeItHasARole) {
    poPublica = new CPublica("QLN-PROPIA", false);
    // Reception runs before the manager is started: a half-started one is left alone.
    oGestorDual.idualidad = 1;
    std::snprintf(oGestorDual.szNombre, sizeof oGestorDual.szNombre, "QLN-PROPIA");
    const std::vector<uint8_t> v = Paquete("QLN-PROPIA", "RD-P");
    mcastTrataPaquete(v.data(), static_cast<int>(v.size()), inet_addr("192.0.2.24"));
    EXPECT_FALSE(oGestorDual.bVrrpPendiente);
    EXPECT_TRUE(Conoce("QLN-PROPIA")) << "the table is fed all the same";
}

TEST_F(Multicast, PortChangeMovesReception) {
    pruebas::CCapturaLog log;
    Arranca();
    EnviaGrupo(Paquete("QLN-X", "RD-X"), 4001);
    EXPECT_TRUE(Espera([] { return Conoce("QLN-X"); }));

    FijaPuerto(5000);
    ASSERT_TRUE(Espera([] { return mcastDamePuerto() == 5001; }));
    EXPECT_EQ(log.Cuenta("CAMBIA CONFI multicast_ip 239.1.2.3-239.1.2.3 multicast_port 4000-5000"), 1);
    EXPECT_EQ(log.Cuenta("DetieneSock: sock_cfg -1"), 2) << "default group left, then 4001";
    EnviaGrupo(Paquete("QLN-VIEJO", "RD-V"), 4001);
    EnviaGrupo(Paquete("QLN-NUEVO", "RD-N"), 5001);
    EXPECT_TRUE(Espera([] { return Conoce("QLN-NUEVO"); }));
    EXPECT_FALSE(Conoce("QLN-VIEJO"));
}

TEST_F(Multicast, PublicationGoesWhereReceptionIsWhileTheConfigurationNamesNoGroup) {
    Arranca();
    {
        cfgCerrojo c(&oConfigPasarela.tMutex);
        oConfigPasarela.acGrupoMulticast[0] = '\0';
    }
    // Reception goes back to the default pair; the gateway's own packet must come
    // back to it there.
    ASSERT_TRUE(Espera([] { return GrupoActual() == kGrupoMulticastDefecto; }));
    poPublica->Despierta();
    EXPECT_TRUE(Espera([] { return Conoce("QLN-PROPIA"); }));
    EXPECT_EQ(mcastDamePuerto(), PUERTO_MULTICAST_DEFECTO + 1);
}

TEST_F(Multicast, WithoutConfiguredGroupOrPortReceptionStaysOnTheDefaultGroup) {
    pruebas::CCapturaLog log;
    {
        cfgCerrojo c(&oConfigPasarela.tMutex);
        oConfigPasarela.acGrupoMulticast[0] = '\0';
    }
    // A datagram before the publication object exists is dropped.
    const std::vector<uint8_t> v = Paquete("QLN-ANTES", "RD-A");
    mcastTrataPaquete(v.data(), static_cast<int>(v.size()), inet_addr("192.0.2.24"));
    ArrancaMulticast();
    ASSERT_NE(poPublica, nullptr);
    ASSERT_TRUE(Espera([] { return mcastDamePuerto() == PUERTO_MULTICAST_DEFECTO + 1; }));
    EXPECT_FALSE(Conoce("QLN-ANTES"));
    EnviaGrupo(Paquete("QLN-D", "RD-D"), PUERTO_MULTICAST_DEFECTO + 1, kGrupoMulticastDefecto);
    EXPECT_TRUE(Espera([] { return Conoce("QLN-D"); }));

    // A group with a zero port keeps the current membership too.
    {
        cfgCerrojo c(&oConfigPasarela.tMutex);
        std::snprintf(oConfigPasarela.acGrupoMulticast, sizeof oConfigPasarela.acGrupoMulticast, "%s", kGrupo);
        oConfigPasarela.uiPuertoMulticast = 0;
    }
    // The pass after this packet reads the configuration; the next one must still arrive.
    EnviaGrupo(Paquete("QLN-E", "RD-E"), PUERTO_MULTICAST_DEFECTO + 1, kGrupoMulticastDefecto);
    EXPECT_TRUE(Espera([] { return Conoce("QLN-E"); }));
    EnviaGrupo(Paquete("QLN-F", "RD-F"), PUERTO_MULTICAST_DEFECTO + 1, kGrupoMulticastDefecto);
    EXPECT_TRUE(Espera([] { return Conoce("QLN-F"); }, 4000));
    EXPECT_EQ(mcastDamePuerto(), PUERTO_MULTICAST_DEFECTO + 1);
    EXPECT_EQ(log.Cuenta("CAMBIA CONFI"), 0);
}

// Group and port are one pair: whatever the image leaves out or gets wrong, reception goes back
// to the default pair whole, never to half of the last one.
TEST_F(Multicast, InvalidGroupOrPortIsRefusedAndAnImageWithoutGroupReturnsToTheDefault) {
    struct Caso {
        const char* szGrupo;
        uint32_t uiPuerto;
        const char* szLog;  // the refusal logged, once
    };
    const Caso kCasos[] = {
        {"300.1.2.3", 65535, "Multicast: puerto 65535 no valido, se usa el par por defecto"},
        {"239.1.2.4", 70000, "Multicast: puerto 70000 no valido, se usa el par por defecto"},
        {"192.0.2.50", 4000, "Multicast: grupo 192.0.2.50 no valido, se usa el par por defecto"},
        {"", 4000, nullptr},
        {kGrupo, 0, nullptr},
    };
    pruebas::CCapturaLog log;
    Arranca();
    for (const Caso& c : kCasos) {
        {
            cfgCerrojo l(&oConfigPasarela.tMutex);
            std::snprintf(oConfigPasarela.acGrupoMulticast, sizeof oConfigPasarela.acGrupoMulticast, "%s", c.szGrupo);
            oConfigPasarela.uiPuertoMulticast = c.uiPuerto;
        }
        ASSERT_TRUE(Espera([] { return GrupoActual() == kGrupoMulticastDefecto && mcastDamePuerto() == 1001; }))
            << c.szGrupo << ":" << c.uiPuerto;
        // Sent again until it arrives: the thread may still be joining.
        const std::string sQln = std::string("QLN-") + c.szGrupo + "-" + std::to_string(c.uiPuerto);
        EXPECT_TRUE(Espera([&] {
            EnviaGrupo(Paquete(sQln.c_str(), "RD-D"), 1001, kGrupoMulticastDefecto);
            return Conoce(sQln.c_str());
        }));
        if (c.szLog) {
            EXPECT_EQ(log.Cuenta(c.szLog), 1);
        }
        // Back to the configured pair for the next case.
        FijaGrupo(kGrupo, 4000);
        ASSERT_TRUE(Espera([] { return GrupoActual() == kGrupo && mcastDamePuerto() == 4001; }));
    }
    EXPECT_EQ(log.Cuenta("no valido"), 4);  // 300.1.2.3 and 65535 make two
}

TEST_F(Multicast, FailedRejoinIsRetriedAtTheNextPass) {
    Arranca();
    // A socket that does not share its port keeps the new port busy.
    int iTapon = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(6001);
    ASSERT_EQ(bind(iTapon, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    FijaPuerto(6000);
    ASSERT_TRUE(Espera([] { return mcastDameSocket() < 0; }));
    usleep(200000);
    EXPECT_LT(mcastDameSocket(), 0);
    close(iTapon);
    ASSERT_TRUE(Espera([] { return mcastDamePuerto() == 6001; }));
    EnviaGrupo(Paquete("QLN-TARDE", "RD-T"), 6001);
    EXPECT_TRUE(Espera([] { return Conoce("QLN-TARDE"); }));
}

TEST_F(Multicast, ReceivingSocketSharesItsPortAndNeedsNoDebugPrivilege) {
    const int s1 = ArrancaSock(kGrupo, 7001);
    const int s2 = ArrancaSock(kGrupo, 7001);
    ASSERT_GE(s1, 0);
    ASSERT_GE(s2, 0);
    int iValor = -1;
    socklen_t l = sizeof iValor;
    ASSERT_EQ(getsockopt(s1, SOL_SOCKET, SO_DEBUG, &iValor, &l), 0);
    EXPECT_EQ(iValor, 0);
    ASSERT_EQ(getsockopt(s1, SOL_SOCKET, SO_REUSEADDR, &iValor, &l), 0);
    EXPECT_EQ(iValor, 1);
    ip_mreq m{};
    inet_pton(AF_INET, kGrupo, &m.imr_multiaddr);
    pruebas::CCapturaLog log;
    EXPECT_EQ(DetieneSock(-1, s1, &m), 0);
    EXPECT_EQ(log.Cuenta("DetieneSock: sock_cfg -1"), 1);
    EXPECT_EQ(log.Cuenta(" close(sock_publica)"), 1);
    close(s2);
}

}  // namespace
