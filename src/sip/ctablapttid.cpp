#include "sip/ctablapttid.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {
// Host part of a URI: after "sip:" and any "user@", up to ':', ';', '>' or the end.
void HostDe(const char* szUri, char* szHost, size_t n) {
    const char* p = std::strstr(szUri, "sip:");
    p = p ? p + 4 : szUri;
    const char* a = std::strchr(p, '@');
    if (a) p = a + 1;
    size_t i = 0;
    while (p[i] && p[i] != ':' && p[i] != ';' && p[i] != '>' && i + 1 < n) {
        szHost[i] = p[i];
        ++i;
    }
    szHost[i] = '\0';
}

// The text up to the third dot ("a.b.c"), or the whole text.
size_t LonRed(const char* szHost) {
    int puntos = 0;
    for (size_t i = 0; szHost[i]; ++i)
        if (szHost[i] == '.' && ++puntos == 3) return i;
    return std::strlen(szHost);
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
    for (int i = 0; i < MAX_PTT_ID; ++i)
        if (aiId[i] > 0 && std::strncmp(aacUri[i], szUri, LON_URI) == 0) return aiId[i];
    return -1;
}

int CTablaPttId::Anade(const char* szUri) {
    int id = BuscaPorNombre(szUri);
    if (id > 0) return id;
    for (int i = 0; i < iTamano && i < MAX_PTT_ID; ++i) {
        if (aiId[i] == 0) {
            aiId[i] = i + 1;
            std::snprintf(aacUri[i], sizeof aacUri[i], "%s", szUri);
            return aiId[i];
        }
    }
    return 0;
}

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
    for (int i = 0; i < MAX_PTT_ID; ++i) {
        if (aiId[i] == 0) continue;
        char linea[80];
        std::snprintf(linea, sizeof linea, "%d,%.64s\r\n", aiId[i], aacUri[i]);
        std::strcat(szTexto, linea);
    }
}

int CTablaPttId::BuscaPorIp(const char* szUri) const {
    char h[LON_URI + 1];
    HostDe(szUri, h, sizeof h);
    size_t n = LonRed(h);
    for (int i = 0; i < MAX_PTT_ID; ++i) {
        if (aiId[i] == 0) continue;
        char o[LON_URI + 1];
        HostDe(aacUri[i], o, sizeof o);
        if (LonRed(o) == n && std::strncmp(o, h, n) == 0) return aiId[i];
    }
    return -1;
}

void CTablaPttId::FijaNombre(const char* szNombre) {
    std::snprintf(acNombre, sizeof acNombre, "%s", szNombre ? szNombre : "");
    for (int i = 0; i < iTamano && i < MAX_PTT_ID; ++i) {
        aiId[i] = 0;
        aacUri[i][0] = '\0';
    }
}

void CTablaPttId::DameNombre(char* szNombre) const {
    std::memcpy(szNombre, acNombre, 4);
    szNombre[4] = '\0';
}

void SacaUsuarioUri(char* szUri) {
    char* p = std::strstr(szUri, "sip:");
    p = p ? p + 4 : szUri;
    char* f = std::strpbrk(p, ":;");
    if (f) *f = '\0';
}

int CopiaUsuarioUri(const char* szUri, char* szSalida) {
    const char* p = std::strstr(szUri, "sip:");
    p = p ? p + 4 : szUri;
    size_t i = 0;
    while (p[i] && p[i] != '@' && i < 59) {
        szSalida[i] = p[i];
        ++i;
    }
    szSalida[i] = '\0';
    return 0;
}

int ComparaUri(const char* szUri1, const char* szUri2) {
    if (!szUri1 || !szUri2 || EsUriSip(szUri1) != 0 || EsUriSip(szUri2) != 0) return -1;
    std::printf("Compara uri1=%s uri2=%s\n", szUri1, szUri2);
    return std::strcmp(szUri1, szUri2) == 0 ? 0 : -1;
}

int EsUriSip(const char* szTexto) { return szTexto && std::strstr(szTexto, "sip:") ? 0 : -1; }

uint32_t DameIpPropia(const char* szInterfaz) {
    int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0) return 0;
    struct ifreq ifr;
    std::memset(&ifr, 0, sizeof ifr);
    std::snprintf(ifr.ifr_name, IFNAMSIZ, "%s", szInterfaz);
    uint32_t v = 0;
    if (ioctl(s, SIOCGIFADDR, &ifr) == 0)
        v = ntohl(reinterpret_cast<const sockaddr_in*>(&ifr.ifr_addr)->sin_addr.s_addr);
    close(s);
    return v;
}
