// What the SIP bridge needs of one resource of the gateway: the handlers of its user's SIP events
// and a few look-ups. The core's resource supervisor is the one implementation; the bridge holds
// it by this interface so the SIP side never reaches into the core.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sip/datoseventosip.h"

class CRecursoSip {
public:
    // SIP events of the resource's user; each record is the bridge's copy of the session.
    virtual void Traplic_Respuesta_for_Options() = 0;
    virtual void Traplic_Call_Proceeding(DatosEventoSip* psSesion) = 0;
    virtual void Traplic_Ringing(DatosEventoSip* psSesion) = 0;
    virtual void Traplic_Released(DatosEventoSip* psSesion) = 0;
    virtual void Traplic_Request_Failure(DatosEventoSip* psSesion) = 0;
    virtual void Traplic_Global_Failure(DatosEventoSip* psSesion) = 0;
    virtual void Traplic_Server_Failure(DatosEventoSip* psSesion) = 0;
    // The incoming call handed over, its local RTP port already set.
    virtual void Traplic_Invite(DatosEventoSip* psSesion) = 0;
    virtual void Traplic_Replaces(int cidSustituido, DatosEventoSip* psSesion) = 0;
    virtual void Traplic_Update(DatosEventoSip* psSesion) = 0;
    virtual void Traplic_Closed(DatosEventoSip* psSesion) = 0;
    virtual void Traplic_ACK(DatosEventoSip* psSesion) = 0;
    virtual void Traplic_Info(DatosEventoSip* psSesion, const char* szCuerpo) = 0;
    virtual void Traplic_InfoIntrusionInProgress(DatosEventoSip* psSesion) = 0;
    virtual void Traplic_InfoIntrusionIsEfective(DatosEventoSip* psSesion) = 0;
    virtual void Traplic_InfoEndofIntrusion(DatosEventoSip* psSesion) = 0;
    virtual void Traplic_InfoIntrusionInminente(DatosEventoSip* psSesion) = 0;
    virtual void Traplic_Redirect(DatosEventoSip* psSesion) = 0;
    virtual void Traplic_Reinvite(DatosEventoSip* psSesion) = 0;
    virtual void Traplic_Call_Answer(DatosEventoSip* psSesion) = 0;
    virtual void Traplic_Notify(DatosEventoSip* psSesion) = 0;
    virtual void Traplic_Call_No_Answer(DatosEventoSip* psSesion) = 0;
    virtual void Traplic_Refer(DatosEventoSip* psSesion) = 0;
    // Returned to the SIP front end as the answer to an OPTIONS.
    virtual int32_t Traplic_Options() = 0;

    // Ends the resource's call of that SIP call id, on both sides.
    virtual void Abortallamada(int cid) = 0;
    // The PTT-id list of a running radio resource ("%d,%s\r\n" lines, "\r\n" when empty), copied
    // into the caller's buffer: its length, or -1 when the resource has none (not a running
    // radio) or the buffer is too small.
    virtual int DameListaPttId(char* szLista, size_t uiTam) = 0;
    // The radio resource's BSS method, or -1 when its configuration disables it.
    virtual int32_t DameParamRadio() = 0;
    // 0 when the number lies in one of the resource's operator (privileged) ranges, else -1.
    virtual int EnRangosOperador(const char* szNumero) = 0;
    virtual int EnRangosPrivilegiados(const char* szNumero) = 0;

protected:
    ~CRecursoSip() = default;
};
