#include "formats/motion/KUniqueNameTable.h"

#include <cstring>

#include "foundation/KLocale.h"

namespace {

// Suffix values are held below this, so raising them never overflows.
constexpr uint64_t kMaxSuffix = 999999999999999999ULL;

bool EndsWith(const std::string& text, size_t end, const char* tail) {
    const size_t n = std::strlen(tail);
    return n <= end && text.compare(end - n, n, tail) == 0;
}

}  // namespace

size_t KUniqueNameTable::CaseHash::operator()(std::string_view text) const {
    uint64_t hash = 14695981039346656037ULL;  // FNV-1a
    for (char c : text) hash = (hash ^ uint8_t(KToLower(c))) * 1099511628211ULL;
    return size_t(hash);
}

bool KUniqueNameTable::CaseEqual::operator()(std::string_view a, std::string_view b) const {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (KToLower(a[i]) != KToLower(b[i])) return false;
    return true;
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

const char* KUniqueNameTable::Insert(int32_t id, const std::string& text) {
    mEntries.push_back(Entry{id, text});
    const std::string& stored = mEntries.back().text;
    try {
        mStored.try_emplace(std::string_view(stored), int32_t(mEntries.size() - 1));
    } catch (...) {
        mEntries.pop_back();
        throw;
    }
    return stored.c_str();
}

void KUniqueNameTable::SetAside(const char* name) {
    if (!name || !*name) return;
    size_t p = 0;
    const std::string t = SplitName(name, p);
    if (t == name && !Taken(t)) mNumbers.SetAside(KNameNumbers::Folded(t));
}

const char* KUniqueNameTable::Add(const char* name, int32_t id) {
    if (!name || !*name) return nullptr;
    size_t p = 0;
    std::string t = SplitName(name, p);
    // A name set aside is kept by the first that gives it as it is.
    if (!Taken(t) && (t == name || !Aside(t))) {
        const std::string key = mNumbers.AnyAside() ? KNameNumbers::Folded(t) : std::string();
        const char* stored = Insert(id, t);
        mNumbers.ClaimAside(key);
        return stored;
    }

    uint64_t k = 1;
    if (p < t.size()) {
        // Saturating: a suffix of any length raises to a number that still fits.
        uint64_t value = 0;
        for (size_t i = p; i < t.size(); ++i)
            value = value > (kMaxSuffix - 9) / 10 ? kMaxSuffix : value * 10 + uint64_t(t[i] - '0');
        k = value + 1;
        t.resize(p);
    } else {
        t += ' ';
        p = t.size();
    }
    // Stems equal without regard to case share their numbers.
    const std::string stem = KNameNumbers::Folded(t);
    const uint64_t n = mNumbers.Find(stem, k, [&](uint64_t number) {
        t.resize(p);
        t += std::to_string(number);
        return !Taken(t) && !Aside(t);
    });
    const char* stored = Insert(id, t);
    mNumbers.Take(stem, n);
    return stored;
}

const char* KUniqueNameTable::GetName(int32_t id) const {
    for (size_t i = mEntries.size(); i-- > 0;)
        if (mEntries[i].id == id) return mEntries[i].text.c_str();
    return nullptr;
}

void KUniqueNameTable::Clear() {
    mStored.clear();
    mNumbers.Clear();
    mNumbers.ClearAside();
    mEntries.clear();
}
