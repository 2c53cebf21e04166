// ATS call records as the SNMP agent receives them: the texts of the start and end records,
// the history record around them, and the state notification's port. Also what every line
// entity's records share: one history thread, and the name they carry.
#include "cmantats.h"

#include <dirent.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ccontextorecurso.h"
#include "ceventosrec.h"
#include "cfg/cfgpasarela.h"
#include "red/csocketaddress.h"
#include "red/cudpsocket.h"

namespace {

// The test process's one context, as the start-up hands it to the records; never destroyed.
CContextoRecurso& gContexto = *new CContextoRecurso;
CContextoRecurso& Contexto(int iRec) {
    gContexto.iRec = iRec;
    return gContexto;
}

class AgenteFalso {
public:
    explicit AgenteFalso(int iPuerto) : oSocket(CSocketAddress("127.0.0.1", iPuerto)) {}
    std::string Recibe(int iMs = 5000) {
        if (!oSocket.WaitRead(iMs)) return "";
        char ac[2048];
        CSocketAddress o;
        int n = oSocket.RecvFrom(ac, sizeof ac, &o);
        return n > 0 ? std::string(ac, static_cast<size_t>(n)) : "";
    }

private:
    CUDPSocket oSocket;
};

const char kOrigen[] = {1, 2, 3, 4, 5, 6};
const char kDestino[] = {6, 5, 4, 3, 2, 1};

CMANTATS Configurado() {
    CMANTATS m;
    m.Configura("R2-01", TIPOIF_ATSR2, "CENTRAL-B", "red.ats", "troncal.r2");
    return m;
}

TEST(CMANTATS, StartRecordCarriesThePairsInOrder) {
    CMANTATS m = Configurado();
    char ac[200];
    m.FormateaInicio(ac, kOrigen, kDestino, 6, 2, 0, 1, 0);
    EXPECT_STREQ(ac, "IF=5|TRO=troncal.r2|NO=123456|ND=654321|PR=2|EST=L|TRA=1|CH=0");
    m.FormateaInicio(ac, kOrigen, kDestino, 6, 9, 3, 0x101, 1);
    EXPECT_STREQ(ac, "IF=5|TRO=troncal.r2|NO=123456|ND=654321|PR=9|EST=C|TRA=1|CH=1");
}

TEST(CMANTATS, StartRecordNeverPassesItsLimitNorReadsPastEightDigits) {
    CMANTATS m;
    const std::string sLargo(100, 'x');
    m.Configura("R", TIPOIF_ATSN5, "", "", sLargo.c_str());  // cut at 32
    char acDigitos[64] = {};
    char ac[200];
    const int n = m.FormateaInicio(ac, acDigitos, acDigitos, 64, 1, 7, 0, 0);
    EXPECT_EQ(n, static_cast<int>(strlen(ac)));
    EXPECT_LE(strlen(ac), 199u);
    EXPECT_NE(std::string(ac).find("|NO=00000000|ND=00000000|"), std::string::npos) << ac;
    EXPECT_NE(std::string(ac).find("|EST=C|"), std::string::npos) << ac;  // no row 7: out of service
}

TEST(CMANTATS, EndRecordCarriesTheDurationInSeconds) {
    CMANTATS m = Configurado();
    char ac[200];
    m.FormateaFin(ac, 1, 0xFFFFFF00u, 0xFFFFFF00u + 12345);
    EXPECT_STREQ(ac, "IF=5|TRO=troncal.r2|CH=1|DL=0000123");
}

TEST(CMANTATS, CallRecordsReachTheAgentAsHistoryRecords) {
    AgenteFalso oAgente(65000);
    CMANTATS& m = Mantats();
    m.Inicia(Contexto(7));
    m.Configura("R2-01", TIPOIF_ATSR2, "CENTRAL-B", "red.ats", "troncal.r2");
    m.LlamadaEntrante(kOrigen, kDestino, 6, 2, 0, 1, 0, 0, 1000);
    m.FinLlamadaEntrante(0, 0, 1000 + 12345);
    const std::string s1 = oAgente.Recibe(), s2 = oAgente.Recibe();
    EXPECT_EQ(s1.rfind("V,H00,2300,R2-01:IF=5|TRO=troncal.r2|NO=123456|ND=654321|PR=2|EST=L|TRA=1|CH=0:", 0), 0u)
        << s1;
    EXPECT_EQ(s2.rfind("V,H00,2301,R2-01:IF=5|TRO=troncal.r2|CH=0|DL=0000123:", 0), 0u) << s2;
}

TEST(CMANTATS, StateNotificationGoesToTheRecordsPortOr65000) {
    CMANTATS& m = Mantats();
    m.Inicia(gContexto);
    m.Configura("R2-01", TIPOIF_ATSR2, "", "", "");
    {
        AgenteFalso oAgente(65000);
        gContexto.sRegistro.iSnmpPuertoRemoto = 0;
        EnviaEstadoRecurso(&m.sId, 0, 1, 0xab);
        EXPECT_EQ(oAgente.Recibe(), "V,N07," + std::string(m.sId.szRec[0] ? m.sId.szRec : "-1") + ",R2-01,5,1,1,ab,9,-");
    }
    AgenteFalso oOtro(65010);
    gContexto.sRegistro.iSnmpPuertoRemoto = 65010;
    EnviaEstadoRecurso(&m.sId, 0);
    EXPECT_EQ(oOtro.Recibe(), "V,N07," + std::string(m.sId.szRec[0] ? m.sId.szRec : "-1") + ",R2-01,5,0,0,0,9,-");
    gContexto.sRegistro.iSnmpPuertoRemoto = 0;
}

size_t HilosDelProceso() {
    size_t n = 0;
    DIR* d = opendir("/proc/self/task");
    while (dirent* e = d ? readdir(d) : nullptr)
        if (e->d_name[0] != '.') ++n;
    if (d) closedir(d);
    return n;
}

// The loop-test results go as datagrams of their own, each with its terminating NUL.
TEST(CMANTATS, LoopTestResultsReachTheAgentWithTheirEnd) {
    CMANTATS& m = Mantats();
    m.Inicia(gContexto);
    gContexto.sRegistro.iSnmpPuertoRemoto = 0;
    const std::string sRec = m.sId.szRec[0] ? m.sId.szRec : "-1";
    const uint8_t aucEnviado[2] = {246, 3}, aucRecibido[2] = {240, 2};
    const struct {
        int iTipo, iMedida;
        const char* szBucle;
        int iRetardo;
    } kCasos[] = {
        {0, 20, "Bucle OFF", 60},
        {1, 8, "Bucle Local Simple", 0},  // 5 x 8 = 40: no delay
        {0x22, 9, "Bucle Local FD Emplazamiento 3", 5},
        {2, 9, "Bucle OFF", 5},           // without bit 20h: no emplacement loop
    };
    AgenteFalso oAgente(65000);
    for (const auto& k : kCasos) {
        EnviaBucle(&m.sId, k.iTipo, aucEnviado, aucRecibido, k.iMedida);
        const std::string s = "V,R02," + sRec + ", " + k.szBucle + ":\nTono enviado: nivel -10 dBm duracion 3 sg " +
                              "\nTono recibido: nivel -16 dBm duracion 2 sg retardo " + std::to_string(k.iRetardo) + " ms";
        EXPECT_EQ(oAgente.Recibe(), s + std::string(1, '\0')) << k.iTipo;
    }
    EnviaBucleFallido(&m.sId);
    EXPECT_EQ(oAgente.Recibe(), "V,R02," + sRec + ",No se ha podido realizar el bucle" + std::string(1, '\0'));
}

TEST(CMANTATS, OneHistoryThreadHoweverManyIdentitiesAreSet) {
    Mantats().Inicia(Contexto(4));
    const size_t n = HilosDelProceso();
    CEventosRec a, b;
    a.FijaIdEventos(4);
    b.FijaIdEventos(4);
    Mantats().Inicia(Contexto(4));
    EXPECT_EQ(HilosDelProceso(), n);
}

// A telephone or hot-line process never configures CMANTATS: its records carry the live
// record's name and type, renamed by a new configuration.
TEST(CMANTATS, UnconfiguredProcessRecordsCarryTheLiveRecordsName) {
    AgenteFalso oAgente(65000);
    Mantats().Inicia(Contexto(4));
    {
        cfgCerrojo c(&gContexto.tMutexConfig);
        strcpy(gContexto.sRegistro.nombre, "TLF-04");
        gContexto.sRegistro.iTipoIf = TIPOIF_BC;
        gContexto.sRegistro.iSnmpPuertoRemoto = 0;
    }
    CEventosRec o;
    o.FijaIdEventos(4);
    o.EnviaEnServicio(3, 1);
    EXPECT_EQ(oAgente.Recibe(), "V,N07,4,TLF-04,2,1,3,1,9,-");
    {
        cfgCerrojo c(&gContexto.tMutexConfig);
        strcpy(gContexto.sRegistro.nombre, "TLF-04B");
    }
    o.Evento(2200);
    EXPECT_EQ(oAgente.Recibe(), "V,H00,2200,TLF-04B");
    o.EnviaFueraServicio();
    EXPECT_EQ(oAgente.Recibe(), "V,N07,4,TLF-04B,2,0,0,0,9,-");
}

}  // namespace
