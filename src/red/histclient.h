// Event-record client: producers on any thread queue short text records and return at
// once; the client's thread sends them one per datagram, at most one every 100 ms, to the
// local SNMP agent at 127.0.0.1:65000 (no terminating NUL, one attempt per record).
//
// The core builds its client with bComandos = true: the records then leave from local
// port 65001, and each pass also waits up to 1 s for an agent command on 127.0.0.1:65001
// (at most 512 bytes), handed to the call-back of TomaCallbackRx on the client's thread.
//
// Use: one global per process; Start() once (records queued before are kept).
#pragma once

#include <pthread.h>
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <list>
#include <string>

#include "comun/cthread.h"
#include "red/cudpsocket.h"

class HistClient : public CThread {
public:
    typedef void (*FnRxMant)(int iLong, const char* szTexto);
    enum { PUERTO_AGENTE = 65000, PUERTO_MANT = 65001, MAX_COMANDO = 512, PAUSA_MS = 100 };

    explicit HistClient(bool bComandos = false);
    ~HistClient() override;

    // "V,H00,<n>," then the texts joined by ":", up to the first empty one.
    void AnadeHistorico(int n, const std::string& t1, const std::string& t2, const std::string& t3,
                        const std::string& t4);
    void EncolaT00();  // "C,T00"
    void EncolaT02();  // "C,T02"
    // "C,N08,0" when b is true, "C,N08,1" when false.
    void EncolaN08(bool b);
    void TomaCallbackRx(FnRxMant fCallback);

    // Binds to 127.0.0.1:iPuerto with a 1 s receive time-out; a failure is logged and the
    // client goes on without a bound socket.
    void PrepareSocket(CUDPSocket& oSocket, int iPuerto);
    void Start(int iArg = 0) override;
    void Run() override;

    // Ends the thread after its current pass; queued records stay unsent.
    void Para() { pEstado->bParar = true; }
    // Pause between passes (tests); PAUSA_MS by default.
    void FijaPausaMs(unsigned int uiMs) { pEstado->uiPausaMs = uiMs; }
    size_t Pendientes();

private:
    struct Registro {
        std::string sTexto;
        uint8_t ucTipo;  // 0 "V,H00" and "C,N08", 1 "C,T00" and "C,T02"; not read by the sender
    };
    // All the thread touches. A global client is destroyed at exit while its thread may
    // still run: the destructor then stops it, and leaves this behind if it will not stop.
    struct Estado {
        bool bComandos;
        std::list<Registro> lCola;
        pthread_mutex_t tMutex;  // guards lCola
        std::atomic<FnRxMant> fRxMant{nullptr};
        std::atomic<bool> bParar{false};
        std::atomic<bool> bTerminado{false};
        std::atomic<unsigned int> uiPausaMs{PAUSA_MS};
    };
    void Encola(std::string sTexto, uint8_t ucTipo);
    static void Bucle(Estado* e, CUDPSocket& oSocket);
    static void EnviaPrimero(Estado* e, CUDPSocket& oSocket, const CSocketAddress& oDestino);
    static void RecibeComando(Estado* e, CUDPSocket& oSocket);
    static void PreparaSocket(CUDPSocket& oSocket, int iPuerto);

    Estado* pEstado;
    pid_t iPidArranque = 0;  // a forked child has no thread to wait for
};
