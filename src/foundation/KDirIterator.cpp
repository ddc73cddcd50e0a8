#include "foundation/KDirIterator.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "foundation/KPath.h"

namespace {

bool IsDotName(const std::string& name) {
    return name == "." || name == "..";
}

}  // namespace

bool KDirIterator::FindFirst(const char* path) {
    Close();
    if (!path) return false;
    std::string pattern = path;
    if (pattern.find('*') == std::string::npos) pattern += "/*.*";
    KString clean = KCleanFileName(pattern.c_str());
    unsigned previous = KPlatformSetErrorMode(1);
    mValid = KPlatformListDirectory(clean.Buffer(), mEntries);
    KPlatformSetErrorMode(previous);
    mIndex = 0;
    return mValid;
}

bool KDirIterator::FindNext() {
    if (!mValid) return false;
    if (mIndex + 1 >= mEntries.size()) return false;
    ++mIndex;
    return true;
}

bool KDirIterator::CreateAndFindFirst(const char* path) {
    if (path) KPlatformMakeDirectory(KCleanFileName(path).Buffer());
    return FindFirst(path);
}

void KDirIterator::Close() {
    mEntries.clear();
    mIndex = 0;
    mValid = false;
}

const char* KDirIterator::GetName() {
    mNameBuffer[0] = 0;
    if (mValid) {
        const std::string& name = mEntries[mIndex].name;
        size_t n = std::min(name.size(), sizeof(mNameBuffer) - 1);
        memcpy(mNameBuffer, name.data(), n);
        mNameBuffer[n] = 0;
    }
    return mNameBuffer;
}

const char* KDirIterator::GetExtension() {
    GetName();
    const char* dot = strrchr(mNameBuffer, '.');
    if (!dot) {
        mNameBuffer[0] = 0;
        return mNameBuffer;
    }
    memmove(mNameBuffer, dot + 1, strlen(dot + 1) + 1);
    return mNameBuffer;
}

bool KDirIterator::RemoveDirectory(const char* path) {
    if (!path) return false;
    KDirIterator it;
    if (!it.FindFirst((std::string(path) + "/*.*").c_str())) return false;
    do {
        // By name: the listing order of "." and ".." is not something to count on.
        std::string name = it.GetName();
        if (IsDotName(name)) continue;
        std::string file = std::string(path) + "/" + name;
        KPlatformSetNormalAttributes(file.c_str());
        KPlatformDeleteFile(file.c_str());
    } while (it.FindNext());
    it.Close();
    KPlatformSetNormalAttributes(path);
    return KPlatformRemoveDirectory(path);
}

bool KDirIterator::IsDirectoryEmpty(const char* path) {
    if (!path) return true;
    KDirIterator it;
    if (!it.FindFirst((std::string(path) + "/*.*").c_str())) return true;
    do {
        if (!IsDotName(it.GetName())) return false;
    } while (it.FindNext());
    return true;
}
