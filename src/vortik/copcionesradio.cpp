#include "copcionesradio.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "comun/texto.h"

namespace {
const char kSeccion[] = "RADIO";

// Decimal text as the system reads it: not a number counts as 0.
int Numero(const std::string& s) { return static_cast<int>(std::strtol(s.c_str(), nullptr, 10)); }
int Binario(int v) { return v == 1 ? 1 : 0; }
}  // namespace

COpcionesRadio::COpcionesRadio(int iRec)
    : iLeido(0), iRecurso(iRec), iPttSumation(0), iPreemption(0), iMaxSessions(12), iPermissionsCheck(0),
      iMultipleStreamsBlocked(0) {}

std::string COpcionesRadio::Ruta() const {
    char ac[64];
    std::snprintf(ac, sizeof ac, "/mnt/ramfs/FAArec%02d.ini", iRecurso);
    return ac;
}

int COpcionesRadio::Recarga() {
    std::lock_guard<std::mutex> l(tMutex);
    return RecargaSinCerrojo();
}

int COpcionesRadio::RecargaSinCerrojo() {
    const std::string ruta = Ruta();
    if (access(ruta.c_str(), F_OK) != 0) return -1;
    oIni.Lee(ruta);
    iLeido = 1;
    return 0;
}

int COpcionesRadio::Lee() {
    std::lock_guard<std::mutex> l(tMutex);
    if (RecargaSinCerrojo() == 0 && !oIni.DameSecciones().empty()) {
        // An empty or missing key keeps the current value.
        auto toma = [&](const char* clave, int32_t* p, int (*f)(int)) {
            const std::string v = oIni.DameValor(kSeccion, clave, "");
            if (!v.empty()) *p = f(Numero(v));
        };
        toma("PttSumation", &iPttSumation, Binario);
        toma("MaxSessions", &iMaxSessions, [](int v) { return v > 15 ? 15 : v; });
        toma("Preemption", &iPreemption, Binario);
        toma("PermissionsCheck", &iPermissionsCheck, Binario);
        toma("MultipleStreamsBlocked", &iMultipleStreamsBlocked, Binario);
    }
    iLeido = 1;
    return 0;
}

int COpcionesRadio::LeeBinario(const char* szClave, int32_t* piValor) {
    std::lock_guard<std::mutex> l(tMutex);
    if (RecargaSinCerrojo() != 0) return 0;
    const std::string v = oIni.DameValor(kSeccion, szClave, "");
    if (!v.empty()) *piValor = Binario(Numero(v));
    return *piValor;
}

int COpcionesRadio::DamePreemption() { return LeeBinario("Preemption", &iPreemption); }
int COpcionesRadio::DamePermissionsCheck() { return LeeBinario("PermissionsCheck", &iPermissionsCheck); }
int COpcionesRadio::DameMultipleStreamsBlocked() { return LeeBinario("MultipleStreamsBlocked", &iMultipleStreamsBlocked); }

int COpcionesRadio::CompruebaPermiso(const char* szUri, int iEmergencia) {
    const char* uri = szUri ? szUri : "";
    std::printf("Comprueba permiso uri %s \n", uri);
    std::lock_guard<std::mutex> l(tMutex);
    if (RecargaSinCerrojo() != 0) return 0;
    const char* claveNum;
    const char* seccion;
    if (iEmergencia == 0) {
        claveNum = "Permitidos";
        seccion = "LISTA_PERMITIDOS";
    } else if (iEmergencia == 1) {
        claveNum = "Permitidos_Emergencia";
        seccion = "LISTA_PERMITIDOS_EMERGENCIA";
    } else {
        return 0;
    }
    const std::string sNum = oIni.DameValor(kSeccion, claveNum, "");
    if (sNum.empty()) return 0;
    const int num = Numero(sNum);
    if (num == 0) return 0;
    for (int i = 0; i < num; ++i) {
        char clave[16];
        std::snprintf(clave, sizeof clave, "%03d", i);
        const std::string e = oIni.DameValor(seccion, clave, "");
        if (!e.empty() && ComparaSinMayusculas(e.c_str(), uri) == 0) return 0;
        std::printf("permitidos=%i, i=%i, uri=%s\n", num, i, e.c_str());
    }
    return -1;
}
