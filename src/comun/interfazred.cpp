#include "comun/interfazred.h"

#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace {
uint32_t IpDe(int s, const char* nombre) {
    struct ifreq ifr;
    memset(&ifr, 0, sizeof ifr);
    strncpy(ifr.ifr_name, nombre, IFNAMSIZ - 1);
    ifr.ifr_addr.sa_family = AF_INET;
    if (ioctl(s, SIOCGIFADDR, &ifr) != 0) return 0;
    struct sockaddr_in sin;
    memcpy(&sin, &ifr.ifr_addr, sizeof sin);
    return sin.sin_addr.s_addr;
}
}  // namespace

uint32_t DameIpInterfaz(const char* nombre) {
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    if (s < 0) return 0;
    uint32_t ip = nombre ? IpDe(s, nombre) : 0;
    if (ip == 0) ip = IpDe(s, "bond0");
    close(s);
    return ip;
}

int DameMacInterfaz(const char* nombre, uint8_t mac[8]) {
    memset(mac, 0, 8);
    if (!nombre) return -1;
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    if (s < 0) return -1;
    struct ifreq ifr;
    memset(&ifr, 0, sizeof ifr);
    strncpy(ifr.ifr_name, nombre, IFNAMSIZ - 1);
    int res = ioctl(s, SIOCGIFHWADDR, &ifr);
    close(s);
    if (res < 0) return -1;
    memcpy(mac, ifr.ifr_hwaddr.sa_data, 8);
    return res;
}
