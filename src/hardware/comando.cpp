#include "hardware/comando.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "hardware/cdispositivos.h"
#include "comun/nlog.h"

std::string DameFicheroComandos() {
    const char* szSocket = std::getenv(VK_SIMBOARD);
    if (!szSocket || !*szSocket) return std::string();
    return std::string(szSocket) + ".comandos";
}

int EjecutaComando(const char* szComando) {
    if (!szComando) return -1;
    std::string sFichero = DameFicheroComandos();
    if (!sFichero.empty()) {
        // One write per line with O_APPEND: lines of several processes never interleave.
        std::string sLinea = std::string(szComando) + "\n";
        int fd = ::open(sFichero.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd < 0 || ::write(fd, sLinea.data(), sLinea.size()) != static_cast<ssize_t>(sLinea.size())) {
            NLOG::Log(NLOG::ERROR, "EjecutaComando: no se registra \"%s\" en %s: %s", szComando, sFichero.c_str(),
                      strerror(errno));
            if (fd >= 0) ::close(fd);
            return -1;
        }
        ::close(fd);
        return 0;
    }
    // Only the board itself runs these commands (they reboot, kill and reconfigure).
    if (::access("/dev/esdiscretas", F_OK) != 0) {
        NLOG::Log(NLOG::ERROR, "EjecutaComando: sin placa ni %s, no se ejecuta \"%s\"", VK_SIMBOARD, szComando);
        return -1;
    }
    return std::system(szComando);
}
