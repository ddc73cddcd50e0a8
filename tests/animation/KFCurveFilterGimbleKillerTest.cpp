#include <gtest/gtest.h>

#include "NodeTestUtil.h"
#include "animation/KFCurveFilterGimbleKiller.h"

namespace {

double SquaredStep(KFCurveNode& node, int k) {
    double sum = 0.0;
    for (int a = 0; a < 3; ++a) {
        const double d =
            AxisCurve(node, a)->KeyGetValue(k) - AxisCurve(node, a)->KeyGetValue(k - 1);
        sum += d * d;
    }
    return sum;
}

}  // namespace

TEST(KFCurveFilterGimbleKiller, LargeStepsAreSubdivided) {
    auto node = MakeRotationNode({{0, {0, 0, 0}}, {30, {90, 0, 0}}});
    KFCurveFilterGimbleKiller filter;
    EXPECT_STREQ(filter.GetName(), "Gimble Killer");
    EXPECT_TRUE(filter.Apply(*node, true));
    KFCurve* x = AxisCurve(*node, 0);
    ASSERT_GT(x->KeyGetCount(), 2);
    EXPECT_EQ(x->KeyGetTime(0), Frames(0));
    EXPECT_EQ(x->KeyGetTime(x->KeyGetCount() - 1), Frames(30));
    EXPECT_NEAR(x->KeyGetValue(x->KeyGetCount() - 1), 90.0, 1e-4);
    for (int k = 1; k < x->KeyGetCount(); ++k) {
        EXPECT_GT(x->KeyGetValue(k), x->KeyGetValue(k - 1)) << k;
        EXPECT_GT(x->KeyGetTime(k), x->KeyGetTime(k - 1)) << k;
        EXPECT_LT(SquaredStep(*node, k), 75.0) << k;
        EXPECT_NEAR(AxisCurve(*node, 1)->KeyGetValue(k), 0.0, 1e-3);
    }
}

TEST(KFCurveFilterGimbleKiller, CloseKeysAndEquivalents) {
    KFCurveFilterGimbleKiller filter;
    // Less than 1/1200 s apart: never subdivided.
    auto close = MakeRotationNode({{0, {0, 0, 0}}, {0.02, {90, 0, 0}}});
    EXPECT_TRUE(filter.Apply(*close, true));
    EXPECT_EQ(AxisCurve(*close, 0)->KeyGetCount(), 2);

    // A key whose equivalent lies close to the previous key is written as that equivalent.
    auto wrapped = MakeRotationNode({{0, {175, 0, 0}}, {1, {-178, 0, 0}}});
    EXPECT_TRUE(filter.Apply(*wrapped, true));
    ASSERT_EQ(AxisCurve(*wrapped, 0)->KeyGetCount(), 2);
    EXPECT_NEAR(AxisCurve(*wrapped, 0)->KeyGetValue(1), 182.0, 1e-4);

    // The spheric order skips the equivalents but still subdivides.
    auto spheric = MakeRotationNode({{0, {0, 0, 0}}, {30, {0, 60, 0}}});
    spheric->SetRotationOrder(12);
    EXPECT_TRUE(filter.Apply(*spheric, true));
    EXPECT_GT(AxisCurve(*spheric, 0)->KeyGetCount(), 2);
}

TEST(KFCurveFilterGimbleKiller, OutputStartsAtTheSpan) {
    // Keys before the span are left as they were: no zero-filled keys appear.
    auto node = MakeRotationNode(
        {{0, {5, 5, 5}}, {1, {6, 5, 5}}, {2, {7, 5, 5}}, {3, {8, 5, 5}}, {33, {98, 5, 5}}});
    KFCurveFilterGimbleKiller filter;
    filter.SetStart(Frames(2));
    EXPECT_TRUE(filter.Apply(*node, true));
    KFCurve* x = AxisCurve(*node, 0);
    EXPECT_EQ(x->KeyGetTime(0), Frames(0));
    EXPECT_NEAR(x->KeyGetValue(0), 5.0, 1e-4);
    for (int k = 1; k < x->KeyGetCount(); ++k) {
        EXPECT_GT(x->KeyGetTime(k), x->KeyGetTime(k - 1)) << k;
        EXPECT_GE(x->KeyGetValue(k), 5.0) << k;
    }
    EXPECT_GT(x->KeyGetCount(), 5);
}

TEST(KFCurveFilterGimbleKiller, WritesBackToTheChildrenItRead) {
    // Children in the order Z, X, Y.
    std::unique_ptr<KFCurveNode> node(KFCurveNode::Create("R", nullptr, 2));
    AddAxis(*node, "Z", MakeCurve({{0, 0}, {30, 0}}).release());
    AddAxis(*node, "X", MakeCurve({{0, 0}, {30, 90}}).release());
    AddAxis(*node, "Y", MakeCurve({{0, 0}, {30, 0}}).release());
    KFCurveFilterGimbleKiller filter;
    EXPECT_TRUE(filter.Apply(*node, true));
    KFCurve* x = node->Get(1)->GetCurve();
    EXPECT_NEAR(x->KeyGetValue(x->KeyGetCount() - 1), 90.0, 1e-4);
    KFCurve* z = node->Get(0)->GetCurve();
    EXPECT_NEAR(z->KeyGetValue(z->KeyGetCount() - 1), 0.0, 1e-3);
}

TEST(KFCurveFilterGimbleKiller, Refusals) {
    KFCurveFilterGimbleKiller filter;
    auto x = MakeCurve({{0, 0}, {30, 90}});
    EXPECT_FALSE(filter.Apply(*x));
    EXPECT_EQ(filter.GetError().GetErrorCode(), 2);
    EXPECT_STREQ(filter.GetError().GetErrorText(), "Not 3 curve");
    KFCurve* one[] = {x.get()};
    EXPECT_FALSE(filter.Apply(one, 1));
    EXPECT_STREQ(filter.GetError().GetErrorText(),
                 "Need 3 KFCurve to apply a gimble killer filter.");

    std::unique_ptr<KFCurveNode> two(KFCurveNode::Create("R", nullptr, 2));
    AddAxis(*two, "X", MakeCurve({{0, 0}}).release());
    AddAxis(*two, "Y", MakeCurve({{0, 0}}).release());
    EXPECT_FALSE(filter.Apply(*two, true));
    EXPECT_STREQ(filter.GetError().GetErrorText(),
                 "Gimble Killer. ioCurveNode does not have 3 childs.");

    auto translation = MakeRotationNode({{0, {0, 0, 0}}});
    translation->SetLayerType(1);
    EXPECT_FALSE(filter.Apply(*translation, true));
    EXPECT_EQ(filter.GetError().GetErrorCode(), 3);
    EXPECT_STREQ(filter.GetError().GetErrorText(), "Gimble Killer. Not a Rotation node!");

    auto curveless = MakeRotationNode({{0, {0, 0, 0}}, {30, {90, 0, 0}}});
    curveless->Get(1)->SetCurve(nullptr, true);
    EXPECT_FALSE(filter.Apply(*curveless, true));
    EXPECT_EQ(filter.GetError().GetErrorCode(), 2);

    // Without synchronisation, Y with fewer keys than X is refused and left alone.
    auto uneven = MakeRotationNode({{0, {0, 0, 0}}, {30, {90, 0, 0}}, {60, {180, 0, 0}}});
    AxisCurve(*uneven, 1)->KeyRemoveAt(2);
    filter.SetKeySync(false);
    EXPECT_FALSE(filter.Apply(*uneven, true));
    EXPECT_EQ(filter.GetError().GetErrorCode(), 2);
    EXPECT_EQ(AxisCurve(*uneven, 0)->KeyGetCount(), 3);
    filter.Reset();
    EXPECT_TRUE(filter.GetKeySync());
    EXPECT_TRUE(filter.Apply(*uneven, true));

    // An extra key on one channel outside a finite span survives the synchronisation:
    // the counts differ and the node is refused untouched.
    auto extra = MakeRotationNode({{0, {0, 0, 0}}, {30, {90, 0, 0}}});
    AxisCurve(*extra, 2)->KeyAdd(Frames(90), AxisCurve(*extra, 2)->KeyGetRecord(1));
    filter.SetStop(Frames(30));
    EXPECT_FALSE(filter.Apply(*extra, true));
    EXPECT_EQ(filter.GetError().GetErrorCode(), 2);
    EXPECT_EQ(AxisCurve(*extra, 0)->KeyGetCount(), 2);
    // Even when the synchronisation had keys to add first.
    AxisCurve(*extra, 1)->KeyAdd(Frames(15), AxisCurve(*extra, 1)->KeyGetRecord(0));
    EXPECT_FALSE(filter.Apply(*extra, true));
    EXPECT_EQ(filter.GetError().GetErrorCode(), 2);
    EXPECT_EQ(AxisCurve(*extra, 0)->KeyGetCount(), 2);
    EXPECT_EQ(AxisCurve(*extra, 1)->KeyGetCount(), 3);
    EXPECT_EQ(AxisCurve(*extra, 2)->KeyGetCount(), 3);
    filter.Reset();

    // A keyless Y is synchronised to X's key times first.
    auto keyless = MakeRotationNode({{0, {0, 0, 0}}, {30, {90, 0, 0}}});
    AxisCurve(*keyless, 1)->KeyClear();
    EXPECT_TRUE(filter.Apply(*keyless, true));
    EXPECT_EQ(AxisCurve(*keyless, 1)->KeyGetCount(), AxisCurve(*keyless, 0)->KeyGetCount());

    auto empty = MakeRotationNode({});
    EXPECT_FALSE(filter.Apply(*empty, true));
    EXPECT_EQ(filter.GetError().GetErrorCode(), 0);
}

TEST(KFCurveFilterGimbleKiller, CurveArray) {
    auto x = MakeCurve({{0, 0}, {30, 90}});
    auto y = MakeCurve({{0, 0}, {30, 0}});
    auto z = MakeCurve({{0, 0}, {30, 0}});
    KFCurve* curves[] = {x.get(), y.get(), z.get()};
    KFCurveFilterGimbleKiller filter;
    EXPECT_TRUE(filter.Apply(curves, 3));
    EXPECT_GT(x->KeyGetCount(), 2);
    EXPECT_EQ(y->KeyGetCount(), x->KeyGetCount());
}
