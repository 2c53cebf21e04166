// Registration of the core's child-channel handlers on real channels of queue 1.
#include "ipcvortik.h"

#include <sys/ipc.h>
#include <sys/msg.h>

#include <gtest/gtest.h>

#include <cstring>

#include "ipc/cola.h"

namespace {

// A stale message of an earlier run, addressed to nobody alive.
void DejaMensajeViejo(int cola) {
    MensajeCola m{};
    m.mtype = 777;
    m.texto[0] = COD_LATIDO;
    ASSERT_EQ(msgsnd(cola, &m, 5, IPC_NOWAIT), 0);
}

// Takes the stale message when it is still there.
bool HayViejo(int cola) {
    MensajeCola m{};
    return msgrcv(cola, &m, MAX_TEXTO_COLA, 777, IPC_NOWAIT) >= 0;
}

int Pendientes(int cola) {
    msqid_ds ds{};
    msgctl(cola, IPC_STAT, &ds);
    return static_cast<int>(ds.msg_qnum);
}

TEST(IpcVortik, OnlyTheFirstRegisteredChannelDrainsAndNothingBeforeInicia) {
    Cola a(1001, COLA_PADRE, 0, 2001);
    Cola b(1002, COLA_PADRE, 0, 2001);
    ASSERT_GE(a.DameCola(), 0);

    DejaMensajeViejo(a.DameCola());
    EXPECT_EQ(IpcVortik::RegistraCallbacks(&a), &a);
    EXPECT_EQ(a.DamePeriodo(), 0);  // before Inicia: no heartbeat, no handlers, no drain
    EXPECT_EQ(Pendientes(a.DameCola()), 1);

    IpcVortik::Inicia();
    IpcVortik::RegistraCallbacks(&a);
    EXPECT_EQ(a.DamePeriodo(), 6000);
    EXPECT_FALSE(HayViejo(a.DameCola()));

    DejaMensajeViejo(a.DameCola());
    IpcVortik::RegistraCallbacks(&b);
    EXPECT_EQ(b.DamePeriodo(), 6000);
    EXPECT_TRUE(HayViejo(a.DameCola()));
}

TEST(IpcVortik, EventOfAProcessThatIsNoSupervisorsChildFindsNone) {
    EXPECT_EQ(IpcVortik::BuscaSupervisor(-1), -1);
    EXPECT_EQ(IpcVortik::BuscaSupervisor(0), -1);
    EXPECT_EQ(IpcVortik::BuscaSupervisor(4242), -1);
}

}  // namespace
