// RTP sessions of a resource process as the core asks for them (new, modified, ended): a
// table of 15 entries, each owning its session, attached to the line entity by its index.
#pragma once

#include <cstdint>

#include "ipc/mensajescola.h"

class CContextoRecurso;

enum { MAX_SESIONES_REC = 15 };

// Sends the result of a session action to the core: 0, or the sender's error.
typedef int (*FnRespuestaSesion)(uint8_t ucCodigo, int32_t idSesion, int32_t iResultado);

// An empty table for the process of the context; results go out through fResponde.
void sesrecInicia(CContextoRecurso& contexto, FnRespuestaSesion fResponde);
int sesrecNumSesiones();
void mrecNuevaSesion(int32_t idSesion, const DireccionSesion* pDir);
void mrecModificaSesion(int32_t idSesion, const DireccionSesion* pDir);
void mrecFinSesion(int32_t idSesion);
void mrecFinSesionPreemption(int32_t iPrioridad);
