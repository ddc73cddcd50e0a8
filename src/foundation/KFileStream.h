#pragma once
// Byte stream over a disk file: the runtime's buffered file functions behind the
// interface that the memory stream and the QOV streams share. Names are UTF-8.

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>

class KFileStream {
public:
    KFileStream();
    // Discards what is still open (see Discard); allocates nothing.
    virtual ~KFileStream();
    KFileStream(const KFileStream&) = delete;
    KFileStream& operator=(const KFileStream&) = delete;

    // `mode` is a C runtime mode text ("rb", "r+b", "w+b", "w+t" ...). A "w" mode writes a
    // new file that replaces the named one when the stream is closed (or committed) without
    // a failed write; until then, when it fails, and when the stream ends still open, the old
    // file stays as it was. Missing folders are not created; a read-only file is not replaced.
    virtual bool Open(const char* name, const char* mode);
    // mode 0 "r", 1 "w", 2 "w+", 3 "a"; then "t" for text, else "b".
    virtual bool OpenMode(const char* name, int mode, bool text);
    // A file opened for writing replaces its target unless a write failed (then it is
    // dropped as by Discard).
    virtual void Close();
    // Close, telling whether a file opened for writing now stands in place of its target
    // (true for other files that closed cleanly).
    bool Commit();
    // Closes a file opened for writing without putting it in place: the target keeps what
    // it held. Other files are simply closed.
    void Discard();
    // Commit for two streams whose files belong together: both are put in place, or neither
    // (both new files dropped, both targets as they were; KLastReplaceProblem tells a pair
    // that is one file, or one that putting back left mixed). Both streams are closed after.
    static bool CommitTogether(KFileStream& first, KFileStream& second);
    virtual uint32_t Read(void* buffer, uint32_t count);
    virtual char* Gets(char* buffer, int size);
    virtual uint32_t ReadInt32(uint32_t* out, bool swap);
    virtual uint16_t ReadInt16(uint16_t* out, bool swap);
    virtual uint8_t ReadInt8(uint8_t* out);
    virtual uint32_t Write(const void* buffer, uint32_t count);
    // origin 0 start, 1 current, 2 end; any other origin counts as the start.
    // Returns 0 on success.
    virtual int Seek(int origin, int64_t offset);
    virtual int64_t Tell();
    // Hands the buffered bytes to the system; false when a write failed (a full disk shows
    // here rather than at close). Unlike a seek, it works on a pipe too.
    virtual bool Flush();
    // False for a stream that cannot go back to a byte it wrote: a pipe, a socket, a terminal.
    virtual bool CanSeek();
    virtual void SetPosition(int64_t offset);
    virtual bool IsOpen() const;
    virtual const char* GetFileName() const;
    virtual bool HasError();
    virtual void ClearError();
    virtual bool IsEof();
    // The system's error number for the first read of this file that failed (EIO for a
    // failing disk), 0 while none did: a read that failed is no end of the file.
    virtual int GetReadError() const;
    // Formats into a growable buffer, so no text is ever cut; returns the bytes written.
    int Printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
    virtual int VPrintf(const char* format, va_list args);
    // Sets the file's size; 0 on success, -1 when no file is open or it fails.
    virtual int Truncate(int64_t size);
    // The open file when it was opened for reading only (so that it can be mapped), null
    // otherwise: a file opened for writing or update, or a stream that is no disk file.
    FILE* GetReadOnlyFile() const;

protected:
    // Stores the name the last Open was given.
    void SetFileName(const char* name) { mName = name ? name : ""; }

private:
    struct Handle;
    Handle* mHandle;
    std::string mName;
};

// Why a file of that name cannot be created or replaced ("the folder /a does not exist",
// "the file is read-only" ...), the same words for every writer.
std::string KCreateFileProblem(const char* path);
// Whether a file written beside an output (an OBJ's material file, an AMC's skeleton file)
// may take `path`: never a device or a pipe, which the user did not name (a pipe without a
// reader would wait for one forever). One put there after this look is refused by an open made
// while a KPlatformRegularFileOnly of the name lives. KCreateFileProblem tells why not.
bool KCanWriteCompanion(const char* path);
// "Unable to create file <name>: " and the problem.
std::string KCreateFileError(const char* path);

// Why the last file written on this thread did not take its target's place, when the cause
// was other than room to write it (a full disk, a quota, a size limit): its new file was
// deleted meanwhile, a pair was one file, a pair is left mixed (and where the old file is), or
// what the system tells. Empty when it took its place, or lacked room.
std::string KLastReplaceProblem();

// After a pair put in place (CommitTogether): a line for each old file that stays under a
// hidden name that could not be removed, naming it; empty when none does.
std::string KLastReplaceLeftBehind();

// Deletes the file named in UTF-8; 0 on success, non-zero on failure.
int KRemoveFile(const char* path);

// True when the name is a device, a pipe or a socket: KFileStream refuses to read those.
bool KIsSpecialFile(const char* path);
// True when the name (links followed) is a folder.
bool KIsFolder(const char* path);
// "File not read: X: " and the system's words for `error`: a file that opened but whose
// reading failed.
std::string KReadFileError(const char* path, int error);
// Why a file named for reading could not be opened: "Cannot read "X": not a regular file" for a
// device, a pipe or a socket, else "File not opened: X: " and the system's cause ("it is a
// folder" for a folder).
std::string KOpenForReadError(const char* path);
