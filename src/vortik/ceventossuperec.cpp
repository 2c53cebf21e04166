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
void CEventosSuperec::EvtPublicaEmplazamiento(int iRecurso, const char* szNombre, int e, const int aiEstados[4],
                                              int iActivoTx, int iActivoRx) {
    mantEnviaN09(iRecurso, szNombre, e, aiEstados[0], aiEstados[1], aiEstados[2], aiEstados[3], iActivoTx, iActivoRx);
}
void CEventosSuperec::EvtPublicaSesiones(int iRecurso, const char* szNombre, const SesionPublicada asSesiones[4]) {
    GrupoSesionMant g[4];
    for (int i = 0; i < 4; ++i) g[i] = {asSesiones[i].iActivo, asSesiones[i].acUri, asSesiones[i].iPrioridad};
    mantEnviaN10(iRecurso, szNombre, g);
}
void CEventosSuperec::EvtPublicaEstado(int iRecurso, const char* szNombre, int iEstado, int iSesion, int iSupervision,
                                       const char* szUri) {
    mantEnviaN08(iRecurso, szNombre, iEstado, iSesion, iSupervision, szUri);
}
