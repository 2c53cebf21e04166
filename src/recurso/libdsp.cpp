// DSP client. One lock guards the table, the count, the pid and the channel pointer. It is
// held across every send, because the core channel's thread may replace the channel at any
// moment (sends never block), and never while an entity's handler runs.
#include "libdsp.h"

#include <pthread.h>
#include <unistd.h>

#include "cfg/cfgpasarela.h"
#include "hardware/ccomeventos.h"
#include "comun/gestormutex.h"
#include "ipc/cola.h"

namespace {

struct EntradaDsp {
    int32_t id = -1;            // -1: free
    CComeventos* pEntidad = nullptr;
    bool bCreado = false;       // the DSP service answered EvtDspRecursoCreado
};

bool gbIniciado = false;
pthread_mutex_t gtMutex;
Cola* gpCanal = nullptr;
int32_t giPid = -1;
int giEnUso = 0;
EntradaDsp gasTabla[LDSP_MAX_RECURSOS];

// Under the lock.
int Busca(int32_t id) {
    if (id < 0) return -1;
    for (int i = 0; i < LDSP_MAX_RECURSOS; ++i)
        if (gasTabla[i].id == id) return i;
    return -1;
}
void Libera(int i) {
    gasTabla[i] = EntradaDsp();
    if (giEnUso > 0) --giEnUso;
}

// One request on a resource of the table: lookup and send under the lock.
template <typename F>
int Pide(int32_t id, F fEnvia) {
    if (!gbIniciado) return LDSP_NO_INICIADO;
    cfgCerrojo c(&gtMutex);
    if (gpCanal == nullptr || giPid < 0) return LDSP_SIN_SERVICIO;
    if (Busca(id) < 0) return LDSP_ID_DESCONOCIDO;
    return fEnvia(*gpCanal) == 0 ? 0 : LDSP_NO_ENVIADO;
}

// The owner of an event's resource, or none for a stranger's pid or an id not held.
CComeventos* Dueno(int32_t peer, int32_t id) {
    cfgCerrojo c(&gtMutex);
    if (peer != giPid || giPid < 0) return nullptr;
    int i = Busca(id);
    return i < 0 ? nullptr : gasTabla[i].pEntidad;
}

void SinActividad(int32_t) {}

void EvRecursoCreado(int32_t peer, int32_t id) {
    CComeventos* e = nullptr;
    {
        cfgCerrojo c(&gtMutex);
        if (peer != giPid || giPid < 0 || gpCanal == nullptr) return;
        int i = Busca(id);
        if (i < 0) {
            // One of ours that nobody waits for any more (given up): without this the DSP
            // service would keep a channel working for nobody. Another's id is only ignored:
            // releasing it would free the slot of a live id of ours.
            if (id / 10000 == gpCanal->DamePropio()) gpCanal->EnviaLiberaRecurso(id);
            return;
        }
        gasTabla[i].bCreado = true;
        e = gasTabla[i].pEntidad;
    }
    if (e) e->EvtDspRecursoCreado(id);
}
void EvLiberaRecurso(int32_t peer, int32_t id) {
    CComeventos* e = nullptr;
    {
        cfgCerrojo c(&gtMutex);
        if (peer != giPid || giPid < 0) return;
        int i = Busca(id);
        if (i < 0) return;
        e = gasTabla[i].pEntidad;
        Libera(i);
    }
    if (e) e->EvtDspLiberaRecurso();
}
void EvDigitoDtmf(int32_t p, int32_t id, uint8_t d, int32_t v) {
    if (CComeventos* e = Dueno(p, id)) e->EvtDspDigitoDtmf(d, v);
}
void EvSelcal(int32_t p, int32_t id, uint8_t d, int32_t v) {
    if (CComeventos* e = Dueno(p, id)) e->EvtDspSelcal(d, v);
}
void EvCallerId(int32_t p, int32_t id, uint8_t* b, int32_t n) {
    if (CComeventos* e = Dueno(p, id)) e->EvtDspCallerId(n, reinterpret_cast<const char*>(b));
}
void EvVoxTx(int32_t p, int32_t id, int32_t a, int32_t b) {
    if (CComeventos* e = Dueno(p, id)) e->EvtDspVoxTx(a, b);
}
void EvVoxRx(int32_t p, int32_t id, int32_t a, int32_t b) {
    if (CComeventos* e = Dueno(p, id)) e->EvtDspVoxRx(a, b);
}
void EvCallProgress(int32_t p, int32_t id, int32_t v) {
    if (CComeventos* e = Dueno(p, id)) e->EvtDspCallProgress(v);
}
void EvEvento84(int32_t p, int32_t id, int32_t v) {
    if (CComeventos* e = Dueno(p, id)) e->EvtDspEvento84(v);
}
void EvBucle(int32_t p, int32_t id, int32_t a, int32_t b) {
    if (CComeventos* e = Dueno(p, id)) e->EvtDspBucle(a, b);
}
void EvErrorInterno(int32_t p, int32_t id, int32_t v) {
    if (CComeventos* e = Dueno(p, id)) e->EvtDspErrorInterno(v);
}
void EvLlama(int32_t p, int32_t id, int32_t prioridad, uint8_t* o, int32_t no, uint8_t* d, int32_t nd) {
    if (CComeventos* e = Dueno(p, id))
        e->EvtDspLlamadaEntrante(prioridad, reinterpret_cast<const char*>(o), no,
                                 reinterpret_cast<const char*>(d), nd);
}
void EvFinLlamada(int32_t p, int32_t id, int32_t causa) {
    if (CComeventos* e = Dueno(p, id)) e->EvtDspLlamadaLiberada(causa);
}

// Events without values: one forwarder per entity handler.
template <int (CComeventos::*M)()>
void EvSimple(int32_t p, int32_t id) {
    if (CComeventos* e = Dueno(p, id)) (e->*M)();
}

}  // namespace

int ldspInicia() {
    if (gbIniciado) return 0;
    CreaMutex("libdsp.tMutex", &gtMutex, nullptr);
    gpCanal = nullptr;
    giPid = -1;
    giEnUso = 0;
    for (auto& e : gasTabla) e = EntradaDsp();
    gbIniciado = true;
    return 0;
}

int ldspCreaCanal(int32_t pid) {
    if (!gbIniciado) return LDSP_NO_INICIADO;
    if (pid < -1) pid = -1;
    Cola* pViejo = nullptr;
    {
        cfgCerrojo c(&gtMutex);
        if (pid == giPid) return 0;
        pViejo = gpCanal;
        gpCanal = nullptr;
        giPid = -1;
    }
    // The resources lived in the old service: every owner learns they are gone.
    for (auto& entrada : gasTabla) {
        CComeventos* e = nullptr;
        {
            cfgCerrojo c(&gtMutex);
            if (entrada.id >= 0) e = entrada.pEntidad;
            entrada = EntradaDsp();
        }
        if (e) e->EvtDspLiberaRecurso();
    }
    {
        cfgCerrojo c(&gtMutex);
        giEnUso = 0;
    }
    // Outside the lock: Termina joins the receive thread, whose forwarders take it.
    if (pViejo) {
        pViejo->Termina();
        delete pViejo;
    }
    if (pid == -1) return 0;

    Cola* pNuevo = new Cola(pid, COLA_HERMANO_CLIENTE, 0, static_cast<int32_t>(getpid()));
    if (pNuevo->DameCola() < 0) {
        delete pNuevo;
        return LDSP_NO_ENVIADO;
    }
    pNuevo->FijaLatido(2, SinActividad);
    pNuevo->RegistraEvtDspRecursoCreado(EvRecursoCreado);
    pNuevo->RegistraLiberaRecurso(EvLiberaRecurso);
    pNuevo->RegistraEvtDigitoDtmf(EvDigitoDtmf);
    pNuevo->RegistraEvtSelcal(EvSelcal);
    pNuevo->RegistraEvtCallerId(EvCallerId);
    pNuevo->RegistraSelecVoxTx(EvVoxTx);
    pNuevo->RegistraSelecVoxRx(EvVoxRx);
    pNuevo->RegistraEvtCallProgress(EvCallProgress);
    pNuevo->RegistraEvtDspEvento84(EvEvento84);
    pNuevo->RegistraEvtBucle(EvBucle);
    pNuevo->RegistraEvtErrorInterno(EvErrorInterno);
    pNuevo->RegistraEvtDspReposo(EvSimple<&CComeventos::EvtDspReposo>);
    pNuevo->RegistraRespondeLibre(EvSimple<&CComeventos::EvtDspLlamadoLibre>);
    pNuevo->RegistraRespondeOcupado(EvSimple<&CComeventos::EvtDspLlamadoOcupado>);
    pNuevo->RegistraDescuelga(EvSimple<&CComeventos::EvtDspLlamadoDescuelga>);
    pNuevo->RegistraLlama(EvLlama);
    pNuevo->RegistraEvtFinLlamada(EvFinLlamada);
    pNuevo->RegistraRespondeCongestion(EvSimple<&CComeventos::EvtDspCongestion>);
    pNuevo->RegistraRespondeFueraDeServicio(EvSimple<&CComeventos::EvtDspFueraServicio>);
    pNuevo->RegistraEvtDspConversacionInterrumpida(EvSimple<&CComeventos::EvtDspConversacionInterrumpida>);
    pNuevo->RegistraEvtDspLineaBloqueada(EvSimple<&CComeventos::EvtDspLineaBloqueada>);
    pNuevo->RegistraEvtDspTimeout(EvSimple<&CComeventos::EvtDspTimeout>);
    pNuevo->RegistraEvtDspErrorProtocolo(EvSimple<&CComeventos::EvtDspErrorProtocolo>);
    cfgCerrojo c(&gtMutex);
    gpCanal = pNuevo;
    giPid = pid;
    return 0;
}

int ldspTemporiza() {
    if (!gbIniciado) return LDSP_NO_INICIADO;
    cfgCerrojo c(&gtMutex);
    if (gpCanal == nullptr) return LDSP_SIN_SERVICIO;
    gpCanal->Temporiza(1);
    return 0;
}

int ldspArrancaRecurso(int32_t argumento, CComeventos* entidad) {
    if (!gbIniciado) return LDSP_NO_INICIADO;
    cfgCerrojo c(&gtMutex);
    if (gpCanal == nullptr || giPid < 0) return LDSP_SIN_SERVICIO;
    // A request still unanswered is given up: its answer, if any, finds no entry and the
    // resource is released then.
    for (int i = 0; i < LDSP_MAX_RECURSOS; ++i) {
        if (gasTabla[i].id >= 0 && gasTabla[i].pEntidad == entidad && !gasTabla[i].bCreado) {
            gpCanal->LiberaIdRecurso(gasTabla[i].id);
            Libera(i);
        }
    }
    if (giEnUso >= LDSP_MAX_RECURSOS) return LDSP_SIN_HUECO;
    int i = 0;
    while (i < LDSP_MAX_RECURSOS && gasTabla[i].id >= 0) ++i;
    if (i == LDSP_MAX_RECURSOS) return LDSP_SIN_HUECO;
    int32_t id = -1;
    if (gpCanal->EnviaArrancaRecursoId(argumento, &id) < 0 || id < 0) return LDSP_NO_ENVIADO;
    gasTabla[i].id = id;
    gasTabla[i].pEntidad = entidad;
    gasTabla[i].bCreado = false;
    ++giEnUso;
    return id;
}

int ldspLiberaRecurso(int32_t id) {
    if (!gbIniciado) return LDSP_NO_INICIADO;
    cfgCerrojo c(&gtMutex);
    if (gpCanal == nullptr || giPid < 0) return LDSP_SIN_SERVICIO;
    int i = Busca(id);
    if (i < 0) return LDSP_ID_DESCONOCIDO;
    Libera(i);
    return gpCanal->EnviaLiberaRecurso(id) == 0 ? 0 : LDSP_NO_ENVIADO;
}

#define LDSP_ARGUMENTOS_SIN_VALOR id
#define LDSP_ARGUMENTOS_SIN_VALOR_ANOTADO id
#define LDSP_ARGUMENTOS_VALOR id, v
#define LDSP_ARGUMENTOS_DOS_VALORES id, a, b
#define LDSP_ARGUMENTOS_BUCLE id, a, b
#define LDSP_ARGUMENTOS_DIGITOS id, digitos, n
#define LDSP_ARGUMENTOS_LLAMA id, prioridad, origen, nOrigen, destino, nDestino
#define LDSP_ARGUMENTOS_INTERVENCION id, prioridad, origen, nOrigen, destino, nDestino, v
#define LDSP_ARGUMENTOS_BLOQUE_LCEN id, bloque88
#define LDSP_PIDE(a, ldsp, nombre, NOMBRE, cola, manejador, metodo, dsp, forma)              \
    int ldsp(VK_LDSP_PARAMETROS_##forma) {                                                   \
        return Pide(id, [&](Cola& q) { return q.Envia##nombre(LDSP_ARGUMENTOS_##forma); }); \
    }
VK_COMANDOS_DSP(LDSP_PIDE, _)
int ldspTomaConfigR2(int32_t id, const void* b) { return Pide(id, [&](Cola& q) { return q.EnviaTomaConfigR2(id, b); }); }
int ldspTomaConfigN5(int32_t id, const void* b) { return Pide(id, [&](Cola& q) { return q.EnviaTomaConfigN5(id, b); }); }

int ldspNumRecursos() {
    if (!gbIniciado) return 0;
    cfgCerrojo c(&gtMutex);
    return giEnUso;
}

int32_t ldspDamePid() {
    if (!gbIniciado) return -1;
    cfgCerrojo c(&gtMutex);
    return giPid;
}

int ldspEjecutaPasos(int32_t id, const PasoDsp* asPasos, int n, int* piError) {
    for (int i = 0; i < n; ++i) {
        const int r = asPasos[i].fPide(id, asPasos[i].iValor);
        if (r != 0) {
            *piError = r;
            return i;
        }
    }
    return n;
}
