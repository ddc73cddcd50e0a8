#include "platform/KPlatformTerminal.h"

#include <unistd.h>

bool KPlatformIsTerminal(FILE* stream) {
    if (!stream) return false;
    const int fd = fileno(stream);
    return fd >= 0 && isatty(fd) == 1;
}
