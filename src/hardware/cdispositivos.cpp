#include "hardware/cdispositivos.h"

#include <cstdlib>

#include "hardware/cdispositivosreales.h"
#include "hardware/cdispositivossim.h"

CDispositivos& DameDispositivos() {
    // Chosen once: every thread of the process talks to the same board. Never destroyed, so
    // threads still running at exit keep a valid interface.
    static CDispositivos* pDispositivos = []() -> CDispositivos* {
        const char* szSocket = std::getenv(VK_SIMBOARD);
        if (szSocket && *szSocket) return new CDispositivosSim(szSocket);
        return new CDispositivosReales();
    }();
    return *pDispositivos;
}
