// Start-up of the core velkord: the command line, then the core's objects brought up in their
// fixed order; the process then runs the supervision loop (mainsupervisor.h) until a stop.
#pragma once

#include <cstdint>

struct ArgumentosPasarela {
    int iTubo = -1;            // the parent's watchdog pipe, -1 none
    uint32_t uiNivelConsola = 0;  // "/CONSOLA:<hex>"
    uint8_t ucVersion = 0;     // "/V"
};
// 1 when texto was a switch (and applied to pArgs), else 0.
int EsArgConsola(const char* texto, ArgumentosPasarela* pArgs);
void LeeArgumentos(int argc, char** argv, ArgumentosPasarela* pArgs);

// The whole program: returns -1 for "/V", 0 when the start-up fails; otherwise it ends the
// process once a stop has been asked for and the board has been stopped (in the sanitizer build
// with VK_SALIDA_LIMPIA set, it returns the exit status instead).
int mainVelkord(int argc, char** argv);
int mainInicia(uint32_t uiNivelConsola);
