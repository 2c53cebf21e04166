// The board's DSP as the host sees it through /dev/hpidsp: its host-port driver, its boot
// loader and its firmware's side of the host-DSP messages.
//
// Boot: a reset pulse on the esdiscretas reset line (or the fault "fase1") puts it in phase 1.
// Phase 1 takes an image at 0x80000000 and the start handshake (word 0x80000000 written at
// 0x11800000), then asks for phase 2; phase 2 takes an image at 0xC0000000 and starts on the
// request that follows it. Memory writes carry at most 128 words.
//
// Running, it speaks first (hello, then a heartbeat about every 100 ms of its clock),
// answers the keep-alive probe and any command on a channel it does not have with the
// command-error event, allocates channels, reports a channel at rest once a line protocol is
// set on it, records every command, produces any event on demand, and in loopback pairs two
// channels so that a call placed on one arrives on the other (answers, rejections, release and
// DTMF digits go across too). Its clock (the driver's millisecond clock) runs in real time or
// is stepped by hand.
//
// Driven by the board command "dsp" (simboardctl dsp ayuda).
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

class CPlaca;

class CDspSim {
public:
    explicit CDspSim(CPlaca& placa);
    // The device, the control command and the reset subscription.
    void Registra();

    // The driver's calls, each under tMutex; 0 or an errno value.
    int Peticion(uint32_t uiCodigo, uint32_t uiValor, uint32_t* puiResultado);
    int LeeMensaje(size_t iCapacidad, std::string* psDatos);
    int EscribeMensaje(const uint8_t* pDatos, size_t iCuenta, uint32_t* puiEscritos);
    int FijaDireccion(uint32_t uiDireccion);
    int EscribePalabras(const uint32_t* puiPalabras, size_t n);

    static constexpr uint32_t FASE_MARCHA = 3;  // firmware running: no image wanted

private:
    enum eEstadoLlamada { REPOSO, LLAMANDO, LLAMADO, CONVERSACION, LIBERANDO };
    struct Canal {
        bool bAsignado = false;
        int iProtocolo = 0;
        bool bDetDtmf = false;
        int iPar = -1;  // loopback partner
        eEstadoLlamada eLlamada = REPOSO;
        // Time slots the channel was given: line side (interface) and host side, -1 none.
        int iSlotIfRx = -1, iSlotIfTx = -1, iSlotHostRx = -1, iSlotHostTx = -1;
    };

    int Orden(const std::vector<std::string>& a, std::string* psRespuesta);
    int OrdenEvento(const std::vector<std::string>& a, std::string* psRespuesta);
    uint32_t Ahora() const;
    void Reinicia(const char* szMotivo);
    void Arranque(const std::string& s);
    void Encola(uint16_t usCodigo, uint16_t usCanal, const std::vector<uint8_t>& parametros = {});
    void Comando(uint16_t usCodigo, uint16_t usCanal, const uint8_t* p, size_t n);
    void Bucle(uint16_t usCodigo, int iCanal, const uint8_t* p, size_t n);
    std::string Estado() const;

    CPlaca& placa;
    mutable std::mutex tMutex;  // guards every field below

    uint32_t uiFase = 1;
    uint32_t uiDireccion = 0;
    std::map<uint32_t, uint32_t> mMemoria;  // address -> word
    bool bImagen1 = false, bImagen2 = false;
    int iParpadeo = 0;          // phase readings still to flicker
    uint64_t ullLecturasFase = 0;
    bool bLento = false;        // the handshake needs a second write
    int iFallosEscritura = 0;   // memory writes still to refuse
    bool bHandshakeVisto = false;

    bool bParado = false;       // clock stepped by hand
    uint32_t uiRelojParado = 0;
    int64_t llOffsetReloj = 0;
    uint32_t uiProximoLatido = 0;

    bool bSilencio = false;     // hung: reads nothing, takes nothing
    bool bIgnoraSondas = false;
    std::deque<std::string> dSalida;  // messages waiting for the host
    Canal asCanales[16];

    std::deque<std::string> dComandos;  // every command received: count, then the message bytes
    std::deque<std::string> dArranque;  // boot requests and memory writes
    uint32_t uiLatidos = 0, uiHolas = 0, uiSondas = 0, uiResets = 0, uiPerdidos = 0;
};

void RegistraDspSim(CPlaca& placa);
