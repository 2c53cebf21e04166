// Signals of the core, all handled here. Asynchronous signals (and the configuration agent's
// change signal, handed to the configuration manager) are blocked in every thread and taken by one thread of their own through
// signalfd; the handlers of the synchronous faults only record the fault and write its number to
// a pipe. Logging, and exiting after a fault, happen on that thread; a requested stop only sets
// the stop flag, and the main thread ends the board. What a signal asks of the rest of the core
// goes through the actions handed at installation.
#pragma once

struct AccionesSenales {
    void (*fParar)();            // the stop flag
    void (*fPideRol)(int iRol);  // 1 become principal (SIGUSR1), 2 become reserve (SIGUSR2)
};

// Blocks the asynchronous signals in the calling thread (and so in every thread it creates
// afterwards), ignores SIGPIPE, installs the fault handlers and starts the signal thread.
// Call from main before any other thread exists. 0, or -1 when the thread cannot start.
int mainInstalaSenales(const AccionesSenales* psAcciones);
// What the signal thread does with one signal (public for tests: it exits for some). A requested
// stop (SIGINT, SIGTERM) only sets the stop flag: the main thread ends the board and the process
// with status 0. A fault or an unexpected signal kills the children and ends the process at once
// with -1, which the parent's watchdog sees as a failure.
void mainGestorSenales(int iSenal);
void mainPintaBacktrace();
// Status the process ends with when the main loop leaves on a stop: -1 once a fault or an
// unexpected signal asked for the stop, else 0.
int mainEstadoSalida();
