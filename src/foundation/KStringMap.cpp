#include "foundation/KStringMap.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <unordered_map>

#include "foundation/KLocale.h"

KStringMap::KStringMap(int /*growStep*/, bool caseSensitive) : mCaseSensitive(caseSensitive) {}

void KStringMap::SetCaseSensitive(bool caseSensitive) {
    if (caseSensitive != mCaseSensitive) mSorted = 0;
    mCaseSensitive = caseSensitive;
}

// Without case: ASCII lower case, as the keys of stored files were ordered.
int KStringMap::CompareKeys(const char* a, const char* b) const {
    return mCaseSensitive ? std::strcmp(a, b) : KStrCaseCmp(a, b);
}

int KStringMap::Add(const char* key, void* value) {
    if (mEntries.size() >= size_t(INT_MAX)) return -1;
    // A refused allocation throws: a map missing an entry would pass for a whole one.
    mEntries.push_back({key ? key : "", value, mNextSerial});
    ++mNextSerial;
    return GetCount();
}

void KStringMap::Sort() const {
    if (mSorted >= mEntries.size()) return;
    // Serials are unique, so the order is total and any sort gives the same one.
    auto less = [this](const Entry& a, const Entry& b) {
        int order = CompareKeys(a.key.c_str(), b.key.c_str());
        return order < 0 || (order == 0 && a.serial < b.serial);
    };
    const auto middle = mEntries.begin() + ptrdiff_t(mSorted);
    std::sort(middle, mEntries.end(), less);
    std::inplace_merge(mEntries.begin(), middle, mEntries.end(), less);
    mSorted = mEntries.size();
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
    mSorted = mEntries.size();
    return true;
}

bool KStringMap::Remove(const char* key) {
    int index = -1;
    Find(key, &index);
    return RemoveAt(index);
}

void KStringMap::ReplaceValues(const std::vector<std::pair<void*, void*>>& pairs) {
    if (pairs.empty() || mEntries.empty()) return;
    Sort();
    std::unordered_map<void*, size_t> pairOf;
    for (size_t p = pairs.size(); p-- > 0;) pairOf[pairs[p].first] = p;
    // In one pass: (pair, position) of every entry to renew, last position first.
    std::vector<std::pair<size_t, size_t>> renewed;
    for (size_t i = mEntries.size(); i-- > 0;) {
        auto found = pairOf.find(mEntries[i].value);
        if (found != pairOf.end()) renewed.emplace_back(found->second, i);
    }
    if (renewed.empty()) return;
    std::stable_sort(renewed.begin(), renewed.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    const uint64_t firstSerial = mNextSerial;
    for (const auto& [pair, at] : renewed) {
        mEntries[at].value = pairs[pair].second;
        mEntries[at].serial = mNextSerial++;
    }
    // The others keep their order; the renewed go after them, to be merged in by the next sort.
    const auto tail = std::stable_partition(mEntries.begin(), mEntries.end(), [&](const Entry& e) {
        return e.serial < firstSerial;
    });
    mSorted = size_t(tail - mEntries.begin());
}

void KStringMap::Clear() {
    std::vector<Entry>().swap(mEntries);
    mSorted = 0;
}
