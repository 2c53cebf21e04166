#include "ccolamuestras.h"

#include <algorithm>
#include <cstring>
#include <new>

CColaMuestras::CColaMuestras(int32_t iCap)
    : piMuestras(iCap > 0 ? new (std::nothrow) int32_t[iCap]() : nullptr),
      iCapacidad(piMuestras ? iCap : 0) {
    // The tail sits just before the head, so the first sample lands at position 0.
    iEscritura = iCapacidad > 0 ? iCapacidad - 1 : 0;
}

CColaMuestras::~CColaMuestras() { delete[] piMuestras; }

int32_t CColaMuestras::Pos(int32_t i) const {
    int32_t p = (iLectura + i) % iCapacidad;
    return p < 0 ? p + iCapacidad : p;
}

void CColaMuestras::Escribe(int32_t pos, const int32_t* pSrc, int32_t k) {
    int32_t primero = std::min(k, iCapacidad - pos);
    if (pSrc) {
        memcpy(piMuestras + pos, pSrc, primero * sizeof(int32_t));
        memcpy(piMuestras, pSrc + primero, (k - primero) * sizeof(int32_t));
    } else {
        std::fill_n(piMuestras + pos, primero, iRelleno);
        std::fill_n(piMuestras, k - primero, iRelleno);
    }
}

void CColaMuestras::Lee(int32_t pos, int32_t* pDst, int32_t k) const {
    int32_t primero = std::min(k, iCapacidad - pos);
    memcpy(pDst, piMuestras + pos, primero * sizeof(int32_t));
    memcpy(pDst + primero, piMuestras, (k - primero) * sizeof(int32_t));
}

int32_t CColaMuestras::DameMuestra(int32_t i) const {
    if (i < 0 || i >= iNumMuestras) return iRelleno;
    return piMuestras[Pos(i)];
}

void CColaMuestras::Reinicia(const int32_t* pBloque, int32_t k) {
    if (!piMuestras) return;
    k = std::clamp(k, 0, iCapacidad);
    iLectura = 0;
    iNumMuestras = k;
    if (k > 0) Escribe(0, pBloque, k);
    AjustaEscritura();
}

int32_t CColaMuestras::Descarta(int32_t k) {
    k = std::clamp(k, 0, iNumMuestras);
    if (k == 0) return 0;
    iLectura = Pos(k);
    iNumMuestras -= k;
    tsCola += static_cast<uint32_t>(k);
    return k;
}

void CColaMuestras::Agrega(const int32_t* pBloque, int32_t& n) {
    if (n >= iCapacidad) {
        // Only the newest capacity samples survive; the head moves past all the rest.
        int32_t corte = n - iCapacidad;
        tsCola += static_cast<uint32_t>(iNumMuestras + corte);
        Reinicia(pBloque ? pBloque + corte : nullptr, iCapacidad);
        n = iCapacidad;
        return;
    }
    int32_t libres = iCapacidad - iNumMuestras;
    if (n > libres) {
        if (iGuardaAntiguas)
            n = libres;
        else
            Descarta(n - libres);
    }
    if (n == 0) return;
    Escribe(Pos(iNumMuestras), pBloque, n);
    iNumMuestras += n;
    AjustaEscritura();
}

int CColaMuestras::Inserta(const int32_t* pBloque, int32_t& n) {
    if (!piMuestras || !pBloque) {
        n = 0;
        return -1;
    }
    if (n <= 0) {
        n = 0;
        return 0;
    }
    iSincronizada = 0;
    Agrega(pBloque, n);
    return 0;
}

int CColaMuestras::InsertaTs(const int32_t* pBloque, int32_t& n, uint32_t ts) {
    if (!piMuestras || !pBloque) {
        n = 0;
        return -1;
    }
    if (n <= 0) {
        n = 0;
        return 0;
    }
    if (n > iCapacidad) {
        int32_t corte = n - iCapacidad;
        pBloque += corte;
        ts += static_cast<uint32_t>(corte);
        n = iCapacidad;
    }
    if (iNumMuestras == 0) {
        tsCola = ts;
        if (!iSincronizada) {
            BalanceCola = 0;
            iSincronizada = 1;
        }
        Reinicia(pBloque, n);
        return 0;
    }
    if (!iSincronizada) {
        Agrega(pBloque, n);
        return 0;
    }
    int32_t huecoTras = static_cast<int32_t>(ts - (tsCola + static_cast<uint32_t>(iNumMuestras)));
    int32_t huecoAntes = static_cast<int32_t>(tsCola - (ts + static_cast<uint32_t>(n)));
    if (huecoTras > iCapacidad || huecoAntes > iCapacidad) {
        // A jump of more than one buffer: play on in arrival order until resynchronised.
        iSincronizada = 0;
        Agrega(pBloque, n);
        return 0;
    }
    int32_t d = static_cast<int32_t>(ts - tsCola);
    if (d < 0) {
        int32_t hueco = 0;  // fill between the block's end and the old head
        if (n < -d) {
            hueco = -d - n;
            if (hueco + iNumMuestras >= iCapacidad) {
                n = 0;
                return 0;
            }
        } else if (n > iNumMuestras - d) {
            tsCola = ts;
            Reinicia(pBloque, n);
            return 0;
        }
        int32_t nueva = iNumMuestras - d;
        if (nueva > iCapacidad) {
            int32_t corte = nueva - iCapacidad;
            pBloque += corte;
            n -= corte;
            ts += static_cast<uint32_t>(corte);
            d += corte;
            nueva = iCapacidad;
        }
        tsCola = ts;
        iLectura = Pos(d);
        Escribe(iLectura, pBloque, n);
        if (hueco > 0) {
            Escribe(Pos(n), nullptr, hueco);
            BalanceCola += hueco;
        }
        iNumMuestras = nueva;
        return 0;
    }
    if (d == iNumMuestras) {
        Agrega(pBloque, n);
    } else if (d > iNumMuestras) {
        int32_t hueco = d - iNumMuestras;
        if (hueco + n >= iCapacidad) {
            tsCola = ts;
            BalanceCola -= iNumMuestras;
            Reinicia(pBloque, n);
        } else {
            BalanceCola += hueco;
            Agrega(nullptr, hueco);
            Agrega(pBloque, n);
        }
    } else if (d == 0 && n == iNumMuestras) {
        Reinicia(pBloque, n);
    } else if (d + n <= iNumMuestras) {
        Escribe(Pos(d), pBloque, n);
    } else {
        int32_t exceso = n + d - iCapacidad;
        if (exceso > 0) {
            if (exceso >= d) {
                tsCola = ts;
                Reinicia(pBloque, n);
                return 0;
            }
            Descarta(exceso);
            BalanceCola -= exceso;
            d -= exceso;
        }
        Escribe(Pos(d), pBloque, n);
        iNumMuestras = d + n;
        AjustaEscritura();
    }
    return 0;
}

int CColaMuestras::Extrae(int32_t* pDst, int32_t& n) {
    if (n <= 0 || iNumMuestras == 0 || !pDst) {
        n = 0;
        return 0;
    }
    n = std::min(n, iNumMuestras);
    Lee(iLectura, pDst, n);
    Descarta(n);
    return 0;
}

int CColaMuestras::ExtraeTs(int32_t* pDst, int32_t& n, uint32_t ts) {
    if (iNumMuestras == 0 || n <= 0 || !pDst) {
        n = 0;
        return 0;
    }
    if (!iSincronizada || ts == tsCola) return Extrae(pDst, n);
    int32_t d = static_cast<int32_t>(ts - tsCola);
    if (d > iCapacidad || d < -iCapacidad) {
        iSincronizada = 0;
        return Extrae(pDst, n);
    }
    if (d > 0) {
        // The head is late: skip to the asked time, or keep the newest n when short.
        int32_t salta = d;
        if (n > iNumMuestras - d) salta = n < iNumMuestras ? iNumMuestras - n : 0;
        BalanceCola -= Descarta(salta);
        return Extrae(pDst, n);
    }
    int32_t e = -d;
    if (n <= e) {
        n = 0;
        return 0;
    }
    n = std::min(n, iNumMuestras + e);
    std::fill_n(pDst, e, iRelleno);
    BalanceCola += e;
    int32_t tomadas = n - e;
    Extrae(pDst + e, tomadas);
    n = e + tomadas;
    return 0;
}

void CColaMuestras::Sincroniza(uint32_t ts) {
    if (!iSincronizada) {
        Vacia();
        BalanceCola = 0;
    }
    tsCola = ts;
    iSincronizada = 1;
}
