// DSP client of a resource process: the channel to the DSP service (opened when the core
// announces the service's pid), a table of at most four DSP resources, each bound to the
// line entity that asked for it, one request per DSP-service message and one forwarder per
// event, which hands the event to the owning entity.
//
// Results: 0 (or the new DSP resource id) success; the negative codes below otherwise.
// Nothing here logs: the entities log the failures of their requests.
#pragma once

#include <cstdint>

class CComeventos;

enum {
    LDSP_NO_INICIADO = -1,
    LDSP_SIN_SERVICIO = -2,
    LDSP_SIN_HUECO = -3,
    LDSP_ID_DESCONOCIDO = -4,
    LDSP_NO_ENVIADO = -5,
    LDSP_MAX_RECURSOS = 4,
};

int ldspInicia();
// Opens, replaces (every bound entity is told EvtDspLiberaRecurso) or, with -1, closes the
// channel to the DSP service of that pid.
int ldspCreaCanal(int32_t pid);
int ldspTemporiza();

// A new DSP resource for the entity. An entity whose previous request is still unanswered
// gives that one up: it never holds two outstanding requests.
int ldspArrancaRecurso(int32_t argumento, CComeventos* entidad);
int ldspLiberaRecurso(int32_t id);

int ldspTomaCanalIfTx(int32_t id, int32_t slot);
int ldspTomaCanalIfRx(int32_t id, int32_t slot);
int ldspTomaCanalHostTx(int32_t id, int32_t valor);
int ldspTomaCanalHostRx(int32_t id, int32_t valor);
int ldspQuitaCanalHostRx(int32_t id, int32_t valor);
int ldspTomaCodecIfTx(int32_t id, int32_t codec);
int ldspTomaCodecIfRx(int32_t id, int32_t codec);
int ldspTomaCodecHostTx(int32_t id, int32_t codec);
int ldspTomaCodecHostRx(int32_t id, int32_t codec);
int ldspTomaProtocolo(int32_t id, int32_t protocolo);
int ldspSelecCancelEcoTx(int32_t id, int32_t activo);
int ldspSelecCagTx(int32_t id, int32_t a, int32_t b);
int ldspSelecCagRx(int32_t id, int32_t a, int32_t b);
int ldspSelecVoxTx(int32_t id, int32_t activo, int32_t umbral);
int ldspSelecVoxRx(int32_t id, int32_t activo, int32_t umbral);
int ldspSelecDetCallProgress(int32_t id, int32_t a, int32_t b);
int ldspSelecDetDtmf(int32_t id, int32_t valor);
int ldspSelecDetCallerID(int32_t id, int32_t valor);
int ldspSelecBss(int32_t id, int32_t valor);
int ldspGeneraSecuenciaTonosTx(int32_t id, int32_t a, int32_t b);
int ldspGeneraSecuenciaTonosRx(int32_t id, int32_t a, int32_t b);
int ldspAnalizaBucle(int32_t id, int32_t a, int32_t b);
int ldspMarcaDtmf(int32_t id, const char* digitos, int32_t n);
int ldspMarcaSelcal(int32_t id, const char* digitos, int32_t n);
int ldspMarcaCcir(int32_t id, const char* digitos, int32_t n);
int ldspLlama(int32_t id, uint8_t prioridad, const char* origen, int32_t nOrigen,
              const char* destino, int32_t nDestino);
int ldspLibera(int32_t id);
int ldspRespondeLibre(int32_t id);
int ldspRespondeOcupado(int32_t id);
int ldspRespondeCongestion(int32_t id);
int ldspRespondeFueraDeServicio(int32_t id);
int ldspDescuelga(int32_t id);
int ldspBloquea(int32_t id);
int ldspIntervencion(int32_t id, int32_t prioridad, const char* origen, int32_t nOrigen,
                     const char* destino, int32_t nDestino, int32_t valor);
int ldspFinIntervencion(int32_t id);
int ldspAparca(int32_t id);
int ldspDesaparca(int32_t id);
int ldspTomaConfigLCEN(int32_t id, const void* bloque88);
int ldspTomaConfigR2(int32_t id, const void* bloque8);
int ldspTomaConfigN5(int32_t id, const void* bloque8);

// For the statistics and the tests.
int ldspNumRecursos();
int32_t ldspDamePid();

// One step of the set-up of a DSP resource: a request with one value.
struct PasoDsp {
    const char* szNombre;
    int (*fPide)(int32_t id, int32_t valor);
    int32_t iValor;
};
// Runs the steps in order until one fails: n when all went through, else the index of the
// failing step, whose result goes to *piError.
int ldspEjecutaPasos(int32_t id, const PasoDsp* asPasos, int n, int* piError);
