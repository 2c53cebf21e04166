// Maintenance exchange with the local SNMP agent.
//
// Core to agent: "V,R" replies and "V,N" notifications, one UDP datagram each from a fresh
// socket to 127.0.0.1, port iSnmpPuertoRemoto (65000 when 0), without a terminating NUL; and
// "V,H00" event records, queued to the core's event-record client (oHistClient).
// Agent to core: commands received by oHistClient on 127.0.0.1:65001 (at most 512 bytes) and
// handed to EvtRxMant: "A,T00"/"C,T00" status report, "A,T01," switch-over, "A,T03," radio
// mode, "A,T04," loop test, "A,T10" full refresh.
#pragma once

#include <cstdint>

#include "red/histclient.h"

struct cfgConfigRecurso;

// The core's supervision state (kept by the supervision loop), copied whole into the status
// report "V,R00".
struct EstadoSupervision {
    int32_t iEstadoLan;      // bit 0 eth0 link, bit 1 eth1 link, bit 2 always 1; -1 unknown
    int32_t iReserva;        // 1 while reserve
    int32_t iEstadoFA;       // debounced power-supply reading; -1 unknown
    int32_t iEstadoNtp;      // 0 no server, 1 synchronised, 2 not; -1 unknown
    int32_t iCalidadNtp;     // 1 fully synchronised, 2 partly or not
    int32_t iFiltroNtp;      // NTP debounce state, 1 or 2
    int32_t aiPresenciaModulo[4];
    int32_t aiEstadoCanal[16];
};
static_assert(sizeof(EstadoSupervision) == 26 * 4, "26 words");

typedef void (*FnMant)();

// The core's event-record client: sends the "V,H00" records, receives the agent's commands.
extern HistClient& oHistClient;

// Stores the call-backs (refresh for "A,T10", status for "A,T00"), works out the own and the
// partner address texts, sends the identity record, loads the switch-over state file and
// starts oHistClient with EvtRxMant as its command call-back (once); 0.
int mantInicia(FnMant fRefresco, FnMant fEstado);
// Sends iLong bytes of szTexto; 0 (a failed send is logged, not retried).
int mantEnvia(const char* szTexto, int iLong);
// One command of the agent (or of the console's C); szTexto need not be terminated.
void EvtRxMant(int iLong, const char* szTexto);

// Splits iNum integers separated by ","; missing ones are 0, extra ones ignored.
void mantParseaEnteros(const char* szTexto, int iNum, int* aiValores);

int mantEnviaR01(int iCodigo, const char* szTexto);
int mantEnviaN01();
int mantEnviaN02(int iEstadoLan);
int mantEnviaN03(int iValor);
int mantEnviaN04(int iPrimero, int iSegundo);
int mantEnviaN05(int iEstado);
int mantEnviaN06(int iSlot, int iUno, int iPresencia, int iV0, int iV1, int iV2, int iV3);
int mantEnviaN07(int iRecurso);
int mantEnviaN08(int iRecurso, const char* szNombre, int iEstado, int iSesion, int iSupervision, const char* szUri);
// States of TX A, RX A, TX B, RX B; the fall-backs are the active equipment of each side
// (1 A, 2 B).
int mantEnviaN09(int iRecurso, const char* szNombre, int iEmplazamiento, int iTxA, int iRxA, int iTxB, int iRxB,
                 int iRespaldoTx, int iRespaldoRx);
// One session of a remote radio for "V,N10"; an unused one is {9, "", 0}.
struct GrupoSesionMant {
    int iActivo;
    const char* szUri;
    int iPrioridad;  // the session's priority; the record carries 1 when it is 1
};
int mantEnviaN10(int iRecurso, const char* szNombre, const GrupoSesionMant asGrupos[4]);
// Status report "V,R00" from a copy of the 26 words of the supervision state.
int EnviaEstadoMant(const int32_t* aiEstado);
// "V,H00" records: event 2101 for a radio session; the OPTIONS supervision events by the
// record's interface type (none for types other than LCEN, ATSR2 and ATSN5).
void mantHistorico(int iEvento, const char* szTexto);
void mantHistoricoSesion(const char* szNombre, int iOn, const char* szUri, int iReposo);
void mantHistoricoOptions(const cfgConfigRecurso* psRec, int iRecurso, int iFlag, const char* szUri);

// The resource supervisor operations the agent's commands reach. Switch-over: 0 done, -1 bad
// parameters, -2 the target equipment's session is failed.
struct OperacionesMant {
    int (*fConmuta)(int iRecurso, int iEmplazamiento, int iSentido, int iEquipo);
    void (*fModoRadio)(int iRecurso, int iModo);
    void (*fBucleRadio)(int iRecurso, int iTipoBucle, int iEmplazamiento);
};
// Installs the operations (null members keep the current ones; null restores the defaults).
// By default they are the resource supervisors' FijaEquipoActivo, TomaModoRadio and
// ActivaBucleRadio.
void mantFijaOperaciones(const OperacionesMant* psOps);
