// Exceptions of the socket classes: the name of the failing operation and a number,
// turned into a readable message only when someone asks for it.
#pragma once

#include <stdexcept>
#include <string>

class win_error : public std::runtime_error {
public:
    win_error(int iNumero, const std::string& sTexto);
    explicit win_error(const std::string& sTexto);

    // "<source>(<number>) <text>: <system text of the number>", built once.
    const char* what() const noexcept override;
    virtual const char* source() const noexcept { return "LINUX"; }
    int error() const noexcept { return iError; }

private:
    int iError;
    mutable std::string sMensaje;  // empty until the first what()
};
