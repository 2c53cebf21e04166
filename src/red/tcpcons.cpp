#include "red/tcpcons.h"

#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "comun/hilo.h"
#include "comun/gestormutex.h"
#include "comun/uptime.h"

namespace {

const char kRechazo[] = "Demasiadas conexiones entrantes.\n\r";
static_assert(sizeof kRechazo == 35, "the refusal goes out with its NUL");

const int kFlagsEnvio = MSG_DONTWAIT | MSG_NOSIGNAL;
const int kLecturasVaciasCierre = 4;
const int kMaxRecepcion = 256;

// Free from the start: a start closes what the slots hold, and a zeroed slot would name
// descriptor 0, which by then may be another part's socket.
struct Ranura {
    int iSocket = -1;            // -1 when free
    uint32_t uiConexion = 0;     // number of the connection, never reused; 0 when free
    uint32_t uiUltimaRx = 0;     // clock ms of the last input
    int iLecturasVacias = 0;
    uint8_t ucEscrito = 0;       // output sent since the keep-alive thread last looked
};

std::atomic<int> giPuerto{0};
std::atomic<uint32_t> guiMascara{0xFFFFFFFFu};
std::atomic<uint32_t (*)()> gfReloj{uptUpTime};

pthread_mutex_t gtMutexSockets;  // "TcpCons.tMutexSockets": giEscucha, giEscuchaEnUso, gaRanuras,
                                 // giConexiones, giEntrada, guiUltimaConexion
int giEscucha = -1;
int giEscuchaEnUso = -1;  // listening socket the accept thread may be inside accept on
Ranura gaRanuras[TcpCons::MAX_CONEXIONES];
int giConexiones = 0;
int giEntrada = -1;  // socket of the input connection
uint32_t guiUltimaConexion = 0;

pthread_mutex_t gtMutexBufferRx;  // "TcpCons.tMutexBufferRx": gacBufferRx, gauiOrigenRx, giLlenoRx
pthread_cond_t gtCondRx;
char gacBufferRx[TcpCons::LON_BUFFER_RX];
uint32_t gauiOrigenRx[TcpCons::LON_BUFFER_RX];  // connection each byte came from
int giLlenoRx = 0;

std::atomic<bool> gbMutexCreados{false};
bool gbHiloAcepta = false, gbHiloRecibe = false, gbHiloVigila = false;

void LiberaRanura(Ranura& r) { r = Ranura{-1, 0, 0, 0, 0}; }

// With gtMutexSockets held. Returns the socket removed, -1 when nothing was removed.
int QuitaBloqueado(int iRanura) {
    if (iRanura < 0 || iRanura >= TcpCons::MAX_CONEXIONES) return -1;
    int s = gaRanuras[iRanura].iSocket;
    if (s < 0 || giConexiones == 0) return -1;
    if (s == giEntrada) {
        giEntrada = -1;
        for (int i = 0; i < TcpCons::MAX_CONEXIONES; ++i)
            if (i != iRanura && gaRanuras[i].iSocket >= 0) {
                giEntrada = gaRanuras[i].iSocket;
                break;
            }
    }
    LiberaRanura(gaRanuras[iRanura]);
    --giConexiones;
    return s;
}

void CierraSocket(int s) {
    if (s < 0) return;
    shutdown(s, SHUT_RDWR);
    close(s);
}

uint32_t Ahora() { return gfReloj.load()(); }

// With gtMutexSockets held: a listening socket taken out of use. While the accept thread may be
// inside accept on it, it is only shut down, which wakes the thread, and the thread closes it:
// closed here, its number could be reused and accepted on. Returns the socket for the caller
// to close, or -1.
int RetiraEscucha(int s) {
    if (s < 0 || s != giEscuchaEnUso) return s;
    shutdown(s, SHUT_RDWR);
    return -1;
}

// Only the one that removed a slot closes its socket, so a number is never closed twice.
// Sends and receives on slot sockets happen under gtMutexSockets, after checking that the
// slot still holds the socket, so a number closed and reused meanwhile is never touched;
// they never wait (MSG_DONTWAIT), so the lock is held briefly.

void AnadeEntrada(const char* p, int n, uint32_t uiConexion) {
    pthread_mutex_lock(&gtMutexBufferRx);
    // A line left unfinished by a connection that is no longer the input one ended with it:
    // it must not become the head of the next operator's command.
    if (giLlenoRx > 0 && gauiOrigenRx[giLlenoRx - 1] != uiConexion) {
        while (giLlenoRx > 0 && gacBufferRx[giLlenoRx - 1] != '\0') --giLlenoRx;
    }
    int iCabe = TcpCons::LON_BUFFER_RX - giLlenoRx;
    if (n > iCabe) n = iCabe;
    memcpy(gacBufferRx + giLlenoRx, p, static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) gauiOrigenRx[giLlenoRx + i] = uiConexion;
    giLlenoRx += n;
    pthread_cond_broadcast(&gtCondRx);
    pthread_mutex_unlock(&gtMutexBufferRx);
}

void* HiloAcepta(void*) {
    FijaPrioridadHilo(1);
    for (;;) {
        pthread_mutex_lock(&gtMutexSockets);
        int fd = giEscucha;
        // Under the lock: a socket shut down by Cierra must not be made to listen again.
        bool bEscucha = fd >= 0 && listen(fd, TcpCons::MAX_CONEXIONES) == 0;
        giEscuchaEnUso = bEscucha ? fd : -1;
        pthread_mutex_unlock(&gtMutexSockets);
        if (!bEscucha) {
            DuermeMs(1000);
            continue;
        }
        int s = accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
        pthread_mutex_lock(&gtMutexSockets);
        giEscuchaEnUso = -1;
        const bool bRetirado = fd != giEscucha;
        pthread_mutex_unlock(&gtMutexSockets);
        if (bRetirado) CierraSocket(fd);
        if (s < 0) {
            if (errno != EINTR && errno != ECONNABORTED) DuermeMs(1000);
            continue;
        }
        if (TcpCons::AnadeConexion(s) < 0) {
            send(s, kRechazo, sizeof kRechazo, kFlagsEnvio);
            CierraSocket(s);
        }
    }
    return nullptr;
}

void* HiloRecibe(void*) {
    FijaPrioridadHilo(1);
    for (;;) {
        int aiSockets[TcpCons::MAX_CONEXIONES];
        pthread_mutex_lock(&gtMutexSockets);
        int n = giConexiones;
        for (int i = 0; i < TcpCons::MAX_CONEXIONES; ++i) aiSockets[i] = gaRanuras[i].iSocket;
        pthread_mutex_unlock(&gtMutexSockets);
        if (n == 0) {
            DuermeMs(2000);
            continue;
        }

        pollfd asEspera[TcpCons::MAX_CONEXIONES];
        for (int i = 0; i < TcpCons::MAX_CONEXIONES; ++i) asEspera[i] = pollfd{aiSockets[i], POLLIN, 0};
        // A socket removed meanwhile is only a false alarm: the slot is checked again below.
        if (poll(asEspera, TcpCons::MAX_CONEXIONES, 2000) < 0)
            for (auto& p : asEspera) p.revents = 0;

        for (int i = 0; i < TcpCons::MAX_CONEXIONES; ++i) {
            int s = aiSockets[i];
            if (s < 0 || asEspera[i].revents == 0) continue;
            char acRx[kMaxRecepcion];
            int iCerrar = -1;
            bool bEntrada = false;
            uint32_t uiConexion = 0;
            pthread_mutex_lock(&gtMutexSockets);
            if (gaRanuras[i].iSocket != s) {
                pthread_mutex_unlock(&gtMutexSockets);
                continue;
            }
            int r = static_cast<int>(recv(s, acRx, sizeof acRx, MSG_DONTWAIT));
            if (r > 0) {
                gaRanuras[i].uiUltimaRx = Ahora();
                bEntrada = (s == giEntrada);
                uiConexion = gaRanuras[i].uiConexion;
            } else if (r == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
                // A failed receive counts as the peer going away.
                if (++gaRanuras[i].iLecturasVacias >= kLecturasVaciasCierre) iCerrar = QuitaBloqueado(i);
            }
            pthread_mutex_unlock(&gtMutexSockets);
            CierraSocket(iCerrar);
            // A lone NUL is what some terminals send on their own: not an empty command.
            if (bEntrada && !(r == 1 && acRx[0] == '\0')) AnadeEntrada(acRx, r, uiConexion);
        }

        uint32_t uiAhora = Ahora();
        for (int i = 0; i < TcpCons::MAX_CONEXIONES; ++i) {
            pthread_mutex_lock(&gtMutexSockets);
            int iCerrar = -1;
            if (gaRanuras[i].iSocket >= 0 &&
                static_cast<int32_t>(uiAhora - gaRanuras[i].uiUltimaRx) > TcpCons::MS_SILENCIO)
                iCerrar = QuitaBloqueado(i);
            pthread_mutex_unlock(&gtMutexSockets);
            CierraSocket(iCerrar);
        }
    }
    return nullptr;
}

void* HiloVigila(void*) {
    FijaPrioridadHilo(1);
    for (;;) {
        for (auto& r : gaRanuras) {
            pthread_mutex_lock(&gtMutexSockets);
            if (r.iSocket >= 0) {
                if (r.ucEscrito)
                    r.ucEscrito = 0;
                else
                    send(r.iSocket, "", 1, kFlagsEnvio);
            }
            pthread_mutex_unlock(&gtMutexSockets);
        }
        DuermeMs(2000);
    }
    return nullptr;
}

// Starts a detached thread once; true when it runs.
bool ArrancaHilo(bool& bArrancado, void* (*fHilo)(void*)) {
    if (bArrancado) return true;
    bArrancado = CreaHiloSuelto(nullptr, fHilo, nullptr) == 0;
    return bArrancado;
}

}  // namespace

namespace TcpCons {

int Inicia(int iPuerto) {
    // A retry after a failed start: the threads may run already and use the table.
    if (gbMutexCreados) pthread_mutex_lock(&gtMutexSockets);
    for (auto& r : gaRanuras) {
        CierraSocket(r.iSocket);
        LiberaRanura(r);
    }
    giConexiones = 0;
    giEntrada = -1;
    int iViejo = RetiraEscucha(giEscucha);
    giEscucha = -1;
    if (gbMutexCreados) pthread_mutex_unlock(&gtMutexSockets);
    CierraSocket(iViejo);
    giPuerto = iPuerto;

    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) return -2;
    // A restarted core must get its port back while old connections linger in TIME_WAIT.
    int iUno = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &iUno, sizeof iUno);
    sockaddr_in sa = {};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_ANY);
    sa.sin_port = htons(static_cast<uint16_t>(iPuerto));
    if (bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) < 0) {
        close(s);
        return -3;
    }

    if (iPuerto > 0) {
        if (!gbMutexCreados) {
            CreaMutex("TcpCons.tMutexSockets", &gtMutexSockets, nullptr);
            CreaMutex("TcpCons.tMutexBufferRx", &gtMutexBufferRx, nullptr);
            pthread_cond_init(&gtCondRx, nullptr);
            uptInicia();
            gbMutexCreados = true;
        }
        // Listening at once: a client may connect before the accept thread runs.
        listen(s, MAX_CONEXIONES);
        pthread_mutex_lock(&gtMutexSockets);
        giEscucha = s;
        pthread_mutex_unlock(&gtMutexSockets);
        if (!ArrancaHilo(gbHiloAcepta, HiloAcepta) || !ArrancaHilo(gbHiloRecibe, HiloRecibe) ||
            !ArrancaHilo(gbHiloVigila, HiloVigila))
            return -1;
    } else {
        giEscucha = s;
    }
    guiMascara = 0xFFFFFFFFu;
    return 0;
}

void Cierra() {
    if (gbMutexCreados) pthread_mutex_lock(&gtMutexSockets);
    int s = RetiraEscucha(giEscucha);
    giEscucha = -1;
    if (gbMutexCreados) pthread_mutex_unlock(&gtMutexSockets);
    CierraSocket(s);
}

int AnadeConexion(int iSocket) {
    pthread_mutex_lock(&gtMutexSockets);
    int iRanura = -1;
    if (giConexiones < MAX_CONEXIONES) {
        for (int i = 0; i < MAX_CONEXIONES && iRanura < 0; ++i)
            if (gaRanuras[i].iSocket < 0) iRanura = i;
        if (++guiUltimaConexion == 0) ++guiUltimaConexion;  // 0 stands for standard input
        gaRanuras[iRanura] = Ranura{iSocket, guiUltimaConexion, Ahora(), 0, 0};
        if (++giConexiones == 1) giEntrada = iSocket;
    }
    pthread_mutex_unlock(&gtMutexSockets);
    return iRanura;
}

int QuitaConexion(int iRanura) {
    pthread_mutex_lock(&gtMutexSockets);
    int s = QuitaBloqueado(iRanura);
    pthread_mutex_unlock(&gtMutexSockets);
    return s;
}

int NumeroConexiones() {
    if (!gbMutexCreados) return 0;
    pthread_mutex_lock(&gtMutexSockets);
    int n = giConexiones;
    pthread_mutex_unlock(&gtMutexSockets);
    return n;
}

void Escribe(const char* pBuf, int iLong) {
    if (!gbMutexCreados || iLong <= 0) return;
    for (int i = 0; i < MAX_CONEXIONES; ++i) {
        int iCerrar = -1;
        pthread_mutex_lock(&gtMutexSockets);
        Ranura& r = gaRanuras[i];
        if (r.iSocket >= 0) {
            if (send(r.iSocket, pBuf, static_cast<size_t>(iLong), kFlagsEnvio) >= 0)
                r.ucEscrito = 1;
            else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                iCerrar = QuitaBloqueado(i);
            // EAGAIN: a client that does not read loses this text, nothing more.
        }
        pthread_mutex_unlock(&gtMutexSockets);
        CierraSocket(iCerrar);
    }
}

static int VPrintf(const char* szFormato, va_list ap) {
    if (giPuerto <= 0) return vprintf(szFormato, ap);
    char acTexto[LON_TEXTO];
    int n = vsnprintf(acTexto, sizeof acTexto, szFormato, ap);
    if (n > 0) Escribe(acTexto, n < LON_TEXTO ? n : LON_TEXTO - 1);
    return n;
}

int Printf(const char* szFormato, ...) {
    va_list ap;
    va_start(ap, szFormato);
    int n = VPrintf(szFormato, ap);
    va_end(ap);
    return n;
}

int Traza(uint32_t uiMascara, const char* szFormato, ...) {
    if ((uiMascara & guiMascara) == 0) return 0;
    va_list ap;
    va_start(ap, szFormato);
    int n = VPrintf(szFormato, ap);
    va_end(ap);
    return n;
}

void Perror(const char* szTexto) {
    int iErr = errno;
    if (giPuerto <= 0) {
        perror(szTexto);
        return;
    }
    std::string s = szTexto ? szTexto : "";
    if (s.size() < 1020) {
        char acSistema[256];
        s += std::string(": ") + strerror_r(iErr, acSistema, sizeof acSistema) + "\n";
    }
    if (s.size() > LON_TEXTO - 1) s.resize(LON_TEXTO - 1);
    Escribe(s.data(), static_cast<int>(s.size()));
    errno = iErr;
}

void TrazaPerror(uint32_t uiMascara, const char* szTexto) {
    if (uiMascara & guiMascara) Perror(szTexto);
}

void FijaMascaraTraza(uint32_t uiMascara) { guiMascara = uiMascara; }
uint32_t MascaraTraza() { return guiMascara; }

// With gtMutexBufferRx held: waits until a line is complete; its end, null when the buffer is
// full without one (its whole content is then the line).
static const char* EsperaLinea() {
    const char* pFin;
    while ((pFin = static_cast<const char*>(memchr(gacBufferRx, '\0', static_cast<size_t>(giLlenoRx)))) == nullptr &&
           giLlenoRx < LON_BUFFER_RX)
        pthread_cond_wait(&gtCondRx, &gtMutexBufferRx);
    return pFin;
}

uint32_t ConexionSiguienteLinea() {
    if (giPuerto <= 0 || !gbMutexCreados) return 0;
    pthread_mutex_lock(&gtMutexBufferRx);
    EsperaLinea();
    const uint32_t ui = gauiOrigenRx[0];
    pthread_mutex_unlock(&gtMutexBufferRx);
    return ui;
}

char* LeeLinea(char* szBuf, int iTam, uint32_t* puiConexion) {
    if (puiConexion) *puiConexion = 0;
    if (giPuerto <= 0 || !gbMutexCreados) return fgets(szBuf, iTam, stdin);
    pthread_mutex_lock(&gtMutexBufferRx);
    const char* pFin = EsperaLinea();
    if (puiConexion) *puiConexion = gauiOrigenRx[0];
    // Without a NUL the buffer is full: its whole content is the line.
    int iLinea = pFin ? static_cast<int>(pFin - gacBufferRx) : giLlenoRx;
    int iQuita = pFin ? iLinea + 1 : giLlenoRx;
    if (iTam > 0) {
        int iCopia = iLinea < iTam - 1 ? iLinea : iTam - 1;
        memcpy(szBuf, gacBufferRx, static_cast<size_t>(iCopia));
        szBuf[iCopia] = '\0';
    }
    memmove(gacBufferRx, gacBufferRx + iQuita, static_cast<size_t>(giLlenoRx - iQuita));
    memmove(gauiOrigenRx, gauiOrigenRx + iQuita, sizeof gauiOrigenRx[0] * static_cast<size_t>(giLlenoRx - iQuita));
    giLlenoRx -= iQuita;
    pthread_mutex_unlock(&gtMutexBufferRx);
    return szBuf;
}

void FijaReloj(uint32_t (*fReloj)()) { gfReloj = fReloj ? fReloj : uptUpTime; }

}  // namespace TcpCons

int tcpcInicia(int iPuerto) { return TcpCons::Inicia(iPuerto); }
