#include "sip/cgestorllamada.h"

#include "comun/nlog.h"

CGestorLlamada::CGestorLlamada() : poEventos(nullptr) {}
CGestorLlamada::~CGestorLlamada() = default;

int CGestorLlamada::Inicia(CEventos* poSumidero) {
    poEventos = poSumidero;
    return 0;
}

int CGestorLlamada::EncaminaLlamada(int, DatosLlamadaGestor*, int*) {
    NLOG::Log(NLOG::ERROR, "GESTORLLAM: SIP no disponible, llamada no encaminada");
    return -1;
}
int CGestorLlamada::ProgresionLlamada(int, int, int, int*) { return -1; }
int CGestorLlamada::FinEncaminaLlamada(int, int) { return 0; }
int CGestorLlamada::EncaminaLlamadaEntrante(int, DatosLlamadaGestor*, int, CEventos*) { return -1; }
int CGestorLlamada::DameDatosLlamada(int, DatosLlamadaGestor*) { return -1; }
int CGestorLlamada::ActualizaFlagIntWarning(int, int, int) { return -1; }
int CGestorLlamada::CargaTablasEncamina(const Central*, const Troncal*, const Red*, const DireccionSip*) { return 0; }
int CGestorLlamada::BuscaDireccionPorNombre(const char*, char*) { return -1; }
int CGestorLlamada::BuscaRecursoPorNumeroAts(char*, const char*) { return -1; }
