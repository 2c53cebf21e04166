// Mixer of a line entity: one sample queue per source channel, summed sample by sample and
// scaled down when the sum would clip. The owner serialises every call (its audio lock).
#pragma once

#include <cstdint>
#include <cstdio>

#include "ccolamuestras.h"

class CMezclador {
public:
    static constexpr int32_t MAX_CANALES = 16;
    static constexpr int32_t MAX_MUESTRAS_MEZCLA = 1120;  // largest block of one call
    static constexpr int32_t PICO_MAXIMO = 32000;         // mixed peaks above this are scaled

    CMezclador(int32_t iCanales, int32_t iCapacidad);
    ~CMezclador();
    CMezclador(const CMezclador&) = delete;
    CMezclador& operator=(const CMezclador&) = delete;

    int32_t AbreCanal();
    int32_t AbreCanal(int32_t iGuardaAntiguas);
    void CierraCanal(int32_t i);
    // pTs null: arrival order. Returns the samples stored (n is updated likewise).
    int32_t MeteMuestras(int32_t i, const int32_t* pBloque, int32_t& n, const uint32_t* pTs);
    void FijaOffset(int32_t i, uint32_t tsRemoto, uint32_t tsLocal);
    // pTs null: in arrival order; otherwise *pTs is the wanted play-out time (may be moved).
    int32_t Mezcla(int32_t* pDst, int32_t& n, uint32_t* pTs, uint32_t tsAhora);
    int32_t SacaSeleccionado(int32_t* pDst, int32_t& n, uint32_t* pTs, uint32_t tsAhora);
    int32_t Selecciona(int32_t i, int32_t iDato);
    void Deselecciona();
    void VaciaCanales();

    int32_t DameSeleccionado() const { return iSeleccionado; }
    int32_t MuestrasCanal(int32_t i) const;
    int32_t MaxMuestras() const;
    int32_t LibresCanal(int32_t i) const;
    int32_t CanalSincronizado(int32_t i) const;  // 1, 0, or -1 for a bad or closed channel
    int32_t CanalesActivos() const { return iCanalesActivos; }
    int32_t NumCanales() const { return iNumCanales; }
    void FijaRelleno(int32_t v) { iRelleno = v; }
    // Prints through salida (a printf-like console print).
    void Estadisticas(uint32_t tsLocal, int (*salida)(const char*, ...) = printf) const;

private:
    struct Canal {
        int32_t iActivo = 0;
        int32_t Sinc = 0;
        int32_t TSoffset = 0;
        CColaMuestras* pCola = nullptr;
    };

    Canal* CanalActivo(int32_t i) const;
    void EligeTs(int32_t n, uint32_t& ts, uint32_t tsAhora) const;
    void LeeCanal(Canal& c, int32_t* pDst, int32_t n, const uint32_t* pTs);

    Canal** apsCanales;
    int32_t iCanalesActivos = 0;
    int32_t iNumCanales = 0;
    int32_t iCapacidad;
    int32_t iRelleno = 0;
    int32_t iSeleccionado = -1;
    int32_t iDatoSeleccion = 0;
};
