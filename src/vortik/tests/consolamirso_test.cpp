// Console commands over a real TCP connection to the core's console port, the simulated board
// for the DSP reset, the agent stand-in for the injected switch-over order.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cgest.h"
#include "consolamirso.h"
#include "csimboard.h"
#include "csuperec.h"
#include "hardware/hardware.h"
#include "cconfig.h"
#include "mainsupervisor.h"
#include "mantenimiento.h"
#include "versionvortik.h"
#include "nucleo_pruebas.h"
#include "publica.h"
#include "red/tcpcons.h"
#include "volcadocfg.h"

namespace {

class ClienteConsola {
public:
    ClienteConsola() {
        fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(kPuertoConsola);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bConectado = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~ClienteConsola() { close(fd); }
    // One line as a terminal sends it: the text and a NUL.
    void Envia(const std::string& s) { send(fd, s.c_str(), s.size() + 1, MSG_NOSIGNAL); }
    // Bytes without the terminating NUL: a line not finished yet.
    void EnviaSinFin(const std::string& s) { send(fd, s.data(), s.size(), MSG_NOSIGNAL); }
    // Text received (keep-alive NULs left out) up to and including sFin; "" after 6 s without it
    // (the receive thread may sleep 2 s before it sees a new connection).
    std::string Espera(const std::string& sFin) {
        const auto fin = std::chrono::steady_clock::now() + std::chrono::seconds(6);
        size_t p;
        while ((p = sRecibido.find(sFin)) == std::string::npos) {
            if (std::chrono::steady_clock::now() > fin) return "";
            pollfd pf{fd, POLLIN, 0};
            if (poll(&pf, 1, 50) != 1) continue;
            char ac[4096];
            const ssize_t n = recv(fd, ac, sizeof ac, 0);
            if (n <= 0) return "";
            for (ssize_t i = 0; i < n; i++)
                if (ac[i] != '\0') sRecibido += ac[i];
        }
        std::string s = sRecibido.substr(0, p + sFin.size());
        sRecibido.erase(0, p + sFin.size());
        return s;
    }
    bool bConectado = false;

private:
    int fd = -1;
    std::string sRecibido;
};

// B on channel 0, both prompts answered on the same connection.
void BssCanal0(ClienteConsola& c, int iCalidad) {
    c.Envia("B0");
    EXPECT_NE(c.Espera("Metodo:\n"), "");
    c.Envia("1");
    EXPECT_NE(c.Espera("Calidad:\n"), "");
    c.Envia(std::to_string(iCalidad));
    EXPECT_NE(c.Espera("Nuevo valor bss: " + std::to_string(iCalidad) + " para canal 0\n"), "");
}

class Consola : public ::testing::Test {
protected:
    void SetUp() override {
        placa = simboard::CSimBoard::Arranca();
        ASSERT_TRUE(placa);
        ASSERT_EQ(IniciaHardware(), 0);
        CargaConfigPrueba(&oConfigPasarela);
        superecFijaConfig(&oConfigPasarela);
        ASSERT_EQ(TcpCons::Inicia(kPuertoConsola), 0);
        ArrancaConsola();
    }
    std::unique_ptr<simboard::CSimBoard> placa;
};

TEST_F(Consola, CommandsAnswerOnTheConnectionAndAnEmptyLineRepeatsTheLastOne) {
    ClienteConsola c;
    ASSERT_TRUE(c.bConectado);
    const std::string kPista = "Escribe \"?\" para la ayuda, anda.\n";

    c.Envia("?");
    const std::string sAyuda = c.Espera("umbral de ocupacion \n");
    EXPECT_NE(sAyuda.find("zq4m-qln Vers. 1.0.0\nBuild: QUARVELD 2017-01-20 09:03:24\n\n"), std::string::npos);

    // A negative channel is no channel: general statistics, never an index.
    c.Envia("E-1");
    const std::string sGeneral = c.Espera("\nSubsistema SIP:\n");
    EXPECT_NE(sGeneral.find("Estadisticas generales \n\nVortik QLN V1.0.0 operativo desde "), std::string::npos);
    EXPECT_NE(sGeneral.find("ID QLN = "), std::string::npos);
    EXPECT_NE(sGeneral.find("Recursos        = 1\nSistema        No actualizado\nModo Dualidad  No actualizado\n"),
              std::string::npos);
    EXPECT_NE(sGeneral.find("\nLista de mutex bloqueados:\n"), std::string::npos);

    c.Envia("E0");
    EXPECT_NE(c.Espera("Tipo IF: RADIO\n").find("-------------------------------------------\n Estadisticas canal 0 "
                                                "Posicion 0 \n-------------------------------------------\n"
                                                "    Tipo: AUDIO_TXRX,  Tipo IF: RADIO\n"),
              std::string::npos);
    c.Envia("\n");
    EXPECT_NE(c.Espera("Tipo IF: RADIO\n"), "") << "empty line repeats E0";

    // I with a channel out of range dumps record 0; I is not repeated.
    c.Envia("I-3");
    const std::string sParam = c.Espera("ActivoRx= A\n");
    EXPECT_NE(sParam.find("---------   PARAMETROS PASARELA Canal 0  -----------------\n"), std::string::npos);
    EXPECT_NE(sParam.find("Conmutacion = M\nClimax_Delay = 1\nLLamadaAutomatica= 1\nEMPLAZAMIENTO-0\n"),
              std::string::npos);
    c.Envia("\n");
    c.Envia("x");
    EXPECT_EQ(c.Espera(kPista).find("PARAMETROS"), std::string::npos);

    c.Envia("O8000");
    EXPECT_NE(c.Espera("Nivel de consola=0x8000\n"), "");
    EXPECT_EQ(oConfigPasarela.iNivelConsola, 0x8000);
    EXPECT_EQ(TcpCons::MascaraTraza(), 0x8000u);
    c.Envia("O");
    EXPECT_NE(c.Espera("Nivel de consola=0x8000\n"), "");

    c.Envia("D0D300");
    EXPECT_NE(c.Espera("Suma delay 300 ms al recurso 0\n" + kPista), "");
    c.Envia("D-1D5");
    EXPECT_EQ(c.Espera(kPista), kPista);
    c.Envia("D0U64");
    EXPECT_NE(c.Espera("Recurso 0 - Umbral Ocupacion64\n" + kPista), "");

    BssCanal0(c, 7);

    for (const char* sz : {"r", "f", "Z"}) {
        c.Envia(sz);
        EXPECT_EQ(c.Espera(kPista), kPista) << sz;
    }

    c.Envia("R");
    EXPECT_NE(c.Espera("Reset DSP\n"), "");
    EXPECT_EQ(placa->PulsosResetDsp(), 1u);
    c.Envia("\n");  // R is not repeated
    c.Envia("?");
    EXPECT_EQ(c.Espera("umbral de ocupacion \n").find("Reset DSP"), std::string::npos);
    EXPECT_EQ(placa->PulsosResetDsp(), 1u);
}

TEST_F(Consola, PublicationTableAndInjectedSwitchOverOrder) {
    pruebas::CAgenteSnmp agente;
    ASSERT_TRUE(agente.Abierto());
    poPublica = new CPublica("QLN-PROPIA", false);
    std::vector<uint8_t> v(108, 0);
    v[3] = 1;
    std::memcpy(&v[4], "QLN-X", 5);
    v[43] = 1;
    v[47] = 5;
    std::memcpy(&v[48], "RD-A", 4);
    v[48 + 39] = 1;
    v[48 + 47] = 3;
    v[48 + 51] = 2;
    ASSERT_EQ(poPublica->ActualizaInfoEstado(v.data(), static_cast<int>(v.size())), 0);

    ClienteConsola c;
    ASSERT_TRUE(c.bConectado);
    c.Envia("P");
    EXPECT_NE(c.Espera("\nQLN=QLN-X:  version=5\nREC RD-A estado 3 prioridad 2\n"), "");

    // The test order is whole: with no radio of its name it is looked up and not found; once
    // one exists it switches that radio's emplacement 0 TX to equipment A.
    // The radio has no supervisor running here: every switch-over target counts as up.
    static const OperacionesMant ops{[](int, int, int, int) { return 0; }, nullptr, nullptr};
    mantFijaOperaciones(&ops);
    c.Envia("C");
    EXPECT_EQ(agente.Espera("V,R01", 5000), "V,R01,2,Recurso no encontrado");
    mkdir("/home/rk82qln", 0755);
    {
        cfgCerrojo cerrojo(&oConfigPasarela.tMutex);
        std::snprintf(oConfigPasarela.asRecursos[0].nombre, sizeof oConfigPasarela.asRecursos[0].nombre, "111.110");
    }
    c.Envia("C");
    EXPECT_EQ(agente.Espera("V,R01", 5000), "V,R01,1,Conmutacion Realizada");
    EXPECT_EQ(oCgest.LeeActivoTx(0, 0), 0);
    // C is not repeated: by the time the hint of the next line is printed, an empty line has
    // sent nothing more to the agent.
    c.Envia("\n");
    c.Envia("x");
    EXPECT_NE(c.Espera("Escribe \"?\" para la ayuda, anda.\n"), "");
    EXPECT_EQ(agente.Espera("V,R01", 300), "");
}

bool EsperaConexiones(int n) {
    const auto fin = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (TcpCons::NumeroConexiones() != n)
        if (std::chrono::steady_clock::now() > fin) return false;
        else usleep(10000);
    return true;
}

TEST_F(Consola, LineLeftUnfinishedByAClientThatWentAwayIsNotPrefixedToTheNextOne) {
    {
        ClienteConsola a;
        ASSERT_TRUE(a.bConectado);
        ASSERT_TRUE(EsperaConexiones(1));
        a.EnviaSinFin("F");
    }
    ASSERT_TRUE(EsperaConexiones(0));
    ClienteConsola b;
    ASSERT_TRUE(b.bConectado);
    b.Envia("E");
    EXPECT_NE(b.Espera("\nSubsistema SIP:\n").find("Estadisticas generales \n\n"), std::string::npos);
    EXPECT_FALSE(mainParando());
}

TEST_F(Consola, PromptEndsWithTheConnectionItAsked) {
    {
        ClienteConsola a;
        ASSERT_TRUE(a.bConectado);
        a.Envia("B0");
        EXPECT_NE(a.Espera("Metodo:\n"), "");
    }
    ASSERT_TRUE(EsperaConexiones(0));
    // The next operator's two commands are commands, not the method and the quality.
    ClienteConsola b;
    ASSERT_TRUE(b.bConectado);
    b.Envia("E");
    const std::string s1 = b.Espera("\nSubsistema SIP:\n");
    EXPECT_NE(s1.find("Estadisticas generales \n\n"), std::string::npos) << s1;
    b.Envia("E0");
    const std::string s2 = b.Espera("Tipo IF: RADIO\n");
    EXPECT_NE(s2.find(" Estadisticas canal 0 "), std::string::npos) << s2;
    EXPECT_EQ((s1 + s2).find("Nuevo valor bss"), std::string::npos);
    EXPECT_EQ((s1 + s2).find("Calidad:"), std::string::npos);
    // A prompt answered by its own operator still works.
    BssCanal0(b, 9);
}

TEST_F(Consola, ParametersOfAnAtsR2RecordPrintNothing) {
    oConfigPasarela.asRecursos[0].iTipoIf = TIPOIF_ATSR2;
    ClienteConsola c;
    ASSERT_TRUE(c.bConectado);
    const std::string kPista = "Escribe \"?\" para la ayuda, anda.\n";
    c.Envia("I16");  // out of range: record 0
    c.Envia("x");
    EXPECT_EQ(c.Espera(kPista), kPista);
}

TEST_F(Consola, FStopsTheCore) {
    ClienteConsola c;
    ASSERT_TRUE(c.bConectado);
    c.Envia("F");
    EXPECT_NE(c.Espera("Parando Vortik QLN...\n"), "");
    // The stop flag is set right after the text is printed.
    for (int i = 0; i < 100 && !mainParando(); i++) usleep(10000);
    EXPECT_TRUE(mainParando());
}

}  // namespace
