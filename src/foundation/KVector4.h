#pragma once
// Four-double vectors. The vector operations work on x, y and z; w follows
// the rule stated beside each operation.

#include <cassert>
#include <cstddef>

class KVector4 {
public:
    KVector4() : mData{0.0, 0.0, 0.0, 0.0} {}
    KVector4(double x, double y, double z, double w = 0.0) : mData{x, y, z, w} {}

    // Contiguous x, y, z, w; callers hand this to code that takes double arrays.
    operator double*() { return mData; }
    operator const double*() const { return mData; }

    double& operator[](std::ptrdiff_t i) {
        assert(i >= 0 && i < 4);
        return mData[i];
    }
    double operator[](std::ptrdiff_t i) const {
        assert(i >= 0 && i < 4);
        return mData[i];
    }
    // Checked forms: an index outside 0..3 reads 0 and writes nothing.
    double GetAt(int i) const { return (i >= 0 && i < 4) ? mData[i] : 0.0; }
    void SetAt(int i, double value) {
        if (i >= 0 && i < 4) mData[i] = value;
    }
    KVector4& Set(double x, double y, double z, double w) {
        mData[0] = x;
        mData[1] = y;
        mData[2] = z;
        mData[3] = w;
        return *this;
    }

    // All four components.
    KVector4& operator*=(double s);
    KVector4& operator/=(double s);
    KVector4& operator+=(const KVector4& v);
    KVector4& MultiplyComponents(const KVector4& v);
    KVector4& Negate();
    KVector4 operator*(double s) const;
    KVector4 operator+(const KVector4& v) const;
    KVector4 operator-(const KVector4& v) const;

    // x, y and z only.
    double DotProduct(const KVector4& v) const;
    KVector4 CrossProduct(const KVector4& v) const;  // w of the result is 1
    double Length() const;
    void Normalize();  // a zero vector stays zero; w untouched

    // x, y, z each within 1e-6; w ignored.
    bool operator==(const KVector4& v) const;
    bool operator!=(const KVector4& v) const { return !(*this == v); }

    double mData[4];
};

// A KVector4 whose default is the point (0, 0, 0, 1).
class KPoint4 : public KVector4 {
public:
    KPoint4() : KVector4(0.0, 0.0, 0.0, 1.0) {}
    KPoint4(double x, double y, double z, double w = 1.0) : KVector4(x, y, z, w) {}
    KPoint4(const KVector4& v) : KVector4(v) {}
};

double KVectorLength3(const KVector4& v);
// out.xyz = v.xyz / |v.xyz| (0 for a zero vector); out.w untouched. out may be v.
void KVectorNormalize(KVector4& out, const KVector4& v);
// 0 when x, y and z each differ by at most the tolerance, else 1. Tolerance 0
// compares the bytes of x, y, z and gives -1, 0 or 1.
int KVectorCompare3(const KVector4& a, const KVector4& b, double tolerance);
// Dot product of all four components (quaternions use it).
double KVector4Dot(const KVector4& a, const KVector4& b);

double KClamp(double value, double min, double max);
