// Thread base: a derived class supplies Run; Start runs it in a thread of its own.
#pragma once

#include <pthread.h>

#include <atomic>

#include "comun/cdead.h"
#include "comun/hilo.h"

class CThread {
public:
    CThread();
    // Neither stops nor waits for the thread: the object must outlive it.
    virtual ~CThread();

    // Starts Run in a new thread (the argument is not used). The thread detaches itself,
    // so its stack is freed when it ends; Espera is the way to wait for it.
    virtual void Start(int iArg = 0);
    // Waits for the end of Run; returns at once when never started or already ended.
    virtual void Espera();
    virtual void Run() = 0;

    // True while Run executes.
    bool EstaCorriendo() const { return bCorriendo.load(); }

    static void* sRun(void* objeto);

protected:
    int iReservado;
    CDead oDead;
    std::atomic<bool> bCorriendo;
    pthread_t tHilo;
};
