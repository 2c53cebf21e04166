#include "ceventossuperec.h"

#include "cconfig.h"
#include "ipcvortik.h"
#include "mantenimiento.h"
#include "superdsp.h"

CEventosSuperec oEventosSuperec;

void CEventosSuperec::EvtCanalHijo(Cola* poCanal) { IpcVortik::RegistraCallbacks(poCanal); }
void CEventosSuperec::EvtHijoLanzado(int iRecurso) { CSuperDsp::EnviaPidRecurso(iRecurso); }
void CEventosSuperec::EvtHijoMatado(int iRecurso) { mantEnviaN07(iRecurso); }
int CEventosSuperec::DamePidDsp() { return CSuperDsp::DamePid(); }
void CEventosSuperec::EvtFinSesionRadio(const char* szNombre, const char* szUri, int iReposo) {
    mantHistoricoSesion(szNombre, 0, szUri, iReposo);
}
void CEventosSuperec::EvtSesionRadioActiva(const char* szNombre, const char* szUri, int iReposo) {
    mantHistoricoSesion(szNombre, 255, szUri, iReposo);
}
void CEventosSuperec::EvtSupervisionOptions(int iRecurso, int iValor, const char* szUri) {
    cfgConfigRecurso sRec;
    if (CCONFIG* c = superecDameConfig()) {
        cfgCerrojo l(&c->tMutex);
        sRec = c->asRecursos[iRecurso];
    }
    mantHistoricoOptions(&sRec, iRecurso, iValor, szUri);
}
