// Helpers of the core's tests: the SNMP agent's UDP port, log capture, child processes.
#pragma once

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "comun/nlog.h"

namespace pruebas {

// The local SNMP agent: records the core sends to 127.0.0.1:65000.
class CAgenteSnmp {
public:
    CAgenteSnmp() {
        iSocket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(65000);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(iSocket, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            close(iSocket);
            iSocket = -1;
        }
    }
    ~CAgenteSnmp() {
        if (iSocket >= 0) close(iSocket);
    }
    bool Abierto() const { return iSocket >= 0; }
    // Records received within iMs (stops at the first gap of iMs).
    std::vector<std::string> Recibe(int iMs = 200) {
        std::vector<std::string> v;
        pollfd p{iSocket, POLLIN, 0};
        while (poll(&p, 1, iMs) == 1) {
            char ac[1024];
            ssize_t n = recv(iSocket, ac, sizeof ac, 0);
            if (n < 0) break;
            v.emplace_back(ac, static_cast<size_t>(n));
        }
        return v;
    }
    // Waits up to iMs for a record beginning with sPrefijo; empty when none came.
    std::string Espera(const std::string& sPrefijo, int iMs) {
        auto fin = std::chrono::steady_clock::now() + std::chrono::milliseconds(iMs);
        pollfd p{iSocket, POLLIN, 0};
        while (std::chrono::steady_clock::now() < fin) {
            if (poll(&p, 1, 50) != 1) continue;
            char ac[1024];
            ssize_t n = recv(iSocket, ac, sizeof ac, 0);
            if (n <= 0) continue;
            std::string s(ac, static_cast<size_t>(n));
            if (s.compare(0, sPrefijo.size(), sPrefijo) == 0) return s;
        }
        return "";
    }

private:
    int iSocket = -1;
};

// Every log line of the process while the object lives.
class CCapturaLog {
public:
    CCapturaLog() {
        Instancia() = this;
        NLOG::FijaCaptura(&CCapturaLog::Captura);
    }
    ~CCapturaLog() {
        NLOG::FijaCaptura(nullptr);
        Instancia() = nullptr;
    }
    int Cuenta(const std::string& sTexto) {
        std::lock_guard<std::mutex> l(tMutex);
        int n = 0;
        for (const auto& s : vLineas)
            if (s.find(sTexto) != std::string::npos) n++;
        return n;
    }
    void Vacia() {
        std::lock_guard<std::mutex> l(tMutex);
        vLineas.clear();
    }

private:
    static CCapturaLog*& Instancia() {
        static CCapturaLog* p = nullptr;
        return p;
    }
    static void Captura(int, const char* szTexto) {
        CCapturaLog* p = Instancia();
        if (!p) return;
        std::lock_guard<std::mutex> l(p->tMutex);
        p->vLineas.emplace_back(szTexto);
    }
    std::mutex tMutex;  // guards vLineas
    std::vector<std::string> vLineas;
};

}  // namespace pruebas
