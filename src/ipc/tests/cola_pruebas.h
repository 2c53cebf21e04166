// Test helpers for the IPC channel: a peer process (this same test binary started again
// with COLA_PEER set, running only ColaPeer.DISABLED_Modo) that opens the other end of a channel and writes one line per
// handler call to its standard output.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "ipc/cola.h"

namespace pruebas {

// One line per call on descriptor 3, written with a single write() so that lines never mix.
inline void Escribe(const char* formato, ...) {
    char buf[12000];
    va_list ap;
    va_start(ap, formato);
    int n = vsnprintf(buf, sizeof buf - 1, formato, ap);
    va_end(ap);
    if (n < 0) return;
    if (n > static_cast<int>(sizeof buf) - 2) n = sizeof buf - 2;
    buf[n++] = '\n';
    ssize_t r = write(3, buf, n);
    (void)r;
}

inline std::string Hex(const void* p, int n) {
    std::string s;
    char b[3];
    for (int i = 0; i < n; i++) {
        snprintf(b, sizeof b, "%02x", static_cast<const uint8_t*>(p)[i]);
        s += b;
    }
    return s;
}

template <int C> void RecSinArgs() { Escribe("%d", C); }
template <int C> void RecPeer(int32_t p) { Escribe("%d p=%d", C, p); }
template <int C> void RecUno(int32_t p, int32_t a) { Escribe("%d p=%d %d", C, p, a); }
template <int C> void RecDos(int32_t p, int32_t a, int32_t b) { Escribe("%d p=%d %d %d", C, p, a, b); }
template <int C> void RecTres(int32_t p, int32_t a, int32_t b, int32_t c) {
    Escribe("%d p=%d %d %d %d", C, p, a, b, c);
}
template <int C> void RecValor(int32_t v) { Escribe("%d %d", C, v); }
template <int C> void RecLlamada(int32_t p, int32_t id, DatosLlamada* d) {
    Escribe("%d p=%d %d [%s][%s] %u %u %d %d %d", C, p, id, d->acOrigen, d->acDestino,
            d->ucPrioridad, d->ucLibre, d->iTipoSip, d->iTipoLlamada, d->iNumeracionQsig);
}
template <int C> void RecSesion(int32_t p, int32_t id, DireccionSesion* s) {
    Escribe("%d p=%d %d %d %d %d %d %08x [%s] %d %d %d %d %d %d %d %d %d", C, p, id,
            s->iParametro, s->iPayloadForzado, s->iPayload, s->iPuertoLocal, s->uiDirRemota,
            s->acDirRemota, s->iPuertoRemoto, s->idllam, s->iPttId, s->iRtpHe, s->iPrioridad,
            s->iStandby, s->iModoBss, s->iPttRep, s->iIndiceColateral);
}
template <int C, int N> void RecBloque(int32_t p, int32_t id, uint8_t* b) {
    Escribe("%d p=%d %d %s", C, p, id, Hex(b, N).c_str());
}
template <int C> void RecEstado(int32_t p, NotificacionEstado* e) {
    Escribe("%d p=%d %s", C, p, Hex(e, sizeof *e).c_str());
}
template <int C> void RecBytes(int32_t p, int32_t id, uint8_t* b, int32_t n) {
    Escribe("%d p=%d %d %d:%s", C, p, id, n, Hex(b, n).c_str());
}
template <int C> void RecTexto(int32_t p, char* t) { Escribe("%d p=%d [%s]", C, p, t); }
template <int C> void RecDiag(int32_t p, uint8_t c, int32_t a, int32_t b) {
    Escribe("%d p=%d %u %d %d", C, p, c, a, b);
}
template <int C> void RecCreaCanal(int32_t pid, uint8_t modo) { Escribe("%d %d %u", C, pid, modo); }
template <int C> void RecDigito(int32_t p, int32_t id, uint8_t b, int32_t v) {
    Escribe("%d p=%d %d %u %d", C, p, id, b, v);
}
template <int C> void RecLlama(int32_t p, int32_t id, int32_t pr, uint8_t* o, int32_t no,
                               uint8_t* d, int32_t nd) {
    Escribe("%d p=%d %d %d %d:%s %d:%s", C, p, id, pr, no, Hex(o, no).c_str(), nd, Hex(d, nd).c_str());
}
template <int C> void RecIntervencion(int32_t p, int32_t id, int32_t pr, uint8_t* o, int32_t no,
                                      uint8_t* d, int32_t nd, int32_t c) {
    Escribe("%d p=%d %d %d %d:%s %d:%s %d", C, p, id, pr, no, Hex(o, no).c_str(), nd,
            Hex(d, nd).c_str(), c);
}
template <int C> void RecMensaje23(int32_t p, uint8_t a, int32_t b, char* t1, int32_t c, char* t2,
                                   int32_t d, int32_t e, uint8_t f) {
    Escribe("%d p=%d %u %d [%s] %d [%s] %d %d %u", C, p, a, b, t1, c, t2, d, e, f);
}
inline void RecConfig(char* bloque, cfgConfigRecurso* rec) {
    const uint8_t* registro = reinterpret_cast<const uint8_t*>(rec);
    unsigned suma = 0;
    for (int i = 0; i < TAM_REGISTRO_RECURSO; i++) suma = suma * 31 + registro[i];
    Escribe("4 [%.65s] %s %08x", bloque, Hex(registro, 8).c_str(), suma);
}

// Registers a recorder for every handler word of the end.
inline void RegistraTodo(Cola& c) {
    c.RegistraEvtReset(RecPeer<2>);
    c.RegistraEvtTermina(RecPeer<93>);
    c.RegistraEvtSinConfig(RecPeer<22>);
    c.RegistraEvtPintaEstadisticas(RecSinArgs<3>);
    c.RegistraEvtTomaConfig(RecConfig);
    c.RegistraEvtLlamadaSaliente(RecLlamada<5>);
    c.RegistraEvtLlamadaEntrante(RecLlamada<6>);
    c.RegistraEvtFinLlamada(RecDos<7>);
    c.RegistraEvtConversacionInterrumpida(RecUno<21>);
    c.RegistraEvtRinging(RecDos<8>);
    c.RegistraEvtAceptaLlamada(RecDos<9>);
    c.RegistraEvtRechazaLlamada(RecDos<11>);
    c.RegistraEvtIntervencion(RecLlamada<13>);
    c.RegistraEvtAbortaIntervencion(RecUno<14>);
    c.RegistraEvtNuevaSesion(RecSesion<15>);
    c.RegistraEvtModificaSesion(RecSesion<16>);
    c.RegistraEvtFinSesion(RecDos<17>);
    c.RegistraEvtFinSesionPreemption(RecValor<29>);
    c.RegistraEvtNivelConsola(RecValor<18>);
    c.RegistraEvtNivelIncidencias(RecValor<19>);
    c.RegistraEvtModoTest(RecValor<20>);
    c.RegistraEvtMensaje23(RecMensaje23<23>);
    c.RegistraEvtTraza(RecTexto<24>);
    c.RegistraEvtDiagnostico(RecDiag<25>);
    c.RegistraEvtCreaCanalHermano(RecCreaCanal<26>);
    c.RegistraEvtNotificaEstadoRecurso(RecEstado<27>);
    c.RegistraEvtInfoLlamada(RecTres<28>);
    c.RegistraArrancaRecurso(RecDos<30>);
    c.RegistraEvtDspRecursoCreado(RecUno<55>);
    c.RegistraLiberaRecurso(RecUno<31>);
    c.RegistraTomaCanalIfTx(RecDos<32>);
    c.RegistraTomaCanalIfRx(RecDos<33>);
    c.RegistraTomaCanalHostTx(RecDos<34>);
    c.RegistraTomaCanalHostRx(RecDos<35>);
    c.RegistraQuitaCanalHostRx(RecDos<36>);
    c.RegistraTomaCodecIfTx(RecDos<37>);
    c.RegistraTomaCodecIfRx(RecDos<38>);
    c.RegistraTomaCodecHostTx(RecDos<39>);
    c.RegistraTomaCodecHostRx(RecDos<40>);
    c.RegistraTomaProtocolo(RecDos<41>);
    c.RegistraSelecCancelEcoTx(RecDos<56>);
    c.RegistraSelecCagTx(RecTres<42>);
    c.RegistraSelecCagRx(RecTres<43>);
    c.RegistraSelecVoxTx(RecTres<44>);
    c.RegistraSelecVoxRx(RecTres<45>);
    c.RegistraSelecDetCallProgress(RecTres<46>);
    c.RegistraSelecDetDtmf(RecDos<47>);
    c.RegistraSelecDetCallerID(RecDos<48>);
    c.RegistraSelecBss(RecDos<49>);
    c.RegistraGeneraSecuenciaTonosTx(RecTres<50>);
    c.RegistraGeneraSecuenciaTonosRx(RecTres<51>);
    c.RegistraAnalizaBucle(RecTres<57>);
    c.RegistraMarcaDtmf(RecBytes<52>);
    c.RegistraMarcaSelcal(RecBytes<53>);
    c.RegistraMarcaCcir(RecBytes<54>);
    c.RegistraLlama(RecLlama<60>);
    c.RegistraDescuelga(RecUno<61>);
    c.RegistraLibera(RecUno<62>);
    c.RegistraRespondeLibre(RecUno<63>);
    c.RegistraRespondeOcupado(RecUno<64>);
    c.RegistraRespondeCongestion(RecUno<65>);
    c.RegistraRespondeFueraDeServicio(RecUno<66>);
    c.RegistraIntervencionPrioridad(RecIntervencion<67>);
    c.RegistraFinIntervencion(RecUno<68>);
    c.RegistraAparca(RecUno<69>);
    c.RegistraDesaparca(RecUno<70>);
    c.RegistraBloqueaLinea(RecUno<74>);
    c.RegistraTomaConfigLCEN(RecBloque<71, TAM_BLOQUE_LCEN>);
    c.RegistraTomaConfigR2(RecBloque<72, TAM_BLOQUE_R2N5>);
    c.RegistraTomaConfigN5(RecBloque<73, TAM_BLOQUE_R2N5>);
    c.RegistraEvtDigitoDtmf(RecDigito<80>);
    c.RegistraEvtSelcal(RecDigito<81>);
    c.RegistraEvtCallerId(RecBytes<82>);
    c.RegistraEvtCallProgress(RecDos<83>);
    c.RegistraEvtDspEvento84(RecDos<84>);
    c.RegistraEvtBucle(RecTres<92>);
    c.RegistraEvtErrorInterno(RecDos<85>);
    c.RegistraEvtDspReposo(RecUno<86>);
    c.RegistraEvtDspConversacionInterrumpida(RecUno<87>);
    c.RegistraEvtDspLineaBloqueada(RecUno<88>);
    c.RegistraEvtDspTimeout(RecUno<90>);
    c.RegistraEvtDspErrorProtocolo(RecUno<91>);
    c.RegistraEvtEstadoDsp(RecDos<89>);
    c.RegistraDebug(RecUno<254>);
}

// Peer mode: COLA_PEER="tipo propio peer". Records every handler call on descriptor 3
// and, once ready, writes "listo"; ends when its standard input closes.
inline void ModoPeer() {
    const char* e = getenv("COLA_PEER");
    if (e == nullptr) GTEST_SKIP();
    int tipo = 0, propio = 0, peer = 0;
    if (sscanf(e, "%d %d %d", &tipo, &propio, &peer) != 3) _exit(2);
    unsetenv("COLA_PEER");
    Cola* c = new Cola(peer, tipo, 0, propio);
    RegistraTodo(*c);
    Escribe("listo");
    char b[64];
    while (read(0, b, sizeof b) > 0) {
    }
    c->Termina();
    delete c;
    _exit(0);
}

// A peer process: its pid and the pipes to it.
struct Peer {
    pid_t pid = -1;
    int fdSalida = -1;   // what the peer writes
    int fdEntrada = -1;  // closing it ends the peer
    std::string resto;

    // Starts this binary again as the peer end of kind tipo towards this process.
    bool Lanza(int tipo) {
        int out[2], in[2];
        // Close-on-exec: a later peer must not inherit this one's ends (its stdin would
        // then never reach end of file).
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(in, O_CLOEXEC) != 0) return false;
        pid = fork();
        if (pid == 0) {
            // Move the ends out of the way first: a pipe end may itself be descriptor 3.
            int w = fcntl(out[1], F_DUPFD, 10), r = fcntl(in[0], F_DUPFD, 10);
            for (int fd : {out[0], out[1], in[0], in[1]}) close(fd);
            dup2(w, 3);
            dup2(r, 0);
            close(w);
            close(r);
            char env[64];
            snprintf(env, sizeof env, "%d %d %d", tipo, getpid(), getppid());
            setenv("COLA_PEER", env, 1);
            execl("/proc/self/exe", "cola_peer", "--gtest_also_run_disabled_tests",
                  "--gtest_filter=ColaPeer.DISABLED_Modo", static_cast<char*>(nullptr));
            _exit(3);
        }
        close(out[1]);
        close(in[0]);
        fdSalida = out[0];
        fdEntrada = in[1];
        return pid > 0 && Linea(10000) == "listo";
    }

    // Next line the peer wrote, or "" after timeoutMs without one.
    std::string Linea(int timeoutMs = 5000) {
        for (;;) {
            size_t nl = resto.find('\n');
            if (nl != std::string::npos) {
                std::string l = resto.substr(0, nl);
                resto.erase(0, nl + 1);
                return l;
            }
            struct pollfd p = {fdSalida, POLLIN, 0};
            if (poll(&p, 1, timeoutMs) <= 0) return "";
            char b[4096];
            ssize_t n = read(fdSalida, b, sizeof b);
            if (n <= 0) return "";
            resto.append(b, n);
        }
    }

    int Termina() {
        if (pid <= 0) return -1;
        close(fdEntrada);
        int st = 0;
        waitpid(pid, &st, 0);
        close(fdSalida);
        pid = -1;
        return st;
    }
    ~Peer() {
        if (pid > 0) Termina();
    }
};

}  // namespace pruebas

// The peer process runs this (disabled, so never listed) test.
TEST(ColaPeer, DISABLED_Modo) {
    pruebas::ModoPeer();
}
