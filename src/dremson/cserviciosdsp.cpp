// The DSP service object: DSP start, its threads, the channel table and the link state.
// The command wrappers and the event handlers are in cserviciosdsp_comandos.cpp and
// cserviciosdsp_eventos.cpp.
#include "cserviciosdsp.h"

#include <sched.h>

#include "comun/gestormutex.h"
#include "comun/hilo.h"
#include "comun/nlog.h"
#include "comun/trazapid.h"
#include "hardware/hardware.h"
#include "ipc/cola.h"
#include "trazadsp.h"

namespace {
constexpr unsigned int PAUSA_ARRANQUE_MS = 20;
constexpr unsigned int PAUSA_SUPERVISION_MS = 20;
// Once something was read, this many empty reads in a row are tolerated before the boot
// step runs again.
constexpr int LECTURAS_VACIAS = 3;
}  // namespace

CServiciosDsp::CServiciosDsp() : iNumDsps(0), iVisualizaIncidencias(0) {
    for (EntradaDsp& e : asListaDsp) {
        e.iEstadoDsp = DSP_LIBRE;
        e.iSlot = e.iPcm = e.iPcmAux = -1;
        for (int c = 0; c < NUM_CANALES; c++) {
            e.aiIdRecurso[c] = -1;
            e.apCanalIpc[c] = nullptr;
            e.aiRespuestas[c] = RESPUESTA_NINGUNA;
            e.aiIndicadores[c] = 0;
        }
        e.iRecursosEnUso = 0;
    }
    pthread_mutexattr_t a;
    pthread_mutexattr_init(&a);
    pthread_mutexattr_settype(&a, PTHREAD_MUTEX_RECURSIVE);
    CreaMutex("CServiciosDsp::tMutex", &tMutex, &a);
    pthread_mutexattr_destroy(&a);
}

int CServiciosDsp::NuevoDsp(int iSlot, int iPcm, int iPcmAux) {
    if (iNumDsps > 0) return ERR_DSP_YA_ARRANCADO;
    int iDsp = -1;
    Toma();
    for (int d = 0; d < NUM_DSPS; d++) {
        if (asListaDsp[d].iEstadoDsp != DSP_LIBRE) continue;
        asListaDsp[d].iEstadoDsp = DSP_CAIDO;
        asListaDsp[d].iSlot = iSlot;
        asListaDsp[d].iPcm = iPcm;
        asListaDsp[d].iPcmAux = iPcmAux;
        iDsp = d;
        break;
    }
    Suelta();
    if (iDsp < 0) return ERR_SIN_ENTRADA;
    int r = asListaDsp[iDsp].oMaster.Arranca(iDsp, this);
    if (r != 0) return r;
    if (iNumDsps == 0) {
        if (CreaHiloSuelto(&tHiloBootloader, HiloBootloader, this) != 0 ||
            CreaHiloSuelto(&tHiloSupervisor, HiloSupervisorComandos, this) != 0) {
            NLOG::Log(NLOG::ERROR, "DREMSON: no se pueden arrancar los hilos del DSP %d", iDsp);
            Toma();
            asListaDsp[iDsp].iEstadoDsp = DSP_LIBRE;
            Suelta();
            return ERR_SIN_ENTRADA;
        }
    }
    Toma();
    iNumDsps++;
    Suelta();
    return 0;
}

void* CServiciosDsp::HiloBootloader(void* pArg) {
    static_cast<CServiciosDsp*>(pArg)->BucleBootloader();
    return nullptr;
}

void* CServiciosDsp::HiloSupervisorComandos(void* pArg) {
    static_cast<CServiciosDsp*>(pArg)->BucleSupervisor();
    return nullptr;
}

void CServiciosDsp::BucleBootloader() {
    FijaPrioridadHilo(1);
    TrazaPid("Servicios DSP - Bootloader", 0, "src/dremson/cdremson");
    CMasterDsp& m = asListaDsp[0].oMaster;
    hwResetDsp();
    m.PreparaArranque();
    for (;;) {
        while (m.ArrancaDsp() == -1) DuermeMs(PAUSA_ARRANQUE_MS);
        int iReintentos = LECTURAS_VACIAS;
        for (bool bPrimera = true;; bPrimera = false) {
            Toma();
            int r = m.RecibeDsp();
            Suelta();
            if (r < 1) {
                if (bPrimera || iReintentos == 0) break;
                iReintentos--;
            } else {
                iReintentos = LECTURAS_VACIAS;
            }
            sched_yield();
        }
    }
}

void CServiciosDsp::BucleSupervisor() {
    TrazaPid("Servicios DSP - Supervisor comandos", 0, "src/dremson/cdremson");
    FijaPrioridadHilo(1);
    for (;;) {
        Toma();
        asListaDsp[0].oMaster.SupervisaEnlace();
        Suelta();
        DuermeMs(PAUSA_SUPERVISION_MS);
    }
}

int CServiciosDsp::ArrancaRecurso(int32_t idRecurso, int32_t /*iArgumento*/, Cola* pCanal) {
    int r = 0;
    EntradaDsp& e = asListaDsp[0];
    int iCanal = -1;
    // The checks under the lock too: the supervisor empties the table when the link falls.
    Toma();
    if (iNumDsps < 1)
        r = ERR_SIN_DSP;
    else if (e.iEstadoDsp != DSP_OK)
        r = CMasterDsp::ERR_ENLACE_CAIDO;
    else if (e.iRecursosEnUso >= NUM_CANALES)
        r = ERR_CANALES_OCUPADOS;
    for (int c = 0; c < NUM_CANALES && r == 0; c++) {
        if (e.aiIdRecurso[c] >= 0) continue;
        e.aiIdRecurso[c] = idRecurso;
        e.apCanalIpc[c] = pCanal;
        e.aiRespuestas[c] = RESPUESTA_NINGUNA;
        e.aiIndicadores[c] = 0;
        e.iRecursosEnUso++;
        iCanal = c;
        break;
    }
    Suelta();
    if (iCanal < 0) {
        // No DSP, the link down or every channel taken: the requester must hear a refusal.
        if (pCanal) pCanal->EnviaLiberaRecurso(idRecurso);
        return r != 0 ? r : ERR_SIN_ENTRADA;
    }
    r = e.oMaster.ArrancaRecurso(iCanal);
    TrazaDsp("DREMSON: asListaDsp[%d].oMaster.ArrancaRecurso( %d ) = %d\n", 0, iCanal, r);
    if (r == CMasterDsp::ERR_ENLACE_CAIDO) {
        // The owner is told the channel is gone, so it must be: free it unless the fall of
        // the link did already.
        Toma();
        if (e.aiIdRecurso[iCanal] == idRecurso && e.apCanalIpc[iCanal] == pCanal) VaciaCanal(e, iCanal);
        Suelta();
        if (pCanal) pCanal->EnviaLiberaRecurso(idRecurso);
    } else if (pCanal) {
        pCanal->EnviaDspRecursoCreado(idRecurso);
    }
    return r;
}

int CServiciosDsp::LiberaRecurso(int32_t idRecurso) {
    int iDsp, iCanal;
    Toma();
    if (BuscaRecurso(idRecurso, &iDsp, &iCanal) != 0) {
        Suelta();
        return ERR_RECURSO_DESCONOCIDO;
    }
    EntradaDsp& e = asListaDsp[iDsp];
    VaciaCanal(e, iCanal);
    Suelta();
    int r = e.oMaster.LiberaRecurso(iCanal);
    TrazaDsp("DREMSON: asListaDsp[%d].oMaster.LiberaRecurso( %d ) = %d\n", iDsp, iCanal, r);
    return 0;
}

int CServiciosDsp::LiberaRecursosCanal(Cola* pCanal) {
    if (iNumDsps < 1) return ERR_SIN_DSP;
    if (!pCanal) return 0;
    EntradaDsp& e = asListaDsp[0];
    Toma();
    for (int c = 0; c < NUM_CANALES; c++) {
        if (e.apCanalIpc[c] != pCanal) continue;
        // Freed before the command: an event arriving meanwhile finds no owner to send to.
        int32_t id = e.aiIdRecurso[c];
        VaciaCanal(e, c);
        Suelta();
        int r = e.oMaster.LiberaRecurso(c);
        TrazaDsp("DREMSON: asListaDsp[%d].oMaster.LiberaRecurso( %d ) = %d (recurso %d)\n", 0, c, r, id);
        Toma();
    }
    Suelta();
    return 0;
}

void CServiciosDsp::VaciaCanal(EntradaDsp& e, int iCanal) {
    e.aiIdRecurso[iCanal] = -1;
    e.apCanalIpc[iCanal] = nullptr;
    e.aiRespuestas[iCanal] = RESPUESTA_NINGUNA;
    e.aiIndicadores[iCanal] = 0;
    if (e.iRecursosEnUso > 0) e.iRecursosEnUso--;
}

int CServiciosDsp::BuscaRecurso(int32_t idRecurso, int* piDsp, int* piCanal) {
    if (iNumDsps < 1) return ERR_RECURSO_DESCONOCIDO;
    for (int c = 0; c < NUM_CANALES; c++) {
        if (asListaDsp[0].aiIdRecurso[c] == idRecurso && idRecurso >= 0) {
            *piDsp = 0;
            *piCanal = c;
            return 0;
        }
    }
    *piDsp = -1;
    *piCanal = 0xFFFF;
    return ERR_RECURSO_DESCONOCIDO;
}

Cola* CServiciosDsp::ObtenCanalIpcRecurso(int iDsp, int iCanal) {
    if (iDsp != 0 || iCanal < 0 || iCanal >= NUM_CANALES) return nullptr;
    const EntradaDsp& e = asListaDsp[0];
    if (e.iEstadoDsp != DSP_CAIDO && e.iEstadoDsp != DSP_OK) return nullptr;
    if (e.aiIdRecurso[iCanal] < 0) return nullptr;
    return e.apCanalIpc[iCanal];
}

int CServiciosDsp::EstadoDsp() {
    Toma();
    const int r = asListaDsp[0].iEstadoDsp;
    Suelta();
    return r;
}

int CServiciosDsp::RecursosEnUso() {
    Toma();
    const int r = asListaDsp[0].iRecursosEnUso;
    Suelta();
    return r;
}

void CServiciosDsp::FijaVisualizacion(int iValor) {
    if (iValor == 2)
        iVisualizaIncidencias = !iVisualizaIncidencias;
    else
        iVisualizaIncidencias = iValor != 0 ? 1 : 0;
}

void CServiciosDsp::PintaInfo() {
    TrazaDsp("Total DSPs = %d\n", iNumDsps);
    for (int d = 0; d < NUM_DSPS; d++) {
        const EntradaDsp& e = asListaDsp[d];
        if (e.iEstadoDsp != DSP_CAIDO && e.iEstadoDsp != DSP_OK) continue;
        TrazaDsp("   ID=%d ", d);
        TrazaDsp("%s", e.iEstadoDsp == DSP_OK ? "(OK)" : "(CAIDO)");
        TrazaDsp("  Errores=0\n");
        for (int c = 0; c < NUM_CANALES; c++)
            if (e.aiIdRecurso[c] >= 0) TrazaDsp("[%d]->%d  ", c, e.aiIdRecurso[c]);
        TrazaDsp("\n");
    }
}

void CServiciosDsp::AvisaEstado(int32_t iSlot, int32_t iEstado) {
    FnAvisoEstado pf = pfAvisoEstado.load();
    if (pf) pf(iSlot, iEstado);
}

void CServiciosDsp::EvtDspOk(int iDsp) {
    TrazaDsp("DREMSON: CServiciosDsp::EvtDspOk(%d)\n", iDsp);
    if (iDsp != 0) return;
    Toma();
    EntradaDsp& e = asListaDsp[0];
    if (e.iEstadoDsp == DSP_CAIDO) {
        e.iEstadoDsp = DSP_OK;
        NLOG::Log(NLOG::INFO, "DREMSON: DSP %d en marcha", iDsp);
        AvisaEstado(e.iSlot, 1);
    }
    Suelta();
}

void CServiciosDsp::EvtDspCaido(int iDsp) {
    TrazaDsp("DREMSON: CServiciosDsp::EvtDspCaido(%d)\n", iDsp);
    if (iDsp != 0) return;
    Toma();
    EntradaDsp& e = asListaDsp[0];
    if (e.iEstadoDsp == DSP_OK) {
        e.iEstadoDsp = DSP_CAIDO;
        NLOG::Log(NLOG::ERROR, "DREMSON: DSP %d caido", iDsp);
        AvisaEstado(e.iSlot, 0);
        // The link is down: no DSP command, only the owners are told.
        for (int c = 0; c < NUM_CANALES; c++) {
            if (e.aiIdRecurso[c] < 0) continue;
            TrazaDsp("CDREMSON: Eliminando recurso %d (IDLocal %d)\n", e.aiIdRecurso[c], c);
            if (e.apCanalIpc[c]) e.apCanalIpc[c]->EnviaLiberaRecurso(e.aiIdRecurso[c]);
            VaciaCanal(e, c);
        }
        e.iRecursosEnUso = 0;
    }
    Suelta();
}
