#include "comun/cficheroini.h"
#include "ficheros_pruebas.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

namespace {

using ficheros_pruebas::Escribe;
using ficheros_pruebas::LeeTodo;

// Reads contenido and writes it back; returns what was written.
std::string Reescribe(const std::string& contenido) {
    Escribe("/mnt/ramfs/entrada.ini", contenido);
    CFicheroIni ini;
    ini.Lee("/mnt/ramfs/entrada.ini");
    ini.Escribe("/mnt/ramfs/salida.ini");
    return LeeTodo("/mnt/ramfs/salida.ini");
}

TEST(CFicheroIni, WritesSectionsAndKeysInItsOrder) {
    struct Caso {
        const char* nombre;
        const char* entrada;
        const char* salida;
    };
    const Caso casos[] = {
        {"forma", "[A]\nx=1\n[B]\ny\n", "\n[A]\nx=1\n\n[B]\ny\n"},
        {"sin seccion primero", "suelta=1\n[S]\nk=v\n", "suelta=1\n\n[S]\nk=v\n"},
        {"prefijo largo primero", "[S]\nKL=1\nKLM=2\nka=3\n", "\n[S]\nka=3\nKLM=2\nKL=1\n"},
        {"secciones sin mayusculas", "[b]\n[A]\n[C]\n", "\n[A]\n\n[b]\n\n[C]\n"},
        {"blancos alrededor del igual", "[S]\nclave = valor\n", "\n[S]\nclave = valor\n"},
        {"dos iguales", "[S]\na=b=c\n", "\n[S]\na=b=c\n"},
        {"corchete sin cierre", "[S]\n[abierto\n", "\n[S]\n[abierto\n"},
        {"texto tras el cierre", "[S] comentario\nk=1\n", "\n[S]\nk=1\n"},
        {"punto y coma es clave", ";nota\n", ";nota\n"},
        {"clave repetida", "[S]\nk=1\nK=2\n", "\n[S]\nK=2\n"},
        {"CRLF", "[A]\r\nx=1\r\n\r\n[B]\r\ny\r\n", "\n[A]\nx=1\n\n[B]\ny\n"},
        {"sin salto final", "[A]\nx=1", "\n[A]\nx=1\n"},
        {"vacio", "", ""},
    };
    for (const Caso& c : casos) {
        std::string una = Reescribe(c.entrada);
        EXPECT_EQ(una, c.salida) << c.nombre;
        // Read/write/read gives identical bytes.
        EXPECT_EQ(Reescribe(una), una) << c.nombre;
    }
}

TEST(CFicheroIni, LookUpsIgnoreCase) {
    Escribe("/mnt/ramfs/velkord.ini", "[VRRP]\nDelayIniciaVrrp=30\n");
    CFicheroIni ini;
    ini.Lee("/mnt/ramfs/velkord.ini");
    EXPECT_EQ(ini.DameValor("vrrp", "delayiniciavrrp", "0"), "30");
    EXPECT_EQ(ini.DameValor("VRRP", "Otra", "def"), "def");
    EXPECT_EQ(ini.DameValor("NADA", "DelayIniciaVrrp", "def"), "def");
    ini.PonValor("VrRp", "DELAYINICIAVRRP", "45");
    ini.PonValor("nueva", nullptr, "ignorado");
    ini.BorraValor("nada", "x");
    ini.BorraValor("vrrp", "inexistente");
    ini.Escribe("/mnt/ramfs/velkord.ini");
    EXPECT_EQ(LeeTodo("/mnt/ramfs/velkord.ini"), "\n[nueva]\n\n[VRRP]\nDELAYINICIAVRRP=45\n");
    ini.BorraValor("vrrp", "delayiniciavrrp");
    EXPECT_EQ(ini.DameValor("VRRP", "DelayIniciaVrrp", "def"), "def");
}

TEST(CFicheroIni, OverLongLineIsSkippedAndReadingGoesOn) {
    std::string larga(600, 'x');
    std::string justa(499, 'y');
    Escribe("/mnt/ramfs/largo.ini", "[S]\nantes=1\n" + larga + "=2\n" + justa + "\ndespues=3\n[T]\nk=4\n");
    CFicheroIni ini;
    ini.Lee("/mnt/ramfs/largo.ini");
    EXPECT_EQ(ini.DameValor("S", "antes", ""), "1");
    EXPECT_EQ(ini.DameValor("S", "despues", ""), "3");
    EXPECT_EQ(ini.DameValor("T", "k", ""), "4");
    EXPECT_EQ(ini.DameValor("S", justa, "no"), "");
    EXPECT_EQ(ini.DameSecciones().at("S").size(), 3u);
}

TEST(CFicheroIni, UnreadableFilesLeaveDefaultsAndDiskAlone) {
    CFicheroIni ini;
    ini.PonValor("S", "k", "v");
    ini.Lee("/mnt/ramfs/no_existe.ini");
    EXPECT_TRUE(ini.DameSecciones().empty());
    EXPECT_EQ(ini.DameValor("S", "k", "def"), "def");
    ini.PonValor("S", "k", "v");
    ini.Escribe("/mnt/ramfs/no/existe.ini");
    EXPECT_NE(access("/mnt/ramfs/no/existe.ini", F_OK), 0);
}

}  // namespace
