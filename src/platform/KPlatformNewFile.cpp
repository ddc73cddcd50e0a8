// A file made new under its name, removed unless kept.

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include "platform/KPlatformFile.h"
#include "platform/KPlatformSignals.h"

KPlatformNewFile::KPlatformNewFile(KPlatformNewFile&& other) noexcept
    : mPath(std::move(other.mPath)),
      mFile(other.mFile),
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
      mKept(other.mKept) {
    other.mKept = false;
    other.mFile = nullptr;
    other.mSignalSlot = -1;
    other.mMade = false;
}

bool KPlatformNewFile::Create(const char* path) {
    Remove();
    mError = ENOENT;
    if (!path || !*path) return false;
    mPath = KPlatformNativePath(path);
    // The file and its name kept for signals come and go together.
    KPlatformSignalsHeld held;
    const int fd = open(mPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
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
    // Until it is kept no one else reads it, and others tell it from a finished file by that
    // (KPlatformIsNewFileNotKept): it may go again. Its permissions come back when it is kept.
    mMode = unsigned(st.st_mode & 07777);
    mMarked = mMode != 0 && fchmod(fd, 0) == 0;
    mSignalSlot = KPlatformKeepForSignals(mPath.c_str(), fd);
    mFile = fdopen(fd, "wb");
    if (!mFile) {
        mError = errno;
        // Still open: its number is no other file's, so the name holds it when it has that.
        if (NameHoldsIt(true))
            unlink(mPath.c_str());
        else if (mMarked)
            (void)fchmod(fd, mode_t(mMode));  // left: not marked as a file still being made
        close(fd);
        mMade = false;
        Remove();
        return false;
    }
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
    return ok;
}

void KPlatformNewFile::Keep() {
    // Kept whole: a signal waits until the file has its permissions and is no longer kept for
    // removal.
    KPlatformSignalsHeld held;
    if (mMarked && mMade) RestoreMode();
    if (mFile) fclose(mFile);
    mFile = nullptr;
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
    KPlatformForgetForSignals(mSignalSlot);
    mSignalSlot = -1;
}

void KPlatformNewFile::OpenToWriters() {
    if (mFile && mMarked && mMade && fchmod(fileno(mFile), mode_t(mMode)) == 0) mMarked = false;
}

void KPlatformNewFile::RestoreMode() {
    if (mFile) {
        (void)fchmod(fileno(mFile), mode_t(mMode));
        return;
    }
    // Closed: only while its name holds it, and through a handle of that very file, so a
    // link put there meanwhile is not followed. A second name or new permissions given to it
    // meanwhile change its status time, not what it is: the size, the modification time and
    // the mark tell it.
    if (!mMade) return;
    const int fd = open(mPath.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return;
    struct stat st;
    char handle[64];
    if (fstat(fd, &st) == 0 && uint64_t(st.st_dev) == mDevice && uint64_t(st.st_ino) == mInode &&
        S_ISREG(st.st_mode) && (st.st_mode & 07777) == 0 && int64_t(st.st_size) == mSize &&
        int64_t(st.st_mtim.tv_sec) == mModified[0] && int64_t(st.st_mtim.tv_nsec) == mModified[1] &&
        snprintf(handle, sizeof handle, "/proc/self/fd/%d", fd) > 0 &&
        chmod(handle, mode_t(mMode)) != 0 && errno == ENOENT)
        (void)chmod(mPath.c_str(), mode_t(mMode));  // no /proc: by name, just checked
    close(fd);
}

bool KPlatformNewFile::NameHoldsIt(bool open) const {
    struct stat st;
    if (!mMade || lstat(mPath.c_str(), &st) != 0 || uint64_t(st.st_dev) != mDevice ||
        uint64_t(st.st_ino) != mInode)
        return false;
    // Open, its number is never another file's; closed, it may go to the next file made.
    return open || (int64_t(st.st_size) == mSize && int64_t(st.st_ctim.tv_sec) == mChanged[0] &&
                    int64_t(st.st_ctim.tv_nsec) == mChanged[1] &&
                    int64_t(st.st_mtim.tv_sec) == mModified[0] &&
                    int64_t(st.st_mtim.tv_nsec) == mModified[1]);
}

void KPlatformNewFile::Remove() {
    if (NameHoldsIt(mFile != nullptr))
        unlink(mPath.c_str());
    else if (mMarked && mMade)
        RestoreMode();  // left (another name has it, or it is not told for certain): not marked
    if (mFile) fclose(mFile);
    mFile = nullptr;
    mMade = false;
    mMarked = false;
    KPlatformForgetForSignals(mSignalSlot);
    mSignalSlot = -1;
}

bool KPlatformNewFile::RemoveKept() {
    if (!mKept) return false;
    mMade = true;
    const bool removed = NameHoldsIt(false) && unlink(mPath.c_str()) == 0;
    mMade = mKept = false;
    return removed;
}

bool KPlatformIsNewFileNotKept(FILE* file) {
    struct stat st;
    return file && fstat(fileno(file), &st) == 0 && S_ISREG(st.st_mode) &&
           (st.st_mode & 07777) == 0;
}
