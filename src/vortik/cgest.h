// Switch-over state file: which of the A/B transmitter and receiver of each radio emplacement
// is active, kept across restarts in /home/rk82qln/EstadosConmutacion.ini.
#pragma once

#include <pthread.h>

#include "comun/cficheroini.h"

class Cgest {
public:
    Cgest();
    ~Cgest();
    Cgest(const Cgest&) = delete;
    Cgest& operator=(const Cgest&) = delete;

    // Builds the path and loads the file (a missing file is logged); returns 0.
    int Inicia();
    // 0 when the active side is "A", 1 for any other value, -1 when absent or empty.
    int LeeActivoTx(int iRecurso, int iEmplazamiento);
    int LeeActivoRx(int iRecurso, int iEmplazamiento);
    // Stores "B" when valor is not 0, else "A", and rewrites the file; returns 0.
    int EscribeActivoTx(int iRecurso, int iEmplazamiento, int valor);
    int EscribeActivoRx(int iRecurso, int iEmplazamiento, int valor);

    int iCargado;
    pthread_mutex_t tMutex;  // guards the contents and the file, for a whole read or rewrite
    CFicheroIni oContenido;
    char acRuta[128];

private:
    int Lee(int iRecurso, int iEmplazamiento, const char* pLado);
    int Escribe(int iRecurso, int iEmplazamiento, const char* pLado, int valor);
};

// The core's switch-over state file. Never destroyed: threads use it until the process ends.
extern Cgest& oCgest;
