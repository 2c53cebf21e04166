#include "cconfig.h"

CCONFIG::CCONFIG() : aucFlgRecursoExiste{} {}

void CCONFIG::MarcaPosiciones() { cfgMarcaPosiciones(this, aucFlgRecursoExiste); }
