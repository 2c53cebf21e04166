// The DSP service's IPC channels: one to the core (trace levels, the announcement of each
// resource process; the DSP state, "no resource yet" and console text back) and one per
// resource process (its DSP requests in, the DSP events of its channels out).
//
// Channel objects are created on the core channel's receive thread and ticked, closed and
// freed only on the main loop's thread, after the tick that found them silent has returned.
#pragma once

#include <cstdint>

class Cola;
struct ContextoDsp;

// ---- Channel to the core ----
// 0, or -1 (a channel exists, or it cannot be created).
int CreaCanalPadre(int32_t iPidNucleo);
void CierraCanalPadre();
// 0, or -1 without a channel.
int DspEnviaSinConfig();
int DspEnviaEstadoDsp(int32_t iDsp, int32_t iEstado);
// Console text to the core goes through IpcPrintf/IpcTraza (comun/ganchosipc.h), whose hook
// the core channel fills; their trace mask is the console trace level, the command line's,
// replaced by the core's EvtNivelConsola.
void DspFijaNivelConsola(uint32_t uiNivel);
uint32_t DspNivelConsola();
uint32_t DspNivelIncidencias();

// Handlers of the core channel (sender id first where the channel gives it).
void EvtProcesoMuerto(int32_t iPeer);
void EvtReset(int32_t iPeer);
void EvtNivelConsola(int32_t iNivel);
void EvtNivelIncidencias(int32_t iNivel);
void EvtModoTest(int32_t iModo);
void ipcrecEvtCreaCanalHermano(int32_t iPid, uint8_t ucModo);

namespace IpcDremson {
enum { MAX_CANALES = 40 };
// The service object and the process's call-backs the handlers work with; before the core
// channel is created.
void FijaContexto(const ContextoDsp* pContexto);
// Once per process; 0.
int Inicia();
// Channel to a resource process: 0 (also when it exists), -1 before Inicia, -2 table full,
// -3 the channel cannot be created.
int CreaCanal(int32_t iPid);
void RegistraManejadores(Cola* pCanal);
// One tick of every channel (the core's and the resource processes'); a channel whose peer
// fell silent in this tick is closed and freed once the tick is over.
void Temporiza();
// The core channel alone (the start-up wait, before any resource process exists).
void TemporizaPadre();
// Index of the entry holding the pid (-1: a free entry), or -1.
int BuscaPid(int32_t iPid);
// Channels to resource processes open now.
int NumCanales();
}  // namespace IpcDremson
