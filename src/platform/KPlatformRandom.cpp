#include "platform/KPlatformRandom.h"

#include <sys/random.h>

#include <cerrno>

bool KPlatformRandomBytes(void* buffer, size_t size) {
    unsigned char* p = static_cast<unsigned char*>(buffer);
    while (size > 0) {
        ssize_t got = getrandom(p, size, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += got;
        size -= static_cast<size_t>(got);
    }
    return true;
}
