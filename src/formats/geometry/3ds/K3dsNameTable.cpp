#include "formats/geometry/3ds/K3dsNameTable.h"

#include <algorithm>

void K3dsNameTable::Reset() {
    mUsed.clear();
    for (const char* reserved : {kRootNodeCut3ds, kDummyName3ds}) mUsed.emplace(reserved, 0);
    KQovNumberingRenamer::Reset();
}

bool K3dsNameTable::RenameToLength(KQovNamePair& names, int limit) {
    const KString stripped = KStripNamePrefix(names.currentName);
    std::string name(stripped.Buffer(), static_cast<size_t>(stripped.GetLen()));
    const size_t field = static_cast<size_t>(std::max(limit, 1));
    // A longer name keeps three characters free for a number.
    if (name.size() > field) name.resize(limit > 3 ? field - 3 : 1);
    auto [entry, added] = mUsed.try_emplace(name, 0);
    bool numbered = false;
    if (!added) {
        // Numbers count on per name; each numbered name is checked against every
        // name handed out so far, and entered in turn.
        int& count = entry->second;
        std::string candidate;
        do {
            const std::string number = std::to_string(++count);
            const size_t keep = field > number.size() ? field - number.size() : 0;
            candidate = name.substr(0, keep) + number;
        } while (!mUsed.try_emplace(candidate, 0).second);
        name = candidate;
        numbered = true;
    }
    names.currentName = KString(name.c_str(), static_cast<int>(name.size()));
    return numbered;
}
