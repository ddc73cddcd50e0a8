#pragma once
// Operating-system services on an open stdio stream.

#include <cstdint>
#include <cstdio>

// Sets the size of the file behind an open stream; 0 on success.
int KPlatformTruncate(FILE* file, int64_t size);
// True when the open stream is a folder (which the C runtime here opens for reading).
bool KPlatformIsDirectoryStream(FILE* file);
// True when the open stream is a device, a pipe or a socket rather than a file or a folder.
bool KPlatformIsSpecialStream(FILE* file);

// What the system tells of a file that changes with every write: its size, its modification
// time, and the time its record last changed, which no one can set back. The link count comes
// along: a file renamed over or deleted loses a link, which changes the record's time too,
// while its bytes stay as they were.
struct KPlatformFileStamp {
    int64_t size = -1;
    int64_t modifiedSeconds = 0;
    long modifiedNanoseconds = 0;
    int64_t changedSeconds = 0;
    long changedNanoseconds = 0;
    uint64_t links = 0;
    // True when `now` is the same file as this stamp unwritten: same size and modification
    // time, and the same record time unless the file lost or gained a link meanwhile.
    bool StillMatches(const KPlatformFileStamp& now) const {
        if (now.size != size || now.modifiedSeconds != modifiedSeconds ||
            now.modifiedNanoseconds != modifiedNanoseconds)
            return false;
        return now.links != links || (now.changedSeconds == changedSeconds &&
                                      now.changedNanoseconds == changedNanoseconds);
    }
};
// The stamp of the file behind an open stream, or an open descriptor; false when the system
// cannot tell.
bool KPlatformGetFileStamp(FILE* file, KPlatformFileStamp& stamp);
bool KPlatformGetDescriptorStamp(int descriptor, KPlatformFileStamp& stamp);
