#pragma once
// Quaternions (x, y, z, w), w the scalar part, handled by free functions.
// Every output may be the same object as an input.

#include "foundation/KVector4.h"

class KMatrix;

class KQuaternion : public KVector4 {
public:
    KQuaternion() : KVector4(0.0, 0.0, 0.0, 1.0) {}
    KQuaternion(double x, double y, double z, double w) : KVector4(x, y, z, w) {}
    KQuaternion(const KVector4& v) : KVector4(v) {}
};

// All four components divided by the four-component length; a zero quaternion stays zero.
void KQuaternionNormalize(KQuaternion& out, const KQuaternion& q);
// Hamilton product a b.
void KQuaternionMultiply(KQuaternion& out, const KQuaternion& a, const KQuaternion& b);
// Rotation of the 3x3 part of m (row-vector convention); w is never negative.
void KQuaternionFromMatrix(KQuaternion& out, const KMatrix& m);
// Sets the 3x3 part of m only; the length of q is divided out, a zero q gives the identity.
void KQuaternionToMatrix(KMatrix& m, const KQuaternion& q);
// The Y axis rotated by a unit q; out.w untouched.
void KQuaternionGetYAxis(KVector4& out, const KQuaternion& q);
