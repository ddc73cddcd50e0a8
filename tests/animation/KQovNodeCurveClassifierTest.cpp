#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "animation/KFCurve.h"
#include "animation/KFCurveNode.h"
#include "animation/KQovNodeCurveClassifier.h"
#include "animation/KQovTakeNode.h"
#include "scene/KQovNode.h"
#include "scene/SceneObjectDoubles.h"

namespace {

using scene_test::TestAttribute;
using C = KQovNodeCurveClassifier;

KFCurve* ScalingCurve(KQovNode& node, int take, int axis) {
    return node.GetTakeNode(take)->GetRoot()->Find(std::string("Transform/S/") + "XYZ"[axis])->GetCurve();
}

TEST(KQovNodeCurveClassifier, StaticScaling) {
    struct Row {
        const char* name;
        int attribute;  // -1: none
        bool children;
        double x, y, z;
        int list;  // C::eNonUnit, eNegative, eNonUniform, or eFine for none
    };
    const Row rows[] = {
        {"skeleton doubled", KQovNodeAttribute::eSkeleton, true, 2, 2, 2, C::eNonUnit},
        {"mesh doubled", KQovNodeAttribute::eMesh, true, 2, 2, 2, C::eFine},
        {"mirrored null", -1, true, 1, -1, 1, C::eNegative},
        {"mirrored leaf", -1, false, 1, -1, 1, C::eNegative},
        {"mirrored skeleton", KQovNodeAttribute::eSkeleton, true, 1, -1, 1, C::eNonUnit},
        {"stretched leaf", -1, false, 1, 2, 1, C::eFine},
        {"stretched parent", -1, true, 1, 2, 1, C::eNonUniform},
        {"unit skeleton", KQovNodeAttribute::eSkeleton, true, 1, 1, 1, C::eFine},
    };
    for (const Row& row : rows) {
        KQovNode node(nullptr, "Model::N"), child(nullptr, "Model::Child");
        std::unique_ptr<TestAttribute> attribute;
        if (row.attribute >= 0) {
            attribute = std::make_unique<TestAttribute>(row.attribute);
            node.SetNodeAttribute(attribute.get());
        }
        if (row.children) node.AddChild(&child);
        const double values[3] = {row.x, row.y, row.z};
        for (int a = 0; a < 3; ++a) ScalingCurve(node, 0, a)->SetValue(float(values[a]));
        C classifier;
        const auto& accepted = classifier.Collect(&node);
        const C::NodeList* lists[4] = {nullptr, &classifier.GetNonUnitDefault(),
                                       &classifier.GetNegativeDefault(),
                                       &classifier.GetNonUniformDefault()};
        for (int l = 1; l < 4; ++l)
            EXPECT_EQ(lists[l]->size(), l == row.list ? 1u : 0u) << row.name << " list " << l;
        EXPECT_EQ(accepted.size(), row.list == C::eFine ? 0u : 1u) << row.name;
        classifier.Reset();
        EXPECT_TRUE(classifier.GetAccepted().empty());
        EXPECT_TRUE(lists[row.list == C::eFine ? 1 : row.list]->empty());
        if (attribute) node.SetNodeAttribute(nullptr);
    }
}

TEST(KQovNodeCurveClassifier, AnimatedScalingIsSampledBetweenKeys) {
    KQovNode node(nullptr, "Model::N"), child(nullptr, "Model::Child");
    node.AddChild(&child);
    node.AddTakeNode("Take 001");
    // X and Z rise linearly, Y holds then jumps: equal at both keys only.
    for (int a = 0; a < 3; ++a) {
        KFCurve* curve = ScalingCurve(node, 1, a);
        const uint32_t interpolation =
            a == 1 ? KFCURVE_INTERPOLATION_CONSTANT : KFCURVE_INTERPOLATION_LINEAR;
        curve->PrepareKeys(2);
        curve->KeySet(0, KTime(0), 1.0f, interpolation);
        curve->KeySet(1, KTIME_ONE_SECOND, 2.0f, interpolation);
        curve->CommitKeys(2);
    }
    C classifier;
    EXPECT_TRUE(classifier.Collect(&node).empty());  // the default take is static
    node.SetCurrentTakeNode("Take 001");
    ASSERT_EQ(classifier.Collect(&node).size(), 1u);
    EXPECT_EQ(classifier.GetNonUniformCurrent().size(), 1u);
    EXPECT_TRUE(classifier.GetNonUniformDefault().empty());

    // Keys alone agree: sampling only at them would see nothing.
    KFCurve* keysOnly[3] = {ScalingCurve(node, 1, 0), ScalingCurve(node, 1, 1), nullptr};
    classifier.SetTestUnit(false);
    EXPECT_EQ(classifier.AnalyseCurves(keysOnly), C::eNonUniform);
    classifier.SetTestVariation(false);
    EXPECT_EQ(classifier.AnalyseCurves(keysOnly), C::eFine);
}

TEST(KQovNodeCurveClassifier, MissingChannelsAndEndlessSpans) {
    KQovNode node(nullptr, "Model::N");
    std::unique_ptr<KFCurveNode> bare(KFCurveNode::Create("Defaults"));
    C classifier;
    C::NodeList a, b, c;
    EXPECT_FALSE(classifier.Classify(&node, bare.get(), a, b, c));
    EXPECT_FALSE(classifier.Classify(&node, nullptr, a, b, c));

    // A key at each infinity: a bounded number of samples still reaches the end.
    std::unique_ptr<KFCurve> curve(KFCurve::Create());
    curve->SetValue(1.0f);
    curve->PrepareKeys(3);
    curve->KeySet(0, KTIME_MINUS_INFINITE, 1.0f, KFCURVE_INTERPOLATION_LINEAR);
    curve->KeySet(1, KTime(0), 1.0f, KFCURVE_INTERPOLATION_LINEAR);
    curve->KeySet(2, KTIME_INFINITE, -1.0f, KFCURVE_INTERPOLATION_CONSTANT);
    curve->CommitKeys(3);
    KFCurve* curves[3] = {curve.get(), nullptr, nullptr};
    EXPECT_EQ(classifier.AnalyseCurves(curves), C::eNonUnit);  // the unit test comes first
    classifier.SetTestUnit(false);
    EXPECT_EQ(classifier.AnalyseCurves(curves), C::eNegative);
    classifier.SetTestUnit(true);
    const double values[] = {1.0, 1.0 + 1e-17, 1.0 + 1e-15};
    EXPECT_EQ(classifier.AnalyseValues(values, 2), C::eFine);
    EXPECT_EQ(classifier.AnalyseValues(values, 3), C::eNonUnit);
    EXPECT_EQ(classifier.AnalyseValues(values, 0), C::eFine);
}

}  // namespace
