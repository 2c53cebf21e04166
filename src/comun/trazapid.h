// Thread trace file: one line per thread (process id, name, index, source file), so an
// operator can map a process's threads to their roles. Files: /var/velkord.pid,
// /var/dremson.pid, /var/lintaro_%02d.pid, /var/fonmira_%02d.pid, /var/kalvesk_%02d.pid.
#pragma once

// Opens (truncating) the file at ruta, or "trazapid.txt" when ruta is null; 0 or -1.
int AbreTrazaPid(const char* ruta);
// Appends " PID %d -> %s (%d) \t- %s\n" and flushes; 0, or -1 when the file is not open.
int TrazaPid(const char* nombre, int id, const char* fuente);
