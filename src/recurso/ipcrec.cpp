#include "ipcrec.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "ccontextorecurso.h"
#include "centrec.h"
#include "comun/ganchosipc.h"
#include "comun/gestormutex.h"
#include "comun/nlog.h"
#include "ipc/cola.h"
#include "libdsp.h"
#include "sesionrec.h"

namespace {

constexpr uint32_t CLASES_LINEA = 0x3E;
constexpr uint32_t CLASES_TODAS = 0xFFFF;
constexpr int LIMITE_SILENCIO_S = 6;
constexpr int LATIDO_S = 2;
constexpr uint8_t COD_RESPUESTA_SALIENTE = 5;
constexpr int32_t DIAG_SIN_HUECO = 201;
constexpr int32_t DIAG_RECHAZADA = 207;

// Guards the channel pointer: every thread prints through it, main closes it at the end.
pthread_mutex_t gtMutex = PTHREAD_MUTEX_INITIALIZER;
Cola* gpCanal = nullptr;
std::atomic<int32_t> giPidNucleo{-1};  // read by the handlers without the lock
// Set before the channel opens.
CContextoRecurso* gpContexto = nullptr;
ManejadoresMarco gsMarco = {};

// Runs fEnvia on the channel under the lock; -1 without a channel.
template <typename F>
int Envia(F fEnvia) {
    cfgCerrojo c(&gtMutex);
    if (gpCanal == nullptr || giPidNucleo < 0) return -1;
    return fEnvia(*gpCanal);
}

// The console text hook: the length sent, 0 when nothing went (no channel, or the queue
// refused the text).
int EnviaTexto(const char* szTexto) {
    const int r = Envia([&](Cola& q) { return q.EnviaTraza("%s", szTexto) == 0 ? static_cast<int>(strlen(szTexto)) : 0; });
    return r < 0 ? 0 : r;
}

int Rec() { return gpContexto->iRec; }
const char* Palabra() { return gpContexto->szPalabra; }
CEntidadRC& Entidad() { return *gpContexto->pEntidad; }

// Handlers that only the core may drive: a stranger's message is traced and ignored.
bool DelNucleo(int32_t peer, const char* szMensaje) {
    if (peer == giPidNucleo) return true;
    IpcTraza(CLASES_LINEA, "IPCREC[%d]: %s con PID %d desconocido!!!\n", Rec(), szMensaje, peer);
    return false;
}

void EnviaDiagnosticoSaliente(int32_t id, int32_t iResultado) {
    const int e = ipcrecEnviaDiagnostico(COD_RESPUESTA_SALIENTE, id, iResultado);
    if (e != 0)
        IpcTraza(CLASES_TODAS, "%s[%d] ERROR %d al enviar Diagnostico llanmada saliente al vortik\n", Palabra(),
                 Rec(), e);
}

// ---- Call actions ----

void mlcLlamadaSaliente(int32_t id, const DatosLlamada* d) {
    IpcTraza(CLASES_LINEA, "%s[%d]: mlcLlamadaSaliente(%d)\n", Palabra(), Rec(), id);
    if (sesrecNumSesiones() >= MAX_SESIONES_REC) {
        IpcTraza(CLASES_LINEA, "%s[%d]: Demasiadas sesiones abiertas\n", Palabra(), Rec());
        EnviaDiagnosticoSaliente(id, DIAG_SIN_HUECO);
        return;
    }
    // The record's texts may arrive without their terminator.
    char szOrigen[sizeof d->acOrigen + 1] = {}, szDestino[sizeof d->acDestino + 1] = {};
    memcpy(szOrigen, d->acOrigen, sizeof d->acOrigen);
    memcpy(szDestino, d->acDestino, sizeof d->acDestino);
    if (Entidad().LlamadaSaliente(id, szOrigen, szDestino, d->ucPrioridad) != 0) {
        IpcTraza(CLASES_LINEA, "%s[%d]: Rechaza Llam Saliente Rec Ocupado\n", Palabra(), Rec());
        EnviaDiagnosticoSaliente(id, DIAG_RECHAZADA);
    } else {
        EnviaDiagnosticoSaliente(id, 0);
    }
}
void mlcFinLlamada(int32_t id) {
    IpcTraza(CLASES_LINEA, "%s[%d]: mlcFinLlamada(%d)\n", Palabra(), Rec(), id);
    if (Entidad().FinLlamada(id) != 0)
        IpcTraza(CLASES_LINEA, "%s[%d]: Error fin llamada\n", Palabra(), Rec());
    else
        IpcTraza(CLASES_LINEA, "%s[%d]: Fin Llamada \n", Palabra(), Rec());
}
void mrecRinging(int32_t id) {
    IpcTraza(CLASES_LINEA, "%s[%d]: mrecRinging (%d)\n", Palabra(), Rec(), id);
    if (Entidad().Ringing() != 0) IpcTraza(CLASES_LINEA, "%s[%d]: Error Ringing\n", Palabra(), Rec());
}
void mlcAceptaLlamada(int32_t id) {
    IpcTraza(CLASES_LINEA, "%s[%d]: mlcAceptaLlamada(%d)\n", Palabra(), Rec(), id);
    if (Entidad().AceptaLlamada() != 0) IpcTraza(CLASES_LINEA, "%s[%d]: Error AceptaLlamada\n", Palabra(), Rec());
}
void mrecRechazaLlamada(int32_t id, int32_t iMotivo) {
    IpcTraza(CLASES_LINEA, "%s[%d]: mrecRechazaLlamada(%d) motivo=%i\n", Palabra(), Rec(), id, iMotivo);
    if (Entidad().RechazaLlamada(id, iMotivo) != 0)
        IpcTraza(CLASES_LINEA, "%s[%d]: Error RechazaLlamada\n", Palabra(), Rec());
}
void mrecInfoLlamada(int32_t id, int32_t iMotivo) {
    IpcTraza(CLASES_LINEA, "%s[%d]: mrecInfoLlamada(%d)\n", Palabra(), Rec(), id);
    if (Entidad().InfoLlamada(id, iMotivo) != 0)
        IpcTraza(CLASES_LINEA, "%s[%d]: Error InfoLlamada\n", Palabra(), Rec());
}

// ---- Handlers of the core's messages ----

void EvtProcesoMuerto(int32_t peer) {
    if (peer != giPidNucleo) {
        IpcTraza(CLASES_LINEA, "IPC[?] / EvtProcesoMuerto con PID %d desconocido!!!\n", peer);
        return;
    }
    IpcTraza(CLASES_LINEA, "IPC[%d] / EvtProcesoMuerto\n", Rec());
    gsMarco.fPadreMuerto();
}
void EvtReset(int32_t peer) {
    if (peer != giPidNucleo) {
        IpcTraza(CLASES_LINEA, "[%d]IPC: RESET con PID %d desconocido!!!\n", Rec(), peer);
        return;
    }
    IpcTraza(CLASES_LINEA, "[%d]IPC: RESET\n", Rec());
}
void EvtTermina(int32_t) { Entidad().Termina(); }
void EvtPintaEstadisticas() {
    IpcTraza(CLASES_LINEA, "IPCREC[%d]: EvtPintaEstadisticas\n", Rec());
    gsMarco.fPintaEstadisticas();
}
void EvtTomaConfig(char* pcGeneral, cfgConfigRecurso* pRegistro) {
    IpcTraza(CLASES_LINEA, "IPCREC[%d]: EvtTomaConfig\n", Rec());
    gsMarco.fTomaConfig(pcGeneral, pRegistro);
}
void EvtLlamadaSaliente(int32_t peer, int32_t id, DatosLlamada* d) {
    if (!DelNucleo(peer, "EvtLlamadaSaliente")) return;
    IpcTraza(CLASES_LINEA, "IPCREC[%d]: EvtLlamadaSaliente\n", Rec());
    mlcLlamadaSaliente(id, d);
}
void EvtFinLlamada(int32_t peer, int32_t id, int32_t) {
    if (!DelNucleo(peer, "EvtFinLlamada")) return;
    IpcTraza(CLASES_LINEA, "IPCREC[%d]: EvtFinLlamada\n", Rec());
    mlcFinLlamada(id);
}
void EvtRinging(int32_t peer, int32_t id, int32_t) {
    if (!DelNucleo(peer, "EvtRinging")) return;
    IpcTraza(CLASES_LINEA, "IPCREC[%d]: EvtRinging %d\n", Rec(), id);
    mrecRinging(id);
}
void EvtAceptaLlamada(int32_t peer, int32_t id, int32_t) {
    if (!DelNucleo(peer, "EvtAceptaLLamada")) return;
    IpcTraza(CLASES_LINEA, "IPCREC[%d]: EvtAceptaLLamada %d\n", Rec(), id);
    mlcAceptaLlamada(id);
}
void EvtRechazaLlamada(int32_t peer, int32_t id, int32_t iMotivo) {
    if (!DelNucleo(peer, "EvtRechazaLLamada")) return;
    IpcTraza(CLASES_LINEA, "IPCREC[%d]: EvtRechazaLLamada %d. Motivo %d\n", Rec(), id, iMotivo);
    mrecRechazaLlamada(id, iMotivo);
}
void EvtIntervencion(int32_t peer, int32_t, DatosLlamada*) {
    if (!DelNucleo(peer, "EvtIntervencion")) return;
    IpcTraza(CLASES_LINEA, "IPCREC[%d]: EvtIntervencion\n", Rec());
}
void EvtAbortaIntervencion(int32_t peer, int32_t) {
    if (!DelNucleo(peer, "EvtAbortaIntervencion")) return;
    IpcTraza(CLASES_LINEA, "IPCREC[%d]: EvtAbortaIntervencion\n", Rec());
}
void EvtNuevaSesion(int32_t peer, int32_t id, DireccionSesion* pDir) {
    if (!DelNucleo(peer, "EvtNuevaSesion")) return;
    IpcTraza(CLASES_LINEA, "IPCREC[%d]: EvtNuevaSesion\n", Rec());
    mrecNuevaSesion(id, pDir);
}
void EvtModificaSesion(int32_t peer, int32_t id, DireccionSesion* pDir) {
    if (!DelNucleo(peer, "EvtModificaSesion")) return;
    IpcTraza(CLASES_LINEA, "IPCREC[%d]: EvtModificaSesion\n", Rec());
    mrecModificaSesion(id, pDir);
}
void EvtFinSesion(int32_t peer, int32_t id, int32_t) {
    if (!DelNucleo(peer, "EvtFinSesion")) return;
    IpcTraza(CLASES_LINEA, "IPCREC[%d]: EvtFinSesion\n", Rec());
    mrecFinSesion(id);
}
void EvtFinSesionPreemption(int32_t iPrioridad) {
    IpcTraza(CLASES_LINEA, "IPCREC[%d]: EvtFinSesionPreemption prioridad %i\n", Rec(), iPrioridad);
    mrecFinSesionPreemption(iPrioridad);
}
void EvtInfoLlamada(int32_t peer, int32_t id, int32_t iMotivo, int32_t) {
    if (!DelNucleo(peer, "ipcrecEvtInfoLLamada")) return;
    IpcTraza(CLASES_LINEA, "IPCREC[%d]: ipcrecEvtInfoLLamada %d. Motivo %d\n", Rec(), id, iMotivo);
    mrecInfoLlamada(id, iMotivo);
}
void EvtDebug(int32_t peer, int32_t iValor) {
    if (!DelNucleo(peer, "ipcrecDebug")) return;
    Entidad().Debug(iValor);
}
void EvtNivelConsola(int32_t iNivel) {
    IpcTraza(CLASES_LINEA, "IPCREC[%d]: EvtNivelConsola\n", Rec());
    FijaMascaraTrazaIpc(static_cast<uint32_t>(iNivel));
}
void EvtNivelIncidencias(int32_t iNivel) {
    IpcTraza(CLASES_LINEA, "IPCREC[%d]: EvtNivelIncidencias\n", Rec());
    gsMarco.fFijaNivelIncidencias(iNivel);
}
void EvtModoTest(int32_t) { IpcTraza(CLASES_LINEA, "IPCREC[%d]: EvtModoTest\n", Rec()); }
void EvtCreaCanalHermano(int32_t pid, uint8_t ucModo) {
    IpcTraza(CLASES_LINEA, "IPCREC[%d]: ipcrecEvtCreaCanalHermano PID=%d, Modo=%d\n", Rec(), pid, ucModo);
    if (ucModo != COLA_HERMANO_CLIENTE) return;
    const int r = ldspCreaCanal(pid);
    NLOG::Log(r == 0 ? NLOG::INFO : NLOG::ERROR, "IPCREC[%d]: canal con el servicio DSP %d (%d), pid %d", Rec(), pid, r,
              static_cast<int>(getpid()));
}

}  // namespace

void ipcrecFijaContexto(CContextoRecurso& contexto, const ManejadoresMarco& sMarco) {
    gpContexto = &contexto;
    gsMarco = sMarco;
}

int ipcrecIniciaCanal(int32_t pidNucleo) {
    {
        cfgCerrojo c(&gtMutex);
        if (gpCanal != nullptr && giPidNucleo >= 0) return -1;
    }
    Cola* pCanal = new Cola(pidNucleo, COLA_HIJO, LIMITE_SILENCIO_S, static_cast<int32_t>(getpid()));
    if (pCanal->DameCola() < 0) {
        delete pCanal;
        if (DameMascaraTrazaIpc() & CLASES_TODAS)
            printf("IPCREC[%d]: ERROR creando canal de comunicacion con vortik %d.\n\r", Rec(), pidNucleo);
        return -1;
    }
    // Handlers first: the receive thread already runs, and a message without one is dropped.
    {
        cfgCerrojo c(&gtMutex);
        giPidNucleo = pidNucleo;
    }
    pCanal->RegistraEvtReset(EvtReset);
    pCanal->RegistraEvtTermina(EvtTermina);
    pCanal->RegistraEvtPintaEstadisticas(EvtPintaEstadisticas);
    pCanal->RegistraEvtTomaConfig(EvtTomaConfig);
    pCanal->RegistraEvtLlamadaSaliente(EvtLlamadaSaliente);
    pCanal->RegistraEvtFinLlamada(EvtFinLlamada);
    pCanal->RegistraEvtRinging(EvtRinging);
    pCanal->RegistraEvtAceptaLlamada(EvtAceptaLlamada);
    pCanal->RegistraEvtRechazaLlamada(EvtRechazaLlamada);
    pCanal->RegistraEvtIntervencion(EvtIntervencion);
    pCanal->RegistraEvtAbortaIntervencion(EvtAbortaIntervencion);
    pCanal->RegistraEvtNuevaSesion(EvtNuevaSesion);
    pCanal->RegistraEvtModificaSesion(EvtModificaSesion);
    pCanal->RegistraEvtFinSesion(EvtFinSesion);
    pCanal->RegistraEvtFinSesionPreemption(EvtFinSesionPreemption);
    pCanal->RegistraEvtInfoLlamada(EvtInfoLlamada);
    pCanal->RegistraDebug(EvtDebug);
    pCanal->RegistraEvtNivelConsola(EvtNivelConsola);
    pCanal->RegistraEvtNivelIncidencias(EvtNivelIncidencias);
    pCanal->RegistraEvtModoTest(EvtModoTest);
    pCanal->RegistraEvtCreaCanalHermano(EvtCreaCanalHermano);
    {
        cfgCerrojo c(&gtMutex);
        gpCanal = pCanal;
    }
    FijaGanchoTextoIpc(EnviaTexto);
    pCanal->FijaLatido(LATIDO_S, EvtProcesoMuerto);
    return 0;
}

void ipcrecCierraCanal() {
    Cola* pCanal;
    {
        cfgCerrojo c(&gtMutex);
        if (gpCanal == nullptr || giPidNucleo < 0) return;
        pCanal = gpCanal;
        gpCanal = nullptr;
        giPidNucleo = -1;
    }
    // Outside the lock: Termina joins the receive thread, whose handlers print through it.
    pCanal->Termina();
    delete pCanal;
}

// Without the lock: the no-activity call-back prints through the channel. Main ticks and
// main closes, so the channel cannot go away under the tick.
int ipcrecTemporiza() {
    Cola* pCanal;
    {
        cfgCerrojo c(&gtMutex);
        pCanal = giPidNucleo >= 0 ? gpCanal : nullptr;
    }
    if (pCanal == nullptr) return -1;
    pCanal->Temporiza(1);
    return 0;
}

int ipcrecEnviaReset() { return Envia([](Cola& q) { return q.EnviaReset(), 0; }); }
int ipcrecEnviaDiagnostico(uint8_t c, int32_t a, int32_t b) {
    return Envia([&](Cola& q) { return q.EnviaDiagnostico(c, a, b), 0; });
}
int ipcrecEnviaFinSesion(int32_t id, int32_t v) { return Envia([&](Cola& q) { return q.EnviaFinSesionValor(id, v), 0; }); }
int ipcrecEnviaLlamadaEntrante(const DatosLlamada* d) {
    return Envia([&](Cola& q) { return q.EnviaLlamadaEntrante(d); });
}
int ipcrecEnviaAceptaLlamada(int32_t id) { return Envia([&](Cola& q) { return q.EnviaAceptaLlamada(id), 0; }); }
int ipcrecEnviaConversacionInterrumpida(int32_t id) {
    return Envia([&](Cola& q) { return q.EnviaConversacionInterrumpida(id), 0; });
}
int ipcrecEnviaRechazaLlamada(int32_t id, int32_t m) {
    return Envia([&](Cola& q) { return q.EnviaRechazaLlamada(id, m), 0; });
}
int ipcrecEnviaFinLlamada(int32_t id) { return Envia([&](Cola& q) { return q.EnviaFinLlamada(id), 0; }); }
int ipcrecEnviaFinLlamadaCausa(int32_t id, int32_t c) {
    return Envia([&](Cola& q) { return q.EnviaFinLlamadaCausa(id, c), 0; });
}
int ipcrecEnviaRinging(int32_t id, int32_t m) { return Envia([&](Cola& q) { return q.EnviaRingingMotivo(id, m), 0; }); }
int ipcrecEnviaInfoLlamada(int32_t id, int32_t m, int32_t v) {
    return Envia([&](Cola& q) { return q.EnviaInfoLlamadaValor(id, m, v), 0; });
}
int ipcrecEnviaSinConfig() { return Envia([](Cola& q) { return q.EnviaSinConfig(), 0; }); }
int ipcrecEnviaEstadoDsp(int32_t a, int32_t b) { return Envia([&](Cola& q) { return q.EnviaEstadoDsp(a, b), 0; }); }
int ipcrecEnviaNotificaEstado(const NotificacionEstado* e) {
    return Envia([&](Cola& q) { return q.EnviaNotificaEstadoRecurso(e), 0; });
}
