// Hot-line call records as the SNMP agent receives them: each direction measured from its own
// start.
#include <gtest/gtest.h>

#include <cstring>

#include "agente_pruebas.h"
#include "ccontextorecurso.h"
#include "cmantats.h"
#include "cmantlcen.h"
#include "comun/tiempo.h"

namespace {

TEST(MantLcen, EachDirectionIsMeasuredFromItsOwnStart) {
    agente_pruebas::CPuertoAgente agente;
    ASSERT_TRUE(agente.Abierto());
    CContextoRecurso& contexto = *new CContextoRecurso;  // the records keep it
    std::strcpy(contexto.sRegistro.nombre, "LC-06");
    Mantats().Inicia(contexto);
    CMantLcen m;
    m.Inicia(6);
    const time_t t = 1700000000;
    char acFecha[40];
    ASSERT_EQ(FormateaFechaHora(t, acFecha, sizeof acFecha), 1);
    const std::string sFecha = acFecha;

    // Before any incoming call the end counts from 0.
    m.RegistraFinLlamadaEntrante(t, 700);
    EXPECT_EQ(agente.Espera("V,H00,2306,", 3000), "V,H00,2306,LC-06:7:" + sFecha);
    m.RegistraLlamadaSaliente(t, 5000);
    EXPECT_EQ(agente.Espera("V,H00,2307,", 3000), "V,H00,2307,LC-06:" + sFecha);
    m.RegistraLlamadaEntrante(t, 5100);
    EXPECT_EQ(agente.Espera("V,H00,2305,", 3000), "V,H00,2305,LC-06:" + sFecha);
    m.RegistraFinLlamadaSaliente(t, 5250);
    EXPECT_EQ(agente.Espera("V,H00,2308,", 3000), "V,H00,2308,LC-06:2:" + sFecha);
    m.RegistraFinLlamadaEntrante(t, 5250);
    EXPECT_EQ(agente.Espera("V,H00,2306,", 3000), "V,H00,2306,LC-06:1:" + sFecha);
}

}  // namespace
