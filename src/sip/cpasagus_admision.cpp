// Admission of incoming SIP calls: which resource takes the call, the number checks, routing
// through the call manager or among the trunks, the SDP, the local RTP port and the hand-over
// to the resource's supervisor; and every refusal's SIP answer.
#include <cstdio>
#include <cstring>

#include "comun/nlog.h"
#include "comun/uri.h"
#include "sip/cpasagus.h"
#include "sip/csipua.h"

namespace {

// Longest pass of candidates the call manager offers for one call; it ends sooner by itself.
const int kMaxProgresiones = 64;

// Internal reason to the front end's answer index; -1 for the reasons answered with a Reason
// header (603).
int IndiceRespuesta(int iMotivo) {
    switch (iMotivo) {
    case 201: case 209: return 9;
    case 202: return 6;
    case 203: return 10;
    case 204: return 11;
    case 205: return 5;
    case 206: case 207: return 4;
    case 212: return 15;
    case 214: return 2;
    case 228: return 16;
    case 230: return 18;
    default: break;
    }
    if ((iMotivo >= 220 && iMotivo <= 227) || iMotivo == 229) return -1;
    return 10;
}

}  // namespace

int CPasaGus::CausaASip(int iCausa) {
    switch (iCausa) {
    case 1: case 2: case 3: return 404;
    // Normal clearing before the answer: the called side declined.
    case 16: return 603;
    case 17: return 486;
    case 18: return 408;
    case 19: case 20: case 31: return 480;
    case 21: return 603;
    case 22: return 301;
    case 23: return 410;
    case 27: return 502;
    case 28: return 484;
    case 29: case 69: case 79: return 501;
    case 34: case 38: case 41: case 42: case 47: case 58: case 88: return 503;
    case 55: case 57: case 87: return 403;
    case 65: case 70: return 488;
    case 102: return 504;
    default: return -1;
    }
}

// A refused call holds nothing any more: its routed record and its port go back here, once,
// whoever refuses it.
void CPasaGus::SueltaRechazada(int cid) {
    if (pGestorLlamada && ModoSistema() == 0) pGestorLlamada->FinEncaminaLlamada(USUARIO_GESTOR, cid);
    pthread_mutex_lock(&tMutex);
    sPool.LiberaPuertoDeCid(cid);
    pthread_mutex_unlock(&tMutex);
}

int CPasaGus::RechazaSustitucion(int iUsuario, int cid) {
    NLOG::Log(NLOG::INFO, "GUS Rechaza sustitucion cid=%i, no hay llamada que sustituir", cid);
    SueltaRechazada(cid);
    return RespondeCodigo(iUsuario, cid, 481);
}

int CPasaGus::RechazaLlamada(int iUsuario, int cid, int iMotivo) {
    NLOG::Log(NLOG::INFO, "GUS Rechaza llamada %i", iUsuario);
    SueltaRechazada(cid);
    const int iEstado = CausaASip(iMotivo);
    if (iEstado > 0) return RespondeCodigo(iUsuario, cid, iEstado);
    const int iIndice = IndiceRespuesta(iMotivo);
    if (iIndice < 0) return RechazaConCausa(iUsuario, cid, iMotivo);
    return RespondeLlamada(iUsuario, cid, iIndice);
}

bool CPasaGus::LeeNumerosEntrantes(DatosEventoSip* ps, DatosLlamadaGestor* psDatos) {
    char acOrigen[80], acDestino[80];
    bool bOrigen = SacaNumeroUri(ps->acRemoto, acOrigen, 79) > 0;
    if (!bOrigen) bOrigen = SacaNumeroUri(ps->acPAsserted, acOrigen, 79) > 0;
    const bool bDestino = SacaNumeroUri(ps->acLocal, acDestino, 79) > 0;
    if (!bOrigen || !bDestino) {
        RechazaLlamada(-1, ps->cid, 205);
        NLOG::Log(NLOG::ERROR, " CPasaGus: GUS campo from o to no valido a Traplic_Invite()");
        NLOG::Log(NLOG::INFO,
                  " CPasaGus: pt_sipsession->remote_uri= %s,pt_sipsession->p_asserted_identity=%s, "
                  "pt_sipsession->local_uri=%s \n",
                  ps->acRemoto, ps->acPAsserted, ps->acLocal);
        return false;
    }
    if (!std::strstr(ps->acSubject, "radio") && !std::strstr(ps->acSubject, "IA call") &&
        (std::strlen(acOrigen) != 6 || std::strlen(acDestino) != 6)) {
        RechazaLlamada(-1, ps->cid, 0);
        NLOG::Log(NLOG::ERROR, " CPasaGus: error parametro Numero ATS Origen= %s Destino=%s", acOrigen, acDestino);
        return false;
    }
    std::memset(psDatos, 0, sizeof *psDatos);
    std::snprintf(psDatos->NumOrigen, sizeof psDatos->NumOrigen, "%s", acOrigen);
    std::snprintf(psDatos->NumDestino, sizeof psDatos->NumDestino, "%s", acDestino);
    psDatos->ucPrioridad = ps->incomming_priority ? ps->incomming_priority : 2;
    psDatos->iContTransitos = 0;
    psDatos->tipoLlamante = 0;
    psDatos->tipo = 2;
    psDatos->canal = -1;
    return true;
}

int CPasaGus::EligeRecursoEncaminado(DatosEventoSip* ps, DatosLlamadaGestor* psDatos) {
    const int cid = ps->cid;
    int iLlamada = pGestorLlamada ? pGestorLlamada->EncaminaLlamadaEntrante(USUARIO_GESTOR, psDatos, cid, this) : -1;
    if (iLlamada < 0) {
        RechazaLlamada(-1, cid, 203);
        NLOG::Log(NLOG::ERROR, "GUS:Traplic_Invite() EncaminaLlamada error %i", iLlamada);
        return -1;
    }
    for (int n = 0; n < kMaxProgresiones && iLlamada >= 0; n++) {
        if (pGestorLlamada->DameDatosLlamada(iLlamada, psDatos) != 0) break;
        const int i = BuscaRecursoActivo(psDatos->UsuDestino);
        if (i >= 0) return i;
        iLlamada = pGestorLlamada->ProgresionLlamada(USUARIO_GESTOR, cid, 2, nullptr);
    }
    RechazaLlamada(-1, cid, 203);
    NLOG::Log(NLOG::ERROR, "GUS:Traplic_Invite() Error progresion de llamada ");
    return -1;
}

int CPasaGus::EligeRecursoTroncal(DatosEventoSip* ps, DatosLlamadaGestor* psDatos) {
    int iR2 = -1, iPrioR2 = 0, iN5 = -1, iPrioN5 = 0;
    const int rR2 = LocalizaRecursoReposo(TIPOIF_ATSR2, 0, psDatos->NumDestino, psDatos->NumOrigen,
                                          psDatos->ucPrioridad, &iR2, &iPrioR2);
    int rN5 = 0;
    if (rR2 != 1) {
        rN5 = LocalizaRecursoReposo(TIPOIF_ATSN5, 0, psDatos->NumDestino, psDatos->NumOrigen, psDatos->ucPrioridad,
                                    &iN5, &iPrioN5);
        NLOG::Log(NLOG::INFO, "LocalizaRecursoEncamina n5 res_n5=%i rec_n5=%i", rN5, iN5);
    }
    int i = -1;
    if (rR2 == 1) i = iR2;
    else if (rN5 == 1) i = iN5;
    else if (rR2 == 2 && rN5 == 2) i = iPrioR2 > iPrioN5 ? iR2 : iN5;
    else if (rR2 == 2) i = iR2;
    else if (rN5 == 2) i = iN5;
    if (i < 0 && (rR2 == 3 || rN5 == 3)) {
        RechazaLlamada(-1, ps->cid, 203);
        NLOG::Log(NLOG::ERROR, " CPasaGus: Origen o destino no autorizado");
        return -1;
    }
    if (i < 0 || DameUsuarioDeSupervisor(asRecursos[i].posuperec) < 0) {
        RechazaLlamada(-1, ps->cid, 206);
        NLOG::Log(NLOG::ERROR, " CPasaGus: GUS entrego Id-Usr no valido a Traplic_Invite()");
        return -1;
    }
    return i;
}

void CPasaGus::Traplic_Invite(int iUsuario, DatosEventoSip* ps) {
    if (!ps) return;
    CSipua* ua = DameSipua();
    const int iModo = ModoSistema();
    const char* szParam = iModo != 0 ? "user=" : "rk82rs=";
    NLOG::Log(NLOG::INFO, " CPasaGus: Traplic_Invite priority %i user %i", ps->incomming_priority, iUsuario);
    if (iUsuario < 0) {
        char acLocal[256];
        std::snprintf(acLocal, sizeof acLocal, "%.255s", ps->acLocal);
        if (char* p = std::strstr(acLocal, szParam)) {
            p += std::strlen(szParam);
            char* f = std::strchr(p, ';');
            if (!f) f = std::strchr(p, '>');
            if (f) *f = '\0';
            char acNombre[81];
            std::snprintf(acNombre, sizeof acNombre, "%.80s", p);
            const int i = BuscaRecursoActivo(acNombre);
            if (i >= 0) iUsuario = asRecursos[i].iIdUsrGus;
            NLOG::Log(NLOG::DEBUG, "user_from %s iuser = %i\n", acNombre, iUsuario);
            if (i >= 0) {
                ps->iUsuario = iUsuario;
                if (ua) ua->PonUsuarioSesion(ps->cid, iUsuario);
            }
        }
    }
    QuitaPuertoUri(ps->acRemoto);
    QuitaPuertoUri(ps->acPAsserted);
    QuitaPuertoUri(ps->acLocal);
    if (iUsuario >= 0) {
        ps->canal = -1;
        if (ua) ua->EscribeSesion(ps);
    } else {
        DatosLlamadaGestor sDatos;
        if (!LeeNumerosEntrantes(ps, &sDatos)) return;
        const int i = iModo != 1 ? EligeRecursoEncaminado(ps, &sDatos) : EligeRecursoTroncal(ps, &sDatos);
        if (i < 0) return;
        iUsuario = asRecursos[i].iIdUsrGus;
        ps->iUsuario = iUsuario;
        if (ua) ua->PonUsuarioSesion(ps->cid, iUsuario);
        const int r = ua ? ua->LeeSdpRemotoLlamada(ps, iUsuario) : -1;
        if (r == -1) {
            RechazaLlamada(iUsuario, ps->cid, 212);
            NLOG::Log(NLOG::ERROR, " CPasaGus:Traplic_Invite() Negocia SDP no valido");
            return;
        }
        if (r == -2) {
            RechazaLlamada(iUsuario, ps->cid, 230);
            NLOG::Log(NLOG::ERROR, " CPasaGus:Traplic_Invite() No remote SDP");
            return;
        }
        ps->canal = iModo == 1 ? -1 : sDatos.canal;
        if (ua) ua->EscribeSesion(ps);
    }
    CRecursoSip* s = DameSupervisor(iUsuario);
    if (!s) {
        RechazaLlamada(iUsuario, ps->cid, 203);
        NLOG::Log(NLOG::ERROR, " CPasaGus: GUS: Traplic_Invite() Error");
        return;
    }
    const int iPuerto = AsignaPuerto(ps->cid);
    if (iPuerto < 1) {
        RechazaLlamada(iUsuario, ps->cid, 201);
        NLOG::Log(NLOG::ERROR, " CPasaGus: no hay puertos RTP libres");
        return;
    }
    ps->iPuertoLocal = iPuerto;
    if (ps->bss != 0) ps->bss = s->DameParamRadio() == 1 && (ps->bss == 2 || ps->bss == 3) ? 3 : 1;
    if (ua) ua->EscribeSesion(ps);
    s->Traplic_Invite(ps);
}

int CPasaGus::LocalizaRecursoReposo(int iTipo, int iPrimero, const char* szDestino, const char* szOrigen, int,
                                    int* piRecurso, int* piPrioridad) {
    std::printf("\n LocalizaRecursoReposo %i Dst=%s Orig=%s\n", iTipo, szDestino, szOrigen);
    if (iPrimero < 0 || iPrimero > MAX_RECURSOS || (iTipo != TIPOIF_ATSR2 && iTipo != TIPOIF_ATSN5 && iTipo != TIPOIF_ATSQSIG))
        return 0;
    int iRecBk = -1;
    uint32_t uiPrioBk = 0;
    bool bRechazo = false;
    for (int i = iPrimero; i < MAX_RECURSOS; i++) {
        DatosRecurso& r = asRecursos[i];
        CRecursoSip* s = r.posuperec;
        if (!s) continue;
        const sEstadoPublicado e = EstadoRanura0(i);
        const int iEstado = e.ucEstado;
        const int32_t iPrio = e.iValor;
        NLOG::Log(NLOG::INFO, "Localiza tipo %i- (%i) tipo %i nombre %s idgus %i estado %i prio %i", iTipo, i, r.tipo,
                  r.nombre, r.iIdUsrGus, iEstado, iPrio);
        if (r.tipo != iTipo) continue;
        if (s->EnRangosOperador(szDestino) != 0 && s->EnRangosPrivilegiados(szOrigen) != 0) {
            if (iEstado != 10) bRechazo = true;
            continue;
        }
        if (iEstado == 0) {
            *piRecurso = i;
            *piPrioridad = 0;
            return 1;
        }
        if (iEstado != 1) continue;
        NLOG::Log(NLOG::INFO, " i %i prio %i iRecBk %i iPrioBk %i", i, iPrio, iRecBk, static_cast<int>(uiPrioBk));
        if (iRecBk < 0 || static_cast<uint32_t>(iPrio) > uiPrioBk) {
            iRecBk = i;
            uiPrioBk = static_cast<uint32_t>(iPrio);
        }
    }
    if (iRecBk >= 0) {
        *piRecurso = iRecBk;
        *piPrioridad = static_cast<int>(uiPrioBk);
        return 2;
    }
    return bRechazo ? 3 : 0;
}
