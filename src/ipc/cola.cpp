// Cola: queues, addressing, receive thread, heartbeat and silence watch, closing.
#include "ipc/cola.h"

#include <sys/ipc.h>
#include <sys/msg.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "comun/hilo.h"
#include "comun/nlog.h"
#include "comun/tiempo.h"

namespace {

// Signal that interrupts a receive thread's msgrcv when its wake-up message cannot be
// queued (queue full); its handler does nothing.
const int SENAL_DESPIERTA_RX = SIGRTMIN + 8;

void ManejadorDespierta(int) {}

// Rx_Cola's flood guard: consecutive returns within this time count as a burst.
const uint32_t US_RAFAGA = 500;
const int MAX_RAFAGA = 500;

// Silence of a queue after which PurgaSiVieja drops what is left in it.
const time_t S_COLA_VIEJA = 11;

// Clock of the flood guard; the monotonic clock until the program hands another.
std::atomic<Cola::TpReloj> pRelojRafaga{nullptr};

uint32_t RelojRafaga() {
    Cola::TpReloj reloj = pRelojRafaga.load();
    return reloj != nullptr ? reloj() : MicrosMonotonicos();
}

}  // namespace

Cola::Cola(int32_t peer, int tipo, int limite, int32_t propio)
    : iPropio(propio), iPeer(peer), ucTipo(static_cast<uint8_t>(tipo)) {
    // Every path ends in Inicia, which clears the handler and id tables.
    if (tipo < COLA_PADRE || tipo > COLA_SIMPLE) {
        NLOG::Log(NLOG::ERROR, "Cola: tipo de extremo %d no valido (%d-%d)", tipo, propio, peer);
        Inicia(limite * 1000);
        return;
    }
    // Ids and message types are id x 10000 + slot in 32 bits.
    if (propio <= 0 || peer <= 0 || propio > MAX_ID_CANAL || peer > MAX_ID_CANAL) {
        NLOG::Log(NLOG::ERROR,
                  "Cola: identificadores %d-%d fuera de 1..%d, el canal no se abre", propio,
                  peer, MAX_ID_CANAL);
        Inicia(limite * 1000);
        return;
    }
    key_t clave = EsCanalHermano() ? CLAVE_COLA_HERMANOS : CLAVE_COLA_PADRE_HIJO;
    iCola = msgget(clave, IPC_CREAT | IPC_EXCL | 0666);
    if (iCola >= 0) {
        // A fresh queue holds 16 KiB: about three configuration messages.
        struct msqid_ds ds;
        if (msgctl(iCola, IPC_STAT, &ds) == 0 && ds.msg_qbytes < BYTES_COLA) {
            ds.msg_qbytes = BYTES_COLA;
            if (msgctl(iCola, IPC_SET, &ds) != 0)
                NLOG::Log(NLOG::INFO, "Cola: no se puede ampliar la cola %d a %lu bytes: %s",
                          static_cast<int>(clave), BYTES_COLA, strerror(errno));
        }
    } else if (errno == EEXIST) {
        iCola = msgget(clave, 0);
    }
    if (iCola < 0) ErrorSistema("Cola: msgget");
    Inicia(limite * 1000);
}

Cola::~Cola() {
    Termina();
    // A handler closed this end: its receive thread still runs out its loop on this object.
    while (bRxSuelto && !bFinRx && !pthread_equal(pthread_self(), tRx)) DuermeMs(1);
}

void Cola::Inicia(int32_t limiteMs) {
    {
        std::lock_guard<std::mutex> l(tMutexLatido);
        iPeriodoMs = 0;
        iLimiteMs = limiteMs;
        iTranscurridoMs = 0;
        pfProceso_Sin_Actividad = nullptr;
    }
    iSilencioMs = 0;
    VaciaTablas();
    bInactiva = false;
    termina_threads = false;
    BorraManejadores();
    if (iCola < 0 || bHiloRx) return;
    bFinRx = false;
    if (pthread_create(&tRx, nullptr, Rx_Cola, this) != 0)
        Traza("ERROR AL CREAR RX_COLA %d-%d\n", iPropio, iPeer);
    else
        bHiloRx = true;
}

long Cola::TipoEnvio() const {
    if (LadoHijo()) return static_cast<long>(iPropio) * 10000 + iPeer % 10000;
    return iPeer;
}

long Cola::TipoRecepcion() const {
    if (ucTipo == COLA_PADRE || ucTipo == COLA_HERMANO_SERVIDOR)
        return static_cast<long>(iPeer) * 10000 + iPropio % 10000;
    return iPropio;
}

int32_t Cola::DameLimite() {
    std::lock_guard<std::mutex> l(tMutexLatido);
    return iLimiteMs;
}

int32_t Cola::DamePeriodo() {
    std::lock_guard<std::mutex> l(tMutexLatido);
    return iPeriodoMs;
}

int Cola::Envia(uint8_t codigo, const void* carga, int longitud) {
    if (iCola < 0) return -1;
    if (longitud < 0 || longitud > MAX_CARGA_COLA || (longitud > 0 && carga == nullptr)) {
        NLOG::Log(NLOG::ERROR, "Envia: codigo %d con %d bytes de carga, no se envia (%d-%d)",
                  codigo, longitud, iPropio, iPeer);
        return -1;
    }
    if (termina_threads) {
        NLOG::Log(NLOG::ERROR, "NO ENVIA termina_threads=true");
        return -1;
    }
    MensajeCola msg;
    msg.mtype = TipoEnvio();
    msg.texto[0] = codigo;
    if (longitud > 0) memcpy(&msg.texto[1], carga, longitud);
    if (msgsnd(iCola, &msg, longitud + 1, IPC_NOWAIT) != 0) {
        int e = errno;
        NLOG::Log(NLOG::ERROR, "ERROR Envia %i %i", iPropio, iPeer);
        errno = e;
        ErrorSistema("ERROR ENVIA");
        return -1;
    }
    return 0;
}

void* Cola::Rx_Cola(void* arg) {
    static_cast<Cola*>(arg)->BucleRx();
    return nullptr;
}

void Cola::BucleRx() {
    FijaPrioridadHilo(1);
    const long tipo = TipoRecepcion();
    uint32_t anterior = 0;
    int rafaga = 0;
    MensajeCola msg;
    while (!termina_threads) {
        // One byte more than the largest frame: a longer message comes out truncated to
        // that size, is recognised and dropped instead of blocking the queue for ever.
        ssize_t n = msgrcv(iCola, &msg, MAX_TEXTO_COLA + 1, tipo, MSG_NOERROR);
        if (n < 0) {
            if (errno == EIDRM || errno == EINVAL) break;
            if (!termina_threads) DuermeMs(40);
        } else if (termina_threads) {
            break;
        } else {
            iSilencioMs = 0;
            if (n > MAX_TEXTO_COLA) {
                NLOG::Log(NLOG::ERROR, "Rx_Cola: mensaje de mas de %d bytes descartado (%d-%d)",
                          MAX_TEXTO_COLA, iPropio, iPeer);
            } else {
                msg.texto[n] = 0;  // a text payload always reads zero-terminated
                Despacha(&msg, static_cast<int>(n));
            }
        }
        uint32_t ahora = RelojRafaga();
        if (static_cast<uint32_t>(ahora - anterior) < US_RAFAGA) {
            if (++rafaga > MAX_RAFAGA) {
                rafaga = 0;
                NLOG::Log(NLOG::ERROR, "Rx_Cola FALLA !!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!");
                DuermeMs(20);
            }
        } else {
            rafaga = 0;
        }
        anterior = ahora;
    }
    bFinRx = true;
    NLOG::Log(NLOG::INFO, "Fin RxCola");
}

bool Cola::EsHiloRx() const {
    return bHiloRx && pthread_equal(pthread_self(), tRx);
}

// Puts a message of code 0 (dropped by Despacha) where the receive thread waits.
bool Cola::DespiertaRx() {
    MensajeCola msg;
    msg.mtype = TipoRecepcion();
    msg.texto[0] = COD_NULO;
    return msgsnd(iCola, &msg, 1, IPC_NOWAIT) == 0;
}

void Cola::Elimina_Threads() {
    if (!bHiloRx) return;
    termina_threads = true;
    if (EsHiloRx()) {
        // A handler of this end closed it: the loop ends when the handler returns.
        NLOG::Log(NLOG::ERROR, "Elimina_Threads: llamado desde Rx_Cola %d-%d", iPropio, iPeer);
        bRxSuelto = true;
        pthread_detach(tRx);
        bHiloRx = false;
        return;
    }
    // Never cancel: the thread may be inside a handler holding a lock. Wake it and join.
    if (!DespiertaRx()) {
        struct sigaction sa;
        memset(&sa, 0, sizeof sa);
        sa.sa_handler = ManejadorDespierta;  // no SA_RESTART: msgrcv returns EINTR
        sigemptyset(&sa.sa_mask);
        sigaction(SENAL_DESPIERTA_RX, &sa, nullptr);
        while (!bFinRx) {
            pthread_kill(tRx, SENAL_DESPIERTA_RX);
            DuermeMs(5);
        }
    }
    if (pthread_join(tRx, nullptr) != 0) ErrorSistema("Elimina_Threads: Error join tid\n");
    bHiloRx = false;
    // The thread may have ended before taking its wake-up message.
    Vacia(TipoRecepcion());
}

void Cola::Termina() {
    if (bTerminada) return;
    bTerminada = true;
    Traza("Termina %d-%d\n", iPropio, iPeer);
    if (iCola >= 0) {
        Vacia(static_cast<long>(iPeer) * 10000 + iPropio % 10000);
        Vacia(iPeer);
        Vacia(iPropio);
    }
    VaciaTablas();
    termina_threads = true;
    Elimina_Threads();
    Traza("_Termina %i\n", static_cast<int>(reinterpret_cast<uintptr_t>(this)));
}

int Cola::Vacia(long tipo) {
    if (iCola < 0) return -1;
    MensajeCola msg;
    ssize_t n;
    // MSG_NOERROR: an oversize message is drained too instead of stopping the loop.
    do {
        n = msgrcv(iCola, &msg, MAX_TEXTO_COLA, tipo, IPC_NOWAIT | MSG_NOERROR);
    } while (n > 0);
    return static_cast<int>(n);
}

void Cola::PurgaSiVieja() {
    if (iCola < 0) return;
    struct msqid_ds ds;
    if (msgctl(iCola, IPC_STAT, &ds) != 0) return;
    if (ds.msg_qnum > 0 && ds.msg_stime - ds.msg_rtime >= S_COLA_VIEJA) Vacia(0);
}

void Cola::FijaRelojRafaga(TpReloj reloj) {
    pRelojRafaga.store(reloj);
}

void VaciaCola(Cola* cola) {
    if (cola == nullptr) return;
    if (cola->DameTipo() == COLA_PADRE || cola->DameTipo() == COLA_HERMANO_SERVIDOR)
        cola->Vacia(0);
}

// ---- Heartbeat and silence ----

int Cola::FijaLatido(int segundos, TpProcesoSinActividad pf) {
    if (segundos < 0 || segundos > INT32_MAX / 1000) return -1;
    ConfiguraLatido(segundos * 1000, DameLimite(), pf);
    return 0;
}

void Cola::ConfiguraLatido(int32_t periodoMs, int32_t limiteMs, TpProcesoSinActividad pf) {
    bool cambia;
    {
        std::lock_guard<std::mutex> l(tMutexLatido);
        cambia = periodoMs != iPeriodoMs;
        iPeriodoMs = periodoMs;
        iLimiteMs = limiteMs;
        pfProceso_Sin_Actividad = pf;
        iTranscurridoMs = periodoMs;
        bInactiva = false;
        iSilencioMs = 0;
    }
    if (cambia) EnviaLatido();
}

int Cola::EnviaLatido() {
    int32_t periodo = DamePeriodo();
    return EnviaUnEntero(COD_LATIDO, periodo * 3);
}

void Cola::Temporiza(uint8_t vigila) {
    if (termina_threads || bInactiva) return;
    bool latido = false;
    bool silencio = false;
    TpProcesoSinActividad pf;
    {
        std::lock_guard<std::mutex> l(tMutexLatido);
        if (iPeriodoMs > 0) {
            iTranscurridoMs += 1000;
            if (iTranscurridoMs >= iPeriodoMs) {
                latido = true;
                iTranscurridoMs = 0;
            }
        }
        if (iLimiteMs > 0 && vigila) {
            silencio = (iSilencioMs += 1000) > iLimiteMs;
        } else if (!vigila) {
            iSilencioMs = 0;
        }
        pf = pfProceso_Sin_Actividad;
    }
    if (latido) EnviaLatido();
    if (!silencio) return;
    NLOG::Log(NLOG::INFO, "LLama a Proceso_Sin_Actividad");
    if (pf) pf(iPeer);
    NLOG::Log(NLOG::INFO, "Cola Vacia ");
    Vacia(TipoEnvio());
    NLOG::Log(NLOG::INFO, "Fin Cola Vacia ");
    bInactiva = true;
}

// ---- Id tables ----

void Cola::VaciaTablas() {
    static const int32_t inicio[NUM_TABLAS_ID] = {-1, -2, -1, -2, -1};
    std::lock_guard<std::mutex> l(tMutexIds);
    for (int t = 0; t < NUM_TABLAS_ID; t++) {
        aiContadorIds[t] = inicio[t];
        abTablaIds[t].reset();
        aiNumIds[t] = 0;
    }
}

int Cola::NumIds(eTablaId t) {
    std::lock_guard<std::mutex> l(tMutexIds);
    return aiNumIds[t];
}

// Cyclic allocation: continues after the slot given out last, never lowest-free first.
int Cola::AsignaId(eTablaId t, int32_t alto) {
    const bool recursos = t == TABLA_RECURSOS;
    const int paso = recursos ? 1 : 2;
    const int capacidad = recursos ? 10000 : 5000;
    const int32_t tope = (recursos || t == TABLA_LLAMADAS_IMPAR || t == TABLA_SESIONES_IMPAR) ? 9999 : 9998;
    const int32_t vuelta = (t == TABLA_LLAMADAS_IMPAR || t == TABLA_SESIONES_IMPAR) ? 1 : 0;
    std::lock_guard<std::mutex> l(tMutexIds);
    if (aiNumIds[t] >= capacidad) return -1;
    int32_t& c = aiContadorIds[t];
    do {
        c += paso;
        if (c > tope) c = vuelta;
    } while (abTablaIds[t].test(c));
    abTablaIds[t].set(c);
    aiNumIds[t]++;
    return alto * 10000 + c;
}

void Cola::LiberaSlot(eTablaId t, int32_t id) {
    int32_t slot = id % 10000;
    if (slot < 0) return;
    std::lock_guard<std::mutex> l(tMutexIds);
    if (abTablaIds[t].test(slot)) {
        abTablaIds[t].reset(slot);
        aiNumIds[t]--;
    }
}

void Cola::LiberaIdLlamada(int32_t id) {
    LiberaSlot((id % 10000) % 2 ? TABLA_LLAMADAS_IMPAR : TABLA_LLAMADAS_PAR, id);
}

void Cola::LiberaIdSesion(int32_t id) {
    LiberaSlot((id % 10000) % 2 ? TABLA_SESIONES_IMPAR : TABLA_SESIONES_PAR, id);
}

void Cola::LiberaIdRecurso(int32_t id) {
    LiberaSlot(TABLA_RECURSOS, id);
}

// ---- Logging helpers ----

void Cola::Traza(const char* formato, ...) {
    char buf[TAM_TRAZA_COLA];
    va_list ap;
    va_start(ap, formato);
    vsnprintf(buf, sizeof buf, formato, ap);
    va_end(ap);
    NLOG::Log(NLOG::INFO, "%s", buf);
}

void Cola::ErrorSistema(const char* texto) {
    char buf[200];
    char err[128];
    snprintf(buf, sizeof buf, "%s: %s\n", texto, strerror_r(errno, err, sizeof err));
    fputs(buf, stdout);
    NLOG::Log(NLOG::ERROR, "%s", buf);
}
