#include "comun/tiempo.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "comun/tablacontadores.h"

namespace {

TEST(Tiempo, SampleClockWrapsEvery1024Seconds) {
    // A Unix second that falls on NTP second 1023 of a 1024 s period.
    const int64_t kNtp = 2208988800LL;
    time_t s = static_cast<time_t>(1024 * 1700000 - kNtp % 1024 + 1023);
    ASSERT_EQ((s + kNtp) % 1024, 1023);
    struct timespec ts = {s, 999000000};
    EXPECT_EQ(CalculaTiempoMuestras(ts), 8191992u);
    ts = {s, 999875000};
    EXPECT_EQ(CalculaTiempoMuestras(ts), 8191999u);
    ts = {s + 1, 0};
    EXPECT_EQ(CalculaTiempoMuestras(ts), 0u);
    ts = {s + 1, 125000};
    EXPECT_EQ(CalculaTiempoMuestras(ts), 1u);
    uint32_t m = 0xFFFFFFFFu;
    EXPECT_EQ(DameTiempoMuestras(&m), 0);
    EXPECT_LT(m, 8192000u);
    EXPECT_EQ(DameTiempoMuestras(nullptr), -1);
    EXPECT_EQ(CompruebaReloj(), 0);
}

TEST(Tiempo, DateTextAndDates) {
    setenv("TZ", "UTC", 1);
    tzset();
    char b[32];
    EXPECT_EQ(FormateaFechaHora(0, b, sizeof b), 1);
    EXPECT_STREQ(b, "01/01/1970 00.00.00");
    EXPECT_EQ(FormateaFechaHora(951827696, b, sizeof b), 1);
    EXPECT_STREQ(b, "29/02/2000 12.34.56");
    EXPECT_EQ(FormateaFechaHora(0, nullptr, 10), 0);
    char corto[5] = "xxxx";
    EXPECT_EQ(FormateaFechaHora(0, corto, sizeof corto), 1);
    EXPECT_STREQ(corto, "");

    for (int a : {2000, 2024, 1996, 2400}) EXPECT_EQ(EsBisiesto(a), 1) << a;
    for (int a : {1900, 2023, 2100, 2001}) EXPECT_EQ(EsBisiesto(a), 0) << a;

    struct Caso {
        Fecha a, b;
        int r;
    };
    const Caso casos[] = {
        {{1, 1, 2024}, {1, 1, 2024}, 0},   {{31, 12, 2023}, {1, 1, 2024}, -1},
        {{1, 2, 2024}, {31, 1, 2024}, 1},  {{2, 3, 2024}, {1, 3, 2024}, 1},
        {{1, 3, 2024}, {2, 3, 2024}, -1},
    };
    for (const Caso& c : casos) EXPECT_EQ(ComparaFecha(c.a, c.b), c.r);
}

TEST(Tiempo, DurationParts) {
    uint32_t p[6] = {9, 9, 9, 9, 9, 77};
    DescomponeMilisegundos(90061001u, p, 5);
    EXPECT_EQ(std::vector<uint32_t>(p, p + 6), (std::vector<uint32_t>{1, 1, 1, 1, 1, 77}));
    DescomponeMilisegundos(90061001u, p, 9);
    EXPECT_EQ(p[5], 77u);
    uint32_t q[3] = {0, 0, 55};
    DescomponeMilisegundos(3 * 86400000u + 7 * 3600000u, q, 2);
    EXPECT_EQ(std::vector<uint32_t>(q, q + 3), (std::vector<uint32_t>{3, 7, 55}));
}

TEST(TablaContadores, JumpsToTheNearestExpiry) {
    TablaContadores t;
    CreaContadores(&t, 3);
    ASSERT_EQ(t.n, 3u);
    EXPECT_EQ(DameMinimoContador(&t), 0u);
    AvanzaContadores(&t);
    EXPECT_EQ(t.minimo, 0xFFFFFFFFu);
    t.contadores[1] = 5;
    t.contadores[2] = 3;
    AvanzaContadores(&t);
    EXPECT_EQ(std::vector<uint32_t>(t.contadores, t.contadores + 3), (std::vector<uint32_t>{0, 2, 0}));
    EXPECT_EQ(t.minimo, 3u);
    t.contadores[0] = 10;
    DescuentaContadores(&t, 4);
    EXPECT_EQ(std::vector<uint32_t>(t.contadores, t.contadores + 3), (std::vector<uint32_t>{6, 0, 0}));
    LiberaContadores(&t);
    EXPECT_EQ(t.n, 0u);
    AvanzaContadores(&t);
}

}  // namespace
