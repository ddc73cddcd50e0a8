#include "foundation/KArrayVector4.h"

#include <algorithm>

int KArrayVector4::FindAfter(int index, const KVector4& vector) const {
    const KVector4* items = GetArray();
    int start = index < 0 ? 0 : std::min(index, GetCount() - 1) + 1;
    for (int i = start; i < GetCount(); ++i) {
        if (items[i] == vector) return i;
    }
    return -1;
}
