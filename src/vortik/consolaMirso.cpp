#include "consolaMirso.h"

#include <pthread.h>

#include <atomic>
#include <cstdio>

#include "Thread/hilo.h"
#include "mainvortik.h"
#include "tcpcons.h"
#include "trazapid.h"

namespace {
std::atomic<bool> gbArrancada{false};

void* HiloConsola(void*) {
    FijaPrioridadHilo(1);
    TrazaPid("Hilo consola", 0, "src/vortik/consolaMirso");
    char acLinea[24];
    for (;;) {
        DuermeMs(50);
        std::fflush(stdout);
        if (TcpCons::LeeLinea(acLinea, sizeof acLinea) == nullptr) return nullptr;
        if (acLinea[0] == '\0' || acLinea[0] == '\n' || acLinea[0] == ' ') continue;
        if (acLinea[0] == 'F') {
            TcpCons::Printf("Parando Vortik QLN...\n");
            mainParar();
            return nullptr;
        }
        TcpCons::Printf("Escribe \"?\" para la ayuda, anda.\n");
    }
}
}  // namespace

void ArrancaConsola() {
    if (gbArrancada.exchange(true)) return;
    pthread_t t;
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    if (pthread_create(&t, &attr, HiloConsola, nullptr) != 0) {
        gbArrancada = false;
        TcpCons::Printf("CONSOLA: Error creando hilo. No hay consola\n");
    }
    pthread_attr_destroy(&attr);
}
