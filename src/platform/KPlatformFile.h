#pragma once
// File and folder services of the operating system. The only place in the library that
// touches the file system by name. Every name is UTF-8 and means the file the system means by
// it: a '\' is part of a name here. Names stored in files written on other systems separate
// folders with '\'; their readers make names of this system of them (KCleanPath).

#include <cstdint>
#include <cstdio>
#include <optional>
#include <sys/types.h>
#include <string>
#include <utility>
#include <vector>

#include "platform/KPlatformSameFile.h"
#include "platform/KPlatformSignals.h"

// The name as the system wants it: the name itself.
std::string KPlatformNativePath(const char* path);

// fopen through the stand-in. A read open ("r..." mode) whose exact name is missing falls
// back to a name that differs only in case within the same folder, since names stored in
// files written on case-insensitive systems often differ in case from the files on disk.
// A read open of a device, a pipe or a socket fails (see KPlatformIsSpecialFile).
FILE* KPlatformOpenFile(const char* path, const char* mode);
// The name a read open of `path` takes: `path` itself, or, when nothing has that name, the one
// of another case it falls back to; `path` when there is neither.
std::string KPlatformNameAsRead(const char* path);

// Why a file cannot be written in place of `path` (KPlatformCheckReplace).
enum class KPlatformReplaceProblem {
    eNone,
    eNoName,
    eMissingFolder,  // the folder of the file does not exist
    eFolder,         // the name is a folder
    eReadOnly,       // the file exists and may not be written
    eLinkLoop,       // symbolic links that never end in a name
    eCannotCreate,   // the folder refuses a new file
    eNameTooLong,    // a name in the path, or the whole path, is longer than the system takes
    eReadOnlyFileSystem  // the file exists on a file system that takes no writes
};

// The file a write to `path` really replaces: symbolic links followed to the name they end in
// (at most 40 of them; the name need not exist), the name itself otherwise. A link that ends
// in a device or a pipe is its own answer: such a file is written through the link, whose
// target may name no file at all (the process's own descriptors). Empty for a loop of links,
// a name too long or a link that cannot be read.
std::string KPlatformResolveLinks(const char* path);

// What stands in the way of replacing `path` by a new file, eNone when nothing does. The
// folder is not tried for a new file here; that shows when the file is created.
KPlatformReplaceProblem KPlatformCheckReplace(const char* path);

// A file written in place of another one. The bytes go to a new file beside the file that
// is replaced (the target of a symbolic link, never the link), which takes its place only
// when Commit succeeds; a write that fails or is abandoned leaves the old file as it was and
// no new file behind. Missing folders are not created. A name that is not a regular file
// (a device, a pipe) is written directly. The new file is hidden: ".<name>.<6 chars>.tmp",
// the name cut short where the whole would be longer than the folder takes.
class KPlatformReplaceFile {
public:
    KPlatformReplaceFile() = default;
    ~KPlatformReplaceFile() { Abandon(); }
    KPlatformReplaceFile(const KPlatformReplaceFile&) = delete;
    KPlatformReplaceFile& operator=(const KPlatformReplaceFile&) = delete;

    // `mode` is a C runtime write mode ("wb", "w+b", "w+t" ...). false with the reason in
    // GetProblem when the file cannot be begun.
    bool Open(const char* path, const char* mode);
    FILE* GetFile() const { return mFile; }
    KPlatformReplaceProblem GetProblem() const { return mProblem; }
    // fwrite into the new file; a short write keeps the system's reason (the first one) for
    // KPlatformLastReplaceError, and the file is then not put in place.
    size_t Write(const void* data, size_t size);
    // Keeps the system's reason (errno) for a failed call made on GetFile() directly (a seek or
    // a flush that wrote out its buffer), unless a reason is kept already.
    void NoteWriteError();
    // A write failed, through Write or as told by NoteWriteError.
    bool WriteFailed() const { return mWriteError != 0; }
    // Writes out and closes the new file, which then waits for Commit (or CommitTogether) to
    // put it in place; false, the new file removed, when any of it fails (as for Commit).
    bool Finish();
    // Writes out, closes and puts the new file in place; false (nothing replaced, the new
    // file removed) when any of it fails, a write failed before, the new file was deleted
    // meanwhile, or it is called while an exception thrown since Open unwinds (the write was
    // cut short).
    bool Commit();
    // Closes and removes the new file; the old one stays.
    void Abandon();
    // Puts several files in place as one: every one is finished first, and only when all are
    // whole is every old file kept under a hidden name (a second link to it, or the file
    // itself moved aside where the file system has no links) and the new ones renamed, in
    // order. Should a step fail, the files already put in place make way for their old ones
    // again, so that all or none of the targets change; false then, every new file and hidden
    // name gone. Should putting back fail as well, false with the targets left mixed and the
    // hidden names of their old files in KPlatformLastReplaceFailure. Two targets that are one
    // file are refused, nothing changed. Memory running out drops every file not yet placed
    // before the exception goes on.
    static bool CommitTogether(KPlatformReplaceFile* const* files, size_t count);

private:
    // CommitTogether once every file is finished.
    static bool PlaceFinished(KPlatformReplaceFile* const* files, size_t count);
    // Removes the new file (when there is one) and forgets it.
    void Drop();
    // Drops every new file of a set, telling why they were not put in place; false.
    static bool DropTogether(KPlatformReplaceFile* const* files, size_t count, int error,
                             bool oneFile);

    FILE* mFile = nullptr;
    std::string mTemp;  // empty when writing the target directly
    std::string mTarget;
    int mSignalSlot = -1;    // the new file's name kept for removal on an ending signal
    int mExceptions = 0;     // exceptions under way when it was opened
    int mWriteError = 0;     // the system's reason for the first write that failed
    bool mFinished = false;  // closed, waiting to be put in place
    KPlatformReplaceProblem mProblem = KPlatformReplaceProblem::eNone;
};

// A file made new under its name, never one that was there already, so two writers that want
// one name never share it. Until Keep, an ending signal removes it (KPlatformKeepForSignals),
// and so does Remove or the end of the object, but only while its name still holds the file
// made: a file another program put there since stays. Until Keep it has no permissions, so
// that another writer does not take it for a finished file (KPlatformIsNewFileNotKept); it
// holds the file open until then, and gets them back through it when kept or left, whatever
// became of its name or folder (a second name, a move, a folder that refuses the removal).
// Past half the files the process may open, new files are not held: they get them back by
// their names, while those lead to them.
class KPlatformNewFile {
public:
    KPlatformNewFile() = default;
    ~KPlatformNewFile() { Remove(); }
    KPlatformNewFile(KPlatformNewFile&& other) noexcept;
    KPlatformNewFile& operator=(KPlatformNewFile&&) = delete;

    // Makes `path` an empty file open for writing; false with the system's error number in
    // GetError: EEXIST when the name is taken by anything, a folder or a dangling link too.
    // Holds two descriptors while it is written, one until it is kept or removed (see above).
    bool Create(const char* path);
    FILE* GetFile() const { return mFile; }
    int GetError() const { return mError; }
    // Writes out and closes the file; false (the reason in GetError) when a write failed.
    bool Close();
    // The file stays where it is: no longer removed by a signal, by Remove or by the end.
    // False (the reason in GetError) when the system refused it its permissions.
    bool Keep();
    const std::string& GetPath() const { return mPath; }
    // Gives the open file its permissions before it is kept, for a writer that can only open
    // it by name; it is still removed unless kept.
    void OpenToWriters();
    // Closes and removes the file made, when its name still holds it; true when it went.
    bool Remove();
    // Removes the file once kept, when its name still holds it as it was kept; true when it went.
    bool RemoveKept();

    KPlatformNewFile(const KPlatformNewFile&) = delete;
    KPlatformNewFile& operator=(const KPlatformNewFile&) = delete;

private:
    // Whether the name holds the file made: its number, and once written its size and times
    // as well, since another program may have written it in place.
    bool NameHoldsIt() const;
    // Gives the file open as `fd` the permissions it was made with, when it still has none
    // and a name still leads to it; false, with errno set, when the system refused them.
    bool GiveModeBack(int fd) const;
    // Forgets the name for signals and closes the handle held.
    void Release();

    std::string mPath;
    FILE* mFile = nullptr;
    int mHeld = -1;  // the file itself, until it is kept or removed
    uint64_t mDevice = 0;
    uint64_t mInode = 0;
    int64_t mSize = 0;
    int64_t mChanged[2] = {0, 0};   // status change time, seconds and nanoseconds, once closed
    int64_t mModified[2] = {0, 0};  // modification time, likewise
    int mSignalSlot = -1;
    int mError = 0;
    unsigned mMode = 0;    // the permissions it was made with
    bool mMade = false;
    bool mMarked = false;   // without permissions until kept
    bool mWritten = false;  // closed: its size and times tell it
    bool mKept = false;     // kept, as the size and times say
};

// Whether the open file is one made new (KPlatformNewFile, by this process or another) and not
// kept yet: it may still go. Such a file has no permissions until it is kept.
bool KPlatformIsNewFileNotKept(FILE* file);

// A check on the files this thread puts in place (KPlatformReplaceFile::Commit, CommitTogether)
// while the guard lives: `check` (with `context`; null for none) is asked just before each of
// them would take its place, until the file named `watched` has taken its own. Once it says no,
// no file takes its place (each is dropped, its old one kept, as after a failed write), so a
// write refused is refused before its file replaces the old one. A guard made while another
// lives stands in for it until it ends.
class KPlatformCommitGuard {
public:
    KPlatformCommitGuard(bool (*check)(void* context), void* context, const char* watched);
    ~KPlatformCommitGuard();
    KPlatformCommitGuard(const KPlatformCommitGuard&) = delete;
    KPlatformCommitGuard& operator=(const KPlatformCommitGuard&) = delete;

    // The check said no: nothing was put in place since.
    bool Refused() const { return mRefused; }
    // A new file took the place of the file `watched` names (however named: links, "./"), or
    // was written into it when it is a device.
    bool WatchedPlaced() const { return mWatchedPlaced; }

private:
    friend class KPlatformReplaceFile;
    // Whether the files about to be put in place may be; true without a guard.
    static bool Allows();
    static void NotePlaced(const std::string& target);

    bool (*mCheck)(void*);
    void* mContext;
    std::string mWatched;
    KPlatformCommitGuard* mOuter;
    bool mRefused = false;
    bool mWatchedPlaced = false;
};

// While one lives, a file this thread begins for writing (KPlatformReplaceFile::Open) whose name
// leads to one of `files` is refused (the error number ETXTBSY): the files a read used, which a
// link put at a written name after it was looked at would lead to. `files` (kept by the caller
// while this lives) null: those of the one before, if any.
class KPlatformKeepFilesRead {
public:
    explicit KPlatformKeepFilesRead(const std::vector<KPlatformFileFound>* files);
    ~KPlatformKeepFilesRead();
    KPlatformKeepFilesRead(const KPlatformKeepFilesRead&) = delete;
    KPlatformKeepFilesRead& operator=(const KPlatformKeepFilesRead&) = delete;

private:
    const std::vector<KPlatformFileFound>* mBefore;
};

// While one lives, a file this thread begins for writing (KPlatformReplaceFile::Open) in place
// of `path` must find a regular file there or none: a device or a pipe that another program put
// at that name since it was looked at is refused (the error number ENXIO), never opened, so its
// open never waits for a reader. Throws std::bad_alloc when the name cannot be noted.
class KPlatformRegularFileOnly {
public:
    explicit KPlatformRegularFileOnly(const char* path);
    ~KPlatformRegularFileOnly();
    KPlatformRegularFileOnly(const KPlatformRegularFileOnly&) = delete;
    KPlatformRegularFileOnly& operator=(const KPlatformRegularFileOnly&) = delete;

private:
    std::string mBefore;  // the name expected before, again once this one ends
};

// The system's error number for the last file of this thread that was opened for replacing
// and could not be put in place, or was abandoned after a write to it failed: why its first
// failed write failed (ENOSPC, EIO ...), ENOENT when its new file was deleted before it could
// take the old one's place; 0 when it was put in place, and when a write made on GetFile()
// directly failed and the system no longer tells why.
int KPlatformLastReplaceError();
// The system's error number for the last new file of this thread that could not be begun in
// place of `path` (KPlatformReplaceFile::Open with eCannotCreate): too many open files, a
// read-only file system ...; 0 when it was begun, or the last such failure was of another name.
int KPlatformLastCreateError(const char* path);
// The system's text for an error number.
std::string KPlatformErrorText(int error);

// What the last set of files of this thread put in place together (CommitTogether) that failed
// left, beyond its error number; of one that succeeded, the hidden names it could not remove.
struct KPlatformReplaceFailure {
    bool oneFile = false;  // two targets were one file: nothing was replaced
    // Targets that could not be put back as they were, each with the hidden file that holds its
    // old file (empty when there was none and the new file stays): the set is mixed.
    std::vector<std::pair<std::string, std::string>> mixed;
    // Those of them left without any file: the old one was moved aside and no new one took
    // its place.
    std::vector<std::string> gone;
    // Targets that another program saved a file to after the new file took its place, so that
    // putting back left them as that program saved them, each with the hidden file that holds
    // its old file (empty when there was none).
    std::vector<std::pair<std::string, std::string>> saved;
    // These targets' old files stay under hidden names (target, hidden name, the system's error
    // number; ENOENT when the folder was moved or renamed before the hidden name could go) that
    // could not be removed: once the set is in place, or, when it failed, beside the old file
    // that never left its place.
    struct Left {
        std::string target;
        std::string hidden;
        int error = 0;
    };
    std::vector<Left> left;
    // Targets whose new file had taken its place, but that could not be looked at to put their
    // old files back (the system's error number): each is left as it is, its old file under
    // the hidden name (empty when there was none).
    std::vector<Left> unseen;
};
const KPlatformReplaceFailure& KPlatformLastReplaceFailure();

// True when writing to either name replaces one file (links followed): the same file where one
// exists, the same name in the same folder where none does yet.
bool KPlatformSameReplaceTarget(const char* first, const char* second);

// For tests: system calls of CommitTogether that fail as a file system would (one without hard
// links, a failing disk). Of this thread, after `skip` more calls of that kind the next `count`
// fail with `error` (count < 0: every one after).
// eWrite: Write; eOpenFolder: the look at a project folder (KPlatformSetAside::Move); eChmod:
// the permissions a new file gets back (KPlatformNewFile); eLook: the look at a file set aside
// before it is removed (KPlatformSetAside::Remove), and at each target of a set once its new
// file took its place or was to be put back.
// eRead: a read of an open stream (KPlatformReadStream), as a failing disk fails it.
enum class KPlatformFileCall {
    eLink,
    eRename,
    eUnlink,
    eWrite,
    eOpenFolder,
    eChmod,
    eLook,
    eRead,
    eCount
};
void KPlatformFailFileCalls(KPlatformFileCall call, int skip, int count, int error);
// For tests: another program acting in the middle of CommitTogether. `act` (with `context`)
// runs once, just before the call of that kind that follows `skip` more of them.
void KPlatformActOnFileCall(KPlatformFileCall call, int skip, void (*act)(void*), void* context);
void KPlatformClearFileFaults();

// 0 on success, non-zero on failure (as the C runtime's remove).
int KPlatformDeleteFile(const char* path);

// Atomic replace of `to` by `from` (same file system). true on success.
bool KPlatformRenameFile(const char* from, const char* to);

// One folder level; true on success (false when it exists already).
bool KPlatformMakeDirectory(const char* path);

// Removes an empty folder; true on success. Allocates nothing.
bool KPlatformRemoveDirectory(const char* path);

// "Normal attributes": makes the file writable by its owner. true on success.
bool KPlatformSetNormalAttributes(const char* path);

bool KPlatformPathExists(const char* path);
bool KPlatformIsDirectory(const char* path);
// A folder under this very name: false for a symbolic link, whatever it leads to.
bool KPlatformIsOwnDirectory(const char* path);
// Files set aside while a new file takes the place they would be read in: moved to hidden names
// in their folder, then removed once the new file is in place, or put back should it fail. The
// ending signals (SIGINT, SIGTERM, SIGHUP, SIGPIPE) are held back from the calling thread while
// any is aside, so the files are never left under hidden names by one of them.
class KPlatformSetAside {
public:
    KPlatformSetAside() = default;
    KPlatformSetAside(const KPlatformSetAside&) = delete;
    KPlatformSetAside& operator=(const KPlatformSetAside&) = delete;
    ~KPlatformSetAside();  // puts back what is still aside
    // Moves the files `names`, in any case of their letters (as a read finds them), directly
    // inside `folder`; never a folder, and nothing through a symbolic link (a `folder` that is
    // one is left as it is). false when one cannot be moved, or the folder cannot be looked
    // through for them: those moved are put back, Stayed() and Error() tell of it, and
    // LeftCount() of those that could not be put back.
    bool Move(const char* folder, const char* const* names, size_t count);
    // Each file under its name again. false when one cannot be (another file took the name):
    // LeftCount() tells of each one left under its hidden name.
    bool PutBack();
    // Removes the files moved; the folder stays. Allocates nothing unless a file stays: false
    // then, LeftCount() tells of each.
    bool Remove();
    // The file (or the folder) that could not be moved, and why.
    const std::string& Stayed() const { return mStayed; }
    int Error() const { return mError; }
    // The files left under hidden names by the last Move, PutBack or Remove: the hidden name
    // (with its folder) and the system's error number of each.
    size_t LeftCount() const { return mLeft.size(); }
    std::string LeftName(size_t index) const;
    int LeftError(size_t index) const { return index < mLeft.size() ? mLeft[index].error : 0; }

private:
    struct Moved {
        std::string name, hidden;
        dev_t device;
        ino_t inode;
        int error = 0;  // why it was left aside
    };
    void Fail(const std::string& name);
    // Keeps a file that stays aside for the words about it, allocating nothing.
    void Leave(Moved& moved);
    void Close();
    int mFolder = -1;
    std::string mPath;
    std::vector<Moved> mMoved;
    std::vector<Moved> mLeft;  // room for every file moved is made before any moves
    std::string mStayed;
    int mError = 0;
    std::optional<KPlatformSignalsHeld> mHeld;
};
// True when the name (links followed) is neither a regular file nor a folder: a device, a
// pipe or a socket, whose reads may never end or may wait forever.
bool KPlatformIsSpecialFile(const char* path);

// The process's current folder, empty on failure.
std::string KPlatformGetCurrentDirectory();

// `path` made absolute against the current folder, without touching the disk (no symbolic
// link resolution, "." and ".." left for the caller to clean).
std::string KPlatformFullPath(const char* path);

// The temporary folder: $TMPDIR when set and not empty, else the system default. No
// trailing separator.
std::string KPlatformGetTempFolder();

// Creates a new, empty file named <folder>/<prefix><six random characters>.tmp, exclusively
// (an existing name is never reused, so two callers never get the same name), and returns
// its name. A null or empty folder means the temporary folder. Empty on failure.
std::string KPlatformCreateTempFile(const char* folder, const char* prefix);

// The user's configuration folder: $XDG_CONFIG_HOME, else $HOME/.config, else the
// temporary folder.
std::string KPlatformGetConfigFolder();

// Environment variable, null when unset.
const char* KPlatformGetEnv(const char* name);

// Critical-error dialogs do not exist here; kept so callers read as designed. Returns the
// previous mode.
unsigned KPlatformSetErrorMode(unsigned mode);

// One entry of a folder listing.
struct KPlatformDirEntry {
    std::string name;
    bool isDirectory = false;
    bool readOnly = false;
    uint64_t size = 0;
    int64_t modifiedTime = 0;  // seconds since 1970
};

// Lists the folder of `pattern` ("folder/*.*", "folder/*.txt", ...). The last path part is
// the wildcard: '*' any run of characters, '?' one character, matched without regard to
// case; "*.*" matches every name, also names without a dot, and generally a trailing ".*"
// also matches names without an extension. "." and ".." come first when they match; the
// other names follow in byte order. false when the folder cannot be read or nothing
// matches.
bool KPlatformListDirectory(const char* pattern, std::vector<KPlatformDirEntry>& entries);

// The wildcard rule used by the listing, for names already at hand.
bool KPlatformWildcardMatch(const char* pattern, const char* name);
