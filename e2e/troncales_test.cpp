// The ATS-R2 and ATS-N5 trunks of the combined example take calls from their far exchange to
// SIP and place calls from SIP on their line. The test plays the far exchange through the
// simulated DSP (line signalling and digits) and the SIP parties with sipp.
#include <fcntl.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "../src/lintaro/tests/central_dsp.h"
#include "placa_e2e.h"
#include "sipp.h"
#include "troncales_e2e.h"

namespace {

using namespace e2e;
using namespace central_dsp;
using namespace troncales_e2e;

// The SIP party that the trunks' calls are routed to: number 400002 of the board's own
// exchange, user SIPP-01 on host PUESTO-SIPP. The routing always calls port 5060, which the
// board holds, so the party has a network of its own: the far end of eth0.
const char kDirPuesto[] = "192.0.2.24";
const char kNumeroPuesto[] = "400002";
const char kPlanPuesto[] =
    "\n[IP-1]\nidhost=PUESTO-SIPP\ndirip1=192.0.2.24\ntipo=0\n"
    "\n[USUARIO-0]\nidusuario=SIPP-01\nidhost=PUESTO-SIPP\n"
    "\n[SIP-1]\nidusuario=SIPP-01\nAbonado0=3:400002\n";
const char kDescripcion[] = "/mnt/ramfs/troncales.ini";
const char kMensajesPuesto[] = "/mnt/ramfs/sipp_puesto.log";
const char kMensajesLlamante[] = "/mnt/ramfs/sipp_llamante.log";
const char kRegistros[] = "/mnt/ramfs/snmpagent.out";

// A program of the build as a child, its output in a file; killed with the test.
class CHijo {
public:
    CHijo(const std::string& sPrograma, const std::string& sSalida) {
        iPid = fork();
        if (iPid == 0) {
            const int fd = open(sSalida.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(fd, 1);
            dup2(fd, 2);
            execl(sPrograma.c_str(), sPrograma.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~CHijo() {
        if (iPid <= 0) return;
        kill(iPid, SIGKILL);
        waitpid(iPid, nullptr, 0);
    }

private:
    pid_t iPid = -1;
};

// The SIP party's own network: a namespace that a child holds, with the far end of the board's
// eth0 at 192.0.2.24. Not a named one: sandboxes nested in one test run share /run.
class CRedPuesto {
public:
    bool Monta() {
        int aiTubo[2];
        if (pipe(aiTubo) != 0) return false;
        iPid = fork();
        if (iPid == 0) {
            char c = unshare(CLONE_NEWNET) == 0 ? 1 : 0;
            if (write(aiTubo[1], &c, 1) != 1) _exit(1);
            for (;;) pause();
        }
        close(aiTubo[1]);
        char c = 0;
        const bool bListo = iPid > 0 && read(aiTubo[0], &c, 1) == 1 && c == 1;
        close(aiTubo[0]);
        if (!bListo) return false;
        fdRed = open(("/proc/" + std::to_string(iPid) + "/ns/net").c_str(), O_RDONLY | O_CLOEXEC);
        if (fdRed < 0 || std::system(("ip link set eth0-peer netns " + std::to_string(iPid)).c_str()) != 0)
            return false;
        int r = -1;
        Dentro([&] {
            r = std::system("ip addr add 192.0.2.24/24 dev eth0-peer && ip link set eth0-peer up && ip link set lo up");
        });
        return r == 0;
    }
    ~CRedPuesto() {
        if (fdRed >= 0) close(fdRed);
        if (iPid <= 0) return;
        kill(iPid, SIGKILL);
        waitpid(iPid, nullptr, 0);
    }
    // Runs f in the party's network. Only this thread moves: what it forks stays there.
    template <typename F>
    void Dentro(F f) {
        const int fdPropia = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
        EXPECT_EQ(setns(fdRed, CLONE_NEWNET), 0);
        f();
        EXPECT_EQ(setns(fdPropia, CLONE_NEWNET), 0);
        close(fdPropia);
    }

private:
    pid_t iPid = -1;
    int fdRed = -1;
};

class TroncalesPlaca : public ::testing::Test {
protected:
    void TearDown() override {
        if (HasFailure() && p.placa)
            std::printf("%s\nDSP commands:\n%s\nrecords:\n%s\nconsole:\n%s\nsipp:\n%s\n%s\n", p.Informe().c_str(),
                        p.placa->Dsp("comandos").c_str(), LeeTodo(kRegistros).c_str(), p.consola->Texto().c_str(),
                        LeeTodo(kMensajesPuesto).c_str(), LeeTodo(kMensajesLlamante).c_str());
    }
    // The party's network, the SNMP agent stand-in and the board on the combined example with
    // the party in its number plan.
    void Arranca() {
        ASSERT_TRUE(red.Monta());
        std::ofstream(kDescripcion) << Ejemplo("placa_completa.ini") << kPlanPuesto;
        agente = std::make_unique<CHijo>(pruebas::DirBuild() + "/sim/snmpagent/snmpagent", kRegistros);
        ASSERT_TRUE(p.Arranca(kDescripcion));
    }

    int EnServicio(const Troncal& t) { return troncales_e2e::EnServicio(*p.placa, t, kRegistros); }
    // The board started and the trunk in service; *pc its DSP channel.
    void EnMarcha(const Troncal& t, int* pc) {
        ASSERT_NO_FATAL_FAILURE(Arranca());
        *pc = EnServicio(t);
        ASSERT_GE(*pc, 0) << t.szNombre << " never in service";
    }
    // A call record of the trunk at the SNMP agent: its code, then the fields after the trunk's
    // interface and identifier.
    static bool Registro(const Troncal& t, int iCodigo, const std::string& sCampos) {
        const std::string s = "V,H00," + std::to_string(iCodigo) + "," + t.szNombre + ":IF=" +
                              std::to_string(t.iTipoIf) + "|TRO=" + t.szIdTroncal + "|" + sCampos;
        return EsperaQue([&] { return LeeTodo(kRegistros).find(s) != std::string::npos; }, 10000);
    }
    static size_t VecesLibre(const Troncal& t) { return troncales_e2e::VecesLibre(t, kRegistros); }
    // sipp answering in the SIP party's network, on port 5060.
    std::unique_ptr<Sipp> Puesto(const std::string& sEscenario) {
        std::unique_ptr<Sipp> s;
        red.Dentro([&] {
            s = std::make_unique<Sipp>(std::vector<std::string>{"-sf", DirFuente() + sEscenario, "-m", "1", "-i",
                                                                kDirPuesto, "-trace_msg", "-message_file",
                                                                kMensajesPuesto},
                                       5060);
        });
        return s;
    }
    // The far exchange calls the SIP party through the trunk, the party answers, the far
    // exchange clears.
    void LlamadaDeLaCentral(const Troncal& t) {
        int c;
        ASSERT_NO_FATAL_FAILURE(EnMarcha(t, &c));
        auto puesto = Puesto("uas_troncal.xml");
        ASSERT_EQ(Entrante(*p.placa, c, 2, t.vLejano, Digitos(kNumeroPuesto)), "ok\n");
        // Ringing at the party is ringing on the line; its answer answers the line.
        EXPECT_TRUE(EsperaComando(*p.placa, c, RESPONDE_LIBRE, kSinParametros, 1, 20000));
        EXPECT_TRUE(CPlaca::RecursoDice(t.iRec, "AceptaLlamada (", 20000));
        const std::string sInvite = LeeTodo(kMensajesPuesto);
        EXPECT_NE(sInvite.find("INVITE sip:" + std::string(kNumeroPuesto) + "@" + kDirPuesto), std::string::npos);
        std::string sOrigen;
        for (int d : t.vLejano) sOrigen += static_cast<char>('0' + d % 10);
        EXPECT_NE(sInvite.find("From: <sip:" + sOrigen + "@"), std::string::npos) << sInvite;
        EXPECT_TRUE(Sesion(t, "EvtNuevaSesion"));
        ASSERT_EQ(Evento(*p.placa, c, "liberada 0"), "ok\n");
        EXPECT_EQ(puesto->Espera(20000), 0) << puesto->Log();
        EXPECT_TRUE(CPlaca::RecursoDice(t.iRec, "Fin llamada", 10000));
        EXPECT_TRUE(Sesion(t, "EvtFinSesion"));
        EXPECT_TRUE(Registro(t, 2300, "NO=" + sOrigen + "|ND=" + kNumeroPuesto + "|PR=2|EST=L|TRA=0|CH=0:"));
        EXPECT_TRUE(Registro(t, 2301, "CH=0|DL="));
    }
    // The trunk's process traced this step of the call's RTP session on the console.
    bool Sesion(const Troncal& t, const std::string& sPaso) {
        const std::string s = "IPCREC[" + std::to_string(t.iRec) + "]: " + sPaso;
        return EsperaQue([&] { return p.consola->Texto().find(s) != std::string::npos; }, 10000);
    }

    // The SIP caller 400003 calls the number beyond the trunk; true once the trunk seized the
    // line and sent both numbers.
    bool Llama(const Troncal& t, int c, const std::string& sEscenario) {
        const size_t nAntes = Tomas(*p.placa, t, c, "400003");
        llamante = std::make_unique<Sipp>(std::vector<std::string>{
            "-sf", DirFuente() + sEscenario, "-m", "1", "-s", t.szLejano, "-trace_msg", "-message_file",
            kMensajesLlamante, "127.0.0.1:5060"});
        return EsperaQue([&] { return Tomas(*p.placa, t, c, "400003") > nAntes; }, 20000);
    }
    // The far exchange answers the seizure.
    void Contesta(const Troncal& t, int c) { ASSERT_TRUE(troncales_e2e::Contesta(*p.placa, t, c)); }
    // The caller calls a number beyond the trunk, the far exchange answers, the caller clears.
    void LlamadaALaCentral(const Troncal& t) {
        int c;
        ASSERT_NO_FATAL_FAILURE(EnMarcha(t, &c));
        ASSERT_TRUE(Llama(t, c, "uac_troncal.xml")) << llamante->Log();
        ASSERT_NO_FATAL_FAILURE(Contesta(t, c));
        EXPECT_TRUE(Sesion(t, "EvtNuevaSesion"));
        EXPECT_EQ(llamante->Espera(30000), 0) << llamante->Log();
        EXPECT_TRUE(EsperaComando(*p.placa, c, LIBERA, kSinParametros, 1, 10000));
        EXPECT_TRUE(Sesion(t, "EvtFinSesion"));
        EXPECT_TRUE(Registro(t, 2302, "NO=400003|ND=" + std::string(t.szLejano) + "|PR="));
        EXPECT_TRUE(Registro(t, 2303, "CH=0|DL="));
    }

    CRedPuesto red;
    std::unique_ptr<CHijo> agente;
    CPlaca p;
    std::unique_ptr<Sipp> llamante;
};

TEST_F(TroncalesPlaca, R2CallFromTheFarExchangeReachesTheSipParty) { LlamadaDeLaCentral(kTroncalR2); }

TEST_F(TroncalesPlaca, SipCallGoesOutOnTheN5Trunk) { LlamadaALaCentral(kTroncalN5); }

TEST_F(TroncalesPlaca, N5CallFromTheFarExchangeReachesTheSipParty) {
    SOLO_EN_E2E();
    LlamadaDeLaCentral(kTroncalN5);
}

TEST_F(TroncalesPlaca, SipCallGoesOutOnTheR2Trunk) {
    SOLO_EN_E2E();
    LlamadaALaCentral(kTroncalR2);
}

// The far exchange clears a call from SIP: the board ends the SIP call.
TEST_F(TroncalesPlaca, FarExchangeClearingEndsTheSipCall) {
    SOLO_EN_E2E();
    int c;
    ASSERT_NO_FATAL_FAILURE(EnMarcha(kTroncalR2, &c));
    ASSERT_TRUE(Llama(kTroncalR2, c, "uac_troncal_libera.xml")) << llamante->Log();
    ASSERT_NO_FATAL_FAILURE(Contesta(kTroncalR2, c));
    ASSERT_TRUE(EsperaQue([] { return LeeTodo(kMensajesLlamante).find("CSeq: 1 ACK") != std::string::npos; }, 20000))
        << llamante->Log();
    ASSERT_EQ(Evento(*p.placa, c, "liberada 0"), "ok\n");
    EXPECT_EQ(llamante->Espera(20000), 0) << llamante->Log();
    EXPECT_TRUE(CPlaca::RecursoDice(kTroncalR2.iRec, "Fin llamada", 10000));
}

// A busy far exchange is a busy SIP call.
TEST_F(TroncalesPlaca, BusyFarExchangeAnswersTheSipCallerBusy) {
    SOLO_EN_E2E();
    int c;
    ASSERT_NO_FATAL_FAILURE(EnMarcha(kTroncalN5, &c));
    ASSERT_TRUE(Llama(kTroncalN5, c, "uac_troncal_ocupado.xml")) << llamante->Log();
    ASSERT_EQ(Evento(*p.placa, c, "ocupado"), "ok\n");
    EXPECT_EQ(llamante->Espera(20000), 0) << llamante->Log();
}

// A busy SIP party is busy on the line of the far exchange.
TEST_F(TroncalesPlaca, BusySipPartyIsBusyOnTheLine) {
    SOLO_EN_E2E();
    int c;
    ASSERT_NO_FATAL_FAILURE(EnMarcha(kTroncalR2, &c));
    auto puesto = Puesto("uas_troncal_ocupado.xml");
    ASSERT_EQ(Entrante(*p.placa, c, 2, kTroncalR2.vLejano, Digitos(kNumeroPuesto)), "ok\n");
    EXPECT_TRUE(EsperaComando(*p.placa, c, RESPONDE_OCUPADO, kSinParametros, 1, 20000));
    EXPECT_EQ(puesto->Espera(20000), 0) << puesto->Log();
}

// Nothing of an ended call stays behind: calls follow one another both ways on one trunk.
TEST_F(TroncalesPlaca, CallsFollowOneAnotherBothWaysOnTheR2Trunk) {
    SOLO_EN_E2E();
    const Troncal& t = kTroncalR2;
    int c;
    ASSERT_NO_FATAL_FAILURE(EnMarcha(t, &c));
    for (size_t i = 1; i <= 3; ++i) {
        ASSERT_TRUE(Llama(t, c, "uac_troncal.xml")) << i << llamante->Log();
        ASSERT_NO_FATAL_FAILURE(Contesta(t, c));
        ASSERT_EQ(llamante->Espera(30000), 0) << i << llamante->Log();
        ASSERT_TRUE(EsperaComando(*p.placa, c, LIBERA, kSinParametros, i, 10000)) << i;
        // The far exchange confirms the release: the trunk is idle again.
        size_t nLibre = VecesLibre(t);
        ASSERT_EQ(Evento(*p.placa, c, "liberada 0"), "ok\n");
        ASSERT_TRUE(EsperaQue([&] { return VecesLibre(t) > nLibre; }, 20000)) << i;

        auto puesto = Puesto("uas_troncal.xml");
        ASSERT_EQ(Entrante(*p.placa, c, 2, t.vLejano, Digitos(kNumeroPuesto)), "ok\n");
        ASSERT_TRUE(EsperaComando(*p.placa, c, RESPONDE_LIBRE, kSinParametros, i, 20000)) << i;
        ASSERT_TRUE(EsperaQue([&] { return Veces(CPlaca::LogRecurso(t.iRec), "AceptaLlamada (") >= i; }, 20000))
            << i;
        nLibre = VecesLibre(t);
        ASSERT_EQ(Evento(*p.placa, c, "liberada 0"), "ok\n");
        ASSERT_EQ(puesto->Espera(20000), 0) << i << puesto->Log();
        ASSERT_TRUE(EsperaQue([&] { return VecesLibre(t) > nLibre; }, 20000)) << i;
    }
}

// A caller who gives up before the far exchange answers releases the line.
TEST_F(TroncalesPlaca, CallerGivingUpReleasesTheLine) {
    SOLO_EN_E2E();
    int c;
    ASSERT_NO_FATAL_FAILURE(EnMarcha(kTroncalR2, &c));
    ASSERT_TRUE(Llama(kTroncalR2, c, "uac_troncal_cancela.xml")) << llamante->Log();
    EXPECT_EQ(llamante->Espera(20000), 0) << llamante->Log();
    ASSERT_TRUE(EsperaComando(*p.placa, c, LIBERA, kSinParametros, 1, 10000));
    ASSERT_EQ(Evento(*p.placa, c, "liberada 0"), "ok\n");
    // Idle again: the last state the trunk recorded.
    const std::string sEstado = "V,N07," + std::to_string(kTroncalR2.iRec) + ",R2-01,5,1,";
    EXPECT_TRUE(EsperaQue([&] {
        const std::string r = LeeTodo(kRegistros);
        const size_t i = r.rfind(sEstado);
        return i != std::string::npos && r.compare(i + sEstado.size(), 2, "0,") == 0;
    }, 10000)) << LeeTodo(kRegistros);
}

}  // namespace
