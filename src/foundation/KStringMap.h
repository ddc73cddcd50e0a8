#pragma once
// Sorted map from text keys (copied) to pointer values.
//
// Adding is constant time and keeps duplicates; the entries are sorted on the first lookup or
// positional access after a change (entries added since the last sort are sorted among
// themselves and merged in, so adding a few to a large map does not sort it all again). Equal
// keys stay in the order they were added and lookups find the lowest position of a key, so
// among equal keys the one added first is found. Keys compare without regard to ASCII case by
// default, or byte for byte. A null key reads as "".

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class KStringMap {
public:
    // Growth is geometric inside; the grow step is accepted for the callers' sake.
    explicit KStringMap(int growStep = 20, bool caseSensitive = false);

    bool IsCaseSensitive() const { return mCaseSensitive; }
    void SetCaseSensitive(bool caseSensitive);

    // Appends {copy of key, value} without looking for the key; the new count, or -1 when the
    // map holds as many entries as it can count. A heap that refuses throws std::bad_alloc.
    int Add(const char* key, void* value);
    // The value of the first entry added with the key, and its index in key order; null and -1
    // when absent.
    void* Find(const char* key, int* index = nullptr) const;
    // The value (and key) at a position in key order; null (key untouched) out of range. The key
    // text stays valid until the map changes.
    void* GetAt(int index, const char** key = nullptr) const;
    // Address of the value at a position in key order; null out of range.
    void** GetValueAt(int index);
    // Removes the entry at a position in key order; false out of range.
    bool RemoveAt(int index);
    // Removes the entry Find gives; false when absent.
    bool Remove(const char* key);
    // For each pair in turn, every entry holding `first` holds `second` instead and counts as
    // added at that moment (after the entries of an equal key), as RemoveAt and Add of its key
    // would make it; one pair's entries are renewed from the last position to the first. A
    // value is replaced once: a `second` listed as a later `first` is left as it is.
    void ReplaceValues(const std::vector<std::pair<void*, void*>>& pairs);
    void Sort() const;
    int GetCount() const { return int(mEntries.size()); }
    void Clear();

private:
    struct Entry {
        std::string key;
        void* value;
        uint64_t serial;  // order of adding, which breaks ties between equal keys
    };
    int CompareKeys(const char* a, const char* b) const;

    mutable std::vector<Entry> mEntries;
    // The entries before this position are in key order; those after it were added since.
    mutable size_t mSorted = 0;
    bool mCaseSensitive;
    uint64_t mNextSerial = 0;
};
