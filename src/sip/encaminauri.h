// Names, ATS numbers and URIs of the SIP side: look-ups in the gateway configuration, in the
// routing file encamina.ini, the gateway's own address and URI, and small tests and cuts on
// "sip:" and "tel:" texts. Free functions, used by the call manager, the bridge and the
// resource supervisors.
//
// Configuration look-ups read the live configuration handed by sipFijaConfig, under its mutex
// (recursive: a holder may call them). Outputs are texts of the caller, always terminated.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cfg/cfgpasarela.h"

// Name of the routing file, in the core's working directory; written by an outside party and
// read at each look-up.
extern const char* const FicheroEncamina;

// The live configuration that the look-ups read (the core's, handed at start-up); null: none,
// and every look-up fails.
void sipFijaConfig(cfgConfigPasarela* psConfig);
cfgConfigPasarela* sipDameConfig();
// iCfgModoSistema of the configuration, 0 without one.
int sipModoSistema();

// ---- Configuration look-ups: 0 found, -1 not found ----
// szDireccion of at least 65 bytes. With iCfgModoSistema not 0 the virtual address, whatever
// the name.
int BuscaDireccionPorNombre(const char* szNombre, char* szDireccion);
// Address of the host assigned to a user (routing mode only); szDireccion of at least 65 bytes.
int BuscaDireccionUsuario(const char* szNombre, char* szDireccion);
// szAsignado of at least 65 bytes.
int BuscaNombreAsignado(const char* szNombre, char* szAsignado);
// First number of the SIP addressing entry of the name; szNumero of at least 21 bytes.
int BuscaNumeroSip(const char* szNombre, char* szNumero);
// Name (65 bytes) of the first SIP addressing entry holding the ATS number (first six digits).
int BuscaRecursoPorNumeroAts(char* szNombre, const char* szNumero);
// The virtual address as an IPv4 value (host order), 0 when it is no address. The interface
// name is not used.
uint32_t DameIpPropia(const char* szInterfaz);
// "sip:user@<the other CPU's address>" (at most 80 characters: szUri of at least 81 bytes);
// 0, or -1 without configuration or without that address.
int DameUriPropia(const char* szUsuario, char* szUri);
// 1 when eth0's address differs from szDirCPU0, else 0.
int EsDireccionCpu0Distinta();

// ---- Routing file look-ups (a value counts up to its first ";"; without one it is absent) ----
// 0 and the URI of the number ("ATS-SIP"), cut to uiTam - 1 characters; -1 when absent.
int BuscaUriAts(const char* szNumero, char* szUri, size_t uiTam);
// The number's resource list ("SIP-ATS"), names separated by ","; the number of names, 0 when
// absent.
int BuscaRecursoAts(const char* szNumero, char* szRecursos, size_t uiTam);
// 0 and the URI for numbers without their own key; -1 when absent.
int BuscaURIDefecto(char* szUri, size_t uiTam);

// ---- URI texts ----
// 0 when the text contains "sip:" ("tel:"), else -1.
int EsUriSip(const char* szTexto);
int EsUriTel(const char* szTexto);
// Digits after a leading "tel:" or "<tel:" into szNumero (at most uiTam - 1); their count, or
// -1 when there are none.
int SacaNumeroTel(const char* szTexto, char* szNumero, size_t uiTam);
// Cuts a URI in place behind its user and host: at the first ":" after "sip:user", else at the
// first ";".
void SacaUsuarioUri(char* szUri);
// User part (after "sip:", up to "@"), at most 59 characters; szUsuario of at least 60 bytes.
int CopiaUsuarioUri(const char* szUri, char* szUsuario);
// 0 when both are SIP URIs and equal, else -1. Prints both on the standard output.
int ComparaUri(const char* szUri1, const char* szUri2);
