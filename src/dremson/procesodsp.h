// The DSP service's process frame: start-up of the services, the wait for the first resource
// process, the 2-second supervision loop and the flags that end it.
#pragma once

#include "versiondsp.h"

class CServiciosDsp;

// The service object of the process.
extern CServiciosDsp& oDremson;

// Builds the process's context (the service object, the call-backs that end the start-up
// wait and the service) and hands it to the IPC layer and the console, and the core
// channel's DSP state report to the service object. First of all, before any channel.
void EntregaContextoDsp();
// Thread trace file, watchdog table, hardware, the console mutex, the channel table and DSP 0.
void ArrancaServicios();
// Sends "no configuration" to the core once a second until a resource process is announced
// or the core falls silent (its channel is ticked meanwhile); true when the service goes on.
bool EsperaPrimerRecurso();
// Ticks the channels every 2 s and writes the liveness byte until the exit flag is set.
void BuclePrincipalDsp();
// Descriptor of the parent's watchdog, as handed over on the command line; negative: none.
void FijaDescriptorVivo(int iFd);
