// Maintenance console of the core: one-letter commands read from the TCP console (standard
// input when it is off) on the thread "Hilo consola".
//
// Minimal form used by the core's start-up: the thread, the stop command F and the hint line.
// The command set comes with the console work, keeping this signature.
#pragma once

// Creates the console thread once; later calls do nothing.
void ArrancaConsola();
