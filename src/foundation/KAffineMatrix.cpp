#include "foundation/KAffineMatrix.h"

KAffineMatrix& KAffineMatrix::operator=(const KAffineMatrix& m) {
    KMatrixCopyAffine(*this, m);
    return *this;
}

KAffineMatrix& KAffineMatrix::operator=(const KMatrix& m) {
    KMatrixCopyAffine(*this, m);
    return *this;
}

KVector4 KAffineMatrix::GetT() const {
    return GetRow(3);
}

KVector4 KAffineMatrix::GetR() const {
    KVector4 r;
    KMatrixGetEulerXYZ(r, *this);
    return r;
}

KQuaternion KAffineMatrix::GetQ() const {
    const KMatrix rotation(GetR());
    KQuaternion q;
    KQuaternionFromMatrix(q, rotation);
    return q;
}

KVector4 KAffineMatrix::GetS() const {
    KVector4 s(1.0, 1.0, 1.0, 1.0);
    KMatrixGetScaling(s, *this);
    return s;
}

// Writing row 3 alone keeps rotation and scaling exactly (shear too).
void KAffineMatrix::SetT(const KVector4& t) {
    for (int c = 0; c < 3; ++c) mData[3][c] = t.mData[c];
}

void KAffineMatrix::SetR(const KVector4& rXYZ) {
    KMatrixSetTRS(*this, GetT(), rXYZ, GetS());
}

void KAffineMatrix::SetQ(const KQuaternion& q) {
    KMatrixSetTQS(*this, GetT(), q, GetS());
}

void KAffineMatrix::SetS(const KVector4& s) {
    KMatrixSetTRS(*this, GetT(), GetR(), s);
}

void KAffineMatrix::SetTRS(const KVector4& t, const KVector4& rXYZ, const KVector4& s) {
    KMatrixSetTRS(*this, t, rXYZ, s);
}

void KAffineMatrix::SetTQS(const KVector4& t, const KQuaternion& q, const KVector4& s) {
    KMatrixSetTQS(*this, t, q, s);
}

KVector4 KAffineMatrix::MultT(const KVector4& point) const {
    KVector4 r;
    KMatrixTransformPoint(r, *this, point);
    return r;
}

KAffineMatrix KAffineMatrix::operator*(const KAffineMatrix& m) const {
    KAffineMatrix r;
    KMatrixMultiply(r, *this, m);
    return r;
}

KAffineMatrix KAffineMatrix::Inverse() const {
    KAffineMatrix r;
    KMatrixInverseOrthogonal(r, *this);
    return r;
}

KAffineMatrix KAffineMatrix::Transpose() const {
    KAffineMatrix r;
    KMatrixTranspose(r, *this);
    return r;
}
