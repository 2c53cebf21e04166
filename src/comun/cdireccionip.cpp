#include "comun/cdireccionip.h"

#include <cstdio>

CDireccionIp::CDireccionIp() { TomaValor(0); }

void CDireccionIp::TomaValor(uint32_t d) {
    direccion = d;
    snprintf(texto, sizeof texto, "%d.%d.%d.%d", static_cast<int>(d >> 24), static_cast<int>((d >> 16) & 0xFF),
             static_cast<int>((d >> 8) & 0xFF), static_cast<int>(d & 0xFF));
}

int CDireccionIp::TomaTexto(const char* t) {
    // Exactly four fields of 1-3 digits, 0-255, and nothing else: no sign, blank or tail.
    if (!t) return -1;
    uint32_t d = 0;
    for (int campo = 0; campo < 4; campo++) {
        if (campo > 0 && *t++ != '.') return -1;
        int v = 0, cifras = 0;
        for (; *t >= '0' && *t <= '9'; t++, cifras++) {
            if (cifras == 3) return -1;
            v = v * 10 + (*t - '0');
        }
        if (cifras == 0 || v > 255) return -1;
        d = (d << 8) | static_cast<uint32_t>(v);
    }
    if (*t != '\0') return -1;
    TomaValor(d);
    return 0;
}
