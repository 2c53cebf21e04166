#include "centtlf.h"

#include <time.h>

#include <cstdio>
#include <cstdlib>
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
constexpr uint32_t CLASES_TODAS = 0xFFFF;
constexpr uint32_t CLASE_DEBUG = 0x8000;
constexpr int CODEC_SLIC = 8;
constexpr int32_t TICKS_ENTRANTE = 300;  // 30 s for the core to accept an incoming call
constexpr uint32_t US_DSP = 1000000, US_RING_BL = 5000000, US_PUBLICA = 5000000, US_CUELGUE = 3000000;
constexpr uint32_t US_FIN_RING = 15000000, US_SLOT_2 = 6000000, US_HW_INICIAL = 200000;
constexpr uint32_t US_MINIMO = 20000;
constexpr uint8_t PUBLICADO_INICIAL = 255;
constexpr uint8_t FUERA_DE_SERVICIO = 10;

const char* NombreEstado(int iEstado) {
    switch (iEstado) {
    case CEntidadTelef::RESOSO: return "RESOSO";
    case CEntidadTelef::LLAMADA_ENTRANTE: return "LLAMADA ENTRANTE";
    case CEntidadTelef::CONVERSACION: return "CONVERSACION";
    case CEntidadTelef::LLAMADA_SALIENTE: return "LLAMADA SALIENTE";
    case CEntidadTelef::PENDIENTE_CUELGUE: return "PENDIENTE_CUELGUE";
    default: return nullptr;
    }
}

uint8_t CodigoPublicado(int iEstado) {
    switch (iEstado) {
    case CEntidadTelef::RESOSO: case CEntidadTelef::PENDIENTE_CUELGUE: return 0;
    case CEntidadTelef::CONVERSACION: return 1;
    case CEntidadTelef::LLAMADA_ENTRANTE: case CEntidadTelef::LLAMADA_SALIENTE: return 2;
    default: return FUERA_DE_SERVICIO;
    }
}

const char* NombreEstadoIf(int iEstado) {
    static const char* const kNombres[] = {"RESOSO", "DESCOLGADO", "GENERANDO RING", "DETECTANDO RING"};
    return iEstado >= 0 && iEstado <= 3 ? kNombres[iEstado] : "";
}
}  // namespace

CEntidadTelef::CEntidadTelef() { CreaContadores(&oContadores, NUM_CONTADORES); }

CEntidadTelef::~CEntidadTelef() { LiberaContadores(&oContadores); }

int CEntidadTelef::Arranca(int iNumRec) {
    oMant.FijaId(iNumRec);
    return Inicia(iNumRec);
}

int CEntidadTelef::Inicia(int iNumRec) {
    iEstadoTLF = RESOSO;
    iEstadoIF = IF_REPOSO;
    sPublicado.ucEstado = PUBLICADO_INICIAL;
    if (bPrimerArranque) {
        bPrimerArranque = false;
        char szNombre[48];
        snprintf(szNombre, sizeof szNombre, "CEntidadTlf[%d].tMutexRecDsp", iNumRec);
        CreaMutex(szNombre, &tMutexRecDsp, nullptr);
        int r = CEntidadRC::Inicia(iNumRec);
        if (r != 0) return r;
        const cfgConfigRecurso reg = pContexto->CopiaRegistro();
        iTipoIf = reg.iTipoIf;  // as the common start left it (a BC line may be worked as AB)
        iModoSistema = reg.iCfgModoSistema;
        sTlfAplicado = reg.uParam.tlf;
        memcpy(aiGananciasAplicadas, reg.BloqueAudio(), sizeof aiGananciasAplicadas);
        NLOG::Log(NLOG::INFO, "CENTTLF[%d]: iTipoIf %d iTipoIfHw %d iEnableRegistro %d", iRec, iTipoIf, iTipoIfHw,
                  reg.iEnableRegistro);
        {
            cfgCerrojo c(&tMutexGlobal);
            oContadores.contadores[CNT_DSP] = US_DSP;
            oContadores.contadores[CNT_2] = US_SLOT_2;
            oContadores.contadores[CNT_HW] = US_HW_INICIAL;
            oContadores.contadores[CNT_PUBLICA] = US_PUBLICA;
        }
        if (CreaHiloSuelto(nullptr, sSupervisorTelef, this) != 0) {
            IpcTraza(CLASES_TODAS, "Error creando hilo CEntTlf %d", iRec);
            return -5;
        }
        if (iModoSistema == 0) {
            char szLinea[65] = {}, szDestino[65] = {};
            memcpy(szLinea, reg.nombre, 64);
            if (iTipoIf == TIPOIF_AB)
                memcpy(szDestino, reg.uParam.tlf.szIdRed, sizeof reg.uParam.tlf.szIdRed - 1);
            else
                memcpy(szDestino, reg.szDestino, 64);
            oMant.Inicializa(szLinea, iTipoIf, szDestino);
        }
    }
    cfgCerrojo c(&tMutexGlobal);
    oContadores.contadores[CNT_PUBLICA] = 0;
    return 0;
}

// ---- Supervisor ----

void* CEntidadTelef::sSupervisorTelef(void* pObjeto) {
    static_cast<CEntidadTelef*>(pObjeto)->SupervisorCEntidadTelef();
    return nullptr;
}

void CEntidadTelef::SupervisorCEntidadTelef() {
    if (FijaPrioridadHilo(1) != 0) NLOG::Log(NLOG::ERROR, "CEntTlf[%d]: ERROR en cambio prioridad a 1 HiloSupervisor", iRec);
    TrazaPid("Supervisor CEntTlf", iRec, "src/recurso/centtlf");
    iVigilancia = RegistraHilo("Supervisor CEntidadTelef", iRec, 12000, hwDameTiempo());
    uint32_t* c = oContadores.contadores;
    for (;;) {
        uint32_t uiEspera;
        {
            cfgCerrojo l(&tMutexGlobal);
            uiEspera = DameMinimoContador(&oContadores);
            DescuentaContadores(&oContadores, uiEspera);
        }
        DuermeMs((uiEspera < US_MINIMO ? US_MINIMO : uiEspera) / 1000);
        if (iVigilancia >= 0) RefrescaHilo(iVigilancia, hwDameTiempo());

        bool bHw = false;
        {
            cfgCerrojo l(&tMutexGlobal);
            if (c[CNT_DSP] == 0) {
                c[CNT_DSP] = US_DSP;
                GestionaRecursoDsp();
                bHw = true;
            }
        }
        if (bHw) CompruebaHw();
        {
            cfgCerrojo l(&tMutexGlobal);
            if (c[CNT_MARCADOR] == 0) {
                int32_t iDsp;
                {
                    cfgCerrojo d(&tMutexRecDsp);
                    iDsp = iRecursoDsp;
                }
                c[CNT_MARCADOR] = static_cast<uint32_t>(oMarcador.PasoMarcador(hwDameTiempo(), iDsp, iSlotRx));
            }
            if (c[CNT_RING_BL] == 0) c[CNT_RING_BL] = static_cast<uint32_t>(VenceRingBL());
            if (c[CNT_CUELGUE] == 0) FinPendienteCuelgue();
        }
        bool bHwVence;
        {
            cfgCerrojo l(&tMutexGlobal);
            bHwVence = c[CNT_HW] == 0;
        }
        if (bHwVence) {
            const uint32_t us = static_cast<uint32_t>(SupervisaHW());
            cfgCerrojo l(&tMutexGlobal);
            c[CNT_HW] = us;
            if (iReconfigurado == 1) {
                iReconfigurado = 0;
                c[CNT_PUBLICA] = 0;
            }
        }
        bool bPublica;
        {
            cfgCerrojo l(&tMutexGlobal);
            bPublica = c[CNT_PUBLICA] == 0;
        }
        if (bPublica) PublicaEstado();
    }
}

void CEntidadTelef::GestionaRecursoDsp() {
    cfgCerrojo d(&tMutexRecDsp);
    const bool bLinea = HaySlic() == 1 || iTipoIf == TIPOIF_AB;
    if (iRecursoDsp < 0) {
        if (!bLinea) return;
        const int r = ldspArrancaRecurso(0, this);
        if (r >= 0) {
            iIdPeticionDsp = static_cast<uint32_t>(r);
            NLOG::Log(NLOG::INFO, "CENTTLF[%d]: Creado recurso DSP \n", iRec);
        } else {
            NLOG::Log(NLOG::ERROR, "CENTTLF[%d]:Error %i en ldspArrancaRecurso()", iRec, r);
        }
        return;
    }
    if (HaySlic() != 1 && iTipoIf != TIPOIF_AB) {
        const int r = ldspLiberaRecurso(iRecursoDsp);
        if (r == 0)
            NLOG::Log(NLOG::INFO, "CENTTLF[%d]: Recurso DSP liberado %d ", iRec, iRecursoDsp);
        else
            NLOG::Log(NLOG::ERROR, "CENTTLF[%d]:Error %i en ldspLiberaRecurso(%d)", iRec, r, iRecursoDsp);
        iRecursoDsp = -1;
        return;
    }
    if (iConfigurarDsp) ConfiguraRecursoDsp();
}

// Under tMutexRecDsp.
void CEntidadTelef::ConfiguraRecursoDsp() {
    if (HaySlic() == 1) {
        NLOG::Log(NLOG::INFO, "CENTTLF[%d]:Recurso DSP configurado (%d)", iRec, iRecursoDsp);
        const int32_t id = iRecursoDsp;
        PasoDsp asPasos[NUM_PASOS_SLOTS_DSP + 2];
        PasosSlotsDsp(asPasos);
        asPasos[NUM_PASOS_SLOTS_DSP] = {"ldspTomaCodecIfRx", ldspTomaCodecIfRx, CODEC_SLIC};
        asPasos[NUM_PASOS_SLOTS_DSP + 1] = {"ldspTomaCodecIfTx", ldspTomaCodecIfTx, CODEC_SLIC};
        const int n = sizeof asPasos / sizeof asPasos[0];
        int r = 0;
        const int i = ldspEjecutaPasos(id, asPasos, n, &r);
        if (i < n) {
            NLOG::Log(NLOG::ERROR, "CENTTLF[%d]:Error %i en %s(%d)", iRec, r, asPasos[i].szNombre, asPasos[i].iValor);
            return;
        }
        const cfgConfigRecurso reg = pContexto->CopiaRegistro();
        if (reg.uParam.tlf.iDetectVox == 1) {
            const int r = ldspSelecVoxRx(id, 1, reg.uParam.tlf.iUmbralVox);
            if (r != 0) NLOG::Log(NLOG::ERROR, "CENTTLF[%d]:Error %i en ldspSelecVoxRx ON(%d)", iRec, r, id);
        } else {
            const int r = ldspSelecVoxRx(id, 0, 0);
            if (r != 0) NLOG::Log(NLOG::ERROR, "CENTTLF[%d]:Error %i en ldspSelecVoxRx OFF(%d)", iRec, r, id);
        }
    }
    iConfigurarDsp = 0;
}

void CEntidadTelef::CompruebaHw() {
    bool bCaida = false;
    {
        cfgCerrojo l(&tMutexGlobal);
        if (iEstadoHw == iUltimoHwVisto) return;
        iUltimoHwVisto = iEstadoHw;
        oContadores.contadores[CNT_PUBLICA] = 0;
        bCaida = iEstadoHw == HW_PARADO;
    }
    if (bCaida) FinLocal();
}

int CEntidadTelef::EvtDspRecursoCreado(int id) {
    NLOG::Log(NLOG::INFO, "CENTTLF[%d]: EvtDspRecursoCreado(%d)", iRec, id);
    cfgCerrojo d(&tMutexRecDsp);
    if (static_cast<uint32_t>(id) != iIdPeticionDsp) {
        NLOG::Log(NLOG::ERROR, "CENTTLF[%d]: EvtDspRecursoCreado no es el esperado %i %i", iRec, id, iIdPeticionDsp);
        return 0;
    }
    iRecursoDsp = id;
    iConfigurarDsp = 1;
    return 0;
}

int CEntidadTelef::EvtDspLiberaRecurso() {
    cfgCerrojo d(&tMutexRecDsp);
    NLOG::Log(NLOG::INFO, "CENTTLF[%d]: EvtDspLiberaRecurso(%d)", iRec, iRecursoDsp);
    iRecursoDsp = -1;
    return 0;
}

// ---- Publication ----

void CEntidadTelef::PublicaEstado() {
    cfgCerrojo l(&tMutexGlobal);
    PublicaEstadoBloqueado();
}

void CEntidadTelef::PublicaEstadoBloqueado() {
    NotificacionEstado s{};
    const bool bHwOk = iEstadoHw == HW_EN_MARCHA;
    s.ucEstado = bHwOk ? CodigoPublicado(iEstadoTLF) : FUERA_DE_SERVICIO;
    s.iValor = bHwOk && iEstadoIF == IF_DESCOLGADO ? 1 : 0;
    s.iServicio = bHwOk ? 1 : 0;
    ipcrecEnviaNotificaEstado(&s);
    oContadores.contadores[CNT_PUBLICA] = US_PUBLICA;
    if (s.ucEstado != sPublicado.ucEstado || iForzarRegistro == 1) {
        const int r = s.ucEstado == FUERA_DE_SERVICIO ? oMant.EnviaFueraServicio()
                                                       : oMant.EnviaEnServicio(s.ucEstado, s.iServicio);
        iForzarRegistro = r != 0 ? 1 : 0;
    }
    sPublicado = s;
}

// ---- Call control from the core ----

int CEntidadTelef::LlamadaSaliente(int32_t id, const char* szOrigen, const char* szDest, int iPrio) {
    NLOG::Log(NLOG::INFO, "CENTTLF[%d]:LLamada saliente", iRec);
    cfgCerrojo l(&tMutexGlobal);
    if (iTipoIf == TIPOIF_BL && iEstadoTLF == PENDIENTE_CUELGUE) FinPendienteCuelgue();
    if (iEstadoTLF != RESOSO) {
        NLOG::Log(NLOG::INFO, "CENTTLF[%d]: LlamSal CENT_REC_OCUPADO (%d)\n", iRec, id);
        return -4;
    }
    if (iEstadoIF == IF_GENERANDO_RING || iEstadoIF == IF_DETECTANDO_RING) {
        NLOG::Log(NLOG::INFO, "CENTTLF[%d]: LlamSal CENT_IF_OCUPADO (%d)", iRec, id);
        return -3;
    }
    auto Guarda = [&] {
        iEstadoTLF = LLAMADA_SALIENTE;
        snprintf(acOrigen, sizeof acOrigen, "%s", szOrigen ? szOrigen : "");
        snprintf(acDestino, sizeof acDestino, "%s", szDest ? szDest : "");
        iPrioridad = iPrio;
        idLlamada = id;
    };
    if (iEstadoIF == IF_DESCOLGADO) {
        Guarda();
        PasaAConversacion();
    } else {
        oContadores.contadores[CNT_RING_BL] = US_RING_BL;
        Guarda();
        if (iTipoIf == TIPOIF_AB) {
            PasaAConversacion();
            NLOG::Log(NLOG::INFO, "CENTTLF[%d]:ACEPTA LLAMADA SALIENTE", iRec);
            int32_t iDsp;
            {
                cfgCerrojo d(&tMutexRecDsp);
                iDsp = iRecursoDsp;
            }
            if (szDest == nullptr) {
                NLOG::Log(NLOG::ERROR, "CENTTLF[%d]:Marca p_destino ES NULL", iRec);
            } else {
                for (int i = 0; i < 12 && szDest[i] != '\0'; ++i) IpcTraza(CLASE_DEBUG, "%x\n", szDest[i]);
                if (szDest[0] == '\0') {
                    NLOG::Log(NLOG::ERROR, "CENTTLF[%d]:NUMERO A MARCAR NO VALIDO", iRec);
                } else if (iDsp < 0) {
                    NLOG::Log(NLOG::ERROR, "CENTTLF[%d]:Marcar DTMF. No tengo recurso DSP", iRec);
                } else {
                    NLOG::Log(NLOG::INFO, "CENTTLF[%d]:oMarcador.Marca() slot %i ", iRec, iSlotRx);
                    oMarcador.Marca(szDest, iDsp, iSlotRx, pContexto->iRec);
                    oContadores.contadores[CNT_MARCADOR] = 0;
                }
            }
        } else if (iTipoIfHw == 1) {
            PasaAConversacion();
        } else {
            GeneraRingOn();
        }
    }
    oContadores.contadores[CNT_PUBLICA] = 0;
    return 0;
}

// Under tMutexGlobal.
void CEntidadTelef::PasaAConversacion() {
    if (iEstadoTLF != LLAMADA_SALIENTE) return;
    iEstadoTLF = CONVERSACION;
    oContadores.contadores[CNT_PUBLICA] = 0;
    iSaliente = 1;
    HwPasaAConv();
    ipcrecEnviaAceptaLlamada(idLlamada);
    if (iModoSistema == 0)
        oMant.LlamadaSaliente(acDestino, static_cast<int>(strlen(acDestino)), iPrioridad, time(nullptr), hwDameTiempo());
}

// Under tMutexGlobal: a BL outgoing call rings for 5 s, then it is in conversation.
int CEntidadTelef::VenceRingBL() {
    if (iEstadoTLF == LLAMADA_SALIENTE && iTipoIf == TIPOIF_BL && iTipoIfHw == 0) {
        GeneraRingOff();
        PasaAConversacion();
    }
    return US_RING_BL;
}

void CEntidadTelef::RegistroFin(bool bSaliente) {
    if (bSaliente)
        oMant.FinLlamadaSaliente(time(nullptr), hwDameTiempo());
    else
        oMant.FinLlamadaEntrante(time(nullptr), hwDameTiempo());
}

int CEntidadTelef::FinLlamada(int32_t id) {
    bool bEnConversacion;
    {
        cfgCerrojo l(&tMutexGlobal);
        if (id != idLlamada) return -2;
        NLOG::Log(NLOG::INFO, "FIN llamada 1");
        CancelaTempEntrante();  // the core has ended the call: no time-out of its own
        bEnConversacion = iEstadoTLF == CONVERSACION;
        if (iEstadoTLF == LLAMADA_SALIENTE && iEstadoIF == IF_GENERANDO_RING) {
            GeneraRingOff();
            iEstadoIF = IF_REPOSO;
        }
        if ((iTipoIf == TIPOIF_BC && iEstadoIF == IF_DESCOLGADO) || (iTipoIf == TIPOIF_BL && iEstadoTLF != RESOSO)) {
            if (iEstadoTLF != PENDIENTE_CUELGUE) {
                NLOG::Log(NLOG::INFO, "FIN llamada 2 iEstadoTLF %i", iEstadoTLF);
                iEstadoTLF = PENDIENTE_CUELGUE;
                GeneraTono(TONO_CUELGUE);
                if (iTipoIf == TIPOIF_BL) oContadores.contadores[CNT_CUELGUE] = US_CUELGUE;
                NLOG::Log(NLOG::INFO, "FIN llamada 3");
            }
        } else {
            NLOG::Log(NLOG::INFO, "FIN llamada 4 iEstadoTLF %i", iEstadoTLF);
            iEstadoTLF = RESOSO;
            HwPasaAReposoBloqueado();
        }
        NLOG::Log(NLOG::INFO, "FIN llamada 5 iEstadoTLF %i", iEstadoTLF);
    }
    PublicaEstado();
    if (iModoSistema == 0 && bEnConversacion) RegistroFin(iSaliente == 1);
    NLOG::Log(NLOG::INFO, "CENTTELEF[%d]: Fin LlamSaliente (%d)", iRec, id);
    return 0;
}

int CEntidadTelef::AceptaLlamada() {
    bool bAceptada = false;
    {
        cfgCerrojo l(&tMutexGlobal);
        if (iEstadoTLF == LLAMADA_ENTRANTE) {
            iEstadoTLF = CONVERSACION;
            oContadores.contadores[CNT_PUBLICA] = 0;
            CancelaTempEntrante();
            iSaliente = 0;
            HwPasaAConv();
            bAceptada = true;
        }
        NLOG::Log(NLOG::INFO, "CENTTLF[%d]: AceptaLlamada (%d)Origen=%s Destino=%s Prioridad=%i", iRec, idLlamada,
                  acOrigen, acDestino, iPrioridad);
        if (bAceptada && iModoSistema == 0)
            oMant.LlamadaEntrante(acOrigen, static_cast<int>(strlen(acOrigen)), iPrioridad, time(nullptr),
                                  hwDameTiempo());
    }
    return 0;
}

int CEntidadTelef::RechazaLlamada(int32_t id, int iMotivo) {
    bool bEnConversacion;
    {
        cfgCerrojo l(&tMutexGlobal);
        // The refusal of a call this line turned away as busy leaves its own call alone.
        if (id != idLlamada) {
            NLOG::Log(NLOG::INFO, "CENTTLF[%d]: RechazaLlamada (%d)", iRec, id);
            return 0;
        }
        bEnConversacion = iEstadoTLF == CONVERSACION;
        if (iTipoIf == TIPOIF_BC || iTipoIf == TIPOIF_BL) {
            iEstadoTLF = PENDIENTE_CUELGUE;
            if (iTipoIf == TIPOIF_BL) oContadores.contadores[CNT_CUELGUE] = US_CUELGUE;
            switch (iMotivo) {
            case 205: GeneraTono(TONO_FUERA); break;
            case 206: GeneraTono(TONO_CONGESTION); break;
            case 202: GeneraTono(TONO_OCUPADO); break;
            default: GeneraTono(TONO_CUELGUE); break;
            }
        } else {
            iEstadoTLF = RESOSO;
            HwPasaAReposoBloqueado();
        }
        CancelaTempEntrante();
        oContadores.contadores[CNT_PUBLICA] = 0;
    }
    if (iModoSistema == 0 && bEnConversacion) RegistroFin(iSaliente == 1);
    NLOG::Log(NLOG::INFO, "CENTTLF[%d]: RechazaLlamada (%d)", iRec, id);
    return 0;
}

// ---- Line hardware ----

void CEntidadTelef::GeneraRingOn() {
    int r = 0;
    switch (iTipoIf) {
    case TIPOIF_BC:
        r = hwActivaRingSlic(iModulo);
        iEstadoIF = IF_GENERANDO_RING;
        break;
    case TIPOIF_BL:
        if (iTipoIfHw != 0) return;
        r = hwArrancaRingSlic(iModulo);
        iEstadoIF = IF_GENERANDO_RING;
        oContadores.contadores[CNT_RING_BL] = US_RING_BL;
        break;
    case TIPOIF_EYM_PP:
        if (iTipoIfHw == 2)
            hwActivaSalidaCanal(iModulo);
        else
            r = hwActivaLineaSlic(iModulo);
        break;
    default: return;
    }
    if (r < 0)
        NLOG::Log(NLOG::ERROR, "CENTTLF[%d]: Error Hw Ring ON(%d)", iRec, iModulo);
    else
        NLOG::Log(NLOG::INFO, "CENTTLF[%d]: GEN RING ON (%d)", iRec, iModulo);
}

void CEntidadTelef::GeneraRingOff() {
    int r = 0;
    switch (iTipoIf) {
    case TIPOIF_BC: r = hwDesactivaRingSlic(iModulo); break;
    case TIPOIF_BL:
        if (iTipoIfHw != 0) return;
        r = hwParaRingSlic(iModulo);
        iEstadoIF = IF_REPOSO;
        break;
    case TIPOIF_EYM_PP:
        if (iTipoIfHw == 2)
            hwDesactivaSalidaCanal(iModulo);
        else
            r = hwDesactivaLineaSlic(iModulo);
        break;
    default: return;
    }
    if (r < 0)
        NLOG::Log(NLOG::ERROR, "CENTTLF[%d]: Error Hw Ring OFF(%d)", iRec, iModulo);
    else
        NLOG::Log(NLOG::INFO, "CENTTLF[%d]: GEN RING OFF (%d)", iRec, iModulo);
}

void CEntidadTelef::HwPasaAConv() {
    GeneraTono(TONO_NINGUNO);
    int r = 0;
    switch (iTipoIf) {
    case TIPOIF_BC:
        if (iTipoIfHw == 0) r = hwPasaAConvTipo2();
        break;
    case TIPOIF_BL:
        if (iTipoIfHw != 0) break;
        hwModoNormalSlic(iModulo);
        r = hwPasaAConvSlic(iModulo);
        iEstadoIF = IF_DESCOLGADO;
        break;
    case TIPOIF_AB:
        if (iEstadoIF == IF_REPOSO) {
            r = hwPasaAConvSlic(iModulo);
            iEstadoIF = IF_DESCOLGADO;
        }
        if (r >= 0) r = hwPasaAConvTipo4();
        break;
    case TIPOIF_EYM_PP: GeneraRingOn(); return;
    default: return;
    }
    if (r < 0)
        NLOG::Log(NLOG::ERROR, "CENTTLF[%d]: Error hwPasa a COnv(%d)", iRec, iModulo);
    else
        NLOG::Log(NLOG::INFO, "CENTTLF[%d]: Pasa a Conv (%d)", iRec, iModulo);
}

void CEntidadTelef::HwPasaAReposo() {
    cfgCerrojo l(&tMutexGlobal);
    HwPasaAReposoBloqueado();
}

void CEntidadTelef::HwPasaAReposoBloqueado() {
    int r = 0;
    switch (iTipoIf) {
    case TIPOIF_BC:
        // A line left marked as ringing refuses every later call as busy.
        if (iEstadoIF == IF_GENERANDO_RING) {
            GeneraRingOff();
            iEstadoIF = IF_REPOSO;
        }
        break;
    case TIPOIF_BL:
        if (iTipoIfHw != 0) break;
        hwParaRingSlic(iModulo);
        r = hwPasaAReposoSlic(iModulo);
        iEstadoIF = IF_REPOSO;
        break;
    case TIPOIF_AB:
        if (iEstadoIF == IF_DESCOLGADO) {
            r = hwPasaAReposoSlic(iModulo);
            iEstadoIF = IF_REPOSO;
        }
        break;
    case TIPOIF_EYM_PP: GeneraRingOff(); break;
    default: break;
    }
    if (r < 0)
        NLOG::Log(NLOG::ERROR, "CENTTLF[%d]: Error hwPasa a reposo(%d)", iRec, iModulo);
    else
        NLOG::Log(NLOG::INFO, "CENTTLF[%d]: hw pasa a reposo (%d)", iRec, iModulo);
    PublicaEstadoBloqueado();
}

// The line went idle locally, or its hardware failed.
void CEntidadTelef::FinLocal() {
    if (iTipoIf == TIPOIF_BC || iTipoIf == TIPOIF_BL) {
        bool bEnConversacion = false, bFin = false;
        int32_t id;
        {
            cfgCerrojo l(&tMutexGlobal);
            const int iAntes = iEstadoTLF;
            iEstadoTLF = RESOSO;
            iEstadoIF = IF_REPOSO;
            GeneraTono(TONO_NINGUNO);
            id = idLlamada;
            if (iAntes == LLAMADA_ENTRANTE || iAntes == CONVERSACION || iAntes == LLAMADA_SALIENTE) {
                CancelaTempEntrante();
                oContadores.contadores[CNT_PUBLICA] = 0;
                ipcrecEnviaFinLlamada(id);
                bFin = true;
                bEnConversacion = iAntes == CONVERSACION;
            }
        }
        if (bFin) {
            if (iModoSistema == 0 && bEnConversacion) RegistroFin(iSaliente == 1);
            NLOG::Log(NLOG::INFO, "CENTTLF[%d]: Fin llamada %d", iRec, id);
        }
    }
    HwPasaAReposo();
}

// Under tMutexGlobal: nothing carries digits, the core routes the call by the configuration.
void CEntidadTelef::OfreceLlamadaEntrante() {
    iEstadoTLF = LLAMADA_ENTRANTE;
    oTempEntrante.Arma(TICKS_ENTRANTE, sVence, reinterpret_cast<uintptr_t>(this), TMP_ENTRANTE);
    oContadores.contadores[CNT_PUBLICA] = 0;
    DatosLlamada d{};
    idLlamada = ipcrecEnviaLlamadaEntrante(&d);
    iSaliente = 0;
    NLOG::Log(NLOG::INFO, "CENTTLF[%d]: Envia llamada entrante %d", iRec, idLlamada);
}

void CEntidadTelef::CancelaTempEntrante() { oTempEntrante.Cancela(); }

int CEntidadTelef::EvtDetRing(int) {
    if (hwDimePresenciaModulo(iModulo / 4) != 1) return 0;
    NLOG::Log(NLOG::INFO, "CENTTLF[%d]: Deteccion Ring(%d)", iRec, iModulo);
    bool bContesta = false;
    {
        cfgCerrojo l(&tMutexGlobal);
        if (iEstadoTLF != RESOSO) return 0;
        OfreceLlamadaEntrante();
        bContesta = iTipoIf == TIPOIF_BL && iTipoIfHw == 0;
    }
    if (bContesta) {
        hwModoNormalSlic(iModulo);
        hwPasaAConvSlic(iModulo);
        cfgCerrojo l(&tMutexGlobal);
        iEstadoIF = IF_DESCOLGADO;
        GeneraTono(TONO_PROGRESION);
    }
    return 0;
}

int CEntidadTelef::EvtDetFinRing(int) {
    NLOG::Log(NLOG::INFO, "CENTTLF[%d]: Fin Deteccion Ring(%d)", iRec, iModulo);
    cfgCerrojo l(&tMutexGlobal);
    if (iEstadoTLF != LLAMADA_ENTRANTE) return 0;
    if (iTipoIf == TIPOIF_BL && iTipoIfHw == 0 && iEstadoIF != IF_DESCOLGADO) {
        hwModoNormalSlic(iModulo);
        hwPasaAConvSlic(iModulo);
        iEstadoIF = IF_DESCOLGADO;
        GeneraTono(TONO_PROGRESION);
    } else {
        oContadores.contadores[CNT_3] = US_FIN_RING;
    }
    return 0;
}

int CEntidadTelef::EvtCierreBucle(int) {
    if (hwDimePresenciaModulo(iModulo / 4) != 1) return 0;
    NLOG::Log(NLOG::INFO, "CENTTLF[%d]: Cierre de bucle(%d)", iRec, iModulo);
    cfgCerrojo l(&tMutexGlobal);
    if (iTipoIf == TIPOIF_BC && iEstadoTLF == RESOSO) {
        OfreceLlamadaEntrante();
        iEstadoIF = IF_DESCOLGADO;
        GeneraTono(TONO_PROGRESION);
    } else if (iTipoIf == TIPOIF_BC && iEstadoTLF == LLAMADA_SALIENTE) {
        if (iEstadoIF == IF_GENERANDO_RING) GeneraRingOff();
        PasaAConversacion();
    }
    if (iTipoIf == TIPOIF_BC || iTipoIf == TIPOIF_AB) iEstadoIF = IF_DESCOLGADO;
    oContadores.contadores[CNT_PUBLICA] = 0;
    return 0;
}

int CEntidadTelef::EvtBucleAbierto(int) {
    NLOG::Log(NLOG::INFO, "CENTTLF[%d]: bucle Abierto(%d)", iRec, iModulo);
    bool bFin = false, bEnConversacion = false;
    int32_t id;
    {
        cfgCerrojo l(&tMutexGlobal);
        if (iTipoIf == TIPOIF_BC) {
            const int iAntes = iEstadoTLF;
            iEstadoTLF = RESOSO;
            iEstadoIF = IF_REPOSO;
            GeneraTono(TONO_NINGUNO);
            if (iAntes == LLAMADA_ENTRANTE || iAntes == CONVERSACION) {
                CancelaTempEntrante();
                ipcrecEnviaFinLlamada(idLlamada);
                bFin = true;
                bEnConversacion = iAntes == CONVERSACION;
            }
        }
        id = idLlamada;
        oContadores.contadores[CNT_PUBLICA] = 0;
    }
    if (bFin) {
        if (iModoSistema == 0 && bEnConversacion) RegistroFin(iSaliente == 1);
        NLOG::Log(NLOG::INFO, "CENTTLF[%d]: Fin llamada %d", iRec, id);
    }
    return 0;
}

int CEntidadTelef::EvtDetLlamadaEyM(int) {
    if (hwDimePresenciaModulo(iModulo / 4) != 1) return 0;
    NLOG::Log(NLOG::INFO, "CENTTLF[%d]: Deteccion llamada EyM(%d)", iRec, iModulo);
    cfgCerrojo l(&tMutexGlobal);
    if (iEstadoTLF == RESOSO) {
        OfreceLlamadaEntrante();
        GeneraTono(TONO_PROGRESION);
        iEstadoIF = IF_DESCOLGADO;
    } else if (iEstadoTLF == LLAMADA_SALIENTE) {
        PasaAConversacion();
        iEstadoIF = IF_DESCOLGADO;
    }
    return 0;
}

int CEntidadTelef::EvtDetFinLlamadaEyM(int) {
    NLOG::Log(NLOG::INFO, "CENTTLF[%d]: EvtDetFinLlamadaEyM(%d)", iRec, iModulo);
    bool bFin = false, bEnConversacion = false;
    int32_t id;
    {
        cfgCerrojo l(&tMutexGlobal);
        const int iAntes = iEstadoTLF;
        iEstadoTLF = RESOSO;
        iEstadoIF = IF_REPOSO;
        id = idLlamada;
        if (iAntes == LLAMADA_ENTRANTE || iAntes == CONVERSACION) {
            CancelaTempEntrante();
            ipcrecEnviaFinLlamada(idLlamada);
            bFin = true;
            bEnConversacion = iAntes == CONVERSACION;
        }
        oContadores.contadores[CNT_PUBLICA] = 0;
        GeneraTono(TONO_NINGUNO);
        HwPasaAReposoBloqueado();
    }
    if (bFin) {
        if (iModoSistema == 0 && bEnConversacion) RegistroFin(iSaliente == 1);
        NLOG::Log(NLOG::INFO, "CENTTLF[%d]: Fin llamada %d", iRec, id);
    }
    return 0;
}

int CEntidadTelef::EvtSquelchOn() {
    IpcTraza(0x3E, "CENTTLF[%d]: LINEA TIPO %i SQUELCH ON \n", iRec, iTipoIfHw);
    if (iTipoIfHw == 2) return EvtDetLlamadaEyM(iModulo);
    return 0;
}

int CEntidadTelef::EvtSquelchOff() {
    IpcTraza(0x3E, "CENTTLF[%d]: LINEA TIPO %i SQUELCH OFF \n", iRec, iTipoIfHw);
    if (iTipoIfHw == 2) return EvtDetFinLlamadaEyM(iModulo);
    return 0;
}

int CEntidadTelef::EvtDspVoxRx(int iDetectado, int iNivel) {
    NLOG::Log(NLOG::INFO, "DSP VOX Det=%i, Nivel=%i", iDetectado, iNivel - 255);
    cfgCerrojo l(&tMutexGlobal);
    if (iDetectado != 1) {
        const int iSegundos = pContexto->CopiaRegistro().uParam.tlf.iTmInactividad;
        if (iEstadoTLF == CONVERSACION && iTipoIf == TIPOIF_BL && !oTempInactividad.Armado() && iSegundos > 0)
            oTempInactividad.Arma(iSegundos * 10, sVence, reinterpret_cast<uintptr_t>(this), TMP_INACTIVIDAD);
    } else {
        oTempInactividad.Cancela();
    }
    return 0;
}

// ---- Timers ----

uintptr_t CEntidadTelef::sVence(uintptr_t pObjeto, uintptr_t iTipo, uintptr_t uiArmado) {
    reinterpret_cast<CEntidadTelef*>(pObjeto)->Vence(static_cast<int>(iTipo), static_cast<uint32_t>(uiArmado));
    return 0;
}

void CEntidadTelef::Vence(int iTipo, uint32_t uiArmado) {
    if (iTipo == TMP_INACTIVIDAD) {
        bool bFinLocal = false;
        {
            cfgCerrojo l(&tMutexGlobal);
            if (!oTempInactividad.Vence(uiArmado)) return;
            NLOG::Log(NLOG::INFO, "CENTTLF[%d]:VENCE INACTIVIDAD iEstadoTLF=%i", iRec, iEstadoTLF);
            if (iTipoIf == TIPOIF_BL) {
                if (iEstadoTLF == CONVERSACION) {
                    bFinLocal = true;
                } else if (iEstadoTLF == PENDIENTE_CUELGUE) {
                    GeneraTono(TONO_NINGUNO);
                    iEstadoTLF = RESOSO;
                    HwPasaAReposoBloqueado();
                }
            }
        }
        if (bFinLocal) FinLocal();
        cfgCerrojo l(&tMutexGlobal);
        oContadores.contadores[CNT_PUBLICA] = 0;
        return;
    }
    if (iTipo != TMP_ENTRANTE) return;
    cfgCerrojo l(&tMutexGlobal);
    if (!oTempEntrante.Vence(uiArmado) || iEstadoTLF != LLAMADA_ENTRANTE) return;
    NLOG::Log(NLOG::INFO, "CENTTLF[%d]: Fin llamada %d (vence llamada entrante)", iRec, idLlamada);
    switch (iTipoIf) {
    case TIPOIF_BL:
        oContadores.contadores[CNT_CUELGUE] = US_CUELGUE;
        ipcrecEnviaFinLlamada(idLlamada);
        iEstadoTLF = PENDIENTE_CUELGUE;
        GeneraTono(TONO_CUELGUE);
        break;
    case TIPOIF_BC:
        ipcrecEnviaFinLlamada(idLlamada);
        iEstadoTLF = PENDIENTE_CUELGUE;
        GeneraTono(TONO_CUELGUE);
        break;
    case TIPOIF_AB:
        iEstadoTLF = RESOSO;
        ipcrecEnviaFinLlamada(idLlamada);
        oContadores.contadores[CNT_PUBLICA] = 0;
        break;
    default: break;
    }
}

// Under tMutexGlobal (slot 8 and LlamadaSaliente).
void CEntidadTelef::FinPendienteCuelgue() {
    if (iTipoIf != TIPOIF_BL || iEstadoTLF != PENDIENTE_CUELGUE) return;
    GeneraTono(TONO_NINGUNO);
    iEstadoTLF = RESOSO;
    HwPasaAReposoBloqueado();
    oContadores.contadores[CNT_PUBLICA] = 0;
}

// ---- Console and configuration ----

void CEntidadTelef::Debug(int32_t iValor) {
    // The core writes the selector and its value as the word's first two bytes in memory order
    // (the top two on the big-endian board): read them the same way on any host.
    uint8_t b[4];
    std::memcpy(b, &iValor, sizeof b);
    const int iSelector = b[0];
    const int iDato = b[1];
    switch (iSelector) {
    case 6: {
        cfgCerrojo l(&tMutexGlobal);
        iEstadoHw = HW_PARADO;
        if (DameMascaraTrazaIpc() != 0) NLOG::Log(NLOG::INFO, "CENTTLF[%d]: slic configurado(%d)", iRec, iModulo);
        break;
    }
    case 5:
        if (hwHabilitaTxCanalAudio(iSlotRx) == 0)
            NLOG::Log(NLOG::INFO, "CENTTLF[%d]: hwHabilitaTxCanalAudio(%d)", iRec, iSlotRx);
        else
            NLOG::Log(NLOG::ERROR, "CENTTLF[%d]: Error hwHabilitaTxCanalAudio(%d)", iRec, iSlotRx);
        break;
    case 16: {
        cfgCerrojo l(&tMutexGlobal);
        iForzarRegistro = iDato;
        break;
    }
    default: break;
    }
}

// The frame calls these under its configuration lock, before the new record is copied:
// the changes are found in AplicaConfig against the values this entity applied last.
void CEntidadTelef::CambioConfigIf(CambiosConfig*) { NLOG::Log(NLOG::INFO, "CENTTLF[%d]: cambio Config IF ", iRec); }
void CEntidadTelef::CambioConfigGeneral(CambiosConfig*) {}

void CEntidadTelef::AplicaConfig(const CambiosConfig&) {
    const cfgConfigRecurso reg = pContexto->CopiaRegistro();
    CambiosConfig s;
    const int32_t* g = reg.BloqueAudio();
    if (g[0] != aiGananciasAplicadas[0] || g[1] != aiGananciasAplicadas[1]) s.uiGeneral |= 1;
    if (g[2] != aiGananciasAplicadas[2] || g[3] != aiGananciasAplicadas[3]) s.uiGeneral |= 2;
    const cfgParamTlf& t = reg.uParam.tlf;
    if (iTipoIf == TIPOIF_BL && (t.iDetectVox != sTlfAplicado.iDetectVox || t.iUmbralVox != sTlfAplicado.iUmbralVox))
        s.uiInterfaz |= 2;
    if (iTipoIf == TIPOIF_EYM_PP && (t.eTypeEyM != sTlfAplicado.eTypeEyM || t.iModoEyM != sTlfAplicado.iModoEyM ||
                                     t.iLadoEyM != sTlfAplicado.iLadoEyM))
        s.uiInterfaz |= 1;
    memcpy(aiGananciasAplicadas, g, sizeof aiGananciasAplicadas);
    sTlfAplicado = t;
    NLOG::Log(NLOG::INFO, "CENTTLF[%d]: Aplica config Config IF ", iRec);
    if (s.uiInterfaz & 1) ArrancaHW();
    if (s.uiGeneral & 1) AjustaGananciaTx(reg.iSelGananciaAgcTx, reg.iGananciaAgcTx);
    if (s.uiGeneral & 2) AjustaGananciaRx(reg.iSelGananciaAgcRx, reg.iGananciaAgcRx);
    if (s.uiInterfaz & 2) AplicaVox();
    char szClave[sizeof reg.szClave + 1] = {};
    memcpy(szClave, reg.szClave, sizeof reg.szClave);
    NLOG::Log(NLOG::INFO, "CENTTLF[%d]: iEnableRegistro %d szClave %s", iRec, reg.iEnableRegistro, szClave);
    if (szClave[0] == 'T') {
        const int n = atoi(szClave + 1);
        int32_t iDsp;
        {
            cfgCerrojo d(&tMutexRecDsp);
            iDsp = iRecursoDsp;
        }
        const int r = ldspSelecCancelEcoTx(iDsp, n);
        if (r == 0)
            NLOG::Log(NLOG::INFO, "CENTTLF[%d]:ldspSelecCancelEcoTx(%d)", iRec, n);
        else
            NLOG::Log(NLOG::ERROR, "CENTTLF[%d]:Error %i en ldspSelecCancelEcoTx(%d)", iRec, r, n);
    } else if (szClave[0] == 'R') {
        NLOG::Log(NLOG::INFO, "CENTTLF[%d]:NO ESTA IMPLEMENTADO ldspSelecCancelEcoRx(%d)", iRec, atoi(szClave + 1));
    }
}

void CEntidadTelef::AplicaVox() {
    cfgCerrojo d(&tMutexRecDsp);
    if (iRecursoDsp < 0) return;
    ldspSelecVoxRx(iRecursoDsp, 0, 0);
    NLOG::Log(NLOG::INFO, "Cambio Config Deteccion Vox OFF ");
    if (sTlfAplicado.iDetectVox == 1) {
        ldspSelecVoxRx(iRecursoDsp, 1, sTlfAplicado.iUmbralVox);
        NLOG::Log(NLOG::INFO, "Cambio Config Deteccion Vox ON umbral %i", sTlfAplicado.iUmbralVox);
    }
}

void CEntidadTelef::PintaEstado() {
    int iEstado, iIf, iHw, iPrio;
    char szOrigen[65], szDestino[65];
    {
        cfgCerrojo l(&tMutexGlobal);
        iEstado = iEstadoTLF;
        iIf = iEstadoIF;
        iHw = iEstadoHw;
        iPrio = iPrioridad;
        memcpy(szOrigen, acOrigen, sizeof szOrigen);
        memcpy(szDestino, acDestino, sizeof szDestino);
    }
    if (iTipoIf == TIPOIF_BC || iTipoIf == TIPOIF_BL || iTipoIf == TIPOIF_AB)
        IpcPrintf(" Interface Telefonico %s\n", iTipoIf == TIPOIF_BC ? "BC" : iTipoIf == TIPOIF_BL ? "BL" : "AB");
    IpcPrintf("  Posicion =%i\n", iModulo);
    const char* szEstado = NombreEstado(iEstado);
    IpcPrintf("  Estado TFL = %s\n", szEstado ? szEstado : "");
    IpcPrintf(iHw == HW_EN_MARCHA ? "HW CORRECTO\n" : "HW NO CORRECTO\n");
    if (iEstado >= LLAMADA_ENTRANTE && iEstado <= LLAMADA_SALIENTE)
        IpcPrintf("   Origen=%s\n   Destino=%s\n   Prioridad=%i\n", szOrigen, szDestino, iPrio);
    IpcPrintf("  Estado IF = %s\n", NombreEstadoIf(iIf));
    IpcPrintf("    Reconfiguracion Slic : %d\n", iNumReconfigSlic);
    IpcPrintf("    Sup. Slic no iniciado : %d\n", iFallos);
}
