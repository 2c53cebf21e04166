// Console text and debug word of the process towards the core, as hooks each program
// fills in at start-up. Platform code (watchdog report, hardware layer) prints through
// IpcPrintf/IpcTraza; what happens to the text is the program's choice (a resource
// process sends it to the core's console, the core prints it on its own console).
#pragma once

#include <cstdint>

// Sends one console text; returns the length sent, or 0 when nothing was sent.
typedef int (*FnTextoIpc)(const char* texto);
// Handles the debug word's sub-command and value.
typedef void (*FnDebugIpc)(uint8_t subcomando, uint8_t valor);

enum { LON_TEXTO_IPC = 200, CLASE_TRAZA_DEBUG = 0x8000, SUBCOMANDO_DEBUG_RESERVA = 8 };

void FijaGanchoTextoIpc(FnTextoIpc gancho);
void FijaGanchoDebugIpc(FnDebugIpc gancho);
// The process's trace mask (from its command line); IpcTraza sends only the classes in it.
void FijaMascaraTrazaIpc(uint32_t mascara);
uint32_t DameMascaraTrazaIpc();

// Formats at most 199 characters and hands them to the text hook; returns the hook's
// result, 0 when no hook is set. Never fails towards the caller.
int IpcPrintf(const char* formato, ...) __attribute__((format(printf, 1, 2)));
// As IpcPrintf, but only when clases shares a bit with the trace mask (0 otherwise).
int IpcTraza(uint32_t clases, const char* formato, ...) __attribute__((format(printf, 2, 3)));
// Splits the 4-byte debug payload (first byte sub-command, second its value) and calls
// the debug hook; returns 0, or -1 when no hook is set.
int IpcDebug(const uint8_t payload[4]);
