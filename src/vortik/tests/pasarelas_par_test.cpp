// Two gateways in two sandboxes joined by a veth pair (scripts/sandbox-pair): each side is this
// program again, running the test Lado.Pasarela with VK_PAR_LADO set. Sides meet through files
// in the shared /tmp.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "cgestordual.h"
#include "csimboard.h"
#include "comun/ctemporizador.h"
#include "hardware/hardware.h"
#include "cconfig.h"
#include "temporizadorvortik.h"
#include "multicast.h"
#include "publica.h"
#include "red/tcpcons.h"

namespace {

const char* const kGrupo = "239.1.2.3";

bool Espera(const std::function<bool()>& f, int iMs = 20000) {
    const auto fin = std::chrono::steady_clock::now() + std::chrono::milliseconds(iMs);
    while (!f()) {
        if (std::chrono::steady_clock::now() > fin) return false;
        usleep(50000);
    }
    return true;
}

std::string Dir() { return std::getenv("VK_PAR_DIR") ? std::getenv("VK_PAR_DIR") : "/tmp"; }
void Marca(const std::string& s) { std::ofstream(Dir() + "/" + s) << "1"; }
bool HayMarca(const std::string& s) { return access((Dir() + "/" + s).c_str(), F_OK) == 0; }

int BuscaVirtual(const char*, char* szDir) {
    std::strcpy(szDir, "192.0.2.100");
    return 0;
}

// One gateway: configuration, timers, reception and publication as the core starts them.
void ArrancaPasarela(const char* szNombre, int iDual) {
    TcpCons::Inicia(0);
    {
        cfgCerrojo c(&oConfigPasarela.tMutex);
        oConfigPasarela.PonNombre(szNombre);
        oConfigPasarela.iCfgModoSistema = 0;
        oConfigPasarela.iDual = iDual;
        std::snprintf(oConfigPasarela.acGrupoMulticast, sizeof oConfigPasarela.acGrupoMulticast, "%s", kGrupo);
        oConfigPasarela.uiPuertoMulticast = 4000;
    }
    poTemporizador = new CTemporizador();
    poTemporizador->Inicia(32);
    mkdir("/home/rk82qln", 0755);
    std::ofstream(FicheroIniPasarela) << "[VRRP]\nDelayIniciaVrrp=100\n";
    CGestorDual::FijaBuscaDireccion(BuscaVirtual);
    oGestorDual.Inicia(nullptr, szNombre, iDual);
    ArrancaMulticast();
}

void Publica(const char* szRecurso, uint8_t ucEstado) {
    uint8_t aucRegistro[20] = {};
    aucRegistro[1] = ucEstado;
    const int32_t iPrioridad = 2;  // host order, as the resource process sends it
    std::memcpy(aucRegistro + 4, &iPrioridad, sizeof iPrioridad);
    poPublica->ActualizaPublica(szRecurso, aucRegistro, 1, 0);
    poPublica->Despierta();
}

// Both sides publish under their own names and wait to see the other's resource.
void LadoEstados(char cLado) {
    const char cOtro = cLado == 'A' ? 'B' : 'A';
    const std::string sNombre = std::string("QLN-") + cLado, sOtro = std::string("QLN-") + cOtro;
    ArrancaPasarela(sNombre.c_str(), 0);
    Publica((std::string("RD-") + cLado).c_str(), cLado == 'A' ? 3 : 4);
    const std::string sRecurso = std::string("RD-") + cOtro;
    ASSERT_TRUE(Espera([&] {
        const EntradaPublica* e = poPublica->DameEstadoRecurso(sOtro.c_str(), sRecurso.c_str());
        return e != nullptr && e->uiEstado == (cOtro == 'A' ? 3u : 4u) && e->uiPrioridad == 2;
    })) << cLado << " never saw " << sOtro;
    Marca(std::string("visto") + cLado);
    // Keep publishing until the other side has seen us too.
    EXPECT_TRUE(Espera([&] { return HayMarca(std::string("visto") + cOtro); }));
}

// A main/standby pair under one gateway name: the standby starts VRRP when it hears the
// principal; then the roles change over and the other board does the same.
void LadoDual(char cLado) {
    auto placa = simboard::CSimBoard::Arranca();
    ASSERT_TRUE(placa);
    ASSERT_EQ(IniciaHardware(), 0);
    ArrancaPasarela("QLN-PAR", 1);
    ASSERT_EQ(oGestorDual.DameEstadoDual(), 1);
    auto Vrrp = [&](int iPrio) {
        return placa->Comandos().find("iniciaVRRP " + std::to_string(iPrio) + " 192.0.2.100 100\n") !=
               std::string::npos;
    };
    if (cLado == 'A') {
        oGestorDual.PasaAPrincipal();  // as the role file would order it
        Publica("RD-1", 3);
        ASSERT_TRUE(Espera([] { return HayMarca("vrrpB"); }));
        EXPECT_EQ(placa->Comandos().find("iniciaVRRP"), std::string::npos) << "own packets are no partner";
        oGestorDual.PasaAReserva();
        Marca("reservaA");
        ASSERT_TRUE(Espera([&] { return Vrrp(23); })) << placa->Comandos();
        Marca("vrrpA");
    } else {
        ASSERT_TRUE(Espera([&] { return Vrrp(24); })) << placa->Comandos();
        Marca("vrrpB");
        ASSERT_TRUE(Espera([] { return HayMarca("reservaA"); }));
        oGestorDual.PasaAPrincipal();
        Publica("RD-1", 3);
        EXPECT_TRUE(Espera([] { return HayMarca("vrrpA"); }));
    }
}

TEST(Lado, Pasarela) {
    const char* szLado = std::getenv("VK_PAR_LADO");
    if (szLado == nullptr) GTEST_SKIP() << "one side of ParPasarelas; runs under scripts/sandbox-pair";
    const std::string sEscenario = std::getenv("VK_PAR_ESCENARIO") ? std::getenv("VK_PAR_ESCENARIO") : "";
    if (sEscenario == "dual")
        LadoDual(szLado[0]);
    else
        LadoEstados(szLado[0]);
}

int EjecutaPar(const char* szEscenario) {
    char acPropio[4096] = {};
    if (readlink("/proc/self/exe", acPropio, sizeof acPropio - 1) <= 0) return -1;
    std::string sFuente = __FILE__;
    const std::string sScript = sFuente.substr(0, sFuente.rfind("/src/vortik/tests/")) + "/scripts/sandbox-pair";
    // /tmp is shared by every test of the run, and process ids repeat across sandboxes.
    char acDir[] = "/tmp/par.XXXXXX";
    if (mkdtemp(acDir) == nullptr) return -1;
    const std::string sDir = acDir;
    setenv("VK_PAR_DIR", sDir.c_str(), 1);
    setenv("VK_PAR_ESCENARIO", szEscenario, 1);
    const std::string sLado = std::string(acPropio) + " --gtest_filter=Lado.Pasarela";
    const std::string sOrden = "timeout 60 " + sScript + " " + sLado + " -- " + sLado;
    const int r = std::system(sOrden.c_str());
    std::system(("rm -rf " + sDir).c_str());
    return r;
}

TEST(ParPasarelas, TwoGatewaysSeeEachOthersStatesOverTheLink) { EXPECT_EQ(EjecutaPar("estados"), 0); }

TEST(ParPasarelas, MainAndStandbyChangeRolesAndEachStartsVrrpOnHearingThePrincipal) {
    EXPECT_EQ(EjecutaPar("dual"), 0);
}

}  // namespace
