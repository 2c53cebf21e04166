#include "sip/cencamina.h"

#include <pthread.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "comun/gestormutex.h"
#include "red/tcpcons.h"

namespace {
const uint32_t kTrazaDebug = 0x8000;
const uint32_t kNumRutas = 32;
const uint32_t kTroncalesRuta = 8;
const uint32_t kLineasTroncal = 8;
const uint32_t kAbonadosSip = 32;
const uint8_t kRutaDirecta = 0;
const int32_t kAbonadoAts = 3;
const uint8_t kLineaQsig = 7;

// The router's copy of the routing tables.
struct TablasEncamina {
    Central asPlanAts[CFG_NUM_CENTRALES];
    Troncal asTroncales[CFG_NUM_TRONCALES];
    Red asRedes[CFG_NUM_REDES];
    DireccionSip asDireccionamientoSip[CFG_NUM_DIRECCIONES_SIP];
};
static_assert(sizeof(Central) * CFG_NUM_CENTRALES == 138304 && sizeof(Troncal) * CFG_NUM_TRONCALES == 75520);
static_assert(sizeof(Red) * CFG_NUM_REDES == 134208 && sizeof(DireccionSip) * CFG_NUM_DIRECCIONES_SIP == 212992);

TablasEncamina gsTablas;

// Guards gsTablas: a reload may come from the configuration thread while calls are routed.
class CerrojoTablas {
public:
    CerrojoTablas() { pthread_mutex_lock(Mutex()); }
    ~CerrojoTablas() { pthread_mutex_unlock(Mutex()); }
    CerrojoTablas(const CerrojoTablas&) = delete;
    CerrojoTablas& operator=(const CerrojoTablas&) = delete;

private:
    static pthread_mutex_t* Mutex() {
        static struct Creado {
            pthread_mutex_t t;
            Creado() { CreaMutex("CEncamina::tMutexTablas", &t, nullptr); }
        } s;
        return &s.t;
    }
};

// A 64-character identifier field (maybe unterminated) equal to a text.
bool IgualId(const char* acCampo, const char* szTexto) {
    return strnlen(szTexto, 65) <= 64 && std::strncmp(acCampo, szTexto, 64) == 0;
}

void CopiaNombre(char* szDestino, const char* acCampo) { std::snprintf(szDestino, 65, "%.64s", acCampo); }

void LlenaCandidato(CandidatoEncamina* ps, uint8_t ucTipo, const char* acNombre) {
    std::memset(ps, 0, sizeof *ps);
    ps->ucTipoIf = ucTipo;
    std::snprintf(ps->acNombre, sizeof ps->acNombre, "%.64s", acNombre);
    // Until the sink says otherwise a line counts as not published, that is busy.
    for (auto& e : ps->asEstado) e.ucEstado = 10;
}

int ValorRango(const char* acCampo) {
    char ac[7];
    std::memcpy(ac, acCampo, 6);
    ac[6] = '\0';
    return NumeroAts(ac);
}
}  // namespace

int CargaTablasEncamina(const Central* psPlanAts, const Troncal* psTroncales, const Red* psRedes,
                        const DireccionSip* psDireccionamientoSip) {
    if (!psPlanAts || !psTroncales || !psRedes || !psDireccionamientoSip) return -1;
    CerrojoTablas l;
    std::memcpy(gsTablas.asPlanAts, psPlanAts, sizeof gsTablas.asPlanAts);
    std::memcpy(gsTablas.asTroncales, psTroncales, sizeof gsTablas.asTroncales);
    std::memcpy(gsTablas.asRedes, psRedes, sizeof gsTablas.asRedes);
    std::memcpy(gsTablas.asDireccionamientoSip, psDireccionamientoSip, sizeof gsTablas.asDireccionamientoSip);
    return 0;
}

int NumeroAts(const char* szTexto) {
    if (!szTexto) return -1;
    // ATS numbers have six digits; a seventh character is not part of the number.
    char ac[7];
    const size_t n = strnlen(szTexto, 6);
    std::memcpy(ac, szTexto, n);
    ac[n] = '\0';
    return static_cast<int>(std::strtol(ac, nullptr, 10));
}

const Rango* BuscaRango(int iNumero, const Rango* psRangos, int iNum) {
    for (int i = 0; i < iNum; i++) {
        const Rango& r = psRangos[i];
        if (r.desde[0] == 0) break;
        const int iDesde = ValorRango(r.desde), iHasta = ValorRango(r.hasta);
        if (iDesde < 0 || iHasta < 0) break;
        if (iDesde <= iNumero && iNumero <= iHasta) return &r;
    }
    return nullptr;
}

const Central* DameCentralNumero(int iNumero, uint32_t* piPrivilegiado) {
    for (const Central& c : gsTablas.asPlanAts) {
        if (c.centralpropia == CFG_FIN_PLAN_ATS) break;
        if (BuscaRango(iNumero, c.asRangosPriv, 8)) {
            *piPrivilegiado = 1;
            return &c;
        }
        if (BuscaRango(iNumero, c.asRangosOpe, 16)) {
            *piPrivilegiado = 0;
            return &c;
        }
    }
    return nullptr;
}

const Troncal* DameTroncal(const char* szId) {
    if (!szId || szId[0] == '\0') return nullptr;
    for (const Troncal& t : gsTablas.asTroncales) {
        if (t.idtroncal[0] == '\0') break;
        if (IgualId(t.idtroncal, szId)) return &t;
    }
    return nullptr;
}

const Troncal* BuscaTroncalDeLinea(const char* szRecurso) {
    if (!szRecurso || szRecurso[0] == '\0') return nullptr;
    for (const Troncal& t : gsTablas.asTroncales) {
        if (t.idtroncal[0] == '\0') break;
        for (const Miembro& m : t.miembros) {
            if (m.id[0] == '\0') break;
            if (IgualId(m.id, szRecurso)) return &t;
        }
    }
    return nullptr;
}

int DameHostCentral(char* szHost, int iNumero) {
    for (const DireccionSip& d : gsTablas.asDireccionamientoSip) {
        if (d.idusuario[0] == '\0') break;
        for (uint32_t i = 0; i < kAbonadosSip && d.abonados[i].iPrefijo != CFG_FIN_ABONADOS; i++) {
            if (d.abonados[i].iPrefijo == kAbonadoAts && ValorRango(d.abonados[i].szNumero) == iNumero) {
                CopiaNombre(szHost, d.idusuario);
                return 0;
            }
        }
    }
    return -9;
}

// ---- CEncamina ---------------------------------------------------------------------------------

CEncamina::CEncamina()
    : tipoLlamante(0),
      iPrioridad(0),
      iPrioridadTransito(0),
      iContTransitos(0),
      psCentralDestino(nullptr),
      psCentralOrigen(nullptr),
      iRuta(0),
      iTroncal(0),
      iLinea(0),
      iIniciado(0),
      acUltimoRecurso{},
      iOrigenPrivilegiado(0),
      iDestinoPrivilegiado(0),
      iNumOrigen(-1),
      iNumDestino(-1),
      iProgresion(0),
      psTroncalEntrada(nullptr) {}

int CEncamina::Inicia(const char* szOrigen, const char* szDestino, const BloqueLlamante* psLlamante) {
    if (!psLlamante) return -4;
    CerrojoTablas l;
    iNumOrigen = NumeroAts(szOrigen);
    iNumDestino = NumeroAts(szDestino);
    if (iNumOrigen < 0 || iNumDestino < 0) return -2;
    tipoLlamante = psLlamante->tipoLlamante;
    if (tipoLlamante == 0 || tipoLlamante == 2) {
        iPrioridad = psLlamante->iPrioridad;
        if (iPrioridad == 0) iPrioridad = 4;
        if (iPrioridad == 5 || iPrioridad > 9) iPrioridad = 9;
    } else if (tipoLlamante == 3) {
        iPrioridadTransito = psLlamante->iPrioridad;
        iContTransitos = static_cast<uint32_t>(psLlamante->iContTransitos);
    } else {
        return -4;
    }
    psCentralDestino = DameCentralNumero(iNumDestino, &iDestinoPrivilegiado);
    if (!psCentralDestino) return -5;
    iOrigenPrivilegiado = 0;
    psCentralOrigen = DameCentralNumero(iNumOrigen, &iOrigenPrivilegiado);
    if (!psCentralOrigen) return 1;
    if (psCentralOrigen == psCentralDestino) return -14;
    char acUsuario[65];
    std::snprintf(acUsuario, sizeof acUsuario, "%.64s", psLlamante->UsuOrigen);
    psTroncalEntrada = BuscaTroncalDeLinea(acUsuario);
    iRuta = iTroncal = iLinea = 0;
    iProgresion = 0;
    acUltimoRecurso[0] = '\0';
    iIniciado = 1;
    return 0;
}

int CEncamina::PrioridadBase() const { return tipoLlamante == 3 ? iPrioridadTransito : (iPrioridad & 0xFF); }

bool CEncamina::TroncalUtilizable(const Troncal* psTroncal) const {
    if (!psTroncal || psTroncal == psTroncalEntrada) return false;
    if (psTroncal->no_test[0] != '\0') {
        // A trunk tested from the origin central would lead the call back to where it came from.
        uint32_t uiPriv = 0;
        if (DameCentralNumero(ValorRango(psTroncal->no_test), &uiPriv) == psCentralOrigen) return false;
    }
    return true;
}

bool CEncamina::HayRutaDirecta() const {
    for (uint32_t r = 0; r < kNumRutas && psCentralDestino->asRutas[r].tipo != CFG_FIN_RUTAS; r++)
        if (psCentralDestino->asRutas[r].tipo == kRutaDirecta) return true;
    return false;
}

int CEncamina::DameListaCandidatos(CandidatoEncamina* psLista, int iMax) {
    if (!iIniciado) return -1;
    CerrojoTablas l;
    int n = 0;
    if (psCentralDestino->centralpropia == CFG_CENTRAL_PROPIA) {
        char acHost[65];
        if (DameHostCentral(acHost, iNumDestino) != 0) return 0;
        if (psLista && iMax > 0) LlenaCandidato(psLista, 0, acHost);
        return 1;
    }
    for (uint32_t r = 0; r < kNumRutas && psCentralDestino->asRutas[r].tipo != CFG_FIN_RUTAS; r++) {
        const Ruta& ruta = psCentralDestino->asRutas[r];
        for (uint32_t t = 0; t < kTroncalesRuta && ruta.troncales[t][0] != '\0'; t++) {
            char acId[65];
            CopiaNombre(acId, ruta.troncales[t]);
            const Troncal* psT = DameTroncal(acId);
            if (!TroncalUtilizable(psT)) continue;
            for (uint32_t k = 0; k < kLineasTroncal && psT->miembros[k].id[0] != '\0'; k++, n++)
                if (psLista && n < iMax) LlenaCandidato(&psLista[n], psT->miembros[k].tipo, psT->miembros[k].id);
        }
    }
    return n;
}

int CEncamina::DameListaInterrumpibles(CandidatoEncamina* psLista, int iMax) {
    if (!iIniciado) return -1;
    CerrojoTablas l;
    uint32_t r = 0;
    if (tipoLlamante != 3) {
        while (r < kNumRutas && psCentralDestino->asRutas[r].tipo != CFG_FIN_RUTAS &&
               psCentralDestino->asRutas[r].tipo != kRutaDirecta)
            r++;
        if (r == kNumRutas || psCentralDestino->asRutas[r].tipo != kRutaDirecta) return 0;
    }
    const Ruta& ruta = psCentralDestino->asRutas[r];
    if (ruta.tipo == CFG_FIN_RUTAS) return 0;
    int n = 0;
    for (uint32_t t = 0; t < kTroncalesRuta && ruta.troncales[t][0] != '\0'; t++) {
        char acId[65];
        CopiaNombre(acId, ruta.troncales[t]);
        const Troncal* psT = DameTroncal(acId);
        if (!TroncalUtilizable(psT)) continue;
        for (uint32_t k = 0; k < kLineasTroncal && psT->miembros[k].id[0] != '\0'; k++) {
            if (ruta.tipo != kRutaDirecta && psT->miembros[k].tipo != kLineaQsig) continue;
            if (psLista && n < iMax) LlenaCandidato(&psLista[n], psT->miembros[k].tipo, psT->miembros[k].id);
            n++;
        }
    }
    return n;
}

int CEncamina::AnalizaLineasTroncal(int iPaso, char* szNombre) {
    switch (iPaso) {
        case 0: iRuta = iTroncal = iLinea = 0; break;
        case 1: iLinea++; break;
        case 2:
            iRuta++;
            iTroncal = iLinea = 0;
            break;
        default: return -8;
    }
    for (; iRuta < kNumRutas && psCentralDestino->asRutas[iRuta].tipo != CFG_FIN_RUTAS; iRuta++, iTroncal = 0, iLinea = 0) {
        const Ruta& ruta = psCentralDestino->asRutas[iRuta];
        for (; iTroncal < kTroncalesRuta && ruta.troncales[iTroncal][0] != '\0'; iTroncal++, iLinea = 0) {
            char acId[65];
            CopiaNombre(acId, ruta.troncales[iTroncal]);
            const Troncal* psT = DameTroncal(acId);
            if (!TroncalUtilizable(psT)) continue;
            TcpCons::Traza(kTrazaDebug, "_ Analizo lineas del troncal %s\n", acId);
            if (iLinea < kLineasTroncal && psT->miembros[iLinea].id[0] != '\0') {
                CopiaNombre(szNombre, psT->miembros[iLinea].id);
                TcpCons::Traza(kTrazaDebug, "_ Recurso idrec= %s\n", szNombre);
                return 0;
            }
        }
    }
    return -9;
}

namespace {
// 0 when the line is free: unknown to the list, or one of its slots idle (a QSIG line has three
// channels, any other one); -13 busy. Not published (10) counts as busy.
int CompruebaEstadoCandidato(const char* szNombre, int iNum, const CandidatoEncamina* psLista) {
    if (!psLista) return 0;
    for (int i = 0; i < iNum; i++) {
        const CandidatoEncamina& c = psLista[i];
        if (std::strncmp(c.acNombre, szNombre, 64) != 0) continue;
        const int iRanuras = c.ucTipoIf == kLineaQsig ? 3 : 1;
        for (int k = 0; k < iRanuras; k++)
            if (c.asEstado[k].ucEstado == 0) return 0;
        return -13;
    }
    return 0;
}
}  // namespace

int CEncamina::PrioridadRuta(int* piPrioridad) {
    const bool bDirecta = psCentralDestino->asRutas[iRuta].tipo == kRutaDirecta;
    if (bDirecta)
        TcpCons::Traza(kTrazaDebug, " ____ ES ruta directa tipoLlamante=%i\n", tipoLlamante);
    else
        TcpCons::Traza(kTrazaDebug, "___Es ruta alternativa \n");
    const int P = PrioridadBase();
    const bool bPrivilegio = iOrigenPrivilegiado || iDestinoPrivilegiado;
    switch (tipoLlamante) {
        case 0: *piPrioridad = bDirecta ? P : P + 5; return 0;
        case 2:
            if (bDirecta) {
                *piPrioridad = (P == 0 || P == 5 || (P < 5 && !bPrivilegio)) ? 9 : P;
                return 0;
            }
            if (!bPrivilegio) return -11;
            *piPrioridad = P < 5 ? P + 5 : P;
            return 0;
        case 3:
            if (bDirecta) std::printf(" ContadorTransitos=%i\n", static_cast<int>(iContTransitos));
            if (iContTransitos >= (bDirecta ? 5u : 4u)) return -10;
            iContTransitos++;
            *piPrioridad = P;
            return 0;
        default: return -4;
    }
}

int CEncamina::DameRecursoPrioridad(char* szNombre, int* piPrioridad, int iNum, const CandidatoEncamina* psLista) {
    if (!iIniciado) return -1;
    CerrojoTablas l;
    if (psCentralDestino->centralpropia == CFG_CENTRAL_PROPIA) {
        // One host serves the whole central: it is handed out once.
        char acHost[65];
        if (acUltimoRecurso[0] != '\0' || DameHostCentral(acHost, iNumDestino) != 0) return -9;
        CopiaNombre(acUltimoRecurso, acHost);
        CopiaNombre(szNombre, acHost);
        *piPrioridad = PrioridadBase();
        return 0;
    }
    int iPaso;
    switch (iProgresion) {
        case 0: iPaso = 0; break;
        case 5: {
            const bool bDirecta = iRuta < kNumRutas && psCentralDestino->asRutas[iRuta].tipo == kRutaDirecta;
            iPaso = bDirecta || !HayRutaDirecta() ? 2 : 0;
            break;
        }
        // 1, 2, 4, 7 and the codes nobody gives: the next line.
        default: iPaso = 1; break;
    }
    for (;;) {
        char acNombre[65];
        const int r = AnalizaLineasTroncal(iPaso, acNombre);
        if (r != 0) return r;
        int iPrio = 0;
        if (CompruebaEstadoCandidato(acNombre, iNum, psLista) == 0 && PrioridadRuta(&iPrio) == 0) {
            iProgresion = 1;
            CopiaNombre(acUltimoRecurso, acNombre);
            CopiaNombre(szNombre, acNombre);
            *piPrioridad = iPrio;
            return 0;
        }
        iPaso = 1;
    }
}

int CEncamina::DameRecInterrupcionPorPrioridad(char* szNombre, int* piRanura, int iNum,
                                               const CandidatoEncamina* psLista) {
    if (!iIniciado) return -1;
    if (!psLista || iNum <= 0) return -8;
    if (!iOrigenPrivilegiado && !iDestinoPrivilegiado) return -4;
    // Lowest-ranked calls first; priorities 1, 5 and 6 are never interrupted.
    static const struct {
        bool bQsig;
        int32_t iPrio;
    } kPasadas[] = {{true, 0}, {false, 9}, {false, 4}, {true, 1}, {false, 8},
                    {false, 3}, {true, 2}, {false, 7}, {false, 2}};
    for (const auto& p : kPasadas) {
        int iMejor = -1, iRanura = 0;
        int32_t iPalabra = 0;
        for (int i = 0; i < iNum; i++) {
            const CandidatoEncamina& c = psLista[i];
            if (p.bQsig) {
                if (c.ucTipoIf != kLineaQsig) continue;
                for (int k = 0; k < 3; k++) {
                    const NotificacionEstado& e = c.asEstado[k];
                    if (e.ucEstado == 1 && e.iValor == p.iPrio && e.aiExtra[1] > 0 &&
                        (iMejor < 0 || e.aiExtra[1] > iPalabra)) {
                        iMejor = i;
                        iRanura = k;
                        iPalabra = e.aiExtra[1];
                    }
                }
            } else {
                if (c.ucTipoIf != 5 && c.ucTipoIf != 6) continue;
                const NotificacionEstado& e = c.asEstado[0];
                if (e.ucEstado == 1 && e.iValor == p.iPrio && (iMejor < 0 || e.aiExtra[1] > iPalabra)) {
                    iMejor = i;
                    iRanura = 0;
                    iPalabra = e.aiExtra[1];
                }
            }
        }
        if (iMejor >= 0) {
            CopiaNombre(szNombre, psLista[iMejor].acNombre);
            *piRanura = iRanura;
            return 0;
        }
    }
    return -9;
}

int CEncamina::Progresa(const char* szNombre, int iCodigo) {
    if (!iIniciado) return -1;
    if (!szNombre || std::strncmp(szNombre, acUltimoRecurso, 64) != 0) return -6;
    if (iCodigo == 0 || iCodigo == 6) {
        iRuta = iTroncal = iLinea = 0;
        iProgresion = 0;
        return -1;
    }
    iProgresion = static_cast<uint32_t>(iCodigo);
    return 0;
}
