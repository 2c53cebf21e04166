// Tick source that never ticks: the test ticks the timer object itself (CTemporizador::Tick,
// call-backs then run on the test's thread); the timer's own thread only waits to end.
#pragma once

#include <semaphore.h>

#include "comun/ctemporizador.h"

namespace pruebas {

class CFuenteParada : public CFuenteTicks {
public:
    CFuenteParada() { sem_init(&tFin, 0, 0); }
    ~CFuenteParada() override { sem_destroy(&tFin); }
    void EsperaTick() override { sem_wait(&tFin); }
    void Despierta() override { sem_post(&tFin); }

private:
    sem_t tFin;
};

}  // namespace pruebas
