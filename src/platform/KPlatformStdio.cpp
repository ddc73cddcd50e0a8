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

bool KPlatformGetDescriptorStamp(int descriptor, KPlatformFileStamp& stamp) {
    struct stat st;
    if (descriptor < 0 || fstat(descriptor, &st) != 0) return false;
    stamp.size = int64_t(st.st_size);
    stamp.modifiedSeconds = int64_t(st.st_mtim.tv_sec);
    stamp.modifiedNanoseconds = long(st.st_mtim.tv_nsec);
    stamp.changedSeconds = int64_t(st.st_ctim.tv_sec);
    stamp.changedNanoseconds = long(st.st_ctim.tv_nsec);
    stamp.links = uint64_t(st.st_nlink);
    return true;
}

bool KPlatformGetFileStamp(FILE* file, KPlatformFileStamp& stamp) {
    return file && KPlatformGetDescriptorStamp(fileno(file), stamp);
}
