// Start-up of the live configuration holder: defaults and the core's own address from eth0.
#include <gtest/gtest.h>

#include "cconfig.h"

namespace {

TEST(CCONFIG, IniciaTakesDefaultsAndTheAddressOfEth0) {
    auto p = std::make_unique<CCONFIG>();
    p->iNumRecursos = 9;
    p->iDual = 0;
    p->Inicia();
    EXPECT_EQ(p->aiMarcasInicio[0], 1);
    EXPECT_EQ(p->aiMarcasInicio[1], 3);
    EXPECT_EQ(p->iNumRecursos, 1);
    EXPECT_EQ(p->iDual, 1);
    EXPECT_EQ(p->iPuertoConsola, 19710);
    EXPECT_STREQ(p->acIdConfig, "ID CFG desconocido");
    EXPECT_STREQ(p->oDireccion.texto, "192.0.2.23");  // the sandbox's eth0
}

}  // namespace
