#include "volcadocfg.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cfg/cfgimagen.h"
#include "comun/nlog.h"

const char* const VolcadoConfig = "/mnt/ramfs/var/cfg";

namespace {

// Test values of the built-in configuration: the board's own documentation address.
const char* const kNombrePrueba = "PASARELA-PRUEBA";
const char* const kDirCPU0Prueba = "192.0.2.23";
const char* const kDirCPU1Prueba = "192.0.2.24";
const char* const kDirServidorPrueba = "192.0.2.1";

// Texts of the image may fill their field: print them bounded.
#define T(campo) static_cast<int>(strnlen(campo, sizeof(campo))), campo

// A block of the dump, assembled in 2,048 bytes; a piece that would fill it is left out.
class Bloque {
public:
    static const std::size_t kTam = 2048;

    Bloque() : n_(0) { buf_[0] = '\0'; }
    // false when the piece was left out.
    bool __attribute__((format(printf, 2, 3))) Pon(const char* formato, ...) {
        char pieza[kTam];
        va_list ap;
        va_start(ap, formato);
        int l = vsnprintf(pieza, sizeof pieza, formato, ap);
        va_end(ap);
        if (l < 0 || n_ + static_cast<std::size_t>(l) >= kTam) return false;
        std::memcpy(buf_ + n_, pieza, l + 1);
        n_ += l;
        return true;
    }
    void Escribe(FILE* f) {
        std::fwrite(buf_, 1, n_, f);
        n_ = 0;
        buf_[0] = '\0';
    }

private:
    char buf_[kTam];
    std::size_t n_;
};

int Numero6(const char* p) { return cfgLeeNumero6(p); }

int Numero(const char* p, std::size_t n) {
    char buf[24];
    std::size_t l = strnlen(p, n < sizeof buf - 1 ? n : sizeof buf - 1);
    std::memcpy(buf, p, l);
    buf[l] = '\0';
    return static_cast<int>(std::strtoll(buf, nullptr, 10));
}

int Digito(char c) { return c - '0'; }

void PintaRangos(Bloque& b, const cfgParRango* p, int n) {
    for (int i = 0; i < n; i++) b.Pon("[%i-%i] ", p[i].iDesde, p[i].iHasta);
}

void PintaRecurso(FILE* f, const cfgConfigRecurso& r, int iPos) {
    Bloque b;
    b.Pon("\n---- Recurso %i - %.*s:\n", iPos, T(r.nombre));
    b.Pon(" iTipo=%d\n iTipoIf=%d\n iSlot=%d\n iDispositivo=%d\n szDestino=%.*s\n ", r.iTipo, r.iTipoIf, r.iSlot,
          r.iDispositivo, T(r.szDestino));
    b.Pon("iCfgModoSistema=%d\n iFlgUsarDiffServ=%d\n iSnmpPuertoRemoto=%d\n iRecPuertoRemoto=%d\n "
          "iRecPuertoBase=%d\n iEnableGI=%d\n ",
          r.iCfgModoSistema, r.iFlgUsarDiffServ, r.iSnmpPuertoRemoto, r.iRecPuertoRemoto, r.iRecPuertoBase,
          r.iEnableGI);
    b.Pon("szUriLocal=%.*s\n iLLamadaAutomatica=%i\n iRestriccion=%i\n ", T(r.szUriLocal), r.iLLamadaAutomatica,
          r.iRestriccion);
    for (int i = 0; i < 8 && r.listablanca[i][0] != '\0'; i++) b.Pon(" listablanca-%i: %.*s\n", i, T(r.listablanca[i]));
    for (int i = 0; i < 8 && r.listanegra[i][0] != '\0'; i++) b.Pon(" listanegra-%i: %.*s\n", i, T(r.listanegra[i]));
    b.Pon("iEnableRegistro=%i szClave=%.*s\n", r.iEnableRegistro, T(r.szClave));
    const cfgColateral& c = r.sColateral;
    b.Pon("Colateral PP:\n");
    b.Pon(" iRespuestaAutomatica=%i\n szUriRemota=%.*s\n isuperv_options=%i itm_superv_options=%d\n "
          "iColateralSCV=%i\n ",
          c.iRespuestaAutomatica, T(c.szUriRemota), c.isuperv_options, c.itm_superv_options, c.iColateralSCV);
    if (r.size_aListaEnlacesExternos != 0) {
        b.Pon("Lista Enlaces externos: (%d)\n", r.size_aListaEnlacesExternos);
        int n = std::clamp<int>(r.size_aListaEnlacesExternos, 0, CFG_MAX_ENLACES_EXTERNOS);
        for (int i = 0; i < n; i++) b.Pon(" %.*s\n", T(r.aListaEnlacesExternos[i]));
    } else {
        b.Pon("No Enlaces externos\n");
    }
    b.Pon(" iSelGananciaAgcTx=%i\n iGananciaAgcTx=%i\n iSelGananciaAgcRx=%i\n iGananciaAgcRx=%i\n "
          "iHaySupresionSilencio=%i\n iTamanoRtp=%i\n iCodecPreferido=%i\n iBufferJitterMin=%i\n "
          "iBufferJitterMax=%i\n ",
          r.iSelGananciaAgcTx, r.iGananciaAgcTx, r.iSelGananciaAgcRx, r.iGananciaAgcRx, r.iHaySupresionSilencio,
          r.iTamanoRtp, r.iCodecPreferido, r.iBufferJitterMin, r.iBufferJitterMax);
    switch (r.iTipoIf) {
    case TIPOIF_RADIO: {
        const cfgParamRadio& p = r.uParam.radio;
        b.Pon("Param Recurso Radio:\n iTipoRadio=%i (4: RemTxRx 5: RemTx 6:RemRx)\n cTipoPtt=%c cTipoSq=%c iEyM=%i "
              "iUmbralDetSq=%i iNivelTonoPtt=%i iMetodoBss=%i iNtz=%i TiempoMaxPtt=%i \n",
              p.iTipoRadio, p.cTipoPtt, p.cTipoSq, p.iEyM, p.iUmbralDetSq, p.iNivelTonoPtt, p.iMetodoBss, p.iNtz,
              p.TiempoMaxPtt);
        b.Pon("iSpvPortadoraTx=%i iSpvModuladoraTx=%i iModoConfPtt=%i iPeriodoRtpSqBss=%i iNumPaquetesSqOff=%i "
              "iPttTimeOut=%i\n",
              p.iSpvPortadoraTx, p.iSpvModuladoraTx, p.iModoConfPtt, p.iPeriodoRtpSqBss, p.iNumPaquetesSqOff,
              p.iPttTimeOut);
        b.Pon("iNumFlujosMezcla=%i KeepAlivePeriod=%i KeepAliveMultiplier=%i iSessionPrio=%i iPttPrio=%i "
              "iPrecisionAudio=%i \n",
              p.iNumFlujosMezcla, p.KeepAlivePeriod, p.KeepAliveMultiplier, p.iSessionPrio, p.iPttPrio,
              p.iPrecisionAudio);
        b.Pon("iTiempoPttBloqueado=%i iRetrasoPttOff=%i iRetrasoSqOff=%i\n", p.iTiempoPttBloqueado, p.iRetrasoPttOff,
              p.iRetrasoSqOff);
        b.Pon("iTiempo_VentanaRx=%i iClimaxDelay=%i iTmRetardoFijo=%i iBssRtp=%i cTipoConmutacion=%i iEvtPTT=%i "
              "iTjbd=%i iTGRSid=%i\n",
              p.iTiempo_VentanaRx, p.iClimaxDelay, p.iTmRetardoFijo, p.iBssRtp, p.cTipoConmutacion, p.iEvtPTT, p.iTjbd,
              p.iTGRSid);
        break;
    }
    case TIPOIF_LCEN: {
        const cfgParamLcen& p = r.uParam.lcen;
        b.Pon(" Param Recurso LCEN:\n iUmbralRxTonoLcen=%i iNivelTxTonoLcen=%i iPeriodoRefrescoEstado=%i "
              "iTimeoutEstado=%i iLongRafagas=%i\n",
              p.iUmbralRxTonoLcen, p.iNivelTxTonoLcen, p.iPeriodoRefrescoEstado, p.iTimeoutEstado, p.iLongRafagas);
        b.Pon(" iT1=%i iT1Max=%i iT2=%i iT2Max=%i iT3=%i iT4=%i iT4Max=%i iT5=%i iT5Max=%i iT6=%i iT6Max=%i\n", p.iT1,
              p.iT1Max, p.iT2, p.iT2Max, p.iT3, p.iT4, p.iT4Max, p.iT5, p.iT5Max, p.iT6, p.iT6Max);
        b.Pon(" iT8=%i iT8Max=%i iT9=%i iT9Max=%i iT10=%i iT10Max=%i iT11=%i iT11Max=%i iT12=%i iT_Release=%i\n",
              p.iT8, p.iT8Max, p.iT9, p.iT9Max, p.iT10, p.iT10Max, p.iT11, p.iT11Max, p.iT12, p.iT_Release);
        break;
    }
    case TIPOIF_BC: case TIPOIF_BL: case TIPOIF_AB: case TIPOIF_EYM_PP: case TIPOIF_EYM_MARC: {
        const cfgParamTlf& p = r.uParam.tlf;
        b.Pon("Param Recurso Tlf:\n iPatronRing=%i iPeriodoRing=%i iUmbralAltoPeriodoRing=%i "
              "iUmbralBajoPeriodoRing=%i iVRing=%i iVBat=%i\n",
              p.iPatronRing, p.iPeriodoRing, p.iUmbralAltoPeriodoRing, p.iUmbralBajoPeriodoRing, p.iVRing, p.iVBat);
        b.Pon(" eTypeEyM=%i iModoEyM=%i iLadoEyM=%i iDetectVox=%i iUmbralVox=%i iTmInactividad=%i\n szIdRed=%.*s\n",
              p.eTypeEyM, p.iModoEyM, p.iLadoEyM, p.iDetectVox, p.iUmbralVox, p.iTmInactividad, T(p.szIdRed));
        break;
    }
    case TIPOIF_ATSR2: case TIPOIF_ATSN5: {
        const cfgParamR2N5& p = r.uParam.r2n5;
        b.Pon("Param Recurso R2N5 (reservado para tiempos pero no se utilizan):\n iLado=%i (0=LadoA 1=LadoB) "
              "iT_Release=%i iT_Int_Warning=%i\n",
              p.iLado, p.iT_Release, p.iT_Int_Warning);
        b.Pon(" ntest_local=%d  ntest_remoto=%d\n", Numero6(p.ntest_local), Numero6(p.ntest_remoto));
        b.Pon(" rangos dst=");
        for (int i = 0; i < 4 && p.asRangosDst[i].desde[0] != 0; i++)
            b.Pon("[%i-%i]", Numero6(p.asRangosDst[i].desde), Numero6(p.asRangosDst[i].hasta));
        b.Pon("\n rangos org=");
        for (int i = 0; i < 4 && p.asRangosOrg[i].desde[0] != 0; i++)
            b.Pon("[%i-%i]", Numero6(p.asRangosOrg[i].desde), Numero6(p.asRangosOrg[i].hasta));
        b.Pon("\n szIdTroncal=%.*s\n szIdRed=%.*s\n ", T(p.szIdTroncal), T(p.szIdRed));
        b.Pon("iNumRangosOperador=%d\n asMisRangosOperador= ", p.iNumRangosOperador);
        PintaRangos(b, p.asMisRangosOperador, std::clamp<int>(p.iNumRangosOperador, 0, CFG_MAX_RANGOS_OPERADOR));
        b.Pon("\n iNumRangosPrivilegiados=%d\n asMisRangosPrivilegiados= ", p.iNumRangosPrivilegiados);
        PintaRangos(b, p.asMisRangosPrivilegiados, std::clamp<int>(p.iNumRangosPrivilegiados, 0, CFG_MAX_RANGOS_PRIVILEGIADOS));
        b.Pon("\n iNumRangosDirectosOpe=%d\n asRangosDirectosOpe= ", p.iNumRangosDirectosOpe);
        PintaRangos(b, p.asRangosDirectosOpe, std::clamp<int>(p.iNumRangosDirectosOpe, 0, CFG_MAX_RANGOS_DIRECTOS_OPE));
        b.Pon("\n iNumRangosDirectosPriv=%d\n asRangosDirectosPriv= ", p.iNumRangosDirectosPriv);
        PintaRangos(b, p.asRangosDirectosPriv, std::clamp<int>(p.iNumRangosDirectosPriv, 0, CFG_MAX_RANGOS_DIRECTOS_PRIV));
        break;
    }
    default:
        break;
    }
    b.Escribe(f);
}

void PintaCentral(FILE* f, const Central& c, int iCentral) {
    Bloque b;
    b.Pon("-----Central %i:-----\n centralpropia=%i\n throwswitching=%i \n no_test=%d\n", iCentral, c.centralpropia,
          c.throwswitching, Numero6(c.no_test));
    const Rango* const listas[2] = {c.asRangosOpe, c.asRangosPriv};
    const int max[2] = {16, 8};
    const char* const titulos[2] = {" rangos ope=", "\n rangos priv="};
    for (int l = 0; l < 2; l++) {
        b.Pon("%s", titulos[l]);
        for (int i = 0; i < max[l] && listas[l][i].desde[0] != 0; i++) {
            const Rango& r = listas[l][i];
            b.Pon("[%i-%i (%i-%d)]", Numero6(r.desde), Numero6(r.hasta), static_cast<int>(r.abonado.iPrefijo),
                  Numero(r.abonado.szNumero, 19));
        }
    }
    b.Pon("\n rutas:");
    for (int i = 0; i < 32 && c.asRutas[i].tipo != CFG_FIN_RUTAS; i++) {
        const Ruta& r = c.asRutas[i];
        b.Pon("\n tipo= %i ", r.tipo);
        for (const auto& t : r.troncales) b.Pon("(%.*s)", T(t));
    }
    b.Pon("\n");
    b.Escribe(f);
}

}  // namespace

void mainPintaCfg(const cfgImagenPasarela* pCfg, const char* pRuta) {
    NLOG::Log(NLOG::INFO, "mainPintaCfg");
    FILE* f = std::fopen(pRuta, "w+");
    if (f == nullptr) return;
    const cfgImagenPasarela& c = *pCfg;
    Bloque b;

    b.Pon(" acIdSistema=%.*s\n szNombre=%.*s\n szDirCPU0=%.*s\n szDirCPU1=%.*s\n szDirVirtual=%.*s\n "
          "szDirSrvConfig=%.*s\n",
          T(c.acIdSistema), T(c.szNombre), T(c.szDirCPU0), T(c.szDirCPU1), T(c.szDirVirtual), T(c.szDirSrvConfig));
    b.Escribe(f);

    char acSegunda[Bloque::kTam];
    int l1 = std::snprintf(nullptr, 0, " iCfgModoSistema=%d\n iNivelConsola=%d\n iPuertoConsola=%d\n iNivelIncidencias=%d\n iDual=%d\n",
                           c.iCfgModoSistema, c.iNivelConsola, c.iPuertoConsola, c.iNivelIncidencias, c.iDual);
    int l2 = std::snprintf(acSegunda, sizeof acSegunda,
                           " acIdConfig=%.*s\n iModoSincronizacion=%i\n iSipPuertoLocal=%d\n iSipPeriodoSuperv=%d\n "
                           "iSnmpPuertoRemoto=%d\n iRecPuertoRemoto=%d\n",
                           T(c.acIdConfig), c.iModoSincronizacion, c.iSipPuertoLocal, c.iSipPeriodoSuperv,
                           c.iSnmpPuertoRemoto, c.iRecPuertoRemoto);
    b.Pon(" iCfgModoSistema=%d\n iNivelConsola=%d\n iPuertoConsola=%d\n iNivelIncidencias=%d\n iDual=%d\n",
          c.iCfgModoSistema, c.iNivelConsola, c.iPuertoConsola, c.iNivelIncidencias, c.iDual);
    b.Pon("%s", l1 + l2 + 10 > 2047 ? "........." : acSegunda);
    b.Escribe(f);

    b.Pon(" iNumRecursos=%i\n acTipoSlot=%i %i %i %i\n LocalizadorRecurso= ", c.iNumRecursos, c.acTipoSlot[0],
          c.acTipoSlot[1], c.acTipoSlot[2], c.acTipoSlot[3]);
    for (const cfgLocalizador& l : c.LocalizadorRecurso) b.Pon("%i-%i ", l.iSlot, l.iDispositivo);
    b.Escribe(f);

    b.Pon("\n szDirSipRegistrar= [%.*s][%.*s][%.*s]\n", T(c.szDirSipRegistrar[0]), T(c.szDirSipRegistrar[1]),
          T(c.szDirSipRegistrar[2]));
    b.Pon(" szDirSipProxy= [%.*s][%.*s][%.*s]\n", T(c.szDirSipProxy[0]), T(c.szDirSipProxy[1]), T(c.szDirSipProxy[2]));
    b.Pon(" szDirSrvNtp= [%.*s][%.*s][%.*s]\n", T(c.szDirSrvNtp[0]), T(c.szDirSrvNtp[1]), T(c.szDirSrvNtp[2]));
    b.Escribe(f);

    b.Pon(" acGrupoMulticast=%.*s \n uiPuertoMulticast=%d\n", T(c.acGrupoMulticast), static_cast<int>(c.uiPuertoMulticast));
    b.Escribe(f);

    for (int i = 0; i < CFG_NUM_CENTRALES && c.asPlanAts[i].centralpropia != CFG_FIN_PLAN_ATS; i++)
        PintaCentral(f, c.asPlanAts[i], i);

    b.Pon("\n direccionamientoip:");
    for (int i = 0; i < 32 && c.asDireccionamientoIp[i].idhost[0] != '\0'; i++) {
        const DireccionIp& d = c.asDireccionamientoIp[i];
        if (!b.Pon("\n idhost= %.*s (%.*s) (%.*s) tipo=%i", T(d.idhost), T(d.dirip1), T(d.dirip2), d.tipo)) break;
    }
    b.Escribe(f);

    b.Pon("\n troncales:");
    for (int i = 0; i < 32 && c.asTroncales[i].idtroncal[0] != '\0'; i++) {
        const Troncal& t = c.asTroncales[i];
        b.Pon("\n idtroncal= %.*s    no_test= %d  ", T(t.idtroncal), Numero6(t.no_test));
        for (int m = 0; m < 8 && t.miembros[m].id[0] != '\0'; m++)
            b.Pon("[tipo=%i %.*s]", t.miembros[m].tipo, T(t.miembros[m].id));
    }
    b.Escribe(f);

    b.Pon("\n redes:");
    for (int i = 0; i < CFG_NUM_REDES && c.asRedes[i].prefijo != CFG_FIN_PLAN_REDES; i++)
        b.Pon("\n idred= %.*s    prefijo= %d  ", T(c.asRedes[i].idred), c.asRedes[i].prefijo);
    b.Escribe(f);

    b.Pon("\n plan asignacion usuarios:");
    for (int i = 0; i < CFG_NUM_ASIGNACIONES_USUARIO && c.asAsignacionUsuarios[i].idhost[0] != '\0'; i++) {
        const AsignacionUsuario& a = c.asAsignacionUsuarios[i];
        if (!b.Pon("\n idusuario= %.*s    idhost= %.*s", T(a.idusuario), T(a.idhost))) break;
    }
    b.Escribe(f);

    b.Pon("\n plan asignacion recursos:");
    for (int i = 0; i < CFG_NUM_ASIGNACIONES_RECURSO && c.asAsignacionRecursos[i].idhost[0] != '\0'; i++) {
        const AsignacionRecurso& a = c.asAsignacionRecursos[i];
        b.Pon("\n idrecurso= %.*s    idhost= %.*s", T(a.idrecurso), T(a.idhost));
    }
    b.Escribe(f);

    b.Pon("\n plan direccionamiento sip:");
    for (int i = 0; i < CFG_NUM_DIRECCIONES_SIP && c.asDireccionamientoSip[i].idusuario[0] != '\0'; i++) {
        const DireccionSip& d = c.asDireccionamientoSip[i];
        const char* n = d.abonados[0].szNumero;
        b.Pon("\n idusuario= %.*s    abonado= %i-%d%d%d%d%d%d", T(d.idusuario), static_cast<int>(d.abonados[0].iPrefijo),
              Digito(n[0]), Digito(n[1]), Digito(n[2]), Digito(n[3]), Digito(n[4]), Digito(n[5]));
    }
    b.Pon("\n");
    b.Escribe(f);

    // Resources in order of position, each once, as many as iNumRecursos designates.
    const int iNum = c.iNumRecursos < 0 ? 0 : (c.iNumRecursos > CFG_NUM_RECURSOS ? CFG_NUM_RECURSOS : c.iNumRecursos);
    int iEscritos = 0;
    for (int iPos = 0; iPos < CFG_NUM_RECURSOS && iEscritos < iNum; iPos++) {
        bool bConfigurado = false;
        for (int k = 0; k < iNum && !bConfigurado; k++) {
            const cfgLocalizador& l = c.LocalizadorRecurso[k];
            bConfigurado = l.iSlot >= 0 && l.iSlot <= 3 && l.iDispositivo >= 0 && l.iDispositivo <= 3 &&
                           l.iSlot * 4 + l.iDispositivo == iPos;
        }
        if (!bConfigurado) continue;
        PintaRecurso(f, c.asRecursos[iPos], iPos);
        iEscritos++;
    }
    std::fclose(f);
}

void CargaConfigPrueba(cfgConfigPasarela* pCfg) {
    cfgConfigPasarela& c = *pCfg;
    std::snprintf(c.acIdSistema, sizeof c.acIdSistema, "%s", "Departamento");
    std::snprintf(c.szNombre, sizeof c.szNombre, "%s", kNombrePrueba);
    std::snprintf(c.szDirCPU0, sizeof c.szDirCPU0, "%s", kDirCPU0Prueba);
    std::snprintf(c.szDirCPU1, sizeof c.szDirCPU1, "%s", kDirCPU1Prueba);
    std::snprintf(c.szDirSrvConfig, sizeof c.szDirSrvConfig, "%s", kDirServidorPrueba);
    std::snprintf(c.szDirVirtual, sizeof c.szDirVirtual, "%s", c.szDirCPU0);
    c.iNivelConsola = 65535;
    c.iPuertoConsola = 19710;
    c.iNivelIncidencias = 1;
    c.iDual = 0;
    std::snprintf(c.acIdConfig, sizeof c.acIdConfig, "%s", "CFG-Def");
    c.iModoSincronizacion = 2;
    std::snprintf(c.szDirSrvNtp[0], sizeof c.szDirSrvNtp[0], "%s", kDirServidorPrueba);
    std::snprintf(c.szDirSipRegistrar[0], sizeof c.szDirSipRegistrar[0], "%s", kDirServidorPrueba);
    c.iSipPuertoLocal = 5060;
    c.iSipPeriodoSuperv = 0;
    c.iNumRecursos = 1;
    c.LocalizadorRecurso[0].iSlot = 0;
    c.LocalizadorRecurso[0].iDispositivo = 0;

    cfgConfigRecurso& r = c.asRecursos[0];
    cfgDefectoRecurso(&r);
    std::snprintf(r.szUriLocal, sizeof r.szUriLocal, "sip:RD-01@%s", kDirCPU0Prueba);
    cfgParamRadio& p = r.uParam.radio;
    p.iTipoRadio = 0;
    p.iTiempo_VentanaRx = 0;
    p.iClimaxDelay = 1;
    p.cTipoConmutacion = 'M';
    for (cfgEmplazamiento& e : p.asEmplazamiento) e.UriTxA[0] = e.UriTxB[0] = e.UriRxA[0] = e.UriRxB[0] = '\0';
    std::snprintf(p.asEmplazamiento[0].UriTxA, sizeof p.asEmplazamiento[0].UriTxA, "sip:RD-02@%s", kDirCPU0Prueba);
    p.asEmplazamiento[0].ActivoTx = 'A';
    p.asEmplazamiento[0].ActivoRx = 'A';
}
