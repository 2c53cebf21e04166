#include "ccolateral.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "cconfig.h"
#include "cgest.h"
#include "comun/cdireccionip.h"
#include "comun/nlog.h"
#include "comun/texto.h"
#include "ipc/cola.h"
#include "red/tcpcons.h"
#include "sip/cgestorllamada.h"
#include "sip/cpasagus.h"
#include "sip/encaminauri.h"

namespace {
constexpr int32_t TICKS_RESPUESTA = 50;  // 5 s for the answer of an OPTIONS
constexpr int32_t TICKS_BUCLE = 160;     // 16 s for the loop test's answer
constexpr uint32_t MASCARA_TRAZA_RECURSOS = 0x3E;

// What the collateral duties read of the record, copied under the configuration mutex. The
// radio words are read from radio records only: the type part is a union.
struct DatosColateral {
    int iTipoIf;
    int iTipoRadio;  // -1 on other types
    int iSessionPrio;
    int iNumPaquetesSqOff;
    int iSupervOptions;
    int iTmSupervOptions;
    char acNombre[68];
    char acFid[68];
    char acUriLocal[84];
    char acUriRemota[84];
};

DatosColateral LeeDatos(CCONFIG* poCfg, const cfgConfigRecurso* r) {
    DatosColateral d{};
    d.iTipoIf = d.iTipoRadio = -1;
    if (r == nullptr || poCfg == nullptr) return d;
    cfgCerrojo c(&poCfg->tMutex);
    d.iTipoIf = r->iTipoIf;
    const bool radio = r->iTipoIf == TIPOIF_RADIO;
    d.iTipoRadio = radio ? r->uParam.radio.iTipoRadio : -1;
    d.iSessionPrio = radio ? r->uParam.radio.iSessionPrio : 0;
    d.iNumPaquetesSqOff = radio ? r->uParam.radio.iNumPaquetesSqOff : 0;
    d.iSupervOptions = r->sColateral.isuperv_options;
    d.iTmSupervOptions = r->sColateral.itm_superv_options;
    CopiaCampo(d.acNombre, r->nombre);
    CopiaCampo(d.acFid, r->szDestino);
    CopiaCampo(d.acUriLocal, r->szUriLocal);
    CopiaCampo(d.acUriRemota, r->sColateral.szUriRemota);
    return d;
}
}  // namespace

CColateral::CColateral(CCONFIG* poConfig, int iRec, CSupervisor& oSupervisor, CTablaSesiones& oTabla)
    : iModoMantenimiento(0), iTipoBucle(0), iEmplazamientoBucle(0), iBuclePendiente(0), iTempBucle(-1),
      aucEqActivoTXRX{}, iEstadoColateral(0), aiColateralTemp{-1, 0, 0, 0}, iHaySesiones(-1), iCambioColateral(0),
      aiCambioEmplazamiento{}, iColateralCfgA(0), iColateralCfgB(0), iCambioCfgColateral(0),
      iReconfigurarColaterales(0), poCfg(poConfig), iRecurso(iRec),
      psConfig(poConfig && iRec >= 0 && iRec < CFG_NUM_RECURSOS ? &poConfig->asRecursos[iRec] : nullptr),
      oSup(oSupervisor), oSesiones(oTabla), iArrancado(0) {}

// ---- Targets -----------------------------------------------------------------------------------

int CColateral::DameDestino(int indice, DatosLlamadaGestor* p) {
    if (psConfig == nullptr || p == nullptr || poCfg == nullptr) return -1;
    cfgCerrojo c(&poCfg->tMutex);
    const cfgConfigRecurso& r = *psConfig;
    if (r.iTipoIf == TIPOIF_RADIO) {
        const cfgParamRadio& radio = r.uParam.radio;
        if (radio.iTipoRadio >= 4 && radio.iTipoRadio <= 6) return -1;
        std::memset(p, 0, sizeof *p);
        p->tipo = 3;
        if (r.szUriLocal[0] == '\0') return -1;
        CopiaCampo(p->NumOrigen, r.szUriLocal, 80);
        if (indice < 0 || indice > 15) return -1;
        if (indice > 3 && radio.iTipoRadio != 2 && radio.iTipoRadio != 3) return -1;
        p->ucModoBss = static_cast<uint8_t>(radio.iMetodoBss & 0xFF);  // the BSS-mode byte, last of the record
        const cfgEmplazamiento& e = radio.asEmplazamiento[indice / 4];
        const bool hayB = radio.iTipoRadio == 1 || radio.iTipoRadio == 3;
        const char* uri = nullptr;
        int sentido = 0;
        switch (indice % 4) {
        case 0: uri = e.UriTxA[0] ? e.UriTxA : nullptr; break;
        case 1: uri = hayB && e.UriTxB[0] ? e.UriTxB : nullptr; break;
        case 2:
            uri = e.UriRxA[0] && !(e.UriTxA[0] && std::strcmp(e.UriRxA, e.UriTxA) == 0) ? e.UriRxA : nullptr;
            sentido = 1;
            break;
        default:
            uri = hayB && e.UriRxB[0] && !(e.UriTxB[0] && std::strcmp(e.UriRxB, e.UriTxB) == 0) ? e.UriRxB : nullptr;
            sentido = 1;
            break;
        }
        if (uri == nullptr) return -1;
        CopiaCampo(p->NumDestino, uri, 80);
        p->iTipoSesionRadio = sentido;
        return 0;
    }
    if (r.iTipoIf >= TIPOIF_LCEN && r.iTipoIf <= TIPOIF_AB) {
        if (indice != 0) return -1;
        std::memset(p, 0, sizeof *p);
        if (r.szUriLocal[0] == '\0' || r.sColateral.szUriRemota[0] == '\0') return -1;
        CopiaCampo(p->NumOrigen, r.szUriLocal, 80);
        CopiaCampo(p->NumDestino, r.sColateral.szUriRemota, 80);
        p->tipo = r.iTipoIf == TIPOIF_LCEN ? 2 : 3;
        return 0;
    }
    return 0;
}

int CColateral::EsValido() {
    if (psConfig == nullptr || poCfg == nullptr) return 0;
    cfgCerrojo c(&poCfg->tMutex);
    const cfgConfigRecurso& r = *psConfig;
    const bool uris = r.szUriLocal[0] != '\0' && r.sColateral.szUriRemota[0] != '\0';
    switch (r.iTipoIf) {
    case TIPOIF_RADIO: return r.uParam.radio.iTipoRadio <= 6 ? 1 : 0;
    case TIPOIF_LCEN: case TIPOIF_BC: case TIPOIF_AB: case TIPOIF_ATSR2: case TIPOIF_ATSN5: return uris ? 1 : 0;
    case TIPOIF_BL: return uris && r.iLLamadaAutomatica == 1 ? 1 : 0;
    default: return 0;
    }
}

int CColateral::HayClimax() {
    if (psConfig == nullptr || poCfg == nullptr) return 0;
    cfgCerrojo c(&poCfg->tMutex);
    return psConfig->iTipoIf == TIPOIF_RADIO && psConfig->uParam.radio.iClimaxDelay != 0 ? 1 : 0;
}

int CColateral::EsConmutacionA() {
    if (psConfig == nullptr || poCfg == nullptr) return 0;
    cfgCerrojo c(&poCfg->tMutex);
    return psConfig->iTipoIf == TIPOIF_RADIO && psConfig->uParam.radio.cTipoConmutacion == 'A' ? 1 : 0;
}

int CColateral::DameUriRemota(char* dst) {
    if (psConfig == nullptr || dst == nullptr || poCfg == nullptr) return -1;
    cfgCerrojo c(&poCfg->tMutex);
    std::printf("nombre= %s\n", psConfig->nombre);
    if (psConfig->sColateral.szUriRemota[0] == '\0') return -1;
    std::printf("colateral: %s\n", psConfig->sColateral.szUriRemota);
    std::snprintf(dst, 81, "%.80s", psConfig->sColateral.szUriRemota);
    return 0;
}

int CColateral::DameEstadoUris(int e, int* txa, int* rxa, int* txb, int* rxb) {
    *txa = *rxa = *txb = *rxb = NO_CONFIGURADO;
    if (psConfig == nullptr || poCfg == nullptr || e < 0 || e > 3) return -1;
    cfgCerrojo c(&poCfg->tMutex);
    if (psConfig->iTipoIf != TIPOIF_RADIO) return -1;
    const cfgParamRadio& radio = psConfig->uParam.radio;
    if (radio.iTipoRadio >= 4 && radio.iTipoRadio <= 6) return -1;
    if ((radio.iTipoRadio == 0 || radio.iTipoRadio == 1) && e != 0) return -1;
    const cfgEmplazamiento& em = radio.asEmplazamiento[e];
    if (em.UriTxA[0]) *txa = SIN_SESION;
    if (em.UriRxA[0]) *rxa = SIN_SESION;
    if (radio.iTipoRadio == 1 || radio.iTipoRadio == 3) {
        if (em.UriTxB[0]) *txb = SIN_SESION;
        if (em.UriRxB[0]) *rxb = SIN_SESION;
    }
    if (*txa == SIN_SESION && *rxa == SIN_SESION && std::strcmp(em.UriTxA, em.UriRxA) == 0) *rxa = MISMO_EQUIPO;
    if (*txb == SIN_SESION && *rxb == SIN_SESION && std::strcmp(em.UriTxB, em.UriRxB) == 0) *rxb = MISMO_EQUIPO;
    return 0;
}

bool CColateral::EquipoActivo(int iRecurso, int iIndice) {
    if (iIndice < 0) return false;
    const int e = iIndice / 4, k = iIndice % 4;
    return k < 2 ? oCgest.LeeActivoTx(iRecurso, e) == k : oCgest.LeeActivoRx(iRecurso, e) == k - 2;
}

int CColateral::FijaEquipoActivo(int iRecurso, int iIndice) {
    if (iIndice < 0) return -1;
    const int e = iIndice / 4, k = iIndice % 4;
    return k < 2 ? oCgest.EscribeActivoTx(iRecurso, e, k) : oCgest.EscribeActivoRx(iRecurso, e, k - 2);
}

// ---- Configuration -----------------------------------------------------------------------------

void CColateral::GuardaCfg() {
    if (psConfig->iTipoIf != TIPOIF_RADIO) return;
    const cfgParamRadio& r = psConfig->uParam.radio;
    if (r.iTipoRadio == 2 || r.iTipoRadio == 3) iColateralCfgA = r.iClimaxDelay;
    iColateralCfgB = r.iMetodoBss;
}

void CColateral::TomaCfg() {
    cfgCerrojo c(&poCfg->tMutex);
    iCambioCfgColateral = 0;
    GuardaCfg();
}

void CColateral::CompruebaCambioCfg() {
    cfgCerrojo c(&poCfg->tMutex);
    if (psConfig->iTipoIf == TIPOIF_RADIO) {
        const cfgParamRadio& r = psConfig->uParam.radio;
        if (r.iTipoRadio == 2 || r.iTipoRadio == 3)
            iCambioCfgColateral = (r.iClimaxDelay != iColateralCfgA || r.iMetodoBss != iColateralCfgB) ? 1 : 0;
    }
    GuardaCfg();
}

// A when the switch-over state file says nothing.
void CColateral::CargaEqActivo() {
    int tipoIf, tipoRadio;
    {
        cfgCerrojo c(&poCfg->tMutex);
        tipoIf = psConfig->iTipoIf;
        // The type part is a union: its radio words mean something on radio records only.
        tipoRadio = tipoIf == TIPOIF_RADIO ? psConfig->uParam.radio.iTipoRadio : -1;
    }
    if (tipoRadio != 1 && tipoRadio != 3) return;
    for (int e = 0; e < 3; ++e) {
        aucEqActivoTXRX[2 * e] = EquipoActivo(iRecurso, 4 * e + 1) ? 1 : 0;
        aucEqActivoTXRX[2 * e + 1] = EquipoActivo(iRecurso, 4 * e + 3) ? 1 : 0;
    }
}

// ---- Calls and supervision ---------------------------------------------------------------------

int CColateral::IniciaLlamadaColateral(int idllam, int iIndice, int iReposo) {
    const int n = iRecurso;
    const DatosColateral d = LeeDatos(poCfg, psConfig);
    DatosLlamadaGestor pl;
    std::memset(&pl, 0, sizeof pl);
    char destino[81] = {};
    char idUsuario[81] = {};
    if (ModoSistemaLocal != 0) {
        if (!Arrancado() || DameDestino(iIndice, &pl) != 0) return -1;
        CopiaCampo(destino, pl.NumDestino, 80);
        if (EsUriSip(destino) != 0) destino[0] = '\0';
    } else if (DameIdUsuario(idUsuario, sizeof idUsuario, iIndice) == 0) {
        CopiaCampo(destino, idUsuario, 80);
    }
    if (destino[0] == '\0') return -1;
    if (InfoSesion* e = oSesiones.BuscaPorLlamadaYDestino(idllam, destino)) return e->cid;
    InfoSesion* s;
    {
        cfgCerrojo l(oSesiones.Mutex());
        s = oSesiones.Asigna();
    }
    if (s == nullptr) return -1;
    CopiaCampo(pl.UsuOrigen, d.acNombre, 80);
    if (ModoSistemaLocal == 0) CopiaCampo(pl.UsuDestino, idUsuario, 80);
    uint8_t prio;
    switch (d.iTipoIf) {
    case TIPOIF_LCEN:
        NLOG::Log(NLOG::INFO, "IniciaLlamadaColateral: tipo LCEN");
        prio = 2;
        pl.tipo = 1;
        break;
    case TIPOIF_DATOS:
        prio = 2;
        pl.tipo = 4;
        break;
    case TIPOIF_RADIO:
        prio = d.iSessionPrio >= 1 && d.iSessionPrio <= 4 ? static_cast<uint8_t>(d.iSessionPrio) : 3;
        pl.tipo = 3;
        s->iTipoSipMapeado = pl.iTipoSesionRadio == 1 ? 2 : 1;
        s->iIndiceColateral = iIndice;
        if (iReposo == 1) {
            pl.iTipoSesionRadio = 3;
            s->iReposo = 1;
        } else {
            s->iReposo = 0;
        }
        if (d.acFid[0] != '\0') CopiaCampo(pl.Fid, d.acFid, 63);
        break;
    default:
        prio = 3;
        pl.tipo = 2;
        break;
    }
    CopiaCampo(s->acDestino, destino, 80);
    s->ucPrioridad = prio;
    pl.ucPrioridad = prio;
    if (ModoSistemaLocal == 1) pl.UsuOrigen[0] = pl.UsuDestino[0] = '\0';
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:IniciaLlamadaColateral", n);
    const int cid = oSup.ColocaLlamada(&pl, s, idllam);
    if (cid < 0) oSup.LiberaInfoSesion(s);
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:Encamina llamada a %s cid=%i", n, destino, cid);
    return cid;
}

void CColateral::SupervisaColateralDatRadPP(int idllam) {
    const int n = iRecurso;
    if (oSup.EnReserva()) return;
    auto CierraTodas = [&](bool bLog) {
        for (InfoSesion* s = oSesiones.BuscaSiguientePorIdLlamada(nullptr, idllam); s;
             s = oSesiones.BuscaSiguientePorIdLlamada(s, idllam)) {
            if (s->cid == -1) continue;
            if (bLog) NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:SupervisaColateralDatRadPP: EST_FUERA_DE_SERVICIO", n);
            oSup.CierraSesionCompleta(s, 0);
        }
    };
    if (!Arrancado() || EsValido() == 0 || iReconfigurarColaterales == 1 || iCambioCfgColateral == 1) {
        iReconfigurarColaterales = 0;
        iCambioCfgColateral = 0;
        CierraTodas(false);
        return;
    }
    if (oSup.DameEstadoRecurso() == 10) {
        CierraTodas(true);
        return;
    }
    const DatosColateral d = LeeDatos(poCfg, psConfig);
    if (d.iTipoRadio >= 4 && d.iTipoRadio <= 6) return;
    bool buclePendiente = false;
    if (idllam == -2 && iModoMantenimiento == 1) {
        std::lock_guard<std::mutex> l(tMutexColateral);
        buclePendiente = iBuclePendiente != 0;
    }
    const int objetivos = d.iTipoIf == TIPOIF_RADIO && (d.iTipoRadio == 0 || d.iTipoRadio == 1) ? 4 : 12;
    for (int i = 0; i < objetivos; ++i) {
        const bool activo = idllam == -2 && ObjetivoActivo(i);
        const int reposo = idllam == -2 && !activo ? 1 : 0;
        const int cid = IniciaLlamadaColateral(idllam, i, reposo);
        if (idllam != -2) break;
        if (cid < 0) continue;
        InfoSesion* s = oSesiones.BuscaPorColateral(i);
        if (s == nullptr || s->idsesion < 0) continue;
        DireccionSesion ds;
        oSup.LlenaDireccionSesion(s, &ds);
        if (activo && s->iReposo == 1) {
            const int tipo = s->iTipoSipMapeado == 2 ? 1 : 0;
            if (oSup.PasaGus()->CambiaTipoSesion(oSup.DameIdUsuarioSip(), s->cid, tipo, s->ucPrioridad) == 0) s->iReposo = 0;
            ds.iStandby = 0;
            std::shared_ptr<Cola> canal = oSup.CanalHijo();
            if (!canal || canal->EnviaModificaSesion(s->idsesion, &ds) < 0)
                NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]:Error envio ModificaSesion", n);
            MarcaCambioEmplazamiento(i);
            FijaEquipoActivoColateral(i);
        } else if (!activo && s->iReposo != 1) {
            if (oSup.PasaGus()->CambiaTipoSesion(oSup.DameIdUsuarioSip(), s->cid, 3, s->ucPrioridad) == 0) s->iReposo = 1;
            ds.iStandby = 1;
            std::shared_ptr<Cola> canal = oSup.CanalHijo();
            if (!canal || canal->EnviaModificaSesion(s->idsesion, &ds) < 0)
                NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]:Error envio ModificaSesion", n);
            MarcaCambioEmplazamiento(i);
        }
    }
    if (idllam == -2 && iModoMantenimiento == 1 && buclePendiente) {
        // A loop test that no guard would end is not started: it stays pending for the next pass.
        const int32_t guarda = oSup.ArmaGuarda(TICKS_BUCLE, GUARDA_BUCLE, 0);
        if (guarda < 0) return;
        int valor;
        {
            std::lock_guard<std::mutex> l(tMutexColateral);
            iBuclePendiente = 0;
            valor = iTipoBucle == 2 ? iTipoBucle * 16 + iEmplazamientoBucle : iTipoBucle;
        }
        oSup.EnviaCodigoDebug(15, static_cast<uint8_t>(valor));
        std::printf("             ---------------------          BUCLE = %i\n", valor);
        iTempBucle = guarda;
    }
}

void CColateral::SupervisaColateralTipo() {
    const int t = LeeDatos(poCfg, psConfig).iTipoIf;
    if (t == TIPOIF_RADIO || t == TIPOIF_DATOS)
        SupervisaColateralDatRadPP(-2);
    else if (t == TIPOIF_BL)
        SupervisaColateralDatRadPP(-3);
}

void CColateral::EnviaOptionsColateral() {
    const DatosColateral d = LeeDatos(poCfg, psConfig);
    int tipo;
    switch (d.iTipoIf) {
    case TIPOIF_ATSR2: tipo = 2; break;
    case TIPOIF_ATSN5: tipo = 3; break;
    case TIPOIF_LCEN: tipo = 4; break;
    default: return;
    }
    if (d.acUriRemota[0] == '\0' || d.acUriLocal[0] == '\0') return;
    // An earlier probe still unanswered keeps its guard: re-arming it at every probe would
    // never let it expire while the period is shorter than the guard. A probe that no guard
    // would time out is not sent.
    if (__atomic_load_n(&aiColateralTemp[0], __ATOMIC_ACQUIRE) < 0) {
        aiColateralTemp[0] = oSup.ArmaGuarda(TICKS_RESPUESTA, GUARDA_OPTIONS, 0);
        if (aiColateralTemp[0] < 0) return;
    }
    oSup.PasaGus()->EnviaOptions(d.acUriLocal, d.acUriRemota, tipo);
}

void CColateral::RespuestaOptions() {
    oSup.CancelaGuarda(&aiColateralTemp[0]);
    if (iEstadoColateral == 1) return;
    const DatosColateral d = LeeDatos(poCfg, psConfig);
    {
        std::lock_guard<std::mutex> l(tMutexColateral);
        iEstadoColateral = 1;
    }
    const int t = d.iTmSupervOptions > 0 ? d.iTmSupervOptions : 5;
    oSup.FijaPeriodoOptions(static_cast<uint32_t>(t) * 1000000u);
    iCambioColateral = 1;
    EnviaEstadoColateral();
    oSup.Sumidero().EvtSupervisionOptions(iRecurso, 255, d.acUriRemota);
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Supervision Options OK", iRecurso);
}

void CColateral::VenceOptions() {
    if (__atomic_exchange_n(&aiColateralTemp[0], -1, __ATOMIC_ACQ_REL) < 0) return;
    if (iEstadoColateral == 0) return;
    {
        std::lock_guard<std::mutex> l(tMutexColateral);
        iEstadoColateral = 0;
    }
    oSup.FijaPeriodoOptions(5000000);
    iCambioColateral = 1;
    for (auto& s : oSesiones)
        if (s.cid >= 0) oSup.CierraSesionCompleta(&s, 0);
    EnviaEstadoColateral();
    oSup.Sumidero().EvtSupervisionOptions(iRecurso, 0, LeeDatos(poCfg, psConfig).acUriRemota);
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Supervision Options NOOK", iRecurso);
}

void CColateral::EnviaEstadoColateral() {
    const int t = LeeDatos(poCfg, psConfig).iTipoIf;
    if (oSup.HijoConfigurado() != 1 || (t != TIPOIF_ATSR2 && t != TIPOIF_ATSN5 && t != TIPOIF_LCEN)) return;
    oSup.EnviaCodigoDebug(13, static_cast<uint8_t>(iEstadoColateral & 0xFF));
}

void CColateral::TomaModoRadio(int iModo) {
    const int n = iRecurso;
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Cambia modo Radio (%i)", n, iModo);
    const DatosColateral d = LeeDatos(poCfg, psConfig);
    if (d.iTipoIf != TIPOIF_RADIO) return;
    {
        std::lock_guard<std::mutex> l(tMutexColateral);
        if (iModo == 0 && iModoMantenimiento == 1 && (iBuclePendiente || iTempBucle != -1)) {
            NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: NO Cambia modo Radio Normal. Bucle activo ", n);
            return;
        }
        if (iModo == 1 && d.iNumPaquetesSqOff == 1) {
            NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: NO Cambia modo Radio Mant. Squelch forzado", n);
            return;
        }
        iModoMantenimiento = iModo;
        iTipoBucle = iEmplazamientoBucle = iBuclePendiente = 0;
    }
    oSup.CancelaGuarda(&iTempBucle);
    oSup.EnviaCodigoDebug(14, static_cast<uint8_t>(iModo));
}

void CColateral::ActivaBucleRadio(int iTipo, int iEmplazamiento) {
    const int n = iRecurso;
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: ActivaBucleRadio (%i, %i)", n, iTipo, iEmplazamiento);
    const DatosColateral d = LeeDatos(poCfg, psConfig);
    if (d.iTipoIf != TIPOIF_RADIO || d.iNumPaquetesSqOff == 1) return;
    if (iModoMantenimiento != 1) {
        NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: ActivaBucleRadio: canal no esta en modo manten ", n);
        return;
    }
    if (iTipo == 0) {
        {
            std::lock_guard<std::mutex> l(tMutexColateral);
            iTipoBucle = iEmplazamientoBucle = iBuclePendiente = 0;
        }
        oSup.CancelaGuarda(&iTempBucle);
        return;
    }
    std::lock_guard<std::mutex> l(tMutexColateral);
    if (iBuclePendiente || iTempBucle != -1) {
        NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: ActivaBucleRadio: bucle en proceso", n);
        return;
    }
    iTipoBucle = iTipo;
    iEmplazamientoBucle = iTipo == 1 ? 0 : iEmplazamiento;
    iBuclePendiente = 1;
}

void CColateral::VenceBucle() {
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:Vence Respuesta bucle ", iRecurso);
    if (LeeDatos(poCfg, psConfig).iTipoIf == TIPOIF_RADIO && iModoMantenimiento == 1 && iTempBucle != -1) {
        std::lock_guard<std::mutex> l(tMutexColateral);
        iTipoBucle = iEmplazamientoBucle = iBuclePendiente = 0;
        iTempBucle = -1;
    }
}

void CColateral::FinBucle() {
    if (iModoMantenimiento != 1) return;
    std::lock_guard<std::mutex> l(tMutexColateral);
    iTipoBucle = iEmplazamientoBucle = iBuclePendiente = 0;
    oSup.CancelaGuarda(&iTempBucle);
}

// ---- Equipment and emplacement states ----------------------------------------------------------

bool CColateral::EsEquipoActivo(int i) {
    const int e = i / 4, j = i % 4;
    if (i < 0 || e > 2) return false;
    return j < 2 ? aucEqActivoTXRX[2 * e] == j : aucEqActivoTXRX[2 * e + 1] == j - 2;
}

void CColateral::FijaEquipoActivoColateral(int i) {
    const int e = i / 4, j = i % 4;
    if (i < 0 || e > 2) return;
    if (j < 2)
        aucEqActivoTXRX[2 * e] = static_cast<uint8_t>(j);
    else
        aucEqActivoTXRX[2 * e + 1] = static_cast<uint8_t>(j - 2);
}

int CColateral::EstadoParejaReposo(int i) {
    const DatosColateral d = LeeDatos(poCfg, psConfig);
    if (d.iTipoRadio == 0 || d.iTipoRadio == 2) return -1;
    const int j = i % 4;
    const int pareja = (j == 0 || j == 2) ? i + 1 : i - 1;
    InfoSesion* s = oSesiones.BuscaPorColateral(pareja);
    if (s == nullptr || s->idsesion < 0) return -1;
    return s->iReposo == 1 ? 1 : 0;
}

bool CColateral::ObjetivoActivo(int i) {
    const DatosColateral d = LeeDatos(poCfg, psConfig);
    if (iModoMantenimiento == 1 && (iTipoBucle == 0 || iEmplazamientoBucle != i / 4)) return false;
    return d.iTipoRadio == 0 || d.iTipoRadio == 2 || EsEquipoActivo(i) || EstadoParejaReposo(i) == -1;
}

int CColateral::DameEstadoEmplazamiento(int e, int* txa, int* rxa, int* txb, int* rxb) {
    if (!Arrancado()) {
        *txa = *rxa = *txb = *rxb = NO_CONFIGURADO;
        return -1;
    }
    const int r = DameEstadoUris(e, txa, rxa, txb, rxb);
    int* estados[4] = {txa, txb, rxa, rxb};
    for (int k = 0; k < 4; ++k) {
        if (*estados[k] != SIN_SESION) continue;
        InfoSesion* s = oSesiones.BuscaPorColateral(e * 4 + k);
        if (s && s->idsesion >= 0) *estados[k] = s->iReposo == 1 ? REPOSO : ACTIVO;
    }
    return r;
}

int CColateral::FijaEquipoActivoEmplazamiento(int e, int iSentido, int iEquipo) {
    const uint8_t* a = aucEqActivoTXRX;
    std::printf("aucEqActivoTXRX = %i %i %i %i %i %i \n", a[0], a[1], a[2], a[3], a[4], a[5]);
    if (e < 0 || e >= 3 || iSentido < 0 || iSentido >= 2 || (iEquipo != 0 && iEquipo != 1)) return -1;
    int txa, rxa, txb, rxb;
    DameEstadoEmplazamiento(e, &txa, &rxa, &txb, &rxb);
    const int estado = iSentido == 0 ? (iEquipo == 0 ? txa : txb) : (iEquipo == 0 ? rxa : rxb);
    if (estado == SIN_SESION || estado == NO_CONFIGURADO) return -2;
    aucEqActivoTXRX[2 * e + iSentido] = static_cast<uint8_t>(iEquipo);
    std::printf("1- aucEqActivoTXRX = %i %i %i %i %i %i \n", a[0], a[1], a[2], a[3], a[4], a[5]);
    MarcaCambioEmplazamiento(e * 4);
    return 0;
}

void CColateral::MarcaCambioEmplazamiento(int i) {
    if (i < 0) return;
    if (i >= 17) {
        aiCambioEmplazamiento[0] = aiCambioEmplazamiento[1] = aiCambioEmplazamiento[2] = 1;
        return;
    }
    if (i / 4 < 3) aiCambioEmplazamiento[i / 4] = 1;
}

int CColateral::HaySesiones() {
    for (const auto& s : oSesiones)
        if (s.idsesion >= 0) return 1;
    return 0;
}

// ---- Publication ------------------------------------------------------------------------------

void CColateral::PublicaColaterales() {
    const DatosColateral d = LeeDatos(poCfg, psConfig);
    if (d.iTipoIf == TIPOIF_RADIO && d.iTipoRadio >= 0 && d.iTipoRadio <= 3) {
        for (int e = 0; e < 3; ++e) {
            if (!aiCambioEmplazamiento[e] && !iCambioColateral) continue;
            PublicaEmplazamiento(e);
            aiCambioEmplazamiento[e] = 0;
        }
        iCambioColateral = 0;
    } else if (d.iTipoIf == TIPOIF_RADIO) {
        const int hay = HaySesiones();
        if (hay != iHaySesiones) {
            iHaySesiones = hay;
            iCambioColateral = 1;
        }
        if (aiCambioEmplazamiento[0] || iCambioColateral) {
            PublicaSesiones();
            aiCambioEmplazamiento[0] = iCambioColateral = 0;
        }
    } else if (iCambioColateral.exchange(0)) {
        PublicaEstadoRadio();
    }
}

void CColateral::PublicaEmplazamiento(int e) {
    int est[4];  // TX A, RX A, TX B, RX B
    if (DameEstadoEmplazamiento(e, &est[0], &est[1], &est[2], &est[3]) < 0) return;
    oSup.Sumidero().EvtPublicaEmplazamiento(iRecurso, LeeDatos(poCfg, psConfig).acNombre, e, est, aucEqActivoTXRX[2 * e] == 0 ? 1 : 2,
                                       aucEqActivoTXRX[2 * e + 1] == 0 ? 1 : 2);
}

void CColateral::PublicaSesiones() {
    CEventosRecurso::SesionPublicada as[4];
    for (auto& g : as) g = {9, 0, ""};
    int n = 0;
    {
        // The SIP thread and the child's channel free records meanwhile.
        cfgCerrojo l(oSesiones.Mutex());
        for (const auto& s : oSesiones) {
            if (s.idsesion < 0 || n == 4) continue;
            as[n].iActivo = s.iReposo == 1 ? 0 : 1;
            as[n].iPrioridad = s.ucPrioridad;
            CopiaCampo(as[n].acUri, s.Origen, 80);
            ++n;
        }
    }
    oSup.Sumidero().EvtPublicaSesiones(iRecurso, LeeDatos(poCfg, psConfig).acNombre, as);
}

void CColateral::PublicaEstadoRadio() {
    const DatosColateral d = LeeDatos(poCfg, psConfig);
    int estado;
    if (oSup.EstadoPublicado() == 10)
        estado = 2;
    else if (d.iTipoIf != TIPOIF_BC)
        estado = 1;
    else
        estado = iEstadoColateral ? 4 : 3;
    int superv;
    if (d.iTipoIf != TIPOIF_ATSR2 && d.iTipoIf != TIPOIF_ATSN5 && d.iTipoIf != TIPOIF_LCEN)
        superv = 9;
    else if (d.iSupervOptions == 0)
        superv = 0;
    else
        superv = iEstadoColateral ? 1 : 2;
    int tipo = 0;
    char uri[sizeof InfoSesion::Origen] = "";
    int vistas = 0;
    {
        // The SIP thread and the child's channel free records meanwhile: the URI is copied out.
        cfgCerrojo l(oSesiones.Mutex());
        for (const auto& s : oSesiones) {
            if (s.idsesion < 0) continue;
            const bool entrante = s.iTipoSesion == 1;
            CopiaCampo(uri, entrante ? s.Origen : s.acDestino, sizeof uri - 1);
            tipo = entrante ? 4 : 3;
            // A hot line shows one session as it is; a second one, or any on other lines, as busy.
            if (d.iTipoIf != TIPOIF_LCEN || ++vistas == 2) {
                tipo = 1;
                break;
            }
        }
    }
    oSup.Sumidero().EvtPublicaEstado(iRecurso, d.acNombre, estado, tipo, superv, uri);
}

// ---- Helpers -----------------------------------------------------------------------------------

int CColateral::DameIdUsuario(char* szSalida, size_t uiTam, int iIndice) {
    CCONFIG* c = poCfg;
    if (c == nullptr || psConfig == nullptr || szSalida == nullptr || uiTam == 0 || iIndice < 0) return -1;
    char texto[81] = {};
    int tipoIf;
    {
        cfgCerrojo l(&c->tMutex);
        tipoIf = psConfig->iTipoIf;
        if (tipoIf == TIPOIF_AB) {
            if (iIndice >= CFG_NUM_ASIGNACIONES_USUARIO) return -1;
            const AsignacionUsuario& a = c->asAsignacionUsuarios[iIndice];
            char nombre[65] = {};
            std::memcpy(nombre, a.idusuario, sizeof a.idusuario);
            if (nombre[0] == '\0' || std::strcmp(nombre, "NO_NAME") == 0) return -1;
            CopiaCampo(texto, nombre, 64);
        } else {
            const int num = psConfig->size_aListaEnlacesExternos;
            if (iIndice >= num || iIndice >= CFG_MAX_ENLACES_EXTERNOS) return -1;
            if (psConfig->aListaEnlacesExternos[iIndice][0] == '\0') return -1;
            CopiaCampo(texto, psConfig->aListaEnlacesExternos[iIndice], 64);
        }
    }
    if (std::strlen(texto) >= uiTam) return -1;
    std::memcpy(szSalida, texto, std::strlen(texto) + 1);
    TcpCons::Traza(MASCARA_TRAZA_RECURSOS,
                   tipoIf == TIPOIF_AB ? "CSUPEREC[%d]: Next USU RTB = %s\n" : "CSUPEREC[%d]: variable idusu = %s\n",
                   iRecurso, szSalida);
    return 0;
}

int CColateral::DameUriPropia(char* szSalida, size_t uiTam, const char* szNumero) {
    const uint32_t ip = DameIpPropia("eth0");
    if (ip == 0 || szSalida == nullptr) return -1;
    CDireccionIp d;
    d.TomaValor(ip);
    const int r = std::snprintf(szSalida, uiTam, "sip:%s@%s", szNumero ? szNumero : "", d.texto);
    return r < 0 || static_cast<size_t>(r) >= uiTam ? -1 : 0;
}

namespace {
// From p up to the first character of szFin (or the end), at most n characters, ended.
void CopiaParteUri(const char* p, const char* szFin, size_t n, char* szSalida) {
    std::snprintf(szSalida, n + 1, "%.*s", static_cast<int>(std::min(std::strcspn(p, szFin), n)), p);
}
}  // namespace

int CColateral::SacaUsuarioUri(const char* szUri, char* szSalida) {
    if (szUri == nullptr || szSalida == nullptr) return -1;
    const char* p = std::strstr(szUri, "sip:");
    CopiaParteUri(p ? p + 4 : szUri, "@", LON_PARTE_URI, szSalida);
    return 0;
}

int CColateral::SacaDominioUri(const char* szUri, char* szSalida) {
    if (szUri == nullptr || szSalida == nullptr) return -1;
    const char* p = std::strchr(szUri, '@');
    CopiaParteUri(p ? p + 1 : szUri, ">", LON_PARTE_URI, szSalida);
    return 0;
}
