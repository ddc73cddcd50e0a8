#include "formats/geometry/3ds/K3dsNameTable.h"

#include <algorithm>

void K3dsNameTable::Reset() {
    // The 3DS reader keeps a name's bytes as they are and tells names apart by letter case.
    KQovNameTerms terms;
    terms.format = "3DS";
    terms.splitters = "";
    terms.controls = false;
    terms.cutRoom = 3;
    terms.empty = "";
    terms.numberSeparator = "";
    // Nodes and materials share the names handed out.
    terms.clashReason = "another node or material has that name";
    terms.reserved = {kRootNodeCut3ds, kDummyName3ds};
    mNames = std::make_unique<KQovWrittenNames>(std::move(terms));
}

bool K3dsNameTable::RenameToLength(KQovNamePair& names, int limit, bool told, const char* object) {
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
    mNames->SetObject(object);
    const std::string written = mNames->Add(name, std::string(), told);
    names.currentName = KString(written.c_str(), static_cast<int>(written.size()));
    return mNames->WasNumbered();
}
