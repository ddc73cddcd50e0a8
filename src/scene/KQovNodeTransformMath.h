#pragma once
// Small matrix builders shared by the node's transform evaluation and its
// pivot conversion (row vectors: p x M).

#include "foundation/KMatrix.h"

inline KMatrix KQovTranslationMatrix(const KVector4& t) {
    KMatrix m;
    for (int c = 0; c < 3; ++c) m[3][c] = t[c];
    return m;
}

inline KMatrix KQovScalingMatrix(const KVector4& s) {
    KMatrix m;
    for (int c = 0; c < 3; ++c) m[c][c] = s[c];
    return m;
}

// v x transpose(rotation(angles)): the vector taken back through the rotation.
inline KVector4 KQovUnrotateVector(const KVector4& v, const KVector4& angles) {
    KMatrix transposed;
    KMatrixTranspose3x3(transposed, KMatrix(angles));
    KVector4 out;
    KMatrixRotateVector(out, transposed, v);
    return out;
}
