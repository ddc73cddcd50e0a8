#pragma once
// 4x4 double matrices in the row-vector convention: a point p maps to p x M,
// rows 0-2 are the X, Y, Z axes, row 3 the translation, and column 3 of an
// affine matrix is (0, 0, 0, 1). In a product A x B, A acts first.
// Every free function accepts an output that is the same object as an input.

#include <cassert>
#include <cstddef>

#include "foundation/KQuaternion.h"
#include "foundation/KRotationOrder.h"
#include "foundation/KVector4.h"

class KMatrix {
public:
    KMatrix();  // identity
    KMatrix(const KMatrix& m) = default;
    // Rotation from Euler angles X, Y, Z in degrees; translation 0.
    KMatrix(double x, double y, double z);
    explicit KMatrix(const KVector4& anglesXYZ);
    // Translation, Euler rotation in the given order code, scaling.
    KMatrix(const KVector4& t, const KVector4& r, const KVector4& s, int order);

    KMatrix& operator=(const KMatrix& m) = default;

    // The 16 elements, row-major.
    operator double*() { return &mData[0][0]; }
    operator const double*() const { return &mData[0][0]; }
    double* operator[](std::ptrdiff_t row) {
        assert(row >= 0 && row < 4);
        return mData[row];
    }
    const double* operator[](std::ptrdiff_t row) const {
        assert(row >= 0 && row < 4);
        return mData[row];
    }

    // Columns 0-2 of m, then column 3 = (0, 0, 0, 1).
    void SetAffine(const KMatrix& m);
    // From the identity: rotation q, axis rows scaled by s, translation t.
    void SetTQS(const KVector4& t, const KQuaternion& q, const KVector4& s);
    // Row i (0..3); a zero vector for any other index.
    KVector4 GetRow(int i) const;
    // All 16 elements within 1e-6.
    bool operator==(const KMatrix& m) const;

    double mData[4][4];
};

KMatrix& KMatrixSetIdentity(KMatrix& m);
void KMatrixCopy(KMatrix& out, const KMatrix& m);
// The 12 elements of columns 0-2; column 3 of out untouched.
void KMatrixCopyAffine(KMatrix& out, const KMatrix& m);
void KMatrixTranspose(KMatrix& out, const KMatrix& m);
// The 3x3 part only; the rest of out untouched.
void KMatrixTranspose3x3(KMatrix& out, const KMatrix& m);

// Affine a x b (a acts first), translation included; column 3 of out = (0, 0, 0, 1).
void KMatrixMultiply(KMatrix& out, const KMatrix& a, const KMatrix& b);
// 3x3 parts only: a x b, and a x transpose(b). The rest of out untouched.
void KMatrixMultiply3x3(KMatrix& out, const KMatrix& a, const KMatrix& b);
void KMatrixMultiplyTransposed3x3(KMatrix& out, const KMatrix& a, const KMatrix& b);
// Inverse of an affine matrix whose axis rows are orthogonal. A zero axis row
// has no inverse: its column of the result stays zero.
void KMatrixInverseOrthogonal(KMatrix& out, const KMatrix& m);
// a x inverse(b), the inverse as above.
void KMatrixMultiplyInverse(KMatrix& out, const KMatrix& a, const KMatrix& b);

// (x, y, z) x M with translation, and without; w is copied from the input.
void KMatrixTransformPoint(KVector4& out, const KMatrix& m, const KVector4& p);
void KMatrixRotateVector(KVector4& out, const KMatrix& m, const KVector4& v);
// Multiplies axis rows 0, 1, 2 by s.x, s.y, s.z.
void KMatrixScaleAxes(KMatrix& m, const KVector4& s);

// Determinant of the 3x3 part is 0 or positive.
bool KMatrixIsDirect(const KMatrix& m);
// Lengths of the axis rows, all three negated when the 3x3 determinant is
// negative; out.w untouched.
void KMatrixGetScaling(KVector4& out, const KMatrix& m);
// Euler X, Y, Z in degrees after dividing each axis row by its signed scaling;
// a zero axis row stays zero. out.w untouched.
void KMatrixGetEulerXYZ(KVector4& out, const KMatrix& m);

// 3x3 part from the rotation, axis row n times s[n], row 3 = t; column 3 untouched.
void KMatrixSetTRS(KMatrix& m, const KVector4& t, const KVector4& rXYZ, const KVector4& s);
void KMatrixSetTRSOrdered(KMatrix& m, const KVector4& t, const KVector4& rXYZ, const KVector4& s,
                          int order);
void KMatrixSetTQS(KMatrix& m, const KVector4& t, const KQuaternion& q, const KVector4& s);

// 0 when every compared element differs by at most the tolerance, else 1.
// Tolerance 0 compares the elements' bytes in order and gives -1, 0 or 1.
// KMatrixCompare: all 16; Affine: the 12 of columns 0-2; 3x3: the 9 of the 3x3 part.
int KMatrixCompare(const KMatrix& a, const KMatrix& b, double tolerance);
int KMatrixCompareAffine(const KMatrix& a, const KMatrix& b, double tolerance);
int KMatrixCompare3x3(const KMatrix& a, const KMatrix& b, double tolerance);
