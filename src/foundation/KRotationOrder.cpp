#include "foundation/KRotationOrder.h"

#include <cmath>

#include "foundation/KMatrix.h"
#include "foundation/KQuaternion.h"

namespace {

constexpr double kDegreesPerRadian = 57.29577951308232;
constexpr double kRadiansPerDegree = 0.017453292519943295;
constexpr double kHalfRadiansPerDegree = 0.008726646259971648;  // pi / 360
constexpr double kDegreesPerHalfRadian = 114.59155902616465;    // 360 / pi
constexpr double kGimbalTolerance = 1.6e-9;

struct Axes {
    int i, j, k;
};
const Axes kAxes[6] = {{0, 1, 2}, {0, 2, 1}, {1, 2, 0}, {1, 0, 2}, {2, 0, 1}, {2, 1, 0}};

int ValidOrder(int order) {
    return (order >= 0 && order < kRotationOrderCount) ? order : 0;
}

// The Euler formulas are written on the transpose T(r, c) = m(c, r).
inline double& T(KMatrix& m, int r, int c) {
    return m.mData[c][r];
}
inline double T(const KMatrix& m, int r, int c) {
    return m.mData[c][r];
}

void EulerToMatrixShoemake(KMatrix& m, double a0, double a1, double a2, int order) {
    const Axes& ax = kAxes[order >> 1];
    const int i = ax.i, j = ax.j, k = ax.k;
    if (order & 2) {
        a0 = -a0;
        a1 = -a1;
        a2 = -a2;
    }
    a0 *= kRadiansPerDegree;
    a1 *= kRadiansPerDegree;
    a2 *= kRadiansPerDegree;
    const double ci = std::cos(a0), si = std::sin(a0);
    const double cj = std::cos(a1), sj = std::sin(a1);
    const double ch = std::cos(a2), sh = std::sin(a2);
    const double cc = ci * ch, cs = ci * sh, sc = si * ch, ss = si * sh;
    if (order & 1) {
        T(m, i, i) = cj;
        T(m, i, j) = sj * si;
        T(m, i, k) = sj * ci;
        T(m, j, i) = sj * sh;
        T(m, j, j) = -cj * ss + cc;
        T(m, j, k) = -cj * cs - sc;
        T(m, k, i) = -sj * ch;
        T(m, k, j) = cj * sc + cs;
        T(m, k, k) = cj * cc - ss;
    } else {
        T(m, i, i) = cj * ch;
        T(m, i, j) = sj * sc - cs;
        T(m, i, k) = sj * cc + ss;
        T(m, j, i) = cj * sh;
        T(m, j, j) = sj * ss + cc;
        T(m, j, k) = sj * cs - sc;
        T(m, k, i) = -sj;
        T(m, k, j) = cj * si;
        T(m, k, k) = cj * ci;
    }
}

void MatrixToEulerShoemake(double a[3], const KMatrix& m, int order) {
    const Axes& ax = kAxes[order >> 1];
    const int i = ax.i, j = ax.j, k = ax.k;
    if (order & 1) {
        const double sy = std::sqrt(T(m, i, j) * T(m, i, j) + T(m, i, k) * T(m, i, k));
        if (sy > kGimbalTolerance) {
            a[0] = std::atan2(T(m, i, j), T(m, i, k));
            a[1] = std::atan2(sy, T(m, i, i));
            a[2] = std::atan2(T(m, j, i), -T(m, k, i));
        } else {
            a[0] = std::atan2(-T(m, j, k), T(m, j, j));
            a[1] = std::atan2(sy, T(m, i, i));
            a[2] = 0.0;
        }
    } else {
        const double cy = std::sqrt(T(m, i, i) * T(m, i, i) + T(m, j, i) * T(m, j, i));
        if (cy > kGimbalTolerance) {
            a[0] = std::atan2(T(m, k, j), T(m, k, k));
            a[1] = std::atan2(-T(m, k, i), cy);
            a[2] = std::atan2(T(m, j, i), T(m, i, i));
        } else {
            a[0] = std::atan2(-T(m, j, k), T(m, j, j));
            a[1] = std::atan2(-T(m, k, i), cy);
            a[2] = 0.0;
        }
    }
    const double f = (order & 2) ? -kDegreesPerRadian : kDegreesPerRadian;
    for (int n = 0; n < 3; ++n) a[n] *= f;
}

// Twist about X by x, then a swing that takes the X axis by y and z.
void EulerToMatrixSpheric(KMatrix& m, double x, double y, double z) {
    const double hx = x * kHalfRadiansPerDegree;
    const double hy = y * kHalfRadiansPerDegree;
    const double hz = z * kHalfRadiansPerDegree;
    const double sx = std::sin(hx), cx = std::cos(hx);
    const double sy = std::sin(hy), cy = std::cos(hy);
    const double sz = std::sin(hz), cz = std::cos(hz);
    const KQuaternion q(sx * cy * cz, sz * sx + sy * cx, sz * cx - sy * sx, cx * cy * cz);
    KQuaternionToMatrix(m, q);
}

double ClampedAsin(double v) {
    return std::asin(v < -1.0 ? -1.0 : (v > 1.0 ? 1.0 : v));
}

void MatrixToEulerSpheric(double a[3], const KMatrix& m) {
    const auto& d = m.mData;
    if (d[0][0] <= -0.9999999999) {
        a[0] = a[1] = a[2] = 180.0;
        return;
    }
    // Swing: the shortest rotation taking the X axis onto row 0.
    KQuaternion q1(0.0, -d[0][2], d[0][1], d[0][0] + 1.0);
    KQuaternionNormalize(q1, q1);
    const double qy = q1.mData[1], qz = q1.mData[2];
    // f solves p f^4 - f^2 + 1 = 0 (smaller root): f^2 = (1 - sqrt(1 - 4p)) / 2p,
    // written as 2 / (1 + sqrt(1 - 4p)) so that a small p loses no digits.
    const double p = qz * qz * qy * qy;
    const double r = 1.0 - 4.0 * p;
    const double f = std::sqrt(2.0 / (1.0 + std::sqrt(r > 0.0 ? r : 0.0)));
    a[2] = ClampedAsin(f * qz) * kDegreesPerHalfRadian;
    a[1] = ClampedAsin(f * qy) * kDegreesPerHalfRadian;

    // Twist: what is left once the swing is undone.
    KQuaternion q2;
    KQuaternionFromMatrix(q2, m);
    const KQuaternion conj(-q1.mData[0], -q1.mData[1], -q1.mData[2], q1.mData[3]);
    KQuaternionMultiply(q2, conj, q2);
    KQuaternionNormalize(q2, q2);
    KVector4 v;
    KQuaternionGetYAxis(v, q2);
    a[0] = std::atan2(v.mData[2], v.mData[1]) * kDegreesPerRadian;
}

void SetAngles(KVector4& out, const double a[3]) {
    out.mData[0] = a[0];
    out.mData[1] = a[1];
    out.mData[2] = a[2];
}

}  // namespace

int KRotationOrderFromNodeOrder(int nodeOrder) {
    return (nodeOrder >= 0 && nodeOrder <= 6) ? 2 * nodeOrder : kRotationOrderXYZ;
}

void KMatrixSetRotationXYZ(KMatrix& m, double x, double y, double z) {
    const double a = x * kRadiansPerDegree, b = y * kRadiansPerDegree, c = z * kRadiansPerDegree;
    const double sa = std::sin(a), ca = std::cos(a);
    const double sb = std::sin(b), cb = std::cos(b);
    const double sc = std::sin(c), cc = std::cos(c);
    auto& d = m.mData;
    d[0][0] = cb * cc;
    d[0][1] = cb * sc;
    d[0][2] = -sb;
    d[1][0] = sa * sb * cc - ca * sc;
    d[1][1] = sa * sb * sc + ca * cc;
    d[1][2] = sa * cb;
    d[2][0] = ca * sb * cc + sa * sc;
    d[2][1] = ca * sb * sc - sa * cc;
    d[2][2] = ca * cb;
}

void KMatrixSetRotationXYZ(KMatrix& m, const KVector4& anglesXYZ) {
    KMatrixSetRotationXYZ(m, anglesXYZ.mData[0], anglesXYZ.mData[1], anglesXYZ.mData[2]);
}

void KMatrixSetRotation(KMatrix& m, double a0, double a1, double a2, int order) {
    order = ValidOrder(order);
    if (order == kRotationOrderXYZ) {
        KMatrixSetRotationXYZ(m, a0, a1, a2);
    } else if (order == kRotationOrderSpheric) {
        EulerToMatrixSpheric(m, a0, a1, a2);
    } else {
        EulerToMatrixShoemake(m, a0, a1, a2, order);
    }
}

void KMatrixSetRotation(KMatrix& m, const KVector4& sequenceAngles, int order) {
    KMatrixSetRotation(m, sequenceAngles.mData[0], sequenceAngles.mData[1], sequenceAngles.mData[2],
                       order);
}

void KMatrixSetRotationOrdered(KMatrix& m, const KVector4& anglesXYZ, int order) {
    order = ValidOrder(order);
    if (order == kRotationOrderSpheric) {
        EulerToMatrixSpheric(m, anglesXYZ.mData[0], anglesXYZ.mData[1], anglesXYZ.mData[2]);
        return;
    }
    const Axes& ax = kAxes[order >> 1];
    KMatrixSetRotation(m, anglesXYZ.mData[ax.i], anglesXYZ.mData[ax.j], anglesXYZ.mData[ax.k],
                       order);
}

void KMatrixToEulerXYZ(KVector4& out, const KMatrix& m) {
    const auto& d = m.mData;
    double a[3];
    if (d[0][2] >= 0.999999) {
        a[0] = std::atan2(-d[2][1], -d[2][0]) * kDegreesPerRadian;
        a[1] = -90.0;
        a[2] = 0.0;
    } else if (d[0][2] > -0.999999) {
        a[0] = std::atan2(d[1][2], d[2][2]) * kDegreesPerRadian;
        a[1] = -std::asin(d[0][2]) * kDegreesPerRadian;
        a[2] = std::atan2(d[0][1], d[0][0]) * kDegreesPerRadian;
    } else {
        a[0] = std::atan2(d[1][0], d[1][1]) * kDegreesPerRadian;
        a[1] = 90.0;
        a[2] = 0.0;
    }
    SetAngles(out, a);
}

void KMatrixToEuler(KVector4& out, const KMatrix& m, int order) {
    order = ValidOrder(order);
    if (order == kRotationOrderXYZ) {
        KMatrixToEulerXYZ(out, m);
        return;
    }
    double a[3];
    if (order == kRotationOrderSpheric) {
        MatrixToEulerSpheric(a, m);
    } else {
        MatrixToEulerShoemake(a, m, order);
    }
    SetAngles(out, a);
}

void KRotationOrder::EulerToMatrix(KMatrix& m, const KVector4& angles) const {
    KMatrixSetRotationOrdered(m, angles, mOrder);
}

void KRotationOrder::MatrixToEuler(KVector4& angles, const KMatrix& m) const {
    const int order = ValidOrder(mOrder);
    KVector4 a;
    KMatrixToEuler(a, m, order);
    if (order == kRotationOrderSpheric) {
        SetAngles(angles, a.mData);
        return;
    }
    const Axes& ax = kAxes[order >> 1];
    const double a0 = a.mData[0], a1 = a.mData[1], a2 = a.mData[2];
    angles.mData[ax.i] = a0;
    angles.mData[ax.j] = a1;
    angles.mData[ax.k] = a2;
}
