// User and domain parts of SIP URIs, last octet of a dotted address.
#pragma once

#include <cstddef>

enum { LON_DOMINIO_URI = 18, LON_ULTIMO_OCTETO = 15 };

// User part of a telephone URI ("sip:" or "<sip:" skipped): digits, A-D (a-d upper-cased),
// "#", "*", "," and "p", up to "@" or maximo characters; destino holds maximo + 1 bytes.
// Returns the length, or -1 on any other character or an empty user part.
int SacaNumeroUri(const char* uri, char* destino, int maximo);
// Text after the first "@" (the whole uri without one) into destino of tamano bytes,
// always terminated (cut to tamano - 1 characters); prints "SACA dominio URI %s\n".
void SacaDominioUri(const char* uri, char* destino, size_t tamano = LON_DOMINIO_URI);
// What follows the third "." of texto into destino of tamano bytes, always terminated;
// 0, or -1 when texto is empty or has fewer than three dots.
int SacaUltimoOcteto(const char* texto, char* destino, size_t tamano = LON_ULTIMO_OCTETO);
