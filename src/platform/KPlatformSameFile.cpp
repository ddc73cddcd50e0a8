#include "platform/KPlatformSameFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/KPlatformFile.h"

bool KPlatformSameFile(const char* first, const char* second) {
    if (!first || !second) return false;
    struct stat a, b;
    if (stat(KPlatformNativePath(first).c_str(), &a) != 0) return false;
    if (stat(KPlatformNativePath(second).c_str(), &b) != 0) return false;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

KPlatformFileFound KPlatformFindAsRead(const char* path) {
    KPlatformFileFound found;
    if (!path) return found;
    found.name = KPlatformNameAsRead(path);
    struct stat st;
    if (stat(found.name.c_str(), &st) == 0) found.device = st.st_dev, found.inode = st.st_ino;
    return found;
}

KPlatformFileFound KPlatformFoundOpen(FILE* file, const char* path) {
    KPlatformFileFound found;
    if (!path) return found;
    found.name = KPlatformNameAsRead(path);
    struct stat st;
    if (file && fstat(fileno(file), &st) == 0) found.device = st.st_dev, found.inode = st.st_ino;
    return found;
}

bool KPlatformIsFound(const char* path, const KPlatformFileFound& found) {
    struct stat st;
    return path && found.inode != 0 && stat(KPlatformNativePath(path).c_str(), &st) == 0 &&
           st.st_dev == found.device && st.st_ino == found.inode;
}

bool KPlatformIsStandardStream(const char* path, FILE* stream) {
    if (!path || !stream) return false;
    struct stat out, named;
    if (fstat(fileno(stream), &out) != 0) return false;
    if (stat(KPlatformNativePath(path).c_str(), &named) != 0) return false;
    return out.st_dev == named.st_dev && out.st_ino == named.st_ino;
}

std::string KPlatformRealPath(const char* path) {
    if (!path || !*path) return std::string();
    char* real = realpath(KPlatformNativePath(path).c_str(), nullptr);
    if (!real) return std::string();
    std::string text;
    try {
        text = real;
    } catch (...) {
        std::free(real);
        throw;
    }
    std::free(real);
    return text;
}
