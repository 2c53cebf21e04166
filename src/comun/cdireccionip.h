// IPv4 address value with its dotted text.
#pragma once

#include <cstdint>

class CDireccionIp {
public:
    CDireccionIp();

    // Stores the address (host order) and formats texto.
    void TomaValor(uint32_t direccion);
    // Parses "%d.%d.%d.%d"; returns 0, or -1 (value unchanged) when the text does not hold
    // four numbers of 0 to 255.
    int TomaTexto(const char* texto);

    uint32_t direccion;  // host order
    char texto[16];
};
