#include "enlacelan.h"

#include <linux/mii.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <sys/ioctl.h>

#include <cstring>

#include "hardware/comando.h"

namespace {

// The interface request shared by the queries; they run on the supervision thread only.
struct ifreq gsPeticion;

mii_ioctl_data* Datos() { return reinterpret_cast<mii_ioctl_data*>(&gsPeticion.ifr_ifru); }

// 1 link, 0 no link, -1 the interface cannot be asked.
int EnlaceDe(int iSocket, const char* szInterfaz) {
    std::memset(&gsPeticion, 0, sizeof gsPeticion);
    std::strncpy(gsPeticion.ifr_name, szInterfaz, IFNAMSIZ - 1);
    bool bPrivada = false;
    if (ioctl(iSocket, SIOCGMIIPHY, &gsPeticion) < 0) {
        if (ioctl(iSocket, SIOCDEVPRIVATE, &gsPeticion) < 0) return -1;
        bPrivada = true;
    }
    const int v = LeeRegistroMii(iSocket, 2, 16, bPrivada);
    if (v < 0) return -1;
    return v & 1;
}

}  // namespace

int LeeRegistroMii(int iSocket, int iPhy, int iRegistro, bool bPrivada) {
    Datos()->phy_id = static_cast<__u16>(iPhy);
    Datos()->reg_num = static_cast<__u16>(iRegistro);
    if (ioctl(iSocket, bPrivada ? SIOCDEVPRIVATE + 1 : SIOCGMIIREG, &gsPeticion) < 0) return -1;
    return Datos()->val_out;
}

int DameEstadoLan(int iSocket) {
    int iPalabra = 4;
    if (EnlaceDe(iSocket, "eth0") == 1) iPalabra |= 1;
    if (EnlaceDe(iSocket, "eth1") == 1) iPalabra |= 2;
    return iPalabra;
}

int HayEnlaceLan(int iSocket) {
    const int e0 = EnlaceDe(iSocket, "eth0");
    if (e0 < 0) return -1;
    if (e0 == 1) return 1;
    if (EjecutaComando("ifconfig bond0 | grep inet\n") != 0) return 0;
    const int e1 = EnlaceDe(iSocket, "eth1");
    if (e1 < 0) return -1;
    return e1 == 1 ? 1 : 0;
}
