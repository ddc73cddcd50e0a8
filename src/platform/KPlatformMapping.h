#pragma once
// A range of an open file seen as memory, so that a reader parses the file's bytes where the
// system keeps them instead of copying them into fresh memory.

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "platform/KPlatformStdio.h"

// The mapping is private: bytes written into it are copied for this process and never reach
// the file. A file cut short while mapped does not stop the process: the pages it no longer
// has read as zeros from then on, and LostPages tells; so do pages the file still holds that
// the system fails to read, and GetReadError tells those apart; a file rewritten in place (cut and
// written anew) shows new bytes, and FileChanged tells. (Files replaced by a new one, as this
// library writes them, leave the mapping as it was: it holds the old file.)
class KPlatformFileMapping {
public:
    KPlatformFileMapping() = default;
    ~KPlatformFileMapping() { Unmap(); }
    KPlatformFileMapping(const KPlatformFileMapping&) = delete;
    KPlatformFileMapping& operator=(const KPlatformFileMapping&) = delete;

    // Maps `size` bytes of the open stream's file from `offset`. False, with nothing mapped,
    // for an empty range, a stream that is no regular file, a file holding fewer bytes, or
    // when the system refuses.
    bool Map(FILE* file, uint64_t offset, uint64_t size);
    void Unmap();
    uint8_t* GetData() const { return mData; }
    uint64_t GetSize() const { return mSize; }
    // True once a page of the mapping was found missing from the file, or could not be read.
    bool LostPages() const;
    // EIO once a page the file still reached into could not be read (a failing disk, not a
    // cut); else 0.
    int GetReadError() const;
    // True when the file is not as it was mapped: a page was lost, or the system gives it
    // another size, modification time or record time (cut, grown, written in place or touched
    // since, even with its modification time set back). Asks the system each time.
    bool FileChanged() const;

private:
    void* mBase = nullptr;  // page-aligned start of the system's mapping
    size_t mLength = 0;
    uint8_t* mData = nullptr;
    uint64_t mSize = 0;
    int mSlot = -1;  // its entry among the ranges the fault handler knows
    // The file as it was mapped, through a descriptor of its own: the stream may close first.
    int mFile = -1;
    KPlatformFileStamp mStamp;
};
