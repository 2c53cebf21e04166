#include "comun/cdead.h"

#include "comun/hilo.h"

namespace {
void Comprueba(int res, const char* expresion, int linea, const char* funcion) {
    if (res != 0) FalloFatal(expresion, "src/Thread", linea, funcion);
}
}  // namespace

CDead::CDead() : iArmado(0) {
    Comprueba(pthread_cond_init(&tCondicion, nullptr), "res == 0", __LINE__, "CDead::CDead()");
    Comprueba(pthread_mutex_init(&tMutex, nullptr), "res == 0", __LINE__, "CDead::CDead()");
}

CDead::~CDead() {
    Comprueba(pthread_cond_destroy(&tCondicion), "res == 0", __LINE__, "virtual CDead::~CDead()");
    pthread_mutex_destroy(&tMutex);
}

void CDead::Arma() {
    pthread_mutex_lock(&tMutex);
    iArmado = 1;
    pthread_mutex_unlock(&tMutex);
}

void CDead::Stop() {
    pthread_mutex_lock(&tMutex);
    while (iArmado != 0) Comprueba(pthread_cond_wait(&tCondicion, &tMutex), "res==0", __LINE__, "void CDead::Stop()");
    pthread_mutex_unlock(&tMutex);
}

void CDead::Signal() {
    pthread_mutex_lock(&tMutex);
    iArmado = 0;
    int res = pthread_cond_broadcast(&tCondicion);
    pthread_mutex_unlock(&tMutex);
    Comprueba(res, "res== 0", __LINE__, "void CDead::Signal()");
}
