#pragma once
// The reversible clash renamer. Encoding gives a name met again the suffix
// "_ncl1_<count>", and a name that differs from an earlier one only in case the
// earlier spelling with "_ncl2_" and masks of the positions to flip back
// ("ul<mask>" upper to lower, "lu<mask>" lower to upper). Decoding undoes both,
// and also splits "Name(2)" into "Name". A case difference past position 31,
// which the masks cannot hold, and a spelling met again get "_ncl1_<count>" on
// their own spelling instead, so no two names given out clash.

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "scene/KQovRenamer.h"

class KQovNamespaceRenamer : public KQovRenamer {
public:
    // Clash kinds that Encode leaves alone.
    enum : int32_t { eAllClashes = 0, eNoCaseClashes = 1, eNoExactClashes = 2 };

    // Direction 0 encodes, any other value decodes. replaceBrackets makes a
    // decoded "Arm(2)" keep "Arm_2_" as its initial name.
    KQovNamespaceRenamer(int32_t direction, bool replaceBrackets);

    // Names seen so far survive a reset; only a change of mode drops them.
    void Reset() override {}
    bool Rename(KQovNamePair& names) override;
    std::unique_ptr<KQovRenamer> Create() override { return nullptr; }

    // A mode other than the current one forgets the names seen so far.
    void SetMode(int32_t mode);

    // Records the current name; true when it clashed and was rewritten.
    virtual bool Encode(KQovNamePair& names);
    // Initial name = the encoded text as found (brackets replaced when asked),
    // current name = the decoded, cleaned name. True when a marker was decoded.
    virtual bool Decode(KQovNamePair& names);
    // Every character that is not an ASCII letter or digit becomes the first
    // character of replacement; a null or empty replacement changes nothing.
    virtual KString& ReplaceNonAlphanumeric(KString& text, const char* replacement);

private:
    struct Entry {
        KString name;
        int32_t useCount;
    };

    bool IsTaken(const KString& name) const;
    KString RepeatName(Entry& seen, const KString& base);
    KString CaseClashName(Entry& seen, const KString& name);
    void Record(const KString& name);

    int32_t mDirection;
    int32_t mMode = eAllClashes;
    bool mReplaceBrackets;
    std::vector<Entry> mEntries;
    // Upper-cased name -> indices into mEntries, in the order met; only these
    // entries can clash with a name.
    std::unordered_map<std::string, std::vector<size_t>> mByUpperName;
};
