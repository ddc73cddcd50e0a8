#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ChannelTestUtil.h"
#include "animation/KFCurve.h"
#include "animation/KFCurveNode.h"
#include "animation/KQovTakeNode.h"
#include "scene/KClassRegistry.h"
#include "scene/KDataType.h"
#include "scene/KObject.h"
#include "scene/KProperty.h"

namespace {

std::vector<std::string> Names(const KFCurveNode* node) {
    std::vector<std::string> names;
    for (int i = 0; i < node->GetCount(); ++i) names.push_back(node->Get(i)->GetName());
    return names;
}

// Defaults / Transform / {T, R, S} / {X, Y, Z}, plus Visibility.
KFCurveNode* TransformTree() {
    KFCurveNode* root = KFCurveNode::Create("Defaults");
    KFCurveNode* transform = KFCurveNode::Create("Transform");
    root->Add(transform);
    transform->Add(Triple("T", KFCURVENODE_LAYER_TRANSLATION, 1, 2, 3));
    transform->Add(Triple("R", KFCURVENODE_LAYER_EULER_ROTATION, 10, 20, 30));
    transform->Add(Triple("S", KFCURVENODE_LAYER_SCALING, 1, 1, 1));
    AddLeaf(root, "Visibility", ConstantCurve(1));
    return root;
}

int gCallbacks = 0;
uint32_t gBits = 0;
void CountChange(KFCurveNode*, KFCurveNodeChangeRecord* record, void*) {
    ++gCallbacks;
    gBits |= record->mBits;
}

}  // namespace

TEST(KFCurveNodeTree, AddRemoveDeleteAndIndexGuards) {
    std::unique_ptr<KFCurveNode> root(KFCurveNode::Create("root"));
    KFCurveNode* a = KFCurveNode::Create("a");
    KFCurveNode* b = KFCurveNode::Create("b");
    EXPECT_EQ(root->Add(a), 0);
    EXPECT_EQ(root->Add(b), 1);
    EXPECT_EQ(a->GetParent(), root.get());
    EXPECT_EQ(root->Remove(-1), 2);
    EXPECT_EQ(root->Remove(2), 2);
    root->Delete(7);
    root->Delete(-1);
    EXPECT_EQ(root->GetCount(), 2);
    EXPECT_EQ(root->Get(2), nullptr);
    EXPECT_EQ(root->Get(-1), nullptr);
    EXPECT_EQ(root->Remove(0), 1);
    EXPECT_EQ(a->GetParent(), nullptr);
    delete a;
    EXPECT_EQ(root->FindIndex(b), 0);
    EXPECT_EQ(root->FindIndexByName("B"), 0);
    EXPECT_EQ(root->FindIndexByName("c"), -1);
    root->Delete(0);
    EXPECT_EQ(root->GetCount(), 0);
}

TEST(KFCurveNodeTree, AddSortedOrdersWithoutCaseAndSetsParent) {
    std::unique_ptr<KFCurveNode> root(KFCurveNode::Create("root"));
    root->Add(KFCurveNode::Create("blue"));
    root->Add(KFCurveNode::Create("Red"));
    KFCurveNode* green = KFCurveNode::Create("Green");
    EXPECT_EQ(root->AddSorted(green), 1);
    EXPECT_EQ(green->GetParent(), root.get());
    EXPECT_EQ(Names(root.get()), (std::vector<std::string>{"blue", "Green", "Red"}));
    root->Delete(1);
    root->AddSorted(KFCurveNode::Create("red"));
    EXPECT_EQ(Names(root.get()), (std::vector<std::string>{"blue", "red", "Red"}));
}

TEST(KFCurveNodeTree, DestroyingAChildUnlinksItFromItsParent) {
    std::unique_ptr<KFCurveNode> root(KFCurveNode::Create("root"));
    KFCurveNode* a = KFCurveNode::Create("a");
    root->Add(a);
    root->Add(KFCurveNode::Create("b"));
    delete a;
    EXPECT_EQ(Names(root.get()), (std::vector<std::string>{"b"}));
    KFCurveNode* b = root->Get(0);
    root->DeleteChild(b);
    EXPECT_EQ(root->GetCount(), 0);
}

// Among many children a lookup by name finds the child the walk of FindIndexByName finds (the
// first of the name, case ignored) however children come, go or are renamed by a property.
TEST(KFCurveNodeTree, NameLookupsAmongManyChildrenFindWhatTheWalkFinds) {
    KQovSdkInit();
    {
        std::unique_ptr<KFCurveNode> root(KFCurveNode::Create("root"));
        for (int i = 0; i < 20; ++i) root->Add(KFCurveNode::Create(("c" + std::to_string(i)).c_str()));
        for (const char* name : {"Dup", "DUP", "dup"}) root->Add(KFCurveNode::Create(name));
        KObject* object = new KObject;
        KProperty* property = object->CreateProperty("Intensity", 4, nullptr, false, false);
        KFCurveNode* removed = nullptr;
        const struct {
            const char* what;
            std::function<void(KFCurveNode&)> change;
        } steps[] = {
            {"as made", [](KFCurveNode&) {}},
            {"first of a name deleted", [](KFCurveNode& r) { r.DeleteChild(r.Get(20)); }},
            {"next of it removed",
             [&](KFCurveNode& r) {
                 removed = r.Get(20);
                 r.Remove(20);
             }},
            {"one of it added", [](KFCurveNode& r) { r.Add(KFCurveNode::Create("dUp")); }},
            {"first of it deleted by its name",
             [](KFCurveNode& r) {
                 EXPECT_TRUE(r.DeleteChildByName("DUP"));
                 EXPECT_FALSE(r.DeleteChildByName("missing"));
                 r.Add(KFCurveNode::Create("Dup"));
             }},
            {"child destroyed", [](KFCurveNode& r) { delete r.Get(20); }},
            {"first deleted by index", [](KFCurveNode& r) { r.Delete(0); }},
            {"some deleted one by one, one added behind",
             [](KFCurveNode& r) {
                 for (const char* name : {"c9", "c3", "c12"}) r.DeleteChild(r.FindChildByName(name));
                 r.Add(KFCurveNode::Create("c9"));
             }},
            {"added in order", [](KFCurveNode& r) { r.AddSorted(KFCurveNode::Create("C5")); }},
            {"named by a property", [&](KFCurveNode& r) { r.Get(6)->SetProperty(property); }},
            {"one deleted by its name, walked", [](KFCurveNode& r) { EXPECT_TRUE(r.DeleteChildByName("c10")); }},
            {"property renamed", [&](KFCurveNode&) { property->SetName("Brightness", false); }},
            {"property let go", [](KFCurveNode& r) { r.Get(6)->SetProperty(nullptr); }},
            {"cleared", [](KFCurveNode& r) { r.Clear(); }},
        };
        for (const auto& step : steps) {
            step.change(*root);
            for (const char* name : {"c0", "C5", "c7", "c19", "dup", "DUP", "Intensity", "Brightness",
                                     "", "missing"})
                EXPECT_EQ(root->FindChildByName(name), root->Get(root->FindIndexByName(name)))
                    << step.what << ": " << name;
        }
        KFCurveNode* made = root->FindOrCreateChild("Dup", false);
        for (int i = 0; i < root->GetCount(); ++i) EXPECT_NE(root->Get(i), nullptr);
        EXPECT_EQ(root->Get(0), made);
        delete removed;
        object->Destroy();
    }
    KQovSdkRelease();
}

// Children deleted one by one in any order: the others keep their order, counts and places,
// and the lookups stay true while children are added behind and looked up in between.
TEST(KFCurveNodeTree, ChildrenDeletedOneByOneKeepTheOthersInOrder) {
    std::unique_ptr<KFCurveNode> root(KFCurveNode::Create("root"));
    std::vector<std::string> expected;
    for (int i = 0; i < 40; ++i) {
        expected.push_back("c" + std::to_string(i));
        root->Add(KFCurveNode::Create(expected.back().c_str()));
    }
    for (const char* name : {"c5", "c39", "c0", "c17", "c30", "c18"}) {
        root->DeleteChild(root->FindChildByName(name));
        expected.erase(std::find(expected.begin(), expected.end(), name));
        EXPECT_EQ(root->GetCount(), int(expected.size()));
        EXPECT_EQ(root->FindChildByName(name), nullptr);
    }
    root->Add(KFCurveNode::Create("c5"));
    expected.push_back("c5");
    EXPECT_EQ(root->FindIndexByName("c31"), 26);
    root->DeleteChild(root->FindChildByName("c31"));  // places already closed up
    expected.erase(std::find(expected.begin(), expected.end(), "c31"));
    ASSERT_EQ(root->GetCount(), int(expected.size()));
    for (int i = 0; i < root->GetCount(); ++i) {
        EXPECT_EQ(root->Get(i)->GetName(), expected[size_t(i)]) << i;
        EXPECT_EQ(root->FindIndexByName(expected[size_t(i)]), i);
        EXPECT_EQ(root->Get(i)->GetParent(), root.get());
    }
}

TEST(KFCurveNodeTree, IsChildAndReferenceNodes) {
    std::unique_ptr<KFCurveNode> root(TransformTree());
    KFCurveNode* transform = root->Get(0);
    KFCurveNode* t = transform->Get(0);
    EXPECT_TRUE(root->IsChild(transform, false));
    EXPECT_FALSE(root->IsChild(t, false));
    EXPECT_TRUE(root->IsChild(t, true));

    // A reference node lists children it does not own.
    std::unique_ptr<KFCurveNode> reference(KFCurveNode::Create("ref"));
    reference->SetFlags(reference->GetFlags() | KFCURVENODE_REFERENCE);
    reference->Add(t);
    EXPECT_EQ(t->GetParent(), transform);
    reference->Clear();
    EXPECT_EQ(reference->GetCount(), 0);
    EXPECT_EQ(t->GetParent(), transform);
    EXPECT_EQ(transform->Get(0), t);
}

TEST(KFCurveNodeFind, PathsByNameAndTransformType) {
    std::unique_ptr<KFCurveNode> root(TransformTree());
    KFCurveNode* x = root->Find("Transform/T/X");
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(x->GetParent()->GetName(), std::string("T"));
    EXPECT_EQ(root->Find("transform/t/x"), x);
    // One segment matches at any depth, the first in pre-order.
    EXPECT_EQ(root->Find("X"), x);
    EXPECT_EQ(root->Find("R/Y"), root->Get(0)->Get(1)->Get(1));
    const std::string path = "Transform/Q/X";
    EXPECT_EQ(root->Find(path), nullptr);
    EXPECT_EQ(path, "Transform/Q/X");
    EXPECT_EQ(root->Find("Transform/T/X/Y"), nullptr);
    EXPECT_EQ(root->Find("Nothing"), nullptr);
}

// A match deep in an earlier subtree comes before a later child: pre-order, whatever the
// depth and width of what comes before.
TEST(KFCurveNodeFind, FirstMatchInPreOrderThroughDeepAndWideTrees) {
    KQovSdkInit();
    {
        const KDataType* translation = KDataType::FindByName("Lcl Translation");
        std::unique_ptr<KFCurveNode> root(KFCurveNode::Create("Defaults"));
        KFCurveNode* deep = root.get();
        for (int i = 0; i < 40; ++i) deep = AddLeaf(deep, "Link", nullptr);
        KFCurveNode* deepTarget = AddLeaf(deep, "Target", nullptr);
        KFCurveNode* deepTyped = KFCurveNode::Create("Lcl Translation", translation);
        deep->Add(deepTyped);
        KFCurveNode* wide = AddLeaf(root.get(), "Wide", nullptr);
        for (int i = 0; i < 300; ++i) AddLeaf(wide, "Leaf", nullptr);
        KFCurveNode* wideTarget = AddLeaf(wide->Get(299), "TARGET", nullptr);
        AddLeaf(root.get(), "Target", nullptr);
        KFCurveNode* named = AddLeaf(root.get(), "T", nullptr);

        EXPECT_EQ(root->Find("target"), deepTarget);
        EXPECT_EQ(root->Find("Wide/Target"), wideTarget);
        EXPECT_EQ(root->Find("Wide/Leaf/Target"), nullptr);  // the first Leaf has no child
        // A node of the type and one of the name compete in the same order.
        EXPECT_EQ(root->Find("T"), deepTyped);
        EXPECT_EQ(root->FindOfType(translation), deepTyped);
        deep->DeleteChild(deepTyped);
        EXPECT_EQ(root->Find("T"), named);
        EXPECT_EQ(root->FindOfType(translation), nullptr);
    }
    KQovSdkRelease();
}

// The transform types are those of the library as started now, not of an earlier start.
TEST(KFCurveNodeFind, OneLetterSegmentsFollowARestartedLibrary) {
    for (int start = 0; start < 2; ++start) {
        KQovSdkInit();
        {
            std::unique_ptr<KFCurveNode> root(KFCurveNode::Create("Transform"));
            KFCurveNode* r =
                KFCurveNode::Create("Lcl Rotation", KDataType::FindByName("Lcl Rotation"));
            root->Add(r);
            EXPECT_EQ(root->Find("R"), r) << start;
        }
        KQovSdkRelease();
    }
}

TEST(KFCurveNodeFind, OneLetterSegmentsMatchTransformTypes) {
    KQovSdkInit();
    {
        KQovTakeNode take("Default");
        KFCurveNode* transform = KFCurveNode::Create("Transform");
        take.GetRoot()->Add(transform);
        KFCurveNode* t =
            KFCurveNode::Create("Lcl Translation", KDataType::FindByName("Lcl Translation"));
        transform->Add(t);
        AddLeaf(t, "X", ConstantCurve(4));
        EXPECT_EQ(take.GetRoot()->Find("Transform/T/X"), t->Get(0));
        EXPECT_EQ(take.GetRoot()->Find("Transform/t/X"), nullptr);  // one letter: exact case
        ASSERT_NE(take.GetTranslationX(), nullptr);
        EXPECT_EQ(take.GetTranslationX()->GetValue(), 4);
        EXPECT_EQ(take.GetRoot()->FindOfType(KDataType::FindByName("Lcl Translation")), t);
        EXPECT_EQ(transform->FindChildOfType(KDataType::FindByName("Lcl Rotation")), nullptr);
        AddLeaf(take.GetRoot(), "Vis", ConstantCurve(1));  // the name alone does not count
        KFCurveNode* visibility = KFCurveNode::Create("Vis", KDataType::FindByName("Visibility"));
        take.GetRoot()->Add(visibility);
        visibility->SetCurve(ConstantCurve(0.5f));
        ASSERT_NE(take.GetVisibility(), nullptr);
        EXPECT_EQ(take.GetVisibility()->GetValue(), 0.5f);

        std::unique_ptr<KFCurveNode> warp(
            KFCurveNode::Create("Warp", KDataType::FindByName("TimeWarp")));
        EXPECT_STREQ(warp->GetSecondName(), "");
        EXPECT_STREQ(t->GetSecondName(), "Lcl Translation");
    }
    KQovSdkRelease();
}

TEST(KFCurveNodeFind, FindOrCreateChildAndTransformCurves) {
    std::unique_ptr<KFCurveNode> root(TransformTree());
    KFCurveNode* transform = root->Get(0);
    KFCurve* t[3];
    KFCurve* r[3];
    KFCurve* s[3];
    ASSERT_TRUE(transform->GetTransformCurves(t, r, s));
    EXPECT_EQ(t[1], root->Find("Transform/T/Y")->GetCurve());
    EXPECT_EQ(s[2], root->Find("Transform/S/Z")->GetCurve());
    transform->Get(2)->Get(2)->SetCurve(nullptr);
    EXPECT_FALSE(transform->GetTransformCurves(t, r, s));

    KFCurveNode* made = root->FindOrCreateChild("Intensity", true);
    ASSERT_NE(made, nullptr);
    EXPECT_NE(made->GetCurve(), nullptr);
    EXPECT_EQ(root->FindOrCreateChild("INTENSITY", false), made);
    EXPECT_EQ(root->GetCount(), 3);
}

TEST(KFCurveNodeCurves, SetCurveReplaceAndEnsure) {
    std::unique_ptr<KFCurveNode> node(KFCurveNode::Create("n"));
    node->AddCallback(CountChange, nullptr);
    gCallbacks = 0;
    gBits = 0;
    KFCurve* first = new KFCurve;
    EXPECT_EQ(node->SetCurve(first), nullptr);
    EXPECT_EQ(node->SetCurve(first, true), nullptr);
    EXPECT_EQ(node->GetCurve(), first);
    KFCurve* second = new KFCurve;
    EXPECT_EQ(node->SetCurve(second, false), first);
    delete first;
    node->ReplaceCurve(new KFCurve);
    EXPECT_EQ(gCallbacks, 3);
    EXPECT_EQ(gBits, uint32_t(KFCURVENODE_CHANGE_CURVE));

    std::unique_ptr<KFCurveNode> tree(KFCurveNode::Create("t"));
    tree->Add(KFCurveNode::Create("a"));
    tree->Add(KFCurveNode::Create("b"));
    tree->EnsureCurves();
    EXPECT_EQ(tree->GetCurve(), nullptr);
    EXPECT_EQ(tree->GetCurveCount(), 2);
}

TEST(KFCurveNodeCurves, IntervalKeyCountAndDefaults) {
    std::unique_ptr<KFCurveNode> node(KFCurveNode::Create("n"));
    KTime start = Seconds(5), stop = Seconds(5);
    EXPECT_FALSE(node->GetAnimationInterval(start, stop));
    AddLeaf(node.get(), "a", LinearCurve({1, 2, 3}));
    AddLeaf(node.get(), "b", ConstantCurve(7));
    EXPECT_TRUE(node->GetAnimationInterval(start, stop));
    EXPECT_EQ(start, Seconds(0));
    EXPECT_EQ(stop, Seconds(5));
    EXPECT_EQ(node->GetTotalKeyCount(false), 3);

    double values[4] = {-1, -1, -1, -1};
    EXPECT_EQ(node->GetDefaultValues(values, 1), 1);
    EXPECT_EQ(values[1], -1);
    EXPECT_EQ(node->GetDefaultValues(values, 4), 2);
    EXPECT_EQ(values[1], 7);
    const double in[2] = {4, 5};
    EXPECT_EQ(node->SetDefaultValues(in, 2), 2);
    EXPECT_EQ(node->Get(1)->GetCurve()->GetValue(), 5);
}

TEST(KFCurveNodeCopies, CloneIsDeepAndIndependent) {
    KFCurveNode* source = TransformTree();
    source->Find("Transform/T/X")->SetCurve(LinearCurve({0, 10}));
    KFCurveNode* t = source->Find("T");
    t->AddLayer(1, true);
    source->Find("R")->SetRotationOrder(4);
    KFCurveNode* clone = source->Clone(false);
    delete source;

    EXPECT_EQ(clone->GetCurveCount(), 10);
    KFCurveNode* ct = clone->Find("T");
    ASSERT_NE(ct, nullptr);
    EXPECT_EQ(ct->GetNextLayer(), nullptr);
    EXPECT_EQ(ct->GetBaseLayerNode(), ct);
    EXPECT_EQ(clone->Find("R")->GetRotationOrder(), 4);
    KFCurve* x = clone->Find("Transform/T/X")->GetCurve();
    ASSERT_EQ(x->KeyGetCount(), 2);
    EXPECT_EQ(x->Evaluate(Seconds(0.5)), 5);
    EXPECT_EQ(clone->Find("Transform/T/X")->GetBaseLayerNode(), clone->Find("Transform/T/X"));
    delete clone;
}

TEST(KFCurveNodeCopies, CopyConstructedNodesShareTheNameRecord) {
    std::unique_ptr<KFCurveNode> source(KFCurveNode::Create("Lcl"));
    std::unique_ptr<KFCurveNode> copy(KFCurveNode::CreateCopy(source.get()));
    EXPECT_EQ(copy->GetNameRecord(), source->GetNameRecord());
    EXPECT_EQ(copy->GetCopySource(), source.get());
    source.reset();
    EXPECT_STREQ(copy->GetName(), "Lcl");
}

TEST(KFCurveNodeCopies, CopyFromMovesOrCopiesCurvesAndLayers) {
    std::unique_ptr<KFCurveNode> a(Triple("T", KFCURVENODE_LAYER_TRANSLATION, 1, 2, 3));
    std::unique_ptr<KFCurveNode> b(Triple("T", KFCURVENODE_LAYER_PLAIN, 0, 0, 0));
    a->AddLayer(2, true);
    b->CopyFrom(a.get(), false);
    EXPECT_EQ(b->GetLayerType(), KFCURVENODE_LAYER_TRANSLATION);
    ASSERT_NE(b->GetNextLayer(), nullptr);
    EXPECT_EQ(b->GetNextLayer()->GetLayerId(), 2);
    EXPECT_EQ(b->Evaluate(Seconds(0)), (std::vector<double>{1, 2, 3}));
    EXPECT_NE(b->Get(0)->GetCurve(), a->Get(0)->GetCurve());

    KFCurve* moved = a->Get(1)->GetCurve();
    b->CopyFrom(a.get(), true);
    EXPECT_EQ(b->Get(1)->GetCurve(), moved);
    EXPECT_EQ(a->Get(1)->GetCurve(), nullptr);
}

TEST(KFCurveNodeTimeWarp, SharedWarpIsDestroyedOnce) {
    KFCurveNode* warp = KFCurveNode::Create("warp");
    warp->SetCurve(ConstantCurve(0.5f));
    KFCurveNode* a = KFCurveNode::Create("a");
    KFCurveNode* b = KFCurveNode::Create("b");
    a->SetCurve(LinearCurve({0, 10}));
    ASSERT_TRUE(a->SetTimeWarp(warp));
    ASSERT_TRUE(b->SetTimeWarp(warp));
    EXPECT_EQ(warp->GetShareCount(), 2);
    // The warp maps every time to 0.5 s.
    EXPECT_EQ(a->Evaluate(Seconds(0.9)), (std::vector<double>{5}));
    delete a;
    EXPECT_EQ(warp->GetShareCount(), 1);
    delete b;  // the last user destroys the warp (ASan reports a leak or a double free)
}

TEST(KFCurveNodeTimeWarp, LoopsAreRefused) {
    std::unique_ptr<KFCurveNode> root(TransformTree());
    KFCurveNode* x = root->Find("X");
    EXPECT_FALSE(x->SetTimeWarp(x));
    EXPECT_FALSE(x->SetTimeWarp(root.get()));  // evaluating the root reaches x
    KFCurveNode* w1 = KFCurveNode::Create("w1");
    KFCurveNode* w2 = KFCurveNode::Create("w2");
    ASSERT_TRUE(w1->SetTimeWarp(w2));
    EXPECT_FALSE(w2->SetTimeWarp(w1));
    EXPECT_EQ(w2->GetTimeWarp(), nullptr);
    ASSERT_TRUE(x->SetTimeWarp(w1));
    x->SetTimeWarp(nullptr);  // w1 and, through it, w2 go
}

TEST(KFCurveNodeNotification, CallbacksRunLastFirstAndSeeTheBits) {
    std::vector<int> order;  // outlives the node, whose destruction is reported too
    std::unique_ptr<KFCurveNode> node(KFCurveNode::Create("n"));
    auto first = [](KFCurveNode*, KFCurveNodeChangeRecord*, void* data) {
        static_cast<std::vector<int>*>(data)->push_back(1);
    };
    auto second = [](KFCurveNode*, KFCurveNodeChangeRecord*, void* data) {
        static_cast<std::vector<int>*>(data)->push_back(2);
    };
    node->AddCallback(first, &order);
    node->AddCallback(second, &order);
    node->NotifyChange(KFCURVENODE_CHANGE_TIME_WARP);
    EXPECT_EQ(order, (std::vector<int>{2, 1}));
    EXPECT_EQ(node->GetChangeCount(), 1u);
}

// Each setter reports its own bit; layer changes reach the base-layer node.
TEST(KFCurveNodeNotification, SettersSendTheirBits) {
    std::vector<uint32_t> bits;
    auto record = [](KFCurveNode*, KFCurveNodeChangeRecord* r, void* data) {
        static_cast<std::vector<uint32_t>*>(data)->push_back(r->mBits);
    };
    KFCurveNode* warp = KFCurveNode::Create("w");  // its last share destroys it
    {
        std::unique_ptr<KFCurveNode> node(Triple("T", KFCURVENODE_LAYER_TRANSLATION, 1, 2, 3));
        node->AddCallback(record, &bits);
        node->SetCurve(new KFCurve);
        node->SetTimeWarp(warp);
        node->SetTimeWarp(nullptr);
        KFCurveNode* layer = node->AddLayer(1, true);
        ASSERT_NE(layer, nullptr);
        node->EnsureLayer(3);
        layer->SetQuaternionInterpolation(true);  // set on a layer, told to the base
        EXPECT_EQ(bits, (std::vector<uint32_t>{4, 8, 8, 16, 16, 16}));
        bits.clear();
    }
    EXPECT_EQ(bits, (std::vector<uint32_t>{2}));
}

TEST(KQovTakeNode, FreshTakeFindsNothing) {
    KQovTakeNode take("Take 001");
    EXPECT_STREQ(take.GetName(), "Take 001");
    EXPECT_STREQ(take.GetRoot()->GetName(), "Defaults");
    EXPECT_EQ(take.GetTranslationX(), nullptr);
    EXPECT_EQ(take.GetError().GetErrorCode(), 0);
    EXPECT_STREQ(take.GetError().GetErrorText(), "Curve not found");
    take.GetError().ClearError();
    EXPECT_EQ(take.FindCurve(nullptr, nullptr, nullptr), nullptr);
    EXPECT_EQ(take.GetError().GetErrorCode(), 0);
    EXPECT_EQ(take.GetVisibility(), nullptr);
    KTime start, stop;
    EXPECT_FALSE(take.GetAnimationInterval(start, stop));
}

TEST(KQovTakeNode, NamedGettersAndHasKeys) {
    KQovTakeNode take("Default");
    KFCurveNode* tree = TransformTree();
    // Move the tree's children under the take's root.
    while (tree->GetCount() > 0) {
        KFCurveNode* child = tree->Get(0);
        tree->Remove(0);
        take.GetRoot()->Add(child);
    }
    delete tree;
    take.GetRoot()->Find("Transform/T/X")->SetCurve(LinearCurve({1, 2}));
    AddLeaf(take.GetRoot(), "Intensity", new KFCurve);
    KFCurveNode* color = KFCurveNode::Create("Color");
    take.GetRoot()->Add(color);
    AddLeaf(color, "X", ConstantCurve(0.25f));

    ASSERT_NE(take.GetTranslationX(), nullptr);
    EXPECT_EQ(take.GetTranslationX()->KeyGetCount(), 2);
    EXPECT_EQ(take.GetRotationZ(), take.GetRoot()->Find("Transform/R/Z")->GetCurve());
    EXPECT_EQ(take.GetColorR()->GetValue(), 0.25f);
    EXPECT_TRUE(take.HasKeys("Transform", "T", "X"));
    EXPECT_EQ(take.GetError().GetErrorCode(), -1);
    EXPECT_FALSE(take.HasKeys("Intensity", nullptr, nullptr));  // a curve without keys
    EXPECT_EQ(take.GetError().GetErrorCode(), -1);
    EXPECT_FALSE(take.HasKeys("Fog", nullptr, nullptr));
    EXPECT_EQ(take.GetError().GetErrorCode(), 0);
    // A successful lookup leaves an earlier error in place.
    EXPECT_NE(take.GetTranslationY(), nullptr);
    EXPECT_EQ(take.GetError().GetErrorCode(), 0);

    KQovTakeNode copy(take);
    copy.GetTranslationX()->KeySetValue(0, 99);
    EXPECT_EQ(take.GetTranslationX()->KeyGetValue(0), 1);
    EXPECT_NE(copy.GetRoot()->Find("X")->GetNameRecord(),
              take.GetRoot()->Find("X")->GetNameRecord());
}

TEST(KQovTakeNode, ReferenceRootDestroysOnlyReferenceContainers) {
    KFCurveNode* owned = KFCurveNode::Create("owned");
    {
        KQovTakeNode take("T");
        KFCurveNode* root = take.GetRoot();
        root->SetFlags(root->GetFlags() | KFCURVENODE_REFERENCE);
        KFCurveNode* container = KFCurveNode::Create("sub");
        container->SetFlags(container->GetFlags() | KFCURVENODE_REFERENCE);
        root->Add(container);
        root->Add(owned);
        container->Add(owned);
    }
    EXPECT_STREQ(owned->GetName(), "owned");  // still alive: listed, not owned
    delete owned;
}

TEST(KFCurveNodeCopies, ReplaceJoinsRotationSpansWithoutAJump) {
    // Target rotation around 360 + 10; the source holds the same orientations near 10.
    std::unique_ptr<KFCurveNode> target(Triple("R", KFCURVENODE_LAYER_EULER_ROTATION, 0, 0, 0));
    std::unique_ptr<KFCurveNode> source(Triple("R", KFCURVENODE_LAYER_EULER_ROTATION, 0, 0, 0));
    for (int i = 0; i < 3; ++i) {
        target->Get(i)->SetCurve(LinearCurve({370, 372, 374, 376}));
        source->Get(i)->SetCurve(LinearCurve({10, 20, 30, 16}));
    }
    target->Replace(source.get(), Seconds(1), Seconds(2), true, true);
    KFCurve* x = target->Get(0)->GetCurve();
    // The copied keys are moved by whole turns to sit next to the target's values.
    EXPECT_NEAR(x->Evaluate(Seconds(1)), 380, 1e-4);
    EXPECT_NEAR(x->Evaluate(Seconds(2)), 390, 1e-4);

    // Plain nodes copy the span as it is.
    std::unique_ptr<KFCurveNode> plain(KFCurveNode::Create("p"));
    plain->SetCurve(LinearCurve({0, 0, 0, 0}));
    std::unique_ptr<KFCurveNode> from(KFCurveNode::Create("p"));
    from->SetCurve(LinearCurve({5, 6, 7, 8}));
    plain->Replace(from.get(), Seconds(1), Seconds(2), true, true);
    EXPECT_NEAR(plain->GetCurve()->Evaluate(Seconds(1)), 6, 1e-6);
    EXPECT_NEAR(plain->GetCurve()->Evaluate(Seconds(3)), 0, 1e-6);
}

TEST(KFCurveNodeTree, BoundPropertyGivesTheName) {
    KQovSdkInit();
    {
        KObject* object = new KObject;
        KProperty* property = object->CreateProperty("Intensity", 4, nullptr, false, false);
        std::unique_ptr<KFCurveNode> node(KFCurveNode::Create("old"));
        node->SetProperty(property);
        EXPECT_STREQ(node->GetName(), "Intensity");
        property->SetName("Brightness", false);
        EXPECT_STREQ(node->GetName(), "Brightness");
        node->SetProperty(nullptr);
        EXPECT_STREQ(node->GetName(), "old");
        object->Destroy();
    }
    KQovSdkRelease();
}
