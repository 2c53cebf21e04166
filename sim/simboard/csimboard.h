// Client of the simulated board for tests: starts a board daemon and drives it with the
// same commands as simboardctl.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CDispositivosSim;

namespace simboard {

class CSimBoard {
public:
    // Starts a daemon on sSocket (the simboard program under $VK_BUILD_DIR/sim/simboard, or
    // next to the running program) and sets VK_SIMBOARD for this process and its children.
    // Null when it does not answer within 5 s.
    static std::unique_ptr<CSimBoard> Arranca(const std::string& sSocket = "/mnt/ramfs/simboard.sock");
    // Talks to a board that is already running.
    explicit CSimBoard(const std::string& sSocket);
    ~CSimBoard();  // stops the daemon it started

    const std::string& Socket() const { return sSocket; }

    // Any command; the answer text. Throws std::runtime_error when the board refuses it.
    std::string Orden(const std::string& sOrden);
    // The answer as a number (first word).
    uint32_t Valor(const std::string& sOrden);

    // Line modules.
    void Descuelga(int m) { Orden("descuelga " + std::to_string(m)); }
    void Cuelga(int m) { Orden("cuelga " + std::to_string(m)); }
    void Llama(int m) { Orden("llama " + std::to_string(m)); }
    void FinLlama(int m) { Orden("finllama " + std::to_string(m)); }
    void OcupaEyM(int m) { Orden("ocupa " + std::to_string(m)); }
    void LiberaEyM(int m) { Orden("libera " + std::to_string(m)); }
    void Palabra(int m, uint32_t w) { Orden("palabra " + std::to_string(m) + " " + std::to_string(w)); }
    std::string Slic(int m) { return Orden("slic " + std::to_string(m)); }
    // Discrete inputs and board state.
    void Entrada(int i, uint32_t v) { Orden("entrada " + std::to_string(i) + " " + std::to_string(v)); }
    void Fuente(uint32_t v) { Orden("fa " + std::to_string(v)); }
    void Lado(uint32_t v) { Orden("lado " + std::to_string(v)); }
    void Tick(uint32_t t) { Orden("tick " + std::to_string(t)); }
    std::vector<uint32_t> Leds();
    std::vector<uint32_t> Salidas() { return Lista("salidas"); }
    std::vector<uint32_t> Puntos() { return Lista("puntos"); }
    std::vector<uint32_t> SlotsTx() { return Lista("slotstx"); }
    std::vector<uint32_t> SlotsRx() { return Lista("slotsrx"); }
    uint32_t PulsosResetDsp() { return Valor("resetdsp"); }
    // The DSP behind /dev/hpidsp (dsp ayuda lists its sub-commands).
    std::string Dsp(const std::string& sOrden) { return Orden("dsp " + sOrden); }
    // Audio.
    void Inyecta(int c, const std::string& sFichero) { Orden("inyecta " + std::to_string(c) + " " + sFichero); }
    void Captura(int c, const std::string& sFichero) { Orden("captura " + std::to_string(c) + " " + sFichero); }
    void FinCaptura(int c) { Orden("captura " + std::to_string(c)); }
    // Journal and command log.
    std::string Diario() { return Orden("diario"); }
    std::string Comandos() const;

private:
    std::vector<uint32_t> Lista(const std::string& sOrden);
    std::string sSocket;
    pid_t iPid = -1;
    std::unique_ptr<CDispositivosSim> pCliente;
};

}  // namespace simboard
