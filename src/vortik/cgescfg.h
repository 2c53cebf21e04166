// Configuration manager: keeps the live configuration in step with the image the
// configuration agent writes into shared memory (key 0x047BC021) and announces with real-time
// signal 40, firing one event per changed part.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <memory>

#include "cfg/cfgpasarela.h"

class CCONFIG;

class CGestorCfg {
public:
    // Receiver of the change events; they run on the manager's thread with its tMutex held.
    class CEventos {
    public:
        virtual void EvtReset() {}
        virtual void EvtReiniciaParamsQLN() {}
        virtual void EvtReiniciaVirtual() {}
        virtual void EvtReiniciaSip() {}
        virtual void EvtReiniciaSincro() {}
        virtual void EvtReiniciaSnmp() {}
        virtual void EvtReconfiguraEncamina() {}
        virtual void EvtArrancaRecurso(int iPosicion) { (void)iPosicion; }
        virtual void EvtDetieneRecurso(int iPosicion) { (void)iPosicion; }
        virtual void EvtReconfiguraRecurso(int iPosicion) { (void)iPosicion; }
        virtual void EvtReconfiguraColaterales(int iPosicion) { (void)iPosicion; }
        virtual void EvtReiniciaMulticast() {}

    protected:
        ~CEventos() = default;
    };

    enum { ESTADO_NO_INICIADO = 0, ESTADO_CONFIG_LOCAL = 1, ESTADO_SIGUE_IMAGEN = 5 };
    // Task codes.
    enum {
        TAREA_NINGUNA = -1,
        TAREA_ARRANCA = 1,
        TAREA_DETIENE = 2,
        TAREA_RECONFIGURA = 3,
        TAREA_PLANES = 4,
        TAREA_SIP = 5,
        TAREA_VIRTUAL = 7,
        TAREA_SINCRO = 8,
        TAREA_SNMP = 9,
        TAREA_COLATERALES = 10,
        TAREA_GENERAL = 11,
        TAREA_MULTICAST = 12
    };
    // Slots of the pending general tasks.
    enum { T_GENERAL, T_VIRTUAL, T_SIP, T_SINCRO, T_SNMP, T_PLANES, T_MULTICAST, NUM_TAREAS };

    static const int kClaveMemoria = 0x047BC021;
    static const int kSenalCambio = 40;

    // The agent's change signal (kSenalCambio) arrived: the next pass compares the image. Sets a
    // flag only, so a signal handler may call it.
    static void AvisaCambio();

    CGestorCfg();
    virtual ~CGestorCfg();
    CGestorCfg(const CGestorCfg&) = delete;
    CGestorCfg& operator=(const CGestorCfg&) = delete;

    // 0, or -2 when already started, an argument is null or the thread cannot be created.
    int Inicia(CCONFIG* poCfg, char* pDirVirtual, CEventos* poEventos);
    // 0 and the attached segment's address (and its id, when piId is given), or 1 (after perror)
    // when it is not there.
    static int AccesoMemoria(void** ppDireccion, int* piId = nullptr);
    void Compara();
    void EjecutaTareas();
    void ProcesaConfigLocal();
    void AvisoNivelConsola() {}

    // One pass of the supervision thread (the thread holds tMutex around it).
    void Pasada();
    // Time between passes; 1 s unless a test shortens it before Inicia.
    void FijaPeriodo(unsigned int uiMicrosegundos) { uiPeriodoUs = uiMicrosegundos; }
    int DameEstado() const { return iEstado; }
    // Change signals served so far (passes that compared an image).
    unsigned int DameCambiosAtendidos() const { return uiCambiosAtendidos.load(); }

private:
    static void* sSupervisa(void* pGestor);
    void Supervisa();
    void ComparaPlanes();
    void ComparaGenerales();

    int iIniciado;
    int iEstado;
    CCONFIG* poCfg;
    const void* pMemoria;  // attached segment, read only
    int iIdMemoria;        // its id: another one behind the key means the agent replaced it
    char* pDirVirtual;
    CEventos* poEventos;
    uint8_t aucFlgRecursoExisteRem[CFG_NUM_RECURSOS];
    int aiTareas[NUM_TAREAS];
    int aiTareasRecurso[CFG_NUM_RECURSOS];
    pthread_t tHilo;
    pthread_mutex_t tMutex;  // guards the manager's state; held for a whole pass
    std::unique_ptr<cfgImagenPasarela> pCopia;  // the image as last read from the segment
    unsigned int uiPeriodoUs;
    std::atomic<unsigned int> uiCambiosAtendidos;
};

// The core's configuration manager. Never destroyed: its thread runs until the process ends.
extern CGestorCfg& oGestorCfg;
