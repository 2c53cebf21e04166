// INI-style text file held in memory: sections of key/value pairs, read from disk,
// looked up with a default, changed, and written back whole.
#pragma once

#include <map>
#include <string>

class CFicheroIni {
public:
    // Case-insensitive order of section names and keys; of two names where one is a
    // prefix of the other, the longer sorts first (KLM before KL).
    struct Menor {
        bool operator()(const std::string& a, const std::string& b) const;
    };
    typedef std::map<std::string, std::string, Menor> Claves;
    typedef std::map<std::string, Claves, Menor> Secciones;

    // Empties the object and reads the file at ruta (nothing when it cannot be opened).
    void Lee(const std::string& ruta);
    // Value of clave in seccion, or defecto when either is missing.
    std::string DameValor(const std::string& seccion, const std::string& clave, const std::string& defecto) const;
    // Creates the section when missing; with clave null only that. Otherwise replaces any
    // entry of clave (whatever its case) by clave=valor.
    void PonValor(const std::string& seccion, const char* clave, const std::string& valor);
    void BorraValor(const std::string& seccion, const std::string& clave);
    // Writes every section and key to ruta, replacing its contents.
    void Escribe(const std::string& ruta) const;

    const Secciones& DameSecciones() const { return mSecciones; }

private:
    Secciones mSecciones;
};
