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
#include <exception>
#include <memory>
#include <new>

#include "platform/KPlatformAscii.h"
#include "platform/KPlatformRandom.h"
#include "platform/KPlatformSignals.h"
#include "platform/KPlatformThreadSlot.h"

namespace {

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

// The system's error number of the last replacement of this thread that failed.
thread_local int gLastReplaceError = 0;
thread_local KPlatformCommitGuard* gCommitGuard = nullptr;
// The system's error number of the last new file of this thread that could not be begun, and
// the name it was begun for.
thread_local int gLastCreateError = 0;
// Whether the last failed set of this thread had two targets that were one file.
thread_local bool gLastOneFile = false;

// What a thread keeps of its last failures beyond numbers: held through a thread slot, since a
// thread_local object with a destructor ends the process when the system has no memory to note it.
struct ThreadFailures {
    std::string createPath;  // the name the last new file that could not be begun was begun for
    KPlatformReplaceFailure failure;
};

KPlatformThreadSlot& FailureSlot() {
    static KPlatformThreadSlot slot([](void* kept) { delete static_cast<ThreadFailures*>(kept); });
    return slot;
}

ThreadFailures* KeptFailures() {
    return static_cast<ThreadFailures*>(FailureSlot().Get());
}

// Throws std::bad_alloc as the strings and lists it holds would.
ThreadFailures& MadeFailures() {
    if (ThreadFailures* kept = KeptFailures()) return *kept;
    std::unique_ptr<ThreadFailures> made(new ThreadFailures);
    if (!FailureSlot().Set(made.get())) throw std::bad_alloc();
    return *made.release();
}

// Notes the name a new file could not be begun for; without memory for it, no name matches.
void NoteCreatePath(const char* path) noexcept {
    try {
        MadeFailures().createPath = KPlatformNativePath(path);
    } catch (const std::bad_alloc&) {
        if (ThreadFailures* kept = KeptFailures()) kept->createPath.clear();
        gLastCreateError = 0;
    }
}

// Forgets the last set's failure, allocating nothing.
void ForgetLastFailure() {
    gLastOneFile = false;
    if (ThreadFailures* kept = KeptFailures()) {
        kept->failure.mixed.clear();
        kept->failure.gone.clear();
    }
}

const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
constexpr size_t kSuffix = 6;

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

// Failures made on purpose by tests (KPlatformFailFileCalls), per kind of call.
struct InjectedFault {
    int skip = 0;
    int count = 0;  // < 0: every call
    int error = 0;
};
thread_local InjectedFault gFaults[4];

// True, with errno set, when the call is to fail as the test asked.
bool Injected(KPlatformFileCall call) {
    InjectedFault& fault = gFaults[int(call)];
    if (fault.count == 0) return false;
    if (fault.skip > 0) {
        --fault.skip;
        return false;
    }
    if (fault.count > 0) --fault.count;
    errno = fault.error;
    return true;
}

int Link(const std::string& from, const std::string& to) {
    return Injected(KPlatformFileCall::eLink) ? -1 : link(from.c_str(), to.c_str());
}

int Rename(const std::string& from, const std::string& to) {
    return Injected(KPlatformFileCall::eRename) ? -1 : rename(from.c_str(), to.c_str());
}

int Unlink(const std::string& path) {
    return Injected(KPlatformFileCall::eUnlink) ? -1 : unlink(path.c_str());
}

// A rename that never replaces a file already bearing the new name (EEXIST then).
int RenameAside(const std::string& from, const std::string& to) {
    if (Injected(KPlatformFileCall::eRename)) return -1;
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return -1;
    struct stat st;  // a file system without the flag: the random name all but never exists
    if (lstat(to.c_str(), &st) == 0) {
        errno = EEXIST;
        return -1;
    }
    return rename(from.c_str(), to.c_str());
}

// How an old file is kept while the new files of a set take their places.
enum class Kept : unsigned char { eNone, eLinked, eAside };

// Keeps the old file `target` under the hidden name `kept`: a second link to it, so it stays
// whatever takes its name, or, where the file system has no links (or the file no more), the
// file itself renamed aside. true with eNone when there is no old file to keep; false (errno
// set) when there is one and it cannot be kept.
bool KeepOld(const std::string& target, std::string& kept, Kept& how) {
    how = Kept::eNone;
    struct stat st;
    if (lstat(target.c_str(), &st) != 0) return errno == ENOENT;
    if (!S_ISREG(st.st_mode)) return true;  // a folder, which no file replaces
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (!RandomSuffix(kept)) break;
        if (Link(target, kept) == 0) {
            how = Kept::eLinked;
            return true;
        }
        if (errno == EEXIST) continue;
        if (RenameAside(target, kept) == 0) {
            how = Kept::eAside;
            return true;
        }
        if (errno != EEXIST) return false;
    }
    errno = EEXIST;
    return false;
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


}  // namespace

std::string KPlatformNativePath(const char* path) {
    return path ? path : "";
}

FILE* KPlatformOpenFile(const char* path, const char* mode) {
    if (!path || !*path || !mode) return nullptr;
    std::string native = KPlatformNativePath(path);
    // Devices and pipes are never read: checked by name, since opening a pipe for reading
    // waits for its writer.
    const bool reading = mode[0] == 'r';
    if (reading && KPlatformIsSpecialFile(native.c_str())) {
        errno = EINVAL;
        return nullptr;
    }
    FILE* file = fopen(native.c_str(), mode);
    if (file || mode[0] != 'r' || errno != ENOENT) return file;

    std::string folder, name;
    SplitFolder(native, folder, name);
    if (name.empty()) return nullptr;
    DIR* dir = opendir(folder.c_str());
    if (!dir) return nullptr;
    std::vector<std::string> candidates;
    while (dirent* entry = readdir(dir))
        if (KPlatformEqualNoCase(entry->d_name, name)) candidates.push_back(entry->d_name);
    closedir(dir);
    if (candidates.empty()) return nullptr;
    // Several names may differ only in case: take the same one every time.
    std::sort(candidates.begin(), candidates.end());
    std::string match = folder == "/" ? "/" + candidates[0] : folder + "/" + candidates[0];
    if (KPlatformIsSpecialFile(match.c_str())) return nullptr;
    return fopen(match.c_str(), mode);
}

namespace {

// KPlatformResolveLinks, with the system's error number when it gives no name: ELOOP for a
// loop of links.
std::string ResolveLinks(const char* path, int& error) {
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

bool KPlatformReplaceFile::Open(const char* path, const char* mode) {
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
    struct stat st;
    const bool exists = stat(mTarget.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) {
        // A device or a pipe cannot be replaced, and holds nothing to lose.
        mFile = fopen(mTarget.c_str(), mode);
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
    if (fd >= 0 && exists) (void)fchmod(fd, permissions);  // the umask must not narrow them
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
    KPlatformReplaceFile* self = this;
    return CommitTogether(&self, 1);
}

bool KPlatformReplaceFile::CommitTogether(KPlatformReplaceFile* const* files, size_t count) {
    bool ok = files && count > 0;
    for (size_t i = 0; ok && i < count; ++i)
        ok = files[i] && (files[i]->mFile || files[i]->mFinished);
    ForgetLastFailure();
    for (size_t i = 0; ok && i < count; ++i) ok = files[i]->Finish();
    // Asked once every byte is out and every file closed: nothing of the write comes after.
    ok = ok && KPlatformCommitGuard::Allows();
    if (!ok) {
        for (size_t i = 0; files && i < count; ++i)
            if (files[i]) files[i]->Abandon();
        return false;
    }
    try {
        return PlaceFinished(files, count);
    } catch (...) {
        // A file left waiting would take its place when its stream closes, after the refusal.
        for (size_t i = 0; i < count; ++i) files[i]->Drop();
        throw;
    }
}

bool KPlatformReplaceFile::PlaceFinished(KPlatformReplaceFile* const* files, size_t count) {
    // Two targets that are one file would end holding one new file of the two.
    for (size_t i = 0; i < count; ++i)
        for (size_t j = i + 1; j < count; ++j)
            if (!files[i]->mTemp.empty() && !files[j]->mTemp.empty() &&
                SameTarget(files[i]->mTarget, files[j]->mTarget))
                return DropTogether(files, count, EINVAL, true);
    // Everything the steps below need is made first: nothing there allocates, so nothing is left
    // half done. One file alone needs none of it: its rename replaces or leaves the old file.
    const bool together = count > 1;
    std::vector<std::string> kept(count);
    std::vector<Kept> how(count, Kept::eNone);
    std::vector<struct stat> fresh(count);
    std::vector<char> mixed(count, 0);
    for (size_t i = 0; together && i < count; ++i) {
        std::string folder, name;
        SplitFolder(files[i]->mTarget, folder, name);
        if (!files[i]->mTemp.empty()) kept[i] = HiddenName(folder, name);
    }
    KPlatformSignalsHeld held;
    int error = 0;
    bool oneFile = false;
    // Every old file is kept before any new file takes a place.
    for (size_t i = 0; together && i < count && error == 0; ++i)
        if (!files[i]->mTemp.empty() && !KeepOld(files[i]->mTarget, kept[i], how[i])) error = errno;
    size_t placed = 0;
    for (; error == 0 && placed < count; ++placed) {
        KPlatformReplaceFile& file = *files[placed];
        if (file.mTemp.empty()) continue;  // a device, written already
        if (together) {
            // A target reached by two names that no check above saw as one (a folder that
            // ignores case) shows the new file put there a moment ago.
            struct stat st;
            if (stat(file.mTemp.c_str(), &fresh[placed]) != 0) {
                error = errno;
                break;
            }
            for (size_t i = 0; i < placed && stat(file.mTarget.c_str(), &st) == 0; ++i)
                if (!files[i]->mTemp.empty() && st.st_dev == fresh[i].st_dev &&
                    st.st_ino == fresh[i].st_ino)
                    oneFile = true;
            if (oneFile) {
                error = EINVAL;
                break;
            }
        }
        if (Rename(file.mTemp, file.mTarget) != 0) {
            error = errno;
            break;
        }
    }
    if (error == 0) {
        for (size_t i = 0; i < count; ++i) {
            if (how[i] != Kept::eNone) Unlink(kept[i]);
            KPlatformCommitGuard::NotePlaced(files[i]->mTarget);
            files[i]->mTemp.clear();
            files[i]->Drop();
        }
        gLastReplaceError = 0;
        return true;
    }
    // Back as they were: each old file in its place again, no file where there was none, and
    // nothing hidden left. What cannot be put back is told with the hidden name of its old file.
    bool anyMixed = false;
    for (size_t i = 0; i < count; ++i) {
        KPlatformReplaceFile& file = *files[i];
        if (file.mTemp.empty()) continue;
        const bool wasPlaced = i < placed;
        bool back = true;
        if (how[i] == Kept::eAside || (how[i] == Kept::eLinked && wasPlaced))
            back = Rename(kept[i], file.mTarget) == 0;
        else if (how[i] == Kept::eLinked)
            Unlink(kept[i]);  // the old file never left its place
        else if (wasPlaced)
            back = Unlink(file.mTarget) == 0;
        if (wasPlaced) file.mTemp.clear();  // renamed: nothing left to remove
        mixed[i] = !back;
        anyMixed = anyMixed || !back;
    }
    if (anyMixed)
        for (size_t i = 0; i < count; ++i)
            if (mixed[i]) {
                MadeFailures().failure.mixed.emplace_back(files[i]->mTarget,
                                                how[i] == Kept::eNone ? std::string() : kept[i]);
                if (how[i] == Kept::eAside && i >= placed)
                    MadeFailures().failure.gone.push_back(files[i]->mTarget);
            }
    return DropTogether(files, count, error, oneFile);
}

bool KPlatformReplaceFile::DropTogether(KPlatformReplaceFile* const* files, size_t count, int error,
                                        bool oneFile) {
    for (size_t i = 0; i < count; ++i) files[i]->Drop();
    gLastReplaceError = error;
    gLastOneFile = oneFile;
    return false;
}

void KPlatformReplaceFile::Abandon() {
    if (mFile) fclose(mFile);
    // A write that failed is why the file is given up: the caller may ask.
    if ((mFile || mFinished) && mWriteError != 0) gLastReplaceError = mWriteError;
    mFile = nullptr;
    Drop();
}

size_t KPlatformReplaceFile::Write(const void* data, size_t size) {
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

KPlatformCommitGuard::KPlatformCommitGuard(bool (*check)(void*), void* context, const char* watched)
    : mCheck(check),
      mContext(context),
      mWatched(watched ? KPlatformNativePath(watched) : std::string()),
      mOuter(gCommitGuard) {
    gCommitGuard = this;
}

KPlatformCommitGuard::~KPlatformCommitGuard() {
    gCommitGuard = mOuter;
}

bool KPlatformCommitGuard::Allows() {
    KPlatformCommitGuard* guard = gCommitGuard;
    if (!guard) return true;
    if (guard->mCheck && !guard->mRefused && !guard->mWatchedPlaced) {
        // A check that cannot finish cannot say yes.
        try {
            guard->mRefused = !guard->mCheck(guard->mContext);
        } catch (...) {
            guard->mRefused = true;
        }
    }
    return !guard->mRefused;
}

void KPlatformCommitGuard::NotePlaced(const std::string& target) {
    KPlatformCommitGuard* guard = gCommitGuard;
    if (!guard || guard->mWatched.empty() || guard->mWatchedPlaced) return;
    // One file, however named ("./", links).
    struct stat placed, watched;
    if (stat(target.c_str(), &placed) == 0 && stat(guard->mWatched.c_str(), &watched) == 0 &&
        placed.st_dev == watched.st_dev && placed.st_ino == watched.st_ino)
        guard->mWatchedPlaced = true;
}

int KPlatformLastReplaceError() {
    return gLastReplaceError;
}

const KPlatformReplaceFailure& KPlatformLastReplaceFailure() {
    static const KPlatformReplaceFailure kNone{false, {}, {}};
    static const KPlatformReplaceFailure kOneFile{true, {}, {}};
    ThreadFailures* kept = KeptFailures();
    if (!kept) return gLastOneFile ? kOneFile : kNone;
    kept->failure.oneFile = gLastOneFile;
    return kept->failure;
}

bool KPlatformSameReplaceTarget(const char* first, const char* second) {
    if (!first || !second || !*first || !*second) return false;
    const std::string a = KPlatformResolveLinks(first), b = KPlatformResolveLinks(second);
    return !a.empty() && !b.empty() && SameTarget(a, b);
}

void KPlatformFailFileCalls(KPlatformFileCall call, int skip, int count, int error) {
    gFaults[int(call)] = InjectedFault{skip, count, error};
}

void KPlatformClearFileFaults() {
    for (InjectedFault& fault : gFaults) fault = InjectedFault();
}

int KPlatformLastCreateError(const char* path) {
    const ThreadFailures* kept = KeptFailures();
    return gLastCreateError != 0 && path && kept && kept->createPath == KPlatformNativePath(path)
               ? gLastCreateError
               : 0;
}

std::string KPlatformErrorText(int error) {
    char buffer[256];
    // The GNU form returns the text, which may or may not be the buffer.
    return strerror_r(error, buffer, sizeof buffer);
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
    return rmdir(KPlatformNativePath(path).c_str()) == 0;
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
    entries.clear();
    if (!pattern || !*pattern) return false;
    std::string folder, wildcard;
    SplitFolder(KPlatformNativePath(pattern), folder, wildcard);
    if (wildcard.empty()) return false;
    DIR* dir = opendir(folder.c_str());
    if (!dir) return false;
    std::vector<std::string> names;
    while (dirent* entry = readdir(dir))
        if (KPlatformWildcardMatch(wildcard.c_str(), entry->d_name)) names.push_back(entry->d_name);
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
