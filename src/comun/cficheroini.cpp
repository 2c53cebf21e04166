#include "comun/cficheroini.h"

#include <cctype>
#include <fstream>

#include "comun/nlog.h"

namespace {
// Longest line taken; a longer one is skipped whole.
const size_t kMaxLinea = 499;
}  // namespace

bool CFicheroIni::Menor::operator()(const std::string& a, const std::string& b) const {
    size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; i++) {
        int ca = toupper(static_cast<unsigned char>(a[i]));
        int cb = toupper(static_cast<unsigned char>(b[i]));
        if (ca != cb) return ca < cb;
    }
    return a.size() > b.size();
}

void CFicheroIni::Lee(const std::string& ruta) {
    mSecciones.clear();
    std::ifstream f(ruta, std::ios::binary);
    if (!f) return;
    std::string seccion;
    std::string linea;
    while (std::getline(f, linea)) {
        size_t cr = linea.find('\r');
        if (cr != std::string::npos) linea.resize(cr);
        if (linea.size() > kMaxLinea) {
            NLOG::Log(NLOG::ERROR, "CFicheroIni: linea de mas de %zu caracteres ignorada en %s", kMaxLinea,
                      ruta.c_str());
            continue;
        }
        if (linea.empty()) continue;
        size_t cierre = linea.rfind(']');
        if (linea[0] == '[' && cierre != std::string::npos) {
            seccion = linea.substr(1, cierre - 1);
            PonValor(seccion, nullptr, "");
            continue;
        }
        size_t igual = linea.find('=');
        if (igual == std::string::npos)
            PonValor(seccion, linea.c_str(), "");
        else
            PonValor(seccion, linea.substr(0, igual).c_str(), linea.substr(igual + 1));
    }
}

std::string CFicheroIni::DameValor(const std::string& seccion, const std::string& clave,
                                   const std::string& defecto) const {
    auto s = mSecciones.find(seccion);
    if (s == mSecciones.end()) return defecto;
    auto c = s->second.find(clave);
    if (c == s->second.end()) return defecto;
    return c->second;
}

void CFicheroIni::PonValor(const std::string& seccion, const char* clave, const std::string& valor) {
    Claves& claves = mSecciones[seccion];
    if (!clave) return;
    // Erase first, so the key takes the spelling of this call.
    claves.erase(clave);
    claves.emplace(clave, valor);
}

void CFicheroIni::BorraValor(const std::string& seccion, const std::string& clave) {
    auto s = mSecciones.find(seccion);
    if (s != mSecciones.end()) s->second.erase(clave);
}

void CFicheroIni::Escribe(const std::string& ruta) const {
    std::ofstream f(ruta, std::ios::binary | std::ios::trunc);
    if (!f) return;
    auto escribeClaves = [&f](const Claves& claves) {
        for (const auto& c : claves) {
            f << c.first;
            if (!c.second.empty()) f << '=' << c.second;
            f << '\n';
        }
    };
    // The unnamed section sorts last but must be written first: after a header its keys
    // would read back into that section.
    auto sinNombre = mSecciones.find("");
    if (sinNombre != mSecciones.end()) escribeClaves(sinNombre->second);
    for (const auto& s : mSecciones) {
        if (s.first.empty()) continue;
        f << "\n[" << s.first << "]\n";
        escribeClaves(s.second);
    }
}
