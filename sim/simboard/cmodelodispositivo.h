// A device of the simulated board as the daemon serves it: one object per open handle.
// Results are 0 or an errno value. Reads may block: each client connection has a thread
// of its own in the daemon, so one blocking read holds up nobody else.
#pragma once

#include <sys/types.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>

class CModeloDispositivo {
public:
    virtual ~CModeloDispositivo() = default;
    virtual int Peticion(uint32_t /*uiCodigo*/, uint32_t /*uiValor*/, uint32_t* /*puiResultado*/) { return ENOTTY; }
    virtual int Lee(size_t /*n*/, std::string* /*psDatos*/) { return EINVAL; }
    virtual int Escribe(const uint8_t* /*pDatos*/, size_t /*n*/, uint32_t* /*puiEscritos*/) { return EINVAL; }
    virtual int LeeMensaje(size_t /*iCapacidad*/, std::string* /*psDatos*/) { return EINVAL; }
    virtual int EscribeMensaje(const uint8_t* /*pDatos*/, size_t /*n*/, uint32_t* /*puiEscritos*/) { return EINVAL; }
    virtual int FijaDireccion(uint32_t /*uiDireccion*/) { return EINVAL; }
    virtual int EscribePalabras(const uint32_t* /*puiPalabras*/, size_t /*n*/) { return EINVAL; }
    // SIGIO to thread iHilo of process iPid when the device's inputs change.
    virtual int Aviso(pid_t /*iPid*/, pid_t /*iHilo*/) { return EINVAL; }
};
