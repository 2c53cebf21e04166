// Names, ATS numbers and URIs of the SIP side: look-ups in the gateway configuration, the
// gateway's own address and URI, and small cuts on "sip:" texts. Free functions, used by the
// call manager, the bridge and the resource supervisors.
//
// Configuration look-ups read the live configuration handed by sipFijaConfig, under its mutex
// (recursive: a holder may call them). Outputs are texts of the caller, always terminated.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cfg/cfgpasarela.h"

// The live configuration that the look-ups read (the core's, handed at start-up); null: none,
// and every look-up fails.
void sipFijaConfig(cfgConfigPasarela* psConfig);
cfgConfigPasarela* sipDameConfig();
// iCfgModoSistema of the configuration, 0 without one.
int sipModoSistema();

// Address of the host assigned to a user (routing mode only); szDireccion of at least 65 bytes.
int BuscaDireccionUsuario(const char* szNombre, char* szDireccion);
// First number of the SIP addressing entry of the name; szNumero of at least 21 bytes.
int BuscaNumeroSip(const char* szNombre, char* szNumero);
// The gateway's own address as an IPv4 value (host order), 0 when there is none.
uint32_t DameIpPropia(const char* szInterfaz);
// "sip:user@<the other CPU's address>" (szUri of at least 81 bytes); 0, or -1.
int DameUriPropia(const char* szUsuario, char* szUri);

// 0 when the text contains "sip:", else -1.
int EsUriSip(const char* szTexto);
// Cuts a URI in place behind its user and host.
void SacaUsuarioUri(char* szUri);
// User part (after "sip:", up to "@"), at most 59 characters; szUsuario of at least 60 bytes.
int CopiaUsuarioUri(const char* szUri, char* szUsuario);
