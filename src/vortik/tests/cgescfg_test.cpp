// The configuration manager against the real segment and signal: the agent stand-in writes
// images and signals this process (found through /var/velkord.pid), and a recording sink checks
// the events fired, in order.
#include "cgescfg.h"

#include <signal.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "cconfig.h"
#include "comun/nlog.h"
#include "comun/trazapid.h"
#include "volcadocfg.h"

namespace {

using Eventos = std::vector<std::string>;

class SumideroGrabador : public CGestorCfg::CEventos {
public:
    void EvtReset() override { Apunta("EvtReset"); }
    void EvtReiniciaParamsQLN() override { Apunta("EvtReiniciaParamsQLN"); }
    void EvtReiniciaVirtual() override { Apunta("EvtReiniciaVirtual"); }
    void EvtReiniciaSip() override { Apunta("EvtReiniciaSip"); }
    void EvtReiniciaSincro() override { Apunta("EvtReiniciaSincro"); }
    void EvtReiniciaSnmp() override { Apunta("EvtReiniciaSnmp"); }
    void EvtReconfiguraEncamina() override { Apunta("EvtReconfiguraEncamina"); }
    void EvtArrancaRecurso(int i) override { Apunta("EvtArrancaRecurso(" + std::to_string(i) + ")"); }
    void EvtDetieneRecurso(int i) override { Apunta("EvtDetieneRecurso(" + std::to_string(i) + ")"); }
    void EvtReconfiguraRecurso(int i) override { Apunta("EvtReconfiguraRecurso(" + std::to_string(i) + ")"); }
    void EvtReconfiguraColaterales(int i) override {
        Apunta("EvtReconfiguraColaterales(" + std::to_string(i) + ")");
    }
    void EvtReiniciaMulticast() override { Apunta("EvtReiniciaMulticast"); }

    // Events recorded since the last call.
    Eventos Toma() {
        std::lock_guard<std::mutex> l(m);
        Eventos e;
        e.swap(eventos);
        return e;
    }
    Eventos EsperaPrimeros(std::size_t n) {
        std::unique_lock<std::mutex> l(m);
        cv.wait_for(l, std::chrono::seconds(10), [&] { return eventos.size() >= n; });
        Eventos e;
        e.swap(eventos);
        return e;
    }

    // Runs inside the manager's pass, on its thread.
    void AlEvento(std::function<void(const std::string&)> f) {
        std::lock_guard<std::mutex> l(m);
        alEvento = std::move(f);
    }

private:
    void Apunta(const std::string& s) {
        std::function<void(const std::string&)> f;
        {
            std::lock_guard<std::mutex> l(m);
            eventos.push_back(s);
            f = alEvento;
        }
        cv.notify_all();
        if (f) f(s);
    }
    std::mutex m;  // guards eventos and alEvento
    std::condition_variable cv;
    Eventos eventos;
    std::function<void(const std::string&)> alEvento;
};

std::mutex gMutexLog;
std::vector<std::string> gLog;
void Captura(int, const char* texto) {
    std::lock_guard<std::mutex> l(gMutexLog);
    gLog.push_back(texto);
}
bool EnLog(const std::string& linea) {
    std::lock_guard<std::mutex> l(gMutexLog);
    for (const std::string& s : gLog)
        if (s == linea) return true;
    return false;
}

// The first pass's events for a configuration with resources at the given positions.
Eventos PrimeraPasada(std::vector<int> posiciones) {
    Eventos e = {"EvtReiniciaMulticast", "EvtReiniciaParamsQLN", "EvtReiniciaVirtual", "EvtReiniciaSip",
                 "EvtReiniciaSincro",    "EvtReiniciaSnmp",      "EvtReconfiguraEncamina"};
    for (int p : posiciones) e.push_back("EvtArrancaRecurso(" + std::to_string(p) + ")");
    return e;
}

const char* const kGeneral =
    "[GENERAL]\nszNombre=PASARELA-01\nszDirCPU0=192.0.2.23\nszDirVirtual=192.0.2.23\nacIdConfig=CFG-1\n";
const char* const kRadio0 =
    "[RECURSO-0]\nnombre=RD-01\niTipoIf=0\niTipoRadio=0\nszUriLocal=sip:RD-01@192.0.2.23\n"
    "Emp0.UriTxA=sip:RD-02@192.0.2.23\n";
const char* const kTelefono3 = "[RECURSO-3]\nnombre=TLF-03\niTipoIf=2\nszUriLocal=sip:TLF-03@192.0.2.23\n";

class GestorCfg : public ::testing::Test {
protected:
    void SetUp() override {
        NLOG::FijaCaptura(Captura);
        ASSERT_EQ(AbreTrazaPid("/var/velkord.pid"), 0);
        // The core's signal thread hands the agent's signal to the manager; here a handler does.
        signal(CGestorCfg::kSenalCambio, [](int) { CGestorCfg::AvisaCambio(); });
        TrazaPid("main", 0, "src/vortik/main");
        // Both live until the process ends, like the core's globals (the thread never stops).
        poCfg = new CCONFIG;
        poGestor = new CGestorCfg;
        CargaConfigPrueba(poCfg);
        poGestor->FijaPeriodo(20000);
    }

    // Runs the agent stand-in on a description; true when it succeeded.
    bool Agente(const std::string& descripcion, bool bSenal = true) {
        std::string ruta = "/tmp/desc.XXXXXX";  // tests of one run share /tmp
        int fd = mkstemp(&ruta[0]);
        if (fd >= 0) close(fd);
        std::ofstream(ruta) << descripcion;
        const char* dir = std::getenv("VK_BUILD_DIR");
        std::string orden = std::string(dir ? dir : ".") + "/sim/cfgagent/cfgagent escribe " + ruta +
                            (bSenal ? "" : " --sin-senal");
        return std::system(orden.c_str()) == 0;
    }

    void Inicia() {
        ASSERT_EQ(poGestor->Inicia(poCfg, acDirVirtual, &oSumidero), 0);
    }

    // Signals one image and returns what its pass fired.
    Eventos Cambia(const std::string& descripcion) {
        unsigned int antes = poGestor->DameCambiosAtendidos();
        EXPECT_TRUE(Agente(descripcion));
        auto limite = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (poGestor->DameCambiosAtendidos() == antes && std::chrono::steady_clock::now() < limite)
            usleep(5000);
        EXPECT_GT(poGestor->DameCambiosAtendidos(), antes);
        return oSumidero.Toma();
    }

    static CCONFIG* poCfg;
    static CGestorCfg* poGestor;
    static SumideroGrabador& oSumidero;
    static char acDirVirtual[65];
};
CCONFIG* GestorCfg::poCfg;
CGestorCfg* GestorCfg::poGestor;
SumideroGrabador& GestorCfg::oSumidero = *new SumideroGrabador;  // the manager's thread outlives main
char GestorCfg::acDirVirtual[65];

TEST_F(GestorCfg, WithoutSegmentStartsTheBuiltInConfiguration) {
    Inicia();
    EXPECT_TRUE(EnLog("Error Acceso a memoria compartida\n"));
    EXPECT_EQ(oSumidero.EsperaPrimeros(8), PrimeraPasada({0}));
    EXPECT_EQ(poGestor->Inicia(poCfg, acDirVirtual, &oSumidero), -2);  // already started
    // The agent appears later: the next signal attaches and compares.
    EXPECT_EQ(Cambia(std::string(kGeneral) + kRadio0 + kTelefono3),
              (Eventos{"EvtReiniciaParamsQLN", "EvtReiniciaSip", "EvtReiniciaSincro", "EvtArrancaRecurso(3)"}));
    EXPECT_TRUE(EnLog("Acceso a memoria compartida"));
}

TEST_F(GestorCfg, RefusesMissingArgumentsAndAForeignSegment) {
    EXPECT_EQ(poGestor->Inicia(nullptr, acDirVirtual, &oSumidero), -2);
    EXPECT_EQ(poGestor->Inicia(poCfg, nullptr, &oSumidero), -2);
    EXPECT_EQ(poGestor->Inicia(poCfg, acDirVirtual, nullptr), -2);
    void* p = nullptr;
    EXPECT_EQ(CGestorCfg::AccesoMemoria(&p), 1);  // not there
    int id = shmget(CGestorCfg::kClaveMemoria, 4096, IPC_CREAT | 0666);  // there, but too small
    ASSERT_GE(id, 0);
    EXPECT_EQ(CGestorCfg::AccesoMemoria(&p), 1);
    EXPECT_EQ(p, nullptr);
}

TEST_F(GestorCfg, AddChangeRemoveFireExactlyTheirEvents) {
    const std::string base = std::string(kGeneral) + kRadio0;
    ASSERT_TRUE(Agente(base, false));
    Inicia();
    EXPECT_TRUE(EnLog("Acceso a memoria compartida OK\n"));
    EXPECT_STREQ(acDirVirtual, "192.0.2.23");
    EXPECT_EQ(oSumidero.EsperaPrimeros(8), PrimeraPasada({0}));

    EXPECT_EQ(Cambia(base + kTelefono3), Eventos{"EvtArrancaRecurso(3)"});
    EXPECT_TRUE(EnLog("CGESCFG: Parametros de recurso 3 han cambiado"));
    EXPECT_TRUE(EnLog("poCfg->aucFlgRecursoExiste= 1000000000000000"));
    EXPECT_TRUE(EnLog("poPasaRem->aucFlgRecursoExiste= 1001000000000000"));
    EXPECT_EQ(Cambia(base + kTelefono3 + "iVRing=60000\n"), Eventos{"EvtReconfiguraRecurso(3)"});
    EXPECT_EQ(poCfg->asRecursos[3].uParam.tlf.iVRing, 60000);
    EXPECT_EQ(Cambia(base), Eventos{"EvtDetieneRecurso(3)"});
    EXPECT_EQ(Cambia(base), Eventos{});  // identical image: nothing
    EXPECT_EQ(Cambia(base + "Emp0.UriTxA=sip:RD-09@192.0.2.23\n"), Eventos{"EvtReconfiguraColaterales(0)"});
    EXPECT_EQ(Cambia(base + "Emp0.UriTxA=sip:RD-09@192.0.2.23\n" + "[GENERAL]\nacIdConfig=CFG-2\n"),
              Eventos{"EvtReiniciaParamsQLN"});
}

TEST_F(GestorCfg, SegmentRecreatedBehindTheKeyIsAttachedAgain) {
    const std::string base = std::string(kGeneral) + kRadio0;
    ASSERT_TRUE(Agente(base, false));
    Inicia();
    oSumidero.EsperaPrimeros(8);
    // The agent removes the segment (still attached here, so only marked) and writes its next
    // image into a new one.
    const int idViejo = shmget(CGestorCfg::kClaveMemoria, 0, 0);
    ASSERT_GE(idViejo, 0);
    ASSERT_EQ(shmctl(idViejo, IPC_RMID, nullptr), 0);
    EXPECT_EQ(Cambia(base + kTelefono3), Eventos{"EvtArrancaRecurso(3)"});
    EXPECT_NE(shmget(CGestorCfg::kClaveMemoria, 0, 0), idViejo);
    EXPECT_EQ(Cambia(base), Eventos{"EvtDetieneRecurso(3)"});
    // A segment removed and not recreated: nothing to compare, the live configuration stays.
    ASSERT_EQ(shmctl(shmget(CGestorCfg::kClaveMemoria, 0, 0), IPC_RMID, nullptr), 0);
    const unsigned int antes = poGestor->DameCambiosAtendidos();
    kill(getpid(), CGestorCfg::kSenalCambio);
    auto limite = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!EnLog("NO encuentra memoria compartida") && std::chrono::steady_clock::now() < limite) usleep(5000);
    EXPECT_TRUE(EnLog("NO encuentra memoria compartida"));
    EXPECT_EQ(poGestor->DameCambiosAtendidos(), antes);
    EXPECT_EQ(Cambia(base + kTelefono3), Eventos{"EvtArrancaRecurso(3)"});
}

TEST_F(GestorCfg, ImageOnlyTypesDoNotLookLikeChanges) {
    // Types 15 and 16 and a radio's derived fields are normalised on both sides of the compare.
    const std::string d = std::string(kGeneral) + kRadio0 + "iTipoRadio=5\niNivelTonoPtt=3\niClimaxDelay=7\n" +
                          "[RECURSO-2]\nnombre=BL-02\niTipoIf=15\n[RECURSO-5]\nnombre=BL-05\niTipoIf=16\n";
    ASSERT_TRUE(Agente(d, false));
    Inicia();
    EXPECT_EQ(oSumidero.EsperaPrimeros(10), PrimeraPasada({0, 2, 5}));
    EXPECT_EQ(poCfg->asRecursos[2].iTipoIf, TIPOIF_BL);
    EXPECT_EQ(Cambia(d), Eventos{});
    EXPECT_EQ(poCfg->asRecursos[2].uParam.tlf.iModoEyM, 1);
    EXPECT_EQ(poCfg->asRecursos[0].iTipo, 1);
}

const char* const kPlanes =
    "[CENTRAL-0]\ncentralpropia=1\nno_test=111111\n[CENTRAL-1]\ncentralpropia=0\nno_test=333333\nRuta0=0:T1\n"
    "[TRONCAL-0]\nidtroncal=T1\nMiembro0=0:R2-1\n[TRONCAL-1]\nidtroncal=T2\nMiembro0=0:R2-2\n"
    "[IP-0]\nidhost=H1\ndirip1=192.0.2.1\n[IP-1]\nidhost=H2\ndirip1=192.0.2.2\n"
    "[SIP-0]\nidusuario=U1\nAbonado0=3:100001\n[SIP-1]\nidusuario=U2\nAbonado0=3:100002\n";
const char* const kPlanesIpSipAlReves =
    "[CENTRAL-0]\ncentralpropia=1\nno_test=111111\n[CENTRAL-1]\ncentralpropia=0\nno_test=333333\nRuta0=0:T1\n"
    "[TRONCAL-0]\nidtroncal=T1\nMiembro0=0:R2-1\n[TRONCAL-1]\nidtroncal=T2\nMiembro0=0:R2-2\n"
    "[IP-1]\nidhost=H1\ndirip1=192.0.2.1\n[IP-0]\nidhost=H2\ndirip1=192.0.2.2\n"
    "[SIP-1]\nidusuario=U1\nAbonado0=3:100001\n[SIP-0]\nidusuario=U2\nAbonado0=3:100002\n";
const char* const kPlanesTroncalesAlReves =
    "[CENTRAL-0]\ncentralpropia=1\nno_test=111111\n[CENTRAL-1]\ncentralpropia=0\nno_test=333333\nRuta0=0:T1\n"
    "[TRONCAL-1]\nidtroncal=T1\nMiembro0=0:R2-1\n[TRONCAL-0]\nidtroncal=T2\nMiembro0=0:R2-2\n"
    "[IP-0]\nidhost=H1\ndirip1=192.0.2.1\n[IP-1]\nidhost=H2\ndirip1=192.0.2.2\n"
    "[SIP-0]\nidusuario=U1\nAbonado0=3:100001\n[SIP-1]\nidusuario=U2\nAbonado0=3:100002\n";
const char* const kPlanesAtsAlReves =
    "[CENTRAL-1]\ncentralpropia=1\nno_test=111111\n[CENTRAL-0]\ncentralpropia=0\nno_test=333333\nRuta0=0:T1\n"
    "[TRONCAL-0]\nidtroncal=T1\nMiembro0=0:R2-1\n[TRONCAL-1]\nidtroncal=T2\nMiembro0=0:R2-2\n"
    "[IP-0]\nidhost=H1\ndirip1=192.0.2.1\n[IP-1]\nidhost=H2\ndirip1=192.0.2.2\n"
    "[SIP-0]\nidusuario=U1\nAbonado0=3:100001\n[SIP-1]\nidusuario=U2\nAbonado0=3:100002\n";

TEST_F(GestorCfg, ReorderedSetPlansAreUnchangedOrderedPlansChanged) {
    const std::string base = std::string(kGeneral) + kRadio0;
    ASSERT_TRUE(Agente(base + kPlanes, false));
    Inicia();
    oSumidero.EsperaPrimeros(8);
    EXPECT_EQ(Cambia(base + kPlanesIpSipAlReves), Eventos{});
    EXPECT_EQ(Cambia(base + kPlanes), Eventos{});
    EXPECT_EQ(Cambia(base + kPlanesTroncalesAlReves), Eventos{"EvtReconfiguraEncamina"});
    EXPECT_TRUE(EnLog("CGESCFG: Plan troncales ha cambiado"));
    EXPECT_EQ(Cambia(base + kPlanesAtsAlReves), (Eventos{"EvtReconfiguraEncamina"}));
    EXPECT_TRUE(EnLog("CGESCFG: Plan ATS ha cambiado"));
    EXPECT_EQ(Cambia(base + kPlanesAtsAlReves + "[IP-2]\nidhost=H3\n"), Eventos{});  // logged only
    EXPECT_TRUE(EnLog("CGESCFG: Plan direccionamiento IP ha cambiado"));
    EXPECT_EQ(Cambia(base + kPlanesAtsAlReves + "[IP-2]\nidhost=H3\n[GENERAL]\nuiPuertoMulticast=65001\n"),
              Eventos{"EvtReiniciaMulticast"});
    // Entering local system mode is still compared in ATS mode; from then on the plans and the
    // multicast parameters are not looked at.
    EXPECT_EQ(Cambia(base + "[GENERAL]\niCfgModoSistema=1\nuiPuertoMulticast=65001\n"),
              Eventos{"EvtReconfiguraEncamina"});
    EXPECT_EQ(Cambia(base + kPlanes + "[GENERAL]\niCfgModoSistema=1\nuiPuertoMulticast=65009\n"), Eventos{});
}

TEST_F(GestorCfg, SetPlansRepeatingAKeyMatchEachEntryOnce) {
    const std::string base = std::string(kGeneral) + kRadio0;
    const std::string a = "[SIP-0]\nidusuario=U1\nAbonado0=3:100001\n";
    const std::string b = "[SIP-0]\nidusuario=U1\nAbonado0=3:100002\n";
    auto plan = [](std::string x, std::string y) {
        return x + y.replace(y.find("SIP-0"), 5, "SIP-1");
    };
    ASSERT_TRUE(Agente(base + plan(a, b), false));
    Inicia();
    oSumidero.EsperaPrimeros(8);
    EXPECT_EQ(Cambia(base + plan(b, a)), Eventos{});  // the same two entries, reordered
    EXPECT_EQ(Cambia(base + plan(a, a)), Eventos{"EvtReconfiguraEncamina"});  // 100002 is gone
    EXPECT_EQ(Cambia(base + plan(a, b)), Eventos{"EvtReconfiguraEncamina"});  // and back
}

TEST_F(GestorCfg, HostileImageIsSurvived) {
    ASSERT_TRUE(Agente(std::string(kGeneral) + kRadio0, false));
    Inicia();
    oSumidero.EsperaPrimeros(8);
    const std::string hostil = std::string(kGeneral) +
                               "iNumRecursos=20\nLocalizadorRecurso=7-0 0-1 0-2 0-9 0-0\n" + kRadio0 +
                               "[RECURSO-1]\niTipoIf=5\niNumRangosOperador=100000\niNumRangosPrivilegiados=-5\n"
                               "iNumRangosDirectosOpe=2000000000\niNumRangosDirectosPriv=2000000000\n"
                               "size_aListaEnlacesExternos=99999\n"
                               "[RECURSO-2]\niTipoIf=99\niTipo=-7\n";
    EXPECT_EQ(Cambia(hostil), (Eventos{"EvtArrancaRecurso(1)", "EvtArrancaRecurso(2)"}));
    EXPECT_TRUE(EnLog("CFG: canal 0 fuera de rango (slot 7 dispositivo 0), ignorado"));
    // The same hostile image again compares the surviving records with themselves.
    Eventos e = Cambia(hostil);
    EXPECT_EQ(e, (Eventos{"EvtReconfiguraRecurso(2)"}));  // a type out of range never compares equal
    std::string volcado = "/tmp/volcado.XXXXXX";
    int fd = mkstemp(&volcado[0]);
    ASSERT_GE(fd, 0);
    close(fd);
    mainPintaCfg(poCfg, volcado.c_str());
    EXPECT_EQ(Cambia(std::string(kGeneral) + kRadio0),
              (Eventos{"EvtDetieneRecurso(1)", "EvtDetieneRecurso(2)"}));
}

TEST_F(GestorCfg, SignalDuringAPassIsServedByTheNextPass) {
    const std::string base = std::string(kGeneral) + kRadio0;
    ASSERT_TRUE(Agente(base, false));
    Inicia();
    oSumidero.EsperaPrimeros(8);
    // While the pass that starts resource 3 runs, the agent already removes it again.
    oSumidero.AlEvento([&](const std::string& e) {
        if (e == "EvtArrancaRecurso(3)") {
            EXPECT_TRUE(Agente(base));
        }
    });
    Agente(base + kTelefono3);
    Eventos e = oSumidero.EsperaPrimeros(2);
    oSumidero.AlEvento(nullptr);
    EXPECT_EQ(e, (Eventos{"EvtArrancaRecurso(3)", "EvtDetieneRecurso(3)"}));
}

}  // namespace
