// Header readers and writers of the user agent's SIP messages: the headers it reads by name
// (Subject, Priority, Supported, Session-Expires, WG67-Version ...), the WG-67 Reason texts and
// the Allow and session-timer headers of its answers. No state.
#pragma once

#include <eXosip2/eXosip.h>

#include <cstddef>

#include "sip/sesionsip.h"

// Readers: 0 (or the header's position) when found, negative otherwise; the output is always
// terminated within its size.
int sipLeeCabecera(const osip_message_t* psMensaje, const char* szNombre, char* acSalida, size_t iTam);
// Priority, "Emergency" when it has none.
int sipLeePrioridad(const osip_message_t* psMensaje, char* acSalida, size_t iTam);
int sipLeeAsunto(const osip_message_t* psMensaje, char* acSalida, size_t iTam);
// Position of the Supported header holding exactly szValor.
int sipBuscaSupported(const osip_message_t* psMensaje, const char* szValor);
int sipLeeSessionExpires(const osip_message_t* psMensaje, char* acSalida, size_t iTam);
// WG67-Version, "NO-VERSION" when it has none.
int sipLeeVersionWG67(const osip_message_t* psMensaje, char* acSalida, size_t iTam);

// WG-67 Reason text of an index (0-9), null for any other.
const char* sipTextoRazon(int iRazon);
// The methods the gateway answers, as the Allow header of its answers to INVITE and OPTIONS
// and of every 405 (RFC 3261 13.3.1.4, 11.2, 20.5).
void sipPonMetodosAceptados(osip_message_t* psMensaje);
// Require and Session-Expires of the answer to a request of a session whose INVITE offered
// the timer (the value it offered, refreshed by the peer); false when it has none.
bool sipPonSessionExpires(osip_message_t* psMensaje, const SesionSip& sSesion);
