#include "publica.h"

#include <cstdio>
#include <cstring>

#include "gestormutex.h"
#include "nlog.h"
#include "tcpcons.h"

CPublica* poPublica = nullptr;

CPublica::CPublica(const char* szNombre) : asPropias{}, tMutexDatos() {
    NLOG::Log(NLOG::INFO, "CPublica: inicia publica %s", szNombre ? szNombre : "");
    CreaMutex("Publica.tMutexDatos", &tMutexDatos, nullptr);
}

int CPublica::AltaRecurso(const char* szNombre, int iCategoria, int iIndice) {
    pthread_mutex_lock(&tMutexDatos);
    for (const EntradaPropia& e : asPropias) {
        if (e.acNombre[0] != '\0' && std::strncmp(e.acNombre, szNombre, 32) == 0) {
            pthread_mutex_unlock(&tMutexDatos);
            return 0;
        }
    }
    if (iIndice < 0 || iIndice >= 16) {
        pthread_mutex_unlock(&tMutexDatos);
        return -1;
    }
    EntradaPropia& e = asPropias[iIndice];
    e = EntradaPropia{};
    std::snprintf(e.acNombre, sizeof e.acNombre, "%.64s", szNombre);
    e.iCategoria = iCategoria;
    e.iEstado = 10;
    e.ucSucio = 1;
    pthread_mutex_unlock(&tMutexDatos);
    TcpCons::Traza(0x8000, "              PUBLICA  %s\n", szNombre);
    return 0;
}

int CPublica::BajaRecurso(const char* szNombre) {
    pthread_mutex_lock(&tMutexDatos);
    for (EntradaPropia& e : asPropias) {
        if (e.acNombre[0] != '\0' && std::strncmp(e.acNombre, szNombre, 64) == 0) {
            e = EntradaPropia{};
            e.ucSucio = 1;
        }
    }
    pthread_mutex_unlock(&tMutexDatos);
    return 0;
}

int CPublica::BorraRecurso(int iIndice) {
    if (iIndice < 0 || iIndice > 15) return -1;
    pthread_mutex_lock(&tMutexDatos);
    asPropias[iIndice] = EntradaPropia{};
    asPropias[iIndice].ucSucio = 1;
    pthread_mutex_unlock(&tMutexDatos);
    return 0;
}

const EntradaPublica* CPublica::DameEstadoRecurso(const char* szQln, const char* szRecurso) {
    (void)szQln;
    (void)szRecurso;
    return nullptr;
}
