// Subscriptions of the user agent: the SUBSCRIBE requests other parties send to the gateway's
// users (one record each, with the NOTIFY requests of those subscriptions) and the ones the
// gateway sent itself, fed by their answers and NOTIFY requests. Both tables are guarded by one
// lock, never held across a send: the front end and the bridge notify from their threads while
// the SIP supervisor thread handles the events.
#pragma once

#include <eXosip2/eXosip.h>

#include <cstdint>

struct InSuscripcion {
    int32_t nid;
    int32_t did;
    int32_t tid;          // last SUBSCRIBE
    char acEvento[256];   // the stack's text of the event
    int32_t iEstadoPresencia;
    int32_t iEstado;      // subscription state: 1 pending, 2 active, 3 terminated
    int32_t iRazon;
    int32_t iUsuario;
    int32_t iMarca;       // event type that last touched it; 0 = free
};

struct Suscripcion {
    int32_t sid;
    int32_t did;
    char acRazon[50];
    int32_t iCodigo;
    char acEvento[256];
    char acUriRemota[256];  // To of the request
    int32_t iEstadoPresencia;
    int32_t iEstado;
    int32_t iRazon;
    int32_t iMarca;
};

enum { MAX_SUSCRIPCIONES = 100 };

// Incoming: 0 new, 1 refresh, 2 ended by expiry 0, -1 none (table full or no identifiers).
int AceptaInSuscripcion(eXosip_event_t* psEvento, InSuscripcion* psCopia, int iExpira, int iUsuario);
int EnviaNotifyEstado(int did, int iEstado, int iRazon, int iPresencia);
int EnviaNotifyTexto(int did, const char* szEvento, const char* szTexto);
int EnviaNotifyTextoNid(int nid, const char* szEvento, const char* szTexto);
int LiberaInSuscripcion(eXosip_event_t* psEvento, InSuscripcion* psCopia);
// Copies of the records in use (true when found).
bool BuscaInSuscripcion(int nid, InSuscripcion* psCopia);
int CuentaInSuscripciones();
bool DameInSuscripcion(int n, InSuscripcion* psCopia);

// Outgoing: 0, or -1 when no record fits.
void IniciaSuscripciones();
int SuscripcionEnCurso(eXosip_event_t* psEvento);
int SuscripcionAceptada(eXosip_event_t* psEvento);
int SuscripcionTerminada(eXosip_event_t* psEvento);
int SuscripcionFallida(eXosip_event_t* psEvento);
int NotifyRecibido(eXosip_event_t* psEvento);
bool BuscaSuscripcion(int sid, Suscripcion* psCopia);

// Presence status of a received NOTIFY into the record; 0, or -1 when the body cannot be read.
int LeeEstadoNotify(Suscripcion* psRegistro, eXosip_event_t* psEvento);
// PIDF body of a status for an entity URI (the NOTIFY's From).
void CuerpoPresencia(int iPresencia, const char* szUri, char* acCuerpo, size_t iTam);
