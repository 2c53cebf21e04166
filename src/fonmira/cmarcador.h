// DTMF dialler of a telephone line: turns the destination of an outgoing call into dial
// codes and hands them to the line's DSP resource after a short wait, stepped by the
// entity's supervisor. No threads, no locks: the entity calls it under its own lock.
#pragma once

#include <cstdint>

class CMarcador {
public:
    enum { REPOSO = 0, ESPERA_INICIO = 1, MARCANDO = 2, RESTAURANDO = 3 };
    enum { MAX_CARACTERES = 64, MAX_CODIGOS = MAX_CARACTERES + 1 };
    // A host-DSP message is 64 bytes: code, channel and count leave room for 59 digits.
    enum { MAX_CODIGOS_DSP = 59 };
    enum : uint8_t { PAUSA = 255 };

    // Prepares the dialling of szTexto; 500,000. iRec: the resource number, for the log.
    int Marca(const char* szTexto, int32_t iRecursoDsp, int iCanalHost, int iRec);
    // One step; microseconds until the next one, 0 when idle. uiAhora: board ticks of 10 ms.
    int PasoMarcador(uint32_t uiAhora, int32_t iRecursoDsp, int iCanalHost);

    uint32_t DameEstado() const { return uiEstado; }
    uint32_t DameNumCodigos() const { return uiNumCodigos; }
    const uint8_t* DameCodigos() const { return aucCodigos; }

    // The dial codes of a text (at most MAX_CODIGOS); their count.
    static uint32_t Convierte(const char* szTexto, uint8_t* pucCodigos);

private:
    uint32_t uiEstado = REPOSO;
    uint32_t uiInicio = 0;
    uint8_t aucCodigos[MAX_CODIGOS] = {};
    uint32_t uiNumCodigos = 0;
};
