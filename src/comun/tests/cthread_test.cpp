#include "comun/cthread.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <semaphore.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

class HiloPrueba : public CThread {
public:
    explicit HiloPrueba(sem_t* suelta = nullptr) : pSuelta(suelta) {}
    void Run() override {
        bVistoCorriendo = EstaCorriendo();
        if (pSuelta) sem_wait(pSuelta);
        iVueltas++;
    }
    sem_t* pSuelta;
    std::atomic<bool> bVistoCorriendo{false};
    std::atomic<int> iVueltas{0};
};

TEST(CThread, EsperaOnANeverStartedThreadReturnsAtOnce) {
    HiloPrueba h;
    h.Espera();
    EXPECT_FALSE(h.EstaCorriendo());
    EXPECT_EQ(h.iVueltas, 0);
}

TEST(CThread, EsperaWaitsForRunEvenWhenCalledBeforeTheThreadRuns) {
    sem_t suelta;
    sem_init(&suelta, 0, 0);
    HiloPrueba h(&suelta);
    h.Start();
    std::atomic<bool> terminado{false};
    std::thread esperador([&] {
        h.Espera();
        terminado = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(terminado);
    sem_post(&suelta);
    esperador.join();
    EXPECT_TRUE(terminado);
    EXPECT_EQ(h.iVueltas, 1);
    EXPECT_TRUE(h.bVistoCorriendo);
    EXPECT_FALSE(h.EstaCorriendo());
    // After the end: at once.
    h.Espera();
    sem_destroy(&suelta);
}

// The number after "clave" in /proc/self/status, -1 when the line is missing.
long CampoEstado(const std::string& clave) {
    std::ifstream f("/proc/self/status");
    std::string l;
    while (std::getline(f, l))
        if (l.rfind(clave, 0) == 0) return std::stol(l.substr(clave.size()));
    return -1;
}

long MemoriaVirtualKb() { return CampoEstado("VmSize:"); }
long HilosDelProceso() { return CampoEstado("Threads:"); }

TEST(CThread, EndedThreadsLeaveNoStacksBehind) {
    long antes = MemoriaVirtualKb();
    // A sanitizer's runtime may have a thread of its own, started with the first thread of the
    // process: one thread ends before the count, or every round would wait for one that stays.
    std::thread([] {}).join();
    const long iHilosAntes = HilosDelProceso();
    for (int i = 0; i < 500; i++) {
        HiloPrueba h;
        h.Start();
        h.Espera();
        // The thread may still be leaving sRun after its signal: give it a moment.
        for (int n = 0; n < 1000 && HilosDelProceso() > iHilosAntes; n++) usleep(100);
    }
    long despues = MemoriaVirtualKb();
    // A leaked stack is 8 MiB of address space each.
    EXPECT_LT(despues - antes, 64 * 1024) << antes << " -> " << despues;
}

TEST(CDead, SignalBeforeWaitIsNeverLost) {
    CDead d;
    sem_t va, listo;
    sem_init(&va, 0, 0);
    sem_init(&listo, 0, 0);
    const int kRondas = 10000;
    std::thread senalador([&] {
        for (int i = 0; i < kRondas; i++) {
            sem_wait(&va);
            d.Signal();
            sem_post(&listo);
        }
    });
    for (int i = 0; i < kRondas; i++) {
        d.Arma();
        sem_post(&va);
        // Half the rounds wait after the signal has surely been given, the rest race it.
        if (i % 2 == 0) sem_wait(&listo);
        d.Stop();
        if (i % 2 != 0) sem_wait(&listo);
    }
    senalador.join();
    sem_destroy(&va);
    sem_destroy(&listo);
}

class HiloQueLanza : public CThread {
public:
    void Run() override { throw std::runtime_error("fallo"); }
};

TEST(CThreadDeathTest, ExceptionEscapingRunEndsTheProcess) {
    testing::FLAGS_gtest_death_test_style = "threadsafe";
    EXPECT_DEATH(
        {
            HiloQueLanza h;
            h.Start();
            h.Espera();
        },
        "0");
}

TEST(Hilo, DuermeMsZeroReturnsAtOnce) {
    auto t0 = std::chrono::steady_clock::now();
    DuermeMs(0);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(5));
    t0 = std::chrono::steady_clock::now();
    DuermeMs(20);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(20));
}

TEST(Hilo, WithoutRealTimeEveryClassIsNormalScheduling) {
    ASSERT_NE(getenv("VK_NO_RT"), nullptr);
    for (int clase : {0, 1, 2, 3, 4, -1}) {
        EXPECT_EQ(FijaPrioridadHilo(clase), 0) << clase;
        EXPECT_EQ(sched_getscheduler(0), SCHED_OTHER) << clase;
    }
}

// Run in a child that never saw VK_NO_RT (the setting is read once per process).
TEST(Hilo, RealTimeClassesUseFifoAboveTheMinimum) {
    pid_t p = fork();
    ASSERT_GE(p, 0);
    if (p == 0) {
        unsetenv("VK_NO_RT");
        int fallos = 0;
        for (int clase : {1, 2, 3}) {
            if (FijaPrioridadHilo(clase) != 0) _exit(100);  // no real-time privilege here
            sched_param sp{};
            sched_getparam(0, &sp);
            if (sched_getscheduler(0) != SCHED_FIFO || sp.sched_priority != sched_get_priority_min(SCHED_FIFO) + clase - 1)
                fallos++;
        }
        for (int clase : {0, 4}) {
            FijaPrioridadHilo(clase);
            if (sched_getscheduler(0) != SCHED_OTHER) fallos++;
        }
        _exit(fallos);
    }
    int st = 0;
    waitpid(p, &st, 0);
    ASSERT_TRUE(WIFEXITED(st));
    if (WEXITSTATUS(st) == 100) GTEST_SKIP() << "no real-time privilege";
    EXPECT_EQ(WEXITSTATUS(st), 0);
}

}  // namespace
