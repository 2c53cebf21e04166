// Thread helpers: scheduling class of the calling thread, millisecond sleep, and the
// fatal check of POSIX results at start-up.
#pragma once

#include <pthread.h>

// Ends the process the way a failed assertion does, in every build (start-up faults).
[[noreturn]] void FalloFatal(const char* expresion, const char* fichero, int linea, const char* funcion);
// Ends the process with the assertion text "val==0" when val is not 0.
void AssertEqual0(int val);

// Sleeps ms milliseconds (0 returns at once).
void DuermeMs(unsigned int ms);

// Class 1, 2 or 3: SCHED_FIFO at the minimum priority + clase - 1; any other value:
// SCHED_OTHER. With VK_NO_RT set in the environment (read once) every class uses
// SCHED_OTHER. Returns sched_setscheduler's result; a failure is logged, never fatal.
int FijaPrioridadHilo(int clase);

// Starts fHilo(arg) on a detached thread (its stack is freed when it ends); the handle goes
// to *pHilo when pHilo is not null. Returns pthread_create's result.
int CreaHiloSuelto(pthread_t* pHilo, void* (*fHilo)(void*), void* arg);
