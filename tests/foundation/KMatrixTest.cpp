#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <random>

#include "foundation/KAffineMatrix.h"
#include "foundation/KMatrix.h"

namespace {

KMatrix Random(std::mt19937& rng) {
    std::uniform_real_distribution<double> u(-3.0, 3.0);
    KMatrix m;
    for (auto& row : m.mData)
        for (double& e : row) e = u(rng);
    return m;
}

KMatrix TRS(const KVector4& t, const KVector4& r, const KVector4& s) {
    KMatrix m;
    KMatrixSetTRS(m, t, r, s);
    return m;
}

bool Identical(const KMatrix& a, const KMatrix& b) {
    return std::memcmp(a.mData, b.mData, sizeof a.mData) == 0;
}

bool HasNaN(const KMatrix& m) {
    for (const auto& row : m.mData)
        for (double e : row)
            if (std::isnan(e)) return true;
    return false;
}

// Row-vector point transform with the full 4x4 (w = 1), written out here.
KVector4 Apply(const KMatrix& m, const KVector4& p) {
    KVector4 r;
    for (int c = 0; c < 4; ++c)
        r[c] = p[0] * m.mData[0][c] + p[1] * m.mData[1][c] + p[2] * m.mData[2][c] + m.mData[3][c];
    return r;
}

TEST(KMatrix, ConstructionAndRows) {
    const KMatrix id;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) EXPECT_EQ(id.mData[r][c], r == c ? 1.0 : 0.0);
    EXPECT_EQ(static_cast<const void*>(static_cast<const double*>(id)),
              static_cast<const void*>(&id));
    EXPECT_EQ(sizeof(KMatrix), 16 * sizeof(double));
    EXPECT_EQ(sizeof(KAffineMatrix), 16 * sizeof(double));

    KMatrix m(10, 20, 30);
    KMatrix expected;
    KMatrixSetRotationXYZ(expected, 10, 20, 30);
    EXPECT_TRUE(Identical(m, expected));
    EXPECT_TRUE(Identical(KMatrix(KVector4(10, 20, 30)), expected));

    const KVector4 t(1, 2, 3), r(10, 20, 30), s(2, 3, 4);
    KMatrix trs(t, r, s, 4);
    KMatrix manual;
    KMatrixSetTRSOrdered(manual, t, r, s, 4);
    EXPECT_TRUE(Identical(trs, manual));
    EXPECT_EQ(trs.mData[3][2], 3.0);
    EXPECT_EQ(trs.mData[2][3], 0.0);
    EXPECT_EQ(trs[3][1], 2.0);

    const KVector4 row = trs.GetRow(3);
    EXPECT_EQ(row[0], 1.0);
    EXPECT_EQ(row[3], 1.0);
    EXPECT_EQ(trs.GetRow(4)[0], 0.0);
    EXPECT_EQ(trs.GetRow(-1)[3], 0.0);
}

TEST(KMatrix, ProductOrderRowVectors) {
    std::mt19937 rng(3);
    for (int trial = 0; trial < 50; ++trial) {
        KMatrix a, b;
        KMatrixSetTRS(a, KVector4(1, -2, 3), KVector4(trial, 40, -70), KVector4(1, 2, 0.5));
        KMatrixSetTRS(b, KVector4(-4, 5, 6), KVector4(15, -trial, 30), KVector4(3, 1, 1));
        KMatrix ab;
        KMatrixMultiply(ab, a, b);
        const KVector4 p(0.5, -1.5, 2.5, 1.0);
        const KVector4 lhs = Apply(ab, p), rhs = Apply(b, Apply(a, p));
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(lhs[c], rhs[c], 1e-12);
        KVector4 viaFunction;
        KMatrixTransformPoint(viaFunction, ab, p);
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(viaFunction[c], lhs[c], 1e-12);
    }
    // Column 3 of an affine product is (0, 0, 0, 1) whatever the operands hold.
    KMatrix x = Random(rng), y = Random(rng), xy;
    KMatrixMultiply(xy, x, y);
    EXPECT_EQ(xy.mData[0][3], 0.0);
    EXPECT_EQ(xy.mData[1][3], 0.0);
    EXPECT_EQ(xy.mData[2][3], 0.0);
    EXPECT_EQ(xy.mData[3][3], 1.0);
    // The affine operator is the same product.
    KAffineMatrix ax(x), ay(y);
    KMatrix expected;
    KMatrixMultiply(expected, ax, ay);
    EXPECT_TRUE(Identical(ax * ay, expected));
}

TEST(KMatrix, ThreeByThreeProductsLeaveTheRest) {
    std::mt19937 rng(4);
    const KMatrix a = Random(rng), b = Random(rng);
    KMatrix out = Random(rng);
    const KMatrix before = out;
    KMatrixMultiply3x3(out, a, b);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) {
            double e = 0.0;
            for (int k = 0; k < 3; ++k) e += a.mData[r][k] * b.mData[k][c];
            EXPECT_NEAR(out.mData[r][c], e, 1e-12);
        }
    for (int n = 0; n < 4; ++n) {
        EXPECT_EQ(out.mData[3][n], before.mData[3][n]);
        EXPECT_EQ(out.mData[n][3], before.mData[n][3]);
    }
    KMatrix bt = b, viaTranspose = out, direct = out;
    KMatrixTranspose3x3(bt, b);
    KMatrixMultiply3x3(viaTranspose, a, bt);
    KMatrixMultiplyTransposed3x3(direct, a, b);
    EXPECT_EQ(KMatrixCompare(direct, viaTranspose, 1e-14), 0);

    KMatrix t;
    KMatrixTranspose(t, a);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) EXPECT_EQ(t.mData[r][c], a.mData[c][r]);
    KMatrix t3 = Random(rng);
    const KMatrix t3Before = t3;
    KMatrixTranspose3x3(t3, a);
    EXPECT_EQ(t3.mData[1][2], a.mData[2][1]);
    EXPECT_EQ(t3.mData[3][0], t3Before.mData[3][0]);
}

TEST(KMatrix, OrthogonalInverse) {
    const KMatrix m = TRS(KVector4(3, -4, 5), KVector4(30, -60, 120), KVector4(2, -0.5, 4));
    KMatrix inv, product;
    KMatrixInverseOrthogonal(inv, m);
    KMatrixMultiply(product, m, inv);
    EXPECT_EQ(KMatrixCompare(product, KMatrix(), 1e-12), 0);
    KMatrixMultiply(product, inv, m);
    EXPECT_EQ(KMatrixCompare(product, KMatrix(), 1e-12), 0);

    const KMatrix a = TRS(KVector4(1, 1, 1), KVector4(5, 6, 7), KVector4(1, 1, 1));
    KMatrix q;
    KMatrixMultiplyInverse(q, a, m);
    KMatrixMultiply(product, q, m);
    EXPECT_EQ(KMatrixCompareAffine(product, a, 1e-12), 0);

    KAffineMatrix am(m);
    EXPECT_TRUE(Identical(am.Inverse(), inv));

    // A zero axis has no inverse; it stays zero instead of turning into NaN.
    const KMatrix flat = TRS(KVector4(1, 2, 3), KVector4(10, 20, 30), KVector4(0, 1, 1));
    KMatrixInverseOrthogonal(inv, flat);
    EXPECT_FALSE(HasNaN(inv));
    for (int r = 0; r < 3; ++r) EXPECT_EQ(inv.mData[r][0], 0.0);
}

TEST(KMatrix, ScalingAndDirection) {
    const KMatrix plain = TRS(KVector4(), KVector4(10, 50, -30), KVector4(2, 3, 4));
    KVector4 s(0, 0, 0, 7);
    KMatrixGetScaling(s, plain);
    EXPECT_NEAR(s[0], 2, 1e-14);
    EXPECT_NEAR(s[1], 3, 1e-14);
    EXPECT_NEAR(s[2], 4, 1e-14);
    EXPECT_EQ(s[3], 7.0);
    EXPECT_TRUE(KMatrixIsDirect(plain));

    const KMatrix mirrored = TRS(KVector4(), KVector4(10, 50, -30), KVector4(2, -3, 4));
    KMatrixGetScaling(s, mirrored);
    EXPECT_NEAR(s[0], -2, 1e-14);
    EXPECT_NEAR(s[1], -3, 1e-14);
    EXPECT_NEAR(s[2], -4, 1e-14);
    EXPECT_FALSE(KMatrixIsDirect(mirrored));
    // Angles after removing the signed scaling rebuild the mirrored matrix.
    KVector4 r;
    KMatrixGetEulerXYZ(r, mirrored);
    const KMatrix rebuilt = TRS(KVector4(), r, s);
    EXPECT_EQ(KMatrixCompareAffine(rebuilt, mirrored, 1e-12), 0);

    KMatrix zero;
    KMatrixScaleAxes(zero, KVector4(0, 0, 0));
    EXPECT_TRUE(KMatrixIsDirect(zero));

    KMatrix scaled;
    KMatrixScaleAxes(scaled, KVector4(2, 3, 4, 99));
    EXPECT_EQ(scaled.mData[1][1], 3.0);
    EXPECT_EQ(scaled.mData[3][3], 1.0);
}

TEST(KMatrix, ZeroScaleGivesNoNaN) {
    const KVector4 rotation(25, -40, 70);
    const KVector4 scales[] = {KVector4(0, 1, 1), KVector4(1, 0, 2), KVector4(2, 3, 0),
                               KVector4(0, 0, 1), KVector4(0, 0, 0)};
    for (const KVector4& scale : scales) {
        const KMatrix m = TRS(KVector4(1, 2, 3), rotation, scale);
        KVector4 r;
        KMatrixGetEulerXYZ(r, m);
        for (int n = 0; n < 3; ++n) EXPECT_FALSE(std::isnan(r[n]));
        KVector4 s;
        KMatrixGetScaling(s, m);
        for (int n = 0; n < 3; ++n) EXPECT_NEAR(s[n], scale[n], 1e-14);

        // The setters go through the decomposition: still no NaN, and the
        // components not replaced are kept.
        KAffineMatrix a(m);
        a.SetR(KVector4(5, 6, 7));
        EXPECT_FALSE(HasNaN(a));
        EXPECT_TRUE(a.GetS() == scale);
        EXPECT_TRUE(a.GetT() == KVector4(1, 2, 3));
        a.SetS(KVector4(1, 1, 1));
        EXPECT_FALSE(HasNaN(a));
        EXPECT_TRUE(a.GetS() == KVector4(1, 1, 1));
        KQuaternion q = a.GetQ();
        EXPECT_FALSE(std::isnan(KVector4Dot(q, q)));
    }
    // With one axis gone the other two still give their angles.
    const KMatrix flatZ = TRS(KVector4(), KVector4(0, 0, 40), KVector4(1, 1, 0));
    KVector4 r;
    KMatrixGetEulerXYZ(r, flatZ);
    EXPECT_TRUE(r == KVector4(0, 0, 40));
}

TEST(KMatrix, Compare) {
    KMatrix a, b;
    b.mData[2][1] = 1e-7;
    EXPECT_TRUE(a == b);
    EXPECT_EQ(KMatrixCompare(a, b, 1e-6), 0);
    EXPECT_NE(KMatrixCompare(a, b, 0.0), 0);
    EXPECT_EQ(KMatrixCompare(a, b, 0.0), -KMatrixCompare(b, a, 0.0));
    b.mData[2][1] = 2e-6;
    EXPECT_FALSE(a == b);
    EXPECT_EQ(KMatrixCompare(a, b, 1e-6), 1);

    // Exact compares look at exactly their elements: column 3 is outside the
    // affine and 3x3 sets, the translation outside the 3x3 set.
    KMatrix c;
    c.mData[0][3] = 5.0;
    c.mData[1][3] = 5.0;
    c.mData[2][3] = 5.0;
    EXPECT_EQ(KMatrixCompareAffine(a, c, 0.0), 0);
    EXPECT_EQ(KMatrixCompare3x3(a, c, 0.0), 0);
    EXPECT_NE(KMatrixCompare(a, c, 0.0), 0);
    c.mData[3][2] = 1.0;
    EXPECT_NE(KMatrixCompareAffine(a, c, 0.0), 0);
    EXPECT_EQ(KMatrixCompareAffine(a, c, 2.0), 0);
    EXPECT_EQ(KMatrixCompare3x3(a, c, 0.0), 0);
    c.mData[2][2] = -0.0 + 1.0;
    c.mData[1][0] = -0.0;
    EXPECT_NE(KMatrixCompare3x3(a, c, 0.0), 0);
    EXPECT_EQ(KMatrixCompare3x3(a, c, 1e-9), 0);
    KMatrix nan;
    nan.mData[1][1] = NAN;
    EXPECT_EQ(KMatrixCompare(a, nan, 1.0), 1);
}

TEST(KAffineMatrix, ComponentAccess) {
    const KVector4 t(1, -2, 3), r(20, -35, 60), s(2, 0.5, 3);
    KAffineMatrix m(t, r, s);
    EXPECT_EQ(KMatrixCompare(m, TRS(t, r, s), 0.0), 0);
    EXPECT_TRUE(m.GetT() == t);
    EXPECT_TRUE(m.GetR() == r);
    EXPECT_TRUE(m.GetS() == s);

    m.SetT(KVector4(7, 8, 9));
    EXPECT_TRUE(m.GetT() == KVector4(7, 8, 9));
    EXPECT_TRUE(m.GetR() == r);
    m.SetR(KVector4(-10, 15, 100));
    EXPECT_TRUE(m.GetR() == KVector4(-10, 15, 100));
    EXPECT_TRUE(m.GetS() == s);
    EXPECT_TRUE(m.GetT() == KVector4(7, 8, 9));
    m.SetS(KVector4(-1, -1, -1));
    EXPECT_TRUE(m.GetS() == KVector4(-1, -1, -1));
    EXPECT_FALSE(KMatrixIsDirect(m));
    m.SetS(s);
    EXPECT_TRUE(m.GetR() == KVector4(-10, 15, 100));

    // Quaternion forms agree with the Euler forms.
    const KQuaternion q = m.GetQ();
    KAffineMatrix viaQ(m);
    viaQ.SetR(KVector4());
    viaQ.SetQ(q);
    EXPECT_EQ(KMatrixCompare(viaQ, m, 1e-12), 0);
    KAffineMatrix tqs;
    tqs.SetTQS(m.GetT(), q, m.GetS());
    EXPECT_EQ(KMatrixCompare(tqs, m, 1e-12), 0);
    KMatrix plain;
    plain.SetTQS(m.GetT(), q, m.GetS());
    EXPECT_EQ(KMatrixCompare(plain, m, 1e-12), 0);

    const KVector4 p = m.MultT(KPoint4(1, 1, 1));
    const KVector4 e = Apply(m, KVector4(1, 1, 1, 1));
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(p[c], e[c], 1e-12);
    EXPECT_EQ(p[3], 1.0);

    KMatrix transposed;
    KMatrixTranspose(transposed, m);
    EXPECT_TRUE(Identical(m.Transpose(), transposed));
}

TEST(KAffineMatrix, AssignmentCopiesTwelveElements) {
    KMatrix source;
    source.mData[0][3] = 9.0;
    source.mData[3][0] = 4.0;
    source.mData[1][2] = 0.5;
    KAffineMatrix a;
    a = source;
    EXPECT_EQ(a.mData[3][0], 4.0);
    EXPECT_EQ(a.mData[1][2], 0.5);
    EXPECT_EQ(a.mData[0][3], 0.0);
    KAffineMatrix b(source);
    EXPECT_EQ(b.mData[0][3], 0.0);
    EXPECT_EQ(b.mData[3][3], 1.0);
    KMatrix set = source;
    set.SetAffine(source);
    EXPECT_EQ(set.mData[0][3], 0.0);
    KMatrix copy;
    KMatrixCopyAffine(copy, source);
    EXPECT_EQ(copy.mData[3][0], 4.0);
    EXPECT_EQ(copy.mData[0][3], 0.0);
    KMatrixCopy(copy, source);
    EXPECT_TRUE(Identical(copy, source));
}

// Each function is run into a separate output and then into each of its own
// operands; the results must be bit-identical.
TEST(KMatrix, EveryFunctionAcceptsAliasedOutput) {
    using Binary = std::function<void(KMatrix&, const KMatrix&, const KMatrix&)>;
    using Unary = std::function<void(KMatrix&, const KMatrix&)>;
    const Binary binaries[] = {KMatrixMultiply, KMatrixMultiply3x3, KMatrixMultiplyTransposed3x3,
                               KMatrixMultiplyInverse};
    const Unary unaries[] = {KMatrixCopy,
                             KMatrixCopyAffine,
                             KMatrixTranspose,
                             KMatrixTranspose3x3,
                             KMatrixInverseOrthogonal,
                             [](KMatrix& o, const KMatrix& m) { o.SetAffine(m); },
                             [](KMatrix& o, const KMatrix& m) {
                                 KAffineMatrix r(m);
                                 o = r * KAffineMatrix(m);
                             }};
    std::mt19937 rng(9);
    for (int trial = 0; trial < 5; ++trial) {
        const KMatrix a = TRS(KVector4(1, 2, 3), KVector4(trial * 30.0, 10, 20), KVector4(2, 1, 3));
        const KMatrix b = Random(rng);
        int index = 0;
        for (const Binary& f : binaries) {
            SCOPED_TRACE(index++);
            KMatrix expectedA = a, expectedB = b, expectedSame = a;
            f(expectedA, a, b);  // out starts as a copy of the operand it replaces
            f(expectedB, a, b);
            f(expectedSame, a, a);
            KMatrix outA = a, outB = b, same = a;
            f(outA, outA, b);
            f(outB, a, outB);
            f(same, same, same);
            EXPECT_TRUE(Identical(outA, expectedA));
            EXPECT_TRUE(Identical(outB, expectedB));
            EXPECT_TRUE(Identical(same, expectedSame));
        }
        for (const Unary& f : unaries) {
            SCOPED_TRACE(index++);
            KMatrix expected = a, out = a;
            f(expected, KMatrix(a));
            f(out, out);
            EXPECT_TRUE(Identical(out, expected));
        }
    }

    const KMatrix m = TRS(KVector4(1, 2, 3), KVector4(10, 20, 30), KVector4(2, 1, 3));
    const KVector4 v(0.5, -1, 2, 3);
    KVector4 expected, out = v;
    KMatrixTransformPoint(expected, m, v);
    KMatrixTransformPoint(out, m, out);
    EXPECT_EQ(KVectorCompare3(out, expected, 0.0), 0);
    EXPECT_EQ(out[3], 3.0);
    out = v;
    KMatrixRotateVector(expected, m, v);
    KMatrixRotateVector(out, m, out);
    EXPECT_EQ(KVectorCompare3(out, expected, 0.0), 0);

    KQuaternion q(0.1, 0.2, 0.3, 0.9), qOut;
    KQuaternionFromMatrix(qOut, m);
    KVector4 angles(1, 2, 3, 4);
    KMatrixGetScaling(angles, m);
    KMatrixGetEulerXYZ(angles, m);
    EXPECT_EQ(angles[3], 4.0);
}

}  // namespace
