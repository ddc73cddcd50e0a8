#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <new>
#include <string>

#include "ChannelTestUtil.h"
#include "NodeTestUtil.h"
#include "animation/KFCurve.h"
#include "animation/KFCurveFilterUnroll.h"
#include "animation/KFCurveSettings.h"
#include "common/RefusingHeap.h"
#include "foundation/KMatrix.h"
#include "foundation/KRotationOrder.h"

namespace {

std::array<double, 3> Triple(KFCurveNode& node, int key) {
    return {AxisCurve(node, 0)->KeyGetValue(key), AxisCurve(node, 1)->KeyGetValue(key),
            AxisCurve(node, 2)->KeyGetValue(key)};
}

bool SameRotation(const std::array<double, 3>& a, const std::array<double, 3>& b, int order) {
    return KMatrixCompare3x3(EulerMatrix(order, a.data()), EulerMatrix(order, b.data()), 1e-4) == 0;
}

}  // namespace

TEST(KFCurveFilterUnroll, WrapContinuesPastTheTurn) {
    auto node = MakeRotationNode({{0, {350, 0, 0}}, {1, {10, 0, 0}}});
    KFCurveFilterUnroll filter;
    EXPECT_STREQ(filter.GetName(), "Unroll Filter");
    EXPECT_DOUBLE_EQ(filter.GetPrecision(), 0.25);
    EXPECT_FALSE(filter.GetPath());
    EXPECT_TRUE(filter.Apply(*node, true));
    ASSERT_EQ(AxisCurve(*node, 0)->KeyGetCount(), 2);
    EXPECT_NEAR(AxisCurve(*node, 0)->KeyGetValue(0), 350.0, 1e-4);
    EXPECT_NEAR(AxisCurve(*node, 0)->KeyGetValue(1), 370.0, 1e-4);
}

TEST(KFCurveFilterUnroll, EveryKeyKeepsItsRotation) {
    uint32_t state = 7;
    auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return static_cast<double>(state >> 8) / (1u << 24) * 720.0 - 360.0;
    };
    for (int order : {0, 2, 4, 6, 8, 10, 12}) {  // the codes of node rotation orders
        std::vector<RotationKey> keys;
        for (int i = 0; i < 60; ++i) keys.push_back({double(i), {next(), next(), next()}});
        auto node = MakeRotationNode(keys);
        node->SetRotationOrder(order);
        auto original = MakeRotationNode(keys);
        KFCurveFilterUnroll filter;
        EXPECT_TRUE(filter.Apply(*node, true));
        ASSERT_EQ(AxisCurve(*node, 0)->KeyGetCount(), 60);
        double jumps = 0.0;
        for (int k = 0; k < 60; ++k) {
            EXPECT_TRUE(SameRotation(Triple(*node, k), Triple(*original, k), order))
                << "order " << order << " key " << k;
            if (k > 0) jumps += std::fabs(Triple(*node, k)[0] - Triple(*node, k - 1)[0]);
        }
        if (order != 12) {
            EXPECT_LT(jumps / 59.0, 180.0);
        }
    }
}

TEST(KFCurveFilterUnroll, SingleKeyAndSphericOrder) {
    auto one = MakeRotationNode({{0, {350, 0, 0}}});
    KFCurveFilterUnroll filter;
    EXPECT_TRUE(filter.Apply(*one, true));
    EXPECT_NEAR(AxisCurve(*one, 0)->KeyGetValue(0), 350.0, 1e-4);

    auto spheric = MakeRotationNode({{0, {10, 0, 0}}, {1, {350, 0, 0}}});
    spheric->SetRotationOrder(kRotationOrderSpheric);
    EXPECT_TRUE(filter.Apply(*spheric, true));
    EXPECT_NEAR(AxisCurve(*spheric, 0)->KeyGetValue(1), 350.0, 1e-4);
}

TEST(KFCurveFilterUnroll, OddShapes) {
    KFCurveFilterUnroll filter;
    // Y with fewer keys than X is synchronised in the work copy first.
    auto node = MakeRotationNode({{0, {350, 0, 0}}, {1, {10, 0, 0}}, {2, {30, 0, 0}}});
    AxisCurve(*node, 1)->KeyRemoveAt(1);
    EXPECT_TRUE(filter.Apply(*node, true));
    EXPECT_EQ(AxisCurve(*node, 1)->KeyGetCount(), 3);

    // Extra keys on one channel only, outside a finite span: partners are found by time.
    auto spanned = MakeRotationNode({{0, {0, 0, 0}}, {1, {350, 0, 0}}, {2, {10, 0, 0}}});
    AxisCurve(*spanned, 0)->KeyRemoveAt(0);
    const KFCurveKey extra = AxisCurve(*spanned, 2)->KeyGetRecord(0);
    AxisCurve(*spanned, 2)->KeyAdd(Frames(5), extra);
    filter.SetStart(Frames(1));
    filter.SetStop(Frames(2));
    EXPECT_TRUE(filter.Apply(*spanned, true));
    ASSERT_EQ(AxisCurve(*spanned, 0)->KeyGetCount(), 2);
    EXPECT_NEAR(AxisCurve(*spanned, 0)->KeyGetValue(1), 370.0, 1e-4);
    EXPECT_EQ(AxisCurve(*spanned, 2)->KeyGetCount(), 4);
    filter.Reset();

    // A keyless channel takes part through its default value.
    auto keyless = MakeRotationNode({{0, {350, 0, 0}}, {1, {10, 0, 0}}});
    AxisCurve(*keyless, 2)->KeyClear();
    AxisCurve(*keyless, 2)->SetValue(5.0f);
    EXPECT_TRUE(filter.Apply(*keyless, true));
    ASSERT_EQ(AxisCurve(*keyless, 2)->KeyGetCount(), 2);
    EXPECT_NEAR(AxisCurve(*keyless, 2)->KeyGetValue(1), 5.0, 1e-4);
    EXPECT_NEAR(AxisCurve(*keyless, 0)->KeyGetValue(1) - AxisCurve(*keyless, 0)->KeyGetValue(0),
                20.0, 1e-4);

    // A curveless child is refused and nothing changes.
    auto curveless = MakeRotationNode({{0, {350, 0, 0}}, {1, {10, 0, 0}}});
    curveless->Get(2)->SetCurve(nullptr, true);
    EXPECT_FALSE(filter.Apply(*curveless, true));
    EXPECT_EQ(filter.GetError().GetErrorCode(), 2);
    EXPECT_STREQ(filter.GetError().GetErrorText(),
                 "Unroll Filter, Works only on rotation CurveNodes.");
    EXPECT_NEAR(AxisCurve(*curveless, 0)->KeyGetValue(1), 10.0, 1e-4);

    // Children of other names are unrolled by position.
    std::unique_ptr<KFCurveNode> other(
        KFCurveNode::Create("Rot", nullptr, KFCURVENODE_LAYER_EULER_ROTATION));
    const char* names[3] = {"A", "B", "C"};
    for (int a = 0; a < 3; ++a) {
        AddAxis(*other, names[a],
                MakeCurve({{0, a == 0 ? 350.0f : 0.0f}, {1, a == 0 ? 10.0f : 0.0f}}).release());
    }
    EXPECT_TRUE(filter.Apply(*other, true));
    EXPECT_NEAR(AxisCurve(*other, 0)->KeyGetValue(1) - AxisCurve(*other, 0)->KeyGetValue(0), 20.0,
                1e-4);

    auto outside = MakeRotationNode({{0, {350, 0, 0}}, {1, {10, 0, 0}}});
    filter.SetStart(Frames(5));
    EXPECT_FALSE(filter.Apply(*outside, true));
    EXPECT_EQ(filter.GetError().GetErrorCode(), 0);
    EXPECT_NEAR(AxisCurve(*outside, 0)->KeyGetValue(0), 350.0, 1e-4);
    filter.Reset();

    std::unique_ptr<KFCurveNode> plain(KFCurveNode::Create("T", nullptr, 1));
    EXPECT_FALSE(filter.Apply(*plain, true));
    auto empty = MakeRotationNode({});
    EXPECT_FALSE(filter.Apply(*empty, true));
    EXPECT_EQ(filter.GetError().GetErrorCode(), 0);
    EXPECT_STREQ(filter.GetError().GetErrorText(), "Unroll Filter, No key to be filtered.");
}

TEST(KFCurveFilterUnroll, CurveForms) {
    KFCurveFilterUnroll filter;
    auto x = MakeCurve({{0, 350}, {1, 10}});
    auto y = MakeCurve({{0, 0}, {1, 0}});
    auto z = MakeCurve({{0, 0}, {1, 0}});
    EXPECT_FALSE(filter.Apply(*x));
    EXPECT_EQ(filter.GetError().GetErrorCode(), 2);
    KFCurve* two[] = {x.get(), y.get()};
    EXPECT_FALSE(filter.Apply(two, 2));
    KFCurve* three[] = {x.get(), y.get(), z.get()};
    EXPECT_TRUE(filter.Apply(three, 3));
    EXPECT_NEAR(x->KeyGetValue(1) - x->KeyGetValue(0), 20.0, 1e-4);
}

TEST(KFCurveFilterUnroll, PathMeasure) {
    const double a[3] = {10, 20, 30};
    EXPECT_DOUBLE_EQ(KFCurveFilterUnroll::PathMeasure(a, a), 100.0);
    // Equivalent triples: a long way in Euler angles, no way in rotation.
    const double flipped[3] = {190, 160, 210};
    EXPECT_LT(KFCurveFilterUnroll::PathMeasure(a, flipped), 0.01);
    const double near[3] = {11, 20, 30};
    EXPECT_NEAR(KFCurveFilterUnroll::PathMeasure(a, near), 1.0, 0.1);
}

TEST(KFCurveFilterUnroll, RotationFilterSettingRunsIt) {
    auto node = MakeRotationNode({{0, {350, 0, 0}}, {1, {10, 0, 0}}, {2, {30, 0, 0}}});
    ASSERT_EQ(GetRotationFilterMode(), KFCURVE_ROTATION_FILTER_UNROLL);
    ApplyRotationFilter(node.get(), Frames(0), Frames(2));
    EXPECT_NEAR(AxisCurve(*node, 0)->KeyGetValue(0), 350.0, 1e-4);
    EXPECT_NEAR(AxisCurve(*node, 0)->KeyGetValue(1), 370.0, 1e-4);
    EXPECT_NEAR(AxisCurve(*node, 0)->KeyGetValue(2), 390.0, 1e-4);
    ApplyRotationFilter(nullptr, Frames(0), Frames(2));

    // A span that starts at key 1 takes key 1 as the reference.
    auto late = MakeRotationNode({{0, {350, 0, 0}}, {1, {170, 0, 0}}, {2, {-170, 0, 0}}});
    ApplyRotationFilter(late.get(), Frames(1), Frames(2));
    EXPECT_NEAR(AxisCurve(*late, 0)->KeyGetValue(0), 350.0, 1e-4);
    EXPECT_NEAR(AxisCurve(*late, 0)->KeyGetValue(1), 170.0, 1e-4);
    EXPECT_NEAR(AxisCurve(*late, 0)->KeyGetValue(2), 190.0, 1e-4);
}

// The unroll filter lends the caller's three rotation curves to a node of its own: each
// allocation refused in turn, the curves come back to the caller (the node would
// otherwise delete them, and a motion read that ran out of memory took its scene apart by
// reading freed curves).
TEST(KFCurveFilterUnroll, AnUnrollOutOfMemoryLeavesTheCurvesToTheirOwner) {
    const int kKeys = 40;  // enough that a copy of a curve allocates its keys apart
    long n = 0;
    for (;; ++n) {
        SCOPED_TRACE("allocation " + std::to_string(n));
        std::unique_ptr<KFCurve> curves[3];
        KFCurve* lent[3];
        for (int i = 0; i < 3; ++i) {
            curves[i].reset(KFCurve::Create());
            for (int k = 0; k < kKeys; ++k)
                curves[i]->KeyAppendFast(KTime(k) * 1000, float(170 * k * (i + 1)));
            lent[i] = curves[i].get();
        }
        KFCurveFilterUnroll filter;
        gThrowIn = n;
        try {
            filter.Apply(lent, 3);
        } catch (const std::bad_alloc&) {
        }
        const bool done = gThrowIn.exchange(-1) >= 0;
        for (auto& curve : curves) {
            // Still the caller's to read and delete (a refused filter may have emptied it).
            const int keys = curve->KeyGetCount();
            if (done) {
                EXPECT_EQ(keys, kKeys);
            }
        }
        if (done) break;
    }
    EXPECT_GT(n, 3);
    // Nor is a copy the filter made on the way left behind.
#if defined(__SANITIZE_ADDRESS__)
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
#endif
}
