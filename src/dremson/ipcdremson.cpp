#include "ipcdremson.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "comun/ganchosipc.h"
#include "comun/gestormutex.h"
#include "comun/nlog.h"
#include "contextodsp.h"
#include "cserviciosdsp.h"
#include "ipc/cola.h"
#include "trazadsp.h"

namespace {
// Trace classes of the handlers' lines towards the core: Radio, Lcen, Tlf, ATSR2/N5, QSIG.
constexpr uint32_t MASCARA_IPC = 0x3E;
constexpr int LIMITE_PADRE_S = 6;
constexpr int LATIDO_S = 2;

const ContextoDsp* gpContexto = nullptr;
std::atomic<uint32_t> guiNivelConsola{0};
std::atomic<uint32_t> guiNivelIncidencias{0};

// The core channel: created at start-up and closed at the end on the main thread; every
// thread may send on it meanwhile.
std::mutex gtMutexPadre;  // guards gpCanalPadre and giPidPadre, held across each send
Cola* gpCanalPadre = nullptr;
int32_t giPidPadre = -1;

struct EntradaCanal {
    int32_t iPid;
    Cola* pCanal;
};
// Written by the core channel's receive thread (creation) and the main loop (release), read
// by every request handler.
std::mutex gtMutexTabla;  // guards gasCanales and gapCerrar
EntradaCanal gasCanales[IpcDremson::MAX_CANALES];
// Channels whose peer fell silent in the running tick: closed and freed after it.
std::vector<Cola*> gapCerrar;
bool gbIniciado = false;
pthread_mutex_t gtMutexVaciado;  // IpcDremson.tMutex: the one-time drain of the queue
bool gbColaVaciada = false;

CServiciosDsp& Servicios() { return *gpContexto->pServicios; }

int BuscaPidBloqueado(int32_t iPid) {
    for (int i = 0; i < IpcDremson::MAX_CANALES; i++)
        if (gasCanales[i].iPid == iPid) return i;
    return -1;
}

// The channel of a requesting resource process, or null (traced) when it has none.
Cola* Conocido(int32_t iPid, const char* szNombre) {
    int i;
    Cola* p = nullptr;
    {
        std::lock_guard<std::mutex> l(gtMutexTabla);
        i = iPid < 0 ? -1 : BuscaPidBloqueado(iPid);
        if (i >= 0) p = gasCanales[i].pCanal;
    }
    if (!p) {
        TrazaDsp("IPCSD[?] / %s con PID %d desconocido!!!\n", szNombre, iPid);
        return nullptr;
    }
    TrazaDsp("IPCSD[%d] / %s\n", i, szNombre);
    return p;
}

// The console text hook of the process: the text, cut at 199 characters, to the core.
int EnviaAlPadre(const char* szTexto) {
    std::lock_guard<std::mutex> l(gtMutexPadre);
    if (!gpCanalPadre || giPidPadre < 0) return 0;
    gpCanalPadre->EnviaTraza("%s", szTexto);
    return static_cast<int>(std::strlen(szTexto));
}

// ---- Handlers of the resource channels ----

void EvtPidMuerto(int32_t iPid) {
    Cola* p = nullptr;
    int i;
    {
        std::lock_guard<std::mutex> l(gtMutexTabla);
        i = iPid < 0 ? -1 : BuscaPidBloqueado(iPid);
        if (i >= 0) {
            p = gasCanales[i].pCanal;
            gasCanales[i].iPid = -1;
            gasCanales[i].pCanal = nullptr;
        }
    }
    if (i < 0) {
        TrazaDsp("IPCSD[?] / EvtPidMuerto con PID %d desconocido!!!\n", iPid);
        return;
    }
    NLOG::Log(NLOG::INFO, "IPCDREMSON: proceso %d sin actividad, se liberan sus recursos DSP", iPid);
    if (p) {
        // Its DSP channels are freed once the tick is over (CierraMuertos): this runs inside
        // the channel's own tick, which goes on using the object.
        std::lock_guard<std::mutex> l(gtMutexTabla);
        gapCerrar.push_back(p);
    }
    TrazaDsp("IPCSD[%d] / EvtPidMuerto(%d)\n", i, iPid);
}

void ipcsdArrancaRecurso(int32_t iPeer, int32_t id, int32_t iArgumento) {
    Cola* p = Conocido(iPeer, "ipcsdArrancaRecurso");
    if (p) Servicios().ArrancaRecurso(id, iArgumento, p);
}

// The handlers by form of the DSP command list: the payload's fields to the service's wrapper.
#define IPCSD_SIN_VALOR(MANEJADOR, OP)                       \
    void MANEJADOR(int32_t iPeer, int32_t id) {              \
        if (Conocido(iPeer, #MANEJADOR)) Servicios().OP(id); \
    }
#define IPCSD_SIN_VALOR_ANOTADO(MANEJADOR, OP)        \
    void MANEJADOR(int32_t iPeer, int32_t id) {       \
        if (!Conocido(iPeer, #MANEJADOR)) return;     \
        NLOG::Log(NLOG::INFO, "IPCSD / " #MANEJADOR); \
        Servicios().OP(id);                           \
    }
#define IPCSD_VALOR(MANEJADOR, OP)                              \
    void MANEJADOR(int32_t iPeer, int32_t id, int32_t v) {      \
        if (Conocido(iPeer, #MANEJADOR)) Servicios().OP(id, v); \
    }
#define IPCSD_DOS_VALORES(MANEJADOR, OP)                              \
    void MANEJADOR(int32_t iPeer, int32_t id, int32_t a, int32_t b) { \
        if (Conocido(iPeer, #MANEJADOR)) Servicios().OP(id, a, b);    \
    }
#define IPCSD_BUCLE(MANEJADOR, OP)                                                         \
    void MANEJADOR(int32_t iPeer, int32_t id, int32_t iEmpaquetado, int32_t iFrecuencia) { \
        if (!Conocido(iPeer, #MANEJADOR)) return;                                          \
        uint32_t ui = static_cast<uint32_t>(iEmpaquetado);                                 \
        int iNivel = static_cast<int8_t>(ui >> 24);                                        \
        int iDuracion = static_cast<int>((ui >> 16) & 0xFF);                               \
        Servicios().OP(id, iNivel, iDuracion, iFrecuencia);                                \
    }
#define IPCSD_DIGITOS(MANEJADOR, OP)                                     \
    void MANEJADOR(int32_t iPeer, int32_t id, uint8_t* puc, int32_t n) { \
        if (Conocido(iPeer, #MANEJADOR)) Servicios().OP(id, puc, n);     \
    }
#define IPCSD_LLAMA(MANEJADOR, OP)                                                                         \
    void MANEJADOR(int32_t iPeer, int32_t id, int32_t iPrioridad, uint8_t* pucOrigen, int32_t iLongOrigen, \
                   uint8_t* pucDestino, int32_t iLongDestino) {                                            \
        if (Conocido(iPeer, #MANEJADOR))                                                                   \
            Servicios().OP(id, iPrioridad, pucOrigen, iLongOrigen, pucDestino, iLongDestino);              \
    }
#define IPCSD_INTERVENCION(MANEJADOR, OP)                                                                  \
    void MANEJADOR(int32_t iPeer, int32_t id, int32_t iPrioridad, uint8_t* pucOrigen, int32_t iLongOrigen, \
                   uint8_t* pucDestino, int32_t iLongDestino, int32_t iValor) {                            \
        if (Conocido(iPeer, #MANEJADOR))                                                                   \
            Servicios().OP(id, iPrioridad, pucOrigen, iLongOrigen, pucDestino, iLongDestino, iValor);      \
    }
// The blocks arrive as native u32 words.
#define IPCSD_BLOQUE(MANEJADOR, OP, N)                        \
    void MANEJADOR(int32_t iPeer, int32_t id, uint8_t* puc) { \
        if (!Conocido(iPeer, #MANEJADOR)) return;             \
        int32_t ai[N];                                        \
        std::memcpy(ai, puc, sizeof(ai));                     \
        Servicios().OP(id, ai);                               \
    }
#define IPCSD_BLOQUE_LCEN(MANEJADOR, OP) IPCSD_BLOQUE(MANEJADOR, OP, 22)
static_assert(sizeof(int32_t[22]) == TAM_BLOQUE_LCEN, "hot-line block");
static_assert(sizeof(int32_t[2]) == TAM_BLOQUE_R2N5, "R2/N5 block");
#define IPCSD(a, ldsp, nombre, NOMBRE, cola, manejador, metodo, dsp, forma) IPCSD_##forma(manejador, metodo)

IPCSD_SIN_VALOR(ipcsdLiberaRecurso, LiberaRecurso)
VK_COMANDOS_DSP(IPCSD, _)
IPCSD_BLOQUE(ipcsdTomaConfigR2, TomaConfigR2, 2)
IPCSD_BLOQUE(ipcsTomaConfigN5, TomaConfigN5, 2)

// Frees, outside any tick, the channels that fell silent and their DSP channels. In that
// order: a request of the process that was being handled when it was declared dead may still
// take a DSP channel for it, until Termina has joined the receive thread.
void CierraMuertos() {
    std::vector<Cola*> v;
    {
        std::lock_guard<std::mutex> l(gtMutexTabla);
        v.swap(gapCerrar);
    }
    for (Cola* p : v) {
        p->Termina();
        Servicios().LiberaRecursosCanal(p);
        delete p;
    }
}

}  // namespace

// ---- Channel to the core ----

int CreaCanalPadre(int32_t iPidNucleo) {
    std::lock_guard<std::mutex> l(gtMutexPadre);
    if (gpCanalPadre && giPidPadre >= 0) return -1;
    Cola* p = new (std::nothrow) Cola(iPidNucleo, COLA_HIJO, LIMITE_PADRE_S, static_cast<int32_t>(getpid()));
    if (!p || p->DameCola() < 0) {
        delete p;
        if (DspNivelConsola() & 0xFFFF)
            std::printf("IPCREC[%d]: ERROR creando canal de comunicacion con vortik %d.\n\r", 0, iPidNucleo);
        NLOG::Log(NLOG::ERROR, "IPCREC[%d]: ERROR creando canal de comunicacion con vortik %d.", 0, iPidNucleo);
        return -1;
    }
    gpCanalPadre = p;
    giPidPadre = iPidNucleo;
    FijaGanchoTextoIpc(EnviaAlPadre);
    p->FijaLatido(LATIDO_S, EvtProcesoMuerto);
    p->RegistraEvtReset(EvtReset);
    p->RegistraEvtNivelConsola(EvtNivelConsola);
    p->RegistraEvtNivelIncidencias(EvtNivelIncidencias);
    p->RegistraEvtModoTest(EvtModoTest);
    p->RegistraEvtCreaCanalHermano(ipcrecEvtCreaCanalHermano);
    return 0;
}

void CierraCanalPadre() {
    Cola* p;
    {
        std::lock_guard<std::mutex> l(gtMutexPadre);
        if (!gpCanalPadre || giPidPadre < 0) return;
        p = gpCanalPadre;
        gpCanalPadre = nullptr;
        giPidPadre = -1;
    }
    p->Termina();
    delete p;
}

int DspEnviaSinConfig() {
    std::lock_guard<std::mutex> l(gtMutexPadre);
    if (!gpCanalPadre) return -1;
    gpCanalPadre->EnviaSinConfig();
    return 0;
}

int DspEnviaEstadoDsp(int32_t iDsp, int32_t iEstado) {
    std::lock_guard<std::mutex> l(gtMutexPadre);
    if (!gpCanalPadre) return -1;
    gpCanalPadre->EnviaEstadoDsp(iDsp, iEstado);
    return 0;
}

void DspFijaNivelConsola(uint32_t uiNivel) {
    guiNivelConsola = uiNivel;
    FijaMascaraTrazaIpc(uiNivel);
}
uint32_t DspNivelConsola() { return guiNivelConsola; }
uint32_t DspNivelIncidencias() { return guiNivelIncidencias; }

void EvtProcesoMuerto(int32_t iPeer) {
    int32_t iPadre;
    {
        std::lock_guard<std::mutex> l(gtMutexPadre);
        iPadre = giPidPadre;
    }
    if (iPeer == iPadre && iPadre >= 0) {
        IpcTraza(MASCARA_IPC, "IPC[%d] / EvtProcesoMuerto\n", 0);
        NLOG::Log(NLOG::ERROR, "IPC[%d] / EvtProcesoMuerto: el nucleo %d no da senales", 0, iPeer);
        gpContexto->pfPadreMuerto(iPeer);
    } else {
        IpcTraza(MASCARA_IPC, "IPC[?] / EvtProcesoMuerto con PID %d desconocido!!!\n", iPeer);
    }
}

void EvtReset(int32_t iPeer) {
    int32_t iPadre;
    {
        std::lock_guard<std::mutex> l(gtMutexPadre);
        iPadre = giPidPadre;
    }
    if (iPeer == iPadre)
        IpcTraza(MASCARA_IPC, "[%d]IPC: RESET\n", 0);
    else
        IpcTraza(MASCARA_IPC, "[%d]IPC: RESET con PID %d desconocido!!!\n", 0, iPeer);
}

void EvtNivelConsola(int32_t iNivel) {
    IpcTraza(MASCARA_IPC, "IPCREC[%d]: EvtNivelConsola\n", 0);
    DspFijaNivelConsola(static_cast<uint32_t>(iNivel));
}

void EvtNivelIncidencias(int32_t iNivel) {
    IpcTraza(MASCARA_IPC, "IPCREC[%d]: EvtNivelIncidencias\n", 0);
    guiNivelIncidencias = static_cast<uint32_t>(iNivel);
}

void EvtModoTest(int32_t) { IpcTraza(MASCARA_IPC, "IPCREC[%d]: EvtModoTest\n", 0); }

void ipcrecEvtCreaCanalHermano(int32_t iPid, uint8_t ucModo) {
    IpcTraza(MASCARA_IPC, "IPCREC[%d]: ipcrecEvtCreaCanalHermano PID=%d, Modo=%d\n", 0, iPid, ucModo);
    if (ucModo == COLA_HERMANO_SERVIDOR) IpcDremson::CreaCanal(iPid);
}

// ---- Channels to the resource processes ----

namespace IpcDremson {

void FijaContexto(const ContextoDsp* pContexto) { gpContexto = pContexto; }

int Inicia() {
    std::lock_guard<std::mutex> l(gtMutexTabla);
    if (gbIniciado) return 0;
    CreaMutex("IpcDremson.tMutex", &gtMutexVaciado, nullptr);
    gbColaVaciada = false;
    for (EntradaCanal& e : gasCanales) e = {-1, nullptr};
    gbIniciado = true;
    return 0;
}

int CreaCanal(int32_t iPid) {
    int i;
    {
        std::lock_guard<std::mutex> l(gtMutexTabla);
        if (!gbIniciado) return -1;
        if (iPid <= 0) return -3;
        if (BuscaPidBloqueado(iPid) >= 0) return 0;
        i = BuscaPidBloqueado(-1);
        if (i < 0) {
            NLOG::Log(NLOG::ERROR, "IPCDREMSON: sin sitio para el canal del proceso %d", iPid);
            return -2;
        }
        // Reserved now: a second announcement meanwhile finds the pid.
        gasCanales[i] = {iPid, nullptr};
    }
    Cola* p = new (std::nothrow) Cola(iPid, COLA_HERMANO_SERVIDOR, 0, static_cast<int32_t>(getpid()));
    if (!p || p->DameCola() < 0) {
        delete p;
        {
            std::lock_guard<std::mutex> l(gtMutexTabla);
            gasCanales[i] = {-1, nullptr};
        }
        if (DspNivelConsola() & 0xFFFF)
            TrazaDsp("IPCDREMSON: ERROR creando canal de comunicacion con proceso hijo %d.\n\r", iPid);
        NLOG::Log(NLOG::ERROR, "IPCDREMSON: ERROR creando canal de comunicacion con proceso hijo %d.", iPid);
        return -3;
    }
    RegistraManejadores(p);
    {
        std::lock_guard<std::mutex> l(gtMutexTabla);
        gasCanales[i].pCanal = p;
    }
    gpContexto->pfCanalRecursoCreado();
    if (DspNivelConsola() & 0xFFFF) TrazaDsp("IPCDREMSON: Asignado PID %d de recurso\n", iPid);
    NLOG::Log(NLOG::INFO, "IPCDREMSON: Asignado PID %d de recurso", iPid);
    return 0;
}

void RegistraManejadores(Cola* p) {
    pthread_mutex_lock(&gtMutexVaciado);
    if (!gbColaVaciada) {
        // Requests left in the shared queue by an earlier run of the service.
        VaciaCola(p);
        gbColaVaciada = true;
    }
    pthread_mutex_unlock(&gtMutexVaciado);
    p->FijaLatido(LATIDO_S, EvtPidMuerto);
    p->RegistraArrancaRecurso(ipcsdArrancaRecurso);
    p->RegistraLiberaRecurso(ipcsdLiberaRecurso);
#define IPCSD_REGISTRA(a, ldsp, nombre, NOMBRE, cola, manejador, metodo, dsp, forma) p->Registra##nombre(manejador);
    VK_COMANDOS_DSP(IPCSD_REGISTRA, _)
#undef IPCSD_REGISTRA
    p->RegistraTomaConfigR2(ipcsdTomaConfigR2);
    p->RegistraTomaConfigN5(ipcsTomaConfigN5);
}

void TemporizaPadre() {
    // Only the main thread closes the core channel, so the pointer stays valid for the tick;
    // the lock is not held across it (its silence handler takes it).
    Cola* p;
    {
        std::lock_guard<std::mutex> l(gtMutexPadre);
        p = gpCanalPadre;
    }
    if (p) p->Temporiza(1);
}

void Temporiza() {
    std::vector<Cola*> v;
    {
        std::lock_guard<std::mutex> l(gtMutexTabla);
        if (!gbIniciado) return;
        for (const EntradaCanal& e : gasCanales)
            if (e.pCanal) v.push_back(e.pCanal);
    }
    TemporizaPadre();
    // Only this thread frees channels, so the pointers taken stay valid for the pass.
    for (Cola* p : v) p->Temporiza(1);
    CierraMuertos();
}

int BuscaPid(int32_t iPid) {
    std::lock_guard<std::mutex> l(gtMutexTabla);
    return BuscaPidBloqueado(iPid);
}

int NumCanales() {
    std::lock_guard<std::mutex> l(gtMutexTabla);
    int n = 0;
    for (const EntradaCanal& e : gasCanales) n += e.pCanal != nullptr;
    return n;
}

}  // namespace IpcDremson
