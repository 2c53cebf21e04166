// IpcVortik: the core's handlers of the channels to its resource processes. Registers the
// same call-backs on every child channel and routes each event to the CSupervisorRecurso whose
// child sent it (the channel's peer id is the child's pid). Drains, once per core process, the
// messages an earlier run left in the queue.
#pragma once

#include <cstdint>

class Cola;

namespace IpcVortik {

// Once, at core start-up.
void Inicia();
// Heartbeat 6 s with the no-activity call-back and the 14 event handlers; returns the channel.
// Does nothing before Inicia.
Cola* RegistraCallbacks(Cola* poCanal);
// Drains the queue of every stale message, the first time any core channel asks.
void VaciaUnaVez(Cola* poCanal);
// Index 0-15 of the supervisor whose child has that pid, else -1.
int BuscaSupervisor(int32_t iPid);

}  // namespace IpcVortik
