// Sample queue of one mixer channel: a ring of 32-bit samples filled in arrival order or
// by timestamp (jitter buffer). Timestamps count 8 kHz samples and wrap at 2^32.
#pragma once

#include <cstdint>

class CColaMuestras {
public:
    explicit CColaMuestras(int32_t iCapacidad);
    ~CColaMuestras();
    CColaMuestras(const CColaMuestras&) = delete;
    CColaMuestras& operator=(const CColaMuestras&) = delete;

    // The queue then holds exactly the k given samples (none when pBloque is null).
    void Reinicia(const int32_t* pBloque, int32_t k);
    void Vacia() { Reinicia(nullptr, 0); }
    int32_t Descarta(int32_t k);
    int Inserta(const int32_t* pBloque, int32_t& n);
    int InsertaTs(const int32_t* pBloque, int32_t& n, uint32_t ts);
    int Extrae(int32_t* pDst, int32_t& n);
    int ExtraeTs(int32_t* pDst, int32_t& n, uint32_t ts);
    void Sincroniza(uint32_t ts);

    int32_t Muestras() const { return iNumMuestras; }
    int32_t Libres() const { return iCapacidad - iNumMuestras; }
    int32_t Capacidad() const { return iCapacidad; }
    int32_t Sincronizada() const { return iSincronizada; }
    uint32_t DameTsCola() const { return tsCola; }
    int32_t DameBalance() const { return BalanceCola; }
    int32_t IndiceLectura() const { return iLectura; }
    int32_t IndiceEscritura() const { return iEscritura; }
    int32_t Relleno() const { return iRelleno; }
    void FijaRelleno(int32_t v) { iRelleno = v; }
    void FijaGuardaAntiguas(int32_t v) { iGuardaAntiguas = v; }
    // Sample i counted from the head (0 <= i < count); the fill value otherwise.
    int32_t DameMuestra(int32_t i) const;

private:
    int32_t Pos(int32_t i) const;  // ring position i places after the read index
    void Escribe(int32_t pos, const int32_t* pSrc, int32_t k);  // null source writes fill
    void Lee(int32_t pos, int32_t* pDst, int32_t k) const;
    void Agrega(const int32_t* pBloque, int32_t& n);  // arrival order, no flag change
    void AjustaEscritura() { iEscritura = Pos(iNumMuestras - 1); }

    int32_t* piMuestras;
    int32_t iCapacidad;
    int32_t iGuardaAntiguas = 0;
    int32_t iNumMuestras = 0;
    int32_t iLectura = 0;
    int32_t iEscritura = 0;
    uint32_t tsCola = 0;
    int32_t iSincronizada = 0;
    int32_t iRelleno = 0;
    int32_t BalanceCola = 0;
};
