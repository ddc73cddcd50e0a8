// A node's "Default" take is made on first use: whatever happens before, it must come out as
// the take made at creation would be by then (channels, values, colours, links), and a node
// that never makes it must answer and go as one that did.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <new>
#include <string>

#include "animation/KFCurve.h"
#include "animation/KFCurveNode.h"
#include "animation/KQovTakeNode.h"
#include "attributes/KQovCamera.h"
#include "attributes/KQovGeometry.h"
#include "attributes/KQovLight.h"
#include "attributes/KQovMesh.h"
#include "attributes/KQovNull.h"
#include "attributes/KQovSkeleton.h"
#include "common/RefusingHeap.h"
#include "common/SceneDump.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"
#include "scene/KQovUserProperty.h"

namespace {

using Steps = std::function<void(KQovObjectManager&, KQovNode*)>;

struct Outcome {
    std::string dump;
    int links;
    bool deferred;  // still unmade after the steps
    KMatrix defaultLocal;
};

// The steps on a node whose take is made at once (as it always was) or left to first use.
Outcome RunSteps(const Steps& steps, bool makeAtOnce) {
    KQovObjectManager manager;
    KQovNode* node = manager.CreateNode("Probe");
    if (makeAtOnce) node->GetDefaultTakeNode();
    steps(manager, node);
    Outcome out;
    out.deferred = node->IsDefaultTakeDeferred();
    out.links = node->GetPropertyLinkCount();
    out.dump = SceneDump::Object(*node);
    out.defaultLocal = node->GetDefaultLocalMatrix();
    EXPECT_EQ(node->GetPropertyLinkCount(), out.links);  // the count told before is kept
    return out;
}

void AddAnimatableUserProperty(KQovObjectManager& manager, KQovNode* node) {
    KQovUserProperty* up = manager.CreateUserProperty("Weight", "Real", "");
    up->SetFlag(KQovUserProperty::eFlagAnimatable, true);
    node->AddUserProperty(up);
    up->SetValue(0.5);
}

TEST(KQovNodeDeferredTake, MadeLateEqualsMadeAtOnce) {
    const struct {
        const char* what;
        Steps steps;
        bool staysDeferred;
    } kCases[] = {
        {"fresh", [](KQovObjectManager&, KQovNode*) {}, true},
        {"properties changed, never written into the channels",
         [](KQovObjectManager&, KQovNode* n) {
             n->SetLocalTranslation(1.0, 2.0, 3.0);
             n->SetLocalRotation(10.0, 20.0, 30.0);
             n->SetVisibility(false);
         },
         true},
        {"written, then changed again",
         [](KQovObjectManager&, KQovNode* n) {
             n->SetLocalTranslation(1.0, 2.0, 3.0);
             n->WritePropertyDefaults();
             n->SetLocalTranslation(4.0, 5.0, 6.0);
         },
         true},
        {"written twice",
         [](KQovObjectManager&, KQovNode* n) {
             n->SetLocalScaling(2.0, 2.0, 2.0);
             n->SetVisibility(false);
             n->WritePropertyDefaults();
             n->SetLocalScaling(3.0, 1.0, 0.5);
             n->WritePropertyDefaults();
         },
         true},
        {"null attribute",
         [](KQovObjectManager& m, KQovNode* n) {
             n->SetNodeAttribute(m.CreateNull());
             n->SetLocalTranslation(7.0, 0.0, 0.0);
             n->WritePropertyDefaults();
         },
         true},
        {"current take by name and index",
         [](KQovObjectManager&, KQovNode* n) {
             EXPECT_TRUE(n->SetCurrentTakeNode("Default"));
             EXPECT_FALSE(n->SetCurrentTakeNode("default"));
             EXPECT_TRUE(n->SetCurrentTakeNode(0));
             EXPECT_FALSE(n->RemoveTakeNode(0));
             EXPECT_FALSE(n->HasAnimation("Transform", "T", "X"));
         },
         true},
        {"light attribute after a change",
         [](KQovObjectManager& m, KQovNode* n) {
             n->SetLocalTranslation(1.0, 1.0, 1.0);
             n->SetNodeAttribute(m.CreateLight());
         },
         false},
        {"light replaced by a null",
         [](KQovObjectManager& m, KQovNode* n) {
             n->SetNodeAttribute(m.CreateLight());
             n->SetNodeAttribute(m.CreateNull());
         },
         false},
        {"mesh and skeleton: no channels",
         [](KQovObjectManager& m, KQovNode* n) {
             n->SetNodeAttribute(m.CreateMesh());
             n->SetNodeAttribute(m.CreateSkeleton());
         },
         true},
        {"shape added to the node's mesh",
         [](KQovObjectManager& m, KQovNode* n) {
             KQovMesh* mesh = m.CreateMesh();
             n->SetNodeAttribute(mesh);
             n->SetLocalTranslation(0.0, 0.0, 2.0);
             EXPECT_EQ(mesh->AddShape(m.CreateShape(), "Smile"), 0);
         },
         false},
        {"mesh with a shape attached",
         [](KQovObjectManager& m, KQovNode* n) {
             KQovMesh* mesh = m.CreateMesh();
             EXPECT_EQ(mesh->AddShape(m.CreateShape(), "Smile"), 0);
             n->SetNodeAttribute(mesh);
         },
         false},
        {"animatable user property", AddAnimatableUserProperty, false},
        {"second take after a write",
         [](KQovObjectManager&, KQovNode* n) {
             n->SetLocalRotation(0.0, 90.0, 0.0);
             n->WritePropertyDefaults();
             n->SetLocalRotation(0.0, 45.0, 0.0);
             EXPECT_NE(n->AddTakeNode("Take 001"), nullptr);
         },
         false},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        const Outcome atOnce = RunSteps(c.steps, true);
        const Outcome late = RunSteps(c.steps, false);
        EXPECT_EQ(late.deferred, c.staysDeferred);
        EXPECT_EQ(late.dump, atOnce.dump);
        EXPECT_EQ(late.links, atOnce.links);
        for (int r = 0; r < 4; ++r)
            for (int k = 0; k < 4; ++k)
                EXPECT_EQ(late.defaultLocal[r][k], atOnce.defaultLocal[r][k]);
    }
}

TEST(KQovNodeDeferredTake, AnswersWithoutMakingTheTake) {
    KQovObjectManager manager;
    KQovNode* node = manager.CreateNode("Probe");
    node->SetNodeAttribute(manager.CreateNull());
    ASSERT_TRUE(node->IsDefaultTakeDeferred());
    EXPECT_EQ(node->GetTakeNodeCount(), 1);
    EXPECT_STREQ(node->GetTakeNodeName(0), "Default");
    EXPECT_STREQ(node->GetCurrentTakeNodeName(), "Default");
    EXPECT_EQ(node->GetTakeNodeName(1), nullptr);
    KTime start(5), stop(7);
    EXPECT_FALSE(node->GetAnimationInterval(start, stop));
    EXPECT_EQ(start.Get(), 5);
    EXPECT_EQ(stop.Get(), 7);
    EXPECT_EQ(node->GetPropertyLinkCount(), 10);
    EXPECT_TRUE(node->IsDefaultTakeDeferred());
    // Handing out the take makes it, once.
    KQovTakeNode* take = node->GetTakeNode(0);
    ASSERT_NE(take, nullptr);
    EXPECT_FALSE(node->IsDefaultTakeDeferred());
    EXPECT_EQ(node->GetDefaultTakeNode(), take);
    EXPECT_EQ(node->GetCurrentTakeNode(), take);
    EXPECT_EQ(node->GetPropertyLinkCount(), 10);
}

TEST(KQovNodeDeferredTake, LinksOfALateTakeDriveTheProperties) {
    KQovObjectManager manager;
    KQovNode* node = manager.CreateNode("Probe");
    node->SetLocalTranslation(1.0, 2.0, 3.0);
    node->WritePropertyDefaults();
    ASSERT_TRUE(node->IsDefaultTakeDeferred());
    KQovTakeNode* take = node->GetDefaultTakeNode();
    ASSERT_NE(take->GetTranslationY(), nullptr);
    EXPECT_EQ(take->GetTranslationY()->GetValue(), 2.0f);
    take->GetTranslationY()->SetValue(8.0f);
    take->GetVisibility()->SetValue(0.0f);
    KVector4 t;
    node->GetLocalTranslation(t);
    EXPECT_EQ(t[0], 1.0);
    EXPECT_EQ(t[1], 8.0);
    EXPECT_EQ(t[2], 3.0);
    EXPECT_FALSE(node->GetVisibility());
}

TEST(KQovNodeDeferredTake, NodesMadeAlikeDoNotShareTheirWrites) {
    // Nodes made one after the other keep the same values until one of them writes its own.
    KQovObjectManager manager;
    KQovNode* nodes[4];
    for (int i = 0; i < 4; ++i) {
        nodes[i] = manager.CreateNode(("N" + std::to_string(i)).c_str());
        nodes[i]->SetLocalTranslation(double(i), 0.0, 0.0);
        if (i % 2 == 1) nodes[i]->WritePropertyDefaults();  // 1 and 3 write theirs
    }
    const float expected[4] = {0.0f, 1.0f, 0.0f, 3.0f};
    for (int i = 3; i >= 0; --i) {
        SCOPED_TRACE(i);
        ASSERT_TRUE(nodes[i]->IsDefaultTakeDeferred());
        EXPECT_EQ(nodes[i]->GetDefaultTakeNode()->GetTranslationX()->GetValue(), expected[i]);
    }
}

TEST(KQovNodeDeferredTake, ALoanLeavesTheNodeAsItWas) {
    const struct {
        const char* what;
        bool madeBefore;
        bool lend;
    } kCases[] = {
        {"unmade, lent", false, true},
        {"made, lent", true, true},
        {"unmade, returned without a loan", false, false},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        KQovObjectManager manager;
        KQovNode* node = manager.CreateNode("Probe");
        node->SetLocalTranslation(1.0, 2.0, 3.0);  // not in the channels: a made take shows 0
        KQovTakeNode* before = c.madeBefore ? node->GetDefaultTakeNode() : nullptr;
        if (c.lend) {
            KQovTakeNode* lent = node->LendDefaultTakeNode();
            ASSERT_NE(lent, nullptr);
            EXPECT_FALSE(node->IsDefaultTakeDeferred());
            EXPECT_TRUE(!before || lent == before);
            EXPECT_EQ(lent->GetTranslationY()->GetValue(), 0.0f);
        }
        node->ReturnDefaultTakeNode();
        node->ReturnDefaultTakeNode();  // a second return changes nothing
        EXPECT_EQ(node->IsDefaultTakeDeferred(), !c.madeBefore);
        EXPECT_EQ(node->GetPropertyLinkCount(), 10);
        // Made for good now: as made at creation, and its links drive the property.
        KQovTakeNode* take = node->GetDefaultTakeNode();
        EXPECT_TRUE(!before || take == before);
        EXPECT_EQ(take->GetTranslationY()->GetValue(), 0.0f);
        EXPECT_EQ(node->GetPropertyLinkCount(), 10);
        take->GetTranslationZ()->SetValue(9.0f);
        KVector4 t;
        node->GetLocalTranslation(t);
        EXPECT_EQ(t[2], 9.0);
    }
}

TEST(KQovNodeDeferredTake, NodesThatNeverMadeTheirTakeGoCleanly) {
    for (bool recursive : {false, true}) {
        SCOPED_TRACE(recursive);
        KQovObjectManager manager;
        const int records = manager.GetUserPropertyCount();
        KQovNode* parent = manager.CreateNode("Parent");
        KQovNode* child = manager.CreateNode("Child");
        child->SetNodeAttribute(manager.CreateNull());
        parent->AddChild(child);
        parent->GetDefaultTakeNode();  // one made, one not
        EXPECT_TRUE(child->IsDefaultTakeDeferred());
        EXPECT_TRUE(manager.DestroyNode(parent, recursive));
        if (!recursive) {
            EXPECT_TRUE(manager.DestroyNode(child, false));
        }
        EXPECT_EQ(manager.GetUserPropertyCount(), records);
        EXPECT_EQ(manager.GetNodeCount(), 0);
    }
}

}  // namespace

// Each allocation of making the take refused in turn: the node still has a take to hand out
// (refused at once, the take was left neither deferred nor made, and read as null), and the
// channels made before the refusal go again (they were left unowned).
TEST(KQovNodeDeferredTake, ATakeThatCannotBeMadeIsNeverNull) {
    long n = 0;
    for (;; ++n) {
        SCOPED_TRACE("allocation " + std::to_string(n));
        KQovObjectManager manager;
        KQovNode* node = manager.CreateNode("Probe");
        gThrowIn = n;
        try {
            node->GetDefaultTakeNode();
        } catch (const std::bad_alloc&) {
        }
        const bool done = gThrowIn.exchange(-1) >= 0;
        EXPECT_NE(node->GetDefaultTakeNode(), nullptr);
        EXPECT_NE(node->GetTakeNode(0), nullptr);
        if (done) break;
    }
    EXPECT_GT(n, 0);
#if defined(__SANITIZE_ADDRESS__)
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
#endif
}

// Each allocation of making a node refused in turn: what the construction had made goes with
// it (its properties too), and the manager makes nodes again afterwards.
TEST(KQovNodeDeferredTake, ANodeRefusedPartWayLeavesNothingBehind) {
    long n = 0;
    for (;; ++n) {
        SCOPED_TRACE("allocation " + std::to_string(n));
        KQovObjectManager manager;
        const int nodes = manager.GetNodeCount();
        gThrowIn = n;
        KQovNode* node = nullptr;
        try {
            node = manager.CreateNode("Probe");
        } catch (const std::bad_alloc&) {
        }
        const bool done = gThrowIn.exchange(-1) >= 0;
        EXPECT_EQ(manager.GetNodeCount(), nodes + (node ? 1 : 0));
        EXPECT_NE(manager.CreateNode("Again"), nullptr);
        if (done) break;
    }
    EXPECT_GT(n, 2);
#if defined(__SANITIZE_ADDRESS__)
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
#endif
}

// The same for the channels an attribute adds to a take already made.
TEST(KQovNodeDeferredTake, AnAttributeRefusedPartWayLeavesNoChannelBehind) {
    for (long n = 0;; ++n) {
        SCOPED_TRACE("allocation " + std::to_string(n));
        KQovObjectManager manager;
        KQovNode* node = manager.CreateNode("Probe");
        ASSERT_NE(node->GetDefaultTakeNode(), nullptr);
        KQovCamera* camera = manager.CreateCamera();
        gThrowIn = n;
        try {
            node->SetNodeAttribute(camera);
        } catch (const std::bad_alloc&) {
        }
        if (gThrowIn.exchange(-1) >= 0) break;
    }
#if defined(__SANITIZE_ADDRESS__)
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
#endif
}

// A scene whose nodes never made their takes (its camera switcher's among them) goes with its
// manager while every allocation is refused: detaching an attribute makes no take.
TEST(KQovNodeDeferredTake, AManagerGoesOutOfMemoryWithTakesUnmade) {
    auto manager = std::make_unique<KQovObjectManager>();
    KQovScene* scene = manager->CreateScene();
    KQovNode* node = manager->CreateNode("Probe");
    node->SetNodeAttribute(manager->CreateNull());
    scene->GetRootNode()->AddChild(node);
    gRefuseAll = true;
    manager.reset();
    gRefuseAll = false;
}
