#include "red/ctcpserversocket.h"

#include <cerrno>

CTCPServerSocket::CTCPServerSocket() : CTCPSocket(SinDescriptor{}) { Create(); }

CTCPServerSocket::CTCPServerSocket(int iPuerto) : CTCPSocket(SinDescriptor{}) {
    Create();
    Bind(iPuerto);
}

CTCPServerSocket::CTCPServerSocket(const CSocketAddress& oLocalDir) : CTCPSocket(SinDescriptor{}) {
    Create();
    Bind(oLocalDir);
}

int CTCPServerSocket::Create() {
    iBacklog = 0;
    bEscuchando = false;
    return CTCPSocket::Create();
}

void CTCPServerSocket::Listen(int iNuevo) {
    // A fresh socket must listen even for backlog 0, or accept fails with EINVAL.
    if (bEscuchando && iNuevo == iBacklog) return;
    if (::listen(iSocket, iNuevo) < 0) throw socket_error(errno, "listen");
    iBacklog = iNuevo;
    bEscuchando = true;
}

int CTCPServerSocket::Accept(int iNuevo) {
    Listen(iNuevo);
    int fd = ::accept(iSocket, nullptr, nullptr);
    if (fd < 0) throw socket_error(0, "accept");
    return fd;
}

CTCPSocket* CTCPServerSocket::AcceptSocket(int iNuevo) { return new CTCPSocket(Accept(iNuevo)); }

void CTCPServerSocket::AcceptInto(CTCPSocket& oSocket, int iNuevo) {
    int fd = Accept(iNuevo);
    try {
        oSocket.Close();
    } catch (const socket_error&) {
        // The old descriptor is released whatever close said; the new one must not leak.
    }
    oSocket.iSocket = fd;
}
