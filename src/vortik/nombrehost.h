// Check of an address text taken from the configuration image before it goes into a shell
// command line: a dotted IPv4 address or a host name (letters, digits, '-' and '.' only).
#pragma once

#include <cstddef>

// True for a dotted IPv4 address, or a host name of labels of 1-63 letters, digits and '-'
// (no '-' at either end) joined by single dots, at most 253 characters, not all digits. The
// text is read up to its terminator or iMax characters.
bool EsDireccionOHost(const char* szTexto, std::size_t iMax);
