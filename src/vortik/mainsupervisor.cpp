// The core's supervision loop: 250 ms passes with sub-periods counted in 10 ms board ticks.
#include "mainsupervisor.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cconfig.h"
#include "cgestordual.h"
#include "comun/gestormutex.h"
#include "comun/hilo.h"
#include "comun/nlog.h"
#include "comun/vigilanciahilos.h"
#include "csuperec.h"
#include "enlacelan.h"
#include "hardware/hardware.h"
#include "red/tcpcons.h"
#include "superdsp.h"
#include "versionvortik.h"
#include "volcadocfg.h"

const char* kFicheroNtp = "/mnt/ramfs/var/ntpq_report";
const char* kFicheroCpuMode = "/mnt/ramfs/cpumode";
const char* kFicheroSesiones = "/mnt/ramfs/sesiones";

EstadoSupervision sEstadoSupervision;
std::atomic<int> giEstadoConsola{0};

namespace {

int giTubo = -1;
const uint8_t kByteTubo = 0;
std::atomic<int> giParar{0};
std::atomic<int> giPeticionRol{0};
std::atomic<void (*)()> gfArrancaConsola{nullptr};

const int32_t kTicksVigilancia = 200;  // 2 s
const int32_t kTicksLan = 500;         // 5 s
const int32_t kTicks10s = 1000;
const int32_t kTicks2s = 200;

FnRelojTicks gfReloj = hwDameTiempo;
FnEsperaMs gfEspera = DuermeMs;

// Loop state, touched by the supervision thread only.
struct {
    uint32_t uiSelloVigilancia, uiSelloLan, uiSello10s, uiSello2s;
    int iSocketLan;
    int iPasoLed;
    int iLed2;
    int iLed0;
    int iCandidatoFA;
    int iCuentaFA;
} g{};

bool Vencido(uint32_t ahora, uint32_t sello, int32_t periodo) {
    return static_cast<int32_t>(ahora - sello - static_cast<uint32_t>(periodo)) >= 0;
}

int NumRecursos() {
    cfgCerrojo c(&oConfigPasarela.tMutex);
    return cfgNumCanales(&oConfigPasarela);
}

bool SinServidoresNtp() {
    cfgCerrojo c(&oConfigPasarela.tMutex);
    for (const auto& s : oConfigPasarela.szDirSrvNtp)
        if (s[0] != '\0') return false;
    return true;
}

void PatronLed() {
    const int c = g.iPasoLed;
    g.iPasoLed = (g.iPasoLed + 1) % 12;
    const bool bDsp = CSuperDsp::DameEstadoDsp(3) != 0;
    const int n = NumRecursos();
    int iNuevo;
    if (n == 0 && !bDsp)
        iNuevo = c == 0 ? !g.iLed2 : g.iLed2;
    else
        iNuevo = (c == 0 && n != 0) || ((c == 2 || c == 4) && bDsp) || c == 6;
    g.iLed2 = iNuevo;
    if (iNuevo)
        hwEnciendeLed(2);
    else
        hwApagaLed(2);
}

void EnviaSlot(int m) {
    const int32_t* c = &sEstadoSupervision.aiEstadoCanal[m * 4];
    mantEnviaN06(m, 1, sEstadoSupervision.aiPresenciaModulo[m], c[0], c[1], c[2], c[3]);
}

void SupervisaModulos() {
    for (int m = 0; m < 4; m++) {
        const int p = hwDimePresenciaModulo(m);
        int32_t* c = &sEstadoSupervision.aiEstadoCanal[m * 4];
        if (p != sEstadoSupervision.aiPresenciaModulo[m]) {
            sEstadoSupervision.aiPresenciaModulo[m] = p;
            if (p == 0)
                for (int k = 0; k < 4; k++) c[k] = 0;
            EnviaSlot(m);
        } else if (p == 1) {
            bool bCambio = false;
            int32_t ai[4];
            for (int k = 0; k < 4; k++) {
                ai[k] = aoSupervisorRecurso[m * 4 + k].DameSlicOk();
                bCambio = bCambio || ai[k] != c[k];
            }
            if (bCambio) {
                for (int k = 0; k < 4; k++) c[k] = ai[k];
                EnviaSlot(m);
            }
        }
    }
}

void SubperiodoLan() {
    mainEscribeTubo();
    const int iLan = DameEstadoLan(g.iSocketLan);
    if (iLan != sEstadoSupervision.iEstadoLan) {
        sEstadoSupervision.iEstadoLan = iLan;
        if (!(iLan & 1) && (iLan & 6) != 6) {
            oGestorDual.CambioEntorno(0);
            TcpCons::Printf("estadolan=%x AISLADO\n", iLan);
        } else {
            oGestorDual.CambioEntorno(1);
            TcpCons::Printf("estadolan=%x COMUNICADO\n", iLan);
        }
        mantEnviaN02(iLan);
    }
    // No laboratory address is recognised here: the environment follows the links only.
    SupervisaModulos();
}

// Power-supply record: 0 good, 1 fault, 2 unknown; the same on a change and on a refresh.
int CodigoFA(int iEstado) { return iEstado == 1 ? 0 : iEstado == 0 ? 1 : 2; }

void DebounceFA() {
    const int r = hwLeeEstadoFA();
    NLOG::Log(NLOG::INFO, "Estado FA leido en supervision %i", r);
    if (r != g.iCandidatoFA) {
        g.iCandidatoFA = r;
        g.iCuentaFA = 1;
        return;
    }
    g.iCuentaFA++;
    if (g.iCuentaFA > 3 && sEstadoSupervision.iEstadoFA != g.iCandidatoFA) {
        sEstadoSupervision.iEstadoFA = g.iCandidatoFA;
        const int e = sEstadoSupervision.iEstadoFA;
        mantEnviaN03(CodigoFA(e));
        NLOG::Log(NLOG::INFO, "Estado FA %i", e);
        g.iCandidatoFA = -1;
    }
}

void EstadoNtp() {
    int iEstado, iCalidad;
    if (SinServidoresNtp()) {
        iEstado = 0;
        iCalidad = sEstadoSupervision.iCalidadNtp;
    } else {
        mainLeeEstadoNtp(kFicheroNtp, &iEstado, &iCalidad);
    }
    // A single "not synchronised" reading is not taken.
    if (sEstadoSupervision.iFiltroNtp == 1 && iEstado == 2) {
        sEstadoSupervision.iFiltroNtp = 2;
        return;
    }
    sEstadoSupervision.iFiltroNtp = 1;
    if (iEstado != sEstadoSupervision.iEstadoNtp || iCalidad != sEstadoSupervision.iCalidadNtp) {
        NLOG::Log(NLOG::INFO, "Estado sincronismo NTP %i", iEstado);
        sEstadoSupervision.iEstadoNtp = iEstado;
        sEstadoSupervision.iCalidadNtp = iCalidad;
        for (auto& s : aoSupervisorRecurso) s.TomaCalidadNtp(static_cast<uint32_t>(iCalidad));
        mantEnviaN05(iEstado);
    }
}

std::atomic<int> giCuentaRefresco{0};
std::atomic<int> giVolcadoPendiente{0};

void ReintentaConsola() {
    // The console port is fixed: the configured one is not used here either.
    const int r = tcpcInicia(kPuertoConsola);
    if (r != 0) {
        NLOG::Log(NLOG::INFO, "MAIN: Error %d en tcpcInicia(%d)", r, kPuertoConsola);
        return;
    }
    NLOG::Log(NLOG::INFO, "MAIN-: tcpcInicia(%d) ok", kPuertoConsola);
    giEstadoConsola = 2;
    TcpCons::FijaMascaraTraza(static_cast<uint32_t>(oConfigPasarela.iNivelConsola));
    if (auto f = gfArrancaConsola.load()) f();
}

void Subperiodo2s() {
    mainEscribeTubo();
    EstadoNtp();
    int iDual;
    {
        cfgCerrojo c(&oConfigPasarela.tMutex);
        iDual = oConfigPasarela.iDual;
    }
    if (iDual != 0 && oGestorDual.DameEstadoDual() == 1 && mainLeeCpuMode(kFicheroCpuMode))
        oGestorDual.PasaAPrincipal();
    if (mainEstadoConsola() == 1) ReintentaConsola();
    int n = giCuentaRefresco.load();
    while (n != 0 && !giCuentaRefresco.compare_exchange_weak(n, n - 1)) {
    }
    if (n == 1) {
        NLOG::Log(NLOG::INFO, "refresca recursos mantenimiento");
        for (auto& s : aoSupervisorRecurso) s.RefrescaEstado();
    }
}

}  // namespace

void mainEscribeTubo() {
    if (giTubo < 0) return;
    ssize_t r = write(giTubo, &kByteTubo, 1);
    (void)r;
}

void mainFijaTubo(int iFd) { giTubo = iFd; }

void mainParar() { giParar = 1; }
bool mainParando() { return giParar.load() != 0; }
void mainPideRol(int iRol) { giPeticionRol.store(iRol); }

int mainEstadoConsola() { return giEstadoConsola.load(); }
void mainFijaArrancaConsola(void (*fArranca)()) { gfArrancaConsola = fArranca; }
void mainPideVolcado() { giVolcadoPendiente = 1; }
void mainPideRefrescoMant() { giCuentaRefresco = 15; }

void mainFijaReloj(FnRelojTicks fReloj, FnEsperaMs fEspera) {
    gfReloj = fReloj ? fReloj : hwDameTiempo;
    gfEspera = fEspera ? fEspera : DuermeMs;
}

void mainLeeEstadoNtp(const char* szRuta, int* piEstado, int* piCalidad) {
    *piEstado = 2;
    *piCalidad = 2;
    FILE* f = std::fopen(szRuta, "r");
    if (f == nullptr) return;
    const int c = std::fgetc(f);
    if (c == '0') {
        *piEstado = 1;
        *piCalidad = 1;
    } else if (c == '-') {
        const int c2 = std::fgetc(f);
        if (c2 != EOF) {
            *piEstado = 1;
            *piCalidad = c2 == '0' ? 1 : 2;
        }
    } else if (c >= '1' && c <= '9') {
        *piEstado = 1;
        *piCalidad = 2;
    }
    std::fclose(f);
}

int mainLeeCpuMode(const char* szRuta) {
    FILE* f = std::fopen(szRuta, "rt");
    if (f == nullptr) return 0;
    char ac[21] = {};
    const size_t n = std::fread(ac, 1, 20, f);
    std::fclose(f);
    // An empty file names no role.
    return n > 0 && std::strstr("PRINCIPAL", ac) != nullptr;
}

void mainIniciaSupervision(uint32_t ahora) {
    sEstadoSupervision.iEstadoLan = -1;
    sEstadoSupervision.iEstadoFA = -1;
    sEstadoSupervision.iEstadoNtp = -1;
    for (int32_t& p : sEstadoSupervision.aiPresenciaModulo) p = -1;
    sEstadoSupervision.iFiltroNtp = 1;
    g.uiSelloVigilancia = g.uiSelloLan = g.uiSello10s = g.uiSello2s = ahora;
    g.iCandidatoFA = -1;
    g.iCuentaFA = 0;
    if (g.iSocketLan <= 0) {
        g.iSocketLan = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (g.iSocketLan < 0) std::perror("socket");
    }
}

void mainPasadaSupervision(uint32_t ahora) {
    if (Vencido(ahora, g.uiSelloVigilancia, kTicksVigilancia)) {
        g.uiSelloVigilancia = ahora;
        if (CompruebaHilos(ahora) == 0) PintaHilosSinRefrescar(1);
        ListaMutex(1, TcpCons::Printf);
    }
    const int iRol = giPeticionRol.exchange(0);
    if (iRol == 1)
        oGestorDual.PasaAPrincipal();
    else if (iRol == 2)
        oGestorDual.PasaAReserva();
    mainEscribeTubo();
    PatronLed();
    if (oGestorDual.DameEstadoDual() == 1) {
        sEstadoSupervision.iReserva = 1;
        g.iLed0 = 0;
        hwApagaLed(0);
    } else {
        sEstadoSupervision.iReserva = 0;
        g.iLed0 = !g.iLed0;
        if (g.iLed0)
            hwEnciendeLed(0);
        else
            hwApagaLed(0);
    }
    if (g.iSocketLan < 0) {
        NLOG::Log(NLOG::INFO, "sk_check = -1 ");
    } else if (Vencido(ahora, g.uiSelloLan, kTicksLan)) {
        g.uiSelloLan = ahora;
        SubperiodoLan();
    }
    if (Vencido(ahora, g.uiSello10s, kTicks10s)) {
        g.uiSello10s = ahora;
        mainPintaInfo();
        if (giVolcadoPendiente.exchange(0)) mainPintaCfg(&oConfigPasarela);
        DebounceFA();
    }
    if (Vencido(ahora, g.uiSello2s, kTicks2s)) {
        g.uiSello2s = ahora;
        Subperiodo2s();
    }
}

void MainSupervisorLento() {
    mainIniciaSupervision(gfReloj());
    gfEspera(250);
    mainEscribeTubo();
    while (!mainParando()) {
        mainPasadaSupervision(gfReloj());
        gfEspera(250);
    }
    NLOG::Log(NLOG::ERROR, "MAIN: ---------------- Sale de MAinSupervisorLento");
    TcpCons::Cierra();
}

void mainPintaInfo() {
    FILE* f = std::fopen(kFicheroSesiones, "w+");
    if (f == nullptr) return;
    const int n = NumRecursos();
    int iEscritos = 0;
    for (int p = 0; p < 16 && iEscritos < n; p++) {
        int iCanal = -1;
        for (int k = 0; k < n && iCanal < 0; k++)
            if (cfgPosicionCanal(&oConfigPasarela, k) == p) iCanal = k;
        if (iCanal < 0) continue;
        char acTmp[1024];
        const cfgConfigRecurso& r = oConfigPasarela.asRecursos[p];
        int l = std::snprintf(acTmp, sizeof acTmp, "--- Estadisticas canal %d Posicion %d ----\n     Tipo: %s,  Tipo IF: %s\n",
                              iCanal, p, mainNombreTipo(r.iTipo), mainNombreTipoIf(r.iTipoIf));
        if (l > 1023) {
            NLOG::Log(NLOG::ERROR, "mainPintaInfo Desborda tmp %d", l);
            break;
        }
        char acInfo[1024] = {};
        aoSupervisorRecurso[p].PintaInfo(acInfo, sizeof acInfo);
        char acTexto[2048];
        const int lt = std::snprintf(acTexto, sizeof acTexto, "%s%s", acTmp, acInfo);
        if (lt > 2047) {
            NLOG::Log(NLOG::ERROR, "mainPintaInfo Desborda buffer %d", lt);
            break;
        }
        std::fwrite(acTexto, 1, static_cast<size_t>(lt), f);
        iEscritos++;
    }
    std::fclose(f);
}

void mainRefrescaMant() {
    mantEnviaN01();
    mantEnviaN02(sEstadoSupervision.iEstadoLan);
    if (oGestorDual.DameEstadoDual() == 1)
        mantEnviaN04(2, 1);
    else
        mantEnviaN04(1, 2);
    mantEnviaN03(CodigoFA(sEstadoSupervision.iEstadoFA));
    mantEnviaN05(sEstadoSupervision.iEstadoNtp);
    for (int m = 0; m < 4; m++) EnviaSlot(m);
    for (auto& s : aoSupervisorRecurso) s.RefrescaEstado();
}

void mainEnviaEstadoMant() {
    int32_t ai[26];
    std::memcpy(ai, &sEstadoSupervision, sizeof ai);
    EnviaEstadoMant(ai);
}
