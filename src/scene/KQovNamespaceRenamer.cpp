#include "scene/KQovNamespaceRenamer.h"

#include <string_view>
#include <utility>

#include "foundation/KLocale.h"

namespace {

constexpr int kMaskBits = 32;

std::string_view TextView(const KString& text) {
    return std::string_view(text.Buffer(), static_cast<size_t>(text.GetLen()));
}

// A valid copy: an invalid (null) name reads as empty, so that numbering it
// terminates.
KString Copy(const KString& text) {
    return KString(text.Buffer(), text.GetLen());
}

std::string UpperKey(const KString& text) {
    std::string key(TextView(text));
    for (char& c : key) c = KToUpper(c);
    return key;
}

// The decimal number at text[pos]; an old writer printed masks with bit 31 as
// negative numbers, so a sign is taken and the value read modulo 2^32.
uint32_t ParseMask(std::string_view text, size_t pos) {
    bool negative = pos < text.size() && text[pos] == '-';
    if (negative) ++pos;
    uint32_t value = 0;
    for (; pos < text.size() && KIsDigit(text[pos]); ++pos)
        value = value * 10u + static_cast<uint32_t>(text[pos] - '0');
    return negative ? 0u - value : value;
}

// The mask after tag in tail, 0 when the tag is absent.
uint32_t MaskAfter(std::string_view tail, std::string_view tag) {
    size_t at = tail.find(tag);
    return at == std::string_view::npos ? 0u : ParseMask(tail, at + tag.size());
}

bool AllDigits(const KString& text, int first, int last) {
    for (int i = first; i < last; ++i) {
        if (!KIsDigit(text[i])) return false;
    }
    return true;
}

}  // namespace

KQovNamespaceRenamer::KQovNamespaceRenamer(int32_t direction, bool replaceBrackets)
    : mDirection(direction), mReplaceBrackets(replaceBrackets) {}

bool KQovNamespaceRenamer::Rename(KQovNamePair& names) {
    return mDirection == 0 ? Encode(names) : Decode(names);
}

void KQovNamespaceRenamer::SetMode(int32_t mode) {
    if (mode != mMode) {
        mEntries.clear();
        mByUpperName.clear();
    }
    mMode = mode;
}

void KQovNamespaceRenamer::Record(const KString& name) {
    mByUpperName[UpperKey(name)].push_back(mEntries.size());
    mEntries.push_back(Entry{name, 0});
}

bool KQovNamespaceRenamer::IsTaken(const KString& name) const {
    auto group = mByUpperName.find(UpperKey(name));
    if (group == mByUpperName.end()) return false;
    if (mMode != eNoCaseClashes) return true;
    for (size_t index : group->second) {
        if (TextView(mEntries[index].name) == TextView(name)) return true;
    }
    return false;
}

KString KQovNamespaceRenamer::RepeatName(Entry& seen, const KString& base) {
    // Numbers already met are skipped so that no two names given out clash
    // (in any case, unless case clashes are off).
    KString name;
    do {
        name = base + "_ncl1_" + ++seen.useCount;
    } while (IsTaken(name));
    return name;
}

KString KQovNamespaceRenamer::CaseClashName(Entry& seen, const KString& name) {
    uint32_t upperMask = 0;
    uint32_t lowerMask = 0;
    bool beyondMasks = false;
    for (int k = 0; k < name.GetLen(); ++k) {
        char c = seen.name[k];
        if (c == name[k]) continue;
        if (k >= kMaskBits) beyondMasks = true;
        uint32_t bit = 1u << (k % kMaskBits);
        if (KToUpper(c) == c)
            upperMask |= bit;
        else
            lowerMask |= bit;
    }
    if (!beyondMasks) {
        std::string suffix = "_ncl2_";
        if (upperMask) suffix += KFormatC("ul%u", upperMask);
        if (lowerMask) suffix += KFormatC("lu%u", lowerMask);
        KString encoded = seen.name + suffix.c_str();
        if (!IsTaken(encoded)) return encoded;
    }
    // The masks cannot reach the difference, or this spelling was met before:
    // the name keeps its own spelling with a repeat number, which decodes
    // back exactly and shares the counter of its first spelling.
    return RepeatName(seen, name);
}

bool KQovNamespaceRenamer::Encode(KQovNamePair& names) {
    KString name = Copy(names.currentName);
    bool clashed = false;
    auto group = mByUpperName.find(UpperKey(name));
    if (group != mByUpperName.end()) {
        for (size_t index : group->second) {
            Entry& seen = mEntries[index];
            bool exact = TextView(seen.name) == TextView(name);
            if (mMode != eNoCaseClashes && !exact) {
                name = CaseClashName(seen, name);
                clashed = true;
                break;
            }
            if (mMode != eNoExactClashes && exact) {
                name = RepeatName(seen, seen.name);
                clashed = true;
                break;
            }
        }
    }
    // The clashing name and its replacement both stay registered.
    Record(name);
    names.currentName = name;
    return clashed;
}

bool KQovNamespaceRenamer::Decode(KQovNamePair& names) {
    KString s = Copy(names.currentName);
    bool decoded = false;
    int q = -1;
    int p = s.Find("_ncl1_");
    bool split = true;
    if (p < 0) {
        p = s.ReverseFind('(');
        q = s.ReverseFind(')');
        if (p >= 0 && q > p && !AllDigits(s, p + 1, q)) split = false;
    }
    // A marker at the very start is not split off: the name would be empty.
    if (split && p > 0) {
        KString head = s.Left(p);
        if (mReplaceBrackets) {
            s[p] = '_';
            if (q > p && q < s.GetLen()) s[q] = '_';
        }
        names.initialName = s;
        names.currentName = head;
        decoded = true;
    } else {
        int p2 = s.Find("_ncl2_");
        if (p2 <= 0) {
            std::swap(names.initialName, names.currentName);
        } else {
            std::string_view tail = TextView(s).substr(static_cast<size_t>(p2));
            uint32_t upperMask = MaskAfter(tail, "ul");
            uint32_t lowerMask = MaskAfter(tail, "lu");
            names.initialName = s;
            // Bits only flip positions of the decoded name; a crafted mask
            // never reaches the suffix or past the text.
            int reach = p2 < kMaskBits ? p2 : kMaskBits;
            for (int k = 0; k < reach; ++k) {
                if (upperMask & (1u << k)) s[k] = KToLower(s[k]);
            }
            for (int k = 0; k < reach; ++k) {
                if (lowerMask & (1u << k)) s[k] = KToUpper(s[k]);
            }
            names.currentName = s.Left(p2);
            decoded = true;
        }
    }
    ReplaceNonAlphanumeric(names.currentName, "_");
    return decoded;
}

KString& KQovNamespaceRenamer::ReplaceNonAlphanumeric(KString& text, const char* replacement) {
    if (!replacement || !*replacement) return text;
    for (int i = 0; i < text.GetLen(); ++i) {
        if (!KIsAlpha(text[i]) && !KIsDigit(text[i])) text[i] = replacement[0];
    }
    return text;
}
