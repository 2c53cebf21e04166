// Logging of every process: one printf-style entry point over spdlog, configured by
// /mnt/ramfs/plog.conf.
#pragma once

namespace NLOG {
enum eLevel { INFO = 0, ERROR = 1, DEBUG = 2 };
// Formats (at most 1023 characters) and writes one record; never fails towards the caller.
void Log(eLevel nivel, const char* formato, ...) __attribute__((format(printf, 2, 3)));
}  // namespace NLOG
