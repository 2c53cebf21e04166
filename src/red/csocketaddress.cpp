#include "red/csocketaddress.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <cstring>

#include "red/socket_error.h"

CSocketAddress::CSocketAddress(const char* szHost, int iPuerto) { Resuelve(szHost, iPuerto); }

CSocketAddress::CSocketAddress(const std::string& sHost, int iPuerto) { Resuelve(sHost.c_str(), iPuerto); }

CSocketAddress::CSocketAddress(const char* szServicio, const char* szProtocolo, const char* szHost) {
    servent sServ;
    servent* pServ = nullptr;
    char acBuf[1024];
    if (getservbyname_r(szServicio ? szServicio : "", szProtocolo, &sServ, acBuf, sizeof acBuf, &pServ) != 0 ||
        pServ == nullptr)
        throw socket_error(0, "getservbyname");
    Resuelve(szHost, ntohs(static_cast<uint16_t>(pServ->s_port)));
}

CSocketAddress::CSocketAddress(uint32_t uiDireccion, int iPuerto) : bResuelto(false) {
    memset(&sDireccion, 0, sizeof sDireccion);
    sDireccion.sin_family = AF_INET;
    sDireccion.sin_port = htons(static_cast<uint16_t>(iPuerto));
    sDireccion.sin_addr.s_addr = htonl(uiDireccion);
    sHost = TextoPuntos(sDireccion.sin_addr.s_addr);
}

CSocketAddress::CSocketAddress(const sockaddr_in& sa) : sDireccion(sa), bResuelto(false) {
    switch (ntohl(sa.sin_addr.s_addr)) {
        case INADDR_BROADCAST: sHost = "<broadcast>"; break;
        case INADDR_ANY: sHost = "<any>"; break;
        case INADDR_LOOPBACK: sHost = "<localhost>"; break;
        default: sHost = TextoPuntos(sa.sin_addr.s_addr);
    }
}

void CSocketAddress::Resuelve(const char* szHost, int iPuerto) {
    memset(&sDireccion, 0, sizeof sDireccion);
    sDireccion.sin_family = AF_INET;
    if (iPuerto != 0) sDireccion.sin_port = htons(static_cast<uint16_t>(iPuerto));
    sHost = szHost ? szHost : "<none>";
    bResuelto = false;

    if (sHost == "<broadcast>" || sHost == "<none>") {
        sDireccion.sin_addr.s_addr = htonl(INADDR_BROADCAST);
        return;
    }
    if (sHost == "<any>") {
        sDireccion.sin_addr.s_addr = htonl(INADDR_ANY);
        return;
    }
    if (sHost == "<localhost>") {
        sDireccion.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return;
    }
    in_addr_t uiNumerica = inet_addr(sHost.c_str());
    if (uiNumerica != INADDR_NONE) {
        sDireccion.sin_addr.s_addr = uiNumerica;
        return;
    }
    // A dotted 255.255.255.255 also lands here and comes back from the resolver as itself.
    addrinfo sPista = {};
    sPista.ai_family = AF_INET;
    sPista.ai_flags = AI_CANONNAME;
    addrinfo* pRes = nullptr;
    if (getaddrinfo(sHost.c_str(), nullptr, &sPista, &pRes) != 0 || pRes == nullptr)
        throw socket_error(0, "gethostbyname");
    sDireccion.sin_addr = reinterpret_cast<const sockaddr_in*>(pRes->ai_addr)->sin_addr;
    if (pRes->ai_canonname) sHost = pRes->ai_canonname;
    freeaddrinfo(pRes);
    bResuelto = true;
}

const std::string& CSocketAddress::HostName() {
    if (bResuelto) return sHost;
    sockaddr_in sa = {};
    sa.sin_family = AF_INET;
    sa.sin_addr = sDireccion.sin_addr;
    char acNombre[NI_MAXHOST];
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&sa), sizeof sa, acNombre, sizeof acNombre, nullptr, 0,
                    NI_NAMEREQD) != 0)
        throw socket_error(0, "gethostbyaddr");
    sHost = acNombre;
    bResuelto = true;
    return sHost;
}

std::string CSocketAddress::TextoPuntos(uint32_t uiDireccionRed) {
    const auto* p = reinterpret_cast<const uint8_t*>(&uiDireccionRed);
    return std::to_string(p[0]) + "." + std::to_string(p[1]) + "." + std::to_string(p[2]) + "." +
           std::to_string(p[3]);
}
