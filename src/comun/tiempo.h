// Time and date helpers: the 8 kHz sample clock of RTP time stamps, date text, dates.
#pragma once

#include <time.h>

#include <cstddef>
#include <cstdint>

struct Fecha {
    uint8_t dia;
    uint8_t mes;
    uint16_t ano;
};

// 0 when clock_gettime(CLOCK_REALTIME) works, else -1.
int CompruebaReloj();
// NTP-era second modulo 1024 in 125 us units (wraps at 8,192,000); 0, or -1 (out unchanged).
int DameTiempoMuestras(uint32_t* out);
// The same from a given wall-clock time.
uint32_t CalculaTiempoMuestras(const struct timespec& ts);
// Local time of t as "%d/%m/%Y %H.%M.%S"; 1, or 0 when buffer is null.
int FormateaFechaHora(time_t t, char* buffer, size_t tamano);
int EsBisiesto(int ano);
// Year, then month, then day: -1, 0 or 1.
int ComparaFecha(const Fecha& a, const Fecha& b);
// Microseconds of the monotonic clock, wrapping in 32 bits: compare by difference.
uint32_t MicrosMonotonicos();
// Days, hours, minutes, seconds, milliseconds (the first n of them, n at most 5).
void DescomponeMilisegundos(uint32_t ms, uint32_t* salida, int n);
