// Base of the socket classes (CUDPSocket, CTCPSocket, CTCPServerSocket).
//
// Every failing socket call throws socket_error named after the call, with errno; an
// operation on a socket that is not open throws the operation's own name with number 1.
// SendTo/RecvFrom/Send/Recv/Connect/SetRecvTimeout report call failures by their result.
// One object is used by one thread at a time; the classes hold no locks.
#pragma once

#include <sys/select.h>
#include <sys/socket.h>

#include <cstddef>

#include "red/csocketaddress.h"
#include "red/socket_error.h"

class CSocket {
public:
    virtual ~CSocket();
    CSocket(const CSocket&) = delete;
    CSocket& operator=(const CSocket&) = delete;

    // Opens a new descriptor of the subclass's kind and returns it.
    virtual int Create() = 0;

    void Bind(int iPuerto);
    void Bind(const CSocketAddress& oDireccion);
    void Close();
    void Reopen();
    void Shutdown(int iComo);

    void SendTo(const void* pBuf, size_t iLong, const CSocketAddress& oDestino);
    // Stores the sender in *pOrigen when at least one byte arrived.
    int RecvFrom(void* pBuf, size_t iLong, CSocketAddress* pOrigen = nullptr);
    bool Connect(const CSocketAddress& oDireccion);
    // Never raises SIGPIPE: a vanished peer is a -1 result (EPIPE).
    int Send(const void* pBuf, size_t iLong);
    int Recv(void* pBuf, size_t iLong);

    CSocketAddress LocalAddress();
    CSocketAddress PeerAddress();

    void SetSockOpt(int iNivel, int iOpcion, const void* pValor, socklen_t iLong);
    void GetSockOpt(int iNivel, int iOpcion, void* pValor, socklen_t* pLong);
    // SO_RCVTIMEO in whole seconds; the result of setsockopt, never throws.
    int SetRecvTimeout(int iSegundos);

    // Time-out in ms; negative waits without limit. Returns the number of ready descriptors.
    int Select(fd_set* pLectura, fd_set* pEscritura, fd_set* pError, int iMs);
    bool WaitRead(int iMs);
    bool WaitWrite(int iMs);
    bool WaitError(int iMs);

    int Descriptor() const { return iSocket; }
    bool IsOpen() const { return iSocket >= 0; }

protected:
    CSocket();
    void CompruebaAbierto(const char* szOperacion) const;
    bool Espera(int iQue, int iMs);

    int iSocket;
    CSocketAddress oLocal;
    CSocketAddress oRemoto;
};
