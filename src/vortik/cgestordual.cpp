#include "cgestordual.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "comun/hilo.h"
#include "comun/cficheroini.h"
#include "sip/encaminauri.h"
#include "hardware/comando.h"
#include "comun/ctemporizador.h"
#include "hardware/hardware.h"
#include "comun/interfazred.h"
#include "cconfig.h"
#include "temporizadorvortik.h"
#include "comun/nlog.h"
#include "nombrehost.h"
#include "comun/uri.h"

const char* const FicheroIniPasarela = "/home/rk82qln/wt7ppelm.ini";

CGestorDual& oGestorDual = *new CGestorDual;

namespace {
const int kTicksSupervision = 100;  // 10 s
const int kDelayVrrpDefecto = 20;   // 2 s
const char kPrincipal = 'P';

int BuscaEnGestorLlamada(const char* szNombre, char* szDireccion) {
    return BuscaDireccionPorNombre(szNombre, szDireccion);
}
std::atomic<CGestorDual::FnBuscaDireccion> gfBusca{BuscaEnGestorLlamada};
std::atomic<unsigned int> guiPausaReinicio{2000};

void Reinicia() {
    DuermeMs(guiPausaReinicio);
    EjecutaComando("reboot");
}
}  // namespace

void CGestorDual::FijaBuscaDireccion(FnBuscaDireccion fBusca) { gfBusca = fBusca ? fBusca : BuscaEnGestorLlamada; }
void CGestorDual::FijaPausaReinicio(unsigned int uiMs) { guiPausaReinicio = uiMs; }

CGestorDual::CGestorDual()
    : szNombre{},
      sistema(-1),
      iEstadoDual(-1),
      iEntorno(-1),
      idualidad(0),
      idelayIniciaVrrp(kDelayVrrpDefecto),
      poEventos(nullptr),
      bVrrpPendiente(false),
      iTempVrrp(-1),
      iTempSupervision(-1),
      ip_virtual{} {}

int CGestorDual::Inicia(CEventos* poSumidero, const char* szNombreQln, int iDualidad) {
    poEventos = poSumidero;
    NLOG::Log(NLOG::INFO, "CGestorDual:Inicia: ivardualidad %i", iDualidad);
    idualidad = iDualidad;
    idelayIniciaVrrp = kDelayVrrpDefecto;
    bVrrpPendiente = false;
    iTempVrrp = -1;
    iEntorno = -1;

    if (access(FicheroIniPasarela, F_OK) != 0) {
        NLOG::Log(NLOG::ERROR, "CGestorDual:Inicia: No encuentra fichero %s", FicheroIniPasarela);
    } else {
        CFicheroIni oIni;
        oIni.Lee(FicheroIniPasarela);
        const std::string s = oIni.DameValor("VRRP", "DelayIniciaVrrp", "");
        if (!s.empty()) {
            const int iTicks = std::atoi(s.c_str()) / 100;
            if (iTicks <= 99) idelayIniciaVrrp = iTicks;
        }
    }

    std::snprintf(szNombre, sizeof szNombre, "%.64s", szNombreQln ? szNombreQln : "");
    char acDir[128] = {};
    if (gfBusca.load()(szNombre, acDir) == 0)
        std::snprintf(ip_virtual, sizeof ip_virtual, "%.64s", acDir);
    else
        ip_virtual[0] = '\0';
    std::printf("idualidad=%i\n", idualidad);

    if (idualidad != 1) {
        const bool bCambia = iEstadoDual != 0;
        iEstadoDual = 0;
        SalidasEntorno();
        if (bCambia && poEventos) poEventos->EvtCambioEstadoDual(0);
    } else {
        PasaAReserva();
        ArmaSupervision();
    }
    NLOG::Log(NLOG::INFO, "CGestorDual:Inicia: idualidad %i ip_virtual %s", idualidad, ip_virtual);
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

void CGestorDual::ArmaVrrp() {
    // The flag goes up before the timer can fire, so the call-back always finds it set.
    if (bVrrpPendiente.exchange(true)) return;
    const int iRanura = poTemporizador ? poTemporizador->Arma(idelayIniciaVrrp, IniciaVrrp,
                                                              reinterpret_cast<uintptr_t>(this), 0, 0)
                                       : -1;
    if (iRanura < 0) {
        NLOG::Log(NLOG::ERROR, "CGestorDual: no hay temporizador para arrancar VRRP");
        bVrrpPendiente = false;
        return;
    }
    iTempVrrp = iRanura;
    NLOG::Log(NLOG::DEBUG, "CGestorDual::CambioEntorno idelayIniciaVrrp=%i", idelayIniciaVrrp);
}

void CGestorDual::ArmaSupervision() {
    iTempSupervision = poTemporizador ? poTemporizador->Arma(kTicksSupervision, CompruebaCambios,
                                                             reinterpret_cast<uintptr_t>(this), 0, 0)
                                      : -1;
    if (iTempSupervision < 0) NLOG::Log(NLOG::ERROR, "CGestorDual: no hay temporizador de supervision");
}

void CGestorDual::CambioEntorno(int iConectado) {
    const int iAnterior = iEntorno;
    iEntorno = iConectado;
    SalidasEntorno();
    if (iAnterior == iConectado || idualidad != 1) return;
    if (iConectado) {
        NLOG::Log(NLOG::INFO, "Entorno COMUNICADO ");
        ArmaVrrp();
    } else {
        NLOG::Log(NLOG::INFO, "Entorno NO COMUNICADO ");
        EjecutaComando("killall vrrpd");
        EjecutaComando("/mnt/ramfs/vrrpReserva.sh");
    }
}

uintptr_t CGestorDual::IniciaVrrp(uintptr_t a1, uintptr_t, uintptr_t) {
    CGestorDual* p = reinterpret_cast<CGestorDual*>(a1);
    const uint32_t uiIp = ntohl(DameIpInterfaz("eth0"));
    const int iPrioridad = static_cast<int>(uiIp & 0xFF);
    std::printf("--- PRIO = %d ---\n", iPrioridad);
    p->iTempVrrp = -1;
    p->bVrrpPendiente = false;
    if (p->ip_virtual[0] == '\0') {
        std::printf("NO ARRANCO VRRP no ip \n");
        return 0;
    }
    // The address comes from the configuration image and goes into a command line.
    if (!EsDireccionOHost(p->ip_virtual, sizeof p->ip_virtual - 1)) {
        NLOG::Log(NLOG::ERROR, "GestorDualidad: ip virtual no valida, no se arranca VRRP");
        return 0;
    }
    char acOcteto[LON_ULTIMO_OCTETO];
    if (SacaUltimoOcteto(p->ip_virtual, acOcteto, sizeof acOcteto) != 0) return 0;
    char acComando[160];
    std::snprintf(acComando, sizeof acComando, "iniciaVRRP %d %s %s\n", iPrioridad, p->ip_virtual, acOcteto);
    NLOG::Log(NLOG::INFO, "GestorDualidad: %s (%i)", acComando, iPrioridad);
    EjecutaComando(acComando);
    return 0;
}

uintptr_t CGestorDual::CompruebaCambios(uintptr_t a1, uintptr_t, uintptr_t) {
    CGestorDual* p = reinterpret_cast<CGestorDual*>(a1);
    p->iTempSupervision = -1;
    char acDir[128] = {};
    if (gfBusca.load()(p->szNombre, acDir) == 0 && std::strncmp(acDir, p->ip_virtual, 64) != 0) {
        NLOG::Log(NLOG::ERROR, "GestorDualidad: Cambia ip virtual. Reinicio");
        Reinicia();
    }
    const int iDual = oConfigPasarela.iDual;
    if (p->idualidad != iDual) {
        NLOG::Log(NLOG::ERROR, "GestorDualidad: Cambia dualidad a %i", iDual);
        Reinicia();
    }
    p->ArmaSupervision();
    return 0;
}

int CGestorDual::CompruebaMensajeDual(const char* szTexto) {
    const int r = std::strncmp(szTexto, szNombre, std::strlen(szNombre));
    if (r != 0) return r;
    std::printf("sistema=%i, ptDual->EstadoDualA=%x, define PRINC=%x\n", sistema,
                static_cast<unsigned char>(szTexto[65]), static_cast<unsigned>(kPrincipal));
    // A start is only scheduled for a pair; a single board has no VRRP daemon.
    if (idualidad == 1) ArmaVrrp();
    return 0;
}
