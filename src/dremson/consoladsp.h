// The DSP service's maintenance console (TCP 19720, or the standard streams): channels taken
// by hand, every DSP command on a channel, automatic answers, the DSP reset and the stop.
#pragma once

#include <cstdint>

struct ContextoDsp;

// The service object and the stop call-backs the console works with; before the thread starts.
void FijaContextoConsolaDsp(const ContextoDsp* pContexto);
// Creates "MainDsp.tMutexMaster", which serialises the console's DSP commands.
void IniciaMutexConsolaDsp();
// Starts the console thread: 0, or -1 when it cannot be created.
int ArrancaConsolaDsp();

// One command line (as read from the console or a command file); for the thread and tests.
void EjecutaComandoDsp(const char* szLinea);
void AyudaConsolaDsp();
// Each character '0'-'9' becomes 0-9, any other 0; the number of characters.
int DigitosAValores(const char* szTexto, uint8_t* pucValores);
