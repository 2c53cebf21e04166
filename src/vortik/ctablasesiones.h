// CTablaSesiones: the sessions and calls of one resource, the records its supervisor keeps to
// match SIP call ids with the resource process's session and call ids. Twelve fixed records;
// a record is taken and cleared under the table's lock, and the finds read without it (a field
// the caller needs settled is looked up under the lock, see Mutex).
#pragma once

#include <pthread.h>

#include <cstdint>

#include "comun/cdireccionip.h"

// One session or call of the resource.
struct InfoSesion {
    int32_t cid;          // SIP call id; -1 free, -2 being filled
    int32_t idsesion;     // IPC session id with the child; -1 none
    int32_t idllam;       // IPC call id with the child; -1 none
    int32_t iTempSesion;  // timer slots; -1 none
    int32_t iTempLlamada;
    int32_t iTempAux;
    int32_t iSesionPedida;
    int32_t iLlamadaPedida;
    int32_t iPreemption;
    int32_t iTipoSesion;  // low nibble 1 answer SIP, 2 tell the child; 10h radio with PTT id
    int32_t iIndiceColateral;
    int32_t iReposo;
    int32_t iEsFoco;
    char Origen[81];
    char acDestino[81];
    uint8_t ucPrioridad;
    int32_t iTipoSipMapeado;
    int32_t iTipoLlamada;
    int32_t iPayloadForzado;
    int32_t iPayload;
    int32_t iRtphe;
    int32_t iPuertoLocal;  // -1 none
    CDireccionIp oDirRemota;
    int32_t iPuertoRemoto;
    int32_t iPttId;
    int32_t iGestorTransferencia;
    int32_t iCidRefer;
    int32_t iTipoSesionSip;  // 0 Radio-TxRx, 1 Radio-RxOnly, 2 Coupling, 3 Radio-Idle

    void Reinicia();
};

class CTablaSesiones {
public:
    enum { MAX_INFO_SESION = 12 };

    CTablaSesiones();
    ~CTablaSesiones();
    CTablaSesiones(const CTablaSesiones&) = delete;
    CTablaSesiones& operator=(const CTablaSesiones&) = delete;

    // Names the lock after the resource (in the core's list of mutexes); once, before any use.
    void Inicia(int iRecurso);
    pthread_mutex_t* Mutex() { return &tMutexSesion; }

    // A free record marked as being filled (cid -2), or null; the caller holds Mutex().
    InfoSesion* Asigna();
    // Clears the record's call words and texts under the lock: the record is free again.
    void Vacia(InfoSesion* psInfo);

    InfoSesion* BuscaPorCid(int cid);
    InfoSesion* BuscaPorIdSesion(int idsesion);
    InfoSesion* BuscaPorIdLlamada(int idllam);
    InfoSesion* BuscaPorColateral(int iIndice);
    InfoSesion* BuscaPorTipoSesion(int iTipoSesionSip);
    InfoSesion* BuscaPorLlamadaYDestino(int idllam, const char* szDestino);
    InfoSesion* BuscaPorOrigen(const char* szOrigen);
    InfoSesion* BuscaPreemption();
    // The next record after psPrevia (null: the first) of that line call.
    InfoSesion* BuscaSiguientePorIdLlamada(InfoSesion* psPrevia, int idllam);
    int CuentaPorIdLlamada(int idllam);
    // Records holding a SIP call, under the lock.
    int CuentaOcupadas();

    InfoSesion* begin() { return asInfoSesion; }
    InfoSesion* end() { return asInfoSesion + MAX_INFO_SESION; }

    InfoSesion asInfoSesion[MAX_INFO_SESION];

private:
    // The first record that fCumple(const InfoSesion&) accepts, or null.
    template <typename F>
    InfoSesion* Primera(F fCumple);

    int iRecurso;
    pthread_mutex_t tMutexSesion;  // taking and freeing the records
};
