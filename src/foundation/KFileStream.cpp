#include "foundation/KFileStream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "foundation/KLocale.h"
#include "foundation/KQuotedText.h"
#include "platform/KPlatformFile.h"
#include "platform/KPlatformStdio.h"

namespace {

// An old file or a new one alike: the file system refuses them both.
constexpr const char* kReadOnlyFileSystem = "the file system is read-only";

uint32_t Swap32(uint32_t v) {
    return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

}  // namespace

struct KFileStream::Handle {
    FILE* file = nullptr;
    bool open = false;
    KPlatformReplaceFile replace;  // holds the file while it is written
    bool replacing = false;
    bool readOnly = false;
    int readError = 0;  // the first read that failed
    // Keeps why a read got fewer bytes than asked for, when that was no end of the file.
    void NoteRead(size_t got, size_t wanted) {
        if (got < wanted && readError == 0 && std::ferror(file)) readError = errno ? errno : EIO;
    }
    // Reads `count` bytes or up to the end, keeping why a read got fewer when that was no end
    // of the file.
    size_t ReadBytes(void* buffer, size_t count) {
        int error = 0;
        const size_t got = KPlatformReadStream(file, buffer, count, error);
        if (error != 0 && readError == 0) readError = error;
        return got;
    }
};

KFileStream::KFileStream() : mHandle(new Handle) {}

KFileStream::~KFileStream() {
    // Only Commit puts a new file in place: one left open here was not finished.
    Discard();
    delete mHandle;
}

bool KFileStream::Open(const char* name, const char* mode) {
    if (mHandle->open) Close();
    mHandle->readOnly = false;
    mHandle->readError = 0;
    SetFileName(name);
    if (!name || !mode) return false;
    if (mode[0] == 'w') {
        if (!mHandle->replace.Open(name, mode)) return false;
        mHandle->file = mHandle->replace.GetFile();
        mHandle->replacing = true;
        mHandle->open = true;
        return true;
    }
    // Only files are read: a device or a pipe may never end. The platform open refuses them
    // by name; the open stream is checked too, in case the name changed in between.
    const bool reading = mode[0] == 'r';
    mHandle->file = KPlatformOpenFile(name, mode);
    if (mHandle->file && (KPlatformIsDirectoryStream(mHandle->file) ||
                          (reading && KPlatformIsSpecialStream(mHandle->file)))) {
        // A folder is no file: its reads fail and its size is made up.
        std::fclose(mHandle->file);
        mHandle->file = nullptr;
    }
    mHandle->open = mHandle->file != nullptr;
    mHandle->readOnly = mHandle->open && reading && std::strchr(mode, '+') == nullptr;
    return mHandle->open;
}

FILE* KFileStream::GetReadOnlyFile() const {
    return mHandle->open && mHandle->readOnly ? mHandle->file : nullptr;
}

bool KFileStream::OpenMode(const char* name, int mode, bool text) {
    static const char* const kModes[] = {"r", "w", "w+", "a"};
    if (mode < 0 || mode > 3) return false;
    std::string modeText = kModes[mode];
    modeText += text ? "t" : "b";  // the C runtime here accepts and ignores "t"
    return Open(name, modeText.c_str());
}

void KFileStream::Close() {
    Commit();
}

bool KFileStream::Commit() {
    if (!mHandle->open) return false;
    // Closed before the commit, which may throw (out of memory) and then drops the new file.
    FILE* file = mHandle->file;
    const bool replacing = mHandle->replacing;
    mHandle->file = nullptr;
    mHandle->open = false;
    mHandle->replacing = false;
    return replacing ? mHandle->replace.Commit() : std::fclose(file) == 0;
}

bool KFileStream::CommitTogether(KFileStream& first, KFileStream& second) {
    Handle& a = *first.mHandle;
    Handle& b = *second.mHandle;
    if (!a.open || !b.open || !a.replacing || !b.replacing) {
        // Only new files wait for each other; anything else closes as it would alone.
        const bool ok = first.Commit();
        return second.Commit() && ok;
    }
    for (Handle* h : {&a, &b}) {
        h->file = nullptr;
        h->open = false;
        h->replacing = false;
    }
    KPlatformReplaceFile* files[] = {&a.replace, &b.replace};
    return KPlatformReplaceFile::CommitTogether(files, 2);
}

void KFileStream::Discard() {
    if (!mHandle->open) return;
    if (mHandle->replacing)
        mHandle->replace.Abandon();
    else
        std::fclose(mHandle->file);
    mHandle->file = nullptr;
    mHandle->open = false;
    mHandle->replacing = false;
}

uint32_t KFileStream::Read(void* buffer, uint32_t count) {
    if (!mHandle->open || !buffer) return 0;
    return static_cast<uint32_t>(mHandle->ReadBytes(buffer, count));
}

char* KFileStream::Gets(char* buffer, int size) {
    if (!mHandle->open || !buffer || size <= 0) return nullptr;
    errno = 0;
    char* line = std::fgets(buffer, size, mHandle->file);
    if (!line) mHandle->NoteRead(0, 1);
    return line;
}

uint32_t KFileStream::ReadInt32(uint32_t* out, bool swap) {
    if (!mHandle->open || !out) return 0;
    uint32_t value = 0;
    mHandle->ReadBytes(&value, 4);
    if (swap) value = Swap32(value);
    *out = value;
    return value;
}

uint16_t KFileStream::ReadInt16(uint16_t* out, bool swap) {
    if (!mHandle->open || !out) return 0;
    uint16_t value = 0;
    mHandle->ReadBytes(&value, 2);
    if (swap) value = static_cast<uint16_t>((value >> 8) | (value << 8));
    *out = value;
    return value;
}

uint8_t KFileStream::ReadInt8(uint8_t* out) {
    if (!mHandle->open || !out) return 0;
    uint8_t value = 0;
    mHandle->ReadBytes(&value, 1);
    *out = value;
    return value;
}

uint32_t KFileStream::Write(const void* buffer, uint32_t count) {
    if (!mHandle->open || !buffer) return 0;
    // A new file keeps why a write failed, for the message of the write that fails.
    if (mHandle->replacing) return static_cast<uint32_t>(mHandle->replace.Write(buffer, count));
    return static_cast<uint32_t>(std::fwrite(buffer, 1, count, mHandle->file));
}

int KFileStream::Seek(int origin, int64_t offset) {
    if (!mHandle->open) return 0;
    int whence = origin == 1 ? SEEK_CUR : origin == 2 ? SEEK_END : SEEK_SET;
    const int result = fseeko(mHandle->file, static_cast<off_t>(offset), whence);
    // A seek writes out what waits in the buffer first; that write failing sets the stream's
    // error (a pipe's refused seek does not).
    if (result != 0 && mHandle->replacing && std::ferror(mHandle->file))
        mHandle->replace.NoteWriteError();
    return result;
}

int64_t KFileStream::Tell() {
    if (!mHandle->open) return 0;
    return static_cast<int64_t>(ftello(mHandle->file));
}

bool KFileStream::Flush() {
    if (!mHandle->open) return false;
    const bool flushed = std::fflush(mHandle->file) == 0;
    if (!flushed && mHandle->replacing) mHandle->replace.NoteWriteError();
    return flushed && !HasError();
}

bool KFileStream::CanSeek() {
    return mHandle->open && KPlatformIsSeekableStream(mHandle->file);
}

void KFileStream::SetPosition(int64_t offset) {
    Seek(0, offset);
}

bool KFileStream::IsOpen() const {
    return mHandle->open;
}

const char* KFileStream::GetFileName() const {
    return mName.c_str();
}

bool KFileStream::HasError() {
    return mHandle->open && (std::ferror(mHandle->file) != 0 ||
                             (mHandle->replacing && mHandle->replace.WriteFailed()));
}

void KFileStream::ClearError() {
    if (mHandle->open) std::clearerr(mHandle->file);
}

int KFileStream::GetReadError() const {
    return mHandle->open ? mHandle->readError : 0;
}

bool KFileStream::IsEof() {
    return mHandle->open && std::feof(mHandle->file) != 0;
}

int KFileStream::Printf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    int written = VPrintf(format, args);
    va_end(args);
    return written;
}

int KFileStream::VPrintf(const char* format, va_list args) {
    if (!mHandle->open || !format) return 0;
    std::string text = KVFormatC(format, args);
    return static_cast<int>(KFileStream::Write(text.data(), static_cast<uint32_t>(text.size())));
}

int KFileStream::Truncate(int64_t size) {
    if (!mHandle->open) return -1;
    return KPlatformTruncate(mHandle->file, size);
}

std::string KCreateFileProblem(const char* path) {
    switch (KPlatformCheckReplace(path)) {
        case KPlatformReplaceProblem::eMissingFolder: {
            const std::string target = KPlatformResolveLinks(path);
            const size_t slash = target.find_last_of('/');
            const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash);
            return "the folder " + KQovMessageText(folder) + " does not exist";
        }
        case KPlatformReplaceProblem::eFolder:
            return "it is a folder";
        case KPlatformReplaceProblem::eReadOnly:
            return "the file is read-only";
        case KPlatformReplaceProblem::eLinkLoop:
            return "its links never end in a file name";
        case KPlatformReplaceProblem::eNoName:
            return "no file name";
        case KPlatformReplaceProblem::eNameTooLong:
            return "the name is too long";
        case KPlatformReplaceProblem::eReadOnlyFileSystem:
            return kReadOnlyFileSystem;
        default:
            break;
    }
    // What the system told when the file was begun: a refusal of the folder says so, any
    // other cause (too many open files, a read-only file system, a full disk) in its words.
    const int error = KPlatformLastCreateError(path);
    // Not begun at all: a file written beside the output is never a device or a pipe.
    if ((error == 0 && KIsSpecialFile(path)) || error == ENXIO) return "it is not a regular file";
    if (error == ENAMETOOLONG) return "the name is too long";
    if (error == ETXTBSY) return "it leads to a file the read used";
    if (error == EROFS) return kReadOnlyFileSystem;
    if (error == 0 || error == EACCES || error == EPERM || error == EEXIST)
        return "the folder does not accept new files";
    std::string text = KPlatformErrorText(error);
    if (!text.empty()) text[0] = KToLower(text[0]);
    return text;
}

std::string KCreateFileError(const char* path) {
    return "Unable to create file " + KQovMessageText(path) + ": " + KCreateFileProblem(path);
}

bool KCanWriteCompanion(const char* path) {
    return path && !KIsSpecialFile(path);
}

bool KIsSpecialFile(const char* path) {
    return KPlatformIsSpecialFile(path);
}

bool KIsFolder(const char* path) {
    return KPlatformIsDirectory(path);
}

std::string KReadFileError(const char* path, int error) {
    return "File not read: " + KQovMessageText(path) + ": " + KPlatformErrorText(error ? error : EIO);
}

std::string KOpenForReadError(const char* path) {
    const std::string name = KQovMessageText(path);
    if (path && KIsSpecialFile(path)) return "Cannot read \"" + name + "\": not a regular file";
    const int error = KPlatformReadOpenError(path);
    if (error == EISDIR) return "File not opened: " + name + ": it is a folder";
    if (error == 0) return "File not opened: " + name;
    return "File not opened: " + name + ": " + KPlatformErrorText(error);
}

// What a failed pair left that another program saved meanwhile: those files stay as saved.
static std::string SavedMeanwhile(const KPlatformReplaceFailure& failure) {
    std::string text;
    for (const auto& [target, kept] : failure.saved)
        text += "; " + KQovMessageText(target) +
                " was saved by another program meanwhile and is left as it is" +
                (kept.empty() ? std::string() : ", its old file kept as " + KQovMessageText(kept));
    // Not known to be another program's: the system's own cause.
    for (const KPlatformReplaceFailure::Left& unseen : failure.unseen)
        text += "; " + KQovMessageText(unseen.target) + " could not be looked at (" +
                KPlatformErrorText(unseen.error) + ") and is left as it is" +
                (unseen.hidden.empty() ? std::string()
                                       : ", its old file kept as " + KQovMessageText(unseen.hidden));
    return text;
}

// Why a new file did not take its place, in the system's words but for a file deleted.
static std::string ReplaceErrorText(int error) {
    return error == ENOENT ? "the new file was deleted before it could take the old file's place"
                           : KPlatformErrorText(error);
}

// Second names of old files that a failed set could not remove, each named.
static std::string LeftOfFailure(const KPlatformReplaceFailure& failure) {
    std::string text;
    for (const KPlatformReplaceFailure::Left& left : failure.left)
        text += "; the old " + KQovMessageText(left.target) + " is also named " +
                KQovMessageText(left.hidden) + ", which could not be removed (" +
                KPlatformErrorText(left.error) + ")";
    return text;
}

// Why the last set failed, without the names it could not remove.
static std::string ProblemAlone() {
    const KPlatformReplaceFailure& failure = KPlatformLastReplaceFailure();
    // The pair's first file was put in place and then saved over: no new file of the pair is
    // in place.
    if ((!failure.saved.empty() || !failure.unseen.empty()) && failure.mixed.empty())
        return ReplaceErrorText(KPlatformLastReplaceError()) + SavedMeanwhile(failure);
    if (!failure.mixed.empty()) {
        const auto gone = [&](const std::string& target) {
            return std::find(failure.gone.begin(), failure.gone.end(), target) !=
                   failure.gone.end();
        };
        // Mixed only when a new file is in place; else an old file is merely missing.
        std::string text = failure.gone.size() == failure.mixed.size()
                               ? "no new file is in place, but an old file could not be put back"
                               : "the pair is mixed, new and old";
        for (const auto& [target, kept] : failure.mixed) {
            const std::string shown = KQovMessageText(target);
            text += kept.empty()   ? "; " + shown + " is new where there was no file"
                    : gone(target) ? "; " + shown + " is missing, its old file kept as " +
                                         KQovMessageText(kept)
                                   : "; the old " + shown + " is kept as " + KQovMessageText(kept);
        }
        return text + SavedMeanwhile(failure);
    }
    if (failure.oneFile) return "the pair's two names are one file; neither was replaced";
    const int error = KPlatformLastReplaceError();
    switch (error) {
        case 0:
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return "";
        default:
            return ReplaceErrorText(error);
    }
}

std::string KLastReplaceProblem() {
    const KPlatformReplaceFailure& failure = KPlatformLastReplaceFailure();
    const std::string problem = ProblemAlone();
    // A set in place leaves its names for KLastReplaceLeftBehind.
    const std::string left = KPlatformLastReplaceError() != 0 ? LeftOfFailure(failure) : "";
    if (left.empty()) return problem;
    return (problem.empty() ? KPlatformErrorText(KPlatformLastReplaceError()) : problem) + left;
}

std::string KLastReplaceLeftBehind() {
    std::string text;
    for (const KPlatformReplaceFailure::Left& left : KPlatformLastReplaceFailure().left)
        text += "The old " + KQovMessageText(left.target) + " is left as " +
                KQovMessageText(left.hidden) + ", which could not be removed (" +
                // Not where it was made: the folder was moved or renamed meanwhile.
                (left.error == ENOENT ? std::string("its folder was moved")
                                      : KPlatformErrorText(left.error)) +
                ")\n";
    return text;
}

int KRemoveFile(const char* path) {
    if (!path) return -1;
    return KPlatformDeleteFile(path);
}
