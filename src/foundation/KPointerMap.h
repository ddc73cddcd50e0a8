#pragma once
// Map from pointer-sized keys (object addresses or integers) to pointer-sized values.
//
// Adding is constant time and keeps duplicates; the entries are sorted on the first lookup or
// positional access after a change. The sort is stable and lookups find the lowest position of
// a key, so among equal keys the one added first is found. Keys compare as unsigned numbers;
// pass integer keys as signed ints (they sign-extend), which keeps the order of their unsigned
// 32-bit values.

#include <cstdint>
#include <vector>

class KPointerMap {
public:
    // Growth is geometric inside; the grow step is accepted for the callers' sake.
    explicit KPointerMap(int growStep = 20);

    // Appends {key, value} without looking for the key; 0, or -1 when the map holds as many
    // entries as it can count. A heap that refuses throws std::bad_alloc.
    int Add(uintptr_t key, uintptr_t value);
    // The value of the first entry added with the key and its index in key order; 0 and -1
    // when absent.
    uintptr_t Find(uintptr_t key, int* index = nullptr) const;
    // The value (and key) at a position in key order; 0 (key untouched) out of range.
    uintptr_t GetAt(int index, uintptr_t* key = nullptr) const;
    int GetCount() const { return int(mEntries.size()); }
    void Clear();

private:
    struct Entry {
        uintptr_t key;
        uintptr_t value;
    };
    void Sort() const;

    mutable std::vector<Entry> mEntries;
    mutable bool mUnsorted = false;
};
