// Radio options of one resource, read from /mnt/ramfs/FAArec%02d.ini that an outside agent
// writes: PTT summation, maximum sessions, preemption, permission lists, several streams from
// one position. The permission and preemption values are read again at each check; the
// maximum of sessions only by Lee (at the start of the resource).
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "comun/cficheroini.h"

class COpcionesRadio {
public:
    explicit COpcionesRadio(int iRecurso);
    // Reads the file when it exists and takes the five RADIO values; 0.
    int Lee();
    // Reads the file again: 0, or -1 when it does not exist (the last contents stay).
    int Recarga();
    int DamePttSumation() const { return iPttSumation; }
    int DameMaxSessions() const { return iMaxSessions; }
    int DamePreemption();
    int DamePermissionsCheck();
    int DameMultipleStreamsBlocked();
    // 0 allowed, -1 refused; emergencia 1 checks the emergency list.
    int CompruebaPermiso(const char* szUri, int iEmergencia);
    std::string Ruta() const;

    int32_t iLeido;
    int32_t iRecurso;
    int32_t iPttSumation;
    int32_t iPreemption;
    int32_t iMaxSessions;
    int32_t iPermissionsCheck;
    int32_t iMultipleStreamsBlocked;
    CFicheroIni oIni;

private:
    std::mutex tMutex;  // oIni: the core's configuration thread reloads it while SIP calls check
    int RecargaSinCerrojo();
    // A 0/1 key of RADIO read again from the file (0 without the file).
    int LeeBinario(const char* szClave, int32_t* piValor);
};
