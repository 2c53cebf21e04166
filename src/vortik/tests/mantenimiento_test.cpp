// Maintenance exchange against a stand-in of the SNMP agent on 127.0.0.1:65000: commands go to
// the core's event-record client on 65001, records come back as datagrams.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "cconfig.h"
#include "cgest.h"
#include "mantenimiento.h"
#include "nucleo_pruebas.h"
#include "red/tcpcons.h"
#include "comun/tests/ficheros_pruebas.h"
#include "volcadocfg.h"

namespace {

std::atomic<int> giRefrescos{0};
std::atomic<int> giModo{-1}, giModoRec{-1};
std::atomic<int> giBucleRec{-1}, giBucleTipo{-1}, giBucleEmp{-1};

void Refresco() {
    giRefrescos++;
    mantEnviaN05(7);
}
EstadoSupervision Estado(int iLan, int iReserva, int iFA, int iNtp, std::initializer_list<int> lPresencia) {
    EstadoSupervision e{};
    e.iEstadoLan = iLan;
    e.iReserva = iReserva;
    e.iEstadoFA = iFA;
    e.iEstadoNtp = iNtp;
    int i = 0;
    for (int p : lPresencia) e.aiPresenciaModulo[i++] = p;
    return e;
}
void EstadoPrincipal() {
    const EstadoSupervision e = Estado(5, 0, 0, 1, {1, 0, 1, 0});
    EnviaEstadoMant(reinterpret_cast<const int32_t*>(&e));
}
void ModoRadio(int n, int m) {
    giModoRec = n;
    giModo = m;
}
void Bucle(int n, int t, int e) {
    giBucleRec = n;
    giBucleTipo = t;
    giBucleEmp = e;
}
int ConmutaFallaSesion(int, int, int, int) { return -2; }
// A switch-over every target of which has a session: only the arguments can fail it.
int ConmutaAcepta(int n, int e, int iSentido, int iEquipo) {
    return n >= 0 && n < CFG_NUM_RECURSOS && e >= 0 && e < 3 && iSentido >= 0 && iSentido < 2 &&
                   (iEquipo == 0 || iEquipo == 1)
               ? 0
               : -1;
}

class Mantenimiento : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(agente.Abierto());
        TcpCons::Inicia(0);
        mkdir("/home/rk82qln", 0755);
        CargaConfigPrueba(&oConfigPasarela);
        {
            cfgCerrojo c(&oConfigPasarela.tMutex);
            oConfigPasarela.iNumRecursos = 2;
            oConfigPasarela.LocalizadorRecurso[1] = {0, 1};
            cfgConfigRecurso& r = oConfigPasarela.asRecursos[1];
            std::snprintf(r.nombre, sizeof r.nombre, "LC-01");
            r.iTipoIf = TIPOIF_LCEN;
            oConfigPasarela.iSnmpPuertoRemoto = 0;
        }
        static const OperacionesMant ops{ConmutaAcepta, ModoRadio, Bucle};
        mantFijaOperaciones(nullptr);
        mantFijaOperaciones(&ops);
        mantInicia(Refresco, EstadoPrincipal);
        ASSERT_EQ(agente.Espera("V,N01", 2000).substr(0, 6), "V,N01,");
        ASSERT_TRUE(EsperaClienteEnlazado());
    }
    // The client binds 65001 on its own thread: commands sent before that are lost.
    static bool EsperaClienteEnlazado() {
        for (int i = 0; i < 100; i++) {
            int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(HistClient::PUERTO_MANT);
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            const bool bOcupado = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0;
            close(fd);
            if (bOcupado) return true;
            usleep(50000);
        }
        return false;
    }
    void Orden(const std::string& s) {
        int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in d{};
        d.sin_family = AF_INET;
        d.sin_port = htons(HistClient::PUERTO_MANT);
        d.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sendto(fd, s.data(), s.size(), 0, reinterpret_cast<sockaddr*>(&d), sizeof d);
        close(fd);
    }
    pruebas::CAgenteSnmp agente;
};

TEST_F(Mantenimiento, StatusReportTextForMainAndStandby) {
    Orden("A,T00");
    EXPECT_EQ(agente.Espera("V,R00", 3000),
              "V,R00,Estado: Correcto\nEstado dual: PRINCIPAL\nEstado LAN1: Conectado\nEstado LAN2: Desconectado\n"
              "Estado Alimentacion: OK\nEstado NTP: Sincronizado\n"
              "Slots: (0) Pres. (1) No Pres. (2) Pres. (3) No Pres. \n");
    const EstadoSupervision e = Estado(3, 1, 1, 2, {1, 1, 1, 1});
    EnviaEstadoMant(reinterpret_cast<const int32_t*>(&e));
    EXPECT_EQ(agente.Espera("V,R00", 1000),
              "V,R00,Estado: Degradado\nEstado dual: RESERVA\nEstado LAN1: Conectado\nEstado LAN2: Conectado\n"
              "Estado Alimentacion: NO OK\nEstado NTP: No sincronizado\n\n");
}

TEST_F(Mantenimiento, SwitchOverOrdersAreAnsweredAndRecordedInTheStateFile) {
    struct Caso {
        const char* szOrden;
        const char* szRespuesta;
    };
    const Caso casos[] = {
        {"A,T01,RD-01,0,TX,1", "V,R01,1,Conmutacion Realizada"},
        {"A,T01,RD-01,1,RX,2", "V,R01,1,Conmutacion Realizada"},
        {"A,T01,RD-01,0,TRX,1", "V,R01,2,Formato parametros no valido"},
        {"A,T01,RD-01,0", "V,R01,2,Formato parametros no valido"},
        {"A,T01,RD-01", "V,R01,2,Formato parametros no valido"},
        {"A,T01,LC-01,0,TX,1", "V,R01,2,Recurso no encontrado"},
        {"A,T01,NADIE,0,TX,1", "V,R01,2,Recurso no encontrado"},
        {"A,T01,RD-01,5,TX,1", "V,R01,2,Error Parametros"},
    };
    for (const Caso& c : casos) {
        Orden(c.szOrden);
        EXPECT_EQ(agente.Espera("V,R01", 3000), c.szRespuesta) << c.szOrden;
    }
    EXPECT_EQ(oCgest.LeeActivoTx(0, 0), 0);
    EXPECT_EQ(oCgest.LeeActivoRx(0, 1), 1);
    const std::string f = ficheros_pruebas::LeeTodo("/home/rk82qln/EstadosConmutacion.ini");
    EXPECT_NE(f.find("[RECURSO-0]"), std::string::npos) << f;
    EXPECT_NE(f.find("EMP0-ActivoTX=A"), std::string::npos) << f;
    EXPECT_NE(f.find("EMP1-ActivoRX=B"), std::string::npos) << f;

    const OperacionesMant ops{ConmutaFallaSesion, nullptr, nullptr};
    mantFijaOperaciones(&ops);
    Orden("A,T01,RD-01,2,TX,2");
    EXPECT_EQ(agente.Espera("V,R01", 3000), "V,R01,2,Fallo sesion");
    EXPECT_EQ(oCgest.LeeActivoTx(0, 2), -1) << "a refused switch-over is not recorded";
}

TEST_F(Mantenimiento, MalformedSwitchOverOrdersAreRefusedAndSwitchNothing) {
    const char* const casos[] = {
        "A,T01,RD-01,0,TX,",             // empty action
        "A,T01,RD-01,0,TX,x",            // action not a number
        "A,T01,RD-01,0,TX,0",            // no such equipment
        "A,T01,RD-01,0,TX,12",           // action longer than one field
        "A,T01,RD-01,,TX,1",             // empty emplacement
        "A,T01,RD-01,zz,TX,1",           // emplacement not a number
        "A,T01,RD-01,1abc,TX,1",         // emplacement with a tail
        "A,T01,RD-01,-1,TX,1",           // signed emplacement
        "A,T01,RD-01,4294967298,RX,1",   // would wrap to emplacement 2
        "xxA,T01,RD-01,0,TX,1,extra",    // a field too many
        "A,T01,,0,TX,1",                 // no name
    };
    for (const char* sz : casos) {
        Orden(sz);
        EXPECT_EQ(agente.Espera("V,R01", 3000), "V,R01,2,Formato parametros no valido") << sz;
    }
    const std::string sLargo = "A,T01," + std::string(65, 'R') + ",0,TX,1";
    Orden(sLargo);
    EXPECT_EQ(agente.Espera("V,R01", 3000), "V,R01,2,Formato parametros no valido") << "name beyond 64";
    for (int e = 0; e < 3; e++) {
        EXPECT_EQ(oCgest.LeeActivoTx(0, e), -1) << e;
        EXPECT_EQ(oCgest.LeeActivoRx(0, e), -1) << e;
    }
    // The leading text before the key is the agent's business; a whole order still goes through.
    Orden("xxA,T01,RD-01,2,RX,2");
    EXPECT_EQ(agente.Espera("V,R01", 3000), "V,R01,1,Conmutacion Realizada");
    EXPECT_EQ(oCgest.LeeActivoRx(0, 2), 1);
}

TEST_F(Mantenimiento, RefreshOrderSendsTheNotificationsAndAStatusRequestWinsOverIt) {
    Orden("A,T10");
    EXPECT_EQ(agente.Espera("V,N05", 3000), "V,N05,7");
    EXPECT_EQ(giRefrescos, 1);
    Orden("xx A,T10 A,T00");
    EXPECT_EQ(agente.Espera("V,R00", 3000).substr(0, 14), "V,R00,Estado: ");
    EXPECT_EQ(giRefrescos, 1);
}

TEST_F(Mantenimiento, RadioModeAndLoopOrdersReachTheSupervisorOperations) {
    EvtRxMant(7, "A,T03,2");
    EXPECT_EQ(giModoRec, 2);
    EXPECT_EQ(giModo, 0) << "missing field stays 0";
    EvtRxMant(10, "A,T03,16,1");
    EXPECT_EQ(giModoRec, 2) << "resource out of range ignored";
    EvtRxMant(11, "A,T04,3,1,2");
    EXPECT_EQ(giBucleRec, 3);
    EXPECT_EQ(giBucleTipo, 1);
    EXPECT_EQ(giBucleEmp, 0);
    EvtRxMant(11, "A,T04,4,2,2");
    EXPECT_EQ(giBucleEmp, 2);
}

TEST_F(Mantenimiento, CommandLongerThan512BytesIsCutAt512) {
    pruebas::CCapturaLog log;
    std::string s = "A,T03,2,1," + std::string(540, 'x') + "A,T10";
    s += std::string(600 - s.size(), 'y');
    Orden(s);
    for (int i = 0; i < 60 && giModoRec != 2; i++) usleep(50000);
    EXPECT_EQ(giModo, 1);
    EXPECT_EQ(giRefrescos, 0);
    const std::string sCortado = s.substr(0, 512);
    EXPECT_EQ(log.Cuenta("EvtRxMant: Recibe mensaje " + sCortado), 1);
    EXPECT_EQ(log.Cuenta(sCortado + "x"), 0);
}

TEST_F(Mantenimiento, EmplacementSummaryFollowsItsStates) {
    struct Caso {
        int aiEstados[4];  // TX A, RX A, TX B, RX B
        const char* szRegistro;
    };
    const Caso casos[] = {
        {{1, 1, 0, 0}, "V,N09,0,RD-01,0,0,1,0,1,0,1,1"},
        {{0, 0, 1, 1}, "V,N09,0,RD-01,0,0,0,1,0,1,2,2"},
        {{9, 8, 1, 0}, "V,N09,0,RD-01,0,1,9,1,9,0,9,9"},
        {{2, 2, 2, 2}, "V,N09,0,RD-01,0,0,2,2,2,2,1,2"},
    };
    for (const Caso& c : casos) {
        mantEnviaN09(0, "RD-01", 0, c.aiEstados[0], c.aiEstados[1], c.aiEstados[2], c.aiEstados[3], 1, 2);
        EXPECT_EQ(agente.Espera("V,N09", 1000), c.szRegistro);
    }
    const GrupoSesionMant g[4] = {{1, "sip:a@h", 1}, {0, "sip:b@h", 3}, {9, "", 0}, {9, nullptr, 0}};
    mantEnviaN10(1, "RD-R", g);
    EXPECT_EQ(agente.Espera("V,N10", 1000), "V,N10,1,RD-R,1,sip:a@h,1,0,sip:b@h,0,9,,0,9,,0");
}

TEST_F(Mantenimiento, EventRecordsGoThroughTheClientAndRecordsFollowTheConfiguredPort) {
    mantHistoricoSesion("RD-01", 1, "sip:a@1.2.3.4:5060", 0);
    EXPECT_EQ(agente.Espera("V,H00", 3000), "V,H00,2101,RD-01:ON:sip.a@1.2.3.4.5060:Activa");
    cfgConfigRecurso r;
    r.iTipoIf = TIPOIF_ATSN5;
    mantHistoricoOptions(&r, 0, 0, "sip:t@h:1");
    EXPECT_EQ(agente.Espera("V,H00", 3000), "V,H00,2208,sip.t@h.1");

    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(65010);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    oConfigPasarela.iSnmpPuertoRemoto = 65010;
    mantEnviaN07(3);
    mantHistoricoSesion("RD-01", 0, "u", 1);
    char ac[128] = {};
    timeval tv{2, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    EXPECT_GT(recv(fd, ac, sizeof ac - 1, 0), 0);
    EXPECT_STREQ(ac, "V,N07,3,-,9,0,0,0,0,-");
    EXPECT_EQ(agente.Espera("V,H00", 3000), "V,H00,2101,RD-01:OFF:u:Idle");
    close(fd);
}

}  // namespace
