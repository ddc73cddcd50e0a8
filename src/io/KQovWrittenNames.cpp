#include "io/KQovWrittenNames.h"

#include <cstring>

#include "foundation/KLocale.h"
#include "foundation/KQuotedText.h"

namespace {

// Changed names told one by one; more are counted.
constexpr int kNamesToldOne = 20;

bool IsControl(char c) {
    return (unsigned char)c < 0x20 || c == 0x7f;
}

void Join(std::string& reasons, const std::string& reason) {
    reasons += reasons.empty() ? reason : "; " + reason;
}

// `text` cut to at most `length` bytes, not inside a character of several bytes.
void CutTo(std::string& text, size_t length) {
    if (text.size() <= length) return;
    size_t end = length;
    while (end > 0 && ((unsigned char)text[end] & 0xC0) == 0x80) --end;
    text.resize(end);
}

}  // namespace

KQovWrittenNames::KQovWrittenNames(KQovNameTerms terms) : mTerms(std::move(terms)) {
    for (const std::string& word : mTerms.reserved) Reserve(word);
}

std::string KQovWrittenNames::Key(const std::string& name) const {
    return mTerms.foldCase ? KNameNumbers::Folded(name) : name;
}

void KQovWrittenNames::Reserve(const std::string& name, bool exactly) {
    if (exactly) {
        mTakenExactly.insert(name);
        return;
    }
    mTaken.emplace(Key(name), name);
}

bool KQovWrittenNames::IsTaken(const std::string& name) const {
    return mTaken.count(Key(name)) != 0 || mTakenExactly.count(name) != 0;
}

bool KQovWrittenNames::Held(const std::string& name) const {
    return IsTaken(name) || (mNumbers.AnyAside() && mNumbers.IsAside(Key(name)));
}

bool KQovWrittenNames::Free(const std::string& name, const std::string& tail) const {
    return !Held(name) && (tail.empty() || !Held(name + tail));
}

void KQovWrittenNames::SetAside(const std::string& name) {
    std::string reason;
    const std::string text = Clean(name, reason);
    if (text == name && !text.empty() && !IsTaken(text)) mNumbers.SetAside(Key(text));
}

std::string KQovWrittenNames::Clean(const std::string& name, std::string& reason) const {
    const std::string format = mTerms.format;
    std::string text = name;
    if (*mTerms.trimmed) {
        const size_t first = text.find_first_not_of(mTerms.trimmed);
        text = first == std::string::npos
                   ? std::string()
                   : text.substr(first, text.find_last_not_of(mTerms.trimmed) + 1 - first);
        if (text != name) Join(reason, "the " + format + " reader drops blanks around a name");
    }
    bool split = false;
    for (char& c : text) {
        const bool other = mTerms.allowed && !KIsAlpha(c) && !KIsDigit(c) &&
                           !(c && std::strchr(mTerms.allowed, c));
        if (other || (mTerms.controls && IsControl(c)) || (c && std::strchr(mTerms.splitters, c))) {
            c = '_';
            split = true;
        }
    }
    if (split)
        Join(reason,
             mTerms.splitReason ? std::string(mTerms.splitReason)
             : mTerms.allowed
                 ? "a " + format + " name holds letters, digits and '" + mTerms.allowed + "' only"
                 : "the " + format + " reader ends a name at a blank, tab or line break");
    if (text.empty()) {
        if (!mTerms.empty || !*mTerms.empty) return text;
        text = mTerms.empty;
        Join(reason, "a name in a " + format + " file is never empty");
    } else if (std::strchr(mTerms.leading, text[0])) {
        Join(reason, std::string("the ") + format + " reader takes a line beginning with '" +
                         text[0] + "' for something else");
        text.insert(text.begin(), '_');
    } else if (mTerms.startsWord && mTerms.startsWord(text)) {
        Join(reason, "the " + format + " reader takes a line beginning with \"" +
                         KQovMessageText(text) + "\" for something else");
        text.insert(text.begin(), '_');
    }
    if (!text.empty() && std::strchr(mTerms.trailing, text.back())) {
        Join(reason, "the " + format + " reader takes a line ending in '" + text.back() +
                         "' on into the next");
        text.push_back('_');
    }
    if (mTerms.maxLength && text.size() > mTerms.maxLength) {
        const size_t room = mTerms.cutRoom < mTerms.maxLength ? mTerms.cutRoom : 0;
        CutTo(text, mTerms.maxLength - room);
        Join(reason,
             "the " + format + " reader keeps " + std::to_string(mTerms.maxLength) +
                 " bytes of a name" +
                 (room ? ", a longer one is cut to " + std::to_string(mTerms.maxLength - room) +
                             " to leave room for a number"
                       : std::string()));
    }
    return text;
}

std::string KQovWrittenNames::Add(const std::string& name, const std::string& tail, bool told) {
    std::string reason;
    mNumbered = false;
    uint64_t numbered = 0;  // the number given, from 1
    std::string stemKey;
    std::string text = Clean(name, reason);
    if (text.empty() && !mTerms.empty) return text;
    // A name set aside is the first of its own: only what is taken already (a word of the
    // file, its tail) numbers it. Its tail goes with it, as it went before names were set
    // aside: a later name the tail makes is the one numbered.
    const bool aside = text == name && mNumbers.AnyAside() && mNumbers.IsAside(Key(text));
    const bool own = aside && !IsTaken(text) && (tail.empty() || !IsTaken(text + tail));
    const std::string asideKey = aside ? Key(text) : std::string();
    if (!own && !Free(text, tail)) {
        bool reserved = mTakenExactly.count(text) != 0;
        for (const std::string& word : mTerms.reserved) reserved |= Key(word) == Key(text);
        // Letter case is the reason only where the name taken differs in it alone.
        const auto taken = mTaken.find(Key(text));
        const bool caseAside = taken != mTaken.end() && taken->second != text &&
                               KNameNumbers::Folded(taken->second) == KNameNumbers::Folded(text);
        Join(reason, reserved ? "the " + std::string(mTerms.format) + " file gives \"" +
                                    KQovMessageText(text) + "\" a meaning of its own"
                     : mTerms.clashReason ? std::string(mTerms.clashReason)
                     : caseAside          ? "another name reads back the same, letter case aside"
                                          : "another name reads back the same");
        const std::string stem = text;
        stemKey = Key(stem);
        // Numbers tried for a stem stay taken, whatever the length the names were cut to: a
        // name repeated many times goes on from there.
        numbered = mNumbers.Find(stemKey, 1, [&](uint64_t n) {
            const std::string number = mTerms.numberSeparator + std::to_string(n);
            std::string base = stem;
            if (mTerms.maxLength) CutTo(base, mTerms.maxLength - number.size());
            text = base + number;
            return Free(text, tail);
        });
    }
    // All that may fail comes before the name is stored, or undoes it: a name refused for want
    // of memory is not taken.
    std::string key = Key(text), tailed, tailKey;
    if (!tail.empty()) {
        tailed = text + tail;
        tailKey = Key(tailed);
    }
    const bool tell = text != name && told;
    std::string line;
    if (tell && mChanged < kNamesToldOne) {
        line = std::string(mTerms.object) + " \"" + KQovMessageText(name) + "\" written as \"" +
               KQovMessageText(text) + "\": " + reason + "\n";
        mWarnings.reserve(mWarnings.size() + line.size());
    }
    const auto stored = mTaken.emplace(std::move(key), text);
    if (!tail.empty()) {
        try {
            mTaken.emplace(std::move(tailKey), std::move(tailed));
        } catch (...) {
            if (stored.second) mTaken.erase(stored.first);
            throw;
        }
    }
    if (aside) mNumbers.ClaimAside(asideKey);
    if (numbered) {
        mNumbers.Take(stemKey, numbered);
        mNumbered = true;
    }
    if (tell && ++mChanged <= kNamesToldOne) mWarnings += line;
    return text;
}

void KQovWrittenNames::AddAll(std::vector<std::string>& names) {
    std::vector<std::string> placed(names.size());
    if (mTerms.byPlace)
        for (size_t k = 0; k < names.size(); ++k)
            if (!(placed[k] = mTerms.byPlace(names[k], k)).empty()) Reserve(placed[k]);
    for (size_t k = 0; k < names.size(); ++k)
        if (placed[k].empty()) SetAside(names[k]);
    for (size_t k = 0; k < names.size(); ++k) {
        if (placed[k].empty()) {
            names[k] = Add(names[k]);
            continue;
        }
        if (placed[k] != names[k] && ++mChanged <= kNamesToldOne)
            mWarnings += std::string(mTerms.object) + " \"" + KQovMessageText(names[k]) +
                         "\" written as \"" + KQovMessageText(placed[k]) +
                         "\": " + mTerms.byPlaceReason + "\n";
        // Where the reader names an empty name itself, the name is written empty.
        names[k] = mTerms.empty ? placed[k] : std::string();
    }
}

std::string KQovWrittenNames::GetWarnings() const {
    std::string text = mWarnings;
    if (mChanged > kNamesToldOne) {
        const int more = mChanged - kNamesToldOne;
        const std::string objects =
            (mMixed ? std::string("object") : KNameNumbers::Folded(mTerms.object)) +
            (more == 1 ? "" : "s");
        text += std::to_string(more) + " more " + objects +
                " written under names changed for the " + mTerms.format + " reader\n";
    }
    return text;
}
