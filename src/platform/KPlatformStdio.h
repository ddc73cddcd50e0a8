#pragma once
// Operating-system services on an open stdio stream.

#include <cstdint>
#include <cstdio>
#include <memory>

// Puts the null device on each of standard input, output and error that the process was started
// with closed: a file it opens would take that number, and what is printed would go into it.
// It is opened the wrong way round (output for reading), so that a use still fails.
void KPlatformHoldClosedStandardStreams();
// Writes out and closes standard output: 0 when all that was printed went out, else the
// system's error number (a full disk, a closed stream).
int KPlatformCloseStandardOutput();

// Why the file named could not be opened for reading: the system's error number (EISDIR for a
// folder) of this thread's last KPlatformOpenFile of that name that failed, else asked again
// (0 when it opens now).
int KPlatformReadOpenError(const char* path);
// True for an open error that says no file is at the name (none, or no name can hold one).
bool KPlatformNoFileThere(int error);

// Reads `count` bytes or up to the end: a read a signal interrupted, or one that would have
// blocked, is tried again. `error` takes the system's error number of a read that failed (0
// when the bytes ran out at the end).
size_t KPlatformReadStream(FILE* file, void* buffer, size_t count, int& error);
// Sets the size of the file behind an open stream; 0 on success.
int KPlatformTruncate(FILE* file, int64_t size);
// True when the open stream is a folder (which the C runtime here opens for reading).
bool KPlatformIsDirectoryStream(FILE* file);
// True when the open stream is a device, a pipe or a socket rather than a file or a folder.
bool KPlatformIsSpecialStream(FILE* file);
// True when the open stream can be positioned: a file or a device such as the null device,
// not a pipe, a socket or a terminal.
bool KPlatformIsSeekableStream(FILE* file);

// What the system tells of a file that changes with every write: its size, its modification
// time, and the time its record last changed, which no one can set back. The link count comes
// along: a file renamed over or deleted loses a link, which changes the record's time too,
// while its bytes stay as they were; then only a watch on the file's writes, taken with the
// stamp, tells a write apart (where the system offers one).
class KPlatformWriteWatch;
struct KPlatformFileStamp {
    int64_t size = -1;
    int64_t modifiedSeconds = 0;
    long modifiedNanoseconds = 0;
    int64_t changedSeconds = 0;
    long changedNanoseconds = 0;
    uint64_t links = 0;
    // Counts the writes to the file from the stamp on; null when the system cannot watch it.
    std::shared_ptr<KPlatformWriteWatch> watch;
    // True when `now` is the same file as this stamp unwritten: same size and modification
    // time, and the same record time; when the file lost or gained a link meanwhile, no write
    // seen by the watch (without a watch, the link change is taken for the record's change).
    bool StillMatches(const KPlatformFileStamp& now) const;
};
// The stamp of the file behind an open stream, or an open descriptor; false when the system
// cannot tell.
bool KPlatformGetFileStamp(FILE* file, KPlatformFileStamp& stamp);
bool KPlatformGetDescriptorStamp(int descriptor, KPlatformFileStamp& stamp);
