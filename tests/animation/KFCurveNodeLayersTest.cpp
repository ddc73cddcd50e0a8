#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <new>
#include <thread>
#include <vector>

#include "ChannelTestUtil.h"
#include "animation/KFCurve.h"
#include "animation/KFCurveNode.h"
#include "common/RefusingHeap.h"
#include "foundation/KMatrix.h"
#include "foundation/KRotationOrder.h"

namespace {

void SetDefaults(KFCurveNode* node, double x, double y, double z) {
    const double values[3] = {x, y, z};
    node->SetDefaultValues(values, 3);
}

std::vector<int> LayerIds(const KFCurveNode* node) {
    std::vector<int> ids;
    for (; node; node = node->GetNextLayer()) ids.push_back(node->GetLayerId());
    return ids;
}

KMatrix Rotation(int order, const std::vector<double>& v) {
    return EulerMatrix(order, v.data());
}

// A rotation node whose X, Y, Z curves hold keys at 0, 1, 2 ... seconds.
KFCurveNode* RotationKeys(const std::vector<std::vector<float>>& keys, uint32_t interpolation,
                          uint32_t mode) {
    KFCurveNode* node = KFCurveNode::Create("R");
    const char* names[3] = {"X", "Y", "Z"};
    for (int axis = 0; axis < 3; ++axis) {
        KFCurve* curve = new KFCurve;
        for (size_t i = 0; i < keys.size(); ++i) {
            KFCurveKey key;
            key.Set(Seconds(double(i)), keys[i][size_t(axis)], interpolation, mode, 0, 0,
                    KFCURVE_WEIGHTED_NONE, KFCURVE_WEIGHT_DEFAULT, KFCURVE_WEIGHT_DEFAULT, 0, 0);
            curve->KeyAdd(Seconds(double(i)), key);
        }
        AddLeaf(node, names[axis], curve);
    }
    node->SetLayerType(KFCURVENODE_LAYER_EULER_ROTATION);
    return node;
}

}  // namespace

TEST(KFCurveNodeLayers, TranslationLayerAdds) {
    std::unique_ptr<KFCurveNode> t(Triple("T", KFCURVENODE_LAYER_TRANSLATION, 1, 2, 3));
    KFCurveNode* layer = t->AddLayer(1, true);
    ASSERT_NE(layer, nullptr);
    EXPECT_EQ(layer->GetBaseLayerNode(), t.get());
    EXPECT_EQ(layer->Get(0)->GetBaseLayerNode(), t->Get(0));
    EXPECT_EQ(t->Evaluate(Seconds(0)), (std::vector<double>{1, 2, 3}));
    SetDefaults(layer, 10, 20, 30);
    t->InvalidateCache(0, true);
    EXPECT_EQ(t->Evaluate(Seconds(0)), (std::vector<double>{11, 22, 33}));
    double one[3] = {0, 0, 0};
    EXPECT_EQ(t->EvaluateLayer(one, 3, Seconds(0), 1) - one, 3);
    EXPECT_EQ(one[2], 30);
    EXPECT_EQ(t->EvaluateLayer(one, 3, Seconds(0), 5), one);  // no such layer
}

TEST(KFCurveNodeLayers, NeutralScalingAndRotationLayers) {
    std::unique_ptr<KFCurveNode> s(Triple("S", KFCURVENODE_LAYER_SCALING, 2, 3, 4));
    s->AddLayer(1, true);
    EXPECT_EQ(s->Evaluate(Seconds(0)), (std::vector<double>{2, 3, 4}));
    double neutral[3];
    EXPECT_EQ(s->GetNeutralValues(neutral, 3), 3);
    EXPECT_EQ(neutral[1], 1.0);

    std::unique_ptr<KFCurveNode> r(Triple("R", KFCURVENODE_LAYER_EULER_ROTATION, 10, 20, 30));
    KFCurveNode* layer = r->AddLayer(1, true);
    std::vector<double> v = r->Evaluate(Seconds(0));
    ASSERT_EQ(v.size(), 3u);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(v[size_t(i)], 10.0 * (i + 1), 1e-9);

    // Same-axis rotations add up.
    std::unique_ptr<KFCurveNode> rx(Triple("R", KFCURVENODE_LAYER_EULER_ROTATION, 10, 0, 0));
    SetDefaults(rx->AddLayer(1, true), 20, 0, 0);
    v = rx->Evaluate(Seconds(0));
    EXPECT_NEAR(v[0], 30, 1e-9);
    // The layer acts after the base: M = M(layer) x M(base) in row-vector form.
    SetDefaults(layer, 0, 0, 45);
    r->InvalidateCache(0, true);
    KMatrix product;
    KMatrixMultiply3x3(product, Rotation(0, {0, 0, 45}), Rotation(0, {10, 20, 30}));
    EXPECT_EQ(KMatrixCompare3x3(Rotation(0, r->Evaluate(Seconds(0))), product, 1e-9), 0);
}

TEST(KFCurveNodeLayers, QuaternionLayerTypeAddsAndRemovesW) {
    std::unique_ptr<KFCurveNode> r(Triple("R", KFCURVENODE_LAYER_PLAIN, 0, 0, 0));
    r->SetLayerType(KFCURVENODE_LAYER_QUATERNION_ROTATION);
    ASSERT_EQ(r->GetCount(), 4);
    EXPECT_STREQ(r->Get(3)->GetName(), "W");
    EXPECT_NE(r->Get(3)->GetCurve(), nullptr);
    // Identity quaternion (0, 0, 0, 1) gives no rotation.
    r->Get(3)->GetCurve()->SetValue(1);
    std::vector<double> v = r->Evaluate(Seconds(0));
    ASSERT_EQ(v.size(), 3u);
    EXPECT_NEAR(v[0], 0, 1e-9);
    r->SetLayerType(KFCURVENODE_LAYER_EULER_ROTATION);
    EXPECT_EQ(r->GetCount(), 3);
}

TEST(KFCurveNodeLayers, SyncingFromItsOwnChainIsRefused) {
    std::unique_ptr<KFCurveNode> t(Triple("T", KFCURVENODE_LAYER_TRANSLATION, 0, 0, 0));
    t->AddLayer(1, true);
    t->EnsureLayer(3);
    t->SyncLayersFrom(t->FindLayer(1), false);
    EXPECT_EQ(LayerIds(t.get()), (std::vector<int>{0, 1, 3}));
    t->FindLayer(1)->SyncLayersFrom(t.get(), false);
    EXPECT_EQ(LayerIds(t.get()), (std::vector<int>{0, 1, 3}));
}

TEST(KFCurveNodeLayers, EnsureAndFindLayer) {
    std::unique_ptr<KFCurveNode> t(Triple("T", KFCURVENODE_LAYER_TRANSLATION, 0, 0, 0));
    t->AddLayer(1, true);
    t->EnsureLayer(3);
    EXPECT_EQ(LayerIds(t.get()), (std::vector<int>{0, 1, 3}));
    ASSERT_NE(t->EnsureLayer(2), nullptr);
    EXPECT_EQ(LayerIds(t.get()), (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(t->EnsureLayer(3), t->FindLayer(3));
    EXPECT_EQ(LayerIds(t.get()), (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(t->EnsureLayer(0), nullptr);
    EXPECT_EQ(t->FindLayer(4), nullptr);
    t->EnsureLayer(7);
    EXPECT_EQ(LayerIds(t.get()), (std::vector<int>{0, 1, 2, 3, 7}));

    t->SetFlags(t->GetFlags() & ~KFCURVENODE_LAYERING);
    EXPECT_EQ(t->AddLayer(9, false), nullptr);
    EXPECT_EQ(t->EnsureLayer(9), nullptr);
}

TEST(KFCurveNodeLayers, CombinationUsesTheShorterValueList) {
    std::unique_ptr<KFCurveNode> base(Triple("P", KFCURVENODE_LAYER_PLAIN, 1, 2, 3));
    KFCurveNode* small = KFCurveNode::Create("P");
    small->SetLayerId(1);
    AddLeaf(small, "X", ConstantCurve(10));
    base->SetNextLayer(small, true);
    EXPECT_EQ(base->Evaluate(Seconds(0)), (std::vector<double>{11, 2, 3}));
}

// The layer's values combine with the channel's own, not with those of channels before it.
TEST(KFCurveNodeLayers, ALayeredChannelAfterAnotherCombinesOnlyItsOwnValues) {
    std::unique_ptr<KFCurveNode> transform(KFCurveNode::Create("Transform"));
    transform->Add(Triple("S", KFCURVENODE_LAYER_SCALING, 7, 8, 9));
    KFCurveNode* t = Triple("T", KFCURVENODE_LAYER_TRANSLATION, 1, 2, 3);
    transform->Add(t);
    SetDefaults(t->AddLayer(1, true), 10, 20, 30);
    const std::vector<double> expected{7, 8, 9, 11, 22, 33};
    EXPECT_EQ(transform->Evaluate(Seconds(0)), expected);
    double values[7] = {0, 0, 0, 0, 0, 0, -1};
    EXPECT_EQ(transform->Evaluate(values, 7, Seconds(0.5)) - values, 6);
    EXPECT_EQ(std::vector<double>(values, values + 6), expected);
    EXPECT_EQ(values[6], -1);
}

TEST(KFCurveNodeEvaluate, TransformTwiceGivesTheSameNineValues) {
    std::unique_ptr<KFCurveNode> transform(KFCurveNode::Create("Transform"));
    transform->Add(Triple("T", KFCURVENODE_LAYER_TRANSLATION, 1, 2, 3));
    transform->Add(Triple("R", KFCURVENODE_LAYER_EULER_ROTATION, 4, 5, 6));
    transform->Add(Triple("S", KFCURVENODE_LAYER_SCALING, 7, 8, 9));
    EXPECT_EQ(transform->GetValueCount(), 9);
    std::vector<double> first = transform->Evaluate(Seconds(1));
    std::vector<double> second = transform->Evaluate(Seconds(1));
    ASSERT_EQ(first.size(), 9u);
    EXPECT_EQ(first, second);
    EXPECT_NEAR(second[8], 9, 1e-9);
    double few[2];
    EXPECT_EQ(transform->Evaluate(few, 2, Seconds(1)) - few, 2);
    EXPECT_EQ(few[1], 2);
}

TEST(KFCurveNodeEvaluate, CacheOnTheBaseLayer) {
    std::unique_ptr<KFCurveNode> t(KFCurveNode::Create("T"));
    AddLeaf(t.get(), "X", LinearCurve({0, 10, 20}));
    EXPECT_EQ(t->Evaluate(Seconds(0.5)), (std::vector<double>{5}));
    // A change behind the node's back is not seen until the cache goes.
    t->Get(0)->GetCurve()->KeyGet(1)->SetValue(100);
    EXPECT_EQ(t->Evaluate(Seconds(0.5)), (std::vector<double>{5}));
    EXPECT_EQ(t->Evaluate(Seconds(1)), (std::vector<double>{100}));
    t->SetFlags(t->GetFlags() | KFCURVENODE_CACHE_ANY_TIME);
    EXPECT_EQ(t->Evaluate(Seconds(2)), (std::vector<double>{100}));
    t->InvalidateCache(0, false);
    EXPECT_EQ(t->Evaluate(Seconds(2)), (std::vector<double>{20}));
}

TEST(KFCurveNodeEvaluate, TimeWarpChainsAreFollowed) {
    std::unique_ptr<KFCurveNode> node(KFCurveNode::Create("n"));
    node->SetCurve(LinearCurve({0, 10, 20}));
    KFCurveNode* warp = KFCurveNode::Create("warp");
    warp->SetCurve(LinearCurve({0, 2}));  // time t -> 2t
    ASSERT_TRUE(node->SetTimeWarp(warp));
    EXPECT_EQ(node->Evaluate(Seconds(0.25)), (std::vector<double>{5}));
    double plain[1];
    node->EvaluatePlain(plain, 1, Seconds(0.25));
    EXPECT_EQ(plain[0], 2.5);
    // A warp on a channel's second child reads its own value, not the first child's.
    std::unique_ptr<KFCurveNode> t(KFCurveNode::Create("T"));
    AddLeaf(t.get(), "X", LinearCurve({0, 10, 20}));
    AddLeaf(t.get(), "Y", LinearCurve({0, 10, 20}));
    KFCurveNode* second = KFCurveNode::Create("warp");
    second->SetCurve(LinearCurve({0, 2}));
    ASSERT_TRUE(t->Get(1)->SetTimeWarp(second));
    EXPECT_EQ(t->Evaluate(Seconds(0.25)), (std::vector<double>{2.5, 5}));
}

// Memory refused inside a warp, more often than warps nest, leaves later warps applied.
TEST(KFCurveNodeEvaluate, TimeWarpsOutliveRefusedMemory) {
    std::unique_ptr<KFCurveNode> node(KFCurveNode::Create("n"));
    node->SetCurve(LinearCurve({0, 10, 20}));
    KFCurveNode* warp = KFCurveNode::Create("warp");
    warp->SetCurve(LinearCurve({0, 2}));
    ASSERT_TRUE(node->SetTimeWarp(warp));
    std::unique_ptr<KFCurveNode> empty(KFCurveNode::Create("empty"));
    int refused = 0;
    double value = 0;
    // A thread of its own: its list of values starts empty, so the warp's value allocates.
    std::thread([&] {
        LeaksNotChecked leaks;
        double none[1];
        empty->Evaluate(none, 1, Seconds(0));
        for (int i = 0; i < 100; ++i) {
            gRefuseAll = true;
            try {
                node->Evaluate(none, 1, Seconds(0.25));
            } catch (const std::bad_alloc&) {
                ++refused;
            }
            gRefuseAll = false;
        }
        node->Evaluate(&value, 1, Seconds(0.25));
    }).join();
    EXPECT_EQ(refused, 100);
    EXPECT_EQ(value, 5);
}

TEST(KFCurveNodeEvaluate, QuaternionInterpolationHoldsAConstantOrientation) {
    for (uint32_t mode : {KFCURVE_TANGENT_TCB, KFCURVE_TANGENT_AUTO}) {
        std::unique_ptr<KFCurveNode> r(
            RotationKeys({{10, 20, 30}, {10, 20, 30}, {10, 20, 30}, {10, 20, 30}},
                         KFCURVE_INTERPOLATION_CUBIC, mode));
        r->SetQuaternionInterpolation(true);
        for (double t : {1.1, 1.5, 1.9})
            ExpectSameRotation(0, r->Evaluate(Seconds(t)), {10, 20, 30});
    }
}

TEST(KFCurveNodeEvaluate, QuaternionInterpolationMeetsTheKeys) {
    struct Case {
        uint32_t interpolation, mode;
    } cases[] = {{KFCURVE_INTERPOLATION_LINEAR, KFCURVE_TANGENT_AUTO},
                 {KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_AUTO},
                 {KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_TCB},
                 {KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_USER}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        std::unique_ptr<KFCurveNode> r(RotationKeys(
            {{0, 0, 0}, {30, 10, 0}, {60, 40, 20}, {90, 45, 30}}, c.interpolation, c.mode));
        r->SetRotationOrder(4);
        r->SetQuaternionInterpolation(true);
        ExpectSameRotation(4, r->Evaluate(Seconds(1.000001)), {30, 10, 0}, 1e-4);
        ExpectSameRotation(4, r->Evaluate(Seconds(1.999999)), {60, 40, 20}, 1e-4);
        if (c.mode == KFCURVE_TANGENT_USER) continue;
        // Halfway the orientation lies between the keys' (the angle to each is about equal).
        std::vector<double> mid = r->Evaluate(Seconds(1.5));
        KMatrix m = Rotation(4, mid), a = Rotation(4, {30, 10, 0}), b = Rotation(4, {60, 40, 20});
        KMatrix ta, tb;
        KMatrixMultiplyTransposed3x3(ta, m, a);
        KMatrixMultiplyTransposed3x3(tb, m, b);
        double angleA = std::acos((ta[0][0] + ta[1][1] + ta[2][2] - 1) / 2);
        double angleB = std::acos((tb[0][0] + tb[1][1] + tb[2][2] - 1) / 2);
        EXPECT_NEAR(angleA, angleB, 0.05);
        EXPECT_GT(angleA, 0.1);
    }
}

TEST(KFCurveNodeEvaluate, LongWarpChainsStayBounded) {
    std::unique_ptr<KFCurveNode> node(KFCurveNode::Create("n"));
    node->SetCurve(LinearCurve({0, 10}));
    KFCurveNode* last = node.get();
    for (int i = 0; i < 20000; ++i) {
        KFCurveNode* warp = KFCurveNode::Create("w");
        warp->SetCurve(ConstantCurve(0.5f));
        ASSERT_TRUE(last->SetTimeWarp(warp));
        last = warp;
    }
    std::vector<double> v = node->Evaluate(Seconds(0));
    ASSERT_EQ(v.size(), 1u);
    EXPECT_EQ(v[0], 5);
}
