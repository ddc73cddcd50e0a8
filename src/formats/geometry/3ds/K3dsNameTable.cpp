#include "formats/geometry/3ds/K3dsNameTable.h"

bool K3dsNameTable::RenameToLength(KQovNamePair& names, int limit) {
    KString name = KStripNamePrefix(names.currentName);
    const int room = limit > 3 ? limit - 3 : 1;
    if (name.GetLen() > room) name = name.Left(room);
    names.currentName = name;
    // Numbered names are entered as well and counting goes on until a name is
    // free, so "Box", "Box1", "Box" give "Box", "Box1", "Box2".
    return KQovNumberingRenamer::Rename(names);
}
