// Datagram socket. A constructor that fails closes what it opened and throws socket_error.
#pragma once

#include "red/csocket.h"

class CUDPSocket : public CSocket {
public:
    // Not bound (the system picks a port at the first send).
    explicit CUDPSocket(bool bBroadcast = false);
    // Bound to the any-address and the port.
    CUDPSocket(int iPuerto, bool bBroadcast);
    explicit CUDPSocket(const CSocketAddress& oLocal, bool bBroadcast = false);

    int Create() override;
    void EnableBroadcast();

private:
    bool bBroadcast;
};
