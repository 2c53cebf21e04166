#include "ceventosdual.h"

#include "csuperec.h"
#include "mainsupervisor.h"
#include "mantenimiento.h"
#include "comun/nlog.h"

CEventosDual oEventosDual;

int CEventosDual::EvtCambioEstadoDual(int iEstado) {
    if (iEstado == 0) {
        for (auto& s : aoSupervisorRecurso) s.PasoaPrincipal();
        NLOG::Log(NLOG::INFO, "  Cambio Estado Dual a principal");
        mantEnviaN04(1, 2);
    } else if (iEstado == 1) {
        // Standby: the supervisors release their sessions and refuse calls from now on.
        for (auto& s : aoSupervisorRecurso) s.PasoaReserva();
        NLOG::Log(NLOG::INFO, " Cambio Estado Dual a reserva ");
        mantEnviaN04(2, 1);
    }
    mainPideVolcado();
    return 0;
}
