#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "TessellationTestUtil.h"
#include "attributes/geometry/KQovNurbTessellator.h"

namespace {

struct NurbInput {
    int uOrder = 4, vOrder = 4;
    int uClosed = 0, vClosed = 0;
    int uStep = 4, vStep = 4;
    int uCount = 0, vCount = 0;
    std::vector<KVector4> points;
    std::vector<double> uKnots, vKnots, weights;
};

TessellatedGrid RunNurb(NurbInput& in, KQovWeightTable* table = nullptr) {
    auto last = CreateNurbTessellator(in.uOrder, in.vOrder);
    last->SetUClosed(in.uClosed);
    last->SetVClosed(in.vClosed);
    last->SetUStep(in.uStep);
    last->SetVStep(in.vStep);
    last->SetParameter(KQovNurbTessellator::eUKnots,
                       in.uKnots.empty() ? nullptr : in.uKnots.data());
    last->SetParameter(KQovNurbTessellator::eVKnots,
                       in.vKnots.empty() ? nullptr : in.vKnots.data());
    if (in.weights.empty()) in.weights.assign(in.points.size(), 1.0);
    last->SetParameter(KQovNurbTessellator::eWeights, in.weights.data());
    return RunTessellator(*last, in.points, in.uCount, in.vCount, table);
}

std::vector<double> Uniform(int count) {
    std::vector<double> knots;
    for (int k = 0; k < count; ++k) knots.push_back(k);
    return knots;
}

TEST(NurbBasis, DerivativeMatchesFiniteDifferencesAndValuesSumToOne) {
    const double knots[] = {0, 0, 0, 0, 0.7, 1.1, 2.5, 3, 3, 3, 3};
    for (int order = 1; order <= 4; ++order) {
        for (double t : {0.2, 0.9, 1.7, 2.2, 2.9}) {
            SCOPED_TRACE("order " + std::to_string(order) + " t " + std::to_string(t));
            double sum = 0;
            for (int i = 0; i + order < 11; ++i) {
                const double h = 1e-7;
                const double fd =
                    (NurbBasis(t + h, i, order, knots) - NurbBasis(t - h, i, order, knots)) /
                    (2 * h);
                EXPECT_NEAR(NurbBasisDerivative(t, i, order, knots), fd, 1e-5) << "i " << i;
                sum += NurbBasis(t, i, order, knots);
            }
            EXPECT_NEAR(sum, 1.0, 1e-12);
        }
    }
}

TEST(CountKnotSpans, CountsOnlyNonZeroIntervalsTheOrderSpans) {
    const double clamped[] = {0, 0, 0, 0, 1, 1, 1, 1};
    const double repeated[] = {0, 0, 0, 0, 1, 1, 2, 2, 2, 2};
    const double flat[] = {3, 3, 3, 3, 3, 3, 3, 3};
    EXPECT_EQ(CountKnotSpans(clamped, 8, 4), 1);
    EXPECT_EQ(CountKnotSpans(repeated, 10, 4), 2);
    EXPECT_EQ(CountKnotSpans(flat, 8, 4), 0);
    EXPECT_EQ(CountKnotSpans(Uniform(12).data(), 12, 4), 5);
    EXPECT_EQ(CountKnotSpans(nullptr, 12, 4), 0);
}

TEST(KQovNurbTessellator, BicubicSingleSpanEndsOnItsCornerPoints) {
    NurbInput in;
    in.uCount = in.vCount = 4;
    in.points = WavyGrid(4, 4);
    in.uKnots = in.vKnots = {0, 0, 0, 0, 1, 1, 1, 1};
    const TessellatedGrid g = RunNurb(in);
    ASSERT_TRUE(g.ok);
    ASSERT_EQ(g.width, 5);
    ASSERT_EQ(g.height, 5);
    ExpectNear3(g.At(0, 0), in.points[0], 1e-15);
    // The last sample sits a hair below the end knot, inside the span.
    const KVector4& last = g.At(4, 4);
    for (int c = 0; c < 3; ++c) {
        EXPECT_NEAR(last[c], in.points[15][c], 1e-7);
        EXPECT_NE(last[c], 0.0);
    }
    EXPECT_EQ(last[3], 7.0);
}

TEST(KQovNurbTessellator, RepeatedInteriorKnotGivesOneSpanFewer) {
    NurbInput in;
    in.vOrder = 2;
    in.uCount = 6;
    in.vCount = 2;
    for (int j = 0; j < 2; ++j)
        for (int i = 0; i < 6; ++i) in.points.emplace_back(i, j, i * i * 0.1, 1);
    in.uKnots = {0, 0, 0, 0, 1, 1, 2, 2, 2, 2};
    in.vKnots = {0, 0, 1, 1};
    const TessellatedGrid g = RunNurb(in);
    ASSERT_TRUE(g.ok);
    EXPECT_EQ(g.width, 9);  // two spans of 4 samples and the end
    for (int i = 1; i < g.width; ++i) EXPECT_GT(g.At(i, 0)[0], g.At(i - 1, 0)[0] + 0.1);
}

TEST(KQovNurbTessellator, RationalQuarterCircleIsExact) {
    NurbInput in;
    in.uOrder = 3;
    in.vOrder = 2;
    in.uCount = 3;
    in.vCount = 2;
    in.uStep = 8;
    for (double z : {0.0, 2.0}) {
        in.points.emplace_back(1, 0, z, 1);
        in.points.emplace_back(1, 1, z, 1);
        in.points.emplace_back(0, 1, z, 1);
        for (double w : {1.0, std::sqrt(0.5), 1.0}) in.weights.push_back(w);
    }
    in.uKnots = {0, 0, 0, 1, 1, 1};
    in.vKnots = {0, 0, 1, 1};
    const TessellatedGrid g = RunNurb(in);
    ASSERT_TRUE(g.ok);
    ASSERT_EQ(g.width, 9);
    ASSERT_EQ(g.height, 5);
    for (int j = 0; j < g.height; ++j)
        for (int i = 0; i < g.width; ++i) {
            const KVector4& p = g.At(i, j);
            EXPECT_NEAR(std::hypot(p[0], p[1]), 1.0, 1e-9);
            const KVector4 n = Unit(g.NormalAt(i, j));
            EXPECT_NEAR(n[2], 0.0, 1e-9);
            EXPECT_NEAR(n[0] * p[0] + n[1] * p[1], -1.0, 1e-9);  // V × U points inwards
        }
}

struct RouteCase {
    const char* name;
    int patchType, patchStep;
    int closed, count;
    std::vector<double> knots;
    int nurbStep;
};

TEST(KQovNurbTessellator, UniformWeightsGiveThePolynomialPatch) {
    const RouteCase cases[] = {
        {"bspline open", KQovPatchTessellator::eBSpline, 3, 0, 6, Uniform(10), 3},
        {"bspline closed", KQovPatchTessellator::eBSpline, 4, 1, 5, Uniform(12), 4},
        {"bezier", KQovPatchTessellator::eBezier, 4, 0, 7, {0, 0, 0, 0, 1, 1, 1, 2, 2, 2, 2}, 12},
    };
    for (const RouteCase& c : cases) {
        for (bool zeroWeights : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (zeroWeights ? " zero weights" : ""));
            NurbInput in;
            in.uClosed = c.closed;
            in.uCount = c.count;
            in.vCount = 5;
            in.uStep = c.nurbStep;
            in.vStep = 2;
            in.points = WavyGrid(c.count, 5);
            // Weights of 0 sum to nothing: the surface is evaluated unweighted.
            in.weights.assign(in.points.size(), zeroWeights ? 0.0 : 1.0);
            in.uKnots = c.knots;
            in.vKnots = Uniform(9);
            const TessellatedGrid nurb = RunNurb(in);

            auto patch = CreatePatchTessellator(c.patchType, KQovPatchTessellator::eBSpline);
            patch->SetUClosed(c.closed);
            patch->SetUStep(c.patchStep);
            patch->SetVStep(2);
            const TessellatedGrid reference = RunTessellator(*patch, in.points, c.count, 5);
            ASSERT_TRUE(nurb.ok && reference.ok);
            ASSERT_EQ(nurb.width, reference.width);
            ASSERT_EQ(nurb.height, reference.height);
            for (size_t k = 0; k < nurb.points.size(); ++k) {
                ExpectNear3(nurb.points[k], reference.points[k], 1e-6);
                ExpectNear3(Unit(nurb.normals[k]), Unit(reference.normals[k]), 1e-6);
            }
        }
    }
}

TEST(KQovNurbTessellator, InfluencesCarryTheControlPointWeights) {
    NurbInput in;
    in.uCount = 6;
    in.vCount = 5;
    in.uClosed = 1;
    in.points = WavyGrid(6, 5);
    in.weights.assign(in.points.size(), 2.0);
    in.uKnots = Uniform(13);
    in.vKnots = Uniform(9);
    KQovWeightTable table;
    const TessellatedGrid g = RunNurb(in, &table);
    ASSERT_TRUE(g.ok);
    EXPECT_EQ(g.width, 24);
    for (int m = 0; m < g.width * g.height; ++m) {
        EXPECT_NEAR(table.SumWeights(1, m, false), 2.0, 1e-12);
        EXPECT_LE(table.GetEntryCount(1, m), 16);
    }
}

TEST(KQovNurbTessellator, RefusesWhatItCannotSample) {
    struct Case {
        const char* name;
        int uOrder;
        std::vector<double> uKnots;
        bool weights;
        const char* message;
    };
    const Case cases[] = {
        {"order 0", 0, Uniform(8), true, "Order out of range 1 to 4"},
        {"order 5", 5, Uniform(9), true, "Order out of range 1 to 4"},
        {"no span", 4, std::vector<double>(8, 1.5), true,
         "Knot vector without a span of non-zero length"},
        {"no knots", 4, {}, true, "Control points or output arrays missing"},
        {"no weights", 4, Uniform(8), false, "Control points or output arrays missing"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto t = CreateNurbTessellator(c.uOrder, 4);
        const std::vector<KVector4> cps = WavyGrid(4, 4);
        const std::vector<double> vKnots = Uniform(8), weights(16, 1.0);
        t->SetParameter(KQovNurbTessellator::eUKnots,
                        c.uKnots.empty() ? nullptr : const_cast<double*>(c.uKnots.data()));
        t->SetParameter(KQovNurbTessellator::eVKnots, const_cast<double*>(vKnots.data()));
        t->SetParameter(KQovNurbTessellator::eWeights,
                        c.weights ? const_cast<double*>(weights.data()) : nullptr);
        t->SetControlPoints(cps.data(), 4, 4);
        KVector4 out(9, 9, 9, 9), normal;
        t->SetOutputPoints(&out);
        t->SetOutputNormals(&normal);
        EXPECT_FALSE(t->Tessellate(nullptr));
        EXPECT_STREQ(t->GetError().GetErrorText(), c.message);
        EXPECT_EQ(out[0], 9.0);
    }
}

}  // namespace
