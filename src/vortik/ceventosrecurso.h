// CEventosRecurso: what a resource supervisor (csuperec.h) and its collateral duties
// (ccolateral.h) tell the rest of the core; the core's sink is CEventosSuperec. The calls come
// from the supervisor's threads with no lock of the supervisor held. Every event does nothing
// unless overridden.
#pragma once

class Cola;

class CEventosRecurso {
public:
    // A new child channel, before the supervisor uses it: the core's handlers go in.
    virtual void EvtCanalHijo(Cola* poCanal) { (void)poCanal; }
    // The child of the position was launched, or was killed and reaped.
    virtual void EvtHijoLanzado(int iRecurso) { (void)iRecurso; }
    virtual void EvtHijoMatado(int iRecurso) { (void)iRecurso; }
    // Pid of the DSP service, -1 when none.
    virtual int DamePidDsp() { return -1; }
    // A session of a radio resource ended.
    virtual void EvtFinSesionRadio(const char* szNombre, const char* szUri, int iReposo) {
        (void)szNombre;
        (void)szUri;
        (void)iReposo;
    }
    // A session of a radio resource was answered (SNMP event record 2101, value 255).
    virtual void EvtSesionRadioActiva(const char* szNombre, const char* szUri, int iReposo) {
        (void)szNombre;
        (void)szUri;
        (void)iReposo;
    }
    // Publication of the collateral states to the SNMP agent: an emplacement of a local
    // radio (states of TX A, RX A, TX B, RX B; active equipment 1 A, 2 B), the sessions of
    // a remote radio, the state of any other resource.
    virtual void EvtPublicaEmplazamiento(int iRecurso, const char* szNombre, int iEmplazamiento,
                                         const int aiEstados[4], int iActivoTx, int iActivoRx) {
        (void)iRecurso, (void)szNombre, (void)iEmplazamiento, (void)aiEstados, (void)iActivoTx, (void)iActivoRx;
    }
    struct SesionPublicada {
        int iActivo;  // 1 active, 0 idle, 9 unused
        int iPrioridad;
        char acUri[81];
    };
    virtual void EvtPublicaSesiones(int iRecurso, const char* szNombre, const SesionPublicada asSesiones[4]) {
        (void)iRecurso, (void)szNombre, (void)asSesiones;
    }
    virtual void EvtPublicaEstado(int iRecurso, const char* szNombre, int iEstado, int iSesion, int iSupervision,
                                  const char* szUri) {
        (void)iRecurso, (void)szNombre, (void)iEstado, (void)iSesion, (void)iSupervision, (void)szUri;
    }
    // The OPTIONS supervision of the collateral peer went up (255) or down (0).
    virtual void EvtSupervisionOptions(int iRecurso, int iValor, const char* szUri) {
        (void)iRecurso;
        (void)iValor;
        (void)szUri;
    }

protected:
    ~CEventosRecurso() = default;
};
