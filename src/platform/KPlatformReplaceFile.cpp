// A file written in place of another one: the new file begun beside the old one, finished,
// put in place alone or abandoned.

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <exception>
#include <new>
#include <vector>

#include "platform/KPlatformFile.h"
#include "platform/KPlatformFileParts.h"
#include "platform/KPlatformRandom.h"
#include "platform/KPlatformSignals.h"

namespace KPlatformFileParts {

namespace {

const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
constexpr size_t kSuffix = 6;

}  // namespace

// The hidden name of a new file beside `name` in `folder`: ".<name>.<suffix>.tmp". A name too
// long for that (the folder's longest name, or the longest path) is cut short at the start of
// a character, so the longest names that the folder takes can still be replaced.
std::string HiddenName(const std::string& folder, const std::string& name) {
    long longest = pathconf(folder.c_str(), _PC_NAME_MAX);
    if (longest <= 0) longest = 255;
    size_t room = size_t(longest);
    const size_t folderPart = folder == "/" ? 1 : folder.size() + 1;
    if (folderPart + room > PATH_MAX - 1)
        room = PATH_MAX - 1 > folderPart ? PATH_MAX - 1 - folderPart : 0;
    const size_t added = 1 + 1 + kSuffix + 4;
    size_t keep = name.size();
    if (keep + added > room) keep = room > added ? room - added : 0;
    while (keep > 0 && keep < name.size() &&
           (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80)
        --keep;
    return (folder == "/" ? "/" : folder + "/") + "." + name.substr(0, keep) + "." +
           std::string(kSuffix, 'x') + ".tmp";
}

// Puts fresh random letters in place of the suffix of a HiddenName, without allocating.
bool RandomSuffix(std::string& hidden) {
    unsigned char random[kSuffix];
    if (hidden.size() < kSuffix + 4 || !KPlatformRandomBytes(random, sizeof random)) return false;
    const size_t at = hidden.size() - 4 - kSuffix;
    for (size_t i = 0; i < kSuffix; ++i) hidden[at + i] = kLetters[random[i] % 36];
    return true;
}

}  // namespace KPlatformFileParts

namespace {

// Gives the new file open as `fd` the access list of the old file `from`, or takes away the one
// the folder gave it when the old file had none: the group bits of a mode taken from a file
// with a list are its mask, so a replaced file would otherwise grant what its list did not.
// 0, or the system's error number.
int CarryAccessList(const std::string& from, int fd) try {
    static const char kAccess[] = "system.posix_acl_access";
    std::vector<char> list;
    int none = ENODATA;
    for (;;) {
        const ssize_t size = getxattr(from.c_str(), kAccess, nullptr, 0);
        if (size < 0) none = errno;
        if (size <= 0) break;
        list.resize(size_t(size));
        const ssize_t got = getxattr(from.c_str(), kAccess, list.data(), list.size());
        if (got >= 0) {
            list.resize(size_t(got));
            break;
        }
        if (errno != ERANGE) return errno;  // grown meanwhile: asked again
    }
    if (!list.empty()) return fsetxattr(fd, kAccess, list.data(), list.size(), 0) == 0 ? 0 : errno;
    if (none != ENODATA && none != ENOTSUP) return none;
    if (fremovexattr(fd, kAccess) != 0 && errno != ENODATA && errno != ENOTSUP) return errno;
    return 0;
} catch (const std::bad_alloc&) {
    return ENOMEM;  // the new file is then removed, as one the system refused
}

// Gives the new file open as `fd` the owner and group of the old one (`old`) where the system
// lets the writer; the permissions it may then carry. A group it could not keep is another
// group, whose members had only what the others had; an owner not kept is the writer.
mode_t KeepOwners(int fd, const struct stat& old) {
    mode_t permissions = old.st_mode & 07777;
    if (fchown(fd, old.st_uid, old.st_gid) != 0)
        (void)fchown(fd, static_cast<uid_t>(-1), old.st_gid);
    struct stat now;
    const bool looked = fstat(fd, &now) == 0;
    if (!looked || now.st_gid != old.st_gid)
        permissions =
            (permissions & ~(S_IRWXG | S_ISGID)) | (permissions & permissions << 3 & S_IRWXG);
    if (!looked || now.st_uid != old.st_uid) permissions &= ~S_ISUID;
    return permissions;
}

}  // namespace

bool KPlatformReplaceFile::Open(const char* path, const char* mode) {
    using namespace KPlatformFileParts;
    Abandon();
    gLastReplaceError = 0;
    ForgetLastFailure();
    gLastCreateError = 0;
    mExceptions = std::uncaught_exceptions();
    mWriteError = 0;
    mProblem = KPlatformCheckReplace(path);
    if (mProblem == KPlatformReplaceProblem::eNone && (!mode || mode[0] != 'w'))
        mProblem = KPlatformReplaceProblem::eNoName;
    if (mProblem != KPlatformReplaceProblem::eNone) return false;
    mTarget = KPlatformResolveLinks(path);
    const std::string* expected = RegularOnly();
    const bool regularOnly = expected && KPlatformResolveLinks(expected->c_str()) == mTarget;
    struct stat st;
    const bool exists = stat(mTarget.c_str(), &st) == 0;
    if (exists && KeptFromWriting(st)) {
        // A link put at the name since it was looked at leads to a file the read used.
        mProblem = KPlatformReplaceProblem::eCannotCreate;
        gLastCreateError = ETXTBSY;
        NoteCreatePath(path);
        return false;
    }
    if (exists && !S_ISREG(st.st_mode)) {
        // A device or a pipe cannot be replaced, and holds nothing to lose.
        mFile = regularOnly ? nullptr : fopen(mTarget.c_str(), mode);
        if (regularOnly) errno = ENXIO;
        if (!mFile) {
            mProblem = KPlatformReplaceProblem::eCannotCreate;
            gLastCreateError = errno;
            NoteCreatePath(path);
        }
        return mFile != nullptr;
    }
    std::string folder, name;
    SplitFolder(mTarget, folder, name);
    const mode_t permissions = exists ? (st.st_mode & 07777) : 0666;
    // A signal that ends the process finds the new file's name kept, or no new file.
    KPlatformSignalsHeld held;
    int fd = -1;
    // Hidden and in the same folder, so the final rename stays on one file system.
    mTemp = HiddenName(folder, name);
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        if (!RandomSuffix(mTemp)) break;
        fd = open(mTemp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, permissions);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd >= 0 && exists) {
        const mode_t granted = KeepOwners(fd, st);
        if (const int error = CarryAccessList(mTarget, fd)) {
            close(fd);
            unlink(mTemp.c_str());
            fd = -1;
            errno = error;
        } else {
            (void)fchmod(fd, granted);  // the umask must not narrow them
        }
    }
    mFile = fd >= 0 ? fdopen(fd, mode) : nullptr;
    if (!mFile) {
        // Kept before the clean-up below can change it: why the system refused the file.
        gLastCreateError = errno;
        NoteCreatePath(path);
        if (fd >= 0) {
            close(fd);
            unlink(mTemp.c_str());
        }
        mTemp.clear();
        mTarget.clear();
        mProblem = KPlatformReplaceProblem::eCannotCreate;
        return false;
    }
    mSignalSlot = KPlatformKeepForSignals(mTemp.c_str());
    return true;
}

bool KPlatformReplaceFile::Finish() {
    using namespace KPlatformFileParts;
    if (mFinished) return true;
    if (!mFile) return false;
    // A write left by an exception (out of memory) is not whole: the old file stays.
    if (std::uncaught_exceptions() > mExceptions) {
        Abandon();
        return false;
    }
    // No sync: a write costs what its bytes cost, and the rename alone keeps a failed or
    // refused write away from the old file.
    int error = fflush(mFile) == 0 ? 0 : errno;
    bool ok = error == 0 && ferror(mFile) == 0 && mWriteError == 0;
    // The first failed write tells why; a flush after it may tell nothing, or another reason.
    if (mWriteError != 0) error = mWriteError;
    // A new file deleted meanwhile still takes writes, but can no longer take a place.
    struct stat st;
    if (ok && !mTemp.empty() && fstat(fileno(mFile), &st) == 0 && st.st_nlink == 0) {
        ok = false;
        error = ENOENT;
    }
    if (fclose(mFile) != 0 && ok) {
        ok = false;
        error = errno;
    }
    mFile = nullptr;
    if (!ok) {
        gLastReplaceError = error;
        Drop();
        return false;
    }
    mFinished = true;
    return true;
}

bool KPlatformReplaceFile::Commit() {
    using namespace KPlatformFileParts;
    // One file needs no hidden name for its old one: its rename replaces it or leaves it, and
    // nothing here allocates, so memory running out cannot leave the file half placed.
    ForgetLastFailure();
    if (!(mFile || mFinished) || !Finish() || !KPlatformCommitGuard::Allows()) {
        Abandon();
        return false;
    }
    KPlatformSignalsHeld held;
    if (!mTemp.empty() && Rename(mTemp, mTarget) != 0) {
        const int error = errno;
        Drop();
        gLastReplaceError = error;
        gLastOneFile = false;
        return false;
    }
    KPlatformCommitGuard::NotePlaced(mTarget);
    mTemp.clear();
    Drop();
    gLastReplaceError = 0;
    return true;
}

void KPlatformReplaceFile::Abandon() {
    using namespace KPlatformFileParts;
    if (mFile) fclose(mFile);
    // A write that failed is why the file is given up: the caller may ask.
    if ((mFile || mFinished) && mWriteError != 0) gLastReplaceError = mWriteError;
    mFile = nullptr;
    Drop();
}

size_t KPlatformReplaceFile::Write(const void* data, size_t size) {
    using namespace KPlatformFileParts;
    if (!mFile || size == 0) return 0;
    if (Injected(KPlatformFileCall::eWrite)) {
        NoteWriteError();
        return 0;
    }
    const size_t written = fwrite(data, 1, size, mFile);
    if (written < size) NoteWriteError();
    return written;
}

void KPlatformReplaceFile::NoteWriteError() {
    if (mWriteError == 0) mWriteError = errno != 0 ? errno : EIO;
}

void KPlatformReplaceFile::Drop() {
    if (!mTemp.empty()) unlink(mTemp.c_str());
    KPlatformForgetForSignals(mSignalSlot);
    mSignalSlot = -1;
    mTemp.clear();
    mTarget.clear();
    mFinished = false;
}

