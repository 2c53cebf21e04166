// The core's configuration sinks: time-synchronisation command lines and files, refused
// resource types, the published-state answers of the router, and the address check of texts
// that go into command lines.
#include <unistd.h>

#include <arpa/inet.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "ceventosencamina.h"
#include "ceventosgordos.h"
#include "ceventossuperec.h"
#include "cgestordual.h"
#include "sip/cpasagus.h"
#include "csuperec.h"
#include "ipcvortik.h"
#include "csimboard.h"
#include "hardware/hardware.h"
#include "cconfig.h"
#include "mainsupervisor.h"
#include "nombrehost.h"
#include "nucleo_pruebas.h"
#include "publica.h"
#include "sip/encaminauri.h"
#include "comun/tests/ficheros_pruebas.h"

namespace {

void SinEspera(unsigned int) {}

class Sincro : public ::testing::Test {
protected:
    void SetUp() override {
        placa = simboard::CSimBoard::Arranca();
        ASSERT_TRUE(placa);
        FijaEsperaSincro(SinEspera);
        ReiniciaMemoriaSincro();
    }
    void Servidores(const char* a, const char* b, const char* c) {
        const char* as[] = {a, b, c};
        for (int i = 0; i < 3; i++) std::snprintf(oConfigPasarela.szDirSrvNtp[i], 64, "%s", as[i]);
    }
    std::unique_ptr<simboard::CSimBoard> placa;
};

struct CasoSincro {
    const char* aszServidores[3];
    const char* szConf;
    const char* szScript;
    const char* szComandos;
};

TEST_F(Sincro, ServersGiveTheirCommandLinesAndFiles) {
    const CasoSincro casos[] = {
        {{"192.0.2.1", "", ""},
         "driftfile /etc/ntp.drift\nserver 192.0.2.1 burst iburst minpoll 4 maxpoll 4",
         "ntpdate -b -p 2 192.0.2.1 \nntpd -g -U 3\n",
         "killall -9 ntpd\nntpdate -b -p 2 192.0.2.1 \nntpd -g -U 3&\n"},
        {{"", "", "ntp.ejemplo.org"},
         "driftfile /etc/ntp.drift\nserver ntp.ejemplo.org burst iburst minpoll 4 maxpoll 4",
         "ntpdate -b -p 2 ntp.ejemplo.org \nntpd -g -U 3\n",
         "killall -9 ntpd\nntpdate -b -p 2 ntp.ejemplo.org \nntpd -g -U 3&\n"},
        {{"a-1.ejemplo", "10.0.0.1", "reloj"},
         "driftfile /etc/ntp.drift\nserver a-1.ejemplo burst iburst minpoll 4 maxpoll 4"
         "\nserver 10.0.0.1 burst iburst minpoll 4 maxpoll 4\nserver reloj burst iburst minpoll 4 maxpoll 4",
         "ntpdate -b -p 2 a-1.ejemplo \nntpdate -b -p 2 10.0.0.1 \nntpdate -b -p 2 reloj \nntpd -g -U 3\n",
         "killall -9 ntpd\nntpdate -b -p 2 a-1.ejemplo \nntpdate -b -p 2 10.0.0.1 \nntpdate -b -p 2 reloj \n"
         "ntpd -g -U 3&\n"},
        // A text that is no address nor host name never reaches a command line.
        {{"1.2.3.4; reboot", "10.0.0.2", "$(halt)"},
         "driftfile /etc/ntp.drift\nserver 10.0.0.2 burst iburst minpoll 4 maxpoll 4",
         "ntpdate -b -p 2 10.0.0.2 \nntpd -g -U 3\n",
         "killall -9 ntpd\nntpdate -b -p 2 10.0.0.2 \nntpd -g -U 3&\n"},
    };
    for (const auto& c : casos) {
        ReiniciaMemoriaSincro();
        std::remove((placa->Socket() + ".comandos").c_str());
        Servidores(c.aszServidores[0], c.aszServidores[1], c.aszServidores[2]);
        EXPECT_EQ(oEventosGordos.ReiniciaSincro(), 0);
        EXPECT_EQ(ficheros_pruebas::LeeTodo("/etc/ntp.conf"), c.szConf) << c.aszServidores[0];
        EXPECT_EQ(ficheros_pruebas::LeeTodo("/etc/ntp.sh"), c.szScript) << c.aszServidores[0];
        EXPECT_EQ(placa->Comandos(), c.szComandos) << c.aszServidores[0];
    }
}

TEST_F(Sincro, UnchangedServersDoNotRestartTheDaemonAfterTheFirstSetUp) {
    Servidores("192.0.2.1", "", "");
    oEventosGordos.EvtReiniciaSincro();
    const std::string sPrimera = placa->Comandos();
    EXPECT_NE(sPrimera, "");
    oEventosGordos.EvtReiniciaSincro();
    EXPECT_EQ(placa->Comandos(), sPrimera);
    Servidores("192.0.2.2", "", "");
    oEventosGordos.EvtReiniciaSincro();
    EXPECT_EQ(placa->Comandos(), sPrimera + "killall -9 ntpd\nntpdate -b -p 2 192.0.2.2 \nntpd -g -U 3&\n");
}

TEST_F(Sincro, RefusedServerIsLogged) {
    pruebas::CCapturaLog log;
    Servidores("x;y", "", "");
    oEventosGordos.EvtReiniciaSincro();
    EXPECT_EQ(log.Cuenta("MAIN: Servidor NTP 1 no valido"), 1);
}

// A simulated board outside a sandbox: /etc is the host's and keeps its files; the command
// lines still reach the board's command log.
TEST_F(Sincro, HostFilesAreNotWrittenOutsideASandbox) {
    const std::string sSandbox = std::getenv("VK_SANDBOX") ? std::getenv("VK_SANDBOX") : "";
    ASSERT_NE(sSandbox, "");
    std::ofstream("/etc/ntp.conf") << "del anfitrion";
    std::remove("/etc/ntp.sh");
    pruebas::CCapturaLog log;
    Servidores("192.0.2.1", "", "");
    unsetenv("VK_SANDBOX");
    const int r = oEventosGordos.ReiniciaSincro();
    setenv("VK_SANDBOX", sSandbox.c_str(), 1);
    EXPECT_EQ(r, 0);
    EXPECT_EQ(ficheros_pruebas::LeeTodo("/etc/ntp.conf"), "del anfitrion");
    EXPECT_NE(access("/etc/ntp.sh", F_OK), 0);
    EXPECT_EQ(log.Cuenta("MAIN: fuera de la placa"), 1);
    EXPECT_EQ(placa->Comandos(), "killall -9 ntpd\nntpdate -b -p 2 192.0.2.1 \nntpd -g -U 3&\n");
}

TEST_F(Sincro, VirtualAddressThatIsNoAddressStartsNoVrrp) {
    CGestorDual o;
    std::snprintf(o.ip_virtual, sizeof o.ip_virtual, "%s", "192.0.2.9;reboot");
    CGestorDual::IniciaVrrp(reinterpret_cast<uintptr_t>(&o), 0, 0);
    EXPECT_EQ(placa->Comandos().find("iniciaVRRP"), std::string::npos);
    std::snprintf(o.ip_virtual, sizeof o.ip_virtual, "%s", "192.0.2.50");
    CGestorDual::IniciaVrrp(reinterpret_cast<uintptr_t>(&o), 0, 0);
    EXPECT_NE(placa->Comandos().find("iniciaVRRP 23 192.0.2.50 50\n"), std::string::npos) << placa->Comandos();
}

TEST(TextoDireccion, AddressesAndHostNamesOnly) {
    struct {
        const char* s;
        bool b;
    } const casos[] = {
        {"192.0.2.1", true},     {"ntp.ejemplo.org", true}, {"reloj", true},        {"a-b.c", true},
        {"", false},             {"1.2.3", false},          {"256.1.1.1", false},   {"-a.b", false},
        {"a-.b", false},         {"a..b", false},           {"a.b.", false},        {"a b", false},
        {"a;reboot", false},     {"$(x)", false},           {"a|b", false},         {"a`b`", false},
        {"a\nb", false},         {"12345", false},
    };
    for (const auto& c : casos) EXPECT_EQ(EsDireccionOHost(c.s, 64), c.b) << c.s;
    // Read no further than the field's width.
    const char acSinFin[4] = {'a', 'b', 'c', 'd'};
    EXPECT_TRUE(EsDireccionOHost(acSinFin, sizeof acSinFin));
    std::string sLargo(64, 'a');
    EXPECT_FALSE(EsDireccionOHost((sLargo + "." + sLargo).c_str(), 200));
}

TEST(Recursos, TypesOutOfRangeAreRefusedAndFifteenAndSixteenHaveNoName) {
    pruebas::CCapturaLog log;
    cfgConfigRecurso& r = oConfigPasarela.asRecursos[3];
    r.iTipo = 2;
    r.iTipoIf = 17;
    EXPECT_EQ(oEventosGordos.ArrancaRecurso(3), -1);
    EXPECT_EQ(log.Cuenta("ERROR. Tipo_Rec/Tipo_If desconocido"), 1);
    EXPECT_EQ(oEventosGordos.ReconfiguraRecurso(3), -1);
    EXPECT_EQ(log.Cuenta("MAIN: No se arranca recurso 3 por tener tipo 2/17 erroneo."), 1);
    r.iTipo = 7;
    r.iTipoIf = 2;
    EXPECT_EQ(oEventosGordos.ArrancaRecurso(3), -1);
    r.iTipo = 2;
    r.iTipoIf = 16;
    oEventosGordos.ArrancaRecurso(3);
    EXPECT_EQ(log.Cuenta("MAIN: Arrancando recurso 3 de tipo AUDIO_TXRX/"), 1);
}

TEST(Recursos, ResetStopsTheCore) {
    EXPECT_FALSE(mainParando());
    oEventosGordos.EvtReset();
    EXPECT_TRUE(mainParando());
}

void EsperaCorta(uint32_t us) { std::this_thread::sleep_for(std::chrono::microseconds(us / 20)); }

TEST(Recursos, StopRemovesThePublicationOfTheNameTheResourceRanWith) {
    poPublica = new CPublica("PASARELA", false);
    superecFijaEspera(EsperaCorta);
    superecFijaConfig(&oConfigPasarela);
    superecFijaEventos(&oEventosSuperec);
    IpcVortik::Inicia();
    cfgConfigRecurso& r = oConfigPasarela.asRecursos[3];
    std::snprintf(r.nombre, sizeof r.nombre, "%s", "TLF-03");
    r.iTipo = 2;
    r.iTipoIf = 2;
    ASSERT_EQ(aoSupervisorRecurso[3].Inicia(3, &oPasaGus, &oGestorLlamada), 0);
    ASSERT_EQ(oEventosGordos.ArrancaRecurso(3), 0);
    // A state from the bridge makes the entry go out; it keeps the category the sink gave it.
    const uint8_t aucEstado[20] = {0, 1};
    ASSERT_EQ(poPublica->ActualizaPublica("TLF-03", aucEstado, 2, 3), 0);
    auto Entradas = [] {
        std::vector<uint8_t> v(PUB_TAM_BUFFER);
        const int n = poPublica->ConstruyePaquetePublica(v.data());
        std::vector<std::pair<std::string, uint32_t>> r;
        for (int o = 48; o + 60 <= n; o += 60) {
            uint32_t c;
            std::memcpy(&c, &v[o + 36], 4);
            r.emplace_back(reinterpret_cast<const char*>(&v[o]), ntohl(c));
        }
        return r;
    };
    const auto v = Entradas();
    ASSERT_EQ(v.size(), 1u);
    EXPECT_EQ(v[0].first, "TLF-03");
    EXPECT_EQ(v[0].second, 1u);
    // The configuration manager has taken the new image over before it fires the stop.
    r.nombre[0] = '\0';
    r.iTipoIf = 0;
    oEventosGordos.EvtDetieneRecurso(3);
    EXPECT_TRUE(Entradas().empty());
}

// A state packet of gateway "OTRA" with one entry.
void PublicaOtra(const char* szRecurso, uint32_t uiEstado, uint32_t uiPrio, uint32_t uiDato2, uint32_t uiDato3) {
    uint8_t ac[48 + 60] = {};
    auto Palabra = [&](int iOfs, uint32_t v) {
        v = htonl(v);
        std::memcpy(ac + iOfs, &v, 4);
    };
    Palabra(0, 1);
    std::memcpy(ac + 4, "OTRA", 4);
    Palabra(40, 1);
    Palabra(44, 1);
    std::memcpy(ac + 48, szRecurso, std::strlen(szRecurso));
    Palabra(48 + 36, 1);
    Palabra(48 + 40, 1);
    Palabra(48 + 44, uiEstado);
    Palabra(48 + 48, uiPrio);
    Palabra(48 + 52, uiDato2);
    Palabra(48 + 56, uiDato3);
    ASSERT_EQ(poPublica->ActualizaInfoEstado(ac, sizeof ac), 0);
}

TEST(EstadosPublicados, EntryPublishedByAnotherGatewayFillsTheFirstSlot) {
    poPublica = new CPublica("PASARELA", false);
    PublicaOtra("TLF-09", 3, 7, 8, 9);
    CandidatoEncamina p;
    std::memset(&p, 0, sizeof p);
    std::snprintf(p.acNombre, sizeof p.acNombre, "%s", "TLF-09");
    p.ucTipoIf = 5;
    EXPECT_EQ(oEventosEncamina.EvtPetListaDeEstadosPublicados(1, &p), 0);
    EXPECT_EQ(p.asEstado[0].ucEstado, 3);
    EXPECT_EQ(p.asEstado[0].iValor, 7);
    EXPECT_EQ(p.asEstado[0].aiExtra[0], 8);
    EXPECT_EQ(p.asEstado[0].aiExtra[1], 9);
    // Published resources have one state; the further slots must not read as idle.
    EXPECT_EQ(p.asEstado[1].ucEstado, 10);
    EXPECT_EQ(p.asEstado[2].ucEstado, 10);
}

// The gateway's own lines are in no other gateway's table: routing reads what this gateway
// publishes for them, else they would always read as busy.
TEST(EstadosPublicados, OwnResourceGetsTheStateThisGatewayPublishes) {
    poPublica = new CPublica("PASARELA", false);
    uint8_t acRegistro[20] = {};
    acRegistro[1] = 1;
    const int32_t iPrio = 4, iPalabra = 6;
    std::memcpy(acRegistro + 4, &iPrio, 4);
    std::memcpy(acRegistro + 12, &iPalabra, 4);
    ASSERT_EQ(poPublica->ActualizaPublica("R2-PROPIA", acRegistro, 1, 2), 0);
    CandidatoEncamina p;
    std::memset(&p, 0x55, sizeof p);
    std::snprintf(p.acNombre, sizeof p.acNombre, "%s", "R2-PROPIA");
    p.ucTipoIf = 5;
    EXPECT_EQ(oEventosEncamina.EvtPetListaDeEstadosPublicados(1, &p), 0);
    EXPECT_EQ(p.asEstado[0].ucEstado, 1);
    EXPECT_EQ(p.asEstado[0].iValor, 4);
    EXPECT_EQ(p.asEstado[0].aiExtra[1], 6);
    EXPECT_EQ(p.asEstado[1].ucEstado, 10);
}

// The core's routing: the plans reach the router on a plan change, and the call manager reads
// the states through the core's sink, the gateway's own lines included.
TEST(EstadosPublicados, RoutedCallTakesTheFreeLineOfTheLoadedPlan) {
    {
        cfgCerrojo l(&oConfigPasarela.tMutex);
        oConfigPasarela.iCfgModoSistema = 0;
        Central* c = oConfigPasarela.asPlanAts;
        std::memset(c, 0, 3 * sizeof *c);
        std::memcpy(c[0].asRangosOpe[0].desde, "100000", 6);
        std::memcpy(c[0].asRangosOpe[0].hasta, "109999", 6);
        std::memcpy(c[1].asRangosOpe[0].desde, "200000", 6);
        std::memcpy(c[1].asRangosOpe[0].hasta, "209999", 6);
        for (auto& r : c[0].asRutas) r.tipo = CFG_FIN_RUTAS;
        for (auto& r : c[1].asRutas) r.tipo = CFG_FIN_RUTAS;
        c[1].asRutas[0].tipo = 0;
        std::snprintf(c[1].asRutas[0].troncales[0], 64, "%s", "T1");
        c[2].centralpropia = CFG_FIN_PLAN_ATS;
        Troncal& t = oConfigPasarela.asTroncales[0];
        std::memset(&t, 0, sizeof t);
        std::snprintf(t.idtroncal, 64, "%s", "T1");
        t.miembros[0].tipo = 5;
        std::snprintf(t.miembros[0].id, 64, "%s", "R2-REMOTA");
        t.miembros[1].tipo = 5;
        std::snprintf(t.miembros[1].id, 64, "%s", "R2-PROPIA");
        oConfigPasarela.asTroncales[1].idtroncal[0] = '\0';
    }
    sipFijaConfig(&oConfigPasarela);
    oEventosGordos.EvtReconfiguraEncamina();
    poPublica = new CPublica("PASARELA", false);
    PublicaOtra("R2-REMOTA", 1, 9, 0, 1);
    uint8_t acRegistro[20] = {};
    ASSERT_EQ(poPublica->ActualizaPublica("R2-PROPIA", acRegistro, 1, 0), 0);
    oGestorLlamada.Inicia(&oEventosEncamina);

    auto Encamina = [](int cid) {
        DatosLlamadaGestor d;
        std::memset(&d, 0, sizeof d);
        std::snprintf(d.NumOrigen, sizeof d.NumOrigen, "%s", "100001");
        std::snprintf(d.NumDestino, sizeof d.NumDestino, "%s", "200001");
        d.ucPrioridad = 2;
        const int i = oGestorLlamada.EncaminaLlamadaEntrante(17, &d, cid, nullptr);
        if (i < 0 || oGestorLlamada.DameDatosLlamada(i, &d) != 0) return std::to_string(i);
        return std::string(d.UsuDestino);
    };
    EXPECT_EQ(Encamina(7), "R2-PROPIA");
    EXPECT_EQ(oGestorLlamada.FinEncaminaLlamada(17, 7), 0);
    acRegistro[1] = 1;
    ASSERT_EQ(poPublica->ActualizaPublica("R2-PROPIA", acRegistro, 1, 0), 0);
    EXPECT_EQ(Encamina(8), "-9") << "both lines busy";
    EXPECT_EQ(oGestorLlamada.NumLlamadas(), 0);
    sipFijaConfig(nullptr);
}

TEST(EstadosPublicados, ResourceNotPublishedElsewhereGetsStateTenInEverySlot) {
    poPublica = new CPublica("PASARELA", false);
    CandidatoEncamina as[2];
    std::memset(as, 0x55, sizeof as);
    std::snprintf(as[0].acNombre, sizeof as[0].acNombre, "%s", "TLF-01");
    std::snprintf(as[1].acNombre, sizeof as[1].acNombre, "%s", "R2-07");
    as[0].ucTipoIf = 2;
    as[1].ucTipoIf = 5;
    EXPECT_EQ(oEventosEncamina.EvtPetListaDeEstadosPublicados(2, as), 0);
    for (const auto& p : as)
        for (const auto& s : p.asEstado) {
            EXPECT_EQ(s.ucEstado, 10);
            EXPECT_EQ(s.iValor, 0);
        }
    EXPECT_EQ(oEventosEncamina.EvtPetListaDeEstadosPublicados(1, nullptr), -1);
}

}  // namespace
