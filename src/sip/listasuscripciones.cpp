#include "sip/listasuscripciones.h"

#include "comun/nlog.h"

void ListaSuscripciones::Vacia() {
    for (auto& e : asEntradas) {
        e.estado = 0;
        e.nid = -1;
        e.fin = 0;
    }
    uiNum = 0;
}

int ListaSuscripciones::AnadeSuscripcion(int32_t nid, uint32_t fin) {
    for (int i = 0; i < MAX_SUSCRIPCIONES; i++) {
        if (asEntradas[i].estado == 1) continue;
        asEntradas[i] = {1, nid, fin};
        ++uiNum;
        return i;
    }
    return -1;
}

int ListaSuscripciones::BuscaSuscripcion(int32_t nid) const {
    for (int i = 0; i < MAX_SUSCRIPCIONES; i++)
        if (asEntradas[i].estado == 1 && asEntradas[i].nid == nid) return i;
    return -1;
}

void ListaSuscripciones::Borra(int i) {
    if (i < 0 || i >= MAX_SUSCRIPCIONES || asEntradas[i].estado != 1) return;
    asEntradas[i] = {0, -1, 0};
    --uiNum;
}

void ListaSuscripciones::PurgaSuscripcion(uint32_t uiAhora) {
    for (int i = 0; i < MAX_SUSCRIPCIONES; i++) {
        if (asEntradas[i].estado != 1 || static_cast<int32_t>(uiAhora - asEntradas[i].fin) < 0) continue;
        Borra(i);
        NLOG::Log(NLOG::INFO, "Purga suscripcion %i", i);
    }
}

int ListaSuscripciones::Nids(int32_t* aiNids) const {
    int n = 0;
    for (const auto& e : asEntradas)
        if (e.estado == 1) aiNids[n++] = e.nid;
    return n;
}
