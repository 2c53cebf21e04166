#include "comun/cthread.h"

#include <exception>

CThread::CThread() : iReservado(0), bCorriendo(false), tHilo(0) {}

CThread::~CThread() { tHilo = 0; }

void CThread::Start(int) {
    // Armed before the thread exists: an Espera right after Start must wait.
    oDead.Arma();
    int res = pthread_create(&tHilo, nullptr, &CThread::sRun, this);
    if (res != 0) FalloFatal("res == 0", "src/Thread", __LINE__, "virtual void CThread::Start(int)");
}

void CThread::Espera() { oDead.Stop(); }

void* CThread::sRun(void* objeto) {
    CThread* t = static_cast<CThread*>(objeto);
    pthread_detach(pthread_self());
    FijaPrioridadHilo(1);
    t->oDead.Arma();
    t->bCorriendo = true;
    try {
        t->Run();
    } catch (...) {
        FalloFatal("0", "src/Thread", 124, "static void* CThread::sRun(void*)");
    }
    t->bCorriendo = false;
    // Last touch of the object: a waiter may destroy it as soon as this returns.
    t->oDead.Signal();
    return nullptr;
}
