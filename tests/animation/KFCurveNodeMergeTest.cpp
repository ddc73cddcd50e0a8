#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ChannelFileUtil.h"
#include "ChannelTestUtil.h"
#include "animation/KFCurve.h"
#include "animation/KFCurveNode.h"
#include "animation/KFCurveNodeMerge.h"
#include "animation/KFCurveSettings.h"
#include "foundation/KMatrix.h"
#include "foundation/KRotationOrder.h"
#include "scene/KClassRegistry.h"

namespace {

class Merge : public ::testing::Test {
protected:
    void SetUp() override { KQovSdkInit(); }
    void TearDown() override { KQovSdkRelease(); }
};

using Triple3 = std::vector<float>;

// A node whose X, Y, Z curves go linearly from `from` (0 s) to `to` (1 s).
KFCurveNode* LinearTriple(const char* name, int type, const Triple3& from, const Triple3& to) {
    KFCurveNode* node = KFCurveNode::Create(name);
    const char* axes[3] = {"X", "Y", "Z"};
    for (size_t i = 0; i < 3; ++i) AddLeaf(node, axes[i], LinearCurve({from[i], to[i]}));
    node->SetLayerType(type);
    return node;
}

void SetLayerKeys(KFCurveNode* layer, const Triple3& from, const Triple3& to) {
    for (int i = 0; i < 3; ++i)
        layer->Get(i)->ReplaceCurve(LinearCurve({from[size_t(i)], to[size_t(i)]}));
}

std::vector<double> Lerp(const Triple3& a, const Triple3& b, double u) {
    std::vector<double> out;
    for (size_t i = 0; i < 3; ++i) out.push_back(double(a[i]) + (double(b[i]) - a[i]) * u);
    return out;
}

// base (+) layer worked out by hand: sums, products, or the layer's rotation after the base's.
std::vector<double> HandCombined(int type, int order, const std::vector<double>& base,
                                 const std::vector<double>& layer) {
    std::vector<double> out(3);
    if (type == KFCURVENODE_LAYER_EULER_ROTATION) {
        KMatrix m;
        KMatrixMultiply3x3(m, EulerMatrix(order, layer.data()), EulerMatrix(order, base.data()));
        KVector4 e;
        KRotationOrder(order).MatrixToEuler(e, m);
        for (int i = 0; i < 3; ++i) out[size_t(i)] = e[i];
    } else {
        for (size_t i = 0; i < 3; ++i)
            out[i] = type == KFCURVENODE_LAYER_SCALING ? base[i] * layer[i] : base[i] + layer[i];
    }
    return out;
}

void ExpectSameValues(int type, int order, const std::vector<double>& a,
                      const std::vector<double>& b) {
    if (type == KFCURVENODE_LAYER_EULER_ROTATION) return ExpectSameRotation(order, a, b, 1e-4);
    ASSERT_GE(a.size(), 3u);
    ASSERT_GE(b.size(), 3u);
    for (size_t i = 0; i < 3; ++i) EXPECT_NEAR(a[i], b[i], 1e-4 * (1 + std::fabs(b[i])));
}

std::vector<int> ChainIds(const KFCurveNode* node) {
    std::vector<int> ids;
    for (const KFCurveNode* n = node; n; n = n->GetNextLayer()) ids.push_back(n->GetLayerId());
    return ids;
}

struct ReaderCase {
    const char* name;
    int type;
    int order;
    Triple3 baseFrom, baseTo, layerFrom, layerTo;
};

const ReaderCase kReaderCases[] = {
    {"translation",
     KFCURVENODE_LAYER_TRANSLATION,
     0,
     {0, 1, 2},
     {10, 11, 12},
     {5, 0, -3},
     {-5, 2, 3}},
    {"scaling", KFCURVENODE_LAYER_SCALING, 0, {1, 2, 1}, {2, 2, 4}, {2, 0.5f, 1}, {1, 1, 3}},
    // Rotations about different axes do not commute: the order of the product shows.
    {"rotation xyz",
     KFCURVENODE_LAYER_EULER_ROTATION,
     0,
     {0, 0, 0},
     {90, 0, 0},
     {0, 30, 0},
     {0, 60, 10}},
    {"rotation zyx",
     KFCURVENODE_LAYER_EULER_ROTATION,
     5,
     {10, 20, 0},
     {80, -40, 170},
     {0, 0, 45},
     {30, 60, -20}},
};

}  // namespace

TEST_F(Merge, ReaderCallBakesBasePlusLayerAtEveryPeriodStep) {
    const KTime period = GetDefaultSamplingPeriod();
    for (const ReaderCase& c : kReaderCases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<KFCurveNode> root(KFCurveNode::Create("Transform"));
        KFCurveNode* node = LinearTriple("N", c.type, c.baseFrom, c.baseTo);
        root->Add(node);
        node->SetRotationOrder(c.order);
        node->Get(0)->GetCurve()->SetTag(77);
        node->Get(0)->GetCurve()->SetValue(3.5f);
        node->Get(0)->GetCurve()->SetPostExtrapolation(KFCURVE_EXTRAPOLATION_REPETITION);
        SetLayerKeys(node->AddLayer(1, true), c.layerFrom, c.layerTo);

        std::vector<std::vector<double>> live;
        for (int k = 0; k < 32; ++k) live.push_back(node->Evaluate(KTime(period.Get() * k)));

        MergeLayersAfterRead(root.get());
        EXPECT_EQ(node->GetNextLayer(), nullptr);
        EXPECT_EQ(node->Get(0)->GetCurve()->GetTag(), 77u);
        EXPECT_EQ(node->Get(0)->GetCurve()->GetValue(), 3.5f);
        EXPECT_EQ(node->Get(0)->GetCurve()->GetPostExtrapolation(),
                  KFCURVE_EXTRAPOLATION_REPETITION);
        for (int i = 0; i < 3; ++i) ASSERT_EQ(node->Get(i)->GetCurve()->KeyGetCount(), 32);
        for (int k = 0; k < 32; ++k) {
            SCOPED_TRACE(k);
            KTime t(period.Get() * k);
            std::vector<double> keys;
            for (int i = 0; i < 3; ++i) {
                EXPECT_EQ(node->Get(i)->GetCurve()->KeyGetTime(k), t);
                keys.push_back(node->Get(i)->GetCurve()->KeyGetValue(k));
            }
            double u = std::min(1.0, t.GetSecondDouble());
            std::vector<double> hand = HandCombined(c.type, c.order, Lerp(c.baseFrom, c.baseTo, u),
                                                    Lerp(c.layerFrom, c.layerTo, u));
            ExpectSameValues(c.type, c.order, keys, hand);
            ExpectSameValues(c.type, c.order, keys, live[size_t(k)]);
            node->InvalidateCache(0, true);
            ExpectSameValues(c.type, c.order, node->Evaluate(t), keys);
        }
    }
}

TEST_F(Merge, BakedRotationKeysJoinWithoutJumps) {
    std::unique_ptr<KFCurveNode> root(KFCurveNode::Create("Transform"));
    KFCurveNode* node = LinearTriple("R", KFCURVENODE_LAYER_EULER_ROTATION, {0, 0, 0}, {0, 0, 350});
    root->Add(node);
    SetLayerKeys(node->AddLayer(1, true), {0, 0, 0}, {0, 0, 10});
    MergeLayersAfterRead(root.get());
    KFCurve* z = node->Get(2)->GetCurve();
    ASSERT_EQ(z->KeyGetCount(), 32);
    for (int k = 1; k < 32; ++k)
        EXPECT_LT(std::fabs(z->KeyGetValue(k) - z->KeyGetValue(k - 1)), 20.0f) << k;
}

TEST_F(Merge, KeylessNodeKeepsItsStaticValue) {
    std::unique_ptr<KFCurveNode> root(KFCurveNode::Create("Transform"));
    KFCurveNode* node = Triple("T", KFCURVENODE_LAYER_TRANSLATION, 1, 2, 3);
    root->Add(node);
    KFCurveNode* layer = node->AddLayer(1, true);
    for (int i = 0; i < 3; ++i) layer->Get(i)->GetCurve()->SetValue(10.0f * (i + 1));
    KFCurve* before = node->Get(0)->GetCurve();
    MergeLayersAfterRead(root.get());
    EXPECT_EQ(node->Get(0)->GetCurve(), before);
    EXPECT_EQ(before->KeyGetCount(), 0);
    node->InvalidateCache(0, true);
    EXPECT_EQ(node->Evaluate(Seconds(0.5)), (std::vector<double>{11, 22, 33}));
}

TEST_F(Merge, WriteReadMergeWriteIsStable) {
    std::unique_ptr<KFCurveNode> source(KFCurveNode::Create("Defaults"));
    KFCurveNode* node = LinearTriple("R", KFCURVENODE_LAYER_EULER_ROTATION, {0, 10, 0}, {90, 0, 0});
    source->Add(node);
    SetLayerKeys(node->AddLayer(1, true), {0, 0, 20}, {0, 45, 0});
    auto store = [](KFCurveNode* root) {
        return [root](KQovFieldFile& f) {
            for (int i = 0; i < root->GetCount(); ++i)
                root->Get(i)->Store(f, false, true, false, "Channel", true, false);
        };
    };
    auto retrieve = [](KFCurveNode* root) {
        return [root](KQovFieldFile& f) {
            while (KFCurveNode::Retrieve(f, root, false, true, false)) {
            }
        };
    };
    std::unique_ptr<KFCurveNode> first(KFCurveNode::Create("Defaults"));
    ThroughFile(false, store(source.get()), retrieve(first.get()));
    ASSERT_EQ(first->GetCount(), 1);
    ASSERT_NE(first->Get(0)->GetNextLayer(), nullptr);
    MergeLayersAfterRead(first.get());
    EXPECT_EQ(first->Get(0)->GetNextLayer(), nullptr);
    // The channels, without the header's time stamp.
    auto channels = [&](KFCurveNode* root) {
        std::string text = WrittenText(store(root));
        return text.substr(text.find("Channel:"));
    };
    std::string a = channels(first.get());

    std::unique_ptr<KFCurveNode> second(KFCurveNode::Create("Defaults"));
    ThroughFile(false, store(first.get()), retrieve(second.get()));
    MergeLayersAfterRead(second.get());
    EXPECT_EQ(channels(second.get()), a);
    for (double s : {0.0, 0.25, 0.5, 1.0})
        ExpectSameValues(KFCURVENODE_LAYER_EULER_ROTATION, 0, second->Get(0)->Evaluate(Seconds(s)),
                         node->Evaluate(Seconds(s)));
}

namespace {

// T: base keys holding 1 at 0 s and 1 s, layer 1 holding 10 and layer 2 holding 100 (no keys).
KFCurveNode* ThreeLayers() {
    KFCurveNode* t = LinearTriple("T", KFCURVENODE_LAYER_TRANSLATION, {1, 1, 1}, {1, 1, 1});
    t->AddLayer(1, true);
    t->EnsureLayer(2);
    for (int id : {1, 2})
        for (int i = 0; i < 3; ++i)
            t->FindLayer(id)->Get(i)->GetCurve()->SetValue(id == 1 ? 10 : 100);
    return t;
}

struct FlagCase {
    const char* name;
    uint32_t flags;
    std::vector<int> ids;  // empty: no list
    int layerId;
    bool output;
    std::vector<int> chain;  // layer ids after the merge
    double value;            // node's X at 0.5 s after the merge
    double outputValue;
};

const FlagCase kFlagCases[] = {
    {"substitute base", 16, {}, 0, false, {0, 1, 2}, 111 + 110, 0},
    // Removing acts on listed layers only: the base takes the merge, the layers stay.
    {"remove without a list removes nothing", 16 | 2, {}, 0, false, {0, 1, 2}, 111 + 110, 0},
    {"remove alone without a list", 2, {}, 0, false, {0, 1, 2}, 111, 0},
    {"listed layers into base", 16 | 2, {0, 1}, 0, false, {0, 2}, 111, 0},
    {"remove without receiver", 2, {2}, 0, false, {0, 1}, 11, 0},
    {"span into layer 1", 8, {}, 1, false, {0, 1, 2}, 1 + 111 + 100, 0},
    {"chain ends below target", 8, {}, 3, false, {0, 1, 2}, 111, 0},
    {"output node only", 16 | 8, {}, 0, true, {0, 1, 2}, 111, 111},
    {"neutralise keeps the chain", 4, {1, 2}, 0, false, {0, 1, 2}, 1, 0},
};

}  // namespace

TEST_F(Merge, FlagsPickReceiverAndMergedLayers) {
    for (const FlagCase& c : kFlagCases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<KFCurveNode> t(ThreeLayers());
        std::unique_ptr<KFCurveNode> out(Triple("T", KFCURVENODE_LAYER_TRANSLATION, 0, 0, 0));
        KArrayInt ids;
        for (int id : c.ids) ids.Add(id);
        MergeLayers(t.get(), c.ids.empty() ? nullptr : &ids, c.layerId, c.flags, Seconds(0),
                    Seconds(1), Seconds(0.5), c.output ? out.get() : nullptr, nullptr, false,
                    nullptr);
        EXPECT_EQ(ChainIds(t.get()), c.chain);
        t->InvalidateCache(0, true);
        EXPECT_NEAR(t->Evaluate(Seconds(0.5))[0], c.value, 1e-4);
        if (c.output) {
            EXPECT_NEAR(out->Evaluate(Seconds(0.5))[0], c.outputValue, 1e-4);
            EXPECT_EQ(out->Get(0)->GetCurve()->KeyGetCount(), 4);  // 0, 0.5, 1, 1.5 s
        }
    }
}

TEST_F(Merge, CallsThatChangeNothing) {
    struct Case {
        const char* name;
        KTime start, stop, period;
    };
    const Case cases[] = {
        {"zero period", Seconds(0), Seconds(1), KTime(0)},
        {"negative period", Seconds(0), Seconds(1), KTime(-5)},
        {"empty span", Seconds(1), Seconds(0), Seconds(0.5)},
        {"span too long to sample", KTIME_MINUS_INFINITE, KTIME_INFINITE, Seconds(1.0 / 30)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<KFCurveNode> t(ThreeLayers());
        KFCurve* x = t->Get(0)->GetCurve();
        MergeLayers(t.get(), nullptr, 0, 16 | 2, c.start, c.stop, c.period, nullptr, nullptr, false,
                    nullptr);
        EXPECT_EQ(ChainIds(t.get()), (std::vector<int>{0, 1, 2}));
        EXPECT_EQ(t->Get(0)->GetCurve(), x);
        EXPECT_EQ(x->KeyGetCount(), 2);
    }
}

TEST_F(Merge, TimeSteppingStopsAtTheEndOfTheRange) {
    std::unique_ptr<KFCurveNode> t(ThreeLayers());
    std::unique_ptr<KFCurveNode> out(Triple("T", KFCURVENODE_LAYER_TRANSLATION, 0, 0, 0));
    KTime start(KTime::kInfinite - 10);
    MergeLayers(t.get(), nullptr, 0, 0, start, KTIME_INFINITE, Seconds(1), out.get(), nullptr,
                false, nullptr);
    KFCurve* x = out->Get(0)->GetCurve();
    ASSERT_EQ(x->KeyGetCount(), 2);
    EXPECT_EQ(x->KeyGetTime(0), start);
    EXPECT_EQ(x->KeyGetTime(1), KTIME_INFINITE);
}

TEST_F(Merge, SplitLayerAgainstTheLayersAroundIt) {
    struct Case {
        float base, split, above;
        double expected;
    };
    // Own value minus what the layers below and above it add.
    const Case cases[] = {{0, 7, 0, 7}, {5, 7, 0, 2}, {5, 7, 1, 1}};
    for (const Case& c : cases) {
        std::unique_ptr<KFCurveNode> t(Triple("T", KFCURVENODE_LAYER_TRANSLATION, c.base, 0, 0));
        KFCurveNode* split = t->AddLayer(1, true);
        split->Get(0)->GetCurve()->SetValue(c.split);
        t->EnsureLayer(2)->Get(0)->GetCurve()->SetValue(c.above);
        std::unique_ptr<KFCurveNode> out(Triple("T", KFCURVENODE_LAYER_TRANSLATION, 0, 0, 0));
        MergeLayers(t.get(), nullptr, 1, 0, Seconds(0), Seconds(1), Seconds(1), out.get(), split,
                    false, nullptr);
        EXPECT_NEAR(out->Evaluate(Seconds(0.5))[0], c.expected, 1e-6) << c.base << " " << c.split;
    }
}

TEST_F(Merge, InverseUndoesCombine) {
    struct Case {
        int type;
        std::vector<double> a, b;
    };
    const Case cases[] = {
        {KFCURVENODE_LAYER_TRANSLATION, {1, -2, 3}, {4, 5, 6}},
        {KFCURVENODE_LAYER_SCALING, {2, 4, 0.5}, {3, 0.25, 8}},
        {KFCURVENODE_LAYER_EULER_ROTATION, {10, 20, 30}, {-40, 15, 70}},
        {KFCURVENODE_LAYER_QUATERNION_ROTATION, {0.5, 0.5, 0.5, 0.5}, {0, 0.6, 0, 0.8}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        int n = int(c.a.size());
        std::vector<double> v = c.a, inv = c.b;
        KFCurveNodeCombineValues(c.type, 0, v.data(), c.b.data(), n);
        KFCurveNodeInverseValues(c.type, 0, inv.data(), n);
        KFCurveNodeCombineValues(c.type, 0, v.data(), inv.data(), n);
        for (int i = 0; i < n; ++i) EXPECT_NEAR(v[size_t(i)], c.a[size_t(i)], 1e-9);
    }
    double zero[3] = {0, 2, 0};
    KFCurveNodeInverseValues(KFCURVENODE_LAYER_SCALING, 0, zero, 3);
    EXPECT_EQ(zero[0], 0.0);
    EXPECT_EQ(zero[1], 0.5);
}

TEST_F(Merge, KeyModeAddsLayerKeyTimes) {
    struct Case {
        const char* name;
        bool denseResult;
        std::vector<double> times;
    };
    const Case cases[] = {
        {"sparse", false, {0, 0.45, 1}},
        {"dense", true, {0, 0.45, 0.5, 1, 1.5}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<KFCurveNode> t(ThreeLayers());
        KFCurve* lx = t->FindLayer(1)->Get(0)->GetCurve();
        lx->KeyAppendFast(Seconds(0.45), 20.0f);
        std::unique_ptr<KFCurveNode> out(Triple("T", KFCURVENODE_LAYER_TRANSLATION, 0, 0, 0));
        MergeLayersOptions options;
        options.mEnabled = true;
        options.mDenseResult = c.denseResult;
        MergeLayers(t.get(), nullptr, 0, 0, Seconds(0), Seconds(1), Seconds(0.5), out.get(),
                    nullptr, false, &options);
        KFCurve* x = out->Get(0)->GetCurve();
        ASSERT_EQ(x->KeyGetCount(), int(c.times.size()));
        for (size_t k = 0; k < c.times.size(); ++k)
            EXPECT_EQ(x->KeyGetTime(int(k)), Seconds(c.times[k]));
        EXPECT_NEAR(x->KeyGetValue(1), 121.0, 1e-4);
    }
}

TEST_F(Merge, RefineSegmentInsertsWhereTheCurveDeparts) {
    struct Case {
        const char* name;
        double t1;
        int subdivisions;
        int keys;
    };
    const Case cases[] = {
        {"middle only", 1.0, 2, 3},
        {"step too short", 1.0 / 100, 2, 2},
        {"one part", 1.0, 1, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<KFCurve> curve(LinearCurve({0, 0}));
        curve->KeySetTime(1, Seconds(c.t1));
        std::unique_ptr<KFCurve> reference(new KFCurve);
        for (double s : {0.0, c.t1 / 2, c.t1})
            reference->KeyAppendFast(Seconds(s), s == 0 || s == c.t1 ? 0 : 1);
        for (int k = 0; k < 3; ++k) reference->KeySetInterpolation(k, KFCURVE_INTERPOLATION_LINEAR);
        EXPECT_FALSE(RefineSegment(Seconds(0), Seconds(c.t1), curve.get(), reference.get(), 0.01,
                                   c.subdivisions, false, KTime(0), 0.0, false, nullptr, nullptr));
        EXPECT_EQ(curve->KeyGetCount(), c.keys);
    }
}
