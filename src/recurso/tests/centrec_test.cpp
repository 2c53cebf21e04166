// The common line entity in the test's own process on a simulated board of its own: its
// hardware supervision, pass by pass.
#include <gtest/gtest.h>

#include "ccontextorecurso.h"
#include "centrec.h"
#include "hardware/hwlinea.h"
#include "hardware/tests/hwpruebas.h"

namespace {

using namespace hwpruebas;

class EntidadRC : public PlacaSimulada {};

// A line module that reads as not started (it was closed under the entity) stops the line;
// the next pass starts it again and the one after finds it in order.
TEST_F(EntidadRC, SupervisionRestartsALineModuleThatIsNotStarted) {
    CContextoRecurso& contexto = *new CContextoRecurso;  // the entity's threads read it to the end
    contexto.sRegistro.iTipoIf = TIPOIF_AB;
    contexto.sRegistro.iDispositivo = 3;
    contexto.sRegistro.iCfgModoSistema = 1;
    CEntidadRC& e = *new CEntidadRC;  // its threads outlive the test
    contexto.iRec = 3;
    contexto.pEntidad = &e;
    e.FijaContexto(contexto);
    ASSERT_EQ(e.Inicia(3), 0);
    EXPECT_EQ(e.SupervisaHW(), 1000000);  // first start
    EXPECT_EQ(e.SupervisaHW(), 6000000);
    EXPECT_EQ(e.HwOk(), 1);
    ASSERT_EQ(hwCierraSlic(3), 0);
    EXPECT_EQ(e.SupervisaHW(), 6000000);
    EXPECT_EQ(e.HwOk(), 0);
    EXPECT_TRUE(HayLinea(" CENTRC[3]: HW_NO_INICIADO "));
    EXPECT_EQ(e.SupervisaHW(), 1000000);
    EXPECT_EQ(CuentaLineas(" CENTRC[3]: CONFIGURA  3"), 2);
    EXPECT_EQ(e.SupervisaHW(), 6000000);
    EXPECT_EQ(e.HwOk(), 1);
}

}  // namespace
