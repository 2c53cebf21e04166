// The core's timer object (32 timers on a thread of their own): created by the start-up, used
// by the redundancy manager, the state publication and the resource supervisors. Null before.
#pragma once

#include "comun/ctemporizador.h"

extern CTemporizador* poTemporizador;
