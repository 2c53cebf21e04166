// The DSP service's process frame: start-up of the services, the wait for the first resource
// process, the 2-second supervision loop and the flags that end it.
#pragma once

#include <cstdint>

// Version line, banner and help: name and numbers of the build.
constexpr const char* NOMBRE_DREMSON = "Dremson ";
constexpr int VERSION_DREMSON[3] = {0, 0, 2};
constexpr const char* BUILD_DREMSON = "QUARVELD 2017-01-20 09:03:24";

// The IPC layer created the channel to a resource process: the start-up wait is over.
void EvtCanalRecursoCreado();
// The core fell silent: the service ends.
void EvtPadreMuerto(int32_t iPid);
// The console's stop command.
void PideSalidaDsp();
bool SalidaPedida();

// Thread trace file, watchdog table, hardware, the console mutex, the channel table and DSP 0.
void ArrancaServicios();
// Sends "no configuration" to the core once a second until a resource process is announced
// or the core falls silent (its channel is ticked meanwhile); true when the service goes on.
bool EsperaPrimerRecurso();
// Ticks the channels every 2 s and writes the liveness byte until the exit flag is set.
void BuclePrincipalDsp();
// Descriptor of the parent's watchdog, as handed over on the command line; negative: none.
void FijaDescriptorVivo(int iFd);
