#include <gtest/gtest.h>

#include "NodeTestUtil.h"
#include "animation/KFCurveFilterConstantKeyReducer.h"
#include "animation/KFCurveFilterMatrixConverter.h"
#include "foundation/KMatrix.h"
#include "foundation/KRotationOrder.h"

namespace {

// "Transform" with T, R, S, each with X, Y, Z curves keyed at the given frames.
std::unique_ptr<KFCurveNode> MakeTransform(std::initializer_list<double> frames) {
    std::unique_ptr<KFCurveNode> root(KFCurveNode::Create("Transform"));
    const char* channels[3] = {"T", "R", "S"};
    const int types[3] = {1, 2, 3};
    const char* axes[3] = {"X", "Y", "Z"};
    for (int c = 0; c < 3; ++c) {
        KFCurveNode* channel = KFCurveNode::Create(channels[c], nullptr, types[c]);
        root->Add(channel);
        for (int a = 0; a < 3; ++a) {
            KFCurve* curve = KFCurve::Create();
            curve->SetValue(c == 2 ? 1.0f : 0.0f);
            int i = 0;
            curve->PrepareKeys(static_cast<int>(frames.size()));
            for (double f : frames) {
                const float value = c == 2 ? 1.0f : static_cast<float>(f * (a + 1));
                curve->KeySet(i++, Frames(f), value, KFCURVE_INTERPOLATION_LINEAR);
            }
            curve->CommitKeys(static_cast<int>(frames.size()));
            AddAxis(*channel, axes[a], curve);
        }
    }
    return root;
}

KFCurve* Curve(KFCurveNode& root, int channel, int axis) {
    return root.Get(channel)->Get(axis)->GetCurve();
}

KMatrix TranslationMatrix(double x, double y, double z) {
    KMatrix m;
    m[3][0] = x;
    m[3][1] = y;
    m[3][2] = z;
    return m;
}

}  // namespace

TEST(KFCurveFilterMatrixConverter, IdentitySourcesChangeNothing) {
    auto root = MakeTransform({0, 5, 10});
    KFCurveFilterMatrixConverter filter;
    EXPECT_STREQ(filter.GetName(), "FCurve Matrix Converter");
    filter.SetResamplingPeriod(Frames(1));
    filter.SetApplyUnroll(false);
    EXPECT_FALSE(filter.Apply(*root, true));
    EXPECT_EQ(filter.GetError().GetErrorCode(), 1);
    EXPECT_STREQ(filter.GetError().GetErrorText(),
                 "MatrixConverter, No key were changed by filter.");
    EXPECT_EQ(Curve(*root, 0, 0)->KeyGetCount(), 3);
    // The reducer still runs: the flat scaling curves lose their keys.
    EXPECT_EQ(Curve(*root, 2, 0)->KeyGetCount(), 0);
    EXPECT_FLOAT_EQ(Curve(*root, 2, 0)->GetValue(), 1.0f);
}

TEST(KFCurveFilterMatrixConverter, SamplesEveryPeriod) {
    auto root = MakeTransform({0, 10});
    KFCurveFilterMatrixConverter filter;
    filter.SetResamplingPeriod(Frames(1));
    filter.SetApplyUnroll(false);
    filter.SetApplyConstantKeyReducer(false);
    filter.SetSourceMatrix(0, TranslationMatrix(5, 0, 0));
    EXPECT_TRUE(filter.Apply(*root, true));
    for (int c = 0; c < 3; ++c) {
        for (int a = 0; a < 3; ++a) {
            KFCurve* curve = Curve(*root, c, a);
            ASSERT_EQ(curve->KeyGetCount(), 11) << c << a;
            for (int i = 0; i <= 10; ++i) EXPECT_EQ(curve->KeyGetTime(i), Frames(i));
            EXPECT_EQ(curve->KeyGetInterpolation(3), KFCURVE_INTERPOLATION_LINEAR);
        }
    }
    // The offset moves the translation; rotation and scaling come back as they were.
    EXPECT_NEAR(Curve(*root, 0, 0)->KeyGetValue(4), 4.0 + 5.0, 1e-4);
    EXPECT_NEAR(Curve(*root, 0, 1)->KeyGetValue(4), 8.0, 1e-4);
    EXPECT_NEAR(Curve(*root, 1, 0)->KeyGetValue(4), 4.0, 1e-3);
    EXPECT_NEAR(Curve(*root, 1, 2)->KeyGetValue(10), 30.0, 1e-3);
    EXPECT_NEAR(Curve(*root, 2, 1)->KeyGetValue(7), 1.0, 1e-5);
    EXPECT_FLOAT_EQ(Curve(*root, 0, 0)->GetValue(), 5.0f);
}

TEST(KFCurveFilterMatrixConverter, PivotRewritesTranslation) {
    auto root = MakeTransform({0, 10});
    const float before = Curve(*root, 0, 0)->KeyGetValue(1);
    KFCurveFilterMatrixConverter filter;
    filter.SetResamplingPeriod(Frames(1));
    filter.SetConvertTranslation(false);
    filter.SetApplyUnroll(false);
    filter.SetApplyConstantKeyReducer(false);
    // A rotation pivot away from the origin with a rotation: the pivot moves the translation.
    filter.SetSourceMatrix(11, TranslationMatrix(0, 0, 10));
    EXPECT_TRUE(filter.Apply(*root, true));
    EXPECT_TRUE(filter.GetConvertTranslation());
    ASSERT_EQ(Curve(*root, 0, 0)->KeyGetCount(), 11);
    EXPECT_NE(Curve(*root, 0, 0)->KeyGetValue(10), before);
}

TEST(KFCurveFilterMatrixConverter, Refusals) {
    KFCurveFilterMatrixConverter filter;
    auto curve = MakeCurve({{0, 1}});
    EXPECT_FALSE(filter.Apply(*curve));
    EXPECT_EQ(filter.GetError().GetErrorCode(), 2);
    EXPECT_STREQ(filter.GetError().GetErrorText(), "MatrixConverter, invalid apply method.");
    KFCurve* curves[] = {curve.get()};
    EXPECT_FALSE(filter.Apply(curves, 1));

    // Indices outside 0-12 are ignored.
    filter.SetSourceMatrix(13, TranslationMatrix(1, 1, 1));
    filter.SetSourceMatrix(-1, TranslationMatrix(1, 1, 1));
    auto root = MakeTransform({0, 10});
    filter.SetApplyConstantKeyReducer(false);
    filter.SetResamplingPeriod(Frames(1));
    EXPECT_FALSE(filter.Apply(*root, true));
    EXPECT_EQ(filter.GetError().GetErrorCode(), 1);

    // A period of 0 with keys: refused, nothing changes, no endless loop.
    filter.SetSourceMatrix(0, TranslationMatrix(5, 0, 0));
    filter.SetResamplingPeriod(KTIME_ZERO);
    EXPECT_FALSE(filter.Apply(*root, true));
    EXPECT_EQ(filter.GetError().GetErrorCode(), 1);
    EXPECT_EQ(Curve(*root, 0, 0)->KeyGetCount(), 2);
    EXPECT_FLOAT_EQ(Curve(*root, 0, 0)->GetValue(), 0.0f);

    // Missing curves, and no "R" for the rotation steps.
    filter.SetResamplingPeriod(Frames(1));
    root->Delete(1);
    EXPECT_FALSE(filter.Apply(*root, true));
    EXPECT_EQ(filter.GetError().GetErrorCode(), 3);
    EXPECT_STREQ(filter.GetError().GetErrorText(), "MatrixConverter, Missing curve.");
    EXPECT_EQ(Curve(*root, 0, 0)->KeyGetCount(), 2);

    // Reset brings the matrices back to the identity.
    filter.Reset();
    auto fresh = MakeTransform({0, 10});
    EXPECT_FALSE(filter.Apply(*fresh, true));
    EXPECT_STREQ(filter.GetError().GetErrorText(),
                 "MatrixConverter, No key were changed by filter.");
}

TEST(KFCurveFilterMatrixConverter, KeylessNodeGetsDefaults) {
    auto root = MakeTransform({});
    KFCurveFilterMatrixConverter filter;
    filter.SetResamplingPeriod(KTIME_ZERO);
    filter.SetSourceMatrix(0, TranslationMatrix(0, 7, 0));
    EXPECT_TRUE(filter.Apply(*root, true));
    EXPECT_EQ(Curve(*root, 0, 1)->KeyGetCount(), 0);
    EXPECT_FLOAT_EQ(Curve(*root, 0, 1)->GetValue(), 7.0f);
}

TEST(KFCurveFilterConstantKeyReducer, NodePrecisionByChannel) {
    // Scaling values 0.006 apart: within 0.009, outside 0.004 and 0.001.
    auto root = MakeTransform({0, 1, 2, 3});
    for (int i = 0; i < 4; ++i) Curve(*root, 2, 0)->KeySetValue(i, 1.0f + 0.006f * (i % 2));
    KFCurveFilterConstantKeyReducer filter;
    filter.SetScalingPrecision(0.001);
    EXPECT_TRUE(filter.Apply(*root->Get(2), true));
    // The default 0.009 is kept on scaling channels.
    EXPECT_EQ(Curve(*root, 2, 0)->KeyGetCount(), 0);

    auto again = MakeTransform({0, 1, 2, 3});
    for (int i = 0; i < 4; ++i) Curve(*again, 2, 0)->KeySetValue(i, 1.0f + 0.006f * (i % 2));
    filter.SetPrecision(0.004);
    EXPECT_TRUE(filter.Apply(*again->Get(2), true));
    EXPECT_EQ(Curve(*again, 2, 0)->KeyGetCount(), 4);
    EXPECT_DOUBLE_EQ(filter.GetPrecision(), 0.004);

    // Rotation channels take the rotation precision in place of the default.
    auto rotation = MakeTransform({0, 1, 2, 3});
    for (int i = 0; i < 4; ++i) Curve(*rotation, 1, 0)->KeySetValue(i, 0.006f * (i % 2));
    KFCurveFilterConstantKeyReducer rotationFilter;
    rotationFilter.SetRotationPrecision(0.001);
    EXPECT_TRUE(rotationFilter.Apply(*rotation->Get(1), true));
    EXPECT_EQ(Curve(*rotation, 1, 0)->KeyGetCount(), 4);
}

TEST(KFCurveFilter, TreeWalkOrderAndDepth) {
    std::unique_ptr<KFCurveNode> root(KFCurveNode::Create("Root"));
    root->SetCurve(MakeCurve({{0, 1}, {1, 1}, {2, 1}}).release(), true);
    KFCurveNode* child = AddAxis(*root, "A", MakeCurve({{0, 2}, {1, 2}, {2, 2}}).release());
    KFCurveNode* grandchild = AddAxis(*child, "B", MakeCurve({{0, 3}, {1, 3}}).release());
    KFCurveFilterConstantKeyReducer filter;
    EXPECT_TRUE(filter.Apply(*root, false));
    EXPECT_EQ(root->GetCurve()->KeyGetCount(), 0);
    EXPECT_EQ(child->GetCurve()->KeyGetCount(), 3);
    EXPECT_TRUE(filter.Apply(*root, true));
    EXPECT_EQ(child->GetCurve()->KeyGetCount(), 0);
    EXPECT_EQ(grandchild->GetCurve()->KeyGetCount(), 0);
    // A keyless curve refuses, yet the walk reports success.
    EXPECT_TRUE(filter.Apply(*root, true));
    EXPECT_EQ(filter.GetError().GetErrorCode(), 0);
    EXPECT_TRUE(filter.NeedApply(*root, true));
}

TEST(KFCurveFilterMatrixConverter, RotationOrdersAreNodeValues) {
    auto root = MakeTransform({0, 10});
    KFCurveFilterMatrixConverter filter;
    filter.SetResamplingPeriod(Frames(5));
    filter.SetApplyUnroll(false);
    filter.SetApplyConstantKeyReducer(false);
    filter.SetSourceMatrix(0, TranslationMatrix(1, 0, 0));
    filter.SetSourceRotationOrder(1);  // "Euler XZY", order code 2
    EXPECT_TRUE(filter.Apply(*root, true));
    ASSERT_EQ(Curve(*root, 1, 0)->KeyGetCount(), 3);
    // Key 1 at 5 frames: the source angles there were (5, 10, 15) in X, Z, Y order.
    KMatrix source;
    KRotationOrder(2).EulerToMatrix(source, KVector4(5, 10, 15));
    KMatrix result(Curve(*root, 1, 0)->KeyGetValue(1), Curve(*root, 1, 1)->KeyGetValue(1),
                   Curve(*root, 1, 2)->KeyGetValue(1));
    EXPECT_EQ(KMatrixCompare3x3(source, result, 1e-5), 0);
}
