// The board's own drivers.
#pragma once

#include "hardware/cdispositivos.h"

class CDispositivosReales : public CDispositivos {
public:
    int Abre(const char* szRuta, int iFlags) override;
    int Cierra(int iFd) override;
    int Peticion(int iFd, uint32_t uiCodigo, uint32_t uiValor, uint32_t* puiResultado) override;
    ssize_t Lee(int iFd, void* pBuffer, size_t n) override;
    ssize_t Escribe(int iFd, const void* pBuffer, size_t n) override;
    ssize_t LeeMensaje(int iFd, void* pBuffer, size_t iCapacidad) override;
    ssize_t EscribeMensaje(int iFd, const void* pMensaje, size_t iLongitud) override;
    int FijaDireccion(int iFd, uint32_t uiDireccion) override;
    int EscribePalabras(int iFd, const uint32_t* puiPalabras, size_t n) override;
    int ActivaAviso(int iFd) override;
    bool EsSimulada() const override { return false; }
};
