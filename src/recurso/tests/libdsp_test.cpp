// DSP client against a fake DSP service on the real queue: the service's end of the channel
// (kind 3) lives in the test and records what the client sends.
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "hardware/ccomeventos.h"
#include "ipc/cola.h"
#include "libdsp.h"

namespace {

constexpr int32_t PID_DSP = 4242;
constexpr int32_t PID_DSP_NUEVO = 4343;

template <typename F>
bool EsperaQue(F fCond, int iMs = 5000) {
    auto fin = std::chrono::steady_clock::now() + std::chrono::milliseconds(iMs);
    while (std::chrono::steady_clock::now() < fin) {
        if (fCond()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return fCond();
}

// What the fake services received: {service pid, code, id, value}.
struct Pedido {
    int32_t pid;
    int iCodigo;
    int32_t id, v;
};
std::mutex& gMutex = *new std::mutex;
std::vector<Pedido>& gPedidos = *new std::vector<Pedido>;  // guarded by gMutex

void Anota(int32_t pid, int c, int32_t id, int32_t v) {
    std::lock_guard<std::mutex> l(gMutex);
    gPedidos.push_back({pid, c, id, v});
}
std::vector<Pedido> Pedidos(int iCodigo, int32_t pid = PID_DSP) {
    std::lock_guard<std::mutex> l(gMutex);
    std::vector<Pedido> r;
    for (const auto& p : gPedidos)
        if (p.iCodigo == iCodigo && p.pid == pid) r.push_back(p);
    return r;
}

// Handlers get the client's pid as peer: each fake service has handlers of its own.
template <int32_t PID>
void RxArranca(int32_t, int32_t id, int32_t arg) { Anota(PID, COD_ARRANCA_RECURSO, id, arg); }
template <int32_t PID>
void RxLibera(int32_t, int32_t id) { Anota(PID, COD_LIBERA_RECURSO, id, 0); }
template <int32_t PID>
void RxCanalIfTx(int32_t, int32_t id, int32_t v) { Anota(PID, COD_TOMA_CANAL_IF_TX, id, v); }

template <int32_t PID>
std::unique_ptr<Cola> ServicioFalso() {
    std::unique_ptr<Cola> c(new Cola(getpid(), COLA_HERMANO_SERVIDOR, 0, PID));
    c->RegistraArrancaRecurso(RxArranca<PID>);
    c->RegistraLiberaRecurso(RxLibera<PID>);
    c->RegistraTomaCanalIfTx(RxCanalIfTx<PID>);
    return c;
}

class EntidadPrueba : public CComeventos {
public:
    int EvtDspRecursoCreado(int id) override {
        std::lock_guard<std::mutex> l(tMutex);
        vCreados.push_back(id);
        return 0;
    }
    int EvtDspLiberaRecurso() override { return ++iLiberados, 0; }
    int EvtDspDigitoDtmf(uint8_t d, int v) override {
        std::lock_guard<std::mutex> l(tMutex);
        vDigitos.push_back(d * 1000 + v);
        return 0;
    }
    std::vector<int> Creados() {
        std::lock_guard<std::mutex> l(tMutex);
        return vCreados;
    }
    std::vector<int> Digitos() {
        std::lock_guard<std::mutex> l(tMutex);
        return vDigitos;
    }
    std::atomic<int> iLiberados{0};

private:
    std::mutex tMutex;  // guards the two lists: the channel's thread fills them
    std::vector<int> vCreados, vDigitos;
};

class ClienteDsp : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(ldspInicia(), 0);
        servicio = ServicioFalso<PID_DSP>();
        ASSERT_EQ(ldspCreaCanal(PID_DSP), 0);
    }
    // A request sent after the others and seen by the service: everything before it arrived.
    void Sincroniza(int32_t idVivo, int32_t pid = PID_DSP) {
        static int32_t iMarca = 0;
        const int32_t m = ++iMarca;
        ASSERT_EQ(ldspTomaCanalIfTx(idVivo, m), 0);
        ASSERT_TRUE(EsperaQue([&] {
            for (const auto& p : Pedidos(COD_TOMA_CANAL_IF_TX, pid))
                if (p.v == m) return true;
            return false;
        }));
    }
    std::unique_ptr<Cola> servicio;
};

TEST_F(ClienteDsp, AFifthResourceIsRefusedAndNotAskedFor) {
    EntidadPrueba e[5];
    std::vector<int> ids;
    for (int i = 0; i < 4; ++i) {
        int id = ldspArrancaRecurso(i, &e[i]);
        ASSERT_GE(id, 0) << i;
        ids.push_back(id);
    }
    EXPECT_EQ(ldspArrancaRecurso(4, &e[4]), LDSP_SIN_HUECO);
    EXPECT_EQ(ldspNumRecursos(), 4);
    Sincroniza(ids[0]);
    auto v = Pedidos(COD_ARRANCA_RECURSO);
    ASSERT_EQ(v.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(v[i].id, ids[i]);
        EXPECT_EQ(v[i].v, i);
    }
    // Released, the slot serves again.
    EXPECT_EQ(ldspLiberaRecurso(ids[2]), 0);
    EXPECT_GE(ldspArrancaRecurso(5, &e[4]), 0);
}

TEST_F(ClienteDsp, EventsReachTheOwnerOfTheirIdAndStrayIdsAreIgnored) {
    EntidadPrueba a, b;
    int ida = ldspArrancaRecurso(0, &a);
    int idb = ldspArrancaRecurso(0, &b);
    ASSERT_GE(ida, 0);
    ASSERT_GE(idb, 0);
    servicio->EnviaDigitoDtmf(ida + 7, '5', 1);  // an id the client never had
    servicio->EnviaDigitoDtmf(idb, '7', 2);
    servicio->EnviaDigitoDtmf(ida, '3', 3);
    ASSERT_TRUE(EsperaQue([&] { return !a.Digitos().empty(); }));
    EXPECT_EQ(a.Digitos(), std::vector<int>{'3' * 1000 + 3});
    EXPECT_EQ(b.Digitos(), std::vector<int>{'7' * 1000 + 2});
}

TEST_F(ClienteDsp, AnAnswerForAnIdNobodyWaitsForReleasesThatResource) {
    EntidadPrueba a;
    int id = ldspArrancaRecurso(0, &a);
    ASSERT_GE(id, 0);
    // An id of another process with the same slot: not ours to release.
    servicio->EnviaDspRecursoCreado(id + 10000);
    const int32_t ajeno = id + 3;
    servicio->EnviaDspRecursoCreado(ajeno);
    ASSERT_TRUE(EsperaQue([&] { return !Pedidos(COD_LIBERA_RECURSO).empty(); }));
    EXPECT_EQ(Pedidos(COD_LIBERA_RECURSO).size(), 1u);
    EXPECT_EQ(Pedidos(COD_LIBERA_RECURSO)[0].id, ajeno);
    servicio->EnviaDspRecursoCreado(id);
    ASSERT_TRUE(EsperaQue([&] { return !a.Creados().empty(); }));
    EXPECT_EQ(a.Creados(), std::vector<int>{id});
    EXPECT_EQ(ldspNumRecursos(), 1);
}

TEST_F(ClienteDsp, ARepeatedRequestBeforeTheAnswerGivesTheFirstUp) {
    EntidadPrueba a;
    int primero = ldspArrancaRecurso(0, &a);
    int segundo = ldspArrancaRecurso(0, &a);
    ASSERT_GE(primero, 0);
    ASSERT_GE(segundo, 0);
    EXPECT_NE(primero, segundo);
    EXPECT_EQ(ldspNumRecursos(), 1);
    EXPECT_EQ(ldspTomaCanalIfTx(primero, 1), LDSP_ID_DESCONOCIDO);
    // The late answer to the first finds nobody: released, not handed to the entity.
    servicio->EnviaDspRecursoCreado(primero);
    servicio->EnviaDspRecursoCreado(segundo);
    ASSERT_TRUE(EsperaQue([&] { return !a.Creados().empty(); }));
    EXPECT_EQ(a.Creados(), std::vector<int>{segundo});
    ASSERT_TRUE(EsperaQue([&] { return !Pedidos(COD_LIBERA_RECURSO).empty(); }));
    EXPECT_EQ(Pedidos(COD_LIBERA_RECURSO)[0].id, primero);
    // Once answered, a further request is a second resource, not a replacement.
    EXPECT_GE(ldspArrancaRecurso(0, &a), 0);
    EXPECT_EQ(ldspNumRecursos(), 2);
}

TEST_F(ClienteDsp, ANewDspServicePidReleasesEverythingAndTheOldServiceIsNoLongerHeard) {
    EntidadPrueba a, b;
    int ida = ldspArrancaRecurso(0, &a);
    int idb = ldspArrancaRecurso(0, &b);
    ASSERT_GE(ida, 0);
    ASSERT_GE(idb, 0);
    ASSERT_EQ(ldspCreaCanal(PID_DSP), 0);  // the same service again: nothing changes
    EXPECT_EQ(a.iLiberados.load(), 0);
    EXPECT_EQ(ldspNumRecursos(), 2);

    auto nuevo = ServicioFalso<PID_DSP_NUEVO>();
    ASSERT_EQ(ldspCreaCanal(PID_DSP_NUEVO), 0);
    EXPECT_EQ(a.iLiberados.load(), 1);
    EXPECT_EQ(b.iLiberados.load(), 1);
    EXPECT_EQ(ldspNumRecursos(), 0);
    EXPECT_EQ(ldspDamePid(), PID_DSP_NUEVO);
    EXPECT_EQ(ldspTomaCanalIfTx(ida, 1), LDSP_ID_DESCONOCIDO);

    int id = ldspArrancaRecurso(9, &a);
    ASSERT_GE(id, 0);
    ASSERT_TRUE(EsperaQue([&] { return !Pedidos(COD_ARRANCA_RECURSO, PID_DSP_NUEVO).empty(); }));
    EXPECT_EQ(Pedidos(COD_ARRANCA_RECURSO, PID_DSP_NUEVO)[0].v, 9);
    // The old service's events about the old resources reach nobody.
    servicio->EnviaDigitoDtmf(idb, '1', 1);
    nuevo->EnviaDigitoDtmf(id, '2', 2);
    ASSERT_TRUE(EsperaQue([&] { return !a.Digitos().empty(); }));
    EXPECT_TRUE(b.Digitos().empty());
    EXPECT_EQ(a.Digitos(), std::vector<int>{'2' * 1000 + 2});
}

TEST(ClienteDspSinServicio, RequestsNeedTheClientStartedAChannelAndAnIdOfTheTable) {
    EntidadPrueba a;
    EXPECT_EQ(ldspArrancaRecurso(0, &a), LDSP_NO_INICIADO);
    EXPECT_EQ(ldspCreaCanal(PID_DSP), LDSP_NO_INICIADO);
    ASSERT_EQ(ldspInicia(), 0);
    EXPECT_EQ(ldspArrancaRecurso(0, &a), LDSP_SIN_SERVICIO);
    EXPECT_EQ(ldspTemporiza(), LDSP_SIN_SERVICIO);
    auto servicio = ServicioFalso<PID_DSP>();
    ASSERT_EQ(ldspCreaCanal(PID_DSP), 0);
    EXPECT_EQ(ldspLiberaRecurso(12345), LDSP_ID_DESCONOCIDO);
    EXPECT_EQ(ldspSelecDetDtmf(12345, 1), LDSP_ID_DESCONOCIDO);
    int id = ldspArrancaRecurso(0, &a);
    ASSERT_GE(id, 0);
    ASSERT_TRUE(EsperaQue([&] { return !Pedidos(COD_ARRANCA_RECURSO).empty(); }));
    ASSERT_EQ(ldspLiberaRecurso(id), 0);
    ASSERT_TRUE(EsperaQue([&] { return !Pedidos(COD_LIBERA_RECURSO).empty(); }));
    EXPECT_EQ(Pedidos(COD_LIBERA_RECURSO).size(), 1u);  // nothing for the unknown id
    EXPECT_EQ(Pedidos(COD_LIBERA_RECURSO)[0].id, id);
    // Closed, the client has no service until the core names one again.
    EXPECT_EQ(ldspCreaCanal(-1), 0);
    EXPECT_EQ(ldspArrancaRecurso(0, &a), LDSP_SIN_SERVICIO);
}

}  // namespace
