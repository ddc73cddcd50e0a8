#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "attributes/KQovNull.h"
#include "common/RemovalOrders.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"
#include "scene/KQovUserProperty.h"

namespace {

// The manager's lists as a caller sees them must match a plain vector that erases at once.
void ExpectListed(KQovObjectManager& manager, const std::vector<KQovNode*>& model, int baseRecords,
                  int perNode) {
    ASSERT_EQ(manager.GetNodeCount(), int(model.size()));
    for (size_t i = 0; i < model.size(); ++i) ASSERT_EQ(manager.GetNode(int(i)), model[i]) << i;
    EXPECT_EQ(manager.GetNode(int(model.size())), nullptr);
    EXPECT_EQ(manager.GetUserPropertyCount(), baseRecords + int(model.size()) * perNode);
}

// Nodes destroyed one at a time in any order, new ones made meanwhile: the list keeps its
// order, lookups skip what went, and the records go with their nodes.
TEST(KQovObjectManagerSlots, OneAtATimeKeepsTheListAsErasing) {
    for (Order order : {eForward, eBackward, eShuffled, eEndsInTurn}) {
        for (bool recursive : {false, true}) {
            SCOPED_TRACE(std::to_string(int(order)) + (recursive ? " recursive" : ""));
            KQovObjectManager manager;
            const int baseRecords = manager.GetUserPropertyCount();
            std::vector<KQovNode*> model;
            for (int i = 0; i < 60; ++i)
                model.push_back(manager.CreateNode(("N" + std::to_string(i)).c_str()));
            const int perNode = model[0]->GetUserPropertyCount();
            ASSERT_GT(perNode, 0);
            std::vector<KQovNode*> doomed;
            for (size_t at : Positions(order, model.size())) doomed.push_back(model[at]);
            int made = 0;
            for (size_t k = 0; k < doomed.size(); ++k) {
                ASSERT_TRUE(manager.DestroyNode(doomed[k], recursive));
                model.erase(std::find(model.begin(), model.end(), doomed[k]));
                EXPECT_FALSE(manager.DestroyNode(doomed[k], recursive));
                if (k % 7 == 3) {
                    const std::string name = "M" + std::to_string(made++);
                    model.push_back(manager.CreateNode(name.c_str()));
                    EXPECT_EQ(manager.FindNode(name.c_str()), model.back());
                }
                ExpectListed(manager, model, baseRecords, perNode);
            }
            EXPECT_EQ(manager.FindNode("N0"), nullptr);
            EXPECT_EQ(manager.FindNode("M0"), model.front());
        }
    }
}

// Attributes and records a caller destroys between node destroys are found wherever they are.
TEST(KQovObjectManagerSlots, AttributesAndRecordsBetweenNodes) {
    KQovObjectManager manager;
    std::vector<KQovNode*> nodes;
    for (int i = 0; i < 40; ++i) {
        nodes.push_back(manager.CreateNode(("N" + std::to_string(i)).c_str()));
        nodes.back()->SetNodeAttribute(manager.CreateNull());
    }
    KQovUserProperty* mine = manager.CreateUserProperty("Weight", "Real", "Weight");
    nodes[5]->AddUserProperty(mine);
    const int records = manager.GetUserPropertyCount();
    const int perNode = nodes[0]->GetUserPropertyCount();
    for (int i = 39; i >= 20; --i) ASSERT_TRUE(manager.DestroyNode(nodes[size_t(i)], true));
    // Non-recursive: the attribute stays listed and the caller destroys it.
    KQovNodeAttribute* kept = nodes[3]->GetNodeAttribute();
    ASSERT_TRUE(manager.DestroyNode(nodes[3], false));
    EXPECT_TRUE(manager.DestroyNodeAttribute(kept));
    EXPECT_FALSE(manager.DestroyNodeAttribute(kept));
    ASSERT_TRUE(manager.DestroyNode(nodes[5], true));
    EXPECT_EQ(manager.GetUserPropertyCount(), records - 22 * perNode);
    EXPECT_EQ(manager.FindUserProperty("Weight"), mine);
    EXPECT_EQ(mine->GetOwner(), nullptr);
    EXPECT_TRUE(manager.DestroyUserProperty(mine));
    EXPECT_EQ(manager.FindUserProperty("Weight"), nullptr);
    EXPECT_FALSE(manager.DestroyUserProperty(mine));
}

// 10,000 nodes destroyed one at a time or by one recursive destroy must take time
// linear in their number: a quadratic path would take minutes here. (The tree stays out of
// the scene, and the lone children go last first, so no other list's search is timed.)
TEST(KQovObjectManagerSlots, ManyNodesGoInLinearTime) {
    constexpr int kGroups = 50;
    constexpr int kLeaves = 200;
    enum Way { eOneAtATimeLastFirst, eRecursive };
    for (Way way : {eOneAtATimeLastFirst, eRecursive}) {
        SCOPED_TRACE(int(way));
        KQovObjectManager manager;
        const int nodes = manager.GetNodeCount();
        const int records = manager.GetUserPropertyCount();
        KQovNode* top = manager.CreateNode("Top");
        std::vector<KQovNode*> made;
        for (int g = 0; g < kGroups; ++g) {
            KQovNode* group = top;
            if (way == eRecursive) {
                group = manager.CreateNode(("G" + std::to_string(g)).c_str());
                ASSERT_TRUE(top->AddChild(group));
            }
            for (int i = 0; i < kLeaves; ++i) {
                made.push_back(manager.CreateNode(("L" + std::to_string(i)).c_str()));
                ASSERT_TRUE(group->AddChild(made.back()));
            }
        }
        if (way == eOneAtATimeLastFirst) {
            for (size_t i = made.size(); i-- > 0;)
                ASSERT_TRUE(manager.DestroyNode(made[i], i % 2 == 0));
            EXPECT_EQ(top->GetChildCount(), 0);
            ASSERT_TRUE(manager.DestroyNode(top, false));
        } else {
            ASSERT_TRUE(manager.DestroyNode(top, true));
        }
        EXPECT_EQ(manager.GetNodeCount(), nodes);
        EXPECT_EQ(manager.GetUserPropertyCount(), records);
    }
}

// A wide parent destroyed with its children, some of them another manager's at various places:
// those are left (and reported), every other child goes, none is tried twice.
TEST(KQovObjectManagerSlots, WideParentWithForeignChildren) {
    struct Row {
        std::vector<int> foreignAt;  // positions among the children
    };
    const Row rows[] = {{{}}, {{0}}, {{5}}, {{9}}, {{0, 1, 9}}, {{2, 4, 6, 8}}};
    for (const Row& row : rows) {
        KQovObjectManager manager, other;
        KQovNode* top = manager.CreateNode("Top");
        std::vector<KQovNode*> foreign;
        for (int i = 0; i < 10; ++i) {
            const bool theirs =
                std::find(row.foreignAt.begin(), row.foreignAt.end(), i) != row.foreignAt.end();
            KQovNode* child = (theirs ? other : manager).CreateNode(("C" + std::to_string(i)).c_str());
            if (theirs) foreign.push_back(child);
            ASSERT_TRUE(top->AddChild(child));
            // A grandchild under every child of ours.
            if (!theirs) {
                ASSERT_TRUE(child->AddChild(manager.CreateNode("G")));
            }
        }
        EXPECT_EQ(manager.DestroyNode(top, true), row.foreignAt.empty());
        EXPECT_EQ(manager.GetNodeCount(), 0);
        EXPECT_EQ(other.GetNodeCount(), int(foreign.size()));
        for (KQovNode* node : foreign) {
            EXPECT_EQ(node->GetParent(), nullptr);
            EXPECT_TRUE(other.DestroyNode(node, true));
        }
    }
}

}  // namespace
