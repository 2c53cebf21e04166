// Multicast reception of the other gateways' state publications.
//
// Minimal form used by the core's start-up: it builds the publication object. The receiving
// thread comes with the publication work, keeping this signature.
#pragma once

// Called once by the core's start-up when iCfgModoSistema is 0.
void ArrancaMulticast();
