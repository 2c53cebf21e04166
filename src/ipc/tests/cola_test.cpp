// The channel itself: addressing, heartbeat and silence, closing, malformed frames.
// Ends with made-up ids share the real queues of the test's own sandbox.
#include <gtest/gtest.h>
#include <sys/ipc.h>
#include <sys/stat.h>
#include <sys/msg.h>

#include <glob.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ipc/cola.h"
#include "cola_pruebas.h"
#include "comun/nlog.h"

namespace {

// What the recording handlers saw, in order.
std::mutex tRegistro;
std::condition_variable cvRegistro;
std::vector<std::string> vRegistro;

void Anota(const std::string& s) {
    std::lock_guard<std::mutex> l(tRegistro);
    vRegistro.push_back(s);
    cvRegistro.notify_all();
}

std::vector<std::string> Registro() {
    std::lock_guard<std::mutex> l(tRegistro);
    return vRegistro;
}

// Waits until the record holds n entries (or 5 s pass).
bool Espera(size_t n) {
    std::unique_lock<std::mutex> l(tRegistro);
    return cvRegistro.wait_for(l, std::chrono::seconds(5), [n] { return vRegistro.size() >= n; });
}

template <int E> void Uno(int32_t peer, int32_t a) {
    Anota("e" + std::to_string(E) + " " + std::to_string(peer) + " " + std::to_string(a));
}

class ColaTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::lock_guard<std::mutex> l(tRegistro);
        vRegistro.clear();
    }
};

// Raw access to the queue, beside the ends.
struct Crudo {
    long mtype;
    uint8_t texto[8000];
};

int ColaDe(key_t clave) { return msgget(clave, 0); }

int Pendientes(key_t clave) {
    struct msqid_ds ds;
    if (msgctl(ColaDe(clave), IPC_STAT, &ds) != 0) return -1;
    return static_cast<int>(ds.msg_qnum);
}

// Codes (and first word) of the messages waiting with one type; takes them out.
std::vector<std::string> Saca(key_t clave, long tipo) {
    std::vector<std::string> v;
    Crudo m;
    ssize_t n;
    while ((n = msgrcv(ColaDe(clave), &m, sizeof m.texto, tipo, IPC_NOWAIT)) > 0) {
        std::string s = std::to_string(m.texto[0]);
        if (n >= 5) {
            int32_t w;
            memcpy(&w, &m.texto[1], 4);
            s += ":" + std::to_string(w);
        }
        v.push_back(s);
    }
    return v;
}

bool MeteCrudo(key_t clave, long tipo, const std::vector<uint8_t>& texto) {
    Crudo m;
    m.mtype = tipo;
    memcpy(m.texto, texto.data(), texto.size());
    return msgsnd(ColaDe(clave), &m, texto.size(), IPC_NOWAIT) == 0;
}

std::vector<uint8_t> Palabra(uint8_t codigo, std::initializer_list<int32_t> palabras) {
    std::vector<uint8_t> v{codigo};
    for (int32_t w : palabras) {
        uint8_t b[4];
        memcpy(b, &w, 4);
        v.insert(v.end(), b, b + 4);
    }
    return v;
}

// ---- Addressing ----

TEST_F(ColaTest, MessageTypesFollowTheEndpointKind) {
    struct Caso { int tipo; int32_t propio, peer; long envio, recepcion; };
    const Caso casos[] = {
        {COLA_PADRE, 3101, 4702, 4702, 47023101},
        {COLA_HIJO, 4702, 3101, 47023101, 4702},
        {COLA_PADRE, 73101, 4702, 4702, 47023101},  // only own mod 10000 enters the type
        {COLA_HERMANO_SERVIDOR, 3101, 4702, 4702, 47023101},
        {COLA_HERMANO_CLIENTE, 4702, 3101, 47023101, 4702},
        {COLA_SIMPLE, 11, 22, 22, 11},
    };
    for (const Caso& k : casos) {
        Cola c(k.peer, k.tipo, 0, k.propio);
        EXPECT_EQ(c.TipoEnvio(), k.envio) << k.tipo;
        EXPECT_EQ(c.TipoRecepcion(), k.recepcion) << k.tipo;
        EXPECT_EQ(c.EsCanalHermano(), k.tipo >= COLA_HERMANO_SERVIDOR);
    }
}

TEST_F(ColaTest, ChildrenOfOneFamilyNeverSeeEachOthersMessages) {
    Cola padre1(201, COLA_PADRE, 0, 100), padre2(202, COLA_PADRE, 0, 100);
    Cola hijo1(100, COLA_HIJO, 0, 201), hijo2(100, COLA_HIJO, 0, 202);
    // Same ids on the other family's queue: it must not take these either.
    Cola hermano(201, COLA_HERMANO_SERVIDOR, 0, 100);
    padre1.RegistraDescuelga(Uno<1>);
    padre2.RegistraDescuelga(Uno<2>);
    hijo1.RegistraDescuelga(Uno<3>);
    hijo2.RegistraDescuelga(Uno<4>);
    hermano.RegistraDescuelga(Uno<5>);

    padre1.EnviaDescuelga(11);
    padre2.EnviaDescuelga(12);
    hijo1.EnviaDescuelga(13);
    hijo2.EnviaDescuelga(14);
    ASSERT_TRUE(Espera(4));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::vector<std::string> r = Registro();
    std::sort(r.begin(), r.end());
    EXPECT_EQ(r, (std::vector<std::string>{"e1 201 13", "e2 202 14", "e3 100 11", "e4 100 12"}));
}

TEST_F(ColaTest, AnEndNeverReceivesWhatItSent) {
    Cola padre(301, COLA_PADRE, 0, 300);
    padre.RegistraDescuelga(Uno<1>);
    padre.EnviaDescuelga(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(Registro().empty());
    EXPECT_EQ(Saca(CLAVE_COLA_PADRE_HIJO, 301), (std::vector<std::string>{"61:1"}));
}

TEST_F(ColaTest, EndWhoseIdsWouldOverflowStaysClosed) {
    Cola c(5000, COLA_HIJO, 6, MAX_ID_CANAL + 1);
    EXPECT_LT(c.DameCola(), 0);
    EXPECT_EQ(c.EnviaDescuelga(1), 0);  // sends nothing, silently
    Cola ok(5000, COLA_HIJO, 6, MAX_ID_CANAL);
    EXPECT_GE(ok.DameCola(), 0);
    int32_t id;
    ASSERT_EQ(ok.EnviaLlamadaEntranteId(nullptr, &id) >= 0, true);
    EXPECT_EQ(id, MAX_ID_CANAL * 10000 + 1);
    EXPECT_GT(id, 0);
}

TEST_F(ColaTest, CreatorRaisesQueueByteLimitSoEveryChildCanBeConfigured) {
    Cola primero(400, COLA_PADRE, 0, 1);
    struct msqid_ds ds;
    ASSERT_EQ(msgctl(primero.DameCola(), IPC_STAT, &ds), 0);
    if (ds.msg_qbytes < BYTES_COLA) {
        // Neither CAP_SYS_RESOURCE nor a high enough msgmnb: the limit stays (the refusal is logged).
        EXPECT_GT(ds.msg_qbytes, 0u);
        GTEST_SKIP() << "no CAP_SYS_RESOURCE here: the queue keeps " << ds.msg_qbytes << " bytes";
    }
    EXPECT_GE(ds.msg_qbytes, BYTES_COLA);
    std::vector<Cola*> v;
    cfgConfigRecurso registro;
    char bloque[TAM_BLOQUE_GENERAL] = "10.0.0.1";
    for (int i = 0; i < 16; i++) {
        v.push_back(new Cola(1000 + i, COLA_PADRE, 0, 1));
        EXPECT_EQ(v.back()->EnviaTomaConfig(bloque, &registro), 0);
    }
    EXPECT_EQ(Pendientes(CLAVE_COLA_PADRE_HIJO), 16);
    for (Cola* c : v) delete c;
    EXPECT_EQ(Pendientes(CLAVE_COLA_PADRE_HIJO), 0);
}

// ---- Heartbeat and silence ----

std::vector<int32_t> vSilencios;
void Silencio(int32_t peer) { vSilencios.push_back(peer); }

TEST_F(ColaTest, SilenceCallbackFiresOnSeventhTickOnce) {
    vSilencios.clear();
    Cola c(999, COLA_HIJO, 6, 998);
    c.FijaLatido(0, Silencio);
    for (int i = 1; i <= 6; i++) c.Temporiza(1);
    EXPECT_TRUE(vSilencios.empty());
    EXPECT_FALSE(c.Inactiva());
    c.Temporiza(1);
    EXPECT_EQ(vSilencios, std::vector<int32_t>{999});
    EXPECT_TRUE(c.Inactiva());
    for (int i = 0; i < 20; i++) c.Temporiza(1);
    EXPECT_EQ(vSilencios.size(), 1u);
}

TEST_F(ColaTest, TickWithoutWatchRestartsSilenceCount) {
    vSilencios.clear();
    Cola c(999, COLA_HIJO, 6, 998);
    c.FijaLatido(0, Silencio);
    for (int i = 0; i < 5; i++) c.Temporiza(1);
    c.Temporiza(0);
    for (int i = 0; i < 6; i++) c.Temporiza(1);
    EXPECT_TRUE(vSilencios.empty());
    c.Temporiza(1);
    EXPECT_EQ(vSilencios.size(), 1u);
}

TEST_F(ColaTest, EveryMessageFromPeerRestartsSilenceCount) {
    vSilencios.clear();
    Cola c(601, COLA_PADRE, 6, 600);
    Cola peer(600, COLA_HIJO, 0, 601);
    c.FijaLatido(0, Silencio);
    c.RegistraLibera(Uno<1>);
    for (int i = 0; i < 6; i++) c.Temporiza(1);
    peer.EnviaLibera(5);
    ASSERT_TRUE(Espera(1));
    for (int i = 0; i < 6; i++) c.Temporiza(1);
    EXPECT_TRUE(vSilencios.empty());
}

TEST_F(ColaTest, SilentPeerLosesQueuedFramesAndInactiveEndSendsOnlyWhatIsAllowed) {
    vSilencios.clear();
    Cola c(600, COLA_PADRE, 3, 500);  // nobody reads type 600
    c.FijaLatido(0, Silencio);
    c.EnviaDescuelga(1);
    c.EnviaDescuelga(2);
    EXPECT_EQ(Pendientes(CLAVE_COLA_PADRE_HIJO), 2);
    for (int i = 0; i < 4; i++) c.Temporiza(1);
    ASSERT_TRUE(c.Inactiva());
    EXPECT_EQ(Pendientes(CLAVE_COLA_PADRE_HIJO), 0);

    struct Caso { const char* nombre; int (*envia)(Cola&); int resultado; };
    const Caso casos[] = {
        {"Descuelga", [](Cola& x) { return x.EnviaDescuelga(7); }, -1},
        {"Latido", [](Cola& x) { return x.EnviaLatido(); }, -1},
        {"Traza", [](Cola& x) { return x.EnviaTraza("t"); }, -1},
        {"LlamadaSaliente", [](Cola& x) { return x.EnviaLlamadaSaliente(nullptr); }, -1},
        {"FinLlamada", [](Cola& x) { return x.EnviaFinLlamada(7); }, -1},
        {"InfoLlamadaValor", [](Cola& x) { return x.EnviaInfoLlamadaValor(7, 1, 2); }, -1},
        {"InfoLlamada", [](Cola& x) { return x.EnviaInfoLlamada(7, 1); }, 0},
        {"Ringing", [](Cola& x) { return x.EnviaRinging(8); }, 0},
        {"AceptaLlamada", [](Cola& x) { return x.EnviaAceptaLlamada(9); }, 0},
        {"FinSesion", [](Cola& x) { return x.EnviaFinSesion(17); }, 0},
    };
    for (const Caso& k : casos) EXPECT_EQ(k.envia(c), k.resultado) << k.nombre;
    for (int i = 0; i < 5; i++) c.Temporiza(1);
    EXPECT_EQ(Saca(CLAVE_COLA_PADRE_HIJO, 600), (std::vector<std::string>{"8:8", "9:9", "17:17"}));
}

TEST_F(ColaTest, HeartbeatWithNewValueRevivesInactiveEnd) {
    vSilencios.clear();
    Cola c(701, COLA_PADRE, 6, 700);
    c.FijaLatido(0, Silencio);
    for (int i = 0; i < 7; i++) c.Temporiza(1);
    ASSERT_TRUE(c.Inactiva());

    // The value already in force changes nothing.
    ASSERT_TRUE(MeteCrudo(CLAVE_COLA_PADRE_HIJO, c.TipoRecepcion(), Palabra(COD_LATIDO, {6000})));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(c.Inactiva());

    Cola hijo(700, COLA_HIJO, 0, 701);
    hijo.FijaLatido(3, nullptr);  // sends 9000 at once
    for (int i = 0; i < 500 && c.Inactiva(); i++) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(c.Inactiva());
    EXPECT_EQ(c.DameLimite(), 9000);
    EXPECT_EQ(vSilencios.size(), 1u);
}

TEST_F(ColaTest, HeartbeatScheduleFollowsThePeriod) {
    Cola c(801, COLA_PADRE, 0, 800);  // nobody reads type 801
    const long t = 801;
    EXPECT_EQ(c.FijaLatido(2, nullptr), 0);
    EXPECT_EQ(Saca(CLAVE_COLA_PADRE_HIJO, t), std::vector<std::string>{"1:6000"});
    std::string ticks;
    for (int i = 1; i <= 5; i++) {
        c.Temporiza(1);
        ticks += Saca(CLAVE_COLA_PADRE_HIJO, t).empty() ? '.' : 'L';
    }
    EXPECT_EQ(ticks, "L.L.L");
    // Same period: nothing at once, one on the next tick.
    EXPECT_EQ(c.FijaLatido(2, nullptr), 0);
    EXPECT_TRUE(Saca(CLAVE_COLA_PADRE_HIJO, t).empty());
    c.Temporiza(1);
    EXPECT_EQ(Saca(CLAVE_COLA_PADRE_HIJO, t), std::vector<std::string>{"1:6000"});
    // Period 0 stops the heartbeat.
    EXPECT_EQ(c.FijaLatido(0, nullptr), 0);
    EXPECT_EQ(Saca(CLAVE_COLA_PADRE_HIJO, t), std::vector<std::string>{"1:0"});
    for (int i = 0; i < 5; i++) c.Temporiza(1);
    EXPECT_TRUE(Saca(CLAVE_COLA_PADRE_HIJO, t).empty());
    EXPECT_EQ(c.FijaLatido(-1, nullptr), -1);
    EXPECT_EQ(c.FijaLatido(INT32_MAX / 1000 + 1, nullptr), -1);
}

// ---- Closing ----

TEST_F(ColaTest, TerminaDrainsOnlyThePairAndLeavesTheQueue) {
    Cola c(902, COLA_PADRE, 0, 901);
    int q = c.DameCola();
    for (long t : {902L * 10000 + 901, 902L, 901L, 12345L})
        ASSERT_TRUE(MeteCrudo(CLAVE_COLA_PADRE_HIJO, t, Palabra(COD_DESCUELGA, {1})));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    c.Termina();
    EXPECT_EQ(msgget(CLAVE_COLA_PADRE_HIJO, 0), q);
    EXPECT_EQ(Saca(CLAVE_COLA_PADRE_HIJO, 0), std::vector<std::string>{"61:1"});
    EXPECT_EQ(c.EnviaDescuelga(1), 0);  // refused: termina_threads is set
    EXPECT_EQ(Pendientes(CLAVE_COLA_PADRE_HIJO), 0);
}

std::mutex tManejador;
std::atomic<int> iManejadorFin{0};
std::atomic<bool> bManejadorDentro{false};
void ManejadorLento(int32_t, int32_t) {
    std::lock_guard<std::mutex> l(tManejador);
    bManejadorDentro = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    iManejadorFin++;
}

TEST_F(ColaTest, TerminaWaitsForRunningHandlerInsteadOfCancellingIt) {
    iManejadorFin = 0;
    bManejadorDentro = false;
    Cola c(1001, COLA_PADRE, 0, 1000);
    Cola hijo(1000, COLA_HIJO, 0, 1001);
    c.RegistraLibera(ManejadorLento);
    hijo.EnviaLibera(1);
    while (!bManejadorDentro) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    c.Termina();
    EXPECT_EQ(iManejadorFin, 1);
    EXPECT_TRUE(tManejador.try_lock());
    tManejador.unlock();
}

TEST_F(ColaTest, TerminaStopsReceiveThreadEvenWithFullQueue) {
    Cola c(1101, COLA_PADRE, 0, 1100);
    std::vector<uint8_t> grande(MAX_TEXTO_COLA, 0);
    grande[0] = COD_DESCUELGA;
    int n = 0;
    while (MeteCrudo(CLAVE_COLA_PADRE_HIJO, 777, grande)) n++;
    while (MeteCrudo(CLAVE_COLA_PADRE_HIJO, 777, {COD_DESCUELGA})) n++;
    ASSERT_GT(n, 0);
    auto t0 = std::chrono::steady_clock::now();
    c.Termina();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
    EXPECT_EQ(Pendientes(CLAVE_COLA_PADRE_HIJO), n);
}

// A handler that closes its own end: the owner may delete the end at once, the receive
// thread leaves the object before it goes.
Cola* pColaCerrada = nullptr;
std::atomic<bool> bCerrada{false};
void CierraPropia(int32_t, int32_t) {
    pColaCerrada->Termina();
    bCerrada = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

TEST_F(ColaTest, EndClosedByItsOwnHandlerCanBeDeletedAtOnce) {
    bCerrada = false;
    pColaCerrada = new Cola(1801, COLA_PADRE, 0, 1800);
    pColaCerrada->RegistraLibera(CierraPropia);
    ASSERT_TRUE(MeteCrudo(CLAVE_COLA_PADRE_HIJO, pColaCerrada->TipoRecepcion(), Palabra(COD_LIBERA, {1})));
    while (!bCerrada) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    delete pColaCerrada;
    pColaCerrada = nullptr;
    // Time for a receive thread left running to touch the freed end (ASan would stop here).
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

// The DSP service's drain: the server end of a sibling channel empties the whole queue,
// whatever the address; a client end leaves it alone.
TEST_F(ColaTest, VaciaColaEmptiesTheQueueOnlyFromAParentOrServerEnd) {
    Cola cliente(1701, COLA_HERMANO_CLIENTE, 0, 1700), servidor(1700, COLA_HERMANO_SERVIDOR, 0, 1701);
    for (long t : {11L, 22L, 33L})
        ASSERT_TRUE(MeteCrudo(CLAVE_COLA_HERMANOS, t, Palabra(COD_DESCUELGA, {1})));
    VaciaCola(&cliente);
    VaciaCola(nullptr);
    EXPECT_EQ(Pendientes(CLAVE_COLA_HERMANOS), 3);
    VaciaCola(&servidor);
    EXPECT_EQ(Pendientes(CLAVE_COLA_HERMANOS), 0);
}

// ---- Malformed frames ----

std::atomic<int> iLlamadas{0};
void CuentaBytes(int32_t, int32_t, uint8_t*, int32_t) { iLlamadas++; }
void CuentaConfig(char*, cfgConfigRecurso*) { iLlamadas++; }
void CuentaLlama(int32_t, int32_t, int32_t, uint8_t*, int32_t, uint8_t*, int32_t) { iLlamadas++; }
void CuentaMensaje23(int32_t, uint8_t, int32_t, char*, int32_t, char*, int32_t, int32_t, uint8_t) { iLlamadas++; }
void CuentaDos(int32_t, int32_t, int32_t) { iLlamadas++; }
size_t uiLongitudTexto = 0;
void MideTexto(int32_t, char* t) { uiLongitudTexto = strlen(t); Anota("texto"); }

TEST_F(ColaTest, MalformedFramesAreDroppedAndChannelKeepsReceiving) {
    iLlamadas = 0;
    Cola c(1201, COLA_PADRE, 0, 1200);
    c.RegistraMarcaDtmf(CuentaBytes);
    c.RegistraEvtTomaConfig(CuentaConfig);
    c.RegistraLlama(CuentaLlama);
    c.RegistraEvtMensaje23(CuentaMensaje23);
    c.RegistraEvtFinLlamada(CuentaDos);
    c.RegistraEvtTraza(MideTexto);
    c.RegistraDescuelga(Uno<1>);
    const long t = c.TipoRecepcion();

    std::vector<std::vector<uint8_t>> malos = {
        Palabra(COD_MARCA_DTMF, {5, 1000}),                     // count past the payload
        Palabra(COD_MARCA_DTMF, {5, -1}),                       // negative count
        Palabra(COD_TOMA_CONFIG, {0x7FFFFFFF}),                 // huge path length
        Palabra(COD_TOMA_CONFIG, {4, 0x61616161}),              // path, but no record
        Palabra(COD_LLAMA, {1, 2, 3}),                          // origin count past the end
        Palabra(COD_LLAMA, {1, 2, 0, 40}),                      // destination count past the end
        Palabra(COD_MENSAJE23, {}),                             // nothing at all
        {COD_FIN_LLAMADA, 1, 2},                                // word cut short
        {0}, {10}, {58}, {200}, {255},                          // codes without a case
    };
    for (auto& m : malos) ASSERT_TRUE(MeteCrudo(CLAVE_COLA_PADRE_HIJO, t, m));
    std::vector<uint8_t> enorme(6000, 'x');  // over the largest frame
    enorme[0] = COD_DESCUELGA;
    ASSERT_TRUE(MeteCrudo(CLAVE_COLA_PADRE_HIJO, t, enorme));
    std::vector<uint8_t> texto(MAX_TEXTO_COLA, 'y');  // longest text, no terminator
    texto[0] = COD_TRAZA;
    ASSERT_TRUE(MeteCrudo(CLAVE_COLA_PADRE_HIJO, t, texto));
    ASSERT_TRUE(MeteCrudo(CLAVE_COLA_PADRE_HIJO, t, Palabra(COD_DESCUELGA, {42})));

    ASSERT_TRUE(Espera(2));
    EXPECT_EQ(Registro(), (std::vector<std::string>{"texto", "e1 1201 42"}));
    EXPECT_EQ(uiLongitudTexto, static_cast<size_t>(MAX_CARGA_COLA));
    EXPECT_EQ(iLlamadas, 0);
    EXPECT_EQ(Pendientes(CLAVE_COLA_PADRE_HIJO), 0);
}

TEST_F(ColaTest, OversizePayloadIsRefusedBySender) {
    Cola c(1301, COLA_PADRE, 0, 1300);
    std::vector<uint8_t> bytes(MAX_CARGA_COLA, 1);
    EXPECT_EQ(c.EnviaMarcaDtmf(1, bytes.data(), MAX_CARGA_COLA - 8), 0);
    EXPECT_EQ(Pendientes(CLAVE_COLA_PADRE_HIJO), 1);
    c.EnviaMarcaDtmf(1, bytes.data(), MAX_CARGA_COLA - 7);  // one byte too many
    c.Envia(COD_TRAZA, bytes.data(), MAX_CARGA_COLA + 1);
    EXPECT_EQ(Pendientes(CLAVE_COLA_PADRE_HIJO), 1);
}

TEST_F(ColaTest, ChildProcessesOfOneFamilyGetOnlyTheirOwnMessages) {
    pruebas::Peer a, b;
    ASSERT_TRUE(a.Lanza(COLA_HIJO));
    ASSERT_TRUE(b.Lanza(COLA_HIJO));
    Cola haciaA(a.pid, COLA_PADRE, 0, getpid()), haciaB(b.pid, COLA_PADRE, 0, getpid());
    haciaA.EnviaDescuelga(1);
    haciaB.EnviaDescuelga(2);
    haciaA.EnviaLibera(3);
    const std::string yo = std::to_string(getpid());
    EXPECT_EQ(a.Linea(), "61 p=" + yo + " 1");
    EXPECT_EQ(a.Linea(), "62 p=" + yo + " 3");
    EXPECT_EQ(b.Linea(), "61 p=" + yo + " 2");
    EXPECT_EQ(b.Linea(200), "");
    EXPECT_EQ(a.Termina(), 0);
    EXPECT_EQ(b.Termina(), 0);
}

// ---- The configuration side file ----

std::string sBloqueRecibido;
void GuardaBloque(char* bloque, cfgConfigRecurso*) {
    sBloqueRecibido.assign(bloque, TAM_BLOQUE_GENERAL);
    Anota("config");
}

TEST_F(ColaTest, UnwritableSideFileIsReportedAndRecordStillSent) {
    ASSERT_EQ(mkdir(FicheroConfigSistema, 0755), 0);  // rename onto a folder fails
    Cola c(1401, COLA_PADRE, 0, 1400);
    cfgConfigRecurso rec;
    EXPECT_EQ(c.EnviaTomaConfig("1.2.3.4", &rec), -2);
    EXPECT_EQ(Pendientes(CLAVE_COLA_PADRE_HIJO), 1);
    glob_t g;
    EXPECT_EQ(glob("/var/st_config_sistema.txt?*", 0, nullptr, &g), GLOB_NOMATCH);  // no leftovers
    globfree(&g);
    rmdir(FicheroConfigSistema);
}

TEST_F(ColaTest, MissingSideFileStillCallsHandlerWithZeroBlock) {
    Cola c(1501, COLA_PADRE, 0, 1500);
    c.RegistraEvtTomaConfig(GuardaBloque);
    const char ruta[] = "/var/no_existe";
    std::vector<uint8_t> m = Palabra(COD_TOMA_CONFIG, {static_cast<int32_t>(strlen(ruta))});
    m.insert(m.end(), ruta, ruta + strlen(ruta));
    m.resize(m.size() + TAM_REGISTRO_RECURSO, 0x11);
    ASSERT_TRUE(MeteCrudo(CLAVE_COLA_PADRE_HIJO, c.TipoRecepcion(), m));
    ASSERT_TRUE(Espera(1));
    EXPECT_EQ(sBloqueRecibido, std::string(TAM_BLOQUE_GENERAL, '\0'));
}

// ---- Flood guard ----

std::vector<std::chrono::steady_clock::time_point> vLlegadas;
void Llega(int32_t, int32_t) { vLlegadas.push_back(std::chrono::steady_clock::now()); }

std::atomic<int> iFallas{0};
void CuentaFallas(int, const char* texto) {
    if (strstr(texto, "Rx_Cola FALLA !!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!") != nullptr) iFallas++;
}
// A clock that never moves: every receipt after the first counts as quick, however
// loaded the machine is.
uint32_t RelojParado() { return 1000000; }

TEST_F(ColaTest, BurstOfMessagesPausesAfter501QuickReceiptsWithoutDroppingAny) {
    vLlegadas.clear();
    vLlegadas.reserve(2000);
    iFallas = 0;
    NLOG::FijaCaptura(CuentaFallas);
    Cola::FijaRelojRafaga(RelojParado);
    Cola c(1601, COLA_PADRE, 0, 1600);
    c.RegistraDescuelga(Llega);
    const int kTotal = 1100;
    for (int i = 0; i < kTotal; i++)
        ASSERT_TRUE(MeteCrudo(CLAVE_COLA_PADRE_HIJO, c.TipoRecepcion(), Palabra(COD_DESCUELGA, {i})));
    for (int i = 0; i < 300 && Pendientes(CLAVE_COLA_PADRE_HIJO) > 0; i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    c.Termina();
    ASSERT_EQ(vLlegadas.size(), static_cast<size_t>(kTotal));
    // The first receipt starts the count; the 502nd is the 501st quick one: a pause follows,
    // and again after the 1003rd.
    EXPECT_GE(vLlegadas[502] - vLlegadas[501], std::chrono::milliseconds(19));
    EXPECT_EQ(iFallas, 2);
    Cola::FijaRelojRafaga(nullptr);
    NLOG::FijaCaptura(nullptr);
}

}  // namespace
