// What the parts of a resource process share: its number, its log word, its resource record
// with the record's lock, and its line entity. The start-up builds the one object of the
// process and hands it to the line entity, the session table, the channel to the core and
// the records; none of them reaches back into the start-up for it.
#pragma once

#include <pthread.h>

#include "cfg/cfgpasarela.h"

class CEntidadRC;

class CContextoRecurso {
public:
    CContextoRecurso() = default;
    CContextoRecurso(const CContextoRecurso&) = delete;
    CContextoRecurso& operator=(const CContextoRecurso&) = delete;

    // A copy of the record taken under its lock.
    cfgConfigRecurso CopiaRegistro();

    int iRec = -1;
    const char* szPalabra = "REC ";  // "R2N5", "TLF ", "LC  "
    CEntidadRC* pEntidad = nullptr;
    // Guards sRegistro: the channel's thread replaces it with a new configuration while the
    // entity's threads and the records read it.
    pthread_mutex_t tMutexConfig = PTHREAD_MUTEX_INITIALIZER;
    cfgConfigRecurso sRegistro{};
};
