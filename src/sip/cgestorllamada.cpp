#include "sip/cgestorllamada.h"
#include "sip/sesionsip.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "comun/gestormutex.h"
#include "comun/nlog.h"
#include "comun/uri.h"
#include "red/tcpcons.h"
#include "sip/encaminauri.h"

namespace {
const uint32_t kTrazaSip = 0x40;
const uint32_t kTrazaDebug = 0x8000;
const uint32_t kTrazaTodas = 0xFFFF;
// The sink takes the number of records as one byte.
const size_t kMaxPorPeticion = 255;

// Cut to the destination: the texts of a call are longer than some of their record fields.
template <size_t N>
void Copia(char (&acDestino)[N], const char* szOrigen) {
    CopiaTextoSip(acDestino, N, szOrigen);
}

// The routing sink is told of the lines of a call; more than 255 go in several requests.
void PideEstadosA(CGestorLlamada::CEventos* poSumidero, std::vector<CandidatoEncamina>& v) {
    for (size_t i = 0; i < v.size(); i += kMaxPorPeticion) {
        const size_t n = v.size() - i < kMaxPorPeticion ? v.size() - i : kMaxPorPeticion;
        poSumidero->EvtPetListaDeEstadosPublicados(static_cast<uint8_t>(n), &v[i]);
    }
}
}  // namespace


void CGestorLlamada::LlamadaGestor::Reinicia() {
    iIndice = -1;
    iEncaminada = 0;
    iCid = -1;
    UsuOrigen[0] = UsuDestino[0] = NumOrigen[0] = NumDestino[0] = '\0';
    ReferredBy[0] = Replaces[0] = Fid[0] = '\0';
    ucPrioridad = ucPrioridadEncaminada = ucModoBss = 0;
    iContTransitos = 0;
    tipo = -1;
    canal = -1;
    tipoLlamante = 0;
    iTipoSesionRadio = 0;
    iFlagIntWarning = 0;
    std::vector<CandidatoEncamina>().swap(asCandidatos);
    std::vector<CandidatoEncamina>().swap(asInterrumpibles);
    poEncamina.reset();
    poEventos = nullptr;
}

CGestorLlamada::CGestorLlamada() : poEventos(nullptr), fLanzaLlamada(nullptr), uiSerie(0) {
    CreaMutex("CGestorLlamada::tMutex", &tMutex, nullptr);
    for (auto& r : asLlamadas) {
        r.uiSerie = 0;
        r.Reinicia();
    }
}

CGestorLlamada::~CGestorLlamada() {
    for (auto& r : asLlamadas) r.Reinicia();
    DestruyeMutex(&tMutex);
}

int CGestorLlamada::Inicia(CEventos* poSumidero) {
    cfgCerrojo l(&tMutex);
    poEventos = poSumidero;
    return 0;
}

void CGestorLlamada::FijaLanzador(FnLanzaLlamada fLanza) {
    cfgCerrojo l(&tMutex);
    fLanzaLlamada = fLanza;
}

// ---- Records (tMutex held) ---------------------------------------------------------------------

int CGestorLlamada::NuevaLlamada() {
    for (int i = 0; i < MAX_LLAMADAS; i++) {
        if (asLlamadas[i].iIndice != -1) continue;
        asLlamadas[i].iIndice = i;
        asLlamadas[i].uiSerie = ++uiSerie;
        NLOG::Log(NLOG::INFO, "NuevaLlamada: llamada asignada %i", i);
        return i;
    }
    NLOG::Log(NLOG::ERROR, "NuevaLlamada: max llamadas gestor");
    return -1;
}

void CGestorLlamada::BorraLlamada(int iIndice) {
    if (iIndice < 0 || iIndice >= MAX_LLAMADAS) return;
    NLOG::Log(NLOG::INFO, " CGestorllam::BorraLlamada %i", iIndice);
    NLOG::Log(NLOG::INFO, "BorraLlamada");
    asLlamadas[iIndice].Reinicia();
}

int CGestorLlamada::EsCandidato(const LlamadaGestor& r, const char* szNombre) const {
    if (r.iEncaminada != 1) return -1;
    for (const auto& c : r.asCandidatos)
        if (std::strncmp(c.acNombre, szNombre, LON_TEXTO) == 0) return 0;
    return -1;
}

int CGestorLlamada::IniciaEncamina(LlamadaGestor& r, const DatosLlamadaGestor* ps, int iModo) {
    if (ps->NumDestino[0] == '\0' && ps->UsuDestino[0] == '\0') return -1;
    Copia(r.UsuOrigen, ps->UsuOrigen);
    Copia(r.UsuDestino, ps->UsuDestino);
    Copia(r.NumOrigen, ps->NumOrigen);
    Copia(r.NumDestino, ps->NumDestino);
    Copia(r.ReferredBy, ps->ReferredBy);
    Copia(r.Replaces, ps->Replaces);
    Copia(r.Fid, ps->Fid);
    r.ucPrioridad = ps->ucPrioridad;
    r.iContTransitos = ps->iContTransitos;
    r.tipo = ps->tipo;
    r.tipoLlamante = ps->tipoLlamante;
    r.iTipoSesionRadio = ps->iTipoSesionRadio;
    r.ucModoBss = ps->ucModoBss;

    if (r.NumDestino[0] != '\0' && EsUriSip(r.NumDestino) != 0) {
        if (EsUriTel(r.NumDestino) == 0) {
            char ac[LON_TEXTO];
            if (SacaNumeroTel(ps->NumDestino, ac, sizeof ac) < 0) return -1;
            // "03" is the prefix of the ATS network, not part of the number.
            Copia(r.NumDestino, std::strncmp(ac, "03", 2) == 0 ? ac + 2 : ac);
        }
        if (EsUriSip(r.NumOrigen) == 0) {
            char ac[LON_TEXTO];
            if (SacaNumeroUri(ps->NumOrigen, ac, LON_TEXTO - 1) < 0 &&
                SacaNumeroUri(ps->ReferredBy, ac, LON_TEXTO - 1) < 0)
                return -1;
            Copia(r.NumOrigen, ac);
        }
        if (iModo == 0) {
            r.poEncamina.reset(new (std::nothrow) CEncamina);
            if (!r.poEncamina) {
                TcpCons::Traza(kTrazaTodas, "Llamada: ERROR creando CLASE ENCAMINA \n");
                return -1;
            }
            BloqueLlamante b;
            std::memset(&b, 0, sizeof b);
            std::memcpy(b.UsuOrigen, r.UsuOrigen, sizeof b.UsuOrigen);
            b.tipoLlamante = r.tipoLlamante;
            b.iPrioridad = r.ucPrioridad;
            b.iContTransitos = r.iContTransitos;
            const int res = r.poEncamina->Inicia(r.NumOrigen, r.NumDestino, &b);
            NLOG::Log(NLOG::INFO, "INICIA encamina  NumOrigen %s NumDestino %s", r.NumOrigen, r.NumDestino);
            NLOG::Log(NLOG::INFO, "result INICIA encamina %i", res);
            if (res == 1) NLOG::Log(NLOG::INFO, "NUMERO ORIGEN NO ENCONTRADO: NO PONGO ORIGEN DE DEFECTO \n");
            if (res < 0) return -1;
            const int n = r.poEncamina->DameListaCandidatos(nullptr, 0);
            if (n <= 0) return -1;
            r.asCandidatos.resize(static_cast<size_t>(n));
            // The tables may have been reloaded between the count and the fill.
            if (r.poEncamina->DameListaCandidatos(r.asCandidatos.data(), n) != n) return -1;
            const int m = r.poEncamina->DameListaInterrumpibles(nullptr, 0);
            if (m > 0) {
                r.asInterrumpibles.resize(static_cast<size_t>(m));
                if (r.poEncamina->DameListaInterrumpibles(r.asInterrumpibles.data(), m) < m)
                    r.asInterrumpibles.clear();
            }
        }
    }
    r.iEncaminada = 1;
    return 0;
}

int CGestorLlamada::DameRecursoPrioridad(LlamadaGestor& r, char* szNombre, int* piPrioridad) {
    if (r.iEncaminada != 1 || !r.poEncamina) return -8;
    const int n = static_cast<int>(r.asCandidatos.size());
    int res = r.poEncamina->DameRecursoPrioridad(szNombre, piPrioridad, n, r.asCandidatos.data());
    // A call is never routed back to the line it came from.
    if (res == 0 && std::strncmp(szNombre, r.UsuOrigen, LON_TEXTO) == 0)
        res = r.poEncamina->DameRecursoPrioridad(szNombre, piPrioridad, n, r.asCandidatos.data());
    TcpCons::Traza(kTrazaDebug, "RESULT dAMERECURSOPRIORIDAD CON ENCAMINA= %i usuario =%s\n", res,
                   res == 0 ? szNombre : "");
    return res;
}

int CGestorLlamada::DameRecInterrupcionPorPrioridad(LlamadaGestor& r, char* szNombre, int* piCanal) {
    if (r.iEncaminada != 1 || !r.poEncamina) return -1;
    const int n = static_cast<int>(r.asInterrumpibles.size());
    TcpCons::Traza(kTrazaDebug, " DameRecInterrupcionPorPrioridad nRecInt %i \n", n);
    const int res = r.poEncamina->DameRecInterrupcionPorPrioridad(szNombre, piCanal, n, r.asInterrumpibles.data());
    TcpCons::Traza(kTrazaDebug, "RESULT dAMERECURSOPRIORIDAD CON ENCAMINA = %i usuario =%s\n", res,
                   res == 0 ? szNombre : "");
    return res;
}

int CGestorLlamada::SiguienteDestino(LlamadaGestor& r, int iCodigo) {
    if (r.iEncaminada != 1 || !r.poEncamina) return -1;
    return r.poEncamina->Progresa(r.UsuDestino, iCodigo);
}

void CGestorLlamada::DatosDe(const LlamadaGestor& r, DatosLlamadaGestor* ps) const {
    std::memset(ps, 0, sizeof *ps);
    Copia(ps->UsuOrigen, r.UsuOrigen);
    Copia(ps->UsuDestino, r.UsuDestino);
    Copia(ps->NumOrigen, r.NumOrigen);
    Copia(ps->NumDestino, r.NumDestino);
    Copia(ps->ReferredBy, r.ReferredBy);
    Copia(ps->Replaces, r.Replaces);
    Copia(ps->Fid, r.Fid);
    ps->ucPrioridad = r.ucPrioridadEncaminada;
    ps->iContTransitos = r.iContTransitos;
    ps->tipo = r.tipo;
    ps->canal = r.canal;
    ps->tipoLlamante = r.tipoLlamante;
    ps->iTipoSesionRadio = r.iTipoSesionRadio;
    ps->ucModoBss = r.ucModoBss;
}

// ---- Look-ups ------------------------------------------------------------------------------------

int CGestorLlamada::BuscaLlamada(int iId) {
    cfgCerrojo l(&tMutex);
    for (int i = 0; i < MAX_LLAMADAS; i++)
        if (asLlamadas[i].iIndice != -1 && asLlamadas[i].iIndice == iId) return i;
    return -1;
}

int CGestorLlamada::BuscaLlamadaPorCid(int cid) {
    if (cid < 0) return -1;
    cfgCerrojo l(&tMutex);
    for (int i = 0; i < MAX_LLAMADAS; i++)
        if (asLlamadas[i].iIndice != -1 && asLlamadas[i].iCid == cid) return i;
    return -1;
}

int CGestorLlamada::BuscaLlamadaConCandidato(const char* szNombre, int iDesde) {
    if (!szNombre || iDesde < 0) return -1;
    cfgCerrojo l(&tMutex);
    for (int i = iDesde; i < MAX_LLAMADAS; i++)
        if (asLlamadas[i].iIndice != -1 && EsCandidato(asLlamadas[i], szNombre) == 0) return i;
    return -1;
}

int CGestorLlamada::NumLlamadas() {
    cfgCerrojo l(&tMutex);
    int n = 0;
    for (const auto& r : asLlamadas)
        if (r.iIndice != -1) n++;
    return n;
}

int CGestorLlamada::DameDatosLlamada(int iIndice, DatosLlamadaGestor* psDatos) {
    if (iIndice < 0 || iIndice >= MAX_LLAMADAS || !psDatos) return -1;
    cfgCerrojo l(&tMutex);
    if (asLlamadas[iIndice].iIndice == -1) return -1;
    DatosDe(asLlamadas[iIndice], psDatos);
    return 0;
}

// ---- Calls ---------------------------------------------------------------------------------------

bool CGestorLlamada::PideEstados(int iIndice, uint32_t uiSerieLlamada, bool bInterrumpibles) {
    CEventos* poSumidero;
    std::vector<CandidatoEncamina> vCand, vInt;
    {
        cfgCerrojo l(&tMutex);
        LlamadaGestor& r = asLlamadas[iIndice];
        if (r.iIndice == -1 || r.uiSerie != uiSerieLlamada) return false;
        poSumidero = poEventos;
        if (!poSumidero) return true;
        vCand = r.asCandidatos;
        if (bInterrumpibles) vInt = r.asInterrumpibles;
    }
    // The sink reads the publication tables: it gets copies, so no lock of ours is held.
    PideEstadosA(poSumidero, vCand);
    if (!vInt.empty()) PideEstadosA(poSumidero, vInt);
    cfgCerrojo l(&tMutex);
    LlamadaGestor& r = asLlamadas[iIndice];
    if (r.iIndice == -1 || r.uiSerie != uiSerieLlamada) return false;
    if (vCand.size() == r.asCandidatos.size()) r.asCandidatos.swap(vCand);
    if (bInterrumpibles && vInt.size() == r.asInterrumpibles.size()) r.asInterrumpibles.swap(vInt);
    return true;
}

int CGestorLlamada::EncaminaLlamada(int iUsuario, DatosLlamadaGestor* psDatos, int* piPuertoLocal) {
    if (!psDatos) return -1;
    // The caller's texts may come unterminated off a message: a terminated copy is read.
    DatosLlamadaGestor sDatos = *psDatos;
    DatosLlamadaGestor* ps = &sDatos;
    const int iModo = sipModoSistema();
    int i;
    uint32_t uiSerieLlamada;
    {
        cfgCerrojo l(&tMutex);
        i = NuevaLlamada();
        uiSerieLlamada = i >= 0 ? asLlamadas[i].uiSerie : 0;
    }
    if (i < 0) {
        NLOG::Log(NLOG::ERROR, "EncaminaLlamada: no progresa");
        return -8;
    }
    sDatos.UsuOrigen[sizeof sDatos.UsuOrigen - 1] = sDatos.UsuDestino[sizeof sDatos.UsuDestino - 1] = '\0';
    sDatos.NumOrigen[sizeof sDatos.NumOrigen - 1] = sDatos.NumDestino[sizeof sDatos.NumDestino - 1] = '\0';
    sDatos.ReferredBy[sizeof sDatos.ReferredBy - 1] = sDatos.Replaces[sizeof sDatos.Replaces - 1] = '\0';
    sDatos.Fid[sizeof sDatos.Fid - 1] = '\0';
    TcpCons::Traza(kTrazaTodas,
                   "CGestorLlamada::EncaminaLlamada prioridad\nUsuOrigen=%s, UsuDestino=%s, NumOrigen=%s, "
                   "NumDestino=%s, ucPrioridad=%i, iContTransitos=%i, tipo==%i, canal=%i, tipoLlamante=%i \n",
                   ps->UsuOrigen, ps->UsuDestino, ps->NumOrigen, ps->NumDestino, ps->ucPrioridad, ps->iContTransitos,
                   ps->tipo, ps->canal, ps->tipoLlamante);
    NLOG::Log(NLOG::INFO,
              "CGestorLlamada::EncaminaLlamada UsuOrigen=%s, UsuDestino=%s, NumOrigen=%s, NumDestino=%s\n "
              "ucPrioridad=%i, iContTransitos=%i, tipo==%i, canal=%i, tipoLlamante=%i \n",
              ps->UsuOrigen, ps->UsuDestino, ps->NumOrigen, ps->NumDestino, ps->ucPrioridad, ps->iContTransitos,
              ps->tipo, ps->canal, ps->tipoLlamante);

    int r;
    int iPrioridad = ps->ucPrioridad;
    char acNombre[LON_TEXTO + 1] = {};
    if (ps->NumDestino[0] == '\0' || EsUriSip(ps->NumDestino) == 0) {
        cfgCerrojo l(&tMutex);
        IniciaEncamina(asLlamadas[i], ps, iModo);
        r = 0;
    } else if (iModo == 0) {
        NLOG::Log(NLOG::INFO, "EncaminaLlamada: destino es un num");
        bool bInterrumpibles = false;
        {
            cfgCerrojo l(&tMutex);
            LlamadaGestor& rec = asLlamadas[i];
            if (IniciaEncamina(rec, ps, iModo) < 0) {
                r = -1;
            } else if (rec.asCandidatos.empty()) {
                NLOG::Log(NLOG::INFO, "EncaminaLlamada: No hay rec dusponibles");
                r = -9;
            } else {
                r = 0;
                rec.canal = -1;
                bInterrumpibles = !rec.asInterrumpibles.empty();
            }
        }
        if (r == 0 && !PideEstados(i, uiSerieLlamada, bInterrumpibles)) return -1;
        cfgCerrojo l(&tMutex);
        LlamadaGestor& rec = asLlamadas[i];
        if (r == 0) {
            r = DameRecursoPrioridad(rec, acNombre, &iPrioridad);
            NLOG::Log(NLOG::INFO, "RESULT dAMERECURSOPRIORIDAD ENCAMINA SALIENTE= %i prioridad = %i, usuario =%s\n", r,
                      iPrioridad, acNombre);
            if (r != 0 && ps->ucPrioridad == 1) {
                // Only a priority-1 call interrupts another.
                iPrioridad = 1;
                int iCanal = -1;
                r = DameRecInterrupcionPorPrioridad(rec, acNombre, &iCanal);
                NLOG::Log(NLOG::INFO,
                          "RESULT DameRecInterrupcionPorPrioridad ENCAMINA SALIENTE= %i prioridad = %i, usuario =%s\n",
                          r, iPrioridad, acNombre);
                rec.canal = iCanal;
            }
            if (r == 0) Copia(rec.UsuDestino, acNombre);
        }
    } else {
        r = -1;
    }

    // The one way out of every failure: the record taken for the call is freed.
    {
        cfgCerrojo l(&tMutex);
        LlamadaGestor& rec = asLlamadas[i];
        if (rec.iIndice == -1 || rec.uiSerie != uiSerieLlamada) return r != 0 ? r : -1;
        if (r != 0) {
            BorraLlamada(i);
            return r;
        }
        TcpCons::Traza(kTrazaTodas, "DameRecursoPrioridad usuario=%s\n", rec.UsuDestino);
        NLOG::Log(NLOG::INFO, "DameRecursoPrioridad usuario=%s\n", rec.UsuDestino);
        rec.ucPrioridadEncaminada = static_cast<uint8_t>(iPrioridad);
    }
    if (!piPuertoLocal) return i;
    return LanzaLlamada(i, iUsuario, iPrioridad, piPuertoLocal, true);
}

int CGestorLlamada::EncaminaLlamadaEntrante(int iUsuario, DatosLlamadaGestor* psDatos, int cid, CEventos* poSumidero) {
    const int i = EncaminaLlamada(iUsuario, psDatos, nullptr);
    if (i < 0) return i;
    cfgCerrojo l(&tMutex);
    asLlamadas[i].iCid = cid;
    asLlamadas[i].poEventos = poSumidero;
    return i;
}

int CGestorLlamada::LanzaLlamada(int i, int iUsuario, int iPrioridad, int* piPuertoLocal, bool bBorraSiFalla) {
    DatosLlamadaGestor sDatos;
    uint32_t uiSerieLlamada;
    FnLanzaLlamada fLanza;
    {
        cfgCerrojo l(&tMutex);
        const LlamadaGestor& r = asLlamadas[i];
        NLOG::Log(NLOG::INFO, " LanzaLlamada priollam %i", iPrioridad);
        DatosDe(r, &sDatos);
        sDatos.ucPrioridad = static_cast<uint8_t>(iPrioridad);
        uiSerieLlamada = r.uiSerie;
        fLanza = fLanzaLlamada;
    }
    NLOG::Log(NLOG::INFO, "LANZA llamada  NumOrigen %s NumDestino %s idUsu=%i\n", sDatos.NumOrigen, sDatos.NumDestino,
              iUsuario);
    int cid = -1;
    if (fLanza)
        cid = fLanza(iUsuario, &sDatos, piPuertoLocal);
    else
        NLOG::Log(NLOG::ERROR, "CGestorLlamada: sin lanzador de llamadas");
    cfgCerrojo l(&tMutex);
    LlamadaGestor& r = asLlamadas[i];
    if (r.iIndice == -1 || r.uiSerie != uiSerieLlamada) return cid;
    if (cid >= 0)
        r.iCid = cid;
    else if (bBorraSiFalla)
        BorraLlamada(i);
    // A failed new leg leaves the record under the cid of the failed one, which its session
    // still holds and ends with FinEncaminaLlamada.
    return cid;
}

int CGestorLlamada::ProgresionLlamada(int iUsuario, int cid, int iCodigo, int* piPuertoLocal) {
    TcpCons::Traza(kTrazaSip, "CGestorLlamada:usu %i Progresion %i\n", iUsuario, iCodigo);
    int i;
    uint32_t uiSerieLlamada;
    {
        cfgCerrojo l(&tMutex);
        i = -1;
        for (int k = 0; cid >= 0 && k < MAX_LLAMADAS; k++)
            if (asLlamadas[k].iIndice != -1 && asLlamadas[k].iCid == cid) i = k;
        if (i < 0) return -1;
        LlamadaGestor& r = asLlamadas[i];
        const int res = SiguienteDestino(r, iCodigo);
        r.canal = -1;
        if (res == -1) return -1;
        uiSerieLlamada = r.uiSerie;
    }
    if (!PideEstados(i, uiSerieLlamada, false)) return -1;
    TcpCons::Traza(kTrazaSip, "CGestorLlamada:: Pide otro recurso a encamina\n");
    int iPrioridad = 0;
    {
        cfgCerrojo l(&tMutex);
        LlamadaGestor& r = asLlamadas[i];
        if (r.iIndice == -1 || r.uiSerie != uiSerieLlamada) return -1;
        char acNombre[LON_TEXTO + 1] = {};
        if (DameRecursoPrioridad(r, acNombre, &iPrioridad) != 0) return -1;
        Copia(r.UsuDestino, acNombre);
        r.ucPrioridadEncaminada = static_cast<uint8_t>(iPrioridad);
        TcpCons::Traza(kTrazaSip, "CGestorLlamada: encamina a destino %s\n", r.UsuDestino);
    }
    if (!piPuertoLocal) return i;
    return LanzaLlamada(i, iUsuario, iPrioridad, piPuertoLocal, false);
}

int CGestorLlamada::ActualizaFlagIntWarning(int, int cid, int iFlag) {
    TcpCons::Traza(kTrazaSip, "CGestorLlamada:ActualizaFlagIntWarning %i idcall %i\n", iFlag, cid);
    if (cid < 0) return -1;
    cfgCerrojo l(&tMutex);
    for (auto& r : asLlamadas) {
        if (r.iIndice != -1 && r.iCid == cid) {
            r.iFlagIntWarning = iFlag;
            return 0;
        }
    }
    return -1;
}

int CGestorLlamada::FinEncaminaLlamada(int, int cid) {
    NLOG::Log(NLOG::INFO, "FinEncaminaLlamada idcall %i", cid);
    char acDestino[LON_TEXTO], acOrigen[LON_TEXTO];
    {
        cfgCerrojo l(&tMutex);
        int i = -1;
        for (int k = 0; cid >= 0 && k < MAX_LLAMADAS && i < 0; k++)
            if (asLlamadas[k].iIndice != -1 && asLlamadas[k].iCid == cid) i = k;
        if (i < 0) return -1;
        Copia(acDestino, asLlamadas[i].UsuDestino);
        Copia(acOrigen, asLlamadas[i].UsuOrigen);
        // Freed first, so the ending call is not the one its own resources are offered to.
        BorraLlamada(i);
    }
    OfreceRecursoLiberado(acDestino);
    OfreceRecursoLiberado(acOrigen);
    return 0;
}

void CGestorLlamada::OfreceRecursoLiberado(const char* szNombre) {
    if (!szNombre || szNombre[0] == '\0') return;
    char acAnterior[LON_TEXTO];
    CEventos* poSumidero = nullptr;
    int cid = -1;
    {
        cfgCerrojo l(&tMutex);
        int i = 0;
        for (;; i++) {
            while (i < MAX_LLAMADAS && (asLlamadas[i].iIndice == -1 || EsCandidato(asLlamadas[i], szNombre) != 0)) i++;
            if (i >= MAX_LLAMADAS) return;
            LlamadaGestor& r = asLlamadas[i];
            TcpCons::Traza(kTrazaDebug, "encurso indllam=%i prioridad=%i\n", i, r.ucPrioridadEncaminada);
            if (std::strncmp(r.UsuDestino, szNombre, LON_TEXTO) != 0 && r.iFlagIntWarning == 1) {
                Copia(acAnterior, r.UsuDestino);
                Copia(r.UsuDestino, szNombre);
                poSumidero = r.poEventos;
                cid = r.iCid;
                break;
            }
        }
    }
    // One waiting call per freed resource.
    if (poSumidero) poSumidero->AbortaInterrupcion(acAnterior, szNombre, cid);
}
