#include "comun/gestormutex.h"

#include <errno.h>

#include <atomic>
#include <cstring>
#include <mutex>

#include "comun/nlog.h"

namespace {

struct EntradaMutex {
    char szNombre[LON_NOMBRE_MUTEX + 1];
    pthread_mutex_t* pMutex;
};

struct GestorMutex {
    std::atomic<int> iIniciado;
    int iNumero;
    pthread_mutex_t tGuarda;  // guards iNumero and asTabla
    EntradaMutex asTabla[MAX_MUTEX];
};

GestorMutex gGestor;
std::once_flag gUnaVez;

}  // namespace

void IniciaGestorMutex() {
    // Once, even when two threads create their first mutexes together.
    std::call_once(gUnaVez, [] {
        pthread_mutex_init(&gGestor.tGuarda, nullptr);
        memset(gGestor.asTabla, 0, sizeof gGestor.asTabla);
        gGestor.iNumero = 0;
        gGestor.iIniciado = 1;
    });
}

int CreaMutex(const char* nombre, pthread_mutex_t* mutex, const pthread_mutexattr_t* attr) {
    IniciaGestorMutex();
    int res = pthread_mutex_init(mutex, attr);
    pthread_mutex_lock(&gGestor.tGuarda);
    if (gGestor.iNumero < MAX_MUTEX) {
        for (EntradaMutex& e : gGestor.asTabla) {
            if (e.pMutex != nullptr) continue;
            e.pMutex = mutex;
            strncpy(e.szNombre, nombre ? nombre : "", LON_NOMBRE_MUTEX);
            e.szNombre[LON_NOMBRE_MUTEX] = '\0';
            gGestor.iNumero++;
            break;
        }
    }
    pthread_mutex_unlock(&gGestor.tGuarda);
    return res;
}

int DestruyeMutex(pthread_mutex_t* mutex) {
    IniciaGestorMutex();
    // Unregistered first, so a listing never tests a destroyed mutex.
    pthread_mutex_lock(&gGestor.tGuarda);
    if (gGestor.iNumero > 0) {
        for (EntradaMutex& e : gGestor.asTabla) {
            if (e.pMutex != mutex) continue;
            e.pMutex = nullptr;
            memset(e.szNombre, 0, sizeof e.szNombre);
            gGestor.iNumero--;
            break;
        }
    }
    pthread_mutex_unlock(&gGestor.tGuarda);
    return pthread_mutex_destroy(mutex);
}

int ListaMutex(int modo, FnSalidaMutex salida) {
    if (!gGestor.iIniciado) {
        if (salida) salida("\t\tGestor de mutex no iniciado\n");
        NLOG::Log(NLOG::ERROR, "\t\tGestor de mutex no iniciado");
        return 0;
    }
    int listados = 0;
    pthread_mutex_lock(&gGestor.tGuarda);
    int vistos = 0;
    for (int i = 0; i < MAX_MUTEX && vistos < gGestor.iNumero; i++) {
        EntradaMutex& e = gGestor.asTabla[i];
        if (e.pMutex == nullptr) continue;
        vistos++;
        int r = pthread_mutex_trylock(e.pMutex);
        if (r == 0) pthread_mutex_unlock(e.pMutex);
        // Only "busy" counts as locked; any other error is ignored.
        bool libre = (r != EBUSY);
        switch (modo) {
        case 0:
            if (salida) salida("\t\t%s: ", e.szNombre);
            NLOG::Log(NLOG::ERROR, "\t\t%s: ", e.szNombre);
            if (salida) salida(libre ? "DESBLOQ\n" : "BLOQ\n");
            NLOG::Log(NLOG::ERROR, "%s", libre ? "DESBLOQ" : "BLOQ");
            listados++;
            break;
        case 1:
        case 2:
            if (libre == (modo == 2)) {
                if (salida) salida("\t\t%s\n", e.szNombre);
                NLOG::Log(NLOG::ERROR, "\t\t%s", e.szNombre);
                listados++;
            }
            break;
        default:
            break;
        }
    }
    pthread_mutex_unlock(&gGestor.tGuarda);
    return listados;
}
