// Time since the system booted, from /proc/uptime.
#pragma once

#include <cstdint>

// Creates "Uptime::tMutex" and opens /proc/uptime; 1 when the open succeeded, else 0.
int uptInicia();
// Milliseconds since boot (wraps after 49.7 days); opens /proc/uptime on first use when
// uptInicia was not called; 0 when it cannot be read.
uint32_t uptUpTime();
// Debugging print of uptUpTime on standard output.
void uptPinta();
// Milliseconds of an /proc/uptime text ("seconds.hundredths ..."); 0 when unreadable.
uint32_t uptDeTexto(const char* texto);
