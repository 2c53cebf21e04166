// CSupervisorRecurso: calls to the collateral targets (radio equipment of the emplacements, the
// remote user of a line), the session types of active and standby equipment, the OPTIONS
// supervision of the collateral peer, the radio maintenance mode and loop test ordered by the
// SNMP agent, and the helpers of the emplacement states.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "ccolateral.h"
#include "cconfig.h"
#include "csuperec.h"
#include "comun/nlog.h"
#include "ipc/cola.h"
#include "red/tcpcons.h"
#include "sip/cgestorllamada.h"
#include "sip/cpasagus.h"
#include "sip/ctablapttid.h"
#include "sip/encaminauri.h"
#include "temporizadorvortik.h"

namespace {
constexpr int32_t TICKS_RESPUESTA = 50;  // 5 s for the answer of an OPTIONS
constexpr int32_t TICKS_BUCLE = 160;     // 16 s for the loop test's answer
constexpr uint32_t MASCARA_TRAZA_RECURSOS = 0x3E;

template <size_t N>
void Copia(char (&destino)[N], const char* origen, size_t maximo = N - 1) {
    std::snprintf(destino, N, "%.*s", static_cast<int>(maximo < N - 1 ? maximo : N - 1), origen ? origen : "");
}

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

DatosColateral LeeDatos(const cfgConfigRecurso* r) {
    DatosColateral d{};
    d.iTipoIf = d.iTipoRadio = -1;
    // An order for a position whose supervisor was never started finds no record.
    if (r == nullptr || superecDameConfig() == nullptr) return d;
    cfgCerrojo c(&superecDameConfig()->tMutex);
    d.iTipoIf = r->iTipoIf;
    const bool radio = r->iTipoIf == TIPOIF_RADIO;
    d.iTipoRadio = radio ? r->uParam.radio.iTipoRadio : -1;
    d.iSessionPrio = radio ? r->uParam.radio.iSessionPrio : 0;
    d.iNumPaquetesSqOff = radio ? r->uParam.radio.iNumPaquetesSqOff : 0;
    d.iSupervOptions = r->sColateral.isuperv_options;
    d.iTmSupervOptions = r->sColateral.itm_superv_options;
    Copia(d.acNombre, r->nombre);
    Copia(d.acFid, r->szDestino);
    Copia(d.acUriLocal, r->szUriLocal);
    Copia(d.acUriRemota, r->sColateral.szUriRemota);
    return d;
}
}  // namespace

int CSupervisorRecurso::IniciaLlamadaColateral(int idllam, int iIndice, int iReposo) {
    const int n = iMiNumRecurso;
    const DatosColateral d = LeeDatos(psConfig);
    DatosLlamadaGestor pl;
    std::memset(&pl, 0, sizeof pl);
    char destino[81] = {};
    char idUsuario[81] = {};
    if (ModoSistemaLocal != 0) {
        if (poColateral == nullptr || poColateral->DameDestino(iIndice, &pl) != 0) return -1;
        Copia(destino, pl.NumDestino, 80);
        if (EsUriSip(destino) != 0) destino[0] = '\0';
    } else if (DameIdUsuario(idUsuario, sizeof idUsuario, iIndice) == 0) {
        Copia(destino, idUsuario, 80);
    }
    if (destino[0] == '\0') return -1;
    if (InfoSesion* e = oSesiones.BuscaPorLlamadaYDestino(idllam, destino)) return e->cid;
    InfoSesion* s;
    {
        cfgCerrojo l(oSesiones.Mutex());
        s = oSesiones.Asigna();
    }
    if (s == nullptr) return -1;
    Copia(pl.UsuOrigen, d.acNombre, 80);
    if (ModoSistemaLocal == 0) Copia(pl.UsuDestino, idUsuario, 80);
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
        if (d.acFid[0] != '\0') Copia(pl.Fid, d.acFid, 63);
        break;
    default:
        prio = 3;
        pl.tipo = 2;
        break;
    }
    Copia(s->acDestino, destino, 80);
    s->ucPrioridad = prio;
    pl.ucPrioridad = prio;
    if (ModoSistemaLocal == 1) pl.UsuOrigen[0] = pl.UsuDestino[0] = '\0';
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:IniciaLlamadaColateral", n);
    const int cid = ColocaLlamada(&pl, s, idllam);
    if (cid < 0) LiberaInfoSesion(s);
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:Encamina llamada a %s cid=%i", n, destino, cid);
    return cid;
}

void CSupervisorRecurso::SupervisaColateralDatRadPP(int idllam) {
    const int n = iMiNumRecurso;
    if (iModoReserva) return;
    auto CierraTodas = [&](bool bLog) {
        for (InfoSesion* s = oSesiones.BuscaSiguientePorIdLlamada(nullptr, idllam); s;
             s = oSesiones.BuscaSiguientePorIdLlamada(s, idllam)) {
            if (s->cid == -1) continue;
            if (bLog) NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:SupervisaColateralDatRadPP: EST_FUERA_DE_SERVICIO", n);
            CierraSesionCompleta(s, 0);
        }
    };
    if (poColateral == nullptr || poColateral->EsValido() == 0 || iReconfigurarColaterales == 1 || iCambioCfgColateral == 1) {
        iReconfigurarColaterales = 0;
        iCambioCfgColateral = 0;
        CierraTodas(false);
        return;
    }
    if (DameEstadoRecurso() == 10) {
        CierraTodas(true);
        return;
    }
    const DatosColateral d = LeeDatos(psConfig);
    if (d.iTipoRadio >= 4 && d.iTipoRadio <= 6) return;
    bool buclePendiente = false;
    if (idllam == -2 && iModoMantenimiento == 1) {
        cfgCerrojo l(&tMutexGlobal);
        buclePendiente = iBuclePendiente != 0;
    }
    const int objetivos = d.iTipoIf == TIPOIF_RADIO && (d.iTipoRadio == 0 || d.iTipoRadio == 1) ? 4 : 12;
    for (int i = 0; i < objetivos; ++i) {
        const bool activo = idllam == -2 && EquipoActivo(i);
        const int reposo = idllam == -2 && !activo ? 1 : 0;
        const int cid = IniciaLlamadaColateral(idllam, i, reposo);
        if (idllam != -2) break;
        if (cid < 0) continue;
        InfoSesion* s = oSesiones.BuscaPorColateral(i);
        if (s == nullptr || s->idsesion < 0) continue;
        DireccionSesion ds;
        LlenaDireccionSesion(s, &ds);
        if (activo && s->iReposo == 1) {
            const int tipo = s->iTipoSipMapeado == 2 ? 1 : 0;
            if (poMiPasaGus->CambiaTipoSesion(iIdUsuarioSip, s->cid, tipo, s->ucPrioridad) == 0) s->iReposo = 0;
            ds.iStandby = 0;
            std::shared_ptr<Cola> canal = CanalHijo();
            if (!canal || canal->EnviaModificaSesion(s->idsesion, &ds) < 0)
                NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]:Error envio ModificaSesion", n);
            MarcaCambioEmplazamiento(i);
            FijaEquipoActivoColateral(i);
        } else if (!activo && s->iReposo != 1) {
            if (poMiPasaGus->CambiaTipoSesion(iIdUsuarioSip, s->cid, 3, s->ucPrioridad) == 0) s->iReposo = 1;
            ds.iStandby = 1;
            std::shared_ptr<Cola> canal = CanalHijo();
            if (!canal || canal->EnviaModificaSesion(s->idsesion, &ds) < 0)
                NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]:Error envio ModificaSesion", n);
            MarcaCambioEmplazamiento(i);
        }
    }
    if (idllam == -2 && iModoMantenimiento == 1 && buclePendiente) {
        // A loop test that no guard would end is not started: it stays pending for the next pass.
        const int32_t guarda = ArmaGuarda(TICKS_BUCLE, 3, 0);
        if (guarda < 0) return;
        int valor;
        {
            cfgCerrojo l(&tMutexGlobal);
            iBuclePendiente = 0;
            valor = iTipoBucle == 2 ? iTipoBucle * 16 + iEmplazamientoBucle : iTipoBucle;
        }
        EnviaCodigoDebug(15, static_cast<uint8_t>(valor));
        std::printf("             ---------------------          BUCLE = %i\n", valor);
        iTempBucle = guarda;
    }
}

void CSupervisorRecurso::SupervisaColateralTipo() {
    const int t = DameIdentidad().iTipoIf;
    if (t == TIPOIF_RADIO || t == TIPOIF_DATOS)
        SupervisaColateralDatRadPP(-2);
    else if (t == TIPOIF_BL)
        SupervisaColateralDatRadPP(-3);
}

void CSupervisorRecurso::EnviaOptionsColateral() {
    const DatosColateral d = LeeDatos(psConfig);
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
        aiColateralTemp[0] = ArmaGuarda(TICKS_RESPUESTA, 0, 0);
        if (aiColateralTemp[0] < 0) return;
    }
    poMiPasaGus->EnviaOptions(d.acUriLocal, d.acUriRemota, tipo);
}

void CSupervisorRecurso::Traplic_Respuesta_for_Options() {
    CancelaTemp(&aiColateralTemp[0]);
    if (iEstadoColateral == 1) return;
    const DatosColateral d = LeeDatos(psConfig);
    {
        cfgCerrojo l(&tMutexGlobal);
        iEstadoColateral = 1;
        const int t = d.iTmSupervOptions > 0 ? d.iTmSupervOptions : 5;
        poContadores->contadores[3] = static_cast<uint32_t>(t) * 1000000u;
    }
    iCambioColateral = 1;
    EnviaEstadoColateral();
    Eventos_SupervisionOptions(255, d.acUriRemota);
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Supervision Options OK", iMiNumRecurso);
}

void CSupervisorRecurso::EnviaEstadoColateral() {
    const int t = DameIdentidad().iTipoIf;
    if (iHijoConfigurado != 1 || (t != TIPOIF_ATSR2 && t != TIPOIF_ATSN5 && t != TIPOIF_LCEN)) return;
    EnviaCodigoDebug(13, static_cast<uint8_t>(iEstadoColateral & 0xFF));
}

void CSupervisorRecurso::TomaModoRadio(int iModo) {
    const int n = iMiNumRecurso;
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Cambia modo Radio (%i)", n, iModo);
    const DatosColateral d = LeeDatos(psConfig);
    if (d.iTipoIf != TIPOIF_RADIO) return;
    {
        cfgCerrojo l(&tMutexGlobal);
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
    CancelaTemp(&iTempBucle);
    EnviaCodigoDebug(14, static_cast<uint8_t>(iModo));
}

void CSupervisorRecurso::ActivaBucleRadio(int iTipo, int iEmplazamiento) {
    const int n = iMiNumRecurso;
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: ActivaBucleRadio (%i, %i)", n, iTipo, iEmplazamiento);
    const DatosColateral d = LeeDatos(psConfig);
    if (d.iTipoIf != TIPOIF_RADIO || d.iNumPaquetesSqOff == 1) return;
    if (iModoMantenimiento != 1) {
        NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: ActivaBucleRadio: canal no esta en modo manten ", n);
        return;
    }
    if (iTipo == 0) {
        {
            cfgCerrojo l(&tMutexGlobal);
            iTipoBucle = iEmplazamientoBucle = iBuclePendiente = 0;
        }
        CancelaTemp(&iTempBucle);
        return;
    }
    cfgCerrojo l(&tMutexGlobal);
    if (iBuclePendiente || iTempBucle != -1) {
        NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: ActivaBucleRadio: bucle en proceso", n);
        return;
    }
    iTipoBucle = iTipo;
    iEmplazamientoBucle = iTipo == 1 ? 0 : iEmplazamiento;
    iBuclePendiente = 1;
}

// ---- Equipment and emplacement states ----------------------------------------------------------

bool CSupervisorRecurso::EsEquipoActivo(int i) {
    const int e = i / 4, j = i % 4;
    if (i < 0 || e > 2) return false;
    return j < 2 ? aucEqActivoTXRX[2 * e] == j : aucEqActivoTXRX[2 * e + 1] == j - 2;
}

void CSupervisorRecurso::FijaEquipoActivoColateral(int i) {
    const int e = i / 4, j = i % 4;
    if (i < 0 || e > 2) return;
    if (j < 2)
        aucEqActivoTXRX[2 * e] = static_cast<uint8_t>(j);
    else
        aucEqActivoTXRX[2 * e + 1] = static_cast<uint8_t>(j - 2);
}

int CSupervisorRecurso::EstadoParejaReposo(int i) {
    const DatosColateral d = LeeDatos(psConfig);
    if (d.iTipoRadio == 0 || d.iTipoRadio == 2) return -1;
    const int j = i % 4;
    const int pareja = (j == 0 || j == 2) ? i + 1 : i - 1;
    InfoSesion* s = oSesiones.BuscaPorColateral(pareja);
    if (s == nullptr || s->idsesion < 0) return -1;
    return s->iReposo == 1 ? 1 : 0;
}

bool CSupervisorRecurso::EquipoActivo(int i) {
    const DatosColateral d = LeeDatos(psConfig);
    if (iModoMantenimiento == 1 && (iTipoBucle == 0 || iEmplazamientoBucle != i / 4)) return false;
    return d.iTipoRadio == 0 || d.iTipoRadio == 2 || EsEquipoActivo(i) || EstadoParejaReposo(i) == -1;
}

int CSupervisorRecurso::DameEstadoEmplazamiento(int e, int* txa, int* rxa, int* txb, int* rxb) {
    if (poColateral == nullptr) {
        *txa = *rxa = *txb = *rxb = CColateral::NO_CONFIGURADO;
        return -1;
    }
    const int r = poColateral->DameEstadoUris(e, txa, rxa, txb, rxb);
    int* estados[4] = {txa, txb, rxa, rxb};
    for (int k = 0; k < 4; ++k) {
        if (*estados[k] != CColateral::SIN_SESION) continue;
        InfoSesion* s = oSesiones.BuscaPorColateral(e * 4 + k);
        if (s && s->idsesion >= 0) *estados[k] = s->iReposo == 1 ? CColateral::REPOSO : CColateral::ACTIVO;
    }
    return r;
}

int CSupervisorRecurso::FijaEquipoActivo(int e, int iSentido, int iEquipo) {
    const uint8_t* a = aucEqActivoTXRX;
    std::printf("aucEqActivoTXRX = %i %i %i %i %i %i \n", a[0], a[1], a[2], a[3], a[4], a[5]);
    if (e < 0 || e >= 3 || iSentido < 0 || iSentido >= 2 || (iEquipo != 0 && iEquipo != 1)) return -1;
    int txa, rxa, txb, rxb;
    DameEstadoEmplazamiento(e, &txa, &rxa, &txb, &rxb);
    const int estado = iSentido == 0 ? (iEquipo == 0 ? txa : txb) : (iEquipo == 0 ? rxa : rxb);
    if (estado == CColateral::SIN_SESION || estado == CColateral::NO_CONFIGURADO) return -2;
    aucEqActivoTXRX[2 * e + iSentido] = static_cast<uint8_t>(iEquipo);
    std::printf("1- aucEqActivoTXRX = %i %i %i %i %i %i \n", a[0], a[1], a[2], a[3], a[4], a[5]);
    MarcaCambioEmplazamiento(e * 4);
    return 0;
}

void CSupervisorRecurso::MarcaCambioEmplazamiento(int i) {
    if (i < 0) return;
    if (i >= 17) {
        aiCambioEmplazamiento[0] = aiCambioEmplazamiento[1] = aiCambioEmplazamiento[2] = 1;
        return;
    }
    if (i / 4 < 3) aiCambioEmplazamiento[i / 4] = 1;
}

int CSupervisorRecurso::HaySesiones() {
    for (const auto& s : oSesiones)
        if (s.idsesion >= 0) return 1;
    return 0;
}

// ---- Publication ------------------------------------------------------------------------------

void CSupervisorRecurso::PublicaColaterales() {
    const DatosColateral d = LeeDatos(psConfig);
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

void CSupervisorRecurso::PublicaEmplazamiento(int e) {
    int est[4];  // TX A, RX A, TX B, RX B
    if (DameEstadoEmplazamiento(e, &est[0], &est[1], &est[2], &est[3]) < 0) return;
    Sumidero().EvtPublicaEmplazamiento(iMiNumRecurso, DameIdentidad().acNombre, e, est, aucEqActivoTXRX[2 * e] == 0 ? 1 : 2,
                                       aucEqActivoTXRX[2 * e + 1] == 0 ? 1 : 2);
}

void CSupervisorRecurso::PublicaSesiones() {
    CEventos::SesionPublicada as[4];
    for (auto& g : as) g = {9, 0, ""};
    int n = 0;
    for (const auto& s : oSesiones) {
        if (s.idsesion < 0 || n == 4) continue;
        as[n].iActivo = s.iReposo == 1 ? 0 : 1;
        as[n].iPrioridad = s.ucPrioridad;
        Copia(as[n].acUri, s.Origen, 80);
        ++n;
    }
    Sumidero().EvtPublicaSesiones(iMiNumRecurso, DameIdentidad().acNombre, as);
}

void CSupervisorRecurso::PublicaEstadoRadio() {
    const DatosColateral d = LeeDatos(psConfig);
    int estado;
    if (ucEstadoPublicado == 10)
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
    const char* uri = "";
    int vistas = 0;
    for (const auto& s : oSesiones) {
        if (s.idsesion < 0) continue;
        const bool entrante = s.iTipoSesion == 1;
        uri = entrante ? s.Origen : s.acDestino;
        tipo = entrante ? 4 : 3;
        // A hot line shows one session as it is; a second one, or any on other lines, as busy.
        if (d.iTipoIf != TIPOIF_LCEN || ++vistas == 2) {
            tipo = 1;
            break;
        }
    }
    Sumidero().EvtPublicaEstado(iMiNumRecurso, d.acNombre, estado, tipo, superv, uri);
}

// ---- Helpers -----------------------------------------------------------------------------------

int CSupervisorRecurso::DameIdUsuario(char* szSalida, size_t uiTam, int iIndice) {
    CCONFIG* c = superecDameConfig();
    if (c == nullptr || szSalida == nullptr || uiTam == 0 || iIndice < 0) return -1;
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
            Copia(texto, nombre, 64);
        } else {
            const int num = psConfig->size_aListaEnlacesExternos;
            if (iIndice >= num || iIndice >= CFG_MAX_ENLACES_EXTERNOS) return -1;
            if (psConfig->aListaEnlacesExternos[iIndice][0] == '\0') return -1;
            Copia(texto, psConfig->aListaEnlacesExternos[iIndice], 64);
        }
    }
    if (std::strlen(texto) >= uiTam) return -1;
    std::memcpy(szSalida, texto, std::strlen(texto) + 1);
    TcpCons::Traza(MASCARA_TRAZA_RECURSOS,
                   tipoIf == TIPOIF_AB ? "CSUPEREC[%d]: Next USU RTB = %s\n" : "CSUPEREC[%d]: variable idusu = %s\n",
                   iMiNumRecurso, szSalida);
    return 0;
}

int CSupervisorRecurso::DameUriPropia(char* szSalida, size_t uiTam, const char* szNumero) {
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

int CSupervisorRecurso::SacaUsuarioUri(const char* szUri, char* szSalida) {
    if (szUri == nullptr || szSalida == nullptr) return -1;
    const char* p = std::strstr(szUri, "sip:");
    CopiaParteUri(p ? p + 4 : szUri, "@", LON_PARTE_URI, szSalida);
    return 0;
}

int CSupervisorRecurso::SacaDominioUri(const char* szUri, char* szSalida) {
    if (szUri == nullptr || szSalida == nullptr) return -1;
    const char* p = std::strchr(szUri, '@');
    CopiaParteUri(p ? p + 1 : szUri, ">", LON_PARTE_URI, szSalida);
    return 0;
}
