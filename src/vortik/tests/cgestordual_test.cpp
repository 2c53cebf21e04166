// Redundancy manager on the simulated board: role changes, environment outputs, the VRRP start
// and the reboot orders (in the board's command log), timers stepped by the test.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ceventosdual.h"
#include "cgestordual.h"
#include "csimboard.h"
#include "csuperec.h"
#include "hardware/hardware.h"
#include "cconfig.h"
#include "nucleo_pruebas.h"
#include "red/tcpcons.h"
#include "sip/encaminauri.h"
#include "temporizador_pruebas.h"

namespace {

int BuscaVirtual(const char*, char* szDir) {
    std::strcpy(szDir, "10.0.0.100");
    return 0;
}
int BuscaOtraVirtual(const char*, char* szDir) {
    std::strcpy(szDir, "10.0.0.101");
    return 0;
}
int SinVirtual(const char*, char*) { return -1; }

class Sumidero : public CGestorDual::CEventos {
public:
    int EvtCambioEstadoDual(int iEstado) override {
        vRoles.push_back(iEstado);
        return 0;
    }
    std::vector<int> vRoles;
};

class GestorDual : public ::testing::Test {
protected:
    void SetUp() override {
        placa = simboard::CSimBoard::Arranca();
        ASSERT_TRUE(placa);
        ASSERT_EQ(IniciaHardware(), 0);
        TcpCons::Inicia(0);
        CGestorDual::FijaBuscaDireccion(BuscaVirtual);
        CGestorDual::FijaPausaReinicio(0);
        mkdir("/home/rk82qln", 0755);
    }
    void TearDown() override { CGestorDual::FijaBuscaDireccion(nullptr); }
    static void EscribeIni(const std::string& s) {
        std::ofstream f(FicheroIniPasarela, std::ios::trunc);
        f << s;
    }
    int Cuenta(const std::string& sTexto) {
        const std::string c = placa->Comandos();
        int n = 0;
        for (size_t i = c.find(sTexto); i != std::string::npos; i = c.find(sTexto, i + 1)) n++;
        return n;
    }

    std::unique_ptr<simboard::CSimBoard> placa;
    pruebas::CTemporizadorManual t;
    Sumidero s;
    CGestorDual g;
};

TEST_F(GestorDual, DelayOfTheVrrpStartComesFromTheIniFile) {
    struct Caso {
        const char* szIni;  // null: no file
        int iTicks;
    };
    const Caso casos[] = {{nullptr, 20},
                          {"[VRRP]\nDelayIniciaVrrp=2000\n", 20},
                          {"[VRRP]\nDelayIniciaVrrp=9999\n", 99},
                          {"[VRRP]\nDelayIniciaVrrp=10000\n", 20},
                          {"[VRRP]\nDelayIniciaVrrp=500\n", 5},
                          {"[VRRP]\nDelayIniciaVrrp=\n", 20}};
    for (const Caso& c : casos) {
        pruebas::CCapturaLog log;
        if (c.szIni)
            EscribeIni(c.szIni);
        else
            unlink(FicheroIniPasarela);
        g.Inicia(nullptr, "QLN", 1);
        EXPECT_EQ(g.idelayIniciaVrrp, c.iTicks) << (c.szIni ? c.szIni : "no file");
        EXPECT_EQ(log.Cuenta("CGestorDual:Inicia: No encuentra fichero /home/rk82qln/wt7ppelm.ini"), c.szIni ? 0 : 1);
    }
}

TEST_F(GestorDual, SingleBoardIsPrincipalFromTheStartAndTellsItsSinkOnce) {
    g.Inicia(&s, "QLN", 0);
    EXPECT_EQ(g.DameEstadoDual(), 0);
    EXPECT_EQ(s.vRoles, std::vector<int>{0});
    g.PasaAPrincipal();
    EXPECT_EQ(s.vRoles, std::vector<int>{0});
    g.PasaAReserva();
    g.PasaAReserva();
    EXPECT_EQ(s.vRoles, (std::vector<int>{0, 1}));
    EXPECT_EQ(g.ip_virtual, std::string("10.0.0.100"));
}

TEST_F(GestorDual, OutputsConnectOnlyWhilePrincipalAndConnectedAndAreNotRedrivenByARepeatedRequest) {
    g.Inicia(&s, "QLN", 1);
    EXPECT_EQ(g.DameEstadoDual(), 1);
    g.CambioEntorno(1);
    EXPECT_EQ(placa->Valor("entorno"), 0u);
    g.PasaAPrincipal();
    EXPECT_EQ(placa->Valor("entorno"), 1u);
    placa->Orden("entorno 7");
    g.PasaAPrincipal();
    EXPECT_EQ(placa->Valor("entorno"), 7u) << "already principal: outputs untouched";
    g.CambioEntorno(0);
    EXPECT_EQ(placa->Valor("entorno"), 0u);
}

TEST_F(GestorDual, ConnectIsolateConnectKeepsOneVrrpStartAndStopsTheDaemonOnceBetween) {
    g.Inicia(&s, "QLN", 1);
    g.CambioEntorno(1);
    g.CambioEntorno(1);
    g.CambioEntorno(0);
    g.CambioEntorno(1);
    EXPECT_EQ(Cuenta("killall vrrpd"), 1);
    EXPECT_EQ(Cuenta("/mnt/ramfs/vrrpReserva.sh"), 1);
    t.Avanza(20);
    EXPECT_EQ(Cuenta("iniciaVRRP"), 0) << "2 s delay: 20 ticks fire on the 21st";
    t.Avanza(1);
    // eth0 is 192.0.2.23 in the sandbox: priority 23.
    EXPECT_EQ(Cuenta("iniciaVRRP 23 10.0.0.100 100\n"), 1);
    t.Avanza(100);
    EXPECT_EQ(Cuenta("iniciaVRRP"), 1);
}

TEST_F(GestorDual, VrrpStartPendingInTimerSlotZeroBlocksASecondOne) {
    g.Inicia(&s, "QLN", 0);
    g.idualidad = 1;
    char acTexto[68] = "QLN";
    acTexto[65] = 'P';
    EXPECT_EQ(g.CompruebaMensajeDual(acTexto), 0);
    EXPECT_EQ(g.iTempVrrp, 0);
    EXPECT_EQ(g.CompruebaMensajeDual(acTexto), 0);
    t.Avanza(21);
    EXPECT_EQ(Cuenta("iniciaVRRP"), 1);
    EXPECT_NE(g.CompruebaMensajeDual("OTRA"), 0);
}

TEST_F(GestorDual, FullTimerTableDoesNotBlockLaterVrrpStarts) {
    pruebas::CTemporizadorManual t1(1);
    const int iOtro = t1.Objeto().Arma(1000, [](uintptr_t, uintptr_t, uintptr_t) -> uintptr_t { return 0; }, 0, 0, 0);
    g.Inicia(&s, "QLN", 0);
    g.idualidad = 1;
    char acTexto[68] = "QLN";
    g.CompruebaMensajeDual(acTexto);
    EXPECT_FALSE(g.bVrrpPendiente);
    t1.Objeto().Cancela(iOtro);
    g.CompruebaMensajeDual(acTexto);
    EXPECT_TRUE(g.bVrrpPendiente);
    t1.Avanza(21);
    EXPECT_EQ(Cuenta("iniciaVRRP 23 10.0.0.100 100\n"), 1);
}

// The core's own look-up: the gateway's name in the IP addressing plan (routing mode), or the
// configured virtual address in the other modes.
TEST_F(GestorDual, VrrpStartsFromTheConfiguredVirtualAddress) {
    CGestorDual::FijaBuscaDireccion(nullptr);
    sipFijaConfig(&oConfigPasarela);
    {
        cfgCerrojo l(&oConfigPasarela.tMutex);
        oConfigPasarela.iCfgModoSistema = 0;
        std::snprintf(oConfigPasarela.asDireccionamientoIp[4].idhost, 64, "%s", "QLN");
        std::snprintf(oConfigPasarela.asDireccionamientoIp[4].dirip1, 64, "%s", "10.0.0.77");
    }
    g.Inicia(&s, "QLN", 1);
    g.CambioEntorno(1);
    t.Avanza(21);
    EXPECT_EQ(Cuenta("iniciaVRRP 23 10.0.0.77 77\n"), 1);

    CGestorDual o;
    {
        cfgCerrojo l(&oConfigPasarela.tMutex);
        oConfigPasarela.iCfgModoSistema = 1;
        std::snprintf(oConfigPasarela.szDirVirtual, 64, "%s", "10.0.0.88");
    }
    o.Inicia(&s, "OTRO-NOMBRE", 1);
    EXPECT_STREQ(o.ip_virtual, "10.0.0.88");
    sipFijaConfig(nullptr);
}

TEST_F(GestorDual, WithoutVirtualAddressVrrpIsNeverStarted) {
    CGestorDual::FijaBuscaDireccion(SinVirtual);
    g.Inicia(&s, "QLN", 1);
    g.CambioEntorno(1);
    t.Avanza(21);
    EXPECT_EQ(Cuenta("iniciaVRRP"), 0);
    EXPECT_FALSE(g.bVrrpPendiente);
}

TEST_F(GestorDual, PeriodicCheckRebootsWhenTheVirtualAddressOrTheDualSettingChanges) {
    oConfigPasarela.iDual = 1;
    g.Inicia(&s, "QLN", 1);
    t.Avanza(101);
    EXPECT_EQ(Cuenta("reboot"), 0);
    {
        pruebas::CCapturaLog log;
        CGestorDual::FijaBuscaDireccion(BuscaOtraVirtual);
        t.Avanza(100);
        EXPECT_EQ(Cuenta("reboot"), 1);
        EXPECT_EQ(log.Cuenta("GestorDualidad: Cambia ip virtual. Reinicio"), 1);
    }
    CGestorDual::FijaBuscaDireccion(BuscaVirtual);
    pruebas::CCapturaLog log;
    oConfigPasarela.iDual = 0;
    t.Avanza(100);
    EXPECT_EQ(Cuenta("reboot"), 2);
    EXPECT_EQ(log.Cuenta("GestorDualidad: Cambia dualidad a 0"), 1);
}

TEST_F(GestorDual, ReserveRoleReachesEverySupervisorAndTheAgent) {
    pruebas::CAgenteSnmp agente;
    ASSERT_TRUE(agente.Abierto());
    g.Inicia(&oEventosDual, "QLN", 0);
    EXPECT_EQ(agente.Espera("V,N04", 1000), "V,N04,1,2");
    for (auto& r : aoSupervisorRecurso) EXPECT_EQ(r.iModoReserva, 0);
    g.PasaAReserva();
    EXPECT_EQ(agente.Espera("V,N04", 1000), "V,N04,2,1");
    for (auto& r : aoSupervisorRecurso) EXPECT_EQ(r.iModoReserva, 1);
}

}  // namespace
