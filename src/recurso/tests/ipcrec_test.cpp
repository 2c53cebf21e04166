// IPCREC in the test's own process, the test's end of the channel playing the core on the
// real queue: the console text the process sends and what its print calls say they sent.
#include "ipcrec.h"

#include <sys/msg.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "ccontextorecurso.h"
#include "comun/ganchosipc.h"
#include "ipc/cola.h"
#include "sesionrec.h"

namespace {

constexpr int32_t PID_NUCLEO = 4242;

std::mutex& gtMutex = *new std::mutex;
std::string& gsConsola = *new std::string;  // guarded by gtMutex

void RxTraza(int32_t, char* sz) {
    std::lock_guard<std::mutex> l(gtMutex);
    gsConsola += sz ? sz : "";
}

bool EnConsola(const std::string& s) {
    const auto fin = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    do {
        {
            std::lock_guard<std::mutex> l(gtMutex);
            if (gsConsola.find(s) != std::string::npos) return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (std::chrono::steady_clock::now() < fin);
    return false;
}

class Ipcrec : public ::testing::Test {
protected:
    void SetUp() override {
        FijaMascaraTrazaIpc(0x3E);
        static CContextoRecurso& contexto = *new CContextoRecurso;  // the channel's thread keeps it
        sesrecInicia(contexto, ipcrecEnviaDiagnostico);
        ipcrecFijaContexto(contexto,
                           {[](const char*, const cfgConfigRecurso*) { return 0; }, [] {}, [] {}, [](int) {}});
        pNucleo.reset(new Cola(getpid(), COLA_PADRE, 0, PID_NUCLEO));
        pNucleo->RegistraEvtTraza(RxTraza);
    }
    std::unique_ptr<Cola> pNucleo;
};

TEST_F(Ipcrec, ConsolePrintsReturnTheLengthSentOrZeroWhenNothingWent) {
    EXPECT_EQ(IpcPrintf("sin canal\n"), 0);
    ASSERT_EQ(ipcrecIniciaCanal(PID_NUCLEO), 0);
    EXPECT_EQ(IpcPrintf("hola %d\n", 12), 8);
    EXPECT_EQ(IpcTraza(0x10, "linea\n"), 6);
    EXPECT_EQ(IpcTraza(0x8000, "depuracion\n"), 0);
    EXPECT_TRUE(EnConsola("hola 12\nlinea\n"));

    // A queue that takes no text this long refuses it.
    msqid_ds ds;
    ASSERT_EQ(msgctl(pNucleo->DameCola(), IPC_STAT, &ds), 0);
    const msglen_t uiAntes = ds.msg_qbytes;
    ds.msg_qbytes = 64;
    ASSERT_EQ(msgctl(pNucleo->DameCola(), IPC_SET, &ds), 0);
    EXPECT_EQ(IpcPrintf("%s\n", std::string(100, 'x').c_str()), 0);
    ds.msg_qbytes = uiAntes;
    ASSERT_EQ(msgctl(pNucleo->DameCola(), IPC_SET, &ds), 0);

    ipcrecCierraCanal();
    EXPECT_EQ(IpcPrintf("cerrado\n"), 0);
    EXPECT_EQ(IpcTraza(0x10, "cerrado\n"), 0);
}

TEST_F(Ipcrec, MessagesOfTheCoreThatOnlyTraceAreTracedOnItsConsole) {
    ASSERT_EQ(ipcrecIniciaCanal(PID_NUCLEO), 0);
    struct Caso {
        std::function<int(Cola&)> fEnvia;
        const char* szTraza;
    } casos[] = {
        {[](Cola& q) { return q.EnviaReset(); }, "IPC: RESET\n"},
        {[](Cola& q) { return q.EnviaModoTest(1); }, "]: EvtModoTest\n"},
        {[](Cola& q) { return q.EnviaNivelIncidencias(2); }, "]: EvtNivelIncidencias\n"},
        {[](Cola& q) { return q.EnviaFinSesionPreemption(3); }, "]: EvtFinSesionPreemption prioridad 3\n"},
    };
    for (const Caso& k : casos) {
        ASSERT_EQ(k.fEnvia(*pNucleo), 0);
        EXPECT_TRUE(EnConsola(k.szTraza)) << k.szTraza;
    }
    ipcrecCierraCanal();
}

}  // namespace
