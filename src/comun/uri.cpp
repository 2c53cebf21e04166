#include "comun/uri.h"

#include <cstdio>
#include <cstring>

namespace {
// Copies at most tamano - 1 characters and terminates.
void CopiaAcotada(char* destino, const char* origen, size_t tamano) {
    if (!destino || tamano == 0) return;
    size_t n = strnlen(origen, tamano - 1);
    memcpy(destino, origen, n);
    destino[n] = '\0';
}
}  // namespace

int SacaNumeroUri(const char* uri, char* destino, int maximo) {
    if (!uri || !destino || maximo <= 0) return -1;
    if (strncmp(uri, "sip:", 4) == 0) uri += 4;
    else if (strncmp(uri, "<sip:", 5) == 0) uri += 5;
    int n = 0;
    while (n < maximo && uri[n] != '\0' && uri[n] != '@') {
        char c = uri[n];
        if (c >= 'a' && c <= 'd') c = static_cast<char>(c - 'a' + 'A');
        bool valido = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'D') || c == '#' || c == '*' || c == ',' || c == 'p';
        if (!valido) return -1;
        destino[n++] = c;
    }
    if (n == 0) return -1;
    destino[n] = '\0';
    return n;
}

void SacaDominioUri(const char* uri, char* destino, size_t tamano) {
    if (!uri || uri[0] == '\0' || !destino) return;
    const char* arroba = strchr(uri, '@');
    CopiaAcotada(destino, arroba ? arroba + 1 : uri, tamano);
    printf("SACA dominio URI %s\n", destino);
}

int SacaUltimoOcteto(const char* texto, char* destino, size_t tamano) {
    if (!texto || texto[0] == '\0') return -1;
    const char* p = texto;
    for (int i = 0; i < 3; i++) {
        p = strchr(p, '.');
        if (!p) return -1;
        p++;
    }
    CopiaAcotada(destino, p, tamano);
    return 0;
}
