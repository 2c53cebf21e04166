// The core's live configuration: the gateway structure, the core's own address and which
// positions hold a resource. One global instance, read under its tMutex.
#pragma once

#include <cstdint>

#include "comun/cdireccionip.h"
#include "cfg/cfgpasarela.h"

class CCONFIG : public cfgConfigPasarela {
public:
    CDireccionIp oDireccion;                       // the core's own IPv4 address
    int32_t aiMarcasInicio[2];                     // 1 and 3 once Inicia has run
    uint8_t aucFlgRecursoExiste[CFG_NUM_RECURSOS];  // 1 where a configured channel sits

    CCONFIG();
    // Defaults, the core's address from eth0 ("0.0.0.0" without one), and the identifier
    // defaults when acIdConfig does not belong to this system and gateway.
    void Inicia();
    // Recomputes aucFlgRecursoExiste from iNumRecursos and LocalizadorRecurso; channels whose
    // slot or device is out of range are skipped (and logged).
    void MarcaPosiciones();
};

// The live configuration. Never destroyed: threads read it until the process ends.
extern CCONFIG& oConfigPasarela;

// Names of a record's type (iTipo 0-6) and interface type (iTipoIf 0-14; "" for 15, 16 and the
// rest), 16 characters a row.
const char* mainNombreTipo(int iTipo);
const char* mainNombreTipoIf(int iTipoIf);
