#include "cconfig.h"

#include <cstdio>
#include <cstring>

#include "ctablapttid.h"

CCONFIG::CCONFIG() : aiMarcasInicio{}, aucFlgRecursoExiste{} {}

void CCONFIG::Inicia() {
    std::printf("\n\n------------------------------------Inicia CCONFIG ----- \n\n");
    aiMarcasInicio[0] = 1;
    aiMarcasInicio[1] = 3;
    PonDefecto(0);
    oDireccion.TomaValor(DameIpPropia("eth0"));
    // acIdConfig is "<system>\<gateway>..." when it was made for this gateway.
    char acPrefijo[sizeof acIdSistema + sizeof szNombre + 2];
    std::snprintf(acPrefijo, sizeof acPrefijo, "%.*s\\%.*s", static_cast<int>(sizeof acIdSistema), acIdSistema,
                  static_cast<int>(sizeof szNombre), szNombre);
    if (std::strncmp(acIdConfig, acPrefijo, std::strlen(acPrefijo)) != 0) PonDefecto(1);
}

void CCONFIG::MarcaPosiciones() { cfgMarcaPosiciones(this, aucFlgRecursoExiste); }
