#include "comun/vigilanciahilos.h"

#include <pthread.h>

#include <cstring>

#include "comun/ganchosipc.h"
#include "comun/nlog.h"

namespace {

struct EntradaHilo {
    char szNombre[LON_NOMBRE_HILO + 1];
    int32_t iId;
    uint32_t uPeriodo;  // ticks
    uint32_t uMarca;    // tick of the last refresh or of the registration
    int32_t iEstado;    // 0 never checked, 1 on time, -1 late
};

struct TablaHilos {
    int32_t iNumero;
    EntradaHilo asHilos[MAX_HILOS_VIGILADOS + 1];
};

TablaHilos gTabla;
pthread_mutex_t gMutex = PTHREAD_MUTEX_INITIALIZER;  // guards gTabla

}  // namespace

void IniciaVigilanciaHilos() {
    pthread_mutex_lock(&gMutex);
    memset(&gTabla, 0, sizeof gTabla);
    pthread_mutex_unlock(&gMutex);
}

int RegistraHilo(const char* nombre, int id, int periodo_ms, uint32_t ahora) {
    pthread_mutex_lock(&gMutex);
    if (gTabla.iNumero >= MAX_HILOS_VIGILADOS) {
        pthread_mutex_unlock(&gMutex);
        return -1;
    }
    int i = gTabla.iNumero++;
    // Filled under the lock: a check never sees a half-written entry.
    EntradaHilo& e = gTabla.asHilos[i];
    strncpy(e.szNombre, nombre ? nombre : "", LON_NOMBRE_HILO);
    e.szNombre[LON_NOMBRE_HILO] = '\0';
    e.iId = id;
    e.uPeriodo = static_cast<uint32_t>(periodo_ms / 10);
    e.uMarca = ahora;
    e.iEstado = 0;
    pthread_mutex_unlock(&gMutex);
    return i;
}

void RefrescaHilo(int indice, uint32_t ahora) {
    if (indice < 0 || indice > MAX_HILOS_VIGILADOS) return;
    pthread_mutex_lock(&gMutex);
    gTabla.asHilos[indice].iEstado = 1;
    gTabla.asHilos[indice].uMarca = ahora;
    pthread_mutex_unlock(&gMutex);
}

int CompruebaHilos(uint32_t ahora) {
    int res = 1;
    pthread_mutex_lock(&gMutex);
    for (int i = 0; i < gTabla.iNumero; i++) {
        EntradaHilo& e = gTabla.asHilos[i];
        // Late from the tick at which a full period has passed (the counter may wrap).
        if (static_cast<int32_t>(ahora - (e.uMarca + e.uPeriodo)) >= 0) {
            e.iEstado = -1;
            res = 0;
        } else {
            e.iEstado = 1;
        }
    }
    pthread_mutex_unlock(&gMutex);
    return res;
}

void PintaHilosSinRefrescar(int consola) {
    NLOG::Log(NLOG::ERROR, "Hilos que no han refrescado");
    if (consola) IpcPrintf(" * Hilos que no han refrescado:\n");
    pthread_mutex_lock(&gMutex);
    for (int i = 0; i < gTabla.iNumero; i++) {
        const EntradaHilo& e = gTabla.asHilos[i];
        if (e.iEstado >= 1) continue;
        if (consola) IpcPrintf(" *    %s[%d]\n", e.szNombre, e.iId);
        NLOG::Log(NLOG::ERROR, " *    %s[%d]", e.szNombre, e.iId);
    }
    pthread_mutex_unlock(&gMutex);
}
