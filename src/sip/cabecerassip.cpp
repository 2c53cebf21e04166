#include "sip/cabecerassip.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace {

const char* const kRazones[] = {
    "WG-67; cause=2000; text=\"session pre-emption\"",
    "WG-67; cause=2001; text=\"missing R2S KeepAlive\"",
    "WG-67; cause=2002; text=\"fid does not match\"",
    "WG-67; cause=2003; text=\"radio in maintenance mode\"",
    "WG-67; cause=2004; text=\"internal error\"",
    "WG-67; cause=2005; text=\"coupling not allowed\"",
    "WG-67; cause=2006; text=\"radio access mode doesn't match\"",
    "WG-67; cause=2007; text=\"Parameter error\"",
    "WG-67; cause=2008; text=\"QLN standby mode\"",
    "WG-67; cause=1001; text=\"Emergency - Forced Release\""};

// The n-th header of that name (case ignored) from position iDesde; its position or -1.
int Cabecera(const osip_message_t* m, const char* szNombre, int iDesde, osip_header_t** ph) {
    *ph = nullptr;
    if (!m) return -1;
    int pos = osip_message_header_get_byname(m, szNombre, iDesde, ph);
    return pos >= 0 && *ph && (*ph)->hvalue ? pos : -1;
}

}  // namespace

int sipLeeCabecera(const osip_message_t* m, const char* szNombre, char* ac, size_t n) {
    osip_header_t* h;
    CopiaTextoSip(ac, n, "");
    if (Cabecera(m, szNombre, 0, &h) < 0) return -1;
    CopiaTextoSip(ac, n, h->hvalue);
    return 0;
}

int sipLeePrioridad(const osip_message_t* m, char* ac, size_t n) {
    if (sipLeeCabecera(m, "priority", ac, n) == 0 || sipLeeCabecera(m, "Priority", ac, n) == 0) return 0;
    CopiaTextoSip(ac, n, "Emergency");
    return -1;
}

int sipLeeAsunto(const osip_message_t* m, char* ac, size_t n) {
    if (sipLeeCabecera(m, "subject", ac, n) == 0 || sipLeeCabecera(m, "Subject", ac, n) == 0) return 0;
    return -1;
}

int sipBuscaSupported(const osip_message_t* m, const char* szValor) {
    for (const char* szNombre : {"Supported", "supported"}) {
        osip_header_t* h;
        for (int pos = Cabecera(m, szNombre, 0, &h); pos >= 0; pos = Cabecera(m, szNombre, pos + 1, &h))
            if (!std::strcmp(h->hvalue, szValor)) return pos;
    }
    return -1;
}

int sipLeeSessionExpires(const osip_message_t* m, char* ac, size_t n) {
    if (sipLeeCabecera(m, "Session-Expires", ac, n) == 0 || sipLeeCabecera(m, "session-expires", ac, n) == 0) return 0;
    return -1;
}

int sipLeeVersionWG67(const osip_message_t* m, char* ac, size_t n) {
    if (sipLeeCabecera(m, "WG67-Version", ac, n) == 0) return 0;
    CopiaTextoSip(ac, n, "NO-VERSION");
    return -1;
}

const char* sipTextoRazon(int i) { return i >= 0 && i <= 9 ? kRazones[i] : nullptr; }

void sipPonMetodosAceptados(osip_message_t* m) {
    // SUBSCRIBE opens a subscription outside calls; every other method is answered in a call.
    if (m) osip_message_set_header(m, "Allow", "INVITE, ACK, CANCEL, BYE, OPTIONS, UPDATE, INFO, PRACK, REFER, NOTIFY, "
                                               "SUBSCRIBE, MESSAGE");
}

bool sipPonSessionExpires(osip_message_t* m, const SesionSip& s) {
    if (!m || !std::strstr(s.acSupported, "timer") || !s.acSessionExpires[0]) return false;
    char ac[64];
    std::snprintf(ac, sizeof ac, "%.49s;refresher=uac", s.acSessionExpires);
    osip_message_set_header(m, "Require", "timer");
    osip_message_set_header(m, "Session-Expires", ac);
    return true;
}
