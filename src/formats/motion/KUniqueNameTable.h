#pragma once
// Makes names unique without regard to case: a name is stored as given unless an equal one
// is stored already, and otherwise with a number appended, or its own number raised, until
// it is unique. Each name is stored under the caller's id (the marker index of a file).

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>

#include "foundation/KNameNumbers.h"

class KUniqueNameTable {
public:
    // Longer names are cut to this many characters.
    static constexpr size_t kMaxNameLength = 1023;

    // The stored text (valid until Clear), or null for a null or empty name.
    const char* Add(const char* name, int32_t id);
    // `name`, to be added later: when SplitName keeps it as it is, no number made for another
    // name takes it, though that one is added first.
    void SetAside(const char* name);
    // The text last stored under the id, null when none.
    const char* GetName(int32_t id) const;
    void Clear();
    int GetCount() const { return int(mEntries.size()); }
    // Names looked up so far: what making names unique cost.
    int64_t GetProbeCount() const { return mProbes; }

    // Blanks around the name dropped ("Default" when nothing is left); `suffix` is where the
    // number that may be raised begins (the length when there is none).
    static std::string SplitName(const char* name, size_t& suffix);

private:
    struct Entry {
        int32_t id;
        std::string text;  // entries never move, so the text's address stays
    };
    // Texts equal without regard to case are one key.
    struct CaseHash {
        size_t operator()(std::string_view text) const;
    };
    struct CaseEqual {
        bool operator()(std::string_view a, std::string_view b) const;
    };
    bool Taken(std::string_view text) {
        ++mProbes;
        return mStored.count(text) != 0;
    }
    bool Aside(const std::string& text) const {
        return mNumbers.AnyAside() && mNumbers.IsAside(KNameNumbers::Folded(text));
    }
    const char* Insert(int32_t id, const std::string& text);

    std::deque<Entry> mEntries;
    // Every stored text (viewing the entry's own), with its entry.
    std::unordered_map<std::string_view, int32_t, CaseHash, CaseEqual> mStored;
    // Per stem: a name repeated many times is numbered from where its last repeat stopped.
    KNameNumbers mNumbers;
    int64_t mProbes = 0;
};
