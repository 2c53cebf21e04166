// Readable dump of the live configuration, and the built-in configuration the core starts with
// before the configuration manager takes the agent's image over.
#pragma once

#include "cfg/cfgpasarela.h"

// Path of the dump; rewritten whole on every dump.
extern const char* const VolcadoConfig;

// Writes the configuration to pRuta (VolcadoConfig by default) as text. Reads it without its
// lock; a file that cannot be opened is left alone.
void mainPintaCfg(const cfgImagenPasarela* pCfg, const char* pRuta = VolcadoConfig);

// One radio resource at slot 0, device 0, over the constructed defaults; plans empty.
void CargaConfigPrueba(cfgConfigPasarela* pCfg);
