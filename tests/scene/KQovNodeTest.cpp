#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "animation/KFCurve.h"
#include "common/RefusingHeap.h"
#include "common/SceneDump.h"
#include "scene/KDataType.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeProperties.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovUserProperty.h"
#include "scene/SceneObjectDoubles.h"

namespace {

using scene_test::TestAttribute;

std::vector<double> Numbers(KProperty* property) {
    double values[4] = {};
    const int n = KQovGetPropertyNumbers(property, values);
    return std::vector<double>(values, values + n);
}

TEST(KQovNode, PropertiesInFileOrder) {
    struct Row {
        const char* name;
        int type;
        uint32_t userFlags;
        bool animatable;
    };
    const int b = KProperty::eBOOL, v = KProperty::eVECTOR3D, d = KProperty::eDOUBLE,
              e = KProperty::eENUM, o = KProperty::eOBJECT;
    const Row rows[] = {
        {"QuaternionInterpolate", b, 0, false}, {"RotationOffset", v, 0, false},
        {"RotationPivot", v, 0, false}, {"RotationPivotUpdateOffset", v, 16, false},
        {"ScalingOffset", v, 0, false}, {"ScalingPivot", v, 0, false},
        {"ScalingPivotUpdateOffset", v, 16, false}, {"TranslationActive", b, 0, false},
        {"TranslationMin", v, 0, false}, {"TranslationMax", v, 0, false},
        {"TranslationMinX", b, 0, false}, {"TranslationMinY", b, 0, false},
        {"TranslationMinZ", b, 0, false}, {"TranslationMaxX", b, 0, false},
        {"TranslationMaxY", b, 0, false}, {"TranslationMaxZ", b, 0, false},
        {"RotationOrder", e, 0, false}, {"RotationSpaceForLimitOnly", b, 0, false},
        {"RotationStiffnessX", d, 0, false}, {"RotationStiffnessY", d, 0, false},
        {"RotationStiffnessZ", d, 0, false}, {"AxisLen", d, 0, false},
        {"PreRotation", v, 0, false}, {"PostRotation", v, 0, false},
        {"RotationActive", b, 0, false}, {"RotationMin", v, 0, false},
        {"RotationMax", v, 0, false}, {"RotationMinX", b, 0, false},
        {"RotationMinY", b, 0, false}, {"RotationMinZ", b, 0, false},
        {"RotationMaxX", b, 0, false}, {"RotationMaxY", b, 0, false},
        {"RotationMaxZ", b, 0, false}, {"InheritType", e, 0, false},
        {"ScalingActive", b, 0, false}, {"ScalingMin", v, 0, false},
        {"ScalingMax", v, 0, false}, {"ScalingMinX", b, 0, false},
        {"ScalingMinY", b, 0, false}, {"ScalingMinZ", b, 0, false},
        {"ScalingMaxX", b, 0, false}, {"ScalingMaxY", b, 0, false},
        {"ScalingMaxZ", b, 0, false}, {"GeometricTranslation", v, 0, false},
        {"GeometricRotation", v, 0, false}, {"GeometricScaling", v, 0, false},
        {"LookAtProperty", o, 1, false}, {"UpVectorProperty", o, 1, false},
        {"Show", b, 0, false}, {"NegativePercentShapeSupport", b, 0, false},
        {"Lcl Translation", v, 8, true}, {"Lcl Rotation", v, 8, true},
        {"Lcl Scaling", v, 8, true}, {"Visibility", d, 8, true},
    };
    KQovNode node(nullptr, "Model::A");
    KQovNodeProperties* set = node.GetNodeProperties();
    ASSERT_EQ(set->GetPropertyCount(), 54);
    for (int i = 0; i < 54; ++i) {
        KProperty* p = set->GetProperty(i);
        EXPECT_STREQ(p->GetName(), rows[i].name) << i;
        EXPECT_EQ(p->GetTypeCode(), rows[i].type) << rows[i].name;
        EXPECT_EQ(p->GetUserFlags(), rows[i].userFlags) << rows[i].name;
        EXPECT_EQ(p->IsAnimatable(), rows[i].animatable) << rows[i].name;
        EXPECT_EQ(set->GetTableProperty(i), p);
    }
    EXPECT_STREQ(set->FindProperty("Lcl Scaling")->GetDataType()->GetName(), "Lcl Scaling");
    EXPECT_TRUE(set->FindProperty("LookAtProperty")->TestFlag(KProperty::eObjectList));
}

TEST(KQovNode, NewNodeDefaults) {
    KQovNode node(nullptr, "Model::A");
    EXPECT_EQ(node.GetObjectType(), 1);
    EXPECT_EQ(node.GetShadingMode(), 3);
    EXPECT_EQ(node.GetMultiTake(), 1);
    EXPECT_FALSE(node.GetMultiLayer());
    EXPECT_EQ(node.GetCullingMode(), KQovNode::eCullingOff);
    EXPECT_TRUE(node.GetVisibility());
    EXPECT_EQ(node.GetTakeNodeCount(), 1);
    EXPECT_STREQ(node.GetCurrentTakeNodeName(), "Default");
    EXPECT_EQ(node.GetPivotState(0), 1);
    EXPECT_EQ(node.GetPivotState(1), 1);
    EXPECT_EQ(Numbers(node.GetNodeProperties()->FindProperty("GeometricScaling")),
              (std::vector<double>{1, 1, 1}));
    EXPECT_EQ(Numbers(node.GetNodeProperties()->FindProperty("Lcl Scaling")),
              (std::vector<double>{1, 1, 1}));
    EXPECT_STREQ(node.GetTypeName().Buffer(), "Null");
    EXPECT_EQ(node.GetTypeNames().GetCount(), 1);
    EXPECT_STREQ(node.GetTypeNames().GetAt(0), "Null");
    uint8_t flag = 9;
    EXPECT_STREQ(node.GetRenameInfo(flag).Buffer(), "");
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(node.GetPivotSet(2), nullptr);
    EXPECT_EQ(node.GetRotationPivot(-1), nullptr);
}

// A new node holds exactly what a reset of its transform properties gives, row by row: the
// construction sets only what differs from the table defaults.
TEST(KQovNode, NewNodeEqualsAResetNode) {
    KQovNode fresh(nullptr, "Model::A");
    KQovNode reset(nullptr, "Model::B");
    KQovNodeProperties* changed = reset.GetNodeProperties();
    // Every number and text row off its default, then reset.
    for (int i = 0; i < changed->GetTableRowCount(); ++i) {
        if (KQovEmbeddedProperty* member = changed->GetEmbedded(i)) {
            const double odd[4] = {7.5, -3.0, 2.0, 9.0};
            member->SetNumbers(odd, 4);
            member->SetText("changed");
        }
    }
    reset.ResetTransformProperties();
    const KQovNodeProperties* a = fresh.GetNodeProperties();
    const KQovNodeProperties* b = reset.GetNodeProperties();
    ASSERT_EQ(a->GetPropertyCount(), b->GetPropertyCount());
    for (int i = 0; i < a->GetPropertyCount(); ++i) {
        KProperty* pa = a->GetProperty(i);
        KProperty* pb = b->GetProperty(i);
        ASSERT_STREQ(pa->GetName(), pb->GetName());
        EXPECT_EQ(pa->GetAttributes(), pb->GetAttributes()) << pa->GetName();
        double na[4] = {0, 0, 0, 0}, nb[4] = {0, 0, 0, 0};
        EXPECT_EQ(KQovGetPropertyNumbers(pa, na), KQovGetPropertyNumbers(pb, nb)) << pa->GetName();
        for (int c = 0; c < 4; ++c) EXPECT_EQ(na[c], nb[c]) << pa->GetName() << " " << c;
    }
    for (int i = 0; i < a->GetTableRowCount(); ++i) {
        const KQovEmbeddedProperty* ma = a->GetEmbedded(i);
        const KQovEmbeddedProperty* mb = b->GetEmbedded(i);
        ASSERT_EQ(ma == nullptr, mb == nullptr);
        if (!ma) continue;
        EXPECT_STREQ(ma->GetText().Buffer(), mb->GetText().Buffer()) << ma->GetName();
        for (int c = 0; c < 4; ++c) EXPECT_EQ(ma->GetNumbers()[c], mb->GetNumbers()[c]) << ma->GetName();
    }
    EXPECT_EQ(fresh.GetPivotState(0), reset.GetPivotState(0));
    EXPECT_EQ(fresh.GetPivotState(1), reset.GetPivotState(1));
}

TEST(KQovNode, UserPropertyRecordsThroughTheManager) {
    KQovObjectManager manager;
    {
        KQovNode node(&manager, "Model::A");
        ASSERT_EQ(node.GetUserPropertyCount(), 54);
        KQovUserProperty* translation = node.FindUserProperty("Lcl Translation");
        ASSERT_NE(translation, nullptr);
        EXPECT_EQ(translation->GetOwner(), node.GetNodeProperties());
        node.AddTakeNode("Take 001");
        node.SetCurrentTakeNode("Take 001");
        translation->SetValue(1.0, 2.0, 3.0);
        for (int take = 0; take < 2; ++take) {
            EXPECT_EQ(node.GetTakeNode(take)->GetTranslationY()->GetValue(), 2.0f) << take;
            EXPECT_EQ(node.GetTakeNode(take)->GetTranslationZ()->GetValue(), 3.0f) << take;
        }
        node.FindUserProperty("Visibility")->SetValue(0.0);
        EXPECT_EQ(node.GetDefaultTakeNode()->GetVisibility()->GetValue(), 0.0f);
    }
}

TEST(KQovNode, EnumLabels) {
    KQovNode node(nullptr, "Model::A");
    KProperty* order = node.GetNodeProperties()->FindProperty("RotationOrder");
    KProperty* inherit = node.GetNodeProperties()->FindProperty("InheritType");
    const char* orders[] = {"Euler XYZ", "Euler XZY", "Euler YZX", "Euler YXZ",
                            "Euler ZXY", "Euler ZYX", "Spheric XYZ", nullptr};
    for (int i = 0; i < 8; ++i) {
        EXPECT_STREQ(order->GetEnumName(i), orders[i]) << i;
        EXPECT_STREQ(KQovNodeProperties::GetRotationOrderName(i), orders[i]) << i;
    }
    const char* inherits[] = {"RrSs", "RrSs", "Rrs", nullptr};
    for (int i = 0; i < 4; ++i) EXPECT_STREQ(inherit->GetEnumName(i), inherits[i]) << i;
    EXPECT_EQ(order->GetEnumName(-1), nullptr);
    node.SetInheritType(2);
    EXPECT_EQ(node.GetInheritType(), 2);
    EXPECT_EQ(inherit->GetInt(), 2);
}

TEST(KQovNode, DefaultChannelTree) {
    KQovNode node(nullptr, "Model::A");
    node.SetLocalTranslation(1.0, 2.0, 3.0);
    node.AddTakeNode("Take 001");
    const char* expected =
        "take \"Take 001\"\n"
        "  channel \"Defaults\"\n"
        "    channel \"Transform\"\n"
        "      channel \"T\" [Lcl Translation]\n"
        "        channel \"X\"\n"
        "          curve default 0 colour 1 0 0 keys 0\n"
        "        channel \"Y\"\n"
        "          curve default 0 colour 0 1 0 keys 0\n"
        "        channel \"Z\"\n"
        "          curve default 0 colour 0 0 1 keys 0\n"
        "      channel \"R\" [Lcl Rotation]\n"
        "        channel \"X\"\n"
        "          curve default 0 colour 1 0 0 keys 0\n"
        "        channel \"Y\"\n"
        "          curve default 0 colour 0 1 0 keys 0\n"
        "        channel \"Z\"\n"
        "          curve default 0 colour 0 0 1 keys 0\n"
        "      channel \"S\" [Lcl Scaling]\n"
        "        channel \"X\"\n"
        "          curve default 1 colour 1 0 0 keys 0\n"
        "        channel \"Y\"\n"
        "          curve default 1 colour 0 1 0 keys 0\n"
        "        channel \"Z\"\n"
        "          curve default 1 colour 0 0 1 keys 0\n"
        "    channel \"Visibility\" [Visibility]\n"
        "      curve default 1 colour 0.75 0 0 keys 0\n";
    // Setting a property does not push into the curves; the new take copies "Default".
    EXPECT_EQ(SceneDump::Take(*node.GetTakeNode(1)), expected);
    EXPECT_EQ(node.GetPropertyLinkCount(), 10);
}

TEST(KQovNode, DefaultCurvesDriveTheTransformProperties) {
    struct Case {
        const char* path;
        const char* property;
        int component;
    } cases[] = {{"T/X", "Lcl Translation", 0}, {"T/Z", "Lcl Translation", 2},
                 {"R/Y", "Lcl Rotation", 1},    {"S/X", "Lcl Scaling", 0},
                 {"Visibility", "Visibility", 0}};
    for (const Case& c : cases) {
        KQovNode node(nullptr, "Model::A");
        node.AddTakeNode("Take 001");
        KProperty* property = node.GetNodeProperties()->FindProperty(c.property);
        const std::vector<double> before = Numbers(property);
        node.GetTakeNode(1)->GetRoot()->Find(c.path)->GetCurve()->SetValue(7.5f);
        EXPECT_EQ(Numbers(property), before) << c.path;
        node.GetDefaultTakeNode()->GetRoot()->Find(c.path)->GetCurve()->SetValue(7.5f);
        std::vector<double> after = before;
        after[size_t(c.component)] = 7.5;
        EXPECT_EQ(Numbers(property), after) << c.path;
    }
}

// Root with two children, each with two children: 6 descendants.
struct Tree {
    KQovNode root{nullptr, "Model::R"};
    KQovNode a{nullptr, "Model::A"}, b{nullptr, "Model::B"};
    KQovNode a1{nullptr, "Model::A1"}, a2{nullptr, "Model::A2"};
    KQovNode b1{nullptr, "Model::B1"}, b2{nullptr, "Model::B2"};
    Tree() {
        root.AddChild(&a);
        root.AddChild(&b);
        a.AddChild(&a1);
        a.AddChild(&a2);
        b.AddChild(&b1);
        b.AddChild(&b2);
    }
    std::string Dump() { return SceneDump::NodeTree(root, 0); }
};

TEST(KQovNode, HierarchyCountsAndMoves) {
    Tree t;
    EXPECT_EQ(t.root.GetChildCount(true), 6);
    EXPECT_EQ(t.root.GetChildCount(), 2);
    EXPECT_EQ(t.a1.GetParent(), &t.a);
    EXPECT_EQ(t.root.GetParent(), nullptr);
    EXPECT_EQ(t.root.GetChild(2), nullptr);
    EXPECT_EQ(t.root.GetChild(-1), nullptr);
    // Moving a subtree.
    EXPECT_TRUE(t.b.AddChild(&t.a));
    EXPECT_EQ(t.a.GetParent(), &t.b);
    EXPECT_EQ(t.root.GetChildCount(), 1);
    EXPECT_EQ(t.b.GetChildCount(true), 5);
    EXPECT_EQ(t.b.GetChild(2), &t.a);
    // Adding a child again moves it to the end.
    EXPECT_TRUE(t.b.AddChild(&t.b1));
    EXPECT_EQ(t.b.GetChild(0), &t.b2);
    EXPECT_EQ(t.b.GetChild(2), &t.b1);
    EXPECT_EQ(t.b.RemoveChild(&t.b1), &t.b1);
    EXPECT_EQ(t.b1.GetParent(), nullptr);
    EXPECT_EQ(t.b.RemoveChild(nullptr), nullptr);
    EXPECT_FALSE(t.b.AddChild(nullptr));
}

TEST(KQovNode, CyclesAreRefusedAndTheTreeKept) {
    Tree t;
    const std::string before = t.Dump();
    const std::pair<KQovNode*, KQovNode*> refused[] = {
        {&t.a, &t.a}, {&t.a1, &t.a}, {&t.a1, &t.root}, {&t.b2, &t.root}, {&t.a, &t.root}};
    for (const auto& [parent, child] : refused) {
        parent->GetNodeError().ClearError();
        EXPECT_FALSE(parent->AddChild(child)) << parent->GetName() << " <- " << child->GetName();
        EXPECT_EQ(parent->GetNodeError().GetErrorCode(), KQovNode::eCyclicGraph);
        EXPECT_STREQ(parent->GetNodeError().GetErrorText(),
                     "Operation with a target of the entity would generate a cyclic graph");
        EXPECT_EQ(t.Dump(), before);
    }
}

TEST(KQovNode, RefusedConnectionLeavesTheNodeWhereItWas) {
    Tree t;
    KQovNode closed(nullptr, "Model::Closed");
    closed.GetNodeProperties()->SetPlugFlags(KPlug::eAcceptsSources, false);
    EXPECT_FALSE(closed.AddChild(&t.a));
    EXPECT_EQ(t.a.GetParent(), &t.root);
    EXPECT_EQ(t.root.GetChild(0), &t.a);
    EXPECT_EQ(t.root.GetChild(1), &t.b);
}

TEST(KQovNode, FindChild) {
    Tree t;
    t.a2.SetName("Renamed");
    struct Case {
        const char* name;
        bool recursive;
        bool initial;
        KQovNode Tree::*expected;
    } cases[] = {
        {"A", false, false, &Tree::a},        {"A1", false, false, nullptr},
        {"A1", true, false, &Tree::a1},       {"Model::A", false, false, nullptr},
        {"Renamed", true, false, &Tree::a2},  {"A2", true, false, nullptr},
        {"A2", true, true, &Tree::a2},        {"a", false, false, nullptr},
    };
    for (const Case& c : cases) {
        KQovNode* expected = c.expected ? &(t.*c.expected) : nullptr;
        EXPECT_EQ(t.root.FindChild(c.name, c.recursive, c.initial), expected) << c.name;
    }
}

// A node of many children finds them by name through an index kept in step with every link,
// unlink, rename and destruction; each answer is checked against the walk (the recursive look-up
// over leaves), also after allocations refused part of the way through each change.
TEST(KQovNode, FindChildOfManyChildrenFollowsEveryChange) {
    KQovNode parent(nullptr, "Model::P");
    std::vector<std::unique_ptr<KQovNode>> children;
    for (int i = 0; i < 40; ++i) {
        children.push_back(std::make_unique<KQovNode>(nullptr, ("Model::C" + std::to_string(i)).c_str()));
        ASSERT_TRUE(parent.AddChild(children.back().get()));
    }
    const auto agrees = [&](const char* name) {
        return parent.FindChild(name) == parent.FindChild(name, true);
    };
    const auto check = [&](const char* when) {
        for (int i = 0; i < 42; ++i) {
            const std::string name = "C" + std::to_string(i);
            EXPECT_TRUE(agrees(name.c_str())) << when << ": " << name;
        }
        for (const char* name : {"X", "Y", "Missing", ""}) EXPECT_TRUE(agrees(name)) << when << ": " << name;
    };
    EXPECT_EQ(parent.FindChild("C39"), children[39].get());
    EXPECT_EQ(parent.FindChild("C40"), nullptr);
    EXPECT_EQ(parent.FindChild("Model::C1"), nullptr);
    KQovNode late(nullptr, "Model::C40");
    KQovNode linked(nullptr, "Model::C41");
    const struct {
        const char* change;
        void (*apply)(KQovNode& parent, std::vector<std::unique_ptr<KQovNode>>& children,
                      KQovNode& late, KQovNode& linked);
    } changes[] = {
        {"rename", [](KQovNode&, auto& c, KQovNode&, KQovNode&) { c[5]->SetName("X"); }},
        {"a name twice", [](KQovNode&, auto& c, KQovNode&, KQovNode&) { c[8]->SetName("C9"); }},
        {"unlink", [](KQovNode& p, auto& c, KQovNode&, KQovNode&) { p.RemoveChild(c[7].get()); }},
        {"link", [](KQovNode& p, auto&, KQovNode& l, KQovNode&) { p.AddChild(&l); }},
        {"link by set", [](KQovNode& p, auto&, KQovNode&, KQovNode& s) {
             p.GetNodeProperties()->ConnectSrc(s.GetNodeProperties()); }},
        {"rename unlinked", [](KQovNode&, auto& c, KQovNode&, KQovNode&) { c[7]->SetName("Y"); }},
        {"destroy", [](KQovNode&, auto& c, KQovNode&, KQovNode&) { c[12].reset(); }},
        {"move to end", [](KQovNode& p, auto& c, KQovNode&, KQovNode&) { p.AddChild(c[9].get()); }},
    };
    for (const auto& c : changes) {
        c.apply(parent, children, late, linked);
        check(c.change);
    }
    EXPECT_EQ(parent.FindChild("X"), children[5].get());
    EXPECT_EQ(parent.FindChild("C9"), children[8].get());  // the first in child order
    EXPECT_EQ(parent.FindChild("C7"), nullptr);
    EXPECT_EQ(parent.FindChild("C40"), &late);
    EXPECT_EQ(parent.FindChild("C41"), &linked);
    EXPECT_EQ(parent.FindChild("C12"), nullptr);
    // Memory refused at each allocation of a rename and a link in turn: the index follows or
    // gives way to the walk, and never answers wrongly.
    for (long n = 0;; ++n) {
        SCOPED_TRACE(n);
        ASSERT_LT(n, 200);
        const std::string name = "Z" + std::to_string(n);
        gThrowIn = n;
        try {
            children[n % 30 + 1]->SetName(name.c_str());
            parent.RemoveChild(&late);
            parent.AddChild(&late);
            parent.FindChild(name.c_str());
        } catch (const std::bad_alloc&) {
        }
        const bool done = gThrowIn.exchange(-1) >= 0;
        if (late.GetParent() != &parent) parent.AddChild(&late);
        EXPECT_TRUE(agrees(name.c_str()));
        EXPECT_EQ(parent.FindChild("C40"), &late);
        if (done) break;
    }
    check("refused");
    // Names past the small-string size: taking a child out of the index allocates nothing, so
    // memory refused while one is renamed, unlinked, linked or destroyed leaves right answers.
    const char* const first = "A name longer than small strings";
    auto longer = std::make_unique<KQovNode>(nullptr, (std::string("Model::") + first).c_str());
    for (long n = 0;; ++n) {
        SCOPED_TRACE(n);
        ASSERT_LT(n, 200);
        const std::string name = "Another name longer than small strings " + std::to_string(n);
        ASSERT_TRUE(parent.AddChild(longer.get()));
        gThrowIn = n;
        try {
            longer->SetName(name.c_str());
            parent.RemoveChild(longer.get());
            parent.AddChild(longer.get());
            parent.FindChild(name.c_str());
            longer->SetName(first);
        } catch (const std::bad_alloc&) {
        }
        const bool done = gThrowIn.exchange(-1) >= 0;
        EXPECT_TRUE(agrees(name.c_str()));
        EXPECT_TRUE(agrees(first));
        if (done) break;
    }
    gThrowIn = 0;
    longer.reset();
    gThrowIn = -1;
    check("long names");
    // A link of node sets with memory refused at each allocation is made whole or not at all:
    // the child knows the parent that lists it, and the index learns of it.
    for (long n = 0;; ++n) {
        SCOPED_TRACE(n);
        ASSERT_LT(n, 200);
        KQovNode loose(nullptr, "Model::Loose");  // a first link: its lists grow
        gThrowIn = n;
        try {
            parent.GetNodeProperties()->ConnectSrcAt(0, loose.GetNodeProperties());
        } catch (const std::bad_alloc&) {
        }
        const bool done = gThrowIn.exchange(-1) >= 0;
        const bool listed = parent.FindChild("Loose", true) == &loose;
        EXPECT_EQ(loose.GetParent(), listed ? &parent : nullptr);
        EXPECT_TRUE(agrees("Loose"));
        parent.RemoveChild(&loose);
        if (done) break;
    }
}

TEST(KQovNode, DestroyedNodesLeaveNoLinksBehind) {
    KQovNode child(nullptr, "Model::Child"), target(nullptr, "Model::Target");
    auto* parent = new KQovNode(nullptr, "Model::Parent");
    auto* gone = new KQovNode(nullptr, "Model::Gone");
    parent->AddChild(&child);
    target.SetLookAtTarget(gone);
    target.SetUpVectorTarget(parent);
    parent->PrepareDestroy();  // as the manager does, before deleting
    delete parent;
    delete gone;
    EXPECT_EQ(child.GetParent(), nullptr);
    EXPECT_EQ(target.GetLookAtTarget(), nullptr);
    EXPECT_EQ(target.GetUpVectorTarget(), nullptr);
    KQovNode other(nullptr, "Model::Other");
    EXPECT_TRUE(other.AddChild(&child));
}

TEST(KQovNode, ChildNames) {
    KQovNode node(nullptr, "Model::A");
    node.AddChildName("Model::B");
    node.AddChildName(nullptr);
    EXPECT_EQ(node.GetChildNameCount(), 2);
    EXPECT_STREQ(node.GetChildName(0), "Model::B");
    EXPECT_STREQ(node.GetChildName(1), "");
    EXPECT_EQ(node.GetChildName(2), nullptr);
    EXPECT_EQ(node.GetChildName(-1), nullptr);
}

TEST(KQovNode, TargetsReplaceAndAreNoChildren) {
    using Set = void (KQovNode::*)(KQovNode*);
    using Get = KQovNode* (KQovNode::*)() const;
    const std::pair<Set, Get> kinds[] = {{&KQovNode::SetLookAtTarget, &KQovNode::GetLookAtTarget},
                                         {&KQovNode::SetUpVectorTarget, &KQovNode::GetUpVectorTarget}};
    for (const auto& [set, get] : kinds) {
        KQovNode node(nullptr, "Model::A"), first(nullptr, "Model::T1"), second(nullptr, "Model::T2");
        EXPECT_EQ((node.*get)(), nullptr);
        (node.*set)(&first);
        (node.*set)(&first);
        EXPECT_EQ((node.*get)(), &first);
        (node.*set)(&second);
        EXPECT_EQ((node.*get)(), &second);
        (node.*set)(nullptr);
        EXPECT_EQ((node.*get)(), &second);
        EXPECT_EQ(node.GetChildCount(), 0);
        EXPECT_EQ(second.GetParent(), nullptr);
        EXPECT_EQ(first.GetParent(), nullptr);
    }
    KQovNode node(nullptr, "Model::A");
    node.SetPostTargetRotation(1, 2, 3, 4);
    node.SetUpTargetRotation(5, 6, 7, 8);
    EXPECT_EQ(node.GetPostTargetRotation()[3], 4.0);
    EXPECT_EQ(node.GetUpTargetRotation()[0], 5.0);
}

TEST(KQovNode, AttributeFlags) {
    struct Case {
        int type;
        int kind;
        bool multiLayer;
        int multiTake;
        const char* typed;
    } cases[] = {
        {KQovNodeAttribute::eNull, 0, false, 1, "null"},
        {KQovNodeAttribute::eMarker, 1, false, 0, "marker"},
        {KQovNodeAttribute::eMarker, 2, true, 1, "marker"},
        {KQovNodeAttribute::eMarker, 3, true, 1, "marker"},
        {KQovNodeAttribute::eCamera, 0, false, 0, "camera"},
        {KQovNodeAttribute::eLight, 0, false, 0, "light"},
        {KQovNodeAttribute::eMesh, 0, false, 1, "geometry"},
        {KQovNodeAttribute::ePatch, 0, false, 1, "geometry"},
        {KQovNodeAttribute::eSkeleton, 0, false, 1, "skeleton"},
    };
    for (const Case& c : cases) {
        KQovNode node(nullptr, "Model::A");
        TestAttribute attribute(c.type, c.kind);
        EXPECT_EQ(node.SetNodeAttribute(&attribute), nullptr);
        EXPECT_EQ(node.GetMultiLayer(), c.multiLayer) << c.type << "/" << c.kind;
        EXPECT_EQ(node.GetMultiTake(), c.multiTake) << c.type << "/" << c.kind;
        EXPECT_EQ(node.GetAttributeOfType(c.type), &attribute);
        const std::string typed = c.typed;
        EXPECT_EQ(node.GetNull<KQovNodeAttribute>() != nullptr, typed == "null");
        EXPECT_EQ(node.GetMarker<KQovNodeAttribute>() != nullptr, typed == "marker");
        EXPECT_EQ(node.GetCamera<KQovNodeAttribute>() != nullptr, typed == "camera");
        EXPECT_EQ(node.GetLight<KQovNodeAttribute>() != nullptr, typed == "light");
        EXPECT_EQ(node.GetGeometry<KQovNodeAttribute>() != nullptr, typed == "geometry");
        EXPECT_EQ(node.GetSkeleton<KQovNodeAttribute>() != nullptr, typed == "skeleton");
        EXPECT_STREQ(node.GetTypeName().Buffer(), "Test");
        EXPECT_EQ(node.SetNodeAttribute(nullptr), &attribute);
        EXPECT_FALSE(node.GetMultiLayer());
        EXPECT_EQ(node.GetMultiTake(), 1);
    }
}

TEST(KQovNode, AttributeChannelsFollowTheNode) {
    KQovNode first(nullptr, "Model::A"), second(nullptr, "Model::B");
    for (const char* take : {"T1", "T2"}) first.AddTakeNode(take);
    TestAttribute light(KQovNodeAttribute::eLight);
    EXPECT_EQ(first.SetNodeAttribute(&light), nullptr);
    EXPECT_EQ(light.calls, (std::vector<std::string>{"init Default", "init T1", "init T2"}));
    EXPECT_EQ(first.SetNodeAttribute(&light), nullptr);  // the same: no change
    EXPECT_EQ(light.calls.size(), 3u);
    EXPECT_EQ(first.GetMultiTake(), 0);
    // New takes copy the channel from "Default".
    first.AddTakeNode("T3");
    EXPECT_GE(first.GetTakeNode(3)->GetRoot()->FindIndexByName("Extra"), 0);

    // Taken over by another node: the first loses channels and flags.
    light.calls.clear();
    EXPECT_EQ(second.SetNodeAttribute(&light), nullptr);
    EXPECT_EQ(light.calls, (std::vector<std::string>{"remove Default", "remove T1", "remove T2",
                                                      "remove T3", "init Default"}));
    EXPECT_EQ(first.GetNodeAttribute(), nullptr);
    EXPECT_EQ(first.GetMultiTake(), 1);
    EXPECT_EQ(light.GetNode(), &second);
    for (int i = 0; i < first.GetTakeNodeCount(); ++i)
        EXPECT_EQ(first.GetTakeNode(i)->GetRoot()->FindIndexByName("Extra"), -1);

    // A replaced attribute is handed back, unbound but alive.
    TestAttribute camera(KQovNodeAttribute::eCamera);
    EXPECT_EQ(second.SetNodeAttribute(&camera), &light);
    EXPECT_EQ(light.GetNode(), nullptr);
    EXPECT_STREQ(second.GetTypeName().Buffer(), "Test");
    std::vector<KProperty*> properties;
    second.CollectProperties(properties);
    EXPECT_EQ(properties.size(), 54u);
}

TEST(KQovNode, DestroyingANodeKeepsItsAttribute) {
    TestAttribute attribute(KQovNodeAttribute::eMarker, 1);
    {
        KQovNode node(nullptr, "Model::A");
        node.SetNodeAttribute(&attribute);
    }
    EXPECT_EQ(attribute.GetNode(), nullptr);
    EXPECT_EQ(attribute.calls.back(), "remove Default");
    attribute.ClearNode();  // no node: nothing
    EXPECT_EQ(attribute.calls.size(), 2u);
}

TEST(KQovNode, DestroyingAnAttributeUnbindsIt) {
    KQovNode node(nullptr, "Model::A");
    {
        TestAttribute camera(KQovNodeAttribute::eCamera);
        node.SetNodeAttribute(&camera);
        EXPECT_EQ(node.GetMultiTake(), 0);
    }
    EXPECT_EQ(node.GetNodeAttribute(), nullptr);
    EXPECT_EQ(node.GetMultiTake(), 1);
}

TEST(KQovNodeAttribute, BaseTypeNames) {
    struct Bare : KQovNodeAttribute {
        Bare() : KQovNodeAttribute(nullptr) {}
        int GetAttributeType() const override { return eShape; }
    } bare;
    EXPECT_STREQ(bare.GetTypeName().Buffer(), "");
    EXPECT_EQ(bare.GetTypeNames().GetCount(), 0);
    EXPECT_EQ(bare.GetMarkerKind(), 0);
    bare.ClearNode();
    EXPECT_EQ(bare.GetNode(), nullptr);
}

struct Character : KQovNodeLinkOwner {
    std::vector<std::vector<int>> cleared;
    void ClearNodeLink(KQovNode*, int kind, int slot, int subIndex) override {
        cleared.push_back({kind, slot, subIndex});
    }
};

TEST(KQovNode, CharacterBackLinks) {
    Character character, other;
    {
        KQovNode node(nullptr, "Model::Hips");
        EXPECT_EQ(node.AddCharacterLink(&character, KQovNode::eCharacterSlot, 4, 0), 0);
        EXPECT_EQ(node.AddCharacterLink(&character, KQovNode::eAuxiliaryEffector, 2, 1), 1);
        EXPECT_EQ(node.AddCharacterLink(&other, KQovNode::eEffector, 2, 0), 2);
        struct Case {
            const KQovNodeLinkOwner* owner;
            int kind, slot, sub, found;
        } cases[] = {{&character, 0, 4, 0, 0}, {&character, 3, 2, 1, 1}, {&other, 2, 2, 0, 2},
                     {&character, 3, 2, 0, -1}, {&other, 0, 4, 0, -1}, {nullptr, 0, 4, 0, -1}};
        for (const Case& c : cases)
            EXPECT_EQ(node.FindCharacterLink(c.owner, c.kind, c.slot, c.sub), c.found);
        EXPECT_EQ(node.RemoveCharacterLink(&other, 2, 2, 0), 2);
        EXPECT_EQ(node.RemoveCharacterLink(&other, 2, 2, 0), -1);
        EXPECT_EQ(node.GetCharacterLinkCount(), 2);
        // Removed in any order, the others are still found and counted.
        for (int slot = 10; slot < 14; ++slot)
            node.AddCharacterLink(&other, KQovNode::eEffector, slot, 0);
        for (int slot : {11, 13, 10, 12}) {
            EXPECT_GE(node.FindCharacterLink(&other, 2, 12, 0), 0);
            EXPECT_GE(node.RemoveCharacterLink(&other, 2, slot, 0), 0);
            EXPECT_EQ(node.FindCharacterLink(&other, 2, slot, 0), -1);
        }
        EXPECT_EQ(node.GetCharacterLinkCount(), 2);
        EXPECT_EQ(node.FindCharacterLink(&character, 3, 2, 1), 1);
    }
    EXPECT_EQ(character.cleared, (std::vector<std::vector<int>>{{0, 4, 0}, {3, 2, 1}}));
    EXPECT_TRUE(other.cleared.empty());
}

TEST(KQovNode, Visibility) {
    KQovNode node(nullptr, "Model::A");
    KProperty* show = node.GetNodeProperties()->FindProperty("Show");
    KProperty* visibility = node.GetNodeProperties()->FindProperty("Visibility");
    node.SetVisibility(false);
    EXPECT_EQ(show->GetInt(), 0);
    EXPECT_EQ(visibility->GetDouble(), 0.0);
    EXPECT_FALSE(node.GetVisibility());
    visibility->SetDouble(std::numeric_limits<double>::quiet_NaN());
    EXPECT_TRUE(node.GetVisibility());
    node.GetNodeProperties()->DestroyProperty(node.GetNodeProperties()->IndexOfProperty(visibility));
    EXPECT_FALSE(node.GetVisibility());
    node.SetVisibility(true);  // nothing to write into
    EXPECT_EQ(show->GetInt(), 1);
}

TEST(KQovNode, MarksAndAnimationIntervalOverTheSubtree) {
    Tree t;
    t.a2.SetMarked(true);
    EXPECT_FALSE(t.root.IsMarked());
    EXPECT_TRUE(t.root.IsMarked(true));
    t.root.SetMarked(false, true);
    EXPECT_FALSE(t.root.IsMarked(true));

    KTime start(100), stop(100);
    EXPECT_FALSE(t.root.GetAnimationInterval(start, stop));
    EXPECT_EQ(start.Get(), 100);
    KFCurve* curve = t.b1.GetDefaultTakeNode()->GetTranslationX();
    curve->ResizeKeyBuffer(2);
    curve->KeySet(0, KTime(-5), 0.0f);
    curve->KeySet(1, KTime(40), 1.0f);
    curve->CommitKeys(2);
    EXPECT_TRUE(t.root.GetAnimationInterval(start, stop));
    EXPECT_EQ(start.Get(), -5);
    EXPECT_EQ(stop.Get(), 100);
    EXPECT_FALSE(t.a.GetAnimationInterval(start, stop));
}

TEST(KQovNode, LocalTransforms) {
    KQovNode node(nullptr, "Model::A");
    using Set = void (KQovNode::*)(double, double, double);
    using Get = void (KQovNode::*)(KVector4&) const;
    const std::tuple<Set, Get, const char*> cases[] = {
        {&KQovNode::SetLocalTranslation, &KQovNode::GetLocalTranslation, "Lcl Translation"},
        {&KQovNode::SetLocalRotation, &KQovNode::GetLocalRotation, "Lcl Rotation"},
        {&KQovNode::SetLocalScaling, &KQovNode::GetLocalScaling, "Lcl Scaling"}};
    for (const auto& [set, get, name] : cases) {
        (node.*set)(1.5, -2.0, 3.0);
        KVector4 out(9, 9, 9, 9);
        (node.*get)(out);
        EXPECT_EQ(out, KVector4(1.5, -2.0, 3.0)) << name;
        EXPECT_EQ(out[3], 9.0);
        KProperty* p = node.GetNodeProperties()->FindProperty(name);
        node.GetNodeProperties()->DestroyProperty(node.GetNodeProperties()->IndexOfProperty(p));
        (node.*set)(7, 7, 7);  // missing: nothing
        KVector4 untouched(4, 4, 4, 4);
        (node.*get)(untouched);
        EXPECT_EQ(untouched, KVector4(4, 4, 4, 4)) << name;
    }
}

TEST(KQovNode, NeutralPropertiesLeaveThePivotsUnused) {
    KQovNode node(nullptr, "Model::A");
    node.CopyPropertiesToPivots();
    EXPECT_EQ(node.GetPivotState(0), 1);
    EXPECT_EQ(node.GetPivotState(1), 1);
    // Each non-neutral value makes set 0 used.
    KQovNodeProperties* set = node.GetNodeProperties();
    const int rows[] = {KQovNodeProperties::eRotationOffset, KQovNodeProperties::eRotationPivot,
                        KQovNodeProperties::eScalingPivotUpdateOffset,
                        KQovNodeProperties::eGeometricRotation, KQovNodeProperties::eGeometricScaling};
    for (int row : rows) {
        KQovNode fresh(nullptr, "Model::B");
        fresh.GetNodeProperties()->SetVector(row, KVector4(0.5, 1.0, 0.0));
        fresh.SetPivotState(1, 0);
        fresh.AfterPropertiesRead();
        EXPECT_EQ(fresh.GetPivotState(0), 0) << row;
        EXPECT_EQ(fresh.GetPivotState(1), 1) << row;
    }
    set->SetNumber(KQovNodeProperties::eRotationOrder, 3);
    node.CopyPropertiesToPivots();
    EXPECT_EQ(node.GetPivotState(0), 0);
    EXPECT_EQ(node.GetRotationOrder(0), 3);
}

TEST(KQovNode, PivotsAndPropertiesCopyBothWays) {
    KQovNode node(nullptr, "Model::A");
    node.SetRotationOffset(0, 1, 2, 3);
    node.SetRotationPivot(0, 4, 5, 6);
    node.SetPreRotation(0, 10, 20, 30);
    node.SetPostRotation(0, -1, -2, -3);
    node.SetScalingOffset(0, 0.5, 0.25, 0.125);
    node.SetScalingPivot(0, 7, 8, 9);
    node.SetGeometricTranslation(0, 1, 1, 1);
    node.SetGeometricRotation(0, 90, 0, 0);
    node.SetGeometricScaling(0, 2, 2, 2);
    node.SetRotationOrder(0, 5);
    node.SetRotationSpaceForLimitOnly(0, true);
    KQovNodeLimits& limits = node.GetLimits();
    limits.rotationActive = true;
    limits.rotation.minActiveY = true;
    limits.rotation.min = KVector4(-45, -30, -15);
    limits.scaling.max = KVector4(3, 3, 3);
    limits.translation.maxActiveZ = true;
    const KQovPivotSet original = *node.GetPivotSet(0);
    const KQovNodeLimits originalLimits = limits;

    node.CopyPivotsToProperties();
    EXPECT_EQ(Numbers(node.GetNodeProperties()->FindProperty("PreRotation")),
              (std::vector<double>{10, 20, 30}));
    EXPECT_EQ(node.GetNodeProperties()->FindProperty("RotationMinY")->GetInt(), 1);
    node.GetPivotSet(0)->Reset();
    limits = KQovNodeLimits();
    node.CopyPropertiesToPivots();

    const KQovPivotSet& copy = *node.GetPivotSet(0);
    EXPECT_EQ(copy.pivotState, 0);
    for (auto field : {&KQovPivotSet::rotationOffset, &KQovPivotSet::rotationPivot,
                       &KQovPivotSet::preRotation, &KQovPivotSet::postRotation,
                       &KQovPivotSet::scalingOffset, &KQovPivotSet::scalingPivot,
                       &KQovPivotSet::geometricTranslation, &KQovPivotSet::geometricRotation,
                       &KQovPivotSet::geometricScaling})
        EXPECT_EQ(copy.*field, original.*field);
    EXPECT_EQ(copy.rotationOrder, 5);
    EXPECT_EQ(copy.rotationSpaceForLimitOnly, 1);
    EXPECT_EQ(limits.rotationActive, originalLimits.rotationActive);
    EXPECT_EQ(limits.rotation.minActiveY, true);
    EXPECT_EQ(limits.translation.maxActiveZ, true);
    EXPECT_EQ(limits.rotation.min, originalLimits.rotation.min);
    EXPECT_EQ(limits.scaling.max, originalLimits.scaling.max);
    EXPECT_EQ(limits.scaling.max[3], originalLimits.scaling.max[3]);
    KVector4 scaling;
    node.GetGeometricScaling(0, scaling);
    EXPECT_EQ(scaling, KVector4(2, 2, 2));
}

TEST(KQovNode, ResetPutsEveryMemberBack) {
    KQovNode node(nullptr, "Model::A");
    KQovNodeProperties* set = node.GetNodeProperties();
    set->SetBool(KQovNodeProperties::eShow, false);
    set->SetVector(KQovNodeProperties::eGeometricScaling, KVector4(5, 5, 5));
    set->SetNumber(KQovNodeProperties::eRotationStiffnessY, 0.5);
    node.SetPivotState(0, 0);
    node.SetRotationActive(true);
    node.ResetTransformProperties();
    EXPECT_TRUE(set->GetBool(KQovNodeProperties::eShow));
    EXPECT_FALSE(set->GetBool(KQovNodeProperties::eRotationActive));
    EXPECT_EQ(set->GetVector(KQovNodeProperties::eGeometricScaling), KVector4(1, 1, 1));
    EXPECT_EQ(set->GetNumber(KQovNodeProperties::eRotationStiffnessY), 0.0);
    EXPECT_EQ(node.GetPivotState(0), 1);
}

}  // namespace
