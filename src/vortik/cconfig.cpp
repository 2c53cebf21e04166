#include "cconfig.h"

#include <cstdio>
#include <cstring>

#include <arpa/inet.h>

#include "comun/interfazred.h"

CCONFIG& oConfigPasarela = *new CCONFIG;

namespace {
const char kTipos[7][16] = {"AUDIO_RX", "AUDIO_TX", "AUDIO_TXRX", "AUDIO_HF_TX", "DATOS_RX", "DATOS_TX", "DATOS_TXRX"};
// One row per accepted interface type (0-16); 15 and 16 have no name.
const char kTiposIf[17][16] = {"RADIO", "LCEN", "BC",  "BL",    "AB",    "ATSR2", "ATSN5", "ATSQSIG", "2B+D",
                               "30B+D", "IO",   "DATOS", "RRC", "EYM_PP", "EYM_MARC", "", ""};
}  // namespace

const char* mainNombreTipo(int iTipo) { return iTipo >= 0 && iTipo < 7 ? kTipos[iTipo] : ""; }
const char* mainNombreTipoIf(int iTipoIf) { return iTipoIf >= 0 && iTipoIf < 17 ? kTiposIf[iTipoIf] : ""; }

CCONFIG::CCONFIG() : aiMarcasInicio{}, aucFlgRecursoExiste{} {}

void CCONFIG::Inicia() {
    std::printf("\n\n------------------------------------Inicia CCONFIG ----- \n\n");
    aiMarcasInicio[0] = 1;
    aiMarcasInicio[1] = 3;
    PonDefecto(0);
    oDireccion.TomaValor(ntohl(DameIpInterfaz("eth0")));
    // acIdConfig is "<system>\<gateway>..." when it was made for this gateway.
    char acPrefijo[sizeof acIdSistema + sizeof szNombre + 2];
    std::snprintf(acPrefijo, sizeof acPrefijo, "%.*s\\%.*s", static_cast<int>(sizeof acIdSistema), acIdSistema,
                  static_cast<int>(sizeof szNombre), szNombre);
    if (std::strncmp(acIdConfig, acPrefijo, std::strlen(acPrefijo)) != 0) PonDefecto(1);
}

void CCONFIG::MarcaPosiciones() { cfgMarcaPosiciones(this, aucFlgRecursoExiste); }
