#include "hardware/cdispositivossim.h"

#include <signal.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "hardware/protocolosim.h"

using namespace simproto;

CDispositivosSim::CDispositivosSim(std::string sSocketDaemon) : sSocket(std::move(sSocketDaemon)), iPidDueno(::getpid()) {}

CDispositivosSim::~CDispositivosSim() {
    std::lock_guard<std::mutex> l(tMutex);
    for (int s : aiLibres) ::close(s);
}

int CDispositivosSim::TomaConexion() {
    {
        std::lock_guard<std::mutex> l(tMutex);
        if (iPidDueno != ::getpid()) {
            // Inherited through fork: the sockets are shared with the parent; leave them to it.
            for (int s : aiLibres) ::close(s);
            aiLibres.clear();
            iPidDueno = ::getpid();
        }
        if (!aiLibres.empty()) {
            int s = aiLibres.back();
            aiLibres.pop_back();
            return s;
        }
    }
    int s = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (s < 0) return -1;
    sockaddr_un dir{};
    dir.sun_family = AF_UNIX;
    if (sSocket.size() >= sizeof(dir.sun_path)) {
        ::close(s);
        errno = ENAMETOOLONG;
        return -1;
    }
    std::memcpy(dir.sun_path, sSocket.c_str(), sSocket.size() + 1);
    if (::connect(s, reinterpret_cast<sockaddr*>(&dir), sizeof(dir)) < 0) {
        int e = errno;
        ::close(s);
        errno = e;
        return -1;
    }
    // Introduce the process, so the board's journal can name it.
    char acNombre[32] = {0};
    FILE* f = std::fopen("/proc/self/comm", "r");
    if (f) {
        if (std::fgets(acNombre, sizeof(acNombre), f)) acNombre[strcspn(acNombre, "\n")] = 0;
        std::fclose(f);
    }
    simproto::Peticion p{OP_HOLA, 0, 0, static_cast<uint32_t>(::getpid()), static_cast<uint32_t>(std::strlen(acNombre))};
    iovec iov[2] = {{&p, sizeof(p)}, {acNombre, p.uiLongitud}};
    msghdr m{};
    m.msg_iov = iov;
    m.msg_iovlen = 2;
    simproto::Respuesta r{};
    if (::sendmsg(s, &m, MSG_NOSIGNAL) < 0 || ::recv(s, &r, sizeof(r), 0) != static_cast<ssize_t>(sizeof(r))) {
        int e = errno ? errno : EIO;
        ::close(s);
        errno = e;
        return -1;
    }
    return s;
}

void CDispositivosSim::DevuelveConexion(int iSocket) {
    std::lock_guard<std::mutex> l(tMutex);
    if (iPidDueno != ::getpid()) {
        ::close(iSocket);
        return;
    }
    aiLibres.push_back(iSocket);
}

int CDispositivosSim::Intercambia(uint32_t uiOperacion, uint32_t uiManejador, uint32_t uiCodigo, uint32_t uiValor,
                                  const void* pDatos, size_t iLongitud, void* pRespuesta, size_t iCapacidad,
                                  size_t* piRecibidos, uint32_t* puiResultado) {
    if (iLongitud > MAX_DATOS) {
        errno = EMSGSIZE;
        return -1;
    }
    int s = TomaConexion();
    if (s < 0) return -1;
    simproto::Peticion p{uiOperacion, uiManejador, uiCodigo, uiValor, static_cast<uint32_t>(iLongitud)};
    iovec iov[2] = {{&p, sizeof(p)}, {const_cast<void*>(pDatos), iLongitud}};
    msghdr m{};
    m.msg_iov = iov;
    m.msg_iovlen = iLongitud ? 2 : 1;
    ssize_t iEnviado;
    do {
        iEnviado = ::sendmsg(s, &m, MSG_NOSIGNAL);
    } while (iEnviado < 0 && errno == EINTR);
    if (iEnviado < 0) {
        int e = errno;
        ::close(s);
        errno = e;
        return -1;
    }
    simproto::Respuesta r{};
    iovec iovr[2] = {{&r, sizeof(r)}, {pRespuesta, iCapacidad}};
    msghdr mr{};
    mr.msg_iov = iovr;
    mr.msg_iovlen = iCapacidad ? 2 : 1;
    ssize_t n;
    do {
        n = ::recvmsg(s, &mr, 0);
    } while (n < 0 && errno == EINTR);
    if (n < static_cast<ssize_t>(sizeof(r))) {
        int e = n < 0 ? errno : EIO;
        ::close(s);
        errno = e;
        return -1;
    }
    DevuelveConexion(s);
    size_t iDatos = static_cast<size_t>(n) - sizeof(r);
    if (piRecibidos) *piRecibidos = iDatos < r.uiLongitud ? iDatos : r.uiLongitud;
    if (r.iError != 0) {
        errno = r.iError;
        return -1;
    }
    if (puiResultado) *puiResultado = r.uiResultado;
    return 0;
}

int CDispositivosSim::Abre(const char* szRuta, int iFlags) {
    uint32_t uiManejador = 0;
    if (Intercambia(OP_ABRE, 0, 0, static_cast<uint32_t>(iFlags), szRuta, std::strlen(szRuta), nullptr, 0, nullptr,
                    &uiManejador) < 0)
        return -1;
    return static_cast<int>(uiManejador);
}

int CDispositivosSim::Cierra(int iFd) {
    return Intercambia(OP_CIERRA, static_cast<uint32_t>(iFd), 0, 0, nullptr, 0, nullptr, 0, nullptr, nullptr);
}

int CDispositivosSim::Peticion(int iFd, uint32_t uiCodigo, uint32_t uiValor, uint32_t* puiResultado) {
    return Intercambia(OP_PETICION, static_cast<uint32_t>(iFd), uiCodigo, uiValor, nullptr, 0, nullptr, 0, nullptr,
                       puiResultado);
}

ssize_t CDispositivosSim::Lee(int iFd, void* pBuffer, size_t n) {
    if (n > MAX_DATOS) n = MAX_DATOS;
    size_t iRecibidos = 0;
    uint32_t uiRes = 0;
    if (Intercambia(OP_LEE, static_cast<uint32_t>(iFd), 0, static_cast<uint32_t>(n), nullptr, 0, pBuffer, n,
                    &iRecibidos, &uiRes) < 0)
        return -1;
    return static_cast<ssize_t>(iRecibidos);
}

ssize_t CDispositivosSim::Escribe(int iFd, const void* pBuffer, size_t n) {
    if (n > MAX_DATOS) n = MAX_DATOS;
    uint32_t uiRes = 0;
    if (Intercambia(OP_ESCRIBE, static_cast<uint32_t>(iFd), 0, 0, pBuffer, n, nullptr, 0, nullptr, &uiRes) < 0)
        return -1;
    return static_cast<ssize_t>(uiRes);
}

ssize_t CDispositivosSim::LeeMensaje(int iFd, void* pBuffer, size_t iCapacidad) {
    size_t iRecibidos = 0;
    uint32_t uiRes = 0;
    if (Intercambia(OP_LEE_MENSAJE, static_cast<uint32_t>(iFd), 0, static_cast<uint32_t>(iCapacidad), nullptr, 0,
                    pBuffer, iCapacidad, &iRecibidos, &uiRes) < 0)
        return -1;
    return static_cast<ssize_t>(iRecibidos);
}

ssize_t CDispositivosSim::EscribeMensaje(int iFd, const void* pMensaje, size_t iCuenta) {
    uint32_t uiRes = 0;
    if (Intercambia(OP_ESCRIBE_MENSAJE, static_cast<uint32_t>(iFd), 0, 0, pMensaje, iCuenta, nullptr, 0, nullptr,
                    &uiRes) < 0)
        return -1;
    return static_cast<ssize_t>(uiRes);
}

int CDispositivosSim::FijaDireccion(int iFd, uint32_t uiDireccion) {
    return Intercambia(OP_FIJA_DIRECCION, static_cast<uint32_t>(iFd), 0, uiDireccion, nullptr, 0, nullptr, 0, nullptr,
                       nullptr);
}

int CDispositivosSim::EscribePalabras(int iFd, const uint32_t* puiPalabras, size_t n) {
    return Intercambia(OP_ESCRIBE_PALABRAS, static_cast<uint32_t>(iFd), 0, 0, puiPalabras, n * sizeof(uint32_t),
                       nullptr, 0, nullptr, nullptr);
}

int CDispositivosSim::ActivaAviso(int iFd) {
    return Intercambia(OP_AVISO, static_cast<uint32_t>(iFd), 0, static_cast<uint32_t>(::gettid()), nullptr, 0,
                       nullptr, 0, nullptr, nullptr);
}

int CDispositivosSim::Control(const std::string& sOrden, std::string* psRespuesta) {
    std::string sBuffer(MAX_DATOS, '\0');
    size_t iRecibidos = 0;
    uint32_t uiRes = 0;
    int iRes = Intercambia(OP_CONTROL, 0, 0, 0, sOrden.data(), sOrden.size(), &sBuffer[0], sBuffer.size(),
                           &iRecibidos, &uiRes);
    if (psRespuesta) *psRespuesta = sBuffer.substr(0, iRecibidos);
    return iRes < 0 ? -1 : static_cast<int>(uiRes);
}
