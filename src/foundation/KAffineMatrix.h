#pragma once
// A KMatrix kept affine (column 3 = (0, 0, 0, 1)), read and written as
// translation, rotation (Euler X, Y, Z in degrees, or a quaternion) and scaling.

#include "foundation/KMatrix.h"

class KAffineMatrix : public KMatrix {
public:
    KAffineMatrix() = default;  // identity
    KAffineMatrix(const KAffineMatrix& m) = default;
    // Columns 0-2 of m; column 3 = (0, 0, 0, 1).
    KAffineMatrix(const KMatrix& m) { SetAffine(m); }
    KAffineMatrix(const KVector4& t, const KVector4& rXYZ, const KVector4& s) {
        SetTRS(t, rXYZ, s);
    }

    // Copy the 12 elements of columns 0-2.
    KAffineMatrix& operator=(const KAffineMatrix& m);
    KAffineMatrix& operator=(const KMatrix& m);

    KVector4 GetT() const;  // row 3
    KVector4 GetR() const;  // KMatrixGetEulerXYZ
    KQuaternion GetQ() const;
    KVector4 GetS() const;  // KMatrixGetScaling, signed

    // Each setter keeps the other two components.
    void SetT(const KVector4& t);
    void SetR(const KVector4& rXYZ);
    void SetQ(const KQuaternion& q);
    void SetS(const KVector4& s);
    void SetTRS(const KVector4& t, const KVector4& rXYZ, const KVector4& s);
    void SetTQS(const KVector4& t, const KQuaternion& q, const KVector4& s);

    KVector4 MultT(const KVector4& point) const;            // KMatrixTransformPoint
    KAffineMatrix operator*(const KAffineMatrix& m) const;  // this acts first
    KAffineMatrix Inverse() const;                          // orthogonal axes
    KAffineMatrix Transpose() const;                        // full 4x4 transpose
};
