// Table of countdown counters: 0 is idle, a non-zero counter counts down; the owner
// jumps to the nearest expiry with AvanzaContadores.
#pragma once

#include <cstdint>

struct TablaContadores {
    uint32_t minimo;  // last smallest non-zero counter found (all ones when none)
    uint32_t* contadores;
    uint32_t n;  // 0 when the allocation failed or after release
};

void CreaContadores(TablaContadores* tabla, uint32_t n);
void LiberaContadores(TablaContadores* tabla);
// Every non-zero counter above valor loses valor; every other non-zero counter becomes 0.
void DescuentaContadores(TablaContadores* tabla, uint32_t valor);
// Smallest non-zero counter (kept in minimo), or 0 when all are 0.
uint32_t DameMinimoContador(TablaContadores* tabla);
void AvanzaContadores(TablaContadores* tabla);
