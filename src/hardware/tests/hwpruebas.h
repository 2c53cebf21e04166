// Shared by the hardware layer's tests: a simulated board per test, log capture, a line
// entity that records its events, and waits on conditions instead of fixed sleeps.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "csimboard.h"
#include "hardware/ccomeventos.h"
#include "hardware/hardware.h"
#include "hardware/hwinterno.h"
#include "comun/nlog.h"

namespace hwpruebas {

inline std::mutex& MutexLog() {
    static std::mutex m;
    return m;
}
inline std::vector<std::string>& Lineas() {
    static std::vector<std::string> v;
    return v;
}
inline void Captura(int, const char* szTexto) {
    std::lock_guard<std::mutex> l(MutexLog());
    Lineas().push_back(szTexto);
}
inline bool HayLinea(const std::string& sTexto) {
    std::lock_guard<std::mutex> l(MutexLog());
    for (const auto& s : Lineas())
        if (s.find(sTexto) != std::string::npos) return true;
    return false;
}

inline int CuentaLineas(const std::string& sTexto) {
    std::lock_guard<std::mutex> l(MutexLog());
    int n = 0;
    for (const auto& s : Lineas()) n += s.find(sTexto) != std::string::npos;
    return n;
}

// Polls a condition every millisecond until it holds or the limit passes.
inline bool Espera(const std::function<bool()>& fCondicion, int iMs = 3000) {
    auto tLimite = std::chrono::steady_clock::now() + std::chrono::milliseconds(iMs);
    while (!fCondicion()) {
        if (std::chrono::steady_clock::now() > tLimite) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// The layer's own long waits (supervisor start-up 20 s, idle 2 s) shrink a thousandfold.
inline void EsperaCorta(uint32_t uiMicros) {
    std::this_thread::sleep_for(std::chrono::microseconds(uiMicros / 1000 + 1));
}

// A line entity that writes down every event it receives.
class CEntidadGrabadora : public CComeventos {
public:
    int EvtSquelchOn() override { return Anota("SquelchOn"); }
    int EvtSquelchOff() override { return Anota("SquelchOff"); }
    int EvtEntradaActiva() override { return Anota("EntradaActiva"); }
    int EvtEntradaInactiva() override { return Anota("EntradaInactiva"); }
    int EvtDetRing(int m) override { return Anota("DetRing(" + std::to_string(m) + ")"); }
    int EvtDetFinRing(int m) override { return Anota("DetFinRing(" + std::to_string(m) + ")"); }
    int EvtCierreBucle(int m) override { return Anota("CierreBucle(" + std::to_string(m) + ")"); }
    int EvtBucleAbierto(int m) override { return Anota("BucleAbierto(" + std::to_string(m) + ")"); }
    int EvtDetLlamadaEyM(int m) override { return Anota("DetLlamadaEyM(" + std::to_string(m) + ")"); }
    int EvtDetFinLlamadaEyM(int m) override { return Anota("DetFinLlamadaEyM(" + std::to_string(m) + ")"); }
    int EvtFalloSlic(int m, int e) override {
        return Anota("FalloSlic(" + std::to_string(m) + "," + std::to_string(e) + ")");
    }
    std::vector<std::string> Eventos() {
        std::lock_guard<std::mutex> l(tMutex);
        return asEventos;
    }
    size_t Cuantos() {
        std::lock_guard<std::mutex> l(tMutex);
        return asEventos.size();
    }
    int iResultado = 0;

private:
    int Anota(const std::string& s) {
        std::lock_guard<std::mutex> l(tMutex);
        asEventos.push_back(s);
        return iResultado;
    }
    std::mutex tMutex;
    std::vector<std::string> asEventos;
};

// A simulated board of its own and, unless told otherwise, the layer started on it.
class PlacaSimulada : public ::testing::Test {
protected:
    void SetUp() override {
        NLOG::FijaCaptura(Captura);
        hwFijaEspera(EsperaCorta);
        placa = simboard::CSimBoard::Arranca("/mnt/ramfs/simboard.sock");
        ASSERT_TRUE(placa) << "the simulated board did not start";
        if (bIniciar) {
            ASSERT_EQ(IniciaHardware(), 0);
        }
    }
    void TearDown() override { NLOG::FijaCaptura(nullptr); }
    bool bIniciar = true;
    std::unique_ptr<simboard::CSimBoard> placa;
};

}  // namespace hwpruebas
