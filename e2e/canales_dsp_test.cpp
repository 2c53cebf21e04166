// The DSP service's channels to a resource process that stalls and comes back, for long: the
// channel table's test (src/dremson/tests/recurso_parado.h) a few thousand times over.
#include "placa_e2e.h"
#include "recurso_parado.h"

namespace {

using serviciopruebas::RecursoParado;

TEST_F(RecursoParado, ProcessStoppedAndResumedThousandsOfTimesLeavesNoChannelBehind) {
    SOLO_EN_E2E();
    Ciclos(3000, 600);
}

}  // namespace
