#include "consoladsp.h"

#include <pthread.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "comun/gestormutex.h"
#include "comun/hilo.h"
#include "comun/nlog.h"
#include "comun/trazapid.h"
#include "contextodsp.h"
#include "cserviciosdsp.h"
#include "hardware/hardware.h"
#include "red/tcpcons.h"
#include "versiondsp.h"

namespace {
constexpr int LON_COMANDO = 32;
constexpr unsigned int PAUSA_FICHERO_MS = 20;
constexpr int NUM_CONFIG_LCEN = 22;

pthread_mutex_t gtMutexMaster;  // MainDsp.tMutexMaster: one console DSP command at a time
const ContextoDsp* gpContexto = nullptr;
// Console thread only: the command file being read and the last command.
FILE* gpFichero = nullptr;
char gacAnterior[LON_COMANDO];

class CMaster {
public:
    CMaster() { pthread_mutex_lock(&gtMutexMaster); }
    ~CMaster() { pthread_mutex_unlock(&gtMutexMaster); }
    CMaster(const CMaster&) = delete;
    CMaster& operator=(const CMaster&) = delete;
};

CServiciosDsp& Servicios() { return *gpContexto->pServicios; }

// A line as typed, without its line end (a terminal sends CR LF).
void QuitaFinLinea(char* sz) { sz[std::strcspn(sz, "\r\n")] = '\0'; }

// One console line of at most 31 characters; false at the end of the standard input.
bool LeeLineaConsola(char* szBuf) {
    szBuf[0] = '\0';
    return TcpCons::LeeLinea(szBuf, LON_COMANDO) != nullptr;
}

// One whitespace-separated token of the command file; false at its end.
bool LeeToken(char* szBuf) {
    return gpFichero && std::fscanf(gpFichero, "%31s", szBuf) == 1;
}

// The answer to a prompt: the next token of the command file (echoed), else a console line.
void LeeRespuesta(char* ac) {
    ac[0] = '\0';
    if (gpFichero && LeeToken(ac)) {
        TcpCons::Printf("%s", ac);
        return;
    }
    LeeLineaConsola(ac);
    QuitaFinLinea(ac);
}

int LeeEntero(const char* szPrompt) {
    TcpCons::Printf("%s\n", szPrompt);
    char ac[LON_COMANDO];
    LeeRespuesta(ac);
    return std::atoi(ac);
}

int LeeEnteroDefecto(const char* szPrompt, int iDefecto) {
    TcpCons::Printf("%s[%d]\n", szPrompt, iDefecto);
    char ac[LON_COMANDO];
    LeeRespuesta(ac);
    char* pFin = nullptr;
    long l = std::strtol(ac, &pFin, 10);
    if (ac[0] == '\0' || *pFin != '\0') return iDefecto;
    return static_cast<int>(l);
}

// Digits typed for a DTMF sequence: '*' 10, '#' 11, A-D 12-15.
int TeclasAValores(const char* sz, uint8_t* puc) {
    int n = 0;
    for (; sz[n]; n++) {
        char c = sz[n];
        if (c >= '0' && c <= '9') puc[n] = static_cast<uint8_t>(c - '0');
        else if (c == '*') puc[n] = 10;
        else if (c == '#') puc[n] = 11;
        else if (c >= 'A' && c <= 'D') puc[n] = static_cast<uint8_t>(12 + c - 'A');
        else if (c >= 'a' && c <= 'd') puc[n] = static_cast<uint8_t>(12 + c - 'a');
        else puc[n] = static_cast<uint8_t>(c - 48);
    }
    return n;
}

// Origin and destination read as console lines, for a call or an intrusion.
struct Numeros {
    uint8_t aucOrigen[LON_COMANDO];
    int iLongOrigen;
    uint8_t aucDestino[LON_COMANDO];
    int iLongDestino;
};
void LeeNumeros(Numeros* p) {
    char ac[LON_COMANDO];
    TcpCons::Printf("Origen: ");
    LeeLineaConsola(ac);
    QuitaFinLinea(ac);
    p->iLongOrigen = DigitosAValores(ac, p->aucOrigen);
    TcpCons::Printf("Destino:");
    LeeLineaConsola(ac);
    QuitaFinLinea(ac);
    p->iLongDestino = DigitosAValores(ac, p->aucDestino);
}

// The four time slots (T) or the four codecs (C) of a channel: four prompts, then the four
// commands with their results.
struct Cuarteto {
    const char* szPrompt;
    const char* szResultado;
    int (CServiciosDsp::*pfComando)(int32_t, int);
};
#define CUARTETO(PROMPT, METODO) {PROMPT, "oDremson." #METODO "(%d)=%d\n", &CServiciosDsp::METODO}
const Cuarteto kTimeslots[4] = {
    CUARTETO("Timeslot IF-TX:", TomaCanalIfTx),
    CUARTETO("Timeslot IF-RX:", TomaCanalIfRx),
    CUARTETO("Timeslot HOST-TX:", TomaCanalHostTx),
    CUARTETO("Timeslot HOST-RX:", TomaCanalHostRx),
};
const Cuarteto kCodecs[4] = {
    CUARTETO("Codec IF-TX:", TomaCodecIfTx),
    CUARTETO("Codec IF-RX:", TomaCodecIfRx),
    CUARTETO("Codec HOST-TX:", TomaCodecHostTx),
    CUARTETO("Codec HOST-RX:", TomaCodecHostRx),
};
#undef CUARTETO
void DialogoCuarteto(int n, const Cuarteto (&as)[4]) {
    int ai[4];
    for (int i = 0; i < 4; i++) ai[i] = LeeEntero(as[i].szPrompt);
    CMaster m;
    for (int i = 0; i < 4; i++) {
        // Through a copy: the sanitizer's bounds check misreads a member call on an indexed row.
        const auto pf = as[i].pfComando;
        TcpCons::Printf(as[i].szResultado, ai[i], (Servicios().*pf)(n, ai[i]));
    }
}

void DialogoDtmf(int n) {
    TcpCons::Printf("Digitos:\n");
    char ac[LON_COMANDO];
    LeeLineaConsola(ac);
    QuitaFinLinea(ac);
    uint8_t auc[LON_COMANDO];
    int iLong = TeclasAValores(ac, auc);
    CMaster m;
    TcpCons::Printf("oDremson.MarcaDtmf(%d, ...)=%d\n", iLong, Servicios().MarcaDtmf(n, auc, iLong));
}

void DialogoVad(int n) {
    int iTx = LeeEntero("VAD TX (0=off,1=on):");
    int iNivelTx = iTx != 0 ? LeeEntero("Nivel para TX:") : 0;
    int iRx = LeeEntero("VAD RX (0=off,1=on):");
    int iNivelRx = iRx != 0 ? LeeEntero("Nivel para RX:") : 0;
    TcpCons::Printf("oDremson.SelecVoxTx(%d,%d)=%d\n", iTx, iNivelTx, Servicios().SelecVoxTx(n, iTx, iNivelTx));
    TcpCons::Printf("oDremson.SelecVoxRx(%d,%d)=%d\n", iRx, iNivelRx, Servicios().SelecVoxRx(n, iRx, iNivelRx));
}

void DialogoLcen(int n) {
    static const struct {
        const char* szPrompt;
        int iDefecto;
    } kValores[NUM_CONFIG_LCEN] = {
        {"NivelTx:", -10}, {"UmbraRx:", -50}, {"T1:", 20},    {"T1Max:", 100},  {"T2:", 20},     {"T2Max:", 1000},
        {"T3:", 40},       {"T4:", 40},       {"T4Max:", 160}, {"T5:", 60},      {"T5Max:", 100}, {"T6:", 5000},
        {"T6Max:", 6000},  {"T8:", 80},       {"T8Max:", 150}, {"T9:", 40},      {"T9Max:", 60},  {"T10:", 20},
        {"T10Max:", 130},  {"T11:", 20},      {"T11Max:", 130}, {"T12:", 200},
    };
    int32_t aiBloque[NUM_CONFIG_LCEN];
    for (int i = 0; i < NUM_CONFIG_LCEN; i++) aiBloque[i] = LeeEnteroDefecto(kValores[i].szPrompt, kValores[i].iDefecto);
    CMaster m;
    TcpCons::Printf(" oDremson.TomaConfigLCEN( %d,....)=%d\n", n, Servicios().TomaConfigLCEN(n, aiBloque));
}

void DialogoLlamada(int n) {
    int iPrioridad = LeeEntero("Prioridad:");
    Numeros s;
    LeeNumeros(&s);
    CMaster m;
    TcpCons::Printf(" oDremson.Llama()=%d\n",
                    Servicios().Llama(n, iPrioridad, s.aucOrigen, s.iLongOrigen, s.aucDestino, s.iLongDestino));
}

void DialogoIntervencion(int n) {
    int iPrioridad = LeeEntero("Prioridad:");
    Numeros s;
    LeeNumeros(&s);
    CMaster m;
    TcpCons::Printf(" oDremson.IntervencionPrioridad()=%d\n",
                    Servicios().IntervencionPrioridad(n, iPrioridad, s.aucOrigen, s.iLongOrigen, s.aucDestino,
                                                   s.iLongDestino, 5));
}

void DialogoTonos(int n) {
    int iSentido = LeeEntero("Tx(0) o Rx(1):");
    TcpCons::Printf(" 1 = Inv. a marcar\n 2 = Ringback\n 3 = Ocupado\n 5 = Iterrupcion por prioridad\n");
    int iTono = LeeEntero("Tono:");
    int iDuracion = LeeEntero("Duracion deseada (s):");
    CMaster m;
    if (iSentido == 0)
        TcpCons::Printf(" oDremson.GeneraSecuenciaTonosTx()=%d\n", Servicios().GeneraSecuenciaTonosTx(n, iTono, iDuracion));
    else
        TcpCons::Printf(" oDremson.GeneraTonoCallProgRx()=%d\n", Servicios().GeneraTonoCallProgRx(n, iTono, iDuracion));
}

void AbreFichero(const char* szNombre) {
    if (gpFichero) std::fclose(gpFichero);
    gpFichero = std::fopen(szNombre, "r");
    if (!gpFichero) TcpCons::Printf("\n Error abriendo fichero %s\n", szNombre);
}

// The next command: from the command file while one is open, else a console line. False at
// the end of the standard input.
bool LeeComando(char* szComando) {
    szComando[0] = '\0';
    if (gpFichero) {
        if (!LeeToken(szComando)) {
            std::fclose(gpFichero);
            gpFichero = nullptr;
            szComando[0] = '\0';
        }
        DuermeMs(PAUSA_FICHERO_MS);
        return true;
    }
    return LeeLineaConsola(szComando);
}

void* ConsolaDsp(void*) {
    FijaPrioridadHilo(1);
    TrazaPid("Hilo consola", 0, "src/dremson/consoladsp");
    AyudaConsolaDsp();
    char acComando[LON_COMANDO];
    while (!gpContexto->pfSalidaPedida()) {
        if (!LeeComando(acComando)) {
            NLOG::Log(NLOG::INFO, "DREMSON: fin de la entrada de la consola");
            return nullptr;
        }
        EjecutaComandoDsp(acComando);
    }
    return nullptr;
}

}  // namespace

void FijaContextoConsolaDsp(const ContextoDsp* pContexto) { gpContexto = pContexto; }

void IniciaMutexConsolaDsp() { CreaMutex("MainDsp.tMutexMaster", &gtMutexMaster, nullptr); }

int ArrancaConsolaDsp() {
    pthread_t t;
    if (CreaHiloSuelto(&t, ConsolaDsp, nullptr) != 0) {
        TcpCons::Printf("Error creando hilo de consola\n");
        return -1;
    }
    return 0;
}

int DigitosAValores(const char* szTexto, uint8_t* pucValores) {
    int n = 0;
    for (; szTexto[n]; n++)
        pucValores[n] = static_cast<uint8_t>(szTexto[n] >= '0' && szTexto[n] <= '9' ? szTexto[n] - '0' : 0);
    return n;
}

void EjecutaComandoDsp(const char* szLinea) {
    char ac[LON_COMANDO];
    // A line end alone repeats the previous command, dialog included.
    if (szLinea[0] == '\n' || szLinea[0] == '\r')
        std::snprintf(ac, sizeof(ac), "%s", gacAnterior);
    else
        std::snprintf(ac, sizeof(ac), "%s", szLinea);
    QuitaFinLinea(ac);
    if (ac[0] == '\0') return;
    std::snprintf(gacAnterior, sizeof(gacAnterior), "%s", ac);
    const int n = std::atoi(ac + 1);
    const int n2 = ac[1] ? std::atoi(ac + 2) : 0;
    const char c2 = static_cast<char>(std::toupper(static_cast<unsigned char>(ac[1])));
    if (ac[0] == 'F') {
        TcpCons::Printf("Parando dremson...\n");
        gpContexto->pfPideSalida();
        return;
    }
    switch (std::toupper(static_cast<unsigned char>(ac[0]))) {
        case '?': AyudaConsolaDsp(); break;
        case '$': AbreFichero(ac + 1); break;
        case '!': Servicios().FijaVisualizacion(2); break;
        case 'I': Servicios().PintaInfo(); break;
        case 'N': {
            int id = LeeEntero("ID HOST que se desea asignar al recurso:");
            CMaster m;
            TcpCons::Printf("oDremson.ArrancaRecurso( %d ) = %d\n", id, Servicios().ArrancaRecurso(id, 0, nullptr));
            break;
        }
        case 'Q': {
            CMaster m;
            TcpCons::Printf("oDremson.LiberaRecurso( %d ) = %d\n", n, Servicios().LiberaRecurso(n));
            break;
        }
        case 'T': DialogoCuarteto(n, kTimeslots); break;
        case 'C': DialogoCuarteto(n, kCodecs); break;
        case 'P': {
            TcpCons::Printf(" 0=Ninguno  1=LCEN  3=R2(A)  4=R2(B)  5=N5(A)  6=N5(B)\n");
            int p = LeeEntero("Protocolo de linea:");
            CMaster m;
            TcpCons::Printf("oDremson.TomaProtocolo(%d,%d)=%d\n", n, p, Servicios().TomaProtocolo(n, p));
            break;
        }
        case 'D': DialogoDtmf(n); break;
        case 'M': {
            int v = LeeEntero("Pica 0 para desactivar y 1 para activar:");
            if (v == 0)
                TcpCons::Printf("DESactivando deteccion DTMF en recurso %d\n", n);
            else
                TcpCons::Printf("Activando deteccion DTMF en recurso %d\n", n);
            CMaster m;
            Servicios().SelecDetDtmf(n, v == 0 ? 0 : 1);
            break;
        }
        case 'V': DialogoVad(n); break;
        case 'S':
            if (c2 == 'L') DialogoLcen(n2);
            break;
        case 'L':
            if (c2 == 'S' && n2 >= 0) DialogoLlamada(n2);
            if (c2 == 'F') {
                CMaster m;
                TcpCons::Printf(" oDremson.Libera()=%d\n", Servicios().Libera(n2));
            }
            break;
        case 'R': {
            int v = c2 == 'L' ? 1 : c2 == 'O' ? 2 : c2 == 'C' ? 3 : c2 == 'K' ? 4 : 0;
            Servicios().SelecRespuesta(n2, v);
            break;
        }
        case 'E': {
            if (c2 != 'T' && c2 != 'R') break;
            int a = LeeEntero("Algoritmo (0=off, 1=Speex AEC): ");
            if (c2 == 'T')
                TcpCons::Printf("oDremson.SelecCancelEcoTx(%d,%d)=%d\n", n2, a, Servicios().SelecCancelEcoTx(n2, a));
            else
                TcpCons::Printf("oDremson.SelecCancelEcoRx(%d,%d)=%d\n", n2, a, Servicios().SelecCancelEcoRx(n2, a));
            break;
        }
        case 'B': {
            CMaster m;
            TcpCons::Printf("oDremson.Bloquea(%d)=%d\n", n, Servicios().Bloquea(n));
            break;
        }
        case 'W':
            if (n >= 0) DialogoIntervencion(n);
            break;
        case 'K':
            if (n >= 0) DialogoTonos(n);
            break;
        case 'O': {
            CMaster m;
            TcpCons::Printf("oDremson.Descuelga(%d)=%d\n", n, Servicios().Descuelga(n));
            break;
        }
        case 'X': {
            int v = LeeEntero("Teclea 0 para desactivar y 1 para activar:");
            if (v != 0) TcpCons::Printf("Activando algoritmo Bss en recurso %d\n", n);
            CMaster m;
            Servicios().SelecBss(n, v == 0 ? 0 : 1);
            break;
        }
        case 'Y': {
            int iNivel = LeeEntero("Nivel:");
            int iDuracion = LeeEntero("Duracion:");
            int iFrec = LeeEntero("iFrec:");
            TcpCons::Printf("Activando bucle en recurso %d nivel %d duracion %d frec %d\n", n, iNivel, iDuracion, iFrec);
            CMaster m;
            Servicios().SelecBucle(n, iNivel, iDuracion, iFrec);
            break;
        }
        case 'Z': hwResetDsp(); break;
        case ' ': break;
        default: TcpCons::Printf("Escribe \"?\" para la ayuda, anda.\n"); break;
    }
}

void AyudaConsolaDsp() {
    static const char* const kLineas[] = {
        "   \"?\"        -> Muestra la ayuda.\n\n",
        "   \"$nomfich\" -> Lee fichero de comandos.\n",
        "   \"!\"        -> Activa/desactiva visualizacion de las incidencias de los DSPs.\n",
        "   \"I\"        -> Informacion de los DSPs disponibles y sus recursos\n",
        "   \"N\"        -> Arranca nuevo recurso.\n",
        "   \"Qn\"       -> Finaliza recurso \"n\".\n",
        "   \"Tn\"       -> Asigna timeslots a recurso \"n\".\n",
        "   \"Cn\"       -> Asigna codecs a recurso \"n\".\n",
        "   \"Pn\"       -> Asigna protocolo de linea a recurso \"n\".\n",
        "   \"Dn\"       -> Genera secuencia DTMF en recurso \"n\".\n",
        "   \"Mn\"       -> Selecciona deteccion de DTMF en recurso \"n\".\n",
        "   \"Vn\"       -> Selecciona VAD en recurso \"n\".\n",
        "   \"SLn\"      -> Envia configuracion de linea caliente a recurso \"n\".\n",
        "   \"LSn\"      -> Llamada saliente por recurso \"n\".\n",
        "   \"LFn\"      -> Finaliza llamada saliente por recurso \"n\".\n",
        "   \"RLn\"      -> Respuesta automatica de llamado libre en recurso \"n\".\n",
        "   \"ROn\"      -> Respuesta automatica de llamado ocupado en recurso \"n\".\n",
        "   \"RCn\"      -> Respuesta automatica de congestion en recurso \"n\".\n",
        "   \"RKn\"      -> Respuesta automatica de fuera de servicio en recurso \"n\".\n",
        "   \"RBn\"      -> Borra la respuesta automatica en recurso \"n\".\n",
        "   \"ETn\"      -> Aplica en Tx algoritmo de cancelacion de eco en recurso \"n\"\n",
        "   \"ERn\"      -> Aplica en Rx algoritmo de cancelacion de eco en recurso \"n\"\n",
        "   \"Bn\"       -> Bloquea la linea en recurso \"n\".\n",
        "   \"Wn\"       -> Interrupcion por prioridad en recurso \"n\".\n",
        "   \"Kn\"       -> Genera secuencia call-progreess en recurso \"n\".\n",
        "   \"On\"       -> Descuelga llamada entrante (solo ATS-N5) en recurso \"n\".\n",
        "   \"Xn\"       -> Selecciona calular BSS en recurso \"n\".\n",
        "   \"Yn\"       -> Selecciona Bucle en recurso \"n\".\n",
        "   \"Z\"        -> RESET DSP\"n\".\n",
    };
    TcpCons::Printf("\n-------------------------------------------------------------------------\n\n");
    TcpCons::Printf("%s Vers. %d.%d.%d\n\n", NOMBRE_DREMSON, VERSION_DREMSON[0], VERSION_DREMSON[1], VERSION_DREMSON[2]);
    TcpCons::Printf("Build: %s\n", BUILD_DREMSON);
    for (const char* sz : kLineas) TcpCons::Printf("%s", sz);
    TcpCons::Printf("\n\n");
}
