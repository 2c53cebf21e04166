// Logging of every process: one printf-style entry point, configured by
// /mnt/ramfs/plog.conf, written through spdlog to a rolling file and the console.
#pragma once

#include <semaphore.h>
#include <cstdint>
#include <string>

namespace NLOG {
enum eLevel { INFO = 0, ERROR = 1, DEBUG = 2 };
// Formats (at most 1023 characters) and writes one record; never fails towards the caller.
// Any other level writes nothing.
void Log(eLevel nivel, const char* formato, ...) __attribute__((format(printf, 2, 3)));

// Copy of every record (level and message text) to a function of the program's, e.g. a
// test that asserts on log lines; null removes it. Called with no lock held.
typedef void (*FnCapturaLog)(int nivel, const char* texto);
void FijaCaptura(FnCapturaLog captura);
}  // namespace NLOG

// Logging configuration: the keys of plog.conf and their defaults.
class CConfigLog {
public:
    CConfigLog();
    // Fills the record from the file at ruta; sufijo is appended to a FILENAME value.
    // A missing file leaves the record unchanged.
    void Lee(const char* ruta, const char* sufijo);

    const std::string& DameFormato() const { return szFormato; }
    const std::string& DameNombreFichero() const { return szNombreFichero; }
    int32_t DameTamanoFichero() const { return iTamanoFichero; }
    int32_t DameNumeroFicheros() const { return iNumeroFicheros; }
    bool DameSalidaEstandar() const { return bSalidaEstandar; }
    bool DameIpcShare() const { return bIpcShare; }

    // The process-wide record, filled by CIniciaLog.
    static CConfigLog& Global();

private:
    std::string szFormato;
    std::string szNombreFichero;
    int32_t iTamanoFichero;
    int32_t iNumeroFicheros;
    bool bSalidaEstandar;
    bool bIpcShare;
};

// Logging start-up object: one per process, created by main on the heap and kept in
// pObjetoLog until exit.
class CIniciaLog {
public:
    // Reads /mnt/ramfs/plog.conf and sets up the rolling file (and the console echo)
    // the first time it runs in the process.
    explicit CIniciaLog(const char* sufijo);
    ~CIniciaLog();

    // Cross-process serialisation of whole records; no-ops unless IPC_SHARE is true and
    // the semaphore is open.
    void EsperaSemaforo();
    void LiberaSemaforo();

    bool bCreador;
    bool bSemaforoAbierto;
    sem_t* pSemaforo;
};

extern CIniciaLog* pObjetoLog;

// Opens the named semaphore "nlog_sem" (only when IPC_SHARE is true).
void IniciaSemaforoLog(CIniciaLog* objeto, bool creador);
