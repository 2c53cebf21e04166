#include "red/cudpsocket.h"

#include <netinet/in.h>

CUDPSocket::CUDPSocket(bool bDifusion) : bBroadcast(bDifusion) { Create(); }

CUDPSocket::CUDPSocket(int iPuerto, bool bDifusion) : bBroadcast(bDifusion) {
    Create();
    Bind(iPuerto);
}

CUDPSocket::CUDPSocket(const CSocketAddress& oDireccion, bool bDifusion) : bBroadcast(bDifusion) {
    Create();
    Bind(oDireccion);
}

int CUDPSocket::Create() {
    iSocket = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (iSocket < 0) throw socket_error(0, "socket");
    if (bBroadcast) EnableBroadcast();
    return iSocket;
}

void CUDPSocket::EnableBroadcast() {
    bBroadcast = true;
    int iUno = 1;
    SetSockOpt(SOL_SOCKET, SO_BROADCAST, &iUno, sizeof iUno);
}
