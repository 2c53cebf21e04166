// Configuration changes end to end: the configuration agent stand-in rewrites the image and
// signals the core, which starts, stops or restarts the resource programs and reports to the
// SNMP agent's port. The radio program is the stand-in, whose journal shows the core is up.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "csimboard.h"
#include "nucleo_proceso.h"
#include "nucleo_pruebas.h"

namespace {

using pruebas::CNucleo;
using pruebas::EsperaQue;

const char kGeneral[] =
    "[GENERAL]\nszNombre=PASARELA-PRUEBA\nszDirCPU0=192.0.2.23\nszDirVirtual=192.0.2.23\n"
    "acIdConfig=CFG-PRUEBA\niDual=0\niNivelConsola=65535\niPuertoConsola=19710\n"
    "[RECURSO-0]\nnombre=RD-01\niTipo=2\niTipoIf=0\nszUriLocal=sip:RD-01@192.0.2.23\n";
const char kTelefono3[] =
    "[RECURSO-3]\nnombre=TLF-03\niTipo=2\niTipoIf=2\nszUriLocal=sip:TLF-03@192.0.2.23\n";
const char kTroncal3[] =
    "[RECURSO-3]\nnombre=TLF-03\niTipo=2\niTipoIf=5\nszUriLocal=sip:TLF-03@192.0.2.23\n";
const char kDesconocido3[] =
    "[RECURSO-3]\nnombre=TLF-03\niTipo=2\niTipoIf=20\nszUriLocal=sip:TLF-03@192.0.2.23\n";

// The general part with these multicast lines.
std::string ConMulticast(const std::string& sLineas) {
    return std::string(kGeneral).insert(std::string("[GENERAL]\n").size(), sLineas);
}

class CambioConfig : public ::testing::Test {
protected:
    void SetUp() override {
        placa = simboard::CSimBoard::Arranca();
        ASSERT_TRUE(placa);
        pruebas::InstalaProgramas();
        pruebas::ConfiguraLogs();
    }
    // Writes the description into the segment; bSenal: and signals the core.
    static int Agente(const std::string& sDescripcion, bool bSenal) {
        {
            std::ofstream f("/mnt/ramfs/descripcion.ini", std::ios::trunc);
            f << sDescripcion;
        }
        const std::string sOrden = pruebas::DirBuild() + "/sim/cfgagent/cfgagent escribe /mnt/ramfs/descripcion.ini" +
                                   (bSenal ? "" : " --sin-senal");
        return std::system(sOrden.c_str());
    }
    // Pid of the first journal line of the stand-in that contains sTexto, -1 when none.
    static int PidDe(const std::string& sTexto) {
        std::istringstream is(pruebas::LeeTodo("/mnt/ramfs/standin/diario"));
        std::string l;
        while (std::getline(is, l))
            if (l.find(sTexto) != std::string::npos) return std::atoi(l.c_str());
        return -1;
    }
    static bool Hay(const std::string& sTexto, int iMs) {
        return EsperaQue([&] { return PidDe(sTexto) > 0; }, iMs);
    }
    // The live resource process with this command line (program name and arguments), -1 when none.
    static int Proceso(const std::string& sLinea) {
        auto v = pruebas::ProcesosCon(sLinea);
        return v.empty() ? -1 : v[0];
    }
    static bool HayProceso(const std::string& sLinea, int iMs) {
        return EsperaQue([&] { return Proceso(sLinea) > 0; }, iMs);
    }
    // A line of resource 3's log.
    static bool EnLog(const std::string& sTexto, int iMs) {
        return EsperaQue([&] { return pruebas::LogRecurso(3).find(sTexto) != std::string::npos; }, iMs);
    }
    static bool NucleoDice(const std::string& sTexto, int iMs) {
        return EsperaQue([&] { return pruebas::LeeTodo("/mnt/ramfs/vk_pelm.log").find(sTexto) != std::string::npos; }, iMs);
    }
    static int Veces(const std::string& sTexto) {
        const std::string s = pruebas::LeeTodo("/mnt/ramfs/vk_pelm.log");
        int n = 0;
        for (size_t i = s.find(sTexto); i != std::string::npos; i = s.find(sTexto, i + 1)) ++n;
        return n;
    }
    static int Arranques() {
        const std::string s = pruebas::LogRecurso(3);
        int n = 0;
        for (size_t i = s.find("ARRANQUE Recurso _rec3.log"); i != std::string::npos;
             i = s.find("ARRANQUE Recurso _rec3.log", i + 1))
            ++n;
        return n;
    }
    std::string Nucleo() const { return std::to_string(nucleo.Pid()); }
    // Milliseconds of the day of the first (or last) log line holding sTexto ("YYYY-MM-DD
    // HH:MM:SS.mmm ..."), -1 when none.
    static long MsDelDia(const std::string& sLog, const std::string& sTexto, bool bUltima) {
        long r = -1;
        std::istringstream is(sLog);
        for (std::string l; std::getline(is, l);) {
            int h, m, seg, ms;
            if (l.find(sTexto) == std::string::npos || l.size() < 23 ||
                std::sscanf(l.c_str() + 11, "%d:%d:%d.%d", &h, &m, &seg, &ms) != 4)
                continue;
            r = ((h * 60L + m) * 60 + seg) * 1000 + ms;
            if (!bUltima) break;
        }
        return r;
    }
    void ArrancaCon(const std::string& sDescripcion) {
        ASSERT_EQ(Agente(sDescripcion, false), 0);
        nucleo.Arranca({});
        ASSERT_TRUE(nucleo.SalidaContiene("Vortik QLN arrancado", 10000));
        ASSERT_TRUE(Hay(" arranque sopwent 0 ", 8000));
    }

    std::unique_ptr<simboard::CSimBoard> placa;
    CNucleo nucleo;
};

TEST_F(CambioConfig, TelephoneAddedAtPositionThreeStartsAboutASecondLaterAndGetsItsRecord) {
    ArrancaCon(kGeneral);
    ASSERT_EQ(Agente(std::string(kGeneral) + kTelefono3, true), 0);
    ASSERT_TRUE(HayProceso("fonmira 3 65535 " + Nucleo(), 8000));
    // From the core taking the change to the program's first log line, by the two logs' clocks
    // (the agent's own exit may come later than the start on a loaded machine).
    ASSERT_TRUE(EnLog("ARRANQUE Recurso _rec3.log", 8000));
    const long lCambio = MsDelDia(pruebas::LeeTodo("/mnt/ramfs/vk_pelm.log"), "Memoria compartida modificada", true);
    const long lArranque = MsDelDia(pruebas::LogRecurso(3), "ARRANQUE Recurso _rec3.log", false);
    ASSERT_GE(lCambio, 0);
    ASSERT_GE(lArranque, 0);
    EXPECT_GE(lArranque - lCambio, 900);  // 3 x 250 ms + 250 ms after the start request
    const int iPid = Proceso("fonmira 3 65535 " + Nucleo());
    EXPECT_TRUE(EnLog("TLF [3]: configuracion TLF-03 iTipoIf 2 modulo 3, pid " + std::to_string(iPid), 8000));
    EXPECT_EQ(Proceso("fonmira 3 65535 " + Nucleo()), iPid);
    EXPECT_EQ(Arranques(), 1);  // started once
}

TEST_F(CambioConfig, RemovedTelephoneIsStoppedAndReportedToTheSnmpAgent) {
    pruebas::CAgenteSnmp agente;
    ArrancaCon(std::string(kGeneral) + kTelefono3);
    ASSERT_TRUE(EnLog("TLF [3]: configuracion TLF-03 iTipoIf 2", 10000));
    // The line is started (its module in hand) before it is removed.
    ASSERT_TRUE(EnLog("TLF [3]:ArrancaHW(3)", 10000));
    const int iPid = Proceso("fonmira 3 65535 " + Nucleo());
    ASSERT_GT(iPid, 0);
    ASSERT_EQ(Agente(kGeneral, true), 0);
    // The core's record of the killed child (the line's own state records carry its name).
    EXPECT_EQ(agente.Espera("V,N07,3,-,", 15000), "V,N07,3,-,9,0,0,0,0,-");
    EXPECT_TRUE(EnLog("CENTTLF[3]: Terminahw(3)", 1000));  // EvtTermina reached it first
    EXPECT_NE(kill(iPid, 0), 0);  // killed and reaped
    // Nothing starts it again.
    EXPECT_FALSE(EsperaQue([&] { return Arranques() > 1; }, 2000));
    EXPECT_TRUE(nucleo.Vivo());
}

TEST_F(CambioConfig, InterfaceTypeChangeRestartsThePositionWithTheOtherProgram) {
    pruebas::CAgenteSnmp agente;
    ArrancaCon(std::string(kGeneral) + kTelefono3);
    ASSERT_TRUE(EnLog("TLF [3]: configuracion TLF-03 iTipoIf 2", 10000));
    const int iPid = Proceso("fonmira 3 65535 " + Nucleo());
    ASSERT_GT(iPid, 0);
    ASSERT_EQ(Agente(std::string(kGeneral) + kTroncal3, true), 0);
    EXPECT_EQ(agente.Espera("V,N07,3,-,", 15000), "V,N07,3,-,9,0,0,0,0,-");
    EXPECT_NE(kill(iPid, 0), 0);
    ASSERT_TRUE(HayProceso("lintaro 3 65535 " + Nucleo(), 8000));
    EXPECT_TRUE(EnLog("R2N5[3]: configuracion TLF-03 iTipoIf 5 modulo 3, pid " +
                          std::to_string(Proceso("lintaro 3 65535 " + Nucleo())),
                      8000));
}

// The start of a line refused for an unknown interface type leaves its position present for the
// comparison of the next image: a valid one starts the line then, process and SIP user.
TEST_F(CambioConfig, PositionWhoseStartWasRefusedStartsWithTheNextValidImage) {
    ArrancaCon(kGeneral);
    ASSERT_EQ(Agente(std::string(kGeneral) + kDesconocido3, true), 0);
    ASSERT_TRUE(NucleoDice("ERROR. Tipo_Rec/Tipo_If desconocido", 8000));
    ASSERT_EQ(Agente(std::string(kGeneral) + kTelefono3, true), 0);
    EXPECT_TRUE(HayProceso("fonmira 3 65535 " + Nucleo(), 10000));
    EXPECT_TRUE(NucleoDice("alta en el subsistema SIP nombre nuevorec= TLF-03", 10000));
}

// The core's publication heard on the default multicast pair (239.192.71.1, port 1000 + 1).
bool OidoEnElParPorDefecto(int iMs) {
    const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int iUno = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &iUno, sizeof iUno);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(1001);
    ip_mreq m{};
    inet_pton(AF_INET, "239.192.71.1", &m.imr_multiaddr);
    bool bOido = bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
                 setsockopt(s, IPPROTO_IP, IP_ADD_MEMBERSHIP, &m, sizeof m) == 0 && EsperaQue(
                     [&] {
                         char ac[1500];
                         const ssize_t n = recv(s, ac, sizeof ac, MSG_DONTWAIT);
                         return n > 20 && std::string(ac + 4, 15) == "PASARELA-PRUEBA";
                     },
                     iMs);
    close(s);
    return bOido;
}

// Group and port are one pair: an image that does not give a valid whole one puts the board on
// the default pair, where the boards that name none hear it, never on half of the last one.
TEST_F(CambioConfig, MulticastPairIsTakenWholeFromTheImageOrTheDefaultOne) {
    const std::string sPar = "acGrupoMulticast=239.192.71.9\nuiPuertoMulticast=2000\n";
    const char* const kSuscritoPar = "ArrancaSock: Suscritos al grupo multicast 239.192.71.9:2001";
    const char* const kSuscritoDefecto = "ArrancaSock: Suscritos al grupo multicast 239.192.71.1:1001";
    const char* const kCasos[] = {
        "uiPuertoMulticast=2000\n",                                // no group
        "acGrupoMulticast=239.192.71.9\n",                         // no port
        "acGrupoMulticast=192.0.2.77\nuiPuertoMulticast=2000\n",  // not a multicast group
    };
    ArrancaCon(ConMulticast(sPar));
    ASSERT_TRUE(NucleoDice(kSuscritoPar, 8000));
    for (const char* szCaso : kCasos) {
        SCOPED_TRACE(szCaso);
        const int iDefecto = Veces(kSuscritoDefecto), iPar = Veces(kSuscritoPar);
        ASSERT_EQ(Agente(ConMulticast(szCaso), true), 0);
        EXPECT_TRUE(EsperaQue([&] { return Veces(kSuscritoDefecto) > iDefecto; }, 8000));
        EXPECT_TRUE(OidoEnElParPorDefecto(12000));
        ASSERT_EQ(Agente(ConMulticast(sPar), true), 0);
        ASSERT_TRUE(EsperaQue([&] { return Veces(kSuscritoPar) > iPar; }, 8000));
    }
}

}  // namespace
