#include "comun/trazapid.h"

#include <pthread.h>
#include <unistd.h>

#include <cstdio>

namespace {
FILE* gFichero = nullptr;
pthread_mutex_t gMutex = PTHREAD_MUTEX_INITIALIZER;  // guards gFichero and its writes
}  // namespace

int AbreTrazaPid(const char* ruta) {
    pthread_mutex_lock(&gMutex);
    if (gFichero) fclose(gFichero);
    gFichero = fopen(ruta ? ruta : "trazapid.txt", "w");
    int res = gFichero ? 0 : -1;
    pthread_mutex_unlock(&gMutex);
    return res;
}

int TrazaPid(const char* nombre, int id, const char* fuente) {
    pthread_mutex_lock(&gMutex);
    int res = -1;
    if (gFichero) {
        fprintf(gFichero, " PID %d -> %s (%d) \t- %s\n", static_cast<int>(getpid()), nombre ? nombre : "", id,
                fuente ? fuente : "");
        fflush(gFichero);
        res = 0;
    }
    pthread_mutex_unlock(&gMutex);
    return res;
}
