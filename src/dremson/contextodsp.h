// What the DSP service's process hands its IPC layer and its console: the service object and
// the process's own call-backs. Built once by the process frame (procesodsp) before any
// channel or console exists; the modules keep the pointer for the life of the process.
#pragma once

#include <cstdint>

class CServiciosDsp;

struct ContextoDsp {
    CServiciosDsp* pServicios;
    void (*pfCanalRecursoCreado)();       // the first resource channel: the start-up wait is over
    void (*pfPadreMuerto)(int32_t iPid);  // the core fell silent: the service ends
    void (*pfPideSalida)();               // the console's stop command
    bool (*pfSalidaPedida)();
};
