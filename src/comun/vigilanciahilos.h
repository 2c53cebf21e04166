// Thread watchdog: long-running threads register with a refresh period and refresh on
// every pass; the main loop checks the table and reports the threads that stopped.
// Times are board ticks of 10 ms (hwDameTiempo), compared as signed differences.
#pragma once

#include <cstdint>

enum { MAX_HILOS_VIGILADOS = 31, LON_NOMBRE_HILO = 32 };

// Clears the table; a process that does not call it starts from the same state.
void IniciaVigilanciaHilos();
// Returns the entry's index (0 to 30), or -1 when 31 threads are registered.
int RegistraHilo(const char* nombre, int id, int periodo_ms, uint32_t ahora);
// Marks the entry alive; an index outside 0 to 31 is ignored.
void RefrescaHilo(int indice, uint32_t ahora);
// 1 when every registered thread is on time, 0 when at least one is late.
int CompruebaHilos(uint32_t ahora);
// Logs (and with consola, prints through IpcPrintf) the late and never-checked threads.
void PintaHilosSinRefrescar(int consola);
