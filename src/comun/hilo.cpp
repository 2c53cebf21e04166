#include "comun/hilo.h"

#include <errno.h>
#include <sched.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "comun/nlog.h"

void FalloFatal(const char* expresion, const char* fichero, int linea, const char* funcion) {
    fprintf(stderr, "%s:%d: %s: Assertion `%s' failed.\n", fichero, linea, funcion, expresion);
    fflush(stderr);
    abort();
}

void AssertEqual0(int val) {
    if (val != 0) FalloFatal("val==0", "src/Thread", 16, "void AssertEqual0(int)");
}

void DuermeMs(unsigned int ms) {
    struct timespec ts;
    ts.tv_sec = ms / 1000;
    ts.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

namespace {
// Read once: a spinning real-time thread could starve a shared machine.
bool SinTiempoReal() {
    static const bool sinRt = getenv("VK_NO_RT") != nullptr;
    return sinRt;
}
}  // namespace

int FijaPrioridadHilo(int clase) {
    struct sched_param param;
    if (sched_getparam(0, &param) != 0) memset(&param, 0, sizeof param);
    int politica = SCHED_OTHER;
    if (clase >= 1 && clase <= 3 && !SinTiempoReal()) {
        politica = SCHED_FIFO;
        param.sched_priority = sched_get_priority_min(SCHED_FIFO) + clase - 1;
    } else {
        param.sched_priority = sched_get_priority_min(SCHED_OTHER);
    }
    int res = sched_setscheduler(0, politica, &param);
    if (res != 0) {
        int e = errno;
        NLOG::Log(NLOG::ERROR, "FijaPrioridadHilo(%d): %s", clase, strerror(e));
    }
    return res;
}

int CreaHiloSuelto(pthread_t* pHilo, void* (*fHilo)(void*), void* arg) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_t t;
    const int r = pthread_create(pHilo ? pHilo : &t, &attr, fHilo, arg);
    pthread_attr_destroy(&attr);
    return r;
}
