#include "mainsenales.h"

#include <execinfo.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cgescfg.h"
#include "comun/hilo.h"
#include "comun/nlog.h"
#include "procesohijo.h"

namespace {
AccionesSenales gsAcciones{};

const int kMaxFrames = 32;
void* gapFrames[kMaxFrames];
std::atomic<int> giNumFrames{0};
int gaiTuboFallo[2] = {-1, -1};  // fault handlers -> signal thread
std::atomic<long> glHiloSenales{0};

const int kFallos[] = {SIGSEGV, SIGILL, SIGFPE, SIGABRT, SIGTRAP, SIGSYS};
std::atomic<int> giEstadoSalida{0};

void Parar() {
    if (gsAcciones.fParar) gsAcciones.fParar();
}

// The loop may see the stop flag and leave before the signal thread ends the process: it
// must leave with the fault's status, never report a fault as a success.
void PararConFallo() {
    giEstadoSalida.store(-1);
    Parar();
}

// A fault: the core's state is not trusted for an orderly end, but its children must not outlive
// it (a new core would find them holding the lines and queues).
[[noreturn]] void Termina(int iEstado) {
    phMataTodos();
    std::fflush(stdout);
    // Not exit(): the other threads keep running and the globals they use must not be
    // destroyed under them.
    _exit(iEstado);
}

// Synchronous faults: only async-signal-safe work here. The faulting thread cannot go on, so
// it waits for the signal thread to report and end the process.
void ManejadorFallo(int iSenal) {
    if (iSenal == SIGSEGV) {
        // backtrace was called once at start-up, so it does not load anything now.
        giNumFrames.store(backtrace(gapFrames, kMaxFrames));
    }
    const long lYo = syscall(SYS_gettid);
    uint8_t uc = static_cast<uint8_t>(iSenal);
    if (lYo == glHiloSenales.load() || gaiTuboFallo[1] < 0 || write(gaiTuboFallo[1], &uc, 1) != 1) _exit(-1);
    for (;;) pause();
}

sigset_t ConjuntoAsincrono() {
    sigset_t s;
    sigemptyset(&s);
    for (int i = 1; i <= 31; i++) {
        bool bFallo = false;
        for (int f : kFallos) bFallo = bFallo || f == i;
        if (bFallo || i == SIGKILL || i == SIGSTOP || i == SIGBUS || i == SIGPIPE) continue;
        sigaddset(&s, i);
    }
    sigaddset(&s, CGestorCfg::kSenalCambio);
    return s;
}

void* HiloSenales(void* pFd) {
    const int iFd = static_cast<int>(reinterpret_cast<intptr_t>(pFd));
    glHiloSenales.store(syscall(SYS_gettid));
    pollfd afd[2] = {{iFd, POLLIN, 0}, {gaiTuboFallo[0], POLLIN, 0}};
    for (;;) {
        if (poll(afd, 2, -1) < 0) continue;
        if (afd[1].revents & POLLIN) {
            uint8_t uc = 0;
            if (read(gaiTuboFallo[0], &uc, 1) == 1) mainGestorSenales(uc);
        }
        if (afd[0].revents & POLLIN) {
            signalfd_siginfo si;
            if (read(iFd, &si, sizeof si) == static_cast<ssize_t>(sizeof si))
                mainGestorSenales(static_cast<int>(si.ssi_signo));
        }
    }
    return nullptr;
}

}  // namespace

int mainEstadoSalida() { return giEstadoSalida.load(); }

void mainPintaBacktrace() {
    NLOG::Log(NLOG::ERROR, "********* SEGMENTATION FAULT *********");
    const int n = giNumFrames.load();
    char** aszSimbolos = backtrace_symbols(gapFrames, n);
    NLOG::Log(NLOG::ERROR, "BACKTRACE:\n");
    for (int i = 0; i < n; i++) NLOG::Log(NLOG::ERROR, "  %s", aszSimbolos ? aszSimbolos[i] : "?");
    std::free(aszSimbolos);
    NLOG::Log(NLOG::ERROR, "***************************************");
}

void mainGestorSenales(int iSenal) {
    if (iSenal == CGestorCfg::kSenalCambio) {
        CGestorCfg::AvisaCambio();
        return;
    }
    switch (iSenal) {
    case SIGINT:
        NLOG::Log(NLOG::INFO, "mainGestorSenales SIGINT %d", iSenal);
        Parar();
        return;
    case SIGUSR1:
        if (gsAcciones.fPideRol) gsAcciones.fPideRol(1);
        NLOG::Log(NLOG::INFO, "mainGestorSenales SIGUSR1");
        return;
    case SIGUSR2:
        NLOG::Log(NLOG::INFO, "mainGestorSenales SIGUSR2");
        if (gsAcciones.fPideRol) gsAcciones.fPideRol(2);
        return;
    case SIGSEGV:
        mainPintaBacktrace();
        PararConFallo();
        DuermeMs(2000);
        Termina(-1);
    case SIGTERM:
        NLOG::Log(NLOG::INFO, "mainGestorSenales SIGTERM %d", iSenal);
        Parar();
        return;
    case SIGCHLD:
        return;
    case SIGWINCH:
    case SIGURG:
        // Informational signals (a terminal resized, urgent data on a socket): a gateway
        // started from a terminal must not end because the window changed size.
        return;
    default:
        NLOG::Log(NLOG::ERROR, "Recibida Señal %d...", iSenal);
        PararConFallo();
        Termina(-1);
    }
}

int mainInstalaSenales(const AccionesSenales* psAcciones) {
    if (psAcciones) gsAcciones = *psAcciones;
    void* ap[1];
    backtrace(ap, 1);
    if (pipe2(gaiTuboFallo, O_CLOEXEC) != 0) gaiTuboFallo[0] = gaiTuboFallo[1] = -1;
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sigemptyset(&sa.sa_mask);
    sa.sa_handler = ManejadorFallo;
    for (int f : kFallos) sigaction(f, &sa, nullptr);
    // A console client that goes away must not end the core: the failed send reports it.
    signal(SIGPIPE, SIG_IGN);
    sigset_t s = ConjuntoAsincrono();
    pthread_sigmask(SIG_BLOCK, &s, nullptr);
    const int iFd = signalfd(-1, &s, SFD_CLOEXEC);
    if (iFd < 0) {
        NLOG::Log(NLOG::ERROR, "mainInstalaSenales: signalfd %d", errno);
        return -1;
    }
    if (CreaHiloSuelto(nullptr, HiloSenales, reinterpret_cast<void*>(static_cast<intptr_t>(iFd))) != 0) {
        NLOG::Log(NLOG::ERROR, "mainInstalaSenales: Error creando hilo");
        return -1;
    }
    return 0;
}
