// The trunk program lintaro as the core runs it: a real child on the simulated board, its DSP
// channel through the real DSP service dremson on the simulated DSP, the test as the core on
// the real queues and the SNMP agent stand-in receiving the records. The board clock (10 ms
// ticks) is moved forward by hand where the test-call periods are long.
#include <signal.h>
#include <sys/msg.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>

#include "central_dsp.h"
#include "csimboard.h"
#include "proceso_recurso.h"

namespace {

using namespace pruebas_recurso;
using namespace central_dsp;

constexpr uint32_t MASCARA = 0x10;
constexpr const char* FASE1 = "/var/boot-hpi.bin";
constexpr const char* FASE2 = "/var/qln6747.bin";

// ---- What the fake core receives from the trunks: "<pid> Name(values)" ----
std::mutex gtMutex;
std::vector<std::string>& Recibidos() {
    static auto& v = *new std::vector<std::string>;  // handlers may run while the test ends
    return v;
}
void Anota(int32_t peer, const std::string& s) {
    std::lock_guard<std::mutex> l(gtMutex);
    Recibidos().push_back(std::to_string(peer) + " " + s);
}
std::string T(const char* sz, std::initializer_list<int64_t> v) {
    std::string s = std::string(sz) + "(";
    bool b = false;
    for (auto x : v) {
        s += (b ? "," : "") + std::to_string(x);
        b = true;
    }
    return s + ")";
}
int Cuenta(pid_t pid, const std::string& s) {
    std::lock_guard<std::mutex> l(gtMutex);
    return static_cast<int>(std::count(Recibidos().begin(), Recibidos().end(), std::to_string(pid) + " " + s));
}
std::vector<std::string> De(pid_t pid, const std::string& sPrefijo) {
    std::lock_guard<std::mutex> l(gtMutex);
    std::vector<std::string> v;
    const std::string p = std::to_string(pid) + " " + sPrefijo;
    for (const auto& r : Recibidos())
        if (r.compare(0, p.size(), p) == 0) v.push_back(r.substr(std::to_string(pid).size() + 1));
    return v;
}

// The six digit values of a number in a call record, as text; '?' for what is no digit value.
std::string Numero(const char* ac) {
    std::string s;
    for (int i = 0; i < 6; ++i) s += ac[i] >= 0 && ac[i] <= 9 ? static_cast<char>('0' + ac[i]) : '?';
    return s;
}

void RegistraNucleo(Cola& c) {
    c.RegistraEvtLlamadaEntrante([](int32_t p, int32_t id, DatosLlamada* d) {
        Anota(p, "Entrante(" + std::to_string(id) + "," + std::to_string(d->ucPrioridad) + "," + Numero(d->acOrigen) +
                     "," + Numero(d->acDestino) + ")");
    });
    c.RegistraEvtFinLlamada([](int32_t p, int32_t id, int32_t v) { Anota(p, T("Fin", {id, v})); });
    c.RegistraEvtRinging([](int32_t p, int32_t id, int32_t v) { Anota(p, T("Ringing", {id, v})); });
    c.RegistraEvtAceptaLlamada([](int32_t p, int32_t id, int32_t) { Anota(p, T("Acepta", {id})); });
    c.RegistraEvtRechazaLlamada([](int32_t p, int32_t id, int32_t v) { Anota(p, T("Rechaza", {id, v})); });
    c.RegistraEvtInfoLlamada([](int32_t p, int32_t id, int32_t m, int32_t v) { Anota(p, T("Info", {id, m, v})); });
    c.RegistraEvtConversacionInterrumpida([](int32_t p, int32_t id) { Anota(p, T("Interrumpida", {id})); });
    c.RegistraEvtNotificaEstadoRecurso([](int32_t p, NotificacionEstado* e) {
        Anota(p, T("Estado", {e->ucEstado, e->iValor, e->iServicio}));
    });
    c.RegistraEvtDiagnostico([](int32_t p, uint8_t c, int32_t id, int32_t r) { Anota(p, T("Diag", {c, id, r})); });
}

// A program other than the resource programs, as a child with its output in a file.
class CProceso : public pruebas_proceso::CProcesoHijo {
public:
    CProceso(const std::string& sPrograma, std::vector<std::string> vArgs, const std::string& sSalida) {
        vArgs.insert(vArgs.begin(), sPrograma);
        iPid = Arranca(vArgs, sSalida);
    }
    pid_t iPid = -1;
};

// The DSP service with its core channel kept alive by the test.
class CServicio {
public:
    CServicio()
        : oProceso(DirBuild() + "/src/dremson/dremson", {"0", std::to_string(getpid())}, "/mnt/ramfs/dremson.out"),
          oCola(oProceso.iPid, COLA_PADRE, 0, getpid()) {
        oCola.FijaLatido(2, nullptr);
        giSinConfig = 0;
        oCola.RegistraEvtSinConfig([](int32_t) { ++giSinConfig; });
        hLatido = std::thread([this] {
            while (!bFin) {
                oCola.Temporiza(0);
                std::this_thread::sleep_for(std::chrono::milliseconds(500));
            }
        });
    }
    ~CServicio() {
        bFin = true;
        hLatido.join();
        oProceso.Mata();
    }
    // A resource process is announced once the service waits for one, as the core does: its
    // handlers are in place then.
    void Anuncia(pid_t pid) {
        EXPECT_TRUE(EsperaQue([] { return giSinConfig > 0; }, 15000));
        oCola.EnviaCreaCanalHermano(pid, COLA_HERMANO_SERVIDOR);
    }
    static std::atomic<int> giSinConfig;
    CProceso oProceso;
    Cola oCola;

private:
    std::atomic<bool> bFin{false};
    std::thread hLatido;
};

std::atomic<int> CServicio::giSinConfig{0};

cfgConfigRecurso Troncal(int iTipoIf, int iDispositivo, const char* szNombre, const char* szLocal,
                         const char* szRemoto) {
    cfgConfigRecurso r;
    cfgDefectoParteTipo(&r, iTipoIf);
    std::snprintf(r.nombre, sizeof r.nombre, "%s", szNombre);
    r.iTipo = 2;
    r.iTipoIf = iTipoIf;
    r.iSlot = 0;
    r.iDispositivo = iDispositivo;
    r.iCfgModoSistema = 0;
    cfgParamR2N5& p = r.uParam.r2n5;
    p.iLado = 0;
    p.iT_Release = 0;
    p.iT_Int_Warning = 3;
    std::memcpy(p.ntest_local, szLocal, 6);
    std::memcpy(p.ntest_remoto, szRemoto, 6);
    std::snprintf(p.szIdTroncal, sizeof p.szIdTroncal, "troncal.%d", iDispositivo);
    p.iNumRangosOperador = 1;
    p.asMisRangosOperador[0] = {100000, 199999};
    p.iNumRangosDirectosOpe = 1;
    p.asRangosDirectosOpe[0] = {500000, 599999};
    return r;
}

class Troncales : public ::testing::Test {
protected:
    void SetUp() override {
        ConfiguraLog();
        placa = simboard::CSimBoard::Arranca();
        ASSERT_TRUE(placa);
        for (const char* f : {FASE1, FASE2}) std::ofstream(f, std::ios::binary) << std::string(1500, '\x5a');
        agente.reset(new CProceso(DirBuild() + "/sim/snmpagent/snmpagent", {}, "/mnt/ramfs/snmpagent.out"));
        servicio.reset(new CServicio);
    }
    void TearDown() override {
        if (HasFailure()) {
            for (auto& h : hijos)
                std::printf("log %d:\n%s\n", h->Pid(), h->Log().c_str());
            std::printf("dremson:\n%s\nagente:\n%s\ncomandos:\n%s\n", servicio->oProceso.Salida().c_str(),
                        agente->Salida().c_str(), placa->Dsp("comandos").c_str());
        }
        hijos.clear();
        servicio.reset();
    }

    // A trunk started, configured, told it is the main board and linked to the DSP service;
    // returns when its DSP resource is configured.
    CHijoRecurso& Arranca(int iRec, const cfgConfigRecurso& r) {
        hijos.emplace_back(new CHijoRecurso);
        CHijoRecurso& h = *hijos.back();
        h.Arranca("lintaro", iRec, MASCARA);
        RegistraNucleo(h.Canal());
        EXPECT_TRUE(EsperaQue([&] { return h.Log().find("ARRANQUE") != std::string::npos; }, 5000));
        EXPECT_TRUE(EsperaQue([] { return !Buzon::Global().De(COD_SIN_CONFIG).empty(); }, 5000));
        h.Configura(r);
        const uint8_t b[4] = {8, 0, 0, 0};  // main board
        int32_t w;
        std::memcpy(&w, b, 4);
        h.Canal().EnviaDebug(w);
        servicio->Anuncia(h.Pid());
        h.Canal().EnviaCreaCanalHermano(servicio->oProceso.iPid, COLA_HERMANO_CLIENTE);
        EXPECT_TRUE(h.LogContiene("ProtocoloRecurso DSP configurado(", 30000));
        return h;
    }
    // The DSP channel of the resource that asked last.
    int Canal(CHijoRecurso& h) {
        EsperaQue([&] { return h.Log().find("ProtocoloRecurso DSP configurado") != std::string::npos; }, 1);
        int iCanal = -1;
        for (const auto& l : Lineas(placa->Dsp("comandos"))) {
            const auto p = l.find(": 03 00 ");
            if (p != std::string::npos) iCanal = std::stoi(l.substr(p + 8, 2), nullptr, 16);
        }
        return iCanal;
    }
    std::vector<std::string> Comandos(int iCanal, int iCodigo) { return central_dsp::Comandos(*placa, iCanal, iCodigo); }
    bool EsperaComando(int iCanal, int iCodigo, const std::string& sParametros, size_t n = 1, int iMs = 10000) {
        return central_dsp::EsperaComando(*placa, iCanal, iCodigo, sParametros, n, iMs);
    }
    void Evento(int iCanal, const std::string& sEvento) {
        EXPECT_EQ(central_dsp::Evento(*placa, iCanal, sEvento), "ok\n");
    }
    // An incoming line call with digit values.
    void Entrante(int iCanal, int iPrioridad, std::vector<int> vOrigen, std::vector<int> vDestino) {
        EXPECT_EQ(central_dsp::Entrante(*placa, iCanal, iPrioridad, vOrigen, vDestino), "ok\n");
    }
    bool EsperaRecibido(pid_t pid, const std::string& s, int n = 1, int iMs = 10000) {
        return EsperaQue([&] { return Cuenta(pid, s) >= n; }, iMs);
    }
    bool EnAgente(const std::string& s, int iMs = 10000) {
        return EsperaQue([&] { return agente->Salida().find(s) != std::string::npos; }, iMs);
    }
    size_t VecesEnAgente(const std::string& s) {
        const std::string t = agente->Salida();
        size_t n = 0;
        for (size_t p = t.find(s); p != std::string::npos; p = t.find(s, p + 1)) ++n;
        return n;
    }
    // The fresh trunk's first test call is answered as out of service: the line is proved.
    void Prueba(CHijoRecurso& h, int iCanal, const std::string& sLlamada) {
        ASSERT_TRUE(EsperaComando(iCanal, 0x0121, sLlamada, 1, 20000));
        Evento(iCanal, "fuera");
        ASSERT_TRUE(EsperaRecibido(h.Pid(), T("Estado", {0, 0, 1})));
    }
    // A trunk started and proved; its DSP channel.
    int Probada(CHijoRecurso** pph, int iRec, const cfgConfigRecurso& r, const std::string& sPrueba) {
        CHijoRecurso& h = Arranca(iRec, r);
        *pph = &h;
        const int c = Canal(h);
        EXPECT_GE(c, 0);
        Prueba(h, c, sPrueba);
        return c;
    }
    // Id of the last message of the core that begins with sPrefijo ("Entrante(").
    int32_t Id(pid_t pid, const std::string& sPrefijo) {
        auto v = De(pid, sPrefijo);
        return v.empty() ? -1 : std::stoi(v.back().substr(sPrefijo.size()));
    }
    // An outgoing call from the core; its id once the trunk took it (diagnostic 0).
    int32_t Saliente(CHijoRecurso& h, const char* szOrigen, const char* szDestino, int iPrioridad, int iDiag = 0) {
        DatosLlamada d{};
        std::snprintf(d.acOrigen, sizeof d.acOrigen, "%s", szOrigen);
        std::snprintf(d.acDestino, sizeof d.acDestino, "%s", szDestino);
        d.ucPrioridad = static_cast<uint8_t>(iPrioridad);
        int32_t id = -1;
        h.Canal().EnviaLlamadaSalienteId(&d, &id);
        EXPECT_TRUE(EsperaRecibido(h.Pid(), T("Diag", {5, id, iDiag}))) << id;
        return id;
    }
    // An incoming call of priority 2 from 300001 to 400002; its id once offered to the core.
    int32_t Ofrecida(CHijoRecurso& h, int c) {
        const size_t n = De(h.Pid(), "Entrante(").size();
        Entrante(c, 2, {3, 0, 0, 0, 0, 1}, {4, 0, 0, 0, 0, 2});
        EXPECT_TRUE(EsperaQue([&] { return De(h.Pid(), "Entrante(").size() > n; }, 10000));
        return Id(h.Pid(), "Entrante(");
    }
    // An R2 outgoing call of priority 3 that the far end answers.
    int32_t EnConversacion(CHijoRecurso& h, int c) {
        const int32_t id = Saliente(h, "700001", "300002", 3);
        Evento(c, "libre");
        EXPECT_TRUE(EsperaRecibido(h.Pid(), T("Acepta", {id})));
        return id;
    }
    void AvanzaReloj(uint32_t uiTicks) {
        const uint32_t t = static_cast<uint32_t>(std::stoul(placa->Orden("tick")));
        placa->Orden("tick " + std::to_string(t + uiTicks));
    }

    std::unique_ptr<simboard::CSimBoard> placa;
    std::unique_ptr<CProceso> agente;
    std::unique_ptr<CServicio> servicio;
    std::vector<std::unique_ptr<CHijoRecurso>> hijos;
};

// Test call of R2-01 (local 111111, remote 222222): priority 4, six digits each way.
const std::string kPruebaR2 = Hex({4, 6, 6, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2});

TEST_F(Troncales, FreshTrunkIsOutOfServiceUntilItsTestCallIsAnsweredOutOfService) {
    CHijoRecurso& h = Arranca(3, Troncal(TIPOIF_ATSR2, 3, "R2-01", "111111", "222222"));
    const int c = Canal(h);
    ASSERT_GE(c, 0);
    // Side A of ATS-R2: protocol 3, line levels {-10, -50}, after channels and codecs in order.
    ASSERT_TRUE(EsperaComando(c, 0x0110, Hex({3})));
    EXPECT_TRUE(EsperaRecibido(h.Pid(), T("Estado", {10, 0, 1})));
    EXPECT_TRUE(EnAgente("V,N07,3,R2-01,5,1,10,0,9,-"));
    Prueba(h, c, kPruebaR2);
    EXPECT_TRUE(EnAgente("V,H00,2304,R2-01:RC=R2-01"));
    EXPECT_TRUE(EnAgente("V,N07,3,R2-01,5,1,0,0,9,-"));

    // Forty minutes later the next one is due; failures retry every five seconds and are
    // recorded until more than three follow each other.
    for (int i = 1; i <= 5; ++i) {
        AvanzaReloj(240000);
        ASSERT_TRUE(EsperaComando(c, 0x0121, kPruebaR2, static_cast<size_t>(i) + 1, 20000)) << i;
        Evento(c, "timeout");
        ASSERT_TRUE(h.LogContiene("LlamadaSalienteFallida", 5000));
        ASSERT_TRUE(EsperaQue([&] { return VecesEnAgente("V,H00,2204,R2-01") >= static_cast<size_t>(std::min(i, 4)); },
                              10000))
            << i;
    }
    EXPECT_EQ(VecesEnAgente("V,H00,2204,R2-01"), 4u);
    EXPECT_TRUE(h.LogContiene("Intentos fallidos 4", 5000));
    EXPECT_TRUE(EsperaRecibido(h.Pid(), T("Estado", {10, 0, 1}), 2));
}


TEST_F(Troncales, IncomingCallIsOfferedRungAcceptedAndRecorded) {
    CHijoRecurso* ph;
    const int c = Probada(&ph, 3, Troncal(TIPOIF_ATSR2, 3, "R2-01", "111111", "222222"), kPruebaR2);
    CHijoRecurso& h = *ph;
    const pid_t p = h.Pid();
    Entrante(c, 0, {3, 0, 0, 0, 0, 1}, {4, 0, 0, 0, 0, 10});  // 10 is the digit 0
    ASSERT_TRUE(EsperaQue([&] { return Id(p, "Entrante(") >= 0; }, 10000));
    const int32_t id = Id(p, "Entrante(");
    EXPECT_EQ(Cuenta(p, "Entrante(" + std::to_string(id) + ",4,300001,400000)"), 1);
    EXPECT_TRUE(EsperaRecibido(p, T("Estado", {2, 0, 1})));

    h.Canal().EnviaRinging(id);
    EXPECT_TRUE(EsperaComando(c, RESPONDE_LIBRE, kSinParametros));
    EXPECT_TRUE(EsperaComando(c, TONOS, Hex({2, 60})));  // ringback after 600 ms
    const std::string sRegistro = "V,H00,2300,R2-01:IF=5|TRO=troncal.3|NO=300001|ND=400000|PR=4|EST=L|TRA=0|CH=0:";
    EXPECT_TRUE(EnAgente(sRegistro));

    h.Canal().EnviaAceptaLlamada(id);
    EXPECT_TRUE(EsperaComando(c, TONOS, Hex({0, 0})));
    EXPECT_TRUE(EsperaRecibido(p, T("Estado", {1, 4, 1})));
    EXPECT_TRUE(EsperaQue([&] { return VecesEnAgente(sRegistro) == 2; }, 10000));

    Evento(c, "liberada 0");
    EXPECT_TRUE(EsperaRecibido(p, T("Fin", {id, 0})));
    EXPECT_TRUE(EnAgente("V,H00,2301,R2-01:IF=5|TRO=troncal.3|CH=0|DL="));  // its length depends on the run
    EXPECT_TRUE(EsperaRecibido(p, T("Estado", {0, 0, 1}), 2));
}

TEST_F(Troncales, IncomingCallsArePrioritisedScreenedForLoopsOrDroppedAndRejected) {
    CHijoRecurso* ph;
    const int c = Probada(&ph, 3, Troncal(TIPOIF_ATSR2, 3, "R2-01", "111111", "222222"), kPruebaR2);
    CHijoRecurso& h = *ph;
    const pid_t p = h.Pid();
    struct Caso {
        const char* szNombre;
        int iPrioridad;
        std::vector<int> vOrigen, vDestino;
        int iOfrecida;     // priority offered to the core, -1: not offered
        int iCongestion;   // congestion answers expected so far
    } casos[] = {
        {"PriorityFiveBecomesNine", 5, {3, 0, 0, 0, 0, 1}, {4, 0, 0, 0, 0, 2}, 9, 0},
        {"PriorityTenBecomesFour", 10, {3, 0, 0, 0, 0, 1}, {4, 0, 0, 0, 0, 2}, 4, 0},
        {"DirectOriginToOwnNumberBecomesNine", 7, {5, 0, 0, 0, 0, 1}, {1, 0, 0, 0, 0, 2}, 9, 0},
        {"NoPreferenceOtherwise", 7, {5, 0, 0, 0, 0, 1}, {4, 0, 0, 0, 0, 2}, 7, 0},
        {"OriginInOwnRangesIsALoop", 2, {1, 0, 0, 0, 0, 1}, {4, 0, 0, 0, 0, 2}, -1, 1},
        {"DestinationInDirectRangesIsALoop", 2, {3, 0, 0, 0, 0, 1}, {5, 5, 5, 5, 5, 5}, -1, 2},
        {"AllZeroDestinationIsDropped", 2, {3, 0, 0, 0, 0, 1}, {10, 10, 10, 10, 10, 10}, -1, 2},
        {"EmptyOriginIsDropped", 2, {}, {4, 0, 0, 0, 0, 2}, -1, 2},
        {"TenDigitNumbersNeverMatchARange", 2, {1, 0, 0, 0, 0, 0, 0, 0, 0, 1}, {4, 0, 0, 0, 0, 2}, 2, 2},
        {"LongestNumbersTheDspCarries", 3, std::vector<int>(30, 7), std::vector<int>(27, 4), 3, 2},
    };
    int iOfrecidas = 0;
    for (const Caso& k : casos) {
        const size_t nOcupado = Comandos(c, RESPONDE_OCUPADO).size();
        Entrante(c, k.iPrioridad, k.vOrigen, k.vDestino);
        if (k.iOfrecida < 0) {
            EXPECT_TRUE(EsperaQue([&] { return static_cast<int>(Comandos(c, RESPONDE_CONGESTION).size()) ==
                                               k.iCongestion; }, 5000)) << k.szNombre;
            std::this_thread::sleep_for(std::chrono::milliseconds(300));  // nothing reaches the core
            EXPECT_EQ(static_cast<int>(De(p, "Entrante(").size()), iOfrecidas) << k.szNombre;
            continue;
        }
        ASSERT_TRUE(EsperaQue([&] { return static_cast<int>(De(p, "Entrante(").size()) == iOfrecidas + 1; }, 5000))
            << k.szNombre;
        ++iOfrecidas;
        const std::string e = De(p, "Entrante(").back();
        EXPECT_NE(e.find("," + std::to_string(k.iOfrecida) + ","), std::string::npos) << k.szNombre << " " << e;
        h.Canal().EnviaRechazaLlamada(Id(p, "Entrante("), 202);
        EXPECT_TRUE(EsperaQue([&] { return Comandos(c, RESPONDE_OCUPADO).size() == nOcupado + 1; }, 5000))
            << k.szNombre;
        EXPECT_TRUE(EsperaQue([&] { return VecesEnAgente("|EST=O|") == static_cast<size_t>(iOfrecidas); }, 5000));
    }
    EXPECT_TRUE(h.LogContiene("Error: Origen o Destino 0", 1000));
    EXPECT_TRUE(h.LogContiene("Error Parametros EvtDspllamentrante()", 1000));
}

// A ringback timer that fires after the call left states 2 and 3 lets its slot go: the timer
// armed next in that slot (the interruption warning here) is not cancelled by the end of a
// tone sequence.
TEST_F(Troncales, RingbackExpiringAfterTheCallLeftItsStateCancelsNoLaterTimer) {
    CHijoRecurso* ph;
    const int c = Probada(&ph, 3, Troncal(TIPOIF_ATSR2, 3, "R2-01", "111111", "222222"), kPruebaR2);
    CHijoRecurso& h = *ph;
    const pid_t p = h.Pid();
    h.Canal().EnviaRinging(Ofrecida(h, c));
    ASSERT_TRUE(EsperaComando(c, RESPONDE_LIBRE, kSinParametros));
    Evento(c, "bloqueada");  // within the ringback's 600 ms
    ASSERT_TRUE(h.LogContiene("EvtDspLineaBloqueada", 5000));
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));  // the ringback fires
    ASSERT_TRUE(Comandos(c, TONOS).size() == 0 || Comandos(c, TONOS).back() != Hex({2, 60}))
        << "the ringback came before the blocking";
    Evento(c, "reposo");
    ASSERT_TRUE(h.LogContiene("EvtDspReposo 7", 5000));
    const int32_t id1 = EnConversacion(h, c);
    const int32_t id2 = Saliente(h, "700005", "300006", 1);
    ASSERT_TRUE(EsperaRecibido(p, T("Info", {id1, 1, id2})));
    h.Canal().EnviaAceptaLlamada(id2);  // crosses the interruption: ends the warning tone only
    EXPECT_TRUE(EsperaRecibido(p, T("Fin", {id1, 208}), 1, 8000));
}

// The DSP service's call message carries its own digit counts: above 64 they are cut to what
// the trunk keeps before the digits are copied.
TEST_F(Troncales, DigitCountsAboveSixtyFourFromTheDspServiceAreCutBeforeTheCopy) {
    CHijoRecurso* ph;
    const int c = Probada(&ph, 3, Troncal(TIPOIF_ATSR2, 3, "R2-01", "111111", "222222"), kPruebaR2);
    ASSERT_GE(c, 0);
    CHijoRecurso& h = *ph;
    const std::string sLog = h.Log();
    const size_t k = sLog.find("Creado recurso DSP (");
    ASSERT_NE(k, std::string::npos);
    const int32_t idRecurso = std::stoi(sLog.substr(k + 20));
    // Code 60 as the service sends it: resource, priority, 100 origin digits, 1 destination digit.
    MensajeCola m{};
    m.mtype = h.Pid();
    std::vector<uint8_t> v = {COD_LLAMA};
    auto Palabra = [&](int32_t x) { v.insert(v.end(), reinterpret_cast<uint8_t*>(&x), reinterpret_cast<uint8_t*>(&x) + 4); };
    Palabra(idRecurso);
    Palabra(3);
    Palabra(100);
    v.insert(v.end(), 100, 7);
    Palabra(1);
    v.push_back(4);
    std::memcpy(m.texto, v.data(), v.size());
    ASSERT_EQ(msgsnd(msgget(CLAVE_COLA_HERMANOS, 0), &m, v.size(), IPC_NOWAIT), 0);
    ASSERT_TRUE(EsperaQue([&] { return Id(h.Pid(), "Entrante(") >= 0; }, 10000));
    EXPECT_EQ(De(h.Pid(), "Entrante(").back(), "Entrante(" + std::to_string(Id(h.Pid(), "Entrante(")) + ",3,777777,400000)");
}

// Line events of the far exchange and call information of the core, each from the state it
// acts in; the line is put back at rest between rows.
TEST_F(Troncales, LineEventsAndCallInformationReachTheCoreTheLineAndTheAgent) {
    CHijoRecurso* ph;
    const int c = Probada(&ph, 3, Troncal(TIPOIF_ATSR2, 3, "R2-01", "111111", "222222"), kPruebaR2);
    CHijoRecurso& h = *ph;
    const pid_t p = h.Pid();
    enum eDesde { REPOSO, SALIENTE, CONVERSACION, OFRECIDA };
    int32_t idInterrumpe = -1;
    struct Caso {
        const char* szNombre;
        eDesde eInicio;
        std::function<void(int32_t)> fHaz;         // given the id of the call in progress
        std::function<std::string(int32_t)> fNucleo;  // what the core must get
        int iComando;                               // a DSP command the trunk must give, 0 none
        std::string sParametros;
        const char* szAgente;                       // a record the agent must get
    } casos[] = {
        {"CongestionRefusesTheOutgoingCall", SALIENTE, [&](int32_t) { Evento(c, "congestion"); },
         [](int32_t id) { return T("Rechaza", {id, 206}); }, 0, "", "|EST=F|"},
        {"ReleaseWithCauseThreeInterruptsTheConversation", CONVERSACION, [&](int32_t) { Evento(c, "liberada 3"); },
         [](int32_t id) { return T("Interrumpida", {id}); }, 0, "", ""},
        {"BlockedLineIsPublishedOutOfService", REPOSO, [&](int32_t) { Evento(c, "bloqueada"); },
         [](int32_t) { return T("Estado", {10, 0, 1}); }, 0, "", ""},
        {"InformationThreeAnswersTheOfferedCallAndRingsBack", OFRECIDA,
         [&](int32_t id) { h.Canal().EnviaInfoLlamada(id, 3); }, [](int32_t) { return std::string(); }, TONOS,
         Hex({2, 60}), ""},
        {"InformationSixPlaysItsToneOnce", CONVERSACION, [&](int32_t id) { h.Canal().EnviaInfoLlamada(id, 6); },
         [](int32_t) { return std::string(); }, TONOS, Hex({6, 1}), ""},
        {"UnconfirmedBlockingRefusesTheInterruptingCall", CONVERSACION,
         [&](int32_t) { idInterrumpe = Saliente(h, "700005", "300006", 1); },
         [&](int32_t) { return T("Rechaza", {idInterrumpe, 204}); }, LIBERA, kSinParametros, ""},
        {"ProtocolErrorRefusesTheOutgoingCallWithItsRecord", SALIENTE, [&](int32_t) { Evento(c, "errorprotocolo"); },
         [](int32_t id) { return T("Rechaza", {id, 203}); }, 0, "", "V,H00,2203,R2-01"},
    };
    for (const Caso& k : casos) {
        int32_t id = -1;
        if (k.eInicio == SALIENTE) id = Saliente(h, "700001", "300002", 3);
        if (k.eInicio == CONVERSACION) id = EnConversacion(h, c);
        if (k.eInicio == OFRECIDA) id = Ofrecida(h, c);
        const int nNucleo = Cuenta(p, k.fNucleo(id));
        size_t nComandos = 0;
        for (const auto& x : Comandos(c, k.iComando)) nComandos += x == k.sParametros;
        const size_t nAgente = *k.szAgente ? VecesEnAgente(k.szAgente) : 0;
        k.fHaz(id);
        const std::string sNucleo = k.fNucleo(id);
        if (!sNucleo.empty()) {
            EXPECT_TRUE(EsperaRecibido(p, sNucleo, nNucleo + 1, 20000)) << k.szNombre;
        }
        if (k.iComando) {
            EXPECT_TRUE(EsperaComando(c, k.iComando, k.sParametros, nComandos + 1)) << k.szNombre;
        }
        if (*k.szAgente) {
            EXPECT_TRUE(EsperaQue([&] { return VecesEnAgente(k.szAgente) > nAgente; }, 10000)) << k.szNombre;
        }
        // Back at rest for the next row.
        const size_t nReposos = Lineas(h.Log()).size();
        Evento(c, "reposo");
        ASSERT_TRUE(EsperaQue([&] {
            const auto v = Lineas(h.Log());
            for (size_t i = nReposos; i < v.size(); ++i)
                if (v[i].find("EvtDspReposo") != std::string::npos) return true;
            return false;
        }, 10000)) << k.szNombre;
    }
}

TEST_F(Troncales, UnansweredOutgoingCallIsRefusedAndACallDuringTheReleaseIsPlacedAfterIt) {
    CHijoRecurso* ph;
    const int c = Probada(&ph, 3, Troncal(TIPOIF_ATSR2, 3, "R2-01", "111111", "222222"), kPruebaR2);
    CHijoRecurso& h = *ph;
    const pid_t p = h.Pid();
    const int32_t id1 = Saliente(h, "700001", "300002", 3);
    EXPECT_TRUE(EsperaComando(c, LLAMA, Hex({3, 6, 6, 7, 0, 0, 0, 0, 1, 3, 0, 0, 0, 0, 2})));
    EXPECT_TRUE(EsperaRecibido(p, T("Estado", {1, 3, 1})));
    const auto t0 = Reloj::now();
    ASSERT_TRUE(EsperaRecibido(p, T("Rechaza", {id1, 204}), 1, 30000));
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(Reloj::now() - t0).count(), 19000);
    EXPECT_TRUE(EsperaComando(c, LIBERA, kSinParametros));

    const int32_t id2 = Saliente(h, "100001", "300002", 3);
    Evento(c, "libre");
    ASSERT_TRUE(EsperaRecibido(p, T("Acepta", {id2})));
    EXPECT_TRUE(EnAgente("V,H00,2302,R2-01:IF=5|TRO=troncal.3|NO=100001|ND=300002|PR=3|EST=L|TRA=0|CH=1:"));
    h.Canal().EnviaFinLlamada(id2);
    ASSERT_TRUE(EsperaComando(c, LIBERA, kSinParametros, 2));
    const auto t1 = Reloj::now();
    const int32_t id3 = Saliente(h, "700003", "300004", 2);
    ASSERT_TRUE(EsperaComando(c, LLAMA, Hex({2, 6, 6, 7, 0, 0, 0, 0, 3, 3, 0, 0, 0, 0, 4})));
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(Reloj::now() - t1).count(), 2000);
    EXPECT_TRUE(EnAgente("V,H00,2303,R2-01:IF=5|TRO=troncal.3|CH=1|DL="));
    Evento(c, "libre");
    EXPECT_TRUE(EsperaRecibido(p, T("Acepta", {id3})));
}

TEST_F(Troncales, PriorityCallInterruptsAnR2ConversationAfterItsWarning) {
    CHijoRecurso* ph;
    const int c = Probada(&ph, 3, Troncal(TIPOIF_ATSR2, 3, "R2-01", "111111", "222222"), kPruebaR2);
    CHijoRecurso& h = *ph;
    const pid_t p = h.Pid();
    const int32_t id1 = EnConversacion(h, c);
    Saliente(h, "700001", "300009", 2, 207);  // not preferential: busy
    const int32_t id2 = Saliente(h, "700005", "300006", 1);
    ASSERT_TRUE(EsperaRecibido(p, T("Ringing", {id2, 2})));
    ASSERT_TRUE(EsperaRecibido(p, T("Info", {id1, 1, id2})));
    const auto t0 = Reloj::now();
    EXPECT_TRUE(EsperaComando(c, TONOS, Hex({5, 15})));
    ASSERT_TRUE(EsperaRecibido(p, T("Fin", {id1, 208})));
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Reloj::now() - t0).count();
    EXPECT_GE(ms, 1700);  // (3 - 1) x 10 ticks
    EXPECT_LE(ms, 5000);
    EXPECT_TRUE(EsperaRecibido(p, T("Ringing", {id2, 3})));
    EXPECT_TRUE(EsperaComando(c, BLOQUEA, kSinParametros));
    Evento(c, "liberada 0");
    EXPECT_TRUE(EsperaComando(c, LLAMA, Hex({1, 6, 6, 7, 0, 0, 0, 0, 5, 3, 0, 0, 0, 0, 6})));
    Evento(c, "libre");
    EXPECT_TRUE(EsperaRecibido(p, T("Acepta", {id2})));
}

TEST_F(Troncales, PriorityCallInterruptsAnN5ConversationAfterItsFixedWarning) {
    CHijoRecurso* ph;
    const int c = Probada(&ph, 3, Troncal(TIPOIF_ATSN5, 3, "N5-01", "444444", "555555"),
                          Hex({4, 6, 6, 4, 4, 4, 4, 4, 4, 5, 5, 5, 5, 5, 5}));
    CHijoRecurso& h = *ph;
    const pid_t p = h.Pid();
    ASSERT_EQ(Comandos(c, 0x0110), std::vector<std::string>{Hex({5})});  // ATS-N5 side A
    const int32_t id1 = Saliente(h, "700001", "300002", 3);
    Evento(c, "libre");
    ASSERT_TRUE(EsperaRecibido(p, T("Ringing", {id1, 0})));  // on N5 free only rings
    EXPECT_EQ(Cuenta(p, T("Acepta", {id1})), 0);
    Evento(c, "descuelga");
    ASSERT_TRUE(EsperaRecibido(p, T("Acepta", {id1})));
    const int32_t id2 = Saliente(h, "700005", "300006", 6);
    ASSERT_TRUE(EsperaRecibido(p, T("Info", {id1, 1, id2})));
    const auto t0 = Reloj::now();
    EXPECT_TRUE(EsperaQue([&] { return !Comandos(c, INTERVENCION).empty(); }, 5000));
    ASSERT_TRUE(EsperaRecibido(p, T("Fin", {id1, 208}), 1, 30000));
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(Reloj::now() - t0).count(), 16000);  // 165 ticks
    EXPECT_TRUE(EsperaRecibido(p, T("Ringing", {id2, 3})));
    Evento(c, "descuelga");
    EXPECT_TRUE(EsperaRecibido(p, T("Acepta", {id2})));
}

TEST_F(Troncales, LostDspResourceEndsTheCallAndIsCreatedAndConfiguredAgainInOrder) {
    CHijoRecurso* ph;
    const int c = Probada(&ph, 3, Troncal(TIPOIF_ATSR2, 3, "R2-01", "111111", "222222"), kPruebaR2);
    CHijoRecurso& h = *ph;
    const pid_t p = h.Pid();
    const int32_t id = EnConversacion(h, c);

    // The service is restarted, as the core does with a dead one: the new pid replaces the channel.
    servicio.reset();
    placa->Dsp("borra");
    servicio.reset(new CServicio);
    servicio->Anuncia(p);
    h.Canal().EnviaCreaCanalHermano(servicio->oProceso.iPid, COLA_HERMANO_CLIENTE);
    ASSERT_TRUE(EsperaRecibido(p, T("Fin", {id, 0})));
    EXPECT_TRUE(EsperaRecibido(p, T("Estado", {10, 0, 1}), 2));
    ASSERT_TRUE(EsperaQue([&] { return !Comandos(Canal(h), 0x0110).empty(); }, 30000));
    const int c2 = Canal(h);
    std::vector<std::string> vOrden;
    for (const auto& l : Lineas(placa->Dsp("comandos"))) {
        const auto k = l.find(": ");
        const std::string b = k == std::string::npos ? "" : l.substr(k + 2);  // code, channel, values
        // The service's hello also names channel 0.
        if (b.size() >= 11 && b.compare(6, 5, Hex({c2, 0})) == 0 && b.compare(0, 5, "01 00") != 0)
            vOrden.push_back(b.substr(0, 5));
    }
    const std::vector<std::string> vEsperado = {"03 00", "06 00", "05 00", "08 00", "07 00", "0b 00", "0a 00", "10 01"};
    ASSERT_GE(vOrden.size(), vEsperado.size());
    EXPECT_EQ(std::vector<std::string>(vOrden.begin(), vOrden.begin() + 8), vEsperado);
    EXPECT_TRUE(h.LogContiene("EvtDspReposo", 1000));
}

TEST_F(Troncales, TwoTrunksOfTheBoardCallEachOtherThroughALoopbackPair) {
    CHijoRecurso* pa;
    const int ca = Probada(&pa, 3, Troncal(TIPOIF_ATSR2, 3, "R2-A", "111111", "222222"), kPruebaR2);
    // The next channel is the B side's: paired before B starts, B's test call reaches A.
    ASSERT_EQ(placa->Dsp("bucle " + std::to_string(ca) + " " + std::to_string(ca + 1)), "ok\n");
    CHijoRecurso& b = Arranca(2, Troncal(TIPOIF_ATSR2, 2, "R2-B", "222222", "111111"));
    ASSERT_EQ(Canal(b), ca + 1);
    ASSERT_TRUE(EsperaRecibido(b.Pid(), T("Estado", {0, 0, 1}), 1, 20000));
    EXPECT_TRUE(pa->LogContiene("Llamada Entrante de prueba", 1000));
    EXPECT_TRUE(EnAgente("V,H00,2304,R2-B:RC=R2-B"));

    CHijoRecurso& a = *pa;
    const int32_t ida = Saliente(a, "700001", "300002", 3);
    ASSERT_TRUE(EsperaQue([&] { return Id(b.Pid(), "Entrante(") >= 0; }, 10000));
    const int32_t idb = Id(b.Pid(), "Entrante(");
    EXPECT_EQ(Cuenta(b.Pid(), "Entrante(" + std::to_string(idb) + ",3,700001,300002)"), 1);
    b.Canal().EnviaRinging(idb);
    ASSERT_TRUE(EsperaRecibido(a.Pid(), T("Acepta", {ida})));
    b.Canal().EnviaAceptaLlamada(idb);
    EXPECT_TRUE(EsperaRecibido(b.Pid(), T("Estado", {1, 3, 1})));
    a.Canal().EnviaFinLlamada(ida);
    ASSERT_TRUE(EsperaRecibido(b.Pid(), T("Fin", {idb, 0})));
    EXPECT_TRUE(EnAgente("V,H00,2302,R2-A:IF=5|TRO=troncal.3|NO=700001|ND=300002|PR=3|EST=L|TRA=0|CH=0:"));
    EXPECT_TRUE(EnAgente("V,H00,2300,R2-B:IF=5|TRO=troncal.2|NO=700001|ND=300002|PR=3|EST=L|TRA=0|CH=0:"));
    EXPECT_TRUE(EnAgente("V,H00,2303,R2-A:IF=5|TRO=troncal.3|CH=0|DL="));
    EXPECT_TRUE(EnAgente("V,H00,2301,R2-B:IF=5|TRO=troncal.2|CH=0|DL="));
    EXPECT_TRUE(EsperaRecibido(a.Pid(), T("Estado", {0, 0, 1}), 2, 10000));
}

// The core's answers may cross a release of the far end: the release wins, and no id of a
// call already ended reaches the core again.
TEST_F(Troncales, ReleasedCallStaysReleasedAndItsIdNeverReachesTheCoreAgain) {
    CHijoRecurso* ph;
    const int c = Probada(&ph, 3, Troncal(TIPOIF_ATSR2, 3, "R2-01", "111111", "222222"), kPruebaR2);
    CHijoRecurso& h = *ph;
    const pid_t p = h.Pid();
    const int32_t id = Ofrecida(h, c);
    ASSERT_GE(id, 0);
    Evento(c, "liberada 0");
    ASSERT_TRUE(EsperaRecibido(p, T("Fin", {id, 0})));
    h.Canal().EnviaAceptaLlamada(id);  // too late
    ASSERT_TRUE(h.LogContiene("AceptaLlamada (1)", 5000));

    // Released by the core: a time-out of the line during the release tells the core nothing.
    const int32_t id2 = EnConversacion(h, c);
    h.Canal().EnviaFinLlamada(id2);
    ASSERT_TRUE(EsperaComando(c, LIBERA, kSinParametros));
    Evento(c, "timeout");
    ASSERT_TRUE(h.LogContiene("EvtDspTimeout 10", 5000));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(De(p, "Fin(").size(), 1u);
}

TEST_F(Troncales, PartialReconfigurationChangesSideTestNumbersAndEchoCanceller) {
    CHijoRecurso* ph;
    cfgConfigRecurso r = Troncal(TIPOIF_ATSR2, 3, "R2-01", "111111", "222222");
    const int c = Probada(&ph, 3, r, kPruebaR2);
    CHijoRecurso& h = *ph;
    std::snprintf(r.szClave, sizeof r.szClave, "T12");
    h.Configura(r);
    EXPECT_TRUE(EsperaComando(c, 0x011e, Hex({12})));
    r.uParam.r2n5.iLado = 1;
    std::memcpy(r.uParam.r2n5.ntest_local, "333333", 6);
    r.szClave[0] = '\0';
    h.Configura(r);
    EXPECT_TRUE(h.LogContiene("Recurso DSP liberado por reconfiguracion", 5000));
    // A new resource on side B (protocol 4), and the new numbers are tested at once.
    EXPECT_TRUE(EsperaQue([&] {
        for (const auto& l : Lineas(placa->Dsp("comandos")))
            if (l.find(" 10 01 ") != std::string::npos && l.substr(l.size() - 3) == " 04") return true;
        return false;
    }, 15000));
    EXPECT_TRUE(EsperaQue([&] {
        for (const auto& l : Lineas(placa->Dsp("comandos")))
            if (l.find(" 21 01 ") != std::string::npos && l.find(Hex({4, 6, 6, 3, 3, 3, 3, 3, 3})) != std::string::npos)
                return true;
        return false;
    }, 15000));
}

TEST_F(Troncales, InterruptionThatTheCoreEndsDuringTheWarningLeavesTheConversation) {
    CHijoRecurso* ph;
    const int c = Probada(&ph, 3, Troncal(TIPOIF_ATSR2, 3, "R2-01", "111111", "222222"), kPruebaR2);
    CHijoRecurso& h = *ph;
    const pid_t p = h.Pid();
    const int32_t id1 = EnConversacion(h, c);
    const int32_t id2 = Saliente(h, "700005", "300006", 6);
    ASSERT_TRUE(EsperaRecibido(p, T("Info", {id1, 1, id2})));
    h.Canal().EnviaFinLlamada(id2);
    ASSERT_TRUE(EsperaRecibido(p, T("Info", {id1, 2, 0})));
    EXPECT_TRUE(EsperaRecibido(p, T("Estado", {1, 3, 1})));
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));  // past the warning
    EXPECT_EQ(Cuenta(p, T("Fin", {id1, 208})), 0);
    EXPECT_TRUE(Comandos(c, BLOQUEA).empty());
    Evento(c, "liberada 0");
    EXPECT_TRUE(EsperaRecibido(p, T("Fin", {id1, 0})));
}

TEST_F(Troncales, RejectionAfterAnImmediateAnswerPlaysItsToneThenReleases) {
    CHijoRecurso* ph;
    cfgConfigRecurso r = Troncal(TIPOIF_ATSR2, 3, "R2-01", "111111", "222222");
    r.sColateral.iRespuestaAutomatica = 1;
    r.uParam.r2n5.iT_Release = 3;
    const int c = Probada(&ph, 3, r, kPruebaR2);
    CHijoRecurso& h = *ph;
    const pid_t p = h.Pid();
    Entrante(c, 2, {3, 0, 0, 0, 0, 1}, {4, 0, 0, 0, 0, 2});
    ASSERT_TRUE(EsperaQue([&] { return Id(p, "Entrante(") >= 0; }, 10000));
    // Answered before the core was asked: the command reaches the DSP by the service, after the
    // offer may have reached the core.
    EXPECT_TRUE(EsperaComando(c, RESPONDE_LIBRE, kSinParametros));
    EXPECT_EQ(Comandos(c, RESPONDE_LIBRE).size(), 1u);
    h.Canal().EnviaRechazaLlamada(Id(p, "Entrante("), 205);
    ASSERT_TRUE(EsperaComando(c, TONOS, Hex({9, 3})));
    const auto t0 = Reloj::now();
    ASSERT_TRUE(EsperaComando(c, LIBERA, kSinParametros, 1, 10000));
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Reloj::now() - t0).count();
    EXPECT_GE(ms, 2700);  // iT_Release x 10 ticks
    EXPECT_LE(ms, 6000);
    EXPECT_TRUE(EnAgente("|EST=C|"));
    // Idle again after the end of the release.
    std::this_thread::sleep_for(std::chrono::milliseconds(3000));
    Entrante(c, 2, {3, 0, 0, 0, 0, 1}, {4, 0, 0, 0, 0, 2});
    EXPECT_TRUE(EsperaQue([&] { return De(p, "Entrante(").size() == 2; }, 10000));
}

}  // namespace
