#pragma once
// The names a writer gives objects, in the terms of its own reader: each written so that the
// reader takes it back whole (no character it ends a name at, no more bytes than it keeps, no
// word it reserves) and apart from every other (letter case aside where the reader folds
// it). A name already so is written unchanged; any other is changed, and a warning line
// names it. A writer that knows its names before it writes them sets them aside first
// (SetAside, in the order it adds them): a number then never takes a name the file holds
// further on.

#include <cstring>
#include <functional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "foundation/KNameNumbers.h"

struct KQovNameTerms {
    const char* format = "";            // "BVH", in the warnings
    const char* object = "Node";        // what the names name, in the warnings
    bool foldCase = false;              // the reader takes names alike without regard to case
    const char* splitters = " \t\r\n";  // characters that end a name, each written '_'
    const char* splitReason = nullptr;  // the warning's words for them, when not the reader's
    bool controls = true;               // control characters end a name too
    size_t maxLength = 0;               // bytes the reader keeps; 0: any
    size_t cutRoom = 0;                 // bytes a cut name leaves free for a number
    const char* trimmed = "";           // characters the reader drops around a name (dropped)
    const char* allowed = nullptr;      // when set, the only characters besides letters and digits
    const char* leading = "";           // characters a name may not begin with
    const char* trailing = "";          // characters a name may not end with ('_' follows)
    // True for a name that, beginning a line, the reader takes for a word of its own ('_'
    // goes before it).
    std::function<bool(const std::string&)> startsWord;
    // Written for an empty name; null: written empty, apart from nothing (the reader names
    // it itself); "": an empty name is a name as any other.
    const char* empty = "Unnamed";
    const char* numberSeparator = "_";  // between a taken name and its number
    const char* clashReason = nullptr;  // the warning's words for a name taken, when not these
    std::vector<std::string> reserved;  // words the file gives a meaning of its own
    // The name the reader gives the `index`-th name by its place, whatever it holds (written
    // so, or empty where `empty` is null); empty where it reads the name itself.
    std::function<std::string(const std::string& name, size_t index)> byPlace;
    const char* byPlaceReason = "";  // the warning's words for such a name
};

class KQovWrittenNames {
public:
    explicit KQovWrittenNames(KQovNameTerms terms);

    // The name to write for `name`, unique among those made so far. With `tail` ("_End"), the
    // reader also makes a name of the written one followed by `tail`: that one must be free
    // too, and is taken. A name not `told` is changed without a warning (one the writer made).
    std::string Add(const std::string& name, const std::string& tail = std::string(),
                    bool told = true);
    // `name`, to be added later in this order: when it needs no change, no number made for
    // another name takes it, though that one is added first.
    void SetAside(const std::string& name);
    // The `index`-th of `names` as the writer writes them: each one the reader names by its
    // place under that name (all those taken first), the others through Add.
    void AddAll(std::vector<std::string>& names);
    // A name the file holds of its own, or the reader makes, taken before any Add; with
    // `exactly`, only that name byte for byte (letter case not folded).
    void Reserve(const std::string& name, bool exactly = false);
    bool IsTaken(const std::string& name) const;
    // For the names added next: the bytes the reader keeps, and what they name in warnings.
    void SetMaxLength(size_t length) { mTerms.maxLength = length; }
    void SetObject(const char* object) {
        mMixed = mMixed || std::strcmp(object, mTerms.object) != 0;
        mTerms.object = object;
    }
    // One line per name changed ("Node \"a b\" written as \"a_b\": ..."), counted past a few.
    std::string GetWarnings() const;
    int GetChangedCount() const { return mChanged; }
    // True when the last Add numbered its name (it was taken).
    bool WasNumbered() const { return mNumbered; }

private:
    std::string Key(const std::string& name) const;
    std::string Clean(const std::string& name, std::string& reason) const;
    bool Free(const std::string& name, const std::string& tail) const;
    // Taken, or set aside for a name further on.
    bool Held(const std::string& name) const;

    KQovNameTerms mTerms;
    std::unordered_map<std::string, std::string> mTaken;  // keys of the names taken, each
                                                          // with the first name of that key
    std::unordered_set<std::string> mTakenExactly;        // names reserved byte for byte
    KNameNumbers mNumbers;                                // per stem, the numbers found taken
    std::string mWarnings;
    int mChanged = 0;
    bool mNumbered = false;
    bool mMixed = false;  // names of objects of more than one kind
};
