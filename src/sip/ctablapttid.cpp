#include "sip/ctablapttid.h"

#include <cstdio>
#include <cstring>

#include "comun/uri.h"

namespace {
// Network part of a URI's host: the host (after "@", at most 18 characters) up to and including
// its third ".", within its first 20 characters. Its length, or 0 when the host has fewer dots.
size_t RedDe(const char* szUri, char* szHost, size_t uiTam) {
    szHost[0] = '\0';
    SacaDominioUri(szUri, szHost, uiTam);
    int puntos = 0;
    for (size_t i = 0; i < 20 && szHost[i]; ++i)
        if (szHost[i] == '.' && ++puntos == 3) return i + 1;
    return 0;
}
}  // namespace

CTablaPttId::CTablaPttId() { Inicia(); }

void CTablaPttId::Inicia() {
    acNombre[0] = '\0';
    iTamano = MAX_PTT_ID;
    for (int i = 0; i < MAX_PTT_ID; ++i) {
        aiId[i] = 0;
        aacUri[i][0] = '\0';
    }
}

void CTablaPttId::FijaTamano(int n) {
    if (n < 16) iTamano = n;
}

int CTablaPttId::BuscaPorNombre(const char* szUri) const {
    for (int i = 0; i < Usables(); ++i)
        if (aiId[i] > 0 && std::strncmp(aacUri[i], szUri, LON_URI) == 0) return aiId[i];
    return -1;
}

int CTablaPttId::Anade(const char* szUri) {
    int id = BuscaPorNombre(szUri);
    if (id > 0) return id;
    for (int i = 0; i < Usables(); ++i) {
        if (aiId[i] == 0) {
            aiId[i] = i + 1;
            std::snprintf(aacUri[i], sizeof aacUri[i], "%s", szUri);
            return aiId[i];
        }
    }
    return 0;
}

// By the id's own slot, not a search: an id held beyond a size lowered under a live session
// is still freed, so it does not come back held when the size grows again.
int CTablaPttId::BorraId(int iId) {
    if (iId < 1 || iId > MAX_PTT_ID || aiId[iId - 1] == 0) return -1;
    aiId[iId - 1] = 0;
    aacUri[iId - 1][0] = '\0';
    return 0;
}

int CTablaPttId::BorraNombre(const char* szUri) {
    int id = BuscaPorNombre(szUri);
    return id > 0 ? BorraId(id) : -1;
}

void CTablaPttId::Vuelca(char* szTexto) const {
    for (int i = 0; i < Usables(); ++i) {
        if (aiId[i] == 0) continue;
        char linea[80];
        std::snprintf(linea, sizeof linea, "%d,%.64s\r\n", aiId[i], aacUri[i]);
        std::strcat(szTexto, linea);
    }
}

int CTablaPttId::BuscaPorIp(const char* szUri) const {
    if (!szUri) return -1;
    char h[LON_DOMINIO_URI + 1];
    // The dot is compared too: network 192.168.2 is not 192.168.20.
    const size_t n = RedDe(szUri, h, sizeof h);
    if (n == 0) return -1;
    for (int i = 0; i < Usables(); ++i) {
        if (aiId[i] == 0) continue;
        char o[LON_DOMINIO_URI + 1];
        if (RedDe(aacUri[i], o, sizeof o) == n && std::strncmp(o, h, n) == 0) return aiId[i];
    }
    return -1;
}

void CTablaPttId::FijaNombre(const char* szNombre) {
    std::snprintf(acNombre, sizeof acNombre, "%s", szNombre ? szNombre : "");
    for (int i = 0; i < Usables(); ++i) {
        aiId[i] = 0;
        aacUri[i][0] = '\0';
    }
}

void CTablaPttId::DameNombre(char* szNombre) const {
    std::memcpy(szNombre, acNombre, 4);
    szNombre[4] = '\0';
}
