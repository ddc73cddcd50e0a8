#include "formats/geometry/3ds/Context3ds.h"

#include <cstring>

#include "foundation/KBinaryReader.h"
#include "foundation/KPath.h"
#include "platform/KPlatformFile.h"
#include "platform/KPlatformStdio.h"

namespace {

const char* const kMessages[] = {
    "NO_FTK_ERRORS: No errors are pending",
    "ERR_NO_MEM: Not enough memory to complete operation",
    "ERR_INVALID_ARG: The argument passed to the function is invalid.  Usually caused by a NULL "
    "pointer or an out of range numeric argument.",
    "ERR_INVALID_DATA: The structure passed as an argument to the function has invalid or out of "
    "range data in its fields.",
    "ERR_INVALID_CHUNK: An invalid chunk structure was encountered while reading the database. "
    "Usually caused by a corrupt database or file",
    "ERR_INVALID_DATABASE: The database passed as an argument has not be created yet.",
    "ERR_WRONG_DATABASE: The database passed as an argument is the wrong kind of database for this "
    "function.",
    "ERR_UNFOUND_CHUNK: The database is missing important file chunks needed to fill out the "
    "requested structure.  Usually caused by a corrupt database or file",
    "ERR_WRONG_OBJECT: The name passed to the functions exists, but is not the type of object "
    "asked for.  For example, asking for a mesh object with the GetCameraByName3ds function.",
    "ERR_NO_SUCH_FILE: The filename passed as an argument for reading does not exist",
    "ERR_INIT_FAILED: Failed to initialize structure passed as an argument",
    "ERR_OPENING_FILE: Could not open requested file",
    "ERR_CLOSING_FILE: Could not close requested file",
    "ERR_READING_FILE: Error occurred while reading file",
    "ERR_CREATING_DATABASE: Error occurred while creating database",
    "ERR_READING_DATABASE: Error occurred while reading database",
    "ERR_WRITING_DATABASE: Error occurred while writing database",
    "ERR_WRITING_FILE: Error occurred while writing file",
    "ERR_STRING_TOO_LONG: String encountered in file, structure, or as an argument was longer than "
    "expected.  Possibly caused by an uninitialed pointer, corrupt file or database",
    "ERR_TOO_MANY_FILES: The toolkit has reached its maximum open file limit of 252 files.",
};
const char kNErrors[] = "N_ERRORS: More errors were reported then could be recorded.";
const char kUnknown[] = "Unknown error code was encountered";

// Folder part of a name: everything up to and including its last '/', or the drive of
// "C:name" (a ':' elsewhere belongs to a name).
std::string FolderPart(const std::string& name) {
    size_t cut = name.rfind('/');
    if (cut == std::string::npos && !KGetPathRoot(name.c_str()).IsEmpty()) cut = 1;
    return cut == std::string::npos ? std::string() : name.substr(0, cut + 1);
}

// A new name in the same folder, made exclusively, for a file moved aside; empty on failure.
std::string MakeAsideName(const std::string& folder) {
    std::string dir = folder;
    if (!dir.empty() && dir.back() != ':') dir.pop_back();  // drop the trailing separator
    if (dir.empty()) dir = folder.empty() ? "." : folder;
    return KPlatformCreateTempFile(dir.c_str(), "ftk");
}

void GiveBuffer(File3ds* file) {
    if (file->stream && !file->buffer.empty())
        setvbuf(file->stream, file->buffer.data(), _IOFBF, file->buffer.size());
}

// Puts a new record into the first free slot, creating the table on first use.
bool RegisterFile3ds(Context3ds& ctx, std::unique_ptr<File3ds>& record) {
    if (ctx.slots.empty()) ctx.slots.resize(kMaxFiles3ds);
    int slot = 0;
    while (slot < ctx.slotCount && ctx.slots[slot]) ++slot;
    if (slot >= kMaxFiles3ds) {
        PushError3ds(ctx, ERR_TOO_MANY_FILES);
        return false;
    }
    if (slot == ctx.slotCount) ++ctx.slotCount;
    record->slot = uint8_t(slot);
    ctx.slots[slot] = std::move(record);
    return true;
}

// Frees a record's slot and returns the record to the caller.
std::unique_ptr<File3ds> Unregister(Context3ds& ctx, File3ds* file) {
    std::unique_ptr<File3ds> owned;
    if (file->slot != kNoSlot3ds && file->slot < ctx.slots.size() &&
        ctx.slots[file->slot].get() == file) {
        owned = std::move(ctx.slots[file->slot]);
        if (ctx.current == file) ctx.current = nullptr;
    }
    file->slot = kNoSlot3ds;
    return owned;
}

// Renames a file that is still being read so a new file of its name can be written.
// The record keeps its slot, so chunks not yet read still find their bytes.
bool MoveFileAside3ds(Context3ds& ctx, File3ds* file) {
    long position = file->stream ? ftell(file->stream) : 0;
    if (file->stream && fclose(file->stream) != 0) {
        file->stream = nullptr;
        PushError3ds(ctx, ERR_CLOSING_FILE);
        return false;
    }
    file->stream = nullptr;
    std::string aside = MakeAsideName(FolderPart(file->name));
    if (aside.empty() || !KPlatformRenameFile(file->name.c_str(), aside.c_str())) {
        if (!aside.empty()) KPlatformDeleteFile(aside.c_str());
        PushError3ds(ctx, ERR_OPENING_FILE);
        return false;
    }
    file->temporary = true;
    file->originalName = file->name;
    file->name = aside;
    file->stream = KPlatformOpenFile(file->name.c_str(), "rb");
    if (!file->stream) {
        PushError3ds(ctx, ERR_OPENING_FILE);
        return false;
    }
    GiveBuffer(file);
    fseek(file->stream, position, SEEK_SET);
    return true;
}

// Puts a moved-aside original back under its name at once, keeping it open for reading.
void RestoreMovedAside(Context3ds& ctx, const char* name) {
    for (int i = 0; i < ctx.slotCount; ++i) {
        File3ds* file = ctx.slots[i].get();
        if (!file || !file->temporary || file->originalName != name) continue;
        long position = file->stream ? ftell(file->stream) : 0;
        if (file->stream) fclose(file->stream);
        file->stream = nullptr;
        if (KPlatformRenameFile(file->name.c_str(), name)) {
            file->name = name;
            file->temporary = false;
            file->originalName.clear();
        } else {
            file->restore = true;  // never deleted: tried again when it is closed
        }
        file->stream = KPlatformOpenFile(file->name.c_str(), "rb");
        if (file->stream) {
            GiveBuffer(file);
            fseek(file->stream, position, SEEK_SET);
        }
    }
}

}  // namespace

void MarkWriteFailed3ds(Context3ds& ctx, File3ds* file, bool failed) {
    if (!file) return;
    if (file->mode == kFileWrite3ds) file->failed = failed;
    for (int i = 0; i < ctx.slotCount; ++i) {
        File3ds* aside = ctx.slots[i].get();
        if (aside && aside->temporary && aside->originalName == file->name) aside->restore = failed;
    }
}

void MarkAllWritesFailed3ds(Context3ds& ctx) {
    for (int i = 0; i < ctx.slotCount; ++i)
        if (File3ds* file = ctx.slots[i].get()) MarkWriteFailed3ds(ctx, file, true);
}

File3ds::~File3ds() {
    // A file being written belongs to its replacement, which drops it unless committed.
    if (stream && stream != replace.GetFile()) fclose(stream);
}

const char* GetErrorMessage3ds(int code) {
    if (code >= 0 && code < int(sizeof(kMessages) / sizeof(kMessages[0]))) return kMessages[code];
    if (code == N_ERRORS) return kNErrors;
    return kUnknown;
}

Context3ds::Context3ds() = default;

Context3ds::~Context3ds() {
    // A file still being written was not finished: dropped, the old one kept.
    MarkAllWritesFailed3ds(*this);
    for (auto& slot : slots) {
        if (slot) CloseFile3ds(*this, slot.get());
    }
}

int Context3ds::ErrorCount() const {
    int n = 0;
    while (n < kErrorStackSize3ds && mStack[n].code != 0) ++n;
    return n;
}

void Context3ds::Push(int code) {
    if (code == 0) return;
    if (!mErrorPending) {
        mErrorTag = mChunkTag;
        mErrorPosition = mChunkPosition;
        mErrorKnown = mChunkKnown;
    }
    mErrorPending = true;
    for (int i = 0; i < kErrorStackSize3ds; ++i) {
        if (mStack[i].code == 0) {
            mStack[i] = {code, GetErrorMessage3ds(code)};
            mStack[i + 1] = {};
            return;
        }
    }
    if (mOverflow.code == 0)
        mOverflow = {code, GetErrorMessage3ds(code)};
    else
        mOverflow = {N_ERRORS, kNErrors};
}

void Context3ds::Clear() {
    mErrorPending = false;
    badNumber = false;
    mErrorKnown = mChunkKnown = false;
    for (auto& entry : mStack) entry = {};
    mOverflow = {};
}

void PushError3ds(Context3ds& ctx, int code) {
    ctx.Push(code);
}
void ClearErrors3ds(Context3ds& ctx) {
    ctx.Clear();
}

bool HasError3ds(const Context3ds& ctx, int code) {
    for (int i = 0; i < ctx.ErrorCount(); ++i)
        if (ctx.ErrorAt(i).code == code) return true;
    return false;
}

File3ds* FindFileByName3ds(Context3ds& ctx, const char* name) {
    if (!name) return nullptr;
    for (int i = 0; i < ctx.slotCount; ++i) {
        File3ds* file = ctx.slots[i].get();
        if (file && file->name == name) return file;
    }
    return nullptr;
}

File3ds* OpenFile3ds(Context3ds& ctx, const char* name, const char* text) {
    if (!name || !text) {
        PushError3ds(ctx, ERR_INVALID_ARG);
        return nullptr;
    }
    File3ds* existing = FindFileByName3ds(ctx, name);
    std::unique_ptr<File3ds> record(new (std::nothrow) File3ds);
    if (!record) PushError3ds(ctx, ERR_NO_MEM);
    if (ctx.ErrorPending()) {
        PushError3ds(ctx, ERR_INIT_FAILED);
        return nullptr;
    }
    uint8_t mode = 0;
    for (int i = 0; i < 30 && text[i] && mode == 0; ++i) {
        if (text[i] == 'r') mode = kFileRead3ds;
        if (text[i] == 'w') mode = kFileWrite3ds;
    }
    if (mode == 0) {
        PushError3ds(ctx, ERR_INIT_FAILED);
        return nullptr;
    }
    // The same name in the same mode is the file already open; it takes no slot.
    if (existing && existing->mode == mode) return existing;
    File3ds* file = record.get();
    if (!RegisterFile3ds(ctx, record)) return nullptr;
    file->name = name;
    file->mode = mode;
    if (existing) {
        if (existing->mode == kFileRead3ds) {
            if (!MoveFileAside3ds(ctx, existing)) {
                Unregister(ctx, file);
                return nullptr;
            }
        } else {
            CloseFile3ds(ctx, existing);
        }
    }
    if (file->mode == kFileRead3ds) {
        file->stream = KPlatformOpenFile(name, "rb");
        // A folder opens for reading here, but its reads fail: it is not opened.
        if (file->stream && KPlatformIsDirectoryStream(file->stream)) {
            std::fclose(file->stream);
            file->stream = nullptr;
        }
    } else if (file->replace.Open(name, "wb"))
        file->stream = file->replace.GetFile();
    if (!file->stream) {
        Unregister(ctx, file);
        RestoreMovedAside(ctx, name);
        PushError3ds(ctx, ERR_OPENING_FILE);
        return nullptr;
    }
    file->buffer.resize(kFileBufferSize3ds);
    GiveBuffer(file);
    return file;
}

void CloseFile3ds(Context3ds& ctx, File3ds* file) {
    if (!file) return;
    bool failed = false;
    if (file->stream && file->stream == file->replace.GetFile()) {
        // The replacement closes the stream, even when its commit throws: this file, closed
        // again as the context goes, must not close it a second time.
        const bool broken = file->failed || ferror(file->stream) || file->replace.WriteFailed();
        file->stream = nullptr;
        // Put in place only when whole; a failed one leaves the old file as it was.
        if (broken) {
            file->replace.Abandon();
            failed = !file->failed;
        } else {
            failed = !file->replace.Commit();
        }
        for (int i = 0; i < ctx.slotCount; ++i) {
            File3ds* aside = ctx.slots[i].get();
            if (failed && aside && aside->temporary && aside->originalName == file->name)
                aside->restore = true;
        }
    } else if (file->stream) {
        failed = fclose(file->stream) != 0;
        file->stream = nullptr;
        if (file->temporary && file->restore) {
            // The file written in its place failed: the original comes back.
            if (!KPlatformRenameFile(file->name.c_str(), file->originalName.c_str())) failed = true;
        } else if (file->temporary) {
            KPlatformDeleteFile(file->name.c_str());
        }
    }
    std::unique_ptr<File3ds> owned = Unregister(ctx, file);
    owned.reset();
    if (failed) PushError3ds(ctx, ERR_CLOSING_FILE);
}

void CloseAllFiles3ds(Context3ds& ctx) {
    for (int i = 0; i < ctx.slotCount; ++i) {
        if (ctx.slots[i]) CloseFile3ds(ctx, ctx.slots[i].get());
    }
    ctx.slots.clear();
    ctx.slotCount = 0;
    ctx.current = nullptr;
    ctx.currentSlot = 0;
}

void SetCurrentFile3ds(Context3ds& ctx, File3ds* file) {
    ctx.current = file;
    ctx.currentSlot = file ? file->slot : 0;
}

void SetCurrentFileByIndex3ds(Context3ds& ctx, int slot) {
    SetCurrentFile3ds(ctx, GetFileByIndex3ds(ctx, slot));
}

FILE* GetCurrentStream3ds(Context3ds& ctx) {
    return ctx.current ? ctx.current->stream : nullptr;
}
int GetCurrentFileIndex3ds(Context3ds& ctx) {
    return ctx.currentSlot;
}

uint32_t CurrentFileTell3ds(Context3ds& ctx) {
    FILE* stream = GetCurrentStream3ds(ctx);
    long at = stream ? ftell(stream) : -1;
    return at < 0 ? 0 : uint32_t(at);
}

void CurrentFileSeek3ds(Context3ds& ctx, uint32_t position) {
    FILE* stream = GetCurrentStream3ds(ctx);
    // A seek writes out what waits in the buffer first; that write failing sets the stream's
    // error (a pipe's refused seek does not).
    if (stream && fseek(stream, long(position), SEEK_SET) != 0 && ferror(stream) &&
        stream == ctx.current->replace.GetFile())
        ctx.current->replace.NoteWriteError();
}

File3ds* GetFileByIndex3ds(Context3ds& ctx, int slot) {
    if (slot < 0 || slot >= ctx.slotCount) return nullptr;
    return ctx.slots[slot].get();
}

bool IsFileIndexValid3ds(Context3ds& ctx, int slot) {
    return slot >= 0 && slot <= 254 && slot < ctx.slotCount && ctx.slots[slot];
}

uint64_t GetFileSize3ds(Context3ds& ctx, int slot) {
    File3ds* file = GetFileByIndex3ds(ctx, slot);
    if (!file || !file->stream) return 0;
    long at = ftell(file->stream);
    if (fseek(file->stream, 0, SEEK_END) != 0) return 0;
    long size = ftell(file->stream);
    fseek(file->stream, at, SEEK_SET);
    return size < 0 ? 0 : uint64_t(size);
}

void CopyValue4Bytes3ds(const uint8_t* source, uint32_t* target) {
    *target = KLoadU32(source, KByteOrder::eLittle);
}

void CopyValue2Bytes3ds(const uint8_t* source, uint16_t* target) {
    *target = KLoadU16(source, KByteOrder::eLittle);
}
