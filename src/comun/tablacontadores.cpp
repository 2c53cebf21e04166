#include "comun/tablacontadores.h"

#include <new>

void CreaContadores(TablaContadores* t, uint32_t n) {
    t->minimo = 0;
    t->contadores = new (std::nothrow) uint32_t[n]();
    t->n = t->contadores ? n : 0;
}

void LiberaContadores(TablaContadores* t) {
    delete[] t->contadores;
    t->contadores = nullptr;
    t->n = 0;
}

void DescuentaContadores(TablaContadores* t, uint32_t valor) {
    for (uint32_t i = 0; i < t->n; i++) {
        uint32_t& c = t->contadores[i];
        if (c == 0) continue;
        c = c > valor ? c - valor : 0;
    }
}

uint32_t DameMinimoContador(TablaContadores* t) {
    t->minimo = UINT32_MAX;
    for (uint32_t i = 0; i < t->n; i++) {
        uint32_t c = t->contadores[i];
        if (c != 0 && c < t->minimo) t->minimo = c;
    }
    return t->minimo == UINT32_MAX ? 0 : t->minimo;
}

void AvanzaContadores(TablaContadores* t) { DescuentaContadores(t, DameMinimoContador(t)); }
