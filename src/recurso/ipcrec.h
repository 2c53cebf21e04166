// IPCREC: the resource process's channel to the core. It opens and closes the channel,
// registers one handler per message of the core, forwards call control to the line entity,
// sends the process's messages to the core, and carries the process's console text
// (IpcPrintf and IpcTraza of the platform) to the core's console as EvtTraza.
#pragma once

#include <cstdint>

#include "ipc/mensajescola.h"

class CContextoRecurso;

// The core's messages that the start-up answers itself.
struct ManejadoresMarco {
    int (*fTomaConfig)(const char* pcGeneral, const cfgConfigRecurso* pNuevo);
    void (*fPadreMuerto)();
    void (*fPintaEstadisticas)();
    void (*fFijaNivelIncidencias)(int iNivel);
};

// Whose channel it is: set before the channel opens, as its receive thread reads both.
void ipcrecFijaContexto(CContextoRecurso& contexto, const ManejadoresMarco& sMarco);
// 0, or -1 when a channel exists already or cannot be created.
int ipcrecIniciaCanal(int32_t pidNucleo);
void ipcrecCierraCanal();
// One heartbeat and silence tick of the channel (main loop, once a second).
int ipcrecTemporiza();

// Senders: -1 without a channel, else 0 (the incoming call: the sender's result).
int ipcrecEnviaReset();
int ipcrecEnviaDiagnostico(uint8_t ucCodigo, int32_t a, int32_t b);
int ipcrecEnviaFinSesion(int32_t idSesion, int32_t iValor);
int ipcrecEnviaLlamadaEntrante(const DatosLlamada* pDatos);
int ipcrecEnviaAceptaLlamada(int32_t idLlamada);
int ipcrecEnviaConversacionInterrumpida(int32_t idLlamada);
int ipcrecEnviaRechazaLlamada(int32_t idLlamada, int32_t iMotivo);
int ipcrecEnviaFinLlamada(int32_t idLlamada);
int ipcrecEnviaFinLlamadaCausa(int32_t idLlamada, int32_t iCausa);
int ipcrecEnviaRinging(int32_t idLlamada, int32_t iMotivo);
int ipcrecEnviaInfoLlamada(int32_t idLlamada, int32_t iMotivo, int32_t iValor);
int ipcrecEnviaSinConfig();
int ipcrecEnviaEstadoDsp(int32_t a, int32_t b);
int ipcrecEnviaNotificaEstado(const NotificacionEstado* pEstado);
