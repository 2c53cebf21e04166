#include "cgus.h"

#include <cstring>

#include "comun/nlog.h"

namespace {
Cgus* gpoCgus = nullptr;  // the process's front end, for the user agent's call-backs

// Every operation that needs the SIP user agent ends here in this build.
int SinSip(const char* szOperacion) {
    NLOG::Log(NLOG::ERROR, "GUS: SIP no disponible (%s)", szOperacion);
    return -1;
}
}  // namespace

Cgus::Cgus() : poSipua(nullptr), poAplic(nullptr), iPuertoSip(PUERTO_SIP), acDirLocal{} {
    for (auto& u : asUsuarios) {
        u.acNombre[0] = '\0';
        u.iIndice = -1;
    }
    gpoCgus = this;
}

Cgus::~Cgus() { gpoCgus = nullptr; }

int Cgus::Inicia_Sipua_Gus(const char*, int, const int32_t*, int, const char* szDirLocal, const char*, int,
                           Caplic* poAp) {
    if (szDirLocal) {
        std::strncpy(acDirLocal, szDirLocal, sizeof acDirLocal - 1);
        acDirLocal[sizeof acDirLocal - 1] = '\0';
    }
    poAplic = poAp;
    return SinSip("Inicia_Sipua_Gus");
}
int Cgus::AltaUsuarioSip(const char*, int, const int32_t*, int, int) { return SinSip("AltaUsuarioSip"); }
int Cgus::ActualizaAltaUsuarioSip(const char*, int, const int32_t*, int, int) {
    return SinSip("ActualizaAltaUsuarioSip");
}
int Cgus::BajaUsuarioSip(const char*, int iIndice) {
    if (iIndice < 0) return -1;
    return SinSip("BajaUsuarioSip");
}
int Cgus::ActualizaParamSip(int) { return poSipua ? 0 : -1; }
int Cgus::FijaServidoresSip(const char (*)[65], int, const char (*)[65]) { return 0; }
int Cgus::IniciaLlamada(int, const char*, const char*, const char*, const char*, const char*, int,
                        const ParamLlamadaRadio*) {
    return SinSip("IniciaLlamada");
}
int Cgus::EnviaOptions(const char*, const char*, int) { return SinSip("EnviaOptions"); }
int Cgus::CambiaTipoSesion(int, int, int, int) { return SinSip("CambiaTipoSesion"); }
int Cgus::EnviaOk(int, int, int) { return SinSip("EnviaOk"); }
int Cgus::FinalizaSesion(int, int) { return SinSip("FinalizaSesion"); }
int Cgus::CierraSesion(int, int, int) { return SinSip("CierraSesion"); }
int Cgus::RespondeCodigo(int, int, int) { return SinSip("RespondeCodigo"); }
int Cgus::RespondeLlamada(int, int, int) { return SinSip("RespondeLlamada"); }
int Cgus::RechazaConCausa(int, int, int) { return SinSip("RechazaConCausa"); }
int Cgus::EnviaInfo(int, int, const char*, const char*) { return SinSip("EnviaInfo"); }
int Cgus::Suscribe(int, const char*, const char*, const char*, int) { return SinSip("Suscribe"); }

int TrataEventoSip(int, int, int, int, int) { return 0; }
