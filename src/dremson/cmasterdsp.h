// Host side of the board's DSP (a C6747 behind its host port interface, /dev/hpidsp): the
// two-phase boot from the images in /var, the message link kept alive (hello while it is
// down, keep-alive probes while it is up, a reset of the DSP when it stops answering), the
// DSP commands and the decoding of the DSP events.
//
// Threads (the DSP service owns them): a boot/receive thread runs ArrancaDsp and RecibeDsp,
// a supervisor runs SupervisaEnlace every 20 ms; RecibeDsp and SupervisaEnlace must be
// serialised by the caller (the service's lock). Commands may come from any thread at any
// time: each is one write to the driver. The object's one lock serialises the device writes:
// the driver's memory address, set before an image load, must not move under a message.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "cprotocolodsphost.h"
#include "mensajesdsp.h"

// What follows the channel in the master's commands and the service's wrappers, by form of
// the DSP command list (ipc/comandosdsp.h), and the same as arguments.
#define VK_DSP_PARAMETROS_SIN_VALOR
#define VK_DSP_PARAMETROS_SIN_VALOR_ANOTADO
#define VK_DSP_PARAMETROS_VALOR , int v
#define VK_DSP_PARAMETROS_DOS_VALORES , int a, int b
#define VK_DSP_PARAMETROS_BUCLE , int iNivel, int iDuracion, int iFrecuencia
#define VK_DSP_PARAMETROS_DIGITOS , const uint8_t* pucDigitos, int iNum
#define VK_DSP_PARAMETROS_LLAMA \
    , int iPrioridad, const uint8_t* pucOrigen, int iLongOrigen, const uint8_t* pucDestino, int iLongDestino
#define VK_DSP_PARAMETROS_INTERVENCION VK_DSP_PARAMETROS_LLAMA, int iValor
#define VK_DSP_PARAMETROS_BLOQUE_LCEN , const int32_t* piConfig
#define VK_DSP_ARGUMENTOS_SIN_VALOR
#define VK_DSP_ARGUMENTOS_SIN_VALOR_ANOTADO
#define VK_DSP_ARGUMENTOS_VALOR , v
#define VK_DSP_ARGUMENTOS_DOS_VALORES , a, b
#define VK_DSP_ARGUMENTOS_BUCLE , iNivel, iDuracion, iFrecuencia
#define VK_DSP_ARGUMENTOS_DIGITOS , pucDigitos, iNum
#define VK_DSP_ARGUMENTOS_LLAMA , iPrioridad, pucOrigen, iLongOrigen, pucDestino, iLongDestino
#define VK_DSP_ARGUMENTOS_INTERVENCION VK_DSP_ARGUMENTOS_LLAMA, iValor
#define VK_DSP_ARGUMENTOS_BLOQUE_LCEN , piConfig

class CMasterDsp : public CProtocoloDspHost {
public:
    // Receiver of the link state and of the DSP events: the DSP service. Channel and every
    // value are the unsigned fields of the event.
    class CEventos {
    public:
        virtual ~CEventos() = default;
        virtual void EvtDspOk(int iDsp) = 0;
        virtual void EvtDspCaido(int iDsp) = 0;
        virtual void EvtDigitoDtmf(int iDsp, int iCanal, int iDigito, int iValor) = 0;
        virtual void EvtVoxTx(int iDsp, int iCanal, int a, int b) = 0;
        virtual void EvtVoxRx(int iDsp, int iCanal, int a, int b) = 0;
        virtual void EvtDspEvento84(int iDsp, int iCanal, int iValor) = 0;
        virtual void EvtBucle(int iDsp, int iCanal, int a, int b, int c, int d) = 0;
        virtual void EvtReposo(int iDsp, int iCanal) = 0;
        virtual void EvtLlamadoLibre(int iDsp, int iCanal) = 0;
        virtual void EvtLlamadoOcupado(int iDsp, int iCanal) = 0;
        // Origin and destination point into the received message; not terminated.
        virtual void EvtLlamadaEntrante(int iDsp, int iCanal, int iPrioridad, const uint8_t* pucOrigen,
                                        int iLongOrigen, const uint8_t* pucDestino, int iLongDestino) = 0;
        virtual void EvtLlamadaLiberada(int iDsp, int iCanal, int iCausa) = 0;
        virtual void EvtConversacionInterrumpida(int iDsp, int iCanal) = 0;
        virtual void EvtCongestion(int iDsp, int iCanal) = 0;
        virtual void EvtFueraServicio(int iDsp, int iCanal) = 0;
        virtual void EvtLineaBloqueada(int iDsp, int iCanal) = 0;
        virtual void EvtTimeout(int iDsp, int iCanal) = 0;
        virtual void EvtErrorProtocolo(int iDsp, int iCanal) = 0;
        virtual void EvtLlamadoDescuelga(int iDsp, int iCanal) = 0;
    };

    // Result codes.
    static constexpr int ERR_DISPOSITIVO = -100;  // device not opened; command without a message
    static constexpr int ERR_NO_ARRANCADO = -101;
    static constexpr int ERR_ENLACE_CAIDO = -102;

    // Image files and their DSP load addresses.
    static constexpr const char* FICHERO_FASE1 = "/var/boot-hpi.bin";
    static constexpr const char* FICHERO_FASE2 = "/var/qln6747.bin";
    static constexpr uint32_t DIRECCION_FASE1 = 0x80000000u;
    static constexpr uint32_t DIRECCION_FASE2 = 0xC0000000u;
    // Start handshake of the phase-1 image: this word at this address.
    static constexpr uint32_t DIRECCION_ARRANQUE = 0x11800000u;
    static constexpr uint32_t PALABRA_ARRANQUE = 0x80000000u;
    static constexpr int PALABRAS_BLOQUE = 128;  // 512 bytes of image per memory write

    // Link timing, ms.
    static constexpr int PERIODO_LATIDO = 50;
    static constexpr int TIMEOUT_ENLACE = 500;
    static constexpr uint32_t PERIODO_HOLA = 1000;
    static constexpr uint32_t PERIODO_SONDA = 200;
    static constexpr uint32_t ESPERA_SONDA = 600;
    static constexpr uint32_t MAX_REINTENTOS = 2;  // unanswered probes tolerated before a reset

    CMasterDsp();
    // Restores the base only: the device stays open for the life of the process.
    ~CMasterDsp() override = default;

    // Opens the device, starts the link (down) and greets the DSP: 0, or -100.
    int Arranca(int iDsp, CEventos* pServicios);
    int PreparaArranque();
    // One boot step: the phase found (1 and 2 load an image), or -1 before Arranca.
    int ArrancaDsp();
    int RecibeDsp();
    int SupervisaEnlace();
    int Reinicia();
    bool HayEspacioTx(int n);
    int LeeNivelCola();
    void VuelcaHex(const uint8_t* pucBuffer, int n);
    // The driver's millisecond clock, the time base of the whole link.
    uint32_t DameReloj();
    bool Enlace() const { return iEnlace.load() == 1; }
    int DameDsp() const { return iDsp; }

    // Commands: 0 when written, -102 while the link is down (nothing written). Digits beyond
    // what one message holds are cut off (and logged); the hot-line block is 22 values, each
    // sent as its low 16 bits.
    int ArrancaRecurso(int iCanal);
    int LiberaRecurso(int iCanal);
    int SelecCancelEcoRx(int iCanal, int iAlgoritmo);
#define VK_MAESTRO_DECLARA(a, ldsp, nombre, NOMBRE, cola, manejador, metodo, dsp, forma) \
    int metodo(int iCanal VK_DSP_PARAMETROS_##forma);
    VK_COMANDOS_DSP(VK_MAESTRO_DECLARA, _)
#undef VK_MAESTRO_DECLARA
    // No message for these: -100 while the link is up.
    int TomaConfigR2(int iCanal, const int32_t* piConfig);
    int TomaConfigN5(int iCanal, const int32_t* piConfig);

protected:
    int Lee(int* piLong, uint8_t* pucBuffer) override;
    int Escribe(int* piLong, const uint8_t* pucBuffer) override;
    int ProcesaMensaje(const uint8_t* pucMensaje, int iLong, int* piMas) override;
    void EvtEnlaceOk(uint32_t uiAhora) override;
    void EvtEnlaceCaido(uint32_t uiAhora) override;

    // The boot's pauses (1 ms between phase readings, 100 ms after an unstable phase).
    virtual void Espera(unsigned int uiMs);

    int LeeFaseDsp();
    int CargaFicheroDsp(int iFase);

private:
    bool Arrancado() const { return iFd >= 0 && iIniciado; }
    // 0 with *puiRes, or -1.
    int Pide(uint32_t uiCodigo, uint32_t uiValor, uint32_t* puiRes);
    int EnviaHola(uint32_t uiAhora);
    void SupervisaSonda(uint32_t uiAhora);
    // Command of code and channel with up to LONG_MAXIMA - 4 parameter bytes.
    int EnviaComando(uint16_t usCodigo, int iCanal, const uint8_t* pucParametros = nullptr, int iNum = 0);
    int EnviaComando1(uint16_t usCodigo, int iCanal, int a);
    int EnviaComando2(uint16_t usCodigo, int iCanal, int a, int b);
    int EnviaDigitos(uint16_t usCodigo, const char* szNombre, int iCanal, const uint8_t* pucDigitos, int iNum);
    int EnviaLlamada(uint16_t usCodigo, const char* szNombre, int iCanal, int iPrioridad, const uint8_t* pucOrigen,
                     int iLongOrigen, const uint8_t* pucDestino, int iLongDestino, const int* piValor);
    void Despacha(uint16_t usCodigo, const char* szNombre, int iCanal, const uint8_t* pucParametros);

    int32_t iDsp;
    int32_t iFd;
    std::atomic<int32_t> iEnlace;  // read by the command threads
    std::atomic<uint32_t> iProximoHola;  // also set by a fall that the boot thread forces
    uint32_t iEsperaRespuesta;
    uint32_t iProximaSonda;
    uint32_t iReintentos;
    CEventos* pServicios;
    std::atomic<uint32_t> uiUltimoReloj{0};
    std::atomic<bool> bAvisoReloj{false};  // a failed clock read was logged
    bool bAvisoImagen = false;             // a failed image load was logged (boot thread only)
    std::mutex tMutexEscritura;            // one device write (message or whole image load) at a time
};
