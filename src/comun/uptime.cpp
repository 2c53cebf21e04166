#include "comun/uptime.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>

#include "comun/gestormutex.h"
#include "comun/nlog.h"

namespace {
int gFd = -1;
pthread_mutex_t gMutex;  // "Uptime::tMutex": guards gFd
std::once_flag gMutexCreado;

void CreaMutexUptime() {
    std::call_once(gMutexCreado, [] { CreaMutex("Uptime::tMutex", &gMutex, nullptr); });
}
}  // namespace

int uptInicia() {
    CreaMutexUptime();
    pthread_mutex_lock(&gMutex);
    if (gFd < 0) gFd = open("/proc/uptime", O_RDONLY | O_CLOEXEC);
    int res = gFd >= 0 ? 1 : 0;
    pthread_mutex_unlock(&gMutex);
    return res;
}

uint32_t uptDeTexto(const char* texto) {
    unsigned int seg = 0, cent = 0;
    if (sscanf(texto, "%u.%u", &seg, &cent) < 1) return 0;
    return seg * 1000u + cent * 10u;
}

uint32_t uptUpTime() {
    // A program that never called uptInicia still gets the time (its clock users, the
    // console's silence limit for one, would otherwise stand still at 0).
    CreaMutexUptime();
    int ret = pthread_mutex_lock(&gMutex);
    if (ret != 0) NLOG::Log(NLOG::ERROR, "uptUpTime ret %d Mutex error  !!!!!!!!!!!!!!!!!!!!!!!!!!!", ret);
    if (gFd < 0) gFd = open("/proc/uptime", O_RDONLY | O_CLOEXEC);
    char buf[32] = {};
    ssize_t n = gFd >= 0 ? pread(gFd, buf, 30, 0) : -1;
    // Released only when taken above.
    if (ret == 0) pthread_mutex_unlock(&gMutex);
    if (n <= 0) return 0;
    buf[n] = '\0';
    return uptDeTexto(buf);
}

void uptPinta() { printf("----------------------------------------------time= %i\n\n\n", static_cast<int>(uptUpTime())); }
