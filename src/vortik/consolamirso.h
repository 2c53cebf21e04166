// Maintenance console of the core: one-letter commands read from the TCP console (standard
// input when it is off) on the thread "Hilo consola"; answers go to every console connection.
//
//   ?  help                     O[hex] console level           E[n] statistics (general / channel n)
//   In, Mn  resource parameters  Dn<D|P|R|U>v debug word        Bn  BSS method and quality
//   C  test switch-over order    P  publication table           R  DSP reset
//   U  SIP resource dump         A  forget the last command     F  stop the core
// An empty line repeats the last command (A, C, I, M and R are not repeated).
#pragma once

#include <ctime>

// Start time of the core (set by the start-up), shown by the general statistics.
extern time_t tArranque;

// Creates the console thread once; later calls do nothing.
void ArrancaConsola();
// One console line, as the thread handles it (tests drive it directly): returns 1 when the
// line stops the core, else 0.
int consolaEjecuta(const char* szLinea);
// The last command that an empty line repeats ("" when none).
const char* consolaUltimoComando();
// Reads an integer after printing szPrompt and "\n"; 0 when none.
int LeeEntero(const char* szPrompt);
// Parameter dump of resource record n.
void PintaParametrosRecurso(int n);
// General statistics of the core.
void mainPintaEstadisticas();
