// WG67 subscriptions served by the bridge (a resource's KEY-IN, the gateway's P/R), the state
// records the resources publish, and the bridge's console dumps. The lists and the states are
// guarded by tMutexSuscripciones, which is never held while a NOTIFY is sent or a supervisor
// is called.
#include <cstdio>
#include <cstring>

#include "comun/cdireccionip.h"
#include "comun/nlog.h"
#include "red/tcpcons.h"
#include "sip/cpasagus.h"
#include "sip/csipua.h"
#include "sip/encaminauri.h"

namespace {
const char kEventoKeyIn[] = "WG67 KEY-IN";
const char kEventoPR[] = "WG67 P/R";
const char kSinCuerpo[] = "\n\r";
const int kLonCuerpo = 2048;
// Expiry of the P/R subscription the gateway sends to its pair, in seconds.
const int kExpiraPR = 600;
}  // namespace

ListaSuscripciones* CPasaGus::ListaDe(int iUsuario) {
    if (iUsuario == -1) return &ListaPR;
    const int i = BuscaRecursoPorUsuario(iUsuario);
    return i < 0 ? nullptr : &asRecursos[i].ListaKeyIn;
}

void CPasaGus::CuerpoKeyIn(CRecursoSip* poSuper, char* acCuerpo, size_t uiTam) {
    if (!poSuper || poSuper->DameListaPttId(acCuerpo, uiTam) < 0 || !acCuerpo[0])
        std::snprintf(acCuerpo, uiTam, "%s", kSinCuerpo);
}

void CPasaGus::Traplic_WG67_Key_In_Subscription(int iUsuario, int nid, int iDialogo, int iExpiraMs) {
    const bool bPR = iUsuario == -1;
    char acCuerpo[kLonCuerpo];
    if (bPR) {
        std::snprintf(acCuerpo, sizeof acCuerpo, "%s", iEstadoPR == 0 ? "QLN PRINCIPAL" : "QLN RESERVA");
    } else {
        CRecursoSip* s = DameSupervisor(iUsuario);
        if (!s) {
            NLOG::Log(NLOG::INFO, "GUS entrego Id-Usr no valido a Traplic_WG67_Key_In_Subscription() %i-%i", iUsuario,
                      nid);
            return;
        }
        CuerpoKeyIn(s, acCuerpo, sizeof acCuerpo);
    }
    const uint32_t uiAhora = Ahora();
    pthread_mutex_lock(&tMutexSuscripciones);
    ListaSuscripciones* l = ListaDe(iUsuario);
    if (!l) {
        pthread_mutex_unlock(&tMutexSuscripciones);
        return;
    }
    l->PurgaSuscripcion(uiAhora);
    const int i = l->BuscaSuscripcion(nid);
    if (iExpiraMs < 1) {
        if (i < 0) {
            NLOG::Log(NLOG::INFO, "Fin de suscripcion WG67_Key_In que no existia %i-%i", iUsuario, nid);
        } else {
            l->Borra(i);
            if (bPR) NLOG::Log(NLOG::INFO, "Fin de suscripcion WG67_P_R nid=%i", nid);
            else NLOG::Log(NLOG::INFO, "Fin de suscripcion WG67_Key_In %i-%i", iUsuario, nid);
        }
        pthread_mutex_unlock(&tMutexSuscripciones);
        return;
    }
    // A refresh keeps the expiry the subscription was first stored with.
    if (i < 0) {
        const int64_t iTicks = static_cast<int64_t>(iExpiraMs / 10) * 11 / 10;
        if (l->AnadeSuscripcion(nid, uiAhora + static_cast<uint32_t>(iTicks)) < 0) {
            pthread_mutex_unlock(&tMutexSuscripciones);
            NLOG::Log(NLOG::INFO, "No puedo guardar suscripcion WG67_Key_In %i, %i", iUsuario, nid);
            return;
        }
    }
    pthread_mutex_unlock(&tMutexSuscripciones);
    NLOG::Log(NLOG::INFO, "Suscripcion WG67_Key_In OK %i-%i", iUsuario, nid);
    if (DameSipua()) DameSipua()->NotificaDialogo(iDialogo, bPR ? kEventoPR : kEventoKeyIn, acCuerpo);
}

int CPasaGus::NotificaKeyIn(int iUsuario) {
    CRecursoSip* s = DameSupervisor(iUsuario);
    if (!s) {
        NLOG::Log(NLOG::INFO, "Id-Usr no valido %i", iUsuario);
        return -1;
    }
    char acCuerpo[kLonCuerpo];
    CuerpoKeyIn(s, acCuerpo, sizeof acCuerpo);
    int32_t aiNids[ListaSuscripciones::MAX_SUSCRIPCIONES];
    int n = 0;
    pthread_mutex_lock(&tMutexSuscripciones);
    if (ListaSuscripciones* l = ListaDe(iUsuario)) {
        l->PurgaSuscripcion(Ahora());
        n = l->Nids(aiNids);
    }
    pthread_mutex_unlock(&tMutexSuscripciones);
    for (int i = 0; i < n && DameSipua(); i++) DameSipua()->NotificaSuscripcion(aiNids[i], kEventoKeyIn, acCuerpo);
    return 0;
}

int CPasaGus::NotificaPR(int iReserva) {
    iEstadoPR = iReserva;
    int32_t aiNids[ListaSuscripciones::MAX_SUSCRIPCIONES];
    pthread_mutex_lock(&tMutexSuscripciones);
    ListaPR.PurgaSuscripcion(Ahora());
    const int n = ListaPR.Nids(aiNids);
    pthread_mutex_unlock(&tMutexSuscripciones);
    const char* szCuerpo = iReserva ? "QLN RESERVA" : "QLN PRINCIPAL";
    for (int i = 0; i < n && DameSipua(); i++) DameSipua()->NotificaSuscripcion(aiNids[i], kEventoPR, szCuerpo);
    return 0;
}

int CPasaGus::NumSuscriptores(int iUsuario) {
    return iUsuario < 0 ? 0 : CuentaSuscriptores(iUsuario);
}

int CPasaGus::NumSuscriptoresPR() { return CuentaSuscriptores(-1); }

int CPasaGus::CuentaSuscriptores(int iUsuario) {
    pthread_mutex_lock(&tMutexSuscripciones);
    ListaSuscripciones* l = ListaDe(iUsuario);
    int n = 0;
    if (l) {
        l->PurgaSuscripcion(Ahora());
        n = static_cast<int>(l->uiNum);
    }
    pthread_mutex_unlock(&tMutexSuscripciones);
    return n;
}

int CPasaGus::SuscribePR() {
    const DatosCfg cfg = LeeCfg();
    const uint32_t uiIp = DameIpPropia("eth0");
    if (uiIp == 0) return -1;
    CDireccionIp oIp;
    oIp.TomaValor(uiIp);
    char acFrom[81], acTo[81];
    std::snprintf(acFrom, sizeof acFrom, "sip:%.56s@%s", cfg.szNombre, oIp.texto);
    if (DameUriPropia(cfg.szNombre, acTo) != 0) return -1;
    return Suscribe(-1, acTo, acFrom, kEventoPR, kExpiraPR);
}

// ---- Published states ---------------------------------------------------------------------------

int CPasaGus::EligeEstadoRepresentativo(const DatosRecurso& r) const {
    for (int i = 0; i < NUM_RANURAS; i++)
        if (r.asEstado[i].ucEstado == 0) return i;
    int iElegido = -1;
    for (int i = 0; i < NUM_RANURAS; i++) {
        const sEstadoPublicado& e = r.asEstado[i];
        if (e.ucEstado != 1) continue;
        if (iElegido < 0) {
            iElegido = i;
            continue;
        }
        const sEstadoPublicado& m = r.asEstado[iElegido];
        if (e.iValor < m.iValor || (e.iValor == m.iValor && e.aiExtra[1] > m.aiExtra[1])) iElegido = i;
    }
    if (iElegido >= 0) return iElegido;
    for (int iEstado : {3, 2})
        for (int i = 0; i < NUM_RANURAS; i++)
            if (r.asEstado[i].ucEstado == iEstado) return i;
    return 0;
}

int CPasaGus::ActualizaEstadoUsuario(int iUsuario, int iValor, const sEstadoPublicado* psEstado) {
    // The registry under its lock: a supervisor may take its resource off meanwhile.
    pthread_mutex_lock(&tMutex);
    const int i = BuscaRecursoPorUsuario(iUsuario);
    if (i < 0 || !psEstado) {
        pthread_mutex_unlock(&tMutex);
        NLOG::Log(NLOG::INFO, "Id-Usr no valido %i", iUsuario);
        return -1;
    }
    const int iRanura = psEstado->ucIndice;
    if (iRanura >= NUM_RANURAS) {
        pthread_mutex_unlock(&tMutex);
        return 0;
    }
    DatosRecurso& r = asRecursos[i];
    const int iTipo = r.tipo;
    char acNombre[sizeof r.nombre];
    std::memcpy(acNombre, r.nombre, sizeof acNombre);
    sEstadoPublicado sPublica;
    pthread_mutex_lock(&tMutexSuscripciones);
    const bool bIgual = std::memcmp(&r.asEstado[iRanura], psEstado, sizeof *psEstado) == 0;
    if (!bIgual) r.asEstado[iRanura] = *psEstado;
    sPublica = iTipo == TIPOIF_ATSQSIG ? r.asEstado[EligeEstadoRepresentativo(r)] : *psEstado;
    pthread_mutex_unlock(&tMutexSuscripciones);
    pthread_mutex_unlock(&tMutex);
    if (bIgual || ModoSistema() != 0 || !poPublica || iTipo == TIPOIF_RADIO) return 0;
    uint8_t aucRegistro[sizeof sPublica];
    std::memcpy(aucRegistro, &sPublica, sizeof aucRegistro);
    poPublica->ActualizaPublica(acNombre, aucRegistro, iTipo == TIPOIF_LCEN ? 2 : 1, iValor);
    poPublica->Despierta();
    return 0;
}

int CPasaGus::EligeSuscripcion(int iUsuario) {
    const int i = BuscaRecursoPorUsuario(iUsuario);
    if (i < 0) {
        NLOG::Log(NLOG::INFO, "Id-Usr no valido %i", iUsuario);
        return 0;
    }
    pthread_mutex_lock(&tMutexSuscripciones);
    const DatosRecurso& r = asRecursos[i];
    bool bLibre = false;
    for (const auto& e : r.asEstado) bLibre = bLibre || e.ucEstado == 0;
    const int res = bLibre ? -1 : EligeEstadoRepresentativo(r);
    pthread_mutex_unlock(&tMutexSuscripciones);
    return res;
}

sEstadoPublicado CPasaGus::EstadoRanura0(int i) {
    pthread_mutex_lock(&tMutexSuscripciones);
    const sEstadoPublicado e = asRecursos[i].asEstado[0];
    pthread_mutex_unlock(&tMutexSuscripciones);
    return e;
}

// ---- Console dumps ----------------------------------------------------------------------------

void CPasaGus::PintaDatosRecurso() {
    if (DameSipua()) DameSipua()->ListaUsuarios();
    TcpCons::Printf("Datosrecurso:\n");
    for (int i = 0; i < MAX_RECURSOS; i++) {
        const DatosRecurso& r = asRecursos[i];
        TcpCons::Printf("i=%i ", i);
        if (!r.posuperec) TcpCons::Printf("IdUserGus = -1\n");
        else
            TcpCons::Printf("iIdUsrGus=%i nombre=%s  posuperec=%lx\n", r.iIdUsrGus, r.nombre,
                            static_cast<unsigned long>(reinterpret_cast<uintptr_t>(r.posuperec)));
    }
}

void CPasaGus::RecorreDatosExosip(void (*fnLinea)(const char* szLinea)) {
    char ac[96];
    fnLinea("   Datos de eXoSip:");
    fnLinea("      Llamadas:");
    enum { MAX_LLAMADAS = 64 };
    static eXosip_call_info_t asInfo[MAX_LLAMADAS];  // only the console thread dumps
    const int n = DameSipua() ? eXosip_call_get_infos(asInfo, MAX_LLAMADAS) : 0;
    for (int i = 0; i < n && i < MAX_LLAMADAS; i++) {
        const eXosip_call_info_t& c = asInfo[i];
        std::snprintf(ac, sizeof ac, "         cid=%d", c.cid);
        fnLinea(ac);
        for (int d = 0; d < c.ndialogs; d++) {
            std::snprintf(ac, sizeof ac, "            did=%d, state=%d", c.dialogs[d].did, c.dialogs[d].state);
            fnLinea(ac);
            if (c.dialogs[d].inc_trs >= 0) {
                std::snprintf(ac, sizeof ac, "               d_inc_trs tiene %d elementos", c.dialogs[d].inc_trs);
                fnLinea(ac);
            }
            if (c.dialogs[d].out_trs >= 0) {
                std::snprintf(ac, sizeof ac, "               d_out_trs tiene %d elementos", c.dialogs[d].out_trs);
                fnLinea(ac);
            }
        }
        if (c.inc_tid >= 0) std::snprintf(ac, sizeof ac, "            c_inc_tr->transactionid = %d", c.inc_tid);
        else std::snprintf(ac, sizeof ac, "            c_inc_tr=NULL");
        fnLinea(ac);
        if (c.out_tid >= 0) std::snprintf(ac, sizeof ac, "            c_out_tr->transactionid = %d", c.out_tid);
        else std::snprintf(ac, sizeof ac, "            c_out_tr=NULL");
        fnLinea(ac);
    }
    std::snprintf(ac, sizeof ac, "      llamadas (%d)", n);
    fnLinea(ac);
}

void CPasaGus::PintaDatosExosip() {
    RecorreDatosExosip([](const char* sz) { TcpCons::Printf("%s\n", sz); });
}

void CPasaGus::PintaDatosExosipLog() {
    RecorreDatosExosip([](const char* sz) { NLOG::Log(NLOG::INFO, "%s", sz); });
}
