#include "foundation/KMatrix.h"

#include <cmath>
#include <cstring>

namespace {

typedef double Block3[3][3];

void Get3x3(Block3 out, const KMatrix& m) {
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) out[r][c] = m.mData[r][c];
}

void Set3x3(KMatrix& m, const Block3 b) {
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) m.mData[r][c] = b[r][c];
}

// out = a x b on 3x3 blocks; out must not be a or b.
void Product3x3(Block3 out, const Block3 a, const Block3 b) {
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            out[r][c] = a[r][0] * b[0][c] + a[r][1] * b[1][c] + a[r][2] * b[2][c];
}

void SetAffineColumn(KMatrix& m) {
    m.mData[0][3] = m.mData[1][3] = m.mData[2][3] = 0.0;
    m.mData[3][3] = 1.0;
}

double Determinant3x3(const KMatrix& m) {
    const auto& d = m.mData;
    return d[0][0] * (d[1][1] * d[2][2] - d[1][2] * d[2][1]) -
           d[0][1] * (d[1][0] * d[2][2] - d[1][2] * d[2][0]) +
           d[0][2] * (d[1][0] * d[2][1] - d[1][1] * d[2][0]);
}

void ScaleAndTranslate(KMatrix& m, const KVector4& t, const KVector4& s) {
    KMatrixScaleAxes(m, s);
    for (int c = 0; c < 3; ++c) m.mData[3][c] = t.mData[c];
}

// Compares the elements of rows 0..rows-1 and columns 0..cols-1.
int CompareElements(const KMatrix& a, const KMatrix& b, int rows, int cols, double tolerance) {
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < cols; ++c) {
            if (tolerance == 0.0) {
                // Exact: byte order, so -0.0 and 0.0 differ.
                const int diff = std::memcmp(&a.mData[r][c], &b.mData[r][c], sizeof(double));
                if (diff != 0) return diff > 0 ? 1 : -1;
            } else if (!(std::fabs(a.mData[r][c] - b.mData[r][c]) <= tolerance)) {
                return 1;
            }
        }
    }
    return 0;
}

}  // namespace

KMatrix::KMatrix() {
    KMatrixSetIdentity(*this);
}

KMatrix::KMatrix(double x, double y, double z) {
    KMatrixSetIdentity(*this);
    KMatrixSetRotationXYZ(*this, x, y, z);
}

KMatrix::KMatrix(const KVector4& anglesXYZ) {
    KMatrixSetIdentity(*this);
    KMatrixSetRotationXYZ(*this, anglesXYZ);
}

KMatrix::KMatrix(const KVector4& t, const KVector4& r, const KVector4& s, int order) {
    KMatrixSetIdentity(*this);
    KMatrixSetTRSOrdered(*this, t, r, s, order);
}

void KMatrix::SetAffine(const KMatrix& m) {
    KMatrixCopyAffine(*this, m);
    SetAffineColumn(*this);
}

void KMatrix::SetTQS(const KVector4& t, const KQuaternion& q, const KVector4& s) {
    KMatrixSetIdentity(*this);
    KMatrixSetTQS(*this, t, q, s);
}

KVector4 KMatrix::GetRow(int i) const {
    if (i < 0 || i > 3) return KVector4();
    return KVector4(mData[i][0], mData[i][1], mData[i][2], mData[i][3]);
}

bool KMatrix::operator==(const KMatrix& m) const {
    return KMatrixCompare(*this, m, 1e-6) == 0;
}

KMatrix& KMatrixSetIdentity(KMatrix& m) {
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) m.mData[r][c] = (r == c) ? 1.0 : 0.0;
    return m;
}

void KMatrixCopy(KMatrix& out, const KMatrix& m) {
    out = m;
}

void KMatrixCopyAffine(KMatrix& out, const KMatrix& m) {
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 3; ++c) out.mData[r][c] = m.mData[r][c];
}

void KMatrixTranspose(KMatrix& out, const KMatrix& m) {
    const KMatrix t = m;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) out.mData[r][c] = t.mData[c][r];
}

void KMatrixTranspose3x3(KMatrix& out, const KMatrix& m) {
    Block3 b;
    Get3x3(b, m);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) out.mData[r][c] = b[c][r];
}

void KMatrixMultiply(KMatrix& out, const KMatrix& a, const KMatrix& b) {
    Block3 ab, bb, p;
    Get3x3(ab, a);
    Get3x3(bb, b);
    Product3x3(p, ab, bb);
    double t[3];
    for (int c = 0; c < 3; ++c) {
        t[c] = a.mData[3][0] * bb[0][c] + a.mData[3][1] * bb[1][c] + a.mData[3][2] * bb[2][c] +
               b.mData[3][c];
    }
    Set3x3(out, p);
    for (int c = 0; c < 3; ++c) out.mData[3][c] = t[c];
    SetAffineColumn(out);
}

void KMatrixMultiply3x3(KMatrix& out, const KMatrix& a, const KMatrix& b) {
    Block3 ab, bb, p;
    Get3x3(ab, a);
    Get3x3(bb, b);
    Product3x3(p, ab, bb);
    Set3x3(out, p);
}

void KMatrixMultiplyTransposed3x3(KMatrix& out, const KMatrix& a, const KMatrix& b) {
    Block3 ab, bt, p;
    Get3x3(ab, a);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) bt[r][c] = b.mData[c][r];
    Product3x3(p, ab, bt);
    Set3x3(out, p);
}

void KMatrixInverseOrthogonal(KMatrix& out, const KMatrix& m) {
    Block3 inv;
    for (int r = 0; r < 3; ++r) {
        const double* row = m.mData[r];
        const double length2 = row[0] * row[0] + row[1] * row[1] + row[2] * row[2];
        const double f = length2 > 0.0 ? 1.0 / length2 : 0.0;
        for (int c = 0; c < 3; ++c) inv[c][r] = row[c] * f;
    }
    double t[3];
    for (int c = 0; c < 3; ++c) {
        t[c] = -(m.mData[3][0] * inv[0][c] + m.mData[3][1] * inv[1][c] + m.mData[3][2] * inv[2][c]);
    }
    Set3x3(out, inv);
    for (int c = 0; c < 3; ++c) out.mData[3][c] = t[c];
    SetAffineColumn(out);
}

void KMatrixMultiplyInverse(KMatrix& out, const KMatrix& a, const KMatrix& b) {
    KMatrix inverse;
    KMatrixInverseOrthogonal(inverse, b);
    KMatrixMultiply(out, a, inverse);
}

void KMatrixTransformPoint(KVector4& out, const KMatrix& m, const KVector4& p) {
    KVector4 r;
    KMatrixRotateVector(r, m, p);
    for (int c = 0; c < 3; ++c) out.mData[c] = r.mData[c] + m.mData[3][c];
    out.mData[3] = r.mData[3];
}

void KMatrixRotateVector(KVector4& out, const KMatrix& m, const KVector4& v) {
    const double x = v.mData[0], y = v.mData[1], z = v.mData[2], w = v.mData[3];
    for (int c = 0; c < 3; ++c) {
        out.mData[c] = x * m.mData[0][c] + y * m.mData[1][c] + z * m.mData[2][c];
    }
    out.mData[3] = w;
}

void KMatrixScaleAxes(KMatrix& m, const KVector4& s) {
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) m.mData[r][c] *= s.mData[r];
}

bool KMatrixIsDirect(const KMatrix& m) {
    return Determinant3x3(m) >= 0.0;
}

void KMatrixGetScaling(KVector4& out, const KMatrix& m) {
    const double sign = Determinant3x3(m) < 0.0 ? -1.0 : 1.0;
    double s[3];
    for (int r = 0; r < 3; ++r) {
        const double* row = m.mData[r];
        s[r] = sign * std::sqrt(row[0] * row[0] + row[1] * row[1] + row[2] * row[2]);
    }
    for (int r = 0; r < 3; ++r) out.mData[r] = s[r];
}

void KMatrixGetEulerXYZ(KVector4& out, const KMatrix& m) {
    KVector4 s;
    KMatrixGetScaling(s, m);
    KMatrix unit = m;
    for (int r = 0; r < 3; ++r) {
        if (s.mData[r] == 0.0) continue;  // a zero axis carries no angle; dividing would give NaN
        for (int c = 0; c < 3; ++c) unit.mData[r][c] /= s.mData[r];
    }
    KMatrixToEulerXYZ(out, unit);
}

void KMatrixSetTRS(KMatrix& m, const KVector4& t, const KVector4& rXYZ, const KVector4& s) {
    KMatrixSetRotationXYZ(m, rXYZ);
    ScaleAndTranslate(m, t, s);
}

void KMatrixSetTRSOrdered(KMatrix& m, const KVector4& t, const KVector4& rXYZ, const KVector4& s,
                          int order) {
    KMatrixSetRotationOrdered(m, rXYZ, order);
    ScaleAndTranslate(m, t, s);
}

void KMatrixSetTQS(KMatrix& m, const KVector4& t, const KQuaternion& q, const KVector4& s) {
    KQuaternionToMatrix(m, q);
    ScaleAndTranslate(m, t, s);
}

int KMatrixCompare(const KMatrix& a, const KMatrix& b, double tolerance) {
    return CompareElements(a, b, 4, 4, tolerance);
}

int KMatrixCompareAffine(const KMatrix& a, const KMatrix& b, double tolerance) {
    return CompareElements(a, b, 4, 3, tolerance);
}

int KMatrixCompare3x3(const KMatrix& a, const KMatrix& b, double tolerance) {
    return CompareElements(a, b, 3, 3, tolerance);
}
