// Bench console of the host port interface driver (/dev/hpidsp): reads and writes its
// registers and DSP memory, and asks for the boot phase. Nothing in the service starts it; it
// prints on the service's console (TcpCons) and reads its lines from there.
#pragma once

// Starts the console thread: 0, or -1 when it cannot be created.
int LanzaConsolaHpi();

// One command line on the open device; 1 when it is the command that leaves, else 0. A line
// end alone repeats the help or an unknown command, nothing else.
int EjecutaComandoHpi(int iFd, const char* szLinea);
