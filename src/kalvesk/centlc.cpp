#include "centlc.h"

#include <time.h>

#include <cstdio>
#include <cstring>

#include "ccontextorecurso.h"
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
constexpr int CODEC_IF = 8;
constexpr int PROTOCOLO_LCEN = 1;
constexpr uint32_t US_DSP = 2000000, US_PUBLICA = 5000000, US_SLOT_1 = 6000000, US_HW_INICIAL = 200000;
constexpr uint32_t US_MINIMO = 20000;
constexpr int32_t TICKS_RESPUESTA = 100;  // 10 s for the far end to answer
constexpr uint8_t FUERA_DE_SERVICIO = 10;
constexpr int SELECTOR_COLATERAL = 13, SELECTOR_REGISTRO = 16;

int TRelease(CContextoRecurso& contexto) { return contexto.CopiaRegistro().uParam.lcen.iT_Release; }

const char* NombreRx(int e) {
    static const char* const k[] = {"FUERADESERVICIO", "RESOSO", "LLAMADA ENTRANTE", "CONVERSACION"};
    return e >= 0 && e <= 3 ? k[e] : "";
}
const char* NombreTx(int e) {
    static const char* const k[] = {"FUERADESERVICIO", "RESOSO", "LLAMADA SALIENTE", "CONVERSACION",
                                    "CONVERSACION_TONOS"};
    return e >= 0 && e <= 4 ? k[e] : "";
}
}  // namespace

const int32_t CEntidadLC::kaiConfigLcen[NUM_VALORES_LCEN] = {-10, -38, 20, 100, 20, 1000, 40,  700, 1000, 60, 100,
                                                            5000, 6000, 125, 150, 40, 60,  20,  130,  20,  130, 200};

CEntidadLC::CEntidadLC() { CreaContadores(&oContadores, NUM_CONTADORES); }

CEntidadLC::~CEntidadLC() { LiberaContadores(&oContadores); }

int CEntidadLC::Arranca(int iNumRec) {
    oMant.Inicia(iNumRec);
    return Inicia(iNumRec);
}

int CEntidadLC::Inicia(int iNumRec) {
    if (bPrimerArranque) {
        bPrimerArranque = false;
        char szNombre[48];
        snprintf(szNombre, sizeof szNombre, "CEntidadLC[%d].tMutex", iNumRec);
        CreaMutex(szNombre, &tMutex, nullptr);
        snprintf(szNombre, sizeof szNombre, "CEntidadLC[%d].tMutexRecDsp", iNumRec);
        CreaMutex(szNombre, &tMutexRecDsp, nullptr);
    }
    {
        cfgCerrojo l(&tMutex);
        iEstadoRX_LC = RX_FUERA_SERVICIO;
        iEstadoTX_LC = TX_FUERA_SERVICIO;
        sPublicado.ucEstado = FUERA_DE_SERVICIO;
    }
    if (!Iniciada()) {
        int r = CEntidadRC::Inicia(iNumRec);
        if (r != 0) return r;
        const cfgConfigRecurso reg = pContexto->CopiaRegistro();
        iRespuestaInmediata = reg.sColateral.iRespuestaAutomatica;
        iRespuestaAplicada = reg.sColateral.iRespuestaAutomatica;
        iModoSistema = reg.iCfgModoSistema;
        memcpy(aiGananciasAplicadas, reg.BloqueAudio(), sizeof aiGananciasAplicadas);
        {
            cfgCerrojo g(&tMutexGlobal);
            oContadores.contadores[CNT_1] = US_SLOT_1;
            oContadores.contadores[CNT_DSP] = US_DSP;
            oContadores.contadores[CNT_HW] = US_HW_INICIAL;
        }
        if (CreaHiloSuelto(nullptr, sSupervisorLC, this) != 0) {
            NLOG::Log(NLOG::ERROR, "CENTLC[%d]: Error creando hilo CEntLC", iRec);
            return -6;
        }
    }
    BorraPublica();
    return 0;
}

void CEntidadLC::BorraPublica() {
    cfgCerrojo g(&tMutexGlobal);
    oContadores.contadores[CNT_PUBLICA] = 0;
}

int32_t CEntidadLC::RecursoDsp() {
    cfgCerrojo d(&tMutexRecDsp);
    return iRecursoDsp;
}

// ---- Supervisor ----

void* CEntidadLC::sSupervisorLC(void* pObjeto) {
    static_cast<CEntidadLC*>(pObjeto)->SupervisorCEntidadLC();
    return nullptr;
}

void CEntidadLC::SupervisorCEntidadLC() {
    FijaPrioridadHilo(1);
    TrazaPid("Supervisor CEntLC", iRec, "src/recurso/centlc");
    iVigilancia = RegistraHilo("Supervisor CEntidadLC", iRec, 12000, hwDameTiempo());
    uint32_t* c = oContadores.contadores;
    for (;;) {
        uint32_t uiEspera;
        {
            cfgCerrojo g(&tMutexGlobal);
            uiEspera = DameMinimoContador(&oContadores);
            DescuentaContadores(&oContadores, uiEspera);
        }
        DuermeMs((uiEspera < US_MINIMO ? US_MINIMO : uiEspera) / 1000);
        if (iVigilancia >= 0) RefrescaHilo(iVigilancia, hwDameTiempo());
        bool bHw, bDsp, bPublica;
        {
            cfgCerrojo g(&tMutexGlobal);
            bHw = c[CNT_HW] == 0;
            bDsp = c[CNT_DSP] == 0;
            if (bDsp) c[CNT_DSP] = US_DSP;
        }
        if (bHw) {
            const uint32_t us = static_cast<uint32_t>(SupervisaHW());
            cfgCerrojo g(&tMutexGlobal);
            c[CNT_HW] = us;
        }
        if (bDsp) GestionaRecursoDsp();
        {
            cfgCerrojo g(&tMutexGlobal);
            bPublica = c[CNT_PUBLICA] == 0;
        }
        if (bPublica) PublicaEstado();
    }
}

void CEntidadLC::GestionaRecursoDsp() {
    cfgCerrojo d(&tMutexRecDsp);
    if (iRecursoDsp < 0) {
        IpcTraza(0x3E, "CENTLC[%d]: No tengo recurso de DSP pero lo necesito\n", iRec);
        const int r = ldspArrancaRecurso(0, this);
        if (r >= 0) {
            iIdPeticionDsp = static_cast<uint32_t>(r);
            NLOG::Log(NLOG::INFO, "CENTLC[%d]: Creado recurso DSP %d", iRec, r);
        } else {
            NLOG::Log(NLOG::ERROR, "CENTLC[%d]: Error %d en ldspArrancaRecurso()\n", iRec, r);
        }
        return;
    }
    if (iConfigurarDsp) ConfiguraRecursoDsp();
}

// Under tMutexRecDsp; a failed step leaves the flag set and is tried again 2 s later.
void CEntidadLC::ConfiguraRecursoDsp() {
    const int32_t id = iRecursoDsp;
    PasoDsp asPasos[NUM_PASOS_SLOTS_DSP + 1];
    PasosSlotsDsp(asPasos);
    asPasos[NUM_PASOS_SLOTS_DSP] = {"ldspTomaCodecIfRx", ldspTomaCodecIfRx, CODEC_IF};
    const int n = sizeof asPasos / sizeof asPasos[0];
    int r = 0;
    const int i = ldspEjecutaPasos(id, asPasos, n, &r);
    if (i < n) {
        NLOG::Log(NLOG::ERROR, "CENTLC[%d]: Error en %s (%i,%i)", iRec, asPasos[i].szNombre, asPasos[i].iValor, id);
        return;
    }
    if (ldspTomaProtocolo(id, PROTOCOLO_LCEN) != 0) {
        NLOG::Log(NLOG::ERROR, "CENTLC[%d]: Error en ldspTomaProtocolo (%i, %i)", iRec, PROTOCOLO_LCEN, id);
        return;
    }
    if (ldspTomaConfigLCEN(id, kaiConfigLcen) != 0) {
        NLOG::Log(NLOG::ERROR, "CENTLC[%d]: Error en ldspTomaConfigLCEN (%i)", iRec, id);
        return;
    }
    iConfigurarDsp = 0;
    NLOG::Log(NLOG::INFO, "CENTLC[%d]:Recurso DSP configurado (%i)", iRec, id);
}

int CEntidadLC::EvtDspRecursoCreado(int id) {
    NLOG::Log(NLOG::INFO, "CENTLC[%d]: EvtDspRecursoCreado(%d)", iRec, id);
    cfgCerrojo d(&tMutexRecDsp);
    if (static_cast<uint32_t>(id) != iIdPeticionDsp) {
        NLOG::Log(NLOG::ERROR, "CENTLC[%d]: EvtDspRecursoCreado(%d) no es el esperado (%d)", iRec, id, iIdPeticionDsp);
        return 0;
    }
    iRecursoDsp = id;
    iConfigurarDsp = 1;
    return 0;
}

int CEntidadLC::EvtDspLiberaRecurso() {
    int32_t iAntes;
    {
        cfgCerrojo d(&tMutexRecDsp);
        iAntes = iRecursoDsp;
        iRecursoDsp = -1;
    }
    NLOG::Log(NLOG::INFO, "CENTLC[%d]: EvtDspLiberaRecurso(%d)", iRec, iAntes);
    if (iAntes >= 0) {
        cfgCerrojo l(&tMutex);
        FinLlamadas();
        iEstadoRX_LC = RX_FUERA_SERVICIO;
        iEstadoTX_LC = TX_FUERA_SERVICIO;
    }
    BorraPublica();
    return 0;
}

// ---- Publication ----

void CEntidadLC::PublicaEstado() {
    int iTx, iHw;
    const int32_t iDsp = RecursoDsp();
    uint32_t uiColateral;
    {
        cfgCerrojo l(&tMutex);
        iTx = iEstadoTX_LC;
        uiColateral = EstadoColateralSIP;
    }
    {
        cfgCerrojo g(&tMutexGlobal);
        iHw = iEstadoHw;
    }
    NotificacionEstado s{};
    switch (iTx) {
    case TX_REPOSO: s.ucEstado = 0; break;
    case TX_SALIENTE: s.ucEstado = 2; break;
    case TX_CONVERSACION: case TX_TONOS: s.ucEstado = 1; break;
    default: s.ucEstado = FUERA_DE_SERVICIO; break;
    }
    if (iHw == HW_PARADO || iDsp < 0) s.ucEstado = FUERA_DE_SERVICIO;
    s.iServicio = iHw == HW_EN_MARCHA ? 1 : 0;
    ipcrecEnviaNotificaEstado(&s);
    {
        cfgCerrojo g(&tMutexGlobal);
        oContadores.contadores[CNT_PUBLICA] = US_PUBLICA;
    }
    const int iSuperv = pContexto->CopiaRegistro().sColateral.isuperv_options;
    bool bRegistro;
    {
        cfgCerrojo l(&tMutex);
        bRegistro = s.ucEstado != sPublicado.ucEstado || (iSuperv == 1 && uiColateral != iColateralPublicado) ||
                    iForzarRegistro == 1 || iHw != iUltimoEstadoHw;
        if (bRegistro) {
            iForzarRegistro = 0;
            iUltimoEstadoHw = iHw;
            iColateralPublicado = uiColateral;
        }
        sPublicado = s;
    }
    if (bRegistro) {
        if (iHw != HW_PARADO)
            oMant.EnviaEnServicio(s.ucEstado, s.iServicio);
        else
            oMant.EnviaFueraServicio();
    }
    SilenciaSegunColateral();
}

void CEntidadLC::SilenciaSegunColateral() {
    const int iSuperv = pContexto->CopiaRegistro().sColateral.isuperv_options;
    uint32_t uiColateral;
    {
        cfgCerrojo l(&tMutex);
        uiColateral = EstadoColateralSIP;
    }
    if (iSuperv != 0 && uiColateral != 1)
        hwSilenciaRxSlic(iModulo);
    else
        hwRestauraRxSlic(iModulo);
}

// ---- Line commands ----

void CEntidadLC::DSP_LLama() {
    const int32_t iDsp = RecursoDsp();
    const int r = ldspLlama(iDsp, 0, nullptr, 0, nullptr, 0);
    if (r != 0)
        NLOG::Log(NLOG::ERROR, "CENTLC[%d]: Error en ldspLlama()= %i, DSP=%i", iRec, r, iDsp);
    else
        NLOG::Log(NLOG::INFO, "CENTLC[%d]: ldspLlama()= %i, DSP=%i", iRec, r, iDsp);
}

void CEntidadLC::DSP_Libera() {
    NLOG::Log(NLOG::INFO, "---------------DSP_LIBERA \n");
    const int32_t iDsp = RecursoDsp();
    const int r = ldspLibera(iDsp);
    if (r != 0) NLOG::Log(NLOG::ERROR, "CENTLC[%d]: Error en ldspLibera()= %i, DSP=%i", iRec, r, iDsp);
}

void CEntidadLC::DSP_RespondeLibre() {
    NLOG::Log(NLOG::INFO, "DSP_RESPONDELIBRE");
    const int32_t iDsp = RecursoDsp();
    const int r = ldspRespondeLibre(iDsp);
    if (r != 0) NLOG::Log(NLOG::ERROR, "CENTLC[%d]: Error en ldspRespondeLibre()= %i, DSP=%i", iRec, r, iDsp);
}

void CEntidadLC::DSP_RespondeOcupado() {
    NLOG::Log(NLOG::INFO, "---------------DSP_RESPONDEOCUPADO ");
    const int32_t iDsp = RecursoDsp();
    const int r = ldspRespondeOcupado(iDsp);
    if (r != 0) NLOG::Log(NLOG::ERROR, "CENTLC[%d]: Error en ldspRespondeOcupado()= %i, DSP=%i", iRec, r, iDsp);
}

void CEntidadLC::DSP_GeneraTono(int iSecuencia) {
    const int32_t iDsp = RecursoDsp();
    const int iT = TRelease(*pContexto);
    const int iVeces = iT < 1 ? 5 : iT;
    NLOG::Log(NLOG::INFO, "CENTLC[%d]: DSP_GeneraTono(%i-%i) DSP=%i", iRec, iSecuencia, iVeces, iDsp);
    const int r = ldspGeneraSecuenciaTonosTx(iDsp, iSecuencia, iVeces);
    if (r != 0)
        NLOG::Log(NLOG::ERROR, "CENTLC[%d]: Error en ldspGeneraSecuenciaTonosTx()= %i, DSP=%i", iRec, r, iDsp);
}

void CEntidadLC::DSP_FinTono() {
    const int32_t iDsp = RecursoDsp();
    const int r = ldspGeneraSecuenciaTonosTx(iDsp, 0, 0);
    if (r != 0)
        NLOG::Log(NLOG::ERROR, "CENTLC[%d]: Error en Fin ldspGeneraSecuenciaTonosTx()= %i, DSP=%i", iRec, r, iDsp);
}

// ---- Call control from the core ----

// Under tMutex.
void CEntidadLC::OfreceEntrante() {
    DatosLlamada d{};
    idRx = ipcrecEnviaLlamadaEntrante(&d);
    NLOG::Log(NLOG::INFO, "CENTLC[%d]:Envia llamada entrante %d", iRec, idRx);
}

int CEntidadLC::LlamadaSaliente(int32_t id, const char*, const char*, int) {
    cfgCerrojo l(&tMutex);
    const uintptr_t pEste = reinterpret_cast<uintptr_t>(this);
    switch (iEstadoTX_LC) {
    case TX_FUERA_SERVICIO: return -5;
    case TX_REPOSO:
        iEstadoTX_LC = TX_SALIENTE;
        DSP_LLama();
        idTx = id;
        BorraPublica();
        // The far end has seized the line too: the call is answered by that.
        if (iEstadoRX_LC == RX_ENTRANTE || iEstadoRX_LC == RX_CONVERSACION)
            oTempEstado.Arma(1, sVence, pEste, TMP_DOBLE_TOMA);
        else
            oTempEstado.Arma(TICKS_RESPUESTA, sVence, pEste, TMP_RESPUESTA);
        return 0;
    case TX_TONOS:
        iEstadoTX_LC = TX_SALIENTE;
        DSP_FinTono();
        oTempTono.Cancela();
        idTx = id;
        BorraPublica();
        oTempEstado.Arma(1, sVence, pEste, TMP_DOBLE_TOMA);
        if (iEstadoRX_LC == RX_CONVERSACION) OfreceEntrante();
        return 0;
    default:
        NLOG::Log(NLOG::INFO, "CENTLC[%d]: LlamSal CENLC_REC_OCUPADO (%d)", iRec, id);
        return -4;
    }
}

uintptr_t CEntidadLC::sVence(uintptr_t pObjeto, uintptr_t iTipo, uintptr_t uiArmado) {
    reinterpret_cast<CEntidadLC*>(pObjeto)->VenceTemporizador(static_cast<int>(iTipo),
                                                              static_cast<uint32_t>(uiArmado));
    return 0;
}

// Under tMutex.
void CEntidadLC::AceptaSaliente(int32_t id, const char* szLog) {
    iEstadoTX_LC = TX_CONVERSACION;
    BorraPublica();
    ipcrecEnviaAceptaLlamada(id);
    if (iModoSistema == 0) oMant.RegistraLlamadaSaliente(time(nullptr), hwDameTiempo());
    NLOG::Log(NLOG::INFO, szLog, iRec, id);
}

// An expiry of an arming cancelled or replaced meanwhile belongs to a call that is over.
void CEntidadLC::VenceTemporizador(int iTipo, uint32_t uiArmado) {
    cfgCerrojo l(&tMutex);
    if (!(iTipo == TMP_TONO ? oTempTono : oTempEstado).Vence(uiArmado)) return;
    if (iTipo == TMP_DOBLE_TOMA) {
        NLOG::Log(NLOG::INFO, "Vence Responder LC");
        if (iEstadoTX_LC == TX_SALIENTE) AceptaSaliente(idTx, "CENTLC[%d]: Acepta llam saliente (doble toma)(%d)");
        return;
    }
    NLOG::Log(NLOG::INFO, "CENTLC[%d]: Vence temporizador LC iEstadoTX_LC %i", iRec, iEstadoTX_LC);
    switch (iTipo) {
    case TMP_RESPUESTA:
        if (iEstadoTX_LC == TX_SALIENTE) {
            if (iEstadoRX_LC != RX_ENTRANTE && iEstadoRX_LC != RX_CONVERSACION) {
                ipcrecEnviaRechazaLlamada(idTx, 204);
                DSP_Libera();
                iEstadoTX_LC = TX_REPOSO;
                NLOG::Log(NLOG::INFO, "CENTLC[%d]: Vence Respuesta DSP LlamSal (%d)", iRec, idTx);
            } else {
                AceptaSaliente(idTx, "CENTLC[%d]: Acepta llam saliente (doble toma)(%d)");
            }
        }
        BorraPublica();
        break;
    case TMP_TONO:
        NLOG::Log(NLOG::INFO, "Vence temp COD_DSP_LC_ESPERA_LIBERACION_CON_TONOS");
        if (iEstadoTX_LC == TX_TONOS) {
            DSP_FinTono();
            DSP_Libera();
            iEstadoTX_LC = TX_REPOSO;
        }
        break;
    default: NLOG::Log(NLOG::INFO, "No sale el comando cmd=%ld", static_cast<long>(iTipo)); break;
    }
}

int CEntidadLC::FinLlamada(int32_t id) {
    bool bPublica = false;
    {
        cfgCerrojo l(&tMutex);
        if (id == idTx) {
            if (iEstadoTX_LC == TX_SALIENTE) {
                DSP_Libera();
                oTempEstado.Cancela();
            } else if (iEstadoTX_LC == TX_CONVERSACION) {
                DSP_Libera();
                if (iModoSistema == 0) oMant.RegistraFinLlamadaSaliente(time(nullptr), hwDameTiempo());
            }
            if (iEstadoTX_LC != TX_FUERA_SERVICIO) iEstadoTX_LC = TX_REPOSO;
            bPublica = true;
            NLOG::Log(NLOG::INFO, "CENTLC[%d]: Fin LlamSaliente (%d)\n", iRec, id);
        } else if (id == idRx) {
            if (iEstadoRX_LC == RX_ENTRANTE) {
                iEstadoRX_LC = RX_REPOSO;
                DSP_RespondeOcupado();
            } else if (iEstadoRX_LC == RX_CONVERSACION) {
                if (iEstadoTX_LC != TX_TONOS) iEstadoRX_LC = RX_REPOSO;
                // The answered line is released too, unless this end's own call holds it.
                if (iEstadoTX_LC == TX_REPOSO) DSP_Libera();
                NLOG::Log(NLOG::INFO, " CENTLC[%d]:FinLlamada: cierra llamada entrante LCEN", iRec);
                oMant.Evento(EVENTO_FIN_ENTRANTE);
            } else if (iEstadoRX_LC != RX_FUERA_SERVICIO) {
                iEstadoRX_LC = RX_REPOSO;
            }
            NLOG::Log(NLOG::INFO, "CENTLC[%d]: Fin LlamEntrante (%d)", iRec, id);
        }
    }
    if (bPublica) PublicaEstado();
    return 0;
}

int CEntidadLC::AceptaLlamada() {
    cfgCerrojo l(&tMutex);
    if (iEstadoRX_LC == RX_ENTRANTE || iEstadoRX_LC == RX_CONVERSACION) {
        if (!iRespuestaInmediata) {
            iEstadoRX_LC = RX_CONVERSACION;
            DSP_RespondeLibre();
        }
        if (iModoSistema == 0) oMant.RegistraLlamadaEntrante(time(nullptr), hwDameTiempo());
    }
    NLOG::Log(NLOG::INFO, "CENTLC[%d]: AceptaLlamada (%d)", iRec, idRx);
    return 0;
}

int CEntidadLC::RechazaLlamada(int32_t id, int iMotivo) {
    cfgCerrojo l(&tMutex);
    if (iRespuestaInmediata && iEstadoRX_LC == RX_CONVERSACION) {
        if (iEstadoTX_LC == TX_SALIENTE || iEstadoTX_LC == TX_CONVERSACION) {
            // Double seizure: the line carries this end's own call, which must live on.
            iEstadoRX_LC = RX_REPOSO;
        } else {
            iEstadoTX_LC = TX_TONOS;
            DuermeMs(40);
            DSP_LLama();
            DuermeMs(40);
            DSP_GeneraTono(iMotivo == 202 ? 3 : iMotivo == 206 ? 8 : 9);
            const int iT = TRelease(*pContexto);
            oTempTono.Arma(iT == 0 ? 50 : iT * 10, sVence, reinterpret_cast<uintptr_t>(this), TMP_TONO);
        }
    }
    if (iEstadoRX_LC == RX_ENTRANTE) {
        iEstadoRX_LC = RX_REPOSO;
        DSP_RespondeOcupado();
    }
    NLOG::Log(NLOG::INFO, "CENTLC[%d]: RechazaLlamada (%d)", iRec, id);
    return 0;
}

// ---- DSP line events ----

int CEntidadLC::EvtDspLlamadaEntrante(int, const char*, int, const char*, int) {
    cfgCerrojo l(&tMutex);
    NLOG::Log(NLOG::INFO, "CENTLC[%d]: EvtDspLlamadaEntrante(%d)", iRec, iEstadoRX_LC);
    if (iEstadoRX_LC != RX_REPOSO) return 0;
    if (iRespuestaInmediata) {
        iEstadoRX_LC = RX_CONVERSACION;
        DSP_RespondeLibre();
    } else {
        iEstadoRX_LC = RX_ENTRANTE;
    }
    OfreceEntrante();
    return 0;
}

int CEntidadLC::EvtDspLlamadoLibre() {
    cfgCerrojo l(&tMutex);
    NLOG::Log(NLOG::INFO, "CENTLC[%d]: EvtDspLlamadoLibre(%d) iEstadoTX_LC(%d)", iRec, idTx, iEstadoTX_LC);
    if (iEstadoTX_LC != TX_SALIENTE) {
        NLOG::Log(NLOG::INFO, "CENTLC: Rechaza Evt Libre iEstadoTX_LC=%i", iEstadoTX_LC);
        return 0;
    }
    oTempEstado.Cancela();
    NLOG::Log(NLOG::INFO, "CENTLC[%d]: Evt Libre Acepta llamada(%d)", iRec, idTx);
    iEstadoTX_LC = TX_CONVERSACION;
    BorraPublica();
    ipcrecEnviaAceptaLlamada(idTx);
    if (iModoSistema == 0) oMant.RegistraLlamadaSaliente(time(nullptr), hwDameTiempo());
    return 0;
}

// Under tMutex.
void CEntidadLC::RechazoSaliente(int iMotivo) {
    if (iEstadoTX_LC != TX_SALIENTE) return;
    iEstadoTX_LC = TX_REPOSO;
    ipcrecEnviaRechazaLlamada(idTx, iMotivo);
    BorraPublica();
    oTempEstado.Cancela();
}

int CEntidadLC::EvtDspLlamadoOcupado() {
    cfgCerrojo l(&tMutex);
    NLOG::Log(NLOG::INFO, "CENTLC[%d]: EvtDspLlamadoOcupado iEstadoTX_LC(%d)", iRec, iEstadoTX_LC);
    RechazoSaliente(202);
    return 0;
}

int CEntidadLC::EvtDspErrorProtocolo() {
    cfgCerrojo l(&tMutex);
    NLOG::Log(NLOG::INFO, "CENTLC[%d]: EvtDspErrorProtocolo iEstadoTX_LC(%d)", iRec, iEstadoTX_LC);
    RechazoSaliente(203);
    return 0;
}

// Under tMutex.
void CEntidadLC::LiberadaPorElRemoto() {
    if (iEstadoRX_LC == RX_ENTRANTE || iEstadoRX_LC == RX_CONVERSACION) {
        ipcrecEnviaFinLlamada(idRx);
        oMant.RegistraFinLlamadaEntrante(time(nullptr), hwDameTiempo());
        NLOG::Log(NLOG::INFO, "CENTLC[%d]: Fin llamada RX(%d)", iRec, idRx);
    }
    if (iEstadoTX_LC == TX_TONOS) {
        DSP_FinTono();
        DSP_Libera();
        oTempTono.Cancela();
        iEstadoTX_LC = TX_REPOSO;
    } else if ((iEstadoTX_LC == TX_SALIENTE || iEstadoTX_LC == TX_CONVERSACION) && iEstadoRX_LC == RX_REPOSO) {
        // The far end hung up on this end's call: the core hears of it, the line is freed.
        ipcrecEnviaFinLlamada(idTx);
        if (iEstadoTX_LC == TX_CONVERSACION && iModoSistema == 0)
            oMant.RegistraFinLlamadaSaliente(time(nullptr), hwDameTiempo());
        oTempEstado.Cancela();
        DSP_Libera();
        iEstadoTX_LC = TX_REPOSO;
        NLOG::Log(NLOG::INFO, "CENTLC[%d]: Fin llamada TX(%d)", iRec, idTx);
    }
    iEstadoRX_LC = RX_REPOSO;
}

int CEntidadLC::EvtDspLlamadaLiberada(int iCausa) {
    {
        cfgCerrojo l(&tMutex);
        NLOG::Log(NLOG::INFO, "CENTLC[%d]: EvtDspLlamadaLiberada(%d)", iRec, iCausa);
        LiberadaPorElRemoto();
    }
    PublicaEstado();
    return 0;
}

// The DSP service forwards a release with cause 3 as an interrupted conversation: it is a
// release by the far end all the same, and must not leave the call up.
int CEntidadLC::EvtDspConversacionInterrumpida() {
    {
        cfgCerrojo l(&tMutex);
        NLOG::Log(NLOG::INFO, "CENTLC[%d]: EvtDspConversacionInterrumpida", iRec);
        LiberadaPorElRemoto();
    }
    PublicaEstado();
    return 0;
}

// Under tMutex.
void CEntidadLC::FinLlamadas() {
    if (iEstadoTX_LC == TX_SALIENTE || iEstadoTX_LC == TX_CONVERSACION) {
        ipcrecEnviaFinLlamada(idTx);
        NLOG::Log(NLOG::INFO, "CENTLC[%d]: Fin llamada TX(%d)", iRec, idTx);
    }
    if (iEstadoRX_LC == RX_ENTRANTE || iEstadoRX_LC == RX_CONVERSACION) {
        ipcrecEnviaFinLlamada(idRx);
        NLOG::Log(NLOG::INFO, "CENTLC[%d]: Fin llamada RX(%d)", iRec, idRx);
    }
    oTempEstado.Cancela();
    iEstadoTX_LC = TX_REPOSO;
    iEstadoRX_LC = RX_REPOSO;
    BorraPublica();
}

int CEntidadLC::EvtDspReposo() {
    cfgCerrojo l(&tMutex);
    NLOG::Log(NLOG::INFO, "CENTLC[%d]: EvtDspReposo", iRec);
    FinLlamadas();
    return 0;
}

int CEntidadLC::EvtDspFueraServicio() {
    cfgCerrojo l(&tMutex);
    NLOG::Log(NLOG::INFO, "CENTLC[%d]: EvtDspFueraServicio", iRec);
    FinLlamadas();
    iEstadoTX_LC = TX_FUERA_SERVICIO;
    iEstadoRX_LC = RX_FUERA_SERVICIO;
    BorraPublica();
    return 0;
}

// ---- Console and configuration ----

void CEntidadLC::Debug(int32_t iValor) {
    // The core writes the selector and its value as the word's first two bytes in memory order
    // (the top two on the big-endian board): read them the same way on any host.
    uint8_t b[4];
    std::memcpy(b, &iValor, sizeof b);
    const int iSelector = b[0];
    const uint32_t uiDato = b[1];
    if (iSelector == SELECTOR_COLATERAL) {
        if (!Iniciada()) {
            NLOG::Log(NLOG::INFO, "CENTLC[%d]: DBG_ESTADO_COL_SIP: recurso no iniciado iMiDispositivo %i", iRec,
                      iModulo);
            return;
        }
        {
            cfgCerrojo l(&tMutex);
            EstadoColateralSIP = uiDato;
        }
        const int iSuperv = pContexto->CopiaRegistro().sColateral.isuperv_options;
        NLOG::Log(NLOG::INFO, iSuperv != 0 && uiDato != 1 ? "No SLIC RX" : "Si SLIC RX");
        SilenciaSegunColateral();
    } else if (iSelector == SELECTOR_REGISTRO) {
        cfgCerrojo l(&tMutex);
        iForzarRegistro = uiDato;
    }
}

// The frame calls these under its configuration lock, before the new record is copied:
// the changes are found in AplicaConfig against the values this entity applied last.
void CEntidadLC::CambioConfigIf(CambiosConfig*) {}
void CEntidadLC::CambioConfigGeneral(CambiosConfig*) {}

void CEntidadLC::AplicaConfig(const CambiosConfig&) {
    printf(" \n Aplica config Config IF \n");
    const cfgConfigRecurso reg = pContexto->CopiaRegistro();
    const int32_t* g = reg.BloqueAudio();
    if (g[0] != aiGananciasAplicadas[0] || g[1] != aiGananciasAplicadas[1])
        AjustaGananciaTx(reg.iSelGananciaAgcTx, reg.iGananciaAgcTx);
    if (g[2] != aiGananciasAplicadas[2] || g[3] != aiGananciasAplicadas[3])
        AjustaGananciaRx(reg.iSelGananciaAgcRx, reg.iGananciaAgcRx);
    memcpy(aiGananciasAplicadas, g, sizeof aiGananciasAplicadas);
    if (reg.sColateral.iRespuestaAutomatica != iRespuestaAplicada) {
        cfgCerrojo l(&tMutex);
        iRespuestaAplicada = reg.sColateral.iRespuestaAutomatica;
        iRespuestaInmediata = iRespuestaAplicada;
    }
}

void CEntidadLC::PintaEstado() {
    int iTx, iRx, iHw;
    {
        cfgCerrojo l(&tMutex);
        iTx = iEstadoTX_LC;
        iRx = iEstadoRX_LC;
    }
    {
        cfgCerrojo g(&tMutexGlobal);
        iHw = iEstadoHw;
    }
    IpcPrintf("    Interface LCEN\n");
    IpcPrintf("    Posicion =%i\n", iModulo);
    IpcPrintf("    Estado TX = %s\n", NombreTx(iTx));
    IpcPrintf("    Estado RX = %s\n", NombreRx(iRx));
    IpcPrintf("    Reconfiguracion Slic : %d\n", iNumReconfigSlic);
    IpcPrintf("    Sup. Slic no iniciado : %d\n", iFallos);
    if (iHw == HW_EN_MARCHA)
        IpcPrintf("    HW CORRECTO\n");
    else
        IpcPrintf("    HW NO CORRECTO (%i)\n", iHw);
    IpcPrintf("supervision options: %i\n", pContexto->CopiaRegistro().sColateral.isuperv_options);
}
