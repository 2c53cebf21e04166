#include "sip/encaminauri.h"

#include <arpa/inet.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

#include "comun/cdireccionip.h"
#include "comun/cficheroini.h"
#include "comun/interfazred.h"
#include "red/tcpcons.h"

const char* const FicheroEncamina = "encamina.ini";

namespace {
const uint32_t kTrazaDebug = 0x8000;
const int32_t kAbonadoAts = 3;
const size_t kLonNombre = 64;  // names and addresses of the plans

std::atomic<cfgConfigPasarela*> gpsConfig{nullptr};

void Copia(char* szDestino, const char* szOrigen, size_t uiMax, size_t uiTam) {
    std::snprintf(szDestino, uiTam, "%.*s", static_cast<int>(uiMax), szOrigen);
}

// A name field of the plans (64 characters, maybe unterminated) equal to a text.
bool IgualNombre(const char* acCampo, const char* szTexto) {
    return strnlen(szTexto, kLonNombre + 1) <= kLonNombre && std::strncmp(acCampo, szTexto, kLonNombre) == 0;
}

// The value of a key of encamina.ini cut at its ";"; false when absent, empty or without ";".
bool ValorEncamina(const char* szSeccion, const char* szClave, std::string* psValor) {
    CFicheroIni oIni;
    oIni.Lee(FicheroEncamina);
    const std::string s = oIni.DameValor(szSeccion, szClave, "");
    const size_t fin = s.find(';');
    if (fin == std::string::npos || fin == 0) return false;
    *psValor = s.substr(0, fin);
    return true;
}
}  // namespace

void sipFijaConfig(cfgConfigPasarela* psConfig) { gpsConfig = psConfig; }
cfgConfigPasarela* sipDameConfig() { return gpsConfig; }

int sipModoSistema() {
    cfgConfigPasarela* c = gpsConfig;
    if (!c) return 0;
    cfgCerrojo l(&c->tMutex);
    return c->iCfgModoSistema;
}

int BuscaDireccionPorNombre(const char* szNombre, char* szDireccion) {
    cfgConfigPasarela* c = gpsConfig;
    if (!c || !szNombre || !szDireccion) return -1;
    cfgCerrojo l(&c->tMutex);
    if (c->iCfgModoSistema != 0) {
        Copia(szDireccion, c->szDirVirtual, kLonNombre, kLonNombre + 1);
        return 0;
    }
    for (const DireccionIp& d : c->asDireccionamientoIp) {
        if (!IgualNombre(d.idhost, szNombre)) continue;
        if (d.dirip1[0] == '\0') return -1;
        Copia(szDireccion, d.dirip1, sizeof d.dirip1, kLonNombre + 1);
        return 0;
    }
    return -1;
}

int BuscaDireccionUsuario(const char* szNombre, char* szDireccion) {
    if (sipModoSistema() != 0) return -1;
    char acAsignado[kLonNombre + 1];
    if (BuscaNombreAsignado(szNombre, acAsignado) != 0) return -1;
    return BuscaDireccionPorNombre(acAsignado, szDireccion);
}

int BuscaNombreAsignado(const char* szNombre, char* szAsignado) {
    cfgConfigPasarela* c = gpsConfig;
    if (!c || !szNombre || szNombre[0] == '\0' || !szAsignado) return -1;
    cfgCerrojo l(&c->tMutex);
    for (const AsignacionUsuario& a : c->asAsignacionUsuarios) {
        if (IgualNombre(a.idusuario, szNombre)) {
            Copia(szAsignado, a.idhost, sizeof a.idhost, kLonNombre + 1);
            return 0;
        }
    }
    for (const AsignacionRecurso& a : c->asAsignacionRecursos) {
        if (IgualNombre(a.idrecurso, szNombre)) {
            Copia(szAsignado, a.idhost, sizeof a.idhost, kLonNombre + 1);
            return 0;
        }
    }
    return -1;
}

int BuscaNumeroSip(const char* szNombre, char* szNumero) {
    cfgConfigPasarela* c = gpsConfig;
    if (!c || !szNombre || !szNumero) return -1;
    cfgCerrojo l(&c->tMutex);
    for (const DireccionSip& d : c->asDireccionamientoSip) {
        if (d.idusuario[0] == '\0') break;
        if (!IgualNombre(d.idusuario, szNombre)) continue;
        const Abonado& a = d.abonados[0];
        if (a.iPrefijo == CFG_FIN_ABONADOS) return -1;
        Copia(szNumero, a.szNumero, sizeof a.szNumero, sizeof a.szNumero + 1);
        return 0;
    }
    return -1;
}

int BuscaRecursoPorNumeroAts(char* szNombre, const char* szNumero) {
    cfgConfigPasarela* c = gpsConfig;
    if (!c || !szNombre || !szNumero) return -1;
    cfgCerrojo l(&c->tMutex);
    for (const DireccionSip& d : c->asDireccionamientoSip) {
        if (d.idusuario[0] == '\0') break;
        for (const Abonado& a : d.abonados) {
            if (a.iPrefijo == CFG_FIN_ABONADOS) break;
            // ATS numbers have six digits.
            if (a.iPrefijo == kAbonadoAts && std::strncmp(a.szNumero, szNumero, 6) == 0) {
                Copia(szNombre, d.idusuario, sizeof d.idusuario, kLonNombre + 1);
                return 0;
            }
        }
    }
    return -1;
}

uint32_t DameIpPropia(const char*) {
    cfgConfigPasarela* c = gpsConfig;
    if (!c) return 0;
    char acVirtual[kLonNombre + 1];
    {
        cfgCerrojo l(&c->tMutex);
        Copia(acVirtual, c->szDirVirtual, kLonNombre, sizeof acVirtual);
    }
    CDireccionIp o;
    return o.TomaTexto(acVirtual) == 0 ? o.direccion : 0;
}

int DameUriPropia(const char* szUsuario, char* szUri) {
    cfgConfigPasarela* c = gpsConfig;
    if (!c || !szUsuario || !szUri) return -1;
    CDireccionIp oPropia;
    oPropia.TomaValor(DameIpPropia(nullptr));
    char acOtra[kLonNombre + 1];
    {
        cfgCerrojo l(&c->tMutex);
        const bool bSoyCpu0 = std::strncmp(oPropia.texto, c->szDirCPU0, kLonNombre) == 0;
        Copia(acOtra, bSoyCpu0 ? c->szDirCPU1 : c->szDirCPU0, kLonNombre, sizeof acOtra);
    }
    if (acOtra[0] == '\0') return -1;
    std::snprintf(szUri, 81, "sip:%s@%s", szUsuario, acOtra);
    return 0;
}

int EsDireccionCpu0Distinta() {
    cfgConfigPasarela* c = gpsConfig;
    CDireccionIp o;
    o.TomaValor(ntohl(DameIpInterfaz("eth0")));
    if (!c) return 1;
    cfgCerrojo l(&c->tMutex);
    return std::strncmp(o.texto, c->szDirCPU0, kLonNombre) != 0 ? 1 : 0;
}

int BuscaUriAts(const char* szNumero, char* szUri, size_t uiTam) {
    if (!szNumero || !szUri || uiTam == 0) return -1;
    TcpCons::Traza(kTrazaDebug, " busca URI para numero ATS %s\n", szNumero);
    std::string s;
    if (!ValorEncamina("ATS-SIP", szNumero, &s)) return -1;
    Copia(szUri, s.c_str(), uiTam - 1, uiTam);
    TcpCons::Traza(kTrazaDebug, "La URI es %s\n", szUri);
    return 0;
}

int BuscaRecursoAts(const char* szNumero, char* szRecursos, size_t uiTam) {
    if (!szNumero || !szRecursos || uiTam == 0) return 0;
    TcpCons::Traza(kTrazaDebug, " busca RECURSO para numero ATS %s\n", szNumero);
    std::string s;
    if (!ValorEncamina("SIP-ATS", szNumero, &s)) return 0;
    Copia(szRecursos, s.c_str(), uiTam - 1, uiTam);
    TcpCons::Traza(kTrazaDebug, "El recurso es %s\n", szRecursos);
    int n = 1;
    for (char ch : s)
        if (ch == ',') n++;
    return n;
}

int BuscaURIDefecto(char* szUri, size_t uiTam) {
    if (!szUri || uiTam == 0) return -1;
    TcpCons::Traza(kTrazaDebug, " busca URI de defecto\n");
    std::string s;
    if (!ValorEncamina("ATS-SIP", "URIdefault", &s)) return -1;
    Copia(szUri, s.c_str(), uiTam - 1, uiTam);
    TcpCons::Traza(kTrazaDebug, "La URI de defecto es %s\n", szUri);
    return 0;
}

int EsUriSip(const char* szTexto) { return szTexto && std::strstr(szTexto, "sip:") ? 0 : -1; }
int EsUriTel(const char* szTexto) { return szTexto && std::strstr(szTexto, "tel:") ? 0 : -1; }

int SacaNumeroTel(const char* szTexto, char* szNumero, size_t uiTam) {
    if (!szTexto || !szNumero || uiTam == 0) return -1;
    if (std::strncmp(szTexto, "tel:", 4) == 0)
        szTexto += 4;
    else if (std::strncmp(szTexto, "<tel:", 5) == 0)
        szTexto += 5;
    size_t n = 0;
    while (n + 1 < uiTam && szTexto[n] >= '0' && szTexto[n] <= '9') {
        szNumero[n] = szTexto[n];
        n++;
    }
    szNumero[n] = '\0';
    return n > 0 ? static_cast<int>(n) : -1;
}

void SacaUsuarioUri(char* szUri) {
    if (!szUri || szUri[0] == '\0') return;
    // From the seventh character: past "sip:" and at least one character of the user, so the
    // scheme's own ":" is not taken for a port.
    char* p = szUri;
    if (std::strstr(szUri, "sip:")) p += strnlen(szUri, 6);
    char* f = std::strchr(p, ':');
    if (!f) f = std::strchr(p, ';');
    if (f) *f = '\0';
}

int CopiaUsuarioUri(const char* szUri, char* szUsuario) {
    if (!szUri || !szUsuario) return -1;
    const char* p = std::strstr(szUri, "sip:");
    p = p ? p + 4 : szUri;
    size_t i = 0;
    while (p[i] && p[i] != '@' && i < 59) {
        szUsuario[i] = p[i];
        ++i;
    }
    szUsuario[i] = '\0';
    return 0;
}

int ComparaUri(const char* szUri1, const char* szUri2) {
    if (!szUri1 || !szUri2) return -1;
    std::printf("Compara uri1=%s uri2=%s\n", szUri1, szUri2);
    if (EsUriSip(szUri1) != 0 || EsUriSip(szUri2) != 0 || std::strcmp(szUri1, szUri2) != 0) return -1;
    std::printf("son igualees\n");
    return 0;
}
