#include "scene/KQovRenamer.h"

void KQovNumberingRenamer::Reset() {
    mMet.clear();
    mNumbers.Clear();
    mNumbers.ClearAside();
}

bool KQovNumberingRenamer::Rename(KQovNamePair& names) {
    const std::string name(names.currentName.Buffer(),
                           static_cast<size_t>(names.currentName.GetLen()));
    const std::string made = Unique(name);
    if (made == name) return false;
    names.currentName = KString(made.c_str(), static_cast<int>(made.size()));
    return true;
}

std::string KQovNumberingRenamer::Unique(const std::string& name) {
    if (mMet.insert(name).second) {
        mNumbers.ClaimAside(name);
        return name;
    }
    // Numbered names are recorded too and numbers already met are skipped, so
    // that "Bone", "Bone", "Bone1" never give "Bone1" twice.
    std::string numbered;
    const uint64_t n = mNumbers.Find(name, 1, [&](uint64_t number) {
        numbered = name + std::to_string(number);
        return mMet.count(numbered) == 0 && !mNumbers.IsAside(numbered);
    });
    mMet.insert(numbered);
    mNumbers.Take(name, n);
    return numbered;
}

std::unique_ptr<KQovRenamer> KQovNumberingRenamer::Create() {
    return std::make_unique<KQovNumberingRenamer>();
}
