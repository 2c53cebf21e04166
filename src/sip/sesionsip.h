// Records of the SIP user agent: one SIP session (a call or dialog), the codec list and the
// SIP user. Plain fixed-size records: the application reads and writes a session only as a
// whole copy through the user agent.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "sip/temporizadorsesion.h"

// Copies s (null: empty) into the n bytes of d, cut to fit and always terminated.
inline void CopiaTextoSip(char* d, size_t n, const char* s) {
    if (!d || n == 0) return;
    const size_t l = s ? strnlen(s, n - 1) : 0;
    if (l) std::memmove(d, s, l);
    d[l] = '\0';
}

// Registration states of a SIP user.
enum EstadoRegistro {
    SIP_REGEST_REPOSO = 0,
    SIP_REGEST_REGISTRANDO = 1,
    SIP_REGEST_DENEGADO = 2,
    SIP_REGEST_OK = 3
};

// Kind of SIP user; selects its WG67-Version text.
enum TipoUsuarioSip {
    SIP_USR_RADIO = 0,
    SIP_USR_TELEFONO = 1,
    SIP_USR_ATSR2 = 2,
    SIP_USR_ATSN5 = 3,
    SIP_USR_LCEN = 4,
    SIP_USR_NINGUNO = 5
};

// RTP payload numbers in order of preference.
struct ListaCodecs {
    enum { MAX_CODECS = 8 };
    int32_t aiPayload[MAX_CODECS];
    int32_t iNum;       // at most MAX_CODECS
    int32_t iMejor;     // list index of the best match so far, -1 none
    int32_t iElegido;   // chosen payload, -1 none

    void Fija(const int32_t* piPayloads, int iCuantos);
    void ReiniciaMarca() { iMejor = iElegido = -1; }
    // An offered payload: the lowest list index holding it wins, so the list's order
    // decides, not the offer's.
    void Marca(int32_t iPayload);
    bool Contiene(int32_t iPayload) const;
};

struct UsuarioSipua {
    char acNombre[129];  // empty: free record
    ListaCodecs sCodecs;
    uint8_t ucRegistrar;
    uint32_t uiProximoRegistro;  // ticks of 10 ms
    int32_t iEstadoRegistro;     // EstadoRegistro
    int32_t iRid;
    int32_t iTipo;               // TipoUsuarioSip
    char acClave[65];            // digest password of REGISTER, empty: none configured
};

// Direction codes of a media: 0 sendrecv or none, 1 sendonly, 2 recvonly, 3 inactive.
enum { SDP_SENDRECV = 0, SDP_SENDONLY = 1, SDP_RECVONLY = 2, SDP_INACTIVE = 3 };

struct SesionSip {
    int32_t cid;        // key of the table; -1 while an outgoing call is being built
    int32_t did;        // -1 until known
    int32_t tid;        // last INVITE or re-INVITE server transaction
    int32_t iUsuario;   // -1 unknown
    char acRazon[51];   // reason phrase of the last response
    int32_t iCodigo;    // and its status code
    int32_t iRadio;     // 1: accepted by the application as a radio session
    char acCallId[81];
    char acContacto[81];     // Contact of the 200 to an outgoing INVITE
    char acDescripcion[81];  // text of the last event
    char acLocal[81];        // local party
    char acRemoto[81];       // peer
    char acPAsserted[82];
    char acSubject[81];
    char acPrioridad[81];
    uint8_t incomming_priority;
    int32_t iMarca;     // last event type; 0 = free record, -1 just allocated
    // Remote media summary.
    char acDirRemota[65];
    int32_t iPuertoRemoto;
    int32_t iPuertoLocal;
    int32_t iPayload;   // -1: no common codec
    int32_t iDirLocal;
    int32_t iDirRemota;
    int32_t iTipoSesion;  // 0 Radio-TxRx or Radio, 1 Radio-RxOnly, 2 Coupling, 3 Radio-Idle
    char acSupported[82];
    char acSessionExpires[82];
    TemporizadorSesion oTemporizador;
    char acTextoNotify[1025];  // text/plain body of the last WG67 KEY-IN NOTIFY
    int32_t iPttId;
    int32_t canal;
    int32_t iMaxForwards;
    char acReferTo[82];
    char acReferredBy[82];
    char acReplaces[82];
    // Radio attributes.
    int32_t rtphe;
    char fid[33];
    uint8_t bss;        // 0 none, 1 RSSI, 2 RSSI and QX7N, 3 QX7N
    char sigtime[17];
    char txrxmode[17];
    char acTipo[17];    // type word received ("Radio-TxRx", "Radio")
    uint8_t ptt_rep;
};
static_assert(std::is_trivially_copyable<SesionSip>::value, "copied whole to and from the application");
