// Shared by the DSP tests: a simulated board per test with the hardware layer started on it,
// the two boot images in /var, a DSP master whose pauses are recorded, a receiver that writes
// down every link and DSP event, and steps of the DSP's hand-driven clock.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cmasterdsp.h"
#include "csimboard.h"
#include "hardware/hardware.h"
#include "hardware/tests/hwpruebas.h"
#include "hardware/hwinterno.h"
#include "comun/nlog.h"
#include "trazadsp.h"

namespace dsppruebas {

// Trace lines join the log lines that the hardware tests' capture keeps.
inline void CapturaTraza(const char* sz) { hwpruebas::Captura(0, sz); }
inline void BorraLineas() {
    std::lock_guard<std::mutex> l(hwpruebas::MutexLog());
    hwpruebas::Lineas().clear();
}
using hwpruebas::CuentaLineas;
using hwpruebas::Espera;

// Image bytes that differ from word to word and inside each word.
inline std::string Imagen(size_t n, uint8_t semilla) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; i++) s[i] = static_cast<char>((i * 7 + semilla + (i >> 8)) & 0xFF);
    return s;
}
inline void EscribeFichero(const char* szRuta, const std::string& s) {
    FILE* f = std::fopen(szRuta, "wb");
    ASSERT_NE(f, nullptr) << szRuta;
    std::fwrite(s.data(), 1, s.size(), f);
    std::fclose(f);
}

// Every event as one text line: "Nombre(dsp,canal,...)".
class CReceptor : public CMasterDsp::CEventos {
public:
    void EvtDspOk(int d) override { Anota("DspOk(" + std::to_string(d) + ")"); }
    void EvtDspCaido(int d) override { Anota("DspCaido(" + std::to_string(d) + ")"); }
    void EvtDigitoDtmf(int d, int c, int a, int b) override { Anota(T("DigitoDtmf", d, c, {a, b})); }
    void EvtVoxTx(int d, int c, int a, int b) override { Anota(T("VoxTx", d, c, {a, b})); }
    void EvtVoxRx(int d, int c, int a, int b) override { Anota(T("VoxRx", d, c, {a, b})); }
    void EvtDspEvento84(int d, int c, int v) override { Anota(T("DspEvento84", d, c, {v})); }
    void EvtBucle(int d, int c, int a, int b, int x, int y) override { Anota(T("Bucle", d, c, {a, b, x, y})); }
    void EvtReposo(int d, int c) override { Anota(T("Reposo", d, c, {})); }
    void EvtLlamadoLibre(int d, int c) override { Anota(T("LlamadoLibre", d, c, {})); }
    void EvtLlamadoOcupado(int d, int c) override { Anota(T("LlamadoOcupado", d, c, {})); }
    void EvtLlamadaEntrante(int d, int c, int p, const uint8_t* o, int lo, const uint8_t* de, int ld) override {
        Anota(T("LlamadaEntrante", d, c, {p}) + "[" + std::string(reinterpret_cast<const char*>(o), lo) + "][" +
              std::string(reinterpret_cast<const char*>(de), ld) + "]");
    }
    void EvtLlamadaLiberada(int d, int c, int x) override { Anota(T("LlamadaLiberada", d, c, {x})); }
    void EvtConversacionInterrumpida(int d, int c) override { Anota(T("ConversacionInterrumpida", d, c, {})); }
    void EvtCongestion(int d, int c) override { Anota(T("Congestion", d, c, {})); }
    void EvtFueraServicio(int d, int c) override { Anota(T("FueraServicio", d, c, {})); }
    void EvtLineaBloqueada(int d, int c) override { Anota(T("LineaBloqueada", d, c, {})); }
    void EvtTimeout(int d, int c) override { Anota(T("Timeout", d, c, {})); }
    void EvtErrorProtocolo(int d, int c) override { Anota(T("ErrorProtocolo", d, c, {})); }
    void EvtLlamadoDescuelga(int d, int c) override { Anota(T("LlamadoDescuelga", d, c, {})); }

    std::vector<std::string> Eventos() {
        std::lock_guard<std::mutex> l(tMutex);
        return asEventos;
    }
    std::vector<std::string> Toma() {
        std::lock_guard<std::mutex> l(tMutex);
        std::vector<std::string> v;
        v.swap(asEventos);
        return v;
    }
    int Cuenta(const std::string& s) {
        std::lock_guard<std::mutex> l(tMutex);
        int n = 0;
        for (const auto& e : asEventos) n += e == s;
        return n;
    }

private:
    static std::string T(const char* sz, int d, int c, std::initializer_list<int> v) {
        std::string s = std::string(sz) + "(" + std::to_string(d) + "," + std::to_string(c);
        for (int x : v) s += "," + std::to_string(x);
        return s + ")";
    }
    void Anota(const std::string& s) {
        std::lock_guard<std::mutex> l(tMutex);
        asEventos.push_back(s);
    }
    std::mutex tMutex;  // guards asEventos
    std::vector<std::string> asEventos;
};

// The master with its boot pauses written down (and kept short) and its protected steps open.
class CMasterPrueba : public CMasterDsp {
public:
    using CMasterDsp::CargaFicheroDsp;
    using CMasterDsp::LeeFaseDsp;
    std::vector<unsigned int> Pausas() {
        std::lock_guard<std::mutex> l(tMutex);
        return auiPausas;
    }

    bool bPausasReales = false;  // the master's own pauses, not written down

protected:
    void Espera(unsigned int uiMs) override {
        if (bPausasReales) return CMasterDsp::Espera(uiMs);
        {
            std::lock_guard<std::mutex> l(tMutex);
            auiPausas.push_back(uiMs);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }

private:
    std::mutex tMutex;  // guards auiPausas
    std::vector<unsigned int> auiPausas;
};

// A board whose DSP clock stands still until the test moves it, the layer started on it, the
// images in /var and the master started (link down, DSP in phase 1).
class PlacaDsp : public ::testing::Test {
protected:
    static constexpr uint32_t RELOJ_INICIAL = 100000;
    void SetUp() override {
        BorraLineas();
        NLOG::FijaCaptura(hwpruebas::Captura);
        FijaCapturaTrazaDsp(CapturaTraza);
        hwFijaEspera(hwpruebas::EsperaCorta);
        placa = simboard::CSimBoard::Arranca("/mnt/ramfs/simboard.sock");
        ASSERT_TRUE(placa) << "the simulated board did not start";
        ASSERT_EQ(IniciaHardware(), 0);
        placa->Dsp("reloj parado " + std::to_string(RELOJ_INICIAL));
        EscribeFichero(CMasterDsp::FICHERO_FASE1, Imagen(1300, 1));
        EscribeFichero(CMasterDsp::FICHERO_FASE2, Imagen(1300, 2));
        ASSERT_EQ(master.Arranca(0, &receptor), 0);
    }
    void TearDown() override {
        NLOG::FijaCaptura(nullptr);
        FijaCapturaTrazaDsp(nullptr);
    }

    uint32_t Reloj() { return placa->Valor("dsp reloj"); }
    // Reads until nothing is waiting; how many messages were accepted.
    int Vacia() {
        int n = 0;
        while (master.RecibeDsp() > 0) n++;
        return n;
    }
    // Both boot phases; then the DSP's hello brings the link up.
    void Arranque() {
        ASSERT_EQ(master.ArrancaDsp(), 1);
        ASSERT_EQ(master.ArrancaDsp(), 2);
        Vacia();
        ASSERT_TRUE(master.Enlace());
        placa->Dsp("borra");
        receptor.Toma();
    }
    // One 20 ms step of the supervisor with the receive loop in between, as the service
    // threads would run them.
    void Paso(uint32_t uiMs = 20) {
        placa->Dsp("avanza " + std::to_string(uiMs));
        Vacia();
        master.SupervisaEnlace();
    }
    // Steps until the condition holds (at most iMaxMs); the simulated ms it took, or -1.
    int PasaHasta(const std::function<bool()>& f, int iMaxMs) {
        for (int t = 0; t <= iMaxMs; t += 20) {
            if (f()) return t;
            Paso();
        }
        return -1;
    }
    uint32_t Estado(const std::string& sCampo) {
        std::istringstream is(placa->Dsp("estado"));
        for (std::string w; is >> w;)
            if (w.compare(0, sCampo.size() + 1, sCampo + "=") == 0) return static_cast<uint32_t>(std::stoul(w.substr(sCampo.size() + 1)));
        ADD_FAILURE() << "no field " << sCampo;
        return 0;
    }
    std::vector<std::string> LineasDe(const std::string& sOrden) {
        std::istringstream is(placa->Dsp(sOrden));
        std::vector<std::string> v;
        for (std::string s; std::getline(is, s);) v.push_back(s);
        return v;
    }

    std::unique_ptr<simboard::CSimBoard> placa;
    CReceptor receptor;
    CMasterPrueba master;
};

}  // namespace dsppruebas
