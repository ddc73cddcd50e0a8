#include "formats/geometry/3ds/K3dsNameTable.h"

#include <algorithm>

#include "formats/geometry/3ds/KQovReader3ds.h"

void K3dsNameTable::Reset() {
    KQovNameTerms terms = KQovReader3ds::NameTerms();
    terms.cutRoom = 3;
    terms.numberSeparator = "";
    // Nodes and materials share the names handed out.
    terms.clashReason = "another node or material has that name";
    mNames = std::make_unique<KQovWrittenNames>(std::move(terms));
}

std::string K3dsNameTable::Prepare(const KQovNamePair& names, int limit, bool& told) {
    const KString stripped = KStripNamePrefix(names.currentName);
    std::string name(stripped.Buffer(), static_cast<size_t>(stripped.GetLen()));
    // A dummy the reader named after its instance ("$$$DUMMY.Box") is written under that
    // instance again, untold: it reads back as it was.
    const std::string dummy = std::string(kDummyName3ds) + ".";
    if (name.size() > dummy.size() && name.size() - dummy.size() <= size_t(std::max(limit, 0)) &&
        name.compare(0, dummy.size(), dummy) == 0) {
        name.erase(0, dummy.size());
        told = false;
    }
    mNames->SetMaxLength(static_cast<size_t>(std::max(limit, 4)));
    return name;
}

void K3dsNameTable::SetAside(const KQovNamePair& names, int limit) {
    bool told = false;
    mNames->SetAside(Prepare(names, limit, told));
}

bool K3dsNameTable::RenameToLength(KQovNamePair& names, int limit, bool told, const char* object) {
    const std::string name = Prepare(names, limit, told);
    mNames->SetObject(object);
    const std::string written = mNames->Add(name, std::string(), told);
    names.currentName = KString(written.c_str(), static_cast<int>(written.size()));
    return mNames->WasNumbered();
}
