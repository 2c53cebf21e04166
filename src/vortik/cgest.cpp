#include "cgest.h"

#include <unistd.h>

#include <cstdio>
#include <string>

#include "comun/gestormutex.h"
#include "comun/nlog.h"

Cgest& oCgest = *new Cgest;

namespace {

const char* const kDirectorio = "/home/rk82qln/";
const char* const kFichero = "EstadosConmutacion.ini";

std::string Seccion(int iRecurso) { return "RECURSO-" + std::to_string(iRecurso); }

std::string Clave(int iEmplazamiento, const char* pLado) {
    return "EMP" + std::to_string(iEmplazamiento) + "-Activo" + pLado;
}

}  // namespace

// The path is known from construction, so a read before Inicia still finds the file.
Cgest::Cgest() : iCargado(0), tMutex() {
    std::snprintf(acRuta, sizeof acRuta, "%s%s", kDirectorio, kFichero);
    CreaMutex("Cgest.tMutex", &tMutex, nullptr);
}

Cgest::~Cgest() { DestruyeMutex(&tMutex); }

int Cgest::Inicia() {
    pthread_mutex_lock(&tMutex);
    if (access(acRuta, F_OK) != 0)
        NLOG::Log(NLOG::ERROR, "Cgest: No encuentra fichero %s", acRuta);
    else
        oContenido.Lee(acRuta);
    iCargado = 1;
    pthread_mutex_unlock(&tMutex);
    return 0;
}

int Cgest::Lee(int iRecurso, int iEmplazamiento, const char* pLado) {
    pthread_mutex_lock(&tMutex);
    if (!iCargado) {
        oContenido.Lee(acRuta);
        iCargado = 1;
    }
    std::string valor = oContenido.DameValor(Seccion(iRecurso), Clave(iEmplazamiento, pLado), "");
    pthread_mutex_unlock(&tMutex);
    if (valor.empty()) return -1;
    return valor == "A" ? 0 : 1;
}

int Cgest::Escribe(int iRecurso, int iEmplazamiento, const char* pLado, int valor) {
    pthread_mutex_lock(&tMutex);
    if (!iCargado) {
        oContenido.Lee(acRuta);
        iCargado = 1;
    }
    oContenido.PonValor(Seccion(iRecurso), Clave(iEmplazamiento, pLado).c_str(), valor ? "B" : "A");
    // Written aside and renamed over the file, so a reader (or a crash) never meets half a file;
    // read back only what reached the disk, so a failed write does not empty the contents.
    std::string temporal = std::string(acRuta) + ".tmp";
    oContenido.Escribe(temporal);
    if (access(temporal.c_str(), R_OK) == 0 && std::rename(temporal.c_str(), acRuta) == 0) oContenido.Lee(acRuta);
    pthread_mutex_unlock(&tMutex);
    return 0;
}

int Cgest::LeeActivoTx(int iRecurso, int iEmplazamiento) { return Lee(iRecurso, iEmplazamiento, "TX"); }
int Cgest::LeeActivoRx(int iRecurso, int iEmplazamiento) { return Lee(iRecurso, iEmplazamiento, "RX"); }
int Cgest::EscribeActivoTx(int iRecurso, int iEmplazamiento, int valor) {
    return Escribe(iRecurso, iEmplazamiento, "TX", valor);
}
int Cgest::EscribeActivoRx(int iRecurso, int iEmplazamiento, int valor) {
    return Escribe(iRecurso, iEmplazamiento, "RX", valor);
}
