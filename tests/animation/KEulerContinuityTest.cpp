#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

#include "ChannelTestUtil.h"
#include "animation/KEulerContinuity.h"
#include "animation/KFCurveNode.h"
#include "foundation/KMatrix.h"
#include "foundation/KRotationOrder.h"

TEST(KEulerContinuity, ClosestAngle) {
    EXPECT_EQ(ClosestAngle(10, 370), 370);
    EXPECT_EQ(ClosestAngle(10, 190), 10);  // a fraction of exactly one half keeps the turn
    EXPECT_EQ(ClosestAngle(-350, 0), 10);
    EXPECT_EQ(ClosestAngle(0, -725), -720);
}

TEST(KEulerContinuity, ClosestEquivalentFlipsAndHandlesGimbalLock) {
    const int row[3] = {0, 1, 2};
    double out[3];
    const double zero[3] = {0, 0, 0}, half[3] = {180, 180, 180};
    EXPECT_TRUE(ClosestEquivalent(out, zero, half, row));
    EXPECT_EQ(out[0], 180);
    EXPECT_EQ(out[1], 180);
    EXPECT_EQ(out[2], 180);

    // With the middle angle at 90 both outer angles move by the mean of their distances.
    const double lock[3] = {10, 90, 20}, ref[3] = {30, 90, 60};
    EXPECT_FALSE(ClosestEquivalent(out, lock, ref, row));
    EXPECT_DOUBLE_EQ(out[0], 10 + 30);
    EXPECT_DOUBLE_EQ(out[2], 20 + 30);

    const double value[3] = {370, 20, -30};
    EXPECT_FALSE(KRotationOrderClosestEquivalent(12, out, value, zero));
    EXPECT_EQ(out[0], 370);
    EXPECT_EQ(out[2], -30);
}

// For every order of the plain sequences: the equivalent triple and the offsets describe the
// same rotation as the input, and the result is never farther from the reference.
TEST(KEulerContinuity, EquivalentsKeepTheRotation) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> angle(-400, 400);
    for (int order = 0; order <= 10; order += 2) {
        std::unique_ptr<KFCurveNode> node(KFCurveNode::Create("R"));
        node->SetRotationOrder(order);
        int row[3];
        ASSERT_TRUE(KRotationOrderGetRow(order, row));
        for (int n = 0; n < 300; ++n) {
            double value[3] = {angle(random), angle(random), angle(random)};
            double ref[3] = {angle(random), angle(random), angle(random)};
            if (n % 10 == 0) value[row[1]] = 90;  // gimbal lock
            if (n % 10 == 1) value[row[1]] = -90;
            double out[3];
            KRotationOrderClosestEquivalent(order, out, value, ref);
            EXPECT_EQ(KMatrixCompare3x3(EulerMatrix(order, out), EulerMatrix(order, value), 1e-9),
                      0)
                << "order " << order << " case " << n;

            double offsets[3];
            bool flipped = node->GetEquivalentOffsets(offsets, value, ref);
            double shifted[3];
            for (int a = 0; a < 3; ++a) {
                bool mirrored = flipped && a == row[1];
                shifted[a] = mirrored ? offsets[a] - value[a] : value[a] + offsets[a];
            }
            EXPECT_EQ(
                KMatrixCompare3x3(EulerMatrix(order, shifted), EulerMatrix(order, value), 1e-9), 0)
                << "offsets, order " << order << " case " << n;
            for (int a = 0; a < 3; ++a) EXPECT_LE(std::fabs(shifted[a] - ref[a]), 180 + 1e-9);
        }
    }
}

TEST(KEulerContinuity, PreviousKeyTimeWithMask) {
    std::unique_ptr<KFCurveNode> node(KFCurveNode::Create("n"));
    node->SetCurve(LinearCurve({0, 1, 2, 3}));  // keys at 0 .. 3 s
    KFCurve* child = new KFCurve;
    child->KeyAppendFast(Seconds(2.5), 1);
    AddLeaf(node.get(), "c", child);
    EXPECT_EQ(node->GetPreviousKeyTime(Seconds(-1)), Seconds(-1));
    EXPECT_EQ(node->GetPreviousKeyTime(Seconds(2)), Seconds(1));
    EXPECT_EQ(node->GetPreviousKeyTime(Seconds(2.7)), Seconds(2.5));
    const bool onlyOwn[2] = {true, false};
    EXPECT_EQ(node->GetPreviousKeyTime(Seconds(2.7), onlyOwn, 2), Seconds(2));
    const bool onlyChild[2] = {false, true};
    EXPECT_EQ(node->GetPreviousKeyTime(Seconds(2.7), onlyChild, 2), Seconds(2.5));
    EXPECT_EQ(node->GetPreviousKeyTime(Seconds(2.2), onlyChild, 2), Seconds(2.2));
}

TEST(KEulerContinuity, AppendKeysAndMakeContinuous) {
    std::unique_ptr<KFCurveNode> xyz(Triple("R", KFCURVENODE_LAYER_EULER_ROTATION, 0, 0, 0));
    const double values[3] = {1, 2, 3};
    EXPECT_EQ(xyz->AppendKeys(Seconds(0), values, 3, false), values + 3);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(xyz->Get(i)->GetCurve()->KeyGetCount(), 1);
        EXPECT_EQ(xyz->Get(i)->GetCurve()->KeyGetValue(0), values[i]);
    }
    // The next key continues from the previous one instead of jumping back.
    const double wrapped[3] = {1, 2, 10 - 360};
    xyz->AppendKeys(Seconds(1), wrapped, 3, true);
    EXPECT_EQ(xyz->Get(2)->GetCurve()->KeyGetValue(1), 10);
    // Too few values: the curves without one get no key.
    const double one[1] = {5};
    EXPECT_EQ(xyz->AppendKeys(Seconds(2), one, 1, false), one + 1);
    EXPECT_EQ(xyz->Get(1)->GetCurve()->KeyGetCount(), 2);

    std::unique_ptr<KFCurveNode> plain(KFCurveNode::Create("p"));
    double out[3];
    const double v[3] = {400, 0, 0};
    plain->MakeContinuous(out, v, Seconds(0));
    EXPECT_EQ(out[0], 400);
}
