// Provisional: the full logger (plog.conf, rolling file, console layout) replaces this.
#include "nlog.h"

#include <cstdarg>
#include <cstdio>

namespace NLOG {
void Log(eLevel nivel, const char* formato, ...) {
    char buf[1024] = {};
    va_list ap;
    va_start(ap, formato);
    vsnprintf(buf, sizeof buf, formato, ap);
    va_end(ap);
    if (nivel >= 0 && nivel <= 2) fprintf(stderr, "%s\n", buf);
}
}  // namespace NLOG
