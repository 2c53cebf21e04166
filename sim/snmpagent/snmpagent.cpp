// Stand-in for the local SNMP agent of the board.
//
//   snmpagent                 listen on UDP 127.0.0.1:65000 and print every record received,
//                             one per line: "HH:MM:SS.mmm <record>" (a record that ends with
//                             a line feed gets no second one); runs until killed
//   snmpagent send TEXT       send TEXT (no NUL) as one datagram to the core's command port
//                             127.0.0.1:65001, e.g.  snmpagent send "A,T00"
//   snmpagent send TEXT MS    the same while listening on 65000, printing the records that
//                             arrive during the next MS milliseconds (the core's answers)
#include <sys/time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "red/cudpsocket.h"

namespace {

const int kPuertoAgente = 65000;
const int kPuertoComandos = 65001;

void PintaRegistro(const char* p, int n) {
    timeval tv;
    gettimeofday(&tv, nullptr);
    tm t;
    localtime_r(&tv.tv_sec, &t);
    printf("%02d:%02d:%02d.%03ld ", t.tm_hour, t.tm_min, t.tm_sec, static_cast<long>(tv.tv_usec / 1000));
    fwrite(p, 1, static_cast<size_t>(n), stdout);
    if (n == 0 || p[n - 1] != '\n') putchar('\n');
    fflush(stdout);
}

// Prints records until iMs have passed (forever when negative).
void Escucha(CUDPSocket& o, int iMs) {
    auto tFin = std::chrono::steady_clock::now() + std::chrono::milliseconds(iMs);
    for (;;) {
        int iEspera = -1;
        if (iMs >= 0) {
            auto resto = std::chrono::duration_cast<std::chrono::milliseconds>(tFin - std::chrono::steady_clock::now());
            if (resto.count() <= 0) return;
            iEspera = static_cast<int>(resto.count());
        }
        if (!o.WaitRead(iEspera)) continue;
        char ac[65536];
        int n = o.RecvFrom(ac, sizeof ac);
        if (n >= 0) PintaRegistro(ac, n);
    }
}

int Uso() {
    fprintf(stderr, "usage: snmpagent | snmpagent send TEXT [MS]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        if (argc == 1) {
            CUDPSocket o(CSocketAddress("127.0.0.1", kPuertoAgente));
            Escucha(o, -1);
        }
        if (argc < 3 || argc > 4 || strcmp(argv[1], "send") != 0) return Uso();
        std::string sTexto = argv[2];
        if (argc == 3) {
            CUDPSocket o;
            o.SendTo(sTexto.data(), sTexto.size(), CSocketAddress("127.0.0.1", kPuertoComandos));
            return 0;
        }
        CUDPSocket o(CSocketAddress("127.0.0.1", kPuertoAgente));
        o.SendTo(sTexto.data(), sTexto.size(), CSocketAddress("127.0.0.1", kPuertoComandos));
        Escucha(o, atoi(argv[3]));
    } catch (const socket_error& e) {
        fprintf(stderr, "snmpagent: %s\n", e.what());
        return 1;
    }
    return 0;
}
