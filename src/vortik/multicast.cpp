#include "multicast.h"

#include <cstdio>

#include "cfgpasarela.h"
#include "mainvortik.h"
#include "publica.h"

void ArrancaMulticast() {
    char acNombre[65];
    {
        cfgCerrojo cerrojo(&oConfigPasarela.tMutex);
        std::snprintf(acNombre, sizeof acNombre, "%.64s", oConfigPasarela.szNombre);
    }
    poPublica = nullptr;
    poPublica = new CPublica(acNombre);
}
