// The far exchange of a trunk, played through the simulated DSP: the line commands the trunk
// gave (as the DSP's command log lists them) and the line events the exchange answers with.
#pragma once

#include <chrono>
#include <initializer_list>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "csimboard.h"

namespace central_dsp {

// Line commands of the DSP, as the trunk sends them.
constexpr int TOMA_PROTOCOLO = 0x0110, TONOS = 0x0119, LLAMA = 0x0121, BLOQUEA = 0x0122, LIBERA = 0x0123,
              RESPONDE_LIBRE = 0x0124, RESPONDE_OCUPADO = 0x0125, RESPONDE_CONGESTION = 0x0126,
              INTERVENCION = 0x0128;
const std::string kSinParametros = "";

// Bytes as the command log writes them: "03 06 06".
inline std::string Hex(std::initializer_list<int> v) {
    std::string s;
    char ac[4];
    for (int b : v) {
        std::snprintf(ac, sizeof ac, "%02x", b & 0xFF);
        s += (s.empty() ? "" : " ") + std::string(ac);
    }
    return s;
}
inline std::string Hex(const std::vector<int>& v) {
    std::string s;
    for (int b : v) s += (s.empty() ? "" : " ") + Hex({b});
    return s;
}

inline std::vector<std::string> Lineas(const std::string& s) {
    std::istringstream is(s);
    std::vector<std::string> v;
    for (std::string l; std::getline(is, l);) v.push_back(l);
    return v;
}

// Commands of the DSP channel received so far, as their bytes after code and channel.
inline std::vector<std::string> Comandos(simboard::CSimBoard& placa, int iCanal, int iCodigo) {
    std::vector<std::string> v;
    const std::string s = ": " + Hex({iCodigo & 0xFF, iCodigo >> 8, iCanal, 0});
    for (const auto& l : Lineas(placa.Dsp("comandos"))) {
        const auto p = l.find(s);
        if (p != std::string::npos) v.push_back(l.size() > p + s.size() ? l.substr(p + s.size() + 1) : "");
    }
    return v;
}

// Polls until fCond() holds or iMs pass.
template <typename F>
bool Espera(F fCond, int iMs) {
    const auto fin = std::chrono::steady_clock::now() + std::chrono::milliseconds(iMs);
    while (std::chrono::steady_clock::now() < fin) {
        if (fCond()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return fCond();
}

// Until the channel got n commands of the code with these parameters.
inline bool EsperaComando(simboard::CSimBoard& placa, int iCanal, int iCodigo, const std::string& sParametros,
                          size_t n = 1, int iMs = 10000) {
    return Espera([&] {
        size_t k = 0;
        for (const auto& c : Comandos(placa, iCanal, iCodigo)) k += c == sParametros;
        return k >= n;
    }, iMs);
}

// A line event of the far exchange ("libre", "liberada 0" ...); the board's answer, "ok\n".
inline std::string Evento(simboard::CSimBoard& placa, int iCanal, const std::string& sEvento) {
    return placa.Dsp("evento " + std::to_string(iCanal) + " " + sEvento);
}

// The far exchange seizes the line and sends the numbers, as digit values (10 is the digit 0).
inline std::string Entrante(simboard::CSimBoard& placa, int iCanal, int iPrioridad, const std::vector<int>& vOrigen,
                            const std::vector<int>& vDestino) {
    std::string s = "crudo " + Hex({0x23, 0x80, iCanal, 0, iPrioridad, static_cast<int>(vOrigen.size()),
                                    static_cast<int>(vDestino.size())});
    for (int d : vOrigen) s += " " + Hex({d});
    for (int d : vDestino) s += " " + Hex({d});
    return placa.Dsp(s);
}

// The DSP channel whose signalling protocol is iProtocolo; -1 while there is none.
inline int CanalConProtocolo(simboard::CSimBoard& placa, int iProtocolo) {
    const std::string p = " asignado protocolo=" + std::to_string(iProtocolo) + " ";
    for (const auto& l : Lineas(placa.Dsp("canales")))
        if (l.find(p) != std::string::npos) return std::stoi(l);
    return -1;
}

}  // namespace central_dsp
