#include "cgestordual.h"

#include <cstdio>

#include "hardware/hardware.h"
#include "nlog.h"

CGestorDual oGestorDual;

CGestorDual::CGestorDual() : szNombre{}, sistema(-1), iEstadoDual(-1), iEntorno(-1), idualidad(0), poEventos(nullptr) {}

int CGestorDual::Inicia(CEventos* poSumidero, const char* szNombreQln, int iDualidad) {
    poEventos = poSumidero;
    NLOG::Log(NLOG::INFO, "CGestorDual:Inicia: ivardualidad %i", iDualidad);
    idualidad = iDualidad;
    iEntorno = -1;
    std::snprintf(szNombre, sizeof szNombre, "%.64s", szNombreQln ? szNombreQln : "");
    std::printf("idualidad=%i\n", idualidad);
    if (idualidad != 1) {
        const bool bCambia = iEstadoDual != 0;
        iEstadoDual = 0;
        SalidasEntorno();
        if (bCambia && poEventos) poEventos->EvtCambioEstadoDual(0);
    } else {
        PasaAReserva();
    }
    return 0;
}

void CGestorDual::SalidasEntorno() {
    if (iEstadoDual == 0 && iEntorno == 1)
        hwConectaEntorno();
    else
        hwDesconectaEntorno();
}

void CGestorDual::PasaAPrincipal() {
    if (iEstadoDual == 0) return;
    iEstadoDual = 0;
    SalidasEntorno();
    if (poEventos) poEventos->EvtCambioEstadoDual(0);
}

void CGestorDual::PasaAReserva() {
    if (iEstadoDual == 1) return;
    iEstadoDual = 1;
    hwDesconectaEntorno();
    if (poEventos) poEventos->EvtCambioEstadoDual(1);
}

void CGestorDual::CambioEntorno(int iConectado) {
    iEntorno = iConectado;
    SalidasEntorno();
}
