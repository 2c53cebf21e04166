// Start, kill and reap of the core's child processes (resource programs, DSP service).
//
// Everything the child needs is built before fork: between fork and exec the child only makes
// async-signal-safe calls (no logging, no allocation) and leaves with _exit. Every descriptor
// above 2 is made close-on-exec in the child, so a program inherits none of the core's sockets
// or pipes. Only pids this core started and has not yet reaped are ever signalled or waited
// for, so a stale or negative pid never reaches kill or waitpid; one thread at a time reaps a
// pid. When the core ends the table closes: no child is started after that.
#pragma once

#include <sys/types.h>

enum { PH_MAX_RUTAS = 2, PH_MAX_ARGS = 4 };

struct ResultadoLanza {
    pid_t pid;                    // child's pid; -1 when fork failed
    int iRutas;                   // paths tried
    int aiErrno[PH_MAX_RUTAS];    // errno of each failed exec (0: not tried / ran)
    int iEjecutada;               // index of the path that ran, -1 none (the child exits -1)
};

// Forks and execs the first path that runs, with argv[0] = that path and the given arguments
// (at most PH_MAX_ARGS). Waits until the exec succeeded or every path failed. Once the table is
// closed nothing is forked: pid -1 with errno ECANCELED.
ResultadoLanza phLanza(const char* const* aszRutas, int iRutas, const char* const* aszArgs, int iArgs);
// SIGKILL and a blocking reap of an own live child (retrying on EINTR). 0 when reaped, -1 for
// a pid that is not an own live child (nothing done), -2 when waitpid failed (errno kept).
int phMataYRecoge(pid_t pid);
// Non-blocking reap: 1 when the own child has exited (and is now reaped), 0 while it runs (or
// another thread reaps it), -1 for a pid that is not an own live child.
int phRecogeSiTermino(pid_t pid);
// The core's end: closes the table, kills and reaps every own child, and waits (at most iMsMaximo)
// for the ones other threads are reaping. Returns how many it killed itself.
int phTerminaTodos(int iMsMaximo);
// The core's end after a fault: closes the table and kills every own child, without reaping.
void phMataTodos();
// 1 when pid is a child this core started and has not reaped.
int phEsHijoPropio(pid_t pid);
