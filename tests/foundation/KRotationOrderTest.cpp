#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "foundation/KMatrix.h"
#include "foundation/KRotationOrder.h"

namespace {

// Reference rotations built here, independently of the code under test.
struct Mat3 {
    double m[3][3];
};

Mat3 Identity3() {
    Mat3 r{};
    for (int n = 0; n < 3; ++n) r.m[n][n] = 1.0;
    return r;
}

// Row-vector convention: row n is the image of axis n. A positive angle about
// an axis turns the next axis (cyclically) towards the one after it.
Mat3 AxisRotation(int axis, double degrees) {
    const double a = degrees * M_PI / 180.0, c = std::cos(a), s = std::sin(a);
    const int a1 = (axis + 1) % 3, a2 = (axis + 2) % 3;
    Mat3 r = Identity3();
    r.m[a1][a1] = c;
    r.m[a1][a2] = s;
    r.m[a2][a1] = -s;
    r.m[a2][a2] = c;
    return r;
}

Mat3 Mul(const Mat3& a, const Mat3& b) {
    Mat3 r{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) r.m[i][j] += a.m[i][k] * b.m[k][j];
    return r;
}

// Axis sequence of each order code, as its letters.
const char* const kSequence[12] = {"XYZ", "XYX", "XZY", "XZX", "YZX", "YZY",
                                   "YXZ", "YXY", "ZXY", "ZXZ", "ZYX", "ZYZ"};

Mat3 Reference(const char* sequence, double a0, double a1, double a2) {
    const double angles[3] = {a0, a1, a2};
    Mat3 r = Identity3();
    for (int n = 0; n < 3; ++n) r = Mul(r, AxisRotation(sequence[n] - 'X', angles[n]));
    return r;
}

void ExpectSame3x3(const KMatrix& m, const Mat3& ref, double tolerance) {
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(m.mData[r][c], ref.m[r][c], tolerance) << r << c;
}

KMatrix Filled(double v) {
    KMatrix m;
    for (auto& row : m.mData)
        for (double& e : row) e = v;
    return m;
}

double Uniform(std::mt19937& rng, double lo, double hi) {
    return std::uniform_real_distribution<double>(lo, hi)(rng);
}

// Middle-angle range of an order where Euler angles are unique.
void AngleRanges(int order, double& midLo, double& midHi) {
    if (order == kRotationOrderSpheric) {
        midLo = -170.0, midHi = 170.0;
    } else if ((order & 3) == 3) {
        midLo = -178.0, midHi = -2.0;  // repeated and negated
    } else if (order & 1) {
        midLo = 2.0, midHi = 178.0;
    } else {
        midLo = -88.0, midHi = 88.0;
    }
}

TEST(KRotationOrder, TwelveSequencesMatchComposedAxisRotations) {
    std::mt19937 rng(7);
    for (int order = 0; order < 12; ++order) {
        for (int trial = 0; trial < 20; ++trial) {
            const double a0 = Uniform(rng, -180, 180), a1 = Uniform(rng, -180, 180),
                         a2 = Uniform(rng, -180, 180);
            KMatrix m = Filled(7.0);
            KMatrixSetRotation(m, a0, a1, a2, order);
            SCOPED_TRACE(kSequence[order]);
            ExpectSame3x3(m, Reference(kSequence[order], a0, a1, a2), 1e-14);
            // Only the 3x3 part is written.
            EXPECT_EQ(m.mData[3][0], 7.0);
            EXPECT_EQ(m.mData[0][3], 7.0);

            // The axis-indexed form stores the angle of axis i at angles[i]; the
            // third angle of a repeated sequence sits at the unused axis k.
            const char* s = kSequence[order];
            const int k = 3 - (s[0] - 'X') - (s[1] - 'X');
            KVector4 byAxis;
            byAxis[s[0] - 'X'] = a0;
            byAxis[s[1] - 'X'] = a1;
            byAxis[k] = a2;
            KMatrix ordered;
            KRotationOrder(order).EulerToMatrix(ordered, byAxis);
            EXPECT_EQ(KMatrixCompare3x3(ordered, m, 0.0), 0);
            KMatrixSetRotationOrdered(ordered, byAxis, order);
            EXPECT_EQ(KMatrixCompare3x3(ordered, m, 0.0), 0);
        }
    }
    // Code 0 also has its own direct form.
    KMatrix direct, viaCode;
    KMatrixSetRotationXYZ(direct, 10, 20, 30);
    KMatrixSetRotation(viaCode, KVector4(10, 20, 30), 0);
    EXPECT_EQ(KMatrixCompare3x3(direct, viaCode, 0.0), 0);
    ExpectSame3x3(KMatrix(10, 20, 30), Reference("XYZ", 10, 20, 30), 1e-15);
}

TEST(KRotationOrder, NodeEnumMapsToTheNamedSequence) {
    const char* const names[6] = {"Euler XYZ", "Euler XZY", "Euler YZX",
                                  "Euler YXZ", "Euler ZXY", "Euler ZYX"};
    for (int e = 0; e < 6; ++e) {
        const int code = KRotationOrderFromNodeOrder(e);
        EXPECT_EQ(code, 2 * e);
        KMatrix m;
        KRotationOrder(code).EulerToMatrix(m, KVector4(11, 22, 33));
        const std::string seq = std::string(names[e]).substr(6);
        const double byAxis[3] = {11, 22, 33};
        ExpectSame3x3(m,
                      Reference(seq.c_str(), byAxis[seq[0] - 'X'], byAxis[seq[1] - 'X'],
                                byAxis[seq[2] - 'X']),
                      1e-14);
    }
    EXPECT_EQ(KRotationOrderFromNodeOrder(6), kRotationOrderSpheric);
    EXPECT_EQ(KRotationOrderFromNodeOrder(7), 0);
    EXPECT_EQ(KRotationOrderFromNodeOrder(-1), 0);
}

TEST(KRotationOrder, SphericSingleAxesAreAxisRotations) {
    const double angle = 37.5;
    for (int axis = 0; axis < 3; ++axis) {
        KVector4 angles;
        angles[axis] = angle;
        KMatrix m;
        KRotationOrder(kRotationOrderSpheric).EulerToMatrix(m, angles);
        ExpectSame3x3(m, AxisRotation(axis, angle), 1e-14);
    }
    // Twist about X first, then the swing.
    KMatrix m, twist, swing;
    KMatrixSetRotation(m, 30, 40, 0, kRotationOrderSpheric);
    KMatrixSetRotation(twist, 30, 0, 0, kRotationOrderSpheric);
    KMatrixSetRotation(swing, 0, 40, 0, kRotationOrderSpheric);
    KMatrix product;
    KMatrixMultiply3x3(product, twist, swing);
    EXPECT_EQ(KMatrixCompare3x3(product, m, 1e-14), 0);
}

TEST(KRotationOrder, EulerMatrixEulerRoundTripAllOrders) {
    std::mt19937 rng(11);
    for (int order = 0; order < kRotationOrderCount; ++order) {
        double midLo, midHi;
        AngleRanges(order, midLo, midHi);
        const KRotationOrder ro(order);
        for (int trial = 0; trial < 200; ++trial) {
            KVector4 in(0, 0, 0, 5.0);
            double seq[3] = {Uniform(rng, -179.9, 179.9), Uniform(rng, midLo, midHi),
                             Uniform(rng, -179.9, 179.9)};
            if (order == kRotationOrderSpheric) seq[2] = Uniform(rng, -170, 170);
            // Swings near a half turn are ill-conditioned.
            const double tolerance = order == kRotationOrderSpheric ? 1e-7 : 1e-9;
            // Sequence angles go to their axes; spheric is X, Y, Z.
            KMatrix m;
            KMatrixSetRotation(m, seq[0], seq[1], seq[2], order);
            KVector4 out(9, 9, 9, 5.0);
            KMatrixToEuler(out, m, order);
            for (int n = 0; n < 3; ++n)
                EXPECT_NEAR(out[n], seq[n], tolerance) << "order " << order << " angle " << n;
            EXPECT_EQ(out[3], 5.0);

            // Through the object: axis-indexed in and out.
            KVector4 byAxis;
            KMatrixToEuler(byAxis, m, order);
            ro.MatrixToEuler(in, m);
            KMatrix again;
            ro.EulerToMatrix(again, in);
            EXPECT_EQ(KMatrixCompare3x3(again, m, 1e-12), 0) << "order " << order;
        }
    }
}

TEST(KRotationOrder, AnyRotationSurvivesMatrixEulerMatrix) {
    std::mt19937 rng(5);
    std::normal_distribution<double> normal;
    for (int trial = 0; trial < 200; ++trial) {
        KQuaternion q(normal(rng), normal(rng), normal(rng), normal(rng));
        KMatrix m;
        KQuaternionToMatrix(m, q);
        for (int order = 0; order < kRotationOrderCount; ++order) {
            KVector4 angles;
            KRotationOrder(order).MatrixToEuler(angles, m);
            KMatrix back;
            KRotationOrder(order).EulerToMatrix(back, angles);
            // Code 0 snaps to the gimbal form within 1e-6 of it.
            EXPECT_EQ(KMatrixCompare3x3(back, m, order == 0 ? 2e-6 : 1e-9), 0) << order;
        }
    }
}

TEST(KRotationOrder, XYZGimbalEdges) {
    // m(0,2) = 1: Y = -90, Z = 0, and X carries the combined angle.
    KMatrix m;
    KMatrixSetRotationXYZ(m, 25, -90, 15);
    m.mData[0][2] = 1.0;
    KVector4 a;
    KMatrixToEulerXYZ(a, m);
    EXPECT_EQ(a[1], -90.0);
    EXPECT_EQ(a[2], 0.0);
    EXPECT_NEAR(a[0], 40.0, 1e-12);
    KMatrix back;
    KMatrixSetRotationXYZ(back, a);
    EXPECT_EQ(KMatrixCompare3x3(back, m, 1e-12), 0);

    KMatrixSetRotationXYZ(m, 25, 90, 15);
    m.mData[0][2] = -1.0;
    KMatrixToEulerXYZ(a, m);
    EXPECT_EQ(a[1], 90.0);
    EXPECT_EQ(a[2], 0.0);
    EXPECT_NEAR(a[0], 10.0, 1e-12);
    KMatrixSetRotationXYZ(back, a);
    EXPECT_EQ(KMatrixCompare3x3(back, m, 1e-12), 0);

    // Just inside the threshold the general formula still runs.
    KMatrixSetRotationXYZ(m, 0, -89.9, 0);
    KMatrixToEulerXYZ(a, m);
    EXPECT_NEAR(a[1], -89.9, 1e-9);
}

TEST(KRotationOrder, SequenceGimbalEdges) {
    for (int order = 1; order < 12; ++order) {
        const double half = (order & 2) ? -180.0 : 180.0;
        const double middles[2] = {(order & 1) ? 0.0 : 90.0, (order & 1) ? half : -90.0};
        for (double middle : middles) {
            KMatrix m;
            KMatrixSetRotation(m, 35, middle, 20, order);
            KVector4 a;
            KMatrixToEuler(a, m, order);
            EXPECT_EQ(a[2], 0.0) << order << " " << middle;
            EXPECT_NEAR(a[1], middle, 1e-9) << order;
            KMatrix back;
            KMatrixSetRotation(back, a, order);
            EXPECT_EQ(KMatrixCompare3x3(back, m, 1e-12), 0) << order << " " << middle;
        }
    }
}

TEST(KRotationOrder, SphericEdges) {
    KVector4 a(5, 5, 5, 0);
    KRotationOrder spheric(kRotationOrderSpheric);
    spheric.MatrixToEuler(a, KMatrix());
    EXPECT_EQ(a[0], 0.0);
    EXPECT_EQ(a[1], 0.0);
    EXPECT_EQ(a[2], 0.0);
    // X axis turned right round: no unique swing, all three 180.
    KMatrix flip;
    flip.mData[0][0] = flip.mData[1][1] = -1.0;
    spheric.MatrixToEuler(a, flip);
    EXPECT_EQ(a[0], 180.0);
    EXPECT_EQ(a[1], 180.0);
    EXPECT_EQ(a[2], 180.0);
    // Swings at the edge of the domain and scaled or degenerate input give no NaN.
    const double edges[][3] = {{0, 179.999, 179.999}, {0, -179.99999, 0}, {90, 179.9, -179.9}};
    for (const auto& e : edges) {
        KMatrix m;
        KMatrixSetRotation(m, e[0], e[1], e[2], kRotationOrderSpheric);
        spheric.MatrixToEuler(a, m);
        for (int n = 0; n < 3; ++n) EXPECT_FALSE(std::isnan(a[n]));
    }
    KMatrix odd = Filled(0.0);
    odd.mData[0][0] = -0.5;
    odd.mData[0][1] = 3.0;
    odd.mData[0][2] = 3.0;
    spheric.MatrixToEuler(a, odd);
    for (int n = 0; n < 3; ++n) EXPECT_FALSE(std::isnan(a[n]));
}

TEST(KRotationOrder, DegenerateMatricesGiveNoNaN) {
    const KMatrix zero = Filled(0.0);
    for (int order = -1; order <= kRotationOrderCount; ++order) {
        KVector4 a;
        KMatrixToEuler(a, zero, order);
        for (int n = 0; n < 3; ++n) EXPECT_FALSE(std::isnan(a[n])) << order;
    }
    // A code outside 0-12 counts as 0.
    KMatrix m, m0;
    KMatrixSetRotation(m, 10, 20, 30, 99);
    KMatrixSetRotation(m0, 10, 20, 30, 0);
    EXPECT_EQ(KMatrixCompare3x3(m, m0, 0.0), 0);
}

}  // namespace
