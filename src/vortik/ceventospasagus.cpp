#include "ceventospasagus.h"

#include "publica.h"

CEventosPasaGus oEventosPasaGus;

// The publication exists only once multicast has started (routing mode).
int CEventosPasaGus::ActualizaPublica(const char* szNombre, const uint8_t* pRegistro, int iTipo, int iValor) {
    return poPublica ? poPublica->ActualizaPublica(szNombre, pRegistro, iTipo, iValor) : -1;
}

void CEventosPasaGus::Despierta() {
    if (poPublica) poPublica->Despierta();
}
