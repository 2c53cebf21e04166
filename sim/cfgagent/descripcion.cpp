#include "descripcion.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <vector>

#include "comun/cficheroini.h"

namespace {

// How a field is written in the description.
enum Tipo {
    I32,       // decimal
    U32,       // decimal
    U8,        // decimal
    CAR,       // one character
    TEXTO,     // text of a field of n bytes
    DIG6,      // 6 digits without terminator
    RANGO6,    // "desde-hasta", 6 digits each (12 bytes)
    PARES,     // n pairs of i32 "a-b a-b ..."
    ENTEROS,   // n i32 "a b c ..."
    RANGOATS,  // Rango: "desde-hasta-prefijo-numero"
    RUTA,      // Ruta: "tipo:T1,T2,..."
    MIEMBRO,   // Miembro: "tipo:id"
    ABONADO,   // Abonado: "prefijo:numero"
};

struct Campo {
    std::string nombre;
    std::size_t ofs;
    Tipo tipo;
    std::size_t n;
};

typedef std::vector<Campo> Tabla;

void Pon(Tabla& t, const std::string& nombre, std::size_t ofs, Tipo tipo, std::size_t n = 0) {
    t.push_back({nombre, ofs, tipo, n});
}

std::string Num(int i) { return std::to_string(i); }

// num fields named nombre0, nombre1 ... paso bytes apart.
void PonLista(Tabla& t, const std::string& nombre, std::size_t ofs, std::size_t paso, int num, Tipo tipo,
              std::size_t n) {
    for (int i = 0; i < num; i++) Pon(t, nombre + Num(i), ofs + i * paso, tipo, n);
}

#define OFS(tipo, campo) offsetof(tipo, campo)
#define TXT(t, tipo, campo) Pon(t, #campo, OFS(tipo, campo), TEXTO, sizeof(tipo::campo))
#define ENT(t, tipo, campo) Pon(t, #campo, OFS(tipo, campo), I32)

const Tabla& TablaGeneral() {
    static Tabla t;
    if (!t.empty()) return t;
    typedef cfgImagenPasarela G;
    TXT(t, G, acIdSistema);
    TXT(t, G, szNombre);
    TXT(t, G, szDirCPU0);
    TXT(t, G, szDirCPU1);
    TXT(t, G, szDirVirtual);
    TXT(t, G, szDirSrvConfig);
    ENT(t, G, iCfgModoSistema);
    ENT(t, G, iNivelConsola);
    ENT(t, G, iPuertoConsola);
    ENT(t, G, iNivelIncidencias);
    ENT(t, G, iDual);
    TXT(t, G, acIdConfig);
    ENT(t, G, iModoSincronizacion);
    ENT(t, G, iSipPuertoLocal);
    ENT(t, G, iSipPeriodoSuperv);
    ENT(t, G, iSnmpPuertoRemoto);
    ENT(t, G, iRecPuertoRemoto);
    ENT(t, G, iNumRecursos);
    PonLista(t, "acTipoSlot", OFS(G, acTipoSlot), 1, 4, U8, 0);
    Pon(t, "LocalizadorRecurso", OFS(G, LocalizadorRecurso), PARES, CFG_NUM_RECURSOS);
    PonLista(t, "szDirSipRegistrar", OFS(G, szDirSipRegistrar), 64, 3, TEXTO, 64);
    PonLista(t, "szDirSipProxy", OFS(G, szDirSipProxy), 64, 3, TEXTO, 64);
    PonLista(t, "szDirSrvNtp", OFS(G, szDirSrvNtp), 64, 3, TEXTO, 64);
    TXT(t, G, acGrupoMulticast);
    Pon(t, "uiPuertoMulticast", OFS(G, uiPuertoMulticast), U32);
    return t;
}

const Tabla& TablaComun() {
    static Tabla t;
    if (!t.empty()) return t;
    typedef cfgConfigRecurso R;
    TXT(t, R, nombre);
    ENT(t, R, iTipoIf);
    ENT(t, R, iTipo);
    ENT(t, R, iSlot);
    ENT(t, R, iDispositivo);
    TXT(t, R, szDestino);
    ENT(t, R, iCfgModoSistema);
    ENT(t, R, iFlgUsarDiffServ);
    ENT(t, R, iSnmpPuertoRemoto);
    ENT(t, R, iRecPuertoRemoto);
    ENT(t, R, iRecPuertoBase);
    ENT(t, R, iEnableGI);
    TXT(t, R, szUriLocal);
    ENT(t, R, iLLamadaAutomatica);
    ENT(t, R, iRestriccion);
    PonLista(t, "listablanca", OFS(R, listablanca), 81, 8, TEXTO, 81);
    PonLista(t, "listanegra", OFS(R, listanegra), 81, 8, TEXTO, 81);
    ENT(t, R, iEnableRegistro);
    TXT(t, R, szClave);
    const std::size_t c = OFS(R, sColateral);
    Pon(t, "iRespuestaAutomatica", c + OFS(cfgColateral, iRespuestaAutomatica), I32);
    Pon(t, "szUriRemota", c + OFS(cfgColateral, szUriRemota), TEXTO, 84);
    Pon(t, "isuperv_options", c + OFS(cfgColateral, isuperv_options), I32);
    Pon(t, "itm_superv_options", c + OFS(cfgColateral, itm_superv_options), I32);
    Pon(t, "iColateralSCV", c + OFS(cfgColateral, iColateralSCV), I32);
    ENT(t, R, size_aListaEnlacesExternos);
    PonLista(t, "aListaEnlacesExternos", OFS(R, aListaEnlacesExternos), 65, CFG_MAX_ENLACES_EXTERNOS, TEXTO, 65);
    const char* const audio[] = {"iSelGananciaAgcTx", "iGananciaAgcTx", "iSelGananciaAgcRx",
                                 "iGananciaAgcRx",    "iHaySupresionSilencio", "iTamanoRtp",
                                 "iCodecPreferido",   "iBufferJitterMin",      "iBufferJitterMax"};
    for (int i = 0; i < 9; i++) Pon(t, audio[i], OFS(R, iSelGananciaAgcTx) + 4 * i, I32);
    return t;
}

const std::size_t P = offsetof(cfgConfigRecurso, uParam);

const Tabla& TablaRadio() {
    static Tabla t;
    if (!t.empty()) return t;
    typedef cfgParamRadio R;
    Pon(t, "iTipoRadio", P + OFS(R, iTipoRadio), I32);
    Pon(t, "cTipoPtt", P + OFS(R, cTipoPtt), CAR);
    Pon(t, "cTipoSq", P + OFS(R, cTipoSq), CAR);
    Pon(t, "iEyM", P + OFS(R, iEyM), U8);
    const char* const enteros[] = {"iUmbralDetSq", "iNivelTonoPtt", "iMetodoBss", "iNtz", "TiempoMaxPtt",
                                   "iSpvPortadoraTx", "iSpvModuladoraTx", "iModoConfPtt", "iPeriodoRtpSqBss",
                                   "iNumPaquetesSqOff", "iPttTimeOut", "iNumFlujosMezcla", "KeepAlivePeriod",
                                   "KeepAliveMultiplier", "iSessionPrio", "iPttPrio", "iPrecisionAudio",
                                   "iTiempoPttBloqueado", "iRetrasoPttOff", "iRetrasoSqOff", "iTiempo_VentanaRx",
                                   "iClimaxDelay", "iTmRetardoFijo", "iReservado", "iBssRtp"};
    for (std::size_t i = 0; i < sizeof enteros / sizeof enteros[0]; i++)
        Pon(t, enteros[i], P + OFS(R, iUmbralDetSq) + 4 * i, I32);
    Pon(t, "cTipoConmutacion", P + OFS(R, cTipoConmutacion), CAR);
    Pon(t, "iEvtPTT", P + OFS(R, iEvtPTT), I32);
    Pon(t, "iTjbd", P + OFS(R, iTjbd), I32);
    Pon(t, "iTGRSid", P + OFS(R, iTGRSid), I32);
    for (int e = 0; e < 4; e++) {
        const std::size_t b = P + OFS(R, asEmplazamiento) + e * sizeof(cfgEmplazamiento);
        const std::string n = "Emp" + Num(e) + ".";
        Pon(t, n + "UriTxA", b + OFS(cfgEmplazamiento, UriTxA), TEXTO, 81);
        Pon(t, n + "UriTxB", b + OFS(cfgEmplazamiento, UriTxB), TEXTO, 81);
        Pon(t, n + "ActivoTx", b + OFS(cfgEmplazamiento, ActivoTx), CAR);
        Pon(t, n + "UriRxA", b + OFS(cfgEmplazamiento, UriRxA), TEXTO, 81);
        Pon(t, n + "UriRxB", b + OFS(cfgEmplazamiento, UriRxB), TEXTO, 81);
        Pon(t, n + "ActivoRx", b + OFS(cfgEmplazamiento, ActivoRx), CAR);
    }
    return t;
}

const Tabla& TablaLcen() {
    static Tabla t;
    if (!t.empty()) return t;
    const char* const n[] = {"iUmbralRxTonoLcen", "iNivelTxTonoLcen", "iPeriodoRefrescoEstado", "iTimeoutEstado",
                             "iLongRafagas", "iT1", "iT1Max", "iT2", "iT2Max", "iT3", "iT4", "iT4Max", "iT5",
                             "iT5Max", "iT6", "iT6Max", "iT8", "iT8Max", "iT9", "iT9Max", "iT10", "iT10Max",
                             "iT11", "iT11Max", "iT12", "iT_Release"};
    for (std::size_t i = 0; i < sizeof n / sizeof n[0]; i++) Pon(t, n[i], P + 4 * i, I32);
    return t;
}

const Tabla& TablaTlf() {
    static Tabla t;
    if (!t.empty()) return t;
    const char* const n[] = {"iPatronRing", "iPeriodoRing", "iUmbralAltoPeriodoRing", "iUmbralBajoPeriodoRing",
                             "iVRing", "iVBat", "eTypeEyM", "iModoEyM", "iLadoEyM", "iDetectVox", "iUmbralVox",
                             "iTmInactividad"};
    for (std::size_t i = 0; i < sizeof n / sizeof n[0]; i++) Pon(t, n[i], P + 4 * i, I32);
    Pon(t, "szIdRed", P + OFS(cfgParamTlf, szIdRed), TEXTO, 33);
    return t;
}

const Tabla& TablaR2N5() {
    static Tabla t;
    if (!t.empty()) return t;
    typedef cfgParamR2N5 R;
    Pon(t, "iLado", P + OFS(R, iLado), I32);
    Pon(t, "aiTiempos", P + OFS(R, aiTiempos), ENTEROS, 50);
    Pon(t, "iT_Release", P + OFS(R, iT_Release), I32);
    Pon(t, "iT_Int_Warning", P + OFS(R, iT_Int_Warning), I32);
    Pon(t, "ntest_local", P + OFS(R, ntest_local), DIG6);
    Pon(t, "ntest_remoto", P + OFS(R, ntest_remoto), DIG6);
    PonLista(t, "RangoDst", P + OFS(R, asRangosDst), 12, 4, RANGO6, 0);
    PonLista(t, "RangoOrg", P + OFS(R, asRangosOrg), 12, 4, RANGO6, 0);
    Pon(t, "szIdTroncal", P + OFS(R, szIdTroncal), TEXTO, 33);
    Pon(t, "szIdRed", P + OFS(R, szIdRed), TEXTO, 33);
    Pon(t, "iNumRangosOperador", P + OFS(R, iNumRangosOperador), I32);
    Pon(t, "iNumRangosPrivilegiados", P + OFS(R, iNumRangosPrivilegiados), I32);
    Pon(t, "asMisRangosOperador", P + OFS(R, asMisRangosOperador), PARES, CFG_MAX_RANGOS_OPERADOR);
    Pon(t, "asMisRangosPrivilegiados", P + OFS(R, asMisRangosPrivilegiados), PARES, CFG_MAX_RANGOS_PRIVILEGIADOS);
    Pon(t, "iNumRangosDirectosOpe", P + OFS(R, iNumRangosDirectosOpe), I32);
    Pon(t, "iNumRangosDirectosPriv", P + OFS(R, iNumRangosDirectosPriv), I32);
    Pon(t, "asRangosDirectosOpe", P + OFS(R, asRangosDirectosOpe), PARES, CFG_MAX_RANGOS_DIRECTOS_OPE);
    Pon(t, "asRangosDirectosPriv", P + OFS(R, asRangosDirectosPriv), PARES, CFG_MAX_RANGOS_DIRECTOS_PRIV);
    return t;
}

const Tabla& TablaQsig() {
    static Tabla t;
    if (!t.empty()) return t;
    PonLista(t, "aiParam", P, 4, 2, I32, 0);
    return t;
}

const Tabla* TablaTipo(int iTipoIf) {
    switch (iTipoIf) {
    case TIPOIF_RADIO: return &TablaRadio();
    case TIPOIF_LCEN: return &TablaLcen();
    case TIPOIF_BC: case TIPOIF_BL: case TIPOIF_AB: case TIPOIF_EYM_PP: case TIPOIF_EYM_MARC:
    case TIPOIF_BL_EYM_AUTO: case TIPOIF_BL_EYM:
        return &TablaTlf();
    case TIPOIF_ATSR2: case TIPOIF_ATSN5: return &TablaR2N5();
    case TIPOIF_ATSQSIG: case TIPOIF_2BD: case TIPOIF_30BD: return &TablaQsig();
    default: return nullptr;
    }
}

const Tabla& TablaCentral() {
    static Tabla t;
    if (!t.empty()) return t;
    Pon(t, "centralpropia", OFS(Central, centralpropia), U8);
    Pon(t, "throwswitching", OFS(Central, throwswitching), U8);
    Pon(t, "no_test", OFS(Central, no_test), DIG6);
    PonLista(t, "RangoOpe", OFS(Central, asRangosOpe), sizeof(Rango), 16, RANGOATS, 0);
    PonLista(t, "RangoPriv", OFS(Central, asRangosPriv), sizeof(Rango), 8, RANGOATS, 0);
    PonLista(t, "Ruta", OFS(Central, asRutas), sizeof(Ruta), 32, RUTA, 0);
    return t;
}

const Tabla& TablaIp() {
    static Tabla t;
    if (!t.empty()) return t;
    TXT(t, DireccionIp, idhost);
    TXT(t, DireccionIp, dirip1);
    TXT(t, DireccionIp, dirip2);
    Pon(t, "tipo", OFS(DireccionIp, tipo), U8);
    return t;
}

const Tabla& TablaTroncal() {
    static Tabla t;
    if (!t.empty()) return t;
    TXT(t, Troncal, idtroncal);
    Pon(t, "no_test", OFS(Troncal, no_test), DIG6);
    PonLista(t, "Miembro", OFS(Troncal, miembros), sizeof(Miembro), 8, MIEMBRO, 0);
    return t;
}

const Tabla& TablaRed() {
    static Tabla t;
    if (!t.empty()) return t;
    TXT(t, Red, idred);
    Pon(t, "prefijo", OFS(Red, prefijo), I32);
    PonLista(t, "Miembro", OFS(Red, miembros), sizeof(Miembro), 128, MIEMBRO, 0);
    return t;
}

const Tabla& TablaUsuario() {
    static Tabla t;
    if (!t.empty()) return t;
    TXT(t, AsignacionUsuario, idusuario);
    TXT(t, AsignacionUsuario, idhost);
    return t;
}

const Tabla& TablaAsigRecurso() {
    static Tabla t;
    if (!t.empty()) return t;
    TXT(t, AsignacionRecurso, idrecurso);
    TXT(t, AsignacionRecurso, idhost);
    return t;
}

const Tabla& TablaSip() {
    static Tabla t;
    if (!t.empty()) return t;
    TXT(t, DireccionSip, idusuario);
    PonLista(t, "Abonado", OFS(DireccionSip, abonados), sizeof(Abonado), 32, ABONADO, 0);
    return t;
}

// ---- Values ----------------------------------------------------------------------------------

void Copia6(char* destino, const std::string& s) {
    char buf[6] = {};
    std::memcpy(buf, s.data(), s.size() < 6 ? s.size() : 6);
    std::memcpy(destino, buf, 6);
}

std::string Lee6(const char* p) { return std::string(p, strnlen(p, 6)); }

void CopiaTexto(char* destino, std::size_t n, const std::string& s) {
    std::memset(destino, 0, n);
    std::memcpy(destino, s.data(), s.size() < n ? s.size() : n);  // may fill the field
}

std::string LeeTexto(const char* p, std::size_t n) { return std::string(p, strnlen(p, n)); }

void PonI32(uint8_t* p, long v) {
    int32_t i = static_cast<int32_t>(v);
    std::memcpy(p, &i, 4);
}

int32_t DameI32(const uint8_t* p) {
    int32_t i;
    std::memcpy(&i, p, 4);
    return i;
}

// Splits "a<sep>b" once.
bool Parte(const std::string& s, char sep, std::string* a, std::string* b) {
    std::size_t k = s.find(sep);
    if (k == std::string::npos) return false;
    *a = s.substr(0, k);
    *b = s.substr(k + 1);
    return true;
}

bool PonValor(uint8_t* base, const Campo& c, const std::string& v, std::string* pError) {
    uint8_t* p = base + c.ofs;
    std::string a, b;
    switch (c.tipo) {
    case I32: case U32: PonI32(p, std::strtol(v.c_str(), nullptr, 0)); return true;
    case U8: *p = static_cast<uint8_t>(std::strtol(v.c_str(), nullptr, 0)); return true;
    case CAR: *p = v.empty() ? 0 : static_cast<uint8_t>(v[0]); return true;
    case TEXTO: CopiaTexto(reinterpret_cast<char*>(p), c.n, v); return true;
    case DIG6: Copia6(reinterpret_cast<char*>(p), v); return true;
    case RANGO6:
        if (!Parte(v, '-', &a, &b)) break;
        Copia6(reinterpret_cast<char*>(p), a);
        Copia6(reinterpret_cast<char*>(p) + 6, b);
        return true;
    case PARES: case ENTEROS: {
        std::memset(p, 0, (c.tipo == PARES ? 8 : 4) * c.n);  // a list replaces the whole list
        std::istringstream in(v);
        std::string par;
        std::size_t i = 0;
        const std::size_t max = c.tipo == PARES ? 2 * c.n : c.n;
        while (in >> par && i < max) {
            if (c.tipo == PARES) {
                if (!Parte(par, '-', &a, &b)) break;
                PonI32(p + 4 * i++, std::strtol(a.c_str(), nullptr, 0));
                PonI32(p + 4 * i++, std::strtol(b.c_str(), nullptr, 0));
            } else {
                PonI32(p + 4 * i++, std::strtol(par.c_str(), nullptr, 0));
            }
        }
        return true;
    }
    case RANGOATS: {
        std::string c1, c2, resto;
        Rango r{};
        if (!Parte(v, '-', &a, &resto) || !Parte(resto, '-', &b, &resto) || !Parte(resto, '-', &c1, &c2)) break;
        Copia6(r.desde, a);
        Copia6(r.hasta, b);
        r.abonado.iPrefijo = static_cast<uint32_t>(std::strtoul(c1.c_str(), nullptr, 0));
        CopiaTexto(r.abonado.szNumero, sizeof r.abonado.szNumero, c2);
        std::memcpy(p, &r, sizeof r);
        return true;
    }
    case RUTA: {
        Ruta r{};
        if (!Parte(v, ':', &a, &b)) break;
        r.tipo = static_cast<uint8_t>(std::strtol(a.c_str(), nullptr, 0));
        std::istringstream in(b);
        std::string id;
        for (int i = 0; i < 8 && std::getline(in, id, ','); i++) CopiaTexto(r.troncales[i], 64, id);
        std::memcpy(p, &r, sizeof r);
        return true;
    }
    case MIEMBRO: {
        Miembro m{};
        if (!Parte(v, ':', &a, &b)) break;
        m.tipo = static_cast<uint8_t>(std::strtol(a.c_str(), nullptr, 0));
        CopiaTexto(m.id, 64, b);
        std::memcpy(p, &m, sizeof m);
        return true;
    }
    case ABONADO: {
        Abonado ab{};
        if (!Parte(v, ':', &a, &b)) break;
        ab.iPrefijo = static_cast<uint32_t>(std::strtoul(a.c_str(), nullptr, 0));
        CopiaTexto(ab.szNumero, 20, b);
        std::memcpy(p, &ab, sizeof ab);
        return true;
    }
    }
    *pError = "valor mal formado para " + c.nombre + ": " + v;
    return false;
}

// The value as text; empty when there is nothing worth writing (empty entries of lists).
std::string DameValor(const uint8_t* base, const Campo& c) {
    const uint8_t* p = base + c.ofs;
    const char* t = reinterpret_cast<const char*>(p);
    std::string s;
    switch (c.tipo) {
    case I32: return std::to_string(DameI32(p));
    case U32: return std::to_string(static_cast<uint32_t>(DameI32(p)));
    case U8: return std::to_string(*p);
    case CAR: return *p ? std::string(1, static_cast<char>(*p)) : std::string();
    case TEXTO: return LeeTexto(t, c.n);
    case DIG6: return Lee6(t);
    case RANGO6: return t[0] ? Lee6(t) + "-" + Lee6(t + 6) : std::string();
    case PARES: case ENTEROS: {
        // Pairs up to the last one that is not zero.
        const std::size_t paso = c.tipo == PARES ? 2 : 1;
        std::size_t fin = 0;
        for (std::size_t i = 0; i < c.n * paso; i++)
            if (DameI32(p + 4 * i) != 0) fin = i / paso + 1;
        for (std::size_t i = 0; i < fin; i++) {
            if (!s.empty()) s += ' ';
            s += std::to_string(DameI32(p + 4 * paso * i));
            if (paso == 2) s += "-" + std::to_string(DameI32(p + 4 * (2 * i + 1)));
        }
        return s;
    }
    case RANGOATS: {
        Rango r;
        std::memcpy(&r, p, sizeof r);
        if (r.desde[0] == 0) return s;
        return Lee6(r.desde) + "-" + Lee6(r.hasta) + "-" + std::to_string(r.abonado.iPrefijo) + "-" +
               LeeTexto(r.abonado.szNumero, 20);
    }
    case RUTA: {
        Ruta r;
        std::memcpy(&r, p, sizeof r);
        int n = 0;
        for (int i = 0; i < 8; i++)
            if (r.troncales[i][0]) n = i + 1;
        s = std::to_string(r.tipo) + ":";
        for (int i = 0; i < n; i++) s += (i ? "," : "") + LeeTexto(r.troncales[i], 64);
        return s;
    }
    case MIEMBRO: {
        Miembro m;
        std::memcpy(&m, p, sizeof m);
        return m.id[0] ? std::to_string(m.tipo) + ":" + LeeTexto(m.id, 64) : s;
    }
    case ABONADO: {
        Abonado a;
        std::memcpy(&a, p, sizeof a);
        return std::to_string(a.iPrefijo) + ":" + LeeTexto(a.szNumero, 20);
    }
    }
    return s;
}

const Campo* Busca(const Tabla& t, const std::string& nombre) {
    for (const Campo& c : t)
        if (strcasecmp(c.nombre.c_str(), nombre.c_str()) == 0) return &c;
    return nullptr;
}

bool Aplica(uint8_t* base, const CFicheroIni::Claves& claves, const std::vector<const Tabla*>& tablas,
            const std::string& seccion, const std::set<std::string>& saltar, std::string* pError) {
    for (const auto& kv : claves) {
        if (saltar.count(kv.first)) continue;
        const Campo* c = nullptr;
        for (const Tabla* t : tablas)
            if (t && (c = Busca(*t, kv.first)) != nullptr) break;
        if (c == nullptr) {
            *pError = "[" + seccion + "]: campo desconocido " + kv.first;
            return false;
        }
        if (!PonValor(base, *c, kv.second, pError)) return false;
    }
    return true;
}

// "NOMBRE-<n>" with n in 0..max-1.
bool Indice(const std::string& seccion, const char* prefijo, int max, int* pIndice) {
    std::size_t l = std::strlen(prefijo);
    if (seccion.size() <= l + 1 || strncasecmp(seccion.c_str(), prefijo, l) != 0 || seccion[l] != '-') return false;
    char* fin = nullptr;
    long n = std::strtol(seccion.c_str() + l + 1, &fin, 10);
    if (*fin != '\0' || n < 0 || n >= max) return false;
    *pIndice = static_cast<int>(n);
    return true;
}

struct Plan {
    const char* prefijo;
    int num;
    std::size_t ofs;
    std::size_t tam;
    const Tabla& (*tabla)();
};

const Plan kPlanes[] = {
    {"CENTRAL", CFG_NUM_CENTRALES, offsetof(cfgImagenPasarela, asPlanAts), sizeof(Central), TablaCentral},
    {"IP", CFG_NUM_DIRECCIONES_IP, offsetof(cfgImagenPasarela, asDireccionamientoIp), sizeof(DireccionIp), TablaIp},
    {"TRONCAL", CFG_NUM_TRONCALES, offsetof(cfgImagenPasarela, asTroncales), sizeof(Troncal), TablaTroncal},
    {"RED", CFG_NUM_REDES, offsetof(cfgImagenPasarela, asRedes), sizeof(Red), TablaRed},
    {"USUARIO", CFG_NUM_ASIGNACIONES_USUARIO, offsetof(cfgImagenPasarela, asAsignacionUsuarios),
     sizeof(AsignacionUsuario), TablaUsuario},
    {"ASIGRECURSO", CFG_NUM_ASIGNACIONES_RECURSO, offsetof(cfgImagenPasarela, asAsignacionRecursos),
     sizeof(AsignacionRecurso), TablaAsigRecurso},
    {"SIP", CFG_NUM_DIRECCIONES_SIP, offsetof(cfgImagenPasarela, asDireccionamientoSip), sizeof(DireccionSip),
     TablaSip},
};

// End markers after the last entry given, and inside each entry after its last list item.
void MarcaFinPlan(cfgImagenPasarela* img, const Plan& plan, int iNum) {
    if (iNum >= plan.num) return;
    if (std::strcmp(plan.prefijo, "CENTRAL") == 0) img->asPlanAts[iNum].centralpropia = CFG_FIN_PLAN_ATS;
    if (std::strcmp(plan.prefijo, "RED") == 0) img->asRedes[iNum].prefijo = CFG_FIN_PLAN_REDES;
}

bool EsPlanEntradaUsada(const std::string& prefijo, const uint8_t* p) {
    if (prefijo == "CENTRAL") return p[0] != CFG_FIN_PLAN_ATS;
    if (prefijo == "RED") return DameI32(p + offsetof(Red, prefijo)) != CFG_FIN_PLAN_REDES;
    return p[0] != 0;  // the key text
}

}  // namespace

bool LeeDescripcion(const std::string& ruta, cfgConfigPasarela* pCfg, std::string* pError) {
    FILE* f = std::fopen(ruta.c_str(), "r");
    if (f == nullptr) {
        *pError = "no se puede leer " + ruta;
        return false;
    }
    std::fclose(f);
    CFicheroIni ini;
    ini.Lee(ruta);
    uint8_t* base = reinterpret_cast<uint8_t*>(static_cast<cfgImagenPasarela*>(pCfg));
    std::map<int, const CFicheroIni::Claves*> recursos;
    std::map<std::string, int> numPlan;
    for (const auto& s : ini.DameSecciones()) {
        const std::string& nombre = s.first;
        int i = 0;
        if (nombre.empty() && s.second.empty()) continue;
        if (strcasecmp(nombre.c_str(), "GENERAL") == 0) continue;
        if (Indice(nombre, "RECURSO", CFG_NUM_RECURSOS, &i)) {
            recursos[i] = &s.second;
            continue;
        }
        bool bPlan = false;
        for (const Plan& plan : kPlanes) {
            if (!Indice(nombre, plan.prefijo, plan.num, &i)) continue;
            uint8_t* entrada = base + plan.ofs + i * plan.tam;
            std::memset(entrada, 0, plan.tam);
            if (!Aplica(entrada, s.second, {&plan.tabla()}, nombre, {}, pError)) return false;
            int& n = numPlan[plan.prefijo];
            n = std::max(n, i + 1);
            bPlan = true;
            break;
        }
        if (!bPlan) {
            *pError = "seccion desconocida [" + nombre + "]";
            return false;
        }
    }
    for (const Plan& plan : kPlanes)
        if (numPlan.count(plan.prefijo)) MarcaFinPlan(pCfg, plan, numPlan[plan.prefijo]);

    // Routes and SIP numbers end after the last one given.
    for (const auto& s : ini.DameSecciones()) {
        int i = 0;
        if (Indice(s.first, "CENTRAL", CFG_NUM_CENTRALES, &i)) {
            int n = 0;
            for (const auto& kv : s.second) {
                int r = 0;
                if (strncasecmp(kv.first.c_str(), "Ruta", 4) == 0 && std::sscanf(kv.first.c_str() + 4, "%d", &r) == 1)
                    n = std::max(n, r + 1);
            }
            if (n < 32) pCfg->asPlanAts[i].asRutas[n].tipo = CFG_FIN_RUTAS;
        } else if (Indice(s.first, "SIP", CFG_NUM_DIRECCIONES_SIP, &i)) {
            int n = 0;
            for (const auto& kv : s.second) {
                int a = 0;
                if (strncasecmp(kv.first.c_str(), "Abonado", 7) == 0 &&
                    std::sscanf(kv.first.c_str() + 7, "%d", &a) == 1)
                    n = std::max(n, a + 1);
            }
            if (n < 32) pCfg->asDireccionamientoSip[i].abonados[n].iPrefijo = CFG_FIN_ABONADOS;
        }
    }

    for (const auto& r : recursos) {
        const int iPos = r.first;
        cfgConfigRecurso& rec = pCfg->asRecursos[iPos];
        rec.iSlot = iPos / 4;
        rec.iDispositivo = iPos % 4;
        std::string tipoIf = ini.DameValor("RECURSO-" + std::to_string(iPos), "iTipoIf", "0");
        int iTipoIf = std::atoi(tipoIf.c_str());
        if (iTipoIf == TIPOIF_BL_EYM_AUTO || iTipoIf == TIPOIF_BL_EYM)
            cfgDefectoParteTipo(&rec, TIPOIF_BL);  // image-only types: BL lines in E&M mode
        else
            rec.PonTipoIf(iTipoIf);
        rec.iTipoIf = iTipoIf;  // stored as given, even out of range
        if (!Aplica(reinterpret_cast<uint8_t*>(&rec), *r.second, {&TablaComun(), TablaTipo(rec.iTipoIf)},
                    "RECURSO-" + std::to_string(iPos), {"iTipoIf"}, pError))
            return false;
    }
    // Channels: the RECURSO sections in order of position, unless GENERAL names them.
    pCfg->iNumRecursos = static_cast<int32_t>(recursos.size());
    std::memset(pCfg->LocalizadorRecurso, 0, sizeof pCfg->LocalizadorRecurso);
    int k = 0;
    for (const auto& r : recursos) {
        pCfg->LocalizadorRecurso[k].iSlot = r.first / 4;
        pCfg->LocalizadorRecurso[k].iDispositivo = r.first % 4;
        k++;
    }
    for (const auto& s : ini.DameSecciones())
        if (strcasecmp(s.first.c_str(), "GENERAL") == 0 && !Aplica(base, s.second, {&TablaGeneral()}, "GENERAL", {}, pError))
            return false;
    return true;
}

void EscribeDescripcion(const cfgImagenPasarela& img, std::ostream& o) {
    const uint8_t* base = reinterpret_cast<const uint8_t*>(&img);
    o << "[GENERAL]\n";
    for (const Campo& c : TablaGeneral()) o << c.nombre << "=" << DameValor(base, c) << "\n";

    // The records of configured positions, and any other that is not the default record.
    uint8_t aucFlg[CFG_NUM_RECURSOS];
    cfgMarcaPosiciones(&img, aucFlg);
    const cfgConfigRecurso defecto;
    for (int iPos = 0; iPos < CFG_NUM_RECURSOS; iPos++) {
        if (!aucFlg[iPos] && std::memcmp(&img.asRecursos[iPos], &defecto, sizeof defecto) == 0) continue;
        const cfgConfigRecurso& r = img.asRecursos[iPos];
        const uint8_t* pr = reinterpret_cast<const uint8_t*>(&r);
        o << "\n[RECURSO-" << iPos << "]\n";
        for (const Tabla* t : {&TablaComun(), TablaTipo(r.iTipoIf)}) {
            if (t == nullptr) continue;
            for (const Campo& c : *t) {
                std::string v = DameValor(pr, c);
                bool bLista = c.tipo == RANGO6 || (c.tipo == TEXTO && std::isdigit(static_cast<unsigned char>(c.nombre.back())));
                if (bLista && v.empty()) continue;  // empty list entries are the default
                o << c.nombre << "=" << v << "\n";
            }
        }
    }

    for (const Plan& plan : kPlanes) {
        for (int i = 0; i < plan.num; i++) {
            const uint8_t* entrada = base + plan.ofs + i * plan.tam;
            if (!EsPlanEntradaUsada(plan.prefijo, entrada)) break;
            o << "\n[" << plan.prefijo << "-" << i << "]\n";
            for (const Campo& c : plan.tabla()) {
                const uint8_t* p = entrada + c.ofs;
                // Lists stop at their end marker.
                if (c.tipo == RUTA && p[0] == CFG_FIN_RUTAS) break;
                if (c.tipo == ABONADO && DameI32(p) == static_cast<int32_t>(CFG_FIN_ABONADOS)) break;
                std::string v = DameValor(entrada, c);
                if ((c.tipo == RANGOATS || c.tipo == MIEMBRO) && v.empty()) continue;
                o << c.nombre << "=" << v << "\n";
            }
        }
    }
}
