#include "ctablasesiones.h"

#include <cstdio>
#include <cstring>

#include "cfg/cfgpasarela.h"
#include "comun/gestormutex.h"
#include "red/tcpcons.h"

namespace {
constexpr uint32_t MASCARA_TRAZA_RECURSOS = 0x3E;
}  // namespace

void InfoSesion::Reinicia() {
    cid = idsesion = idllam = -1;
    iTempSesion = iTempLlamada = iTempAux = -1;
    iIndiceColateral = iReposo = iGestorTransferencia = iCidRefer = -1;
    iSesionPedida = iLlamadaPedida = iPreemption = iTipoSesion = iEsFoco = 0;
    iTipoSipMapeado = iTipoLlamada = iPayloadForzado = iPayload = iRtphe = 0;
    iPuertoLocal = -1;
    iPuertoRemoto = 0;
    iPttId = 0;
    iTipoSesionSip = -1;
    ucPrioridad = 0;
    Origen[0] = '\0';
    acDestino[0] = '\0';
}

CTablaSesiones::CTablaSesiones() : iRecurso(-1), tMutexSesion() {
    for (auto& s : asInfoSesion) s.Reinicia();
}

CTablaSesiones::~CTablaSesiones() = default;

void CTablaSesiones::Inicia(int iRec) {
    iRecurso = iRec;
    char nombre[LON_NOMBRE_MUTEX + 1];
    std::snprintf(nombre, sizeof nombre, "CSuperRec[%d].tMutexSesion", iRec);
    CreaMutex(nombre, &tMutexSesion, nullptr);
}

InfoSesion* CTablaSesiones::Asigna() {
    for (int i = 0; i < MAX_INFO_SESION; ++i) {
        if (asInfoSesion[i].cid == -1) {
            asInfoSesion[i].cid = -2;
            TcpCons::Traza(MASCARA_TRAZA_RECURSOS, "CSUPEREC[%d]: infosesion=%d\n", iRecurso, i);
            return &asInfoSesion[i];
        }
    }
    return nullptr;
}

void CTablaSesiones::Vacia(InfoSesion* s) {
    cfgCerrojo l(&tMutexSesion);
    s->cid = s->idsesion = s->idllam = s->iPuertoLocal = -1;
    s->iGestorTransferencia = s->iCidRefer = s->iIndiceColateral = s->iReposo = s->iTipoSesionSip = -1;
    s->iSesionPedida = s->iLlamadaPedida = s->iPreemption = 0;
    s->iTipoSesion = s->iPttId = s->iEsFoco = 0;
    s->Origen[0] = '\0';
    s->acDestino[0] = '\0';
}

template <typename F>
InfoSesion* CTablaSesiones::Primera(F fCumple) {
    for (auto& s : asInfoSesion)
        if (fCumple(s)) return &s;
    return nullptr;
}

InfoSesion* CTablaSesiones::BuscaPorCid(int cid) {
    if (cid < 0) return nullptr;
    return Primera([cid](const InfoSesion& s) { return s.cid == cid; });
}
InfoSesion* CTablaSesiones::BuscaPorIdSesion(int id) {
    if (id < 0) return nullptr;
    return Primera([id](const InfoSesion& s) { return s.idsesion == id; });
}
InfoSesion* CTablaSesiones::BuscaPorIdLlamada(int id) {
    if (id == -1) return nullptr;
    return Primera([id](const InfoSesion& s) { return s.idllam == id; });
}
InfoSesion* CTablaSesiones::BuscaPorColateral(int i) {
    if (i < 0) return nullptr;
    return Primera([i](const InfoSesion& s) { return s.iIndiceColateral == i; });
}
InfoSesion* CTablaSesiones::BuscaPorTipoSesion(int t) {
    return Primera([t](const InfoSesion& s) { return s.cid >= 0 && s.iTipoSesionSip == t; });
}
InfoSesion* CTablaSesiones::BuscaPorLlamadaYDestino(int id, const char* d) {
    return Primera([id, d](const InfoSesion& s) { return s.idllam == id && d && std::strcmp(s.acDestino, d) == 0; });
}
InfoSesion* CTablaSesiones::BuscaPorOrigen(const char* o) {
    if (o == nullptr || o[0] == '\0') return nullptr;
    return Primera([o](const InfoSesion& s) { return s.cid != -1 && std::strcmp(s.Origen, o) == 0; });
}
InfoSesion* CTablaSesiones::BuscaPreemption() {
    return Primera([](const InfoSesion& s) { return s.cid != -1 && s.iPreemption == 1; });
}
InfoSesion* CTablaSesiones::BuscaSiguientePorIdLlamada(InfoSesion* p, int id) {
    int i = p ? static_cast<int>(p - asInfoSesion) + 1 : 0;
    for (; i < MAX_INFO_SESION; ++i)
        if (asInfoSesion[i].idllam == id) return &asInfoSesion[i];
    return nullptr;
}
int CTablaSesiones::CuentaPorIdLlamada(int id) {
    int n = 0;
    for (auto& s : asInfoSesion)
        if (s.idllam == id) ++n;
    return n;
}
int CTablaSesiones::CuentaOcupadas() {
    cfgCerrojo l(&tMutexSesion);
    int n = 0;
    for (auto& s : asInfoSesion)
        if (s.cid >= 0) ++n;
    return n;
}
