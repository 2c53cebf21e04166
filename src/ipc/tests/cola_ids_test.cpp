// Call, session and DSP-resource ids: numbering, cyclic allocation, full tables, release
// by the sender and on receipt, and several sender threads against the receive thread.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "ipc/cola.h"

namespace {

bool EsperaIds(Cola& c, Cola::eTablaId t, int n) {
    for (int i = 0; i < 500; i++) {
        if (c.NumIds(t) == n) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// The peer of every test drains what it gets (no handlers: messages are dropped).
struct Par {
    Cola padre{4702, COLA_PADRE, 0, 3101};
    Cola hijo{3101, COLA_HIJO, 0, 4702};
};

TEST(ColaIds, FirstIdsOfEachSide) {
    Par p;
    DatosLlamada d{};
    DireccionSesion s{};
    int32_t id = 0;
    EXPECT_EQ(p.padre.EnviaLlamadaSalienteId(&d, &id), 47020000);
    EXPECT_EQ(id, 47020000);
    EXPECT_EQ(p.hijo.EnviaLlamadaEntranteId(&d, &id), 47020001);
    EXPECT_EQ(p.padre.EnviaNuevaSesionId(&s, &id), 47020000);
    EXPECT_EQ(p.hijo.EnviaNuevaSesionId(&s, &id), 47020001);
    EXPECT_EQ(p.padre.EnviaIntervencionId(&d, &id), 47020002);
    EXPECT_EQ(p.hijo.EnviaIntervencion(&d), 47020003);
    Cola recurso(77, COLA_HERMANO_CLIENTE, 0, 4702);
    EXPECT_EQ(recurso.EnviaArrancaRecursoId(9, &id), 47020000);
    EXPECT_EQ(recurso.EnviaArrancaRecurso(9), 47020001);
}

TEST(ColaIds, AllocationIsCyclicNotLowestFreeFirst) {
    Par p;
    std::vector<int32_t> ids;
    for (int i = 0; i < 4; i++) ids.push_back(p.padre.EnviaLlamadaSaliente(nullptr));
    EXPECT_EQ(ids, (std::vector<int32_t>{47020000, 47020002, 47020004, 47020006}));
    p.padre.LiberaIdLlamada(47020004);
    EXPECT_EQ(p.padre.EnviaLlamadaSaliente(nullptr), 47020008);
}

TEST(ColaIds, FullTableRefusesAndWrapSkipsHeldSlots) {
    Par p;
    for (int i = 0; i < 5000; i++) ASSERT_EQ(p.padre.EnviaLlamadaSaliente(nullptr), 47020000 + 2 * i);
    int32_t id = 0;
    EXPECT_EQ(p.padre.EnviaLlamadaSalienteId(nullptr, &id), -1);
    EXPECT_EQ(id, -1);
    // The counter stands on 9998; 0 is held, so the wrap goes on to 2, then 4444.
    p.padre.LiberaIdLlamada(4444);
    p.padre.LiberaIdLlamada(2);
    EXPECT_EQ(p.padre.EnviaLlamadaSaliente(nullptr), 47020002);
    EXPECT_EQ(p.padre.EnviaLlamadaSaliente(nullptr), 47024444);
    EXPECT_EQ(p.padre.EnviaLlamadaSaliente(nullptr), -1);
    // The odd table is apart; its first slot is 1.
    EXPECT_EQ(p.padre.EnviaLlamadaEntrante(nullptr), 31010001);
}

TEST(ColaIds, ResourceTableHoldsTenThousand) {
    Cola recurso(77, COLA_HERMANO_CLIENTE, 0, 88);
    Cola dsp(88, COLA_HERMANO_SERVIDOR, 0, 77);
    for (int i = 0; i < 10000; i++) ASSERT_EQ(recurso.EnviaArrancaRecurso(i), 880000 + i);
    EXPECT_EQ(recurso.EnviaArrancaRecurso(0), -1);
    recurso.EnviaLiberaRecurso(889999);
    EXPECT_EQ(recurso.EnviaArrancaRecurso(0), 889999);
}

TEST(ColaIds, ReleaseOfUnheldIdChangesNothing) {
    Par p;
    int32_t a = p.padre.EnviaLlamadaSaliente(nullptr);
    p.padre.LiberaIdLlamada(47020001);  // odd: opened by the other side
    p.padre.LiberaIdLlamada(-1);
    p.padre.LiberaIdSesion(a);          // a session table does not hold call ids
    p.padre.LiberaIdRecurso(a);
    EXPECT_EQ(p.padre.NumIds(Cola::TABLA_LLAMADAS_PAR), 1);
    p.padre.LiberaIdLlamada(99990000 + a % 10000);  // the high part is not compared
    EXPECT_EQ(p.padre.NumIds(Cola::TABLA_LLAMADAS_PAR), 0);
}

TEST(ColaIds, ReceiptReleasesIdWithoutAHandler) {
    Par p;
    struct Caso { const char* nombre; Cola::eTablaId tabla; int (*abre)(Cola&); void (*cierra)(Cola&, int32_t); };
    const Caso casos[] = {
        {"FinLlamada", Cola::TABLA_LLAMADAS_PAR, [](Cola& c) { return c.EnviaLlamadaSaliente(nullptr); },
         [](Cola& c, int32_t id) { c.EnviaFinLlamada(id); }},
        {"RechazaLlamada", Cola::TABLA_LLAMADAS_PAR, [](Cola& c) { return c.EnviaLlamadaSaliente(nullptr); },
         [](Cola& c, int32_t id) { c.EnviaRechazaLlamada(id, 3); }},
        {"AbortaIntervencion", Cola::TABLA_LLAMADAS_PAR, [](Cola& c) { return c.EnviaIntervencion(nullptr); },
         [](Cola& c, int32_t id) { c.EnviaAbortaIntervencion(id); }},
        {"ConversacionInterrumpida", Cola::TABLA_LLAMADAS_PAR, [](Cola& c) { return c.EnviaLlamadaSaliente(nullptr); },
         [](Cola& c, int32_t id) { c.EnviaConversacionInterrumpida(id); }},
        {"FinSesion", Cola::TABLA_SESIONES_PAR, [](Cola& c) { return c.EnviaNuevaSesion(nullptr); },
         [](Cola& c, int32_t id) { c.EnviaFinSesion(id); }},
    };
    for (const Caso& k : casos) {
        int32_t id = k.abre(p.padre);
        ASSERT_GE(id, 0) << k.nombre;
        EXPECT_EQ(p.padre.NumIds(k.tabla), 1) << k.nombre;
        k.cierra(p.hijo, id);
        EXPECT_TRUE(EsperaIds(p.padre, k.tabla, 0)) << k.nombre;
    }
    Cola recurso(77, COLA_HERMANO_CLIENTE, 0, 88);
    Cola dsp(88, COLA_HERMANO_SERVIDOR, 0, 77);
    int32_t id = recurso.EnviaArrancaRecurso(1);
    dsp.EnviaLiberaRecurso(id);
    EXPECT_TRUE(EsperaIds(recurso, Cola::TABLA_RECURSOS, 0));
}

TEST(ColaIds, ClosingOnInactiveChannelStillReleases) {
    Cola c(600, COLA_PADRE, 1, 500);
    int32_t llamada = c.EnviaLlamadaSaliente(nullptr);
    int32_t sesion = c.EnviaNuevaSesion(nullptr);
    c.Temporiza(1);
    c.Temporiza(1);
    ASSERT_TRUE(c.Inactiva());
    EXPECT_EQ(c.EnviaFinLlamada(llamada), -1);
    EXPECT_EQ(c.NumIds(Cola::TABLA_LLAMADAS_PAR), 0);
    EXPECT_EQ(c.EnviaFinSesion(sesion), 0);
    EXPECT_EQ(c.NumIds(Cola::TABLA_SESIONES_PAR), 0);
    int32_t id = 5;
    EXPECT_EQ(c.EnviaLlamadaSalienteId(nullptr, &id), -1);
    EXPECT_EQ(id, -1);
}

// The child answers every outgoing call with its end, as a resource process would.
Cola* pHijoEco = nullptr;
void Cuelga(int32_t, int32_t id, DatosLlamada*) { pHijoEco->EnviaFinLlamada(id); }

TEST(ColaIds, SenderThreadsAndReceiveThreadShareTablesSafely) {
    Par p;
    pHijoEco = &p.hijo;
    p.hijo.RegistraEvtLlamadaSaliente(Cuelga);
    const int kHilos = 4, kVueltas = 3000;
    std::atomic<int> fallos{0};
    std::vector<std::thread> hilos;
    for (int h = 0; h < kHilos; h++) {
        hilos.emplace_back([&, h] {
            for (int i = 0; i < kVueltas; i++) {
                // Keep the queue well below its byte limit: sends never block, they fail.
                while (p.padre.NumIds(Cola::TABLA_LLAMADAS_PAR) > 40) std::this_thread::yield();
                int32_t id = p.padre.EnviaLlamadaSaliente(nullptr);
                if (id < 0 || id / 10000 != 4702 || id % 2 != 0) fallos++;
                if ((i + h) % 3 == 0) p.padre.EnviaFinLlamada(id);  // some closed here
            }
        });
    }
    for (auto& t : hilos) t.join();
    EXPECT_EQ(fallos, 0);
    EXPECT_TRUE(EsperaIds(p.padre, Cola::TABLA_LLAMADAS_PAR, 0));
    p.hijo.RegistraEvtLlamadaSaliente(nullptr);
}

}  // namespace
