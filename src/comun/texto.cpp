#include "comun/texto.h"

#include <cstring>

int BcdABinario(uint8_t o) { return (o >> 4) * 10 + (o & 0x0F); }

uint32_t BcdANumero(const uint8_t* b, int n) {
    uint32_t v = 0;
    for (int i = 0; b && i < n && i < 255; i++) v = v * 100u + static_cast<uint32_t>(BcdABinario(b[i]));
    return v;
}

uint16_t BinarioABcd(uint16_t valor) {
    uint16_t r = 0;
    for (int d = 0; d < 4; d++) {
        r = static_cast<uint16_t>(r | ((valor % 10) << (4 * d)));
        valor = static_cast<uint16_t>(valor / 10);
    }
    return r;
}

void DescomponeDecimal(uint32_t valor, uint8_t digitos[5]) {
    static const uint32_t kDivisores[5] = {10000, 1000, 100, 10, 1};
    for (int i = 0; i < 5; i++) {
        digitos[i] = static_cast<uint8_t>(valor / kDivisores[i]);
        valor %= kDivisores[i];
    }
}

void AsciiHexANibbles(uint8_t* b, int n) {
    for (int i = 0; b && i < n; i++) {
        uint8_t c = b[i];
        if (c >= '0' && c <= '9') b[i] = static_cast<uint8_t>(c - '0');
        else if (c >= 'A' && c <= 'F') b[i] = static_cast<uint8_t>(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f') b[i] = static_cast<uint8_t>(c - 'a' + 10);
        else b[i] = 0;
    }
}

void NibblesAAsciiHex(const uint8_t* o, char* d, int n) {
    static const char kHex[] = "0123456789ABCDEF";
    for (int i = 0; o && d && i < n; i++) d[i] = o[i] < 16 ? kHex[o[i]] : '0';
}

int LongitudAcotada(char* texto, int maximo) {
    if (!texto || maximo < 0) return 0;
    const void* fin = memchr(texto, '\0', static_cast<size_t>(maximo) + 1);
    if (fin) return static_cast<int>(static_cast<const char*>(fin) - texto);
    texto[maximo] = '\0';
    return maximo;
}

char* RecortaBlancos(char* texto) {
    if (!texto) return texto;
    while (*texto == ' ') texto++;
    size_t n = strlen(texto);
    while (n > 0 && texto[n - 1] == ' ') texto[--n] = '\0';
    return texto;
}

char* PasaAMayusculas(char* texto) {
    if (!texto) return texto;
    for (; *texto; texto++)
        if (*texto >= 'a' && *texto <= 'z') *texto = static_cast<char>(*texto - 'a' + 'A');
    return texto;
}

int ComparaSinMayusculas(const char* a, const char* b) {
    for (int i = 0; i < 50; i++) {
        unsigned char ca = static_cast<unsigned char>(a[i]);
        unsigned char cb = static_cast<unsigned char>(b[i]);
        if (ca >= 'a' && ca <= 'z') ca = static_cast<unsigned char>(ca - 'a' + 'A');
        if (cb >= 'a' && cb <= 'z') cb = static_cast<unsigned char>(cb - 'a' + 'A');
        if (ca != cb) return ca < cb ? -1 : 1;
        if (ca == '\0') return 0;
    }
    return 0;
}
