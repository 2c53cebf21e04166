// The core's sink of the SIP bridge: the states the resources publish go to the state
// publication towards the other gateways.
#pragma once

#include "sip/cpasagus.h"

class CEventosPasaGus : public CPasaGus::CPublicacion {
public:
    int ActualizaPublica(const char* szNombre, const uint8_t* pRegistro, int iTipo, int iValor) override;
    void Despierta() override;
};

extern CEventosPasaGus oEventosPasaGus;
