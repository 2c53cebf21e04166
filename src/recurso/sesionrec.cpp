#include "sesionrec.h"

#include <atomic>

#include "comun/ganchosipc.h"
#include "comun/nlog.h"
#include "ipcrec.h"
#include "mainrecurso.h"

namespace {
constexpr uint32_t CLASES_LINEA = 0x3E;
constexpr uint32_t CLASES_TODAS = 0xFFFF;
constexpr uint8_t COD_RESPUESTA_NUEVA = 15;
constexpr int32_t DIAG_SIN_HUECO = 201;
constexpr int32_t DIAG_SESION_NO_CREADA = 203;

std::atomic<int> giNumSesiones{0};
std::atomic<bool> gbAvisado{false};
}  // namespace

void sesrecInicia() { giNumSesiones = 0; }
int sesrecNumSesiones() { return giNumSesiones; }

void mrecNuevaSesion(int32_t idSesion, const DireccionSesion* pDir) {
    const char* p = mrecPalabra();
    const int r = mrecDameRec();
    IpcTraza(CLASES_LINEA, "%s[%d]: mrecNuevaSesion(%d) puerto %i\n", p, r, idSesion, pDir->iPuertoLocal);
    int32_t iResultado;
    if (giNumSesiones >= MAX_SESIONES_REC) {
        IpcTraza(CLASES_LINEA, "%s[%d]: Demasiadas sesiones abiertas\n", p, r);
        iResultado = DIAG_SIN_HUECO;
    } else {
        if (!gbAvisado.exchange(true)) NLOG::Log(NLOG::ERROR, "%s[%d]: sesiones RTP no disponibles", p, r);
        IpcTraza(CLASES_LINEA, "%s[%d]: Error crea objeto CSesionRTP\n", p, r);
        iResultado = DIAG_SESION_NO_CREADA;
    }
    const int e = ipcrecEnviaDiagnostico(COD_RESPUESTA_NUEVA, idSesion, iResultado);
    if (e != 0)
        IpcTraza(CLASES_TODAS, "%s[%d] ERROR %d al enviar Diagnostico de nueva sesion al vortik\n", p, r, e);
}

void mrecModificaSesion(int32_t idSesion, const DireccionSesion*) {
    const char* p = mrecPalabra();
    const int r = mrecDameRec();
    IpcTraza(CLASES_LINEA, "%s[%d]: mrecModificaSesion(%d)\n", p, r, idSesion);
    if (giNumSesiones == 0) IpcTraza(CLASES_LINEA, "%s[%d]: No hay sesiones\n", p, r);
}

void mrecFinSesion(int32_t) {}

void mrecFinSesionPreemption(int32_t iPrioridad) {
    IpcTraza(CLASES_LINEA, "%s[%d]: mrecFinSesionPreemption(%i)\n", mrecPalabra(), mrecDameRec(), iPrioridad);
}
