#include "modelos.h"

#include "cplaca.h"

void RegistraModelos(CPlaca& /*placa*/) {
    // One call per further device model, e.g. the DSP behind /dev/hpidsp.
}
