#pragma once
// Two doubles (u, v): texture coordinates.

class KVector2 {
public:
    KVector2() : mData{0.0, 0.0} {}
    KVector2(double u, double v) : mData{u, v} {}

    KVector2& Set(double u, double v) {
        mData[0] = u;
        mData[1] = v;
        return *this;
    }
    // Exact comparison of both components.
    bool operator==(const KVector2& o) const {
        return mData[0] == o.mData[0] && mData[1] == o.mData[1];
    }
    bool operator!=(const KVector2& o) const { return !(*this == o); }

    double mData[2];
};
