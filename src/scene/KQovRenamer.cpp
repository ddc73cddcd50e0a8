#include "scene/KQovRenamer.h"

#include "foundation/KLocale.h"

void KQovNumberingRenamer::Reset() {
    mUseCounts.clear();
}

bool KQovNumberingRenamer::Rename(KQovNamePair& names) {
    std::string name(names.currentName.Buffer(), static_cast<size_t>(names.currentName.GetLen()));
    auto [seen, added] = mUseCounts.try_emplace(name, 0);
    if (added) return false;
    // Numbered names are recorded too and numbers already met are skipped, so
    // that "Bone", "Bone", "Bone1" never give "Bone1" twice.
    int32_t& useCount = seen->second;  // elements stay put when the map grows
    std::string numbered;
    do {
        numbered = name + KFormatC("%d", ++useCount);
    } while (!mUseCounts.try_emplace(numbered, 0).second);
    names.currentName = KString(numbered.c_str(), static_cast<int>(numbered.size()));
    return true;
}

std::string KQovNumberingRenamer::Unique(const std::string& name) {
    KQovNamePair names(name.c_str());
    Rename(names);
    return std::string(names.currentName.Buffer(), static_cast<size_t>(names.currentName.GetLen()));
}

std::unique_ptr<KQovRenamer> KQovNumberingRenamer::Create() {
    return std::make_unique<KQovNumberingRenamer>();
}
