// Subscribers of one WG67 event package (a resource's KEY-IN or the gateway's P/R): at most 50
// subscription ids of the front end with their expiry. No lock of its own: the bridge guards
// its lists with one mutex.
#pragma once

#include <cstdint>

struct ListaSuscripciones {
    enum { MAX_SUSCRIPCIONES = 50 };
    struct Entrada {
        uint32_t estado;  // 1 used, 0 free
        int32_t nid;      // -1 free
        uint32_t fin;     // expiry in 10 ms ticks
    } asEntradas[MAX_SUSCRIPCIONES];
    uint32_t uiNum;

    ListaSuscripciones() { Vacia(); }
    void Vacia();
    // Entry index, or -1 when all 50 are in use.
    int AnadeSuscripcion(int32_t nid, uint32_t fin);
    // Index of the used entry of nid, or -1.
    int BuscaSuscripcion(int32_t nid) const;
    // Frees every entry whose expiry has been reached at uiAhora.
    void PurgaSuscripcion(uint32_t uiAhora);
    void Borra(int i);
    // The nids in use, in entry order; their count.
    int Nids(int32_t* aiNids) const;
};
