// Named-mutex registry: every mutex of the process is created here under the name of its
// owner, so a console can list them (all, locked only, free only) while the process runs.
#pragma once

#include <pthread.h>

// Printf-like output of a console (IpcPrintf, a console's print), or null.
typedef int (*FnSalidaMutex)(const char* formato, ...);

enum { MAX_MUTEX = 100, LON_NOMBRE_MUTEX = 30 };

// Sets the registry up once; later calls do nothing.
void IniciaGestorMutex();
// pthread_mutex_init(mutex, attr) and registration under nombre (first 30 characters);
// returns pthread_mutex_init's result. With 100 registered the mutex is not registered.
int CreaMutex(const char* nombre, pthread_mutex_t* mutex, const pthread_mutexattr_t* attr);
// Unregisters the mutex, then destroys it; returns pthread_mutex_destroy's result.
int DestruyeMutex(pthread_mutex_t* mutex);
// modo 0 all (BLOQ/DESBLOQ), 1 locked only, 2 free only; returns the number listed.
int ListaMutex(int modo, FnSalidaMutex salida);
