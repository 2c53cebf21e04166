// The board on the combined example comes up whole.
#include "placa_e2e.h"

namespace {

using namespace e2e;

TEST(Arranque, EveryLineOfTheCombinedExampleStarts) {
    CPlaca p;
    ASSERT_TRUE(p.Arranca());
    EXPECT_TRUE(CPlaca::RecursoDice(kTelefono, "CENTTLF[1]:Recurso DSP configurado", 40000)) << p.Informe();
    EXPECT_TRUE(p.nucleo.Vivo());
    if (HasFailure()) std::printf("%s\n", p.Informe().c_str());
}

}  // namespace
