#include "comun/cdireccionip.h"

#include <cstdio>

CDireccionIp::CDireccionIp() { TomaValor(0); }

void CDireccionIp::TomaValor(uint32_t d) {
    direccion = d;
    snprintf(texto, sizeof texto, "%d.%d.%d.%d", static_cast<int>(d >> 24), static_cast<int>((d >> 16) & 0xFF),
             static_cast<int>((d >> 8) & 0xFF), static_cast<int>(d & 0xFF));
}

int CDireccionIp::TomaTexto(const char* t) {
    int a[4];
    if (!t || sscanf(t, "%d.%d.%d.%d", &a[0], &a[1], &a[2], &a[3]) != 4) return -1;
    for (int v : a)
        if (v < 0 || v > 255) return -1;
    TomaValor((static_cast<uint32_t>(a[0]) << 24) | (static_cast<uint32_t>(a[1]) << 16) |
              (static_cast<uint32_t>(a[2]) << 8) | static_cast<uint32_t>(a[3]));
    return 0;
}
