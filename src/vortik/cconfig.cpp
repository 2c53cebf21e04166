#include "cconfig.h"

#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

CCONFIG::CCONFIG() : aiMarcasInicio{}, aucFlgRecursoExiste{} {}

void CCONFIG::Inicia() {
    std::printf("\n\n------------------------------------Inicia CCONFIG ----- \n\n");
    aiMarcasInicio[0] = 1;
    aiMarcasInicio[1] = 3;
    PonDefecto(0);
    oDireccion.TomaTexto("0.0.0.0");
    int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s >= 0) {
        struct ifreq ifr;
        std::memset(&ifr, 0, sizeof ifr);
        std::strncpy(ifr.ifr_name, "eth0", IFNAMSIZ - 1);
        if (ioctl(s, SIOCGIFADDR, &ifr) == 0) {
            const auto* sin = reinterpret_cast<const sockaddr_in*>(&ifr.ifr_addr);
            oDireccion.TomaValor(ntohl(sin->sin_addr.s_addr));
        }
        close(s);
    }
    // acIdConfig is "<system>\<gateway>..." when it was made for this gateway.
    char acPrefijo[sizeof acIdSistema + sizeof szNombre + 2];
    std::snprintf(acPrefijo, sizeof acPrefijo, "%.*s\\%.*s", static_cast<int>(sizeof acIdSistema), acIdSistema,
                  static_cast<int>(sizeof szNombre), szNombre);
    if (std::strncmp(acIdConfig, acPrefijo, std::strlen(acPrefijo)) != 0) PonDefecto(1);
}

void CCONFIG::MarcaPosiciones() { cfgMarcaPosiciones(this, aucFlgRecursoExiste); }
