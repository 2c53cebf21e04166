#include "comun/ganchosipc.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace {
std::atomic<FnTextoIpc> gTexto{nullptr};
std::atomic<FnDebugIpc> gDebug{nullptr};
std::atomic<uint32_t> gMascara{0};

int EnviaTexto(const char* formato, va_list ap) {
    FnTextoIpc f = gTexto.load();
    if (!f) return 0;
    char buf[LON_TEXTO_IPC];
    vsnprintf(buf, sizeof buf, formato, ap);
    buf[sizeof buf - 1] = '\0';
    return f(buf);
}
}  // namespace

void FijaGanchoTextoIpc(FnTextoIpc gancho) { gTexto.store(gancho); }
void FijaGanchoDebugIpc(FnDebugIpc gancho) { gDebug.store(gancho); }
void FijaMascaraTrazaIpc(uint32_t mascara) { gMascara.store(mascara); }
uint32_t DameMascaraTrazaIpc() { return gMascara.load(); }

int IpcPrintf(const char* formato, ...) {
    va_list ap;
    va_start(ap, formato);
    int n = EnviaTexto(formato, ap);
    va_end(ap);
    return n;
}

int IpcTraza(uint32_t clases, const char* formato, ...) {
    if ((clases & gMascara.load()) == 0) return 0;
    va_list ap;
    va_start(ap, formato);
    int n = EnviaTexto(formato, ap);
    va_end(ap);
    return n;
}

int IpcDebug(const uint8_t payload[4]) {
    FnDebugIpc f = gDebug.load();
    if (!f) return -1;
    f(payload[0], payload[1]);
    return 0;
}
