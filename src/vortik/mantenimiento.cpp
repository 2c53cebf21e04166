#include "mantenimiento.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "cfgpasarela.h"
#include "mainvortik.h"
#include "nlog.h"

namespace {
FnMant gfRefresco = nullptr;
FnMant gfEstado = nullptr;

template <typename... T>
int Envia(const char* szFormato, T... valores) {
    char ac[256];
    int n = std::snprintf(ac, sizeof ac, szFormato, valores...);
    if (n < 0) return 0;
    if (n >= static_cast<int>(sizeof ac)) n = sizeof ac - 1;
    return mantEnvia(ac, n);
}
}  // namespace

int mantEnvia(const char* szTexto, int iLong) {
    NLOG::Log(NLOG::INFO, "mantEnvia: %.*s", iLong, szTexto);
    int iPuerto = oConfigPasarela.iSnmpPuertoRemoto;
    if (iPuerto <= 0 || iPuerto > 65535) iPuerto = 65000;
    int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0) {
        NLOG::Log(NLOG::ERROR, "mantEnvia: socket %d", errno);
        return 0;
    }
    sockaddr_in d;
    std::memset(&d, 0, sizeof d);
    d.sin_family = AF_INET;
    d.sin_port = htons(static_cast<uint16_t>(iPuerto));
    d.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (sendto(s, szTexto, iLong, 0, reinterpret_cast<sockaddr*>(&d), sizeof d) < 0)
        NLOG::Log(NLOG::ERROR, "mantEnvia: sendto %d", errno);
    close(s);
    return 0;
}

int mantInicia(FnMant fRefresco, FnMant fEstado) {
    gfRefresco = fRefresco;
    gfEstado = fEstado;
    return mantEnviaN01();
}

int mantEnviaN01() {
    char ac[64];
    int n = std::snprintf(ac, sizeof ac, "V,N01,%.166s,%.64s,%s,%s", oConfigPasarela.acIdConfig,
                          oConfigPasarela.szNombre, oConfigPasarela.oDireccion.texto, "");
    if (n < 0) return 0;
    return mantEnvia(ac, n >= static_cast<int>(sizeof ac) ? static_cast<int>(sizeof ac) - 1 : n);
}

int mantEnviaN02(int iEstadoLan) { return Envia("V,N02,%i,%i", iEstadoLan & 1, (iEstadoLan >> 1) & 1); }
int mantEnviaN03(int iValor) { return Envia("V,N03,%i,1", iValor); }
int mantEnviaN04(int iPrimero, int iSegundo) { return Envia("V,N04,%i,%i", iPrimero, iSegundo); }
int mantEnviaN05(int iEstado) { return Envia("V,N05,%i", iEstado); }
int mantEnviaN06(int iSlot, int iUno, int iPresencia, int iV0, int iV1, int iV2, int iV3) {
    return Envia("V,N06,%i,%i,%i,%i,%i,%i,%i", iSlot, iUno, iPresencia, iV0 & 0xFF, iV1 & 0xFF, iV2 & 0xFF,
                 iV3 & 0xFF);
}
int mantEnviaN07(int iRecurso) { return Envia("V,N07,%i,-,9,0,0,0,0,-", iRecurso); }

int EnviaEstadoMant(const int32_t* aiEstado) {
    (void)aiEstado;
    return 0;
}
