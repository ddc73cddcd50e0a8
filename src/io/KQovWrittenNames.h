#pragma once
// The names a writer gives objects, in the terms of its own reader: each written so that the
// reader takes it back whole (no character it ends a name at, no more bytes than it keeps, no
// word it reserves) and apart from every other (letter case aside where the reader folds
// it). A name already so is written unchanged; any other is changed, and a warning line
// names it.

#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

struct KQovNameTerms {
    const char* format = "";            // "BVH", in the warnings
    bool foldCase = false;              // the reader takes names alike without regard to case
    const char* splitters = " \t\r\n";  // characters that end a name, each written '_'
    const char* splitReason = nullptr;  // the warning's words for them, when not the reader's
    bool controls = true;               // control characters end a name too
    size_t maxLength = 0;               // bytes the reader keeps; 0: any
    bool trimBlanks = false;            // the reader drops blanks around a name (written kept)
    const char* readAsUnderscore = "";  // characters the reader reads as '_' (written as they are)
    const char* allowed = nullptr;      // when set, the only characters besides letters and digits
    const char* leading = "";           // characters a name may not begin with
    const char* empty = "Unnamed";      // written for an empty name; null: written empty
    const char* numberSeparator = "_";  // between a taken name and its number
    std::vector<std::string> reserved;  // words the file gives a meaning of its own
};

class KQovWrittenNames {
public:
    explicit KQovWrittenNames(KQovNameTerms terms);

    // The name to write for `name`, unique among those made so far. With `tail` ("_End"), the
    // reader also makes a name of the written one followed by `tail`: that one must be free
    // too, and is taken.
    std::string Add(const std::string& name, const std::string& tail = std::string());
    // A name the file holds of its own, or the reader makes, taken before any Add.
    void Reserve(const std::string& name);
    bool IsTaken(const std::string& name) const;
    // One line per name changed ("Node \"a b\" written as \"a_b\": ..."), counted past a few.
    std::string GetWarnings() const;
    int GetChangedCount() const { return mChanged; }

private:
    std::string Key(const std::string& name) const;
    std::string Clean(const std::string& name, std::string& reason) const;
    bool Free(const std::string& name, const std::string& tail) const;

    KQovNameTerms mTerms;
    std::unordered_set<std::string> mTaken;           // keys of the names taken
    std::unordered_map<std::string, unsigned> mNext;  // per stem, the next number to try
    std::string mWarnings;
    int mChanged = 0;
};
