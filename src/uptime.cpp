#include "uptime.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <cstdio>

#include "gestormutex.h"
#include "nlog.h"

namespace {
int gFd = -1;
pthread_mutex_t gMutex;  // "Uptime::tMutex": guards gFd's position and the buffer
bool gMutexCreado = false;
}  // namespace

int uptInicia() {
    if (!gMutexCreado) {
        CreaMutex("Uptime::tMutex", &gMutex, nullptr);
        gMutexCreado = true;
    }
    if (gFd < 0) gFd = open("/proc/uptime", O_RDONLY | O_CLOEXEC);
    return gFd >= 0 ? 1 : 0;
}

uint32_t uptDeTexto(const char* texto) {
    unsigned int seg = 0, cent = 0;
    if (sscanf(texto, "%u.%u", &seg, &cent) < 1) return 0;
    return seg * 1000u + cent * 10u;
}

uint32_t uptUpTime() {
    if (!gMutexCreado || gFd < 0) return 0;
    int ret = pthread_mutex_lock(&gMutex);
    if (ret != 0) NLOG::Log(NLOG::ERROR, "uptUpTime ret %d Mutex error  !!!!!!!!!!!!!!!!!!!!!!!!!!!", ret);
    char buf[32] = {};
    ssize_t n = pread(gFd, buf, 30, 0);
    // Released only when taken above.
    if (ret == 0) pthread_mutex_unlock(&gMutex);
    if (n <= 0) return 0;
    buf[n] = '\0';
    return uptDeTexto(buf);
}

void uptPinta() { printf("----------------------------------------------time= %i\n\n\n", static_cast<int>(uptUpTime())); }
