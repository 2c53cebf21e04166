#include "sip/cpasagus.h"

#include <cstring>

#include "comun/nlog.h"

CPasaGus& oPasaGus = *new CPasaGus;
CGestorLlamada& oGestorLlamada = *new CGestorLlamada;

namespace {
int SinSip(const char* szOperacion) {
    NLOG::Log(NLOG::ERROR, "CPasaGus: SIP no disponible (%s)", szOperacion);
    return -1;
}
}  // namespace

CPasaGus::CPasaGus() : iSipArrancado(0), iNumRecursos(0), pGestorLlamada(nullptr) {
    for (auto& r : asRecursos) {
        r.iIdUsrGus = -1;
        r.nombre[0] = '\0';
        r.posuperec = nullptr;
        r.tipo = -1;
    }
    // A global built before main: the named-mutex registry may not be set up yet.
    pthread_mutex_init(&tMutex, nullptr);
}

CPasaGus::~CPasaGus() = default;

int CPasaGus::AltaRecurso(CRecursoSip* poSuper, const char* szNombre, int, int) {
    NLOG::Log(NLOG::INFO, " CPasaGus: Comienza Alta recurso %s porec=%lx", szNombre ? szNombre : "",
              static_cast<unsigned long>(reinterpret_cast<uintptr_t>(poSuper)));
    return SinSip("AltaRecurso");
}

int CPasaGus::ActualizaRecurso(CRecursoSip*, const char*, int, int) { return SinSip("ActualizaRecurso"); }

int CPasaGus::BajaRecurso(CRecursoSip* poSuper) {
    pthread_mutex_lock(&tMutex);
    int res = -1;
    for (auto& r : asRecursos) {
        if (poSuper && r.posuperec == poSuper) {
            r.posuperec = nullptr;
            r.iIdUsrGus = -1;
            r.nombre[0] = '\0';
            --iNumRecursos;
            res = 0;
            break;
        }
    }
    pthread_mutex_unlock(&tMutex);
    if (res < 0) NLOG::Log(NLOG::INFO, " CPasaGus: Intento de baja recurso no conocido");
    return res;
}

int CPasaGus::RechazaLlamada(int iUsuario, int, int) {
    NLOG::Log(NLOG::INFO, "GUS Rechaza llamada %i", iUsuario);
    return SinSip("RechazaLlamada");
}
int CPasaGus::EnviaRinging(int, int) { return SinSip("EnviaRinging"); }
int CPasaGus::EnviaSessionProgress(int, int) { return SinSip("EnviaSessionProgress"); }
int CPasaGus::RespondeIntWarning(int, int, int) { return SinSip("RespondeIntWarning"); }
int CPasaGus::EnviaInfo(int, int, int, const char*) { return SinSip("EnviaInfo"); }
int CPasaGus::EnviaInfoBasico(int iUsuario, int cid, int iTipo) { return EnviaInfo(iUsuario, cid, iTipo, nullptr); }
int CPasaGus::AceptaLlamada(int iUsuario, int, int) {
    NLOG::Log(NLOG::INFO, "GUS Acepta llamada user=%i", iUsuario);
    return SinSip("AceptaLlamada");
}
int CPasaGus::AceptaLlamadaConModo(int iUsuario, int cid, int iPuerto, int) { return AceptaLlamada(iUsuario, cid, iPuerto); }
int CPasaGus::LanzaLlamadaSip(int, DatosLlamadaGestor*, int*) { return SinSip("LanzaLlamadaSip"); }
int CPasaGus::DevuelveLocalPort(int, int, int) { return 0; }
int CPasaGus::NotificaKeyIn(int) { return SinSip("NotificaKeyIn"); }
int CPasaGus::NotificaRefer(int, int, const char*) { return SinSip("NotificaRefer"); }
int CPasaGus::NumSuscriptores(int) { return 0; }
int CPasaGus::NumSuscriptoresPR() { return 0; }
int CPasaGus::EligeSuscripcion(int) { return 0; }
int CPasaGus::ActualizaEstadoUsuario(int iUsuario, int, const NotificacionEstado*) {
    NLOG::Log(NLOG::INFO, "Id-Usr no valido %i", iUsuario);
    return -1;
}
void CPasaGus::PintaDatosRecurso() {}
void CPasaGus::PintaDatosExosip() {}

// Without a user agent no SIP event ever arrives.
void CPasaGus::Traplic_Call_Proceeding(int, DatosEventoSip*) {}
void CPasaGus::Traplic_Ringing(int, DatosEventoSip*) {}
void CPasaGus::Traplic_Released(int, DatosEventoSip*) {}
void CPasaGus::Traplic_Request_Failure(int, DatosEventoSip*) {}
void CPasaGus::Traplic_Global_Failure(int, DatosEventoSip*) {}
void CPasaGus::Traplic_Server_Failure(int, DatosEventoSip*) {}
void CPasaGus::Traplic_Invite(int, DatosEventoSip*) {}
void CPasaGus::Traplic_Replaces(int, int, DatosEventoSip*) {}
void CPasaGus::Traplic_Update(int, DatosEventoSip*) {}
void CPasaGus::Traplic_Closed(int, DatosEventoSip*) {}
void CPasaGus::Traplic_ACK(int, DatosEventoSip*) {}
void CPasaGus::Traplic_Info(int, DatosEventoSip*, const char*) {}
void CPasaGus::Traplic_InfoIntrusionInProgress(int, DatosEventoSip*) {}
void CPasaGus::Traplic_InfoIntrusionIsEfective(int, DatosEventoSip*) {}
void CPasaGus::Traplic_InfoEndofIntrusion(int, DatosEventoSip*) {}
void CPasaGus::Traplic_InfoIntrusionInminente(int, DatosEventoSip*) {}
void CPasaGus::Traplic_Redirect(int, DatosEventoSip*) {}
void CPasaGus::Traplic_Reinvite(int, DatosEventoSip*) {}
void CPasaGus::Traplic_Call_Answer(int, DatosEventoSip*) {}
void CPasaGus::Traplic_Notify(int, DatosEventoSip*) {}
void CPasaGus::Traplic_WG67_Key_In_Subscription(int, int, int, int) {}
void CPasaGus::Traplic_Call_No_Answer(int, DatosEventoSip*) {}
void CPasaGus::Traplic_Refer(int, DatosEventoSip*) {}
int32_t CPasaGus::Traplic_Options(int, DatosEventoSip*) { return 0; }
void CPasaGus::Traplic_Call_Message_Answered(int, DatosEventoSip*) {}
void CPasaGus::Traplic_Respuesta_for_Options(int, DatosEventoSip*) {}

int32_t CPasaGus::AbortaInterrupcion(const char*, const char*, int) { return 0; }
