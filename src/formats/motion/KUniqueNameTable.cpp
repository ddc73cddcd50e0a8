#include "formats/motion/KUniqueNameTable.h"

#include <cstring>

#include "foundation/KLocale.h"

namespace {

constexpr int kMaxBits = 16;
// Suffix values are held below this, so raising them never overflows.
constexpr uint64_t kMaxSuffix = 999999999999999999ULL;

bool EndsWith(const std::string& text, size_t end, const char* tail) {
    const size_t n = std::strlen(tail);
    return n <= end && text.compare(end - n, n, tail) == 0;
}

}  // namespace

KUniqueNameTable::KUniqueNameTable(int bits, int growStep)
    : mMask(bits <= 0 ? 1u : (1u << (bits > kMaxBits ? kMaxBits : bits)) - 1u),
      mGrowStep(growStep > 0 ? size_t(growStep) : 1),
      mBuckets(mMask + 1) {}

uint32_t KUniqueNameTable::Hash(const char* text, size_t length) const {
    // Over lower case: names equal but for case must land in one bucket to be found.
    uint32_t sum = 0;
    for (size_t i = 0; i < length; ++i)
        sum += uint32_t(int32_t(static_cast<signed char>(KToLower(text[i]))));
    return sum & mMask;
}

std::string KUniqueNameTable::SplitName(const char* name, size_t& suffix) {
    std::string text = name ? name : "";
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) {
        text = "Default";
    } else {
        text = text.substr(first, text.find_last_not_of(' ') - first + 1);
    }
    if (text.size() > kMaxNameLength) text.resize(kMaxNameLength);
    size_t d = text.size();
    while (d > 0 && KIsDigit(text[d - 1])) --d;
    suffix = d;
    if (d == text.size() || d < 3) return text;
    // A digit behind these belongs to the name, as in a file extension.
    for (const char* extension : {".mpg", ".mp", ".sd"}) {
        if (EndsWith(text, d, extension)) {
            suffix = d + 1;
            break;
        }
    }
    return text;
}

int KUniqueNameTable::Find(uint32_t hash, const std::string& text) const {
    const std::vector<int32_t>& bucket = mBuckets[hash & mMask];
    for (size_t i = bucket.size(); i-- > 0;) {
        const std::string& stored = mEntries[size_t(bucket[i])].text;
        if (stored.size() == text.size() && KStrCaseCmp(stored.c_str(), text.c_str()) == 0)
            return bucket[i];
    }
    return -1;
}

const char* KUniqueNameTable::Insert(int32_t id, uint32_t hash, const std::string& text) {
    // Slots are only ever appended: reusing one would drop the name stored in it.
    const int32_t slot = int32_t(mEntries.size());
    mEntries.push_back(Entry{id, text});
    std::vector<int32_t>& bucket = mBuckets[hash & mMask];
    if (bucket.size() == bucket.capacity()) bucket.reserve(bucket.size() + mGrowStep);
    bucket.push_back(slot);
    return mEntries.back().text.c_str();
}

const char* KUniqueNameTable::Add(const char* name, int32_t id) {
    if (!name || !*name) return nullptr;
    size_t p = 0;
    std::string t = SplitName(name, p);
    uint32_t h = Hash(t.data(), t.size());
    if (Find(h, t) < 0) return Insert(id, h, t);

    uint64_t k = 1;
    uint32_t stemHash = 0;
    if (p < t.size()) {
        // Saturating: a suffix of any length raises to a number that still fits.
        uint64_t value = 0;
        for (size_t i = p; i < t.size(); ++i)
            value = value > (kMaxSuffix - 9) / 10 ? kMaxSuffix : value * 10 + uint64_t(t[i] - '0');
        k = value + 1;
        t.resize(p);
        stemHash = Hash(t.data(), t.size());
    } else {
        t += ' ';
        p = t.size();
        stemHash = h + ' ';
    }
    do {
        t.resize(p);
        const std::string digits = std::to_string(k);
        t += digits;
        h = (Hash(digits.data(), digits.size()) + stemHash) & mMask;
        ++k;
    } while (Find(h, t) >= 0);
    return Insert(id, h, t);
}

const char* KUniqueNameTable::GetName(int32_t id) const {
    for (size_t i = mEntries.size(); i-- > 0;)
        if (mEntries[i].id == id) return mEntries[i].text.c_str();
    return nullptr;
}

void KUniqueNameTable::Clear() {
    mEntries.clear();
    for (std::vector<int32_t>& bucket : mBuckets) std::vector<int32_t>().swap(bucket);
}
