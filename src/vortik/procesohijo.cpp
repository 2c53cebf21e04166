#include "procesohijo.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "mainsenales.h"

#ifndef CLOSE_RANGE_CLOEXEC
#define CLOSE_RANGE_CLOEXEC (1U << 2)
#endif

namespace {
enum { MAX_HIJOS = 64 };
pthread_mutex_t gMutex = PTHREAD_MUTEX_INITIALIZER;  // guards gaHijos
pid_t gaHijos[MAX_HIJOS];                            // own children not yet reaped; 0 free

bool Anota(pid_t pid) {
    pthread_mutex_lock(&gMutex);
    bool ok = false;
    for (pid_t& h : gaHijos) {
        if (h == 0) {
            h = pid;
            ok = true;
            break;
        }
    }
    pthread_mutex_unlock(&gMutex);
    return ok;
}

void Borra(pid_t pid) {
    pthread_mutex_lock(&gMutex);
    for (pid_t& h : gaHijos)
        if (h == pid) h = 0;
    pthread_mutex_unlock(&gMutex);
}

// Child side, after fork: async-signal-safe calls only.
[[noreturn]] void EjecutaEnHijo(int fdEstado, long lMaxFd, char* const* const* aargv, const char* const* aszRutas,
                                int iRutas) {
    mainSenalesPorDefecto();
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
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        EjecutaEnHijo(fds[1], lMaxFd, aargv, aszRutas, iRutas);
    }
    int eFork = errno;
    close(fds[1]);
    if (pid < 0) {
        close(fds[0]);
        errno = eFork;
        return r;
    }
    r.pid = pid;
    Anota(pid);
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
    for (pid_t h : gaHijos)
        if (h == pid) res = 1;
    pthread_mutex_unlock(&gMutex);
    return res;
}

int phMataYRecoge(pid_t pid) {
    if (!phEsHijoPropio(pid)) return -1;
    kill(pid, SIGKILL);
    int st;
    pid_t w;
    do {
        w = waitpid(pid, &st, 0);
    } while (w < 0 && errno == EINTR);
    int e = errno;
    Borra(pid);
    if (w != pid) {
        errno = e;
        return -2;
    }
    return 0;
}

int phRecogeSiTermino(pid_t pid) {
    if (!phEsHijoPropio(pid)) return -1;
    int st;
    pid_t w;
    do {
        w = waitpid(pid, &st, WNOHANG);
    } while (w < 0 && errno == EINTR);
    if (w == 0) return 0;
    // Exited (w == pid) or no longer waitable: either way it is gone.
    Borra(pid);
    return 1;
}
