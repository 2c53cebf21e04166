// IPv4 socket address that remembers the text it was built from.
//
// Special host texts: "<any>" 0.0.0.0, "<localhost>" 127.0.0.1, "<broadcast>" and
// "<none>" 255.255.255.255 (the invalid address). Two addresses are equal when their
// ports and their host TEXTS are equal, so "127.0.0.1" and "<localhost>" differ.
// Look-ups throw socket_error ("gethostbyname", "gethostbyaddr", "getservbyname", number 0).
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <string>

class CSocketAddress {
public:
    // A null host counts as "<none>"; a port of 0 is left 0.
    CSocketAddress(const char* szHost = nullptr, int iPuerto = 0);
    CSocketAddress(const std::string& sHost, int iPuerto);
    // Port of a named service of the protocol ("udp", "tcp").
    CSocketAddress(const char* szServicio, const char* szProtocolo, const char* szHost);
    // Address in host order; the host text becomes its dotted form.
    CSocketAddress(uint32_t uiDireccion, int iPuerto);
    explicit CSocketAddress(const sockaddr_in& sa);

    // Reverse look-up once, unless the text already is a looked-up name.
    const std::string& HostName();
    const std::string& HostText() const { return sHost; }
    int Port() const { return ntohs(sDireccion.sin_port); }
    bool IsValid() const { return sDireccion.sin_addr.s_addr != INADDR_NONE; }
    // Address word in network order.
    uint32_t Address() const { return sDireccion.sin_addr.s_addr; }
    const sockaddr_in& SockAddrIn() const { return sDireccion; }
    const sockaddr* SockAddr() const { return reinterpret_cast<const sockaddr*>(&sDireccion); }
    static socklen_t Size() { return sizeof(sockaddr_in); }

    bool operator==(const CSocketAddress& o) const { return Port() == o.Port() && sHost == o.sHost; }
    bool operator!=(const CSocketAddress& o) const { return !(*this == o); }

    // The four bytes of a network-order address as "a.b.c.d".
    static std::string TextoPuntos(uint32_t uiDireccionRed);

private:
    void Resuelve(const char* szHost, int iPuerto);

    sockaddr_in sDireccion;
    bool bResuelto;     // sHost is the official name of a look-up
    std::string sHost;
};
static_assert(sizeof(sockaddr_in) == 16, "socket calls are given 16 bytes");
