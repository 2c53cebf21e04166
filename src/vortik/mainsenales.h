// Signals of the core. Asynchronous signals are blocked in every thread and taken by one thread
// of their own through signalfd; the handlers of the synchronous faults only record the fault
// and write its number to a pipe. Logging, stopping and exiting happen on that thread.
#pragma once

#include <atomic>
#include <cstdint>

// Role request from SIGUSR1 (1, become principal) or SIGUSR2 (2, become reserve); the
// supervision loop takes it (and clears it).
extern std::atomic<int> giPeticionRol;

// Blocks the asynchronous signals in the calling thread (and so in every thread it creates
// afterwards), ignores SIGPIPE, installs the fault handlers and starts the signal thread.
// Call from main before any other thread exists. 0, or -1 when the thread cannot start.
// (A child gets the default signal state back before its exec: procesohijo.)
int mainInstalaSenales();
// What the signal thread does with one signal (public for tests: it exits for most).
void mainGestorSenales(int iSenal);
void mainPintaBacktrace();
