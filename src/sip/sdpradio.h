// SDP bodies of the gateway and edits of received ones: the ED-137 radio attribute block, the
// answer builders, the direction edits of hold and resume, the attribute lookups and the
// rewrite for a change of radio session type. Bodies are built in a bounded buffer: one that
// would not fit is refused, never cut or overflowed.
#pragma once

#include <osipparser2/osip_message.h>
#include <osipparser2/sdp_message.h>

#include <cstddef>

#include "sip/sesionsip.h"

// Work buffer of a body: appends refuse what does not fit and mark the body as overflowed.
class CuerpoSdp {
public:
    enum { TAMANO = 2048 };
    CuerpoSdp() : iLong(0), bDesbordado(false) { acTexto[0] = '\0'; }
    bool Anade(const char* szTexto);
    bool AnadeN(const char* szTexto, size_t n);
    bool Formatea(const char* szFormato, ...) __attribute__((format(printf, 2, 3)));
    const char* Texto() const { return acTexto; }
    size_t Longitud() const { return iLong; }
    bool Desbordado() const { return bDesbordado; }

private:
    char acTexto[TAMANO];
    size_t iLong;
    bool bDesbordado;
};

// Radio attribute block of the session, appended to the body.
CuerpoSdp& sdp_atributos_radio(const SesionSip* psSesion, CuerpoSdp& oCuerpo);

// Text of the answer with radio profile to a remote offer; 0, or -1 (nothing usable or too long).
int sdp_texto_respuesta_radio(const SesionSip* psSesion, sdp_message_t* psRemoto, const char* szPuerto,
                              const char* szDirLocal, CuerpoSdp& oCuerpo);
// Sets that answer as the body of the message ("application/sdp"); 0 or -1. psAnterior: the last
// body this side sent in the dialog, which the origin's version follows (sdp_version_en_dialogo).
int sdp_complete_message_new(const SesionSip* psSesion, sdp_message_t* psRemoto, osip_message_t* psMensaje,
                             const char* szPuerto, const char* szDirLocal, sdp_message_t* psAnterior = nullptr);

// RFC 3264 8: a body sent again in a dialog keeps the origin's version of the last one
// (psAnterior) when nothing but the origin differs, and takes one more when anything else does.
// The body's origin line gets that version; without a last body it stays as built. 0, or -1
// when the body no longer fits.
int sdp_version_en_dialogo(CuerpoSdp& oCuerpo, sdp_message_t* psAnterior);
// The same for a parsed body made by editing the dialog's last one (the dialog's local SDP).
int sdp_version_editada(sdp_message_t* psEditado, int did);

// Text of the plain audio answer (payloads 0 and 8 only); 0, or -1.
int sdp_texto_200ok(sdp_message_t* psRemoto, const char* szPuerto, const char* szDirLocal, CuerpoSdp& oCuerpo);
// The plain answer to the dialog's remote SDP as body of the message; 0 or -1.
int sdp_complete_200ok_new(int did, osip_message_t* psMensaje, const char* szPuerto);

int sdp_pon_sendrecv(sdp_message_t* psSdp);
int sdp_pon_sendonly(sdp_message_t* psSdp);
// SDP_SENDRECV ... SDP_INACTIVE of the media (or, without one there, of the session).
int sdp_dame_direccion(sdp_message_t* psSdp, sdp_media_t* psMedia);
// Value of the first attribute of that name, media first then session; null when absent.
const char* sdp_dame_atributo(sdp_message_t* psSdp, sdp_media_t* psMedia, const char* szCampo);
// Up to iMax values and a terminating null entry (room for iMax + 1); the number stored.
int sdp_dame_atributos(sdp_message_t* psSdp, sdp_media_t* psMedia, const char* szCampo, int iMax,
                       const char** apszValores);
int _sdp_modifica_tipo_sesion(sdp_message_t* psSdp, int iTipoSesion, const int32_t* piPayloads, int iNum);

// Parses a body text; null when it is not SDP. Free with sdp_message_free.
sdp_message_t* sdp_lee_texto(const char* szTexto);
