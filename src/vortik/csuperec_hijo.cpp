// CSupervisorRecurso: the events of the resource process, on the child channel's receive
// thread. They keep the InfoSesion records in step with the line's calls and RTP sessions and
// turn each line event into the SIP side's action. A handler releases the session table's lock before it
// takes the child channel.
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "ccolateral.h"
#include "cconfig.h"
#include "csuperec.h"
#include "comun/nlog.h"
#include "comun/texto.h"
#include "comun/uri.h"
#include "ipc/cola.h"
#include "sip/cgestorllamada.h"
#include "sip/cpasagus.h"
#include "sip/ctablapttid.h"
#include "sip/encaminauri.h"

namespace {

// Six digit values of the line (10 stands for 0) as text.
void Digitos(const char* valores, char (&texto)[7]) {
    uint8_t v[6];
    std::memcpy(v, valores, 6);
    char ac[8] = {};
    NibblesAAsciiHex(v, ac, 6);
    for (int i = 0; i < 6; ++i)
        if (ac[i] == 'A') ac[i] = '0';
    CopiaCampo(texto, ac, 6);
}
}  // namespace

void CSupervisorRecurso::EvtReset() { NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:CSupervisorRecurso::EvtReset", iMiNumRecurso); }

void CSupervisorRecurso::EvtSinConfig() {
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:CSupervisorRecurso::EvtSinConfig", iMiNumRecurso);
    iReconfigurar = 1;
}

void CSupervisorRecurso::EvtLlamadaEntrante(int idllam, DatosLlamada* psDatos) {
    const int n = iMiNumRecurso;
    std::shared_ptr<Cola> canal = CanalHijo();
    auto Rechaza = [&](int motivo) {
        if (canal) canal->EnviaRechazaLlamada(idllam, motivo);
    };
    if (iModoReserva) {
        Rechaza(41);
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:Rechaza LlamadaEntrante No principal", n);
        return;
    }
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: EvtLlamadaEntrante ", n);
    if (psDatos == nullptr) return;
    const Identidad id = DameIdentidad();
    const bool troncal = id.iTipoIf == TIPOIF_ATSR2 || id.iTipoIf == TIPOIF_ATSN5 || id.iTipoIf == TIPOIF_ATSQSIG;
    if (psDatos->acDestino[0] == 0 && !troncal) {
        int iniciadas = 0;
        for (int i = 0; poColateral->IniciaLlamadaColateral(idllam, i, 0) != -1; ++i) ++iniciadas;
        if (iniciadas == 0) Rechaza(0);
        return;
    }
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: ENCAMINAMIENTO llamada entrante ", n);
    char origen[7], destino[7];
    Digitos(psDatos->acOrigen, origen);
    Digitos(psDatos->acDestino, destino);
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: ..origen = %s ..destino = %s", n, origen, destino);
    InfoSesion* s;
    {
        cfgCerrojo l(oSesiones.Mutex());
        s = oSesiones.Asigna();
    }
    if (s == nullptr) {
        Rechaza(41);
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Rechaza LlamadaEntrante. No infosesion", n);
        return;
    }
    s->idllam = idllam;
    CopiaCampo(s->Origen, origen);
    CopiaCampo(s->acDestino, destino);
    s->ucPrioridad = psDatos->ucPrioridad;
    DatosLlamadaGestor pl;
    std::memset(&pl, 0, sizeof pl);
    CopiaCampo(pl.NumOrigen, origen, 80);
    CopiaCampo(pl.NumDestino, destino, 80);
    if (ModoSistemaLocal == 1 && poColateral->Arrancado()) {
        char uri[81] = {};
        if (poColateral->DameUriRemota(uri) == 0) {
            // A URI without "@" has no host part: the numbers then go as they are.
            char host[CColateral::LON_PARTE_URI + 1] = {};
            if (std::strchr(uri, '@')) CColateral::SacaDominioUri(uri, host);
            if (host[0] != '\0') {
                char propia[81];
                if (CColateral::DameUriPropia(propia, sizeof propia, origen) == 0) CopiaCampo(pl.NumOrigen, propia, 80);
                std::snprintf(pl.NumDestino, sizeof pl.NumDestino, "sip:%.6s@%.50s", destino, host);
                char usuario[CColateral::LON_PARTE_URI + 1] = {};
                CColateral::SacaUsuarioUri(uri, usuario);
                if (usuario[0] != '\0') CopiaCampo(pl.UsuDestino, usuario, 80);
            }
        }
    }
    CopiaCampo(s->Origen, pl.NumOrigen, 80);
    CopiaCampo(s->acDestino, pl.NumDestino, 80);
    pl.ucPrioridad = psDatos->ucPrioridad;
    if (id.iTipoIf == TIPOIF_ATSQSIG) {
        s->iTipoLlamada = pl.iContTransitos = psDatos->iTipoSip;
        pl.tipoLlamante = 3;
        pl.tipo = psDatos->iTipoLlamada;
    } else {
        s->iTipoLlamada = pl.iContTransitos = -1;
        pl.tipoLlamante = 2;
        pl.tipo = 2;
        CopiaCampo(pl.UsuOrigen, id.acNombre, 64);
    }
    const int cid = ColocaLlamada(&pl, s, idllam);
    if (cid < 0) {
        Rechaza(41);
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Rechaza LlamadaEntrante\n", n);
        LiberaInfoSesion(s);
    }
}

void CSupervisorRecurso::EvtRinging(int idllam, int iMotivo) {
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: EvtRinging", iMiNumRecurso);
    InfoSesion* s = oSesiones.BuscaPorIdLlamada(idllam);
    if (s == nullptr || s->cid < 0) {
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:No encuentra infosesion liId=%i\n", iMiNumRecurso, idllam);
        return;
    }
    const bool directo = ModoSistemaLocal != 0;
    if (iMotivo == 2) {
        if (directo)
            poMiPasaGus->EnviaSessionProgress(iIdUsuarioSip, s->cid);
        else
            poMiPasaGus->RespondeIntWarning(iIdUsuarioSip, s->cid, 2);
    } else if (iMotivo == 3) {
        if (!directo) poMiPasaGus->RespondeIntWarning(iIdUsuarioSip, s->cid, 3);
    } else {
        poMiPasaGus->EnviaRinging(iIdUsuarioSip, s->cid);
    }
}

void CSupervisorRecurso::EvtInfoLlamada(int idllam, int iMotivo, int idllamAux) {
    const int n = iMiNumRecurso;
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: EvtInfoLlamada %i liId %i liIdaux %i", n, iMotivo, idllam, idllamAux);
    InfoSesion* s = oSesiones.BuscaPorIdLlamada(idllam);
    if (s == nullptr || s->cid < 0) {
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: No encuentra infosesion", n);
        return;
    }
    if (iMotivo == 3) {
        poMiPasaGus->EnviaSessionProgress(iIdUsuarioSip, s->cid);
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: envia Intrusion In Progrres liId:%i", n, idllam);
        CancelaTemp(&s->iTempSesion);
        return;
    }
    if (iMotivo != 1) {
        poMiPasaGus->EnviaInfoBasico(iIdUsuarioSip, s->cid, iMotivo);
        return;
    }
    poMiPasaGus->EnviaInfoBasico(iIdUsuarioSip, s->cid, 1);
    InfoSesion* aux = idllamAux != 0 && idllamAux != -1 ? oSesiones.BuscaPorIdLlamada(idllamAux) : nullptr;
    if (aux == nullptr) return;
    NLOG::Log(NLOG::INFO, "1-psInfoSesionAux->Origen %s", aux->Origen);
    char numero[80] = {};
    // No text is prepared for an origin that is no 6-digit ATS number: no INFO then.
    if (SacaNumeroUri(aux->Origen, numero, 79) != 6) return;
    NLOG::Log(NLOG::INFO, "2-acOrigen %s", numero);
    char texto[65] = {};
    // The resource name of the number, in direct mode as well: the plan's SIP table holds it.
    if (BuscaRecursoPorNumeroAts(texto, numero) != 0) CopiaCampo(texto, numero, 32);
    NLOG::Log(NLOG::INFO, "3-acText %s", texto);
    usleep(40000);
    poMiPasaGus->EnviaInfo(iIdUsuarioSip, s->cid, 10, texto);
}

void CSupervisorRecurso::EvtAceptaLlamada(int idllam) {
    const int n = iMiNumRecurso;
    InfoSesion* s = oSesiones.BuscaPorIdLlamada(idllam);
    if (s == nullptr || idllam < 0) {
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:No encuentra infosesion liId=%i", n, idllam);
        return;
    }
    DireccionSesion d;
    LlenaDireccionSesion(s, &d);
    d.iRtpHe = 1;
    d.iStandby = 0;
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Envio nueva sesion poCanalHijo=%i,payload=%i, puertoremoto=%i, puertolocal=%i", n,
              CanalHijo() ? 1 : 0, s->iPayload, s->iPuertoRemoto, s->iPuertoLocal);
    s->iTipoSesion = 1;
    s->iSesionPedida = 1;
    const int r = EnviaNuevaSesion(&d, s);
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Nueva sesion enviada ", n);
    if (r < 0) {
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Nueva sesion no establecida", n);
        CierraSesionCompleta(s, 0);
    }
}

void CSupervisorRecurso::EvtDiagnostico(uint8_t ucCodigo, int iId, int iResultado) {
    const int n = iMiNumRecurso;
    InfoSesion* s = nullptr;
    bool bPedida = false;
    InfoSesion sPedida{};  // the record as the confirmation found it
    switch (ucCodigo) {
    case 15:
    case 16: {
        cfgCerrojo l(oSesiones.Mutex());
        s = oSesiones.BuscaPorIdSesion(iId);
        // Taken with the look-up: the child's confirmation and the guard's expiry come on two
        // threads, and the SIP thread may free the record meanwhile, under this lock.
        if (s && ucCodigo == 15) {
            bPedida = s->iSesionPedida == 1;
            s->iSesionPedida = 0;
            if (bPedida) sPedida = *s;
        }
        break;
    }
    case 5:
    case 253: {
        cfgCerrojo l(oSesiones.Mutex());
        s = iId >= 0 ? oSesiones.BuscaPorIdLlamada(iId) : nullptr;
        break;
    }
    case 29:
        IntentaLLamadaEsperaPreemption();
        return;
    default:
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Comando desconocido en CSupervisorRecurso::EvtDiagnostico (%i)", n, ucCodigo);
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:EvtDiagnostico No encuentra infosesion", n);
        return;
    }
    if (s == nullptr) {
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:EvtDiagnostico No encuentra infosesion", n);
        return;
    }
    if (ucCodigo == 15) {
        CancelaTemp(&s->iTempSesion);
        // A confirmation counts once: a repeat, or one after the guard fired, changes nothing.
        if (!bPedida) return;
        if (iResultado == 0) {
            const InfoSesion& p = sPedida;
            if ((p.iTipoSesion & 0x0F) == 1 && p.cid >= 0) ContestaSip(&p);
            if (p.iTipoSesion == 2 && DameIdentidad().iTipoIf != TIPOIF_LCEN && p.idllam >= 0) {
                std::shared_ptr<Cola> canal = CanalHijo();
                if (!canal)
                    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Canal Hijo no encontrado", n);
                else if (p.iEsFoco)
                    canal->EnviaAceptaLlamadaValor(p.idllam, 1);
                else
                    canal->EnviaAceptaLlamada(p.idllam);
            }
        } else {
            if (s->idsesion >= 0) {
                if (EnviaFinSesion(s->idsesion) < 0) NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Error fin sesion", n);
                s->idsesion = -1;
            }
            LiberaPttIdSesion(s);
            CierraSesionCompleta(s, 201);
        }
        poColateral->iCambioColateral = 1;
        return;
    }
    if (ucCodigo == 5) {
        CancelaTemp(&s->iTempLlamada);
        if (s->iLlamadaPedida != 1) return;
        s->iLlamadaPedida = 0;
        if (iResultado == 0) {
            const int t = DameIdentidad().iTipoIf;
            if (s->cid < 0)
                NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Sesion cid no encontrada", n);
            else if (t != TIPOIF_LCEN && t != TIPOIF_ATSR2 && t != TIPOIF_ATSN5 && t != TIPOIF_ATSQSIG)
                poMiPasaGus->EnviaRinging(iIdUsuarioSip, s->cid);
            return;
        }
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:Diagnostico no es OK (%i)", n, iResultado);
        if (s->cid >= 0) {
            poMiPasaGus->RechazaLlamada(iIdUsuarioSip, s->cid, iResultado);
            CierraSip(s->cid, 0);
        }
        if (s->idllam >= 0) {
            std::shared_ptr<Cola> canal = CanalHijo();
            if (!canal)
                NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:canal Hijo no encontrado", n);
            else if (canal->EnviaFinLlamada(s->idllam) < 0)
                NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Error finllamada (%i)", n, s->idllam);
        }
        if (s->idsesion >= 0) {
            if (EnviaFinSesion(s->idsesion) < 0) NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:Error fin sesion", n);
            s->idsesion = -1;
        }
        LiberaInfoSesion(s);
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Llamada Saliente no establecida motivo=%i", n, iResultado);
        return;
    }
    if (ucCodigo == 16) {
        if (s->cid >= 0) poMiPasaGus->RespondeLlamada(iIdUsuarioSip, s->cid, iResultado == 0 ? 12 : 4);
        return;
    }
    // 253: the tones the line asks for go to the far end as an INFO.
    char texto[32];
    std::snprintf(texto, sizeof texto, "tones: %.24s", s->acDestino);
    if (s->cid >= 0) poMiPasaGus->EnviaInfo(iIdUsuarioSip, s->cid, 11, texto);
}

void CSupervisorRecurso::VenceTemp_Preemption() {
    NLOG::Log(NLOG::INFO, "CSUPEREC:VenceTemp_Preemption");
    IntentaLLamadaEsperaPreemption();
}

void CSupervisorRecurso::IntentaLLamadaEsperaPreemption() {
    const int n = iMiNumRecurso;
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:IntentaLLamadaEsperaPreemption", n);
    InfoSesion* s = oSesiones.BuscaPreemption();
    if (s == nullptr) return;
    s->iPreemption = 0;
    CancelaTemp(&s->iTempSesion);
    int id;
    {
        cfgCerrojo l(oSesiones.Mutex());
        id = oTablaPttId.Anade(s->Origen);
    }
    if (id <= 0) {
        poMiPasaGus->RechazaLlamada(iIdUsuarioSip, s->cid, 201);
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:No puedo alojar PTT-ID para llamada entrante %i", n, s->cid);
        LiberaInfoSesion(s);
        return;
    }
    s->iPttId = id;
    DireccionSesion d;
    LlenaDireccionSesion(s, &d);
    d.iParametro = 0;
    d.iPttId = id;
    d.iRtpHe = s->iRtphe;
    d.iPrioridad = s->ucPrioridad;
    d.iStandby = 0;
    s->iSesionPedida = 1;
    if (EnviaNuevaSesion(&d, s) < 0) {
        poMiPasaGus->RechazaLlamada(iIdUsuarioSip, s->cid, 203);
        LiberaPttIdSesion(s);
        LiberaInfoSesion(s);
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:Nueva sesion no establecida", n);
    }
}

void CSupervisorRecurso::EvtRechazaLlamada(int idllam, int iMotivo) {
    NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]:EvtRechazaLlamada", iMiNumRecurso);
    InfoSesion* s = oSesiones.BuscaPorIdLlamada(idllam);
    if (s == nullptr || idllam < 0) {
        NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]:No encuentra infosesion", iMiNumRecurso);
        return;
    }
    if (s->cid >= 0) poMiPasaGus->RechazaLlamada(iIdUsuarioSip, s->cid, iMotivo);
    LiberaInfoSesion(s);
}

void CSupervisorRecurso::EvtConversacionInterrumpida(int idllam) {
    const int n = iMiNumRecurso;
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: EvtConversacionInterrumpida(%d)\n", n, idllam);
    InfoSesion* s = idllam >= 0 ? oSesiones.BuscaPorIdLlamada(idllam) : nullptr;
    if (s == nullptr) {
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: No encuentra infosesion liId=%i", n, idllam);
        return;
    }
    if (s->cid >= 0) {
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Cierra cid %d idllam =%d", n, s->cid, idllam);
        CierraSip(s->cid, 0);
    } else {
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Sesion %d no tiene CID de SIP", n, s->idsesion);
    }
    if (s->idsesion >= 0 && EnviaFinSesion(s->idsesion) < 0) NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]:Error fin sesion", n);
    LiberaInfoSesion(s);
}

void CSupervisorRecurso::EvtFinSesion(int idsesion, int iValor) {
    const int n = iMiNumRecurso;
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:EvtFinSesion(%d)\n", n, idsesion);
    InfoSesion* s = oSesiones.BuscaPorIdSesion(idsesion);
    if (s == nullptr) {
        NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: EvtFinSesion sesion %d no encontrada", n, idsesion);
        return;
    }
    LiberaPttIdSesion(s);
    if (s->cid < 0) {
        NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: Sesion %d no tiene CID de SIP\n", n, idsesion);
    } else if (poMiPasaGus) {
        const int r = poMiPasaGus->CierraSesion(iIdUsuarioSip, s->cid, iValor);
        if (r < 0) NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:Trata_Close_Session(%d) devolvio error %d\n", n, s->cid, r);
    }
    if (s->idllam >= 0 && oSesiones.CuentaPorIdLlamada(s->idllam) == 1 && EnviaFinLlamada(s->idllam, 0) < 0)
        NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: Error fin llamada (%d)", n, s->idllam);
    LiberaInfoSesion(s);
    if (iValor == 220) IntentaLLamadaEsperaPreemption();
}

void CSupervisorRecurso::ContestaSip(const InfoSesion* s) {
    if ((s->iTipoSesion & 0xF0) == 0x10) {
        poMiPasaGus->AceptaLlamadaConModo(iIdUsuarioSip, s->cid, s->iPuertoLocal, s->iPttId);
        poMiPasaGus->NotificaKeyIn(iIdUsuarioSip);
    } else {
        poMiPasaGus->AceptaLlamada(iIdUsuarioSip, s->cid, s->iPuertoLocal);
    }
}

void CSupervisorRecurso::EvtFinLlamada(int idllam, int iCausa) {
    const int n = iMiNumRecurso;
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: EvtFinLlamada(%d,%d)\n", n, idllam, iCausa);
    poColateral->iCambioColateral = 1;
    if (idllam < 0) return;
    for (InfoSesion* s = oSesiones.BuscaSiguientePorIdLlamada(nullptr, idllam); s;
         s = oSesiones.BuscaSiguientePorIdLlamada(s, idllam)) {
        // The line answered and hung up before its session was confirmed: the caller still
        // gets the answer, then the BYE, not a refusal of a call the line took.
        bool bPedida;
        {
            cfgCerrojo l(oSesiones.Mutex());  // as the confirmation and its guard take it
            bPedida = (s->iTipoSesion & 0x0F) == 1 && s->iSesionPedida == 1 && s->cid >= 0;
            if (bPedida) s->iSesionPedida = 0;
        }
        if (bPedida) {
            CancelaTemp(&s->iTempSesion);
            ContestaSip(s);
        }
        if (s->idsesion >= 0 && EnviaFinSesion(s->idsesion) < 0)
            NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: Error fin sesion %i", n, s->idsesion);
        const int cid = s->cid;
        const int idsesion = s->idsesion;
        LiberaInfoSesion(s);
        if (cid >= 0) {
            NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Cierra cid %d idllam =%d\n", n, cid, idllam);
            CierraSip(cid, iCausa);
        } else {
            NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Sesion %d no tiene CID de SIP", n, idsesion);
        }
        poColateral->iCambioColateral = 1;
    }
}

void CSupervisorRecurso::EvtNotificaEstadoRecurso(NotificacionEstado* psEstado) {
    if (psEstado == nullptr) return;
    uint8_t estadoPrevio, valorPrevio;
    NotificacionEstado sNuevo;
    {
        std::lock_guard<std::mutex> l(tMutexEstado);
        estadoPrevio = sEstadoRecurso.ucEstado;
        valorPrevio = static_cast<uint8_t>(sEstadoRecurso.iValor & 0xFF);
        sEstadoRecurso = *psEstado;
        sNuevo = sEstadoRecurso;
    }
    ucEstadoPublicado = psEstado->ucEstado;
    if (poMiPasaGus) poMiPasaGus->ActualizaEstadoUsuario(iIdUsuarioSip, iMiNumRecurso, &sNuevo);
    const int tipoIf = DameIdentidad().iTipoIf;
    if (psEstado->ucEstado == 10 && estadoPrevio != 10) {
        if (tipoIf == TIPOIF_RADIO || tipoIf == TIPOIF_DATOS)
            poColateral->SupervisaColateralDatRadPP(-2);
        else if (tipoIf == TIPOIF_BL)
            poColateral->SupervisaColateralDatRadPP(-3);
    }
    if (psEstado->ucEstado != estadoPrevio || static_cast<uint8_t>(psEstado->iValor & 0xFF) != valorPrevio)
        poColateral->iCambioColateral = 1;
    // The collateral state is sent only when it changes: a line entity that started after that
    // (its process slower than the peer's first answer, or restarted) never heard it.
    if (psEstado->ucEstado != 10 && estadoPrevio == 10 && psConfig != nullptr && superecDameConfig() != nullptr) {
        int superv;
        {
            cfgCerrojo c(&superecDameConfig()->tMutex);
            superv = psConfig->sColateral.isuperv_options;
        }
        if (superv != 0) poColateral->EnviaEstadoColateral();
    }
    if (tipoIf == TIPOIF_RADIO && valorPrevio == 1 && (psEstado->iValor & 0xFF) == 0) poColateral->FinBucle();
}
