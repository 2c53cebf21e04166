#include "procesohijo.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>


#ifndef CLOSE_RANGE_CLOEXEC
#define CLOSE_RANGE_CLOEXEC (1U << 2)
#endif

namespace {
enum { MAX_HIJOS = 64 };
struct Hijo {
    pid_t pid;         // own child not yet reaped; 0 free
    bool bRecogiendo;  // one thread is reaping it: nobody else signals or waits for it
};
pthread_mutex_t gMutex = PTHREAD_MUTEX_INITIALIZER;  // guards gaHijos and gbCerrado
Hijo gaHijos[MAX_HIJOS];
bool gbCerrado = false;  // the core is ending: no child is started any more

// Under gMutex.
bool Anota(pid_t pid) {
    for (Hijo& h : gaHijos) {
        if (h.pid == 0) {
            h = {pid, false};
            return true;
        }
    }
    return false;
}

// Takes an own child for the caller to reap: false when it is no own child or another thread
// already reaps it.
bool Toma(pid_t pid) {
    if (pid <= 0) return false;
    pthread_mutex_lock(&gMutex);
    bool ok = false;
    for (Hijo& h : gaHijos) {
        if (h.pid == pid && !h.bRecogiendo) {
            h.bRecogiendo = true;
            ok = true;
        }
    }
    pthread_mutex_unlock(&gMutex);
    return ok;
}

// Gives a taken child back: removed once reaped, else free for others again.
void Suelta(pid_t pid, bool bRecogido) {
    pthread_mutex_lock(&gMutex);
    for (Hijo& h : gaHijos) {
        if (h.pid != pid) continue;
        if (bRecogido)
            h = {0, false};
        else
            h.bRecogiendo = false;
    }
    pthread_mutex_unlock(&gMutex);
}

// Closes the table to new children and takes (and kills) every child nobody else is reaping;
// the pids taken go to apid. Only children that are not being reaped are signalled: a pid being
// reaped may be reused by then.
int CierraYMata(pid_t (&apid)[MAX_HIJOS]) {
    int n = 0;
    pthread_mutex_lock(&gMutex);
    gbCerrado = true;
    for (Hijo& h : gaHijos) {
        if (h.pid == 0 || h.bRecogiendo) continue;
        h.bRecogiendo = true;
        kill(h.pid, SIGKILL);
        apid[n++] = h.pid;
    }
    pthread_mutex_unlock(&gMutex);
    return n;
}

pid_t RecogeBloqueando(pid_t pid) {
    int st;
    pid_t w;
    do {
        w = waitpid(pid, &st, 0);
    } while (w < 0 && errno == EINTR);
    return w;
}

// A child between fork and exec: every disposition back to its default and an empty mask.
// Async-signal-safe calls only.
void SenalesPorDefecto() {
    struct sigaction sa;
    sa.sa_handler = SIG_DFL;
    sa.sa_flags = 0;
    sigemptyset(&sa.sa_mask);
    // The C library refuses sigaction on its own real-time signals 32 and 33, yet they may be
    // ignored here: posix_spawn, system() and popen() start programs with them ignored, and an
    // ignored signal survives exec down the whole line of descendants (33 gets a library handler
    // at the first thread, which exec resets; 32 stays ignored). The kernel call sets them back;
    // an all-zero kernel sigaction is SIG_DFL on every layout.
    unsigned long alZero[8] = {};
    for (int s = 1; s < NSIG; ++s) {
        if (s == SIGKILL || s == SIGSTOP) continue;
        if (sigaction(s, &sa, nullptr) != 0) syscall(SYS_rt_sigaction, s, alZero, nullptr, _NSIG / 8);
    }
    sigset_t vacio;
    sigemptyset(&vacio);
    sigprocmask(SIG_SETMASK, &vacio, nullptr);
}

// Child side, after fork: async-signal-safe calls only.
[[noreturn]] void EjecutaEnHijo(int fdEstado, long lMaxFd, char* const* const* aargv, const char* const* aszRutas,
                                int iRutas) {
    SenalesPorDefecto();
    // The status pipe is already close-on-exec; so becomes everything else above 2.
    if (syscall(SYS_close_range, 3U, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
        for (long fd = 3; fd < lMaxFd; ++fd) fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
    }
    for (int i = 0; i < iRutas; ++i) {
        execv(aszRutas[i], aargv[i]);
        int e = errno;
        ssize_t r;
        do {
            r = write(fdEstado, &e, sizeof e);
        } while (r < 0 && errno == EINTR);
    }
    _exit(255);
}
}  // namespace

ResultadoLanza phLanza(const char* const* aszRutas, int iRutas, const char* const* aszArgs, int iArgs) {
    ResultadoLanza r{};
    r.pid = -1;
    r.iEjecutada = -1;
    if (iRutas > PH_MAX_RUTAS) iRutas = PH_MAX_RUTAS;
    if (iArgs > PH_MAX_ARGS) iArgs = PH_MAX_ARGS;
    if (iRutas < 1 || iArgs < 0) return r;
    r.iRutas = iRutas;

    // Argument vectors, one per path (argv[0] is the path), built before fork.
    char* argv[PH_MAX_RUTAS][PH_MAX_ARGS + 2];
    char* const* aargv[PH_MAX_RUTAS];
    for (int i = 0; i < iRutas; ++i) {
        argv[i][0] = const_cast<char*>(aszRutas[i]);
        for (int a = 0; a < iArgs; ++a) argv[i][a + 1] = const_cast<char*>(aszArgs[a]);
        argv[i][iArgs + 1] = nullptr;
        aargv[i] = argv[i];
    }
    struct rlimit rl;
    long lMaxFd = 1024;
    if (getrlimit(RLIMIT_NOFILE, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY) lMaxFd = static_cast<long>(rl.rlim_cur);
    if (lMaxFd > 65536) lMaxFd = 65536;

    // The exec status comes back through a close-on-exec pipe: end of file means it ran.
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return r;
    // The table's lock is held over the fork, so that a child is never started once the table
    // closed, nor left out of it. The child does not touch the lock.
    pthread_mutex_lock(&gMutex);
    if (gbCerrado) {
        pthread_mutex_unlock(&gMutex);
        close(fds[0]);
        close(fds[1]);
        errno = ECANCELED;
        return r;
    }
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        EjecutaEnHijo(fds[1], lMaxFd, aargv, aszRutas, iRutas);
    }
    int eFork = errno;
    if (pid > 0) Anota(pid);
    pthread_mutex_unlock(&gMutex);
    close(fds[1]);
    if (pid < 0) {
        close(fds[0]);
        errno = eFork;
        return r;
    }
    r.pid = pid;
    int n = 0;
    while (n < iRutas) {
        int e;
        ssize_t l = read(fds[0], &e, sizeof e);
        if (l < 0 && errno == EINTR) continue;
        if (l != static_cast<ssize_t>(sizeof e)) break;
        r.aiErrno[n++] = e;
    }
    close(fds[0]);
    r.iEjecutada = n < iRutas ? n : -1;
    return r;
}

int phEsHijoPropio(pid_t pid) {
    if (pid <= 0) return 0;
    pthread_mutex_lock(&gMutex);
    int res = 0;
    for (const Hijo& h : gaHijos)
        if (h.pid == pid) res = 1;
    pthread_mutex_unlock(&gMutex);
    return res;
}

int phMataYRecoge(pid_t pid) {
    if (!Toma(pid)) return -1;
    kill(pid, SIGKILL);
    const pid_t w = RecogeBloqueando(pid);
    int e = errno;
    Suelta(pid, true);
    if (w != pid) {
        errno = e;
        return -2;
    }
    return 0;
}

int phRecogeSiTermino(pid_t pid) {
    if (!phEsHijoPropio(pid)) return -1;
    // Being reaped by another thread: still running as far as this caller goes.
    if (!Toma(pid)) return 0;
    int st;
    pid_t w;
    do {
        w = waitpid(pid, &st, WNOHANG);
    } while (w < 0 && errno == EINTR);
    // Exited (w == pid) or no longer waitable: either way it is gone.
    Suelta(pid, w != 0);
    return w == 0 ? 0 : 1;
}

int phTerminaTodos(int iMsMaximo) {
    pid_t apid[MAX_HIJOS];
    const int n = CierraYMata(apid);
    for (int i = 0; i < n; ++i) {
        RecogeBloqueando(apid[i]);
        Suelta(apid[i], true);
    }
    // Children other threads were reaping: they were killed by those threads.
    for (int iMs = 0;; iMs += 10) {
        int iQuedan = 0;
        pthread_mutex_lock(&gMutex);
        for (const Hijo& h : gaHijos) iQuedan += h.pid != 0;
        pthread_mutex_unlock(&gMutex);
        if (iQuedan == 0 || iMs >= iMsMaximo) return n;
        usleep(10000);
    }
}

void phMataTodos() {
    pid_t apid[MAX_HIJOS];
    CierraYMata(apid);
}
