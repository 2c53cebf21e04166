// Taking a configuration image over, and comparing records and plan entries.
#include "cfg/cfgimagen.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "comun/nlog.h"

namespace {

// Texts compared on their first n characters (fields may lack a terminator).
bool Igual(const char* a, const char* b, std::size_t n) { return std::strncmp(a, b, n) == 0; }

// Same length (at most n) and the same characters.
bool IgualLongitud(const char* a, const char* b, std::size_t n) {
    std::size_t la = strnlen(a, n);
    return la == strnlen(b, n) && std::memcmp(a, b, la) == 0;
}

// Radio URIs: an empty one differs from a non-empty one; two non-empty ones on 80 characters.
bool UriDistinta(const char* a, const char* b) {
    if ((a[0] == '\0') != (b[0] == '\0')) return true;
    return a[0] != '\0' && !Igual(a, b, 80);
}

#define DISTINTO_ENTERO(campo, texto)                 \
    if (a->campo != b->campo) {                       \
        NLOG::Log(NLOG::INFO, texto, b->campo);       \
        return 0;                                     \
    }
#define DISTINTO_TEXTO(campo, n, texto)                                      \
    if (!Igual(a->campo, b->campo, n)) {                                     \
        NLOG::Log(NLOG::INFO, texto, static_cast<int>(strnlen(b->campo, n)), b->campo); \
        return 0;                                                            \
    }

}  // namespace

// ---- Image take-over -------------------------------------------------------------------------

void cfgNormalizaImagen(cfgImagenPasarela* pImg, int iModo) {
    for (cfgConfigRecurso& r : pImg->asRecursos) {
        switch (r.iTipoIf) {
        case TIPOIF_RADIO: {
            cfgParamRadio& p = r.uParam.radio;
            if (iModo == 1)
                p.iPttTimeOut = 200;
            else
                p.iEvtPTT = p.iNivelTonoPtt > 0 ? 1 : 0;
            if (p.iTipoRadio != 2 && p.iTipoRadio != 3) {
                p.iRetrasoSqOff = 0;
                p.iTiempo_VentanaRx = 0;
                p.iClimaxDelay = 0;
                p.iTmRetardoFijo = 0;
            }
            if (p.iTipoRadio == 5)
                r.iTipo = 1;  // AUDIO_TX
            else if (p.iTipoRadio == 6)
                r.iTipo = 0;  // AUDIO_RX
            else if (p.iTipoRadio >= 0 && p.iTipoRadio <= 4)
                r.iTipo = 2;  // AUDIO_TXRX
            break;
        }
        case TIPOIF_LCEN: case TIPOIF_ATSR2: case TIPOIF_ATSN5:
            r.iRestriccion = 0;
            r.iEnableRegistro = 0;
            break;
        case TIPOIF_BC: case TIPOIF_AB:
            r.uParam.tlf.iDetectVox = 0;
            r.iRestriccion = 0;
            r.iEnableRegistro = 0;
            break;
        case TIPOIF_BL:
            r.uParam.tlf.iModoEyM = 0;
            r.iRestriccion = 0;
            r.iEnableRegistro = 0;
            break;
        case TIPOIF_BL_EYM_AUTO: case TIPOIF_BL_EYM:
            // BL lines in E&M mode, with and without automatic call.
            r.iLLamadaAutomatica = r.iTipoIf == TIPOIF_BL_EYM_AUTO ? 1 : 0;
            r.uParam.tlf.iModoEyM = 1;
            r.iTipoIf = TIPOIF_BL;
            break;
        default:
            break;
        }
    }
}

void cfgConfigPasarela::CopiaImagen(const void* pImagen) {
    const std::size_t kMutex = sizeof acRanuraMutex;
    cfgImagenPasarela* pImg = this;
    std::memcpy(reinterpret_cast<uint8_t*>(pImg) + kMutex, static_cast<const uint8_t*>(pImagen) + kMutex,
                CFG_TAM_IMAGEN - kMutex);
    ModoSistemaLocal = cfgModoSistemaDe(this);
    cfgNormalizaImagen(this, ModoSistemaLocal);
}

// ---- Records ---------------------------------------------------------------------------------

int cfgIgualGeneralRecurso(const cfgConfigRecurso* a, const cfgConfigRecurso* b) {
    DISTINTO_TEXTO(nombre, 64, "Distinto nombre %.*s");
    DISTINTO_ENTERO(iTipoIf, "Distinto iTipoIf %i");
    DISTINTO_ENTERO(iSlot, "Distinto iSlot %i");
    DISTINTO_ENTERO(iDispositivo, "Distinto iDispositivo %i");
    DISTINTO_TEXTO(szDestino, 64, "Distinto szDestino %.*s");
    DISTINTO_ENTERO(iCfgModoSistema, "Distinto iCfgModoSistema %i");
    DISTINTO_ENTERO(iFlgUsarDiffServ, "Distinto iFlgUsarDiffServ %i");
    DISTINTO_ENTERO(iRecPuertoRemoto, "Distinto iRecPuertoRemoto %i");
    DISTINTO_ENTERO(iSnmpPuertoRemoto, "Distinto iSnmpPuertoRemoto %i");
    DISTINTO_ENTERO(iRecPuertoBase, "Distinto iRecPuertoBase %i");
    DISTINTO_ENTERO(iEnableGI, "Distinto iEnableGI %i");
    DISTINTO_TEXTO(szUriLocal, 80, "Distinto szUriLocal %.*s");
    DISTINTO_ENTERO(iLLamadaAutomatica, "Distinto iLLamadaAutomatica %i ");
    DISTINTO_ENTERO(iRestriccion, "Distinto iRestriccion %i");
    for (int i = 0; i < 8; i++) {
        if (!Igual(a->listablanca[i], b->listablanca[i], 80)) {
            NLOG::Log(NLOG::INFO, "Distinto Lista blanca");
            return 0;
        }
    }
    for (int i = 0; i < 8; i++) {
        if (!Igual(a->listanegra[i], b->listanegra[i], 80)) {
            NLOG::Log(NLOG::INFO, "Distinto Lista negra");
            return 0;
        }
    }
    DISTINTO_ENTERO(iEnableRegistro, "Distinto iEnableRegistro %i");
    DISTINTO_TEXTO(szClave, 8, "Distinto szClave %.*s");
    DISTINTO_ENTERO(sColateral.iRespuestaAutomatica, "Distinto iRespuestaAutomatica %i");
    DISTINTO_TEXTO(sColateral.szUriRemota, 80, "Distinto sColateral.szUriRemota %.*s");
    DISTINTO_ENTERO(sColateral.isuperv_options, "Distinto isuperv_options %i");
    DISTINTO_ENTERO(sColateral.itm_superv_options, "Distinto itm_superv_options %i");
    if (ModoSistemaLocal == 1) return 1;
    DISTINTO_ENTERO(size_aListaEnlacesExternos, "Distinto size_aListaEnlacesExternos %i");
    int n = std::clamp(a->size_aListaEnlacesExternos, 0, CFG_MAX_ENLACES_EXTERNOS);
    for (int i = 0; i < n; i++)
        if (!Igual(a->aListaEnlacesExternos[i], b->aListaEnlacesExternos[i], 64)) return 0;
    return 1;
}

int cfgIgualRecurso(const cfgConfigRecurso* a, const cfgConfigRecurso* b) {
    const int iNombre = static_cast<int>(strnlen(b->nombre, sizeof b->nombre));
    if (!cfgIgualGeneralRecurso(a, b)) {
        std::printf("esdistinto general %.*s\n", iNombre, b->nombre);
        NLOG::Log(NLOG::INFO, "esdistinto general %.*s\n", iNombre, b->nombre);
        return 0;
    }
    if (a->iTipo >= 0 && a->iTipo <= 3) {
        if (std::memcmp(a->BloqueAudio(), b->BloqueAudio(), 9 * sizeof(int32_t)) != 0) {
            NLOG::Log(NLOG::INFO, "esdistinto Rec %.*s\n", iNombre, b->nombre);
            return 0;
        }
    } else if (a->iTipo >= 4 && a->iTipo <= 6) {
        if (a->iSelGananciaAgcTx != b->iSelGananciaAgcTx) return 0;
    } else {
        return 0;
    }
    switch (a->iTipoIf) {
    case TIPOIF_RADIO:
        if (!cfgIgualRadio(&a->uParam.radio, &b->uParam.radio)) {
            NLOG::Log(NLOG::INFO, "esdistinto radio %.*s\n", iNombre, b->nombre);
            return 0;
        }
        return 1;
    case TIPOIF_LCEN:
        if (std::memcmp(&a->uParam.lcen, &b->uParam.lcen, sizeof(cfgParamLcen)) != 0) {
            NLOG::Log(NLOG::INFO, "esdistinto LCen %.*s\n", iNombre, b->nombre);
            return 0;
        }
        return 1;
    case TIPOIF_BC: case TIPOIF_BL: case TIPOIF_AB: case TIPOIF_EYM_PP: case TIPOIF_EYM_MARC:
        if (!cfgIgualLinea(&a->uParam.tlf, &b->uParam.tlf)) {
            std::printf("esdistinto tlf %.*s\n", iNombre, b->nombre);
            NLOG::Log(NLOG::INFO, "esdistinto tlf %.*s\n", iNombre, b->nombre);
            return 0;
        }
        return 1;
    case TIPOIF_ATSR2: case TIPOIF_ATSN5:
        if (!cfgIgualR2N5(&a->uParam.r2n5, &b->uParam.r2n5)) {
            std::printf("esdistinto r2n5 %.*s\n", iNombre, b->nombre);
            NLOG::Log(NLOG::INFO, "esdistinto r2n5 %.*s\n", iNombre, b->nombre);
            return 0;
        }
        return 1;
    case TIPOIF_ATSQSIG: case TIPOIF_2BD: case TIPOIF_30BD:
        return cfgIgualQsig(&a->uParam.qsig, &b->uParam.qsig);
    case TIPOIF_IO: case TIPOIF_DATOS:
        return 1;
    default:  // 12, 15 and above (and anything negative): always reconfigured
        return 0;
    }
}

int cfgIgualRadio(const cfgParamRadio* a, const cfgParamRadio* b) {
    if (a->iTipoRadio != b->iTipoRadio) return 0;
    if (a->cTipoPtt != b->cTipoPtt || a->cTipoSq != b->cTipoSq || a->iEyM != b->iEyM) return 0;
    const std::size_t kDesde = offsetof(cfgParamRadio, iUmbralDetSq);
    const std::size_t kVentana = offsetof(cfgParamRadio, iTiempo_VentanaRx);
    const std::size_t kBss = offsetof(cfgParamRadio, iBssRtp);
    const auto* pa = reinterpret_cast<const uint8_t*>(a);
    const auto* pb = reinterpret_cast<const uint8_t*>(b);
    if (std::memcmp(pa + kDesde, pb + kDesde, kVentana - kDesde) != 0) return 0;
    if ((a->iTipoRadio == 2 || a->iTipoRadio == 3) && std::memcmp(pa + kVentana, pb + kVentana, kBss - kVentana) != 0)
        return 0;
    return a->iBssRtp == b->iBssRtp && a->cTipoConmutacion == b->cTipoConmutacion && a->iEvtPTT == b->iEvtPTT &&
           a->iTjbd == b->iTjbd && a->iTGRSid == b->iTGRSid;
}

int cfgIgualLinea(const cfgParamTlf* a, const cfgParamTlf* b) {
    if (std::memcmp(a, b, offsetof(cfgParamTlf, szIdRed)) != 0) return 0;
    return ModoSistemaLocal == 1 || Igual(a->szIdRed, b->szIdRed, 32);
}

int cfgIgualR2N5(const cfgParamR2N5* a, const cfgParamR2N5* b) {
    if (a->iLado != b->iLado || a->iT_Release != b->iT_Release || a->iT_Int_Warning != b->iT_Int_Warning) return 0;
    if (std::memcmp(a->ntest_local, b->ntest_local, 6) != 0 || std::memcmp(a->ntest_remoto, b->ntest_remoto, 6) != 0)
        return 0;
    for (int i = 0; i < 4; i++) {
        const cfgRangoTexto* ra[2] = {&a->asRangosDst[i], &a->asRangosOrg[i]};
        const cfgRangoTexto* rb[2] = {&b->asRangosDst[i], &b->asRangosOrg[i]};
        for (int k = 0; k < 2; k++) {
            if (ra[k]->desde[0] != rb[k]->desde[0]) return 0;
            if (ra[k]->desde[0] != 0 && std::memcmp(ra[k], rb[k], sizeof(cfgRangoTexto)) != 0) return 0;
        }
    }
    if (ModoSistemaLocal == 1) return 1;
    if (!Igual(a->szIdTroncal, b->szIdTroncal, 32) || !Igual(a->szIdRed, b->szIdRed, 32)) return 0;
    if (a->iNumRangosOperador != b->iNumRangosOperador || a->iNumRangosPrivilegiados != b->iNumRangosPrivilegiados)
        return 0;
    int nOpe = std::clamp(a->iNumRangosOperador, 0, CFG_MAX_RANGOS_OPERADOR);
    int nPriv = std::clamp(a->iNumRangosPrivilegiados, 0, CFG_MAX_RANGOS_PRIVILEGIADOS);
    if (std::memcmp(a->asMisRangosOperador, b->asMisRangosOperador, nOpe * sizeof(cfgParRango)) != 0 ||
        std::memcmp(a->asMisRangosPrivilegiados, b->asMisRangosPrivilegiados, nPriv * sizeof(cfgParRango)) != 0)
        return 0;
    if (a->iNumRangosDirectosOpe != b->iNumRangosDirectosOpe || a->iNumRangosDirectosPriv != b->iNumRangosDirectosPriv)
        return 0;
    int nDOpe = std::clamp(a->iNumRangosDirectosOpe, 0, CFG_MAX_RANGOS_DIRECTOS_OPE);
    int nDPriv = std::clamp(a->iNumRangosDirectosPriv, 0, CFG_MAX_RANGOS_DIRECTOS_PRIV);
    return std::memcmp(a->asRangosDirectosOpe, b->asRangosDirectosOpe, nDOpe * sizeof(cfgParRango)) == 0 &&
           std::memcmp(a->asRangosDirectosPriv, b->asRangosDirectosPriv, nDPriv * sizeof(cfgParRango)) == 0;
}

int cfgIgualQsig(const cfgParamQsig* a, const cfgParamQsig* b) {
    return a->aiParam[0] == b->aiParam[0] && a->aiParam[1] == b->aiParam[1];
}

int cfgDistintoColateral(const cfgConfigRecurso* a, const cfgConfigRecurso* b) {
    if (a->iTipoIf != TIPOIF_RADIO) return 0;
    const cfgParamRadio& ra = a->uParam.radio;
    const cfgParamRadio& rb = b->uParam.radio;
    if (ra.iTipoRadio < 0 || ra.iTipoRadio > 3) return 0;
    if (ra.iSessionPrio != rb.iSessionPrio) return 1;
    const int nEmp = ra.iTipoRadio <= 1 ? 1 : 3;
    const bool bConB = ra.iTipoRadio == 1 || ra.iTipoRadio == 3;
    for (int e = 0; e < nEmp; e++) {
        const cfgEmplazamiento& ea = ra.asEmplazamiento[e];
        const cfgEmplazamiento& eb = rb.asEmplazamiento[e];
        if (UriDistinta(ea.UriTxA, eb.UriTxA) || UriDistinta(ea.UriRxA, eb.UriRxA)) return 1;
        if (bConB && (UriDistinta(ea.UriTxB, eb.UriTxB) || UriDistinta(ea.UriRxB, eb.UriRxB))) return 1;
    }
    return 0;
}

// ---- Plan entries ----------------------------------------------------------------------------

int cfgIgualAbonado(const Abonado* a, const Abonado* b) {
    return a->iPrefijo == b->iPrefijo && IgualLongitud(a->szNumero, b->szNumero, 19);
}

int cfgIgualRango(const Rango* a, const Rango* b) {
    return IgualLongitud(a->desde, b->desde, 6) && IgualLongitud(a->hasta, b->hasta, 6) &&
           cfgIgualAbonado(&a->abonado, &b->abonado);
}

int cfgIgualRuta(const Ruta* a, const Ruta* b) {
    if (a->tipo != b->tipo) return 0;
    for (int i = 0; i < 8 && (a->troncales[i][0] != '\0' || b->troncales[i][0] != '\0'); i++)
        if (!Igual(a->troncales[i], b->troncales[i], 64)) return 0;
    return 1;
}

int cfgIgualPlanAts(const Central* a, const Central* b) {
    if (a->centralpropia != b->centralpropia || a->throwswitching != b->throwswitching ||
        !IgualLongitud(a->no_test, b->no_test, 6))
        return 0;
    for (int i = 0; i < 16 && (a->asRangosOpe[i].desde[0] != 0 || b->asRangosOpe[i].desde[0] != 0); i++)
        if (!cfgIgualRango(&a->asRangosOpe[i], &b->asRangosOpe[i])) return 0;
    for (int i = 0; i < 8 && (a->asRangosPriv[i].desde[0] != 0 || b->asRangosPriv[i].desde[0] != 0); i++)
        if (!cfgIgualRango(&a->asRangosPriv[i], &b->asRangosPriv[i])) return 0;
    for (int i = 0; i < 32 && (a->asRutas[i].tipo != CFG_FIN_RUTAS || b->asRutas[i].tipo != CFG_FIN_RUTAS); i++)
        if (!cfgIgualRuta(&a->asRutas[i], &b->asRutas[i])) return 0;
    return 1;
}

int cfgIgualMiembro(const Miembro* a, const Miembro* b) {
    return a->tipo == b->tipo && Igual(a->id, b->id, 64);
}

int cfgIgualDireccionIp(const DireccionIp* a, const DireccionIp* b) {
    return Igual(a->idhost, b->idhost, 64) && Igual(a->dirip1, b->dirip1, 64) && Igual(a->dirip2, b->dirip2, 64) &&
           a->tipo == b->tipo;
}

int cfgIgualTroncal(const Troncal* a, const Troncal* b) {
    if (!Igual(a->idtroncal, b->idtroncal, 64) || !IgualLongitud(a->no_test, b->no_test, 6)) return 0;
    for (int i = 0; i < 8 && (a->miembros[i].id[0] != '\0' || b->miembros[i].id[0] != '\0'); i++)
        if (!cfgIgualMiembro(&a->miembros[i], &b->miembros[i])) return 0;
    return 1;
}

int cfgIgualRed(const Red* a, const Red* b) {
    if (!Igual(a->idred, b->idred, 64) || a->prefijo != b->prefijo) return 0;
    for (int i = 0; i < 128 && (a->miembros[i].id[0] != '\0' || b->miembros[i].id[0] != '\0'); i++)
        if (!cfgIgualMiembro(&a->miembros[i], &b->miembros[i])) return 0;
    return 1;
}

int cfgIgualAsignacionUsuario(const AsignacionUsuario* a, const AsignacionUsuario* b) {
    return Igual(a->idusuario, b->idusuario, 64) && Igual(a->idhost, b->idhost, 64);
}

int cfgIgualAsignacionRecurso(const AsignacionRecurso* a, const AsignacionRecurso* b) {
    return Igual(a->idrecurso, b->idrecurso, 64) && Igual(a->idhost, b->idhost, 64);
}

int cfgIgualDireccionSip(const DireccionSip* a, const DireccionSip* b) {
    if (!Igual(a->idusuario, b->idusuario, 64)) return 0;
    for (int i = 0; i < 32 && (a->abonados[i].iPrefijo != CFG_FIN_ABONADOS || b->abonados[i].iPrefijo != CFG_FIN_ABONADOS);
         i++)
        if (!cfgIgualAbonado(&a->abonados[i], &b->abonados[i])) return 0;
    return 1;
}

// The cfgDistinto twins.
#define DISTINTO(nombre, tipo) \
    int cfgDistinto##nombre(const tipo* a, const tipo* b) { return cfgIgual##nombre(a, b) ? 0 : 1; }
DISTINTO(Recurso, cfgConfigRecurso)
DISTINTO(GeneralRecurso, cfgConfigRecurso)
DISTINTO(Radio, cfgParamRadio)
DISTINTO(Linea, cfgParamTlf)
DISTINTO(R2N5, cfgParamR2N5)
DISTINTO(Qsig, cfgParamQsig)
DISTINTO(PlanAts, Central)
DISTINTO(Rango, Rango)
DISTINTO(Abonado, Abonado)
DISTINTO(Ruta, Ruta)
DISTINTO(Miembro, Miembro)
DISTINTO(DireccionIp, DireccionIp)
DISTINTO(Troncal, Troncal)
DISTINTO(Red, Red)
DISTINTO(AsignacionUsuario, AsignacionUsuario)
DISTINTO(AsignacionRecurso, AsignacionRecurso)
DISTINTO(DireccionSip, DireccionSip)
#undef DISTINTO
