#include "red/win_error.h"

#include <cstring>

win_error::win_error(int iNumero, const std::string& sTexto) : std::runtime_error(sTexto), iError(iNumero) {}

win_error::win_error(const std::string& sTexto) : win_error(0, sTexto) {}

const char* win_error::what() const noexcept {
    if (!sMensaje.empty()) return sMensaje.c_str();
    try {
        char acSistema[256];
        // GNU strerror_r: thread-safe, may return a static text instead of filling the buffer.
        const char* pSistema = strerror_r(iError, acSistema, sizeof acSistema);
        sMensaje = std::string(source()) + "(" + std::to_string(iError) + ") " + std::runtime_error::what() +
                   ": " + pSistema;
    } catch (...) {
        return "error on error";
    }
    return sMensaje.c_str();
}
