// Printf-like console stand-in for the tests: collects what a class prints.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

inline std::string& SalidaCapturada() {
    static std::string s;
    return s;
}

inline int CapturaSalida(const char* formato, ...) {
    char buf[512];
    va_list ap;
    va_start(ap, formato);
    int n = vsnprintf(buf, sizeof buf, formato, ap);
    va_end(ap);
    SalidaCapturada() += buf;
    return n;
}
