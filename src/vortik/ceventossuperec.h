// The core's sink of the resource supervisors: a child's channel gets the core's child-channel
// handlers, the DSP service learns of each new resource process, and the SNMP agent hears of a
// killed child and of an ended radio session.
#pragma once

#include "csuperec.h"

class CEventosSuperec : public CSupervisorRecurso::CEventos {
public:
    void EvtCanalHijo(Cola* poCanal) override;
    void EvtHijoLanzado(int iRecurso) override;
    void EvtHijoMatado(int iRecurso) override;
    int DamePidDsp() override;
    void EvtFinSesionRadio(const char* szNombre, const char* szUri, int iReposo) override;
    void EvtSesionRadioActiva(const char* szNombre, const char* szUri, int iReposo) override;
    void EvtSupervisionOptions(int iRecurso, int iValor, const char* szUri) override;
    void EvtPublicaEmplazamiento(int iRecurso, const char* szNombre, int iEmplazamiento, const int aiEstados[4],
                                 int iActivoTx, int iActivoRx) override;
    void EvtPublicaSesiones(int iRecurso, const char* szNombre, const SesionPublicada asSesiones[4]) override;
    void EvtPublicaEstado(int iRecurso, const char* szNombre, int iEstado, int iSesion, int iSupervision,
                          const char* szUri) override;
};

extern CEventosSuperec oEventosSuperec;
