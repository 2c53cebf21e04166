// Maintenance exchange with the local SNMP agent: "V,R"/"V,N" records, one UDP datagram each
// to 127.0.0.1, port iSnmpPuertoRemoto (65000 when 0), without a terminating NUL.
//
// Minimal form used by the core's start-up, supervision loop and resource supervisors: the
// records they send. The agent's commands, the status report text and the event records come
// with the maintenance work, keeping these signatures.
#pragma once

#include <cstdint>

typedef void (*FnMant)();

// Stores the call-backs and sends the identity record; 0.
int mantInicia(FnMant fRefresco, FnMant fEstado);
// Sends iLong bytes of szTexto; 0 (a failed send is logged, not retried).
int mantEnvia(const char* szTexto, int iLong);

int mantEnviaN01();
int mantEnviaN02(int iEstadoLan);
int mantEnviaN03(int iValor);
int mantEnviaN04(int iPrimero, int iSegundo);
int mantEnviaN05(int iEstado);
int mantEnviaN06(int iSlot, int iUno, int iPresencia, int iV0, int iV1, int iV2, int iV3);
int mantEnviaN07(int iRecurso);
// Status report from a copy of the 26 words of the supervision state.
int EnviaEstadoMant(const int32_t* aiEstado);
