#include "sip/cgus.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <strings.h>

#include "comun/hilo.h"
#include "comun/nlog.h"
#include "red/tcpcons.h"
#include "sip/caplic.h"
#include "sip/csipua.h"

namespace {

const uint32_t kTrazaSip = 0x40;
const int kIntentosCierre = 3;

// Written once, at construction, before any thread uses it.
Cgus* gpoCgus = nullptr;
pthread_t ghHiloSupervisor;

void* HiloSupervisor(void*) {
    Cgus* g = gpoCgus;
    if (g && g->DameSipua()) g->DameSipua()->SupervisorSIPUA();
    return nullptr;
}

const char* PalabraPrioridad(int iCodigo) {
    switch (iCodigo & 0xFF) {
    case 1: return "emergency";
    case 2: return "urgent";
    case 4: return "non-urgent";
    default: return "normal";
    }
}

int CodigoRespuesta(int iIndice) {
    switch (iIndice) {
    case 0: return 100;
    case 1: return 180;
    case 2: case 7: case 10: return 500;
    case 3: return 603;
    case 4: return 503;
    case 5: return 404;
    case 6: return 486;
    case 9: return 480;
    case 11: return 408;
    case 12: return 200;
    case 13: return 184;
    case 14: return 185;
    case 15: return 415;
    case 16: return 485;
    case 18: return 488;
    default: return 603;
    }
}

int IndiceRazon(int iMotivo) {
    if (iMotivo >= 220 && iMotivo <= 227) return iMotivo - 220;
    if (iMotivo == 229) return 8;
    if (iMotivo == 208) return 9;
    return -1;
}

// Priority code of an incoming call from its Priority text, raised by 5 for a call that came
// the long way (Max-Forwards below 11) unless it is a radio call.
void DerivaPrioridad(SesionSip* s) {
    if (s->incomming_priority == 0) {
        if (!strcasecmp(s->acPrioridad, "non-urgent")) s->incomming_priority = 4;
        else if (!strcasecmp(s->acPrioridad, "normal")) s->incomming_priority = 3;
        else if (!strcasecmp(s->acPrioridad, "urgent")) s->incomming_priority = 2;
        else if (!strcasecmp(s->acPrioridad, "emergency")) s->incomming_priority = 1;
    }
    if (s->iMaxForwards < 11 && !std::strstr(s->acSubject, "radio"))
        s->incomming_priority = static_cast<uint8_t>(s->incomming_priority + 5);
}

// Admission hook of incoming calls: admits every call.
bool AdmiteLlamada() {
    TcpCons::Traza(kTrazaSip, "subject length : %d\n", 5);
    return true;
}

}  // namespace

Cgus::Cgus() : poSipua(nullptr), poAplic(nullptr), iPuertoSip(PUERTO_SIP), acDirLocal{} {
    for (auto& u : asUsuarios) {
        u.acNombre[0] = '\0';
        u.iIndice = -1;
    }
    gpoCgus = this;
}

Cgus::~Cgus() {
    delete poSipua;
    poSipua = nullptr;
    if (gpoCgus == this) gpoCgus = nullptr;
}

int Cgus::Inicia_Sipua_Gus(const char* szNombre, int iTipo, const int32_t* piCodecs, int iNumCodecs,
                           const char* szDirLocal, const char* szDirFija, int iOpcion, Caplic* poAp,
                           int iModoSistema, const char* szClave) {
    char acUserAgent[129];
    std::snprintf(acUserAgent, sizeof acUserAgent, "%s/%d.%d.%d", "zq4m-qln", 1, 0, 0);
    std::snprintf(acDirLocal, sizeof acDirLocal, "%s", szDirLocal ? szDirLocal : "");
    if (!poSipua) {
        poSipua = new CSipua(acDirLocal, iPuertoSip, acUserAgent, szDirFija, &TrataEventoSip, iTipo, iOpcion,
                             iModoSistema);
        poAplic = poAp;
        if (CreaHiloSuelto(&ghHiloSupervisor, &HiloSupervisor, nullptr) != 0) {
            NLOG::Log(NLOG::ERROR, "SIPUA: ERROR Creando hilo");
            return -1;
        }
    }
    return RegistraUsuario(szNombre, iTipo, piCodecs, iNumCodecs, iOpcion, szClave, "Alta de usuario %s efectuada con indice %d\n",
                           "Error al dar de Alta SIPUA");
}

int Cgus::AltaUsuarioSip(const char* szNombre, int iTipo, const int32_t* piCodecs, int iNumCodecs, int iOpcion,
                         const char* szClave) {
    if (!poSipua) return -1;
    return RegistraUsuario(szNombre, iTipo, piCodecs, iNumCodecs, iOpcion, szClave,
                           "ALTA de usuario %s efectuada con indice %d\n", "ERROR al dar de Alta SIPUA\n");
}

int Cgus::RegistraUsuario(const char* szNombre, int iTipo, const int32_t* piCodecs, int iNumCodecs, int iOpcion,
                          const char* szClave, const char* szLogAlta, const char* szLogError) {
    int iEntrada = -1;
    for (int i = 0; i < MAX_USUARIOS; i++)
        if (asUsuarios[i].iIndice < 0) {
            iEntrada = i;
            break;
        }
    if (iEntrada < 0) return -1;
    static const int32_t kPorDefecto[] = {8};
    if (!piCodecs || iNumCodecs <= 0) {
        piCodecs = kPorDefecto;
        iNumCodecs = 1;
    }
    const int res = poSipua->AltaUsuario(szNombre, piCodecs, iNumCodecs, iTipo, iOpcion, szClave);
    if (res >= 0) {
        std::snprintf(asUsuarios[iEntrada].acNombre, sizeof asUsuarios[iEntrada].acNombre, "%.64s", szNombre);
        asUsuarios[iEntrada].iIndice = res;
        NLOG::Log(NLOG::INFO, szLogAlta, szNombre, res);
    } else {
        NLOG::Log(NLOG::ERROR, "%s", szLogError);
    }
    return res;
}

int Cgus::ActualizaAltaUsuarioSip(const char* szNombre, int, const int32_t* piCodecs, int iNumCodecs, int iOpcion) {
    if (!poSipua) return -1;
    static const int32_t kPorDefecto[] = {8};
    if (!piCodecs || iNumCodecs <= 0) {
        piCodecs = kPorDefecto;
        iNumCodecs = 1;
    }
    const int res = poSipua->ActualizaUsuario(szNombre, piCodecs, iNumCodecs, iOpcion);
    if (res >= 0) TcpCons::Traza(kTrazaSip, "Actualiza ALTA de usuario %s efectuada con indice %d\n", szNombre, res);
    else TcpCons::Traza(kTrazaSip, "ERROR al Actualizar Alta SIPUA\n");
    return res;
}

int Cgus::BajaUsuarioSip(const char* szNombre, int iIndice) {
    if (iIndice < 0 || !poSipua) return -1;
    const int res = poSipua->BajaUsuario(iIndice);
    if (res >= 0) {
        for (auto& u : asUsuarios)
            if (u.iIndice == iIndice) {
                u.acNombre[0] = '\0';
                u.iIndice = -1;
                break;
            }
        TcpCons::Traza(kTrazaSip, "Baja de usuario %s efectuada con indice %d\n", szNombre ? szNombre : "", iIndice);
    } else {
        TcpCons::Traza(kTrazaSip, "Error al dar de Baja SIPUA\n");
    }
    return res;
}

int Cgus::ActualizaParamSip(int iPeriodo) {
    if (!poSipua) return -1;
    NLOG::Log(NLOG::INFO, "GUS: ActualizaParamSip");
    poSipua->PonPeriodoSesion(iPeriodo > 89 ? iPeriodo : 90);
    return 0;
}

int Cgus::FijaServidoresSip(const char (*aszRegistrar)[65], int, const char (*aszProxy)[65]) {
    if (poSipua)
        poSipua->PonServidores(aszRegistrar ? aszRegistrar[0] : nullptr, aszProxy ? aszProxy[0] : nullptr);
    return 0;
}

int Cgus::IniciaLlamada(int iUsuario, const char* szFrom, const char* szTo, const char* szUriPeticion,
                        const char* szPuertoLocal, const char* szSubject, int iPrioridad,
                        const ParamLlamadaRadio* psRadio) {
    if (!szUriPeticion || !poSipua) return -1;
    const bool bIA = szSubject && !std::strncmp(szSubject, "IA call", 7);
    const char* szPrioridad = bIA ? "urgent" : PalabraPrioridad(iPrioridad);
    OpcionesLlamada sOp;
    std::memset(&sOp, 0, sizeof sOp);
    if (psRadio) {
        TcpCons::Printf("  sip_param_call.prio=%i sip_param_call.fid=%s sip_param_call.bss=%i\n", psRadio->prio,
                        psRadio->fid, psRadio->bss);
        std::snprintf(sOp.acMaxForwards, sizeof sOp.acMaxForwards, "%s", psRadio->prio < 5 ? "20" : "10");
        std::snprintf(sOp.acParamFrom, sizeof sOp.acParamFrom, "%.64s", psRadio->acParamFrom);
        std::snprintf(sOp.acParamTo, sizeof sOp.acParamTo, "%.64s", psRadio->acParamTo);
        sOp.prio = psRadio->prio;
        std::snprintf(sOp.acReferredBy, sizeof sOp.acReferredBy, "%.64s", psRadio->acReferredBy);
        std::snprintf(sOp.acReplaces, sizeof sOp.acReplaces, "%.81s", psRadio->acReplaces);
        std::snprintf(sOp.fid, sizeof sOp.fid, "%.64s", psRadio->fid);
        sOp.iTipoSesion = psRadio->iTipoSesion;
        sOp.bss = psRadio->bss;
    }
    return poSipua->SIP_Start_Call(iUsuario, szUriPeticion, szFrom, szTo, szSubject, "", szPuertoLocal, nullptr,
                                   szPrioridad, 1, bIA ? 1 : 0, psRadio ? &sOp : nullptr);
}

int Cgus::EnviaOptions(const char* szFrom, const char* szTo, int iTipo) {
    return poSipua ? poSipua->SIP_Start_Options(szFrom, szTo, "", iTipo) : -1;
}

int Cgus::CambiaTipoSesion(int iUsuario, int cid, int iTipoSesion, int iPrioridad) {
    return poSipua ? poSipua->SIP_Cambia_Tipo_Sesion(iUsuario, cid, iTipoSesion, PalabraPrioridad(iPrioridad)) : -1;
}

int Cgus::EnviaOk(int, int cid, int iPuertoLocal) {
    if (!poSipua) return -1;
    char acPuerto[16];
    std::snprintf(acPuerto, sizeof acPuerto, "%d", iPuertoLocal);
    TcpCons::Traza(kTrazaSip, "Envia 200 ok cid:%i local_port:%s\n", cid, acPuerto);
    return poSipua->SIP_Envia_Respuesta_OK(cid, 1, acPuerto);
}

int Cgus::FinalizaSesion(int iUsuario, int cid) {
    if (!poSipua) return -1;
    int res = -1;
    for (int i = 0; i < kIntentosCierre && res < 0; i++) res = poSipua->SIP_Close_Session(iUsuario, cid);
    if (res < 0) TcpCons::Traza(kTrazaSip, "No se pudo cerrar sesion CID: %i,de usuario %i causa \n", cid, iUsuario);
    return res;
}

int Cgus::CierraSesion(int iUsuario, int cid, int iMotivo) {
    if (!poSipua) return -1;
    const int iRazon = IndiceRazon(iMotivo);
    int res = -1;
    for (int i = 0; i < kIntentosCierre && res < 0; i++) res = poSipua->SIP_Close_Session(iUsuario, cid, 0, iRazon);
    if (res < 0) TcpCons::Traza(kTrazaSip, "No se pudo cerrar sesion CID: %i,de usuario %i causa \n", cid, iUsuario);
    return res;
}

int Cgus::RespondeCodigo(int, int cid, int iCodigoSip) { return poSipua ? poSipua->RespondeInvite(cid, iCodigoSip) : -1; }

int Cgus::RespondeLlamada(int, int cid, int iIndice) {
    return poSipua ? poSipua->RespondeInvite(cid, CodigoRespuesta(iIndice)) : -1;
}

int Cgus::RechazaConCausa(int, int cid, int iMotivo) {
    return poSipua ? poSipua->RespondeInviteConRazon(cid, 603, IndiceRazon(iMotivo)) : -1;
}

int Cgus::EnviaInfo(int iUsuario, int cid, const char* szTipo, const char* szCuerpo) {
    return poSipua ? poSipua->EnviaInfo(iUsuario, cid, szTipo, szCuerpo) : -1;
}

int Cgus::Suscribe(int, const char* szTo, const char* szFrom, const char* szEvento, int iExpira) {
    return poSipua ? poSipua->SuscribeSip(szTo, szFrom, "", szEvento, iExpira) : -1;
}

int TrataEventoSip(int iUsuario, int iCodigo, int cid, int iValor4, intptr_t iValor5) {
    Cgus* g = gpoCgus;
    Caplic* ap = g ? g->poAplic : nullptr;
    TcpCons::Traza(kTrazaSip, "Trata Evento cid:%i evento:%i \n", cid, iCodigo);
    if (!ap) return 0;
    switch (iCodigo) {
    case EXOSIP_IN_SUBSCRIPTION_NEW: {
        // The peer's Expires, in seconds, may be more than an int of milliseconds holds.
        const int64_t iMs = std::clamp<int64_t>(static_cast<int64_t>(static_cast<int>(iValor5)) * 1000, INT32_MIN,
                                                INT32_MAX);
        ap->Traplic_WG67_Key_In_Subscription(iUsuario, cid, iValor4, static_cast<int>(iMs));
        return 0;
    }
    case EXOSIP_IN_SUBSCRIPTION_RELEASED:
        ap->Traplic_WG67_Key_In_Subscription(iUsuario, cid, iValor4, -1);
        return 0;
    case EXOSIP_MESSAGE_REQUESTFAILURE:
        TcpCons::Printf("respuesta for Option\n");
        ap->Traplic_Respuesta_for_Options(iUsuario, nullptr);
        return 0;
    case EXOSIP_MESSAGE_ANSWERED:
        ap->Traplic_Respuesta_for_Options(iUsuario, nullptr);
        return 0;
    case SIPEV_OPTIONS:
        return ap->Traplic_Options(iUsuario, nullptr);
    default:
        break;
    }
    SesionSip s;
    std::memset(static_cast<void*>(&s), 0, sizeof s);
    s.oTemporizador.Reinicia();
    const bool bSesion = g->poSipua && g->poSipua->LeeSesion(cid, &s) == 0;
    if (!bSesion) s.cid = cid;
    switch (iCodigo) {
    case EXOSIP_CALL_INVITE: {
        DerivaPrioridad(&s);
        if (!s.acReplaces[0]) {
            if (AdmiteLlamada()) ap->Traplic_Invite(iUsuario, &s);
            if (iUsuario < 0 && g->poSipua) g->poSipua->PonUsuarioSesion(cid, s.iUsuario);
        } else {
            char acCallId[256];
            std::snprintf(acCallId, sizeof acCallId, "%.255s", s.acReplaces);
            char* p = std::strchr(acCallId, ';');
            if (!p) p = std::strchr(acCallId, '%');
            if (p) *p = '\0';
            SesionSip sSustituida;
            if (g->poSipua && g->poSipua->LeeSesionPorCallId(&sSustituida, acCallId) == 0) {
                ap->Traplic_Replaces(sSustituida.iUsuario, sSustituida.cid, &s);
            } else if (g->poSipua) {
                // Nothing to replace (RFC 3891): the answer also frees the INVITE's session.
                NLOG::Log(NLOG::INFO, "GUS: Replaces sin llamada %s, cid=%i", acCallId, cid);
                g->poSipua->RespondeInvite(cid, 481);
            }
        }
        break;
    }
    case EXOSIP_CALL_PROCEEDING:
        TcpCons::Traza(kTrazaSip, "Call_Proceeding cid:%i\n", cid);
        ap->Traplic_Call_Proceeding(iUsuario, &s);
        break;
    case EXOSIP_CALL_RINGING:
        TcpCons::Traza(kTrazaSip, "Ringing cid:%i\n", cid);
        ap->Traplic_Ringing(iUsuario, &s);
        break;
    case EXOSIP_CALL_RELEASED:
        TcpCons::Traza(kTrazaSip, "Released cid:%i\n", cid);
        if (cid >= 0 && bSesion) ap->Traplic_Released(iUsuario, &s);
        break;
    case EXOSIP_CALL_REQUESTFAILURE:
        TcpCons::Traza(kTrazaSip, "Request Faillure cid:%i\n", cid);
        if (bSesion) ap->Traplic_Request_Failure(iUsuario, &s);
        break;
    case EXOSIP_CALL_GLOBALFAILURE:
        TcpCons::Traza(kTrazaSip, "Global Faillure cid:%i\n", cid);
        ap->Traplic_Global_Failure(iUsuario, &s);
        break;
    case EXOSIP_CALL_SERVERFAILURE:
        NLOG::Log(NLOG::INFO, "Server Faillure cid:%i", cid);
        ap->Traplic_Server_Failure(iUsuario, &s);
        break;
    case 54:  // UPDATE received
        ap->Traplic_Update(iUsuario, &s);
        break;
    case EXOSIP_CALL_CLOSED:
        ap->Traplic_Closed(iUsuario, &s);
        break;
    case EXOSIP_CALL_ACK:
        ap->Traplic_ACK(iUsuario, &s);
        break;
    case SIPEV_INFO:
        ap->Traplic_Info(iUsuario, &s, reinterpret_cast<const char*>(iValor5));
        break;
    case SIPEV_INTRUSION_EN_CURSO:
        ap->Traplic_InfoIntrusionInProgress(iUsuario, &s);
        break;
    case SIPEV_INTRUSION_EFECTIVA:
        ap->Traplic_InfoIntrusionIsEfective(iUsuario, &s);
        break;
    case SIPEV_FIN_INTRUSION:
        ap->Traplic_InfoEndofIntrusion(iUsuario, &s);
        break;
    case SIPEV_INTRUSION_INMINENTE:
        ap->Traplic_InfoIntrusionInminente(iUsuario, &s);
        break;
    case EXOSIP_CALL_REDIRECTED:
        ap->Traplic_Redirect(iUsuario, &s);
        break;
    case EXOSIP_CALL_REINVITE:
        TcpCons::Printf("reinvite\n");
        ap->Traplic_Reinvite(iUsuario, &s);
        break;
    case EXOSIP_CALL_ANSWERED:
        ap->Traplic_Call_Answer(iUsuario, &s);
        break;
    case EXOSIP_SUBSCRIPTION_NOTIFY:
        ap->Traplic_Notify(iUsuario, &s);
        break;
    case EXOSIP_CALL_NOANSWER:
        ap->Traplic_Call_No_Answer(iUsuario, &s);
        break;
    case SIPEV_REFER:
        ap->Traplic_Refer(iUsuario, &s);
        break;
    case EXOSIP_CALL_MESSAGE_ANSWERED:
        ap->Traplic_Call_Message_Answered(iUsuario, &s);
        break;
    default:
        break;
    }
    return 0;
}

void SipParaPila() {
    Cgus* g = gpoCgus;
    if (g && g->DameSipua()) g->DameSipua()->Para();
    else eXosip_quit();
}
