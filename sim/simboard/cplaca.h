// The model of one board shared by every client of the daemon: discrete I/O and switching
// (/dev/esdiscretas), the microsecond timer (/dev/rtimer), 16 line modules (/dev/mtifm%d) and
// 64 audio devices (/dev/pcm%d), the control commands that tests and simboardctl send, and
// the journal of every request.
//
// Further devices (the DSP host port) plug in with RegistraDispositivo and RegistraOrden,
// and follow the DSP reset line with SuscribeResetDsp.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "cmodelodispositivo.h"

// Words of the control commands: a number as C writes it (decimal, 0x hex, 0 octal, a sign
// allowed) kept in its low 32 bits, refused when not a number or out of 64-bit range; and a
// value in hexadecimal as the answers show it ("0x1F").
bool Numero(const std::string& s, uint32_t* pui);
std::string Hex(uint32_t v);

class CPlaca {
public:
    using Reloj = std::chrono::steady_clock;
    // Opens a device path: 0 with *pp set, or an errno value.
    using FnAbre = std::function<int(const std::string& sRuta, std::unique_ptr<CModeloDispositivo>* pp)>;
    // A control command: words in, text out; 0 or an errno value.
    using FnOrden = std::function<int(const std::vector<std::string>& asPalabras, std::string* psRespuesta)>;

    CPlaca();
    ~CPlaca();

    // Devices: the first registered prefix that the path starts with opens it.
    void RegistraDispositivo(const std::string& sPrefijo, FnAbre fnAbre);
    void RegistraOrden(const std::string& sPalabra, const std::string& sAyuda, FnOrden fnOrden);
    // Called after every full pulse (0 then 1) of the DSP reset line, with tMutex held: the
    // call-back takes only its own model's lock and never calls back into the board.
    void SuscribeResetDsp(std::function<void()> fn);

    int Abre(const std::string& sRuta, std::unique_ptr<CModeloDispositivo>* pp);
    int Orden(const std::string& sTexto, std::string* psRespuesta);

    // Journal of every request (process, time, device, code, value, result).
    void Anota(pid_t iPid, const std::string& sProceso, const std::string& sDispositivo, const char* szOperacion,
               uint32_t uiCodigo, uint32_t uiValor, int iError, uint32_t uiResultado);

    // Injected refusals: true when this request must fail (consumes one count).
    bool Rechaza(uint32_t uiCodigo);

    // Periodic work: drains the audio rings into their captures.
    void Mantenimiento();

    // Per-device models, public to the device handles of this file's implementation.
    struct Modulo;
    struct CanalPcm;
    std::mutex tMutex;                 // guards every field of the model
    std::condition_variable cvModulos;  // a line-module state word changed

    // esdiscretas
    int64_t llOffsetTick = 0;
    uint32_t uiEstado = 0x4;           // hardware OK, line-module interface present
    uint32_t uiTipo = 0x10000;
    uint32_t auiId8[4] = {0, 0, 0, 0};
    uint32_t auiId12[4] = {0, 0, 0, 0};
    uint32_t uiModoSlots = 0;
    uint32_t uiFuente = 0;
    uint32_t uiLado = 0;
    uint32_t uiE10 = 0;
    uint32_t auiLeds[3] = {0, 0, 0};
    uint32_t uiEntorno = 0;
    uint32_t uiLineaResetDsp = 1;
    uint32_t uiPulsosResetDsp = 0;
    std::map<uint32_t, uint32_t> mEntradas;  // input index -> level (absent = 0)
    std::set<uint32_t> sSalidas, sPuntos, sSlotsTx, sSlotsRx;
    std::set<std::pair<pid_t, pid_t>> sAvisos;  // (process, thread) that asked for SIGIO on input changes
    // rtimer
    uint32_t uiRitmoRtimer = 100000;   // counts per second of the 16-bit down counter
    uint32_t uiR3 = 0;

    std::vector<std::unique_ptr<Modulo>> apModulos;
    std::vector<std::unique_ptr<CanalPcm>> apCanales;

    uint32_t Tick();
    void FijaEntrada(uint32_t uiIndice, uint32_t uiValor);  // with tMutex held
    void PulsoResetDsp();                                  // with tMutex held

private:
    void RegistraBasicos();
    struct Orden_ {
        std::string sAyuda;
        FnOrden fn;
    };
    std::vector<std::pair<std::string, FnAbre>> aDispositivos;
    std::map<std::string, Orden_> mOrdenes;
    std::vector<std::function<void()>> aResetDsp;
    std::map<uint32_t, int> mRechazos;  // request word -> remaining refusals (-1 always)
    Reloj::time_point tInicio;

    struct Anotacion {
        double dMs;
        pid_t iPid;
        std::string sProceso, sDispositivo;
        const char* szOperacion;
        uint32_t uiCodigo, uiValor, uiResultado;
        int iError;
    };
    std::mutex tMutexDiario;  // guards the journal only
    std::deque<Anotacion> dDiario;
    std::string Diario(size_t iMaximo);
};

struct CPlaca::Modulo {
    uint32_t uiPalabra = 0;            // current 16-bit state word
    uint64_t ullSecuencia = 0;         // number of state changes so far
    std::deque<std::pair<uint64_t, uint16_t>> dCambios;  // last 50 changes
    std::map<uint32_t, uint32_t> mEscritos;               // request word -> last value written
    uint32_t uiVersion = 15;
    bool bDesajuste = false;           // read-back of the mode is wrong until the next M1
    bool bFalloApertura = false;
    bool bSilencioRx = false;          // received audio muted (M29), until the Rx gain is written
    uint32_t uiResets = 0;
    uint32_t uiAbiertos = 0;
};

struct CPlaca::CanalPcm {
    // Towards the process: injected bytes, else silence; reads paced by absolute deadlines.
    std::deque<uint8_t> dEntrada;
    Reloj::time_point tProximaLectura{};
    // Towards the line: ring drained at 8,000 bytes per second.
    std::deque<uint8_t> dSalida;
    Reloj::time_point tRefDrenaje{};
    uint64_t ullDrenadasRef = 0;       // bytes drained since tRefDrenaje
    uint32_t uiDrenadasConsulta = 0;   // bytes drained since the last sample-count request
    std::string sFicheroCaptura;
    uint32_t uiP4 = 0, uiP1 = 0, uiP5 = 0;
    void Drena(Reloj::time_point tAhora);
};
