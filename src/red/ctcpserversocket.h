// Listening stream socket.
#pragma once

#include "red/ctcpsocket.h"

class CTCPServerSocket : public CTCPSocket {
public:
    CTCPServerSocket();
    explicit CTCPServerSocket(int iPuerto);
    explicit CTCPServerSocket(const CSocketAddress& oLocal);

    int Create() override;
    // Calls listen only when not listening yet or when the backlog changes.
    void Listen(int iBacklog);
    // Listens (as Listen) and accepts one connection; returns its descriptor.
    int Accept(int iBacklog);
    // The caller owns and deletes the new socket.
    CTCPSocket* AcceptSocket(int iBacklog);
    // Closes oSocket and gives it the accepted connection.
    void AcceptInto(CTCPSocket& oSocket, int iBacklog);

private:
    int iBacklog = 0;
    bool bEscuchando = false;
};
