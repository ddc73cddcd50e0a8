// A file made new under its name, removed unless kept.

#include <errno.h>
#include <fcntl.h>
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
      mMade(other.mMade) {
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
        if (fd >= 0) {
            close(fd);
            unlink(mPath.c_str());
        }
        return false;
    }
    mDevice = uint64_t(st.st_dev);
    mInode = uint64_t(st.st_ino);
    mMade = true;
    mSignalSlot = KPlatformKeepForSignals(mPath.c_str());
    mFile = fdopen(fd, "wb");
    if (!mFile) {
        mError = errno;
        unlink(mPath.c_str());  // still open: certainly the file made
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
    } else {
        mMade = false;  // cannot be told again: never removed
    }
    const bool ok = fclose(mFile) == 0;
    if (!ok) mError = errno;
    mFile = nullptr;
    return ok;
}

void KPlatformNewFile::Keep() {
    if (mFile) fclose(mFile);
    mFile = nullptr;
    mMade = false;
    KPlatformForgetForSignals(mSignalSlot);
    mSignalSlot = -1;
}

bool KPlatformNewFile::NameHoldsIt() const {
    struct stat st;
    if (!mMade || lstat(mPath.c_str(), &st) != 0 || uint64_t(st.st_dev) != mDevice ||
        uint64_t(st.st_ino) != mInode)
        return false;
    return mFile || (int64_t(st.st_size) == mSize && int64_t(st.st_ctim.tv_sec) == mChanged[0] &&
                     int64_t(st.st_ctim.tv_nsec) == mChanged[1] &&
                     int64_t(st.st_mtim.tv_sec) == mModified[0] &&
                     int64_t(st.st_mtim.tv_nsec) == mModified[1]);
}

void KPlatformNewFile::Remove() {
    if (NameHoldsIt()) unlink(mPath.c_str());
    if (mFile) fclose(mFile);
    mFile = nullptr;
    mMade = false;
    KPlatformForgetForSignals(mSignalSlot);
    mSignalSlot = -1;
}

