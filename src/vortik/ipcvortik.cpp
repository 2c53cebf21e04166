#include "ipcvortik.h"

#include <pthread.h>

#include "ipc/cola.h"
#include "csuperec.h"
#include "comun/gestormutex.h"
#include "red/tcpcons.h"

namespace {
constexpr int32_t MASCARA_TRAZA = 0x3E;
bool gbIniciado = false;
bool gbVaciado = false;
pthread_mutex_t gtMutex;  // guards the one drain of the queue

bool Traza() { return (superecNivelConsola() & MASCARA_TRAZA) != 0; }

// The supervisor of the sending child, or null after printing the event's unknown-pid text.
CSupervisorRecurso* Supervisor(int32_t pid, const char* szEvento, int* piIndice) {
    int i = IpcVortik::BuscaSupervisor(pid);
    if (i < 0) {
        if (Traza()) TcpCons::Printf("IPCPELM[?] / %s con PID %d desconocido!!!\n", szEvento, pid);
        return nullptr;
    }
    *piIndice = i;
    return &aoSupervisorRecurso[i];
}

void TrazaEvento(int i, const char* szEvento) {
    if (Traza()) TcpCons::Printf("IPCPELM[%d] / %s\n", i, szEvento);
}

// Routes one event to the sender's supervisor; with bTraza, prints its trace text after it.
template <typename F>
void Reparte(int32_t pid, const char* szEvento, bool bTraza, F f) {
    int i;
    CSupervisorRecurso* s = Supervisor(pid, szEvento, &i);
    if (s == nullptr) return;
    f(*s);
    if (bTraza) TrazaEvento(i, szEvento);
}

void EvtHijoMuerto(int32_t pid) {
    Reparte(pid, "EvtHijoMuerto", true, [](CSupervisorRecurso& s) { s.NotifHijoMuerto(); });
}
void EvtReset(int32_t pid) {
    Reparte(pid, "EvtReset", true, [](CSupervisorRecurso& s) { s.EvtReset(); });
}
void EvtSinConfig(int32_t pid) {
    Reparte(pid, "EvtSinConfig", true, [](CSupervisorRecurso& s) { s.EvtSinConfig(); });
}
void EvtFinSesion(int32_t pid, int32_t id, int32_t valor) {
    Reparte(pid, "EvtFinSesion", false, [&](CSupervisorRecurso& s) { s.EvtFinSesion(id, valor); });
}
void EvtLlamadaEntrante(int32_t pid, int32_t id, DatosLlamada* d) {
    Reparte(pid, "EvtLlamadaEntrante", true, [&](CSupervisorRecurso& s) { s.EvtLlamadaEntrante(id, d); });
}
void EvtRinging(int32_t pid, int32_t id, int32_t motivo) {
    Reparte(pid, "EvtRinging", true, [&](CSupervisorRecurso& s) { s.EvtRinging(id, motivo); });
}
void EvtAceptaLlamada(int32_t pid, int32_t id, int32_t) {
    Reparte(pid, "EvtAceptaLlamada", true, [&](CSupervisorRecurso& s) { s.EvtAceptaLlamada(id); });
}
void EvtRechazaLlamada(int32_t pid, int32_t id, int32_t motivo) {
    Reparte(pid, "EvtRechazaLlamada", true, [&](CSupervisorRecurso& s) { s.EvtRechazaLlamada(id, motivo); });
}
void EvtFinLlamada(int32_t pid, int32_t id, int32_t causa) {
    Reparte(pid, "EvtFinLlamada", true, [&](CSupervisorRecurso& s) { s.EvtFinLlamada(id, causa); });
}
void EvtConversacionInterrumpida(int32_t pid, int32_t id) {
    Reparte(pid, "EvtConversacionInterrumpida", true,
            [&](CSupervisorRecurso& s) { s.EvtConversacionInterrumpida(id); });
}
void EvtDiagnostico(int32_t pid, uint8_t codigo, int32_t id, int32_t resultado) {
    Reparte(pid, "EvtDiagnostico", false, [&](CSupervisorRecurso& s) { s.EvtDiagnostico(codigo, id, resultado); });
}
void EvtNotificaEstadoRecurso(int32_t pid, NotificacionEstado* e) {
    Reparte(pid, "EvtNotificaEstadoRecurso", false, [&](CSupervisorRecurso& s) { s.EvtNotificaEstadoRecurso(e); });
}
void EvtInfoLlamada(int32_t pid, int32_t id, int32_t motivo, int32_t aux) {
    Reparte(pid, "EvtInfoLlamada", true, [&](CSupervisorRecurso& s) { s.EvtInfoLlamada(id, motivo, aux); });
}
void EvtTraza(int32_t, char* texto) {
    if (texto) TcpCons::Printf("%s", texto);
}
void EvtMensaje23(int32_t, uint8_t, int32_t, char*, int32_t, char*, int32_t, int32_t, uint8_t) {}
}  // namespace

namespace IpcVortik {

void Inicia() {
    if (gbIniciado) return;
    CreaMutex("IpcVortik.tMutex", &gtMutex, nullptr);
    gbVaciado = false;
    gbIniciado = true;
}

Cola* RegistraCallbacks(Cola* c) {
    if (!gbIniciado || c == nullptr) return c;
    VaciaUnaVez(c);
    c->FijaLatido(6, EvtHijoMuerto);
    c->RegistraEvtReset(EvtReset);
    c->RegistraEvtSinConfig(EvtSinConfig);
    c->RegistraEvtFinSesion(EvtFinSesion);
    c->RegistraEvtLlamadaEntrante(EvtLlamadaEntrante);
    c->RegistraEvtRinging(EvtRinging);
    c->RegistraEvtAceptaLlamada(EvtAceptaLlamada);
    c->RegistraEvtRechazaLlamada(EvtRechazaLlamada);
    c->RegistraEvtFinLlamada(EvtFinLlamada);
    c->RegistraEvtConversacionInterrumpida(EvtConversacionInterrumpida);
    c->RegistraEvtDiagnostico(EvtDiagnostico);
    c->RegistraEvtNotificaEstadoRecurso(EvtNotificaEstadoRecurso);
    c->RegistraEvtInfoLlamada(EvtInfoLlamada);
    c->RegistraEvtTraza(EvtTraza);
    c->RegistraEvtMensaje23(EvtMensaje23);
    return c;
}

void VaciaUnaVez(Cola* c) {
    if (!gbIniciado || c == nullptr) return;
    pthread_mutex_lock(&gtMutex);
    if (!gbVaciado) {
        VaciaCola(c);
        gbVaciado = true;
    }
    pthread_mutex_unlock(&gtMutex);
}

int BuscaSupervisor(int32_t iPid) {
    if (iPid <= 0) return -1;  // -1 and 0 are the supervisors without a child
    for (int i = 0; i < CFG_NUM_RECURSOS; ++i)
        if (aoSupervisorRecurso[i].iPidHijo.load() == iPid) return i;
    return -1;
}

}  // namespace IpcVortik
