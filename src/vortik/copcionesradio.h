// Radio options of one resource (PTT summation, maximum sessions, preemption, permission
// check, multiple streams from one position), read from /mnt/ramfs/FAArec%02d.ini.
// This build keeps the defaults; the file reader comes with the radio call checks.
#pragma once

#include <cstdint>

class COpcionesRadio {
public:
    explicit COpcionesRadio(int iRecurso);
    // Reads the file again; 0.
    int Lee();
    int DamePttSumation() const { return iPttSumation; }
    int DamePreemption() const { return iPreemption; }
    int DameMaxSessions() const { return iMaxSessions; }
    int DamePermissionsCheck() const { return iPermissionsCheck; }
    int DameMultipleStreamsBlocked() const { return iMultipleStreamsBlocked; }

    int32_t iLeido;
    int32_t iRecurso;
    int32_t iPttSumation;
    int32_t iPreemption;
    int32_t iMaxSessions;
    int32_t iPermissionsCheck;
    int32_t iMultipleStreamsBlocked;
};
