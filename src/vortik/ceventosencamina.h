// The core's sink of the call manager: fills the router's requests for the states that other
// gateways publish. The gateway's own lines are in no other gateway's table: for them it reads
// what this gateway publishes, so routing can choose them (an incoming call is handed only to
// one of them).
#pragma once

#include "sip/cgestorllamada.h"

class CEventosEncamina : public CGestorLlamada::CEventos {
public:
    int32_t EvtPetListaDeEstadosPublicados(uint8_t ucNum, CandidatoEncamina* psLista) override;
};

extern CEventosEncamina oEventosEncamina;
