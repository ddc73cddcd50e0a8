#pragma once
// State of the 3DS toolkit: the table of open toolkit files, the current file and
// the error record. One context belongs to one 3DS reader or writer, so a failure
// on one file never spills into the next.

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/KPlatformFile.h"

enum ErrorCode3ds {
    NO_FTK_ERRORS = 0,
    ERR_NO_MEM = 1,
    ERR_INVALID_ARG = 2,
    ERR_INVALID_DATA = 3,
    ERR_INVALID_CHUNK = 4,
    ERR_INVALID_DATABASE = 5,
    ERR_WRONG_DATABASE = 6,
    ERR_UNFOUND_CHUNK = 7,
    ERR_WRONG_OBJECT = 8,
    ERR_NO_SUCH_FILE = 9,
    ERR_INIT_FAILED = 10,
    ERR_OPENING_FILE = 11,
    ERR_CLOSING_FILE = 12,
    ERR_READING_FILE = 13,
    ERR_CREATING_DATABASE = 14,
    ERR_READING_DATABASE = 15,
    ERR_WRITING_DATABASE = 16,
    ERR_WRITING_FILE = 17,
    ERR_STRING_TOO_LONG = 18,
    ERR_TOO_MANY_FILES = 19,
    ERR_PUT_FAILED = 21,  // failed step of PutMesh3ds; no message of its own
    N_ERRORS = 22,
};

const char* GetErrorMessage3ds(int code);

struct ErrorEntry3ds {
    int code = 0;
    const char* message = nullptr;
};

enum FileMode3ds : uint8_t { kFileRead3ds = 1, kFileWrite3ds = 2 };

constexpr int kMaxFiles3ds = 252;
constexpr uint8_t kNoSlot3ds = 255;
constexpr size_t kFileBufferSize3ds = 8192;
constexpr int kErrorStackSize3ds = 19;

struct File3ds {
    FILE* stream = nullptr;
    std::string name;
    uint8_t mode = 0;
    uint8_t slot = kNoSlot3ds;
    std::vector<char> buffer;  // private stream buffer
    bool temporary = false;    // moved aside; deleted when closed
    std::string originalName;  // of a file moved aside
    bool restore = false;      // the file written in its place failed: rename back on close
    // A file being written: a new file beside the named one, put in its place on close
    // unless `failed` (then dropped, the old file untouched).
    KPlatformReplaceFile replace;
    bool failed = false;
    ~File3ds();
};

struct Chunk3ds;

class Context3ds {
public:
    Context3ds();
    ~Context3ds();
    Context3ds(const Context3ds&) = delete;
    Context3ds& operator=(const Context3ds&) = delete;

    // Error record.
    bool ErrorPending() const { return mErrorPending; }
    const ErrorEntry3ds& ErrorAt(int index) const { return mStack[index]; }  // 0..19
    const ErrorEntry3ds& OverflowError() const { return mOverflow; }
    int ErrorCount() const;
    void Push(int code);
    void Clear();
    // The chunk being read, so that the first error can say where it was met.
    void NoteChunk(uint32_t tag, uint64_t position) {
        mChunkTag = tag;
        mChunkPosition = position;
        mChunkKnown = true;
    }
    // The chunk noted when the first pending error was recorded; false when none was.
    bool GetErrorChunk(uint32_t& tag, uint64_t& position) const {
        tag = mErrorTag;
        position = mErrorPosition;
        return mErrorKnown;
    }

    // Ordered insertion into long child lists (Chunk3ds.cpp): per parent and rank, the chunk
    // of that rank put there last. Valid while `orderEpoch` is the chunks' rank epoch.
    std::map<std::pair<const Chunk3ds*, int>, Chunk3ds*> orderHints;
    uint64_t orderEpoch = 0;

    // File table.
    std::vector<std::unique_ptr<File3ds>> slots;  // 252 entries once created
    int slotCount = 0;                            // high-water mark of used slots
    File3ds* current = nullptr;
    int currentSlot = 0;
    // Set with the error of a float read or written that is no file number (KIsFileNumber):
    // NaN, an infinity or a magnitude beyond kMaxFileNumber. Cleared with the errors.
    bool badNumber = false;
    // The system's error number for the first read of a file that failed (EIO for a failing
    // disk): no end of the file. Kept when the errors are cleared: a part of the file read
    // on without is no part that was not there.
    int readError = 0;

private:
    bool mErrorPending = false;
    ErrorEntry3ds mStack[kErrorStackSize3ds + 1];
    ErrorEntry3ds mOverflow;
    uint32_t mChunkTag = 0, mErrorTag = 0;
    uint64_t mChunkPosition = 0, mErrorPosition = 0;
    bool mChunkKnown = false, mErrorKnown = false;
};

// Records an error; code 0 is ignored.
void PushError3ds(Context3ds& ctx, int code);
// Forgets every recorded error (a reader or writer may call it when it opens its file).
void ClearErrors3ds(Context3ds& ctx);
// True when an error of that code is recorded.
bool HasError3ds(const Context3ds& ctx, int code);

File3ds* OpenFile3ds(Context3ds& ctx, const char* name, const char* mode);
void CloseFile3ds(Context3ds& ctx, File3ds* file);
void CloseAllFiles3ds(Context3ds& ctx);
void SetCurrentFile3ds(Context3ds& ctx, File3ds* file);
void SetCurrentFileByIndex3ds(Context3ds& ctx, int slot);
FILE* GetCurrentStream3ds(Context3ds& ctx);
int GetCurrentFileIndex3ds(Context3ds& ctx);
uint32_t CurrentFileTell3ds(Context3ds& ctx);
void CurrentFileSeek3ds(Context3ds& ctx, uint32_t position);
File3ds* GetFileByIndex3ds(Context3ds& ctx, int slot);
bool IsFileIndexValid3ds(Context3ds& ctx, int slot);
File3ds* FindFileByName3ds(Context3ds& ctx, const char* name);
// Size in bytes of the file in a slot; 0 when the slot holds no open file.
uint64_t GetFileSize3ds(Context3ds& ctx, int slot);

// Notes whether writing a file failed: an original it displaced is then renamed back when
// closed, not deleted. The last save decides.
void MarkWriteFailed3ds(Context3ds& ctx, File3ds* file, bool failed = true);
// Marks every file being written as failed: closing them then drops them, the old files kept.
void MarkAllWritesFailed3ds(Context3ds& ctx);

// Byte order: values travel between the file's little-endian bytes and memory.
void CopyValue4Bytes3ds(const uint8_t* source, uint32_t* target);
void CopyValue2Bytes3ds(const uint8_t* source, uint16_t* target);
