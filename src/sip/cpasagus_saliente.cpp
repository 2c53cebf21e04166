// Outgoing SIP legs of the gateway (From, To, Request-URI, Subject and priority of the INVITE)
// and the local RTP ports every SIP session holds.
#include <cstdio>
#include <cstring>

#include "comun/cdireccionip.h"
#include "comun/nlog.h"
#include "red/tcpcons.h"
#include "sip/cpasagus.h"
#include "sip/encaminauri.h"

namespace {
const uint32_t kTrazaSip = 0x40;
const uint32_t kTrazaDebug = 0x8000;
const int kLonUri = 80;
}  // namespace

int CPasaGus::AsignaPuerto(int32_t cid) {
    pthread_mutex_lock(&tMutex);
    const int p = sPool.AsignaLocalPort(cid);
    pthread_mutex_unlock(&tMutex);
    return p;
}

void CPasaGus::LiberaPuerto(int iPuerto, int32_t cid) {
    pthread_mutex_lock(&tMutex);
    sPool.LiberaLocalPort(iPuerto, cid);
    pthread_mutex_unlock(&tMutex);
}

int CPasaGus::PuertosLibres() {
    pthread_mutex_lock(&tMutex);
    const int n = sPool.Libres();
    pthread_mutex_unlock(&tMutex);
    return n;
}

int CPasaGus::DevuelveLocalPort(int, int cid, int iPuerto) {
    LiberaPuerto(iPuerto, cid);
    return 0;
}

int CPasaGus::PrioridadSip(int iPrioridad) {
    switch (iPrioridad) {
    case 1: case 6: return 1;
    case 2: case 7: return 2;
    case 3: case 8: return 3;
    default: return 4;
    }
}

int CPasaGus::DameUriLocal(char* szUri, const char* szNombre) {
    const uint32_t uiIp = DameIpPropia("eth0");
    if (uiIp == 0) return -1;
    CDireccionIp oIp;
    oIp.TomaValor(uiIp);
    std::snprintf(szUri, kLonUri + 1, "sip:%.*s@%s", kLonUri - 21, szNombre ? szNombre : "", oIp.texto);
    return 0;
}

int CPasaGus::IniciaLlamadaSip(int iUsuario, const char* szUriPeticion, const char* szFrom, const char* szTo,
                               const char* szSubject, int iPrioridad, int* piPuertoLocal,
                               const ParamLlamadaRadio* psExtra) {
    int iPuerto = *piPuertoLocal;
    if (iPuerto < 1) {
        iPuerto = AsignaPuerto(PoolLocalPort::CID_PENDIENTE);
        if (iPuerto < 1) {
            TcpCons::Traza(kTrazaDebug, " YA NO HAY LOCAALPORT QUE ASIGNAR MAX = %i\n",
                           static_cast<int>(PoolLocalPort::NUM_PUERTOS));
            *piPuertoLocal = -1;
            return -1;
        }
    } else {
        // The caller's session lends its port to this leg until the leg's end.
        pthread_mutex_lock(&tMutex);
        sPool.CambiaDueno(iPuerto, PoolLocalPort::CID_PENDIENTE);
        pthread_mutex_unlock(&tMutex);
    }
    *piPuertoLocal = iPuerto;
    char acPuerto[16];
    std::snprintf(acPuerto, sizeof acPuerto, "%d", iPuerto);
    const int cid = IniciaLlamada(iUsuario, szFrom, szTo, szUriPeticion, acPuerto, szSubject, iPrioridad, psExtra);
    pthread_mutex_lock(&tMutex);
    if (cid < 0) sPool.LiberaLocalPort(iPuerto, PoolLocalPort::CID_PENDIENTE);
    else sPool.CambiaDueno(iPuerto, cid);
    pthread_mutex_unlock(&tMutex);
    // A failed leg holds no port: the caller's variable must not name one the pool may give to
    // another session.
    if (cid < 0) *piPuertoLocal = -1;
    return cid;
}

int CPasaGus::LanzaLlamadaSip(int iUsuario, DatosLlamadaGestor* d, int* piPuertoLocal) {
    if (!d || !piPuertoLocal) return -1;
    ParamLlamadaRadio sExtra;
    std::memset(&sExtra, 0, sizeof sExtra);
    NLOG::Log(NLOG::INFO, "Cpasagus: pDatosLlamada->NumOrigen=%s pDatosLlamada->NumDestino=%s", d->NumOrigen,
              d->NumDestino);
    char acFrom[kLonUri + 1];
    if (!d->NumOrigen[0]) {
        if (DameUriLocal(acFrom, d->UsuOrigen) != 0) return -1;
    } else if (EsUriSip(d->NumOrigen) != 0) {
        if (DameUriLocal(acFrom, d->NumOrigen) != 0) return -1;
    } else {
        SacaUsuarioUri(d->NumOrigen);
        std::snprintf(acFrom, sizeof acFrom, "%.*s", kLonUri, d->NumOrigen);
        TcpCons::Traza(kTrazaSip, "Cpasagus: pDatosLlamada->NumOrigen=%s FROM= %s\n", d->NumOrigen, acFrom);
    }
    NLOG::Log(NLOG::INFO, "Cpasagus: FROM= %s pDatosLlamada->UsuDestino= %s\n", acFrom, d->UsuDestino);

    char acUri[kLonUri + 1];
    if (EsUriSip(d->NumDestino) != 0) {
        char acDireccion[65];
        if (BuscaDireccionUsuario(d->UsuDestino, acDireccion) != 0) return -1;
        char acUsuario[82];
        if (d->NumDestino[0]) {
            std::snprintf(acUsuario, sizeof acUsuario, "%s", d->NumDestino);
        } else {
            char acNumero[21];
            if (BuscaNumeroSip(d->UsuDestino, acNumero) == 0) std::snprintf(acUsuario, sizeof acUsuario, "%s", acNumero);
            else std::snprintf(acUsuario, sizeof acUsuario, "%s", d->UsuDestino);
        }
        if (std::snprintf(acUri, sizeof acUri, "sip:%s@%s:%s", acUsuario, acDireccion, "5060") >=
            static_cast<int>(sizeof acUri)) {
            NLOG::Log(NLOG::ERROR, "Cpasagus: URI demasiado larga para %s", acUsuario);
            return -1;
        }
    } else {
        const char* p = std::strchr(d->NumDestino, '<');
        p = p ? p + 1 : d->NumDestino;
        std::snprintf(acUri, sizeof acUri, "%.*s", kLonUri, p);
        acUri[std::strcspn(acUri, ";")] = '\0';
        acUri[std::strcspn(acUri, ">")] = '\0';
    }
    TcpCons::Traza(kTrazaSip, "Cpasagus: REQ_URI= %s\n", acUri);
    TcpCons::Traza(kTrazaSip, "Cpasagus: TO= %s\n", acUri);

    const char* szSubject = "";
    switch (d->tipo) {
    case 1: szSubject = "IA call"; break;
    case 2: szSubject = "DA/IDA call"; break;
    case 3: szSubject = "radio"; break;
    case 4: szSubject = "SCIP-DATOS"; break;
    default: break;
    }
    int cid;
    if (d->NumDestino[0]) {
        sExtra.iLibre = d->iContTransitos;
        sExtra.iTipoSesion = d->iTipoSesionRadio;
        std::snprintf(sExtra.acParamTo, sizeof sExtra.acParamTo, "%.*s", static_cast<int>(sizeof sExtra.acParamTo - 1),
                      d->UsuDestino);
        std::snprintf(sExtra.acParamFrom, sizeof sExtra.acParamFrom, "%.*s",
                      static_cast<int>(sizeof sExtra.acParamFrom - 1), d->UsuOrigen);
        sExtra.prio = d->ucPrioridad;
        std::snprintf(sExtra.acReferredBy, sizeof sExtra.acReferredBy, "%.*s",
                      static_cast<int>(sizeof sExtra.acReferredBy - 1), d->ReferredBy);
        std::snprintf(sExtra.acReplaces, sizeof sExtra.acReplaces, "%.*s",
                      static_cast<int>(sizeof sExtra.acReplaces - 1), d->Replaces);
        std::snprintf(sExtra.fid, sizeof sExtra.fid, "%.*s", static_cast<int>(sizeof sExtra.fid - 1), d->Fid);
        sExtra.bss = d->ucModoBss;
        cid = IniciaLlamadaSip(iUsuario, acUri, acFrom, acUri, szSubject, PrioridadSip(d->ucPrioridad), piPuertoLocal,
                               &sExtra);
        TcpCons::Traza(kTrazaSip, "Cpasagus: cid = %i\n", cid);
    } else {
        cid = IniciaLlamadaSip(iUsuario, acUri, acFrom, acUri, szSubject, d->ucPrioridad, piPuertoLocal, nullptr);
    }
    return cid >= 0 ? cid : -1;
}
