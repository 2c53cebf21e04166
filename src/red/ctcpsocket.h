// Stream socket.
#pragma once

#include "red/csocket.h"

class CTCPSocket : public CSocket {
public:
    CTCPSocket();
    // Connects; a failed connection leaves the socket open and unconnected.
    explicit CTCPSocket(const CSocketAddress& oRemoto);
    CTCPSocket(const CSocketAddress& oLocal, const CSocketAddress& oRemoto);
    // Takes over an open descriptor, such as one from CTCPServerSocket::Accept.
    explicit CTCPSocket(int iDescriptor);

    int Create() override;
    int Write(const void* pBuf, size_t iLong) { return Send(pBuf, iLong); }
    // Returns only once exactly iLong bytes have arrived; the peer closing first throws
    // "Read" with number 2, a failing receive throws "recv" with errno.
    int Read(void* pBuf, size_t iLong);

protected:
    friend class CTCPServerSocket;
    struct SinDescriptor {};
    explicit CTCPSocket(SinDescriptor) {}
};
