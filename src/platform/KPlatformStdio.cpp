#include "platform/KPlatformStdio.h"

#include <sys/stat.h>
#include <unistd.h>

int KPlatformTruncate(FILE* file, int64_t size) {
    if (!file || size < 0) return -1;
    if (std::fflush(file) != 0) return -1;
    return ftruncate(fileno(file), static_cast<off_t>(size)) == 0 ? 0 : -1;
}

bool KPlatformIsDirectoryStream(FILE* file) {
    struct stat st;
    return file && fstat(fileno(file), &st) == 0 && S_ISDIR(st.st_mode);
}

bool KPlatformIsSpecialStream(FILE* file) {
    struct stat st;
    return file && fstat(fileno(file), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}
