#pragma once
// Renamers rewrite the current name of a scene object's name pair so that the
// names of one scene stay apart; the initial name is kept.

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>

#include "foundation/KNameNumbers.h"
#include "scene/KQovNamePair.h"

class KQovRenamer {
public:
    virtual ~KQovRenamer() = default;
    // Forgets the names seen so far.
    virtual void Reset() = 0;
    // Rewrites the pair's current name when needed; true when it did.
    virtual bool Rename(KQovNamePair& names) = 0;
    // A new renamer of the same kind; null for kinds that make none.
    virtual std::unique_ptr<KQovRenamer> Create() = 0;
};

// The second "Bone" becomes "Bone1", the third "Bone2"; names compare exactly.
// Numbered names count as met, so a later "Bone1" becomes "Bone11"; a caller that knows the
// names before it renames them sets them aside first, and "Bone", "Bone", "Bone1" become
// "Bone", "Bone2", "Bone1".
class KQovNumberingRenamer : public KQovRenamer {
public:
    void Reset() override;
    bool Rename(KQovNamePair& names) override;
    std::unique_ptr<KQovRenamer> Create() override;
    // True when `name` was met (as given or as made).
    bool IsTaken(const std::string& name) const { return mMet.count(name) != 0; }
    // `name` as Rename would give it, taken.
    std::string Unique(const std::string& name);
    // `name`, to be renamed later: no number made for another name takes it.
    void SetAside(const std::string& name) {
        if (!mMet.count(name)) mNumbers.SetAside(name);
    }

private:
    std::unordered_set<std::string> mMet;  // every name met, as given or as made
    KNameNumbers mNumbers;
};
