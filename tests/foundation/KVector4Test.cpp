#include <gtest/gtest.h>

#include <cmath>

#include "foundation/KColor.h"
#include "foundation/KMatrix.h"
#include "foundation/KQuaternion.h"
#include "foundation/KVector4.h"

namespace {

void ExpectVector(const KVector4& v, double x, double y, double z, double w) {
    EXPECT_DOUBLE_EQ(v[0], x);
    EXPECT_DOUBLE_EQ(v[1], y);
    EXPECT_DOUBLE_EQ(v[2], z);
    EXPECT_DOUBLE_EQ(v[3], w);
}

TEST(KVector4, DefaultsAndLayout) {
    ExpectVector(KVector4(), 0, 0, 0, 0);
    ExpectVector(KPoint4(), 0, 0, 0, 1);
    KVector4 v(1, 2, 3, 4);
    double* p = v;
    EXPECT_EQ(static_cast<void*>(p), static_cast<void*>(&v));
    EXPECT_EQ(sizeof(KVector4), 4 * sizeof(double));
    EXPECT_EQ(v.GetAt(4), 0.0);
    EXPECT_EQ(v.GetAt(-1), 0.0);
    v.SetAt(7, 9.0);
    ExpectVector(v, 1, 2, 3, 4);
    v.SetAt(3, 9.0);
    EXPECT_EQ(v.GetAt(3), 9.0);
}

TEST(KVector4, ArithmeticUsesAllFourComponents) {
    KVector4 a(1, 2, 3, 4), b(10, 20, 30, 40);
    ExpectVector(a + b, 11, 22, 33, 44);
    ExpectVector(b - a, 9, 18, 27, 36);
    ExpectVector(a * 2.0, 2, 4, 6, 8);
    KVector4 c = b;
    c /= 10.0;
    ExpectVector(c, 1, 2, 3, 4);
    c.MultiplyComponents(a);
    ExpectVector(c, 1, 4, 9, 16);
    c.Negate();
    ExpectVector(c, -1, -4, -9, -16);
    c += a;
    ExpectVector(c, 0, -2, -6, -12);
    EXPECT_DOUBLE_EQ(KVector4Dot(a, b), 300.0);
}

TEST(KVector4, ThreeComponentOperations) {
    KVector4 a(1, 2, 3, 100), b(4, 5, 6, -100);
    EXPECT_DOUBLE_EQ(a.DotProduct(b), 32.0);
    EXPECT_DOUBLE_EQ(KVector4(3, 4, 0, 99).Length(), 5.0);
    EXPECT_DOUBLE_EQ(KVectorLength3(KVector4(0, 3, 4, 7)), 5.0);
    ExpectVector(KVector4(1, 0, 0, 5).CrossProduct(KVector4(0, 1, 0, 7)), 0, 0, 1, 1);
    // The cross product is perpendicular to both factors.
    const KVector4 c = a.CrossProduct(b);
    EXPECT_NEAR(c.DotProduct(a), 0.0, 1e-12);
    EXPECT_NEAR(c.DotProduct(b), 0.0, 1e-12);
}

TEST(KVector4, NormalizeKeepsWAndZero) {
    KVector4 v(3, 0, 4, 9);
    v.Normalize();
    ExpectVector(v, 0.6, 0, 0.8, 9);
    KVector4 zero(0, 0, 0, 7);
    zero.Normalize();
    ExpectVector(zero, 0, 0, 0, 7);
    KVector4 out(5, 5, 5, 5);
    KVectorNormalize(out, KVector4(0, 2, 0, 1));
    ExpectVector(out, 0, 1, 0, 5);
    KVector4 same(0, 0, -2, 3);
    KVectorNormalize(same, same);
    ExpectVector(same, 0, 0, -1, 3);
}

TEST(KVector4, Comparisons) {
    KVector4 a(1, 2, 3, 4);
    EXPECT_TRUE(a == KVector4(1 + 9e-7, 2 - 9e-7, 3, -50));
    EXPECT_TRUE(a != KVector4(1 + 2e-6, 2, 3, 4));
    EXPECT_EQ(KVectorCompare3(a, KVector4(1.05, 2, 3, 0), 0.1), 0);
    EXPECT_EQ(KVectorCompare3(a, KVector4(1.2, 2, 3, 0), 0.1), 1);
    EXPECT_EQ(KVectorCompare3(a, KVector4(1, 2, 3, 99), 0.0), 0);
    EXPECT_NE(KVectorCompare3(KVector4(0.0, 1, 1, 0), KVector4(-0.0, 1, 1, 0), 0.0), 0);
    // Byte order gives a sign, and it is antisymmetric.
    const int ab = KVectorCompare3(KVector4(1, 2, 3, 0), KVector4(1, 2, 4, 0), 0.0);
    const int ba = KVectorCompare3(KVector4(1, 2, 4, 0), KVector4(1, 2, 3, 0), 0.0);
    EXPECT_NE(ab, 0);
    EXPECT_EQ(ab, -ba);
    EXPECT_EQ(KVectorCompare3(a, KVector4(NAN, 2, 3, 4), 1.0), 1);
}

TEST(KVector4, Clamp) {
    EXPECT_EQ(KClamp(-1.0, 0.0, 2.0), 0.0);
    EXPECT_EQ(KClamp(3.0, 0.0, 2.0), 2.0);
    EXPECT_EQ(KClamp(1.5, 0.0, 2.0), 1.5);
}

TEST(KColor, SettersClamp) {
    const KColor white;
    EXPECT_EQ(white.mRed, 1.0);
    EXPECT_EQ(white.mAlpha, 1.0);
    KColor c(-0.5, 2, 0.5, 1);
    EXPECT_EQ(c.mRed, 0.0);
    EXPECT_EQ(c.mGreen, 1.0);
    EXPECT_EQ(c.mBlue, 0.5);
    EXPECT_EQ(c.mAlpha, 1.0);
    c.Set(0.25, NAN, 7, -3);
    EXPECT_EQ(c.mRed, 0.25);
    EXPECT_EQ(c.mGreen, 0.0);
    EXPECT_EQ(c.mBlue, 1.0);
    EXPECT_EQ(c.mAlpha, 0.0);
    // Assignment goes through the clamping setter even from a raw-filled source.
    KColor raw;
    raw.mRed = 5.0;
    KColor d;
    d = raw;
    EXPECT_EQ(d.mRed, 1.0);
    EXPECT_FALSE(d != KColor(1, 1, 1, 1));
    EXPECT_TRUE(d != KColor(1, 1, 1, 0.5));
}

TEST(KQuaternion, NormalizeAndZero) {
    KQuaternion q(1, 2, 2, 4);
    KQuaternionNormalize(q, q);
    ExpectVector(q, 0.2, 0.4, 0.4, 0.8);
    KQuaternion zero(0, 0, 0, 0);
    KQuaternion out(9, 9, 9, 9);
    KQuaternionNormalize(out, zero);
    ExpectVector(out, 0, 0, 0, 0);
    KQuaternionNormalize(zero, zero);
    ExpectVector(zero, 0, 0, 0, 0);
}

TEST(KQuaternion, HamiltonProduct) {
    const KQuaternion i(1, 0, 0, 0), j(0, 1, 0, 0), k(0, 0, 1, 0);
    KQuaternion r;
    KQuaternionMultiply(r, i, j);
    ExpectVector(r, 0, 0, 1, 0);  // i j = k
    KQuaternionMultiply(r, j, i);
    ExpectVector(r, 0, 0, -1, 0);  // j i = -k
    KQuaternionMultiply(r, k, k);
    ExpectVector(r, 0, 0, 0, -1);
    // Outputs may alias either input.
    const KQuaternion a(0.1, -0.7, 0.3, 0.6), b(-0.4, 0.2, 0.8, 0.5);
    KQuaternion expected;
    KQuaternionMultiply(expected, a, b);
    KQuaternion a2 = a, b2 = b;
    KQuaternionMultiply(a2, a2, b);
    KQuaternionMultiply(b2, a, b2);
    EXPECT_EQ(KVectorCompare3(a2, expected, 0.0), 0);
    EXPECT_EQ(a2[3], expected[3]);
    EXPECT_EQ(KVectorCompare3(b2, expected, 0.0), 0);
    EXPECT_EQ(b2[3], expected[3]);
    KQuaternion sq = a, sqExpected;
    KQuaternionMultiply(sqExpected, a, a);
    KQuaternionMultiply(sq, sq, sq);
    EXPECT_EQ(KVector4Dot(sq, sq), KVector4Dot(sqExpected, sqExpected));
}

TEST(KQuaternion, MatrixConversions) {
    KQuaternion q;
    KQuaternionFromMatrix(q, KMatrix());
    ExpectVector(q, 0, 0, 0, 1);
    // Half turns about X, Y and Z: the other two diagonal entries flip.
    for (int axis = 0; axis < 3; ++axis) {
        SCOPED_TRACE(axis);
        KMatrix half;
        for (int i = 0; i < 3; ++i)
            if (i != axis) half.mData[i][i] = -1.0;
        KQuaternionFromMatrix(q, half);
        ExpectVector(q, axis == 0, axis == 1, axis == 2, 0);
    }

    // A zero quaternion gives the identity; the length is divided out.
    KMatrix m(10, 20, 30);
    KQuaternionToMatrix(m, KQuaternion(0, 0, 0, 0));
    EXPECT_EQ(KMatrixCompare(m, KMatrix(), 0.0), 0);
    KQuaternion unit(0.1, -0.7, 0.3, 0.6);
    KQuaternionNormalize(unit, unit);
    KMatrix fromUnit, fromScaled;
    KQuaternionToMatrix(fromUnit, unit);
    KQuaternionToMatrix(fromScaled, unit * 3.0);
    EXPECT_EQ(KMatrixCompare3x3(fromUnit, fromScaled, 1e-12), 0);
    // Round trip (w of FromMatrix is never negative).
    KQuaternion back;
    KQuaternionFromMatrix(back, fromUnit);
    for (int n = 0; n < 4; ++n) EXPECT_NEAR(back[n], unit[n], 1e-12);

    // Near a half turn about an axis close to the YZ plane, w is tiny but still counts.
    const double axis[3] = {0.001, 0.6, 0.8};
    const double angle = M_PI - 1e-5;
    const double len = std::sqrt(axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2]);
    const double sh = std::sin(angle / 2) / len;
    const KQuaternion nearHalf(axis[0] * sh, axis[1] * sh, axis[2] * sh, std::cos(angle / 2));
    KMatrix halfTurn;
    KQuaternionToMatrix(halfTurn, nearHalf);
    KQuaternionFromMatrix(back, halfTurn);
    for (int n = 0; n < 4; ++n) EXPECT_NEAR(back[n], nearHalf[n], 1e-10);
    KQuaternionFromMatrix(back, KMatrix(0, 180, 0));
    EXPECT_NEAR(back[1], 1.0, 1e-15);
    EXPECT_GE(back[3], 0.0);

    // Rotation by 90 degrees about Z: X goes to Y, and the Y axis goes to -X.
    const double h = std::sqrt(0.5);
    KMatrix rz;
    KQuaternionToMatrix(rz, KQuaternion(0, 0, h, h));
    KVector4 p;
    KMatrixRotateVector(p, rz, KVector4(1, 0, 0, 0));
    EXPECT_NEAR(p[1], 1.0, 1e-15);
    KVector4 y;
    KQuaternionGetYAxis(y, KQuaternion(0, 0, h, h));
    EXPECT_NEAR(y[0], -1.0, 1e-15);
    EXPECT_NEAR(y[1], 0.0, 1e-15);
    // The Y axis of q matches row 1 of q's matrix.
    KQuaternionGetYAxis(y, unit);
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(y[c], fromUnit.mData[1][c], 1e-15);
    KQuaternion alias = unit;
    KQuaternionGetYAxis(alias, alias);
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(alias[c], fromUnit.mData[1][c], 1e-15);
}

}  // namespace
