// SIP by hand against the running board: UDP sockets on loopback, requests built as text and
// the fields of the answers that come back.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

namespace e2e {

using Bytes = std::string;

constexpr uint16_t kPuertoSip = 5060;
constexpr uint16_t kPuertoUac = 5090;

inline sockaddr_in Direccion(const char* szIp, uint16_t usPuerto) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(usPuerto);
    inet_pton(AF_INET, szIp, &a.sin_addr);
    return a;
}

inline int SocketUdp(uint16_t usPuerto = 0) {
    int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int uno = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &uno, sizeof uno);
    int tam = 1 << 20;
    setsockopt(s, SOL_SOCKET, SO_SNDBUF, &tam, sizeof tam);
    sockaddr_in a = Direccion("0.0.0.0", usPuerto);
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) std::perror("bind");
    return s;
}

inline void EnviaUdp(int s, const char* szIp, uint16_t usPuerto, const Bytes& b) {
    sockaddr_in d = Direccion(szIp, usPuerto);
    sendto(s, b.data(), b.size(), 0, reinterpret_cast<sockaddr*>(&d), sizeof d);
}

// The first datagram for which fAcepta holds, within iMs; "" when none came.
inline Bytes RecibeUdp(int s, int iMs, const std::function<bool(const Bytes&)>& fAcepta) {
    auto fin = std::chrono::steady_clock::now() + std::chrono::milliseconds(iMs);
    for (;;) {
        auto resto = std::chrono::duration_cast<std::chrono::milliseconds>(fin - std::chrono::steady_clock::now());
        if (resto.count() <= 0) return "";
        pollfd p{s, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(resto.count())) != 1) return "";
        char ac[70000];
        ssize_t n = recv(s, ac, sizeof ac, 0);
        if (n < 0) continue;
        Bytes b(ac, static_cast<size_t>(n));
        if (fAcepta(b)) return b;
    }
}

inline std::string Sdp(const std::string& sPuerto = "7000", const std::string& sCodecs = "8 0") {
    return "v=0\r\no=e2e 1 1 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\nm=audio " + sPuerto +
           " RTP/AVP " + sCodecs + "\r\na=rtpmap:8 PCMA/8000\r\na=rtpmap:0 PCMU/8000\r\n";
}

// A request from a test's SIP socket on usPuertoUac; sCuerpo goes after the headers with its
// true length unless sLongitud says otherwise.
inline std::string Peticion(const std::string& sMetodo, const std::string& sUsuario, const std::string& sCallId,
                            const std::string& sRama, int iCSeq, const std::string& sCuerpo = "",
                            const std::string& sExtra = "", const char* szLongitud = nullptr,
                            uint16_t usPuertoUac = kPuertoUac) {
    const std::string sPuerto = std::to_string(usPuertoUac);
    std::string s = sMetodo + " sip:" + sUsuario + "@127.0.0.1:5060 SIP/2.0\r\n";
    s += "Via: SIP/2.0/UDP 127.0.0.1:" + sPuerto + ";branch=z9hG4bK" + sRama + "\r\n";
    s += "From: <sip:e2e@127.0.0.1:" + sPuerto + ">;tag=e2e" + sCallId + "\r\n";
    s += "To: <sip:" + sUsuario + "@127.0.0.1:5060>\r\n";
    s += "Call-ID: " + sCallId + "\r\n";
    s += "CSeq: " + std::to_string(iCSeq) + " " + sMetodo + "\r\n";
    s += "Contact: <sip:e2e@127.0.0.1:" + sPuerto + ">\r\nMax-Forwards: 70\r\n";
    s += "Subject: IA call\r\nPriority: normal\r\nWG67-Version: phone.01\r\n" + sExtra;
    if (!sCuerpo.empty()) s += "Content-Type: application/sdp\r\n";
    s += "Content-Length: " + (szLongitud ? std::string(szLongitud) : std::to_string(sCuerpo.size())) + "\r\n\r\n";
    return s + sCuerpo;
}

inline int CodigoSip(const Bytes& b) { return b.compare(0, 8, "SIP/2.0 ") == 0 ? std::atoi(b.c_str() + 8) : 0; }

inline std::string Cabecera(const Bytes& b, const std::string& sNombre) {
    size_t i = b.find("\r\n" + sNombre + ":");
    if (i == std::string::npos) return "";
    i += sNombre.size() + 3;
    while (i < b.size() && b[i] == ' ') i++;
    return b.substr(i, b.find("\r\n", i) - i);
}

// The message with that header's value replaced, or its line removed when sValor is empty.
inline std::string CambiaCabecera(std::string s, const std::string& sNombre, const std::string& sValor) {
    const size_t i = s.find("\r\n" + sNombre + ":");
    if (i == std::string::npos) return s;
    const size_t f = s.find("\r\n", i + 2);
    return s.replace(i + 2, f - i, sValor.empty() ? "" : sNombre + ": " + sValor + "\r\n");
}

}  // namespace e2e
