#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "ChannelFileUtil.h"
#include "ChannelTestUtil.h"
#include "common/RefusingHeap.h"
#include "animation/KFCurve.h"
#include "animation/KFCurveNode.h"
#include "animation/KFCurveSettings.h"
#include "animation/KFCurveTimeWarpTable.h"
#include "fieldfile/FieldFileTestUtil.h"
#include "fieldfile/KQovFieldFile.h"
#include "scene/KClassRegistry.h"
#include "scene/KDataType.h"

namespace {

// Data types exist while the library is started.
class ChannelFixture : public ::testing::Test {
protected:
    void SetUp() override { KQovSdkInit(); }
    void TearDown() override {
        SetTimeWarpTable(nullptr);
        KQovSdkRelease();
    }
};

class ChannelStorage : public ChannelFixture, public ::testing::WithParamInterface<bool> {};

const KDataType* Type(const char* name) {
    return KDataType::FindByName(name);
}

void StoreChildren(KFCurveNode* root, KQovFieldFile& file, bool shortNames) {
    for (int i = 0; i < root->GetCount(); ++i)
        root->Get(i)->Store(file, false, shortNames, false, "Channel", true, false);
}

void RetrieveChildren(KFCurveNode* root, KQovFieldFile& file) {
    while (KFCurveNode::Retrieve(file, root, false, true, false)) {
    }
}

void ExpectSameTree(const KFCurveNode* a, const KFCurveNode* b) {
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    SCOPED_TRACE(std::string("node ") + a->GetName());
    EXPECT_STREQ(a->GetName(), b->GetName());
    EXPECT_STREQ(a->GetSecondName(), b->GetSecondName());
    EXPECT_EQ(a->GetLayerId(), b->GetLayerId());
    EXPECT_EQ(a->GetLayerType(), b->GetLayerType());
    EXPECT_EQ(a->GetTimeWarp(), b->GetTimeWarp());
    ASSERT_EQ(a->GetCurve() != nullptr, b->GetCurve() != nullptr);
    if (a->GetCurve()) {
        const KFCurve& x = *a->GetCurve();
        const KFCurve& y = *b->GetCurve();
        EXPECT_EQ(x.GetValue(), y.GetValue());
        ASSERT_EQ(x.KeyGetCount(), y.KeyGetCount());
        for (int i = 0; i < x.KeyGetCount(); ++i) {
            EXPECT_EQ(x.KeyGetTime(i), y.KeyGetTime(i));
            EXPECT_EQ(x.KeyGetValue(i), y.KeyGetValue(i));
            EXPECT_EQ(x.KeyGet(i)->GetFlags(), y.KeyGet(i)->GetFlags());
        }
        EXPECT_EQ(x.GetColor()[0], y.GetColor()[0]);
    }
    ASSERT_EQ(a->GetCount(), b->GetCount());
    for (int i = 0; i < a->GetCount(); ++i) ExpectSameTree(a->Get(i), b->Get(i));
    ASSERT_EQ(a->GetNextLayer() != nullptr, b->GetNextLayer() != nullptr);
    if (a->GetNextLayer()) ExpectSameTree(a->GetNextLayer(), b->GetNextLayer());
}

// Defaults / Transform / {Lcl Translation (layers 1, 3), R (layer 2)}, Visibility (warped).
KFCurveNode* AnimatedTree(KFCurveNode* warp) {
    KFCurveNode* root = KFCurveNode::Create("Defaults");
    KFCurveNode* transform = KFCurveNode::Create("Transform");
    root->Add(transform);
    KFCurveNode* t = KFCurveNode::Create("Lcl Translation", Type("Lcl Translation"));
    transform->Add(t);
    AddLeaf(t, "X", LinearCurve({1, 2, 3}));
    AddLeaf(t, "Y", ConstantCurve(5));
    AddLeaf(t, "Z", LinearCurve({-1, 4}));
    t->SetLayerType(KFCURVENODE_LAYER_TRANSLATION);
    t->SetSecondName("Position");
    t->AddLayer(1, true);
    t->EnsureLayer(3);
    t->FindLayer(3)->Get(0)->GetCurve()->KeyAppendFast(Seconds(2), 7);
    KFCurveNode* r = Triple("R", KFCURVENODE_LAYER_EULER_ROTATION, 10, 20, 30);
    transform->Add(r);
    r->AddLayer(2, true);
    KFCurveNode* visibility = AddLeaf(root, "Visibility", LinearCurve({0, 1}));
    visibility->SetTimeWarp(warp);
    const float red[3] = {1, 0, 0};
    visibility->GetCurve()->SetColor(red);
    return root;
}

}  // namespace

TEST_P(ChannelStorage, TreeWithLayersUserNamesAndTimeWarpsRoundTrips) {
    KFCurveTimeWarpTable table;
    KFCurveNode* warp = KFCurveNode::Create("TimeWarp", Type("TimeWarp"));
    warp->SetCurve(LinearCurve({0, 2}));
    table.Add(4, warp);
    SetTimeWarpTable(&table);
    std::unique_ptr<KFCurveNode> source(AnimatedTree(warp));
    std::unique_ptr<KFCurveNode> target(KFCurveNode::Create("Defaults"));
    ThroughFile(
        GetParam(), [&](KQovFieldFile& f) { StoreChildren(source.get(), f, false); },
        [&](KQovFieldFile& f) { RetrieveChildren(target.get(), f); });
    ExpectSameTree(source.get(), target.get());
    KFCurveNode* t = target->Find("Transform/Lcl Translation");
    ASSERT_NE(t, nullptr);
    KFCurveNode* layer = t->GetNextLayer();
    ASSERT_NE(layer, nullptr);
    EXPECT_EQ(layer->GetBaseLayerNode(), t);
    EXPECT_EQ(layer->Get(0)->GetBaseLayerNode(), t->Get(0));
    EXPECT_EQ(layer->Get(0)->GetNameRecord(), t->Get(0)->GetNameRecord());
    EXPECT_EQ(target->Find("Transform/R")->GetLayerType(), KFCURVENODE_LAYER_EULER_ROTATION);
    EXPECT_EQ(source->Find("Transform")->Evaluate(Seconds(1.5)),
              target->Find("Transform")->Evaluate(Seconds(1.5)));
    EXPECT_EQ(warp->GetShareCount(), 3);  // the table and both trees
    source.reset();
    target.reset();
    SetTimeWarpTable(nullptr);
}

TEST_P(ChannelStorage, ShortNamesFindTransformNodesByType) {
    std::unique_ptr<KFCurveNode> source(AnimatedTree(nullptr));
    // The reader's tree has the typed nodes already, without curves.
    std::unique_ptr<KFCurveNode> target(source->Clone(false, false, false));
    ThroughFile(
        GetParam(), [&](KQovFieldFile& f) { StoreChildren(source.get(), f, true); },
        [&](KQovFieldFile& f) { RetrieveChildren(target.get(), f); });
    KFCurveNode* t = target->Find("Transform/T");
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t->GetName(), "Lcl Translation");
    ASSERT_NE(t->Get(0)->GetCurve(), nullptr);
    EXPECT_EQ(t->Get(0)->GetCurve()->KeyGetCount(), 3);
    EXPECT_EQ(target->GetCount(), source->GetCount());
}

// A quaternion channel keeps its fourth child, its type and its layer; every curve keeps its
// key kinds, weights and extrapolations.
TEST_P(ChannelStorage, QuaternionChannelWithLayerAndEveryKeyKindRoundTrips) {
    std::unique_ptr<KFCurveNode> source(KFCurveNode::Create("Defaults"));
    KFCurveNode* q = Triple("Orientation", KFCURVENODE_LAYER_QUATERNION_ROTATION, 0, 0, 0.6f);
    source->Add(q);
    ASSERT_EQ(q->GetCount(), 4);
    q->Get(3)->GetCurve()->SetValue(0.8f);
    KFCurve* x = q->Get(0)->GetCurve();
    x->KeyAppendFast(Seconds(0), 0.1f);
    x->KeySet(0, Seconds(0), 0.1f, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_USER, 1.5f, -2,
              KFCURVE_WEIGHTED_ALL, 0.25f, 0.5f);
    x->KeyAppendFast(Seconds(1), 0.2f);
    x->KeySetTCB(1, Seconds(1), 0.2f, 0.1f, 0.2f, 0.3f);
    x->SetPostExtrapolation(KFCURVE_EXTRAPOLATION_MIRROR_REPETITION);
    x->SetPostExtrapolationCount(2);
    KFCurveNode* layer = q->AddLayer(1, true);
    ASSERT_NE(layer, nullptr);
    layer->Get(2)->GetCurve()->SetValue(0.5f);
    std::unique_ptr<KFCurveNode> target(KFCurveNode::Create("Defaults"));
    ThroughFile(
        GetParam(), [&](KQovFieldFile& f) { StoreChildren(source.get(), f, true); },
        [&](KQovFieldFile& f) { RetrieveChildren(target.get(), f); });
    ExpectSameTree(source.get(), target.get());
    KFCurveNode* read = target->Get(0);
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->GetLayerType(), KFCURVENODE_LAYER_QUATERNION_ROTATION);
    KFCurve* rx = read->Get(0)->GetCurve();
    EXPECT_EQ(rx->KeyGetTangentMode(1), uint32_t(KFCURVE_TANGENT_TCB));
    EXPECT_EQ(rx->KeyGetDataSlot(0, 0), 1.5f);
    EXPECT_EQ(rx->GetPostExtrapolation(), KFCURVE_EXTRAPOLATION_MIRROR_REPETITION);
    EXPECT_EQ(rx->GetPostExtrapolationCount(), 2u);
    ASSERT_NE(read->GetNextLayer(), nullptr);
    EXPECT_EQ(read->GetNextLayer()->Get(3)->GetBaseLayerNode(), read->Get(3));
    EXPECT_EQ(source->Get(0)->Evaluate(Seconds(0.5)), read->Evaluate(Seconds(0.5)));
}

INSTANTIATE_TEST_SUITE_P(AsciiAndBinary, ChannelStorage, ::testing::Values(false, true));

TEST_F(ChannelFixture, WritingLeavesOutWhatIsDefault) {
    std::unique_ptr<KFCurveNode> node(KFCurveNode::Create("Intensity"));
    node->SetCurve(ConstantCurve(1));
    std::string text = WrittenText([&](KQovFieldFile& out) {
        node->Store(out, false, true, false, "Channel", true, false);
        node->SetSecondName("Brightness");
        node->Store(out, false, true, true, "Channel", true, false);
    });
    EXPECT_EQ(text.find("UserName"), std::string::npos) << text;
    EXPECT_EQ(text.find("LayerID"), std::string::npos);
    EXPECT_EQ(text.find("LayerType"), std::string::npos);
    EXPECT_EQ(text.find("TimeWarpID"), std::string::npos);
    EXPECT_NE(text.find("Color"), std::string::npos);
}

TEST_F(ChannelFixture, NamesWithParenthesesAndSkippedChannels) {
    std::unique_ptr<KFCurveNode> root(KFCurveNode::Create("Defaults"));
    KFCurveNode* color = Triple("Color", KFCURVENODE_LAYER_PLAIN, 0, 0, 0);
    root->Add(color);
    KFCurveNode* intensity = AddLeaf(root.get(), "Intensity", ConstantCurve(0));
    ReadText(
        "Channel: \"Color (RGB)\" {\n  Channel: \"X\" {\n    Default: 0.5\n  }\n}\n"
        "Channel: \"Intensity\" {\n  Channel: \"Nope\" {\n    Default: 3\n  }\n"
        "  Channel: \"Other\" {\n  }\n  Default: 7\n}\n",
        [&](KQovFieldFile& f) { RetrieveChildren(root.get(), f); });
    EXPECT_EQ(color->Get(0)->GetCurve()->GetValue(), 0.5f);
    EXPECT_EQ(intensity->GetCount(), 0);  // a node with a curve takes no unknown channels
    EXPECT_EQ(intensity->GetCurve()->GetValue(), 7);
    EXPECT_EQ(root->GetCount(), 2);
}

TEST_F(ChannelFixture, ManyUnmatchedChannelsAreSkippedInALoop) {
    std::string body = "Channel: \"Intensity\" {\n  Default: 1\n";
    for (int i = 0; i < 10000; ++i) body += "  Channel: \"c" + std::to_string(i) + "\" {\n  }\n";
    body += "}\n";
    std::unique_ptr<KFCurveNode> root(KFCurveNode::Create("Defaults"));
    AddLeaf(root.get(), "Intensity", ConstantCurve(0));
    ReadText(body, [&](KQovFieldFile& f) { RetrieveChildren(root.get(), f); });
    EXPECT_EQ(root->Get(0)->GetCount(), 0);
    EXPECT_EQ(root->Get(0)->GetCurve()->GetValue(), 1);
    // Without creation nothing unknown is added either.
    std::unique_ptr<KFCurveNode> other(KFCurveNode::Create("Defaults"));
    ReadText(body, [&](KQovFieldFile& f) {
        EXPECT_EQ(KFCurveNode::Retrieve(f, other.get(), false, false, false), nullptr);
    });
    EXPECT_EQ(other->GetCount(), 0);
}

TEST_F(ChannelFixture, TimeWarpIdsAndCycles) {
    KFCurveTimeWarpTable table;
    KFCurveNode* warp = KFCurveNode::Create("TimeWarp", Type("TimeWarp"));
    EXPECT_STREQ(warp->GetSecondName(), "");
    table.Add(1, warp);
    SetTimeWarpTable(&table);
    std::unique_ptr<KFCurveNode> root(KFCurveNode::Create("Defaults"));
    ReadText(
        "Channel: \"T\" {\n  Channel: \"X\" {\n    TimeWarpID: 1\n    Default: 0\n  }\n}\n"
        "Channel: \"A\" {\n  TimeWarpID: 0\n}\nChannel: \"B\" {\n  TimeWarpID: 9\n}\n",
        [&](KQovFieldFile& f) { RetrieveChildren(root.get(), f); });
    // An X, Y or Z channel gives its warp to its parent.
    EXPECT_EQ(root->Find("T")->GetTimeWarp(), warp);
    EXPECT_EQ(root->Find("T/X")->GetTimeWarp(), nullptr);
    EXPECT_EQ(root->Find("A")->GetTimeWarp(), nullptr);
    EXPECT_EQ(root->Find("B")->GetTimeWarp(), nullptr);
    // The warp's own content naming itself is refused.
    ReadText("Channel: \"W\" {\n  TimeWarpID: 1\n}\n", [&](KQovFieldFile& f) {
        ASSERT_TRUE(f.FieldReadBegin("Channel"));
        warp->RetrieveContent(f, false, true, false);
        f.FieldReadEnd();
    });
    EXPECT_EQ(warp->GetTimeWarp(), nullptr);
    EXPECT_EQ(FindTimeWarp(1), warp);
    int id = 0;
    EXPECT_TRUE(FindTimeWarpId(warp, id));
    EXPECT_EQ(id, 1);
    EXPECT_FALSE(FindTimeWarpId(nullptr, id));
    root.reset();
    SetTimeWarpTable(nullptr);
    EXPECT_EQ(FindTimeWarp(1), nullptr);
}

TEST_F(ChannelFixture, LayerChannelReplacesAnExistingLayer) {
    std::unique_ptr<KFCurveNode> root(KFCurveNode::Create("Defaults"));
    KFCurveNode* p = AddLeaf(root.get(), "P", ConstantCurve(0));
    p->AddLayer(5, true);  // replaced below; ASan reports it if it leaks
    ReadText(
        "Channel: \"P\" {\n  Default: 1\n"
        "  LayerChannel: \"P\" {\n    Default: 2\n    LayerID: 1\n"
        "    LayerChannel: \"P\" {\n      Default: 3\n      LayerID: 2\n    }\n  }\n}\n",
        [&](KQovFieldFile& f) { RetrieveChildren(root.get(), f); });
    ASSERT_NE(p->GetNextLayer(), nullptr);
    EXPECT_EQ(p->GetNextLayer()->GetLayerId(), 1);
    ASSERT_NE(p->GetNextLayer()->GetNextLayer(), nullptr);
    EXPECT_EQ(p->GetNextLayer()->GetNextLayer()->GetLayerId(), 2);
    EXPECT_EQ(p->GetNextLayer()->GetNextLayer()->GetBaseLayerNode(), p);
    EXPECT_EQ(p->Evaluate(Seconds(0)), (std::vector<double>{6}));
}

// A layer's channel read takes its base channel's name; among many channels the layer still
// finds each by name.
TEST_F(ChannelFixture, LayerChannelsReadAmongManyAreFoundByName) {
    std::unique_ptr<KFCurveNode> base(KFCurveNode::Create("P"));
    base->SetFlags(base->GetFlags() | KFCURVENODE_LAYERING);
    KFCurveNode* layer = base->AddLayer(1, true);
    ASSERT_NE(layer, nullptr);
    for (int i = 0; i < 20; ++i)
        for (KFCurveNode* node : {base.get(), layer})
            node->FindOrCreateChild(("c" + std::to_string(i)).c_str(), true);
    KFCurveNode* read = layer->FindChildByName("C3");
    ReadText("Channel: \"c3\" {\n  LayerID: 1\n}\n",
             [&](KQovFieldFile& f) { RetrieveChildren(layer, f); });
    EXPECT_EQ(read->GetNameRecord(), base->FindChildByName("c3")->GetNameRecord());
    {
        LeaksNotChecked quiet;
        gRefuseAll = true;  // no index can be made: the children are walked
        KFCurveNode* found = layer->FindChildByName("C3");
        gRefuseAll = false;
        EXPECT_EQ(found, read);
    }
    for (const char* name : {"c3", "C3", "c19"})
        EXPECT_EQ(layer->FindChildByName(name), layer->Get(layer->FindIndexByName(name))) << name;
    EXPECT_EQ(layer->FindChildByName("c3"), read);
}

TEST_F(ChannelFixture, LayerTypesFollowTheChannel) {
    std::unique_ptr<KFCurveNode> root(KFCurveNode::Create("Defaults"));
    ReadText(
        "Channel: \"R\" {\n  Channel: \"X\" {\n  }\n  Channel: \"Y\" {\n  }\n"
        "  Channel: \"Z\" {\n  }\n}\n"
        "Channel: \"Texture Translation\" {\n}\nChannel: \"S\" {\n  LayerType: 2\n}\n",
        [&](KQovFieldFile& f) { RetrieveChildren(root.get(), f); });
    EXPECT_EQ(root->Find("R")->GetLayerType(), KFCURVENODE_LAYER_EULER_ROTATION);
    EXPECT_EQ(root->Find("Texture Translation")->GetLayerType(), KFCURVENODE_LAYER_TRANSLATION);
    EXPECT_EQ(root->Find("S")->GetLayerType(), KFCURVENODE_LAYER_SCALING);
}

TEST(KFCurveSettings, FixedValuesAndTable) {
    EXPECT_EQ(GetRotationFilterMode(), 2);
    EXPECT_TRUE(GetApplyConstantKeyReducer());
    EXPECT_EQ(GetUnrollPrecision(), 0.25);
    EXPECT_FALSE(GetUnrollPath());
    EXPECT_EQ(GetDefaultSamplingPeriod().Get(), 1539538600);
    EXPECT_EQ(FindTimeWarp(5), nullptr);

    KFCurveNode* a = KFCurveNode::Create("a");
    KFCurveNode* b = KFCurveNode::Create("b");
    {
        KFCurveTimeWarpTable table;
        table.Add(5, b);
        table.Add(3, a);
        SetTimeWarpTable(&table);
        EXPECT_EQ(FindTimeWarp(5), b);
        EXPECT_EQ(FindTimeWarp(4), nullptr);
        int id = 0;
        EXPECT_TRUE(FindTimeWarpId(a, id));
        EXPECT_EQ(id, 3);
        SetTimeWarpTable(nullptr);
    }  // the table's shares go with it: a and b are destroyed (ASan checks)

    std::unique_ptr<KFCurveNode> xyz(Triple("T", 0, 0, 0, 0));
    const double p[3] = {1, 2, 3}, q[3] = {4, 5, 6};
    double out[3];
    EXPECT_EQ(KFCurveNodeValuesAdd(xyz.get(), out, p, q), 3);
    EXPECT_EQ(out[2], 9);
    EXPECT_EQ(KFCurveNodeValuesMultiply(xyz.get(), out, p, q), 3);
    EXPECT_EQ(out[1], 10);
    std::unique_ptr<KFCurveNode> leaf(KFCurveNode::Create("leaf"));
    leaf->SetCurve(new KFCurve);
    EXPECT_EQ(KFCurveNodeValuesAdd(leaf.get(), out, p, q), 1);
}

TEST(KFCurveSettings, RotationFilterUnrollsWrappedAngles) {
    std::unique_ptr<KFCurveNode> r(KFCurveNode::Create("R"));
    for (const char* axis : {"X", "Y", "Z"}) AddLeaf(r.get(), axis, LinearCurve({0, 0, 0}));
    KFCurve* z = r->Get(2)->GetCurve();
    z->KeySetValue(1, 170);
    z->KeySetValue(2, -170);
    r->SetLayerType(KFCURVENODE_LAYER_EULER_ROTATION);
    ApplyRotationFilter(r.get(), KTIME_MINUS_INFINITE, KTIME_INFINITE);
    EXPECT_FLOAT_EQ(z->KeyGetValue(2), 190);
    ApplyRotationFilter(nullptr, KTIME_MINUS_INFINITE, KTIME_INFINITE);
}
