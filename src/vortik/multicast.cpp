#include "multicast.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <pthread.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "comun/hilo.h"
#include "cfg/cfgpasarela.h"
#include "cgestordual.h"
#include "hardware/comando.h"
#include "comun/gestormutex.h"
#include "hardware/hardware.h"
#include "cconfig.h"
#include "comun/nlog.h"
#include "red/tcpcons.h"
#include "comun/trazapid.h"
#include "comun/vigilanciahilos.h"

namespace {
pthread_mutex_t tMutexMulticast;
std::atomic<int> giSocket{-1};
std::atomic<int> giPuerto{0};
std::atomic<void (*)(unsigned int)> gfEspera{DuermeMs};
// Group and port the reception thread is on (the default ones until it takes a configured pair).
std::mutex tMutexActual;
char gacGrupoActual[65] = "";  // empty: the default group
uint16_t gusPuertoActual = PUERTO_MULTICAST_DEFECTO;

ip_mreq Peticion(const char* szGrupo) {
    ip_mreq m{};
    if (inet_pton(AF_INET, szGrupo, &m.imr_multiaddr) != 1) m.imr_multiaddr.s_addr = INADDR_NONE;
    m.imr_interface.s_addr = htonl(INADDR_ANY);
    return m;
}

// The pair reception is on for the configured group and port. Group and port are one pair: both
// from the image when they make a valid pair, else both the defaults, where every board that
// names no pair of its own is; half of a pair would leave the board where no other board is. A
// value the image names and that is refused is logged once.
void ParPedido(const char* szCfg, uint32_t uiCfg, char acGrupo[65], uint16_t* pusPuerto) {
    static char acGrupoRechazado[65] = "";
    static uint32_t uiPuertoRechazado = 0;
    const bool bGrupo = mcastGrupoValido(szCfg), bPuerto = mcastPuertoValido(uiCfg);
    if (bGrupo && bPuerto) {
        std::snprintf(acGrupo, 65, "%.64s", szCfg);
        *pusPuerto = static_cast<uint16_t>(uiCfg);
    } else {
        std::snprintf(acGrupo, 65, "%s", kGrupoMulticastDefecto);
        *pusPuerto = PUERTO_MULTICAST_DEFECTO;
    }
    if (bGrupo || szCfg[0] == '\0') {
        acGrupoRechazado[0] = '\0';
    } else if (std::strncmp(acGrupoRechazado, szCfg, 64) != 0) {
        std::snprintf(acGrupoRechazado, sizeof acGrupoRechazado, "%.64s", szCfg);
        NLOG::Log(NLOG::ERROR, "Multicast: grupo %s no valido, se usa el par por defecto", acGrupoRechazado);
    }
    if (bPuerto || uiCfg == 0) {
        uiPuertoRechazado = 0;
    } else if (uiCfg != uiPuertoRechazado) {
        uiPuertoRechazado = uiCfg;
        NLOG::Log(NLOG::ERROR, "Multicast: puerto %u no valido, se usa el par por defecto", uiCfg);
    }
}

// True when the address belongs to one of this host's interfaces (a looped-back packet).
bool EsDireccionPropia(uint32_t iDir) {
    ifaddrs* pLista = nullptr;
    if (getifaddrs(&pLista) != 0) return false;
    bool b = false;
    for (ifaddrs* p = pLista; p && !b; p = p->ifa_next)
        if (p->ifa_addr && p->ifa_addr->sa_family == AF_INET)
            b = reinterpret_cast<sockaddr_in*>(p->ifa_addr)->sin_addr.s_addr == iDir;
    freeifaddrs(pLista);
    return b;
}

void* HiloMulticast(void*) {
    TrazaPid("Multicast", 0, "src/vortik/multicast");
    NLOG::Log(NLOG::INFO, "Arrancado hilo multicast tPidMcast %d", static_cast<int>(getpid()));
    const int iVigia = RegistraHilo("Multicast", 0, 4000, hwDameTiempo());

    char acGrupo[65];
    std::snprintf(acGrupo, sizeof acGrupo, "%s", kGrupoMulticastDefecto);
    uint16_t usPuerto = PUERTO_MULTICAST_DEFECTO;
    ip_mreq sPeticion = Peticion(acGrupo);
    int iSock = ArrancaSock(acGrupo, usPuerto + 1);
    if (iSock < 0) EjecutaComando("reboot");
    giSocket = iSock;

    static uint8_t aucBuf[MCAST_TAM_RX + 1];
    for (;;) {
        bool bCambia = false;
        {
            char acCfg[65];
            uint32_t uiCfg;
            {
                cfgCerrojo cerrojo(&oConfigPasarela.tMutex);
                std::snprintf(acCfg, sizeof acCfg, "%.64s", oConfigPasarela.acGrupoMulticast);
                uiCfg = oConfigPasarela.uiPuertoMulticast;
            }
            char acPedido[65];
            uint16_t usPedido;
            ParPedido(acCfg, uiCfg, acPedido, &usPedido);
            if (std::strncmp(acGrupo, acPedido, 64) != 0 || usPedido != usPuerto) {
                NLOG::Log(NLOG::INFO, "CAMBIA CONFI multicast_ip %s-%s multicast_port %d-%d", acGrupo, acPedido,
                          usPuerto, usPedido);
                std::snprintf(acGrupo, sizeof acGrupo, "%s", acPedido);
                usPuerto = usPedido;
                bCambia = true;
            }
        }
        if (bCambia) {
            {
                std::lock_guard<std::mutex> l(tMutexActual);
                std::snprintf(gacGrupoActual, sizeof gacGrupoActual, "%s", acGrupo);
                gusPuertoActual = usPuerto;
            }
            DetieneSock(-1, iSock, &sPeticion);
            giSocket = -1;
            sPeticion = Peticion(acGrupo);
            iSock = ArrancaSock(acGrupo, usPuerto + 1);
        } else if (iSock < 0) {
            // A join that failed is tried again on every pass: the board must not stay deaf.
            iSock = ArrancaSock(acGrupo, usPuerto + 1);
        }
        giSocket = iSock;
        giPuerto = iSock >= 0 ? usPuerto + 1 : 0;

        if (iSock < 0) {
            gfEspera.load()(2000);
        } else {
            fd_set lect;
            FD_ZERO(&lect);
            FD_SET(iSock, &lect);
            timeval tv{2, 0};
            const int r = select(iSock + 1, &lect, nullptr, nullptr, &tv);
            if (r < 0) {
                NLOG::Log(NLOG::ERROR, "Error en select %i", errno);
                TcpCons::TrazaPerror(0xFFFF, "MAIN: Error en select multicast");
                gfEspera.load()(500);
            } else if (r > 0) {
                std::memset(aucBuf, 0, sizeof aucBuf);
                sockaddr_in sOrigen{};
                socklen_t lon = sizeof sOrigen;
                const ssize_t n = recvfrom(iSock, aucBuf, MCAST_TAM_RX, 0, reinterpret_cast<sockaddr*>(&sOrigen), &lon);
                if (n < 0) {
                    NLOG::Log(NLOG::ERROR, "Error en recv multicast %i sock %d", errno, iSock);
                    TcpCons::TrazaPerror(0xFFFF, "MAIN: Error en recv multicast");
                    gfEspera.load()(500);
                } else {
                    char acOrigen[INET_ADDRSTRLEN] = {};
                    inet_ntop(AF_INET, &sOrigen.sin_addr, acOrigen, sizeof acOrigen);
                    TcpCons::Traza(0x800, "Mcast: Received %d bytes from %s: \n", static_cast<int>(n), acOrigen);
                    mcastTrataPaquete(aucBuf, static_cast<int>(n), sOrigen.sin_addr.s_addr);
                }
            }
        }
        RefrescaHilo(iVigia, hwDameTiempo());
    }
    return nullptr;
}
}  // namespace


void mcastFijaEspera(void (*fEsperaMs)(unsigned int)) { gfEspera = fEsperaMs ? fEsperaMs : DuermeMs; }
int mcastDameSocket() { return giSocket; }
void mcastDameGrupo(char acGrupo[65], uint16_t* pusPuerto) {
    std::lock_guard<std::mutex> l(tMutexActual);
    std::snprintf(acGrupo, 65, "%s", gacGrupoActual[0] ? gacGrupoActual : kGrupoMulticastDefecto);
    *pusPuerto = gusPuertoActual;
}
int mcastDamePuerto() { return giPuerto; }

void mcastTrataPaquete(const uint8_t* pPaquete, int iLong, uint32_t iOrigen) {
    CPublica* p = poPublica;
    if (p == nullptr) return;
    if (p->ActualizaInfoEstado(pPaquete, iLong) != 0) return;
    // Reception starts before the redundancy manager: its name is only read once it has a role.
    if (oGestorDual.DameEstadoDual() < 0) return;
    // Byte 65 of the message is the sender's role; a board publishes only while principal.
    char acTexto[68] = {};
    std::memcpy(acTexto, pPaquete + 4, PUB_LON_NOMBRE);
    if (std::strncmp(acTexto, oGestorDual.szNombre, PUB_LON_NOMBRE) != 0 || oGestorDual.szNombre[0] == '\0') return;
    if (EsDireccionPropia(iOrigen)) return;
    // The wire carries 32 characters of the name; the message carries the whole one.
    std::snprintf(acTexto, 65, "%s", oGestorDual.szNombre);
    acTexto[65] = 'P';
    oGestorDual.CompruebaMensajeDual(acTexto);
}

int ArrancaSock(const char* szGrupo, int iPuerto) {
    const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0) {
        TcpCons::TrazaPerror(0xFFFF, "MAIN: socket() failed.  ");
        NLOG::Log(NLOG::ERROR, "ArrancaSock:Error en socket(%i) puerto %d", errno, iPuerto);
        return -1;
    }
    const int iUno = 1;
    if (setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &iUno, sizeof iUno) != 0)
        NLOG::Log(NLOG::ERROR, "ArrancaSock: SO_REUSEADDR %i", errno);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(iPuerto));
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    bool bEnlazado = false;
    for (int i = 0; i < 3 && !bEnlazado; i++) {
        if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
            bEnlazado = true;
            break;
        }
        const int e = errno;
        TcpCons::TrazaPerror(0xFFFF, "ArrancaSock: bind() failed.  ");
        TcpCons::Traza(0xFFFF, "MAIN: error bind  multicast_ip= %s multicast_port=%d\n", szGrupo, iPuerto);
        NLOG::Log(NLOG::ERROR, "ArrancaSock: bind() failed %i ", e);
        NLOG::Log(NLOG::ERROR, "ArrancaSock: error bind  multicast_ip= %s multicast_port=%d", szGrupo, iPuerto);
        gfEspera.load()(10000);
    }
    if (!bEnlazado) {
        close(s);
        return -1;
    }
    NLOG::Log(NLOG::INFO, "ArrancaSock: bind() OK multicast_port %d", iPuerto);
    const ip_mreq m = Peticion(szGrupo);
    if (setsockopt(s, IPPROTO_IP, IP_ADD_MEMBERSHIP, &m, sizeof m) != 0) {
        TcpCons::TrazaPerror(0xFFFF, "ArrancaSock: setsockopt() failed.  ");
        NLOG::Log(NLOG::ERROR, "ArrancaSock: setsockopt() failed. multicast_port %i ", iPuerto);
        close(s);
        return -1;
    }
    TcpCons::Traza(0xFFFF, "ArrancaSock: Suscritos al grupo multicast %s:%d\n", szGrupo, iPuerto);
    NLOG::Log(NLOG::INFO, "ArrancaSock: Suscritos al grupo multicast %s:%d", szGrupo, iPuerto);
    return s;
}

namespace {
// Leaves the group and closes one of the two sockets; they differ only in their log texts.
void DejaGrupo(int s, const ip_mreq* psPeticion, const char* szErrorDrop, const char* szCierra,
               const char* szNoSocket) {
    if (s <= 0) {
        NLOG::Log(NLOG::ERROR, szNoSocket, s);
        return;
    }
    if (setsockopt(s, IPPROTO_IP, IP_DROP_MEMBERSHIP, psPeticion, sizeof *psPeticion) != 0) {
        NLOG::Log(NLOG::ERROR, szErrorDrop, errno);
        TcpCons::TrazaPerror(0xFFFF, "MAIN: setsockopt() failed.  ");
    }
    NLOG::Log(NLOG::INFO, "%s", szCierra);
    close(s);
}
}  // namespace

int DetieneSock(int iSockCfg, int iSockPublica, const ip_mreq* psPeticion) {
    DejaGrupo(iSockCfg, psPeticion, "DetieneSock(sock_cfg) Error en setsockopt( %i)", "close(sock_cfg",
              "DetieneSock: sock_cfg %i");
    DejaGrupo(iSockPublica, psPeticion, "DetieneSock(sock_publica) Error en setsockopt(%i)", " close(sock_publica)",
              "DetieneSock: sock_publica %i");
    return 0;
}

void ArrancaMulticast() {
    CreaMutex("tMutexMulticast", &tMutexMulticast, nullptr);
    char acNombre[65];
    {
        cfgCerrojo cerrojo(&oConfigPasarela.tMutex);
        std::snprintf(acNombre, sizeof acNombre, "%.64s", oConfigPasarela.szNombre);
    }
    // The publisher first: the receive thread hands it every packet from its start.
    poPublica = new CPublica(acNombre, true, mcastDameGrupo);
    if (CreaHiloSuelto(nullptr, HiloMulticast, nullptr) != 0)
        NLOG::Log(NLOG::ERROR, "Multicast: Error creando hilo de Multicast");
}
