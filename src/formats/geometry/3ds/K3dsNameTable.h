#pragma once
// Short distinct names for 3DS records: object, light and camera names hold at
// most 10 bytes and material names 15, so names are cut and numbered.

#include <memory>
#include <string>

#include "io/KQovWrittenNames.h"
#include "scene/KQovRenamer.h"

// Reserved names of written files: the cut names of the extra root node and of
// the scene root, and the object name of every key-frame dummy.
constexpr const char* kQovRootCut3ds = "Qov_Roo";
constexpr const char* kRootNodeCut3ds = "RootNod";
constexpr const char* kDummyName3ds = "$$$DUMMY";

// The bytes of a 3DS object name and of a material name.
constexpr int kObjectNameBytes3ds = 10;
constexpr int kMaterialNameBytes3ds = 15;

class K3dsNameTable : public KQovRenamer {
public:
    K3dsNameTable() { Reset(); }

    // Drops the class prefix. A name that fits `limit` bytes and is free stays as it is; a
    // longer one is cut to limit - 3 bytes (never inside a character); a taken one is
    // numbered ("Box1", letter case counts), cut so that the number fits, until a name no
    // one uses is found. True when it was numbered. A `told` change gives a warning line
    // naming the object as `object`.
    bool RenameToLength(KQovNamePair& names, int limit, bool told = false,
                        const char* object = "Node");
    // A name renamed later to `limit` bytes (KQovWrittenNames::SetAside): when it needs no
    // change, no number taken for another takes it.
    void SetAside(const KQovNamePair& names, int limit);
    // One line per told name changed (counted past a few).
    std::string GetWarnings() const { return mNames ? mNames->GetWarnings() : std::string(); }

    bool Rename(KQovNamePair& names) override { return RenameToLength(names, kObjectNameBytes3ds); }
    // The reserved names that stand for something else in a written file are taken from
    // the start: a node of that name is numbered.
    void Reset() override;
    void Clear() { Reset(); }
    std::unique_ptr<KQovRenamer> Create() override { return std::make_unique<K3dsNameTable>(); }

private:
    // The name written for `names` before it is made unique; `told` false for a dummy's.
    std::string Prepare(const KQovNamePair& names, int limit, bool& told);

    std::unique_ptr<KQovWrittenNames> mNames;
};
