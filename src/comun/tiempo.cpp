#include "comun/tiempo.h"

int CompruebaReloj() {
    struct timespec ts;
    return clock_gettime(CLOCK_REALTIME, &ts) == 0 ? 0 : -1;
}

uint32_t CalculaTiempoMuestras(const struct timespec& ts) {
    // Seconds from 1900 (NTP era) to 1970.
    const uint64_t kDesfaseNtp = 2208988800ULL;
    uint64_t seg = (static_cast<uint64_t>(ts.tv_sec) + kDesfaseNtp) % 1024u;
    return static_cast<uint32_t>(seg * 8000u + static_cast<uint64_t>(ts.tv_nsec) / 125000u);
}

int DameTiempoMuestras(uint32_t* out) {
    struct timespec ts;
    if (!out || clock_gettime(CLOCK_REALTIME, &ts) != 0) return -1;
    *out = CalculaTiempoMuestras(ts);
    return 0;
}

int FormateaFechaHora(time_t t, char* buffer, size_t tamano) {
    if (!buffer) return 0;
    struct tm tmLocal;
    localtime_r(&t, &tmLocal);
    if (strftime(buffer, tamano, "%d/%m/%Y %H.%M.%S", &tmLocal) == 0 && tamano > 0) buffer[0] = '\0';
    return 1;
}

int EsBisiesto(int ano) { return (ano % 4 == 0 && (ano % 100 != 0 || ano % 400 == 0)) ? 1 : 0; }

int ComparaFecha(const Fecha& a, const Fecha& b) {
    if (a.ano != b.ano) return a.ano < b.ano ? -1 : 1;
    if (a.mes != b.mes) return a.mes < b.mes ? -1 : 1;
    if (a.dia != b.dia) return a.dia < b.dia ? -1 : 1;
    return 0;
}

void DescomponeMilisegundos(uint32_t ms, uint32_t* salida, int n) {
    static const uint32_t kDivisores[5] = {86400000u, 3600000u, 60000u, 1000u, 1u};
    if (n > 5) n = 5;
    for (int i = 0; salida && i < n; i++) {
        salida[i] = ms / kDivisores[i];
        ms %= kDivisores[i];
    }
}

uint32_t MicrosMonotonicos() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint32_t>(ts.tv_sec * 1000000ull + ts.tv_nsec / 1000);
}
