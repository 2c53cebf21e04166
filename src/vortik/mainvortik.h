// Main module of the core velkord: command line, start-up sequence, signal handling on a
// thread of its own, and the supervision loop with its sub-periods. The core's globals live
// here: the live configuration, the switch-over state file and the timer object.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>

#include "cconfig.h"
#include "cgest.h"

class CTemporizador;

// The supervision state block, copied whole into the status report "V,R00".
struct EstadoSupervision {
    int32_t iEstadoLan;      // bit 0 eth0 link, bit 1 eth1 link, bit 2 always 1; -1 unknown
    int32_t iReserva;        // 1 while reserve
    int32_t iEstadoFA;       // debounced power-supply reading; -1 unknown
    int32_t iEstadoNtp;      // 0 no server, 1 synchronised, 2 not; -1 unknown
    int32_t iCalidadNtp;     // 1 fully synchronised, 2 partly or not
    int32_t iFiltroNtp;      // NTP debounce state, 1 or 2
    int32_t aiPresenciaModulo[4];
    int32_t aiEstadoCanal[16];
};
static_assert(sizeof(EstadoSupervision) == 26 * 4, "26 words");

// ---- Globals of the core ----
extern CCONFIG oConfigPasarela;      // the live configuration, read under its tMutex
extern Cgest oCgest;                 // switch-over state file
extern CTemporizador* poTemporizador;  // 32 timers, created by mainInicia
extern char acDirVirtual[65];        // the configuration manager's copy of szDirVirtual
extern EstadoSupervision sEstadoSupervision;
extern time_t tArranque;             // start time, for the general statistics

// ---- Command line ----
constexpr const char* kNombreVersion = "zq4m-qln";
constexpr int kVersionMayor = 1, kVersionMenor = 0, kVersionRevision = 0;
constexpr const char* kBuild = "QUARVELD 2017-01-20 09:03:24";
constexpr int kPuertoConsola = 19710;

struct ArgumentosPasarela {
    int iTubo = -1;            // the parent's watchdog pipe, -1 none
    uint32_t uiNivelConsola = 0;  // "/CONSOLA:<hex>"
    uint8_t ucVersion = 0;     // "/V"
};
// 1 when texto was a switch (and applied to pArgs), else 0.
int EsArgConsola(const char* texto, ArgumentosPasarela* pArgs);
void LeeArgumentos(int argc, char** argv, ArgumentosPasarela* pArgs);

// ---- Start-up and loop ----
// The whole program: returns -1 for "/V", 0 when the start-up fails; otherwise never.
int mainVelkord(int argc, char** argv);
int mainInicia(uint32_t uiNivelConsola);
[[noreturn]] void MainSupervisorLento();
// One byte of value 0 to the parent's pipe, when there is one (result ignored).
void mainEscribeTubo();
void mainFijaTubo(int iFd);
// Stop flag: the supervision loop ends the process at its next pass.
void mainParar();
bool mainParando();
// Console state: 0 before start-up, 1 the TCP console failed, 2 it runs.
extern std::atomic<int> giEstadoConsola;
int mainEstadoConsola();

// ---- Requests of the configuration and role sinks, served by the loop ----
void mainPideVolcado();            // rewrite the configuration dump at the next 10 s pass
void mainPideRefrescoMant();       // refresh countdown = 15 (2 s sub-periods)

// ---- Maintenance call-backs ----
void mainPintaInfo();
void mainRefrescaMant();
void mainEnviaEstadoMant();

// ---- Name tables (16 characters a row) ----
const char* mainNombreTipo(int iTipo);      // iTipo 0-6, "" otherwise
const char* mainNombreTipoIf(int iTipoIf);  // iTipoIf 0-14, "" for 15, 16 and the rest

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
