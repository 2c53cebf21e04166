// RTP sessions of a resource process as the core asks for them (new, modified, ended): a
// table of 15 entries, each owning its session, attached to the line entity by its index.
#pragma once

#include <cstdint>

#include "ipc/mensajescola.h"

enum { MAX_SESIONES_REC = 15 };

void sesrecInicia();
int sesrecNumSesiones();
void mrecNuevaSesion(int32_t idSesion, const DireccionSesion* pDir);
void mrecModificaSesion(int32_t idSesion, const DireccionSesion* pDir);
void mrecFinSesion(int32_t idSesion);
void mrecFinSesionPreemption(int32_t iPrioridad);
