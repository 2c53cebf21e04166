#include "red/histclient.h"

#include <unistd.h>

#include <cstdio>

#include "comun/gestormutex.h"
#include "comun/nlog.h"

HistClient::HistClient(bool bComandos) : pEstado(new Estado) {
    pEstado->bComandos = bComandos;
    CreaMutex("HistClient::tMutex", &pEstado->tMutex, nullptr);
}

HistClient::~HistClient() {
    pEstado->bParar = true;
    if (iPidArranque == getpid()) {
        if (pthread_equal(pthread_self(), tHilo)) return;
        // At most one pass: 100 ms, plus 1 s of waiting for a command in the core.
        for (int i = 0; i < 150 && !pEstado->bTerminado; ++i) DuermeMs(10);
        if (!pEstado->bTerminado) return;
        Espera();
    }
    DestruyeMutex(&pEstado->tMutex);
    delete pEstado;
}

void HistClient::Start(int iArg) {
    iPidArranque = getpid();
    CThread::Start(iArg);
}

void HistClient::Encola(std::string sTexto, uint8_t ucTipo) {
    pthread_mutex_lock(&pEstado->tMutex);
    pEstado->lCola.push_back(Registro{std::move(sTexto), ucTipo});
    pthread_mutex_unlock(&pEstado->tMutex);
}

size_t HistClient::Pendientes() {
    pthread_mutex_lock(&pEstado->tMutex);
    size_t n = pEstado->lCola.size();
    pthread_mutex_unlock(&pEstado->tMutex);
    return n;
}

void HistClient::AnadeHistorico(int n, const std::string& t1, const std::string& t2, const std::string& t3,
                                const std::string& t4) {
    char acNumero[15];  // the event number with its comma
    snprintf(acNumero, sizeof acNumero, "%d,", n);
    std::string s = std::string("V,H00,") + acNumero;
    const std::string* apTextos[] = {&t1, &t2, &t3, &t4};
    for (int i = 0; i < 4 && !apTextos[i]->empty(); ++i) {
        if (i > 0) s += ':';
        s += *apTextos[i];
    }
    Encola(std::move(s), 0);
}

void HistClient::EncolaT00() { Encola("C,T00", 1); }
void HistClient::EncolaT02() { Encola("C,T02", 1); }
void HistClient::EncolaN08(bool b) { Encola(b ? "C,N08,0" : "C,N08,1", 0); }

void HistClient::TomaCallbackRx(FnRxMant fCallback) { pEstado->fRxMant = fCallback; }

void HistClient::PrepareSocket(CUDPSocket& oSocket, int iPuerto) { PreparaSocket(oSocket, iPuerto); }

void HistClient::PreparaSocket(CUDPSocket& oSocket, int iPuerto) {
    NLOG::Log(NLOG::INFO, "PrepareSocket: %i", iPuerto);
    // The time-out first: without a bound port the receive must still return every second.
    oSocket.SetRecvTimeout(1);
    try {
        // Loopback only: the agent is local, and its commands switch radio equipment.
        oSocket.Bind(CSocketAddress("<localhost>", iPuerto));
    } catch (const socket_error& e) {
        NLOG::Log(NLOG::ERROR, "Excepcion en HistClient::PrepareSocket: %s", e.what());
    }
}

void HistClient::EnviaPrimero(Estado* e, CUDPSocket& oSocket, const CSocketAddress& oDestino) {
    pthread_mutex_lock(&e->tMutex);
    if (e->lCola.empty()) {
        pthread_mutex_unlock(&e->tMutex);
        return;
    }
    std::string sTexto = e->lCola.front().sTexto;
    // Each record gets exactly one attempt, sent or not.
    e->lCola.pop_front();
    pthread_mutex_unlock(&e->tMutex);

    NLOG::Log(NLOG::INFO, "TO-SNMP-VOIP: %s", sTexto.c_str());
    try {
        oSocket.SendTo(sTexto.data(), sTexto.size(), oDestino);
    } catch (const socket_error& e) {
        NLOG::Log(NLOG::ERROR, "Excepcion en HistClient::Run: %s", e.what());
    }
}

void HistClient::RecibeComando(Estado* e, CUDPSocket& oSocket) {
    char acComando[MAX_COMANDO + 1];
    int n = oSocket.RecvFrom(acComando, MAX_COMANDO);
    if (n <= 0) return;
    if (n > MAX_COMANDO) n = MAX_COMANDO;
    acComando[n] = '\0';
    printf("LEO %s\n", acComando);
    FnRxMant f = e->fRxMant;
    if (f) f(n, acComando);
}

void HistClient::Run() {
    Estado* e = pEstado;
    while (!e->bParar) {
        try {
            CUDPSocket oSocket(false);
            Bucle(e, oSocket);
        } catch (const socket_error& e) {
            // Only the creation of the socket gets here (no descriptor left): try again later.
            NLOG::Log(NLOG::ERROR, "Excepcion en HistClient::Run: %s", e.what());
            DuermeMs(1000);
        }
    }
    e->bTerminado = true;  // the last touch of the state
}

void HistClient::Bucle(Estado* e, CUDPSocket& oSocket) {
    CSocketAddress oDestino("127.0.0.1", PUERTO_AGENTE);
    if (e->bComandos) {
        NLOG::Log(NLOG::INFO, "PREPARE SOCKET\n");
        PreparaSocket(oSocket, PUERTO_MANT);
    }
    while (!e->bParar) {
        DuermeMs(e->uiPausaMs);
        EnviaPrimero(e, oSocket, oDestino);
        if (e->bComandos) RecibeComando(e, oSocket);
    }
}
