// The trunk program lintaro as the core runs it: a real child on the simulated board, its DSP
// channel through the real DSP service dremson on the simulated DSP, the test as the core on
// the real queues and the SNMP agent stand-in receiving the records. The board clock (10 ms
// ticks) is moved forward by hand where the test-call periods are long.
#include <signal.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>

#include "csimboard.h"
#include "proceso_recurso.h"

namespace {

using namespace pruebas_recurso;

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

void RegistraNucleo(Cola& c) {
    c.RegistraEvtLlamadaEntrante([](int32_t p, int32_t id, DatosLlamada* d) {
        Anota(p, "Entrante(" + std::to_string(id) + "," + std::to_string(d->ucPrioridad) + "," + d->acOrigen + "," +
                     d->acDestino + ")");
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
class CProceso {
public:
    CProceso(const std::string& sPrograma, std::vector<std::string> vArgs, const std::string& sSalida)
        : sSalida(sSalida) {
        vArgs.insert(vArgs.begin(), sPrograma);
        std::vector<char*> argv;
        for (auto& a : vArgs) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        iPid = fork();
        if (iPid == 0) {
            int fd = open(sSalida.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(fd, 1);
            dup2(fd, 2);
            execv(argv[0], argv.data());
            _exit(121);
        }
    }
    ~CProceso() { Mata(); }
    void Mata() {
        if (iPid <= 0) return;
        kill(iPid, SIGKILL);
        waitpid(iPid, nullptr, 0);
        iPid = -1;
    }
    std::string Salida() const { return ficheros_pruebas::LeeTodo(sSalida); }
    pid_t iPid = -1;

private:
    std::string sSalida;
};

// The DSP service with its core channel kept alive by the test.
class CServicio {
public:
    CServicio()
        : oProceso(DirBuild() + "/src/dremson/dremson", {"0", std::to_string(getpid())}, "/mnt/ramfs/dremson.out"),
          oCola(oProceso.iPid, COLA_PADRE, 0, getpid()) {
        oCola.FijaLatido(2, nullptr);
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
    CProceso oProceso;
    Cola oCola;

private:
    std::atomic<bool> bFin{false};
    std::thread hLatido;
};

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

std::string Hex(std::initializer_list<int> v) {
    std::string s;
    char ac[4];
    for (int b : v) {
        std::snprintf(ac, sizeof ac, "%02x", b & 0xFF);
        s += (s.empty() ? "" : " ") + std::string(ac);
    }
    return s;
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
        servicio->oCola.EnviaCreaCanalHermano(h.Pid(), COLA_HERMANO_SERVIDOR);
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
    static std::vector<std::string> Lineas(const std::string& s) {
        std::istringstream is(s);
        std::vector<std::string> v;
        for (std::string l; std::getline(is, l);) v.push_back(l);
        return v;
    }
    // Commands of the DSP channel received so far, as their bytes after code and channel.
    std::vector<std::string> Comandos(int iCanal, int iCodigo) {
        std::vector<std::string> v;
        const std::string s = ": " + Hex({iCodigo & 0xFF, iCodigo >> 8, iCanal, 0});
        for (const auto& l : Lineas(placa->Dsp("comandos"))) {
            const auto p = l.find(s);
            if (p != std::string::npos) v.push_back(l.size() > p + s.size() ? l.substr(p + s.size() + 1) : "");
        }
        return v;
    }
    bool EsperaComando(int iCanal, int iCodigo, const std::string& sParametros, size_t n = 1, int iMs = 10000) {
        return EsperaQue([&] {
            size_t k = 0;
            for (const auto& c : Comandos(iCanal, iCodigo)) k += c == sParametros;
            return k >= n;
        }, iMs);
    }
    void Evento(int iCanal, const std::string& sEvento) {
        EXPECT_EQ(placa->Dsp("evento " + std::to_string(iCanal) + " " + sEvento), "ok\n");
    }
    // An incoming line call with digit values.
    void Entrante(int iCanal, int iPrioridad, std::vector<int> vOrigen, std::vector<int> vDestino) {
        std::string s = "crudo " + Hex({0x23, 0x80, iCanal, 0, iPrioridad, static_cast<int>(vOrigen.size()),
                                        static_cast<int>(vDestino.size())});
        for (int d : vOrigen) s += " " + Hex({d});
        for (int d : vDestino) s += " " + Hex({d});
        EXPECT_EQ(placa->Dsp(s), "ok\n");
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

}  // namespace
