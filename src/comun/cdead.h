// End-of-thread signal: lets other threads wait for a CThread to finish.
#pragma once

#include <pthread.h>

class CDead {
public:
    CDead();
    virtual ~CDead();

    // Marks the owning thread as running; done before the thread is created, so a wait
    // that starts before the thread runs still waits.
    void Arma();
    // Waits until the owning thread has ended; returns at once when it never started
    // or has already ended.
    void Stop();
    // Called by the owning thread as its last step.
    void Signal();

private:
    int iArmado;
    pthread_cond_t tCondicion;
    pthread_mutex_t tMutex;  // guards iArmado
};
