// A made-up resource process for the DSP service's tests: on its own channel to the service it
// asks for a DSP channel, gives it back once granted, and asks again, for ever. Every grant
// writes one byte on the descriptor given, so that the test knows the process is served.
//   recurso_dsp_falso <service pid> <descriptor>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

#include "ipc/cola.h"

namespace {

constexpr int ESPERA_RESPUESTA_MS = 20;

Cola* gpCola = nullptr;
int giAviso = -1;
std::atomic<int> giRespuestas{0}, giConcedidos{0};

void Concedido(int32_t, int32_t) {
    ++giConcedidos;
    ++giRespuestas;
    const char c = 'c';
    if (write(giAviso, &c, 1) < 0) {
        // The test reads only when it waits: a full pipe just loses the byte.
    }
}

// A refusal, or the channel taken back.
void Liberado(int32_t, int32_t) { ++giRespuestas; }

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const int32_t iServicio = std::atoi(argv[1]);
    giAviso = std::atoi(argv[2]);
    fcntl(giAviso, F_SETFL, O_NONBLOCK);
    Cola c(iServicio, COLA_HERMANO_CLIENTE, 0, static_cast<int32_t>(getpid()));
    gpCola = &c;
    c.RegistraEvtDspRecursoCreado(Concedido);
    c.RegistraLiberaRecurso(Liberado);
    // Every tick of this end sends a heartbeat, one after each request: a new channel on the
    // service side learns the silence limit from it.
    c.FijaLatido(1, nullptr);
    // Each round asks first and gives back the channel of the round before after: what a
    // process resumed while it waited sends first is a request.
    int32_t idAnterior = -1;
    for (;;) {
        const int iAntes = giRespuestas, iConcedidos = giConcedidos;
        int32_t id = -1;
        c.EnviaArrancaRecursoId(0, &id);
        c.Temporiza(0);
        if (idAnterior >= 0) c.EnviaLiberaRecurso(idAnterior);
        idAnterior = -1;
        for (int i = 0; i < ESPERA_RESPUESTA_MS * 10 && giRespuestas == iAntes; i++) usleep(100);
        // Granted: given back next round. Unanswered: the request went down with a closed
        // channel, its id is given up. A refusal has freed the id already.
        if (giConcedidos != iConcedidos)
            idAnterior = id;
        else if (giRespuestas == iAntes && id >= 0)
            c.EnviaLiberaRecurso(id);
    }
}
