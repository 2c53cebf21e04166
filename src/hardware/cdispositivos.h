// Device interface of the hardware layer: every open, close, request, read and write on a
// board device goes through it. Two implementations: the real drivers (CDispositivosReales)
// and the simulated board reached over a Unix socket (CDispositivosSim), chosen once per
// process by the environment setting VK_SIMBOARD (the socket path; unset = real drivers).
//
// Requests carry the literal request word of the driver (read 0x4004TTNN, write 0x8004TTNN)
// and one 32-bit value, and give back one 32-bit result: a result with bit 31 set (tick
// counter, identity words) is a value, never an error. Errors come back as -1 with errno.
#pragma once

#include <sys/types.h>
#include <cstddef>
#include <cstdint>

class CDispositivos {
public:
    virtual ~CDispositivos() = default;

    // Descriptor (>= 0) or -1.
    virtual int Abre(const char* szRuta, int iFlags) = 0;
    virtual int Cierra(int iFd) = 0;
    // 0 with *puiResultado set, or -1.
    virtual int Peticion(int iFd, uint32_t uiCodigo, uint32_t uiValor, uint32_t* puiResultado) = 0;
    // Byte streams (line-module state words, audio samples): count transferred or -1.
    virtual ssize_t Lee(int iFd, void* pBuffer, size_t n) = 0;
    virtual ssize_t Escribe(int iFd, const void* pBuffer, size_t n) = 0;
    // Message devices (the DSP host port): one whole message per call, never split or merged.
    // LeeMensaje gives the message length (0 when none is waiting) or -1.
    virtual ssize_t LeeMensaje(int iFd, void* pBuffer, size_t iCapacidad) = 0;
    // iCuenta is the driver's write count: a message followed by 4 bytes of no value (a
    // 4-byte message with a count of 8), or the bare 4-byte link heartbeat with a count of 4.
    // The count written, or -1.
    virtual ssize_t EscribeMensaje(int iFd, const void* pMensaje, size_t iCuenta) = 0;
    // Address of the next memory write; 0 or -1.
    virtual int FijaDireccion(int iFd, uint32_t uiDireccion) = 0;
    // Memory write of n 32-bit words from the address last set; 0 or -1.
    virtual int EscribePalabras(int iFd, const uint32_t* puiPalabras, size_t n) = 0;
    // Asynchronous notification (SIGIO) to the calling thread when the device's inputs change.
    virtual int ActivaAviso(int iFd) = 0;
    // True when the board behind this interface is the simulated one.
    virtual bool EsSimulada() const = 0;
};

// The process-wide interface: simulated board when VK_SIMBOARD names a socket, else the drivers.
CDispositivos& DameDispositivos();

// Name of the environment setting that selects the simulated board.
constexpr const char* VK_SIMBOARD = "VK_SIMBOARD";
