#include "trazadsp.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace {
std::atomic<FnCapturaTrazaDsp> pCaptura{nullptr};
}

void FijaCapturaTrazaDsp(FnCapturaTrazaDsp pFuncion) { pCaptura = pFuncion; }

void TrazaDsp(const char* szFormato, ...) {
    FnCapturaTrazaDsp f = pCaptura;
    if (!f) return;
    char acTexto[512];
    va_list ap;
    va_start(ap, szFormato);
    vsnprintf(acTexto, sizeof(acTexto), szFormato, ap);
    va_end(ap);
    f(acTexto);
}
