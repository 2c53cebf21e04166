// Application interface of SIP events: one operation per event the SIP front end reports.
// The user argument is the user agent's index of the SIP user (negative for an INVITE that
// matches no user); the session record is a copy valid only during the call.
#pragma once

#include <cstdint>

#include "sip/datoseventosip.h"

class Caplic {
public:
    virtual void Traplic_Call_Proceeding(int iUsuario, DatosEventoSip* psSesion) = 0;
    virtual void Traplic_Ringing(int iUsuario, DatosEventoSip* psSesion) = 0;
    virtual void Traplic_Released(int iUsuario, DatosEventoSip* psSesion) = 0;
    virtual void Traplic_Request_Failure(int iUsuario, DatosEventoSip* psSesion) = 0;
    virtual void Traplic_Global_Failure(int iUsuario, DatosEventoSip* psSesion) = 0;
    virtual void Traplic_Server_Failure(int iUsuario, DatosEventoSip* psSesion) = 0;
    virtual void Traplic_Invite(int iUsuario, DatosEventoSip* psSesion) = 0;
    virtual void Traplic_Replaces(int iUsuario, int cidSustituido, DatosEventoSip* psSesion) = 0;
    virtual void Traplic_Update(int iUsuario, DatosEventoSip* psSesion) = 0;
    virtual void Traplic_Closed(int iUsuario, DatosEventoSip* psSesion) = 0;
    virtual void Traplic_ACK(int iUsuario, DatosEventoSip* psSesion) = 0;
    virtual void Traplic_Info(int iUsuario, DatosEventoSip* psSesion, const char* szCuerpo) = 0;
    virtual void Traplic_InfoIntrusionInProgress(int iUsuario, DatosEventoSip* psSesion) = 0;
    virtual void Traplic_InfoIntrusionIsEfective(int iUsuario, DatosEventoSip* psSesion) = 0;
    virtual void Traplic_InfoEndofIntrusion(int iUsuario, DatosEventoSip* psSesion) = 0;
    virtual void Traplic_InfoIntrusionInminente(int iUsuario, DatosEventoSip* psSesion) = 0;
    virtual void Traplic_Redirect(int iUsuario, DatosEventoSip* psSesion) = 0;
    virtual void Traplic_Reinvite(int iUsuario, DatosEventoSip* psSesion) = 0;
    virtual void Traplic_Call_Answer(int iUsuario, DatosEventoSip* psSesion) = 0;
    virtual void Traplic_Notify(int iUsuario, DatosEventoSip* psSesion) = 0;
    // Expiry in ms, -1 when the subscription ended.
    virtual void Traplic_WG67_Key_In_Subscription(int iUsuario, int iSuscripcion, int iDialogo,
                                                  int iExpiraMs) = 0;
    virtual void Traplic_Call_No_Answer(int iUsuario, DatosEventoSip* psSesion) = 0;
    virtual void Traplic_Refer(int iUsuario, DatosEventoSip* psSesion) = 0;
    virtual int32_t Traplic_Options(int iUsuario, DatosEventoSip* psSesion) = 0;
    virtual void Traplic_Call_Message_Answered(int iUsuario, DatosEventoSip* psSesion) = 0;
    virtual void Traplic_Respuesta_for_Options(int iUsuario, DatosEventoSip* psSesion) = 0;

protected:
    ~Caplic() = default;
};
