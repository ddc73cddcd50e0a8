// A file made new under its name, removed unless kept.

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>

#include "platform/KPlatformFile.h"
#include "platform/KPlatformFileParts.h"
#include "platform/KPlatformSignals.h"

namespace {

// Handles held for files not kept yet, of the whole process.
std::atomic<long> gHeldFiles{0};

// At most half the files the process may open are held, so that the files a write reads and
// writes still open however many it makes; past that a file's permissions come back by its
// name, as long as that still leads to it.
bool TakeHeldSlot() {
    struct rlimit limit;
    const long budget = getrlimit(RLIMIT_NOFILE, &limit) != 0 ? 0
                        : limit.rlim_cur == RLIM_INFINITY   ? 1L << 20
                                                            : long(limit.rlim_cur / 2);
    if (gHeldFiles.fetch_add(1) < budget) return true;
    gHeldFiles.fetch_sub(1);
    return false;
}

// The permissions a file made with 0666 at `path` gets: those less the process's umask, read
// without setting it (another thread may be making a file meanwhile); -1 when they cannot be
// told, as in a folder whose default access list decides them instead of the umask.
int NewFileMode(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    if (getxattr(folder.c_str(), "system.posix_acl_default", nullptr, 0) > 0) return -1;
    const int fd = open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    char text[4096];
    const ssize_t n = read(fd, text, sizeof text - 1);
    close(fd);
    if (n <= 0) return -1;
    text[n] = 0;
    const char* at = strstr(text, "\nUmask:");
    if (!at) return -1;
    char* end = nullptr;
    const long mask = strtol(at + 8, &end, 8);
    return end == at + 8 || mask < 0 || mask > 0777 ? -1 : int(0666 & ~mask);
}

}  // namespace

KPlatformNewFile::KPlatformNewFile(KPlatformNewFile&& other) noexcept
    : mPath(std::move(other.mPath)),
      mFile(other.mFile),
      mHeld(other.mHeld),
      mDevice(other.mDevice),
      mInode(other.mInode),
      mSize(other.mSize),
      mChanged{other.mChanged[0], other.mChanged[1]},
      mModified{other.mModified[0], other.mModified[1]},
      mSignalSlot(other.mSignalSlot),
      mError(other.mError),
      mMode(other.mMode),
      mMade(other.mMade),
      mMarked(other.mMarked),
      mWritten(other.mWritten),
      mKept(other.mKept) {
    other.mKept = false;
    other.mFile = nullptr;
    other.mHeld = -1;
    other.mSignalSlot = -1;
    other.mMade = false;
    other.mMarked = false;
}

bool KPlatformNewFile::Create(const char* path) {
    Remove();
    mError = ENOENT;
    if (!path || !*path) return false;
    mPath = KPlatformNativePath(path);
    // The file and its name kept for signals come and go together.
    KPlatformSignalsHeld held;
    // Made without permissions, so a process killed before it is kept leaves a file no one
    // takes for a finished one; where those it gets cannot be told, made as before and then marked.
    const int mode = NewFileMode(mPath);
    const int fd =
        open(mPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode < 0 ? 0666 : 0);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0) {
        mError = errno;
        // A file that cannot be told from one put under its name since is left.
        if (fd >= 0) close(fd);
        return false;
    }
    mDevice = uint64_t(st.st_dev);
    mInode = uint64_t(st.st_ino);
    mMade = true;
    mWritten = false;
    // Until it is kept no one else reads it, and others tell it from a finished file by that
    // (KPlatformIsNewFileNotKept): it may go again. Its permissions come back through a handle
    // of the file itself, held until then, whatever becomes of its name or its folder.
    if (mode < 0) {
        mMode = unsigned(st.st_mode & 07777);
        mMarked = mMode != 0 && fchmod(fd, 0) == 0;
    } else {
        mMode = unsigned(mode);
        mMarked = mMode != 0 && (st.st_mode & 07777) == 0;
    }
    if (TakeHeldSlot()) {
        mHeld = fcntl(fd, F_DUPFD_CLOEXEC, 0);
        if (mHeld < 0) gHeldFiles.fetch_sub(1);  // none left to hold: it goes by its name
    }
    mFile = fdopen(fd, "wb");
    if (!mFile) {
        mError = errno;
        // Still open: its number is no other file's, so the name holds it when it has that.
        if (NameHoldsIt()) unlink(mPath.c_str());
        GiveModeBack(fd);  // left, or linked meanwhile: not marked as a file still being made
        close(fd);
        Release();
        mMade = mMarked = false;
        return false;
    }
    mSignalSlot = KPlatformKeepForSignals(mPath.c_str(), mHeld, mMarked ? mMode : 0);
    mError = 0;
    return true;
}

bool KPlatformNewFile::Close() {
    if (!mFile) return mError == 0;
    // A file that failed stays open: Remove then tells it for certain, and a close would
    // write what is left of it (changing its times) after all.
    if (fflush(mFile) != 0) {
        mError = errno;
        return false;
    }
    if (ferror(mFile)) {
        mError = EIO;  // a write failed before; the system no longer tells why
        return false;
    }
    struct stat st;
    if (fstat(fileno(mFile), &st) == 0) {
        mSize = int64_t(st.st_size);
        mChanged[0] = int64_t(st.st_ctim.tv_sec);
        mChanged[1] = int64_t(st.st_ctim.tv_nsec);
        mModified[0] = int64_t(st.st_mtim.tv_sec);
        mModified[1] = int64_t(st.st_mtim.tv_nsec);
        KPlatformSettleForSignals(mSignalSlot, fileno(mFile));
    } else {
        mMade = false;  // cannot be told again: never removed
    }
    const bool ok = fclose(mFile) == 0;
    if (!ok) mError = errno;
    mFile = nullptr;
    mWritten = true;
    return ok;
}

bool KPlatformNewFile::Keep() {
    // Kept whole: a signal waits until the file has its permissions and is no longer kept for
    // removal.
    KPlatformSignalsHeld held;
    if (mFile) fclose(mFile);
    mFile = nullptr;
    const bool given = !mMarked || GiveModeBack(mHeld);
    if (!given) mError = errno;
    // What the file is as kept, for RemoveKept.
    struct stat st;
    mKept = mMade && lstat(mPath.c_str(), &st) == 0 && uint64_t(st.st_dev) == mDevice &&
            uint64_t(st.st_ino) == mInode;
    if (mKept) {
        mSize = int64_t(st.st_size);
        mChanged[0] = int64_t(st.st_ctim.tv_sec);
        mChanged[1] = int64_t(st.st_ctim.tv_nsec);
        mModified[0] = int64_t(st.st_mtim.tv_sec);
        mModified[1] = int64_t(st.st_mtim.tv_nsec);
    }
    mMade = false;
    mMarked = false;
    mWritten = true;
    Release();
    return given;
}

void KPlatformNewFile::OpenToWriters() {
    if (!mMade || !mMarked) return;
    const int fd = mFile ? fileno(mFile) : mHeld;
    if (fd >= 0) {
        if (fchmod(fd, mode_t(mMode)) == 0) mMarked = false;
        return;
    }
    // Closed and not held (past the budget of held files): by its name, while that holds it.
    GiveModeBack(-1);
    struct stat st;
    if (lstat(mPath.c_str(), &st) == 0 && uint64_t(st.st_dev) == mDevice &&
        uint64_t(st.st_ino) == mInode && (st.st_mode & 07777) != 0)
        mMarked = false;
}

bool KPlatformNewFile::GiveModeBack(int fd) const {
    if (!mMarked) return true;
    if (KPlatformFileParts::Injected(KPlatformFileCall::eChmod)) return false;
    // Only a file still without permissions (none given by another meanwhile) that some name
    // leads to: one removed by every name has none to give.
    if (fd >= 0) return KPlatformFileParts::GiveModeThrough(fd, mMode);
    // No handle held: only while its name holds it, through a handle of that very file, so a
    // link put there meanwhile is not followed. A second name or new permissions given to it
    // meanwhile change its status time, not what it is: the size, the modification time and
    // the mark tell it.
    if (!mMade) return true;
    const int path = open(mPath.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (path < 0) return true;
    struct stat st;
    char handle[64];
    bool given = true;
    if (fstat(path, &st) == 0 && uint64_t(st.st_dev) == mDevice && uint64_t(st.st_ino) == mInode &&
        S_ISREG(st.st_mode) && (st.st_mode & 07777) == 0 &&
        (!mWritten ||
         (int64_t(st.st_size) == mSize && int64_t(st.st_mtim.tv_sec) == mModified[0] &&
          int64_t(st.st_mtim.tv_nsec) == mModified[1])) &&
        snprintf(handle, sizeof handle, "/proc/self/fd/%d", path) > 0 &&
        chmod(handle, mode_t(mMode)) != 0)
        // No /proc: by name, just checked.
        given = errno == ENOENT && chmod(mPath.c_str(), mode_t(mMode)) == 0;
    const int error = errno;
    close(path);
    errno = error;
    return given;
}

void KPlatformNewFile::Release() {
    // The name is forgotten for signals before the handle goes: the handler never reaches a
    // number given to another file since.
    KPlatformForgetForSignals(mSignalSlot);
    mSignalSlot = -1;
    if (mHeld < 0) return;
    close(mHeld);
    mHeld = -1;
    gHeldFiles.fetch_sub(1);
}

bool KPlatformNewFile::NameHoldsIt() const {
    struct stat st;
    if (!mMade || lstat(mPath.c_str(), &st) != 0 || uint64_t(st.st_dev) != mDevice ||
        uint64_t(st.st_ino) != mInode)
        return false;
    // Being written, it is a file another program cannot have made; written, another program
    // may have changed it in place since.
    return !mWritten ||
           (int64_t(st.st_size) == mSize && int64_t(st.st_ctim.tv_sec) == mChanged[0] &&
            int64_t(st.st_ctim.tv_nsec) == mChanged[1] &&
            int64_t(st.st_mtim.tv_sec) == mModified[0] &&
            int64_t(st.st_mtim.tv_nsec) == mModified[1]);
}

bool KPlatformNewFile::Remove() {
    const bool removed = NameHoldsIt() && unlink(mPath.c_str()) == 0;
    // Left (another name has it, its folder moved, or the folder took no removal): a finished
    // file with its permissions.
    GiveModeBack(mHeld);
    if (mFile) fclose(mFile);
    mFile = nullptr;
    Release();
    mMade = false;
    mMarked = false;
    return removed;
}

bool KPlatformNewFile::RemoveKept() {
    if (!mKept) return false;
    mMade = true;
    mWritten = true;
    const bool removed = NameHoldsIt() && unlink(mPath.c_str()) == 0;
    mMade = mKept = false;
    return removed;
}

bool KPlatformIsNewFileNotKept(FILE* file) {
    struct stat st;
    return file && fstat(fileno(file), &st) == 0 && S_ISREG(st.st_mode) &&
           (st.st_mode & 07777) == 0;
}

bool KPlatformFileParts::GiveModeThrough(int fd, unsigned mode) noexcept {
    struct stat st;
    if (mode != 0 && fd >= 0 && fstat(fd, &st) == 0 && st.st_nlink > 0 && (st.st_mode & 07777) == 0)
        return fchmod(fd, mode_t(mode)) == 0;
    return true;
}
