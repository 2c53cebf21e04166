// The SNMP agent's port inside a test: the records a resource process sends, as datagrams.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

namespace agente_pruebas {

class CPuertoAgente {
public:
    CPuertoAgente() {
        fd = socket(AF_INET, SOCK_DGRAM, 0);
        int uno = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &uno, sizeof uno);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(65000);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bAbierto = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~CPuertoAgente() { close(fd); }
    bool Abierto() const { return bAbierto; }
    // The next record, "" when none comes within iMs.
    std::string Recibe(int iMs) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, iMs) != 1) return "";
        char ac[600];
        const ssize_t n = recv(fd, ac, sizeof ac, 0);
        return n > 0 ? std::string(ac, static_cast<size_t>(n)) : "";
    }
    // The next record that begins with sPrefijo, "" when none comes within iMs.
    std::string Espera(const std::string& sPrefijo, int iMs) {
        for (int i = 0; i < 20; ++i) {
            const std::string s = Recibe(iMs);
            if (s.empty() || s.compare(0, sPrefijo.size(), sPrefijo) == 0) return s;
        }
        return "";
    }

private:
    int fd = -1;
    bool bAbierto = false;
};

}  // namespace agente_pruebas
