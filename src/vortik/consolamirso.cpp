#include "consolamirso.h"

#include <pthread.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "cconfig.h"
#include "cgescfg.h"
#include "cgestordual.h"
#include "comun/gestormutex.h"
#include "comun/hilo.h"
#include "comun/trazapid.h"
#include "sip/cpasagus.h"
#include "csuperec.h"
#include "hardware/hardware.h"
#include "mainsupervisor.h"
#include "mantenimiento.h"
#include "publica.h"
#include "red/tcpcons.h"
#include "versionvortik.h"

time_t tArranque;

namespace {
std::atomic<bool> gbArrancada{false};
// The last command and the connection the running one came from; only the console thread
// touches them.
char gacUltimo[32];
uint32_t guiConexionOrden = 0;

const char kAyudaCorta[] = "Escribe \"?\" para la ayuda, anda.\n";
const char kOrdenPrueba[] = "A,T01,111.110,0,TX,1";

void PintaAyuda() {
    TcpCons::Printf("\n-------------------------------------------------------------------------\n\n");
    TcpCons::Printf("%s Vers. %d.%d.%d\nBuild: %s\n\n", kNombreVersion, kVersionMayor, kVersionMenor,
                    kVersionRevision, kBuild);
    TcpCons::Printf("   \"?\"     -> Muestra la ayuda.\n\n");
    TcpCons::Printf("   \"O\"     -> Muestra el nivel de consola.\n");
    TcpCons::Printf("   \"On\"    -> Cambia el nivel de consola a \"n\"\n");
    TcpCons::Printf("              02h Radio   04h Lcen   08h Tlf   10h ATSR2/ATSN5   20h ATSQSIG\n");
    TcpCons::Printf("              40h SIP     80h RTP   100h DSP  200h Config       400h IPC\n");
    TcpCons::Printf("             800h Multicast        8000h Debug\n");
    TcpCons::Printf("   \"E\"     -> Estadisticas generales.\n");
    TcpCons::Printf("   \"En\"    -> Estadisticas del canal \"n\".\n");
    TcpCons::Printf("   \"In\"    -> Informacion parametros recurso n de la pasarela\n");
    TcpCons::Printf("   \"Dn\"    -> Comandos debug recurso n:\n");
    TcpCons::Printf("             -> Dr añade retardo r (ms) \n");
    TcpCons::Printf("             -> Pmodo pierde un paquete tx rtp (modo0: se pierde, modo1: se recibe con la "
                    "siguiente trama)\n");
    TcpCons::Printf("             -> R(0/1) añade muestras de relleno hasta umbral (no/si) \n");
    TcpCons::Printf("             -> Umuestras umbral de ocupacion \n");
    TcpCons::Printf("                            \n\n");
}

// Channel n of "%d" after the command letter: its position, or -1 when n is not a configured
// channel (negative numbers included: they must never index a table).
int PosicionCanal(const char* szArgs, int* pn) {
    int n = -1;
    if (std::sscanf(szArgs, "%d", &n) != 1) return -1;
    *pn = n;
    cfgCerrojo cerrojo(&oConfigPasarela.tMutex);
    if (n < 0 || n >= cfgNumCanales(&oConfigPasarela)) return -1;
    return cfgPosicionCanal(&oConfigPasarela, n);
}

void NivelConsola(const char* szArgs) {
    unsigned int uiNivel = 0;
    int iActual;
    {
        cfgCerrojo cerrojo(&oConfigPasarela.tMutex);
        iActual = oConfigPasarela.iNivelConsola;
    }
    if (std::sscanf(szArgs, "%x", &uiNivel) != 1) {
        TcpCons::Printf("Nivel de consola=0x%X\n", static_cast<unsigned>(iActual));
        return;
    }
    if (static_cast<int>(uiNivel) != iActual) {
        {
            cfgCerrojo cerrojo(&oConfigPasarela.tMutex);
            oConfigPasarela.iNivelConsola = static_cast<int32_t>(uiNivel);
        }
        TcpCons::FijaMascaraTraza(uiNivel);
        for (auto& s : aoSupervisorRecurso) s.TomaNivelConsola(static_cast<int>(uiNivel));
        oGestorCfg.AvisoNivelConsola();
    }
    TcpCons::Printf("Nivel de consola=0x%X\n", uiNivel);
}

void Estadisticas(const char* szArgs) {
    int n = -1;
    const int p = PosicionCanal(szArgs, &n);
    if (p < 0) {
        TcpCons::Printf("Estadisticas generales \n\n");
        mainPintaEstadisticas();
        return;
    }
    TcpCons::Printf("-------------------------------------------\n Estadisticas canal %d Posicion %d "
                    "\n-------------------------------------------\n",
                    n, p);
    const cfgConfigRecurso& r = oConfigPasarela.asRecursos[p];
    TcpCons::Printf("    Tipo: %s,  Tipo IF: %s\n", mainNombreTipo(r.iTipo), mainNombreTipoIf(r.iTipoIf));
    aoSupervisorRecurso[p].PintaInfoConsola();
}

void Parametros(const char* szArgs) {
    int n = 0;
    if (std::sscanf(szArgs, "%i", &n) != 1 || n < 0 || n > 15) n = 0;
    PintaParametrosRecurso(n);
}

void Depuracion(const char* szLinea) {
    int n = -1;
    const int p = PosicionCanal(szLinea + 1, &n);
    if (p >= 0 && std::strlen(szLinea) >= 3) {
        int iValor = 0;
        std::sscanf(szLinea + 3, "%d", &iValor);
        const uint8_t ucValor = static_cast<uint8_t>(iValor & 0xFF);
        switch (szLinea[2]) {
        case 'D':
        case 'd':
            aoSupervisorRecurso[p].EnviaCodigoDebug(9, ucValor);
            TcpCons::Printf("Suma delay %d ms al recurso %d\n", iValor, n);
            break;
        case 'P':
        case 'p':
            aoSupervisorRecurso[p].EnviaCodigoDebug(10, ucValor);
            TcpCons::Printf("pierde un paquete tx el recurso %d modo %d\n", n, iValor);
            break;
        case 'R':
        case 'r':
            aoSupervisorRecurso[p].EnviaCodigoDebug(11, ucValor);
            TcpCons::Printf("Recurso %d - Rellena hasta el umbral %d\n", n, iValor);
            break;
        case 'U':
        case 'u':
            aoSupervisorRecurso[p].EnviaCodigoDebug(12, ucValor);
            TcpCons::Printf("Recurso %d - Umbral Ocupacion%d\n", n, iValor);
            break;
        default: break;
        }
    }
    TcpCons::Printf(kAyudaCorta);
}

// Reads the answer to a prompt of the running command; false, leaving the line to be run as a
// command, when it comes from another connection: the operator who was asked has left.
bool LeeRespuesta(const char* szPrompt, int* piValor) {
    TcpCons::Printf("%s\n", szPrompt);
    *piValor = 0;
    if (TcpCons::ConexionSiguienteLinea() != guiConexionOrden) return false;
    char ac[32] = {};
    if (TcpCons::LeeLinea(ac, sizeof ac) == nullptr) return true;
    if (std::sscanf(ac, "%d", piValor) != 1) *piValor = 0;
    return true;
}

void Bss(const char* szArgs) {
    int n = -1;
    const int p = PosicionCanal(szArgs, &n);
    int iCalidad = 0;
    if (p >= 0) {
        int iMetodo;
        if (!LeeRespuesta("Metodo:", &iMetodo) || !LeeRespuesta("Calidad:", &iCalidad)) return;
        aoSupervisorRecurso[p].EnviaCodigoDebug(0, static_cast<uint8_t>(iCalidad & 0xFF));
    }
    TcpCons::Printf("Nuevo valor bss: %i para canal %d\n", iCalidad, n);
}

void PintaCabeceraParametros(int n, const cfgConfigRecurso& r) {
    TcpCons::Printf("\n");
    TcpCons::Printf("-----------------------------------------------------------\n");
    TcpCons::Printf("---------   PARAMETROS PASARELA Canal %i  -----------------\n", n);
    TcpCons::Printf("\nSip-Uri Pasarela    =  %.83s\n", r.szUriLocal);
}

void PintaParametrosPasarela(const cfgConfigRecurso& r) {
    TcpCons::Printf("\n   Sip-Uri Remota               =  %.83s\n", r.sColateral.szUriRemota);
    TcpCons::Printf("LLamadaAutomatica= %d", r.iLLamadaAutomatica);
}

void PintaParametrosRadio(const cfgConfigRecurso& r) {
    const cfgParamRadio& rd = r.uParam.radio;
    TcpCons::Printf(rd.cTipoConmutacion == 'M' ? "Conmutacion = M\n" : "Conmutacion = A\n");
    TcpCons::Printf("Climax_Delay = %d\n", rd.iClimaxDelay);
    TcpCons::Printf("LLamadaAutomatica= %d\n", r.iLLamadaAutomatica);
    for (int e = 0; e < 4; e++) {
        const cfgEmplazamiento& m = rd.asEmplazamiento[e];
        TcpCons::Printf("EMPLAZAMIENTO-%d\n", e);
        if (m.UriTxA[0]) TcpCons::Printf("    UriTxA= %.80s\n", m.UriTxA);
        if (m.UriTxB[0]) TcpCons::Printf("    UriTxB= %.80s\n", m.UriTxB);
        TcpCons::Printf("ActivoTx= %c\n", m.ActivoTx);
        if (m.UriRxA[0]) TcpCons::Printf("    UriRxA= %.80s\n", m.UriRxA);
        if (m.UriRxB[0]) TcpCons::Printf("    UriRxB= %.80s\n", m.UriRxB);
        TcpCons::Printf("ActivoRx= %c\n", m.ActivoRx);
    }
}

// Keeps the line as the last command, then runs it.
int Despacha(const char* szLinea) {
    std::snprintf(gacUltimo, sizeof gacUltimo, "%s", szLinea);
    switch (szLinea[0]) {
    case '?': PintaAyuda(); break;
    case 'O':
    case 'o': NivelConsola(szLinea + 1); break;
    case 'E':
    case 'e': Estadisticas(szLinea + 1); break;
    case 'I':
    case 'i':
    case 'M':
    case 'm':
        Parametros(szLinea + 1);
        gacUltimo[0] = '\0';
        break;
    case 'D':
    case 'd': Depuracion(szLinea); break;
    case 'B':
    case 'b': Bss(szLinea + 1); break;
    case 'C':
    case 'c':
        // The test order passes the agent's own checks, so it carries every field, the action
        // included (equipment A): an order without one is refused whoever sends it.
        EvtRxMant(static_cast<int>(sizeof kOrdenPrueba - 1), kOrdenPrueba);
        gacUltimo[0] = '\0';
        break;
    case 'P':
    case 'p':
        if (poPublica) poPublica->PintaPublica();
        break;
    case 'R':
        hwResetDsp();
        TcpCons::Printf("Reset DSP\n");
        gacUltimo[0] = '\0';
        break;
    case 'U':
    case 'u': oPasaGus.PintaDatosRecurso(); break;
    case 'A':
    case 'a': gacUltimo[0] = '\0'; break;
    case 'F':
        TcpCons::Printf("Parando Vortik QLN...\n");
        mainParar();
        return 1;
    case ' ': break;
    default: TcpCons::Printf(kAyudaCorta); break;
    }
    return 0;
}

void* HiloConsola(void*) {
    FijaPrioridadHilo(1);
    TrazaPid("Hilo consola", 0, "src/vortik/consolaMirso");
    char acLinea[24];
    for (;;) {
        DuermeMs(50);
        std::fflush(stdout);
        if (TcpCons::LeeLinea(acLinea, sizeof acLinea, &guiConexionOrden) == nullptr) return nullptr;
        if (consolaEjecuta(acLinea)) return nullptr;
    }
}
}  // namespace

int consolaEjecuta(const char* szLinea) {
    char acLinea[32];
    // A lone line feed (a terminal's CR LF too) repeats the last command.
    if (std::strcmp(szLinea, "\n") == 0 || std::strcmp(szLinea, "\r\n") == 0)
        std::snprintf(acLinea, sizeof acLinea, "%s", gacUltimo);
    else
        std::snprintf(acLinea, sizeof acLinea, "%s", szLinea);
    if (acLinea[0] == '\0') return 0;
    return Despacha(acLinea);
}

const char* consolaUltimoComando() { return gacUltimo; }

int LeeEntero(const char* szPrompt) {
    int i = 0;
    LeeRespuesta(szPrompt, &i);
    return i;
}

void PintaParametrosRecurso(int n) {
    if (n < 0 || n >= CFG_NUM_RECURSOS) return;
    const cfgConfigRecurso& r = oConfigPasarela.asRecursos[n];
    if (r.iTipoIf == TIPOIF_ATSR2 || r.iTipoIf == TIPOIF_ATSN5) return;
    PintaCabeceraParametros(n, r);
    if (r.iTipoIf == TIPOIF_RADIO)
        PintaParametrosRadio(r);
    else
        PintaParametrosPasarela(r);
}

void mainPintaEstadisticas() {
    char acFecha[64];
    const time_t t = tArranque;
    ctime_r(&t, acFecha);
    TcpCons::Printf("Vortik QLN V%d.%d.%d operativo desde %s\n", kVersionMayor, kVersionMenor, kVersionRevision,
                    acFecha);
    int iRecursos;
    {
        cfgCerrojo cerrojo(&oConfigPasarela.tMutex);
        TcpCons::Printf("IDconfig actual = %.167s\n", oConfigPasarela.acIdConfig);
        TcpCons::Printf("ID QLN = %.64s\n", oConfigPasarela.szNombre);
        iRecursos = oConfigPasarela.iNumRecursos;
    }
    TcpCons::Printf("Recursos        = %d\n", iRecursos);
    switch (oGestorDual.DameSistema()) {
    case 0: TcpCons::Printf("Sistema        A\n"); break;
    case 1: TcpCons::Printf("Sistema        B\n"); break;
    default: TcpCons::Printf("Sistema        No actualizado\n"); break;
    }
    switch (oGestorDual.DameEstadoDual()) {
    case 0: TcpCons::Printf("Modo Dualidad  PRINCIPAL\n"); break;
    case 1: TcpCons::Printf("Modo Dualidad  RESERVA\n"); break;
    default: TcpCons::Printf("Modo Dualidad  No actualizado\n"); break;
    }
    TcpCons::Printf("Estado FA= %i\n", sEstadoSupervision.iEstadoFA);
    TcpCons::Printf("Estado NTP= %i\n", sEstadoSupervision.iEstadoNtp);
    TcpCons::Printf("Total de suscripciones a PRINCIPAL/RESERVA event package: %d\n", oPasaGus.NumSuscriptoresPR());
    TcpCons::Printf("\nLista de mutex bloqueados:\n");
    ListaMutex(1, TcpCons::Printf);
    TcpCons::Printf("\nSubsistema SIP:\n");
    oPasaGus.PintaDatosExosip();
}

void ArrancaConsola() {
    if (gbArrancada.exchange(true)) return;
    if (CreaHiloSuelto(nullptr, HiloConsola, nullptr) != 0) {
        gbArrancada = false;
        TcpCons::Printf("CONSOLA: Error creando hilo. No hay consola\n");
    }
}
