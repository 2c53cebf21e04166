// Text helpers and BCD / hexadecimal conversions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// BCD.
int BcdABinario(uint8_t octeto);
// n BCD bytes (up to 255), most significant first, two decimal digits each.
uint32_t BcdANumero(const uint8_t* buffer, int n);
// Low four decimal digits of valor packed as BCD (4096 gives 0x4096).
uint16_t BinarioABcd(uint16_t valor);
// Five bytes: the decimal digits of valor, most significant first (valor >= 100000 gives
// a first byte above 9).
void DescomponeDecimal(uint32_t valor, uint8_t digitos[5]);

// Hexadecimal: in place "0"-"9" / "A"-"F" / "a"-"f" to 0-15, anything else to 0.
void AsciiHexANibbles(uint8_t* buffer, int n);
// Values 0-15 to "0"-"9" / "A"-"F", anything else to "0".
void NibblesAAsciiHex(const uint8_t* origen, char* destino, int n);

// Length of texto when it ends within maximo characters; otherwise terminates it at
// index maximo (texto must hold maximo + 1 bytes) and returns maximo.
int LongitudAcotada(char* texto, int maximo);
// Cuts trailing blanks in place and returns the first non-blank (blank: space only).
char* RecortaBlancos(char* texto);
// Upper-cases "a" to "z" in place; returns the end of the text.
char* PasaAMayusculas(char* texto);
// strcmp over the first 50 characters with "a" to "z" upper-cased.
int ComparaSinMayusculas(const char* a, const char* b);

// Copies at most maximo characters of a text (null: empty) into a fixed field, always
// terminated.
template <size_t N>
void CopiaCampo(char (&destino)[N], const char* origen, size_t maximo = N - 1) {
    std::snprintf(destino, N, "%.*s", static_cast<int>(maximo < N - 1 ? maximo : N - 1), origen ? origen : "");
}
