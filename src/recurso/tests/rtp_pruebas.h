// Helpers of the RTP session tests: a peer session on loopback, console and log capture,
// a sine in G.711, a raw UDP sender.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "ccodecg711.h"
#include "comun/ganchosipc.h"
#include "comun/nlog.h"
#include "rtpsession.h"

namespace prueba {

// Console text (IpcPrintf/IpcTraza) and log records of the process, for assertions.
class Salidas {
public:
    Salidas() {
        Limpia();
        FijaGanchoTextoIpc(&Consola);
        FijaMascaraTrazaIpc(0xFFFF);
        NLOG::FijaCaptura(&Log);
    }
    ~Salidas() {
        FijaGanchoTextoIpc(nullptr);
        NLOG::FijaCaptura(nullptr);
    }
    static std::string Texto() {
        std::lock_guard<std::mutex> l(M());
        return S();
    }
    static void Limpia() {
        std::lock_guard<std::mutex> l(M());
        S().clear();
    }

private:
    static std::mutex& M() {
        static std::mutex m;
        return m;
    }
    static std::string& S() {
        static std::string s;
        return s;
    }
    static int Consola(const char* t) {
        std::lock_guard<std::mutex> l(M());
        S() += t;
        return static_cast<int>(std::string(t).size());
    }
    static void Log(int nivel, const char* t) {
        std::lock_guard<std::mutex> l(M());
        S() += "LOG" + std::to_string(nivel) + ":" + t + "\n";
    }
};

// A plain session of the RTP layer playing the remote end on loopback.
class Par : public RTPSession {
public:
    int Crea(uint16_t uiPuerto, uint16_t uiDestino, uint8_t ucPayload = 8) {
        RTPSessionParams sp;
        sp.SetOwnTimestampUnit(1.0 / 8000.0);
        RTPUDPv4TransmissionParams tp;
        tp.SetPortbase(uiPuerto);
        int r = Create(sp, &tp);
        if (r < 0) return r;
        SetDefaultPayloadType(ucPayload);
        SetDefaultTimestampIncrement(160);
        SetDefaultMark(false);
        return AddDestination(RTPIPv4Address(INADDR_LOOPBACK, uiDestino));
    }
};

// Polls s until n packets were taken (or five seconds passed); the caller deletes them.
template <class S>
std::vector<RTPPacket*> Recibe(S& s, size_t n) {
    std::vector<RTPPacket*> r;
    auto tFin = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (r.size() < n && std::chrono::steady_clock::now() < tFin) {
        s.WaitForIncomingData(RTPTime(0.02));
        s.Poll();
        if (s.GotoFirstSourceWithData()) {
            do {
                while (RTPPacket* p = s.GetNextPacket()) r.push_back(p);
            } while (s.GotoNextSourceWithData());
        }
    }
    return r;
}

// Polls s until listo() holds (true) or t seconds passed (false); listo() runs once a pass.
template <class S, class F>
bool SondeaHasta(S& s, F listo, double t = 5.0) {
    auto tFin = std::chrono::steady_clock::now() + std::chrono::microseconds(static_cast<int64_t>(t * 1e6));
    for (;;) {
        if (listo()) return true;
        if (std::chrono::steady_clock::now() >= tFin) return false;
        s.WaitForIncomingData(RTPTime(0.01));
        s.Poll();
    }
}

// n samples of a 1 kHz sine at 8 kHz, amplitude a, starting at sample k0.
inline std::vector<int32_t> Seno(int32_t n, int32_t k0 = 0, double a = 8000.0) {
    std::vector<int32_t> v(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; i++)
        v[static_cast<size_t>(i)] = static_cast<int32_t>(std::lround(a * std::sin(2 * M_PI * 1000.0 * (k0 + i) / 8000.0)));
    return v;
}

inline std::vector<uint8_t> Codifica(const std::vector<int32_t>& v, bool bLeyA) {
    CCodecG711 c;
    if (!bLeyA) c.UsaLeyMu();
    std::vector<uint8_t> b(v.size());
    c.Codifica(v.data(), b.data(), static_cast<int32_t>(v.size()));
    return b;
}

inline std::vector<int32_t> Decodifica(const uint8_t* p, size_t n, bool bLeyA) {
    CCodecG711 c;
    if (!bLeyA) c.UsaLeyMu();
    std::vector<int32_t> v(n);
    c.Decodifica(p, v.data(), static_cast<int32_t>(n));
    return v;
}

// Largest difference between two blocks of linear samples.
inline int32_t DiferenciaMaxima(const std::vector<int32_t>& a, const std::vector<int32_t>& b) {
    if (a.size() != b.size()) return INT32_MAX;
    int32_t d = 0;
    for (size_t i = 0; i < a.size(); i++) d = std::max(d, std::abs(a[i] - b[i]));
    return d;
}

// Sends one datagram from an ephemeral loopback port.
inline bool EnviaUdp(uint16_t uiPuerto, const std::vector<uint8_t>& d) {
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(uiPuerto);
    ssize_t r = sendto(s, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
    close(s);
    return r == static_cast<ssize_t>(d.size());
}

}  // namespace prueba
