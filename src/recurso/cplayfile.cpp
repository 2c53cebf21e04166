#include "cplayfile.h"

#include <time.h>

#include "comun/hilo.h"
#include "comun/ganchosipc.h"
#include "comun/gestormutex.h"
#include "hardware/ccomeventos.h"
#include "hardware/hardware.h"
#include "comun/nlog.h"
#include "comun/trazapid.h"
#include "comun/vigilanciahilos.h"

namespace {

constexpr int64_t NS_POR_MUESTRA = 125000;          // 8 kHz
constexpr int64_t NS_ESPERA_OCIOSA = 500000000;     // idle wake-up for the watchdog
constexpr int64_t NS_RETRASO_MAXIMO = 100000000;    // later than this, pacing starts again
constexpr int32_t BLOQUES_POR_REFRESCO = 50;

int64_t AhoraNs() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

timespec Timespec(int64_t ns) {
    timespec t;
    t.tv_sec = static_cast<time_t>(ns / 1000000000);
    t.tv_nsec = static_cast<long>(ns % 1000000000);
    return t;
}

}  // namespace

CPlayFile::CPlayFile() = default;

CPlayFile::~CPlayFile() {
    if (iArrancado) {
        pthread_mutex_lock(&tMutex);
        iTermina = 1;
        pthread_cond_signal(&tCondicion);
        pthread_mutex_unlock(&tMutex);
        pthread_join(tHilo, nullptr);
        DestruyeMutex(&tMutex);
        pthread_cond_destroy(&tCondicion);
    }
    if (pFichero) fclose(pFichero);
}

int CPlayFile::Arranca(int32_t iRec, CComeventos* pObjeto) {
    if (iArrancado) return -2;
    if (!pObjeto) return -1;
    char szNombre[48];
    snprintf(szNombre, sizeof szNombre, "CEntidadRC[%d].tMutexPlayFile", iRec);
    CreaMutex(szNombre, &tMutex, nullptr);
    pthread_condattr_t tAttr;
    pthread_condattr_init(&tAttr);
    pthread_condattr_setclock(&tAttr, CLOCK_MONOTONIC);
    pthread_cond_init(&tCondicion, &tAttr);
    pthread_condattr_destroy(&tAttr);
    // Stored before the thread starts: it names itself after the resource at once.
    iRecurso = iRec;
    pDueno = pObjeto;
    if (pthread_create(&tHilo, nullptr, sHilo, this) != 0) {
        if (DameMascaraTrazaIpc() != 0) IpcPrintf("Error creando hilo play file\n");
        DestruyeMutex(&tMutex);
        pthread_cond_destroy(&tCondicion);
        iRecurso = -1;
        pDueno = nullptr;
        return -3;
    }
    iArrancado = 1;
    return 0;
}

int CPlayFile::Abre(const char* szRuta, int32_t iTam) {
    if (!iArrancado || !szRuta) return -1;
    pthread_mutex_lock(&tMutex);
    if (pFichero) fclose(pFichero);
    iReproduciendo = 0;
    iAvisoVacio = 0;
    pFichero = fopen(szRuta, "r");
    bool bAbierto = pFichero != nullptr;
    bool bTamOk = iTam >= 1 && iTam <= MAX_BLOQUE;
    if (bAbierto && bTamOk) {
        iTamBloque = iTam;
        iReproduciendo = 1;
        pthread_cond_signal(&tCondicion);
    }
    pthread_mutex_unlock(&tMutex);
    if (!bAbierto) {
        printf("\n PUM!  No se puede abrir %s\n", szRuta);
        return -1;
    }
    NLOG::Log(NLOG::INFO, "CPlayFile: abre %s", szRuta);
    return bTamOk ? 0 : -1;
}

int CPlayFile::Cierra() {
    if (!iArrancado) return 0;
    pthread_mutex_lock(&tMutex);
    iReproduciendo = 0;
    if (pFichero) fclose(pFichero);
    pFichero = nullptr;
    pthread_mutex_unlock(&tMutex);
    return 0;
}

int CPlayFile::Pausa() {
    if (!iArrancado) return 0;
    pthread_mutex_lock(&tMutex);
    iReproduciendo = 0;
    pthread_mutex_unlock(&tMutex);
    return 0;
}

int CPlayFile::Reanuda() {
    if (!iArrancado) return 0;
    pthread_mutex_lock(&tMutex);
    iReproduciendo = 1;
    pthread_cond_signal(&tCondicion);
    pthread_mutex_unlock(&tMutex);
    return 0;
}

int32_t CPlayFile::Lee(uint8_t* pucBloque) {
    size_t n = fread(pucBloque, 1, iTamBloque, pFichero);
    if (n < static_cast<size_t>(iTamBloque) && feof(pFichero)) {
        // Completes the block from the start of the file: one rewind per block.
        rewind(pFichero);
        n += fread(pucBloque + n, 1, iTamBloque - n, pFichero);
    }
    return static_cast<int32_t>(n);
}

void CPlayFile::EsperaHasta(const timespec& tLimite) { pthread_cond_timedwait(&tCondicion, &tMutex, &tLimite); }

void* CPlayFile::sHilo(void* pObjeto) {
    static_cast<CPlayFile*>(pObjeto)->Hilo();
    return nullptr;
}

void CPlayFile::Hilo() {
    FijaPrioridadHilo(1);
    TrazaPid("HiloPlayFile", iRecurso, "src/recurso/cplayfile");
    int iVigilancia = RegistraHilo("Hilo Play File", iRecurso, 50000, hwDameTiempo());
    uint8_t aucBloque[MAX_BLOQUE];
    pthread_mutex_lock(&tMutex);
    while (!iTermina) {
        if (!iReproduciendo || !pFichero) EsperaHasta(Timespec(AhoraNs() + NS_ESPERA_OCIOSA));
        int64_t tSiguiente = AhoraNs();
        int32_t iBloques = 0;
        while (!iTermina && iReproduciendo && pFichero) {
            int32_t iTam = iTamBloque;
            int32_t n = Lee(aucBloque);
            bool bAvisa = n > 0;
            if (n == 0) {
                // An empty or unreadable file: said once, then the player goes idle.
                bAvisa = !iAvisoVacio;
                iAvisoVacio = 1;
                iReproduciendo = 0;
            }
            pthread_mutex_unlock(&tMutex);
            if (n < iTam && bAvisa) NLOG::Log(NLOG::ERROR, "Error leyendo fichero. %d-%d\n", iTam, n);
            if (n > 0) {
                if (n < iTam) printf("Leidas %d muestras\n\r", n);
                pDueno->EvtMuestrasPlayFile(iRecurso, n, aucBloque);
            }
            if (++iBloques % BLOQUES_POR_REFRESCO == 0) RefrescaHilo(iVigilancia, hwDameTiempo());
            pthread_mutex_lock(&tMutex);
            // Real-time rate: the owner's channel is drained at 160 samples per 20 ms, so a
            // faster delivery would overflow it and drop tone.
            tSiguiente += n * NS_POR_MUESTRA;
            int64_t tAhora = AhoraNs();
            if (tSiguiente < tAhora - NS_RETRASO_MAXIMO) tSiguiente = tAhora;
            while (!iTermina && AhoraNs() < tSiguiente) EsperaHasta(Timespec(tSiguiente));
        }
        pthread_mutex_unlock(&tMutex);
        RefrescaHilo(iVigilancia, hwDameTiempo());
        pthread_mutex_lock(&tMutex);
    }
    pthread_mutex_unlock(&tMutex);
}
