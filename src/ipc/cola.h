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

    void Envia(uint8_t codigo, const void* carga, int longitud);
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
    int EnviaDescuelga(int32_t id) { return EnviaUnEntero(COD_DESCUELGA, id); }
    int EnviaLibera(int32_t id) { return EnviaUnEntero(COD_LIBERA, id); }
    int EnviaRespondeLibre(int32_t id) { return EnviaUnEntero(COD_RESPONDE_LIBRE, id); }
    int EnviaRespondeOcupado(int32_t id) { return EnviaUnEntero(COD_RESPONDE_OCUPADO, id); }
    int EnviaRespondeCongestion(int32_t id) { return EnviaUnEntero(COD_RESPONDE_CONGESTION, id); }
    int EnviaRespondeFueraDeServicio(int32_t id) { return EnviaUnEntero(COD_RESPONDE_FUERA_DE_SERVICIO, id); }
    int EnviaBloqueaLinea(int32_t id) { return EnviaUnEntero(COD_BLOQUEA_LINEA, id); }
    int EnviaFinIntervencion(int32_t id) { return EnviaUnEntero(COD_FIN_INTERVENCION, id); }
    int EnviaAparca(int32_t id) { return EnviaUnEntero(COD_APARCA, id); }
    int EnviaDesaparca(int32_t id) { return EnviaUnEntero(COD_DESAPARCA, id); }
    int EnviaDspReposo(int32_t id) { return EnviaUnEntero(COD_DSP_REPOSO, id); }
    int EnviaDspConversacionInterrumpida(int32_t id) { return EnviaUnEntero(COD_DSP_CONVERSACION_INTERRUMPIDA, id); }
    int EnviaDspLineaBloqueada(int32_t id) { return EnviaUnEntero(COD_DSP_LINEA_BLOQUEADA, id); }
    int EnviaDspTimeout(int32_t id) { return EnviaUnEntero(COD_DSP_TIMEOUT, id); }
    int EnviaDspErrorProtocolo(int32_t id) { return EnviaUnEntero(COD_DSP_ERROR_PROTOCOLO, id); }
    int EnviaDebug(int32_t valor) { return EnviaUnEntero(COD_DEBUG, valor); }

    int EnviaTomaCanalIfTx(int32_t id, int32_t v) { return EnviaDosEnteros(COD_TOMA_CANAL_IF_TX, id, v); }
    int EnviaTomaCanalIfRx(int32_t id, int32_t v) { return EnviaDosEnteros(COD_TOMA_CANAL_IF_RX, id, v); }
    int EnviaTomaCanalHostTx(int32_t id, int32_t v) { return EnviaDosEnteros(COD_TOMA_CANAL_HOST_TX, id, v); }
    int EnviaTomaCanalHostRx(int32_t id, int32_t v) { return EnviaDosEnteros(COD_TOMA_CANAL_HOST_RX, id, v); }
    int EnviaQuitaCanalHostRx(int32_t id, int32_t v) { return EnviaDosEnteros(COD_QUITA_CANAL_HOST_RX, id, v); }
    int EnviaTomaCodecIfTx(int32_t id, int32_t v) { return EnviaDosEnteros(COD_TOMA_CODEC_IF_TX, id, v); }
    int EnviaTomaCodecIfRx(int32_t id, int32_t v) { return EnviaDosEnteros(COD_TOMA_CODEC_IF_RX, id, v); }
    int EnviaTomaCodecHostTx(int32_t id, int32_t v) { return EnviaDosEnteros(COD_TOMA_CODEC_HOST_TX, id, v); }
    int EnviaTomaCodecHostRx(int32_t id, int32_t v) { return EnviaDosEnteros(COD_TOMA_CODEC_HOST_RX, id, v); }
    int EnviaTomaProtocolo(int32_t id, int32_t v) { return EnviaDosEnteros(COD_TOMA_PROTOCOLO, id, v); }
    int EnviaSelecCancelEcoTx(int32_t id, int32_t v) { return EnviaDosEnteros(COD_SELEC_CANCEL_ECO_TX, id, v); }
    int EnviaSelecDetDtmf(int32_t id, int32_t v) { return EnviaDosEnteros(COD_SELEC_DET_DTMF, id, v); }
    int EnviaSelecDetCallerID(int32_t id, int32_t v) { return EnviaDosEnteros(COD_SELEC_DET_CALLER_ID, id, v); }
    int EnviaSelecBss(int32_t id, int32_t v) { return EnviaDosEnteros(COD_SELEC_BSS, id, v); }
    int EnviaCallProgress(int32_t id, int32_t v) { return EnviaDosEnteros(COD_CALL_PROGRESS, id, v); }
    int EnviaDspEvento84(int32_t id, int32_t v) { return EnviaDosEnteros(COD_DSP_EVENTO84, id, v); }
    int EnviaErrorInterno(int32_t id, int32_t v) { return EnviaDosEnteros(COD_ERROR_INTERNO, id, v); }
    int EnviaEstadoDsp(int32_t dsp, int32_t estado) { return EnviaDosEnteros(COD_ESTADO_DSP, dsp, estado); }

    int EnviaSelecCagTx(int32_t id, int32_t a, int32_t b) { return EnviaTresEnteros(COD_SELEC_CAG_TX, id, a, b); }
    int EnviaSelecCagRx(int32_t id, int32_t a, int32_t b) { return EnviaTresEnteros(COD_SELEC_CAG_RX, id, a, b); }
    int EnviaSelecVoxTx(int32_t id, int32_t a, int32_t b) { return EnviaTresEnteros(COD_SELEC_VOX_TX, id, a, b); }
    int EnviaSelecVoxRx(int32_t id, int32_t a, int32_t b) { return EnviaTresEnteros(COD_SELEC_VOX_RX, id, a, b); }
    int EnviaSelecDetCallProgress(int32_t id, int32_t a, int32_t b) { return EnviaTresEnteros(COD_SELEC_DET_CALL_PROGRESS, id, a, b); }
    int EnviaGeneraSecuenciaTonosTx(int32_t id, int32_t a, int32_t b) { return EnviaTresEnteros(COD_GENERA_SECUENCIA_TONOS_TX, id, a, b); }
    int EnviaGeneraSecuenciaTonosRx(int32_t id, int32_t a, int32_t b) { return EnviaTresEnteros(COD_GENERA_SECUENCIA_TONOS_RX, id, a, b); }
    int EnviaAnalizaBucle(int32_t id, int32_t a, int32_t b) { return EnviaTresEnteros(COD_ANALIZA_BUCLE, id, a, b); }
    int EnviaBucle(int32_t id, int32_t a, int32_t b) { return EnviaTresEnteros(COD_BUCLE, id, a, b); }

    // Counted bytes: DSP resource id, bytes, their count.
    int EnviaMarcaDtmf(int32_t id, const void* bytes, int32_t n) { return EnviaContados(COD_MARCA_DTMF, id, bytes, n); }
    int EnviaMarcaSelcal(int32_t id, const void* bytes, int32_t n) { return EnviaContados(COD_MARCA_SELCAL, id, bytes, n); }
    int EnviaMarcaCcir(int32_t id, const void* bytes, int32_t n) { return EnviaContados(COD_MARCA_CCIR, id, bytes, n); }
    int EnviaCallerId(int32_t id, const void* bytes, int32_t n) { return EnviaContados(COD_CALLER_ID, id, bytes, n); }

    int EnviaLlama(int32_t id, int32_t prioridad, const void* origen, int32_t nOrigen,
                   const void* destino, int32_t nDestino);
    int EnviaIntervencionPrioridad(int32_t id, int32_t prioridad, const void* origen,
                                   int32_t nOrigen, const void* destino, int32_t nDestino,
                                   int32_t c);

    int EnviaDigitoDtmf(int32_t id, uint8_t digito, int32_t valor) { return EnviaEnteroByteEntero(COD_DIGITO_DTMF, id, digito, valor); }
    int EnviaSelcal(int32_t id, uint8_t b, int32_t valor) { return EnviaEnteroByteEntero(COD_SELCAL, id, b, valor); }
    int EnviaCreaCanalHermano(int32_t pid, uint8_t modo);
    int EnviaDiagnostico(uint8_t comando, int32_t id, int32_t resultado);

    int EnviaNotificaEstadoRecurso(const NotificacionEstado* estado);
    int EnviaTomaConfigLCEN(int32_t id, const void* bloque88) { return EnviaIdBloque(COD_TOMA_CONFIG_LCEN, id, bloque88, TAM_BLOQUE_LCEN); }
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

    int EnviaTraza(const char* formato, ...) __attribute__((format(printf, 2, 3)));
    // bloque: the 65-byte general block (szDirVirtual). -2 when the side file could not be
    // written (the message is sent all the same).
    int EnviaTomaConfig(const char* bloque, const cfgConfigRecurso* registro);
    int EnviaMensaje23(uint8_t a, int32_t b, const char* texto1, int32_t c, const char* texto2,
                       int32_t d, int32_t e, uint8_t f);

    // ---- Handler table: one setter per word; each returns 0 ----
    int RegistraEvtReset(TpEvtPeer f) { return Registra(0, f); }
    int RegistraEvtTermina(TpEvtPeer f) { return Registra(1, f); }
    int RegistraEvtSinConfig(TpEvtPeer f) { return Registra(2, f); }
    int RegistraEvtPintaEstadisticas(TpEvtSinArgs f) { return Registra(3, f); }
    int RegistraEvtTomaConfig(TpEvtTomaConfig f) { return Registra(4, f); }
    int RegistraEvtLlamadaSaliente(TpEvtLlamada f) { return Registra(5, f); }
    int RegistraEvtLlamadaEntrante(TpEvtLlamada f) { return Registra(6, f); }
    int RegistraEvtFinLlamada(TpEvtDosEnteros f) { return Registra(7, f); }
    int RegistraEvtConversacionInterrumpida(TpEvtUnEntero f) { return Registra(8, f); }
    int RegistraEvtRinging(TpEvtDosEnteros f) { return Registra(9, f); }
    int RegistraEvtAceptaLlamada(TpEvtDosEnteros f) { return Registra(10, f); }
    int RegistraEvtRechazaLlamada(TpEvtDosEnteros f) { return Registra(11, f); }
    int RegistraEvtIntervencion(TpEvtLlamada f) { return Registra(12, f); }
    int RegistraEvtAbortaIntervencion(TpEvtUnEntero f) { return Registra(13, f); }
    int RegistraEvtNuevaSesion(TpEvtSesion f) { return Registra(14, f); }
    int RegistraEvtModificaSesion(TpEvtSesion f) { return Registra(15, f); }
    int RegistraEvtFinSesion(TpEvtDosEnteros f) { return Registra(16, f); }
    int RegistraEvtFinSesionPreemption(TpEvtValor f) { return Registra(17, f); }
    int RegistraEvtNivelConsola(TpEvtValor f) { return Registra(18, f); }
    int RegistraEvtNivelIncidencias(TpEvtValor f) { return Registra(19, f); }
    int RegistraEvtModoTest(TpEvtValor f) { return Registra(20, f); }
    int RegistraEvtMensaje23(TpEvtMensaje23 f) { return Registra(21, f); }
    int RegistraEvtTraza(TpEvtTexto f) { return Registra(22, f); }
    int RegistraEvtDiagnostico(TpEvtDiagnostico f) { return Registra(23, f); }
    int RegistraEvtCreaCanalHermano(TpEvtCreaCanal f) { return Registra(24, f); }
    int RegistraEvtNotificaEstadoRecurso(TpEvtEstado f) { return Registra(25, f); }
    int RegistraEvtInfoLlamada(TpEvtTresEnteros f) { return Registra(26, f); }
    int RegistraArrancaRecurso(TpEvtDosEnteros f) { return Registra(27, f); }
    int RegistraEvtDspRecursoCreado(TpEvtUnEntero f) { return Registra(28, f); }
    int RegistraLiberaRecurso(TpEvtUnEntero f) { return Registra(29, f); }
    int RegistraTomaCanalIfTx(TpEvtDosEnteros f) { return Registra(30, f); }
    int RegistraTomaCanalIfRx(TpEvtDosEnteros f) { return Registra(31, f); }
    int RegistraTomaCanalHostTx(TpEvtDosEnteros f) { return Registra(32, f); }
    int RegistraTomaCanalHostRx(TpEvtDosEnteros f) { return Registra(33, f); }
    int RegistraQuitaCanalHostRx(TpEvtDosEnteros f) { return Registra(34, f); }
    int RegistraTomaCodecIfTx(TpEvtDosEnteros f) { return Registra(35, f); }
    int RegistraTomaCodecIfRx(TpEvtDosEnteros f) { return Registra(36, f); }
    int RegistraTomaCodecHostTx(TpEvtDosEnteros f) { return Registra(37, f); }
    int RegistraTomaCodecHostRx(TpEvtDosEnteros f) { return Registra(38, f); }
    int RegistraTomaProtocolo(TpEvtDosEnteros f) { return Registra(39, f); }
    int RegistraSelecCancelEcoTx(TpEvtDosEnteros f) { return Registra(40, f); }
    int RegistraSelecCagTx(TpEvtTresEnteros f) { return Registra(41, f); }
    int RegistraSelecCagRx(TpEvtTresEnteros f) { return Registra(42, f); }
    int RegistraSelecVoxTx(TpEvtTresEnteros f) { return Registra(43, f); }
    int RegistraSelecVoxRx(TpEvtTresEnteros f) { return Registra(44, f); }
    int RegistraSelecDetCallProgress(TpEvtTresEnteros f) { return Registra(45, f); }
    int RegistraSelecDetDtmf(TpEvtDosEnteros f) { return Registra(46, f); }
    int RegistraSelecDetCallerID(TpEvtDosEnteros f) { return Registra(47, f); }
    int RegistraSelecBss(TpEvtDosEnteros f) { return Registra(48, f); }
    int RegistraGeneraSecuenciaTonosTx(TpEvtTresEnteros f) { return Registra(49, f); }
    int RegistraGeneraSecuenciaTonosRx(TpEvtTresEnteros f) { return Registra(50, f); }
    int RegistraAnalizaBucle(TpEvtTresEnteros f) { return Registra(51, f); }
    int RegistraMarcaDtmf(TpEvtBytes f) { return Registra(52, f); }
    int RegistraMarcaSelcal(TpEvtBytes f) { return Registra(53, f); }
    int RegistraMarcaCcir(TpEvtBytes f) { return Registra(54, f); }
    int RegistraLlama(TpEvtLlama f) { return Registra(55, f); }
    int RegistraDescuelga(TpEvtUnEntero f) { return Registra(56, f); }
    int RegistraLibera(TpEvtUnEntero f) { return Registra(57, f); }
    int RegistraRespondeLibre(TpEvtUnEntero f) { return Registra(58, f); }
    int RegistraRespondeOcupado(TpEvtUnEntero f) { return Registra(59, f); }
    int RegistraRespondeCongestion(TpEvtUnEntero f) { return Registra(60, f); }
    int RegistraRespondeFueraDeServicio(TpEvtUnEntero f) { return Registra(61, f); }
    int RegistraIntervencionPrioridad(TpEvtIntervencionPrioridad f) { return Registra(62, f); }
    int RegistraFinIntervencion(TpEvtUnEntero f) { return Registra(63, f); }
    int RegistraAparca(TpEvtUnEntero f) { return Registra(64, f); }
    int RegistraDesaparca(TpEvtUnEntero f) { return Registra(65, f); }
    int RegistraBloqueaLinea(TpEvtUnEntero f) { return Registra(66, f); }
    int RegistraTomaConfigLCEN(TpEvtBloque f) { return Registra(67, f); }
    int RegistraTomaConfigR2(TpEvtBloque f) { return Registra(68, f); }
    int RegistraTomaConfigN5(TpEvtBloque f) { return Registra(69, f); }
    int RegistraEvtDigitoDtmf(TpEvtEnteroByteEntero f) { return Registra(70, f); }
    int RegistraEvtSelcal(TpEvtEnteroByteEntero f) { return Registra(71, f); }
    int RegistraEvtCallerId(TpEvtBytes f) { return Registra(72, f); }
    int RegistraEvtCallProgress(TpEvtDosEnteros f) { return Registra(73, f); }
    int RegistraEvtDspEvento84(TpEvtDosEnteros f) { return Registra(74, f); }
    int RegistraEvtBucle(TpEvtTresEnteros f) { return Registra(75, f); }
    int RegistraEvtErrorInterno(TpEvtDosEnteros f) { return Registra(76, f); }
    int RegistraEvtDspReposo(TpEvtUnEntero f) { return Registra(77, f); }
    int RegistraEvtDspConversacionInterrumpida(TpEvtUnEntero f) { return Registra(78, f); }
    int RegistraEvtDspLineaBloqueada(TpEvtUnEntero f) { return Registra(79, f); }
    int RegistraEvtDspTimeout(TpEvtUnEntero f) { return Registra(80, f); }
    int RegistraEvtDspErrorProtocolo(TpEvtUnEntero f) { return Registra(81, f); }
    int RegistraEvtEstadoDsp(TpEvtDosEnteros f) { return Registra(82, f); }
    int RegistraDebug(TpEvtUnEntero f) { return Registra(83, f); }

    static constexpr int NUM_MANEJADORES = 84;

private:
    typedef void (*TpManejador)();
    template <typename F>
    int Registra(int palabra, F f) {
        atManejadores[palabra].store(reinterpret_cast<TpManejador>(f));
        return 0;
    }
    template <typename F>
    F Manejador(int palabra) const {
        return reinterpret_cast<F>(atManejadores[palabra].load());
    }

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
    std::atomic<TpManejador> atManejadores[NUM_MANEJADORES];
};

// Discards every pending message of the queue, whatever its address, for kinds 1 and 3.
void VaciaCola(Cola* cola);
