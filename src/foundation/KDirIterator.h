#pragma once
// Folder listing. FindFirst takes a folder (every entry is listed) or a path ending in a
// wildcard ("dir/*.txt"); "." and ".." come first when listed.

#include <cstddef>
#include <vector>

#include "platform/KPlatformFile.h"

class KDirIterator {
public:
    KDirIterator() = default;
    ~KDirIterator() { Close(); }
    KDirIterator(const KDirIterator&) = delete;
    KDirIterator& operator=(const KDirIterator&) = delete;

    bool FindFirst(const char* path);
    bool FindNext();
    // Makes the folder (one level, result ignored), then lists it.
    bool CreateAndFindFirst(const char* path);
    void Close();
    bool IsValid() const { return mValid; }

    // The current entry's name, or the text after its last '.' (empty when there is none).
    const char* GetName();
    const char* GetExtension();
    bool IsDirectory() const { return mValid && mEntries[mIndex].isDirectory; }

    // Deletes every file of the folder, then the folder; not recursive, so a sub folder makes
    // the final removal fail. False when the folder cannot be listed or removed.
    static bool RemoveDirectory(const char* path);
    // True when the folder holds nothing but "." and "..", or cannot be listed.
    static bool IsDirectoryEmpty(const char* path);

private:
    std::vector<KPlatformDirEntry> mEntries;
    size_t mIndex = 0;
    char mNameBuffer[1024] = {0};
    bool mValid = false;
};
