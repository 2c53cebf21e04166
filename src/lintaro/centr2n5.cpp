#include "centr2n5.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "ccontextorecurso.h"
#include "cmantats.h"
#include "comun/ctemporizador.h"
#include "comun/ganchosipc.h"
#include "comun/gestormutex.h"
#include "comun/hilo.h"
#include "comun/nlog.h"
#include "comun/trazapid.h"
#include "comun/vigilanciahilos.h"
#include "hardware/hardware.h"
#include "ipcrec.h"
#include "libdsp.h"

namespace {
constexpr uint32_t CLASE_ATS = 0x10;
constexpr uint32_t CLASES_LINEA = 0x3E;  // 02h-20h
constexpr uint32_t CLASE_DEBUG = 0x8000;
constexpr int TIPO_RINGBACK = 100;       // the ringback timer, apart from the state timer's kinds

// Countdown slots of the supervisor, in microseconds.
constexpr uint32_t US_SLOT0 = 6000000, US_DSP = 2000000, US_PUBLICA = 5000000, US_PRUEBA_INICIAL = 5000000,
                   US_PRUEBA = 500000, US_HW_INICIAL = 200000, US_MINIMO = 20000;

// Ticks of 100 ms of the base timer list.
constexpr int32_t T_RESPUESTA = 200, T_BLOQUEO = 80, T_FIN_LIBERACION = 25, T_FALLO_PRUEBA = 10, T_RINGBACK = 6,
                  T_AVISO_N5 = 165;

// Causes and reasons towards the core.
constexpr int C_NORMAL = 0, C_OCUPADO = 202, C_PROTOCOLO = 203, C_NO_CONTESTA = 204, C_FUERA = 205,
              C_CONGESTION = 206, C_PRIORIDAD = 208, C_LIBERA_SOLO = 210, C_ANTES_RESPUESTA = 211;

const char* const kNombresEstado[] = {"FUERADESERVICIO", "REPOSO", "PETICION LLAMADA ENTRANTE", "LLAMADA ENTRANTE",
                                      "CONVERSACION", "LLAMADA SALIENTE", "LLAMADA SALIENTE PRUEBA", "BLOQUEO",
                                      "INTERRUPCION POR PRIORIDAD", "INTERRUPCION POR PRIORIDAD", "LIBERANDO"};

// Published code of each state; 1 and 2 carry a priority.
const uint8_t kCodigos[] = {10, 0, 2, 2, 1, 1, 2, 10, 2, 2, 1};

bool EsPrioridadPreferente(uint32_t p) { return p == 1 || p == 6; }

// Digits from the core (a field of its call record, longer than ours): characters '0'-'9' or
// digit values; the line takes values. A value 0 is a digit, so the copy never stops at one.
void DigitosDeNucleo(char* pcDestino, const char* pcOrigen) {
    for (int i = 0; i < CEntidadR2N5::MAX_DIGITOS; ++i)
        pcDestino[i] = pcOrigen[i] >= '0' && pcOrigen[i] <= '9' ? static_cast<char>(pcOrigen[i] - '0') : pcOrigen[i];
}


void Texto(char* pcDestino, size_t tam, const char* pcOrigen, size_t n) {
    const size_t m = std::min(tam - 1, n);
    memcpy(pcDestino, pcOrigen, m);
    pcDestino[m] = '\0';
    pcDestino[strnlen(pcDestino, m)] = '\0';
}
}  // namespace

CEntidadR2N5::CEntidadR2N5() {
    CreaContadores(&oContadores, NUM_SLOTS);
    // No call yet: an id of 0 from the core must not match an empty record.
    sLlamada.iIdLlamada = sLlamadaInterrupcion.iIdLlamada = sLlamadaPendiente.iIdLlamada = -1;
    NLOG::Log(NLOG::INFO, "-CEntidadR2N5:------...estado_dualidad =%i", estado_dualidad);
}

CEntidadR2N5::~CEntidadR2N5() { LiberaContadores(&oContadores); }

int CEntidadR2N5::Arranca(int iNumRec) { return Inicia(iNumRec); }

void CEntidadR2N5::LeeConfig() {
    cfgCerrojo c(&pContexto->tMutexConfig);
    const cfgConfigRecurso& r = pContexto->sRegistro;
    const cfgParamR2N5& p = r.uParam.r2n5;
    iTipoIf = r.iTipoIf;
    iCfgModoSistema = r.iCfgModoSistema;
    iLado = p.iLado;
    iT_Release = p.iT_Release;
    iT_Int_Warning = p.iT_Int_Warning;
    isuperv_options = r.sColateral.isuperv_options;
    Texto(acNombre, sizeof acNombre, r.nombre, sizeof r.nombre);
    // Counts beyond the arrays would read past the record.
    const int32_t ai[4] = {p.iNumRangosOperador, p.iNumRangosPrivilegiados, p.iNumRangosDirectosOpe,
                           p.iNumRangosDirectosPriv};
    const cfgParRango* ap[4] = {p.asMisRangosOperador, p.asMisRangosPrivilegiados, p.asRangosDirectosOpe,
                                p.asRangosDirectosPriv};
    const int am[4] = {CFG_MAX_RANGOS_OPERADOR, CFG_MAX_RANGOS_PRIVILEGIADOS, CFG_MAX_RANGOS_DIRECTOS_OPE,
                       CFG_MAX_RANGOS_DIRECTOS_PRIV};
    for (int i = 0; i < 4; ++i) {
        iNumRangos[i] = std::max(0, std::min(ai[i], am[i]));
        memcpy(asRangos[i], ap[i], sizeof(cfgParRango) * static_cast<size_t>(iNumRangos[i]));
    }
}

int CEntidadR2N5::Inicia(int iNumRec) {
    iRec = iNumRec;
    {
        cfgCerrojo c(&pContexto->tMutexConfig);
        sAplicada = pContexto->sRegistro;
    }
    LeeConfig();
    char szNombre[7 + 1], szLocal[7], szRemoto[7];
    {
        cfgCerrojo c(&pContexto->tMutexConfig);
        const cfgParamR2N5& p = pContexto->sRegistro.uParam.r2n5;
        Texto(szLocal, sizeof szLocal, p.ntest_local, sizeof p.ntest_local);
        Texto(szRemoto, sizeof szRemoto, p.ntest_remoto, sizeof p.ntest_remoto);
    }
    Texto(szNombre, sizeof szNombre, acNombre, 1);  // only its emptiness matters
    if (!iArrancada) {
        char sz[48];
        snprintf(sz, sizeof sz, "CEntidadR2N5[%d].tMutex", iRec);
        CreaMutex(sz, &tMutex, nullptr);
        snprintf(sz, sizeof sz, "CEntidadR2N5[%d].tMutexRecDsp", iRec);
        CreaMutex(sz, &tMutexRecDsp, nullptr);
        const int r = CEntidadRC::Inicia(iNumRec);
        if (r != 0) return r;
        {
            cfgCerrojo c(&pContexto->tMutexConfig);
            iRespuestaInmediata = pContexto->sRegistro.sColateral.iRespuestaAutomatica;
        }
    }
    {
        cfgCerrojo c(&tMutexGlobal);
        sEstadoPublicado.ucEstado = 255;
        iColateralPublicado = static_cast<uint32_t>(-1);
        iEstado = REPOSO;
        iLlamadaPendiente = 0;
        iInterrupcionAbortada = 0;
        oGestorPruebas.Configura(szNombre, szLocal, szRemoto);
    }
    if (!iArrancada) {
        if (CreaHiloSuelto(&tSupervisor, sSupervisorR2N5, this) != 0) {
            NLOG::Log(NLOG::ERROR, "CENTR2N5[%d]: Error creando hilo supervisor", iRec);
            return ERROR_HILO;
        }
        iArrancada = 1;
    }
    {
        cfgCerrojo c(&tMutexGlobal);
        LimpiaPublica();
    }
    if (iCfgModoSistema == 0) {
        cfgCerrojo c(&pContexto->tMutexConfig);
        const cfgConfigRecurso& r = pContexto->sRegistro;
        char szDestino[65], szRed[34], szTroncal[34];
        Texto(szDestino, sizeof szDestino, r.szDestino, sizeof r.szDestino);
        Texto(szRed, sizeof szRed, r.uParam.r2n5.szIdRed, sizeof r.uParam.r2n5.szIdRed);
        Texto(szTroncal, sizeof szTroncal, r.uParam.r2n5.szIdTroncal, sizeof r.uParam.r2n5.szIdTroncal);
        Mantats().Configura(acNombre, iTipoIf, szDestino, szRed, szTroncal);
    }
    return 0;
}

// ---- Supervisor ----

void* CEntidadR2N5::sSupervisorR2N5(void* p) {
    static_cast<CEntidadR2N5*>(p)->SupervisorCEntidadR2N5();
    return nullptr;
}

void CEntidadR2N5::SupervisorCEntidadR2N5() {
    FijaPrioridadHilo(1);
    TrazaPid("Supervisor CEntR2N5", iRec, "src/recurso/centr2n5");
    NLOG::Log(NLOG::INFO, "CENTR2N5[%d]:Arrancado hilo supervisor CEntR2N5 canal(%i)", iRec,
              static_cast<int>(getpid()));
    const int iVigia = RegistraHilo("Supervisor CEntidadR2N5", iRec, 12000, hwDameTiempo());
    SupervisaHW();
    {
        cfgCerrojo c(&tMutexGlobal);
        uint32_t* s = oContadores.contadores;
        s[0] = US_SLOT0;
        s[SLOT_DSP] = US_DSP;
        s[SLOT_PUBLICA] = US_PUBLICA;
        s[SLOT_PRUEBA] = US_PRUEBA_INICIAL;
        s[SLOT_HW] = US_HW_INICIAL;
    }
    uint32_t* s = oContadores.contadores;
    for (;;) {
        uint32_t uiEspera;
        {
            cfgCerrojo c(&tMutexGlobal);
            AvanzaContadores(&oContadores);
            uiEspera = DameMinimoContador(&oContadores);
        }
        usleep(std::max(uiEspera, US_MINIMO));
        RefrescaHilo(iVigia, hwDameTiempo());
        {
            cfgCerrojo c(&tMutexGlobal);
            if (s[SLOT_DSP] == 0) {
                s[SLOT_DSP] = US_DSP;
                GestionaRecursoDsp();
            }
        }
        {
            cfgCerrojo c(&tMutexGlobal);
            if (s[SLOT_PUBLICA] == 0) PublicaEstado();
        }
        {
            cfgCerrojo c(&tMutexGlobal);
            if (s[SLOT_PRUEBA] == 0) {
                s[SLOT_PRUEBA] = US_PRUEBA;
                LanzaLlamadaPrueba();
            }
        }
        bool bHw;
        {
            cfgCerrojo c(&tMutexGlobal);
            bHw = s[SLOT_HW] == 0;
        }
        if (bHw) {
            const uint32_t us = static_cast<uint32_t>(SupervisaHW());
            cfgCerrojo c(&tMutexGlobal);
            s[SLOT_HW] = us;
        }
    }
}

void CEntidadR2N5::GestionaRecursoDsp() {
    cfgCerrojo c(&tMutexRecDsp);
    if (iRecursoDsp < 0) {
        const int r = ldspArrancaRecurso(0, this);
        if (r >= 0) {
            iIdPeticionDsp = static_cast<uint32_t>(r);
            NLOG::Log(NLOG::INFO, "CENTR2N5[%d]: Creado recurso DSP (%i)", iRec, r);
        } else {
            NLOG::Log(NLOG::ERROR, "CENTR2N5[%d]: Error en ldspArrancaRecurso (%i)", iRec, r);
        }
        return;
    }
    if (iConfigurarDsp == 1) ConfiguraRecursoDsp();
}

// Under tMutexRecDsp. A failed step leaves the flag set: the whole sequence is repeated.
int CEntidadR2N5::ConfiguraRecursoDsp() {
    const int id = iRecursoDsp;
    PasoDsp asPasos[NUM_PASOS_SLOTS_DSP + 2];
    PasosSlotsDsp(asPasos);
    asPasos[NUM_PASOS_SLOTS_DSP] = {"ldspTomaCodecIfRx", ldspTomaCodecIfRx, 8};
    asPasos[NUM_PASOS_SLOTS_DSP + 1] = {"ldspTomaCodecIfTx", ldspTomaCodecIfTx, 8};
    const int n = sizeof asPasos / sizeof asPasos[0];
    int e = 0;
    const int i = ldspEjecutaPasos(id, asPasos, n, &e);
    if (i < n) {
        NLOG::Log(NLOG::ERROR, "CENTR2N5[%d]: Error en %s(%i, %i)", iRec, asPasos[i].szNombre, asPasos[i].iValor, id);
        return -1;
    }
    const int32_t aiBloque[2] = {iCfgModoSistema == 0 ? -10 : -13, iCfgModoSistema == 0 ? -50 : -38};
    e = EsN5() ? ldspTomaConfigN5(id, aiBloque) : ldspTomaConfigR2(id, aiBloque);
    if (e != 0) {
        NLOG::Log(NLOG::ERROR, EsN5() ? "CENTR2N5[%d]: Error %i en ldspTomaConfigN5(%i)"
                                      : "CENTR2N5[%d]: Error %i en ldspTomaConfigR2(%i)",
                  iRec, e, id);
        return -1;
    }
    const int iProtocolo = (EsN5() ? 5 : 3) + (iLado == 1 ? 1 : 0);
    if ((e = ldspTomaProtocolo(id, iProtocolo)) != 0) {
        NLOG::Log(NLOG::ERROR, "CENTR2N5[%d]: Error %i en ldspTomaProtocolo(%i)", iRec, e, id);
        return -1;
    }
    iConfigurarDsp = 0;
    NLOG::Log(NLOG::INFO, "CENTR2N5[%d]: ProtocoloRecurso DSP configurado(%i) lado= %i", iRec, iProtocolo, iLado);
    return 0;
}

int CEntidadR2N5::Recurso() {
    cfgCerrojo c(&tMutexRecDsp);
    return iRecursoDsp;
}

int CEntidadR2N5::CodigoPublicado() {
    if (iEstadoHw != HW_EN_MARCHA || Recurso() < 0 || oGestorPruebas.DameEstado() != 0) return 10;
    if (iEstado < 0 || iEstado > LIBERANDO) return 10;
    return kCodigos[iEstado];
}

void CEntidadR2N5::PublicaEstado() {
    NotificacionEstado e{};
    e.ucEstado = static_cast<uint8_t>(CodigoPublicado());
    if (e.ucEstado == 1)
        e.iValor = static_cast<int32_t>(sLlamada.iPrioridad);
    else if (e.ucEstado == 2 && (iEstado == INTERRUPCION_AVISO || iEstado == INTERRUPCION_BLOQUEO))
        e.iValor = static_cast<int32_t>(sLlamadaInterrupcion.iPrioridad);
    e.iServicio = iEstadoHw == HW_EN_MARCHA ? 1 : 0;
    ipcrecEnviaNotificaEstado(&e);
    oContadores.contadores[SLOT_PUBLICA] = US_PUBLICA;
    const bool bCambio = e.ucEstado != sEstadoPublicado.ucEstado ||
                         (isuperv_options == 1 && EstadoColateralSIP != iColateralPublicado) || iForzarRegistro == 1 ||
                         iEstadoHw != iUltimoEstadoHw;
    sEstadoPublicado = e;
    if (!bCambio) return;
    iForzarRegistro = 0;
    iUltimoEstadoHw = iEstadoHw;
    iColateralPublicado = EstadoColateralSIP;
    if (iEstadoHw != HW_PARADO)
        EnviaEstadoRecurso(&Mantats().sId, hwDameTiempo(), e.ucEstado, e.iValor);
    else
        EnviaEstadoRecurso(&Mantats().sId, hwDameTiempo());
}

void CEntidadR2N5::PublicaEstadoLibre() {
    cfgCerrojo c(&tMutexGlobal);
    PublicaEstado();
}

// ---- Timers ----

uintptr_t CEntidadR2N5::sVence(uintptr_t a1, uintptr_t a2, uintptr_t a3) {
    reinterpret_cast<CEntidadR2N5*>(a1)->Vence(static_cast<int>(a2), static_cast<uint32_t>(a3));
    return 0;
}

void CEntidadR2N5::ArmaEstado(int iTipo, int32_t iTicks) {
    if (oTempEstado.Arma(iTicks, sVence, reinterpret_cast<uintptr_t>(this), iTipo) < 0)
        NLOG::Log(NLOG::ERROR, "CENTR2N5[%d]: Error armando temporizador (%i)", iRec, iTipo);
}

void CEntidadR2N5::CancelaEstado() { oTempEstado.Cancela(); }

void CEntidadR2N5::TempDSP_Ringback() {
    if (oTempRingback.Arma(T_RINGBACK, sVence, reinterpret_cast<uintptr_t>(this), TIPO_RINGBACK) < 0)
        NLOG::Log(NLOG::ERROR, "CENTR2N5[%d]: Error armando temporizador (%i)", iRec, TIPO_RINGBACK);
}

// Every expiry holds tMutexGlobal: a far-end release arriving meanwhile is never overwritten.
void CEntidadR2N5::Vence(int iTipo, uint32_t uiArmado) {
    cfgCerrojo c(&tMutexGlobal);
    if (iTipo == TIPO_RINGBACK) {
        if (oTempRingback.Vence(uiArmado)) VenceRingback();
        return;
    }
    if (!oTempEstado.Vence(uiArmado)) return;
    IpcTraza(CLASE_DEBUG, "Vence temporizador R2N5 \n");
    NLOG::Log(NLOG::INFO, "CENTR2N5[%d]:Vence_RespuestaDSP (%i)", iRec, iTipo);
    switch (iTipo) {
    case 0:
        FinInterruptWarning();
        break;
    case 1:
        if (iEstado == SALIENTE) {
            RechazaAlNucleo(C_NO_CONTESTA);
            DSP_Libera();
            iEstado = REPOSO;
            IpcTraza(CLASES_LINEA, "CENTR2N5[%d]: Vence Respuesta DSP LlamSal (%d)\n", iRec, iEstado);
            NLOG::Log(NLOG::INFO, "CENTR2N5[%d]:  Vence Respuesta DSP LlamSal %i ", iRec, iEstado);
            oGestorPruebas.ReintentaPronto(hwDameTiempo());
            LimpiaPublica();
        } else if (iEstado == SALIENTE_PRUEBA) {
            DSP_Libera();
            iEstado = REPOSO;
            oGestorPruebas.LlamadaSalienteFallida(hwDameTiempo());
            LimpiaPublica();
        }
        break;
    case 3:
        if (iEstado == INTERRUPCION_BLOQUEO) {
            RechazaAlNucleo(C_NO_CONTESTA);
            DSP_Libera();
            iEstado = REPOSO;
            NLOG::Log(NLOG::ERROR, "CENTR2N5[%d]: Error al generar bloqueo de interrupcion por prioridad (%i)", iRec,
                      iEstado);
            IpcTraza(CLASE_ATS, "CENTR2N5[%d]: Error al generar bloqueo de interrupcion por prioridad (%i)\n", iRec,
                     iEstado);
            LimpiaPublica();
        }
        break;
    case 4:
        if (iEstado == LIBERANDO) ProcesaLlamadaPendiente();
        break;
    case 5:
        if (iEstado == LIBERANDO) {
            DSP_FinSecuencia();
            DSP_Libera();
            ArmaEstado(4, T_FIN_LIBERACION);
        }
        break;
    case 6:
        if ((iEstado == SALIENTE || iEstado == SALIENTE_PRUEBA) && iCfgModoSistema == 0) PasaRecursoR2N5AReposo(0);
        break;
    default:
        NLOG::Log(NLOG::INFO, "CENTR2N5[%d]:Vence_RespuestaDSP No tiene efecto (%i)", iRec, iTipo);
        break;
    }
}

void CEntidadR2N5::VenceRingback() {
    IpcTraza(CLASE_DEBUG, "Vence_TempDSP_Ringback R2N5 \n");
    if ((iEstado == PETICION_ENTRANTE || iEstado == ENTRANTE) && !EsN5()) DSP_Ringback();
}

void CEntidadR2N5::FinInterruptWarning() {
    if (iEstado != INTERRUPCION_AVISO) return;
    NLOG::Log(NLOG::INFO, "(%i) FinInterruptWarning", iRec);
    if (!EsN5()) {
        iEstado = INTERRUPCION_BLOQUEO;
        DSP_FinSecuencia();
        DSP_Bloquea();
        ArmaEstado(3, T_BLOQUEO);
    } else {
        iEstado = SALIENTE;
        ArmaEstado(1, T_RESPUESTA);
    }
    FinLlamadaNucleo(sLlamada.iIdLlamada, C_PRIORIDAD);
    NLOG::Log(NLOG::INFO, "(%i) FinInterruptWarning Fin llamada ", iRec);
    if (ConRegistros()) RegistroFin();
    sLlamada = sLlamadaInterrupcion;
    ipcrecEnviaRinging(sLlamada.iIdLlamada, 3);
    LimpiaPublica();
}

// ---- DSP line commands: a failure is logged and traced, never propagated ----

void CEntidadR2N5::ErrorDsp(int e, const char* szComando) {
    NLOG::Log(NLOG::ERROR, "CENTR2N5[%d]: Error %i en %s %i", iRec, e, szComando, Recurso());
    IpcTraza(CLASE_ATS, "CENTR2N5[%d]: Error en %s()= %d, DSP=%d\n", iRec, szComando, e, Recurso());
}

int CEntidadR2N5::DSP_Orden(int (*fOrden)(int32_t), const char* szNombre, const char* szOrden) {
    NLOG::Log(NLOG::INFO, "CENTR2N5[%d]:%s ", iRec, szNombre);
    const int e = fOrden(Recurso());
    if (e != 0) ErrorDsp(e, szOrden);
    return 0;
}

int CEntidadR2N5::DSP_LLama(const DatosLlamada& d) {
    const char* o = d.acOrigen;
    const char* t = d.acDestino;
    NLOG::Log(NLOG::INFO, "CENTR2N5[%d]: DSP_LLama %i (%i%i%i%i%i%i-%i%i%i%i%i%i", iRec, Recurso(), o[0], o[1], o[2],
              o[3], o[4], o[5], t[0], t[1], t[2], t[3], t[4], t[5]);
    const int e = ldspLlama(Recurso(), static_cast<uint8_t>(d.iPrioridad & 0xFF), o, DIGITOS_TRONCAL, t,
                            DIGITOS_TRONCAL);
    if (e != 0) ErrorDsp(e, "ldspLlama");
    return 0;
}

int CEntidadR2N5::DSP_IntervencionPrioridad(const DatosLlamada& d, int iAviso) {
    NLOG::Log(NLOG::INFO, "CENTR2N5[%d]:DSP_IntervencionPrioridad iTIWarning %i", iRec, iAviso);
    const int e = ldspIntervencion(Recurso(), static_cast<int32_t>(d.iPrioridad & 0xFF), d.acOrigen, DIGITOS_TRONCAL,
                                   d.acDestino, DIGITOS_TRONCAL, iAviso);
    if (e != 0) ErrorDsp(e, "ldspIntervencion");
    return 0;
}

int CEntidadR2N5::DSP_FinIntervencionPrioridad() {
    NLOG::Log(NLOG::INFO, "CENTR2N5[%d]:DSP_FinIntervencionPrioridad ", iRec);
    const int e = ldspFinIntervencion(Recurso());
    if (e != 0) ErrorDsp(e, "ldspIntervencion");
    return 0;
}

int CEntidadR2N5::DSP_Libera() { return DSP_Orden(ldspLibera, "DSP_Libera", "ldspLibera"); }

int CEntidadR2N5::DSP_RespondeLibre() { return DSP_Orden(ldspRespondeLibre, "DSP_RespondeLibre", "ldspRespondeLibre"); }

int CEntidadR2N5::DSP_RespondeOcupado() { return DSP_Orden(ldspRespondeOcupado, "DSP_RespondeOcupado", "ldspRespondeOcupado"); }

int CEntidadR2N5::DSP_RespondeFueraDeServicio() { return DSP_Orden(ldspRespondeFueraDeServicio, "DSP_RespondeFueraDeServicio", "ldspRespondeFueraDeServicio"); }

int CEntidadR2N5::DSP_RespondeCongestion() {
    NLOG::Log(NLOG::INFO, "CENTR2N5[%d]:DSP_RespondeCongestion ", iRec);
    const int e = ldspRespondeCongestion(Recurso());
    if (e != 0) NLOG::Log(NLOG::ERROR, "CENTR2N5[%d]: Error en ldspRespondeCongestion()= %d, DSP=%d\n", iRec, e, Recurso());
    return 0;
}

int CEntidadR2N5::DSP_Bloquea() {
    NLOG::Log(NLOG::INFO, "CENTR2N5[%d]: DSP_Bloquea", iRec);
    const int e = ldspBloquea(Recurso());
    if (e != 0) NLOG::Log(NLOG::ERROR, "CENTR2N5[%d]: Error en ldspBloquea()= %d, DSP=%d", iRec, e, Recurso());
    return 0;
}

int CEntidadR2N5::DSP_Descuelga() {
    const int e = ldspDescuelga(Recurso());
    if (e != 0) NLOG::Log(NLOG::ERROR, "CENTR2N5[%d]: Error %i en ldspDescuelga(%i)", iRec, e, Recurso());
    return 0;
}

int CEntidadR2N5::DSP_GeneraTono(int iSecuencia, int iCuenta) {
    const int e = ldspGeneraSecuenciaTonosTx(Recurso(), iSecuencia, iCuenta);
    if (e != 0) NLOG::Log(NLOG::ERROR, "CENTR2N5[%d]: Error %i en ldspGeneraSecuenciaTonosTx(%i)", iRec, e, Recurso());
    return 0;
}

int CEntidadR2N5::DSP_InterruptWarning() {
    NLOG::Log(NLOG::INFO, "CENTR2N5[%d]: DSP_InterruptWarning (%i-%i)", iRec, 5, 15);
    return DSP_GeneraTono(5, 15);
}

int CEntidadR2N5::DSP_Ringback() {
    NLOG::Log(NLOG::INFO, "CENTR2N5[%d]: DSP_Ringback", iRec);
    return DSP_GeneraTono(2, 60);
}

int CEntidadR2N5::DSP_FinSecuencia() {
    oTempRingback.Cancela();
    NLOG::Log(NLOG::INFO, "CENTR2N5[%d]: DSP_FinSecuencia", iRec);
    return DSP_GeneraTono(0, 0);
}

// ---- Records ----

// The digits as a decimal number in one of the two lists of ranges (first and last included).
int CEntidadR2N5::EnRangos(const char* pc, int n, int iLista1, const char* szTexto1, const char* szTexto2) const {
    if (n > 9 || n <= 0) return 0;  // more than 9 digits never match
    int64_t v = 0;
    for (int i = 0; i < n; ++i) v = v * 10 + pc[i];
    for (int k = 0; k < 2; ++k) {
        const int l = iLista1 + k;
        for (int i = 0; i < iNumRangos[l]; ++i)
            if (v >= asRangos[l][i].iDesde && v <= asRangos[l][i].iHasta) {
                NLOG::Log(NLOG::INFO, k == 0 ? szTexto1 : szTexto2, static_cast<int>(v));
                return 1;
            }
    }
    return 0;
}

int CEntidadR2N5::NumeroEsMio(const char* pc, int n) const {
    return EnRangos(pc, n, 0, "Numero %d dentro de Rangos Operador de mi central",
                    "Numero %d dentro de Rangos Privilegiados de mi central");
}

int CEntidadR2N5::NumeroEsDirecto(const char* pc, int n) const {
    return EnRangos(pc, n, 2, "Numero %d dentro de Rangos Operador directos",
                    "Numero %d dentro de Rangos Privilegiados directos");
}

void CEntidadR2N5::RegistroEntrante(int iResultado) {
    Mantats().LlamadaEntrante(sLlamada.acOrigen, sLlamada.acDestino, DIGITOS_TRONCAL,
                              static_cast<int>(sLlamada.iPrioridad), iResultado,
                              NumeroEsMio(sLlamada.acDestino, DIGITOS_TRONCAL), 0, time(nullptr), hwDameTiempo());
}

void CEntidadR2N5::RegistroSaliente(int iResultado) {
    if (!ConRegistros()) return;
    Mantats().LlamadaSaliente(sLlamada.acOrigen, sLlamada.acDestino, DIGITOS_TRONCAL,
                              static_cast<int>(sLlamada.iPrioridad), iResultado, 0,
                              NumeroEsMio(sLlamada.acOrigen, DIGITOS_TRONCAL), time(nullptr), hwDameTiempo());
}

void CEntidadR2N5::RegistroFin() {
    if (sLlamada.iSaliente == 1)
        Mantats().FinLlamadaSaliente(NumeroEsMio(sLlamada.acOrigen, DIGITOS_TRONCAL), time(nullptr), hwDameTiempo());
    else
        Mantats().FinLlamadaEntrante(0, time(nullptr), hwDameTiempo());
}

void CEntidadR2N5::FinLlamadaNucleo(int32_t id, int iCausa) {
    if (id >= 0) ipcrecEnviaFinLlamadaCausa(id, iCausa);
}

// The core's call is refused and forgotten at once, so its id can never reach the core again.
void CEntidadR2N5::RechazaAlNucleo(int iMotivo) {
    ipcrecEnviaRechazaLlamada(sLlamada.iIdLlamada, iMotivo);
    sLlamada.iIdLlamada = -1;
}

// ---- Calls from the core ----

int CEntidadR2N5::LlamadaSaliente(int32_t id, const char* pcOrigen, const char* pcDestino, int iPrioridad) {
    NLOG::Log(NLOG::INFO, "CENTR2N5[%d]:LlamadaSaliente estado %i", iRec, iEstado);
    DatosLlamada d{};
    DigitosDeNucleo(d.acOrigen, pcOrigen);
    DigitosDeNucleo(d.acDestino, pcDestino);
    d.iPrioridad = static_cast<uint32_t>(iPrioridad) & 0xFF;
    d.iIdLlamada = id;
    d.iSaliente = 1;
    cfgCerrojo c(&tMutexGlobal);
    switch (iEstado) {
    case FUERADESERVICIO:
        return REC_FUERA_SERVICIO;
    case REPOSO:
        DSP_LLama(d);
        sLlamada = d;
        iEstado = SALIENTE;
        LimpiaPublica();
        ArmaEstado(1, T_RESPUESTA);
        return 0;
    case LIBERANDO:
        sLlamadaPendiente = d;
        iLlamadaPendiente = 1;
        return 0;
    case CONVERSACION:
        if (EsPrioridadPreferente(d.iPrioridad) && !EsPrioridadPreferente(sLlamada.iPrioridad)) {
            iInterrupcionAbortada = 0;
            sLlamadaInterrupcion = d;
            const int iAviso = iT_Int_Warning < 1 ? 8 : iT_Int_Warning;
            if (EsN5()) {
                DSP_IntervencionPrioridad(d, iAviso);
                ArmaEstado(0, T_AVISO_N5);
            } else {
                NLOG::Log(NLOG::INFO, "TRAZA iT_Interrupt_Warwning %i", iAviso);
                ArmaEstado(0, (iAviso - 1) * 10);
                DSP_InterruptWarning();
            }
            iEstado = INTERRUPCION_AVISO;
            LimpiaPublica();
            ipcrecEnviaRinging(id, 2);
            ipcrecEnviaInfoLlamada(sLlamada.iIdLlamada, 1, id);
            return 0;
        }
        break;
    default:
        break;
    }
    NLOG::Log(NLOG::INFO, "CENTR2N5[%d]:LlamSal CENR2N5_REC_OCUPADO (%i)", iRec, iEstado);
    return REC_OCUPADO;
}

void CEntidadR2N5::LiberaLlamada() {
    const int iAntes = iEstado;
    if (!EsN5())
        DSP_FinSecuencia();
    else if (iAntes == ENTRANTE)
        DSP_Descuelga();  // the line is answered before it is released
    DSP_Libera();
    CancelaEstado();
    iEstado = LIBERANDO;
    ArmaEstado(4, T_FIN_LIBERACION);
    if (ConRegistros() && (iAntes == ENTRANTE || iAntes == CONVERSACION)) RegistroFin();
}

int CEntidadR2N5::FinLlamada(int32_t id) {
    {
        cfgCerrojo c(&tMutexGlobal);
        switch (iEstado) {
        case ENTRANTE:
        case CONVERSACION:
        case SALIENTE:
            if (id == sLlamada.iIdLlamada) {
                LiberaLlamada();
                sLlamada.iIdLlamada = -1;
                iLlamadaPendiente = 0;
            } else if (id == sLlamadaInterrupcion.iIdLlamada) {
                DSP_FinIntervencionPrioridad();
            } else {
                NLOG::Log(NLOG::INFO, "CENTR2N5[%d]:Fin de llamada desconocida (%i)", iRec, id);
            }
            break;
        case BLOQUEO:
            break;
        case INTERRUPCION_AVISO:
            if (id == sLlamada.iIdLlamada) {
                LiberaLlamada();
                sLlamada.iIdLlamada = -1;
                sLlamadaPendiente = sLlamadaInterrupcion;
                iLlamadaPendiente = 1;
            } else if (id == sLlamadaInterrupcion.iIdLlamada) {
                if (EsN5()) DSP_FinIntervencionPrioridad();
                DSP_FinSecuencia();
                CancelaEstado();
                ipcrecEnviaInfoLlamada(sLlamada.iIdLlamada, 2, 0);
                sLlamadaInterrupcion.iIdLlamada = -1;
                iEstado = CONVERSACION;
                LimpiaPublica();
                NLOG::Log(NLOG::INFO, "CENTR2N5[%d]:Abortada interrupcion (%i)", iRec, id);
            } else {
                NLOG::Log(NLOG::INFO, "CENTR2N5[%d]:Fin de llamada desconocida (%i)", iRec, id);
            }
            break;
        case INTERRUPCION_BLOQUEO:
            if (id == sLlamadaInterrupcion.iIdLlamada) {
                iInterrupcionAbortada = 1;
                NLOG::Log(NLOG::INFO, "CENTR2N5[%d]:Abortada interrupcion (%i)", iRec, id);
            } else {
                NLOG::Log(NLOG::INFO, "CENTR2N5[%d]:Fin de llamada desconocida (%i)", iRec, id);
            }
            break;
        case LIBERANDO:
            if (iRespuestaInmediata == 0) iEstado = REPOSO;
            break;
        default:
            NLOG::Log(NLOG::INFO, "CENTR2N5[%d]:Estado recurso desconocido %i", iRec, iEstado);
            iEstado = REPOSO;
            break;
        }
    }
    PublicaEstadoLibre();
    return 0;
}

int CEntidadR2N5::Ringing() {
    cfgCerrojo c(&tMutexGlobal);
    if (iEstado == PETICION_ENTRANTE) {
        iEstado = ENTRANTE;
        LimpiaPublica();
        if (iRespuestaInmediata == 0) DSP_RespondeLibre();
        if (!EsN5()) TempDSP_Ringback();
        if (ConRegistros()) RegistroEntrante(R_LIBRE);
    }
    NLOG::Log(NLOG::INFO, "CENTR2N5[%d]: Ringing (%d)", iRec, iEstado);
    return 0;
}

int CEntidadR2N5::AceptaLlamada() {
    cfgCerrojo c(&tMutexGlobal);
    DSP_FinSecuencia();
    const int iAntes = iEstado;
    if (iAntes == PETICION_ENTRANTE) {
        DSP_RespondeLibre();
        if (EsN5()) DSP_Descuelga();
    } else if (iAntes == ENTRANTE) {
        if (EsN5()) DSP_Descuelga();
    }
    // Still under the lock: a far-end release in between must not be overwritten.
    if (iAntes == PETICION_ENTRANTE || iAntes == ENTRANTE) {
        iEstado = CONVERSACION;
        LimpiaPublica();
        if (ConRegistros()) RegistroEntrante(R_LIBRE);
    }
    NLOG::Log(NLOG::INFO, "CENTR2N5[%d]: AceptaLlamada (%d)", iRec, iEstado);
    return 0;
}

void CEntidadR2N5::RespondeRechazo(int iMotivo) {
    if (iRespuestaInmediata && EsN5()) {
        DSP_Descuelga();
        DuermeMs(500);
    }
    if (iRespuestaInmediata) {
        const int iSecuencia = iMotivo == C_FUERA ? 9 : iMotivo == C_OCUPADO ? 3 : 8;
        const int iCuenta = iT_Release < 1 ? 5 : iT_Release;
        if (iT_Release > 0) printf("iT_Release %i\n", iT_Release);
        NLOG::Log(NLOG::INFO, "CENTR2N5[%d]: DSP_GeneraTono(%i)", iRec, iSecuencia);
        DSP_GeneraTono(iSecuencia, iCuenta);
        iEstado = LIBERANDO;
        ArmaEstado(5, iT_Release < 1 ? 500 : iT_Release * 10);
        return;
    }
    if (iMotivo == C_FUERA)
        DSP_RespondeFueraDeServicio();
    else if (iMotivo == C_OCUPADO)
        DSP_RespondeOcupado();
    else
        DSP_RespondeCongestion();
    iEstado = REPOSO;
}

int CEntidadR2N5::RechazaLlamada(int32_t, int iMotivo) {
    cfgCerrojo c(&tMutexGlobal);
    DSP_FinSecuencia();
    int iResultado = R_FUERA;
    if (iEstado == PETICION_ENTRANTE) {
        switch (iMotivo) {
        case C_OCUPADO: RespondeRechazo(C_OCUPADO); iResultado = R_OCUPADO; break;
        case C_FUERA: RespondeRechazo(C_FUERA); break;
        case C_CONGESTION: RespondeRechazo(C_CONGESTION); iResultado = R_CONGESTION; break;
        case C_LIBERA_SOLO: DSP_Libera(); break;
        default: RespondeRechazo(iMotivo); break;
        }
    } else {
        iEstado = REPOSO;
        DSP_Libera();
    }
    sLlamada.iIdLlamada = -1;
    LimpiaPublica();
    if (ConRegistros()) RegistroEntrante(iResultado);
    NLOG::Log(NLOG::INFO, "CENTR2N5[%d]: RechazaLlamada (%d)", iRec, iMotivo);
    return 0;
}

int CEntidadR2N5::InfoLlamada(int32_t id, int iMotivo) {
    NLOG::Log(NLOG::INFO, "CENTR2N5[%d]: InfoLlamada(%d,%d)", iRec, id, iMotivo);
    cfgCerrojo c(&tMutexGlobal);
    if (id != sLlamada.iIdLlamada) return 0;
    if (iMotivo == 3 && iEstado == PETICION_ENTRANTE) {
        iEstado = ENTRANTE;
        LimpiaPublica();
        DSP_RespondeLibre();
        TempDSP_Ringback();
    } else if (iMotivo == 6) {
        DSP_GeneraTono(6, 1);
    }
    return 0;
}

void CEntidadR2N5::EvtDepuracion(int32_t iValor) {
    uint8_t b[4];
    memcpy(b, &iValor, sizeof b);  // first byte the selector, second its value
    cfgCerrojo c(&tMutexGlobal);
    switch (b[0]) {
    case 8:
        estado_dualidad = b[1];
        NLOG::Log(NLOG::INFO, "estado_dualidad =%i", estado_dualidad);
        break;
    case 13: EstadoColateralSIP = b[1]; break;
    case 16: iForzarRegistro = b[1]; break;
    default: break;
    }
}

// ---- Configuration ----

// The frame compares before it copies the new record but hands over only the flags: the
// entity compares with the record it applied last, once the new one is in place.
void CEntidadR2N5::CambioConfigGeneral(CambiosConfig*) {}
void CEntidadR2N5::CambioConfigIf(CambiosConfig*) {}

CambiosConfig CEntidadR2N5::Cambios(const cfgConfigRecurso& n) const {
    const cfgConfigRecurso& v = sAplicada;
    CambiosConfig c;
    if (v.iSelGananciaAgcTx != n.iSelGananciaAgcTx || v.iGananciaAgcTx != n.iGananciaAgcTx) c.uiGeneral |= 1;
    if (v.iSelGananciaAgcRx != n.iSelGananciaAgcRx || v.iGananciaAgcRx != n.iGananciaAgcRx) c.uiGeneral |= 2;
    const cfgParamR2N5& a = v.uParam.r2n5;
    const cfgParamR2N5& b = n.uParam.r2n5;
    if (a.iLado != b.iLado) c.uiInterfaz |= 1;
    if (memcmp(a.ntest_local, b.ntest_local, 6) != 0 || memcmp(a.ntest_remoto, b.ntest_remoto, 6) != 0)
        c.uiInterfaz |= 2;
    if (v.sColateral.iRespuestaAutomatica != n.sColateral.iRespuestaAutomatica) c.uiInterfaz |= 4;
    return c;
}

void CEntidadR2N5::AplicaConfig(const CambiosConfig&) {
    cfgConfigRecurso r;
    {
        cfgCerrojo c(&pContexto->tMutexConfig);
        r = pContexto->sRegistro;
    }
    const CambiosConfig sCambios = Cambios(r);
    sAplicada = r;
    NLOG::Log(NLOG::INFO, "CENTR2N5[%d]: AplicaConfig general %x interfaz %x", iRec, sCambios.uiGeneral,
              sCambios.uiInterfaz);
    {
        cfgCerrojo c(&tMutexGlobal);
        LeeConfig();
    }
    if (sCambios.uiInterfaz & 1) {
        // A new side needs a new DSP resource: the supervisor creates and configures it.
        cfgCerrojo c(&tMutexRecDsp);
        if (iRecursoDsp >= 0) {
            const int e = ldspLiberaRecurso(iRecursoDsp);
            if (e == 0)
                NLOG::Log(NLOG::INFO, "CENTR2N5[%d]:  Recurso DSP liberado por reconfiguracion (%d)", iRec, iRecursoDsp);
            else
                NLOG::Log(NLOG::ERROR, "CENTR2N5[%d]: ERROR en ldspLiberaRecurso(%d)", iRec, iRecursoDsp);
            iRecursoDsp = -1;
            iConfigurarDsp = 0;
        }
    }
    if (sCambios.uiGeneral & 1) AjustaGananciaTx(r.iSelGananciaAgcTx, r.iGananciaAgcTx);
    if (sCambios.uiGeneral & 2) AjustaGananciaRx(r.iSelGananciaAgcRx, r.iGananciaAgcRx);
    if (sCambios.uiInterfaz & 2) {
        char szNombre[2], szLocal[7], szRemoto[7];
        Texto(szNombre, sizeof szNombre, r.nombre, sizeof r.nombre);
        Texto(szLocal, sizeof szLocal, r.uParam.r2n5.ntest_local, sizeof r.uParam.r2n5.ntest_local);
        Texto(szRemoto, sizeof szRemoto, r.uParam.r2n5.ntest_remoto, sizeof r.uParam.r2n5.ntest_remoto);
        cfgCerrojo c(&tMutexGlobal);
        oGestorPruebas.Configura(szNombre, szLocal, szRemoto);
        LimpiaPublica();
    }
    if (sCambios.uiInterfaz & 4) {
        cfgCerrojo c(&tMutexGlobal);
        iRespuestaInmediata = r.sColateral.iRespuestaAutomatica;
    }
    char szClave[sizeof r.szClave + 1];
    Texto(szClave, sizeof szClave, r.szClave, sizeof r.szClave);
    NLOG::Log(NLOG::INFO, "CENTR2N5[%d]: iEnableRegistro %i szClave %s", iRec, r.iEnableRegistro, szClave);
    if (szClave[0] == 'T') {
        const int v = atoi(szClave + 1);
        const int e = ldspSelecCancelEcoTx(Recurso(), v);
        if (e == 0)
            NLOG::Log(NLOG::INFO, "CENTR2N5[%d]:ldspSelecCancelEcoTx(%d)", iRec, v);
        else
            NLOG::Log(NLOG::ERROR, "CENTR2N5[%d]:Error %i en ldspSelecCancelEcoTx(%d)", iRec, e, v);
    } else if (szClave[0] == 'R') {
        NLOG::Log(NLOG::INFO, "CENTR2N5[%d]:NO ESTA IMPLEMENTADO ldspSelecCancelEcoRx(%d)", iRec, atoi(szClave + 1));
    }
}

// ---- Test calls ----

void CEntidadR2N5::LanzaLlamadaPrueba() {
    if (iEstado != REPOSO) return;
    if (iEstadoHw == HW_PARADO) {
        oGestorPruebas.Reinicia();
        return;
    }
    if (oGestorPruebas.HayQueLlamar(hwDameTiempo()) != 1) return;
    DatosLlamada d{};
    int n = DIGITOS_TRONCAL, iCategoria = 0;
    oGestorPruebas.DameNumeros(&n, d.acOrigen, d.acDestino, &iCategoria);
    d.iPrioridad = static_cast<uint32_t>(iCategoria);
    d.iIdLlamada = -1;
    d.iSaliente = 1;
    NLOG::Log(NLOG::INFO, "CENTR2N5[%d]: Efectuando llamada de prueba", iRec);
    DSP_LLama(d);
    sLlamada = d;
    iEstado = SALIENTE_PRUEBA;
    LimpiaPublica();
    ArmaEstado(1, T_RESPUESTA);
}

void CEntidadR2N5::LlamadaPruebaSalienteOk() {
    iEstado = REPOSO;
    CancelaEstado();
    oGestorPruebas.LlamadaSalienteOk(hwDameTiempo());
    if (ConRegistros()) {
        char ac[80];
        snprintf(ac, sizeof ac, "%s=%s", "RC", acNombre);
        Evento(&Mantats().sId, 2304, ac, nullptr);
    }
    LimpiaPublica();
}

void CEntidadR2N5::LlamadaPruebaSalienteFallida() {
    if (oGestorPruebas.DameEstado() > 3) {
        NLOG::Log(NLOG::INFO, "CENTR2N5[%d]:LlamadaPruebaSalienteFallida(%d) Intentos fallidos %i", iRec, iEstado,
                  static_cast<int>(oGestorPruebas.DameEstado()));
    } else if (estado_dualidad == 0) {
        NLOG::Log(NLOG::INFO, "CENTR2N5[%d]:  LlamadaPruebaSalienteFallida(%d) ", iRec, iEstado);
        Evento(&Mantats().sId, EsN5() ? 2207 : 2204, nullptr, nullptr);
    } else {
        NLOG::Log(NLOG::INFO, "CENTR2N5[%d]: LlamadaPruebaSalienteFallida(%d) CPU Reserva estado_dualidad=%i", iRec,
                  iEstado, estado_dualidad);
    }
    oGestorPruebas.LlamadaSalienteFallida(hwDameTiempo());
}

// ---- DSP events ----

void CEntidadR2N5::TrazaEvento(const char* szEvento, int iValor) {
    IpcTraza(CLASE_ATS, "CENTR2N5[%d]: %s(%d)\n", iRec, szEvento, iValor);
    NLOG::Log(NLOG::INFO, "CENTR2N5[%d]: %s %i", iRec, szEvento, iValor);
}

int CEntidadR2N5::EvtDspRecursoCreado(int id) {
    TrazaEvento("EvtDspRecursoCreado", id);
    cfgCerrojo c(&tMutexRecDsp);
    if (static_cast<uint32_t>(id) != iIdPeticionDsp) {
        NLOG::Log(NLOG::INFO, "CENTR2N5[%d]: EvtDspRecursoCreado no es el esperado %i %i", iRec, id,
                  static_cast<int>(iIdPeticionDsp));
        return 0;
    }
    iRecursoDsp = id;
    iConfigurarDsp = 1;
    return 0;
}

int CEntidadR2N5::EvtDspLiberaRecurso() {
    {
        cfgCerrojo c(&tMutexGlobal);
        TrazaEvento("EvtDspLiberaRecurso", iEstado);
    }
    int iHabia;
    {
        cfgCerrojo c(&tMutexRecDsp);
        iHabia = iRecursoDsp;
        iRecursoDsp = -1;
        iConfigurarDsp = 0;
    }
    if (iHabia >= 0) {
        cfgCerrojo c(&tMutexGlobal);
        PasaRecursoR2N5AReposo(0);
        iEstado = FUERADESERVICIO;
        LimpiaPublica();
    }
    return 0;
}

void CEntidadR2N5::PasaRecursoR2N5AReposo(int iCausa) {
    CancelaEstado();
    if (iEstado >= SALIENTE_PRUEBA && iEstado <= INTERRUPCION_BLOQUEO) {
        iEstado = REPOSO;
    } else if ((iEstado >= PETICION_ENTRANTE && iEstado <= SALIENTE) || iEstado == LIBERANDO) {
        DSP_FinSecuencia();
        FinLlamadaNucleo(sLlamada.iIdLlamada, iCausa);
        sLlamada.iIdLlamada = -1;
        NLOG::Log(NLOG::INFO, "CENTR2N5[%d]: PasaRecursoR2N5AReposo %i", iRec, iCausa);
    }
    iEstado = REPOSO;
    PublicaEstado();
}

int CEntidadR2N5::EvtDspReposo() {
    cfgCerrojo c(&tMutexGlobal);
    TrazaEvento("EvtDspReposo", iEstado);
    PasaRecursoR2N5AReposo(0);
    return 0;
}

void CEntidadR2N5::RechazaLlamadaSaliente(int iMotivo, int iResultado) {
    iEstado = REPOSO;
    ipcrecEnviaRechazaLlamada(sLlamada.iIdLlamada, iMotivo);
    CancelaEstado();
    oGestorPruebas.LlamadaSalienteOk(hwDameTiempo());
    RegistroSaliente(iResultado);
    sLlamada.iIdLlamada = -1;
    LimpiaPublica();
}

// ATS-N5 in the warning phase: the interrupting call, placed by the intrusion, answers.
void CEntidadR2N5::Promociona() {
    FinLlamadaNucleo(sLlamada.iIdLlamada, C_PRIORIDAD);
    sLlamada = sLlamadaInterrupcion;
    ipcrecEnviaRinging(sLlamada.iIdLlamada, 3);
    LimpiaPublica();
    iEstado = SALIENTE;
}

void CEntidadR2N5::RespuestaSaliente(eRespuesta e) {
    const uint32_t ahora = hwDameTiempo();
    if (iEstado == SALIENTE) {
        switch (e) {
        case R_LIBRE:
            CancelaEstado();
            if (!EsN5()) {
                iEstado = CONVERSACION;
                ipcrecEnviaAceptaLlamada(sLlamada.iIdLlamada);
                RegistroSaliente(R_LIBRE);
            } else {
                ipcrecEnviaRinging(sLlamada.iIdLlamada, 0);
            }
            oGestorPruebas.LlamadaSalienteOk(ahora);
            LimpiaPublica();
            break;
        case R_OCUPADO: RechazaLlamadaSaliente(C_OCUPADO, R_OCUPADO); break;
        case R_CONGESTION: RechazaLlamadaSaliente(C_CONGESTION, R_CONGESTION); break;
        case R_FUERA: RechazaLlamadaSaliente(C_FUERA, R_FUERA); break;
        }
        return;
    }
    if (iEstado != SALIENTE_PRUEBA) return;
    switch (e) {
    case R_LIBRE:
        // A test call answered as free reached an ordinary line: failed, and released.
        NLOG::Log(NLOG::INFO, "CENTR2N5[%d]: Recibido LLAMADO_LIBRE a llamada de prueba", iRec);
        oGestorPruebas.LlamadaSalienteFallida(ahora);
        DuermeMs(10);
        LiberaLlamada();
        break;
    case R_OCUPADO:
    case R_CONGESTION:
        CancelaEstado();
        ArmaEstado(6, T_FALLO_PRUEBA);
        oGestorPruebas.LlamadaSalienteFallida(ahora);
        break;
    case R_FUERA:
        LlamadaPruebaSalienteOk();
        break;
    }
}

int CEntidadR2N5::EvtDspLlamadoLibre() {
    cfgCerrojo c(&tMutexGlobal);
    TrazaEvento("EvtDspLlamadoLibre", iEstado);
    if (EsN5() && iEstado == INTERRUPCION_AVISO) Promociona();
    RespuestaSaliente(R_LIBRE);
    return 0;
}

int CEntidadR2N5::EvtDspLlamadoDescuelga() {
    cfgCerrojo c(&tMutexGlobal);
    TrazaEvento("EvtDspLlamadoDescuelga", iEstado);
    if (!EsN5()) {
        NLOG::Log(NLOG::INFO, "CENTR2N5[%d]: EvtDspLlamadoDescuelga en recurso que no es ATS-N5 %i", iRec, iEstado);
        return 0;
    }
    if (iEstado != SALIENTE) return 0;
    iEstado = CONVERSACION;
    CancelaEstado();
    ipcrecEnviaAceptaLlamada(sLlamada.iIdLlamada);
    RegistroSaliente(R_LIBRE);
    LimpiaPublica();
    return 0;
}

int CEntidadR2N5::EvtDspLlamadoOcupado() {
    cfgCerrojo c(&tMutexGlobal);
    TrazaEvento("EvtDspLlamadoOcupado", iEstado);
    RespuestaSaliente(R_OCUPADO);
    return 0;
}

int CEntidadR2N5::EvtDspCongestion() {
    cfgCerrojo c(&tMutexGlobal);
    TrazaEvento("EvtDspCongestion", iEstado);
    RespuestaSaliente(R_CONGESTION);
    return 0;
}

int CEntidadR2N5::EvtDspFueraServicio() {
    cfgCerrojo c(&tMutexGlobal);
    TrazaEvento("EvtDspFueraServicio", iEstado);
    RespuestaSaliente(R_FUERA);
    return 0;
}

int CEntidadR2N5::EvtDspLlamadaEntrante(int iPrioridad, const char* pcOrigen, int iLongOrigen,
                                        const char* pcDestino, int iLongDestino) {
    cfgCerrojo c(&tMutexGlobal);
    TrazaEvento("EvtDspLlamadaEntrante", iEstado);
    if (iLongOrigen <= 0 || iLongDestino <= 0 || pcOrigen == nullptr || pcDestino == nullptr) {
        NLOG::Log(NLOG::ERROR, "CENTR2N5[%d]: Error Parametros EvtDspllamentrante()  DSP=%i", iRec, Recurso());
        return 0;
    }
    // The counts come from the DSP message: never past its digits, nor past ours.
    const int no = std::min(iLongOrigen, static_cast<int>(MAX_DIGITOS));
    const int nd = std::min(iLongDestino, static_cast<int>(MAX_DIGITOS));
    char ao[MAX_DIGITOS] = {}, ad[MAX_DIGITOS] = {};
    memcpy(ao, pcOrigen, static_cast<size_t>(no));
    memcpy(ad, pcDestino, static_cast<size_t>(nd));
    NLOG::Log(NLOG::INFO,
              "CENTR2N5[%d]: Evt LLamada entrante(%d) destino %d %d %d %d %d %d origen %d %d %d %d %d %d prioridad=%d",
              iRec, iEstado, ad[0], ad[1], ad[2], ad[3], ad[4], ad[5], ao[0], ao[1], ao[2], ao[3], ao[4], ao[5],
              iPrioridad);
    bool bCeroO = true, bCeroD = true;
    for (int i = 0; i < no; ++i) {
        if (ao[i] == 10) ao[i] = 0;
        bCeroO = bCeroO && ao[i] == 0;
    }
    for (int i = 0; i < nd; ++i) {
        if (ad[i] == 10) ad[i] = 0;
        bCeroD = bCeroD && ad[i] == 0;
    }
    if (bCeroO || bCeroD) {
        NLOG::Log(NLOG::ERROR, "CENTR2N5[%d]: Evt LLamada entrante(%d) Error: Origen o Destino 0", iRec, iEstado);
        return 0;
    }
    if (iPrioridad == 10) iPrioridad = 0;

    if (iEstado != REPOSO && iEstado != BLOQUEO) {
        NLOG::Log(NLOG::INFO, "No progresa la llamada entrante Estado %i", iEstado);
        return 0;
    }
    if (oGestorPruebas.EvaluaEntrante(nd, ao, ad, iPrioridad, hwDameTiempo()) ==
        CGestorLlamadasPrueba::RESULTADO_PRUEBA) {
        if (!(isuperv_options != 0 && EstadoColateralSIP != 1)) {
            DuermeMs(10);
            DSP_RespondeFueraDeServicio();
        }
        return 0;
    }
    if (iCfgModoSistema == 0 && (NumeroEsMio(ao, no) || NumeroEsDirecto(ad, nd))) {
        DuermeMs(10);
        DSP_RespondeCongestion();
        IpcTraza(CLASE_ATS, "CENTR2N5[%d]:llamada entrante: aborta lazo origen %i destino %i\n", iRec, ao[0], ad[0]);
        return 0;
    }
    NLOG::Log(NLOG::INFO, "iRespuestaInmediata %i", iRespuestaInmediata);
    if (iRespuestaInmediata) {
        DuermeMs(100);
        DSP_RespondeLibre();
        if (!EsN5()) TempDSP_Ringback();
    }
    CancelaEstado();
    if (iPrioridad == 0) iPrioridad = 4;
    if (iPrioridad == 5) iPrioridad = 9;
    if (iCfgModoSistema == 0 && iPrioridad > 5 && NumeroEsDirecto(ao, no) && NumeroEsMio(ad, nd)) iPrioridad = 9;

    ::DatosLlamada d{};
    // Digit values, as the core reads them (a 0 is a digit there, not the end of the number).
    static_assert(sizeof d.acOrigen > MAX_DIGITOS && sizeof d.acDestino > MAX_DIGITOS, "a whole number fits");
    memcpy(d.acOrigen, ao, static_cast<size_t>(no));
    memcpy(d.acDestino, ad, static_cast<size_t>(nd));
    d.ucPrioridad = static_cast<uint8_t>(iPrioridad);
    sLlamada = DatosLlamada{};
    memcpy(sLlamada.acOrigen, ao, sizeof ao);
    memcpy(sLlamada.acDestino, ad, sizeof ad);
    sLlamada.iPrioridad = static_cast<uint32_t>(iPrioridad);
    sLlamada.iSaliente = 0;
    iEstado = PETICION_ENTRANTE;
    NLOG::Log(NLOG::INFO, "CENTR2N5[%d]:Envia llamada entrante %d origen %i destino %i\n", iRec, iPrioridad, ao[0],
              ad[0]);
    sLlamada.iIdLlamada = ipcrecEnviaLlamadaEntrante(&d);
    PublicaEstado();
    return 0;
}

int CEntidadR2N5::EvtDspLlamadaLiberada(int iCausa) {
    TrazaEvento("EvtDspLlamadaLiberada", iCausa);
    cfgCerrojo c(&tMutexGlobal);
    switch (iEstado) {
    case PETICION_ENTRANTE:
    case ENTRANTE:
    case CONVERSACION:
    case SALIENTE: {
        if (iEstado == SALIENTE)
            ipcrecEnviaRechazaLlamada(sLlamada.iIdLlamada, C_ANTES_RESPUESTA);
        else
            FinLlamadaNucleo(sLlamada.iIdLlamada, C_NORMAL);
        DSP_FinSecuencia();
        sLlamada.iIdLlamada = -1;
        CancelaEstado();
        if (iEstado == CONVERSACION && ConRegistros()) RegistroFin();
        iEstado = REPOSO;
        IpcTraza(CLASES_LINEA, "CENTR2N5[%d]: Fin llamada (%d)\n", iRec, iEstado);
        NLOG::Log(NLOG::INFO, "CENTR2N5[%d]: Fin llamada %i", iRec, iEstado);
        PublicaEstado();
        break;
    }
    case SALIENTE_PRUEBA:
        NLOG::Log(NLOG::INFO, "CENTR2N5[%d]: Recibido EvtDspLlamadaLiberada a llamada de prueba", iRec);
        iEstado = REPOSO;
        CancelaEstado();
        oGestorPruebas.LlamadaSalienteFallida(hwDameTiempo());
        PublicaEstado();
        break;
    case INTERRUPCION_AVISO:
        DSP_FinSecuencia();
        FinLlamadaNucleo(sLlamada.iIdLlamada, C_PRIORIDAD);
        if (ConRegistros()) RegistroFin();
        sLlamada = sLlamadaInterrupcion;
        [[fallthrough]];  // as in the blocking phase
    case INTERRUPCION_BLOQUEO:
        CancelaEstado();
        if (iInterrupcionAbortada) {
            iInterrupcionAbortada = 0;
            DSP_Libera();
            iEstado = LIBERANDO;
            ArmaEstado(4, T_FIN_LIBERACION);
        } else {
            NLOG::Log(NLOG::INFO, "CENTR2N5[%d]: Procediendo con la llamada prioritaria %i", iRec,
                      sLlamada.iIdLlamada);
            DSP_LLama(sLlamada);
            iEstado = SALIENTE;
            LimpiaPublica();
            ArmaEstado(1, T_RESPUESTA);
        }
        PublicaEstado();
        break;
    case LIBERANDO:
        DSP_FinSecuencia();
        sLlamada.iIdLlamada = -1;
        LimpiaPublica();
        CancelaEstado();
        ProcesaLlamadaPendiente();
        PublicaEstado();
        break;
    default:
        iEstado = REPOSO;
        PublicaEstado();
        break;
    }
    return 0;
}

void CEntidadR2N5::ProcesaLlamadaPendiente() {
    DSP_FinSecuencia();
    LimpiaPublica();
    if (iLlamadaPendiente) {
        iLlamadaPendiente = 0;
        DSP_LLama(sLlamadaPendiente);
        sLlamada = sLlamadaPendiente;
        iEstado = SALIENTE;
        ArmaEstado(1, T_RESPUESTA);
    } else {
        iEstado = REPOSO;
    }
}

int CEntidadR2N5::EvtDspConversacionInterrumpida() {
    cfgCerrojo c(&tMutexGlobal);
    TrazaEvento("EvtDspConversacionInterrumpida", iEstado);
    if (iEstado == CONVERSACION) {
        ipcrecEnviaConversacionInterrumpida(sLlamada.iIdLlamada);
        sLlamada.iIdLlamada = -1;
        iEstado = REPOSO;
        LimpiaPublica();
    } else if (iEstado == INTERRUPCION_AVISO) {
        FinLlamadaNucleo(sLlamada.iIdLlamada, C_PRIORIDAD);
    }
    return 0;
}

int CEntidadR2N5::EvtDspLineaBloqueada() {
    cfgCerrojo c(&tMutexGlobal);
    TrazaEvento("EvtDspLineaBloqueada", iEstado);
    iEstado = BLOQUEO;
    LimpiaPublica();
    return 0;
}

int CEntidadR2N5::EvtDspTimeout() {
    cfgCerrojo c(&tMutexGlobal);
    TrazaEvento("EvtDspTimeout", iEstado);
    if (iEstado == SALIENTE) {
        iEstado = REPOSO;
        RechazaAlNucleo(C_NO_CONTESTA);
        CancelaEstado();
        oGestorPruebas.ReintentaPronto(hwDameTiempo());
        LimpiaPublica();
    } else if (iEstado == SALIENTE_PRUEBA) {
        iEstado = REPOSO;
        CancelaEstado();
        LlamadaPruebaSalienteFallida();
        LimpiaPublica();
    } else {
        PasaRecursoR2N5AReposo(C_NO_CONTESTA);
    }
    return 0;
}

void CEntidadR2N5::EventoProtocolo(int iCodigoR2, int iCodigoN5) {
    if (estado_dualidad == 0) Evento(&Mantats().sId, EsN5() ? iCodigoN5 : iCodigoR2, nullptr, nullptr);
}

int CEntidadR2N5::EvtDspErrorProtocolo() {
    cfgCerrojo c(&tMutexGlobal);
    TrazaEvento("EvtDspErrorProtocolo", iEstado);
    NLOG::Log(NLOG::INFO, "CENTR2N5[%d]:  Evt Dsp  Error Protocolo(%d) iEstado %i", iRec, Recurso(), iEstado);
    if (iEstado == SALIENTE) {
        iEstado = REPOSO;
        RechazaAlNucleo(C_PROTOCOLO);
        CancelaEstado();
        oGestorPruebas.ReintentaPronto(hwDameTiempo());
        EventoProtocolo(2203, 2206);
        LimpiaPublica();
    } else if (iEstado == SALIENTE_PRUEBA) {
        iEstado = REPOSO;
        CancelaEstado();
        LlamadaPruebaSalienteFallida();
        LimpiaPublica();
    } else {
        EventoProtocolo(2203, 2206);
        PasaRecursoR2N5AReposo(C_PROTOCOLO);
        oGestorPruebas.ReintentaPronto(hwDameTiempo());
    }
    return 0;
}

// ---- Status print ----

void CEntidadR2N5::PintaEstado() {
    cfgCerrojo c(&tMutexGlobal);
    if (iTipoIf == TIPOIF_ATSR2)
        IpcPrintf("    Interface ATS-R2    Lado %s\n", iLado == 0 ? "A" : "B");
    else if (iTipoIf == TIPOIF_ATSN5)
        IpcPrintf("     Interface ATS-N5     Lado %s\n", iLado == 0 ? "A" : "B");
    else
        IpcPrintf("     Interface No configurado\n");
    IpcPrintf("    Posicion =%i\n", iModulo);
    if (iEstadoHw == HW_PARADO)
        IpcPrintf("    Estado = FUERA DE SERVICIO (sin hardware)\n");
    else if (iEstado >= 0 && iEstado <= LIBERANDO)
        IpcPrintf("    Estado = %s\n", kNombresEstado[iEstado]);
    else
        IpcPrintf("    Estado = ????????\n");
    if ((iEstado >= PETICION_ENTRANTE && iEstado <= SALIENTE) ||
        (iEstado >= BLOQUEO && iEstado <= INTERRUPCION_BLOQUEO)) {
        char o[7], d[7];
        for (int i = 0; i < 6; ++i) {
            snprintf(o + i, 2, "%X", sLlamada.acOrigen[i] & 0xF);
            snprintf(d + i, 2, "%X", sLlamada.acDestino[i] & 0xF);
            if (o[i] == 'A') o[i] = '0';
            if (d[i] == 'A') d[i] = '0';
        }
        IpcPrintf("   Origen=%s\n   Destino=%s\n   Prioridad=%i\n", o, d, static_cast<int>(sLlamada.iPrioridad));
    }
    IpcPrintf("    No. de veces llam. prueba sincronizada =%x \n", oGestorPruebas.DameSincronizadas());
    const int32_t iFalta = static_cast<int32_t>(oGestorPruebas.DameProximaLlamada() - hwDameTiempo());
    if (iFalta * 10 <= 1000) {
        IpcPrintf("    Proxima llamada de prueba inminente");
    } else {
        int s = iFalta / 100;
        const int dd = s / 86400, hh = s / 3600 % 24, mm = s / 60 % 60;
        s %= 60;
        char ac[96] = "";
        size_t n = 0;
        if (dd) n += static_cast<size_t>(snprintf(ac + n, sizeof ac - n, "%d dias ", dd));
        if (hh) n += static_cast<size_t>(snprintf(ac + n, sizeof ac - n, "%d horas ", hh));
        if (mm) n += static_cast<size_t>(snprintf(ac + n, sizeof ac - n, "%d minutos ", mm));
        if (s) snprintf(ac + n, sizeof ac - n, "%d segundos", s);
        IpcPrintf("    Proxima llamada de prueba en %s", ac);
    }
    IpcPrintf("/nDimeIntentosFallidos %x", oGestorPruebas.DameEstado());
    IpcPrintf("    Reconfiguracion Slic : %d\n", iNumReconfigSlic);
    IpcPrintf("    Sup. Slic no iniciado : %d\n", iFallos);
    IpcPrintf("    RespuestaInmediata : %i\n", iRespuestaInmediata);
    IpcPrintf("    EstadoColateralSIP : %i\n", EstadoColateralSIP);
    cfgConfigRecurso r;
    {
        cfgCerrojo l(&pContexto->tMutexConfig);
        r = pContexto->sRegistro;
    }
    IpcPrintf("  Slot %d dispositivo %d\n", r.iSlot, r.iDispositivo);
}
