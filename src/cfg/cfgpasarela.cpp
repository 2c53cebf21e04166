// Gateway configuration structure: defaults, setters and plan look-ups.
#include "cfg/cfgpasarela.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "comun/gestormutex.h"
#include "comun/nlog.h"

std::atomic<int> ModoSistemaLocal{0};

namespace {

// Defaults of the implementer's choice: the board's own documentation address.
const char* const kNombreDefecto = "PASARELA-01";
const char* const kDirDefecto = "192.0.2.23";
const char* const kDirSrvConfigDefecto = "192.0.2.1";
const char* const kUriDefecto = "sip:RD-01@192.0.2.23";

const int32_t kTiemposR2N5[50] = {125,  150,  175, 40,  200,  40,  200,  40,  200,  40,
                                  200,  30,   12000, 40, 200,  40,  200,  330, 400,  470,
                                  500,  2050, 2600, 3150, 100, 300,  350,  400, 40,   200,
                                  40,   200,  40,   200, 40,  200,  30,   12000, 40,  200,
                                  40,   200,  1100, 1300, 1500, 500, 3830, 4800, 5770, 100};

template <std::size_t N>
void Texto(char (&campo)[N], const char* valor) {
    std::snprintf(campo, N, "%s", valor);
}

void CopiaNoTest(char* destino, const char* no_test) {
    std::memcpy(destino, no_test, 6);
    destino[6] = '\0';
}


}  // namespace

// ---- Record ----------------------------------------------------------------------------------

void cfgDefectoGeneralRecurso(cfgConfigRecurso* r) {
    Texto(r->nombre, "RD-01");
    r->iTipo = 2;
    r->iTipoIf = TIPOIF_RADIO;
    r->iSlot = 0;
    r->iDispositivo = 0;
    Texto(r->szDestino, "F-1");
    Texto(r->szUriLocal, kUriDefecto);
    r->iLLamadaAutomatica = 1;
}

void cfgDefectoAudio(cfgConfigRecurso* r) {
    r->iSelGananciaAgcTx = 0;
    r->iGananciaAgcTx = 0;
    r->iSelGananciaAgcRx = 0;
    r->iGananciaAgcRx = 0;
    r->iHaySupresionSilencio = 0;
    r->iTamanoRtp = 20;
    r->iCodecPreferido = 0;
}

void cfgDefectoParteTipo(cfgConfigRecurso* r, int iTipoIf) {
    // Types with a part of their own start it clean (another type's bytes mean nothing there).
    const bool bConParte = (iTipoIf >= TIPOIF_RADIO && iTipoIf <= TIPOIF_ATSN5) || iTipoIf == TIPOIF_EYM_PP ||
                           iTipoIf == TIPOIF_EYM_MARC;
    if (bConParte) std::memset(&r->uParam, 0, sizeof r->uParam);
    switch (iTipoIf) {
    case TIPOIF_RADIO: {
        cfgParamRadio& p = r->uParam.radio;
        p.cTipoPtt = 'h';
        p.cTipoSq = 'h';
        p.iUmbralDetSq = -10;
        p.iNivelTonoPtt = -10;
        p.iNtz = -1;
        p.TiempoMaxPtt = 120;
        p.iPeriodoRtpSqBss = 1;
        p.iPttTimeOut = 200;
        p.iNumFlujosMezcla = 1;
        p.KeepAlivePeriod = 200;
        p.KeepAliveMultiplier = 10;
        p.iTiempoPttBloqueado = 2000;
        p.iClimaxDelay = 1;
        p.cTipoConmutacion = 'M';
        for (cfgEmplazamiento& e : p.asEmplazamiento) e.ActivoTx = e.ActivoRx = 'A';
        break;
    }
    case TIPOIF_LCEN: {
        cfgParamLcen& p = r->uParam.lcen;
        p = cfgParamLcen{-35, -18, 200, 600, 6,   20,   100,  20, 100, 40, 40,  160, 60,
                         100, 5000, 6000, 80, 150, 40, 60, 20, 130, 20, 130, 200, 0};
        break;
    }
    case TIPOIF_BC: case TIPOIF_BL: case TIPOIF_AB: case TIPOIF_EYM_PP: case TIPOIF_EYM_MARC: {
        cfgParamTlf& p = r->uParam.tlf;
        p.iPeriodoRing = 50;
        p.iUmbralAltoPeriodoRing = 14;
        p.iUmbralBajoPeriodoRing = 63;
        p.iVRing = 71300;
        p.iVBat = 50000;
        break;
    }
    case TIPOIF_ATSR2: case TIPOIF_ATSN5: {
        cfgParamR2N5& p = r->uParam.r2n5;
        std::memcpy(p.aiTiempos, kTiemposR2N5, sizeof p.aiTiempos);
        if (ModoSistemaLocal != 1) {
            Texto(p.szIdTroncal, "id.desconocido.troncal.rk82");
            Texto(p.szIdRed, "id.desconocido.red.rk82");
        }
        break;
    }
    case TIPOIF_ATSQSIG: case TIPOIF_2BD: case TIPOIF_30BD:
        r->uParam.qsig.aiParam[0] = r->uParam.qsig.aiParam[1] = 0;
        break;
    default:  // 10-12: nothing
        break;
    }
}

void cfgDefectoRecurso(cfgConfigRecurso* r) {
    cfgDefectoGeneralRecurso(r);
    cfgDefectoAudio(r);
    cfgDefectoParteTipo(r, TIPOIF_RADIO);
}

cfgConfigRecurso::cfgConfigRecurso() {
    std::memset(static_cast<void*>(this), 0, sizeof *this);
    cfgDefectoRecurso(this);
}

void cfgConfigRecurso::PonTipo(int iValor) {
    int iNuevo = (iValor >= 1 && iValor <= 6) ? iValor : 0;
    if (iNuevo == iTipo) return;
    iTipo = iNuevo;
    if (iTipo <= 3) {
        cfgDefectoAudio(this);
    } else {
        iSelGananciaAgcTx = 64000;  // data rate
    }
}

void cfgConfigRecurso::PonTipoIf(int iValor) {
    int iNuevo = (iValor >= 1 && iValor <= 16) ? iValor : 0;
    if (iNuevo == iTipoIf) return;
    iTipoIf = iNuevo;
    if (iTipoIf < 15) cfgDefectoParteTipo(this, iTipoIf);
}

void cfgConfigRecurso::PonSlot(int iValor) { iSlot = (iValor >= 0 && iValor <= 3) ? iValor : -1; }

void cfgConfigRecurso::PonDispositivo(int iValor) {
    iDispositivo = (iValor >= 0 && iValor <= 3) ? iValor : -1;
}

void cfgConfigRecurso::PonTipoPtt(char c) {
    uParam.radio.cTipoPtt = (c == 'h' || c == 's' || c == 'm') ? c : 'h';
}

void cfgConfigRecurso::PonTipoSq(char c) {
    uParam.radio.cTipoSq = (c == 'h' || c == 't' || c == 'v') ? c : 'h';
}

void cfgConfigRecurso::PonModoConfPtt(int iValor) {
    uParam.radio.iModoConfPtt = (iValor >= 0 && iValor <= 2) ? iValor : 0;
}

void cfgConfigRecurso::PonNumFlujosMezcla(int iValor) {
    uParam.radio.iNumFlujosMezcla = (iValor >= 2 && iValor <= 7) ? iValor : 1;
}

// ---- Positions -------------------------------------------------------------------------------

int cfgNumCanales(const cfgImagenPasarela* p) {
    if (p->iNumRecursos < 0) return 0;
    return p->iNumRecursos > CFG_NUM_RECURSOS ? CFG_NUM_RECURSOS : p->iNumRecursos;
}

int cfgPosicionCanal(const cfgImagenPasarela* p, int iCanal) {
    if (iCanal < 0 || iCanal >= CFG_NUM_RECURSOS) return -1;
    const cfgLocalizador& l = p->LocalizadorRecurso[iCanal];
    if (l.iSlot < 0 || l.iSlot > 3 || l.iDispositivo < 0 || l.iDispositivo > 3) {
        NLOG::Log(NLOG::ERROR, "CFG: canal %d fuera de rango (slot %d dispositivo %d), ignorado", iCanal,
                  l.iSlot, l.iDispositivo);
        return -1;
    }
    return l.iSlot * 4 + l.iDispositivo;
}

void cfgMarcaPosiciones(const cfgImagenPasarela* p, uint8_t aucFlg[CFG_NUM_RECURSOS]) {
    std::memset(aucFlg, 0, CFG_NUM_RECURSOS);
    int n = cfgNumCanales(p);
    if (n != p->iNumRecursos)
        NLOG::Log(NLOG::ERROR, "CFG: iNumRecursos %d fuera de rango, se toman %d", p->iNumRecursos, n);
    for (int i = 0; i < n; i++) {
        int iPos = cfgPosicionCanal(p, i);
        if (iPos >= 0) aucFlg[iPos] = 1;
    }
}

int cfgModoSistemaDe(const cfgImagenPasarela* p) {
    return (p->iCfgModoSistema == 0 || p->iCfgModoSistema == 1) ? p->iCfgModoSistema : 0;
}

// ---- Live structure --------------------------------------------------------------------------

cfgConfigPasarela::cfgConfigPasarela() {
    cfgImagenPasarela* pImg = this;
    std::memset(static_cast<void*>(pImg), 0, sizeof *pImg);
    for (cfgConfigRecurso& r : asRecursos) cfgDefectoRecurso(&r);
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    CreaMutex("cfgConfigPasarela:::tMutex", &tMutex, &attr);
    pthread_mutexattr_destroy(&attr);
    ModoSistemaLocal = cfgModoSistemaDe(this);
    PonDefecto(0);
}

cfgConfigPasarela::~cfgConfigPasarela() { DestruyeMutex(&tMutex); }

void cfgConfigPasarela::PonDefecto(int soloIds) {
    if (soloIds == 0) {
        Texto(acIdSistema, "Departamento");
        Texto(szNombre, kNombreDefecto);
        Texto(szDirCPU0, kDirDefecto);
        Texto(szDirVirtual, kDirDefecto);
        Texto(szDirSrvConfig, kDirSrvConfigDefecto);
        iNivelConsola = 65535;
        iPuertoConsola = 19710;
        iNivelIncidencias = 1;
        iDual = 1;
    }
    Texto(acIdConfig, "ID CFG desconocido");
    iNumRecursos = 1;
    iModoSincronizacion = 2;
    iSipPuertoLocal = 5060;
    iSipPeriodoSuperv = 0;
    asPlanAts[0].centralpropia = CFG_FIN_PLAN_ATS;
    asDireccionamientoIp[0].idhost[0] = '\0';
    asTroncales[0].idtroncal[0] = '\0';
    asRedes[0].prefijo = CFG_FIN_PLAN_REDES;
    asAsignacionUsuarios[0].idusuario[0] = '\0';
    asAsignacionRecursos[0].idrecurso[0] = '\0';
    asDireccionamientoSip[0].idusuario[0] = '\0';
}

void cfgConfigPasarela::CopiaDirVirtual(char* pDestino) const {
    if (pDestino == nullptr) return;
    std::size_t n = strnlen(szDirVirtual, 64);
    std::memcpy(pDestino, szDirVirtual, n);
    pDestino[n] = '\0';
}

void cfgConfigPasarela::PonNombre(const char* pNombre) {
    std::strncpy(szNombre, pNombre, 64);
    szNombre[sizeof szNombre - 1] = '\0';
}

void cfgConfigPasarela::PonModoSincronizacion(int iModo) {
    iModoSincronizacion = (iModo >= 1 && iModo <= 3) ? iModo : 0;
}

int cfgConfigPasarela::BuscaRecurso(const char* pNombre) const {
    for (int i = 0; i < CFG_NUM_RECURSOS; i++)
        if (std::strncmp(asRecursos[i].nombre, pNombre, 66) == 0) return i;
    return -1;
}

// ---- Plan look-ups ---------------------------------------------------------------------------

namespace {

// A stored identifier (field of 64) equal to a caller's text: same length, 64 characters.
bool EsIdentificador(const char* campo, const char* id) {
    std::size_t l = strnlen(campo, 64);
    return l == std::strlen(id) && std::memcmp(campo, id, l) == 0;
}

// First trunk (up to the end of the plan) that has the member; its identifier goes to pId,
// terminated, since the stored one may fill its field.
int BuscaTroncalMiembro(const cfgImagenPasarela* p, const char* pMiembro, char (&pId)[65]) {
    for (int t = 0; t < CFG_NUM_TRONCALES && p->asTroncales[t].idtroncal[0] != '\0'; t++) {
        if (cfgTroncalContiene(&p->asTroncales[t], pMiembro)) {
            std::size_t n = strnlen(p->asTroncales[t].idtroncal, 64);
            std::memcpy(pId, p->asTroncales[t].idtroncal, n);
            pId[n] = '\0';
            return t;
        }
    }
    return -1;
}

void ConvierteRangos(const Central& c, cfgParRango* pOpe, int* piNumOpe, cfgParRango* pPriv, int* piNumPriv) {
    for (int i = 0; i < *piNumOpe; i++) cfgLeeRango(&c.asRangosOpe[i], &pOpe[i]);
    for (int i = 0; i < *piNumPriv; i++) cfgLeeRango(&c.asRangosPriv[i], &pPriv[i]);
}

}  // namespace

int cfgRutaContiene(const Ruta* pRuta, const char* pId) {
    for (const auto& t : pRuta->troncales)
        if (EsIdentificador(t, pId)) return 1;
    return 0;
}

int cfgCentralTieneTroncal(const Central* pCentral, const char* pIdTroncal) {
    for (int r = 0; r < 32 && pCentral->asRutas[r].tipo != CFG_FIN_RUTAS; r++)
        if (pCentral->asRutas[r].tipo == 0 && cfgRutaContiene(&pCentral->asRutas[r], pIdTroncal)) return 1;
    return 0;
}

int cfgTroncalContiene(const Troncal* pTroncal, const char* pId) {
    for (int m = 0; m < 8 && pTroncal->miembros[m].id[0] != '\0'; m++)
        if (EsIdentificador(pTroncal->miembros[m].id, pId)) return 1;
    return 0;
}

int cfgLeeNumero6(const char* pTexto) {
    char buf[7];
    std::memcpy(buf, pTexto, 6);
    buf[6] = '\0';
    return std::atoi(buf);
}

void cfgLeeRango(const Rango* pRango, cfgParRango* pPar) {
    pPar->iDesde = cfgLeeNumero6(pRango->desde);
    pPar->iHasta = cfgLeeNumero6(pRango->hasta);
}

int cfgConfigPasarela::cfgBuscaNoTestTroncal(const char* pIdMiembro, char* pNoTestPropio, char* pNoTestTroncal) {
    if (pIdMiembro == nullptr) return 0;
    cfgCerrojo cerrojo(&tMutex);
    char acId[65];
    int t = BuscaTroncalMiembro(this, pIdMiembro, acId);
    if (t >= 0 && asTroncales[t].no_test[0] != '\0' && pNoTestTroncal != nullptr)
        CopiaNoTest(pNoTestTroncal, asTroncales[t].no_test);
    bool bPropia = false, bAjena = false;
    for (int c = 0; c < CFG_NUM_CENTRALES && asPlanAts[c].centralpropia != CFG_FIN_PLAN_ATS; c++) {
        const Central& ce = asPlanAts[c];
        if (ce.centralpropia == CFG_CENTRAL_PROPIA) {
            if (!bPropia && pNoTestPropio != nullptr) CopiaNoTest(pNoTestPropio, ce.no_test);
            bPropia = true;
        } else if (t >= 0 && cfgCentralTieneTroncal(&ce, acId)) {
            bAjena = true;
        }
        if (bPropia && (t < 0 || bAjena)) break;
    }
    return t >= 0 ? 1 : 0;
}

void cfgConfigPasarela::cfgRangosCentralTroncal(const char* pIdMiembro, cfgParRango* pOpe, int* piNumOpe,
                                                cfgParRango* pPriv, int* piNumPriv) {
    if (!pIdMiembro || !pOpe || !piNumOpe || !pPriv || !piNumPriv) return;
    *piNumOpe = std::clamp(*piNumOpe, 0, 16);
    *piNumPriv = std::clamp(*piNumPriv, 0, 8);
    cfgCerrojo cerrojo(&tMutex);
    char acId[65];
    int t = BuscaTroncalMiembro(this, pIdMiembro, acId);
    if (t >= 0) {
        for (int c = 0; c < CFG_NUM_CENTRALES && asPlanAts[c].centralpropia != CFG_FIN_PLAN_ATS; c++) {
            const Central& ce = asPlanAts[c];
            if (ce.centralpropia != CFG_CENTRAL_PROPIA && cfgCentralTieneTroncal(&ce, acId)) {
                ConvierteRangos(ce, pOpe, piNumOpe, pPriv, piNumPriv);
                return;
            }
        }
    }
    // No exchange reaches that trunk: nothing written, and the counts say so.
    *piNumOpe = 0;
    *piNumPriv = 0;
}

void cfgConfigPasarela::cfgRangosCentralPropia(cfgParRango* pOpe, int* piNumOpe, cfgParRango* pPriv,
                                               int* piNumPriv) {
    if (!pOpe || !piNumOpe || !pPriv || !piNumPriv) return;
    *piNumOpe = std::clamp(*piNumOpe, 0, 16);
    *piNumPriv = std::clamp(*piNumPriv, 0, 8);
    cfgCerrojo cerrojo(&tMutex);
    for (int c = 0; c < CFG_NUM_CENTRALES && asPlanAts[c].centralpropia != CFG_FIN_PLAN_ATS; c++) {
        if (asPlanAts[c].centralpropia == CFG_CENTRAL_PROPIA) {
            ConvierteRangos(asPlanAts[c], pOpe, piNumOpe, pPriv, piNumPriv);
            return;
        }
    }
    *piNumOpe = 0;
    *piNumPriv = 0;
}
