#pragma once
// Arrays of vectors and colours.

#include "foundation/KArray.h"
#include "foundation/KColor.h"
#include "foundation/KVector2.h"
#include "foundation/KVector4.h"

// Items compare on x, y and z within 1e-6 (KVector4::operator==), whatever their w.
class KArrayVector4 : public KArrayOf<KVector4> {
public:
    explicit KArrayVector4(int growStep = 16) : KArrayOf<KVector4>(growStep) {}

    using KArrayOf<KVector4>::Add;
    int Add(double x, double y, double z, double w = 0.0) { return Add(KVector4(x, y, z, w)); }
    // Index of the first equal item, -1 when none.
    int Find(const KVector4& vector) const { return FindAfter(-1, vector); }
    // The same search starting after the index.
    int FindAfter(int index, const KVector4& vector) const;
};

using KArrayVector2 = KArrayOf<KVector2>;
using KArrayColor = KArrayOf<KColor>;
