#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "TessellationTestUtil.h"

namespace {

using Curve = KVector4 (*)(const KVector4* p, double t);

KVector4 DeCasteljau(const KVector4* p, double t) {
    KVector4 q[4] = {p[0], p[1], p[2], p[3]};
    for (int level = 3; level > 0; --level)
        for (int k = 0; k < level; ++k) q[k] = q[k] * (1 - t) + q[k + 1] * t;
    return q[0];
}

KVector4 UniformBSpline(const KVector4* p, double t) {
    const double s = 1 - t;
    return p[0] * (s * s * s / 6) + p[1] * ((3 * t * t * t - 6 * t * t + 4) / 6) +
           p[2] * ((-3 * t * t * t + 3 * t * t + 3 * t + 1) / 6) + p[3] * (t * t * t / 6);
}

KVector4 CatmullRom(const KVector4* p, double t) {
    return (p[1] * 2 + (p[2] - p[0]) * t + (p[0] * 2 - p[1] * 5 + p[2] * 4 - p[3]) * (t * t) +
            (p[1] * 3 - p[0] - p[2] * 3 + p[3]) * (t * t * t)) *
           0.5;
}

// One segment pair of the surface, rows first; columns and rows wrap around the grid.
KVector4 Independent(Curve f, const std::vector<KVector4>& cps, int uCount, int vCount, int col0,
                     int row0, double u, double v) {
    KVector4 rows[4];
    for (int b = 0; b < 4; ++b) {
        KVector4 line[4];
        for (int a = 0; a < 4; ++a)
            line[a] = cps[size_t(((row0 + b) % vCount) * uCount + (col0 + a) % uCount)];
        rows[b] = f(line, u);
    }
    return f(rows, v);
}

struct EvaluationCase {
    const char* name;
    int type;
    Curve curve;
    int stride;
    int uCount, vCount, step;
    bool uClosed;
    double tension = 0;  // a Cardinal tension set after the type, when not 0
};

TEST(KQovPatchTessellator, MatchesAnIndependentEvaluation) {
    const EvaluationCase cases[] = {
        {"bezier two segments", KQovPatchTessellator::eBezier, DeCasteljau, 3, 7, 4, 4, false},
        {"bezier closed", KQovPatchTessellator::eBezier, DeCasteljau, 3, 7, 4, 2, true},
        // Segment columns run past twice the count: the wrap must be a true modulo.
        {"bezier closed short", KQovPatchTessellator::eBezier, DeCasteljau, 3, 4, 4, 1, true},
        {"bspline open", KQovPatchTessellator::eBSpline, UniformBSpline, 1, 6, 5, 3, false},
        {"bspline closed", KQovPatchTessellator::eBSpline, UniformBSpline, 1, 5, 4, 4, true},
        {"cardinal", KQovPatchTessellator::eCardinal, CatmullRom, 1, 6, 4, 3, false},
        {"tension 1", KQovPatchTessellator::eLinear, CatmullRom, 1, 6, 4, 4, false, 1.0},
    };
    for (const EvaluationCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto t = CreatePatchTessellator(c.type, c.type);
        if (c.tension != 0) {
            EXPECT_EQ(t->SetUCardinalTension(c.tension), 1);
            EXPECT_EQ(t->SetVCardinalTension(c.tension), 1);
        }
        t->SetUClosed(c.uClosed ? 1 : 0);
        t->SetUStep(c.step);
        t->SetVStep(c.step);
        const std::vector<KVector4> cps = WavyGrid(c.uCount, c.vCount);
        const TessellatedGrid g = RunTessellator(*t, cps, c.uCount, c.vCount);
        ASSERT_TRUE(g.ok);
        const int n = c.step * c.stride;
        const int uSegments =
            c.uClosed ? (c.uCount - 4) / c.stride + 4 : (c.uCount - 4) / c.stride + 1;
        const int vSegments = (c.vCount - 4) / c.stride + 1;
        ASSERT_EQ(g.width, c.uClosed ? uSegments * n : uSegments * n + 1);
        ASSERT_EQ(g.height, vSegments * n + 1);
        for (int j = 0; j < g.height; ++j) {
            const int t0 = std::min(j / n, vSegments - 1);
            const double v = double(j - t0 * n) / n;
            for (int i = 0; i < g.width; ++i) {
                const int s = std::min(i / n, uSegments - 1);
                const double u = double(i - s * n) / n;
                auto eval = [&](double du, double dv) {
                    return Independent(c.curve, cps, c.uCount, c.vCount, s * c.stride,
                                       t0 * c.stride, u + du, v + dv);
                };
                ExpectNear3(g.At(i, j), eval(0, 0), 1e-12);
                EXPECT_EQ(g.At(i, j)[3], 7.0);  // w untouched
                // Normal: V derivative × U derivative, by central differences.
                const double h = 1e-6;
                const KVector4 du = (eval(h, 0) - eval(-h, 0)) * (0.5 / h);
                const KVector4 dv = (eval(0, h) - eval(0, -h)) * (0.5 / h);
                ExpectNear3(Unit(g.NormalAt(i, j)), Unit(dv.CrossProduct(du)), 1e-6);
                EXPECT_EQ(g.NormalAt(i, j)[3], 7.0);
            }
        }
    }
}

struct CountCase {
    int type;
    bool closed;
    int count, step, expected;
};

TEST(KQovPatchTessellator, VertexCountsFollowSegmentsAndSteps) {
    using T = KQovPatchTessellator;
    const CountCase cases[] = {
        {T::eBSpline, false, 4, 4, 5},
        {T::eBSpline, true, 5, 4, 20},
        {T::eBSpline, true, 4, 3, 12},
        {T::eBezier, false, 7, 4, 25},
        {T::eBezier, false, 6, 4, 13},
        {T::eBezier, true, 6, 4, 48},
        {T::eBezierQuadric, false, 5, 4, 17},
        {T::eBezierQuadric, true, 4, 4, 24},
        {T::eCardinal, false, 5, 2, 5},
        {T::eCardinal, true, 5, 2, 10},
        {T::eLinear, false, 3, 4, 9},
        {T::eLinear, true, 3, 4, 12},
        // Too few control points for one segment: nothing, never a wrapped count.
        {T::eBSpline, false, 3, 4, 0},
        {T::eBSpline, true, 3, 4, 0},
        {T::eBezier, false, 3, 4, 0},
        {T::eLinear, false, 1, 4, 0},
        {T::eLinear, false, 0, 4, 0},
        // Steps below 1 act as 1.
        {T::eBSpline, false, 5, 0, 3},
        {T::eBSpline, false, 5, -6, 3},
    };
    for (const CountCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.type) + (c.closed ? " closed " : " open ") +
                     std::to_string(c.count) + " step " + std::to_string(c.step));
        auto t = CreatePatchTessellator(c.type, KQovPatchTessellator::eLinear);
        t->SetUClosed(c.closed ? 1 : 0);
        EXPECT_EQ(t->SetUStep(c.step), std::max(c.step, 1));
        t->SetControlPoints(nullptr, c.count, 2);
        EXPECT_EQ(t->GetUVertexCount(), c.expected);
        EXPECT_EQ(t->GetVVertexCount(), 5);
    }
    // Huge steps and strides are refused, never multiplied past 64 bits.
    auto t = CreatePatchTessellator(KQovPatchTessellator::eBSpline, KQovPatchTessellator::eLinear);
    t->SetUClosed(1);
    t->SetUSegmentSize(1 << 20);
    t->SetUStride(INT32_MAX);
    t->SetUStep(INT32_MAX);
    t->SetControlPoints(nullptr, 1 << 20, 2);
    EXPECT_EQ(t->GetUVertexCount(), 0);
}

TEST(KQovPatchTessellator, PlanarBSplineStaysInItsPlane) {
    auto t = CreatePatchTessellator(KQovPatchTessellator::eBSpline, KQovPatchTessellator::eBSpline);
    std::vector<KVector4> cps = WavyGrid(6, 5);
    for (KVector4& p : cps) p[2] = 2.5;
    const TessellatedGrid g = RunTessellator(*t, cps, 6, 5);
    ASSERT_TRUE(g.ok);
    for (size_t k = 0; k < g.points.size(); ++k) {
        EXPECT_NEAR(g.points[k][2], 2.5, 1e-12);
        EXPECT_NEAR(g.normals[k][0], 0.0, 1e-12);
        EXPECT_NEAR(g.normals[k][1], 0.0, 1e-12);
        EXPECT_LT(g.normals[k][2], 0.0);  // V tangent × U tangent: one side throughout
    }
}

TEST(KQovPatchTessellator, InfluencesOfEveryPointSumToOne) {
    for (int type = 0; type <= 4; ++type) {
        for (int closed = 0; closed <= 1; ++closed) {
            SCOPED_TRACE(std::to_string(type) + (closed ? " closed" : " open"));
            auto t = CreatePatchTessellator(type, type);
            t->SetUClosed(closed);
            t->SetVStep(3);
            KQovWeightTable table;
            const TessellatedGrid g = RunTessellator(*t, WavyGrid(7, 7), 7, 7, &table);
            ASSERT_TRUE(g.ok);
            for (int m = 0; m < g.width * g.height; ++m) {
                EXPECT_NEAR(table.SumWeights(1, m, false), 1.0, 1e-12);
                // Zero weights are left out: a Linear segment reads 2 × 2 points, a quadric 3 × 3.
                const int points[] = {4, 3, 4, 4, 2};
                EXPECT_LE(table.GetEntryCount(1, m), points[type] * points[type]);
                for (int k = 0; k < table.GetEntryCount(1, m); ++k)
                    EXPECT_NE(table.GetEntry(1, m, k)->weight, 0.0);
            }
        }
    }
}

TEST(KQovPatchTessellator, CollapsedRowGetsNormalsFromTheNextRow) {
    // A flat fan: the first control row is one repeated point.
    std::vector<KVector4> cps;
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i) cps.emplace_back(j == 0 ? 0.0 : i - 1.5, j, 0.0, 1.0);
    auto t = CreatePatchTessellator(KQovPatchTessellator::eBezier, KQovPatchTessellator::eBezier);
    const TessellatedGrid g = RunTessellator(*t, cps, 4, 4);
    ASSERT_TRUE(g.ok);
    EXPECT_TRUE(t->IsVStartCollapsed());
    EXPECT_FALSE(t->IsVEndCollapsed());
    EXPECT_FALSE(t->IsUStartCollapsed());
    EXPECT_FALSE(t->IsUEndCollapsed());
    for (int i = 0; i < g.width; ++i) {
        const KVector4& n = g.NormalAt(i, 0);
        EXPECT_GT(std::fabs(n[2]), 1e-6) << i;
        EXPECT_NEAR(Unit(n)[2], Unit(g.NormalAt(i, 1))[2], 1e-12);
    }
}

TEST(KQovPatchTessellator, GridsOfOneLineHaveNoCollapsedEdges) {
    const std::vector<KVector4> cps(5, KVector4(1, 1, 1, 1));
    for (auto size : {std::pair<int, int>{1, 5}, {5, 1}, {1, 1}, {0, 0}}) {
        auto t =
            CreatePatchTessellator(KQovPatchTessellator::eLinear, KQovPatchTessellator::eLinear);
        t->SetControlPoints(cps.data(), size.first, size.second);
        EXPECT_FALSE(t->IsUStartCollapsed() || t->IsUEndCollapsed() || t->IsVStartCollapsed() ||
                     t->IsVEndCollapsed());
    }
}

TEST(KQovPatchTessellator, RefusalsWriteNothing) {
    const std::vector<KVector4> cps = WavyGrid(4, 4);
    struct Case {
        const char* name;
        int uCount, step;
        bool withOutputs;
        const char* message;
    };
    const Case cases[] = {
        {"no output", 4, 4, false, "Control points or output arrays missing"},
        {"too few", 3, 4, true, "The surface yields no vertex"},
        {"too large", 4, 5000, true, "The tessellated surface is too large"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto t =
            CreatePatchTessellator(KQovPatchTessellator::eBSpline, KQovPatchTessellator::eBSpline);
        t->SetUStep(c.step);
        t->SetVStep(c.step);
        t->SetControlPoints(cps.data(), c.uCount, 4);
        KVector4 sentinel(9, 9, 9, 9), normal(9, 9, 9, 9);
        if (c.withOutputs) {
            t->SetOutputPoints(&sentinel);
            t->SetOutputNormals(&normal);
        }
        KQovWeightTable table(16, 1);
        EXPECT_FALSE(t->Tessellate(&table));
        EXPECT_STREQ(t->GetError().GetErrorText(), c.message);
        EXPECT_EQ(sentinel[0], 9.0);
        EXPECT_EQ(table.GetEntryCount(1, 0), 0);
        if (c.step == 5000) {
            EXPECT_EQ(t->GetUVertexCount(), 0);
        }
    }
}

TEST(KQovPatchTessellator, UnknownTypeChangesNothing) {
    auto t = CreatePatchTessellator(KQovPatchTessellator::eBezier, KQovPatchTessellator::eBezier);
    t->SetUStep(6);
    t->SetControlPoints(nullptr, 7, 4);
    const int before = t->GetUVertexCount();
    EXPECT_FALSE(t->SetUPatchType(7));
    EXPECT_FALSE(t->SetUPatchType(-1));
    EXPECT_EQ(t->GetUVertexCount(), before);
    EXPECT_EQ(before, 37);  // two segments of 18 samples, plus the end
    EXPECT_TRUE(t->SetUPatchType(KQovPatchTessellator::eBSpline));
    EXPECT_EQ(t->GetUVertexCount(), 17);  // the type resets the step to 4
}

TEST(KQovPatchTessellator, FurtherGridsReuseOrRebuildTheTables) {
    auto reused =
        CreatePatchTessellator(KQovPatchTessellator::eBezier, KQovPatchTessellator::eBSpline);
    reused->SetUClosed(1);
    auto check = [&](int u, int v, double shift) {
        std::vector<KVector4> cps = WavyGrid(u, v);
        for (KVector4& p : cps) p[2] += shift;
        auto fresh =
            CreatePatchTessellator(KQovPatchTessellator::eBezier, KQovPatchTessellator::eBSpline);
        fresh->SetUClosed(1);
        const TessellatedGrid a = RunTessellator(*reused, cps, u, v);
        const TessellatedGrid b = RunTessellator(*fresh, cps, u, v);
        ASSERT_TRUE(a.ok && b.ok);
        ASSERT_EQ(a.points.size(), b.points.size());
        for (size_t k = 0; k < a.points.size(); ++k) {
            ExpectNear3(a.points[k], b.points[k], 0.0);
            ExpectNear3(a.normals[k], b.normals[k], 0.0);
        }
    };
    check(7, 5, 0.0);
    check(7, 5, 1.0);  // a blend shape of the same size
    check(8, 5, 0.0);  // same vertex count, other wrap
    check(10, 6, 0.0);
}

}  // namespace
