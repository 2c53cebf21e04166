#include "nombrehost.h"

#include <arpa/inet.h>

#include <cctype>
#include <string>

bool EsDireccionOHost(const char* szTexto, std::size_t iMax) {
    std::string s;
    for (std::size_t i = 0; i < iMax && szTexto[i] != '\0'; i++) s += szTexto[i];
    if (s.empty() || s.size() > 253) return false;
    in_addr a;
    if (inet_pton(AF_INET, s.c_str(), &a) == 1) return true;
    bool bSoloDigitos = true;
    std::size_t iLargo = 0;
    char cPrevio = '.';
    for (char c : s) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '.') {
            if (iLargo == 0 || cPrevio == '-') return false;
            iLargo = 0;
        } else if (std::isalnum(u) || c == '-') {
            if (iLargo == 0 && c == '-') return false;
            if (++iLargo > 63) return false;
            if (!std::isdigit(u)) bSoloDigitos = false;
        } else {
            return false;
        }
        cPrevio = c;
    }
    // A trailing dot or dash, and a text of digits that is no IPv4 address, are refused.
    return iLargo != 0 && cPrevio != '-' && !bSoloDigitos;
}
