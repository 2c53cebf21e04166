#include "modelos.h"

#include "cdspsim.h"
#include "cplaca.h"

void RegistraModelos(CPlaca& placa) {
    // One call per further device model.
    RegistraDspSim(placa);
}
