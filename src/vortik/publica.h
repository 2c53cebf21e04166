// State publication: the own resources' states sent to the other gateways by UDP multicast,
// and the table of what the other gateways publish. One object, created by ArrancaMulticast.
//
// Packet `PaquetePublica` (every integer a 32-bit big-endian word):
//   0 type (1) | 4 sender name, 36 bytes (at most 32 characters) | 40 n (0-16) | 44 table version
//   48 + 60 i: entry i: 0 name, 36 bytes | 36 category | 40 entry version | 44 state
//              48 priority | 52 second datum | 56 third datum
// sent to acGrupoMulticast, port uiPuertoMulticast + 1, every 5 s and at once on Despierta.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>

enum {
    PUB_MAX_PROPIAS = 16,
    PUB_MAX_PASARELAS = 64,
    PUB_MAX_ENTRADAS = 16,
    PUB_LON_CABECERA = 48,
    PUB_LON_ENTRADA = 60,
    PUB_LON_NOMBRE = 32,      // significant characters of a name on the wire
    PUB_TAM_BUFFER = 1584,
    PUB_ESTADO_NO_PUBLICADO = 10,
    PUB_VIDA = 5,             // ageing passes a gateway survives without a packet
    PUB_TICKS_ENVEJECE = 30,  // 3 s
    PUB_MS_PERIODO = 5000,
};

// Group and port of the exchange until the configuration gives others.
extern const char* const kGrupoMulticastDefecto;
enum { PUERTO_MULTICAST_DEFECTO = 1000 };
// Whether a configured group is an IPv4 multicast group, and whether a configured port leaves
// room for its + 1 (the port reception binds and publication sends to).
bool mcastGrupoValido(const char* szGrupo);
bool mcastPuertoValido(uint32_t uiPuerto);

// The group and port (not port + 1) the multicast reception is on.
typedef void (*FnGrupoRecepcion)(char acGrupo[65], uint16_t* pusPuerto);

// A published entry of another gateway (the wire entry, integers in host order).
struct EntradaPublica {
    char acNombre[36];  // at most 32 characters, NUL-padded; empty = free entry
    uint32_t uiCategoria;
    uint32_t uiVersion;
    uint32_t uiEstado;
    uint32_t uiPrioridad;
    uint32_t uiDato2;
    uint32_t uiDato3;
};
static_assert(sizeof(EntradaPublica) == PUB_LON_ENTRADA, "wire entry");

// What is known of another gateway.
struct RegistroPasarela {
    char acNombre[36];  // 32 characters and a zero word; empty = free record
    uint32_t uiCero;
    uint32_t uiVersion;  // table version of the last packet applied
    int32_t iVida;       // PUB_VIDA at each packet, counted down by the ageing
    EntradaPublica asEntradas[PUB_MAX_ENTRADAS];
};
static_assert(sizeof(RegistroPasarela) == 48 + PUB_MAX_ENTRADAS * PUB_LON_ENTRADA, "gateway record");

class CPublica {
public:
    // Starts the publishing thread unless bHilo is false (tests drive PasadaPublica by hand).
    // While the configuration names no group, packets go to reception's group (fGrupo), or to
    // the default group and port without reception.
    explicit CPublica(const char* szNombre, bool bHilo = true, FnGrupoRecepcion fGrupo = nullptr);
    CPublica(const CPublica&) = delete;
    CPublica& operator=(const CPublica&) = delete;

    // ---- Own resources ----
    // Category 1 line resource, 2 hot line; 0, or -1 for an index of 16 or more.
    int AltaRecurso(const char* szNombre, int iCategoria, int iIndice);
    int BajaRecurso(const char* szNombre);
    int BorraRecurso(int iIndice);
    // The bridge's 20-byte state record: byte 1 state, bytes 4-15 priority and two data words
    // (host order, as the resource process sent it). 0, or -1 when the resource cannot be
    // registered.
    int ActualizaPublica(const char* szNombre, const uint8_t* pRegistro, int iCategoria, int iIndice);
    // The publishing thread builds and sends a packet at once.
    void Despierta();
    // The state this gateway publishes for its resource szRecurso, as another gateway reads it;
    // null when none. A copy owned by the calling thread, valid until its next call.
    const EntradaPublica* DameEstadoPropio(const char* szRecurso);

    // ---- Other gateways ----
    // The entry named szRecurso published by gateway szQln (any gateway, in table order, when
    // null or empty); null when none. The result is a copy owned by the calling thread, valid
    // until its next call.
    const EntradaPublica* DameEstadoRecurso(const char* szQln, const char* szRecurso);
    // Applies one received datagram; 0 applied, -1 ignored.
    int ActualizaInfoEstado(const uint8_t* pPaquete, int iLong);
    // Frees the first entry named szRecurso of gateway szQln; 0, or -1 when not found.
    int BajaInfoEstadoRecurso(const char* szQln, const char* szRecurso);
    // Console dump of the table of other gateways; 0.
    int PintaPublica();
    // A copy of gateway szQln's record; false when it is not in the table.
    bool DamePasarela(const char* szQln, RegistroPasarela* psCopia);

    // ---- Publishing ----
    // Builds the packet into pBuf (PUB_TAM_BUFFER bytes); returns its length.
    int ConstruyePaquetePublica(uint8_t* pBuf);
    // Sends it unless the board is standby or iCfgModoSistema is 1; 0, or -1 on a failed send.
    int EnviaPublica(const uint8_t* pBuf, int iLong);
    // One pass of the publishing thread: ageing timer re-armed when it is not, build, send.
    void PasadaPublica();
    // Arms the 3 s ageing on the core's timer object when it is not armed; 0, or -1.
    int ArmaEnvejecimiento();
    // Ageing pass (timer call-back, the object in a1).
    static uintptr_t EnvejeceTabla(uintptr_t a1, uintptr_t a2, uintptr_t a3);

    uint32_t DameVersion();
    int DameTempEnvejece() const { return iTempEnvejece; }

    struct EntradaPropia {
        char acNombre[65];  // empty = free entry
        int32_t iCero;
        int32_t iCategoria;
        uint32_t uiVersion;
        int32_t iEstado;
        int32_t iPrioridad;
        uint32_t uiDato2;
        uint32_t uiDato3;
        uint8_t ucSucio;  // changed since the last packet build
    };

private:
    static void* HiloPublica(void* pObjeto);
    void Bucle();
    RegistroPasarela* BuscaPasarela(const char* szQln);
    int QuitaEntrada(RegistroPasarela* psReg, const char* szRecurso);

    char acNombre[65];
    int32_t iCambiado;
    uint32_t uiVersion;
    EntradaPropia asPropias[PUB_MAX_PROPIAS];
    RegistroPasarela asPasarelas[PUB_MAX_PASARELAS];
    pthread_mutex_t tMutexDatos;    // guards acNombre, iCambiado, uiVersion and asPropias
    pthread_mutex_t tMutexTabla;    // guards asPasarelas
    pthread_mutex_t tMutexPublica;  // guards bDespertar, with cCondicion
    pthread_cond_t cCondicion;
    bool bDespertar;  // a wake-up that came while the thread was not waiting is kept
    pthread_t tHilo;
    int iSocket;
    FnGrupoRecepcion fGrupoRecepcion;
    std::atomic<int> iTempEnvejece;  // slot of the ageing timer, -1 when not armed
};

// Null until ArrancaMulticast has built the object.
extern CPublica* poPublica;
