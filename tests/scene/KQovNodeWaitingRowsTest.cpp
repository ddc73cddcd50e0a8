// A node's property rows and their records are built on first use: whatever happens before,
// the set must come out as one built at creation would be by then (properties, flags, values,
// enum labels, records, their order in the manager, takes), and a node never built must
// answer and go as one that was.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "attributes/KQovLight.h"
#include "attributes/KQovNull.h"
#include "common/SceneDump.h"
#include "foundation/KLocale.h"
#include "scene/KProperty.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeProperties.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovUserProperty.h"

namespace {

using P = KQovNodeProperties;

// Sets made while one lives build their rows at once, as they always did.
struct BuiltAtOnce {
    BuiltAtOnce() { KQovPropertyHandler::SetDeferTables(false); }
    ~BuiltAtOnce() { KQovPropertyHandler::SetDeferTables(true); }
};

std::string Number(double value) {
    return KFormatC("%.17g", value);
}

// Everything a caller can read of the node's set and records, built or not.
std::string Picture(KQovObjectManager& manager, KQovNode* node) {
    std::string out = SceneDump::Object(*node);
    KQovNodeProperties* set = node->GetNodeProperties();
    for (int i = 0; i < set->GetPropertyCount(); ++i) {
        KProperty* p = set->GetProperty(i);
        out += KFormatC("%d attributes 0x%x range %s %s srcs %d dsts %d", i, p->GetAttributes(),
                        Number(p->GetMin()).c_str(), Number(p->GetMax()).c_str(), p->GetSrcCount(),
                        p->GetDstCount());
        for (int v = 0; v < 8; ++v)
            if (const char* label = p->GetEnumName(v)) out += std::string(" '") + label + "'";
        out += "\n";
    }
    for (int row = 0; row < set->GetTableRowCount(); ++row)
        out += "row " + std::to_string(row) + " at " +
               std::to_string(set->IndexOfProperty(set->GetTableProperty(row))) + "\n";
    for (int i = 0; i < node->GetUserPropertyCount(); ++i) {
        KQovUserProperty* up = node->GetUserProperty(i);
        out += "record " + std::to_string(i) + " wraps " +
               std::to_string(set->IndexOfProperty(up->GetProperty())) + " owner " +
               (up->GetOwner() == static_cast<KQovUserPropertyOwner*>(set) ? "set" : "other") +
               " animatable " + std::to_string(up->GetFlag(KQovUserProperty::eFlagAnimatable)) +
               "\n";
    }
    const KQovPivotSet& pivots = *node->GetPivotSet(0);
    out += "pivots " + Number(pivots.rotationOffset[0]) + " " + Number(pivots.scalingPivot[1]) +
           " " + Number(pivots.geometricScaling[2]) + " order " +
           std::to_string(pivots.rotationOrder) + "\n";
    out += "visible " + std::to_string(node->GetVisibility()) + " links " +
           std::to_string(node->GetPropertyLinkCount()) + " manager records " +
           std::to_string(manager.GetUserPropertyCount()) + "\n";
    return out;
}

using Steps = std::function<void(KQovObjectManager&, KQovNode*, KQovNode*)>;

struct Outcome {
    std::string picture;
    bool waitingAfterSteps;
};

// Two nodes, then the probe between them and a third; the steps run on the probe (with the
// first node at hand).
Outcome RunSteps(const Steps& steps, bool atOnce) {
    std::unique_ptr<BuiltAtOnce> eager;
    if (atOnce) eager = std::make_unique<BuiltAtOnce>();
    KQovObjectManager manager;
    KQovNode* first = manager.CreateNode("First");
    KQovNode* probe = manager.CreateNode("Probe");
    manager.CreateNode("Last");
    steps(manager, probe, first);
    Outcome out;
    out.waitingAfterSteps = probe->GetNodeProperties()->IsTableWaiting();
    out.picture = Picture(manager, probe);
    // The manager's records in its order: the first of each name goes, again and again.
    for (const char* name : {"Lcl Translation", "Visibility", "Show"}) {
        while (KQovUserProperty* up = manager.FindUserProperty(name)) {
            const KProperty* property = up->GetProperty();
            const KObject* set = property ? KObject::FromPlug(property->GetParent()) : nullptr;
            out.picture += std::string("found ") + name + " of " +
                           (set == probe->GetNodeProperties()   ? "probe"
                            : set == first->GetNodeProperties() ? "first"
                                                                : "another") +
                           "\n";
            if (!manager.DestroyUserProperty(up)) break;
        }
    }
    out.picture += "left " + std::to_string(manager.GetUserPropertyCount()) + "\n";
    return out;
}

TEST(KQovNodeWaitingRows, BuiltLateEqualsBuiltAtOnce) {
    const struct {
        const char* what;
        Steps steps;
        bool staysWaiting;
    } kCases[] = {
        {"fresh", [](KQovObjectManager&, KQovNode*, KQovNode*) {}, true},
        {"value calls",
         [](KQovObjectManager&, KQovNode* n, KQovNode*) {
             KQovNodeProperties* set = n->GetNodeProperties();
             set->SetVector(P::eRotationOffset, KVector4(1.0, 2.0, 3.0, 1.0));
             set->SetBool(P::eTranslationActive, true);
             set->SetNumber(P::eRotationOrder, 3.0);
             set->SetNumber(P::eAxisLen, 0.25);
             set->SetBool(P::eShow, false);
             set->SetBool(P::eShow, true);  // back to the default, still kept
         },
         true},
        {"pivots copied into the rows and back",
         [](KQovObjectManager&, KQovNode* n, KQovNode*) {
             n->SetRotationOffset(0, 1.0, 0.5, 0.25);
             n->SetScalingPivot(0, 0.0, 2.0, 0.0);
             n->SetGeometricScaling(0, 1.0, 1.0, 3.0);
             n->SetRotationOrder(0, 2);
             n->CopyPivotsToProperties();
             n->CopyPropertiesToPivots();
         },
         true},
        {"values reset",
         [](KQovObjectManager&, KQovNode* n, KQovNode*) {
             n->GetNodeProperties()->SetVector(P::eScalingMax, KVector4(5.0, 5.0, 5.0, 1.0));
             n->ResetTransformProperties();
         },
         true},
        {"hidden", [](KQovObjectManager&, KQovNode* n, KQovNode*) { n->SetVisibility(false); },
         false},
        {"shown again",
         [](KQovObjectManager&, KQovNode* n, KQovNode*) {
             n->GetNodeProperties()->SetBool(P::eShow, false);
             n->SetVisibility(true);
         },
         true},
        {"local transforms read (as the still-pose writers read every node)",
         [](KQovObjectManager&, KQovNode* n, KQovNode*) {
             KVector4 t(7.0, 7.0, 7.0), r(7.0, 7.0, 7.0), s(7.0, 7.0, 7.0);
             n->GetLocalTranslation(t);
             n->GetLocalRotation(r);
             n->GetLocalScaling(s);
             for (int i = 0; i < 3; ++i) {
                 EXPECT_EQ(t[i], 0.0);
                 EXPECT_EQ(r[i], 0.0);
                 EXPECT_EQ(s[i], 1.0);
             }
         },
         true},
        {"defaults written into the plan",
         [](KQovObjectManager&, KQovNode* n, KQovNode*) { n->WritePropertyDefaults(); }, true},
        {"child and parent",
         [](KQovObjectManager&, KQovNode* n, KQovNode* first) {
             first->AddChild(n);
             EXPECT_EQ(n->GetParent(), first);
         },
         true},
        {"look-at target",
         [](KQovObjectManager&, KQovNode* n, KQovNode* first) { n->SetLookAtTarget(first); },
         false},
        {"null attribute",
         [](KQovObjectManager& m, KQovNode* n, KQovNode*) { n->SetNodeAttribute(m.CreateNull()); },
         true},
        {"light attribute (makes the take)",
         [](KQovObjectManager& m, KQovNode* n, KQovNode*) {
             n->GetNodeProperties()->SetVector(P::ePreRotation, KVector4(0.0, 90.0, 0.0, 1.0));
             n->SetNodeAttribute(m.CreateLight());
         },
         false},
        {"second take",
         [](KQovObjectManager&, KQovNode* n, KQovNode*) {
             EXPECT_NE(n->AddTakeNode("Walk"), nullptr);
         },
         false},
        {"default take made",
         [](KQovObjectManager&, KQovNode* n, KQovNode*) {
             n->GetNodeProperties()->SetBool(P::eRotationActive, true);
             EXPECT_NE(n->GetDefaultTakeNode(), nullptr);
         },
         false},
        {"user property added",
         [](KQovObjectManager& m, KQovNode* n, KQovNode*) {
             KQovUserProperty* up = m.CreateUserProperty("Weight", "Real", "");
             up->SetFlag(KQovUserProperty::eFlagAnimatable, true);
             n->AddUserProperty(up);
             up->SetValue(0.5);
         },
         false},
        {"record asked for by name",
         [](KQovObjectManager&, KQovNode* n, KQovNode*) {
             ASSERT_NE(n->FindUserProperty("Lcl Rotation"), nullptr);
         },
         false},
        {"property found by name",
         [](KQovObjectManager&, KQovNode* n, KQovNode*) {
             KProperty* p = n->GetNodeProperties()->FindProperty("Lcl Translation");
             ASSERT_NE(p, nullptr);
             const double v[3] = {1.0, 2.0, 3.0};
             KQovSetPropertyNumbers(p, v, 3);
             KVector4 t;
             n->GetLocalTranslation(t);
             EXPECT_EQ(t[2], 3.0);
         },
         false},
        {"values copied from a built node",
         [](KQovObjectManager&, KQovNode* n, KQovNode* first) {
             first->GetNodeProperties()->SetNumber(P::eRotationStiffnessY, 0.75);
             first->SetVisibility(false);
             n->GetNodeProperties()->CopyFrom(first->GetNodeProperties(), 0x1 | 0x4 | 0x8);
         },
         false},
        {"merged into another node",
         [](KQovObjectManager&, KQovNode* n, KQovNode* first) {
             n->GetNodeProperties()->SetNumber(P::eInheritType, 2.0);
             n->GetNodeProperties()->Merge(first->GetNodeProperties(), 0x2 | 0x4 | 0x8, nullptr,
                                           nullptr);
         },
         false},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        const Outcome atOnce = RunSteps(c.steps, true);
        const Outcome late = RunSteps(c.steps, false);
        EXPECT_FALSE(atOnce.waitingAfterSteps);
        EXPECT_EQ(late.waitingAfterSteps, c.staysWaiting);
        EXPECT_EQ(late.picture, atOnce.picture);
    }
}

// What a set that waits answers without building: its values and the counts.
TEST(KQovNodeWaitingRows, AnswersWithoutBuilding) {
    KQovObjectManager manager;
    const int before = manager.GetUserPropertyCount();
    KQovNode* node = manager.CreateNode("Quiet");
    KQovNodeProperties* set = node->GetNodeProperties();
    ASSERT_TRUE(set->IsTableWaiting());
    EXPECT_EQ(set->GetTableRowCount(), P::eRowCount);
    // One record per row is counted before any is made.
    EXPECT_EQ(manager.GetUserPropertyCount(), before + P::eRowCount);
    EXPECT_TRUE(node->GetVisibility());
    EXPECT_EQ(node->GetLookAtTarget(), nullptr);
    EXPECT_EQ(set->GetVector(P::eGeometricScaling)[2], 1.0);
    EXPECT_TRUE(set->GetBool(P::eShow));
    // Created rows and object lists hold no numbers for the value calls.
    EXPECT_EQ(set->GetEmbeddedNumbers(P::eLclTranslation), nullptr);
    EXPECT_EQ(set->GetEmbeddedNumbers(P::eLookAtProperty), nullptr);
    EXPECT_EQ(set->GetEmbeddedNumbers(-1), nullptr);
    EXPECT_EQ(set->GetEmbeddedNumbers(P::eRowCount), nullptr);
    double numbers[4] = {0.0, 0.0, 0.0, 0.0};
    EXPECT_EQ(set->GetWaitingRowNumbers(P::eLclScaling, numbers), 3);
    EXPECT_EQ(numbers[0], 1.0);
    EXPECT_EQ(set->GetWaitingRowNumbers(P::eVisibility, numbers), 1);
    EXPECT_EQ(set->GetWaitingRowNumbers(P::eLookAtProperty, numbers), 0);
    node->SetRotationOffset(0, 1.0, 0.0, 0.0);  // the pivot set, not the rows
    EXPECT_TRUE(set->IsTableWaiting());
    // The first generic access builds the rows, with the values kept meanwhile.
    set->SetNumber(P::eRotationStiffnessZ, 0.5);
    EXPECT_EQ(set->GetPropertyCount(), P::eRowCount);
    EXPECT_FALSE(set->IsTableWaiting());
    EXPECT_EQ(set->GetEmbedded(P::eRotationStiffnessZ)->GetNumbers()[0], 0.5);
    EXPECT_EQ(node->GetUserPropertyCount(), P::eRowCount);
    EXPECT_EQ(manager.GetUserPropertyCount(), before + P::eRowCount);
    EXPECT_EQ(set->GetWaitingRowNumbers(P::eLclScaling, numbers), 0);  // built: ask the property
}

// Nodes that never built their rows go, alone or with a tree, and leave the others' records
// in place; the leak checker sees anything left behind.
TEST(KQovNodeWaitingRows, DestroyedUnbuilt) {
    enum How { eOne, eRecursive, eWithManager, eBuiltNeighbour };
    for (How how : {eOne, eRecursive, eWithManager, eBuiltNeighbour}) {
        SCOPED_TRACE(int(how));
        auto manager = std::make_unique<KQovObjectManager>();
        const int base = manager->GetUserPropertyCount();
        KQovNode* top = manager->CreateNode("Top");
        KQovNode* middle = manager->CreateNode("Middle");
        KQovNode* bottom = manager->CreateNode("Bottom");
        top->AddChild(middle);
        middle->AddChild(bottom);
        KQovNode* other = manager->CreateNode("Other");
        if (how == eBuiltNeighbour) {
            ASSERT_NE(middle->FindUserProperty("Show"), nullptr);
            ASSERT_NE(other->FindUserProperty("Show"), nullptr);
        }
        EXPECT_EQ(manager->GetUserPropertyCount(), base + 4 * P::eRowCount);
        switch (how) {
            case eOne:
                ASSERT_TRUE(manager->DestroyNode(bottom, false));
                EXPECT_EQ(middle->GetChildCount(), 0);
                EXPECT_EQ(manager->GetUserPropertyCount(), base + 3 * P::eRowCount);
                break;
            case eRecursive:
            case eBuiltNeighbour:
                ASSERT_TRUE(manager->DestroyNode(top, true));
                EXPECT_EQ(manager->GetUserPropertyCount(), base + P::eRowCount);
                EXPECT_EQ(manager->GetNodeCount(), 1);
                break;
            case eWithManager:
                break;
        }
        if (how != eWithManager) {
            // The first node left has the first record of the name; the others keep theirs.
            KQovNode* firstLeft = how == eOne ? top : other;
            KQovUserProperty* show = manager->FindUserProperty("Show");
            ASSERT_NE(show, nullptr);
            EXPECT_EQ(show, firstLeft->FindUserProperty("Show"));
            EXPECT_EQ(other->GetUserPropertyCount(), P::eRowCount);
        }
        manager.reset();
    }
}

// Many nodes built in a scattered order: the manager's list keeps their creation order.
TEST(KQovNodeWaitingRows, RecordsKeepCreationOrderWhenBuiltOutOfOrder) {
    KQovObjectManager manager;
    std::vector<KQovNode*> nodes;
    for (int i = 0; i < 12; ++i)
        nodes.push_back(manager.CreateNode(("N" + std::to_string(i)).c_str()));
    for (int i : {7, 2, 11, 5}) ASSERT_EQ(nodes[size_t(i)]->GetUserPropertyCount(), P::eRowCount);
    ASSERT_TRUE(manager.DestroyNode(nodes[3], false));
    std::vector<std::string> owners;
    while (KQovUserProperty* up = manager.FindUserProperty("Lcl Scaling")) {
        const KObject* set = KObject::FromPlug(up->GetProperty()->GetParent());
        for (KQovNode* node : nodes)
            if (node != nodes[3] && set == node->GetNodeProperties())
                owners.push_back(node->GetName());
        ASSERT_TRUE(manager.DestroyUserProperty(up));
    }
    const std::vector<std::string> expected = {"Model::N0", "Model::N1",  "Model::N2", "Model::N4",
                                               "Model::N5", "Model::N6",  "Model::N7", "Model::N8",
                                               "Model::N9", "Model::N10", "Model::N11"};
    EXPECT_EQ(owners, expected);
}

}  // namespace
