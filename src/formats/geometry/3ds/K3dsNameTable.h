#pragma once
// Short distinct names for 3DS records: object, light and camera names hold at
// most 10 characters and material names 15, so names are cut and numbered.

#include <memory>
#include <string>
#include <unordered_map>

#include "scene/KQovRenamer.h"

// Reserved names of written files: the cut names of the extra root node and of
// the scene root, and the object name of every key-frame dummy.
constexpr const char* kQovRootCut3ds = "Qov_Roo";
constexpr const char* kRootNodeCut3ds = "RootNod";
constexpr const char* kDummyName3ds = "$$$DUMMY";

class K3dsNameTable : public KQovNumberingRenamer {
public:
    // The reserved names that stand for something else in a written file are taken from
    // the start: a node of that name is numbered.
    K3dsNameTable() { Reset(); }

    // Drops the class prefix. A name that fits `limit` and is free stays as it
    // is; a longer one is cut to limit - 3 characters; a taken one is numbered,
    // cut so that the number fits, until a name no one uses is found. True when
    // it was numbered.
    bool RenameToLength(KQovNamePair& names, int limit);

    bool Rename(KQovNamePair& names) override { return RenameToLength(names, 10); }
    void Reset() override;
    void Clear() { Reset(); }
    std::unique_ptr<KQovRenamer> Create() override { return std::make_unique<K3dsNameTable>(); }

private:
    // Every name handed out, numbered ones included, with the last number tried on it.
    std::unordered_map<std::string, int> mUsed;
};
