// The setters take only their catalogue row's handler type: a handler of another form is
// refused when the program is compiled, not found out when its message arrives.
#include <gtest/gtest.h>

#include <type_traits>

#include "ipc/cola.h"

namespace {

template <typename Setter, typename Handler>
constexpr bool Acepta() {
    return std::is_invocable<Setter, Cola&, Handler>::value;
}

// Each setter against its own type and a neighbour's of the same arity or close to it.
// (TpEvtPeer and TpEvtValor are one type, so codes 2 and 18 cannot be told apart.)
static_assert(Acepta<decltype(&Cola::RegistraEvtFinLlamada), TpEvtDosEnteros>(), "");
static_assert(!Acepta<decltype(&Cola::RegistraEvtFinLlamada), TpEvtUnEntero>(), "");
static_assert(!Acepta<decltype(&Cola::RegistraEvtFinLlamada), TpEvtTresEnteros>(), "");
static_assert(Acepta<decltype(&Cola::RegistraEvtInfoLlamada), TpEvtTresEnteros>(), "");
static_assert(!Acepta<decltype(&Cola::RegistraEvtInfoLlamada), TpEvtDosEnteros>(), "");
static_assert(Acepta<decltype(&Cola::RegistraEvtLlamadaSaliente), TpEvtLlamada>(), "");
static_assert(!Acepta<decltype(&Cola::RegistraEvtLlamadaSaliente), TpEvtSesion>(), "");
static_assert(!Acepta<decltype(&Cola::RegistraEvtNuevaSesion), TpEvtLlamada>(), "");
static_assert(!Acepta<decltype(&Cola::RegistraLlama), TpEvtIntervencionPrioridad>(), "");
static_assert(!Acepta<decltype(&Cola::RegistraIntervencionPrioridad), TpEvtLlama>(), "");
static_assert(!Acepta<decltype(&Cola::RegistraMarcaDtmf), TpEvtBloque>(), "");
static_assert(!Acepta<decltype(&Cola::RegistraEvtDigitoDtmf), TpEvtDiagnostico>(), "");
static_assert(!Acepta<decltype(&Cola::RegistraEvtTomaConfig), TpEvtMensaje23>(), "");
static_assert(!Acepta<decltype(&Cola::RegistraEvtPintaEstadisticas), TpEvtPeer>(), "");
static_assert(!Acepta<decltype(&Cola::RegistraEvtReset), TpEvtSinArgs>(), "");
// A plain function of the wrong signature is refused too, and null always fits (removal).
void DosEnteros(int32_t, int32_t, int32_t) {}
static_assert(!Acepta<decltype(&Cola::RegistraDescuelga), decltype(&DosEnteros)>(), "");
static_assert(Acepta<decltype(&Cola::RegistraDescuelga), std::nullptr_t>(), "");

// Every code of the catalogue has a setter; the table holds one word per row.
TEST(ColaTipos, OneHandlerWordPerCatalogueRow) {
    int filas = 0;
#define VK_FILA(registra, nombre, codigo, forma, tipo) \
    filas++;                                           \
    EXPECT_EQ(COD_##nombre, codigo) << #nombre;
    VK_CATALOGO_COLA(VK_FILA)
#undef VK_FILA
    EXPECT_EQ(filas, Cola::NUM_MANEJADORES);
    EXPECT_EQ(Cola::NUM_MANEJADORES, 84);
}

}  // namespace
