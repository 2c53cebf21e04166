// The core's operator console as a test reads it: every byte the console sends, kept alive.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>

namespace pruebas {

// The core's console trace, read on a connection kept alive with a NUL byte each second (the
// console drops a client silent for 6 s).
class TrazaConsola {
public:
    TrazaConsola() {
        tHilo = std::thread([this] { Lee(); });
    }
    ~TrazaConsola() {
        bFin = true;
        tHilo.join();
    }
    std::string Texto() {
        std::lock_guard<std::mutex> l(tMutex);
        return sTexto;
    }
    // Types a command line: this first connection is the console's input connection.
    void Orden(const std::string& s) {
        std::lock_guard<std::mutex> l(tMutex);
        sOrdenes += s;
        sOrdenes += '\0';
    }

private:
    void Lee() {
        int fd = -1;
        auto ultimo = std::chrono::steady_clock::now();
        while (!bFin) {
            if (fd < 0) {
                fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
                sockaddr_in a{};
                a.sin_family = AF_INET;
                a.sin_port = htons(19710);
                a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
                if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
                    close(fd);
                    fd = -1;
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
                    continue;
                }
            }
            std::string sPendiente;
            {
                std::lock_guard<std::mutex> l(tMutex);
                sPendiente.swap(sOrdenes);
            }
            if (!sPendiente.empty()) send(fd, sPendiente.data(), sPendiente.size(), MSG_NOSIGNAL);
            if (std::chrono::steady_clock::now() - ultimo > std::chrono::seconds(1)) {
                send(fd, "", 1, MSG_NOSIGNAL);
                ultimo = std::chrono::steady_clock::now();
            }
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 100) != 1) continue;
            char ac[4096];
            const ssize_t n = recv(fd, ac, sizeof ac, 0);
            if (n <= 0) {
                close(fd);
                fd = -1;
                continue;
            }
            std::lock_guard<std::mutex> l(tMutex);
            for (ssize_t i = 0; i < n; i++)
                if (ac[i] != '\0') sTexto += ac[i];
        }
        if (fd >= 0) close(fd);
    }
    std::atomic<bool> bFin{false};
    std::mutex tMutex;  // guards sTexto and sOrdenes
    std::string sTexto;
    std::string sOrdenes;  // typed, not yet sent
    std::thread tHilo;
};

}  // namespace pruebas
