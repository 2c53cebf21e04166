// The record handed to every Traplic_* handler: a copy of the user agent's session of the call,
// made for the call of the handler (first word its SIP call id).
#pragma once

#include "sip/sesionsip.h"

using DatosEventoSip = SesionSip;
