#include "ceventosgordos.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "comun/hilo.h"
#include "hardware/comando.h"
#include "hardware/cdispositivos.h"
#include "sip/cpasagus.h"
#include "csuperec.h"
#include "cconfig.h"
#include "mainsupervisor.h"
#include "mantenimiento.h"
#include "comun/nlog.h"
#include "nombrehost.h"
#include "publica.h"
#include "red/tcpcons.h"

CEventosGordos oEventosGordos;

namespace {

const int kModoNtp = 2;
const int kLonServidor = 64;

// Memory of the last synchronisation set-up; the configuration thread alone uses it.
int giUltimoModo = 0;
char gaszUltimosServidores[3][kLonServidor + 1];
void (*gfEsperaSincro)(unsigned int) = DuermeMs;

struct DatosRecurso {
    int iTipo;
    int iTipoIf;
    char acNombre[65];
};

DatosRecurso LeeRecurso(int n) {
    DatosRecurso d{};
    cfgCerrojo cerrojo(&oConfigPasarela.tMutex);
    const cfgConfigRecurso& r = oConfigPasarela.asRecursos[n];
    d.iTipo = r.iTipo;
    d.iTipoIf = r.iTipoIf;
    std::snprintf(d.acNombre, sizeof d.acNombre, "%.64s", r.nombre);
    return d;
}

// What each position ran as when last started or reconfigured: by the time a stop is fired
// the live record already holds the new image's (empty) record.
DatosRecurso gasArrancados[CFG_NUM_RECURSOS];

// /etc belongs to the board, or to the sandbox it is simulated in; never to the machine that
// merely hosts a simulated board.
bool EtcEsDeLaPlaca() {
    if (std::getenv("VK_SANDBOX") != nullptr) return true;
    return std::getenv(VK_SIMBOARD) == nullptr && ::access("/dev/esdiscretas", F_OK) == 0;
}

bool TiposValidos(const DatosRecurso& d) { return d.iTipo >= 0 && d.iTipo <= 6 && d.iTipoIf >= 0 && d.iTipoIf <= 16; }
bool Publicable(int iTipoIf) { return (iTipoIf >= 2 && iTipoIf <= 9) || iTipoIf == 13 || iTipoIf == 14; }

// Hot lines are published with category 2, telephone and trunk lines with 1; false for the
// types that are not published.
bool AltaPublicacion(const DatosRecurso& d, int n) {
    if (d.iTipoIf == TIPOIF_LCEN) {
        poPublica->AltaRecurso(d.acNombre, 2, n);
        TcpCons::Traza(0x8000, "   ALTA LC %s\n", d.acNombre);
        return true;
    }
    if (!Publicable(d.iTipoIf)) return false;
    poPublica->AltaRecurso(d.acNombre, 1, n);
    TcpCons::Traza(0x8000, "   ALTA TLF %s\n", d.acNombre);
    return true;
}

}  // namespace

void ReiniciaMemoriaSincro() {
    giUltimoModo = 0;
    std::memset(gaszUltimosServidores, 0, sizeof gaszUltimosServidores);
}

void FijaEsperaSincro(void (*fEspera)(unsigned int)) { gfEsperaSincro = fEspera ? fEspera : DuermeMs; }

void CEventosGordos::EvtReset() {
    TcpCons::Traza(0xFFFF, "MAIN: Parando velkord\n");
    NLOG::Log(NLOG::INFO, "MAIN:EvtReset Parando velkord");
    mainParar();
}

void CEventosGordos::EvtReiniciaParamsQLN() {
    NLOG::Log(NLOG::INFO, "MAIN: EvtReiniciaParamsQLN()");
    mantEnviaN01();
    mainPideVolcado();
}

void CEventosGordos::EvtReiniciaVirtual() {
    // The redundancy manager notices the new virtual address by itself.
    NLOG::Log(NLOG::INFO, "MAIN: EvtReiniciaVirtual()");
    mainPideVolcado();
}

void CEventosGordos::EvtReiniciaMulticast() {
    // The multicast reception re-joins by itself.
    NLOG::Log(NLOG::INFO, "MAIN: EvtReiniciaMulticast()");
    mainPideVolcado();
}

void CEventosGordos::EvtReiniciaSip() {
    const int iPeriodo = oConfigPasarela.iSipPeriodoSuperv;
    NLOG::Log(NLOG::INFO, "MAIN: EvtReiniciaSip() iSipPeriodoSuperv %i", iPeriodo);
    oPasaGus.ActualizaParamSip(iPeriodo);
    mainPideVolcado();
}

void CEventosGordos::EvtReiniciaSincro() { ReiniciaSincro(); }

int CEventosGordos::ReiniciaSincro() {
    NLOG::Log(NLOG::INFO, "MAIN: EvtReiniciaSincro()");
    // Whatever iModoSincronizacion holds, the board synchronises by NTP.
    const int iModo = kModoNtp;
    char aszServidores[3][kLonServidor + 1];
    {
        cfgCerrojo cerrojo(&oConfigPasarela.tMutex);
        for (int i = 0; i < 3; i++)
            std::snprintf(aszServidores[i], sizeof aszServidores[i], "%.*s", kLonServidor,
                          oConfigPasarela.szDirSrvNtp[i]);
    }
    bool bIgual = iModo == giUltimoModo;
    for (int i = 0; i < 3; i++) bIgual = bIgual && std::strncmp(aszServidores[i], gaszUltimosServidores[i], kLonServidor) == 0;
    if (bIgual) return 0;

    // Each server text goes into a command line: only an address or a host name is taken.
    bool abValido[3];
    for (int i = 0; i < 3; i++) {
        abValido[i] = aszServidores[i][0] != '\0' && EsDireccionOHost(aszServidores[i], kLonServidor);
        if (aszServidores[i][0] != '\0' && !abValido[i])
            NLOG::Log(NLOG::ERROR, "MAIN: Servidor NTP %d no valido, no se usa", i + 1);
    }

    NLOG::Log(NLOG::INFO, "MAIN: Deteniendo demonio NTP");
    EjecutaComando("killall -9 ntpd");
    const bool bEtc = EtcEsDeLaPlaca();
    if (!bEtc) NLOG::Log(NLOG::ERROR, "MAIN: fuera de la placa, /etc/ntp.conf y /etc/ntp.sh no se escriben");
    FILE* f = bEtc ? std::fopen("/etc/ntp.conf", "w") : nullptr;
    if (f == nullptr) {
        if (bEtc) NLOG::Log(NLOG::INFO, "MAIN: Error generando /etc/ntp.conf");
    } else {
        std::fputs("driftfile /etc/ntp.drift", f);
        for (int i = 0; i < 3; i++)
            if (abValido[i]) std::fprintf(f, "\nserver %s burst iburst minpoll 4 maxpoll 4", aszServidores[i]);
        std::fclose(f);
    }
    NLOG::Log(NLOG::INFO, "MAIN: Arrancando demonio NTP");
    FILE* fs = bEtc ? std::fopen("/etc/ntp.sh", "w") : nullptr;
    for (int i = 0; i < 3; i++) {
        if (!abValido[i]) continue;
        char acComando[128];
        std::snprintf(acComando, sizeof acComando, "ntpdate -b -p 2 %.64s ", aszServidores[i]);
        EjecutaComando(acComando);
        if (fs) std::fprintf(fs, "%s\n", acComando);
    }
    gfEsperaSincro(1000);
    EjecutaComando("ntpd -g -U 3&");
    if (fs) {
        std::fputs("ntpd -g -U 3\n", fs);
        std::fclose(fs);
    }
    giUltimoModo = iModo;
    std::memcpy(gaszUltimosServidores, aszServidores, sizeof gaszUltimosServidores);
    mainPideVolcado();
    return 0;
}

void CEventosGordos::EvtReiniciaSnmp() {
    TcpCons::Traza(0xFFFF, "MAIN: EvtReiniciaSnmp()\n");
    mantInicia(mainRefrescaMant, mainEnviaEstadoMant);
    mantEnviaN01();
    mainPideVolcado();
}

void CEventosGordos::EvtReconfiguraEncamina() {
    NLOG::Log(NLOG::INFO, "MAIN: EvtReconfiguraEncamina()");
    if (oConfigPasarela.iCfgModoSistema != 0) return;
    cfgCerrojo cerrojo(&oConfigPasarela.tMutex);
    CargaTablasEncamina(oConfigPasarela.asPlanAts, oConfigPasarela.asTroncales, oConfigPasarela.asRedes,
                                       oConfigPasarela.asDireccionamientoSip);
}

void CEventosGordos::EvtArrancaRecurso(int n) { ArrancaRecurso(n); }

int CEventosGordos::ArrancaRecurso(int n) {
    NLOG::Log(NLOG::INFO, "MAIN: EvtArrancaRecurso(%d)", n);
    if (n < 0 || n >= CFG_NUM_RECURSOS) return -1;
    const DatosRecurso d = LeeRecurso(n);
    if (!TiposValidos(d)) {
        NLOG::Log(NLOG::ERROR, "ERROR. Tipo_Rec/Tipo_If desconocido");
        return -1;
    }
    NLOG::Log(NLOG::INFO, "MAIN: Arrancando recurso %d de tipo %s/%s", n, mainNombreTipo(d.iTipo),
              mainNombreTipoIf(d.iTipoIf));
    gasArrancados[n] = d;
    if (aoSupervisorRecurso[n].ArrancaRecurso() != 0) {
        NLOG::Log(NLOG::ERROR, "MAIN: Error al arrancar recurso %d", n);
    } else if (oConfigPasarela.iCfgModoSistema == 0 && poPublica != nullptr) {
        AltaPublicacion(d, n);
    }
    mainPideRefrescoMant();
    mainPideVolcado();
    return 0;
}

void CEventosGordos::EvtDetieneRecurso(int n) {
    NLOG::Log(NLOG::INFO, "MAIN: EvtDetieneRecurso(%d)", n);
    if (n < 0 || n >= CFG_NUM_RECURSOS) return;
    if (aoSupervisorRecurso[n].DetieneRecurso() != 0) {
        NLOG::Log(NLOG::INFO, "MAIN: ERROR deteniendo recurso %d", n);
    } else if (oConfigPasarela.iCfgModoSistema == 0 && poPublica != nullptr) {
        const DatosRecurso& d = gasArrancados[n];
        if ((d.iTipoIf >= 1 && d.iTipoIf <= 9) || d.iTipoIf == 13 || d.iTipoIf == 14) {
            poPublica->BajaRecurso(d.acNombre);
            TcpCons::Traza(0x8000, " BAJA PUBLICA RECURSO %s\n", d.acNombre);
        }
    }
    mainPideRefrescoMant();
    mainPideVolcado();
}

void CEventosGordos::EvtReconfiguraRecurso(int n) { ReconfiguraRecurso(n); }

int CEventosGordos::ReconfiguraRecurso(int n) {
    if (n < 0 || n >= CFG_NUM_RECURSOS) return -1;
    const DatosRecurso d = LeeRecurso(n);
    NLOG::Log(NLOG::INFO, "MAIN: EvtReconfiguraRecurso(%d)nombre=%s", n, d.acNombre);
    if (!TiposValidos(d)) {
        NLOG::Log(NLOG::INFO, "MAIN: No se arranca recurso %d por tener tipo %i/%i erroneo.", n, d.iTipo, d.iTipoIf);
        return -1;
    }
    // A position whose start was refused is present for the comparison all the same: the first
    // image that configures it validly starts it, or the line would stay without its process.
    if (aoSupervisorRecurso[n].QuedaParado()) return ArrancaRecurso(n);
    gasArrancados[n] = d;
    if (aoSupervisorRecurso[n].ReconfiguraRecurso() != 0) {
        NLOG::Log(NLOG::INFO, "MAIN: ERROR reconfigurando recurso %d\n", n);
    } else if (oConfigPasarela.iCfgModoSistema == 0 && poPublica != nullptr) {
        if (!AltaPublicacion(d, n)) {
            poPublica->BorraRecurso(n);
            TcpCons::Traza(0x8000, "   BAJA REC %i\n", n);
        }
    }
    mainPideRefrescoMant();
    mainPideVolcado();
    return 0;
}

void CEventosGordos::EvtReconfiguraColaterales(int n) {
    if (n < 0 || n >= CFG_NUM_RECURSOS) return;
    if (aoSupervisorRecurso[n].ReconfiguraColaterales() != 0)
        NLOG::Log(NLOG::INFO, "MAIN: ERROR reconfigurando colaterales recurso %d\n", n);
    mainPideVolcado();
}
