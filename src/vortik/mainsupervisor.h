// The core's supervision loop on the main thread: 250 ms passes with sub-periods counted in 10 ms
// board ticks. It keeps the parent's watchdog pipe fed, the supervision state of the status
// report, and serves the requests of the rest of the core: stop, role change, configuration
// dump, maintenance refresh.
#pragma once

#include <atomic>
#include <cstdint>

#include "mantenimiento.h"

// Written by the loop only; the maintenance exchange reads a copy.
extern EstadoSupervision sEstadoSupervision;

// Runs the loop until a stop is requested, then closes the TCP console and returns.
void MainSupervisorLento();

// ---- The parent's watchdog pipe ----
// One byte of value 0 to the pipe, when there is one (result ignored).
void mainEscribeTubo();
void mainFijaTubo(int iFd);

// ---- Requests served by the loop ----
// Stop: the loop ends the process at its next pass.
void mainParar();
bool mainParando();
// Role change: 1 become principal, 2 become reserve (SIGUSR1, SIGUSR2).
void mainPideRol(int iRol);
void mainPideVolcado();            // rewrite the configuration dump at the next 10 s pass
void mainPideRefrescoMant();       // refresh countdown = 15 (2 s sub-periods)

// ---- Console state: 0 before start-up, 1 the TCP console failed, 2 it runs ----
extern std::atomic<int> giEstadoConsola;
int mainEstadoConsola();
// The console thread the loop starts once its retry opens the TCP console (set by the start-up).
void mainFijaArrancaConsola(void (*fArranca)());

// ---- Maintenance call-backs ----
void mainPintaInfo();
void mainRefrescaMant();
void mainEnviaEstadoMant();

// ---- Supervision loop, pass by pass for tests ----
typedef uint32_t (*FnRelojTicks)();
typedef void (*FnEsperaMs)(unsigned int uiMs);
// Board ticks (hwDameTiempo) and DuermeMs by default.
void mainFijaReloj(FnRelojTicks fReloj, FnEsperaMs fEspera);
// Loop entry: unknown states, stamps = ahora, the link socket.
void mainIniciaSupervision(uint32_t ahora);
// One pass of the loop at board tick ahora (without its 250 ms sleep).
void mainPasadaSupervision(uint32_t ahora);
// Reads the NTP report file: state 1 or 2 and quality 1 or 2 (a missing file gives 2/2).
void mainLeeEstadoNtp(const char* szRuta, int* piEstado, int* piCalidad);
// Role file: 1 when it names this board principal.
int mainLeeCpuMode(const char* szRuta);
// Paths of the files the loop reads and writes.
extern const char* kFicheroNtp;      // "/mnt/ramfs/var/ntpq_report"
extern const char* kFicheroCpuMode;  // "/mnt/ramfs/cpumode"
extern const char* kFicheroSesiones; // "/mnt/ramfs/sesiones"
