#include "sesionrec.h"

#include <atomic>
#include <new>

#include "ccontextorecurso.h"
#include "centrec.h"
#include "comun/ganchosipc.h"
#include "comun/nlog.h"
#include "csesionrtp.h"
#include "hardware/hardware.h"

namespace {
constexpr uint32_t CLASES_LINEA = 0x3E;
constexpr uint32_t CLASE_DEBUG = 0x8000;
constexpr uint32_t CLASES_TODAS = 0xFFFF;
constexpr uint8_t COD_RESPUESTA_NUEVA = 15;
constexpr uint8_t COD_RESPUESTA_MODIFICA = 16;
constexpr int32_t DIAG_SIN_HUECO = 201;
constexpr int32_t DIAG_SESION_NO_CREADA = 203;
constexpr int32_t DIAG_HW_NO_OK = 207;
constexpr int32_t DIAG_NO_MODIFICADA = -1;
constexpr int32_t FRECUENCIA = 8000;
constexpr int32_t INCREMENTO_TS = 160;

struct EntradaSesion {
    int32_t iCanal = -1;     // the entry's own index while in use
    int32_t idSesion = -1;   // the core's id
    CSesionRTP* pSesion = nullptr;
    // Attached to the entity for sending or receiving. A session opened with no payload type
    // either way (an inactive offer) is not, until a modification gives it one.
    bool bConectada = false;
};

// Touched only by the core channel's receive thread, which runs every session action; the
// count is read by the call actions too (same thread) and by the statistics print.
EntradaSesion gasSesiones[MAX_SESIONES_REC];
std::atomic<int> giNumSesiones{0};
// Set once at start-up, before the core's channel opens.
CContextoRecurso* gpContexto = nullptr;
FnRespuestaSesion gfResponde = nullptr;

void Responde(uint8_t ucCodigo, int32_t idSesion, int32_t iResultado) {
    const int e = gfResponde(ucCodigo, idSesion, iResultado);
    if (e != 0)
        IpcTraza(CLASES_TODAS, "%s[%d] ERROR %d al enviar Diagnostico de nueva sesion al vortik\n",
                 gpContexto->szPalabra, gpContexto->iRec, e);
}

EntradaSesion* Busca(int32_t idSesion) {
    for (auto& s : gasSesiones)
        if (s.iCanal >= 0 && s.idSesion == idSesion) return &s;
    return nullptr;
}

void Cierra(CSesionRTP* pSesion) {
    pSesion->Destroy();
    delete pSesion;
}

// The first modification that gives a session opened without payload types one: it takes
// that payload type and is attached as a new session would be. Still none: nothing to do.
// 0, or -1 (the two directions differ, or the entity refuses).
int ConectaSinPayload(EntradaSesion& s, int32_t iTx, int32_t iRx) {
    if (iTx == -1 && iRx == -1) return 0;
    if (iTx != -1 && iRx != -1 && iTx != iRx) return -1;
    if (s.pSesion->FijaPayload(iTx != -1 ? iTx : iRx) != 0) return -1;
    if (gpContexto->pEntidad->ConectaSesion(s.iCanal, s.pSesion, iTx, iRx) != 0) return -1;
    s.bConectada = true;
    return 0;
}
}  // namespace

void sesrecInicia(CContextoRecurso& contexto, FnRespuestaSesion fResponde) {
    gpContexto = &contexto;
    gfResponde = fResponde;
    for (auto& s : gasSesiones) s = EntradaSesion();
    giNumSesiones = 0;
}

int sesrecNumSesiones() { return giNumSesiones; }

void mrecNuevaSesion(int32_t idSesion, const DireccionSesion* pDir) {
    const char* p = gpContexto->szPalabra;
    const int r = gpContexto->iRec;
    IpcTraza(CLASES_LINEA, "%s[%d]: mrecNuevaSesion(%d) puerto %i\n", p, r, idSesion, pDir->iPuertoLocal);
    if (giNumSesiones >= MAX_SESIONES_REC) {
        IpcTraza(CLASES_LINEA, "%s[%d]: Demasiadas sesiones abiertas\n", p, r);
        Responde(COD_RESPUESTA_NUEVA, idSesion, DIAG_SIN_HUECO);
        return;
    }
    CEntidadRC* pEntidad = gpContexto->pEntidad;
    if (pEntidad->HwOk() == 0 && hwDimeHwOk() == 0) {
        IpcTraza(CLASES_LINEA, "%s[%d]: No se establece la sesion por no tener hw ok\n", p, r);
        Responde(COD_RESPUESTA_NUEVA, idSesion, DIAG_HW_NO_OK);
        return;
    }
    int iIndice = -1;
    for (int i = 0; i < MAX_SESIONES_REC && iIndice < 0; i++)
        if (gasSesiones[i].iCanal < 0 && gasSesiones[i].idSesion < 0) iIndice = i;
    if (iIndice < 0) {
        IpcTraza(CLASES_LINEA, "%s[%d]: Lista de sesiones corrupta\n", p, r);
        Responde(COD_RESPUESTA_NUEVA, idSesion, DIAG_SIN_HUECO);
        return;
    }
    CSesionRTP* pSesion = new (std::nothrow) CSesionRTP;
    if (!pSesion) {
        IpcTraza(CLASES_LINEA, "%s[%d]: Error crea objeto CSesionRTP\n", p, r);
        Responde(COD_RESPUESTA_NUEVA, idSesion, DIAG_SESION_NO_CREADA);
        return;
    }
    const int32_t iTx = pDir->iPayloadForzado;
    const int32_t iRx = pDir->iPayload;
    if (pSesion->Crea(pDir->iPuertoLocal, pDir->acDirRemota, pDir->iPuertoRemoto, iTx != -1 ? iTx : iRx, FRECUENCIA,
                      INCREMENTO_TS, pDir->iRtpHe & 1) != 0) {
        delete pSesion;
        IpcTraza(CLASES_LINEA, "%s[%d]: Error arranca CSesionRTP\n", p, r);
        Responde(COD_RESPUESTA_NUEVA, idSesion, DIAG_SESION_NO_CREADA);
        return;
    }
    if (pEntidad->ConectaSesion(iIndice, pSesion, iTx, iRx) != 0) {
        IpcTraza(CLASES_LINEA, "%s[%d]: No puedo crear canal \n", p, r);
        Cierra(pSesion);
        Responde(COD_RESPUESTA_NUEVA, idSesion, DIAG_SESION_NO_CREADA);
        return;
    }
    EntradaSesion& e = gasSesiones[iIndice];
    e.iCanal = iIndice;
    e.idSesion = idSesion;
    e.pSesion = pSesion;
    e.bConectada = iTx != -1 || iRx != -1;
    ++giNumSesiones;
    Responde(COD_RESPUESTA_NUEVA, idSesion, 0);
    IpcTraza(CLASES_LINEA, "%s[%d]: Sesion creada\n", p, r);
}

void mrecModificaSesion(int32_t idSesion, const DireccionSesion* pDir) {
    const char* p = gpContexto->szPalabra;
    const int r = gpContexto->iRec;
    IpcTraza(CLASES_LINEA, "%s[%d]: mrecModificaSesion(%d)\n", p, r, idSesion);
    if (giNumSesiones == 0) {
        IpcTraza(CLASES_LINEA, "%s[%d]: No hay sesiones\n", p, r);
        return;
    }
    EntradaSesion* s = Busca(idSesion);
    if (!s) {
        IpcTraza(CLASES_LINEA, "%s[%d]: Sesion solicitada no existe\n", p, r);
        return;
    }
    const int e = s->bConectada
                      ? gpContexto->pEntidad->ModificaSesion(s->iCanal, pDir->iPayloadForzado, pDir->iPayload)
                      : ConectaSinPayload(*s, pDir->iPayloadForzado, pDir->iPayload);
    if (e != 0) IpcTraza(CLASES_LINEA, "%s[%d] No puedo modificar sesion. Error %d\n", p, r, e);
    Responde(COD_RESPUESTA_MODIFICA, idSesion, e == 0 ? 0 : DIAG_NO_MODIFICADA);
}

void mrecFinSesion(int32_t idSesion) {
    const char* p = gpContexto->szPalabra;
    const int r = gpContexto->iRec;
    if (giNumSesiones == 0) return;
    EntradaSesion* s = Busca(idSesion);
    if (!s) {
        IpcTraza(CLASES_LINEA, "%s[%d]: Sesion solicitada no existe\n", p, r);
        return;
    }
    // Detached first: the audio threads must be done with the session before it goes. One
    // never attached was never seen by them.
    const int e = s->bConectada ? gpContexto->pEntidad->DesconectaSesion(s->iCanal) : 0;
    if (e != 0) IpcTraza(CLASES_LINEA, "%s[%d] No puedo detener sesion. Error %d\n", p, r, e);
    Cierra(s->pSesion);
    *s = EntradaSesion();
    if (giNumSesiones > 0) --giNumSesiones;
    IpcTraza(CLASE_DEBUG, "Sesion eliminada\n");
}

void mrecFinSesionPreemption(int32_t iPrioridad) {
    IpcTraza(CLASES_LINEA, "%s[%d]: mrecFinSesionPreemption(%i)\n", gpContexto->szPalabra, gpContexto->iRec,
             iPrioridad);
}
