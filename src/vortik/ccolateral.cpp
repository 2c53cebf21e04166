#include "ccolateral.h"

#include <cstdio>
#include <cstring>

#include "cconfig.h"
#include "cgest.h"
#include "csuperec.h"
#include "sip/cgestorllamada.h"

namespace {
template <size_t N>
void Copia(char (&destino)[N], const char* origen, size_t maximo = N - 1) {
    std::snprintf(destino, N, "%.*s", static_cast<int>(maximo < N - 1 ? maximo : N - 1), origen ? origen : "");
}
}  // namespace

CColateral::CColateral(cfgConfigRecurso* psCfg, int iRec) : iRecurso(iRec), psConfig(psCfg) {}

int CColateral::DameDestino(int indice, DatosLlamadaGestor* p) {
    if (psConfig == nullptr || p == nullptr || superecDameConfig() == nullptr) return -1;
    cfgCerrojo c(&superecDameConfig()->tMutex);
    const cfgConfigRecurso& r = *psConfig;
    if (r.iTipoIf == TIPOIF_RADIO) {
        const cfgParamRadio& radio = r.uParam.radio;
        if (radio.iTipoRadio >= 4 && radio.iTipoRadio <= 6) return -1;
        std::memset(p, 0, sizeof *p);
        p->tipo = 3;
        if (r.szUriLocal[0] == '\0') return -1;
        Copia(p->NumOrigen, r.szUriLocal, 80);
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
        Copia(p->NumDestino, uri, 80);
        p->iTipoSesionRadio = sentido;
        return 0;
    }
    if (r.iTipoIf >= TIPOIF_LCEN && r.iTipoIf <= TIPOIF_AB) {
        if (indice != 0) return -1;
        std::memset(p, 0, sizeof *p);
        if (r.szUriLocal[0] == '\0' || r.sColateral.szUriRemota[0] == '\0') return -1;
        Copia(p->NumOrigen, r.szUriLocal, 80);
        Copia(p->NumDestino, r.sColateral.szUriRemota, 80);
        p->tipo = r.iTipoIf == TIPOIF_LCEN ? 2 : 3;
        return 0;
    }
    return 0;
}

int CColateral::EsValido() {
    if (psConfig == nullptr || superecDameConfig() == nullptr) return 0;
    cfgCerrojo c(&superecDameConfig()->tMutex);
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
    if (psConfig == nullptr || superecDameConfig() == nullptr) return 0;
    cfgCerrojo c(&superecDameConfig()->tMutex);
    return psConfig->iTipoIf == TIPOIF_RADIO && psConfig->uParam.radio.iClimaxDelay != 0 ? 1 : 0;
}

int CColateral::EsConmutacionA() {
    if (psConfig == nullptr || superecDameConfig() == nullptr) return 0;
    cfgCerrojo c(&superecDameConfig()->tMutex);
    return psConfig->iTipoIf == TIPOIF_RADIO && psConfig->uParam.radio.cTipoConmutacion == 'A' ? 1 : 0;
}

int CColateral::DameUriRemota(char* dst) {
    if (psConfig == nullptr || dst == nullptr || superecDameConfig() == nullptr) return -1;
    cfgCerrojo c(&superecDameConfig()->tMutex);
    std::printf("nombre= %s\n", psConfig->nombre);
    if (psConfig->sColateral.szUriRemota[0] == '\0') return -1;
    std::printf("colateral: %s\n", psConfig->sColateral.szUriRemota);
    std::snprintf(dst, 81, "%.80s", psConfig->sColateral.szUriRemota);
    return 0;
}

int CColateral::DameEstadoUris(int e, int* txa, int* rxa, int* txb, int* rxb) {
    *txa = *rxa = *txb = *rxb = NO_CONFIGURADO;
    if (psConfig == nullptr || superecDameConfig() == nullptr || e < 0 || e > 3) return -1;
    cfgCerrojo c(&superecDameConfig()->tMutex);
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
