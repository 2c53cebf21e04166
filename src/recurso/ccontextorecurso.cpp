#include "ccontextorecurso.h"

cfgConfigRecurso CContextoRecurso::CopiaRegistro() {
    cfgCerrojo c(&tMutexConfig);
    return sRegistro;
}
