#include "publica.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

#include "comun/hilo.h"
#include "cgestordual.h"
#include "comun/ctemporizador.h"
#include "comun/gestormutex.h"
#include "cconfig.h"
#include "temporizadorvortik.h"
#include "comun/nlog.h"
#include "comun/ordenbytes.h"
#include "red/tcpcons.h"
#include "comun/trazapid.h"

CPublica* poPublica = nullptr;
const char* const kGrupoMulticastDefecto = "239.192.71.1";

namespace {
void Pon32(uint8_t* p, uint32_t v) {
    v = HostABig32(v);
    std::memcpy(p, &v, sizeof v);
}
uint32_t Lee32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return BigAHost32(v);
}
// A wire name: at most 32 characters, the rest of its 36 bytes zero.
void PonNombre(uint8_t* p, const char* szNombre) {
    const size_t n = strnlen(szNombre, PUB_LON_NOMBRE);
    std::memcpy(p, szNombre, n);
    std::memset(p + n, 0, PUB_LON_NOMBRE - n);
}
void LeeNombre(char acDestino[36], const uint8_t* p) {
    std::memset(acDestino, 0, 36);
    std::memcpy(acDestino, p, PUB_LON_NOMBRE);
}
bool MismoNombre(const char* a, const char* b) { return std::strncmp(a, b, PUB_LON_NOMBRE) == 0; }
// Entries of a received packet that its count and its length both hold.
int EntradasValidas(const uint8_t* pPaquete, int iLong) {
    const uint32_t n = Lee32(pPaquete + 40);
    uint32_t uiCaben = static_cast<uint32_t>(iLong - PUB_LON_CABECERA) / PUB_LON_ENTRADA;
    if (uiCaben > PUB_MAX_ENTRADAS) uiCaben = PUB_MAX_ENTRADAS;
    return static_cast<int>(n < uiCaben ? n : uiCaben);
}
}  // namespace

CPublica::CPublica(const char* szNombre, bool bHilo, FnGrupoRecepcion fGrupo)
    : acNombre{},
      iCambiado(0),
      uiVersion(0),
      asPropias{},
      asPasarelas{},
      tMutexDatos(),
      tMutexTabla(),
      tMutexPublica(),
      cCondicion(),
      bDespertar(false),
      tHilo(),
      iSocket(-1),
      fGrupoRecepcion(fGrupo),
      iTempEnvejece(-1) {
    NLOG::Log(NLOG::INFO, "CPublica: inicia publica %s", szNombre ? szNombre : "");
    CreaMutex("Publica.tMutexDatos", &tMutexDatos, nullptr);
    CreaMutex("Publica.tMutexTabla", &tMutexTabla, nullptr);
    CreaMutex("Publica.tMutexPublica", &tMutexPublica, nullptr);
    pthread_cond_init(&cCondicion, nullptr);
    if (bHilo) {
        // The thread waits for the name and version below before its first build.
        pthread_mutex_lock(&tMutexDatos);
        if (CreaHiloSuelto(&tHilo, HiloPublica, this) != 0) {
            pthread_mutex_unlock(&tMutexDatos);
            TcpCons::Traza(0xFFFF, "- Error creando hilo Publica\n");
            return;
        }
    } else {
        iSocket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        pthread_mutex_lock(&tMutexDatos);
    }
    std::snprintf(acNombre, sizeof acNombre, "%.64s", szNombre ? szNombre : "");
    uiVersion = 0;
    iCambiado = 1;
    pthread_mutex_unlock(&tMutexDatos);
}

// ---- Own resources ----------------------------------------------------------------------------

int CPublica::AltaRecurso(const char* szNombre, int iCategoria, int iIndice) {
    pthread_mutex_lock(&tMutexDatos);
    for (const EntradaPropia& e : asPropias) {
        if (e.acNombre[0] != '\0' && MismoNombre(e.acNombre, szNombre)) {
            pthread_mutex_unlock(&tMutexDatos);
            return 0;
        }
    }
    if (iIndice < 0 || iIndice >= PUB_MAX_PROPIAS) {
        pthread_mutex_unlock(&tMutexDatos);
        return -1;
    }
    EntradaPropia& e = asPropias[iIndice];
    e = EntradaPropia{};
    std::snprintf(e.acNombre, sizeof e.acNombre, "%.64s", szNombre);
    e.iCategoria = iCategoria;
    e.iEstado = PUB_ESTADO_NO_PUBLICADO;
    e.ucSucio = 1;
    pthread_mutex_unlock(&tMutexDatos);
    TcpCons::Traza(0x8000, "              PUBLICA  %s\n", szNombre);
    return 0;
}

int CPublica::BajaRecurso(const char* szNombre) {
    pthread_mutex_lock(&tMutexDatos);
    for (EntradaPropia& e : asPropias) {
        if (e.acNombre[0] != '\0' && std::strncmp(e.acNombre, szNombre, 64) == 0) {
            e = EntradaPropia{};
            e.ucSucio = 1;
        }
    }
    pthread_mutex_unlock(&tMutexDatos);
    return 0;
}

int CPublica::BorraRecurso(int iIndice) {
    if (iIndice < 0 || iIndice >= PUB_MAX_PROPIAS) return -1;
    pthread_mutex_lock(&tMutexDatos);
    asPropias[iIndice] = EntradaPropia{};
    asPropias[iIndice].ucSucio = 1;
    pthread_mutex_unlock(&tMutexDatos);
    return 0;
}

int CPublica::ActualizaPublica(const char* szNombre, const uint8_t* pRegistro, int iCategoria, int iIndice) {
    AltaRecurso(szNombre, iCategoria, iIndice);
    pthread_mutex_lock(&tMutexDatos);
    EntradaPropia* e = nullptr;
    for (EntradaPropia& p : asPropias)
        if (p.acNombre[0] != '\0' && MismoNombre(p.acNombre, szNombre)) {
            e = &p;
            break;
        }
    if (e == nullptr) {
        pthread_mutex_unlock(&tMutexDatos);
        TcpCons::Traza(0xFFFF, "Publica: recurso no dado de alta\n");
        return -1;
    }
    const int32_t iEstado = pRegistro[1];
    if (e->iEstado != iEstado) {
        e->iEstado = iEstado;
        e->ucSucio = 1;
    }
    if (e->iCategoria == 1) {
        // The record comes from the bridge as the resource process sent it: host order.
        int32_t iPrioridad;
        uint32_t uiDato2, uiDato3;
        std::memcpy(&iPrioridad, pRegistro + 4, sizeof iPrioridad);
        std::memcpy(&uiDato2, pRegistro + 8, sizeof uiDato2);
        std::memcpy(&uiDato3, pRegistro + 12, sizeof uiDato3);
        if (e->iPrioridad != iPrioridad) {
            e->iPrioridad = iPrioridad;
            e->ucSucio = 1;
        }
        if (e->uiDato2 != uiDato2) {
            e->uiDato2 = uiDato2;
            e->ucSucio = 1;
        }
        if (e->uiDato3 != uiDato3) {
            e->uiDato3 = uiDato3;
            e->ucSucio = 1;
        }
    }
    pthread_mutex_unlock(&tMutexDatos);
    TcpCons::Traza(0x8000, "    ACTUALIZA  PUBLICA  %s\n", szNombre);
    return 0;
}

void CPublica::Despierta() {
    pthread_mutex_lock(&tMutexPublica);
    bDespertar = true;
    pthread_cond_signal(&cCondicion);
    pthread_mutex_unlock(&tMutexPublica);
}

// ---- Publishing -------------------------------------------------------------------------------

int CPublica::ConstruyePaquetePublica(uint8_t* pBuf) {
    char acCfg[PUB_LON_NOMBRE + 1];
    {
        cfgCerrojo cerrojo(&oConfigPasarela.tMutex);
        std::snprintf(acCfg, sizeof acCfg, "%.32s", oConfigPasarela.szNombre);
    }
    std::memset(pBuf, 0, PUB_TAM_BUFFER);
    pthread_mutex_lock(&tMutexDatos);
    std::snprintf(acNombre, sizeof acNombre, "%s", acCfg);
    iCambiado = 0;
    Pon32(pBuf, 1);
    PonNombre(pBuf + 4, acNombre);
    uint32_t n = 0;
    for (EntradaPropia& e : asPropias) {
        if (e.acNombre[0] == '\0' || e.iEstado == PUB_ESTADO_NO_PUBLICADO) {
            if (e.ucSucio) {
                e.ucSucio = 0;
                iCambiado = 1;
            }
            continue;
        }
        if (e.ucSucio) {
            e.uiVersion++;
            e.ucSucio = 0;
            iCambiado = 1;
        }
        uint8_t* p = pBuf + PUB_LON_CABECERA + PUB_LON_ENTRADA * n;
        PonNombre(p, e.acNombre);
        Pon32(p + 36, static_cast<uint32_t>(e.iCategoria));
        Pon32(p + 40, e.uiVersion);
        Pon32(p + 44, static_cast<uint32_t>(e.iEstado));
        Pon32(p + 48, static_cast<uint32_t>(e.iPrioridad));
        Pon32(p + 52, e.uiDato2);
        Pon32(p + 56, e.uiDato3);
        n++;
    }
    Pon32(pBuf + 40, n);
    if (iCambiado) uiVersion++;
    Pon32(pBuf + 44, uiVersion);
    pthread_mutex_unlock(&tMutexDatos);
    return static_cast<int>(PUB_LON_CABECERA + PUB_LON_ENTRADA * n);
}

int CPublica::EnviaPublica(const uint8_t* pBuf, int iLong) {
    char acGrupo[65];
    uint16_t usPuerto;
    uint32_t uiPuerto;
    int iModo;
    uint32_t uiLocal;
    {
        cfgCerrojo cerrojo(&oConfigPasarela.tMutex);
        iModo = oConfigPasarela.iCfgModoSistema;
        std::snprintf(acGrupo, sizeof acGrupo, "%.64s", oConfigPasarela.acGrupoMulticast);
        uiPuerto = oConfigPasarela.uiPuertoMulticast;
        usPuerto = static_cast<uint16_t>(uiPuerto);
        uiLocal = oConfigPasarela.oDireccion.direccion;
    }
    if (iModo == 1 || oGestorDual.DameEstadoDual() == 1) return 0;
    // While the configuration names no usable pair, publish where reception is (the default
    // pair), so gateways there still hear each other.
    if (!mcastGrupoValido(acGrupo) || !mcastPuertoValido(uiPuerto)) {
        if (fGrupoRecepcion) {
            fGrupoRecepcion(acGrupo, &usPuerto);
        } else {
            std::snprintf(acGrupo, sizeof acGrupo, "%s", kGrupoMulticastDefecto);
            usPuerto = PUERTO_MULTICAST_DEFECTO;
        }
    }
    sockaddr_in d{};
    d.sin_family = AF_INET;
    d.sin_port = htons(static_cast<uint16_t>(usPuerto + 1));
    if (inet_pton(AF_INET, acGrupo, &d.sin_addr) != 1) d.sin_addr.s_addr = INADDR_NONE;
    if (iSocket >= 0 && uiLocal != 0) {
        // The configured own address picks the interface the group is reached on.
        in_addr a{};
        a.s_addr = htonl(uiLocal);
        setsockopt(iSocket, IPPROTO_IP, IP_MULTICAST_IF, &a, sizeof a);
    }
    if (sendto(iSocket, pBuf, static_cast<size_t>(iLong), 0, reinterpret_cast<sockaddr*>(&d), sizeof d) < 0) {
        TcpCons::TrazaPerror(0xFFFF, "Publica: sendto() failed.  ");
        return -1;
    }
    return 0;
}

int CPublica::ArmaEnvejecimiento() {
    // -2 while arming: the timer thread's re-arm and the publishing thread's retry may meet.
    int iLibre = -1;
    if (!iTempEnvejece.compare_exchange_strong(iLibre, -2)) return 0;
    const int r = poTemporizador ? poTemporizador->Arma(PUB_TICKS_ENVEJECE, EnvejeceTabla,
                                                        reinterpret_cast<uintptr_t>(this), 0, 0)
                                 : -1;
    if (r < 0) {
        iTempEnvejece = -1;
        NLOG::Log(NLOG::ERROR, "Publica: sin temporizador para envejecer la tabla");
        return -1;
    }
    int iArmando = -2;
    iTempEnvejece.compare_exchange_strong(iArmando, r);
    return 0;
}

uintptr_t CPublica::EnvejeceTabla(uintptr_t a1, uintptr_t, uintptr_t) {
    CPublica* p = reinterpret_cast<CPublica*>(a1);
    // The slot is free once the timer fired; it is no longer ours.
    p->iTempEnvejece = -1;
    pthread_mutex_lock(&p->tMutexTabla);
    for (RegistroPasarela& r : p->asPasarelas) {
        if (r.acNombre[0] == '\0' || r.iVida == 0) continue;
        if (--r.iVida == 0) r = RegistroPasarela{};
    }
    pthread_mutex_unlock(&p->tMutexTabla);
    // A failed re-arm is retried by the publishing thread's next pass.
    p->ArmaEnvejecimiento();
    return 0;
}

void CPublica::PasadaPublica() {
    ArmaEnvejecimiento();
    uint8_t aucPaquete[PUB_TAM_BUFFER];
    const int iLong = ConstruyePaquetePublica(aucPaquete);
    EnviaPublica(aucPaquete, iLong);
}

uint32_t CPublica::DameVersion() {
    pthread_mutex_lock(&tMutexDatos);
    const uint32_t v = uiVersion;
    pthread_mutex_unlock(&tMutexDatos);
    return v;
}

void* CPublica::HiloPublica(void* pObjeto) {
    static_cast<CPublica*>(pObjeto)->Bucle();
    return nullptr;
}

void CPublica::Bucle() {
    TrazaPid("Publica", 0, "src/vortik/publica");
    TcpCons::Traza(0x800, "Arrancado hilo publica PID=%d\n", static_cast<int>(getpid()));
    FijaPrioridadHilo(1);
    iSocket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (iSocket < 0) TcpCons::TrazaPerror(0xFFFF, "Publica: socket() failed.  ");
    // The constructor finishes the name and version before the first build.
    pthread_mutex_lock(&tMutexDatos);
    pthread_mutex_unlock(&tMutexDatos);
    ArmaEnvejecimiento();
    for (;;) {
        timespec fin;
        clock_gettime(CLOCK_REALTIME, &fin);
        fin.tv_sec += PUB_MS_PERIODO / 1000;
        pthread_mutex_lock(&tMutexPublica);
        while (!bDespertar) {
            if (pthread_cond_timedwait(&cCondicion, &tMutexPublica, &fin) == ETIMEDOUT) break;
        }
        bDespertar = false;
        pthread_mutex_unlock(&tMutexPublica);
        PasadaPublica();
    }
}

// ---- Other gateways ---------------------------------------------------------------------------

RegistroPasarela* CPublica::BuscaPasarela(const char* szQln) {
    for (RegistroPasarela& r : asPasarelas)
        if (r.acNombre[0] != '\0' && MismoNombre(r.acNombre, szQln)) return &r;
    return nullptr;
}

int CPublica::QuitaEntrada(RegistroPasarela* psReg, const char* szRecurso) {
    for (EntradaPublica& e : psReg->asEntradas)
        if (e.acNombre[0] != '\0' && MismoNombre(e.acNombre, szRecurso)) {
            e.acNombre[0] = '\0';
            return 0;
        }
    return -1;
}

const EntradaPublica* CPublica::DameEstadoRecurso(const char* szQln, const char* szRecurso) {
    thread_local EntradaPublica sCopia;
    if (szRecurso == nullptr || szRecurso[0] == '\0') return nullptr;
    const EntradaPublica* pHallada = nullptr;
    pthread_mutex_lock(&tMutexTabla);
    for (const RegistroPasarela& r : asPasarelas) {
        if (r.acNombre[0] == '\0') continue;
        if (szQln != nullptr && szQln[0] != '\0' && !MismoNombre(r.acNombre, szQln)) continue;
        for (const EntradaPublica& e : r.asEntradas)
            if (e.acNombre[0] != '\0' && MismoNombre(e.acNombre, szRecurso)) {
                pHallada = &e;
                break;
            }
        if (pHallada || (szQln != nullptr && szQln[0] != '\0')) break;
    }
    if (pHallada) sCopia = *pHallada;
    pthread_mutex_unlock(&tMutexTabla);
    return pHallada ? &sCopia : nullptr;
}

const EntradaPublica* CPublica::DameEstadoPropio(const char* szRecurso) {
    thread_local EntradaPublica sCopia;
    if (szRecurso == nullptr || szRecurso[0] == '\0') return nullptr;
    bool bHallada = false;
    pthread_mutex_lock(&tMutexDatos);
    for (const EntradaPropia& p : asPropias) {
        if (p.acNombre[0] == '\0' || !MismoNombre(p.acNombre, szRecurso)) continue;
        std::memset(&sCopia, 0, sizeof sCopia);
        std::snprintf(sCopia.acNombre, sizeof sCopia.acNombre, "%.32s", p.acNombre);
        sCopia.uiCategoria = static_cast<uint32_t>(p.iCategoria);
        sCopia.uiVersion = p.uiVersion;
        sCopia.uiEstado = static_cast<uint32_t>(p.iEstado);
        sCopia.uiPrioridad = static_cast<uint32_t>(p.iPrioridad);
        sCopia.uiDato2 = p.uiDato2;
        sCopia.uiDato3 = p.uiDato3;
        bHallada = true;
        break;
    }
    pthread_mutex_unlock(&tMutexDatos);
    return bHallada ? &sCopia : nullptr;
}

int CPublica::BajaInfoEstadoRecurso(const char* szQln, const char* szRecurso) {
    TcpCons::Traza(0x8000, " BajaInfoEstadoRecurso QLN %s REC %s\n", szQln, szRecurso);
    pthread_mutex_lock(&tMutexTabla);
    RegistroPasarela* r = BuscaPasarela(szQln);
    const int iRes = r ? QuitaEntrada(r, szRecurso) : -1;
    pthread_mutex_unlock(&tMutexTabla);
    return iRes;
}

int CPublica::ActualizaInfoEstado(const uint8_t* pPaquete, int iLong) {
    // Whatever the sender claims, only what the datagram holds is read.
    if (pPaquete == nullptr || iLong < PUB_LON_CABECERA || Lee32(pPaquete) != 1) return -1;
    char acQln[36];
    LeeNombre(acQln, pPaquete + 4);
    if (acQln[0] == '\0') return -1;
    const int n = EntradasValidas(pPaquete, iLong);
    EntradaPublica asPaquete[PUB_MAX_ENTRADAS];
    for (int i = 0; i < n; i++) {
        const uint8_t* p = pPaquete + PUB_LON_CABECERA + PUB_LON_ENTRADA * i;
        EntradaPublica& e = asPaquete[i];
        LeeNombre(e.acNombre, p);
        e.uiCategoria = Lee32(p + 36);
        e.uiVersion = Lee32(p + 40);
        e.uiEstado = Lee32(p + 44);
        e.uiPrioridad = Lee32(p + 48);
        e.uiDato2 = Lee32(p + 52);
        e.uiDato3 = Lee32(p + 56);
    }

    char aacQuitadas[PUB_MAX_ENTRADAS][36];
    int iQuitadas = 0;
    pthread_mutex_lock(&tMutexTabla);
    RegistroPasarela* r = BuscaPasarela(acQln);
    if (r == nullptr) {
        for (RegistroPasarela& l : asPasarelas)
            if (l.acNombre[0] == '\0') {
                r = &l;
                *r = RegistroPasarela{};
                std::memcpy(r->acNombre, acQln, sizeof r->acNombre);
                break;
            }
    }
    if (r == nullptr) {
        pthread_mutex_unlock(&tMutexTabla);
        return -1;
    }
    r->iVida = PUB_VIDA;
    r->uiVersion = Lee32(pPaquete + 44);
    for (EntradaPublica& e : r->asEntradas) {
        if (e.acNombre[0] == '\0') continue;
        bool bEsta = false;
        for (int i = 0; i < n && !bEsta; i++) bEsta = MismoNombre(asPaquete[i].acNombre, e.acNombre);
        if (!bEsta) {
            std::memcpy(aacQuitadas[iQuitadas++], e.acNombre, 36);
            e.acNombre[0] = '\0';
        }
    }
    for (int i = 0; i < n; i++) {
        const EntradaPublica& p = asPaquete[i];
        if (p.acNombre[0] == '\0') continue;
        EntradaPublica* pDestino = nullptr;
        for (EntradaPublica& e : r->asEntradas)
            if (e.acNombre[0] != '\0' && MismoNombre(e.acNombre, p.acNombre)) {
                pDestino = &e;
                break;
            }
        if (pDestino == nullptr)
            for (EntradaPublica& e : r->asEntradas)
                if (e.acNombre[0] == '\0') {
                    pDestino = &e;
                    break;
                }
        if (pDestino) *pDestino = p;
    }
    pthread_mutex_unlock(&tMutexTabla);
    for (int i = 0; i < iQuitadas; i++)
        TcpCons::Traza(0x8000, " BajaInfoEstadoRecurso QLN %s REC %s\n", acQln, aacQuitadas[i]);
    return 0;
}

bool CPublica::DamePasarela(const char* szQln, RegistroPasarela* psCopia) {
    pthread_mutex_lock(&tMutexTabla);
    const RegistroPasarela* r = BuscaPasarela(szQln);
    if (r) *psCopia = *r;
    pthread_mutex_unlock(&tMutexTabla);
    return r != nullptr;
}

int CPublica::PintaPublica() {
    // Printed from a copy: the console must not hold up the receiver and the ageing.
    std::unique_ptr<RegistroPasarela[]> pCopia(new RegistroPasarela[PUB_MAX_PASARELAS]);
    pthread_mutex_lock(&tMutexTabla);
    std::memcpy(pCopia.get(), asPasarelas, sizeof asPasarelas);
    pthread_mutex_unlock(&tMutexTabla);
    for (int i = 0; i < PUB_MAX_PASARELAS; i++) {
        const RegistroPasarela& r = pCopia[i];
        if (r.acNombre[0] == '\0') continue;
        TcpCons::Printf("\nQLN=%s:  version=%i\n", r.acNombre, static_cast<int>(r.uiVersion));
        for (const EntradaPublica& e : r.asEntradas)
            if (e.acNombre[0] != '\0')
                TcpCons::Printf("REC %s estado %i prioridad %i\n", e.acNombre, static_cast<int>(e.uiEstado),
                                static_cast<int>(e.uiPrioridad));
    }
    return 0;
}

bool mcastGrupoValido(const char* szGrupo) {
    in_addr a{};
    return inet_pton(AF_INET, szGrupo, &a) == 1 && IN_MULTICAST(ntohl(a.s_addr));
}
bool mcastPuertoValido(uint32_t uiPuerto) { return uiPuerto >= 1 && uiPuerto <= 65534; }
