// Multicast reception of the other gateways' state publications: one thread joined to the
// configured group (acGrupoMulticast), bound to uiPuertoMulticast + 1, that hands every
// datagram to the publication object and follows configuration changes of group and port.
//
// A publication that carries this gateway's own name and comes from another board is the
// pair partner's (only a principal publishes): it goes to the redundancy manager
// (CGestorDual::CompruebaMensajeDual). The board's own looped-back packets are applied to the
// table like any other and go no further.
#pragma once

#include <netinet/in.h>

#include <cstdint>

#include "publica.h"

enum { MCAST_TAM_RX = 1024 };

// Called once by the core's start-up when iCfgModoSistema is 0: the receiving thread, then
// the publication object, which publishes on reception's group while the configuration names
// none (mcastDameGrupo).
void ArrancaMulticast();
// A UDP socket bound to iPuerto and joined to szGrupo, or -1.
int ArrancaSock(const char* szGrupo, int iPuerto);
// Drops the membership and closes each descriptor greater than 0; 0.
int DetieneSock(int iSockCfg, int iSockPublica, const ip_mreq* psPeticion);

// Hands a received datagram on (publication table, pair partner); iOrigen is the sender's
// IPv4 address in network order.
void mcastTrataPaquete(const uint8_t* pPaquete, int iLong, uint32_t iOrigen);
// Descriptor the thread receives on (-1 when none); the port it is bound to.
int mcastDameSocket();
int mcastDamePuerto();
// The group and port (not port + 1) reception is on: the configured pair when it is a valid one,
// else the default pair.
void mcastDameGrupo(char acGrupo[65], uint16_t* pusPuerto);
// The waits between bind attempts (10 s each) and after a failure; tests shorten them.
void mcastFijaEspera(void (*fEsperaMs)(unsigned int uiMs));
