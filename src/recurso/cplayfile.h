// Tone-file player of a line entity: a thread of its own reads a raw G.711 file in blocks
// and hands each block to the owner (EvtMuestrasPlayFile) at the real-time rate of 8,000
// samples a second, looping at the end of the file until it is closed or paused.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <cstdio>

class CComeventos;

class CPlayFile {
public:
    static constexpr int32_t MAX_BLOQUE = 160;

    CPlayFile();
    // Stops and joins the thread and closes the file: the thread must not outlive its object.
    virtual ~CPlayFile();
    CPlayFile(const CPlayFile&) = delete;
    CPlayFile& operator=(const CPlayFile&) = delete;

    // 0; -2 already started; -1 no owner; -3 the thread cannot be created.
    int Arranca(int32_t iRecurso, CComeventos* pDueno);
    // Block size 1-160 bytes; 0 or -1.
    int Abre(const char* szRuta, int32_t iTamBloque);
    int Cierra();
    int Pausa();
    int Reanuda();

private:
    static void* sHilo(void* pObjeto);
    void Hilo();
    int32_t Lee(uint8_t* pucBloque);  // under tMutex
    // Waits on the condition until the given CLOCK_MONOTONIC time (or a stop); under tMutex.
    void EsperaHasta(const timespec& tLimite);

    std::atomic<int32_t> iArrancado{0};
    int32_t iReproduciendo = 0;
    int32_t iRecurso = -1;
    int32_t iTamBloque = MAX_BLOQUE;
    FILE* pFichero = nullptr;
    CComeventos* pDueno = nullptr;
    pthread_t tHilo{};
    pthread_mutex_t tMutex;  // guards the file, the flags below and the wake-up condition
    pthread_cond_t tCondicion;
    int32_t iTermina = 0;
    int32_t iAvisoVacio = 0;  // the open file gave nothing and that was logged once
};
