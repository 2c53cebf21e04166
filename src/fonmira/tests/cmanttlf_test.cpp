// Telephone call records as the SNMP agent receives them: the texts of the four records and the
// duration of a call counted from the last start record.
#include <gtest/gtest.h>

#include <cstring>

#include "agente_pruebas.h"
#include "ccontextorecurso.h"
#include "cmantats.h"
#include "cmanttlf.h"
#include "comun/tiempo.h"

namespace {

TEST(MantTlf, RecordsCarryTheLineAndTheDurationFromTheLastStart) {
    agente_pruebas::CPuertoAgente agente;
    ASSERT_TRUE(agente.Abierto());
    CContextoRecurso& contexto = *new CContextoRecurso;  // the records keep it
    std::strcpy(contexto.sRegistro.nombre, "TLF-07");
    Mantats().Inicia(contexto);
    CMantTlf m;
    m.FijaId(7);
    m.Inicializa("TLF-07", 2, "318007");
    const time_t t = 1700000000;
    char acFecha[40];
    ASSERT_EQ(FormateaFechaHora(t, acFecha, sizeof acFecha), 1);
    const std::string sFecha = acFecha;

    m.LlamadaEntrante("318001", 6, 3, t, 1000);
    EXPECT_EQ(agente.Espera("V,H00,2309,", 3000), "V,H00,2309,TLF-07:IF=2|DS=318007:" + sFecha);
    m.FinLlamadaEntrante(t, 1000 + 1234);
    EXPECT_EQ(agente.Espera("V,H00,2310,", 3000), "V,H00,2310,TLF-07:IF=2|DS=318007|DL=0000012:" + sFecha);
    // The board clock wraps between start and end.
    m.LlamadaSaliente("", 0, 1, t, 0xFFFFFF00u);
    EXPECT_EQ(agente.Espera("V,H00,2311,", 3000), "V,H00,2311,TLF-07:IF=2|DS=318007:" + sFecha);
    m.FinLlamadaSaliente(t, 0x100u + 300);
    EXPECT_EQ(agente.Espera("V,H00,2312,", 3000), "V,H00,2312,TLF-07:IF=2|DS=318007|DL=0000008:" + sFecha);
}

}  // namespace
