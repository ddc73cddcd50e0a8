#include "foundation/KPointerMap.h"

#include <algorithm>
#include <climits>
#include <new>

KPointerMap::KPointerMap(int /*growStep*/) {}

int KPointerMap::Add(uintptr_t key, uintptr_t value) {
    if (mEntries.size() >= size_t(INT_MAX)) return -1;
    // A refused allocation throws: a map missing an entry would pass for a whole one.
    mEntries.push_back({key, value});
    mUnsorted = true;
    return 0;
}

void KPointerMap::Sort() const {
    if (!mUnsorted) return;
    std::stable_sort(mEntries.begin(), mEntries.end(),
                     [](const Entry& a, const Entry& b) { return a.key < b.key; });
    mUnsorted = false;
}

uintptr_t KPointerMap::Find(uintptr_t key, int* index) const {
    Sort();
    auto it = std::lower_bound(mEntries.begin(), mEntries.end(), key,
                               [](const Entry& e, uintptr_t k) { return e.key < k; });
    bool found = it != mEntries.end() && it->key == key;
    if (index) *index = found ? int(it - mEntries.begin()) : -1;
    return found ? it->value : 0;
}

uintptr_t KPointerMap::GetAt(int index, uintptr_t* key) const {
    if (index < 0 || index >= GetCount()) return 0;
    Sort();
    const Entry& e = mEntries[size_t(index)];
    if (key) *key = e.key;
    return e.value;
}

void KPointerMap::Clear() {
    std::vector<Entry>().swap(mEntries);
    mUnsorted = false;
}
