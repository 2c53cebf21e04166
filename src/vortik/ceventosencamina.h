// The core's sink of the call manager: fills the router's requests for the states that other
// gateways publish.
#pragma once

#include "sip/cgestorllamada.h"

class CEventosEncamina : public CGestorLlamada::CEventos {
public:
    int32_t EvtPetListaDeEstadosPublicados(uint8_t ucNum, CandidatoEncamina* psLista) override;
};

extern CEventosEncamina oEventosEncamina;
