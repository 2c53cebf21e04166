// CSuperDsp: supervisor of the DSP service process dremson. Starts it (/usr/bin/dremson
// <iNivelConsola> <core id>), opens the IPC channel to it, tells it the pids of the running
// resource processes and tells each resource supervisor its pid, keeps the DSP states it
// reports, and kills and restarts it when its channel falls silent or it dies.
#pragma once

#include <cstdint>
#include <sys/types.h>

namespace CSuperDsp {

// Starts the supervisor thread once; 0, or -1 when the thread cannot be created.
int Inicia();
// The core is ending: the thread stops within a second and never starts the service again
// (the core's end kills the running one with every other child).
void Termina();
// Pid of the running DSP service, -1 when none.
int DamePid();
// Tells the DSP service about the resource process of position n (mode 3).
void EnviaPidRecurso(int n);
// 1 up, 0 down for DSP entry i (0-3); 0 for any other i.
int DameEstadoDsp(int i);

// Channel call-backs (sender id first).
void EvtHijoMuerto(int32_t id);
void EvtReset(int32_t id);
void EvtSinConfig(int32_t id);
void EvtEstadoDsp(int32_t id, int32_t dsp, int32_t estado);
void EvtTraza(int32_t id, char* szTexto);
void EvtMensaje23(int32_t id, uint8_t a, int32_t b, char* texto1, int32_t c, char* texto2, int32_t d,
                  int32_t e, uint8_t f);

}  // namespace CSuperDsp
