// simboard: the simulated board. One daemon per board; every process of that board reaches
// it through the hardware layer over the Unix socket named by VK_SIMBOARD (or the first
// argument). Each connection is served by a thread of its own.
//
//   simboard [SOCKET]
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cplaca.h"
#include "modelos.h"
#include "hardware/protocolosim.h"

using namespace simproto;

namespace {

struct Manejador {
    pid_t iPid;
    std::string sRuta;
    std::unique_ptr<CModeloDispositivo> pDisp;
};

class CServidor {
public:
    explicit CServidor(CPlaca& placa) : p(placa) {}
    void Atiende(int s);

private:
    std::shared_ptr<Manejador> Busca(uint32_t id) {
        std::lock_guard<std::mutex> l(tMutex);
        auto it = mManejadores.find(id);
        return it == mManejadores.end() ? nullptr : it->second;
    }
    // Handles of a process are closed when its last connection goes away.
    void FinConexion(pid_t iPid) {
        std::lock_guard<std::mutex> l(tMutex);
        if (--mConexiones[iPid] > 0) return;
        mConexiones.erase(iPid);
        for (auto it = mManejadores.begin(); it != mManejadores.end();)
            it = it->second->iPid == iPid ? mManejadores.erase(it) : std::next(it);
    }

    CPlaca& p;
    std::mutex tMutex;  // guards the handle table and the connection counts
    std::map<uint32_t, std::shared_ptr<Manejador>> mManejadores;
    std::map<pid_t, int> mConexiones;
    uint32_t uiSiguiente = 1;
};

const char* NombreOperacion(uint32_t op) {
    switch (op) {
        case OP_ABRE: return "open";
        case OP_CIERRA: return "close";
        case OP_PETICION: return "ioctl";
        case OP_LEE: return "read";
        case OP_ESCRIBE: return "write";
        case OP_LEE_MENSAJE: return "readmsg";
        case OP_ESCRIBE_MENSAJE: return "writemsg";
        case OP_ESCRIBE_PALABRAS: return "writewords";
        case OP_AVISO: return "async";
        case OP_FIJA_DIRECCION: return "setaddr";
        case OP_CONTROL: return "control";
        default: return "?";
    }
}

void CServidor::Atiende(int s) {
    ucred cred{};
    socklen_t lc = sizeof(cred);
    getsockopt(s, SOL_SOCKET, SO_PEERCRED, &cred, &lc);
    pid_t iPid = cred.pid;
    {
        std::lock_guard<std::mutex> l(tMutex);
        mConexiones[iPid]++;
    }
    std::string sProceso = "?";
    std::vector<uint8_t> buf(sizeof(Peticion) + MAX_DATOS);
    for (;;) {
        ssize_t n = recv(s, buf.data(), buf.size(), 0);
        if (n < static_cast<ssize_t>(sizeof(Peticion))) break;
        Peticion pet;
        memcpy(&pet, buf.data(), sizeof(pet));
        const uint8_t* pDatos = buf.data() + sizeof(pet);
        size_t iDatos = std::min<size_t>(pet.uiLongitud, static_cast<size_t>(n) - sizeof(pet));

        Respuesta r{0, 0, 0};
        std::string sSalida;
        std::string sDispositivo = "-";
        std::shared_ptr<Manejador> h;
        if (pet.uiOperacion != OP_HOLA && pet.uiOperacion != OP_ABRE && pet.uiOperacion != OP_CONTROL) {
            h = Busca(pet.uiManejador);
            if (!h) r.iError = EBADF;
            else sDispositivo = h->sRuta;
        }
        if (r.iError == 0) {
            switch (pet.uiOperacion) {
                case OP_HOLA:
                    sProceso.assign(reinterpret_cast<const char*>(pDatos), iDatos);
                    break;
                case OP_ABRE: {
                    sDispositivo.assign(reinterpret_cast<const char*>(pDatos), iDatos);
                    std::unique_ptr<CModeloDispositivo> d;
                    r.iError = p.Abre(sDispositivo, &d);
                    if (r.iError == 0) {
                        std::lock_guard<std::mutex> l(tMutex);
                        uint32_t id = uiSiguiente++;
                        mManejadores[id] = std::make_shared<Manejador>(Manejador{iPid, sDispositivo, std::move(d)});
                        r.uiResultado = id;
                    }
                    break;
                }
                case OP_CIERRA: {
                    std::lock_guard<std::mutex> l(tMutex);
                    mManejadores.erase(pet.uiManejador);
                    break;
                }
                case OP_PETICION:
                    r.iError = p.Rechaza(pet.uiCodigo) ? EIO : h->pDisp->Peticion(pet.uiCodigo, pet.uiValor, &r.uiResultado);
                    break;
                case OP_LEE:
                    r.iError = h->pDisp->Lee(std::min<size_t>(pet.uiValor, MAX_DATOS), &sSalida);
                    r.uiResultado = static_cast<uint32_t>(sSalida.size());
                    break;
                case OP_ESCRIBE:
                    r.iError = h->pDisp->Escribe(pDatos, iDatos, &r.uiResultado);
                    break;
                case OP_LEE_MENSAJE:
                    r.iError = h->pDisp->LeeMensaje(std::min<size_t>(pet.uiValor, MAX_DATOS), &sSalida);
                    r.uiResultado = static_cast<uint32_t>(sSalida.size());
                    break;
                case OP_ESCRIBE_MENSAJE:
                    r.iError = h->pDisp->EscribeMensaje(pDatos, iDatos, &r.uiResultado);
                    break;
                case OP_ESCRIBE_PALABRAS: {
                    std::vector<uint32_t> w(iDatos / 4);
                    if (!w.empty()) memcpy(w.data(), pDatos, w.size() * 4);
                    r.iError = h->pDisp->EscribePalabras(w.data(), w.size());
                    break;
                }
                case OP_FIJA_DIRECCION:
                    r.iError = h->pDisp->FijaDireccion(pet.uiValor);
                    break;
                case OP_AVISO:
                    r.iError = h->pDisp->Aviso(iPid, static_cast<pid_t>(pet.uiValor));
                    break;
                case OP_CONTROL:
                    r.iError = p.Orden(std::string(reinterpret_cast<const char*>(pDatos), iDatos), &sSalida);
                    break;
                default:
                    r.iError = ENOSYS;
                    break;
            }
        }
        if (sSalida.size() > MAX_DATOS) sSalida.resize(MAX_DATOS);
        r.uiLongitud = static_cast<uint32_t>(sSalida.size());
        if (pet.uiOperacion != OP_HOLA && pet.uiOperacion != OP_CONTROL)
            p.Anota(iPid, sProceso, sDispositivo, NombreOperacion(pet.uiOperacion), pet.uiCodigo,
                    pet.uiOperacion == OP_ESCRIBE ? static_cast<uint32_t>(iDatos) : pet.uiValor, r.iError,
                    r.uiResultado);
        iovec iov[2] = {{&r, sizeof(r)}, {&sSalida[0], sSalida.size()}};
        msghdr m{};
        m.msg_iov = iov;
        m.msg_iovlen = sSalida.empty() ? 1 : 2;
        if (sendmsg(s, &m, MSG_NOSIGNAL) < 0) break;
    }
    close(s);
    FinConexion(iPid);
}

char acSocket[108];
// Any thread may take the signal: end right here (both calls are async-signal-safe).
void AlTerminar(int) {
    unlink(acSocket);
    _exit(0);
}

}  // namespace

int main(int argc, char** argv) {
    const char* szSocket = argc > 1 ? argv[1] : getenv("VK_SIMBOARD");
    if (!szSocket || !*szSocket) {
        fprintf(stderr, "uso: simboard SOCKET (o VK_SIMBOARD)\n");
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);
    struct sigaction sa {};
    sa.sa_handler = AlTerminar;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);

    int l = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un dir{};
    dir.sun_family = AF_UNIX;
    if (strlen(szSocket) >= sizeof(dir.sun_path)) {
        fprintf(stderr, "simboard: ruta de socket demasiado larga: %s\n", szSocket);
        return 2;
    }
    strcpy(dir.sun_path, szSocket);
    strcpy(acSocket, szSocket);
    unlink(szSocket);
    if (l < 0 || bind(l, reinterpret_cast<sockaddr*>(&dir), sizeof(dir)) < 0 || listen(l, 64) < 0) {
        fprintf(stderr, "simboard: no se puede escuchar en %s: %s\n", szSocket, strerror(errno));
        return 1;
    }
    chmod(szSocket, 0666);

    static CPlaca placa;  // outlives the detached connection threads
    RegistraModelos(placa);
    static CServidor servidor(placa);
    std::thread([] {
        for (;;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            placa.Mantenimiento();
        }
    }).detach();

    for (;;) {
        int s = accept4(l, nullptr, nullptr, SOCK_CLOEXEC);
        if (s < 0) {
            if (errno == EINTR) continue;
            fprintf(stderr, "simboard: accept: %s\n", strerror(errno));
            break;
        }
        std::thread([s] { servidor.Atiende(s); }).detach();
    }
    unlink(szSocket);
    _exit(1);  // connection threads may be blocked in reads: do not wait for them
}
