#include "copcionesradio.h"

// Defaults of a resource without an options file: no summation, no session limit of its own,
// no preemption, no permission lists, several streams allowed.
COpcionesRadio::COpcionesRadio(int iRec)
    : iLeido(0), iRecurso(iRec), iPttSumation(0), iPreemption(0), iMaxSessions(16), iPermissionsCheck(0),
      iMultipleStreamsBlocked(0) {}

int COpcionesRadio::Lee() {
    iLeido = 1;
    return 0;
}
