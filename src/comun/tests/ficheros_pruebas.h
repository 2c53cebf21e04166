// Test helpers: whole files written and read back as bytes.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

namespace ficheros_pruebas {

inline void Escribe(const std::string& ruta, const std::string& contenido) {
    std::ofstream f(ruta, std::ios::binary | std::ios::trunc);
    f << contenido;
}

inline std::string LeeTodo(const std::string& ruta) {
    std::ifstream f(ruta, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

}  // namespace ficheros_pruebas
