#include "Thread/cdead.h"

#include <cassert>

CDead::CDead() : iArmado(0) {
    int res = pthread_cond_init(&tCondicion, nullptr);
    assert(res == 0);
    res = pthread_mutex_init(&tMutex, nullptr);
    assert(res == 0);
    (void)res;
}

CDead::~CDead() {
    int res = pthread_cond_destroy(&tCondicion);
    assert(res == 0);
    (void)res;
    pthread_mutex_destroy(&tMutex);
}

void CDead::Arma() {
    pthread_mutex_lock(&tMutex);
    iArmado = 1;
    pthread_mutex_unlock(&tMutex);
}

void CDead::Stop() {
    pthread_mutex_lock(&tMutex);
    while (iArmado != 0) {
        int res = pthread_cond_wait(&tCondicion, &tMutex);
        assert(res==0);
        (void)res;
    }
    pthread_mutex_unlock(&tMutex);
}

void CDead::Signal() {
    pthread_mutex_lock(&tMutex);
    iArmado = 0;
    int res = pthread_cond_broadcast(&tCondicion);
    pthread_mutex_unlock(&tMutex);
    assert(res== 0);
    (void)res;
}
