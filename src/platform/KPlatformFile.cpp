#include "platform/KPlatformFile.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <limits.h>

#include <algorithm>
#include <cstring>

#include "platform/KPlatformAscii.h"

#include "platform/KPlatformFileParts.h"
#include "platform/KPlatformStdio.h"

namespace KPlatformFileParts {

// Splits "dir/name" at the last '/'; the folder of a bare name is ".".
void SplitFolder(const std::string& path, std::string& folder, std::string& name) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        folder = ".";
        name = path;
    } else {
        folder = slash == 0 ? "/" : path.substr(0, slash);
        name = path.substr(slash + 1);
    }
}

// True when a write to either name replaces one file: the same file where one exists, the same
// name in the same folder where none does yet. The names are the ends of their links.
bool SameTarget(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    const bool hasA = stat(a.c_str(), &sa) == 0, hasB = stat(b.c_str(), &sb) == 0;
    if (hasA || hasB) return hasA && hasB && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    std::string folderA, nameA, folderB, nameB;
    SplitFolder(a, folderA, nameA);
    SplitFolder(b, folderB, nameB);
    return nameA == nameB && stat(folderA.c_str(), &sa) == 0 && stat(folderB.c_str(), &sb) == 0 &&
           sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace KPlatformFileParts

namespace {

bool MatchFrom(const char* p, const char* n) {
    // Iterative glob with one backtrack point: linear enough for file names.
    const char* star = nullptr;
    const char* retry = nullptr;
    while (*n) {
        if (*p == '*') {
            star = p++;
            retry = n;
        } else if (*p && (*p == '?' || KPlatformLowerAscii(*p) == KPlatformLowerAscii(*n))) {
            ++p;
            ++n;
        } else if (star) {
            p = star + 1;
            n = ++retry;
        } else {
            return false;
        }
    }
    while (*p == '*') ++p;
    return *p == 0;
}

}  // namespace

std::string KPlatformNativePath(const char* path) {
    return path ? path : "";
}

namespace {

// Why this thread's last open for reading failed, and the name it was for: the cause is told
// as it was, not asked again (a refusal for too many open files may be gone by then). Plain
// bytes: a thread_local with a destructor ends the process when there is no memory to note it.
// A name too long for the buffer is not kept, and its cause is asked again.
thread_local int gLastReadError = 0;
thread_local char gLastReadPath[PATH_MAX];

// Devices and pipes are never read. Told by the file opened, not by its name, which another
// program may give to a pipe in between; opened without waiting for a pipe's writer.
FILE* OpenForReading(const char* path, const char* mode) {
    const int fd = open(path, (std::strchr(mode, '+') ? O_RDWR : O_RDONLY) | O_NONBLOCK |
                                  O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st;
    int error = fstat(fd, &st) != 0 ? errno
                : !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode) ? EINVAL
                                                                : 0;
    const int flags = error ? 0 : fcntl(fd, F_GETFL);
    if (!error && (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)) error = errno;
    FILE* file = error ? nullptr : fdopen(fd, mode);
    if (file) return file;
    if (!error) error = errno;
    close(fd);
    errno = error;
    return nullptr;
}

// The name in the folder of `native` that differs from its own only in case, which a read
// takes when the name itself is missing; empty (errno ENOENT) when there is none.
std::string OtherCase(const std::string& native) {
    using namespace KPlatformFileParts;
    std::string folder, name;
    SplitFolder(native, folder, name);
    errno = ENOENT;
    if (name.empty()) return std::string();
    DIR* dir = opendir(folder.c_str());
    errno = ENOENT;
    if (!dir) return std::string();
    std::vector<std::string> candidates;
    try {
        while (dirent* entry = readdir(dir))
            if (KPlatformEqualNoCase(entry->d_name, name)) candidates.push_back(entry->d_name);
    } catch (...) {
        closedir(dir);
        throw;
    }
    closedir(dir);
    errno = ENOENT;
    if (candidates.empty()) return std::string();
    // Several names may differ only in case: take the same one every time.
    std::sort(candidates.begin(), candidates.end());
    return folder == "/" ? "/" + candidates[0] : folder + "/" + candidates[0];
}

FILE* OpenFile(const char* path, const char* mode) {
    if (!path || !*path || !mode) return nullptr;
    std::string native = KPlatformNativePath(path);
    const bool reading = mode[0] == 'r';
    FILE* file = reading ? OpenForReading(native.c_str(), mode) : fopen(native.c_str(), mode);
    if (file || mode[0] != 'r' || errno != ENOENT) return file;
    const std::string match = OtherCase(native);
    return match.empty() ? nullptr : OpenForReading(match.c_str(), mode);
}

}  // namespace

FILE* KPlatformOpenFile(const char* path, const char* mode) {
    const bool reading = path && mode && mode[0] == 'r';
    if (reading) gLastReadError = 0;
    FILE* file = OpenFile(path, mode);
    if (file || !reading) return file;
    const int error = errno;
    if (error == EINVAL) return nullptr;  // a device or pipe, refused here: not the system's word
    const size_t length = std::strlen(path);
    if (length < sizeof gLastReadPath) {
        std::memcpy(gLastReadPath, path, length + 1);
        gLastReadError = error;
    }
    errno = error;
    return nullptr;
}

std::string KPlatformNameAsRead(const char* path) {
    const std::string native = KPlatformNativePath(path);
    struct stat st;
    if (native.empty() || stat(native.c_str(), &st) == 0 || errno != ENOENT) return native;
    const std::string match = OtherCase(native);
    return match.empty() ? native : match;
}

int KPlatformReadOpenError(const char* path) {
    if (!path || !*path) return ENOENT;
    const std::string native = KPlatformNativePath(path);
    struct stat st;
    if (stat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return EISDIR;
    if (gLastReadError != 0 && std::strcmp(gLastReadPath, path) == 0) return gLastReadError;
    // Not waiting for the writer of a pipe; nothing is read.
    const int file = open(native.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (file < 0) return errno;
    close(file);
    return 0;
}

bool KPlatformNoFileThere(int error) {
    return error == ENOENT || error == ENOTDIR || error == ENAMETOOLONG || error == ELOOP;
}

namespace {

// KPlatformResolveLinks, with the system's error number when it gives no name: ELOOP for a
// loop of links.
std::string ResolveLinks(const char* path, int& error) {
    using namespace KPlatformFileParts;
    error = 0;
    std::string current = KPlatformNativePath(path);
    for (int hops = 0; hops <= 40; ++hops) {
        struct stat st;
        // A name that does not exist (yet) is the file to write, also at the end of links.
        if (lstat(current.c_str(), &st) != 0) {
            if (errno == ENOENT || errno == ENOTDIR) return current;
            error = errno;
            return std::string();
        }
        if (!S_ISLNK(st.st_mode)) return current;
        // A device or a pipe is written through its link: the text of a link the system
        // keeps for a descriptor ("pipe:[...]") is no name.
        struct stat end;
        if (stat(current.c_str(), &end) == 0 && !S_ISREG(end.st_mode) && !S_ISDIR(end.st_mode))
            return current;
        std::vector<char> target(size_t(st.st_size > 0 ? st.st_size : 255) + 2);
        ssize_t got = readlink(current.c_str(), target.data(), target.size() - 1);
        if (got <= 0 || size_t(got) >= target.size() - 1) {
            error = got < 0 ? errno : EIO;
            return std::string();
        }
        std::string next(target.data(), size_t(got));
        if (next[0] != '/') {
            std::string folder, name;
            SplitFolder(current, folder, name);
            next = (folder == "/" ? "/" : folder + "/") + next;
        }
        current = next;
    }
    error = ELOOP;
    return std::string();
}

}  // namespace

std::string KPlatformResolveLinks(const char* path) {
    int error;
    return ResolveLinks(path, error);
}

KPlatformReplaceProblem KPlatformCheckReplace(const char* path) {
    using namespace KPlatformFileParts;
    using P = KPlatformReplaceProblem;
    if (!path || !*path) return P::eNoName;
    int error;
    std::string target = ResolveLinks(path, error);
    if (target.empty()) return error == ENAMETOOLONG ? P::eNameTooLong : P::eLinkLoop;
    if (target.back() == '/') return P::eFolder;
    std::string folder, name;
    SplitFolder(target, folder, name);
    struct stat st;
    if (stat(folder.c_str(), &st) != 0)
        return errno == ENAMETOOLONG ? P::eNameTooLong : P::eMissingFolder;
    if (!S_ISDIR(st.st_mode)) return P::eMissingFolder;
    if (stat(target.c_str(), &st) != 0) return errno == ENAMETOOLONG ? P::eNameTooLong : P::eNone;
    if (S_ISDIR(st.st_mode)) return P::eFolder;
    // The write bits, not access(): a privileged user passes access() for every file, yet a
    // file marked read-only is still not meant to be overwritten.
    if (!S_ISREG(st.st_mode)) return P::eNone;
    if ((st.st_mode & 0222) == 0) return P::eReadOnly;
    if (access(target.c_str(), W_OK) != 0)
        return errno == EROFS ? P::eReadOnlyFileSystem : P::eReadOnly;
    return P::eNone;
}

bool KPlatformSameReplaceTarget(const char* first, const char* second) {
    using namespace KPlatformFileParts;
    if (!first || !second || !*first || !*second) return false;
    const std::string a = KPlatformResolveLinks(first), b = KPlatformResolveLinks(second);
    return !a.empty() && !b.empty() && SameTarget(a, b);
}

int KPlatformDeleteFile(const char* path) {
    if (!path || !*path) return -1;
    std::string native = KPlatformNativePath(path);
    struct stat st;
    // remove() would also take an empty folder; a file delete must not. A link is deleted
    // itself, whatever it points to.
    if (lstat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return -1;
    return unlink(native.c_str()) == 0 ? 0 : -1;
}

bool KPlatformRenameFile(const char* from, const char* to) {
    if (!from || !to || !*from || !*to) return false;
    return rename(KPlatformNativePath(from).c_str(), KPlatformNativePath(to).c_str()) == 0;
}

bool KPlatformMakeDirectory(const char* path) {
    if (!path || !*path) return false;
    return mkdir(KPlatformNativePath(path).c_str(), 0777) == 0;
}

bool KPlatformRemoveDirectory(const char* path) {
    if (!path || !*path) return false;
    // The name itself (KPlatformNativePath), without a copy: destructors call this.
    return rmdir(path) == 0;
}

bool KPlatformSetNormalAttributes(const char* path) {
    if (!path || !*path) return false;
    std::string native = KPlatformNativePath(path);
    struct stat st;
    if (lstat(native.c_str(), &st) != 0) return false;
    // A link has no attributes of its own; chmod would change the file it points to.
    if (S_ISLNK(st.st_mode)) return true;
    return chmod(native.c_str(), (st.st_mode & 07777) | S_IWUSR) == 0;
}

bool KPlatformPathExists(const char* path) {
    if (!path || !*path) return false;
    struct stat st;
    return stat(KPlatformNativePath(path).c_str(), &st) == 0;
}

bool KPlatformIsDirectory(const char* path) {
    if (!path || !*path) return false;
    struct stat st;
    return stat(KPlatformNativePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool KPlatformIsOwnDirectory(const char* path) {
    if (!path || !*path) return false;
    struct stat st;
    return lstat(KPlatformNativePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool KPlatformIsSpecialFile(const char* path) {
    if (!path || !*path) return false;
    struct stat st;
    return stat(KPlatformNativePath(path).c_str(), &st) == 0 && !S_ISREG(st.st_mode) &&
           !S_ISDIR(st.st_mode);
}

std::string KPlatformGetCurrentDirectory() {
    std::vector<char> buffer(4096);
    while (!getcwd(buffer.data(), buffer.size())) {
        if (errno != ERANGE || buffer.size() > (1u << 20)) return std::string();
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

std::string KPlatformFullPath(const char* path) {
    std::string native = KPlatformNativePath(path);
    if (!native.empty() && native[0] == '/') return native;
    std::string current = KPlatformGetCurrentDirectory();
    if (native.empty()) return current;
    if (current.empty() || current.back() != '/') current += '/';
    return current + native;
}

std::string KPlatformGetTempFolder() {
    const char* env = getenv("TMPDIR");
    std::string folder = (env && *env) ? env : P_tmpdir;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

std::string KPlatformCreateTempFile(const char* folder, const char* prefix) {
    std::string name = (folder && *folder) ? KPlatformNativePath(folder) : KPlatformGetTempFolder();
    if (name.empty() || name.back() != '/') name += '/';
    for (const char* p = prefix; p && *p; ++p) name += (*p == '/' || *p == '\\') ? '_' : *p;
    name += "XXXXXX.tmp";
    std::vector<char> templ(name.begin(), name.end());
    templ.push_back(0);
    int fd = mkstemps(templ.data(), 4);  // O_CREAT | O_EXCL inside: no race on the name
    if (fd < 0) return std::string();
    close(fd);
    return templ.data();
}

std::string KPlatformGetConfigFolder() {
    const char* xdg = getenv("XDG_CONFIG_HOME");
    if (xdg && *xdg) return xdg;
    const char* home = getenv("HOME");
    if (home && *home) return std::string(home) + "/.config";
    return KPlatformGetTempFolder();
}

const char* KPlatformGetEnv(const char* name) {
    return name ? getenv(name) : nullptr;
}

unsigned KPlatformSetErrorMode(unsigned mode) {
    static unsigned current = 0;
    unsigned previous = current;
    current = mode;
    return previous;
}

bool KPlatformWildcardMatch(const char* pattern, const char* name) {
    if (!pattern || !name) return false;
    if (MatchFrom(pattern, name)) return true;
    // "x.*" also matches "x": the extension may be absent.
    size_t length = strlen(pattern);
    if (length >= 2 && pattern[length - 2] == '.' && pattern[length - 1] == '*')
        return MatchFrom(std::string(pattern, length - 2).c_str(), name);
    return false;
}

bool KPlatformListDirectory(const char* pattern, std::vector<KPlatformDirEntry>& entries) {
    using namespace KPlatformFileParts;
    entries.clear();
    if (!pattern || !*pattern) return false;
    std::string folder, wildcard;
    SplitFolder(KPlatformNativePath(pattern), folder, wildcard);
    if (wildcard.empty()) return false;
    DIR* dir = opendir(folder.c_str());
    if (!dir) return false;
    std::vector<std::string> names;
    try {
        while (dirent* entry = readdir(dir))
            if (KPlatformWildcardMatch(wildcard.c_str(), entry->d_name))
                names.push_back(entry->d_name);
    } catch (...) {
        closedir(dir);
        throw;
    }
    closedir(dir);

    auto rank = [](const std::string& n) { return n == "." ? 0 : n == ".." ? 1 : 2; };
    std::sort(names.begin(), names.end(), [&](const std::string& a, const std::string& b) {
        int ra = rank(a), rb = rank(b);
        return ra != rb ? ra < rb : a < b;
    });
    for (const std::string& n : names) {
        KPlatformDirEntry entry;
        entry.name = n;
        std::string full = folder == "/" ? "/" + n : folder + "/" + n;
        struct stat st;
        if (stat(full.c_str(), &st) == 0) {
            entry.isDirectory = S_ISDIR(st.st_mode);
            entry.readOnly = (st.st_mode & S_IWUSR) == 0;
            entry.size = uint64_t(st.st_size);
            entry.modifiedTime = int64_t(st.st_mtime);
        }
        entries.push_back(std::move(entry));
    }
    return !entries.empty();
}
