// Periodic test calls of an ATS trunk: when the next one is due, whether an incoming call is
// one, and the outcome of an outgoing one. Times are board ticks (hwDameTiempo, 10 ms),
// passed in by the caller and compared by the sign of their difference. No lock: the
// trunk entity calls it under its own.
#pragma once

#include <cstdint>

class CGestorLlamadasPrueba {
public:
    enum { MAX_DIGITOS = 64, LONG_NUMERO = 6, CATEGORIA_PRUEBA = 4 };
    enum { DESCONOCIDO = 0, FALLANDO = 1, CORRECTO = 2 };
    enum { RESULTADO_PRUEBA = 2 };

    CGestorLlamadasPrueba();
    ~CGestorLlamadasPrueba();
    CGestorLlamadasPrueba(const CGestorLlamadasPrueba&) = delete;
    CGestorLlamadasPrueba& operator=(const CGestorLlamadasPrueba&) = delete;

    // Texts of digit characters; each number is read up to its 6th character or its
    // terminator, whichever comes first. Nothing is taken when szHabilita is empty.
    int Configura(const char* szHabilita, const char* szLocal, const char* szRemoto);
    void Reinicia();
    // 2 for a test call (well or badly addressed), 0 for an ordinary call; digit values.
    int EvaluaEntrante(int iLongitud, const char* pcOrigen, const char* pcDestino, int iCategoria, uint32_t uiAhora);
    // Ticks until the next test call.
    uint32_t LlamadaSalienteOk(uint32_t uiAhora);
    // Consecutive failures.
    uint32_t LlamadaSalienteFallida(uint32_t uiAhora);
    int ReintentaPronto(uint32_t uiAhora);
    int HayQueLlamar(uint32_t uiAhora);
    void DameNumeros(int* piLongitud, char* pcLocal, char* pcRemoto, int* piCategoria) const;

    // 1 while unknown, 0 when correct, the failure count while failing.
    uint32_t DameEstado() const;
    bool PruebaCorrecta() const { return iEstado == CORRECTO; }
    uint32_t DameProximaLlamada() const { return uiProximaLlamada; }
    uint32_t DameSincronizadas() const { return uiSincronizadas; }

private:
    int32_t Dispersion();
    void AbreAleatorio();
    void Falla(uint32_t uiAhora);

    char acLocal[MAX_DIGITOS];
    char acRemoto[MAX_DIGITOS];
    int iLongitud = LONG_NUMERO;
    int iEstado = DESCONOCIDO;
    uint32_t uiFallos = 0;
    uint32_t uiUltimaPrueba = 0;
    uint32_t uiUltimoFallo = 0;
    uint32_t uiUltimoExito = 0;
    uint32_t uiProximaLlamada = 0;
    uint32_t uiSincronizadas = 0;  // never counted: only read by its getter
    int iFdAleatorio = -1;
};
