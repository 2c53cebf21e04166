// simboardctl: control tool of the simulated board. Sends its arguments as one command to
// the board whose socket VK_SIMBOARD names (or -s SOCKET) and prints the answer.
//
//   simboardctl [-s SOCKET] ORDEN [ARGUMENTOS...]     (simboardctl ayuda lists them)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "hardware/cdispositivossim.h"

int main(int argc, char** argv) {
    const char* szSocket = getenv("VK_SIMBOARD");
    int i = 1;
    if (argc > 2 && strcmp(argv[1], "-s") == 0) {
        szSocket = argv[2];
        i = 3;
    }
    if (!szSocket || !*szSocket) {
        fprintf(stderr, "uso: simboardctl [-s SOCKET] ORDEN [ARGUMENTOS...] (o VK_SIMBOARD)\n");
        return 2;
    }
    std::string sOrden;
    for (; i < argc; i++) sOrden += std::string(sOrden.empty() ? "" : " ") + argv[i];
    CDispositivosSim placa(szSocket);
    std::string sRespuesta;
    int r = placa.Control(sOrden, &sRespuesta);
    if (r < 0 && sRespuesta.empty()) {
        fprintf(stderr, "simboardctl: %s: %s\n", szSocket, strerror(errno));
        return 1;
    }
    fputs(sRespuesta.c_str(), r < 0 ? stderr : stdout);
    return r < 0 ? 1 : 0;
}
