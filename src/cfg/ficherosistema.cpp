// The configuration side file.
#include "cfg/ficherosistema.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "comun/nlog.h"

// Written under a temporary name and renamed into place, so that a reader never finds it
// half written.
bool cfgEscribeFicheroSistema(const char* pTexto) {
    char bloque[TAM_BLOQUE_GENERAL];
    memset(bloque, 0, sizeof bloque);
    if (pTexto != nullptr) memcpy(bloque, pTexto, strnlen(pTexto, sizeof bloque));
    char temporal[64];
    snprintf(temporal, sizeof temporal, "%s.XXXXXX", FicheroConfigSistema);
    int fd = mkstemp(temporal);
    if (fd < 0) {
        NLOG::Log(NLOG::ERROR, "EnviaTomaConfig: no se puede crear %s: %s", temporal, strerror(errno));
        return false;
    }
    bool ok = fchmod(fd, 0644) == 0 &&
              write(fd, bloque, TAM_BLOQUE_GENERAL) == TAM_BLOQUE_GENERAL;
    ok = close(fd) == 0 && ok;
    if (ok && rename(temporal, FicheroConfigSistema) == 0) return true;
    NLOG::Log(NLOG::ERROR, "EnviaTomaConfig: no se puede escribir %s: %s", FicheroConfigSistema,
              strerror(errno));
    unlink(temporal);
    return false;
}

void cfgLeeFicheroSistema(const char* pRuta, char (&pBloque)[TAM_BLOQUE_GENERAL]) {
    memset(pBloque, 0, sizeof pBloque);
    FILE* f = fopen(pRuta, "r");
    if (f == nullptr) {
        NLOG::Log(NLOG::ERROR, "Despacha: no se puede leer %s", pRuta);
        return;
    }
    if (fread(pBloque, 1, sizeof pBloque, f) != sizeof pBloque)
        NLOG::Log(NLOG::ERROR, "Despacha: %s mas corto de %d bytes", pRuta, TAM_BLOQUE_GENERAL);
    fclose(f);
}
