// DSP client of a resource process: the channel to the DSP service (opened when the core
// announces the service's pid), a table of at most four DSP resources, each bound to the
// line entity that asked for it, one request per DSP-service message and one forwarder per
// event, which hands the event to the owning entity.
//
// Results: 0 (or the new DSP resource id) success; the negative codes below otherwise.
// Nothing here logs: the entities log the failures of their requests.
#pragma once

#include <cstdint>

#include "ipc/comandosdsp.h"

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

// One request per DSP command (ipc/comandosdsp.h): ldspTomaCanalIfTx(id, slot) ...
#define VK_LDSP_PARAMETROS_SIN_VALOR int32_t id
#define VK_LDSP_PARAMETROS_SIN_VALOR_ANOTADO int32_t id
#define VK_LDSP_PARAMETROS_VALOR int32_t id, int32_t v
#define VK_LDSP_PARAMETROS_DOS_VALORES int32_t id, int32_t a, int32_t b
#define VK_LDSP_PARAMETROS_BUCLE int32_t id, int32_t a, int32_t b
#define VK_LDSP_PARAMETROS_DIGITOS int32_t id, const char* digitos, int32_t n
#define VK_LDSP_PARAMETROS_LLAMA \
    int32_t id, uint8_t prioridad, const char* origen, int32_t nOrigen, const char* destino, int32_t nDestino
#define VK_LDSP_PARAMETROS_INTERVENCION \
    int32_t id, int32_t prioridad, const char* origen, int32_t nOrigen, const char* destino, int32_t nDestino, int32_t v
#define VK_LDSP_PARAMETROS_BLOQUE_LCEN int32_t id, const void* bloque88
#define VK_LDSP_DECLARA(a, ldsp, nombre, NOMBRE, cola, manejador, metodo, dsp, forma) \
    int ldsp(VK_LDSP_PARAMETROS_##forma);
VK_COMANDOS_DSP(VK_LDSP_DECLARA, _)
#undef VK_LDSP_DECLARA
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
