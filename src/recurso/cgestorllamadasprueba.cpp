#include "cgestorllamadasprueba.h"

#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstring>

#include "comun/nlog.h"

namespace {
constexpr uint32_t REINTENTO = 500;                   // 5 s
constexpr uint32_t TRAS_ENTRANTE = 180000;            // 30 min
constexpr uint32_t TRAS_EXITO = 360000;               // 60 min
constexpr uint32_t SIN_PRUEBA_MAXIMO = 240000;        // 40 min
constexpr int32_t MODULO_DISPERSION = 600000;

bool Alcanzado(uint32_t uiAhora, uint32_t uiHora) { return static_cast<int32_t>(uiAhora - uiHora) >= 0; }

void PonSeisNueves(char* pc) {
    memset(pc, 0, CGestorLlamadasPrueba::MAX_DIGITOS);
    memset(pc, 9, CGestorLlamadasPrueba::LONG_NUMERO);
}

// At most the number's length: the configuration fields are 6 characters without terminator.
void LeeNumero(const char* sz, char* pc) {
    if (sz == nullptr || sz[0] == '\0') return;
    memset(pc, 0, CGestorLlamadasPrueba::MAX_DIGITOS);
    for (int i = 0; i < CGestorLlamadasPrueba::LONG_NUMERO && sz[i] != '\0'; ++i)
        pc[i] = static_cast<char>(sz[i] - '0');
}
}  // namespace

CGestorLlamadasPrueba::CGestorLlamadasPrueba() {
    PonSeisNueves(acLocal);
    PonSeisNueves(acRemoto);
}

CGestorLlamadasPrueba::~CGestorLlamadasPrueba() {
    if (iFdAleatorio >= 0) close(iFdAleatorio);
}

void CGestorLlamadasPrueba::AbreAleatorio() {
    if (iFdAleatorio >= 0) close(iFdAleatorio);
    iFdAleatorio = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (iFdAleatorio < 0) NLOG::Log(NLOG::ERROR, "CGestorLlamadasPrueba: no se puede abrir /dev/urandom");
}

int CGestorLlamadasPrueba::Configura(const char* szHabilita, const char* szLocal, const char* szRemoto) {
    iEstado = DESCONOCIDO;
    uiFallos = 0;
    if (iFdAleatorio < 1) AbreAleatorio();
    iLongitud = LONG_NUMERO;
    PonSeisNueves(acLocal);
    PonSeisNueves(acRemoto);
    if (szHabilita != nullptr && szHabilita[0] != '\0') {
        LeeNumero(szLocal, acLocal);
        LeeNumero(szRemoto, acRemoto);
    }
    NLOG::Log(NLOG::INFO, "CGestorLlamadasPrueba: local %d%d%d%d%d%d remoto %d%d%d%d%d%d", acLocal[0], acLocal[1],
              acLocal[2], acLocal[3], acLocal[4], acLocal[5], acRemoto[0], acRemoto[1], acRemoto[2], acRemoto[3],
              acRemoto[4], acRemoto[5]);
    return 0;
}

void CGestorLlamadasPrueba::Reinicia() {
    iEstado = DESCONOCIDO;
    uiFallos = 0;
}

int32_t CGestorLlamadasPrueba::Dispersion() {
    if (iFdAleatorio < 0) return 0;
    int32_t r = 0;
    if (read(iFdAleatorio, &r, sizeof r) != static_cast<ssize_t>(sizeof r)) {
        AbreAleatorio();
        return 0;
    }
    return (r % MODULO_DISPERSION) / 10;
}

void CGestorLlamadasPrueba::Falla(uint32_t uiAhora) {
    iEstado = FALLANDO;
    uiUltimoFallo = uiAhora;
    uiProximaLlamada = uiAhora + REINTENTO;
    if (uiFallos < UINT32_MAX) ++uiFallos;
}

int CGestorLlamadasPrueba::EvaluaEntrante(int iLong, const char* pcOrigen, const char* pcDestino, int iCategoria,
                                          uint32_t uiAhora) {
    const size_t n = static_cast<size_t>(iLongitud);
    const bool bDestinoLocal = memcmp(pcDestino, acLocal, n) == 0;
    const bool bOrigenRemoto = memcmp(pcOrigen, acRemoto, n) == 0;
    if (iCategoria == CATEGORIA_PRUEBA && iLong == iLongitud && bOrigenRemoto && bDestinoLocal) {
        NLOG::Log(NLOG::INFO, "Llamada Entrante de prueba");
        return RESULTADO_PRUEBA;
    }
    if (bDestinoLocal || bOrigenRemoto) {
        Falla(uiAhora);
        NLOG::Log(NLOG::INFO, "Llamada Entrante de prueba mal parametros");
        return RESULTADO_PRUEBA;
    }
    uiUltimaPrueba = uiAhora;
    uiProximaLlamada = uiAhora + TRAS_ENTRANTE + static_cast<uint32_t>(Dispersion());
    iEstado = CORRECTO;
    NLOG::Log(NLOG::INFO, "Llamada Entrante no es de prueba");
    return 0;
}

uint32_t CGestorLlamadasPrueba::LlamadaSalienteOk(uint32_t uiAhora) {
    iEstado = CORRECTO;
    uiFallos = 0;
    uiUltimaPrueba = uiUltimoExito = uiAhora;
    uiProximaLlamada = uiAhora + TRAS_EXITO + static_cast<uint32_t>(Dispersion());
    NLOG::Log(NLOG::INFO, "LlamadaSalienteOk %i %i", static_cast<int>(uiAhora), static_cast<int>(uiProximaLlamada));
    return uiProximaLlamada - uiAhora;
}

uint32_t CGestorLlamadasPrueba::LlamadaSalienteFallida(uint32_t uiAhora) {
    NLOG::Log(NLOG::INFO, "LlamadaSalienteFallida");
    Falla(uiAhora);
    return uiFallos;
}

int CGestorLlamadasPrueba::ReintentaPronto(uint32_t uiAhora) {
    uiProximaLlamada = uiAhora + REINTENTO;
    uiFallos = 0;
    return 0;
}

int CGestorLlamadasPrueba::HayQueLlamar(uint32_t uiAhora) {
    if (iEstado == DESCONOCIDO) {
        NLOG::Log(NLOG::INFO, "CGestorLlamadasPrueba: Estado desconocido");
        return 1;
    }
    if (iEstado == CORRECTO && Alcanzado(uiAhora, uiUltimaPrueba + SIN_PRUEBA_MAXIMO)) {
        NLOG::Log(NLOG::INFO, "CGestorLlamadasPrueba: hay que llamar");
        return 1;
    }
    if (Alcanzado(uiAhora, uiProximaLlamada)) {
        NLOG::Log(NLOG::INFO, "CGestorLlamadasPrueba: Proxima llamada");
        return 1;
    }
    return 0;
}

void CGestorLlamadasPrueba::DameNumeros(int* piLong, char* pcLocal, char* pcRemoto, int* piCategoria) const {
    if (*piLong > LONG_NUMERO) *piLong = LONG_NUMERO;
    if (*piLong < 0) *piLong = 0;
    memcpy(pcLocal, acLocal, static_cast<size_t>(*piLong));
    memcpy(pcRemoto, acRemoto, static_cast<size_t>(*piLong));
    *piCategoria = CATEGORIA_PRUEBA;
}

uint32_t CGestorLlamadasPrueba::DameEstado() const {
    switch (iEstado) {
    case DESCONOCIDO: return 1;
    case CORRECTO: return 0;
    default: return uiFallos;
    }
}
