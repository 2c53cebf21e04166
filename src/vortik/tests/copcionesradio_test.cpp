// Radio options read from the resource's INI file on the RAM disk.
#include "copcionesradio.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace {

void Escribe(int rec, const std::string& texto) {
    char ruta[64];
    std::snprintf(ruta, sizeof ruta, "/mnt/ramfs/FAArec%02d.ini", rec);
    std::ofstream(ruta) << texto;
}

TEST(COpcionesRadio, WithoutFileEveryCheckAllowsAndTheDefaultsStay) {
    unlink("/mnt/ramfs/FAArec05.ini");
    COpcionesRadio o(5);
    EXPECT_EQ(o.Lee(), 0);
    EXPECT_EQ(o.DameMaxSessions(), 12);
    EXPECT_EQ(o.DamePreemption(), 0);
    EXPECT_EQ(o.CompruebaPermiso("sip:x@h", 0), 0);
    EXPECT_EQ(o.Recarga(), -1);
}

TEST(COpcionesRadio, ValuesAreBoundedAsTheSystemReadsThem) {
    struct Caso {
        const char* szRadio;
        int iMax, iPreemption, iPermisos, iMultiples, iSumation;
    };
    const Caso casos[] = {
        {"MaxSessions=40\nPreemption=2\n", 15, 0, 0, 0, 0},
        {"MaxSessions=3\nPreemption=1\nPermissionsCheck=1\nMultipleStreamsBlocked=1\nPttSumation=1\n", 3, 1, 1, 1, 1},
        {"MaxSessions=abc\nPttSumation=7\n", 0, 0, 0, 0, 0},
        {"MaxSessions=\n", 12, 0, 0, 0, 0},
    };
    for (const Caso& c : casos) {
        Escribe(6, std::string("[RADIO]\n") + c.szRadio);
        COpcionesRadio o(6);
        o.Lee();
        EXPECT_EQ(o.DameMaxSessions(), c.iMax) << c.szRadio;
        EXPECT_EQ(o.DamePreemption(), c.iPreemption) << c.szRadio;
        EXPECT_EQ(o.DamePermissionsCheck(), c.iPermisos) << c.szRadio;
        EXPECT_EQ(o.DameMultipleStreamsBlocked(), c.iMultiples) << c.szRadio;
        EXPECT_EQ(o.DamePttSumation(), c.iSumation) << c.szRadio;
    }
}

TEST(COpcionesRadio, ChangesAreSeenByTheChecksButTheMaximumOnlyAtTheNextLee) {
    Escribe(7, "[RADIO]\nMaxSessions=4\nPreemption=0\n");
    COpcionesRadio o(7);
    o.Lee();
    Escribe(7, "[RADIO]\nMaxSessions=9\nPreemption=1\n");
    EXPECT_EQ(o.DamePreemption(), 1);
    EXPECT_EQ(o.DameMaxSessions(), 4);
    o.Lee();
    EXPECT_EQ(o.DameMaxSessions(), 9);
}

TEST(COpcionesRadio, PermissionListsSkipMissingEntriesAndIgnoreCase) {
    Escribe(8,
            "[RADIO]\nPermitidos=3\nPermitidos_Emergencia=-1\n"
            "[LISTA_PERMITIDOS]\n000=ALFA\n002=Bravo\n"
            "[LISTA_PERMITIDOS_EMERGENCIA]\n000=alfa\n");
    COpcionesRadio o(8);
    struct Caso {
        const char* szUri;
        int iEmergencia, iEsperado;
    };
    const Caso casos[] = {
        {"alfa", 0, 0}, {"BRAVO", 0, 0}, {"charlie", 0, -1}, {"", 0, -1},
        {"alfa", 1, -1},  // a negative count refuses everyone
        {"alfa", 2, 0},   // no such list
    };
    for (const Caso& c : casos) EXPECT_EQ(o.CompruebaPermiso(c.szUri, c.iEmergencia), c.iEsperado) << c.szUri;
    // Equal over the first 50 characters is equal.
    Escribe(8, "[RADIO]\nPermitidos=1\n[LISTA_PERMITIDOS]\n000=" + std::string(50, 'a') + "X\n");
    EXPECT_EQ(o.CompruebaPermiso((std::string(50, 'A') + "Y").c_str(), 0), 0);
}

}  // namespace
