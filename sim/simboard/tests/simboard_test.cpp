// The board daemon itself: many clients at once, blocking reads that hold up nobody else,
// handles that die with their process, and the journal.
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "csimboard.h"
#include "hardware/cdispositivossim.h"
#include "hardware/hwcodigos.h"

namespace {

using Reloj = std::chrono::steady_clock;

class Daemon : public ::testing::Test {
protected:
    void SetUp() override {
        placa = simboard::CSimBoard::Arranca("/mnt/ramfs/simboard.sock");
        ASSERT_TRUE(placa);
    }
    std::unique_ptr<simboard::CSimBoard> placa;
    CDispositivosSim cliente{"/mnt/ramfs/simboard.sock"};
};

TEST_F(Daemon, BlockingLineReadDoesNotHoldUpOtherRequestsOfTheSameDevice) {
    int fd = cliente.Abre("/dev/mtifm4", O_RDWR);
    ASSERT_GE(fd, 0);
    std::atomic<bool> bLeido{false};
    std::thread lector([&] {
        uint16_t w[50];
        ssize_t n = cliente.Lee(fd, w, sizeof(w));
        bLeido = n == 2 && w[0] == 0x0002;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    auto t0 = Reloj::now();
    uint32_t r = 0;
    for (int i = 0; i < 20; i++) ASSERT_EQ(cliente.Peticion(fd, hwcod::M22_LEE_VERSION, 0, &r), 0);
    EXPECT_LT(Reloj::now() - t0, std::chrono::milliseconds(500));  // behind the read they would wait 1 s
    EXPECT_EQ(r, 15u);
    placa->Llama(4);
    lector.join();
    EXPECT_TRUE(bLeido);
}

TEST_F(Daemon, LineReadWithoutChangeReturnsNothingAfterAboutASecond) {
    int fd = cliente.Abre("/dev/mtifm0", O_RDWR);
    uint16_t w[50];
    auto t0 = Reloj::now();
    EXPECT_EQ(cliente.Lee(fd, w, sizeof(w)), 0);
    auto dt = Reloj::now() - t0;
    EXPECT_GT(dt, std::chrono::milliseconds(900));
    EXPECT_LT(dt, std::chrono::milliseconds(2000));
}

TEST_F(Daemon, EachChangeIsReadOnceByEveryOpener) {
    int a = cliente.Abre("/dev/mtifm2", O_RDWR);
    int b = cliente.Abre("/dev/mtifm2", O_RDWR);
    placa->Descuelga(2);
    placa->Llama(2);
    uint16_t w[50];
    ASSERT_EQ(cliente.Lee(a, w, sizeof(w)), 4);
    EXPECT_EQ(w[0], 0x0001);
    EXPECT_EQ(w[1], 0x0003);
    ASSERT_EQ(cliente.Lee(b, w, 2), 2);  // room for one word: the latest
    EXPECT_EQ(w[0], 0x0003);
    // A module opened while its line is already off-hook reports it at once.
    int c = cliente.Abre("/dev/mtifm2", O_RDWR);
    ASSERT_EQ(cliente.Lee(c, w, sizeof(w)), 2);
    EXPECT_EQ(w[0], 0x0003);
}

TEST_F(Daemon, RequestWordsWithBitThirtyOneAreValues) {
    placa->Tick(0xFFFFFF00u);  // 2.5 s before the wrap
    int fd = cliente.Abre("/dev/esdiscretas", O_RDWR);
    uint32_t r = 0;
    ASSERT_EQ(cliente.Peticion(fd, hwcod::E7_TIEMPO, 0, &r), 0);
    EXPECT_GE(r, 0xFFFFFF00u);
    placa->Orden("id 0 0xFFFFFFFF 0");
    ASSERT_EQ(cliente.Peticion(fd, hwcod::E8_ID_SLOT, 0, &r), 0);
    EXPECT_EQ(r, 0xFFFFFFFFu);
    EXPECT_EQ(cliente.Peticion(fd, 0x40044599, 0, &r), -1);  // unknown request
    EXPECT_EQ(errno, ENOTTY);
    EXPECT_EQ(cliente.Abre("/dev/mtifm16", O_RDWR), -1);
    EXPECT_EQ(cliente.Abre("/dev/pcm64", O_RDWR), -1);
    EXPECT_EQ(cliente.Peticion(999, hwcod::E0_ESTADO, 0, &r), -1);
    EXPECT_EQ(errno, EBADF);
}

TEST_F(Daemon, HandlesCloseWithTheirProcessAndTheJournalNamesIt) {
    pid_t pid = fork();
    if (pid == 0) {
        CDispositivosSim c("/mnt/ramfs/simboard.sock");
        int fd = c.Abre("/dev/mtifm7", O_RDWR);
        uint32_t r;
        c.Peticion(fd, hwcod::M1_MODO, 9, &r);
        _exit(fd >= 0 ? 0 : 1);
    }
    int st = 0;
    waitpid(pid, &st, 0);
    ASSERT_EQ(WEXITSTATUS(st), 0);
    std::string s;
    ASSERT_TRUE([&] {
        for (int i = 0; i < 1000; i++) {
            s = placa->Slic(7);
            if (s.find("abiertos=0") != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }());
    EXPECT_NE(s.find("modo=9"), std::string::npos);
    std::string d = placa->Diario();
    EXPECT_NE(d.find(std::to_string(pid) + " simboard_test /dev/mtifm7 ioctl 0x80044D01 0x9 -> 0x0"),
              std::string::npos)
        << d;
}

TEST_F(Daemon, MessagesAndMemoryWritesTravelAsSeparateCalls) {
    int fd = cliente.Abre("/dev/simboard-eco", O_RDWR);
    ASSERT_GE(fd, 0);
    // A message whose first word reads as 1, like a memory-write marker on this machine.
    const uint8_t hola[4] = {0x01, 0x00, 0x00, 0x00};
    EXPECT_EQ(cliente.EscribeMensaje(fd, hola, sizeof(hola)), 4);
    ASSERT_EQ(cliente.FijaDireccion(fd, 0x80000000u), 0);
    const uint32_t palabras[2] = {0x11223344u, 0xFFFFFFFFu};
    ASSERT_EQ(cliente.EscribePalabras(fd, palabras, 2), 0);
    char buf[1002];
    ASSERT_EQ(cliente.LeeMensaje(fd, buf, sizeof(buf)), 4);
    EXPECT_EQ(std::string(buf, 4), std::string("\x01\0\0\0", 4));
    ssize_t n = cliente.LeeMensaje(fd, buf, sizeof(buf));
    ASSERT_GT(n, 0);
    EXPECT_EQ(std::string(buf, static_cast<size_t>(n)), "W 0x80000000 0x11223344 0xFFFFFFFF");
    EXPECT_EQ(cliente.LeeMensaje(fd, buf, sizeof(buf)), 0);  // nothing waiting
    // The line modules have no messages.
    int m = cliente.Abre("/dev/mtifm0", O_RDWR);
    EXPECT_EQ(cliente.LeeMensaje(m, buf, sizeof(buf)), -1);
    EXPECT_EQ(errno, EINVAL);
}

TEST_F(Daemon, ControlCommandsAnswerAndRefuse) {
    EXPECT_THROW(placa->Orden("no_existe"), std::runtime_error);
    EXPECT_THROW(placa->Orden("descuelga 16"), std::runtime_error);
    EXPECT_NE(placa->Orden("ayuda").find("descuelga MODULO"), std::string::npos);
    placa->Orden("rechaza 0x40044500 2");
    int fd = cliente.Abre("/dev/esdiscretas", O_RDWR);
    uint32_t r;
    EXPECT_EQ(cliente.Peticion(fd, hwcod::E0_ESTADO, 0, &r), -1);
    EXPECT_EQ(cliente.Peticion(fd, hwcod::E0_ESTADO, 0, &r), -1);
    EXPECT_EQ(cliente.Peticion(fd, hwcod::E0_ESTADO, 0, &r), 0);
    EXPECT_EQ(r, 4u);
}

TEST_F(Daemon, ManyClientsReadAudioAtOnce) {
    // Eight processes' worth of audio threads, each paced on its own channel.
    std::vector<std::thread> hilos;
    std::atomic<int> iBien{0};
    auto t0 = Reloj::now();
    for (int c = 0; c < 8; c++)
        hilos.emplace_back([&, c] {
            int fd = cliente.Abre(("/dev/pcm" + std::to_string(c)).c_str(), O_RDWR);
            uint8_t buf[160];
            int k = 0;
            for (int i = 0; i < 10; i++) k += cliente.Lee(fd, buf, sizeof(buf)) == 160;
            if (k == 10) iBien++;
        });
    for (auto& h : hilos) h.join();
    auto dt = Reloj::now() - t0;
    EXPECT_EQ(iBien, 8);
    EXPECT_LT(dt, std::chrono::milliseconds(800));  // in parallel: 10 x 20 ms, not 8 x 200 ms
}

// Threads of the running daemon(s) named simboard that use the FIFO real-time policy.
int HilosTiempoReal() {
    int n = 0;
    DIR* d = opendir("/proc");
    while (dirent* e = d ? readdir(d) : nullptr) {
        std::string sPid = e->d_name;
        std::string sNombre;
        std::ifstream(std::string("/proc/") + sPid + "/comm") >> sNombre;
        if (sNombre != "simboard") continue;
        DIR* t = opendir(("/proc/" + sPid + "/task").c_str());
        while (dirent* h = t ? readdir(t) : nullptr)
            if (h->d_name[0] != '.' && sched_getscheduler(atoi(h->d_name)) == SCHED_FIFO) n++;
        if (t) closedir(t);
    }
    if (d) closedir(d);
    return n;
}

// Whether this sandbox lets a thread take real-time scheduling at all.
bool TiempoRealPermitido() {
    bool b = false;
    std::thread([&] {
        sched_param sp{};
        sp.sched_priority = sched_get_priority_min(SCHED_FIFO);
        b = pthread_setschedparam(pthread_self(), SCHED_FIFO, &sp) == 0;
    }).join();
    return b;
}

TEST_F(Daemon, PcmPacingThreadRunsRealTimeWherePermitted) {
    EXPECT_EQ(0, HilosTiempoReal());
    int fd = cliente.Abre("/dev/pcm5", O_RDWR);
    ASSERT_GE(fd, 0);
    uint8_t buf[160];
    ASSERT_EQ(160, cliente.Lee(fd, buf, sizeof(buf)));
    if (TiempoRealPermitido())
        EXPECT_GE(HilosTiempoReal(), 1);
    else
        EXPECT_EQ(0, HilosTiempoReal()) << "refused quietly: the read still works";
}

}  // namespace
