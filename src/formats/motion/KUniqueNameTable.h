#pragma once
// Makes names unique without regard to case: a name is stored as given unless an equal one
// is stored already, and otherwise with a number appended, or its own number raised, until
// it is unique. Each name is stored under the caller's id (the marker index of a file).

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

class KUniqueNameTable {
public:
    // Longer names are cut to this many characters.
    static constexpr size_t kMaxNameLength = 1023;

    // 2^bits buckets (2 for 0 bits; at most 2^16); the grow step of the bucket lists.
    KUniqueNameTable(int bits, int growStep);

    // The stored text (valid until Clear), or null for a null or empty name.
    const char* Add(const char* name, int32_t id);
    // The text last stored under the id, null when none.
    const char* GetName(int32_t id) const;
    void Clear();
    int GetCount() const { return int(mEntries.size()); }

    // The hash of a text: the sum of its characters, lower-cased, as signed bytes, masked.
    uint32_t Hash(const char* text, size_t length) const;
    // Blanks around the name dropped ("Default" when nothing is left); `suffix` is where the
    // number that may be raised begins (the length when there is none).
    static std::string SplitName(const char* name, size_t& suffix);

private:
    struct Entry {
        int32_t id;
        std::string text;  // entries never move, so the text's address stays
    };
    int Find(uint32_t hash, const std::string& text) const;
    const char* Insert(int32_t id, uint32_t hash, const std::string& text);

    uint32_t mMask;
    size_t mGrowStep;
    std::deque<Entry> mEntries;
    std::vector<std::vector<int32_t>> mBuckets;  // entry indices per hash
};
