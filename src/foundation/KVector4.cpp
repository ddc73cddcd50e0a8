#include "foundation/KVector4.h"

#include <cmath>
#include <cstring>

KVector4& KVector4::operator*=(double s) {
    for (double& c : mData) c *= s;
    return *this;
}

KVector4& KVector4::operator/=(double s) {
    return *this *= 1.0 / s;
}

KVector4& KVector4::operator+=(const KVector4& v) {
    for (int i = 0; i < 4; ++i) mData[i] += v.mData[i];
    return *this;
}

KVector4& KVector4::MultiplyComponents(const KVector4& v) {
    for (int i = 0; i < 4; ++i) mData[i] *= v.mData[i];
    return *this;
}

KVector4& KVector4::Negate() {
    for (double& c : mData) c = -c;
    return *this;
}

KVector4 KVector4::operator*(double s) const {
    KVector4 r(*this);
    return r *= s;
}

KVector4 KVector4::operator+(const KVector4& v) const {
    KVector4 r(*this);
    return r += v;
}

KVector4 KVector4::operator-(const KVector4& v) const {
    return KVector4(mData[0] - v.mData[0], mData[1] - v.mData[1], mData[2] - v.mData[2],
                    mData[3] - v.mData[3]);
}

double KVector4::DotProduct(const KVector4& v) const {
    return mData[0] * v.mData[0] + mData[1] * v.mData[1] + mData[2] * v.mData[2];
}

KVector4 KVector4::CrossProduct(const KVector4& v) const {
    const double* a = mData;
    const double* b = v.mData;
    return KVector4(a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0],
                    1.0);
}

double KVector4::Length() const {
    return KVectorLength3(*this);
}

void KVector4::Normalize() {
    KVectorNormalize(*this, *this);
}

bool KVector4::operator==(const KVector4& v) const {
    return KVectorCompare3(*this, v, 1e-6) == 0;
}

double KVectorLength3(const KVector4& v) {
    return std::sqrt(v.mData[0] * v.mData[0] + v.mData[1] * v.mData[1] + v.mData[2] * v.mData[2]);
}

void KVectorNormalize(KVector4& out, const KVector4& v) {
    const double length = KVectorLength3(v);
    const double f = length > 0.0 ? 1.0 / length : 0.0;
    out.mData[0] = v.mData[0] * f;
    out.mData[1] = v.mData[1] * f;
    out.mData[2] = v.mData[2] * f;
}

int KVectorCompare3(const KVector4& a, const KVector4& b, double tolerance) {
    if (tolerance == 0.0) {
        const int c = std::memcmp(a.mData, b.mData, 3 * sizeof(double));
        return (c > 0) - (c < 0);
    }
    for (int i = 0; i < 3; ++i) {
        if (!(std::fabs(a.mData[i] - b.mData[i]) <= tolerance)) return 1;
    }
    return 0;
}

double KVector4Dot(const KVector4& a, const KVector4& b) {
    return a.mData[0] * b.mData[0] + a.mData[1] * b.mData[1] + a.mData[2] * b.mData[2] +
           a.mData[3] * b.mData[3];
}

double KClamp(double value, double min, double max) {
    if (value < min) return min;
    if (value > max) return max;
    return value;
}
