// State publication: the own resources' states sent to the other gateways, and the table of
// what the other gateways publish. One object, created by ArrancaMulticast.
//
// Minimal form used by the core's configuration sinks: registration of the own resources and
// the look-up of other gateways' entries. Sending, reception and ageing come with the
// publication work, keeping these signatures.
#pragma once

#include <pthread.h>

#include <cstdint>

// A published entry of another gateway (the wire entry, integers in host order).
struct EntradaPublica {
    char acNombre[36];
    uint32_t uiCategoria;
    uint32_t uiVersion;
    uint32_t uiEstado;
    uint32_t uiPrioridad;
    uint32_t uiDato2;
    uint32_t uiDato3;
};
static_assert(sizeof(EntradaPublica) == 60, "wire entry");

class CPublica {
public:
    explicit CPublica(const char* szNombre);
    CPublica(const CPublica&) = delete;
    CPublica& operator=(const CPublica&) = delete;

    // Category 1 line resource, 2 hot line; 0, or -1 for an index of 16 or more.
    int AltaRecurso(const char* szNombre, int iCategoria, int iIndice);
    int BajaRecurso(const char* szNombre);
    int BorraRecurso(int iIndice);
    // The entry named szRecurso published by gateway szQln (any gateway when null or empty);
    // null when none.
    const EntradaPublica* DameEstadoRecurso(const char* szQln, const char* szRecurso);

    struct EntradaPropia {
        char acNombre[65];
        int32_t iCategoria;
        int32_t iEstado;
        uint8_t ucSucio;
    };
    EntradaPropia asPropias[16];
    pthread_mutex_t tMutexDatos;  // guards asPropias
};

// Null until ArrancaMulticast has built the object.
extern CPublica* poPublica;
