#include "sip/encaminauri.h"

#include <atomic>

namespace {
std::atomic<cfgConfigPasarela*> gpsConfig{nullptr};
}

void sipFijaConfig(cfgConfigPasarela* psConfig) { gpsConfig.store(psConfig); }
cfgConfigPasarela* sipDameConfig() { return gpsConfig.load(); }

int sipModoSistema() {
    cfgConfigPasarela* c = gpsConfig.load();
    if (!c) return 0;
    pthread_mutex_lock(&c->tMutex);
    const int m = c->iCfgModoSistema;
    pthread_mutex_unlock(&c->tMutex);
    return m;
}

// The addressing plans are read by the routing module; without it no user has an address.
int BuscaDireccionUsuario(const char*, char*) { return -1; }
int BuscaNumeroSip(const char*, char*) { return -1; }
int DameUriPropia(const char*, char*) { return -1; }
