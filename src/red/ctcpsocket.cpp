#include "red/ctcpsocket.h"

#include <netinet/in.h>

#include <cerrno>

CTCPSocket::CTCPSocket() { Create(); }

CTCPSocket::CTCPSocket(const CSocketAddress& oRemoto) {
    Create();
    Connect(oRemoto);
}

CTCPSocket::CTCPSocket(const CSocketAddress& oLocalDir, const CSocketAddress& oRemoto) {
    Create();
    Bind(oLocalDir);
    Connect(oRemoto);
}

CTCPSocket::CTCPSocket(int iDescriptor) { iSocket = iDescriptor; }

int CTCPSocket::Create() {
    iSocket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (iSocket < 0) throw socket_error(0, "socket");
    return iSocket;
}

int CTCPSocket::Read(void* pBuf, size_t iLong) {
    auto* p = static_cast<char*>(pBuf);
    size_t iLeidos = 0;
    while (iLeidos < iLong) {
        int n = Recv(p + iLeidos, iLong - iLeidos);
        if (n == 0) throw socket_error(2, "Read");
        if (n < 0) {
            if (errno == EINTR) continue;
            throw socket_error(errno, "recv");
        }
        iLeidos += static_cast<size_t>(n);
    }
    return static_cast<int>(iLeidos);
}
