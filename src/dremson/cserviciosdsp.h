// The DSP service object: the board's DSP (one entry, DSP 0), its 16 channels lent to the
// resources of the resource processes, the two threads that boot, receive from and supervise
// the DSP, the command wrappers on behalf of the resource processes and the forwarding of the
// DSP's events to the owner of each channel.
//
// Locks: tMutex guards the channel table; it is held by the boot/receive thread around each
// receive step (so every DSP event handler runs with it) and by the supervisor around each
// supervision step. It is recursive because a boot step may bring the link down outside both
// steps, and the link handlers take it themselves. The command wrappers take no lock: each
// command is one device write, which the master serialises.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <initializer_list>

#include "cmasterdsp.h"

class Cola;

class CServiciosDsp : public CMasterDsp::CEventos {
public:
    enum { NUM_DSPS = 1, NUM_CANALES = 16 };
    // Result codes.
    static constexpr int ERR_SIN_ENTRADA = -200;    // no free entry or channel; thread not started
    static constexpr int ERR_SIN_DSP = -202;
    static constexpr int ERR_RECURSO_DESCONOCIDO = -203;
    static constexpr int ERR_DSP_YA_ARRANCADO = -204;
    static constexpr int ERR_CANALES_OCUPADOS = -205;
    // DSP entry states.
    enum { DSP_LIBRE = 0, DSP_CAIDO = 1, DSP_OK = 2 };
    // Automatic answers of an incoming call.
    enum { RESPUESTA_NINGUNA = 0, RESPUESTA_LIBRE, RESPUESTA_OCUPADO, RESPUESTA_CONGESTION,
           RESPUESTA_FUERA_SERVICIO, RESPUESTA_MAXIMA = 5 };
    static constexpr uint32_t IND_LLAMADA_ESPERA = 1;  // an incoming call waits for its answer

    struct EntradaDsp {
        int32_t iEstadoDsp;
        int32_t iSlot;
        int32_t iPcm;
        int32_t iPcmAux;
        int32_t aiIdRecurso[NUM_CANALES];  // -1 free
        Cola* apCanalIpc[NUM_CANALES];     // owner's channel, not owned; none from the console
        int32_t aiRespuestas[NUM_CANALES];
        uint32_t aiIndicadores[NUM_CANALES];
        CMasterDsp oMaster;
        int32_t iRecursosEnUso;
    };

    CServiciosDsp();
    ~CServiciosDsp() override = default;
    CServiciosDsp(const CServiciosDsp&) = delete;
    CServiciosDsp& operator=(const CServiciosDsp&) = delete;

    // Receiver of the DSP's state (slot, 1 up / 0 down) for the core; set before NuevoDsp.
    typedef int (*FnAvisoEstado)(int32_t iSlot, int32_t iEstado);
    void FijaAvisoEstado(FnAvisoEstado pf) { pfAvisoEstado.store(pf); }

    int NuevoDsp(int iSlot, int iPcm, int iPcmAux);
    int ArrancaRecurso(int32_t idRecurso, int32_t iArgumento, Cola* pCanal);
    int LiberaRecurso(int32_t idRecurso);
    // Frees every channel of a resource process; its channel object is the IPC layer's.
    int LiberaRecursosCanal(Cola* pCanal);
    int BuscaRecurso(int32_t idRecurso, int* piDsp, int* piCanal);
    Cola* ObtenCanalIpcRecurso(int iDsp, int iCanal);
    void FijaVisualizacion(int iValor);
    void PintaInfo();

    // ---- Command wrappers: the master's command on the resource's channel ----
#define VK_SERVICIO_DECLARA(a, ldsp, nombre, NOMBRE, cola, manejador, metodo, dsp, forma) \
    int metodo(int32_t id VK_DSP_PARAMETROS_##forma);
    VK_COMANDOS_DSP(VK_SERVICIO_DECLARA, _)
#undef VK_SERVICIO_DECLARA
    int SelecCancelEcoRx(int32_t id, int v);
    int TomaConfigR2(int32_t id, const int32_t* piBloque);
    int TomaConfigN5(int32_t id, const int32_t* piBloque);
    int SelecRespuesta(int32_t id, int iRespuesta);

    // ---- Link and DSP events (the master calls them) ----
    void EvtDspOk(int iDsp) override;
    void EvtDspCaido(int iDsp) override;
    void EvtDigitoDtmf(int iDsp, int iCanal, int iDigito, int iValor) override;
    void EvtVoxTx(int iDsp, int iCanal, int a, int b) override;
    void EvtVoxRx(int iDsp, int iCanal, int a, int b) override;
    void EvtDspEvento84(int iDsp, int iCanal, int iValor) override;
    void EvtBucle(int iDsp, int iCanal, int a, int b, int c, int d) override;
    void EvtReposo(int iDsp, int iCanal) override;
    void EvtLlamadoLibre(int iDsp, int iCanal) override;
    void EvtLlamadoOcupado(int iDsp, int iCanal) override;
    void EvtLlamadaEntrante(int iDsp, int iCanal, int iPrioridad, const uint8_t* pucOrigen, int iLongOrigen,
                            const uint8_t* pucDestino, int iLongDestino) override;
    void EvtLlamadaLiberada(int iDsp, int iCanal, int iCausa) override;
    void EvtConversacionInterrumpida(int iDsp, int iCanal) override;
    void EvtCongestion(int iDsp, int iCanal) override;
    void EvtFueraServicio(int iDsp, int iCanal) override;
    void EvtLineaBloqueada(int iDsp, int iCanal) override;
    void EvtTimeout(int iDsp, int iCanal) override;
    void EvtErrorProtocolo(int iDsp, int iCanal) override;
    void EvtLlamadoDescuelga(int iDsp, int iCanal) override;

    // Queries for the console and tests.
    int NumDsps() const { return iNumDsps; }
    int EstadoDsp();
    int RecursosEnUso();
    int VisualizaIncidencias() const { return iVisualizaIncidencias; }

private:
    static void* HiloBootloader(void* pArg);
    static void* HiloSupervisorComandos(void* pArg);
    void BucleBootloader();
    void BucleSupervisor();
    // Tells the owner that its channel is gone when the command found the link down.
    void AvisaLiberaSiCaido(int iResultado, int iDsp, int iCanal, int32_t idRecurso);
    // Resource id and owner of a channel of DSP 0 that an event names; false when the event
    // goes nowhere (channel above 15, DSP not started, channel free or without owner).
    bool Destino(int iDsp, int iCanal, int32_t* pidRecurso, Cola** ppCanal);
    void AvisaEstado(int32_t iSlot, int32_t iEstado);
    // An incoming call on the channel no longer waits for its answer.
    void NingunaLlamadaEspera(int iDsp, int iCanal);
    // The trace of an event handler, written with tMutex released.
    void TrazaEvento(bool bEnviado, const char* szFormato, ...) __attribute__((format(printf, 3, 4)));
    // Frees one channel of the table (tMutex held).
    static void VaciaCanal(EntradaDsp& e, int iCanal);
    void Toma() { pthread_mutex_lock(&tMutex); }
    void Suelta() { pthread_mutex_unlock(&tMutex); }
    // One member of the command wrapper family: the channel of the resource, the master's
    // command, its trace (named after it, with its parameters) and the owner told on link down.
    template <typename F>
    int Ejecuta(int32_t idRecurso, const char* szNombre, std::initializer_list<int> aiParametros, F fComando);

    pthread_t tHiloSupervisor{};
    pthread_t tHiloBootloader{};
    pthread_mutex_t tMutex;
    int32_t iNumDsps;
    int32_t iVisualizaIncidencias;
    EntradaDsp asListaDsp[NUM_DSPS];
    std::atomic<FnAvisoEstado> pfAvisoEstado{nullptr};
};
