#include "red/csocket.h"

#include <poll.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>

CSocket::CSocket() : iSocket(-1), oLocal("<none>", 0), oRemoto("<none>", 0) {}

CSocket::~CSocket() {
    // Nothing may leave a destructor; a failed close has released the number anyway.
    if (iSocket >= 0) ::close(iSocket);
}

void CSocket::CompruebaAbierto(const char* szOperacion) const {
    if (iSocket < 0) throw socket_error(1, szOperacion);
}

void CSocket::Bind(int iPuerto) { Bind(CSocketAddress("<any>", iPuerto)); }

void CSocket::Bind(const CSocketAddress& oDireccion) {
    if (::bind(iSocket, oDireccion.SockAddr(), CSocketAddress::Size()) < 0) throw socket_error(errno, "bind");
}

void CSocket::Close() {
    if (iSocket < 0) return;
    int iRes = ::close(iSocket);
    int iErr = errno;
    // Linux frees the number even when close fails: never close it a second time.
    iSocket = -1;
    oLocal = CSocketAddress("<none>", 0);
    oRemoto = CSocketAddress("<none>", 0);
    if (iRes < 0) throw socket_error(iErr, "close");
}

void CSocket::Reopen() {
    Close();
    Create();
}

void CSocket::Shutdown(int iComo) {
    if (iSocket < 0) return;
    if (::shutdown(iSocket, iComo) < 0) throw socket_error(errno, "shutdown");
}

void CSocket::SendTo(const void* pBuf, size_t iLong, const CSocketAddress& oDestino) {
    CompruebaAbierto("SendTo");
    if (::sendto(iSocket, pBuf, iLong, MSG_NOSIGNAL, oDestino.SockAddr(), CSocketAddress::Size()) < 0)
        throw socket_error(errno, "sendto");
}

int CSocket::RecvFrom(void* pBuf, size_t iLong, CSocketAddress* pOrigen) {
    CompruebaAbierto("RecvFrom");
    sockaddr_in sa = {};
    socklen_t iLongSa = sizeof sa;
    int n = static_cast<int>(::recvfrom(iSocket, pBuf, iLong, 0, reinterpret_cast<sockaddr*>(&sa), &iLongSa));
    if (n > 0 && pOrigen) *pOrigen = CSocketAddress(sa);
    return n;
}

bool CSocket::Connect(const CSocketAddress& oDireccion) {
    CompruebaAbierto("Connect");
    return ::connect(iSocket, oDireccion.SockAddr(), CSocketAddress::Size()) == 0;
}

int CSocket::Send(const void* pBuf, size_t iLong) {
    CompruebaAbierto("Send");
    return static_cast<int>(::send(iSocket, pBuf, iLong, MSG_NOSIGNAL));
}

int CSocket::Recv(void* pBuf, size_t iLong) {
    CompruebaAbierto("Recv");
    return static_cast<int>(::recv(iSocket, pBuf, iLong, 0));
}

CSocketAddress CSocket::LocalAddress() {
    if (!oLocal.IsValid() && iSocket >= 0) {
        sockaddr_in sa = {};
        socklen_t iLongSa = sizeof sa;
        if (::getsockname(iSocket, reinterpret_cast<sockaddr*>(&sa), &iLongSa) == 0) oLocal = CSocketAddress(sa);
    }
    return oLocal;
}

CSocketAddress CSocket::PeerAddress() {
    if (!oRemoto.IsValid() && iSocket >= 0) {
        sockaddr_in sa = {};
        socklen_t iLongSa = sizeof sa;
        if (::getpeername(iSocket, reinterpret_cast<sockaddr*>(&sa), &iLongSa) == 0) oRemoto = CSocketAddress(sa);
    }
    return oRemoto;
}

void CSocket::SetSockOpt(int iNivel, int iOpcion, const void* pValor, socklen_t iLong) {
    CompruebaAbierto("SetSockOpt");
    if (::setsockopt(iSocket, iNivel, iOpcion, pValor, iLong) < 0) throw socket_error(errno, "setsockopt");
}

void CSocket::GetSockOpt(int iNivel, int iOpcion, void* pValor, socklen_t* pLong) {
    CompruebaAbierto("GetSockOpt");
    if (::getsockopt(iSocket, iNivel, iOpcion, pValor, pLong) < 0) throw socket_error(errno, "getsockopt");
}

int CSocket::SetRecvTimeout(int iSegundos) {
    timeval sTiempo = {};
    sTiempo.tv_sec = iSegundos;
    return ::setsockopt(iSocket, SOL_SOCKET, SO_RCVTIMEO, &sTiempo, sizeof sTiempo);
}

int CSocket::Select(fd_set* pLectura, fd_set* pEscritura, fd_set* pError, int iMs) {
    CompruebaAbierto("Select");
    int iMax = -1;
    for (int fd = FD_SETSIZE - 1; fd >= 0 && iMax < 0; --fd)
        if ((pLectura && FD_ISSET(fd, pLectura)) || (pEscritura && FD_ISSET(fd, pEscritura)) ||
            (pError && FD_ISSET(fd, pError)))
            iMax = fd;
    timeval sTiempo = {iMs / 1000, (iMs % 1000) * 1000};
    int n = ::select(iMax + 1, pLectura, pEscritura, pError, iMs < 0 ? nullptr : &sTiempo);
    if (n < 0) throw socket_error(errno, "select");
    return n;
}

bool CSocket::Espera(int iQue, int iMs) {
    CompruebaAbierto("Select");
    if (iSocket >= FD_SETSIZE) {
        // An fd_set cannot hold this descriptor.
        pollfd sPoll = {iSocket, static_cast<short>(iQue == 0 ? POLLIN : iQue == 1 ? POLLOUT : POLLPRI), 0};
        int n = ::poll(&sPoll, 1, iMs);
        if (n < 0) throw socket_error(errno, "select");
        return n > 0;
    }
    fd_set sConjunto;
    FD_ZERO(&sConjunto);
    FD_SET(iSocket, &sConjunto);
    return Select(iQue == 0 ? &sConjunto : nullptr, iQue == 1 ? &sConjunto : nullptr,
                  iQue == 2 ? &sConjunto : nullptr, iMs) > 0;
}

bool CSocket::WaitRead(int iMs) { return Espera(0, iMs); }
bool CSocket::WaitWrite(int iMs) { return Espera(1, iMs); }
bool CSocket::WaitError(int iMs) { return Espera(2, iMs); }
