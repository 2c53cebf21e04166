// Cola: one end of an IPC channel between two processes of the board, over one of two
// shared System V message queues (key 1: core and its children; key 2: resource processes
// and the DSP service). The message type addresses each message to one end of one channel.
//
// Each end owns a receive thread that hands every message to Cola::Despacha, which calls
// the handler registered for its code on that thread. The owner ticks the end once a
// second (Temporiza): it sends the heartbeat and watches the peer's silence.
#pragma once

#include <pthread.h>
#include <sys/types.h>

#include <atomic>
#include <bitset>
#include <cstdint>
#include <mutex>

#include "ipc/mensajescola.h"

// Endpoint kinds.
enum eTipoCola : uint8_t {
    COLA_PADRE = 1,             // core's end of a channel to a child
    COLA_HIJO = 2,              // child's end towards the core
    COLA_HERMANO_SERVIDOR = 3,  // DSP service's end towards one resource process
    COLA_HERMANO_CLIENTE = 4,   // resource process's end towards the DSP service
    COLA_SIMPLE = 5,
};

constexpr key_t CLAVE_COLA_PADRE_HIJO = 1;
constexpr key_t CLAVE_COLA_HERMANOS = 2;

// The ids of calls, sessions and DSP resources are high x 10000 + slot in 32 bits.
constexpr int32_t MAX_ID_CANAL = (INT32_MAX - 9999) / 10000;  // 214,747

// Byte limit the creator of a queue asks for: every child can hold one configuration
// message (5,275 bytes of text) at once, with room to spare. Needs root.
constexpr unsigned long BYTES_COLA = 128 * 1024;

// One System V frame: the message type (a long) then the text.
struct MensajeCola {
    long mtype;
    uint8_t texto[MAX_TEXTO_COLA + 1];  // one extra byte to spot (and drop) oversize messages
    uint8_t terminador;                 // keeps a zero after the longest text
};

class Cola {
public:
    // The five id tables.
    enum eTablaId { TABLA_RECURSOS = 0, TABLA_LLAMADAS_PAR, TABLA_LLAMADAS_IMPAR,
                    TABLA_SESIONES_PAR, TABLA_SESIONES_IMPAR, NUM_TABLAS_ID };

    // limite: initial silence limit in whole seconds (0: not watched until the peer's
    // first heartbeat). An end whose ids cannot form 32-bit ids stays closed (logged).
    Cola(int32_t peer, int tipo, int limite, int32_t propio);
    ~Cola();  // runs Termina when it has not run
    Cola(const Cola&) = delete;
    Cola& operator=(const Cola&) = delete;

    void Inicia(int32_t limiteMs);
    // Drains the pair's messages, stops sending and the receive thread. Called from a
    // handler of this end, the receive thread ends when the handler returns; the end is
    // then deleted from another thread, never from that handler.
    void Termina();

    int FijaLatido(int segundos, TpProcesoSinActividad pf);
    void ConfiguraLatido(int32_t periodoMs, int32_t limiteMs, TpProcesoSinActividad pf);
    void Temporiza(uint8_t vigila);

    // 0 when the message is on the queue; -1 when it was not sent (logged).
    int Envia(uint8_t codigo, const void* carga, int longitud);
    int Vacia(long tipo);
    void PurgaSiVieja();
    bool EsCanalHermano() const { return ucTipo >= COLA_HERMANO_SERVIDOR; }
    void Elimina_Threads();

    void Despacha(const MensajeCola* msg, int longitud);

    static void Traza(const char* formato, ...) __attribute__((format(printf, 1, 2)));
    static void ErrorSistema(const char* texto);

    // Clock of every receive thread's flood guard, in microseconds (null: the monotonic
    // clock). A program on the board hands the board's timer (hwRelojUs) at start-up; tests
    // hand one that makes bursts independent of the machine's load.
    typedef uint32_t (*TpReloj)();
    static void FijaRelojRafaga(TpReloj reloj);

    // Queries for owners and tests.
    int DameCola() const { return iCola; }
    int32_t DamePropio() const { return iPropio; }
    int32_t DamePeer() const { return iPeer; }
    int DameTipo() const { return ucTipo; }
    bool Inactiva() const { return bInactiva.load(); }
    int32_t DameLimite();
    int32_t DamePeriodo();
    long TipoEnvio() const;
    long TipoRecepcion() const;
    int NumIds(eTablaId t);

    // ---- Id tables ----
    void LiberaIdLlamada(int32_t id);
    void LiberaIdSesion(int32_t id);
    void LiberaIdRecurso(int32_t id);

    // ---- Typed senders (0 sent, -1 inactive; see each family) ----
    int EnviaReset();
    int EnviaPintaEstadisticas();
    int EnviaSinConfig();
    int EnviaTermina();

    int EnviaUnEntero(uint8_t codigo, int32_t a);
    int EnviaEntero(uint8_t codigo, int32_t a) { return EnviaUnEntero(codigo, a); }
    int EnviaDosEnteros(uint8_t codigo, int32_t a, int32_t b);
    int EnviaTresEnteros(uint8_t codigo, int32_t a, int32_t b, int32_t c);

    int EnviaLatido();
    int EnviaConversacionInterrumpida(int32_t idLlamada);
    int EnviaAbortaIntervencion(int32_t idLlamada);
    int EnviaFinSesionPreemption(int32_t prioridad) { return EnviaUnEntero(COD_FIN_SESION_PREEMPTION, prioridad); }
    int EnviaNivelConsola(int32_t nivel) { return EnviaUnEntero(COD_NIVEL_CONSOLA, nivel); }
    int EnviaNivelIncidencias(int32_t nivel) { return EnviaUnEntero(COD_NIVEL_INCIDENCIAS, nivel); }
    int EnviaModoTest(int32_t modo) { return EnviaUnEntero(COD_MODO_TEST, modo); }
    int EnviaDspRecursoCreado(int32_t valor) { return EnviaUnEntero(COD_DSP_RECURSO_CREADO, valor); }
    int EnviaLiberaRecurso(int32_t idRecurso);
    int EnviaDspReposo(int32_t id) { return EnviaUnEntero(COD_DSP_REPOSO, id); }
    int EnviaDspConversacionInterrumpida(int32_t id) { return EnviaUnEntero(COD_DSP_CONVERSACION_INTERRUMPIDA, id); }
    int EnviaDspLineaBloqueada(int32_t id) { return EnviaUnEntero(COD_DSP_LINEA_BLOQUEADA, id); }
    int EnviaDspTimeout(int32_t id) { return EnviaUnEntero(COD_DSP_TIMEOUT, id); }
    int EnviaDspErrorProtocolo(int32_t id) { return EnviaUnEntero(COD_DSP_ERROR_PROTOCOLO, id); }
    int EnviaDebug(int32_t valor) { return EnviaUnEntero(COD_DEBUG, valor); }

    int EnviaCallProgress(int32_t id, int32_t v) { return EnviaDosEnteros(COD_CALL_PROGRESS, id, v); }
    int EnviaDspEvento84(int32_t id, int32_t v) { return EnviaDosEnteros(COD_DSP_EVENTO84, id, v); }
    int EnviaErrorInterno(int32_t id, int32_t v) { return EnviaDosEnteros(COD_ERROR_INTERNO, id, v); }
    int EnviaEstadoDsp(int32_t dsp, int32_t estado) { return EnviaDosEnteros(COD_ESTADO_DSP, dsp, estado); }

    int EnviaBucle(int32_t id, int32_t a, int32_t b) { return EnviaTresEnteros(COD_BUCLE, id, a, b); }

    // Counted bytes: DSP resource id, bytes, their count.
    int EnviaCallerId(int32_t id, const void* bytes, int32_t n) { return EnviaContados(COD_CALLER_ID, id, bytes, n); }

    int EnviaDigitoDtmf(int32_t id, uint8_t digito, int32_t valor) { return EnviaEnteroByteEntero(COD_DIGITO_DTMF, id, digito, valor); }
    int EnviaSelcal(int32_t id, uint8_t b, int32_t valor) { return EnviaEnteroByteEntero(COD_SELCAL, id, b, valor); }
    int EnviaCreaCanalHermano(int32_t pid, uint8_t modo);
    int EnviaDiagnostico(uint8_t comando, int32_t id, int32_t resultado);

    int EnviaNotificaEstadoRecurso(const NotificacionEstado* estado);

    // One sender per DSP command (comandosdsp.h): EnviaTomaCanalIfTx ... The DSP service
    // sends some of them back as events (EnviaSelecVoxTx, EnviaLlama, EnviaDescuelga ...).
#define VK_ENVIA_DSP_SIN_VALOR(nombre, codigo) \
    int Envia##nombre(int32_t id) { return EnviaUnEntero(codigo, id); }
#define VK_ENVIA_DSP_SIN_VALOR_ANOTADO VK_ENVIA_DSP_SIN_VALOR
#define VK_ENVIA_DSP_VALOR(nombre, codigo) \
    int Envia##nombre(int32_t id, int32_t v) { return EnviaDosEnteros(codigo, id, v); }
#define VK_ENVIA_DSP_DOS_VALORES(nombre, codigo) \
    int Envia##nombre(int32_t id, int32_t a, int32_t b) { return EnviaTresEnteros(codigo, id, a, b); }
#define VK_ENVIA_DSP_BUCLE VK_ENVIA_DSP_DOS_VALORES
#define VK_ENVIA_DSP_DIGITOS(nombre, codigo) \
    int Envia##nombre(int32_t id, const void* bytes, int32_t n) { return EnviaContados(codigo, id, bytes, n); }
#define VK_ENVIA_DSP_LLAMA(nombre, codigo)                                                       \
    int Envia##nombre(int32_t id, int32_t prioridad, const void* origen, int32_t nOrigen,        \
                      const void* destino, int32_t nDestino) {                                   \
        return EnviaLlamadaLinea(codigo, id, prioridad, origen, nOrigen, destino, nDestino, nullptr); \
    }
#define VK_ENVIA_DSP_INTERVENCION(nombre, codigo)                                                \
    int Envia##nombre(int32_t id, int32_t prioridad, const void* origen, int32_t nOrigen,        \
                      const void* destino, int32_t nDestino, int32_t c) {                        \
        return EnviaLlamadaLinea(codigo, id, prioridad, origen, nOrigen, destino, nDestino, &c); \
    }
#define VK_ENVIA_DSP_BLOQUE_LCEN(nombre, codigo) \
    int Envia##nombre(int32_t id, const void* bloque88) { return EnviaIdBloque(codigo, id, bloque88, TAM_BLOQUE_LCEN); }
#define VK_ENVIA_DSP(a, ldsp, nombre, NOMBRE, cola, manejador, metodo, dsp, forma) \
    VK_ENVIA_DSP_##forma(nombre, COD_##NOMBRE)
    VK_COMANDOS_DSP(VK_ENVIA_DSP, _)
#undef VK_ENVIA_DSP
#undef VK_ENVIA_DSP_SIN_VALOR
#undef VK_ENVIA_DSP_SIN_VALOR_ANOTADO
#undef VK_ENVIA_DSP_VALOR
#undef VK_ENVIA_DSP_DOS_VALORES
#undef VK_ENVIA_DSP_BUCLE
#undef VK_ENVIA_DSP_DIGITOS
#undef VK_ENVIA_DSP_LLAMA
#undef VK_ENVIA_DSP_INTERVENCION
#undef VK_ENVIA_DSP_BLOQUE_LCEN

    int EnviaTomaConfigR2(int32_t id, const void* bloque8) { return EnviaIdBloque(COD_TOMA_CONFIG_R2, id, bloque8, TAM_BLOQUE_R2N5); }
    int EnviaTomaConfigN5(int32_t id, const void* bloque8) { return EnviaIdBloque(COD_TOMA_CONFIG_N5, id, bloque8, TAM_BLOQUE_R2N5); }
    // Answers the session id instead of 0.
    int EnviaModificaSesion(int32_t idSesion, const DireccionSesion* dir);

    // Opening: -1 (and -1 in *id) when inactive or the table is full, else the new id.
    int EnviaLlamadaSalienteId(const DatosLlamada* datos, int32_t* id);
    int EnviaLlamadaEntranteId(const DatosLlamada* datos, int32_t* id);
    int EnviaIntervencionId(const DatosLlamada* datos, int32_t* id);
    int EnviaNuevaSesionId(const DireccionSesion* dir, int32_t* id);
    int EnviaArrancaRecursoId(int32_t argumento, int32_t* id);
    int EnviaLlamadaSaliente(const DatosLlamada* datos) { int32_t id; return EnviaLlamadaSalienteId(datos, &id); }
    int EnviaLlamadaEntrante(const DatosLlamada* datos) { int32_t id; return EnviaLlamadaEntranteId(datos, &id); }
    int EnviaIntervencion(const DatosLlamada* datos) { int32_t id; return EnviaIntervencionId(datos, &id); }
    int EnviaNuevaSesion(const DireccionSesion* dir) { int32_t id; return EnviaNuevaSesionId(dir, &id); }
    int EnviaArrancaRecurso(int32_t argumento) { int32_t id; return EnviaArrancaRecursoId(argumento, &id); }

    // Closing: release the id, then 0 / -1.
    int EnviaFinLlamadaCausa(int32_t idLlamada, int32_t causa);
    int EnviaFinLlamada(int32_t idLlamada) { return EnviaFinLlamadaCausa(idLlamada, 0); }
    int EnviaRechazaLlamada(int32_t idLlamada, int32_t motivo);

    // Sent even when inactive; always 0.
    int EnviaRingingMotivo(int32_t idLlamada, int32_t motivo);
    int EnviaRinging(int32_t idLlamada) { return EnviaRingingMotivo(idLlamada, 0); }
    int EnviaAceptaLlamadaValor(int32_t idLlamada, int32_t valor);
    int EnviaAceptaLlamada(int32_t idLlamada) { return EnviaAceptaLlamadaValor(idLlamada, 0); }
    int EnviaFinSesionValor(int32_t idSesion, int32_t valor);
    int EnviaFinSesion(int32_t idSesion) { return EnviaFinSesionValor(idSesion, 0); }

    int EnviaInfoLlamadaValor(int32_t idLlamada, int32_t motivo, int32_t valor);
    int EnviaInfoLlamada(int32_t idLlamada, int32_t motivo);  // always 0

    // 0 sent; -1 inactive, or the queue refused the text.
    int EnviaTraza(const char* formato, ...) __attribute__((format(printf, 2, 3)));
    // bloque: the 65-byte general block (szDirVirtual). -2 when the side file could not be
    // written (the message is sent all the same).
    int EnviaTomaConfig(const char* bloque, const cfgConfigRecurso* registro);
    int EnviaMensaje23(uint8_t a, int32_t b, const char* texto1, int32_t c, const char* texto2,
                       int32_t d, int32_t e, uint8_t f);

    // ---- Handler table: one setter per catalogue row (RegistraEvtReset ...), each taking
    // the row's handler type (null removes it) and returning 0 ----
#define VK_REGISTRA_COLA(registra, nombre, codigo, forma, tipo) \
    int registra(tipo f) { tManejadores.pf##nombre.store(f); return 0; }
    VK_CATALOGO_COLA(VK_REGISTRA_COLA)
#undef VK_REGISTRA_COLA

#define VK_CUENTA_COLA(registra, nombre, codigo, forma, tipo) +1
    static constexpr int NUM_MANEJADORES = 0 VK_CATALOGO_COLA(VK_CUENTA_COLA);
#undef VK_CUENTA_COLA

private:
    // One typed word per catalogue row.
    struct Manejadores {
#define VK_MANEJADOR_COLA(registra, nombre, codigo, forma, tipo) std::atomic<tipo> pf##nombre{nullptr};
        VK_CATALOGO_COLA(VK_MANEJADOR_COLA)
#undef VK_MANEJADOR_COLA
    };
    void BorraManejadores();

    static void* Rx_Cola(void* arg);
    void BucleRx();
    bool EsHiloRx() const;
    bool DespiertaRx();

    // Id tables.
    int AsignaId(eTablaId t, int32_t alto);
    void LiberaSlot(eTablaId t, int32_t id);
    void VaciaTablas();

    // Sender building blocks.
    int EnviaSinCarga(uint8_t codigo);
    int EnviaCarga(uint8_t codigo, const void* carga, int longitud);
    int EnviaLlamadaLinea(uint8_t codigo, int32_t id, int32_t prioridad, const void* origen,
                          int32_t nOrigen, const void* destino, int32_t nDestino,
                          const int32_t* final);
    int EnviaContados(uint8_t codigo, int32_t id, const void* bytes, int32_t n);
    int EnviaEnteroByteEntero(uint8_t codigo, int32_t id, uint8_t b, int32_t valor);
    int EnviaIdBloque(uint8_t codigo, int32_t id, const void* bloque, int n);
    int EnviaApertura(uint8_t codigo, eTablaId t, int32_t alto, const void* reg, int n, int32_t* id);
    bool NoEnvia() const { return bInactiva.load(); }
    bool LadoHijo() const { return ucTipo == COLA_HIJO || ucTipo == COLA_HERMANO_CLIENTE; }

    int iCola = -1;
    int32_t iPropio;
    int32_t iPeer;
    uint8_t ucTipo;

    // Guards the five tables and their counters: senders and the receive thread share them.
    std::mutex tMutexIds;
    int32_t aiContadorIds[NUM_TABLAS_ID];
    std::bitset<10000> abTablaIds[NUM_TABLAS_ID];
    int aiNumIds[NUM_TABLAS_ID];

    // Guards period, limit, heartbeat elapsed and call-back (owner, tick and receive threads).
    std::mutex tMutexLatido;
    int32_t iPeriodoMs = 0;
    int32_t iLimiteMs = 0;
    int32_t iTranscurridoMs = 0;
    TpProcesoSinActividad pfProceso_Sin_Actividad = nullptr;
    std::atomic<int32_t> iSilencioMs{0};  // reset by every received message

    pthread_t tRx{};
    bool bHiloRx = false;
    std::atomic<bool> bInactiva{false};
    std::atomic<bool> termina_threads{false};
    std::atomic<bool> bFinRx{false};
    std::atomic<bool> bRxSuelto{false};  // detached by a handler that closed this end
    bool bTerminada = false;
    Manejadores tManejadores;
};

// Discards every pending message of the queue, whatever its address, for kinds 1 and 3.
void VaciaCola(Cola* cola);
