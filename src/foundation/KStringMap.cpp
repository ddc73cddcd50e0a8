#include "foundation/KStringMap.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

#include "foundation/KLocale.h"

KStringMap::KStringMap(int /*growStep*/, bool caseSensitive) : mCaseSensitive(caseSensitive) {}

void KStringMap::SetCaseSensitive(bool caseSensitive) {
    if (caseSensitive != mCaseSensitive) mUnsorted = true;
    mCaseSensitive = caseSensitive;
}

// Without case: ASCII lower case, as the keys of stored files were ordered.
int KStringMap::CompareKeys(const char* a, const char* b) const {
    return mCaseSensitive ? std::strcmp(a, b) : KStrCaseCmp(a, b);
}

int KStringMap::Add(const char* key, void* value) {
    if (mEntries.size() >= size_t(INT_MAX)) return -1;
    try {
        mEntries.push_back({key ? key : "", value, mNextSerial});
    } catch (const std::bad_alloc&) {
        return -1;
    }
    ++mNextSerial;
    mUnsorted = true;
    return GetCount();
}

void KStringMap::Sort() const {
    if (!mUnsorted) return;
    std::sort(mEntries.begin(), mEntries.end(), [this](const Entry& a, const Entry& b) {
        int order = CompareKeys(a.key.c_str(), b.key.c_str());
        return order < 0 || (order == 0 && a.serial < b.serial);
    });
    mUnsorted = false;
}

void* KStringMap::Find(const char* key, int* index) const {
    if (!key) key = "";
    Sort();
    auto it = std::lower_bound(
        mEntries.begin(), mEntries.end(), key,
        [this](const Entry& e, const char* k) { return CompareKeys(e.key.c_str(), k) < 0; });
    bool found = it != mEntries.end() && CompareKeys(it->key.c_str(), key) == 0;
    if (index) *index = found ? int(it - mEntries.begin()) : -1;
    return found ? it->value : nullptr;
}

void* KStringMap::GetAt(int index, const char** key) const {
    if (index < 0 || index >= GetCount()) return nullptr;
    Sort();
    const Entry& e = mEntries[size_t(index)];
    if (key) *key = e.key.c_str();
    return e.value;
}

void** KStringMap::GetValueAt(int index) {
    if (index < 0 || index >= GetCount()) return nullptr;
    Sort();
    return &mEntries[size_t(index)].value;
}

bool KStringMap::RemoveAt(int index) {
    if (index < 0 || index >= GetCount()) return false;
    Sort();
    mEntries.erase(mEntries.begin() + index);
    return true;
}

bool KStringMap::Remove(const char* key) {
    int index = -1;
    Find(key, &index);
    return RemoveAt(index);
}

void KStringMap::Clear() {
    std::vector<Entry>().swap(mEntries);
    mUnsorted = false;
}
