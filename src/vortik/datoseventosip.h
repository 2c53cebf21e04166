// Session record of the SIP side handed to every Traplic_* handler: the bridge's copy of the
// user agent's session of one call (first word its SIP call id).
#pragma once

#include <cstdint>

struct DatosEventoSip {
    int32_t cid;                 // SIP call id
    char acOrigen[256];          // origin URI
    char acDestino[256];         // destination URI
    char acSubject[128];         // call-type text ("radio", "IA call" ...)
    uint8_t ucPrioridad;         // 1 emergency, 2 urgent, 3 normal, 4 non-urgent (+5 see user agent)
    char acRazon[128];           // reason text of a provisional answer
    int32_t iCodigoSip;          // SIP status code of a final failure answer
    char acInfo[128];            // INFO body text
    char acContacto[256];        // contact text
    char acDirRemota[64];        // remote RTP address text
    int32_t iPuertoRemoto;       // remote RTP port
    int32_t iPuertoLocal;        // local RTP port
    int32_t iPayload;            // negotiated payload type
    int32_t iDireccionMedia;     // 0-2
    int32_t iTipoSesionSip;      // 0 Radio-TxRx, 1 Radio-RxOnly, 2 Coupling, 3 Radio-Idle
    char acTxRxMode[16];         // access mode text
    char acFid[68];              // frequency id text
    int32_t iRtphe;              // RTP header-extension value
    int32_t iModoBss;            // 0-3
    int32_t iPttRep;             // ptt_rep count
    int32_t aiNumeracionQsig[2]; // QSIG numbering words
    int32_t iPttId;
    int32_t iPuertoLocalSalida;  // out-word: local RTP port chosen by the handler
    int32_t iDialogoRefer;       // REFER: dialog id to notify
    char acReferente[256];       // REFER: referrer
    char acReferTo[256];
    char acReferredBy[256];
    char acReplaces[256];
    uint8_t ucPrioridadRefer;
};
